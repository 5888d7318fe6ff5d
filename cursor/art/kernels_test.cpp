// Tests of the distance-field and morph kernels.
//
// Two groups:
// - Behaviour: the edge cases of the definition and of the mended faults,
//   checked against hand-computed values.
// - Equivalence: the fast paths of kernels.cpp against the plain scalar loops
//   of kernels_reference.hpp, on many random inputs (alpha patterns around the
//   127/128 threshold, fields with NaN, infinities and -0.0, odd sizes), for
//   every instruction-set path this processor can run; outputs are compared
//   byte for byte.
#include "cursor/art/kernels.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "cursor/art/kernels_reference.hpp"

namespace vurle {
namespace {

using kernels_detail::KernelPath;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// Runs `body` once for every path this processor supports, with that path in
// force, and restores the path in force before.
template <class Body>
void forEachPath(Body&& body) {
  for (KernelPath path : {KernelPath::baseline, KernelPath::avx2, KernelPath::avx512}) {
    if (!kernels_detail::pathSupported(path)) continue;
    const KernelPath previous = kernels_detail::setPathForTesting(path);
    SCOPED_TRACE(path == KernelPath::baseline ? "path baseline"
                 : path == KernelPath::avx2   ? "path avx2"
                                              : "path avx512");
    body();
    kernels_detail::setPathForTesting(previous);
  }
}

template <class T>
bool sameBytes(const std::vector<T>& a, const std::vector<T>& b) {
  return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0);
}

// Bit for bit, except that any two NaNs count as equal. Which NaN comes out
// of an operation on two NaN operands (payload and sign) is fixed neither by
// IEEE 754 nor by C++: the compiler may swap the operands of a commutative
// operation, and x86 returns the first one. Only lerpField can combine two
// NaNs (a NaN t with a NaN difference); every other float is compared bit
// for bit, -0.0 included.
bool sameFloatsUpToNaNPayload(const std::vector<float>& a, const std::vector<float>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::isnan(a[i]) && std::isnan(b[i])) continue;
    if (std::bit_cast<uint32_t>(a[i]) != std::bit_cast<uint32_t>(b[i])) return false;
  }
  return true;
}

// Index of the first differing element, for failure messages.
template <class T>
std::string firstDifference(const std::vector<T>& a, const std::vector<T>& b) {
  for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
    if (std::memcmp(&a[i], &b[i], sizeof(T)) != 0) {
      if constexpr (std::is_same_v<T, float>) {
        return "index " + std::to_string(i) + ": " + std::to_string(a[i]) + " vs " + std::to_string(b[i]);
      } else {
        return "index " + std::to_string(i) + ": " + std::to_string(int{a[i]}) + " vs " + std::to_string(int{b[i]});
      }
    }
  }
  return "sizes " + std::to_string(a.size()) + " vs " + std::to_string(b.size());
}

#define EXPECT_SAME_BYTES(a, b) EXPECT_TRUE(sameBytes(a, b)) << firstDifference(a, b)

std::vector<uint8_t> rgbaOfAlpha(const std::vector<uint8_t>& alpha) {
  std::vector<uint8_t> rgba(alpha.size() * 4);
  for (size_t i = 0; i < alpha.size(); ++i) {
    rgba[4 * i + 0] = static_cast<uint8_t>(alpha[i] / 2);
    rgba[4 * i + 1] = static_cast<uint8_t>(alpha[i] / 3);
    rgba[4 * i + 2] = static_cast<uint8_t>(alpha[i] / 5);
    rgba[4 * i + 3] = alpha[i];
  }
  return rgba;
}

// ---------------------------------------------------------------------------
// Random inputs.

struct Random {
  std::mt19937 engine;
  explicit Random(uint32_t seed) : engine(seed) {}

  int32_t integer(int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(engine); }
  float uniform(float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(engine); }
  bool chance(double p) { return std::bernoulli_distribution(p)(engine); }

  // Alpha values concentrated on the threshold and the extremes.
  uint8_t alpha() {
    switch (integer(0, 5)) {
      case 0:
        return 127;
      case 1:
        return 128;
      case 2:
        return 0;
      case 3:
        return 255;
      default:
        return static_cast<uint8_t>(integer(0, 255));
    }
  }

  // Random colour bytes with a random alpha pattern: noise, blobs or stripes.
  std::vector<uint8_t> picture(int32_t width, int32_t height) {
    const size_t n = static_cast<size_t>(width) * static_cast<size_t>(height);
    std::vector<uint8_t> rgba(4 * n);
    for (auto& byte : rgba) byte = static_cast<uint8_t>(integer(0, 255));
    const int kind = integer(0, 3);
    const float cx = uniform(0, static_cast<float>(width));
    const float cy = uniform(0, static_cast<float>(height));
    const float r = uniform(0.5f, static_cast<float>(std::max(width, height)));
    const double density = uniform(0.0f, 1.0f);
    for (int32_t y = 0; y < height; ++y) {
      for (int32_t x = 0; x < width; ++x) {
        uint8_t a = alpha();
        if (kind == 0) {
          a = chance(density) ? (chance(0.5) ? 128 : 255) : (chance(0.5) ? 127 : 0);
        } else if (kind == 1) {
          const float dx = static_cast<float>(x) - cx, dy = static_cast<float>(y) - cy;
          const bool in = dx * dx + dy * dy < r * r;
          a = in ? static_cast<uint8_t>(integer(128, 255)) : static_cast<uint8_t>(integer(0, 127));
        } else if (kind == 2) {
          a = ((x / 3 + y / 2) % 2) != 0 ? 128 : 127;
        }
        rgba[4 * (static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) + 3] = a;
      }
    }
    return rgba;
  }

