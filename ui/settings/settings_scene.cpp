#include "ui/settings/settings_scene.hpp"

#include "platform/accessibility/accessibility_server.hpp"
#include "platform/appkit/event.hpp"
#include "ui/settings/shortcut_recorder.hpp"

#include <stdexcept>

namespace vurle {

using namespace platform;

namespace {

// A look that cannot find what it shows fails: the picture would otherwise
// show another look under this one's name.
ui::ViewRef required(std::optional<ui::ViewRef> found, const std::string& what) {
  if (!found) throw std::logic_error("the settings page shows no " + what);
  return *found;
}

}  // namespace

SettingsScene::SettingsScene(SimulatedScheduler& scheduler, const std::string& domain, bool agreementAccepted)
    : defaults(NSUserDefaults::makeInMemory(domain)),
      engine(CursorEngine::make(nullptr, defaults)),
      examples(MorphSpeedExamples::make({150, 60, 220}, true)),
      preferences(AppPreferences::make(defaults)),
      agreement(LegalAgreement::make(defaults, LegalAgreement::Document{"1", "The agreement."},
                                     [] { return Date{}; })),
      loginItem(LoginItem::make({[] { return LoginItem::requiresApprovalStatus; },
                                 [] { return std::optional<NSError>(); }, [] { return std::optional<NSError>(); },
                                 [] {}})),
      scheduler_(scheduler) {
  if (agreementAccepted) agreement->accept(true);
  page = LabView{engine, examples, preferences, agreement, loginItem};
  window = NSWindow::make(CGRectMake(200, 100, 460, 591), 2);
  host = ui::NSHostingView::make(page.body(), CGRectMake(0, 0, 460, 591));
  window->setContentView(host);
  window->makeKeyAndOrderFront();
  settle();
}

SettingsScene::~SettingsScene() {
  examples->stop();
  window->close();
  host.reset();
  window.reset();
  engine->stop();
}

void SettingsScene::settle() {
  scheduler_.runUntilIdle();
  // The pictures show the examples resting on their first cursor.
  examples->reset();
  scheduler_.runUntilIdle();
}

void SettingsScene::show(SettingsTab tab) {
  preferences->setSelectedTab(tab);
  settle();
}

void SettingsScene::showGeneralWithLoginHelp() {
  preferences->setShowsDockHelp(false);
  show(SettingsTab::general);
  auto badge = required(graph().findLabel("Launch at login needs attention"), "login-item badge");
  if (!graph().findText("Open Login Items")) badge.tap();
  settle();
}

void SettingsScene::showGeneralWithDockHelp() {
  show(SettingsTab::general);
  if (graph().findText("Open Login Items")) {
    required(graph().findLabel("Launch at login needs attention"), "login-item badge").tap();
  }
  preferences->setShowsDockHelp(true);
  settle();
}

void SettingsScene::showGeneralWithErrorHelp() {
  AccessibilityServer::shared().setProcessTrusted(false);
  engine->start();
  show(SettingsTab::general);
  required(graph().findLabel("Animation error details"), "animation error badge").tap();
  settle();
}

void SettingsScene::showBehaviorPaused() {
  preferences->setResumeAnimationsOnLaunch(true);
  preferences->setPauseInGameMode(true);
  engine->setAutomaticPauseReason("Paused while Game Mode is on.");
  show(SettingsTab::behavior);
}

void SettingsScene::showShortcutsRecording() {
  show(SettingsTab::shortcuts);
  const auto found = graph().findKind("ShortcutRecorder");
  const auto recorder = std::dynamic_pointer_cast<ShortcutRecorderButton>(found ? found->hostedView() : nullptr);
  // Without it the picture would show the tab at rest under this look's name.
  if (!recorder) throw std::logic_error("the settings page shows no shortcut recorder");
  recorder->performClick();
  if (const auto letter = NSEvent::keyEventWithType(NSEventTypeKeyDown, 0, "a", "a", 0)) window->sendEvent(*letter);
  settle();
}

void SettingsScene::tickAgreement() {
  required(graph().findLabel("I agree to the License Agreement"), "agreement check box").tap();
  settle();
}

void takeSettingsPictures(SimulatedScheduler& scheduler, const std::string& domain,
                          const std::function<void(const std::string& name, ui::ViewGraph& graph)>& take) {
  {
    SettingsScene scene(scheduler, domain);
    scene.showGeneralWithLoginHelp();
    take("settings_general_login_help", scene.graph());
    scene.showGeneralWithDockHelp();
    take("settings_general_dock_help", scene.graph());
    scene.show(SettingsTab::preview);
    take("settings_preview", scene.graph());
    scene.showBehaviorPaused();
    take("settings_behavior", scene.graph());
    scene.showShortcutsRecording();
    take("shortcuts_recording", scene.graph());
  }
  {
    // An engine error of its own, so no other picture shows it.
    const bool trusted = AccessibilityServer::shared().processTrusted();
    SettingsScene scene(scheduler, domain + "-error");
    scene.showGeneralWithErrorHelp();
    take("animation_error_help", scene.graph());
    AccessibilityServer::shared().setProcessTrusted(trusted);
  }
  {
    SettingsScene scene(scheduler, domain + "-agreement", false);
    take("legal_agreement_card", scene.graph());
    scene.tickAgreement();
    take("legal_agreement_card_ticked", scene.graph());
  }
}

}  // namespace vurle
