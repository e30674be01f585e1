#include "recording/frame_loss.h"

#include <cmath>

#include "base/frame_period.h"

namespace bvhost {

std::optional<double> FrameLossDetector::baseline() const {
  if (window_.empty()) {
    return std::nullopt;
  }
  return window_.front().frames;
}

bool FrameLossDetector::onTime(double elapsedSeconds, std::uint64_t frames) const {
  const auto expected = baseline();
  return !expected ||
         elapsedSeconds / kFramePeriodSeconds - static_cast<double>(frames) - *expected <=
             kToleranceFrames;
}

std::uint64_t FrameLossDetector::check(double elapsedSeconds, std::uint64_t frames,
                                       double toleranceFrames) {
  double lag = elapsedSeconds / kFramePeriodSeconds - static_cast<double>(frames);
  // After a long stall the window may hold nothing recent; its newest entry
  // still tells where the device stood before it.
  while (window_.size() > 1 && window_.front().at < elapsedSeconds - kBaselineSeconds) {
    window_.pop_front();
  }
  std::uint64_t lost = 0;
  if (const auto expected = baseline(); expected && lag - *expected > toleranceFrames) {
    lost = static_cast<std::uint64_t>(std::llround(lag - *expected));
    lag -= static_cast<double>(lost);
  }
  while (!window_.empty() && window_.back().frames >= lag) {
    window_.pop_back();
  }
  window_.push_back({elapsedSeconds, lag});
  return lost;
}

}  // namespace bvhost
