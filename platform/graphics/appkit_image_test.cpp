#include "platform/graphics/appkit_image.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "platform/graphics/test_support.hpp"

using namespace platform;
using namespace platform::testing;

namespace {

std::shared_ptr<NSBitmapImageRep> makeRep(int w, int h) {
  return NSBitmapImageRep::make(nullptr, w, h, 8, 4, true, false, NSDeviceRGBColorSpace, 4 * w, 32);
}

Pixel repPixel(const std::shared_ptr<NSBitmapImageRep>& rep, int x, int y) {
  return pixelAt(rep->bitmapData(), size_t(rep->bytesPerRow()), x, y);
}

// A rep of w × h pixels whose size is w / scale × h / scale points, made current.
struct Target {
  std::shared_ptr<NSBitmapImageRep> rep;
  std::shared_ptr<NSGraphicsContext> context;

  Target(int w, int h, double scale = 1) : rep(makeRep(w, h)) {
    rep->setSize(NSMakeSize(w / scale, h / scale));
    context = NSGraphicsContext::graphicsContextWithBitmapImageRep(rep);
    NSGraphicsContext::saveGraphicsState();
    NSGraphicsContext::setCurrentContext(context);
  }
  ~Target() { NSGraphicsContext::restoreGraphicsState(); }
  Pixel at(int x, int y) const { return repPixel(rep, x, y); }
};

std::shared_ptr<NSBitmapImageRep> solidRep(int w, NSSize size, Pixel colour) {
  auto rep = makeRep(w, w);
  for (int y = 0; y < w; ++y)
    for (int x = 0; x < w; ++x)
      std::copy(colour.begin(), colour.end(), rep->bitmapData() + y * rep->bytesPerRow() + 4 * x);
  rep->setSize(size);
  return rep;
}

const NSImageHints kNoInterpolation{NSImageInterpolationNone};

struct AppKitImage : ::testing::Test {
  void TearDown() override { GraphicsFaults::reset(); }
};

}  // namespace

TEST_F(AppKitImage, BitmapRepFactoryAcceptsOnlyTheSupportedLayout) {
  auto rep =
      NSBitmapImageRep::make(nullptr, 3, 2, 8, 4, true, false, NSCalibratedRGBColorSpace, 16, 32);
  ASSERT_NE(rep, nullptr);
  EXPECT_EQ(rep->pixelsWide(), 3);
  EXPECT_EQ(rep->bytesPerRow(), 16);
  EXPECT_EQ(rep->size(), NSMakeSize(3, 2));
  EXPECT_TRUE(std::all_of(rep->bitmapData(), rep->bitmapData() + 32, [](uint8_t b) { return !b; }));

  unsigned char* planes[1] = {nullptr};
  const std::string rgb(NSDeviceRGBColorSpace);
  EXPECT_EQ(NSBitmapImageRep::make(planes, 3, 2, 8, 4, true, false, rgb, 12, 32), nullptr);
  EXPECT_EQ(NSBitmapImageRep::make(nullptr, 0, 2, 8, 4, true, false, rgb, 12, 32), nullptr);
  EXPECT_EQ(NSBitmapImageRep::make(nullptr, 3, 2, 16, 4, true, false, rgb, 24, 64), nullptr);
  EXPECT_EQ(NSBitmapImageRep::make(nullptr, 3, 2, 8, 3, false, false, rgb, 9, 24), nullptr);
  EXPECT_EQ(NSBitmapImageRep::make(nullptr, 3, 2, 8, 4, true, true, rgb, 12, 32), nullptr);
  EXPECT_EQ(
      NSBitmapImageRep::make(nullptr, 3, 2, 8, 4, true, false, "NSDeviceCMYKColorSpace", 12, 32),
      nullptr);
  EXPECT_EQ(NSBitmapImageRep::make(nullptr, 3, 2, 8, 4, true, false, rgb, 11, 32), nullptr);
  GraphicsFaults::failNext(GraphicsFault::BitmapRep);
  EXPECT_EQ(makeRep(3, 2), nullptr);
  EXPECT_NE(makeRep(3, 2), nullptr);
}

