// The simulator's own settings, read from the environment each time the
// station is opened or scanned, so a host can change them between runs
// without reloading the library.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "frame_clock.h"
#include "signals.h"

namespace orvane_sim {

inline constexpr int kDefaultSensors = 4;
inline constexpr int kMaxSensors = 16;
inline constexpr std::uint64_t kDefaultSeed = 1;

// One sensor goes silent for a stretch of frames of every capture.
struct Dropout {
  int sensor = 0;                // 1-based slot
  std::uint64_t firstFrame = 0;  // counted from the start of each capture
  std::uint64_t frameCount = 0;
};

struct Settings {
  int sensors = kDefaultSensors;
  std::uint64_t seed = kDefaultSeed;
  std::optional<Dropout> dropout;
  SignalOptions signals;
  Schedule schedule;  // outage, backlog and clock rate
  // A file each capture's start is appended to, or empty.
  std::string startLog;
};

// Reads ORVANE_SIM_SENSORS, ORVANE_SIM_SEED, ORVANE_SIM_DROPOUT,
// ORVANE_SIM_PATTERN, ORVANE_SIM_MAINS, ORVANE_SIM_MOTION, ORVANE_SIM_OUTAGE,
// ORVANE_SIM_BACKLOG, ORVANE_SIM_CLOCK_PPM and ORVANE_SIM_START_LOG. An unusable
// value falls back to its default, and a sensor count out of range is
// clamped into it, with a notice on stderr given once per variable and value
// rather than on every open.
Settings readSettings();

// "sensors=4 seed=1 dropout=none pattern=bursts mains=off motion=off
// outage=none backlog=32768 clock_ppm=0", the form the settings query reports;
// the start log is left out, being a path and no property of the station.
std::string describe(const Settings& settings);

}  // namespace orvane_sim
