#pragma once

// The settings page in a window of its own over in-memory settings, for
// the pictures that vurle_views writes and the tests compare: the engine,
// the settings page's speed examples, the preferences, an accepted
// agreement and a login item that waits for the user's approval, hosted in
// a 460 × 591 window on the first screen. Runs on the simulated scheduler
// it is given; needs a screen. Main thread only.

#include <memory>
#include <string>

#include "app/app_preferences.hpp"
#include "app/login_item.hpp"
#include "cursor/engine/cursor_engine.hpp"
#include "platform/appkit/window.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/ui/graph.hpp"
#include "ui/onboarding/legal_agreement.hpp"
#include "ui/settings/lab_view.hpp"
#include "ui/settings/morph_speed_examples.hpp"

namespace vurle {

class SettingsScene {
 public:
  SettingsScene(platform::SimulatedScheduler& scheduler, const std::string& domain);
  ~SettingsScene();
  SettingsScene(const SettingsScene&) = delete;
  SettingsScene& operator=(const SettingsScene&) = delete;

  // Selects the tab and lets the page settle, the examples at rest.
  void show(SettingsTab tab);
  // The General tab with the launch-at-login help open, or the Dock help.
  void showGeneralWithLoginHelp();
  void showGeneralWithDockHelp();
  // The Behavior tab while Game Mode pauses the animation.
  void showBehaviorPaused();

  platform::ui::ViewGraph& graph() const { return *host->graph(); }

  std::shared_ptr<platform::NSUserDefaults> defaults;
  std::shared_ptr<CursorEngine> engine;
  std::shared_ptr<MorphSpeedExamples> examples;
  std::shared_ptr<AppPreferences> preferences;
  std::shared_ptr<LegalAgreement> agreement;
  std::shared_ptr<LoginItem> loginItem;
  LabView page;
  std::shared_ptr<platform::NSWindow> window;
  std::shared_ptr<platform::ui::NSHostingView> host;

 private:
  void settle();
  platform::SimulatedScheduler& scheduler_;
};

}  // namespace vurle
