#include "cursor/art/cursor_image.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <unordered_set>

#include "cursor/art/pointer_kind.hpp"
#include "platform/graphics/image.hpp"

namespace vurle {
namespace {

using platform::CGRectMake;

// An image of w × h pixels at one pixel per point, filled by `pixel`.
template <class F>
std::shared_ptr<platform::NSImage> makeImage(int w, int h, F pixel) {
  std::vector<uint8_t> bytes(static_cast<size_t>(w * h * 4));
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const auto rgba = pixel(x, y);
      for (int c = 0; c < 4; ++c) bytes[static_cast<size_t>((y * w + x) * 4 + c)] = rgba[c];
    }
  }
  auto provider = platform::CGDataProviderCreateWithCFData(platform::CFDataCreate(bytes.data(), bytes.size()));
  auto image = platform::CGImageCreate(w, h, 8, 32, w * 4, platform::CGColorSpaceCreateDeviceRGB(),
                                       platform::kCGImageAlphaPremultipliedLast, provider, nullptr,
                                       false, platform::kCGRenderingIntentDefault);
  return platform::NSImage::makeWithCGImage(image, platform::CGSizeMake(w, h));
}

std::array<uint8_t, 4> at(const std::vector<uint8_t>& rgba, int width, int x, int y) {
  const size_t i = static_cast<size_t>((y * width + x) * 4);
  return {rgba[i], rgba[i + 1], rgba[i + 2], rgba[i + 3]};
}

constexpr std::array<uint8_t, 4> kClear{0, 0, 0, 0};
constexpr std::array<uint8_t, 4> kBlack{0, 0, 0, 255};
constexpr std::array<uint8_t, 4> kRed{255, 0, 0, 255};

TEST(PointerKindTest, RawValuesAreExactAndOrdered) {
  const char* names[] = {"arrow", "hand", "text", "horizontal", "vertical"};
  for (size_t i = 0; i < allPointerKinds.size(); ++i) {
    EXPECT_EQ(rawValue(allPointerKinds[i]), names[i]);
    EXPECT_EQ(pointerKind(names[i]), allPointerKinds[i]);
  }
  for (const char* other : {"", "Arrow", "TEXT", "hand ", "pointer"}) {
    EXPECT_FALSE(pointerKind(other).has_value()) << other;
  }
}

TEST(CursorCanvasTest, PixelSizesRoundHalfAwayFromZero) {
  const CursorCanvas canvas{2, CGRectMake(-3, -3, 2.25, 3.75)};
  EXPECT_EQ(canvas.pixelWidth(), 5);   // 4.5
  EXPECT_EQ(canvas.pixelHeight(), 8);  // 7.5
  EXPECT_EQ(canvas.pixelCount(), 40);
  const CursorCanvas below{2, CGRectMake(0, 0, 2.2, 1)};
  EXPECT_EQ(below.pixelWidth(), 4);  // 4.4
}

TEST(CursorCanvasTest, EqualityAndHashCoverBothFields) {
  const CursorCanvas a{2, CGRectMake(-3, -3, 20, 26)};
  const CursorCanvas b{2, CGRectMake(-3, -3, 20, 26)};
  const CursorCanvas otherScale{1, CGRectMake(-3, -3, 20, 26)};
  const CursorCanvas otherBounds{2, CGRectMake(-3, -3.5, 20, 26)};
  EXPECT_EQ(a, b);
  EXPECT_FALSE(a == otherScale);
  EXPECT_FALSE(a == otherBounds);
  std::unordered_set<CursorCanvas, CursorCanvasHash> set{a, b, otherScale, otherBounds};
  EXPECT_EQ(set.size(), 3u);
}

TEST(CursorCanvasDeathTest, NonFiniteOrOverflowingSizesStopTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const CursorCanvas nan{2, CGRectMake(0, 0, std::numeric_limits<double>::quiet_NaN(), 1)};
  EXPECT_DEATH(nan.pixelWidth(), "non-finite");
  const CursorCanvas huge{1, CGRectMake(0, 0, 1e19, 1)};
  EXPECT_DEATH(huge.pixelWidth(), "out of range");
  const CursorCanvas overflow{1, CGRectMake(0, 0, 4e18, 4e18)};
  EXPECT_DEATH(overflow.pixelCount(), "overflows");
}

