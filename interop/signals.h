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

// Bursts of about a second with rest between, repeating with a period and
// phase of the sensor's own. envelope() is 0 at rest and 1 at full effort.
class ContractionPattern {
 public:
  ContractionPattern(std::uint64_t seed, int slot);

  double envelope(double t) const;
  double envelopeSlope(double t) const;  // per second
  double strength(double t) const;       // effort of the burst around t, in [0, 1)

 private:
  std::int64_t burstIndex(double t) const;
  double phase(double t) const;  // seconds since the current cycle's onset

  std::uint64_t traits_;
  double period_;
  double onset_;
  double length_;
};

// A second-order section in direct form I; state is per instance.
class Biquad {
 public:
  static Biquad highPass(double cornerHz, double sampleRate);
  static Biquad lowPass(double cornerHz, double sampleRate);
  double step(double input);

 private:
  double b0_ = 0, b1_ = 0, b2_ = 0, a1_ = 0, a2_ = 0;
  double x1_ = 0, x2_ = 0, y1_ = 0, y2_ = 0;
};

class SensorSignals {
 public:
  SensorSignals(std::uint64_t seed, int slot);

  // Writes frame `frame` of this sensor, channel after channel: 26 EMG values
  // in millivolts, then two each of ACC X/Y/Z in g and GYR X/Y/Z in deg/s.
  // The noise runs on from the previous call, so frames are meant to be
  // generated in order; the envelope and motion depend on time alone.
  void generate(std::uint64_t frame, float* out);

 private:
  double emgAmplitudeMv(double t) const;  // RMS the EMG aims for at time t
  // Writes the frame's IMU values, channel after channel.
  void imuFrame(double start, float* imu);

  ContractionPattern pattern_;
  Random noise_;
  Biquad highPass_;
  Biquad lowPass_;
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
