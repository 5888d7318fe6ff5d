#include "cursor/art/pointer_animation.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <set>
#include <vector>

#include "cursor/art/cursor_raster_cache.hpp"
#include "cursor/art/cursor_scale.hpp"
#include "cursor/art/cursor_transition_frames.hpp"
#include "cursor/art/metal_cursor_renderer.hpp"
#include "platform/appkit/screen.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/windowserver/window_server.hpp"
#include "platform/metal/metal_test_support.hpp"

namespace vurle {
namespace {

using platform::CGRectMake;

class PointerAnimationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::WindowServer::shared();
    platform::resetProcessState();
    CursorTransitionFrames::removeAll();
    CursorRasterCache::storage()->removeAllObjects();
  }

  static ArtRef arrow() { return NativeCursorLibrary::shared()->art(PointerKind::arrow); }
  static ArtRef ibeam() { return NativeCursorLibrary::shared()->art(PointerKind::text); }
};

// Art of a custom cursor: an opaque square of `side` points (filling the
// image from `inset` on, so different insets make different pictures) with
// its hot spot where given; 1× and 2× representations.
ArtRef squareArt(CGFloat width, CGFloat height, CGPoint hotspot, CGFloat inset = 0,
                 uint8_t shade = 200) {
  auto image = platform::NSImage::make(platform::NSMakeSize(width, height));
  for (int factor : {1, 2}) {
    const int w = static_cast<int>(std::ceil(width * factor));
    const int h = static_cast<int>(std::ceil(height * factor));
    auto rep = platform::NSBitmapImageRep::make(nullptr, w, h, 8, 4, true, false,
                                                std::string(platform::NSDeviceRGBColorSpace), 4 * w, 32);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        if (x < inset * factor || y < inset * factor) continue;
        uint8_t* p = rep->bitmapData() + y * rep->bytesPerRow() + 4 * x;
        p[0] = p[1] = p[2] = shade;
        p[3] = 255;
      }
    }
    rep->setSize(platform::NSMakeSize(width, height));
    image->addRepresentation(rep);
  }
  return NativeCursorArt::make(platform::NSCursor::make(image, hotspot));
}

std::vector<uint8_t> bytesOf(const CursorFrame& frame) {
  std::vector<uint8_t> bytes(static_cast<size_t>(frame.canvas.pixelCount()) * 4);
  EXPECT_TRUE(rgbaPixels(frame.image, frame.canvas.pixelWidth(), frame.canvas.pixelHeight(), bytes));
  return bytes;
}

TEST_F(PointerAnimationTest, EmptyAnimationRendersNothingAndBeginOnItShows) {
  PointerAnimation animation(2.0);
  EXPECT_FALSE(animation.frame(0));
  EXPECT_TRUE(animation.interpolatedField(0).empty());

  // No art is refused without touching anything.
  EXPECT_FALSE(animation.show(nullptr, 1));
  EXPECT_FALSE(animation.begin(nullptr, 1, 0.15));
  EXPECT_EQ(animation.started, 0);

  ASSERT_TRUE(animation.begin(arrow(), 2, 0.15));
  EXPECT_EQ(animation.duration, 0);
  EXPECT_EQ(animation.started, 2);
  EXPECT_EQ(animation.to, arrow());
  EXPECT_FALSE(animation.cachedTransition);
  const auto frame = animation.frame(2.05);
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->image, arrow()->staticRaster()->frame.image);
  EXPECT_EQ(animation.frameStep(2.05), 128);
  EXPECT_EQ(animation.easedProgress(2.05), 1.0f);
}

