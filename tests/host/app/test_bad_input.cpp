// Bad input gets a message naming what is wrong and its documented exit code.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "cli_runner.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

void expectUsageError(const std::vector<std::string>& arguments, const std::string& message) {
  const CliRun run = runBvhost(arguments);
  EXPECT_EQ(run.exitCode, 2) << run.err;
  EXPECT_THAT(run.err, HasSubstr(message));
  EXPECT_TRUE(run.out.empty()) << run.out;
}

}  // namespace

TEST(BadInput, HelpListsTheCommandsAndExitCodes) {
  const CliRun run = runBvhost({"--help"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_THAT(run.out, HasSubstr("bvhost record PLUGIN.so --seconds S --out FILE"));
  EXPECT_THAT(run.out, HasSubstr("Exit codes:"));
  EXPECT_THAT(run.out, HasSubstr("143  record stopped by SIGTERM"));
}

TEST(BadInput, VersionNamesBvhostAndEdflib) {
  for (const char* option : {"--version", "-V"}) {
    const CliRun run = runBvhost({option});
    EXPECT_EQ(run.exitCode, 0) << option;
    EXPECT_THAT(run.out, ::testing::MatchesRegex("bvhost [0-9]+\\.[0-9]+\\.[0-9]+\nEDFlib "
                                                 "[0-9]+\\.[0-9][0-9]\n"))
        << option;
  }
}

TEST(BadInput, MissingPluginFileExits3) {
  const CliRun run = runBvhost({"info", "/nonexistent/libplugin.so"});
  EXPECT_EQ(run.exitCode, 3);
  EXPECT_THAT(run.err, HasSubstr("no such file: /nonexistent/libplugin.so"));
}

TEST(BadInput, AFileThatIsNoLibraryExits3) {
  const CliRun run = runBvhost({"info", WORK_DIR});
  EXPECT_EQ(run.exitCode, 3);
  const CliRun text = runBvhost({"info", WORK_DIR "/CTestTestfile.cmake"});
  EXPECT_EQ(text.exitCode, 3);
  EXPECT_THAT(text.err, HasSubstr("cannot load"));
}

TEST(BadInput, ALibraryWithoutEntryPointsIsNoPlugin) {
  const CliRun run = runBvhost({"info", INTEROP_PATH});
  EXPECT_EQ(run.exitCode, 4);
  EXPECT_THAT(run.err, HasSubstr("it is no plug-in"));
}

TEST(BadInput, AMissingEntryPointIsNamed) {
  const CliRun run = runBvhost({"record", BROKEN_MISSING_PATH, "--seconds", "1", "--out",
                                scratchDirectory("missing") + "/x.csv"});
  EXPECT_EQ(run.exitCode, 4);
  EXPECT_THAT(run.err, HasSubstr("lacks entry point bv_read_samples"));
}

TEST(BadInput, BadOptionValuesExit2) {
  const std::string out = scratchDirectory("options") + "/x.csv";
  expectUsageError({}, "no command given");
  expectUsageError({"play", KESSRA_PLUGIN_PATH}, "unknown command 'play'");
  expectUsageError({"info"}, "info needs the plug-in library");
  expectUsageError({"record", KESSRA_PLUGIN_PATH, "--seconds", "0", "--out", out},
                   "--seconds takes a number of seconds above 0");
  expectUsageError({"record", KESSRA_PLUGIN_PATH, "--seconds", "2x", "--out", out}, "not '2x'");
  expectUsageError({"record", KESSRA_PLUGIN_PATH, "--seconds", "nan", "--out", out}, "not 'nan'");
  expectUsageError({"record", KESSRA_PLUGIN_PATH, "--seconds", "1"},
                   "record needs --out FILE, a .csv, .edf or .bdf file");
  expectUsageError({"record", KESSRA_PLUGIN_PATH, "--out", out}, "record needs --seconds S");
  expectUsageError(
      {"record", KESSRA_PLUGIN_PATH, "--seconds", "1", "--out", out, "--format", "wav"},
      "--format takes csv, edf or bdf, not 'wav'");
  expectUsageError({"record", KESSRA_PLUGIN_PATH, "--seconds", "1", "--out", "data.txt"},
                   "cannot tell the format of 'data.txt'");
  expectUsageError(
      {"record", KESSRA_PLUGIN_PATH, "--seconds", "1", "--out", out, "--start-trigger=yes"},
      "--start-trigger takes on or off, not 'yes'");
  expectUsageError({"record", KESSRA_PLUGIN_PATH, "--seconds", "1", "--out", out, "--loud"},
                   "record does not know the option '--loud'; it takes --seconds");
  expectUsageError({"record", KESSRA_PLUGIN_PATH, "out.bdf", "--seconds", "1"},
                   "write --out out.bdf instead of out.bdf");
  expectUsageError({"record", KESSRA_PLUGIN_PATH, "--seconds", "1", "--out", out, "later"},
                   "everything is an option such as --seconds S or --out FILE");
  expectUsageError({"record", KESSRA_PLUGIN_PATH, "--seconds"}, "--seconds needs a value");
  expectUsageError({"--verbose"},
                   "a command (info, record, monitor, validate, repair, mark) comes first");
  expectUsageError({"record", KESSRA_PLUGIN_PATH, "--seconds", "1", "--out", out, "--port", "9000"},
                   "add --live to have one");
  expectUsageError({"monitor", KESSRA_PLUGIN_PATH, "--out", out}, "monitor writes no files");
  expectUsageError({"monitor", KESSRA_PLUGIN_PATH, "--port", "70000"},
                   "--port takes a port number from 0 to 65535");
  expectUsageError({"validate", KESSRA_PLUGIN_PATH, "--seed", "-3"},
                   "--seed takes a whole number, not '-3'");
  expectUsageError({"validate", KESSRA_PLUGIN_PATH, "--only", "(unclosed"},
                   "--only takes a regular expression");
}

TEST(BadInput, AnUnwritableOutputExits6AndLeavesTheDeviceDisconnected) {
  const CliRun run = runBvhost(
      {"record", KESSRA_PLUGIN_PATH, "--seconds", "1", "--out", "/nonexistent/dir/x.bdf"});
  EXPECT_EQ(run.exitCode, 6);
  EXPECT_THAT(run.err, HasSubstr("folder /nonexistent/dir does not exist"));
}

// Outputs are checked before the plug-in is even loaded: this plug-in would
// fail to load (exit 4), and the file already there must not be emptied.
TEST(BadInput, ABadSecondOutputExits6BeforeLoadingAndLeavesTheFirstUntouched) {
  const std::string dir = scratchDirectory("bad_second");
  const std::string first = dir + "/first.csv";
  const std::string precious = "an earlier recording\n1,2,3\n";
  std::ofstream(first, std::ios::binary) << precious;
  for (const char* plugin : {BROKEN_MISSING_PATH, KESSRA_PLUGIN_PATH}) {
    const CliRun run = runBvhost(
        {"record", plugin, "--seconds", "1", "--out", first, "--out", "/nonexistent/dir/x.bdf"});
    EXPECT_EQ(run.exitCode, 6) << run.err;
    EXPECT_THAT(run.err, HasSubstr("folder /nonexistent/dir does not exist"));
    EXPECT_EQ(readFile(first), precious);
  }
}

// The nearest option is named in the message of exit 2, and a file whose
// name says another format than --format is refused before any file exists.
TEST(BadInput, SlipsAreNamedAndMisnamedFilesRefusedWithExit2) {
  const std::string dir = scratchDirectory("slips");
  expectUsageError({"record", KESSRA_PLUGIN_PATH, "--secs", "1", "--out", dir + "/a.csv"},
                   "record does not know the option '--secs' (did you mean --seconds?)");
  expectUsageError({"monitor", KESSRA_PLUGIN_PATH, "--prot", "0"}, "(did you mean --port?)");
  expectUsageError(
      {"record", KESSRA_PLUGIN_PATH, "--seconds", "1", "--out", dir + "/a.csv", "--format", "bdf"},
      "--format bdf would write BDF+ into '" + dir + "/a.csv', whose extension says CSV");
  EXPECT_FALSE(std::filesystem::exists(dir + "/a.csv"));
  EXPECT_TRUE(std::filesystem::is_empty(dir));
}

namespace {

std::string commandOutput(const std::string& command) {
  std::string output;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char chunk[4096];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) {
      output.append(chunk, got);
    }
    ::pclose(pipe);
  }
  return output;
}

// Words as a reader sees them, whatever the line breaks and indents.
std::string words(const std::string& text) {
  std::istringstream in(text);
  std::string word;
  std::string joined = " ";
  while (in >> word) {
    joined += word + " ";
  }
  return joined;
}

}  // namespace

