// Where a recording's file goes and how it gets there, tried as people and
// machines treat an output folder: someone swapping the partial file for a
// link, deleting it, a second run naming the same target, a name too long,
// and a crash right after the run that must not cost the finished file.
#include <edflib.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include "cli_runner.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

const std::map<std::string, std::string> kSimulator = {{"ORVANE_SIM_SEED", "5"},
                                                       {"ORVANE_SIM_SENSORS", "2"}};

// The partial data file a running recording writes in `directory`, once it
// is there (up to five seconds).
std::string waitForPartial(const std::string& directory, const std::string& extension) {
  for (int attempt = 0; attempt < 500; ++attempt) {
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
      const std::string name = entry.path().filename().string();
      if (name.find(".partial-") != std::string::npos && name.size() > extension.size() &&
          name.compare(name.size() - extension.size(), extension.size(), extension) == 0) {
        return entry.path().string();
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return "";
}

}  // namespace

// Whoever may write in the output folder swaps the partial file for a link
// to another file of the user's: that file is never written, and the run
// ends loudly instead of reporting a recording it no longer has.
TEST(RecordTargets, APartialFileSwappedForALinkRedirectsNothing) {
  const std::string directory = scratchDirectory("swapped");
  const std::string victim = directory + "/thesis.txt";
  std::ofstream(victim) << "three years of work";
  const CliRun run = runBvhostWhile(
      {"record", KESSRA_PLUGIN_PATH, "--seconds", "6", "--out", directory + "/run.bdf"}, kSimulator,
      [&](int, const std::string&) {
        const std::string partial = waitForPartial(directory, ".bdf");
        ASSERT_FALSE(partial.empty());
        ASSERT_EQ(::symlink(victim.c_str(), (directory + "/link").c_str()), 0);
        ASSERT_EQ(std::rename((directory + "/link").c_str(), partial.c_str()), 0);
      });
  EXPECT_EQ(run.exitCode, 6) << run.err;
  EXPECT_THAT(run.err, HasSubstr("replaced"));
  EXPECT_THAT(run.out, Not(HasSubstr("Wrote")));
  EXPECT_EQ(readFile(victim), "three years of work");
  EXPECT_FALSE(std::filesystem::exists(directory + "/run.bdf"));
}

// A partial file deleted while it is written is a write failure, found
// within about a second, not at the end under a name that is gone.
TEST(RecordTargets, ADeletedPartialFileEndsTheRunLoudly) {
  const std::string directory = scratchDirectory("deleted");
  const auto started = std::chrono::steady_clock::now();
  const CliRun run = runBvhostWhile(
      {"record", KESSRA_PLUGIN_PATH, "--seconds", "30", "--out", directory + "/run.csv"},
      kSimulator, [&](int, const std::string&) {
        const std::string partial = waitForPartial(directory, ".csv");
        ASSERT_FALSE(partial.empty());
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        ASSERT_EQ(std::remove(partial.c_str()), 0);
      });
  EXPECT_EQ(run.exitCode, 6) << run.err;
  EXPECT_THAT(run.err, HasSubstr("was deleted"));
  EXPECT_THAT(run.err, Not(HasSubstr("kept, readable")));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(15));
}

// Two runs naming one output: the second is refused before it connects,
// naming the run that writes it, and the first run's file is whole.
TEST(RecordTargets, ASecondRunOnTheSameTargetIsRefused) {
  const std::string directory = scratchDirectory("twice");
  const std::string target = directory + "/session.bdf";
  CliRun second;
  const CliRun first = runBvhostWhile(
      {"record", KESSRA_PLUGIN_PATH, "--seconds", "4", "--out", target}, kSimulator,
      [&](int pid, const std::string&) {
        ASSERT_FALSE(waitForPartial(directory, ".bdf").empty());
        second = runBvhost(
            {"record", KESSRA_PLUGIN_PATH, "--seconds", "1", "--out", directory + "/./session.bdf"},
            kSimulator);
        EXPECT_THAT(second.err, HasSubstr("(process " + std::to_string(pid) + ")"));
      });
  EXPECT_EQ(second.exitCode, 6) << second.err;
  EXPECT_THAT(second.err, HasSubstr("another bvhost run is writing it now"));
  EXPECT_THAT(second.out, Not(HasSubstr("Wrote")));
  ASSERT_EQ(first.exitCode, 0) << first.err;
  edf_hdr_struct header{};
  ASSERT_EQ(edfopen_file_readonly(target.c_str(), &header, EDFLIB_DO_NOT_READ_ANNOTATIONS), 0);
  EXPECT_EQ(header.datarecords_in_file, 297);  // 4 s in whole frames
  edfclose_file(header.handle);
}

// A name the file system cannot hold once bvhost lengthens it for the
// partial file is refused before anything connects, not after the start.
TEST(RecordTargets, ANameTooLongIsRefusedBeforeConnecting) {
  const std::string directory = scratchDirectory("long");
  const std::string name = std::string(240, 'n') + ".bdf";
  const CliRun run =
      runBvhost({"record", KESSRA_PLUGIN_PATH, "--seconds", "1", "--out", directory + "/" + name},
                kSimulator);
  EXPECT_EQ(run.exitCode, 6) << run.err;
  EXPECT_THAT(run.err, HasSubstr("too long for the file system"));
  EXPECT_TRUE(std::filesystem::is_empty(directory));
}

