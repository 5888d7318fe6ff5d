// The native cursor sampler:
// - Poll/unchanged: one poll of an unchanged seed (the seed read and the
//   presenter's classification), what the sampler pays every 4 ms.
// - Poll/new-seed: another application sets a cursor, then one poll reads
//   the new seed, copies the image, classifies it and publishes a sample
//   (the sample is taken and the main queue drained in the same pass).
//   Both run under the simulated scheduler, so no timer competes.
// - Latency/*: from a seed change to the sample's announcement on the main
//   queue, under the real scheduler, with the sampler at its normal 4 ms
//   cadence or prompted to 1 ms just before the change (manual time: the
//   reported time is the latency). Each change comes at a random point of
//   the cadence.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>

#include "cursor/native/native_cursor_presenter.hpp"
#include "cursor/native/native_cursor_sampler.hpp"
#include "platform/appkit/cursor.hpp"
#include "platform/dispatch/clock.hpp"
#include "platform/dispatch/run_loop.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/windowserver/current_cursor.hpp"
#include "platform/windowserver/cursor_state.hpp"
#include "platform/windowserver/window_server.hpp"

namespace {

using vurle::NativeCursorPresenter;
using vurle::NativeCursorSampler;

constexpr double kScale = 2;

platform::CursorImageSet applicationCursor(const std::shared_ptr<platform::NSCursor>& cursor) {
  return platform::CurrentCursor::imageSet(*cursor->image(), cursor->hotSpot());
}

void freshWindowServer() {
  platform::WindowServer::shared();
  platform::resetProcessState();
}

std::shared_ptr<NativeCursorSampler> enabledSampler(const std::shared_ptr<NativeCursorPresenter>& presenter) {
  auto sampler = NativeCursorSampler::make(presenter, nullptr, kScale);
  sampler->setEnabled(true, NativeCursorSampler::Baseline{platform::CursorState::shared().cursorSeed(),
                                                          platform::systemUptime(), kScale});
  return sampler;
}

void BM_PollUnchanged(benchmark::State& state) {
  freshWindowServer();
  {
    platform::SimulatedSchedulerScope scope;
    auto presenter = NativeCursorPresenter::make();
    auto sampler = enabledSampler(presenter);
    sampler->poll();
    for (auto _ : state) sampler->poll();
  }
  platform::resetProcessState();
}
BENCHMARK(BM_PollUnchanged)->Name("Poll/unchanged");

void BM_PollNewSeed(benchmark::State& state) {
  freshWindowServer();
  {
    platform::SimulatedSchedulerScope scope;
    auto presenter = NativeCursorPresenter::make();
    auto sampler = enabledSampler(presenter);
    const platform::CursorImageSet cursors[] = {applicationCursor(platform::NSCursor::IBeamCursor()),
                                                applicationCursor(platform::NSCursor::pointingHandCursor())};
    size_t next = 0;
    for (auto _ : state) {
      platform::CurrentCursor::shared().setCursorFromAnotherApplication(cursors[next++ % 2]);
      sampler->poll();
      benchmark::DoNotOptimize(sampler->takePending());
      scope->drainMain();
    }
  }
  platform::resetProcessState();
}
BENCHMARK(BM_PollNewSeed)->Name("Poll/new-seed");

void BM_DetectionLatency(benchmark::State& state) {
  const bool prompted = state.range(0) != 0;
  freshWindowServer();
  {
    auto presenter = NativeCursorPresenter::make();
    auto sampler = enabledSampler(presenter);
    double announcedAt = 0;
    sampler->setOnChange([&] {
      announcedAt = platform::systemUptime();
      sampler->takePending();
      platform::RunLoop::main().stop();
    });
    // Past the quick period that follows enabling.
    platform::RunLoop::main().runUntil(platform::systemUptime() + 0.2);
    const platform::CursorImageSet cursors[] = {applicationCursor(platform::NSCursor::IBeamCursor()),
                                                applicationCursor(platform::NSCursor::pointingHandCursor())};
    size_t next = 0;
    int missed = 0;
    uint32_t phase = 12345;
    for (auto _ : state) {
      if (prompted) sampler->quicken();
      // Changes come at any point of the poll cadence, not just after a poll.
      phase = phase * 1664525u + 1013904223u;
      const double cadence = prompted ? 0.001 : 0.004;
      platform::RunLoop::main().runUntil(platform::systemUptime() + cadence * (phase >> 8) / double(1u << 24));
      announcedAt = 0;
      const double changedAt = platform::systemUptime();
      platform::CurrentCursor::shared().setCursorFromAnotherApplication(cursors[next++ % 2]);
      platform::RunLoop::main().runUntil(changedAt + 0.5);
      if (announcedAt == 0) ++missed;
      state.SetIterationTime(announcedAt > 0 ? announcedAt - changedAt : 0.5);
    }
    state.counters["missed"] = missed;
    sampler->setEnabled(false);
  }
  platform::resetProcessState();
}
BENCHMARK(BM_DetectionLatency)
    ->Name("Latency")
    ->ArgName("prompted")
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(40);

}  // namespace
