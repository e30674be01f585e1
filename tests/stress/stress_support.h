// Shared by the stress suites: devices scripted into the fake interop, frames
// whose every value says where it belongs, and a sample sink that checks each
// block against that without allocating, so it never disturbs the counts.
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <string>
#include <vector>

#include "failing_allocator.h"
#include "fake_interop.h"
#include "kessra_plugin.h"

namespace stress {

// A channel's share of a frame: how many samples each channel yields.
using FrameShape = std::vector<std::int32_t>;

// The bit pattern of sample `index` of the channel at inventory position
// `position`; any 32 bits are a valid sample, signalling NaNs included.
inline std::uint32_t sampleBits(std::size_t position, std::uint64_t index) {
  return static_cast<std::uint32_t>(position * 0x9e3779b1u) ^
         static_cast<std::uint32_t>(index * 0x85ebca6bu);
}

// Sensors shaped like the simulator's: one EMG channel at 26 samples per
// frame and six IMU channels at 2. Every text is longer than a short-string
// buffer, so each copy the plug-in makes is an allocation of its own.
inline void scriptSimulatorLikeDevice(int sensors) {
  alloc::Untracked untracked;
  fake::Interop& fake = fake::interop();
  const char* channels[] = {"EMG", "ACC X", "ACC Y", "ACC Z", "GYR X", "GYR Y", "GYR Z"};
  const char* units[] = {"MILLIVOLTS", "G", "G", "G", "DEG_S", "DEG_S", "DEG_S"};
  std::string list;
  fake.answers.clear();
  fake.channelsPerSensor.clear();
  fake.sampleRates.clear();
  for (int s = 0; s < sensors; ++s) {
    const std::string key = "BASE-STATION-SENSOR-" + std::to_string(s + 1);
    fake.answer(key, 0, "Kessra wireless sensor number " + std::to_string(s + 1));
    fake.answer(key, 9, "EMG 1926 Hz, IMU 148 Hz, firmware 3.1");
    fake.answer(key, 7, "serial-0000-0000-" + std::to_string(1000 + s));
    fake.answer(key, 8, "percentage-" + std::to_string(50 + s));
    for (int c = 0; c < 7; ++c) {
      const std::string id = key + "+channel-" + std::to_string(c);
      fake.answer(id, 0, std::string(channels[c]) + " of the sensor " + std::to_string(s + 1));
      fake.answer(id, 2, units[c]);
      list += id + "|";
      fake.sampleRates.push_back(c == 0 ? 26 / 0.0135 : 2 / 0.0135);
    }
    fake.channelsPerSensor.push_back(7);
  }
  fake.sensorCount = sensors;
  fake.channelList = list;
  fake.defaultAnswer = std::string();
}

inline FrameShape simulatorFrameShape(int sensors) {
  FrameShape shape;
  for (int s = 0; s < sensors; ++s) {
    shape.insert(shape.end(), {26, 2, 2, 2, 2, 2, 2});
  }
  return shape;
}

// Queues frames whose values continue each channel's stream from `next`,
// which it advances. The fake's queue is its own bookkeeping, outside the
// counts.
inline void queueFrames(int frames, const FrameShape& shape, std::vector<std::uint64_t>& next) {
  alloc::Untracked untracked;
  auto lock = fake::guard();
  next.resize(shape.size(), 0);
  for (int f = 0; f < frames; ++f) {
    fake::Frame frame{shape, {}};
    for (std::size_t position = 0; position < shape.size(); ++position) {
      for (std::int32_t k = 0; k < shape[position]; ++k) {
        frame.samples.push_back(std::bit_cast<float>(sampleBits(position, next[position]++)));
      }
    }
    fake::interop().frames.push_back(std::move(frame));
  }
}

// Checks every block against the pattern: its position in the frame, its
// first index and each value's bits. Holds no allocation of its own.
struct Sink {
  std::size_t channels = 0;  // callbacks per frame
  std::size_t position = 0;  // of the next callback within the frame
  std::uint64_t blocks = 0;
  std::uint64_t samples = 0;
  std::uint64_t faults = 0;
  std::vector<std::uint64_t> delivered;  // per channel, as the host counts them

  void expect(std::size_t channelCount) {
    channels = channelCount;
    delivered.assign(channelCount, 0);
    position = 0;
  }
  // A frame cut short by a failure leaves the next read starting afresh.
  void newRead() { position = 0; }
  void take(const SampleBlock& block) {
    if (channels == 0 || block.kind != 1 || (block.count == 0) != (block.values == nullptr) ||
        block.firstIndex != delivered[position]) {
      ++faults;
    } else {
      for (std::uint64_t k = 0; k < block.count; ++k) {
        if (std::bit_cast<std::uint32_t>(block.values[k]) !=
            sampleBits(position, block.firstIndex + k)) {
          ++faults;
          break;
        }
      }
      delivered[position] += block.count;
    }
    ++blocks;
    samples += block.count;
    position = channels == 0 ? 0 : (position + 1) % channels;
  }
};

inline Sink& sink() {
  static Sink instance;
  return instance;
}

inline void intoSink(const char* component, const char* channel, const SampleBlock* block) {
  if (component == nullptr || channel == nullptr || block == nullptr) {
    ++sink().faults;
    return;
  }
  sink().take(*block);
}

inline void expectSuccess(const PluginResult& result) {
  EXPECT_EQ(result.code, 0) << (result.message ? result.message : "");
  EXPECT_EQ(result.message, nullptr);
}

inline std::int32_t currentState() {
  std::int32_t state = -1;
  bv_get_state(&state);
  return state;
}

inline const Action& scanAction() {
  ListRecord actions{};
  bv_get_actions(&actions);
  return static_cast<const Action*>(actions.items)[0];
}

}  // namespace stress
