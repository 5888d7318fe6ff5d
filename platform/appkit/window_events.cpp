// Pointer events from the application to its windows and on to their views.

#include <algorithm>
#include <functional>
#include <unistd.h>

#include "platform/appkit/application.hpp"
#include "platform/appkit/event.hpp"
#include "platform/appkit/tracking_area.hpp"
#include "platform/appkit/view.hpp"
#include "platform/appkit/window.hpp"

namespace platform {
namespace {

bool isPress(NSEventType type) { return type == NSEventTypeLeftMouseDown || type == NSEventTypeLeftMouseUp; }
bool isMove(NSEventType type) { return type == NSEventTypeMouseMoved || type == NSEventTypeLeftMouseDragged; }

void eachView(const std::shared_ptr<NSView>& view, const std::function<void(const std::shared_ptr<NSView>&)>& visit) {
  if (!view) return;
  visit(view);
  const auto children = view->subviews();
  for (const auto& child : children) eachView(child, visit);
}

// Windows hand their views events numbered in the order they were made.
long nextEventNumber() {
  static long number = 0;
  return ++number;
}

}  // namespace

void NSWindow::sendEvent(const NSEvent& event) {
  const NSEventType type = event.type();
  if (type == NSEventTypeLeftMouseDown) {
    if (attachedSheet_ || !contentView_) return;
    auto target = contentView_->hitTest(event.locationInWindow());
    mouseDownView_ = target;
    if (target) target->mouseDown(event);
  } else if (type == NSEventTypeLeftMouseUp) {
    auto target = mouseDownView_.lock();
    mouseDownView_.reset();
    if (target && target->window().get() == this) target->mouseUp(event);
  } else if (isMove(type)) {
    updateTracking(event, true);
  } else if (type == NSEventTypeMouseExited) {
    updateTracking(event, false);
  } else if (type == NSEventTypeKeyDown || type == NSEventTypeKeyUp) {
    sendKeyEvent(event);
  }
}

void NSWindow::updateTracking(const NSEvent& event, bool inWindow) {
  const bool active = NSApplication::shared()->isActive();
  const bool key = isKeyWindow();
  struct Change {
    std::shared_ptr<NSView> view;
    std::shared_ptr<NSTrackingArea> area;
  };
  std::vector<Change> exited, entered, moved;
  std::vector<std::weak_ptr<NSTrackingArea>> inside;
  const auto wasInside = [this](const std::shared_ptr<NSTrackingArea>& area) {
    return std::any_of(trackedInside_.begin(), trackedInside_.end(),
                       [&](const std::weak_ptr<NSTrackingArea>& known) { return known.lock() == area; });
  };
  eachView(contentView_, [&](const std::shared_ptr<NSView>& view) {
    for (const auto& area : view->trackingAreas()) {
      const auto options = area->options();
      const bool live = (options & NSTrackingActiveAlways) || ((options & NSTrackingActiveInActiveApp) && active) ||
                        ((options & NSTrackingActiveInKeyWindow) && key);
      bool now = false;
      if (inWindow && live && !view->isHiddenOrHasHiddenAncestor()) {
        const NSRect rect = (options & NSTrackingInVisibleRect) ? view->visibleRect() : area->rect();
        now = CGRectContainsPoint(rect, view->convertPointFromWindow(event.locationInWindow()));
      }
      const bool was = wasInside(area);
      if (now) inside.push_back(area);
      if (was && !now) exited.push_back({view, area});
      if (!was && now) entered.push_back({view, area});
      if (was && now) moved.push_back({view, area});
    }
  });
  // Areas of views that left the window since are forgotten without a word.
  trackedInside_ = std::move(inside);
  const auto withType = [&](NSEventType t) {
    return NSEvent(t, event.locationInWindow(), event.timestamp(), nextEventNumber());
  };
  for (const auto& c : exited) {
    if (c.area->options() & NSTrackingMouseEnteredAndExited) c.view->mouseExited(withType(NSEventTypeMouseExited));
  }
  for (const auto& c : entered) {
    if (c.area->options() & NSTrackingMouseEnteredAndExited) c.view->mouseEntered(withType(NSEventTypeMouseEntered));
    if (c.area->options() & NSTrackingCursorUpdate) c.view->cursorUpdate(withType(NSEventTypeCursorUpdate));
  }
  for (const auto& c : moved) {
    if (c.area->options() & NSTrackingMouseMoved) c.view->mouseMoved(withType(NSEventTypeMouseMoved));
  }
}

void NSApplication::sendEvent(const std::shared_ptr<NSEvent>& event) {
  if (event && (event->type() == NSEventTypeKeyDown || event->type() == NSEventTypeKeyUp)) {
    // Keys go to the key window, and only while this application is active.
    if (!isActive()) return;
    if (auto key = keyWindow()) {
      key->sendEvent(*event);
    } else if (event->type() == NSEventTypeKeyDown && (event->modifierFlags() & NSEventModifierFlagCommand) && mainMenu_) {
      const auto menu = mainMenu_;
      menu->performKeyEquivalent(*event);
    }
    return;
  }
  if (!event || !(isPress(event->type()) || isMove(event->type()))) return;
  const NSPoint location = event->locationInWindow();  // global: events from the taps carry no window
  const auto own = windows();
  std::shared_ptr<NSWindow> target;
  for (long number = NSWindow::windowNumberAtPoint(location, 0); number > 0;
       number = NSWindow::windowNumberAtPoint(location, number)) {
    auto found = std::find_if(own.begin(), own.end(),
                              [number](const std::shared_ptr<NSWindow>& w) { return w->windowNumber() == number; });
    if (found == own.end()) break;  // another application's window is in front here
    if ((*found)->isVisible() && !(*found)->ignoresMouseEvents()) {
      target = *found;
      break;
    }
  }
  const auto inWindow = [&](NSEventType type, const std::shared_ptr<NSWindow>& window) {
    return NSEvent(type, window->convertPointFromScreen(location), event->timestamp(), nextEventNumber());
  };
  if (isMove(event->type())) {
    auto previous = pointerWindow_.lock();
    if (previous && previous != target) previous->sendEvent(inWindow(NSEventTypeMouseExited, previous));
    pointerWindow_ = target;
    if (target) target->sendEvent(inWindow(event->type(), target));
    return;
  }
  if (event->type() == NSEventTypeLeftMouseDown) {
    if (!target) return;
    if (!isActive()) activateIgnoringOtherApps(true);
    if (!target->isKeyWindow() && !target->attachedSheet()) target->makeKeyWindow();
    target->sendEvent(inWindow(NSEventTypeLeftMouseDown, target));
    return;
  }
  // A release goes to the window that took the press, wherever it is now.
  for (const auto& window : own) window->sendEvent(inWindow(NSEventTypeLeftMouseUp, window));
}

}  // namespace platform