TEST_F(PointerAnimationTest, ProgressIsQuantisedToFrameStepsOnlyForCachedMorphs) {
  PointerAnimation animation;
  ASSERT_TRUE(animation.show(arrow(), 0));
  ASSERT_TRUE(animation.begin(ibeam(), 10, 0.15));
  ASSERT_TRUE(animation.cachedTransition);
  EXPECT_EQ(animation.cachedTransition->source, arrow()->identity());
  EXPECT_EQ(animation.cachedTransition->target, ibeam()->identity());

  struct Case {
    double t;
    int64_t step;
    float eased;
  };
  const auto smooth = [](float p) { return p * p * (3.0f - (p + p)); };
  const Case cases[] = {
      {9.0, 0, 0.0f},
      {10.0, 0, 0.0f},
      {10.075, 64, 0.5f},  // exactly the middle
      {10.0 + 0.15 * 0.3, 38, smooth(38 * 0.0078125f)},
      {10.15, 128, 1.0f},
      {99.0, 128, 1.0f},
      {std::nan(""), 0, 0.0f},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(animation.frameStep(c.t), c.step) << c.t;
    EXPECT_EQ(animation.easedProgress(c.t), c.eased) << c.t;
  }

  // Without a cache key the progress is continuous.
  animation.cachedTransition.reset();
  EXPECT_EQ(animation.easedProgress(10.0 + 0.15 * 0.3), smooth(static_cast<float>(0.3)));
  EXPECT_TRUE(animation.isRunning(10.1));
  EXPECT_FALSE(animation.isRunning(10.2));
}

TEST_F(PointerAnimationTest, CachedMorphHasExactly129DistinctFramesSharedByLaterMorphs) {
  PointerAnimation animation(2.0);
  ASSERT_TRUE(animation.show(arrow(), 0));
  ASSERT_TRUE(animation.begin(ibeam(), 1, 0.15));
  std::set<const platform::CGImage*> pictures;
  for (int k = -10; k <= 1290; ++k) {
    const auto frame = animation.frame(1 + 0.15 * k / 1280.0);
    ASSERT_TRUE(frame) << k;
    pictures.insert(frame->image.get());
  }
  EXPECT_EQ(pictures.size(), 129u);
  EXPECT_EQ(CursorTransitionFrames::count(), 127);  // the two ends are not stored

  // A later move between the same cursors serves the stored pictures, and
  // only stored frames are reusable for registration.
  PointerAnimation again(2.0);
  ASSERT_TRUE(again.show(arrow(), 5));
  ASSERT_TRUE(again.begin(ibeam(), 6, 0.3));
  const auto middle = again.frame(6.15);
  ASSERT_TRUE(middle);
  EXPECT_TRUE(pictures.count(middle->image.get()));
  EXPECT_TRUE(middle->reuse);
  EXPECT_EQ(CursorTransitionFrames::count(), 127);
}

TEST_F(PointerAnimationTest, FrameEndsAreTheInitialAndDestinationPictures) {
  const auto small = squareArt(6, 6, {3, 3});
  const auto big = squareArt(14, 14, {7, 7}, 2);
  PointerAnimation animation(2.0);
  ASSERT_TRUE(animation.show(small, 0));
  ASSERT_TRUE(animation.begin(big, 1, 0.2));
  EXPECT_FALSE(animation.cachedTransition);  // custom arts, not asked for
  ASSERT_TRUE(animation.initialFrame && animation.destination);
  EXPECT_EQ(animation.frame(0.5)->image, animation.initialFrame->image);
  EXPECT_EQ(animation.frame(1.0)->image, animation.initialFrame->image);
  EXPECT_EQ(animation.frame(1.2)->image, animation.destination->frame.image);
  EXPECT_EQ(animation.frame(7.0)->image, animation.destination->frame.image);
  const auto middle = animation.frame(1.1);
  ASSERT_TRUE(middle);
  EXPECT_NE(middle->image, animation.initialFrame->image);
  EXPECT_NE(middle->image, animation.destination->frame.image);
  EXPECT_FALSE(middle->reuse);
  EXPECT_EQ(middle->canvas, animation.destination->frame.canvas);

  // The source was padded onto the larger canvas: the small square's
  // picture sits in the middle of the initial frame.
  const auto smallRest = small->staticRaster();
  ASSERT_TRUE(smallRest);
  EXPECT_EQ(animation.initialFrame->canvas, animation.destination->frame.canvas);
  const auto padded = bytesOf(*animation.initialFrame);
  const int64_t sw = smallRest->frame.canvas.pixelWidth(), w = animation.initialFrame->canvas.pixelWidth();
  const int64_t offset = 8;  // (7 + 3) - (3 + 3) points at scale 2
  for (int64_t y = 0; y < smallRest->frame.canvas.pixelHeight(); ++y) {
    for (int64_t x = 0; x < sw; ++x) {
      for (int c = 0; c < 4; ++c) {
        ASSERT_EQ(padded[((y + offset) * w + x + offset) * 4 + c], (*smallRest->rgba)[(y * sw + x) * 4 + c]);
      }
    }
  }
  EXPECT_EQ(padded[0], 0);
  EXPECT_EQ(animation.sourceSolid.size(), static_cast<size_t>(animation.destination->frame.canvas.pixelCount()));

  // Resting: always the destination's picture.
  ASSERT_TRUE(animation.show(big, 3));
  EXPECT_EQ(animation.frame(2.0)->image, animation.destination->frame.image);
}

