#pragma once

// A view as the system's preview views use one: a frame in its superview, a
// flipped or unflipped coordinate system, hit testing, a needs-display flag,
// layer-backing settings, a window it lives in and the two notifications of
// moving into a window and of backing changes. Views are used on the main
// thread only, as on the platform, and hold no lock.
//
// Drawing: there is no display cycle. cacheDisplayInRect runs drawRect into a
// bitmap rep (made by bitmapImageRepForCachingDisplayInRect at the window's
// backing scale, 1 outside a window) with the rep's graphics context current
// and its CTM mapping the view's coordinates, flipped ones included; then
// each subview that is not hidden draws itself and its own subviews over
// it, back to front, clipped to its frame, unless the view draws its
// subviews itself (drawsOwnSubviews).
//
// Keys: a view is a responder. Its window hands key-downs to the first
// responder (window.hpp); a view that does not handle a key passes it to
// its superview and the content view to its window, as the base keyDown
// and keyUp do. performKeyEquivalent offers a key equivalent to the view,
// whose base asks each subview in turn until one takes it. Actions without
// a target (menu items') reach the first responder and its superviews
// through respondsToAction and performAction (responder.hpp); the base
// takes none.

#include <memory>
#include <string>
#include <vector>

#include "platform/appkit/responder.hpp"
#include "platform/graphics/appkit_image.hpp"
#include "platform/graphics/geometry.hpp"

namespace platform {

class NSWindow;
class CALayer;
class NSLayoutConstraint;
class NSCursor;
class NSEvent;
class NSTrackingArea;
class NSAppearance;

// Raw values as on the platform.
enum class NSViewLayerContentsRedrawPolicy : int {
  Never = 0,
  OnSetNeedsDisplay = 1,
  DuringViewResize = 2,
  BeforeViewResize = 3,
  Crossfade = 4,
};

// Archives are not supported: a coder carries nothing, and a view made from
// one starts with a zero frame.
class NSCoder {
 public:
  virtual ~NSCoder() = default;
};

inline constexpr CGFloat NSViewNoIntrinsicMetric = -1;

// How a view follows its superview's size changes; raw values as on the
// platform.
using NSAutoresizingMaskOptions = unsigned long;
inline constexpr NSAutoresizingMaskOptions NSViewNotSizable = 0;
inline constexpr NSAutoresizingMaskOptions NSViewMinXMargin = 1;
inline constexpr NSAutoresizingMaskOptions NSViewWidthSizable = 2;
inline constexpr NSAutoresizingMaskOptions NSViewMaxXMargin = 4;
inline constexpr NSAutoresizingMaskOptions NSViewMinYMargin = 8;
inline constexpr NSAutoresizingMaskOptions NSViewHeightSizable = 16;
inline constexpr NSAutoresizingMaskOptions NSViewMaxYMargin = 32;

class NSView : public NSResponder, public std::enable_shared_from_this<NSView> {
 public:
  explicit NSView(NSRect frame);
  explicit NSView(NSCoder& coder);
  virtual ~NSView() = default;
  NSView(const NSView&) = delete;
  NSView& operator=(const NSView&) = delete;

  // In the superview's coordinates.
  NSRect frame() const { return frame_; }
  // Subviews pinned to this view's edges follow at once, and a backing
  // layer keeps the view's bounds, as a layer-backed view's does.
  void setFrame(NSRect frame);
  // The view's own coordinates: origin zero, the frame's size.
  NSRect bounds() const { return NSMakeRect(0, 0, frame_.size.width, frame_.size.height); }
  // Flipped views have y growing downwards from their top edge.
  virtual bool isFlipped() const { return false; }

  std::shared_ptr<NSView> superview() const { return superview_.lock(); }
  const std::vector<std::shared_ptr<NSView>>& subviews() const { return subviews_; }
  // Adds the view on top of the others, taking it from its old superview;
  // adding a view to itself or to one of its own subviews is ignored.
  void addSubview(const std::shared_ptr<NSView>& view);
  void removeFromSuperview();
  std::shared_ptr<NSWindow> window() const { return window_.lock(); }

  // The deepest view under the point (in the superview's coordinates), the
  // topmost subview first; nullptr when the point is outside the frame.
  virtual std::shared_ptr<NSView> hitTest(NSPoint point);

  bool needsDisplay() const { return needsDisplay_; }
  void setNeedsDisplay(bool flag) { needsDisplay_ = flag; }

  bool wantsLayer() const { return wantsLayer_; }
  // Wanting a layer gives the view its backing layer (kept afterwards).
  void setWantsLayer(bool flag);
  std::shared_ptr<CALayer> layer() const { return layer_; }
  NSViewLayerContentsRedrawPolicy layerContentsRedrawPolicy() const { return redrawPolicy_; }
  void setLayerContentsRedrawPolicy(NSViewLayerContentsRedrawPolicy policy) { redrawPolicy_ = policy; }

