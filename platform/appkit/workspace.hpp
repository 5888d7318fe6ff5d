#pragma once

#include <sys/types.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/notifications/notification_center.hpp"

namespace platform {

enum class NSApplicationActivationPolicy : int { regular = 0, accessory = 1, prohibited = 2 };

// A process the workspace knows. Its fields are fixed at launch except
// terminated and active. Safe from any thread.
class NSRunningApplication {
 public:
  // This process.
  static std::shared_ptr<NSRunningApplication> currentApplication();
  // Running (listed) applications with that bundle identifier, in launch
  // order.
  static std::vector<std::shared_ptr<NSRunningApplication>> runningApplicationsWithBundleIdentifier(
      const std::string& bundleIdentifier);
  // Null when no listed application has that process identifier.
  static std::shared_ptr<NSRunningApplication> runningApplicationWithProcessIdentifier(pid_t pid);

  NSRunningApplication(const NSRunningApplication&) = delete;
  NSRunningApplication& operator=(const NSRunningApplication&) = delete;

  pid_t processIdentifier() const { return pid_; }
  const std::optional<std::string>& bundleIdentifier() const { return bundleIdentifier_; }
  const std::string& localizedName() const { return localizedName_; }
  NSApplicationActivationPolicy activationPolicy() const { return policy_; }
  bool isTerminated() const;
  bool isActive() const;
  // Hidden by the user or by another application's "Hide Others"; this
  // process keeps its own state in NSApplication.
  bool isHidden() const;
  void hide();
  void unhide();

 private:
  friend class NSWorkspace;
  NSRunningApplication(pid_t pid, std::optional<std::string> bundleIdentifier, std::string localizedName,
                       NSApplicationActivationPolicy policy)
      : pid_(pid), bundleIdentifier_(std::move(bundleIdentifier)), localizedName_(std::move(localizedName)),
        policy_(policy) {}

  const pid_t pid_;
  const std::optional<std::string> bundleIdentifier_;
  const std::string localizedName_;
  const NSApplicationActivationPolicy policy_;
  mutable std::mutex mutex_;
  bool terminated_ = false;
  bool active_ = false;
  bool hidden_ = false;
};

inline const NSNotificationName NSWorkspaceDidLaunchApplicationNotification =
    "NSWorkspaceDidLaunchApplicationNotification";
inline const NSNotificationName NSWorkspaceDidTerminateApplicationNotification =
    "NSWorkspaceDidTerminateApplicationNotification";
inline const NSNotificationName NSWorkspaceDidActivateApplicationNotification =
    "NSWorkspaceDidActivateApplicationNotification";
// The user-info key under which those notifications carry the application
// (a std::shared_ptr<NSRunningApplication>).
inline const std::string NSWorkspaceApplicationKey = "NSWorkspaceApplicationKey";
// Posted by the workspace without user info.
inline const NSNotificationName NSWorkspaceActiveSpaceDidChangeNotification =
    "NSWorkspaceActiveSpaceDidChangeNotification";
inline const NSNotificationName NSWorkspaceSessionDidResignActiveNotification =
    "NSWorkspaceSessionDidResignActiveNotification";
inline const NSNotificationName NSWorkspaceSessionDidBecomeActiveNotification =
    "NSWorkspaceSessionDidBecomeActiveNotification";
inline const NSNotificationName NSWorkspaceWillSleepNotification = "NSWorkspaceWillSleepNotification";
inline const NSNotificationName NSWorkspaceDidWakeNotification = "NSWorkspaceDidWakeNotification";
inline const NSNotificationName NSWorkspaceAccessibilityDisplayOptionsDidChangeNotification =
    "NSWorkspaceAccessibilityDisplayOptionsDidChangeNotification";

// The shared workspace: the running applications, the frontmost one, the
// workspace's own notification centre, and the opening of URLs, which is
// recorded and not performed. The simulated desktop launches, activates and
// terminates applications with the operations at the end.
class NSWorkspace {
 public:
  static NSWorkspace& sharedWorkspace();
  // Only this process running, none frontmost, nothing opened. Also run by
  // resetProcessState().
  void reset();

  // In launch order, this process first.
  std::vector<std::shared_ptr<NSRunningApplication>> runningApplications() const;
  std::shared_ptr<NSRunningApplication> frontmostApplication() const;
  NSNotificationCenter& notificationCenter() { return center_; }

  // The user's Reduce Motion accessibility option; off until the simulated
  // desktop turns it on.
  bool accessibilityDisplayShouldReduceMotion() const;
  // Reduce Transparency, the same way.
  bool accessibilityDisplayShouldReduceTransparency() const;

  // Always accepted; an empty URL is refused (false).
  bool openURL(const std::string& url);
  std::vector<std::string> openedURLs() const;

  // Lists the application and posts the launch notification. A process
  // identifier that is not positive or already listed is refused with
  // std::invalid_argument and changes nothing.
  std::shared_ptr<NSRunningApplication> launchApplication(
      pid_t pid, std::optional<std::string> bundleIdentifier, std::string localizedName,
      NSApplicationActivationPolicy policy = NSApplicationActivationPolicy::regular);
  // Makes the listed application frontmost and posts the activation
  // notification; std::invalid_argument for one not listed.
  void activateApplication(pid_t pid);
  // The process ends at once (isTerminated); as on the platform the
  // workspace notices later, on the main run loop, where it unlists the
  // application and posts the termination notification. Unknown
  // identifiers are ignored.
  void terminateApplication(pid_t pid);
  // The user switches Spaces: posts the Space-change notification.
  void changeActiveSpace();
  // Fast user switching: the session resigns or becomes active again,
  // each change posted once.
  void setSessionActive(bool active);
  bool isSessionActive() const;
  // The system is about to sleep, or woke: posts the matching notification.
  void sleep();
  void wake();
  // The user changes Reduce Motion; a change posts the accessibility
  // display-options notification.
  void setReduceMotion(bool reduceMotion);
  void setReduceTransparency(bool reduceTransparency);

 private:
  NSWorkspace();
  void unlist(const std::shared_ptr<NSRunningApplication>& application);
  NSNotification notification(const NSNotificationName& name,
                              const std::shared_ptr<NSRunningApplication>& application) const;
  void post(const NSNotificationName& name);

  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<NSRunningApplication>> running_;
  std::shared_ptr<NSRunningApplication> frontmost_;
  std::shared_ptr<NSRunningApplication> current_;
  std::vector<std::string> openedURLs_;
  bool reduceMotion_ = false;
  bool reduceTransparency_ = false;
  bool sessionActive_ = true;
  NSNotificationCenter center_;
};

}  // namespace platform
