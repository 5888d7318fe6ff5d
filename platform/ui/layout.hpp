#pragma once

// The layout pass: a parent proposes a size (a side may be unspecified),
// the child answers the size it takes, the parent places it. A stack with
// room for every child's natural length gives each that length and shares
// out only the rest; with less room it offers its room to the least
// flexible children first, as the platform does; spacers take what is
// left; frames with an infinite maximum fill the proposal; a fixed axis is
// measured without a proposal; scaledToFit keeps the content's own aspect
// ratio. Text is measured with the pinned fonts (text.hpp), images of an
// NSImage by their size unless resizable.

#include <optional>

#include "platform/ui/graph.hpp"

namespace platform::ui {

struct Proposal {
  std::optional<double> width, height;
};

// Lays the tree out in a root of the given size, top-left origin, y down:
// fills every node's frame (content) and outerFrame (with its modifiers).
// The root is placed inside the safe area; ignoresSafeArea widens a frame
// that lies on the safe area's edge out to the root's edge.
void layoutTree(Node& root, CGSize size, EdgeInsets safeArea = {});
// The size the node takes, modifiers included, for a proposal.
CGSize sizeThatFits(const Node& node, Proposal proposal);

// A popover is a body with rounded corners and an arrow on the edge that
// faces its anchor. The layout hangs the body one arrow's height from the
// anchor, never over it, so the arrow's tip touches the anchor's facing
// edge, under the anchor's middle as far as the corners let it go.
inline constexpr double kPopoverCornerRadius = 10, kPopoverArrowHalfBase = 9, kPopoverArrowHeight = 8;
// How far a popover keeps from the window's sides, so its shadow shows.
inline constexpr double kPopoverWindowMargin = 8;
struct PopoverArrow {
  bool onTop;  // on the body's top edge, pointing up at the anchor
  CGPoint tip;
  double baseY;  // the body's edge the arrow stands on
};
// The arrow of a popover body laid out for the anchor; none when the body
// overlaps the anchor.
std::optional<PopoverArrow> popoverArrow(CGRect body, CGRect anchor);

}  // namespace platform::ui
