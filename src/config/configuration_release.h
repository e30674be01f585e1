#pragma once

#include <cstdint>

#include "kessra_plugin.h"

namespace kessra {

// Releases each record's four texts, then the array; leaves it null and 0.
void releaseSettingArray(Setting*& settings, std::uint64_t& count) noexcept;

// Releases one component description's storage, leaving its fields null and 0.
void releaseComponentDescription(ComponentDescription& component) noexcept;

// Releases a whole tree, settings first, then each component, then the
// component array. Pointers already null are skipped.
void releaseConfiguration(Configuration& config) noexcept;

}  // namespace kessra
