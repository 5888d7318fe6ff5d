#include "platform/graphics/context.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

#include "platform/graphics/scratch_memory.hpp"
#include "platform/graphics/test_support.hpp"

using namespace platform;
using namespace platform::testing;

namespace {

// Caller memory for a context, with marked guard bytes around it and in the
// row padding, so stray writes show up even without the sanitizer.
struct Canvas {
  static constexpr size_t kGuard = 64;
  static constexpr uint8_t kMark = 0xCD;
  int w, h;
  size_t bpr;
  std::vector<uint8_t> mem;
  CGContextRef ctx;

  Canvas(int width, int height, size_t pad = 0)
      : w(width),
        h(height),
        bpr(4 * size_t(width) + pad),
        mem(2 * kGuard + bpr * size_t(height), kMark) {
    for (int y = 0; y < h; ++y) std::fill_n(row(y), 4 * w, 0);
    ctx = CGBitmapContextCreate(mem.data() + kGuard, size_t(w), size_t(h), 8, bpr,
                                CGColorSpaceCreateDeviceRGB(), kCGImageAlphaPremultipliedLast);
  }
  uint8_t* row(int y) { return mem.data() + kGuard + size_t(y) * bpr; }
  // Memory row y (row 0 = top of the picture).
  Pixel at(int x, int y) {
    const uint8_t* p = row(y) + 4 * x;
    return {p[0], p[1], p[2], p[3]};
  }
  void set(int x, int y, Pixel v) { std::copy(v.begin(), v.end(), row(y) + 4 * x); }
  bool marksIntact() {
    for (size_t i = 0; i < kGuard; ++i)
      if (mem[i] != kMark || mem[mem.size() - 1 - i] != kMark) return false;
    for (int y = 0; y < h; ++y)
      for (size_t i = 4 * size_t(w); i < bpr; ++i)
        if (row(y)[i] != kMark) return false;
    return true;
  }
};

}  // namespace

TEST(BitmapContext, CreationOverCallerOrOwnMemory) {
  Canvas canvas(4, 3);
  ASSERT_NE(canvas.ctx, nullptr);
  EXPECT_EQ(CGBitmapContextGetData(canvas.ctx), canvas.row(0));

  auto own = CGBitmapContextCreate(nullptr, 5, 5, 8, 20, CGColorSpaceCreateDeviceRGB(),
                                   kCGImageAlphaPremultipliedLast | kCGBitmapByteOrder32Big);
  ASSERT_NE(own, nullptr);
  const auto* p = static_cast<const uint8_t*>(CGBitmapContextGetData(own));
  EXPECT_TRUE(std::all_of(p, p + 100, [](uint8_t b) { return b == 0; }));

  auto space = CGColorSpaceCreateDeviceRGB();
  const CGBitmapInfo rgba = kCGImageAlphaPremultipliedLast;
  EXPECT_EQ(CGBitmapContextCreate(nullptr, 0, 5, 8, 20, space, rgba), nullptr);
  EXPECT_EQ(CGBitmapContextCreate(nullptr, 5, 5, 16, 40, space, rgba), nullptr);
  EXPECT_EQ(CGBitmapContextCreate(nullptr, 5, 5, 8, 19, space, rgba), nullptr);
  EXPECT_EQ(CGBitmapContextCreate(nullptr, 5, 5, 8, 20, nullptr, rgba), nullptr);
  EXPECT_EQ(CGBitmapContextCreate(nullptr, 5, 5, 8, 20, space, kCGImageAlphaLast), nullptr);
  EXPECT_EQ(CGBitmapContextCreate(nullptr, 5, 5, 8, 20, space,
                                  kCGImageAlphaPremultipliedFirst | kCGBitmapByteOrder32Little),
            nullptr);
  GraphicsFaults::failNext(GraphicsFault::BitmapContext);
  EXPECT_EQ(CGBitmapContextCreate(nullptr, 5, 5, 8, 20, space, rgba), nullptr);
  EXPECT_NE(CGBitmapContextCreate(nullptr, 5, 5, 8, 20, space, rgba), nullptr);
}

