// Parsing the command line, and the isolation of validator checks.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <thread>

#include "app/cli.h"
#include "validate/check_runner.h"

using namespace bvhost;
using ::testing::HasSubstr;
using ::testing::Not;

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

// The text is one argument wherever --to stands; after "--" it may begin
// with dashes and hold "=", as it is.
TEST(CommandLine, MarkTakesOneTextAndTheRecordingToSendItTo) {
  const auto plain = std::get<MarkRequest>(parseCommandLine({"mark", "stim on"}));
  EXPECT_EQ(plain.text, "stim on");
  EXPECT_FALSE(plain.to);
  const auto named = std::get<MarkRequest>(parseCommandLine({"mark", "--to=run.bdf", "lift"}));
  EXPECT_EQ(named.text, "lift");
  EXPECT_EQ(named.to, "run.bdf");
  const auto dashed =
      std::get<MarkRequest>(parseCommandLine({"mark", "--to", "monitor", "--", "--x=1"}));
  EXPECT_EQ(dashed.text, "--x=1");
  EXPECT_EQ(dashed.to, "monitor");
  EXPECT_EQ(std::get<MarkRequest>(parseCommandLine({"mark", ""})).text, "");

  const auto refused = [](std::vector<std::string> arguments) {
    try {
      parseCommandLine(arguments);
    } catch (const UsageError& error) {
      return std::string(error.what());
    }
    return std::string("accepted");
  };
  EXPECT_THAT(refused({"mark"}), HasSubstr("mark needs the marker's text"));
  EXPECT_THAT(refused({"mark", "stim", "on"}), HasSubstr("bvhost mark \"stim on\""));
  EXPECT_THAT(refused({"mark", "x", "--too", "a"}), HasSubstr("(did you mean --to?)"));
  EXPECT_THAT(refused({"mark", "x", "--to"}), HasSubstr("--to needs a value"));
  EXPECT_THAT(refused({"mark", "x", "--to="}), HasSubstr("--to needs the recording's name"));
}

// Record and monitor read markers from a pipe on stdin only when told to.
TEST(CommandLine, MarkersFromStdinAreAskedForByRecordAndMonitor) {
  for (const char* command : {"record", "monitor"}) {
    std::vector<std::string> arguments = {command, "p.so", "--seconds", "1"};
    if (std::string(command) == "record") {
      arguments.insert(arguments.end(), {"--out", "a.bdf"});
    }
    EXPECT_FALSE(std::get<RecordOptions>(parseCommandLine(arguments)).markersFromStdin);
    arguments.push_back("--markers-from-stdin");
    EXPECT_TRUE(std::get<RecordOptions>(parseCommandLine(arguments)).markersFromStdin) << command;
  }
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

namespace {

std::string usageErrorOf(const std::vector<std::string>& arguments) {
  try {
    parseCommandLine(arguments);
  } catch (const UsageError& error) {
    return error.what();
  }
  return "(accepted)";
}

}  // namespace

// A slip of the keyboard is answered with the option meant, for every
// command; a word that is no slip of any option gets no guess.
TEST(CommandLine, AnUnknownOptionNamesTheNearestKnownOne) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> slips = {
      {{"record", "p.so", "--secs", "1"}, "(did you mean --seconds?)"},
      {{"record", "p.so", "--seocnds=1"}, "(did you mean --seconds?)"},
      {{"record", "p.so", "-out", "a.csv"}, "(did you mean --out?)"},
      {{"record", "p.so", "--output", "a.csv"}, "(did you mean --out?)"},
      {{"record", "p.so", "--formt", "csv"}, "(did you mean --format?)"},
      {{"record", "p.so", "--stop-triger", "on"}, "(did you mean --stop-trigger?)"},
      {{"record", "p.so", "--list"}, "(did you mean --live or --listen?)"},
      {{"monitor", "p.so", "--prot", "80"}, "(did you mean --port?)"},
      {{"validate", "p.so", "--sed", "3"}, "(did you mean --seed?)"},
      {{"validate", "p.so", "--onyl", "x"}, "(did you mean --only?)"},
      {{"repair", "f.bdf", "--otu", "g.bdf"}, "(did you mean --out?)"},
      {{"recrod", "p.so"}, "unknown command 'recrod' (did you mean record?)"},
      {{"--hepl"}, "(did you mean --help?)"},
      {{"--versoin"}, "(did you mean --version?)"},
      {{"--validate", "p.so"}, "(did you mean validate?)"},
  };
  for (const auto& [arguments, message] : slips) {
    EXPECT_THAT(usageErrorOf(arguments), HasSubstr(message)) << arguments[0] << " " << arguments[1];
  }
  const std::vector<std::vector<std::string>> others = {
      {"record", "p.so", "--loud"},
      {"record", "p.so", "--o"},
      {"monitor", "p.so", "--format"},
      {"validate", "p.so", "--seconds"},
      {"repair", "f.bdf", "--input"},
      {"--verbose"},
      {"play", "p.so"},
  };
  for (const auto& arguments : others) {
    const std::string message = usageErrorOf(arguments);
    EXPECT_THAT(message, Not(HasSubstr("did you mean"))) << message;
    EXPECT_NE(message, "(accepted)");
  }
}

// A file named for one format never holds another: readers choose by the
// name. Refused before anything is recorded; an extension of no format
// still takes --format.
TEST(CommandLine, AFormatThatDisagreesWithTheFileNameIsRefused) {
  for (const auto& [file, format] : std::vector<std::pair<std::string, std::string>>{
           {"a.csv", "bdf"}, {"a.BDF", "edf"}, {"dir.edf/a.edf", "csv"}}) {
    const std::string message =
        usageErrorOf({"record", "p.so", "--seconds", "1", "--out", file, "--format", format});
    EXPECT_THAT(message, HasSubstr("'" + file + "', whose extension says")) << message;
    EXPECT_THAT(message, HasSubstr("name the file ." + format)) << message;
  }
  for (const auto& [file, format] :
       std::vector<std::pair<std::string, OutputFormat>>{{"a.CSV", OutputFormat::Csv},
                                                         {"a.edf.part", OutputFormat::Bdf},
                                                         {"dir.csv/run", OutputFormat::Bdf}}) {
    const auto options = std::get<RecordOptions>(
        parseCommandLine({"record", "p.so", "--seconds", "1", "--out", file, "--format",
                          format == OutputFormat::Csv ? "csv" : "bdf"}));
    EXPECT_EQ(options.outputs[0].format, format) << file;
  }
}
