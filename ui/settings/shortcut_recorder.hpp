#pragma once

// The button that shows one global shortcut and records a new one, and the
// view that hosts it in a Shortcuts row.
//
// A click, or Space or Return while the button has the keyboard focus,
// starts recording: the button takes the focus and reads "Press
// shortcut…". The next key-down ends it: Escape changes nothing, Delete or
// Forward Delete removes the shortcut, a combination that makes a valid
// global shortcut records it. Any other combination keeps the button
// recording and reports a sentence. Plain Tab and Shift-Tab are left to the
// window's key-view loop, so they move the focus away, and losing the
// focus, leaving the window or being dismantled ends the recording too. A
// disabled button never starts. Key events reach the recorder through its
// window's responder chain (key equivalents first, then keyDown).
//
// ShortcutRecorder wires the button to the preferences: while it records,
// `recordingAction` names its action (so the hot keys stay off); a new
// shortcut goes through setShortcut; a refused combination becomes the
// action's entry of `shortcutErrors`. Each update re-reads the stored
// shortcut and ends a recording that the preferences no longer name.
// Main thread only.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/app_preferences.hpp"
#include "platform/appkit/button.hpp"
#include "platform/ui/view.hpp"

namespace vurle {

class ShortcutRecorderButton : public platform::NSButton {
 public:
  static constexpr const char* noneTitle = "None";
  static constexpr const char* recordingTitle = "Press shortcut…";
  static constexpr const char* invalidMessage = "Include ⌃, ⌥, or ⌘. ⌘Q is reserved for quitting the active app.";

  // A rounded momentary push button in the medium monospaced system font of
  // 12 points, titled "None", whose action begins recording. It is made
  // only this way: no frame, no archive.
  ShortcutRecorderButton();

  std::function<void()> onBegin;
  std::function<void()> onEnd;
  // A new shortcut, or none to remove it.
  std::function<void(std::optional<GlobalShortcut>)> onChange;
  std::function<void(const std::string&)> onInvalid;
  // The title shown while not recording.
  std::string savedTitle = noneTitle;

  bool isRecording() const { return recording_; }
  // Does nothing while recording or disabled.
  void beginRecording();
  // Only while recording: back to savedTitle, then onEnd.
  void endRecording();
  // One event while recording (nothing otherwise): key-downs only.
  void handleRecordingKey(const platform::NSEvent& event);

  bool acceptsFirstResponder() const override { return true; }
  bool resignFirstResponder() override;
  void viewWillMoveToWindow(const std::shared_ptr<platform::NSWindow>& newWindow) override;
  bool performKeyEquivalent(const platform::NSEvent& event) override;
  void keyDown(const platform::NSEvent& event) override;

 private:
  bool recording_ = false;
};

// The title of the action, as its row and the recorder name it.
const char* shortcutActionTitle(ShortcutAction action);

// "None" without a shortcut; else the modifier symbols in the order ⌃ ⌥ ⇧ ⌘
// and the key text: the stored key, except that with Shift on a key code
// below 128 it is the key's display name, from a key-down made of the
// stored key and key code (the stored key when none can be made).
std::string shortcutDisplayText(const std::optional<GlobalShortcut>& shortcut);

platform::ui::View ShortcutRecorder(std::shared_ptr<AppPreferences> preferences, ShortcutAction action);

}  // namespace vurle
