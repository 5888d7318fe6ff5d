#pragma once
// The event manager's global hot keys: a process installs an event handler
// on its application event target and registers key combinations (a key
// code and a Carbon modifier mask) under a hot-key identity (a four-
// character signature and a number). A key-down of the simulated session
// that gets past the event taps with that key code and exactly those four
// modifiers (command, shift, option, control; caps lock and the others are
// ignored) then goes to the process that registered it, never to the
// frontmost application: for this process, as a hot-key-pressed event
// ('keyb', 5) whose direct object ('----') is the identity ('hkid'),
// handed on the main run loop to the handlers installed on the application
// target when it runs, the latest first, until one answers other than
// eventNotHandledErr. A press queued for a handler removed before it runs
// is dropped.
//
// Other applications may hold combinations (HotKeySystem::giveToApplication):
// registering one is refused with eventHotKeyExistsErr, as is registering
// one this process holds already, and their presses go to them. Installing
// a handler can be made to fail (setHandlerInstallationFails). Main thread
// only, as the event manager is.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/events/event.hpp"
#include "platform/foundation/four_char_code.hpp"

namespace platform {

using OSStatus = int32_t;
using OSType = FourCharCode;
using ItemCount = std::size_t;
using ByteCount = std::size_t;
using OptionBits = uint32_t;
using EventParamName = OSType;
using EventParamType = OSType;

inline constexpr OSStatus noErr = 0;
inline constexpr OSStatus paramErr = -50;
inline constexpr OSStatus errAECoercionFail = -1700;
inline constexpr OSStatus eventInternalErr = -9868;
inline constexpr OSStatus eventParameterNotFoundErr = -9870;
inline constexpr OSStatus eventNotHandledErr = -9874;
inline constexpr OSStatus eventHotKeyExistsErr = -9878;

inline constexpr OSType kEventClassKeyboard = fourCharCode("keyb");
inline constexpr uint32_t kEventHotKeyPressed = 5;
inline constexpr EventParamName kEventParamDirectObject = fourCharCode("----");
inline constexpr EventParamType typeEventHotKeyID = fourCharCode("hkid");

// Carbon modifier bits.
inline constexpr uint32_t cmdKey = 0x100;
inline constexpr uint32_t shiftKey = 0x200;
inline constexpr uint32_t optionKey = 0x800;
inline constexpr uint32_t controlKey = 0x1000;

struct EventHotKeyID {
  OSType signature = 0;
  uint32_t id = 0;
};

struct EventTypeSpec {
  OSType eventClass = 0;
  uint32_t eventKind = 0;
};

// One event: its class and kind and its typed parameters.
class OpaqueEventRef {
 public:
  OSType eventClass() const { return class_; }
  uint32_t eventKind() const { return kind_; }

