#include "cursor/engine/transition_timing.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace vurle {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(TransitionDurationTest, SettingSpeedAndReduceMotion) {
  struct Case {
    double milliseconds;
    bool adaptive;
    double speed;
    bool reduceMotion;
    double expected;
  };
  const Case cases[] = {
      {150, true, 0, false, 0.15},       {150, true, 1100, false, 0.1275},
      {150, true, 12000, false, 0.105375}, {220, true, 0, false, 0.22},
      {60, true, 12000, false, 0.045},   {60, true, 0, false, 0.06},
      {150, false, 12000, false, 0.15},  {150, true, -40, false, 0.15},
      {150, true, kInf, false, 0.105},   {150, true, kNaN, false, 0.045},
      {kNaN, false, 0, false, 0.045},    {kInf, false, 0, false, 0.4},
      {-kInf, false, 0, false, 0.045},   {1000, false, 0, false, 0.4},
      {150, true, 0, true, 0},           {220, false, 5000, true, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.milliseconds << " ms, adaptive " << c.adaptive << ", " << c.speed
                                      << " pt/s, reduce motion " << c.reduceMotion);
    EXPECT_NEAR(transitionDuration(c.milliseconds, c.adaptive, c.speed, c.reduceMotion), c.expected, 1e-6);
  }
  EXPECT_DOUBLE_EQ(clampedDuration(30), 0.045);
  EXPECT_DOUBLE_EQ(clampedDuration(kNaN), 0.045);
  EXPECT_DOUBLE_EQ(clampedDuration(500), 0.4);
}

TEST(CursorMotionSpeedTest, RecordingBlendsRestartsAndClampsSamples) {
  CursorMotionSpeed speed;
  EXPECT_EQ(speed.current(5), 0);
  speed.record(1000, 0);
  EXPECT_EQ(speed.smoothed, 1000);
  speed.record(2000, 0.05);  // 0.05 s apart: blended by 1 - exp(-2)
  EXPECT_NEAR(speed.smoothed, 1000 + (1 - std::exp(-2.0)) * 1000, 1e-9);
  speed.record(9000, 0.05);  // same time stamp: ignored
  EXPECT_NEAR(speed.smoothed, 1000 + (1 - std::exp(-2.0)) * 1000, 1e-9);
  speed.record(9000, 0.04);  // older: ignored
  EXPECT_EQ(*speed.sampledAt, 0.05);

  // Both sides of the restart gap.
  CursorMotionSpeed blended;
  blended.record(1000, 0);
  blended.record(0, 0.1171875);
  EXPECT_GT(blended.smoothed, 0);
  CursorMotionSpeed restarted;
  restarted.record(1000, 0);
  restarted.record(300, 0.12);
  EXPECT_EQ(restarted.smoothed, 300);

  struct Case {
    double sample;
    double stored;
  };
  for (const Case& c : {Case{-5, 0}, Case{kNaN, 0}, Case{50000, 12000}, Case{kInf, 12000}, Case{12000, 12000}}) {
    CursorMotionSpeed fresh;
    fresh.record(c.sample, 1);
    EXPECT_EQ(fresh.smoothed, c.stored) << c.sample;
  }
}

TEST(CursorMotionSpeedTest, DecayAfterOneFrameAndZeroFromTheRestartGap) {
  CursorMotionSpeed speed;
  speed.record(600, 0);
  struct Case {
    double age;
    double expected;
  };
  const Case cases[] = {
      {-0.01, 600},  // a clock read before the sample does not decay
      {0, 600},
      {1.0 / 60.0, 600},
      {1.0 / 60.0 + 0.035, 600 * std::exp(-1.0)},
      {0.1199, 600 * std::exp(-(0.1199 - 1.0 / 60.0) / 0.035)},
      {0.12, 0},
      {3, 0},
  };
  for (const auto& c : cases) EXPECT_NEAR(speed.current(c.age), c.expected, 1e-9) << c.age;
}

class BoundaryToleranceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Shape 1 accepted at the origin at time 0.
    ASSERT_FALSE(tolerance.resolve(1, true, false, false, {0, 0}, 0, 0));
  }
  CursorBoundaryTolerance tolerance;
};

TEST_F(BoundaryToleranceTest, HoldsSlowCrossingsBriefly) {
  struct Case {
    const char* name;
    bool nearBoundary;
    double speed;
    CGPoint point;
    std::optional<double> heldUntil;
  };
  const Case cases[] = {
      {"slow near a boundary", true, 500, {1, 0}, 1.008},
      {"just below the boundary speed", true, 999.9, {1, 0}, 1.008},
      {"at the boundary speed", true, 1000, {1, 0}, std::nullopt},
      {"away from boundaries", false, 0, {1, 0}, std::nullopt},
  };
  for (const auto& c : cases) {
    CursorBoundaryTolerance copy = tolerance;
    auto held = copy.resolve(2, c.nearBoundary, false, false, c.point, 1.0, c.speed);
    if (c.heldUntil) {
      ASSERT_TRUE(held.has_value()) << c.name;
      EXPECT_NEAR(*held, *c.heldUntil, 1e-12) << c.name;
      EXPECT_EQ(copy.identity, 1) << c.name;
    } else {
      EXPECT_FALSE(held.has_value()) << c.name;
      EXPECT_EQ(copy.identity, 2) << c.name;
      EXPECT_EQ(copy.previous, 1) << c.name;
    }
  }
}

