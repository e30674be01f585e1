// The EDF+/BDF+ and CSV writers on made-up streams, read back with EDFlib.
#include <edflib.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <regex>
#include <sstream>

#include "files/csv_writer.h"
#include "files/edf_setup.h"
#include "files/edf_writer.h"
#include "files/iso_time.h"
#include "files/output_error.h"
#include "recording/recording_frames.h"

using namespace bvhost;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

std::string temporaryPath(const std::string& name) {
  return (std::filesystem::temp_directory_path() /
          ("bvhost_test_" + std::to_string(getpid()) + "_" + name))
      .string();
}

// A new file, open as a recording's partial file is; closed again once the
// writer, which keeps descriptors of its own, has been made.
struct NewFile {
  explicit NewFile(const std::string& path)
      : fd(::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)) {}
  ~NewFile() { ::close(fd); }
  int fd;
};

struct ReadBack {
  std::vector<std::string> labels;
  std::vector<std::vector<double>> values;
  std::vector<std::string> annotations;
  std::vector<long long> onsets;     // in EDFlib's units of 100 ns
  std::vector<long long> durations;  // the same, -1 for none
  long long records = 0;
};

ReadBack readBack(const std::string& path) {
  edf_hdr_struct header{};
  ReadBack result;
  EXPECT_EQ(edfopen_file_readonly(path.c_str(), &header, EDFLIB_READ_ALL_ANNOTATIONS), 0);
  result.records = header.datarecords_in_file;
  EXPECT_EQ(header.datarecord_duration, 135000);  // 13.5 ms in units of 100 ns
  for (int s = 0; s < header.edfsignals; ++s) {
    std::string label = header.signalparam[s].label;
    label.erase(label.find_last_not_of(' ') + 1);
    result.labels.push_back(label);
    std::vector<double> values(static_cast<std::size_t>(header.signalparam[s].smp_in_file));
    edfread_physical_samples(header.handle, s, static_cast<int>(values.size()), values.data());
    result.values.push_back(values);
  }
  for (long long a = 0; a < header.annotations_in_file; ++a) {
    edf_annotation_struct annotation{};
    edf_get_annotation(header.handle, static_cast<int>(a), &annotation);
    result.annotations.push_back(annotation.annotation);
    result.onsets.push_back(annotation.onset);
    result.durations.push_back(annotation.duration_l);
  }
  edfclose_file(header.handle);
  return result;
}

const std::vector<ChannelInfo> kChannels = {
    {0, "Sensor 1", "EMG", 9, 1925.926, 26},
    {0, "Sensor 1", "ACC X", 4, 148.148, 2},
    {0, "Sensor 1", "TEMP", 12, 0.0, 0},
};

}  // namespace

