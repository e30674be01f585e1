// One recording from a plug-in, for any front end. The session loads the
// plug-in, connects it, streams on the recording's one frame clock and hands
// every frame, every frame lost and every note for the time line to the
// sinks it is given. It knows nothing of files or of a command line and
// prints nothing: what a run means to its user is the front end's to say.
//
// A session goes one way: connect, start, stream, stopAndDisconnect, finish;
// a call out of that order throws std::logic_error.
// The plug-in is left stopped and disconnected whatever happens: a failure
// while streaming (a refused read, a sink or hook that throws) ends the
// stream and is handed back by finish() rather than thrown past the plug-in;
// a failure to connect or start disconnects before it is thrown; and the
// destructor stops and disconnects whatever is still running. Every call
// runs on one thread, apart from requestStop().
#pragma once

#include <atomic>
#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/channel_info.h"
#include "base/frame_sink.h"
#include "base/recording_info.h"
#include "base/sensor_info.h"
#include "markers/marker_inbox.h"
#include "plugin/plugin_configuration.h"
#include "plugin/plugin_loader.h"
#include "recording/recording_frames.h"

namespace bvhost {

class MarkerPlacement;
class RecordingSink;

// A front end's part in the read loop. Each is optional; whatever one
// throws ends the stream as a failure.
struct StreamHooks {
  // Asked before every read: true ends the stream there.
  std::function<bool()> stopRequested;
  // Straight after every read, whether it delivered or not.
  std::function<void()> afterRead;
  // At the end of every pass of the loop, after any wait for the next
  // frame; `readEnded` is when the pass's read returned. By then every frame
  // the clock has placed has reached the sinks.
  std::function<void(std::chrono::steady_clock::time_point readEnded)> afterPass;
};

// How a run ended, once it is finished.
struct StreamEnd {
  // What cut the stream short or what finishing threw, the first of them;
  // null when the run ended as asked (time up or a stop requested).
  std::exception_ptr failure;
  // bv_stop_streaming's answer; a refusal here does not cost the recording.
  PluginResult stopped{};
  // From the start to the end of the read loop, on the host's clock.
  double elapsedSeconds = 0.0;
};

class RecordingSession {
 public:
  using Clock = std::chrono::steady_clock;

  // Loads the plug-in with every entry point it must have and asks its
  // name and version; throws LoadError.
  explicit RecordingSession(const std::string& pluginPath);
  ~RecordingSession();
  RecordingSession(const RecordingSession&) = delete;
  RecordingSession& operator=(const RecordingSession&) = delete;

  // The plug-in's name and version; the stream's start once started.
  const RecordingInfo& info() const { return info_; }

  // Connects with the trigger options and reads the sensors and channels,
  // whose tree is released again at once. Throws Refused, disconnected.
  void connect(const TriggerOptions& triggers);
  const std::vector<SensorInfo>& sensors() const { return sensors_; }
  // Flattened in inventory order: a sink's channel numbers index this.
  const std::vector<ChannelInfo>& channels() const { return channels_; }

  // Starts streaming: the device produces data from this call on, so the
  // stream and its first frame begin here. Throws Refused, disconnected.
  void start();
  Clock::time_point streamStart() const { return streamStart_; }

  // Before stream(): fed in the order added. The sink must outlive the
  // session's last call.
  void addSink(FrameSink& sink);

  // Before stream(): markers come from `inbox`, which must outlive the
  // session's last call. It is opened once the device is streaming (until
  // then a marker has no place in the recording and is refused) and closed
  // when the stream ends, so one sent after the stop is refused too. Each
  // marker reaches the sinks (FrameSink::mark) at the moment it was
  // received, on the stream's frame clock (see recording/marker_placement.h),
  // once the frames before it have; the last of them once finish() has
  // passed on every frame.
  void attachMarkers(MarkerInbox& inbox);

  // Reads until `seconds` of whole frames are in (0 or less: until a stop
  // is requested), a stop is requested or something fails. Never throws
  // what went wrong while streaming: finish() hands it back. The plug-in is
  // still streaming when it returns.
  void stream(double seconds, const StreamHooks& hooks = {});
  // From any thread: the stream ends before its next read.
  void requestStop() { stopRequested_.store(true, std::memory_order_relaxed); }

  // Stops streaming, reads what the plug-in still holds (unless the stream
  // failed, or never ran) and disconnects; each only if still due. Never
  // throws.
  void stopAndDisconnect() noexcept;

  // After stream(): disconnects if that is still due, then passes on the
  // frames held for the clock's judgement and ends every open silence, so
  // the sinks hold the whole run. Returns how it ended.
  StreamEnd finish();

  // The frame clock, its counts and the stream's statistics (lost-frame
  // spans included), from stream() on.
  const RecordingFrames& frames() const { return *frames_; }

 private:
  std::exception_ptr readLoop(double seconds, const StreamHooks& hooks);
  void openMarkers();
  void limitMarkerRoom();
  void placeMarkers(Clock::time_point now);
  void placeLastMarkers();
  bool stopDue(const StreamHooks& hooks) const;
  void drain();
  void release() noexcept;

  Plugin plugin_;
  RecordingInfo info_;
  std::vector<SensorInfo> sensors_;
  std::vector<ChannelInfo> channels_;
  std::vector<FrameSink*> sinks_;
  Clock::time_point streamStart_{};
  std::unique_ptr<RecordingFrames> frames_;
  std::unique_ptr<RecordingSink> sink_;
  MarkerInbox* markers_ = nullptr;
  std::unique_ptr<MarkerPlacement> placement_;
  StreamEnd end_;
  std::atomic<bool> stopRequested_{false};
  bool connected_ = false;
  bool streaming_ = false;
  bool finished_ = false;
};

}  // namespace bvhost
