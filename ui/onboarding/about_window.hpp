#pragma once

// The About window: the product's logo, the version and build, the update
// settings card the program builds, the legal links and a note on the
// private system interfaces the product relies on. The application's
// delegate makes the controller on the first "About" request and reuses
// it: closing only orders the window out. Escape closes it, through the
// window's cancel operation or the view's exit command. Main thread only.

#include <functional>
#include <memory>
#include <optional>

#include "platform/appkit/window.hpp"
#include "platform/appkit/window_controller.hpp"
#include "platform/foundation/url.hpp"
#include "platform/ui/view.hpp"

namespace vurle {

// A window whose cancel operation (Escape) closes it.
class VurleAboutWindow : public platform::NSWindow {
 public:
  VurleAboutWindow();
  void cancelOperation(const void* sender) override;
};

// The window's content. `close` closes the window (doing nothing once it is
// gone); `updateCard` is the update settings card. The version is read from
// the main bundle each time the view is built; the links go under the site
// base URL and are left out without one.
platform::ui::View AboutVurleView(std::function<void()> close, platform::ui::View updateCard);
platform::ui::View AboutVurleView(std::function<void()> close, platform::ui::View updateCard,
                                  std::optional<platform::NSURL> siteBase);

class VurleAboutWindowController : public platform::NSWindowController {
 public:
  // Builds the window and its content; the caller shows it and activates
  // the application.
  static std::shared_ptr<VurleAboutWindowController> make(platform::ui::View updateCard);

 private:
  VurleAboutWindowController() = default;
};

}  // namespace vurle
