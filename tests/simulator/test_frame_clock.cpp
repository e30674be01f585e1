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
