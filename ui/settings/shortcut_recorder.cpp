#include "ui/settings/shortcut_recorder.hpp"

#include "platform/appkit/event.hpp"
#include "platform/appkit/window.hpp"
#include "platform/ui/graph.hpp"

namespace vurle {

using namespace platform;
using namespace platform::ui;

namespace {

constexpr uint16_t kReturn = 36;
constexpr uint16_t kTab = 48;
constexpr uint16_t kSpace = 49;
constexpr uint16_t kDelete = 51;
constexpr uint16_t kEscape = 53;
constexpr uint16_t kForwardDelete = 117;

// Tab and Shift-Tab can never be global shortcuts (no ⌃, ⌥ or ⌘), so the
// recorder leaves them to the window, whose key-view loop moves the focus
// and so ends the recording. ⌃-Tab and the like are recorded as any key.
bool isFocusMove(const NSEvent& event) {
  constexpr NSEventModifierFlags others = NSEventModifierFlagControl | NSEventModifierFlagOption | NSEventModifierFlagCommand;
  return event.keyCode() == kTab && (event.modifierFlags() & others) == 0;
}

}  // namespace

ShortcutRecorderButton::ShortcutRecorderButton() : NSButton(NSZeroRect) {
  setBezelStyle(NSBezelStyle::rounded);
  setButtonType(NSButtonType::momentaryPushIn);
  setFont(NSFont::monospacedSystemFontOfSize(12, NSFontWeight::medium));
  // The button is its own target; the action never outlives it.
  setAction([this] { beginRecording(); });
  setTitle(savedTitle);
}

void ShortcutRecorderButton::beginRecording() {
  if (recording_ || !isEnabled()) return;
  recording_ = true;
  if (onBegin) onBegin();
  setTitle(recordingTitle);
  // Taking the focus makes a recorder that had it resign, and so end; by
  // then the preferences already name this one's action.
  if (auto owner = window()) owner->makeFirstResponder(shared_from_this());
}

void ShortcutRecorderButton::endRecording() {
  if (!recording_) return;
  recording_ = false;
  setTitle(savedTitle);
  if (onEnd) onEnd();
}

bool ShortcutRecorderButton::resignFirstResponder() {
  endRecording();
  return NSButton::resignFirstResponder();
}

void ShortcutRecorderButton::viewWillMoveToWindow(const std::shared_ptr<NSWindow>& newWindow) {
  if (!newWindow) endRecording();
  NSButton::viewWillMoveToWindow(newWindow);
}

bool ShortcutRecorderButton::performKeyEquivalent(const NSEvent& event) {
  if (recording_ && !isFocusMove(event)) {
    handleRecordingKey(event);
    return true;
  }
  return NSButton::performKeyEquivalent(event);
}

void ShortcutRecorderButton::keyDown(const NSEvent& event) {
  if (recording_) {
    if (isFocusMove(event)) {
      NSButton::keyDown(event);
    } else {
      handleRecordingKey(event);
    }
  } else if (event.keyCode() == kSpace || event.keyCode() == kReturn) {
    beginRecording();
  } else {
    NSButton::keyDown(event);
  }
}

void ShortcutRecorderButton::handleRecordingKey(const NSEvent& event) {
  // Outside a recording a stray Delete must not remove the shortcut.
  if (!recording_ || event.type() != NSEventTypeKeyDown) return;
  // The callbacks may take the button out of its window.
  const auto keep = shared_from_this();
  if (event.keyCode() == kEscape) {
    endRecording();
    return;
  }
  if (event.keyCode() == kDelete || event.keyCode() == kForwardDelete) {
    if (onChange) onChange(std::nullopt);
    endRecording();
    return;
  }
  auto shortcut = GlobalShortcut::fromEvent(event);
  if (!shortcut) {
    if (onInvalid) onInvalid(invalidMessage);
    return;
  }
  if (onChange) onChange(std::move(shortcut));
  endRecording();
}

const char* shortcutActionTitle(ShortcutAction action) {
  return action == ShortcutAction::pause ? "Toggle animations" : "Open settings";
}

std::string shortcutDisplayText(const std::optional<GlobalShortcut>& shortcut) {
  if (!shortcut) return ShortcutRecorderButton::noneTitle;
  const std::uint32_t mask = shortcut->modifiers;
  std::string text;
  if (mask & GlobalShortcut::controlKey) text += "⌃";
  if (mask & GlobalShortcut::optionKey) text += "⌥";
  if (mask & GlobalShortcut::shiftKey) text += "⇧";
  if (mask & GlobalShortcut::cmdKey) text += "⌘";
  std::string key = shortcut->key;
  // A stored text may be the key's shifted character ("<" for the comma
  // key); after the ⇧ the key's own name is shown.
  if (shortcut->keyCode < 128 && (mask & GlobalShortcut::shiftKey)) {
    if (auto event = NSEvent::keyEventWithType(NSEventTypeKeyDown, 0, shortcut->key, shortcut->key,
                                               static_cast<uint16_t>(shortcut->keyCode))) {
      key = GlobalShortcut::keyDisplayName(*event);
    }
  }
  return text + key;
}

namespace {

class RecorderRepresentable : public NSViewRepresentable {
 public:
  RecorderRepresentable(std::shared_ptr<AppPreferences> preferences, ShortcutAction action)
      : preferences_(std::move(preferences)), action_(action) {}

