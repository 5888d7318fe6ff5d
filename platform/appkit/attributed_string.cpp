#include "platform/appkit/attributed_string.hpp"

#include <algorithm>
#include <stdexcept>

#include "platform/foundation/unicode_text.hpp"

namespace platform {
namespace {

bool sameLink(const std::optional<NSLinkValue>& a, const std::optional<NSLinkValue>& b) {
  if (a.has_value() != b.has_value()) return false;
  if (!a) return true;
  if (a->index() != b->index()) return false;
  if (const auto* url = std::get_if<NSURL>(&*a)) return url->absoluteString() == std::get<NSURL>(*b).absoluteString();
  return std::get<std::string>(*a) == std::get<std::string>(*b);
}

// UTF-8 length of the unit at i (a surrogate pair counts at its first unit).
std::size_t utf8LengthAt(const std::u16string& text, std::size_t i) {
  const char16_t c = text[i];
  if (c < 0x80) return 1;
  if (c < 0x800) return 2;
  if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) return 4;
  if (c >= 0xDC00 && c <= 0xDFFF && i > 0 && text[i - 1] >= 0xD800 && text[i - 1] <= 0xDBFF) return 0;
  return 3;  // the rest, lone surrogates as U+FFFD
}

}  // namespace

void NSTextAttributes::merge(const NSTextAttributes& other) {
  if (other.font) font = other.font;
  if (other.foregroundColor) foregroundColor = other.foregroundColor;
  if (other.paragraphStyle) paragraphStyle = other.paragraphStyle;
  if (other.link) link = other.link;
  if (other.underlineStyle) underlineStyle = other.underlineStyle;
}

bool NSTextAttributes::operator==(const NSTextAttributes& other) const {
  return font == other.font && foregroundColor == other.foregroundColor && paragraphStyle == other.paragraphStyle &&
         sameLink(link, other.link) && underlineStyle == other.underlineStyle;
}

NSAttributedString::NSAttributedString(std::u16string text, NSTextAttributes attributes) : text_(std::move(text)) {
  if (!text_.empty()) runs_.push_back({NSMakeRange(0, text_.size()), std::move(attributes)});
}

NSAttributedString::NSAttributedString(const std::string& text, NSTextAttributes attributes)
    : NSAttributedString(utf16String(text), std::move(attributes)) {}

std::string NSAttributedString::utf8String() const { return platform::utf8String(text_); }

void NSAttributedString::check(NSRange range) const {
  if (range.location > text_.size() || range.length > text_.size() - range.location) {
    throw std::out_of_range("NSAttributedString: range {" + std::to_string(range.location) + ", " +
                            std::to_string(range.length) + "} beyond length " + std::to_string(text_.size()));
  }
}

const NSTextAttributes& NSAttributedString::attributesAtIndex(std::size_t index, NSRange* effectiveRange) const {
  if (index >= text_.size()) {
    throw std::out_of_range("NSAttributedString: index " + std::to_string(index) + " beyond length " +
                            std::to_string(text_.size()));
  }
  const auto it = std::upper_bound(runs_.begin(), runs_.end(), index,
                                   [](std::size_t i, const Run& run) { return i < run.range.location; });
  const Run& run = *std::prev(it);
  if (effectiveRange) *effectiveRange = run.range;
  return run.attributes;
}

void NSAttributedString::splitAt(std::size_t index) {
  for (std::size_t i = 0; i < runs_.size(); ++i) {
    Run& run = runs_[i];
    if (index <= run.range.location || index >= NSMaxRange(run.range)) continue;
    Run tail{NSMakeRange(index, NSMaxRange(run.range) - index), run.attributes};
    run.range.length = index - run.range.location;
    runs_.insert(runs_.begin() + static_cast<std::ptrdiff_t>(i) + 1, std::move(tail));
    return;
  }
}

void NSAttributedString::coalesce() {
  std::vector<Run> merged;
  for (auto& run : runs_) {
    if (!merged.empty() && merged.back().attributes == run.attributes) merged.back().range.length += run.range.length;
    else merged.push_back(std::move(run));
  }
  runs_ = std::move(merged);
}

void NSAttributedString::addAttributes(const NSTextAttributes& attributes, NSRange range) {
  check(range);
  if (range.length == 0) return;
  splitAt(range.location);
  splitAt(NSMaxRange(range));
  for (auto& run : runs_) {
    if (run.range.location >= range.location && NSMaxRange(run.range) <= NSMaxRange(range)) {
      run.attributes.merge(attributes);
    }
  }
  coalesce();
}

void NSAttributedString::setAttributes(const NSTextAttributes& attributes, NSRange range) {
  check(range);
  if (range.length == 0) return;
  splitAt(range.location);
  splitAt(NSMaxRange(range));
  for (auto& run : runs_) {
    if (run.range.location >= range.location && NSMaxRange(run.range) <= NSMaxRange(range)) {
      run.attributes = attributes;
    }
  }
  coalesce();
}

std::size_t NSAttributedString::indexOfUTF8Offset(std::size_t offset) const {
  std::size_t bytes = 0;
  for (std::size_t i = 0; i < text_.size(); ++i) {
    const std::size_t length = utf8LengthAt(text_, i);
    if (length > 0 && offset < bytes + length) return i;
    bytes += length;
  }
  return text_.size();
}

TextBlock NSAttributedString::textBlock(const NSFont& baseFont, const NSColor& baseColor,
                                        const NSTextAttributes* linkAttributes) const {
  TextBlock block;
  block.text = utf8String();
  block.font = baseFont.textFont();
  block.color = textColorOf(baseColor);
  if (runs_.empty()) return block;
  if (const auto& style = runs_.front().attributes.paragraphStyle) block.style.lineSpacing = style->lineSpacing;
  // UTF-8 offsets of each unit boundary, walked once.
  std::vector<std::size_t> offsets(text_.size() + 1, 0);
  for (std::size_t i = 0; i < text_.size(); ++i) offsets[i + 1] = offsets[i] + utf8LengthAt(text_, i);
  for (const auto& run : runs_) {
    NSTextAttributes shown = run.attributes;
    if (shown.link && linkAttributes) shown.merge(*linkAttributes);
    TextRun out;
    out.begin = offsets[run.range.location];
    out.end = offsets[NSMaxRange(run.range)];
    if (shown.font) out.font = shown.font->textFont();
    if (shown.foregroundColor) out.color = textColorOf(*shown.foregroundColor);
    out.underline = shown.underlineStyle.value_or(NSUnderlineStyleNone) != NSUnderlineStyleNone;
    if (out.font || out.color || out.underline) block.runs.push_back(out);
  }
  return block;
}

}  // namespace platform
