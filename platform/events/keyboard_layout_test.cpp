#include <gtest/gtest.h>

#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/events/event_tap.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/windowserver/window_server.hpp"

namespace platform {
namespace {

TEST(KeyboardLayoutTest, EachKeyTypesWhatTheUSLayoutGivesItWithTheModifiers) {
  constexpr CGEventFlags shift = kCGEventFlagMaskShift, control = kCGEventFlagMaskControl,
                         option = kCGEventFlagMaskAlternate, command = kCGEventFlagMaskCommand,
                         caps = kCGEventFlagMaskAlphaShift;
  struct Case {
    CGKeyCode key;
    CGEventFlags flags;
    const char* text;
  };
  const Case cases[] = {
      {0, 0, "a"},           {0, shift, "A"},          {0, caps, "A"},          {0, control, "\x01"},
      {6, control | shift, "\x1A"},                     {12, command, "q"},      {47, 0, "."},
      {47, shift, ">"},      {47, control | option, "."},                       {43, 0, ","},
      {18, shift, "!"},      {18, caps, "1"},          {33, control, "\x1B"},   {42, control, "\x1C"},
      {30, control, "\x1D"}, {49, 0, " "},             {36, 0, "\r"},           {51, 0, "\x7F"},
      {53, 0, "\x1B"},       {96, command, "\xEF\x9C\x88"},                     {122, 0, "\xEF\x9C\x84"},
      {126, 0, "\xEF\x9C\x80"},                         {117, 0, "\xEF\x9C\xA8"}, {82, 0, "0"},
      {92, shift, "9"},      {56, shift, ""},          {52, 0, ""},             {127, 0, ""},
      {128, 0, ""},          {0xFFFF, 0, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(keyboardLayoutCharacters(c.key, c.flags), c.text) << c.key << " flags " << std::hex << c.flags;
  }
}

TEST(KeyboardLayoutTest, ANewKeyEventTypesWithTheSessionsModifiersAndKeepsItsText) {
  WindowServer::shared();
  resetProcessState();
  SimulatedSchedulerScope scope;
  EXPECT_EQ(CGEventKeyboardGetUnicodeString(CGEventCreateKeyboardEvent(nullptr, 0, true)), "a");
  // The user holds shift: the session's flags change as the event is posted.
  auto held = CGEventCreateKeyboardEvent(nullptr, 56, true);
  CGEventSetType(held, kCGEventFlagsChanged);
  CGEventSetFlags(held, kCGEventFlagMaskShift);
  CGEventPost(kCGHIDEventTap, held);
  auto event = CGEventCreateKeyboardEvent(nullptr, 0, true);
  EXPECT_EQ(CGEventKeyboardGetUnicodeString(event), "A");
  CGEventSetFlags(event, 0);
  EXPECT_EQ(CGEventKeyboardGetUnicodeString(event), "A");
  CGEventKeyboardSetUnicodeString(event, "é");
  EXPECT_EQ(CGEventKeyboardGetUnicodeString(event), "é");
  EXPECT_EQ(CGEventKeyboardGetUnicodeString(CGEventCreateMouseEvent(nullptr, kCGEventMouseMoved, {}, 0)), "");
  EXPECT_EQ(CGEventKeyboardGetUnicodeString(nullptr), "");
  resetProcessState();
}

}  // namespace
}  // namespace platform
