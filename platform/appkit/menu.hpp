#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

class NSMenu;

// A menu item: its title, key equivalent, action (a block here, in place of
// a target and selector), enabled state and optional submenu.
class NSMenuItem {
 public:
  static std::shared_ptr<NSMenuItem> make(std::string title, std::function<void()> action = {},
                                          std::string keyEquivalent = "");
  static std::shared_ptr<NSMenuItem> separatorItem();

  const std::string& title() const { return title_; }
  void setTitle(std::string title) { title_ = std::move(title); }
  const std::string& keyEquivalent() const { return keyEquivalent_; }
  bool isSeparatorItem() const { return separator_; }
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool enabled) { enabled_ = enabled; }
  std::shared_ptr<NSMenu> submenu() const { return submenu_; }
  void setSubmenu(std::shared_ptr<NSMenu> submenu) { submenu_ = std::move(submenu); }
  // Runs the action as a click would; a disabled item or one without an
  // action does nothing and answers false.
  bool performAction() const;

 private:
  std::string title_;
  std::string keyEquivalent_;
  std::function<void()> action_;
  bool separator_ = false;
  bool enabled_ = true;
  std::shared_ptr<NSMenu> submenu_;
};

// A menu: a title and its items in order. Main thread only.
class NSMenu {
 public:
  explicit NSMenu(std::string title = "") : title_(std::move(title)) {}

  const std::string& title() const { return title_; }
  const std::vector<std::shared_ptr<NSMenuItem>>& items() const { return items_; }
  void addItem(std::shared_ptr<NSMenuItem> item) { items_.push_back(std::move(item)); }
  void removeAllItems() { items_.clear(); }
  // The first item with that title; null when there is none.
  std::shared_ptr<NSMenuItem> itemWithTitle(const std::string& title) const;

 private:
  std::string title_;
  std::vector<std::shared_ptr<NSMenuItem>> items_;
};

}  // namespace platform
