#include "platform/appkit/text_field.hpp"

#include <algorithm>
#include <cmath>

#include "platform/graphics/appkit_image.hpp"

namespace platform {

std::shared_ptr<NSTextField> NSTextField::labelWithString(std::string text) {
  auto label = std::make_shared<NSTextField>();
  label->setStringValue(std::move(text));
  label->setEditable(false);
  label->setSelectable(false);
  const NSSize size = label->intrinsicContentSize();
  label->setFrame(NSMakeRect(0, 0, size.width, size.height));
  return label;
}

std::shared_ptr<NSTextField> NSTextField::wrappingLabelWithString(std::string text) {
  auto label = labelWithString(std::move(text));
  label->setWraps(true);
  label->setSelectable(true);
  return label;
}

TextBlock NSTextField::block() const { return {text_, font_.textFont(), textColorOf(textColor_), {}, {}}; }

NSSize NSTextField::intrinsicContentSize() const {
  return fittingSizeForWidth(wraps_ && frame().size.width > 0 ? frame().size.width : -1);
}

NSSize NSTextField::fittingSizeForWidth(CGFloat width) const {
  const bool wrapped = wraps_ && width > 0;
  const TextMetrics m = measureText(block(), wrapped ? std::optional<double>(width) : std::nullopt);
  return NSMakeSize(wrapped ? width : std::ceil(m.size.width), std::ceil(m.size.height));
}

void NSTextField::drawRect(NSRect) {
  const auto context = NSGraphicsContext::currentContext();
  if (!context || text_.empty()) return;
  const NSRect box = bounds();
  // One line stays one line; the view's clip cuts what does not fit.
  const CGFloat width = wraps_ ? box.size.width : std::max(box.size.width, std::ceil(measureText(block(), std::nullopt).size.width) + 1);
  CGContextDrawTextInRect(context->CGContext(), block(), CGRectMake(0, 0, width, box.size.height));
}

}  // namespace platform
