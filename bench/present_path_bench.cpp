// The overlay's present path, one display tick at a time, on the main thread
// of a simulated desktop (an editor in front, its window under the pointer,
// the overlay active and morphing from the arrow to the I-beam):
// - PresentTick/cached: a tick that draws a morph frame from the frame
//   cache (every step of a morph between standard cursors is kept), the
//   pointer moving by a point each tick. Target: under 0.25 ms.
// - PresentTick/uncached: a tick whose frame is rendered on the CPU, the
//   frame cache emptied before each tick. Target: under 0.5 ms. The counters
//   give the frame's pixel size; /resize morphs to the up-down resize
//   arrow, among the largest canvases of the standard cursors.
// - SeedToMorph/active and SeedToMorph/idle: how many ticks (1/120 s apart)
//   pass from another application's cursor change to the first frame of
//   the new cursor on the overlay's layer: for an overlay already drawing,
//   and for one that first stages its panel and waits for the hide. Slow
//   and fast pointers differ by the boundary's short hold. The figures are
//   counters; the time is that of one whole run.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "cursor/art/cursor_transition_frames.hpp"
#include "cursor/overlay/continuous_cursor_presenter.hpp"
#include "platform/accessibility/accessibility.hpp"
#include "platform/accessibility/accessibility_server.hpp"
#include "platform/appkit/cursor.hpp"
#include "platform/appkit/event.hpp"
#include "platform/appkit/screen.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/foundation/foreign_pid.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/windowserver/current_cursor.hpp"
#include "platform/windowserver/cursor_state.hpp"
#include "platform/windowserver/window_server.hpp"

namespace {

const int32_t kEditor = platform::foreignPid(4242);
constexpr double kTick = 1.0 / 120.0;

int32_t showCursor(const std::shared_ptr<platform::NSCursor>& cursor) {
  return platform::CurrentCursor::shared().setCursorFromAnotherApplication(
      platform::CurrentCursor::imageSet(*cursor->image(), cursor->hotSpot()));
}

// AppKit coordinates on the 1512 × 982 screen.
void moveTo(platform::CGPoint point) {
  platform::CursorState::shared().setCursorLocation(platform::CGPointMake(point.x, 982 - point.y));
}

struct Desktop {
  Desktop() {
    platform::WindowServer::shared();
    platform::resetProcessState();
    auto& workspace = platform::NSWorkspace::sharedWorkspace();
    workspace.launchApplication(kEditor, "com.example.editor", "Editor");
    workspace.activateApplication(kEditor);
    auto& server = platform::AccessibilityServer::shared();
    auto window = server.makeElement(kEditor);
    server.setAttribute(window, platform::kAXRoleAttribute, std::string("AXWindow"));
    server.setAttribute(window, platform::kAXSubroleAttribute, std::string("AXStandardWindow"));
    platform::CGPoint position{100, 100};
    platform::CGSize size{1000, 700};
    server.setAttribute(window, platform::kAXPositionAttribute, platform::AXValueCreate(platform::kAXValueCGPointType, &position));
    server.setAttribute(window, platform::kAXSizeAttribute, platform::AXValueCreate(platform::kAXValueCGSizeType, &size));
    server.addElementRegion(kEditor, platform::CGRectMake(100, 100, 1000, 700), window);
    moveTo({500, 500});
    showCursor(platform::NSCursor::arrowCursor());
    presenter = vurle::ContinuousCursorPresenter::make(nullptr);
    screen = platform::NSScreen::screens().front();
    presenter->spaceAnimation.isTransitioning(screen);
    scope->advance(0.6);
  }
  ~Desktop() {
    presenter.reset();
    scope->advance(1);
  }
  // One tick as the engine runs it: the window lookup kept fresh, then the
  // present path; `speed` is the pointer's in points per second.
  void tick(double speed = 0) {
    presenter->requestWindowLookup(platform::NSEvent::mouseLocation(), scope->now());
    presenter->present(screen, true, std::nullopt, std::nullopt, std::nullopt, scope->now(), 0.15, speed);
  }
  // Ticks, moving the pointer, until the overlay is active; false if it
  // never becomes so.
  bool activate() {
    for (int i = 0; i < 20 && !presenter->active; ++i) {
      nudge();
      tick();
      if (!presenter->active) scope->advance(kTick);
    }
    return presenter->active;
  }
  void nudge() {
    const auto at = platform::NSEvent::mouseLocation();
    moveTo({at.x + 1, at.y});
  }

