#include "ui/onboarding/menu_bar_step.hpp"

#include <limits>
#include <optional>
#include <vector>

#include "app/brand_images.hpp"
#include "app/status_menu_command.hpp"
#include "platform/appkit/screen.hpp"
#include "platform/appkit/visual_effect_view.hpp"
#include "platform/bundle/bundle.hpp"
#include "platform/dispatch/clock.hpp"
#include "platform/foundation/date_formatter.hpp"
#include "platform/foundation/process_info.hpp"
#include "platform/ui/graph.hpp"
#include "ui/onboarding/onboarding_wallpaper.hpp"

namespace vurle {

using namespace platform;
using namespace platform::ui;

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// The menu's own translucent backing: the menu material, blended within
// the window, always active. Nothing changes it after it is made.
class MenuPreviewMaterial : public NSViewRepresentable {
 public:
  std::shared_ptr<NSView> makeNSView(Context&) const override {
    auto view = std::make_shared<NSVisualEffectView>(CGRectZero);
    view->setMaterial(NSVisualEffectMaterial::menu);
    view->setBlendingMode(NSVisualEffectBlendingMode::withinWindow);
    view->setState(NSVisualEffectState::active);
    return view;
  }
  void updateNSView(NSView&, Context&) const override {}
};

bool bundleRequiresCompatibleDesign() {
  const PropertyListValue* value =
      NSBundle::mainBundle()->objectForInfoDictionaryKey("UIDesignRequiresCompatibility");
  const bool* flag = value ? value->boolean() : nullptr;
  return flag && *flag;
}

// A menu row: the check mark's column, the title, room to the right.
View MenuRow(const std::string& title, bool checked, bool reduceMotion) {
  return HStack(VerticalAlignment::center, 7,
                {ImageSystem("checkmark")
                     .font(Font::system(10, FontWeight::semibold))
                     .frame(12.0, std::nullopt)
                     .opacity(checked ? 1.0 : 0.0)
                     .scaleEffect(checked ? 1.0 : 0.8)
                     .animation(reduceMotion ? std::nullopt : std::optional<Animation>(Animation::easeInOut(0.18)),
                                checked),
                 Text(title).lineLimit(1).fixedSize(true, false), Spacer()})
      .frame(std::nullopt, 24.0);
}

View MockMenu(bool animationsOn, bool loginEnabled, double barHeight, bool reduceMotion, bool reduceTransparency) {
  std::vector<View> rows;
  bool first = true;
  for (const auto& section : statusMenuSections()) {
    if (!first) {
      rows.push_back(Shape(ShapeKind::rectangle)
                         .fill(Color::primary().withOpacity(0.16))
                         .frame(std::nullopt, 1.0)
                         .padding(Edge::leading, 19)
                         .padding(Edge::trailing, 6)
                         .padding(Edge::vertical, 5));
    }
    first = false;
    for (StatusMenuCommand command : section) {
      const bool checked = command == StatusMenuCommand::launchAtLogin && loginEnabled;
      rows.push_back(MenuRow(title(command, animationsOn), checked, reduceMotion));
    }
  }
  return MenuPreviewGlass(VStack(HorizontalAlignment::leading, 0, std::move(rows))
                              .font(Font::menu(13))
                              .padding(Edge::horizontal, 10)
                              .padding(Edge::vertical, 6)
                              .frame(152.0, std::nullopt)
                              .fixedSize(false, true),
                          14, reduceTransparency)
      .shadow(Color::black().withOpacity(0.18), 8, 0, 4)
      .offset(-4, (barHeight + 24) * 0.5 + 2);
}

// The moment a timeline's uptime stands for on the wall clock.
Date wallDateAt(double uptime) {
  return Date::withTimeIntervalSince1970(wallClockTime() - systemUptime() + uptime);
}

View MockMenuBar(bool dark, bool animationsOn, bool loginEnabled, bool reduceMotion, bool reduceTransparency) {
  const double height = menuBarHeight();
  View statusItem = Image(statusMarkImage())
                        .frame(38.0, 24.0)
                        .background(Shape(ShapeKind::capsule).fill(Color::primary().withOpacity(0.12)))
                        .overlay(MockMenu(animationsOn, loginEnabled, height, reduceMotion, reduceTransparency)
                                     .frame(std::nullopt, kInfinity, std::nullopt, kInfinity, Alignment::topLeading()));
  View bar = HStack(VerticalAlignment::center, 12,
                    {Spacer(), statusItem, ImageSystem("battery.100percent").font(Font::system(16)),
                     ImageSystem("wifi").font(Font::system(12, FontWeight::medium)),
                     ImageSystem("switch.2").font(Font::system(12, FontWeight::medium)),
                     TimelineView(
                         60, [](double uptime) {
                       return Text(menuBarClockText(wallDateAt(uptime))).font(Font::menuBar(13));
                     },
                     true)})
                 .foregroundStyle(dark ? Color::white() : Color::black().withOpacity(0.85))
                 .padding(Edge::horizontal, 12)
                 .frame(std::nullopt, height);
  if (reduceTransparency) return bar.background(ColorView(Color::windowBackground()));
  return bar;
}

std::string previewLabel(bool loginEnabled) {
  return std::string("vurle\u2019s icon in the macOS menu bar, followed by Battery, Wi-Fi, Control Center, and the date "
                     "and time. The menu contains Settings, an animation toggle, Launch at Login, and Quit vurle. "
                     "Launch at Login is ") +
         (loginEnabled ? "checked" : "unchecked") + ".";
}

// A switch with its title over its subtitle, the switch at the right.
View SwitchRow(const std::string& title, const std::string& subtitle, bool subtitleFixed, Binding<bool> isOn) {
  View detail = Text(subtitle).font(Font::system(11)).foregroundStyle(Color::secondary());
  if (subtitleFixed) detail = detail.fixedSize(false, true);
  return HStack(VerticalAlignment::center, std::nullopt,
                {VStack(HorizontalAlignment::leading, 4, {Text(title).font(Font::system(13, FontWeight::medium)), detail})
                     .frame(std::nullopt, kInfinity, std::nullopt, std::nullopt, Alignment::leading()),
                 Toggle(title, std::move(isOn))
                     .labelsHidden()
                     .toggleStyle(ToggleStyle::switchStyle)
                     .controlSize("small")
                     .accessibilityLabel(title)});
}

}  // namespace

