#pragma once

// A stack of arranged views in a row (horizontal) or a column (vertical),
// each at its intrinsic size with the spacing between them, from the
// leading or top edge, centred across the stack. Its intrinsic size is the
// row's or column's. Laid out on every size change and when a view is
// arranged. Main thread only.

#include <memory>
#include <vector>

#include "platform/appkit/view.hpp"

namespace platform {

// Raw values as on the platform.
enum class NSUserInterfaceLayoutOrientation : long { horizontal = 0, vertical = 1 };

class NSStackView : public NSView {
 public:
  explicit NSStackView(NSRect frame = NSZeroRect) : NSView(frame) {}
  static std::shared_ptr<NSStackView> stackViewWithViews(const std::vector<std::shared_ptr<NSView>>& views);

  NSUserInterfaceLayoutOrientation orientation() const { return orientation_; }
  void setOrientation(NSUserInterfaceLayoutOrientation orientation);
  CGFloat spacing() const { return spacing_; }
  void setSpacing(CGFloat spacing);
  const std::vector<std::shared_ptr<NSView>>& arrangedSubviews() const { return arranged_; }
  // Also a subview.
  void addArrangedSubview(const std::shared_ptr<NSView>& view);

  bool isFlipped() const override { return true; }
  NSSize intrinsicContentSize() const override;
  void resizeSubviewsWithOldSize(NSSize oldSize) override;

 private:
  void arrange();
  NSUserInterfaceLayoutOrientation orientation_ = NSUserInterfaceLayoutOrientation::horizontal;
  CGFloat spacing_ = 8;
  std::vector<std::shared_ptr<NSView>> arranged_;
};

}  // namespace platform
