#include "ui/onboarding/pointer_test_strip.hpp"

#include <gtest/gtest.h>

#include "ui/onboarding/window_test_support.hpp"

#include "platform/appkit/application.hpp"
#include "platform/appkit/cursor.hpp"
#include "platform/appkit/screen.hpp"
#include "platform/appkit/window.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/graphics/appkit_image.hpp"
#include "platform/ui/graph.hpp"
#include "platform/ui/picture_test_support.hpp"
#include "platform/windowserver/cursor_state.hpp"
#include "platform/windowserver/window_server.hpp"

namespace vurle {
namespace {

using namespace platform;

// A 500 × 200 window at (100, 100) on a 1000 × 800 screen; the strip lies
// at (40, 50) in the window, so its flipped point (x, y) is at window
// (40 + x, 96 − y).
class PointerTestStripTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window = testing::freshProcessWithWindow();
    strip = PointerTestStripView::make();
    strip->setFrame(CGRectMake(40, 50, 420, 46));
    window->contentView()->addSubview(strip);
    strip->setNeedsLayout(true);
    strip->layoutSubtreeIfNeeded();
    NSApplication::shared()->activateIgnoringOtherApps(true);
    window->makeKeyAndOrderFront();
    scope->runUntilIdle();
  }
  void TearDown() override {
    strip.reset();
    window.reset();
    resetProcessState();
  }

  static CGPoint center(int region) { return {35.0 + 70.0 * region, 23}; }
  // Moves the real pointer to the strip point and answers the event for it.
  NSEvent moveTo(CGPoint p, NSEventType type = NSEventTypeMouseMoved) {
    const CGPoint inWindow{40 + p.x, 96 - p.y};
    CursorState::shared().setCursorLocation({100 + inWindow.x, 800 - (100 + inWindow.y)});
    return NSEvent(type, inWindow, scope->now(), ++eventNumber);
  }
  void frame() { CADisplayLink::fireAll(scope->now()); }

  SimulatedSchedulerScope scope;
  std::shared_ptr<NSWindow> window;
  std::shared_ptr<PointerTestStripView> strip;
  long eventNumber = 0;
};

TEST_F(PointerTestStripTest, RegionsSplitTheWidthAndTheRightEdgeLiesOutside) {
  struct Case {
    double x;
    std::optional<int> region;
  } cases[] = {{0, 0}, {69.999, 0}, {70, 1}, {349.9, 4}, {419.999, 5}, {420, std::nullopt}, {-0.001, std::nullopt}};
  for (const auto& c : cases) EXPECT_EQ(strip->regionIndex({c.x, 10}), c.region) << c.x;
  EXPECT_EQ(strip->regionRect(5), CGRectMake(350, 0, 70, 46));
  EXPECT_EQ(strip->stringForToolTip({300, 10}), "Text");
  EXPECT_EQ(strip->toolTipRects().size(), 6u);
  strip->setFrame(CGRectMake(40, 50, 0, 46));
  EXPECT_EQ(strip->regionIndex({0, 10}), std::nullopt) << "a strip of width 0 has no region";
  EXPECT_EQ(testStripRegions()[4].cursor, NSCursor::IBeamCursor());
  EXPECT_EQ(testStripRegions()[1].name, "Add");
}

