#pragma once

#include <memory>
#include <vector>

#include "platform/appkit/view.hpp"

namespace platform {

enum class NSLayoutAttribute { leading, trailing, top, bottom };

// One edge of a view pinned to the same edge of its superview:
// item.edge = superview.edge + constant. That is all the system's windows
// ask of Auto Layout; anything else is refused rather than ignored.
class NSLayoutConstraint {
 public:
  // std::invalid_argument for a missing view or two different edges.
  static std::shared_ptr<NSLayoutConstraint> make(const std::shared_ptr<NSView>& item, NSLayoutAttribute attribute,
                                                  const std::shared_ptr<NSView>& toItem,
                                                  NSLayoutAttribute toAttribute, CGFloat constant = 0);
  // Installs each on its superview; std::logic_error when the second view
  // is not the first one's superview.
  static void activateConstraints(const std::vector<std::shared_ptr<NSLayoutConstraint>>& constraints);

  std::shared_ptr<NSView> firstItem() const { return item_.lock(); }
  std::shared_ptr<NSView> secondItem() const { return toItem_.lock(); }
  NSLayoutAttribute attribute() const { return attribute_; }
  CGFloat constant() const { return constant_; }
  bool isActive() const { return active_; }

 private:
  friend class NSView;
  std::weak_ptr<NSView> item_;
  std::weak_ptr<NSView> toItem_;
  NSLayoutAttribute attribute_ = NSLayoutAttribute::leading;
  CGFloat constant_ = 0;
  bool active_ = false;
};

}  // namespace platform
