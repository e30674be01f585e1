// Every allocation that connect, get_configuration, free, Scan, start, read
// and disconnect make, failed one at a time: each call still returns a
// result, leaks nothing once the host has released what it owns, and leaves
// the plug-in working.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "device/device_context.h"
#include "inventory/inventory.h"
#include "stress_support.h"

namespace {

using namespace stress;

// What the plug-in should make of a scripted device.
struct Device {
  std::function<void()> script;
  std::uint64_t components;
  FrameShape frame;  // one count per inventory channel
};

// Simulator-shaped, every text long enough to need an allocation.
Device simulatorLike(int sensors) {
  return Device{[sensors] { scriptSimulatorLikeDevice(sensors); },
                static_cast<std::uint64_t>(sensors), simulatorFrameShape(sensors)};
}

// Answers that disagree with the list, which has an empty key, an empty
// identifier and text after its last separator: five identifiers and three
// sensor starts, while the metadata claims five sensors and sixteen
// channels; null and long answers; rates no clock could keep.
Device disagreeing() {
  auto script = [] {
    alloc::Untracked untracked;
    fake::Interop& fake = fake::interop();
    fake.answers.clear();
    fake.channelList = "K1+a|K1+b|K2+c|+d||K3";
    fake.sensorCount = 5;
    fake.channelsPerSensor = {2, 9, 1, 4, -3};
    const double inf = std::numeric_limits<double>::infinity();
    fake.sampleRates = {1e300, -5.0,  std::nan(""), inf,  -inf, 0.0,  2000.0, 1e-300,
                        74.0,  148.0, 1925.0,       37.0, 1e19, 1e20, 3.5,    -0.0};
    fake.defaultAnswer = std::nullopt;
    fake.answer("K1+a", 0, std::string(300, 'a'));
    fake.answer("K1", 0, std::string(1000, 'n'));
    fake.answer("K2", 9, std::string(64, 'd'));
    fake.answer("K2+c", 2, "MILLIVOLTS");
    fake.answer("", 8, std::string(40, '9'));
  };
  // Components of 2, 3 and 0 channels; the frame counts a negative entry too.
  return Device{script, 3, {3, 0, 40, -2, 1}};
}

std::size_t channelCount(const Device& device) { return device.frame.size(); }

class AllocationFailure : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!alloc::replacesAllocator()) GTEST_SKIP() << "allocator not replaceable";
    // The zero-length arrays the cache starts with go at the first build;
    // spend them now so the baseline holds only what lasts.
    Configuration first{};
    bv_get_configuration(&first);
    bv_free_configuration(&first);
  }

  void use(const Device& device) {
    device_ = device;
    device_.script();
    sink().expect(channelCount(device_));
    next_.reserve(channelCount(device_));
  }

  // One frame continuing each channel where the host's count stands.
  void queueNext(int frames = 1) {
    next_.assign(sink().delivered.begin(), sink().delivered.end());
    queueFrames(frames, device_.frame, next_);
  }

  static void forgetQueuedFrames() {
    alloc::Untracked untracked;
    auto lock = fake::guard();
    fake::interop().frames.clear();
    fake::interop().calls.clear();
  }

  // A normal session works: from Disconnected a connect (and disconnect at
  // the end), in any case a fresh configuration and one whole frame.
  void expectUsable() {
    const bool connectHere = currentState() == BV_STATE_DISCONNECTED;
    if (connectHere) {
      expectSuccess(bv_connect(nullptr));
      sink().expect(channelCount(device_));
    }
    Configuration config{};
    expectSuccess(bv_get_configuration(&config));
    EXPECT_EQ(config.componentCount, device_.components);
    bv_free_configuration(&config);
    queueNext();
    sink().newRead();
    const std::uint64_t blocks = sink().blocks;
    expectSuccess(bv_read_samples(intoSink));
    EXPECT_EQ(sink().blocks - blocks, channelCount(device_));
    EXPECT_EQ(sink().faults, 0u);
    if (connectHere) {
      expectSuccess(bv_disconnect());
    }
  }

  // Back to Disconnected, and the cache naming nothing.
  static void disconnectAndForgetCache() {
    if (currentState() != BV_STATE_DISCONNECTED) {
      expectSuccess(bv_disconnect());
    }
    Configuration config{};
    bv_get_configuration(&config);
    bv_free_configuration(&config);
    forgetQueuedFrames();
  }

  struct Operation {
    std::function<void()> arrange;  // brings the plug-in where the call needs it
    std::function<PluginResult()> act;
    std::function<void()> afterFailure;  // what must hold after an out-of-memory
    std::function<void()> tidy;          // releases what the host owns
  };

  // Runs the call once to count its allocations, then once for each of them
  // with that one failing. Returns the count.
  long sweep(const Operation& op) {
    const long baseline = alloc::liveAllocations();
    op.arrange();
    const long before = alloc::allocationsMade();
    expectSuccess(op.act());
    const long allocations = alloc::allocationsMade() - before;
    op.tidy();
    EXPECT_EQ(alloc::liveAllocations(), baseline) << "leak without any failure";
    for (long n = 0; n < allocations; ++n) {
      op.arrange();
      alloc::failAllocation(n);
      const PluginResult result = op.act();
      const bool hit = !alloc::failureArmed();
      alloc::failAllocation(-1);
      EXPECT_TRUE(hit) << "allocation " << n << " of " << allocations << " was never made";
      if (result.code != 0) {
        EXPECT_EQ(result.code, 1);
        EXPECT_STREQ(result.message, BV_MESSAGE_OUT_OF_MEMORY) << n;
        op.afterFailure();
      }
      op.tidy();
      EXPECT_EQ(alloc::liveAllocations(), baseline) << "leak after failing allocation " << n;
      expectUsable();
      EXPECT_EQ(alloc::liveAllocations(), baseline) << "leak in the session after " << n;
      if (HasFailure()) {
        ADD_FAILURE() << "first failing allocation: " << n << " of " << allocations;
        break;
      }
    }
    return allocations;
  }

  Operation connectWith(Configuration* config) {
    return Operation{[] {}, [config] { return bv_connect(config); },
                     [] {
                       EXPECT_EQ(currentState(), BV_STATE_DISCONNECTED);
                       EXPECT_TRUE(kessra::inventory().empty());
                       EXPECT_EQ(kessra::deviceContext().metadata.sensorCount, 0);
                       EXPECT_EQ(fake::interop().calls.back(), "close");
                     },
                     disconnectAndForgetCache};
  }

  Operation scanWith(bool connected, Configuration* config) {
    return Operation{[this, connected] {
                       if (connected) expectSuccess(bv_connect(nullptr));
                       inventoryBefore_ = kessra::inventory().data();
                       sensorsBefore_ = kessra::deviceContext().metadata.sensorCount;
                       stateBefore_ = currentState();
                     },
                     [config] { return scanAction().handler(config); },
                     [this] {
                       EXPECT_EQ(currentState(), stateBefore_);
                       EXPECT_EQ(kessra::inventory().data(), inventoryBefore_);
                       EXPECT_EQ(kessra::deviceContext().metadata.sensorCount, sensorsBefore_);
                     },
                     [connected] {
                       // A scan while disconnected leaves an inventory that
                       // only a connect and disconnect take away again.
                       if (!connected) expectSuccess(bv_connect(nullptr));
                       disconnectAndForgetCache();
                     }};
  }

  Device device_;
  std::vector<std::uint64_t> next_;
  const kessra::SensorComponent* inventoryBefore_ = nullptr;
  std::int32_t sensorsBefore_ = 0;
  std::int32_t stateBefore_ = 0;
};

