// What drives the engine: the display link on the pointer's screen, the
// 1/120 s fallback timer for a late link, the three event taps (or the
// event monitors that stand in for them), the key monitor, the maintenance
// timer and the workspace and menu notifications. Every closure holds the
// engine weakly.

#include <cmath>

#include "cursor/engine/cursor_engine.hpp"
#include "cursor/engine/cursor_motion_listener.hpp"
#include "cursor/engine/native_surface_policy.hpp"
#include "cursor/native/cursor_trace.hpp"
#include "cursor/overlay/continuous_cursor_presenter.hpp"
#include "platform/appkit/application.hpp"
#include "platform/appkit/display_link.hpp"
#include "platform/appkit/event.hpp"
#include "platform/appkit/menu_tracking.hpp"
#include "platform/appkit/screen.hpp"
#include "platform/appkit/window.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/dispatch/clock.hpp"
#include "platform/dispatch/run_loop.hpp"
#include "platform/dispatch/weak_block.hpp"

namespace vurle {

namespace {

using platform::CGEventType;

constexpr double kMaintenanceInterval = 0.2;
constexpr double kMaintenanceTolerance = 0.05;
constexpr double kFallbackInterval = 1.0 / 120.0;
constexpr double kShortestLateness = 1.0 / 30.0;
constexpr double kSpeedSampleGap = 0.001;
constexpr platform::NSEventMask kKeyMask = 0x1C00;
constexpr platform::NSEventMask kMovementMask = 0xE4000FE;
constexpr platform::NSEventModifierFlags kScreenshotModifiers = 0x120000;
constexpr double kScreenshotGrace = 1.5;

const std::vector<CGEventType> kMotionTypes = {platform::kCGEventMouseMoved};
const std::vector<CGEventType> kDiscreteTypes = {
    platform::kCGEventLeftMouseDragged, platform::kCGEventRightMouseDragged, platform::kCGEventOtherMouseDragged,
    platform::kCGEventLeftMouseUp,      platform::kCGEventRightMouseUp,      platform::kCGEventOtherMouseUp,
    platform::kCGEventScrollWheel};
const std::vector<CGEventType> kButtonDownTypes = {platform::kCGEventLeftMouseDown, platform::kCGEventRightMouseDown,
                                                   platform::kCGEventOtherMouseDown};

bool isButtonPress(CGEventType type) {
  return type == platform::kCGEventLeftMouseDown || type == platform::kCGEventRightMouseDown ||
         type == platform::kCGEventOtherMouseDown;
}

bool isScreenshotShortcut(const platform::NSEvent& event) {
  const auto code = event.keyCode();
  return (event.modifierFlags() & kScreenshotModifiers) == kScreenshotModifiers &&
         (code == 20 || code == 21 || code == 23);
}

double uptime() { return platform::systemUptime(); }

}  // namespace

bool CursorEngine::wanted() const { return enabled() && (systemWide() || demoKind_.has_value()); }

bool CursorEngine::linkRuns() const { return displayLink_ && !displayLink_->isPaused(); }

void CursorEngine::pauseDisplayLink() {
  if (displayLink_) displayLink_->setPaused(true);
}

void CursorEngine::install(const std::shared_ptr<platform::NSWindow>& window) {
  hostWindow_ = window;
  const auto weak = weak_from_this();
  const auto& overlay = continuousPresenter();
  overlay->pointerBoundaryReason = [weak](CGPoint point) -> std::optional<std::string> {
    auto engine = weak.lock();
    return engine ? engine->screenEdgeReason(point) : std::nullopt;
  };
  overlay->overlapsElevatedUtility = [weak](CGRect rect) {
    auto engine = weak.lock();
    return engine && engine->overlapsElevatedUtility(rect);
  };
  StationaryPolicy decision = [weak] {
    auto engine = weak.lock();
    return engine ? engine->stationaryHandoffDecision() : StationaryPolicyAnswer{"disabled", {}, 0};
  };
  overlay->stationaryPolicy = decision;
  overlay->stationaryHandoff->policy = decision;
  policy_->setOnRefresh(platform::weakBlock(shared_from_this(), [](CursorEngine& engine) { engine.policyDidRefresh(); }));
  sampler()->setOnChange(platform::weakBlock(shared_from_this(), [](CursorEngine& engine) { engine.sampleNow(); }));
  auto motion = [weak](CGEventType type, const platform::CGEventRef& event) {
    if (auto engine = weak.lock()) engine->handleMotionEvent(type, event);
  };
  motionListener_->setOnEvent(motion);
  discreteMouseListener_->setOnEvent(motion);
  buttonDownListener_->setOnEvent([weak](CGEventType type, const platform::CGEventRef& event) {
    if (auto engine = weak.lock()) engine->handleButtonDown(type, event);
  });

  bool started = false;
  if (usesContinuousCursor_) {
    started = motionListener_->start(kMotionTypes, false) && discreteMouseListener_->start(kDiscreteTypes, false) &&
              buttonDownListener_->start(kButtonDownTypes, true);
  }
  if (!started) {
    motionListener_->stop();
    discreteMouseListener_->stop();
    buttonDownListener_->stop();
  }
  if (usesContinuousCursor_) {
    CursorTrace::shared()->record("motion-listener",
                                  {.detail = started ? "quartz-button-handoff" : "appkit-fallback"});
  }
  usesMotionFallback_ = !started;
  armMotionSources();

  monitors_.push_back(platform::NSEvent::addLocalMonitorForEventsMatchingMask(
      kKeyMask, [weak](const std::shared_ptr<platform::NSEvent>& event) {
        if (auto engine = weak.lock()) engine->handleKeyEvent(*event);
        return event;
      }));

  if (maintenance_) maintenance_->invalidate();
  maintenance_.reset();
  maintenanceInstalled_ = true;
  armMaintenance();

  auto& local = platform::NSNotificationCenter::defaultCenter();
  auto& workspace = platform::NSWorkspace::sharedWorkspace().notificationCenter();
  const auto main = platform::DispatchQueue::main();
  auto observe = [&](platform::NSNotificationCenter& center, std::vector<platform::NotificationToken>& tokens,
                     const platform::NSNotificationName& name, void (*handle)(CursorEngine&, const platform::NSNotification&)) {
    tokens.push_back(center.addObserverForName(name, nullptr, main, [weak, handle](const platform::NSNotification& note) {
      if (auto engine = weak.lock()) handle(*engine, note);
    }));
  };
  observe(local, localObservers_, platform::NSApplicationDidChangeScreenParametersNotification,
          [](CursorEngine& engine, const platform::NSNotification&) { engine.rebuildForResolution(true); });
  observe(workspace, workspaceObservers_, platform::NSWorkspaceAccessibilityDisplayOptionsDidChangeNotification,
          [](CursorEngine& engine, const platform::NSNotification&) { engine.rebuildForResolution(true); });
  observe(local, localObservers_, platform::NSMenuDidBeginTrackingNotification,
          [](CursorEngine& engine, const platform::NSNotification&) { engine.menuDidBeginTracking(); });
  observe(local, localObservers_, platform::NSMenuDidEndTrackingNotification,
          [](CursorEngine& engine, const platform::NSNotification&) { engine.menuDidEndTracking(); });
  observe(workspace, workspaceObservers_, platform::NSWorkspaceDidActivateApplicationNotification,
          [](CursorEngine& engine, const platform::NSNotification& note) {
            std::shared_ptr<platform::NSRunningApplication> application;
            if (auto found = note.userInfo.find(platform::NSWorkspaceApplicationKey); found != note.userInfo.end()) {
              if (auto held = std::any_cast<std::shared_ptr<platform::NSRunningApplication>>(&found->second)) {
                application = *held;
              }
            }
            engine.applicationDidActivate(application);
          });
  observe(workspace, workspaceObservers_, platform::NSWorkspaceActiveSpaceDidChangeNotification,
          [](CursorEngine& engine, const platform::NSNotification&) { engine.activeSpaceDidChange(); });
  observe(workspace, workspaceObservers_, platform::NSWorkspaceDidLaunchApplicationNotification,
          [](CursorEngine& engine, const platform::NSNotification&) { engine.applicationsDidChange(); });
  observe(workspace, workspaceObservers_, platform::NSWorkspaceDidTerminateApplicationNotification,
          [](CursorEngine& engine, const platform::NSNotification&) { engine.applicationsDidChange(); });
  observe(workspace, workspaceObservers_, platform::NSWorkspaceSessionDidResignActiveNotification,
          [](CursorEngine& engine, const platform::NSNotification&) { engine.sessionDidResign(); });
  observe(workspace, workspaceObservers_, platform::NSWorkspaceWillSleepNotification,
          [](CursorEngine& engine, const platform::NSNotification&) { engine.sessionDidResign(); });
}

void CursorEngine::armMaintenance() {
  const bool wantedNow = maintenanceInstalled_ && enabled();
  if (wantedNow == (maintenance_ != nullptr)) return;
  if (!wantedNow) {
    maintenance_->invalidate();
    maintenance_.reset();
    return;
  }
  maintenance_ = platform::NSTimer::make(kMaintenanceInterval, true, [weak = weak_from_this()](platform::NSTimer&) {
    if (auto engine = weak.lock()) engine->maintenance();
  });
  maintenance_->setTolerance(kMaintenanceTolerance);
  platform::RunLoop::main().add(maintenance_, platform::RunLoopMode::common);
}

void CursorEngine::ensureDisplayLink() {
  if (!wanted()) return;
  const auto screens = platform::NSScreen::screens();
  const auto pointer = platform::NSEvent::mouseLocation();
  std::shared_ptr<platform::NSScreen> screen = screenContaining(pointer);
  if (!screen) {
    if (auto window = hostWindow_.lock()) screen = window->screen();
  }
  if (!screen && !screens.empty()) screen = screens.front();
  if (!screen) return;  // no screen at all: the next input tries again

  const bool sameScreen = displayLink_ && linkedScreen_.lock() == screen;
  const bool restamp = !(sameScreen && linkRuns());
  if (!sameScreen) {
    if (displayLink_) displayLink_->invalidate();
    linkedScreen_ = screen;
    displayLink_ = platform::displayLinkWithTarget(screen, shared_from_this(), &CursorEngine::tick);
    displayLink_->addToRunLoop(platform::RunLoop::main(), platform::RunLoopMode::common);
  }
  if (restamp) {
    const double t = uptime();
    lastDisplayCallbackAt_ = t;
    lastContinuousFrameAt_ = t;
  }
  displayLink_->setPaused(false);
  armMotionSources();
}

void CursorEngine::armMotionSources() {
  const bool want = wanted();
  for (const auto& listener : {discreteMouseListener_, buttonDownListener_}) listener->setObserving(want);
  installMovementMonitors(want && usesMotionFallback_);

  bool motionTarget = want;
  bool fallbackWanted = false;
  if (enabled() && systemWide() && usesContinuousCursor_ && displayLink_) {
    // While the link runs it polls the pointer itself; the tap only wakes a
    // paused link.
    motionTarget = want && displayLink_->isPaused();
    fallbackWanted = linkRuns();
  }
  motionListener_->setObserving(motionTarget);

  if (!fallbackWanted) {
    if (motionBoundaryTimer_) motionBoundaryTimer_->invalidate();
    motionBoundaryTimer_.reset();
    return;
  }
  if (motionBoundaryTimer_) return;
  motionBoundaryTimer_ = platform::NSTimer::make(kFallbackInterval, true, [weak = weak_from_this()](platform::NSTimer&) {
    auto engine = weak.lock();
    if (!engine) return;
    if (engine->enabled() && engine->systemWide() && engine->usesContinuousCursor_ && engine->linkRuns()) {
      engine->fallbackTick();
    } else {
      engine->armMotionSources();
    }
  });
  motionBoundaryTimer_->setTolerance(0);
  platform::RunLoop::main().add(motionBoundaryTimer_, platform::RunLoopMode::common);
}

void CursorEngine::installMovementMonitors(bool on) {
  if (on == observingFallbackMotion_) return;
  observingFallbackMotion_ = on;
  if (!on) {
    for (const auto& token : movementMonitors_) platform::NSEvent::removeMonitor(token);
    movementMonitors_.clear();
    return;
  }
  const auto weak = weak_from_this();
  if (auto token = platform::NSEvent::addGlobalMonitorForEventsMatchingMask(
          kMovementMask, [weak](const std::shared_ptr<platform::NSEvent>& event) {
            if (auto engine = weak.lock()) engine->handlePointerInput(*event);
          })) {
    movementMonitors_.push_back(token);
  }
  if (auto token = platform::NSEvent::addLocalMonitorForEventsMatchingMask(
          kMovementMask, [weak](const std::shared_ptr<platform::NSEvent>& event) {
            if (auto engine = weak.lock()) engine->handlePointerInput(*event);
            return event;
          })) {
    movementMonitors_.push_back(token);
  }
}

void CursorEngine::tick(platform::CADisplayLink&) {
  lastDisplayCallbackAt_ = uptime();
  step();
}

void CursorEngine::fallbackTick() {
  if (continuousPresenter_) {
    continuousPresenter_->checkScreenEdge(platform::NSEvent::mouseLocation());
    continuousPresenter_->commitDrawableClear();
  }
  if (servicingFrame_ || !(enabled() && systemWide() && usesContinuousCursor_ && linkRuns())) return;
  double rate = 60;
  if (auto screen = linkedScreen_.lock()) rate = static_cast<double>(std::max(screen->maximumFramesPerSecond(), 1L));
  const double period = 1 / rate;
  if (!lastDisplayCallbackAt_ || !lastContinuousFrameAt_) return;
  const double t = uptime();
  const double silence = t - *lastDisplayCallbackAt_;
  const double lateAfter = 2 * period > kShortestLateness ? 2 * period : kShortestLateness;
  if (!(silence >= lateAfter)) return;
  if (t - *lastContinuousFrameAt_ < 0.9 * period) return;
  ++fallbackFrames_;
  const bool active = continuousPresenter_ && continuousPresenter_->active;
  CursorTrace::shared()->record("display-tick-fallback",
                                {.value = silence * 1000, .detail = active ? "overlay-active" : "overlay-inactive"});
  step();
}

void CursorEngine::stopDisplayLink() {
  release(true, std::nullopt, false);
  if (displayLink_) displayLink_->invalidate();
  displayLink_.reset();
  linkedScreen_.reset();
}

void CursorEngine::sampleNow() {
  if (!(enabled() && systemWide())) return;
  ensureDisplayLink();
  if (!displayLink_) return;
  samplingPass_ = true;
  lastDisplayCallbackAt_ = uptime();
  step();
  samplingPass_ = false;
}

void CursorEngine::foldSpeed(double t, CGPoint point) {
  const double elapsed = t - lastMouseTime_;
  if (!(elapsed > kSpeedSampleGap) || point == lastMouse_) return;
  motion_.record(pointDistance(point, lastMouse_) / elapsed, t);
  lastMouse_ = point;
  lastMouseTime_ = t;
}

void CursorEngine::handleMotionEvent(CGEventType type, const platform::CGEventRef& event) {
  if (!enabled()) return;
  if (type == platform::kCGEventMouseMoved && systemWide() && usesContinuousCursor_) {
    if (!linkRuns()) {
      recordPointerMotion();
    } else {
      continuousPresenter()->checkScreenEdge(platform::NSEvent::mouseLocation());
    }
    return;
  }
  if (auto converted = platform::NSEvent::eventWithCGEvent(event)) handlePointerInput(*converted);
}

void CursorEngine::recordPointerMotion() {
  const double t = uptime();
  const auto point = platform::NSEvent::mouseLocation();
  foldSpeed(t, point);
  const auto& overlay = continuousPresenter();
  overlay->pointerMoved(point);
  if (!linkRuns() && overlay->canResume(t)) {
    overlay->requestWindowLookup(point, t);
    refreshPolicyIfStale();
    ensureDisplayLink();
  }
  CursorTrace::shared()->recordMainWork(t, "pointer-motion");
}

void CursorEngine::handlePointerInput(const platform::NSEvent& event) {
  const double t = uptime();
  const bool move = event.type() == platform::kCGEventMouseMoved;
  const auto point = platform::NSEvent::mouseLocation();
  if (!move) stopDockExperiment(false);
  if (systemWide() && usesContinuousCursor_) {
    foldSpeed(t, point);
    const auto& overlay = continuousPresenter();
    overlay->handleDiscreteInput(event.type(), t);
    if (!(move && linkRuns())) {
      if (!overlay->canResume(t)) {
        pauseDisplayLink();
      } else {
        refreshPolicyIfStale();
        ensureDisplayLink();
      }
    }
  } else {
    sampler()->quicken();
    if (!move) lastDiscreteCursorInput_ = t;
    foldSpeed(t, point);
    if (systemWide() && isButtonPress(event.type())) {
      // The press may open a menu or a dialog: ask the policy afresh, and
      // let the native presenter hold only briefly and only where no menu
      // bar or Dock can be.
      invalidatePolicy();
      if (!policyPendingSince_) policyPendingSince_ = t;
      const bool reduce = platform::NSWorkspace::sharedWorkspace().accessibilityDisplayShouldReduceMotion();
      presenter_->setHoldPolicy(sourceValid_ && !reduce, policy_->allowedRegions(), *policyPendingSince_ + 0.1);
    }
    if (systemWide()) refreshPolicyIfStale();
    const bool idle = !systemWide() && !demoKind_;
    if (!idle) {
      lastActivity_ = t;
      const bool resting = systemWide() && sourceValid_ && !animation_.isRunning(t) && !policyPendingSince_;
      if (!resting) ensureDisplayLink();
    }
  }
  armMotionSources();
  CursorTrace::shared()->recordMainWork(t, "pointer-input");
}

void CursorEngine::handleButtonDown(CGEventType, const platform::CGEventRef& event) {
  if (!enabled()) return;
  auto converted = platform::NSEvent::eventWithCGEvent(event);
  if (!converted) return;
  handlePointerInput(*converted);
  std::optional<double> visible;
  if (auto answer = access_.cursorIsVisible()) visible = *answer ? 1.0 : 0.0;
  CursorTrace::shared()->record("button-down-handoff", {.value = visible, .detail = "before-target-dispatch"});
}

void CursorEngine::handleKeyEvent(const platform::NSEvent& event) {
  const double t = uptime();
  lastDiscreteCursorInput_ = t;
  if (isScreenshotShortcut(event) && !animateDuringCapture()) {
    screenshotUntil_ = t + kScreenshotGrace;
    yieldToNative();
  }
  if (enabled() && systemWide()) {
    if (usesContinuousCursor_) {
      continuousPresenter()->handleDiscreteInput(event.type(), t);
      pauseDisplayLink();
    } else {
      sampler()->quicken();
      refreshPolicyIfStale();
      lastActivity_ = t;
      ensureDisplayLink();
    }
  }
  armMotionSources();
}

}  // namespace vurle
