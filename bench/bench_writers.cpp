// bvhost's file writers on a minute of 16 simulated sensors: the CPU that
// CSV and BDF+ take for the same frames. The signals are the simulator's own,
// made before the clock starts, so the figures are the writers' alone.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "files/open_writer.h"
#include "plugin/channel_layout.h"
#include "signals.h"

namespace {

constexpr int kSensors = 16;
constexpr int kMinute = 4445;  // frames of 13.5 ms in 60 s
// kessra_plugin.h's unit codes, as the simulator's channels report them.
constexpr std::int32_t kMillivolts = 9;
constexpr std::int32_t kG = 4;
constexpr std::int32_t kDegreesPerSecond = 13;

struct Minute {
  std::vector<bvhost::ChannelInfo> channels;
  // Frame after frame, each sensor's values in the simulator's order.
  std::vector<float> values;
};

const Minute& minute() {
  static const Minute recorded = [] {
    Minute m;
    const char* imu[] = {"ACC X", "ACC Y", "ACC Z", "GYR X", "GYR Y", "GYR Z"};
    for (int s = 0; s < kSensors; ++s) {
      const std::string name = "Sensor " + std::to_string(s + 1);
      const auto component = static_cast<std::size_t>(s);
      m.channels.push_back(
          {component, name, "EMG", kMillivolts, orvane_sim::kEmgRate, orvane_sim::kEmgPerFrame});
      for (int c = 0; c < orvane_sim::kImuChannels; ++c) {
        m.channels.push_back({component, name, imu[c], c < 3 ? kG : kDegreesPerSecond,
                              orvane_sim::kImuRate, orvane_sim::kImuPerFrame});
      }
    }
    std::vector<orvane_sim::SensorSignals> sensors;
    for (int s = 0; s < kSensors; ++s) {
      sensors.emplace_back(7, s);
    }
    m.values.resize(static_cast<std::size_t>(kMinute) * kSensors *
                    orvane_sim::kValuesPerSensorFrame);
    float* out = m.values.data();
    for (std::uint64_t frame = 0; frame < kMinute; ++frame) {
      for (auto& sensor : sensors) {
        sensor.generate(frame, out);
        out += orvane_sim::kValuesPerSensorFrame;
      }
    }
    return m;
  }();
  return recorded;
}

std::string scratchPath(const char* extension) {
  return (std::filesystem::temp_directory_path() /
          ("bvhost_bench_" + std::to_string(::getpid()) + extension))
      .string();
}

// The minute through one writer, as the recording thread hands it over:
// every channel's block of a frame, frame after frame, a sync a second.
void recordMinute(bvhost::OutputFormat format, const std::string& path) {
  const Minute& m = minute();
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    std::perror(path.c_str());
    std::exit(1);
  }
  const auto writer = bvhost::openWriter(format, fd, path, m.channels, {"bench", "1", {}});
  const float* values = m.values.data();
  std::uint64_t index[kSensors * orvane_sim::kChannelsPerSensor] = {};
  for (std::uint64_t frame = 0; frame < kMinute; ++frame) {
    for (std::size_t c = 0; c < m.channels.size(); ++c) {
      const std::uint64_t count = m.channels[c].samplesPerFrame;
      writer->write(c, frame, index[c], values, count);
      index[c] += count;
      values += count;
    }
    if (frame % 74 == 73) {
      writer->sync();
    }
  }
  writer->close();
  ::close(fd);
}

double threadSeconds() {
  timespec now{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

void writerBenchmark(benchmark::State& state, bvhost::OutputFormat format, const char* extension) {
  minute();
  const std::string path = scratchPath(extension);
  for (auto _ : state) {
    recordMinute(format, path);
    state.PauseTiming();
    std::filesystem::remove(path);
    state.ResumeTiming();
  }
  state.counters["frames"] = benchmark::Counter(static_cast<double>(kMinute) * state.iterations(),
                                                benchmark::Counter::kIsRate);
}

// One iteration is 60 s of 16 sensors: its CPU time is what a one-minute
// recording costs the writer.
void BM_Writer_Csv(benchmark::State& state) {
  writerBenchmark(state, bvhost::OutputFormat::Csv, ".csv");
}
BENCHMARK(BM_Writer_Csv)->Unit(benchmark::kMillisecond);

void BM_Writer_Bdf(benchmark::State& state) {
  writerBenchmark(state, bvhost::OutputFormat::Bdf, ".bdf");
}
BENCHMARK(BM_Writer_Bdf)->Unit(benchmark::kMillisecond);

// Both in one loop, turn about, so a busy shared machine slows each alike and
// the ratio holds where the absolute times do not.
void BM_Writer_CsvVersusBdf(benchmark::State& state) {
  minute();
  const std::string csv = scratchPath(".csv");
  const std::string bdf = scratchPath(".bdf");
  double csvSeconds = 0.0;
  double bdfSeconds = 0.0;
  for (auto _ : state) {
    double start = threadSeconds();
    recordMinute(bvhost::OutputFormat::Csv, csv);
    csvSeconds += threadSeconds() - start;
    start = threadSeconds();
    recordMinute(bvhost::OutputFormat::Bdf, bdf);
    bdfSeconds += threadSeconds() - start;
    state.PauseTiming();
    std::filesystem::remove(csv);
    std::filesystem::remove(bdf);
    state.ResumeTiming();
  }
  const auto iterations = static_cast<double>(state.iterations());
  state.counters["csv_s"] = csvSeconds / iterations;
  state.counters["bdf_s"] = bdfSeconds / iterations;
  state.counters["csv_per_bdf"] = csvSeconds / bdfSeconds;
}
BENCHMARK(BM_Writer_CsvVersusBdf)->Unit(benchmark::kMillisecond);

}  // namespace
