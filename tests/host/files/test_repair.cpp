// bvhost repair on files a run left behind: a BDF+ whose writer was killed
// before EDFlib closed it, read back afterwards with EDFlib and with biosig,
// and the ways repair refuses or keeps a file where it is.
#include <edflib.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "cli_runner.h"
#include "files/annotation_journal.h"
#include "files/edf_annotations.h"

using ::testing::Contains;
using ::testing::ElementsAre;
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
void writeBdf(const std::string& path, int records, bool close, int annotationSignals = 1) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int handle = edfopen_file_writeonly(path.c_str(), EDFLIB_FILETYPE_BDFPLUS, kSignals);
    bool ok = handle >= 0 && edf_set_datarecord_duration(handle, 1350) == 0 &&
              edf_set_subsecond_starttime(handle, 1234000) == 0 &&
              edf_set_number_of_annotation_signals(handle, annotationSignals) == 0;
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

void writeJournal(const std::string& dataPath, const std::string& lines) {
  std::ofstream(bvhost::journalPathFor(dataPath), std::ios::binary) << lines;
}

std::string bytesOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A killed run's BDF+ (200 records, the last cut short) and its journal:
// notes, a silence opened and closed, and one still open when it died.
void leaveKilledRun(const std::string& partial) {
  writeBdf(partial, 200, false);
  std::ofstream(partial, std::ios::app) << std::string(100, '\x7f');
  std::string journal;
  for (int i = 0; i < 40; ++i) {
    journal += std::to_string(i * 0.05) + "\t-\tnote " + std::to_string(i) + "\n";
  }
  journal += "1.35\topen\tS2 no data\n1.35\t0.999\tS2 no data\n2.025\topen\tS1 no data\n";
  writeJournal(partial, journal);
}

// Runs repair and kills it if it has not ended within 20 s, which only a
// repair waiting on something that never comes takes.
CliRun repairOrKill(const std::string& path) {
  return runBvhostWhile({"repair", path}, {}, [](int pid, const std::string&) {
    for (int i = 0; i < 2000; ++i) {
      siginfo_t info{};
      if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
          info.si_pid == pid) {
        return;
      }
      ::usleep(10000);
    }
    ::kill(pid, SIGKILL);
  });
}

bool haveMne() { return std::system("/usr/bin/python3 -c 'import mne' >/dev/null 2>&1") == 0; }

