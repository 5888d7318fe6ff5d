#pragma once

// The application's delegate, its menu delegate, the delegate of its one
// main window and the owner of the shell's long-lived components: the
// cursor engine, the preferences, the update controller, the two
// speed-example players, the onboarding flow, the main window, the
// automatic-pause monitor, the animation session, the shortcut controller
// and the status item. It runs the launch sequence that wires them
// together, builds the menu bar and the status menu, brings the main window
// forward on request, answers the menu and shortcut actions (it is the
// target of the menus' own items), and tears everything down at
// termination.
//
// The Dock icon: "hideDock" asks for the accessory policy, but the icon
// stays while an ordinary window (one that can be key, at level 0) is
// showing: being minimised, minimised, or visible while the application
// has focus and is not hidden; and while an update is being presented.
//
// Made once by the program's entry, it lives until the process ends. Main
// thread only; every subscription delivers on the main run loop and holds
// the delegate weakly.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/animation_session.hpp"
#include "app/app_preferences.hpp"
#include "app/automatic_pause_monitor.hpp"
#include "app/shell_seams.hpp"
#include "platform/appkit/apple_event.hpp"
#include "platform/appkit/application.hpp"
#include "platform/appkit/menu.hpp"
#include "platform/appkit/responder.hpp"
#include "platform/appkit/status_bar.hpp"
#include "platform/appkit/window.hpp"
#include "platform/combine/published.hpp"
#include "platform/defaults/user_defaults.hpp"

