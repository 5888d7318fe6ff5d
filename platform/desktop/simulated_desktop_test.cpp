#include "platform/desktop/simulated_desktop.hpp"

#include <gtest/gtest.h>

#include "platform/accessibility/accessibility.hpp"
#include "platform/appkit/screen.hpp"
#include "platform/appkit/window.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/desktop/cursor_catalogue.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/foundation/foreign_pid.hpp"
#include "platform/events/event_tap.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/windowserver/current_cursor.hpp"
#include "platform/windowserver/cursor_state.hpp"
#include "platform/windowserver/spaces.hpp"
#include "platform/windowserver/window_server.hpp"

namespace platform {
namespace {

Scenario twoWindows() {
  Scenario scenario;
  scenario.screens = {{CGRectMake(0, 0, 1440, 900), 2.0, 32.0, std::nullopt}, {CGRectMake(1440, 0, 800, 600), 1.0, 0.0, std::nullopt}};
  ScenarioWindow front{"Front", CGRectMake(100, 100, 300, 200), 0, foreignPid(601), "Browser", "", {}};
  front.cursorRegions = {{CGRectMake(120, 150, 100, 20), "pointingHand"}};
  ScenarioWindow back{"Back", CGRectMake(50, 50, 600, 400), 0, foreignPid(602), "Editor", "", {}};
  back.cursorRegions = {{CGRectMake(60, 120, 500, 300), "text"}};
  scenario.windows = {front, back};
  scenario.pointerStart = {20, 20};
  return scenario;
}

class SimulatedDesktopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WindowServer::shared();
    resetProcessState();
  }
  void TearDown() override { resetProcessState(); }

  SimulatedSchedulerScope scope_;
};

TEST_F(SimulatedDesktopTest, TheDesktopIsBuiltFromTheScenario) {
  SimulatedDesktop desktop(twoWindows());
  const auto screens = NSScreen::screens();
  ASSERT_EQ(screens.size(), 2u);
  // The second screen's top edge lines up with the first's in AppKit's y-up frame.
  EXPECT_EQ(screens[1]->frame(), CGRectMake(1440, 300, 800, 600));
  EXPECT_EQ(screens[0]->safeAreaInsets().top, 32);
  EXPECT_EQ(screens[1]->backingScaleFactor(), 1.0);

  const auto windows = WindowTable::shared().windows();
  ASSERT_EQ(windows.size(), 2u);
  EXPECT_EQ(windows[0].ownerName, "Browser");  // front to back, as listed
  EXPECT_EQ(windows[0].number, desktop.windowNumbers()[0]);
  EXPECT_EQ(windows[1].bounds, CGRectMake(50, 50, 600, 400));
  ASSERT_TRUE(NSWorkspace::sharedWorkspace().frontmostApplication());
  EXPECT_EQ(NSWorkspace::sharedWorkspace().frontmostApplication()->processIdentifier(), foreignPid(601));
  EXPECT_EQ(CursorState::shared().cursorLocation().x, 20);
  EXPECT_EQ(desktop.cursorName(), "arrow");

  // Each application's windows answer Accessibility hit tests where they
  // stand, as standard windows at their frames.
  struct Hit {
    pid_t owner;
    CGPoint at;
    std::optional<CGRect> window;
  } hits[] = {
      {601, {100, 100}, CGRectMake(100, 100, 300, 200)},    // the front window's first point
      {601, {399.9, 299.9}, CGRectMake(100, 100, 300, 200)},  // and its last
      {601, {400, 200}, std::nullopt},                     // its right edge is outside it
      {602, {130, 160}, CGRectMake(50, 50, 600, 400)},     // the editor's, under the browser
      {602, {700, 200}, std::nullopt},
  };
  for (const auto& h : hits) {
    AXUIElementRef hit;
    const AXError error = AXUIElementCopyElementAtPosition(AXUIElementCreateApplication(foreignPid(h.owner)),
                                                           float(h.at.x), float(h.at.y), &hit);
    ASSERT_EQ(error == kAXErrorSuccess, h.window.has_value()) << h.owner << " at " << h.at.x << "," << h.at.y;
    if (!h.window) continue;
    AXAttributeValue role, subrole, position, size, sheets;
    ASSERT_EQ(AXUIElementCopyAttributeValue(hit, kAXRoleAttribute, &role), kAXErrorSuccess);
    ASSERT_EQ(AXUIElementCopyAttributeValue(hit, kAXSubroleAttribute, &subrole), kAXErrorSuccess);
    ASSERT_EQ(AXUIElementCopyAttributeValue(hit, kAXPositionAttribute, &position), kAXErrorSuccess);
    ASSERT_EQ(AXUIElementCopyAttributeValue(hit, kAXSizeAttribute, &size), kAXErrorSuccess);
    ASSERT_EQ(AXUIElementCopyAttributeValue(hit, kAXSheetsAttribute, &sheets), kAXErrorSuccess);
    EXPECT_EQ(std::get<std::string>(role), kAXWindowRole);
    EXPECT_EQ(std::get<std::string>(subrole), kAXStandardWindowSubrole);
    EXPECT_TRUE(std::get<std::vector<AXUIElementRef>>(sheets).empty());
    CGPoint origin;
    CGSize extent;
    ASSERT_TRUE(AXValueGetValue(std::get<AXValueRef>(position), kAXValueCGPointType, &origin));
    ASSERT_TRUE(AXValueGetValue(std::get<AXValueRef>(size), kAXValueCGSizeType, &extent));
    EXPECT_EQ(CGRectMake(origin.x, origin.y, extent.width, extent.height), *h.window) << h.owner;
  }
}