  platform::SimulatedSchedulerScope scope;
  std::shared_ptr<vurle::ContinuousCursorPresenter> presenter;
  std::shared_ptr<platform::NSScreen> screen;
};

using CursorMaker = std::shared_ptr<platform::NSCursor> (*)();

// The overlay mid-morph from the arrow to `target`: time then stands still.
bool startMorph(Desktop& desktop, CursorMaker target) {
  if (!desktop.activate()) return false;
  showCursor(target());
  for (int i = 0; i < 3 && !desktop.presenter->animation.isRunning(desktop.scope->now()); ++i) {
    desktop.scope->advance(kTick);
    desktop.nudge();
    desktop.tick(2000);
  }
  desktop.scope->advance(0.05);
  return desktop.presenter->active && desktop.presenter->animation.isRunning(desktop.scope->now());
}

void BM_PresentTick(benchmark::State& state, bool cached, CursorMaker target) {
  {
    Desktop desktop;
    if (!startMorph(desktop, target)) {
      state.SkipWithError("the overlay did not start the morph");
      return;
    }
    const double x = platform::NSEvent::mouseLocation().x;
    double flip = 0;
    for (auto _ : state) {
      if (!cached) {
        state.PauseTiming();
        vurle::CursorTransitionFrames::removeAll();
        desktop.presenter->animation.cachedTransition.reset();
        state.ResumeTiming();
      }
      flip = 1 - flip;
      moveTo({x + flip, 500});
      desktop.tick(200);
    }
    if (!desktop.presenter->active) state.SkipWithError("the overlay let go during the ticks");
    if (const auto& frame = desktop.presenter->lastFrame) {
      state.counters["width_px"] = frame->canvas.bounds.size.width * frame->canvas.pixelScale;
      state.counters["height_px"] = frame->canvas.bounds.size.height * frame->canvas.pixelScale;
      state.counters["scale"] = frame->canvas.pixelScale;
    }
  }
  platform::resetProcessState();
}
BENCHMARK_CAPTURE(BM_PresentTick, cached, true, platform::NSCursor::IBeamCursor)->Name("PresentTick/cached");
BENCHMARK_CAPTURE(BM_PresentTick, uncached, false, platform::NSCursor::IBeamCursor)->Name("PresentTick/uncached");
BENCHMARK_CAPTURE(BM_PresentTick, uncached_resize, false, platform::NSCursor::resizeUpDownCursor)
    ->Name("PresentTick/uncached/resize");

// Ticks from the change to the first tick whose layer shows a frame of the
// new cursor's transition (or, when idle, of the new cursor at all).
void BM_SeedToMorph(benchmark::State& state, bool active, double speed) {
  double ticks = 0;
  for (auto _ : state) {
    Desktop desktop;
    if (active && !desktop.activate()) {
      state.SkipWithError("the overlay did not become active");
      return;
    }
    if (!active) desktop.presenter->release("idle-native");
    const auto before = desktop.presenter->layer->contents();
    showCursor(platform::NSCursor::IBeamCursor());
    int count = 0;
    for (; count < 40; ++count) {
      desktop.scope->advance(kTick);
      desktop.nudge();
      desktop.tick(speed);
      const auto& presenter = *desktop.presenter;
      const bool drawn = presenter.active && presenter.layer->contents() && presenter.layer->contents() != before &&
                         presenter.animation.to && presenter.animation.to->identity() == presenter.sampledArt->identity();
      if (drawn) break;
    }
    ticks = count + 1;
  }
  platform::resetProcessState();
  state.counters["ticks"] = ticks;
}
BENCHMARK_CAPTURE(BM_SeedToMorph, active_slow, true, 200.0)->Name("SeedToMorph/active/slow")->Iterations(3);
BENCHMARK_CAPTURE(BM_SeedToMorph, active_fast, true, 2000.0)->Name("SeedToMorph/active/fast")->Iterations(3);
BENCHMARK_CAPTURE(BM_SeedToMorph, idle, false, 200.0)->Name("SeedToMorph/idle")->Iterations(3);

}  // namespace
