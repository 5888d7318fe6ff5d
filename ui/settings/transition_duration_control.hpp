#pragma once

// Two small settings views other pages embed. TransitionDurationControl is
// the one place the transition duration is set: a titled row with the live
// readout, the duration slider bound to the engine (every value goes
// through setStoredMilliseconds, which clamps and stores it) and the
// "Snappy" and "Relaxed" ends of the scale. AnimationErrorHelp is the small
// warning button shown beside the master switch while the engine reports
// an error; it opens a popover with the error's text and, when the
// Accessibility permission is missing, a button that opens the matching
// settings pane. Main thread only.

#include <functional>
#include <memory>
#include <string>

#include "cursor/engine/cursor_engine.hpp"
#include "platform/ui/graph.hpp"

namespace vurle {

platform::ui::View TransitionDurationControl(std::shared_ptr<CursorEngine> engine);

platform::ui::View AnimationErrorHelp(std::string detail, bool needsAccessibility,
                                      std::function<void()> openAccessibility);

// The name of the pane that grants the permission on the running system.
std::string accessibilitySettingsName();

}  // namespace vurle
