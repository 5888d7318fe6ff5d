#pragma once
// The two system-wide shortcuts, one per action, registered as hot keys
// under the signature "VRLE" with the action's raw value as the number.
// They are registered again whenever the user changes them, switches
// shortcuts on or off, or starts or ends recording one (no hot key is
// registered while a shortcut is recorded). A problem is reported per
// action in the preferences' shortcutErrors, as a sentence; one action's
// failure never keeps the other from registering. A press of a registered
// hot key calls the action operation on the main run loop.
//
// Teardown (at termination, and first thing on release) drops the
// subscription, unregisters every hot key and removes the event handler,
// so a press still queued for the controller is dropped. Main thread only.

#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "app/app_preferences.hpp"
#include "app/shell_seams.hpp"
#include "platform/combine/published.hpp"
#include "platform/hotkeys/hot_keys.hpp"

namespace vurle {

class GlobalShortcutController : public ShortcutController,
                                 public std::enable_shared_from_this<GlobalShortcutController> {
 public:
  static constexpr platform::OSType signature = platform::fourCharCode("VRLE");
  static constexpr const char* unavailableMessage = "Shortcuts are unavailable. Try reopening vurle.";
  static constexpr const char* invalidMessage = "Choose a shortcut with ⌃, ⌥, or ⌘. ⌘Q isn’t available.";
  static constexpr const char* duplicateMessage = "This shortcut is already assigned to another action.";
  static constexpr const char* refusedMessage = "This shortcut is unavailable. Choose another combination.";

  // Installs the hot-key handler and subscribes to the preferences; the
  // current values register on the run loop's next pass.
  static std::shared_ptr<GlobalShortcutController> make(std::shared_ptr<AppPreferences> preferences,
                                                        std::function<void(ShortcutAction)> perform);
  ~GlobalShortcutController() override;

  // Unregisters both hot keys, then registers each action's shortcut in
  // order (pause, settings) when enabled, and publishes the problems.
  void registerHotKeys(bool enabled, const std::optional<GlobalShortcut>& pauseShortcut,
                       const std::optional<GlobalShortcut>& settingsShortcut);
  void unregisterAll();
  void tearDown() override;

  // The handler's body: 0 when it performed an action, eventNotHandledErr
  // for no event or controller, a parameter that is missing, short or of
  // another signature, an unknown number, or an action not registered now.
  static platform::OSStatus handleHotKey(const platform::EventRef& event, GlobalShortcutController* controller);

  bool isRegistered(ShortcutAction action) const { return hotKeys_.contains(action); }
  platform::OSStatus handlerStatus() const { return handlerStatus_; }

 private:
  GlobalShortcutController(std::shared_ptr<AppPreferences> preferences, std::function<void(ShortcutAction)> perform);

  const std::shared_ptr<AppPreferences> preferences_;
  const std::function<void(ShortcutAction)> perform_;
  std::map<ShortcutAction, platform::EventHotKeyRef> hotKeys_;
  platform::EventHandlerRef handler_;
  platform::AnyCancellable observation_;
  platform::OSStatus handlerStatus_ = platform::noErr;
};

}  // namespace vurle
