// The EDF+/BDF+ and CSV writers on made-up streams, read back with EDFlib.
#include <edflib.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <limits>
#include <regex>
#include <sstream>

#include "csv_writer.h"
#include "edf_writer.h"

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

struct ReadBack {
  std::vector<std::string> labels;
  std::vector<std::vector<double>> values;
  std::vector<std::string> annotations;
  std::vector<long long> onsets;  // in EDFlib's units of 100 ns
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

TEST(EdfWriter, KeepsEverySampleWhenFramesRunShortAndPadsTheEnd) {
  const std::string path = temporaryPath("short.bdf");
  {
    EdfWriter writer(path, true, kChannels, RecordingInfo{"Test", "1", 0});
    std::vector<float> emg(26);
    for (std::size_t i = 0; i < emg.size(); ++i) {
      emg[i] = static_cast<float>(i) * 0.01f;
    }
    const float acc[2] = {0.5f, -0.5f};
    writer.write(0, 0, emg.data(), 26);
    writer.write(1, 0, acc, 2);
    // A dropout: the EMG frame comes short, the next one whole.
    writer.write(0, 26, emg.data(), 10);
    writer.write(1, 2, acc, 2);
    writer.write(0, 36, emg.data(), 26);
    writer.write(1, 4, acc, 2);
    writer.close();
    EXPECT_EQ(writer.recordsWritten(), 3u);
    const auto notes = writer.notes();
    EXPECT_THAT(notes, Contains(HasSubstr("left out S1 TEMP")));
    EXPECT_THAT(notes, Contains(HasSubstr("last record of S1 EMG padded with 16 zero sample(s)")));
  }
  const ReadBack file = readBack(path);
  ASSERT_EQ(file.labels, (std::vector<std::string>{"S1 EMG", "S1 ACC X"}));
  ASSERT_EQ(file.values[0].size(), 78u);
  EXPECT_NEAR(file.values[0][25], 0.25, 1e-5);
  EXPECT_NEAR(file.values[0][26 + 9], 0.09, 1e-5);
  EXPECT_NEAR(file.values[0][36], 0.0, 1e-5);
  EXPECT_NEAR(file.values[0][61], 0.25, 1e-5);
  EXPECT_NEAR(file.values[0][62], 0.0, 1e-5);
  ASSERT_EQ(file.values[1].size(), 6u);
  for (std::size_t i = 0; i < 6; ++i) {
    EXPECT_NEAR(file.values[1][i], i % 2 == 0 ? 0.5 : -0.5, 1e-5);
  }
  EXPECT_THAT(file.annotations, Contains("no signal: S1 TEMP"));
  EXPECT_THAT(file.annotations, Contains("S1 EMG: frame of 10"));
  EXPECT_THAT(file.annotations, Contains("padding: zeros in 1 signal(s)"));
  std::filesystem::remove(path);
}

// Records are written in batches, once every channel has a batch; a channel
// far ahead of the others keeps its surplus, in order, however the blocks
// interleave.
TEST(EdfWriter, WritesInBatchesAndKeepsOrderWhenOneChannelRunsAhead) {
  const std::string path = temporaryPath("ahead.bdf");
  {
    EdfWriter writer(path, true, kChannels, RecordingInfo{"Test", "1", 0}, 2);
    std::vector<float> acc(7);
    for (std::size_t i = 0; i < acc.size(); ++i) {
      acc[i] = static_cast<float>(i) * 0.125f;
    }
    writer.write(1, 0, acc.data(), 7);  // three and a half records of ACC X
    std::vector<float> emg(26);
    for (int frame = 0; frame < 4; ++frame) {
      for (std::size_t i = 0; i < emg.size(); ++i) {
        emg[i] = static_cast<float>(frame) + static_cast<float>(i) * 0.01f;
      }
      writer.write(0, static_cast<std::uint64_t>(frame) * 26, emg.data(), 26);
      EXPECT_EQ(writer.recordsWritten(), frame == 0 ? 0u : 2u) << frame;
    }
    const float last = 0.875f;
    writer.write(1, 7, &last, 1);
    EXPECT_EQ(writer.recordsWritten(), 4u);
    writer.close();
    EXPECT_THAT(writer.notes(), Not(Contains(HasSubstr("padded"))));
  }
  const ReadBack file = readBack(path);
  ASSERT_EQ(file.values[0].size(), 104u);
  ASSERT_EQ(file.values[1].size(), 8u);
  for (std::size_t i = 0; i < 8; ++i) {
    EXPECT_NEAR(file.values[1][i], static_cast<double>(i) * 0.125, 1e-5) << i;
  }
  for (std::size_t i = 0; i < 104; ++i) {
    EXPECT_NEAR(file.values[0][i], static_cast<double>(i / 26) + static_cast<double>(i % 26) * 0.01,
                1e-5)
        << i;
  }
  std::filesystem::remove(path);
}

// A sensor silent for many records must not hold back the file nor make the
// other signals' buffers grow: its gap is filled with zeros, annotated where
// it begins, and every sample that did arrive is still there, in order.
TEST(EdfWriter, FillsALongSilenceWithZerosAndKeepsWriting) {
  const std::string path = temporaryPath("silent.bdf");
  constexpr std::size_t kBefore = 10;
  constexpr std::size_t kSilent = 1000;
  constexpr std::size_t kAfter = 10;
  constexpr std::size_t kFrames = kBefore + kSilent + kAfter;
  auto emgValue = [](std::size_t i) { return static_cast<float>(i % 1000) * 0.01f - 5.0f; };
  auto accValue = [](std::size_t i) { return static_cast<float>(i) * 0.125f; };
  std::size_t accSent = 0;
  std::vector<float> emg(26);
  std::vector<float> acc(2);
  {
    EdfWriter writer(path, true, kChannels, RecordingInfo{"Test", "1", 0});
    std::size_t bufferMidway = 0;
    for (std::size_t frame = 0; frame < kFrames; ++frame) {
      for (std::size_t i = 0; i < 26; ++i) {
        emg[i] = emgValue(frame * 26 + i);
      }
      writer.write(0, frame * 26, emg.data(), 26);
      if (frame < kBefore || frame >= kBefore + kSilent) {
        acc = {accValue(accSent), accValue(accSent + 1)};
        writer.write(1, accSent, acc.data(), 2);
        accSent += 2;
      } else {
        writer.write(1, accSent, nullptr, 0);
      }
      if (frame == kBefore + kSilent / 2) {
        EXPECT_GT(writer.recordsWritten(), 0u);
        bufferMidway = writer.largestBuffer();
      }
    }
    EXPECT_GT(writer.recordsWritten(), kSilent / 2);
    EXPECT_EQ(writer.largestBuffer(), bufferMidway);
    writer.close();
    EXPECT_THAT(writer.notes(), Contains(HasSubstr("S1 ACC X padded with")));
    EXPECT_THAT(writer.notes(), Not(Contains(HasSubstr("S1 EMG padded with"))));
  }
  const ReadBack file = readBack(path);
  ASSERT_EQ(file.values[0].size(), kFrames * 26);
  for (std::size_t i = 0; i < file.values[0].size(); ++i) {
    ASSERT_NEAR(file.values[0][i], emgValue(i), 1e-5) << i;
  }
  std::size_t zeros = 0;
  long long onset = -1;
  const std::regex note(R"(^S1 ACC X: (\d+) zero sample\(s\), no data$)");
  for (std::size_t a = 0; a < file.annotations.size(); ++a) {
    std::smatch match;
    if (std::regex_match(file.annotations[a], match, note)) {
      EXPECT_EQ(zeros, 0u) << "one silence, one annotation";
      zeros = std::stoull(match[1]);
      onset = file.onsets[a];
    }
  }
  // The silence less the lag allowed (one second of records), give or take
  // the frame in which the sensor came back.
  EXPECT_GE(zeros, (kSilent - EdfWriter::kMaxLagRecords - 1) * 2);
  EXPECT_LE(zeros, (kSilent - EdfWriter::kMaxLagRecords + 1) * 2);
  EXPECT_EQ(onset, 1350000LL);  // where the sensor fell silent: ten records in
  // The samples before the silence, the zeros, the samples after, then only
  // the padding of the last record.
  const std::vector<double>& accFile = file.values[1];
  ASSERT_GE(accFile.size(), accSent + zeros);
  std::size_t real = 0;
  for (std::size_t i = 0; i < accFile.size(); ++i) {
    const bool inGap = i >= kBefore * 2 && i < kBefore * 2 + zeros;
    if (inGap || real == accSent) {
      ASSERT_NEAR(accFile[i], 0.0, 1e-5) << i;
    } else {
      ASSERT_NEAR(accFile[i], accValue(real), 1e-5) << i;
      ++real;
    }
  }
  EXPECT_EQ(real, accSent);
  std::filesystem::remove(path);
}

// Digital samples are converted by the writer itself; they must be what
// EDFlib's own conversion of the same physical values gives.
TEST(EdfWriter, DigitalSamplesMatchEdflibsOwnConversion) {
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
      EdfWriter writer(ours, bdf, channels, RecordingInfo{"Test", "1", 0}, 3);
      for (std::size_t frame = 0; frame < 40; ++frame) {
        writer.write(0, frame * 26, emg.data() + frame * 26, 26);
        writer.write(1, frame * 2, gyr.data() + frame * 2, 2);
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
      std::vector<std::vector<int>> digital;
      for (const auto& path : {ours, theirs}) {
        edf_hdr_struct header{};
        ASSERT_EQ(edfopen_file_readonly(path.c_str(), &header, EDFLIB_DO_NOT_READ_ANNOTATIONS), 0);
        std::vector<int> values(static_cast<std::size_t>(header.signalparam[signal].smp_in_file));
        edfread_digital_samples(header.handle, signal, static_cast<int>(values.size()),
                                values.data());
        edfclose_file(header.handle);
        digital.push_back(values);
      }
      ASSERT_EQ(digital[0].size(), signal == 0 ? 1040u : 80u);
      EXPECT_EQ(digital[0], digital[1]) << "signal " << signal;
    }
    std::filesystem::remove(ours);
    std::filesystem::remove(theirs);
  }
}

