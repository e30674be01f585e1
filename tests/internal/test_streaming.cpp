// Start, stop and sample delivery, with frames queued in the fake device.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "device/device_context.h"
#include "failing_allocator.h"
#include "test_support.h"

namespace {

using support::currentState;
using support::expectFailure;
using support::expectSuccess;
using support::scriptDevice;
using ::testing::ElementsAre;

struct Delivered {
  std::string component;
  std::string channel;
  uint64_t firstIndex;
  int32_t kind;
  bool valuesNull;
  std::vector<uint32_t> bits;

  std::string summary() const {
    return channel + "@" + std::to_string(firstIndex) + "x" + std::to_string(bits.size());
  }
};

std::vector<Delivered> g_delivered;
std::function<void()> g_duringCallback;

void record(const char* component, const char* channel, const SampleBlock* block) {
  Delivered entry{component, channel, block->firstIndex, block->kind, block->values == nullptr, {}};
  for (uint64_t i = 0; i < block->count; ++i) {
    entry.bits.push_back(std::bit_cast<uint32_t>(block->values[i]));
  }
  g_delivered.push_back(std::move(entry));
  if (g_duringCallback) {
    g_duringCallback();
  }
}

std::vector<std::string> summaries() {
  std::vector<std::string> out;
  for (const Delivered& entry : g_delivered) out.push_back(entry.summary());
  return out;
}

fake::Frame frameOf(std::vector<int32_t> counts) {
  fake::Frame frame{std::move(counts), {}};
  float next = 0;
  for (int32_t count : frame.sampleCounts) {
    for (int32_t i = 0; i < count; ++i) frame.samples.push_back(next++);
  }
  return frame;
}

void queueFrames(int frames, std::vector<int32_t> counts) {
  for (int i = 0; i < frames; ++i) fake::interop().frames.push_back(frameOf(counts));
}

// Two components: A with channels ch0.0 and ch0.1, B with ch1.0.
void connectThreeChannels() {
  scriptDevice({2, 1});
  expectSuccess(bv_connect(nullptr));
  fake::interop().calls.clear();
}

bool drainRequested() { return kessra::deviceContext().drainRequested.load(); }

TEST(StartStreaming, IsRefusedWhileDisconnectedAndWhileStreaming) {
  expectFailure(bv_start_streaming(), BV_MESSAGE_START_NOT_CONNECTED);
  EXPECT_TRUE(fake::interop().calls.empty());
  EXPECT_EQ(currentState(), BV_STATE_DISCONNECTED);

  connectThreeChannels();
  expectSuccess(bv_start_streaming());
  expectFailure(bv_start_streaming(), BV_MESSAGE_ALREADY_STREAMING);
  EXPECT_EQ(fake::interop().countCalls("start"), 1u);
  EXPECT_EQ(currentState(), BV_STATE_STREAMING);
}

TEST(StartStreaming, ReturnsNoSoonerThanOneSecondAfterTheDeviceStarted) {
  connectThreeChannels();
  expectSuccess(bv_start_streaming());
  const auto returned = std::chrono::steady_clock::now();
  EXPECT_GE(returned - fake::interop().startReturnedAt, std::chrono::milliseconds(1000));
  EXPECT_EQ(currentState(), BV_STATE_STREAMING);
}

TEST(StopStreaming, IsRefusedOutsideStreamingWithTheFlagUntouched) {
  kessra::deviceContext().drainRequested = true;
  expectFailure(bv_stop_streaming(), BV_MESSAGE_NOT_STREAMING);
  EXPECT_TRUE(drainRequested()) << "refused while disconnected";
  connectThreeChannels();
  kessra::deviceContext().drainRequested = true;
  expectFailure(bv_stop_streaming(), BV_MESSAGE_NOT_STREAMING);
  EXPECT_TRUE(drainRequested());
  kessra::deviceContext().drainRequested = false;
  expectFailure(bv_stop_streaming(), BV_MESSAGE_NOT_STREAMING);
  EXPECT_FALSE(drainRequested());
  EXPECT_EQ(fake::interop().countCalls("stop"), 0u);
  EXPECT_EQ(currentState(), BV_STATE_CONNECTED);
}

TEST(ReadSamples, DeliversOneFramePerCallWhileNotDraining) {
  connectThreeChannels();
  queueFrames(3, {1, 1, 1});
  expectSuccess(bv_read_samples(record));
  EXPECT_EQ(g_delivered.size(), 3u);
  EXPECT_EQ(fake::interop().countCalls("poll"), 1u);
  EXPECT_EQ(fake::interop().frames.size(), 2u);
}

TEST(ReadSamples, DeliversEachChannelInInventoryOrderAndCountsItsSamples) {
  connectThreeChannels();
  fake::interop().frames.push_back(fake::Frame{{3, 0, 2}, {10, 11, 12, 13, 14}});
  fake::interop().frames.push_back(fake::Frame{{3, 0, 2}, {10, 11, 12, 13, 14}});
  expectSuccess(bv_read_samples(record));
  ASSERT_EQ(g_delivered.size(), 3u);
  EXPECT_EQ(g_delivered[0].component, "Orvane Kessra Sensor 0 (mode 0)");
  EXPECT_EQ(g_delivered[0].channel, "ch0.0");
  EXPECT_EQ(g_delivered[0].bits,
            (std::vector<uint32_t>{std::bit_cast<uint32_t>(10.0f), std::bit_cast<uint32_t>(11.0f),
                                   std::bit_cast<uint32_t>(12.0f)}));
  EXPECT_EQ(g_delivered[0].kind, 1);
  EXPECT_TRUE(g_delivered[1].valuesNull) << "an empty block has no values";
  EXPECT_EQ(g_delivered[2].component, "Orvane Kessra Sensor 1 (mode 1)");
  EXPECT_EQ(g_delivered[2].bits, (std::vector<uint32_t>{std::bit_cast<uint32_t>(13.0f),
                                                        std::bit_cast<uint32_t>(14.0f)}));
  expectSuccess(bv_read_samples(record));
  EXPECT_THAT(summaries(), ElementsAre("ch0.0@0x3", "ch0.1@0x0", "ch1.0@0x2", "ch0.0@3x3",
                                       "ch0.1@0x0", "ch1.0@2x2"));
}

TEST(ReadSamples, ComponentWithoutChannelsTakesNoCount) {
  scriptDevice({0, 1});
  expectSuccess(bv_connect(nullptr));
  fake::interop().frames.push_back(fake::Frame{{2, 9}, {1, 2}});
  expectSuccess(bv_read_samples(record));
  ASSERT_EQ(g_delivered.size(), 1u);
  EXPECT_EQ(g_delivered[0].component, "Orvane Kessra Sensor 1 (mode 1)");
  EXPECT_EQ(g_delivered[0].bits.size(), 2u);
}

TEST(ReadSamples, HandsOverEveryBitPatternUnchanged) {
  scriptDevice({1});
  expectSuccess(bv_connect(nullptr));
  const std::vector<uint32_t> patterns = {0x7fa00001u, 0xffc12345u, 0x80000000u, 0x7f800000u,
                                          0x00000001u, 0xdeadbeefu, 0xffffffffu, 0x7fbfffffu};
  fake::Frame frame{{static_cast<int32_t>(patterns.size())}, {}};
  for (uint32_t bits : patterns) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    frame.samples.push_back(value);
  }
  fake::interop().frames.push_back(frame);
  expectSuccess(bv_read_samples(record));
  ASSERT_EQ(g_delivered.size(), 1u);
  EXPECT_EQ(g_delivered[0].bits, patterns);
}

