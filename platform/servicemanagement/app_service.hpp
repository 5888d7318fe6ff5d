#pragma once
// The main application's login-item service, over the desktop's autostart
// entries (the XDG Autostart rules): the application is a login item while
// "<bundle identifier>.desktop" in autostartDirectory() starts it. The
// entry's Exec line runs the bundle's executable, quoted by the Desktop
// Entry rules, with VURLE_LAUNCHED_AS_LOGIN_ITEM=1 in its environment, so
// the launch is known as a login item's.
//
// The status, read from the entry each time:
// - notRegistered: no entry, or one that says Hidden=true (the user
//   deleted it in the desktop's settings);
// - notFound: an entry that cannot be read as one (not a file, unreadable,
//   over 64 KiB, not UTF-8, no [Desktop Entry] group), or whose program is
//   missing or not executable; also without a bundle identifier or a folder
//   for entries;
// - requiresApproval: an entry the user switched off
//   (X-GNOME-Autostart-enabled=false), which they must switch on again;
// - enabled: otherwise.
// Registering writes the entry afresh, atomically (an entry that cannot be
// read is first kept beside it as "*.unreadable"); unregistering removes
// it. A failure names the file and the system's reason and changes nothing
// else. Any thread; the calls are synchronous file operations.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "platform/bundle/bundle.hpp"
#include "platform/foundation/error.hpp"

namespace platform {

enum class SMAppServiceStatus : int { notRegistered = 0, enabled = 1, requiresApproval = 2, notFound = 3 };

class SMAppService {
 public:
  static constexpr const char* errorDomain = "SMAppServiceErrorDomain";

  // The service of the main bundle as it is now.
  static std::shared_ptr<SMAppService> mainAppService();
  // The same for another bundle.
  static std::shared_ptr<SMAppService> serviceForBundle(std::shared_ptr<NSBundle> bundle);

  // "$XDG_CONFIG_HOME/autostart" when that variable holds an absolute path,
  // else "$HOME/.config/autostart"; absent with neither.
  static std::optional<std::filesystem::path> autostartDirectory();
  // Shows the folder of the entries in the workspace (made first if it is
  // missing).
  static void openSystemSettingsLoginItems();

  // The entry's file; absent without a bundle identifier that is a file
  // name, or without a folder.
  std::optional<std::filesystem::path> entryPath() const;
  SMAppServiceStatus status() const;
  // False with the error when it failed.
  bool registerAndReturnError(NSError* error);
  bool unregisterAndReturnError(NSError* error);

  // The entry registering writes for this executable and name; absent when
  // the path cannot be written in an Exec line (not absolute, not UTF-8, a
  // control character, or an "=", which env would take for an assignment).
  static std::optional<std::string> entryText(const std::filesystem::path& executable, const std::string& name);
  // The program an Exec value starts, past "env" and its assignments, as
  // the Desktop Entry rules unquote it; absent when it cannot be read.
  static std::optional<std::string> programOfExec(const std::string& value);

 private:
  explicit SMAppService(std::shared_ptr<NSBundle> bundle) : bundle_(std::move(bundle)) {}

  std::shared_ptr<NSBundle> bundle_;
};

}  // namespace platform
