#pragma once

// The onboarding's picture of the desktop's top-right corner: the system's
// default wallpaper for the running version and the light or dark
// appearance, filling the desktop as the desktop shows it, with a frosted
// band along the top edge where the menu bar would be.
//
// OnboardingWallpaperView draws it. A picture is rendered once per render
// key (view size, desktop size, backing scale, appearance) on one serial
// utility queue and kept in a process-wide cache of at most 8 pictures;
// every request for a key while its render runs waits for that one render.
// Until its picture arrives the view shows the window background; a render
// that fails leaves it there until its key changes. The view never takes
// mouse events.
//
// The wallpaper file is found by OnboardingReleaseWallpaper, which searches
// the system's wallpaper extensions once per (appearance, version) under
// its own lock and remembers the answer, none included, for the process.
//
// Threads: the view, the picture cache, the pending requests and their
// callbacks are main-thread only; renders run on the render queue and hand
// their result back on the main queue. resetProcessState() forgets the
// cache, the queue and the locator's answers (tests start afresh).

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>

#include "platform/appkit/view.hpp"
#include "platform/coreimage/core_image.hpp"
#include "platform/foundation/url.hpp"
#include "platform/graphics/image.hpp"
#include "platform/notifications/notification_center.hpp"
#include "platform/ui/view.hpp"

namespace vurle {

namespace OnboardingReleaseWallpaper {

struct Key {
  bool dark = false;
  int version = 0;  // the running system's major version
  bool operator==(const Key&) const = default;
};
struct Result {
  std::optional<platform::NSURL> url;
};

// Bounds on what an extension may make us read.
inline constexpr std::size_t kMaximumManifestLength = 64 * 1024;

// The wallpaper file for the appearance on that version; none when neither
// an extension nor a fallback has one. Any thread.
Result wallpaper(const Key& key);
// How many searches ran since the process state was reset.
int searchCount();

}  // namespace OnboardingReleaseWallpaper

class OnboardingWallpaperView : public platform::NSView {
 public:
  struct RenderKey {
    platform::CGSize size;     // the view's bounds, points
    platform::CGSize desktop;  // the screen the desktop is shown on, points
    platform::CGFloat backingScale = 1;
    bool dark = false;
    bool operator==(const RenderKey&) const = default;
  };

  static std::shared_ptr<OnboardingWallpaperView> make(platform::NSRect frame);
  explicit OnboardingWallpaperView(platform::NSRect frame);
  explicit OnboardingWallpaperView(platform::NSCoder& coder);
  ~OnboardingWallpaperView() override;

  // Renders the key's picture into the cache ahead of time; nothing when it
  // is cached or under way. Main thread.
  static void requestRender(const RenderKey& key);

  bool isFlipped() const override { return true; }
  std::shared_ptr<platform::NSView> hitTest(platform::NSPoint point) override;
  void viewDidMoveToWindow() override;
  void viewDidChangeBackingProperties() override;
  void viewDidChangeEffectiveAppearance() override;
  void drawRect(platform::NSRect dirtyRect) override;

  // What the view holds, for its owner's tests.
  bool rendering() const { return rendering_; }
  const std::optional<RenderKey>& requestedKey() const { return requestedKey_; }
  const std::optional<RenderKey>& renderKey() const { return renderKey_; }
  const platform::CGImageRef& rendered() const { return rendered_; }

  // The process-wide render state, main thread.
  static std::size_t cachedPictureCount();
  static bool hasCachedPicture(const RenderKey& key);
  static bool isRendering(const RenderKey& key);
  // Renders started since the process state was reset.
  static int renderCount();

  // One render, as the render queue runs it: the key's picture, or null
  // when there is no readable wallpaper or the render fails. Any thread.
  static platform::CGImageRef renderBackdrop(const RenderKey& key);
  // The wallpaper a render places: the key's appearance, read at about the
  // size it fills the key's desktop with. A larger picture is reduced while
  // it is decoded (never enlarged), so a wallpaper at the reader's bound
  // costs about the desktop's pixels, not its own. None when there is no
  // readable wallpaper. Any thread.
  static std::optional<platform::CIImage> readWallpaper(const RenderKey& key);
  // The frosted band over the top `66 × scale` pixels of a W × H picture
  // (pixels, y up). Any thread.
  static platform::CIImage renderMenuBarStrip(const platform::CIImage& image, bool dark, double width, double height,
                                              double scale);

 private:
  static void requestViewRender(const RenderKey& key, std::weak_ptr<OnboardingWallpaperView> view);
  static void applyRender(const platform::CGImageRef& image, const std::weak_ptr<OnboardingWallpaperView>& view,
                          const RenderKey& key);
  void keyMayHaveChanged();
  std::weak_ptr<OnboardingWallpaperView> weakSelf();

  platform::NotificationToken screenObservation_;
  bool rendering_ = false;
  std::optional<RenderKey> requestedKey_;
  platform::CGImageRef rendered_;
  std::optional<RenderKey> renderKey_;
};

// The backdrop as a view of the window's content: an OnboardingWallpaperView
// with a zero frame, laid out to fill what it is offered.
platform::ui::View OnboardingWallpaper();

}  // namespace vurle
