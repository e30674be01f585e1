// Several streams within one load, as a host runs them between recordings:
// each start waits its second on a monotonic clock, and each stream counts
// every channel's samples from 0 again.
#include <chrono>
#include <thread>

#include "plugin/plugin_result.h"
#include "validate/checks.h"
#include "validate/stream_audit.h"

namespace bvhost {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kStreams = 3;
constexpr auto kStartWait = std::chrono::milliseconds(1000);

std::int64_t millisecondsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

void oneStream(const EntryPoints& api, StreamAudit& audit, int number, Clock::duration length) {
  const std::string which = "stream " + std::to_string(number) + " of " + std::to_string(kStreams);
  audit.restart();
  const auto asked = Clock::now();
  expectSuccess("bv_start_streaming", api.bv_start_streaming());
  const auto returned = Clock::now();
  expect(returned - asked >= kStartWait,
         "bv_start_streaming of " + which + " returned after " +
             std::to_string(millisecondsBetween(asked, returned)) +
             " ms on the monotonic clock; expected at least 1000 ms");
  std::uint64_t frames = 0;
  while (Clock::now() - returned < length) {
    const std::uint64_t delivered = audit.read(api);
    expect(delivered <= 1, which + ": one read call delivered " + std::to_string(delivered) +
                               " frames before any stop; expected at most one");
    frames += delivered;
    if (delivered == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  expect(frames > 0, which + " delivered no frame in " +
                         std::to_string(millisecondsBetween(returned, Clock::now())) + " ms");
  expectSuccess("bv_stop_streaming", api.bv_stop_streaming());
  audit.read(api);
  expect(audit.read(api) == 0, which + ": a read call after the drain still delivered frames");
}

void repeatedStreams(CheckContext& context) {
  const EntryPoints& api = context.api();
  expectSuccess("bv_connect", api.bv_connect(nullptr));
  StreamAudit audit(describedChannels(api));
  expect(!audit.channels().empty(), "the connected device describes no channel to stream");
  for (int number = 1; number <= kStreams; ++number) {
    const auto length = std::chrono::milliseconds(100 + context.random()() % 200);
    oneStream(api, audit, number, length);
  }
  expectSuccess("bv_disconnect", api.bv_disconnect());
}

}  // namespace

std::vector<Check> repeatedStreamChecks() {
  return {
      {"repeated-streams",
       "three streams in one load: each bv_start_streaming returns no sooner than 1000 ms on the "
       "monotonic clock, every channel's firstIndex starts at 0 again, callbacks name the "
       "described channels, and each stop drains",
       &repeatedStreams, 20},
  };
}

}  // namespace bvhost
