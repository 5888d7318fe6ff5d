#include "cursor/engine/cursor_engine.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <limits>
#include <string>
#include <vector>

#include "cursor/art/cursor_scale.hpp"
#include "cursor/art/native_cursor_library.hpp"
#include "cursor/engine/cursor_test_strip.hpp"
#include "cursor/engine/engine_test_support.hpp"
#include "cursor/engine/experimental_dock_cursor.hpp"
#include "cursor/engine/experimental_dock_regions.hpp"
#include "cursor/engine/native_surface_policy.hpp"
#include "cursor/overlay/continuous_cursor_presenter.hpp"
#include "platform/accessibility/accessibility_server.hpp"
#include "platform/appkit/screen.hpp"
#include "platform/appkit/window.hpp"
#include "cursor/overlay/stationary_cursor_handoff.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/dyld/symbol_registry.hpp"
#include "platform/events/event.hpp"
#include "platform/foundation/foreign_pid.hpp"
#include "platform/foundation/process_info.hpp"
#include "platform/windowserver/cursor_state.hpp"

namespace vurle {
namespace {

using platform::PropertyListValue;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr char kUnavailable[] = "system-wide cursor access is unavailable on this macOS version.";

class EngineTest : public EngineTestBase {
 protected:

  std::shared_ptr<CursorEngine> makeEngine(CursorEngine::VerificationVisibility visibility = nullptr) {
    engine = CursorEngine::make(visibility, defaults);
    return engine;
  }
  // The engine with the native presenter selected, as a stored setting.
  std::shared_ptr<CursorEngine> makeNativeEngine() {
    defaults->setBool(true, kUseLegacyCursorPresenterKey);
    return makeEngine();
  }

