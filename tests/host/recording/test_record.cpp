// bvhost record against our plug-in on the simulator: the files hold every
// sample the plug-in delivers, in order and without gaps, and read back with
// an independent reader; a signal stops the run cleanly.
#include <dlfcn.h>
#include <edflib.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "cli_runner.h"
#include "kessra_plugin.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

using Key = std::pair<std::string, std::string>;
using Samples = std::map<Key, std::vector<float>>;

const std::map<std::string, std::string> kSimulator = {{"ORVANE_SIM_SEED", "4242"},
                                                       {"ORVANE_SIM_SENSORS", "2"}};

Samples* capture = nullptr;

void captureBlock(const char* component, const char* channel, const SampleBlock* block) {
  auto& values = (*capture)[{component, channel}];
  ASSERT_EQ(block->firstIndex, values.size());
  values.insert(values.end(), block->values, block->values + block->count);
}

// Our own minimal host, sharing no code with bvhost: what the plug-in
// delivers through the callback for the first `frames` frames of a stream.
Samples captureFrames(int frames) {
  for (const auto& [name, value] : kSimulator) {
    setenv(name.c_str(), value.c_str(), 1);
  }
  void* handle = dlopen(KESSRA_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
  EXPECT_NE(handle, nullptr);
  auto connect = reinterpret_cast<decltype(&bv_connect)>(dlsym(handle, "bv_connect"));
  auto start = reinterpret_cast<decltype(&bv_start_streaming)>(dlsym(handle, "bv_start_streaming"));
  auto read = reinterpret_cast<decltype(&bv_read_samples)>(dlsym(handle, "bv_read_samples"));
  auto stop = reinterpret_cast<decltype(&bv_stop_streaming)>(dlsym(handle, "bv_stop_streaming"));
  auto disconnect = reinterpret_cast<decltype(&bv_disconnect)>(dlsym(handle, "bv_disconnect"));
  Samples samples;
  capture = &samples;
  EXPECT_EQ(connect(nullptr).code, 0);
  EXPECT_EQ(start().code, 0);
  for (int frame = 0; frame < frames; ++frame) {
    read(&captureBlock);
  }
  stop();
  read(&captureBlock);
  disconnect();
  capture = nullptr;
  dlclose(handle);
  return samples;
}

// Rows of the CSV, per channel, checking the index runs 0, 1, 2, ...;
// order receives the channels in the order they first appear.
Samples readCsv(const std::string& path, std::vector<Key>* order = nullptr) {
  std::istringstream text(readFile(path));
  std::string line;
  std::getline(text, line);
  EXPECT_THAT(line, ::testing::StartsWith("# "));
  std::getline(text, line);
  EXPECT_EQ(line, "component,channel,unit,sample_index,time_s,value");
  Samples samples;
  const std::regex row(R"(^("[^"]*"|[^,]*),([^,]*),([^,]*),(\d+),([0-9.]+),(\S+)$)");
  while (std::getline(text, line)) {
    std::smatch match;
    EXPECT_TRUE(std::regex_match(line, match, row)) << line;
    std::string component = match[1];
    if (!component.empty() && component.front() == '"') {
      component = component.substr(1, component.size() - 2);
    }
    const Key key{component, match[2]};
    if (order != nullptr && samples.find(key) == samples.end()) {
      order->push_back(key);
    }
    auto& values = samples[key];
    EXPECT_EQ(std::stoull(match[4]), values.size()) << line;
    values.push_back(std::strtof(match[6].str().c_str(), nullptr));
  }
  return samples;
}

struct BdfSignal {
  std::string label;
  std::vector<double> values;
  double quantum;
};

std::vector<BdfSignal> readBdf(const std::string& path) {
  edf_hdr_struct header{};
  EXPECT_EQ(edfopen_file_readonly(path.c_str(), &header, EDFLIB_READ_ALL_ANNOTATIONS), 0);
  std::vector<BdfSignal> signals;
  for (int s = 0; s < header.edfsignals; ++s) {
    const auto& param = header.signalparam[s];
    BdfSignal signal{param.label, std::vector<double>(static_cast<std::size_t>(param.smp_in_file)),
                     (param.phys_max - param.phys_min) / (param.dig_max - param.dig_min)};
    EXPECT_EQ(edfread_physical_samples(header.handle, s, static_cast<int>(param.smp_in_file),
                                       signal.values.data()),
              param.smp_in_file);
    signal.label.erase(signal.label.find_last_not_of(' ') + 1);
    signals.push_back(std::move(signal));
  }
  edfclose_file(header.handle);
  return signals;
}

std::uint64_t summaryReceived(const std::string& summary, const std::string& component,
                              const std::string& channel) {
  std::istringstream lines(summary);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind(component + " ", 0) == 0 &&
        line.substr(component.size()).find(" " + channel + " ") != std::string::npos) {
      std::smatch match;
      const std::regex numbers(R"(\s(\d+)\s+(\d+)\s+[-+]\d+\s+(\d+)$)");
      if (std::regex_search(line, match, numbers)) {
        return std::stoull(match[1]);
      }
    }
  }
  ADD_FAILURE() << "no summary line for " << component << " / " << channel;
  return 0;
}

