// When record reads next. Frames come one per period, so after one arrives
// the next is not due for almost a period: sleeping until shortly before
// then, and polling briefly from there, costs a couple of wake-ups a frame
// instead of one every few milliseconds.
#pragma once

#include <chrono>
#include <optional>

namespace bvhost {

class ReadPacing {
 public:
  using Clock = std::chrono::steady_clock;

  static constexpr auto kFramePeriod = std::chrono::microseconds(13500);
  // Waking this much before the expected frame lets the poll that follows
  // catch it within a poll interval even when the frame is a little early.
  static constexpr auto kWakeEarly = std::chrono::microseconds(500);
  static constexpr auto kPollInterval = std::chrono::milliseconds(1);

  // Call with the time just before each read and whether it delivered.
  void noteRead(Clock::time_point readAt, bool delivered);

  // After a read that delivered nothing at `now`: when to read again. Never
  // later than one period from now, so no frame waits longer than that, and
  // never `now` itself, so the loop never spins.
  Clock::time_point nextRead(Clock::time_point now) const;

 private:
  // When the last frame that followed an empty read arrived: it fell due
  // since that read, so it marks the device's rhythm. A frame read straight
  // after another may have waited long and marks nothing.
  std::optional<Clock::time_point> rhythm_;
  bool lastReadEmpty_ = true;
};

}  // namespace bvhost
