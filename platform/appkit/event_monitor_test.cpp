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

// Key events carry both character forms: what the key typed, and what it
// types with shift alone; other events carry none.
TEST_F(EventMonitorTest, KeyEventsCarryTheirCharacters) {
  struct Case {
    uint16_t key;
    CGEventFlags flags;
    const char* typed;  // as the desktop's layout typed it
    const char* ignoringModifiers;
    const char* withNoModifiers;  // none: the layout has no such key
  };
  const Case cases[] = {
      {0, NSEventModifierFlagControl | NSEventModifierFlagShift, "\x01", "A", "a"},
      {47, NSEventModifierFlagControl | NSEventModifierFlagOption, ".", ".", "."},
      {18, NSEventModifierFlagShift | NSEventModifierFlagCommand, "!", "!", "1"},
      {0, NSEventModifierFlagCapsLock, "A", "A", "a"},
      {56, NSEventModifierFlagShift, "", "", nullptr},
  };
  for (const auto& c : cases) {
    auto cgEvent = CGEventCreateKeyboardEvent(nullptr, c.key, true);
    CGEventSetFlags(cgEvent, c.flags);
    CGEventKeyboardSetUnicodeString(cgEvent, keyboardLayoutCharacters(c.key, c.flags));
    auto event = NSEvent::eventWithCGEvent(cgEvent);
    EXPECT_EQ(event->characters(), c.typed) << c.key;
    EXPECT_EQ(event->charactersIgnoringModifiers(), c.ignoringModifiers) << c.key;
    EXPECT_EQ(event->charactersByApplyingModifiers(0), c.withNoModifiers ? std::optional<std::string>(c.withNoModifiers)
                                                                         : std::nullopt)
        << c.key;
  }
  auto made = NSEvent::keyEventWithType(NSEventTypeKeyDown, 0, "A", "A", 0);
  ASSERT_TRUE(made);
  EXPECT_EQ(made->characters(), "A");
  EXPECT_EQ(made->charactersByApplyingModifiers(0), "a");  // the layout's, not the text given
  EXPECT_EQ(NSEvent::keyEventWithType(NSEventTypeMouseMoved, 0, "a", "a", 0), nullptr);
  auto mouse = NSEvent::eventWithCGEvent(CGEventCreateMouseEvent(nullptr, kCGEventMouseMoved, {}, 0));
  EXPECT_FALSE(mouse->characters());
  EXPECT_FALSE(mouse->charactersIgnoringModifiers());
  EXPECT_FALSE(mouse->charactersByApplyingModifiers(0));
}

}  // namespace
}  // namespace platform
