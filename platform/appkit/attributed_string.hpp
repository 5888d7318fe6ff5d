#pragma once

// Text with attributes over ranges of UTF-16 code units, as the platform
// counts them: a font, a foreground colour, a paragraph style, a link and
// an underline. Every unit of the text has exactly one set of attributes
// (runs partition the text, equal neighbours merged); an attribute that is
// absent is not set there. A value type; main thread only, like the views
// that draw it.
//
// A range reaching past the end of the text is refused with
// std::out_of_range and changes nothing, as the platform raises a range
// exception.

#include <cstddef>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/appkit/color.hpp"
#include "platform/appkit/font.hpp"
#include "platform/foundation/regular_expression.hpp"
#include "platform/foundation/url.hpp"
#include "platform/graphics/text.hpp"

namespace platform {

struct NSParagraphStyle {
  CGFloat lineSpacing = 0;
  bool operator==(const NSParagraphStyle&) const = default;
};

// Raw values as on the platform.
enum NSUnderlineStyle : long { NSUnderlineStyleNone = 0, NSUnderlineStyleSingle = 1 };

// A link attribute holds a URL or, as the platform allows, a plain string.
using NSLinkValue = std::variant<NSURL, std::string>;

struct NSTextAttributes {
  std::optional<NSFont> font;
  std::optional<NSColor> foregroundColor;
  std::optional<NSParagraphStyle> paragraphStyle;
  std::optional<NSLinkValue> link;
  std::optional<long> underlineStyle;
  // Sets every attribute the other one has.
  void merge(const NSTextAttributes& other);
  bool operator==(const NSTextAttributes&) const;
};

class NSAttributedString {
 public:
  struct Run {
    NSRange range;
    NSTextAttributes attributes;
  };

  NSAttributedString() = default;
  explicit NSAttributedString(std::u16string text, NSTextAttributes attributes = {});
  // From UTF-8; ill-formed bytes become U+FFFD.
  explicit NSAttributedString(const std::string& text, NSTextAttributes attributes = {});

  const std::u16string& string() const { return text_; }
  std::string utf8String() const;
  std::size_t length() const { return text_.size(); }
  const std::vector<Run>& runs() const { return runs_; }

  // The attributes at the unit, and the run's range; std::out_of_range at
  // or past the end.
  const NSTextAttributes& attributesAtIndex(std::size_t index, NSRange* effectiveRange = nullptr) const;
  // Sets the given attributes over the range, keeping the others.
  void addAttributes(const NSTextAttributes& attributes, NSRange range);
  // Replaces all of the attributes over the range.
  void setAttributes(const NSTextAttributes& attributes, NSRange range);
  void setAttributedString(const NSAttributedString& other) { *this = other; }

  // The text as the graphics layer sets it: the base font and colour where
  // no run gives one, each run's font, colour and underline (and `extra`
  // over link runs, as a text view shows its links), the line spacing of
  // the first unit's paragraph style for the whole block.
  TextBlock textBlock(const NSFont& baseFont, const NSColor& baseColor,
                      const NSTextAttributes* linkAttributes = nullptr) const;
  // The UTF-16 index of a UTF-8 byte offset into utf8String().
  std::size_t indexOfUTF8Offset(std::size_t offset) const;

 private:
  void check(NSRange range) const;
  // Splits the runs so that one starts at the index.
  void splitAt(std::size_t index);
  void coalesce();

  std::u16string text_;
  std::vector<Run> runs_;
};

}  // namespace platform
