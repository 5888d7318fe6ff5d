// Context changes under the pointer: Space, display configuration,
// foreground application and the screen edge. Each ends in a release and
// most prepare the stationary handoff for when the change has settled.

#include <unistd.h>

#include <algorithm>
#include <any>
#include <cmath>

#include "cursor/art/cursor_scale.hpp"
#include "cursor/native/cursor_trace.hpp"
#include "cursor/overlay/continuous_cursor_presenter.hpp"
#include "platform/appkit/application.hpp"
#include "platform/appkit/event.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/dispatch/clock.hpp"

namespace vurle {
namespace {

using platform::NSEvent;

void record(std::string_view kind, const CursorTrace::Fields& fields = {}) {
  CursorTrace::shared()->record(kind, fields);
}

bool menuEntryOpen(const StationaryCursorHandoff& handoff) {
  return handoff.armed && handoff.menuEntryUntil && platform::systemUptime() < *handoff.menuEntryUntil;
}

}  // namespace

void ContinuousCursorPresenter::suspend(const std::string& reason, double at) {
  const CGPoint mouse = NSEvent::mouseLocation();
  resume = ContinuousCursorResumeGate{at, mouse, 0, false};
  release(reason);
  if (reason != "keyboard-activity" || stationaryHandoff->armed) return;
  if (auto under = screenContaining(mouse); under && !handoffPreparation) {
    prepareHandoff(nullptr, false, renderScale(under->backingScaleFactor()), 0.08);
  }
}

void ContinuousCursorPresenter::spaceChanged(double at) {
  panelRecoveryAttempts = 0;
  nextPanelRemapAt = kMinusInfinity;
  spaceAnimation.noteSpaceChange();
  const CGPoint mouse = NSEvent::mouseLocation();
  // Asked before the cancel below, which would always make it false.
  const bool handoffHeld = stationaryHandoff->holdsPointer(mouse);
  if (!menuEntryOpen(*stationaryHandoff) && !stationaryHandoff->isLeftGesture) stationaryHandoff->noteActivity();
  cancelStationaryHandoff("input-space-changed");
  cancelHandoffPreparation();
  suspend("space-changed", at);
  lastMotionPoint = mouse;
  lastMotionAt = kMinusInfinity;
  sampleSeed.reset();
  sampledArt.reset();
  if (handoffHeld) return;
  auto under = screenContaining(mouse);
  if (!under) return;
  spaceAnimation.isTransitioning(under);  // starts the display's gate on the new Space
  if (!handoffPreparation) prepareHandoff(under, false, renderScale(under->backingScaleFactor()), 0.5);
}

void ContinuousCursorPresenter::resolutionChanged() {
  nextPanelRemapAt = kMinusInfinity;
  panelRecoveryAttempts = 0;
  cancelHandoffPreparation();
  stationaryHandoff->resolutionChanged();
  release("resolution-change");
  resetWindowLookupCache();
  animation = PointerAnimation();
  sampleSeed.reset();
  sampledArt.reset();
  lastMotionPoint.reset();
  lastMotionAt = kMinusInfinity;
  resume = ContinuousCursorResumeGate{};
}

void ContinuousCursorPresenter::applicationContextChanged(std::optional<int32_t> pid) {
  if (!pid || *pid <= 0) {
    foregroundPID.reset();
    resetWindowLookupCache();
    release("activation-owner-unavailable");
    return;
  }
  foregroundPID = pid;
  resetWindowLookupCache();
  const CGPoint mouse = NSEvent::mouseLocation();
  if (stationaryHandoff->holdsPointer(mouse)) {
    record("application-handoff-preparation", {.detail = "existing-observer"});
    stationaryHandoff->applicationContextChanged();
    return;
  }
  auto under = screenContaining(mouse);
  if (!under) return;
  record("application-handoff-preparation", {.detail = "new-observer"});
  cancelHandoffPreparation();
  const CGFloat scale = renderScale(under->backingScaleFactor());
  const auto transitioning = spaceAnimation.isTransitioning(under);
  if (!transitioning || *transitioning) {
    prepareHandoff(under, false, scale, 0.5);
  } else {
    prepareHandoff(nullptr, false, scale, 0);
  }
}

void ContinuousCursorPresenter::foregroundApplicationActivated(const platform::NSNotification& notification) {
  std::shared_ptr<platform::NSRunningApplication> application;
  if (auto it = notification.userInfo.find(platform::NSWorkspaceApplicationKey); it != notification.userInfo.end()) {
    if (const auto* held = std::any_cast<std::shared_ptr<platform::NSRunningApplication>>(&it->second)) {
      application = *held;
    }
  }
  if (menuEntryOpen(*stationaryHandoff)) cancelStationaryHandoff("context-menu-owner-changed");
  foregroundPID = application ? std::optional<int32_t>(application->processIdentifier()) : std::nullopt;
  resetWindowLookupCache();
}

void ContinuousCursorPresenter::checkScreenEdge(CGPoint point) {
  if (!pointerBoundaryReason) return;
  const auto reason = pointerBoundaryReason(point);
  if (!reason) return;
  if (*reason == "native screen edge" && screen && inScreenEdgeBand(screen, point)) return;
  release("policy:" + *reason);
}

bool ContinuousCursorPresenter::inScreenEdgeBand(const std::shared_ptr<platform::NSScreen>& at, CGPoint point) const {
  if (!active || !at || screen != at || owner != foregroundPID) return false;
  if (!window || usingExperimentalWindow || !identity) return false;
  if (!resizeIdentities.count(*identity) && label(identity) != "arrow") return false;
  const CGRect frame = at->frame();
  if (!platform::CGRectContainsPoint(frame, point)) return false;
  using platform::CGRectGetMaxX;
  using platform::CGRectGetMaxY;
  using platform::CGRectGetMinX;
  using platform::CGRectGetMinY;
  if (point.y < CGRectGetMinY(frame) + 2) return false;
  if (point.y >= CGRectGetMaxY(frame) - std::max<double>(at->safeAreaInsets().top + 4, 28)) return false;
  if (point.y < CGRectGetMinY(*window) || point.y >= CGRectGetMaxY(*window)) return false;
  const bool left = point.x < CGRectGetMinX(frame) + 2 && std::abs(CGRectGetMinX(*window) - CGRectGetMinX(frame)) <= 1;
  const bool right = point.x >= CGRectGetMaxX(frame) - 2 && std::abs(CGRectGetMaxX(*window) - CGRectGetMaxX(frame)) <= 1;
  return left || right;
}

void ContinuousCursorPresenter::requestWindowLookup(CGPoint point, double at) {
  if (platform::NSApplication::shared()->isHidden() || NSEvent::pressedMouseButtons() != 0) return;
  if (!foregroundPID || *foregroundPID < 1 || *foregroundPID == static_cast<int32_t>(::getpid())) return;
  if (sampleIsAnimated && access.currentSeed() == sampleSeed) return;
  windowLookup()->request(*foregroundPID, point, at);
}

bool ContinuousCursorPresenter::nativeCursorReleased() const {
  return !active && !lease->hidden() && !lease->backgroundEnabled() && !stationaryHandoff->nativeBusy();
}

void ContinuousCursorPresenter::reportDiagnostics() {
  if (!CursorTrace::shared()->status().enabled) return;
  nativeReadback->request(access.currentSeed(), active, lastStopReason.value_or("none"));
}

}  // namespace vurle
