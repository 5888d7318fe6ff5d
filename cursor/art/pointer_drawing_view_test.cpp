#include "cursor/art/pointer_drawing_view.hpp"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "cursor/art/native_cursor_library.hpp"
#include "platform/appkit/window.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/windowserver/window_server.hpp"

namespace vurle {
namespace {

using platform::CGRectMake;
using Pixel = std::array<uint8_t, 4>;

constexpr Pixel kRed{255, 0, 0, 255};
constexpr Pixel kBlue{0, 0, 255, 255};
constexpr Pixel kClear{0, 0, 0, 0};

class PointerDrawingViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::WindowServer::shared();
    platform::resetProcessState();
  }
};

// A frame whose top `pixelScale` pixel rows are red and the rest blue, so
// an upside-down or misplaced drawing shows.
CursorFrame stripedFrame(CGRect bounds, CGFloat pixelScale) {
  const CursorCanvas canvas{pixelScale, bounds};
  const int64_t w = canvas.pixelWidth(), h = canvas.pixelHeight();
  auto bytes = std::make_shared<std::vector<uint8_t>>();
  for (int64_t y = 0; y < h; ++y) {
    for (int64_t x = 0; x < w; ++x) {
      const Pixel& p = y < pixelScale ? kRed : kBlue;
      bytes->insert(bytes->end(), p.begin(), p.end());
    }
  }
  auto frame = CursorFrame::make(bytes, canvas, false);
  EXPECT_TRUE(frame);
  return *frame;
}

// One draw pass of the whole view at one pixel per point.
struct Drawing {
  std::shared_ptr<platform::NSBitmapImageRep> rep;
  Pixel at(int x, int y) const {
    const uint8_t* p = rep->bitmapData() + y * rep->bytesPerRow() + 4 * x;
    return {p[0], p[1], p[2], p[3]};
  }
};

Drawing draw(PointerDrawingView& view) {
  Drawing drawing{view.bitmapImageRepForCachingDisplayInRect(view.bounds())};
  // Stale content outside the picture must be cleared by the pass.
  std::fill(drawing.rep->bitmapData(),
            drawing.rep->bitmapData() + drawing.rep->bytesPerRow() * drawing.rep->pixelsHigh(), 255);
  view.cacheDisplayInRect(view.bounds(), drawing.rep);
  return drawing;
}

TEST_F(PointerDrawingViewTest, StartsLayerBackedFlippedOnTheArrowsRestingFrame) {
  const auto view = std::make_shared<PointerDrawingView>(CGRectMake(0, 0, 80, 80));
  EXPECT_TRUE(view->isFlipped());
  EXPECT_TRUE(view->wantsLayer());
  EXPECT_EQ(view->layerContentsRedrawPolicy(),
            platform::NSViewLayerContentsRedrawPolicy::OnSetNeedsDisplay);

  const auto arrow = NativeCursorLibrary::shared()->art(PointerKind::arrow);
  ASSERT_TRUE(arrow);
  const auto raster = arrow->staticRaster();
  ASSERT_TRUE(raster && view->image());
  EXPECT_EQ(view->image()->image, raster->frame.image);
  EXPECT_EQ(view->image()->canvas.pixelScale, 2.0);  // the default screen's render scale
}

TEST_F(PointerDrawingViewTest, PlacesTheHotspotAndScalesByPointerScaleNotByPixelDensity) {
  struct Case {
    CGFloat pointerScale, pixelScale;
    CGRect bounds;
    int left, top, width, height;  // expected, view pixels
  };
  const Case cases[] = {
      // Bounds starting at (-3, -3), twice the point size: drawn from (34, 34).
      {2, 1, CGRectMake(-3, -3, 10, 8), 34, 34, 20, 16},
      // Made at render scale 2: drawn at its point size, not twice it.
      {1, 2, CGRectMake(-3, -3, 10, 8), 37, 37, 10, 8},
      {1, 1, CGRectMake(-10, -2, 6, 4), 30, 38, 6, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.left);
    const auto view = std::make_shared<PointerDrawingView>(CGRectMake(0, 0, 80, 80));
    view->imageInterpolation = platform::NSImageInterpolationNone;
    view->setPointerScale(c.pointerScale);
    view->setImage(stripedFrame(c.bounds, c.pixelScale));
    const Drawing d = draw(*view);
    const int right = c.left + c.width - 1, bottom = c.top + c.height - 1;
    // The picture is upright: its red top row at the top.
    EXPECT_EQ(d.at(c.left, c.top), kRed);
    EXPECT_EQ(d.at(right, c.top + int(c.pointerScale) - 1), kRed);
    EXPECT_EQ(d.at(c.left, c.top + int(c.pointerScale)), kBlue);
    EXPECT_EQ(d.at(right, bottom), kBlue);
    for (auto [x, y] : {std::pair{c.left - 1, c.top}, {c.left, c.top - 1}, {right + 1, bottom},
                        {right, bottom + 1}, {0, 0}, {79, 79}}) {
      EXPECT_EQ(d.at(x, y), kClear) << x << "," << y;
    }
  }
}

