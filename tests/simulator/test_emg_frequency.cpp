// The EMG's spectrum against what surface EMG shows in the literature, and
// the artefacts a filter should meet. Frames come straight from the signal
// code, so half a minute of signal takes no half minute of waiting.
#include <gmock/gmock.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <numeric>
#include <vector>

#include "signals.h"

namespace orvane_sim {
namespace {

using Spectrum = std::vector<double>;  // power per bin, bin k at k * rate / length

void fft(std::vector<std::complex<double>>& x) {
  const std::size_t n = x.size();
  for (std::size_t i = 1, j = 0; i < n; ++i) {
    std::size_t bit = n >> 1;
    for (; (j & bit) != 0; bit >>= 1) {
      j ^= bit;
    }
    j ^= bit;
    if (i < j) {
      std::swap(x[i], x[j]);
    }
  }
  for (std::size_t len = 2; len <= n; len <<= 1) {
    const auto turn = std::polar(1.0, -2.0 * std::numbers::pi / static_cast<double>(len));
    for (std::size_t i = 0; i < n; i += len) {
      std::complex<double> w = 1.0;
      for (std::size_t k = 0; k < len / 2; ++k, w *= turn) {
        const auto odd = w * x[i + k + len / 2];
        x[i + k + len / 2] = x[i + k] - odd;
        x[i + k] += odd;
      }
    }
  }
}

// Welch's method: Hann-windowed segments overlapping by half, averaged. Only
// segments wholly inside [from, to) count, so a caller can pick out stretches.
Spectrum welch(const std::vector<float>& x, std::size_t from, std::size_t to,
               std::size_t length = 256) {
  Spectrum power(length / 2 + 1, 0.0);
  std::vector<std::complex<double>> segment(length);
  for (std::size_t start = from; start + length <= to; start += length / 2) {
    for (std::size_t i = 0; i < length; ++i) {
      const double hann = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i) /
                                               static_cast<double>(length));
      segment[i] = hann * x[start + i];
    }
    fft(segment);
    for (std::size_t k = 0; k < power.size(); ++k) {
      power[k] += std::norm(segment[k]);
    }
  }
  return power;
}

double hz(std::size_t bin, std::size_t length = 256) {
  return static_cast<double>(bin) * kEmgRate / static_cast<double>(length);
}

// Interpolated within the bin where half the power is reached, since a bin
// of 7.5 Hz is coarser than the drift a fatigue test looks for.
double medianHz(const Spectrum& p) {
  const double half = std::accumulate(p.begin(), p.end(), 0.0) / 2;
  double sum = 0;
  for (std::size_t k = 0; k < p.size(); ++k) {
    if (sum + p[k] >= half) {
      return hz(k) + (half - sum) / p[k] * hz(1) - hz(1) / 2;
    }
    sum += p[k];
  }
  return hz(p.size() - 1);
}

double shareBetween(const Spectrum& p, double lowHz, double highHz) {
  double in = 0;
  for (std::size_t k = 0; k < p.size(); ++k) {
    in += hz(k) >= lowHz && hz(k) <= highHz ? p[k] : 0.0;
  }
  return in / std::accumulate(p.begin(), p.end(), 0.0);
}

struct Recording {
  std::vector<float> emg;
  std::vector<double> envelope;  // per sample
};

Recording recordSensor(int slot, double seconds, const SignalOptions& options = {},
                       std::uint64_t seed = 1) {
  SensorSignals signals(seed, slot, options);
  Recording r;
  float frame[kValuesPerSensorFrame];
  for (std::uint64_t f = 0; static_cast<double>(f) * kFramePeriodS < seconds; ++f) {
    signals.generate(f, frame);
    r.emg.insert(r.emg.end(), frame, frame + kEmgPerFrame);
    for (int i = 0; i < kEmgPerFrame; ++i) {
      r.envelope.push_back(
          signals.pattern().envelope(static_cast<double>(f) * kFramePeriodS + i / kEmgRate));
    }
  }
  return r;
}

// Welch over the stretches at full effort, where the spectrum is the muscle's.
Spectrum contractionSpectrum(const Recording& r) {
  Spectrum total(129, 0.0);
  for (std::size_t i = 0; i < r.envelope.size();) {
    if (r.envelope[i] < 1.0) {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < r.envelope.size() && r.envelope[end] == 1.0) {
      ++end;
    }
    const Spectrum part = welch(r.emg, i, end);
    std::transform(total.begin(), total.end(), part.begin(), total.begin(), std::plus<>());
    i = end;
  }
  return total;
}

