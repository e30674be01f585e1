// The end-of-run bookkeeping: gaps in firstIndex and the expected counts.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "stream_stats.h"

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
  stats.add(0, block(0, 27));
  stats.add(0, block(27, 0));
  stats.add(0, block(27, 27));
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
  stats.add(0, block(0, 27));
  stats.add(0, block(28, 27));
  stats.add(0, block(50, 27));
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
