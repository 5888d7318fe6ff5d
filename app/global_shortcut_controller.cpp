#include "app/global_shortcut_controller.hpp"

#include <utility>

#include "platform/appkit/event.hpp"
#include "platform/dispatch/run_loop.hpp"
#include "platform/foundation/unicode_text.hpp"

namespace vurle {
namespace {

using platform::OSStatus;

OSStatus hotKeyHandler(platform::EventHandlerCallRef, platform::EventRef event, void* userData) {
  return GlobalShortcutController::handleHotKey(event, static_cast<GlobalShortcutController*>(userData));
}

// Keys whose own text is nothing worth showing.
const char* keyName(uint16_t keyCode) {
  switch (keyCode) {
    case 49: return "Space";
    case 36: return "↩";
    case 48: return "⇥";
    case 123: return "←";
    case 124: return "→";
    case 126: return "↑";
    case 125: return "↓";
    case 115: return "↖";
    case 119: return "↘";
    case 116: return "⇞";
    case 121: return "⇟";
    case 122: return "F1";
    case 120: return "F2";
    case 99: return "F3";
    case 118: return "F4";
    case 96: return "F5";
    case 97: return "F6";
    case 98: return "F7";
    case 100: return "F8";
    case 101: return "F9";
    case 109: return "F10";
    case 103: return "F11";
    case 111: return "F12";
    default: return nullptr;
  }
}

}  // namespace

std::string GlobalShortcut::keyDisplayName(const platform::NSEvent& event) {
  if (const char* name = keyName(event.keyCode())) return name;
  auto text = event.charactersByApplyingModifiers(0);
  if (!text) text = event.charactersIgnoringModifiers();
  return platform::uppercasedString(text.value_or(std::string()));
}

std::optional<GlobalShortcut> GlobalShortcut::fromEvent(const platform::NSEvent& event) {
  const auto flags = event.modifierFlags();
  std::uint32_t modifiers = 0;
  if (flags & platform::NSEventModifierFlagOption) modifiers |= optionKey;
  if (flags & platform::NSEventModifierFlagControl) modifiers |= controlKey;
  if (flags & platform::NSEventModifierFlagShift) modifiers |= shiftKey;
  if (flags & platform::NSEventModifierFlagCommand) modifiers |= cmdKey;
  std::string key = keyDisplayName(event);
  if (platform::containsControlCharacters(key)) return std::nullopt;
  GlobalShortcut shortcut{event.keyCode(), modifiers, std::move(key)};
  if (!shortcut.isValid()) return std::nullopt;
  return shortcut;
}

std::shared_ptr<GlobalShortcutController> GlobalShortcutController::make(std::shared_ptr<AppPreferences> preferences,
                                                                         std::function<void(ShortcutAction)> perform) {
  std::shared_ptr<GlobalShortcutController> controller(
      new GlobalShortcutController(std::move(preferences), std::move(perform)));
  std::weak_ptr<GlobalShortcutController> weak = controller;
  auto& prefs = *controller->preferences_;
  controller->observation_ =
      platform::combineLatest(platform::combineLatest(prefs.shortcutsEnabledPublisher(), prefs.pauseShortcutPublisher()),
                              platform::combineLatest(prefs.settingsShortcutPublisher(), prefs.recordingActionPublisher()))
          .receive(platform::RunLoop::main())
          .sink([weak](const auto& values) {
            auto self = weak.lock();
            if (!self) return;
            const auto& [enabledAndPause, settingsAndRecording] = values;
            self->registerHotKeys(enabledAndPause.first && !settingsAndRecording.second, enabledAndPause.second,
                                  settingsAndRecording.first);
          });
  return controller;
}

GlobalShortcutController::GlobalShortcutController(std::shared_ptr<AppPreferences> preferences,
                                                   std::function<void(ShortcutAction)> perform)
    : preferences_(std::move(preferences)), perform_(std::move(perform)) {
  const platform::EventTypeSpec pressed{platform::kEventClassKeyboard, platform::kEventHotKeyPressed};
  handlerStatus_ = platform::InstallEventHandler(platform::GetApplicationEventTarget(), &hotKeyHandler, 1, &pressed,
                                                 this, &handler_);
}

GlobalShortcutController::~GlobalShortcutController() { tearDown(); }

void GlobalShortcutController::tearDown() {
  observation_.cancel();
  unregisterAll();
  if (handler_) platform::RemoveEventHandler(std::exchange(handler_, nullptr));
}

void GlobalShortcutController::unregisterAll() {
  for (const auto& [action, hotKey] : hotKeys_) platform::UnregisterEventHotKey(hotKey);
  hotKeys_.clear();
}

void GlobalShortcutController::registerHotKeys(bool enabled, const std::optional<GlobalShortcut>& pauseShortcut,
                                               const std::optional<GlobalShortcut>& settingsShortcut) {
  unregisterAll();
  std::map<ShortcutAction, std::string> errors;
  if (!enabled) {
    preferences_->setShortcutErrors({});
    return;
  }
  const std::pair<ShortcutAction, const std::optional<GlobalShortcut>*> shortcuts[] = {
      {ShortcutAction::pause, &pauseShortcut}, {ShortcutAction::settings, &settingsShortcut}};
  for (std::size_t i = 0; i < std::size(shortcuts); ++i) {
    const auto& [action, shortcut] = shortcuts[i];
    if (!*shortcut) continue;
    if (handlerStatus_ != platform::noErr) {
      errors[action] = unavailableMessage;
      continue;
    }
    if (!(*shortcut)->isValid()) {
      errors[action] = invalidMessage;
      continue;
    }
    // Key code and modifiers only: the text may differ for one key. An
    // earlier shortcut counts even when it failed to register.
    bool taken = false;
    for (std::size_t j = 0; j < i; ++j) {
      const auto& earlier = *shortcuts[j].second;
      taken = taken || (earlier && earlier->keyCode == (*shortcut)->keyCode &&
                        earlier->modifiers == (*shortcut)->modifiers);
    }
    if (taken) {
      errors[action] = duplicateMessage;
      continue;
    }
    platform::EventHotKeyRef hotKey;
    const OSStatus status = platform::RegisterEventHotKey(
        (*shortcut)->keyCode, (*shortcut)->modifiers, {signature, static_cast<std::uint32_t>(action)},
        platform::GetApplicationEventTarget(), 0, &hotKey);
    if (status == platform::noErr && hotKey) {
      hotKeys_[action] = std::move(hotKey);
    } else {
      errors[action] = refusedMessage;
    }
  }
  preferences_->setShortcutErrors(std::move(errors));
}

OSStatus GlobalShortcutController::handleHotKey(const platform::EventRef& event, GlobalShortcutController* controller) {
  if (!event || !controller) return platform::eventNotHandledErr;
  platform::EventHotKeyID identity;
  platform::ByteCount size = 0;
  const OSStatus status = platform::GetEventParameter(event, platform::kEventParamDirectObject,
                                                      platform::typeEventHotKeyID, nullptr, sizeof identity, &size,
                                                      &identity);
  if (status != platform::noErr || size != sizeof identity || identity.signature != signature) {
    return platform::eventNotHandledErr;
  }
  auto action = shortcutActionFromRawValue(identity.id);
  if (!action || !controller->hotKeys_.contains(*action)) return platform::eventNotHandledErr;
  controller->perform_(*action);
  return platform::noErr;
}

}  // namespace vurle
