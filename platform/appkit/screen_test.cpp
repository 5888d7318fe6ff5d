#include "platform/appkit/screen.hpp"

#include <gtest/gtest.h>

#include "platform/foundation/process_wide.hpp"

namespace platform {
namespace {

TEST(NSScreenTest, ScreensAreOrderedAndResetToOneRetinaScreen) {
  auto primary = NSScreen::make(CGRectMake(0, 0, 1440, 900), 1.0);
  auto secondary = NSScreen::make(CGRectMake(1440, -200, 2560, 1440), 2.0);
  NSScreen::setScreens({primary, secondary});
  auto screens = NSScreen::screens();
  ASSERT_EQ(screens.size(), 2u);
  EXPECT_EQ(screens[0], primary);
  EXPECT_EQ(screens[1], secondary);

  // A mode change is seen through the same screen object.
  secondary->setBackingScaleFactor(1.0);
  EXPECT_EQ(NSScreen::screens()[1]->backingScaleFactor(), 1.0);

  NSScreen::setScreens({});
  EXPECT_TRUE(NSScreen::screens().empty());

  resetProcessState();
  screens = NSScreen::screens();
  ASSERT_EQ(screens.size(), 1u);
  EXPECT_EQ(screens[0]->frame(), CGRectMake(0, 0, 1512, 982));
  EXPECT_EQ(screens[0]->backingScaleFactor(), 2.0);
}

TEST(NSScreenTest, ScreensCarryTheirDisplayNumberRefreshRateAndSafeArea) {
  resetProcessState();
  auto primary = NSScreen::screens().front();
  EXPECT_EQ(primary->deviceDescription().at(NSScreenNumber).asInteger(), 1);
  EXPECT_EQ(primary->maximumFramesPerSecond(), 120);
  EXPECT_EQ(primary->safeAreaInsets(), NSEdgeInsets{});

  auto first = NSScreen::make(CGRectMake(0, 0, 10, 10), 1.0);
  auto second = NSScreen::make(CGRectMake(0, 0, 10, 10), 1.0);
  auto chosen = NSScreen::make(CGRectMake(0, 0, 10, 10), 1.0, 7);
  const auto a = first->deviceDescription().at(NSScreenNumber).asInteger();
  const auto b = second->deviceDescription().at(NSScreenNumber).asInteger();
  ASSERT_TRUE(a && b);
  EXPECT_NE(*a, *b);
  EXPECT_GT(*a, 1);
  EXPECT_EQ(chosen->deviceDescription().at(NSScreenNumber).asInteger(), 7);

  chosen->setDeviceDescription({});
  EXPECT_TRUE(chosen->deviceDescription().empty());
  chosen->setMaximumFramesPerSecond(60);
  chosen->setSafeAreaInsets({.top = 32});
  EXPECT_EQ(chosen->maximumFramesPerSecond(), 60);
  EXPECT_EQ(chosen->safeAreaInsets().top, 32);
}

}  // namespace
}  // namespace platform

namespace platform {

TEST(NSMouseInRectTest, AnUnflippedRectangleOwnsItsTopEdgeAndAFlippedOneItsBottom) {
  struct Case {
    CGPoint point;
    bool flipped;
    bool inside;
  };
  const CGRect rect = CGRectMake(0, 0, 100, 50);
  const Case cases[] = {
      {{0, 25}, false, true},    {{100, 25}, false, false}, {{50, 50}, false, true},
      {{50, 0}, false, false},   {{50, 0}, true, true},     {{50, 50}, true, false},
      {{-0.5, 25}, false, false}, {{99.5, 49.5}, false, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NSMouseInRect(c.point, rect, c.flipped), c.inside) << c.point.x << "," << c.point.y << " flipped=" << c.flipped;
  }
  EXPECT_FALSE(NSMouseInRect({0, 0}, CGRectNull, false));
}

}  // namespace platform

#include "platform/appkit/application.hpp"
#include "platform/appkit/window.hpp"
#include "platform/notifications/notification_center.hpp"

namespace platform {
namespace {

TEST(NSScreenTest, TheMainScreenIsTheKeyWindowsScreenElseTheFirst) {
  resetProcessState();
  auto primary = NSScreen::make(CGRectMake(0, 0, 1440, 900), 1.0);
  auto secondary = NSScreen::make(CGRectMake(1440, 0, 2560, 1440), 2.0);
  NSScreen::setScreens({primary, secondary});
  EXPECT_EQ(NSScreen::main(), primary) << "no key window";

  auto window = std::make_shared<NSWindow>(NSMakeRect(1600, 300, 400, 300), NSWindowStyleMaskTitled);
  window->makeKeyAndOrderFront();
  ASSERT_TRUE(window->isKeyWindow());
  EXPECT_EQ(NSScreen::main(), secondary) << "the key window stands on the second screen";

  window->setFrame(NSMakeRect(-5000, -5000, 400, 300), false);
  EXPECT_EQ(NSScreen::main(), primary) << "a key window on no screen";

  window->setFrame(NSMakeRect(1600, 300, 400, 300), false);
  window->orderOut();
  EXPECT_EQ(NSScreen::main(), primary) << "no longer key";

  NSScreen::setScreens({});
  EXPECT_EQ(NSScreen::main(), nullptr);
  resetProcessState();
}

TEST(NSScreenTest, TheVisibleFrameLeavesOutTheMenuBarReserve) {
  resetProcessState();
  struct Case {
    CGFloat reserve;
    CGRect visible;
  };
  const Case cases[] = {
      {24, CGRectMake(100, -50, 800, 576)},  // the default
      {0, CGRectMake(100, -50, 800, 600)},    {37.5, CGRectMake(100, -50, 800, 562.5)},
      {-10, CGRectMake(100, -50, 800, 600)},  {600, CGRectMake(100, -50, 800, 0)},
      {900, CGRectMake(100, -50, 800, 0)},
  };
  auto screen = NSScreen::make(CGRectMake(100, -50, 800, 600), 1.0);
  EXPECT_EQ(screen->menuBarReserve(), 24);
  NSScreen::setScreens({screen});
  int changes = 0;
  auto token = NSNotificationCenter::defaultCenter().addObserverForName(
      NSApplicationDidChangeScreenParametersNotification, nullptr, nullptr, [&](const NSNotification&) { ++changes; });
  for (const auto& c : cases) {
    if (c.reserve != 24) screen->setMenuBarReserve(c.reserve);
    EXPECT_EQ(screen->visibleFrame(), c.visible) << "reserve " << c.reserve;
    screen->setMenuBarReserve(24);
  }
  EXPECT_EQ(changes, 10) << "each new reserve of a connected screen is announced";
  NSNotificationCenter::defaultCenter().removeObserver(token);
  resetProcessState();
}

}  // namespace
}  // namespace platform
