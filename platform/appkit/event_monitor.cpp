#include <algorithm>
#include <mutex>
#include <vector>

#include "platform/appkit/application.hpp"
#include "platform/appkit/event.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/coding/json_coding.hpp"
#include "platform/events/event_tap.hpp"
#include "platform/foundation/process_wide.hpp"

namespace platform {

namespace {

struct Monitor {
  const NSEventMonitor* token;
  NSEventMask mask;
  bool local;
  std::shared_ptr<NSEvent::GlobalHandler> global;
  std::shared_ptr<NSEvent::LocalHandler> localHandler;
};

struct Monitors {
  std::mutex mutex;
  std::vector<Monitor> list;
};

Monitors& monitors() {
  static Monitors* made = [] {
    auto* registry = new Monitors();
    addResetHook(registry, [registry] {
      std::lock_guard<std::mutex> guard(registry->mutex);
      registry->list.clear();
    });
    return registry;
  }();
  return *made;
}

// The frontmost application receives the input; when that is this
// process its local monitors see the event, otherwise the global ones.
bool goesToThisApplication() {
  auto frontmost = NSWorkspace::sharedWorkspace().frontmostApplication();
  auto current = NSRunningApplication::currentApplication();
  return frontmost && current && frontmost == current;
}

void deliver(const CGEventRef& cgEvent) {
  auto event = NSEvent::eventWithCGEvent(cgEvent);
  if (!event) return;
  const bool local = goesToThisApplication();
  std::vector<Monitor> matching;
  {
    auto& registry = monitors();
    std::lock_guard<std::mutex> guard(registry.mutex);
    for (const auto& monitor : registry.list) {
      if (monitor.local == local && (monitor.mask & NSEventMaskFromType(event->type()))) matching.push_back(monitor);
    }
  }
  for (const auto& monitor : matching) {
    if (!event) return;  // a local monitor swallowed it
    if (monitor.local) {
      event = (*monitor.localHandler)(event);
    } else {
      (*monitor.global)(event);
    }
  }
  if (event) NSApplication::shared()->sendEvent(event);
}

NSEventMonitorToken add(Monitor monitor) {
  NSEventMonitorToken token(new NSEventMonitor());
  monitor.token = token.get();
  {
    auto& registry = monitors();
    std::lock_guard<std::mutex> guard(registry.mutex);
    registry.list.push_back(std::move(monitor));
  }
  // Installed again with each monitor: resetting the event system drops it.
  NSEvent::routeDeliveredEvents();
  return token;
}

void remove(const NSEventMonitor* token) {
  auto& registry = monitors();
  std::lock_guard<std::mutex> guard(registry.mutex);
  std::erase_if(registry.list, [token](const Monitor& monitor) { return monitor.token == token; });
}

}  // namespace

std::shared_ptr<NSEvent> NSEvent::eventWithCGEvent(const CGEventRef& cgEvent) {
  if (!cgEvent) return nullptr;
  std::shared_ptr<NSEvent> event(new NSEvent());
  event->type_ = cgEvent->type;
  event->modifierFlags_ = cgEvent->flags;
  event->keyCode_ = static_cast<uint16_t>(cgEvent->keycode);
  event->timestamp_ = static_cast<double>(cgEvent->timestamp) / 1e9;
  event->location_ = mouseLocation();
  event->event_ = cgEvent;
  if (event->type_ == kCGEventKeyDown || event->type_ == kCGEventKeyUp) {
    event->characters_ = CGEventKeyboardGetUnicodeString(cgEvent);
    event->charactersIgnoringModifiers_ = keyboardLayoutCharacters(
        event->keyCode_, cgEvent->flags & (kCGEventFlagMaskShift | kCGEventFlagMaskAlphaShift));
  }
  return event;
}

std::shared_ptr<NSEvent> NSEvent::keyEventWithType(NSEventType type, NSEventModifierFlags flags,
                                                   const std::string& characters,
                                                   const std::string& charactersIgnoringModifiers,
                                                   uint16_t keyCode) {
  if (type != NSEventTypeKeyDown && type != NSEventTypeKeyUp) return nullptr;
  if (!isValidUTF8(characters) || !isValidUTF8(charactersIgnoringModifiers)) return nullptr;
  std::shared_ptr<NSEvent> event(new NSEvent());
  event->type_ = type;
  event->modifierFlags_ = flags;
  event->keyCode_ = keyCode;
  event->characters_ = characters;
  event->charactersIgnoringModifiers_ = charactersIgnoringModifiers;
  event->location_ = mouseLocation();
  return event;
}

std::optional<std::string> NSEvent::charactersByApplyingModifiers(NSEventModifierFlags modifiers) const {
  if (type_ != NSEventTypeKeyDown && type_ != NSEventTypeKeyUp) return std::nullopt;
  // AppKit's modifier flags share the Core Graphics flags' bits.
  auto text = keyboardLayoutCharacters(keyCode_, modifiers);
  if (text.empty()) return std::nullopt;
  return text;
}

NSEventMonitorToken NSEvent::addGlobalMonitorForEventsMatchingMask(NSEventMask mask, GlobalHandler handler) {
  if (!handler) return nullptr;
  return add({nullptr, mask, false, std::make_shared<GlobalHandler>(std::move(handler)), nullptr});
}

NSEventMonitorToken NSEvent::addLocalMonitorForEventsMatchingMask(NSEventMask mask, LocalHandler handler) {
  if (!handler) return nullptr;
  return add({nullptr, mask, true, nullptr, std::make_shared<LocalHandler>(std::move(handler))});
}

void NSEvent::removeMonitor(const NSEventMonitorToken& monitor) {
  if (monitor) remove(monitor.get());
}

size_t NSEvent::monitorCount() {
  auto& registry = monitors();
  std::lock_guard<std::mutex> guard(registry.mutex);
  return registry.list.size();
}

void NSEvent::routeDeliveredEvents() { EventSystem::shared().setDeliveryObserver(deliver); }

NSEventMonitor::~NSEventMonitor() { remove(this); }

}  // namespace platform