// A channel's k-th block is record k: a frame that comes short leaves the
// rest of its slot as a gap in place, and nothing after it moves. Blocks go
// through the recording's frame clock, which also judges the silence.
TEST(EdfWriter, AShortFrameLeavesAGapInPlaceAndShiftsNothing) {
  const std::string path = temporaryPath("short.bdf");
  {
    std::vector<std::unique_ptr<SampleWriter>> writers;
    writers.push_back(std::make_unique<EdfWriter>(NewFile(path).fd, path, true, kChannels,
                                                  RecordingInfo{"Test", "1", {}}));
    auto& writer = static_cast<EdfWriter&>(*writers.front());
    RecordingFrames frames(kChannels, {writers.front().get()}, 1000);
    std::vector<float> emg(26);
    for (std::size_t i = 0; i < emg.size(); ++i) {
      emg[i] = static_cast<float>(i) * 0.01f;
    }
    const float acc[2] = {0.5f, -0.5f};
    frames.deliver(0, {0, 1, emg.data(), 26});
    frames.deliver(1, {0, 1, acc, 2});
    frames.deliver(0, {26, 1, emg.data(), 10});  // a dropout begins within the frame
    frames.deliver(1, {2, 1, nullptr, 0});
    frames.deliver(0, {36, 1, emg.data(), 26});
    frames.deliver(1, {2, 1, acc, 2});
    frames.finish();
    writer.close();
    EXPECT_EQ(writer.recordsWritten(), 3u);
    EXPECT_THAT(writer.notes(), Contains(HasSubstr("left out S1 TEMP")));
  }
  const ReadBack file = readBack(path);
  ASSERT_EQ(file.labels, (std::vector<std::string>{"S1 EMG", "S1 ACC X"}));
  ASSERT_EQ(file.values[0].size(), 78u);
  EXPECT_NEAR(file.values[0][25], 0.25, 1e-5);
  EXPECT_NEAR(file.values[0][26 + 9], 0.09, 1e-5);
  EXPECT_NEAR(file.values[0][26 + 10], RecordAssembler::kFillValue, 1e-5);
  EXPECT_NEAR(file.values[0][52 + 25], 0.25, 1e-5);  // the third frame, in place
  EXPECT_THAT(file.values[1],
              ::testing::Pointwise(::testing::DoubleNear(1e-5),
                                   std::vector<double>{0.5, -0.5, 0, 0, 0.5, -0.5}));
  EXPECT_THAT(file.annotations, Contains("no signal: S1 TEMP"));
  // One annotation for the sensor, from where its first channel ran out
  // (the ACC at the frame's start) to the frame's end.
  const auto gap = std::find(file.annotations.begin(), file.annotations.end(), "S1 no data");
  ASSERT_NE(gap, file.annotations.end());
  const auto index = static_cast<std::size_t>(gap - file.annotations.begin());
  EXPECT_EQ(file.onsets[index], 135000LL);
  EXPECT_EQ(file.durations[index], 135000LL);
  EXPECT_FALSE(std::filesystem::exists(path + ".annotations"));
  std::filesystem::remove(path);
}

// A block longer than its slot keeps what the slot holds; the rest is
// counted and annotated, and the next frame is where it belongs.
TEST(EdfWriter, ABlockLongerThanItsSlotKeepsTheSlotAndCountsTheRest) {
  const std::string path = temporaryPath("long.bdf");
  {
    EdfWriter writer(NewFile(path).fd, path, true, kChannels, RecordingInfo{"Test", "1", {}});
    std::vector<float> emg(26, 0.5f);
    const float acc[7] = {0.125f, 0.25f, 0.375f, 0.5f, 0.625f, 0.75f, 0.875f};
    writer.write(0, 0, 0, emg.data(), 26);
    writer.write(1, 0, 0, acc, 7);
    writer.write(0, 1, 26, emg.data(), 26);
    writer.write(1, 1, 7, acc + 5, 2);
    writer.close();
    EXPECT_THAT(writer.notes(), Contains(HasSubstr("5 sample(s) of S1 ACC X did not fit")));
  }
  const ReadBack file = readBack(path);
  EXPECT_THAT(file.values[1], ::testing::Pointwise(::testing::DoubleNear(1e-5),
                                                   std::vector<double>{0.125, 0.25, 0.75, 0.875}));
  EXPECT_THAT(file.annotations, Contains("S1 5 extra samples left out"));
  std::filesystem::remove(path);
}

