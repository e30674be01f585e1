#include "config/configuration_release.h"

#include "config/host_memory.h"

namespace kessra {

// Each step looks into an array only once it is known to be one of the
// plug-in's live arrays, and walks it by the length it was made with: a
// record the host changed or already freed is never read past or after.
// An array leaves the set before its records' texts are released, and is
// itself released after them, so the order of release stays fixed.

void releaseSettingArray(Setting*& settings, std::uint64_t& count) noexcept {
  releaseArray(settings, count, [](Setting* items, std::uint64_t length) {
    for (std::uint64_t i = 0; i < length; ++i) {
      releaseText(items[i].name);
      releaseText(items[i].extraText);
      releaseText(items[i].value.text);
      releaseText(items[i].defaultValue.text);
    }
  });
}

void releaseComponentDescription(ComponentDescription& component) noexcept {
  releaseSettingArray(component.properties, component.propertyCount);
  releaseArray(component.channels, component.channelCount,
               [](ChannelDescription* items, std::uint64_t length) {
                 for (std::uint64_t k = 0; k < length; ++k) {
                   releaseText(items[k].name);
                 }
               });
  releaseText(component.name);
}

void releaseConfiguration(Configuration& config) noexcept {
  releaseSettingArray(config.settings, config.settingCount);
  releaseArray(config.components, config.componentCount,
               [](ComponentDescription* items, std::uint64_t length) {
                 for (std::uint64_t i = 0; i < length; ++i) {
                   releaseComponentDescription(items[i]);
                 }
               });
}

}  // namespace kessra
