#pragma once

#include <memory>
#include <vector>

#include "platform/appkit/view.hpp"

namespace platform {

enum class NSLayoutAttribute { leading, trailing, top, bottom };
// Raw values as on the platform.
enum class NSLayoutRelation : long { lessThanOrEqual = -1, equal = 0, greaterThanOrEqual = 1 };

// Auto Layout as far as the system's windows use it: an edge of a view
// equal to an edge of the same axis of its superview or of a sibling, plus
// a constant, and a trailing edge at most another trailing edge plus a
// constant. Anything else is refused rather than ignored. As on the
// platform, y grows downwards for constraints whatever the views' flip:
// top = superview.top + 20 is 20 points below the superview's top.
//
// Solving (NSView, on every change of the superview's frame or its
// constraints): equalities are carried from known edges to unknown ones,
// either way; when none is left to carry, the first constrained subview
// that knows one edge of an axis takes the other from its intrinsic size
// (for a height, at the width it was given), and carrying starts again.
// Then a trailing edge beyond its limit is moved back to it. A view is
// placed once all four of its edges are known; until then it keeps its
// frame.
class NSLayoutConstraint {
 public:
  // item.attribute = toItem.toAttribute + constant. std::invalid_argument
  // for a missing view, a view constrained to itself or edges of two axes.
  static std::shared_ptr<NSLayoutConstraint> make(const std::shared_ptr<NSView>& item, NSLayoutAttribute attribute,
                                                  const std::shared_ptr<NSView>& toItem,
                                                  NSLayoutAttribute toAttribute, CGFloat constant = 0);
  // The same with a relation; of the inequalities only trailing ≤ trailing
  // is supported (std::invalid_argument otherwise).
  static std::shared_ptr<NSLayoutConstraint> make(const std::shared_ptr<NSView>& item, NSLayoutAttribute attribute,
                                                  NSLayoutRelation relation, const std::shared_ptr<NSView>& toItem,
                                                  NSLayoutAttribute toAttribute, CGFloat constant);
  // Installs each on the first view's superview; std::logic_error, with
  // nothing installed, when the second view is neither that superview nor
  // a sibling.
  static void activateConstraints(const std::vector<std::shared_ptr<NSLayoutConstraint>>& constraints);

  std::shared_ptr<NSView> firstItem() const { return item_.lock(); }
  std::shared_ptr<NSView> secondItem() const { return toItem_.lock(); }
  NSLayoutAttribute firstAttribute() const { return attribute_; }
  NSLayoutAttribute secondAttribute() const { return toAttribute_; }
  // The first attribute (kept for callers of the single-edge form).
  NSLayoutAttribute attribute() const { return attribute_; }
  NSLayoutRelation relation() const { return relation_; }
  CGFloat constant() const { return constant_; }
  bool isActive() const { return active_; }

 private:
  friend class NSView;
  std::weak_ptr<NSView> item_;
  std::weak_ptr<NSView> toItem_;
  NSLayoutAttribute attribute_ = NSLayoutAttribute::leading;
  NSLayoutAttribute toAttribute_ = NSLayoutAttribute::leading;
  NSLayoutRelation relation_ = NSLayoutRelation::equal;
  CGFloat constant_ = 0;
  bool active_ = false;
};

}  // namespace platform