TEST_F(AppKitImage, BitmapRepImagesAreCopiesInTheSystemFormat) {
  auto rep = makeRep(2, 1);
  const uint8_t bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  std::copy(bytes, bytes + 8, rep->bitmapData());
  auto first = rep->CGImage();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(CGImageGetBitmapInfo(first), CGBitmapInfo{kCGImageAlphaPremultipliedLast});
  EXPECT_EQ(CGColorSpaceCopyName(CGImageGetColorSpace(first)), kCGColorSpaceDeviceRGB);
  EXPECT_EQ(*CGDataProviderCopyData(CGImageGetDataProvider(first)), CFData(bytes, bytes + 8));
  rep->bitmapData()[0] = 99;
  auto second = rep->CGImage();
  EXPECT_NE(first, second);
  EXPECT_EQ((*CGDataProviderCopyData(CGImageGetDataProvider(first)))[0], 1);
  EXPECT_EQ((*CGDataProviderCopyData(CGImageGetDataProvider(second)))[0], 99);
  GraphicsFaults::failNext(GraphicsFault::Image);
  EXPECT_EQ(rep->CGImage(), nullptr);

  // From the other byte order: stored as RGBA, sized in points as pixels.
  auto bgra = makeImage(
      2, 3,
      [](int x, int y) {
        const Pixel p = tag(x, y);
        return Pixel{p[2], p[1], p[0], p[3]};
      },
      kCGImageAlphaPremultipliedFirst | kCGBitmapByteOrder32Little);
  auto copy = NSBitmapImageRep::makeWithCGImage(bgra);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->size(), NSMakeSize(2, 3));
  EXPECT_EQ(repPixel(copy, 1, 2), tag(1, 2));
  EXPECT_EQ(NSBitmapImageRep::makeWithCGImage(nullptr), nullptr);
}

TEST_F(AppKitImage, GraphicsContextCreationAndThePerThreadStack) {
  EXPECT_EQ(NSGraphicsContext::graphicsContextWithBitmapImageRep(nullptr), nullptr);
  auto rep = makeRep(4, 4);
  rep->setSize(NSZeroSize);
  EXPECT_EQ(NSGraphicsContext::graphicsContextWithBitmapImageRep(rep), nullptr);
  rep->setSize(NSMakeSize(2, 2));
  GraphicsFaults::failNext(GraphicsFault::GraphicsContext);
  EXPECT_EQ(NSGraphicsContext::graphicsContextWithBitmapImageRep(rep), nullptr);
  auto context = NSGraphicsContext::graphicsContextWithBitmapImageRep(rep);
  ASSERT_NE(context, nullptr);
  EXPECT_FALSE(context->isFlipped());
  EXPECT_EQ(context->pixelsPerPoint(), 2);

  auto image = NSImage::makeWithCGImage(makeImage(1, 1, tag), NSZeroSize);
  ASSERT_EQ(NSGraphicsContext::currentContext(), nullptr);
  image->drawInRect(NSMakeRect(0, 0, 2, 2), NSZeroRect, NSCompositingOperationCopy, 1, false, {});
  EXPECT_EQ(repPixel(rep, 0, 0), kClear);  // no current context: nothing drawn

  NSGraphicsContext::setCurrentContext(context);
  NSGraphicsContext::saveGraphicsState();
  CGContextClipToRect(context->CGContext(), CGRectNull);
  context->setImageInterpolation(NSImageInterpolationNone);
  std::thread([] { EXPECT_EQ(NSGraphicsContext::currentContext(), nullptr); }).join();
  NSGraphicsContext::restoreGraphicsState();
  EXPECT_EQ(NSGraphicsContext::currentContext(), context);
  EXPECT_EQ(context->imageInterpolation(), NSImageInterpolationDefault);
  image->drawInRect(NSMakeRect(0, 0, 2, 2), NSZeroRect, NSCompositingOperationCopy, 1, false, {});
  EXPECT_EQ(repPixel(rep, 3, 3), tag(0, 0));  // the clip went with the restored state
  NSGraphicsContext::restoreGraphicsState();  // nothing saved: no effect
  EXPECT_EQ(NSGraphicsContext::currentContext(), context);
  NSGraphicsContext::setCurrentContext(nullptr);
}

TEST_F(AppKitImage, UnflippedDrawingPutsTheImageTopLeftAtTheRectTopLeft) {
  // 10 × 10 pixels over 5 × 5 points; a 4 × 4 pixel image of 2 × 2 points at
  // (1, 2): its top-left corner is the point (1, 4), pixel column 2, row 2.
  Target target(10, 10, 2);
  auto image = NSImage::makeWithCGImage(makeImage(4, 4, tag), NSMakeSize(2, 2));
  ASSERT_NE(image, nullptr);
  image->drawInRect(NSMakeRect(1, 2, 2, 2), NSZeroRect, NSCompositingOperationCopy, 1, false,
                    kNoInterpolation);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(target.at(2 + x, 2 + y), tag(x, y)) << x << "," << y;
  EXPECT_EQ(target.at(1, 2), kClear);
  EXPECT_EQ(target.at(6, 5), kClear);
  EXPECT_EQ(target.at(2, 6), kClear);
}

