#include "app/program.hpp"

#include <memory>

#include "app/global_shortcut_controller.hpp"
#include "app/login_item.hpp"
#include "platform/ui/graph.hpp"
#include "support/bug_report_window.hpp"
#include "support/update_settings_card.hpp"
#include "support/vurle_updates.hpp"
#include "ui/onboarding/about_window.hpp"
#include "ui/onboarding/legal_agreement.hpp"
#include "ui/onboarding/onboarding_flow.hpp"
#include "ui/onboarding/pointer_test_strip.hpp"
#include "ui/onboarding/vurle_content_view.hpp"
#include "ui/settings/lab_view.hpp"
#include "ui/settings/morph_speed_examples.hpp"

namespace vurle {
namespace {

// The shared agreement store, as the shell sees it.
class SharedAgreement : public AgreementGate {
 public:
  bool accepted() const override { return store_->accepted(); }
  platform::Publisher<bool> acceptedPublisher() const override { return store_->acceptedPublisher(); }
  void presentSheet(const std::shared_ptr<platform::NSWindow>& window) override { store_->presentSheet(window); }

 private:
  std::shared_ptr<LegalAgreement> store_ = LegalAgreement::shared();
};

// The settings page's speed examples, as the shell starts and stops them.
class SettingsExamples : public SpeedExamples {
 public:
  void start() override { examples->start(); }
  void stop() override { examples->stop(); }
  const std::shared_ptr<MorphSpeedExamples> examples = MorphSpeedExamples::make({150, 60, 220}, true);
};

}  // namespace

ShellSeams programSeams() {
  ShellSeams seams;
  seams.agreement = std::make_shared<SharedAgreement>();
  seams.updates = VurleUpdates::shared();
  // The flow takes the agreement store itself: it accepts from the consent.
  seams.makeOnboarding = [](auto preferences, auto, auto reviewAgreement, auto enableAnimations) {
    return OnboardingFlow::make(std::move(preferences), LegalAgreement::shared(), std::move(reviewAgreement),
                                std::move(enableAnimations));
  };
  seams.makeShortcutController = [](auto preferences, auto perform) {
    return GlobalShortcutController::make(std::move(preferences), std::move(perform));
  };
  seams.loginItem = LoginItem::shared();
  seams.makeInlineExamples = [] { return std::make_shared<SettingsExamples>(); };
  seams.cancelCursorTest = [] {
    if (auto strip = PointerTestStripView::activeStrip()) strip->cancelCursorTest();
  };
  seams.makeWelcomeExamples = [] { return std::make_shared<SettingsExamples>(); };
  // The window's root: the onboarding or the settings page, by the
  // preferences, with the completion card over them.
  seams.makeContentView = [loginItem = seams.loginItem](std::shared_ptr<AppPreferences> preferences,
                                                        std::shared_ptr<OnboardingController> onboarding,
                                                        std::shared_ptr<CursorEngine> engine,
                                                        std::shared_ptr<SpeedExamples> inlineExamples,
                                                        std::shared_ptr<SpeedExamples> welcomeExamples)
      -> std::shared_ptr<platform::NSView> {
    auto examplesOf = [](const std::shared_ptr<SpeedExamples>& players) {
      auto own = std::dynamic_pointer_cast<SettingsExamples>(players);
      return own ? own->examples : MorphSpeedExamples::make({150, 60, 220}, true);
    };
    auto flow = std::dynamic_pointer_cast<OnboardingFlow>(onboarding);
    if (!flow) {
      flow = OnboardingFlow::make(preferences, LegalAgreement::shared(), [] {}, [] {});
    }
    const VurleContentView root{preferences, flow, engine, examplesOf(inlineExamples), examplesOf(welcomeExamples),
                                loginItem, LegalAgreement::shared()};
    return platform::ui::NSHostingView::make(root.body(), platform::NSMakeRect(0, 0, AppDelegate::windowWidth,
                                                                                AppDelegate::windowHeight));
  };
  seams.makeAboutWindow = [] {
    return std::static_pointer_cast<platform::NSWindowController>(
        VurleAboutWindowController::make(UpdateSettingsCard(VurleUpdates::shared())));
  };
  // One form for the life of the program, over the shared store.
  auto bugReports = BugReportPresenter::make();
  seams.presentBugReport = [bugReports](const std::shared_ptr<platform::NSWindow>& mainWindow) {
    bugReports->present(mainWindow);
  };
  return seams;
}

ScenarioLaunch programScenarioLaunch() {
  ScenarioLaunch launch;
  launch.acceptAgreement = [] { LegalAgreement::shared()->accept(true); };
  launch.makeDelegate = [] { return std::make_shared<AppDelegate>(programSeams()); };
  return launch;
}

}  // namespace vurle
