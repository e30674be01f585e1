#include "signals.h"

#include <cmath>
#include <numbers>

namespace orvane_sim {
namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kDegPerRad = 180.0 / std::numbers::pi;
constexpr double kRampS = 0.15;  // how long a contraction takes to build up or ease off

// Surface EMG: a few microvolts at rest, tenths of a millivolt to about one
// millivolt in a contraction, plus the amplifier's own floor.
constexpr double kRestMv = 0.008;
constexpr double kMinBurstMv = 0.3;
constexpr double kMaxBurstMv = 0.9;
constexpr double kAmplifierNoiseMv = 0.002;

// The spectrum's characteristic frequencies in a fresh muscle: with these
// the model's median frequency is about 85 Hz and its mean about 108 Hz,
// inside the 60..130 Hz reported for voluntary contractions.
constexpr double kLowHz = 50.0;
constexpr double kHighHz = 110.0;
// Fatigue slows the muscle fibres' conduction, which compresses the spectrum:
// both frequencies scale by a factor that falls from 1 towards kFatigueFloor
// with time in contraction, and the amplitude grows as the frequencies fall.
// Rest restores the muscle at once, a simplification the bursts hide.
constexpr double kFatigueFloor = 0.5;
constexpr double kFatigueTimeS = 25.0;
constexpr double kFatigueAmplitudeGain = 0.5;  // relative rise per unit fall of the factor
// Retuning the shaper costs two tangents; a step this small moves the median
// frequency by a fraction of a hertz.
constexpr double kRetuneStep = 0.002;

// Dry electrodes pick up a tenth of a millivolt of hum and often more: well
// above the resting EMG, below a contraction, as a notch filter meets it.
constexpr double kMainsRmsMv = 0.1;
// The electrode shifts on the skin as the limb starts to move: a swing of
// the baseline of a few hertz that has died away within a second.
constexpr double kMotionTimeS = 0.12;
constexpr double kMotionSpanS = 1.2;

double fatigueScale(double secondsInContraction) {
  if (secondsInContraction < 0.0) {
    return 1.0;
  }
  return kFatigueFloor + (1.0 - kFatigueFloor) * std::exp(-secondsInContraction / kFatigueTimeS);
}

// The model's power for unit white noise at this rate: (2 / rate) times its
// integral over frequency, pi fh^3 / (4 (fl + fh)^2). The discrete filter
// falls short of it by 1.4 % in RMS unfatigued and 0.4 % at the fatigue
// floor, far less than bursts differ in strength.
double shapedRms(double lowHz, double highHz, double sampleRate) {
  const double variance = std::numbers::pi * highHz * highHz * highHz /
                          (2.0 * sampleRate * (lowHz + highHz) * (lowHz + highHz));
  return std::sqrt(variance);
}

constexpr double kAccNoiseG = 0.004;
constexpr double kGyrNoiseDegS = 0.15;

// Sine and cosine by their series, exact to double rounding within a
// quarter radian: the roll never leaves that, and a library call per sample
// cost more than everything else in it.
void smallAngleSinCos(double x, double& sine, double& cosine) {
  if (std::abs(x) > 0.25) {
    sine = std::sin(x);
    cosine = std::cos(x);
    return;
  }
  const double x2 = x * x;
  sine = x * (1 - x2 / 6 * (1 - x2 / 20 * (1 - x2 / 42 * (1 - x2 / 72 * (1 - x2 / 110)))));
  cosine =
      1 - x2 / 2 * (1 - x2 / 12 * (1 - x2 / 30 * (1 - x2 / 56 * (1 - x2 / 90 * (1 - x2 / 132)))));
}

double smoothStep(double x) { return 0.5 - 0.5 * std::cos(std::numbers::pi * x); }
double smoothStepSlope(double x) { return 0.5 * std::numbers::pi * std::sin(std::numbers::pi * x); }

}  // namespace

ContractionPattern::ContractionPattern(std::uint64_t seed, int slot, bool sustained)
    : traits_(mix(seed, 0xC0117AC7ULL + static_cast<std::uint64_t>(slot))),
      // A cycle of 2.2..2.8 s whose first onset comes within the first second,
      // so any 3.5 s of a capture holds a whole burst and a stretch of rest.
      period_(2.2 + 0.6 * unitFrom(mix(traits_, 1))),
      onset_(0.4 + 0.6 * unitFrom(mix(traits_, 2))),
      length_(0.8 + 0.4 * unitFrom(mix(traits_, 3))) {
  if (sustained) {
    // Long enough for fatigue to show, with rest to recover before the next.
    length_ = 30.0 + 4.0 * unitFrom(mix(traits_, 4));
    period_ = length_ + 10.0;
  }
}

std::int64_t ContractionPattern::burstIndex(double t) const {
  return static_cast<std::int64_t>(std::floor((t - onset_) / period_));
}

double ContractionPattern::phase(double t) const {
  return (t - onset_) - static_cast<double>(burstIndex(t)) * period_;
}

