#pragma once

// The settings page: the content of the main window once onboarding is
// over. A header with the logo and the version and build, a tab bar of the
// four sections with a sliding yellow capsule under the selected one, a
// hairline, and below it the selected section's page: General (the master
// switch with its status line, the duration, dynamic speed, launch at
// login, the menu-bar item and the Dock icon), Preview (the speed examples
// side by side over the cursor test strip), Behavior (the automatic pauses
// and screen capture) and Shortcuts. Until the end-user agreement is
// accepted the body shows only the agreement card and the tab bar is
// disabled.
//
// The page keeps no state of its own beyond whether the launch-at-login
// help is open; everything else lives in the objects it observes, so a
// window closed and shown again shows the same section. It keeps those
// objects in step with what the user does: entering the page snaps the
// duration to 10 ms and hands it to the speed examples, every duration
// change reaches them too, leaving Preview stops them, a change of section
// or shortcuts switched off ends a shortcut recording, Reduce Motion turned
// on resets the examples, and the launch-at-login status is read again
// when the page appears and whenever the application becomes active.
//
// Every handler runs in the render that follows the change, on the main
// queue, so it runs before the next display-link frame: after "Apply" the
// next morph of the "Current" example already has the new duration.
// Main thread only.

#include <memory>
#include <string>

#include "app/app_preferences.hpp"
#include "app/login_item.hpp"
#include "cursor/engine/cursor_engine.hpp"
#include "platform/ui/graph.hpp"
#include "ui/onboarding/legal_agreement.hpp"
#include "ui/settings/morph_speed_examples.hpp"
#include "ui/settings/settings_rows.hpp"

namespace vurle {

struct LabView {
  std::shared_ptr<CursorEngine> engine;
  std::shared_ptr<MorphSpeedExamples> examples;
  std::shared_ptr<AppPreferences> preferences;
  std::shared_ptr<LegalAgreement> agreement;
  std::shared_ptr<LoginItem> loginItem;
  platform::ui::Color yellow = kSettingsYellow;

  platform::ui::View body() const;

  // The General tab's status line, first rule that holds: Reduce Motion,
  // an engine error, the master switch off, an automatic pause, running.
  std::string statusText(bool reduceMotion) const;
  // The master switch's setter: nothing for the current value; off stops
  // the engine at once as the animation session's pause does; on leaves
  // the start to the session.
  void setAnimationsEnabled(bool on) const;
  // What showing the page does: the login item's status read again, the
  // duration snapped to 10 ms and handed to the examples.
  void onAppear() const;
};

// The sections' pages, each built on the page's objects.
platform::ui::View GeneralPage(const LabView& page, platform::ui::Binding<bool> showsLoginHelp);
platform::ui::View BehaviorPage(std::shared_ptr<AppPreferences> preferences, std::shared_ptr<CursorEngine> engine);

// The nearest multiple of 10 ms, halves away from zero (154 → 150,
// 155 → 160).
double snappedMilliseconds(double milliseconds);
// The width of one tab in a bar of the given width (3 points of padding a
// side).
double settingsTabWidth(double barWidth);

}  // namespace vurle
