// What the plug-in makes of the interop's channel list and metadata, through
// the stand-in: awkward lists, metadata that disagrees with the list, unit
// texts in another case, and rates that round either way.
#include <algorithm>

#include "base/channel_info.h"
#include "kessra_plugin.h"
#include "plugin/plugin_configuration.h"
#include "plugin/plugin_result.h"
#include "validate/checks.h"
#include "validate/device_script.h"
#include "validate/standin_control.h"
#include "validate/stream_audit.h"

namespace bvhost {
namespace {

struct ExpectedComponent {
  std::string key;
  std::vector<std::string> channels;  // identifiers
};

std::string property(const ComponentDescription& component, std::string_view name) {
  for (std::uint64_t p = 0; p < component.propertyCount; ++p) {
    if (view(component.properties[p].name) == name) {
      return std::string(view(component.properties[p].value.text));
    }
  }
  return "(no property \"" + std::string(name) + "\")";
}

void expectText(const std::string& what, std::string_view got, const std::string& expected) {
  expect(got == expected,
         what + ": expected \"" + expected + "\"; got \"" + std::string(got) + "\"");
}

void expectComponents(const EntryPoints& api, const standin::Script& script,
                      const std::vector<ExpectedComponent>& expected, const std::string& when) {
  PluginConfiguration config(api);
  const Configuration& record = config.record();
  expect(record.componentCount == expected.size(),
         std::to_string(record.componentCount) + " component descriptions " + when + "; expected " +
             std::to_string(expected.size()) +
             ", one per sensor both the list and the metadata name");
  for (std::size_t c = 0; c < expected.size(); ++c) {
    const ComponentDescription& got = record.components[c];
    const std::string what = "component " + std::to_string(c) + " " + when;
    const std::string& key = expected[c].key;
    expectText(what + " name", view(got.name), componentName(api, script, key));
    expectText(what + " SID", property(got, "SID"), answer(script, key, 7));
    expectText(what + " Battery Percentage", property(got, "Battery Percentage"),
               answer(script, key, 8) + "%");
    expect(got.channelCount == expected[c].channels.size(),
           what + " has " + std::to_string(got.channelCount) + " channels; expected " +
               std::to_string(expected[c].channels.size()));
    for (std::size_t k = 0; k < expected[c].channels.size(); ++k) {
      expectText(what + " channel " + std::to_string(k) + " name", view(got.channels[k].name),
                 answer(script, expected[c].channels[k], 0));
    }
  }
}

// One frame, read: the channels that get a callback must be those the
// configuration describes, however the list and the metadata disagreed.
void expectCallbacksAsDescribed(const EntryPoints& api, standin::Script& script,
                                const std::string& when) {
  StreamAudit audit(describedChannels(api));
  // Counts to spare, so a plug-in that walks more channels than it describes
  // still reads the frame's arrays.
  constexpr std::size_t kSpare = 16;
  script.frames.push_back({std::vector<std::int32_t>(kSpare, 1), std::vector<float>(kSpare, 0.5f)});
  expectSuccess("bv_start_streaming", api.bv_start_streaming());
  try {
    expect(audit.read(api) == 1, "the first read " + when + " delivered no whole frame");
  } catch (const CheckFailed& failure) {
    throw CheckFailed(std::string(failure.what()) + " (" + when + ")");
  }
  expectSuccess("bv_stop_streaming", api.bv_stop_streaming());
  drainReads(api);
}

// A list with an empty first identifier and text after its last separator,
// more sensor starts than the metadata counts, and channels grouped by the
// counts rather than by the keys; then, on Scan, metadata asking for more
// sensors than the list starts.
void deviceInventory(CheckContext& context) {
  standin::Script& script = useStandIn(context);
  script.channelList = "|K1+c1|K1+c2|K2+c1|K3+c1|K4+c1";
  script.sensorCount = 2;
  // The arrays run on past sensorCount, as a library that lists a third
  // sensor may leave them; only the count decides.
  script.channelsPerSensor = {3, 1, 1};
  script.sampleRates = {1926, 1926, 148, 148, 148};
  script.answers[{"K1", 8}] = std::to_string(context.random()() % 101);
  script.answers[{"K2", 8}] = "";
  script.answers[{"K2", 9}] = "";
  const EntryPoints& api = context.api();
  connectThroughStandIn(api, script);
  const std::vector<ExpectedComponent> connected = {{"K1", {"", "K1+c1", "K1+c2"}},
                                                    {"K2", {"K2+c1"}}};
  expectComponents(api, script, connected,
                   "after bv_connect on the list \"" + script.channelList +
                       "\" with sensorCount 2 and channels per sensor 3, 1");

  expectCallbacksAsDescribed(api, script, "after bv_connect on that list");

  script.channelList = "K1+c1|K1+c2|K2+c1|K3+c1";
  script.sensorCount = 4;
  script.channelsPerSensor = {1, 1, 1, 1};
  script.sampleRates = {1926, 1926, 148, 148};
  expectSuccess("the Scan action", scanHandler(api)(nullptr));
  expectComponents(
      api, script, {{"K1", {"K1+c1"}}, {"K2", {"K1+c2"}}},
      "after Scan on the list \"" + script.channelList + "\" (two sensors) with sensorCount 4");
  expectSuccess("bv_disconnect", api.bv_disconnect());
}

std::vector<ChannelDescription> oneSensorChannels(CheckContext& context, standin::Script& script,
                                                  const std::vector<double>& rates) {
  describe(script, SensorLayout{{static_cast<std::int32_t>(rates.size())}, rates});
  const EntryPoints& api = context.api();
  connectThroughStandIn(api, script);
  PluginConfiguration config(api);
  const Configuration& record = config.record();
  expect(record.componentCount == 1 && record.components[0].channelCount == rates.size(),
         "the configuration does not describe the stand-in's one sensor with " +
             std::to_string(rates.size()) + " channels");
  const ComponentDescription& sensor = record.components[0];
  return {sensor.channels, sensor.channels + sensor.channelCount};
}

void deviceUnits(CheckContext& context) {
  std::vector<std::pair<std::string, std::int32_t>> units = {{"VOLTS", BV_UNIT_VOLTS},
                                                             {"volts", BV_UNIT_OTHER},
                                                             {"MILLIVOLTS", BV_UNIT_MILLIVOLTS},
                                                             {"Millivolts", BV_UNIT_OTHER},
                                                             {"Celsius", BV_UNIT_CELSIUS},
                                                             {"CELSIUS", BV_UNIT_OTHER},
                                                             {"Nm", BV_UNIT_NEWTON_METERS},
                                                             {"NM", BV_UNIT_OTHER},
                                                             {"N", BV_UNIT_NEWTONS},
                                                             {"METERS", BV_UNIT_METERS},
                                                             {"Meters", BV_UNIT_OTHER},
                                                             {"DEG_S", BV_UNIT_DEGREES_PER_SECOND},
                                                             {"deg_s", BV_UNIT_OTHER},
                                                             {"VOLTS ", BV_UNIT_OTHER},
                                                             {"", BV_UNIT_OTHER}};
  std::shuffle(units.begin(), units.end(), context.random());
  standin::Script& script = useStandIn(context);
  const SensorLayout layout{{static_cast<std::int32_t>(units.size())},
                            std::vector<double>(units.size(), 1926)};
  for (std::size_t k = 0; k < units.size(); ++k) {
    script.answers[{layout.identifier(0, k), 2}] = units[k].first;
  }
  const auto channels = oneSensorChannels(context, script, layout.rates);
  for (std::size_t k = 0; k < units.size(); ++k) {
    expect(channels[k].unit == units[k].second,
           "channel " + std::to_string(k) + " with unit text \"" + units[k].first +
               "\" has unit code " + std::to_string(channels[k].unit) + "; expected " +
               std::to_string(units[k].second) + " (texts match exactly, case included)");
  }
}

// Halfway cases (13.5, 40.5), products just either side of a whole number,
// and zero: samples per frame round half away from zero.
void deviceRates(CheckContext& context) {
  std::vector<double> rates = {
      1000, 3000, 2000, 148, 1926, 0, 925.9259259259259, 1037.037037037037, 1111.111, 1148.148};
  std::shuffle(rates.begin(), rates.end(), context.random());
  standin::Script& script = useStandIn(context);
  const auto channels = oneSensorChannels(context, script, rates);
  for (std::size_t k = 0; k < rates.size(); ++k) {
    const FrameRate expected = frameRate(rates[k]);
    expect(expected.matches(channels[k].rate),
           "channel " + std::to_string(k) + " with interop rate " + std::to_string(rates[k]) +
               " Hz reports " + std::to_string(channels[k].rate) + " Hz; expected " +
               std::to_string(expected.rate) + " Hz, " + std::to_string(expected.samplesPerFrame) +
               " samples per 13.5 ms frame rounded half away from zero");
  }
}

}  // namespace

std::vector<Check> deviceInventoryChecks() {
  return {
      {"device-inventory",
       "components follow the interop's list and metadata: an empty identifier is a channel, "
       "text after the last \"|\" is none, the metadata's counts group the channels, no more "
       "components than sensors listed, names, SID and battery as the device answers, and a "
       "frame's callbacks name exactly the described channels",
       &deviceInventory, 10},
      {"device-units",
       "unit texts map to unit codes only when they match exactly, letter case included",
       &deviceUnits, 10},
      {"device-rates",
       "each channel reports the interop rate as whole samples per 13.5 ms frame, rounded half "
       "away from zero, over the frame period",
       &deviceRates, 10},
  };
}

}  // namespace bvhost
