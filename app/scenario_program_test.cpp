#include <cairo.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/app_preferences.hpp"
#include "app/program.hpp"
#include "app/scenario_run.hpp"
#include "cursor/engine/cursor_engine.hpp"
#include "platform/appkit/display_link.hpp"
#include "platform/appkit/event.hpp"
#include "platform/appkit/screen.hpp"
#include "platform/appkit/window.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/defaults/user_defaults.hpp"
#include "platform/desktop/screen_recorder.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/foundation/foreign_pid.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/network/loopback_server.hpp"
#include "platform/network/url_session.hpp"
#include "platform/ui/graph.hpp"
#include "platform/windowserver/window_server.hpp"
#include "ui/onboarding/about_window.hpp"
#include "ui/onboarding/legal_agreement.hpp"
#include "ui/onboarding/pointer_test_strip.hpp"

namespace vurle {
namespace {

namespace fs = std::filesystem;

// Darkest pixel (0..255 luminance) in a square around (x, y).
int darkestAround(cairo_surface_t* png, int x, int y, int radius) {
  cairo_surface_flush(png);
  const unsigned char* data = cairo_image_surface_get_data(png);
  const int stride = cairo_image_surface_get_stride(png);
  int darkest = 255;
  for (int dy = -radius; dy <= radius; ++dy) {
    for (int dx = -radius; dx <= radius; ++dx) {
      const auto* px = reinterpret_cast<const uint32_t*>(data + (y + dy) * stride) + (x + dx);
      const int luminance = (((*px >> 16) & 0xFF) + ((*px >> 8) & 0xFF) + (*px & 0xFF)) / 3;
      darkest = std::min(darkest, luminance);
    }
  }
  return darkest;
}

TEST(ScenarioProgramTest, ATextFieldUnderTheMovingPointerMorphsThePointerAndHandsItBack) {
  const fs::path root = fs::temp_directory_path() / ("vurle-program-" + std::to_string(::getpid()));
  fs::remove_all(root);
  fs::create_directories(root);
  const fs::path scenario = root / "field.json";
  std::ofstream(scenario) << R"({
    "name": "field",
    "screens": [{"frame": [0, 0, 1000, 700], "backingFactor": 2}],
    "windows": [{"frame": [100, 100, 500, 400],
                 "owner": {"pid": )" << platform::foreignPid(701) << R"(, "name": "Notes"},
                 "cursors": [{"rect": [150, 200, 400, 100], "cursor": "text"}]}],
    "pointer": [700, 600],
    "timeline": [{"wait": 0.3}, {"move": {"to": [300, 250], "duration": 0.4}}, {"wait": 0.6}]
  })";
  std::ostringstream out, err;
  const int status = runScenario({scenario.string(), (root / "run").string()}, programScenarioLaunch(), out, err);
  const std::string summary = out.str();
  ASSERT_EQ(status, 0) << err.str() << summary;
  // One change, arrow to I-beam, morphed by this process and handed back.
  EXPECT_NE(summary.find("cursor changes: 1, transitions played: 1"), std::string::npos) << summary;
  EXPECT_NE(summary.find("hand-backs to the native cursor: 1"), std::string::npos) << summary;
  EXPECT_NE(summary.find("the cursor is visible with a hide count of 0"), std::string::npos) << summary;
  EXPECT_TRUE(fs::exists(root / "run" / "trace.json"));
  EXPECT_TRUE(fs::exists(root / "run" / "transitions" / "01-text.png"));
  EXPECT_TRUE(fs::exists(root / "run" / "settings"));

  // The last frame: the pointer rests on the field with the system's I-beam
  // back, its hotspot (the beam's middle) on the pointer at the picture's
  // centre, and the field's white around it.
  fs::path last;
  for (const auto& entry : fs::directory_iterator(root / "run" / "frames")) {
    if (last.empty() || entry.path().filename() > last.filename()) last = entry.path();
  }
  ASSERT_FALSE(last.empty());
  cairo_surface_t* png = cairo_image_surface_create_from_png(last.c_str());
  ASSERT_EQ(cairo_surface_status(png), CAIRO_STATUS_SUCCESS);
  const int cx = cairo_image_surface_get_width(png) / 2;
  const int cy = cairo_image_surface_get_height(png) / 2;
  EXPECT_LT(darkestAround(png, cx, cy, 1), 100);  // the beam's stroke
  EXPECT_GT(darkestAround(png, cx + 40, cy, 1), 200);  // the field, 20 points to the right
  cairo_surface_destroy(png);
  fs::remove_all(root);
  platform::resetProcessState();
}

