#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "platform/appkit/event.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/windowserver/window_server.hpp"

namespace platform {
namespace {

class EventMonitorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WindowServer::shared();
    resetProcessState();
  }
  void TearDown() override { resetProcessState(); }

  static void post(CGEventType type, uint16_t key = 0, CGEventFlags flags = 0) {
    auto event = type == kCGEventKeyDown || type == kCGEventKeyUp ? CGEventCreateKeyboardEvent(nullptr, key, type == kCGEventKeyDown)
                                                                  : CGEventCreateMouseEvent(nullptr, type, CGPointMake(40, 30), 0);
    CGEventSetFlags(event, flags);
    CGEventPost(kCGSessionEventTap, event);
  }

  SimulatedSchedulerScope scope;
};

TEST_F(EventMonitorTest, GlobalAndLocalMonitorsSeeTheirApplicationsEvents) {
  std::vector<std::string> seen;
  auto global = NSEvent::addGlobalMonitorForEventsMatchingMask(
      NSEventMaskFromType(kCGEventMouseMoved) | NSEventMaskFromType(kCGEventKeyDown),
      [&](const std::shared_ptr<NSEvent>& event) { seen.push_back("global " + std::to_string(event->type())); });
  auto swallow = NSEvent::addLocalMonitorForEventsMatchingMask(
      NSEventMaskFromType(kCGEventKeyDown), [&](const std::shared_ptr<NSEvent>& event) {
        seen.push_back("local " + std::to_string(event->keyCode()) + " flags " + std::to_string(event->modifierFlags()));
        return event->keyCode() == 53 ? nullptr : event;  // escape goes no further
      });
  auto after = NSEvent::addLocalMonitorForEventsMatchingMask(
      NSEventMaskFromType(kCGEventKeyDown), [&](const std::shared_ptr<NSEvent>& event) {
        seen.push_back("after " + std::to_string(event->keyCode()));
        return event;
      });
  EXPECT_EQ(NSEvent::monitorCount(), 3u);

  // Another application in front (or none): the global monitor.
  post(kCGEventMouseMoved);
  post(kCGEventLeftMouseDown);  // not in the mask
  post(kCGEventKeyDown, 21);
  scope->runUntilIdle();
  EXPECT_EQ(seen, (std::vector<std::string>{"global 5", "global 10"}));

  // This application in front: the local monitors, in order.
  seen.clear();
  NSWorkspace::sharedWorkspace().activateApplication(::getpid());
  post(kCGEventKeyDown, 21, NSEventModifierFlagCommand | NSEventModifierFlagShift);
  post(kCGEventKeyDown, 53);
  post(kCGEventMouseMoved);
  scope->runUntilIdle();
  EXPECT_EQ(seen, (std::vector<std::string>{"local 21 flags 1179648", "after 21", "local 53 flags 0"}));

  // Removed, or dropped: no longer called.
  seen.clear();
  NSEvent::removeMonitor(swallow);
  after.reset();
  EXPECT_EQ(NSEvent::monitorCount(), 1u);
  post(kCGEventKeyDown, 53);
  scope->runUntilIdle();
  EXPECT_TRUE(seen.empty());
  resetProcessState();
  EXPECT_EQ(NSEvent::monitorCount(), 0u);
}

TEST_F(EventMonitorTest, EventsFromCoreGraphicsEvents) {
  EXPECT_EQ(NSEvent::eventWithCGEvent(nullptr), nullptr);
  auto cgEvent = CGEventCreateKeyboardEvent(nullptr, 20, false);
  cgEvent->timestamp = 2'500'000'000;
  CGEventSetFlags(cgEvent, NSEventModifierFlagOption);
  auto event = NSEvent::eventWithCGEvent(cgEvent);
  ASSERT_TRUE(event);
  EXPECT_EQ(event->type(), kCGEventKeyUp);
  EXPECT_EQ(event->keyCode(), 20);
  EXPECT_EQ(event->modifierFlags(), NSEventModifierFlagOption);
  EXPECT_EQ(event->timestamp(), 2.5);
  EXPECT_EQ(event->locationInWindow(), NSEvent::mouseLocation());
  EXPECT_EQ(event->CGEvent(), cgEvent);
  EXPECT_EQ(NSEvent::addGlobalMonitorForEventsMatchingMask(~NSEventMask{0}, nullptr), nullptr);
}

}  // namespace
}  // namespace platform
