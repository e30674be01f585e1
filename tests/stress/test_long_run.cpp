// Long sessions: a hundred thousand frames, and a thousand connect, Scan and
// disconnect cycles, with the live allocations compared at equal points.
#include <gtest/gtest.h>

#include "stress_support.h"

namespace {

using namespace stress;

constexpr int kSensors = 2;
constexpr int kFrames = 100'000;
constexpr int kBatch = 1'000;
constexpr int kCycles = 1'000;

TEST(LongRun, HundredThousandFramesWithoutGrowthOrACorruptedSample) {
  if (!alloc::replacesAllocator()) GTEST_SKIP() << "allocator not replaceable";
  scriptSimulatorLikeDevice(kSensors);
  const FrameShape shape = simulatorFrameShape(kSensors);
  sink().expect(shape.size());
  std::vector<std::uint64_t> next(shape.size(), 0);
  expectSuccess(bv_connect(nullptr));
  expectSuccess(bv_start_streaming());
  const long live = alloc::liveAllocations();
  for (int delivered = 0; delivered < kFrames; delivered += kBatch) {
    queueFrames(kBatch, shape, next);
    if (delivered + kBatch < kFrames) {
      for (int f = 0; f < kBatch; ++f) {
        sink().newRead();
        expectSuccess(bv_read_samples(intoSink));
      }
    } else {
      // The last batch arrives as the drain after a stop.
      expectSuccess(bv_stop_streaming());
      sink().newRead();
      expectSuccess(bv_read_samples(intoSink));
    }
    ASSERT_EQ(alloc::liveAllocations(), live) << "after " << delivered + kBatch << " frames";
    ASSERT_EQ(sink().faults, 0u) << "after " << delivered + kBatch << " frames";
    alloc::Untracked untracked;
    fake::interop().calls.clear();
  }
  EXPECT_EQ(sink().blocks, static_cast<std::uint64_t>(kFrames) * shape.size());
  EXPECT_EQ(sink().samples, static_cast<std::uint64_t>(kFrames) * 38 * kSensors);
  EXPECT_EQ(sink().delivered[0], static_cast<std::uint64_t>(kFrames) * 26);
  EXPECT_TRUE(fake::interop().frames.empty());
  expectSuccess(bv_disconnect());
}

TEST(LongRun, ThousandConnectScanDisconnectCyclesWithoutGrowth) {
  if (!alloc::replacesAllocator()) GTEST_SKIP() << "allocator not replaceable";
  scriptSimulatorLikeDevice(16);
  const char* values[] = {"true", "false", "true"};
  Setting settings[3]{};
  for (int i = 0; i < 3; ++i) settings[i].value.text = StringRef{values[i], 4};
  Configuration host{settings, 3, nullptr, 0};
  // The cache's first arrays go at the first build; spend them before counting.
  Configuration first{};
  bv_get_configuration(&first);
  bv_free_configuration(&first);
  const long live = alloc::liveAllocations();
  for (int cycle = 0; cycle < kCycles; ++cycle) {
    expectSuccess(bv_connect(cycle % 2 == 0 ? nullptr : &host));
    expectSuccess(scanAction().handler(cycle % 3 == 0 ? &host : nullptr));
    Configuration config{};
    expectSuccess(bv_get_configuration(&config));
    ASSERT_EQ(config.componentCount, 16u);
    expectSuccess(bv_free_configuration(&config));
    expectSuccess(bv_disconnect());
    ASSERT_EQ(alloc::liveAllocations(), live) << "after cycle " << cycle;
    alloc::Untracked untracked;
    fake::interop().calls.clear();
  }
}

}  // namespace