TEST(ReadSamples, NegativeCountIsAnEmptyBlockThatKeepsThePosition) {
  connectThreeChannels();
  fake::interop().frames.push_back(fake::Frame{{1, -5, 1}, {10, 20}});
  expectSuccess(bv_read_samples(record));
  ASSERT_EQ(g_delivered.size(), 3u);
  EXPECT_TRUE(g_delivered[1].valuesNull);
  EXPECT_TRUE(g_delivered[1].bits.empty());
  EXPECT_EQ(g_delivered[2].bits, std::vector<uint32_t>{std::bit_cast<uint32_t>(20.0f)});
  fake::interop().frames.push_back(fake::Frame{{0, 1, 0}, {30}});
  expectSuccess(bv_read_samples(record));
  EXPECT_EQ(g_delivered[4].firstIndex, 0u) << "the negative count moved no counter";
}

TEST(ReadSamples, RefusesANullCallbackWithoutPolling) {
  connectThreeChannels();
  queueFrames(1, {1, 1, 1});
  expectFailure(bv_read_samples(nullptr), BV_MESSAGE_INVALID_ARGUMENT);
  EXPECT_EQ(fake::interop().countCalls("poll"), 0u);
}

TEST(ReadSamples, WhileDisconnectedPollsAndDeliversNothing) {
  queueFrames(1, {4});
  expectSuccess(bv_read_samples(record));
  EXPECT_EQ(fake::interop().countCalls("poll"), 1u);
  EXPECT_TRUE(g_delivered.empty());
}

