#pragma once

// A text view over an attributed text storage: drawn in its font and
// colour where the text sets none, inside its container inset, wrapped to
// its container (the view's width less the inset while the container
// tracks the view's width), links shown with the link attributes. Editing
// is not modelled; a view that is not editable only shows and selects.
//
// A click on a link runs clickedOnLink: the delegate's
// textViewClickedOnLink answers whether it took the link; otherwise a URL
// link is opened with the shared workspace, as the platform's default
// does. A text view that resizes vertically is as tall as its text plus
// the insets (fittingSizeForWidth), which its scroll view follows.
//
// The text storage can be unreachable, as on the platform; the fault seam
// setTextStorageUnreachable makes every new text view's storage absent
// until resetProcessState(). Main thread only.

#include <cstddef>
#include <memory>
#include <string>

#include "platform/appkit/attributed_string.hpp"
#include "platform/appkit/color.hpp"
#include "platform/appkit/font.hpp"
#include "platform/appkit/scroll_view.hpp"
#include "platform/appkit/view.hpp"

namespace platform {

class NSTextView;

class NSTextViewDelegate {
 public:
  virtual ~NSTextViewDelegate() = default;
  // textView:clickedOnLink:atIndex:; true when the delegate handled it.
  virtual bool textViewClickedOnLink(NSTextView& textView, const NSLinkValue& link, std::size_t charIndex) {
    (void)textView;
    (void)link;
    (void)charIndex;
    return false;
  }
};

class NSTextContainer {
 public:
  NSSize containerSize() const { return size_; }
  void setContainerSize(NSSize size) { size_ = size; }
  bool widthTracksTextView() const { return widthTracksTextView_; }
  void setWidthTracksTextView(bool flag) { widthTracksTextView_ = flag; }

 private:
  NSSize size_ = NSMakeSize(1e7, 1e7);
  bool widthTracksTextView_ = true;
};

class NSTextView : public NSView {
 public:
  explicit NSTextView(NSRect frame = NSZeroRect);
  // The platform's standard scrollable text view: a scroll view with a text
  // view of its content width as document view.
  static std::shared_ptr<NSScrollView> scrollableTextView();

  // None when the storage cannot be reached.
  const std::shared_ptr<NSAttributedString>& textStorage() const { return storage_; }
  // Replaces the text (no attributes) and lays the view out again.
  void setString(const std::string& text);
  std::string string() const { return storage_ ? storage_->utf8String() : std::string(); }
  // Tells the view its storage changed: it is laid out again.
  void didChangeText();

  bool isEditable() const { return editable_; }
  void setEditable(bool flag) { editable_ = flag; }
  bool isSelectable() const { return selectable_; }
  void setSelectable(bool flag) { selectable_ = flag; }
  bool isRichText() const { return richText_; }
  void setRichText(bool flag) { richText_ = flag; }
  bool isVerticallyResizable() const { return verticallyResizable_; }
  void setVerticallyResizable(bool flag) { verticallyResizable_ = flag; }
  bool isHorizontallyResizable() const { return horizontallyResizable_; }
  void setHorizontallyResizable(bool flag) { horizontallyResizable_ = flag; }
  NSSize minSize() const { return minSize_; }
  void setMinSize(NSSize size) { minSize_ = size; }
  NSSize maxSize() const { return maxSize_; }
  void setMaxSize(NSSize size) { maxSize_ = size; }
  NSTextContainer& textContainer() { return container_; }
  const NSTextContainer& textContainer() const { return container_; }
  NSSize textContainerInset() const { return inset_; }
  void setTextContainerInset(NSSize inset) { inset_ = inset; }
  const NSColor& backgroundColor() const { return backgroundColor_; }
  void setBackgroundColor(NSColor color) { backgroundColor_ = color; }
  // The colour and font of text whose storage sets none.
  const NSColor& textColor() const { return textColor_; }
  void setTextColor(NSColor color) { textColor_ = color; }
  const NSFont& font() const { return font_; }
  void setFont(NSFont font) { font_ = font; }
  bool usesFindBar() const { return usesFindBar_; }
  void setUsesFindBar(bool flag) { usesFindBar_ = flag; }
  bool allowsUndo() const { return allowsUndo_; }
  void setAllowsUndo(bool flag) { allowsUndo_ = flag; }
  // Added to the attributes of link runs when drawn.
  const NSTextAttributes& linkTextAttributes() const { return linkAttributes_; }
  void setLinkTextAttributes(NSTextAttributes attributes) { linkAttributes_ = std::move(attributes); }
  // Held weakly.
  std::shared_ptr<NSTextViewDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(const std::shared_ptr<NSTextViewDelegate>& delegate) { delegate_ = delegate; }

  // The delegate's answer, else a URL opened with the shared workspace.
  void clickedOnLink(const NSLinkValue& link, std::size_t charIndex);
  // The UTF-16 index of the character under the point (view coordinates);
  // none beside the text.
  std::optional<std::size_t> characterIndexForPoint(NSPoint point) const;
  // The text as drawn.
  TextBlock textBlock() const;

  static void setTextStorageUnreachable(bool unreachable);

  bool isFlipped() const override { return true; }
  bool acceptsFirstResponder() const override { return selectable_; }
  NSSize fittingSizeForWidth(CGFloat width) const override;
  void drawRect(NSRect dirtyRect) override;
  // A press on a link clicks it.
  void mouseDown(const NSEvent& event) override;

 private:
  CGFloat textWidth() const;
  void relayout();

  std::shared_ptr<NSAttributedString> storage_;
  bool editable_ = true, selectable_ = true, richText_ = true;
  bool verticallyResizable_ = true, horizontallyResizable_ = false;
  NSSize minSize_ = NSMakeSize(0, 0);
  NSSize maxSize_ = NSMakeSize(1e7, 1e7);
  NSTextContainer container_;
  NSSize inset_ = NSMakeSize(0, 0);
  NSColor backgroundColor_ = NSColor::textBackgroundColor();
  NSColor textColor_ = NSColor::textColor();
  NSFont font_ = NSFont::systemFontOfSize(12);
  bool usesFindBar_ = false, allowsUndo_ = false;
  NSTextAttributes linkAttributes_;
  std::weak_ptr<NSTextViewDelegate> delegate_;
};

}  // namespace platform
