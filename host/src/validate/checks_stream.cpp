// Streaming: every block in inventory order with contiguous firstIndex,
// counts that match the reported rates, and a stop that drains.
#include <chrono>
#include <cmath>
#include <functional>
#include <thread>

#include "checks.h"
#include "results.h"
#include "sample_dispatch.h"

namespace bvhost {
namespace {

using Clock = std::chrono::steady_clock;

// Audits each callback against the described channels as it arrives.
class StreamAudit : public SampleHandler {
 public:
  explicit StreamAudit(std::vector<ChannelInfo> channels)
      : channels_(std::move(channels)), next_(channels_.size(), 0) {}

  void onBlock(const char* component, const char* channel, const SampleBlock& block) override {
    ++callbacks_;
    expect(component != nullptr && channel != nullptr, "a callback got a null name");
    expect(!channels_.empty(), std::string("a callback for ") + component + " / " + channel +
                                   " although the configuration describes no channel");
    const ChannelInfo& expected = channels_[position_];
    expect(expected.component == component && expected.channel == channel,
           std::string("a callback for ") + component + " / " + channel + " came where " +
               expected.component + " / " + expected.channel +
               " was due: one callback per described channel per frame, in inventory order");
    const std::string label = expected.component + " / " + expected.channel;
    expect(block.kind == 1, label + ": block kind " + std::to_string(block.kind) + ", not 1");
    expect((block.count == 0) == (block.values == nullptr),
           label + ": count " + std::to_string(block.count) + " with values " +
               (block.values == nullptr ? "null" : "non-null"));
    expect(block.firstIndex == next_[position_],
           label + ": firstIndex " + std::to_string(block.firstIndex) + " where " +
               std::to_string(next_[position_]) + " was due (a gap in the channel's stream)");
    volatile float sink = 0.0f;
    for (std::uint64_t i = 0; i < block.count; ++i) {
      sink = block.values[i];
    }
    (void)sink;
    next_[position_] += block.count;
    if (++position_ == channels_.size()) {
      position_ = 0;
      ++frames_;
      if (onFrame) {
        onFrame();
      }
    }
  }

  // Frames delivered by one read call; a call must end on a frame boundary.
  std::uint64_t read(const EntryPoints& api) {
    const std::uint64_t before = frames_;
    expectSuccess("bv_read_samples", readSamples(api, *this));
    expect(position_ == 0, "a read call ended part-way through a frame");
    return frames_ - before;
  }

  void expectRates(double elapsedSeconds) const {
    for (std::size_t i = 0; i < channels_.size(); ++i) {
      const double expected = channels_[i].rate * elapsedSeconds;
      const double slack = 0.1 * expected + 3.0 * static_cast<double>(channels_[i].samplesPerFrame);
      const auto received = static_cast<double>(next_[i]);
      expect(std::fabs(received - expected) <= slack,
             channels_[i].component + " / " + channels_[i].channel + ": " +
                 std::to_string(next_[i]) + " samples in " + std::to_string(elapsedSeconds) +
                 " s of stream time, about " + std::to_string(std::lround(expected)) +
                 " expected from its rate " + std::to_string(channels_[i].rate) + " Hz");
    }
  }

  std::uint64_t callbacks() const { return callbacks_; }
  const std::vector<ChannelInfo>& channels() const { return channels_; }
  std::function<void()> onFrame;

 private:
  std::vector<ChannelInfo> channels_;
  std::vector<std::uint64_t> next_;
  std::size_t position_ = 0;
  std::uint64_t frames_ = 0;
  std::uint64_t callbacks_ = 0;
};

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void shortStream(CheckContext& context) {
  const EntryPoints& api = context.api();
  expectSuccess("bv_connect", api.bv_connect(nullptr));
  StreamAudit audit(describedChannels(api));
  expect(!audit.channels().empty(), "the connected device describes no channel to stream");
  // The length varies with the seed, so a plug-in that only works for some
  // lengths fails on some seed.
  const double seconds = 0.5 + static_cast<double>(context.random()() % 500) / 1000.0;
  const auto start = Clock::now();
  expectSuccess("bv_start_streaming", api.bv_start_streaming());
  const auto started = Clock::now();
  while (secondsSince(started) < seconds) {
    const std::uint64_t frames = audit.read(api);
    expect(frames <= 1, "one read call delivered " + std::to_string(frames) +
                            " frames before any stop; it must deliver at most one");
    if (frames == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  expectState(api, BV_STATE_STREAMING, "while reading");
  expectSuccess("bv_stop_streaming", api.bv_stop_streaming());
  const double elapsed = secondsSince(start);
  audit.read(api);
  expect(audit.read(api) == 0, "after the drain, a further read call still delivered frames");
  expectSuccess("bv_disconnect", api.bv_disconnect());
  audit.expectRates(elapsed);
}

void stopInsideCallback(CheckContext& context) {
  const EntryPoints& api = context.api();
  expectSuccess("bv_connect", api.bv_connect(nullptr));
  StreamAudit audit(describedChannels(api));
  expect(!audit.channels().empty(), "the connected device describes no channel to stream");
  const auto start = Clock::now();
  expectSuccess("bv_start_streaming", api.bv_start_streaming());
  // Let frames pile up, so there is something left to drain after the stop.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  bool stopped = false;
  PluginResult stop{};
  double elapsed = 0.0;
  audit.onFrame = [&] {
    if (!stopped) {
      stopped = true;
      stop = api.bv_stop_streaming();
      elapsed = secondsSince(start);
    }
  };
  const std::uint64_t first = audit.read(api);
  expect(stopped, "the first read call delivered no frame");
  expectSuccess("bv_stop_streaming from inside the callback", stop);
  expectState(api, BV_STATE_CONNECTED, "after a stop from inside the callback");
  const std::uint64_t later = audit.read(api);
  expect(later == 0, "the read call during which the callback stopped delivered " +
                         std::to_string(first) + " frame(s) and returned with " +
                         std::to_string(later) +
                         " more waiting: a stop from inside the callback must turn that call "
                         "into a drain");
  expect(first > 1, "only " + std::to_string(first) +
                        " frame was delivered although frames had piled up for 1.2 s");
  expectSuccess("bv_disconnect", api.bv_disconnect());
  audit.expectRates(elapsed);
}

}  // namespace

std::vector<Check> streamChecks() {
  return {
      {"stream",
       "a short stream: one callback per described channel per frame in inventory order, kind 1, "
       "contiguous firstIndex from 0, at most one frame per read before the stop, counts "
       "consistent with the rates",
       &shortStream, 30},
      {"stop-in-callback",
       "bv_stop_streaming from inside the callback succeeds and that same read call drains "
       "every remaining frame",
       &stopInsideCallback, 30},
  };
}

}  // namespace bvhost
