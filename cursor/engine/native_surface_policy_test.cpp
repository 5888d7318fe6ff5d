#include "cursor/engine/native_surface_policy.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <limits>

#include "cursor/native/trace_test_support.hpp"
#include "platform/accessibility/accessibility_server.hpp"
#include "platform/appkit/application.hpp"
#include "platform/appkit/screen.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/dyld/symbol_registry.hpp"
#include "platform/foundation/foreign_pid.hpp"
#include "platform/windowserver/window_queries.hpp"

namespace vurle {
namespace {

using namespace platform;

const int32_t kForeground = foreignPid(700);
const int32_t kUtility = foreignPid(710);
constexpr CGFloat kTop = 982;  // the default screen is 1512 × 982 points
// Global point with the window-server y given (y' = 982 - y).
CGPoint at(CGFloat x, CGFloat serverY) { return CGPointMake(x, kTop - serverY); }
const CGPoint kMiddle = at(700, 500);

WindowRecord window(CGWindowID number, int32_t pid, const char* owner, CGWindowLevel layer, CGRect bounds) {
  return {.number = number, .ownerPID = pid, .ownerName = owner, .layer = layer, .bounds = bounds};
}

class SurfacePolicyTest : public TraceRecordingTest {
 protected:
  void SetUp() override {
    TraceRecordingTest::SetUp();
    NSWorkspace::sharedWorkspace().launchApplication(kForeground, "com.example.editor", "Editor");
    NSWorkspace::sharedWorkspace().launchApplication(kUtility, kElevatedUtilityBundleIdentifier, "Notch");
    policy = NativeSurfacePolicy::make(
        kForeground, [this](int32_t pid) { ++dialogReads; return dialogPIDs.count(pid) != 0; },
        [this](CGPoint) { return windowAtPointer; });
  }
  // A read of the current window table, applied.
  void settle() {
    policy->refresh();
    scope->runUntilIdle();
  }
  std::optional<std::string> evaluate(CGPoint p, std::optional<ExperimentalCursorSurface> surface = std::nullopt,
                                      bool menuEntry = false, bool bottomEdgeOnly = false) {
    return policy->evaluate(p, nullptr, menuEntry, surface, bottomEdgeOnly);
  }

