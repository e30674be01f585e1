// The exported entry points: each one a small trampoline from the C boundary
// into the C++ core, with every exception stopped by callGuarded.
#include "api/boundary.h"
#include "api/identity.h"
#include "device/device_context.h"
#include "kessra_plugin.h"

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

}  // extern "C"
