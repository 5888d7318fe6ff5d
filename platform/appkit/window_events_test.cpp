#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/appkit/application.hpp"
#include "platform/appkit/event.hpp"
#include "platform/appkit/screen.hpp"
#include "platform/appkit/tracking_area.hpp"
#include "platform/appkit/view.hpp"
#include "platform/appkit/window.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/events/event_tap.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/windowserver/cursor_state.hpp"
#include "platform/windowserver/window_list.hpp"
#include "platform/windowserver/window_server.hpp"

namespace platform {
namespace {

// A view that writes down the events it is handed, with where (in its own
// coordinates) they happened.
class RecordingView : public NSView {
 public:
  RecordingView(NSRect frame, std::string name, std::vector<std::string>& log)
      : NSView(frame), name_(std::move(name)), log_(log) {}
  bool isFlipped() const override { return true; }
  void mouseDown(const NSEvent& e) override { note("down", e); }
  void mouseUp(const NSEvent& e) override { note("up", e); }
  void mouseEntered(const NSEvent& e) override { note("entered", e); }
  void mouseMoved(const NSEvent& e) override { note("moved", e); }
  void mouseExited(const NSEvent& e) override { note("exited", e); }
  void cursorUpdate(const NSEvent& e) override { note("cursor", e); }

 private:
  void note(const char* what, const NSEvent& e) {
    const NSPoint p = convertPointFromWindow(e.locationInWindow());
    log_.push_back(name_ + " " + what + " " + std::to_string(int(p.x)) + "," + std::to_string(int(p.y)));
  }
  std::string name_;
  std::vector<std::string>& log_;
};

class WindowEventsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WindowServer::shared();
    resetProcessState();
    NSScreen::setScreens({NSScreen::make(CGRectMake(0, 0, 1000, 800), 2)});
    NSApplication::shared();
    // The window's top-left corner at (100, 100) of the window server's
    // coordinates: its frame's origin is at y = 800 - 100 - 200.
    window = NSWindow::make(CGRectMake(100, 500, 300, 200), 2);
    window->setContentView(std::make_shared<NSView>(CGRectZero));
    left = std::make_shared<RecordingView>(CGRectMake(0, 0, 150, 200), "left", log);
    right = std::make_shared<RecordingView>(CGRectMake(150, 0, 150, 200), "right", log);
    window->contentView()->addSubview(left);
    window->contentView()->addSubview(right);
    window->orderFront();
  }
  void TearDown() override {
    left.reset();
    right.reset();
    window.reset();
    resetProcessState();
  }
  // A left-button event or a move at a window-server point, through the taps.
  void post(CGEventType type, CGPoint at) {
    CursorState::shared().setCursorLocation(at);
    CGEventPost(kCGHIDEventTap, CGEventCreateMouseEvent(nullptr, type, at, kCGMouseButtonLeft));
    scope->runUntilIdle();
  }
  void click(CGPoint at) {
    post(kCGEventLeftMouseDown, at);
    post(kCGEventLeftMouseUp, at);
  }

  SimulatedSchedulerScope scope;
  std::vector<std::string> log;
  std::shared_ptr<NSWindow> window;
  std::shared_ptr<RecordingView> left, right;
};

TEST_F(WindowEventsTest, APressGoesToTheViewUnderItAndItsReleaseToTheSameView) {
  EXPECT_FALSE(NSApplication::shared()->isActive());
  post(kCGEventLeftMouseDown, {130, 150});
  EXPECT_TRUE(NSApplication::shared()->isActive()) << "a click activates the application";
  EXPECT_TRUE(window->isKeyWindow()) << "and makes its window key";
  post(kCGEventLeftMouseUp, {300, 120});  // released over the other view
  EXPECT_EQ(log, (std::vector<std::string>{"left down 30,50", "left up 200,20"}));

  // Another application's window in front takes the click; one of ours
  // that ignores mouse events lets it through to the window below.
  auto& table = WindowTable::shared();
  WindowRecord other;
  other.number = table.allocateWindowNumber();
  other.ownerPID = 4242;
  other.bounds = CGRectMake(90, 90, 100, 100);
  other.onScreen = true;
  table.addWindow(other);
  auto panel = NSWindow::make(CGRectMake(300, 500, 100, 200), 2);
  panel->setContentView(std::make_shared<RecordingView>(CGRectZero, "panel", log));
  panel->setIgnoresMouseEvents(true);
  panel->orderFront();
  log.clear();
  click({150, 150});  // under the other application's window
  click({350, 150});  // under our click-through panel
  EXPECT_EQ(log, (std::vector<std::string>{"right down 100,50", "right up 100,50"}));

  // A window under a sheet takes no press.
  auto sheet = NSWindow::make(CGRectMake(0, 0, 100, 100), 2);
  window->beginSheet(sheet);
  log.clear();
  click({350, 150});
  EXPECT_TRUE(log.empty());
}

TEST_F(WindowEventsTest, TrackingAreasHearTheyAreEnteredMovedInAndLeftWhileTheyAreActive) {
  left->addTrackingArea(std::make_shared<NSTrackingArea>(
      CGRectZero, NSTrackingMouseEnteredAndExited | NSTrackingMouseMoved | NSTrackingCursorUpdate |
                      NSTrackingActiveInActiveApp | NSTrackingInVisibleRect,
      left));
  // Only its own rect, always, entered and exited only.
  right->addTrackingArea(std::make_shared<NSTrackingArea>(CGRectMake(0, 0, 50, 50),
                                                          NSTrackingMouseEnteredAndExited | NSTrackingActiveAlways, right));
  post(kCGEventMouseMoved, {120, 120});
  EXPECT_TRUE(log.empty()) << "the application is not active";
  NSWorkspace::sharedWorkspace().activateApplication(::getpid());
  post(kCGEventMouseMoved, {121, 121});
  post(kCGEventMouseMoved, {125, 130});
  post(kCGEventMouseMoved, {260, 120});  // into the right view's area
  post(kCGEventMouseMoved, {320, 120});  // inside the right view, outside its area
  post(kCGEventMouseMoved, {260, 120});
  post(kCGEventMouseMoved, {700, 400});  // off the window
  EXPECT_EQ(log, (std::vector<std::string>{"left entered 21,21", "left cursor 21,21", "left moved 25,30",
                                           "left exited 160,20", "right entered 10,20", "right exited 70,20",
                                           "right entered 10,20", "right exited 450,300"}));
}

}  // namespace
}  // namespace platform