  // Any float, special values included.
  float anyFloat() {
    switch (integer(0, 11)) {
      case 0:
        return kNaN;
      case 1:
        return kInf;
      case 2:
        return -kInf;
      case 3:
        return -0.0f;
      case 4:
        return 0.0f;
      case 5:
        return std::numeric_limits<float>::denorm_min() * static_cast<float>(integer(-100, 100));
      case 6:
        return std::bit_cast<float>(static_cast<uint32_t>(engine()));
      case 7:
        return static_cast<float>(integer(-40, 40)) * 0.5f;
      default:
        return uniform(-60.0f, 60.0f);
    }
  }

  // A plausible distance field with sprinkled special values.
  std::vector<float> field(int32_t width, int32_t height, double specials) {
    const size_t n = static_cast<size_t>(width) * static_cast<size_t>(height);
    std::vector<float> f(n);
    const float cx = uniform(-5, static_cast<float>(width) + 5);
    const float cy = uniform(-5, static_cast<float>(height) + 5);
    const float r = uniform(0, static_cast<float>(std::max(width, height)));
    const float slope = uniform(0.3f, 2.0f);
    for (int32_t y = 0; y < height; ++y) {
      for (int32_t x = 0; x < width; ++x) {
        const float dx = static_cast<float>(x) - cx, dy = static_cast<float>(y) - cy;
        float v = (r - std::sqrt(dx * dx + dy * dy)) * slope;
        if (chance(0.2)) v += uniform(-1, 1);
        if (chance(specials)) v = anyFloat();
        f[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] = v;
      }
    }
    return f;
  }

  std::vector<float> floats(size_t count) {
    std::vector<float> v(count);
    for (auto& f : v) f = anyFloat();
    return v;
  }
};

// Odd sizes: single rows and columns, sizes not a multiple of any vector
// width, and the typical cursor union canvas.
const std::vector<std::pair<int32_t, int32_t>>& sizes() {
  static const std::vector<std::pair<int32_t, int32_t>> list = {
      {1, 1},   {1, 2},   {2, 1},  {1, 9},  {9, 1},    {1, 37},   {37, 1},  {2, 2},   {3, 5},
      {5, 3},   {4, 4},   {7, 3},  {8, 8},  {9, 9},    {16, 3},   {17, 23}, {23, 17}, {31, 2},
      {33, 33}, {46, 58}, {64, 1}, {1, 64}, {66, 107}, {107, 66}, {100, 7}, {130, 4}};
  return list;
}

// ---------------------------------------------------------------------------
// Behaviour: chamfer distance and signed distance field.

TEST(ChamferDistanceTest, OpaqueSinglePixel) {
  const std::vector<uint8_t> rgba{10, 20, 30, 255};
  forEachPath([&] {
    float inside1 = -7, inside0 = -7;
    chamferDistance(rgba.data(), &inside1, 1, 1, 1);
    chamferDistance(rgba.data(), &inside0, 1, 1, 0);
    EXPECT_EQ(inside1, 0.0f);
    EXPECT_EQ(inside0, 2.0f);
    float field = -7, scratch = -7;
    signedDistanceField(rgba.data(), &field, &scratch, 1, 1);
    EXPECT_EQ(field, 2.0f);
    EXPECT_EQ(scratch, 0.0f);
  });
}

TEST(ChamferDistanceTest, CentreOfThreeByThree) {
  std::vector<uint8_t> alpha(9, 0);
  alpha[4] = 255;
  const auto rgba = rgbaOfAlpha(alpha);
  const float d = 1.4142135f;
  const std::vector<float> expected{-d, -1, -d, -1, 1, -1, -d, -1, -d};
  forEachPath([&] {
    std::vector<float> field(9), scratch(9);
    signedDistanceField(rgba.data(), field.data(), scratch.data(), 3, 3);
    EXPECT_EQ(field, expected);
  });
}

TEST(ChamferDistanceTest, TransparentBitmapIsMinusTwiceTheLongerSide) {
  for (auto [w, h] : std::vector<std::pair<int32_t, int32_t>>{{1, 1}, {5, 3}, {3, 5}, {17, 23}, {40, 1}}) {
    const auto rgba = rgbaOfAlpha(std::vector<uint8_t>(static_cast<size_t>(w * h), 127));
    forEachPath([&, w = w, h = h] {
      std::vector<float> field(static_cast<size_t>(w * h)), scratch(field.size());
      signedDistanceField(rgba.data(), field.data(), scratch.data(), w, h);
      for (float v : field) EXPECT_EQ(v, -2.0f * static_cast<float>(std::max(w, h))) << w << "x" << h;
    });
  }
}

TEST(ChamferDistanceTest, AlphaThresholdIs128) {
  // Alpha 127 is outside, 128 inside: a 1x2 bitmap with one of each.
  const auto rgba = rgbaOfAlpha({127, 128});
  forEachPath([&] {
    std::vector<float> field(2), scratch(2);
    signedDistanceField(rgba.data(), field.data(), scratch.data(), 2, 1);
    EXPECT_EQ(field, (std::vector<float>{-1, 1}));
    std::vector<float> inside0(2), inside1(2);
    chamferDistance(rgba.data(), inside0.data(), 2, 1, 0);
    chamferDistance(rgba.data(), inside1.data(), 2, 1, 1);
    EXPECT_EQ(inside0, (std::vector<float>{0, 1}));
    EXPECT_EQ(inside1, (std::vector<float>{1, 0}));
  });
}

