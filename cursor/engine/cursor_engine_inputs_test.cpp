#include <gtest/gtest.h>

#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "cursor/engine/cursor_engine.hpp"
#include "cursor/engine/cursor_motion_listener.hpp"
#include "cursor/engine/native_surface_policy.hpp"
#include "cursor/engine/engine_test_support.hpp"
#include "platform/appkit/display_link.hpp"
#include "platform/appkit/event.hpp"
#include "platform/appkit/menu_tracking.hpp"
#include "platform/appkit/screen.hpp"
#include "platform/appkit/window.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/dispatch/run_loop.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/events/event_tap.hpp"
#include "platform/foundation/foreign_pid.hpp"
#include "platform/windowserver/cursor_state.hpp"

namespace vurle {
namespace {

using platform::CGEventType;

class EngineInputsTest : public EngineTestBase {
 protected:

  void install(bool native) {
    defaults->setBool(native, kUseLegacyCursorPresenterKey);
    engine = CursorEngine::make(nullptr, defaults);
    window = platform::NSWindow::make(platform::NSMakeRect(100, 100, 460, 591), 2);
    engine->install(window);
  }
  static void post(CGEventType type, platform::CGPoint at = {300, 300}) {
    platform::CGEventPost(platform::kCGSessionEventTap,
                          platform::CGEventCreateMouseEvent(nullptr, type, at, platform::kCGMouseButtonLeft));
  }
  static void postKey(uint16_t key, platform::CGEventFlags flags) {
    auto event = platform::CGEventCreateKeyboardEvent(nullptr, key, true);
    platform::CGEventSetFlags(event, flags);
    platform::CGEventPost(platform::kCGSessionEventTap, event);
  }
  static int tapsCreated() { return platform::EventSystem::shared().tapsCreated(); }