  SimulatedSchedulerScope scope;
  std::shared_ptr<NativeSurfacePolicy> policy;
  std::set<int32_t> dialogPIDs;
  int dialogReads = 0;
  long windowAtPointer = 0;
};

TEST_F(SurfacePolicyTest, MenuBarBandAndScreenEdges) {
  struct Case {
    CGFloat safeTop;
    CGPoint point;
    bool bottomEdgeOnly;
    std::optional<std::string> expected;
  } cases[] = {
      {0, CGPointMake(700, kTop - 28), false, "native menu bar"},  // exactly on the band's lower edge
      {0, CGPointMake(700, kTop - 28.5), false, std::nullopt},
      {32, CGPointMake(700, kTop - 36), false, "native menu bar"},
      {32, CGPointMake(700, kTop - 36.5), false, std::nullopt},
      {0, CGPointMake(1, 500), false, "native screen edge"},
      {0, CGPointMake(1, 500), true, std::nullopt},  // side bands do not count
      {0, CGPointMake(1511, 500), true, std::nullopt},
      {0, CGPointMake(700, 1), true, "native screen edge"},
      {0, CGPointMake(700, 2), true, std::nullopt},
      {0, CGPointMake(700, 2), false, std::nullopt},
      {0, CGPointMake(-10, 500), true, "native screen edge"},  // on no screen
  };
  for (const auto& c : cases) {
    NSScreen::screens().front()->setSafeAreaInsets({.top = c.safeTop});
    NSScreen::setScreens(NSScreen::screens());  // announced: the policy re-reads the screens
    settle();
    const auto label = "safeTop " + std::to_string(c.safeTop) + " at " + std::to_string(c.point.x) + "," +
                       std::to_string(c.point.y);
    EXPECT_EQ(evaluate(c.point, std::nullopt, false, c.bottomEdgeOnly), c.expected) << label;
    if (!c.bottomEdgeOnly) {
      EXPECT_EQ(policy->screenEdgeReason(c.point), c.expected) << label;
    }
  }
  NSScreen::setScreens({});
  EXPECT_EQ(evaluate(kMiddle), "native screen edge");
  EXPECT_TRUE(policy->allowedRegions().empty());
}

TEST_F(SurfacePolicyTest, WindowsThatKeepTheNativeCursor) {
  const CGRect under = CGRectMake(600, 400, 200, 200);  // holds the middle
  const CGRect elsewhere = CGRectMake(0, 40, 400, 300);
  const auto dragging = CGWindowLevelForKey(kCGDraggingWindowLevelKey);
  const int32_t self = ::getpid();
  struct Case {
    const char* name;
    WindowRecord window;
    bool animateDuringCapture = false;
    long windowAtPointer = 0;
    std::optional<std::string> expected;
    std::optional<std::string> detail = std::nullopt;
  } cases[] = {
      {"screenshot 301 x 41 anywhere", window(5, foreignPid(800), "screencaptureui", 1, CGRectMake(0, 40, 301, 41)),
       false, 0,
       "native screenshot"},
      {"screenshot 300 x 41", window(5, foreignPid(800), "screencaptureui", 1, CGRectMake(0, 40, 300, 41)), false, 0,
       std::nullopt},
      {"screenshot 301 x 40", window(5, foreignPid(800), "Screenshot", 1, CGRectMake(0, 40, 301, 40)), false, 0,
       std::nullopt},
      {"screenshot while capture animates", window(5, foreignPid(800), "ScreenCaptureUI", 1, elsewhere), true, 0,
       std::nullopt},
      {"screenshot at layer 0", window(5, foreignPid(800), "Screenshot", 0, elsewhere), false, 0, std::nullopt},
      {"modal panel", window(5, foreignPid(800), "Editor", 8, under), false, 0, "native dialog", "menu-or-dialog"},
      {"pop-up menu", window(5, foreignPid(800), "Editor", 101, under), false, 0, "native menu", "menu-or-dialog"},
      {"menu elsewhere", window(5, foreignPid(800), "Editor", 101, elsewhere), false, 0, std::nullopt},
      {"level 999", window(5, foreignPid(800), "Editor", 999, under), false, 0, "native menu", "menu-or-dialog"},
      {"ordinary window", window(5, foreignPid(800), "Editor", 0, under), false, 0, std::nullopt},
      {"dragging level", window(5, foreignPid(800), "Editor", dragging, under), false, 0, std::nullopt},
      {"dragging level, system owner", window(5, foreignPid(800), "SecurityAgent", dragging, under), false, 0,
       "native menu",
       "system-surface"},
      {"system owner at layer 0", window(5, foreignPid(800), "loginwindow", 0, under), false, 0, "native dialog",
       "system-surface"},
      {"level 1000, not the utility", window(5, foreignPid(800), "Editor", 1000, under), false, 0, std::nullopt},
      {"level 1000 utility, nothing named", window(5, kUtility, "Notch", 1000, under), false, 0, "native menu",
       "verified-notch-utility"},
      {"level 1000 utility, itself named", window(5, kUtility, "Notch", 1000, under), false, 5, "native menu",
       "verified-notch-utility"},
      {"level 1000 utility, another named", window(5, kUtility, "Notch", 1000, under), false, 9, std::nullopt},
      {"our own menu", window(5, self, "vurle", 101, under), false, 0, std::nullopt},
  };
  for (const auto& c : cases) {
    CursorTrace::shared()->enable(1, false);
    WindowTable::shared().setWindows({c.window});
    policy->setAnimateDuringCapture(c.animateDuringCapture);
    windowAtPointer = c.windowAtPointer;
    settle();
    EXPECT_EQ(evaluate(kMiddle), c.expected) << c.name;
    auto blocks = events("surface-policy-block");
    if (c.detail) {
      ASSERT_EQ(blocks.size(), 1u) << c.name;
      EXPECT_EQ(blocks[0].detail, c.detail) << c.name;
      EXPECT_EQ(blocks[0].value, c.window.layer) << c.name;
    } else {
      EXPECT_TRUE(blocks.empty()) << c.name;
    }
  }

  // A transparent menu is no menu; the handoff's own menu entry and the
  // hit test's menu surface are exempt from their menu.
  WindowTable::shared().setWindows({window(5, foreignPid(800), "Editor", 101, under)});
  WindowTable::shared().updateWindow({.number = 5, .ownerPID = foreignPid(800), .ownerName = "Editor", .layer = 101,
                                      .alpha = 0, .bounds = under});
  settle();
  EXPECT_EQ(evaluate(kMiddle), std::nullopt);
  WindowTable::shared().setWindows({window(5, kForeground, "Editor", 101, under)});
  settle();
  EXPECT_EQ(evaluate(kMiddle, std::nullopt, true), std::nullopt);
  EXPECT_EQ(evaluate(kMiddle, ExperimentalCursorSurface{ExperimentalCursorSurface::Kind::menu, 5, under}),
            std::nullopt);
  EXPECT_EQ(evaluate(kMiddle, ExperimentalCursorSurface{ExperimentalCursorSurface::Kind::menu, 6, under}),
            "native menu");
}

TEST_F(SurfacePolicyTest, GatesBeforeTheWindowList) {
  settle();
  EXPECT_EQ(evaluate(kMiddle), std::nullopt);

  policy->setMenuTracking(true);
  EXPECT_EQ(evaluate(kMiddle), "native menu");
  EXPECT_EQ(evaluate(kMiddle, ExperimentalCursorSurface{ExperimentalCursorSurface::Kind::app, 3, std::nullopt}),
            "native menu");
  EXPECT_EQ(evaluate(kMiddle, ExperimentalCursorSurface{ExperimentalCursorSurface::Kind::menu, 3, std::nullopt}),
            std::nullopt);
  EXPECT_EQ(evaluate(kMiddle, std::nullopt, true), "native menu");  // a menu of another application
  policy->setForegroundPID(::getpid());
  EXPECT_EQ(evaluate(kMiddle, std::nullopt, true), std::nullopt);  // entering our own menu
  policy->setMenuTracking(false);
  policy->setForegroundPID(kForeground);

  auto app = NSApplication::shared();
  auto alert = NSWindow::make(NSMakeRect(100, 100, 200, 100), 2);
  auto session = app->beginModalSessionForWindow(alert);
  EXPECT_EQ(evaluate(kMiddle), "native dialog");
  app->endModalSession(session);
  auto host = NSWindow::make(NSMakeRect(100, 100, 400, 300), 2);
  host->beginSheet(NSWindow::make(NSMakeRect(120, 120, 200, 100), 2));
  EXPECT_EQ(policy->evaluate(kMiddle, host, false, std::nullopt, false), "native dialog");
  host->endSheet(host->attachedSheet());
  EXPECT_EQ(policy->evaluate(kMiddle, host, false, std::nullopt, false), std::nullopt);

  // The foreground application's focused dialog, read with each refresh.
  dialogPIDs = {kForeground};
  scope->advance(0.09);
  EXPECT_EQ(evaluate(kMiddle), std::nullopt);  // starts the reads
  scope->runUntilIdle();
  EXPECT_TRUE(policy->focusedDialog());
  EXPECT_EQ(evaluate(kMiddle), "native dialog");
  // An answer for an application that is no longer in front is dropped.
  policy->invalidate();
  policy->setForegroundPID(foreignPid(701));
  scope->runUntilIdle();
  EXPECT_FALSE(policy->focusedDialog());
}

TEST_F(SurfacePolicyTest, CacheAgeAndGenerations) {
  int refreshed = 0;
  policy->setOnRefresh([&] { ++refreshed; });
  EXPECT_EQ(evaluate(kMiddle), "native policy pending");  // never read: starts the first read
  EXPECT_TRUE(policy->windowLookupInFlight());
  EXPECT_EQ(evaluate(kMiddle), "native policy pending");
  scope->runUntilIdle();
  EXPECT_EQ(refreshed, 1);
  EXPECT_EQ(WindowTable::shared().listReads(), 1);
  EXPECT_EQ(policy->inspectedAt(), scope->now());

  // Failing reads keep the old cache, which ages: read again after 0.08 s,
  // unusable after 0.16 s.
  WindowTable::shared().setListFailure(true);
  struct Step {
    double advance;
    std::optional<std::string> expected;
    int reads;
  } steps[] = {
      {0.075, std::nullopt, 1},
      {0.01, std::nullopt, 2},  // 0.085: a read starts (and fails)
      {0.06, std::nullopt, 3},  // 0.145: still usable
      {0.03, "native policy pending", 4},  // 0.175
  };
  for (const auto& step : steps) {
    scope->advance(step.advance);
    EXPECT_EQ(evaluate(kMiddle), step.expected) << step.advance;
    scope->runUntilIdle();
    EXPECT_EQ(WindowTable::shared().listReads(), step.reads) << step.advance;
  }
  EXPECT_EQ(refreshed, 1);

  // A read that comes back after an invalidation is dropped and read again.
  WindowTable::shared().setListFailure(false);
  WindowTable::shared().setWindows({window(5, foreignPid(800), "Editor", 101, CGRectMake(600, 400, 200, 200))});
  scope->advance(1);
  policy->refresh();
  policy->invalidate();  // the read in flight belongs to the old generation
  EXPECT_EQ(evaluate(kMiddle), "native policy pending");
  const int reads = WindowTable::shared().listReads();
  scope->runUntilIdle();
  EXPECT_EQ(WindowTable::shared().listReads(), reads + 2);
  EXPECT_EQ(refreshed, 2);
  EXPECT_EQ(evaluate(kMiddle), "native menu");

  // A screen change is an invalidation too.
  const auto generation = policy->generation();
  NSScreen::setScreens({NSScreen::make(CGRectMake(0, 0, 800, 600), 1), NSScreen::make(CGRectMake(800, 0, 800, 600), 1)});
  EXPECT_EQ(policy->generation(), generation + 1);
  EXPECT_EQ(policy->screens().size(), 2u);
  EXPECT_EQ(evaluate(CGPointMake(1000, 300)), "native policy pending");
}

TEST_F(SurfacePolicyTest, DockRectangle) {
  const CGRect dock = CGRectMake(300, 900, 900, 80);
  const CGPoint overDock = at(700, 950);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    const char* name;
    std::optional<CGRect> rect;
    std::function<void()> arrange = [] {};
    bool usable = false;
  } cases[] = {
      {"a rectangle", dock, [] {}, true},
      {"no Dock", std::nullopt},
      {"not finite", CGRectMake(nan, 900, 900, 80)},
      {"no width", CGRectMake(300, 900, 0, 80)},
      {"negative height", CGRectMake(300, 900, 900, -80)},
      {"call fails", dock, [] { WindowQueries::shared().failNext("SLSGetDockRectWithReason", kCGErrorFailure, -1); }},
      {"function missing", dock, [] { SymbolRegistry::shared().remove("SLSGetDockRectWithReason"); }},
  };
  for (const auto& c : cases) {
    resetProcessState();
    WindowQueries::shared().setDockRect(c.rect);
    c.arrange();
    policy = NativeSurfacePolicy::make(kForeground);
    settle();
    EXPECT_EQ(policy->dockBounds().has_value(), c.usable) << c.name;
    EXPECT_EQ(evaluate(overDock), c.usable ? std::optional<std::string>("native Dock") : std::nullopt) << c.name;
  }
  resetProcessState();
  WindowQueries::shared().setDockRect(dock);
  policy = NativeSurfacePolicy::make(kForeground);
  settle();
  // An application window the hit test found over the Dock is not the Dock.
  EXPECT_EQ(evaluate(overDock, ExperimentalCursorSurface{ExperimentalCursorSurface::Kind::app, 4, std::nullopt}),
            std::nullopt);