TEST_F(PointerDrawingViewTest, InterpolationSettingReachesTheDrawing) {
  const auto view = std::make_shared<PointerDrawingView>(CGRectMake(0, 0, 80, 80));
  view->setPointerScale(2);
  view->setImage(stripedFrame(CGRectMake(-3, -3, 10, 8), 1));
  view->imageInterpolation = platform::NSImageInterpolationNone;
  EXPECT_EQ(draw(*view).at(36, 35), kRed);  // pixel doubling
  view->imageInterpolation = platform::NSImageInterpolationHigh;
  const Pixel smooth = draw(*view).at(36, 35);  // between the red and blue rows
  EXPECT_GT(smooth[0], 0);
  EXPECT_LT(smooth[0], 255);
  EXPECT_GT(smooth[2], 0);
}

TEST_F(PointerDrawingViewTest, AnchorDotIsSystemBlueCentredOnTheHotspot) {
  const auto view = std::make_shared<PointerDrawingView>(CGRectMake(0, 0, 40, 40));
  view->setImage(std::nullopt);
  view->hotspot = CGPoint{12, 20};
  EXPECT_EQ(draw(*view).at(12, 20), kClear);  // off by default, and stale pixels cleared
  view->showAnchor = true;
  const Drawing d = draw(*view);
  for (auto [x, y] : {std::pair{11, 19}, {12, 19}, {11, 20}, {12, 20}}) {
    EXPECT_EQ(d.at(x, y), (Pixel{0, 122, 255, 255})) << x << "," << y;
  }
  for (auto [x, y] : {std::pair{9, 20}, {14, 20}, {12, 17}, {12, 22}}) {
    EXPECT_EQ(d.at(x, y), kClear) << x << "," << y;
  }
}

TEST_F(PointerDrawingViewTest, RedrawIsRequestedOnlyWhenThePictureObjectChanges) {
  const CursorFrame a = stripedFrame(CGRectMake(-3, -3, 10, 8), 1);
  const CursorFrame b = stripedFrame(CGRectMake(-3, -3, 10, 8), 1);
  CursorFrame aMoved = a;  // the same picture object on another canvas
  aMoved.canvas.bounds.origin.x = -4;
  struct Case {
    std::optional<CursorFrame> before, after;
    bool redraws;
  };
  const Case cases[] = {
      {a, a, false},         {a, aMoved, false}, {a, b, true},
      {std::nullopt, a, true}, {a, std::nullopt, true}, {std::nullopt, std::nullopt, false},
  };
  const auto view = std::make_shared<PointerDrawingView>(CGRectMake(0, 0, 80, 80));
  for (size_t i = 0; i < std::size(cases); ++i) {
    view->setImage(cases[i].before);
    view->setNeedsDisplay(false);
    view->setImage(cases[i].after);
    EXPECT_EQ(view->needsDisplay(), cases[i].redraws) << i;
    EXPECT_EQ(view->image().has_value(), cases[i].after.has_value()) << i;
  }
  // The plain settings do not redraw by themselves.
  view->setNeedsDisplay(false);
  view->hotspot = CGPoint{1, 1};
  view->showAnchor = true;
  view->setPointerScale(3);
  EXPECT_FALSE(view->needsDisplay());
}

TEST_F(PointerDrawingViewTest, NeverTakesClicksSoTheViewUnderneathGetsThem) {
  const auto container = std::make_shared<platform::NSView>(CGRectMake(0, 0, 200, 200));
  const auto view = std::make_shared<PointerDrawingView>(CGRectMake(10, 10, 80, 80));
  container->addSubview(view);
  for (auto point : {CGPoint{50, 50}, CGPoint{10, 10}, CGPoint{150, 150}}) {
    EXPECT_EQ(view->hitTest(point), nullptr);
    EXPECT_EQ(container->hitTest(point), container);
  }
}

TEST_F(PointerDrawingViewTest, RenderScaleActionRunsOncePerWindowBackingOrScaleChange) {
  const auto first = platform::NSWindow::make(CGRectMake(0, 0, 100, 100), 2.0);
  const auto second = platform::NSWindow::make(CGRectMake(0, 0, 100, 100), 1.0);
  const auto view = std::make_shared<PointerDrawingView>(CGRectMake(0, 0, 80, 80));
  first->setContentView(view);  // no action set yet: nothing to call
  int calls = 0;
  view->onRenderScaleChanged = [&calls] { ++calls; };

  second->setContentView(view);
  EXPECT_EQ(calls, 1);

  view->setNeedsDisplay(false);
  second->setBackingScaleFactor(2.0);
  EXPECT_EQ(calls, 2);
  EXPECT_TRUE(view->needsDisplay());

  view->setPointerScale(2.5);
  EXPECT_EQ(calls, 3);
  view->setPointerScale(2.5);
  EXPECT_EQ(calls, 3);

  // An action that replaces itself while running is safe.
  view->onRenderScaleChanged = [&] {
    view->onRenderScaleChanged = nullptr;
    ++calls;
  };
  second->setBackingScaleFactor(1.0);
  second->setBackingScaleFactor(3.0);
  EXPECT_EQ(calls, 4);
}

TEST(PointerDrawingViewDeathTest, CannotBeMadeFromAnArchive) {
  platform::NSCoder coder;
  EXPECT_DEATH(PointerDrawingView{coder}, "init\\(coder:\\) has not been implemented");
}

}  // namespace
}  // namespace vurle
