// When frames fall due. Times are nanoseconds on the monotonic clock, passed
// in by the caller so the schedule itself never reads a clock and never waits.
#pragma once

#include <cstdint>
#include <optional>

namespace orvane_sim {

inline constexpr std::int64_t kFramePeriodNs = 13'500'000;  // 13.5 ms

// The most frames a capture holds for a host that has stopped polling, about
// 7.4 minutes' worth, like the base station's own frame memory. Beyond it the
// oldest frames are dropped to make room for new ones.
inline constexpr std::uint64_t kBacklogLimit = 32'768;

std::int64_t monotonicNowNs();

// Frame k of a capture falls due at start + (k + 1) periods. The schedule is
// absolute, so however irregularly the host polls the rate never drifts.
class FrameClock {
 public:
  // Begins a new capture; frames of an earlier one that were never taken are
  // forgotten.
  void start(std::int64_t nowNs);
  // Ends the capture: frames due by now stay available, none after.
  void stop(std::int64_t nowNs);
  void reset();

  // The index of the next frame if it is due by now, consuming it.
  std::optional<std::uint64_t> take(std::int64_t nowNs);

  bool capturing() const { return capturing_; }
  // Frames of the current or last capture that fell due by now.
  std::uint64_t dueBy(std::int64_t nowNs) const;
  // Frames dropped from this capture because the backlog was full.
  std::uint64_t overflowed() const { return overflowed_; }

 private:
  bool started_ = false;
  bool capturing_ = false;
  std::int64_t startNs_ = 0;
  std::uint64_t dueAtStop_ = 0;
  std::uint64_t next_ = 0;
  std::uint64_t overflowed_ = 0;
};

}  // namespace orvane_sim
