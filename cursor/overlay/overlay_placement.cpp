// Placement of a frame with its hotspot on the pointer, and the bridge a
// release leaves behind until the native cursor is back.
//
// The hotspot lands on whole points: x is floored and y ceiled, both
// measured from the panel's bottom-left corner, so the image never sits half
// a pixel off and never jitters between two positions as the pointer moves
// within one point.

#include <cmath>
#include <string>

#include "cursor/native/cursor_trace.hpp"
#include "cursor/native/native_cursor_readback.hpp"
#include "cursor/overlay/continuous_cursor_presenter.hpp"
#include "platform/appkit/application.hpp"
#include "platform/appkit/event.hpp"
#include "platform/dispatch/clock.hpp"

namespace vurle {
namespace {

using platform::CATransaction;
using platform::NSEvent;

void record(std::string_view kind, const CursorTrace::Fields& fields = {}) {
  CursorTrace::shared()->record(kind, fields);
}

// Appended piece by piece: GCC 12 warns falsely (-Wrestrict) about
// "literal" + std::string at -O3.
std::string pointText(CGPoint point) {
  std::string text = "(";
  text += shortestDecimal(point.x);
  text += ", ";
  text += shortestDecimal(point.y);
  text += ')';
  return text;
}

bool usable(double value) { return std::isfinite(value) && value != 0; }

}  // namespace

void ContinuousCursorPresenter::place(CGPoint point, const CursorFrame& frame, CGFloat scale) {
  const CGRect bounds = frame.canvas.bounds;
  const double factor = frame.canvas.pixelScale / scale;
  if (!usable(bounds.size.width) || !usable(bounds.size.height) || !usable(scale) || !(factor > 0) ||
      !std::isfinite(factor) || !std::isfinite(point.x) || !std::isfinite(point.y)) {
    // Nothing sane can be placed: leave the layer as it is.
    std::string detail;
    appendSize(detail, bounds.size);
    record("overlay-place-skipped", {.value = scale, .detail = detail});
    return;
  }
  pendingDrawableClear = false;
  ++drawableGeneration;

  const CGRect area = panel->frame();
  const CGFloat x = std::floor(point.x - platform::CGRectGetMinX(area));
  const CGFloat y = std::ceil(point.y - platform::CGRectGetMinY(area));
  const CGFloat width = bounds.size.width * factor;
  const CGFloat height = bounds.size.height * factor;
  const CGPoint anchor{-platform::CGRectGetMinX(bounds) / bounds.size.width,
                       platform::CGRectGetMinY(bounds) / bounds.size.height + 1};

  const CGRect onScreen = platform::CGRectIntersection(
      platform::CGRectMake(x + platform::CGRectGetMinX(area) - width * anchor.x,
                           y + platform::CGRectGetMinY(area) - height * anchor.y, width, height),
      area);
  const platform::NSWindowLevel level =
      overlapsElevatedUtility && overlapsElevatedUtility(onScreen) ? cursorWindowLevel() : kOverlayPanelLevel;
  if (panel->level() != level) {
    panel->setLevel(level);
    record("overlay-level", {.value = static_cast<double>(level)});
  }

  const CGPoint position{x, y};
  const CGRect current = layer->bounds();
  const bool samePosition = layer->position().x == x && layer->position().y == y;
  const bool sameSize = current.size.width == width && current.size.height == height;
  if (frame.image == drawnImage && samePosition && sameSize) return;

  const double now = platform::systemUptime();
  if (CursorTrace::shared()->status().enabled && now - lastPlacementTrace >= 0.05) {
    lastPlacementTrace = now;
    record("overlay-position",
           {.detail = "input=" + pointText(point) + ";layer=" + pointText(position) + ";density=" + shortestDecimal(scale)});
  }

  CATransaction::begin();
  CATransaction::setDisableActions(true);
  if (layer->anchorPoint().x != anchor.x || layer->anchorPoint().y != anchor.y) layer->setAnchorPoint(anchor);
  if (!sameSize) layer->setBounds(platform::CGRectMake(0, 0, width, height));
  if (!samePosition) layer->setPosition(position);
  if (layer->contentsScale() != scale) layer->setContentsScale(scale);
  if (frame.image != drawnImage) {
    layer->setContents(frame.image);
    drawnImage = frame.image;
  }
  CATransaction::commit();
}

bool ContinuousCursorPresenter::idleRestorePending() const {
  if (!idleRestoreUntil || platform::systemUptime() >= *idleRestoreUntil) return false;
  if (!idleRestorePoint) return false;
  const CGPoint mouse = NSEvent::mouseLocation();
  if (std::hypot(mouse.x - idleRestorePoint->x, mouse.y - idleRestorePoint->y) > restoreTolerance()) return false;
  if (!seedMatches(idleRestoreSeed)) return false;
  if (NSEvent::pressedMouseButtons() != 0 || platform::NSApplication::shared()->isHidden()) return false;
  if (!overlayVisible()) return false;
  if (!idleRestoreRevealAt && !lease->hidden() && !lease->backgroundEnabled()) return false;
  const auto visible = access.cursorIsVisible();
  return visible && !*visible;
}

void ContinuousCursorPresenter::applyIdleRestoreVisibility() {
  const double now = platform::systemUptime();
  const bool revealDue = !idleRestoreRevealAt || *idleRestoreRevealAt <= now;
  const auto visible = access.cursorIsVisible();
  CATransaction::begin();
  CATransaction::setDisableActions(true);
  if ((lease->hidden() || revealDue) && visible && !*visible) {
    if (layer->isHidden() && idleRestoreRevealAt) record("overlay-idle-restore-fallback", {.seed = idleRestoreSeed});
    if (layer->isHidden()) layer->setHidden(false);
  } else if (!layer->isHidden()) {
    layer->setHidden(true);
  }
  CATransaction::commit();
}

void ContinuousCursorPresenter::releaseRecheck(platform::NSTimer& timer) {
  if (!lease->hidden() && !idleRestorePending()) {
    timer.invalidate();
    releaseTimer.reset();
    const std::string reason = idleRestoreUntil ? "idle-native" : "release-recovered";
    idleRestoreUntil.reset();
    release(reason);
  } else if (lastFrame && screen) {
    applyIdleRestoreVisibility();
    if (!layer->isHidden()) place(NSEvent::mouseLocation(), *lastFrame, screen->backingScaleFactor());
  }
  commitDrawableClear();
}

void ContinuousCursorPresenter::restoredReadback(uint64_t generation, double delay) {
  if (visibilityGeneration != generation || lease->hidden()) return;
  const auto visible = access.cursorIsVisible();
  std::optional<double> value;
  if (visible) value = *visible ? 1.0 : 0.0;
  record("overlay-restored-readback",
         {.value = value, .detail = "after-" + std::to_string(std::lround(delay * 1000)) + "ms"});
}

void ContinuousCursorPresenter::orderOutPanel(uint64_t generation) {
  cleanupPending = false;
  if (active || acquisitionStarted || lease->hidden() || drawableGeneration != generation) return;
  if (overlaySpace) {
    if (!unmapAfterRelease) return;  // the panel stays mapped in its Space
    overlaySpace->detach(*panel);
  }
  panel->orderOut();
}

}  // namespace vurle
