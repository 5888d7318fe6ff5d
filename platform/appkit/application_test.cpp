#include "platform/appkit/application.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <unistd.h>

#include "platform/appkit/event.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/appkit/screen.hpp"
#include "platform/dispatch/run_loop.hpp"
#include "platform/events/event.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/foundation/foreign_pid.hpp"
#include "platform/foundation/process_wide.hpp"

namespace platform {
namespace {

class RecordingDelegate : public NSApplicationDelegate {
 public:
  void applicationDidFinishLaunching(const NSNotification&) override { calls.push_back("launched"); }
  void applicationWillTerminate(const NSNotification&) override { calls.push_back("terminating"); }
  bool applicationShouldHandleReopen(NSApplication&, bool hasVisibleWindows) override {
    calls.push_back(hasVisibleWindows ? "reopen with a window" : "reopen without a window");
    return answer;
  }
  std::vector<std::string> calls;
  bool answer = false;
};

class ApplicationTest : public ::testing::Test {
 protected:
  void SetUp() override { resetProcessState(); }
  void TearDown() override { resetProcessState(); }
  SimulatedSchedulerScope scope;
};

TEST_F(ApplicationTest, RunsTheMainRunLoopUntilTerminated) {
  auto app = NSApplication::shared();
  auto delegate = std::make_shared<RecordingDelegate>();
  app->setDelegate(delegate);
  bool ranWhileRunning = false;
  auto timer = NSTimer::scheduledTimer(5.0, false, [&](NSTimer&) {
    ranWhileRunning = app->isRunning();
    app->terminate(nullptr);
    app->terminate(nullptr);  // a second request changes nothing
  });
  // Work queued after the stop must not run: run() returns at the stop.
  auto later = NSTimer::scheduledTimer(9.0, false, [&](NSTimer&) { delegate->calls.push_back("late"); });
  const auto observer = NSNotificationCenter::defaultCenter().addObserverForName(
      NSApplicationWillTerminateNotification, app.get(), nullptr,
      [&](const NSNotification&) { delegate->calls.push_back("posted"); });
  app->run();
  EXPECT_TRUE(ranWhileRunning);
  EXPECT_FALSE(app->isRunning());
  EXPECT_EQ(delegate->calls, (std::vector<std::string>{"launched", "terminating", "posted"}));
  EXPECT_DOUBLE_EQ(scope->now(), 1005.0);
  app->run();  // after terminate it returns at once
  EXPECT_EQ(delegate->calls.size(), 3u);
}

TEST_F(ApplicationTest, HoldsItsDelegateWeakly) {
  auto app = NSApplication::shared();
  auto delegate = std::make_shared<RecordingDelegate>();
  app->setDelegate(delegate);
  EXPECT_EQ(app->delegate(), delegate);
  delegate.reset();
  EXPECT_EQ(app->delegate(), nullptr);
  app->terminate(nullptr);  // no delegate: nothing to call, no crash
}

TEST_F(ApplicationTest, AReopenAsksTheDelegateWithTheVisibleWindowsUntilTerminated) {
  auto app = NSApplication::shared();
  EXPECT_TRUE(app->reopen());  // no delegate: the platform handles it
  auto delegate = std::make_shared<RecordingDelegate>();
  app->setDelegate(delegate);
  EXPECT_FALSE(app->reopen());
  auto window = NSWindow::make(NSMakeRect(0, 0, 100, 100), 1.0);
  window->makeKeyAndOrderFront();
  delegate->answer = true;
  EXPECT_TRUE(app->reopen());
  window->orderOut();
  EXPECT_TRUE(app->reopen());
  app->terminate(nullptr);
  EXPECT_FALSE(app->reopen());
  EXPECT_EQ(delegate->calls, (std::vector<std::string>{"reopen without a window", "reopen with a window",
                                                        "reopen without a window", "terminating"}));
}

TEST_F(ApplicationTest, SheetsAttachOneAtATimeAndEndWithTheirHandler) {
  auto app = NSApplication::shared();
  auto parent = std::make_shared<NSWindow>(NSMakeRect(0, 0, 460, 591), NSWindowStyleMaskTitled);
  auto sheet = std::make_shared<NSPanel>(NSMakeRect(0, 0, 640, 610), NSWindowStyleMaskTitled);
  auto other = std::make_shared<NSPanel>(NSMakeRect(0, 0, 10, 10), NSWindowStyleMaskTitled);
  parent->makeKeyAndOrderFront();
  std::vector<NSModalResponse> ended;
  parent->beginSheet(sheet, [&](NSModalResponse code) { ended.push_back(code); });
  EXPECT_EQ(parent->attachedSheet(), sheet);
  EXPECT_EQ(sheet->sheetParent(), parent);
  EXPECT_TRUE(sheet->isSheet());
  EXPECT_EQ(app->keyWindow(), sheet);
  EXPECT_EQ(app->mainWindow(), parent);
  EXPECT_THROW(parent->beginSheet(other), std::logic_error);
  EXPECT_THROW(other->beginSheet(sheet), std::logic_error);
  EXPECT_THROW(parent->beginSheet(parent), std::logic_error);

  parent->endSheet(other);  // not its sheet: ignored
  EXPECT_TRUE(ended.empty());
  parent->endSheet(sheet, 7);
  EXPECT_EQ(ended, std::vector<NSModalResponse>{7});
  EXPECT_EQ(parent->attachedSheet(), nullptr);
  EXPECT_EQ(sheet->sheetParent(), nullptr);
  EXPECT_FALSE(sheet->isVisible());
  EXPECT_EQ(app->keyWindow(), parent);
  parent->beginSheet(other);  // free again
  EXPECT_EQ(parent->attachedSheet(), other);
}

TEST_F(ApplicationTest, HiddenAndActiveFollowTheUserAndTheWorkspace) {
  auto app = NSApplication::shared();
  auto& workspace = NSWorkspace::sharedWorkspace();
  EXPECT_FALSE(app->isHidden());
  EXPECT_FALSE(app->isActive());  // nothing is frontmost at launch
  app->activateIgnoringOtherApps(true);
  EXPECT_TRUE(app->isActive());
  workspace.launchApplication(foreignPid(4242), "com.example.editor", "Editor");
  workspace.activateApplication(foreignPid(4242));
  EXPECT_FALSE(app->isActive());
  app->hide(nullptr);
  EXPECT_TRUE(app->isHidden());
  app->unhide(nullptr);
  EXPECT_FALSE(app->isHidden());
  app->hide(nullptr);
  app->dockTile().setBadgeLabel("1");
  resetProcessState();
  EXPECT_FALSE(NSApplication::shared()->isHidden());
  EXPECT_FALSE(NSApplication::shared()->dockTile().badgeLabel().has_value());
}

TEST_F(ApplicationTest, AnEmptyBadgeLabelShowsNoBadge) {
  auto& tile = NSApplication::shared()->dockTile();
  tile.setBadgeLabel("1");
  EXPECT_EQ(tile.badgeLabel(), "1");
  tile.setBadgeLabel("");
  EXPECT_FALSE(tile.badgeLabel().has_value());
  tile.setBadgeLabel("2");
  tile.setBadgeLabel(std::nullopt);
  EXPECT_FALSE(tile.badgeLabel().has_value());
}

TEST_F(ApplicationTest, PressedMouseButtonsIsOneBitPerHeldButton) {
  EXPECT_EQ(NSEvent::pressedMouseButtons(), 0u);
  CGEventPost(kCGHIDEventTap, CGEventCreateMouseEvent(nullptr, kCGEventLeftMouseDown, CGPointMake(5, 5), kCGMouseButtonLeft));
  EXPECT_EQ(NSEvent::pressedMouseButtons(), 1u);
  CGEventPost(kCGHIDEventTap, CGEventCreateMouseEvent(nullptr, kCGEventRightMouseDown, CGPointMake(5, 5), kCGMouseButtonRight));
  EXPECT_EQ(NSEvent::pressedMouseButtons(), 3u);
  CGEventPost(kCGHIDEventTap, CGEventCreateMouseEvent(nullptr, kCGEventLeftMouseUp, CGPointMake(5, 5), kCGMouseButtonLeft));
  EXPECT_EQ(NSEvent::pressedMouseButtons(), 2u);
  CGEventPost(kCGHIDEventTap, CGEventCreateMouseEvent(nullptr, kCGEventRightMouseUp, CGPointMake(5, 5), kCGMouseButtonRight));
  EXPECT_EQ(NSEvent::pressedMouseButtons(), 0u);
}

TEST_F(ApplicationTest, ModalSessionsNestAndScreenChangesAreAnnounced) {
  auto app = NSApplication::shared();
  EXPECT_EQ(app->modalWindow(), nullptr);
  auto alert = NSWindow::make(NSMakeRect(100, 100, 200, 100), 2);
  auto inner = NSWindow::make(NSMakeRect(120, 120, 100, 50), 2);
  auto outerSession = app->beginModalSessionForWindow(alert);
  auto innerSession = app->beginModalSessionForWindow(inner);
  EXPECT_EQ(app->modalWindow(), inner);
  app->endModalSession(outerSession);  // ended out of order: the inner one stays
  EXPECT_EQ(app->modalWindow(), inner);
  app->endModalSession(innerSession);
  EXPECT_EQ(app->modalWindow(), nullptr);

  // The window at a point is the frontmost shown one, of any owner; the
  // default screen is 982 pt high, so AppKit's y 150 is the server's 832.
  WindowTable::shared().addWindow(
      {.number = 7, .ownerPID = foreignPid(42), .layer = 101, .bounds = CGRectMake(0, 800, 50, 50)});
  EXPECT_EQ(NSWindow::windowNumberAtPoint(NSMakePoint(10, 150), 0), 7);
  EXPECT_EQ(NSWindow::windowNumberAtPoint(NSMakePoint(10, 150), 7), 0);
  EXPECT_EQ(NSWindow::windowNumberAtPoint(NSMakePoint(10, 900), 0), 0);
  WindowTable::shared().removeWindow(7);

  int announced = 0;
  auto token = NSNotificationCenter::defaultCenter().addObserverForName(
      NSApplicationDidChangeScreenParametersNotification, nullptr, nullptr,
      [&](const NSNotification&) { ++announced; });
  auto screen = NSScreen::screens().front();
  screen->setFrame(CGRectMake(0, 0, 800, 600));
  NSScreen::make(CGRectMake(0, 0, 10, 10), 1)->setFrame(CGRectMake(0, 0, 20, 20));  // not connected
  NSScreen::setScreens({screen, NSScreen::make(CGRectMake(800, 0, 800, 600), 1)});
  EXPECT_EQ(announced, 2);
}

}  // namespace
}  // namespace platform