TEST(ChamferDistanceTest, InsideOtherThanZeroOrOneMatchesNoPixel) {
  const auto rgba = rgbaOfAlpha({0, 255, 127, 128, 3, 200});
  forEachPath([&] {
    std::vector<float> out(6);
    chamferDistance(rgba.data(), out.data(), 3, 2, 2);
    for (float v : out) EXPECT_EQ(v, 6.0f);
  });
}

TEST(ChamferDistanceTest, SizesBelowOneTouchNothing) {
  // With both sides negative width * height is positive: the unmended
  // routine initialised that many values. Now nothing is touched at all.
  const std::vector<std::pair<int32_t, int32_t>> cases = {{0, 0}, {0, 5}, {5, 0}, {-1, 5}, {5, -1}, {-2, -3}, {-1, -1}};
  std::vector<uint8_t> rgba(64, 255);
  forEachPath([&] {
    for (auto [w, h] : cases) {
      std::vector<float> out(16, 42.0f), scratch(16, 43.0f);
      chamferDistance(rgba.data(), out.data(), w, h, 0);
      chamferDistance(rgba.data(), out.data(), w, h, 1);
      signedDistanceField(rgba.data(), out.data(), scratch.data(), w, h);
      EXPECT_EQ(out, std::vector<float>(16, 42.0f)) << w << "x" << h;
      EXPECT_EQ(scratch, std::vector<float>(16, 43.0f)) << w << "x" << h;
    }
    // Nothing is read either: null buffers are fine.
    chamferDistance(nullptr, nullptr, -2, -3, 0);
    signedDistanceField(nullptr, nullptr, nullptr, -2, -3);
  });
}

// NaN handling of min in the chamfer passes is not reachable: the passes only
// see 0, 2 * max(width, height) and finite sums of those with 1 and
// 1.4142135, so there is no NaN operand (nor an infinity or -0.0) to test.

// ---------------------------------------------------------------------------
// Behaviour: lerpField.

TEST(LerpFieldTest, BlendsAndDoesNothingBelowOne) {
  const std::vector<float> a{0, 1, -2, 10, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 1};
  const std::vector<float> b{1, 3, 2, -10, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 2};
  forEachPath([&] {
    std::vector<float> out(a.size(), 99);
    lerpField(a.data(), b.data(), out.data(), static_cast<int32_t>(a.size()), 0.25f);
    EXPECT_EQ(out[0], 0.25f);
    EXPECT_EQ(out[1], 1.5f);
    EXPECT_EQ(out[2], -1.0f);
    EXPECT_EQ(out[3], 5.0f);
    EXPECT_EQ(out[17], 1.25f);
    for (int32_t count : {0, -1, -100}) {
      std::vector<float> untouched(4, 99);
      lerpField(a.data(), b.data(), untouched.data(), count, 0.5f);
      EXPECT_EQ(untouched, std::vector<float>(4, 99));
    }
    lerpField(nullptr, nullptr, nullptr, 0, 0.5f);
  });
}

TEST(LerpFieldTest, ProductIsRoundedBeforeTheAddition) {
  // Find inputs where a fused multiply-add would give a different result, and
  // check that every path gives the separately rounded one.
  Random random(7);
  std::vector<float> a, b;
  std::vector<float> expected;
  const float t = 0.3f;
  while (a.size() < 37) {
    const float x = random.uniform(-1000, 1000), y = random.uniform(-1000, 1000);
    volatile float difference = y - x;
    volatile float product = t * difference;
    const float separate = x + product;
    if (separate == std::fma(t, static_cast<float>(difference), x)) continue;
    a.push_back(x);
    b.push_back(y);
    expected.push_back(separate);
  }
  forEachPath([&] {
    std::vector<float> out(a.size());
    lerpField(a.data(), b.data(), out.data(), static_cast<int32_t>(a.size()), t);
    EXPECT_SAME_BYTES(out, expected);
  });
}

// ---------------------------------------------------------------------------
// Behaviour: padRaster.

