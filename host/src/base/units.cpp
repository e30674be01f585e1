#include "base/units.h"

#include <array>

#include "kessra_plugin.h"

namespace bvhost {
namespace {

struct UnitRow {
  std::int32_t code;
  const char* dimension;
  PhysicalRange range;
};

constexpr PhysicalRange kUnknownRange = {-1.0e6, 1.0e6};

// Ranges are a sensor's full scale with headroom, wide enough that no
// plausible sample clips, narrow enough that EDF's 16 bits still resolve it
// finely: EMG at +-25 mV gives 0.76 uV steps in EDF+ and 3 nV in BDF+.
constexpr std::array<UnitRow, BV_UNIT_OTHER + 1> kUnits = {{
    {BV_UNIT_METERS, "m", {-100.0, 100.0}},
    {BV_UNIT_RESERVED_1, "", kUnknownRange},
    {BV_UNIT_DEGREES, "deg", {-720.0, 720.0}},
    {BV_UNIT_NEWTONS, "N", {-10000.0, 10000.0}},
    {BV_UNIT_G, "g", {-32.0, 32.0}},
    {BV_UNIT_MICROTESLA, "uT", {-5000.0, 5000.0}},
    {BV_UNIT_METERS_PER_SECOND, "m/s", {-100.0, 100.0}},
    {BV_UNIT_NEWTON_METERS, "Nm", {-1000.0, 1000.0}},
    {BV_UNIT_VOLTS, "V", {-25.0, 25.0}},
    {BV_UNIT_MILLIVOLTS, "mV", {-25.0, 25.0}},
    {BV_UNIT_RESERVED_10, "", kUnknownRange},
    {BV_UNIT_BEATS_PER_MINUTE, "bpm", {0.0, 300.0}},
    {BV_UNIT_CELSIUS, "degC", {-50.0, 150.0}},
    {BV_UNIT_DEGREES_PER_SECOND, "deg/s", {-4000.0, 4000.0}},
    {BV_UNIT_WATTS, "W", {-10000.0, 10000.0}},
    {BV_UNIT_RESERVED_15, "", kUnknownRange},
    {BV_UNIT_OTHER, "", kUnknownRange},
}};

// Lookups index the table by code, so a row out of place would give a channel
// another unit's dimension and range.
constexpr bool rowsInCodeOrder() {
  for (std::size_t i = 0; i < kUnits.size(); ++i) {
    if (kUnits[i].code != static_cast<std::int32_t>(i)) {
      return false;
    }
  }
  return true;
}
static_assert(rowsInCodeOrder(), "unit rows must sit at their code");

const UnitRow* find(std::int32_t code) {
  if (code < 0 || code >= static_cast<std::int32_t>(kUnits.size())) {
    return nullptr;
  }
  return &kUnits[static_cast<std::size_t>(code)];
}

}  // namespace

std::string edfDimension(std::int32_t code) {
  const UnitRow* row = find(code);
  return row != nullptr ? row->dimension : "";
}

std::string unitLabel(std::int32_t code) {
  const std::string text = edfDimension(code);
  const std::string number = "(" + std::to_string(code) + ")";
  return text.empty() ? number : text + " " + number;
}

PhysicalRange physicalRange(std::int32_t code) {
  const UnitRow* row = find(code);
  return row != nullptr ? row->range : kUnknownRange;
}

}  // namespace bvhost
