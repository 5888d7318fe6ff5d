#include "platform/graphics/gaussian_blur.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <vector>

namespace platform {
namespace {

TEST(GaussianBlurTest, BoxSizesAreTheFilterEffectsOnes) {
  struct Case {
    double sigma;
    int size, reach;
  };
  // d = floor(sigma × 1.87997 + 0.5).
  const Case cases[] = {{0, 0, 0},   {-1, 0, 0},     {NAN, 0, 0},     {0.26, 0, 0},   {0.27, 1, 0},
                        {1, 2, 3},   {1.2, 2, 3},    {1.33, 3, 3},    {2, 4, 6},      {12, 23, 33},
                        {24, 45, 66}, {INFINITY, 0, 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(gaussianBoxSize(c.sigma), c.size) << c.sigma;
    EXPECT_EQ(gaussianReach(c.sigma), c.reach) << c.sigma;
  }
}

// The response to one lit pixel in the middle of a clear line.
std::vector<float> impulse(double sigma, int n = 201) {
  std::vector<float> line(n, 0.0f);
  line[n / 2] = 1.0f;
  gaussianBlur(line.data(), n, 1, 1, sigma, 0);
  return line;
}

TEST(GaussianBlurTest, AnImpulseSpreadsSymmetricallyWithTheDeviationAskedFor) {
  for (double sigma : {1.0, 2.0, 3.0, 6.0, 12.0}) {
    const auto line = impulse(sigma);
    const int mid = int(line.size()) / 2;
    double total = 0, variance = 0;
    for (int i = 0; i < int(line.size()); ++i) {
      total += line[i];
      variance += line[i] * double(i - mid) * double(i - mid);
    }
    EXPECT_NEAR(total, 1.0, 1e-5) << sigma;
    // Three boxes of whole pixels come within a tenth of the Gaussian's spread.
    EXPECT_NEAR(std::sqrt(variance), sigma, sigma * 0.1) << sigma;
    for (int k = 1; k < mid; ++k) EXPECT_NEAR(line[mid - k], line[mid + k], 1e-6) << sigma << " at " << k;
    // Nothing beyond the reach.
    const int reach = gaussianReach(sigma);
    EXPECT_GT(line[mid + reach - 1], 0.0f) << sigma;
    EXPECT_EQ(line[mid + reach + 1], 0.0f) << sigma;
    EXPECT_EQ(line[mid - reach - 1], 0.0f) << sigma;
  }
}

TEST(GaussianBlurTest, FadesAtTheBufferEdgesAndBlursEachAxisByItsOwnDeviation) {
  // A lit 60 × 60 square of two channels on clear: the middle stays lit,
  // an edge's middle keeps the kernel's half and its centre's share, a
  // corner that squared (the axes blur apart).
  constexpr int n = 60;
  std::vector<float> square(n * n * 2, 1.0f);
  gaussianBlur(square.data(), n, n, 2, 4, 4);
  auto at = [&](int x, int y, int c) { return square[(y * n + x) * 2 + c]; };
  EXPECT_NEAR(at(30, 30, 0), 1.0f, 1e-5);
  EXPECT_NEAR(at(30, 30, 1), 1.0f, 1e-5);
  const auto mid = impulse(4);
  const float half = std::accumulate(mid.begin() + 100, mid.end(), 0.0f);
  EXPECT_NEAR(at(0, 30, 0), half, 1e-5);
  EXPECT_NEAR(at(0, 0, 1), half * half, 1e-5);
  EXPECT_GT(half, 0.5f);

  // Blurred along y only, a vertical line stays one pixel wide.
  std::vector<float> line(21 * 21, 0.0f);
  for (int y = 0; y < 21; ++y) line[y * 21 + 10] = 1.0f;
  gaussianBlur(line.data(), 21, 21, 1, 0, 3);
  EXPECT_NEAR(line[10 * 21 + 10], 1.0f, 1e-5);
  EXPECT_EQ(line[10 * 21 + 9], 0.0f);
  gaussianBlur(line.data(), 21, 21, 1, 3, 0);
  EXPECT_GT(line[10 * 21 + 9], 0.05f);
}

}  // namespace
}  // namespace platform