// The pause shortcut, pressed over another application's window, reaches
// the program and not that application: the next cursor change is not
// morphed. The same run without the key morphs them all.
TEST(ScenarioProgramTest, ThePauseShortcutPausesTheAnimationsFromAnyApplication) {
  const fs::path root = fs::temp_directory_path() / ("vurle-program-shortcut-" + std::to_string(::getpid()));
  fs::remove_all(root);
  fs::create_directories(root);
  for (const bool pressed : {false, true}) {
    const fs::path scenario = root / "shortcut.json";
    std::ofstream(scenario) << R"({
      "name": "shortcut",
      "screens": [{"frame": [0, 0, 1000, 700], "backingFactor": 2}],
      "windows": [{"frame": [100, 100, 700, 400], "owner": {"pid": 701, "name": "Notes"},
                   "cursors": [{"rect": [150, 200, 200, 100], "cursor": "text"},
                               {"rect": [450, 200, 200, 100], "cursor": "pointingHand"}]}],
      "pointer": [700, 600],
      "timeline": [{"wait": 0.3}, {"move": {"to": [250, 250], "duration": 0.4}}, {"wait": 0.6},)"
                            << (pressed ? R"({"key": {"code": 47, "modifiers": ["control", "option"]}},)" : "")
                            << R"({"wait": 1.0}, {"move": {"to": [550, 250], "duration": 0.4}}, {"wait": 0.6}]
    })";
    std::ostringstream out, err;
    const fs::path run = root / (pressed ? "pressed" : "plain");
    // The summary counts what this process showed, frames recorded or not.
    ASSERT_EQ(runScenario({scenario.string(), run.string(), /*recordFrames=*/false}, programScenarioLaunch(), out, err),
              0)
        << err.str();
    // Text, then the window's arrow on the way, then the hand.
    const std::string expected = pressed ? "cursor changes: 3, transitions played: 1" : "cursor changes: 3, transitions played: 3";
    EXPECT_NE(out.str().find(expected), std::string::npos) << out.str();
    platform::resetProcessState();
  }
  fs::remove_all(root);
}

