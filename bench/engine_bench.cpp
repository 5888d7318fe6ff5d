// The cursor engine's work that runs without a frame:
// - Maintenance/native: the 0.2 s pass of a running engine on the native
//   presenter, with the Accessibility check skipped (a verification
//   engine), resting on an unchanged cursor: what the pass costs when it
//   has nothing to do.
// - Maintenance/paused: the pass of an engine that is not running.
// - Maintenance/overlay: the pass of a running engine on the overlay
//   presenter (diagnostics, resume check, policy age, display link); no
//   other application runs, so the permission check reads nothing.
// - Motion/link-running: one mouse-moved tap event while the display link
//   runs (the overlay presenter's screen-edge check only): what every
//   mouse move costs during a morph.
// - Motion/link-paused: the same event with the link at rest: the speed
//   sample, the overlay's pointer bookkeeping and resume check, the window
//   lookup request and the link's resumption.
// All under the simulated scheduler, so no timer competes.
#include <benchmark/benchmark.h>

#include <memory>

#include "cursor/engine/cursor_engine.hpp"
#include "platform/appkit/display_link.hpp"
#include "platform/appkit/window.hpp"
#include "platform/defaults/user_defaults.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/events/event.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/windowserver/cursor_state.hpp"
#include "platform/windowserver/window_server.hpp"

namespace {

using vurle::CursorEngine;

std::shared_ptr<CursorEngine> runningEngine(bool native, bool verification) {
  platform::WindowServer::shared();
  platform::resetProcessState();
  auto defaults = platform::NSUserDefaults::makeInMemory("engine-bench");
  defaults->setBool(native, vurle::kUseLegacyCursorPresenterKey);
  auto engine = CursorEngine::make(verification ? +[] { return int32_t{1}; } : nullptr, defaults);
  engine->install(platform::NSWindow::make(platform::NSMakeRect(100, 100, 460, 591), 2));
  engine->start();
  return engine;
}

void Maintenance(benchmark::State& state) {
  platform::SimulatedSchedulerScope scope;
  const bool overlay = state.range(0) == 2;
  // No other application runs, so the permission check reads nothing.
  auto engine = runningEngine(!overlay, !overlay);
  if (state.range(0) == 0) engine->disable();
  engine->setSourceValid(true);
  engine->setLastSeed(platform::CursorState::shared().cursorSeed());
  engine->maintenance();
  for (auto _ : state) engine->maintenance();
  state.SetLabel(overlay ? "overlay" : state.range(0) ? "native" : "paused");
  engine->stop();
}
BENCHMARK(Maintenance)->Arg(1)->Arg(0)->Arg(2);

void MotionLinkRunning(benchmark::State& state) {
  platform::SimulatedSchedulerScope scope;
  auto engine = runningEngine(false, false);
  auto event = platform::CGEventCreateMouseEvent(nullptr, platform::kCGEventMouseMoved, {400, 400}, 0);
  for (auto _ : state) engine->handleMotionEvent(platform::kCGEventMouseMoved, event);
  engine->stop();
}
BENCHMARK(MotionLinkRunning);

void MotionLinkPaused(benchmark::State& state) {
  platform::SimulatedSchedulerScope scope;
  auto engine = runningEngine(false, false);
  auto event = platform::CGEventCreateMouseEvent(nullptr, platform::kCGEventMouseMoved, {400, 400}, 0);
  double x = 400;
  for (auto _ : state) {
    state.PauseTiming();
    // A moved pointer a few milliseconds later, with the link at rest.
    platform::CursorState::shared().setCursorLocation({x, 400});
    x = x > 800 ? 400 : x + 1;
    scope->advance(0.004);
    engine->displayLink()->setPaused(true);
    state.ResumeTiming();
    engine->handleMotionEvent(platform::kCGEventMouseMoved, event);
  }
  engine->stop();
}
BENCHMARK(MotionLinkPaused);

}  // namespace
