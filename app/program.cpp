#include "app/program.hpp"

#include <memory>

#include "support/bug_report_window.hpp"
#include "support/vurle_updates.hpp"
#include "ui/onboarding/legal_agreement.hpp"

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

}  // namespace

ShellSeams programSeams() {
  ShellSeams seams;
  seams.agreement = std::make_shared<SharedAgreement>();
  seams.updates = VurleUpdates::shared();
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
