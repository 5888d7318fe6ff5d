#pragma once

#include "platform/appkit/window.hpp"

namespace vurle {

// The click-through panel that carries the overlay's drawing layer. It never
// becomes key or main, so showing it never takes focus from the application
// the user works in. Made with a zero rectangle, the non-activating style
// and buffered backing, then configured by the presenter (makeOverlayPanel).
class ContinuousCursorPanel : public platform::NSPanel {
 public:
  ContinuousCursorPanel(platform::NSRect contentRect, platform::NSWindowStyleMask styleMask,
                        platform::NSBackingStoreType backing, bool defer)
      : NSPanel(contentRect, styleMask, backing, defer) {}
  bool canBecomeKeyWindow() const override { return false; }
  bool canBecomeMainWindow() const override { return false; }
};

// The panel's level by default; placement raises it to cursorWindowLevel()
// over elevated utility windows.
inline constexpr platform::NSWindowLevel kOverlayPanelLevel = 1000;

// The window server's cursor level, looked up once per process.
platform::NSWindowLevel cursorWindowLevel();

}  // namespace vurle
