#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/appkit/application.hpp"
#include "platform/appkit/button.hpp"
#include "platform/appkit/event.hpp"
#include "platform/appkit/screen.hpp"
#include "platform/appkit/view.hpp"
#include "platform/appkit/window.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/events/event_tap.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/windowserver/window_server.hpp"

namespace platform {
namespace {

constexpr uint16_t kA = 0, kW = 13, kReturn = 36, kTab = 48, kEscape = 53;

// A responder that writes down what it is told and handles the keys it is
// told to, passing the others on as a view does.
class Responder : public NSView {
 public:
  Responder(std::string name, std::vector<std::string>& log) : NSView(NSMakeRect(0, 0, 10, 10)), name(std::move(name)), log_(log) {}
  bool acceptsFirstResponder() const override { return accepts; }
  bool becomeFirstResponder() override {
    log_.push_back(name + " becomes");
    return true;
  }
  bool resignFirstResponder() override {
    log_.push_back(name + (resigns ? " resigns" : " refuses to resign"));
    return resigns;
  }
  void keyDown(const NSEvent& e) override {
    log_.push_back(name + " keyDown " + std::to_string(e.keyCode()));
    if (e.keyCode() != handles) NSView::keyDown(e);
  }
  void keyUp(const NSEvent& e) override {
    log_.push_back(name + " keyUp " + std::to_string(e.keyCode()));
    NSView::keyUp(e);
  }
  bool performKeyEquivalent(const NSEvent& e) override {
    log_.push_back(name + " equivalent " + std::to_string(e.keyCode()));
    return e.keyCode() == equivalent || NSView::performKeyEquivalent(e);
  }

  std::string name;
  bool accepts = true;
  bool resigns = true;
  int handles = -1;
  int equivalent = -1;

 private:
  std::vector<std::string>& log_;
};

class LoggingWindow : public NSWindow {
 public:
  LoggingWindow(std::vector<std::string>& log) : NSWindow(NSMakeRect(100, 100, 300, 200), 0), log_(log) {}
  void cancelOperation(const void*) override { log_.push_back("window cancelOperation"); }

 private:
  std::vector<std::string>& log_;
};

class WindowKeysTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WindowServer::shared();
    resetProcessState();
    NSScreen::setScreens({NSScreen::make(CGRectMake(0, 0, 1000, 800), 2)});
    NSApplication::shared();
    window = std::make_shared<LoggingWindow>(log);
    window->setContentView(std::make_shared<NSView>(CGRectZero));
    // Tree order: a, then b and its child c; d is not a key view.
    a = std::make_shared<Responder>("a", log);
    b = std::make_shared<Responder>("b", log);
    c = std::make_shared<Responder>("c", log);
    d = std::make_shared<Responder>("d", log);
    d->accepts = false;
    window->contentView()->addSubview(a);
    window->contentView()->addSubview(b);
    b->addSubview(c);
    window->contentView()->addSubview(d);
  }
  void TearDown() override { resetProcessState(); }

  // A key as the application hands it to the key window.
  void key(uint16_t code, NSEventModifierFlags flags = 0, NSEventType type = NSEventTypeKeyDown) {
    const std::string text = keyboardLayoutCharacters(code, flags);
    window->sendEvent(*NSEvent::keyEventWithType(type, flags, text, text, code));
  }
  // A key the user types on the desktop, through the event system.
  void type(uint16_t code, NSEventModifierFlags flags = 0) {
    for (bool down : {true, false}) {
      auto event = CGEventCreateKeyboardEvent(nullptr, code, down);
      CGEventSetFlags(event, flags);
      CGEventKeyboardSetUnicodeString(event, keyboardLayoutCharacters(code, flags));
      CGEventPost(kCGHIDEventTap, event);
    }
    scope->runUntilIdle();
  }
  std::vector<std::string> take() { return std::exchange(log, {}); }

  SimulatedSchedulerScope scope;
  std::vector<std::string> log;
  std::shared_ptr<LoggingWindow> window;
  std::shared_ptr<Responder> a, b, c, d;
};

