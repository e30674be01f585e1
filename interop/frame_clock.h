// When frames fall due, and which ones the host never gets. Times are
// nanoseconds on the monotonic clock, passed in by the caller so the schedule
// itself never reads a clock and never waits.
#pragma once

#include <cstdint>
#include <optional>

namespace orvane_sim {

inline constexpr std::int64_t kFramePeriodNs = 13'500'000;  // 13.5 ms

// The most frames a capture holds for a host that has stopped polling, about
// 7.4 minutes' worth, like the base station's own frame memory. Beyond it the
// oldest frames are dropped to make room for new ones.
inline constexpr std::uint64_t kBacklogLimit = 32'768;

// How far the station's crystal may be off, in parts per million either way.
inline constexpr double kMaxClockPpm = 10'000;

std::int64_t monotonicNowNs();

// A stretch of every capture in which the link to all sensors is down: the
// frames are due but never reach the station's memory.
struct Outage {
  std::uint64_t firstFrame = 0;
  std::uint64_t frameCount = 0;  // at least 1; may run past any capture's end
};

struct Schedule {
  std::optional<Outage> outage;
  std::uint64_t backlog = kBacklogLimit;  // 1 to kBacklogLimit
  double clockPpm = 0;                    // positive: the station runs fast
};

// Frame k of a capture falls due at start + (k + 1) periods of the station's
// clock. The schedule is absolute, so however irregularly the host polls the
// rate never drifts.
class FrameClock {
 public:
  explicit FrameClock(const Schedule& schedule = {});

  // Begins a new capture; frames of an earlier one that were never taken are
  // forgotten.
  void start(std::int64_t nowNs);
  // Ends the capture: frames due by now stay available, none after.
  void stop(std::int64_t nowNs);
  // Forgets every capture; the schedule stays.
  void reset();

  // Drops what the backlog cannot hold and passes over frames of the outage,
  // then returns the first frame neither handed out nor lost: every frame
  // below it has been one or the other. Due or not, it is not consumed.
  std::uint64_t settle(std::int64_t nowNs);
  // The index of the next frame if it is due by now, consuming it.
  std::optional<std::uint64_t> take(std::int64_t nowNs);

  bool capturing() const { return capturing_; }
  // Frames of the current or last capture that fell due by now, lost or not.
  std::uint64_t dueBy(std::int64_t nowNs) const;
  // The host time at which frame `frame` of the running capture falls due.
  std::int64_t dueAt(std::uint64_t frame) const;
  // Frames dropped from this capture because the backlog was full; frames of
  // the outage never reached it and are not among them.
  std::uint64_t overflowed() const { return overflowed_; }
  const Schedule& schedule() const { return schedule_; }

 private:
  // Nanoseconds from the start until `frames` frames have fallen due.
  std::int64_t offsetOf(std::uint64_t frames) const;
  bool lost(std::uint64_t frame) const;
  std::uint64_t outageEnd() const;
  // Frames of [from, to) that reached the station.
  std::uint64_t held(std::uint64_t from, std::uint64_t to) const;
  // The oldest frame the backlog keeps when `due` frames have fallen due.
  std::uint64_t oldestKept(std::uint64_t due) const;

  Schedule schedule_;
  long double periodNs_;
  bool started_ = false;
  bool capturing_ = false;
  std::int64_t startNs_ = 0;
  std::uint64_t dueAtStop_ = 0;
  std::uint64_t next_ = 0;
  std::uint64_t overflowed_ = 0;
};

}  // namespace orvane_sim
