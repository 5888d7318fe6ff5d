#pragma once

#include "platform/appkit/view.hpp"

namespace platform {

// Raw values as on the platform.
enum class NSVisualEffectMaterial : long { titlebar = 3, selection = 4, menu = 5, popover = 6, sidebar = 7,
                                           headerView = 10, sheet = 11, windowBackground = 12, hudWindow = 13,
                                           fullScreenUI = 15, toolTip = 17, contentBackground = 18,
                                           underWindowBackground = 21, underPageBackground = 22 };
enum class NSVisualEffectBlendingMode : long { behindWindow = 0, withinWindow = 1 };
enum class NSVisualEffectState : long { followsWindowActiveState = 0, active = 1, inactive = 2 };

// The translucent background view. There is no compositor here, so it draws
// nothing and only keeps how it was asked to look.
class NSVisualEffectView : public NSView {
 public:
  using NSView::NSView;

  NSVisualEffectMaterial material() const { return material_; }
  void setMaterial(NSVisualEffectMaterial material) { material_ = material; }
  NSVisualEffectBlendingMode blendingMode() const { return blendingMode_; }
  void setBlendingMode(NSVisualEffectBlendingMode mode) { blendingMode_ = mode; }
  NSVisualEffectState state() const { return state_; }
  void setState(NSVisualEffectState state) { state_ = state; }

 private:
  // The platform's defaults for a new view.
  NSVisualEffectMaterial material_ = NSVisualEffectMaterial::windowBackground;
  NSVisualEffectBlendingMode blendingMode_ = NSVisualEffectBlendingMode::behindWindow;
  NSVisualEffectState state_ = NSVisualEffectState::followsWindowActiveState;
};

}  // namespace platform
