#pragma once

// The picture of the desktop's top-right corner the onboarding shows, and
// its renders, asked for ahead of time so the page that shows it finds
// them ready. Main thread only.

#include "platform/appkit/view.hpp"
#include "platform/graphics/geometry.hpp"

namespace vurle {

class OnboardingWallpaperView : public platform::NSView {
 public:
  struct RenderKey {
    platform::CGSize size;       // the view's bounds, points
    platform::CGSize desktop;    // the screen the desktop is shown on, points
    platform::CGFloat backingScale = 1;
    bool dark = false;
    bool operator==(const RenderKey&) const = default;
  };
  // Renders the picture for the key ahead of time; nothing when it is
  // rendered or in flight.
  static void requestRender(const RenderKey& key);
};

}  // namespace vurle
