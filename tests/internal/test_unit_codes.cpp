#include <gtest/gtest.h>

#include "inventory/unit_codes.h"

namespace {

using kessra::unitCodeFromText;

TEST(UnitCodes, MapEveryKnownTextToItsCode) {
  const std::pair<const char*, int> table[] = {
      {"METERS", 0},        {"DEGS", 2},   {"N", 3},      {"G", 4},          {"MICROTESLA", 5},
      {"METERS_SECOND", 6}, {"Nm", 7},     {"VOLTS", 8},  {"MILLIVOLTS", 9}, {"BPM", 11},
      {"Celsius", 12},      {"DEG_S", 13}, {"WATTS", 14},
  };
  for (const auto& [text, code] : table) {
    EXPECT_EQ(unitCodeFromText(text), code) << text;
  }
}

TEST(UnitCodes, MatchOnlyTheWholeTextExactly) {
  for (const char* text :
       {"volts", "VOLTS ", " VOLTS", "CELSIUS", "Meters", "", "MILLI", "N ", "NM", "DEG", "G\n"}) {
    EXPECT_EQ(unitCodeFromText(text), 16) << '"' << text << '"';
  }
}

TEST(UnitCodes, CompareLengthsNotCStrings) {
  // An embedded NUL is part of the text, so it must not match a shorter row.
  EXPECT_EQ(unitCodeFromText(std::string_view("N\0m", 3)), 16);
  EXPECT_EQ(unitCodeFromText(std::string_view("G\0", 2)), 16);
}

}  // namespace
