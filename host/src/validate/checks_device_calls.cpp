// The interop calls behind each entry point, as the stand-in logs them: a
// refused call touches no device, only a three-setting record configures it,
// start waits its second after orvane_start, and a disconnect while
// streaming stops before it closes.
#include <array>
#include <chrono>
#include <functional>

#include "plugin/plugin_result.h"
#include "validate/checks.h"
#include "validate/device_script.h"
#include "validate/standin_control.h"

namespace bvhost {
namespace {

using Clock = std::chrono::steady_clock;

// Runs one call and holds the stand-in's log of it to what is expected.
class CallLog {
 public:
  explicit CallLog(standin::Script& script) : script_(script) {}

  void expectCalls(const std::string& what, const std::function<PluginResult()>& call,
                   const char* refusal, const std::string& expected) {
    const std::size_t mark = script_.calls.size();
    const PluginResult result = call();
    if (refusal == nullptr) {
      expectSuccess(what.c_str(), result);
    } else {
      expectRefused(what, result, refusal);
    }
    const std::string got = callsFrom(script_, mark);
    expect(got == expected, what + " made the interop calls " + got + "; expected " + expected);
  }

 private:
  standin::Script& script_;
};

// Reads true, false, true, true; a plug-in that configures from a record of
// another length than three shows it in the interop call.
Configuration recordOf(std::array<Setting, 4>& settings, std::uint64_t count) {
  for (std::size_t i = 0; i < settings.size(); ++i) {
    const bool on = i != 1;
    settings[i].name = {"setting", 7};
    settings[i].value = {BV_VALUE_KIND_BOOLEAN, on ? StringRef{"true", 4} : StringRef{"false", 5}};
    settings[i].defaultValue = {BV_VALUE_KIND_BOOLEAN, {"true", 4}};
    settings[i].extraText = {"", 0};
  }
  return {settings.data(), count, nullptr, 0};
}

void expectStartWait(const EntryPoints& api, const standin::Script& script) {
  expectSuccess("bv_start_streaming", api.bv_start_streaming());
  const auto returned = Clock::now();
  expect(script.started, "bv_start_streaming never called orvane_start");
  const auto waited =
      std::chrono::duration_cast<std::chrono::milliseconds>(returned - script.startReturned);
  expect(waited >= std::chrono::milliseconds(1000),
         "bv_start_streaming returned " + std::to_string(waited.count()) +
             " ms after orvane_start on the monotonic clock; expected at least 1000 ms");
}

void deviceCalls(CheckContext& context) {
  standin::Script& script = useStandIn(context);
  describe(script, SensorLayout{{2, 1}, {1926, 148, 148}});
  const EntryPoints& api = context.api();
  const ActionHandler scan = scanHandler(api);
  CallLog log(script);
  log.expectCalls("a refused bv_disconnect while Disconnected", api.bv_disconnect,
                  BV_MESSAGE_NOT_CONNECTED, "(none)");
  log.expectCalls("a refused bv_start_streaming while Disconnected", api.bv_start_streaming,
                  BV_MESSAGE_START_NOT_CONNECTED, "(none)");
  log.expectCalls("a refused bv_stop_streaming while Disconnected", api.bv_stop_streaming,
                  BV_MESSAGE_NOT_STREAMING, "(none)");
  log.expectCalls(
      "bv_connect(NULL)", [&] { return api.bv_connect(nullptr); }, nullptr, "initialize");
  log.expectCalls(
      "a refused second bv_connect", [&] { return api.bv_connect(nullptr); },
      BV_MESSAGE_ALREADY_CONNECTED, "(none)");
  std::array<Setting, 4> settings{};
  for (const std::uint64_t count : {0, 2, 4}) {
    Configuration record = recordOf(settings, count);
    log.expectCalls(
        "the Scan action with a host-built record of " + std::to_string(count) + " settings",
        [&] { return scan(&record); }, nullptr, "scan");
  }
  Configuration three = recordOf(settings, 3);
  log.expectCalls(
      "the Scan action with a host-built record reading true, false, true",
      [&] { return scan(&three); }, nullptr, "scan, configure 1 1 0 1");
  expectStartWait(api, script);
  log.expectCalls("bv_disconnect while Streaming", api.bv_disconnect, nullptr, "stop, close");
  log.expectCalls("a refused bv_disconnect after a disconnect", api.bv_disconnect,
                  BV_MESSAGE_NOT_CONNECTED, "(none)");
}

}  // namespace

std::vector<Check> deviceCallChecks() {
  return {
      {"device-calls",
       "refused calls make no interop call; bv_connect(NULL) only initializes; Scan configures "
       "only with a record of exactly three settings; bv_start_streaming returns 1000 ms or more "
       "after orvane_start; disconnect while streaming stops, then closes",
       &deviceCalls, 10},
  };
}

}  // namespace bvhost
