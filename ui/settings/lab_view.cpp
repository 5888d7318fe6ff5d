#include "ui/settings/lab_view.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "app/app_version.hpp"
#include "app/brand_images.hpp"
#include "platform/appkit/application.hpp"
#include "ui/onboarding/legal_agreement_view.hpp"
#include "ui/settings/duration_controls.hpp"
#include "ui/settings/morph_preview_card.hpp"
#include "ui/settings/shortcuts_page.hpp"

namespace vurle {

using namespace platform;
using namespace platform::ui;

namespace {

constexpr SettingsTab kTabs[] = {SettingsTab::general, SettingsTab::preview, SettingsTab::behavior,
                                 SettingsTab::shortcuts};
constexpr double kInfinity = std::numeric_limits<double>::infinity();

View TitleRow() {
  return HStack(VerticalAlignment::center, 9,
                {Image(logoImage())
                     .resizable()
                     .interpolation(ImageInterpolation::high)
                     .scaledToFit()
                     .foregroundStyle(Color::primary())
                     .frame(std::nullopt, 36.0)
                     .accessibilityLabel("vurle"),
                 Spacer(),
                 VStack(HorizontalAlignment::trailing, 2,
                        {Text("version " + appShortVersion()), Text("build " + appBuildVersion())})
                     .font(Font::system(11))
                     .foregroundStyle(Color::secondary())
                     .textSelection(true)})
      .frame(std::nullopt, 48.0);
}

View TabBar(const LabView& page, bool reduceMotion) {
  auto preferences = page.preferences;
  const SettingsTab selected = preferences->selectedTab();
  const Color yellow = page.yellow;
  return GeometryReader([preferences, selected, yellow, reduceMotion](CGSize size) {
           const double w = settingsTabWidth(size.width);
           std::vector<View> buttons;
           for (SettingsTab tab : kTabs) {
             const bool isSelected = tab == selected;
             std::weak_ptr<AppPreferences> weak = preferences;
             View button = Button(Text(rawValue(tab))
                                      .font(Font::system(12, isSelected ? FontWeight::semibold : FontWeight::medium))
                                      .foregroundStyle(isSelected ? Color::black().withOpacity(0.85)
                                                                  : Color::primary().withOpacity(0.75))
                                      .frame(w, 27.0)
                                      .contentShape(ShapeKind::capsule),
                                  [weak, tab] {
                                    if (auto p = weak.lock()) p->setSelectedTab(tab);
                                  })
                               .buttonStyle(SettingsPressStyle());
             buttons.push_back(isSelected ? button.accessibilityAddTraits("isSelected") : button);
           }
           const auto found = std::find(std::begin(kTabs), std::end(kTabs), selected);
           const double index = found == std::end(kTabs) ? 0 : double(found - std::begin(kTabs));
           const std::optional<Animation> slide =
               reduceMotion ? std::nullopt : std::optional<Animation>(Animation::spring(0.26, 0.86));
           View indicator = Shape(ShapeKind::capsule)
                                .fill(yellow)
                                .frame(w, 27.0)
                                .offset(index * w, 0)
                                .animation(slide, selected);
           return ZStack({indicator, HStack(VerticalAlignment::center, 0, std::move(buttons))}, Alignment::leading())
               .padding(3)
               .background(Shape(ShapeKind::capsule).fill(Color::primary().withOpacity(0.06)));
         })
      .frame(std::nullopt, 33.0)
      .accessibilityElement(AccessibilityChildren::contain)
      .accessibilityLabel("Settings sections")
      .disabled(!page.agreement->accepted());
}

View PageArea(const LabView& page, Binding<bool> showsLoginHelp) {
  View content;
  switch (page.preferences->selectedTab()) {
    case SettingsTab::general: content = GeneralPage(page, std::move(showsLoginHelp)); break;
    case SettingsTab::preview: content = MorphPreviewCard(page.engine, page.examples, kSettingsYellow); break;
    case SettingsTab::behavior: content = BehaviorPage(page.preferences, page.engine); break;
    case SettingsTab::shortcuts:
      content = VStack(HorizontalAlignment::leading, 12, {ShortcutsPage(page.preferences)});
      break;
  }
  return content.frame(std::nullopt, kInfinity, std::nullopt, std::nullopt, Alignment::topLeading())
      .fixedSize(false, true)
      .padding(Edge::horizontal, 20)
      .padding(Edge::top, 16)
      .padding(Edge::bottom, 20);
}

}  // namespace

double snappedMilliseconds(double milliseconds) { return std::round(milliseconds / 10.0) * 10.0; }

double settingsTabWidth(double barWidth) { return (barWidth - 6) / double(std::size(kTabs)); }

std::string LabView::statusText(bool reduceMotion) const {
  if (reduceMotion) return "Reduce Motion is on. Changes stay instant.";
  if (!engine->error().empty()) return "Animations need attention";
  if (!preferences->resumeAnimationsOnLaunch()) return "Animate cursor changes across your apps";
  if (const auto& reason = engine->automaticPauseReason()) return *reason;
  return engine->systemWide() ? "Running across your apps" : "Waiting to start animations";
}

void LabView::setAnimationsEnabled(bool on) const {
  if (on == preferences->resumeAnimationsOnLaunch()) return;
  preferences->setResumeAnimationsOnLaunch(on);
  if (on) return;  // the animation session starts the engine when it may
  engine->setEnabled(false);
  engine->setDemoKind(std::nullopt);
  engine->disable();
  engine->release(true, std::nullopt, false);
}

void LabView::onAppear() const {
  loginItem->refreshStatus();
  engine->setStoredMilliseconds(snappedMilliseconds(engine->storedMilliseconds()));
  examples->setCurrentMilliseconds(engine->storedMilliseconds());
}

View LabView::body() const {
  const LabView page = *this;
  return Composite("LabView", [page](Context& c) {
    c.observe(page.engine->storedMillisecondsPublisher());
    c.observe(page.preferences->selectedTabPublisher());
    c.observe(page.preferences->shortcutsEnabledPublisher());
    c.observe(page.agreement->acceptedPublisher());
    auto showsLoginHelp = c.state<bool>("showsLoginHelp", false);
    const bool reduceMotion = c.environment().reduceMotion;
    const bool accepted = page.agreement->accepted();

    View header = VStack(HorizontalAlignment::leading, 14, {TitleRow(), TabBar(page, reduceMotion)})
                      .padding(Edge::horizontal, 20)
                      .padding(Edge::top, 38)
                      .padding(Edge::bottom, 14)
                      .fixedSize(false, true);
    View hairline = Shape(ShapeKind::rectangle).fill(Color::primary().withOpacity(0.08)).frame(std::nullopt, 0.5);
    View bodyArea = If(accepted,
                       VStack(HorizontalAlignment::center, 0, {PageArea(page, showsLoginHelp.binding())})
                           .frame(std::nullopt, kInfinity, std::nullopt, kInfinity, Alignment::topLeading()),
                       ScrollView(LegalAgreementView(page.agreement)));

    auto examples = page.examples;
    auto preferences = page.preferences;
    auto loginItem = page.loginItem;
    return VStack(HorizontalAlignment::center, 0, {header, hairline, bodyArea})
        .frame(std::nullopt, kInfinity, std::nullopt, kInfinity, Alignment::center())
        .ignoresSafeArea()
        .tint(page.yellow)
        .accentColor(page.yellow)
        .onAppear([page] { page.onAppear(); })
        .onChange<double>(page.engine->storedMilliseconds(),
                          [examples](const double&, const double& now) { examples->setCurrentMilliseconds(now); })
        .onChange<SettingsTab>(preferences->selectedTab(),
                               [examples, preferences](const SettingsTab&, const SettingsTab& now) {
                                 // An unfinished recording ends with any change of section.
                                 preferences->setRecordingAction(std::nullopt);
                                 if (now != SettingsTab::preview) examples->stop();
                               })
        .onChange<bool>(preferences->shortcutsEnabled(),
                        [preferences](const bool&, const bool& now) {
                          if (!now) preferences->setRecordingAction(std::nullopt);
                        })
        .onChange<bool>(reduceMotion,
                        [examples](const bool&, const bool& now) {
                          if (now) examples->reset();
                        })
        .onReceive<NSNotification>(
            notificationPublisher(NSNotificationCenter::defaultCenter(), NSApplicationDidBecomeActiveNotification),
            [loginItem](const NSNotification&) { loginItem->refreshStatus(); });
  });
}

}  // namespace vurle
