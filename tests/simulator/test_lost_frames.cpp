// Frames lost before the host sees them: a link outage for every sensor and
// a backlog overrun by a host that stopped polling.
#include <gmock/gmock.h>

#include <cstring>
#include <map>
#include <thread>

#include "simulator_session.h"

namespace sim_test {
namespace {

using std::chrono::milliseconds;
using testing::HasSubstr;

bool sameSamples(const Frame& a, const Frame& b) {
  return a.sequence == b.sequence && a.counts == b.counts && a.samples.size() == b.samples.size() &&
         std::memcmp(a.samples.data(), b.samples.data(), a.samples.size() * sizeof(float)) == 0;
}

class LostFrames : public SimulatorTest {
 protected:
  // The frames of a capture without losses, on a fresh open with the same
  // seed, up to frame `last`, however long that takes.
  std::map<std::int64_t, Frame> cleanRunThrough(std::int64_t last) {
    orvane_close();
    unsetenv("ORVANE_SIM_OUTAGE");
    unsetenv("ORVANE_SIM_BACKLOG");
    open();
    orvane_start();
    std::map<std::int64_t, Frame> frames;
    while (frames.empty() || frames.rbegin()->first < last) {
      if (auto frame = poll()) {
        frames.emplace(frame->sequence, std::move(*frame));
      } else {
        std::this_thread::sleep_for(milliseconds(5));
      }
    }
    orvane_stop();
    return frames;
  }
};

TEST_F(LostFrames, OutageFramesNeverArriveAndTheNextCarriesItsOwnSamples) {
  setEnv("ORVANE_SIM_SEED", "3");
  setEnv("ORVANE_SIM_OUTAGE", "5:10");
  open();
  const auto first = record(milliseconds(400));
  const auto second = record(milliseconds(300));  // every capture has it
  EXPECT_EQ(info("@simulator/overflow", InfoName), "0");
  for (const auto* capture : {&first, &second}) {
    ASSERT_GE(capture->size(), 7u);
    for (std::size_t i = 0; i < capture->size(); ++i) {
      const auto expected = static_cast<std::int64_t>(i < 5 ? i : i + 10);
      ASSERT_EQ((*capture)[i].sequence, expected) << "frame " << i;
    }
  }
  const auto clean = cleanRunThrough(first.back().sequence);
  for (const Frame& frame : first) {
    EXPECT_TRUE(sameSamples(frame, clean.at(frame.sequence))) << "frame " << frame.sequence;
  }
}

// The station falls silent for good; stopping must not count the outage's
// frames as streamed, or the battery would drain by them.
TEST_F(LostFrames, OutagePastTheEndLeavesOnlyTheFramesBeforeIt) {
  open();
  record(milliseconds(200));
  const std::string battery = info("S01", InfoBattery);
  orvane_close();
  setEnv("ORVANE_SIM_OUTAGE", "3:1000000");
  open();
  // Polled as it goes, as a host does, so the clock passes over the outage
  // before the stop.
  orvane_start();
  std::vector<Frame> frames;
  for (const auto start = Clock::now(); Clock::now() - start < milliseconds(200);) {
    if (auto frame = poll()) {
      frames.push_back(std::move(*frame));
    }
    std::this_thread::sleep_for(milliseconds(5));
  }
  orvane_stop();
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames.back().sequence, 2);
  EXPECT_EQ(info("S01", InfoBattery), battery);
}

TEST_F(LostFrames, BacklogKeepsTheNewestFramesWithTheirOwnSamples) {
  setEnv("ORVANE_SIM_SEED", "3");
  setEnv("ORVANE_SIM_BACKLOG", "5");
  open();
  const auto frames = record(milliseconds(300));  // at least 22 frames fall due
  ASSERT_EQ(frames.size(), 5u);
  const std::int64_t oldest = frames.front().sequence;
  EXPECT_GE(oldest, 17);
  for (std::size_t i = 0; i < frames.size(); ++i) {
    EXPECT_EQ(frames[i].sequence, oldest + static_cast<std::int64_t>(i));
  }
  EXPECT_EQ(info("@simulator/overflow", InfoName), std::to_string(oldest));
  const auto clean = cleanRunThrough(frames.back().sequence);
  for (const Frame& frame : frames) {
    EXPECT_TRUE(sameSamples(frame, clean.at(frame.sequence))) << "frame " << frame.sequence;
  }
}

// The station's clock rate is tested as a schedule in test_frame_clock.cpp;
// here, that each setting reaches the station or is refused with a notice.
TEST_F(LostFrames, SettingsTakeTheirRangesAndRefuseTheRestWithANotice) {
  struct Case {
    const char* variable;
    const char* value;
    const char* reported;
    bool refused;
  };
  const std::vector<Case> cases = {
      {"ORVANE_SIM_OUTAGE", "222:148", "outage=222:148", false},
      {"ORVANE_SIM_OUTAGE", "0:18446744073709551615", "outage=0:18446744073709551615", false},
      {"ORVANE_SIM_OUTAGE", "5", "outage=none", true},
      {"ORVANE_SIM_OUTAGE", "5:0", "outage=none", true},
      {"ORVANE_SIM_OUTAGE", "5:3:1", "outage=none", true},
      {"ORVANE_SIM_OUTAGE", "-1:3", "outage=none", true},
      {"ORVANE_SIM_BACKLOG", "1", "backlog=1", false},
      {"ORVANE_SIM_BACKLOG", "32768", "backlog=32768", false},
      {"ORVANE_SIM_BACKLOG", "0", "backlog=32768", true},
      {"ORVANE_SIM_BACKLOG", "32769", "backlog=32768", true},
      {"ORVANE_SIM_BACKLOG", "7.5", "backlog=32768", true},
      {"ORVANE_SIM_CLOCK_PPM", "2.5", "clock_ppm=2.5", false},
      {"ORVANE_SIM_CLOCK_PPM", "+100", "clock_ppm=100", false},
      {"ORVANE_SIM_CLOCK_PPM", "-10000", "clock_ppm=-10000", false},
      {"ORVANE_SIM_CLOCK_PPM", "-0", "clock_ppm=0", false},
      {"ORVANE_SIM_CLOCK_PPM", "10000.5", "clock_ppm=0", true},
      {"ORVANE_SIM_CLOCK_PPM", "1e2", "clock_ppm=0", true},
      {"ORVANE_SIM_CLOCK_PPM", "nan", "clock_ppm=0", true},
      {"ORVANE_SIM_CLOCK_PPM", "+-5", "clock_ppm=0", true},
      {"ORVANE_SIM_CLOCK_PPM", "5 ppm", "clock_ppm=0", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.variable) + "=" + c.value);
    setEnv(c.variable, c.value);
    testing::internal::CaptureStderr();
    open();
    open();  // said once, not on every open
    const std::string notices = testing::internal::GetCapturedStderr();
    if (c.refused) {
      EXPECT_THAT(notices, HasSubstr(std::string(c.variable) + "=\"" + c.value + "\""));
      EXPECT_EQ(notices.find(c.variable), notices.rfind(c.variable)) << notices;
    } else {
      EXPECT_EQ(notices, "");
    }
    EXPECT_THAT(info("@simulator/settings", InfoName), HasSubstr(c.reported));
    unsetenv(c.variable);
  }
}

}  // namespace
}  // namespace sim_test
