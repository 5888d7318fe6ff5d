#include <gtest/gtest.h>

#include "platform/appkit/cursor.hpp"
#include "platform/appkit/screen.hpp"
#include "platform/appkit/slider.hpp"
#include "platform/appkit/tracking_area.hpp"
#include "platform/appkit/view.hpp"
#include "platform/appkit/window.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/notifications/notification_center.hpp"

namespace platform {
namespace {

class ViewTrackingTest : public ::testing::Test {
 protected:
  void SetUp() override { resetProcessState(); }
  void TearDown() override { resetProcessState(); }
};

struct Recorder : NSView {
  using NSView::NSView;
  std::vector<std::string>* log = nullptr;
  bool flipped = false;
  bool isFlipped() const override { return flipped; }
  void viewWillMoveToWindow(const std::shared_ptr<NSWindow>& w) override {
    log->push_back(std::string("will ") + (w ? "enter" : "leave") + (window() ? " from window" : ""));
  }
  void viewDidMoveToWindow() override { log->push_back(window() ? "did enter" : "did leave"); }
  void updateTrackingAreas() override { log->push_back("tracking"); }
  void layout() override { log->push_back("layout"); }
  void resetCursorRects() override { addCursorRect(bounds(), NSCursor::IBeamCursor()); }
};

TEST_F(ViewTrackingTest, AViewHearsItsWindowChangesLayoutAndCursorRectsInOrder) {
  std::vector<std::string> log;
  auto window = NSWindow::make(NSMakeRect(100, 100, 300, 200), 2);
  window->setContentView(std::make_shared<NSView>(NSZeroRect));
  auto view = std::make_shared<Recorder>(NSMakeRect(10, 20, 100, 50));
  view->log = &log;
  view->addCursorRect(view->bounds(), NSCursor::arrowCursor());
  EXPECT_TRUE(view->cursorRects().empty()) << "cursor rects are added only while they are reset";
  window->contentView()->addSubview(view);
  view->setNeedsLayout(true);
  window->contentView()->layoutSubtreeIfNeeded();
  window->contentView()->layoutSubtreeIfNeeded();
  window->invalidateCursorRectsForView(view);
  ASSERT_EQ(view->cursorRects().size(), 1u);
  EXPECT_EQ(view->cursorRects()[0].cursor, NSCursor::IBeamCursor());
  view->removeFromSuperview();
  EXPECT_EQ(log, (std::vector<std::string>{"will enter", "did enter", "tracking", "layout", "will leave from window",
                                           "did leave"}));
}

TEST_F(ViewTrackingTest, PointsConvertFromTheWindowIntoFlippedAndUnflippedViews) {
  std::vector<std::string> log;
  auto window = NSWindow::make(NSMakeRect(0, 0, 300, 200), 1);
  window->setContentView(std::make_shared<NSView>(NSZeroRect));
  auto flipped = std::make_shared<Recorder>(NSMakeRect(10, 20, 100, 50));
  flipped->log = &log;
  flipped->flipped = true;
  auto plain = std::make_shared<Recorder>(NSMakeRect(5, 5, 40, 30));
  plain->log = &log;
  window->contentView()->addSubview(flipped);
  flipped->addSubview(plain);
  // The flipped view spans window y 20...70, its top at 70.
  EXPECT_EQ(flipped->convertPointFromWindow({15, 65}), (NSPoint{5, 5}));
  // The plain one lies 5...35 below the flipped view's top: window y 65...35.
  EXPECT_EQ(plain->convertPointFromWindow({15, 64}), (NSPoint{0, 29}));
  EXPECT_EQ(flipped->visibleRect(), flipped->bounds());
  flipped->setFrame(NSMakeRect(250, 20, 100, 50));
  EXPECT_EQ(flipped->visibleRect(), NSMakeRect(0, 0, 50, 50)) << "clipped by the window's content";
  flipped->setHidden(true);
  EXPECT_TRUE(plain->isHiddenOrHasHiddenAncestor());
  EXPECT_EQ(plain->visibleRect(), NSZeroRect);
}

TEST_F(ViewTrackingTest, CursorsSetCountAndWindowsReportScreenAndOcclusion) {
  EXPECT_EQ(NSCursor::currentCursor(), nullptr);
  NSCursor::IBeamCursor()->set();
  NSCursor::IBeamCursor()->set();
  EXPECT_EQ(NSCursor::currentCursor(), NSCursor::IBeamCursor());
  EXPECT_EQ(NSCursor::setCount(), 2);

  auto left = NSScreen::make(NSMakeRect(0, 0, 800, 600), 2);
  auto right = NSScreen::make(NSMakeRect(800, 0, 800, 600), 1);
  NSScreen::setScreens({left, right});
  auto window = NSWindow::make(NSMakeRect(700, 100, 300, 200), 2);
  EXPECT_EQ(window->screen(), right) << "most of the frame lies on the right screen";
  int posts = 0;
  auto token = NSNotificationCenter::defaultCenter().addObserverForName(
      NSWindowDidChangeOcclusionStateNotification, window.get(), nullptr, [&](const NSNotification&) { ++posts; });
  window->orderFront();
  EXPECT_TRUE(window->occlusionStateVisible());
  window->setOccluded(true);
  window->setOccluded(true);
  EXPECT_FALSE(window->occlusionStateVisible());
  EXPECT_EQ(posts, 1);

  // With nothing showing the screens, an uncovered window is occluded too,
  // and hears of it each way; a covered one hears nothing.
  window->setOccluded(false);
  posts = 0;
  NSWindow::setScreensShown(false);
  NSWindow::setScreensShown(false);
  EXPECT_FALSE(window->occlusionStateVisible());
  EXPECT_EQ(posts, 1);
  NSWindow::setScreensShown(true);
  EXPECT_TRUE(window->occlusionStateVisible());
  EXPECT_EQ(posts, 2);
  window->setOccluded(true);
  posts = 0;
  NSWindow::setScreensShown(false);
  EXPECT_EQ(posts, 0);
  NSWindow::setScreensShown(true);
}

struct SliderTarget {
  std::vector<double> values;
  void changed(NSSlider& sender) { values.push_back(sender.doubleValue()); }
};

TEST_F(ViewTrackingTest, ASliderDragSnapsToTicksAndSendsAsConfigured) {
  auto slider = NSSlider::make(150, 60, 220);
  auto target = std::make_shared<SliderTarget>();
  slider->setTarget(target, &SliderTarget::changed);
  slider->setNumberOfTickMarks(17);
  slider->setAllowsTickMarkValuesOnly(true);
  slider->setContinuous(true);
  slider->dragKnob({0.0, 0.001, 0.53, 2.0});
  EXPECT_EQ(target->values, (std::vector<double>{60, 140, 220})) << "the same tick twice sends once";
  slider->setContinuous(false);
  slider->dragKnob({0.5, 0.26});
  EXPECT_EQ(target->values.back(), 100);
  EXPECT_EQ(target->values.size(), 4u) << "not continuous: one action when the drag ends";
  slider->setDoubleValue(1000);
  EXPECT_EQ(slider->doubleValue(), 220);
  target.reset();
  slider->dragKnob({0.0});
  EXPECT_EQ(slider->doubleValue(), 60) << "the knob moves though nobody is told";
}

}  // namespace
}  // namespace platform
