#include "inventory/unit_codes.h"

#include <utility>

namespace kessra {

namespace {

// The reserved codes exist in the host's enumeration but no text maps to them.
constexpr std::pair<std::string_view, UnitCode> kUnitTable[] = {
    {"METERS", BV_UNIT_METERS},
    {"DEGS", BV_UNIT_DEGREES},
    {"N", BV_UNIT_NEWTONS},
    {"G", BV_UNIT_G},
    {"MICROTESLA", BV_UNIT_MICROTESLA},
    {"METERS_SECOND", BV_UNIT_METERS_PER_SECOND},
    {"Nm", BV_UNIT_NEWTON_METERS},
    {"VOLTS", BV_UNIT_VOLTS},
    {"MILLIVOLTS", BV_UNIT_MILLIVOLTS},
    {"BPM", BV_UNIT_BEATS_PER_MINUTE},
    {"Celsius", BV_UNIT_CELSIUS},
    {"DEG_S", BV_UNIT_DEGREES_PER_SECOND},
    {"WATTS", BV_UNIT_WATTS},
};

}  // namespace

UnitCode unitCodeFromText(std::string_view unitText) noexcept {
  for (const auto& [text, code] : kUnitTable) {
    if (text == unitText) {
      return code;
    }
  }
  return kUnitOther;
}

}  // namespace kessra