TEST_F(AppKitImage, FlippedContextsKeepImagesUprightOnlyWhenAsked) {
  // A flipped view's drawing: y down from the top of a 4 × 4 point canvas.
  for (const bool respect : {true, false}) {
    Target target(4, 4);
    const CGContextRef cg = target.context->CGContext();
    CGContextTranslateCTM(cg, 0, 4);
    CGContextScaleCTM(cg, 1, -1);
    target.context->setFlipped(true);
    auto image = NSImage::makeWithCGImage(makeImage(2, 2, tag), NSZeroSize);
    // Two points down from the top: pixel rows 1 and 2.
    image->drawInRect(NSMakeRect(1, 1, 2, 2), NSZeroRect, NSCompositingOperationCopy, 1, respect,
                      kNoInterpolation);
    for (int y = 0; y < 2; ++y) {
      for (int x = 0; x < 2; ++x) {
        EXPECT_EQ(target.at(1 + x, 1 + y), tag(x, respect ? y : 1 - y)) << respect << x << y;
      }
    }
  }
}

TEST_F(AppKitImage, CompositingOperationsAndFraction) {
  auto clear =
      NSImage::makeWithCGImage(makeImage(2, 2, [](int, int) { return kClear; }), NSZeroSize);
  auto red = NSImage::makeWithCGImage(makeImage(2, 2, [](int, int) { return kRed; }), NSZeroSize);
  Target target(4, 2);
  red->drawInRect(NSMakeRect(0, 0, 4, 2), NSZeroRect, NSCompositingOperationCopy, 1, false, {});
  clear->drawInRect(NSMakeRect(0, 0, 2, 2), NSZeroRect, NSCompositingOperationSourceOver, 1, false,
                    {});
  EXPECT_EQ(target.at(0, 0), kRed);
  clear->drawInRect(NSMakeRect(0, 0, 1, 2), NSZeroRect, NSCompositingOperationCopy, 1, false, {});
  EXPECT_EQ(target.at(0, 1), kClear);
  EXPECT_EQ(target.at(1, 1), kRed);
  red->drawInRect(NSMakeRect(3, 0, 1, 2), NSZeroRect, NSCompositingOperationClear, 1, false, {});
  EXPECT_EQ(target.at(3, 0), kClear);
  red->drawInRect(NSMakeRect(0, 0, 1, 2), NSZeroRect, NSCompositingOperationSourceOver, 0.5, false,
                  {});
  EXPECT_TRUE(near(target.at(0, 0), {128, 0, 0, 128}));
  // Copy at half strength replaces with half the source, whatever was there.
  auto blue = NSImage::makeWithCGImage(makeImage(1, 1, [](int, int) { return kBlue; }), NSZeroSize);
  blue->drawInRect(NSMakeRect(1, 0, 1, 2), NSZeroRect, NSCompositingOperationCopy, 0.5, false, {});
  EXPECT_TRUE(near(target.at(1, 0), {0, 0, 128, 128}));
}

TEST_F(AppKitImage, ImageLargerThanItsCanvasIsClippedExactly) {
  Target target(4, 4);
  auto image = NSImage::makeWithCGImage(makeImage(8, 8, tag), NSZeroSize);
  image->drawInRect(NSMakeRect(-2, -2, 8, 8), NSZeroRect, NSCompositingOperationCopy, 1, false,
                    kNoInterpolation);
  // The image's top row lies at y = 6; the canvas' top row shows image row 2.
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(target.at(x, y), tag(x + 2, y + 2)) << x << "," << y;
}

TEST_F(AppKitImage, FromRectSelectsPartOfTheImage) {
  // The right half of a 4 × 2 image into the right half of the canvas; the
  // rest of the image must not spill into the left half.
  Target target(4, 2);
  auto image = NSImage::makeWithCGImage(makeImage(4, 2, tag), NSZeroSize);
  image->drawInRect(NSMakeRect(2, 0, 2, 2), NSMakeRect(2, 0, 2, 2), NSCompositingOperationCopy, 1,
                    false, kNoInterpolation);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 2; ++x) {
      EXPECT_EQ(target.at(x + 2, y), tag(x + 2, y)) << x << "," << y;
      EXPECT_EQ(target.at(x, y), kClear) << x << "," << y;
    }
}