TEST_F(SimulatedDesktopTest, TheCursorFollowsTheFrontmostWindowUnderThePointer) {
  SimulatedDesktop desktop(twoWindows());
  struct Case {
    CGPoint at;
    const char* cursor;
  } cases[] = {
      {{130, 160}, "pointingHand"},  // the front window's link
      {{130, 200}, "arrow"},         // the front window covers the editor's text here
      {{500, 300}, "text"},          // only the back window is here
      {{219.9, 169.9}, "pointingHand"},  // the region's last point inside
      {{220, 160}, "arrow"},             // its right edge is outside it
      {{10, 10}, "arrow"},               // the bare desktop
  };
  for (const auto& c : cases) EXPECT_EQ(desktop.cursorAt(c.at), c.cursor) << c.at.x << "," << c.at.y;

  const int32_t seed = CursorState::shared().cursorSeed();
  desktop.movePointer({500, 300});
  EXPECT_EQ(desktop.cursorName(), "text");
  EXPECT_NE(CursorState::shared().cursorSeed(), seed);
  const auto ibeam = cursorCatalogueImages("text");
  ASSERT_TRUE(ibeam);
  EXPECT_EQ(CurrentCursor::shared().cursor().hotSpot, ibeam->hotSpot);

  // A move within the same cursor sets nothing; the application set it once.
  const int32_t textSeed = CursorState::shared().cursorSeed();
  desktop.movePointer({510, 310});
  EXPECT_EQ(CursorState::shared().cursorSeed(), textSeed);

  // A resting pointer whose application changes its cursor.
  desktop.setCursor("busy");
  EXPECT_EQ(desktop.cursorName(), "busy");
  EXPECT_GT(CurrentCursor::shared().cursor().frameCount, 1);
  EXPECT_EQ(desktop.cursorChanges(), 3);  // arrow at start, text, busy

  // This process's own window over the editor's text: its views show the
  // arrow, unless it lets the pointer through or is not shown.
  auto own = NSWindow::make(CGRectMake(450, 550, 100, 100), 2);  // y up: (500, 300) is inside
  struct Own {
    bool shown, clickThrough;
    const char* cursor;
  } owns[] = {{true, false, "arrow"}, {true, true, "text"}, {false, false, "text"}};
  for (const auto& o : owns) {
    own->setIgnoresMouseEvents(o.clickThrough);
    if (o.shown) {
      own->makeKeyAndOrderFront();
    } else {
      own->orderOut();
    }
    EXPECT_EQ(desktop.cursorAt({500, 300}), o.cursor) << o.shown << o.clickThrough;
  }
}

TEST_F(SimulatedDesktopTest, InputReachesTheEventSystemAndAClickActivatesTheWindowsOwner) {
  SimulatedDesktop desktop(twoWindows());
  desktop.movePointer({500, 300});  // over the back window (Editor, 602)
  desktop.pressButton(kCGMouseButtonLeft);
  desktop.movePointer({505, 300});
  desktop.releaseButton(kCGMouseButtonLeft);
  desktop.pressKey(3, kCGEventFlagMaskCommand);
  desktop.releaseKey(3, kCGEventFlagMaskCommand);
  desktop.switchSpace(1, 5);
  scope_->runUntilIdle();

  EXPECT_EQ(NSWorkspace::sharedWorkspace().frontmostApplication()->processIdentifier(), foreignPid(602));
  std::vector<CGEventType> types;
  for (const auto& event : EventSystem::shared().deliveredEvents()) types.push_back(event->type);
  const std::vector<CGEventType> expected{kCGEventMouseMoved, kCGEventLeftMouseDown, kCGEventLeftMouseDragged,
                                          kCGEventLeftMouseUp, kCGEventKeyDown, kCGEventKeyUp};
  EXPECT_EQ(types, expected);
  EXPECT_EQ(EventSystem::shared().deliveredEvents()[4]->flags, kCGEventFlagMaskCommand);
  EXPECT_EQ(Spaces::shared().calls("SLSManagedDisplayGetCurrentSpace"), 0);  // the desktop sets, it does not ask
}

