// The set of blocks handed to hosts: membership through growth and removal,
// and release of what is left when it goes, as when the library unloads.
#include <gtest/gtest.h>

#include <vector>

#include "config/host_blocks.h"
#include "failing_allocator.h"
#include "test_support.h"

namespace {

using kessra::BlockKind;
using kessra::HostBlocks;

TEST(HostBlocks, KnowsExactlyTheBlocksItHoldsThroughGrowthAndRemoval) {
  HostBlocks blocks;
  std::vector<char*> texts;
  for (int i = 0; i < 5000; ++i) {  // beyond the first size, so it grows
    texts.push_back(new char[1 + i % 7]);
    blocks.add(texts.back(), BlockKind::Text, static_cast<std::uint64_t>(i % 7));
  }
  EXPECT_EQ(blocks.size(), texts.size());
  // Every other one goes; removal must keep the others findable.
  for (std::size_t i = 0; i < texts.size(); i += 2) {
    EXPECT_TRUE(blocks.remove(texts[i], BlockKind::Text));
    EXPECT_FALSE(blocks.remove(texts[i], BlockKind::Text)) << "a second time";
    delete[] texts[i];
  }
  for (std::size_t i = 1; i < texts.size(); i += 2) {
    ASSERT_EQ(blocks.lengthOf(texts[i], BlockKind::Text), i % 7) << i;
    EXPECT_FALSE(blocks.lengthOf(texts[i], BlockKind::Settings)) << "another kind";
  }
  char stack[4];
  EXPECT_FALSE(blocks.lengthOf(stack, BlockKind::Text));
  EXPECT_FALSE(blocks.lengthOf(nullptr, BlockKind::Text));
  EXPECT_FALSE(blocks.remove(stack, BlockKind::Text));
}

TEST(HostBlocks, ReleasesWhatNoHostReleasedWhenItGoes) {
  SKIP_WITHOUT_COUNTING_ALLOCATOR();
  const long live = alloc::liveAllocations();
  {
    HostBlocks blocks;
    blocks.add(new char[3], BlockKind::Text, 2);
    blocks.add(new Setting[2](), BlockKind::Settings, 2);
    blocks.add(new ChannelDescription[0](), BlockKind::Channels, 0);
  }
  EXPECT_EQ(alloc::liveAllocations(), live);
}

}  // namespace
