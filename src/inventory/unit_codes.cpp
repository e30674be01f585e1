#include "inventory/unit_codes.h"

#include <utility>

namespace kessra {

namespace {

// Codes 1, 10 and 15 exist in the host's enumeration but no text maps to them.
constexpr std::pair<std::string_view, UnitCode> kUnitTable[] = {
    {"METERS", 0},        {"DEGS", 2},   {"N", 3},      {"G", 4},          {"MICROTESLA", 5},
    {"METERS_SECOND", 6}, {"Nm", 7},     {"VOLTS", 8},  {"MILLIVOLTS", 9}, {"BPM", 11},
    {"Celsius", 12},      {"DEG_S", 13}, {"WATTS", 14},
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