TEST(PadRasterTest, TwoByTwoAtOneOneInFourByFour) {
  const std::vector<float> field{1, 2, 3, 4};
  const std::vector<uint8_t> colours{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  forEachPath([&] {
    std::vector<float> destination(16, 77);
    std::vector<uint8_t> destinationColours(64, 0xAB);
    ASSERT_TRUE(
        padRaster(field.data(), colours.data(), destination.data(), destinationColours.data(), 2, 2, 4, 4, 1, 1));
    auto at = [&](int x, int y) { return destination[static_cast<size_t>(y * 4 + x)]; };
    EXPECT_EQ(at(1, 1), 1.0f);
    EXPECT_EQ(at(2, 1), 2.0f);
    EXPECT_EQ(at(1, 2), 3.0f);
    EXPECT_EQ(at(2, 2), 4.0f);
    // Corners: one pixel off diagonally from the nearest source corner.
    EXPECT_EQ(at(0, 0), -std::sqrt(1.0f + (1.0f + 1.0f * 1.0f)));
    EXPECT_EQ(at(3, 0), -std::sqrt(1.0f + (1.0f + 2.0f * 2.0f)));
    EXPECT_EQ(at(0, 3), -std::sqrt(1.0f + (1.0f + 3.0f * 3.0f)));
    EXPECT_EQ(at(3, 3), -std::sqrt(1.0f + (1.0f + 4.0f * 4.0f)));
    // Edge neighbours: one pixel off straight.
    EXPECT_EQ(at(1, 0), -std::sqrt(1.0f + 1.0f));
    EXPECT_EQ(at(3, 2), -std::sqrt(0.0f + (1.0f + 16.0f)));
    for (int y = 0; y < 4; ++y) {
      for (int x = 0; x < 4; ++x) {
        const bool copied = x >= 1 && x <= 2 && y >= 1 && y <= 2;
        for (int k = 0; k < 4; ++k) {
          const uint8_t byte = destinationColours[static_cast<size_t>(4 * (y * 4 + x) + k)];
          if (copied) {
            EXPECT_EQ(byte, colours[static_cast<size_t>(4 * ((y - 1) * 2 + (x - 1)) + k)]);
          } else {
            EXPECT_EQ(byte, 0xAB) << x << "," << y;
          }
        }
      }
    }
  });
}

TEST(PadRasterTest, RefusedPlacementsTouchNothing) {
  struct Case {
    const char* name;
    int32_t sw, sh, dw, dh, ox, oy;
  };
  const Case cases[] = {
      {"negative offset x", 2, 2, 4, 4, -1, 1},
      {"negative offset y", 2, 2, 4, 4, 1, -1},
      {"overhanging right", 2, 2, 4, 4, 3, 1},
      {"overhanging bottom", 2, 2, 4, 4, 1, 3},
      {"overhanging both", 3, 3, 4, 4, 2, 2},
      {"source wider", 5, 1, 4, 4, 0, 0},
      {"source taller", 1, 5, 4, 4, 0, 0},
      {"negative source width", -2, 2, 4, 4, 0, 0},
      {"negative source height", 2, -2, 4, 4, 0, 0},
      {"negative destination width", 2, 2, -4, 4, 0, 0},
      {"negative destination height", 2, 2, 4, -4, 0, 0},
      {"both destination sides negative", 1, 1, -4, -4, 0, 0},
      {"empty source, destination with pixels", 0, 0, 4, 4, 0, 0},
      {"zero-width source", 0, 2, 4, 4, 1, 1},
      {"offset past the end", 0, 0, 4, 4, 5, 0},
      {"offset near the 32-bit limit", 2, 2, 4, 4, INT32_MAX, 0},
  };
  const std::vector<float> field(64, 3.0f);
  const std::vector<uint8_t> colours(256, 9);
  forEachPath([&] {
    for (const Case& c : cases) {
      std::vector<float> destination(16, 77);
      std::vector<uint8_t> destinationColours(64, 0xAB);
      EXPECT_FALSE(padRaster(field.data(), colours.data(), destination.data(), destinationColours.data(), c.sw, c.sh,
                             c.dw, c.dh, c.ox, c.oy))
          << c.name;
      EXPECT_EQ(destination, std::vector<float>(16, 77)) << c.name;
      EXPECT_EQ(destinationColours, std::vector<uint8_t>(64, 0xAB)) << c.name;
    }
  });
}

TEST(PadRasterTest, AcceptedEdgePlacements) {
  const std::vector<float> field{5, 6, 7, 8, 9, 10};
  const std::vector<uint8_t> colours(24, 200);
  forEachPath([&] {
    // Flush with the bottom-right corner, and filling the destination.
    std::vector<float> destination(12, 77);
    std::vector<uint8_t> destinationColours(48, 0);
    EXPECT_TRUE(
        padRaster(field.data(), colours.data(), destination.data(), destinationColours.data(), 3, 2, 4, 3, 1, 1));
    EXPECT_EQ(destination[11], 10.0f);
    EXPECT_EQ(destination[0], -std::sqrt(1.0f + (1.0f + 25.0f)));
    EXPECT_TRUE(
        padRaster(field.data(), colours.data(), destination.data(), destinationColours.data(), 3, 2, 3, 2, 0, 0));
    EXPECT_TRUE(std::equal(field.begin(), field.end(), destination.begin()));
    // An empty destination with an empty source is nothing to do.
    EXPECT_TRUE(padRaster(nullptr, nullptr, nullptr, nullptr, 0, 0, 0, 0, 0, 0));
    EXPECT_TRUE(padRaster(nullptr, nullptr, nullptr, nullptr, 0, 3, 0, 3, 0, 0));
  });
}

// ---------------------------------------------------------------------------
// Behaviour: morphCPU.

struct MorphCanvas {
  int32_t width;
  int32_t height;
  std::vector<float> source, target;
  std::vector<uint8_t> from, to;
  MorphCanvas(int32_t w, int32_t h)
      : width(w),
        height(h),
        source(static_cast<size_t>(w * h)),
        target(static_cast<size_t>(w * h)),
        from(static_cast<size_t>(4 * w * h)),
        to(static_cast<size_t>(4 * w * h)) {}
  size_t pixel(int32_t x, int32_t y) const { return static_cast<size_t>(y * width + x); }
  std::vector<uint8_t> run(float progress, float scale, uint8_t fill = 0) const {
    std::vector<uint8_t> out(from.size(), fill);
    morphCPU(source.data(), target.data(), from.data(), to.data(), out.data(), width, height, progress, scale);
    return out;
  }
};

TEST(MorphCPUTest, ProgressZeroWithIdenticalPicturesReturnsFromColours) {
  Random random(11);
  for (auto [w, h] : std::vector<std::pair<int32_t, int32_t>>{{17, 23}, {9, 5}, {66, 107}}) {
    MorphCanvas canvas(w, h);
    const auto rgba = random.picture(w, h);
    std::vector<float> scratch(canvas.source.size());
    signedDistanceField(rgba.data(), canvas.source.data(), scratch.data(), w, h);
    // Push some pixels below the cut-off of scale 0.5 (-9).
    for (size_t i = 0; i < canvas.source.size(); i += 7) canvas.source[i] = -20.0f;
    canvas.target = canvas.source;
    canvas.from = rgba;
    canvas.to = rgba;
    forEachPath([&, w = w, h = h] {
      const auto out = canvas.run(0.0f, 0.5f, 0);
      for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
          const size_t i = canvas.pixel(x, y);
          const bool cut = canvas.source[i] < -9.0f;
          const bool edge = x == w - 1 || y == h - 1;
          for (int k = 0; k < 4; ++k) {
            const uint8_t expected = cut || edge ? 0 : rgba[4 * i + static_cast<size_t>(k)];
            EXPECT_EQ(out[4 * i + static_cast<size_t>(k)], expected) << x << "," << y << " component " << k;
          }
        }
      }
    });
  }
}

