// The General tab: the animation card (the master switch with its status
// line, the transition duration, dynamic speed) and the presence card
// (launch at login, the menu-bar item, the Dock icon). Every switch writes
// straight through to the object that owns the setting.

#include "platform/accessibility/accessibility.hpp"
#include "cursor/engine/accessibility_role_probe.hpp"
#include "ui/settings/duration_controls.hpp"
#include "ui/settings/lab_view.hpp"
#include "ui/settings/transition_duration_control.hpp"

namespace vurle {

using namespace platform;
using namespace platform::ui;

namespace {

std::string loginSubtitle(const LoginItem& item) {
  if (item.requiresApproval()) return "Allow vurle in System Settings";
  if (!item.message().empty()) return "Couldn’t change launch at login";
  return "Start vurle when you sign in";
}

std::string dockSubtitle(const AppPreferences& preferences) {
  if (preferences.showMenuBar()) return "Hide vurle in the Dock while in the background";
  if (preferences.hideDock()) return "Open vurle again to show settings";
  return "Hide vurle in the Dock while in the background";
}

// The badge's symbol at 10 points in an 18-point square that takes the
// clicks everywhere.
View BadgeLabel(const std::string& symbol, Color color) {
  return ImageSystem(symbol).font(Font::system(10)).foregroundStyle(color).frame(18.0, 18.0).contentShape();
}

View LoginAttentionBadge(std::shared_ptr<LoginItem> item, Binding<bool> showsHelp) {
  std::vector<View> help;
  if (!item->message().empty()) help.push_back(Text(item->message()));
  if (item->requiresApproval()) {
    std::weak_ptr<LoginItem> weak = item;
    help.push_back(Text("Allow vurle in System Settings to finish enabling launch at login."));
    help.push_back(Button("Open Login Items", [weak] {
      if (auto i = weak.lock()) i->openSettings();
    }));
  }
  return Button(BadgeLabel("exclamationmark.circle.fill", Color::orange()),
                [showsHelp] { showsHelp.set(!showsHelp()); })
      .buttonStyle(SettingsPressStyle())
      .accessibilityLabel("Launch at login needs attention")
      .popover(showsHelp,
               VStack(HorizontalAlignment::leading, 12, std::move(help))
                   .font(Font::system(12))
                   .padding(16)
                   .frame(280.0, std::nullopt, Alignment::leading()),
               badgePopoverOptions(std::nullopt, "top"));
}

View DockHelpBadge(std::shared_ptr<AppPreferences> preferences) {
  std::weak_ptr<AppPreferences> weak = preferences;
  Binding<bool> shows{[weak] {
                        auto p = weak.lock();
                        return p && p->showsDockHelp();
                      },
                      [weak](bool value) {
                        if (auto p = weak.lock()) p->setShowsDockHelp(value);
                      }};
  return Button(BadgeLabel("info.circle.fill", Color::secondary()), [shows] { shows.set(!shows()); })
      .buttonStyle(SettingsPressStyle())
      // The help also opens and closes by hovering over the badge.
      .onHover([shows](bool inside) { shows.set(inside); })
      .accessibilityLabel("How to reopen settings")
      .popover(shows,
               Text("Open vurle again to show settings, even if both icons are hidden.")
                   .font(Font::system(12))
                   .lineSpacing(3)
                   .padding(16)
                   .frame(244.0, std::nullopt, Alignment::leading())
                   .fixedSize(false, true),
               badgePopoverOptions(std::string("bottom")));
}

}  // namespace

View GeneralPage(const LabView& page, Binding<bool> showsLoginHelp) {
  return Composite("GeneralPage", [page, showsLoginHelp](Context& c) {
    auto engine = page.engine;
    auto preferences = page.preferences;
    auto loginItem = page.loginItem;
    c.observe(engine->errorPublisher());
    c.observe(engine->systemWidePublisher());
    c.observe(engine->automaticPauseReasonPublisher());
    c.observe(engine->adaptivePublisher());
    c.observe(preferences->resumeAnimationsOnLaunchPublisher());
    c.observe(preferences->showMenuBarPublisher());
    c.observe(preferences->hideDockPublisher());
    c.observe(preferences->showsDockHelpPublisher());
    c.observe(loginItem->enabledPublisher());
    c.observe(loginItem->requiresApprovalPublisher());
    c.observe(loginItem->messagePublisher());
    const bool reduceMotion = c.environment().reduceMotion;

    std::optional<View> errorHelp;
    if (!engine->error().empty()) {
      const bool trusted = AccessibilityRoleProbe::shared()->check(AXIsProcessTrusted());
      errorHelp = AnimationErrorHelp(engine->error(), !trusted, [] { openAccessibilityPrivacySettings(); });
    }
    std::weak_ptr<CursorEngine> weakEngine = engine;
    std::weak_ptr<AppPreferences> weakPreferences = preferences;
    std::weak_ptr<LoginItem> weakItem = loginItem;
    const auto preference = [weakPreferences](bool (AppPreferences::*get)() const, void (AppPreferences::*set)(bool)) {
      return preferenceBinding(weakPreferences, get, set);
    };
    Binding<bool> master{[weakPreferences] {
                           auto p = weakPreferences.lock();
                           return p && p->resumeAnimationsOnLaunch();
                         },
                         [page](bool value) { page.setAnimationsEnabled(value); }};
    Binding<bool> adaptive{[weakEngine] {
                             auto e = weakEngine.lock();
                             return e && e->adaptive();
                           },
                           [weakEngine](bool value) {
                             if (auto e = weakEngine.lock()) e->setAdaptive(value);
                           }};
    Binding<bool> launchAtLogin{[weakItem] {
                                  auto i = weakItem.lock();
                                  return i && i->enabled();
                                },
                                [weakItem](bool value) {
                                  if (auto i = weakItem.lock()) i->setEnabled(value);
                                }};
    std::optional<View> loginBadge;
    if (loginItem->requiresApproval() || !loginItem->message().empty()) {
      loginBadge = LoginAttentionBadge(loginItem, showsLoginHelp);
    }

    View animation = SettingsCard(
        HorizontalAlignment::center,
        {SettingRow("Animate cursors", errorHelp, page.statusText(reduceMotion), master), SettingsDivider(),
         TransitionDurationControl(engine).padding(Edge::vertical, 12), SettingsDivider(),
         SettingRow("Dynamic speed", std::nullopt, "Shorten transitions after quick movements", adaptive)});
    View presence = SettingsCard(
        HorizontalAlignment::center,
        {SettingRow("Launch at login", loginBadge, loginSubtitle(*loginItem), launchAtLogin), SettingsDivider(),
         SettingRow("Show in menu bar", std::nullopt, "Access settings and pause animations",
                    preference(&AppPreferences::showMenuBar, &AppPreferences::setShowMenuBar)),
         SettingsDivider(),
         SettingRow("Hide app in Dock", DockHelpBadge(preferences), dockSubtitle(*preferences),
                    preference(&AppPreferences::hideDock, &AppPreferences::setHideDock))});
    return VStack(HorizontalAlignment::center, 12, {animation, presence});
  });
}

}  // namespace vurle
