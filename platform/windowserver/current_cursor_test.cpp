#include "platform/windowserver/current_cursor.hpp"

#include <gtest/gtest.h>

#include "platform/dyld/symbol_registry.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/graphics/context.hpp"
#include "platform/windowserver/connections.hpp"
#include "platform/windowserver/cursor_state.hpp"
#include "platform/windowserver/window_server_test_support.hpp"

namespace platform {
namespace {

// A one-image cursor of `side` points filled with a grey level.
CursorImageSet solid(CGFloat side, CGFloat grey) {
  const auto pixels = static_cast<size_t>(side);
  auto c = CGBitmapContextCreate(nullptr, pixels, pixels, 8, 4 * pixels,
                                 CGColorSpaceCreateDeviceRGB(), kCGImageAlphaPremultipliedLast);
  CGContextSetRGBFillColor(c, grey, grey, grey, 1);
  CGContextFillRect(c, CGRectMake(0, 0, side, side));
  return {{CGBitmapContextCreateImage(c)}, CGSizeMake(side, side), CGPointMake(1, 2), 1, 0};
}

class CurrentCursorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WindowServer::shared();
    resetProcessState();
    registration = lookup<CGSRegisterCursorWithImagesFn>("CGSRegisterCursorWithImages");
    copy = lookup<CGSCopyRegisteredCursorImagesFn>("CGSCopyRegisteredCursorImages");
    readSeed = lookup<CGSCurrentCursorSeedFn>("CGSCurrentCursorSeed");
  }
  void TearDown() override { resetProcessState(); }

  // A new connection allowed to set the cursor in the background.
  CGSConnectionID backgroundConnection(bool marked = true) {
    CGSConnectionID connection = 0;
    EXPECT_EQ(lookup<CGSNewConnectionFn>("CGSNewConnection")(nullptr, &connection), kCGErrorSuccess);
    if (marked) {
      EXPECT_EQ(lookup<CGSSetConnectionPropertyFn>("CGSSetConnectionProperty")(
                    connection, connection, kSetsCursorInBackgroundKey, CFValue(true)),
                kCGErrorSuccess);
    }
    return connection;
  }

  CGError registerFrame(CGSConnectionID connection, const CursorImageSet& set, int32_t* seed) {
    return registration(connection, "mirt.vurle.frame", false, true, set.size, set.hotSpot, 1, 0.0,
                        std::make_shared<const std::vector<CGImageRef>>(set.images), seed);
  }

  CursorImageSet globalCurrent(CGError* error = nullptr) {
    CursorImageSet set;
    CGImageArrayRef images;
    const CGError result = copy(WindowServer::shared().mainConnectionID(), kGlobalCurrentCursorName,
                                &set.size, &set.hotSpot, &set.frameCount, &set.frameDuration, &images);
    if (error) *error = result;
    if (images) set.images = *images;
    return set;
  }

  int32_t seed() { return readSeed(); }

  std::function<CGSRegisterCursorWithImagesFn> registration;
  std::function<CGSCopyRegisteredCursorImagesFn> copy;
  std::function<CGSCurrentCursorSeedFn> readSeed;
};

TEST_F(CurrentCursorTest, ApplicationCursorsShowWithANewSeedAndReadBackAsGlobalCurrent) {
  const int32_t before = seed();
  const auto beam = solid(8, 0.5);
  EXPECT_EQ(CurrentCursor::shared().setCursorFromAnotherApplication(beam), before + 1);
  EXPECT_EQ(seed(), before + 1);
  CGError error = -1;
  const auto read = globalCurrent(&error);
  EXPECT_EQ(error, kCGErrorSuccess);
  EXPECT_EQ(read.size, beam.size);
  EXPECT_EQ(read.hotSpot, beam.hotSpot);
  ASSERT_EQ(read.images.size(), 1u);
  EXPECT_EQ(read.images[0], beam.images[0]);
  EXPECT_EQ(CurrentCursor::shared().owner(), 0);
}

TEST_F(CurrentCursorTest, RegistrationOutcomesFollowTheScript) {
  const CGSConnectionID connection = backgroundConnection();
  const auto frame = solid(10, 0.2);
  const auto foreign = solid(6, 0.9);
  auto& cursor = CurrentCursor::shared();
  cursor.scriptRegistration(CurrentCursor::Registration::newSeed);
  cursor.scriptRegistration(CurrentCursor::Registration::sameSeed);
  cursor.scriptRegistration(CurrentCursor::Registration::foreignChangeAfter, foreign);

  int32_t returned = 0;
  const int32_t start = seed();
  ASSERT_EQ(registerFrame(connection, frame, &returned), kCGErrorSuccess);
  EXPECT_EQ(returned, start + 1);
  EXPECT_EQ(cursor.owner(), connection);
  EXPECT_EQ(cursor.registeredName(), "mirt.vurle.frame");

  ASSERT_EQ(registerFrame(connection, frame, &returned), kCGErrorSuccess);
  EXPECT_EQ(returned, start + 1);  // the server kept the seed
  EXPECT_EQ(seed(), start + 1);

  ASSERT_EQ(registerFrame(connection, frame, &returned), kCGErrorSuccess);
  EXPECT_EQ(returned, start + 2);
  EXPECT_EQ(seed(), start + 3);  // another application came right after
  EXPECT_EQ(globalCurrent().size, foreign.size);
  EXPECT_EQ(cursor.owner(), 0);
}

