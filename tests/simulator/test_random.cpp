// The simulator's noise source: standard normal, tails included, and the same
// numbers from the same seed.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "random.h"

namespace {

using orvane_sim::Random;

constexpr int kDraws = 1 << 21;

// The share of a standard normal beyond |x|.
double twoSidedTail(double x) { return std::erfc(x / std::sqrt(2.0)); }

TEST(Random, GaussianHasTheMomentsAndTailsOfAStandardNormal) {
  Random random(12345);
  double sum = 0;
  double squares = 0;
  double fourths = 0;
  std::vector<double> bounds = {0.5, 1.0, 2.0, 3.0, orvane_sim::Ziggurat::kTailStart, 4.0};
  std::vector<int> beyond(bounds.size(), 0);
  int negativeBeyondTailStart = 0;
  for (int i = 0; i < kDraws; ++i) {
    const double x = random.gaussian();
    ASSERT_TRUE(std::isfinite(x));
    sum += x;
    squares += x * x;
    fourths += x * x * x * x;
    for (std::size_t b = 0; b < bounds.size(); ++b) {
      beyond[b] += std::abs(x) > bounds[b] ? 1 : 0;
    }
    negativeBeyondTailStart += x < -orvane_sim::Ziggurat::kTailStart ? 1 : 0;
  }
  const double n = kDraws;
  EXPECT_NEAR(sum / n, 0.0, 0.005);
  EXPECT_NEAR(squares / n, 1.0, 0.005);
  EXPECT_NEAR(fourths / n, 3.0, 0.05);
  for (std::size_t b = 0; b < bounds.size(); ++b) {
    const double expected = n * twoSidedTail(bounds[b]);
    // Six standard deviations of a binomial count: a real fault, not chance.
    EXPECT_NEAR(beyond[b], expected, 6.0 * std::sqrt(expected) + 1.0) << "beyond " << bounds[b];
  }
  // The tail is drawn on both sides.
  EXPECT_GT(negativeBeyondTailStart, beyond[4] / 4);
  EXPECT_LT(negativeBeyondTailStart, 3 * beyond[4] / 4);
}

TEST(Random, SameSeedSameNumbersOtherSeedOthers) {
  Random a(7);
  Random b(7);
  Random c(8);
  int differ = 0;
  for (int i = 0; i < 1000; ++i) {
    const double x = a.gaussian();
    EXPECT_EQ(x, b.gaussian());
    differ += x != c.gaussian() ? 1 : 0;
  }
  EXPECT_GT(differ, 990);
}

}  // namespace
