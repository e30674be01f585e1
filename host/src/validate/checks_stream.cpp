// Streaming: every block in inventory order with contiguous firstIndex,
// counts that match the reported rates, and a stop that drains.
#include <chrono>
#include <cmath>
#include <functional>
#include <thread>

#include "plugin/plugin_result.h"
#include "plugin/sample_dispatch.h"
#include "validate/checks.h"
#include "validate/stream_audit.h"

namespace bvhost {
namespace {

using Clock = std::chrono::steady_clock;

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
