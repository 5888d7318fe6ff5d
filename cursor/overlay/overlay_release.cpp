// Release: the one way the overlay gives the pointer back to the native
// cursor. The lease is revoked first; the drawn image may stay for a short
// bridge (at most 0.75 s) while the window server has not yet shown the
// native cursor, so the pointer never vanishes between the two.

#include <set>
#include <string>

#include "cursor/art/cursor_scale.hpp"
#include "cursor/native/cursor_trace.hpp"
#include "cursor/overlay/continuous_cursor_presenter.hpp"
#include "platform/appkit/event.hpp"
#include "platform/dispatch/clock.hpp"
#include "platform/dispatch/dispatch_queue.hpp"
#include "platform/dispatch/weak_block.hpp"

namespace vurle {
namespace {

using platform::CATransaction;
using platform::NSEvent;

// Releases that leave a pending handoff preparation and the stationary
// handoff alone.
const std::set<std::string>& keepsHandoff() {
  static const std::set<std::string> reasons = [] {
    std::set<std::string> made;
    ContinuousCursorPresenter::insertLabels(
        {"idle-native", "native-yield", "release", "space-changed", "space-transition", "keyboard-activity", "input"},
        made);
    return made;
  }();
  return reasons;
}

// Releases that may bridge to the native cursor; with a private Space the
// panel stays mapped, so four more may.
std::set<std::string> idleRestoreReasons(bool privateSpace) {
  std::set<std::string> made;
  ContinuousCursorPresenter::insertLabels(
      {"idle-native", "lookup-pending", "lookup-unavailable", "own-window-unavailable", "native-visibility"}, made);
  if (privateSpace) ContinuousCursorPresenter::insertLabels({"native-yield", "release", "space-changed", "space-transition"}, made);
  return made;
}

void record(std::string_view kind, const CursorTrace::Fields& fields = {}) {
  CursorTrace::shared()->record(kind, fields);
}

std::optional<double> visibilityValue(std::optional<bool> visible) {
  if (!visible) return std::nullopt;
  return *visible ? 1.0 : 0.0;
}

void setHiddenQuietly(platform::CALayer& layer, bool hidden) {
  CATransaction::begin();
  CATransaction::setDisableActions(true);
  layer.setHidden(hidden);
  CATransaction::commit();
}

}  // namespace

void ContinuousCursorPresenter::cancelStationaryHandoff(const std::string& reason) {
  stationaryHandoff->cancelStationaryHandoff(reason);
}

void ContinuousCursorPresenter::release(const std::string& reason) {
  if (reason == "disabled") unmapAfterRelease = true;
  if (!keepsHandoff().count(reason)) {
    cancelHandoffPreparation();
    cancelStationaryHandoff(reason);
  }

  std::optional<CGFloat> scale;
  if (auto under = screen ? screen : screenContaining(NSEvent::mouseLocation())) {
    scale = renderScale(under->backingScaleFactor());
  }

  if (!lastStopReason || *lastStopReason != reason) record("overlay-blocked", {.detail = reason});
  lastStopReason = reason;

  const bool wasActive = active;
  const bool wasHiding = lease->hidden();
  active = false;
  acquisitionStarted.reset();

  // An idle hand-back clears the image before the native cursor returns,
  // but only on a settled Space with the cursor the overlay last sampled.
  bool precleared = false;
  if (reason == "idle-native" && wasActive && wasHiding && layer->contents() && !layer->isHidden() &&
      seedMatches(sampleSeed) && screen) {
    auto probe = spaceAnimation.transitionProbe(screen);
    if (probe && !probe()) {
      setHiddenQuietly(*layer, true);
      pendingDrawableClear = true;
      commitDrawableClear();
      record("overlay-idle-preclear");
      precleared = true;
    }
  }

  lease->revoke();

  if (precleared && lease->hidden()) {
    // The cursor is still hidden: keep showing the overlay image meanwhile.
    if (layer->isHidden()) setHiddenQuietly(*layer, false);
    CATransaction::flush();
    record("overlay-idle-preclear-rollback");
  }

  const auto idleReasons = idleRestoreReasons(overlaySpace != nullptr);
  bool bridged = false;
  if (wasActive && idleReasons.count(reason)) {
    const auto visible = access.cursorIsVisible();
    const auto current = access.currentSeed();
    const bool abandon = lease->hidden() || (!precleared && (!lease->backgroundEnabled() || layer->isHidden())) ||
                         !visible || *visible || !sampleSeed || !current || *current != *sampleSeed || !sampledArt ||
                         sampledArt->isHidden();
    if (!abandon) {
      const double now = platform::systemUptime();
      idleRestoreUntil = now + 0.75;
      idleRestoreRevealAt = precleared ? std::optional<double>(now + 1.0 / 30.0) : std::nullopt;
      idleRestorePoint = NSEvent::mouseLocation();
      idleRestoreSeed = current;
      record("overlay-native-restore-bridge", {.seed = current, .detail = reason});
      bridged = true;
    }
  }
  bool showReturn = bridged;
  if (!bridged) {
    if (!idleReasons.count(reason) && reason != "input") idleRestoreUntil.reset();
    showReturn = wasActive || wasHiding;
  }
  if (showReturn) {
    record("overlay-show-return", {.value = visibilityValue(access.cursorIsVisible()),
                                   .detail = lease->hidden() ? "restore-pending" : "hide-balanced"});
    const uint64_t generation = ++visibilityGeneration;
    if (!lease->hidden() && CursorTrace::shared()->status().enabled) {
      for (const double delay : {0.05, 0.2, 0.5}) {
        platform::DispatchQueue::main()->asyncAfter(
            platform::DispatchTime::now() + delay,
            platform::weakBlock(shared_from_this(), [generation, delay](ContinuousCursorPresenter& self) {
              self.restoredReadback(generation, delay);
            }));
      }
    }
  }

  if (!lease->hidden() && !idleRestorePending()) {
    idleRestoreUntil.reset();
    idleRestoreRevealAt.reset();
    idleRestorePoint.reset();
    idleRestoreSeed.reset();
    if (releaseTimer) releaseTimer->invalidate();
    releaseTimer.reset();
    if (wasActive || layer->contents() || panel->isVisible()) {
      const bool hadImage = layer->contents() && !layer->isHidden();
      CATransaction::begin();
      CATransaction::setDisableActions(true);
      layer->setContents(nullptr);
      layer->setHidden(true);
      CATransaction::commit();
      if (hadImage) pendingDrawableClear = true;
      if (reason == "idle-native") commitDrawableClear();
      drawnImage.reset();
      auditedImage.reset();
      if (!cleanupPending) {
        cleanupPending = true;
        platform::DispatchQueue::main()->async(platform::weakBlock(
            shared_from_this(), [generation = drawableGeneration](ContinuousCursorPresenter& self) {
              self.orderOutPanel(generation);
            }));
      }
      identity.reset();
      lastFrame.reset();
      lastFrameTime.reset();
      missingSince.reset();
      screen.reset();
      owner.reset();
      window.reset();
      resizeExitDeadline.reset();
      usingExperimentalWindow = false;
      boundary.reset();
      if (wasActive) record("overlay-release", {.detail = reason});
    }
  } else {
    applyIdleRestoreVisibility();
    if (!releaseTimer) {
      std::weak_ptr<ContinuousCursorPresenter> weak = weak_from_this();
      releaseTimer = platform::NSTimer::make(1.0 / 30.0, true, [weak](platform::NSTimer& timer) {
        auto self = weak.lock();
        if (!self) {
          timer.invalidate();
          return;
        }
        self->releaseRecheck(timer);
      });
      platform::RunLoop::main().add(releaseTimer, platform::RunLoopMode::common);
    }
    record("overlay-release-pending", {.detail = reason});
  }

  prepareIdleHandoff(reason, scale);
}

void ContinuousCursorPresenter::prepareIdleHandoff(const std::string& reason, std::optional<CGFloat> scale) {
  if (reason != "idle-native" || lease->hidden() || releaseTimer || !scale || handoffPreparation) return;
  const double now = platform::systemUptime();
  startPreparation(HandoffPreparation{NSEvent::mouseLocation(), *scale, now, now + 0.25, nullptr, false}, 0.01);
}

}  // namespace vurle
