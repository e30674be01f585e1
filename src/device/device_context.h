// The one connection to the sensor system that a loaded plug-in drives.
#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>

#include "kessra_plugin.h"
#include "orvane_interop.h"

namespace kessra {

// Lives as long as the loaded library. The host serialises its calls, except
// that a stop may come from another thread while a read call runs: hence the
// atomics. metadata's arrays belong to the interop library.
struct DeviceContext {
  std::atomic<PluginState> state{BV_STATE_DISCONNECTED};
  std::atomic<bool> drainRequested{false};
  OrvaneMetadataBuf metadata{};
};

DeviceContext& deviceContext() noexcept;

// Process-wide texts, valid while the library is loaded.
inline constexpr std::string_view kDeviceName = "Orvane Kessra";
inline constexpr std::string_view kDescription = "Orvane EMG System";
inline constexpr std::string_view kManufacturerUrl = "www.orvane.example";
inline constexpr std::string_view kIntegrationVersion = "1.0.14";
inline constexpr std::string_view kUnknownText = "<unknown>";

}  // namespace kessra
