#include "recording/recorder.h"

#include <time.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <limits>
#include <optional>

#include "base/exit_codes.h"
#include "files/partial_file.h"
#include "live/live_view.h"
#include "plugin/channel_layout.h"
#include "plugin/plugin_loader.h"
#include "plugin/plugin_result.h"
#include "recording/progress.h"
#include "recording/read_pacing.h"
#include "recording/recording_frames.h"
#include "recording/recording_sink.h"
#include "recording/stop_signal.h"
#include "recording/stream_stats.h"

namespace bvhost {
namespace {

using Clock = std::chrono::steady_clock;

// The drain after a stop ends when a read delivers nothing; the bound only
// guards against a plug-in that never runs dry.
constexpr int kMaxDrainReads = 100000;
// How often what was written is put on the disk, which bounds what a kill
// or a power loss can take, and how late a write error is noticed.
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

constexpr std::size_t kViewSilencesPerSensor = 20;

std::uint64_t keptFrames(const RecordingFrames& frames) {
  return std::min(frames.frames(), frames.frameLimit());
}

ViewStatus viewStatus(const RecordingFrames& frames, Clock::time_point streamStart, double seconds,
                      bool writing) {
  ViewStatus status;
  status.elapsedSeconds = secondsSince(streamStart);
  status.targetSeconds = seconds;
  status.frames = keptFrames(frames);
  status.writing = writing;
  const SilenceTracker& silences = frames.stats().silences();
  for (std::size_t sensor = 0; sensor < silences.sensors(); ++sensor) {
    // The latest only: a sensor that drops out again and again for hours
    // must not make every status larger than the last.
    const auto& all = silences.silences(sensor);
    const std::size_t shown = std::min<std::size_t>(all.size(), kViewSilencesPerSensor);
    status.silences.emplace_back(all.end() - static_cast<std::ptrdiff_t>(shown), all.end());
    status.silenceCounts.push_back(all.size());
    status.openSilenceOnset.push_back(silences.openOnset(sensor).value_or(-1.0));
  }
  return status;
}

// What the live view is told of the plug-in and its sensors.
ViewSetup viewSetup(const RecordingInfo& info, const Configuration& config,
                    const std::vector<ChannelInfo>& channels,
                    const std::vector<OutputFile>& files) {
  ViewSetup setup;
  setup.plugin = info.pluginName + " " + info.pluginVersion;
  for (const auto& file : files) {
    setup.outputs.push_back(file.path);
  }
  for (std::uint64_t c = 0; c < config.componentCount && config.components != nullptr; ++c) {
    const ComponentDescription& component = config.components[c];
    ViewSensor sensor{std::string(view(component.name)), {}};
    for (std::uint64_t p = 0; p < component.propertyCount && component.properties != nullptr; ++p) {
      sensor.properties.emplace_back(view(component.properties[p].name),
                                     view(component.properties[p].value.text));
    }
    setup.sensors.push_back(std::move(sensor));
  }
  setup.channels = channels;
  return setup;
}

// Streams until the time is up, a stop signal comes, a read is refused or a
// file fails. Returns the failure, if any; the caller stops and completes.
std::exception_ptr stream(const EntryPoints& api, RecordingSink& sink, RecordingFrames& frames,
                          std::vector<std::unique_ptr<SampleWriter>>& writers,
                          const std::vector<PartialFile>& partials, LiveTap* tap,
                          Clock::time_point streamStart, double seconds) {
  // Until the last frame asked for has been read. It is due when its window
  // ends, but a loaded machine (or device) can hand it over a little later,
  // and a stop then would leave the recording a frame short; a device that
  // delivers nothing more is given up on a second after it.
  const double frameTime =
      static_cast<double>(frames.frameLimit()) * kFramePeriodSeconds + kLastFrameGraceSeconds;
  const auto streamEnd = seconds <= 0.0
                             ? Clock::time_point::max()
                             : streamStart + std::chrono::duration_cast<Clock::duration>(
                                                 std::chrono::duration<double>(frameTime));
  ProgressLine progress;
  ReadPacing pacing;
  auto nextSync = Clock::now() + kSyncInterval;
  std::exception_ptr failure;
  try {
    for (;;) {
      const auto before = Clock::now();
      // A device running behind the host's clock (its start, its clock)
      // is given that much longer for its last frame.
      const auto end =
          streamEnd == Clock::time_point::max()
              ? streamEnd
              : streamEnd + std::chrono::duration_cast<Clock::duration>(
                                std::chrono::duration<double>(sink.expectedLagSeconds()));
      if (StopSignals::received() != 0 || before >= end || sink.frames() >= frames.frameLimit()) {
        break;
      }
      const double beganSeconds = std::chrono::duration<double>(before - streamStart).count();
      const bool delivered = sink.read(api, beganSeconds) > 0;
      const auto after = Clock::now();
      pacing.noteRead(before, after, delivered);
      if (tap != nullptr) {
        tap->afterRead();
      }
      // Every frame due when this read began was there to be read.
      if (!delivered) {
        sink.caughtUp(beganSeconds);
      }
      if (after >= nextSync) {
        for (const auto& partial : partials) {
          partial.checkInPlace();
        }
        for (auto& writer : writers) {
          writer->sync();
        }
        nextSync = after + kSyncInterval;
      }
      // A read that delivered is followed at once by the next, so a backlog
      // drains quickly.
      if (!delivered) {
        sleepFor(std::min(pacing.nextRead(after), end) - after);
      }
      if (tap != nullptr && tap->statusDue(after)) {
        tap->offerStatus(viewStatus(frames, streamStart, seconds, !writers.empty()), after);
      }
      if (progress.enabled()) {
        progress.update(secondsSince(streamStart), seconds, keptFrames(frames),
                        frames.stats().totalSamples());
      }
    }
  } catch (...) {
    failure = std::current_exception();
  }
  progress.finish();
  return failure;
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

// Completes every file and puts each complete one in place of its target;
// one that failed stays under its partial name, readable, and the target is
// left as it was. Then the notes, the summary and the outcome.
int finishRecording(const std::vector<OutputFile>& files, std::vector<PartialFile>& partials,
                    std::vector<std::unique_ptr<SampleWriter>>& writers, RecordingFrames& frames,
                    std::exception_ptr failure, const PluginResult& stopped, double elapsed,
                    const RecordOptions& options) {
  std::vector<std::string> wrote;
  std::vector<std::string> kept;
  std::vector<std::string> lost;  // deleted or replaced under their name
  for (std::size_t i = 0; i < writers.size(); ++i) {
    try {
      writers[i]->close();
      partials[i].commit();
      wrote.push_back(files[i].path);
    } catch (...) {
      // Whatever went wrong, what was recorded stays on the disk: a partial
      // file is removed only when nothing was recorded into it.
      partials[i].keep();
      if (partials[i].committed()) {
        // In place already: only what followed the move (its folder's sync)
        // failed, which the failure says.
        wrote.push_back(files[i].path);
      } else if (partials[i].inPlace()) {
        kept.push_back(partials[i].path() + " (" + partials[i].finalPath() + " left as it was)");
      } else {
        lost.push_back(partials[i].path());
      }
      if (!failure) {
        failure = std::current_exception();
      }
    }
  }
  for (const auto& writer : writers) {
    for (const auto& note : writer->notes()) {
      std::fprintf(stderr, "note: %s\n", note.c_str());
    }
  }
  for (const auto& path : wrote) {
    std::printf("Wrote %s\n", path.c_str());
  }
  if (!succeeded(stopped)) {
    std::fprintf(stderr, "warning: bv_stop_streaming failed: %s\n", describe(stopped).c_str());
  }
  // With every frame asked for, the files hold exactly that time, which the
  // wall clock (a stop comes late by a read or two) would misstate; a run
  // cut short keeps the wall clock, so the summary shows what is missing.
  const std::uint64_t keptCount = keptFrames(frames);
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
  std::fflush(stdout);
  for (const auto& path : kept) {
    std::fprintf(stderr, "bvhost: what was written is kept, readable, in %s\n", path.c_str());
  }
  for (const auto& path : lost) {
    std::fprintf(stderr,
                 "bvhost: %s was deleted or replaced while recording; what it held is not on "
                 "the disk, and its target was left as it was\n",
                 path.c_str());
  }
  if (failure) {
    std::rethrow_exception(failure);
  }
  return exitCodeAfter(frames.stats(), !files.empty());
}

// Connects, streams and completes the files; `live`, when there is one,
// gets the stream and is told how the run ended.
int record(const RecordOptions& options, std::vector<OutputFile>& files,
           std::vector<PartialFile>& partials, LiveView* live) {
  Plugin plugin(options.plugin, true);
  const EntryPoints& api = plugin.api();

  RecordingInfo info;
  info.pluginName = identityText(api.bv_get_name);
  info.pluginVersion = identityText(api.bv_get_integration_version);

  // From before connecting, which can take long: a stop asked for then still
  // leaves complete files instead of none or empty ones.
  StopSignals signals;
  for (const auto& partial : partials) {
    signals.addPartialFile(partial.path());
  }
  require("bv_connect", connectWithTriggers(api, options.triggers));
  std::vector<ChannelInfo> channels;
  std::vector<std::unique_ptr<SampleWriter>> writers;
  try {
    PluginConfiguration config(api);
    channels = channelLayout(config.record());
    if (live) {
      live->begin(viewSetup(info, config.record(), channels, files));
    }
  } catch (...) {
    api.bv_disconnect();
    throw;
  }

  // The device produces data from the moment start is called, a second
  // before the call returns, so the stream and its first frame begin here.
  info.start = std::chrono::system_clock::now();
  const auto streamStart = Clock::now();
  const PluginResult started = api.bv_start_streaming();
  if (!succeeded(started)) {
    api.bv_disconnect();
    throw Refused("bv_start_streaming", started);
  }
  try {
    for (std::size_t i = 0; i < files.size(); ++i) {
      writers.push_back(openWriter(files[i].format, partials[i].descriptor(), partials[i].path(),
                                   channels, info));
    }
  } catch (...) {
    api.bv_stop_streaming();
    api.bv_disconnect();
    throw;
  }
  LiveTap* tap = live ? live->tap() : nullptr;
  RecordingFrames frames(channels, writers, framesFor(options.seconds), tap);
  RecordingSink sink(channels, frames);
  std::exception_ptr failure =
      stream(api, sink, frames, writers, partials, tap, streamStart, options.seconds);
  const double elapsed = secondsSince(streamStart);
  const PluginResult stopped = api.bv_stop_streaming();
  if (!failure) {
    try {
      for (int i = 0; i < kMaxDrainReads && sink.read(api, secondsSince(streamStart)) > 0; ++i) {
      }
    } catch (...) {
      failure = std::current_exception();
    }
  }
  api.bv_disconnect();
  signals.beginFinishing();
  // What was read reaches the files whatever ended the run; frames lost on
  // the way are judged only when the drain ran to its end.
  try {
    sink.finish(!failure);
    frames.finish();
  } catch (...) {
    if (!failure) {
      failure = std::current_exception();
    }
  }
  if (!live) {
    return finishRecording(files, partials, writers, frames, failure, stopped, elapsed, options);
  }
  // The page learns the run is over only once the files are complete, and
  // learns how it ended.
  ViewStatus last = viewStatus(frames, streamStart, options.seconds, false);
  try {
    const int code =
        finishRecording(files, partials, writers, frames, failure, stopped, elapsed, options);
    last = viewStatus(frames, streamStart, options.seconds, false);
    if (code == kExitRuleBroken) {
      last.failure = "the plug-in broke a rule while streaming; bvhost's summary says where";
    }
    live->end(std::move(last));
    return code;
  } catch (const std::exception& error) {
    last.failure = error.what();
    live->end(std::move(last));
    throw;
  }
}

}  // namespace

int runRecord(const RecordOptions& options) {
  // Every output is checked before anything connects, so a bad one costs
  // nothing and touches no file.
  std::vector<OutputFile> files = options.outputs;
  checkOutputs(files);
  std::vector<PartialFile> partials = claimOutputs(files);
  if (!options.live.enabled) {
    return record(options, files, partials, nullptr);
  }
  // Listening comes next, so an address in use also costs nothing.
  LiveView live(options.live);
  try {
    return record(options, files, partials, &live);
  } catch (const std::exception& error) {
    // A run that failed before its end tells its pages why; a page left
    // waiting would look like a run still starting.
    live.fail(error.what());
    throw;
  }
}

}  // namespace bvhost