TEST_F(BoundaryToleranceTest, HeldChangeIsAcceptedAtItsDeadlineOrWhenThePointerMovesAway) {
  auto held = tolerance.resolve(2, true, false, false, {10, 10}, 1.0, 500);
  ASSERT_TRUE(held);
  // Still before the deadline and within 6 pt of the anchor: still held,
  // with the same deadline.
  EXPECT_EQ(tolerance.resolve(2, true, false, false, {15.9, 10}, 1.007, 500), held);
  // 6 pt from the anchor releases at once.
  EXPECT_FALSE(tolerance.resolve(2, true, false, false, {16, 10}, 1.007, 500));
  EXPECT_EQ(tolerance.identity, 2);
  EXPECT_FALSE(tolerance.pending);

  ASSERT_TRUE(tolerance.resolve(3, true, false, false, {20, 10}, 2.0, 500));
  EXPECT_FALSE(tolerance.resolve(3, true, false, false, {20, 10}, tolerance.pending->deadline, 500));
  EXPECT_EQ(tolerance.identity, 3);
  // Offering the accepted shape again clears a hold.
  ASSERT_TRUE(tolerance.resolve(4, true, false, false, {20, 10}, 3.0, 0));
  EXPECT_FALSE(tolerance.resolve(3, true, false, false, {20, 10}, 3.001, 0));
  EXPECT_FALSE(tolerance.pending);
  EXPECT_FALSE(tolerance.pendingSince);
}

TEST_F(BoundaryToleranceTest, SuccessiveHoldsNeverPassTheCap) {
  for (bool morphing : {false, true}) {
    CursorBoundaryTolerance t = tolerance;
    const double cap = morphing ? 0.048 : 0.032;
    double at = 1.0;
    int64_t id = 2;
    std::optional<double> held;
    // Bounded, so that a hold that never ends fails instead of looping: the
    // cap ends it within eight offers.
    int offers = 0;
    while (offers++ < 20 && (held = t.resolve(id, true, false, morphing, {0, 0}, at, 100))) {
      EXPECT_LE(*held, 1.0 + cap + 1e-12);
      EXPECT_EQ(*t.pendingSince, 1.0);
      at += 0.007;
      id = id == 2 ? 3 : 2;
    }
    ASSERT_FALSE(held) << morphing;
    EXPECT_GE(at, 1.0 + cap - 1e-9) << morphing;
    EXPECT_LT(at, 1.0 + cap + 0.007) << morphing;
    EXPECT_EQ(t.identity, id);
  }
}

TEST_F(BoundaryToleranceTest, QuickReturnToThePreviousShapeIsHeldLonger) {
  ASSERT_FALSE(tolerance.resolve(2, true, false, false, {0, 0}, 1.0, 2000));  // fast: accepted
  struct Case {
    bool held;
    bool morphing;
    double at;
    CGPoint point;
    double window;
  };
  const Case cases[] = {
      {true, false, 1.05, {4, 0}, 0.024},        {true, true, 1.05, {0, 4}, 1.0 / 24.0},
      {false, false, 1.05, {0, 0}, 0.008},       {true, false, 1.12, {0, 0}, 0.008},
      {true, false, 1.1199, {0, 0}, 0.024},      {true, false, 1.05, {4.1, 0}, 0.008},
  };
  for (const auto& c : cases) {
    CursorBoundaryTolerance t = tolerance;
    auto held = t.resolve(1, true, c.held, c.morphing, c.point, c.at, 100);
    ASSERT_TRUE(held);
    EXPECT_NEAR(*held - c.at, c.window, 1e-9) << c.at << " held " << c.held << " morphing " << c.morphing;
  }
  // A hold that began earlier lowers the deadline to its cap.
  CursorBoundaryTolerance morphing = tolerance;
  morphing.pendingSince = 1.03;
  auto held = morphing.resolve(1, true, true, true, {0, 0}, 1.06, 100);
  ASSERT_TRUE(held);
  EXPECT_NEAR(*held, 1.03 + 0.048, 1e-9);
}

TEST(StationaryChangesTest, PruneKeepsRecentNearbyChangesInOrder) {
  std::vector<StationaryChange> changes = {
      {0.0, {0, 0}},     // 0.25 s old: kept
      {-0.01, {0, 0}},   // older: dropped
      {0.1, {2, 0}},     // 2 pt away: kept
      {0.1, {2.01, 0}},  // farther: dropped
      {0.2, {0, 1}},
  };
  pruneStationaryChanges(changes, 0.25, {0, 0});
  ASSERT_EQ(changes.size(), 3u);
  EXPECT_EQ(changes[0].time, 0.0);
  EXPECT_EQ(changes[1].point.x, 2);
  EXPECT_EQ(changes[2].time, 0.2);
}

}  // namespace
}  // namespace vurle
