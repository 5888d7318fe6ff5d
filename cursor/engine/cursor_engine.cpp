#include "cursor/engine/cursor_engine.hpp"

#include <cctype>
#include <cmath>
#include <mutex>

#include "cursor/art/cursor_scale.hpp"
#include "cursor/art/metal_cursor_renderer.hpp"
#include "cursor/art/native_cursor_library.hpp"
#include "cursor/art/pointer_drawing_view.hpp"
#include "cursor/art/static_cursor_recognition.hpp"
#include "cursor/engine/accessibility_role_probe.hpp"
#include "cursor/engine/app_switcher_observer.hpp"
#include "cursor/engine/cursor_motion_listener.hpp"
#include "cursor/engine/cursor_test_strip.hpp"
#include "cursor/engine/experimental_dock_cursor.hpp"
#include "cursor/engine/experimental_dock_regions.hpp"
#include "cursor/engine/native_surface_policy.hpp"
#include "cursor/native/cursor_trace.hpp"
#include "cursor/native/native_cursor_readback.hpp"
#include "cursor/overlay/continuous_cursor_presenter.hpp"
#include "cursor/overlay/cursor_overlay_space.hpp"
#include "cursor/overlay/cursor_space_animation.hpp"
#include "platform/accessibility/accessibility.hpp"
#include "platform/appkit/application.hpp"
#include "platform/appkit/display_link.hpp"
#include "platform/appkit/event.hpp"
#include "platform/appkit/window.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/dispatch/clock.hpp"
#include "platform/dispatch/run_loop.hpp"
#include "platform/events/event.hpp"
#include "platform/foundation/url.hpp"

