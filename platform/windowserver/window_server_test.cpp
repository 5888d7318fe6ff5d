#include "platform/windowserver/window_server.hpp"

#include <gtest/gtest.h>

#include "platform/dyld/symbol_registry.hpp"
#include "platform/foundation/process_wide.hpp"

namespace platform {
namespace {

class WindowServerTest : public ::testing::Test {
 protected:
  void SetUp() override { resetProcessState(); }
  void TearDown() override { resetProcessState(); }

  static CGError readScale(CGSConnectionID connection, float* value) {
    auto function = dlsym<CGSGetCursorScaleFn>(RTLD_DEFAULT, "CGSGetCursorScale");
    EXPECT_TRUE(function.has_value());
    return (*function)(connection, value);
  }
};

TEST_F(WindowServerTest, CursorScaleAnswersOnTheMainConnectionOnly) {
  auto& server = WindowServer::shared();
  server.setCursorScale(1.75f);
  auto main = dlsym<CGSMainConnectionIDFn>(RTLD_DEFAULT, "CGSMainConnectionID");
  ASSERT_TRUE(main.has_value());

  float value = 0;
  EXPECT_EQ(readScale((*main)(), &value), kCGErrorSuccess);
  EXPECT_EQ(value, 1.75f);

  value = 9;
  EXPECT_EQ(readScale((*main)() + 1, &value), kCGErrorInvalidConnection);
  EXPECT_EQ(value, 9);
  EXPECT_EQ(readScale((*main)(), nullptr), kCGErrorIllegalArgument);
}

TEST_F(WindowServerTest, InjectedErrorLeavesTheValueAlone) {
  auto& server = WindowServer::shared();
  server.setCursorScaleError(kCGErrorFailure);
  float value = 3;
  EXPECT_EQ(readScale(server.mainConnectionID(), &value), kCGErrorFailure);
  EXPECT_EQ(value, 3);
  EXPECT_EQ(server.cursorScaleReads(), 1);
}

TEST_F(WindowServerTest, ResetRestoresRemovedFunctionsAndState) {
  auto& server = WindowServer::shared();
  server.setCursorScale(4);
  server.setMainConnectionID(77);
  SymbolRegistry::shared().remove("CGSGetCursorScale");
  EXPECT_FALSE(dlsym<CGSGetCursorScaleFn>(RTLD_DEFAULT, "CGSGetCursorScale").has_value());

  resetProcessState();
  EXPECT_TRUE(dlsym<CGSGetCursorScaleFn>(RTLD_DEFAULT, "CGSGetCursorScale").has_value());
  EXPECT_EQ(server.cursorScale(), 1.0f);
  EXPECT_NE(server.mainConnectionID(), 77);
}

}  // namespace
}  // namespace platform
