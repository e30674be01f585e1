// A plug-in installed without the library it loads beside itself: bvhost
// must say where that library goes, and following its words must work.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "cli_runner.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

// The plug-in copied alone, as the kessra package installs it.
std::filesystem::path pluginWithoutInterop(const std::string& name) {
  const std::filesystem::path folder = scratchDirectory(name);
  const auto plugin = folder / "libkessra_plugin.so";
  std::filesystem::copy_file(KESSRA_PLUGIN_PATH, plugin);
  return plugin;
}

}  // namespace

TEST(MissingLibrary, LoadingNamesThePluginsFolderAndTheSimulatorThenLoadsOnceItIsThere) {
  const auto plugin = pluginWithoutInterop("missing_interop");
  const std::string folder = plugin.parent_path().string() + "/";

  for (const char* command : {"info", "validate"}) {
    const CliRun run = runBvhost({command, plugin.string()});
    EXPECT_EQ(run.exitCode, 3) << command << "\n" << run.err;
    EXPECT_THAT(run.err, HasSubstr("libOrvaneAPI_Interop.so: cannot open shared object file"))
        << command;
    EXPECT_THAT(run.err, HasSubstr("Put the maker's libOrvaneAPI_Interop.so in " + folder))
        << command;
    EXPECT_THAT(run.err, HasSubstr("kessra-simulator package")) << command;
  }

  // A relative path names the same folder, absolute, for a user who does not
  // know what it was relative to.
  const auto relative = std::filesystem::relative(plugin);
  const CliRun fromRelative = runBvhost({"info", relative.string()});
  EXPECT_THAT(fromRelative.err, HasSubstr(" in " + folder + ";")) << fromRelative.err;

  std::filesystem::copy_file(INTEROP_PATH, plugin.parent_path() / "libOrvaneAPI_Interop.so");
  const CliRun fixed = runBvhost({"info", plugin.string()});
  EXPECT_EQ(fixed.exitCode, 0) << fixed.err;
  EXPECT_THAT(fixed.out, HasSubstr("Orvane Kessra Sensor 1"));
}

TEST(MissingLibrary, OtherLoadFailuresGetNoAdviceAboutFolders) {
  // A file that is no shared object at all: nothing is missing, so nothing
  // is to be put anywhere.
  const std::filesystem::path folder = scratchDirectory("not_elf");
  const auto text = folder / "notes.so";
  { std::ofstream(text) << "not a library\n"; }
  const CliRun run = runBvhost({"info", text.string()});
  EXPECT_EQ(run.exitCode, 3) << run.err;
  EXPECT_THAT(run.err, Not(HasSubstr("is missing")));
  EXPECT_THAT(run.err, Not(HasSubstr("kessra-simulator")));
}
