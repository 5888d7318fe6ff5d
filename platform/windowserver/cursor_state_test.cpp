#include "platform/windowserver/cursor_state.hpp"

#include <gtest/gtest.h>

#include <limits>

#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/dyld/symbol_registry.hpp"
#include "platform/foundation/process_wide.hpp"

namespace platform {
namespace {

class CursorStateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WindowServer::shared();
    resetProcessState();
  }
  void TearDown() override { resetProcessState(); }

  static std::optional<int32_t> seed() {
    auto read = dlsym<CGSCurrentCursorSeedFn>(RTLD_DEFAULT, "CGSCurrentCursorSeed");
    return read ? std::optional<int32_t>((*read)()) : std::nullopt;
  }
  static std::optional<int32_t> visible() {
    auto read = dlsym<CGCursorIsVisibleFn>(RTLD_DEFAULT, "CGCursorIsVisible");
    return read ? std::optional<int32_t>((*read)()) : std::nullopt;
  }
};

TEST_F(CursorStateTest, SeedMovesOnWithEveryCursorChangeAndWraps) {
  auto& state = CursorState::shared();
  const auto first = seed();
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(state.bumpCursorSeed(), *first + 1);
  EXPECT_EQ(seed(), *first + 1);
  state.setCursorSeed(std::numeric_limits<int32_t>::max());
  EXPECT_EQ(state.bumpCursorSeed(), std::numeric_limits<int32_t>::min());
}

TEST_F(CursorStateTest, HidesNestPerConnection) {
  auto& state = CursorState::shared();
  EXPECT_EQ(visible(), 1);
  state.hideCursor(7);
  state.hideCursor(7);
  state.hideCursor(9);
  state.showCursor(7);
  EXPECT_EQ(state.hideCount(7), 1);
  EXPECT_EQ(state.outstandingHides(), 2);
  EXPECT_EQ(visible(), 0);
  state.showCursor(7);
  EXPECT_EQ(visible(), 0);  // connection 9 still hides it
  state.showCursor(9);
  state.showCursor(9);  // an extra show is ignored, not banked
  EXPECT_EQ(state.hideCount(9), 0);
  EXPECT_EQ(visible(), 1);
  state.hideCursor(9);
  EXPECT_EQ(visible(), 0);
}

TEST_F(CursorStateTest, ALaggingHideStillReadsVisibleUntilTheLagHasPassed) {
  SimulatedSchedulerScope scope;
  auto& state = CursorState::shared();
  state.setHideLag(0.05);
  state.hideCursor(7);
  EXPECT_EQ(visible(), 1);
  scope->advance(0.04);
  EXPECT_EQ(visible(), 1);
  scope->advance(0.02);
  EXPECT_EQ(visible(), 0);
  state.hideCursor(7);  // a nested hide does not restart the lag
  EXPECT_EQ(visible(), 0);
}

TEST_F(CursorStateTest, ReadersAreRemovableOneByOneAndComeBackOnReset) {
  SymbolRegistry::shared().remove("CGCursorIsVisible");
  EXPECT_FALSE(visible().has_value());
  EXPECT_TRUE(seed().has_value());
  SymbolRegistry::shared().remove("CGSCurrentCursorSeed");
  EXPECT_FALSE(seed().has_value());

  CursorState::shared().hideCursor(3);
  CursorState::shared().setCursorLocation(CGPointMake(5, 6));
  resetProcessState();
  EXPECT_EQ(visible(), 1);
  EXPECT_EQ(seed(), 1);
  EXPECT_EQ(CursorState::shared().cursorLocation(), CGPointMake(756, 491));
}

}  // namespace
}  // namespace platform
