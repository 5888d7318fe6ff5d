#pragma once

// A label: text in a font and colour, on one line or wrapping to the width
// it is given, that is neither edited nor selected here. Its intrinsic
// size is the text's: one line, or for a wrapping label the lines at the
// width it has (its natural width while it has none). Main thread only.

#include <memory>
#include <string>

#include "platform/appkit/color.hpp"
#include "platform/appkit/font.hpp"
#include "platform/appkit/view.hpp"

namespace platform {

class NSTextField : public NSView {
 public:
  explicit NSTextField(NSRect frame = NSZeroRect) : NSView(frame) {}
  static std::shared_ptr<NSTextField> labelWithString(std::string text);
  static std::shared_ptr<NSTextField> wrappingLabelWithString(std::string text);

  const std::string& stringValue() const { return text_; }
  void setStringValue(std::string text) { text_ = std::move(text); }
  const NSFont& font() const { return font_; }
  void setFont(NSFont font) { font_ = font; }
  const NSColor& textColor() const { return textColor_; }
  void setTextColor(NSColor color) { textColor_ = color; }
  bool wraps() const { return wraps_; }
  void setWraps(bool wraps) { wraps_ = wraps; }
  bool isEditable() const { return editable_; }
  void setEditable(bool editable) { editable_ = editable; }
  bool isSelectable() const { return selectable_; }
  void setSelectable(bool selectable) { selectable_ = selectable; }

  bool isFlipped() const override { return true; }
  NSSize intrinsicContentSize() const override;
  NSSize fittingSizeForWidth(CGFloat width) const override;
  void drawRect(NSRect dirtyRect) override;

 private:
  TextBlock block() const;
  std::string text_;
  NSFont font_ = NSFont::systemFontOfSize(NSFont::systemFontSize());
  NSColor textColor_ = NSColor::labelColor();
  bool wraps_ = false;
  bool editable_ = true;
  bool selectable_ = true;
};

}  // namespace platform
