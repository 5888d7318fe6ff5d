#pragma once

// SuccessMark: the small confirmation glyph of the completion card and the
// success notice, a pale green disc with a green tick that draws itself in
// when the mark first appears. It fills the frame it is given and scales
// with it: the stroke is 6 % of the width (at least 2 points) and the tick
// is drawn in the frame inset by 23 % of the width. When it appears the
// disc grows from 88 % to full size while the tick is drawn from its start
// to its end, in one 0.3 s ease-out transaction; under Reduce Motion the
// first frame is already complete. A mark removed and shown again starts
// over. Hidden from accessibility (the card around it is labelled). Main
// thread only.

#include "platform/ui/graph.hpp"

namespace vurle {

// The tick's outline in a rectangle of width w and height h (y down):
// from (minX + 0.08 w, midY) to (minX + 0.38 w, maxY − 0.15 h) to
// (maxX − 0.05 w, minY + 0.15 h).
platform::ui::Path successTickPath(platform::CGRect rect);

// The tick as a shape, no stroke of its own.
platform::ui::View SuccessTick();

platform::ui::View SuccessMark();

}  // namespace vurle
