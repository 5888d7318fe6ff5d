#include "cursor/art/cursor_scale.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <thread>

#include "platform/appkit/screen.hpp"
#include "platform/dyld/symbol_registry.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/windowserver/window_server.hpp"

namespace vurle {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

class ScaleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::WindowServer::shared();
    platform::resetProcessState();
    platform::NSScreen::setScreens({platform::NSScreen::make(platform::CGRectMake(0, 0, 1440, 900), 1.0)});
  }
  void TearDown() override { platform::resetProcessState(); }
};

TEST(RenderScaleRule, LargestUsableBackingFactorTimesCursorFactor) {
  struct Case {
    std::vector<double> factors;
    double cursor;
    double expected;
  } cases[] = {
      {{}, 1.0, 2.0},
      {{0.5, 1, 2, kNaN}, 0.8, 2.0},
      {{1, 2}, 1.5, 3.0},
      {{0.5, kInfinity}, 1.0, 2.0},
      {{3, 1}, kNaN, 3.0},
      {{1}, kInfinity, 1.0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(renderScale(c.factors, c.cursor), c.expected) << "cursor " << c.cursor;
  }
}

TEST(DefaultPixelLimit, GrowsWithTheSquareOfTheScaleUpToTheCap) {
  EXPECT_EQ(defaultPixelLimit(1), 24576);
  EXPECT_EQ(defaultPixelLimit(2), 24576);
  EXPECT_EQ(defaultPixelLimit(3), 55296);
  EXPECT_EQ(defaultPixelLimit(4), 98304);
  EXPECT_EQ(defaultPixelLimit(6.5), 259584);
  EXPECT_EQ(defaultPixelLimit(6.6), 262144);
  EXPECT_EQ(defaultPixelLimit(8), 262144);
  for (double bad : {0.0, -1.0, kInfinity, kNaN}) EXPECT_EQ(defaultPixelLimit(bad), 0) << bad;
}

TEST(CanvasFits, CountsWholePixelsAgainstTheLimit) {
  const auto rect = platform::CGRectMake(-3.25, -3.25, 22.5, 28.5);
  // 46 × 58 = 2668 pixels at scale 2.
  EXPECT_TRUE(canvasFits(rect, 2));
  EXPECT_TRUE(canvasFits(rect, 2, 2668));
  EXPECT_FALSE(canvasFits(rect, 2, 2667));
}

TEST(CanvasFits, RefusesDegenerateInput) {
  const auto good = platform::CGRectMake(0, 0, 10, 10);
  EXPECT_FALSE(canvasFits(platform::CGRectMake(0, 0, 0, 10), 2, 1000000));
  EXPECT_FALSE(canvasFits(platform::CGRectMake(0, 0, 10, 0), 2, 1000000));
  EXPECT_FALSE(canvasFits(platform::CGRectZero, 2, 1000000));
  EXPECT_FALSE(canvasFits(platform::CGRectNull, 2, 1000000));
  EXPECT_FALSE(canvasFits(platform::CGRectMake(kNaN, 0, 10, 10), 2));
  EXPECT_FALSE(canvasFits(platform::CGRectMake(0, 0, kInfinity, 10), 2));
  EXPECT_FALSE(canvasFits(good, 0));
  EXPECT_FALSE(canvasFits(good, -2));
  EXPECT_FALSE(canvasFits(good, kNaN));
  // 512 × 512 pixels is the largest morph canvas; one more column is not.
  EXPECT_TRUE(canvasFits(platform::CGRectMake(0, 0, 64, 64), 8));
  EXPECT_FALSE(canvasFits(platform::CGRectMake(0, 0, 64.125, 64), 8));
}

TEST(PixelAlignment, GrowsToWholePixelsAndOutsetsArtByThreePoints) {
  const auto aligned = pixelAligned(platform::CGRectMake(-3.3, -3.3, 10.5, 10.2), 2);
  EXPECT_DOUBLE_EQ(aligned.origin.x, -3.5);
  EXPECT_DOUBLE_EQ(aligned.origin.y, -3.5);
  EXPECT_DOUBLE_EQ(aligned.size.width, 11.0);  // ceil(14.4) / 2 + 3.5
  EXPECT_DOUBLE_EQ(aligned.size.height, 10.5);  // ceil(13.8) / 2 + 3.5

  const auto canvas = artCanvas(platform::CGRectMake(-4, -2.25, 17, 23), 2);
  EXPECT_EQ(canvas.pixelScale, 2);
  EXPECT_DOUBLE_EQ(canvas.bounds.origin.x, -7);
  EXPECT_DOUBLE_EQ(canvas.bounds.origin.y, -5.5);
  EXPECT_EQ(canvas.pixelWidth(), 46);
  EXPECT_EQ(canvas.pixelHeight(), 59);
}

TEST_F(ScaleTest, CursorScaleComesFromTheWindowServerOnceAndIsKept) {
  platform::WindowServer::shared().setCursorScale(1.5f);
  EXPECT_EQ(cursorScale(), 1.5);
  platform::WindowServer::shared().setCursorScale(2.0f);
  EXPECT_EQ(cursorScale(), 1.5);
  EXPECT_EQ(currentCursorScale(), 2.0);
  // The private functions are looked up once, however often the scale is read.
  auto& registry = platform::SymbolRegistry::shared();
  const int lookups = registry.lookupCount("CGSGetCursorScale");
  currentCursorScale();
  currentCursorScale();
  EXPECT_EQ(registry.lookupCount("CGSGetCursorScale"), lookups);
}

TEST_F(ScaleTest, UnusableCursorScaleAnswersReadAsOne) {
  auto& server = platform::WindowServer::shared();
  for (float bad : {0.5f, 0.0f, -2.0f, std::numeric_limits<float>::quiet_NaN(),
                    std::numeric_limits<float>::infinity()}) {
    server.setCursorScale(bad);
    EXPECT_EQ(currentCursorScale(), 1.0) << bad;
  }
  server.setCursorScale(3.0f);
  server.setCursorScaleError(platform::kCGErrorFailure);
  EXPECT_EQ(currentCursorScale(), 1.0);
}

TEST_F(ScaleTest, MissingFunctionMakesEveryScaleOne) {
  platform::WindowServer::shared().setCursorScale(2.0f);
  platform::SymbolRegistry::shared().remove("CGSMainConnectionID");
  EXPECT_EQ(currentCursorScale(), 1.0);
  // Still missing after the window server comes back: lookups are not retried.
  platform::WindowServer::shared().setCursorScale(2.0f);
  EXPECT_EQ(currentCursorScale(), 1.0);
}

TEST_F(ScaleTest, RenderScaleUsesEveryScreenAndTheStoredCursorScale) {
  platform::WindowServer::shared().setCursorScale(1.5f);
  platform::NSScreen::setScreens({platform::NSScreen::make(platform::CGRectMake(0, 0, 1440, 900), 1.0),
                                  platform::NSScreen::make(platform::CGRectMake(1440, 0, 1512, 982), 2.0)});
  EXPECT_EQ(renderScale(), 3.0);
  EXPECT_EQ(renderScale(1.0), 1.5);
  EXPECT_EQ(renderScale(0.25), 3.0);
}

TEST_F(ScaleTest, RefreshReportsAChangeOnce) {
  EXPECT_EQ(renderScale(), 1.0);
  EXPECT_FALSE(refreshRenderScale());

  platform::NSScreen::setScreens({platform::NSScreen::make(platform::CGRectMake(0, 0, 1440, 900), 1.0),
                                  platform::NSScreen::make(platform::CGRectMake(1440, 0, 1512, 982), 2.0)});
  EXPECT_EQ(renderScale(), 1.0);  // stored until refreshed
  EXPECT_TRUE(refreshRenderScale());
  EXPECT_EQ(renderScale(), 2.0);
  EXPECT_FALSE(refreshRenderScale());

  // A new pointer size alone is a change too.
  platform::WindowServer::shared().setCursorScale(2.0f);
  EXPECT_TRUE(refreshRenderScale());
  EXPECT_EQ(cursorScale(), 2.0);
  EXPECT_EQ(renderScale(), 4.0);
}

TEST_F(ScaleTest, ConcurrentReadsAndRefreshesAgree) {
  platform::WindowServer::shared().setCursorScale(2.0f);
  std::vector<std::thread> threads;
  std::vector<double> seen(6);
  for (int i = 0; i < 6; ++i) {
    threads.emplace_back([i, &seen] {
      for (int k = 0; k < 200; ++k) {
        if (i % 2 == 0) refreshRenderScale();
        seen[i] = renderScale();
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (double value : seen) EXPECT_EQ(value, 2.0);
}

}  // namespace
}  // namespace vurle
