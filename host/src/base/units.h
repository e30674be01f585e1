// What the host makes of the plug-in's unit codes: the unit text every output
// writes, a label for people, and the physical range a recording reserves.
#pragma once

#include <cstdint>
#include <string>

namespace bvhost {

struct PhysicalRange {
  double minimum;
  double maximum;
};

// The unit as the files write it ("mV", "g", "deg/s"), at most eight
// characters, as an EDF header field holds; empty for a code no unit text
// belongs to, so a file never claims a dimension it does not know.
std::string edfDimension(std::int32_t code);

// The unit text with its code beside it, "mV (9)", so a host author can find
// the BV_UNIT_* constant; "(16)" for a code without a text.
std::string unitLabel(std::int32_t code);

// The range each unit's signal is written with; see host/README.md for why
// these values.
PhysicalRange physicalRange(std::int32_t code);

}  // namespace bvhost
