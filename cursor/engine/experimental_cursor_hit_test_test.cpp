#include "cursor/engine/experimental_cursor_hit_test.hpp"

#include <gtest/gtest.h>

#include "platform/dyld/symbol_registry.hpp"
#include "platform/foundation/foreign_pid.hpp"
#include "platform/windowserver/window_server_test_support.hpp"

namespace vurle {
namespace {

using namespace platform;

const char* const kFunctions[] = {"CGSMainConnectionID", "SLSFindWindowAndOwner", "SLSConnectionGetPID",
                                  "SLSGetWindowLevel", "SLSGetWindowBounds"};

class HitTestTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WindowTable::shared().setWindows({
        {.number = 21, .ownerPID = foreignPid(400), .layer = 101, .bounds = CGRectMake(100, 30, 200, 300)},
        {.number = 22, .ownerPID = foreignPid(500), .layer = 0, .bounds = CGRectMake(0, 0, 800, 600)},
    });
  }
  FreshWindowServer server;
};

TEST_F(HitTestTest, AnyMissingFunctionMeansNoHitTest) {
  ASSERT_TRUE(ExperimentalCursorHitTest::make().has_value());
  for (const char* name : kFunctions) {
    resetProcessState();
    SymbolRegistry::shared().remove(name);
    EXPECT_FALSE(ExperimentalCursorHitTest::make().has_value()) << name;
  }
}

TEST_F(HitTestTest, AnswersTheWindowUnderThePoint) {
  auto test = ExperimentalCursorHitTest::make();
  ASSERT_TRUE(test);
  using Hit = ExperimentalCursorSurface::Hit;
  EXPECT_EQ(test->hit(CGPointMake(150, 40)), (Hit{21, foreignPid(400), 101, CGRectMake(100, 30, 200, 300)}));
  EXPECT_EQ(test->hit(CGPointMake(50, 40)), (Hit{22, foreignPid(500), 0, CGRectMake(0, 0, 800, 600)}));
  EXPECT_EQ(test->hit(CGPointMake(900, 40)), std::nullopt);  // the bare desktop: window 0
}

TEST_F(HitTestTest, EveryFailedStepIsNoAnswer) {
  const CGPoint menu = CGPointMake(150, 40);
  struct Case {
    const char* name;
    std::function<void()> arrange;
  } cases[] = {
      {"no main connection", [] { WindowServer::shared().setMainConnectionID(0); }},
      {"find fails", [] { WindowQueries::shared().failNext("SLSFindWindowAndOwner", kCGErrorFailure); }},
      {"owner fails", [] { WindowQueries::shared().failNext("SLSConnectionGetPID", kCGErrorFailure); }},
      {"level fails", [] { WindowQueries::shared().failNext("SLSGetWindowLevel", kCGErrorFailure); }},
      {"bounds fail", [] { WindowQueries::shared().failNext("SLSGetWindowBounds", kCGErrorFailure); }},
      {"owner's process reads 0",
       [] {
         const auto owner = WindowQueries::shared().connectionForProcess(foreignPid(400));
         WindowQueries::shared().setProcessOfConnection(owner, 0);
       }},
      {"window without owner", [] {
         WindowTable::shared().updateWindow({.number = 21, .ownerPID = 0, .layer = 101,
                                             .bounds = CGRectMake(100, 30, 200, 300)});
       }},
      {"bounds of a neighbour",
       [] { WindowQueries::shared().setReportedBounds(21, CGRectMake(400, 30, 200, 300)); }},
  };
  for (const auto& c : cases) {
    resetProcessState();
    SetUp();
    auto test = ExperimentalCursorHitTest::make();
    ASSERT_TRUE(test);
    ASSERT_TRUE(test->hit(menu)) << c.name;
    c.arrange();
    EXPECT_EQ(test->hit(menu), std::nullopt) << c.name;
  }
}

}  // namespace
}  // namespace vurle
