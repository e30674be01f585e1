// Writes one sensor's simulated EMG as CSV, "millivolts,envelope" a line at
// 1925.93 Hz, straight from the signal code rather than through a paced
// capture, so a minute of signal takes a moment. plot_emg_power.py reads it.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "signals.h"

int main(int argc, char** argv) {
  if (argc != 4 ||
      (std::strcmp(argv[1], "bursts") != 0 && std::strcmp(argv[1], "sustained") != 0)) {
    std::fprintf(stderr, "usage: %s bursts|sustained SECONDS SLOT\n", argv[0]);
    return 2;
  }
  orvane_sim::SignalOptions options;
  options.sustained = std::strcmp(argv[1], "sustained") == 0;
  const double seconds = std::atof(argv[2]);
  const int slot = std::atoi(argv[3]);
  orvane_sim::SensorSignals signals(1, slot, options);
  float frame[orvane_sim::kValuesPerSensorFrame];
  for (std::uint64_t f = 0; static_cast<double>(f) * orvane_sim::kFramePeriodS < seconds; ++f) {
    signals.generate(f, frame);
    for (int i = 0; i < orvane_sim::kEmgPerFrame; ++i) {
      const double t =
          static_cast<double>(f) * orvane_sim::kFramePeriodS + i / orvane_sim::kEmgRate;
      std::printf("%.6g,%.4g\n", static_cast<double>(frame[i]), signals.pattern().envelope(t));
    }
  }
  return 0;
}