TEST(BitmapContext, RowZeroIsTheTopOfThePictureAndPaddingIsUntouched) {
  Canvas canvas(4, 3, 8);
  CGContextSetShouldAntialias(canvas.ctx, false);
  CGContextSetRGBFillColor(canvas.ctx, 1, 0, 0, 1);
  CGContextFillRect(canvas.ctx, CGRectMake(0, 0, 4, 1));  // bottom row in y-up coordinates
  for (int x = 0; x < 4; ++x) {
    EXPECT_EQ(canvas.at(x, 2), kRed);
    EXPECT_EQ(canvas.at(x, 0), kClear);
    EXPECT_EQ(canvas.at(x, 1), kClear);
  }
  CGContextSetRGBFillColor(canvas.ctx, 0, 0, 1, 1);
  CGContextFillRect(canvas.ctx, CGRectMake(1, 2, 1, 1));
  EXPECT_EQ(canvas.at(1, 0), (Pixel{0, 0, 255, 255}));
  CGContextFillRect(canvas.ctx, CGRectInfinite);
  EXPECT_EQ(canvas.at(3, 2), (Pixel{0, 0, 255, 255}));
  EXPECT_TRUE(canvas.marksIntact());
}

TEST(BitmapContext, UntouchedPixelsInsideADrawingSurviveExactly) {
  // Every alpha with valid premultiplied colours; two 1-pixel squares in the
  // corners make the drawing's extent cover the whole canvas.
  Canvas canvas(256, 4);
  for (int a = 0; a < 256; ++a)
    for (int y = 0; y < 4; ++y)
      canvas.set(a, y, {uint8_t(a * y / 3), uint8_t(a / 2), uint8_t(a), uint8_t(a)});
  const std::vector<uint8_t> before = canvas.mem;
  CGContextSetShouldAntialias(canvas.ctx, false);
  CGContextAddRect(canvas.ctx, CGRectMake(0, 0, 1, 1));
  CGContextAddRect(canvas.ctx, CGRectMake(255, 3, 1, 1));
  CGContextFillPath(canvas.ctx);
  EXPECT_EQ(canvas.at(0, 3), (Pixel{0, 0, 0, 255}));
  EXPECT_EQ(canvas.at(255, 0), (Pixel{0, 0, 0, 255}));
  canvas.set(0, 3, {0, 0, 0, 0});
  canvas.set(255, 0, {0, 127, 255, 255});
  EXPECT_EQ(canvas.mem, before);
}

TEST(BitmapContext, DrawImageCopiesPixelAlignedDrawsExactly) {
  auto image = makeImage(3, 2, tag);
  for (auto quality : {kCGInterpolationNone, kCGInterpolationHigh}) {
    Canvas canvas(3, 2);
    CGContextSetInterpolationQuality(canvas.ctx, quality);
    CGContextDrawImage(canvas.ctx, CGRectMake(0, 0, 3, 2), image);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 3; ++x) EXPECT_EQ(canvas.at(x, y), tag(x, y)) << x << "," << y;
  }
  // The other source byte order lands as the same RGBA pixels.
  auto bgra = makeImage(
      3, 2,
      [](int x, int y) {
        const Pixel p = tag(x, y);
        return Pixel{p[2], p[1], p[0], p[3]};
      },
      kCGImageAlphaPremultipliedFirst | kCGBitmapByteOrder32Little);
  Canvas canvas(3, 2);
  CGContextDrawImage(canvas.ctx, CGRectMake(0, 0, 3, 2), bgra);
  EXPECT_EQ(canvas.at(2, 1), tag(2, 1));
}

TEST(BitmapContext, NoInterpolationUpscaleDuplicatesPixels) {
  Canvas canvas(4, 4);
  CGContextSetInterpolationQuality(canvas.ctx, kCGInterpolationNone);
  CGContextDrawImage(canvas.ctx, CGRectMake(0, 0, 4, 4), makeImage(2, 2, tag));
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(canvas.at(x, y), tag(x / 2, y / 2)) << x << "," << y;
}

TEST(BitmapContext, SmoothReductionAveragesWhileNoneSamples) {
  // Every fourth column white, reduced 4 ×: the smooth filter averages the
  // columns (a quarter white) where point sampling sees black or white.
  auto lines = makeImage(64, 64, [](int x, int) {
    return x % 4 == 0 ? Pixel{255, 255, 255, 255} : Pixel{0, 0, 0, 255};
  });
  Canvas smooth(16, 16), none(16, 16);
  CGContextSetInterpolationQuality(smooth.ctx, kCGInterpolationHigh);
  CGContextSetInterpolationQuality(none.ctx, kCGInterpolationNone);
  CGContextDrawImage(smooth.ctx, CGRectMake(0, 0, 16, 16), lines);
  CGContextDrawImage(none.ctx, CGRectMake(0, 0, 16, 16), lines);
  for (auto [x, y] : {std::pair{0, 0}, {7, 3}, {15, 15}}) {
    EXPECT_TRUE(near(smooth.at(x, y), {64, 64, 64, 255}, 8)) << int(smooth.at(x, y)[0]);
    EXPECT_TRUE(none.at(x, y)[0] == 0 || none.at(x, y)[0] == 255);
  }
}