// A sensor silent for many records neither holds back the file nor grows
// memory: the records go out as they complete, the silence is flat, in
// place, with one annotation of its onset and length.
TEST(EdfWriter, ALongSilenceIsAFlatGapWithOneAnnotation) {
  const std::string path = temporaryPath("silent.edf");
  constexpr std::size_t kBefore = 10;
  constexpr std::size_t kSilent = 1000;
  constexpr std::size_t kFrames = kBefore + kSilent + 10;
  auto accValue = [](std::size_t frame, std::size_t i) {
    return static_cast<float>(frame % 100) * 0.125f + static_cast<float>(i);
  };
  std::vector<float> emg(26, -1.0f);
  {
    std::vector<std::unique_ptr<SampleWriter>> writers;
    writers.push_back(std::make_unique<EdfWriter>(NewFile(path).fd, path, false, kChannels,
                                                  RecordingInfo{"Test", "1", {}}));
    auto& writer = static_cast<EdfWriter&>(*writers.front());
    RecordingFrames frames(kChannels, {writers.front().get()}, kFrames);
    for (std::size_t frame = 0; frame < kFrames; ++frame) {
      frames.deliver(0, {frame * 26, 1, emg.data(), 26});
      const bool silent = frame >= kBefore && frame < kBefore + kSilent;
      const float acc[2] = {accValue(frame, 0), accValue(frame, 1)};
      frames.deliver(1, {0, 1, silent ? nullptr : acc, silent ? 0u : 2u});
      if (frame == kBefore + kSilent / 2) {
        EXPECT_GE(writer.recordsWritten() + EdfWriter::kRecordsPerWrite, frame);
      }
    }
    frames.finish();
    writer.close();
  }
  const ReadBack file = readBack(path);
  ASSERT_EQ(file.values[1].size(), kFrames * 2);
  for (std::size_t frame = 0; frame < kFrames; ++frame) {
    const bool silent = frame >= kBefore && frame < kBefore + kSilent;
    for (std::size_t i = 0; i < 2; ++i) {
      ASSERT_NEAR(file.values[1][frame * 2 + i], silent ? 0.0 : accValue(frame, i), 2e-3) << frame;
    }
  }
  ASSERT_EQ(std::count(file.annotations.begin(), file.annotations.end(), "S1 no data"), 1);
  const auto index = static_cast<std::size_t>(
      std::find(file.annotations.begin(), file.annotations.end(), "S1 no data") -
      file.annotations.begin());
  EXPECT_EQ(file.onsets[index], 1350000LL);  // ten records in, in units of 100 ns
  EXPECT_EQ(file.durations[index], 135000LL * static_cast<long long>(kSilent));
  std::filesystem::remove(path);
}

// Values are rounded to the nearest digital step: what reads back is each
// value within half a step, and the range's edges exactly.
TEST(EdfWriter, SamplesReadBackWithinHalfADigitalStep) {
  const std::vector<ChannelInfo> channels = {{0, "Sensor 1", "EMG", 9, 1925.926, 26}};
  std::vector<float> emg(26 * 40);
  std::uint64_t state = 1;
  for (std::size_t i = 0; i < emg.size(); ++i) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    emg[i] = static_cast<float>((static_cast<double>(state >> 11) * 0x1.0p-53 * 2.0 - 1.0) * 5.0);
  }
  emg[1] = 25.0f;
  emg[2] = -25.0f;
  for (const bool bdf : {true, false}) {
    SCOPED_TRACE(bdf ? "BDF+" : "EDF+");
    const std::string path = temporaryPath(bdf ? "step.bdf" : "step.edf");
    {
      EdfWriter writer(NewFile(path).fd, path, bdf, channels, RecordingInfo{"Test", "1", {}});
      for (std::size_t frame = 0; frame < 40; ++frame) {
        writer.write(0, frame, frame * 26, emg.data() + frame * 26, 26);
      }
      writer.close();
    }
    const ReadBack file = readBack(path);
    const double step = 50.0 / (bdf ? 16777215.0 : 65535.0);
    ASSERT_EQ(file.values[0].size(), emg.size());
    for (std::size_t i = 0; i < emg.size(); ++i) {
      ASSERT_NEAR(file.values[0][i], emg[i], step / 2 + 1e-12) << i;
    }
    EXPECT_DOUBLE_EQ(file.values[0][1], 25.0);
    EXPECT_DOUBLE_EQ(file.values[0][2], -25.0);
    std::filesystem::remove(path);
  }
}

// A viewer shows the recording field's equipment and additional subfields
// as what was recorded with what: both must survive in full where they fit,
// and a long plug-in name must not push the description out of the field.
TEST(EdfWriter, HeaderNamesThePluginAndWhatWasRecorded) {
  const std::string longName(60, 'N');
  const std::vector<std::pair<RecordingInfo, std::string>> cases = {
      {RecordingInfo{"Orvane Kessra", "1.0.14", {}}, "Orvane Kessra 1.0.14"},
      {RecordingInfo{longName, "2", {}}, longName.substr(0, 25)}};
  for (const auto& [info, equipment] : cases) {
    const std::string path = temporaryPath("fields.bdf");
    {
      EdfWriter writer(NewFile(path).fd, path, true, kChannels, info);
      const std::vector<float> zeros(26);
      writer.write(0, 0, 0, zeros.data(), 26);
      writer.write(1, 0, 0, zeros.data(), 2);
      writer.close();
    }
    edf_hdr_struct header{};
    ASSERT_EQ(edfopen_file_readonly(path.c_str(), &header, EDFLIB_DO_NOT_READ_ANNOTATIONS), 0);
    EXPECT_EQ(std::string(header.equipment), equipment);
    EXPECT_THAT(std::string(header.recording_additional), ::testing::StartsWith("1 sensor, 2 ch"));
    edfclose_file(header.handle);
    std::filesystem::remove(path);
  }
  const auto sixteen = edfRecordingFields(RecordingInfo{"Orvane Kessra", "1.0.14", {}}, 16, 112);
  EXPECT_EQ(sixteen.equipment, "Orvane Kessra 1.0.14");
  EXPECT_EQ(sixteen.additional, "16 sensors, 112 ch");
  const auto shortName = edfRecordingFields(RecordingInfo{"Kessra", "1", {}}, 4, 28);
  EXPECT_EQ(shortName.additional, "bvhost, 4 sensors, 28 channels");
}

