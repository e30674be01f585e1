#include "recorder.h"

#include <time.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <ctime>

#include "channel_layout.h"
#include "exit_codes.h"
#include "output_target.h"
#include "plugin_loader.h"
#include "progress.h"
#include "read_pacing.h"
#include "results.h"
#include "sample_dispatch.h"
#include "stop_signal.h"
#include "stream_stats.h"

namespace bvhost {
namespace {

using Clock = std::chrono::steady_clock;

// The drain after a stop ends when a read delivers nothing; the bound only
// guards against a plug-in that never runs dry.
constexpr int kMaxDrainReads = 100000;

class RecordingSink : public SampleHandler {
 public:
  RecordingSink(const std::vector<ChannelInfo>& channels,
                std::vector<std::unique_ptr<SampleWriter>>& writers)
      : router_(channels), stats_(channels), writers_(writers) {}

  void onBlock(const char* component, const char* channel, const SampleBlock& block) override {
    ++blocks_;
    const auto index = router_.route(component, channel);
    if (!index) {
      stats_.noteUnknownBlock(component, channel);
      return;
    }
    stats_.add(*index, block);
    // A block of no samples still reaches the writers: it is how a dropout
    // shows, and the EDF writer annotates it.
    if (block.count == 0 || block.values != nullptr) {
      for (auto& writer : writers_) {
        writer->write(*index, block.firstIndex, block.values, block.count);
      }
    }
  }

  // Returns the number of callbacks the read made.
  std::uint64_t read(const EntryPoints& api) {
    const std::uint64_t before = blocks_;
    router_.beginRead();
    readSamples(api, *this);
    return blocks_ - before;
  }

  const StreamStats& stats() const { return stats_; }
  std::uint64_t frames() const { return router_.frames(); }

 private:
  ChannelRouter router_;
  StreamStats stats_;
  std::vector<std::unique_ptr<SampleWriter>>& writers_;
  std::uint64_t blocks_ = 0;
};

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

}  // namespace

int runRecord(const RecordOptions& options) {
  // A bad output found only after connecting would have had the device
  // started, and earlier outputs opened, for nothing.
  std::vector<OutputFile> outputs = options.outputs;
  checkOutputs(outputs);

  Plugin plugin(options.plugin, true);
  const EntryPoints& api = plugin.api();

  RecordingInfo info;
  info.pluginName = identityText(api.bv_get_name);
  info.pluginVersion = identityText(api.bv_get_integration_version);
  info.start = std::time(nullptr);

  // From before connecting, which can take long: a stop asked for then still
  // leaves complete files instead of none or empty ones.
  StopSignals signals;
  require("bv_connect", connectWithTriggers(api, options.triggers));
  std::vector<ChannelInfo> channels;
  {
    PluginConfiguration config(api);
    channels = channelLayout(config.record());
  }

  std::vector<std::unique_ptr<SampleWriter>> writers;
  try {
    for (const auto& output : options.outputs) {
      writers.push_back(openWriter(output.format, output.path, channels, info));
    }
  } catch (...) {
    api.bv_disconnect();
    throw;
  }
  RecordingSink sink(channels, writers);
  ProgressLine progress;
  int exitCode = kExitOk;
  std::exception_ptr failure;

  // The device produces data from the moment start is called, a second
  // before the call returns, so stream time is counted from before it.
  const auto streamStart = Clock::now();
  const PluginResult started = api.bv_start_streaming();
  if (!succeeded(started)) {
    api.bv_disconnect();
    throw Refused("bv_start_streaming", started);
  }
  const auto streamEnd = streamStart + std::chrono::duration_cast<Clock::duration>(
                                           std::chrono::duration<double>(options.seconds));
  ReadPacing pacing;
  try {
    for (;;) {
      const auto before = Clock::now();
      if (StopSignals::received() != 0 || before >= streamEnd) {
        break;
      }
      const bool delivered = sink.read(api) > 0;
      const auto after = Clock::now();
      pacing.noteRead(before, after, delivered);
      // A read that delivered is followed at once by the next, so a backlog
      // drains quickly.
      if (!delivered) {
        sleepFor(std::min(pacing.nextRead(after), streamEnd) - after);
      }
      if (progress.enabled()) {
        progress.update(secondsSince(streamStart), sink.frames(), sink.stats().totalSamples());
      }
    }
  } catch (...) {
    failure = std::current_exception();
  }
  const PluginResult stopped = api.bv_stop_streaming();
  const double elapsed = secondsSince(streamStart);
  progress.finish();
  if (!failure) {
    try {
      for (int i = 0; i < kMaxDrainReads && sink.read(api) > 0; ++i) {
      }
    } catch (...) {
      failure = std::current_exception();
    }
  }
  api.bv_disconnect();

  for (auto& writer : writers) {
    try {
      writer->close();
    } catch (...) {
      if (!failure) {
        failure = std::current_exception();
      }
    }
  }
  if (failure) {
    std::rethrow_exception(failure);
  }
  for (const auto& writer : writers) {
    for (const auto& note : writer->notes()) {
      std::fprintf(stderr, "note: %s\n", note.c_str());
    }
    std::printf("Wrote %s\n", writer->path().c_str());
  }
  if (!succeeded(stopped)) {
    std::fprintf(stderr, "warning: bv_stop_streaming failed: %s\n", describe(stopped).c_str());
  }
  std::fputs(sink.stats().summary(elapsed, sink.frames()).c_str(), stdout);
  std::fflush(stdout);

  if (sink.stats().totalGaps() > 0 || sink.stats().unknownBlocks() > 0) {
    exitCode = kExitRuleBroken;
  } else if (StopSignals::received() == SIGINT) {
    std::fprintf(stderr, "stopped by SIGINT; the files are complete\n");
    exitCode = kExitInterrupted;
  } else if (StopSignals::received() == SIGTERM) {
    std::fprintf(stderr, "stopped by SIGTERM; the files are complete\n");
    exitCode = kExitTerminated;
  }
  return exitCode;
}

}  // namespace bvhost