TEST(EmgSpectrum, ContractionsCarryTheirPowerWhereSurfaceEmgDoes) {
  for (int slot : {0, 5, 15}) {
    SCOPED_TRACE("slot " + std::to_string(slot));
    const Spectrum p = contractionSpectrum(recordSensor(slot, 20.0));
    EXPECT_THAT(medianHz(p), ::testing::AllOf(::testing::Ge(60.0), ::testing::Le(130.0)));
    EXPECT_GE(shareBetween(p, 20.0, 150.0), 0.5);
    EXPECT_GE(shareBetween(p, 50.0, 150.0), 0.45);
    EXPECT_LE(shareBetween(p, 300.0, kEmgRate), 0.05);
  }
}

TEST(EmgSpectrum, SustainedContractionFatiguesTowardsLowerFrequenciesAndHigherAmplitude) {
  SignalOptions sustained;
  sustained.sustained = true;
  const Recording r = recordSensor(2, 36.0, sustained);
  const auto first = static_cast<std::size_t>(std::find(r.envelope.begin(), r.envelope.end(), 1.0) -
                                              r.envelope.begin());
  const auto last = static_cast<std::size_t>(
      std::find(r.envelope.begin() + static_cast<long>(first), r.envelope.end(), 0.0) -
      r.envelope.begin());
  const auto fiveSeconds = static_cast<std::size_t>(5.0 * kEmgRate);
  ASSERT_GE(last - first, 4 * fiveSeconds) << "a contraction of 20 s or more";

  const Spectrum early = welch(r.emg, first, first + fiveSeconds);
  const Spectrum late = welch(r.emg, last - fiveSeconds - 600, last - 600);  // before easing off
  EXPECT_LE(medianHz(late), 0.9 * medianHz(early));
  EXPECT_GE(medianHz(late), 40.0) << "fatigue lowers the spectrum, it does not collapse it";
  const double earlyPower = std::accumulate(early.begin(), early.end(), 0.0);
  const double latePower = std::accumulate(late.begin(), late.end(), 0.0);
  EXPECT_THAT(std::sqrt(latePower / earlyPower),
              ::testing::AllOf(::testing::Gt(1.03), ::testing::Lt(1.3)));
}

// How far the bins at a frequency stand above the median of their
// neighbourhood: a line stands out several times over, noise does not.
double lineProminence(const std::vector<float>& x, double lineHz) {
  const Spectrum p = welch(x, 0, x.size(), 4096);
  const auto bin = static_cast<std::size_t>(std::lround(lineHz * 4096 / kEmgRate));
  std::vector<double> around;
  for (std::size_t k = bin - 12; k <= bin + 12; ++k) {
    if (k + 3 < bin || k > bin + 3) {
      around.push_back(p[k]);
    }
  }
  std::nth_element(around.begin(), around.begin() + static_cast<long>(around.size() / 2),
                   around.end());
  return *std::max_element(p.begin() + static_cast<long>(bin) - 1,
                           p.begin() + static_cast<long>(bin) + 2) /
         around[around.size() / 2];
}

TEST(EmgArtefacts, MainsHumShowsAsALineAtItsFrequencyOnlyWhenOn) {
  for (int mains : {50, 60}) {
    SignalOptions options;
    options.mainsHz = mains;
    const auto withHum = recordSensor(1, 20.0, options).emg;
    const auto without = recordSensor(1, 20.0).emg;
    EXPECT_GT(lineProminence(withHum, mains), 8.0) << mains;
    EXPECT_LT(lineProminence(without, mains), 3.0) << mains;
    EXPECT_LT(lineProminence(withHum, mains == 50 ? 60 : 50), 3.0) << "hum at the other frequency";
  }
}

// The same noise runs underneath, so the difference is the artefact alone.
TEST(EmgArtefacts, MotionArtefactIsSlowAndComesOnlyAtOnsets) {
  SignalOptions options;
  options.motion = true;
  const Recording with = recordSensor(3, 12.0, options);
  const Recording without = recordSensor(3, 12.0);
  std::vector<float> artefact(with.emg.size());
  std::transform(with.emg.begin(), with.emg.end(), without.emg.begin(), artefact.begin(),
                 std::minus<>());
  SensorSignals probe(1, 3);
  double peak = 0;
  for (std::size_t i = 0; i < artefact.size(); ++i) {
    const double since = probe.pattern().sinceOnset(static_cast<double>(i) / kEmgRate);
    if (since > 1.3) {
      ASSERT_EQ(artefact[i], 0.0f) << "artefact away from an onset, sample " << i;
    }
    peak = std::max(peak, std::abs(static_cast<double>(artefact[i])));
  }
  EXPECT_GT(peak, 0.1) << "artefact too small to test a high-pass against";
  const Spectrum p = welch(artefact, 0, artefact.size(), 1024);
  double below = 0;
  for (std::size_t k = 0; hz(k, 1024) < 20.0; ++k) {
    below += p[k];
  }
  EXPECT_GE(below / std::accumulate(p.begin(), p.end(), 0.0), 0.95);
}

}  // namespace
}  // namespace orvane_sim
