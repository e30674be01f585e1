// The eight functions a host imports. One lock serialises them, because a
// host may stop a capture on one thread while another is polling.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

#include "frame_clock.h"
#include "orvane_interop.h"
#include "settings.h"
#include "station.h"

// Only the maker's eight functions leave the library; the rest is ours.
#define ORVANE_EXPORT __attribute__((visibility("default")))

namespace orvane_sim {
namespace {

constexpr std::string_view kQueryPrefix = "@simulator/";

// Frames lost to an outage or the backlog still run through the signals.
// While capturing, a poll does about 3 ms of that work at most, so a host
// back from a long stall is never held up for long (the signals still catch
// up hundreds of times faster than frames fall due); once stopped there is
// no share, since a host drains after a stop until the first false.
constexpr std::uint64_t kLostSensorFramesPerPoll = 4096;

struct Triggers {
  bool configured = false;
  bool enable = true;
  bool startInput = true;
  bool stopInput = true;
  bool outputTriggers = true;
};

struct Simulator {
  std::mutex mutex;
  bool open = false;
  Station station;
  FrameClock clock;
  std::uint64_t finishedFrames = 0;  // frames of ended captures since opening, for the battery
  std::uint64_t signalBase = 0;      // where the running capture's frame 0 sits in the signals
  std::uint64_t generated = 0;       // frames of the running capture the signals have run through
  Triggers triggers;

  std::uint64_t streamedFrames(std::int64_t nowNs) const {
    return finishedFrames + (clock.capturing() ? clock.dueBy(nowNs) : 0);
  }

  void endCapture() {
    if (clock.capturing()) {
      const std::int64_t now = monotonicNowNs();
      clock.stop(now);
      finishedFrames += clock.dueBy(now);
    }
  }

  // Runs the signals through the lost frames below `upTo`, as far as one
  // poll's share allows; true once they are all through.
  bool passLostFrames(std::uint64_t upTo) {
    const auto sensors = static_cast<std::uint64_t>(std::max(station.settings().sensors, 1));
    const std::uint64_t share =
        clock.capturing() ? std::max<std::uint64_t>(kLostSensorFramesPerPoll / sensors, 1) : upTo;
    for (std::uint64_t passed = 0; generated < upTo && passed < share; ++passed) {
      station.passFrame(signalBase + generated++);
    }
    return generated >= upTo;
  }
};

Simulator& simulator() {
  static Simulator instance;
  return instance;
}

// Answers stay valid until the same thread asks again, so two threads
// querying at once never overwrite each other's text.
const char* keep(std::string text) {
  thread_local std::string answer;
  answer = std::move(text);
  return answer.c_str();
}

const char* yesNo(bool value) { return value ? "true" : "false"; }

std::string simulatorQuery(const Simulator& sim, std::string_view what) {
  if (what == "triggers") {
    const Triggers& t = sim.triggers;
    return std::string("configured=") + (t.configured ? "yes" : "no") +
           " enable=" + yesNo(t.enable) + " start_input=" + yesNo(t.startInput) +
           " stop_input=" + yesNo(t.stopInput) + " output_triggers=" + yesNo(t.outputTriggers);
  }
  if (what == "settings") {
    return sim.open ? describe(sim.station.settings()) : "closed";
  }
  if (what == "overflow") {
    return std::to_string(sim.clock.overflowed());
  }
  return {};
}

// For a test that needs to know when each frame was captured: frame k of
// this capture spans start + k to start + k + 1 periods. Written once per
// start, never on the way of a frame; a file that cannot be written costs
// the capture nothing.
void logStart(const std::string& path, std::int64_t startNs) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    return;
  }
  char line[48];
  const int length =
      std::snprintf(line, sizeof line, "start %lld\n", static_cast<long long>(startNs));
  [[maybe_unused]] const ssize_t written =
      ::write(fd, line, static_cast<std::size_t>(std::max(length, 0)));
  ::close(fd);
}