class Record : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    directory_ = scratchDirectory("record");
    run_ =
        runBvhost({"record", KESSRA_PLUGIN_PATH, "--seconds", "2", "--out", directory_ + "/run.csv",
                   "--out", directory_ + "/run.bdf", "--stop-trigger", "off"},
                  kSimulator);
  }
  static std::string directory_;
  static CliRun run_;
};

std::string Record::directory_;
CliRun Record::run_;

TEST_F(Record, CsvHoldsExactlyWhatTheCallbackDelivers) {
  ASSERT_EQ(run_.exitCode, 0) << run_.err;
  const Samples csv = readCsv(directory_ + "/run.csv");
  const Samples delivered = captureFrames(60);
  ASSERT_EQ(csv.size(), 14u);
  ASSERT_EQ(delivered.size(), csv.size());
  for (const auto& [key, values] : delivered) {
    const auto found = csv.find(key);
    ASSERT_NE(found, csv.end()) << key.first << " / " << key.second;
    const std::vector<float>& recorded = found->second;
    ASSERT_GE(recorded.size(), values.size()) << key.second;
    for (std::size_t i = 0; i < values.size(); ++i) {
      ASSERT_EQ(recorded[i], values[i]) << key.first << " / " << key.second << " sample " << i;
    }
    EXPECT_EQ(recorded.size(), summaryReceived(run_.out, key.first, key.second))
        << key.first << " / " << key.second;
  }
}

// The summary's unit column, per channel, read at the header's column.
std::map<Key, std::string> summaryUnits(const std::string& summary) {
  std::istringstream lines(summary);
  std::map<Key, std::string> units;
  std::size_t channelColumn = std::string::npos;
  std::size_t unitColumn = std::string::npos;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("component ", 0) == 0) {
      channelColumn = line.find(" channel ") + 1;
      unitColumn = line.find(" unit ") + 1;
    } else if (unitColumn != std::string::npos && line.size() > unitColumn + 10 &&
               std::regex_search(line, std::regex(R"(\d\s*$)"))) {
      // A row ends with its count of gaps; the sentences after the table
      // (such as a run cut short by a frame) do not.
      auto trimmed = [](std::string text) {
        text.erase(text.find_last_not_of(' ') + 1);
        return text;
      };
      const std::string component = trimmed(line.substr(0, channelColumn));
      const std::string channel = trimmed(line.substr(channelColumn, unitColumn - channelColumn));
      units[{component, channel}] = trimmed(line.substr(unitColumn, 10));
    }
  }
  return units;
}