  // The native presenter may hold inside the edge, below the menu bar and
  // off the Dock.
  const std::vector<CGRect> regions = {CGRectMake(2, 28, 1508, 872), CGRectMake(2, 900, 298, 80),
                                       CGRectMake(1200, 900, 310, 80)};
  EXPECT_EQ(policy->allowedRegions(), regions);
}

TEST_F(SurfacePolicyTest, SubtractLeavesTheNonEmptyPiecesInOrder) {
  struct Case {
    CGRect rect;
    std::optional<CGRect> hole;
    std::vector<CGRect> expected;
  } cases[] = {
      {CGRectMake(0, 0, 100, 100), CGRectMake(40, 40, 20, 20),
       {CGRectMake(0, 0, 100, 40), CGRectMake(0, 60, 100, 40), CGRectMake(0, 40, 40, 20), CGRectMake(60, 40, 40, 20)}},
      {CGRectMake(0, 0, 100, 100), std::nullopt, {CGRectMake(0, 0, 100, 100)}},
      {CGRectMake(0, 0, 100, 100), CGRectMake(200, 200, 10, 10), {CGRectMake(0, 0, 100, 100)}},
      {CGRectMake(0, 0, 100, 100), CGRectMake(100, 0, 10, 100), {CGRectMake(0, 0, 100, 100)}},  // touching
      {CGRectMake(0, 0, 100, 100), CGRectMake(0, 80, 100, 50), {CGRectMake(0, 0, 100, 80)}},
      {CGRectMake(0, 0, 100, 100), CGRectMake(-10, -10, 200, 200), {}},
  };
  for (const auto& c : cases) EXPECT_EQ(NativeSurfacePolicy::subtract(c.rect, c.hole), c.expected);
}

TEST_F(SurfacePolicyTest, OwnerCacheAndElevatedUtility) {
  // 128 owners fill the cache; the 129th empties it first.
  std::vector<CFDictionary> entries;
  NativeSurfacePolicy::OwnerIdentities owners;
  for (int32_t n = 1000; n < 1129; ++n) {
    const int32_t pid = foreignPid(n);
    NSWorkspace::sharedWorkspace().launchApplication(pid, "com.example.app" + std::to_string(pid), "App");
    entries.push_back({{kCGWindowOwnerPID, CFValue(pid)}, {kCGWindowLayer, CFValue(101)},
                       {kCGWindowBounds, CFValue(CGRectCreateDictionaryRepresentation(CGRectMake(0, 0, 5, 5)))}});
  }
  auto list = [](std::vector<CFDictionary> e) { return std::make_shared<const std::vector<CFDictionary>>(e); };
  NativeSurfacePolicy::parseWindowList(list({entries.begin(), entries.begin() + 128}), owners);
  EXPECT_EQ(owners.size(), 128u);
  EXPECT_EQ(NativeSurfacePolicy::parseWindowList(list({entries.back()}), owners).size(), 1u);
  EXPECT_EQ(owners.size(), 1u);

  // Malformed entries: no bounds is skipped, no number reads as 0, no owner name as empty.
  const auto parsed = NativeSurfacePolicy::parseWindowList(
      list({{{kCGWindowOwnerPID, CFValue(kUtility)}, {kCGWindowLayer, CFValue(1200)}},
            {{kCGWindowOwnerPID, CFValue(kUtility)}, {kCGWindowLayer, CFValue(1200)},
             {kCGWindowBounds, CFValue(CGRectCreateDictionaryRepresentation(CGRectMake(600, 0, 300, 32)))}}}),
      owners);
  ASSERT_EQ(parsed.size(), 1u);
  EXPECT_EQ(parsed[0], (NativeSurfacePolicy::Window{0, 1200, kUtility, "", CGRectMake(600, 0, 300, 32), false, true}));

  WindowTable::shared().setWindows({window(5, kUtility, "Notch", 1200, CGRectMake(600, 0, 300, 32))});
  settle();
  EXPECT_TRUE(policy->overlapsElevatedUtility(CGRectMake(650, kTop - 20, 10, 10)));
  EXPECT_FALSE(policy->overlapsElevatedUtility(CGRectMake(650, kTop - 60, 10, 10)));
  EXPECT_FALSE(policy->overlapsElevatedUtility(CGRectMake(650, kTop - 20, 0, 10)));
  EXPECT_EQ(policy->knownOwnerCount(), 1u);  // the utility, learnt by the read
  policy->forgetOwners();
  EXPECT_EQ(policy->knownOwnerCount(), 0u);
}

TEST_F(SurfacePolicyTest, FocusedDialogReads) {
  auto& ax = AccessibilityServer::shared();
  auto application = AXUIElementCreateApplication(kForeground);
  auto focus = [&](AXAttributeValue subrole, AXAttributeValue sheets) {
    auto focused = ax.makeElement(kForeground);
    ax.setAttribute(focused, kAXSubroleAttribute, subrole);
    ax.setAttribute(focused, kAXSheetsAttribute, sheets);
    ax.setAttribute(application, kAXFocusedWindowAttribute, focused);
  };
  struct Case {
    const char* name;
    std::function<void()> arrange;
    bool expected;
  } cases[] = {
      {"dialog", [&] { focus(std::string("AXDialog"), std::monostate{}); }, true},
      {"system dialog", [&] { focus(std::string("AXSystemDialog"), std::monostate{}); }, true},
      {"window with a sheet",
       [&] { focus(std::string("AXStandardWindow"), std::vector<AXUIElementRef>{ax.makeElement(kForeground)}); },
       true},
      {"window without sheets", [&] { focus(std::string("AXStandardWindow"), std::vector<AXUIElementRef>{}); },
       false},
      {"focus is no element", [&] { ax.setAttribute(application, kAXFocusedWindowAttribute, std::string("x")); },
       false},
      {"slow application",
       [&] {
         focus(std::string("AXDialog"), std::monostate{});
         ax.setResponseTime(kForeground, 0.02);
       },
       false},
  };
  for (const auto& c : cases) {
    ax.setResponseTime(kForeground, 0);
    c.arrange();
    EXPECT_EQ(NativeSurfacePolicy::readFocusedDialog(kForeground), c.expected) << c.name;
  }
  EXPECT_FALSE(NativeSurfacePolicy::readFocusedDialog(4242));  // not running
}

TEST_F(SurfacePolicyTest, ExperimentalSurfaceFromTheHitTest) {
  // The foreground application's menu hangs from the menu bar (band 28).
  const CGRect menu = CGRectMake(100, 24, 200, 300);
  WindowTable::shared().setWindows({window(31, kForeground, "Editor", 101, menu),
                                    window(32, kForeground, "Editor", 0, CGRectMake(0, 0, 1512, 982))});
  WindowQueries::shared().setDockRect(CGRectMake(300, 900, 900, 80));
  policy = NativeSurfacePolicy::make(kForeground);
  settle();
  const CGPoint inMenu = at(150, 60);
  EXPECT_EQ(policy->experimentalSurface(inMenu), std::nullopt);  // no hit yet: one starts
  EXPECT_TRUE(policy->experimentalHitInFlight());
  scope->runUntilIdle();
  const ExperimentalCursorSurface menuSurface{ExperimentalCursorSurface::Kind::menu, 31, menu};
  EXPECT_EQ(policy->experimentalSurface(inMenu), menuSurface);
  EXPECT_EQ(policy->overlayFrame(menuSurface), CGRectMake(100, kTop - 324, 200, 300));
  EXPECT_EQ(policy->menuBarLimit(menuSurface, inMenu), kTop - 28);
  EXPECT_EQ(policy->menuBarLimit(std::nullopt, inMenu), std::nullopt);
  EXPECT_EQ(evaluate(inMenu, menuSurface), std::nullopt);
  EXPECT_EQ(evaluate(inMenu), "native menu");

  // The stored hit is trusted for 0.07 s and 24 pt; a new one is asked
  // after 0.025 s or 8 pt.
  struct Step {
    double advance;
    CGPoint point;
    bool surface;
    bool newHit;
  } steps[] = {
      {0.02, at(150, 60), true, false},
      {0.0, at(158, 60), true, false},   // 8 pt
      {0.0, at(174, 60), true, true},    // 24 pt: trusted, but asked again
      {0.0, at(199, 60), false, true},   // 25 pt
      {0.024, at(199, 60), true, false},
      {0.002, at(199, 60), true, true},  // 0.026 s
      {0.069, at(199, 60), true, true},
      {0.071, at(199, 60), false, true},
  };
  for (const auto& step : steps) {
    const int finds = WindowQueries::shared().calls("SLSFindWindowAndOwner");
    scope->advance(step.advance);
    const auto label = std::to_string(step.advance) + " at x " + std::to_string(step.point.x);
    EXPECT_EQ(policy->experimentalSurface(step.point).has_value(), step.surface) << label;
    EXPECT_EQ(policy->experimentalHitInFlight(), step.newHit) << label;
    scope->runUntilIdle();
    EXPECT_EQ(WindowQueries::shared().calls("SLSFindWindowAndOwner"), finds + (step.newHit ? 1 : 0)) << label;
  }

  // Over the Dock the foreground application's window is an application surface.
  const CGPoint overDock = at(700, 950);
  settle();
  policy->experimentalSurface(overDock);
  scope->runUntilIdle();
  const auto surface = policy->experimentalSurface(overDock);
  EXPECT_EQ(surface, (ExperimentalCursorSurface{ExperimentalCursorSurface::Kind::app, 32, std::nullopt}));
  EXPECT_EQ(evaluate(overDock, surface), std::nullopt);
  EXPECT_EQ(evaluate(overDock), "native Dock");
  // Where no menu, Dock or utility is, no hit test runs.
  EXPECT_EQ(policy->experimentalSurface(kMiddle), std::nullopt);
  EXPECT_FALSE(policy->experimentalHitInFlight());

  // Without the hit test's functions there is never a surface.
  resetProcessState();
  SymbolRegistry::shared().remove("SLSGetWindowLevel");
  WindowTable::shared().setWindows({window(31, kForeground, "Editor", 101, menu)});
  policy = NativeSurfacePolicy::make(kForeground);
  settle();
  EXPECT_EQ(policy->experimentalSurface(inMenu), std::nullopt);
  scope->runUntilIdle();
  EXPECT_EQ(policy->experimentalSurface(inMenu), std::nullopt);
  EXPECT_FALSE(policy->experimentalHit().has_value());
}

}  // namespace
}  // namespace vurle