// Digital samples are converted by the writer itself, on EDFlib's scale but
// rounded where EDFlib cuts toward zero: no value reads back farther from
// what was recorded than EDFlib's own conversion leaves it.
TEST(EdfWriter, DigitalSamplesAreNoFartherThanEdflibsOwnConversion) {
  const std::vector<ChannelInfo> channels = {{0, "Sensor 1", "EMG", 9, 1925.926, 26},
                                             {0, "Sensor 1", "GYR X", 13, 148.148, 2}};
  std::vector<float> emg(26 * 40);
  std::vector<float> gyr(2 * 40);
  std::uint64_t state = 1;
  auto next = [&state] {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<double>(state >> 11) * 0x1.0p-53 * 2.0 - 1.0;
  };
  for (std::size_t i = 0; i < emg.size(); ++i) {
    emg[i] = static_cast<float>(next() * (i % 4 == 0 ? 0.01 : 26.0));
  }
  for (std::size_t i = 0; i < gyr.size(); ++i) {
    gyr[i] = static_cast<float>(next() * 4100.0);
  }
  emg[1] = 25.0f;
  emg[2] = -25.0f;
  emg[3] = 0.0f;
  for (const bool bdf : {true, false}) {
    SCOPED_TRACE(bdf ? "BDF+" : "EDF+");
    const std::string ours = temporaryPath(bdf ? "ours.bdf" : "ours.edf");
    const std::string theirs = temporaryPath(bdf ? "theirs.bdf" : "theirs.edf");
    {
      EdfWriter writer(NewFile(ours).fd, ours, bdf, channels, RecordingInfo{"Test", "1", {}});
      for (std::size_t frame = 0; frame < 40; ++frame) {
        writer.write(0, frame, frame * 26, emg.data() + frame * 26, 26);
        writer.write(1, frame, frame * 2, gyr.data() + frame * 2, 2);
      }
      writer.close();
    }
    const int handle = edfopen_file_writeonly(
        theirs.c_str(), bdf ? EDFLIB_FILETYPE_BDFPLUS : EDFLIB_FILETYPE_EDFPLUS, 2);
    ASSERT_GE(handle, 0);
    edf_set_datarecord_duration(handle, 1350);
    for (int signal = 0; signal < 2; ++signal) {
      const PhysicalRange range = physicalRange(channels[static_cast<std::size_t>(signal)].unit);
      edf_set_samplefrequency(handle, signal, signal == 0 ? 26 : 2);
      edf_set_physical_maximum(handle, signal, range.maximum);
      edf_set_physical_minimum(handle, signal, range.minimum);
      edf_set_digital_maximum(handle, signal, bdf ? 8388607 : 32767);
      edf_set_digital_minimum(handle, signal, bdf ? -8388608 : -32768);
      edf_set_label(handle, signal, signal == 0 ? "EMG" : "GYR");
    }
    std::vector<double> record(28);
    for (std::size_t frame = 0; frame < 40; ++frame) {
      for (std::size_t i = 0; i < 26; ++i) {
        record[i] = std::clamp(static_cast<double>(emg[frame * 26 + i]), -25.0, 25.0);
      }
      for (std::size_t i = 0; i < 2; ++i) {
        record[26 + i] = std::clamp(static_cast<double>(gyr[frame * 2 + i]), -4000.0, 4000.0);
      }
      ASSERT_EQ(edf_blockwrite_physical_samples(handle, record.data()), 0);
    }
    edfclose_file(handle);
    for (int signal = 0; signal < 2; ++signal) {
      const std::vector<float>& recorded = signal == 0 ? emg : gyr;
      const double limit = signal == 0 ? 25.0 : 4000.0;
      std::vector<std::vector<double>> physical;
      for (const auto& path : {ours, theirs}) {
        physical.push_back(readBack(path).values[static_cast<std::size_t>(signal)]);
      }
      ASSERT_EQ(physical[0].size(), signal == 0 ? 1040u : 80u);
      double oursTotal = 0.0;
      double theirsTotal = 0.0;
      for (std::size_t i = 0; i < recorded.size(); ++i) {
        const double value = std::clamp(static_cast<double>(recorded[i]), -limit, limit);
        const double oursError = std::abs(physical[0][i] - value);
        const double theirsError = std::abs(physical[1][i] - value);
        ASSERT_LE(oursError, theirsError + 1e-9) << "signal " << signal << " sample " << i;
        oursTotal += oursError;
        theirsTotal += theirsError;
      }
      EXPECT_LT(oursTotal, theirsTotal * 0.75) << "signal " << signal;
    }
    std::filesystem::remove(ours);
    std::filesystem::remove(theirs);
  }
}