  std::shared_ptr<platform::NSUserDefaults> defaults = platform::NSUserDefaults::makeInMemory("inputs-test");
  std::shared_ptr<platform::NSWindow> window;
};

TEST_F(EngineInputsTest, InstallCreatesTheTapsAllOrNone) {
  struct Case {
    const char* name;
    bool native;
    bool activeTapsPermitted;
    int taps;
    std::optional<std::string> traced;
    bool fallback;
  };
  const Case cases[] = {
      {"overlay", false, true, 3, "quartz-button-handoff", false},
      {"overlay without active taps", false, false, 2, "appkit-fallback", true},
      {"native presenter", true, true, 0, std::nullopt, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (engine) engine->stop();
    platform::resetProcessState();
    CursorTrace::shared()->enable(1, false);
    platform::EventSystem::shared().setActiveTapsPermitted(c.activeTapsPermitted);
    install(c.native);
    EXPECT_EQ(tapsCreated(), c.taps);
    // Taps are kept only when all three started.
    EXPECT_EQ(platform::EventSystem::shared().taps().size(), c.taps == 3 ? 3u : 0u);
    const auto traced = events("motion-listener");
    if (c.traced) {
      ASSERT_EQ(traced.size(), 1u);
      EXPECT_EQ(traced[0].detail, c.traced);
    } else {
      EXPECT_TRUE(traced.empty());
    }
    EXPECT_EQ(engine->usesMotionFallback(), c.fallback);
    // Not running yet: nothing listens for movement.
    EXPECT_EQ(engine->movementMonitorCount(), 0u);
    ASSERT_TRUE(engine->maintenanceTimer());
    EXPECT_EQ(engine->maintenanceTimer()->timeInterval(), 0.2);
    EXPECT_EQ(engine->maintenanceTimer()->tolerance(), 0.05);
    EXPECT_EQ(platform::NSEvent::monitorCount(), 1u);  // the key monitor
  }
}

TEST_F(EngineInputsTest, ArmingFollowsTheEnginesState) {
  struct Expect {
    bool discrete, motion, fallbackTimer;
    size_t movementMonitors;
  };
  struct Case {
    const char* name;
    bool native;
    std::function<void(CursorEngine&)> arrange;
    Expect expect;
  };
  const Case cases[] = {
      {"overlay, link running", false, [](CursorEngine&) {}, {true, false, true, 0}},
      {"overlay, link paused", false, [](CursorEngine& e) { e.release(true, std::nullopt, false); },
       {true, true, false, 0}},
      {"native, link running", true, [](CursorEngine&) {}, {true, true, false, 2}},
      {"native, link paused", true, [](CursorEngine& e) { e.release(true, std::nullopt, false); },
       {true, true, false, 2}},
      {"disabled", false,
       [](CursorEngine& e) {
         e.setEnabled(false);
         e.armMotionSources();
       },
       {false, false, false, 0}},
      {"disabled native", true,
       [](CursorEngine& e) {
         e.setEnabled(false);
         e.armMotionSources();
       },
       {false, false, false, 0}},
      {"preview only", false,
       [](CursorEngine& e) {
         e.disable();
         e.setDemoKind(PointerKind::hand);
         e.armMotionSources();
       },
       {true, true, false, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (engine) engine->stop();
    platform::resetProcessState();
    install(c.native);
    engine->start();
    ASSERT_TRUE(engine->systemWide());
    ASSERT_TRUE(engine->displayLink());
    c.arrange(*engine);
    EXPECT_EQ(engine->discreteMouseListener()->observing(), c.expect.discrete);
    EXPECT_EQ(engine->buttonDownListener()->observing(), c.expect.discrete);
    EXPECT_EQ(engine->motionListener()->observing(), c.expect.motion);
    EXPECT_EQ(engine->fallbackTimer() != nullptr, c.expect.fallbackTimer);
    EXPECT_EQ(engine->movementMonitorCount(), c.expect.movementMonitors);
    // Disabling switches taps off but keeps them.
    EXPECT_EQ(platform::EventSystem::shared().taps().size(), c.native ? 0u : 3u);
    for (const auto& tap : platform::EventSystem::shared().taps()) {
      if (tap->options() == platform::kCGEventTapOptionDefault) {
        EXPECT_EQ(platform::CGEventTapIsEnabled(tap), c.expect.discrete);
      }
    }
  }
}

TEST_F(EngineInputsTest, DisplayLinkFollowsThePointerAndIsReused) {
  auto left = platform::NSScreen::make(platform::CGRectMake(0, 0, 1000, 800), 2);
  auto right = platform::NSScreen::make(platform::CGRectMake(1000, 0, 1000, 800), 1);
  platform::NSScreen::setScreens({left, right});
  install(true);
  engine->ensureDisplayLink();
  EXPECT_EQ(engine->displayLink(), nullptr);  // not wanted before start

  platform::CursorState::shared().setCursorLocation({300, 300});
  engine->start();
  auto link = engine->displayLink();
  ASSERT_TRUE(link);
  EXPECT_EQ(engine->linkedScreen(), left);
  EXPECT_EQ(engine->lastDisplayCallbackAt(), now());

  // Running on the right screen: neither recreated nor restamped.
  // (No frame runs meanwhile: the sampler is off, and the wait is shorter
  // than the fallback's lateness.)
  engine->sampler()->setEnabled(false);
  const double stamped = now();
  scope->advance(0.02);
  engine->ensureDisplayLink();
  EXPECT_EQ(engine->displayLink(), link);
  EXPECT_EQ(engine->lastDisplayCallbackAt(), stamped);

  // Paused on the right screen: resumed and restamped.
  engine->release(true, std::nullopt, false);
  EXPECT_TRUE(link->isPaused());
  scope->advance(0.05);
  engine->ensureDisplayLink();
  EXPECT_EQ(engine->displayLink(), link);
  EXPECT_FALSE(link->isPaused());
  EXPECT_EQ(engine->lastDisplayCallbackAt(), now());
  EXPECT_EQ(engine->lastContinuousFrameAt(), now());

  // The link's frames are the engine's ticks.
  scope->advance(0.01);
  EXPECT_EQ(platform::CADisplayLink::fireAll(now()), 1u);
  EXPECT_EQ(engine->lastDisplayCallbackAt(), now());

  // The pointer on the other screen: a new link there.
  platform::CursorState::shared().setCursorLocation({1500, 300});
  engine->ensureDisplayLink();
  EXPECT_NE(engine->displayLink(), link);
  EXPECT_FALSE(link->isValid());
  EXPECT_EQ(engine->linkedScreen(), right);

  // A pointer off every screen: the main window's screen.
  platform::CursorState::shared().setCursorLocation({5000, 300});
  engine->ensureDisplayLink();
  EXPECT_EQ(engine->linkedScreen(), left);

  // No screen at all: nothing happens.
  engine->stopDisplayLink();
  platform::NSScreen::setScreens({});
  engine->ensureDisplayLink();
  EXPECT_EQ(engine->displayLink(), nullptr);
}

TEST_F(EngineInputsTest, FallbackFramesOnlyWhenTheLinkIsLate) {
  struct Case {
    long framesPerSecond;
    double quiet, late;  // a silence just short of the limit, and one past it
  };
  // 120 Hz: 2 periods are shorter than 1/30 s, so 1/30 s counts; 30 Hz: 2/30 s.
  // The timer looks every 1/120 s, so "late" is the first look past the limit.
  for (const Case& c : {Case{120, 0.0325, 0.045}, Case{30, 0.065, 0.08}}) {
    SCOPED_TRACE(c.framesPerSecond);
    if (engine) engine->stop();
    platform::resetProcessState();
    CursorTrace::shared()->enable(1, false);
    platform::NSScreen::screens().front()->setMaximumFramesPerSecond(c.framesPerSecond);
    install(false);
    engine->start();
    ASSERT_TRUE(engine->fallbackTimer());
    scope->advance(c.quiet);
    EXPECT_EQ(engine->fallbackFrames(), 0u);
    scope->advance(c.late - c.quiet);
    EXPECT_GE(engine->fallbackFrames(), 1u);
    const auto traced = events("display-tick-fallback");
    ASSERT_FALSE(traced.empty());
    EXPECT_GE(*traced[0].value, 1000.0 * std::max(2.0 / static_cast<double>(c.framesPerSecond), 1.0 / 30.0) - 1e-6);
    // A frame of the link ends the lateness.
    const auto frames = engine->fallbackFrames();
    platform::CADisplayLink::fireAll(now());
    scope->advance(0.02);
    EXPECT_EQ(engine->fallbackFrames(), frames);
  }
}

TEST_F(EngineInputsTest, ScreenshotShortcutYieldsOnlyWhenCaptureIsNotAnimated) {
  platform::NSWorkspace::sharedWorkspace().activateApplication(::getpid());
  struct Case {
    bool captureOn;
    uint16_t key;
    platform::CGEventFlags flags;
    bool grace;
  };
  const Case cases[] = {
      {true, 21, 0x120000, false},  {false, 21, 0x120000, true},  {false, 20, 0x120000, true},
      {false, 23, 0x120108, true},  {false, 22, 0x120000, false}, {false, 21, 0x100000, false},
  };
  install(false);
  engine->start();
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "key " << c.key << " capture " << c.captureOn);
    engine->setAnimateDuringCapture(c.captureOn);
    scope->advance(2);
    const double at = now();
    postKey(c.key, c.flags);
    scope->runUntilIdle();
    EXPECT_EQ(engine->lastDiscreteCursorInput(), at);
    if (c.grace) {
      EXPECT_EQ(engine->screenshotUntil(), at + 1.5);
    } else {
      EXPECT_LT(engine->screenshotUntil(), at);
    }
  }
}

TEST_F(EngineInputsTest, ButtonPressInNativeModeArmsAShortHold) {
  install(true);
  // The default 1512 x 982 screen with the Dock along its bottom (window
  // server coordinates).
  engine->policy()->setReadDockBounds([] { return std::optional(platform::CGRectMake(0, 912, 1512, 70)); });
  engine->start();
  scope->runUntilIdle();
  ASSERT_TRUE(engine->policy()->dockBounds());
  engine->setSourceValid(true);
  scope->advance(0.5);
  const auto generation = engine->policy()->generation();
  post(platform::kCGEventRightMouseDown);
  scope->drainMain();  // the press only: the policy's new read has not come back
  EXPECT_GT(engine->policy()->generation(), generation);
  EXPECT_EQ(engine->policyPendingSince(), now());
  EXPECT_EQ(engine->lastDiscreteCursorInput(), now());
  EXPECT_TRUE(engine->presenter()->holdsPermitted());
  // Inside the screen's 2 pt edge, below the 28 pt menu-bar band, above the
  // Dock.
  EXPECT_EQ(engine->presenter()->allowedRegions(),
            std::vector<platform::CGRect>{platform::CGRectMake(2, 28, 1508, 884)});
  scope->runUntilIdle();
  post(platform::kCGEventRightMouseUp);
  scope->runUntilIdle();
  // With Reduce Motion no hold is permitted.
  platform::NSWorkspace::sharedWorkspace().setReduceMotion(true);
  engine->setSourceValid(true);
  post(platform::kCGEventLeftMouseDown);
  scope->runUntilIdle();
  EXPECT_FALSE(engine->presenter()->holdsPermitted());
}

TEST_F(EngineInputsTest, ButtonPressTapRecordsTheHandoff) {
  install(false);
  engine->start();
  post(platform::kCGEventLeftMouseDown);
  scope->runUntilIdle();
  const auto traced = events("button-down-handoff");
  ASSERT_EQ(traced.size(), 1u);
  EXPECT_EQ(traced[0].value, 1.0);
  EXPECT_EQ(traced[0].detail, "before-target-dispatch");
}

TEST_F(EngineInputsTest, NotificationsReachTheirHandlersUntilStop) {
  platform::NSWorkspace::sharedWorkspace().launchApplication(platform::foreignPid(80), "com.apple.screencaptureui",
                                                             "Screenshot");
  install(false);
  auto& workspace = platform::NSWorkspace::sharedWorkspace();
  auto& center = platform::NSNotificationCenter::defaultCenter();
  engine->setAnimateDuringCapture(false);
  struct Case {
    const char* name;
    std::function<void()> post;
    std::function<bool()> heard;
  };
  const Case cases[] = {
      {"Reduce Motion", [&] { workspace.setReduceMotion(true); },
       [&] { return events("cursor-resolution-change").size() == 1; }},
      {"screens change",
       [&] { platform::NSScreen::screens().front()->setFrame(platform::CGRectMake(0, 0, 1440, 900)); },
       [&] { return events("cursor-resolution-change").size() == 2; }},
      {"menu begins", [&] { center.postNotificationName(platform::NSMenuDidBeginTrackingNotification, nullptr); },
       [&] { return engine->animation().duration == 0; }},
      {"menu ends", [&] { center.postNotificationName(platform::NSMenuDidEndTrackingNotification, nullptr); },
       [&] { return engine->nativeUntil() == now() + 0.1; }},
      {"activation", [&] { workspace.activateApplication(platform::foreignPid(80)); },
       [&] { return engine->screenshotUntil() == now() + 1.5; }},
      {"Space change", [&] { workspace.changeActiveSpace(); },
       [&] { return engine->nativeUntil() == now() + 0.35; }},
      {"sleep", [&] { workspace.sleep(); }, [&] { return !engine->enabled(); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    scope->advance(1);
    engine->setEnabled(true);
    c.post();
    scope->runUntilIdle();
    EXPECT_TRUE(c.heard());
  }
  engine->start();
  workspace.setSessionActive(false);
  EXPECT_FALSE(engine->enabled());
  EXPECT_FALSE(engine->systemWide());

  engine->start();
  auto link = engine->displayLink();
  ASSERT_TRUE(link);
  const auto timer = engine->maintenanceTimer();
  engine->stop();
  EXPECT_FALSE(timer->isValid());
  EXPECT_FALSE(link->isValid());
  EXPECT_EQ(platform::NSEvent::monitorCount(), 0u);
  EXPECT_TRUE(platform::EventSystem::shared().taps().empty());
  // Stopped: notifications no longer reach it.
  engine->setEnabled(true);
  workspace.sleep();
  EXPECT_TRUE(engine->enabled());
}

}  // namespace
}  // namespace vurle
