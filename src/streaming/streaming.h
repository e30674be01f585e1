// Starting and stopping acquisition, and handing each frame to the host.
#pragma once

#include <chrono>

#include "device/outcome.h"
#include "kessra_plugin.h"

namespace kessra {

#ifndef KESSRA_START_SETTLE_MS
#define KESSRA_START_SETTLE_MS 1000
#endif

// How long a start blocks after the device began acquiring. Only the fuzz
// build shortens it.
inline constexpr std::chrono::milliseconds kStartSettleTime{KESSRA_START_SETTLE_MS};

Outcome startStreaming();
Outcome stopStreaming();

// Delivers one polled frame, or every remaining frame while a drain is
// requested; it refuses nothing, in any state. Throws std::bad_alloc if a
// channel's buffer cannot be had; the counters of the channels already
// delivered stay correct.
void readSamples(SampleCallback callback);

}  // namespace kessra