TEST_F(CurrentCursorTest, RefusedRegistrationsChangeNothing) {
  const auto frame = solid(10, 0.2);
  const int32_t start = seed();
  int32_t returned = 0;

  // Without the background mark the name is registered but nothing shows.
  EXPECT_EQ(registerFrame(backgroundConnection(false), frame, &returned), kCGErrorSuccess);
  EXPECT_EQ(returned, start);
  EXPECT_FALSE(CurrentCursor::shared().registeredName().has_value());

  const CGSConnectionID connection = backgroundConnection();
  CurrentCursor::shared().failNext("CGSRegisterCursorWithImages", kCGErrorFailure);
  EXPECT_EQ(registerFrame(connection, frame, &returned), kCGErrorFailure);
  EXPECT_EQ(registerFrame(0x7777, frame, &returned), kCGErrorInvalidConnection);
  auto empty = frame;
  empty.images = {nullptr};
  EXPECT_EQ(registerFrame(connection, empty, &returned), kCGErrorIllegalArgument);
  EXPECT_EQ(registration(connection, nullptr, false, true, frame.size, frame.hotSpot, 1, 0,
                         std::make_shared<const std::vector<CGImageRef>>(frame.images), &returned),
            kCGErrorIllegalArgument);
  EXPECT_EQ(seed(), start);
  EXPECT_EQ(CurrentCursor::shared().calls("CGSRegisterCursorWithImages"), 5);
}

TEST_F(CurrentCursorTest, ReleasingTheShowingConnectionBringsBackTheApplicationCursor) {
  const auto beam = solid(8, 0.5);
  CurrentCursor::shared().setCursorFromAnotherApplication(beam);
  const CGSConnectionID connection = backgroundConnection();
  const CGSConnectionID other = backgroundConnection();
  int32_t returned = 0;
  ASSERT_EQ(registerFrame(connection, solid(12, 0.1), &returned), kCGErrorSuccess);

  auto release = lookup<CGSReleaseConnectionFn>("CGSReleaseConnection");
  ASSERT_EQ(release(other), kCGErrorSuccess);
  EXPECT_EQ(seed(), returned);  // not the one showing: nothing changes
  ASSERT_EQ(release(connection), kCGErrorSuccess);
  EXPECT_EQ(seed(), returned + 1);
  EXPECT_EQ(globalCurrent().size, beam.size);
  EXPECT_EQ(CurrentCursor::shared().owner(), 0);
}

TEST_F(CurrentCursorTest, DockOverrideBelongsToItsConnection) {
  auto dock = lookup<SLSSetDockCursorOverrideFn>("SLSSetDockCursorOverride");
  auto& cursor = CurrentCursor::shared();
  const CGSConnectionID connection = backgroundConnection();
  EXPECT_EQ(dock(0x7777, 1), kCGErrorInvalidConnection);
  EXPECT_FALSE(cursor.dockCursorOverride());
  ASSERT_EQ(dock(connection, 1), kCGErrorSuccess);
  EXPECT_TRUE(cursor.dockCursorOverride());
  ASSERT_EQ(dock(connection, 0), kCGErrorSuccess);
  EXPECT_FALSE(cursor.dockCursorOverride());

  ASSERT_EQ(dock(connection, 1), kCGErrorSuccess);
  cursor.failNext("SLSSetDockCursorOverride", kCGErrorFailure);
  EXPECT_EQ(dock(connection, 0), kCGErrorFailure);
  EXPECT_TRUE(cursor.dockCursorOverride());
  ASSERT_EQ(lookup<CGSReleaseConnectionFn>("CGSReleaseConnection")(connection), kCGErrorSuccess);
  EXPECT_FALSE(cursor.dockCursorOverride());
}

TEST_F(CurrentCursorTest, LocationReadsThePointerOverAValidConnection) {
  auto location = lookup<CGSGetCurrentCursorLocationFn>("CGSGetCurrentCursorLocation");
  CursorState::shared().setCursorLocation(CGPointMake(40, 60));
  CGPoint point;
  ASSERT_EQ(location(WindowServer::shared().mainConnectionID(), &point), kCGErrorSuccess);
  EXPECT_EQ(point, CGPointMake(40, 60));
  point = CGPointZero;
  EXPECT_EQ(location(0x7777, &point), kCGErrorInvalidConnection);
  CurrentCursor::shared().failNext("CGSGetCurrentCursorLocation", kCGErrorFailure);
  EXPECT_EQ(location(WindowServer::shared().mainConnectionID(), &point), kCGErrorFailure);
  EXPECT_EQ(point, CGPointZero);
}

TEST_F(CurrentCursorTest, ChangesSlipInBeforeTheChosenSeedRead) {
  const int32_t start = seed();
  CursorState::shared().beforeSeedRead(
      2, [] { CurrentCursor::shared().setCursorFromAnotherApplication(solid(4, 1)); });
  EXPECT_EQ(seed(), start);
  EXPECT_EQ(seed(), start + 1);
  EXPECT_EQ(seed(), start + 1);  // once only
}

}  // namespace
}  // namespace platform
