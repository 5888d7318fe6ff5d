#include "platform/events/event_tap.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/windowserver/cursor_state.hpp"
#include "platform/windowserver/window_server.hpp"

namespace platform {
namespace {

// What one tap saw, and what it answers.
struct Recorder {
  std::string name{};
  std::vector<std::string>* log = nullptr;
  std::vector<CGEventType> types{};
  enum class Answer { pass, drop, replace } answer = Answer::pass;
};

CGEventRef record(CGEventTapProxy, CGEventType type, CGEventRef event, void* info) {
  auto* recorder = static_cast<Recorder*>(info);
  recorder->log->push_back(recorder->name);
  recorder->types.push_back(type);
  if (recorder->answer == Recorder::Answer::drop) return nullptr;
  if (recorder->answer == Recorder::Answer::replace) return CGEventCreateMouseEvent(nullptr, kCGEventMouseMoved, {}, 0);
  return event;
}

class EventTapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WindowServer::shared();
    resetProcessState();
  }
  void TearDown() override { resetProcessState(); }

  // A tap on the main run loop, or null when refused.
  CFMachPortRef tap(Recorder& recorder, CGEventMask mask, bool active) {
    recorder.log = &log;
    auto port = CGEventTapCreate(kCGSessionEventTap, active ? kCGHeadInsertEventTap : kCGTailAppendEventTap,
                                 active ? kCGEventTapOptionDefault : kCGEventTapOptionListenOnly, mask, &record,
                                 &recorder);
    if (!port) return nullptr;
    sources.push_back(CFMachPortCreateRunLoopSource(kCFAllocatorDefault, port, 0));
    CFRunLoopAddSource(CFRunLoopGetMain(), sources.back(), kCFRunLoopCommonModes);
    return port;
  }

  static void post(CGEventType type, CGPoint at = {}, CGMouseButton button = 0) {
    CGEventPost(kCGHIDEventTap, CGEventCreateMouseEvent(nullptr, type, at, button));
  }

  SimulatedSchedulerScope scope;
  std::vector<std::string> log;
  std::vector<CFRunLoopSourceRef> sources;
};

TEST_F(EventTapTest, EventsRunThroughTheChainOnTheMainRunLoop) {
  Recorder passive{"passive"}, active{"active"}, keys{"keys"};
  auto passiveTap = tap(passive, CGEventMaskBit(kCGEventMouseMoved), false);
  auto activeTap = tap(active, CGEventMaskBit(kCGEventMouseMoved) | CGEventMaskBit(kCGEventLeftMouseDown), true);
  auto keyTap = tap(keys, CGEventMaskBit(kCGEventKeyDown), false);
  ASSERT_TRUE(passiveTap && activeTap && keyTap);
  EXPECT_EQ(EventSystem::shared().taps(), (std::vector<CFMachPortRef>{activeTap, passiveTap, keyTap}));

  auto moved = CGEventCreateMouseEvent(nullptr, kCGEventMouseMoved, CGPointMake(3, 4), 0);
  CGEventPost(kCGHIDEventTap, moved);
  EXPECT_TRUE(log.empty());  // not before the main run loop runs
  scope->runUntilIdle();
  EXPECT_EQ(log, (std::vector<std::string>{"active", "passive"}));
  ASSERT_EQ(EventSystem::shared().deliveredEvents().size(), 1u);
  EXPECT_EQ(EventSystem::shared().deliveredEvents()[0], moved);

  // An active tap may drop or replace; a listen-only tap cannot.
  log.clear();
  active.answer = Recorder::Answer::drop;
  post(kCGEventLeftMouseDown);
  scope->runUntilIdle();
  passive.answer = Recorder::Answer::drop;
  active.answer = Recorder::Answer::replace;
  post(kCGEventLeftMouseDown);
  scope->runUntilIdle();
  EXPECT_EQ(log, (std::vector<std::string>{"active", "active", "passive"}));
  const auto delivered = EventSystem::shared().deliveredEvents();
  ASSERT_EQ(delivered.size(), 2u);
  EXPECT_EQ(delivered[1]->type, kCGEventMouseMoved);
}

TEST_F(EventTapTest, OnlyRunningEnabledTapsOnTheMainRunLoopSeeEvents) {
  Recorder loose{"loose"}, disabled{"disabled"}, removed{"removed"}, invalid{"invalid"};
  loose.log = &log;
  auto looseTap = CGEventTapCreate(kCGSessionEventTap, kCGTailAppendEventTap, kCGEventTapOptionListenOnly,
                                   CGEventMaskBit(kCGEventMouseMoved), &record, &loose);
  auto disabledTap = tap(disabled, CGEventMaskBit(kCGEventMouseMoved), false);
  auto removedTap = tap(removed, CGEventMaskBit(kCGEventMouseMoved), false);
  auto invalidTap = tap(invalid, CGEventMaskBit(kCGEventMouseMoved), false);
  CGEventTapEnable(disabledTap, false);
  CFRunLoopRemoveSource(CFRunLoopGetMain(), sources[1], kCFRunLoopCommonModes);
  post(kCGEventMouseMoved);
  CFMachPortInvalidate(invalidTap);  // before the loop runs: too late for nothing
  scope->runUntilIdle();
  EXPECT_TRUE(log.empty());
  EXPECT_FALSE(CGEventTapIsEnabled(disabledTap));
  EXPECT_FALSE(CFRunLoopSourceIsValid(sources[2]));
  CGEventTapEnable(invalidTap, true);
  EXPECT_FALSE(CGEventTapIsEnabled(invalidTap));
  EXPECT_EQ(CFMachPortCreateRunLoopSource(kCFAllocatorDefault, invalidTap, 0), nullptr);
  EXPECT_EQ(mainRunLoopSourceCount(), 1u);  // the disabled tap's
}