TEST_F(PointerAnimationTest, BeginMidTransitionStartsFromThePictureOnScreenWithoutCaching) {
  const auto third = squareArt(40, 12, {20, 6}, 0, 90);
  PointerAnimation animation(2.0);
  ASSERT_TRUE(animation.show(arrow(), 0));
  ASSERT_TRUE(animation.begin(ibeam(), 1, 0.2));
  ASSERT_TRUE(animation.cachedTransition);
  const auto onScreen = animation.frame(1.05);
  ASSERT_TRUE(onScreen);
  const CursorCanvas oldCanvas = animation.destination->frame.canvas;

  // Sampled at 1.05, started at 1.06, towards an art wider than the canvas.
  ASSERT_TRUE(animation.begin(third, 1.06, 0.2, 1.05));
  EXPECT_FALSE(animation.cachedTransition);
  EXPECT_EQ(animation.started, 1.06);
  EXPECT_EQ(animation.duration, 0.2);
  const CursorCanvas newCanvas = animation.destination->frame.canvas;
  EXPECT_TRUE(platform::CGRectContainsRect(newCanvas.bounds, oldCanvas.bounds));
  EXPECT_NE(newCanvas, oldCanvas);

  const auto first = animation.frame(1.06);
  ASSERT_TRUE(first);
  const auto shown = bytesOf(*onScreen), padded = bytesOf(*first);
  const int64_t ox = std::lround(2 * (oldCanvas.bounds.origin.x - newCanvas.bounds.origin.x));
  const int64_t oy = std::lround(2 * (oldCanvas.bounds.origin.y - newCanvas.bounds.origin.y));
  const int64_t ow = oldCanvas.pixelWidth(), nw = newCanvas.pixelWidth();
  for (int64_t y = 0; y < oldCanvas.pixelHeight(); ++y) {
    for (int64_t x = 0; x < ow; ++x) {
      for (int c = 0; c < 4; ++c) {
        ASSERT_EQ(padded[((y + oy) * nw + x + ox) * 4 + c], shown[(y * ow + x) * 4 + c]) << x << "," << y;
      }
    }
  }
}

TEST_F(PointerAnimationTest, BeginBeforeAnUnrenderedStartRedrawsTheInitialPicture) {
  const auto big = squareArt(14, 14, {7, 7}, 2, 120);
  const auto small = squareArt(6, 6, {3, 3});
  const auto other = squareArt(10, 10, {5, 5}, 0, 40);
  PointerAnimation animation(2.0);
  ASSERT_TRUE(animation.show(big, 0));
  ASSERT_TRUE(animation.begin(small, 1, 0.2));
  // The small art fits the big one's canvas, so the initial picture is the
  // big art's bitmap frame, which keeps no bytes of its own.
  ASSERT_FALSE(animation.initialFrame->pixels);
  // Sampled before the start: the morph is running and shows the big art.
  ASSERT_TRUE(animation.begin(other, 1.01, 0.2, 0.5));
  EXPECT_EQ(animation.sourceRGBA, *big->staticRaster()->rgba);
}

