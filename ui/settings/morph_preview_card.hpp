#pragma once

// The Preview section: one card in which the user compares transition
// speeds before choosing one. The three looping speed examples side by
// side ("Current" at the engine's duration, "Snappy" and "Relaxed" at the
// examples' presets), each column replaying its example or applying its
// preset; below them the cursor test strip, over which a hovered region
// makes all three examples morph to its cursor; last the transition
// duration control. A play/pause button in the header starts and stops the
// examples; with Reduce Motion on the card rests (no playback, no replay),
// but a preset can still be applied. Leaving the card stops the examples;
// leaving the strip's section cancels its cursor test. The card and the
// section keep no state of their own. Main thread only.

#include <memory>
#include <optional>

#include "cursor/engine/cursor_engine.hpp"
#include "platform/ui/graph.hpp"
#include "ui/settings/morph_speed_examples.hpp"

namespace vurle {

platform::ui::View MorphPreviewCard(std::shared_ptr<CursorEngine> engine, std::shared_ptr<MorphSpeedExamples> examples,
                                    platform::ui::Color yellow);
// Rebuilt only when it is given other examples.
platform::ui::View CursorTestSection(std::shared_ptr<MorphSpeedExamples> examples);

}  // namespace vurle
