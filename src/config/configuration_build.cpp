#include "config/configuration_build.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "config/configuration_release.h"
#include "config/configuration_store.h"
#include "config/host_memory.h"
#include "device/device_context.h"
#include "orvane_interop.h"

namespace kessra {

namespace {

constexpr std::uint64_t kSettingCount = 3;
constexpr std::int32_t kComponentKind = 1;
constexpr std::int32_t kChannelKind = 1;
constexpr std::string_view kTrue = "true";
constexpr std::string_view kFalse = "false";
constexpr std::string_view kSettingNames[kSettingCount] = {"Start Input Trigger",
                                                           "Stop Input Trigger", "Output Triggers"};

// Releases a partly built tree if building it fails half way.
template <typename Tree, void (*release)(Tree&) noexcept>
class ReleaseUnlessKept {
 public:
  explicit ReleaseUnlessKept(Tree& tree) noexcept : tree_(tree) {}
  ReleaseUnlessKept(const ReleaseUnlessKept&) = delete;
  ReleaseUnlessKept& operator=(const ReleaseUnlessKept&) = delete;
  ~ReleaseUnlessKept() {
    if (!kept_) {
      release(tree_);
    }
  }
  void keep() noexcept { kept_ = true; }

 private:
  Tree& tree_;
  bool kept_ = false;
};

void fillSetting(Setting& setting, std::string_view name, bool readOnly, std::int32_t kind,
                 std::string_view value, std::string_view defaultValue) {
  setting.name = copyText(name);
  setting.readOnly = readOnly;
  setting.value.kind = kind;
  setting.value.text = copyText(value);
  setting.defaultValue.kind = kind;
  setting.defaultValue.text = copyText(defaultValue);
  setting.extraText = copyText("");
}

void fillProperty(Setting& property, std::string_view name, std::string_view value) {
  fillSetting(property, name, true, BV_VALUE_KIND_TEXT, value, kUnknownText);
}

// The build relies on one description per inventory entry; a negative count
// or a count beyond the inventory must not reach an allocation or a lookup.
std::uint64_t componentCountToBuild() noexcept {
  const std::int32_t sensorCount = deviceContext().metadata.sensorCount;
  const auto listed = static_cast<std::uint64_t>(std::max<std::int32_t>(sensorCount, 0));
  return std::min<std::uint64_t>(listed, inventory().size());
}

Configuration buildConfiguration() {
  const ConfigurationStore& store = configurationStore();
  const bool options[kSettingCount] = {store.startInputTrigger, store.stopInputTrigger,
                                       store.outputTriggers};
  Configuration built{};
  ReleaseUnlessKept<Configuration, releaseConfiguration> guard(built);
  const std::uint64_t componentCount = componentCountToBuild();
  built.settings = allocateArray<Setting>(kSettingCount);
  built.settingCount = kSettingCount;
  built.components = allocateArray<ComponentDescription>(componentCount);
  built.componentCount = componentCount;
  for (std::uint64_t i = 0; i < kSettingCount; ++i) {
    fillSetting(built.settings[i], kSettingNames[i], false, BV_VALUE_KIND_BOOLEAN,
                options[i] ? kTrue : kFalse, kTrue);
  }
  for (std::uint64_t i = 0; i < componentCount; ++i) {
    built.components[i] = buildComponentDescription(inventory()[i]);
  }
  guard.keep();
  return built;
}

bool isTrue(const Setting& setting) noexcept {
  const char* text = setting.value.text.data;
  return text != nullptr && std::strcmp(text, kTrue.data()) == 0;
}

}  // namespace

float channelRate(std::uint64_t samplesPerFrame) noexcept {
  return static_cast<float>(static_cast<double>(samplesPerFrame) * kFramesPerSecond);
}

ComponentDescription buildComponentDescription(const SensorComponent& component) {
  ComponentDescription description{};
  ReleaseUnlessKept<ComponentDescription, releaseComponentDescription> guard(description);
  description.kind = kComponentKind;
  description.name = copyText(component.name);
  description.channels = allocateArray<ChannelDescription>(component.channels.size());
  description.channelCount = component.channels.size();
  description.properties = allocateArray<Setting>(2);
  description.propertyCount = 2;
  fillProperty(description.properties[0], "SID", component.sid);
  fillProperty(description.properties[1], "Battery Percentage", component.battery + "%");
  for (std::size_t k = 0; k < component.channels.size(); ++k) {
    const SensorChannel& channel = component.channels[k];
    ChannelDescription& out = description.channels[k];
    out.name = copyText(channel.name);
    out.kind = kChannelKind;
    out.unit = channel.unit;
    out.rate = channelRate(channel.samplesPerFrame);
  }
  guard.keep();
  return description;
}

void getConfiguration(Configuration& config) {
  ConfigurationStore& store = configurationStore();
  if (config.settingCount == kSettingCount && store.cacheValid) {
    config = store.cachedConfiguration;
    return;
  }
  config = buildConfiguration();
  rememberConfiguration(config);
}

void applyConfiguration(const Configuration* config) {
  if (config == nullptr || config->settingCount != kSettingCount || config->settings == nullptr) {
    return;
  }
  rememberConfiguration(*config);
  ConfigurationStore& store = configurationStore();
  store.startInputTrigger = isTrue(config->settings[0]);
  store.stopInputTrigger = isTrue(config->settings[1]);
  store.outputTriggers = isTrue(config->settings[2]);
  orvane_configure(true, store.startInputTrigger, store.stopInputTrigger, store.outputTriggers);
}

}  // namespace kessra
