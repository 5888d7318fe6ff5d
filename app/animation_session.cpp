#include "app/animation_session.hpp"

#include "app/workspace_observation.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/dispatch/run_loop.hpp"

namespace vurle {

std::shared_ptr<AnimationSession> AnimationSession::make(std::shared_ptr<AppPreferences> preferences,
                                                         std::shared_ptr<AgreementGate> agreement,
                                                         std::shared_ptr<AutomaticPauseMonitor> automaticPause,
                                                         Operations operations) {
  auto session = std::make_shared<AnimationSession>(Passkey{}, std::move(preferences), std::move(agreement),
                                                    std::move(automaticPause), std::move(operations));
  session->subscribe();
  return session;
}

AnimationSession::AnimationSession(Passkey, std::shared_ptr<AppPreferences> preferences,
                                   std::shared_ptr<AgreementGate> agreement,
                                   std::shared_ptr<AutomaticPauseMonitor> automaticPause, Operations operations)
    : preferences_(std::move(preferences)),
      agreement_(std::move(agreement)),
      operations_(std::move(operations)),
      automaticPause_(std::move(automaticPause)) {}

std::optional<std::string> AnimationSession::automaticPauseMessage(std::optional<AutomaticPauseReason> reason) {
  if (!reason) return std::nullopt;
  switch (*reason) {
    case AutomaticPauseReason::gameMode:
      return "Paused while Game Mode is on.";
    case AutomaticPauseReason::externalMouse:
      return "Paused while an external mouse is connected.";
  }
  return std::nullopt;
}

void AnimationSession::subscribe() {
  std::weak_ptr<AnimationSession> weak = weak_from_this();
  const auto refresh = [weak](const auto&) {
    if (auto session = weak.lock()) session->refresh();
  };
  auto& main = platform::RunLoop::main();
  observations_.push_back(platform::combineLatest(preferences_->resumeAnimationsOnLaunchPublisher(),
                                                  agreement_->acceptedPublisher())
                              .receive(main)
                              .sink(refresh));
  if (automaticPause_) observations_.push_back(automaticPause_->reasonPublisher().receive(main).sink(refresh));
  for (const auto& name :
       {platform::NSWorkspaceDidWakeNotification, platform::NSWorkspaceSessionDidBecomeActiveNotification}) {
    observations_.push_back(observeWorkspaceNotification(name, [weak] {
      if (auto session = weak.lock()) session->handleWake();
    }));
  }
}

void AnimationSession::refresh() {
  const auto reason = automaticPause_ ? automaticPause_->reason() : std::nullopt;
  // Always passed on: the engine ignores a message equal to its own.
  if (operations_.onAutomaticPauseChanged) operations_.onAutomaticPauseChanged(reason);
  const bool shouldRun = preferences_->resumeAnimationsOnLaunch() && agreement_->accepted() && !reason;
  if (shouldRun == isRunning()) return;
  if (shouldRun) {
    if (operations_.start) operations_.start();
  } else if (operations_.pause) {
    operations_.pause();
  }
}

}  // namespace vurle
