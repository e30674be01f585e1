// Helpers shared by the internal tests: a scripted device and result checks.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "failing_allocator.h"
#include "fake_interop.h"
#include "kessra_plugin.h"

// For tests that count or fail allocations.
#define SKIP_WITHOUT_COUNTING_ALLOCATOR()                                         \
  do {                                                                            \
    if (!alloc::replacesAllocator()) GTEST_SKIP() << "allocator not replaceable"; \
  } while (0)

namespace support {

inline std::string textOf(const StringRef& ref) {
  return ref.data == nullptr ? std::string("<null>") : std::string(ref.data, ref.length);
}

inline void expectSuccess(const PluginResult& result) {
  EXPECT_EQ(result.code, 0) << (result.message ? result.message : "");
  EXPECT_EQ(result.message, nullptr);
}

inline void expectFailure(const PluginResult& result, const char* message) {
  EXPECT_EQ(result.code, 1);
  EXPECT_STREQ(result.message, message);
}

inline int32_t currentState() {
  int32_t state = -1;
  bv_get_state(&state);
  return state;
}

// A device whose sensors are described by their channel counts: sensor s has
// key "S<s>", name "Sensor <s>", id "SN<s>", battery "8<s>", and channels
// "S<s>+c<k>" named "ch<s>.<k>" in millivolts at 2000 samples per second
// (27 per frame).
inline void scriptDevice(const std::vector<int>& channelsPerSensor) {
  fake::Interop& fake = fake::interop();
  std::string list;
  fake.channelsPerSensor.clear();
  fake.sampleRates.clear();
  for (std::size_t s = 0; s < channelsPerSensor.size(); ++s) {
    const std::string key = "S" + std::to_string(s);
    fake.answer(key, 0, "Sensor " + std::to_string(s));
    fake.answer(key, 9, "mode " + std::to_string(s));
    fake.answer(key, 7, "SN" + std::to_string(s));
    fake.answer(key, 8, "8" + std::to_string(s));
    // A sensor without channels still needs an identifier to start it.
    const int listed = std::max(channelsPerSensor[s], 1);
    for (int k = 0; k < listed; ++k) {
      const std::string id = key + "+c" + std::to_string(k);
      fake.answer(id, 0, "ch" + std::to_string(s) + "." + std::to_string(k));
      fake.answer(id, 2, "MILLIVOLTS");
      list += id + "|";
      if (k < channelsPerSensor[s]) {
        fake.sampleRates.push_back(2000.0);
      }
    }
    fake.channelsPerSensor.push_back(channelsPerSensor[s]);
  }
  fake.sensorCount = static_cast<std::int32_t>(channelsPerSensor.size());
  fake.channelList = list;
}

// The values of the three settings in a freshly built configuration.
inline std::vector<std::string> settingValues() {
  Configuration config{};
  bv_get_configuration(&config);
  std::vector<std::string> values;
  for (uint64_t i = 0; i < config.settingCount; ++i) {
    values.push_back(textOf(config.settings[i].value.text));
  }
  bv_free_configuration(&config);
  return values;
}

// A host-side record with three settings whose values are the given texts.
struct ThreeSettings {
  explicit ThreeSettings(const char* start, const char* stop, const char* output)
      : values{start, stop, output} {
    for (int i = 0; i < 3; ++i) {
      settings[i] = Setting{};
      settings[i].value.text = StringRef{values[i], values[i] ? std::strlen(values[i]) : 0};
    }
    config = Configuration{settings, 3, nullptr, 0};
  }
  ThreeSettings(const ThreeSettings&) = delete;
  ThreeSettings& operator=(const ThreeSettings&) = delete;

  const char* values[3];
  Setting settings[3];
  Configuration config;
};

}  // namespace support
