// The lease on real threads: the watchdog on the global queue against
// extensions, revokes and Space changes from the test's (main) thread.
// Nothing here asserts timing; every wait has a generous guard against a
// hang only.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "cursor/native/cursor_trace.hpp"
#include "cursor/overlay/continuous_cursor_lease.hpp"
#include "platform/dispatch/clock.hpp"
#include "platform/dispatch/test_hang_guard.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/windowserver/connections.hpp"
#include "platform/windowserver/cursor_state.hpp"
#include "platform/windowserver/window_server.hpp"

namespace vurle {
namespace {

using platform::CursorState;

// Polls until the condition holds or the guard runs out.
template <class F>
bool eventually(F condition) {
  const double start = platform::systemUptime();
  while (!condition()) {
    if (platform::systemUptime() - start > platform::kTestHangGuardSeconds) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

TEST(ContinuousCursorLeaseThreadedTest, TheRealWatchdogAndMainThreadFramesEndWithTheCursorVisible) {
  platform::WindowServer::shared();
  platform::resetProcessState();
  CursorTrace::shared()->enable(1, true);
  auto lease = makeCursorLease();
  ASSERT_TRUE(lease->available());

  std::atomic<bool> settled{true};
  std::atomic<int> independent{0};
  int acquisitions = 0;
  int mostHides = 0;
  for (int frame = 0; frame < 1000; ++frame) {
    if (!lease->hidden() && lease->acquire([&] { return settled.load(); }, [&] { ++independent; })) {
      ++acquisitions;
    }
    lease->extend();
    mostHides = std::max(mostHides, CursorState::shared().outstandingHides());
    switch (frame % 200) {
      case 50: lease->revoke(); break;
      case 100: settled = false; break;
      case 110: settled = true; break;
      default: break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  // Each revoke is followed by a new acquisition on the next frame.
  EXPECT_GE(acquisitions, 6);
  EXPECT_LE(mostHides, 1);

  // Frames stop: the watchdog alone gives the cursor back.
  const bool heldAtEnd = lease->hidden();
  ASSERT_TRUE(eventually([&] { return !lease->hidden() && !lease->backgroundEnabled(); }));
  if (heldAtEnd) {
    EXPECT_TRUE(lease->takeExpired());
  }
  lease->revoke();
  lease.reset();
  EXPECT_EQ(CursorState::shared().outstandingHides(), 0);
  EXPECT_TRUE(CursorState::shared().cursorIsVisible());
  EXPECT_EQ(platform::Connections::shared().property(platform::WindowServer::shared().mainConnectionID(),
                                                    "SetsCursorInBackground")->asBool(),
            false);
  platform::resetProcessState();
}

}  // namespace
}  // namespace vurle
