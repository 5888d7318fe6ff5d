#pragma once

// Watches the two conditions under which the user asked animations to
// pause by themselves, Game Mode and a connected external mouse, and
// publishes the one reason that holds, each under its own preference.
//
// Game Mode comes from five Darwin notifications (whichever fires, the
// state of "com.apple.system.console_mode_changed" is read) and, while
// pausing in Game Mode is on, a 1 s poll; mice come from I/O registry
// matching notifications and a full rescan on every change. The workspace's
// wake, session-active, application-activation and Space-change
// notifications recheck both. Main thread only: every source delivers on
// the main queue or the main run loop.
//
// The I/O registry's callbacks carry the monitor as a raw pointer; the
// destructor destroys the port, and with it any delivery already queued,
// before the monitor's memory goes.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/app_preferences.hpp"
#include "platform/coding/property_list.hpp"
#include "platform/combine/published.hpp"
#include "platform/dispatch/run_loop.hpp"
#include "platform/iokit/iokit.hpp"
#include "platform/notifications/notification_center.hpp"

namespace vurle {

enum class AutomaticPauseReason { gameMode, externalMouse };

class AutomaticPauseMonitor : public std::enable_shared_from_this<AutomaticPauseMonitor> {
 public:
  static constexpr std::array<const char*, 5> gameModeNotificationNames{
      "com.apple.system.console_mode_changed", "com.apple.system.game_mode_status_changed",
      "com.apple.system.console_mode_available_changed", "com.apple.system.active_games_changed",
      "com.apple.system.fullscreen_gaming_session_changed"};
  static constexpr double gameModePollInterval = 1.0;

  // A monitor that is not monitoring watches nothing and its reason stays
  // none; the application always monitors.
  static std::shared_ptr<AutomaticPauseMonitor> make(std::shared_ptr<AppPreferences> preferences, bool monitoring);
  ~AutomaticPauseMonitor();
  AutomaticPauseMonitor(const AutomaticPauseMonitor&) = delete;
  AutomaticPauseMonitor& operator=(const AutomaticPauseMonitor&) = delete;

  std::optional<AutomaticPauseReason> reason() const { return reason_.value(); }
  platform::Publisher<std::optional<AutomaticPauseReason>> reasonPublisher() const { return reason_.publisher(); }

  // Whether a HID service's registry properties describe an external mouse:
  // not built in, not virtual, on USB or Bluetooth, not a trackpad, with the
  // mouse usage and without the touch-pad usage.
  static bool isExternalMouse(const platform::PropertyListDictionary& properties);

 private:
  struct Passkey {};

 public:
  AutomaticPauseMonitor(Passkey, std::shared_ptr<AppPreferences> preferences, bool monitoring);

 private:
  void start();
  void gameModeNotified();
  void readGameModeState();
  void applyGameModeState(std::uint64_t state);
  void preferencesChanged();
  void evaluate();
  void recheck();
  void observeDevices();
  static void devicesChanged(void* context, platform::io_iterator_t iterator);
  static bool scanDevices();

  platform::Published<std::optional<AutomaticPauseReason>> reason_{std::nullopt};
  const std::shared_ptr<AppPreferences> preferences_;
  const bool monitoring_;
  bool gameMode_ = false;
  bool externalMouse_ = false;
  std::vector<int> gameModeTokens_;
  std::shared_ptr<platform::NSTimer> gameModeTimer_;
  std::optional<std::string> lastGameState_;
  platform::IONotificationPortRef port_ = nullptr;
  platform::io_iterator_t added_ = 0;
  platform::io_iterator_t removed_ = 0;
  std::vector<platform::AnyCancellable> observations_;
};

}  // namespace vurle
