#include "ui/onboarding/menu_bar_step.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/appkit/appearance.hpp"
#include "platform/appkit/visual_effect_view.hpp"
#include "platform/bundle/bundle.hpp"
#include "platform/desktop/system_wallpaper.hpp"
#include "platform/foundation/date_formatter.hpp"
#include "platform/ui/picture_test_support.hpp"
#include "ui/onboarding/onboarding_test_support.hpp"

namespace vurle {
namespace {

using platform::ui::Node;
using platform::ui::ViewRef;

class MenuBarStepTest : public testing::OnboardingTest {
 protected:
  void TearDown() override {
    testing::OnboardingTest::TearDown();
    if (!bundle.empty()) std::filesystem::remove_all(bundle);
  }
  void showStep2() {
    make(true, true);
    flow->setStep(2);
    show();
  }
  std::vector<ViewRef> inPage(const std::function<bool(const Node&)>& match) const {
    const auto page = graph().findKind("MenuBarStep");
    if (!page) return {};
    const std::string root = page->identity();
    return graph().findAll([&](const Node& n) { return n.identity.starts_with(root) && match(n); });
  }
  // The mock menu bar: the stack that holds the clock's timeline.
  const Node& bar() const {
    auto found = inPage([](const Node& n) { return n.kind() == "TimelineView"; });
    if (found.size() != 1) throw std::logic_error("not one clock");
    return *found.front().node().parent;
  }
  std::string clock() const {
    auto found = inPage([](const Node& n) { return n.kind() == "Text" && n.parent && n.parent->kind() == "TimelineView"; });
    return found.size() == 1 ? found.front().text() : std::string("(no clock)");
  }
  std::vector<std::string> rowTitles() const {
    std::vector<std::string> titles;
    for (const auto& t : inPage([](const Node& n) {
           return n.kind() == "Text" && n.parent && n.parent->kind() == "HStack" && n.environment.font.role == "menu";
         }))
      titles.push_back(t.text());
    return titles;
  }
  // The check marks' opacities, top to bottom.
  std::vector<double> checks() const {
    std::vector<double> out;
    for (const auto& m : inPage([](const Node& n) { return n.kind() == "Image" && n.view.desc().systemImage == "checkmark"; }))
      out.push_back(m.modifier("opacity")->number("value", -1));
    return out;
  }
  std::string previewLabel() const {
    auto found = graph().findLabel(previewLabelFor(loginItem->enabled()));
    return found ? found->accessibility().label : std::string();
  }
  static std::string previewLabelFor(bool checked) {
    return std::string("vurle\u2019s icon in the macOS menu bar, followed by Battery, Wi-Fi, Control Center, and the "
                       "date and time. The menu contains Settings, an animation toggle, Launch at Login, and Quit "
                       "vurle. Launch at Login is ") +
           (checked ? "checked." : "unchecked.");
  }
  // The main bundle in a folder of the test's own, with this Info.json.
  void useInfo(const std::string& json) {
    bundle = std::filesystem::temp_directory_path() / ("menu-bar-step-" + std::to_string(::getpid()));
    std::filesystem::create_directories(bundle);
    std::ofstream(bundle / "Info.json") << json;
    platform::NSBundle::setMainBundlePath(bundle);
  }
  // A switch by its accessibility label.
  std::optional<ViewRef> toggle(const std::string& label) const {
    auto found = graph().findAll([&](const Node& n) { return n.kind() == "Toggle" && graph().accessibility(n).label == label; });
    if (found.size() != 1) return std::nullopt;
    return found.front();
  }
  std::filesystem::path bundle;
};

// The bar's height comes from the screen's reserve above its visible
// frame: kept from just above 0 up to 38 points, 28 otherwise.
TEST_F(MenuBarStepTest, TheMockMenuBarIsAsHighAsTheScreensReserveWithin38Points) {
  struct Case {
    double reserve;
    bool screen;
    double height;
  };
  const Case cases[] = {{0, true, 28}, {0.5, true, 0.5}, {24, true, 24}, {37, true, 37},
                        {38, true, 38}, {38.5, true, 28}, {100, true, 28}, {24, false, 28}};
  for (const auto& c : cases) {
    if (c.screen) {
      platform::NSScreen::screens().front()->setMenuBarReserve(c.reserve);
    } else {
      platform::NSScreen::setScreens({});
    }
    EXPECT_DOUBLE_EQ(menuBarHeight(), c.height) << c.reserve << (c.screen ? "" : " without a screen");
    if (c.screen) {
      showStep2();
      // The clock sits centred in the bar, at the top of the picture.
      auto clockText = inPage([](const Node& n) { return n.kind() == "Text" && n.parent && n.parent->kind() == "TimelineView"; });
      ASSERT_EQ(clockText.size(), 1u);
      const double top = graph().findKind("MenuBarStep")->frame().origin.y;
      EXPECT_NEAR(CGRectGetMidY(clockText.front().frame()) - top, c.height / 2, 1e-9) << c.reserve;
    }
    TearDown();
    SetUp();
  }
}

// White symbols and clock in the dark scheme, black at 85 % in the light;
// the solid strip and the opaque card only under Reduce Transparency.
TEST_F(MenuBarStepTest, TheBarFollowsTheColourSchemeAndReduceTransparency) {
  using platform::NSAppearance;
  for (bool dark : {false, true}) {
    for (bool reduceTransparency : {false, true}) {
      const std::string what = std::string(dark ? "dark" : "light") + (reduceTransparency ? ", reduced" : "");
      NSAppearance::setSystemAppearance(
          NSAppearance::appearanceNamed(dark ? platform::NSAppearanceNameDarkAqua : platform::NSAppearanceNameAqua));
      platform::NSWorkspace::sharedWorkspace().setReduceTransparency(reduceTransparency);
      showStep2();
      const auto expected = dark ? platform::ui::Color::white() : platform::ui::Color::black().withOpacity(0.85);
      auto clockText = inPage([](const Node& n) { return n.kind() == "Text" && n.parent && n.parent->kind() == "TimelineView"; });
      ASSERT_EQ(clockText.size(), 1u) << what;
      EXPECT_EQ(clockText.front().node().environment.foreground, expected) << what;
      auto wifi = inPage([](const Node& n) { return n.kind() == "Image" && n.view.desc().systemImage == "wifi"; });
      ASSERT_EQ(wifi.size(), 1u);
      EXPECT_EQ(wifi.front().node().environment.foreground, expected) << what;
      const auto* strip = bar().modifier("background");
      EXPECT_EQ(strip != nullptr, reduceTransparency) << what;
      if (strip) {
        EXPECT_EQ(strip->content->desc().color.name, "windowBackground") << what;
      }
      auto cards = inPage([](const Node& n) {
        return n.kind() == "VStack" && n.view.desc().spacing == 10.0 && n.modifier("background");
      });
      ASSERT_EQ(cards.size(), 1u) << what;
      const auto& fill = cards.front().modifier("background")->content->desc().modifiers;
      double opacity = -1;
      for (const auto& m : fill)
        if (m.name == "fill") opacity = m.number("opacity", -1);
      EXPECT_DOUBLE_EQ(opacity, reduceTransparency ? 1.0 : 0.74) << what;
      TearDown();
      SetUp();
    }
  }
}

// Solid under Reduce Transparency; glass from 26 on unless the bundle says
// true (a Boolean, not the text "YES"); the menu material before 26.
TEST_F(MenuBarStepTest, TheMenuIsBackedByGlassOrTheMaterialAsTheSystemAndBundleSay) {
  struct Case {
    int major;
    const char* info;  // Info.json, nullptr: none
    bool reduceTransparency;
    MenuPreviewBacking backing;
  };
  const Case cases[] = {
      {25, nullptr, false, MenuPreviewBacking::material},
      {25, R"({"UIDesignRequiresCompatibility": true})", false, MenuPreviewBacking::material},
      {25, R"({"UIDesignRequiresCompatibility": false})", false, MenuPreviewBacking::material},
      {25, R"({"UIDesignRequiresCompatibility": "YES"})", false, MenuPreviewBacking::material},
      {26, nullptr, false, MenuPreviewBacking::glass},
      {26, R"({"UIDesignRequiresCompatibility": true})", false, MenuPreviewBacking::material},
      {26, R"({"UIDesignRequiresCompatibility": false})", false, MenuPreviewBacking::glass},
      {26, R"({"UIDesignRequiresCompatibility": "YES"})", false, MenuPreviewBacking::glass},
      {27, nullptr, false, MenuPreviewBacking::glass},
      {26, nullptr, true, MenuPreviewBacking::solid},
      {25, nullptr, true, MenuPreviewBacking::solid},
  };
  for (const auto& c : cases) {
    const std::string what = std::to_string(c.major) + " " + (c.info ? c.info : "no key") +
                             (c.reduceTransparency ? ", reduced" : "");
    platform::ProcessInfo::setOperatingSystemVersion({c.major, 0, 0});
    useInfo(c.info ? c.info : "{}");
    platform::NSWorkspace::sharedWorkspace().setReduceTransparency(c.reduceTransparency);
    EXPECT_EQ(menuPreviewBacking(c.reduceTransparency), c.backing) << what;
    showStep2();
    const auto glass = inPage([](const Node& n) { return n.modifier("glassEffect") != nullptr; });
    const auto material = inPage([](const Node& n) { return n.kind() == "MenuPreviewMaterial"; });
    EXPECT_EQ(glass.size(), c.backing == MenuPreviewBacking::glass ? 1u : 0u) << what;
    EXPECT_EQ(material.size(), c.backing == MenuPreviewBacking::material ? 1u : 0u) << what;
    if (!material.empty()) {
      auto effect = std::dynamic_pointer_cast<platform::NSVisualEffectView>(material.front().hostedView());
      ASSERT_TRUE(effect) << what;
      EXPECT_EQ(effect->material(), platform::NSVisualEffectMaterial::menu);
      EXPECT_EQ(effect->blendingMode(), platform::NSVisualEffectBlendingMode::withinWindow);
      EXPECT_EQ(effect->state(), platform::NSVisualEffectState::active);
    }
    const auto menu = inPage([](const Node& n) { return n.kind() == "VStack" && n.environment.font.role == "menu"; });
    ASSERT_FALSE(menu.empty()) << what;
    const auto* background = menu.front().modifier("background");
    if (c.backing == MenuPreviewBacking::solid) {
      ASSERT_TRUE(background) << what;
      EXPECT_EQ(background->content->desc().kind, "RoundedRectangle");
      EXPECT_EQ(background->content->desc().modifiers.front().string("color"), "windowBackground");
    }
    TearDown();
    SetUp();
  }
}

// The menu's rows follow the live state: the animation item's title by the
// switch, the check mark beside "Launch at Login" only while it is on, and
// the preview's label saying so; switching it on animates the mark in over
// 0.18 s (not under Reduce Motion).
TEST_F(MenuBarStepTest, RowsAndTheCheckMarkFollowTheSwitchesLive) {
  for (bool reduceMotion : {false, true}) {
    platform::NSWorkspace::sharedWorkspace().setReduceMotion(reduceMotion);
    status = LoginItem::notRegistered;
    showStep2();
    preferences->setResumeAnimationsOnLaunch(false);
    turn();
    EXPECT_EQ(rowTitles(), (std::vector<std::string>{"Settings\u2026", "Enable animations", "Launch at Login", "Quit vurle"}));
    EXPECT_EQ(checks(), (std::vector<double>{0, 0, 0, 0}));
    EXPECT_EQ(previewLabel(), previewLabelFor(false));
    preferences->setResumeAnimationsOnLaunch(true);
    turn();
    EXPECT_EQ(rowTitles()[1], "Pause animations");

    auto login = toggle("Launch at login");
    ASSERT_TRUE(login);
    login->tap();
    turn();
    EXPECT_TRUE(loginItem->enabled());
    EXPECT_EQ(status, LoginItem::enabledStatus);
    EXPECT_EQ(checks(), (std::vector<double>{0, 0, 1, 0}));
    EXPECT_EQ(previewLabel(), previewLabelFor(true));
    bool animated = false, none = false;
    for (const auto& m : inPage([](const Node& n) { return n.kind() == "Image" && n.view.desc().systemImage == "checkmark"; })) {
      for (const auto& record : graph().animations()) {
        if (record.identity != m.identity()) continue;
        if (record.animation && record.animation->kind == "easeInOut" && record.animation->duration == 0.18) animated = true;
        if (!record.animation) none = true;
      }
    }
    EXPECT_EQ(animated, !reduceMotion);
    EXPECT_EQ(none, reduceMotion);

    auto dock = toggle("Hide in Dock");
    ASSERT_TRUE(dock);
    dock->tap();
    turn();
    EXPECT_TRUE(preferences->hideDock());
    EXPECT_TRUE(defaults->boolForKey("hideDock"));
    TearDown();
    SetUp();
  }
}

// Under the login switch: the approval button while the service waits for
// the user (it opens the login items), and the failure's message.
TEST_F(MenuBarStepTest, ApprovalButtonAndFailureMessageShowUnderTheLoginSwitch) {
  make(true, true);
  int opened = 0;
  int current = LoginItem::requiresApprovalStatus;
  loginItem = LoginItem::make({[&] { return current; },
                               [] { return std::optional<platform::NSError>(platform::NSError{"SM", 1, "Operation not permitted"}); },
                               [] { return std::optional<platform::NSError>(); }, [&] { ++opened; }});
  flow->setStep(2);
  show();
  auto allow = graph().findText("Allow in System Settings\u2026");
  ASSERT_TRUE(allow);
  allow->tap();
  EXPECT_EQ(opened, 1);
  EXPECT_FALSE(shows("Couldn\u2019t change launch at login. Operation not permitted"));

  current = LoginItem::notRegistered;
  loginItem->refreshStatus();
  turn();
  EXPECT_FALSE(shows("Allow in System Settings\u2026"));
  toggle("Launch at login")->tap();
  turn();
  EXPECT_FALSE(shows("Allow in System Settings\u2026"));
  EXPECT_TRUE(shows("Couldn\u2019t change launch at login. Operation not permitted"));
  EXPECT_FALSE(loginItem->enabled());
}

// The clock at a pinned moment: a Tuesday, 22:13:20 UTC.
TEST_F(MenuBarStepTest, TheClockReadsInTheLocalesConventionAndZone) {
  struct Case {
    const char* locale;
    const char* zone;
    const char* text;
  };
  const Case cases[] = {
      {"en_US", "UTC", "Tue Nov 14  10:13\u202fPM"},
      {"en_GB", "UTC", "Tue Nov 14  22:13"},
      {"en_US", "Asia/Tokyo", "Wed Nov 15  7:13\u202fAM"},
      {"en_GB", "Asia/Tokyo", "Wed Nov 15  07:13"},
  };
  const auto moment = platform::Date::withTimeIntervalSince1970(1'700'000'000);
  for (const auto& c : cases) {
    ASSERT_TRUE(platform::NSLocale::setCurrentLocaleIdentifier(c.locale));
    ASSERT_TRUE(platform::NSTimeZone::setDefaultTimeZoneName(c.zone));
    EXPECT_EQ(menuBarClockText(moment), c.text) << c.locale << " " << c.zone;
  }
}

// The page shows the wall clock's time and makes it again at each whole
// minute: the scheduler's wall clock starts 20 s into a minute.
TEST_F(MenuBarStepTest, TheClockIsMadeAgainAtEachMinuteOfTheWallClock) {
  showStep2();
  EXPECT_EQ(clock(), "Tue Nov 14  10:13\u202fPM");
  scope->advance(39.99);
  EXPECT_EQ(clock(), "Tue Nov 14  10:13\u202fPM");
  scope->advance(0.01);
  EXPECT_EQ(clock(), "Tue Nov 14  10:14\u202fPM");
  scope->advance(59.99);
  EXPECT_EQ(clock(), "Tue Nov 14  10:14\u202fPM");
  scope->advance(0.01);
  EXPECT_EQ(clock(), "Tue Nov 14  10:15\u202fPM");
  ASSERT_TRUE(platform::NSLocale::setCurrentLocaleIdentifier("en_GB"));
  scope->advance(60);
  EXPECT_EQ(clock(), "Tue Nov 14  22:16");
}

// The light picture with animations on ("Pause animations"), the dark one
// with them off ("Enable animations", the longer title) and the check mark
// beside "Launch at Login".
TEST_F(MenuBarStepTest, PicturesInLightAndDark) {
  using platform::NSAppearance;
  for (bool dark : {false, true}) {
    NSAppearance::setSystemAppearance(
        NSAppearance::appearanceNamed(dark ? platform::NSAppearanceNameDarkAqua : platform::NSAppearanceNameAqua));
    const auto root = std::filesystem::temp_directory_path() / ("menu-bar-root-" + std::to_string(::getpid()));
    ASSERT_EQ(platform::layOutDesktopWallpaper(
                  root, platform::WallpaperPictures{std::filesystem::path(VURLE_RESOURCES_DIR) / "wallpaper-light.png",
                                                    std::filesystem::path(VURLE_RESOURCES_DIR) / "wallpaper-dark.png"}),
              std::nullopt);
    showStep2();
    preferences->setResumeAnimationsOnLaunch(!dark);
    if (dark) toggle("Launch at login")->tap();
    turn();
    platform::ui::pixelOf(graph(), 0, 0);  // the first draw asks for the backdrop
    turn();
    platform::ui::expectMatchesStoredPicture(graph(), VURLE_PICTURES_DIR,
                                             dark ? "onboarding_menu_bar_dark" : "onboarding_menu_bar_light");
    TearDown();
    SetUp();
    std::filesystem::remove_all(root);
  }
}

}  // namespace
}  // namespace vurle