  // Auto Layout as far as the system uses it: a subview whose autoresizing
  // mask is not turned into constraints can have its four edges pinned to
  // this view's (layout_constraint.hpp); it is laid out when the last edge
  // is pinned and on every frame change of this view.
  bool translatesAutoresizingMaskIntoConstraints() const { return translatesAutoresizingMask_; }
  void setTranslatesAutoresizingMaskIntoConstraints(bool flag) { translatesAutoresizingMask_ = flag; }
  const std::vector<std::shared_ptr<NSLayoutConstraint>>& constraints() const { return constraints_; }
  void addConstraint(std::shared_ptr<NSLayoutConstraint> constraint);
  // A view that translates its mask follows a size change of its
  // superview as the mask says (the change shared equally by the flexible
  // margins and size); none by default.
  NSAutoresizingMaskOptions autoresizingMask() const { return autoresizingMask_; }
  void setAutoresizingMask(NSAutoresizingMaskOptions mask) { autoresizingMask_ = mask; }
  // Run by setFrame when the size changed; the base applies the subviews'
  // masks.
  virtual void resizeSubviewsWithOldSize(NSSize oldSize);

  // Overridden by views that draw; the base draws nothing.
  virtual void drawRect(NSRect dirtyRect);
  // Called after the view entered, left or changed its window (also for
  // every subview of a moved view), and after the window's backing scale
  // changed. The base implementations do nothing.
  virtual void viewDidMoveToWindow();
  virtual void viewDidChangeBackingProperties();

  // Its own appearance when set, else its superview's, else the
  // application's (appearance.hpp); the base of the notification does
  // nothing.
  std::shared_ptr<NSAppearance> appearance() const { return appearance_; }
  void setAppearance(std::shared_ptr<NSAppearance> appearance);
  std::shared_ptr<NSAppearance> effectiveAppearance() const;
  virtual void viewDidChangeEffectiveAppearance();
  // The application's appearance changed: tells this view, unless it has
  // its own, and its subviews likewise.
  void noteInheritedAppearanceChange();

  // A zeroed rep of the rect's size in points at the window's backing scale
  // (1 outside a window), pixel sides rounded up; nullptr for an empty or
  // non-finite rect.
  std::shared_ptr<NSBitmapImageRep> bitmapImageRepForCachingDisplayInRect(NSRect rect) const;
  // Draws the view's rect (view coordinates) into the rep: drawRect(rect)
  // with the rep's context current and clipped to the rect. Nothing for a
  // null rep or when the rep has no context.
  void cacheDisplayInRect(NSRect rect, const std::shared_ptr<NSBitmapImageRep>& rep);

  // Called before the view (and each subview) moves to another window or
  // out of its window (nullptr); the base does nothing.
  virtual void viewWillMoveToWindow(const std::shared_ptr<NSWindow>& newWindow);
  // Lays out the subviews; the base does nothing. layoutSubtreeIfNeeded
  // runs it for this view and every subview whose needsLayout is set, top
  // down, clearing the flags.
  virtual void layout();
  bool needsLayout() const { return needsLayout_; }
  void setNeedsLayout(bool flag) { needsLayout_ = flag; }
  void layoutSubtreeIfNeeded();

  bool isHidden() const { return hidden_; }
  void setHidden(bool hidden) { hidden_ = hidden; }
  bool isHiddenOrHasHiddenAncestor() const;
  // The part of the bounds not clipped by the superviews (empty outside a
  // window or when hidden).
  NSRect visibleRect() const;
  // From the window's coordinates (origin bottom left, y up) into the view's.
  NSPoint convertPointFromWindow(NSPoint point) const;

  // Mouse tracking: areas, tool tips and cursor rects.
  void addTrackingArea(const std::shared_ptr<NSTrackingArea>& area);
  void removeTrackingArea(const std::shared_ptr<NSTrackingArea>& area);
  const std::vector<std::shared_ptr<NSTrackingArea>>& trackingAreas() const { return trackingAreas_; }
  // Called when the view's visible part may have changed (it entered a
  // window, its window's backing changed); the base does nothing.
  virtual void updateTrackingAreas();
  // Answers the tag of the new tool-tip rect; the view answers the text.
  long addToolTipRect(NSRect rect);
  void removeAllToolTips() { toolTipRects_.clear(); }
  const std::vector<NSRect>& toolTipRects() const { return toolTipRects_; }
  // The text of the tool tip at the point; the base answers none.
  virtual std::string stringForToolTip(NSPoint point) const;
  struct CursorRect {
    NSRect rect;
    std::shared_ptr<NSCursor> cursor;
  };
  // Only while resetCursorRects runs, as on the platform; otherwise ignored.
  void addCursorRect(NSRect rect, const std::shared_ptr<NSCursor>& cursor);
  const std::vector<CursorRect>& cursorRects() const { return cursorRects_; }
  // Adds the view's cursor rects; the base adds none. Run by the window's
  // invalidateCursorRectsForView.
  virtual void resetCursorRects();
  void rebuildCursorRects();
  int cursorRectRebuildCount() const { return cursorRectRebuilds_; }

