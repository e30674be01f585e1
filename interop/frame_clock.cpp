#include "frame_clock.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

namespace orvane_sim {

std::int64_t monotonicNowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Each frame's time is worked out afresh from its number rather than added
// up period by period, so rounding never accumulates over a long run; and a
// period of 13.5 ns times a whole or half number is exact in long double.
FrameClock::FrameClock(const Schedule& schedule)
    : schedule_(schedule),
      periodNs_(static_cast<long double>(kFramePeriodNs) / 1'000'000 *
                (1'000'000 - static_cast<long double>(schedule.clockPpm))) {}

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

void FrameClock::reset() { *this = FrameClock(schedule_); }

std::int64_t FrameClock::offsetOf(std::uint64_t frames) const {
  const long double offset = std::ceil(static_cast<long double>(frames) * periodNs_);
  constexpr auto kLatest = std::numeric_limits<std::int64_t>::max();
  return offset >= static_cast<long double>(kLatest) ? kLatest : static_cast<std::int64_t>(offset);
}

std::int64_t FrameClock::dueAt(std::uint64_t frame) const {
  const std::int64_t offset = offsetOf(frame + 1);
  return offset > std::numeric_limits<std::int64_t>::max() - startNs_
             ? std::numeric_limits<std::int64_t>::max()
             : startNs_ + offset;
}

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
  const std::int64_t elapsed = nowNs - startNs_;
  auto due = static_cast<std::uint64_t>(static_cast<long double>(elapsed) / periodNs_);
  // The quotient may round across a frame's edge; the edges themselves, the
  // same ones dueAt reports, have the last word.
  while (offsetOf(due + 1) <= elapsed) {
    ++due;
  }
  while (due > 0 && offsetOf(due) > elapsed) {
    --due;
  }
  return due;
}

bool FrameClock::lost(std::uint64_t frame) const {
  const auto& outage = schedule_.outage;
  return outage && frame >= outage->firstFrame && frame - outage->firstFrame < outage->frameCount;
}

std::uint64_t FrameClock::outageEnd() const {
  const auto& outage = schedule_.outage;
  if (!outage) {
    return 0;
  }
  return outage->frameCount > std::numeric_limits<std::uint64_t>::max() - outage->firstFrame
             ? std::numeric_limits<std::uint64_t>::max()
             : outage->firstFrame + outage->frameCount;
}

std::uint64_t FrameClock::held(std::uint64_t from, std::uint64_t to) const {
  if (to <= from) {
    return 0;
  }
  std::uint64_t count = to - from;
  if (schedule_.outage) {
    const std::uint64_t gapFrom = std::max(from, schedule_.outage->firstFrame);
    const std::uint64_t gapTo = std::min(to, outageEnd());
    if (gapTo > gapFrom) {
      count -= gapTo - gapFrom;
    }
  }
  return count;
}

// Counted down from the newest: frames after the outage first, then those
// before it. Only called when more than the backlog is held, so the count
// always ends above next_.
std::uint64_t FrameClock::oldestKept(std::uint64_t due) const {
  std::uint64_t keep = schedule_.backlog;
  if (schedule_.outage && outageEnd() < due) {
    const std::uint64_t after = due - outageEnd();
    if (after >= keep) {
      return due - keep;
    }
    return schedule_.outage->firstFrame - (keep - after);
  }
  const std::uint64_t top = schedule_.outage ? std::min(schedule_.outage->firstFrame, due) : due;
  return top - keep;
}

std::uint64_t FrameClock::settle(std::int64_t nowNs) {
  const std::uint64_t due = dueBy(nowNs);
  if (held(next_, due) > schedule_.backlog) {
    const std::uint64_t kept = oldestKept(due);
    overflowed_ += held(next_, kept);
    next_ = kept;
  }
  // Never past what is due, so a stop inside the outage keeps only the
  // frames that fell due.
  if (next_ < due && lost(next_)) {
    next_ = std::min(outageEnd(), due);
  }
  return next_;
}

std::optional<std::uint64_t> FrameClock::take(std::int64_t nowNs) {
  const std::uint64_t frame = settle(nowNs);
  if (frame >= dueBy(nowNs)) {
    return std::nullopt;
  }
  next_ = frame + 1;
  return frame;
}

}  // namespace orvane_sim
