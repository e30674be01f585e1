// The state machine: every call made in the wrong state is refused with its
// message and changes nothing, and the legal paths can be walked repeatedly.
#include <algorithm>
#include <functional>

#include "plugin/plugin_result.h"
#include "validate/checks.h"

namespace bvhost {
namespace {

struct Misuse {
  std::string call;
  std::function<PluginResult()> make;
  const char* message;
};

// The seed decides the order, so a plug-in whose refusals depend on what
// came before is caught on some seed and reproduced with the same one.
void refuseAll(CheckContext& context, std::vector<Misuse> misuses, std::int32_t state,
               const std::string& stateName) {
  std::shuffle(misuses.begin(), misuses.end(), context.random());
  for (const auto& misuse : misuses) {
    expectRefused(misuse.call + " while " + stateName, misuse.make(), misuse.message);
    expectState(context.api(), state, "after the refused " + misuse.call);
  }
}

void misuseWhileDisconnected(CheckContext& context) {
  const EntryPoints& api = context.api();
  expectState(api, BV_STATE_DISCONNECTED, "after loading");
  refuseAll(
      context,
      {{"bv_disconnect", [&] { return api.bv_disconnect(); }, BV_MESSAGE_NOT_CONNECTED},
       {"bv_start_streaming", [&] { return api.bv_start_streaming(); },
        BV_MESSAGE_START_NOT_CONNECTED},
       {"bv_stop_streaming", [&] { return api.bv_stop_streaming(); }, BV_MESSAGE_NOT_STREAMING}},
      BV_STATE_DISCONNECTED, "Disconnected");
}

void misuseWhileConnected(CheckContext& context) {
  const EntryPoints& api = context.api();
  expectSuccess("bv_connect", api.bv_connect(nullptr));
  expectState(api, BV_STATE_CONNECTED, "after bv_connect");
  refuseAll(
      context,
      {{"bv_connect", [&] { return api.bv_connect(nullptr); }, BV_MESSAGE_ALREADY_CONNECTED},
       {"bv_stop_streaming", [&] { return api.bv_stop_streaming(); }, BV_MESSAGE_NOT_STREAMING}},
      BV_STATE_CONNECTED, "Connected");
  expectSuccess("bv_disconnect", api.bv_disconnect());
  expectState(api, BV_STATE_DISCONNECTED, "after bv_disconnect");
  expectRefused("a second bv_disconnect", api.bv_disconnect(), BV_MESSAGE_NOT_CONNECTED);
}

void misuseWhileStreaming(CheckContext& context) {
  const EntryPoints& api = context.api();
  const ActionHandler scan = scanHandler(api);
  expectSuccess("bv_connect", api.bv_connect(nullptr));
  expectSuccess("bv_start_streaming", api.bv_start_streaming());
  expectState(api, BV_STATE_STREAMING, "after bv_start_streaming");
  refuseAll(context,
            {{"bv_connect", [&] { return api.bv_connect(nullptr); }, BV_MESSAGE_ALREADY_CONNECTED},
             {"bv_start_streaming", [&] { return api.bv_start_streaming(); },
              BV_MESSAGE_ALREADY_STREAMING},
             {"the Scan action", [&] { return scan(nullptr); }, BV_MESSAGE_SCAN_WHILE_STREAMING}},
            BV_STATE_STREAMING, "Streaming");
  expectSuccess("bv_stop_streaming", api.bv_stop_streaming());
  expectState(api, BV_STATE_CONNECTED, "after bv_stop_streaming");
  expectRefused("a second bv_stop_streaming", api.bv_stop_streaming(), BV_MESSAGE_NOT_STREAMING);
  drainReads(api);
  expectSuccess("bv_disconnect", api.bv_disconnect());
  expectState(api, BV_STATE_DISCONNECTED, "after bv_disconnect");
}

void connectScanCycles(CheckContext& context) {
  const EntryPoints& api = context.api();
  const ActionHandler scan = scanHandler(api);
  expectSuccess("the Scan action while Disconnected", scan(nullptr));
  expectState(api, BV_STATE_DISCONNECTED, "after a Scan while Disconnected");
  std::size_t channelCount = 0;
  for (int cycle = 1; cycle <= 20; ++cycle) {
    const std::string when = " in cycle " + std::to_string(cycle);
    expectSuccess("bv_connect", api.bv_connect(nullptr));
    expectState(api, BV_STATE_CONNECTED, "after bv_connect" + when);
    expectSuccess("the Scan action", scan(nullptr));
    expectState(api, BV_STATE_CONNECTED, "after the Scan action" + when);
    const std::size_t channels = describedChannels(api).size();
    if (cycle == 1) {
      channelCount = channels;
    }
    expect(channels == channelCount, "the configuration describes " + std::to_string(channels) +
                                         " channels" + when + ", " + std::to_string(channelCount) +
                                         " in cycle 1");
    expectSuccess("bv_disconnect", api.bv_disconnect());
    expectState(api, BV_STATE_DISCONNECTED, "after bv_disconnect" + when);
  }
}

}  // namespace

std::vector<Check> stateChecks() {
  return {
      {"misuse-disconnected",
       "while Disconnected, bv_disconnect, bv_start_streaming and bv_stop_streaming are refused "
       "with their messages and the state stays 0",
       &misuseWhileDisconnected, 10},
      {"misuse-connected",
       "while Connected, bv_connect and bv_stop_streaming are refused with their messages and "
       "the state stays 1",
       &misuseWhileConnected, 10},
      {"misuse-streaming",
       "while Streaming, bv_connect, bv_start_streaming and Scan are refused with their messages "
       "and the state stays 2",
       &misuseWhileStreaming, 20},
      {"connect-scan-cycles",
       "twenty connect/Scan/disconnect cycles succeed with the states 1, 1, 0 and the same "
       "channels",
       &connectScanCycles, 30},
  };
}

}  // namespace bvhost
