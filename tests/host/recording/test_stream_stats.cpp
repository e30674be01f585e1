// The end-of-run bookkeeping: gaps in firstIndex and the expected counts.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "base/units.h"
#include "recording/stream_stats.h"

using namespace bvhost;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

const std::vector<ChannelInfo> kChannels = {{0, "A", "EMG", 9, 2000.0, 27}};

SampleBlock block(std::uint64_t first, std::uint64_t count) {
  static float values[64] = {};
  return {first, 1, count > 0 ? values : nullptr, count};
}

}  // namespace

// An empty block keeps firstIndex contiguous, but it is a frame the sensor
// missed: the summary lists that silence with its start and length.
TEST(StreamStats, AnEmptyBlockIsNoIndexGapButASilence) {
  StreamStats stats(kChannels);
  stats.add(0, 0, block(0, 27));
  stats.add(0, 1, block(27, 0));
  stats.add(0, 2, block(27, 27));
  stats.finish();
  EXPECT_EQ(stats.totalGaps(), 0u);
  EXPECT_EQ(stats.channel(0).received, 54u);
  EXPECT_EQ(stats.channel(0).offSizeBlocks, 1u);
  const std::string summary = stats.summary(0.027, 2);
  EXPECT_THAT(summary, HasSubstr("S1 no data: 0.0135 s for 0.0135 s\n"));
  EXPECT_THAT(summary, Not(HasSubstr("every frame in full")));
  // 2000 Hz for 27 ms: 54 expected, 54 received.
  EXPECT_THAT(summary, HasSubstr("54         54      +0     0"));
}

TEST(StreamStats, SkippedAndRepeatedIndicesAreGaps) {
  StreamStats stats(kChannels);
  stats.add(0, 0, block(0, 27));
  stats.add(0, 1, block(28, 27));
  stats.add(0, 2, block(50, 27));
  EXPECT_EQ(stats.totalGaps(), 2u);
  stats.finish();
  const std::string summary = stats.summary(1.0, 3);
  EXPECT_THAT(summary, HasSubstr("gap in S1 EMG: expected firstIndex 27, got 28"));
  EXPECT_THAT(summary, HasSubstr("2 gap(s) in firstIndex."));
  EXPECT_THAT(summary, HasSubstr("Every sensor delivered every frame in full."));
}

TEST(StreamStats, UnknownChannelsAreReported) {
  StreamStats stats(kChannels);
  stats.noteUnknownBlock("Z", "Q");
  EXPECT_EQ(stats.unknownBlocks(), 1u);
  EXPECT_THAT(stats.summary(1.0, 0), HasSubstr("never described, first Z / Q"));
}

// Past four sensors a row per sensor, and a row for a channel only where
// something is off: a firstIndex gap, or a shortfall beyond two frames.
// A channel a frame short (a stop mid-frame) is not off.
TEST(StreamStats, ManySensorsGetARowEachAndOnlyOffChannelsTheirOwn) {
  std::vector<ChannelInfo> channels;
  for (std::size_t sensor = 0; sensor < 5; ++sensor) {
    const std::string name = "Sensor " + std::to_string(sensor + 1);
    channels.push_back({sensor, name, "EMG", 9, 2000.0, 27});
    channels.push_back({sensor, name, "ACC", 2, 2.0 / 0.0135, 2});
  }
  StreamStats stats(channels);
  for (std::uint64_t frame = 0; frame < 10; ++frame) {
    for (std::size_t c = 0; c < channels.size(); ++c) {
      const std::uint64_t perFrame = channels[c].samplesPerFrame;
      std::uint64_t first = frame * perFrame;
      std::uint64_t count = perFrame;
      if (c == 5 && frame >= 5) {
        ++first;  // S3 ACC skips one index
      }
      if (c == 8 && frame >= 5) {
        count = 0;  // S5 EMG falls silent for half the run
      }
      if (c == 0 && frame == 9) {
        count = 0;  // S1 EMG misses the last frame only
      }
      stats.add(c, frame, block(c == 8 && frame >= 5 ? 5 * perFrame : first, count));
    }
  }
  stats.finish();
  const std::string compact = stats.summary(0.135, 10);
  EXPECT_THAT(compact, HasSubstr("in 10 channels of 5 sensor(s)\n"));
  EXPECT_THAT(compact, ::testing::ContainsRegex("\nS1 +Sensor 1 +2 +263 +290 +-27 +0\n"));
  EXPECT_THAT(compact, ::testing::ContainsRegex("\nS3 +Sensor 3 +2 +290 +290 +\\+0 +1\n"));
  EXPECT_THAT(compact, ::testing::ContainsRegex("\nSensor 3 +ACC .* 1\n"));
  EXPECT_THAT(compact, ::testing::ContainsRegex("\nSensor 5 +EMG .* 135 +270 +-135 +0\n"));
  EXPECT_THAT(compact, Not(::testing::ContainsRegex("Sensor 1 +EMG")));
  EXPECT_THAT(compact, Not(::testing::ContainsRegex("Sensor 5 +ACC")));
  EXPECT_THAT(compact, HasSubstr("S5 no data: 0.0675 s for 0.0675 s\n"));
  EXPECT_THAT(compact, HasSubstr("1 gap(s) in firstIndex.\n"));
  const std::string full = stats.summary(0.135, 10, SummaryDetail::Channels);
  EXPECT_THAT(full, ::testing::ContainsRegex("\nSensor 1 +EMG .* 243 +270 +-27 +0\n"));
  EXPECT_THAT(stats.summary(0.135, 10, SummaryDetail::Sensors), compact);
}