TEST(CursorFrameTest, MadeFromExactlyTheRightNumberOfBytes) {
  const CursorCanvas canvas{2, CGRectMake(-1, -1, 2, 1.5)};  // 4 × 3 pixels
  std::vector<uint8_t> bytes(48, 0);
  bytes[3] = 255;
  auto data = platform::CFDataCreate(bytes.data(), bytes.size());

  auto frame = CursorFrame::make(data, canvas, false);
  ASSERT_TRUE(frame.has_value());
  EXPECT_EQ(platform::CGImageGetWidth(frame->image), 4u);
  EXPECT_EQ(platform::CGImageGetHeight(frame->image), 3u);
  EXPECT_EQ(platform::CGImageGetBytesPerRow(frame->image), 16u);
  EXPECT_EQ(platform::CGImageGetAlphaInfo(frame->image), platform::kCGImageAlphaPremultipliedLast);
  EXPECT_EQ(frame->pixels, data);
  EXPECT_EQ(frame->canvas, canvas);
  EXPECT_EQ(frame->reuse, nullptr);

  // A short buffer would be read past its end; a long one is a different picture.
  for (size_t size : {size_t{0}, size_t{47}, size_t{49}, size_t{96}}) {
    std::vector<uint8_t> wrong(size, 0);
    EXPECT_FALSE(CursorFrame::make(platform::CFDataCreate(wrong.data(), wrong.size()), canvas, false))
        << size;
  }
  EXPECT_FALSE(CursorFrame::make(nullptr, canvas, false));
}

TEST(CursorFrameTest, ReusableFramesShareOneRecord) {
  const CursorCanvas canvas{1, CGRectMake(0, 0, 2, 2)};
  std::vector<uint8_t> bytes(16, 0);
  auto frame = CursorFrame::make(platform::CFDataCreate(bytes.data(), bytes.size()), canvas, true);
  ASSERT_TRUE(frame.has_value());
  ASSERT_NE(frame->reuse, nullptr);
  ASSERT_EQ(frame->reuse->images().size(), 1u);
  EXPECT_EQ(frame->reuse->images()[0], frame->image);
  EXPECT_FALSE(frame->reuse->fingerprint().has_value());

  const CursorFrame copy = *frame;
  copy.reuse->setFingerprint(42);
  EXPECT_EQ(frame->reuse->fingerprint(), 42);
  EXPECT_EQ(copy.image, frame->image);
}

TEST(CursorFrameTest, SystemRefusalsYieldNoFrame) {
  const CursorCanvas canvas{1, CGRectMake(0, 0, 2, 2)};
  std::vector<uint8_t> bytes(16, 0);
  auto data = platform::CFDataCreate(bytes.data(), bytes.size());
  platform::GraphicsFaults::reset();
  platform::GraphicsFaults::failNext(platform::GraphicsFault::DataProvider);
  EXPECT_FALSE(CursorFrame::make(data, canvas, false));
  platform::GraphicsFaults::failNext(platform::GraphicsFault::Image);
  EXPECT_FALSE(CursorFrame::make(data, canvas, false));
  EXPECT_TRUE(CursorFrame::make(data, canvas, false));
  platform::GraphicsFaults::reset();
}

TEST(CursorBitmapTest, PlacesTheHotspotAtTheCanvasOrigin) {
  // 4 × 4 image: red at (1, 2), black elsewhere in the top row, clear below.
  auto image = makeImage(4, 4, [](int x, int y) {
    if (x == 1 && y == 2) return kRed;
    return y == 0 ? kBlack : kClear;
  });
  // Hotspot (1, 2): the red pixel sits on the origin. Canvas from (-3, -3).
  const CursorCanvas canvas{1, CGRectMake(-3, -3, 8, 8)};
  auto bitmap = CursorBitmap::make(image, canvas, platform::CGPointMake(1, 2));
  ASSERT_TRUE(bitmap.has_value());
  ASSERT_EQ(bitmap->rgba->size(), 8u * 8u * 4u);
  EXPECT_EQ(bitmap->frame.pixels, nullptr);
  EXPECT_EQ(bitmap->frame.reuse, nullptr);
  const auto& rgba = *bitmap->rgba;
  EXPECT_EQ(at(rgba, 8, 3, 3), kRed);
  // The image's top-left corner lands at point (-1, -2): pixel (2, 1).
  EXPECT_EQ(at(rgba, 8, 2, 1), kBlack);
  EXPECT_EQ(at(rgba, 8, 5, 1), kBlack);
  EXPECT_EQ(at(rgba, 8, 6, 1), kClear);
  EXPECT_EQ(at(rgba, 8, 2, 0), kClear);
  EXPECT_EQ(at(rgba, 8, 2, 2), kClear);
}

TEST(CursorBitmapTest, AtScaleTwoEveryPointIsTwoPixels) {
  auto image = makeImage(2, 2, [](int x, int y) { return x == 0 && y == 0 ? kRed : kClear; });
  const CursorCanvas canvas{2, CGRectMake(0, 0, 2, 2)};
  auto bitmap = CursorBitmap::make(image, canvas, platform::CGPointMake(0, 0));
  ASSERT_TRUE(bitmap.has_value());
  const auto& rgba = *bitmap->rgba;
  EXPECT_EQ(at(rgba, 4, 0, 0), kRed);
  EXPECT_EQ(at(rgba, 4, 1, 1), kRed);
  EXPECT_EQ(at(rgba, 4, 2, 0), kClear);
  EXPECT_EQ(at(rgba, 4, 0, 2), kClear);
}

