#include "ui/onboarding/about_window.hpp"

#include <limits>
#include <string>

#include "app/app_version.hpp"
#include "app/brand_images.hpp"
#include "platform/appkit/layout_constraint.hpp"
#include "platform/appkit/visual_effect_view.hpp"
#include "platform/ui/graph.hpp"
#include "ui/onboarding/legal_agreement.hpp"
#include "ui/settings/duration_controls.hpp"

namespace vurle {

using namespace platform::ui;

namespace {

constexpr double kWidth = 380;
constexpr double kHeight = 386;

}  // namespace

VurleAboutWindow::VurleAboutWindow()
    : platform::NSWindow(platform::NSMakeRect(0, 0, kWidth, kHeight),
                         platform::NSWindowStyleMaskTitled | platform::NSWindowStyleMaskClosable |
                             platform::NSWindowStyleMaskFullSizeContentView,
                         platform::NSBackingStoreBuffered, false) {}

void VurleAboutWindow::cancelOperation(const void*) { close(); }

View AboutVurleView(std::function<void()> close, View updateCard) {
  return AboutVurleView(std::move(close), std::move(updateCard), siteBaseURL());
}

View AboutVurleView(std::function<void()> close, View updateCard, std::optional<platform::NSURL> siteBase) {
  return Composite("AboutVurleView", [close, updateCard, siteBase](Context&) {
    const std::string version = appShortVersion();
    const std::string build = appBuildVersion();
    std::vector<View> links = {Button("EULA", [] { LegalAgreement::shared()->presentSheet(nullptr); })};
    if (siteBase) {
      links.push_back(Link("Privacy", siteBase->absoluteString() + "privacy/"));
      links.push_back(Link("Terms", siteBase->absoluteString() + "terms/"));
    }
    const double infinity = std::numeric_limits<double>::infinity();
    return VStack(
               HorizontalAlignment::leading, 20,
               {
                   VStack(HorizontalAlignment::leading, 7,
                          {
                              Image(logoImage())
                                  .resizable()
                                  .interpolation(ImageInterpolation::high)
                                  .foregroundStyle(Color::primary())
                                  .frame(150.0, 36.0, Alignment::leading())
                                  .accessibilityLabel("vurle"),
                              Text("Version " + version + " (" + build + ")")
                                  .font(Font::system(12))
                                  .foregroundStyle(Color::secondary())
                                  .textSelection(true)
                                  .accessibilityLabel("Version " + version + ", build " + build),
                          }),
                   updateCard,
                   VStack(HorizontalAlignment::leading, 10,
                          {
                              Divider(),
                              HStack(VerticalAlignment::firstTextBaseline, 12,
                                     {Spacer(4), HStack(VerticalAlignment::center, 12, links)}),
                              Text("Uses private macOS APIs. macOS updates may affect cursor animations.").lineSpacing(2),
                          })
                       .font(Font::system(11))
                       .foregroundStyle(Color::secondary())
                       .buttonStyle(SettingsPressStyle()),
               })
        .padding(Edge::horizontal, 24)
        .padding(Edge::top, 42)
        .padding(Edge::bottom, 22)
        .tint(Color::primary())
        .frame(std::nullopt, infinity, std::nullopt, infinity, Alignment::topLeading())
        .ignoresSafeArea(Edge::all)
        .onExitCommand(close);
  });
}

std::shared_ptr<VurleAboutWindowController> VurleAboutWindowController::make(View updateCard) {
  auto window = std::make_shared<VurleAboutWindow>();
  window->setTitle("About vurle");
  window->setTitleVisibility(platform::NSWindowTitleVisibility::hidden);
  window->setTitlebarAppearsTransparent(true);
  window->setMovableByWindowBackground(true);
  window->setReleasedWhenClosed(false);
  window->setBackgroundColor(platform::NSColor::clearColor());
  window->setOpaque(false);
  window->setCollectionBehavior(platform::NSWindowCollectionBehaviorMoveToActiveSpace |
                                platform::NSWindowCollectionBehaviorFullScreenAuxiliary);

  auto effect = std::make_shared<platform::NSVisualEffectView>(platform::NSMakeRect(0, 0, kWidth, kHeight));
  effect->setMaterial(platform::NSVisualEffectMaterial::sidebar);
  effect->setBlendingMode(platform::NSVisualEffectBlendingMode::withinWindow);
  effect->setState(platform::NSVisualEffectState::followsWindowActiveState);

  // The window holds its content; the view holds the window weakly.
  std::weak_ptr<platform::NSWindow> weakWindow = window;
  auto hosting = NSHostingView::make(AboutVurleView(
                                         [weakWindow] {
                                           if (auto shown = weakWindow.lock()) shown->close();
                                         },
                                         std::move(updateCard)),
                                     platform::CGRectMake(0, 0, kWidth, kHeight));
  hosting->setTranslatesAutoresizingMaskIntoConstraints(false);
  effect->addSubview(hosting);
  using Edge = platform::NSLayoutAttribute;
  platform::NSLayoutConstraint::activateConstraints({
      platform::NSLayoutConstraint::make(hosting, Edge::leading, effect, Edge::leading),
      platform::NSLayoutConstraint::make(hosting, Edge::trailing, effect, Edge::trailing),
      platform::NSLayoutConstraint::make(hosting, Edge::top, effect, Edge::top),
      platform::NSLayoutConstraint::make(hosting, Edge::bottom, effect, Edge::bottom),
  });
  window->setContentView(effect);
  window->center();

  std::shared_ptr<VurleAboutWindowController> controller(new VurleAboutWindowController());
  controller->setWindow(window);
  return controller;
}

}  // namespace vurle