TEST_F(WindowKeysTest, FirstResponderChangesAskBothSidesAndARefusalToResignKeepsTheResponder) {
  EXPECT_EQ(window->firstResponder(), nullptr) << "the window itself";
  EXPECT_TRUE(window->makeFirstResponder(a));
  EXPECT_TRUE(window->makeFirstResponder(a)) << "already first responder: nobody is asked";
  EXPECT_EQ(take(), (std::vector<std::string>{"a becomes"}));

  a->resigns = false;
  EXPECT_FALSE(window->makeFirstResponder(b));
  EXPECT_FALSE(window->makeFirstResponder(nullptr));
  EXPECT_EQ(window->firstResponder(), a);
  a->resigns = true;
  EXPECT_FALSE(window->makeFirstResponder(d)) << "d takes no focus";
  EXPECT_EQ(window->firstResponder(), nullptr) << "so the window has it";
  EXPECT_EQ(take(), (std::vector<std::string>{"a refuses to resign", "a refuses to resign", "a resigns"}));

  // Another window's view, or a view in none, is refused without a word.
  auto other = NSWindow::make(NSMakeRect(0, 0, 10, 10), 1);
  other->setContentView(std::make_shared<NSView>(CGRectZero));
  auto elsewhere = std::make_shared<Responder>("x", log);
  other->contentView()->addSubview(elsewhere);
  EXPECT_TRUE(window->makeFirstResponder(b));
  EXPECT_FALSE(window->makeFirstResponder(elsewhere));
  EXPECT_FALSE(window->makeFirstResponder(std::make_shared<Responder>("loose", log)));
  EXPECT_EQ(window->firstResponder(), b);
  EXPECT_EQ(take(), (std::vector<std::string>{"b becomes"}));
}

TEST_F(WindowKeysTest, KeysGoUpTheChainToTheWindowAndCommandKeysAreEquivalentsFirst) {
  window->makeFirstResponder(c);
  take();
  key(kA);
  key(kA, 0, NSEventTypeKeyUp);
  EXPECT_EQ(take(), (std::vector<std::string>{"c keyDown 0", "b keyDown 0", "a equivalent 0", "b equivalent 0",
                                              "c equivalent 0", "d equivalent 0", "c keyUp 0", "b keyUp 0"}))
      << "unhandled, the window offers it as a key equivalent";

  b->handles = kA;
  key(kA);
  EXPECT_EQ(take(), (std::vector<std::string>{"c keyDown 0", "b keyDown 0"}));

  // With Command (or Control) the tree sees it first; taken there, no
  // responder sees it at all.
  c->equivalent = kW;
  key(kW, NSEventModifierFlagCommand);
  EXPECT_EQ(take(), (std::vector<std::string>{"a equivalent 13", "b equivalent 13", "c equivalent 13"}));
  key(kA, NSEventModifierFlagControl);
  EXPECT_EQ(take(), (std::vector<std::string>{"a equivalent 0", "b equivalent 0", "c equivalent 0", "d equivalent 0",
                                              "c keyDown 0", "b keyDown 0"}))
      << "not taken as an equivalent: the responders, and no second offer";
}

TEST_F(WindowKeysTest, TheDefaultButtonTakesReturnAndEscapeIsTheCancelOperation) {
  int clicks = 0;
  auto done = NSButton::buttonWithTitle("Done", [&] { ++clicks; });
  window->contentView()->addSubview(done);
  window->setDefaultButtonCell(done->cell());
  window->makeFirstResponder(a);
  take();
  key(kReturn);
  EXPECT_EQ(clicks, 1);
  a->handles = kReturn;
  key(kReturn);
  EXPECT_EQ(clicks, 1) << "the responder handled it";
  a->handles = -1;
  done->setEnabled(false);
  key(kReturn);
  EXPECT_EQ(clicks, 1) << "a disabled default button";
  done->setEnabled(true);
  done->removeFromSuperview();
  key(kReturn);
  EXPECT_EQ(clicks, 1) << "a default button out of the window";
  take();

  key(kEscape);
  key(kEscape, NSEventModifierFlagShift);
  EXPECT_EQ(take(), (std::vector<std::string>{"a keyDown 53", "a equivalent 53", "b equivalent 53", "c equivalent 53",
                                              "d equivalent 53", "window cancelOperation", "a keyDown 53",
                                              "a equivalent 53", "b equivalent 53", "c equivalent 53",
                                              "d equivalent 53"}));

  // A button's own key equivalent clicks it wherever the focus is.
  auto save = NSButton::buttonWithTitle("Save", [&] { clicks += 10; });
  save->setKeyEquivalent("s");
  save->setKeyEquivalentModifierMask(NSEventModifierFlagCommand);
  window->contentView()->addSubview(save);
  key(1, NSEventModifierFlagCommand);
  key(1);
  EXPECT_EQ(clicks, 11);
}

