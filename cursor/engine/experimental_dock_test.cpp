#include <gtest/gtest.h>

#include "cursor/engine/experimental_dock_cursor.hpp"
#include "cursor/engine/experimental_dock_regions.hpp"
#include "cursor/native/native_test_support.hpp"
#include "platform/accessibility/accessibility_server.hpp"
#include "platform/appkit/application.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/dispatch/clock.hpp"
#include "platform/dyld/symbol_registry.hpp"
#include "platform/events/event.hpp"
#include "platform/foundation/foreign_pid.hpp"
#include "platform/windowserver/window_queries.hpp"

namespace vurle {
namespace {

using namespace platform;
using Item = ExperimentalDockRegions::Item;

const pid_t kDock = foreignPid(60);
// The default screen (1512 × 982) in window-server coordinates, the Dock
// along its bottom: an application, a separator, another application.
const CGRect kScreen = CGRectMake(0, 0, 1512, 982);
const CGRect kFirstApp = CGRectMake(300, 900, 80, 80);
const CGRect kSeparator = CGRectMake(380, 900, 20, 80);
const CGRect kSecondApp = CGRectMake(400, 900, 80, 80);
const CGPoint kOnFirstApp = CGPointMake(340, 940);
const CGPoint kOnSeparator = CGPointMake(390, 940);

class DockTest : public testing::NativeTest {
 protected:
  void SetUp() override {
    NativeTest::SetUp();
    NSWorkspace::sharedWorkspace().launchApplication(kDock, "com.apple.dock", "Dock",
                                                     NSApplicationActivationPolicy::accessory);
    WindowTable::shared().setWindows({{.number = 90, .ownerPID = kDock, .ownerName = "Dock",
                                       .layer = CGWindowLevelForKey(kCGDockWindowLevelKey),
                                       .bounds = CGRectMake(0, 890, 1512, 92)}});
    list = ax().makeElement(kDock);
    ax().setAttribute(list, kAXRoleAttribute, std::string("AXList"));
    ax().setAttribute(AXUIElementCreateApplication(kDock), kAXChildrenAttribute,
                      std::vector<AXUIElementRef>{ax().makeElement(kDock), list});
    setItems({item("AXApplicationDockItem", kFirstApp), item("AXSeparatorDockItem", kSeparator),
              item("AXApplicationDockItem", kSecondApp)});
  }
  static AccessibilityServer& ax() { return AccessibilityServer::shared(); }
  AXUIElementRef item(const std::string& subrole, CGRect frame) {
    auto element = ax().makeElement(kDock);
    ax().setAttribute(element, kAXSubroleAttribute, subrole);
    ax().setAttribute(element, kAXPositionAttribute, AXValueCreate(kAXValueCGPointType, &frame.origin));
    ax().setAttribute(element, kAXSizeAttribute, AXValueCreate(kAXValueCGSizeType, &frame.size));
    return element;
  }
  void setItems(std::vector<AXUIElementRef> items) { ax().setAttribute(list, kAXChildrenAttribute, items); }
  static std::vector<Item> read(CGPoint point = kOnFirstApp) {
    return ExperimentalDockRegions::readDock(ExperimentalCursorHitTest::make(), kScreen, point);
  }

