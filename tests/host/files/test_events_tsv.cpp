// A recording's annotations as a BIDS events file beside it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "files/events_tsv.h"
#include "files/output_error.h"

using namespace bvhost;
using ::testing::HasSubstr;

namespace {

std::string contentOf(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

}  // namespace

// Markers are instants ("0"), lost frames and silences stretches with
// their length, a silence not known to have ended "n/a"; rows by onset,
// times to the microsecond, and text that cannot split a row.
TEST(EventsTsv, MarkersAndGapsInOrderOfOnset) {
  const std::vector<Annotation> annotations = {
      {2.0115, -1.0, "lift", false},
      {0.0135, 0.0405, "frames lost", false},
      {1.35, 0.5, "S2 no data", false},
      {2.0115, -1.0, "trial\t12\r\nend", false},
      {7.290000000001, -1.0, "", false},
      {9.45, -1.0, "S1 no data", true},
      {-0.0000001, -1.0, "before start", false},
  };
  EXPECT_EQ(eventsTsv(annotations),
            "onset\tduration\ttrial_type\n"
            "0.000000\t0\tbefore start\n"
            "0.013500\t0.040500\tframes lost\n"
            "1.350000\t0.500000\tS2 no data\n"
            "2.011500\t0\tlift\n"
            "2.011500\t0\ttrial 12  end\n"
            "7.290000\t0\tn/a\n"
            "9.450000\tn/a\tS1 no data\n");
  EXPECT_EQ(eventsTsv({}), "onset\tduration\ttrial_type\n");
}

TEST(EventsTsv, NamedAsBidsNamesEvents) {
  EXPECT_EQ(eventsTsvPathFor("d/sub-01_task-grip_emg.bdf"), "d/sub-01_task-grip_events.tsv");
  EXPECT_EQ(eventsTsvPathFor("d/run.edf"), "d/run_events.tsv");
  EXPECT_EQ(eventsTsvPathFor("run_12.csv"), "run_12_events.tsv");
  EXPECT_EQ(eventsTsvPathFor("d.x/run"), "d.x/run_events.tsv");
  EXPECT_EQ(eventsTsvPathFor("d/_emg.bdf"), "d/_emg_events.tsv");
}

// Written whole under its name, replacing an older one, with nothing left
// beside it, and readable as any new file of the user's.
TEST(EventsTsv, WriterReplacesTheFileWholeAndLeavesNothingElse) {
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() /
      ("bvhost-events-" + std::to_string(::getpid()) + "-" +
       ::testing::UnitTest::GetInstance()->current_test_info()->name());
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  const std::string path = (folder / "run_events.tsv").string();
  {
    std::ofstream old(path);
    old << "old text that is longer than what replaces it\n";
  }
  writeEventsTsv(path, {{1.0, -1.0, "stim on", false}});
  EXPECT_EQ(contentOf(path), "onset\tduration\ttrial_type\n1.000000\t0\tstim on\n");
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) {
    ++entries;
  }
  EXPECT_EQ(entries, 1u);
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_NE(info.st_mode & S_IRUSR, 0u);

  try {
    writeEventsTsv((folder / "missing" / "run_events.tsv").string(), {});
    ADD_FAILURE() << "written into a folder that is not there";
  } catch (const OutputError& error) {
    EXPECT_THAT(error.what(), HasSubstr("missing"));
  }
  std::filesystem::remove_all(folder);
}