TEST_F(WindowKeysTest, TabWalksTheKeyViewLoopInTreeOrderBothWaysAndWraps) {
  EXPECT_EQ(window->keyViewLoop(), (std::vector<std::shared_ptr<NSView>>{a, b, c}));
  std::vector<std::string> focus;
  const auto press = [&](NSEventModifierFlags flags) {
    key(kTab, flags);
    auto r = window->firstResponder();
    focus.push_back(r ? static_cast<Responder&>(*r).name : "window");
  };
  for (int i = 0; i < 4; ++i) press(0);
  for (int i = 0; i < 2; ++i) press(NSEventModifierFlagShift);
  press(NSEventModifierFlagOption);  // not a move
  EXPECT_EQ(focus, (std::vector<std::string>{"a", "b", "c", "a", "c", "b", "b"}));

  // A refusal to resign keeps the focus where it is.
  b->resigns = false;
  press(0);
  b->resigns = true;
  // Hidden views leave the loop; with none left the window takes the focus.
  b->setHidden(true);
  press(0);
  a->accepts = false;
  press(0);
  EXPECT_EQ(focus.back(), "window");
  EXPECT_EQ(std::vector<std::string>(focus.end() - 3, focus.end()), (std::vector<std::string>{"b", "a", "window"}));
}

TEST_F(WindowKeysTest, AResponderLeavingItsWindowHandsTheRoleToTheWindow) {
  window->makeFirstResponder(c);
  b->removeFromSuperview();  // c goes with its superview
  EXPECT_EQ(window->firstResponder(), nullptr);
  take();
  key(kTab);
  EXPECT_EQ(window->firstResponder(), a) << "the loop starts again at its first view";
  // A view made first responder before it leaves, then put back, is not it.
  window->contentView()->addSubview(b);
  window->makeFirstResponder(c);
  window->setContentView(std::make_shared<NSView>(CGRectZero));
  EXPECT_EQ(window->firstResponder(), nullptr);

  // The initial first responder takes the focus when the window is first
  // ordered in, and only then.
  auto fresh = std::make_shared<LoggingWindow>(log);
  fresh->setContentView(std::make_shared<NSView>(CGRectZero));
  auto first = std::make_shared<Responder>("first", log);
  fresh->contentView()->addSubview(first);
  fresh->setInitialFirstResponder(first);
  EXPECT_EQ(fresh->firstResponder(), nullptr);
  fresh->orderFront();
  EXPECT_EQ(fresh->firstResponder(), first);
  fresh->makeFirstResponder(nullptr);
  fresh->orderOut();
  fresh->orderFront();
  EXPECT_EQ(fresh->firstResponder(), nullptr);
}

TEST_F(WindowKeysTest, DesktopKeysReachTheKeyWindowOnlyWhileTheApplicationIsActiveAndNoHotKeyTakesThem) {
  window->orderFront();
  window->makeKeyWindow();
  window->makeFirstResponder(a);
  a->handles = kA;
  take();
  type(kA);
  EXPECT_TRUE(take().empty()) << "another application is frontmost";
  NSWorkspace::sharedWorkspace().activateApplication(::getpid());
  type(kA);
  EXPECT_EQ(take(), (std::vector<std::string>{"a keyDown 0", "a keyUp 0"}));
  EventSystem::shared().setHotKeyRoute([](const CGEventRef& e) { return e->keycode == kA; });
  type(kA);
  EXPECT_EQ(take(), (std::vector<std::string>{"a keyUp 0"})) << "the hot key took the press";
  window->orderOut();
  type(kA);
  EXPECT_TRUE(take().empty()) << "no key window";
}

TEST(NSEventTest, TheProgramMakesKeyEventsOnlyOfKeyTypesAndWellFormedText) {
  const struct {
    NSEventType type;
    const char* characters;
    bool made;
  } cases[] = {
      {NSEventTypeKeyDown, "q", true},   {NSEventTypeKeyUp, "é", true},  {NSEventTypeMouseMoved, "q", false},
      {NSEventTypeKeyDown, "\xff", false}, {NSEventTypeKeyDown, "\xe2\x82", false}, {NSEventTypeKeyUp, "", true},
  };
  for (const auto& c : cases) {
    auto event = NSEvent::keyEventWithType(c.type, NSEventModifierFlagShift, c.characters, "a", 12);
    EXPECT_EQ(event != nullptr, c.made) << c.characters;
    if (event) {
      EXPECT_EQ(event->type(), c.type);
      EXPECT_EQ(event->characters(), c.characters);
      EXPECT_EQ(event->keyCode(), 12);
      EXPECT_EQ(event->timestamp(), 0);
    }
  }
  EXPECT_FALSE(NSEvent::keyEventWithType(NSEventTypeKeyDown, 0, "a", "\xc0\x80", 0)) << "an overlong form";
}

}  // namespace
}  // namespace platform
