// What the simulator spends generating one frame of sixteen sensors, the
// most a station pairs: the signals are made when a frame is polled, so this
// is the cost a host's poll carries on top of the copy.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <vector>

#include "signals.h"

namespace {

void BM_SimulatorFrame(benchmark::State& state) {
  const auto sensors = static_cast<int>(state.range(0));
  std::vector<orvane_sim::SensorSignals> signals;
  for (int slot = 0; slot < sensors; ++slot) {
    signals.emplace_back(1, slot);
  }
  std::array<float, orvane_sim::kValuesPerSensorFrame> out{};
  std::uint64_t frame = 0;
  for (auto _ : state) {
    for (auto& sensor : signals) {
      sensor.generate(frame, out.data());
      benchmark::DoNotOptimize(out.data());
    }
    ++frame;
  }
  state.counters["per_sensor_frame"] = benchmark::Counter(
      static_cast<double>(sensors),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_SimulatorFrame)->Arg(16);

}  // namespace