// A hard black-to-white edge enlarged 8 ×, across and down, with the other
// axis enlarged too or drawn at its own size: each quality draws its own
// profile, centred on the edge (a value and its mirror across the edge sum
// to white).
TEST(BitmapContext, EachQualityEnlargesAHardEdgeWithItsOwnProfile) {
  enum class Profile { steps, linear, smooth };
  const std::pair<CGInterpolationQuality, Profile> cases[] = {
      {kCGInterpolationNone, Profile::steps},     {kCGInterpolationLow, Profile::steps},
      {kCGInterpolationDefault, Profile::linear}, {kCGInterpolationMedium, Profile::linear},
      {kCGInterpolationHigh, Profile::smooth},
  };
  for (const auto& [quality, profile] : cases) {
    for (const int way : {0, 1, 2, 3}) {
      const bool across = way % 2 == 0, both = way < 2;
      SCOPED_TRACE(::testing::Message() << "quality " << quality << (across ? " across" : " down")
                                        << (both ? "" : ", the other axis at its own size"));
      auto edge = makeImage(4, 4, [&](int x, int y) { return (across ? x : y) < 2 ? Pixel{0, 0, 0, 255} : kWhite; });
      Canvas canvas(32, 32);
      CGContextSetInterpolationQuality(canvas.ctx, quality);
      // One axis only: the picture's four lines along the top or left edge.
      const CGRect rect = both ? CGRectMake(0, 0, 32, 32) : across ? CGRectMake(0, 28, 32, 4) : CGRectMake(0, 0, 4, 32);
      CGContextDrawImage(canvas.ctx, rect, edge);
      const int line = both ? 9 : 1;
      std::vector<int> v;
      for (int i = 0; i < 32; ++i) v.push_back(across ? canvas.at(i, line)[0] : canvas.at(line, i)[0]);
      int between = 0;
      std::vector<int> steps;  // between two values short of black and white
      for (int i = 0; i < 32; ++i) {
        between += v[size_t(i)] > 0 && v[size_t(i)] < 255;
        EXPECT_NEAR(v[size_t(i)] + v[size_t(31 - i)], 255, 2) << i;
        if (i == 0) continue;
        EXPECT_GE(v[size_t(i)], v[size_t(i - 1)]) << i << ": no ringing";
        if (v[size_t(i - 1)] > 0 && v[size_t(i)] < 255) steps.push_back(v[size_t(i)] - v[size_t(i - 1)]);
      }
      const auto [low, high] = std::minmax_element(steps.begin(), steps.end());
      const int smallest = steps.empty() ? 0 : *low, largest = steps.empty() ? 0 : *high;
      switch (profile) {
        case Profile::steps: EXPECT_EQ(between, 0); break;
        // Bilinear: one source pixel's width of equal steps.
        case Profile::linear:
          EXPECT_EQ(between, 8);
          EXPECT_LE(largest - smallest, 2);
          break;
        // Not pixel squares, and eased in and out: steepest across the edge.
        case Profile::smooth:
          EXPECT_GE(between, 8);
          EXPECT_GE(largest - smallest, 8);
          EXPECT_EQ(v[16] - v[15], largest);
          break;
      }
    }
  }
}