  AXUIElementRef list;
};

TEST_F(DockTest, ReadsTheVerifiedItems) {
  const std::vector<Item> all = {{kFirstApp, false}, {kSeparator, true}, {kSecondApp, false}};
  EXPECT_EQ(read(), all);
  // Items are clipped to the screen; an item off it is dropped.
  setItems({item("AXApplicationDockItem", CGRectMake(1480, 900, 80, 80)),
            item("AXTrashDockItem", CGRectMake(1600, 900, 80, 80))});
  EXPECT_EQ(read(), (std::vector<Item>{{CGRectMake(1480, 900, 32, 80), false}}));

  struct Case {
    const char* name;
    std::function<void()> arrange;
    size_t expected;
  } cases[] = {
      {"every kind of item",
       [&] {
         setItems({item("AXFolderDockItem", kFirstApp), item("AXTrashDockItem", kSecondApp),
                   item("AXDocumentDockItem", kSeparator), item("AXMinimizedWindowDockItem", kSeparator)});
       },
       3},
      {"a position of the wrong type",
       [&] {
         auto bad = item("AXApplicationDockItem", kFirstApp);
         ax().setAttribute(bad, kAXPositionAttribute, AXValueCreate(kAXValueCGSizeType, &kFirstApp.size));
         setItems({bad, item("AXApplicationDockItem", kSecondApp)});
       },
       1},
      {"a size that is text",
       [&] {
         auto bad = item("AXApplicationDockItem", kFirstApp);
         ax().setAttribute(bad, kAXSizeAttribute, std::string("80x80"));
         setItems({bad});
       },
       0},
      {"128 children", [&] { setItems(std::vector<AXUIElementRef>(128, item("AXApplicationDockItem", kFirstApp))); },
       128},
      {"129 children", [&] { setItems(std::vector<AXUIElementRef>(129, item("AXApplicationDockItem", kFirstApp))); },
       0},
      {"no list", [&] { ax().setAttribute(list, kAXRoleAttribute, std::string("AXGroup")); }, 0},
      {"a slow Dock", [&] { ax().setResponseTime(kDock, 0.02); }, 0},
      {"a window above the Dock level",
       [&] { WindowTable::shared().addWindow({.number = 91, .ownerPID = kDock, .layer = 101, .bounds = kScreen}); },
       0},
      {"the Dock level, not the Dock",
       [&] {
         WindowTable::shared().addWindow({.number = 91, .ownerPID = foreignPid(77),
                                          .layer = CGWindowLevelForKey(kCGDockWindowLevelKey), .bounds = kScreen});
       },
       0},
      {"no hit test", [&] { SymbolRegistry::shared().remove("SLSGetWindowBounds"); }, 0},
  };
  for (const auto& c : cases) {
    SetUp();
    c.arrange();
    EXPECT_EQ(read().size(), c.expected) << c.name;
  }
}

TEST_F(DockTest, RegionsReadAtMostEveryEightiethAndTraceChanges) {
  auto regions = ExperimentalDockRegions::make();
  int refreshed = 0;
  regions->setOnRefresh([&] { ++refreshed; });
  auto request = [&](CGPoint point = kOnFirstApp) { return regions->requestRefresh(kScreen, point); };

  EXPECT_EQ(request(), std::nullopt);  // nothing read yet: a read starts
  EXPECT_TRUE(regions->pending());
  scope->runUntilIdle();
  const double readAt = now();
  const ExperimentalDockRegions::Context context{{{kFirstApp, false}, {kSeparator, true}, {kSecondApp, false}},
                                                 readAt + 0.2};
  EXPECT_EQ(request(), context);
  EXPECT_EQ(request(CGPointMake(100, 940)), std::nullopt);  // beside every item
  EXPECT_EQ(refreshed, 1);
  // An answer is trusted for 0.2 s from the start of its read.
  for (const auto& [age, trusted] : {std::pair{0.19, true}, std::pair{0.21, false}}) {
    regions->apply(regions->generation(), context.items, now() - age);
    EXPECT_EQ(request().has_value(), trusted) << age;
  }
  scope->runUntilIdle();

  // The next read waits 0.08 s; the answer is trusted for 0.2 s.
  const int reads = WindowQueries::shared().calls("SLSFindWindowAndOwner");
  scope->advance(0.075);
  request();
  EXPECT_FALSE(regions->pending());
  scope->advance(0.01);
  request();
  EXPECT_TRUE(regions->pending());
  regions->setOnRefresh(nullptr);
  scope->advance(0.1);  // the second read (at 0.085) is stored with its own limit
  EXPECT_EQ(WindowQueries::shared().calls("SLSFindWindowAndOwner"), reads + 1);
  EXPECT_EQ(regions->snapshot()->until, readAt + 0.085 + 0.2);

  // Only changes of the result are traced.
  setItems({});
  for (int i = 0; i < 2; ++i) {
    scope->advance(0.09);
    request();
    scope->runUntilIdle();
  }
  auto traced = events("dock-region-read");
  ASSERT_EQ(traced.size(), 2u);
  EXPECT_EQ(traced[0].detail, "verified-items");
  EXPECT_EQ(traced[0].value, 3);
  EXPECT_EQ(traced[1].detail, "no-verified-items");
  EXPECT_EQ(traced[1].value, std::nullopt);
  EXPECT_FALSE(regions->snapshot().has_value());

  // A read of an old generation is not stored but still calls back.
  regions->setOnRefresh([&] { ++refreshed; });
  setItems({item("AXApplicationDockItem", kFirstApp)});
  scope->advance(0.09);
  request();
  regions->invalidate();
  scope->runUntilIdle();
  EXPECT_EQ(refreshed, 4);
  EXPECT_FALSE(regions->snapshot().has_value());
  EXPECT_EQ(request(), std::nullopt);  // invalidated: reads again at once
  scope->runUntilIdle();
  EXPECT_TRUE(request().has_value());
  EXPECT_EQ(refreshed, 5);
}

}  // namespace
}  // namespace vurle

