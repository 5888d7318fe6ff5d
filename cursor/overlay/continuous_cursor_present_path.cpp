// The present path: once per display frame the engine hands the overlay its
// verdict, and this decides whether the overlay may hold the pointer now.
//
// Every refusal is decided from fields and cheap reads before any image
// work, in a fixed order (the release timer, the stationary handoff, the
// lease's watchdog, the Space, the engine's verdict, input, back-off,
// visibility, idleness, the foreground application, the screen edge), so
// that the cheapest and most certain reasons win. The native cursor is read
// only when the seed moved, and a reading is kept only when the seed did not
// move while it was taken: a cursor set between the two reads would
// otherwise be drawn under the wrong seed.
//
// The first acquisition spreads over several frames: stage the panel on the
// private Space, ask the lease to hide the native cursor, then observe until
// the window server shows the hide. Only then is the layer shown, so the
// pointer is never drawn twice and never missing.

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "cursor/art/cursor_scale.hpp"
#include "cursor/native/cursor_trace.hpp"
#include "cursor/native/native_cursor_sampler.hpp"
#include "cursor/overlay/continuous_cursor_presenter.hpp"
#include "platform/appkit/application.hpp"
#include "platform/appkit/event.hpp"
#include "platform/appkit/view.hpp"
#include "platform/dispatch/clock.hpp"
#include "platform/dispatch/run_loop.hpp"

