#include "validate/device_script.h"

#include <algorithm>

#include "plugin/plugin_result.h"

namespace bvhost {

std::string SensorLayout::key(std::size_t sensor) const { return "K" + std::to_string(sensor + 1); }

std::string SensorLayout::identifier(std::size_t sensor, std::size_t channel) const {
  return key(sensor) + "+c" + std::to_string(channel + 1);
}

std::size_t SensorLayout::channelCount() const {
  std::size_t count = 0;
  for (const std::int32_t channels : channelsPerSensor) {
    count += static_cast<std::size_t>(std::max(channels, 0));
  }
  return count;
}

std::string SensorLayout::channelList() const {
  std::string list;
  for (std::size_t s = 0; s < channelsPerSensor.size(); ++s) {
    for (std::int32_t c = 0; c < channelsPerSensor[s]; ++c) {
      list += identifier(s, static_cast<std::size_t>(c)) + "|";
    }
  }
  return list;
}

void describe(standin::Script& script, const SensorLayout& layout) {
  script.channelList = layout.channelList();
  script.sensorCount = static_cast<std::int32_t>(layout.channelsPerSensor.size());
  script.channelsPerSensor = layout.channelsPerSensor;
  script.sampleRates = layout.rates;
}

std::string answer(const standin::Script& script, const std::string& identifier,
                   std::int32_t code) {
  const auto found = script.answers.find({identifier, code});
  return found != script.answers.end() ? found->second : standin::defaultAnswer(identifier, code);
}

std::string componentName(const EntryPoints& api, const standin::Script& script,
                          const std::string& key) {
  StringRef device{};
  expectSuccess("bv_get_name", api.bv_get_name(&device));
  return std::string(view(device)) + " " + answer(script, key, 0) + " (" + answer(script, key, 9) +
         ")";
}

void connectThroughStandIn(const EntryPoints& api, const standin::Script& script) {
  expectSuccess("bv_connect", api.bv_connect(nullptr));
  expect(std::find(script.calls.begin(), script.calls.end(), "initialize") != script.calls.end(),
         "bv_connect never called the stand-in's orvane_initialize: the plug-in must reach the "
         "interop library through its import of libOrvaneAPI_Interop.so");
}

std::string callsFrom(const standin::Script& script, std::size_t from) {
  std::string calls;
  for (std::size_t i = from; i < script.calls.size(); ++i) {
    calls += (calls.empty() ? "" : ", ") + script.calls[i];
  }
  return calls.empty() ? "(none)" : calls;
}

}  // namespace bvhost
