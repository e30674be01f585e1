// When record reads next: close behind the device's rhythm, never longer
// than a frame period away, never at once.
#include <gtest/gtest.h>

#include "read_pacing.h"

using namespace bvhost;
using namespace std::chrono_literals;
using Clock = ReadPacing::Clock;

namespace {

const Clock::time_point kT0{std::chrono::seconds(100)};

}  // namespace

TEST(ReadPacing, PollsBrieflyUntilAFrameShowsTheRhythm) {
  ReadPacing pacing;
  EXPECT_EQ(pacing.nextRead(kT0), kT0 + ReadPacing::kPollInterval);
  pacing.noteRead(kT0, false);
  EXPECT_EQ(pacing.nextRead(kT0), kT0 + ReadPacing::kPollInterval);
}

TEST(ReadPacing, SleepsUntilShortlyBeforeTheNextFrameIsDue) {
  ReadPacing pacing;
  pacing.noteRead(kT0, false);
  pacing.noteRead(kT0 + 1ms, true);
  pacing.noteRead(kT0 + 1100us, false);
  EXPECT_EQ(pacing.nextRead(kT0 + 1200us),
            kT0 + 1ms + ReadPacing::kFramePeriod - ReadPacing::kWakeEarly);
}

TEST(ReadPacing, PollsBrieflyOnceTheFrameIsAsGoodAsDue) {
  ReadPacing pacing;
  pacing.noteRead(kT0, false);
  pacing.noteRead(kT0 + 1ms, true);
  const auto late = kT0 + 1ms + ReadPacing::kFramePeriod;
  pacing.noteRead(late, false);
  EXPECT_EQ(pacing.nextRead(late), late + ReadPacing::kPollInterval);
}

// A frame read straight after another may have waited long; it says nothing
// about when the next one falls due.
TEST(ReadPacing, AFrameFromABacklogMarksNoRhythm) {
  ReadPacing pacing;
  pacing.noteRead(kT0, false);
  pacing.noteRead(kT0 + 1ms, true);
  pacing.noteRead(kT0 + 1010us, true);
  pacing.noteRead(kT0 + 1020us, false);
  EXPECT_EQ(pacing.nextRead(kT0 + 1020us), kT0 + 1020us + ReadPacing::kPollInterval);
}

TEST(ReadPacing, NeverWaitsLongerThanAPeriod) {
  ReadPacing pacing;
  pacing.noteRead(kT0, false);
  pacing.noteRead(kT0 + 1h, true);  // a clock that jumped back since
  EXPECT_EQ(pacing.nextRead(kT0), kT0 + ReadPacing::kFramePeriod);
}
