// The smallest interop the plug-in's code can run on: a station described
// once, fixed answers, and one frame that every poll hands out again, so
// that the benchmarks time the plug-in rather than the device.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace benchdev {

struct Station {
  std::string channelList;
  std::vector<std::int32_t> channelsPerSensor;
  std::vector<double> sampleRates;
  std::vector<std::int32_t> sampleCounts;  // the frame every poll returns
  std::vector<float> samples;
};

Station& station();

// Sensors shaped like the simulator's: one EMG channel at 26 samples per
// frame and six IMU channels at 2.
void describeSimulatorLike(int sensors);

// `channels` channels, eight to a sensor, for timing the inventory build.
void describeChannels(int channels);

}  // namespace benchdev
