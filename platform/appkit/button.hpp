#pragma once

// A push button: a title in a font on a bezel, an action, a key
// equivalent, and the enabled state (disabled buttons ignore clicks and
// key equivalents and take no focus). A click is a press and a release
// inside the button; performClick runs the action as a click does. The
// title-bar buttons of a window are buttons too. Main thread only.

#include <functional>
#include <memory>
#include <string>

#include "platform/appkit/event.hpp"
#include "platform/appkit/font.hpp"
#include "platform/appkit/view.hpp"

namespace platform {

class NSButton;

// Raw values as on the platform.
enum class NSBezelStyle : unsigned long { rounded = 1, regularSquare = 2, shadowlessSquare = 6, inline_ = 15 };
enum class NSButtonType : unsigned long { momentaryLight = 0, pushOnPushOff = 1, toggle = 2, switchButton = 3,
                                          radio = 4, momentaryChange = 5, onOff = 6, momentaryPushIn = 7 };

// What a window's default button is known by: the cell of one button,
// which it holds weakly.
class NSButtonCell {
 public:
  explicit NSButtonCell(const std::shared_ptr<NSButton>& button) : button_(button) {}
  std::shared_ptr<NSButton> controlView() const { return button_.lock(); }

 private:
  std::weak_ptr<NSButton> button_;
};

class NSButton : public NSView {
 public:
  explicit NSButton(NSRect frame = NSZeroRect) : NSView(frame) {}
  explicit NSButton(NSCoder& coder) : NSView(coder) {}
  // A rounded push button of its natural size with the title and action.
  static std::shared_ptr<NSButton> buttonWithTitle(std::string title, std::function<void()> action);

  bool isEnabled() const { return enabled_; }
  void setEnabled(bool enabled) { enabled_ = enabled; }
  const std::string& title() const { return title_; }
  void setTitle(std::string title) { title_ = std::move(title); }
  NSBezelStyle bezelStyle() const { return bezelStyle_; }
  void setBezelStyle(NSBezelStyle style) { bezelStyle_ = style; }
  NSButtonType buttonType() const { return buttonType_; }
  void setButtonType(NSButtonType type) { buttonType_ = type; }
  const NSFont& font() const { return font_; }
  void setFont(NSFont font) { font_ = font; }
  // What a click runs: the target's action on the platform.
  void setAction(std::function<void()> action) { action_ = std::move(action); }
  bool hasAction() const { return static_cast<bool>(action_); }
  // The characters (as the key types them ignoring modifiers: "\r" for
  // Return) and the modifiers, of Command, Option and Control, that press
  // the button; none by default.
  const std::string& keyEquivalent() const { return keyEquivalent_; }
  void setKeyEquivalent(std::string key) { keyEquivalent_ = std::move(key); }
  NSEventModifierFlags keyEquivalentModifierMask() const { return keyEquivalentModifiers_; }
  void setKeyEquivalentModifierMask(NSEventModifierFlags mask) { keyEquivalentModifiers_ = mask; }
  // The button's cell, made on first use and kept.
  std::shared_ptr<NSButtonCell> cell();
  bool isHighlighted() const { return highlighted_; }
  // Whether the button's cell is its window's default button cell (drawn
  // filled with the accent colour).
  bool isDefaultButton() const;

  // Runs the action when enabled.
  virtual void performClick(const void* sender = nullptr);

  bool acceptsFirstResponder() const override { return enabled_; }
  bool performKeyEquivalent(const NSEvent& event) override;
  void mouseDown(const NSEvent& event) override;
  void mouseUp(const NSEvent& event) override;
  void drawRect(NSRect dirtyRect) override;
  NSSize intrinsicContentSize() const override;

 private:
  bool enabled_ = true;
  bool highlighted_ = false;
  std::string title_ = "Button";
  NSBezelStyle bezelStyle_ = NSBezelStyle::rounded;
  NSButtonType buttonType_ = NSButtonType::momentaryPushIn;
  NSFont font_ = NSFont::systemFontOfSize(NSFont::systemFontSize());
  std::function<void()> action_;
  std::string keyEquivalent_;
  NSEventModifierFlags keyEquivalentModifiers_ = 0;
  std::shared_ptr<NSButtonCell> cell_;
};

}  // namespace platform
