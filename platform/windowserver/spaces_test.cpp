#include "platform/windowserver/spaces.hpp"

#include <gtest/gtest.h>

#include "platform/dyld/symbol_registry.hpp"
#include "platform/foundation/process_wide.hpp"

namespace platform {
namespace {

class SpacesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WindowServer::shared();
    resetProcessState();
  }
  void TearDown() override { resetProcessState(); }

  template <class F>
  std::function<F> skyLight(const char* name) {
    DLHandle handle = dlopen(kSkyLightFrameworkPath, RTLD_NOW);
    EXPECT_NE(handle, nullptr);
    auto function = dlsym<F>(handle, name);
    EXPECT_TRUE(function.has_value()) << name;
    return function ? *function : std::function<F>();
  }

  static bool listedOnScreen(CGWindowID window) {
    auto list = CGWindowListCopyWindowInfo(kCGWindowListOptionIncludingWindow, window);
    return list && list->size() == 1 && list->front().count(kCGWindowIsOnscreen) != 0;
  }

  CGSConnectionID main = WindowServer::shared().mainConnectionID();
};

TEST_F(SpacesTest, DisplaysAnswerTheirUUIDSpaceAndAnimation) {
  auto uuid = CFUUIDCreateString(CGDisplayCreateUUIDFromDisplayID(1));
  ASSERT_TRUE(uuid.has_value());
  EXPECT_EQ(CGDisplayCreateUUIDFromDisplayID(0), nullptr);
  EXPECT_EQ(CFUUIDCreateString(nullptr), std::nullopt);
  EXPECT_NE(CFUUIDCreateString(CGDisplayCreateUUIDFromDisplayID(2)), uuid);

  // Found in the default scope as well as in the framework's handle.
  auto current = dlsym<SLSManagedDisplayGetCurrentSpaceFn>(RTLD_DEFAULT, "SLSManagedDisplayGetCurrentSpace");
  ASSERT_TRUE(current.has_value());
  auto animating = skyLight<SLSManagedDisplayIsAnimatingFn>("SLSManagedDisplayIsAnimating");
  EXPECT_EQ((*current)(main, *uuid), 1u);
  EXPECT_FALSE(animating(main, *uuid));

  Spaces::shared().setCurrentSpace(1, 7);
  Spaces::shared().setDisplayAnimating(1, true);
  EXPECT_EQ((*current)(main, *uuid), 7u);
  EXPECT_TRUE(animating(main, *uuid));
  // A wrong connection or an unknown display reads nothing.
  EXPECT_EQ((*current)(main + 1, *uuid), 0u);
  EXPECT_FALSE(animating(main + 1, *uuid));
  EXPECT_EQ((*current)(main, "no-such-display"), 0u);
  Spaces::shared().setCurrentSpace(1, 0);
  EXPECT_EQ((*current)(main, *uuid), 0u);

  Spaces::shared().setDisplayUUID(1, std::nullopt);
  EXPECT_EQ(CGDisplayCreateUUIDFromDisplayID(1), nullptr);
  // The Space functions live in SkyLight, not in the process's own image.
  EXPECT_FALSE(dlsym<CGSMainConnectionIDFn>(dlopen(kSkyLightFrameworkPath, RTLD_NOW), "CGSMainConnectionID"));
}

TEST_F(SpacesTest, APrivateSpaceDecidesWhetherItsWindowsAreOnScreen) {
  auto create = skyLight<SLSSpaceCreateFn>("SLSSpaceCreate");
  auto level = skyLight<SLSSpaceSetAbsoluteLevelFn>("SLSSpaceSetAbsoluteLevel");
  auto show = skyLight<SLSShowSpacesFn>("SLSShowSpaces");
  auto hide = skyLight<SLSHideSpacesFn>("SLSHideSpaces");
  auto move = skyLight<SLSSpaceAddWindowsAndRemoveFromSpacesFn>("SLSSpaceAddWindowsAndRemoveFromSpaces");
  auto remove = skyLight<SLSRemoveWindowsFromSpacesFn>("SLSRemoveWindowsFromSpaces");
  auto destroy = skyLight<SLSSpaceDestroyFn>("SLSSpaceDestroy");
  WindowTable::shared().setWindows({{.number = 40, .ownerPID = 9, .bounds = CGRectMake(0, 0, 10, 10)}});

  const CGSSpaceID first = create(main, 1, 0);
  const CGSSpaceID second = create(main, 1, 0);
  ASSERT_NE(first, 0u);
  ASSERT_NE(second, first);
  EXPECT_EQ(create(main + 1, 1, 0), 0u);
  Spaces::shared().failNext("SLSSpaceCreate", kCGErrorFailure);
  EXPECT_EQ(create(main, 1, 0), 0u);
  EXPECT_EQ(level(main, first, 0), kCGErrorSuccess);
  EXPECT_EQ(Spaces::shared().spaceLevel(first), 0);
  EXPECT_EQ(level(main, 12345, 0), kCGErrorIllegalArgument);

  // Moved into a hidden Space, the window leaves the screen.
  EXPECT_EQ(move(main, first, {CFValue(40)}, 7), kCGErrorSuccess);
  EXPECT_FALSE(listedOnScreen(40));
  EXPECT_TRUE(CGWindowListCopyWindowInfo(kCGWindowListOptionOnScreenOnly, kCGNullWindowID)->empty());
  EXPECT_EQ(show(main, {CFValue(static_cast<int>(first))}), kCGErrorSuccess);
  EXPECT_TRUE(listedOnScreen(40));
  // A window is in one private Space at a time.
  EXPECT_EQ(move(main, second, {CFValue(40)}, 7), kCGErrorSuccess);
  EXPECT_TRUE(Spaces::shared().spaceWindows(first).empty());
  EXPECT_FALSE(listedOnScreen(40));
  EXPECT_EQ(remove(main, {CFValue(40)}, {CFValue(static_cast<int>(second))}), kCGErrorSuccess);
  EXPECT_TRUE(listedOnScreen(40));

  EXPECT_EQ(move(main, first, {CFValue(40), CFValue(true), CFValue("x")}, 7), kCGErrorSuccess);
  EXPECT_EQ(Spaces::shared().spaceWindows(first), std::set<CGWindowID>{40});
  EXPECT_EQ(hide(main, {CFValue(static_cast<int>(first))}), kCGErrorSuccess);
  EXPECT_FALSE(listedOnScreen(40));
  // Destroying the Space hands the window back to the ordinary Spaces.
  EXPECT_EQ(destroy(main, first), kCGErrorSuccess);
  EXPECT_EQ(destroy(main, first), kCGErrorIllegalArgument);
  EXPECT_TRUE(listedOnScreen(40));
  EXPECT_EQ(Spaces::shared().privateSpaces(), std::set<CGSSpaceID>{second});
}

}  // namespace
}  // namespace platform
