#pragma once

// Draws a laid-out view graph with cairo: shapes, colours, text (pango),
// symbol images from a small set of our own vector shapes (a labelled box
// for any other name), the standard controls, popovers with their arrow at
// the anchor's edge, and hosted AppKit views through their layers (corner
// radius, masking to bounds, sublayers) and their own drawRect; blurs and
// shadows through the one Gaussian (gaussian_blur.hpp), glass as a
// translucent window-background fill. It shows a window's real structure
// legibly; it does not try to match the platform pixel for pixel
// (animations are never interpolated).

#include <optional>
#include <string>

#include <cairo.h>

#include "platform/ui/graph.hpp"

namespace platform {
class NSWindow;
}

namespace platform::ui {

// Draws the graph (rendered and laid out first when it needs it) into the
// context at its current transform, a unit a point, on the window
// background (popovers may reach outside the graph's size); `scale` is the
// pixels per point of the picture, which hosted views and images are drawn
// at. False when there is nothing to draw.
bool drawGraph(ViewGraph& graph, cairo_t* cr, double scale);

// The graph (rendered and laid out first when it needs it) as a PNG of its
// size × scale pixels on the window background. False when the file cannot
// be written.
bool writePNG(ViewGraph& graph, const std::string& path, double scale = 2);

// The window as the user sees it: its content view drawn with its subviews
// (a hosting view with its graph, wherever it sits in the tree) over the
// window's background and, on it, an attached sheet hanging centred from
// the title bar, as a PNG of the content view's size × scale pixels. False
// when there is no content view or the file cannot be written.
bool writeWindowPNG(NSWindow& window, const std::string& path, double scale = 2);

// The window's content view drawn with its subviews (a hosting view with
// its graph, wherever it sits in the tree) at the context's current
// transform, a unit a point, its top-left corner at the origin, with no
// background of its own; `scale` is the pixels per point it is drawn at.
// False when there is no content view or it cannot be drawn.
bool drawWindowContentView(cairo_t* cr, const NSWindow& window, double scale);

// In a top-down picture of `window` (points from its top-left corner): the
// edge of its attached `sheet`, drawn so the sheet reads apart from the
// window behind it, and the answer where the sheet's top-left corner goes,
// centred and hanging from the bottom of the title bar.
CGPoint drawAttachedSheetEdge(cairo_t* cr, const NSWindow& window, const NSWindow& sheet);

// Whether the symbol has a shape of our own (others draw as a labelled box).
bool hasSymbolShape(const std::string& systemName);

struct PictureComparison {
  bool loaded = false;      // both files read as PNG
  bool sameSize = false;
  double differingFraction = 1;  // pixels with any channel off by more than the tolerance
  int largestDifference = 255;
};
PictureComparison comparePNG(const std::string& expected, const std::string& actual, int tolerance);

// Whether the PNG file is one colour all over (every pixel the same): a
// picture that shows nothing. False when it cannot be read as PNG.
bool isBlankPNG(const std::string& path);

// What a picture tool says of a picture it wrote to `path`: the path on the
// standard output when it was written and shows something; otherwise a line
// on the standard error, led by the tool's name, and false.
bool reportWrittenPicture(const char* tool, bool written, const std::string& path);

}  // namespace platform::ui
