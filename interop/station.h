// The base station and the sensors paired with it: what it enumerates, how
// it describes them, and how it packs their samples into a frame.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "orvane_interop.h"
#include "settings.h"
#include "signals.h"

namespace orvane_sim {

// A sensor loses one percent of charge per minute of streaming.
inline constexpr std::uint64_t kFramesPerBatteryPercent = 4444;

struct Sensor {
  Sensor(std::uint64_t seed, int slot, const SignalOptions& options);

  std::string key;     // "S01": groups the sensor's channels in the channel list
  std::string name;    // "Sensor 1"
  std::string serial;  // "KS-1234501": unique per slot, stable for a seed
  int initialBattery;  // percent when the station was opened
  SensorSignals signals;
};

class Station {
 public:
  // Pairs the sensors the settings ask for, forgetting any paired before.
  void enumerate(const Settings& settings);
  void clear();

  bool empty() const { return sensors_.empty(); }
  const Settings& settings() const { return settings_; }
  const std::string& channelList() const { return channelList_; }

  // Points the record at the station's own arrays. They live as long as the
  // library, so a host holding on to them past the next fill reads stale
  // numbers but never freed memory.
  void fillMetadata(OrvaneMetadataBuf& metadata);

  // The attribute text of a sensor key or channel identifier, or the empty
  // text for one the station does not know.
  std::string answer(std::string_view identifier, InfoCode code,
                     std::uint64_t streamedFrames) const;

  // Generates frame `captureFrame` of the running capture into the station's
  // frame arrays, which stay put until the next call. `signalFrame` counts
  // from the opening of the station, so signals run on across captures.
  void assembleFrame(std::uint64_t captureFrame, std::uint64_t signalFrame, OrvaneFrameBuf& frame);
  // Runs every sensor's signals through a frame the host will never get, so
  // the frames after it come out as they would had it been delivered.
  void passFrame(std::uint64_t signalFrame);

 private:
  static constexpr std::size_t kMaxChannels = kMaxSensors * kChannelsPerSensor;

  const Sensor* findSensor(std::string_view key) const;
  bool silent(int slot, std::uint64_t captureFrame) const;

  Settings settings_;
  std::vector<Sensor> sensors_;
  std::string channelList_;
  std::array<std::int32_t, kMaxSensors> channelsPerSensor_{};
  std::array<double, kMaxChannels> sampleRates_{};
  std::array<std::int32_t, kMaxChannels> sampleCounts_{};
  std::array<float, kMaxSensors * kValuesPerSensorFrame> samples_{};
};

}  // namespace orvane_sim