// The summary names each channel's unit as the file does, read back by
// EDFlib: mV, g, deg/s, not the host enumeration's words.
TEST_F(Record, SummaryGivesEachChannelTheUnitItsFileHolds) {
  ASSERT_EQ(run_.exitCode, 0) << run_.err;
  std::map<std::string, std::string> fileUnits;
  edf_hdr_struct header{};
  ASSERT_EQ(edfopen_file_readonly((directory_ + "/run.bdf").c_str(), &header,
                                  EDFLIB_DO_NOT_READ_ANNOTATIONS),
            0);
  for (int s = 0; s < header.edfsignals; ++s) {
    std::string label = header.signalparam[s].label;
    std::string dimension = header.signalparam[s].physdimension;
    label.erase(label.find_last_not_of(' ') + 1);
    dimension.erase(dimension.find_last_not_of(' ') + 1);
    fileUnits[label] = dimension;
  }
  edfclose_file(header.handle);
  const std::map<Key, std::string> units = summaryUnits(run_.out);
  ASSERT_EQ(units.size(), 14u) << run_.out;
  const std::map<std::string, std::string> byKind = {{"EMG", "mV"}, {"ACC", "g"}, {"GYR", "deg/s"}};
  for (const auto& [key, unit] : units) {
    std::smatch number;
    ASSERT_TRUE(std::regex_search(key.first, number, std::regex(R"(Sensor (\d+))"))) << key.first;
    const std::string label = "S" + number[1].str() + " " + key.second;
    EXPECT_EQ(unit, fileUnits[label]) << label;
    EXPECT_EQ(unit, byKind.at(key.second.substr(0, 3))) << label;
  }
}

TEST_F(Record, BdfHoldsTheSameSamplesAsTheCsv) {
  ASSERT_EQ(run_.exitCode, 0) << run_.err;
  std::vector<Key> order;
  const Samples csv = readCsv(directory_ + "/run.csv", &order);
  const std::vector<BdfSignal> bdf = readBdf(directory_ + "/run.bdf");
  ASSERT_EQ(bdf.size(), order.size());
  for (std::size_t s = 0; s < bdf.size(); ++s) {
    const BdfSignal& signal = bdf[s];
    const std::vector<float>& values = csv.at(order[s]);
    EXPECT_THAT(signal.label, ::testing::EndsWith(" " + order[s].second));
    // Every frame came whole, so the records hold exactly the samples.
    ASSERT_EQ(signal.values.size(), values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
      ASSERT_NEAR(signal.values[i], values[i], signal.quantum) << signal.label << " " << i;
    }
  }
}

TEST_F(Record, BdfReadsBackWithBiosig) {
  ASSERT_EQ(run_.exitCode, 0) << run_.err;
  if (std::system("command -v save2gdf >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "save2gdf (Debian biosig-tools) is not installed";
  }
  // Beside the run's folder, not in it: other tests count the files there.
  const std::string json = directory_ + ".biosig.json";
  ASSERT_EQ(
      std::system(("save2gdf -JSON " + directory_ + "/run.bdf > " + json + " 2>/dev/null").c_str()),
      0);
  const std::string text = readFile(json);
  std::smatch match;
  ASSERT_TRUE(std::regex_search(text, match, std::regex(R"("NumberOfRecords"\s*:\s*(\d+))")));
  const std::uint64_t records = std::stoull(match[1]);
  // One record per frame: as many as the EMG samples fill.
  std::vector<Key> order;
  readCsv(directory_ + "/run.csv", &order);
  ASSERT_FALSE(order.empty());
  ASSERT_EQ(order[0].second, "EMG");
  const std::uint64_t emg = summaryReceived(run_.out, order[0].first, "EMG");
  EXPECT_EQ(records * 26, emg);
  const double seconds = static_cast<double>(records) * 0.0135;
  EXPECT_NEAR(seconds, 2.0, 0.1);

  const std::regex channel(R"re("Label"\s*:\s*"([^"]*)",\s*"Samplingrate"\s*:\s*([0-9.]+))re");
  int signals = 0;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), channel);
       it != std::sregex_iterator(); ++it) {
    const std::string label = (*it)[1];
    const double rate = std::stod((*it)[2]);
    if (label.find("Annotations") != std::string::npos) {
      continue;
    }
    ++signals;
    const double expected = label.find("EMG") != std::string::npos ? 26 / 0.0135 : 2 / 0.0135;
    EXPECT_NEAR(rate, expected, 0.001) << label;
  }
  EXPECT_EQ(signals, 14);
}