TEST(ReadSamples, UsualFrameNeedsNoHeapAllocation) {
  SKIP_WITHOUT_COUNTING_ALLOCATOR();
  connectThreeChannels();
  queueFrames(1, {26, 2, 500});  // larger than sixteen sensors' frame
  const long made = alloc::allocationsMade();
  expectSuccess(bv_read_samples([](const char*, const char*, const SampleBlock*) {}));
  EXPECT_EQ(alloc::allocationsMade(), made);
}

// Records nothing but counts, so it allocates nothing itself: an allocation
// that fails during delivery is then the plug-in's.
std::size_t g_blocksSeen = 0;
void countAndFailNextAllocation(const char*, const char*, const SampleBlock*) {
  ++g_blocksSeen;
  alloc::failAllocation(0);
}

TEST(ReadSamples, OutOfMemoryKeepsTheCountersOfChannelsAlreadyDelivered) {
  SKIP_WITHOUT_COUNTING_ALLOCATOR();
  connectThreeChannels();
  // The second block is too large for the frame's stack storage, so it needs
  // the heap; that allocation fails.
  queueFrames(1, {2, 3000, 4});
  const PluginResult result = bv_read_samples(countAndFailNextAllocation);
  const bool failureUsed = !alloc::failureArmed();
  alloc::failAllocation(-1);
  expectFailure(result, BV_MESSAGE_OUT_OF_MEMORY);
  EXPECT_TRUE(failureUsed);
  EXPECT_EQ(g_blocksSeen, 1u);
  queueFrames(1, {2, 3000, 4});
  expectSuccess(bv_read_samples(record));
  EXPECT_THAT(summaries(), ElementsAre("ch0.0@2x2", "ch0.1@0x3000", "ch1.0@0x4"));
  const std::vector<uint32_t>& large = g_delivered[1].bits;
  EXPECT_EQ(large.front(), std::bit_cast<uint32_t>(2.0f));
  EXPECT_EQ(large.back(), std::bit_cast<uint32_t>(3001.0f)) << "every value, in order";
}

TEST(ReadSamples, ExceptionFromTheCallbackStopsAtTheBoundary) {
  connectThreeChannels();
  queueFrames(1, {1, 1, 1});
  g_duringCallback = [] { throw std::runtime_error("host fault"); };
  const PluginResult result = bv_read_samples(record);
  g_duringCallback = nullptr;
  expectFailure(result, BV_MESSAGE_INTERNAL_ERROR);
}

TEST(Drain, StopThenOneReadDeliversEveryQueuedFrame) {
  connectThreeChannels();
  expectSuccess(bv_start_streaming());
  queueFrames(3, {1, 0, 1});
  expectSuccess(bv_stop_streaming());
  EXPECT_EQ(currentState(), BV_STATE_CONNECTED);
  EXPECT_TRUE(drainRequested());
  fake::interop().calls.clear();
  expectSuccess(bv_read_samples(record));
  EXPECT_EQ(g_delivered.size(), 9u);
  EXPECT_EQ(g_delivered.back().firstIndex, 2u);
  EXPECT_EQ(fake::interop().countCalls("poll"), 4u);
  EXPECT_FALSE(drainRequested());
  expectSuccess(bv_read_samples(record));
  EXPECT_EQ(fake::interop().countCalls("poll"), 5u);
}

