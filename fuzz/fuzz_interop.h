// The interop library as the fuzzer drives it: every answer it gives is read
// from the fuzz input, within the one promise the plug-in relies on, that
// each array is as long as its record says.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class FuzzedDataProvider;

namespace fuzzdev {

// The frame last handed out, kept for the checks on what the host receives.
struct Frame {
  std::vector<std::int32_t> sampleCounts;
  std::vector<float> samples;
};

struct Device {
  // Null while the harness tidies up between inputs: the device then lists
  // nothing and answers every query with an empty text.
  FuzzedDataProvider* input = nullptr;

  // Storage behind the last metadata fill; read only by the build after it.
  std::string channelList;
  std::vector<std::int32_t> channelsPerSensor;
  std::vector<double> sampleRates;
  std::string answer;  // valid until the next query

  // Frames the device holds now; each poll takes one.
  std::uint32_t framesPending = 0;
  Frame current;
  std::uint64_t framesPolled = 0;
  // Channels the plug-in's inventory holds, which fixes the frame length.
  std::size_t inventoryChannels = 0;

  // What the last orvane_configure received, and how often it came.
  bool configured[4] = {false, false, false, false};
  std::uint64_t configureCalls = 0;
  std::uint64_t closeCalls = 0;
};

Device& device();

}  // namespace fuzzdev
