#pragma once

// What menu items and controls send their actions to. An action is named
// by its selector ("terminate:", "showAbout"); a responder answers whether
// it takes one and performs it. Views, windows and the application are
// responders; so is any object a menu item targets (the application's
// delegate). NSApplication::targetForAction walks the responder chain for
// an item without a target. Main thread only.

#include <string>

namespace platform {

class NSMenuItem;

class NSResponder {
 public:
  virtual ~NSResponder() = default;
  // Whether performAction would take the selector; the base takes none.
  virtual bool respondsToAction(const std::string& selector) const {
    (void)selector;
    return false;
  }
  // Performs the action when the responder takes it (true); false leaves
  // it to whoever comes next.
  virtual bool performAction(const std::string& selector, const void* sender) {
    (void)selector;
    (void)sender;
    return false;
  }
  // Asked of the responder that would take an item's action before its menu
  // shows the item or a key equivalent performs it: whether it is enabled.
  // It may also set the item's state or title. The base enables it.
  virtual bool validateMenuItem(NSMenuItem& item) {
    (void)item;
    return true;
  }
};

}  // namespace platform