TEST(MorphCPUTest, CutOffAtExactlyMinusEighteenTimesScaleIsProcessed) {
  for (float scale : {2.0f, 1.0f, 0.75f}) {
    MorphCanvas canvas(3, 3);
    const float cutoff = scale * -18.0f;
    std::fill(canvas.from.begin(), canvas.from.end(), 200);
    std::fill(canvas.to.begin(), canvas.to.end(), 200);
    forEachPath([&] {
      std::fill(canvas.source.begin(), canvas.source.end(), cutoff);
      canvas.target = canvas.source;
      auto out = canvas.run(0.0f, scale, 1);
      EXPECT_EQ(out[0], 200) << "d == -18 * scale is not below the cut-off";
      canvas.source[0] = std::nextafter(cutoff, -kInf);
      canvas.target = canvas.source;
      out = canvas.run(0.0f, scale, 1);
      EXPECT_EQ(out[0], 1) << "just below the cut-off is left untouched";
      EXPECT_EQ(out[3], 1);
      EXPECT_EQ(out[4], 200);
    });
  }
}

// With identical constant fields every projection stops at once on the pixel
// itself, so the colour samples are exactly the `from` and `to` bytes and the
// blended value is f + progress * (t - f). With f = 0 and t = 0..255 each
// call covers 256 values; many progress values cover rounding and clamping.
TEST(MorphCPUTest, RoundsHalvesAwayFromZeroAndClamps) {
  MorphCanvas canvas(257, 2);
  std::fill(canvas.source.begin(), canvas.source.end(), 100.0f);
  canvas.target = canvas.source;
  for (int32_t x = 0; x < 257; ++x) {
    for (int k = 0; k < 4; ++k)
      canvas.to[4 * static_cast<size_t>(x) + static_cast<size_t>(k)] = static_cast<uint8_t>(x);
  }
  auto expectedByte = [](float value) {
    return static_cast<uint8_t>(std::fmin(std::fmax(std::round(value), 0.0f), 255.0f));
  };
  // Hand-picked values: exact halves go away from zero.
  forEachPath([&] {
    auto out = canvas.run(0.5f, 1.0f);
    EXPECT_EQ(out[4 * 1], 1) << "0.5 rounds to 1";
    EXPECT_EQ(out[4 * 3], 2) << "1.5 rounds to 2";
    EXPECT_EQ(out[4 * 5], 3) << "2.5 rounds to 3";
    EXPECT_EQ(out[4 * 255], 128) << "127.5 rounds to 128";
    out = canvas.run(2.0f, 1.0f);
    EXPECT_EQ(out[4 * 200], 255) << "400 clamps to 255";
    out = canvas.run(-1.0f, 1.0f);
    EXPECT_EQ(out[4 * 200], 0) << "-200 clamps to 0";
  });
  std::vector<float> progresses = {0.0f,
                                   -0.0f,
                                   0.5f,
                                   1.0f,
                                   kNaN,
                                   kInf,
                                   -kInf,
                                   1e30f,
                                   -1e30f,
                                   1e-30f,
                                   0.49999997f,
                                   0.50000006f,
                                   254.5f / 255.0f,
                                   255.5f / 255.0f,
                                   2.0f,
                                   -1.0f};
  for (int i = 0; i <= 512; ++i) {
    const float p = static_cast<float>(i) / 256.0f;
    progresses.push_back(p);
    progresses.push_back(std::nextafter(p, -kInf));
    progresses.push_back(std::nextafter(p, kInf));
  }
  for (int i = 1; i < 64; ++i) progresses.push_back(-1.0f / static_cast<float>(i));
  // Expected bytes: row 0 holds the rounded blends (all four components
  // alike) and 0 in its last pixel; the last row is never sampled: 0.
  std::vector<std::vector<uint8_t>> expected;
  for (float progress : progresses) {
    std::vector<uint8_t> bytes(canvas.from.size(), 0);
    for (int32_t x = 0; x < 256; ++x) {
      volatile float product = progress * (static_cast<float>(x) - 0.0f);
      const float value = 0.0f + product;
      for (int k = 0; k < 4; ++k) bytes[4 * static_cast<size_t>(x) + static_cast<size_t>(k)] = expectedByte(value);
    }
    expected.push_back(std::move(bytes));
  }
  forEachPath([&] {
    for (size_t i = 0; i < progresses.size(); ++i) {
      const auto out = canvas.run(progresses[i], 1.0f, 0x5A);
      ASSERT_TRUE(sameBytes(out, expected[i]))
          << "progress " << progresses[i] << ": " << firstDifference(out, expected[i]);
    }
  });
}

