#include "platform/appkit/window_controller.hpp"

#include <utility>

#include "platform/appkit/window.hpp"

namespace platform {

std::shared_ptr<NSWindowController> NSWindowController::make(std::shared_ptr<NSWindow> window) {
  std::shared_ptr<NSWindowController> controller(new NSWindowController());
  controller->setWindow(std::move(window));
  return controller;
}

NSWindowController::~NSWindowController() {
  // The window may outlive its controller; it must not name a dead one.
  if (window_ && window_->windowController_.expired()) window_->windowController_.reset();
}

void NSWindowController::setWindow(std::shared_ptr<NSWindow> window) {
  if (window == window_) return;
  if (window_ && window_->windowController_.lock().get() == this) window_->windowController_.reset();
  if (window) {
    if (auto previous = window->windowController(); previous && previous.get() != this) previous->window_.reset();
    window->windowController_ = weak_from_this();
  }
  window_ = std::move(window);
}

void NSWindowController::showWindow(const void* sender) {
  if (window_) window_->makeKeyAndOrderFront(sender);
}

void NSWindowController::close() {
  if (window_) window_->close();
}

}  // namespace platform
