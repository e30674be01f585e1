// What the host makes of the plug-in's unit codes: a name for people, an EDF
// physical dimension, and the physical range a recording reserves.
#pragma once

#include <cstdint>
#include <string>

namespace bvhost {

struct PhysicalRange {
  double minimum;
  double maximum;
};

// "MILLIVOLTS", "G", ...; codes outside the table read "unit <n>".
std::string unitName(std::int32_t code);

// At most eight characters, as an EDF header field holds.
std::string edfDimension(std::int32_t code);

// The range each unit's signal is written with; see host/README.md for why
// these values.
PhysicalRange physicalRange(std::int32_t code);

}  // namespace bvhost