TEST(EdfWriter, CountsSamplesOutsideThePhysicalRange) {
  const std::string path = temporaryPath("clip.edf");
  EdfWriter writer(NewFile(path).fd, path, false, kChannels, RecordingInfo{"Test", "1", {}});
  std::vector<float> emg(26, 1.0f);
  emg[3] = 30.0f;
  emg[4] = -1000.0f;
  emg[5] = std::numeric_limits<float>::quiet_NaN();
  const float acc[2] = {0.0f, 40.0f};
  writer.write(0, 0, 0, emg.data(), 26);
  writer.write(1, 0, 0, acc, 2);
  writer.close();
  EXPECT_THAT(writer.notes(), Contains(HasSubstr("3 sample(s) of S1 EMG outside")));
  EXPECT_THAT(writer.notes(), Contains(HasSubstr("1 sample(s) of S1 ACC X outside")));
  const ReadBack file = readBack(path);
  EXPECT_NEAR(file.values[0][3], 25.0, 1e-3);
  EXPECT_NEAR(file.values[0][4], -25.0, 1e-3);
  std::filesystem::remove(path);
}

TEST(EdfWriter, RefusesARecordingWithoutAnySignal) {
  const std::vector<ChannelInfo> none = {{0, "S", "TEMP", 12, 0.0, 0}};
  const std::string path = temporaryPath("none.edf");
  EXPECT_THROW(EdfWriter(NewFile(path).fd, path, false, none, RecordingInfo{}), OutputError);
  std::filesystem::remove(path);
}

// Sample i of a channel's k-th block lies at k frames plus i / rate, however
// many samples earlier blocks held; the start and the unit are stated.
TEST(CsvWriter, RowsKeepTheirFramesTimeAndReadBackExactly) {
  const std::string path = temporaryPath("rows.csv");
  const std::vector<ChannelInfo> channels = {{0, "Sensor, \"one\"", "EMG", 9, 2000.0, 27}};
  RecordingInfo info{"Test", "1", std::chrono::system_clock::time_point{}};
  CsvWriter writer(NewFile(path).fd, path, channels, info);
  const float values[2] = {0.1f, -3.4028235e38f};
  writer.write(0, 0, 4000, values, 2);
  writer.write(0, 1, 4002, values, 0);  // a frame with nothing
  writer.write(0, 2, 4002, values, 1);
  writer.close();
  std::ifstream file(path);
  std::string start;
  std::getline(file, start);
  EXPECT_EQ(start.substr(0, 2), "# ");
  EXPECT_THAT(start, HasSubstr("stream start " + isoTime(info.start)));
  std::stringstream text;
  text << file.rdbuf();
  EXPECT_EQ(text.str(),
            "component,channel,unit,sample_index,time_s,value\n"
            "\"Sensor, \"\"one\"\"\",EMG,mV,4000,0.0000000,0.1\n"
            "\"Sensor, \"\"one\"\"\",EMG,mV,4001,0.0005000,-3.4028235e+38\n"
            "\"Sensor, \"\"one\"\"\",EMG,mV,4002,0.0270000,0.1\n");
  EXPECT_EQ(std::strtof("0.1", nullptr), 0.1f);
  EXPECT_EQ(std::strtof("-3.4028235e+38", nullptr), -3.4028235e38f);
  std::filesystem::remove(path);
}

