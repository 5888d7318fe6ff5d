#include "platform/graphics/image.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/graphics/pixels.hpp"

using namespace platform;

namespace {

struct FaultReset : ::testing::Test {
  void SetUp() override { GraphicsFaults::reset(); }
  void TearDown() override { GraphicsFaults::reset(); }
};

CGImageRef imageOf(const std::vector<uint8_t>& bytes, size_t w, size_t h, size_t bpr,
                   CGBitmapInfo info = kCGImageAlphaPremultipliedLast) {
  return CGImageCreate(w, h, 8, 32, bpr, CGColorSpaceCreateDeviceRGB(), info,
                       CGDataProviderCreateWithCFData(CFDataCreate(bytes.data(), bytes.size())),
                       nullptr, false, kCGRenderingIntentDefault);
}

}  // namespace

using ImageCreate = FaultReset;

TEST_F(ImageCreate, AcceptsTheTwoSupportedFormatsAndSharesTheProviderBytes) {
  // 3 × 2 with padded rows: the last row needs only 4 × width bytes.
  std::vector<uint8_t> bytes(16 + 12, 7);
  auto provider = CGDataProviderCreateWithCFData(CFDataCreate(bytes.data(), bytes.size()));
  auto image = CGImageCreate(3, 2, 8, 32, 16, CGColorSpaceCreateWithName(kCGColorSpaceSRGB),
                             kCGImageAlphaPremultipliedLast | kCGBitmapByteOrder32Big, provider,
                             nullptr, true, kCGRenderingIntentDefault);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(CGImageGetWidth(image), 3u);
  EXPECT_EQ(CGImageGetHeight(image), 2u);
  EXPECT_EQ(CGImageGetBytesPerRow(image), 16u);
  EXPECT_EQ(CGImageGetAlphaInfo(image), kCGImageAlphaPremultipliedLast);
  EXPECT_EQ(CGColorSpaceCopyName(CGImageGetColorSpace(image)), kCGColorSpaceSRGB);
  EXPECT_EQ(CGDataProviderCopyData(CGImageGetDataProvider(image)).get(),
            CGDataProviderCopyData(provider).get());

  EXPECT_NE(imageOf(bytes, 3, 2, 16, kCGImageAlphaPremultipliedFirst | kCGBitmapByteOrder32Little),
            nullptr);
}

TEST_F(ImageCreate, RefusesBadParametersAndShortData) {
  const std::vector<uint8_t> bytes(64);
  auto space = CGColorSpaceCreateDeviceRGB();
  auto provider = CGDataProviderCreateWithCFData(CFDataCreate(bytes.data(), bytes.size()));
  auto make = [&](size_t w, size_t h, size_t bpc, size_t bpp, size_t bpr, CGBitmapInfo info) {
    return CGImageCreate(w, h, bpc, bpp, bpr, space, info, provider, nullptr, false,
                         kCGRenderingIntentDefault);
  };
  const CGBitmapInfo rgba = kCGImageAlphaPremultipliedLast;
  ASSERT_NE(make(4, 4, 8, 32, 16, rgba), nullptr);  // exactly enough data
  EXPECT_EQ(make(0, 4, 8, 32, 16, rgba), nullptr);
  EXPECT_EQ(make(4, 0, 8, 32, 16, rgba), nullptr);
  EXPECT_EQ(make(4, 4, 16, 32, 16, rgba), nullptr);
  EXPECT_EQ(make(4, 4, 8, 24, 16, rgba), nullptr);
  EXPECT_EQ(make(4, 4, 8, 32, 15, rgba), nullptr);  // row shorter than 4 × width
  EXPECT_EQ(make(4, 4, 8, 32, 17, rgba), nullptr);  // 17 × 3 + 16 > 64 bytes
  EXPECT_EQ(make(4, 5, 8, 32, 16, rgba), nullptr);
  EXPECT_EQ(make(40000, 1, 8, 32, 160000, rgba), nullptr);
  EXPECT_EQ(make(1, 3, 8, 32, SIZE_MAX / 2 + 1, rgba), nullptr);               // size overflows
  EXPECT_EQ(make(4, 4, 8, 32, 16, kCGImageAlphaLast), nullptr);                // not premultiplied
  EXPECT_EQ(make(4, 4, 8, 32, 16, kCGImageAlphaPremultipliedFirst), nullptr);  // ARGB order
  EXPECT_EQ(make(4, 4, 8, 32, 16, rgba | kCGBitmapByteOrder32Little), nullptr);
  EXPECT_EQ(make(4, 4, 8, 32, 16, rgba | kCGBitmapFloatComponents), nullptr);
  const CGFloat decode[8] = {1, 0, 1, 0, 1, 0, 1, 0};
  EXPECT_EQ(CGImageCreate(4, 4, 8, 32, 16, space, rgba, provider, decode, false,
                          kCGRenderingIntentDefault),
            nullptr);
  EXPECT_EQ(CGImageCreate(4, 4, 8, 32, 16, nullptr, rgba, provider, nullptr, false,
                          kCGRenderingIntentDefault),
            nullptr);
  EXPECT_EQ(CGImageCreate(4, 4, 8, 32, 16, space, rgba, nullptr, nullptr, false,
                          kCGRenderingIntentDefault),
            nullptr);
}

