#pragma once

#include <memory>

namespace vurle {

// The one thing the engine asks of the pointer test strip of the onboarding
// and settings windows: after the cursor art was rebuilt for a new render
// scale, the strip forgets its outstanding cursor requests, redraws, and
// asks again for the cursor under the pointer. The strip is built above the
// engine, so it reaches the engine through this interface.
//
// The process keeps at most one active strip: the one last placed in a
// window, held weakly so that it empties by itself when the strip goes.
// Main thread only.
class CursorTestStrip {
 public:
  virtual ~CursorTestStrip() = default;
  virtual void resyncCursorTest() = 0;

  // None when no strip is active or the last one is gone.
  static std::shared_ptr<CursorTestStrip> activeStrip();
  static void setActiveStrip(const std::shared_ptr<CursorTestStrip>& strip);
};

}  // namespace vurle