TEST_F(PointerTestStripTest, TheGlyphScaleFitsTwentySevenByTwentyNineAndCapsAtOneAndAQuarter) {
  // The arrow (22 × 28, its shadow's room included) fits by its height; the
  // I-beam (10 × 19) would grow past 1.25 to fit; the 30 and 31 point
  // cursors shrink to 27 points.
  const CGSize expected[] = {{22 * 29.0 / 28, 29}, {27, 27}, {27, 27}, {27, 27}, {12.5, 23.75}, {27, 27}};
  for (int i = 0; i < PointerTestStripView::kRegionCount; ++i) {
    EXPECT_NEAR(strip->glyphRect(i).size.width, expected[i].width, 1e-9) << testStripRegions()[size_t(i)].name;
    EXPECT_NEAR(strip->glyphRect(i).size.height, expected[i].height, 1e-9) << testStripRegions()[size_t(i)].name;
  }
  EXPECT_EQ(strip->glyphRect(0).origin, CGPointMake(24, 8)) << "centred on whole points";
  EXPECT_EQ(strip->glyphRect(4).origin, CGPointMake(309, 11));

  // The drawing uses that rect: the I-beam's ink lies inside it and fills
  // most of its height.
  auto rep = NSBitmapImageRep::make(nullptr, 420, 46, 8, 4, true, false, NSDeviceRGBColorSpace, 4 * 420, 32);
  ASSERT_TRUE(rep);
  rep->setSize({420, 46});
  strip->cacheDisplayInRect(strip->bounds(), rep);
  int top = 46, bottom = -1, left = 420, right = -1;
  for (int y = 0; y < 46; ++y)
    for (int x = 282; x < 350; ++x)  // region 4, clear of its separator
      if (rep->bitmapData()[y * rep->bytesPerRow() + 4 * x + 3] > 0) {
        top = std::min(top, y), bottom = std::max(bottom, y);
        left = std::min(left, x), right = std::max(right, x);
      }
  const CGRect glyph = strip->glyphRect(4);
  EXPECT_GE(top, CGRectGetMinY(glyph));
  EXPECT_LT(bottom, CGRectGetMaxY(glyph));
  EXPECT_GE(left, CGRectGetMinX(glyph));
  EXPECT_LT(right, CGRectGetMaxX(glyph));
  EXPECT_GT(bottom - top + 1, 0.8 * glyph.size.height);
}

TEST_F(PointerTestStripTest, PlainModeInstallsCursorRectsAndModeSwitchesRefreshThemOnce) {
  strip->configure(std::nullopt, nullptr);
  window->invalidateCursorRectsForView(strip);
  ASSERT_EQ(strip->cursorRects().size(), 6u);
  EXPECT_EQ(strip->cursorRects()[5].cursor, NSCursor::resizeLeftRightCursor());
  const int before = strip->cursorRectRebuildCount();
  strip->configure(0.15, nullptr);
  strip->configure(std::nullopt, nullptr);
  strip->configure(0.15, nullptr);
  scope->runUntilIdle();
  EXPECT_EQ(strip->cursorRectRebuildCount(), before + 1) << "one refresh however many switches";
  EXPECT_TRUE(strip->cursorRects().empty()) << "local mode installs none";
}

TEST_F(PointerTestStripTest, RequestsForTheSameRegionAndEventAreDeduplicated) {
  strip->mouseEntered(moveTo(center(1), NSEventTypeMouseEntered));
  EXPECT_EQ(NSCursor::currentCursor(), NSCursor::dragCopyCursor());
  const long sets = NSCursor::setCount();
  strip->mouseMoved(moveTo({80, 30}));
  EXPECT_EQ(NSCursor::setCount(), sets) << "a move within the region changes nothing";
  const NSEvent update = moveTo({90, 30}, NSEventTypeCursorUpdate);
  strip->cursorUpdate(update);
  EXPECT_EQ(NSCursor::setCount(), sets + 1) << "a forced request with a new event sets it again";
  strip->cursorUpdate(update);
  EXPECT_EQ(NSCursor::setCount(), sets + 1) << "the same event number and timestamp change nothing";
  scope->runUntilIdle();
  EXPECT_FALSE(strip->lastCursorRequestEvent()) << "the queued block clears the remembered event";
  strip->cursorUpdate(update);
  EXPECT_EQ(NSCursor::setCount(), sets + 2);
  strip->resyncCursorTest();
  EXPECT_EQ(NSCursor::setCount(), sets + 3) << "a resync sets the cursor under the pointer without an event";
  EXPECT_EQ(strip->requestedCursorIndex(), 1);
}

TEST_F(PointerTestStripTest, LocalModeMorphsUnderThePointerUntilTheDurationThenSetsTheRealCursor) {
  std::vector<std::optional<int>> hovers;
  strip->configure(0.15, [&](std::optional<int> i) { hovers.push_back(i); });
  strip->mouseEntered(moveTo(center(0), NSEventTypeMouseEntered));
  EXPECT_EQ(NSCursor::currentCursor(), NSCursor::arrowCursor());
  const double start = scope->now();
  strip->mouseMoved(moveTo(center(4)));
  ASSERT_TRUE(strip->localLink());
  auto firstFrame = NSCursor::currentCursor();
  EXPECT_NE(firstFrame, NSCursor::IBeamCursor()) << "a morph frame, not the I-beam";
  auto link = strip->localLink();
  scope->advance(0.07);
  frame();
  EXPECT_NE(NSCursor::currentCursor(), firstFrame) << "a new frame each refresh";
  strip->mouseMoved(moveTo(center(3)));
  EXPECT_EQ(strip->localLink(), link) << "a move during a morph continues from the shape on screen";
  const double restarted = scope->now();
  scope->advance(start + 0.149 - scope->now() + (restarted - start));
  frame();
  EXPECT_TRUE(strip->localPresentation()) << "still morphing just before the duration";
  scope->advance(0.002);
  frame();
  EXPECT_EQ(NSCursor::currentCursor(), NSCursor::closedHandCursor());
  EXPECT_FALSE(strip->localLink());
  EXPECT_FALSE(link->isValid());
  EXPECT_EQ(hovers, (std::vector<std::optional<int>>{0, 4, 3}));
}

