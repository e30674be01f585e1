// A scripted libOrvaneAPI_Interop.so for bvhost validate. It answers only
// what the check's Script says, so the check knows every identifier, unit,
// rate and sample value the plug-in should hand on, and it logs the calls
// that change the device, so the check sees calls a host never could.
#include <string>

#include "orvane_interop.h"
#include "standin/standin_script.h"

#define STANDIN_EXPORT __attribute__((visibility("default")))

namespace {

using bvhost::standin::Frame;
using bvhost::standin::Script;

Script& script() {
  static Script instance;
  return instance;
}

// The texts the plug-in receives; each answer replaces the last, so a
// plug-in that keeps a pointer rather than copying reads the wrong text.
std::string g_channelList;
std::string g_answer;
// The frame handed out last, valid until the next poll.
Frame g_frame;

const char* describe(OrvaneMetadataBuf& metadata) {
  Script& s = script();
  metadata.sensorCount = s.sensorCount;
  metadata.channelsPerSensor = s.channelsPerSensor.data();
  metadata.sampleRates = s.sampleRates.data();
  g_channelList = s.channelList;
  return g_channelList.c_str();
}

}  // namespace

extern "C" STANDIN_EXPORT void* bvhost_standin_script() { return &script(); }

STANDIN_EXPORT const char* orvane_initialize(OrvaneMetadataBuf& metadata, std::int32_t,
                                             std::int32_t, bool) {
  script().calls.emplace_back("initialize");
  return describe(metadata);
}

STANDIN_EXPORT const char* orvane_scan(OrvaneMetadataBuf& metadata) {
  script().calls.emplace_back("scan");
  return describe(metadata);
}

STANDIN_EXPORT void orvane_start() {
  Script& s = script();
  s.calls.emplace_back("start");
  s.started = true;
  s.startReturned = std::chrono::steady_clock::now();
}

STANDIN_EXPORT void orvane_stop() { script().calls.emplace_back("stop"); }

STANDIN_EXPORT void orvane_close() { script().calls.emplace_back("close"); }

STANDIN_EXPORT bool orvane_configure(bool enable, bool startInput, bool stopInput,
                                     bool outputTriggers) {
  script().calls.push_back("configure " + std::to_string(int{enable}) + " " +
                           std::to_string(int{startInput}) + " " + std::to_string(int{stopInput}) +
                           " " + std::to_string(int{outputTriggers}));
  return true;
}

STANDIN_EXPORT bool orvane_pollData(OrvaneFrameBuf& frame) {
  Script& s = script();
  if (!s.started || s.frames.empty()) {
    return false;
  }
  g_frame = std::move(s.frames.front());
  s.frames.pop_front();
  frame.sampleCounts = g_frame.counts.data();
  // A frame of zero counts still gets a samples array, as the contract asks.
  static float none = 0.0f;
  frame.samples = g_frame.samples.empty() ? &none : g_frame.samples.data();
  return true;
}

STANDIN_EXPORT const char* orvane_infoRequest(char* identifier, InfoCode code) {
  const Script& s = script();
  const std::string key(identifier != nullptr ? identifier : "");
  const auto found = s.answers.find({key, code});
  g_answer = found != s.answers.end() ? found->second : bvhost::standin::defaultAnswer(key, code);
  return g_answer.c_str();
}
