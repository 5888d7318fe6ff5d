#include "ui/onboarding/about_window.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "app/brand_images.hpp"
#include "platform/appkit/application.hpp"
#include "platform/appkit/event.hpp"
#include "platform/appkit/visual_effect_view.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/bundle/bundle.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/ui/graph.hpp"
#include "platform/ui/picture_test_support.hpp"
#include "ui/onboarding/legal_agreement.hpp"
#include "ui/onboarding/legal_agreement_sheet_controller.hpp"
#include "ui/onboarding/window_test_support.hpp"

namespace vurle {
namespace {

namespace fs = std::filesystem;
using namespace platform::ui;

// A bundle with the logo, the agreement and the information dictionary
// given, settings in a folder of their own.
class AboutWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::freshProcessWithWindow();
    fs::remove_all(root);
    fs::create_directories(root / "Resources");
    fs::copy_file(fs::path(VURLE_RESOURCES_DIR) / "EULA.json", root / "Resources" / "EULA.json");
    fs::copy_file(fs::path(VURLE_RESOURCES_DIR) / "vurle-logo.svg", root / "Resources" / "vurle-logo.svg");
    if (const char* value = std::getenv("XDG_CONFIG_HOME")) savedConfig = value;
    ::setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
    info(R"({"CFBundleIdentifier": "test.vurle.about"})");
    platform::NSWorkspace::sharedWorkspace().activateApplication(::getpid());
  }
  void TearDown() override {
    savedConfig ? ::setenv("XDG_CONFIG_HOME", savedConfig->c_str(), 1) : ::unsetenv("XDG_CONFIG_HOME");
    platform::resetProcessState();
    fs::remove_all(root);
  }
  void info(const std::string& json) {
    std::ofstream(root / "Info.json") << json;
    platform::NSBundle::setMainBundlePath(root);
  }
  static std::shared_ptr<ViewGraph> graphOf(const std::shared_ptr<VurleAboutWindowController>& controller) {
    auto effect = controller->window()->contentView();
    auto hosting = std::dynamic_pointer_cast<NSHostingView>(effect->subviews().at(0));
    hosting->graph()->render();
    return hosting->graph();
  }
  static std::shared_ptr<ViewGraph> standalone(std::optional<platform::NSURL> siteBase, std::function<void()> close = {}) {
    auto graph = ViewGraph::make(AboutVurleView(close ? close : [] {}, Text("Card"), siteBase));
    graph->setSize({380, 386});
    graph->render();
    return graph;
  }
  static std::shared_ptr<platform::NSEvent> escape() {
    return platform::NSEvent::keyEventWithType(platform::NSEventTypeKeyDown, 0, "\x1b", "\x1b", 53);
  }

  platform::SimulatedSchedulerScope scope;
  const fs::path root = fs::temp_directory_path() / ("vurle-about-" + std::to_string(::getpid()));
  std::optional<std::string> savedConfig;
};

TEST_F(AboutWindowTest, TheWindowIsAFixedTransparentTitledWindowOverAnEffectViewAndIsReused) {
  auto controller = VurleAboutWindowController::make(Text("Updates card"));
  auto window = std::dynamic_pointer_cast<VurleAboutWindow>(controller->window());
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->windowController(), controller);
  EXPECT_EQ(window->styleMask(), 32771u);
  EXPECT_EQ(window->backingType(), platform::NSBackingStoreBuffered);
  EXPECT_EQ(window->title(), "About vurle");
  EXPECT_EQ(window->titleVisibility(), platform::NSWindowTitleVisibility::hidden);
  EXPECT_TRUE(window->titlebarAppearsTransparent());
  EXPECT_TRUE(window->isMovableByWindowBackground());
  EXPECT_FALSE(window->isReleasedWhenClosed());
  EXPECT_EQ(window->backgroundColor()->alphaComponent(), 0);
  EXPECT_FALSE(window->isOpaque());
  EXPECT_EQ(window->collectionBehavior(), 258u);
  EXPECT_EQ(window->frame(), platform::NSMakeRect(310, 207, 380, 386));  // centred on the 1000 × 800 screen
  EXPECT_FALSE(window->isVisible());  // the caller shows it

  auto effect = std::dynamic_pointer_cast<platform::NSVisualEffectView>(window->contentView());
  ASSERT_NE(effect, nullptr);
  EXPECT_EQ(effect->material(), platform::NSVisualEffectMaterial::sidebar);
  EXPECT_EQ(effect->blendingMode(), platform::NSVisualEffectBlendingMode::withinWindow);
  EXPECT_EQ(effect->state(), platform::NSVisualEffectState::followsWindowActiveState);
  ASSERT_EQ(effect->subviews().size(), 1u);
  EXPECT_FALSE(effect->subviews()[0]->translatesAutoresizingMaskIntoConstraints());
  EXPECT_EQ(effect->subviews()[0]->frame(), effect->bounds());
  EXPECT_EQ(effect->constraints().size(), 4u);

  auto graph = graphOf(controller);
  ASSERT_TRUE(graph->findKind("AboutVurleView"));
  EXPECT_TRUE(graph->findText("Updates card"));  // the card the program gave
  EXPECT_TRUE(graph->findLabel("vurle"));
  // The logo is stretched over 150 × 36: only art of that shape is drawn undistorted.
  const platform::NSSize logo = logoImage()->size();
  EXPECT_NEAR(logo.width / logo.height, 150.0 / 36.0, 0.05);
  EXPECT_TRUE(graph->findText("Uses private macOS APIs. macOS updates may affect cursor animations."));
  EXPECT_TRUE(graph->findKind("SettingsPressStyle"));  // the legal row's buttons
  // The layout around a stand-in card; the window with the real card is
  // pictured where the card is built.
  expectMatchesStoredPicture(*graph, VURLE_PICTURES_DIR, "about_view_with_stand_in_card");

  // Shown, closed and shown again: the same window.
  controller->showWindow();
  EXPECT_TRUE(window->isKeyWindow());
  window->close();
  EXPECT_FALSE(window->isVisible());
  controller->showWindow();
  EXPECT_EQ(controller->window(), window);
  EXPECT_TRUE(window->isVisible());
}