double ContractionPattern::envelope(double t) const {
  const double p = phase(t);
  if (p < kRampS) {
    return smoothStep(p / kRampS);
  }
  if (p < length_ - kRampS) {
    return 1.0;
  }
  if (p < length_) {
    return 1.0 - smoothStep((p - (length_ - kRampS)) / kRampS);
  }
  return 0.0;
}

double ContractionPattern::envelopeSlope(double t) const {
  const double p = phase(t);
  if (p < kRampS) {
    return smoothStepSlope(p / kRampS) / kRampS;
  }
  if (p >= length_ - kRampS && p < length_) {
    return -smoothStepSlope((p - (length_ - kRampS)) / kRampS) / kRampS;
  }
  return 0.0;
}

double ContractionPattern::strength(double t) const { return unitFrom(contractionTraits(t)); }

std::uint64_t ContractionPattern::contractionTraits(double t) const {
  return mix(traits_, static_cast<std::uint64_t>(burstIndex(t)) + 16);
}

double ContractionPattern::timeInContraction(double t) const {
  const double p = phase(t);
  return p < length_ ? p : -1.0;
}

void EmgShaper::tune(double lowHz, double highHz, double sampleRate) {
  const double low = std::tan(std::numbers::pi * lowHz / sampleRate);
  const double high = std::tan(std::numbers::pi * highHz / sampleRate);
  hpGain_ = 1.0 / (1.0 + low);
  hpPole_ = (low - 1.0) / (low + 1.0);
  lpGain_ = high / (1.0 + high);
  lpPole_ = (high - 1.0) / (high + 1.0);
}

SensorSignals::SensorSignals(std::uint64_t seed, int slot, const SignalOptions& options)
    : options_(options),
      pattern_(seed, slot, options.sustained),
      noise_(mix(seed, 0x5EED0000ULL + static_cast<std::uint64_t>(slot))) {
  const std::uint64_t traits = mix(seed, 0x1A7E0000ULL + static_cast<std::uint64_t>(slot));
  mainsPhase_ = kTwoPi * unitFrom(mix(traits, 20));
  mainsStepSin_ = std::sin(kTwoPi * options_.mainsHz / kEmgRate);
  mainsStepCos_ = std::cos(kTwoPi * options_.mainsHz / kEmgRate);
  // Where the sensor sits on the limb decides how gravity falls on its axes.
  restTiltRad_ = (-0.6 + 1.2 * unitFrom(mix(traits, 1)));
  swingRad_ = (25.0 + 20.0 * unitFrom(mix(traits, 2))) / kDegPerRad;
  for (int axis = 0; axis < 2; ++axis) {
    const auto salt = static_cast<std::uint64_t>(axis) * 3;
    wobbleHz_[axis] = 0.1 + 0.25 * unitFrom(mix(traits, 3 + salt));
    wobblePhase_[axis] = kTwoPi * unitFrom(mix(traits, 4 + salt));
    wobbleRad_[axis] = (4.0 + 8.0 * unitFrom(mix(traits, 5 + salt))) / kDegPerRad;
    const double w = kTwoPi * wobbleHz_[axis];
    wobbleRateDegS_[axis] = wobbleRad_[axis] * w * kDegPerRad;
    wobbleStepSin_[axis] = std::sin(w / kImuRate);
    wobbleStepCos_[axis] = std::cos(w / kImuRate);
  }
  restSin_ = std::sin(restTiltRad_);
  restCos_ = std::cos(restTiltRad_);
}

double SensorSignals::emgAmplitudeMv(double t) const {
  const double envelope = pattern_.envelope(t);
  if (envelope == 0.0) {
    return kRestMv;
  }
  const double burstMv = kMinBurstMv + (kMaxBurstMv - kMinBurstMv) * pattern_.strength(t);
  const double fatigue = 1.0 - fatigueScale(pattern_.timeInContraction(t));
  return kRestMv + burstMv * (1.0 + kFatigueAmplitudeGain * fatigue) * envelope;
}

void SensorSignals::addArtefacts(double start, float* emg) const {
  if (options_.mainsHz != 0) {
    // Taken from the time at the frame's start and turned on from there, so
    // the hum is continuous and independent of how frames were polled.
    const double angle = kTwoPi * options_.mainsHz * start + mainsPhase_;
    double sine = std::sin(angle);
    double cosine = std::cos(angle);
    const double peakMv = kMainsRmsMv * std::numbers::sqrt2;
    for (int i = 0; i < kEmgPerFrame; ++i) {
      emg[i] += static_cast<float>(peakMv * sine);
      const double s = sine;
      sine = s * mainsStepCos_ + cosine * mainsStepSin_;
      cosine = cosine * mainsStepCos_ - s * mainsStepSin_;
    }
  }
  if (options_.motion) {
    const double first = pattern_.sinceOnset(start);
    if (first >= kMotionSpanS && first + kFramePeriodS < pattern_.period()) {
      return;
    }
    for (int i = 0; i < kEmgPerFrame; ++i) {
      double since = first + i / kEmgRate;
      if (since >= pattern_.period()) {
        since -= pattern_.period();  // the next onset falls within this frame
      }
      if (since >= kMotionSpanS) {
        continue;
      }
      // Each onset swings its own way, at its own pace and size.
      const std::uint64_t traits = pattern_.contractionTraits(start + i / kEmgRate);
      const double hz = 3.0 + 6.0 * unitFrom(mix(traits, 1));
      const double peakMv =
          (0.2 + 0.6 * unitFrom(mix(traits, 2))) * ((mix(traits, 3) & 1U) != 0 ? 1.0 : -1.0);
      const double rise = since / kMotionTimeS;
      emg[i] +=
          static_cast<float>(peakMv * rise * std::exp(1.0 - rise) * std::sin(kTwoPi * hz * since));
    }
  }
}

