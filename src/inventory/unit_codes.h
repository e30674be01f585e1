#pragma once

#include <cstdint>
#include <string_view>

#include "kessra_plugin.h"

namespace kessra {

// A value of the host's unit enumeration, one of the header's BV_UNIT_* codes.
using UnitCode = std::int32_t;

// The code for every unit text the table does not know, the empty text too.
inline constexpr UnitCode kUnitOther = BV_UNIT_OTHER;

// Exact, case-sensitive match of the whole text; no trimming.
UnitCode unitCodeFromText(std::string_view unitText) noexcept;

}  // namespace kessra
