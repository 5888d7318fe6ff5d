#pragma once

// Menus by target and action, as the menu bar and the status bar show
// them. An item names its action by selector and sends it to its target,
// held weakly, or, with no target, up the responder chain
// (NSApplication::targetForAction). A menu with autoenabling on (the
// default) validates its items when it opens and before a key equivalent
// performs one: an item is enabled exactly when something takes its action
// and that responder's validateMenuItem agrees.
//
// Tracking: open() plays the user opening the menu (its delegate's
// menuWillOpen, the validation, then NSMenuDidBeginTrackingNotification on
// the default centre with the menu as object); choosing an item closes the
// menu first (menuDidClose, NSMenuDidEndTrackingNotification) and then
// sends its action; cancelTracking and cancelTrackingWithoutAnimation close
// an open menu at once. Main thread only.

#include <cairo.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/appkit/event.hpp"
#include "platform/appkit/responder.hpp"

namespace platform {

class NSMenu;

// Raw values as on the platform.
enum class NSControlStateValue : long { mixed = -1, off = 0, on = 1 };

class NSMenuItem : public std::enable_shared_from_this<NSMenuItem> {
 public:
  // An item with the title, action (empty for none) and key equivalent;
  // no target, the Command modifier, state off, enabled.
  static std::shared_ptr<NSMenuItem> make(std::string title, std::string action = "", std::string keyEquivalent = "");
  static std::shared_ptr<NSMenuItem> separatorItem();

  const std::string& title() const { return title_; }
  void setTitle(std::string title) { title_ = std::move(title); }
  bool isSeparatorItem() const { return separator_; }

  const std::string& action() const { return action_; }
  void setAction(std::string selector) { action_ = std::move(selector); }
  // None until set; a target that is gone counts as none.
  std::shared_ptr<NSResponder> target() const { return target_.lock(); }
  void setTarget(const std::shared_ptr<NSResponder>& target) { target_ = target; }

  // The key as typed without modifiers ("q"), with the modifiers that must
  // be held exactly; Command by default.
  const std::string& keyEquivalent() const { return keyEquivalent_; }
  void setKeyEquivalent(std::string key) { keyEquivalent_ = std::move(key); }
  NSEventModifierFlags keyEquivalentModifierMask() const { return keyEquivalentModifierMask_; }
  void setKeyEquivalentModifierMask(NSEventModifierFlags mask) { keyEquivalentModifierMask_ = mask; }

  NSControlStateValue state() const { return state_; }
  void setState(NSControlStateValue state) { state_ = state; }
  bool isEnabled() const { return enabled_; }
  // Overwritten by the next validation while the menu autoenables.
  void setEnabled(bool enabled) { enabled_ = enabled; }

  std::shared_ptr<NSMenu> submenu() const { return submenu_; }
  void setSubmenu(std::shared_ptr<NSMenu> submenu);
  // The menu holding the item; none outside a menu.
  std::shared_ptr<NSMenu> menu() const { return menu_.lock(); }

 private:
  friend class NSMenu;
  std::string title_;
  std::string action_;
  std::weak_ptr<NSResponder> target_;
  std::string keyEquivalent_;
  NSEventModifierFlags keyEquivalentModifierMask_ = NSEventModifierFlagCommand;
  NSControlStateValue state_ = NSControlStateValue::off;
  bool separator_ = false;
  bool enabled_ = true;
  std::shared_ptr<NSMenu> submenu_;
  std::weak_ptr<NSMenu> menu_;
};

class NSMenuDelegate {
 public:
  virtual ~NSMenuDelegate() = default;
  virtual void menuWillOpen(NSMenu& menu) { (void)menu; }
  virtual void menuDidClose(NSMenu& menu) { (void)menu; }
};

class NSMenu : public std::enable_shared_from_this<NSMenu> {
 public:
  explicit NSMenu(std::string title = "") : title_(std::move(title)) {}

  const std::string& title() const { return title_; }
  void setTitle(std::string title) { title_ = std::move(title); }
  const std::vector<std::shared_ptr<NSMenuItem>>& items() const { return items_; }
  // An item already in another menu is refused (std::logic_error), as on
  // the platform.
  void addItem(const std::shared_ptr<NSMenuItem>& item);
  void removeAllItems();
  // The first item with that title; null when there is none.
  std::shared_ptr<NSMenuItem> itemWithTitle(const std::string& title) const;
  // The menu whose item holds this one as submenu; none for a top menu.
  std::shared_ptr<NSMenu> supermenu() const { return supermenu_.lock(); }

  // Held weakly.
  std::shared_ptr<NSMenuDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(const std::shared_ptr<NSMenuDelegate>& delegate) { delegate_ = delegate; }
  bool autoenablesItems() const { return autoenablesItems_; }
  void setAutoenablesItems(bool flag) { autoenablesItems_ = flag; }

  // Validates every item, when the menu autoenables: an item with an action
  // is enabled when a target takes it and that target's validateMenuItem
  // agrees; an item without one only when it holds a submenu. Separators
  // stay disabled.
  void update();

  // ---- tracking ----
  bool isOpen() const { return open_; }
  // The user opens the menu; an open menu stays as it is.
  void open();
  // The user chooses the item at the index: the menu closes, then the
  // enabled item's action is sent. Answers whether it was sent (false for
  // a disabled item, a separator, an index outside the menu).
  bool performActionForItemAtIndex(size_t index);
  void cancelTracking();
  void cancelTrackingWithoutAnimation();

  // A key-down that may be one of the items' key equivalents, this menu's
  // and its submenus', in order: the first enabled item (after validation)
  // whose key and exact modifiers (of Shift, Control, Option, Command) match
  // is performed (true).
  bool performKeyEquivalent(const NSEvent& event);

  // The menu as it shows when open, legibly for pictures: a panel with the
  // items' titles, check marks, key equivalents and separators, disabled
  // items dimmed. Sizes in points.
  CGSize pictureSize() const;
  void drawPicture(cairo_t* cr) const;
  // Writes the picture as a PNG at the scale; false when it cannot.
  bool writePNG(const std::string& path, double scale) const;

 private:
  void close();
  bool validate(NSMenuItem& item) const;

  std::string title_;
  std::vector<std::shared_ptr<NSMenuItem>> items_;
  std::weak_ptr<NSMenu> supermenu_;
  std::weak_ptr<NSMenuDelegate> delegate_;
  bool autoenablesItems_ = true;
  bool open_ = false;
  friend class NSMenuItem;
};

// The key equivalent as a menu shows it: the modifiers' symbols in the
// platform's order (Control, Option, Shift, Command), then the key in
// upper case ("⌥⌘H").
std::string keyEquivalentDisplay(const std::string& key, NSEventModifierFlags mask);

}  // namespace platform
