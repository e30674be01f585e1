#include "bench_interop.h"

#include <cstring>

#include "orvane_interop.h"

namespace benchdev {

namespace {

constexpr double kFramePeriod = 0.0135;

void describe(int sensors, int channelsPerSensor, const std::vector<std::int32_t>& perFrame) {
  Station& s = station();
  s = Station{};
  for (int sensor = 0; sensor < sensors; ++sensor) {
    for (int c = 0; c < channelsPerSensor; ++c) {
      s.channelList += "BS1-S" + std::to_string(sensor + 1) + "+CH" + std::to_string(c) + "|";
      const std::int32_t count = perFrame[static_cast<std::size_t>(c) % perFrame.size()];
      s.sampleRates.push_back(count / kFramePeriod);
      s.sampleCounts.push_back(count);
      for (std::int32_t k = 0; k < count; ++k) {
        s.samples.push_back(static_cast<float>(s.samples.size()) * 0.001f);
      }
    }
    s.channelsPerSensor.push_back(channelsPerSensor);
  }
}

}  // namespace

Station& station() {
  static Station instance;
  return instance;
}

void describeSimulatorLike(int sensors) { describe(sensors, 7, {26, 2, 2, 2, 2, 2, 2}); }

void describeChannels(int channels) { describe(channels / 8, 8, {26, 2, 2, 2, 2, 2, 2, 2}); }

}  // namespace benchdev

namespace {

const char* fill(OrvaneMetadataBuf& metadata) {
  benchdev::Station& s = benchdev::station();
  metadata.sensorCount = static_cast<std::int32_t>(s.channelsPerSensor.size());
  metadata.channelsPerSensor = s.channelsPerSensor.data();
  metadata.sampleRates = s.sampleRates.data();
  return s.channelList.c_str();
}

}  // namespace

const char* orvane_initialize(OrvaneMetadataBuf& metadata, std::int32_t, std::int32_t, bool) {
  return fill(metadata);
}
const char* orvane_scan(OrvaneMetadataBuf& metadata) { return fill(metadata); }
void orvane_start() {}
void orvane_stop() {}
void orvane_close() {}
bool orvane_configure(bool, bool, bool, bool) { return true; }

bool orvane_pollData(OrvaneFrameBuf& frame) {
  benchdev::Station& s = benchdev::station();
  frame.sampleCounts = s.sampleCounts.data();
  frame.samples = s.samples.data();
  return true;
}

// Answers of realistic length, without a lookup that would cost more than
// the plug-in's own work.
const char* orvane_infoRequest(char* identifier, InfoCode code) {
  const bool isChannel = std::strchr(identifier, '+') != nullptr;
  switch (code) {
    case InfoName:
      return isChannel ? "EMG" : "Sensor 1";
    case InfoUnit:
      return "MILLIVOLTS";
    case InfoSensorId:
      return "SN-0001-2345";
    case InfoBattery:
      return "87";
    case InfoDetail:
      return "EMG 1926 Hz, IMU 148 Hz";
  }
  return "";
}
