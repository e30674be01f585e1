#include "recording/recording_session.h"

#include <time.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <limits>
#include <optional>
#include <stdexcept>

#include "base/frame_period.h"
#include "plugin/channel_layout.h"
#include "plugin/plugin_result.h"
#include "recording/marker_placement.h"
#include "recording/read_pacing.h"
#include "recording/recording_sink.h"

namespace bvhost {
namespace {

using Clock = RecordingSession::Clock;

// The drain after a stop ends when a read delivers nothing; the bound only
// guards against a plug-in that never runs dry.
constexpr int kMaxDrainReads = 100000;
// How often the sinks put what they got on the disk, which bounds what a
// kill or a power loss can take, and how late a write error is noticed.
constexpr auto kSyncInterval = std::chrono::seconds(1);
constexpr double kLastFrameGraceSeconds = 1.0;

// Whole frames, rounded up, so a recording is never shorter than asked; no
// time asked is a run until it is stopped.
std::uint64_t framesFor(double seconds) {
  if (seconds <= 0.0) {
    return std::numeric_limits<std::uint64_t>::max();
  }
  return static_cast<std::uint64_t>(std::ceil(seconds / kFramePeriodSeconds - 1e-9));
}

std::string identityText(PluginResult (*query)(StringRef*) noexcept) {
  StringRef text{};
  if (!succeeded(query(&text))) {
    return "";
  }
  return std::string(view(text));
}

Clock::duration toDuration(double seconds) {
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// nanosleep rather than std::this_thread: a stop signal (installed without
// SA_RESTART) ends the sleep at once instead of being slept through.
void sleepFor(Clock::duration duration) {
  const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(duration);
  if (left.count() <= 0) {
    return;
  }
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
  timespec request{};
  request.tv_sec = static_cast<std::time_t>(seconds.count());
  request.tv_nsec = static_cast<long>((left - seconds).count());
  nanosleep(&request, nullptr);
}

std::vector<SensorInfo> sensorsOf(const Configuration& config) {
  std::vector<SensorInfo> sensors;
  for (std::uint64_t c = 0; c < config.componentCount && config.components != nullptr; ++c) {
    const ComponentDescription& component = config.components[c];
    SensorInfo sensor{std::string(view(component.name)), {}};
    for (std::uint64_t p = 0; p < component.propertyCount && component.properties != nullptr; ++p) {
      sensor.properties.emplace_back(view(component.properties[p].name),
                                     view(component.properties[p].value.text));
    }
    sensors.push_back(std::move(sensor));
  }
  return sensors;
}

void requireStage(bool reached, const char* call, const char* needs) {
  if (!reached) {
    throw std::logic_error(std::string("RecordingSession::") + call + " needs " + needs);
  }
}

}  // namespace

RecordingSession::RecordingSession(const std::string& pluginPath) : plugin_(pluginPath, true) {
  info_.pluginName = identityText(plugin_.api().bv_get_name);
  info_.pluginVersion = identityText(plugin_.api().bv_get_integration_version);
}

RecordingSession::~RecordingSession() {
  release();
  // Whoever still sends one is told the recording has stopped.
  if (markers_ != nullptr) {
    markers_->close();
  }
}

void RecordingSession::connect(const TriggerOptions& triggers) {
  requireStage(!connected_ && !frames_, "connect", "a session not yet connected");
  const EntryPoints& api = plugin_.api();
  require("bv_connect", connectWithTriggers(api, triggers));
  connected_ = true;
  try {
    PluginConfiguration config(api);
    channels_ = channelLayout(config.record());
    sensors_ = sensorsOf(config.record());
  } catch (...) {
    release();
    throw;
  }
}

void RecordingSession::start() {
  requireStage(connected_ && !streaming_ && !frames_, "start", "a connected session");
  info_.start = std::chrono::system_clock::now();
  streamStart_ = Clock::now();
  const PluginResult started = plugin_.api().bv_start_streaming();
  if (!succeeded(started)) {
    release();
    throw Refused("bv_start_streaming", started);
  }
  streaming_ = true;
  if (markers_ != nullptr) {
    openMarkers();
  }
}

void RecordingSession::addSink(FrameSink& sink) {
  requireStage(!frames_, "addSink", "a session not yet streamed");
  sinks_.push_back(&sink);
}

void RecordingSession::attachMarkers(MarkerInbox& inbox) {
  requireStage(!frames_ && markers_ == nullptr, "attachMarkers",
               "a session not yet streamed and without markers");
  markers_ = &inbox;
  if (streaming_) {
    openMarkers();
  }
}

void RecordingSession::openMarkers() {
  // A sink that limits its notes knows how much only once its file is
  // open; until the stream is read, the markers of a moment, which the room
  // of the frames ahead holds.
  constexpr std::int64_t kRoomBeforeStream = 1024;
  const bool limited = std::any_of(sinks_.begin(), sinks_.end(), [](const FrameSink* sink) {
    return sink->noteRoomPerFrame().has_value();
  });
  markers_->limitRoom(limited ? kRoomBeforeStream : MarkerInbox::kUnlimitedRoom);
  markers_->open();
}

// A file with a fixed room for notes would have to leave out what does not
// fit, and so end the run as failed; markers beyond it are refused instead.
void RecordingSession::limitMarkerRoom() {
  if (markers_ != nullptr) {
    markers_->limitRoom(frames_->noteRoom().value_or(MarkerInbox::kUnlimitedRoom));
  }
}

void RecordingSession::stream(double seconds, const StreamHooks& hooks) {
  requireStage(streaming_ && !frames_, "stream", "a started session");
  frames_ = std::make_unique<RecordingFrames>(channels_, sinks_, framesFor(seconds));
  sink_ = std::make_unique<RecordingSink>(channels_, *frames_);
  placement_ = std::make_unique<MarkerPlacement>(streamStart_);
  limitMarkerRoom();
  end_.failure = readLoop(seconds, hooks);
  end_.elapsedSeconds = secondsSince(streamStart_);
  if (markers_ != nullptr) {
    // The stop: what was accepted until now is placed at the end, and
    // everything later is refused.
    std::vector<Marker> left = markers_->close();
    placement_->add(left);
  }
}

bool RecordingSession::stopDue(const StreamHooks& hooks) const {
  return stopRequested_.load(std::memory_order_relaxed) ||
         (hooks.stopRequested && hooks.stopRequested());
}

// Reads until the time is up, a stop is requested, a read is refused or a
// sink fails, and returns the failure, if any.
std::exception_ptr RecordingSession::readLoop(double seconds, const StreamHooks& hooks) {
  const EntryPoints& api = plugin_.api();
  // Until the last frame asked for has been read. It is due when its window
  // ends, but a loaded machine (or device) can hand it over a little later,
  // and a stop then would leave the recording a frame short; a device that
  // delivers nothing more is given up on a second after it.
  const double frameTime =
      static_cast<double>(frames_->frameLimit()) * kFramePeriodSeconds + kLastFrameGraceSeconds;
  const auto streamEnd =
      seconds <= 0.0 ? Clock::time_point::max() : streamStart_ + toDuration(frameTime);
  ReadPacing pacing;
  auto nextSync = Clock::now() + kSyncInterval;
  try {
    for (;;) {
      const auto before = Clock::now();
      // A device running behind the host's clock (its start, its clock)
      // is given that much longer for its last frame.
      const auto end = streamEnd == Clock::time_point::max()
                           ? streamEnd
                           : streamEnd + toDuration(sink_->expectedLagSeconds());
      if (stopDue(hooks) || before >= end || sink_->frames() >= frames_->frameLimit()) {
        return nullptr;
      }
      const double beganSeconds = std::chrono::duration<double>(before - streamStart_).count();
      const bool delivered = sink_->read(api, beganSeconds) > 0;
      const auto after = Clock::now();
      pacing.noteRead(before, after, delivered);
      if (hooks.afterRead) {
        hooks.afterRead();
      }
      // Every frame due when this read began was there to be read.
      if (!delivered) {
        sink_->caughtUp(beganSeconds);
      }
      placeMarkers(after);
      if (after >= nextSync) {
        for (FrameSink* sink : sinks_) {
          sink->sync();
        }
        nextSync = after + kSyncInterval;
      }
      // A read that delivered is followed at once by the next, so a backlog
      // drains quickly.
      if (!delivered) {
        sleepFor(std::min(pacing.nextRead(after), end) - after);
      }
      if (hooks.afterPass) {
        hooks.afterPass(after);
      }
    }
  } catch (...) {
    return std::current_exception();
  }
}

// Takes what the inbox holds, which never waits, and hands on those whose
// frames have come.
void RecordingSession::placeMarkers(Clock::time_point now) {
  if (markers_ == nullptr) {
    return;
  }
  limitMarkerRoom();
  placement_->add(markers_->take());
  if (placement_->empty()) {
    return;
  }
  const std::optional<double> lag =
      sink_->lagChecks() > 0 ? std::optional<double>(sink_->expectedLagSeconds()) : std::nullopt;
  const double placed = static_cast<double>(frames_->keptFrames()) * kFramePeriodSeconds;
  for (const Annotation& marker : placement_->due(lag, sink_->lagChecks(), placed, now)) {
    frames_->mark(marker);
  }
}

void RecordingSession::placeLastMarkers() {
  const double end = static_cast<double>(frames_->keptFrames()) * kFramePeriodSeconds;
  for (const Annotation& marker : placement_->rest(sink_->expectedLagSeconds(), end)) {
    frames_->mark(marker);
  }
}

void RecordingSession::stopAndDisconnect() noexcept {
  if (streaming_) {
    end_.stopped = plugin_.api().bv_stop_streaming();
    streaming_ = false;
    drain();
  }
  release();
}

// What the plug-in still holds after the stop reaches the sinks; after a
// failure the stream is not read again.
void RecordingSession::drain() {
  if (!sink_ || end_.failure) {
    return;
  }
  try {
    const EntryPoints& api = plugin_.api();
    for (int i = 0; i < kMaxDrainReads && sink_->read(api, secondsSince(streamStart_)) > 0; ++i) {
    }
  } catch (...) {
    end_.failure = std::current_exception();
  }
}

// Stops and disconnects without reading on: for a failure before the
// stream, and for whatever a front end left running.
void RecordingSession::release() noexcept {
  if (streaming_) {
    plugin_.api().bv_stop_streaming();
    streaming_ = false;
  }
  if (connected_) {
    plugin_.api().bv_disconnect();
    connected_ = false;
  }
}

StreamEnd RecordingSession::finish() {
  requireStage(frames_ && !finished_, "finish", "a session that streamed");
  stopAndDisconnect();
  finished_ = true;
  // What was read reaches the sinks whatever ended the run; frames lost on
  // the way are judged only when the drain ran to its end.
  try {
    sink_->finish(!end_.failure);
    frames_->finish();
  } catch (...) {
    if (!end_.failure) {
      end_.failure = std::current_exception();
    }
  }
  // Every marker answered "ok" is handed on, however the frames ended.
  try {
    placeLastMarkers();
  } catch (...) {
    if (!end_.failure) {
      end_.failure = std::current_exception();
    }
  }
  return end_;
}

}  // namespace bvhost