TEST(EdfWriter, CountsSamplesOutsideThePhysicalRange) {
  const std::string path = temporaryPath("clip.edf");
  EdfWriter writer(path, false, kChannels, RecordingInfo{"Test", "1", 0});
  std::vector<float> emg(26, 1.0f);
  emg[3] = 30.0f;
  emg[4] = -1000.0f;
  emg[5] = std::numeric_limits<float>::quiet_NaN();
  const float acc[2] = {0.0f, 40.0f};
  writer.write(0, 0, emg.data(), 26);
  writer.write(1, 0, acc, 2);
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
  EXPECT_THROW(EdfWriter(temporaryPath("none.edf"), false, none, RecordingInfo{}), OutputError);
}

TEST(CsvWriter, WritesOneRowPerSampleThatReadsBackExactly) {
  const std::string path = temporaryPath("rows.csv");
  const std::vector<ChannelInfo> channels = {{0, "Sensor, \"one\"", "EMG", 9, 2000.0, 27}};
  CsvWriter writer(path, channels);
  const float values[2] = {0.1f, -3.4028235e38f};
  writer.write(0, 4000, values, 2);
  writer.close();
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  EXPECT_EQ(text.str(),
            "component,channel,sample_index,time_s,value\n"
            "\"Sensor, \"\"one\"\"\",EMG,4000,2.0000000,0.100000001\n"
            "\"Sensor, \"\"one\"\"\",EMG,4001,2.0005000,-3.40282347e+38\n");
  EXPECT_EQ(std::strtof("0.100000001", nullptr), 0.1f);
  std::filesystem::remove(path);
}
