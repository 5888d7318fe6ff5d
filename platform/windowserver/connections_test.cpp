#include "platform/windowserver/connections.hpp"

#include <gtest/gtest.h>

#include <limits>

#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/dyld/symbol_registry.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/windowserver/cursor_state.hpp"
#include "platform/windowserver/window_server_test_support.hpp"

namespace platform {
namespace {

class ConnectionsTest : public ::testing::Test {
 protected:
  FreshWindowServer server;
  SimulatedSchedulerScope scope;
  std::function<CGSNewConnectionFn> newConnection = lookup<CGSNewConnectionFn>("CGSNewConnection");
  std::function<CGSReleaseConnectionFn> release = lookup<CGSReleaseConnectionFn>("CGSReleaseConnection");
  std::function<CGSHideCursorFn> hide = lookup<CGSHideCursorFn>("CGSHideCursor");
  std::function<CGSShowCursorFn> show = lookup<CGSShowCursorFn>("CGSShowCursor");
  std::function<CGCursorIsVisibleFn> visible = lookup<CGCursorIsVisibleFn>("CGCursorIsVisible");
  CGSConnectionID main = WindowServer::shared().mainConnectionID();
};

TEST_F(ConnectionsTest, HidesNestPerConnectionAndReleaseDropsThem) {
  CGSConnectionID own = 0;
  ASSERT_EQ(newConnection(nullptr, &own), kCGErrorSuccess);
  EXPECT_NE(own, main);
  EXPECT_EQ(hide(own), kCGErrorSuccess);
  EXPECT_EQ(hide(own), kCGErrorSuccess);
  EXPECT_EQ(hide(main), kCGErrorSuccess);
  EXPECT_EQ(visible(), 0);
  EXPECT_EQ(show(main), kCGErrorSuccess);
  EXPECT_EQ(show(own), kCGErrorSuccess);
  EXPECT_EQ(visible(), 0);
  EXPECT_EQ(CursorState::shared().outstandingHides(), 1);

  // A client that goes away cannot leave the cursor hidden.
  EXPECT_EQ(release(own), kCGErrorSuccess);
  EXPECT_EQ(visible(), 1);
  EXPECT_EQ(release(own), kCGErrorInvalidConnection);
  EXPECT_EQ(hide(own), kCGErrorInvalidConnection);
  EXPECT_EQ(CursorState::shared().outstandingHides(), 0);
}

TEST_F(ConnectionsTest, InjectedFailuresChangeNothing) {
  auto& connections = Connections::shared();
  connections.failNext("CGSHideCursor", kCGErrorFailure);
  EXPECT_EQ(hide(main), kCGErrorFailure);
  EXPECT_EQ(visible(), 1);
  EXPECT_EQ(hide(main), kCGErrorSuccess);

  connections.failNext("CGSShowCursor", kCGErrorFailure, -1);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(show(main), kCGErrorFailure);
  EXPECT_EQ(visible(), 0);
  connections.clearFailures();
  EXPECT_EQ(show(main), kCGErrorSuccess);
  EXPECT_EQ(visible(), 1);
  EXPECT_EQ(connections.calls("CGSShowCursor"), 4);

  connections.failNext("CGSNewConnection", kCGErrorFailure);
  CGSConnectionID own = 0;
  EXPECT_EQ(newConnection(nullptr, &own), kCGErrorFailure);
  EXPECT_EQ(own, 0);
  EXPECT_TRUE(connections.openConnections().empty());
}

TEST_F(ConnectionsTest, ShowLagDelaysVisibilityOnly) {
  CursorState::shared().setShowLag(0.1);
  hide(main);
  show(main);
  EXPECT_EQ(CursorState::shared().outstandingHides(), 0);
  EXPECT_EQ(visible(), 0);
  scope->advance(0.099);
  EXPECT_EQ(visible(), 0);
  scope->advance(0.001);
  EXPECT_EQ(visible(), 1);

  CursorState::shared().setShowLag(std::numeric_limits<double>::infinity());
  hide(main);
  show(main);
  scope->advance(3600);
  EXPECT_EQ(visible(), 0);
}

TEST_F(ConnectionsTest, PropertiesAreKeptPerTargetAndMayHoldAnything) {
  auto set = lookup<CGSSetConnectionPropertyFn>("CGSSetConnectionProperty");
  auto copy = lookup<CGSCopyConnectionPropertyFn>("CGSCopyConnectionProperty");
  std::optional<CFValue> read;
  EXPECT_EQ(copy(main, main, "SetsCursorInBackground", &read), kCGErrorSuccess);
  EXPECT_FALSE(read.has_value());

  EXPECT_EQ(set(main, main, "SetsCursorInBackground", CFValue(true)), kCGErrorSuccess);
  EXPECT_EQ(copy(main, main, "SetsCursorInBackground", &read), kCGErrorSuccess);
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->asBool(), true);

  Connections::shared().setProperty(main, "SetsCursorInBackground", CFValue("yes"));
  EXPECT_EQ(copy(main, main, "SetsCursorInBackground", &read), kCGErrorSuccess);
  ASSERT_TRUE(read.has_value());
  EXPECT_FALSE(read->asBool().has_value());

  EXPECT_EQ(set(main, 0x7777, "SetsCursorInBackground", CFValue(true)), kCGErrorInvalidConnection);
}

TEST_F(ConnectionsTest, TheMainConnectionMayChange) {
  WindowServer::shared().setMainConnectionID(0x3003);
  EXPECT_EQ(hide(main), kCGErrorInvalidConnection);
  EXPECT_EQ(hide(0x3003), kCGErrorSuccess);
  EXPECT_EQ(show(0x3003), kCGErrorSuccess);
}

}  // namespace
}  // namespace platform
