#include "platform/windowserver/window_queries.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/foundation/foreign_pid.hpp"
#include "platform/windowserver/window_server_test_support.hpp"

namespace platform {
namespace {

class WindowQueriesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Front to back: a menu of process 100, a hidden window over it, a
    // document of this process, the desktop under everything.
    WindowTable::shared().setWindows({
        {.number = 11, .ownerPID = foreignPid(100), .layer = 0, .bounds = CGRectMake(0, 0, 500, 500),
         .onScreen = false},
        {.number = 10, .ownerPID = foreignPid(100), .layer = 101, .bounds = CGRectMake(10, 20, 100, 50)},
        {.number = 12, .ownerPID = ::getpid(), .layer = 0, .bounds = CGRectMake(0, 0, 300, 300)},
        {.number = 13, .ownerPID = foreignPid(300), .layer = CGWindowLevelForKey(kCGDesktopWindowLevelKey),
         .bounds = CGRectMake(0, 0, 1000, 1000)},
    });
  }

  struct Found {
    CGError error;
    CGWindowID window;
    CGSConnectionID owner;
    CGPoint inWindow;
  };
  Found find(CGPoint point, CGSConnectionID connection = WindowServer::shared().mainConnectionID()) {
    Found found{0, 99, 99, {}};
    found.error = findFn(connection, 0, 1, false, &point, &found.inWindow, &found.window, &found.owner);
    return found;
  }

  FreshWindowServer server;
  std::function<SLSFindWindowAndOwnerFn> findFn = lookup<SLSFindWindowAndOwnerFn>("SLSFindWindowAndOwner");
  std::function<SLSConnectionGetPIDFn> pidFn = lookup<SLSConnectionGetPIDFn>("SLSConnectionGetPID");
  std::function<SLSGetWindowLevelFn> levelFn = lookup<SLSGetWindowLevelFn>("SLSGetWindowLevel");
  std::function<SLSGetWindowBoundsFn> boundsFn = lookup<SLSGetWindowBoundsFn>("SLSGetWindowBounds");
  std::function<SLSGetDockRectWithReasonFn> dockFn = lookup<SLSGetDockRectWithReasonFn>("SLSGetDockRectWithReason");
};

TEST_F(WindowQueriesTest, FindsTheFrontmostShownWindowAndItsOwner) {
  const auto main = WindowServer::shared().mainConnectionID();
  auto menu = find(CGPointMake(20, 30));
  EXPECT_EQ(menu.error, kCGErrorSuccess);
  EXPECT_EQ(menu.window, 10u);
  EXPECT_EQ(menu.inWindow, CGPointMake(10, 10));
  int32_t pid = 0;
  EXPECT_EQ(pidFn(menu.owner, &pid), kCGErrorSuccess);
  EXPECT_EQ(pid, foreignPid(100));
  EXPECT_EQ(menu.owner, WindowQueries::shared().connectionForProcess(foreignPid(100)));

  auto own = find(CGPointMake(200, 200));
  EXPECT_EQ(own.window, 12u);
  EXPECT_EQ(own.owner, main);
  EXPECT_EQ(pidFn(main, &pid), kCGErrorSuccess);
  EXPECT_EQ(pid, ::getpid());

  // The desktop is not a window a hit lands on.
  auto bare = find(CGPointMake(900, 900));
  EXPECT_EQ(bare.error, kCGErrorSuccess);
  EXPECT_EQ(bare.window, kCGNullWindowID);
  EXPECT_EQ(bare.owner, 0);

  // Level and bounds are read by window number, through the caller's connection.
  int32_t level = 0;
  CGRect bounds{};
  EXPECT_EQ(levelFn(main, 10, &level), kCGErrorSuccess);
  EXPECT_EQ(level, 101);
  EXPECT_EQ(boundsFn(main, 10, &bounds), kCGErrorSuccess);
  EXPECT_EQ(bounds, CGRectMake(10, 20, 100, 50));
  WindowQueries::shared().setReportedBounds(10, CGRectMake(0, 0, 1, 1));
  EXPECT_EQ(boundsFn(main, 10, &bounds), kCGErrorSuccess);
  EXPECT_EQ(bounds, CGRectMake(0, 0, 1, 1));
  EXPECT_EQ(levelFn(main, 77, &level), kCGErrorIllegalArgument);

  // NSWindow's query sees the same table, also below a given window.
  EXPECT_EQ(WindowTable::shared().windowAt(CGPointMake(20, 30))->number, 10u);
  EXPECT_EQ(WindowTable::shared().windowAt(CGPointMake(20, 30), 10)->number, 12u);
}

TEST_F(WindowQueriesTest, EveryQueryRefusesBadConnectionsAndScriptedFailures) {
  const CGSConnectionID stranger = 0x7777;
  int32_t pid = 5, level = 5, reason = 5;
  CGRect rect = CGRectMake(1, 1, 1, 1);
  EXPECT_EQ(find(CGPointMake(20, 30), stranger).error, kCGErrorInvalidConnection);
  EXPECT_EQ(pidFn(stranger, &pid), kCGErrorInvalidConnection);
  EXPECT_EQ(levelFn(stranger, 10, &level), kCGErrorInvalidConnection);
  EXPECT_EQ(boundsFn(stranger, 10, &rect), kCGErrorInvalidConnection);
  EXPECT_EQ(dockFn(stranger, &rect, &reason), kCGErrorInvalidConnection);

  const auto main = WindowServer::shared().mainConnectionID();
  for (const char* name : {"SLSFindWindowAndOwner", "SLSConnectionGetPID", "SLSGetWindowLevel",
                           "SLSGetWindowBounds", "SLSGetDockRectWithReason"}) {
    WindowQueries::shared().failNext(name, kCGErrorFailure);
  }
  WindowQueries::shared().setDockRect(CGRectMake(0, 900, 800, 80), 2);
  EXPECT_EQ(find(CGPointMake(20, 30)).error, kCGErrorFailure);
  EXPECT_EQ(pidFn(main, &pid), kCGErrorFailure);
  EXPECT_EQ(levelFn(main, 10, &level), kCGErrorFailure);
  EXPECT_EQ(boundsFn(main, 10, &rect), kCGErrorFailure);
  EXPECT_EQ(dockFn(main, &rect, &reason), kCGErrorFailure);
  // A failed call writes nothing; the next one answers.
  EXPECT_EQ(pid, 5);
  EXPECT_EQ(rect, CGRectMake(1, 1, 1, 1));
  EXPECT_EQ(dockFn(main, &rect, &reason), kCGErrorSuccess);
  EXPECT_EQ(rect, CGRectMake(0, 900, 800, 80));
  EXPECT_EQ(reason, 2);
  EXPECT_EQ(WindowQueries::shared().calls("SLSGetDockRectWithReason"), 3);

  WindowQueries::shared().setDockRect(std::nullopt);
  EXPECT_NE(dockFn(main, &rect, &reason), kCGErrorSuccess);
  const auto gone = WindowQueries::shared().connectionForProcess(foreignPid(100));
  WindowQueries::shared().setProcessOfConnection(gone, 0);
  EXPECT_EQ(pidFn(gone, &pid), kCGErrorSuccess);
  EXPECT_EQ(pid, 0);
}

}  // namespace
}  // namespace platform
