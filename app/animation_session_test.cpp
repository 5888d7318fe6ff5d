#include "app/animation_session.hpp"

#include <gtest/gtest.h>

#include "platform/appkit/workspace.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/notify/notify.hpp"

namespace vurle {
namespace {

constexpr const char* kConsoleMode = "com.apple.system.console_mode_changed";

class FakeAgreement : public AgreementGate {
 public:
  bool accepted() const override { return accepted_.value(); }
  platform::Publisher<bool> acceptedPublisher() const override { return accepted_.publisher(); }
  void presentSheet(const std::shared_ptr<platform::NSWindow>&) override {}
  void setAccepted(bool accepted) { accepted_.set(accepted); }

 private:
  platform::Published<bool> accepted_{false};
};

// The engine as the session sees it: running or not, with a start that may
// be refused, and the message it shows.
struct FakeEngine {
  bool running = false;
  bool startFails = false;
  int starts = 0;
  int pauses = 0;
  std::optional<std::string> message;

  AnimationSession::Operations operations() {
    return {
        [this] { return running; },
        [this] {
          ++starts;
          running = !startFails;
        },
        [this] {
          ++pauses;
          running = false;
        },
        [this](std::optional<AutomaticPauseReason> reason) { message = AnimationSession::automaticPauseMessage(reason); },
    };
  }
};

class AnimationSessionTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::resetProcessState(); }
  void TearDown() override {
    session.reset();
    monitor.reset();
    platform::resetProcessState();
  }

  void start(bool withMonitor = true) {
    if (withMonitor) monitor = AutomaticPauseMonitor::make(preferences, true);
    session = AnimationSession::make(preferences, agreement, monitor, engine.operations());
    scope->runUntilIdle();
  }
  void setGameMode(std::uint64_t state) {
    platform::NotifyCenter::shared().setState(kConsoleMode, state);
    scope->runUntilIdle();
  }
  void postWorkspace(const std::string& name) {
    platform::NSWorkspace::sharedWorkspace().notificationCenter().postNotificationName(name, nullptr);
    scope->runUntilIdle();
  }

  platform::SimulatedSchedulerScope scope;
  std::shared_ptr<AppPreferences> preferences =
      AppPreferences::make(platform::NSUserDefaults::makeInMemory("mirt.vurle.test"));
  std::shared_ptr<FakeAgreement> agreement = std::make_shared<FakeAgreement>();
  FakeEngine engine;
  std::shared_ptr<AutomaticPauseMonitor> monitor;
  std::shared_ptr<AnimationSession> session;
};

TEST_F(AnimationSessionTest, TheEngineRunsExactlyWhenTheSwitchTheAgreementAndNoPauseReasonAllowIt) {
  preferences->setPauseInGameMode(true);
  start();
  struct Case {
    bool animationSwitch;
    bool accepted;
    std::uint64_t gameMode;
    bool running;
    const char* message;
  };
  const Case cases[] = {
      {false, false, 0, false, nullptr},
      {true, false, 0, false, nullptr},  // the switch alone starts nothing
      {true, true, 0, true, nullptr},    // accepting later starts it
      {true, true, 1, false, "Paused while Game Mode is on."},
      {true, true, 0, true, nullptr},  // Game Mode over: back without user action
      {false, true, 1, false, "Paused while Game Mode is on."},
      {false, true, 0, false, nullptr},
      {true, true, 0, true, nullptr},
  };
  int starts = 0, pauses = 0;
  bool wasRunning = false;
  for (const auto& c : cases) {
    preferences->setResumeAnimationsOnLaunch(c.animationSwitch);
    // The agreement, once accepted, stays accepted; only set it forward.
    if (c.accepted && !agreement->accepted()) agreement->setAccepted(true);
    setGameMode(c.gameMode);
    const std::string label = std::to_string(c.animationSwitch) + std::to_string(c.accepted) + std::to_string(c.gameMode);
    EXPECT_EQ(engine.running, c.running) << label;
    EXPECT_EQ(engine.message, c.message ? std::optional<std::string>(c.message) : std::nullopt) << label;
    // Start and pause only on a change of state.
    starts += (c.running && !wasRunning) ? 1 : 0;
    pauses += (!c.running && wasRunning) ? 1 : 0;
    EXPECT_EQ(engine.starts, starts) << label;
    EXPECT_EQ(engine.pauses, pauses) << label;
    wasRunning = c.running;
  }
}

TEST_F(AnimationSessionTest, ExternalMouseMessageAndNoMonitorMeansNoAutomaticPause) {
  preferences->setPauseWithExternalMouse(true);
  preferences->setResumeAnimationsOnLaunch(true);
  agreement->setAccepted(true);
  platform::IORegistry::shared().addDevice(
      "IOHIDDevice", {{"Transport", "USB"},
                      {"DeviceUsagePairs", platform::PropertyListArray{platform::PropertyListDictionary{
                                               {"DeviceUsagePage", 1}, {"DeviceUsage", 2}}}}});
  start();
  EXPECT_FALSE(engine.running);
  EXPECT_EQ(engine.message, "Paused while an external mouse is connected.");

  session.reset();
  monitor.reset();
  start(false);
  EXPECT_TRUE(engine.running);
  EXPECT_EQ(engine.message, std::nullopt);
}

TEST_F(AnimationSessionTest, RefreshesAreIdempotentAndARefusedStartIsRetriedOnlyByTheNextRefresh) {
  preferences->setResumeAnimationsOnLaunch(true);
  agreement->setAccepted(true);
  start();
  session->refresh();
  session->refresh();
  EXPECT_EQ(engine.starts, 1);  // two refreshes with unchanged inputs start once

  session.reset();
  engine = FakeEngine{};
  engine.startFails = true;
  start();
  const int refused = engine.starts;  // each first value delivered retried it
  EXPECT_GE(refused, 1);
  EXPECT_FALSE(engine.running);
  scope->advance(60.0);
  EXPECT_EQ(engine.starts, refused);  // no timer retries
  engine.startFails = false;
  session->refresh();
  EXPECT_EQ(engine.starts, refused + 1);
  EXPECT_TRUE(engine.running);
}

TEST_F(AnimationSessionTest, WakeAndSessionActivationBringTheEngineBackAfterItTurnedItselfOff) {
  preferences->setResumeAnimationsOnLaunch(true);
  agreement->setAccepted(true);
  start();
  for (const auto& name :
       {platform::NSWorkspaceDidWakeNotification, platform::NSWorkspaceSessionDidBecomeActiveNotification}) {
    engine.running = false;  // the engine's own reaction to sleep or a resigned session
    postWorkspace(name);
    EXPECT_TRUE(engine.running) << name;
  }
  EXPECT_EQ(engine.starts, 3);

  // Released, the session reacts to nothing, including what was queued.
  engine.running = false;
  platform::NSWorkspace::sharedWorkspace().notificationCenter().postNotificationName(
      platform::NSWorkspaceDidWakeNotification, nullptr);
  preferences->setResumeAnimationsOnLaunch(false);
  session.reset();
  scope->runUntilIdle();
  EXPECT_EQ(engine.starts, 3);
  EXPECT_EQ(engine.pauses, 0);
}

}  // namespace
}  // namespace vurle
