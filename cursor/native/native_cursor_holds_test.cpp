#include <atomic>
#include <future>
#include <thread>

#include "cursor/native/native_cursor_presenter.hpp"
#include "cursor/native/native_test_support.hpp"

namespace vurle {
namespace {

using platform::CGRectMake;
using platform::CurrentCursor;
using platform::CursorState;

const platform::CGRect kBounds = CGRectMake(-2, -2, 16, 16);
// Around the pointer's default location (756, 491).
const platform::CGRect kAroundPointer = CGRectMake(700, 450, 100, 100);

class HoldsTest : public testing::NativeTest {
 protected:
  void SetUp() override {
    NativeTest::SetUp();
    presenter = NativeCursorPresenter::make([this] { return buttonsDown.load(); });
  }
  void TearDown() override {
    presenter.reset();
    NativeTest::TearDown();
  }

  // Kept warm with holds over the pointer, a hold frame and the arrow as
  // target: the engine's native mode while a transition runs.
  void presentWarm(std::optional<double> holdsUntil = std::nullopt) {
    presenter->setKeepWarm(true);
    presenter->updateHoldFrame(testing::solidFrame(kBounds, 2, 40), std::nullopt);
    presenter->setHoldPolicy(true, std::vector{kAroundPointer}, holdsUntil);
    presenter->setTarget(*NativeCursorArt::make(platform::NSCursor::arrowCursor()));
  }

