// The exported entry points: each one a small trampoline from the C boundary
// into the C++ core, with every exception stopped by callGuarded.
#include "api/actions.h"
#include "api/boundary.h"
#include "api/identity.h"
#include "config/configuration_build.h"
#include "config/configuration_release.h"
#include "config/configuration_store.h"
#include "device/device_context.h"
#include "kessra_plugin.h"
#include "session/connection.h"
#include "streaming/streaming.h"

using namespace kessra;

namespace {

template <typename Out, typename Value>
PluginResult writeTo(Out* out, const Value& value) noexcept {
  if (out == nullptr) {
    return failure(BV_MESSAGE_INVALID_ARGUMENT);
  }
  *out = value;
  return success();
}

}  // namespace

extern "C" {

PluginResult bv_get_api_version(ApiVersion* version) noexcept {
  return writeTo(version, kApiVersion);
}

PluginResult bv_get_integration_version(StringRef* version) noexcept {
  return writeTo(version, integrationVersionText());
}

PluginResult bv_get_name(StringRef* name) noexcept { return writeTo(name, deviceNameText()); }

PluginResult bv_get_description(StringRef* description) noexcept {
  return writeTo(description, descriptionText());
}

PluginResult bv_get_manufacturer_url(StringRef* url) noexcept {
  return writeTo(url, manufacturerUrlText());
}

PluginResult bv_get_category(int32_t* category) noexcept { return writeTo(category, kCategory); }

PluginResult bv_get_contracts(ListRecord* contracts) noexcept {
  return writeTo(contracts, ListRecord{nullptr, 0});
}

PluginResult bv_get_state(int32_t* state) noexcept {
  return writeTo(state, static_cast<int32_t>(deviceContext().state.load()));
}

PluginResult bv_get_actions(ListRecord* actions) noexcept { return writeTo(actions, actionList()); }

PluginResult bv_connect(Configuration* config) noexcept {
  return callGuarded([config] { return toResult(connect(config)); });
}

PluginResult bv_disconnect(void) noexcept {
  return callGuarded([] { return toResult(disconnect()); });
}

PluginResult bv_get_configuration(Configuration* config) noexcept {
  if (config == nullptr) {
    return failure(BV_MESSAGE_INVALID_ARGUMENT);
  }
  return callGuarded([config] {
    getConfiguration(*config);
    return success();
  });
}

PluginResult bv_free_configuration(Configuration* config) noexcept {
  if (config != nullptr) {
    forgetIfCached(*config);
    releaseConfiguration(*config);
  }
  return success();
}

PluginResult bv_start_streaming(void) noexcept {
  return callGuarded([] { return toResult(startStreaming()); });
}

PluginResult bv_stop_streaming(void) noexcept {
  return callGuarded([] { return toResult(stopStreaming()); });
}

PluginResult bv_read_samples(SampleCallback callback) noexcept {
  if (callback == nullptr) {
    return failure(BV_MESSAGE_INVALID_ARGUMENT);
  }
  return callGuarded([callback] {
    readSamples(callback);
    return success();
  });
}

}  // extern "C"
