#include "platform/hotkeys/hot_keys.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <vector>

#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/events/event_tap.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/windowserver/window_server.hpp"

namespace platform {
namespace {

constexpr OSType kSignature = fourCharCode("TEST");
constexpr CGEventFlags kControlOption = kCGEventFlagMaskControl | kCGEventFlagMaskAlternate;

// What one handler was given, and what it answers.
struct Handler {
  std::vector<uint32_t> ids;
  OSStatus answer = noErr;
  std::function<void()> onCall;
};

OSStatus record(EventHandlerCallRef, EventRef event, void* userData) {
  auto* handler = static_cast<Handler*>(userData);
  EventHotKeyID identity;
  ByteCount size = 0;
  if (GetEventParameter(event, kEventParamDirectObject, typeEventHotKeyID, nullptr, sizeof identity, &size,
                        &identity) == noErr &&
      size == sizeof identity && identity.signature == kSignature) {
    handler->ids.push_back(identity.id);
  }
  if (handler->onCall) handler->onCall();
  return handler->answer;
}

class HotKeysTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WindowServer::shared();
    resetProcessState();
  }
  void TearDown() override { resetProcessState(); }

  EventHandlerRef install(Handler& handler) {
    const EventTypeSpec type{kEventClassKeyboard, kEventHotKeyPressed};
    EventHandlerRef ref;
    EXPECT_EQ(InstallEventHandler(GetApplicationEventTarget(), &record, 1, &type, &handler, &ref), noErr);
    return ref;
  }
  static OSStatus registerKey(uint32_t keyCode, uint32_t modifiers, uint32_t id, EventHotKeyRef* ref) {
    return RegisterEventHotKey(keyCode, modifiers, {kSignature, id}, GetApplicationEventTarget(), 0, ref);
  }
  static void press(CGKeyCode key, CGEventFlags flags) {
    auto event = CGEventCreateKeyboardEvent(nullptr, key, true);
    CGEventSetFlags(event, flags);
    CGEventPost(kCGHIDEventTap, event);
  }
  // Key-downs that reached an application.
  static size_t keyDownsDelivered() {
    size_t count = 0;
    for (const auto& event : EventSystem::shared().deliveredEvents()) count += event->type == kCGEventKeyDown;
    return count;
  }

  SimulatedSchedulerScope scope;
};

TEST_F(HotKeysTest, RegistrationsAreRefusedForHeldCombinationsAndBadArguments) {
  EventHotKeyRef ours;
  ASSERT_EQ(registerKey(47, controlKey | optionKey, 1, &ours), noErr);
  HotKeySystem::shared().giveToApplication(4242, 43, controlKey | optionKey);
  EventHotKeyRef ref;
  struct Case {
    uint32_t keyCode, modifiers;
    OSStatus status;
  };
  const Case cases[] = {
      {47, controlKey | optionKey, eventHotKeyExistsErr},  // ours already
      {43, controlKey | optionKey, eventHotKeyExistsErr},  // another application's
      {43, controlKey, noErr},                             // another combination
      {47, controlKey | optionKey | shiftKey, noErr},
  };
  for (const auto& c : cases) EXPECT_EQ(registerKey(c.keyCode, c.modifiers, 2, &ref), c.status) << c.keyCode;
  EXPECT_EQ(RegisterEventHotKey(1, cmdKey, {kSignature, 3}, nullptr, 0, &ref), paramErr);
  EXPECT_EQ(RegisterEventHotKey(1, cmdKey, {kSignature, 3}, GetApplicationEventTarget(), 0, nullptr), paramErr);
  EXPECT_EQ(HotKeySystem::shared().registrations().size(), 4u);

  EXPECT_EQ(UnregisterEventHotKey(ours), noErr);
  EXPECT_EQ(UnregisterEventHotKey(ours), paramErr);
  EXPECT_EQ(UnregisterEventHotKey(nullptr), paramErr);
  EXPECT_EQ(registerKey(47, controlKey | optionKey, 1, &ours), noErr);  // free again
  const auto first = HotKeySystem::shared().registrations().front();
  EXPECT_EQ(first.owner, ::getpid());
  EXPECT_EQ(first.identity.signature, kSignature);
}

