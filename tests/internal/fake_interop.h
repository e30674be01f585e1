// A scriptable stand-in for the maker's interop library, linked into the
// internal tests in place of the real one. Tests script what the library
// answers and read back every call it received, in order.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace fake {

struct Frame {
  std::vector<std::int32_t> sampleCounts;
  std::vector<float> samples;
};

struct Interop {
  // What initialize and scan answer; nullopt answers a null text.
  std::optional<std::string> channelList = std::string();
  std::int32_t sensorCount = 0;
  std::vector<std::int32_t> channelsPerSensor;
  std::vector<double> sampleRates;

  // Answers by (identifier, code); anything unscripted gets defaultAnswer.
  std::map<std::pair<std::string, int>, std::optional<std::string>> answers;
  std::optional<std::string> defaultAnswer = std::string();

  std::deque<Frame> frames;      // handed out one per poll
  std::function<void()> onPoll;  // runs inside each poll, before it answers

  std::vector<std::string> calls;
  std::chrono::steady_clock::time_point startReturnedAt;  // as late as possible in start

  void answer(const std::string& identifier, int code, std::optional<std::string> text) {
    answers[{identifier, code}] = std::move(text);
  }
  // Calls whose text starts with prefix, e.g. "info(" or "configure".
  std::vector<std::string> callsStartingWith(const std::string& prefix) const;
  std::size_t countCalls(const std::string& call) const;
};

// The one instance the fake library functions use. Each test process starts
// with a fresh one; guard() serialises access from a test's own threads.
Interop& interop();
std::unique_lock<std::mutex> guard();

}  // namespace fake
