#include "base/channel_info.h"

#include <cmath>

#include "base/frame_period.h"

namespace bvhost {

std::uint64_t samplesPerFrame(double rate) {
  if (!(rate > 0.0) || !std::isfinite(rate)) {
    return 0;
  }
  return static_cast<std::uint64_t>(std::llround(rate * kFramePeriodSeconds));
}

std::string shortLabel(const ChannelInfo& channel) {
  return "S" + std::to_string(channel.componentIndex + 1) + " " + channel.channel;
}

}  // namespace bvhost
