#include "ui/onboarding/onboarding_flow.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "platform/accessibility/accessibility_server.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/notifications/notification_center.hpp"
#include "platform/windowserver/window_server.hpp"

namespace vurle {
namespace {

// The permission as the Accessibility stand-in answers it: the trust answer
// and whether requests are served.
void grant(bool granted) {
  platform::AccessibilityServer::shared().setProcessTrusted(granted);
  platform::AccessibilityServer::shared().setAPIEnabled(granted);
}

class OnboardingFlowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::WindowServer::shared();
    platform::resetProcessState();
  }
  void TearDown() override {
    flow.reset();
    platform::resetProcessState();
  }

  // A store as a previous run left it, the agreement as the user left it,
  // the permission as the system has it.
  void make(bool accepted, bool granted, bool completedBefore = false, bool switchStored = false,
            bool documentValid = true) {
    auto defaults = platform::NSUserDefaults::makeInMemory("test.onboarding");
    if (completedBefore) defaults->setBool(true, "onboardingCompleted");
    if (switchStored) defaults->setBool(true, "resumeAnimationsOnLaunch");
    preferences = AppPreferences::make(defaults);
    agreement = LegalAgreement::make(
        platform::NSUserDefaults::makeInMemory("test.agreement"),
        documentValid ? std::optional<LegalAgreement::Document>(LegalAgreement::Document{"2", "The terms."})
                      : std::optional<LegalAgreement::Document>(LegalAgreement::Document{" ", "\n"}),
        [] { return platform::Date::withTimeIntervalSinceReferenceDate(800'000'000); });
    if (accepted) agreement->accept(true);
    grant(granted);
    flow = OnboardingFlow::make(preferences, agreement, [this] { ++reviews; }, [this] { ++enables; });
    writes = enables = reviews = 0;
    token = platform::NSNotificationCenter::defaultCenter().addObserverForName(
        platform::NSUserDefaultsDidChangeNotification, preferences->defaults().get(), nullptr,
        [this](const platform::NSNotification&) { ++writes; });
  }

  platform::SimulatedSchedulerScope scope;
  std::shared_ptr<AppPreferences> preferences;
  std::shared_ptr<LegalAgreement> agreement;
  std::shared_ptr<OnboardingFlow> flow;
  platform::NotificationToken token;
  int enables = 0, reviews = 0, writes = 0;
};

