#include "platform/appkit/workspace.hpp"

#include <unistd.h>

#include <algorithm>
#include <stdexcept>

#include "platform/dispatch/run_loop.hpp"
#include "platform/foundation/process_wide.hpp"

namespace platform {

std::shared_ptr<NSRunningApplication> NSRunningApplication::currentApplication() {
  auto& workspace = NSWorkspace::sharedWorkspace();
  for (const auto& application : workspace.runningApplications()) {
    if (application->processIdentifier() == ::getpid()) return application;
  }
  return nullptr;
}

std::vector<std::shared_ptr<NSRunningApplication>> NSRunningApplication::runningApplicationsWithBundleIdentifier(
    const std::string& bundleIdentifier) {
  auto applications = NSWorkspace::sharedWorkspace().runningApplications();
  std::erase_if(applications, [&](const auto& application) {
    return application->bundleIdentifier() != bundleIdentifier;
  });
  return applications;
}

std::shared_ptr<NSRunningApplication> NSRunningApplication::runningApplicationWithProcessIdentifier(pid_t pid) {
  for (const auto& application : NSWorkspace::sharedWorkspace().runningApplications()) {
    if (application->processIdentifier() == pid) return application;
  }
  return nullptr;
}

bool NSRunningApplication::isTerminated() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return terminated_;
}

bool NSRunningApplication::isActive() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return active_;
}

bool NSRunningApplication::isHidden() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return hidden_;
}

void NSRunningApplication::hide() {
  std::lock_guard<std::mutex> guard(mutex_);
  hidden_ = true;
}

void NSRunningApplication::unhide() {
  std::lock_guard<std::mutex> guard(mutex_);
  hidden_ = false;
}

NSWorkspace& NSWorkspace::sharedWorkspace() {
  static NSWorkspace* workspace = [] {
    auto* made = new NSWorkspace();
    addResetHook(made, [made] { made->reset(); });
    return made;
  }();
  return *workspace;
}

NSWorkspace::NSWorkspace() { reset(); }

void NSWorkspace::reset() {
  std::lock_guard<std::mutex> guard(mutex_);
  current_.reset(new NSRunningApplication(::getpid(), std::nullopt, "vurle", NSApplicationActivationPolicy::regular));
  running_ = {current_};
  frontmost_.reset();
  openedURLs_.clear();
  reduceMotion_ = false;
  reduceTransparency_ = false;
  sessionActive_ = true;
}

std::vector<std::shared_ptr<NSRunningApplication>> NSWorkspace::runningApplications() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return running_;
}

std::shared_ptr<NSRunningApplication> NSWorkspace::frontmostApplication() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return frontmost_;
}

bool NSWorkspace::openURL(const std::string& url) {
  if (url.empty()) return false;
  std::lock_guard<std::mutex> guard(mutex_);
  openedURLs_.push_back(url);
  return true;
}

std::vector<std::string> NSWorkspace::openedURLs() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return openedURLs_;
}

NSNotification NSWorkspace::notification(const NSNotificationName& name,
                                          const std::shared_ptr<NSRunningApplication>& application) const {
  return NSNotification{name, this, {{NSWorkspaceApplicationKey, application}}};
}

std::shared_ptr<NSRunningApplication> NSWorkspace::launchApplication(pid_t pid,
                                                                     std::optional<std::string> bundleIdentifier,
                                                                     std::string localizedName,
                                                                     NSApplicationActivationPolicy policy) {
  std::shared_ptr<NSRunningApplication> application;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (pid <= 0) throw std::invalid_argument("launchApplication: process identifier must be positive");
    for (const auto& running : running_) {
      if (running->processIdentifier() == pid) {
        throw std::invalid_argument("launchApplication: process " + std::to_string(pid) + " is already running");
      }
    }
    application.reset(new NSRunningApplication(pid, std::move(bundleIdentifier), std::move(localizedName), policy));
    running_.push_back(application);
  }
  center_.postNotification(notification(NSWorkspaceDidLaunchApplicationNotification, application));
  return application;
}

void NSWorkspace::activateApplication(pid_t pid) {
  std::shared_ptr<NSRunningApplication> application;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = std::find_if(running_.begin(), running_.end(),
                           [&](const auto& running) { return running->processIdentifier() == pid; });
    if (it == running_.end()) {
      throw std::invalid_argument("activateApplication: process " + std::to_string(pid) + " is not running");
    }
    application = *it;
    if (frontmost_) {
      std::lock_guard<std::mutex> inner(frontmost_->mutex_);
      frontmost_->active_ = false;
    }
    frontmost_ = application;
    std::lock_guard<std::mutex> inner(application->mutex_);
    application->active_ = true;
  }
  center_.postNotification(notification(NSWorkspaceDidActivateApplicationNotification, application));
}

void NSWorkspace::terminateApplication(pid_t pid) {
  auto application = NSRunningApplication::runningApplicationWithProcessIdentifier(pid);
  if (!application) return;
  {
    std::lock_guard<std::mutex> guard(application->mutex_);
    if (application->terminated_) return;
    application->terminated_ = true;
    application->active_ = false;
  }
  RunLoop::main().perform([application] { NSWorkspace::sharedWorkspace().unlist(application); });
}

void NSWorkspace::unlist(const std::shared_ptr<NSRunningApplication>& application) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = std::find(running_.begin(), running_.end(), application);
    if (it == running_.end()) return;
    running_.erase(it);
    if (frontmost_ == application) frontmost_.reset();
  }
  center_.postNotification(notification(NSWorkspaceDidTerminateApplicationNotification, application));
}

bool NSWorkspace::accessibilityDisplayShouldReduceMotion() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return reduceMotion_;
}

void NSWorkspace::post(const NSNotificationName& name) { center_.postNotification(NSNotification{name, this, {}}); }

void NSWorkspace::changeActiveSpace() { post(NSWorkspaceActiveSpaceDidChangeNotification); }

void NSWorkspace::setSessionActive(bool active) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (sessionActive_ == active) return;
    sessionActive_ = active;
  }
  post(active ? NSWorkspaceSessionDidBecomeActiveNotification : NSWorkspaceSessionDidResignActiveNotification);
}

bool NSWorkspace::isSessionActive() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return sessionActive_;
}

void NSWorkspace::sleep() { post(NSWorkspaceWillSleepNotification); }

void NSWorkspace::wake() { post(NSWorkspaceDidWakeNotification); }

void NSWorkspace::setReduceMotion(bool reduceMotion) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (reduceMotion_ == reduceMotion) return;
    reduceMotion_ = reduceMotion;
  }
  post(NSWorkspaceAccessibilityDisplayOptionsDidChangeNotification);
}

bool NSWorkspace::accessibilityDisplayShouldReduceTransparency() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return reduceTransparency_;
}

void NSWorkspace::setReduceTransparency(bool reduceTransparency) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (reduceTransparency_ == reduceTransparency) return;
    reduceTransparency_ = reduceTransparency;
  }
  post(NSWorkspaceAccessibilityDisplayOptionsDidChangeNotification);
}

}  // namespace platform
