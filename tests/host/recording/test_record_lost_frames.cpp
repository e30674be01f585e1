// Frames the device made that never reached bvhost: a link outage, a station
// that goes quiet, a backlog that overflows while bvhost is held up. Judged
// by MNE-Python against a clean run of the same seed, whose frames tell by
// their samples alone where each one of the other run truly belongs.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <map>
#include <regex>
#include <thread>

#include "cli_runner.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

const std::map<std::string, std::string> kSimulator = {{"ORVANE_SIM_SEED", "77"},
                                                       {"ORVANE_SIM_SENSORS", "2"}};
constexpr const char* kSeconds = "6";  // 445 frames

bool haveMne() { return std::system("/usr/bin/python3 -c 'import mne' >/dev/null 2>&1") == 0; }

struct Placement {
  long long frames = -1;
  long long gapFrames = -1;
  long long firstGap = -1;
  long long lastGap = -1;
  long long largestOffset = -1;
  std::string annotations;
};

long long field(const std::string& json, const std::string& name) {
  std::smatch match;
  if (!std::regex_search(json, match, std::regex("\"" + name + "\": (-?[0-9]+|null)")) ||
      match[1] == "null") {
    return -1;
  }
  return std::stoll(match[1]);
}

Placement compare(const std::string& clean, const std::string& lossy) {
  const std::string json = lossy + ".json";
  EXPECT_EQ(std::system(("/usr/bin/python3 " SCRIPTS_DIR "/compare_lost_frames.py " + clean + " " +
                         lossy + " > " + json)
                            .c_str()),
            0);
  const std::string text = readFile(json);
  Placement placement;
  placement.frames = field(text, "frames");
  placement.gapFrames = field(text, "gap_frames");
  placement.firstGap = field(text, "first_gap");
  placement.lastGap = field(text, "last_gap");
  placement.largestOffset = field(text, "largest_offset");
  const auto at = text.find("\"annotations\": ");
  placement.annotations = at == std::string::npos ? "" : text.substr(at);
  return placement;
}

// One annotation for the lost span, where it was, within three frames.
void expectOneLostAnnotation(const std::string& annotations, const std::string& text, double onset,
                             double duration) {
  std::smatch match;
  ASSERT_TRUE(std::regex_search(annotations, match,
                                std::regex(R"re(\[\[([0-9.]+), ([0-9.]+), "([^"]*)"\]\])re")))
      << annotations;
  EXPECT_NEAR(std::stod(match[1]), onset, 3 * 0.0135);
  EXPECT_NEAR(std::stod(match[2]), duration, 3 * 0.0135);
  EXPECT_EQ(match[3], text);
}

class RecordLostFrames : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!haveMne()) {
      GTEST_SKIP() << "MNE-Python (Debian python3-mne) is not installed";
    }
    directory_ = scratchDirectory(
        "lost_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    // The clean run every test compares with; each test runs in a process
    // of its own under ctest, so each records it.
    const CliRun clean = record("clean.bdf", kSimulator);
    ASSERT_EQ(clean.exitCode, 0) << clean.err;
  }

  CliRun record(const std::string& name, const std::map<std::string, std::string>& environment,
                const std::function<void(int)>& whileRunning = {}) {
    return runBvhostWhile(
        {"record", KESSRA_PLUGIN_PATH, "--seconds", kSeconds, "--out", path(name)}, environment,
        [&](int pid, const std::string&) {
          if (whileRunning) {
            whileRunning(pid);
          }
        });
  }

  std::string path(const std::string& name) const { return directory_ + "/" + name; }

  std::string directory_;
};

// Holds bvhost up, as Ctrl-Z, a laptop lid or a swapping machine does.
void holdUp(int pid, int afterMilliseconds, int forMilliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(afterMilliseconds));
  ::kill(pid, SIGSTOP);
  std::this_thread::sleep_for(std::chrono::milliseconds(forMilliseconds));
  ::kill(pid, SIGCONT);
}

}  // namespace