TEST_F(PointerTestStripTest, LocalModeSetsTheCursorDirectlyWhereTheStripCannotBeUsed) {
  strip->configure(0.15, nullptr);
  strip->mouseEntered(moveTo(center(0), NSEventTypeMouseEntered));
  auto sheet = NSWindow::make(CGRectMake(0, 0, 100, 100), 2);
  window->beginSheet(sheet);
  window->makeKeyWindow();
  strip->mouseMoved(moveTo(center(4)));
  EXPECT_FALSE(strip->localLink()) << "with a sheet attached";
  EXPECT_EQ(NSCursor::currentCursor(), NSCursor::IBeamCursor());
  window->endSheet(sheet);
  auto other = NSWindow::make(CGRectMake(600, 100, 100, 100), 2);
  other->makeKeyAndOrderFront();
  strip->mouseMoved(moveTo(center(2)));
  EXPECT_FALSE(strip->localLink()) << "with the window not key";
  EXPECT_EQ(NSCursor::currentCursor(), NSCursor::openHandCursor());
}

TEST_F(PointerTestStripTest, TheHighlightShowsAtOnceSlidesAndFadesAndLeavingResetsTheHover) {
  std::vector<std::optional<int>> hovers;
  strip->configure(std::nullopt, [&](std::optional<int> i) { hovers.push_back(i); });
  strip->mouseEntered(moveTo(center(2), NSEventTypeMouseEntered));
  strip->mouseMoved(moveTo(center(3)));
  strip->mouseExited(moveTo({500, -20}, NSEventTypeMouseExited));
  std::vector<std::pair<std::string, bool>> changes;
  for (const auto& c : strip->highlight()->changes())
    if (c.key == "opacity" || c.key == "frame") changes.emplace_back(c.key, c.actionsDisabled);
  EXPECT_EQ(changes, (std::vector<std::pair<std::string, bool>>{
                         {"opacity", true}, {"frame", true}, {"opacity", false}, {"frame", false}, {"opacity", false}}));
  EXPECT_EQ(strip->highlight()->frame(), strip->regionRect(3));
  EXPECT_EQ(strip->accessibilityValue(), "");
  EXPECT_EQ(hovers, (std::vector<std::optional<int>>{2, 3, std::nullopt}));
  EXPECT_FALSE(strip->requestedCursorIndex());

  NSWorkspace::sharedWorkspace().setReduceMotion(true);
  strip->mouseEntered(moveTo(center(0), NSEventTypeMouseEntered));
  strip->mouseMoved(moveTo(center(1)));
  EXPECT_TRUE(strip->highlight()->changes().back().actionsDisabled) << "no slide under Reduce Motion";
  EXPECT_EQ(strip->accessibilityValue(), "Add");
}