// High quality enlarges only what the clip shows, the shadow that shapes
// outside it cast into it included; keeps colour within alpha where the
// kernel overshoots (black, white, then clear); and where its memory is
// refused, draws as Medium does.
TEST(BitmapContext, HighQualityEnlargementThroughAClipOrShortOfMemory) {
  auto picture = makeImage(3, 1, [](int x, int) { return x == 0 ? Pixel{0, 0, 0, 255} : x == 1 ? kWhite : kClear; });
  const auto draw = [&](CGInterpolationQuality quality, bool clipped, unsigned refusals) {
    auto canvas = std::make_unique<Canvas>(24, 24);
    CGContextSetInterpolationQuality(canvas->ctx, quality);
    CGContextSetShadowWithColor(canvas->ctx, CGSizeMake(6, -6), 2, 0, 0, 1, 1);
    if (clipped) CGContextClipToRect(canvas->ctx, CGRectMake(14, 2, 6, 6));  // memory rows 16...21, columns 14...19
    GraphicsFaults::failNext(GraphicsFault::Enlargement, refusals);
    CGContextDrawImage(canvas->ctx, CGRectMake(1.5, 10.25, 12.5, 12), picture);  // memory rows 1.75...13.75
    EXPECT_EQ(GraphicsFaults::pending(GraphicsFault::Enlargement), 0u);
    return canvas;
  };
  const auto whole = draw(kCGInterpolationHigh, false, 0), clipped = draw(kCGInterpolationHigh, true, 0);
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 24; ++x) {
      const bool inside = x >= 14 && x < 20 && y >= 16 && y < 22;
      EXPECT_EQ(clipped->at(x, y), inside ? whole->at(x, y) : kClear) << x << "," << y;
      for (int c = 0; c < 3; ++c) EXPECT_LE(whole->at(x, y)[c], whole->at(x, y)[3]) << x << "," << y;
    }
  EXPECT_GT(clipped->at(14, 17)[3], 128) << "the shadow of the shape outside the clip";
  EXPECT_NE(whole->mem, draw(kCGInterpolationMedium, false, 0)->mem);
  EXPECT_EQ(draw(kCGInterpolationHigh, false, 1)->mem, draw(kCGInterpolationMedium, false, 0)->mem);

  // Each row of a tall picture enlarged across only keeps its own colour.
  Canvas tall(24, 12);
  CGContextSetInterpolationQuality(tall.ctx, kCGInterpolationHigh);
  CGContextDrawImage(tall.ctx, CGRectMake(0, 0, 24, 12), makeImage(2, 12, tag));
  for (int y = 0; y < 12; ++y) EXPECT_EQ(tall.at(5, y)[1], tag(0, y)[1]) << y;
}

// High quality needs a few rows of memory beyond Medium's: its enlarged
// picture takes the place of the scratch surface, drawn in the canvas's own
// memory, with the same pixels. Where rows of 4n + 2 bytes keep cairo out
// of it, it needs both, and where the scratch surface beside the picture
// runs short the picture goes. Short of what it needs, every pixel is drawn
// as Medium draws it.
TEST(BitmapContext, HighQualityNeedsAFewRowsBeyondMediumsMemory) {
  constexpr int kWidth = 32, kHeight = 256;
  auto picture = makeImage(4, 16, tag);
  std::unique_ptr<Canvas> inPlace;
  for (const size_t pad : {0, 2}) {
    SCOPED_TRACE(::testing::Message() << "rows padded by " << pad);
    const auto draw = [&](CGInterpolationQuality quality, size_t limit, size_t* peak = nullptr) {
      auto canvas = std::make_unique<Canvas>(kWidth, kHeight, pad);
      for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) canvas->set(x, y, {uint8_t(x * 8), uint8_t(y), 200, 255});
      CGContextSetInterpolationQuality(canvas->ctx, quality);
      ScratchMemory::takePeak();
      ScratchMemory::limit(limit);
      CGContextDrawImage(canvas->ctx, CGRectMake(0.5, 0, kWidth - 4, kHeight - 0.5), picture);
      ScratchMemory::limit(ScratchMemory::kUnlimited);
      if (peak) *peak = ScratchMemory::takePeak();
      EXPECT_TRUE(canvas->marksIntact());
      return canvas;
    };
    size_t mediumPeak = 0, highPeak = 0;
    const auto medium = draw(kCGInterpolationMedium, ScratchMemory::kUnlimited, &mediumPeak);
    auto high = draw(kCGInterpolationHigh, ScratchMemory::kUnlimited, &highPeak);
    EXPECT_NE(medium->at(kWidth / 2, kHeight / 2), (Pixel{uint8_t(kWidth * 4), kHeight / 2, 200, 255}));
    EXPECT_NE(high->mem, medium->mem);
    if (pad == 0) {
      EXPECT_LE(highPeak, mediumPeak + 64 * 4 * kWidth) << "64 rows";
    }
    ASSERT_LT(mediumPeak, highPeak);
    for (const size_t limit : {mediumPeak, (mediumPeak + highPeak) / 2, highPeak - 1})
      EXPECT_EQ(draw(kCGInterpolationHigh, limit)->mem, medium->mem) << limit;
    EXPECT_EQ(draw(kCGInterpolationHigh, highPeak)->mem, high->mem);
    if (!inPlace) {
      inPlace = std::move(high);
      continue;
    }
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) EXPECT_EQ(inPlace->at(x, y), high->at(x, y)) << x << "," << y;
  }
}

