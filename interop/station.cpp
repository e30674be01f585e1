#include "station.h"

#include <algorithm>
#include <cstdio>

namespace orvane_sim {
namespace {

struct ChannelKind {
  const char* tag;
  const char* name;
  const char* unit;
  double rate;
  int perFrame;
};

// In the order SensorSignals writes them.
constexpr std::array<ChannelKind, kChannelsPerSensor> kChannelKinds = {{
    {"EMG", "EMG", "MILLIVOLTS", kEmgRate, kEmgPerFrame},
    {"ACCX", "ACC X", "G", kImuRate, kImuPerFrame},
    {"ACCY", "ACC Y", "G", kImuRate, kImuPerFrame},
    {"ACCZ", "ACC Z", "G", kImuRate, kImuPerFrame},
    {"GYRX", "GYR X", "DEG_S", kImuRate, kImuPerFrame},
    {"GYRY", "GYR Y", "DEG_S", kImuRate, kImuPerFrame},
    {"GYRZ", "GYR Z", "DEG_S", kImuRate, kImuPerFrame},
}};

constexpr const char* kDetail = "EMG 1926 Hz, IMU 148 Hz";

std::string twoDigits(int value) {
  // Slots run 1 to 16; the buffer has room for any int all the same.
  char text[16];
  std::snprintf(text, sizeof text, "%02d", value);
  return text;
}

}  // namespace

Sensor::Sensor(std::uint64_t seed, int slot, const SignalOptions& options)
    : key("S" + twoDigits(slot + 1)),
      name("Sensor " + std::to_string(slot + 1)),
      // The slot in the last two digits keeps serials distinct within a station.
      serial("KS-" + std::to_string(10000 + mix(seed, 0x5E41A1ULL) % 89999) + twoDigits(slot + 1)),
      initialBattery(
          70 + static_cast<int>(mix(seed, 0xBA77ULL + static_cast<std::uint64_t>(slot)) % 31)),
      signals(seed, slot, options) {}

void Station::enumerate(const Settings& settings) {
  settings_ = settings;
  sensors_.clear();
  channelList_.clear();
  for (int slot = 0; slot < settings.sensors; ++slot) {
    const Sensor& sensor = sensors_.emplace_back(settings.seed, slot, settings.signals);
    channelsPerSensor_[static_cast<std::size_t>(slot)] = kChannelsPerSensor;
    for (std::size_t c = 0; c < kChannelKinds.size(); ++c) {
      sampleRates_[static_cast<std::size_t>(slot) * kChannelsPerSensor + c] = kChannelKinds[c].rate;
      channelList_ += sensor.key + "+" + kChannelKinds[c].tag + "|";
    }
  }
}

void Station::clear() {
  sensors_.clear();
  channelList_.clear();
}

void Station::fillMetadata(OrvaneMetadataBuf& metadata) {
  metadata.sensorCount = static_cast<std::int32_t>(sensors_.size());
  metadata.channelsPerSensor = channelsPerSensor_.data();
  metadata.sampleRates = sampleRates_.data();
}

const Sensor* Station::findSensor(std::string_view key) const {
  const auto found = std::find_if(sensors_.begin(), sensors_.end(),
                                  [&](const Sensor& sensor) { return sensor.key == key; });
  return found == sensors_.end() ? nullptr : &*found;
}

std::string Station::answer(std::string_view identifier, InfoCode code,
                            std::uint64_t streamedFrames) const {
  const std::size_t plus = identifier.find('+');
  const Sensor* sensor = findSensor(identifier.substr(0, plus));
  if (sensor == nullptr) {
    return {};
  }
  const ChannelKind* channel = nullptr;
  if (plus != std::string_view::npos) {
    const std::string_view tag = identifier.substr(plus + 1);
    const auto found = std::find_if(kChannelKinds.begin(), kChannelKinds.end(),
                                    [&](const ChannelKind& kind) { return kind.tag == tag; });
    if (found == kChannelKinds.end()) {
      return {};
    }
    channel = &*found;
  }
  switch (code) {
    case InfoName:
      return channel != nullptr ? channel->name : sensor->name;
    case InfoUnit:
      return channel != nullptr ? channel->unit : "";
    case InfoSensorId:
      return sensor->serial;
    case InfoBattery: {
      const auto drained = streamedFrames / kFramesPerBatteryPercent;
      const auto level = static_cast<std::uint64_t>(sensor->initialBattery);
      return std::to_string(drained >= level ? 0 : level - drained);
    }
    case InfoDetail:
      return kDetail;
  }
  return {};
}

bool Station::silent(int slot, std::uint64_t captureFrame) const {
  const auto& dropout = settings_.dropout;
  return dropout && dropout->sensor == slot + 1 && captureFrame >= dropout->firstFrame &&
         captureFrame - dropout->firstFrame < dropout->frameCount;
}

void Station::assembleFrame(std::uint64_t captureFrame, std::uint64_t signalFrame,
                            OrvaneFrameBuf& frame) {
  float* out = samples_.data();
  std::int32_t* counts = sampleCounts_.data();
  float discard[kValuesPerSensorFrame];
  for (std::size_t slot = 0; slot < sensors_.size(); ++slot) {
    // A silent sensor's signals run on, so it comes back mid-movement rather
    // than where it fell silent.
    const bool quiet = silent(static_cast<int>(slot), captureFrame);
    sensors_[slot].signals.generate(signalFrame, quiet ? discard : out);
    for (const ChannelKind& kind : kChannelKinds) {
      *counts++ = quiet ? 0 : kind.perFrame;
    }
    if (!quiet) {
      out += kValuesPerSensorFrame;
    }
  }
  frame.reserved = static_cast<std::int64_t>(captureFrame);
  frame.sampleCounts = sampleCounts_.data();
  frame.samples = samples_.data();
}

void Station::passFrame(std::uint64_t signalFrame) {
  float discard[kValuesPerSensorFrame];
  for (Sensor& sensor : sensors_) {
    sensor.signals.generate(signalFrame, discard);
  }
}

}  // namespace orvane_sim