TEST(CursorBitmapTest, ImageLargerThanTheCanvasIsClipped) {
  auto image = makeImage(10, 10, [](int x, int y) {
    return std::array<uint8_t, 4>{static_cast<uint8_t>(x * 20), static_cast<uint8_t>(y * 20), 0, 255};
  });
  // Canvas covers points (-2..2) around hotspot (5, 5): image pixels 3..6.
  const CursorCanvas canvas{1, CGRectMake(-2, -2, 4, 4)};
  auto bitmap = CursorBitmap::make(image, canvas, platform::CGPointMake(5, 5));
  ASSERT_TRUE(bitmap.has_value());
  ASSERT_EQ(bitmap->rgba->size(), 64u);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 4; ++x) {
      const std::array<uint8_t, 4> expected{static_cast<uint8_t>((x + 3) * 20),
                                            static_cast<uint8_t>((y + 3) * 20), 0, 255};
      EXPECT_EQ(at(*bitmap->rgba, 4, x, y), expected) << x << "," << y;
    }
  }
}

TEST(CursorBitmapTest, SidesFromOneTo4096PixelsOnly) {
  auto image = makeImage(1, 1, [](int, int) { return kBlack; });
  const platform::CGPoint origin{0, 0};
  EXPECT_TRUE(CursorBitmap::make(image, {1, CGRectMake(0, 0, 4096, 4096)}, origin));
  EXPECT_FALSE(CursorBitmap::make(image, {1, CGRectMake(0, 0, 4097, 1)}, origin));
  EXPECT_FALSE(CursorBitmap::make(image, {1, CGRectMake(0, 0, 1, 4097)}, origin));
  EXPECT_FALSE(CursorBitmap::make(image, {1, CGRectMake(0, 0, 0.4, 1)}, origin));
  EXPECT_FALSE(CursorBitmap::make(nullptr, {1, CGRectMake(0, 0, 1, 1)}, origin));
}

TEST(CursorBitmapTest, SystemRefusalsYieldNoBitmap) {
  auto image = makeImage(1, 1, [](int, int) { return kBlack; });
  const CursorCanvas canvas{1, CGRectMake(0, 0, 2, 2)};
  platform::GraphicsFaults::reset();
  platform::GraphicsFaults::failNext(platform::GraphicsFault::BitmapRep);
  EXPECT_FALSE(CursorBitmap::make(image, canvas, {0, 0}));
  platform::GraphicsFaults::failNext(platform::GraphicsFault::GraphicsContext);
  EXPECT_FALSE(CursorBitmap::make(image, canvas, {0, 0}));
  platform::GraphicsFaults::failNext(platform::GraphicsFault::Image);
  EXPECT_FALSE(CursorBitmap::make(image, canvas, {0, 0}));
  EXPECT_TRUE(CursorBitmap::make(image, canvas, {0, 0}));
  platform::GraphicsFaults::reset();
}

TEST(CursorRasterTest, FieldIsPositiveInsideAndNegativeOutside) {
  // A 3 × 3 opaque square in a 5 × 5 image.
  auto image = makeImage(5, 5, [](int x, int y) {
    return x >= 1 && x <= 3 && y >= 1 && y <= 3 ? kBlack : kClear;
  });
  const CursorCanvas canvas{1, CGRectMake(0, 0, 5, 5)};
  auto raster = CursorRaster::make(image, {0, 0}, canvas);
  ASSERT_TRUE(raster.has_value());
  ASSERT_EQ(raster->solid->size(), 25u);
  const auto& solid = *raster->solid;
  EXPECT_GT(solid[2 * 5 + 2], 0.0f);
  EXPECT_GT(solid[1 * 5 + 1], 0.0f);
  EXPECT_LT(solid[0], 0.0f);
  EXPECT_LT(solid[2 * 5 + 0], 0.0f);
  // The raster carries the same picture as a bitmap drawn alone.
  auto bitmap = CursorBitmap::make(image, canvas, {0, 0});
  ASSERT_TRUE(bitmap.has_value());
  EXPECT_EQ(*raster->rgba, *bitmap->rgba);
}

TEST(CursorRasterTest, TransparentImageGivesAnAllNegativeField) {
  auto image = makeImage(4, 4, [](int, int) { return kClear; });
  const CursorCanvas canvas{2, CGRectMake(-1, -1, 3, 2)};  // 6 × 4 pixels
  auto raster = CursorRaster::make(image, {1, 1}, canvas);
  ASSERT_TRUE(raster.has_value());
  for (float value : *raster->solid) EXPECT_EQ(value, -12.0f);
}

}  // namespace
}  // namespace vurle