TEST(MorphCPUTest, SizesBelowOneTouchNothing) {
  std::vector<uint8_t> out(16, 0x33);
  forEachPath([&] {
    for (auto [w, h] : std::vector<std::pair<int32_t, int32_t>>{{0, 0}, {0, 2}, {2, 0}, {-2, -2}, {-1, 3}}) {
      morphCPU(nullptr, nullptr, nullptr, nullptr, out.data(), w, h, 0.5f, 2.0f);
      EXPECT_EQ(out, std::vector<uint8_t>(16, 0x33));
    }
  });
}

// ---------------------------------------------------------------------------
// Behaviour: comparisons.

TEST(ImagesNearlyEqualTest, Bounds) {
  struct Case {
    const char* name;
    int differingBytes;
    int by;
    bool expected;
  };
  const Case cases[] = {
      {"every byte by 2 (sum 8192)", 4096, 2, true},
      {"every byte by 3", 4096, 3, false},
      {"41 bytes by 13", 41, 13, false},
      {"40 bytes by 13", 40, 13, true},
      {"40 bytes by 255", 40, 255, false},  // sum 10200 > 8192
      {"32 bytes by 255", 32, 255, true},   // sum 8160
      {"4096 bytes by 12 is big-free but the sum is over", 4096, 12, false},
      {"identical", 0, 0, true},
  };
  forEachPath([&] {
    for (const Case& c : cases) {
      for (bool upward : {true, false}) {
        std::vector<uint8_t> a(4096, upward ? 0 : 255), b(4096, upward ? 0 : 255);
        for (int i = 0; i < c.differingBytes; ++i) {
          // Spread the differing bytes over the image.
          const size_t at = static_cast<size_t>((i * 97) % 4096);
          b[at] = static_cast<uint8_t>(upward ? c.by : 255 - c.by);
        }
        EXPECT_EQ(imagesNearlyEqual(a.data(), b.data(), 4096), c.expected) << c.name;
        EXPECT_EQ(imagesNearlyEqual(b.data(), a.data(), 4096), c.expected) << c.name;
      }
    }
    const uint8_t one = 0, other = 200;
    EXPECT_TRUE(imagesNearlyEqual(&one, &other, 0));
    EXPECT_TRUE(imagesNearlyEqual(nullptr, nullptr, -5));
    EXPECT_FALSE(imagesNearlyEqual(&one, &other, 1));
  });
}

TEST(HasVisibleAlphaTest, LooksOnlyAtAlphaBytesOfWholePixels) {
  forEachPath([&] {
    std::vector<uint8_t> bytes{255, 255, 255, 0, 255, 255, 255};  // 7 bytes: byte 3 is the only alpha
    EXPECT_FALSE(hasVisibleAlpha(bytes.data(), 7));
    bytes[3] = 1;
    EXPECT_TRUE(hasVisibleAlpha(bytes.data(), 7));
    const std::vector<uint8_t> three{255, 255, 255};
    EXPECT_FALSE(hasVisibleAlpha(three.data(), 3));
    EXPECT_FALSE(hasVisibleAlpha(nullptr, 0));
    EXPECT_FALSE(hasVisibleAlpha(nullptr, -4));
    // A single visible alpha anywhere in a long buffer, and a trailing partial
    // pixel that is ignored.
    for (size_t pixels : {1u, 15u, 16u, 17u, 64u, 1000u, 1024u}) {
      for (size_t at = 0; at < pixels; at += std::max<size_t>(1, pixels / 13)) {
        std::vector<uint8_t> rgba(4 * pixels + 3, 0xFF);
        for (size_t p = 0; p < pixels; ++p) rgba[4 * p + 3] = 0;
        const int32_t count = static_cast<int32_t>(rgba.size());
        EXPECT_FALSE(hasVisibleAlpha(rgba.data(), count)) << pixels;
        rgba[4 * at + 3] = 1;
        EXPECT_TRUE(hasVisibleAlpha(rgba.data(), count)) << pixels << " " << at;
      }
    }
  });
}

// ---------------------------------------------------------------------------
// Equivalence with the reference.

TEST(KernelEquivalenceTest, ReportsPaths) {
  EXPECT_TRUE(kernels_detail::pathSupported(KernelPath::baseline));
  const KernelPath previous = kernels_detail::setPathForTesting(KernelPath::baseline);
  EXPECT_EQ(kernels_detail::currentPath(), KernelPath::baseline);
  kernels_detail::setPathForTesting(previous);
  EXPECT_EQ(kernels_detail::currentPath(), previous);
  for (auto [path, name] : {std::pair{KernelPath::avx2, "AVX2"}, std::pair{KernelPath::avx512, "AVX-512"}}) {
    if (!kernels_detail::pathSupported(path))
      std::printf("note: no %s on this processor; its path is not tested\n", name);
  }
  // An unsupported path is refused; the path in force stays.
  const KernelPath inForce = kernels_detail::currentPath();
  EXPECT_EQ(kernels_detail::setPathForTesting(static_cast<KernelPath>(99)), inForce);
  EXPECT_EQ(kernels_detail::currentPath(), inForce);
}

