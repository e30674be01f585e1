// Declarations of the maker's interop library, libOrvaneAPI_Interop.so.
//
// One header for both sides of the import, as a maker ships one: the plug-in
// compiles its calls against it and the simulator its definitions, so a
// change of signature breaks the build on both sides at once rather than the
// link of one of them at load time.
//
// They keep C++ linkage in the global namespace on purpose: the maker's
// library exports these decorated names, and the plug-in must import exactly
// those. The library owns every array and text it hands out.
#pragma once

#include <cstdint>

// Filled by orvane_initialize and orvane_scan; the arrays stay the library's
// and are read only right after the fill.
struct OrvaneMetadataBuf {
  std::int32_t reserved;
  std::int32_t sensorCount;
  std::int32_t* channelsPerSensor;  // one per sensor
  double* sampleRates;              // one per channel, sensor after sensor
};

// Filled by orvane_pollData; the arrays stay valid until the next poll.
struct OrvaneFrameBuf {
  std::int64_t reserved;
  std::int32_t* sampleCounts;  // one per channel, in channel-list order
  float* samples;              // all values, channel after channel
};

enum InfoCode : std::int32_t {
  InfoName = 0,
  InfoUnit = 2,
  InfoSensorId = 7,
  InfoBattery = 8,
  InfoDetail = 9,
};

const char* orvane_initialize(OrvaneMetadataBuf& metadata, std::int32_t, std::int32_t, bool);
const char* orvane_scan(OrvaneMetadataBuf& metadata);
void orvane_start();
void orvane_stop();
void orvane_close();
bool orvane_configure(bool, bool, bool, bool);
bool orvane_pollData(OrvaneFrameBuf& frame);
const char* orvane_infoRequest(char* identifier, InfoCode code);
