#include "inventory/inventory.h"

#include <cmath>
#include <limits>
#include <string_view>
#include <utility>

#include "device/device_context.h"
#include "orvane_interop.h"

namespace kessra {

namespace {

constexpr char kSeparator = '|';
constexpr char kKeyEnd = '+';

constinit std::vector<SensorComponent> g_inventory;

// The interop may write into the identifier it is given, so every query gets
// a fresh copy; the answer is copied before the next query can replace it.
std::string queryInfo(std::string_view identifier, InfoCode code) {
  std::string ownCopy(identifier);
  const char* answer = orvane_infoRequest(ownCopy.data(), code);
  return answer != nullptr ? std::string(answer) : std::string();
}

std::string_view sensorKeyOf(std::string_view identifier) noexcept {
  return identifier.substr(0, identifier.find(kKeyEnd));
}

// What the channel list says, before the metadata decides the grouping.
struct ListedChannels {
  std::vector<std::string> channelNames;
  std::vector<UnitCode> channelUnits;
  std::vector<std::string> componentNames;
  std::vector<std::string> sensorIds;
  std::vector<std::string> batteryTexts;
};

void addSensorStart(std::string_view key, ListedChannels& listed) {
  std::string sensorName = queryInfo(key, InfoName);
  std::string detail = queryInfo(key, InfoDetail);
  std::string componentName;
  componentName.reserve(kDeviceName.size() + sensorName.size() + detail.size() + 4);
  componentName.append(kDeviceName).append(" ").append(sensorName);
  componentName.append(" (").append(detail).append(")");
  listed.componentNames.push_back(std::move(componentName));
  listed.sensorIds.push_back(queryInfo(key, InfoSensorId));
  listed.batteryTexts.push_back(queryInfo(key, InfoBattery));
}

// Every "|" ends an identifier, so "x||y|" lists x, an empty identifier and
// y; text after the last separator is no identifier.
ListedChannels readChannelList(std::string_view channelList) {
  ListedChannels listed;
  std::string previousKey;
  std::size_t identifierStart = 0;
  for (std::size_t pos = 0; pos < channelList.size(); ++pos) {
    if (channelList[pos] != kSeparator) {
      continue;
    }
    const std::string_view identifier = channelList.substr(identifierStart, pos - identifierStart);
    listed.channelNames.push_back(queryInfo(identifier, InfoName));
    listed.channelUnits.push_back(unitCodeFromText(queryInfo(identifier, InfoUnit)));
    const std::string_view key = sensorKeyOf(identifier);
    if (key != previousKey) {
      addSensorStart(key, listed);
      previousKey.assign(key);
    }
    identifierStart = pos + 1;
  }
  return listed;
}

std::uint64_t rateAt(const OrvaneMetadataBuf& metadata, std::size_t channelIndex) noexcept {
  return metadata.sampleRates != nullptr
             ? samplesPerFrameFromRate(metadata.sampleRates[channelIndex])
             : 0;
}

// Groups channels by the metadata's counts, never reading past what the list
// provided: sensors or channels the list does not cover are left out.
std::vector<SensorComponent> groupByMetadata(ListedChannels& listed,
                                             const OrvaneMetadataBuf& metadata) {
  std::vector<SensorComponent> components;
  const std::size_t sensorLimit = listed.componentNames.size();
  const std::size_t channelLimit = listed.channelNames.size();
  std::size_t channelIndex = 0;
  for (std::int32_t sensor = 0; sensor < metadata.sensorCount; ++sensor) {
    const auto s = static_cast<std::size_t>(sensor);
    if (s >= sensorLimit) {
      break;
    }
    SensorComponent component{
        listed.componentNames[s], listed.sensorIds[s], {}, listed.batteryTexts[s]};
    const std::int32_t channelCount =
        metadata.channelsPerSensor != nullptr ? metadata.channelsPerSensor[s] : 0;
    for (std::int32_t c = 0; c < channelCount && channelIndex < channelLimit; ++c) {
      component.channels.push_back(SensorChannel{listed.channelNames[channelIndex],
                                                 listed.channelUnits[channelIndex],
                                                 rateAt(metadata, channelIndex), 0});
      ++channelIndex;
    }
    component.channels.shrink_to_fit();
    components.push_back(std::move(component));
  }
  components.shrink_to_fit();
  return components;
}

}  // namespace

std::vector<SensorComponent>& inventory() noexcept { return g_inventory; }

std::uint64_t samplesPerFrameFromRate(double samplesPerSecond) noexcept {
  if (!std::isfinite(samplesPerSecond)) {
    return 0;
  }
  const double rounded = std::round(samplesPerSecond * FRAME_PERIOD_S);
  if (!(rounded > 0.0)) {
    return 0;
  }
  // 2^64 is exactly representable; anything at or beyond it saturates.
  constexpr double kTwoTo64 = 18446744073709551616.0;
  if (rounded >= kTwoTo64) {
    return std::numeric_limits<std::uint64_t>::max();
  }
  return static_cast<std::uint64_t>(rounded);
}

void buildInventory(std::string channelList) {
  ListedChannels listed = readChannelList(channelList);
  std::vector<SensorComponent> rebuilt = groupByMetadata(listed, deviceContext().metadata);
  g_inventory.swap(rebuilt);
}

void clearInventory() noexcept { std::vector<SensorComponent>().swap(g_inventory); }

}  // namespace kessra
