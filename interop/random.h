// Small deterministic random numbers: the same seed must give the same
// signals on every machine, so nothing here depends on the standard
// library's distributions, whose output varies between implementations.
#pragma once

#include <cmath>
#include <cstdint>
#include <numbers>

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

class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}

  double uniform() {
    state_ += 0x9E3779B97F4A7C15ULL;
    return unitFrom(mix(state_));
  }

  // Standard normal by Box-Muller, keeping the second value for the next call.
  double gaussian() {
    if (hasSpare_) {
      hasSpare_ = false;
      return spare_;
    }
    const double u = 1.0 - uniform();  // (0, 1], so the logarithm stays finite
    const double v = uniform();
    const double radius = std::sqrt(-2.0 * std::log(u));
    spare_ = radius * std::sin(2.0 * std::numbers::pi * v);
    hasSpare_ = true;
    return radius * std::cos(2.0 * std::numbers::pi * v);
  }

 private:
  std::uint64_t state_;
  double spare_ = 0.0;
  bool hasSpare_ = false;
};

}  // namespace orvane_sim
