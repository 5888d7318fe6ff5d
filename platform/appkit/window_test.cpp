#include "platform/appkit/window.hpp"

#include <unistd.h>

#include <gtest/gtest.h>

#include <cmath>

#include "platform/appkit/screen.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/windowserver/window_list.hpp"
#include "platform/windowserver/window_server.hpp"

namespace platform {
namespace {

class NSWindowServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WindowServer::shared();
    resetProcessState();
  }
  void TearDown() override { resetProcessState(); }

  static std::optional<WindowRecord> record(long number) {
    for (const auto& window : WindowTable::shared().windows()) {
      if (static_cast<long>(window.number) == number) return window;
    }
    return std::nullopt;
  }
};

TEST_F(NSWindowServerTest, TheWindowServerListsAWindowFromItsFirstOrderingIn) {
  // The default screen is 982 points tall.
  auto panel = std::make_shared<NSPanel>(NSMakeRect(100, 200, 50, 40), NSWindowStyleMaskNonactivatingPanel);
  EXPECT_LT(panel->windowNumber(), 1);
  EXPECT_TRUE(WindowTable::shared().windows().empty());

  panel->setLevel(1000);
  panel->orderFrontRegardless();
  const long number = panel->windowNumber();
  ASSERT_GE(number, 1);
  auto listed = record(number);
  ASSERT_TRUE(listed);
  EXPECT_EQ(listed->ownerPID, ::getpid());
  EXPECT_EQ(listed->layer, 1000);
  EXPECT_EQ(listed->bounds, CGRectMake(100, 742, 50, 40));
  EXPECT_TRUE(listed->onScreen);

  panel->setFrame(NSMakeRect(0, 0, 1512, 982), false);
  EXPECT_EQ(record(number)->bounds, CGRectMake(0, 0, 1512, 982));
  // Ordered out, the window keeps its number and is listed off screen.
  panel->orderOut();
  EXPECT_EQ(panel->windowNumber(), number);
  EXPECT_FALSE(record(number)->onScreen);

  // A second window goes in front; ordering the first in brings it forward.
  auto other = std::make_shared<NSWindow>(NSMakeRect(0, 0, 10, 10), NSWindowStyleMaskTitled);
  other->orderFront();
  EXPECT_NE(other->windowNumber(), number);
  panel->orderFront();
  EXPECT_EQ(static_cast<long>(WindowTable::shared().windows().front().number), number);

  // Closing takes the window out of the server; ordered in again it is a
  // new window to the server.
  panel->close();
  EXPECT_LT(panel->windowNumber(), 1);
  EXPECT_FALSE(record(number));
  panel->orderFront();
  EXPECT_GE(panel->windowNumber(), 1);
  EXPECT_NE(panel->windowNumber(), number);

  const long otherNumber = other->windowNumber();
  other.reset();
  EXPECT_FALSE(record(otherNumber));
}

TEST_F(NSWindowServerTest, PanelsStartWithPanelDefaultsAndAWindowThatCannotBeKeyStaysUnkeyed) {
  struct Unkeyable : NSPanel {
    using NSPanel::NSPanel;
    bool canBecomeKeyWindow() const override { return false; }
  };
  auto panel = std::make_shared<Unkeyable>(NSMakeRect(0, 0, 10, 10), NSWindowStyleMaskNonactivatingPanel,
                                           NSBackingStoreBuffered, false);
  EXPECT_TRUE(panel->hidesOnDeactivate());
  EXPECT_FALSE(panel->isReleasedWhenClosed());
  EXPECT_TRUE(panel->isOpaque());
  EXPECT_EQ(panel->backingType(), NSBackingStoreBuffered);
  panel->makeKeyAndOrderFront();
  EXPECT_TRUE(panel->isVisible());
  EXPECT_FALSE(panel->isKeyWindow());
  EXPECT_FALSE(panel->isMainWindow());

  // The alpha value reaches the window list; out-of-range values clamp.
  panel->setAlphaValue(0.5);
  ASSERT_TRUE(record(panel->windowNumber()));
  EXPECT_EQ(record(panel->windowNumber())->alpha, 0.5);
  panel->setAlphaValue(7);
  EXPECT_EQ(panel->alphaValue(), 1.0);
  panel->setAlphaValue(std::nan(""));
  EXPECT_EQ(panel->alphaValue(), 1.0);
}

}  // namespace
}  // namespace platform

