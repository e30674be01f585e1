// What bvhost validate tells its stand-in of the maker's interop library to
// answer, and what the stand-in saw the plug-in do. The stand-in and bvhost
// are built together, so they share this header and its C++ types; the only
// symbol that crosses by name is the C accessor below.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace bvhost::standin {

struct Frame {
  std::vector<std::int32_t> counts;  // one per channel, in list order
  std::vector<float> samples;        // channel after channel
};

struct Script {
  // Answers of orvane_initialize and orvane_scan.
  std::string channelList;
  std::int32_t sensorCount = 0;
  std::vector<std::int32_t> channelsPerSensor;
  std::vector<double> sampleRates;
  // orvane_infoRequest by identifier and code; anything else is answered
  // with defaultAnswer(), so a check can predict every text.
  std::map<std::pair<std::string, std::int32_t>, std::string> answers;
  // Polled one at a time once acquisition has started; they stay pollable
  // after a stop, as captured frames do.
  std::deque<Frame> frames;

  // Filled by the stand-in.
  std::vector<std::string> calls;  // "initialize", "configure 1 0 1 1", ...
  std::chrono::steady_clock::time_point startReturned{};
  bool started = false;
};

inline std::string defaultAnswer(const std::string& identifier, std::int32_t code) {
  return std::to_string(code) + ":" + identifier;
}

}  // namespace bvhost::standin

// The stand-in's one Script, for the check that loaded it.
extern "C" void* bvhost_standin_script();
inline constexpr const char* kStandInScriptSymbol = "bvhost_standin_script";