double menuBarHeight() {
  const auto screen = NSScreen::main();
  if (!screen) return 28;
  const double reserve = CGRectGetMaxY(screen->frame()) - CGRectGetMaxY(screen->visibleFrame());
  return reserve > 0 && reserve <= 38 ? reserve : 28;
}

std::string menuBarClockText(Date date) {
  NSDateFormatter day;
  day.setLocale(NSLocale::autoupdatingCurrentLocale());
  day.setDateFormat("EEE MMM d");
  NSDateFormatter time;
  time.setLocale(NSLocale::autoupdatingCurrentLocale());
  time.setLocalizedDateFormatFromTemplate("jmm");
  return day.stringFromDate(date) + "  " + time.stringFromDate(date);
}

MenuPreviewBacking menuPreviewBacking(bool reduceTransparency) {
  if (reduceTransparency) return MenuPreviewBacking::solid;
  if (ProcessInfo::operatingSystemVersion().majorVersion >= 26 && !bundleRequiresCompatibleDesign())
    return MenuPreviewBacking::glass;
  return MenuPreviewBacking::material;
}

View MenuPreviewGlass(View content, double cornerRadius, bool reduceTransparency) {
  switch (menuPreviewBacking(reduceTransparency)) {
    case MenuPreviewBacking::solid:
      return content.background(Shape(ShapeKind::roundedRectangle, cornerRadius).fill(Color::windowBackground()));
    case MenuPreviewBacking::glass:
      return content.glassEffect(ShapeKind::roundedRectangle, cornerRadius);
    case MenuPreviewBacking::material:
      break;
  }
  return content.background(Representable("MenuPreviewMaterial", std::make_shared<MenuPreviewMaterial>()))
      .clipShape(ShapeKind::roundedRectangle, cornerRadius);
}

