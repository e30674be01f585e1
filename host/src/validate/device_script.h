// What the device checks tell the interop stand-in, and what they expect the
// plug-in to make of it: the names, units and rates a host must see.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "standin/standin_script.h"
#include "validate/check_support.h"

namespace bvhost {

// Sensors keyed "K1", "K2", ...; channel c of sensor s is "K<s>+c<c>".
struct SensorLayout {
  std::vector<std::int32_t> channelsPerSensor;
  std::vector<double> rates;  // one per channel, sensor after sensor

  std::string key(std::size_t sensor) const;
  std::string identifier(std::size_t sensor, std::size_t channel) const;
  std::size_t channelCount() const;
  // Every identifier followed by "|", as a well-formed list is.
  std::string channelList() const;
};

void describe(standin::Script& script, const SensorLayout& layout);

// The component name a host must see for a sensor key: the plug-in's own
// name, a blank, the sensor's name and its detail text in parentheses.
std::string componentName(const EntryPoints& api, const standin::Script& script,
                          const std::string& key);
std::string answer(const standin::Script& script, const std::string& identifier, std::int32_t code);

// bv_connect(NULL), failing the check unless the call reached the stand-in.
void connectThroughStandIn(const EntryPoints& api, const standin::Script& script);

// The calls the stand-in logged from index `from` on, for a message.
std::string callsFrom(const standin::Script& script, std::size_t from);

}  // namespace bvhost
