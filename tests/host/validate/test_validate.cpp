// bvhost validate on our plug-in and on plug-ins that each break one rule.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <string>

#include "cli_runner.h"

using ::testing::HasSubstr;
using ::testing::Not;

TEST(Validate, PassesOnOurPlugin) {
  const CliRun run = runBvhost({"validate", KESSRA_PLUGIN_PATH, "--seed", "1"});
  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_THAT(run.out, Not(HasSubstr("FAIL")));
  EXPECT_THAT(run.out, HasSubstr("21 checks run, 21 passed, 0 failed"));
}

TEST(Validate, NamesAnAcceptedSecondConnect) {
  const CliRun run = runBvhost({"validate", BROKEN_MISUSE_PATH, "--seed", "1"});
  EXPECT_EQ(run.exitCode, 1) << run.out;
  EXPECT_THAT(run.out, HasSubstr("FAIL  misuse-connected"));
  EXPECT_THAT(run.out, HasSubstr("bv_connect while Connected returned code 0 (no message); "
                                 "expected code 1 \"Device already connected\""));
  // The rest of the plug-in is sound, and the other checks still ran.
  EXPECT_THAT(run.out, HasSubstr("PASS  misuse-disconnected"));
  EXPECT_THAT(run.out, HasSubstr("PASS  configuration-tree"));
  EXPECT_THAT(run.out, HasSubstr("PASS  stop-in-callback"));
  // It imports no interop library, so there is nothing to put a stand-in in
  // front of.
  EXPECT_THAT(run.out, HasSubstr("SKIP  device-samples"));
}

// Faults a host meets only in a second stream, with a callback or record it
// got wrong, or by timing a start: each named by its check with the evidence.
TEST(Validate, NamesFaultsOfRepeatedStreamsNullCallbacksAndRecords) {
  const struct {
    const char* plugin;
    const char* check;
    const char* evidence;
  } cases[] = {
      {SHORT_START_PATH, "repeated-streams", "on the monotonic clock; expected at least 1000 ms"},
      {STALE_INDEX_PATH, "repeated-streams",
       "where 0 was due (every stream counts a channel's samples from 0)"},
      {NULL_CALLBACK_PATH, "null-arguments",
       "bv_read_samples(NULL) while Disconnected returned code 0 (no message); expected code 1 "
       "\"Invalid argument\""},
      {TWO_SETTINGS_PATH, "host-records",
       "settings reading false, a fresh configuration's settings read false, false, false; "
       "expected true, true, true"},
  };
  for (const auto& fault : cases) {
    const CliRun run = runBvhost(
        {"validate", fault.plugin, "--seed", "2", "--only", std::string("^") + fault.check + "$"});
    EXPECT_EQ(run.exitCode, 1) << run.out;
    EXPECT_THAT(run.out, HasSubstr(std::string("FAIL  ") + fault.check)) << fault.plugin;
    EXPECT_THAT(run.out, HasSubstr(fault.evidence)) << run.out;
  }
}

TEST(Validate, NamesAGapInFirstIndex) {
  const CliRun run = runBvhost({"validate", BROKEN_GAP_PATH, "--only", "^stream$"});
  EXPECT_EQ(run.exitCode, 1) << run.out;
  EXPECT_THAT(run.out, HasSubstr("FAIL  stream"));
  EXPECT_THAT(run.out, HasSubstr("Fake sensor / C1: firstIndex 298 where 297 was due (a gap"));
  EXPECT_THAT(run.out, HasSubstr("1 checks run, 0 passed, 1 failed"));
}

TEST(Validate, NamesAMissingEntryPointAndStillRunsTheRest) {
  const CliRun run = runBvhost({"validate", BROKEN_MISSING_PATH, "--seed", "3"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_THAT(run.out, HasSubstr("FAIL  entry-points"));
  EXPECT_THAT(run.out, HasSubstr("missing entry point: bv_read_samples"));
  EXPECT_THAT(run.out, HasSubstr("PASS  identity "));
}

TEST(Validate, OnlyRunsTheChecksWhoseNameMatches) {
  const CliRun run = runBvhost({"validate", KESSRA_PLUGIN_PATH, "--only", "^misuse-"});
  EXPECT_EQ(run.exitCode, 0) << run.out;
  EXPECT_THAT(run.out, HasSubstr("3 checks run, 3 passed, 0 failed"));
  EXPECT_THAT(run.out, Not(HasSubstr("identity")));
}

TEST(Validate, PrintsTheSeedSoARunCanBeRepeated) {
  const CliRun run =
      runBvhost({"validate", KESSRA_PLUGIN_PATH, "--only", "^copy-back$", "--seed", "77"});
  EXPECT_THAT(run.out, HasSubstr("seed 77"));
}

// Loading runs the library's constructors; one that crashes or hangs must
// make validate report a load failure, not take it down.
TEST(Validate, ReportsALibraryThatCrashesWhileLoading) {
  const CliRun run = runBvhost({"validate", CRASH_ON_LOAD_PATH});
  EXPECT_EQ(run.exitCode, 3) << run.out << run.err;
  EXPECT_THAT(run.err, HasSubstr("loading it crashed with signal " + std::to_string(SIGSEGV)));
}

TEST(Validate, ReportsALibraryThatHangsWhileLoading) {
  const CliRun run = runBvhost({"validate", HANG_ON_LOAD_PATH});
  EXPECT_EQ(run.exitCode, 3) << run.out << run.err;
  EXPECT_THAT(run.err, HasSubstr("loading it did not finish within"));
}

TEST(Validate, StillNamesALibraryThatIsNoPlugin) {
  const CliRun run = runBvhost({"validate", INTEROP_PATH});
  EXPECT_EQ(run.exitCode, 4) << run.out << run.err;
  EXPECT_THAT(run.err, HasSubstr("it is no plug-in"));
}
