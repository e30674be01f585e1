#include "units.h"

#include <array>

namespace bvhost {
namespace {

struct UnitRow {
  const char* name;
  const char* dimension;
  PhysicalRange range;
};

// Ranges are a sensor's full scale with headroom, wide enough that no
// plausible sample clips, narrow enough that EDF's 16 bits still resolve it
// finely: EMG at +-25 mV gives 0.76 uV steps in EDF+ and 3 nV in BDF+.
constexpr std::array<UnitRow, 17> kUnits = {{
    {"METERS", "m", {-100.0, 100.0}},
    {"unit 1", "", {-1.0e6, 1.0e6}},
    {"DEGS", "deg", {-720.0, 720.0}},
    {"N", "N", {-10000.0, 10000.0}},
    {"G", "g", {-32.0, 32.0}},
    {"MICROTESLA", "uT", {-5000.0, 5000.0}},
    {"METERS_SECOND", "m/s", {-100.0, 100.0}},
    {"Nm", "Nm", {-1000.0, 1000.0}},
    {"VOLTS", "V", {-25.0, 25.0}},
    {"MILLIVOLTS", "mV", {-25.0, 25.0}},
    {"unit 10", "", {-1.0e6, 1.0e6}},
    {"BPM", "bpm", {0.0, 300.0}},
    {"Celsius", "degC", {-50.0, 150.0}},
    {"DEG_S", "deg/s", {-4000.0, 4000.0}},
    {"WATTS", "W", {-10000.0, 10000.0}},
    {"unit 15", "", {-1.0e6, 1.0e6}},
    {"OTHER", "", {-1.0e6, 1.0e6}},
}};

}  // namespace

std::string unitName(std::int32_t code) {
  if (code < 0 || code >= static_cast<std::int32_t>(kUnits.size())) {
    return "unit " + std::to_string(code);
  }
  return kUnits[static_cast<std::size_t>(code)].name;
}

std::string edfDimension(std::int32_t code) {
  if (code < 0 || code >= static_cast<std::int32_t>(kUnits.size())) {
    return "";
  }
  return kUnits[static_cast<std::size_t>(code)].dimension;
}

PhysicalRange physicalRange(std::int32_t code) {
  if (code < 0 || code >= static_cast<std::int32_t>(kUnits.size())) {
    return {-1.0e6, 1.0e6};
  }
  return kUnits[static_cast<std::size_t>(code)].range;
}

}  // namespace bvhost
