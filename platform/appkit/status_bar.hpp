#pragma once

// The system status bar's items of this application: each has a length in
// points, a button (its image and accessibility label) and an optional
// menu. Items exist from statusItemWithLength until removeStatusItem.
// Main thread only.

#include <memory>
#include <vector>

#include "platform/appkit/button.hpp"
#include "platform/appkit/menu.hpp"
#include "platform/graphics/appkit_image.hpp"

namespace platform {

// Raw values as on the platform.
inline constexpr CGFloat NSVariableStatusItemLength = -1;
inline constexpr CGFloat NSSquareStatusItemLength = -2;

class NSStatusBarButton : public NSButton {
 public:
  NSStatusBarButton() : NSButton(NSZeroRect) { setTitle(""); }
  std::shared_ptr<NSImage> image() const { return image_; }
  void setImage(std::shared_ptr<NSImage> image) { image_ = std::move(image); }

 private:
  std::shared_ptr<NSImage> image_;
};

class NSStatusItem {
 public:
  CGFloat length() const { return length_; }
  void setLength(CGFloat length) { length_ = length; }
  const std::shared_ptr<NSStatusBarButton>& button() const { return button_; }
  std::shared_ptr<NSMenu> menu() const { return menu_; }
  void setMenu(std::shared_ptr<NSMenu> menu) { menu_ = std::move(menu); }
  // Still in the status bar.
  bool isInStatusBar() const { return inBar_; }
  // A click on the item, as the user gives it: opens its menu when it has
  // one, else clicks its button. An item removed from the bar takes none
  // (false).
  bool performClick();

 private:
  friend class NSStatusBar;
  explicit NSStatusItem(CGFloat length) : length_(length), button_(std::make_shared<NSStatusBarButton>()) {}
  CGFloat length_;
  std::shared_ptr<NSStatusBarButton> button_;
  std::shared_ptr<NSMenu> menu_;
  bool inBar_ = true;
};

class NSStatusBar {
 public:
  // Made on first use; resetProcessState() drops it.
  static NSStatusBar& systemStatusBar();

  std::shared_ptr<NSStatusItem> statusItemWithLength(CGFloat length);
  // An item of another bar, or one already removed, is ignored.
  void removeStatusItem(const std::shared_ptr<NSStatusItem>& item);
  // This application's items, in the order they were made.
  const std::vector<std::shared_ptr<NSStatusItem>>& items() const { return items_; }
  // The bar's height in points.
  CGFloat thickness() const { return 24; }

 private:
  std::vector<std::shared_ptr<NSStatusItem>> items_;
};

}  // namespace platform