// Onset, duration (to the microsecond) and text of every annotation as
// MNE-Python reads them.
std::vector<std::tuple<double, double, std::string>> mneAnnotations(const std::string& path) {
  const auto [status, text] = commandOutput(
      "/usr/bin/python3 -c 'import sys, mne\n"
      "for a in mne.io.read_raw_bdf(sys.argv[1], verbose=\"error\").annotations:\n"
      "  print(\"%.6f %.6f %s\" % (a[\"onset\"], a[\"duration\"], a[\"description\"]))' '" +
      path + "' 2>&1");
  EXPECT_EQ(status, 0) << text;
  std::vector<std::tuple<double, double, std::string>> read;
  std::istringstream lines(text);
  double onset = 0.0;
  double duration = 0.0;
  for (std::string description;
       lines >> onset >> duration && std::getline(lines >> std::ws, description);) {
    read.emplace_back(onset, duration, description);
  }
  return read;
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

TEST(Repair, KeepsTheNameWhenTheTargetExistsAndFailsOnWhatDidNotFit) {
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
  // Two records hold six of them: a loud failure, the file completed in
  // place under its own name, and the journal, which it names, keeps all.
  const CliRun overfull = runBvhost({"repair", partial});
  EXPECT_EQ(overfull.exitCode, 6) << overfull.err;
  EXPECT_THAT(overfull.err, HasSubstr("4 of 10 annotation(s) do not fit"));
  EXPECT_THAT(overfull.err, HasSubstr(bvhost::journalPathFor(partial)));
  EXPECT_EQ(bvhost::readAnnotationJournal(bvhost::journalPathFor(partial)).size(), 10u);
  EXPECT_TRUE(std::filesystem::exists(partial));

  writeJournal(partial, "0\t-\tfits\n");
  const CliRun run = runBvhost({"repair", partial});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr(directory + "/short.bdf already exists"));
  EXPECT_THAT(run.out, HasSubstr("repaired file: " + partial));
  EXPECT_FALSE(std::filesystem::exists(bvhost::journalPathFor(partial)));

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

TEST(Repair, RunAgainOrAfterAnInterruptionGivesTheSameFile) {
  const std::string first = scratchDirectory("repair_once");
  const std::string second = scratchDirectory("repair_interrupted");
  const std::string name = "/run.partial-Zz9Yy8.bdf";
  leaveKilledRun(first + name);
  leaveKilledRun(second + name);
  const std::string journal = bytesOf(bvhost::journalPathFor(second + name));

  const CliRun once = runBvhost({"repair", first + name});
  ASSERT_EQ(once.exitCode, 0) << once.err;
  EXPECT_THAT(once.out, HasSubstr("42 annotation(s) written"));
  EXPECT_THAT(once.out, HasSubstr("1 of them still open when the run ended"));
  const std::string repaired = bytesOf(first + "/run.bdf");
  // Complete now: a second run changes nothing and says so.
  const CliRun again = runBvhost({"repair", first + "/run.bdf"});
  EXPECT_EQ(again.exitCode, 0) << again.err;
  EXPECT_THAT(again.out, HasSubstr("nothing to do: " + first + "/run.bdf is complete"));
  EXPECT_TRUE(bytesOf(first + "/run.bdf") == repaired) << "the bytes differ";

  // Killed after completing the file but before removing the journal: the
  // file, all its annotations in, under its old name, the journal beside it.
  ASSERT_EQ(runBvhost({"repair", second + name}).exitCode, 0);
  std::filesystem::rename(second + "/run.bdf", second + name);
  writeJournal(second + name, journal);
  ASSERT_EQ(runBvhost({"repair", second + name}).exitCode, 0);
  EXPECT_TRUE(bytesOf(second + "/run.bdf") == repaired) << "the bytes differ";

  if (!haveMne()) {
    GTEST_SKIP() << "MNE-Python (Debian python3-mne) is not installed";
  }
  const auto read = mneAnnotations(second + "/run.bdf");
  ASSERT_EQ(read.size(), 42u);
  // Closed by its later line; and still open at the kill, so it lasts to
  // the end of the 200 whole records, 2.7 s.
  EXPECT_THAT(read, Contains(std::make_tuple(1.35, 0.999, "S2 no data")));
  EXPECT_THAT(read, Contains(std::make_tuple(2.025, 0.675, "S1 no data")));
}

TEST(Repair, RefusesWhatIsNoRecordingWithoutTouchingIt) {
  const std::string directory = scratchDirectory("repair_refused");
  // A FIFO is judged before it is opened, so nothing waits for a writer.
  const std::string fifo = directory + "/pipe.partial-F1F0F1.bdf";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  const CliRun pipe = repairOrKill(fifo);
  EXPECT_EQ(pipe.killedBy, 0) << "repair waited on a FIFO";
  EXPECT_EQ(pipe.exitCode, 6);
  EXPECT_THAT(pipe.err, HasSubstr("a FIFO, not a regular file"));
  // Nor as a journal beside a real recording.
  const std::string partial = directory + "/run.partial-Lk9Lk9.bdf";
  writeBdf(partial, 20, false);
  const std::string killed = bytesOf(partial);
  ASSERT_EQ(::mkfifo(bvhost::journalPathFor(partial).c_str(), 0644), 0);
  const CliRun journalPipe = repairOrKill(partial);
  EXPECT_EQ(journalPipe.killedBy, 0) << "repair waited on a FIFO journal";
  EXPECT_EQ(journalPipe.exitCode, 6);
  EXPECT_THAT(journalPipe.err, HasSubstr("no regular file"));
  std::filesystem::remove(bvhost::journalPathFor(partial));

  // A lone '#', or bvhost's first line without the header row, is no CSV
  // of ours; neither is emptied.
  for (const std::string& content :
       {std::string("#"), std::string("# bvhost recording of X 1, stream start 2026\ncomp")}) {
    const std::string hash = directory + "/hash.csv";
    std::ofstream(hash, std::ios::binary) << content;
    const CliRun refused = runBvhost({"repair", hash});
    EXPECT_EQ(refused.exitCode, 6) << content;
    EXPECT_THAT(refused.err, HasSubstr(hash + " is no recording bvhost writes"));
    EXPECT_EQ(bytesOf(hash), content);
  }
  // --out is checked as record checks it, before the file is touched.
  const CliRun missing = runBvhost({"repair", partial, "--out", directory + "/absent/x.bdf"});
  EXPECT_EQ(missing.exitCode, 6);
  EXPECT_THAT(missing.err, HasSubstr("does not exist"));
  EXPECT_EQ(runBvhost({"repair", partial, "--out", directory}).exitCode, 6);
  EXPECT_TRUE(bytesOf(partial) == killed) << "the bytes differ";
}

// A recording killed in the middle of a dropout: while it runs, repair
// refuses its partial file; once it is dead, repair marks the dropout from
// its start to the end of what reached the disk.
TEST(Repair, ARunKilledDuringADropoutHasItMarkedToTheEnd) {
  const std::string directory = scratchDirectory("repair_dropout");
  // Sensor 2 silent from frame 100 (1.35 s) for far longer than the run.
  const std::map<std::string, std::string> environment = {{"ORVANE_SIM_SEED", "4242"},
                                                          {"ORVANE_SIM_SENSORS", "2"},
                                                          {"ORVANE_SIM_DROPOUT", "2:100:4000"}};
  std::string partial;
  std::pair<int, std::string> whileRunning;
  int recorder = 0;
  const CliRun run = runBvhostWhile(
      {"record", KESSRA_PLUGIN_PATH, "--seconds", "60", "--out", directory + "/run.bdf"},
      environment, [&](int pid, const std::string&) {
        recorder = pid;
        // A second of it within the start call, then the dropout from 1.35 s.
        ::usleep(4500 * 1000);
        for (const auto& entry : std::filesystem::directory_iterator(directory)) {
          if (entry.path().extension() == ".bdf") {
            partial = entry.path().string();
          }
        }
        whileRunning = commandOutput(std::string(BVHOST_PATH) + " repair '" + partial + "' 2>&1");
        ::kill(pid, SIGKILL);
      });
  ASSERT_EQ(run.killedBy, SIGKILL);
  ASSERT_FALSE(partial.empty());
  EXPECT_EQ(WEXITSTATUS(whileRunning.first), 6) << whileRunning.second;
  EXPECT_THAT(whileRunning.second,
              HasSubstr("a running bvhost (pid " + std::to_string(recorder) + ") is writing it"));

  const CliRun repair = runBvhost({"repair", partial});
  ASSERT_EQ(repair.exitCode, 0) << repair.err;
  EXPECT_THAT(repair.out, HasSubstr("1 of them still open when the run ended"));
  edf_hdr_struct header{};
  ASSERT_EQ(
      edfopen_file_readonly((directory + "/run.bdf").c_str(), &header, EDFLIB_READ_ALL_ANNOTATIONS),
      0);
  const long long end = header.datarecords_in_file * header.datarecord_duration;
  std::vector<std::pair<long long, long long>> marked;
  for (long long a = 0; a < header.annotations_in_file; ++a) {
    edf_annotation_struct annotation{};
    edf_get_annotation(header.handle, static_cast<int>(a), &annotation);
    if (std::string(annotation.annotation) == "S2 no data") {
      marked.emplace_back(annotation.onset, annotation.onset + annotation.duration_l);
    }
  }
  edfclose_file(header.handle);
  EXPECT_THAT(marked, ElementsAre(std::make_pair(13500000LL, end)));
}

TEST(Repair, ManyAnnotationsAllReadBackOrFailLoudlyKeepingThemAll) {
  const std::string directory = scratchDirectory("repair_many");
  // Sixteen sensors, each silent every second frame for 5 s: 2960 silences.
  std::string lines;
  for (int sensor = 1; sensor <= 16; ++sensor) {
    for (int frame = sensor % 2; frame < 370; frame += 2) {
      const std::string onset = std::to_string(frame * 0.0135);
      const std::string text = "S" + std::to_string(sensor) + " no data";
      lines += onset + "\topen\t" + text + "\n" + onset + "\t0.0135\t" + text + "\n";
    }
  }
  const std::string sized = directory + "/sized.partial-S1x7en.bdf";
  writeBdf(sized, 370, false, static_cast<int>(bvhost::annotationSignalsFor(16)));
  writeJournal(sized, lines);
  const CliRun run = runBvhost({"repair", sized});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("2960 annotation(s) written"));
  const std::string target = directory + "/sized.bdf";
  edf_hdr_struct header{};
  ASSERT_EQ(edfopen_file_readonly(target.c_str(), &header, EDFLIB_READ_ALL_ANNOTATIONS), 0);
  EXPECT_EQ(header.annotations_in_file, 2960);
  edfclose_file(header.handle);
  if (std::system("command -v save2gdf >/dev/null 2>&1") == 0) {
    const auto [status, json] = commandOutput("save2gdf -JSON '" + target + "' 2>&1");
    EXPECT_EQ(status, 0) << json;
    std::size_t events = 0;
    for (auto at = json.find("no data\""); at != std::string::npos;
         at = json.find("no data\"", at + 1)) {
      ++events;
    }
    EXPECT_EQ(events, 2960u);
  }
  if (haveMne()) {
    EXPECT_EQ(mneAnnotations(target).size(), 2960u);
  }

  // With the one annotation signal of files before, far from all fit.
  const std::string narrow = directory + "/narrow.partial-N4rr0w.bdf";
  writeBdf(narrow, 370, false);
  writeJournal(narrow, lines);
  const CliRun overfull = runBvhost({"repair", narrow});
  EXPECT_EQ(overfull.exitCode, 6);
  EXPECT_THAT(overfull.err, HasSubstr("all are kept in " + bvhost::journalPathFor(narrow)));
  EXPECT_EQ(bvhost::readAnnotationJournal(bvhost::journalPathFor(narrow)).size(), 2960u);
  EXPECT_TRUE(std::filesystem::exists(narrow));
}