// Called only between captures, since a schedule changed mid-capture would
// move frames already due.
const char* enumerate(Simulator& sim, OrvaneMetadataBuf& metadata) {
  const Settings settings = readSettings();
  sim.station.enumerate(settings);
  sim.clock = FrameClock(settings.schedule);
  sim.station.fillMetadata(metadata);
  return sim.station.channelList().c_str();
}

}  // namespace
}  // namespace orvane_sim

using orvane_sim::simulator;

ORVANE_EXPORT const char* orvane_initialize(OrvaneMetadataBuf& metadata, std::int32_t, std::int32_t,
                                            bool) {
  auto& sim = simulator();
  const std::lock_guard lock(sim.mutex);
  // Opening again is a fresh start: no capture, full history forgotten.
  sim.clock.reset();
  sim.finishedFrames = 0;
  sim.signalBase = 0;
  sim.triggers = {};
  sim.open = true;
  return orvane_sim::enumerate(sim, metadata);
}

ORVANE_EXPORT const char* orvane_scan(OrvaneMetadataBuf& metadata) {
  auto& sim = simulator();
  const std::lock_guard lock(sim.mutex);
  if (!sim.open) {
    metadata.sensorCount = 0;
    return "";
  }
  // Pairing again restarts the radios, so a running capture ends with it.
  sim.endCapture();
  sim.clock.reset();
  return orvane_sim::enumerate(sim, metadata);
}

ORVANE_EXPORT void orvane_start() {
  auto& sim = simulator();
  const std::lock_guard lock(sim.mutex);
  if (!sim.open || sim.clock.capturing()) {
    return;
  }
  sim.signalBase = sim.finishedFrames;
  sim.generated = 0;
  const std::int64_t now = orvane_sim::monotonicNowNs();
  sim.clock.start(now);
  if (!sim.station.settings().startLog.empty()) {
    orvane_sim::logStart(sim.station.settings().startLog, now);
  }
}

ORVANE_EXPORT void orvane_stop() {
  auto& sim = simulator();
  const std::lock_guard lock(sim.mutex);
  sim.endCapture();
}

ORVANE_EXPORT void orvane_close() {
  auto& sim = simulator();
  const std::lock_guard lock(sim.mutex);
  sim.open = false;
  sim.station.clear();
  sim.clock.reset();
  sim.finishedFrames = 0;
  sim.signalBase = 0;
  sim.triggers = {};
}

ORVANE_EXPORT bool orvane_configure(bool enable, bool startInput, bool stopInput,
                                    bool outputTriggers) {
  auto& sim = simulator();
  const std::lock_guard lock(sim.mutex);
  if (!sim.open) {
    return false;
  }
  sim.triggers = {true, enable, startInput, stopInput, outputTriggers};
  return true;
}

ORVANE_EXPORT bool orvane_pollData(OrvaneFrameBuf& frame) {
  auto& sim = simulator();
  const std::lock_guard lock(sim.mutex);
  if (!sim.open) {
    return false;
  }
  const std::int64_t now = orvane_sim::monotonicNowNs();
  // The signals go through the frames lost before this one first, so that
  // it carries the samples it would have had nothing been lost.
  if (!sim.passLostFrames(sim.clock.settle(now))) {
    return false;
  }
  const auto next = sim.clock.take(now);
  if (!next) {
    return false;
  }
  sim.station.assembleFrame(*next, sim.signalBase + *next, frame);
  sim.generated = *next + 1;
  return true;
}

ORVANE_EXPORT const char* orvane_infoRequest(char* identifier, InfoCode code) {
  if (identifier == nullptr) {
    return orvane_sim::keep({});
  }
  auto& sim = simulator();
  const std::lock_guard lock(sim.mutex);
  const std::string_view id(identifier);
  if (id.starts_with(orvane_sim::kQueryPrefix)) {
    return orvane_sim::keep(
        orvane_sim::simulatorQuery(sim, id.substr(orvane_sim::kQueryPrefix.size())));
  }
  if (!sim.open) {
    return orvane_sim::keep({});
  }
  return orvane_sim::keep(
      sim.station.answer(id, code, sim.streamedFrames(orvane_sim::monotonicNowNs())));
}
