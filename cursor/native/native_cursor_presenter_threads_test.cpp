// The presenter under the real scheduler: submissions, hand-backs and the
// watchdog from their own threads while another application changes the
// cursor, ending with the cursor given back.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "cursor/native/cursor_trace.hpp"
#include "cursor/native/native_cursor_presenter.hpp"
#include "cursor/native/native_test_support.hpp"
#include "platform/dispatch/clock.hpp"
#include "platform/dispatch/test_hang_guard.hpp"
#include "platform/foundation/process_wide.hpp"

namespace vurle {
namespace {

using platform::CurrentCursor;

TEST(PresenterThreads, HammeredPresenterEndsWithTheCursorGivenBack) {
  platform::WindowServer::shared();
  platform::resetProcessState();
  CursorTrace::shared()->enable(1, true);
  {
    auto presenter = NativeCursorPresenter::make();
    presenter->setKeepWarm(true);
    presenter->setHoldPolicy(true, std::vector{platform::CGRectMake(0, 0, 2000, 2000)}, std::nullopt);
    presenter->setTarget(*NativeCursorArt::make(platform::NSCursor::arrowCursor()));
    const std::vector<CursorFrame> frames = {testing::solidFrame(platform::CGRectMake(-2, -2, 16, 16), 2, 40),
                                             testing::solidFrame(platform::CGRectMake(-2, -2, 16, 16), 2, 90)};
    const auto beam = platform::NSCursor::IBeamCursor();
    const auto application = CurrentCursor::imageSet(*beam->image(), beam->hotSpot());

    constexpr int kRounds = 200;
    std::vector<std::thread> threads;
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) presenter->submit(frames[i % 2], std::nullopt);
    });
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        presenter->restoreNative(i % 2 == 0);
        presenter->tightenDeadline(platform::systemUptime() + 0.001);
      }
    });
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        presenter->watchdogFired();
        presenter->classifySeed(platform::CursorState::shared().cursorSeed());
      }
    });
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds / 4; ++i) CurrentCursor::shared().setCursorFromAnotherApplication(application);
    });
    for (auto& thread : threads) thread.join();

    // No more holds: the watchdog ends any idle lease on its own.
    presenter->setHolds(false, std::nullopt);
    presenter->setKeepWarm(false);
    presenter->restoreNative(true);
    const double giveUp = platform::systemUptime() + platform::kTestHangGuardSeconds;
    while (presenter->connection() != 0 && platform::systemUptime() < giveUp) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(presenter->connection(), 0);
    EXPECT_FALSE(presenter->submissionsInFlight());
    EXPECT_TRUE(platform::Connections::shared().openConnections().empty());
    EXPECT_EQ(CurrentCursor::shared().owner(), 0);
    EXPECT_EQ(CurrentCursor::shared().cursor().size, application.size);
    EXPECT_FALSE(CurrentCursor::shared().dockCursorOverride());
  }
  platform::resetProcessState();
}

}  // namespace
}  // namespace vurle