TEST_F(PointerTestStripTest, TheHighlightOfAnEndRegionStaysInsideTheRoundedEnds) {
  // Laid out 16 points inside a 452 × 78 host: the strip spans x 16 ... 436
  // and y 16 ... 62 of the picture.
  struct Case {
    int region;
    const char* picture;
    int edgeX;  // a column inside the strip at the hovered end
  } cases[] = {{0, "pointer_test_strip_first_hovered", 16}, {5, "pointer_test_strip_last_hovered", 435}};
  for (const auto& c : cases) {
    auto host = ui::NSHostingView::make(PointerTestStrip(std::nullopt, nullptr).padding(16), CGRectMake(0, 0, 452, 78));
    host->graph()->render();
    auto hosted =
        std::dynamic_pointer_cast<PointerTestStripView>(host->graph()->findKind("PointerTestStrip")->hostedView());
    ASSERT_TRUE(hosted);
    ASSERT_EQ(hosted->frame(), CGRectMake(16, 16, 420, 46));
    hosted->mouseEntered(NSEvent(NSEventTypeMouseEntered, {16 + 35.0 + 70 * c.region, 78 - 39.0}, 0, 1));
    ASSERT_EQ(hosted->hoveredIndex(), c.region);
    auto& graph = *host->graph();
    const auto window = ui::pixelOf(graph, 0, 0);
    ASSERT_TRUE(window);
    // The strip's corner pixels at the hovered end lie outside its radius
    // of 10: the window shows there, not the highlight's square corner.
    EXPECT_EQ(ui::pixelOf(graph, c.edgeX, 16), window) << c.region << " top corner";
    EXPECT_EQ(ui::pixelOf(graph, c.edgeX, 61), window) << c.region << " bottom corner";
    // Inside the rounding the highlight shows over the strip's background.
    const int inward = c.region == 0 ? 4 : -4;
    const auto highlighted = ui::pixelOf(graph, c.edgeX + inward, 39);
    const auto plain = ui::pixelOf(graph, 16 + 140 + 4, 39);  // region 2, not hovered
    ASSERT_TRUE(highlighted && plain);
    EXPECT_LT((*highlighted)[0], (*plain)[0]) << c.region << " highlight";
    EXPECT_LT((*plain)[0], (*window)[0]) << "the strip's own background";
    expectMatchesStoredPicture(graph, VURLE_PICTURES_DIR, c.picture);
  }
}

TEST_F(PointerTestStripTest, LeavingTheWindowCancelsAndTheActiveStripFollowsTheLastPlacedView) {
  EXPECT_EQ(PointerTestStripView::activeStrip(), strip);
  EXPECT_EQ(CursorTestStrip::activeStrip(), std::static_pointer_cast<CursorTestStrip>(strip)) << "the engine's seam";
  strip->configure(0.15, nullptr);
  strip->mouseEntered(moveTo(center(0), NSEventTypeMouseEntered));
  strip->mouseMoved(moveTo(center(4)));
  ASSERT_TRUE(strip->localLink());
  strip->removeFromSuperview();
  EXPECT_FALSE(strip->localLink());
  EXPECT_FALSE(strip->hoveredIndex());
  EXPECT_EQ(PointerTestStripView::activeStrip(), strip) << "held until the view is gone";
  strip.reset();
  EXPECT_EQ(PointerTestStripView::activeStrip(), nullptr);
}

TEST_F(PointerTestStripTest, TheDeclarativeWrapperConfiguresOnRenderAndClearsOnRemoval) {
  std::vector<std::optional<int>> hovers;
  auto shown = std::make_shared<bool>(true);
  auto root = [&](bool show, std::optional<double> duration) {
    return ui::VStack(ui::HorizontalAlignment::center, 0,
                      {ui::If(show, PointerTestStrip(duration, [&](std::optional<int> i) { hovers.push_back(i); }))})
        .padding(10);
  };
  auto host = ui::NSHostingView::make(root(true, std::nullopt), CGRectMake(0, 0, 460, 80));
  window->setContentView(host);
  scope->runUntilIdle();
  auto hosted = std::dynamic_pointer_cast<PointerTestStripView>(host->graph()->findKind("PointerTestStrip")->hostedView());
  ASSERT_TRUE(hosted);
  EXPECT_EQ(hosted->frame().size.width, 480) << "the window's content width less the padding";
  EXPECT_EQ(host->graph()->findLabel("Cursor test strip")->accessibility().help,
            "Move across the cursor regions to try cursor transitions.");
  host->setRootView(root(true, 0.15));
  scope->runUntilIdle();
  EXPECT_EQ(hosted->localAnimationDuration(), 0.15);
  const CGRect f = hosted->frame();
  hosted->mouseEntered(NSEvent(NSEventTypeMouseEntered, {f.origin.x + 175, 200 - (f.origin.y + 23)}, 0, 1));
  EXPECT_EQ(hosted->hoveredIndex(), 2);
  hovers.clear();
  expectMatchesStoredPicture(*host->graph(), VURLE_PICTURES_DIR, "pointer_test_strip");
  host->setRootView(root(false, 0.15));
  scope->runUntilIdle();
  EXPECT_EQ(hosted->window(), nullptr);
  hosted->mouseEntered(NSEvent(NSEventTypeMouseEntered, {10, 10}, 0, 1));
  EXPECT_TRUE(hovers.empty()) << "the dismantled strip calls no one";
}

}  // namespace
}  // namespace vurle