// Every rule of the flow's buttons and switches from one starting point.
TEST_F(OnboardingFlowTest, EachActionFollowsItsRule) {
  struct Case {
    const char* what;
    bool accepted, granted, ticked;
    int step;
    std::function<void(OnboardingFlow&)> act;
    int enables, writes;
    int stepAfter;
    bool acceptedAfter, completedAfter, card;
    bool completedBefore = false, documentValid = true;
  };
  auto continueFromStep = [](OnboardingFlow& f) { f.continueFromStep(); };
  auto finish = [](OnboardingFlow& f) { f.finish(); };
  auto complete = [](OnboardingFlow& f) { f.completeOnboarding(); };
  auto completeAccessibility = [](OnboardingFlow& f) { f.completeAccessibility(); };
  auto grantThenRefresh = [](OnboardingFlow& f) {
    grant(true);
    f.refreshAccessibility();
  };
  const Case cases[] = {
      {"Continue, unaccepted and unticked", false, true, false, 0, continueFromStep, 0, 0, 0, false, false, false},
      {"Continue, ticked", false, true, true, 0, continueFromStep, 1, 1, 1, true, false, false},
      {"Continue, ticked over an invalid document", false, true, true, 0, continueFromStep, 0, 0, 0, false, false,
       false, false, false},
      {"Continue, accepted and unticked", true, true, false, 0, continueFromStep, 1, 1, 1, true, false, false},
      {"Continue off step 0", true, true, true, 1, continueFromStep, 0, 0, 1, true, false, false},
      {"a grant, unaccepted", false, false, false, 1, grantThenRefresh, 0, 0, 1, false, false, false},
      {"a grant, accepted", true, false, false, 1, grantThenRefresh, 1, 0, 1, true, false, false},
      {"granted before, asked again", true, true, false, 1, grantThenRefresh, 0, 0, 1, true, false, false},
      {"the switch to what the preferences hold", true, true, false, 0,
       [](OnboardingFlow& f) { f.setAnimationsEnabled(false); }, 0, 0, 0, true, false, false},
      {"the switch to what it holds", true, true, false, 0, [](OnboardingFlow& f) { f.setAnimationsEnabled(true); }, 0,
       0, 0, true, false, false},
      {"the switch on and back, accepted", true, true, false, 0,
       [](OnboardingFlow& f) {
         f.setAnimationsEnabled(false);
         f.setAnimationsEnabled(true);
       },
       1, 1, 0, true, false, false},
      {"the switch on and back, unaccepted", false, true, false, 0,
       [](OnboardingFlow& f) {
         f.setAnimationsEnabled(false);
         f.setAnimationsEnabled(true);
       },
       0, 1, 0, false, false, false},
      {"permission step, granted", true, true, false, 1, completeAccessibility, 0, 0, 2, true, false, false},
      {"permission step, not granted", true, false, false, 1, completeAccessibility, 0, 0, 1, true, false, false},
      {"permission step button off its step", true, true, false, 0, completeAccessibility, 0, 0, 0, true, false,
       false},
      {"finish, unaccepted", false, true, true, 2, finish, 0, 0, 2, false, false, false},
      {"finish, not granted", true, false, false, 2, finish, 0, 0, 1, true, false, false},
      {"finish from the settings shortcut", true, true, true, 0, finish, 0, 1, 0, true, true, false},
      {"All set on a first onboarding", true, true, false, 2, complete, 0, 1, 2, true, true, true},
      {"All set off the last page", true, true, false, 1, complete, 0, 1, 1, true, true, false},
      {"All set, not granted", true, false, false, 2, complete, 0, 0, 1, true, false, false},
      {"All set after an earlier completion", true, true, false, 2, complete, 0, 1, 2, true, true, false, true},
  };
  for (const auto& c : cases) {
    make(c.accepted, c.granted, c.completedBefore, false, c.documentValid);
    if (c.completedBefore) preferences->setShowsOnboarding(true);
    flow->setAgreementChecked(c.ticked);
    flow->setStep(c.step);
    c.act(*flow);
    EXPECT_EQ(enables, c.enables) << c.what;
    EXPECT_EQ(writes, c.writes) << c.what;
    EXPECT_EQ(flow->step(), c.stepAfter) << c.what;
    EXPECT_EQ(agreement->accepted(), c.acceptedAfter) << c.what;
    EXPECT_EQ(preferences->onboardingCompleted(), c.completedAfter) << c.what;
    EXPECT_EQ(preferences->showsOnboarding(), !c.completedAfter) << c.what;
    EXPECT_EQ(flow->showsCompletion(), c.card) << c.what;
    if (c.completedAfter) {
      EXPECT_FALSE(flow->agreementChecked()) << c.what;
    }
  }
}

TEST_F(OnboardingFlowTest, TheInitialStateComesFromThePreferencesAndThePermission) {
  struct Case {
    bool completedBefore, switchStored, granted;
    bool animationsEnabled;
  };
  const Case cases[] = {
      {false, false, true, true},  // a first run proposes animations on
      {false, true, false, true},
      {true, false, true, false},  // later runs show the stored switch
      {true, true, false, true},
  };
  for (const auto& c : cases) {
    make(true, c.granted, c.completedBefore, c.switchStored);
    EXPECT_EQ(flow->animationsEnabled(), c.animationsEnabled);
    EXPECT_EQ(flow->accessibilityGranted(), c.granted);
    EXPECT_EQ(flow->step(), 0);
    EXPECT_FALSE(flow->showsCompletion() || flow->agreementChecked());
    EXPECT_EQ(writes, 0);
  }
  make(false, true);
  EXPECT_FALSE(flow->canContinue());
  flow->setAgreementChecked(true);
  EXPECT_TRUE(flow->canContinue());
  make(false, true, false, false, false);
  flow->setAgreementChecked(true);
  EXPECT_FALSE(flow->canContinue());  // an invalid document cannot be accepted
  make(true, true);
  EXPECT_TRUE(flow->canContinue());
  flow->reviewAgreement();
  EXPECT_EQ(reviews, 1);
}