TEST_F(AppKitImage, RepresentationChoiceFollowsThePixelWidthNeeded) {
  auto image = NSImage::make(NSMakeSize(16, 16));
  EXPECT_EQ(image->CGImageForProposedRect(nullptr, nullptr, nullptr), nullptr);  // no reps yet
  image->addRepresentation(solidRep(32, NSMakeSize(16, 16), kBlue));
  image->addRepresentation(solidRep(16, NSMakeSize(16, 16), kRed));
  ASSERT_EQ(image->representations().size(), 2u);

  EXPECT_EQ(CGImageGetWidth(image->CGImageForProposedRect(nullptr, nullptr, nullptr)), 16u);
  NSRect wider = NSMakeRect(0, 0, 20, 20);
  EXPECT_EQ(CGImageGetWidth(image->CGImageForProposedRect(&wider, nullptr, nullptr)), 32u);
  auto rep2x = makeRep(32, 32);
  rep2x->setSize(NSMakeSize(16, 16));
  auto context2x = NSGraphicsContext::graphicsContextWithBitmapImageRep(rep2x);
  EXPECT_EQ(CGImageGetWidth(image->CGImageForProposedRect(nullptr, context2x, nullptr)), 32u);
  auto rep3x = makeRep(48, 48);
  rep3x->setSize(NSMakeSize(16, 16));
  auto context3x = NSGraphicsContext::graphicsContextWithBitmapImageRep(rep3x);
  EXPECT_EQ(CGImageGetWidth(image->CGImageForProposedRect(nullptr, context3x, nullptr)), 32u);

  {
    Target oneX(16, 16);
    image->drawInRect(NSMakeRect(0, 0, 16, 16), NSZeroRect, NSCompositingOperationCopy, 1, false,
                      {});
    EXPECT_EQ(oneX.at(8, 8), kRed);
  }
  {
    Target twoX(32, 32, 2);
    image->drawInRect(NSMakeRect(0, 0, 16, 16), NSZeroRect, NSCompositingOperationCopy, 1, false,
                      {});
    EXPECT_EQ(twoX.at(8, 8), kBlue);
  }
}

TEST_F(AppKitImage, EveryDrawingPathResamplesAlike) {
  // A 5 × 5 picture scaled to 13 × 13 (and reduced to 3 × 3): NSImage drawing
  // and CGContextDrawImage must give the same bytes.
  auto cg = makeImage(5, 5, [](int x, int y) {
    return Pixel{uint8_t(x * 60), uint8_t(y * 60), 0, 255};
  });
  auto image = NSImage::makeWithCGImage(cg, NSZeroSize);
  for (int side : {13, 3}) {
    Target target(side, side);
    target.context->setImageInterpolation(NSImageInterpolationHigh);
    image->drawInRect(NSMakeRect(0, 0, side, side), NSZeroRect, NSCompositingOperationCopy, 1,
                      false, {});
    auto direct =
        CGBitmapContextCreate(nullptr, size_t(side), size_t(side), 8, 4 * size_t(side),
                              CGColorSpaceCreateDeviceRGB(), kCGImageAlphaPremultipliedLast);
    CGContextSetInterpolationQuality(direct, kCGInterpolationHigh);
    CGContextDrawImage(direct, CGRectMake(0, 0, side, side), cg);
    const auto* d = static_cast<const uint8_t*>(CGBitmapContextGetData(direct));
    EXPECT_TRUE(std::equal(d, d + 4 * side * side, target.rep->bitmapData())) << side;
  }

  // The hint, or else the context's setting, picks pixel duplication.
  auto small = NSImage::makeWithCGImage(makeImage(2, 2, tag), NSZeroSize);
  for (bool viaHint : {true, false}) {
    Target target(4, 4);
    if (!viaHint) target.context->setImageInterpolation(NSImageInterpolationNone);
    small->drawInRect(NSMakeRect(0, 0, 4, 4), NSZeroRect, NSCompositingOperationCopy, 1, false,
                      viaHint ? kNoInterpolation : NSImageHints{});
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 4; ++x) EXPECT_EQ(target.at(x, y), tag(x / 2, y / 2));
  }
}

