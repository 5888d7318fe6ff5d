// vurle_views FOLDER [SCALE]
//
// Writes a PNG of each settings and onboarding view built so far into
// FOLDER (made when missing), at SCALE pixels per point (2 by default), on
// a simulated clock so the pictures are the same on every run, from the
// program's own bundle (its version and build, its resources):
//   pointer_test_strip.png, speed_examples.png,
//   transition_duration_control.png, success_mark_first.png,
//   success_mark_last.png (the mark at 56 points as it appears and once
//   revealed), legal_agreement_sheet.png (the shipped agreement),
//   legal_agreement_sheet_unavailable.png (no document),
//   onboarding_welcome_unaccepted.png, onboarding_welcome_accepted.png,
//   onboarding_accessibility_not_granted.png,
//   onboarding_accessibility_granted.png (the onboarding's first two steps
//   in the 460 × 591 main window),
//   the settings page in that window: settings_general_login_help.png,
//   settings_general_dock_help.png (the General tab with one help popover
//   open), settings_preview.png, settings_behavior.png (while Game Mode
//   pauses the animation), shortcuts_recording.png (the Shortcuts tab
//   recording the pause shortcut after a refused key),
//   animation_error_help.png (the General tab with the engine's error
//   help open), legal_agreement_card.png, legal_agreement_card_ticked.png
//   (the agreement card before and after its box is ticked),
//   status_menu.png and menu_<title>.png for each menu of the menu bar (as
//   they open, validated),
//   onboarding_wallpaper_light.png, onboarding_wallpaper_dark.png (the
//   backdrop at 400 × 190 points over the bundled wallpaper, laid out in
//   a system root of its own that is removed afterwards, once its render
//   arrived),
//   onboarding_menu_bar_light.png, onboarding_menu_bar_dark.png (the last
//   step over that backdrop), completion_card.png (the card over the
//   settings page),
//   notice_success.png, notice_warning.png, notice_error.png,
//   notice_progress.png (the four kinds of feedback notice)
// (The About window, whose update card is support's, is
// vurle_report_views'.)
// Exits 1 with a message when a picture cannot be written or is blank (one
// colour all over), 2 on bad usage.

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "app/app_delegate.hpp"
#include "app/app_preferences.hpp"
#include "app/login_item.hpp"
#include "platform/accessibility/accessibility_server.hpp"
#include "platform/appkit/application.hpp"
#include "platform/appkit/screen.hpp"
#include "platform/appkit/appearance.hpp"
#include "platform/appkit/window.hpp"
#include "platform/bundle/bundle.hpp"
#include "platform/coding/data.hpp"
#include "platform/coding/json_coding.hpp"
#include "platform/defaults/user_defaults.hpp"
#include "platform/desktop/system_wallpaper.hpp"
#include "platform/foundation/file_manager.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/ui/drawing.hpp"
#include "ui/onboarding/legal_agreement.hpp"
#include "ui/onboarding/legal_agreement_sheet_controller.hpp"
#include "ui/onboarding/onboarding_flow.hpp"
#include "ui/onboarding/onboarding_view.hpp"
#include "ui/onboarding/onboarding_wallpaper.hpp"
#include "ui/onboarding/pointer_test_strip.hpp"
#include "ui/onboarding/vurle_content_view.hpp"
#include "ui/settings/feedback_notice.hpp"
#include "ui/settings/morph_speed_examples.hpp"
#include "ui/settings/settings_scene.hpp"
#include "ui/settings/success_mark.hpp"
#include "ui/settings/transition_duration_control.hpp"

using namespace platform;
using namespace platform::ui;
using namespace vurle;