// The sub-second part of the start, which the EDF+ header cannot hold, is
// in the first record's time-keeping annotation: EDFlib's reader gives the
// same start as the CSV's first line, to the 100 us EDF+ keeps.
TEST(RecordTargets, TheStartKeepsItsFractionOfASecond) {
  const std::string directory = scratchDirectory("subsecond");
  const CliRun run = runBvhost({"record", KESSRA_PLUGIN_PATH, "--seconds", "0.5", "--out",
                                directory + "/a.bdf", "--out", directory + "/a.csv"},
                               kSimulator);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  std::smatch match;
  const std::string csv = readFile(directory + "/a.csv");
  ASSERT_TRUE(std::regex_search(csv, match, std::regex(R"(T\d\d:\d\d:(\d\d)\.(\d{6}))")));
  const long long csvTenthsOfMicros = std::stoll(match[2]) * 10;
  edf_hdr_struct header{};
  ASSERT_EQ(edfopen_file_readonly((directory + "/a.bdf").c_str(), &header,
                                  EDFLIB_DO_NOT_READ_ANNOTATIONS),
            0);
  EXPECT_EQ(header.starttime_second, std::stoi(match[1]));
  EXPECT_NEAR(static_cast<double>(header.starttime_subsecond),
              static_cast<double>(csvTenthsOfMicros), 1000.0);  // 100 us
  edfclose_file(header.handle);
}

// A power loss right after the run must not leave the target naming a file
// whose last data never reached the disk: seen by strace, the file is
// synced after its last write and before the rename that gives it its name.
TEST(RecordTargets, TheFinishedFileIsOnTheDiskBeforeItTakesItsName) {
  if (std::system("strace -o /dev/null true >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "strace (Debian strace) cannot run here";
  }
  const std::string directory = scratchDirectory("synced");
  for (const std::string format : {"bdf", "csv"}) {
    SCOPED_TRACE(format);
    const std::string trace = directory + "/" + format + ".trace";
    const std::string command =
        "strace -f -y -qq -e trace=write,pwrite64,writev,fsync,fdatasync,rename,renameat,"
        "renameat2 -o " +
        trace + " " BVHOST_PATH " record " KESSRA_PLUGIN_PATH " --seconds 1 --out " + directory +
        "/run." + format + " >/dev/null 2>&1";
    // LeakSanitizer, in the sanitizer build, cannot work under ptrace.
    ASSERT_EQ(std::system(("ASAN_OPTIONS=detect_leaks=0 ORVANE_SIM_SENSORS=2 " + command).c_str()),
              0);
    std::ifstream lines(trace);
    std::string line;
    long long lastWrite = -1;
    long long lastSync = -1;
    long long renamed = -1;
    for (long long number = 0; std::getline(lines, line); ++number) {
      const bool partial = line.find(".partial-") != std::string::npos &&
                           line.find(".annotations") == std::string::npos;
      if (!partial) {
        continue;
      }
      if (line.find("rename") != std::string::npos) {
        renamed = number;
        break;
      }
      if (line.find("sync(") != std::string::npos) {
        lastSync = number;
      } else if (line.find("write") != std::string::npos) {
        lastWrite = number;
      }
    }
    ASSERT_GE(renamed, 0) << readFile(trace);
    ASSERT_GE(lastWrite, 0);
    EXPECT_GT(lastSync, lastWrite) << "the last write of the partial file is not synced before "
                                      "its rename";
  }
}

// Killed during a sensor's silence: the silence was journalled when it
// began, so after `bvhost repair` it is marked, up to the file's end, as
// EDFlib's reader sees it.
TEST(RecordTargets, ASilenceStillGoingOnWhenKilledIsMarkedAfterRepair) {
  const std::string directory = scratchDirectory("killed_silent");
  auto silent = kSimulator;
  silent["ORVANE_SIM_DROPOUT"] = "2:148:100000";  // S2 silent from 1.998 s on
  const CliRun run = runBvhostAndSignal(
      {"record", KESSRA_PLUGIN_PATH, "--seconds", "60", "--out", directory + "/run.bdf"}, SIGKILL,
      5000, silent);
  ASSERT_EQ(run.killedBy, SIGKILL);
  const std::string partial = waitForPartial(directory, ".bdf");
  ASSERT_FALSE(partial.empty());
  const CliRun repair = runBvhost({"repair", partial});
  ASSERT_EQ(repair.exitCode, 0) << repair.err;
  edf_hdr_struct header{};
  ASSERT_EQ(
      edfopen_file_readonly((directory + "/run.bdf").c_str(), &header, EDFLIB_READ_ALL_ANNOTATIONS),
      0);
  const long long fileEnd = header.datarecords_in_file * 135000LL;  // in 100 ns
  bool marked = false;
  for (long long a = 0; a < header.annotations_in_file; ++a) {
    edf_annotation_struct annotation{};
    edf_get_annotation(header.handle, static_cast<int>(a), &annotation);
    if (std::string(annotation.annotation) == "S2 no data") {
      EXPECT_EQ(annotation.onset, 148 * 135000LL);
      EXPECT_EQ(annotation.onset + annotation.duration_l, fileEnd);
      marked = true;
    }
  }
  edfclose_file(header.handle);
  EXPECT_TRUE(marked);
}
