#pragma once

// A scroll view: a border, scrollers and one document view in a clip view
// inside the border, which cuts the document to the visible part. The document view is laid out on every size change: a document
// whose mask makes its width sizable takes the content width, and its
// height is what it needs at that width (fittingSizeForWidth), when it
// says. The scroll position stays at the top. Scrollers that hide
// automatically are not drawn (they show only while scrolling); others
// are drawn as a track on their edge. Main thread only.

#include <memory>

#include "platform/appkit/color.hpp"
#include "platform/appkit/view.hpp"

namespace platform {

// Raw values as on the platform.
enum class NSBorderType : unsigned long { noBorder = 0, lineBorder = 1, bezelBorder = 2, grooveBorder = 3 };

// The visible part of a scroll view; flipped, so a document starts at its
// top.
class NSClipView : public NSView {
 public:
  explicit NSClipView(NSRect frame = NSZeroRect) : NSView(frame) {}
  bool isFlipped() const override { return true; }
};

class NSScrollView : public NSView {
 public:
  static constexpr CGFloat kScrollerWidth = 15;

  explicit NSScrollView(NSRect frame = NSZeroRect);
  // The clip view that holds the document view.
  std::shared_ptr<NSClipView> contentView() const { return clipView_; }

  NSBorderType borderType() const { return borderType_; }
  void setBorderType(NSBorderType type);
  bool hasVerticalScroller() const { return hasVerticalScroller_; }
  void setHasVerticalScroller(bool flag);
  bool hasHorizontalScroller() const { return hasHorizontalScroller_; }
  void setHasHorizontalScroller(bool flag);
  bool autohidesScrollers() const { return autohidesScrollers_; }
  void setAutohidesScrollers(bool flag);
  const NSColor& backgroundColor() const { return backgroundColor_; }
  void setBackgroundColor(NSColor color) { backgroundColor_ = color; }

  std::shared_ptr<NSView> documentView() const { return documentView_; }
  // Replaces the document view (the old one leaves this view).
  void setDocumentView(const std::shared_ptr<NSView>& view);
  // The size inside the border, less the scrollers that are shown.
  NSSize contentSize() const;
  // Lays the document view out again (after its content changed).
  void tile();

  bool isFlipped() const override { return true; }
  void resizeSubviewsWithOldSize(NSSize oldSize) override;
  void drawRect(NSRect dirtyRect) override;

 private:
  CGFloat borderWidth() const { return borderType_ == NSBorderType::noBorder ? 0 : 1; }
  bool showsVerticalScroller() const { return hasVerticalScroller_ && !autohidesScrollers_; }
  bool showsHorizontalScroller() const { return hasHorizontalScroller_ && !autohidesScrollers_; }

  NSBorderType borderType_ = NSBorderType::noBorder;
  bool hasVerticalScroller_ = false;
  bool hasHorizontalScroller_ = false;
  bool autohidesScrollers_ = false;
  NSColor backgroundColor_ = NSColor::textBackgroundColor();
  std::shared_ptr<NSClipView> clipView_;
  std::shared_ptr<NSView> documentView_;
};

}  // namespace platform
