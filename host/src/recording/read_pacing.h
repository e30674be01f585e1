// When record reads next. A device of this kind delivers a frame every
// period, so once one frame's arrival is pinned between a read that found
// nothing and the read that found it, every later frame falls due within the
// same window one period on: reading at the window's end catches each frame
// with one wake-up, where polling every few milliseconds costs several.
#pragma once

#include <chrono>
#include <optional>

#include "base/frame_period.h"

namespace bvhost {

class ReadPacing {
 public:
  using Clock = std::chrono::steady_clock;

  static constexpr auto kFramePeriod = bvhost::kFramePeriod;
  // Polling while no window is known; the interval bounds how wide a window
  // gets, and so the latency of every frame read by it.
  static constexpr auto kPollInterval = std::chrono::milliseconds(1);

  // Call after each read with the times just before and just after it and
  // whether it delivered a frame.
  void noteRead(Clock::time_point before, Clock::time_point after, bool delivered);

  // After a read that delivered nothing, at `now`: when to read again. The
  // end of the next frame's window, or a poll interval on while none is
  // known; never later than one period from now, so no frame waits longer
  // than that, and never `now` itself, so the loop never spins.
  Clock::time_point nextRead(Clock::time_point now) const;

 private:
  struct Window {
    Clock::time_point after;  // the next frame falls due later than this
    Clock::time_point by;     // and no later than this
  };

  // Unknown until a frame follows a read that found nothing: a frame read
  // straight after another may have waited long and pins nothing.
  std::optional<Window> next_;
  std::optional<Clock::time_point> lastEmptyRead_;  // since the last frame
};

}  // namespace bvhost