// A begin that makes a cache key must start from the resting source's own
// picture: the frames are stored under the pair of arts and reused for every
// later move, so an intermediate picture handed in as the showing frame
// would poison them all.
TEST_F(PointerAnimationTest, CachedMorphIgnoresAShowingFrameThatIsNotTheRestingPicture) {
  const auto small = squareArt(6, 6, {3, 3});
  const auto big = squareArt(14, 14, {7, 7}, 2, 120);
  const auto other = squareArt(10, 10, {5, 5}, 0, 40);
  const auto bigRest = big->staticRaster();
  ASSERT_TRUE(bigRest);

  for (bool caching : {true, false}) {
    SCOPED_TRACE(caching);
    CursorTransitionFrames::removeAll();
    PointerAnimation animation(2.0, std::nullopt, false, caching);
    ASSERT_TRUE(animation.show(small, 0));
    ASSERT_TRUE(animation.begin(big, 1, 0.2));
    // An intermediate picture of small -> big, on big's own canvas.
    const auto intermediate = animation.frame(1.1);
    ASSERT_TRUE(intermediate);
    ASSERT_EQ(intermediate->canvas, bigRest->frame.canvas);
    ASSERT_NE(bytesOf(*intermediate), *bigRest->rgba);

    // Long after the end, the caller still hands in that picture.
    ASSERT_TRUE(animation.begin(other, 5, 0.2, 5.0, intermediate));
    EXPECT_EQ(animation.cachedTransition.has_value(), caching);
    const auto mid = animation.frame(5.1);
    ASSERT_TRUE(mid);
    if (!caching) {
      // Uncached morphs start from what the caller shows.
      EXPECT_EQ(animation.initialFrame->image, intermediate->image);
      continue;
    }
    EXPECT_EQ(animation.initialFrame->image, bigRest->frame.image);
    const auto stored = bytesOf(*mid);

    // The same morph from a clean rest renders the same picture.
    CursorTransitionFrames::removeAll();
    PointerAnimation clean(2.0, std::nullopt, false, true);
    ASSERT_TRUE(clean.show(big, 0));
    ASSERT_TRUE(clean.begin(other, 1, 0.2));
    const auto reference = clean.frame(1.1);
    ASSERT_TRUE(reference);
    EXPECT_EQ(stored, bytesOf(*reference));
  }
}

