// The engine's frame: its common entry and the overlay path.
//
// The overlay path decides every frame whether the pointer may be animated
// where it stands and hands the frame to the overlay presenter with that
// verdict; the presenter itself releases on a refusal, so a refused frame
// still goes to it. The gates run in a fixed order (screenshot grace, native
// grace, Reduce Motion, then the surface policy), so the reason the trace
// shows is the first that holds.
//
// One rule picks the screen under the pointer everywhere (the display
// link's screen, the menu-bar limit, the presenter's screen): the mouse rule
// of unflipped rectangles, so a pointer on the shared edge of two stacked
// screens belongs to exactly one of them, and a pointer on no screen at all
// gives the pointer back at once instead of leaving the native cursor
// hidden until the lease lapses.

#include <algorithm>

#include "cursor/engine/cursor_engine.hpp"
#include "cursor/engine/experimental_dock_cursor.hpp"
#include "cursor/engine/experimental_dock_regions.hpp"
#include "cursor/engine/native_surface_policy.hpp"
#include "cursor/native/cursor_trace.hpp"
#include "cursor/overlay/continuous_cursor_presenter.hpp"
#include "cursor/overlay/cursor_space_animation.hpp"
#include "platform/appkit/display_link.hpp"
#include "platform/appkit/event.hpp"
#include "platform/appkit/screen.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/dispatch/weak_block.hpp"

namespace vurle {
namespace {

constexpr CGFloat kEdgeBand = 256;

bool reduceMotion() { return platform::NSWorkspace::sharedWorkspace().accessibilityDisplayShouldReduceMotion(); }

// The strip along the bottom, left and right edges of the link's screen in
// which the Dock may appear; never the top edge.
bool inEdgeBand(CGRect frame, CGPoint pointer) {
  if (!platform::NSMouseInRect(pointer, frame, false)) return false;
  return pointer.y < platform::CGRectGetMinY(frame) + kEdgeBand || pointer.x < platform::CGRectGetMinX(frame) + kEdgeBand ||
         pointer.x > platform::CGRectGetMaxX(frame) - kEdgeBand;
}

// The lower edge of the menu-bar band of the screen under the pointer.
std::optional<CGFloat> menuBarLimit(CGPoint pointer) {
  const auto under = screenContaining(pointer);
  if (!under) return std::nullopt;
  return platform::CGRectGetMaxY(under->frame()) - std::max<CGFloat>(under->safeAreaInsets().top + 4, 28);
}

}  // namespace

void CursorEngine::setDemoKind(std::optional<PointerKind> kind) {
  demoKind_ = kind;
  if (!kind) return;
  lastActivity_ = now();
  ensureDisplayLink();
}

void CursorEngine::step() {
  if (servicingFrame_) return;
  servicingFrame_ = true;
  // Armed only now, so that a re-entrant call never clears the outer
  // frame's flag.
  struct Servicing {
    bool& flag;
    ~Servicing() { flag = false; }
  } servicing{servicingFrame_};
  const double started = now();

  if (!enabled() || (!systemWide() && !demoKind_)) {
    release(true, std::nullopt, false);
  } else if (systemWide() && usesContinuousCursor_) {
    overlayStep();
  } else {
    nativeStep(started);
  }
  armMotionSources();
  if (auto overlay = overlayInUse()) overlay->commitDrawableClear();
  CursorTrace::shared()->recordMainWork(started, "display-tick");
}

void CursorEngine::overlayStep() {
  const double t = now();
  lastContinuousFrameAt_ = t;
  auto& overlay = *continuousPresenter();
  overlay.reportDiagnostics();
  const auto screen = linkedScreen_.lock();
  if (!screen) return;
  const CGPoint pointer = platform::NSEvent::mouseLocation();
  if (!platform::NSMouseInRect(pointer, screen->frame(), false)) {
    if (!screenContaining(pointer)) {
      overlay.release("pointer-offscreen");
      pauseDisplayLink();
      return;
    }
    ensureDisplayLink();
    return;
  }
  if (keyboardActive()) {
    stopDockExperiment(true);
    overlay.suspend("keyboard-activity", t);
    pauseDisplayLink();
    return;
  }
  recordPointerMotion();
  const bool canResume = overlay.canResume(t);
  const bool inBand = (dockExperiment_ && dockExperiment_->observing()) || inEdgeBand(screen->frame(), pointer);
  if (canResume) {
    overlay.requestWindowLookup(pointer, t);
  } else if (!inBand) {
    overlay.release("input");
    pauseDisplayLink();
    return;
  }
  refreshPolicyIfStale();
  const auto hit = policy_->experimentalSurface(pointer);
  const bool sideEdge = overlay.inScreenEdgeBand(screen, pointer);

  std::optional<std::string> reason;
  if (t < screenshotUntil_) {
    reason = "screenshot-grace";
  } else if (t < nativeUntil_) {
    reason = "native-grace";
  } else if (reduceMotion()) {
    reason = "reduce-motion";
  } else {
    reason = policy_->evaluate(pointer, hostWindow_.lock(), false, hit, sideEdge);
  }

  if (reason == NativeSurfacePolicy::kDock || (!reason && inBand)) {
    bool tookFrame = false;
    dockStep(screen, pointer, tookFrame);
    if (tookFrame) return;
  }

  if (dockExperiment_ && dockExperiment_->observing()) stopDockExperiment(true);
  if (!canResume) {
    overlay.release("input");
    pauseDisplayLink();
    return;
  }
  const double speed = currentSpeed();
  std::optional<CGFloat> limit;
  if (!(hit && hit->kind == ExperimentalCursorSurface::Kind::menu)) limit = menuBarLimit(pointer);
  overlay.present(screen, !reason, reason, policy_->overlayFrame(hit), limit, t, transitionDuration(speed), speed);
}

void CursorEngine::dockStep(const std::shared_ptr<platform::NSScreen>& screen, CGPoint pointer, bool& tookFrame) {
  auto check = dockSpace().transitionCheck(screen);
  if (!check) return;  // no Space state: the normal present path decides
  const auto& regions = dockRegions();
  const auto& experiment = dockExperiment();
  const auto screens = platform::NSScreen::screens();
  const CGFloat top = platform::CGRectGetMaxY(screens.empty() ? screen->frame() : screens.front()->frame());
  const CGPoint serverPointer = platform::CGPointMake(pointer.x, top - pointer.y);
  const CGRect frame = screen->frame();
  const CGRect serverFrame = platform::CGRectMake(platform::CGRectGetMinX(frame), top - platform::CGRectGetMaxY(frame),
                                                  frame.size.width, frame.size.height);
  regions->setOnRefresh(platform::weakBlock(shared_from_this(), [](CursorEngine& engine) { engine.ensureDisplayLink(); }));
  auto& overlay = *continuousPresenter();
  if (regions->requestRefresh(serverFrame, serverPointer)) overlay.release("dock-experiment");
  if (!overlay.nativeCursorReleased()) return;
  if (!experiment->step(screen, transitionDuration(currentSpeed()), check, regions, serverPointer, serverFrame)) {
    return;
  }
  overlay.release("dock-experiment");
  pauseDisplayLink();
  tookFrame = true;
}

}  // namespace vurle
