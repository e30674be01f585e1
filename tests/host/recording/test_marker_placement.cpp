// Where a marker lands on the stream's time line, from the moment it was
// received and the device's lag behind the stream's start.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "base/frame_period.h"
#include "recording/marker_placement.h"

using namespace bvhost;

namespace {

using Clock = MarkerPlacement::Clock;

const Clock::time_point kStart = Clock::now();

Clock::time_point at(double seconds) {
  return kStart +
         std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

std::vector<Marker> markers(std::initializer_list<std::pair<const char*, double>> list) {
  std::vector<Marker> made;
  for (const auto& [text, seconds] : list) {
    made.push_back({text, at(seconds)});
  }
  return made;
}

std::vector<std::string> textsOf(const std::vector<Annotation>& annotations) {
  std::vector<std::string> texts;
  for (const auto& annotation : annotations) {
    texts.push_back(annotation.text);
  }
  return texts;
}

}  // namespace

// The device's lag comes off: a marker received half-way through the
// capture of frame 40 lands half-way into frame 40, an instant.
TEST(MarkerPlacement, AMarkerLandsOnTheFrameCapturedWhenItCame) {
  MarkerPlacement placement(kStart);
  const double lag = 0.2;
  auto taken = markers({{"stim on", lag + 40.5 * kFramePeriodSeconds}});
  placement.add(taken);
  EXPECT_TRUE(taken.empty());
  // Frame 40 has not reached the sinks yet: the marker waits for it.
  constexpr auto kSettled = MarkerPlacement::kLagSightings;
  EXPECT_TRUE(placement.due(lag, kSettled, 40 * kFramePeriodSeconds, at(1.0)).empty());
  // Nor while the lag, seen only a few times, may still be a frame off.
  EXPECT_TRUE(placement.due(lag, kSettled - 1, 41 * kFramePeriodSeconds, at(1.0)).empty());
  const auto due = placement.due(lag, kSettled, 41 * kFramePeriodSeconds, at(1.0));
  ASSERT_EQ(due.size(), 1u);
  EXPECT_NEAR(due[0].onsetSeconds, 40.5 * kFramePeriodSeconds, 1e-9);
  EXPECT_LT(due[0].durationSeconds, 0.0);
  EXPECT_EQ(due[0].text, "stim on");
  EXPECT_FALSE(due[0].open);
  EXPECT_TRUE(placement.empty());
  // Before the device's first frame the onset is that frame's start.
  EXPECT_EQ(placement.onsetOf(at(0.1), lag), 0.0);
}

// Nothing goes before the lag is known; then in the order received, however
// they were handed over; and none waits longer than its limit, even while
// the lag is not yet trusted.
TEST(MarkerPlacement, MarkersGoInOrderOnceTheirFramesOrTheirTimeHaveCome) {
  constexpr auto kSettled = MarkerPlacement::kLagSightings;
  MarkerPlacement placement(kStart);
  auto first = markers({{"b", 1.0}, {"c", 2.0}});
  auto second = markers({{"a", 0.5}, {"d", 3.0}, {"e", 3.5}});
  placement.add(first);
  placement.add(second);
  EXPECT_TRUE(placement.due(std::nullopt, 0, 100.0, at(10.0)).empty());
  EXPECT_EQ(placement.waiting(), 5u);
  EXPECT_THAT(textsOf(placement.due(0.0, kSettled, 1.5, at(2.5))),
              ::testing::ElementsAre("a", "b"));
  // The frames have stalled at 1.5 s: "c" goes once it has waited its limit.
  const Clock::time_point limit = at(2.0) + MarkerPlacement::kLongestWait;
  EXPECT_TRUE(placement.due(0.0, kSettled, 1.5, limit - std::chrono::milliseconds(1)).empty());
  EXPECT_THAT(textsOf(placement.due(0.0, kSettled, 1.5, limit)), ::testing::ElementsAre("c"));
  EXPECT_THAT(textsOf(placement.due(0.0, 1, 10.0, at(4.0))), ::testing::ElementsAre("d"));
  EXPECT_EQ(placement.waiting(), 1u);
}

// At the end every marker goes, none past the end of the frames, where a
// reader would drop it.
TEST(MarkerPlacement, TheRestGoAtTheEndAndNonePastIt) {
  MarkerPlacement placement(kStart);
  auto taken = markers({{"inside", 0.95}, {"after the last frame", 1.2}});
  placement.add(taken);
  const auto rest = placement.rest(0.05, 1.0);
  ASSERT_EQ(rest.size(), 2u);
  EXPECT_NEAR(rest[0].onsetSeconds, 0.9, 1e-9);
  EXPECT_EQ(rest[1].onsetSeconds, 1.0);
  EXPECT_TRUE(placement.empty());
}
