#include "streaming/streaming.h"

#include <cstddef>
#include <cstring>
#include <memory_resource>
#include <thread>

#include "device/device_context.h"
#include "inventory/inventory.h"
#include "orvane_interop.h"

namespace kessra {

namespace {

constexpr std::int32_t kSampleKind = 1;

void waitForDeviceToSettle() {
  const auto deadline = std::chrono::steady_clock::now() + kStartSettleTime;
  // A sleep may end early; sleep again for whatever remains.
  while (std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_until(deadline);
  }
}

// Room on the stack for the blocks of one frame. A frame of sixteen sensors
// of the usual kind holds about 2.4 KB of samples, so delivery normally
// touches no heap; a larger frame continues on the heap.
constexpr std::size_t kFrameArenaBytes = 4096;

// Hands one channel's share of the frame to the host, in storage of its own
// that lives until the frame is delivered. A negative count is delivered as
// an empty block and does not move the sample position.
std::int64_t deliverChannel(const SensorComponent& component, SensorChannel& channel,
                            std::int32_t sampleCount, const float* samples,
                            std::pmr::memory_resource& arena, SampleCallback callback) {
  const std::int64_t n = sampleCount > 0 ? sampleCount : 0;
  float* values = nullptr;
  if (n > 0) {
    const std::size_t bytes = static_cast<std::size_t>(n) * sizeof(float);
    values = static_cast<float*>(arena.allocate(bytes, alignof(float)));
    // memcpy, not assignment: the host gets every bit pattern unchanged,
    // signalling NaNs included.
    std::memcpy(values, samples, bytes);
  }
  const SampleBlock block{channel.samplesDelivered, kSampleKind, values,
                          static_cast<std::uint64_t>(n)};
  callback(component.name.c_str(), channel.name.c_str(), &block);
  channel.samplesDelivered += static_cast<std::uint64_t>(n);
  return n;
}

// One callback per inventory channel, in inventory order; channel j takes
// entry j of the counts and the next values in turn. A frame without arrays
// would be a fault of the interop library; its channels then get empty
// blocks rather than a crash.
void deliverFrame(const OrvaneFrameBuf& frame, SampleCallback callback) {
  alignas(std::max_align_t) std::byte arenaStorage[kFrameArenaBytes];
  std::pmr::monotonic_buffer_resource arena(arenaStorage, sizeof arenaStorage,
                                            std::pmr::new_delete_resource());
  const bool hasSamples = frame.sampleCounts != nullptr && frame.samples != nullptr;
  std::size_t channelPosition = 0;
  std::size_t samplePosition = 0;
  for (SensorComponent& component : inventory()) {
    for (SensorChannel& channel : component.channels) {
      const std::int32_t count = hasSamples ? frame.sampleCounts[channelPosition] : 0;
      const float* values = count > 0 ? frame.samples + samplePosition : nullptr;
      samplePosition += static_cast<std::size_t>(
          deliverChannel(component, channel, count, values, arena, callback));
      ++channelPosition;
    }
  }
}

}  // namespace

Outcome startStreaming() {
  DeviceContext& context = deviceContext();
  if (context.state == BV_STATE_STREAMING) {
    return Outcome::StartWhileStreaming;
  }
  if (context.state == BV_STATE_DISCONNECTED) {
    return Outcome::StartWhileDisconnected;
  }
  for (SensorComponent& component : inventory()) {
    for (SensorChannel& channel : component.channels) {
      channel.samplesDelivered = 0;
    }
  }
  orvane_start();
  waitForDeviceToSettle();
  context.state = BV_STATE_STREAMING;
  return Outcome::Ok;
}

Outcome stopStreaming() {
  DeviceContext& context = deviceContext();
  if (context.state != BV_STATE_STREAMING) {
    return Outcome::StopWhileNotStreaming;
  }
  context.drainRequested = true;
  orvane_stop();
  context.state = BV_STATE_CONNECTED;
  return Outcome::Ok;
}

void readSamples(SampleCallback callback) {
  DeviceContext& context = deviceContext();
  // The flag is read anew after every frame, so a stop during delivery, from
  // the callback or from another thread, turns this call into a drain.
  do {
    OrvaneFrameBuf frame{};
    if (!orvane_pollData(frame)) {
      context.drainRequested = false;
      return;
    }
    deliverFrame(frame, callback);
  } while (context.drainRequested);
}

}  // namespace kessra
