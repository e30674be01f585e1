// How a recording ends when people end it: Ctrl-C pressed twice, a plug-in
// hanging in its stop, signals ignored by whoever started bvhost, and a time
// too short to hold a frame. Files are judged by MNE-Python and save2gdf.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <regex>

#include "cli_runner.h"

using ::testing::HasSubstr;

namespace {

const std::map<std::string, std::string> kSimulator = {{"ORVANE_SIM_SEED", "77"},
                                                       {"ORVANE_SIM_SENSORS", "2"}};

// The data files a run left under their partial names (journals aside).
std::vector<std::string> partialFiles(const std::string& directory) {
  std::vector<std::string> found;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    const std::string path = entry.path().string();
    if (path.find(".partial-") != std::string::npos && !path.ends_with(".annotations")) {
      found.push_back(path);
    }
  }
  return found;
}

// "channels samples" of an EDF+/BDF+ file as MNE-Python reads it (every
// signal at the highest rate), or "" when it cannot; "skip" without MNE.
std::string readWithMne(const std::string& path) {
  if (std::system("/usr/bin/python3 -c 'import mne' >/dev/null 2>&1") != 0) {
    return "skip";
  }
  const std::string command =
      "/usr/bin/python3 -c \"import sys, mne; r = mne.io.read_raw_bdf(sys.argv[1], "
      "preload=True, verbose='error'); print(len(r.ch_names), r.n_times)\" '" +
      path + "' 2>/dev/null";
  std::string text;
  if (FILE* pipe = popen(command.c_str(), "r"); pipe != nullptr) {
    char line[128];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
      text += line;
    }
    pclose(pipe);
  }
  return text.empty() ? "" : text.substr(0, text.find('\n'));
}

void expectSave2gdfReads(const std::string& path) {
  if (std::system("command -v save2gdf >/dev/null 2>&1") == 0) {
    EXPECT_EQ(std::system(("save2gdf -JSON '" + path + "' >/dev/null 2>&1").c_str()), 0) << path;
  }
}

std::uint64_t summaryFrames(const std::string& out) {
  std::smatch match;
  return std::regex_search(out, match, std::regex(R"(of stream time, (\d+) frames)"))
             ? std::stoull(match[1])
             : 0;
}

// Repairs every partial file the run named, each of which must exist.
void repairNamedPartials(const CliRun& run, const std::string& directory) {
  const auto partials = partialFiles(directory);
  ASSERT_FALSE(partials.empty());
  EXPECT_THAT(run.err, HasSubstr("'bvhost repair FILE' completes each"));
  for (const auto& partial : partials) {
    EXPECT_THAT(run.err, HasSubstr("  " + partial)) << "not named";
    const CliRun repair = runBvhost({"repair", partial});
    EXPECT_EQ(repair.exitCode, 0) << repair.err;
  }
}

// Ctrl-C twice, a few ms apart, at any moment of the stop: either the files
// are complete and the code says the first signal stopped the run, or bvhost
// ended at once with 75, naming partial files that repair completes. Never
// a "files complete" code over partial files.
TEST(SecondSignal, TwoCtrlCsLeaveCompleteFilesOrNamedPartialOnes) {
  for (const int gap : {1, 4, 12}) {
    SCOPED_TRACE("second SIGINT " + std::to_string(gap) + " ms after the first");
    const std::string directory = scratchDirectory("twice" + std::to_string(gap));
    const CliRun run =
        runBvhostAndSignals({"record", KESSRA_PLUGIN_PATH, "--seconds", "60", "--out",
                             directory + "/run.bdf", "--out", directory + "/run.csv"},
                            {{SIGINT, 2500}, {SIGINT, 2500 + gap}}, kSimulator);
    ASSERT_EQ(run.killedBy, 0) << run.err;
    if (run.exitCode == 130) {
      EXPECT_THAT(run.err, HasSubstr("stopped by SIGINT; the files are complete"));
      EXPECT_THAT(partialFiles(directory), ::testing::IsEmpty());
      const std::uint64_t frames = summaryFrames(run.out);
      EXPECT_GT(frames, 74u);
      const std::string mne = readWithMne(directory + "/run.bdf");
      if (mne != "skip") {
        EXPECT_EQ(mne, "14 " + std::to_string(frames * 26));
      }
      expectSave2gdfReads(directory + "/run.bdf");
    } else {
      ASSERT_EQ(run.exitCode, 75) << run.err;
      EXPECT_FALSE(std::filesystem::exists(directory + "/run.bdf"));
      repairNamedPartials(run, directory);
      const std::string mne = readWithMne(directory + "/run.bdf");
      EXPECT_THAT(mne, ::testing::StartsWith("14 ")) << "repaired file";
      expectSave2gdfReads(directory + "/run.bdf");
    }
  }
}

