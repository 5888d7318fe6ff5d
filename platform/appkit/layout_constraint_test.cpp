#include "platform/appkit/layout_constraint.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <stdexcept>
#include <string>

#include "platform/appkit/view.hpp"

namespace platform {
namespace {

using A = NSLayoutAttribute;

// A view with a size of its own, as a label or a button has.
class SizedView : public NSView {
 public:
  SizedView(CGFloat width, CGFloat height) : NSView(NSZeroRect), size_(NSMakeSize(width, height)) {}
  NSSize intrinsicContentSize() const override { return size_; }

 private:
  NSSize size_;
};

std::shared_ptr<NSView> constrainedChild(const std::shared_ptr<NSView>& parent, std::shared_ptr<NSView> child) {
  child->setTranslatesAutoresizingMaskIntoConstraints(false);
  parent->addSubview(child);
  return child;
}

// The sheet's own arrangement: a chain down the window whose one view
// without a size of its own (the middle) takes what the others leave.
TEST(NSLayoutConstraintTest, SiblingChainsSolveInBothDirectionsAndFollowTheSuperview) {
  for (const bool flipped : {false, true}) {
    class Parent : public NSView {
     public:
      Parent(bool flipped) : NSView(NSMakeRect(0, 0, 300, 400)), flipped_(flipped) {}
      bool isFlipped() const override { return flipped_; }
      bool flipped_;
    };
    auto parent = std::make_shared<Parent>(flipped);
    auto title = constrainedChild(parent, std::make_shared<SizedView>(400, 20));
    auto middle = constrainedChild(parent, std::make_shared<NSView>(NSZeroRect));
    auto button = constrainedChild(parent, std::make_shared<SizedView>(60, 21));
    NSLayoutConstraint::activateConstraints({
        NSLayoutConstraint::make(title, A::top, parent, A::top, 20),
        NSLayoutConstraint::make(title, A::leading, parent, A::leading, 20),
        NSLayoutConstraint::make(title, A::trailing, NSLayoutRelation::lessThanOrEqual, parent, A::trailing, -20),
        NSLayoutConstraint::make(middle, A::top, title, A::bottom, 5),
        NSLayoutConstraint::make(middle, A::leading, title, A::leading),
        NSLayoutConstraint::make(middle, A::trailing, parent, A::trailing, -20),
        NSLayoutConstraint::make(button, A::top, middle, A::bottom, 12),
        NSLayoutConstraint::make(button, A::trailing, parent, A::trailing, -20),
        NSLayoutConstraint::make(button, A::bottom, parent, A::bottom, -20),
    });
    // In the parent's own coordinates: y from the top when flipped.
    const auto y = [&](CGFloat top, CGFloat height) { return flipped ? top : 400 - top - height; };
    EXPECT_EQ(title->frame(), NSMakeRect(20, y(20, 20), 260, 20)) << "capped by trailing <=, flipped " << flipped;
    EXPECT_EQ(button->frame(), NSMakeRect(220, y(359, 21), 60, 21)) << "from its trailing and bottom edges";
    EXPECT_EQ(middle->frame(), NSMakeRect(20, y(45, 302), 260, 302)) << "between the title and the button";

    parent->setFrame(NSMakeRect(0, 0, 500, 600));
    EXPECT_EQ(title->frame().size.width, 400) << "room enough: its own width";
    EXPECT_EQ(middle->frame().size, NSMakeSize(460, 502));
  }
}

TEST(NSLayoutConstraintTest, OnlyTheSupportedFormsAreAccepted) {
  auto parent = std::make_shared<NSView>(NSMakeRect(0, 0, 100, 100));
  auto a = constrainedChild(parent, std::make_shared<NSView>(NSZeroRect));
  auto b = constrainedChild(parent, std::make_shared<NSView>(NSZeroRect));
  auto stranger = std::make_shared<NSView>(NSZeroRect);
  auto grandchild = std::make_shared<NSView>(NSZeroRect);
  a->addSubview(grandchild);
  const auto le = NSLayoutRelation::lessThanOrEqual, ge = NSLayoutRelation::greaterThanOrEqual;
  struct Case {
    const char* name;
    std::function<void()> make;
    bool refused;
  };
  const Case cases[] = {
      {"edge to another edge of a sibling", [&] { NSLayoutConstraint::make(a, A::top, b, A::bottom, 4); }, false},
      {"trailing <= trailing", [&] { NSLayoutConstraint::make(a, A::trailing, le, b, A::trailing, 0); }, false},
      {"edges of two axes", [&] { NSLayoutConstraint::make(a, A::top, b, A::leading); }, true},
      {"leading <= leading", [&] { NSLayoutConstraint::make(a, A::leading, le, b, A::leading, 0); }, true},
      {"trailing >= trailing", [&] { NSLayoutConstraint::make(a, A::trailing, ge, b, A::trailing, 0); }, true},
      {"a view to itself", [&] { NSLayoutConstraint::make(a, A::top, a, A::bottom); }, true},
      {"no second view", [&] { NSLayoutConstraint::make(a, A::top, nullptr, A::top); }, true},
      {"a constant that is not finite", [&] { NSLayoutConstraint::make(a, A::top, b, A::top, NAN); }, true},
  };
  for (const auto& c : cases) {
    if (c.refused) EXPECT_THROW(c.make(), std::invalid_argument) << c.name;
    else EXPECT_NO_THROW(c.make()) << c.name;
  }

  // Activation: a view outside the superview's children refuses the whole batch.
  const auto good = NSLayoutConstraint::make(a, A::top, parent, A::top);
  EXPECT_THROW(NSLayoutConstraint::activateConstraints({good, NSLayoutConstraint::make(a, A::top, stranger, A::top)}),
               std::logic_error);
  EXPECT_THROW(NSLayoutConstraint::activateConstraints({NSLayoutConstraint::make(a, A::top, grandchild, A::top)}),
               std::logic_error)
      << "a child's own subview is not a sibling";
  EXPECT_THROW(NSLayoutConstraint::activateConstraints({NSLayoutConstraint::make(stranger, A::top, parent, A::top)}),
               std::logic_error);
  EXPECT_FALSE(good->isActive());
  EXPECT_TRUE(parent->constraints().empty()) << "nothing of a refused batch is installed";
}

TEST(NSLayoutConstraintTest, AutoresizingMasksShareTheChangeAmongTheFlexibleParts) {
  struct Case {
    NSAutoresizingMaskOptions mask;
    NSRect expected;  // after the parent grows from 100 x 100 to 160 x 130
  };
  const Case cases[] = {
      {NSViewNotSizable, NSMakeRect(10, 10, 20, 20)},
      {NSViewWidthSizable, NSMakeRect(10, 10, 80, 20)},
      {NSViewMinXMargin, NSMakeRect(70, 10, 20, 20)},
      {NSViewMinXMargin | NSViewWidthSizable | NSViewMaxXMargin, NSMakeRect(30, 10, 40, 20)},
      {NSViewHeightSizable | NSViewMaxYMargin, NSMakeRect(10, 10, 20, 35)},
  };
  for (const auto& c : cases) {
    auto parent = std::make_shared<NSView>(NSMakeRect(0, 0, 100, 100));
    auto child = std::make_shared<NSView>(NSMakeRect(10, 10, 20, 20));
    child->setAutoresizingMask(c.mask);
    parent->addSubview(child);
    parent->setFrame(NSMakeRect(0, 0, 160, 130));
    EXPECT_EQ(child->frame(), c.expected) << "mask " << c.mask;
  }
}

}  // namespace
}  // namespace platform
