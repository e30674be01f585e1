// What `bvhost info` tells a host author about the simulated sensors.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "cli_runner.h"
#include "kessra_plugin.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

// The label a row must carry: the unit as the files write it, and the code
// the header's constant has, so the author can find the constant by number.
std::string label(const char* text, std::int32_t code) {
  return std::string(text) + " (" + std::to_string(code) + ")";
}

}  // namespace

TEST(Info, EveryChannelShowsItsFileUnitAndTheCodeTheHeaderNames) {
  const CliRun run = runBvhost({"info", KESSRA_PLUGIN_PATH}, {{"ORVANE_SIM_SENSORS", "2"}});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const struct {
    const char* channel;
    std::string unit;
  } rows[] = {{"EMG", label("mV", BV_UNIT_MILLIVOLTS)},
              {"ACC X", label("g", BV_UNIT_G)},
              {"ACC Z", label("g", BV_UNIT_G)},
              {"GYR X", label("deg/s", BV_UNIT_DEGREES_PER_SECOND)},
              {"GYR Z", label("deg/s", BV_UNIT_DEGREES_PER_SECOND)}};
  for (const auto& row : rows) {
    // Once per sensor, the unit straight after the channel's name.
    const std::regex line("\n +" + std::string(row.channel) + " +" +
                          std::regex_replace(row.unit, std::regex(R"([()])"), R"(\$&)") +
                          " +[0-9]");
    const auto count = std::distance(std::sregex_iterator(run.out.begin(), run.out.end(), line),
                                     std::sregex_iterator());
    EXPECT_EQ(count, 2) << row.channel << " should read " << row.unit << " in\n" << run.out;
  }
  // The host enumeration's own words are not what any file says.
  for (const char* word : {"MILLIVOLTS", "DEG_S", " G "}) {
    EXPECT_THAT(run.out, Not(HasSubstr(word)));
  }
}
