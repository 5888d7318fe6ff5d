#include "platform/hotkeys/hot_keys.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/dispatch/run_loop.hpp"
#include "platform/events/event_tap.hpp"
#include "platform/foundation/process_wide.hpp"

namespace platform {

class OpaqueEventTargetRef {};

class OpaqueEventHandlerRef {
 public:
  EventHandlerUPP handler = nullptr;
  std::vector<EventTypeSpec> types;
  void* userData = nullptr;
  bool installed = true;
};

class OpaqueEventHotKeyRef {
 public:
  HotKeySystem::Registration registration{};
};

namespace {

OpaqueEventTargetRef applicationTarget;

bool handles(const OpaqueEventHandlerRef& handler, OSType eventClass, uint32_t kind) {
  return std::any_of(handler.types.begin(), handler.types.end(), [&](const EventTypeSpec& spec) {
    return spec.eventClass == eventClass && spec.eventKind == kind;
  });
}

}  // namespace

HotKeySystem& HotKeySystem::shared() {
  static HotKeySystem* system = [] {
    auto* made = new HotKeySystem();
    addResetHook(made, [made] { made->reset(); });
    return made;
  }();
  return *system;
}

void HotKeySystem::reset() {
  for (const auto& handler : handlers_) handler->installed = false;
  handlers_.clear();
  hotKeys_.clear();
  others_.clear();
  othersPresses_.clear();
  installationFails_ = false;
  dispatched_ = 0;
  handled_ = 0;
}

void HotKeySystem::setHandlerInstallationFails(bool fails) { installationFails_ = fails; }

void HotKeySystem::giveToApplication(pid_t pid, uint32_t keyCode, uint32_t modifiers) {
  others_.push_back({keyCode, modifiers, {}, pid});
  route();
}

std::vector<HotKeySystem::Registration> HotKeySystem::registrations() const {
  std::vector<Registration> all;
  for (const auto& hotKey : hotKeys_) all.push_back(hotKey->registration);
  all.insert(all.end(), others_.begin(), others_.end());
  return all;
}

std::size_t HotKeySystem::installedHandlers() const { return handlers_.size(); }

int HotKeySystem::pressesReceivedBy(pid_t pid) const {
  auto found = othersPresses_.find(pid);
  return found == othersPresses_.end() ? 0 : found->second;
}

uint32_t HotKeySystem::carbonModifiers(CGEventFlags flags) {
  uint32_t mask = 0;
  if (flags & kCGEventFlagMaskCommand) mask |= cmdKey;
  if (flags & kCGEventFlagMaskShift) mask |= shiftKey;
  if (flags & kCGEventFlagMaskAlternate) mask |= optionKey;
  if (flags & kCGEventFlagMaskControl) mask |= controlKey;
  return mask;
}

void HotKeySystem::route() {
  // Set again each time: resetting the event system drops the route.
  EventSystem::shared().setHotKeyRoute([](const CGEventRef& event) { return HotKeySystem::shared().take(event); });
}

bool HotKeySystem::take(const CGEventRef& event) {
  const auto keyCode = static_cast<uint32_t>(event->keycode);
  const uint32_t modifiers = carbonModifiers(event->flags);
  auto matches = [&](const Registration& r) { return r.keyCode == keyCode && r.modifiers == modifiers; };
  for (const auto& hotKey : hotKeys_) {
    if (!matches(hotKey->registration)) continue;
    const EventHotKeyID identity = hotKey->registration.identity;
    RunLoop::main().perform([identity] { HotKeySystem::shared().dispatch(identity); });
    return true;
  }
  for (const auto& other : others_) {
    if (!matches(other)) continue;
    ++othersPresses_[other.owner];
    return true;
  }
  return false;
}

void HotKeySystem::dispatch(EventHotKeyID identity) {
  EventRef event;
  CreateEvent(nullptr, kEventClassKeyboard, kEventHotKeyPressed, 0, 0, &event);
  SetEventParameter(event, kEventParamDirectObject, typeEventHotKeyID, sizeof identity, &identity);
  // The handlers installed now, so a removed one is never called.
  const auto handlers = handlers_;
  bool reached = false;
  for (auto it = handlers.rbegin(); it != handlers.rend(); ++it) {
    const auto& handler = *it;
    if (!handler->installed || !handles(*handler, kEventClassKeyboard, kEventHotKeyPressed)) continue;
    reached = true;
    if (handler->handler(nullptr, event, handler->userData) != eventNotHandledErr) {
      ++handled_;
      break;
    }
  }
  if (reached) ++dispatched_;
}

EventTargetRef GetApplicationEventTarget() { return &applicationTarget; }

OSStatus InstallEventHandler(EventTargetRef target, EventHandlerUPP handler, ItemCount numTypes,
                             const EventTypeSpec* list, void* userData, EventHandlerRef* outRef) {
  if (target != &applicationTarget || !handler || numTypes == 0 || !list || !outRef) return paramErr;
  auto& system = HotKeySystem::shared();
  if (system.installationFails_) return eventInternalErr;
  auto made = std::make_shared<OpaqueEventHandlerRef>();
  made->handler = handler;
  made->types.assign(list, list + numTypes);
  made->userData = userData;
  system.handlers_.push_back(made);
  *outRef = std::move(made);
  return noErr;
}

OSStatus RemoveEventHandler(const EventHandlerRef& handler) {
  auto& handlers = HotKeySystem::shared().handlers_;
  auto found = std::find(handlers.begin(), handlers.end(), handler);
  if (!handler || found == handlers.end()) return paramErr;
  handler->installed = false;
  handlers.erase(found);
  return noErr;
}

OSStatus RegisterEventHotKey(uint32_t keyCode, uint32_t modifiers, EventHotKeyID identity, EventTargetRef target,
                             OptionBits /*options*/, EventHotKeyRef* outRef) {
  if (target != &applicationTarget || !outRef) return paramErr;
  auto& system = HotKeySystem::shared();
  for (const auto& held : system.registrations()) {
    if (held.keyCode == keyCode && held.modifiers == modifiers) return eventHotKeyExistsErr;
  }
  auto made = std::make_shared<OpaqueEventHotKeyRef>();
  made->registration = {keyCode, modifiers, identity, ::getpid()};
  system.hotKeys_.push_back(made);
  system.route();
  *outRef = std::move(made);
  return noErr;
}

OSStatus UnregisterEventHotKey(const EventHotKeyRef& hotKey) {
  auto& hotKeys = HotKeySystem::shared().hotKeys_;
  auto found = std::find(hotKeys.begin(), hotKeys.end(), hotKey);
  if (!hotKey || found == hotKeys.end()) return paramErr;
  hotKeys.erase(found);
  return noErr;
}

OSStatus CreateEvent(void* /*allocator*/, OSType eventClass, uint32_t kind, double /*when*/, OptionBits /*flags*/,
                     EventRef* outEvent) {
  if (!outEvent) return paramErr;
  auto event = std::make_shared<OpaqueEventRef>();
  event->class_ = eventClass;
  event->kind_ = kind;
  *outEvent = std::move(event);
  return noErr;
}

OSStatus SetEventParameter(const EventRef& event, EventParamName name, EventParamType type, ByteCount size,
                           const void* data) {
  if (!event || (size > 0 && !data)) return paramErr;
  const auto* bytes = static_cast<const unsigned char*>(data);
  event->parameters_[name] = {type, std::vector<unsigned char>(bytes, bytes + size)};
  return noErr;
}

OSStatus GetEventParameter(const EventRef& event, EventParamName name, EventParamType desiredType,
                           EventParamType* outActualType, ByteCount bufferSize, ByteCount* outActualSize,
                           void* outData) {
  if (!event) return paramErr;
  auto found = event->parameters_.find(name);
  if (found == event->parameters_.end()) return eventParameterNotFoundErr;
  const auto& parameter = found->second;
  if (parameter.type != desiredType) return errAECoercionFail;
  if (outActualType) *outActualType = parameter.type;
  if (outActualSize) *outActualSize = parameter.bytes.size();
  if (outData && !parameter.bytes.empty()) std::memcpy(outData, parameter.bytes.data(), std::min(bufferSize, parameter.bytes.size()));
  return noErr;
}

}  // namespace platform
