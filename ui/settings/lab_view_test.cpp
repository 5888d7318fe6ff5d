#include "ui/settings/lab_view.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/accessibility/accessibility_server.hpp"
#include "platform/appkit/display_link.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/ui/picture_test_support.hpp"
#include "ui/settings/settings_scene.hpp"
#include "ui/settings/settings_test_support.hpp"

namespace vurle {
namespace {

using namespace platform;
using namespace platform::ui;

class LabViewTest : public testing::SettingsPageTest {
 protected:
  void hide() {
    window->close();
    host.reset();
    window.reset();
    turn();
  }
  void select(SettingsTab tab) {
    preferences->setSelectedTab(tab);
    turn();
  }
  std::optional<bool> storedBool(const std::string& key) const {
    auto value = defaults->objectForKey(key);
    if (!value) return std::nullopt;
    return defaults->boolForKey(key);
  }
};

const char* const kTabTitles[] = {"General", "Preview", "Behavior", "Shortcuts"};

// ---- the page frame -------------------------------------------------------

TEST_F(LabViewTest, ShowingThePageSnapsTheDurationToTenMillisecondsAndEveryChangeReachesTheExamples) {
  struct Case {
    double stored, shown;
  } cases[] = {{154, 150}, {155, 160}, {145, 150}, {150, 150}, {64, 60}, {216, 220}};
  for (const auto& k : cases) {
    engine->setStoredMilliseconds(k.stored);
    examples->setCurrentMilliseconds(0);
    show();
    EXPECT_EQ(engine->storedMilliseconds(), k.shown) << k.stored;
    EXPECT_EQ(examples->currentMilliseconds(), k.shown) << k.stored;
    hide();
  }
  show();
  engine->setStoredMilliseconds(80);
  turn();
  EXPECT_EQ(examples->currentMilliseconds(), 80);
}

TEST_F(LabViewTest, TheTabsShareTheBarAndTheCapsuleSlidesUnderTheSelectedOne) {
  show();
  const double w = (460 - 40 - 6) / 4.0;
  ASSERT_DOUBLE_EQ(w, 103.5);
  const auto bar = graph().findKind("GeometryReader")->accessibility();
  EXPECT_EQ(bar.label, "Settings sections");
  EXPECT_EQ(bar.role, "group") << "one container of the four tabs";
  const auto indicator = [&] {
    return graph().findAll([](const Node& n) { return n.kind() == "Capsule" && n.modifier("offset"); }).at(0);
  };
  for (int selected = 0; selected < 4; ++selected) {
    graph().findLabel(kTabTitles[selected])->tap();
    turn();
    EXPECT_EQ(rawValue(preferences->selectedTab()), std::string(kTabTitles[selected]));
    for (int i = 0; i < 4; ++i) {
      const CGRect tab = graph().findText(kTabTitles[i])->node().outerFrame;
      EXPECT_DOUBLE_EQ(tab.size.width, w) << kTabTitles[i];
      EXPECT_DOUBLE_EQ(tab.origin.x, 20 + 3 + i * w) << kTabTitles[i];
      EXPECT_EQ(graph().findLabel(kTabTitles[i])->accessibility().traits.count("isSelected"), i == selected ? 1u : 0u)
          << kTabTitles[i] << " with " << kTabTitles[selected] << " selected";
    }
    EXPECT_DOUBLE_EQ(indicator().modifier("offset")->number("x"), selected * w);
    EXPECT_DOUBLE_EQ(indicator().node().frame.size.width, w);
    EXPECT_EQ(indicator().modifier("animation")->string("kind"), "spring");
  }
  NSWorkspace::sharedWorkspace().setReduceMotion(true);
  turn();
  EXPECT_EQ(indicator().modifier("animation")->string("kind"), "none") << "no slide under Reduce Motion";
}

TEST_F(LabViewTest, ChangesOfSectionShortcutsReduceMotionAndActivationKeepTheObjectsInStep) {
  auto refresh = CADisplayLink::scheduleRefresh(1.0 / 120);
  show();
  select(SettingsTab::preview);
  ASSERT_TRUE(examples->isPlaying()) << "the Current example starts playing when it enters the window";
  scope->advance(0.2);
  EXPECT_GT(examples->clock(), 0);

  // Any change of section ends a recording; leaving Preview stops the examples.
  preferences->setRecordingAction(ShortcutAction::pause);
  select(SettingsTab::general);
  EXPECT_EQ(preferences->recordingAction(), std::nullopt);
  EXPECT_FALSE(examples->isPlaying());
  preferences->setRecordingAction(ShortcutAction::settings);
  select(SettingsTab::shortcuts);
  EXPECT_EQ(preferences->recordingAction(), std::nullopt) << "between two other sections too";

  // Shortcuts switched off end a recording; switched on they leave it.
  preferences->setRecordingAction(ShortcutAction::settings);
  preferences->setShortcutsEnabled(true);
  turn();
  EXPECT_EQ(preferences->recordingAction(), ShortcutAction::settings) << "no change, no effect";
  preferences->setShortcutsEnabled(false);
  turn();
  EXPECT_EQ(preferences->recordingAction(), std::nullopt);
  preferences->setRecordingAction(ShortcutAction::pause);
  preferences->setShortcutsEnabled(true);
  turn();
  EXPECT_EQ(preferences->recordingAction(), ShortcutAction::pause);

  // Reduce Motion turned on resets the examples to rest.
  select(SettingsTab::preview);
  scope->advance(0.2);
  ASSERT_GT(examples->clock(), 0);
  NSWorkspace::sharedWorkspace().setReduceMotion(true);
  turn();
  EXPECT_EQ(examples->clock(), 0);
  EXPECT_FALSE(examples->isPlaying());
  NSWorkspace::sharedWorkspace().setReduceMotion(false);

  // The login item's status is read again each time the application
  // becomes active, as the user may have changed it in System Settings.
  auto& workspace = NSWorkspace::sharedWorkspace();
  workspace.launchApplication(4242, "com.example.other", "Other");
  workspace.activateApplication(4242);
  turn();
  const int reads = statusReads;
  status = LoginItem::requiresApprovalStatus;
  workspace.activateApplication(::getpid());
  turn();
  EXPECT_EQ(statusReads, reads + 1);
  EXPECT_TRUE(loginItem->requiresApproval());
  refresh->invalidate();
}

TEST_F(LabViewTest, UntilTheAgreementIsAcceptedOnlyTheCardShowsAndTheTabsAreInert) {
  agreement = LegalAgreement::make(NSUserDefaults::makeInMemory("settings-page-gate"),
                                   LegalAgreement::Document{"1", "The agreement."}, [] { return Date{}; });
  show();
  auto card = graph().findKind("LegalAgreementView");
  ASSERT_TRUE(card);
  EXPECT_EQ(card->node().parent->kind(), "ScrollView") << "the card scrolls inside the page";
  EXPECT_FALSE(graph().findKind("GeneralPage"));
  EXPECT_FALSE(graph().findLabel("Behavior")->tap());
  turn();
  EXPECT_EQ(preferences->selectedTab(), SettingsTab::general);

  agreement->accept(true);
  turn();
  EXPECT_TRUE(graph().findKind("GeneralPage")) << "accepting shows the selected section at once";
  EXPECT_FALSE(graph().findKind("LegalAgreementView"));
  EXPECT_TRUE(graph().findLabel("Behavior")->tap());
  turn();
  EXPECT_TRUE(graph().findKind("BehaviorPage"));
}

// ---- the General tab ------------------------------------------------------

TEST_F(LabViewTest, TheStatusLineTakesTheFirstRuleThatHolds) {
  const char* gameMode = "Paused while Game Mode is on.";
  struct Case {
    bool reduceMotion, error, master;
    const char* reason;
    bool running;
    const char* line;
  } cases[] = {
      {true, true, false, nullptr, false, "Reduce Motion is on. Changes stay instant."},
      {true, false, true, gameMode, true, "Reduce Motion is on. Changes stay instant."},
      {false, true, false, nullptr, false, "Animations need attention"},
      {false, false, false, gameMode, true, "Animate cursor changes across your apps"},
      {false, false, true, gameMode, true, gameMode},
      {false, false, true, nullptr, true, "Running across your apps"},
      {false, false, true, nullptr, false, "Waiting to start animations"},
  };
  for (const auto& k : cases) {
    engine->stop();
    engine = CursorEngine::make(nullptr, defaults);
    AccessibilityServer::shared().setProcessTrusted(!k.error);
    if (k.error || k.running) engine->start();
    ASSERT_EQ(engine->systemWide(), k.running);
    ASSERT_EQ(engine->error().empty(), !k.error);
    engine->setAutomaticPauseReason(k.reason ? std::optional<std::string>(k.reason) : std::nullopt);
    preferences->setResumeAnimationsOnLaunch(k.master);
    NSWorkspace::sharedWorkspace().setReduceMotion(k.reduceMotion);
    EXPECT_EQ(page().statusText(k.reduceMotion), k.line);
    show();
    EXPECT_EQ(subtitleOf("Animate cursors"), k.line);
    EXPECT_EQ(graph().findLabel("Animation error details").has_value(), k.error) << "the help follows the error";
    hide();
  }
}

TEST_F(LabViewTest, TheMasterSwitchStopsTheEngineAtOnceButLeavesTheStartToTheSession) {
  show();
  page().setAnimationsEnabled(false);  // its current value
  EXPECT_EQ(storedBool("resumeAnimationsOnLaunch"), std::nullopt) << "nothing written";
  EXPECT_TRUE(engine->enabled()) << "the engine untouched";

  toggle("Animate cursors").tap();
  turn();
  EXPECT_EQ(storedBool("resumeAnimationsOnLaunch"), true);
  EXPECT_TRUE(toggleIsOn("Animate cursors"));
  EXPECT_FALSE(engine->systemWide()) << "turning it on starts nothing here";

  engine->start();
  engine->setDemoKind(PointerKind::arrow);
  ASSERT_TRUE(engine->systemWide());
  ASSERT_TRUE(engine->displayLink());
  ASSERT_FALSE(engine->displayLink()->isPaused());
  toggle("Animate cursors").tap();
  turn();
  EXPECT_TRUE(engine->displayLink()->isPaused()) << "released with the display link paused";
  EXPECT_EQ(storedBool("resumeAnimationsOnLaunch"), false);
  EXPECT_FALSE(engine->enabled());
  EXPECT_FALSE(engine->systemWide());
  EXPECT_EQ(engine->demoKind(), std::nullopt);
}

TEST_F(LabViewTest, TheSwitchesWriteThroughToTheirOwners) {
  show();
  toggle("Dynamic speed").tap();
  toggle("Show in menu bar").tap();
  toggle("Hide app in Dock").tap();
  toggle("Launch at login").tap();
  turn();
  EXPECT_FALSE(engine->adaptive());
  EXPECT_EQ(storedBool("adaptiveTiming"), false);
  EXPECT_EQ(storedBool("showMenuBar"), false);
  EXPECT_EQ(storedBool("hideDock"), true);
  EXPECT_EQ(status, LoginItem::enabledStatus);
  EXPECT_TRUE(toggleIsOn("Launch at login")) << "the switch shows the refreshed status";
}

TEST_F(LabViewTest, TheLoginAndDockSubtitlesAndBadgesFollowTheirRules) {
  struct LoginCase {
    int status;
    const char* failure;
    const char* subtitle;
    bool badge;
  } logins[] = {
      {LoginItem::requiresApprovalStatus, "", "Allow vurle in System Settings", true},
      {LoginItem::requiresApprovalStatus, "Not allowed.", "Allow vurle in System Settings", true},
      {LoginItem::notRegistered, "Not allowed.", "Couldn’t change launch at login", true},
      {LoginItem::notRegistered, "", "Start vurle when you sign in", false},
      {LoginItem::enabledStatus, "", "Start vurle when you sign in", false},
  };
  for (const auto& k : logins) {
    status = LoginItem::notRegistered;
    failure = k.failure;
    loginItem->setEnabled(true);  // fails with the message, or registers
    status = k.status;
    show();  // showing the page reads the status again
    EXPECT_EQ(subtitleOf("Launch at login"), k.subtitle) << k.status << " " << k.failure;
    EXPECT_EQ(graph().findLabel("Launch at login needs attention").has_value(), k.badge);
    hide();
  }
  struct DockCase {
    bool menuBar, hideDock;
    const char* subtitle;
  } docks[] = {
      {true, false, "Hide vurle in the Dock while in the background"},
      {true, true, "Hide vurle in the Dock while in the background"},
      {false, true, "Open vurle again to show settings"},
      {false, false, "Hide vurle in the Dock while in the background"},
  };
  show();
  for (const auto& k : docks) {
    preferences->setShowMenuBar(k.menuBar);
    preferences->setHideDock(k.hideDock);
    turn();
    EXPECT_EQ(subtitleOf("Hide app in Dock"), k.subtitle) << k.menuBar << k.hideDock;
    EXPECT_TRUE(graph().findLabel("How to reopen settings")) << "the Dock help badge is always there";
  }
}

TEST_F(LabViewTest, TheDockHelpOpensByHoverAndClickTheLoginHelpOnlyByClick) {
  status = LoginItem::requiresApprovalStatus;
  failure = "Not allowed.";
  loginItem->setEnabled(false);  // the message
  show();
  const auto dockHelp = [&] { return shows("Open vurle again to show settings, even if both icons are hidden."); };
  auto dock = graph().findLabel("How to reopen settings");
  dock->hover(true);
  turn();
  EXPECT_TRUE(preferences->showsDockHelp());
  EXPECT_TRUE(dockHelp());
  dock->hover(false);
  turn();
  EXPECT_FALSE(dockHelp());
  graph().findLabel("How to reopen settings")->tap();
  turn();
  EXPECT_TRUE(dockHelp()) << "a click flips it";
  graph().findLabel("How to reopen settings")->tap();
  turn();
  EXPECT_FALSE(dockHelp());

  auto login = graph().findLabel("Launch at login needs attention");
  login->hover(true);
  turn();
  EXPECT_FALSE(shows("Open Login Items")) << "hovering does not open the login help";
  graph().findLabel("Launch at login needs attention")->tap();
  turn();
  // The message first, then the approval text and its button.
  auto message = graph().findText("Couldn’t change launch at login. Not allowed.");
  auto approval = graph().findText("Allow vurle in System Settings to finish enabling launch at login.");
  ASSERT_TRUE(message && approval);
  EXPECT_LT(message->frame().origin.y, approval->frame().origin.y);
  EXPECT_LT(approval->frame().origin.y, graph().findText("Open Login Items")->frame().origin.y);
  graph().findText("Open Login Items")->tap();
  EXPECT_EQ(settingsOpened, 1);
  graph().findLabel("Launch at login needs attention")->tap();
  turn();
  EXPECT_FALSE(shows("Open Login Items"));
}

// ---- the Behavior tab -----------------------------------------------------

TEST_F(LabViewTest, TheScreenCaptureSwitchIsTheNegationOfAnimatingDuringCapture) {
  preferences->setSelectedTab(SettingsTab::behavior);
  show();
  const char* titles[] = {"Game Mode", "External mouse", "Screen capture"};
  for (int i = 1; i < 3; ++i) {
    EXPECT_LT(graph().findText(titles[i - 1])->frame().origin.y, graph().findText(titles[i])->frame().origin.y);
  }
  struct Case {
    bool yields, stored;
  } cases[] = {{true, false}, {false, true}};
  for (const auto& k : cases) {
    toggle("Screen capture").tap();
    turn();
    EXPECT_EQ(toggleIsOn("Screen capture"), k.yields);
    EXPECT_EQ(engine->animateDuringCapture(), k.stored);
    EXPECT_EQ(storedBool("animateDuringCapture"), k.stored);
  }
  toggle("Game Mode").tap();
  toggle("External mouse").tap();
  EXPECT_EQ(storedBool("pauseInGameMode"), true);
  EXPECT_EQ(storedBool("pauseWithExternalMouse"), true);
}

TEST_F(LabViewTest, ThePauseReasonShowsOnlyWhileTheMasterSwitchIsOn) {
  preferences->setSelectedTab(SettingsTab::behavior);
  preferences->setPauseInGameMode(true);
  show();
  struct Case {
    bool master;
    const char* reason;
    bool line;
  } cases[] = {{false, "Paused while Game Mode is on.", false},
               {true, "Paused while Game Mode is on.", true},
               {true, "Paused while an external mouse is connected.", true},
               {true, nullptr, false}};
  for (const auto& k : cases) {
    preferences->setResumeAnimationsOnLaunch(k.master);
    engine->setAutomaticPauseReason(k.reason ? std::optional<std::string>(k.reason) : std::nullopt);
    turn();
    const auto stack = graph().findKind("BehaviorPage")->node().children.at(0).get();
    const auto& parts = stack->children;
    ASSERT_EQ(parts.size(), k.line ? 4u : 3u) << k.master << " " << (k.reason ? k.reason : "none");
    if (k.line) {
      EXPECT_EQ(parts[2]->kind(), "Label");
      EXPECT_EQ(parts[2]->view.desc().text, k.reason);
    } else {
      EXPECT_EQ(parts[1]->kind(), "Text") << "the footnote";
      EXPECT_TRUE(graph().findText("Include the pointer")) << "directly followed by the capture card";
    }
  }
  auto link = graph().findText("Screenshot and recording options");
  ASSERT_TRUE(link);
  link->tap();
  EXPECT_EQ(NSWorkspace::sharedWorkspace().openedURLs(),
            std::vector<std::string>{"https://support.example.com/guide/mac-help/take-a-screenshot-mh26782/mac"});
}

// ---- pictures -------------------------------------------------------------

TEST(SettingsPicturesTest, EachLookOfThePageMatchesItsStoredPicture) {
  WindowServer::shared();
  resetProcessState();
  NSScreen::setScreens({NSScreen::make(CGRectMake(0, 0, 1440, 900), 2)});
  SimulatedSchedulerScope scope;
  std::vector<std::string> taken;
  takeSettingsPictures(scope.scheduler(), "settings-pictures", [&](const std::string& name, ViewGraph& graph) {
    taken.push_back(name);
    expectMatchesStoredPicture(graph, VURLE_PICTURES_DIR, name);
  });
  EXPECT_EQ(taken.size(), 8u);
  resetProcessState();
}

}  // namespace
}  // namespace vurle
