#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/appkit/menu.hpp"
#include "platform/appkit/responder.hpp"
#include "platform/appkit/window.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/notifications/notification_center.hpp"

namespace platform {

class NSApplication;
class NSEvent;
class NSAppearance;

// Posted on the default center when screens are connected, removed or
// change their frame or scale.
inline const NSNotificationName NSApplicationDidChangeScreenParametersNotification =
    "NSApplicationDidChangeScreenParametersNotification";
// Posted on the default center, with the application as object, when this
// process becomes or stops being the frontmost application (after the
// delegate hears of it).
inline const NSNotificationName NSApplicationDidBecomeActiveNotification = "NSApplicationDidBecomeActiveNotification";
inline const NSNotificationName NSApplicationDidResignActiveNotification = "NSApplicationDidResignActiveNotification";
// Posted on the default center, with the application as object, when it
// terminates (after the delegate's applicationWillTerminate).
inline const NSNotificationName NSApplicationWillTerminateNotification = "NSApplicationWillTerminateNotification";

// A running modal session; end it with NSApplication::endModalSession.
struct NSModalSessionRecord {
  std::weak_ptr<NSWindow> window;
};
using NSModalSession = std::shared_ptr<NSModalSessionRecord>;

class NSApplicationDelegate {
 public:
  virtual ~NSApplicationDelegate() = default;
  // This process became, or stopped being, the frontmost application; the
  // application was hidden.
  virtual void applicationDidBecomeActive(const NSNotification& notification) { (void)notification; }
  virtual void applicationDidResignActive(const NSNotification& notification) { (void)notification; }
  virtual void applicationDidHide(const NSNotification& notification) { (void)notification; }
  virtual void applicationDidFinishLaunching(const NSNotification& notification) { (void)notification; }
  virtual void applicationWillTerminate(const NSNotification& notification) { (void)notification; }
  // The application was launched again while running. YES lets the platform
  // do its own reopen work, NO says the delegate has handled it.
  virtual bool applicationShouldHandleReopen(NSApplication& sender, bool hasVisibleWindows) {
    (void)sender;
    (void)hasVisibleWindows;
    return true;
  }
};

// The application's tile in the Dock; only its badge is modelled. Main
// thread only.
class NSDockTile {
 public:
  // The short text drawn over the icon; none shows no badge.
  const std::optional<std::string>& badgeLabel() const { return badgeLabel_; }
  // An empty text removes the badge, as none does.
  void setBadgeLabel(std::optional<std::string> label) {
    if (label && !label->empty()) {
      badgeLabel_ = std::move(*label);
    } else {
      badgeLabel_.reset();
    }
  }

 private:
  std::optional<std::string> badgeLabel_;
};

// The application object: its delegate, its run, and which window is key
// and which is main; the end of the responder chain. Main thread only.
class NSApplication : public NSResponder, public std::enable_shared_from_this<NSApplication> {
 public:
  // Made on first use; resetProcessState() drops it.
  static std::shared_ptr<NSApplication> shared();

  // Held weakly, as the platform does: whoever sets it keeps it alive.
  std::shared_ptr<NSApplicationDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(const std::shared_ptr<NSApplicationDelegate>& delegate) { delegate_ = delegate; }

  // Finishes launching (the delegate's applicationDidFinishLaunching, once)
  // and serves the main run loop until terminate(). Running twice at once
  // is a std::logic_error; after terminate() it returns at once.
  void run();
  // The launch part of run() alone: the delegate's
  // applicationDidFinishLaunching, once, without serving the run loop, for
  // a caller that drives the main run loop itself (the simulated desktop's
  // scripted runs).
  void finishLaunching();
  bool isRunning() const { return running_; }
  // The delegate's applicationWillTerminate and the will-terminate
  // notification, then the main run loop stops and run() returns. The
  // platform ends the process here; the program's entry returns from main
  // instead. Later calls do nothing.
  void terminate(const void* sender);
  // The system's reopen event, sent when the application is launched again:
  // asks the delegate's applicationShouldHandleReopen, telling it whether a
  // window of this process is on screen, and returns the answer (YES with no
  // delegate). The platform's own work for YES, bringing a minimised window
  // back, has nothing to act on here. Ignored after terminate() (false).
  bool reopen();

  // Hidden by the user (Command-H) or by hide:, until unhide:. Hiding
  // orders no window out here; readers ask isHidden.
  bool isHidden() const { return hidden_; }
  void hide(const void* sender);
  void unhide(const void* sender);
  // Hides every other running application, or shows every application
  // again, this one included.
  void hideOtherApplications(const void* sender);
  void unhideAllApplications(const void* sender);
  // Brings the application's visible windows to the front, in the order of
  // windows(), the key window last.
  void arrangeInFront(const void* sender);
  // Active while this process is the workspace's frontmost application.
  bool isActive() const;
  // Makes this process frontmost (the workspace posts the activation).
  void activateIgnoringOtherApps(bool flag);

