#pragma once

// The windows and controllers the application delegate drives that are
// built elsewhere or later: the onboarding flow, the content view, the
// speed examples, the update controller, the shortcut controller, launch at
// login (the shell's own LoginItem, shared), the About window, the bug-report window and the pointer test
// strip. Each is a narrow interface or factory here. The delegate fills
// what it is not given with the do-nothing stand-ins below, so its own
// steps all run; the program hands in the real ones as they come.

#include <functional>
#include <memory>

#include "app/agreement_gate.hpp"
#include "app/app_preferences.hpp"
#include "platform/appkit/view.hpp"
#include "platform/appkit/window.hpp"
#include "platform/appkit/window_controller.hpp"
#include "platform/combine/published.hpp"

namespace vurle {

class CursorEngine;
class LoginItem;

// The onboarding state the delegate drives.
class OnboardingController {
 public:
  virtual ~OnboardingController() = default;
  // The page showing, 0 to 2.
  virtual int step() const = 0;
  // Ends the onboarding from outside its pages.
  virtual void finish() = 0;
  // Shows the onboarding again from its first page.
  virtual void restart() = 0;
  // Asks the Accessibility permission again.
  virtual void refreshAccessibility() = 0;
};

// A player of looping example morphs.
class SpeedExamples {
 public:
  virtual ~SpeedExamples() = default;
  virtual void start() = 0;
  virtual void stop() = 0;
};

// The one update controller.
class UpdateController {
 public:
  virtual ~UpdateController() = default;
  virtual bool isPresentingUpdate() const = 0;
  virtual platform::Publisher<bool> isPresentingUpdatePublisher() const = 0;
  // Whether a check the user asks for may run now; the menus offer one
  // only then.
  virtual bool canCheckForUpdates() const = 0;
  virtual platform::Publisher<bool> canCheckForUpdatesPublisher() const = 0;
  // Starts the updater once the agreement is accepted and onboarding is over.
  virtual void start() = 0;
  virtual void checkForUpdates(bool inButton) = 0;
};

// An update controller that never checks nor presents anything: the
// delegate's stand-in without a real one, and what windows built without
// an updater (pictures, benchmarks) are given.
std::shared_ptr<UpdateController> makeIdleUpdates();

// The global hot keys.
class ShortcutController {
 public:
  virtual ~ShortcutController() = default;
  // Drops its subscription, unregisters every hot key, removes its handler.
  virtual void tearDown() = 0;
};

struct ShellSeams {
  // Required for a real run (the shared agreement store); a stand-in that
  // is never accepted otherwise.
  std::shared_ptr<AgreementGate> agreement;
  std::function<std::shared_ptr<OnboardingController>(std::shared_ptr<AppPreferences> preferences,
                                                      std::shared_ptr<AgreementGate> agreement,
                                                      std::function<void()> reviewAgreement,
                                                      std::function<void()> enableAnimations)>
      makeOnboarding;
  // The root content view; an empty view by default.
  std::function<std::shared_ptr<platform::NSView>(
      std::shared_ptr<AppPreferences> preferences, std::shared_ptr<OnboardingController> onboarding,
      std::shared_ptr<CursorEngine> engine, std::shared_ptr<SpeedExamples> inlineExamples,
      std::shared_ptr<SpeedExamples> welcomeExamples)>
      makeContentView;
  std::function<std::shared_ptr<SpeedExamples>()> makeInlineExamples;
  std::function<std::shared_ptr<SpeedExamples>()> makeWelcomeExamples;
  std::shared_ptr<UpdateController> updates;
  // Launch at login; by default one over a service that registers nothing.
  std::shared_ptr<LoginItem> loginItem;
  std::function<std::shared_ptr<ShortcutController>(std::shared_ptr<AppPreferences> preferences,
                                                    std::function<void(ShortcutAction)> perform)>
      makeShortcutController;
  // The About window's controller, made once and kept; none by default.
  std::function<std::shared_ptr<platform::NSWindowController>()> makeAboutWindow;
  // Presents the bug-report window over the main window.
  std::function<void(const std::shared_ptr<platform::NSWindow>& mainWindow)> presentBugReport;
  // Cancels the cursor test of the active pointer test strip, if any.
  std::function<void()> cancelCursorTest;
};

}  // namespace vurle