  std::shared_ptr<platform::NSUserDefaults> defaults = platform::NSUserDefaults::makeInMemory("engine-test");
};

TEST_F(EngineTest, StoredSettingsLoadByTheirRules) {
  struct Case {
    const char* name;
    std::optional<PropertyListValue> milliseconds, adaptive, capture, legacy;
    double expectedMilliseconds;
    bool expectedAdaptive, expectedCapture, expectedContinuous;
  };
  const Case cases[] = {
      {"nothing stored", {}, {}, {}, {}, 150, true, true, true},
      {"integer below the range", 30, {}, {}, {}, 60, true, true, true},
      {"real above the range", 500.0, {}, {}, {}, 220, true, true, true},
      {"fraction kept", 100.5, {}, {}, {}, 100.5, true, true, true},
      {"range ends", 220, {}, {}, {}, 220, true, true, true},
      {"a string is no number", "abc", "abc", "abc", {}, 150, true, true, true},
      {"a Boolean is no number", true, {}, {}, {}, 150, true, true, true},
      {"NaN", kNaN, {}, {}, {}, 150, true, true, true},
      {"infinity", kInf, {}, {}, {}, 150, true, true, true},
      {"Booleans", 90, false, false, false, 90, false, false, true},
      {"0 and 1 are Booleans", {}, 0, 1.0, 1, 150, false, true, false},
      {"2 is not", {}, 2, 2.5, {}, 150, true, true, true},
      {"the legacy switch reads as the platform does", {}, {}, {}, "YES", 150, true, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    defaults = platform::NSUserDefaults::makeInMemory(std::string("engine-test-") + c.name);
    if (c.milliseconds) defaults->setObject(*c.milliseconds, kTransitionMillisecondsKey);
    if (c.adaptive) defaults->setObject(*c.adaptive, kAdaptiveTimingKey);
    if (c.capture) defaults->setObject(*c.capture, kAnimateDuringCaptureKey);
    if (c.legacy) defaults->setObject(*c.legacy, kUseLegacyCursorPresenterKey);
    makeEngine();
    EXPECT_EQ(engine->storedMilliseconds(), c.expectedMilliseconds);
    EXPECT_EQ(engine->adaptive(), c.expectedAdaptive);
    EXPECT_EQ(engine->animateDuringCapture(), c.expectedCapture);
    EXPECT_EQ(engine->usesContinuousCursor(), c.expectedContinuous);
    // Loading writes nothing back.
    EXPECT_EQ(defaults->objectForKey(kTransitionMillisecondsKey).has_value(), c.milliseconds.has_value());
  }
  // A verification run always uses the native presenter.
  defaults = platform::NSUserDefaults::makeInMemory("engine-test-verification");
  makeEngine([] { return int32_t{1}; });
  EXPECT_FALSE(engine->usesContinuousCursor());
  EXPECT_EQ(engine->sampleText(), "select this text to test the native I-beam");
  EXPECT_TRUE(engine->enabled());
  EXPECT_FALSE(engine->systemWide());
  EXPECT_EQ(engine->error(), "");
}

TEST_F(EngineTest, SettersClampPublishAndStore) {
  makeEngine();
  std::vector<double> published;
  auto subscription = engine->storedMillisecondsPublisher().sink([&](double value) { published.push_back(value); });
  struct Case {
    double given, stored;
  };
  for (const Case& c : {Case{kNaN, 150}, Case{kInf, 150}, Case{30, 60}, Case{250, 220}, Case{60, 60},
                        Case{219.5, 219.5}}) {
    engine->setStoredMilliseconds(c.given);
    EXPECT_EQ(engine->storedMilliseconds(), c.stored) << c.given;
    EXPECT_EQ(defaults->objectForKey(kTransitionMillisecondsKey), PropertyListValue(c.stored)) << c.given;
  }
  EXPECT_EQ(published, (std::vector<double>{150, 150, 150, 60, 220, 60, 219.5}));

  engine->setAdaptive(false);
  EXPECT_FALSE(engine->adaptive());
  EXPECT_EQ(defaults->objectForKey(kAdaptiveTimingKey), PropertyListValue(false));

  // A screenshot grace in force ends when the capture setting changes.
  engine->setAnimateDuringCapture(false);
  platform::NSWorkspace::sharedWorkspace().launchApplication(platform::foreignPid(70), "com.apple.screencaptureui",
                                                             "Screenshot");
  engine->applicationDidActivate(
      platform::NSRunningApplication::runningApplicationWithProcessIdentifier(platform::foreignPid(70)));
  EXPECT_GT(engine->screenshotUntil(), now());
  engine->setAnimateDuringCapture(true);
  EXPECT_EQ(engine->screenshotUntil(), 0);
  EXPECT_EQ(defaults->objectForKey(kAnimateDuringCaptureKey), PropertyListValue(true));

  // The legacy switch is only read: its change selects the presenter.
  defaults->setBool(true, kUseLegacyCursorPresenterKey);
  scope->runUntilIdle();
  EXPECT_FALSE(engine->usesContinuousCursor());
  EXPECT_EQ(defaults->objectForKey(kUseLegacyCursorPresenterKey), PropertyListValue(true));

  std::vector<std::optional<std::string>> reasons;
  auto pauses = engine->automaticPauseReasonPublisher().sink([&](const auto& reason) { reasons.push_back(reason); });
  engine->setAutomaticPauseReason(std::nullopt);
  engine->setAutomaticPauseReason("Game Mode is on");
  engine->setAutomaticPauseReason(std::string("Game Mode is on"));
  engine->setAutomaticPauseReason(std::nullopt);
  EXPECT_EQ(reasons, (std::vector<std::optional<std::string>>{std::nullopt, "Game Mode is on", std::nullopt}));
}

TEST_F(EngineTest, StartRefusalsNameTheCause) {
  struct Case {
    const char* name;
    bool trusted;
    int osMajor;
    bool native;
    const char* missingFunction;
    std::string error;
  };
  const Case cases[] = {
      {"permission on 26", false, 26, true, nullptr,
       "Accessibility permission is required for cursor animations. Allow vurle in System Settings \u2192 "
       "Privacy & Security \u2192 Accessibility."},
      {"permission on 27", false, 27, false, nullptr,
       "Device Control and Data Access permission is required for cursor animations. Allow vurle in System "
       "Settings \u2192 Privacy & Security \u2192 Device Control and Data Access."},
      {"native without a seed reader", true, 26, true, "CGSCurrentCursorSeed", kUnavailable},
      {"native without a visibility reader", true, 26, true, "CGCursorIsVisible", kUnavailable},
      {"native without registration", true, 26, true, "CGSRegisterCursorWithImages", kUnavailable},
      {"overlay without hiding", true, 26, false, "CGSHideCursor", kUnavailable},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    platform::resetProcessState();
    platform::AccessibilityServer::shared().setProcessTrusted(c.trusted);
    platform::ProcessInfo::setOperatingSystemVersion({c.osMajor, 0, 0});
    if (c.missingFunction) platform::SymbolRegistry::shared().remove(c.missingFunction);
    defaults->setBool(c.native, kUseLegacyCursorPresenterKey);
    makeEngine();
    engine->start();
    EXPECT_EQ(engine->error(), c.error);
    EXPECT_FALSE(engine->systemWide());
    EXPECT_TRUE(engine->enabled());
    engine.reset();
  }
  // Once the cause is gone a start clears the error.
  platform::resetProcessState();
  makeNativeEngine();
  engine->start();
  EXPECT_TRUE(engine->systemWide());
  EXPECT_EQ(engine->error(), "");
}

TEST_F(EngineTest, StatesFollowStartPauseResignAndStop) {
  makeNativeEngine();
  engine->setDemoKind(PointerKind::hand);
  engine->start();
  EXPECT_TRUE(engine->systemWide());
  EXPECT_TRUE(engine->sampler()->isEnabled());
  EXPECT_EQ(engine->demoKind(), PointerKind::hand);

  // Start while running turns the engine off instead.
  engine->start();
  EXPECT_FALSE(engine->systemWide());
  EXPECT_TRUE(engine->enabled());
  EXPECT_FALSE(engine->sampler()->isEnabled());

  // The shell's pause.
  engine->start();
  engine->setEnabled(false);
  engine->setDemoKind(std::nullopt);
  engine->disable();
  EXPECT_TRUE(engine->release(true, std::nullopt, false));
  EXPECT_FALSE(engine->systemWide());
  EXPECT_FALSE(engine->enabled());

  // A start resumes; a resigning session pauses.
  engine->start();
  EXPECT_TRUE(engine->enabled());
  engine->setDemoKind(PointerKind::text);
  engine->sessionDidResign();
  EXPECT_FALSE(engine->enabled());
  EXPECT_FALSE(engine->systemWide());
  EXPECT_EQ(engine->demoKind(), std::nullopt);

  engine->start();
  engine->stop();
  EXPECT_FALSE(engine->enabled());
  EXPECT_FALSE(engine->systemWide());
  EXPECT_FALSE(engine->sampler()->isEnabled());
}

TEST_F(EngineTest, SwitchingPresenterWhileRunningHandsOver) {
  makeNativeEngine();
  engine->start();
  ASSERT_TRUE(engine->systemWide());
  ASSERT_TRUE(engine->sampler()->isEnabled());

  defaults->setBool(false, kUseLegacyCursorPresenterKey);
  scope->runUntilIdle();
  EXPECT_TRUE(engine->usesContinuousCursor());
  EXPECT_FALSE(engine->sampler()->isEnabled());  // the native path left as a pause leaves it
  ASSERT_TRUE(engine->continuousPresenter());
  EXPECT_TRUE(engine->continuousPresenter()->resume.moved);  // reset for the overlay

  defaults->setBool(true, kUseLegacyCursorPresenterKey);
  scope->runUntilIdle();
  EXPECT_FALSE(engine->usesContinuousCursor());
  EXPECT_TRUE(engine->sampler()->isEnabled());
  EXPECT_EQ(engine->continuousPresenter()->lastStopReason, "disabled");

}

TEST_F(EngineTest, StationaryDecisionAndPolicyRefresh) {
  auto screen = platform::NSScreen::screens().front();
  screen->setSafeAreaInsets({.top = 32});
  makeNativeEngine();
  auto window = platform::NSWindow::make(platform::NSMakeRect(100, 100, 460, 591), 2);
  engine->install(window);
  platform::CursorState::shared().setCursorLocation({700, 500});
  engine->policy()->refresh();  // the screens are read again on the next change
  platform::NSScreen::setScreens({screen, platform::NSScreen::make(platform::CGRectMake(1512, -100, 800, 600), 1)});
  scope->runUntilIdle();
  // Inset by 2 pt, cut at the menu-bar band (safe top + 4, at least 28),
  // in window-server coordinates; no Dock cut here.
  const std::vector<platform::CGRect> regions = {platform::CGRectMake(2, 36, 1508, 944),
                                                 platform::CGRectMake(1514, 510, 796, 570)};
  EXPECT_EQ(engine->screenRegions(), regions);

  struct Case {
    const char* name;
    std::function<void()> arrange;
    std::optional<std::string> reason;
  };
  const Case cases[] = {
      {"not running", [] {}, "disabled"},
      {"Reduce Motion", [&] {
         engine->start();
         platform::NSWorkspace::sharedWorkspace().setReduceMotion(true);
       }, "disabled"},
      {"screenshot grace", [&] {
         engine->setAnimateDuringCapture(false);
         platform::NSWorkspace::sharedWorkspace().launchApplication(platform::foreignPid(90),
                                                                    "com.apple.screencaptureui", "Screenshot");
         platform::NSWorkspace::sharedWorkspace().activateApplication(platform::foreignPid(90));
         engine->applicationDidActivate(
             platform::NSRunningApplication::runningApplicationWithProcessIdentifier(platform::foreignPid(90)));
       }, "disabled"},
      {"just after the grace", [&] { scope->advance(1.5); }, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    platform::NSWorkspace::sharedWorkspace().setReduceMotion(false);
    c.arrange();
    scope->runUntilIdle();
    auto answer = engine->stationaryHandoffDecision();
    if (answer.reason == NativeSurfacePolicy::kPending) {
      scope->runUntilIdle();
      answer = engine->stationaryHandoffDecision();
    }
    EXPECT_EQ(answer.reason, c.reason);
    if (!c.reason) {
      EXPECT_EQ(answer.regions, regions);
      EXPECT_EQ(answer.duration, 0.15);
    }
  }

  // A refreshed policy hands the regions to the native presenter and asks
  // the sampler to publish the cursor again.
  engine->presenter()->setAllowedRegions({});
  engine->policy()->invalidate();
  scope->runUntilIdle();
  EXPECT_EQ(engine->presenter()->allowedRegions(), regions);
}

TEST_F(EngineTest, EngineKeepsThePolicyCurrent) {
  makeEngine();
  auto policy = engine->policy();
  EXPECT_TRUE(policy->animateDuringCapture());
  auto& workspace = platform::NSWorkspace::sharedWorkspace();
  workspace.launchApplication(platform::foreignPid(91), "com.example.editor", "Editor");
  struct Case {
    const char* name;
    std::function<void()> event;
    std::function<bool()> holds;
  };
  const Case cases[] = {
      {"capture setting", [&] { engine->setAnimateDuringCapture(false); },
       [&] { return !policy->animateDuringCapture(); }},
      {"menu opens", [&] { engine->menuDidBeginTracking(); }, [&] { return policy->menuTracking(); }},
      {"menu closes", [&] { engine->menuDidEndTracking(); }, [&] { return !policy->menuTracking(); }},
      {"activation",
       [&] {
         engine->applicationDidActivate(
             platform::NSRunningApplication::runningApplicationWithProcessIdentifier(platform::foreignPid(91)));
       },
       [&] { return policy->foregroundPID() == platform::foreignPid(91); }},
      {"activation without application", [&] { engine->applicationDidActivate(nullptr); },
       [&] { return !policy->foregroundPID(); }},
      {"Space change", [&] { engine->activeSpaceDidChange(); }, [] { return true; }},
      {"start", [&] { engine->start(); }, [&] { return engine->systemWide(); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto generation = policy->generation();
    c.event();
    EXPECT_TRUE(c.holds());
    if (std::string(c.name) != "menu opens") {
      EXPECT_GT(policy->generation(), generation);  // invalidated
    }
  }
}

TEST_F(EngineTest, MaintenanceKeepsARunningEngineHonest) {
  makeNativeEngine();
  auto window = platform::NSWindow::make(platform::NSMakeRect(100, 100, 460, 591), 2);
  engine->install(window);

  // The permission lost while running: the engine turns itself off.
  engine->start();
  platform::AccessibilityServer::shared().setProcessTrusted(false);
  scope->advance(0.25);  // one maintenance pass
  EXPECT_FALSE(engine->systemWide());
  EXPECT_TRUE(engine->enabled());
  EXPECT_NE(engine->error().find("permission is required"), std::string::npos);
  platform::AccessibilityServer::shared().setProcessTrusted(true);

  // The preview runs only while its window is seen.
  struct Case {
    const char* name;
    bool active, visible;
    bool kept;
  };
  const Case cases[] = {
      {"seen", true, true, true},
      {"window hidden", true, false, false},
      {"application inactive", false, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.active) {
      platform::NSWorkspace::sharedWorkspace().activateApplication(::getpid());
    } else {
      const pid_t other = platform::foreignPid(95 + static_cast<int>(&c - cases));
      platform::NSWorkspace::sharedWorkspace().launchApplication(other, "com.example.other", "Other");
      platform::NSWorkspace::sharedWorkspace().activateApplication(other);
    }
    if (c.visible) {
      window->orderFront();
    } else {
      window->orderOut();
    }
    engine->setDemoKind(PointerKind::text);
    engine->maintenance();
    EXPECT_EQ(engine->demoKind().has_value(), c.kept);
  }

  // A paused engine is left alone.
  engine->setDemoKind(PointerKind::text);
  engine->setEnabled(false);
  engine->maintenance();
  EXPECT_EQ(engine->demoKind(), PointerKind::text);
}

TEST_F(EngineTest, ReleasingNeverMakesTheDockExperiment) {
  makeEngine();
  engine->start();
  engine->release(true, std::nullopt, false);
  engine->yieldToNative();
  engine->disable();
  engine->sessionDidResign();
  engine->stop();
  EXPECT_FALSE(engine->hasDockExperiment());

  // Once made, a release forgets the verified Dock items so the next
  // request reads at once.
  engine->dockExperiment();
  const auto generation = engine->dockRegions()->generation();
  engine->release(true, std::nullopt, false);
  EXPECT_GT(engine->dockRegions()->generation(), generation);
  EXPECT_FALSE(engine->dockRegions()->snapshot());
  EXPECT_EQ(engine->dockRegions()->requestedAt(), -std::numeric_limits<double>::infinity());
  EXPECT_FALSE(engine->dockExperiment()->observing());
}

TEST_F(EngineTest, ReleaseWithAStaleOwnerSeedDoesNothing) {
  makeNativeEngine();
  engine->start();
  const int32_t seed = platform::CursorState::shared().cursorSeed();
  auto arrow = NativeCursorLibrary::shared()->art(PointerKind::arrow);
  ASSERT_TRUE(arrow);
  ASSERT_TRUE(engine->presenter()->acceptNativeInput(*arrow, seed));
  engine->setSourceValid(true);
  ASSERT_TRUE(engine->linkRuns());
  EXPECT_FALSE(engine->release(true, seed + 1, false));
  EXPECT_EQ(engine->presenter()->acceptedInputSeed(), seed);
  EXPECT_TRUE(engine->linkRuns());
  EXPECT_TRUE(engine->release(true, seed, false));
}

TEST_F(EngineTest, GraceDeadlinesOfWorkspaceAndMenuEvents) {
  makeEngine();
  auto& workspace = platform::NSWorkspace::sharedWorkspace();
  workspace.launchApplication(platform::foreignPid(71), "com.apple.ScreenCaptureUI", "Screenshot");
  workspace.launchApplication(platform::foreignPid(72), "COM.APPLE.SCREENCAPTURE.helper", "Capture helper");
  workspace.launchApplication(platform::foreignPid(73), "com.example.editor", "Editor");
  auto app = [](pid_t pid) { return platform::NSRunningApplication::runningApplicationWithProcessIdentifier(pid); };
  struct Case {
    const char* name;
    std::function<void()> event;
    bool captureOn;
    double nativeGrace, screenshotGrace;
  };
  const Case cases[] = {
      {"menu closed", [&] { engine->menuDidEndTracking(); }, true, 0.1, 0},
      {"activation", [&] { engine->applicationDidActivate(app(platform::foreignPid(73))); }, false, 0.15, 0},
      {"activation without an application", [&] { engine->applicationDidActivate(nullptr); }, false, 0.15, 0},
      {"Space change", [&] { engine->activeSpaceDidChange(); }, true, 0.35, 0},
      {"screenshot interface, capture off", [&] { engine->applicationDidActivate(app(platform::foreignPid(71))); },
       false, 0.15, 1.5},
      {"screenshot in any case, capture off", [&] { engine->applicationDidActivate(app(platform::foreignPid(72))); },
       false, 0.15, 1.5},
      {"screenshot interface, capture on", [&] { engine->applicationDidActivate(app(platform::foreignPid(71))); },
       true, 0.15, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    engine->setAnimateDuringCapture(c.captureOn);
    scope->advance(2);
    const double at = now();
    c.event();
    // A grace holds while the uptime is before its deadline.
    EXPECT_DOUBLE_EQ(engine->nativeUntil(), at + c.nativeGrace);
    if (c.screenshotGrace > 0) {
      EXPECT_DOUBLE_EQ(engine->screenshotUntil(), at + c.screenshotGrace);
    } else {
      EXPECT_LT(engine->screenshotUntil(), at);
    }
  }
  EXPECT_EQ(events("workspace-space-changed").size(), 1u);
}

TEST_F(EngineTest, TransitionsAreTracedAndBackdatedWhileAMorphRuns) {
  makeEngine();
  auto library = NativeCursorLibrary::shared();
  auto text = library->art(PointerKind::text);
  auto hand = library->art(PointerKind::hand);
  auto arrow = library->art(PointerKind::arrow);
  ASSERT_TRUE(text && hand && arrow);

  struct Case {
    const char* name;
    bool adaptive;
    double presentedAfter;  // since the first transition began
    double beginAfter;
    double backdate;
  };
  const Case cases[] = {
      {"10 ms after the last frame", true, 0.02, 0.03, 0.01},
      {"50 ms after: capped", true, 0.02, 0.07, 1.0 / 30.0},
      {"fixed timing never backdates", false, 0.02, 0.03, 0},
      {"the previous morph had ended", true, 0.2, 0.21, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    engine->setAdaptive(c.adaptive);
    engine->resetTransition();
    ASSERT_TRUE(engine->beginTransition(arrow, false));
    const double started = now();
    ASSERT_TRUE(engine->beginTransition(text, true));
    EXPECT_EQ(engine->animation().started, started);
    EXPECT_TRUE(engine->firstMorphFrame());
    scope->advance(c.presentedAfter);
    auto frame = engine->animation().frame(now());
    ASSERT_TRUE(frame);
    engine->notePresented(*frame, now());
    scope->advance(c.beginAfter - c.presentedAfter);
    ASSERT_TRUE(engine->beginTransition(hand, true));
    EXPECT_NEAR(engine->animation().started, now() - c.backdate, 1e-9);
    EXPECT_EQ(engine->firstMorphTime(), now());
    EXPECT_EQ(engine->targetIdentity(), hand->identity());
    scope->advance(1);
  }

  // One trace record per new target, none for the same target again.
  const auto before = events("transition").size();
  const auto generation = engine->traceGeneration();
  ASSERT_TRUE(engine->beginTransition(hand, true));
  EXPECT_EQ(events("transition").size(), before);
  engine->setAdaptive(true);
  ASSERT_TRUE(engine->beginTransition(text, true));
  const auto recorded = events("transition").back();
  EXPECT_EQ(recorded.generation, generation + 1);
  EXPECT_EQ(recorded.identity, text->identity());
  EXPECT_EQ(recorded.detail, "adaptive");
  EXPECT_NEAR(*recorded.value, 150, 1e-9);

  engine->resetTransition();
  EXPECT_EQ(engine->targetIdentity(), std::nullopt);
  EXPECT_EQ(engine->lastPresentedTime(), std::nullopt);
  EXPECT_FALSE(engine->animation().isRunning(now()));
  EXPECT_FALSE(engine->beginTransition(nullptr, true));
}

TEST_F(EngineTest, KeyboardActivityWindows) {
  struct Case {
    platform::CGEventType type;
    double after;
    bool active;
  };
  const Case cases[] = {
      {platform::kCGEventKeyDown, 0.119, true},      {platform::kCGEventKeyDown, 0.12, false},
      {platform::kCGEventKeyUp, 0.119, true},        {platform::kCGEventKeyUp, 0.121, false},
      {platform::kCGEventFlagsChanged, 0.079, true}, {platform::kCGEventFlagsChanged, 0.08, false},
  };
  EXPECT_FALSE(CursorEngine::keyboardActive());
  for (const auto& c : cases) {
    platform::resetProcessState();
    auto event = std::make_shared<platform::CGEvent>();
    event->type = c.type;
    platform::CGEventPost(platform::kCGSessionEventTap, event);
    scope->advance(c.after);
    EXPECT_EQ(CursorEngine::keyboardActive(), c.active) << c.type << " after " << c.after;
  }
}

class RecordingStrip : public CursorTestStrip {
 public:
  void resyncCursorTest() override { ++resyncs; }
  int resyncs = 0;
};

TEST_F(EngineTest, ResolutionChangeRebuildsTheArtAndResyncsTheActiveStrip) {
  makeEngine();
  auto strip = std::make_shared<RecordingStrip>();
  CursorTestStrip::setActiveStrip(strip);
  renderScale();
  engine->rebuildForResolution(false);  // nothing changed
  EXPECT_EQ(strip->resyncs, 0);
  EXPECT_TRUE(events("cursor-resolution-change").empty());

  engine->rebuildForResolution(true);
  EXPECT_EQ(strip->resyncs, 1);
  ASSERT_EQ(events("cursor-resolution-change").size(), 1u);
  EXPECT_EQ(events("cursor-resolution-change")[0].detail, "density=2.0");

  platform::NSScreen::screens().front()->setBackingScaleFactor(1);
  engine->rebuildForResolution(false);
  EXPECT_EQ(strip->resyncs, 2);
  EXPECT_EQ(events("cursor-resolution-change").back().detail, "density=1.0");
  EXPECT_EQ(engine->targetIdentity(), std::nullopt);

  // A strip that went away is not called.
  strip.reset();
  EXPECT_EQ(CursorTestStrip::activeStrip(), nullptr);
  engine->rebuildForResolution(true);
}

TEST_F(EngineTest, AccessibilitySettingsOpen) {
  openAccessibilityPrivacySettings();
  EXPECT_EQ(platform::NSWorkspace::sharedWorkspace().openedURLs(),
            std::vector<std::string>{"x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility"});
}

}  // namespace
}  // namespace vurle