TEST_F(PointerAnimationTest, MorphsOverTheLimitsShowTheTargetAtOnce) {
  struct Case {
    const char* name;
    std::optional<int64_t> pixelLimit;
    CGFloat hotspotX;  // the two arts sit at ±hotspotX
    bool canTransition;
  };
  const Case cases[] = {
      // 616 × 16 points at scale 2: 39424 pixels, over the default 24576.
      {"default limit", std::nullopt, 300, false},
      {"raised limit", 200000, 300, true},
      // 2064 points wide is 4128 pixels, over 4096 on a side.
      {"side", 10000000, 1024, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto left = squareArt(10, 10, {c.hotspotX, 0});
    const auto right = squareArt(10, 10, {-c.hotspotX, 0});
    ASSERT_TRUE(left && right);
    PointerAnimation animation(2.0, c.pixelLimit);
    ASSERT_TRUE(animation.show(left, 0));
    EXPECT_EQ(animation.canTransition(*right, 0), c.canTransition);
    ASSERT_TRUE(animation.begin(right, 1, 0.15));
    const bool morphs = c.canTransition && c.hotspotX < 1024;
    EXPECT_EQ(animation.duration, morphs ? 0.15 : 0.0);
    EXPECT_EQ(animation.to, right);
    EXPECT_EQ(animation.started, 1);
  }
}

TEST_F(PointerAnimationTest, MismatchedSourceGivesNoFieldAndNoFrame) {
  PointerAnimation animation(2.0);
  ASSERT_TRUE(animation.show(arrow(), 0));
  ASSERT_TRUE(animation.begin(ibeam(), 1, 0.2));
  animation.cachedTransition.reset();
  ASSERT_FALSE(animation.interpolatedField(1.1).empty());
  animation.sourceSolid.pop_back();
  EXPECT_TRUE(animation.interpolatedField(1.1).empty());
  EXPECT_FALSE(animation.frame(1.1));
  // The ends need no rendering.
  EXPECT_TRUE(animation.frame(0.5));
  EXPECT_EQ(animation.interpolatedField(2.0), *animation.destination->solid);
}

TEST_F(PointerAnimationTest, RenderScaleChangeRestsOnTheCurrentArtAtTheNewScaleFirst) {
  PointerAnimation animation;
  ASSERT_TRUE(animation.show(arrow(), 0));
  EXPECT_EQ(animation.destination->frame.canvas.pixelScale, 2.0);
  platform::NSScreen::setScreens({platform::NSScreen::make(CGRectMake(0, 0, 1920, 1080), 1.0)});
  ASSERT_TRUE(refreshRenderScale());
  ASSERT_TRUE(animation.begin(ibeam(), 1, 0.2));
  EXPECT_EQ(animation.destination->frame.canvas.pixelScale, 1.0);
  EXPECT_EQ(animation.initialFrame->canvas.pixelScale, 1.0);
  EXPECT_TRUE(animation.frame(1.1));

  // An unusable fixed scale rests on nothing.
  PointerAnimation broken(std::nan(""));
  EXPECT_FALSE(broken.show(arrow(), 0));
  EXPECT_FALSE(broken.frame(0));
}

TEST_F(PointerAnimationTest, DeviceAndCPUPathsOfOneMorphAgreeWithinRoundingOfOne) {
  platform::SimulatedSchedulerScope scope;
  const auto renderer = MetalCursorRenderer::shared();
  scope->runUntilIdle();  // the preparation queued on the utility queue
  if (!platform::MTLCreateSystemDefaultDevice()) GTEST_SKIP() << "no OpenCL device here";
  ASSERT_TRUE(renderer->isPrepared()) << renderer->preparationError().value_or("?");

  PointerAnimation device(2.0, std::nullopt, true), cpu(2.0, std::nullopt, false);
  for (auto* animation : {&device, &cpu}) {
    ASSERT_TRUE(animation->show(arrow(), 0));
    ASSERT_TRUE(animation->begin(ibeam(), 1, 0.15));
  }
  for (double t : {1.01, 1.05, 1.075, 1.12, 1.149}) {
    const int64_t before = renderer->submissions();
    CursorTransitionFrames::removeAll();  // both must render, not share a stored frame
    const auto a = device.frame(t);
    CursorTransitionFrames::removeAll();
    const auto b = cpu.frame(t);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(renderer->submissions(), before + 1);
    // A frame made from a bitmap carries no pixels: fail here rather than crash.
    ASSERT_TRUE(a->pixels && b->pixels) << t;
    ASSERT_EQ(a->pixels->size(), b->pixels->size());
    int ones = 0;
    for (size_t i = 0; i < a->pixels->size(); ++i) {
      const int difference = std::abs(int{(*a->pixels)[i]} - int{(*b->pixels)[i]});
      ASSERT_LE(difference, 1) << "byte " << i << " at " << t;
      ones += difference;
    }
    EXPECT_LT(ones, static_cast<int>(a->pixels->size() / 100)) << t;
  }
  EXPECT_EQ(renderer->fallbacks(), 0);
}

TEST_F(PointerAnimationTest, RgbaPixelsRefusesABufferOfTheWrongSize) {
  const auto raster = arrow()->staticRaster();
  ASSERT_TRUE(raster);
  const auto& canvas = raster->frame.canvas;
  std::vector<uint8_t> bytes(static_cast<size_t>(canvas.pixelCount()) * 4);
  ASSERT_TRUE(rgbaPixels(raster->frame.image, canvas.pixelWidth(), canvas.pixelHeight(), bytes));
  EXPECT_EQ(bytes, *raster->rgba);
  bytes.pop_back();
  EXPECT_FALSE(rgbaPixels(raster->frame.image, canvas.pixelWidth(), canvas.pixelHeight(), bytes));
  EXPECT_FALSE(rgbaPixels(nullptr, 1, 1, bytes));
}

}  // namespace
}  // namespace vurle
