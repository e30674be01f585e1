// Null pointers to the entry points that take one beyond the identity
// queries: a host bug must come back as a refusal, never as a crash inside
// the plug-in.
#include <chrono>
#include <thread>

#include "plugin/plugin_result.h"
#include "validate/checks.h"

namespace bvhost {
namespace {

void expectRefusedOrDone(const std::string& call, const PluginResult& result) {
  if (result.code == 0) {
    expectSuccess(call.c_str(), result);
    return;
  }
  expectRefused(call, result, BV_MESSAGE_INVALID_ARGUMENT);
}

void refuseNullCallback(const EntryPoints& api, std::int32_t state, const std::string& when) {
  expectRefused("bv_read_samples(NULL) " + when, api.bv_read_samples(nullptr),
                BV_MESSAGE_INVALID_ARGUMENT);
  expectState(api, state, "after bv_read_samples(NULL) " + when);
}

void nullArguments(CheckContext& context) {
  const EntryPoints& api = context.api();
  const ActionHandler scan = scanHandler(api);
  expectRefused("bv_get_configuration(NULL)", api.bv_get_configuration(nullptr),
                BV_MESSAGE_INVALID_ARGUMENT);
  expectRefusedOrDone("bv_free_configuration(NULL)", api.bv_free_configuration(nullptr));
  refuseNullCallback(api, BV_STATE_DISCONNECTED, "while Disconnected");
  expectSuccess("the Scan action with a null configuration", scan(nullptr));
  expectSuccess("bv_connect(NULL), a connect with no configuration", api.bv_connect(nullptr));
  refuseNullCallback(api, BV_STATE_CONNECTED, "while Connected");
  expectSuccess("bv_start_streaming", api.bv_start_streaming());
  // Frames are waiting, so a plug-in that polls before it looks at the
  // callback calls through null.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  refuseNullCallback(api, BV_STATE_STREAMING, "while Streaming with frames waiting");
  expectSuccess("bv_stop_streaming", api.bv_stop_streaming());
  refuseNullCallback(api, BV_STATE_CONNECTED, "while a drain is due");
  drainReads(api);
  expectSuccess("bv_disconnect", api.bv_disconnect());
}

}  // namespace

std::vector<Check> nullArgumentChecks() {
  return {
      {"null-arguments",
       "bv_get_configuration(NULL) and bv_read_samples(NULL) are refused with "
       "\"" BV_MESSAGE_INVALID_ARGUMENT
       "\" in every state, frames waiting included; bv_free_configuration(NULL) is harmless; "
       "bv_connect and Scan accept a null configuration",
       &nullArguments, 15},
  };
}

}  // namespace bvhost