// A sensor's row adds up its channels: gaps in two of its channels are two,
// whichever channel comes last.
TEST(StreamStats, ASensorRowCountsTheGapsOfEveryChannel) {
  const std::vector<ChannelInfo> channels = {{0, "A", "EMG", 9, 2000.0, 27},
                                             {0, "A", "ACC", 2, 2.0 / 0.0135, 2},
                                             {0, "A", "GYR", 13, 2.0 / 0.0135, 2}};
  StreamStats stats(channels);
  for (std::uint64_t frame = 0; frame < 3; ++frame) {
    stats.add(0, frame, block(frame * 27 + (frame == 2 ? 1 : 0), 27));  // a gap
    stats.add(1, frame, block(frame * 2 + (frame > 0 ? 5 : 0), 2));     // a gap
    stats.add(2, frame, block(frame * 2, 2));
  }
  stats.finish();
  EXPECT_THAT(stats.summary(3 * 0.0135, 3, SummaryDetail::Sensors),
              ::testing::ContainsRegex("\nS1 +A +3 +93 +93 +\\+0 +2\n"));
}

// The unit column says what the files say, read at the header's column the
// way a person reads the table: blank where no file names a unit.
TEST(StreamStats, TheUnitColumnWritesTheUnitAsTheFilesDo) {
  const std::vector<ChannelInfo> channels = {{0, "A", "EMG", 9, 2000.0, 27},
                                             {0, "A", "ACC", 4, 2.0 / 0.0135, 2},
                                             {0, "A", "GYR", 13, 2.0 / 0.0135, 2},
                                             {0, "A", "ODD", 16, 2.0 / 0.0135, 2},
                                             {0, "A", "FAR", 99, 2.0 / 0.0135, 2}};
  StreamStats stats(channels);
  stats.add(0, 0, block(0, 27));
  stats.add(1, 0, block(0, 2));
  stats.add(2, 0, block(0, 2));
  stats.add(3, 0, block(0, 2));
  stats.add(4, 0, block(0, 2));
  stats.finish();
  std::istringstream table(stats.summary(0.0135, 1, SummaryDetail::Channels));
  std::map<std::string, std::string> units;
  std::size_t column = std::string::npos;
  for (std::string line; std::getline(table, line);) {
    if (line.rfind("component ", 0) == 0) {
      column = line.find(" unit ") + 1;
    } else if (column != std::string::npos && line.rfind("A ", 0) == 0) {
      std::istringstream fields(line.substr(0, column));
      std::string component;
      std::string channel;
      fields >> component >> channel;
      std::string unit = line.substr(column, 10);
      unit.erase(unit.find_last_not_of(' ') + 1);
      units[channel] = unit;
    }
  }
  const std::map<std::string, std::string> expected = {
      {"EMG", "mV"}, {"ACC", "g"}, {"GYR", "deg/s"}, {"ODD", ""}, {"FAR", ""}};
  EXPECT_EQ(units, expected);
}

// The label `bvhost info` prints: the file's unit and, beside it, the code a
// host author looks up among the header's constants.
TEST(Units, LabelGivesTheFileUnitAndTheCode) {
  EXPECT_EQ(unitLabel(9), "mV (9)");
  EXPECT_EQ(unitLabel(4), "g (4)");
  EXPECT_EQ(unitLabel(13), "deg/s (13)");
  EXPECT_EQ(unitLabel(12), "degC (12)");
  for (const int code : {1, 10, 15, 16, 17, -1}) {
    EXPECT_EQ(unitLabel(code), "(" + std::to_string(code) + ")");
  }
}
