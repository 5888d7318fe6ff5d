// The watch after the overlay yields: wait for a still pointer, a settled
// Space and a visible native cursor, then arm the stationary handoff.

#include <algorithm>
#include <utility>

#include "cursor/art/cursor_scale.hpp"
#include "cursor/overlay/continuous_cursor_presenter.hpp"
#include "platform/appkit/application.hpp"
#include "platform/appkit/event.hpp"
#include "platform/dispatch/clock.hpp"

namespace vurle {

using platform::NSEvent;

void ContinuousCursorPresenter::prepareHandoff(std::shared_ptr<platform::NSScreen> settlingDisplay,
                                               bool observeDuringPolicyRefresh, CGFloat scale, double delay) {
  if (handoffPreparation) return;
  const double notBefore = platform::systemUptime() + std::max(delay, 0.0);
  const bool settling = settlingDisplay != nullptr;
  startPreparation(HandoffPreparation{NSEvent::mouseLocation(), scale, notBefore, notBefore + (settling ? 0.75 : 0.25),
                                      std::move(settlingDisplay), observeDuringPolicyRefresh},
                   settling ? 0.025 : 0.01);
}

void ContinuousCursorPresenter::startPreparation(HandoffPreparation preparation, double interval) {
  handoffPreparation = std::move(preparation);
  tickHandoffPreparation();
  if (!handoffPreparation) return;
  if (handoffPreparationTimer) handoffPreparationTimer->invalidate();
  std::weak_ptr<ContinuousCursorPresenter> weak = weak_from_this();
  handoffPreparationTimer = platform::NSTimer::make(interval, true, [weak](platform::NSTimer& timer) {
    auto self = weak.lock();
    if (!self) {
      timer.invalidate();
      return;
    }
    self->tickHandoffPreparation();
  });
  platform::RunLoop::main().add(handoffPreparationTimer, platform::RunLoopMode::common);
}

void ContinuousCursorPresenter::tickHandoffPreparation() {
  if (!handoffPreparation) return;
  const HandoffPreparation& preparation = *handoffPreparation;
  const double now = platform::systemUptime();
  if (now >= preparation.deadline) {
    cancelHandoffPreparation();
    return;
  }
  const CGPoint mouse = NSEvent::mouseLocation();
  if (mouse.x != preparation.point.x || mouse.y != preparation.point.y || NSEvent::pressedMouseButtons() != 0 ||
      platform::NSApplication::shared()->isHidden()) {
    cancelHandoffPreparation();
    return;
  }
  if (now < preparation.notBefore) return;
  if (lease->hidden() || lease->backgroundEnabled()) return;
  if (releaseTimer) return;
  if (!access.cursorIsVisible().value_or(false)) return;
  if (preparation.settlingDisplay) {
    auto probe = spaceAnimation.transitionProbe(preparation.settlingDisplay);
    if (!probe || probe()) return;
  }
  const CGPoint at = preparation.point;
  stationaryHandoff->armAtRest(at, preparation.scale, false, false, nullptr, 0, preparation.observeDuringPolicyRefresh);
  if (stationaryHandoff->holdsPointer(at)) cancelHandoffPreparation();
}

void ContinuousCursorPresenter::cancelHandoffPreparation() {
  handoffPreparation.reset();
  if (handoffPreparationTimer) handoffPreparationTimer->invalidate();
  handoffPreparationTimer.reset();
}

void ContinuousCursorPresenter::yieldToNative(std::optional<AppSwitcherCursorScope> scope) {
  if (!scope) {
    stationaryHandoff->setAppSwitcherScope(std::nullopt);
    return;
  }
  release("native-yield");
  stationaryHandoff->setAppSwitcherScope(std::move(scope));
  stationaryHandoff->noteActivity();
  const CGPoint mouse = NSEvent::mouseLocation();
  if (stationaryHandoff->holdsPointer(mouse)) return;
  auto screen = screenContaining(mouse);
  if (!screen) return;
  cancelHandoffPreparation();
  prepareHandoff(nullptr, true, renderScale(screen->backingScaleFactor()), 0);
}

}  // namespace vurle
