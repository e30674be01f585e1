#include "plugin/plugin_configuration.h"

#include <cstring>

#include "plugin/plugin_result.h"

namespace bvhost {

PluginConfiguration::PluginConfiguration(const EntryPoints& api) : api_(api) {
  require("bv_get_configuration", api_.bv_get_configuration(&record_));
}

PluginConfiguration::~PluginConfiguration() { api_.bv_free_configuration(&record_); }

PluginResult connectWithTriggers(const EntryPoints& api, const TriggerOptions& triggers) {
  PluginConfiguration tree(api);
  Configuration& config = tree.record();
  if (config.settingCount != 3 || config.settings == nullptr) {
    return api.bv_connect(&config);
  }
  return connectWithTriggers(api, config, triggers);
}

PluginResult connectWithTriggers(const EntryPoints& api, Configuration& tree,
                                 const TriggerOptions& triggers) {
  const bool wanted[3] = {triggers.startInput, triggers.stopInput, triggers.outputTriggers};
  StringRef original[3];
  for (int i = 0; i < 3; ++i) {
    original[i] = tree.settings[i].value.text;
    const char* text = wanted[i] ? "true" : "false";
    tree.settings[i].value.text = StringRef{text, std::strlen(text)};
  }
  const PluginResult result = api.bv_connect(&tree);
  for (int i = 0; i < 3; ++i) {
    tree.settings[i].value.text = original[i];
  }
  return result;
}

}  // namespace bvhost
