// The sensors and channels of the connected system, as the interop library
// last described them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "inventory/unit_codes.h"

namespace kessra {

inline constexpr double FRAME_PERIOD_S = 0.0135;

// A plain value that owns its name. samplesDelivered is the only field that
// changes between builds: streaming resets and advances it.
struct SensorChannel {
  std::string name;
  UnitCode unit = kUnitOther;
  std::uint64_t samplesPerFrame = 0;
  std::uint64_t samplesDelivered = 0;
};

// A plain value that owns its texts and channels.
struct SensorComponent {
  std::string name;
  std::string sid;
  std::vector<SensorChannel> channels;
  std::string battery;
};

// Process-wide, in metadata order; streaming walks it in place, so it must not
// be rebuilt while a read call runs.
std::vector<SensorComponent>& inventory() noexcept;

// Replaces the inventory with one built from the channel list and the
// device context's metadata. If it throws (out of memory) the old inventory
// stays as it was.
void buildInventory(std::string channelList);

void clearInventory() noexcept;

// Rate times the frame period, rounded half away from zero. A negative or
// non-finite rate gives 0; a finite product beyond 64 bits saturates.
std::uint64_t samplesPerFrameFromRate(double samplesPerSecond) noexcept;

}  // namespace kessra
