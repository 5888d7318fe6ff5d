#include "cursor/overlay/stationary_cursor_handoff.hpp"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <stdexcept>
#include <utility>

#include "cursor/art/cursor_scale.hpp"
#include "cursor/art/native_animated_cursors.hpp"
#include "cursor/native/cursor_trace.hpp"
#include "platform/appkit/event.hpp"
#include "platform/appkit/screen.hpp"
#include "platform/dispatch/clock.hpp"
#include "platform/dispatch/dispatch_queue.hpp"
#include "platform/dispatch/weak_block.hpp"

namespace vurle {
namespace {

using platform::NSEvent;

void record(std::string_view kind, const CursorTrace::Fields& fields = {}) {
  CursorTrace::shared()->record(kind, fields);
}

double now() { return platform::systemUptime(); }

bool samePoint(CGPoint a, CGPoint b) { return a.x == b.x && a.y == b.y; }

// The standard arrow, told by identity: the art matched from the cursor on
// screen is another object than the library's kind art, with its identity.
bool isArrow(const ArtRef& art) {
  const auto arrow = NativeCursorLibrary::shared()->art(PointerKind::arrow);
  return art && arrow && art->identity() == arrow->identity();
}

std::optional<double> earlier(std::optional<double> a, std::optional<double> b) {
  if (!a) return b;
  if (!b) return a;
  return std::min(*a, *b);
}

}  // namespace

std::shared_ptr<platform::NSScreen> screenContaining(CGPoint point) {
  // The mouse rule, so that two stacked screens never both claim the
  // pointer on their shared edge.
  for (const auto& screen : platform::NSScreen::screens()) {
    if (platform::NSMouseInRect(point, screen->frame(), false)) return screen;
  }
  return nullptr;
}

std::vector<CGRect> regionsNearPointer(const std::vector<CGRect>& regions, bool leftGesture, CGPoint point) {
  const auto screens = platform::NSScreen::screens();
  const CGFloat top = screens.empty() ? 0 : platform::CGRectGetMaxY(screens.front()->frame());
  const CGFloat half = leftGesture ? 24 : 0.5;
  const CGRect square = platform::CGRectMake(point.x - half, (top - point.y) - half, 2 * half, 2 * half);
  std::vector<CGRect> near;
  for (const auto& region : regions) {
    const CGRect clipped = platform::CGRectIntersection(region, square);
    if (platform::CGRectIsNull(clipped) || platform::CGRectIsEmpty(clipped)) continue;
    near.push_back(clipped);
  }
  return near;
}

std::shared_ptr<StationaryCursorHandoff> StationaryCursorHandoff::make(std::shared_ptr<NativeCursorPresenter> native) {
  if (!native) throw std::invalid_argument("StationaryCursorHandoff: no native presenter");
  auto sampler = NativeCursorSampler::make(native, nullptr, renderScale());
  auto handoff = std::make_shared<StationaryCursorHandoff>(Key{}, std::move(native), sampler);
  // Every published sample arms the handoff with it, while the handoff lives.
  std::weak_ptr<StationaryCursorHandoff> weak = handoff;
  std::weak_ptr<NativeCursorSampler> weakSampler = sampler;
  sampler->setOnChange([weak, weakSampler] {
    auto self = weak.lock();
    auto source = weakSampler.lock();
    if (!self || !source) return;
    if (auto sample = source->takePending()) self->armWithSample(*sample);
  });
  return handoff;
}

StationaryCursorHandoff::StationaryCursorHandoff(Key, std::shared_ptr<NativeCursorPresenter> native,
                                                 std::shared_ptr<NativeCursorSampler> sampler)
    : native(std::move(native)), sampler(std::move(sampler)) {}

StationaryCursorHandoff::~StationaryCursorHandoff() {
  if (displayLink) displayLink->invalidate();
  sampler->setEnabled(false);
  std::lock_guard<platform::NSRecursiveLock> guard(native->lock());
  native->setHolds(false, menuEntryUntil);
  native->restoreNative(true);
}

NativeCursorPresenter::Visibility StationaryCursorHandoff::visibility() const {
  // The readers hold no state, so a copy answers as the handoff would.
  return [access = access] { return access.cursorIsVisible().value_or(false) ? 1 : 0; };
}

bool StationaryCursorHandoff::nativeVisible() const { return access.cursorIsVisible().value_or(false); }

bool StationaryCursorHandoff::nativeBusy() const { return native->connection() != 0; }

bool StationaryCursorHandoff::holdsPointer(CGPoint at) const {
  const unsigned long buttons = NSEvent::pressedMouseButtons();
  if (!menuEntryUntil) {
    if (isLeftGesture) {
      if (!armed || buttons >= 2) return false;
      return buttons == 1 || samePoint(at, point);
    }
    return armed && buttons == 0 && samePoint(at, point);
  }
  return armed && now() < *menuEntryUntil && samePoint(at, point) && (buttons & ~2ul) == 0;
}

void StationaryCursorHandoff::noteActivity() {
  if (!holdsPointer(NSEvent::mouseLocation())) return;
  sampler->quicken();
  record("stationary-handoff-activity");
}

void StationaryCursorHandoff::armAtRest(CGPoint at, CGFloat scale, bool rightClick, bool leftGesture,
                                        const ArtRef& sampleArt, int32_t sampleSeed, bool observe) {
  if (armed || nativeBusy() || !policy) return;
  const unsigned long buttons = NSEvent::pressedMouseButtons();
  const unsigned long allowed = rightClick ? 2ul : leftGesture ? 1ul : 0ul;
  if ((buttons & ~allowed) != 0) return;
  if (sampler->isBusy()) return;
  const StationaryPolicyAnswer answer = policy();
  const bool pendingOnly = answer.reason && *answer.reason == kPolicyPending;
  if (answer.reason && !(observe && !rightClick && !leftGesture && pendingOnly)) return;
  const auto current = access.currentSeed();
  if (!current) return;

  auto& library = *NativeCursorLibrary::shared();
  ArtRef art;
  std::shared_ptr<platform::NSCursor> cursor;
  if ((rightClick || leftGesture) && sampleArt && sampleSeed == *current) {
    if (rightClick && isArrow(sampleArt)) return;
    art = sampleArt;
  } else {
    if (!nativeVisible()) return;
    cursor = platform::NSCursor::currentSystemCursor();
    if (!cursor || access.currentSeed() != current) return;
  }

  const double t = now();
  if (!art && NativeAnimatedCursors::shared()->contains(cursor)) {
    // An animated system cursor is only watched: its frames are no morph.
    if (rightClick || leftGesture) return;
    point = at;
    armed = true;
    {
      std::lock_guard<platform::NSRecursiveLock> guard(native->lock());
      native->setHoldPolicy(false, regionsNearPointer(answer.regions, false, at), menuEntryUntil);
    }
    sampler->setEnabled(true, NativeCursorSampler::Baseline{*current, t, scale});
    record("stationary-handoff-observe-only", {.seed = *current, .detail = "native-animated"});
    return;
  }
  if (!art) art = library.match(cursor);
  if (!art || art->isHidden()) return;

  // The baseline: the cursor on screen now is the morph's source and the
  // native presenter's target and hold frame.
  animation = PointerAnimation(std::nullopt, std::nullopt, false, false);
  if (!animation.show(art, t)) return;
  auto frame = animation.frame(t);
  if (!frame) return;
  {
    std::lock_guard<platform::NSRecursiveLock> guard(native->lock());
    if (!native->adoptTarget(*art, *frame, *current)) return;
    native->setHoldPolicy(!answer.reason, regionsNearPointer(answer.regions, leftGesture, at), menuEntryUntil);
  }
  point = at;
  if (!answer.reason) duration = answer.duration;
  seed = *current;
  lastPresentedFrame = frame;
  lastPresentedTime = t;
  sourceReady = true;
  armed = true;
  isLeftGesture = leftGesture;
  sampler->setEnabled(true, NativeCursorSampler::Baseline{*current, t, scale});
  CursorTrace::Fields fields;
  if (rightClick) fields.detail = "right-click";
  if (leftGesture) fields.detail = "left-gesture";
  record("stationary-handoff-armed", fields);
}

void StationaryCursorHandoff::refreshPolicy() {
  if (!armed) return;
  if (!holdsPointer(NSEvent::mouseLocation())) {
    cancelStationaryHandoff("policy-refresh-position-or-buttons");
    return;
  }
  if (!nativeVisible()) {
    cancel("policy-refresh-native-not-visible");
    return;
  }
  if (policyRetry) {
    retryPolicy(policyRetryEpoch);
    return;
  }
  if (pending) {
    advance();
    return;
  }
  if (!policy || nativeBusy() || native->submissionsInFlight()) return;
  const auto answer = policy();
  if (answer.reason || !seed || access.currentSeed() != seed) return;
  native->setHoldPolicy(true, regionsNearPointer(answer.regions, isLeftGesture, NSEvent::mouseLocation()),
                        menuEntryUntil);
  duration = answer.duration;
  record("stationary-handoff-policy-ready");
}

void StationaryCursorHandoff::armWithSample(const NativeCursorSample& sample) {
  // The sampler also publishes the seeds of the frames the morph itself
  // registers; they are no cursor change and must not stop the morph.
  if (native->ownsSeed(sample.seed)) return;
  policyRetry.reset();
  ++policyRetryEpoch;
  if (!holdsPointer(NSEvent::mouseLocation())) {
    cancelStationaryHandoff("sample-position-or-buttons");
    return;
  }
  if (!nativeVisible()) {
    cancel("native-not-visible");
    return;
  }
  if (sample.isAnimated && access.currentSeed() == sample.seed) {
    cancel("native-animated");
    return;
  }
  if (!sample.cursor) {
    cancel("unreadable-or-rejected");
    return;
  }
  auto& library = *NativeCursorLibrary::shared();
  const ArtRef art = library.match(sample.cursor);
  if (!art) {
    cancel("snapshot-unavailable");
    return;
  }
  if (art->isHidden()) {
    cancel("transparent");
    return;
  }
  if (armed && menuEntryUntil && now() < *menuEntryUntil && !isArrow(art)) {
    cancelStationaryHandoff("context-menu-nonarrow");
    return;
  }

  std::optional<StationaryPolicyAnswer> answer;
  const double t = now();
  if (!sample.wasHeld && sourceReady && !nativeBusy() && sample.interceptBefore && *sample.interceptBefore > t &&
      access.currentSeed() == sample.seed && policy) {
    answer = policy();
    if (answer->reason && *answer->reason == kPolicyPending) {
      policyRetry = sample;
      native->setHolds(false, menuEntryUntil);
      const double wait = std::max(0.0, *sample.interceptBefore - t);
      record("stationary-policy-retry-wait", {.value = wait * 1000});
      platform::DispatchQueue::main()->asyncAfter(
          platform::DispatchTime{*sample.interceptBefore},
          platform::weakBlock(shared_from_this(),
                              [epoch = policyRetryEpoch](StationaryCursorHandoff& self) { self.retryPolicy(epoch); }));
      return;
    }
  }
  continueArming(sample, answer);
}

void StationaryCursorHandoff::retryPolicy(uint64_t epoch) {
  if (epoch != policyRetryEpoch || !policyRetry) return;
  const NativeCursorSample sample = *policyRetry;
  if (!holdsPointer(NSEvent::mouseLocation())) {
    cancelStationaryHandoff("policy-retry-moved");
    return;
  }
  if (!nativeVisible()) {
    cancel("policy-retry-hidden");
    return;
  }
  std::optional<StationaryPolicyAnswer> answer;
  if (policy) answer = policy();
  const bool stillPending = answer && answer->reason && *answer->reason == kPolicyPending;
  if (stillPending && sample.interceptBefore && now() < *sample.interceptBefore) return;
  policyRetry.reset();
  ++policyRetryEpoch;
  const bool held = answer && !answer->reason;
  record("stationary-policy-retry-result", {.detail = held ? "held" : "native-fallback"});
  if (!answer) answer = StationaryPolicyAnswer{std::string(kPolicyPending), {}, duration};
  continueArming(sample, answer);
}

// Arming from the hold policy on: hold the new cursor behind the source
// frame, then start the morph, or take the cursor as the new baseline.
void StationaryCursorHandoff::continueArming(const NativeCursorSample& sample,
                                             const std::optional<StationaryPolicyAnswer>& answer) {
  const bool permitted = !answer || !answer->reason;
  const auto limit = earlier(menuEntryUntil, sample.interceptBefore);
  std::optional<std::vector<CGRect>> regions;
  if (answer) regions = regionsNearPointer(answer->regions, false, point);
  if (answer && permitted) duration = answer->duration;
  bool held = sample.wasHeld;
  {
    std::lock_guard<platform::NSRecursiveLock> guard(native->lock());
    native->setHoldPolicy(permitted, regions, limit);
    if (!held && sourceReady) {
      held = native->captureNative(sample.cursor, sample.seed, visibility(), sample.interceptBefore, nullptr);
    }
    // The interception time only bounds the capture; the morph's frames
    // run on the presenter's own deadline (and the menu entry window).
    native->setHoldPolicy(held && permitted, std::nullopt, menuEntryUntil);
  }
  if (held && sourceReady) {
    pending = sample;
    pendingAt = now();
    advance();
    if (!displayLink && (pending || animation.isRunning(now()))) ensureDisplayLink();
    return;
  }
  if (!sourceReady) {
    if (access.currentSeed() != sample.seed) {
      cancel("baseline-superseded");
      return;
    }
    record("stationary-handoff-native-baseline", {.seed = sample.seed});
    takeBaseline(sample, NativeCursorLibrary::shared()->match(sample.cursor));
    return;
  }
  cancel(native->submissionsInFlight() ? "interrupted-unheld" : "unheld-or-source-missing");
}

bool StationaryCursorHandoff::takeBaseline(const NativeCursorSample& sample, const ArtRef& art) {
  const double t = now();
  if (!art || !animation.show(art, t)) {
    cancelStationaryHandoff("handoff-rejected");
    return false;
  }
  auto frame = animation.frame(t);
  bool adopted = false;
  if (frame) {
    std::lock_guard<platform::NSRecursiveLock> guard(native->lock());
    adopted = native->adoptTarget(*art, *frame, sample.seed);
  }
  if (!adopted) {
    if (access.currentSeed() != sample.seed) {
      cancel("baseline-superseded");
    } else {
      cancelStationaryHandoff("handoff-rejected");
    }
    return false;
  }
  seed = sample.seed;
  lastPresentedFrame = frame;
  lastPresentedTime = t;
  sourceReady = true;
  record("stationary-handoff-baseline", {.seed = sample.seed});
  return true;
}

void StationaryCursorHandoff::ensureDisplayLink() {
  auto screen = screenContaining(point);
  if (!screen) return;
  displayLink = platform::displayLinkWithTarget(screen, shared_from_this(), &StationaryCursorHandoff::advanceFrame);
  displayLink->addToRunLoop(platform::RunLoop::main(), platform::RunLoopMode::common);
}

void StationaryCursorHandoff::dropDisplayLink() {
  if (displayLink) displayLink->invalidate();
  displayLink.reset();
}

void StationaryCursorHandoff::advanceFrame(platform::CADisplayLink&) { advance(); }

void StationaryCursorHandoff::advance() {
  if (!holdsPointer(NSEvent::mouseLocation())) {
    cancel("advance-position-or-buttons");
    return;
  }
  if (!nativeVisible()) {
    cancel("advance-native-not-visible");
    return;
  }
  const double t = now();
  if (!policy) {
    cancel("policy-unavailable");
    return;
  }
  const auto answer = policy();
  if (answer.reason) {
    if (*answer.reason != kPolicyPending) {
      cancel("policy-" + *answer.reason);
      return;
    }
    // Undecided: wait, but never past 0.1 s after the sample arrived.
    if (t - pendingAt < 0.1 && native->tightenDeadline(pendingAt + 0.1)) return;
    cancel("policy-unavailable");
    return;
  }
  duration = answer.duration;

  if (pending) {
    const NativeCursorSample sample = *pending;
    const ArtRef art = NativeCursorLibrary::shared()->match(sample.cursor);
    if (!art || !native->acceptNativeInput(*art, sample.seed)) {
      cancel("target-superseded-or-refused");
      return;
    }
    if (!animation.begin(art, t, duration, std::nullopt, lastPresentedFrame)) {
      cancel("transition-unavailable");
      return;
    }
    seed = sample.seed;
    pending.reset();
    record(animation.isRunning(t) ? "stationary-handoff-morph" : "stationary-handoff-settled", {.seed = sample.seed});
    return;
  }

  if (!seed) {
    cancel("frame-unavailable");
    return;
  }
  auto frame = animation.frame(t);
  if (!frame) {
    cancel("frame-unavailable");
    return;
  }
  if (!native->submit(*frame, seed)) {
    cancel("frame-superseded-or-refused");
    return;
  }
  const bool changed = !lastPresentedFrame || lastPresentedFrame->image != frame->image;
  if (changed) {
    lastPresentedFrame = frame;
    lastPresentedTime = t;
  }
  if (!animation.isRunning(t)) {
    menuEntryUntil.reset();
    ++menuEntryEpoch;
    cancel(isLeftGesture ? "left-gesture-settled" : "morph-settled");
    return;
  }
  record(changed ? "stationary-handoff-continued" : "stationary-handoff-unchanged");
}

void StationaryCursorHandoff::cancel(const std::string& reason) {
  policyRetry.reset();
  ++policyRetryEpoch;
  {
    std::lock_guard<platform::NSRecursiveLock> guard(native->lock());
    native->setHolds(false, menuEntryUntil);
    native->restoreNative(true);
  }
  sourceReady = false;
  pending.reset();
  seed.reset();
  lastPresentedFrame.reset();
  lastPresentedTime.reset();
  dropDisplayLink();
  record("stationary-handoff-observe-only", {.detail = reason});
}

void StationaryCursorHandoff::cancelStationaryHandoff(const std::string& reason) {
  menuEntryUntil.reset();
  ++menuEntryEpoch;
  isLeftGesture = false;
  if (armed || nativeBusy()) record("stationary-handoff-cancel", {.seed = seed, .detail = reason});
  policyRetry.reset();
  ++policyRetryEpoch;
  armed = false;
  sourceReady = false;
  pending.reset();
  lastPresentedFrame.reset();
  lastPresentedTime.reset();
  sampler->setEnabled(false);
  {
    std::lock_guard<platform::NSRecursiveLock> guard(native->lock());
    native->setMenuEntry({});
    native->setHolds(false, std::nullopt);
    native->restoreNative(true);
  }
  dropDisplayLink();
  seed.reset();
}

void StationaryCursorHandoff::armContextMenuEntry() {
  const double window = std::clamp(duration + 0.1, 0.2, 0.6);
  menuEntryUntil = now() + window;
  const uint64_t epoch = ++menuEntryEpoch;
  record("context-menu-entry-armed", {.value = window * 1000});
  platform::DispatchQueue::main()->asyncAfter(
      platform::DispatchTime::now() + window, platform::weakBlock(shared_from_this(), [epoch](StationaryCursorHandoff& self) {
        if (self.menuEntryEpoch == epoch) self.cancelStationaryHandoff("context-menu-entry-expired");
      }));
}

bool StationaryCursorHandoff::leftGestureBoundary(CGPoint at) {
  if (!armed || !isLeftGesture) return false;
  if (NSEvent::pressedMouseButtons() == 1 && policy) {
    const auto answer = policy();
    if (!answer.reason) {
      point = at;
      native->setHoldPolicy(sourceReady, regionsNearPointer(answer.regions, true, at), menuEntryUntil);
      sampler->quicken();
      return true;
    }
  }
  cancel("left-gesture-boundary");
  return false;
}

bool StationaryCursorHandoff::leftGestureRelease(CGPoint at) {
  if (!armed || !isLeftGesture) return false;
  if (NSEvent::pressedMouseButtons() == 0 && policy) {
    const auto answer = policy();
    if (!answer.reason) {
      point = at;
      isLeftGesture = false;
      {
        std::lock_guard<platform::NSRecursiveLock> guard(native->lock());
        native->setAllowedRegions(regionsNearPointer(answer.regions, false, at));
      }
      refreshPolicy();
      sampler->quicken();
      record("left-gesture-release");
      return true;
    }
  }
  cancel("left-gesture-release-policy-or-buttons");
  return false;
}

bool StationaryCursorHandoff::leftGestureArmed(CGPoint at) {
  if (!armed || !sourceReady || menuEntryUntil) return false;
  if (!samePoint(NSEvent::mouseLocation(), point) || (NSEvent::pressedMouseButtons() & ~1ul) != 0) return false;
  if (!nativeVisible()) return false;
  const auto current = access.currentSeed();
  if (!current) return false;
  if (native->submissionsInFlight() ? !native->ownsSeed(current) : current != seed) return false;
  if (!policy) return false;
  const auto answer = policy();
  if (answer.reason) return false;
  isLeftGesture = true;
  native->setHoldPolicy(true, regionsNearPointer(answer.regions, true, at), menuEntryUntil);
  sampler->quicken();
  record("left-gesture-armed");
  return true;
}

bool StationaryCursorHandoff::contextMenuEntry(CGPoint) {
  if (!armed || !sourceReady) return false;
  if (!samePoint(NSEvent::mouseLocation(), point) || (NSEvent::pressedMouseButtons() & ~2ul) != 0) return false;
  if (!nativeVisible()) return false;
  if (!native->submissionsInFlight()) {
    const auto current = access.currentSeed();
    if (!current || current != seed) return false;
    if (isArrow(animation.to)) {
      record("context-menu-entry-native-arrow");
      return false;
    }
  }
  if (!policy) return false;
  const auto answer = policy();
  if (answer.reason && *answer.reason != kPolicyPending) return false;
  armContextMenuEntry();
  native->setHoldPolicy(true, answer.regions, menuEntryUntil);
  sampler->quicken();
  return true;
}

void StationaryCursorHandoff::applicationContextChanged() {
  if (!holdsPointer(NSEvent::mouseLocation())) return;
  if (isLeftGesture || (armed && menuEntryUntil && now() < *menuEntryUntil)) {
    cancelStationaryHandoff("application-context-changed");
    return;
  }
  bool inFlight = false;
  {
    std::lock_guard<platform::NSRecursiveLock> guard(native->lock());
    native->setMenuEntry({false, menuEntryUntil});
    inFlight = native->submissionsInFlight();
  }
  if (inFlight) {
    cancel("application-context-changed");
    if (sampler->isEnabled()) sampler->clearPublishedSeed();
  } else {
    refreshPolicy();
  }
  noteActivity();
}

void StationaryCursorHandoff::setAppSwitcherScope(std::optional<AppSwitcherCursorScope> scope) {
  const bool had = hasAppSwitcherScope;
  hasAppSwitcherScope = scope.has_value();
  native->setAppSwitcherScope(std::move(scope));
  if (had && !hasAppSwitcherScope && armed) {
    cancel("app-switcher-closed");
    if (sampler->isEnabled()) sampler->clearPublishedSeed();
  }
}

void StationaryCursorHandoff::resolutionChanged() {
  cancelStationaryHandoff("resolution-change");
  native->invalidate();
  sampler->setPixelScale(renderScale());
  animation = PointerAnimation(std::nullopt, std::nullopt, false, false);
}

}  // namespace vurle
