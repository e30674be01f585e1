#include "fake_interop.h"

#include <algorithm>

#include "failing_allocator.h"
#include "orvane_interop.h"

namespace fake {

namespace {

std::mutex g_mutex;
Frame g_current;  // the arrays of the last frame stay valid until the next poll

void record(std::string call) { interop().calls.push_back(std::move(call)); }

const char* fillMetadata(OrvaneMetadataBuf& metadata) {
  Interop& fake = interop();
  metadata.sensorCount = fake.sensorCount;
  metadata.channelsPerSensor = fake.channelsPerSensor.data();
  metadata.sampleRates = fake.sampleRates.data();
  return fake.channelList ? fake.channelList->c_str() : nullptr;
}

std::string flag(bool value) { return value ? "1" : "0"; }

}  // namespace

Interop& interop() {
  static Interop instance;
  return instance;
}

std::unique_lock<std::mutex> guard() { return std::unique_lock<std::mutex>(g_mutex); }

std::vector<std::string> Interop::callsStartingWith(const std::string& prefix) const {
  std::vector<std::string> matching;
  std::copy_if(calls.begin(), calls.end(), std::back_inserter(matching),
               [&](const std::string& call) { return call.rfind(prefix, 0) == 0; });
  return matching;
}

std::size_t Interop::countCalls(const std::string& call) const {
  return static_cast<std::size_t>(std::count(calls.begin(), calls.end(), call));
}

}  // namespace fake

using fake::guard;
using fake::interop;

const char* orvane_initialize(OrvaneMetadataBuf& metadata, std::int32_t a, std::int32_t b, bool c) {
  alloc::Untracked untracked;
  auto lock = guard();
  fake::record("initialize(" + std::to_string(a) + "," + std::to_string(b) + "," + fake::flag(c) +
               ")");
  return fake::fillMetadata(metadata);
}

const char* orvane_scan(OrvaneMetadataBuf& metadata) {
  alloc::Untracked untracked;
  auto lock = guard();
  fake::record("scan");
  return fake::fillMetadata(metadata);
}

void orvane_start() {
  alloc::Untracked untracked;
  auto lock = guard();
  fake::record("start");
  interop().startReturnedAt = std::chrono::steady_clock::now();
}

void orvane_stop() {
  alloc::Untracked untracked;
  auto lock = guard();
  fake::record("stop");
}

void orvane_close() {
  alloc::Untracked untracked;
  auto lock = guard();
  fake::record("close");
}

bool orvane_configure(bool a, bool b, bool c, bool d) {
  alloc::Untracked untracked;
  auto lock = guard();
  fake::record("configure(" + fake::flag(a) + "," + fake::flag(b) + "," + fake::flag(c) + "," +
               fake::flag(d) + ")");
  return true;
}

bool orvane_pollData(OrvaneFrameBuf& frame) {
  std::function<void()> hook;
  {
    alloc::Untracked untracked;
    auto lock = guard();
    fake::record("poll");
    hook = interop().onPoll;
  }
  if (hook) {
    hook();
  }
  alloc::Untracked untracked;
  auto lock = guard();
  auto& frames = interop().frames;
  if (frames.empty()) {
    return false;
  }
  fake::g_current = std::move(frames.front());
  frames.pop_front();
  frame.sampleCounts = fake::g_current.sampleCounts.data();
  frame.samples = fake::g_current.samples.data();
  return true;
}

const char* orvane_infoRequest(char* identifier, InfoCode code) {
  alloc::Untracked untracked;
  auto lock = guard();
  const std::string id(identifier);
  fake::record("info(" + id + "," + std::to_string(static_cast<int>(code)) + ")");
  auto& fake = interop();
  const auto found = fake.answers.find({id, static_cast<int>(code)});
  const std::optional<std::string>& answer =
      found != fake.answers.end() ? found->second : fake.defaultAnswer;
  return answer ? answer->c_str() : nullptr;
}