  std::shared_ptr<NSView> makeNSView(Context&) const override {
    auto button = std::make_shared<ShortcutRecorderButton>();
    std::weak_ptr<AppPreferences> weak = preferences_;
    const ShortcutAction action = action_;
    button->onBegin = [weak, action] {
      if (auto p = weak.lock()) p->setRecordingAction(action);
    };
    button->onEnd = [weak, action] {
      // A recording of the other action has taken over: leave it alone.
      if (auto p = weak.lock(); p && p->recordingAction() == action) p->setRecordingAction(std::nullopt);
    };
    button->onChange = [weak, action](std::optional<GlobalShortcut> shortcut) {
      if (auto p = weak.lock()) p->setShortcut(std::move(shortcut), action);
    };
    button->onInvalid = [weak, action](const std::string& message) {
      auto p = weak.lock();
      if (!p) return;
      auto errors = p->shortcutErrors();
      errors[action] = message;
      p->setShortcutErrors(std::move(errors));
    };
    const std::string title = shortcutActionTitle(action);
    button->setAccessibilityElement(true);
    button->setAccessibilityRole("button");
    button->setAccessibilityLabel("Shortcut for " + title);
    button->setAccessibilityHelp("Click to record. Escape cancels; Delete removes the shortcut.");
    return button;
  }

  void updateNSView(NSView& view, Context&) const override {
    auto& button = static_cast<ShortcutRecorderButton&>(view);
    const auto& shortcut =
        action_ == ShortcutAction::settings ? preferences_->settingsShortcut() : preferences_->pauseShortcut();
    button.savedTitle = shortcutDisplayText(shortcut);
    button.setEnabled(preferences_->shortcutsEnabled());
    if (button.isRecording()) {
      if (preferences_->recordingAction() != action_) {
        button.endRecording();
      } else {
        button.setTitle(ShortcutRecorderButton::recordingTitle);
      }
    } else {
      button.setTitle(button.savedTitle);
    }
  }

  void dismantleNSView(NSView& view, std::any&) const override {
    static_cast<ShortcutRecorderButton&>(view).endRecording();
  }

 private:
  std::shared_ptr<AppPreferences> preferences_;
  ShortcutAction action_;
};

}  // namespace

View ShortcutRecorder(std::shared_ptr<AppPreferences> preferences, ShortcutAction action) {
  return Composite("ShortcutRecorder", [preferences, action](Context& c) {
    // Every value the button shows or obeys; a change updates it.
    c.observe(preferences->recordingActionPublisher());
    c.observe(preferences->shortcutsEnabledPublisher());
    c.observe(action == ShortcutAction::settings ? preferences->settingsShortcutPublisher()
                                                 : preferences->pauseShortcutPublisher());
    return Representable("ShortcutRecorderButton", std::make_shared<RecorderRepresentable>(preferences, action));
  });
}

}  // namespace vurle