TEST(KernelEquivalenceTest, SignedDistanceFieldAndChamfer) {
  Random random(1);
  for (auto [w, h] : sizes()) {
    for (int trial = 0; trial < 6; ++trial) {
      const auto rgba = random.picture(w, h);
      const size_t n = static_cast<size_t>(w * h);
      std::vector<float> expectedOut(n, 5.0f), expectedScratch(n, 6.0f);
      reference::signedDistanceField(rgba.data(), expectedOut.data(), expectedScratch.data(), w, h);
      std::vector<std::vector<float>> expectedChamfer;
      for (int32_t inside : {0, 1, 2, -1}) {
        std::vector<float> c(n, 7.0f);
        reference::chamferDistance(rgba.data(), c.data(), w, h, inside);
        expectedChamfer.push_back(c);
      }
      forEachPath([&, w = w, h = h] {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        std::vector<float> out(n, 5.0f), scratch(n, 6.0f);
        signedDistanceField(rgba.data(), out.data(), scratch.data(), w, h);
        EXPECT_SAME_BYTES(out, expectedOut);
        EXPECT_SAME_BYTES(scratch, expectedScratch);
        const int32_t insides[] = {0, 1, 2, -1};
        for (size_t k = 0; k < 4; ++k) {
          std::vector<float> c(n, 7.0f);
          chamferDistance(rgba.data(), c.data(), w, h, insides[k]);
          EXPECT_SAME_BYTES(c, expectedChamfer[k]);
        }
      });
    }
  }
}

TEST(KernelEquivalenceTest, SignedDistanceFieldOfLargeCanvas) {
  Random random(2);
  for (const auto& size : std::vector<std::pair<int32_t, int32_t>>{{512, 512}, {1, 4096}, {4096, 3}, {301, 257}}) {
    // Plain variables: clang 15 does not let a lambda capture structured bindings.
    const int32_t w = size.first, h = size.second;
    const auto rgba = random.picture(w, h);
    const size_t n = static_cast<size_t>(w) * static_cast<size_t>(h);
    std::vector<float> expectedOut(n), expectedScratch(n);
    reference::signedDistanceField(rgba.data(), expectedOut.data(), expectedScratch.data(), w, h);
    forEachPath([&] {
      std::vector<float> out(n), scratch(n);
      signedDistanceField(rgba.data(), out.data(), scratch.data(), w, h);
      EXPECT_SAME_BYTES(out, expectedOut);
      EXPECT_SAME_BYTES(scratch, expectedScratch);
    });
  }
}

TEST(KernelEquivalenceTest, LerpField) {
  Random random(3);
  for (int32_t count : {1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 31, 33, 100, 1001, 4099}) {
    for (int trial = 0; trial < 4; ++trial) {
      const auto a = random.floats(static_cast<size_t>(count));
      const auto b = random.floats(static_cast<size_t>(count));
      for (float t : {random.anyFloat(), random.uniform(0, 1), 0.5f, kNaN, -0.0f}) {
        std::vector<float> expected(static_cast<size_t>(count) + 1, 9.0f);
        reference::lerpField(a.data(), b.data(), expected.data(), count, t);
        forEachPath([&] {
          std::vector<float> out(static_cast<size_t>(count) + 1, 9.0f);
          lerpField(a.data(), b.data(), out.data(), count, t);
          EXPECT_TRUE(sameFloatsUpToNaNPayload(out, expected)) << firstDifference(out, expected);
        });
      }
    }
  }
}

TEST(KernelEquivalenceTest, PadRaster) {
  Random random(4);
  for (int trial = 0; trial < 400; ++trial) {
    const int32_t sw = random.integer(0, 20), sh = random.integer(0, 20);
    const int32_t dw = random.integer(0, 40), dh = random.integer(0, 40);
    const int32_t ox = random.integer(-2, 25), oy = random.integer(-2, 25);
    const auto sourceField = random.floats(static_cast<size_t>(sw * sh));
    std::vector<uint8_t> sourceColours(static_cast<size_t>(4 * sw * sh));
    for (auto& byte : sourceColours) byte = static_cast<uint8_t>(random.integer(0, 255));
    std::vector<float> expectedField(static_cast<size_t>(dw * dh));
    for (auto& v : expectedField) v = random.anyFloat();
    std::vector<uint8_t> expectedColours(static_cast<size_t>(4 * dw * dh));
    for (auto& byte : expectedColours) byte = static_cast<uint8_t>(random.integer(0, 255));
    const auto initialField = expectedField;
    const auto initialColours = expectedColours;
    const bool expected = reference::padRaster(sourceField.data(), sourceColours.data(), expectedField.data(),
                                               expectedColours.data(), sw, sh, dw, dh, ox, oy);
    forEachPath([&] {
      auto field = initialField;
      auto colours = initialColours;
      EXPECT_EQ(
          padRaster(sourceField.data(), sourceColours.data(), field.data(), colours.data(), sw, sh, dw, dh, ox, oy),
          expected);
      EXPECT_SAME_BYTES(field, expectedField);
      EXPECT_SAME_BYTES(colours, expectedColours);
    });
  }
}

