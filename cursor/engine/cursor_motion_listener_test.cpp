#include "cursor/engine/cursor_motion_listener.hpp"

#include <gtest/gtest.h>

#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/windowserver/window_server.hpp"

namespace vurle {
namespace {

using namespace platform;

class CursorMotionListenerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WindowServer::shared();
    resetProcessState();
    listener = CursorMotionListener::make();
    listener->setOnEvent([this](CGEventType type, const CGEventRef& event) {
      seen.push_back(type);
      seenEvents.push_back(event);
    });
  }
  void TearDown() override {
    listener.reset();
    resetProcessState();
  }

  void post(CGEventType type) {
    CGEventPost(kCGHIDEventTap, CGEventCreateMouseEvent(nullptr, type, CGPointMake(1, 2), 0));
    scope->runUntilIdle();
  }

  SimulatedSchedulerScope scope;
  std::shared_ptr<CursorMotionListener> listener;
  std::vector<CGEventType> seen;
  std::vector<CGEventRef> seenEvents;
};

TEST_F(CursorMotionListenerTest, StartBuildsTheMaskAndPlacesTheTap) {
  ASSERT_TRUE(listener->start({kCGEventLeftMouseDown, kCGEventRightMouseDown, kCGEventOtherMouseDown}, true));
  auto tap = listener->tap();
  EXPECT_EQ(tap->mask(), (1ull << 1) | (1ull << 3) | (1ull << 25));
  EXPECT_EQ(tap->placement(), kCGHeadInsertEventTap);
  EXPECT_EQ(tap->options(), kCGEventTapOptionDefault);
  EXPECT_EQ(tap->location(), kCGSessionEventTap);
  EXPECT_TRUE(listener->start({kCGEventMouseMoved}, false));  // already running
  EXPECT_EQ(listener->tap(), tap);
  EXPECT_EQ(EventSystem::shared().tapsCreated(), 1);
  EXPECT_EQ(mainRunLoopSourceCount(), 1u);

  auto high = CursorMotionListener::make();
  ASSERT_TRUE(high->start({64, 100, kCGEventTapDisabledByTimeout}, false));
  EXPECT_EQ(high->tap()->mask(), 0u);
  EXPECT_EQ(high->tap()->placement(), kCGTailAppendEventTap);
  EXPECT_EQ(high->tap()->options(), kCGEventTapOptionListenOnly);
}

TEST_F(CursorMotionListenerTest, HandsEventsOnAndPassesThemUnchanged) {
  ASSERT_TRUE(listener->start({kCGEventLeftMouseDown}, true));
  auto event = CGEventCreateMouseEvent(nullptr, kCGEventLeftMouseDown, CGPointMake(7, 8), 0);
  CGEventPost(kCGHIDEventTap, event);
  post(kCGEventMouseMoved);  // not in the mask
  EXPECT_EQ(seen, std::vector<CGEventType>{kCGEventLeftMouseDown});
  EXPECT_EQ(seenEvents.at(0), event);
  auto delivered = EventSystem::shared().deliveredEvents();
  ASSERT_EQ(delivered.size(), 2u);
  EXPECT_EQ(delivered[0], event);
  EXPECT_EQ(delivered[0]->location, CGPointMake(7, 8));

  listener->setOnEvent(nullptr);
  post(kCGEventLeftMouseDown);
  EXPECT_EQ(seen.size(), 1u);
  EXPECT_EQ(EventSystem::shared().deliveredEvents().size(), 3u);
}

TEST_F(CursorMotionListenerTest, ReenablesADisabledTapOnlyWhileObserving) {
  ASSERT_TRUE(listener->start({kCGEventMouseMoved}, false));
  auto tap = listener->tap();
  EventSystem::shared().disableTap(tap, kCGEventTapDisabledByTimeout);
  scope->runUntilIdle();
  EXPECT_TRUE(CGEventTapIsEnabled(tap));
  EXPECT_TRUE(seen.empty());  // the pseudo-event is not handed on

  listener->setObserving(false);
  EXPECT_FALSE(CGEventTapIsEnabled(tap));
  CGEventTapEnable(tap, true);  // as if the system had kept it on
  post(kCGEventMouseMoved);
  EXPECT_TRUE(seen.empty());
  EventSystem::shared().disableTap(tap, kCGEventTapDisabledByUserInput);
  scope->runUntilIdle();
  EXPECT_FALSE(CGEventTapIsEnabled(tap));
  listener->setObserving(true);
  EXPECT_TRUE(CGEventTapIsEnabled(tap));
  post(kCGEventMouseMoved);
  EXPECT_EQ(seen.size(), 1u);
}

TEST_F(CursorMotionListenerTest, ObservingChosenBeforeStartIsApplied) {
  listener->setObserving(false);
  ASSERT_TRUE(listener->start({kCGEventMouseMoved}, false));
  EXPECT_FALSE(CGEventTapIsEnabled(listener->tap()));
}

TEST_F(CursorMotionListenerTest, FailuresLeaveNothingBehind) {
  EventSystem::shared().setActiveTapsPermitted(false);
  EXPECT_FALSE(listener->start({kCGEventLeftMouseDown}, true));
  EXPECT_EQ(listener->tap(), nullptr);
  EventSystem::shared().setRunLoopSourceCreationFails(true);
  EXPECT_FALSE(listener->start({kCGEventMouseMoved}, false));
  EXPECT_EQ(listener->tap(), nullptr);
  EXPECT_TRUE(EventSystem::shared().taps().empty());  // the made tap was invalidated
}

TEST_F(CursorMotionListenerTest, StopAndRestartAndDestruction) {
  listener->stop();  // never started
  ASSERT_TRUE(listener->start({kCGEventMouseMoved}, false));
  auto first = listener->tap();
  listener->stop();
  EXPECT_FALSE(CFMachPortIsValid(first));
  EXPECT_EQ(mainRunLoopSourceCount(), 0u);
  ASSERT_TRUE(listener->start({kCGEventMouseMoved}, false));
  EXPECT_NE(listener->tap(), first);
  post(kCGEventMouseMoved);
  EXPECT_EQ(seen.size(), 1u);

  auto tap = listener->tap();
  listener.reset();
  EXPECT_FALSE(CFMachPortIsValid(tap));
  post(kCGEventMouseMoved);  // reaches no dangling listener
  EXPECT_EQ(seen.size(), 1u);
}

TEST_F(CursorMotionListenerTest, AHandlerMayDropTheLastReference) {
  ASSERT_TRUE(listener->start({kCGEventMouseMoved}, false));
  std::weak_ptr<CursorMotionListener> weak = listener;
  listener->setOnEvent([this](CGEventType, const CGEventRef&) { listener.reset(); });
  post(kCGEventMouseMoved);
  EXPECT_TRUE(weak.expired());
  EXPECT_EQ(EventSystem::shared().deliveredEvents().size(), 1u);
}

}  // namespace
}  // namespace vurle
