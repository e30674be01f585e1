// What the station enumerates and how it describes it.
#include <gmock/gmock.h>

#include <cmath>
#include <set>
#include <utility>
#include <vector>

#include "simulator_session.h"

namespace sim_test {
namespace {

using ::testing::HasSubstr;
using ::testing::MatchesRegex;

std::vector<std::string> identifiersOf(const std::string& list) {
  std::vector<std::string> identifiers;
  std::size_t from = 0;
  for (std::size_t bar = list.find('|'); bar != std::string::npos; bar = list.find('|', from)) {
    identifiers.push_back(list.substr(from, bar - from));
    from = bar + 1;
  }
  EXPECT_EQ(from, list.size()) << "text after the last separator: " << list;
  return identifiers;
}

std::string keyOf(const std::string& identifier) {
  return identifier.substr(0, identifier.find('+'));
}

struct Expected {
  const char* name;
  const char* unit;
  std::int64_t perFrame;
};
constexpr Expected kChannels[] = {
    {"EMG", "MILLIVOLTS", 26}, {"ACC X", "G", 2},     {"ACC Y", "G", 2},     {"ACC Z", "G", 2},
    {"GYR X", "DEG_S", 2},     {"GYR Y", "DEG_S", 2}, {"GYR Z", "DEG_S", 2},
};

class Enumeration : public SimulatorTest, public ::testing::WithParamInterface<int> {};

TEST_P(Enumeration, ChannelListMetadataAndAnswersAgree) {
  const int sensors = GetParam();
  setEnv("ORVANE_SIM_SENSORS", std::to_string(sensors));
  const Opened opened = open();

  ASSERT_EQ(opened.sensorCount, sensors);
  const auto identifiers = identifiersOf(opened.channelList);
  ASSERT_EQ(identifiers.size(), static_cast<std::size_t>(sensors) * 7);
  EXPECT_THAT(opened.channelsPerSensor, ::testing::Each(7));

  std::set<std::string> keys;
  std::set<std::string> serials;
  for (int s = 0; s < sensors; ++s) {
    const std::string key = keyOf(identifiers[static_cast<std::size_t>(s) * 7]);
    EXPECT_TRUE(keys.insert(key).second) << "key reused: " << key;
    EXPECT_EQ(key.find('|'), std::string::npos);
    EXPECT_FALSE(info(key, InfoName).empty());
    EXPECT_EQ(info(key, InfoDetail), "EMG 1926 Hz, IMU 148 Hz");
    EXPECT_TRUE(serials.insert(info(key, InfoSensorId)).second) << "serial reused";
    const std::string battery = info(key, InfoBattery);
    ASSERT_THAT(battery, MatchesRegex("[0-9]+"));
    EXPECT_LE(std::stoi(battery), 100);

    for (int c = 0; c < 7; ++c) {
      const auto index = static_cast<std::size_t>(s) * 7 + static_cast<std::size_t>(c);
      const std::string& id = identifiers[index];
      SCOPED_TRACE(id);
      // Channels of one sensor share its key, so the plug-in groups them.
      EXPECT_EQ(keyOf(id), key);
      EXPECT_NE(id.find('+'), std::string::npos);
      EXPECT_EQ(info(id, InfoName), kChannels[c].name);
      EXPECT_EQ(info(id, InfoUnit), kChannels[c].unit);
      EXPECT_EQ(std::llround(opened.sampleRates[index] * 0.0135), kChannels[c].perFrame);
      EXPECT_DOUBLE_EQ(opened.sampleRates[index], kChannels[c].perFrame / 0.0135);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Sensors, Enumeration, ::testing::Values(1, 4, 16));

using Station = SimulatorTest;

TEST_F(Station, ScanReadsTheSettingsAgainAndReplacesTheList) {
  EXPECT_EQ(open().sensorCount, 4);
  setEnv("ORVANE_SIM_SENSORS", "2");
  const Opened rescanned = scan();
  EXPECT_EQ(rescanned.sensorCount, 2);
  EXPECT_EQ(identifiersOf(rescanned.channelList).size(), 14u);
  EXPECT_EQ(info("S03", InfoName), "") << "a sensor no longer paired still answers";
}

TEST_F(Station, UnusableSettingsFallBackToDefaultsWithOneNoticeEach) {
  const std::vector<std::pair<const char*, const char*>> unusable = {
      {"ORVANE_SIM_SENSORS", "lots"},      {"ORVANE_SIM_SEED", "12abc"},
      {"ORVANE_SIM_DROPOUT", "9:10:20"},  // no ninth sensor among four
      {"ORVANE_SIM_PATTERN", "Sustained"}, {"ORVANE_SIM_MAINS", "55"},
      {"ORVANE_SIM_MOTION", "yes"},        {"ORVANE_SIM_OUTAGE", "soon"},
      {"ORVANE_SIM_BACKLOG", "lots"},      {"ORVANE_SIM_CLOCK_PPM", "fast"}};
  for (const auto& [variable, value] : unusable) {
    setEnv(variable, value);
  }
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(open().sensorCount, 4);
  EXPECT_EQ(scan().sensorCount, 4);
  orvane_close();
  EXPECT_EQ(open().sensorCount, 4);
  const std::string notices = ::testing::internal::GetCapturedStderr();

  EXPECT_EQ(info("@simulator/settings", InfoName),
            "sensors=4 seed=1 dropout=none pattern=bursts mains=off motion=off outage=none "
            "backlog=32768 clock_ppm=0");
  for (const auto& [variable, value] : unusable) {
    const auto first = notices.find(variable);
    ASSERT_NE(first, std::string::npos) << variable << " not reported:\n" << notices;
    EXPECT_EQ(notices.find(variable, first + 1), std::string::npos)
        << variable << " reported more than once:\n"
        << notices;
  }

  for (const char* text : {"4x", " 4", "+4", "-", "1e1"}) {
    setEnv("ORVANE_SIM_SENSORS", text);
    EXPECT_EQ(scan().sensorCount, 4) << text;
  }
}

// A count out of range is still a count: the nearest one allowed, said once.
TEST_F(Station, OutOfRangeSensorCountClampsToTheNearestWithANotice) {
  const std::vector<std::pair<const char*, int>> cases = {
      {"17", 16}, {"99999999999", 16}, {"0", 1}, {"-1", 1}, {"-99999999999", 1}};
  for (const auto& [text, expected] : cases) {
    setEnv("ORVANE_SIM_SENSORS", text);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(open().sensorCount, expected) << text;
    EXPECT_EQ(scan().sensorCount, expected) << text;
    const std::string notices = ::testing::internal::GetCapturedStderr();
    EXPECT_THAT(notices, HasSubstr(std::string("ORVANE_SIM_SENSORS=\"") + text + "\""));
    EXPECT_THAT(notices, HasSubstr("clamping"));
    EXPECT_THAT(notices, HasSubstr("using " + std::to_string(expected) + " sensor"));
    EXPECT_EQ(notices.find("ORVANE_SIM_SENSORS", notices.find("ORVANE_SIM_SENSORS") + 1),
              std::string::npos)
        << notices;
    EXPECT_THAT(info("@simulator/settings", InfoName),
                HasSubstr("sensors=" + std::to_string(expected) + " "));
    orvane_close();
  }
}

TEST_F(Station, TakesWellFormedSettingsSilently) {
  setEnv("ORVANE_SIM_SENSORS", "3");
  setEnv("ORVANE_SIM_SEED", "18446744073709551615");
  setEnv("ORVANE_SIM_DROPOUT", "3:0:5");
  setEnv("ORVANE_SIM_PATTERN", "sustained");
  setEnv("ORVANE_SIM_MAINS", "60");
  setEnv("ORVANE_SIM_MOTION", "on");
  setEnv("ORVANE_SIM_OUTAGE", "222:148");
  setEnv("ORVANE_SIM_BACKLOG", "74");
  setEnv("ORVANE_SIM_CLOCK_PPM", "-2.5");
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(open().sensorCount, 3);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(info("@simulator/settings", InfoName),
            "sensors=3 seed=18446744073709551615 dropout=3:0:5 pattern=sustained mains=60 "
            "motion=on outage=222:148 backlog=74 clock_ppm=-2.5");
}

TEST_F(Station, KeepsTheTriggerOptionsUntilClosed) {
  open();
  EXPECT_THAT(info("@simulator/triggers", InfoName), HasSubstr("configured=no"));
  orvane_configure(true, true, false, true);
  const std::string applied =
      "configured=yes enable=true start_input=true stop_input=false output_triggers=true";
  EXPECT_EQ(info("@simulator/triggers", InfoName), applied);
  scan();
  EXPECT_EQ(info("@simulator/triggers", InfoName), applied);
  orvane_close();
  EXPECT_THAT(info("@simulator/triggers", InfoName), HasSubstr("configured=no"));
}

TEST_F(Station, OddCallOrdersAreHarmless) {
  orvane_close();
  orvane_close();
  orvane_stop();
  orvane_start();  // nothing is open, so nothing starts
  EXPECT_EQ(scan().sensorCount, 0);
  EXPECT_FALSE(orvane_configure(true, true, true, true));
  EXPECT_FALSE(poll());
  EXPECT_EQ(info("S01", InfoName), "");
  EXPECT_EQ(orvane_infoRequest(nullptr, InfoName), std::string());

  open();
  EXPECT_EQ(open().sensorCount, 4);
  EXPECT_EQ(info("S01+NOPE", InfoName), "");
  EXPECT_EQ(info("S01+EMG", static_cast<InfoCode>(5)), "");
  EXPECT_EQ(info("@simulator/nonsense", InfoName), "");
  EXPECT_FALSE(poll()) << "a frame before any start";
  orvane_stop();
  EXPECT_FALSE(poll());
  orvane_close();
  EXPECT_FALSE(poll());
  orvane_close();
}

}  // namespace
}  // namespace sim_test