TEST_F(RecordLostFrames, ALinkOutageIsAGapInPlaceWithOneAnnotationAndItsOwnExitCode) {
  auto outage = kSimulator;
  outage["ORVANE_SIM_OUTAGE"] = "222:148";  // every sensor, from 2.997 s for 1.998 s
  const CliRun run = record("outage.bdf", outage);
  ASSERT_EQ(run.exitCode, 7) << run.err;
  EXPECT_THAT(run.out, HasSubstr("Frames lost: 148 (1.9980 s)"));
  EXPECT_THAT(run.out, Not(HasSubstr("every frame in full")));
  const Placement placement = compare(path("clean.bdf"), path("outage.bdf"));
  EXPECT_EQ(placement.frames, 445);
  EXPECT_LE(placement.largestOffset, 2);
  EXPECT_NEAR(placement.firstGap, 222, 3);
  EXPECT_NEAR(placement.gapFrames, 148, 3);
  expectOneLostAnnotation(placement.annotations, "frames lost", 2.997, 1.998);
}

// A station that goes quiet for good: the file still spans the time asked
// for, the silence to its end marked, never a shorter file passed off as
// complete.
TEST_F(RecordLostFrames, AStationThatStopsSendingLeavesTheRestAMarkedGap) {
  auto dead = kSimulator;
  dead["ORVANE_SIM_OUTAGE"] = "148:1000000";
  const CliRun run = record("dead.bdf", dead);
  ASSERT_EQ(run.exitCode, 7) << run.err;
  EXPECT_THAT(run.out, Not(HasSubstr("later frame(s)")));
  const Placement placement = compare(path("clean.bdf"), path("dead.bdf"));
  EXPECT_EQ(placement.frames, 445);
  EXPECT_EQ(placement.firstGap, 148);
  EXPECT_EQ(placement.lastGap, 444);
  EXPECT_EQ(placement.largestOffset, 0);
  expectOneLostAnnotation(placement.annotations, "frames lost", 1.998, 4.0095);
}

// A backlog of 100 frames (1.35 s) overflows during a 2.5 s hold-up: the
// frames it dropped are a gap, the frames after sit at their true time, and
// the annotation says the place is uncertain, since bvhost could not watch.
TEST_F(RecordLostFrames, ABacklogThatOverflowsWhileHeldUpLeavesLaterFramesInPlace) {
  auto small = kSimulator;
  small["ORVANE_SIM_BACKLOG"] = "100";
  const CliRun run = record("overflow.bdf", small, [](int pid) { holdUp(pid, 2500, 2500); });
  ASSERT_EQ(run.exitCode, 7) << run.err;
  EXPECT_THAT(run.out, HasSubstr("(place uncertain)"));
  const Placement placement = compare(path("clean.bdf"), path("overflow.bdf"));
  EXPECT_EQ(placement.frames, 445);
  EXPECT_LE(placement.largestOffset, 2);
  // About 1.15 s of frames lost (2.5 s less the backlog's 1.35 s).
  EXPECT_NEAR(placement.gapFrames, 85, 15);
  EXPECT_THAT(placement.annotations, HasSubstr("\"frames lost, place uncertain\""));
}

// Held up for 3 s while the device's backlog holds every frame: nothing is
// lost, and the file is the clean one, sample for sample.
TEST_F(RecordLostFrames, AHoldUpTheBacklogCoversLosesNothing) {
  const CliRun run = record("held.bdf", kSimulator, [](int pid) { holdUp(pid, 2500, 3000); });
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("Every sensor delivered every frame in full."));
  const Placement placement = compare(path("clean.bdf"), path("held.bdf"));
  EXPECT_EQ(placement.frames, 445);
  EXPECT_EQ(placement.gapFrames, 0);
  EXPECT_EQ(placement.largestOffset, 0);
  EXPECT_EQ(placement.annotations, "\"annotations\": []}\n");
}
