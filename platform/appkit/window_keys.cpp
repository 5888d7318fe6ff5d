// Key events from the application to its key window, the first responder
// and the responder chain; the key-view loop.

#include <algorithm>
#include <functional>

#include "platform/appkit/application.hpp"
#include "platform/appkit/button.hpp"
#include "platform/appkit/event.hpp"
#include "platform/appkit/view.hpp"
#include "platform/appkit/window.hpp"

namespace platform {
namespace {

constexpr uint16_t kReturn = 36;
constexpr uint16_t kTab = 48;
constexpr uint16_t kEscape = 53;

constexpr NSEventModifierFlags kDeviceIndependent = NSEventModifierFlagShift | NSEventModifierFlagControl |
                                                    NSEventModifierFlagOption | NSEventModifierFlagCommand;

bool holdsCommandOrControl(const NSEvent& event) {
  return event.modifierFlags() & (NSEventModifierFlagCommand | NSEventModifierFlagControl);
}

void inTreeOrder(const std::shared_ptr<NSView>& view, const std::function<void(const std::shared_ptr<NSView>&)>& visit) {
  if (!view || view->isHidden()) return;
  visit(view);
  const auto children = view->subviews();
  for (const auto& child : children) inTreeOrder(child, visit);
}

}  // namespace

// ---- the responder chain of views ----

void NSView::keyDown(const NSEvent& event) {
  if (auto parent = superview()) {
    parent->keyDown(event);
  } else if (auto owner = window(); owner && owner->contentView().get() == this) {
    owner->keyDown(event);
  }
}

void NSView::keyUp(const NSEvent& event) {
  if (auto parent = superview()) parent->keyUp(event);
}

bool NSView::performKeyEquivalent(const NSEvent& event) {
  const auto children = subviews_;
  for (const auto& child : children) {
    if (!child->isHidden() && child->performKeyEquivalent(event)) return true;
  }
  return false;
}

// ---- the window ----

bool NSWindow::performKeyEquivalent(const NSEvent& event) {
  return contentView_ && contentView_->performKeyEquivalent(event);
}

bool NSWindow::makeFirstResponder(const std::shared_ptr<NSView>& responder) {
  if (responder && responder->window().get() != this) return false;
  const auto current = firstResponder();
  if (current == responder) return true;
  if (current && !current->resignFirstResponder()) return false;
  firstResponder_.reset();
  if (!responder) return true;
  if (!responder->acceptsFirstResponder() || !responder->becomeFirstResponder()) return false;
  // The view may have left the window while it was told.
  if (responder->window().get() == this) firstResponder_ = responder;
  return firstResponder() == responder;
}

std::vector<std::shared_ptr<NSView>> NSWindow::keyViewLoop() const {
  std::vector<std::shared_ptr<NSView>> loop;
  inTreeOrder(contentView_, [&](const std::shared_ptr<NSView>& view) {
    if (view->acceptsFirstResponder()) loop.push_back(view);
  });
  return loop;
}

void NSWindow::selectKeyView(bool forward) {
  const auto loop = keyViewLoop();
  if (loop.empty()) {
    makeFirstResponder(nullptr);
    return;
  }
  const auto current = std::find(loop.begin(), loop.end(), firstResponder());
  size_t next;
  if (current == loop.end()) {
    next = forward ? 0 : loop.size() - 1;
  } else {
    const size_t at = static_cast<size_t>(current - loop.begin());
    next = forward ? (at + 1) % loop.size() : (at + loop.size() - 1) % loop.size();
  }
  makeFirstResponder(loop[next]);
}

void NSWindow::selectNextKeyView(const void*) { selectKeyView(true); }
void NSWindow::selectPreviousKeyView(const void*) { selectKeyView(false); }

void NSWindow::keyDown(const NSEvent& event) {
  // Key equivalents with Command or Control were offered before the
  // responders saw the key.
  if (!holdsCommandOrControl(event) && contentView_ && contentView_->performKeyEquivalent(event)) return;
  const NSEventModifierFlags modifiers = event.modifierFlags() & kDeviceIndependent;
  if (event.keyCode() == kReturn && defaultButtonCell_) {
    auto button = defaultButtonCell_->controlView();
    if (button && button->window().get() == this && button->isEnabled() && !button->isHiddenOrHasHiddenAncestor()) {
      button->performClick(this);
      return;
    }
  }
  if (event.keyCode() == kEscape && modifiers == 0) {
    cancelOperation(this);
    return;
  }
  if (event.keyCode() == kTab && (modifiers & ~NSEventModifierFlagShift) == 0) {
    selectKeyView(!(modifiers & NSEventModifierFlagShift));
  }
}

void NSWindow::sendKeyEvent(const NSEvent& event) {
  // Handlers may close the window or drop its last owner.
  const auto keep = shared_from_this();
  if (event.type() == NSEventTypeKeyDown) {
    if (holdsCommandOrControl(event) && performKeyEquivalent(event)) return;
    // What the window declines of a Command key goes to the menu bar before
    // any responder sees the key.
    if (event.modifierFlags() & NSEventModifierFlagCommand) {
      if (auto menu = NSApplication::shared()->mainMenu(); menu && menu->performKeyEquivalent(event)) return;
    }
    if (auto responder = firstResponder()) {
      responder->keyDown(event);
    } else {
      keyDown(event);
    }
  } else if (event.type() == NSEventTypeKeyUp) {
    if (auto responder = firstResponder()) responder->keyUp(event);
  }
}

}  // namespace platform
