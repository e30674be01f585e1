// Turns the C++ core's outcomes into PluginResult records. Every exported
// entry point runs its work through callGuarded, the one place where an
// exception is stopped before it can reach the host, and toResult, the one
// place where a refusal gets the text the host is promised.
#pragma once

#include <new>
#include <stdexcept>

#include "device/outcome.h"
#include "kessra_plugin.h"

namespace kessra {

inline constexpr PluginResult success() noexcept { return PluginResult{0, nullptr}; }

inline constexpr PluginResult failure(const char* message) noexcept {
  return PluginResult{1, message};
}

// No default case, so that a new Outcome without a text fails the build.
inline constexpr PluginResult toResult(Outcome outcome) noexcept {
  switch (outcome) {
    case Outcome::Ok:
      return success();
    case Outcome::ConnectWhileConnected:
      return failure(BV_MESSAGE_ALREADY_CONNECTED);
    case Outcome::DisconnectWhileDisconnected:
      return failure(BV_MESSAGE_NOT_CONNECTED);
    case Outcome::ScanWhileStreaming:
      return failure(BV_MESSAGE_SCAN_WHILE_STREAMING);
    case Outcome::StartWhileStreaming:
      return failure(BV_MESSAGE_ALREADY_STREAMING);
    case Outcome::StartWhileDisconnected:
      return failure(BV_MESSAGE_START_NOT_CONNECTED);
    case Outcome::StopWhileNotStreaming:
      return failure(BV_MESSAGE_NOT_STREAMING);
  }
  // Only a value cast from outside the enumerators lands here.
  return failure(BV_MESSAGE_INTERNAL_ERROR);
}

template <typename Work>
PluginResult callGuarded(Work&& work) noexcept {
  try {
    return work();
  } catch (const std::bad_alloc&) {
    return failure(BV_MESSAGE_OUT_OF_MEMORY);
  } catch (const std::length_error&) {
    // A size beyond what the library can allocate is an allocation failure.
    return failure(BV_MESSAGE_OUT_OF_MEMORY);
  } catch (...) {
    return failure(BV_MESSAGE_INTERNAL_ERROR);
  }
}

}  // namespace kessra
