#include "platform/appkit/application.hpp"

#include <unistd.h>

#include <algorithm>
#include <iterator>
#include <stdexcept>

#include "platform/appkit/apple_event.hpp"
#include "platform/appkit/view.hpp"
#include "platform/appkit/event.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/dispatch/run_loop.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/windowserver/window_list.hpp"

namespace platform {
namespace {

ProcessWide<std::shared_ptr<NSApplication>> sharedApplication([] { return std::make_shared<NSApplication>(); });

}  // namespace

std::shared_ptr<NSApplication> NSApplication::shared() {
  auto application = sharedApplication.get();
  if (!application->activationObserver_) {
    application->observeActivation();
    // Input that gets past the taps reaches the application's windows.
    NSEvent::routeDeliveredEvents();
  }
  return application;
}

void NSApplication::run() {
  if (running_) throw std::logic_error("NSApplication::run: the application is already running");
  if (terminated_) return;
  running_ = true;
  struct Leave {
    bool& running;
    ~Leave() { running = false; }
  } leave{running_};
  finishLaunching();
  // The delegate may have terminated while launching.
  if (!terminated_) RunLoop::main().run();
}

std::vector<std::shared_ptr<NSWindow>> NSApplication::windows() const {
  std::vector<std::shared_ptr<NSWindow>> alive;
  std::vector<std::weak_ptr<NSWindow>> kept;
  for (const auto& weak : windows_) {
    if (auto window = weak.lock()) {
      alive.push_back(window);
      kept.push_back(weak);
    }
  }
  windows_ = std::move(kept);
  return alive;
}

void NSApplication::noteWindow(const std::weak_ptr<NSWindow>& window) {
  auto added = window.lock();
  if (!added) return;
  for (const auto& known : windows_) {
    if (known.lock() == added) return;
  }
  windows_.push_back(window);
}

void NSApplication::finishLaunching() {
  if (launched_ || terminated_) return;
  launched_ = true;
  // The launch's open-application event is the one being handled while the
  // delegate finishes launching.
  auto& events = NSAppleEventManager::sharedAppleEventManager();
  events.setCurrentAppleEvent(events.launchEvent());
  if (auto current = delegate()) current->applicationDidFinishLaunching(notification("NSApplicationDidFinishLaunchingNotification"));
  events.setCurrentAppleEvent(std::nullopt);
}

void NSApplication::terminate(const void*) {
  if (terminated_) return;
  terminated_ = true;
  if (auto current = delegate()) current->applicationWillTerminate(notification(NSApplicationWillTerminateNotification));
  NSNotificationCenter::defaultCenter().postNotificationName(NSApplicationWillTerminateNotification, this);
  if (running_) RunLoop::main().stop();
}

std::shared_ptr<NSWindow> NSApplication::modalWindow() const {
  for (auto it = modalSessions_.rbegin(); it != modalSessions_.rend(); ++it) {
    if (auto window = (*it)->window.lock()) return window;
  }
  return nullptr;
}

NSModalSession NSApplication::beginModalSessionForWindow(const std::shared_ptr<NSWindow>& window) {
  auto session = std::make_shared<NSModalSessionRecord>(NSModalSessionRecord{window});
  modalSessions_.push_back(session);
  if (window) window->makeKeyAndOrderFront();
  return session;
}

void NSApplication::endModalSession(const NSModalSession& session) {
  std::erase(modalSessions_, session);
}

bool NSApplication::reopen() {
  if (terminated_) return false;
  auto current = delegate();
  if (!current) return true;
  bool visible = false;
  for (const auto& window : WindowTable::shared().windows()) {
    visible = visible || (window.ownerPID == static_cast<int32_t>(::getpid()) && window.onScreen);
  }
  return current->applicationShouldHandleReopen(*this, visible);
}

void NSApplication::hide(const void*) {
  if (hidden_) return;
  hidden_ = true;
  if (auto current = delegate()) current->applicationDidHide(notification("NSApplicationDidHideNotification"));
}

void NSApplication::unhide(const void*) { hidden_ = false; }

void NSApplication::hideOtherApplications(const void*) {
  for (const auto& other : NSWorkspace::sharedWorkspace().runningApplications()) {
    if (other->processIdentifier() != ::getpid()) other->hide();
  }
}

void NSApplication::unhideAllApplications(const void* sender) {
  for (const auto& other : NSWorkspace::sharedWorkspace().runningApplications()) {
    if (other->processIdentifier() != ::getpid()) other->unhide();
  }
  unhide(sender);
}

void NSApplication::arrangeInFront(const void*) {
  const auto key = keyWindow();
  for (const auto& window : windows()) {
    if (window->isVisible() && window != key) window->orderFront();
  }
  if (key && key->isVisible()) key->orderFront();
}

namespace {

const char* const kApplicationActions[] = {"hide:", "hideOtherApplications:", "unhideAllApplications:", "terminate:",
                                           "arrangeInFront:"};

}  // namespace

bool NSApplication::respondsToAction(const std::string& selector) const {
  return std::find(std::begin(kApplicationActions), std::end(kApplicationActions), selector) !=
         std::end(kApplicationActions);
}

bool NSApplication::performAction(const std::string& selector, const void* sender) {
  if (selector == "hide:") {
    hide(sender);
  } else if (selector == "hideOtherApplications:") {
    hideOtherApplications(sender);
  } else if (selector == "unhideAllApplications:") {
    unhideAllApplications(sender);
  } else if (selector == "terminate:") {
    terminate(sender);
  } else if (selector == "arrangeInFront:") {
    arrangeInFront(sender);
  } else {
    return false;
  }
  return true;
}

std::shared_ptr<NSResponder> NSApplication::targetForAction(const std::string& selector,
                                                            const std::shared_ptr<NSResponder>& target) {
  if (selector.empty()) return nullptr;
  if (target) return target->respondsToAction(selector) ? target : nullptr;
  if (auto key = keyWindow()) {
    for (std::shared_ptr<NSView> view = key->firstResponder(); view; view = view->superview()) {
      if (view->respondsToAction(selector)) return view;
    }
    if (key->respondsToAction(selector)) return key;
    if (auto told = std::dynamic_pointer_cast<NSResponder>(key->delegate()); told && told->respondsToAction(selector)) {
      return told;
    }
  }
  if (respondsToAction(selector)) return shared_from_this();
  if (auto told = std::dynamic_pointer_cast<NSResponder>(delegate()); told && told->respondsToAction(selector)) {
    return told;
  }
  return nullptr;
}

bool NSApplication::sendAction(const std::string& selector, const std::shared_ptr<NSResponder>& target,
                               const void* sender) {
  const auto taker = targetForAction(selector, target);
  return taker && taker->performAction(selector, sender);
}

bool NSApplication::isActive() const {
  auto front = NSWorkspace::sharedWorkspace().frontmostApplication();
  return front && front->processIdentifier() == ::getpid();
}

void NSApplication::activateIgnoringOtherApps(bool) { NSWorkspace::sharedWorkspace().activateApplication(::getpid()); }

bool NSApplication::setActivationPolicy(NSApplicationActivationPolicy policy) {
  activationPolicy_ = policy;
  return true;
}

void NSApplication::observeActivation() {
  wasActive_ = isActive();
  std::weak_ptr<NSApplication> weak = weak_from_this();
  activationObserver_ = NSWorkspace::sharedWorkspace().notificationCenter().addObserverForName(
      NSWorkspaceDidActivateApplicationNotification, nullptr, nullptr, [weak](const NSNotification&) {
        auto application = weak.lock();
        if (!application) return;
        const bool active = application->isActive();
        if (active == application->wasActive_) return;
        application->wasActive_ = active;
        const auto note = application->notification(active ? NSApplicationDidBecomeActiveNotification
                                                           : NSApplicationDidResignActiveNotification);
        if (auto current = application->delegate()) {
          if (active) {
            current->applicationDidBecomeActive(note);
          } else {
            current->applicationDidResignActive(note);
          }
        }
        NSNotificationCenter::defaultCenter().postNotificationName(note.name, application.get());
      });
}

}  // namespace platform