View MenuBarStep(std::shared_ptr<AppPreferences> preferences, std::shared_ptr<LoginItem> loginItem) {
  return Composite("MenuBarStep", [preferences, loginItem](Context& c) {
    c.observe(preferences->resumeAnimationsOnLaunchPublisher());
    c.observe(preferences->hideDockPublisher());
    c.observe(loginItem->enabledPublisher());
    c.observe(loginItem->requiresApprovalPublisher());
    c.observe(loginItem->messagePublisher());
    const Environment& env = c.environment();
    const bool reduceMotion = env.reduceMotion, reduceTransparency = env.reduceTransparency;
    const bool dark = env.colorScheme == ColorScheme::dark;
    const bool loginEnabled = loginItem->enabled();
    std::weak_ptr<LoginItem> weakLogin = loginItem;
    std::weak_ptr<AppPreferences> weakPreferences = preferences;

    View preview = OnboardingWallpaper()
                       .frame(std::nullopt, 190.0)
                       .overlay(MockMenuBar(dark, preferences->resumeAnimationsOnLaunch(), loginEnabled, reduceMotion,
                                            reduceTransparency)
                                    .frame(std::nullopt, kInfinity, std::nullopt, kInfinity,
                                           Alignment{HorizontalAlignment::center, VerticalAlignment::top}))
                       .clipShape(ShapeKind::roundedRectangle, 12)
                       .overlay(Shape(ShapeKind::roundedRectangle, 12).strokeBorder(Color::primary().withOpacity(0.08), 0.5))
                       .accessibilityElement(AccessibilityChildren::ignore)
                       .accessibilityLabel(previewLabel(loginEnabled));

    Binding<bool> launchAtLogin{[weakLogin] {
                                  auto login = weakLogin.lock();
                                  return login && login->enabled();
                                },
                                [weakLogin](bool on) {
                                  if (auto login = weakLogin.lock()) login->setEnabled(on);
                                }};
    Binding<bool> hideDock{[weakPreferences] {
                             auto p = weakPreferences.lock();
                             return p && p->hideDock();
                           },
                           [weakPreferences](bool on) {
                             if (auto p = weakPreferences.lock()) p->setHideDock(on);
                           }};
    std::vector<View> rows{SwitchRow("Launch at login", "Open vurle when you log in to your Mac.", false, launchAtLogin)};
    if (loginItem->requiresApproval()) {
      rows.push_back(Button(Text("Allow in System Settings\u2026").font(Font::system(11)), [weakLogin] {
        if (auto login = weakLogin.lock()) login->openSettings();
      }));
    }
    if (!loginItem->message().empty()) {
      rows.push_back(Text(loginItem->message())
                         .font(Font::system(11))
                         .foregroundStyle(Color::secondary())
                         .fixedSize(false, true));
    }
    rows.push_back(Divider());
    rows.push_back(SwitchRow("Hide in Dock", "Keep vurle in the menu bar when in the background.", true, hideDock));
    View card = VStack(HorizontalAlignment::leading, 10, std::move(rows))
                    .padding(14)
                    .frame(std::nullopt, kInfinity, std::nullopt, std::nullopt, Alignment::leading())
                    .background(Shape(ShapeKind::roundedRectangle, 14)
                                    .fill(Color::controlBackground().withOpacity(reduceTransparency ? 1.0 : 0.74)));
    return VStack(HorizontalAlignment::center, 16, {preview, card});
  });
}

}  // namespace vurle
