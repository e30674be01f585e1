#include "read_pacing.h"

#include <algorithm>

namespace bvhost {

void ReadPacing::noteRead(Clock::time_point readAt, bool delivered) {
  if (delivered) {
    if (lastReadEmpty_) {
      rhythm_ = readAt;
    } else {
      rhythm_.reset();
    }
  }
  lastReadEmpty_ = !delivered;
}

ReadPacing::Clock::time_point ReadPacing::nextRead(Clock::time_point now) const {
  const auto poll = now + kPollInterval;
  if (!rhythm_) {
    return poll;
  }
  const auto expected = *rhythm_ + kFramePeriod - kWakeEarly;
  return std::clamp(expected, poll, now + kFramePeriod);
}

}  // namespace bvhost