void SensorSignals::generate(std::uint64_t frame, float* out) {
  // The amplitude is taken at the frame's edges and drawn straight between:
  // the shortest change, a 0.15 s ramp, spans eleven frames, so the line
  // strays from the curve by half a percent of a burst at most, and the
  // envelope costs two evaluations a frame instead of one a sample. Both
  // edges depend on time alone, so neighbouring frames meet exactly.
  const double start = static_cast<double>(frame) * kFramePeriodS;
  const double startMv = emgAmplitudeMv(start);
  const double endMv = emgAmplitudeMv(static_cast<double>(frame + 1) * kFramePeriodS);
  const double stepMv = (endMv - startMv) / kEmgPerFrame;
  const double scale = fatigueScale(pattern_.timeInContraction(start + 0.5 * kFramePeriodS));
  if (std::abs(scale - shaperScale_) > kRetuneStep || (scale == 1.0 && shaperScale_ != 1.0)) {
    shaper_.tune(kLowHz * scale, kHighHz * scale, kEmgRate);
    shaperGain_ = 1.0 / shapedRms(kLowHz * scale, kHighHz * scale, kEmgRate);
    shaperScale_ = scale;
  }
  for (int i = 0; i < kEmgPerFrame; ++i) {
    const double band = shaper_.step(noise_.gaussian()) * shaperGain_;
    const double mv = startMv + stepMv * i;
    out[i] = static_cast<float>(mv * band + kAmplifierNoiseMv * noise_.gaussian());
  }
  addArtefacts(start, out);
  imuFrame(start, out + kEmgPerFrame);
}

// The contraction swings the limb about the sensor's Y axis, which tilts
// gravity between X and Z; a slow sway about X and Z keeps the gyroscope
// moving between contractions.
void SensorSignals::imuFrame(double start, float* imu) {
  // The sway's phase is taken at the frame's start and turned on by a fixed
  // step for the next sample: a sine and cosine a frame instead of a sample,
  // equal to rounding.
  double sine[2];
  double cosine[2];
  for (int axis = 0; axis < 2; ++axis) {
    const double angle = kTwoPi * wobbleHz_[axis] * start + wobblePhase_[axis];
    sine[axis] = std::sin(angle);
    cosine[axis] = std::cos(angle);
  }
  for (int j = 0; j < kImuPerFrame; ++j) {
    if (j > 0) {
      for (int axis = 0; axis < 2; ++axis) {
        const double s = sine[axis];
        sine[axis] = s * wobbleStepCos_[axis] + cosine[axis] * wobbleStepSin_[axis];
        cosine[axis] = cosine[axis] * wobbleStepCos_[axis] - s * wobbleStepSin_[axis];
      }
    }
    const double t = start + j / kImuRate;
    // At rest, most of the time, the limb sits at its resting tilt, whose
    // sine and cosine are known.
    double sinPitch = restSin_;
    double cosPitch = restCos_;
    double pitchRate = 0.0;
    const double envelope = pattern_.envelope(t);
    if (envelope > 0.0) {
      const double swing = swingRad_ * (0.5 + 0.5 * pattern_.strength(t));
      const double pitch = restTiltRad_ + swing * envelope;
      sinPitch = std::sin(pitch);
      cosPitch = std::cos(pitch);
      pitchRate = swing * pattern_.envelopeSlope(t);
    }
    double sinRoll = 0.0;
    double cosRoll = 1.0;
    smallAngleSinCos(wobbleRad_[0] * sine[0], sinRoll, cosRoll);
    float* acc = imu + j;
    float* gyr = imu + 3 * kImuPerFrame + j;
    acc[0] = static_cast<float>(-sinPitch + kAccNoiseG * noise_.gaussian());
    acc[kImuPerFrame] = static_cast<float>(cosPitch * sinRoll + kAccNoiseG * noise_.gaussian());
    acc[2 * kImuPerFrame] = static_cast<float>(cosPitch * cosRoll + kAccNoiseG * noise_.gaussian());
    gyr[0] = static_cast<float>(wobbleRateDegS_[0] * cosine[0] + kGyrNoiseDegS * noise_.gaussian());
    gyr[kImuPerFrame] =
        static_cast<float>(pitchRate * kDegPerRad + kGyrNoiseDegS * noise_.gaussian());
    gyr[2 * kImuPerFrame] =
        static_cast<float>(wobbleRateDegS_[1] * cosine[1] + kGyrNoiseDegS * noise_.gaussian());
  }
}

}  // namespace orvane_sim
