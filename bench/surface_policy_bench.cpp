// The surface policy:
// - SurfacePolicy/Evaluate: one evaluation on the main thread from a fresh
//   cache of 60 windows that could block (menus, panels, system surfaces),
//   none under the pointer, so every one is looked at (the engine pays this
//   every frame).
// - SurfacePolicy/WindowListRead: one window-list read of 60 windows and
//   its filtering, as the policy's queue runs it; "warm" with the owners
//   already known (the steady state), "cold" learning all 20 of them.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "cursor/engine/native_surface_policy.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/foundation/foreign_pid.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/windowserver/window_list.hpp"
#include "platform/windowserver/window_server.hpp"

namespace {

using namespace platform;
using vurle::NativeSurfacePolicy;

constexpr int kWindows = 60;
constexpr int kApplications = 20;

// 60 windows of 20 applications, front to back: menus, panels and system
// surfaces, all kept by the filter and all away from the middle of the
// screen.
void desktopOf60Windows() {
  WindowServer::shared();
  resetProcessState();
  for (int app = 0; app < kApplications; ++app) {
    NSWorkspace::sharedWorkspace().launchApplication(foreignPid(2000 + app), "com.example.app" + std::to_string(app),
                                                     "App " + std::to_string(app));
  }
  std::vector<WindowRecord> windows;
  for (int i = 0; i < kWindows; ++i) {
    WindowRecord window;
    window.number = static_cast<CGWindowID>(100 + i);
    window.ownerPID = foreignPid(2000 + i % kApplications);
    window.ownerName = i % 6 == 3 ? "Control Center" : "App " + std::to_string(i % kApplications);
    window.layer = i % 2 == 0 ? 101 : 8;
    window.bounds = CGRectMake(10.0 * i, 30, 120, 200);
    windows.push_back(window);
  }
  WindowTable::shared().setWindows(windows);
}

void Evaluate(benchmark::State& state) {
  desktopOf60Windows();
  SimulatedSchedulerScope scope;
  auto policy = NativeSurfacePolicy::make(std::nullopt);
  policy->refresh();
  scope->runUntilIdle();
  const CGPoint middle = CGPointMake(756, 491);
  if (policy->cachedWindows().size() != kWindows ||
      policy->evaluate(middle, nullptr, false, std::nullopt, false).has_value()) {
    state.SkipWithError("the cache does not hold the windows, or one blocks");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(policy->evaluate(middle, nullptr, false, std::nullopt, false));
  }
  state.counters["cached"] = static_cast<double>(policy->cachedWindows().size());
}
BENCHMARK(Evaluate)->Name("SurfacePolicy/Evaluate");

void WindowListRead(benchmark::State& state) {
  desktopOf60Windows();
  const bool warm = state.range(0) != 0;
  NativeSurfacePolicy::OwnerIdentities owners;
  size_t kept = 0;
  for (auto _ : state) {
    if (!warm) owners.clear();
    auto list = CGWindowListCopyWindowInfo(kCGWindowListOptionOnScreenOnly | kCGWindowListExcludeDesktopElements, 0);
    kept = NativeSurfacePolicy::parseWindowList(list, owners).size();
    benchmark::DoNotOptimize(kept);
  }
  state.counters["kept"] = static_cast<double>(kept);
  state.SetLabel(warm ? "warm" : "cold");
}
BENCHMARK(WindowListRead)->Name("SurfacePolicy/WindowListRead")->Arg(1)->Arg(0);

}  // namespace
