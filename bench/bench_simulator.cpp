// What the simulator spends generating one frame of sixteen sensors, the
// most a station pairs: the signals are made when a frame is polled, so this
// is the cost a host's poll carries on top of the copy.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <vector>

#include "signals.h"

namespace {

void runFrames(benchmark::State& state, const orvane_sim::SignalOptions& options) {
  const auto sensors = static_cast<int>(state.range(0));
  std::vector<orvane_sim::SensorSignals> signals;
  for (int slot = 0; slot < sensors; ++slot) {
    signals.emplace_back(1, slot, options);
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

void BM_SimulatorFrame(benchmark::State& state) { runFrames(state, {}); }

// Both artefacts on, which only test setups ask for: the hum costs a
// rotation a sample, the motion artefact an exponential and a sine a sample
// for a second after each onset.
void BM_SimulatorFrameWithArtefacts(benchmark::State& state) {
  orvane_sim::SignalOptions options;
  options.mainsHz = 50;
  options.motion = true;
  runFrames(state, options);
}

BENCHMARK(BM_SimulatorFrame)->Arg(16);
BENCHMARK(BM_SimulatorFrameWithArtefacts)->Arg(16);

}  // namespace