TEST_F(HotKeysTest, HandlerInstallationCanFailAndRemovalIsChecked) {
  Handler handler;
  const EventTypeSpec type{kEventClassKeyboard, kEventHotKeyPressed};
  EventHandlerRef ref;
  EXPECT_EQ(InstallEventHandler(nullptr, &record, 1, &type, &handler, &ref), paramErr);
  EXPECT_EQ(InstallEventHandler(GetApplicationEventTarget(), nullptr, 1, &type, &handler, &ref), paramErr);
  EXPECT_EQ(InstallEventHandler(GetApplicationEventTarget(), &record, 0, &type, &handler, &ref), paramErr);
  HotKeySystem::shared().setHandlerInstallationFails(true);
  EXPECT_EQ(InstallEventHandler(GetApplicationEventTarget(), &record, 1, &type, &handler, &ref), eventInternalErr);
  EXPECT_EQ(ref, nullptr);
  HotKeySystem::shared().setHandlerInstallationFails(false);
  ref = install(handler);
  EXPECT_EQ(HotKeySystem::shared().installedHandlers(), 1u);
  EXPECT_EQ(RemoveEventHandler(ref), noErr);
  EXPECT_EQ(RemoveEventHandler(ref), paramErr);
  EXPECT_EQ(HotKeySystem::shared().installedHandlers(), 0u);
}

// A key-down after the taps with exactly the registered modifiers goes to
// the registering process on the main run loop and to no application.
TEST_F(HotKeysTest, PressesMatchExactlyAndGoToTheRegisteringProcess) {
  Handler handler;
  install(handler);
  EventHotKeyRef pause, settings;
  ASSERT_EQ(registerKey(47, controlKey | optionKey, 1, &pause), noErr);
  ASSERT_EQ(registerKey(43, controlKey | optionKey, 2, &settings), noErr);
  HotKeySystem::shared().giveToApplication(4242, 12, cmdKey);

  struct Case {
    CGKeyCode key;
    CGEventFlags flags;
    std::vector<uint32_t> ids;  // given to this process
    bool delivered;             // an application received the key
    int otherPresses;
  };
  const Case cases[] = {
      {47, kControlOption, {1}, false, 0},
      {47, kControlOption | kCGEventFlagMaskAlphaShift, {1}, false, 0},  // caps lock does not count
      {43, kControlOption, {2}, false, 0},
      {47, kControlOption | kCGEventFlagMaskShift, {}, true, 0},          // one modifier too many
      {47, kCGEventFlagMaskControl, {}, true, 0},                          // one too few
      {44, kControlOption, {}, true, 0},                                   // another key
      {12, kCGEventFlagMaskCommand, {}, false, 1},                         // another application's
      {47, kControlOption, {1}, false, 1},
  };
  for (const auto& c : cases) {
    handler.ids.clear();
    const size_t before = keyDownsDelivered();
    press(c.key, c.flags);
    EXPECT_TRUE(handler.ids.empty());  // nothing before the run loop runs
    scope->runUntilIdle();
    EXPECT_EQ(handler.ids, c.ids) << c.key << " " << std::hex << c.flags;
    EXPECT_EQ(keyDownsDelivered() - before, c.delivered ? 1u : 0u) << c.key;
    EXPECT_EQ(HotKeySystem::shared().pressesReceivedBy(4242), c.otherPresses) << c.key;
  }
  // A key-up is no press, and passes.
  auto up = CGEventCreateKeyboardEvent(nullptr, 47, false);
  CGEventSetFlags(up, kControlOption);
  CGEventPost(kCGHIDEventTap, up);
  scope->runUntilIdle();
  EXPECT_EQ(EventSystem::shared().deliveredEvents().back()->type, kCGEventKeyUp);
}

CGEventRef dropKeys(CGEventTapProxy, CGEventType, CGEventRef, void*) { return nullptr; }