TEST_F(SimulatedDesktopTest, ThePlayerRunsEachStepAtItsTime) {
  Scenario scenario = twoWindows();
  ScenarioStep move;
  move.kind = ScenarioStep::Kind::move;
  move.from = CGPoint{0, 0};
  move.to = {200, 100};
  move.seconds = 1.0;
  ScenarioStep click;
  click.kind = ScenarioStep::Kind::click;
  ScenarioStep cursor;
  cursor.kind = ScenarioStep::Kind::setCursor;
  cursor.cursor = "crosshair";
  ScenarioStep settings;
  settings.kind = ScenarioStep::Kind::settings;
  settings.settingsChange.presenter = "native";
  ScenarioStep open;
  open.kind = ScenarioStep::Kind::open;
  open.name = "settings";
  ScenarioStep picture;
  picture.kind = ScenarioStep::Kind::picture;
  picture.name = "after";
  scenario.timeline = {move, click, cursor, settings, open, picture};
  SimulatedDesktop desktop(scenario);
  std::vector<std::string> presenters;
  std::vector<std::string> application;
  ScenarioPlayer player(
      scenario, desktop,
      [&](const ScenarioStep::SettingsChange& change) { presenters.push_back(change.presenter.value_or("unchanged")); },
      [&](const ScenarioStep& step) { application.push_back(step.name); });
  EXPECT_NEAR(player.totalDuration(), 1.1, 1e-12);

  player.advanceTo(0.0);
  EXPECT_EQ(desktop.pointer(), (CGPoint{0, 0}));
  player.advanceTo(0.5);  // the eased path is halfway at half time
  EXPECT_NEAR(desktop.pointer().x, 100, 1e-9);
  EXPECT_NEAR(desktop.pointer().y, 50, 1e-9);
  player.advanceTo(0.25);  // time never goes back
  EXPECT_NEAR(desktop.pointer().x, 100, 1e-9);
  player.advanceTo(0.9999);
  EXPECT_FALSE(EventSystem::shared().buttonDown(kCGMouseButtonLeft));
  EXPECT_LT(desktop.pointer().x, 200);

  player.advanceTo(1.0);  // the move ends and the click presses
  EXPECT_EQ(desktop.pointer(), (CGPoint{200, 100}));
  EXPECT_TRUE(EventSystem::shared().buttonDown(kCGMouseButtonLeft));
  player.advanceTo(1.0 + ScenarioPlayer::kClickHold - 0.001);
  EXPECT_TRUE(EventSystem::shared().buttonDown(kCGMouseButtonLeft));
  EXPECT_FALSE(player.finished());
  player.advanceTo(1.0 + ScenarioPlayer::kClickHold);
  EXPECT_FALSE(EventSystem::shared().buttonDown(kCGMouseButtonLeft));
  EXPECT_NE(desktop.cursorName(), "crosshair");
  EXPECT_TRUE(presenters.empty());
  EXPECT_TRUE(application.empty());
  player.advanceTo(1.1);
  EXPECT_EQ(desktop.cursorName(), "crosshair");
  EXPECT_EQ(presenters, std::vector<std::string>{"native"});
  EXPECT_EQ(application, (std::vector<std::string>{"settings", "after"})) << "the application's steps, in order";
  EXPECT_TRUE(player.finished());
  EXPECT_EQ(player.currentStep(), std::optional<size_t>(5));
}

TEST_F(SimulatedDesktopTest, AMoveEndsOnTimeWhateverTheRoundingOfItsStart) {
  // 1.96 + 0.4 - 1.96 is a rounding short of 0.4: the move must still end.
  Scenario scenario = twoWindows();
  ScenarioStep wait;
  wait.kind = ScenarioStep::Kind::wait;
  wait.seconds = 1.96;
  ScenarioStep move;
  move.kind = ScenarioStep::Kind::move;
  move.to = {678, 300};
  move.seconds = 0.4;
  ScenarioStep cursor;
  cursor.kind = ScenarioStep::Kind::setCursor;
  cursor.cursor = "crosshair";
  scenario.timeline = {wait, move, cursor};
  SimulatedDesktop desktop(scenario);
  ScenarioPlayer player(scenario, desktop);
  for (int tick = 0; tick <= 300; ++tick) player.advanceTo(tick / 120.0);
  EXPECT_TRUE(player.finished());
  EXPECT_EQ(desktop.pointer(), (CGPoint{678, 300}));
  EXPECT_EQ(desktop.cursorName(), "crosshair");
}

}  // namespace
}  // namespace platform