// The bundled settings scenario: the settings window opens, the tab bar is
// clicked through by the pointer, a shortcut is recorded by key presses,
// and a picture of the window is written after each step.
TEST(ScenarioProgramTest, TheSettingsScenarioClicksThroughTheTabsAndPicturesEachStep) {
  const fs::path root = fs::temp_directory_path() / ("vurle-settings-" + std::to_string(::getpid()));
  fs::remove_all(root);
  std::ostringstream out, err;
  // Without the frames around the pointer, which nothing here reads.
  const int status = runScenario(
      {std::string(VURLE_SOURCE_DIR) + "/resources/scenarios/settings.json", root.string(), /*recordFrames=*/false},
      programScenarioLaunch(), out, err);
  ASSERT_EQ(status, 0) << err.str() << out.str();
  EXPECT_NE(out.str().find(", 7 window pictures"), std::string::npos) << out.str();

  // Each picture shows the window at the recorder's scale with the yellow
  // capsule under the tab the pointer clicked last.
  constexpr double kScale = 2;
  constexpr double kTab = (460 - 40 - 6) / 4.0;
  struct Picture {
    const char* name;
    int selectedTab;
  } pictures[] = {{"general", 0},   {"preview", 1},           {"behavior", 2},           {"shortcuts", 3},
                  {"shortcuts-recording", 3}, {"shortcuts-recorded", 3}, {"general-again", 0}};
  const auto yellowAt = [](cairo_surface_t* png, double x, double y) {
    const unsigned char* data = cairo_image_surface_get_data(png);
    const auto* px = reinterpret_cast<const uint32_t*>(data + int(y) * cairo_image_surface_get_stride(png)) + int(x);
    return ((*px >> 16) & 0xFF) > 230 && ((*px >> 8) & 0xFF) > 180 && ((*px >> 8) & 0xFF) < 225 && (*px & 0xFF) < 60;
  };
  for (const auto& p : pictures) {
    const fs::path path = root / "windows" / (std::string(p.name) + ".png");
    cairo_surface_t* png = cairo_image_surface_create_from_png(path.c_str());
    ASSERT_EQ(cairo_surface_status(png), CAIRO_STATUS_SUCCESS) << path;
    EXPECT_EQ(cairo_image_surface_get_width(png), 460 * kScale) << p.name;
    EXPECT_EQ(cairo_image_surface_get_height(png), 591 * kScale) << p.name;
    cairo_surface_flush(png);
    for (int tab = 0; tab < 4; ++tab) {
      // Near the capsule's left end, clear of the title's letters.
      const double x = (20 + 3 + tab * kTab + 12) * kScale;
      EXPECT_EQ(yellowAt(png, x, (38 + 48 + 14 + 3 + 13.5) * kScale), tab == p.selectedTab)
          << p.name << ", tab " << tab;
    }
    cairo_surface_destroy(png);
  }

  // The run's settings are in its own folder, the shortcuts among them.
  const auto preferences =
      AppPreferences::make(platform::NSUserDefaults::make("mirt.vurle.app", root / "settings" / "vurle"));
  ASSERT_TRUE(preferences->pauseShortcut());
  EXPECT_EQ(preferences->pauseShortcut()->modifiers, GlobalShortcut::controlKey | GlobalShortcut::optionKey);
  EXPECT_EQ(*preferences->pauseShortcut(),
            (GlobalShortcut{40, GlobalShortcut::controlKey | GlobalShortcut::optionKey, "K"}));
  fs::remove_all(root);
  platform::resetProcessState();
}

// A first run played through: the consent, the permission granted while
// the page waits, launch at login, All set; what it leaves is in the run's
// own folder, never the user's.
TEST(ScenarioProgramTest, TheOnboardingScenarioPlaysAFirstRunIntoItsOwnFolder) {
  const fs::path root = fs::temp_directory_path() / ("vurle-onboarding-" + std::to_string(::getpid()));
  const fs::path user = fs::temp_directory_path() / ("vurle-onboarding-user-" + std::to_string(::getpid()));
  fs::remove_all(root);
  fs::remove_all(user);
  fs::create_directories(user);
  ::setenv("XDG_CONFIG_HOME", user.c_str(), 1);
  std::ostringstream out, err;
  // Without the frames around the pointer, which nothing here reads.
  const int status = runScenario(
      {std::string(VURLE_SOURCE_DIR) + "/resources/scenarios/onboarding.json", root.string(), /*recordFrames=*/false},
      programScenarioLaunch(), out, err);
  ASSERT_EQ(status, 0) << err.str() << out.str();
  EXPECT_NE(out.str().find(", 8 window pictures"), std::string::npos) << out.str();
  for (const char* name : {"welcome", "welcome-consent", "accessibility", "accessibility-granted", "menu-bar",
                           "menu-bar-login", "all-set", "settings"}) {
    cairo_surface_t* png = cairo_image_surface_create_from_png((root / "windows" / (std::string(name) + ".png")).c_str());
    EXPECT_EQ(cairo_surface_status(png), CAIRO_STATUS_SUCCESS) << name;
    if (cairo_surface_status(png) == CAIRO_STATUS_SUCCESS) {
      EXPECT_EQ(cairo_image_surface_get_width(png), 920) << name;
    }
    cairo_surface_destroy(png);
  }
  const auto defaults = platform::NSUserDefaults::make("mirt.vurle.app", root / "settings" / "vurle");
  EXPECT_TRUE(defaults->boolForKey("onboardingCompleted"));
  EXPECT_TRUE(defaults->objectForKey("eulaAcceptance")) << "the agreement accepted from the consent";
  const fs::path entry = root / "settings" / "autostart" / "mirt.vurle.app.desktop";
  std::ifstream autostart(entry);
  std::stringstream text;
  text << autostart.rdbuf();
  EXPECT_NE(text.str().find("VURLE_LAUNCHED_AS_LOGIN_ITEM=1"), std::string::npos) << entry;
  EXPECT_FALSE(fs::exists(user / "autostart"));
  EXPECT_FALSE(fs::exists(user / "vurle"));
  fs::remove_all(root);
  fs::remove_all(user);
  platform::resetProcessState();
}