TEST_F(ImageCreate, DataProvidersAndColourSpaces) {
  EXPECT_EQ(CFDataCreate(nullptr, 3), nullptr);
  ASSERT_NE(CFDataCreate(nullptr, 0), nullptr);
  EXPECT_EQ(CGDataProviderCreateWithCFData(nullptr), nullptr);
  EXPECT_EQ(CGDataProviderCopyData(nullptr), nullptr);
  EXPECT_EQ(CGColorSpaceCopyName(CGColorSpaceCreateDeviceRGB()), kCGColorSpaceDeviceRGB);
  EXPECT_EQ(CGColorSpaceCopyName(CGColorSpaceCreateWithName(kCGColorSpaceSRGB)), kCGColorSpaceSRGB);
  EXPECT_EQ(CGColorSpaceCreateWithName("kCGColorSpaceDisplayP3"), nullptr);
}

TEST_F(ImageCreate, InjectedFailuresCountDownPerKind) {
  const std::vector<uint8_t> bytes(4, 0);
  GraphicsFaults::failNext(GraphicsFault::Image, 2);
  GraphicsFaults::failNext(GraphicsFault::DataProvider);
  EXPECT_EQ(CGDataProviderCreateWithCFData(CFDataCreate(bytes.data(), 4)), nullptr);
  EXPECT_EQ(imageOf(bytes, 1, 1, 4), nullptr);
  EXPECT_EQ(imageOf(bytes, 1, 1, 4), nullptr);
  EXPECT_EQ(GraphicsFaults::pending(GraphicsFault::Image), 0u);
  EXPECT_NE(imageOf(bytes, 1, 1, 4), nullptr);

  GraphicsFaults::failNext(GraphicsFault::ColorSpace, 5);
  EXPECT_EQ(CGColorSpaceCreateWithName(kCGColorSpaceSRGB), nullptr);
  GraphicsFaults::reset();
  EXPECT_NE(CGColorSpaceCreateDeviceRGB(), nullptr);
}

TEST_F(ImageCreate, InjectedFailuresAreConsumedExactlyOnceAcrossThreads) {
  GraphicsFaults::failNext(GraphicsFault::BitmapRep, 1000);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i)
        if (GraphicsFaults::consume(GraphicsFault::BitmapRep)) ++failures;
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 1000);
  EXPECT_EQ(GraphicsFaults::pending(GraphicsFault::BitmapRep), 0u);
}

TEST_F(ImageCreate, SubImageUsesTopLeftPixelCoordinatesAndClipsToTheImage) {
  // 3 × 2 image whose pixel (x, y) has red = 10 × y + x.
  std::vector<uint8_t> bytes(3 * 2 * 4, 255);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) bytes[static_cast<size_t>((y * 3 + x) * 4)] = uint8_t(10 * y + x);
  auto image = imageOf(bytes, 3, 2, 12);

  auto part = CGImageCreateWithImageInRect(image, CGRectMake(1.2, 1, 5, 5));
  ASSERT_NE(part, nullptr);
  EXPECT_EQ(CGImageGetWidth(part), 2u);
  EXPECT_EQ(CGImageGetHeight(part), 1u);
  const auto data = CGDataProviderCopyData(CGImageGetDataProvider(part));
  EXPECT_EQ((*data)[0], 11);
  EXPECT_EQ((*data)[4], 12);
  EXPECT_EQ(CGImageCreateWithImageInRect(image, CGRectMake(3, 0, 2, 2)), nullptr);
  EXPECT_EQ(CGImageCreateWithImageInRect(image, CGRectNull), nullptr);
}

TEST(PixelConversion, RoundTripIsLosslessForEveryValidPremultipliedPixel) {
  // Every alpha, with colour values spread over 0...alpha.
  std::vector<uint8_t> rgba;
  for (int a = 0; a < 256; ++a)
    for (int c : {0, a / 3, a / 2, a - 1, a})
      if (c >= 0) rgba.insert(rgba.end(), {uint8_t(c), uint8_t(a - c), uint8_t(a / 2), uint8_t(a)});
  const int n = static_cast<int>(rgba.size() / 4);

  for (auto format : {detail::PixelFormat::RGBA, detail::PixelFormat::BGRA}) {
    std::vector<uint32_t> argb(static_cast<size_t>(n));
    std::vector<uint8_t> back(rgba.size());
    detail::rowToArgb32(rgba.data(), format, argb.data(), n);
    detail::rowFromArgb32(argb.data(), back.data(), format, n);
    EXPECT_EQ(back, rgba);
  }
  // Cairo's layout: A in the top byte, then R, G, B.
  const uint8_t px[4] = {0x11, 0x22, 0x33, 0x44};
  uint32_t v = 0;
  detail::rowToArgb32(px, detail::PixelFormat::RGBA, &v, 1);
  EXPECT_EQ(v, 0x44112233u);
  detail::rowToArgb32(px, detail::PixelFormat::BGRA, &v, 1);
  EXPECT_EQ(v, 0x44332211u);
}
