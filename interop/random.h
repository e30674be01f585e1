// Small deterministic random numbers: the same seed must give the same
// signals on every machine, so nothing here depends on the standard
// library's distributions, whose output varies between implementations.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace orvane_sim {

inline std::uint64_t mix(std::uint64_t value) {
  value += 0x9E3779B97F4A7C15ULL;
  value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ULL;
  value = (value ^ (value >> 27)) * 0x94D049BB133111EBULL;
  return value ^ (value >> 31);
}

inline std::uint64_t mix(std::uint64_t a, std::uint64_t b) { return mix(a ^ mix(b)); }

// A uniform value in [0, 1) from a hash, for per-sensor and per-burst traits.
inline double unitFrom(std::uint64_t hash) { return static_cast<double>(hash >> 11) * 0x1.0p-53; }

// The ziggurat method (Marsaglia and Tsang): the normal density covered by
// 256 layers of equal area. Almost every draw lands inside a layer's
// rectangle and costs one hash and a multiplication, where Box-Muller costs a
// logarithm, a square root and a sine and cosine per pair.
class Ziggurat {
 public:
  static constexpr double kTailStart = 3.6541528853610088;  // where the base layer's tail begins
  static constexpr double kLayerArea = 0.00492867323399;    // of each layer, the base with its tail

  static const Ziggurat& tables() {
    static const Ziggurat instance;
    return instance;
  }

  static double density(double x) { return std::exp(-0.5 * x * x); }

  // Layer i spans [0, x[i]) and [f[i], f[i + 1]) in height; x[0] is the
  // width of a rectangle with the base layer's area, tail included.
  double x[257];
  double f[257];

 private:
  Ziggurat() {
    x[0] = kLayerArea / density(kTailStart);
    x[1] = kTailStart;
    for (int i = 1; i < 255; ++i) {
      x[i + 1] = std::sqrt(-2.0 * std::log(kLayerArea / x[i] + density(x[i])));
    }
    x[256] = 0.0;
    for (int i = 0; i < 257; ++i) {
      f[i] = density(x[i]);
    }
  }
};

class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed), ziggurat_(&Ziggurat::tables()) {}

  double uniform() { return unitFrom(next()); }

  // Standard normal. The common case is kept small enough to inline; the
  // rest, about one draw in a hundred, goes out of line.
  double gaussian() {
    // The low byte picks the layer; the top 53 bits, which it does not
    // share, give the position across it.
    const std::uint64_t bits = next();
    const auto layer = static_cast<std::size_t>(bits & 0xFF);
    const double x = (2.0 * unitFrom(bits) - 1.0) * ziggurat_->x[layer];
    if (std::abs(x) < ziggurat_->x[layer + 1]) {
      return x;
    }
    return outsideRectangle(layer, x);
  }

 private:
  std::uint64_t next() {
    state_ += 0x9E3779B97F4A7C15ULL;
    return mix(state_);
  }

  [[gnu::noinline]] double outsideRectangle(std::size_t layer, double x) {
    const Ziggurat& z = *ziggurat_;
    for (;;) {
      if (layer == 0) {
        return tail(x < 0.0);
      }
      if (z.f[layer + 1] + (z.f[layer] - z.f[layer + 1]) * uniform() < Ziggurat::density(x)) {
        return x;
      }
      const std::uint64_t bits = next();
      layer = static_cast<std::size_t>(bits & 0xFF);
      x = (2.0 * unitFrom(bits) - 1.0) * z.x[layer];
      if (std::abs(x) < z.x[layer + 1]) {
        return x;
      }
    }
  }

  // Beyond the base layer's edge, by Marsaglia's method for the normal tail.
  double tail(bool negative) {
    double beyond = 0.0;
    double height = 0.0;
    do {
      // 1 - uniform() lies in (0, 1], so the logarithms stay finite.
      beyond = -std::log(1.0 - uniform()) / Ziggurat::kTailStart;
      height = -std::log(1.0 - uniform());
    } while (2.0 * height < beyond * beyond);
    return negative ? -(Ziggurat::kTailStart + beyond) : Ziggurat::kTailStart + beyond;
  }

  std::uint64_t state_;
  const Ziggurat* ziggurat_;
};

}  // namespace orvane_sim
