#include "ui/onboarding/onboarding_wallpaper_view.hpp"

namespace vurle {

// Stands in until the backdrop is built: nothing is rendered.
void OnboardingWallpaperView::requestRender(const RenderKey& key) { (void)key; }

}  // namespace vurle