  std::atomic<bool> buttonsDown{false};
  std::shared_ptr<NativeCursorPresenter> presenter;
};

TEST_F(HoldsTest, WatchdogIsArmedOnceAndOnlyTheDeadlineMoves) {
  const double t0 = now();
  ASSERT_TRUE(presenter->submit(testing::solidFrame(kBounds, 2, 40), std::nullopt));
  const auto armed = presenter->watchdogSchedule();
  ASSERT_TRUE(armed.has_value());
  EXPECT_DOUBLE_EQ(armed->deadline.uptime, t0 + 0.05);
  EXPECT_DOUBLE_EQ(armed->interval, 0.05);
  EXPECT_DOUBLE_EQ(armed->leeway, 0.005);
  EXPECT_DOUBLE_EQ(presenter->deadline(), t0 + 0.25);

  scope->advance(0.02);
  ASSERT_TRUE(presenter->submit(testing::solidFrame(kBounds, 2, 50), std::nullopt));
  EXPECT_EQ(presenter->watchdogSchedule(), armed);
  EXPECT_DOUBLE_EQ(presenter->deadline(), t0 + 0.27);
}

TEST_F(HoldsTest, DeadlineIsTheEarlierOfAQuarterSecondAndTheHoldLimit) {
  for (const auto& [limit, expected] : std::vector<std::pair<std::optional<double>, double>>{
           {std::nullopt, 0.25}, {0.1, 0.1}, {1.0, 0.25}}) {
    presenter = NativeCursorPresenter::make();
    presenter->setHoldPolicy(false, std::nullopt, limit ? std::optional(now() + *limit) : std::nullopt);
    ASSERT_TRUE(presenter->submit(testing::solidFrame(kBounds, 2, 40), std::nullopt));
    EXPECT_DOUBLE_EQ(presenter->deadline(), now() + expected);
  }
}

TEST_F(HoldsTest, PassedDeadlineGivesThePointerBack) {
  const int32_t application = seed();
  ASSERT_TRUE(presenter->submit(testing::solidFrame(kBounds, 2, 40), std::nullopt));
  const auto epoch = presenter->recoveryEpoch();
  scope->advance(0.2);
  EXPECT_NE(presenter->connection(), 0);
  scope->advance(0.1);
  EXPECT_EQ(presenter->recoveryEpoch(), epoch + 1);
  EXPECT_EQ(presenter->connection(), 0);
  EXPECT_EQ(CurrentCursor::shared().owner(), 0);
  EXPECT_GT(seed(), application);  // the application's cursor shows again
  EXPECT_FALSE(presenter->ownsSeed(application + 1));
  EXPECT_TRUE(presenter->watchdogSchedule()->deadline.isDistantFuture());
}

TEST_F(HoldsTest, IdleLeaseKeepsTheSeedsThenReleases) {
  struct Case {
    const char* name;
    bool pointerLeaves;
    const char* reason;
    double releasedWithin;
  };
  for (const auto& c : {Case{"expired", false, "expired", 0.3}, Case{"left", true, "region-exit", 0.05}}) {
    SCOPED_TRACE(c.name);
    CursorState::shared().setCursorLocation(platform::CGPointMake(756, 491));
    presenter = NativeCursorPresenter::make();
    presentWarm();
    ASSERT_TRUE(presenter->submit(testing::solidFrame(kBounds, 2, 40), std::nullopt));
    const int registered = registrations();

    presenter->restoreNative(true);
    EXPECT_NE(presenter->connection(), 0);
    EXPECT_DOUBLE_EQ(presenter->idleDeadline(), now() + 0.25);
    EXPECT_NEAR(*events("idle-lease").back().value, 250, 1e-6);
    // The target was registered again and is recognised as ours.
    EXPECT_EQ(registrations(), registered + 1);
    EXPECT_EQ(CurrentCursor::shared().cursor().size, platform::NSCursor::arrowCursor()->image()->size());
    EXPECT_TRUE(presenter->ownsSeed(seed()));

    if (c.pointerLeaves) CursorState::shared().setCursorLocation(platform::CGPointMake(10, 10));
    scope->advance(c.releasedWithin);
    EXPECT_EQ(presenter->connection(), 0);
    EXPECT_EQ(lastDetail("idle-release"), c.reason);
    EXPECT_FALSE(presenter->ownsSeed(seed() - 1));
    EXPECT_FALSE(presenter->holdsPermitted());
  }
}

TEST_F(HoldsTest, FailedReleaseIsRetriedAfter100ms) {
  auto& connections = platform::Connections::shared();
  ASSERT_TRUE(presenter->submit(testing::solidFrame(kBounds, 2, 40), std::nullopt));
  connections.failNext("CGSReleaseConnection", platform::kCGErrorFailure);
  presenter->restoreNative(false);
  EXPECT_NE(presenter->connection(), 0);
  const auto retry = presenter->watchdogSchedule();
  EXPECT_DOUBLE_EQ(retry->deadline.uptime, now() + 0.1);
  EXPECT_DOUBLE_EQ(retry->leeway, 0.005);
  EXPECT_DOUBLE_EQ(presenter->deadline(), now() + 0.1);
  scope->advance(0.1);
  EXPECT_EQ(presenter->connection(), 0);

  // The same at the end of an idle lease.
  presentWarm();
  ASSERT_TRUE(presenter->submit(testing::solidFrame(kBounds, 2, 60), std::nullopt));
  presenter->restoreNative(false);
  connections.failNext("CGSReleaseConnection", platform::kCGErrorFailure);
  scope->advance(0.3);
  EXPECT_NE(presenter->connection(), 0);
  EXPECT_EQ(events("release").back().value, platform::kCGErrorFailure);
  scope->advance(0.1);
  EXPECT_EQ(presenter->connection(), 0);
  EXPECT_EQ(events("release").back().value, 0);
}

TEST_F(HoldsTest, AFailedReleaseAtTheEndOfAnIdleLeaseSchedulesItsOwnRetry) {
  presentWarm();
  ASSERT_TRUE(presenter->submit(testing::solidFrame(kBounds, 2, 40), std::nullopt));
  const double leaseStart = now();
  presenter->restoreNative(false);  // an idle lease on the 50 ms watchdog
  ASSERT_GT(presenter->idleDeadline(), 0);
  platform::Connections::shared().failNext("CGSReleaseConnection", platform::kCGErrorFailure);
  for (int step = 0; step < 100 && events("release").empty(); ++step) scope->advance(0.005);
  ASSERT_EQ(events("release").size(), 1u);
  ASSERT_EQ(events("release").back().value, platform::kCGErrorFailure);
  // When the release failed, from the trace's own times.
  const double failedAt = leaseStart + (events("release").back().time - events("idle-lease").back().time);

  // Its own one-shot retry, not the lease's periodic tick.
  const auto retry = presenter->watchdogSchedule();
  ASSERT_TRUE(retry.has_value());
  ASSERT_EQ(retry->interval, platform::kIntervalNever);
  ASSERT_NEAR(retry->deadline.uptime - failedAt, 0.1, 1e-9);
  EXPECT_DOUBLE_EQ(retry->leeway, 0.005);
  scope->advance(retry->deadline.uptime - 0.001 - now());
  EXPECT_NE(presenter->connection(), 0);
  EXPECT_EQ(events("release").size(), 1u);
  scope->advance(0.001);
  EXPECT_EQ(presenter->connection(), 0);
  EXPECT_EQ(events("release").back().value, 0);
}

TEST_F(HoldsTest, ADockPermitEndsAQuarterSecondAfterItsGrantWhateverItsExpiry) {
  const double granted = now();
  presenter->grantDockPermit({kAroundPointer}, granted + 1, [] { return true; });
  ASSERT_TRUE(presenter->submit(testing::solidFrame(kBounds, 2, 40), std::nullopt));
  ASSERT_TRUE(presenter->dockOverrideActive());
  // Frames keep coming, so that only the permit can end the override.
  const auto framesUntil = [&](double until) {
    for (int grey = 41; now() + 0.04 < until; ++grey) {
      scope->advance(0.04);
      ASSERT_TRUE(presenter->submit(testing::solidFrame(kBounds, 2, static_cast<uint8_t>(grey)), std::nullopt));
    }
    scope->advance(until - now());
  };
  framesUntil(granted + 0.24);
  EXPECT_TRUE(presenter->dockOverrideActive());
  EXPECT_TRUE(events("dock-experiment-revoked").empty());
  scope->advance(0.06);  // the first watchdog tick after grant + 0.25
  EXPECT_EQ(lastDetail("dock-experiment-revoked"), "region-or-deadline");
  EXPECT_FALSE(presenter->dockOverrideActive());
  EXPECT_FALSE(CurrentCursor::shared().dockCursorOverride());
}

TEST_F(HoldsTest, DockOverrideIsRevokedWhileAButtonIsHeld) {
  presenter->grantDockPermit({kAroundPointer}, now() + 1, [] { return true; });
  ASSERT_TRUE(presenter->submit(testing::solidFrame(kBounds, 2, 40), std::nullopt));
  EXPECT_TRUE(presenter->dockOverrideActive());
  EXPECT_TRUE(CurrentCursor::shared().dockCursorOverride());
  const int registered = registrations();

  scope->advance(0.05);  // the permit holds: nothing changes
  EXPECT_TRUE(presenter->dockOverrideActive());
  buttonsDown = true;
  scope->advance(0.05);
  EXPECT_EQ(lastDetail("dock-experiment-revoked"), "region-or-deadline");
  EXPECT_FALSE(CurrentCursor::shared().dockCursorOverride());
  EXPECT_EQ(presenter->connection(), 0);
  EXPECT_EQ(registrations(), registered);  // handed back without the target
}

TEST_F(HoldsTest, ClearingTheAppSwitcherScopeHandsBackWithoutTheTarget) {
  presenter->setTarget(*NativeCursorArt::make(platform::NSCursor::arrowCursor()));
  presenter->setAppSwitcherScope(AppSwitcherCursorScope{{kAroundPointer}, [] { return true; }});
  presenter->grantDockPermit({kAroundPointer}, now() + 0.1, nullptr);
  ASSERT_TRUE(presenter->submit(testing::solidFrame(kBounds, 2, 40), std::nullopt));
  ASSERT_TRUE(presenter->dockOverrideActive());
  const int registered = registrations();

  presenter->setAppSwitcherScope(std::nullopt);
  EXPECT_FALSE(CurrentCursor::shared().dockCursorOverride());
  EXPECT_EQ(registrations(), registered);
  EXPECT_EQ(presenter->connection(), 0);
  EXPECT_EQ(CurrentCursor::shared().owner(), 0);
}

TEST_F(HoldsTest, CaptureHoldsANewNativeCursorBehindTheHoldFrame) {
  presentWarm(now() + 1);
  ASSERT_NE(presenter->connection(), 0);  // opened early for the hold frame
  const auto beam = platform::NSCursor::IBeamCursor();
  const int32_t beamSeed = showApplicationCursor(beam);
  const auto visible = [] { return int32_t{1}; };

  EXPECT_FALSE(presenter->captureNative(beam, beamSeed, [] { return int32_t{0}; }, now() + 0.008, nullptr));
  EXPECT_FALSE(presenter->captureNative(beam, beamSeed, visible, now() + 0.008, [] { return false; }));
  EXPECT_FALSE(presenter->captureNative(beam, beamSeed - 1, visible, now() + 0.008, nullptr));
  ASSERT_TRUE(presenter->captureNative(beam, beamSeed, visible, now() + 0.008, nullptr));
  EXPECT_TRUE(presenter->isAcceptedInputSeed(beamSeed));
  EXPECT_EQ(CurrentCursor::shared().owner(), presenter->connection());
  EXPECT_EQ(CurrentCursor::shared().cursor().size, platform::CGSizeMake(16, 16));
  EXPECT_GT(presenter->deadline(), 0);
  // Its seed is no longer on screen: nothing more to capture.
  EXPECT_FALSE(presenter->captureNative(beam, beamSeed, visible, now() + 0.008, nullptr));
}

TEST_F(HoldsTest, CaptureOutsideTheRegionsOrTooLateIsRefused) {
  presentWarm(now() + 1);
  const auto beam = platform::NSCursor::IBeamCursor();
  const int32_t beamSeed = showApplicationCursor(beam);
  CursorState::shared().setCursorLocation(platform::CGPointMake(10, 10));
  EXPECT_FALSE(presenter->captureNative(beam, beamSeed, nullptr, std::nullopt, nullptr));
  CursorState::shared().setCursorLocation(platform::CGPointMake(756, 491));
  CurrentCursor::shared().failNext("CGSGetCurrentCursorLocation", platform::kCGErrorFailure);
  EXPECT_FALSE(presenter->captureNative(beam, beamSeed, nullptr, std::nullopt, nullptr));
  EXPECT_FALSE(presenter->captureNative(beam, beamSeed, nullptr, now() - 0.001, nullptr));
  EXPECT_EQ(registrations(), 0);
}

TEST_F(HoldsTest, CapturingTheTargetAfterTheDeadlineIsRefusedAndHandsBack) {
  presentWarm(now() + 1);
  const auto beam = platform::NSCursor::IBeamCursor();
  ASSERT_TRUE(presenter->captureNative(beam, showApplicationCursor(beam), nullptr, now() + 0.008, nullptr));
  ASSERT_TRUE(presenter->tightenDeadline(now() + 0.01));
  scope->advance(0.02);  // past the deadline, before the watchdog's first tick
  const int registered = registrations();

  const int32_t again = showApplicationCursor(beam);  // the target itself, newly set
  EXPECT_FALSE(presenter->captureNative(beam, again, nullptr, now() + 0.008, nullptr));
  EXPECT_EQ(presenter->deadline(), 0);
  EXPECT_EQ(registrations(), registered + 1);  // the target registered again
}

TEST_F(HoldsTest, ClassifiesSeedsForTheSampler) {
  using SeedClass = NativeCursorPresenter::SeedClass;
  ASSERT_TRUE(presenter->submit(testing::solidFrame(kBounds, 2, 40), std::nullopt));
  const int32_t first = seed();
  EXPECT_EQ(presenter->classifySeed(first), SeedClass::own);
  EXPECT_EQ(presenter->classifySeed(first + 100), SeedClass::foreign);

  std::promise<void> held, done;
  std::thread holder([&] {
    std::lock_guard<platform::NSRecursiveLock> guard(presenter->lock());
    held.set_value();
    done.get_future().wait();
  });
  held.get_future().wait();
  EXPECT_EQ(presenter->classifySeed(first), SeedClass::busy);
  done.set_value();
  holder.join();

  scope->advance(0.3);  // handed back: the seeds are forgotten
  EXPECT_EQ(presenter->connection(), 0);
  EXPECT_EQ(presenter->classifySeed(first), SeedClass::foreign);
}

TEST_F(HoldsTest, StaleOwnSeedHandsBack) {
  using SeedClass = NativeCursorPresenter::SeedClass;
  presentWarm();
  ASSERT_TRUE(presenter->submit(testing::solidFrame(kBounds, 2, 40), std::nullopt));
  const int32_t older = seed();
  ASSERT_TRUE(presenter->submit(testing::solidFrame(kBounds, 2, 50), std::nullopt));
  presenter->restoreNative(false);  // lease: seeds still known, no deadline
  CursorState::shared().setCursorSeed(older);
  const auto epoch = presenter->recoveryEpoch();
  EXPECT_EQ(presenter->classifySeed(older), SeedClass::handedBack);
  EXPECT_EQ(presenter->recoveryEpoch(), epoch + 1);
}

}  // namespace
}  // namespace vurle
