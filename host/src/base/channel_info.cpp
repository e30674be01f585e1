#include "base/channel_info.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "base/frame_period.h"

namespace bvhost {

std::uint64_t samplesPerFrame(double rate) {
  if (!(rate > 0.0) || !std::isfinite(rate)) {
    return 0;
  }
  return static_cast<std::uint64_t>(std::llround(rate * kFramePeriodSeconds));
}

FrameRate frameRate(double rate) {
  const std::uint64_t perFrame = samplesPerFrame(rate);
  return {perFrame, static_cast<float>(static_cast<double>(perFrame) / kFramePeriodSeconds)};
}

bool FrameRate::matches(double reported) const {
  const float ulp = std::nextafter(rate, std::numeric_limits<float>::infinity()) - rate;
  return std::fabs(reported - rate) <= ulp;
}

std::string sensorLabel(std::size_t componentIndex) {
  return "S" + std::to_string(componentIndex + 1);
}

std::string shortLabel(const ChannelInfo& channel) {
  return sensorLabel(channel.componentIndex) + " " + channel.channel;
}

std::size_t sensorCount(const std::vector<ChannelInfo>& channels) {
  std::size_t sensors = 0;
  for (const auto& channel : channels) {
    sensors = std::max(sensors, channel.componentIndex + 1);
  }
  return sensors;
}

std::size_t sensorCount(const std::vector<ChannelInfo>& channels,
                        const std::vector<std::size_t>& among) {
  std::size_t sensors = 0;
  for (const std::size_t index : among) {
    sensors = std::max(sensors, channels[index].componentIndex + 1);
  }
  return sensors;
}

}  // namespace bvhost