  // The Dock-icon policy; every change is accepted here (true).
  NSApplicationActivationPolicy activationPolicy() const { return activationPolicy_; }
  bool setActivationPolicy(NSApplicationActivationPolicy policy);
  NSDockTile& dockTile() { return dockTile_; }

  // Actions. targetForAction answers the target when it takes the action,
  // none when it does not; with no target, the first of the responder
  // chain that takes it: the key window's first responder and its
  // superviews, the key window, the key window's delegate, the application,
  // the application's delegate (a delegate takes part when it is a
  // responder). sendAction performs the action there and answers whether
  // something took it.
  std::shared_ptr<NSResponder> targetForAction(const std::string& selector,
                                               const std::shared_ptr<NSResponder>& target = nullptr);
  bool sendAction(const std::string& selector, const std::shared_ptr<NSResponder>& target, const void* sender);
  // The application takes hide:, hideOtherApplications:,
  // unhideAllApplications:, terminate: and arrangeInFront:.
  bool respondsToAction(const std::string& selector) const override;
  bool performAction(const std::string& selector, const void* sender) override;

  // The menu bar's menus, none until set.
  std::shared_ptr<NSMenu> mainMenu() const { return mainMenu_; }
  void setMainMenu(std::shared_ptr<NSMenu> menu) { mainMenu_ = std::move(menu); }
  std::shared_ptr<NSMenu> windowsMenu() const { return windowsMenu_; }
  void setWindowsMenu(std::shared_ptr<NSMenu> menu) { windowsMenu_ = std::move(menu); }
  std::shared_ptr<NSMenu> helpMenu() const { return helpMenu_; }
  void setHelpMenu(std::shared_ptr<NSMenu> menu) { helpMenu_ = std::move(menu); }

  // The application's windows that still exist, in the order they were
  // first ordered in (a window joins the list then, when the window server
  // first numbers it).
  std::vector<std::shared_ptr<NSWindow>> windows() const;
  std::shared_ptr<NSWindow> keyWindow() const { return keyWindow_.lock(); }
  std::shared_ptr<NSWindow> mainWindow() const { return mainWindow_.lock(); }

  // Pointer events that reached this process after the event taps: a
  // left-button press or release goes to the frontmost of its visible
  // windows under the pointer that takes mouse events (none when another
  // application's window is in front there); a press also makes that
  // window key and the application active, as a click does. A move goes to
  // the window under the pointer, and the window the pointer left hears
  // that it left. A window under an attached sheet takes no press. A key
  // down or up goes to the key window while the application is active
  // (NSWindow's key routing); with no key window, a Command key-down is
  // offered to the main menu's key equivalents. Other event types are not
  // dispatched here.
  void sendEvent(const std::shared_ptr<NSEvent>& event);
  // Its own appearance when set, else the system's (appearance.hpp).
  std::shared_ptr<NSAppearance> appearance() const { return appearance_; }
  void setAppearance(std::shared_ptr<NSAppearance> appearance);
  std::shared_ptr<NSAppearance> effectiveAppearance() const;
  // Tells every view of its windows that inherits the appearance.
  void noteAppearanceChange();

  // The window of the innermost modal session; none outside one. The
  // platform runs a modal window in a loop of its own; here the simulated
  // desktop and tests open and end sessions.
  std::shared_ptr<NSWindow> modalWindow() const;
  NSModalSession beginModalSessionForWindow(const std::shared_ptr<NSWindow>& window);
  // Ends the session wherever it stands; an unknown session is ignored.
  void endModalSession(const NSModalSession& session);

 private:
  friend class NSWindow;
  NSNotification notification(const NSNotificationName& name) const { return NSNotification{name, this, {}}; }

  std::weak_ptr<NSApplicationDelegate> delegate_;
  bool running_ = false;
  bool launched_ = false;
  bool terminated_ = false;
  bool hidden_ = false;
  std::weak_ptr<NSWindow> keyWindow_;
  mutable std::vector<std::weak_ptr<NSWindow>> windows_;
  // A window numbered by the window server joins the list once.
  void noteWindow(const std::weak_ptr<NSWindow>& window);
  std::weak_ptr<NSWindow> mainWindow_;
  // The delegate hears of activation changes through the workspace.
  void observeActivation();
  NotificationToken activationObserver_;
  bool wasActive_ = false;
  NSApplicationActivationPolicy activationPolicy_ = NSApplicationActivationPolicy::regular;
  NSDockTile dockTile_;
  std::shared_ptr<NSMenu> mainMenu_;
  std::shared_ptr<NSMenu> windowsMenu_;
  std::shared_ptr<NSMenu> helpMenu_;
  std::vector<NSModalSession> modalSessions_;
  // The window the last pointer move was in.
  std::weak_ptr<NSWindow> pointerWindow_;
  std::shared_ptr<NSAppearance> appearance_;
};

}  // namespace platform