TEST_F(HotKeysTest, AnActiveTapSeesTheKeyFirstAndCanDropIt) {
  Handler handler;
  install(handler);
  EventHotKeyRef ref;
  ASSERT_EQ(registerKey(47, controlKey | optionKey, 1, &ref), noErr);
  auto tap = CGEventTapCreate(kCGSessionEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault,
                              CGEventMaskBit(kCGEventKeyDown), &dropKeys, nullptr);
  auto source = CFMachPortCreateRunLoopSource(kCFAllocatorDefault, tap, 0);
  CFRunLoopAddSource(CFRunLoopGetMain(), source, kCFRunLoopCommonModes);
  press(47, kControlOption);
  scope->runUntilIdle();
  EXPECT_TRUE(handler.ids.empty());
  CFMachPortInvalidate(tap);
  press(47, kControlOption);
  scope->runUntilIdle();
  EXPECT_EQ(handler.ids, std::vector<uint32_t>{1});
}

// The latest handler runs first; one that does not handle the event passes
// it on; a press queued for a removed handler never reaches it.
TEST_F(HotKeysTest, HandlersRunLatestFirstUntilOneHandles) {
  Handler first, second;
  auto firstRef = install(first);
  auto secondRef = install(second);
  EventHotKeyRef ref;
  ASSERT_EQ(registerKey(47, controlKey | optionKey, 1, &ref), noErr);
  second.answer = eventNotHandledErr;
  press(47, kControlOption);
  scope->runUntilIdle();
  EXPECT_EQ(second.ids, std::vector<uint32_t>{1});
  EXPECT_EQ(first.ids, std::vector<uint32_t>{1});
  second.answer = noErr;
  press(47, kControlOption);
  scope->runUntilIdle();
  EXPECT_EQ(first.ids.size(), 1u);
  EXPECT_EQ(HotKeySystem::shared().pressesHandled(), 2);

  // Two presses in a row: both are queued before the first is handled,
  // whose handler removes every handler.
  second.onCall = [&] {
    RemoveEventHandler(secondRef);
    RemoveEventHandler(firstRef);
  };
  press(47, kControlOption);
  press(47, kControlOption);
  scope->runUntilIdle();
  EXPECT_EQ(second.ids.size(), 3u);
  EXPECT_EQ(first.ids.size(), 1u);
  EXPECT_EQ(HotKeySystem::shared().pressesDispatched(), 3);
}

TEST_F(HotKeysTest, EventParametersAreReadByNameTypeAndSize) {
  EventRef event;
  ASSERT_EQ(CreateEvent(nullptr, kEventClassKeyboard, kEventHotKeyPressed, 0, 0, &event), noErr);
  EventHotKeyID identity{kSignature, 7};
  EventHotKeyID read{};
  ByteCount size = 0;
  EventParamType type = 0;
  EXPECT_EQ(GetEventParameter(event, kEventParamDirectObject, typeEventHotKeyID, &type, sizeof read, &size, &read),
            eventParameterNotFoundErr);
  const uint32_t shortValue = 9;
  SetEventParameter(event, kEventParamDirectObject, typeEventHotKeyID, sizeof shortValue, &shortValue);
  EXPECT_EQ(GetEventParameter(event, kEventParamDirectObject, typeEventHotKeyID, &type, sizeof read, &size, &read),
            noErr);
  EXPECT_EQ(size, sizeof shortValue);  // the caller sees it is short
  SetEventParameter(event, kEventParamDirectObject, fourCharCode("long"), sizeof identity, &identity);
  EXPECT_EQ(GetEventParameter(event, kEventParamDirectObject, typeEventHotKeyID, &type, sizeof read, &size, &read),
            errAECoercionFail);
  SetEventParameter(event, kEventParamDirectObject, typeEventHotKeyID, sizeof identity, &identity);
  EXPECT_EQ(GetEventParameter(event, kEventParamDirectObject, typeEventHotKeyID, &type, sizeof read, &size, &read),
            noErr);
  EXPECT_EQ(size, sizeof identity);
  EXPECT_EQ(type, typeEventHotKeyID);
  EXPECT_EQ(read.signature, kSignature);
  EXPECT_EQ(read.id, 7u);
  EXPECT_EQ(GetEventParameter(nullptr, kEventParamDirectObject, typeEventHotKeyID, &type, sizeof read, &size, &read),
            paramErr);
}

}  // namespace
}  // namespace platform