// A whole first onboarding with its card, then a restart whose completion
// shows none.
TEST_F(OnboardingFlowTest, RestartThenCompleteShowsNoCard) {
  make(false, false);
  flow->setAgreementChecked(true);
  flow->setAnimationsEnabled(false);
  flow->continueFromStep();
  EXPECT_EQ(flow->step(), 1);
  EXPECT_FALSE(preferences->resumeAnimationsOnLaunch());
  EXPECT_EQ(enables, 1);
  flow->completeAccessibility();
  EXPECT_EQ(flow->step(), 1);  // still waiting for the permission
  grant(true);
  flow->refreshAccessibility();
  EXPECT_EQ(enables, 2);  // the grant, with the agreement accepted
  flow->completeAccessibility();
  flow->completeOnboarding();
  EXPECT_TRUE(flow->showsCompletion());
  EXPECT_FALSE(preferences->showsOnboarding());

  // The switch was turned on from the status menu since.
  preferences->setResumeAnimationsOnLaunch(true);
  scope->runUntilIdle();
  const int writesBefore = writes;
  flow->restart();
  EXPECT_EQ(writes - writesBefore, 0);  // the switch agrees with the preferences
  EXPECT_TRUE(flow->animationsEnabled());
  EXPECT_EQ(flow->step(), 0);
  EXPECT_FALSE(flow->showsCompletion() || flow->agreementChecked());
  EXPECT_TRUE(preferences->showsOnboarding());
  flow->continueFromStep();
  flow->completeAccessibility();
  EXPECT_EQ(flow->step(), 2);
  flow->completeOnboarding();
  EXPECT_FALSE(flow->showsCompletion());
  EXPECT_FALSE(preferences->showsOnboarding());
  EXPECT_TRUE(preferences->onboardingCompleted());
}

// The flow follows the preferences' switch and the agreement only from the
// run loop's next pass, and not for the values current at creation.
TEST_F(OnboardingFlowTest, SubscriptionsDeliverChangesAfterAPump) {
  make(false, true, true, true);
  int announced = 0;
  auto changes = flow->objectWillChangePublisher().sink([&](int) { ++announced; });
  announced = 0;
  std::vector<bool> switches;
  auto switchSink = flow->animationsEnabledPublisher().sink([&](bool on) { switches.push_back(on); });
  switches.clear();
  scope->runUntilIdle();
  EXPECT_EQ(announced, 0);
  EXPECT_TRUE(switches.empty());

  preferences->setResumeAnimationsOnLaunch(false);  // from the status menu
  const int writesAfterMenu = writes;
  EXPECT_TRUE(flow->animationsEnabled());
  scope->runUntilIdle();
  EXPECT_FALSE(flow->animationsEnabled());
  EXPECT_EQ(switches, std::vector<bool>{false});
  EXPECT_EQ(writes, writesAfterMenu);  // nothing written back
  EXPECT_EQ(enables, 0);

  agreement->accept(true);
  EXPECT_EQ(announced, 0);
  scope->runUntilIdle();
  EXPECT_EQ(announced, 1);

  // Gone before the pass: nothing is delivered to it.
  preferences->setResumeAnimationsOnLaunch(true);
  std::weak_ptr<OnboardingFlow> weak = flow;
  switchSink.cancel();
  changes.cancel();
  flow.reset();
  EXPECT_TRUE(weak.expired());
  scope->runUntilIdle();
}

}  // namespace
}  // namespace vurle