TEST_F(Record, SummaryReportsEveryChannelWithoutGaps) {
  ASSERT_EQ(run_.exitCode, 0) << run_.err;
  EXPECT_THAT(run_.out, HasSubstr("Every sensor delivered every frame in full."));
  EXPECT_THAT(run_.out, Not(HasSubstr("gap(s) in firstIndex")));
  // Complete files only, and the events file the two share: nothing left
  // under a partial name, and no journal.
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory_)) {
    names.insert(entry.path().filename().string());
  }
  EXPECT_EQ(names, (std::set<std::string>{"run.bdf", "run.csv", "run_events.tsv"}));
  EXPECT_THAT(run_.out, HasSubstr("in 14 channels"));
  EXPECT_THAT(run_.out, HasSubstr("Wrote " + directory_ + "/run.bdf"));
}

// The received total of sensor `label` (S1, S2, ...) in a per-sensor summary.
std::uint64_t summarySensorReceived(const std::string& summary, const std::string& label) {
  std::istringstream lines(summary);
  std::string line;
  const std::regex row(R"(^(S\d+)\s.*\s(\d+)\s+(\d+)\s+(\d+)\s+[-+]\d+\s+(\d+)$)");
  while (std::getline(lines, line)) {
    std::smatch match;
    if (std::regex_match(line, match, row) && match[1] == label) {
      return std::stoull(match[3]);
    }
  }
  ADD_FAILURE() << "no summary line for sensor " << label;
  return 0;
}

// The plug-in's start alone takes a second, with the device already running:
// a shorter recording must still hold only the time asked for, in whole
// frames, and the summary must say the time the files hold. With 16 sensors
// the summary gives a row per sensor whose totals are what the files hold.
TEST(RecordShort, HoldsTheTimeAskedForAndSummarisesManySensorsCompactly) {
  const std::string directory = scratchDirectory("short");
  auto sixteen = kSimulator;
  sixteen["ORVANE_SIM_SENSORS"] = "16";
  const CliRun run = runBvhost({"record", KESSRA_PLUGIN_PATH, "--seconds", "0.5", "--out",
                                directory + "/s.csv", "--out", directory + "/s.bdf"},
                               sixteen);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  // 0.5 s is 37.04 frames of 13.5 ms: rounded up, never short.
  EXPECT_THAT(run.out, HasSubstr("Summary: 0.513 s of stream time, 38 frames,"));
  EXPECT_THAT(run.out, HasSubstr("Kept 38 frames (0.5130 s, --seconds 0.5"));
  EXPECT_THAT(run.out, HasSubstr("Every sensor delivered every frame in full."));
  // Nothing is off, so no channel gets a row of its own.
  EXPECT_THAT(run.out, Not(::testing::ContainsRegex(" EMG +mV ")));
  EXPECT_LT(std::count(run.out.begin(), run.out.end(), '\n'), 25);
  const Samples csv = readCsv(directory + "/s.csv");
  ASSERT_EQ(csv.size(), 16u * 7);
  std::map<std::string, std::uint64_t> perSensor;
  for (const auto& [key, values] : csv) {
    EXPECT_EQ(values.size(), key.second == "EMG" ? 38u * 26 : 38u * 2) << key.second;
    std::smatch number;
    ASSERT_TRUE(std::regex_search(key.first, number, std::regex(R"(Sensor (\d+))")));
    perSensor["S" + number[1].str()] += values.size();
  }
  ASSERT_EQ(perSensor.size(), 16u);
  for (const auto& [label, received] : perSensor) {
    EXPECT_EQ(received, summarySensorReceived(run.out, label)) << label;
  }
  for (const BdfSignal& signal : readBdf(directory + "/s.bdf")) {
    EXPECT_EQ(signal.values.size(),
              signal.label.find("EMG") != std::string::npos ? 38u * 26 : 38u * 2)
        << signal.label;
  }
}

std::vector<std::string> readAnnotations(const std::string& path) {
  edf_hdr_struct header{};
  EXPECT_EQ(edfopen_file_readonly(path.c_str(), &header, EDFLIB_READ_ALL_ANNOTATIONS), 0);
  std::vector<std::string> annotations;
  for (long long a = 0; a < header.annotations_in_file; ++a) {
    edf_annotation_struct annotation{};
    edf_get_annotation(header.handle, static_cast<int>(a), &annotation);
    annotations.push_back(annotation.annotation);
  }
  edfclose_file(header.handle);
  return annotations;
}

