#pragma once

// Hit testing of a laid-out tree (the rules are in graph.hpp): which view
// takes a click or a hover at a point, in graph coordinates.

#include "platform/ui/graph.hpp"

namespace platform::ui {

// The deepest node that takes a hit at the point; null when none does.
const Node* hitTestTree(const Node& root, CGPoint point);
// Whether the node is the content of a popover of its parent.
bool isPopoverContent(const Node& node);
// Whether the point lies in the shape of the kind drawn in the rect (a
// path shape counts its whole rect).
bool shapeContainsPoint(ShapeKind kind, double cornerRadius, CGRect rect, CGPoint point);

}  // namespace platform::ui
