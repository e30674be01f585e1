// bvhost repair on files a run left behind: a BDF+ whose writer was killed
// before EDFlib closed it, read back afterwards with EDFlib and with biosig,
// and the ways repair refuses or keeps a file where it is.
#include <edflib.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "annotation_journal.h"
#include "cli_runner.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

constexpr int kSamples = 26;
constexpr int kSignals = 2;
constexpr std::size_t kHeaderBytes = 256 * (kSignals + 2);
// EDFlib gives the annotation signal 114 bytes a record.
constexpr std::size_t kRecordBytes = kSignals * kSamples * 3 + 114;

int digital(int record, int signal, int sample) {
  return (record * 1000 + signal * 100 + sample) * (signal == 0 ? 1 : -1);
}

// In a child, so EDFlib's buffered tail is lost and the header keeps its
// -1, as when a recorder is killed.
void writeBdf(const std::string& path, int records, bool close) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int handle = edfopen_file_writeonly(path.c_str(), EDFLIB_FILETYPE_BDFPLUS, kSignals);
    bool ok = handle >= 0 && edf_set_datarecord_duration(handle, 1350) == 0 &&
              edf_set_subsecond_starttime(handle, 1234000) == 0;
    for (int s = 0; s < kSignals && ok; ++s) {
      ok = edf_set_samplefrequency(handle, s, kSamples) == 0 &&
           edf_set_physical_maximum(handle, s, 1000) == 0 &&
           edf_set_physical_minimum(handle, s, -1000) == 0 &&
           edf_set_digital_maximum(handle, s, 8388607) == 0 &&
           edf_set_digital_minimum(handle, s, -8388608) == 0 &&
           edf_set_label(handle, s, s == 0 ? "EMG" : "ACC") == 0;
    }
    std::vector<unsigned char> record(kSignals * kSamples * 3);
    for (int r = 0; r < records && ok; ++r) {
      unsigned char* at = record.data();
      for (int s = 0; s < kSignals; ++s) {
        for (int i = 0; i < kSamples; ++i) {
          const auto bits = static_cast<unsigned>(digital(r, s, i));
          *at++ = static_cast<unsigned char>(bits);
          *at++ = static_cast<unsigned char>(bits >> 8);
          *at++ = static_cast<unsigned char>(bits >> 16);
        }
      }
      ok = edf_blockwrite_digital_3byte_samples(handle, record.data()) == 0;
    }
    if (ok && close) {
      ok = edfclose_file(handle) == 0;
    }
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// What the command printed, with its exit status.
std::pair<int, std::string> commandOutput(const std::string& command) {
  std::string output;
  std::FILE* pipe = popen(command.c_str(), "r");
  char buffer[4096];
  for (std::size_t n; pipe != nullptr && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
    output.append(buffer, n);
  }
  return {pipe != nullptr ? pclose(pipe) : -1, output};
}

}  // namespace

