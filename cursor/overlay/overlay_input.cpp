// Discrete input ends the overlay at once and closes the resume gate until
// the pointer moves; gestures over a resting cursor keep the stationary
// handoff alive instead.

#include <algorithm>
#include <cmath>
#include <string>

#include "cursor/art/cursor_scale.hpp"
#include "cursor/native/cursor_trace.hpp"
#include "cursor/overlay/continuous_cursor_presenter.hpp"
#include "platform/appkit/application.hpp"
#include "platform/appkit/event.hpp"
#include "platform/dispatch/clock.hpp"

namespace vurle {
namespace {

using platform::NSEvent;

double distance(CGPoint a, CGPoint b) { return std::hypot(a.x - b.x, a.y - b.y); }

bool menuEntryOpen(const StationaryCursorHandoff& handoff) {
  return handoff.armed && handoff.menuEntryUntil && platform::systemUptime() < *handoff.menuEntryUntil;
}

}  // namespace

void ContinuousCursorPresenter::handleDiscreteInput(platform::CGEventType type, double at) {
  const CGPoint mouse = NSEvent::mouseLocation();
  if (type == platform::kCGEventMouseMoved) {
    pointerMoved(mouse);
    return;
  }
  idleRestoreUntil.reset();
  auto& handoff = *stationaryHandoff;
  if (type == platform::kCGEventLeftMouseDragged && handoff.leftGestureBoundary(mouse)) return;
  if (type == platform::kCGEventLeftMouseUp && handoff.leftGestureRelease(mouse)) return;

  // Arms the handoff for a gesture at the pointer, as keys and drags do.
  const auto armGesture = [&] {
    if (auto under = screenContaining(mouse)) {
      handoff.armAtRest(mouse, renderScale(under->backingScaleFactor()), false, true, nullptr, 0, false);
    }
  };

  switch (type) {
    case platform::kCGEventLeftMouseDragged:
      cancelHandoffPreparation();
      cancelStationaryHandoff("left-drag-rearm");
      release("input");
      if (lease->hidden() || lease->backgroundEnabled()) return;
      armGesture();
      return;

    case platform::kCGEventLeftMouseDown:
    case platform::kCGEventRightMouseDown: {
      const bool right = type == platform::kCGEventRightMouseDown;
      resume = ContinuousCursorResumeGate{at, mouse, 0, false};
      if (right ? handoff.contextMenuEntry(mouse) : handoff.leftGestureArmed(mouse)) {
        release("input");
        return;
      }
      // The overlay's own sample may stand for the cursor under the click,
      // if the morph has ended and the window server still shows it.
      ArtRef matched;
      int32_t matchedSeed = 0;
      if (active && !sampleIsAnimated && !animation.isRunning(at) && sampledArt && identity &&
          sampledArt->identity() == *identity && sampleSeed && access.currentSeed() == sampleSeed) {
        matched = sampledArt;
        matchedSeed = *sampleSeed;
      }
      cancelHandoffPreparation();
      cancelStationaryHandoff("mouse-down-rearm");
      release("input");
      if (!lease->hidden()) {
        if (auto under = screenContaining(mouse)) {
          handoff.armAtRest(mouse, renderScale(under->backingScaleFactor()), right, !right, matched, matchedSeed, false);
        }
      }
      if (!menuEntryOpen(handoff) && !handoff.isLeftGesture) resetWindowLookupCache();
      return;
    }

    case platform::kCGEventScrollWheel:
      pointerMoved(mouse);
      if (active) {
        lastMotionPoint = mouse;
        lastMotionAt = at;
        return;
      }
      if (!handoff.holdsPointer(mouse) && !platform::NSApplication::shared()->isHidden() &&
          NSEvent::pressedMouseButtons() == 0) {
        if (auto under = screenContaining(mouse)) {
          if (!lastMotionPoint) lastMotionPoint = mouse;
          prepareHandoff(nullptr, false, renderScale(under->backingScaleFactor()), 0);
        }
      }
      return;

    case platform::kCGEventRightMouseUp:
      if (menuEntryOpen(handoff)) {
        handoff.noteActivity();
        return;
      }
      break;

    default:
      break;
  }

  // Keys, flags, other buttons, a right release outside the menu window and
  // right or other drags.
  cancelHandoffPreparation();
  cancelStationaryHandoff("discrete-input-" + std::to_string(type));
  const bool key = type == platform::kCGEventKeyDown || type == platform::kCGEventKeyUp ||
                   type == platform::kCGEventFlagsChanged;
  resume = ContinuousCursorResumeGate{at, mouse, key ? 0.08 : 0.0, false};
  resetWindowLookupCache();
  release("input");
  if (type == platform::kCGEventRightMouseDragged || type == platform::kCGEventOtherMouseDragged) return;
  armGesture();
}

void ContinuousCursorPresenter::pointerMoved(CGPoint point) {
  if (idleRestoreUntil) {
    const bool stays =
        idleRestorePoint && distance(point, *idleRestorePoint) <= restoreTolerance() && seedMatches(idleRestoreSeed);
    if (!stays) release("idle-restore-moved");
  }
  if (handoffPreparation && (handoffPreparation->point.x != point.x || handoffPreparation->point.y != point.y)) {
    cancelHandoffPreparation();
  }
  if (!stationaryHandoff->holdsPointer(point)) cancelStationaryHandoff("pointer-moved");
  if (distance(point, resume.inputPoint) >= 1) resume.moved = true;
  checkScreenEdge(point);
}

bool ContinuousCursorPresenter::canResume(double at) const {
  const CGPoint mouse = NSEvent::mouseLocation();
  if (stationaryHandoff->holdsPointer(mouse) || platform::NSApplication::shared()->isHidden()) return false;
  if (!resume.isOpen(at) || NSEvent::pressedMouseButtons() != 0) return false;
  return active || lastStopReason == "native-animated" || !lastMotionPoint || mouse.x != lastMotionPoint->x ||
         mouse.y != lastMotionPoint->y || at - lastMotionAt < 0.25;
}

void ContinuousCursorPresenter::reset() {
  unmapAfterRelease = false;
  panelRecoveryAttempts = 0;
  nextPanelRemapAt = kMinusInfinity;
  release("reset");
  resume = ContinuousCursorResumeGate{};
  resetWindowLookupCache();
  sampleSeed.reset();
  sampledArt.reset();
  lastMotionPoint.reset();
  lastMotionAt = kMinusInfinity;
  acquisitionFailures = 0;
  nextAcquisitionAt = kMinusInfinity;
}

void ContinuousCursorPresenter::commitDrawableClear() {
  if (!pendingDrawableClear) return;
  pendingDrawableClear = false;
  platform::CATransaction::flush();
  CursorTrace::shared()->record("overlay-drawable-clear-commit");
}

bool imageHasVisiblePixels(const platform::CGImageRef& image) {
  // The same 32 × 32 sRGB drawing every cursor comparison uses.
  const auto thumbnail = cursorThumbnail(image);
  if (!thumbnail) return false;
  for (size_t alpha = 3; alpha < thumbnail->size(); alpha += 4) {
    if ((*thumbnail)[alpha] > 8) return true;
  }
  return false;
}

}  // namespace vurle
