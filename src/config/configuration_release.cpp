#include "config/configuration_release.h"

#include "config/host_memory.h"

namespace kessra {

// Each step looks into an array only once it is known to be one of the
// plug-in's live arrays, and walks it by the length it was made with: a
// record the host changed or already freed is never read past or after.

void releaseSettingArray(Setting*& settings, std::uint64_t& count) noexcept {
  if (const auto length = ownedLength(settings)) {
    for (std::uint64_t i = 0; i < *length; ++i) {
      Setting& setting = settings[i];
      releaseText(setting.name);
      releaseText(setting.extraText);
      releaseText(setting.value.text);
      releaseText(setting.defaultValue.text);
    }
  }
  releaseArray(settings, count);
}

void releaseComponentDescription(ComponentDescription& component) noexcept {
  releaseSettingArray(component.properties, component.propertyCount);
  if (const auto length = ownedLength(component.channels)) {
    for (std::uint64_t k = 0; k < *length; ++k) {
      releaseText(component.channels[k].name);
    }
  }
  releaseArray(component.channels, component.channelCount);
  releaseText(component.name);
}

void releaseConfiguration(Configuration& config) noexcept {
  releaseSettingArray(config.settings, config.settingCount);
  if (const auto length = ownedLength(config.components)) {
    for (std::uint64_t i = 0; i < *length; ++i) {
      releaseComponentDescription(config.components[i]);
    }
  }
  releaseArray(config.components, config.componentCount);
}

}  // namespace kessra