// The page man shows is the one built beside bvhost, made from the help it
// prints now; every command and option of --help is on it whole, as it is
// typed, and so is every exit code with its meaning.
TEST(BadInput, TheManualPageShowsEveryCommandAndOptionOfTheHelp) {
  const std::string page = std::filesystem::path(BVHOST_PATH).parent_path() / "bvhost.1";
  const CliRun man = runBvhost({"--man"});
  ASSERT_EQ(man.exitCode, 0) << man.err;
  EXPECT_EQ(readFile(page), man.out) << page << " is not what this bvhost makes";
  if (std::system("command -v man >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "man (Debian man-db) is not installed";
  }
  for (const std::string& shown : {page, page + ".gz"}) {
    const std::string text =
        commandOutput("LC_ALL=C.UTF-8 MANWIDTH=80 man -l '" + shown + "' 2>&1 | sed 's/.\\x08//g'");
    const std::string read = words(text);
    ASSERT_THAT(read, HasSubstr(" BVHOST(1) ")) << text;
    EXPECT_THAT(read, Not(HasSubstr("warning"))) << text;
    const std::string help = runBvhost({"--help"}).out;
    std::smatch found;
    std::string rest = help;
    int options = 0;
    while (std::regex_search(rest, found, std::regex("--[a-z][a-z-]*[a-z]"))) {
      EXPECT_TRUE(std::regex_search(read, std::regex("[ \\[]" + found.str() + "([^a-z-]|$)")))
          << found.str() << " is not on the page";
      ++options;
      rest = found.suffix();
    }
    EXPECT_GE(options, 15);
    for (const char* command : {"info", "record", "monitor", "validate", "repair", "mark"}) {
      EXPECT_THAT(read, HasSubstr(std::string(" bvhost ") + command + " ")) << command;
    }
    std::istringstream lines(help.substr(help.find("Exit codes:")));
    std::string line;
    while (std::getline(lines, line)) {
      if (std::regex_match(line, found, std::regex("  ([0-9]+)  +(.*)"))) {
        EXPECT_THAT(read, HasSubstr(" " + found[1].str() + words(found[2].str()))) << line;
      }
    }
  }
}
