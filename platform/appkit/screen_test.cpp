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

}  // namespace
}  // namespace platform