// CSV rows keyed by channel and time_s, as written.
std::map<std::pair<Key, std::string>, std::string> csvByTime(const std::string& path) {
  std::istringstream text(readFile(path));
  std::string line;
  std::getline(text, line);
  std::getline(text, line);
  std::map<std::pair<Key, std::string>, std::string> rows;
  const std::regex row(R"(^("[^"]*"|[^,]*),([^,]*),([^,]*),(\d+),([0-9.]+),(\S+)$)");
  while (std::getline(text, line)) {
    std::smatch match;
    if (std::regex_match(line, match, row)) {
      rows[{{match[1], match[2]}, match[5]}] = match[6];
    }
  }
  return rows;
}

bool haveMne() { return std::system("/usr/bin/python3 -c 'import mne' >/dev/null 2>&1") == 0; }

// A sensor that drops out shifts nothing: read back by MNE-Python, every
// sample both runs of one seed delivered sits at the same time in both
// files, the silence is flat, and one annotation marks it where it began.
TEST(RecordDropout, EverySampleKeepsItsTimeAndTheSilenceIsOneAnnotatedGap) {
  const std::string directory = scratchDirectory("dropout");
  auto dropout = kSimulator;
  // Sensor 2 silent from frame 100 (1.35 s) for 74 frames (0.999 s).
  dropout["ORVANE_SIM_DROPOUT"] = "2:100:74";
  const CliRun clean = runBvhost({"record", KESSRA_PLUGIN_PATH, "--seconds", "3", "--out",
                                  directory + "/clean.bdf", "--out", directory + "/clean.csv"},
                                 kSimulator);
  const CliRun run = runBvhost({"record", KESSRA_PLUGIN_PATH, "--seconds", "3", "--out",
                                directory + "/drop.bdf", "--out", directory + "/drop.csv"},
                               dropout);
  ASSERT_EQ(clean.exitCode, 0) << clean.err;
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("S2 no data: 1.3500 s for 0.9990 s\n"));

  // The CSV: each row of the dropout run has the clean run's value at its time.
  const auto cleanRows = csvByTime(directory + "/clean.csv");
  const auto dropRows = csvByTime(directory + "/drop.csv");
  ASSERT_GT(dropRows.size(), 10000u);
  std::size_t compared = 0;
  for (const auto& [where, value] : dropRows) {
    const auto found = cleanRows.find(where);
    if (found != cleanRows.end()) {
      ASSERT_EQ(found->second, value) << where.first.second << " at " << where.second;
      ++compared;
    }
  }
  EXPECT_GT(compared, dropRows.size() * 9 / 10);

  if (!haveMne()) {
    GTEST_SKIP() << "MNE-Python (Debian python3-mne) is not installed";
  }
  const std::string json = directory + "/compare.json";
  ASSERT_EQ(std::system(("/usr/bin/python3 " SCRIPTS_DIR "/compare_with_mne.py " + directory +
                         "/clean.bdf " + directory + "/drop.bdf S2 100 74 > " + json)
                            .c_str()),
            0);
  const std::string result = readFile(json);
  EXPECT_THAT(result, HasSubstr("\"channels\": 14"));
  EXPECT_THAT(result, HasSubstr("\"moved\": []"));
  EXPECT_THAT(result, HasSubstr("\"annotations\": [[1.35, 0.999, \"S2 no data\"]]"));
  EXPECT_THAT(result, HasSubstr("\"clean_annotations\": []"));
  std::smatch match;
  ASSERT_TRUE(
      std::regex_search(result, match, std::regex(R"re("silence_max_abs": ([0-9.e-]+))re")));
  // Flat: within half a digital step of zero on every channel.
  EXPECT_LT(std::stod(match[1]), 1e-3);
}

// The one partial file in `directory` whose name ends in `extension`.
std::string findPartial(const std::string& directory, const std::string& extension) {
  std::string found;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    const std::string name = entry.path().filename().string();
    if (name.find(".partial-") != std::string::npos && name.size() > extension.size() &&
        name.compare(name.size() - extension.size(), extension.size(), extension) == 0) {
      EXPECT_TRUE(found.empty()) << "two partial " << extension << " files";
      found = entry.path().string();
    }
  }
  return found;
}