namespace {

bool reported(bool written, const std::filesystem::path& path) {
  return reportWrittenPicture("vurle_views", written, path.string());
}

bool writeMenu(platform::NSMenu& menu, const std::filesystem::path& folder, const std::string& name, double scale) {
  const auto path = folder / name;
  menu.open();
  const bool written = menu.writePNG(path.string(), scale);
  menu.cancelTrackingWithoutAnimation();
  return reported(written, path);
}

// The menus as the application builds them, over settings of their own in
// `settings`, so the user's are never read.
bool writeMenus(const std::filesystem::path& settings, const std::filesystem::path& folder, double scale) {
  const char* saved = std::getenv("XDG_CONFIG_HOME");
  const std::optional<std::string> previous = saved ? std::optional<std::string>(saved) : std::nullopt;
  ::setenv("XDG_CONFIG_HOME", settings.c_str(), 1);
  bool ok = true;
  {
    auto delegate = std::make_shared<AppDelegate>();
    NSApplication::shared()->setDelegate(delegate);
    delegate->buildMainMenu();
    delegate->setStatusItemVisible(true);
    ok &= writeMenu(*delegate->statusItem()->menu(), folder, "status_menu.png", scale);
    for (const auto& item : NSApplication::shared()->mainMenu()->items()) {
      std::string name = item->title();
      for (auto& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      ok &= writeMenu(*item->submenu(), folder, "menu_" + name + ".png", scale);
    }
    delegate->engine()->stop();
  }
  previous ? ::setenv("XDG_CONFIG_HOME", previous->c_str(), 1) : ::unsetenv("XDG_CONFIG_HOME");
  return ok;
}

bool write(ViewGraph& graph, const std::filesystem::path& folder, const std::string& name, double scale) {
  const auto path = folder / name;
  return reported(writePNG(graph, path.string(), scale), path);
}

bool writeWindow(NSWindow& window, const std::filesystem::path& folder, const char* name, double scale) {
  const auto path = folder / name;
  return reported(writeWindowPNG(window, path.string(), scale), path);
}

// Drives the scheduler until the backdrop in the graph shows its render:
// the render runs on a queue of its own, and until it arrives the backdrop
// shows only its background colour. False when it does not arrive.
bool backdropShown(ViewGraph& graph, SimulatedSchedulerScope& scope) {
  const auto found = graph.findKind("OnboardingWallpaper");
  const auto view = std::dynamic_pointer_cast<OnboardingWallpaperView>(found ? found->hostedView() : nullptr);
  if (!view) return false;
  for (int round = 0; round < 8 && !view->rendered(); ++round) {
    // Drawing the backdrop asks for its render.
    const NSRect bounds = view->bounds();
    view->cacheDisplayInRect(bounds, view->bitmapImageRepForCachingDisplayInRect(bounds));
    scope->runUntilIdle();
  }
  if (view->rendered()) return true;
  std::fprintf(stderr, "vurle_views: the backdrop's render did not arrive\n");
  return false;
}

// The agreement this build ships; none when it cannot be read.
std::optional<LegalAgreement::Document> shippedAgreement() {
  const auto data = dataWithContentsOfURL(NSURL::fileURLWithPath(VURLE_EULA_PATH));
  if (!data) return std::nullopt;
  try {
    const JSON json = JSONDecode(*data);
    LegalAgreement::Document document{decodeString(json, "version"), decodeString(json, "text")};
    if (document.isValid()) return document;
  } catch (const DecodingError&) {
  }
  return std::nullopt;
}

std::shared_ptr<ViewGraph> graphOf(View view, CGSize size) {
  auto graph = ViewGraph::make(std::move(view));
  graph->setSize(size);
  graph->render();
  return graph;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: vurle_views FOLDER [SCALE]\n");
    return 2;
  }
  const double scale = argc == 3 ? std::atof(argv[2]) : 2.0;
  if (!(scale > 0 && scale <= 8)) {
    std::fprintf(stderr, "vurle_views: SCALE must be a number above 0 and at most 8\n");
    return 2;
  }
  const std::filesystem::path folder = argv[1];
  std::error_code made;
  std::filesystem::create_directories(folder, made);
  if (made) {
    std::fprintf(stderr, "vurle_views: cannot make %s: %s\n", folder.c_str(), made.message().c_str());
    return 1;
  }

  // The program's information dictionary and resources, so the views show
  // its version and build and draw its images.
  NSBundle::setMainBundlePath(VURLE_PROGRAM_BUNDLE);
  if (!NSBundle::mainBundle()->objectForInfoDictionaryKey("CFBundleShortVersionString")) {
    std::fprintf(stderr, "vurle_views: the program's bundle %s has no version\n", VURLE_PROGRAM_BUNDLE);
    return 1;
  }
  // Settings and the system root of the tool's own, removed at the end.
  const auto own = std::filesystem::temp_directory_path() / ("vurle-views-" + std::to_string(::getpid()));
  SimulatedSchedulerScope scope;
  NSScreen::setScreens({NSScreen::make(CGRectMake(0, 0, 1440, 900), 2)});
  // The wallpaper is laid out before any onboarding view appears: each asks
  // for the backdrop, and the system's answer for a version is kept.
  const auto wallpaperRefused = layOutDesktopWallpaper(own / "system");
  bool ok = true;

  {
    auto host = NSHostingView::make(PointerTestStrip(std::nullopt, nullptr).padding(16), CGRectMake(0, 0, 452, 78));
    host->graph()->render();
    if (auto strip = std::dynamic_pointer_cast<PointerTestStripView>(
            host->graph()->findKind("PointerTestStrip")->hostedView())) {
      const CGRect f = strip->frame();
      strip->mouseEntered(NSEvent(NSEventTypeMouseEntered, {f.origin.x + 175, 78 - (f.origin.y + 23)}, 0, 1));
    }
    ok &= write(*host->graph(), folder, "pointer_test_strip.png", scale);
  }
  {
    auto examples = MorphSpeedExamples::make({150, 60, 220}, true);
    auto graph = graphOf(HStack(VerticalAlignment::center, 0,
                                {SpeedExampleCanvas(examples, 0), SpeedExampleCanvas(examples, 1),
                                 SpeedExampleCanvas(examples, 2)}),
                         {480, 160});
    // Partway through the first morph: each slot at its own progress.
    examples->reset();
    examples->step(0);
    examples->step(0.07);
    ok &= write(*graph, folder, "speed_examples.png", scale);
  }
  auto engine = CursorEngine::make(nullptr, NSUserDefaults::makeInMemory("vurle-views"));
  {
    auto graph = graphOf(TransitionDurationControl(engine).padding(16), {360, 110});
    ok &= write(*graph, folder, "transition_duration_control.png", scale);
  }
  {
    auto graph = ViewGraph::make(SuccessMark().frame(56, 56).padding(12));
    graph->setSize({80, 80});
    bool first = true;
    graph->setFrameObserver([&](ViewGraph& g) {
      if (!first) return;
      first = false;
      ok &= write(g, folder, "success_mark_first.png", scale);
    });
    graph->render();
    graph->setFrameObserver(nullptr);
    scope->runUntilIdle();
    ok &= !first && write(*graph, folder, "success_mark_last.png", scale);
  }
  {
    const auto document = shippedAgreement();
    if (!document) {
      std::fprintf(stderr, "vurle_views: cannot read the agreement %s\n", VURLE_EULA_PATH);
      ok = false;
    }
    ok &= writeWindow(*LegalAgreementSheetController::make(document)->window(), folder, "legal_agreement_sheet.png", scale);
    ok &= writeWindow(*LegalAgreementSheetController::make(std::nullopt)->window(), folder,
                      "legal_agreement_sheet_unavailable.png", scale);
  }
  {
    struct Shot {
      const char* name;
      int step;
      bool accepted, granted;
    };
    const Shot shots[] = {
        {"onboarding_welcome_unaccepted.png", 0, false, false},
        {"onboarding_welcome_accepted.png", 0, true, false},
        {"onboarding_accessibility_not_granted.png", 1, true, false},
        {"onboarding_accessibility_granted.png", 1, true, true},
    };
    // A login item of its own: the pictures never touch the desktop's autostart.
    auto loginItem = LoginItem::make({[] { return LoginItem::notRegistered; },
                                      [] { return std::optional<NSError>(); },
                                      [] { return std::optional<NSError>(); }, [] {}});
    for (const auto& shot : shots) {
      AccessibilityServer::shared().setProcessTrusted(shot.granted);
      AccessibilityServer::shared().setAPIEnabled(shot.granted);
      auto defaults = NSUserDefaults::makeInMemory("vurle-views-onboarding");
      auto preferences = AppPreferences::make(defaults);
      auto agreement = LegalAgreement::make(defaults, LegalAgreement::Document{"1", "The agreement."},
                                            [] { return Date{}; });
      if (shot.accepted) agreement->accept(true);
      auto flow = OnboardingFlow::make(preferences, agreement, nullptr, nullptr);
      flow->setStep(shot.step);
      auto examples = MorphSpeedExamples::make({150, 60, 220}, true);
      auto window = NSWindow::make(CGRectMake(200, 100, 460, 591), 2);
      auto host = NSHostingView::make(
          OnboardingView{flow, preferences, engine, examples, loginItem, Color::sRGB(1.0, 0.8, 0.0)}.body(),
          CGRectMake(0, 0, 460, 591));
      window->setContentView(host);
      window->makeKeyAndOrderFront();
      scope->runUntilIdle();
      // The examples at rest, so every run draws the same frame.
      examples->reset();
      ok &= write(*host->graph(), folder, shot.name, scale);
      window->close();
      examples->stop();
    }
  }
  takeSettingsPictures(scope.scheduler(), "vurle-views-settings", [&](const std::string& name, ViewGraph& graph) {
    ok &= write(graph, folder, name + ".png", scale);
  });
  ok &= writeMenus(own / "config", folder, scale);
  {
    if (wallpaperRefused) {
      std::fprintf(stderr, "vurle_views: %s\n", wallpaperRefused->c_str());
      ok = false;
    } else {
      for (const auto& [name, appearance] : {std::pair{"onboarding_wallpaper_light.png", NSAppearanceNameAqua},
                                             std::pair{"onboarding_wallpaper_dark.png", NSAppearanceNameDarkAqua}}) {
        NSAppearance::setSystemAppearance(NSAppearance::appearanceNamed(appearance));
        auto graph = graphOf(OnboardingWallpaper(), {400, 190});
        ok &= backdropShown(*graph, scope) && write(*graph, folder, name, scale);
      }
      // The last step over that backdrop, in both appearances, and the
      // completion card over the settings page.
      auto loginItem = LoginItem::make({[] { return LoginItem::notRegistered; },
                                        [] { return std::optional<NSError>(); },
                                        [] { return std::optional<NSError>(); }, [] {}});
      AccessibilityServer::shared().setProcessTrusted(true);
      AccessibilityServer::shared().setAPIEnabled(true);
      for (const auto& [name, appearance] : {std::pair{"onboarding_menu_bar_light.png", NSAppearanceNameAqua},
                                             std::pair{"onboarding_menu_bar_dark.png", NSAppearanceNameDarkAqua},
                                             std::pair{"completion_card.png", NSAppearanceNameAqua}}) {
        NSAppearance::setSystemAppearance(NSAppearance::appearanceNamed(appearance));
        const bool card = std::string(name) == "completion_card.png";
        auto defaults = NSUserDefaults::makeInMemory("vurle-views-last-step");
        if (card) defaults->setBool(true, "onboardingCompleted");
        auto preferences = AppPreferences::make(defaults);
        auto agreement = LegalAgreement::make(defaults, LegalAgreement::Document{"1", "The agreement."},
                                              [] { return Date{}; });
        agreement->accept(true);
        auto flow = OnboardingFlow::make(preferences, agreement, nullptr, nullptr);
        flow->setStep(2);
        if (card) flow->setShowsCompletion(true);
        auto examples = MorphSpeedExamples::make({150, 60, 220}, true);
        auto window = NSWindow::make(CGRectMake(200, 100, 460, 591), 2);
        const VurleContentView content{preferences, flow, engine, examples, examples, loginItem, agreement};
        auto host = NSHostingView::make(content.body(), CGRectMake(0, 0, 460, 591));
        window->setContentView(host);
        window->makeKeyAndOrderFront();
        scope->runUntilIdle();
        // (The settings page under the card has no backdrop.)
        ok &= card || backdropShown(*host->graph(), scope);
        examples->reset();
        ok &= write(*host->graph(), folder, name, scale);
        window->close();
        examples->stop();
      }
      NSAppearance::setSystemAppearance(nullptr);
    }
    setSystemRoot(std::nullopt);
  }
  {
    const struct {
      FeedbackNotice notice;
      const char* file;
    } notices[] = {
        {{FeedbackNotice::Kind::success, "Report sent", "Thanks for helping make vurle better."}, "notice_success.png"},
        {{FeedbackNotice::Kind::warning, "A newer version is available",
          "Version 0.2.0 requires macOS 15.0. You can still report problems with this version."},
         "notice_warning.png"},
        {{FeedbackNotice::Kind::error, "Report needs attention", "Try again in 42 seconds."}, "notice_error.png"},
        {{FeedbackNotice::Kind::progress, "Sending", "Your report is on its way."}, "notice_progress.png"},
    };
    for (const auto& n : notices) {
      auto graph = graphOf(n.notice.body().padding(12), {420, 90});
      scope->runUntilIdle();
      ok &= write(*graph, folder, n.file, scale);
    }
  }
  engine->stop();
  std::error_code ignored;
  std::filesystem::remove_all(own, ignored);
  return ok ? 0 : 1;
}
