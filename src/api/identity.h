// Queries that identify the plug-in; they need no device and work in every
// state.
#pragma once

#include <cstdint>

#include "kessra_plugin.h"

namespace kessra {

inline constexpr ApiVersion kApiVersion{0, 7};
inline constexpr std::int32_t kCategory = 1;

StringRef integrationVersionText() noexcept;
StringRef deviceNameText() noexcept;
StringRef descriptionText() noexcept;
StringRef manufacturerUrlText() noexcept;

}  // namespace kessra
