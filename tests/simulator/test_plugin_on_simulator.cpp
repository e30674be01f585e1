// The built plug-in, loaded by path as a host loads it, finding the
// simulator beside it and describing the default station.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "kessra_plugin.h"

namespace {

std::string text(const StringRef& ref) { return {ref.data, ref.length}; }

TEST(PluginOnSimulator, ReportsFourSensorsWithSevenChannelsEach) {
  unsetenv("ORVANE_SIM_SENSORS");
  void* plugin = dlopen(KESSRA_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(plugin, nullptr) << dlerror();
  using Connect = PluginResult (*)(Configuration*);
  using Disconnect = PluginResult (*)();
  const auto connect = reinterpret_cast<Connect>(dlsym(plugin, "bv_connect"));
  const auto getConfiguration = reinterpret_cast<Connect>(dlsym(plugin, "bv_get_configuration"));
  const auto freeConfiguration = reinterpret_cast<Connect>(dlsym(plugin, "bv_free_configuration"));
  const auto disconnect = reinterpret_cast<Disconnect>(dlsym(plugin, "bv_disconnect"));
  ASSERT_TRUE(connect && getConfiguration && freeConfiguration && disconnect)
      << "the plug-in does not export the connection and configuration entry points";

  ASSERT_EQ(connect(nullptr).code, 0);
  Configuration config{};
  ASSERT_EQ(getConfiguration(&config).code, 0);
  ASSERT_EQ(config.componentCount, 4u);

  struct Expected {
    const char* name;
    int32_t unit;
    uint64_t perFrame;
  };
  constexpr Expected kChannels[] = {{"EMG", 9, 26},  {"ACC X", 4, 2},  {"ACC Y", 4, 2},
                                    {"ACC Z", 4, 2}, {"GYR X", 13, 2}, {"GYR Y", 13, 2},
                                    {"GYR Z", 13, 2}};
  for (uint64_t s = 0; s < config.componentCount; ++s) {
    const ComponentDescription& component = config.components[s];
    SCOPED_TRACE(text(component.name));
    EXPECT_EQ(text(component.name),
              "Orvane Kessra Sensor " + std::to_string(s + 1) + " (EMG 1926 Hz, IMU 148 Hz)");
    ASSERT_EQ(component.channelCount, 7u);
    for (uint64_t c = 0; c < 7; ++c) {
      const ChannelDescription& channel = component.channels[c];
      EXPECT_EQ(text(channel.name), kChannels[c].name);
      EXPECT_EQ(channel.unit, kChannels[c].unit) << kChannels[c].name;
      EXPECT_FLOAT_EQ(channel.rate, static_cast<float>(kChannels[c].perFrame / 0.0135));
    }
    ASSERT_EQ(component.propertyCount, 2u);
    EXPECT_FALSE(text(component.properties[0].value.text).empty()) << "no serial";
    const std::string battery = text(component.properties[1].value.text);
    EXPECT_EQ(battery.find('%'), battery.size() - 1) << battery;
  }
  EXPECT_EQ(freeConfiguration(&config).code, 0);
  EXPECT_EQ(disconnect().code, 0);
  dlclose(plugin);
}

}  // namespace
