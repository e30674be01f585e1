// Parsing the command line, and the isolation of validator checks.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <thread>

#include "cli.h"
#include "validate/check_runner.h"

using namespace bvhost;
using ::testing::HasSubstr;

TEST(CommandLine, RecordTakesFormatsFromExtensionsAndTriggerSwitches) {
  const Request request =
      parseCommandLine({"record", "p.so", "--seconds=2.5", "--out", "a.BDF", "--out", "b.csv",
                        "--start-trigger", "off", "--output-triggers=off"});
  const auto& options = std::get<RecordOptions>(request);
  EXPECT_EQ(options.plugin, "p.so");
  EXPECT_DOUBLE_EQ(options.seconds, 2.5);
  ASSERT_EQ(options.outputs.size(), 2u);
  EXPECT_EQ(options.outputs[0].format, OutputFormat::Bdf);
  EXPECT_EQ(options.outputs[1].format, OutputFormat::Csv);
  EXPECT_FALSE(options.triggers.startInput);
  EXPECT_TRUE(options.triggers.stopInput);
  EXPECT_FALSE(options.triggers.outputTriggers);
}

TEST(CommandLine, FormatOptionOverridesTheExtensionOfASingleOutput) {
  const auto options = std::get<RecordOptions>(
      parseCommandLine({"record", "p.so", "--seconds", "1", "--out", "x.dat", "--format", "edf"}));
  EXPECT_EQ(options.outputs[0].format, OutputFormat::Edf);
  EXPECT_THROW(parseCommandLine({"record", "p.so", "--seconds", "1", "--out", "a.csv", "--out",
                                 "b.csv", "--format", "edf"}),
               UsageError);
  EXPECT_THROW(
      parseCommandLine({"record", "p.so", "--seconds", "1", "--out", "a.csv", "--out", "a.csv"}),
      UsageError);
}

// Less than one frame records nothing; one frame, however written, is kept.
TEST(CommandLine, SecondsTakeAtLeastOneFrame) {
  for (const char* command : {"record", "monitor"}) {
    EXPECT_THROW(parseCommandLine({command, "p.so", "--seconds", "0.0134999"}), UsageError);
  }
  const auto options = std::get<RecordOptions>(
      parseCommandLine({"record", "p.so", "--seconds", "13.5e-3", "--out", "a.bdf"}));
  EXPECT_DOUBLE_EQ(options.seconds, 0.0135);
}

TEST(CommandLine, ValidateTakesSeedAndPattern) {
  const auto request = std::get<ValidateRequest>(
      parseCommandLine({"validate", "p.so", "--seed", "9", "--only", "stream|copy"}));
  EXPECT_EQ(request.seed, 9u);
  EXPECT_EQ(request.only, "stream|copy");
  EXPECT_THROW(parseCommandLine({"validate", "p.so", "--seed", "99999999999999999999"}),
               UsageError);
}

TEST(CheckIsolation, ACrashFailsOnlyThatCheck) {
  const CheckOutcome crashed = runIsolated([] { std::raise(SIGSEGV); }, 5);
  EXPECT_FALSE(crashed.passed);
  EXPECT_THAT(crashed.reason, HasSubstr("crashed with signal 11"));
  const CheckOutcome next = runIsolated([] {}, 5);
  EXPECT_TRUE(next.passed) << next.reason;
}

TEST(CheckIsolation, AHangIsKilledAtTheTimeLimit) {
  const CheckOutcome hung =
      runIsolated([] { std::this_thread::sleep_for(std::chrono::seconds(30)); }, 1);
  EXPECT_FALSE(hung.passed);
  EXPECT_THAT(hung.reason, HasSubstr("did not finish within 1 s"));
}

TEST(CheckIsolation, AThrownReasonIsTheVerdict) {
  const CheckOutcome failed = runIsolated([] { throw std::runtime_error("state is 2"); }, 5);
  EXPECT_FALSE(failed.passed);
  EXPECT_EQ(failed.reason, "state is 2");
  const CheckOutcome silent = runIsolated([] { _exit(3); }, 5);
  EXPECT_FALSE(silent.passed);
  EXPECT_THAT(silent.reason, HasSubstr("without a verdict (exit status 3)"));
}
