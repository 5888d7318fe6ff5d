#pragma once

// The settings page in a window of its own over in-memory settings, for
// the pictures that vurle_views writes and the tests compare: the engine,
// the settings page's speed examples, the preferences, an agreement
// (accepted unless asked otherwise) and a login item that waits for the
// user's approval, hosted in a 460 × 591 window on the first screen. Runs
// on the simulated scheduler it is given; needs a screen. Main thread only.

#include <functional>
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
  SettingsScene(platform::SimulatedScheduler& scheduler, const std::string& domain, bool agreementAccepted = true);
  ~SettingsScene();
  SettingsScene(const SettingsScene&) = delete;
  SettingsScene& operator=(const SettingsScene&) = delete;

  // Selects the tab and lets the page settle, the examples at rest.
  void show(SettingsTab tab);
  // The General tab with the launch-at-login help open, or the Dock help.
  void showGeneralWithLoginHelp();
  void showGeneralWithDockHelp();
  // The General tab with the animation error help open: the engine
  // started without the Accessibility permission, as it reports that.
  void showGeneralWithErrorHelp();
  // The Behavior tab while Game Mode pauses the animation.
  void showBehaviorPaused();
  // The Shortcuts tab recording the pause shortcut after a refused key;
  // std::logic_error when the tab shows no recorder.
  void showShortcutsRecording();
  // The agreement's box ticked on the card the page shows until it is
  // accepted.
  void tickAgreement();

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

// Brings fresh scenes to each look of the settings page that has a
// picture and hands it to `take` with the picture's name, in this order:
// settings_general_login_help, settings_general_dock_help,
// settings_preview, settings_behavior, shortcuts_recording,
// animation_error_help, legal_agreement_card and
// legal_agreement_card_ticked (the card before and after its box is
// ticked). Domains of in-memory settings start with `domain`.
void takeSettingsPictures(platform::SimulatedScheduler& scheduler, const std::string& domain,
                          const std::function<void(const std::string& name, platform::ui::ViewGraph& graph)>& take);

}  // namespace vurle
