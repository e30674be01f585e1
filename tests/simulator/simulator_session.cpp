#include "simulator_session.h"

#include <cstdlib>
#include <numeric>
#include <thread>

namespace sim_test {
namespace {

constexpr const char* kVariables[] = {
    "ORVANE_SIM_SENSORS",   "ORVANE_SIM_SEED",     "ORVANE_SIM_DROPOUT", "ORVANE_SIM_PATTERN",
    "ORVANE_SIM_MAINS",     "ORVANE_SIM_MOTION",   "ORVANE_SIM_OUTAGE",  "ORVANE_SIM_BACKLOG",
    "ORVANE_SIM_CLOCK_PPM", "ORVANE_SIM_START_LOG"};

Opened copy(const char* list, const OrvaneMetadataBuf& metadata) {
  Opened opened;
  opened.channelList = list != nullptr ? list : "";
  opened.sensorCount = metadata.sensorCount;
  for (std::int32_t s = 0; s < metadata.sensorCount; ++s) {
    opened.channelsPerSensor.push_back(metadata.channelsPerSensor[s]);
  }
  const auto channels = std::accumulate(opened.channelsPerSensor.begin(),
                                        opened.channelsPerSensor.end(), std::size_t{0});
  opened.sampleRates.assign(metadata.sampleRates, metadata.sampleRates + channels);
  return opened;
}

}  // namespace

std::vector<float> Frame::channel(std::size_t index) const {
  const auto first =
      std::accumulate(counts.begin(), counts.begin() + static_cast<long>(index), std::size_t{0});
  return {samples.begin() + static_cast<long>(first),
          samples.begin() + static_cast<long>(first) + counts[index]};
}

void SimulatorTest::SetUp() {
  for (const char* name : kVariables) {
    unsetenv(name);
  }
}

void SimulatorTest::TearDown() {
  orvane_close();
  SetUp();
}

void SimulatorTest::setEnv(const char* name, const std::string& value) {
  setenv(name, value.c_str(), 1);
}

std::string SimulatorTest::info(const std::string& identifier, InfoCode code) {
  std::string own = identifier;
  const char* answer = orvane_infoRequest(own.data(), code);
  EXPECT_NE(answer, nullptr) << identifier;
  return answer != nullptr ? answer : "";
}

Opened SimulatorTest::open() {
  OrvaneMetadataBuf metadata{};
  const char* list = orvane_initialize(metadata, 2, 0, true);
  Opened opened = copy(list, metadata);
  channels_ = opened.sampleRates.size();
  return opened;
}

Opened SimulatorTest::scan() {
  OrvaneMetadataBuf metadata{};
  const char* list = orvane_scan(metadata);
  Opened opened = copy(list, metadata);
  channels_ = opened.sampleRates.size();
  return opened;
}

std::optional<Frame> SimulatorTest::poll() {
  OrvaneFrameBuf buffer{};
  if (!orvane_pollData(buffer)) {
    return std::nullopt;
  }
  Frame frame;
  frame.sequence = buffer.reserved;
  frame.counts.assign(buffer.sampleCounts, buffer.sampleCounts + channels_);
  const auto values = std::accumulate(frame.counts.begin(), frame.counts.end(), std::size_t{0});
  frame.samples.assign(buffer.samples, buffer.samples + values);
  return frame;
}

std::vector<Frame> SimulatorTest::drain() {
  std::vector<Frame> frames;
  while (auto frame = poll()) {
    frames.push_back(std::move(*frame));
  }
  return frames;
}

std::vector<Frame> SimulatorTest::record(std::chrono::milliseconds length) {
  orvane_start();
  std::this_thread::sleep_for(length);
  orvane_stop();
  return drain();
}

std::int64_t periodsIn(Clock::duration elapsed) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count() /
         std::chrono::duration_cast<std::chrono::nanoseconds>(kFramePeriod).count();
}

}  // namespace sim_test
