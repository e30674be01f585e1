#include "app/info_command.h"

#include <cstdio>

#include "base/exit_codes.h"
#include "base/units.h"
#include "plugin/channel_layout.h"
#include "plugin/plugin_configuration.h"
#include "plugin/plugin_loader.h"
#include "plugin/plugin_result.h"

namespace bvhost {
namespace {

void printText(const char* label, PluginResult (*query)(StringRef*) noexcept) {
  StringRef text{};
  const PluginResult result = query(&text);
  if (succeeded(result)) {
    std::printf("%-20s %.*s\n", label, static_cast<int>(text.length), text.data);
  } else {
    std::printf("%-20s (refused: %s)\n", label, describe(result).c_str());
  }
}

const char* stateName(std::int32_t state) {
  switch (state) {
    case BV_STATE_DISCONNECTED:
      return "Disconnected";
    case BV_STATE_CONNECTED:
      return "Connected";
    case BV_STATE_STREAMING:
      return "Streaming";
  }
  return "unknown";
}

void printSettings(const Configuration& config) {
  std::printf("\nSettings\n");
  for (std::uint64_t i = 0; i < config.settingCount && config.settings != nullptr; ++i) {
    const Setting& setting = config.settings[i];
    const std::string name(view(setting.name));
    const std::string value(view(setting.value.text));
    const std::string fallback(view(setting.defaultValue.text));
    std::printf("  %-22s %-6s (default %s%s)\n", name.c_str(), value.c_str(), fallback.c_str(),
                setting.readOnly ? ", read-only" : "");
  }
}

void printComponents(const Configuration& config) {
  std::printf("\nSensors: %llu\n", static_cast<unsigned long long>(config.componentCount));
  for (std::uint64_t c = 0; c < config.componentCount && config.components != nullptr; ++c) {
    const ComponentDescription& component = config.components[c];
    const std::string name(view(component.name));
    std::printf("\n  %llu. %s\n", static_cast<unsigned long long>(c + 1), name.c_str());
    for (std::uint64_t p = 0; p < component.propertyCount && component.properties != nullptr; ++p) {
      const std::string key(view(component.properties[p].name));
      const std::string value(view(component.properties[p].value.text));
      std::printf("     %-20s %s\n", (key + ":").c_str(), value.c_str());
    }
    std::printf("     %-12s %-12s %10s %14s\n", "channel", "unit", "rate/Hz", "samples/frame");
    for (std::uint64_t k = 0; k < component.channelCount && component.channels != nullptr; ++k) {
      const ChannelDescription& channel = component.channels[k];
      const std::string channelName(view(channel.name));
      std::printf("     %-12s %-12s %10.2f %14llu\n", channelName.c_str(),
                  unitLabel(channel.unit).c_str(), static_cast<double>(channel.rate),
                  static_cast<unsigned long long>(samplesPerFrame(channel.rate)));
    }
  }
}

}  // namespace

int runInfo(const std::string& pluginPath) {
  Plugin plugin(pluginPath, true);
  const EntryPoints& api = plugin.api();

  std::printf("%-20s %s\n", "Plug-in", pluginPath.c_str());
  printText("Name", api.bv_get_name);
  printText("Description", api.bv_get_description);
  printText("Integration version", api.bv_get_integration_version);
  ApiVersion version{};
  if (succeeded(api.bv_get_api_version(&version))) {
    std::printf("%-20s %d.%d\n", "API version", version.major, version.minor);
  }
  printText("Manufacturer", api.bv_get_manufacturer_url);
  std::int32_t category = 0;
  if (succeeded(api.bv_get_category(&category))) {
    std::printf("%-20s %d\n", "Category", category);
  }
  ListRecord contracts{};
  if (succeeded(api.bv_get_contracts(&contracts))) {
    std::printf("%-20s %llu\n", "Contracts", static_cast<unsigned long long>(contracts.count));
  }
  ListRecord actions{};
  if (succeeded(api.bv_get_actions(&actions))) {
    std::string names;
    const auto* table = static_cast<const Action*>(actions.items);
    for (std::uint64_t i = 0; i < actions.count && table != nullptr; ++i) {
      names += (names.empty() ? "" : ", ") + std::string(view(table[i].name));
    }
    std::printf("%-20s %s\n", "Actions", names.empty() ? "(none)" : names.c_str());
  }
  std::int32_t state = -1;
  if (succeeded(api.bv_get_state(&state))) {
    std::printf("%-20s %d (%s)\n", "State", state, stateName(state));
  }

  require("bv_connect", api.bv_connect(nullptr));
  try {
    PluginConfiguration config(api);
    printSettings(config.record());
    printComponents(config.record());
  } catch (...) {
    api.bv_disconnect();
    throw;
  }
  require("bv_disconnect", api.bv_disconnect());
  return kExitOk;
}

}  // namespace bvhost
