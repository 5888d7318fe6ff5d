#pragma once

// The one place that starts and pauses the cursor engine. Animations run
// exactly while the user's animation switch is on, the agreement is
// accepted and no automatic-pause reason holds; the session re-decides on
// every change of those inputs, on wake and when the user session becomes
// active again, and calls start or pause only when the engine's state
// differs from the decision. Main thread only; every subscription delivers
// on the main run loop and holds the session weakly.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/agreement_gate.hpp"
#include "app/app_preferences.hpp"
#include "app/automatic_pause_monitor.hpp"
#include "platform/combine/published.hpp"

namespace vurle {

class AnimationSession : public std::enable_shared_from_this<AnimationSession> {
 public:
  // What the session does to the engine; the application delegate supplies
  // them, each holding it weakly (a missing operation does nothing and a
  // missing isRunning answers false).
  struct Operations {
    std::function<bool()> isRunning;
    std::function<void()> start;
    std::function<void()> pause;
    std::function<void(std::optional<AutomaticPauseReason>)> onAutomaticPauseChanged;
  };

  // Subscribes at once; the first values arrive on the run loop's next pass.
  static std::shared_ptr<AnimationSession> make(std::shared_ptr<AppPreferences> preferences,
                                                std::shared_ptr<AgreementGate> agreement,
                                                std::shared_ptr<AutomaticPauseMonitor> automaticPause,
                                                Operations operations);

  // The sentence the engine shows for a reason; none for none.
  static std::optional<std::string> automaticPauseMessage(std::optional<AutomaticPauseReason> reason);

  // Passes the automatic-pause reason on (always), then starts or pauses
  // the engine when its state differs from the rule's answer. Idempotent.
  void refresh();
  // Wake and session-active: the engine turned itself off on sleep.
  void handleWake() { refresh(); }

 private:
  struct Passkey {};

 public:
  AnimationSession(Passkey, std::shared_ptr<AppPreferences> preferences, std::shared_ptr<AgreementGate> agreement,
                   std::shared_ptr<AutomaticPauseMonitor> automaticPause, Operations operations);

 private:
  void subscribe();
  bool isRunning() const { return operations_.isRunning && operations_.isRunning(); }

  const std::shared_ptr<AppPreferences> preferences_;
  const std::shared_ptr<AgreementGate> agreement_;
  const Operations operations_;
  const std::shared_ptr<AutomaticPauseMonitor> automaticPause_;
  std::vector<platform::AnyCancellable> observations_;
};

}  // namespace vurle
