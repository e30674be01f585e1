// A small stand-in for the maker's interop library: a base station with two
// paired sensors, one EMG channel each, delivering frames of zeros.
#include <cstdint>
#include <cstring>

#include "device/orvane_interop.h"

namespace {

std::int32_t g_channelsPerSensor[2] = {1, 1};
double g_sampleRates[2] = {1925.925925925926, 1925.925925925926};
std::int32_t g_sampleCounts[2] = {26, 26};
float g_samples[52] = {};
bool g_open = false;
bool g_capturing = false;

void fill(OrvaneMetadataBuf& metadata) {
  metadata.sensorCount = 2;
  metadata.channelsPerSensor = g_channelsPerSensor;
  metadata.sampleRates = g_sampleRates;
}

constexpr const char* kChannelList = "S1+EMG|S2+EMG|";

}  // namespace

const char* orvane_initialize(OrvaneMetadataBuf& metadata, std::int32_t, std::int32_t, bool) {
  g_open = true;
  fill(metadata);
  return kChannelList;
}

const char* orvane_scan(OrvaneMetadataBuf& metadata) {
  fill(metadata);
  return kChannelList;
}

void orvane_start() { g_capturing = g_open; }
void orvane_stop() { g_capturing = false; }
void orvane_close() {
  g_open = false;
  g_capturing = false;
}

bool orvane_configure(bool, bool, bool, bool) { return true; }

bool orvane_pollData(OrvaneFrameBuf& frame) {
  if (!g_capturing) {
    return false;
  }
  frame.sampleCounts = g_sampleCounts;
  frame.samples = g_samples;
  return true;
}

const char* orvane_infoRequest(char* identifier, InfoCode code) {
  const bool isChannel = std::strchr(identifier, '+') != nullptr;
  switch (code) {
    case InfoName:
      return isChannel ? "EMG" : (std::strcmp(identifier, "S1") == 0 ? "Sensor 1" : "Sensor 2");
    case InfoUnit:
      return "MILLIVOLTS";
    case InfoSensorId:
      return std::strcmp(identifier, "S1") == 0 ? "SN-0001" : "SN-0002";
    case InfoBattery:
      return "100";
    case InfoDetail:
      return "EMG 1926 Hz";
  }
  return "";
}
