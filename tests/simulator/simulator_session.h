// A test's view of the simulator: opens it through the eight functions as a
// host would, copies what it returns, and leaves it closed with a clean
// environment whichever way the test ends.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "orvane_interop.h"

namespace sim_test {

using Clock = std::chrono::steady_clock;
constexpr auto kFramePeriod = std::chrono::microseconds(13'500);

struct Frame {
  std::int64_t sequence = 0;
  std::vector<std::int32_t> counts;
  std::vector<float> samples;

  // The values of one channel, given its index in the channel list.
  std::vector<float> channel(std::size_t index) const;
};

struct Opened {
  std::string channelList;
  std::int32_t sensorCount = 0;
  std::vector<std::int32_t> channelsPerSensor;
  std::vector<double> sampleRates;
};

class SimulatorTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  static void setEnv(const char* name, const std::string& value);
  static std::string info(const std::string& identifier, InfoCode code);

  Opened open();
  Opened scan();

  std::optional<Frame> poll();
  std::vector<Frame> drain();
  // Starts, waits about `length`, stops and hands back every frame.
  std::vector<Frame> record(std::chrono::milliseconds length);

  std::size_t channels_ = 0;
};

// Frames due by `elapsed` since the start: the whole periods in it.
std::int64_t periodsIn(Clock::duration elapsed);

}  // namespace sim_test