// Every float reads back as itself, from the shortest text that does so, in
// this process and in Python's csv module, and every time_s has printf's
// seven decimals however the time falls between two of them.
TEST(CsvWriter, ValuesReadBackBitForBitAndTimesAsPrintfWritesThem) {
  const std::string path = temporaryPath("floats.csv");
  const std::vector<ChannelInfo> channels = {{0, "S", "EMG", 9, 1925.925925925926, 26}};
  std::vector<float> values = {0.0f,
                               -0.0f,
                               1.0e-45f,  // the smallest subnormal
                               std::numeric_limits<float>::min(),
                               std::numeric_limits<float>::max(),
                               -std::numeric_limits<float>::max(),
                               16777217.0f,
                               0.3f,
                               1.0f / 3.0f,
                               -2.5e-5f,
                               std::numeric_limits<float>::infinity(),
                               -std::numeric_limits<float>::infinity()};
  // Bit patterns spread over every exponent, as a sensor's values are not.
  for (std::uint32_t bits = 0x00012345u; bits < 0x7f800000u; bits += 0x00f0a0b1u) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    values.push_back(value);
    values.push_back(-value);
  }
  {
    CsvWriter writer(NewFile(path).fd, path, channels, RecordingInfo{});
    writer.write(0, 0, 0, values.data(), values.size());
    writer.close();
  }
  std::ifstream file(path);
  std::string line;
  std::getline(file, line);
  std::getline(file, line);
  std::string expected;  // the bit patterns, for the independent reader
  for (std::size_t i = 0; i < values.size(); ++i) {
    ASSERT_TRUE(std::getline(file, line));
    const std::string text = line.substr(line.rfind(',') + 1);
    const float back = std::strtof(text.c_str(), nullptr);
    EXPECT_EQ(std::memcmp(&back, &values[i], sizeof back), 0) << text << " for " << values[i];
    EXPECT_LE(text.size(), 15u) << text;
    std::uint32_t bits;
    std::memcpy(&bits, &values[i], sizeof bits);
    expected += std::to_string(bits) + " ";
  }
  const std::string check =
      "import csv, struct, sys\n"
      "rows = list(csv.reader(open(sys.argv[1])))[2:]\n"
      "want = [int(b) for b in sys.argv[2].split()]\n"
      "got = [struct.unpack('<I', struct.pack('<f', float(r[5])))[0] for r in rows]\n"
      "bad = [(r[5], w) for r, g, w in zip(rows, got, want) if g != w]\n"
      "sys.exit(1 if bad or len(rows) != len(want) else 0)\n";
  EXPECT_EQ(std::system(
                ("/usr/bin/python3 -c \"" + check + "\" " + path + " '" + expected + "'").c_str()),
            0);
  std::filesystem::remove(path);

  char printed[64];
  char formatted[32];
  const auto expectPrintfDigits = [&](double time) {
    std::snprintf(printed, sizeof printed, "%.7f", time);
    EXPECT_EQ(std::string(formatted, formatSeconds(formatted, time)), printed) << time;
  };
  for (std::uint64_t frame : {0ull, 1ull, 73ull, 4444ull, 44444ull, 44800000ull}) {
    for (int i = 0; i < 26; ++i) {
      expectPrintfDigits(static_cast<double>(frame) * 0.0135 + i / channels[0].rate);
    }
  }
  // Right on a halfway point between two seventh decimals, just off one, and
  // times beyond a week.
  for (double time : {0.00000005, 0.00000015, 2.50000005, 1234.56789125, 0.0000000499999,
                      604800.00000005, 1.0e9 + 0.00000005, 1.0e12, 0.0}) {
    expectPrintfDigits(time);
  }
}
