// The overlay presenter's per-frame work while it waits, on the main thread:
// - HandoffAdvance/waiting: one display-link step of the stationary handoff
//   with nothing to do: a cursor change is held behind the old picture and
//   the policy has not decided yet, so the step checks the pointer, the
//   native cursor and the policy, keeps the native presenter's deadline
//   and returns.
// - PreparationTick/waiting: one 25 ms tick of the handoff preparation
//   after a Space change, through every check up to the display's Space
//   probe, which still reports the switch.
// Both run under the simulated scheduler with time standing still, so every
// iteration takes the same path. Target: under 10 µs each.
#include <benchmark/benchmark.h>

#include <memory>

#include "cursor/art/cursor_scale.hpp"
#include "cursor/native/native_cursor_presenter.hpp"
#include "cursor/overlay/continuous_cursor_presenter.hpp"
#include "cursor/overlay/stationary_cursor_handoff.hpp"
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

using vurle::StationaryPolicyAnswer;

int32_t showCursor(const std::shared_ptr<platform::NSCursor>& cursor) {
  return platform::CurrentCursor::shared().setCursorFromAnotherApplication(
      platform::CurrentCursor::imageSet(*cursor->image(), cursor->hotSpot()));
}

void freshDesktop() {
  platform::WindowServer::shared();
  platform::resetProcessState();
  platform::CursorState::shared().setCursorLocation({400, 482});
  showCursor(platform::NSCursor::arrowCursor());
}

void BM_HandoffAdvanceWaiting(benchmark::State& state) {
  freshDesktop();
  {
    platform::SimulatedSchedulerScope scope;
    auto handoff = vurle::StationaryCursorHandoff::make(vurle::NativeCursorPresenter::make());
    StationaryPolicyAnswer answer{std::nullopt, {platform::CGRectMake(0, 0, 1512, 982)}, 0.14};
    handoff->policy = [&answer] { return answer; };
    handoff->armAtRest(platform::NSEvent::mouseLocation(), 2, false, false, nullptr, 0, false);
    answer.reason = vurle::kPolicyPending;
    showCursor(platform::NSCursor::IBeamCursor());
    scope->advance(0.005);  // the sampler captures the I-beam and hands it over
    if (!handoff->pending) {
      state.SkipWithError("the handoff did not hold the cursor change");
      return;
    }
    for (auto _ : state) handoff->advance();
    if (!handoff->pending) state.SkipWithError("the step did not keep waiting");
  }
  platform::resetProcessState();
}
BENCHMARK(BM_HandoffAdvanceWaiting)->Name("HandoffAdvance/waiting");

void BM_PreparationTickWaiting(benchmark::State& state) {
  freshDesktop();
  {
    platform::SimulatedSchedulerScope scope;
    platform::NSWorkspace::sharedWorkspace().launchApplication(platform::foreignPid(4242), "com.example.editor",
                                                               "Editor");
    platform::NSWorkspace::sharedWorkspace().activateApplication(platform::foreignPid(4242));
    auto presenter = vurle::ContinuousCursorPresenter::make(nullptr);
    auto screen = platform::NSScreen::screens().front();
    presenter->spaceAnimation.noteSpaceChange();  // the display counts as switching
    presenter->prepareHandoff(screen, false, vurle::renderScale(screen->backingScaleFactor()), 0);
    if (!presenter->handoffPreparation) {
      state.SkipWithError("no preparation");
      return;
    }
    for (auto _ : state) presenter->tickHandoffPreparation();
    if (!presenter->handoffPreparation) state.SkipWithError("the tick did not keep waiting");
  }
  platform::resetProcessState();
}
BENCHMARK(BM_PreparationTickWaiting)->Name("PreparationTick/waiting");

}  // namespace
