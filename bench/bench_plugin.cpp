// What the plug-in costs on its hot paths: the read of one frame of sixteen
// simulator-shaped sensors beside a floor that makes the same callbacks over
// the same frame memory without the plug-in; the inventory build as the
// channel list grows; and a configuration fetched and released.
#include <benchmark/benchmark.h>

#include <bit>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench_interop.h"
#include "device/device_context.h"
#include "inventory/inventory.h"
#include "kessra_plugin.h"

namespace {

constexpr int kSensors = 16;

// A host that reads every value it is handed, as any host that keeps them
// must; the same sink serves the plug-in and the floor.
std::uint64_t g_checksum = 0;

void sink(const char* component, const char* channel, const SampleBlock* block) {
  std::uint64_t sum = block->firstIndex + static_cast<std::uint64_t>(component[0] + channel[0]);
  for (std::uint64_t k = 0; k < block->count; ++k) {
    sum += std::bit_cast<std::uint32_t>(block->values[k]);
  }
  g_checksum += sum;
}

void connectTo(void (*describe)(int), int size) {
  bv_disconnect();
  describe(size);
  bv_connect(nullptr);
}

// The floor: for each inventory channel, one block straight over the frame's
// own memory and one callback, with no copy, no allocation and no poll.
struct Floor {
  struct Channel {
    const char* component;
    const char* channel;
    std::uint64_t delivered = 0;
  };
  std::vector<Channel> channels;

  Floor() {
    for (const auto& component : kessra::inventory()) {
      for (const auto& channel : component.channels) {
        channels.push_back({component.name.c_str(), channel.name.c_str()});
      }
    }
  }

