#include "frame_clock.h"

#include <chrono>

namespace orvane_sim {

std::int64_t monotonicNowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void FrameClock::start(std::int64_t nowNs) {
  started_ = true;
  capturing_ = true;
  startNs_ = nowNs;
  dueAtStop_ = 0;
  next_ = 0;
  overflowed_ = 0;
}

void FrameClock::stop(std::int64_t nowNs) {
  if (!capturing_) {
    return;
  }
  // A stop time earlier than a poll already answered must not take back
  // frames the host has seen.
  const std::uint64_t due = dueBy(nowNs);
  dueAtStop_ = due > next_ ? due : next_;
  capturing_ = false;
}

void FrameClock::reset() { *this = FrameClock(); }

std::uint64_t FrameClock::dueBy(std::int64_t nowNs) const {
  if (!started_) {
    return 0;
  }
  if (!capturing_) {
    return dueAtStop_;
  }
  if (nowNs <= startNs_) {
    return 0;
  }
  return static_cast<std::uint64_t>((nowNs - startNs_) / kFramePeriodNs);
}

std::optional<std::uint64_t> FrameClock::take(std::int64_t nowNs) {
  const std::uint64_t due = dueBy(nowNs);
  if (due > next_ && due - next_ > kBacklogLimit) {
    overflowed_ += due - kBacklogLimit - next_;
    next_ = due - kBacklogLimit;
  }
  if (next_ >= due) {
    return std::nullopt;
  }
  return next_++;
}

}  // namespace orvane_sim