namespace vurle {
namespace {

class DockCursorTest : public DockTest {
 protected:
  void SetUp() override {
    DockTest::SetUp();
    regions = ExperimentalDockRegions::make();
    dock = ExperimentalDockCursor::make();
  }
  void TearDown() override {
    dock.reset();
    regions.reset();
    DockTest::TearDown();
  }
  static void pointAt(CGPoint point) { CursorState::shared().setCursorLocation(point); }
  bool step() {
    return dock->step(NSScreen::screens().front(), 0.1, [this] { return safe; }, regions,
                      ExperimentalDockCursor::pointerLocation(), kScreen);
  }
  static void tick() { CADisplayLink::fireAll(platform::systemUptime()); }

  std::shared_ptr<ExperimentalDockRegions> regions;
  std::shared_ptr<ExperimentalDockCursor> dock;
  bool safe = true;

  // A run over the separator whose first morph, to a cursor the presenter
  // caught, opened the connection and the Dock override.
  void morphOverSeparator() {
    pointAt(kOnSeparator);
    showApplicationCursor(NSCursor::pointingHandCursor());
    EXPECT_FALSE(step());  // nothing verified yet: a read starts
    scope->runUntilIdle();
    ASSERT_TRUE(step());
    ASSERT_TRUE(dock->observing());
    ASSERT_TRUE(step());  // the run holds the Dock permit from here
    showApplicationCursor(NSCursor::IBeamCursor());
    scope->advance(0.005);
    ASSERT_EQ(events("dock-experiment-morph").size(), 1u);
    ASSERT_NE(dock->native()->connection(), 0);
    ASSERT_TRUE(CurrentCursor::shared().dockCursorOverride());
  }
  // Keeps the run going for `seconds`: the engine's steps and the frames.
  void hold(double seconds) {
    for (double t = 0; t < seconds - 1e-9; t += 0.04) {
      step();
      tick();
      scope->advance(0.04);
    }
  }
  static void press() {
    CGEventPost(kCGHIDEventTap, CGEventCreateMouseEvent(nullptr, kCGEventLeftMouseDown,
                                                        CursorState::shared().cursorLocation(), kCGMouseButtonLeft));
  }
  bool targetsArrow() const {
    auto arrow = NativeCursorLibrary::shared()->art(PointerKind::arrow);
    return dock->animation().to && dock->animation().to->identity() == arrow->identity();
  }
};

TEST_F(DockCursorTest, FromAResizeCursorBackToTheArrowAndHandBack) {
  pointAt(kOnFirstApp);
  showApplicationCursor(NSCursor::resizeLeftRightCursor());
  step();
  scope->runUntilIdle();
  ASSERT_TRUE(step());
  EXPECT_EQ(events("dock-experiment-observing").size(), 1u);
  EXPECT_TRUE(dock->sampler()->isEnabled());
  // Before any connection, only a resize cursor goes back to the arrow.
  ASSERT_TRUE(step());
  ASSERT_EQ(events("dock-experiment-exit").size(), 1u);
  EXPECT_EQ(events("dock-experiment-exit")[0].detail, "verified-dock-item");
  EXPECT_TRUE(targetsArrow());
  EXPECT_EQ(dock->expires(), now() + 2.0);
  ASSERT_TRUE(dock->link());
  // The link draws the morph; its end hands the cursor back, registered again.
  for (int i = 0; i < 10 && dock->observing(); ++i) {
    tick();
    scope->advance(0.02);
  }
  EXPECT_FALSE(dock->observing());
  EXPECT_FALSE(dock->link());
  EXPECT_FALSE(dock->sampler()->isEnabled());
  EXPECT_FALSE(CurrentCursor::shared().dockCursorOverride());
  EXPECT_FALSE(events("submitted").empty());

  // From any other cursor nothing morphs before the presenter is connected.
  SetUp();
  pointAt(kOnFirstApp);
  showApplicationCursor(NSCursor::pointingHandCursor());
  step();
  scope->runUntilIdle();
  ASSERT_TRUE(step());
  ASSERT_TRUE(step());
  EXPECT_TRUE(events("dock-experiment-exit").empty());
  EXPECT_FALSE(dock->link());
}

TEST_F(DockCursorTest, NoArrowOverASeparatorAndOnlyWithinTwoSeconds) {
  struct Case {
    double after;
    bool arrow;
  } cases[] = {{0.0, true}, {1.9, true}, {2.1, false}};
  for (const auto& c : cases) {
    SetUp();
    morphOverSeparator();
    // Over the separator the caught cursor is morphed, never the arrow.
    hold(c.after);
    ASSERT_TRUE(dock->observing()) << c.after;
    EXPECT_TRUE(events("dock-experiment-exit").empty()) << c.after;
    EXPECT_FALSE(targetsArrow());
    pointAt(kOnFirstApp);
    EXPECT_TRUE(step());
    EXPECT_EQ(events("dock-experiment-exit").size(), c.arrow ? 1u : 0u) << c.after;
    EXPECT_EQ(targetsArrow(), c.arrow) << c.after;
  }
}

TEST_F(DockCursorTest, AButtonPressEndsTheRunAtTheNextTick) {
  morphOverSeparator();
  press();
  EXPECT_TRUE(CurrentCursor::shared().dockCursorOverride());
  tick();
  EXPECT_FALSE(dock->observing());
  EXPECT_FALSE(CurrentCursor::shared().dockCursorOverride());
  EXPECT_FALSE(dock->link());
  EXPECT_TRUE(events("dock-experiment-revoked").empty());
}

TEST_F(DockCursorTest, AButtonPressLetsTheWatchdogRevokeTheOverride) {
  morphOverSeparator();
  press();
  scope->advance(0.06);  // the presenter's watchdog runs; the link does not
  ASSERT_EQ(events("dock-experiment-revoked").size(), 1u);
  EXPECT_FALSE(CurrentCursor::shared().dockCursorOverride());
  // The presenter handed back on its own: the next step ends the run.
  CGEventPost(kCGHIDEventTap, CGEventCreateMouseEvent(nullptr, kCGEventLeftMouseUp,
                                                      CursorState::shared().cursorLocation(), kCGMouseButtonLeft));
  EXPECT_TRUE(step());
  EXPECT_FALSE(dock->observing());
}

TEST_F(DockCursorTest, WhereARunStarts) {
  struct Case {
    const char* name;
    std::function<void()> arrange;
    bool starts = false;
  } cases[] = {
      {"on an item", [] {}, true},
      {"on the separator", [] { pointAt(kOnSeparator); }, true},
      {"beside the items", [] { pointAt(CGPointMake(100, 940)); }},
      {"during a Space change", [this] { safe = false; }},
      {"a button held", [] { press(); }},
      {"the application hidden", [] { NSApplication::shared()->hide(nullptr); }},
      {"the cursor hidden", [] { CursorState::shared().hideCursor(WindowServer::shared().mainConnectionID()); }},
      {"an animated cursor",
       [] { CurrentCursor::shared().setCursorFromAnotherApplication(*CoreCursors::waitAnimation(10, 32)); }},
      {"a transparent cursor", [] { showApplicationCursor(testing::solidCursor(16, 0, 0)); }},
  };
  for (const auto& c : cases) {
    SetUp();
    safe = true;
    pointAt(kOnFirstApp);
    showApplicationCursor(NSCursor::pointingHandCursor());
    step();
    scope->runUntilIdle();
    c.arrange();
    EXPECT_EQ(step(), c.starts) << c.name;
    EXPECT_EQ(dock->observing(), c.starts) << c.name;
    EXPECT_EQ(events("dock-experiment-observing").size(), c.starts ? 1u : 0u) << c.name;
    NSApplication::shared()->unhide(nullptr);
  }
}

TEST_F(DockCursorTest, AnUncaughtCursorIsShownAtOnce) {
  pointAt(kOnFirstApp);
  showApplicationCursor(NSCursor::pointingHandCursor());
  step();
  scope->runUntilIdle();
  ASSERT_TRUE(step());
  const auto cursor = NSCursor::IBeamCursor();
  const int32_t seed = showApplicationCursor(cursor);
  dock->morph({cursor, seed, false, false, std::nullopt});
  const auto art = NativeCursorLibrary::shared()->match(cursor);
  EXPECT_EQ(dock->animation().to->identity(), art->identity());
  EXPECT_FALSE(dock->animation().isRunning(now()));
  EXPECT_EQ(dock->inputSeed(), seed);
  EXPECT_TRUE(dock->native()->holdsPermitted());
  EXPECT_FALSE(dock->link());
  // A sample whose seed is no longer current changes nothing.
  dock->morph({NSCursor::pointingHandCursor(), seed - 1, false, false, std::nullopt});
  EXPECT_EQ(dock->inputSeed(), seed);
}

}  // namespace
}  // namespace vurle