// Killed outright, a recording leaves its partial files on the disk up to
// about a second before the kill, and `bvhost repair` turns them into files
// that independent readers open, annotations included.
TEST(RecordKilled, APartialFileIsRepairedIntoAReadableRecording) {
  const std::string directory = scratchDirectory("killed");
  auto environment = kSimulator;
  environment["ORVANE_SIM_DROPOUT"] = "2:100:74";
  const CliRun run = runBvhostAndSignal({"record", KESSRA_PLUGIN_PATH, "--seconds", "60", "--out",
                                         directory + "/run.bdf", "--out", directory + "/run.csv"},
                                        SIGKILL, 5000, environment);
  ASSERT_EQ(run.killedBy, SIGKILL);
  EXPECT_FALSE(std::filesystem::exists(directory + "/run.bdf"));
  ASSERT_FALSE(findPartial(directory, ".bdf.annotations").empty());
  for (const char* extension : {".bdf", ".csv"}) {
    const std::string partial = findPartial(directory, extension);
    ASSERT_FALSE(partial.empty()) << extension;
    const CliRun repair = runBvhost({"repair", partial});
    ASSERT_EQ(repair.exitCode, 0) << repair.err;
  }
  ASSERT_TRUE(std::filesystem::exists(directory + "/run.bdf"));
  const std::vector<BdfSignal> signals = readBdf(directory + "/run.bdf");
  ASSERT_EQ(signals.size(), 14u);
  // Killed about four seconds into the stream (a second of it within the
  // start call): at least all but the last second is there.
  EXPECT_GE(signals[0].values.size(), static_cast<std::size_t>(2.9 * 26 / 0.0135));
  EXPECT_THAT(readAnnotations(directory + "/run.bdf"), ::testing::Contains("S2 no data"));
  const Samples csv = readCsv(directory + "/run.csv");
  ASSERT_EQ(csv.size(), 14u);
  EXPECT_GE(csv.begin()->second.size(), 444u / 3 * 2);
  if (std::system("command -v save2gdf >/dev/null 2>&1") == 0) {
    EXPECT_EQ(std::system(("save2gdf -JSON " + directory + "/run.bdf >/dev/null 2>&1").c_str()), 0);
  }
}

// A write that fails mid-run (here the file size limit, as a full disk) ends
// the recording at once, loudly; what was written stays, readable, under the
// partial name, and the file the run was to replace is left as it was.
TEST(RecordWriteFailure, EndsLoudlyKeepsAReadableFileAndTheOldTarget) {
  for (const std::string format : {"bdf", "csv"}) {
    SCOPED_TRACE(format);
    const std::string directory = scratchDirectory("full" + format);
    const std::string target = directory + "/old." + format;
    {
      std::ofstream old(target);
      old << "a recording from yesterday";
    }
    const auto started = std::chrono::steady_clock::now();
    const CliRun run = runBvhostWithFileSizeLimit(
        {"record", KESSRA_PLUGIN_PATH, "--seconds", "30", "--out", target}, 300 * 1024, kSimulator);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
    EXPECT_EQ(run.exitCode, 6) << run.err;
    EXPECT_THAT(run.err, HasSubstr("writing "));
    EXPECT_THAT(run.err, HasSubstr("failed: the file size limit of 307200 bytes (ulimit -f)"));
    EXPECT_THAT(run.err, HasSubstr("kept, readable, in "));
    EXPECT_THAT(run.out, Not(HasSubstr("Wrote")));
    EXPECT_EQ(readFile(target), "a recording from yesterday");
    const std::string kept = findPartial(directory, "." + format);
    ASSERT_FALSE(kept.empty());
    if (format == "bdf") {
      EXPECT_GT(readBdf(kept).at(0).values.size(), 0u);
    } else {
      const std::string text = readFile(kept);
      EXPECT_EQ(text.back(), '\n');
      EXPECT_GT(readCsv(kept).size(), 0u);
    }
  }
}