TEST_F(EventTapTest, TheSessionCanRefuseTapsAndSources) {
  Recorder recorder{"r"};
  EventSystem::shared().setActiveTapsPermitted(false);
  EXPECT_EQ(tap(recorder, 0, true), nullptr);
  EXPECT_NE(tap(recorder, 0, false), nullptr);
  EventSystem::shared().setListenOnlyTapsPermitted(false);
  EXPECT_EQ(tap(recorder, 0, false), nullptr);
  EventSystem::shared().setListenOnlyTapsPermitted(true);
  EventSystem::shared().setRunLoopSourceCreationFails(true);
  auto port = CGEventTapCreate(kCGSessionEventTap, kCGTailAppendEventTap, kCGEventTapOptionListenOnly, 0, &record,
                               &recorder);
  ASSERT_TRUE(port);
  EXPECT_EQ(CFMachPortCreateRunLoopSource(kCFAllocatorDefault, port, 0), nullptr);
  EXPECT_EQ(EventSystem::shared().tapsCreated(), 2);
}

TEST_F(EventTapTest, DisablingATapTellsItWithThePseudoEvent) {
  Recorder recorder{"r"};
  auto port = tap(recorder, CGEventMaskBit(kCGEventMouseMoved), false);
  EventSystem::shared().disableTap(port, kCGEventTapDisabledByTimeout);
  EventSystem::shared().disableTap(port, kCGEventTapDisabledByUserInput);
  EXPECT_FALSE(CGEventTapIsEnabled(port));
  scope->runUntilIdle();
  EXPECT_EQ(recorder.types, (std::vector<CGEventType>{kCGEventTapDisabledByTimeout, kCGEventTapDisabledByUserInput}));
}

TEST_F(EventTapTest, PostingChangesTheSessionState) {
  const auto never = EventSystem::kSecondsWithoutEvent;
  EXPECT_EQ(CGEventSourceSecondsSinceLastEventType(kCGEventSourceStateCombinedSessionState, kCGAnyInputEventType),
            never);

  post(kCGEventRightMouseDown, CGPointMake(40, 50), kCGMouseButtonRight);
  post(kCGEventOtherMouseDown, CGPointMake(41, 50), 4);
  auto flags = CGEventCreate(nullptr);
  flags->type = kCGEventFlagsChanged;
  flags->flags = kCGEventFlagMaskCommand;
  CGEventPost(kCGHIDEventTap, flags);
  EXPECT_TRUE(CGEventSourceButtonState(kCGEventSourceStateCombinedSessionState, kCGMouseButtonRight));
  EXPECT_TRUE(CGEventSourceButtonState(kCGEventSourceStateHIDSystemState, 4));
  EXPECT_FALSE(CGEventSourceButtonState(kCGEventSourceStatePrivate, kCGMouseButtonRight));
  EXPECT_EQ(CGEventSourceFlagsState(kCGEventSourceStateCombinedSessionState), kCGEventFlagMaskCommand);
  EXPECT_EQ(CGEventSourceFlagsState(kCGEventSourceStatePrivate), 0u);
  EXPECT_EQ(CGEventGetLocation(CGEventCreate(nullptr)), CGPointMake(41, 50));
  EXPECT_EQ(CGEventGetFlags(CGEventCreate(nullptr)), kCGEventFlagMaskCommand);

  scope->advance(0.5);
  post(kCGEventRightMouseUp, CGPointMake(40, 50), kCGMouseButtonRight);
  scope->advance(0.25);
  EXPECT_FALSE(CGEventSourceButtonState(kCGEventSourceStateCombinedSessionState, kCGMouseButtonRight));
  const auto since = [](CGEventType type) {
    return CGEventSourceSecondsSinceLastEventType(kCGEventSourceStateCombinedSessionState, type);
  };
  EXPECT_DOUBLE_EQ(since(kCGEventRightMouseDown), 0.75);
  EXPECT_DOUBLE_EQ(since(kCGAnyInputEventType), 0.25);
  EXPECT_EQ(since(kCGEventKeyDown), never);
  EXPECT_EQ(CGEventSourceSecondsSinceLastEventType(kCGEventSourceStatePrivate, kCGEventRightMouseUp), never);
}

}  // namespace
}  // namespace platform