// A picture is of the window the user sees: none before the window opens,
// which a run not yet accepting the agreement does at once.
TEST(ScenarioProgramTest, APictureNeedsTheWindowShownAndTheAgreementDecidesWhetherItOpensAtOnce) {
  const fs::path root = fs::temp_directory_path() / ("vurle-pictures-" + std::to_string(::getpid()));
  fs::remove_all(root);
  fs::create_directories(root);
  const std::string screens = R"("screens": [{"frame": [0, 0, 1440, 900], "backingFactor": 1}], )";
  struct Case {
    const char* name;
    std::string scenario;
    int status;
    const char* says;
    std::vector<std::string> written, missing;
    bool accepted;
  } cases[] = {
      {"accepted", "{" + screens + R"("timeline": [{"picture": "early"}, {"open": "settings"}, {"picture": "late"}]})", 1,
       "vurle: no picture \"early\": the main window is not shown", {"late"}, {"early"}, true},
      {"waiting", "{" + screens + R"("settings": {"agreementAccepted": false}, "timeline": [{"picture": "gate"}]})", 0, "",
       {"gate"}, {}, false},
  };
  for (const auto& c : cases) {
    const fs::path file = root / (std::string(c.name) + ".json");
    std::ofstream(file) << c.scenario;
    const fs::path run = root / c.name;
    std::ostringstream out, err;
    EXPECT_EQ(runScenario({file.string(), run.string(), /*recordFrames=*/false}, programScenarioLaunch(), out, err),
              c.status)
        << c.name << ": " << err.str();
    EXPECT_EQ(err.str().empty(), !*c.says) << err.str();
    if (*c.says) {
      EXPECT_NE(err.str().find(c.says), std::string::npos) << err.str();
    }
    for (const auto& name : c.written) EXPECT_TRUE(fs::exists(run / "windows" / (name + ".png"))) << name;
    for (const auto& name : c.missing) EXPECT_FALSE(fs::exists(run / "windows" / (name + ".png"))) << name;
    const auto settings = platform::NSUserDefaults::make("mirt.vurle.app", run / "settings" / "vurle");
    EXPECT_EQ(settings->objectForKey("eulaAcceptance").has_value(), c.accepted) << c.name;
    platform::resetProcessState();
  }
  fs::remove_all(root);
}