TEST(Repair, CompletesAKilledBdfWithTheJournalsAnnotations) {
  const std::string directory = scratchDirectory("repair_killed");
  const std::string partial = directory + "/run.partial-Q7x2Lm.bdf";
  writeBdf(partial, 200, false);
  ASSERT_EQ(std::filesystem::file_size(partial), kHeaderBytes + 200 * kRecordBytes);
  // EDFlib writes a record at a time; a kill during a write leaves part of one.
  std::ofstream(partial, std::ios::app) << std::string(100, '\x7f');
  const long long records = 200;
  const std::size_t cut = 100;
  const std::vector<bvhost::Annotation> annotations = {{1.2345, -1.0, "third"},
                                                       {0.0, -1.0, "start"},
                                                       {0.5, 0.25, "pressed \xc3\xa4"},
                                                       {0.0135, -1.0, "early"}};
  {
    bvhost::AnnotationJournal journal(bvhost::journalPathFor(partial));
    for (const auto& annotation : annotations) {
      journal.append(annotation);
    }
    journal.sync();
  }

  const CliRun run = runBvhost({"repair", partial});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::string target = directory + "/run.bdf";
  EXPECT_THAT(run.out, HasSubstr(std::to_string(records) + " data record(s) kept"));
  EXPECT_THAT(run.out, HasSubstr(std::to_string(cut) + " byte(s) of a partial record cut"));
  EXPECT_THAT(run.out, HasSubstr("4 annotation(s) written"));
  EXPECT_THAT(run.out, HasSubstr("repaired file: " + target));
  EXPECT_FALSE(std::filesystem::exists(partial));
  EXPECT_FALSE(std::filesystem::exists(bvhost::journalPathFor(partial)));

  edf_hdr_struct header{};
  ASSERT_EQ(edfopen_file_readonly(target.c_str(), &header, EDFLIB_READ_ALL_ANNOTATIONS), 0);
  EXPECT_EQ(header.filetype, EDFLIB_FILETYPE_BDFPLUS);
  EXPECT_EQ(header.datarecords_in_file, records);
  EXPECT_EQ(header.starttime_subsecond, 1234000);
  for (int s = 0; s < kSignals; ++s) {
    std::vector<int> samples(static_cast<std::size_t>(records * kSamples));
    ASSERT_EQ(
        edfread_digital_samples(header.handle, s, static_cast<int>(samples.size()), samples.data()),
        static_cast<int>(samples.size()));
    for (std::size_t i = 0; i < samples.size(); ++i) {
      const int r = static_cast<int>(i / kSamples);
      ASSERT_EQ(samples[i], digital(r, s, static_cast<int>(i % kSamples))) << s << " " << i;
    }
  }
  // EDFlib gives onsets from the start of the file, its sub-second taken off.
  const std::vector<std::tuple<double, long long, std::string>> expected = {
      {0.0, -10000000, "start"},
      {0.0135, -10000000, "early"},
      {0.5, 2500000, "pressed \xc3\xa4"},
      {1.2345, -10000000, "third"}};
  ASSERT_EQ(header.annotations_in_file, 4);
  for (int a = 0; a < 4; ++a) {
    edf_annotation_struct annotation{};
    ASSERT_EQ(edf_get_annotation(header.handle, a, &annotation), 0);
    const auto& [onset, duration, text] = expected[static_cast<std::size_t>(a)];
    EXPECT_NEAR(static_cast<double>(annotation.onset) / EDFLIB_TIME_DIMENSION, onset, 100e-6);
    EXPECT_EQ(annotation.duration_l, duration) << text;
    EXPECT_EQ(std::string(annotation.annotation), text);
  }
  edfclose_file(header.handle);

  if (std::system("command -v save2gdf >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "save2gdf (biosig-tools) is not installed";
  }
  const auto [status, json] = commandOutput("save2gdf -JSON '" + target + "' 2>&1");
  EXPECT_EQ(status, 0) << json;
  EXPECT_THAT(json, HasSubstr("\"NumberOfRecords\"\t: " + std::to_string(records) + ","));
  for (const auto& [onset, duration, text] : expected) {
    EXPECT_THAT(json, HasSubstr("\"Description\"\t: \"" + text + "\"")) << json;
  }
  const auto converted =
      commandOutput("save2gdf -f=GDF '" + target + "' '" + directory + "/run.gdf' 2>&1");
  EXPECT_EQ(converted.first, 0) << converted.second;
  EXPECT_THAT(converted.second, Not(HasSubstr("ERROR")));
}

TEST(Repair, KeepsTheNameWhenTheTargetExistsAndWarnsOfWhatDidNotFit) {
  const std::string directory = scratchDirectory("repair_kept");
  const std::string partial = directory + "/short.partial-AbCdEf.bdf";
  writeBdf(partial, 2, true);
  {
    bvhost::AnnotationJournal journal(bvhost::journalPathFor(partial));
    for (int i = 0; i < 10; ++i) {
      journal.append({i * 0.001, -1.0, "annotation number " + std::to_string(i)});
    }
    journal.sync();
  }
  std::ofstream(directory + "/short.bdf") << "someone else's file";
  const CliRun run = runBvhost({"repair", partial});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr(directory + "/short.bdf already exists"));
  EXPECT_THAT(run.out, HasSubstr("repaired file: " + partial));
  EXPECT_THAT(run.err, HasSubstr("warning: 4 annotation(s) did not fit"));
  // The journal is all that holds those left out.
  EXPECT_TRUE(std::filesystem::exists(bvhost::journalPathFor(partial)));

  const std::string csv = directory + "/rows.partial-123456.csv";
  std::ofstream(csv)
      << "# bvhost recording of X "
         "1\ncomponent,channel,unit,sample_index,time_s,value\nS1,EMG,mV,0,0,1.5\nS1,EM";
  const CliRun moved = runBvhost({"repair", csv, "--out", directory + "/chosen.csv"});
  EXPECT_EQ(moved.exitCode, 0) << moved.err;
  EXPECT_THAT(moved.out, HasSubstr("5 byte(s) of a half-written row cut"));
  EXPECT_EQ(readFile(directory + "/chosen.csv"),
            "# bvhost recording of X "
            "1\ncomponent,channel,unit,sample_index,time_s,value\nS1,EMG,mV,0,0,1.5\n");

  const CliRun stranger = runBvhost({"repair", directory + "/short.bdf"});
  EXPECT_EQ(stranger.exitCode, 6);
  EXPECT_THAT(stranger.err, HasSubstr(directory + "/short.bdf is no recording bvhost writes"));
  EXPECT_EQ(runBvhost({"repair", directory + "/absent.bdf"}).exitCode, 6);
  EXPECT_EQ(runBvhost({"repair"}).exitCode, 2);
  EXPECT_EQ(runBvhost({"repair", csv, "--force"}).exitCode, 2);
}