  // With `copy`, each block first goes into a buffer of its own that lives
  // for the callback only, which is what the plug-in does by design; the
  // difference to the bare floor is the price of that buffer.
  template <bool copy>
  void deliver(const std::int32_t* counts, const float* samples) {
    std::size_t position = 0;
    for (std::size_t j = 0; j < channels.size(); ++j) {
      const std::uint64_t n = counts[j] > 0 ? static_cast<std::uint64_t>(counts[j]) : 0;
      const float* values = n > 0 ? samples + position : nullptr;
      std::unique_ptr<float[]> buffer;
      if (copy && n > 0) {
        buffer = std::make_unique_for_overwrite<float[]>(n);
        std::memcpy(buffer.get(), values, n * sizeof(float));
        values = buffer.get();
      }
      const SampleBlock block{channels[j].delivered, 1, values, n};
      sink(channels[j].component, channels[j].channel, &block);
      channels[j].delivered += n;
      position += n;
    }
  }
};

std::size_t channelCount() {
  std::size_t channels = 0;
  for (const auto& component : kessra::inventory()) channels += component.channels.size();
  return channels;
}

void setBlockCounters(benchmark::State& state, std::size_t blocks) {
  state.counters["blocks"] = static_cast<double>(blocks);
  state.counters["per_block"] = benchmark::Counter(
      static_cast<double>(blocks),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_ReadFrame_Plugin(benchmark::State& state) {
  connectTo(benchdev::describeSimulatorLike, static_cast<int>(state.range(0)));
  for (auto _ : state) {
    bv_read_samples(sink);
  }
  benchmark::DoNotOptimize(g_checksum);
  setBlockCounters(state, channelCount());
}

void BM_ReadFrame_Floor(benchmark::State& state) {
  connectTo(benchdev::describeSimulatorLike, static_cast<int>(state.range(0)));
  Floor floor;
  const benchdev::Station& station = benchdev::station();
  for (auto _ : state) {
    floor.deliver<false>(station.sampleCounts.data(), station.samples.data());
  }
  benchmark::DoNotOptimize(g_checksum);
  setBlockCounters(state, floor.channels.size());
}

// All three in one loop, alternating batches, so that the ratios compare
// them under the same conditions: plugin_ns, floor_ns and copy_floor_ns per
// frame, x_floor and x_copy_floor.
void BM_ReadFrame_VersusFloor(benchmark::State& state) {
  connectTo(benchdev::describeSimulatorLike, kSensors);
  Floor floor;
  const benchdev::Station& station = benchdev::station();
  constexpr int kBatch = 64;
  using Clock = std::chrono::steady_clock;
  Clock::duration plugin{};
  Clock::duration bare{};
  Clock::duration copying{};
  std::int64_t frames = 0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    for (int i = 0; i < kBatch; ++i) bv_read_samples(sink);
    const auto t1 = Clock::now();
    for (int i = 0; i < kBatch; ++i) {
      floor.deliver<false>(station.sampleCounts.data(), station.samples.data());
    }
    const auto t2 = Clock::now();
    for (int i = 0; i < kBatch; ++i) {
      floor.deliver<true>(station.sampleCounts.data(), station.samples.data());
    }
    const auto t3 = Clock::now();
    plugin += t1 - t0;
    bare += t2 - t1;
    copying += t3 - t2;
    frames += kBatch;
  }
  benchmark::DoNotOptimize(g_checksum);
  auto perFrame = [frames](Clock::duration total) {
    return std::chrono::duration<double, std::nano>(total).count() / static_cast<double>(frames);
  };
  const double pluginNs = perFrame(plugin);
  const double floorNs = perFrame(bare);
  const double copyFloorNs = perFrame(copying);
  state.counters["plugin_ns"] = pluginNs;
  state.counters["floor_ns"] = floorNs;
  state.counters["x_floor"] = pluginNs / floorNs;
  state.counters["copy_floor_ns"] = copyFloorNs;
  state.counters["x_copy_floor"] = pluginNs / copyFloorNs;
  state.counters["plugin_ns_per_block"] = pluginNs / static_cast<double>(floor.channels.size());
  state.counters["frame_budget_pct"] = pluginNs / 13'500'000.0 * 100.0;  // of 13.5 ms
}

// One block per read: a single channel of 26 samples, the per-call cost.
void BM_ReadBlock_Plugin(benchmark::State& state) {
  bv_disconnect();
  benchdev::describeSimulatorLike(1);
  benchdev::station().channelsPerSensor = {1};
  bv_connect(nullptr);
  for (auto _ : state) {
    bv_read_samples(sink);
  }
  benchmark::DoNotOptimize(g_checksum);
  setBlockCounters(state, channelCount());
}

void BM_BuildInventory(benchmark::State& state) {
  bv_disconnect();
  const int channels = static_cast<int>(state.range(0));
  benchdev::describeChannels(channels);
  const benchdev::Station& station = benchdev::station();
  OrvaneMetadataBuf& metadata = kessra::deviceContext().metadata;
  metadata = OrvaneMetadataBuf{0, static_cast<std::int32_t>(station.channelsPerSensor.size()),
                               const_cast<std::int32_t*>(station.channelsPerSensor.data()),
                               const_cast<double*>(station.sampleRates.data())};
  for (auto _ : state) {
    // The list is copied on every build, as connect and Scan copy it.
    kessra::buildInventory(station.channelList);
  }
  state.SetComplexityN(channels);
  state.counters["channels"] = channels;
  state.counters["per_channel"] = benchmark::Counter(
      channels, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  kessra::clearInventory();
  metadata = OrvaneMetadataBuf{};
}

void BM_GetAndFreeConfiguration(benchmark::State& state) {
  connectTo(benchdev::describeSimulatorLike, static_cast<int>(state.range(0)));
  for (auto _ : state) {
    Configuration config{};
    bv_get_configuration(&config);
    benchmark::DoNotOptimize(config.components);
    bv_free_configuration(&config);
  }
}

void BM_ConnectAndDisconnect(benchmark::State& state) {
  bv_disconnect();
  benchdev::describeSimulatorLike(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    bv_connect(nullptr);
    bv_disconnect();
  }
}

BENCHMARK(BM_ReadFrame_Plugin)->Arg(kSensors);
BENCHMARK(BM_ReadFrame_Floor)->Arg(kSensors);
BENCHMARK(BM_ReadFrame_VersusFloor);
BENCHMARK(BM_ReadBlock_Plugin);
BENCHMARK(BM_BuildInventory)->Arg(16)->Arg(256)->Arg(4096)->Complexity(benchmark::oN);
BENCHMARK(BM_GetAndFreeConfiguration)->Arg(kSensors);
BENCHMARK(BM_ConnectAndDisconnect)->Arg(kSensors);

}  // namespace

BENCHMARK_MAIN();