TEST(BitmapContext, ImageLargerThanTheCanvasIsClippedAtTheEdges) {
  Canvas canvas(4, 4, 4);
  CGContextSetInterpolationQuality(canvas.ctx, kCGInterpolationNone);
  // 8 × 8 image at (-2, -3): its top row lies at y = 5, one row above the canvas.
  CGContextDrawImage(canvas.ctx, CGRectMake(-2, -3, 8, 8), makeImage(8, 8, tag));
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(canvas.at(x, y), tag(x + 2, y + 1)) << x << "," << y;
  EXPECT_TRUE(canvas.marksIntact());

  Canvas far(4, 4);
  CGContextDrawImage(far.ctx, CGRectMake(100, 100, 8, 8), makeImage(8, 8, tag));
  CGContextDrawImage(far.ctx, CGRectMake(-1e12, -1e12, 2e12, 2e12), makeImage(1, 1, tag));
  EXPECT_EQ(far.at(0, 0), tag(0, 0));
  EXPECT_TRUE(far.marksIntact());
}

TEST(BitmapContext, BlendModesAndAlpha) {
  auto clearImage = makeImage(2, 2, [](int, int) { return kClear; });
  auto halfBlue = makeImage(2, 2, [](int, int) { return Pixel{0, 0, 128, 128}; });
  auto fillWhite = [](Canvas& c) {
    CGContextSetRGBFillColor(c.ctx, 1, 1, 1, 1);
    CGContextFillRect(c.ctx, CGRectMake(0, 0, 4, 4));
  };

  Canvas copy(4, 4);
  fillWhite(copy);
  CGContextSetBlendMode(copy.ctx, kCGBlendModeCopy);
  CGContextDrawImage(copy.ctx, CGRectMake(0, 0, 2, 2), clearImage);
  EXPECT_EQ(copy.at(0, 3), kClear);                       // inside: replaced
  EXPECT_EQ(copy.at(2, 3), (Pixel{255, 255, 255, 255}));  // outside: kept

  Canvas over(4, 4);
  fillWhite(over);
  CGContextDrawImage(over.ctx, CGRectMake(0, 0, 2, 2), clearImage);
  EXPECT_EQ(over.at(0, 3), (Pixel{255, 255, 255, 255}));
  CGContextDrawImage(over.ctx, CGRectMake(0, 0, 2, 2), halfBlue);
  // 0 + 255 × (1 − 128/255) for red and green; blue 128 + 127.
  EXPECT_TRUE(near(over.at(1, 2), {127, 127, 255, 255}));

  Canvas clear(4, 4);
  fillWhite(clear);
  CGContextSetBlendMode(clear.ctx, kCGBlendModeClear);
  CGContextDrawImage(clear.ctx, CGRectMake(2, 2, 2, 2), halfBlue);
  EXPECT_EQ(clear.at(3, 0), kClear);
  EXPECT_EQ(clear.at(1, 0), (Pixel{255, 255, 255, 255}));

  Canvas alpha(4, 4);
  CGContextSetAlpha(alpha.ctx, 0.5);
  CGContextSetRGBFillColor(alpha.ctx, 1, 0, 0, 1);
  CGContextFillRect(alpha.ctx, CGRectMake(0, 0, 4, 4));
  EXPECT_TRUE(near(alpha.at(0, 0), {128, 0, 0, 128}));
}

