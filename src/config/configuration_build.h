// Describing the device to the host, and taking the trigger options back.
#pragma once

#include "inventory/inventory.h"
#include "kessra_plugin.h"

namespace kessra {

inline constexpr double kFramesPerSecond = 74.07407407407408;  // 1 / FRAME_PERIOD_S

// Fills config afresh, or with the cached configuration when it already holds
// three settings. On failure (std::bad_alloc) config and the cache are as they
// were and nothing is leaked.
void getConfiguration(Configuration& config);

// All storage is new; on failure nothing is leaked.
ComponentDescription buildComponentDescription(const SensorComponent& component);

// Takes the trigger options from a record with exactly three settings and
// sends them to the device; any other record changes nothing.
void applyConfiguration(const Configuration* config);

// The rate reported for a channel: samples per frame over the frame period.
float channelRate(std::uint64_t samplesPerFrame) noexcept;

}  // namespace kessra