namespace vurle {
namespace {

using platform::CGRectContainsPoint;
using platform::CGRectInset;
using platform::NSEvent;

constexpr double kFrameGap = 0.05;
constexpr double kIdleAfter = 0.25;
constexpr double kEdgeInset = 2;
constexpr double kWindowBand = 6;
constexpr double kResizeGrace = 24;
constexpr double kSampleTimeout = 0.1;
constexpr double kAuditInterval = 0.25;
constexpr double kHideAcknowledgement = 0.05;
constexpr double kRemapInterval = 0.25;
constexpr double kRecentMotion = 0.06;
constexpr double kVerticalSpeedWindow = 0.1;
constexpr double kBackoffBase = 0.25;
constexpr int kBackoffSteps = 3;
constexpr CGFloat kCanvasMargin = 3;

void record(std::string_view kind, const CursorTrace::Fields& fields = {}) {
  CursorTrace::shared()->record(kind, fields);
}

bool tracing() { return CursorTrace::shared()->status().enabled; }

std::optional<double> visibilityValue(std::optional<bool> visible) {
  if (!visible) return std::nullopt;
  return *visible ? 1.0 : 0.0;
}

const char* flag(bool value) { return value ? "true" : "false"; }

std::optional<int64_t> identityOf(const ArtRef& art) {
  if (!art) return std::nullopt;
  return art->identity();
}

double frameInterval(const platform::NSScreen& screen) {
  return 1.0 / static_cast<double>(std::max(screen.maximumFramesPerSecond(), 1L));
}

bool isSelf(std::optional<int32_t> pid) { return pid && *pid == static_cast<int32_t>(::getpid()); }

}  // namespace

void ContinuousCursorPresenter::present(const std::shared_ptr<platform::NSScreen>& on, bool allowed,
                                        const std::optional<std::string>& reason,
                                        std::optional<CGRect> experimentalWindow,
                                        std::optional<CGFloat> boundaryHeight, double now, double duration,
                                        double speed) {
  if (!on) return;
  // ---- preliminaries ----
  if (active && lastFrameTime && now - *lastFrameTime > kFrameGap) {
    record("overlay-frame-gap", {.value = (now - *lastFrameTime) * 1000, .detail = "active-overlay"});
  }
  if (releaseTimer) return;  // a release is still completing
  const CGFloat backing = on->backingScaleFactor();
  const CGFloat scale = renderScale(backing);
  CGPoint location = NSEvent::mouseLocation();
  if (stationaryHandoff->holdsPointer(location)) return;
  cancelHandoffPreparation();
  cancelStationaryHandoff("overlay-acquisition");
  if (stationaryHandoff->nativeBusy()) return;
  if (lease->takeExpired()) return suspend("watchdog", now);
  if (const auto transitioning = spaceAnimation.isTransitioning(on); !transitioning || *transitioning) {
    suspend("space-transition", now);
    prepareHandoff(on, false, scale, 0.5);
    return;
  }
  if (!allowed) return release("policy:" + reason.value_or("unspecified"));
  if (!resume.isOpen(now)) return release("input-resume-gate");
  if (NSEvent::pressedMouseButtons() != 0) return release("mouse-button-held");

  location = NSEvent::mouseLocation();
  if (!lastMotionPoint || *lastMotionPoint != location) {
    const double interval = now - lastMotionAt;
    verticalSpeed = lastMotionPoint && interval > 0 && interval < kVerticalSpeedWindow
                        ? (location.y - lastMotionPoint->y) / interval
                        : 0;
    lastMotionPoint = location;
    lastMotionAt = now;
  }
  const double settleDelay = std::max(0.0, lastMotionAt - now + 0.25);
  if (!active && !acquisitionStarted && now < nextAcquisitionAt) {
    release("acquisition-backoff");
    prepareHandoff(nullptr, false, scale, settleDelay);
    return;
  }
  if (platform::NSApplication::shared()->isHidden()) return release("app-hidden");
  if (active && !overlayVisible()) return release("overlay-not-visible");
  if (now - lastMotionAt >= kIdleAfter && (lastStopReason == "native-animated" || !animation.isRunning(now))) {
    return release("idle-native");
  }
  if (!foregroundPID) return release("foreground-unavailable");
  const bool edgeExempt = inScreenEdgeBand(on, location);
  if (!CGRectContainsPoint(CGRectInset(on->frame(), kEdgeInset, kEdgeInset), location) && !edgeExempt) {
    return release("screen-edge");
  }

  // ---- native sample ----
  const auto seed = access.currentSeed();
  const bool reuse = seed == sampleSeed && (sampledArt || (sampleIsAnimated && sampleSeed));
  if (!reuse) {
    ArtRef art;
    bool animated = false;
    const auto current = readCurrentNativeCursor();
    using Kind = NativeCursorImageReader::Result::Kind;
    if (current.kind == Kind::animated) {
      animated = true;
    } else if (current.kind == Kind::cursor) {
      art = NativeCursorLibrary::shared()->match(current.cursor);
    }
    const auto again = access.currentSeed();
    if (again == seed) {
      sampledArt = art;
      sampleSeed = seed;
      sampleIsAnimated = animated;
      if (tracing()) {
        const std::string detail =
            art ? sampleDescription(*art, scale) : (animated ? "native-animated" : "unreadable");
        record("overlay-native-sample", {.seed = seed,
                                         .identity = identityOf(art),
                                         .value = visibilityValue(access.cursorIsVisible()),
                                         .detail = detail});
      }
    } else if (tracing()) {
      const std::string detail =
          art ? label(art->identity()) + ";density=" + shortestDecimal(scale) : std::string("unreadable");
      record("overlay-sample-raced",
             {.seed = seed, .identity = identityOf(art), .detail = detail, .seedBefore = seed, .seedAfter = again});
    }
  }
  if (sampleIsAnimated && seed == sampleSeed) {
    if (lastStopReason == "native-animated" && !active && !acquisitionStarted) return;
    return release("native-animated");
  }

  // ---- window band ----
  std::optional<CGRect> band = experimentalWindow ? experimentalWindow : ownWindowAt(location, now);
  const bool resizeGrace = active && owner == foregroundPID && screen == on && identity &&
                           resizeIdentities.count(*identity) != 0 && window &&
                           (resizeExitDeadline ||
                            CGRectContainsPoint(CGRectInset(*window, -kResizeGrace, -kResizeGrace), location));
  if (resizeGrace) band = window;
  if (!(band && CGRectContainsPoint(CGRectInset(*band, -kWindowBand, -kWindowBand), location)) && !resizeGrace) {
    if (!band) {
      release(isSelf(foregroundPID) ? std::string("own-window-unavailable") : windowLookup()->rejectionReason());
    } else {
      release("outside-window-band");
    }
    prepareHandoff(nullptr, false, scale, settleDelay);
    return;
  }
  if (CGRectContainsPoint(*band, location)) {
    resizeExitDeadline.reset();
  } else if (resizeExitDeadline && *resizeExitDeadline <= now) {
    return release("resize-exit-complete");
  }
  if (active && !(screen == on && owner == foregroundPID && window == band)) {
    if (screen == on && owner == foregroundPID && (experimentalWindow || usingExperimentalWindow)) {
      const bool was = usingExperimentalWindow;
      window = band;
      usingExperimentalWindow = experimentalWindow.has_value();
      if (usingExperimentalWindow && !was) record("experimental-surface-entered", {.seed = seed});
    } else {
      return suspend("screen-or-window-change", now);
    }
  }

  // ---- native visibility ----
  const auto visible = access.cursorIsVisible();
  if (active && (!lease->hidden() || visible != false)) return release("native-visibility");
  if (!active && !acquisitionStarted && visible != true) return release("native-visibility");
  if (!sampledArt || sampleSeed != seed) {
    // Missing or outdated sample: keep drawing what runs for a moment.
    if (!active) return;
    if (!missingSince) missingSince = now;
    if (now - *missingSince > kSampleTimeout) return suspend("sample-timeout", now);
    return drawFrame(on, location, now, now, seed, scale);
  }
  missingSince.reset();
  const ArtRef art = sampledArt;
  if (art->isHidden()) return release("native-invisible-cursor");
  const bool isArrow = label(art->identity()) == "arrow";
  const bool isResize = resizeIdentities.count(art->identity()) != 0;
  if (edgeExempt && !isArrow && !isResize) return release("screen-edge-nonresize");
  const bool contained = CGRectContainsPoint(*band, location) ||
                         (isArrow && CGRectContainsPoint(CGRectInset(*band, -kWindowBand, -kWindowBand), location));
  if (!contained && !isResize && !resizeGrace) return release("outside-window");
  if (!canvasFits(CGRectInset(art->localBounds(), -kCanvasMargin, -kCanvasMargin), scale)) {
    return release("oversized-cursor");
  }

  if (active) {
    // ---- drawing ----
    double frameTime = now;
    const bool accepted = !boundary.resolve(art->identity(), true, false, animation.isRunning(now), location, now, speed);
    if (accepted && identity != art->identity() &&
        !startTransition(art, location, now, duration, boundaryHeight, on, resizeGrace, frameTime)) {
      return;
    }
    return drawFrame(on, location, frameTime, now, seed, scale);
  }

  // ---- first acquisition ----
  const bool targets = animation.to && animation.to->identity() == art->identity() && animation.fixedScale &&
                       *animation.fixedScale == scale && lastFrame;
  if (!targets) {
    animation = PointerAnimation(scale, std::nullopt, false, true);
    if (!animation.show(art, now)) return;
  }
  const auto frame = animation.frame(now);
  if (!frame) return;
  if (panel->frame() != on->frame()) {
    panel->setFrame(on->frame(), false);
    // A panel already in the Space must be moved again for its new frame.
    if (panel->isVisible() && overlaySpace) overlaySpace->attach(*panel, true);
  }
  layer->setContentsScale(backing);
  screen = on;
  owner = foregroundPID;
  window = band;
  usingExperimentalWindow = experimentalWindow.has_value();
  setLayerVisible(false);
  place(location, *frame, backing);
  lastFrame = frame;
  lastFrameTime = now;

  if (!panel->isVisible()) {
    panel->orderFrontRegardless();
    if (overlaySpace) overlaySpace->attach(*panel, false);
    return;  // the window server maps it by the next frame
  }
  if (!overlayVisible()) {
    if (acquisitionStarted) return release("overlay-staged-off-space");
    if (lease->hidden() || nextPanelRemapAt > now || panelRecoveryAttempts > 1) return;
    nextPanelRemapAt = now + kRemapInterval;
    ++panelRecoveryAttempts;
    if (panelRecoveryAttempts == 1) {
      record("overlay-remap", {.detail = "staged-off-space"});
      panel->orderOut();
    } else {
      record("overlay-rebuild", {.detail = "staged-off-space"});
      rebuildPanel();
    }
    return;
  }

  if (!acquisitionStarted) {
    const auto shown = access.cursorIsVisible();
    if (tracing()) {
      std::string detail = std::string("mapped=") + flag(panel->isVisible()) + ";space=" + flag(panel->isOnActiveSpace()) +
                           ";active=" + flag(platform::NSApplication::shared()->isActive()) + ";key=" +
                           flag(panel->isKeyWindow()) + ";mouseTransparent=" + flag(panel->ignoresMouseEvents()) +
                           ";level=" + std::to_string(panel->level()) + ";alpha=" + shortestDecimal(panel->alphaValue()) +
                           ";drawableHidden=" + flag(layer->isHidden());
      record("overlay-hide-window",
             {.seed = seed, .value = static_cast<double>(panel->windowNumber()), .detail = detail});
      record("overlay-hide-context",
             {.generation = static_cast<uint64_t>(std::max(0, *foregroundPID)),
              .identity = art->identity(),
              .value = visibilityValue(shown),
              .detail = std::string(isSelf(foregroundPID) ? "self" : "external") + ";" +
                        (CGRectContainsPoint(*band, location) ? "inside" : "edge")});
    }
    auto check = spaceAnimation.transitionCheck(on);
    if (!check) return release("space-state-unavailable");
    if (acquisitionStale(location, on)) return;
    if (usingExperimentalWindow) record("experimental-surface-attempt", {.seed = seed});
    std::weak_ptr<ContinuousCursorPresenter> weak = weak_from_this();
    // Runs on the lease's queue with its lock held: only post.
    const bool hidden = lease->acquire(check, [weak] {
      platform::RunLoop::main().perform([weak] {
        if (auto self = weak.lock()) self->watchdogCleanup();
      });
    });
    if (tracing()) {
      record("overlay-hide-immediate", {.value = visibilityValue(access.cursorIsVisible()),
                                        .detail = hidden ? "request-accepted" : "request-failed",
                                        .seedAfter = access.currentSeed()});
    }
    if (!hidden) return backOffAcquisition("hide-failed", now, scale);
    acquisitionStarted = now;
    record("overlay-hide-request",
           {.seed = seed, .identity = art->identity(), .value = visibilityValue(access.cursorIsVisible())});
  }

  const double elapsed = now - *acquisitionStarted;
  if (tracing()) {
    record("overlay-hide-observation",
           {.seed = access.currentSeed(),
            .value = visibilityValue(access.cursorIsVisible()),
            .detail = "elapsed-ms=" + std::to_string(static_cast<int64_t>(std::trunc(elapsed * 1000)))});
  }
  const auto observed = access.cursorIsVisible();
  if (acquisitionStale(location, on)) return;
  if (observed == false) {
    record("overlay-hide-ack", {.value = elapsed * 1000});
    acquisitionStarted.reset();
    acquisitionFailures = 0;
    nextAcquisitionAt = kMinusInfinity;
    nextPanelRemapAt = kMinusInfinity;
    panelRecoveryAttempts = 0;
    setLayerVisible(true);
    active = true;
    identity = art->identity();
    lastAudit = kMinusInfinity;
    lastStopReason.reset();
    boundary.resolve(art->identity(), false, false, false, location, now, speed);
    record("overlay-acquire", {.seed = seed});
    if (usingExperimentalWindow) record("experimental-surface-acquired", {.seed = seed});
    return drawFrame(on, location, now, now, seed, scale);
  }
  if (elapsed < kHideAcknowledgement) return;  // observe again next frame
  backOffAcquisition("hide-ack-timeout", now, scale);
}

bool ContinuousCursorPresenter::startTransition(const ArtRef& art, CGPoint location, double now, double duration,
                                                std::optional<CGFloat> boundaryHeight,
                                                const std::shared_ptr<platform::NSScreen>& on, bool resizeGrace,
                                                double& frameTime) {
  double seconds = duration;
  // An arrow rising towards the menu bar would reach it before a full
  // morph ends: finish the morph by then, and show it further along when
  // only a frame or two remain.
  if (boundaryHeight && label(art->identity()) == "arrow" && verticalSpeed > 0 && now - lastMotionAt <= kRecentMotion) {
    const double interval = frameInterval(*on);
    const double predicted = std::max((*boundaryHeight - location.y) / verticalSpeed - interval, interval);
    seconds = std::min(predicted, seconds);
    if (seconds <= 2 * interval) frameTime = now + std::min(0.45 * seconds, 0.75 * interval);
  }
  if (!animation.begin(art, now, seconds, std::nullopt, lastFrame)) {
    release("renderer-failed");
    return false;
  }
  if (resizeIdentities.count(art->identity())) {
    resizeExitDeadline.reset();
  } else if (window && !CGRectContainsPoint(*window, location) && resizeGrace && !resizeExitDeadline) {
    resizeExitDeadline = now + duration;
  }
  identity = art->identity();
  record("continuous-overlay",
         {.seed = sampleSeed, .identity = identity, .value = seconds * 1000, .detail = "transition"});
  return true;
}

void ContinuousCursorPresenter::drawFrame(const std::shared_ptr<platform::NSScreen>& on, CGPoint location,
                                          double frameTime, double now, std::optional<int32_t> seed, CGFloat scale) {
  const auto frame = animation.frame(frameTime);
  if (!frame) return release("missing-frame");
  place(location, *frame, on->backingScaleFactor());
  lastFrame = frame;
  if (now - lastAudit >= kAuditInterval) {
    lastAudit = now;
    if (frame->image != auditedImage) {
      const auto content = panel->contentView();
      const bool onCanvas = content && content->layer() &&
                            platform::CGRectIntersectsRect(content->layer()->bounds(), layer->frame());
      if (!imageHasVisiblePixels(frame->image) || !onCanvas) return suspend("empty-frame", now);
      auditedImage = frame->image;
    }
  }
  if (animation.isRunning(now) && tracing()) {
    std::string detail = "cpu;shape=" + label(identity) + ";density=" + shortestDecimal(scale) + ";size=";
    appendSize(detail, frame->canvas.bounds.size);
    record("overlay-frame", {.seed = seed,
                             .identity = identity,
                             .value = (platform::systemUptime() - now) * 1000,
                             .detail = detail});
  }
  lastFrameTime = now;
  lease->extend();
}

std::optional<CGRect> ContinuousCursorPresenter::ownWindowAt(CGPoint location, double now) {
  if (!foregroundPID) return std::nullopt;
  if (!isSelf(foregroundPID)) return windowLookup()->validate(*foregroundPID, location, now);
  const auto application = platform::NSApplication::shared();
  const auto key = application->keyWindow();
  if (!application->isActive() || !key || !key->isVisible() || key->attachedSheet()) return std::nullopt;
  // The layout rectangle is in window coordinates: move it to the screen.
  CGRect content = key->contentLayoutRect();
  content.origin.x += key->frame().origin.x;
  content.origin.y += key->frame().origin.y;
  if (!CGRectContainsPoint(content, location)) return std::nullopt;
  return key->frame();
}

bool ContinuousCursorPresenter::acquisitionStale(CGPoint location, const std::shared_ptr<platform::NSScreen>& on) {
  if (!acquisitionStarted) return false;
  if (platform::systemUptime() - *acquisitionStarted < frameInterval(*on)) return false;
  if (NSEvent::mouseLocation() == location) return false;
  const bool hidden = lease->hidden();
  record("overlay-acquisition-deferred", {.detail = hidden ? "hide-pending" : "native-visible"});
  if (hidden) release("stale-overlay-acquisition");
  return true;
}

void ContinuousCursorPresenter::backOffAcquisition(const std::string& reason, double now, CGFloat scale) {
  acquisitionFailures = std::min(acquisitionFailures + 1, kBackoffSteps);
  const double delay = kBackoffBase * std::ldexp(1.0, acquisitionFailures - 1);
  nextAcquisitionAt = now + delay;
  record("overlay-acquisition-backoff", {.value = delay * 1000, .detail = reason});
  release(reason);
  if (handoffPreparation) return;
  const double notBefore = platform::systemUptime() + std::max(0.0, lastMotionAt - now + 0.25);
  startPreparation(HandoffPreparation{NSEvent::mouseLocation(), scale, notBefore, notBefore + 0.25, nullptr, false},
                   0.01);
}

void ContinuousCursorPresenter::watchdogCleanup() {
  if (!active && !acquisitionStarted && !lease->hidden()) return;
  record("overlay-watchdog-cleanup");
  suspend("watchdog", platform::systemUptime());
}

}  // namespace vurle