TEST_F(AllocationFailure, ConnectOnASimulatorLikeDevice) {
  use(simulatorLike(4));
  EXPECT_GT(sweep(connectWith(nullptr)), 100);
}

TEST_F(AllocationFailure, ConnectWithTriggerSettingsOnADisagreeingDevice) {
  use(disagreeing());
  const char* values[] = {"true", "false", "true"};
  Setting settings[3]{};
  for (int i = 0; i < 3; ++i) settings[i].value.text = StringRef{values[i], 4};
  Configuration host{settings, 3, nullptr, 0};
  EXPECT_GT(sweep(connectWith(&host)), 10);
}

TEST_F(AllocationFailure, ScanWhileConnectedAndWhileDisconnected) {
  use(simulatorLike(3));
  EXPECT_GT(sweep(scanWith(true, nullptr)), 50);
  use(disagreeing());
  EXPECT_GT(sweep(scanWith(false, nullptr)), 10);
}

TEST_F(AllocationFailure, FreshConfigurationLeavesRecordAndCacheAsTheyWere) {
  for (const Device& device : {simulatorLike(4), disagreeing()}) {
    use(device);
    expectSuccess(bv_connect(nullptr));
    Configuration cached{};
    Configuration config{};
    const Configuration untouched{nullptr, 7, nullptr, 5};
    const Operation get{[&] {
                          expectSuccess(bv_get_configuration(&cached));
                          config = untouched;
                        },
                        [&] { return bv_get_configuration(&config); },
                        [&] {
                          EXPECT_EQ(config.settings, nullptr);
                          EXPECT_EQ(config.settingCount, 7u);
                          EXPECT_EQ(config.componentCount, 5u);
                          Configuration copy{nullptr, 3, nullptr, 0};
                          bv_get_configuration(&copy);
                          EXPECT_EQ(copy.settings, cached.settings) << "the cache moved";
                        },
                        [&] {
                          if (config.settings != nullptr) bv_free_configuration(&config);
                          bv_free_configuration(&cached);
                        }};
    EXPECT_GT(sweep(get), 40);
    disconnectAndForgetCache();
  }
}

