// The frame schedule against times the test chooses, so the edges are exact.
#include <gtest/gtest.h>

#include <optional>

#include "frame_clock.h"

namespace orvane_sim {
namespace {

constexpr std::int64_t P = kFramePeriodNs;
constexpr std::int64_t kStart = 1'000'000'000;

std::vector<std::uint64_t> takeAll(FrameClock& clock, std::int64_t now) {
  std::vector<std::uint64_t> taken;
  while (auto frame = clock.take(now)) {
    taken.push_back(*frame);
  }
  return taken;
}

TEST(FrameClock, FrameKFallsDueExactlyAtStartPlusKPlusOnePeriods) {
  FrameClock clock;
  EXPECT_EQ(clock.take(kStart), std::nullopt) << "before any start";
  clock.start(kStart);
  EXPECT_EQ(clock.take(kStart), std::nullopt);
  EXPECT_EQ(clock.take(kStart + P - 1), std::nullopt);
  EXPECT_EQ(clock.take(kStart + P), 0u);
  EXPECT_EQ(clock.take(kStart + P), std::nullopt);
  EXPECT_EQ(takeAll(clock, kStart + 4 * P - 1), (std::vector<std::uint64_t>{1, 2}));
  // The schedule is absolute: a late poll does not push later frames back.
  EXPECT_EQ(takeAll(clock, kStart + 1000 * P).size(), 997u);
  EXPECT_EQ(clock.take(kStart + 1001 * P), 1000u);
  EXPECT_EQ(clock.take(kStart + 1001 * P), std::nullopt);
}

TEST(FrameClock, StopKeepsWhatWasDueAndNothingAfter) {
  FrameClock clock;
  clock.start(kStart);
  EXPECT_EQ(clock.take(kStart + 2 * P), 0u);
  clock.stop(kStart + 5 * P + P / 2);
  EXPECT_FALSE(clock.capturing());
  EXPECT_EQ(takeAll(clock, kStart + 100 * P), (std::vector<std::uint64_t>{1, 2, 3, 4}));
  clock.stop(kStart + 200 * P);  // a second stop changes nothing
  EXPECT_EQ(clock.take(kStart + 300 * P), std::nullopt);
}

TEST(FrameClock, StopDatedBeforeAnAnsweredPollKeepsWhatWasHandedOut) {
  FrameClock clock;
  clock.start(kStart);
  EXPECT_EQ(takeAll(clock, kStart + 3 * P).size(), 3u);
  clock.stop(kStart + P);
  EXPECT_EQ(clock.dueBy(kStart + 10 * P), 3u);
  EXPECT_EQ(clock.take(kStart + 10 * P), std::nullopt);
}

TEST(FrameClock, BacklogBeyondTheLimitLosesTheOldestFrames) {
  FrameClock clock;
  clock.start(kStart);
  const auto limit = static_cast<std::int64_t>(kBacklogLimit);
  EXPECT_EQ(clock.take(kStart + limit * P), 0u) << "a full backlog loses nothing";
  EXPECT_EQ(clock.overflowed(), 0u);

  clock.start(kStart);
  EXPECT_EQ(clock.take(kStart + (limit + 10) * P), 10u);
  EXPECT_EQ(clock.overflowed(), 10u);
  const auto rest = takeAll(clock, kStart + (limit + 10) * P);
  ASSERT_EQ(rest.size(), kBacklogLimit - 1);
  EXPECT_EQ(rest.back(), kBacklogLimit + 9);
}

TEST(FrameClock, StartingAgainForgetsTheLastCapture) {
  FrameClock clock;
  clock.start(kStart);
  clock.stop(kStart + 10 * P);
  EXPECT_EQ(clock.take(kStart + 10 * P), 0u);
  clock.start(kStart + 20 * P);
  EXPECT_EQ(clock.overflowed(), 0u);
  EXPECT_EQ(clock.take(kStart + 20 * P), std::nullopt);
  EXPECT_EQ(clock.take(kStart + 21 * P), 0u);
}

}  // namespace
}  // namespace orvane_sim

