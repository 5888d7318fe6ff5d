// The Behavior tab: when the animation pauses by itself (Game Mode, an
// external mouse, the screenshot tool), the automatic pause that holds now,
// and how the animated pointer meets screen capture, with a link to the
// system's help on screenshot options.

#include "platform/foundation/url.hpp"
#include "ui/settings/lab_view.hpp"

namespace vurle {

using namespace platform;
using namespace platform::ui;

namespace {

// The vendor's support site is not ours to name: one placeholder host,
// before the help page's own path.
constexpr const char* kSupportHost = "https://support.example.com";
constexpr const char* kScreenshotHelpPath = "/guide/mac-help/take-a-screenshot-mh26782/mac";

}  // namespace

View BehaviorPage(std::shared_ptr<AppPreferences> preferences, std::shared_ptr<CursorEngine> engine) {
  return Composite("BehaviorPage", [preferences, engine](Context& c) {
    c.observe(preferences->pauseInGameModePublisher());
    c.observe(preferences->pauseWithExternalMousePublisher());
    c.observe(preferences->resumeAnimationsOnLaunchPublisher());
    c.observe(engine->animateDuringCapturePublisher());
    c.observe(engine->automaticPauseReasonPublisher());
    std::weak_ptr<AppPreferences> weakPreferences = preferences;
    std::weak_ptr<CursorEngine> weakEngine = engine;
    const auto preference = [weakPreferences](bool (AppPreferences::*get)() const, void (AppPreferences::*set)(bool)) {
      return preferenceBinding(weakPreferences, get, set);
    };
    // On means the animation yields to the screenshot tool.
    Binding<bool> capture{[weakEngine] {
                            auto e = weakEngine.lock();
                            return e && !e->animateDuringCapture();
                          },
                          [weakEngine](bool yields) {
                            if (auto e = weakEngine.lock()) e->setAnimateDuringCapture(!yields);
                          }};

    View pause = VStack(HorizontalAlignment::leading, 0,
                        {Text("Pause automatically")
                             .font(Font::system(13, FontWeight::semibold))
                             .padding(Edge::top, 12)
                             .padding(Edge::bottom, 2),
                         SettingRow("Game Mode", std::nullopt, "While macOS Game Mode is on",
                                    preference(&AppPreferences::pauseInGameMode, &AppPreferences::setPauseInGameMode)),
                         SettingsDivider(),
                         SettingRow("External mouse", std::nullopt, "While a USB or Bluetooth mouse is connected",
                                    preference(&AppPreferences::pauseWithExternalMouse,
                                               &AppPreferences::setPauseWithExternalMouse)),
                         SettingsDivider(),
                         SettingRow("Screen capture", std::nullopt, "While macOS Screenshot is open", capture)})
                     .padding(Edge::horizontal, 12)
                     .background(SettingsCardBackground());

    std::vector<View> page{
        pause,
        Text("Animations resume when these conditions clear. The mouse rule ignores trackpads.")
            .font(Font::system(11))
            .foregroundStyle(Color::secondary())
            .fixedSize(false, true)
            .padding(Edge::horizontal, 2)};
    // With the master switch off nothing is paused automatically.
    if (preferences->resumeAnimationsOnLaunch()) {
      if (const auto& reason = engine->automaticPauseReason()) {
        page.push_back(Label(*reason, "pause.circle")
                           .font(Font::system(11))
                           .foregroundStyle(Color::secondary())
                           .padding(Edge::horizontal, 2));
      }
    }
    std::vector<View> capturing{
        Text("Include the pointer").font(Font::system(13, FontWeight::semibold)),
        Text("vurle draws its animated pointer on screen. Capture apps may include it even when their native pointer "
             "option is off. The capture app’s pointer setting still controls the native cursor.")
            .font(Font::system(11))
            .foregroundStyle(Color::secondary())
            .fixedSize(false, true)};
    const std::string help = std::string(kSupportHost) + kScreenshotHelpPath;
    if (auto url = NSURL::URLWithString(help)) {
      capturing.push_back(Link("Screenshot and recording options", url->absoluteString()).font(Font::system(11)));
    }
    page.push_back(VStack(HorizontalAlignment::leading, 9, std::move(capturing))
                       .padding(12)
                       .frame(std::nullopt, std::numeric_limits<double>::infinity(), std::nullopt, std::nullopt,
                              Alignment::leading())
                       .background(SettingsCardBackground()));
    return VStack(HorizontalAlignment::leading, 12, std::move(page));
  });
}

}  // namespace vurle
