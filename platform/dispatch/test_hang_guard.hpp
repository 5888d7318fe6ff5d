#pragma once

// Test support: the one real-time bound of the tests. Tests run on the
// virtual clock; where one must wait for real threads, sockets or processes
// it waits for an outcome, and this bound only ends a wait that would
// otherwise hang. It is far above what any such wait takes on a busy
// machine, and nothing a test checks may depend on time passing faster than
// it: a test that must know something did not happen waits for an event
// that proves it, never for a while.
//
// The number is written here alone: CMake reads it for test discovery and
// the shell tests read it for their waits.

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

#include "platform/dispatch/clock.hpp"
#include "platform/dispatch/run_loop.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"

namespace platform {

inline constexpr std::chrono::seconds kTestHangGuard{120};
inline constexpr double kTestHangGuardSeconds = std::chrono::duration<double>(kTestHangGuard).count();

// Serves the real main run loop until `done` holds, or the guard has run
// out; true when it holds. Answers of real threads arrive there.
inline bool pumpMainRunLoopUntil(const std::function<bool()>& done) {
  const double deadline = systemUptime() + kTestHangGuardSeconds;
  while (!done()) {
    const double now = systemUptime();
    if (now >= deadline) return false;
    RunLoop::main().runUntil(std::min(deadline, now + 0.005));
  }
  return true;
}

// Serves the simulated scheduler's work as a real thread (networking, say)
// hands it over, until `done` or the guard has run out; true when done.
inline bool pumpSimulatedUntil(SimulatedSchedulerScope& scope, const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + kTestHangGuard;
  for (;;) {
    scope->runUntilIdle();
    if (done()) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    // The answer is on a real thread's way; nothing virtual is due.
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// Runs what the main run loop holds now and what that queues in turn,
// waiting for nothing that is not yet there.
inline void drainMainRunLoop() { RunLoop::main().runUntil(systemUptime()); }

}  // namespace platform
