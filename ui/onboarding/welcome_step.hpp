#pragma once

// The onboarding's first page: the cursor playground, where the speed
// examples play large over the catalog with a play/pause button, the
// "Animate cursors" switch bound to the flow, and the pointer test strip,
// which morphs the real pointer itself while animations are on and Reduce
// Motion is off; and a note while Reduce Motion is on. The consent block
// lives in the frame's footer. Main thread only.

#include <memory>
#include <optional>

#include "cursor/engine/cursor_engine.hpp"
#include "platform/ui/graph.hpp"
#include "ui/onboarding/onboarding_flow.hpp"
#include "ui/settings/morph_speed_examples.hpp"

namespace vurle {

platform::ui::View WelcomeStep(std::shared_ptr<OnboardingFlow> flow, std::shared_ptr<CursorEngine> engine,
                               std::shared_ptr<MorphSpeedExamples> examples);

// The test strip's own morph length in seconds: none (the strip only sets
// cursors) while animations are off, Reduce Motion is on or the engine
// animates system-wide; else the stored duration held to 0.045 ... 0.4 s.
std::optional<double> welcomeStripDuration(bool animationsEnabled, bool reduceMotion, bool systemWide,
                                           double storedMilliseconds);

}  // namespace vurle
