#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cursor/native/app_switcher_cursor_scope.hpp"
#include "platform/accessibility/accessibility.hpp"
#include "platform/dispatch/dispatch_queue.hpp"
#include "platform/graphics/geometry.hpp"
#include "platform/windowserver/window_list.hpp"

namespace vurle {

// Notices the application switcher through the Dock's Accessibility
// notifications, confirms it by the element's subrole (on its own queue)
// and by the Dock's window on screen, and publishes its scope; publishes no
// scope once it closes or observation stops. Main thread only, except for
// the role check and the scope's validity test.
class AppSwitcherCursorObserver : public std::enable_shared_from_this<AppSwitcherCursorObserver> {
 public:
  struct SwitcherWindowMatch {
    platform::CGWindowID windowNumber = 0;
    pid_t owner = 0;
    platform::CGWindowLevel level = 0;
    platform::CGRect bounds;
    bool operator==(const SwitcherWindowMatch&) const = default;
  };
  using ChangeHandler = std::function<void(const std::optional<AppSwitcherCursorScope>&)>;

  static std::shared_ptr<AppSwitcherCursorObserver> make();
  ~AppSwitcherCursorObserver();
  AppSwitcherCursorObserver(const AppSwitcherCursorObserver&) = delete;
  AppSwitcherCursorObserver& operator=(const AppSwitcherCursorObserver&) = delete;

  void setOnChange(ChangeHandler handler) { onChange_ = std::move(handler); }

  // Observes the Dock; stays stopped without a Dock, an observer or any
  // registered notification.
  void start();
  void stop();

  void handleNotification(const platform::AXUIElementRef& element, const std::string& notification);
  // On the observer's queue: the subrole check and the window lookup, then
  // roleVerified on the main queue if the observer still exists.
  static void verifyRole(const platform::AXUIElementRef& element, pid_t dockPID, platform::CGPoint point,
                         platform::CGRect frame, const std::weak_ptr<AppSwitcherCursorObserver>& observer,
                         uint64_t epoch);
  void roleVerified(bool subroleMatched, const std::optional<SwitcherWindowMatch>& match, uint64_t epoch,
                    const platform::AXUIElementRef& element, pid_t dockPID, platform::CGRect frame);

  static bool isStillShowing(pid_t dockPID, const SwitcherWindowMatch& match, platform::CGRect frame);
  // The one Dock window at the Dock level that shows, holds the point and
  // covers the frame (within 1 pt); none when there is none or several.
  static std::optional<SwitcherWindowMatch> switcherWindow(pid_t dockPID,
                                                           std::optional<platform::CGWindowID> windowNumber,
                                                           platform::CGPoint point, platform::CGRect frame);
  static std::optional<SwitcherWindowMatch> matchSwitcherWindow(const platform::CFDictionary& entry, pid_t dockPID,
                                                                std::optional<platform::CGWindowID> windowNumber,
                                                                platform::CGPoint point, platform::CGRect frame);

  bool isObserving() const { return observer_ != nullptr; }
  pid_t dockPID() const { return dockPID_; }
  uint64_t epoch() const { return epoch_; }
  bool lookupPending() const { return lookupPending_; }
  const platform::AXUIElementRef& activeElement() const { return activeElement_; }

 private:
  AppSwitcherCursorObserver();
  static void observerCallback(platform::AXObserverRef observer, platform::AXUIElementRef element,
                               const std::string& notification, void* refcon);

  ChangeHandler onChange_;
  platform::AXObserverRef observer_;
  platform::AXUIElementRef application_;
  const std::shared_ptr<platform::DispatchQueue> queue_;
  uint64_t epoch_ = 0;
  platform::AXUIElementRef activeElement_;
  bool lookupPending_ = false;
  platform::AXUIElementRef pendingElement_;
  pid_t dockPID_ = 0;
};

}  // namespace vurle
