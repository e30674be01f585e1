// A host stopping on one thread while another reads: every frame reaches the
// host exactly once and in order. Meant for ThreadSanitizer as much as for
// the counts.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "stress_support.h"

namespace {

using namespace stress;

TEST(ThreadedStress, StopsFromAnotherThreadWhileReadsRunLoseNoFrame) {
  constexpr int kSensors = 4;
  constexpr int kRounds = 3;
  constexpr int kFramesPerRound = 400;
  scriptSimulatorLikeDevice(kSensors);
  const FrameShape shape = simulatorFrameShape(kSensors);
  expectSuccess(bv_connect(nullptr));
  for (int round = 0; round < kRounds; ++round) {
    sink().expect(shape.size());
    std::vector<std::uint64_t> next;
    expectSuccess(bv_start_streaming());
    queueFrames(kFramesPerRound, shape, next);
    std::atomic<bool> reading{true};
    std::thread reader([&] {
      // Reads until a stop has come and a read found nothing left.
      while (reading.load()) {
        sink().newRead();
        expectSuccess(bv_read_samples(intoSink));
        if (currentState() == BV_STATE_CONNECTED) {
          auto lock = fake::guard();
          if (fake::interop().frames.empty()) reading = false;
        }
      }
    });
    std::thread watcher([&] {
      while (reading.load()) currentState();
    });
    // Stop somewhere in the middle of the round, at a different point each time.
    while (true) {
      auto lock = fake::guard();
      if (fake::interop().frames.size() < static_cast<std::size_t>(kFramesPerRound / (round + 2)))
        break;
    }
    expectSuccess(bv_stop_streaming());
    reader.join();
    watcher.join();
    EXPECT_EQ(sink().faults, 0u);
    EXPECT_EQ(sink().blocks, static_cast<std::uint64_t>(kFramesPerRound) * shape.size() *
                                 static_cast<std::uint64_t>(round + 1));
    EXPECT_EQ(sink().delivered[0], static_cast<std::uint64_t>(kFramesPerRound) * 26);
  }
  expectSuccess(bv_disconnect());
}

}  // namespace
