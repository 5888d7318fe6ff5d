#include "platform/appkit/view.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "platform/appkit/color.hpp"
#include "platform/appkit/window.hpp"
#include "platform/graphics/context.hpp"
#include "platform/graphics/test_support.hpp"

namespace platform {
namespace {

using testing::Pixel;
using testing::pixelAt;

// Counts the notifications and runs a drawing block.
class ProbeView : public NSView {
 public:
  ProbeView(NSRect frame, bool flipped) : NSView(frame), flipped_(flipped) {}
  bool isFlipped() const override { return flipped_; }
  void drawRect(NSRect dirty) override {
    lastDirty = dirty;
    if (draw) draw();
  }
  void viewDidMoveToWindow() override { ++moves; }
  void viewDidChangeBackingProperties() override { ++backingChanges; }

  std::function<void()> draw;
  NSRect lastDirty = NSZeroRect;
  int moves = 0;
  int backingChanges = 0;

 private:
  bool flipped_;
};

std::shared_ptr<ProbeView> probe(NSRect frame, bool flipped = false) {
  return std::make_shared<ProbeView>(frame, flipped);
}

void fillRect(NSRect rect) {
  const auto cg = NSGraphicsContext::currentContext()->CGContext();
  CGContextSetRGBFillColor(cg, 1, 0, 0, 1);
  CGContextFillRect(cg, rect);
}

TEST(NSViewTest, HitTestingFindsTheTopmostDeepestViewInEveryFlippedCombination) {
  struct Case {
    bool parentFlipped, childFlipped;
    bool grandchildAtSmallerY;  // in the parent's own coordinates
  };
  const Case cases[] = {
      {false, false, true},
      {true, true, true},
      {false, true, false},
      {true, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.parentFlipped << c.childFlipped);
    // The parent is a root view, so its points are in window terms (y up).
    auto parent = probe(NSMakeRect(0, 0, 100, 100), c.parentFlipped);
    const auto at = [&](CGFloat x, CGFloat y) {
      return parent->hitTest(NSMakePoint(x, c.parentFlipped ? 100 - y : y));
    };
    auto child = probe(NSMakeRect(10, 20, 20, 10), c.childFlipped);
    // The grandchild covers y 0..5 of the child's own coordinates, left half.
    auto grandchild = probe(NSMakeRect(0, 0, 10, 5));
    parent->addSubview(child);
    child->addSubview(grandchild);
    EXPECT_EQ(at(15, 22), c.grandchildAtSmallerY ? grandchild : child);
    EXPECT_EQ(at(15, 28), c.grandchildAtSmallerY ? child : grandchild);
    EXPECT_EQ(at(25, 22), child);
    EXPECT_EQ(at(15, 15), parent);
    EXPECT_EQ(parent->hitTest(NSMakePoint(100, 50)), nullptr);
  }

  // Of two overlapping siblings the later one is on top.
  auto parent = probe(NSMakeRect(0, 0, 50, 50));
  auto below = probe(NSMakeRect(0, 0, 50, 50));
  auto above = probe(NSMakeRect(0, 0, 50, 50));
  parent->addSubview(below);
  parent->addSubview(above);
  EXPECT_EQ(parent->hitTest(NSMakePoint(5, 5)), above);
}

TEST(NSViewTest, HierarchyRefusesCyclesAndMovesViewsBetweenSuperviews) {
  auto a = probe(NSMakeRect(0, 0, 10, 10));
  auto b = probe(NSMakeRect(0, 0, 10, 10));
  auto c = probe(NSMakeRect(0, 0, 10, 10));
  a->addSubview(b);
  b->addSubview(c);
  c->addSubview(a);  // would be a cycle
  a->addSubview(a);
  EXPECT_EQ(a->superview(), nullptr);
  EXPECT_EQ(a->subviews().size(), 1u);

  a->addSubview(c);  // moves from b to a
  EXPECT_TRUE(b->subviews().empty());
  EXPECT_EQ(c->superview(), a);
  ASSERT_EQ(a->subviews().size(), 2u);

  std::weak_ptr<NSView> weak = c;
  c.reset();
  weak.lock()->removeFromSuperview();
  EXPECT_TRUE(weak.expired());
  EXPECT_EQ(a->subviews().size(), 1u);
}

TEST(NSViewTest, WindowMovesNotifyEachViewWhoseWindowChanged) {
  auto first = NSWindow::make(NSMakeRect(0, 0, 200, 100), 2.0);
  auto second = NSWindow::make(NSMakeRect(0, 0, 300, 100), 1.0);
  auto content = probe(NSMakeRect(5, 5, 1, 1));
  auto view = probe(NSMakeRect(0, 0, 10, 10));
  auto inner = probe(NSMakeRect(0, 0, 5, 5));
  view->addSubview(inner);
  EXPECT_EQ(inner->moves, 0);  // no window yet, nothing changed

  first->setContentView(content);
  EXPECT_EQ(content->frame(), NSMakeRect(0, 0, 200, 100));
  content->addSubview(view);
  EXPECT_EQ(view->window(), first);
  EXPECT_EQ(inner->window(), first);
  EXPECT_EQ(view->moves, 1);
  EXPECT_EQ(inner->moves, 1);

  // Into another window: one notification each, not a leave and an enter.
  second->setContentView(view);
  EXPECT_EQ(view->window(), second);
  EXPECT_EQ(view->superview(), nullptr);
  EXPECT_TRUE(content->subviews().empty());
  EXPECT_EQ(view->moves, 2);
  EXPECT_EQ(inner->moves, 2);

  // The content view of one window taken by another leaves the first empty.
  first->setContentView(view);
  EXPECT_EQ(second->contentView(), nullptr);
  EXPECT_EQ(view->moves, 3);

  first->setContentView(nullptr);
  EXPECT_EQ(view->window(), nullptr);
  EXPECT_EQ(view->moves, 4);
  EXPECT_EQ(inner->moves, 4);
}

TEST(NSViewTest, BackingScaleChangesReachEveryViewOnlyWhenTheFactorChanges) {
  EXPECT_EQ(NSWindow::make(NSMakeRect(0, 0, 10, 10), 0), nullptr);
  EXPECT_EQ(NSWindow::make(NSMakeRect(0, 0, 10, 10), std::nan("")), nullptr);
  auto window = NSWindow::make(NSMakeRect(0, 0, 10, 10), 2.0);
  auto content = probe(NSZeroRect);
  auto child = probe(NSZeroRect);
  content->addSubview(child);
  window->setContentView(content);

  for (CGFloat factor : {2.0, 0.0, -1.0, std::nan("")}) window->setBackingScaleFactor(factor);
  EXPECT_EQ(child->backingChanges, 0);
  window->setBackingScaleFactor(1.0);
  EXPECT_EQ(window->backingScaleFactor(), 1.0);
  EXPECT_EQ(content->backingChanges, 1);
  EXPECT_EQ(child->backingChanges, 1);
  EXPECT_EQ(child->moves, 1);
}

TEST(NSViewTest, CachedDisplayMapsFlippedAndUnflippedCoordinates) {
  for (bool flipped : {false, true}) {
    SCOPED_TRACE(flipped);
    auto view = probe(NSMakeRect(0, 0, 8, 4), flipped);
    // A stripe along y 0..1: the top row when flipped, the bottom one when not.
    view->draw = [] { fillRect(NSMakeRect(0, 0, 8, 1)); };
    auto rep = view->bitmapImageRepForCachingDisplayInRect(view->bounds());
    ASSERT_NE(rep, nullptr);
    EXPECT_EQ(rep->pixelsWide(), 8);  // no window: one pixel per point
    view->cacheDisplayInRect(view->bounds(), rep);
    EXPECT_EQ(view->lastDirty, view->bounds());
    const int stripeRow = flipped ? 0 : 3;
    for (int y = 0; y < 4; ++y) {
      const Pixel expected = y == stripeRow ? testing::kRed : testing::kClear;
      EXPECT_EQ(pixelAt(rep->bitmapData(), rep->bytesPerRow(), 2, y), expected) << y;
    }
    // The current context is put back after the pass.
    EXPECT_EQ(NSGraphicsContext::currentContext(), nullptr);
  }
}

TEST(NSViewTest, CachedDisplayOfAPartUsesTheWindowScaleAndClipsToThePart) {
  auto window = NSWindow::make(NSMakeRect(0, 0, 20, 20), 2.0);
  auto view = probe(NSMakeRect(0, 0, 20, 20), true);
  window->setContentView(view);
  view->draw = [] { fillRect(NSMakeRect(0, 0, 20, 20)); };
  const NSRect part = NSMakeRect(5, 5, 2.25, 3);
  auto rep = view->bitmapImageRepForCachingDisplayInRect(part);
  ASSERT_NE(rep, nullptr);
  EXPECT_EQ(rep->pixelsWide(), 5);  // 4.5 rounded up
  EXPECT_EQ(rep->pixelsHigh(), 6);
  view->cacheDisplayInRect(part, rep);
  EXPECT_EQ(pixelAt(rep->bitmapData(), rep->bytesPerRow(), 0, 0), testing::kRed);

  EXPECT_EQ(view->bitmapImageRepForCachingDisplayInRect(NSZeroRect), nullptr);
  EXPECT_EQ(view->bitmapImageRepForCachingDisplayInRect(NSMakeRect(0, 0, 1e9, 1)), nullptr);
  EXPECT_EQ(view->bitmapImageRepForCachingDisplayInRect(NSMakeRect(0, 0, INFINITY, 1)), nullptr);
  view->cacheDisplayInRect(part, nullptr);  // nothing, no crash
}

TEST(NSColorTest, SystemBlueFillsAnOvalThroughTheCurrentContext) {
  const NSColor blue = NSColor::systemBlueColor();
  EXPECT_EQ(blue, NSColor::colorWithSRGBRed(0, 122.0 / 255.0, 1, 1));
  EXPECT_EQ(NSColor::colorWithSRGBRed(-1, 2, std::nan(""), 0.5), NSColor::colorWithSRGBRed(0, 1, 0, 0.5));
  blue.setFill();  // no current context: nothing happens

  auto view = probe(NSMakeRect(0, 0, 20, 20), true);
  view->draw = [&] {
    NSColor::systemBlueColor().setFill();
    CGContextFillEllipseInRect(NSGraphicsContext::currentContext()->CGContext(),
                               NSMakeRect(2, 2, 16, 16));
  };
  auto rep = view->bitmapImageRepForCachingDisplayInRect(view->bounds());
  view->cacheDisplayInRect(view->bounds(), rep);
  const uint8_t* data = rep->bitmapData();
  EXPECT_EQ(pixelAt(data, rep->bytesPerRow(), 10, 10), (Pixel{0, 122, 255, 255}));
  // Corners of the oval's rect stay clear; the edge midpoints are covered.
  EXPECT_EQ(pixelAt(data, rep->bytesPerRow(), 3, 3), testing::kClear);
  EXPECT_EQ(pixelAt(data, rep->bytesPerRow(), 16, 16), testing::kClear);
  EXPECT_GT(pixelAt(data, rep->bytesPerRow(), 2, 10)[3], 200);
  EXPECT_GT(pixelAt(data, rep->bytesPerRow(), 10, 17)[3], 200);
}

}  // namespace
}  // namespace platform
