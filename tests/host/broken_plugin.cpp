// A plug-in built only for the host's tests: the sixteen entry points over a
// tiny timed device, with one rule broken on purpose, chosen at build time,
// so `bvhost validate` must name that rule.
//   BROKEN_RULE 1: a second bv_connect is accepted.
//   BROKEN_RULE 2: firstIndex skips a sample after the tenth frame.
//   BROKEN_RULE 3: bv_read_samples is not exported.
//   BROKEN_RULE 4: bv_connect takes a second and a half.
//   BROKEN_RULE 5: bv_stop_streaming never returns.
//   BROKEN_RULE 6: bv_read_samples fails once 40 frames were delivered.
//   BROKEN_RULE 7: bv_start_streaming waits a fifth of its second.
//   BROKEN_RULE 8: firstIndex does not restart at a second start.
//   BROKEN_RULE 9: bv_read_samples calls through a null callback.
//   BROKEN_RULE 10: a record of two settings is applied.
#include <chrono>
#include <cstring>
#include <thread>

#include "kessra_plugin.h"

#define EXPORTED extern "C" __attribute__((visibility("default")))

namespace {

using Clock = std::chrono::steady_clock;
[[maybe_unused]] constexpr int kSamplesPerFrame = 27;
constexpr auto kFrame = std::chrono::microseconds(13500);

int32_t state = BV_STATE_DISCONNECTED;
bool drain = false;
Clock::time_point started;
Clock::time_point stoppedAt;
uint64_t framesDelivered = 0;
uint64_t delivered = 0;
bool triggers[3] = {true, true, true};
Configuration cached{};

PluginResult ok() { return {0, nullptr}; }
PluginResult fail(const char* message) { return {1, message}; }

StringRef text(const char* value) { return {value, std::strlen(value)}; }

StringRef copy(const char* value) {
  const std::size_t length = std::strlen(value);
  char* data = new char[length + 1];
  std::memcpy(data, value, length + 1);
  return {data, length};
}

PluginResult scan(Configuration* config) {
  if (state == BV_STATE_STREAMING) {
    return fail(BV_MESSAGE_SCAN_WHILE_STREAMING);
  }
#if BROKEN_RULE == 10
  if (config != nullptr && config->settingCount >= 2) {
#else
  if (config != nullptr && config->settingCount == 3) {
#endif
    cached = *config;
    for (int i = 0; i < 3; ++i) {
      triggers[i] = std::strcmp(config->settings[i].value.text.data, "true") == 0;
    }
  }
  return ok();
}

const Action kActions[1] = {{{"Scan", 4}, &scan, nullptr}};

[[maybe_unused]] uint64_t framesDue() {
  const auto end = state == BV_STATE_STREAMING ? Clock::now() : stoppedAt;
  return static_cast<uint64_t>((end - started) / kFrame);
}

void fillSetting(Setting& setting, const char* name, const char* value, bool property) {
  setting.name = copy(name);
  setting.readOnly = property;
  setting.value = {property ? BV_VALUE_KIND_TEXT : BV_VALUE_KIND_BOOLEAN, copy(value)};
  setting.defaultValue = {property ? BV_VALUE_KIND_TEXT : BV_VALUE_KIND_BOOLEAN,
                          copy(property ? "<unknown>" : "true")};
  setting.extraText = copy("");
}

void releaseSettings(Setting*& settings, uint64_t& count) {
  for (uint64_t i = 0; i < count; ++i) {
    for (StringRef* ref : {&settings[i].name, &settings[i].value.text,
                           &settings[i].defaultValue.text, &settings[i].extraText}) {
      delete[] ref->data;
      *ref = {nullptr, 0};
    }
  }
  delete[] settings;
  settings = nullptr;
  count = 0;
}

}  // namespace

EXPORTED PluginResult bv_get_api_version(ApiVersion* version) noexcept {
  if (version == nullptr) return fail(BV_MESSAGE_INVALID_ARGUMENT);
  *version = {0, 7};
  return ok();
}

#define TEXT_QUERY(name, value)                                   \
  EXPORTED PluginResult name(StringRef* out) noexcept {           \
    if (out == nullptr) return fail(BV_MESSAGE_INVALID_ARGUMENT); \
    *out = text(value);                                           \
    return ok();                                                  \
  }
TEXT_QUERY(bv_get_integration_version, "0.0.1")
TEXT_QUERY(bv_get_name, "Broken test plug-in")
TEXT_QUERY(bv_get_description, "breaks one rule")
TEXT_QUERY(bv_get_manufacturer_url, "example.invalid")

EXPORTED PluginResult bv_get_category(int32_t* category) noexcept {
  if (category == nullptr) return fail(BV_MESSAGE_INVALID_ARGUMENT);
  *category = 1;
  return ok();
}

EXPORTED PluginResult bv_get_contracts(ListRecord* contracts) noexcept {
  if (contracts == nullptr) return fail(BV_MESSAGE_INVALID_ARGUMENT);
  *contracts = {nullptr, 0};
  return ok();
}

EXPORTED PluginResult bv_get_actions(ListRecord* actions) noexcept {
  if (actions == nullptr) return fail(BV_MESSAGE_INVALID_ARGUMENT);
  *actions = {kActions, 1};
  return ok();
}

EXPORTED PluginResult bv_get_state(int32_t* out) noexcept {
  if (out == nullptr) return fail(BV_MESSAGE_INVALID_ARGUMENT);
  *out = state;
  return ok();
}

EXPORTED PluginResult bv_connect(Configuration* config) noexcept {
#if BROKEN_RULE != 1
  if (state != BV_STATE_DISCONNECTED) {
    return fail(BV_MESSAGE_ALREADY_CONNECTED);
  }
#endif
  if (state == BV_STATE_STREAMING) {
    return ok();
  }
#if BROKEN_RULE == 4
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
#endif
  scan(config);
  state = BV_STATE_CONNECTED;
  return ok();
}

EXPORTED PluginResult bv_disconnect() noexcept {
  if (state == BV_STATE_DISCONNECTED) {
    return fail(BV_MESSAGE_NOT_CONNECTED);
  }
  if (state == BV_STATE_STREAMING) {
    drain = true;
    stoppedAt = Clock::now();
  }
  state = BV_STATE_DISCONNECTED;
  return ok();
}

EXPORTED PluginResult bv_get_configuration(Configuration* config) noexcept {
  if (config == nullptr) return fail(BV_MESSAGE_INVALID_ARGUMENT);
  if (config->settingCount == 3 && cached.settings != nullptr) {
    *config = cached;
    return ok();
  }
  const uint64_t components = state == BV_STATE_DISCONNECTED ? 0 : 1;
  config->settings = new Setting[3]{};
  config->settingCount = 3;
  config->components = new ComponentDescription[components]{};
  config->componentCount = components;
  const char* names[3] = {"Start Input Trigger", "Stop Input Trigger", "Output Triggers"};
  for (int i = 0; i < 3; ++i) {
    fillSetting(config->settings[i], names[i], triggers[i] ? "true" : "false", false);
  }
  if (components == 1) {
    ComponentDescription& component = config->components[0];
    component.kind = 1;
    component.name = copy("Fake sensor");
    component.channels = new ChannelDescription[1]{};
    component.channelCount = 1;
    component.channels[0] = {copy("C1"), 1, 9, 2000.0f};
    component.properties = new Property[2]{};
    component.propertyCount = 2;
    fillSetting(component.properties[0], "SID", "F-1", true);
    fillSetting(component.properties[1], "Battery Percentage", "100%", true);
  }
  cached = *config;
  return ok();
}

EXPORTED PluginResult bv_free_configuration(Configuration* config) noexcept {
  if (config == nullptr) return ok();
  if (config->settings == cached.settings) {
    cached = {};
  }
  releaseSettings(config->settings, config->settingCount);
  for (uint64_t c = 0; c < config->componentCount; ++c) {
    ComponentDescription& component = config->components[c];
    releaseSettings(component.properties, component.propertyCount);
    for (uint64_t k = 0; k < component.channelCount; ++k) {
      delete[] component.channels[k].name.data;
    }
    delete[] component.channels;
    delete[] component.name.data;
  }
  delete[] config->components;
  *config = {};
  return ok();
}

EXPORTED PluginResult bv_start_streaming() noexcept {
  if (state == BV_STATE_STREAMING) return fail(BV_MESSAGE_ALREADY_STREAMING);
  if (state == BV_STATE_DISCONNECTED) return fail(BV_MESSAGE_START_NOT_CONNECTED);
  started = Clock::now();
  framesDelivered = 0;
#if BROKEN_RULE != 8
  delivered = 0;
#endif
#if BROKEN_RULE == 7
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
#else
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
#endif
  state = BV_STATE_STREAMING;
  return ok();
}

EXPORTED PluginResult bv_stop_streaming() noexcept {
  if (state != BV_STATE_STREAMING) return fail(BV_MESSAGE_NOT_STREAMING);
#if BROKEN_RULE == 5
  for (;;) {
    std::this_thread::sleep_for(std::chrono::seconds(1));
  }
#endif
  drain = true;
  stoppedAt = Clock::now();
  state = BV_STATE_CONNECTED;
  return ok();
}

#if BROKEN_RULE != 3
EXPORTED PluginResult bv_read_samples(SampleCallback callback) noexcept {
#if BROKEN_RULE == 6
  if (framesDelivered >= 40) {
    return fail("Sensor link lost");
  }
#endif
#if BROKEN_RULE != 9
  if (callback == nullptr) return fail(BV_MESSAGE_INVALID_ARGUMENT);
#endif
  for (;;) {
    if (framesDelivered >= framesDue()) {
      drain = false;
      return ok();
    }
    float values[kSamplesPerFrame];
    for (int i = 0; i < kSamplesPerFrame; ++i) {
      values[i] = static_cast<float>(delivered + static_cast<uint64_t>(i)) * 0.001f;
    }
    const SampleBlock block{delivered, 1, values, kSamplesPerFrame};
    callback("Fake sensor", "C1", &block);
    delivered += kSamplesPerFrame;
#if BROKEN_RULE == 2
    if (framesDelivered == 10) {
      ++delivered;
    }
#endif
    ++framesDelivered;
    if (!drain) {
      return ok();
    }
  }
}
#endif