TEST(BitmapContext, ClearRectHonoursTheClipAndStateIsRestored) {
  Canvas canvas(4, 4);
  CGContextSetRGBFillColor(canvas.ctx, 1, 0, 0, 1);
  CGContextFillRect(canvas.ctx, CGRectMake(0, 0, 4, 4));
  CGContextSaveGState(canvas.ctx);
  CGContextClipToRect(canvas.ctx, CGRectMake(0, 0, 2, 4));  // left half
  CGContextTranslateCTM(canvas.ctx, 0, 2);
  CGContextClearRect(canvas.ctx, CGRectMake(0, 0, 4, 2));  // top half after the translation
  EXPECT_EQ(canvas.at(0, 0), kClear);
  EXPECT_EQ(canvas.at(2, 0), kRed);
  EXPECT_EQ(canvas.at(0, 2), kRed);
  CGContextRestoreGState(canvas.ctx);
  CGContextRestoreGState(canvas.ctx);  // nothing saved: no effect
  CGContextClearRect(canvas.ctx, CGRectMake(0, 0, 4, 2));
  EXPECT_EQ(canvas.at(3, 3), kClear);
  EXPECT_EQ(canvas.at(3, 1), kRed);

  CGContextClipToRect(canvas.ctx, CGRectNull);
  CGContextClearRect(canvas.ctx, CGRectMake(0, 0, 4, 4));
  EXPECT_EQ(canvas.at(3, 1), kRed);

  // A clip edge through the middle of a pixel covers half of it.
  Canvas partial(4, 1);
  CGContextClipToRect(partial.ctx, CGRectMake(0, 0, 1.5, 1));
  CGContextSetRGBFillColor(partial.ctx, 1, 0, 0, 1);
  CGContextFillRect(partial.ctx, CGRectMake(0, 0, 4, 1));
  EXPECT_EQ(partial.at(0, 0), kRed);
  EXPECT_TRUE(near(partial.at(1, 0), {128, 0, 0, 128}));
  EXPECT_EQ(partial.at(2, 0), kClear);
}

TEST(BitmapContext, CreateImageIsANewSnapshotEachTime) {
  Canvas canvas(2, 2);
  CGContextSetRGBFillColor(canvas.ctx, 1, 0, 0, 1);
  CGContextFillRect(canvas.ctx, CGRectMake(0, 0, 2, 2));
  auto first = CGBitmapContextCreateImage(canvas.ctx);
  auto second = CGBitmapContextCreateImage(canvas.ctx);
  ASSERT_NE(first, nullptr);
  EXPECT_NE(first, second);
  EXPECT_EQ(*CGDataProviderCopyData(CGImageGetDataProvider(first)),
            *CGDataProviderCopyData(CGImageGetDataProvider(second)));
  CGContextClearRect(canvas.ctx, CGRectMake(0, 0, 2, 2));
  EXPECT_EQ((*CGDataProviderCopyData(CGImageGetDataProvider(first)))[0], 255);
  GraphicsFaults::failNext(GraphicsFault::Image);
  EXPECT_EQ(CGBitmapContextCreateImage(canvas.ctx), nullptr);
}

TEST(BitmapContext, PathsFillStrokeAndKeepTheirRules) {
  Canvas canvas(8, 8);
  auto c = canvas.ctx;
  CGContextSetShouldAntialias(c, false);
  // Same-direction nested squares: even-odd leaves the hole, non-zero does not.
  CGContextAddRect(c, CGRectMake(0, 0, 8, 8));
  CGContextAddRect(c, CGRectMake(2, 2, 4, 4));
  CGContextEOFillPath(c);
  EXPECT_EQ(canvas.at(0, 0)[3], 255);
  EXPECT_EQ(canvas.at(3, 3), kClear);
  CGContextFillPath(c);  // the path was consumed: nothing happens
  EXPECT_EQ(canvas.at(3, 3), kClear);

  // A line with no current point is ignored; FillRect leaves the path alone.
  CGContextAddLineToPoint(c, 5, 5);
  CGContextMoveToPoint(c, 2, 2);
  CGContextAddLineToPoint(c, 6, 2);
  CGContextAddQuadCurveToPoint(c, 6, 6, 2, 6);
  CGContextClosePath(c);
  CGContextSetRGBFillColor(c, 0, 1, 0, 1);
  CGContextFillRect(c, CGRectMake(0, 0, 1, 1));
  EXPECT_EQ(canvas.at(0, 7), (Pixel{0, 255, 0, 255}));
  CGContextFillPath(c);
  EXPECT_EQ(canvas.at(3, 4), (Pixel{0, 255, 0, 255}));
  EXPECT_EQ(canvas.at(5, 4), (Pixel{0, 255, 0, 255}));  // inside the curve's bulge
  EXPECT_EQ(canvas.at(5, 3), kClear);                   // just outside the curve

  // Stroke width is in user space at stroke time.
  Canvas stroked(8, 8);
  CGContextSetShouldAntialias(stroked.ctx, false);
  CGContextScaleCTM(stroked.ctx, 2, 2);
  CGContextSetLineWidth(stroked.ctx, 1);  // 2 pixels
  CGContextMoveToPoint(stroked.ctx, 0, 2);
  CGContextAddLineToPoint(stroked.ctx, 4, 2);
  CGContextStrokePath(stroked.ctx);
  EXPECT_EQ(stroked.at(4, 3)[3], 255);
  EXPECT_EQ(stroked.at(4, 4)[3], 255);
  EXPECT_EQ(stroked.at(4, 2)[3], 0);
  EXPECT_EQ(stroked.at(4, 5)[3], 0);

  Canvas ellipse(9, 9);
  CGContextFillEllipseInRect(ellipse.ctx, CGRectMake(0, 0, 9, 9));
  EXPECT_EQ(ellipse.at(4, 4)[3], 255);
  EXPECT_EQ(ellipse.at(0, 0)[3], 0);
}