// A frame whose blocks outgrow the read's stack storage: one sensor shaped
// like the simulator's, with thousands of samples on two of its channels.
Device largeFrames() {
  return Device{[] { scriptSimulatorLikeDevice(1); }, 1, {3000, 2, 2500, 2, 2, 2, 2}};
}

TEST_F(AllocationFailure, ReadOfOneFrameAndOfADrain) {
  for (const Device& device : {simulatorLike(4), disagreeing(), largeFrames()}) {
    use(device);
    expectSuccess(bv_connect(nullptr));
    std::int64_t samples = 0;
    for (std::int32_t count : device.frame) samples += count > 0 ? count : 0;
    const bool needsHeap = samples * 4 > 4096;
    for (const int frames : {1, 3}) {
      // A read does not look at the state, so it is swept while connected,
      // with the drain asked for directly rather than by a stop.
      const Operation read{[&] {
                             queueNext(frames);
                             kessra::deviceContext().drainRequested = frames > 1;
                             sink().newRead();
                           },
                           [] { return bv_read_samples(intoSink); },
                           [] { EXPECT_EQ(sink().faults, 0u) << "a block before the failure"; },
                           [] {
                             forgetQueuedFrames();
                             kessra::deviceContext().drainRequested = false;
                           }};
      const long allocations = sweep(read);
      if (needsHeap) {
        EXPECT_GE(allocations, frames) << "each frame continues on the heap";
      } else {
        EXPECT_EQ(allocations, 0) << "a usual frame is delivered from the stack";
      }
    }
    disconnectAndForgetCache();
  }
}

// The calls that need no allocation at all, each asserted once: the
// copy-back, the release, start, stop and disconnect.
TEST_F(AllocationFailure, CopyBackFreeStartStopAndDisconnectAllocateNothing) {
  use(simulatorLike(2));
  expectSuccess(bv_connect(nullptr));
  Configuration built{};
  expectSuccess(bv_get_configuration(&built));
  auto allocationsOf = [](auto&& call) {
    const long before = alloc::allocationsMade();
    call();
    return alloc::allocationsMade() - before;
  };
  Configuration copy{nullptr, 3, nullptr, 0};
  EXPECT_EQ(allocationsOf([&] { expectSuccess(bv_get_configuration(&copy)); }), 0);
  EXPECT_EQ(copy.settings, built.settings);
  const long live = alloc::liveAllocations();
  EXPECT_EQ(allocationsOf([&] { expectSuccess(bv_free_configuration(&built)); }), 0);
  EXPECT_LT(alloc::liveAllocations(), live);
  EXPECT_EQ(allocationsOf([] { expectSuccess(bv_start_streaming()); }), 0);
  EXPECT_EQ(allocationsOf([] { expectSuccess(bv_stop_streaming()); }), 0);
  EXPECT_EQ(allocationsOf([] { expectSuccess(bv_start_streaming()); }), 0);
  EXPECT_EQ(allocationsOf([] { expectSuccess(bv_disconnect()); }), 0) << "while streaming";
  expectSuccess(bv_connect(nullptr));
  EXPECT_EQ(allocationsOf([] { expectSuccess(bv_disconnect()); }), 0) << "while connected";
  // An allocation failure armed across them is never reached.
  expectSuccess(bv_connect(nullptr));
  alloc::failAllocation(0);
  expectSuccess(bv_start_streaming());
  expectSuccess(bv_stop_streaming());
  expectSuccess(bv_disconnect());
  EXPECT_TRUE(alloc::failureArmed());
  alloc::failAllocation(-1);
  expectUsable();
}

}  // namespace
