#include "platform/appkit/text_view.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>

#include "platform/appkit/event.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/graphics/appkit_image.hpp"

namespace platform {
namespace {

std::atomic<bool>& storageUnreachable() {
  static std::atomic<bool>* unreachable = [] {
    auto* flag = new std::atomic<bool>(false);
    addResetHook(flag, [flag] { flag->store(false); });
    return flag;
  }();
  return *unreachable;
}

}  // namespace

NSTextView::NSTextView(NSRect frame) : NSView(frame) {
  if (!storageUnreachable().load()) storage_ = std::make_shared<NSAttributedString>();
}

void NSTextView::setTextStorageUnreachable(bool unreachable) { storageUnreachable().store(unreachable); }

std::shared_ptr<NSScrollView> NSTextView::scrollableTextView() {
  auto scroll = std::make_shared<NSScrollView>(NSMakeRect(0, 0, 100, 100));
  scroll->setHasVerticalScroller(true);
  auto text = std::make_shared<NSTextView>(NSMakeRect(0, 0, scroll->contentSize().width, scroll->contentSize().height));
  text->setAutoresizingMask(NSViewWidthSizable);
  scroll->setDocumentView(text);
  return scroll;
}

void NSTextView::setString(const std::string& text) {
  if (!storage_) return;
  *storage_ = NSAttributedString(text);
  didChangeText();
}

void NSTextView::didChangeText() { relayout(); }

void NSTextView::relayout() {
  // The enclosing scroll view sizes its document.
  for (auto node = superview(); node; node = node->superview()) {
    if (auto scroll = std::dynamic_pointer_cast<NSScrollView>(node)) {
      scroll->tile();
      return;
    }
  }
}

CGFloat NSTextView::textWidth() const {
  const CGFloat width = container_.widthTracksTextView() ? frame().size.width - 2 * inset_.width
                                                         : container_.containerSize().width;
  return std::max<CGFloat>(1, width);
}

TextBlock NSTextView::textBlock() const {
  if (!storage_) return {{}, font_.textFont(), textColorOf(textColor_), {}, {}};
  return storage_->textBlock(font_, textColor_, &linkAttributes_);
}

NSSize NSTextView::fittingSizeForWidth(CGFloat width) const {
  if (!verticallyResizable_) return NSMakeSize(width, frame().size.height);
  const CGFloat textWidth = container_.widthTracksTextView() ? width - 2 * inset_.width
                                                             : container_.containerSize().width;
  const TextBlock block = textBlock();
  const CGFloat text = block.text.empty() ? 0 : std::ceil(measureText(block, std::max<CGFloat>(1, textWidth)).size.height);
  const CGFloat height = text + 2 * inset_.height;
  return NSMakeSize(width, std::clamp(height, minSize_.height, std::max(minSize_.height, maxSize_.height)));
}

void NSTextView::drawRect(NSRect) {
  const auto context = NSGraphicsContext::currentContext();
  if (!context) return;
  const NSRect box = bounds();
  const NSColor background = backgroundColor_;
  CGContextDrawWithCairo(context->CGContext(), box, [&](cairo_t* cr, double) {
    cairo_set_source_rgba(cr, background.redComponent(), background.greenComponent(), background.blueComponent(),
                          background.alphaComponent());
    cairo_paint(cr);
  });
  const TextBlock block = textBlock();
  if (block.text.empty()) return;
  CGContextDrawTextInRect(context->CGContext(), block,
                          CGRectMake(inset_.width, inset_.height, textWidth(),
                                     std::max<CGFloat>(0, box.size.height - inset_.height)));
}

std::optional<std::size_t> NSTextView::characterIndexForPoint(NSPoint point) const {
  if (!storage_ || storage_->length() == 0) return std::nullopt;
  const auto offset =
      textIndexAtPoint(textBlock(), textWidth(), CGPointMake(point.x - inset_.width, point.y - inset_.height));
  if (!offset) return std::nullopt;
  return storage_->indexOfUTF8Offset(*offset);
}

void NSTextView::clickedOnLink(const NSLinkValue& link, std::size_t charIndex) {
  if (auto current = delegate(); current && current->textViewClickedOnLink(*this, link, charIndex)) return;
  if (const auto* url = std::get_if<NSURL>(&link)) NSWorkspace::sharedWorkspace().openURL(url->absoluteString());
}

void NSTextView::mouseDown(const NSEvent& event) {
  if (!storage_) return;
  const auto index = characterIndexForPoint(convertPointFromWindow(event.locationInWindow()));
  if (!index || *index >= storage_->length()) return;
  // The attributes are copied: the delegate may change the storage.
  const auto link = storage_->attributesAtIndex(*index).link;
  if (link) clickedOnLink(*link, *index);
}

}  // namespace platform
