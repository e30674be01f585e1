#include "app/record_command.h"

#include <csignal>
#include <cstdio>
#include <optional>

#include "app/live_feed.h"
#include "app/marker_inputs.h"
#include "app/progress.h"
#include "app/recording_outputs.h"
#include "app/stop_signal.h"
#include "base/exit_codes.h"
#include "base/frame_period.h"
#include "plugin/plugin_result.h"
#include "recording/recording_session.h"

namespace bvhost {
namespace {

using Clock = RecordingSession::Clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A signal cuts a recording short of the time asked, which the exit code
// says; for monitor, which writes nothing and runs until stopped, it is the
// normal end.
int exitCodeAfter(const StreamStats& stats, bool wroteFiles) {
  if (stats.totalGaps() > 0 || stats.unknownBlocks() > 0) {
    return kExitRuleBroken;
  }
  if (!stats.lostSpans().empty() && wroteFiles) {
    std::fprintf(stderr,
                 "bvhost: frames were lost before they reached bvhost; the files mark them as "
                 "gaps in place\n");
    return kExitFramesLost;
  }
  const int signal = StopSignals::received();
  const char* name = signal == SIGINT ? "SIGINT" : signal == SIGTERM ? "SIGTERM" : "SIGHUP";
  if (signal == 0) {
    return kExitOk;
  }
  if (!wroteFiles) {
    std::fprintf(stderr, "stopped by %s\n", name);
    return kExitOk;
  }
  std::fprintf(stderr, "stopped by %s; the files are complete\n", name);
  return signal == SIGINT ? kExitInterrupted : signal == SIGTERM ? kExitTerminated : kExitHangUp;
}

// With every frame asked for, the files hold exactly that time, which the
// wall clock (a stop comes late by a read or two) would misstate; a run
// cut short keeps the wall clock, so the summary shows what is missing.
void printSummary(const RecordingFrames& frames, double elapsed, const RecordOptions& options,
                  const MarkerInputs& markers) {
  const std::uint64_t keptCount = frames.keptFrames();
  const bool cut = frames.framesLeftOut() > 0;
  const double streamSeconds = keptCount == frames.frameLimit()
                                   ? static_cast<double>(frames.frameLimit()) * kFramePeriodSeconds
                                   : elapsed;
  std::fputs(frames.stats().summary(streamSeconds, keptCount, options.summary).c_str(), stdout);
  if (cut) {
    std::printf(
        "Kept %llu frames (%.4f s, --seconds %g in whole %.1f ms frames); %llu later frame(s), "
        "delivered before the stop took hold, are left out.\n",
        static_cast<unsigned long long>(frames.frameLimit()), streamSeconds, options.seconds,
        kFramePeriodSeconds * 1000.0, static_cast<unsigned long long>(frames.framesLeftOut()));
  }
  std::fputs(markers.summary(!options.outputs.empty()).c_str(), stdout);
  std::fflush(stdout);
}

// Completes the files, then the notes, the summary and the outcome.
int finishRecording(RecordingOutputs& outputs, const RecordingSession& session,
                    const StreamEnd& end, const RecordOptions& options,
                    const MarkerInputs& markers) {
  const CompletedOutputs done = outputs.complete();
  const std::exception_ptr failure = end.failure ? end.failure : done.failure;
  for (const auto& note : outputs.notes()) {
    std::fprintf(stderr, "note: %s\n", note.c_str());
  }
  for (const auto& path : done.wrote) {
    std::printf("Wrote %s\n", path.c_str());
  }
  for (const auto& path : done.events) {
    std::printf("Wrote %s\n", path.c_str());
  }
  if (!succeeded(end.stopped)) {
    std::fprintf(stderr, "warning: bv_stop_streaming failed: %s\n", describe(end.stopped).c_str());
  }
  printSummary(session.frames(), end.elapsedSeconds, options, markers);
  for (const auto& path : done.kept) {
    std::fprintf(stderr, "bvhost: what was written is kept, readable, in %s\n", path.c_str());
  }
  for (const auto& path : done.lost) {
    std::fprintf(stderr,
                 "bvhost: %s was deleted or replaced while recording; what it held is not on "
                 "the disk, and its target was left as it was\n",
                 path.c_str());
  }
  if (failure) {
    std::rethrow_exception(failure);
  }
  return exitCodeAfter(session.frames().stats(), !outputs.files().empty());
}

// A run's socket is named after what it writes, so `bvhost mark --to`
// takes a name the user knows.
std::string markerRunName(const RecordOptions& options) {
  return options.outputs.empty() ? "monitor" : options.outputs.front().path;
}

// The live view and the progress line follow the stream; a stop signal
// ends it.
StreamHooks streamHooks(const RecordingSession& session, const RecordOptions& options, LiveTap* tap,
                        ProgressLine& progress, bool writing) {
  StreamHooks hooks;
  hooks.stopRequested = [] { return StopSignals::received() != 0; };
  if (tap != nullptr) {
    hooks.afterRead = [tap] { tap->afterRead(); };
  }
  hooks.afterPass = [&session, &options, tap, &progress, writing](Clock::time_point readEnded) {
    if (tap != nullptr && tap->statusDue(readEnded)) {
      tap->offerStatus(viewStatus(session, options.seconds, writing), readEnded);
    }
    if (progress.enabled()) {
      const RecordingFrames& frames = session.frames();
      progress.update(secondsSince(session.streamStart()), options.seconds, frames.keptFrames(),
                      frames.stats().totalSamples());
    }
  };
  return hooks;
}

// The page learns the run is over only once the files are complete, and
// learns how it ended.
int finishWithLiveView(RecordingOutputs& outputs, const RecordingSession& session,
                       const StreamEnd& end, const RecordOptions& options,
                       const MarkerInputs& markers, LiveView& live) {
  ViewStatus last = viewStatus(session, options.seconds, false);
  try {
    const int code = finishRecording(outputs, session, end, options, markers);
    last = viewStatus(session, options.seconds, false);
    if (code == kExitRuleBroken) {
      last.failure = "the plug-in broke a rule while streaming; bvhost's summary says where";
    }
    live.end(std::move(last));
    return code;
  } catch (const std::exception& error) {
    last.failure = error.what();
    live.end(std::move(last));
    throw;
  }
}

// Connects, streams and completes the files; `live`, when there is one,
// gets the stream and is told how the run ended.
int record(const RecordOptions& options, RecordingOutputs& outputs, LiveView* live) {
  // Both outlive the session, which closes the markers' inbox when it goes,
  // and the progress line outlives the markers' reader, which draws on it.
  ProgressLine progress;
  std::optional<MarkerInputs> markers;
  RecordingSession session(options.plugin);
  // From before connecting, which can take long: a stop asked for then still
  // leaves complete files instead of none or empty ones.
  StopSignals signals;
  for (const auto& partial : outputs.partials()) {
    signals.addPartialFile(partial.path());
  }
  // Served while connecting too, so a sender finds the run and is told it
  // has not started rather than that nothing runs.
  markers.emplace(MarkerInputOptions{markerRunName(options), options.markersFromStdin}, progress);
  session.attachMarkers(markers->inbox());
  if (live) {
    acceptPageMarkers(*live, markers->inbox());
  }
  // The page posts into the markers' inbox until its view has ended, so a
  // run that fails ends the view here, while the inbox is still there.
  auto run = [&]() -> int {
    session.connect(options.triggers);
    try {
      if (live) {
        live->begin(viewSetup(session, outputs.files()));
      }
      // Before the start, so that markers sent while the files open are
      // held to the room those files will have.
      session.addSink(outputs);
      session.start();
      outputs.open(session.channels(), session.info());
    } catch (...) {
      session.stopAndDisconnect();
      throw;
    }
    LiveTap* tap = live ? live->tap() : nullptr;
    std::optional<LiveTapSink> tapSink;
    if (tap != nullptr) {
      session.addSink(tapSink.emplace(*tap));
    }
    const bool writing = !outputs.files().empty();
    session.stream(options.seconds, streamHooks(session, options, tap, progress, writing));
    progress.finish();
    session.stopAndDisconnect();
    signals.beginFinishing();
    const StreamEnd end = session.finish();
    if (!live) {
      return finishRecording(outputs, session, end, options, *markers);
    }
    return finishWithLiveView(outputs, session, end, options, *markers, *live);
  };
  try {
    return run();
  } catch (const std::exception& error) {
    if (live) {
      live->fail(error.what());
    }
    throw;
  }
}

}  // namespace

int runRecord(const RecordOptions& options) {
  // Every output is checked before anything connects, so a bad one costs
  // nothing and touches no file.
  RecordingOutputs outputs(options.outputs);
  if (!options.live.enabled) {
    return record(options, outputs, nullptr);
  }
  // Listening comes next, so an address in use also costs nothing.
  LiveView live(options.live);
  try {
    return record(options, outputs, &live);
  } catch (const std::exception& error) {
    // A run that failed before its end tells its pages why; a page left
    // waiting would look like a run still starting.
    live.fail(error.what());
    throw;
  }
}

}  // namespace bvhost
