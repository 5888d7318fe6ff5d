#include "ui/settings/settings_scene.hpp"

namespace vurle {

using namespace platform;

SettingsScene::SettingsScene(SimulatedScheduler& scheduler, const std::string& domain)
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
  agreement->accept(true);
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
  auto badge = graph().findLabel("Launch at login needs attention");
  if (badge && !graph().findText("Open Login Items")) badge->tap();
  settle();
}

void SettingsScene::showGeneralWithDockHelp() {
  show(SettingsTab::general);
  if (graph().findText("Open Login Items")) graph().findLabel("Launch at login needs attention")->tap();
  preferences->setShowsDockHelp(true);
  settle();
}

void SettingsScene::showBehaviorPaused() {
  preferences->setResumeAnimationsOnLaunch(true);
  preferences->setPauseInGameMode(true);
  engine->setAutomaticPauseReason("Paused while Game Mode is on.");
  show(SettingsTab::behavior);
}

}  // namespace vurle