TEST(BitmapContext, ShadowsFallBeneathTheShapeAtTheirOffset) {
  Canvas hard(12, 12);
  CGContextSetShouldAntialias(hard.ctx, false);
  CGContextSetShadowWithColor(hard.ctx, CGSizeMake(3, -3), 0, 0, 0, 1, 1);
  CGContextSetRGBFillColor(hard.ctx, 1, 0, 0, 1);
  CGContextFillRect(hard.ctx, CGRectMake(2, 6, 4, 4));  // memory rows 2...5, columns 2...5
  EXPECT_EQ(hard.at(3, 3), kRed);                       // shape over its shadow
  EXPECT_EQ(hard.at(7, 7), (Pixel{0, 0, 255, 255}));    // shadow: right and down
  EXPECT_EQ(hard.at(1, 1), kClear);
  EXPECT_EQ(hard.at(9, 9), kClear);

  auto soft = [] {
    auto canvas = std::make_unique<Canvas>(24, 24);
    CGContextSetShadowWithColor(canvas->ctx, CGSizeZero, 4, 0, 0, 0, 1);
    CGContextFillRect(canvas->ctx, CGRectMake(8, 8, 8, 8));
    return canvas;
  };
  auto a = soft(), b = soft();
  EXPECT_EQ(a->mem, b->mem);  // deterministic
  const int edge = a->at(6, 12)[3];
  EXPECT_GT(edge, 0);
  EXPECT_LT(edge, 255);
  EXPECT_EQ(a->at(6, 12), a->at(17, 12));  // symmetric about the shape
  EXPECT_EQ(a->at(12, 6), a->at(12, 17));
  EXPECT_EQ(a->at(0, 0), kClear);

  // Apart from its shape, a blurred shadow keeps the shape's coverage.
  Canvas apart(40, 24);
  CGContextSetShadowWithColor(apart.ctx, CGSizeMake(20, 0), 4, 0, 0, 0, 1);
  CGContextFillRect(apart.ctx, CGRectMake(4, 8, 8, 8));
  int mass = 0;
  for (int y = 0; y < 24; ++y)
    for (int x = 16; x < 40; ++x) mass += apart.at(x, y)[3];
  EXPECT_NEAR(mass, 64 * 255, 64 * 255 / 50);
  EXPECT_EQ(apart.at(21, 12), apart.at(34, 12));

  // A shape entirely left of the canvas still casts its shadow into it.
  Canvas offCanvas(16, 4);
  CGContextSetShadowWithColor(offCanvas.ctx, CGSizeMake(12, 0), 0, 0, 0, 1, 1);
  CGContextFillRect(offCanvas.ctx, CGRectMake(-10, 0, 8, 4));
  EXPECT_EQ(offCanvas.at(1, 2), kClear);
  EXPECT_EQ(offCanvas.at(2, 2), kBlue);
  EXPECT_EQ(offCanvas.at(9, 2), kBlue);
  EXPECT_EQ(offCanvas.at(10, 2), kClear);

  // A transparent shadow colour turns the shadow off.
  CGContextSetShadowWithColor(hard.ctx, CGSizeMake(0, -1), 0, 0, 0, 1, 0);
  CGContextFillRect(hard.ctx, CGRectMake(0, 1, 1, 1));
  EXPECT_EQ(hard.at(0, 10), kRed);
  EXPECT_EQ(hard.at(0, 11), kClear);
}
