#pragma once

// Text set with pango on the project's own pinned fonts, so that a window
// measures and draws the same on every machine: a private fontconfig
// configuration that knows only the Inter and DejaVu folders (no system or
// user configuration is read); the system font is Inter (Inter Display from
// 20 points) with a face per weight, the monospaced one DejaVu Sans Mono,
// and DejaVu Sans draws the characters they lack; 72 dots per inch (a
// point is a pixel at scale 1), grey antialiasing and no hinting, with
// unhinted metrics so a layout does not change with the drawing scale.
// Declarative views and AppKit views both set their text here. Main thread
// only.
//
// A text block is one font and colour with optional runs over parts of it
// (UTF-8 byte offsets), each of which may set its own font, colour or
// underline; later runs win where they overlap. Runs outside the text are
// cut to it.

#include <cairo.h>

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/graphics/context.hpp"
#include "platform/graphics/geometry.hpp"

namespace platform {

enum class TextWeight { regular, medium, semibold, bold };

struct TextFont {
  double size = 13;
  TextWeight weight = TextWeight::regular;
  bool monospaced = false;
  bool operator==(const TextFont&) const = default;
};

struct TextColor {
  double red = 0, green = 0, blue = 0, alpha = 1;
  bool operator==(const TextColor&) const = default;
};

// What the whole block adds to its font: room between lines (not after the
// last), a solid underline, a most number of lines (the last one cut with an
// ellipsis) and room between letters.
struct TextStyle {
  double lineSpacing = 0;
  bool underline = false;
  std::optional<int> lineLimit;
  double tracking = 0;
};

struct TextRun {
  size_t begin = 0, end = 0;  // UTF-8 byte offsets, end exclusive
  std::optional<TextFont> font;
  std::optional<TextColor> color;
  bool underline = false;
};

struct TextBlock {
  std::string text;
  TextFont font;
  TextColor color;
  TextStyle style;
  std::vector<TextRun> runs;
};

struct TextMetrics {
  CGSize size;
  double baseline = 0;  // from the top of the first line
};

// Wraps at the width when one is given and the text is wider.
TextMetrics measureText(const TextBlock& block, std::optional<double> width);
// Draws the block with its top-left corner at the origin of `frame`
// (cairo's user space, y down), wrapped to the frame's width.
void drawText(cairo_t* cr, const TextBlock& block, CGRect frame);
// The byte offset of the character under the point (from the top-left of
// the block laid out at the width); none when the point is beside every
// line or below the last.
std::optional<size_t> textIndexAtPoint(const TextBlock& block, double width, CGPoint point);
// The face, family and style, that draws the first character of the text
// in the font, e.g. "Inter Semi Bold", for checks that the pinned fonts
// were found; empty for an empty text.
std::string resolvedFace(const TextFont& font, const std::string& text = "A");

// Whether text has been shaped in this process: the font map then holds
// cairo's and fontconfig's fonts until the process ends, so their caches
// must not be released under it.
bool textFontsMade();

// Draws the block into a bitmap context with its top-left corner at the
// rect's top-left corner as the picture shows it, upright whatever the
// flip, wrapped to the rect's width and clipped to the rect.
void CGContextDrawTextInRect(const CGContextRef& c, const TextBlock& block, CGRect rect);

}  // namespace platform