TEST(KernelEquivalenceTest, MorphOnRandomFields) {
  Random random(5);
  for (auto [w, h] : sizes()) {
    for (int trial = 0; trial < 8; ++trial) {
      MorphCanvas canvas(w, h);
      const double specials = trial < 2 ? 0.0 : (trial < 5 ? 0.02 : 0.3);
      canvas.source = random.field(w, h, specials);
      canvas.target = trial % 3 == 0 ? canvas.source : random.field(w, h, specials);
      canvas.from = random.picture(w, h);
      canvas.to = random.picture(w, h);
      float progress = random.uniform(0, 1);
      float scale = random.uniform(0.2f, 3);
      if (trial == 6) progress = random.anyFloat();
      if (trial == 7) scale = random.anyFloat();
      std::vector<uint8_t> expected(canvas.from.size());
      for (auto& byte : expected) byte = static_cast<uint8_t>(random.integer(0, 255));
      const auto initial = expected;
      reference::morphCPU(canvas.source.data(), canvas.target.data(), canvas.from.data(), canvas.to.data(),
                          expected.data(), w, h, progress, scale);
      forEachPath([&, w = w, h = h] {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + " progress " + std::to_string(progress) + " scale " +
                     std::to_string(scale));
        auto out = initial;
        morphCPU(canvas.source.data(), canvas.target.data(), canvas.from.data(), canvas.to.data(), out.data(), w, h,
                 progress, scale);
        EXPECT_SAME_BYTES(out, expected);
      });
    }
  }
}

TEST(KernelEquivalenceTest, MorphOnFieldsOfPictures) {
  Random random(6);
  for (auto [w, h] : sizes()) {
    for (int trial = 0; trial < 4; ++trial) {
      MorphCanvas canvas(w, h);
      canvas.from = random.picture(w, h);
      canvas.to = random.picture(w, h);
      std::vector<float> scratch(canvas.source.size());
      reference::signedDistanceField(canvas.from.data(), canvas.source.data(), scratch.data(), w, h);
      reference::signedDistanceField(canvas.to.data(), canvas.target.data(), scratch.data(), w, h);
      for (float progress : {0.0f, 0.25f, 0.5f, random.uniform(0, 1), 1.0f}) {
        const float scale = trial == 0 ? 0.05f : 2.0f;
        std::vector<uint8_t> expected(canvas.from.size(), 0);
        reference::morphCPU(canvas.source.data(), canvas.target.data(), canvas.from.data(), canvas.to.data(),
                            expected.data(), w, h, progress, scale);
        forEachPath([&, w = w, h = h] {
          std::vector<uint8_t> out(canvas.from.size(), 0);
          morphCPU(canvas.source.data(), canvas.target.data(), canvas.from.data(), canvas.to.data(), out.data(), w, h,
                   progress, scale);
          EXPECT_SAME_BYTES(out, expected) << w << "x" << h << " progress " << progress;
        });
      }
    }
  }
}

// Canvases with a side beyond 32767 pixels take the plain loops; just below,
// the vector paths. Both agree with the reference.
TEST(KernelEquivalenceTest, MorphOnVeryWideCanvases) {
  Random random(10);
  for (int32_t w : {32767, 32768}) {
    MorphCanvas canvas(w, 3);
    canvas.source = random.field(w, 3, 0.01);
    canvas.target = random.field(w, 3, 0.01);
    canvas.from = random.picture(w, 3);
    canvas.to = random.picture(w, 3);
    std::vector<uint8_t> expected(canvas.from.size(), 0);
    reference::morphCPU(canvas.source.data(), canvas.target.data(), canvas.from.data(), canvas.to.data(),
                        expected.data(), w, 3, 0.5f, 0.1f);
    forEachPath([&] { EXPECT_SAME_BYTES(canvas.run(0.5f, 0.1f), expected) << w; });
  }
}

TEST(KernelEquivalenceTest, HasVisibleAlpha) {
  Random random(8);
  for (int trial = 0; trial < 2000; ++trial) {
    const int32_t count = random.integer(-3, 300);
    std::vector<uint8_t> bytes(static_cast<size_t>(std::max(count, 0)), 0);
    const int kind = random.integer(0, 2);
    for (auto& byte : bytes) {
      if (kind == 0) byte = random.chance(0.005) ? static_cast<uint8_t>(random.integer(1, 255)) : 0;
      if (kind == 1) byte = random.chance(0.7) ? 0 : 255;
    }
    // Colour bytes without alpha: visible only if an alpha byte is set.
    if (kind == 2) {
      for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = (i % 4 == 3) ? 0 : 255;
      if (!bytes.empty() && random.chance(0.5)) bytes[bytes.size() - 1] = 1;  // maybe a trailing partial pixel
    }
    const bool expected = reference::hasVisibleAlpha(bytes.data(), count);
    forEachPath([&] { EXPECT_EQ(hasVisibleAlpha(bytes.data(), count), expected) << count; });
  }
}

TEST(KernelEquivalenceTest, ImagesNearlyEqual) {
  Random random(9);
  for (int trial = 0; trial < 3000; ++trial) {
    const int32_t count = random.integer(-2, 5000);
    const size_t n = static_cast<size_t>(std::max(count, 0));
    std::vector<uint8_t> a(n), b(n);
    const int by = random.integer(0, 4);
    const double bigShare = random.uniform(0, 0.02f);
    for (size_t i = 0; i < n; ++i) {
      a[i] = static_cast<uint8_t>(random.integer(0, 255));
      int other = int{a[i]} + random.integer(-by, by);
      if (random.chance(bigShare)) other = int{a[i]} + (random.chance(0.5) ? 13 : -13) * random.integer(1, 3);
      b[i] = static_cast<uint8_t>(std::clamp(other, 0, 255));
    }
    const bool expected = reference::imagesNearlyEqual(a.data(), b.data(), count);
    forEachPath([&] { EXPECT_EQ(imagesNearlyEqual(a.data(), b.data(), count), expected) << count; });
  }
}

}  // namespace
}  // namespace vurle
