// What one sensor on a working muscle measures: surface EMG whose amplitude
// follows contractions, and the limb movement those contractions cause, seen
// by the accelerometer and the gyroscope.
#pragma once

#include <cstdint>

#include "random.h"

namespace orvane_sim {

inline constexpr int kEmgPerFrame = 26;
inline constexpr int kImuPerFrame = 2;
inline constexpr int kImuChannels = 6;
inline constexpr int kChannelsPerSensor = 1 + kImuChannels;
inline constexpr int kValuesPerSensorFrame = kEmgPerFrame + kImuChannels * kImuPerFrame;
inline constexpr double kFramePeriodS = 0.0135;
inline constexpr double kEmgRate = kEmgPerFrame / kFramePeriodS;
inline constexpr double kImuRate = kImuPerFrame / kFramePeriodS;

// How the signals are made, beyond the seed; every choice is off or the
// everyday case by default, so recordings stay comparable across versions.
struct SignalOptions {
  bool sustained = false;  // one long contraction per cycle instead of bursts
  int mainsHz = 0;         // 50 or 60 adds power-line hum; 0 adds none
  bool motion = false;     // a low-frequency swing of the baseline at each onset
};

// Bursts of about a second with rest between, repeating with a period and
// phase of the sensor's own; or, sustained, one contraction of half a minute
// in every 40-odd seconds. envelope() is 0 at rest and 1 at full effort.
class ContractionPattern {
 public:
  ContractionPattern(std::uint64_t seed, int slot, bool sustained = false);

  double envelope(double t) const;
  double envelopeSlope(double t) const;  // per second
  double strength(double t) const;       // effort of the contraction around t, in [0, 1)
  // Seconds since the onset of the contraction under way at t, or -1 at rest.
  double timeInContraction(double t) const;
  // Seconds since the latest onset, rest included, and the cycle it wraps at.
  double sinceOnset(double t) const { return phase(t); }
  double period() const { return period_; }
  std::uint64_t contractionTraits(double t) const;  // a hash of the contraction around t

 private:
  std::int64_t burstIndex(double t) const;
  double phase(double t) const;  // seconds since the current cycle's onset

  std::uint64_t traits_;
  double period_;
  double onset_;
  double length_;
};

// The surface-EMG spectrum of Farina and Merletti's two-parameter model,
// P(f) = fh^4 f^2 / ((f^2 + fl^2) (f^2 + fh^2)^2): the power of white noise
// through H(s) = wh^2 s / ((s + wl) (s + wh)^2), so one first-order
// high-pass at fl and two first-order low-passes at fh, each by the bilinear
// transform with its corner prewarped. Three one-pole steps a sample.
class EmgShaper {
 public:
  void tune(double lowHz, double highHz, double sampleRate);
  double step(double input) {
    const double high = hpGain_ * (input - x1_) - hpPole_ * h1_;
    const double low = lpGain_ * (high + h1_) - lpPole_ * l1_;
    const double out = lpGain_ * (low + l1_) - lpPole_ * l2_;
    x1_ = input;
    h1_ = high;
    l1_ = low;
    l2_ = out;
    return out;
  }

 private:
  double hpGain_ = 0, hpPole_ = 0, lpGain_ = 0, lpPole_ = 0;
  double x1_ = 0, h1_ = 0, l1_ = 0, l2_ = 0;
};

class SensorSignals {
 public:
  SensorSignals(std::uint64_t seed, int slot, const SignalOptions& options = {});

  // Writes frame `frame` of this sensor, channel after channel: 26 EMG values
  // in millivolts, then two each of ACC X/Y/Z in g and GYR X/Y/Z in deg/s.
  // The noise runs on from the previous call, so frames are meant to be
  // generated in order; the envelope and motion depend on time alone.
  void generate(std::uint64_t frame, float* out);

  const ContractionPattern& pattern() const { return pattern_; }

 private:
  double emgAmplitudeMv(double t) const;  // RMS the EMG aims for at time t
  // Adds the artefacts the options ask for to the frame's EMG values.
  void addArtefacts(double start, float* emg) const;
  // Writes the frame's IMU values, channel after channel.
  void imuFrame(double start, float* imu);

  SignalOptions options_;
  ContractionPattern pattern_;
  Random noise_;
  EmgShaper shaper_;
  double shaperScale_ = 0;  // the fatigue scale the shaper is tuned to
  double shaperGain_ = 0;   // makes the shaped noise unit RMS at that scale
  double mainsPhase_;       // radians at time 0
  double mainsStepSin_;     // the hum's turn from one EMG sample to the next
  double mainsStepCos_;
  double restTiltRad_;
  double swingRad_;
  double wobbleHz_[2];
  double wobblePhase_[2];
  double wobbleRad_[2];
  double wobbleRateDegS_[2];  // peak sway rate
  double wobbleStepSin_[2];   // the sway's turn from one IMU sample to the next
  double wobbleStepCos_[2];
  double restSin_;
  double restCos_;
};

}  // namespace orvane_sim
