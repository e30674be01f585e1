// When record reads next: at the end of the window in which the next frame
// falls due, never longer than a frame period away, never at once.
#include <gtest/gtest.h>

#include "recording/read_pacing.h"

using namespace bvhost;
using namespace std::chrono_literals;
using Clock = ReadPacing::Clock;

namespace {

constexpr auto kPeriod = ReadPacing::kFramePeriod;
constexpr auto kPoll = ReadPacing::kPollInterval;
const Clock::time_point kT0{std::chrono::seconds(100)};

// Reads that take `duration`, starting at `at`.
void read(ReadPacing& pacing, Clock::time_point at, bool delivered,
          Clock::duration duration = 50us) {
  pacing.noteRead(at, at + duration, delivered);
}

}  // namespace

TEST(ReadPacing, PollsUntilAFrameFollowsAnEmptyRead) {
  ReadPacing pacing;
  EXPECT_EQ(pacing.nextRead(kT0), kT0 + kPoll);
  read(pacing, kT0, false);
  EXPECT_EQ(pacing.nextRead(kT0 + 50us), kT0 + 50us + kPoll);
}

TEST(ReadPacing, ReadsAtTheEndOfTheNextFramesWindow) {
  ReadPacing pacing;
  read(pacing, kT0, false);
  read(pacing, kT0 + 1ms, true);  // fell due in (kT0, kT0 + 1.05 ms]
  read(pacing, kT0 + 1100us, false);
  EXPECT_EQ(pacing.nextRead(kT0 + 1150us), kT0 + 1050us + kPeriod);
}

// Read at the window's end, each frame keeps the window where it was: one
// wake-up a frame, with the latency the first window allowed.
TEST(ReadPacing, TheWindowHoldsFrameAfterFrame) {
  ReadPacing pacing;
  read(pacing, kT0, false);
  read(pacing, kT0 + 1ms, true);
  auto wake = kT0 + 1050us + kPeriod;
  for (int frame = 0; frame < 100; ++frame) {
    read(pacing, kT0 + 1100us + frame * kPeriod, false);
    const auto now = kT0 + 1150us + frame * kPeriod;
    ASSERT_EQ(pacing.nextRead(now), wake) << frame;
    const auto late = wake + 80us;  // the timer wakes a little late
    read(pacing, late, true, 300us);
    wake += kPeriod;
  }
}

TEST(ReadPacing, ALateFrameSendsItBackToPolling) {
  ReadPacing pacing;
  read(pacing, kT0, false);
  read(pacing, kT0 + 1ms, true);
  const auto windowEnd = kT0 + 1050us + kPeriod;
  read(pacing, windowEnd + 10us, false);
  EXPECT_EQ(pacing.nextRead(windowEnd + 60us), windowEnd + 60us + kPoll);
}

// A frame read straight after another may have waited long; it says nothing
// about when the next one falls due.
TEST(ReadPacing, AFrameFromABacklogPinsNothing) {
  ReadPacing pacing;
  read(pacing, kT0, false);
  read(pacing, kT0 + 1ms, true);
  read(pacing, kT0 + 1100us, true);
  read(pacing, kT0 + 1200us, false);
  EXPECT_EQ(pacing.nextRead(kT0 + 1250us), kT0 + 1250us + kPoll);
}

TEST(ReadPacing, NeverWaitsLongerThanAPeriod) {
  ReadPacing pacing;
  read(pacing, kT0 + 1h, false);
  read(pacing, kT0 + 1h + 1ms, true);  // a clock that has since jumped back
  read(pacing, kT0, false);
  EXPECT_EQ(pacing.nextRead(kT0), kT0 + kPeriod);
}
