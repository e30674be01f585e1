// Samples per frame and the rate they give, as a channel reports them and
// validate expects them: rounded half away from zero over the 13.5 ms frame.
#include <gtest/gtest.h>

#include <cmath>

#include "base/channel_info.h"

using namespace bvhost;

TEST(ChannelInfo, AFrameRateRoundsHalfAwayFromZeroAndMatchesOnlyItsOwnFloat) {
  // 3000 Hz is 40.5 samples a frame, 1000 Hz 13.5: both round up.
  EXPECT_EQ(frameRate(3000.0).samplesPerFrame, 41u);
  EXPECT_EQ(frameRate(1000.0).samplesPerFrame, 14u);
  EXPECT_EQ(frameRate(1925.9).samplesPerFrame, 26u);
  EXPECT_EQ(frameRate(0.0).samplesPerFrame, 0u);
  EXPECT_EQ(frameRate(0.0).rate, 0.0f);

  const FrameRate emg = frameRate(1926.0);
  EXPECT_EQ(emg.samplesPerFrame, 26u);
  EXPECT_TRUE(emg.matches(static_cast<float>(26 / 0.0135)));
  EXPECT_TRUE(emg.matches(std::nextafter(emg.rate, 1e9f)));
  EXPECT_FALSE(emg.matches(1926.0));
  EXPECT_FALSE(emg.matches(std::nextafter(std::nextafter(emg.rate, 1e9f), 1e9f)));
}

TEST(ChannelInfo, SensorsCountToTheHighestComponentAndLabelFromOne) {
  std::vector<ChannelInfo> channels(3);
  channels[0].componentIndex = 0;
  channels[1].componentIndex = 3;
  channels[2].componentIndex = 1;
  channels[2].channel = "EMG";
  EXPECT_EQ(sensorCount(channels), 4u);
  EXPECT_EQ(sensorCount(channels, {0, 2}), 2u);
  EXPECT_EQ(sensorCount({}), 0u);
  EXPECT_EQ(sensorLabel(3), "S4");
  EXPECT_EQ(shortLabel(channels[2]), "S2 EMG");
}