  // Events; the base implementations ignore them.
  virtual void mouseEntered(const NSEvent& event);
  virtual void mouseExited(const NSEvent& event);
  virtual void mouseMoved(const NSEvent& event);
  virtual void cursorUpdate(const NSEvent& event);
  // A left-button press on the view (the deepest one under it), and its
  // release, which goes to the view that took the press.
  virtual void mouseDown(const NSEvent& event);
  virtual void mouseUp(const NSEvent& event);
  virtual bool mouseDownCanMoveWindow() const { return true; }

  // Whether the view takes the keyboard focus (the base: no); asked by the
  // window before it makes the view first responder and by the key-view
  // loop. becomeFirstResponder and resignFirstResponder are told of the
  // change and may refuse it (the base accepts both).
  virtual bool acceptsFirstResponder() const { return false; }
  virtual bool becomeFirstResponder() { return true; }
  virtual bool resignFirstResponder() { return true; }
  virtual void keyDown(const NSEvent& event);
  virtual void keyUp(const NSEvent& event);
  // True when the view (or, in the base, one of its subviews, front to
  // back in the subview order) performed the key equivalent.
  virtual bool performKeyEquivalent(const NSEvent& event);

  // The size the view's content asks for; NSViewNoIntrinsicMetric (-1) on
  // an axis it has no wish for (the base: both). Constraints use it for an
  // edge no constraint gives.
  virtual NSSize intrinsicContentSize() const { return NSMakeSize(-1, -1); }
  // The intrinsic size when the view is given the width: text that wraps
  // grows taller. The base ignores the width.
  virtual NSSize fittingSizeForWidth(CGFloat width) const {
    (void)width;
    return intrinsicContentSize();
  }
  // Views that draw their subviews in their own drawRect (a hosting view
  // draws its graph with them in it) are not composited over again.
  virtual bool drawsOwnSubviews() const { return false; }
  virtual bool acceptsFirstMouse(const NSEvent* event) const {
    (void)event;
    return false;
  }

  // What the view tells assistive technology; plain properties.
  bool isAccessibilityElement() const { return accessibilityElement_; }
  void setAccessibilityElement(bool flag) { accessibilityElement_ = flag; }
  const std::string& accessibilityLabel() const { return accessibilityLabel_; }
  void setAccessibilityLabel(std::string label) { accessibilityLabel_ = std::move(label); }
  const std::string& accessibilityValue() const { return accessibilityValue_; }
  void setAccessibilityValue(std::string value) { accessibilityValue_ = std::move(value); }
  const std::string& accessibilityHelp() const { return accessibilityHelp_; }
  void setAccessibilityHelp(std::string help) { accessibilityHelp_ = std::move(help); }
  const std::string& accessibilityRole() const { return accessibilityRole_; }
  void setAccessibilityRole(std::string role) { accessibilityRole_ = std::move(role); }

 private:
  friend class NSWindow;
  // Gives the view and its subviews a new window, notifying each view whose
  // window changed.
  void moveToWindow(const std::shared_ptr<NSWindow>& window);
  void notifyBackingChange();
  // Leaves the superview's list without any window change.
  void detachFromSuperview();
  bool isDescendantOf(const NSView* view) const;
  // drawRect, then the subviews, with the current context's CTM in this
  // view's coordinates.
  void displayInCurrentContext(NSRect rect);

  NSRect frame_;
  std::weak_ptr<NSView> superview_;
  std::vector<std::shared_ptr<NSView>> subviews_;
  std::weak_ptr<NSWindow> window_;
  void layoutPinnedSubviews();
  bool translatesAutoresizingMask_ = true;
  NSAutoresizingMaskOptions autoresizingMask_ = NSViewNotSizable;
  std::vector<std::shared_ptr<NSLayoutConstraint>> constraints_;
  bool needsDisplay_ = false;
  bool wantsLayer_ = false;
  std::shared_ptr<CALayer> layer_;
  NSViewLayerContentsRedrawPolicy redrawPolicy_ = NSViewLayerContentsRedrawPolicy::DuringViewResize;
  bool needsLayout_ = false;
  bool hidden_ = false;
  std::vector<std::shared_ptr<NSTrackingArea>> trackingAreas_;
  std::vector<NSRect> toolTipRects_;
  std::vector<CursorRect> cursorRects_;
  bool collectingCursorRects_ = false;
  int cursorRectRebuilds_ = 0;
  std::shared_ptr<NSAppearance> appearance_;
  bool accessibilityElement_ = false;
  std::string accessibilityLabel_, accessibilityValue_, accessibilityHelp_, accessibilityRole_;
};

}  // namespace platform