TEST_F(AppKitImage, LargestCanvasDrawsAndImageFactoriesCheckTheirInput) {
  Target target(4096, 4096, 2);
  ASSERT_NE(target.context, nullptr);
  auto image = NSImage::makeWithCGImage(makeImage(2, 2, tag), NSMakeSize(1, 1));
  image->drawInRect(NSMakeRect(0, 2047, 1, 1), NSZeroRect, NSCompositingOperationCopy, 1, false,
                    kNoInterpolation);
  EXPECT_EQ(target.at(0, 0), tag(0, 0));
  EXPECT_EQ(target.at(1, 1), tag(1, 1));
  EXPECT_EQ(target.at(2, 2), kClear);
  EXPECT_EQ(target.at(4095, 4095), kClear);

  EXPECT_EQ(NSImage::make(NSMakeSize(-1, 4)), nullptr);
  EXPECT_EQ(NSImage::make(NSMakeSize(NAN, 4)), nullptr);
  EXPECT_EQ(NSImage::makeWithCGImage(nullptr, NSZeroSize), nullptr);
  EXPECT_EQ(NSImage::makeWithCGImage(makeImage(3, 5, tag), NSZeroSize)->size(), NSMakeSize(3, 5));
  GraphicsFaults::failNext(GraphicsFault::BitmapRep);
  EXPECT_EQ(NSImage::makeWithCGImage(makeImage(3, 5, tag), NSZeroSize), nullptr);
}

TEST_F(AppKitImage, ACustomRepresentationIsDrawnAfreshAtTheSizeAndScaleItIsDrawnAt) {
  // The handler fills the left half of what it is given, red; flipped, the
  // top half (y down inside its rect).
  std::vector<NSRect> given;
  auto handler = [&given](NSRect dst) {
    given.push_back(dst);
    auto cg = NSGraphicsContext::currentContext()->CGContext();
    CGContextSetRGBFillColor(cg, 1, 0, 0, 1);
    CGContextFillRect(cg, NSMakeRect(dst.origin.x, dst.origin.y, dst.size.width / 2, dst.size.height / 2));
    return true;
  };
  auto image = NSImage::imageWithSize(NSMakeSize(4, 2), false, handler);
  ASSERT_TRUE(image);
  EXPECT_FALSE(NSImage::imageWithSize(NSMakeSize(-1, 2), false, handler));
  EXPECT_FALSE(NSImage::imageWithSize(NSMakeSize(4, 2), false, nullptr));

  // A bitmap representation of the wrong size beside it is never chosen.
  image->addRepresentation(solidRep(64, NSMakeSize(4, 2), kBlue));
  CGImageRef big = image->CGImageForProposedRect(nullptr, Target(8, 4, 2).context, nullptr);
  ASSERT_TRUE(big);
  EXPECT_EQ(CGImageGetWidth(big), 8u) << "the image's 4 points at 2 pixels each";
  EXPECT_EQ(CGImageGetHeight(big), 4u);
  NSRect proposed = NSMakeRect(0, 0, 10, 5);
  EXPECT_EQ(CGImageGetWidth(image->CGImageForProposedRect(&proposed, nullptr, nullptr)), 10u);

  {
    Target target(8, 4, 2);
    auto blue = NSImage::makeWithCGImage(makeImage(1, 1, [](int, int) { return kBlue; }), NSZeroSize);
    blue->drawInRect(NSMakeRect(0, 0, 4, 2), NSZeroRect, NSCompositingOperationCopy, 1, false, {});
    image->setSize(NSMakeSize(2, 1));  // drawn where it is asked to be, at the context's scale
    image->drawInRect(NSMakeRect(0, 0, 4, 2), NSZeroRect, NSCompositingOperationCopy, 1, false, {});
    EXPECT_EQ(given.back(), NSMakeRect(0, 0, 4, 2));
    EXPECT_EQ(target.at(0, 3), kRed) << "bottom left, y up";
    EXPECT_EQ(target.at(3, 2), kRed);
    EXPECT_EQ(target.at(4, 3), kClear) << "copy: the rest of the rect is cleared";
    EXPECT_EQ(target.at(0, 0), kClear);
  }
  {
    Target target(4, 2);
    auto flipped = NSImage::imageWithSize(NSMakeSize(4, 2), true, handler);
    flipped->drawInRect(NSMakeRect(0, 0, 4, 2), NSZeroRect, NSCompositingOperationSourceOver, 1, false, {});
    EXPECT_EQ(target.at(0, 0), kRed) << "a flipped handler's y runs down";
    EXPECT_EQ(target.at(0, 1), kClear);
  }
  image->setTemplate(true);
  image->setAccessibilityDescription("vurle");
  EXPECT_TRUE(image->isTemplate());
  EXPECT_EQ(image->accessibilityDescription(), "vurle");
}
