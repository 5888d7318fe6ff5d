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

}  // namespace platform::ui