// A plug-in hanging in bv_stop_streaming: the second signal ends bvhost
// at once, and what reached the disk is left, named, for repair; files that
// nothing reached yet are not left behind.
TEST(SecondSignal, EndsARecordingWhosePluginHangsInItsStop) {
  const std::string directory = scratchDirectory("hangs");
  const auto asked = std::chrono::steady_clock::now();
  const CliRun run =
      runBvhostAndSignals({"record", HUNG_STOP_PATH, "--seconds", "30", "--out",
                           directory + "/hung.bdf", "--out", directory + "/hung.csv"},
                          {{SIGINT, 2600}, {SIGTERM, 3400}});
  // Bounded only to fail rather than hang should bvhost ignore the second.
  EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(20));
  EXPECT_EQ(run.killedBy, 0);
  EXPECT_EQ(run.exitCode, 75) << run.err;
  EXPECT_THAT(run.err, HasSubstr("a second SIGTERM ended bvhost at once"));
  EXPECT_THAT(run.err, HasSubstr(".bdf.annotations)"));
  EXPECT_EQ(partialFiles(directory).size(), 2u);
  repairNamedPartials(run, directory);
  const std::string mne = readWithMne(directory + "/hung.bdf");
  if (mne != "skip") {
    // A second of frames (27 samples each) was on the disk before the stop.
    ASSERT_THAT(mne, ::testing::StartsWith("1 "));
    const std::uint64_t samples = std::stoull(mne.substr(2));
    EXPECT_GE(samples, 74u * 27);
    EXPECT_EQ(samples % 27, 0u);
  }
  expectSave2gdfReads(directory + "/hung.bdf");

  const std::string early = scratchDirectory("hangsearly");
  const CliRun before = runBvhostAndSignals({"record", HUNG_STOP_PATH, "--seconds", "30", "--out",
                                             early + "/e.bdf", "--out", early + "/e.csv"},
                                            {{SIGINT, 800}, {SIGINT, 1600}});
  EXPECT_EQ(before.exitCode, 75) << before.err;
  EXPECT_THAT(before.err, HasSubstr("No file is left"));
  EXPECT_TRUE(std::filesystem::is_empty(early));
}

// An ignored signal stays ignored, so the recording runs on through it,
// while the signals nobody ignored still stop it cleanly.
TEST(IgnoredSignal, StaysIgnoredWhileOthersStillStop) {
  for (const int ignored : {SIGHUP, SIGINT}) {
    SCOPED_TRACE(ignored == SIGHUP ? "SIGHUP ignored" : "SIGINT ignored");
    const std::string directory = scratchDirectory("ignored" + std::to_string(ignored));
    // Ignored here, so bvhost starts with it ignored, as under nohup (SIGHUP)
    // or from a script's `cmd &` (SIGINT).
    struct sigaction ignore {};
    struct sigaction before {};
    ignore.sa_handler = SIG_IGN;
    sigaction(ignored, &ignore, &before);
    const CliRun run = runBvhostAndSignals(
        {"record", KESSRA_PLUGIN_PATH, "--seconds", "30", "--out", directory + "/i.bdf"},
        {{ignored, 1500}, {SIGTERM, 2500}}, kSimulator);
    sigaction(ignored, &before, nullptr);
    EXPECT_EQ(run.exitCode, 143) << run.err;
    EXPECT_THAT(run.err, HasSubstr("stopped by SIGTERM"));
    const std::string mne = readWithMne(directory + "/i.bdf");
    if (mne != "skip") {
      EXPECT_THAT(mne, ::testing::StartsWith("14 "));
    }
  }
}

// A time shorter than one frame recorded no frame and left a file no
// reader took; it is refused before anything starts, and one frame is the
// least a recording holds.
TEST(RecordTime, LessThanOneFrameIsRefusedAndOneFrameIsRecorded) {
  const std::string directory = scratchDirectory("oneframe");
  const CliRun refused =
      runBvhost({"record", KESSRA_PLUGIN_PATH, "--seconds", "1e-12", "--out", directory + "/t.bdf"},
                kSimulator);
  EXPECT_EQ(refused.exitCode, 2);
  EXPECT_THAT(refused.err, HasSubstr("--seconds takes at least 0.0135 s"));
  EXPECT_TRUE(std::filesystem::is_empty(directory));

  const CliRun one = runBvhost(
      {"record", KESSRA_PLUGIN_PATH, "--seconds", "0.0135", "--out", directory + "/one.bdf"},
      kSimulator);
  ASSERT_EQ(one.exitCode, 0) << one.err;
  const std::string mne = readWithMne(directory + "/one.bdf");
  if (mne != "skip") {
    EXPECT_EQ(mne, "14 26");
  }
  expectSave2gdfReads(directory + "/one.bdf");
}

}  // namespace
