#pragma once
// The main application's login-item service, over the desktop's autostart
// entries (the XDG Autostart rules): the application is a login item while
// "<bundle identifier>.desktop" in autostartDirectory() starts it. The
// entry's Exec line runs the bundle's executable, quoted by the Desktop
// Entry rules, with VURLE_LAUNCHED_AS_LOGIN_ITEM=1 in its environment, so
// the launch is known as a login item's.
//
// The entry is read and written with GLib's key-file reader, and loaded
// with its desktop-entry loader, the ones GLib-based sessions use, so the
// status is what the session will do: its choice among repeated keys, its
// booleans (0 and 1 too), the Exec value as it reads it (which ends at a
// NUL) and the entries it refuses. The status, read from the entry alone
// each time:
// - notRegistered: no entry (one removed while it is read included), or one
//   that says Hidden=true (the user deleted it in the desktop's settings);
// - notFound: an entry that cannot be read as one (not a regular file, a
//   link to nothing, over 64 KiB, refused by the key-file reader or by the
//   loader: a first group that is not [Desktop Entry], a Type other than
//   Application, a TryExec or an Exec's first word naming no program it
//   finds), or whose launch starts nothing: it asks for a terminal
//   (Terminal=true) and none of those GLib knows is on the search path, env
//   would refuse its options, or the program is not found where exec looks
//   for it in the environment and folder the launch built; also without a
//   bundle identifier or a folder for entries;
// - requiresApproval: an entry the user switched off
//   (X-GNOME-Autostart-enabled false, or a value that is no boolean), which
//   they must switch on again;
// - enabled: otherwise.
// Registering writes the entry afresh, atomically (an entry that cannot be
// read is first kept beside it as "*.unreadable"), under a lock on the lock
// file beside it (".<entry>.lock", never a link), and first removes the
// temporary files of earlier writes killed before their rename
// (".<entry>.XXXXXX", more than staleTemporaryAge from the file system's
// clock either way); unregistering removes the entry. Another program that
// holds the lock for more than lockWait seconds ends the registration with
// an error saying so. A failure names the file and the reason and changes
// nothing else. Any thread; the calls are synchronous file operations.

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/bundle/bundle.hpp"
#include "platform/foundation/error.hpp"

namespace platform {

enum class SMAppServiceStatus : int { notRegistered = 0, enabled = 1, requiresApproval = 2, notFound = 3 };

class SMAppService {
 public:
  static constexpr const char* errorDomain = "SMAppServiceErrorDomain";
  // Seconds from its last write, either way on the file system's clock,
  // past which a leftover temporary file is removed.
  static constexpr double staleTemporaryAge = 5.0;
  // Seconds registering waits for another holder of the entry's lock.
  static constexpr double lockWait = 3.0;

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

  // The program a launch of an entry ends by executing, as named there, and
  // whether exec finds it: an executable file, looked up as execvp looks
  // (a name without "/" on the search path, the C library's default path
  // when PATH is unset), in the environment and folder the launch built.
  struct ExecProgram {
    std::string name;
    bool found = false;
    bool operator==(const ExecProgram&) const = default;
  };
  // The entry's values a launch uses besides Exec: Name and Icon, as the
  // key-file reader localises them, for %c and %i; the file the session
  // loads it from, for %k; Path, the folder the launch starts in; Terminal,
  // whether it runs the line in a terminal.
  struct LaunchValues {
    std::optional<std::string> name, icon, folder;
    std::optional<std::filesystem::path> file;
    bool terminal = false;
  };
  // What an entry's bytes tell, as the key-file reader reads them.
  struct EntryReading {
    bool hidden = false;
    bool switchedOff = false;
    // What its Exec value starts; absent when it starts nothing.
    std::optional<ExecProgram> program;
  };
  // Absent when the key-file reader or the desktop-entry loader refuses the
  // bytes (the loader looks for the TryExec program and Exec's first word on
  // the search path) or they are over 64 KiB. `file` is where they were
  // read from.
  static std::optional<EntryReading> readEntry(std::string_view bytes,
                                               const std::optional<std::filesystem::path>& file = std::nullopt);
  // What an Exec value (as the key-file reader returns it) starts, read as
  // GLib's launcher runs it: field codes expanded, the line split, run in
  // one of the terminals GLib knows when it asks for one, from the Path
  // folder; then, for a program named "env", as env reads its
  // arguments (options up to "--" or the first other word, the words of an
  // -S string in its place, with ${NAME} from the environment env was
  // given; a lone "-"; assignments) and applies them (-i, "-", -u, the
  // assignments, -C) before it executes the program, itself possibly env.
  // This process's environment and folder stand for the session's. Absent
  // when the line cannot be split, no terminal it asks for is found, the
  // Path folder cannot be entered, env would refuse its arguments or runs
  // nothing, no program is named, or reading it would take over a million
  // steps (only lines that feed env's expansions back into its -S strings,
  // repeat a long value of their own, or look for a program, or expand a
  // session variable of kilobytes, thousands of times come near).
  static std::optional<ExecProgram> programOfExec(const std::string& value, const LaunchValues& values);
  static std::optional<ExecProgram> programOfExec(const std::string& value) { return programOfExec(value, {}); }

  // Test seam: runs when registering has found the entry unreadable, just
  // before moving it aside, where another process may remove it. Set it
  // before the calls; resetProcessState() clears it.
  static void setBeforeMovingAsideHook(std::function<void()> hook);
  // Test seam: runs when registering has written the new entry's
  // temporary file, just before it takes the entry's place. Set it before
  // the calls; resetProcessState() clears it.
  static void setBeforeCommittingHook(std::function<void()> hook);

 private:
  explicit SMAppService(std::shared_ptr<NSBundle> bundle) : bundle_(std::move(bundle)) {}

  std::shared_ptr<NSBundle> bundle_;
};

}  // namespace platform