TEST(Drain, StopFromInsideTheCallbackDrainsTheSameCall) {
  connectThreeChannels();
  expectSuccess(bv_start_streaming());
  queueFrames(3, {1, 1, 1});
  g_duringCallback = [] {
    if (currentState() == BV_STATE_STREAMING) expectSuccess(bv_stop_streaming());
  };
  expectSuccess(bv_read_samples(record));
  g_duringCallback = nullptr;
  EXPECT_EQ(g_delivered.size(), 9u);
  EXPECT_FALSE(drainRequested());
}

// Runs clean under ThreadSanitizer. The two threads share nothing but relaxed
// flags, so the only thing ordering the stop against the read loop is the
// plug-in's own drain flag.
TEST(Drain, StopFromAnotherThreadDuringDeliveryDrainsThatRead) {
  connectThreeChannels();
  expectSuccess(bv_start_streaming());
  queueFrames(3, {1, 1, 1});
  std::atomic<bool> inCallback{false};
  std::atomic<bool> stopped{false};
  std::thread stopper([&] {
    while (!inCallback.load(std::memory_order_relaxed)) std::this_thread::yield();
    bv_stop_streaming();
    stopped.store(true, std::memory_order_relaxed);
  });
  g_duringCallback = [&] {
    inCallback.store(true, std::memory_order_relaxed);
    while (!stopped.load(std::memory_order_relaxed)) std::this_thread::yield();
  };
  expectSuccess(bv_read_samples(record));
  g_duringCallback = nullptr;
  stopper.join();
  EXPECT_EQ(g_delivered.size(), 9u);
  EXPECT_EQ(currentState(), BV_STATE_CONNECTED);
}

TEST(Drain, FlagLeftFromAnUnreadStopDrainsTheNextStreamsFirstRead) {
  connectThreeChannels();
  expectSuccess(bv_start_streaming());
  expectSuccess(bv_stop_streaming());
  queueFrames(2, {1, 1, 1});
  expectSuccess(bv_start_streaming());
  EXPECT_TRUE(drainRequested());
  expectSuccess(bv_read_samples(record));
  EXPECT_EQ(g_delivered.size(), 6u);
}

TEST(Counters, StartAgainFromZeroAtEveryStart) {
  connectThreeChannels();
  queueFrames(1, {2, 2, 2});
  expectSuccess(bv_read_samples(record));
  expectSuccess(bv_start_streaming());
  queueFrames(1, {2, 2, 2});
  expectSuccess(bv_read_samples(record));
  EXPECT_THAT(summaries(), ElementsAre("ch0.0@0x2", "ch0.1@0x2", "ch1.0@0x2", "ch0.0@0x2",
                                       "ch0.1@0x2", "ch1.0@0x2"));
}

TEST(StateMachine, ConnectAndScanAreRefusedWhileStreaming) {
  connectThreeChannels();
  expectSuccess(bv_start_streaming());
  fake::interop().calls.clear();
  ListRecord actions{};
  bv_get_actions(&actions);
  const Action& scan = static_cast<const Action*>(actions.items)[0];
  support::ThreeSettings host("false", "false", "false");
  expectFailure(scan.handler(&host.config), BV_MESSAGE_SCAN_WHILE_STREAMING);
  expectFailure(bv_connect(&host.config), BV_MESSAGE_ALREADY_CONNECTED);
  EXPECT_TRUE(fake::interop().calls.empty());
  EXPECT_EQ(currentState(), BV_STATE_STREAMING);
  EXPECT_THAT(support::settingValues(), ElementsAre("true", "true", "true"));
}

TEST(Disconnect, WhileStreamingStopsBeforeClosingAndLeavesTheDrainFlag) {
  connectThreeChannels();
  expectSuccess(bv_start_streaming());
  fake::interop().calls.clear();
  expectSuccess(bv_disconnect());
  EXPECT_THAT(fake::interop().calls, ElementsAre("stop", "close"));
  EXPECT_EQ(currentState(), BV_STATE_DISCONNECTED);
  EXPECT_TRUE(drainRequested());
}

}  // namespace
