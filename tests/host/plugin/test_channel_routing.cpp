// Routing callbacks to channels, and the layout read from a configuration.
#include <gtest/gtest.h>

#include "plugin/channel_layout.h"

using namespace bvhost;

namespace {

std::vector<ChannelInfo> twoComponents() {
  return {{0, "A", "EMG", 9, 1925.926, 26},
          {0, "A", "ACC X", 4, 148.15, 2},
          {1, "B", "EMG", 9, 1925.926, 26},
          {1, "B", "ACC X", 4, 148.15, 2}};
}

}  // namespace

TEST(ChannelRouting, FollowsInventoryOrderWhenNamesRepeatAcrossComponents) {
  const auto channels = twoComponents();
  ChannelRouter router(channels);
  router.beginRead();
  EXPECT_EQ(router.route("A", "EMG"), 0u);
  EXPECT_EQ(router.route("A", "ACC X"), 1u);
  EXPECT_EQ(router.route("B", "EMG"), 2u);
  EXPECT_EQ(router.route("B", "ACC X"), 3u);
  // A drain delivers frame after frame in one read call.
  EXPECT_EQ(router.route("A", "EMG"), 0u);
  EXPECT_EQ(router.frames(), 1u);
}

TEST(ChannelRouting, FindsAChannelOutOfOrderByNameAndRejectsUnknownOnes) {
  const auto channels = twoComponents();
  ChannelRouter router(channels);
  router.beginRead();
  EXPECT_EQ(router.route("B", "ACC X"), 3u);
  EXPECT_EQ(router.route("A", "EMG"), 0u);
  EXPECT_EQ(router.route("C", "EMG"), std::nullopt);
  EXPECT_EQ(router.route(nullptr, "EMG"), std::nullopt);
}

// A described name whose length takes in a NUL is not the C string that
// ends there, nor does a longer or shorter name match.
TEST(ChannelRouting, NamesMatchWholeAndNeverThroughANul) {
  const std::vector<ChannelInfo> channels = {{0, std::string("A\0B", 3), "EMG", 9, 1925.926, 26},
                                             {1, "B", "EMG", 9, 1925.926, 26}};
  ChannelRouter router(channels);
  router.beginRead();
  EXPECT_EQ(router.route("A", "EMG"), std::nullopt);
  EXPECT_EQ(router.route("B", "EMG"), 1u);
  EXPECT_EQ(router.route("B", "EM"), std::nullopt);
  EXPECT_EQ(router.route("B", "EMGX"), std::nullopt);
  EXPECT_EQ(router.route("BB", "EMG"), std::nullopt);
}

TEST(ChannelRouting, SamplesPerFrameRoundsTheRateTimesTheFramePeriod) {
  EXPECT_EQ(samplesPerFrame(1925.9259f), 26u);
  EXPECT_EQ(samplesPerFrame(148.14815f), 2u);
  EXPECT_EQ(samplesPerFrame(2000.0), 27u);
  EXPECT_EQ(samplesPerFrame(0.0), 0u);
  EXPECT_EQ(samplesPerFrame(-5.0), 0u);
  EXPECT_EQ(samplesPerFrame(std::numeric_limits<double>::quiet_NaN()), 0u);
}

TEST(ChannelRouting, LayoutFlattensComponentsAndSkipsMissingArrays) {
  char a[] = "Sensor A";
  char emg[] = "EMG";
  ChannelDescription channel{{emg, 3}, 1, 9, 2000.0f};
  ComponentDescription components[2] = {{1, {a, 8}, &channel, 1, nullptr, 0},
                                        {1, {a, 8}, nullptr, 0, nullptr, 0}};
  Configuration config{nullptr, 0, components, 2};
  const auto channels = channelLayout(config);
  ASSERT_EQ(channels.size(), 1u);
  EXPECT_EQ(channels[0].component, "Sensor A");
  EXPECT_EQ(channels[0].channel, "EMG");
  EXPECT_EQ(channels[0].samplesPerFrame, 27u);
  EXPECT_EQ(shortLabel(channels[0]), "S1 EMG");
}