namespace vurle {

class CursorEngine;

class AppDelegate : public platform::NSApplicationDelegate,
                    public platform::NSWindowDelegate,
                    public platform::NSMenuDelegate,
                    public platform::NSResponder,
                    public std::enable_shared_from_this<AppDelegate> {
 public:
  // The only identifier whose installations carry settings over from the
  // legacy domain; a build setting.
  static const std::string releaseBundleIdentifier;
  static constexpr const char* legacyDomainName = "mirt.vurle";
  static constexpr const char* migrationMarkerKey = "appIdentityMigration.v1";
  static constexpr platform::CGFloat windowWidth = 460;
  static constexpr platform::CGFloat windowHeight = 591;

  // The start-up sequence: migrate the settings, warm the shared morph
  // renderer, run the application with a new delegate built over the
  // seams. Returns when the application's run loop ends.
  static void main(ShellSeams seams = {});

  // Copies the legacy domain's keys into the current domain once, under the
  // marker key, never overwriting a key the current domain holds. Only the
  // release identifier migrates.
  static void migrateAppIdentity(platform::NSUserDefaults& defaults, const std::string& currentDomain,
                                 const std::string& legacyDomain);

  // The open-application event of this launch. A login-item entry starts
  // the program with VURLE_LAUNCHED_AS_LOGIN_ITEM=1; the mark is read and
  // cleared, so processes started from here do not inherit it.
  static platform::NSAppleEventDescriptor launchEventFromEnvironment();
  // Whether the event being handled is an open-application event marked as
  // a login item's launch; anything else is an ordinary launch.
  static bool isLoginItemLaunch();
  // A login item's launch with the agreement accepted opens no window,
  // unless neither the menu-bar item nor the Dock icon would show; the Dock
  // icon is hidden only for such a silent launch that asks for it.
  struct LaunchDecision {
    bool silent = false;
    platform::NSApplicationActivationPolicy policy = platform::NSApplicationActivationPolicy::regular;
    bool operator==(const LaunchDecision&) const = default;
  };
  static LaunchDecision decideLaunch(bool loginItem, bool accepted, bool showMenuBar, bool hideDock);

  // Makes the engine, the preferences over the standard user defaults, the
  // update controller, both example players and the launch-at-login item.
  explicit AppDelegate(ShellSeams seams = {});
  ~AppDelegate() override;

  // Application delegate.
  void applicationDidFinishLaunching(const platform::NSNotification& notification) override;
  // Brings the main window forward; answers false so the system opens
  // nothing of its own.
  bool applicationShouldHandleReopen(platform::NSApplication& sender, bool hasVisibleWindows) override;
  void applicationDidBecomeActive(const platform::NSNotification& notification) override;
  void applicationDidResignActive(const platform::NSNotification& notification) override;
  void applicationDidHide(const platform::NSNotification& notification) override;
  void applicationWillTerminate(const platform::NSNotification& notification) override;

  // Main window delegate.
  void windowDidBecomeKey(const platform::NSNotification& notification) override;
  void windowDidResignKey(const platform::NSNotification& notification) override;
  void windowWillClose(const platform::NSNotification& notification) override;
  void windowDidMiniaturize(const platform::NSNotification& notification) override;
  void windowDidDeminiaturize(const platform::NSNotification& notification) override;

  // Actions of the menus, the status menu and the shortcuts.
  void showSettings();
  void toggleAnimations();
  // Flips launch at login; when the item then waits for approval or the
  // change failed, the settings page shows why on its General tab.
  void toggleLaunchAtLogin();
  void checkForUpdates();
  void showOnboarding();
  void showAbout();
  void showWindow();
  void reportBug();
  void pause();

  // The actions above by selector ("showAbout"), for the menus.
  bool respondsToAction(const std::string& selector) const override;
  bool performAction(const std::string& selector, const void* sender) override;
  // Both menus: the launch-at-login item is re-read and checked while the
  // item is registered; "Check for Updates…" only while the updater can
  // check; everything else enabled.
  bool validateMenuItem(platform::NSMenuItem& item) override;
  // The status menu opening and closing (other menus are ignored): the
  // login item re-read, then "status-menu-open"; "status-menu-close".
  void menuWillOpen(platform::NSMenu& menu) override;
  void menuDidClose(platform::NSMenu& menu) override;

  void showMainWindow();
  void performShortcut(ShortcutAction action);
  // The Dock-icon policy over the hide-Dock wish and the update
  // presentation; either one absent is read now. The policy is set only
  // when it changes.
  void updateActivationPolicy(std::optional<bool> hideDock, std::optional<bool> isPresentingUpdate);
  void updateActivationPolicy() { updateActivationPolicy(std::nullopt, std::nullopt); }
  // The same on the run loop's next pass, so a window finishes closing,
  // hiding or miniaturising before its visibility is read.
  void scheduleActivationPolicyUpdate();
  // The sink of the window notifications (did-become-key, will-close,
  // will-miniaturize, did-miniaturize of any window of the application).
  void windowPresenceChanged(const platform::NSNotification& notification);
  // Shows or removes the menu-bar item; removing closes its open menu
  // first, so its delegate hears that it closed.
  void setStatusItemVisible(bool visible);
  // Retitles the menu's animations item (the first that sends
  // toggleAnimations); a menu without one is left alone.
  static void updateToggleTitle(bool animationsOn, platform::NSMenu& menu);
  // The menu bar: the application, File, Edit, Window and Help menus.
  void buildMainMenu();

  const std::shared_ptr<CursorEngine>& engine() const { return engine_; }
  const std::shared_ptr<AppPreferences>& preferences() const { return preferences_; }
  const std::shared_ptr<AgreementGate>& agreement() const { return seams_.agreement; }
  const std::shared_ptr<SpeedExamples>& inlineExamples() const { return inlineExamples_; }
  const std::shared_ptr<SpeedExamples>& welcomeExamples() const { return welcomeExamples_; }
  // Made on first use.
  const std::shared_ptr<OnboardingController>& onboarding();
  const std::shared_ptr<platform::NSWindow>& window();
  const std::shared_ptr<AutomaticPauseMonitor>& automaticPause();
  const std::shared_ptr<LoginItem>& loginItem() const { return loginItem_; }
  const std::shared_ptr<AnimationSession>& animationSession() const { return animationSession_; }
  const std::shared_ptr<platform::NSWindowController>& aboutWindow() const { return aboutWindow_; }
  bool hasAppFocus() const { return hasAppFocus_; }
  bool launchedSilently() const { return launch_.silent; }
  const std::shared_ptr<platform::NSStatusItem>& statusItem() const { return statusItem_; }
  // Windows whose miniaturising has begun and not yet ended.
  size_t minimizingWindowCount() const { return minimizingWindows_.size(); }

 private:
  bool isMainWindow(const platform::NSNotification& notification) const;
  // The session's pause: the engine off, its demo gone, its animation ended.
  void pauseEngine();
  void stopExamplesAndRecording();
  // Starts the example player of the page that shows.
  void startVisibleExamples();
  AnimationSession::Operations sessionOperations();

  ShellSeams seams_;
  std::shared_ptr<CursorEngine> engine_;
  std::shared_ptr<AppPreferences> preferences_;
  std::shared_ptr<UpdateController> updates_;
  std::shared_ptr<SpeedExamples> inlineExamples_;
  std::shared_ptr<SpeedExamples> welcomeExamples_;
  std::shared_ptr<OnboardingController> onboarding_;
  std::shared_ptr<platform::NSWindow> window_;
  std::shared_ptr<platform::NSWindowController> aboutWindow_;
  std::shared_ptr<platform::NSStatusItem> statusItem_;
  platform::AnyCancellable statusObservation_;
  std::vector<std::weak_ptr<platform::NSWindow>> minimizingWindows_;
  std::vector<platform::NotificationToken> windowObservers_;
  bool isShowing(const platform::NSWindow& window) const;
  std::shared_ptr<ShortcutController> shortcutController_;
  std::shared_ptr<AnimationSession> animationSession_;
  std::shared_ptr<AutomaticPauseMonitor> automaticPause_;
  std::shared_ptr<LoginItem> loginItem_;
  std::vector<platform::AnyCancellable> presenceObservations_;
  bool hasAppFocus_ = false;
  LaunchDecision launch_;
};

}  // namespace vurle