namespace vurle {

namespace {

constexpr char kUnavailableMessage[] = "system-wide cursor access is unavailable on this macOS version.";
constexpr char kAccessibilitySettingsURL[] =
    "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility";
constexpr double kBackdatingCap = 1.0 / 30.0;
constexpr double kKeyWindow = 0.12;
constexpr double kModifierWindow = 0.08;
// Input refreshes the surface policy at most this often.
constexpr double kPolicyRefreshAge = 0.08;

std::optional<int32_t> frontmostPID() {
  if (auto application = platform::NSWorkspace::sharedWorkspace().frontmostApplication()) {
    return application->processIdentifier();
  }
  return std::nullopt;
}

bool reduceMotion() { return platform::NSWorkspace::sharedWorkspace().accessibilityDisplayShouldReduceMotion(); }

}  // namespace

double CursorEngine::now() { return platform::systemUptime(); }

double CursorEngine::clampMilliseconds(double milliseconds) {
  if (!std::isfinite(milliseconds)) return kDefaultMilliseconds;
  if (milliseconds < kMinimumMilliseconds) return kMinimumMilliseconds;
  if (milliseconds > kMaximumMilliseconds) return kMaximumMilliseconds;
  return milliseconds;
}

std::shared_ptr<CursorEngine> CursorEngine::make(VerificationVisibility verificationVisibility,
                                                 std::shared_ptr<platform::NSUserDefaults> defaults) {
  if (!defaults) defaults = platform::NSUserDefaults::standardUserDefaults();
  std::shared_ptr<CursorEngine> engine(new CursorEngine(verificationVisibility, std::move(defaults)));
  engine->observeDefaults();
  return engine;
}

namespace {

// Any stored number counts, integer or not; anything else is the default.
double storedNumber(const platform::NSUserDefaults& defaults, const char* key, double fallback) {
  auto value = defaults.objectForKey(key);
  if (!value) return fallback;
  if (auto real = value->real()) return *real;
  if (auto whole = value->integer()) return static_cast<double>(*whole);
  return fallback;
}

}  // namespace

CursorEngine::CursorEngine(VerificationVisibility verificationVisibility,
                           std::shared_ptr<platform::NSUserDefaults> defaults)
    : defaults_(std::move(defaults)),
      storedMilliseconds_(clampMilliseconds(storedNumber(*defaults_, kTransitionMillisecondsKey, kDefaultMilliseconds))),
      adaptive_(true),
      animateDuringCapture_(true),
      presenter_(NativeCursorPresenter::make()),
      appSwitcherObserver_(AppSwitcherCursorObserver::make()),
      verificationVisibility_(verificationVisibility),
      classifier_(std::make_unique<StaticCursorRecognition>()),
      policy_(NativeSurfacePolicy::make(frontmostPID())),
      motionListener_(CursorMotionListener::make()),
      discreteMouseListener_(CursorMotionListener::make()),
      buttonDownListener_(CursorMotionListener::make()),
      animation_(std::nullopt, std::nullopt, /*prefersMetal=*/true, /*cacheStaticCustomTransitions=*/false) {
  adaptive_.set(storedBool(kAdaptiveTimingKey).value_or(true));
  animateDuringCapture_.set(storedBool(kAnimateDuringCaptureKey).value_or(true));
  lastMouse_ = platform::NSEvent::mouseLocation();
  lastMouseTime_ = now();
  restAnimationOnArrow();
  usesContinuousCursor_ = readUsesContinuousCursor();
  policy_->setAnimateDuringCapture(animateDuringCapture());
  // Made now so that its pipeline compiles before the first transition.
  MetalCursorRenderer::shared();
}

// The run loop keeps timers and links until they are invalidated; an
// engine that goes without stop must not leave them firing.
CursorEngine::~CursorEngine() {
  if (maintenance_) maintenance_->invalidate();
  if (motionBoundaryTimer_) motionBoundaryTimer_->invalidate();
  if (displayLink_) displayLink_->invalidate();
}

void CursorEngine::observeDefaults() {
  localObservers_.push_back(platform::NSNotificationCenter::defaultCenter().addObserverForName(
      platform::NSUserDefaultsDidChangeNotification, defaults_.get(), platform::DispatchQueue::main(),
      [weak = weak_from_this()](const platform::NSNotification&) {
        if (auto engine = weak.lock()) engine->defaultsDidChange();
      }));
}

// Anything that does not bridge to a Boolean counts as absent.
std::optional<bool> CursorEngine::storedBool(const char* key) const {
  auto value = defaults_->objectForKey(key);
  return value ? value->bridgedBool() : std::nullopt;
}

bool CursorEngine::readUsesContinuousCursor() const {
  if (verificationVisibility_) return false;
  return !defaults_->boolForKey(kUseLegacyCursorPresenterKey);
}

void CursorEngine::restAnimationOnArrow() {
  if (auto arrow = NativeCursorLibrary::shared()->art(PointerKind::arrow)) animation_.show(arrow, 0);
}

const std::shared_ptr<ContinuousCursorPresenter>& CursorEngine::continuousPresenter() {
  if (!continuousPresenter_) continuousPresenter_ = ContinuousCursorPresenter::make(CursorOverlaySpace::make());
  return continuousPresenter_;
}

const std::shared_ptr<ExperimentalDockCursor>& CursorEngine::dockExperiment() {
  if (!dockExperiment_) dockExperiment_ = ExperimentalDockCursor::make();
  return dockExperiment_;
}

const std::shared_ptr<ExperimentalDockRegions>& CursorEngine::dockRegions() {
  if (!dockRegions_) dockRegions_ = ExperimentalDockRegions::make();
  return dockRegions_;
}

CursorSpaceAnimation& CursorEngine::dockSpace() {
  if (!dockSpace_) dockSpace_ = std::make_unique<CursorSpaceAnimation>();
  return *dockSpace_;
}

void CursorEngine::stopDockExperiment(bool restore) {
  if (dockExperiment_) dockExperiment_->stop(restore);
}

ContinuousCursorPresenter* CursorEngine::overlayInUse() const {
  return usesContinuousCursor_ ? continuousPresenter_.get() : nullptr;
}

void CursorEngine::selectPresenter() {
  const bool continuous = readUsesContinuousCursor();
  if (continuous == usesContinuousCursor_) return;
  if (systemWide()) {
    // Leave the presenter in use as a pause would, so neither keeps the
    // cursor hidden nor goes without samples after the switch.
    if (usesContinuousCursor_) {
      if (continuousPresenter_) continuousPresenter_->release("disabled");
      appSwitcherObserver_->stop();
    } else {
      presenter_->setKeepWarm(false);
      if (sampler_) sampler_->setEnabled(false);
      presenter_->restoreNative(false);
    }
  }
  usesContinuousCursor_ = continuous;
  if (systemWide()) takePresenter();
}

void CursorEngine::takePresenter() {
  if (!usesContinuousCursor_) {
    presenter_->setKeepWarm(true);
    sampler()->setEnabled(true);
    return;
  }
  continuousPresenter()->reset();
  appSwitcherObserver_->setOnChange(
      [weak = weak_from_this()](const std::optional<AppSwitcherCursorScope>& scope) {
        if (auto engine = weak.lock()) engine->appSwitcherChanged(scope);
      });
  appSwitcherObserver_->start();
}

void CursorEngine::appSwitcherChanged(const std::optional<AppSwitcherCursorScope>& scope) {
  if (enabled() && systemWide() && usesContinuousCursor_) continuousPresenter()->yieldToNative(scope);
}

const std::shared_ptr<NativeCursorSampler>& CursorEngine::sampler() {
  if (!sampler_) {
    NativeCursorSampler::Visibility visible;
    if (verificationVisibility_) visible = verificationVisibility_;
    sampler_ = NativeCursorSampler::make(presenter_, std::move(visible), renderScale());
  }
  return sampler_;
}

// ---- settings ----

void CursorEngine::setStoredMilliseconds(double milliseconds) {
  const double clamped = clampMilliseconds(milliseconds);
  storedMilliseconds_.set(clamped);
  defaults_->setObject(clamped, kTransitionMillisecondsKey);
}

void CursorEngine::setAdaptive(bool adaptive) {
  adaptive_.set(adaptive);
  defaults_->setBool(adaptive_.value(), kAdaptiveTimingKey);
}

void CursorEngine::setAnimateDuringCapture(bool animate) {
  animateDuringCapture_.set(animate);
  defaults_->setBool(animateDuringCapture_.value(), kAnimateDuringCaptureKey);
  policy_->setAnimateDuringCapture(animateDuringCapture_.value());
  invalidatePolicy();
  screenshotUntil_ = 0;
  yieldToNative();
  if (systemWide()) {
    sampler()->clearPublishedSeed();
    ensureDisplayLink();
  }
}

void CursorEngine::setAutomaticPauseReason(std::optional<std::string> reason) {
  if (automaticPauseReason_.value() == reason) return;
  automaticPauseReason_.set(std::move(reason));
}

// ---- lifecycle ----

bool CursorEngine::accessibilityGranted() const {
  return AccessibilityRoleProbe::shared()->check(platform::AXIsProcessTrusted());
}

bool CursorEngine::presenterAvailable() {
  if (usesContinuousCursor_) return continuousPresenter()->lease->available();
  if (!presenter_->isAvailable()) return false;
  const auto& sampling = sampler();
  return sampling->hasSeedReader() && sampling->hasVisibilityReader();
}

void CursorEngine::start() {
  if (systemWide()) {
    disable();
    return;
  }
  usesContinuousCursor_ = readUsesContinuousCursor();
  if (!verificationVisibility_ && !accessibilityGranted()) {
    error_.set(AccessibilityRoleProbe::permissionMessage());
    return;
  }
  if (!presenterAvailable()) {
    error_.set(kUnavailableMessage);
    return;
  }
  rebuildForResolution(false);
  release(true, std::nullopt, false);
  error_.set(std::string());
  publishEnabled(true);
  systemWide_.set(true);
  sourceValid_ = false;
  lastSeed_.reset();
  invalidatePolicy();
  takePresenter();
  ensureDisplayLink();
}

void CursorEngine::stop() {
  publishEnabled(false);
  demoKind_.reset();
  disable();
  release(true, std::nullopt, false);
  maintenanceInstalled_ = false;
  armMaintenance();
  if (sampler_) sampler_->setEnabled(false);
  for (const auto& token : monitors_) platform::NSEvent::removeMonitor(token);
  monitors_.clear();
  installMovementMonitors(false);
  motionListener_->stop();
  discreteMouseListener_->stop();
  buttonDownListener_->stop();
  for (const auto& token : localObservers_) platform::NSNotificationCenter::defaultCenter().removeObserver(token);
  localObservers_.clear();
  auto& workspaceCenter = platform::NSWorkspace::sharedWorkspace().notificationCenter();
  for (const auto& token : workspaceObservers_) workspaceCenter.removeObserver(token);
  workspaceObservers_.clear();
  stopDisplayLink();
}

void CursorEngine::resetGateState() {
  retryDeferredFrame_ = false;
  deferredSample_.reset();
  policyPendingSince_.reset();
  policyPausedAt_.reset();
  boundarySample_.reset();
  boundaryTolerance_.reset();
}

void CursorEngine::disable() {
  appSwitcherObserver_->stop();
  if (auto overlay = overlayInUse()) overlay->release("disabled");
  presenter_->setHolds(false, std::nullopt);
  presenter_->setKeepWarm(false);
  if (sampler_) sampler_->setEnabled(false);
  systemWide_.set(false);
  sourceValid_ = false;
  firstMorphFrame_ = false;
  resetGateState();
  release(true, std::nullopt, false);
}

bool CursorEngine::release(bool pauseLink, std::optional<int32_t> ownerSeed, bool restore) {
  // A stale owner must not take the pointer from whoever holds it now, so
  // the seed is checked before anything else changes.
  std::unique_lock<platform::NSRecursiveLock> owner(presenter_->lock(), std::defer_lock);
  if (ownerSeed) {
    owner.lock();
    const auto accepted = presenter_->acceptedInputSeed();
    if (!accepted || *accepted != *ownerSeed) return false;
  }
  stopDockExperiment(true);
  if (dockRegions_) dockRegions_->invalidate();
  if (auto overlay = overlayInUse()) overlay->release("release");
  retryDeferredFrame_ = false;
  presenter_->restoreNative(ownerSeed ? false : restore);
  if (owner.owns_lock()) owner.unlock();
  overlayVisible_ = false;
  if (pauseLink) {
    pauseDisplayLink();
    lastDisplayTick_.reset();
  }
  armMotionSources();
  return true;
}

void CursorEngine::yieldToNative() {
  if (auto overlay = overlayInUse()) overlay->suspend("native-yield", now());
  resetGateState();
  presenter_->setHolds(false, std::nullopt);
  sourceValid_ = false;
  animation_.started = now();
  animation_.duration = 0;
  firstMorphFrame_ = false;
  release(true, std::nullopt, false);
}

void CursorEngine::rebuildForResolution(bool force) {
  if (!refreshRenderScale() && !force) return;
  const double scale = renderScale();
  CursorTrace::shared()->record("cursor-resolution-change",
                                {.detail = std::string("density=") + shortestDecimal(scale)});
  yieldToNative();
  if (auto overlay = overlayInUse()) overlay->resolutionChanged();
  presenter_->invalidate();
  if (sampler_) sampler_->setPixelScale(scale);
  NativeCursorLibrary::shared()->invalidate();
  if (auto overlay = overlayInUse()) overlay->refreshKnownLabels();
  if (auto strip = CursorTestStrip::activeStrip()) strip->resyncCursorTest();
  animation_ = PointerAnimation(std::nullopt, std::nullopt, true, false);
  restAnimationOnArrow();
  targetIdentity_.reset();
  lastPresentedFrame_.reset();
  lastPresentedTime_.reset();
  lastSeed_.reset();
  observedIdentity_.reset();
  firstMorphFrame_ = false;
  sampledArt_.clear();
  stationaryChanges_.clear();
  nativeStreamUntil_ = 0;
  if (auto preview = preview_.lock()) preview->setImage(animation_.frame(now()));
  invalidatePolicy();
  stopDisplayLink();
  if (systemWide()) sampler()->clearPublishedSeed();
  ensureDisplayLink();
}

void CursorEngine::setEnabled(bool enabled) { publishEnabled(enabled); }

void CursorEngine::publishEnabled(bool enabled) {
  enabled_.set(enabled);
  armMaintenance();
}

void CursorEngine::maintenance() {
  const double started = now();
  if (enabled()) maintenancePass();
  CursorTrace::shared()->recordMainWork(started, "maintenance");
}

void CursorEngine::maintenancePass() {
  selectPresenter();
  rebuildForResolution(false);
  if (systemWide() && usesContinuousCursor_) {
    continuousPresenter()->reportDiagnostics();
    if (!continuousPresenter()->canResume(now())) return;
  }
  if (systemWide() && !verificationVisibility_ && !accessibilityGranted()) {
    error_.set(AccessibilityRoleProbe::permissionMessage());
    disable();
    return;
  }
  if (!systemWide()) {
    // The preview keeps running only while someone can see it.
    auto window = hostWindow_.lock();
    const bool seen = platform::NSApplication::shared()->isActive() && window && window->isVisible();
    if (demoKind_ && seen) return;
    demoKind_.reset();
    release(true, std::nullopt, false);
    return;
  }
  if (usesContinuousCursor_) {
    refreshPolicyIfStale();
    ensureDisplayLink();
    return;
  }
  const double t = now();
  if (!sourceValid_ && !(t < nativeUntil_) && !(t < screenshotUntil_) && !(t < ownershipCooldownUntil_)) {
    sampler()->clearPublishedSeed();
  }
  const auto readSeed = access_.currentSeed();
  const int32_t seed = readSeed.value_or(0);
  if (presenter_->recoveryEpoch() == nativeWatchdogGeneration_ && sourceValid_ && !policyPendingSince_) {
    // Nothing changed since the last frame: the display link may rest.
    if (readSeed && (lastSeed_ == seed || presenter_->ownsSeed(seed))) return;
    if (!readSeed && !lastSeed_) return;
  }
  ensureDisplayLink();
}

// ---- notifications ----

void CursorEngine::defaultsDidChange() { selectPresenter(); }

void CursorEngine::menuDidBeginTracking() {
  policy_->setMenuTracking(true);
  yieldToNative();
}

void CursorEngine::menuDidEndTracking() {
  if (auto overlay = overlayInUse()) overlay->release("menu-closed");
  policy_->setMenuTracking(false);
  invalidatePolicy();
  sourceValid_ = false;
  nativeUntil_ = now() + 0.1;
  ensureDisplayLink();
}

void CursorEngine::applicationDidActivate(const std::shared_ptr<platform::NSRunningApplication>& application) {
  continuousPresenter()->stationaryHandoff->noteActivity();
  policy_->setForegroundPID(application ? std::optional<int32_t>(application->processIdentifier()) : std::nullopt);
  invalidatePolicy();
  nativeUntil_ = now() + 0.15;
  yieldToNative();
  if (enabled() && systemWide() && usesContinuousCursor_) {
    std::optional<int32_t> pid;
    if (application) pid = application->processIdentifier();
    continuousPresenter()->applicationContextChanged(pid);
  }
  if (application && application->bundleIdentifier() && !animateDuringCapture()) {
    std::string lowered = *application->bundleIdentifier();
    for (auto& c : lowered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lowered.find("screencapture") != std::string::npos) {
      screenshotUntil_ = now() + 1.5;
      yieldToNative();
    }
  }
  if (auto overlay = overlayInUse()) overlay->commitDrawableClear();
}

void CursorEngine::activeSpaceDidChange() {
  CursorTrace::shared()->record("workspace-space-changed");
  invalidatePolicy();
  nativeUntil_ = now() + 0.35;
  if (auto overlay = overlayInUse()) overlay->spaceChanged(now());
  yieldToNative();
  stopDisplayLink();
  ensureDisplayLink();
}

void CursorEngine::applicationsDidChange() { policy_->forgetOwners(); }

void CursorEngine::sessionDidResign() {
  publishEnabled(false);
  demoKind_.reset();
  disable();
  release(true, std::nullopt, false);
}

// ---- surface policy ----

void CursorEngine::invalidatePolicy() { policy_->invalidate(); }

void CursorEngine::refreshPolicyIfStale() {
  if (now() - policy_->inspectedAt() > kPolicyRefreshAge) policy_->refresh();
}

std::vector<CGRect> CursorEngine::screenRegions() const {
  std::vector<CGRect> regions;
  const auto& screens = policy_->screens();
  if (screens.empty()) return regions;
  const CGFloat flip = CGRectGetMaxY(screens.front().frame);
  for (const auto& screen : screens) {
    const CGRect inner = CGRectInset(screen.frame, 2, 2);
    const CGFloat band = screen.safeTop + 4 > 28 ? screen.safeTop + 4 : 28;
    const CGFloat top = CGRectGetMaxY(screen.frame) - band;
    const CGFloat height = top - CGRectGetMinY(inner);
    regions.push_back(platform::CGRectMake(CGRectGetMinX(inner), flip - top, CGRectGetWidth(inner), height > 0 ? height : 0));
  }
  return regions;
}

std::optional<std::string> CursorEngine::screenEdgeReason(CGPoint point) const {
  return policy_->screenEdgeReason(point);
}

bool CursorEngine::overlapsElevatedUtility(CGRect rect) const { return policy_->overlapsElevatedUtility(rect); }

StationaryPolicyAnswer CursorEngine::stationaryHandoffDecision() {
  StationaryPolicyAnswer answer{"disabled", {}, 0};
  const double t = now();
  if (!(enabled() && systemWide()) || reduceMotion() || t < screenshotUntil_) return answer;
  refreshPolicyIfStale();
  const auto& handoff = continuousPresenter()->stationaryHandoff;
  const bool menuEntry = handoff->armed && handoff->menuEntryUntil && t < *handoff->menuEntryUntil;
  answer.reason = policy_->evaluate(platform::NSEvent::mouseLocation(), hostWindow_.lock(), menuEntry,
                                    std::nullopt, false);
  answer.regions = screenRegions();
  answer.duration = clampedDuration(storedMilliseconds());
  return answer;
}

void CursorEngine::policyDidRefresh() {
  if (!(enabled() && systemWide())) return;
  if (continuousPresenter_) continuousPresenter_->stationaryHandoff->refreshPolicy();
  presenter_->setAllowedRegions(screenRegions());
  if (sourceValid_ && !deferredSample_ && !policyPendingSince_) return;
  if (!deferredSample_) sampler()->clearPublishedSeed();
  ensureDisplayLink();
}

// ---- timing and motion ----

double CursorEngine::currentSpeed() const { return motion_.current(now()); }

bool CursorEngine::keyboardActive() {
  using platform::CGEventSourceSecondsSinceLastEventType;
  constexpr auto state = platform::kCGEventSourceStateCombinedSessionState;
  const double down = CGEventSourceSecondsSinceLastEventType(state, platform::kCGEventKeyDown);
  const double up = CGEventSourceSecondsSinceLastEventType(state, platform::kCGEventKeyUp);
  const double flags = CGEventSourceSecondsSinceLastEventType(state, platform::kCGEventFlagsChanged);
  if (!std::isfinite(down) || !std::isfinite(up) || !std::isfinite(flags)) return true;
  return (down < up ? down : up) < kKeyWindow || flags < kModifierWindow;
}

double CursorEngine::transitionDuration(double speed) const {
  return vurle::transitionDuration(storedMilliseconds(), adaptive(), speed, reduceMotion());
}

bool CursorEngine::beginTransition(const ArtRef& art, bool animated) {
  if (!art) return false;
  if (!animated) {
    if (!animation_.show(art, now())) {
      resetTransition();
      return false;
    }
    targetIdentity_ = art->identity();
    firstMorphFrame_ = false;
    return true;
  }
  if (targetIdentity_ && *targetIdentity_ == art->identity()) return true;
  ++traceGeneration_;
  targetIdentity_ = art->identity();
  const double duration = transitionDuration(currentSpeed());
  CursorTrace::shared()->record("transition", {.seed = lastSeed_,
                                               .generation = traceGeneration_,
                                               .identity = art->identity(),
                                               .value = duration * 1000,
                                               .detail = adaptive() ? "adaptive" : "fixed"});
  const double previousStarted = animation_.started;
  const double previousDuration = animation_.duration;
  const auto presentedAt = lastPresentedTime_;
  const double t = now();
  if (!animation_.begin(art, t, duration, presentedAt, lastPresentedFrame_)) {
    resetTransition();
    return false;
  }
  // A morph that replaces one still on screen starts where the pointer's
  // picture already is in time, so the new shape does not lag a frame.
  double backdate = 0;
  const double shownAt = presentedAt.value_or(t);
  if (adaptive() && previousDuration > 0 && shownAt < previousStarted + previousDuration) {
    const double gap = t - shownAt;
    if (gap >= 0) backdate = gap < kBackdatingCap ? gap : kBackdatingCap;
  }
  animation_.started = t - backdate;
  firstMorphFrame_ = true;
  firstMorphTime_ = now();
  return true;
}

void CursorEngine::resetTransition() {
  yieldToNative();
  animation_.started = now();
  animation_.duration = 0;
  animation_.to.reset();
  animation_.destination.reset();
  animation_.sourceSolid.clear();
  animation_.sourceRGBA.clear();
  animation_.initialFrame.reset();
  animation_.cachedTransition.reset();
  targetIdentity_.reset();
  lastPresentedFrame_.reset();
  lastPresentedTime_.reset();
  firstMorphFrame_ = false;
  if (auto preview = preview_.lock()) preview->setImage(std::nullopt);
}

void CursorEngine::recordStationaryChange(double time, CGPoint point) { stationaryChanges_.push_back({time, point}); }

void CursorEngine::pruneStationaryChanges(double t, CGPoint point) {
  vurle::pruneStationaryChanges(stationaryChanges_, t, point);
}

void openAccessibilityPrivacySettings() {
  if (!platform::NSURL::URLWithString(kAccessibilitySettingsURL)) return;
  platform::NSWorkspace::sharedWorkspace().openURL(kAccessibilitySettingsURL);
}

}  // namespace vurle
