#include "cursor/engine/app_switcher_observer.hpp"

#include <limits>

#include "cursor/native/cursor_trace.hpp"
#include "platform/appkit/event.hpp"
#include "platform/appkit/screen.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/events/event.hpp"

namespace vurle {

using namespace platform;

namespace {

constexpr float kMessagingTimeout = 0.015f;
const std::string kSwitcherSubrole = "AXProcessSwitcherList";

bool commandHeld() {
  return (CGEventSourceFlagsState(kCGEventSourceStateCombinedSessionState) & kCGEventFlagMaskCommand) != 0;
}

CGWindowLevel dockLevel() { return CGWindowLevelForKey(kCGDockWindowLevelKey); }

}  // namespace

std::shared_ptr<AppSwitcherCursorObserver> AppSwitcherCursorObserver::make() {
  return std::shared_ptr<AppSwitcherCursorObserver>(new AppSwitcherCursorObserver());
}

AppSwitcherCursorObserver::AppSwitcherCursorObserver()
    : queue_(DispatchQueue::make("vurle.app-switcher-role", QoS::userInitiated)) {}

AppSwitcherCursorObserver::~AppSwitcherCursorObserver() {
  if (observer_) {
    CFRunLoopRemoveSource(CFRunLoopGetMain(), AXObserverGetRunLoopSource(observer_), kCFRunLoopCommonModes);
  }
}

void AppSwitcherCursorObserver::start() {
  if (observer_) return;
  auto docks = NSRunningApplication::runningApplicationsWithBundleIdentifier("com.apple.dock");
  if (docks.empty()) return;
  dockPID_ = docks.front()->processIdentifier();
  auto application = AXUIElementCreateApplication(dockPID_);
  AXUIElementSetMessagingTimeout(application, kMessagingTimeout);
  AXObserverRef observer;
  if (AXObserverCreate(dockPID_, &AppSwitcherCursorObserver::observerCallback, &observer) != kAXErrorSuccess ||
      !observer) {
    return;
  }
  int added = 0;
  for (const auto* name :
       {&kAXCreatedNotification, &kAXSelectedChildrenChangedNotification, &kAXUIElementDestroyedNotification}) {
    if (AXObserverAddNotification(observer, application, *name, this) == kAXErrorSuccess) ++added;
  }
  if (added == 0) return;
  observer_ = std::move(observer);
  application_ = std::move(application);
  CFRunLoopAddSource(CFRunLoopGetMain(), AXObserverGetRunLoopSource(observer_), kCFRunLoopCommonModes);
}

void AppSwitcherCursorObserver::stop() {
  ++epoch_;
  activeElement_.reset();
  pendingElement_.reset();
  if (observer_) {
    CFRunLoopRemoveSource(CFRunLoopGetMain(), AXObserverGetRunLoopSource(observer_), kCFRunLoopCommonModes);
  }
  observer_.reset();
  application_.reset();
  if (onChange_) onChange_(std::nullopt);
}

void AppSwitcherCursorObserver::observerCallback(AXObserverRef /*observer*/, AXUIElementRef element,
                                                 const std::string& notification, void* refcon) {
  if (refcon == nullptr) return;
  // Held for the call: onChange may drop the owner's last reference.
  auto self = static_cast<AppSwitcherCursorObserver*>(refcon)->weak_from_this().lock();
  if (self) self->handleNotification(element, notification);
}

void AppSwitcherCursorObserver::handleNotification(const AXUIElementRef& element, const std::string& notification) {
  if (notification == kAXUIElementDestroyedNotification) {
    if (activeElement_ && CFEqual(activeElement_, element)) {
      activeElement_.reset();
      ++epoch_;
      if (onChange_) onChange_(std::nullopt);
      CursorTrace::shared()->record("app-switcher-closed");
    }
    return;
  }
  if (!commandHeld() || activeElement_) return;
  if (lookupPending_) {
    pendingElement_ = element;
    return;
  }
  const NSPoint pointer = NSEvent::mouseLocation();
  const auto screens = NSScreen::screens();
  std::shared_ptr<NSScreen> screen;
  for (const auto& candidate : screens) {
    if (CGRectContainsPoint(candidate->frame(), pointer)) {
      screen = candidate;
      break;
    }
  }
  if (!screen) return;
  const CGFloat top = screens.empty() ? 0 : CGRectGetMaxY(screens.front()->frame());
  const CGRect screenFrame = screen->frame();
  const CGPoint point = CGPointMake(pointer.x, top - pointer.y);
  const CGRect frame = CGRectMake(CGRectGetMinX(screenFrame), top - CGRectGetMaxY(screenFrame),
                                  CGRectGetWidth(screenFrame), CGRectGetHeight(screenFrame));
  lookupPending_ = true;
  queue_->async([element, dockPID = dockPID_, point, frame, weak = weak_from_this(), epoch = epoch_] {
    verifyRole(element, dockPID, point, frame, weak, epoch);
  });
}

void AppSwitcherCursorObserver::verifyRole(const AXUIElementRef& element, pid_t dockPID, CGPoint point, CGRect frame,
                                           const std::weak_ptr<AppSwitcherCursorObserver>& observer, uint64_t epoch) {
  AXUIElementSetMessagingTimeout(element, kMessagingTimeout);
  AXAttributeValue subrole;
  const bool matched = AXUIElementCopyAttributeValue(element, kAXSubroleAttribute, &subrole) == kAXErrorSuccess &&
                       std::holds_alternative<std::string>(subrole) &&
                       std::get<std::string>(subrole) == kSwitcherSubrole;
  std::optional<SwitcherWindowMatch> match;
  if (matched) match = switcherWindow(dockPID, std::nullopt, point, frame);
  DispatchQueue::main()->async([observer, matched, match, epoch, element, dockPID, frame] {
    if (auto self = observer.lock()) self->roleVerified(matched, match, epoch, element, dockPID, frame);
  });
}

void AppSwitcherCursorObserver::roleVerified(bool subroleMatched, const std::optional<SwitcherWindowMatch>& match,
                                             uint64_t epoch, const AXUIElementRef& element, pid_t dockPID,
                                             CGRect frame) {
  lookupPending_ = false;
  if (!subroleMatched) {
    CursorTrace::shared()->record("app-switcher-rejected", {.detail = "unverified-role"});
  } else if (!match) {
    CursorTrace::shared()->record("app-switcher-rejected", {.detail = "no-onscreen-dock-surface"});
  }
  if (observer_ && epoch == epoch_ && !activeElement_ && commandHeld() && match && match->owner == dockPID_ &&
      match->level == dockLevel()) {
    activeElement_ = element;
    AppSwitcherCursorScope scope{{match->bounds}, [dockPID, recorded = *match, frame] {
                                   return isStillShowing(dockPID, recorded, frame);
                                 }};
    CursorTrace::shared()->record("app-switcher-verified");
    if (onChange_) onChange_(scope);
  }
  if (pendingElement_) {
    auto next = std::move(pendingElement_);
    pendingElement_.reset();
    handleNotification(next, kAXSelectedChildrenChangedNotification);
  }
}

bool AppSwitcherCursorObserver::isStillShowing(pid_t dockPID, const SwitcherWindowMatch& match, CGRect frame) {
  if (!commandHeld()) return false;
  auto event = CGEventCreate(nullptr);
  if (!event) return false;
  auto current = switcherWindow(dockPID, match.windowNumber, CGEventGetLocation(event), frame);
  return current && current->windowNumber == match.windowNumber && current->owner == match.owner &&
         current->level == dockLevel() && CGRectEqualToRect(current->bounds, match.bounds);
}

std::optional<AppSwitcherCursorObserver::SwitcherWindowMatch> AppSwitcherCursorObserver::switcherWindow(
    pid_t dockPID, std::optional<CGWindowID> windowNumber, CGPoint point, CGRect frame) {
  auto list = windowNumber ? CGWindowListCopyWindowInfo(kCGWindowListOptionIncludingWindow, *windowNumber)
                           : CGWindowListCopyWindowInfo(
                                 kCGWindowListOptionOnScreenOnly | kCGWindowListExcludeDesktopElements, kCGNullWindowID);
  if (!list) return std::nullopt;
  std::optional<SwitcherWindowMatch> found;
  for (const auto& entry : *list) {
    auto match = matchSwitcherWindow(entry, dockPID, windowNumber, point, frame);
    if (!match) continue;
    if (found) return std::nullopt;  // exactly one is required
    found = match;
  }
  return found;
}

std::optional<AppSwitcherCursorObserver::SwitcherWindowMatch> AppSwitcherCursorObserver::matchSwitcherWindow(
    const CFDictionary& entry, pid_t dockPID, std::optional<CGWindowID> windowNumber, CGPoint point, CGRect frame) {
  const CGWindowLevel level = dockLevel();
  if (entryInteger<int32_t>(entry, kCGWindowOwnerPID) != dockPID) return std::nullopt;
  if (entryInteger<int64_t>(entry, kCGWindowLayer) != level) return std::nullopt;
  auto onscreen = entry.find(kCGWindowIsOnscreen);
  if (onscreen == entry.end() || onscreen->second.asBool() != true) return std::nullopt;
  auto alpha = entry.find(kCGWindowAlpha);
  if (alpha == entry.end() || !(alpha->second.asDouble().value_or(0) > 0)) return std::nullopt;
  auto number = entryInteger<CGWindowID>(entry, kCGWindowNumber);
  if (!number || (windowNumber && *number != *windowNumber)) return std::nullopt;
  auto bounds = entry.find(kCGWindowBounds);
  CGRect rect;
  if (bounds == entry.end() || !bounds->second.asDictionary() ||
      !CGRectMakeWithDictionaryRepresentation(*bounds->second.asDictionary(), &rect)) {
    return std::nullopt;
  }
  if (!CGRectContainsPoint(rect, point)) return std::nullopt;
  if (!CGRectContainsRect(CGRectInset(rect, -1, -1), frame)) return std::nullopt;
  return SwitcherWindowMatch{*number, dockPID, level, rect};
}

}  // namespace vurle
