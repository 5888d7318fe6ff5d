#include "platform/appkit/window_controller.hpp"

#include <gtest/gtest.h>

#include "platform/appkit/application.hpp"
#include "platform/appkit/window.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/windowserver/window_server.hpp"

namespace platform {
namespace {

class NSWindowControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WindowServer::shared();
    resetProcessState();
  }
  void TearDown() override { resetProcessState(); }
};

TEST_F(NSWindowControllerTest, TheWindowKnowsItsOneControllerWhileThatControllerLives) {
  auto window = NSWindow::make(NSMakeRect(0, 0, 200, 100), 1);
  auto first = NSWindowController::make(window);
  EXPECT_EQ(first->window(), window);
  EXPECT_EQ(window->windowController(), first);

  auto second = NSWindowController::make(nullptr);
  EXPECT_EQ(second->window(), nullptr);
  second->setWindow(window);
  EXPECT_EQ(window->windowController(), second) << "the window moves to its new owner";
  EXPECT_EQ(first->window(), nullptr) << "and its old owner lets go of it";

  auto other = NSWindow::make(NSMakeRect(0, 0, 50, 50), 1);
  second->setWindow(other);
  EXPECT_EQ(window->windowController(), nullptr) << "a window given up forgets its controller";
  EXPECT_EQ(other->windowController(), second);

  second.reset();
  EXPECT_EQ(other->windowController(), nullptr) << "the window holds its controller weakly";
}

TEST_F(NSWindowControllerTest, ShowingMakesTheWindowKeyAndClosingOrdersItOut) {
  auto window = NSWindow::make(NSMakeRect(0, 0, 200, 100), 1);
  auto controller = NSWindowController::make(window);
  EXPECT_FALSE(window->isVisible());
  controller->showWindow();
  EXPECT_TRUE(window->isVisible());
  EXPECT_TRUE(window->isKeyWindow());
  EXPECT_GE(window->windowNumber(), 1);

  controller->close();
  EXPECT_FALSE(window->isVisible());
  EXPECT_FALSE(window->isKeyWindow());
  EXPECT_LT(window->windowNumber(), 1) << "closed: gone from the window server";
  EXPECT_EQ(controller->window(), window) << "a closed window stays with its controller";

  auto empty = NSWindowController::make(nullptr);
  empty->showWindow();  // nothing to show
  empty->close();
  EXPECT_EQ(NSApplication::shared()->keyWindow(), nullptr);
}

}  // namespace
}  // namespace platform