// The window's content as the program makes it: the settings page over the
// delegate's objects and the real example players, whose strip's cursor
// test the shell can end.
TEST(ScenarioProgramTest, TheProgramHostsTheSettingsPageAndEndsTheStripsTest) {
  const fs::path root = fs::temp_directory_path() / ("vurle-seams-" + std::to_string(::getpid()));
  fs::remove_all(root);
  ::setenv("XDG_CONFIG_HOME", root.c_str(), 1);  // the shared agreement's settings
  platform::WindowServer::shared();
  platform::resetProcessState();
  platform::NSScreen::setScreens({platform::NSScreen::make(platform::CGRectMake(0, 0, 1440, 900), 2)});
  {
    platform::SimulatedSchedulerScope scope;
    auto refresh = platform::CADisplayLink::scheduleRefresh(1.0 / 120);
    platform::NSWorkspace::sharedWorkspace().activateApplication(::getpid());
    LegalAgreement::shared()->accept(true);
    auto defaults = platform::NSUserDefaults::makeInMemory("program-seams");
    defaults->setBool(true, "onboardingCompleted");  // the window shows the settings page
    auto preferences = AppPreferences::make(defaults);
    preferences->setSelectedTab(SettingsTab::preview);
    auto engine = CursorEngine::make(nullptr, defaults);
    auto seams = programSeams();
    auto examples = seams.makeInlineExamples();
    auto window = platform::NSWindow::make(platform::CGRectMake(200, 100, 460, 591), 2);
    window->setContentView(seams.makeContentView(preferences, nullptr, engine, examples, nullptr));
    window->makeKeyAndOrderFront();
    scope->runUntilIdle();

    auto strip = PointerTestStripView::activeStrip();
    ASSERT_TRUE(strip) << "the Preview tab shows the strip";
    const platform::CGRect f = strip->frame();
    const platform::NSPoint region4{f.origin.x + f.size.width * 4.5 / 6, 591 - (f.origin.y + f.size.height / 2)};
    window->sendEvent(platform::NSEvent(platform::NSEventTypeMouseMoved, region4, 0, 0));
    scope->runUntilIdle();
    ASSERT_EQ(strip->hoveredIndex(), 4);
    seams.cancelCursorTest();
    EXPECT_EQ(strip->hoveredIndex(), std::nullopt);
    EXPECT_EQ(strip->requestedCursorIndex(), std::nullopt);

    window->close();
    examples->stop();
    engine->stop();
    refresh->invalidate();
    scope->runUntilIdle();
  }
  platform::resetProcessState();
  fs::remove_all(root);
}

// Cairo and fontconfig keep their font caches for the life of the process.
class FontCacheRelease : public ::testing::Environment {
 public:
  void TearDown() override { platform::releaseDrawingCaches(); }
};
const auto* const fontCacheRelease = ::testing::AddGlobalTestEnvironment(new FontCacheRelease);


// The program's About window: the real window with the update card the
// program builds over the shared update controller.
TEST(ProgramSeamsTest, TheAboutWindowIsBuiltWithTheUpdateCard) {
  platform::resetProcessState();
  platform::SimulatedSchedulerScope scope;
  const auto seams = programSeams();
  ASSERT_TRUE(seams.makeAboutWindow);
  const auto controller = seams.makeAboutWindow();
  ASSERT_NE(controller, nullptr);
  auto window = std::dynamic_pointer_cast<VurleAboutWindow>(controller->window());
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->windowController(), controller);
  auto hosting = std::dynamic_pointer_cast<platform::ui::NSHostingView>(window->contentView()->subviews().at(0));
  ASSERT_NE(hosting, nullptr);
  // Not drawn here: the scenario's test above has let the drawing caches go.
  EXPECT_EQ(window->title(), "About vurle");
  controller->close();
  platform::resetProcessState();
}

TEST(ProgramSeamsTest, ReportABugOpensTheFormAsASheetOnTheMainWindowOnce) {
  platform::WindowServer::shared();
  platform::resetProcessState();
  platform::SimulatedSchedulerScope scope;
  // The shared store checks the site's release list: the site is a loopback server here.
  platform::LoopbackServer site;
  site.server().Get("/releases.json", [](const httplib::Request&, httplib::Response& response) {
    response.set_content("[]", "application/json");
  });
  platform::URLSession::routeHostForTesting("vurle.app", *platform::NSURL::URLWithString(site.baseURL()));
  {
    auto window = platform::NSWindow::make(platform::CGRectMake(100, 100, 460, 591), 2);
    window->setContentView(std::make_shared<platform::NSView>(platform::CGRectZero));
    window->makeKeyAndOrderFront();
    const ShellSeams seams = programSeams();
    // The form is not drawn here: the process's pinned fonts must not
    // outlive the font caches this program releases at its end.
    seams.presentBugReport(window);
    const auto sheet = window->attachedSheet();
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->title(), "Report a bug");
    seams.presentBugReport(window);
    EXPECT_EQ(window->attachedSheet(), sheet) << "the open form comes forward; no second one";
    window->endSheet(sheet);
  }
  scope->runUntilIdle();
  platform::resetProcessState();
}

}  // namespace
}  // namespace vurle