TEST_F(AboutWindowTest, TheVersionLineFallsBackToItsDefaultsAndIsSpokenWithTheBuild) {
  struct Case {
    const char* info;
    const char* shown;
    const char* spoken;
  };
  const Case cases[] = {
      {R"({})", "Version 0.10 (12)", "Version 0.10, build 12"},
      {R"({"CFBundleShortVersionString": "1.4", "CFBundleVersion": "77"})", "Version 1.4 (77)", "Version 1.4, build 77"},
      {R"({"CFBundleShortVersionString": 2, "CFBundleVersion": ["9"]})", "Version 0.10 (12)", "Version 0.10, build 12"},
      {R"({"CFBundleShortVersionString": "3.0"})", "Version 3.0 (12)", "Version 3.0, build 12"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.info);
    info(c.info);
    auto graph = standalone(siteBaseURL());
    const auto line = graph->findText(c.shown);
    ASSERT_TRUE(line);
    EXPECT_EQ(line->accessibility().label, c.spoken);
  }
}

TEST_F(AboutWindowTest, TheLegalLinksGoUnderTheSiteRootAndAreLeftOutWithoutOne) {
  struct Case {
    std::optional<platform::NSURL> siteBase;
    std::optional<std::string> privacy, terms;
  };
  const Case cases[] = {
      {platform::NSURL::URLWithString("https://example.org/site/"), "https://example.org/site/privacy/",
       "https://example.org/site/terms/"},
      {std::nullopt, std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    auto graph = standalone(c.siteBase);
    const auto urlOf = [&](const std::string& title) -> std::optional<std::string> {
      for (size_t i = 0; auto link = graph->findKind("Link", i); ++i) {
        if (link->node().view.desc().text == title) return link->node().view.desc().url;
      }
      return std::nullopt;
    };
    EXPECT_EQ(urlOf("Privacy"), c.privacy);
    EXPECT_EQ(urlOf("Terms"), c.terms);
    EXPECT_TRUE(graph->findText("EULA"));  // the agreement is always there
  }
}

TEST_F(AboutWindowTest, EULAPutsTheSheetOnTheAboutWindowOrBringsTheOpenOneForward) {
  auto controller = VurleAboutWindowController::make(Text("Card"));
  auto about = controller->window();
  controller->showWindow();
  auto graph = graphOf(controller);
  ASSERT_TRUE(graph->findText("EULA"));
  graph->findText("EULA")->tap();
  ASSERT_NE(about->attachedSheet(), nullptr);
  EXPECT_EQ(about->attachedSheet(), LegalAgreement::shared()->sheetController()->window());
  EXPECT_TRUE(about->attachedSheet()->isKeyWindow());
  LegalAgreement::shared()->sheetController()->primaryAction();
  EXPECT_EQ(about->attachedSheet(), nullptr);

  // A sheet already open on another window is brought forward instead.
  auto main = std::make_shared<platform::NSWindow>(platform::NSMakeRect(0, 0, 460, 591), platform::NSWindowStyleMaskTitled);
  main->makeKeyAndOrderFront();
  LegalAgreement::shared()->presentSheet(main);
  const auto sheet = main->attachedSheet();
  ASSERT_NE(sheet, nullptr);
  about->makeKeyAndOrderFront();
  ASSERT_TRUE(about->isKeyWindow());
  graph->findText("EULA")->tap();
  EXPECT_EQ(about->attachedSheet(), nullptr);
  EXPECT_EQ(main->attachedSheet(), sheet);
  EXPECT_TRUE(sheet->isKeyWindow());
}

TEST_F(AboutWindowTest, EscapeClosesTheWindowOnceByEitherPath) {
  auto controller = VurleAboutWindowController::make(Text("Card"));
  auto window = controller->window();
  int closes = 0;
  auto token = platform::NSNotificationCenter::defaultCenter().addObserverForName(
      platform::NSWindowWillCloseNotification, window.get(), nullptr, [&](const platform::NSNotification&) { ++closes; });
  // A desktop Escape.
  controller->showWindow();
  platform::NSApplication::shared()->sendEvent(escape());
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(closes, 1);
  // The window's own cancel operation (the view's exit command takes a
  // desktop Escape first).
  controller->showWindow();
  window->cancelOperation(nullptr);
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(closes, 2);
  // The view's exit command.
  controller->showWindow();
  auto graph = graphOf(controller);
  const auto withExit = graph->findAll([](const Node& node) { return node.modifier("onExitCommand") != nullptr; });
  ASSERT_EQ(withExit.size(), 1u);
  const Modifier* exit = withExit[0].modifier("onExitCommand");
  exit->action();
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(closes, 3);

  // Once the window is gone the view's close does nothing.
  const auto close = exit->action;
  token.reset();
  controller.reset();
  window.reset();
  graph.reset();
  close();
}

}  // namespace
}  // namespace vurle