 private:
  friend OSStatus CreateEvent(void*, OSType, uint32_t, double, OptionBits, std::shared_ptr<OpaqueEventRef>*);
  friend OSStatus SetEventParameter(const std::shared_ptr<OpaqueEventRef>&, EventParamName, EventParamType, ByteCount,
                                    const void*);
  friend OSStatus GetEventParameter(const std::shared_ptr<OpaqueEventRef>&, EventParamName, EventParamType,
                                    EventParamType*, ByteCount, ByteCount*, void*);
  struct Parameter {
    EventParamType type;
    std::vector<unsigned char> bytes;
  };
  OSType class_ = 0;
  uint32_t kind_ = 0;
  std::map<EventParamName, Parameter> parameters_;
};
using EventRef = std::shared_ptr<OpaqueEventRef>;

class OpaqueEventTargetRef;
using EventTargetRef = OpaqueEventTargetRef*;
class OpaqueEventHandlerCallRef;
using EventHandlerCallRef = OpaqueEventHandlerCallRef*;
using EventHandlerUPP = OSStatus (*)(EventHandlerCallRef nextHandler, EventRef event, void* userData);
class OpaqueEventHandlerRef;
using EventHandlerRef = std::shared_ptr<OpaqueEventHandlerRef>;
class OpaqueEventHotKeyRef;
using EventHotKeyRef = std::shared_ptr<OpaqueEventHotKeyRef>;

// The one event target of this application.
EventTargetRef GetApplicationEventTarget();
// paramErr without a handler, types or out reference, or for another
// target; eventInternalErr while installation is made to fail.
OSStatus InstallEventHandler(EventTargetRef target, EventHandlerUPP handler, ItemCount numTypes,
                             const EventTypeSpec* list, void* userData, EventHandlerRef* outRef);
// paramErr for a handler that is not installed (any more).
OSStatus RemoveEventHandler(const EventHandlerRef& handler);
// eventHotKeyExistsErr when the combination is held already, by this
// process or another; paramErr without a target or out reference.
OSStatus RegisterEventHotKey(uint32_t keyCode, uint32_t modifiers, EventHotKeyID identity, EventTargetRef target,
                             OptionBits options, EventHotKeyRef* outRef);
// paramErr for one not registered (any more).
OSStatus UnregisterEventHotKey(const EventHotKeyRef& hotKey);

// A new event with no parameters.
OSStatus CreateEvent(void* allocator, OSType eventClass, uint32_t kind, double when, OptionBits flags,
                     EventRef* outEvent);
OSStatus SetEventParameter(const EventRef& event, EventParamName name, EventParamType type, ByteCount size,
                           const void* data);
// Copies at most bufferSize bytes of the parameter and tells its whole size
// and type; eventParameterNotFoundErr without it, errAECoercionFail when it
// is of another type, paramErr without an event.
OSStatus GetEventParameter(const EventRef& event, EventParamName name, EventParamType desiredType,
                           EventParamType* outActualType, ByteCount bufferSize, ByteCount* outActualSize,
                           void* outData);

// The session's hot keys, for the stand-in's functions and for tests.
class HotKeySystem {
 public:
  struct Registration {
    uint32_t keyCode;
    uint32_t modifiers;
    EventHotKeyID identity;
    pid_t owner;  // this process's identifier for its own
  };

  static HotKeySystem& shared();
  // No handlers, no hot keys, installation working. Also run by
  // resetProcessState().
  void reset();

  // Fault seam: InstallEventHandler fails with eventInternalErr while set.
  void setHandlerInstallationFails(bool fails);
  // Another application holds the combination from now on.
  void giveToApplication(pid_t pid, uint32_t keyCode, uint32_t modifiers);

  std::vector<Registration> registrations() const;
  std::size_t installedHandlers() const;
  // Presses that went to another application.
  int pressesReceivedBy(pid_t pid) const;
  // Hot-key events this process's handlers were given, and how many of
  // them one handled.
  int pressesDispatched() const { return dispatched_; }
  int pressesHandled() const { return handled_; }

  // The Carbon modifier mask of an event's flags: the four modifiers only.
  static uint32_t carbonModifiers(CGEventFlags flags);

 private:
  friend OSStatus InstallEventHandler(EventTargetRef, EventHandlerUPP, ItemCount, const EventTypeSpec*, void*,
                                      EventHandlerRef*);
  friend OSStatus RemoveEventHandler(const EventHandlerRef&);
  friend OSStatus RegisterEventHotKey(uint32_t, uint32_t, EventHotKeyID, EventTargetRef, OptionBits,
                                      EventHotKeyRef*);
  friend OSStatus UnregisterEventHotKey(const EventHotKeyRef&);

  HotKeySystem() = default;
  // Puts the hot keys ahead of the applications in the event stream.
  void route();
  bool take(const CGEventRef& event);
  void dispatch(EventHotKeyID identity);

  std::vector<EventHandlerRef> handlers_;  // in installation order
  std::vector<EventHotKeyRef> hotKeys_;
  std::vector<Registration> others_;
  std::map<pid_t, int> othersPresses_;
  bool installationFails_ = false;
  int dispatched_ = 0;
  int handled_ = 0;
};

}  // namespace platform
