#include "config/configuration_release.h"

#include "config/host_memory.h"

namespace kessra {

void releaseSettingArray(Setting*& settings, std::uint64_t& count) noexcept {
  for (std::uint64_t i = 0; settings != nullptr && i < count; ++i) {
    Setting& setting = settings[i];
    releaseText(setting.name);
    releaseText(setting.extraText);
    releaseText(setting.value.text);
    releaseText(setting.defaultValue.text);
  }
  releaseArray(settings, count);
}

void releaseComponentDescription(ComponentDescription& component) noexcept {
  releaseSettingArray(component.properties, component.propertyCount);
  for (std::uint64_t k = 0; component.channels != nullptr && k < component.channelCount; ++k) {
    releaseText(component.channels[k].name);
  }
  releaseArray(component.channels, component.channelCount);
  releaseText(component.name);
}

void releaseConfiguration(Configuration& config) noexcept {
  releaseSettingArray(config.settings, config.settingCount);
  for (std::uint64_t i = 0; config.components != nullptr && i < config.componentCount; ++i) {
    releaseComponentDescription(config.components[i]);
  }
  releaseArray(config.components, config.componentCount);
}

}  // namespace kessra
