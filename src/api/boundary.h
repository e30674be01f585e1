// Turns the C++ core's outcomes into PluginResult records. Every exported
// entry point runs its work through callGuarded, the one place where an
// exception is stopped before it can reach the host.
#pragma once

#include <new>
#include <stdexcept>

#include "kessra_plugin.h"

namespace kessra {

inline constexpr PluginResult success() noexcept { return PluginResult{0, nullptr}; }

inline constexpr PluginResult failure(const char* message) noexcept {
  return PluginResult{1, message};
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