namespace orvane_sim {
namespace {

std::vector<std::uint64_t> span(std::uint64_t from, std::uint64_t to) {
  std::vector<std::uint64_t> frames;
  for (auto k = from; k < to; ++k) {
    frames.push_back(k);
  }
  return frames;
}

std::vector<std::uint64_t> joined(std::vector<std::uint64_t> a,
                                  const std::vector<std::uint64_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(FrameClockOutage, LostFramesNeverComeAndTheNextComesAtItsOwnTime) {
  FrameClock clock(Schedule{Outage{5, 3}});
  clock.start(kStart);
  EXPECT_EQ(takeAll(clock, clock.dueAt(4)), span(0, 5));
  for (std::uint64_t k = 5; k < 8; ++k) {
    EXPECT_EQ(clock.take(clock.dueAt(k)), std::nullopt) << "frame " << k;
  }
  EXPECT_EQ(clock.take(clock.dueAt(8) - 1), std::nullopt);
  EXPECT_EQ(clock.take(clock.dueAt(8)), 8u);
  EXPECT_EQ(clock.dueAt(8), kStart + 9 * P) << "the outage moves no frame's time";

  // A host that polls late across the outage, in a later capture too.
  clock.start(kStart);
  EXPECT_EQ(takeAll(clock, kStart + 20 * P), joined(span(0, 5), span(8, 20)));
  EXPECT_EQ(clock.overflowed(), 0u);
}

TEST(FrameClockOutage, OneRunningPastTheEndSilencesTheRestWithoutInflatingTheCount) {
  for (std::uint64_t count : {std::uint64_t{1'000'000}, ~std::uint64_t{0}}) {
    FrameClock clock(Schedule{Outage{2, count}});
    clock.start(kStart);
    EXPECT_EQ(takeAll(clock, kStart + 100 * P), span(0, 2)) << count;
    EXPECT_EQ(clock.dueBy(kStart + 100 * P), 100u);
    clock.stop(kStart + 100 * P);
    // What the battery drains by: the frames that fell due, not the outage's end.
    EXPECT_EQ(clock.dueBy(kStart + 200 * P), 100u) << count;
    EXPECT_EQ(clock.take(kStart + 200 * P), std::nullopt);
  }
}

TEST(FrameClockBacklog, KeepsTheNewestFramesThatReachedTheStation) {
  FrameClock small(Schedule{{}, 74});
  small.start(kStart);
  EXPECT_EQ(takeAll(small, kStart + 74 * P), span(0, 74)) << "a full backlog loses nothing";
  EXPECT_EQ(takeAll(small, kStart + 300 * P), span(226, 300));
  EXPECT_EQ(small.overflowed(), 226u - 74u);

  // Frames of an outage never took room in the backlog, so they are neither
  // kept nor counted as overflow.
  const Schedule withOutage{Outage{20, 30}, 10};
  FrameClock afterOutage(withOutage);
  afterOutage.start(kStart);
  EXPECT_EQ(takeAll(afterOutage, kStart + 60 * P), span(50, 60));
  EXPECT_EQ(afterOutage.overflowed(), 20u);
  FrameClock acrossOutage(withOutage);
  acrossOutage.start(kStart);
  EXPECT_EQ(takeAll(acrossOutage, kStart + 55 * P), joined(span(15, 20), span(50, 55)));
  EXPECT_EQ(acrossOutage.overflowed(), 15u);
}

// Frame k is due (k + 1) × 13.5 ms × (1 - ppm / 1e6) after the start, to the
// nanosecond rounded up, however far into the run (frame 266,666 ends the
// first hour, 266,666,666 the first six weeks): worked out here in whole
// numbers, as 27 × (2e6 - 2 ppm) / 4 nanoseconds a period.
TEST(FrameClockRate, ClockErrorScalesEveryFrameTimeWithoutDrift) {
  for (double ppm : {0.0, 100.0, -100.0, 2.5, -10'000.0}) {
    FrameClock clock(Schedule{{}, kBacklogLimit, ppm});
    clock.start(kStart);
    const auto quarterPeriod = 27 * static_cast<std::int64_t>(2'000'000 - 2 * ppm);
    for (std::uint64_t k : {0ull, 1ull, 73ull, 266'666ull, 266'666'666ull}) {
      SCOPED_TRACE(testing::Message() << ppm << " ppm, frame " << k);
      const auto n = static_cast<std::int64_t>(k + 1);
      const std::int64_t due = kStart + (n * quarterPeriod + 3) / 4;
      EXPECT_EQ(clock.dueAt(k), due);
      EXPECT_EQ(clock.dueBy(due - 1), k);
      EXPECT_EQ(clock.dueBy(due), k + 1);
    }
  }
  // A period no binary fraction holds: the quotient of the frame's own time
  // by the period rounds up to k + 1 a nanosecond early at this frame, yet
  // the edges must agree with dueAt.
  FrameClock inexact(Schedule{{}, kBacklogLimit, 3333.3333});
  inexact.start(kStart);
  const std::uint64_t k = 18'111'110;
  EXPECT_EQ(inexact.dueBy(inexact.dueAt(k) - 1), k);
  EXPECT_EQ(inexact.dueBy(inexact.dueAt(k)), k + 1);
}

}  // namespace
}  // namespace orvane_sim