// A read the plug-in refuses ends the recording with its message; the files
// are complete up to there and take their place.
TEST(RecordReadFailure, EndsWithThePluginsMessageAndCompleteFiles) {
  const std::string directory = scratchDirectory("readfail");
  const CliRun run = runBvhost({"record", FAILING_READ_PATH, "--seconds", "20", "--out",
                                directory + "/r.csv", "--out", directory + "/r.bdf"});
  EXPECT_EQ(run.exitCode, 5) << run.err;
  EXPECT_THAT(run.err, HasSubstr("bv_read_samples failed: code 1 \"Sensor link lost\""));
  EXPECT_THAT(run.out, HasSubstr("Wrote " + directory + "/r.bdf"));
  const Samples csv = readCsv(directory + "/r.csv");
  ASSERT_EQ(csv.size(), 1u);
  EXPECT_EQ(csv.begin()->second.size(), 40u * 27);
  EXPECT_EQ(readBdf(directory + "/r.bdf").at(0).values.size(), 40u * 27);
}

TEST(RecordSignal, SigtermStopsCleanlyWithCompleteFiles) {
  const std::string directory = scratchDirectory("sigterm");
  const CliRun run = runBvhostAndSignal({"record", KESSRA_PLUGIN_PATH, "--seconds", "60", "--out",
                                         directory + "/cut.csv", "--out", directory + "/cut.edf"},
                                        SIGTERM, 2500, kSimulator);
  EXPECT_EQ(run.exitCode, 143) << run.err;
  EXPECT_THAT(run.err, HasSubstr("stopped by SIGTERM"));
  EXPECT_THAT(run.out, HasSubstr("Every sensor delivered every frame in full."));
  const Samples csv = readCsv(directory + "/cut.csv");
  ASSERT_EQ(csv.size(), 14u);
  const std::vector<BdfSignal> edf = readBdf(directory + "/cut.edf");
  ASSERT_EQ(edf.size(), 14u);
  for (const auto& [key, values] : csv) {
    EXPECT_EQ(values.size(), summaryReceived(run.out, key.first, key.second)) << key.second;
    EXPECT_GT(values.size(), 0u);
  }
}

// Closing the terminal ends a recording as cleanly as Ctrl-C.
TEST(RecordSignal, SighupStopsCleanlyWithCompleteFiles) {
  const std::string directory = scratchDirectory("sighup");
  const CliRun run = runBvhostAndSignal(
      {"record", KESSRA_PLUGIN_PATH, "--seconds", "60", "--out", directory + "/hup.bdf"}, SIGHUP,
      2500, kSimulator);
  EXPECT_EQ(run.exitCode, 129) << run.err;
  EXPECT_THAT(run.err, HasSubstr("stopped by SIGHUP"));
  EXPECT_EQ(readBdf(directory + "/hup.bdf").size(), 14u);
}

}  // namespace

namespace {

// A stop asked for while the plug-in is still connecting is honoured once it
// has connected: the recording ends at once, cleanly, with complete files.
TEST(RecordSignal, SigtermWhileConnectingStopsCleanly) {
  const std::string directory = scratchDirectory("early");
  const CliRun run = runBvhostAndSignal(
      {"record", SLOW_CONNECT_PATH, "--seconds", "30", "--out", directory + "/early.csv"}, SIGTERM,
      500);
  EXPECT_EQ(run.killedBy, 0);
  EXPECT_EQ(run.exitCode, 143) << run.err;
  EXPECT_THAT(run.err, HasSubstr("stopped by SIGTERM"));
  EXPECT_THAT(readFile(directory + "/early.csv"),
              HasSubstr("\ncomponent,channel,unit,sample_index,time_s,value\n"));
}

// A plug-in that hangs while stopping must not make bvhost unkillable: the
// second signal ends it at once, with its own code rather than the one that
// says the files are complete (test_signals.cpp has the rest).
TEST(RecordSignal, SecondSigintEndsARecordingThatHangs) {
  const std::string directory = scratchDirectory("hung");
  const CliRun run = runBvhostAndSignals(
      {"record", HUNG_STOP_PATH, "--seconds", "30", "--out", directory + "/hung.csv"},
      {{SIGINT, 800}, {SIGINT, 1600}});
  EXPECT_EQ(run.killedBy, 0) << run.err;
  EXPECT_EQ(run.exitCode, 75) << run.err;
}

}  // namespace
