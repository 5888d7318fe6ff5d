#include "platform/desktop/simulated_desktop.hpp"

#include <algorithm>
#include <cmath>
#include <set>
#include <utility>

#include "platform/accessibility/accessibility_server.hpp"
#include "platform/appkit/appearance.hpp"
#include "platform/appkit/application.hpp"
#include "platform/appkit/screen.hpp"
#include "platform/appkit/window.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/desktop/cursor_catalogue.hpp"
#include "platform/events/event_tap.hpp"
#include "platform/foundation/date_formatter.hpp"
#include "platform/foundation/process_info.hpp"
#include "platform/windowserver/current_cursor.hpp"
#include "platform/windowserver/cursor_state.hpp"
#include "platform/windowserver/spaces.hpp"

namespace platform {
namespace {

// The window server's coordinates put the origin at the top left of the
// first screen; AppKit's at its bottom left, y up.
CGRect appKitFrame(CGRect frame, const CGRect& primary) {
  const CGFloat primaryBottom = primary.origin.y + primary.size.height;
  return CGRectMake(frame.origin.x, primaryBottom - (frame.origin.y + frame.size.height), frame.size.width,
                    frame.size.height);
}

bool ownWindowTakesPointer(CGWindowID number) {
  for (const auto& window : NSApplication::shared()->windows()) {
    if (static_cast<CGWindowID>(window->windowNumber()) == number) {
      return window->isVisible() && !window->ignoresMouseEvents();
    }
  }
  return false;
}

bool holds(const CGRect& rect, CGPoint point) {
  return point.x >= rect.origin.x && point.x < rect.origin.x + rect.size.width && point.y >= rect.origin.y &&
         point.y < rect.origin.y + rect.size.height;
}

// An eased path: slow at both ends, as a hand moves a mouse.
double ease(double progress) {
  const double t = std::clamp(progress, 0.0, 1.0);
  return t * t * (3.0 - 2.0 * t);
}

}  // namespace

SimulatedDesktop::SimulatedDesktop(const Scenario& scenario) : scenario_(scenario) {
  const CGRect primary = scenario_.screens.front().frame;
  std::vector<std::shared_ptr<NSScreen>> screens;
  for (size_t i = 0; i < scenario_.screens.size(); ++i) {
    const auto& spec = scenario_.screens[i];
    auto screen = NSScreen::make(appKitFrame(spec.frame, primary), spec.backingFactor, static_cast<uint32_t>(i + 1));
    screen->setSafeAreaInsets(NSEdgeInsets{spec.safeAreaTop, 0, 0, 0});
    if (spec.menuBarHeight) screen->setMenuBarReserve(*spec.menuBarHeight);
    screens.push_back(std::move(screen));
  }
  NSScreen::setScreens(std::move(screens));

  // The session's look and options, as the user has set them.
  const ScenarioSettings& settings = scenario_.settings;
  NSAppearance::setSystemAppearance(
      NSAppearance::appearanceNamed(settings.appearance == "dark" ? NSAppearanceNameDarkAqua : NSAppearanceNameAqua));
  NSWorkspace::sharedWorkspace().setReduceMotion(settings.reduceMotion);
  NSWorkspace::sharedWorkspace().setReduceTransparency(settings.reduceTransparency);
  if (settings.systemVersion) ProcessInfo::setOperatingSystemVersion({*settings.systemVersion, 0, 0});
  if (settings.locale) NSLocale::setCurrentLocaleIdentifier(*settings.locale);
  if (settings.timeZone) NSTimeZone::setDefaultTimeZoneName(*settings.timeZone);
  setAccessibilityTrusted(settings.accessibilityTrusted);

  auto& workspace = NSWorkspace::sharedWorkspace();
  std::set<int32_t> launched;
  for (const auto& window : scenario_.windows) {
    if (launched.insert(window.ownerPID).second &&
        !NSRunningApplication::runningApplicationWithProcessIdentifier(window.ownerPID)) {
      std::optional<std::string> bundle;
      if (!window.ownerBundleIdentifier.empty()) bundle = window.ownerBundleIdentifier;
      workspace.launchApplication(window.ownerPID, bundle, window.ownerName);
    }
  }

  auto& table = WindowTable::shared();
  numbers_.resize(scenario_.windows.size());
  for (size_t i = 0; i < scenario_.windows.size(); ++i) numbers_[i] = table.allocateWindowNumber();
  // addWindow puts a window in front, so the frontmost goes in last.
  for (size_t i = scenario_.windows.size(); i-- > 0;) {
    const auto& window = scenario_.windows[i];
    WindowRecord record;
    record.number = numbers_[i];
    record.ownerPID = window.ownerPID;
    record.ownerName = window.ownerName;
    record.layer = window.level;
    record.bounds = window.frame;
    table.addWindow(record);
  }
  // Each application answers the Accessibility questions about its windows
  // as a real one does: the window under a point, standard, without a sheet,
  // at its frame (window-server coordinates in both). Front to back, so a
  // hit test of an application finds its frontmost window there.
  auto& accessibility = AccessibilityServer::shared();
  for (const auto& window : scenario_.windows) {
    auto element = accessibility.makeElement(window.ownerPID);
    accessibility.setAttribute(element, kAXRoleAttribute, kAXWindowRole);
    accessibility.setAttribute(element, kAXSubroleAttribute, kAXStandardWindowSubrole);
    accessibility.setAttribute(element, kAXPositionAttribute, AXValueCreate(kAXValueCGPointType, &window.frame.origin));
    accessibility.setAttribute(element, kAXSizeAttribute, AXValueCreate(kAXValueCGSizeType, &window.frame.size));
    accessibility.setAttribute(element, kAXSheetsAttribute, std::vector<AXUIElementRef>{});
    accessibility.addElementRegion(window.ownerPID, window.frame, element);
  }
  if (!scenario_.windows.empty()) workspace.activateApplication(scenario_.windows.front().ownerPID);

  pointer_ = scenario_.pointerStart;
  CursorState::shared().setCursorLocation(pointer_);
  showCursor(cursorAt(pointer_));
}

std::string SimulatedDesktop::cursorAt(CGPoint location) const {
  // The window table knows the stacking order, which may change while the
  // scenario runs; only the scenario's own windows carry cursor regions.
  for (const auto& record : WindowTable::shared().windows()) {
    if (!record.onScreen || !holds(record.bounds, location)) continue;
    const auto found = std::find(numbers_.begin(), numbers_.end(), record.number);
    if (found == numbers_.end()) {
      // One of this process's windows that takes the pointer covers what is
      // behind it, and its views show the arrow; a click-through one (the
      // overlay panel) does not.
      if (ownWindowTakesPointer(record.number)) return "arrow";
      continue;
    }
    const auto& window = scenario_.windows[static_cast<size_t>(found - numbers_.begin())];
    for (const auto& region : window.cursorRegions) {
      if (holds(region.rect, location)) return region.cursor;
    }
    return "arrow";
  }
  return "arrow";
}

void SimulatedDesktop::showCursor(const std::string& name) {
  if (name == cursorName_) return;
  auto images = cursorCatalogueImages(name);
  if (!images) return;
  CurrentCursor::shared().setCursorFromAnotherApplication(*images);
  cursorName_ = name;
  ++cursorChanges_;
}

void SimulatedDesktop::postMouse(CGEventType type, CGMouseButton button) {
  auto event = CGEventCreateMouseEvent(nullptr, type, pointer_, button);
  CGEventPost(kCGHIDEventTap, event);
}

void SimulatedDesktop::movePointer(CGPoint location) {
  pointer_ = location;
  CursorState::shared().setCursorLocation(location);
  if (leftDown_) {
    postMouse(kCGEventLeftMouseDragged, kCGMouseButtonLeft);
  } else if (rightDown_) {
    postMouse(kCGEventRightMouseDragged, kCGMouseButtonRight);
  } else {
    postMouse(kCGEventMouseMoved, kCGMouseButtonLeft);
  }
  showCursor(cursorAt(location));
}

void SimulatedDesktop::pressButton(CGMouseButton button) {
  // A click in another application's window brings it to the front.
  for (const auto& record : WindowTable::shared().windows()) {
    if (!record.onScreen || !holds(record.bounds, pointer_)) continue;
    if (std::find(numbers_.begin(), numbers_.end(), record.number) == numbers_.end()) break;
    auto& workspace = NSWorkspace::sharedWorkspace();
    auto front = workspace.frontmostApplication();
    if (!front || front->processIdentifier() != record.ownerPID) workspace.activateApplication(record.ownerPID);
    break;
  }
  if (button == kCGMouseButtonLeft) leftDown_ = true;
  if (button == kCGMouseButtonRight) rightDown_ = true;
  const CGEventType type = button == kCGMouseButtonLeft    ? kCGEventLeftMouseDown
                           : button == kCGMouseButtonRight ? kCGEventRightMouseDown
                                                           : kCGEventOtherMouseDown;
  postMouse(type, button);
}

void SimulatedDesktop::releaseButton(CGMouseButton button) {
  if (button == kCGMouseButtonLeft) leftDown_ = false;
  if (button == kCGMouseButtonRight) rightDown_ = false;
  const CGEventType type = button == kCGMouseButtonLeft    ? kCGEventLeftMouseUp
                           : button == kCGMouseButtonRight ? kCGEventRightMouseUp
                                                           : kCGEventOtherMouseUp;
  postMouse(type, button);
}

void SimulatedDesktop::pressKey(CGKeyCode key, CGEventFlags flags) {
  auto event = CGEventCreateKeyboardEvent(nullptr, key, true);
  CGEventSetFlags(event, flags);
  CGEventKeyboardSetUnicodeString(event, keyboardLayoutCharacters(key, flags));
  CGEventPost(kCGHIDEventTap, event);
}

void SimulatedDesktop::releaseKey(CGKeyCode key, CGEventFlags flags) {
  auto event = CGEventCreateKeyboardEvent(nullptr, key, false);
  CGEventSetFlags(event, flags);
  CGEventKeyboardSetUnicodeString(event, keyboardLayoutCharacters(key, flags));
  CGEventPost(kCGHIDEventTap, event);
}

void SimulatedDesktop::setCursor(const std::string& name) { showCursor(name); }

void SimulatedDesktop::setAccessibilityTrusted(bool trusted) {
  AccessibilityServer::shared().setProcessTrusted(trusted);
  AccessibilityServer::shared().setAPIEnabled(trusted);
}

void SimulatedDesktop::switchSpace(uint32_t display, uint64_t space) {
  Spaces::shared().setCurrentSpace(display, space);
  NSWorkspace::sharedWorkspace().notificationCenter().postNotificationName(
      NSWorkspaceActiveSpaceDidChangeNotification, &NSWorkspace::sharedWorkspace());
}

ScenarioPlayer::ScenarioPlayer(const Scenario& scenario, SimulatedDesktop& desktop, SettingsHandler onSettings,
                               ApplicationHandler onApplication)
    : steps_(scenario.timeline),
      starts_(scenario.stepStarts()),
      total_(scenario.totalDuration()),
      desktop_(desktop),
      onSettings_(std::move(onSettings)),
      onApplication_(std::move(onApplication)) {}

void ScenarioPlayer::begin(size_t index) {
  const auto& step = steps_[index];
  current_ = index;
  switch (step.kind) {
    case ScenarioStep::Kind::move:
      moving_ = index;
      moveFrom_ = step.from.value_or(desktop_.pointer());
      if (step.from) desktop_.movePointer(*step.from);
      break;
    case ScenarioStep::Kind::click:
      desktop_.pressButton(step.button);
      pendingRelease_ = true;
      releaseAt_ = starts_[index] + kClickHold;
      releaseStep_ = index;
      break;
    case ScenarioStep::Kind::key:
      desktop_.pressKey(step.keyCode, step.flags);
      pendingRelease_ = true;
      releaseAt_ = starts_[index] + kKeyHold;
      releaseStep_ = index;
      break;
    case ScenarioStep::Kind::setCursor: desktop_.setCursor(step.cursor); break;
    case ScenarioStep::Kind::space: desktop_.switchSpace(step.display, step.space); break;
    case ScenarioStep::Kind::settings:
      if (onSettings_) onSettings_(step.settingsChange);
      break;
    case ScenarioStep::Kind::open:
    case ScenarioStep::Kind::picture:
      if (onApplication_) onApplication_(step);
      break;
    case ScenarioStep::Kind::grantAccessibility: desktop_.setAccessibilityTrusted(true); break;
    case ScenarioStep::Kind::wait: break;
  }
}

void ScenarioPlayer::advanceTo(double seconds) {
  if (!(seconds > now_)) return;
  now_ = seconds;
  for (;;) {
    // A release due before the next step starts comes first.
    const double nextStart = next_ < steps_.size() ? starts_[next_] : INFINITY;
    if (pendingRelease_ && releaseAt_ <= now_ && releaseAt_ <= nextStart) {
      const auto& step = steps_[releaseStep_];
      if (step.kind == ScenarioStep::Kind::click) {
        desktop_.releaseButton(step.button);
      } else {
        desktop_.releaseKey(step.keyCode, step.flags);
      }
      pendingRelease_ = false;
      continue;
    }
    if (moving_) {
      const auto& move = steps_[*moving_];
      const double start = starts_[*moving_];
      // Compared against the end time itself: (start + d - start) / d can
      // fall a rounding short of 1 and never finish the move.
      const bool done = !(move.seconds > 0) || now_ >= start + move.seconds;
      const double progress = done ? 1.0 : (now_ - start) / move.seconds;
      const double eased = ease(progress);
      const CGPoint at{moveFrom_.x + (move.to.x - moveFrom_.x) * eased, moveFrom_.y + (move.to.y - moveFrom_.y) * eased};
      const CGPoint was = desktop_.pointer();
      if (at.x != was.x || at.y != was.y) desktop_.movePointer(at);
      if (progress >= 1.0) {
        moving_.reset();
        continue;
      }
      return;
    }
    if (next_ >= steps_.size() || starts_[next_] > now_) return;
    begin(next_++);
  }
}

}  // namespace platform
