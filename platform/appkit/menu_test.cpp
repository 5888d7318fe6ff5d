#include "platform/appkit/menu.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/appkit/application.hpp"
#include "platform/appkit/button.hpp"
#include "platform/appkit/event.hpp"
#include "platform/appkit/menu_tracking.hpp"
#include "platform/appkit/status_bar.hpp"
#include "platform/appkit/view.hpp"
#include "platform/appkit/window.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/foundation/process_wide.hpp"

namespace platform {
namespace {

// Takes the actions it is given and logs what it performs.
class Taker : public NSResponder {
 public:
  Taker(std::string name, std::vector<std::string> takes, std::vector<std::string>* log)
      : name(std::move(name)), takes(std::move(takes)), log(log) {}
  bool respondsToAction(const std::string& selector) const override {
    return std::find(takes.begin(), takes.end(), selector) != takes.end();
  }
  bool performAction(const std::string& selector, const void*) override {
    if (!respondsToAction(selector)) return false;
    log->push_back(name + " " + selector);
    return true;
  }
  bool validateMenuItem(NSMenuItem& item) override {
    item.setState(checked ? NSControlStateValue::on : NSControlStateValue::off);
    return allows;
  }
  std::string name;
  std::vector<std::string> takes;
  std::vector<std::string>* log;
  bool allows = true, checked = false;
};

class TakingView : public NSView {
 public:
  TakingView(std::string name, std::vector<std::string> takes, std::vector<std::string>* log)
      : NSView(NSMakeRect(0, 0, 50, 50)), taker(std::move(name), std::move(takes), log) {}
  bool acceptsFirstResponder() const override { return true; }
  bool respondsToAction(const std::string& selector) const override { return taker.respondsToAction(selector); }
  bool performAction(const std::string& selector, const void* sender) override {
    return taker.performAction(selector, sender);
  }
  void keyDown(const NSEvent& event) override {
    taker.log->push_back(taker.name + " keyDown " + event.charactersIgnoringModifiers().value_or(""));
  }
  Taker taker;
};

class TakingWindowDelegate : public NSWindowDelegate, public Taker {
 public:
  using Taker::Taker;
};

class TakingApplicationDelegate : public NSApplicationDelegate, public Taker {
 public:
  using Taker::Taker;
};

class RecordingMenuDelegate : public NSMenuDelegate {
 public:
  explicit RecordingMenuDelegate(std::vector<std::string>* log) : log(log) {}
  void menuWillOpen(NSMenu& menu) override { log->push_back("will open " + menu.title()); }
  void menuDidClose(NSMenu& menu) override { log->push_back("did close " + menu.title()); }
  std::vector<std::string>* log;
};

std::shared_ptr<NSEvent> key(const std::string& characters, NSEventModifierFlags flags) {
  return NSEvent::keyEventWithType(NSEventTypeKeyDown, flags, characters, characters, 4);
}

class MenuTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetProcessState();
    app = NSApplication::shared();
    // The chain: a text view inside a container inside the key window,
    // the window's delegate, the application and its delegate.
    window = std::make_shared<NSWindow>(NSMakeRect(0, 0, 200, 200),
                                        NSWindowStyleMaskTitled | NSWindowStyleMaskClosable);
    container = std::make_shared<TakingView>("container", std::vector<std::string>{"copy:", "paste:"}, &log);
    field = std::make_shared<TakingView>("field", std::vector<std::string>{"copy:"}, &log);
    auto content = std::make_shared<NSView>(NSMakeRect(0, 0, 200, 200));
    window->setContentView(content);
    content->addSubview(container);
    container->addSubview(field);
    windowDelegate = std::make_shared<TakingWindowDelegate>(
        "window delegate", std::vector<std::string>{"paste:", "performClose:", "zoom:"}, &log);
    window->setDelegate(windowDelegate);
    appDelegate = std::make_shared<TakingApplicationDelegate>(
        "app delegate", std::vector<std::string>{"zoom:", "terminate:", "showAbout"}, &log);
    app->setDelegate(appDelegate);
    NSWorkspace::sharedWorkspace().activateApplication(::getpid());
    window->makeKeyAndOrderFront();
    window->makeFirstResponder(field);
  }
  void TearDown() override { resetProcessState(); }

  // Who takes the selector, by name.
  std::string taker(const std::string& selector, const std::shared_ptr<NSResponder>& target = nullptr) {
    const auto found = app->targetForAction(selector, target);
    if (!found) return "none";
    if (found == field) return "field";
    if (found == container) return "container";
    if (found == window) return "window";
    if (found == windowDelegate) return "window delegate";
    if (found.get() == app.get()) return "application";
    if (found == appDelegate) return "app delegate";
    return "other";
  }

  SimulatedSchedulerScope scope;
  std::shared_ptr<NSApplication> app;
  std::vector<std::string> log;
  std::shared_ptr<NSWindow> window;
  std::shared_ptr<TakingView> container, field;
  std::shared_ptr<TakingWindowDelegate> windowDelegate;
  std::shared_ptr<TakingApplicationDelegate> appDelegate;
};

TEST_F(MenuTest, AnActionWithoutATargetGoesToTheFirstOfTheResponderChainThatTakesIt) {
  struct Case {
    const char* selector;
    const char* taker;
  };
  const Case cases[] = {
      {"copy:", "field"},                  // the first responder
      {"paste:", "container"},             // up its superviews, before the window's delegate
      {"performClose:", "window"},         // the window has a close button, ahead of its delegate
      {"zoom:", "window delegate"},        // ahead of the application's delegate
      {"terminate:", "application"},       // ahead of the application's delegate
      {"hideOtherApplications:", "application"},
      {"showAbout", "app delegate"},
      {"performMiniaturize:", "none"},     // no miniaturise button, and no one else
      {"selectAll:", "none"},
      {"", "none"},
  };
  for (const auto& c : cases) EXPECT_EQ(taker(c.selector), c.taker) << c.selector;

  // Without a key window the chain starts at the application.
  window->orderOut();
  EXPECT_EQ(taker("copy:"), "none");
  EXPECT_EQ(taker("zoom:"), "app delegate");
  EXPECT_EQ(taker("terminate:"), "application");

  // A target is asked alone: it takes the action or nothing does.
  auto target = std::make_shared<Taker>("target", std::vector<std::string>{"showAbout"}, &log);
  EXPECT_EQ(taker("showAbout", target), "other");
  EXPECT_EQ(taker("terminate:", target), "none");
  EXPECT_TRUE(app->sendAction("showAbout", target, nullptr));
  EXPECT_FALSE(app->sendAction("terminate:", target, nullptr));
  EXPECT_EQ(log, (std::vector<std::string>{"target showAbout"}));
  EXPECT_FALSE(app->isRunning());
}

TEST_F(MenuTest, ValidationEnablesExactlyWhatSomeoneTakesAndAsksThatResponder) {
  auto menu = std::make_shared<NSMenu>("Edit");
  auto copy = NSMenuItem::make("Copy", "copy:", "c");
  auto selectAll = NSMenuItem::make("Select all", "selectAll:", "a");
  auto about = NSMenuItem::make("About", "showAbout");
  auto noAction = NSMenuItem::make("Nothing");
  auto holder = NSMenuItem::make("Holder");
  holder->setSubmenu(std::make_shared<NSMenu>("Sub"));
  auto gone = NSMenuItem::make("Gone target", "showAbout");
  {
    auto shortLived = std::make_shared<Taker>("short", std::vector<std::string>{"showAbout"}, &log);
    gone->setTarget(shortLived);
  }
  for (const auto& item : {copy, selectAll, about, NSMenuItem::separatorItem(), noAction, holder, gone}) {
    menu->addItem(item);
  }
  appDelegate->checked = true;
  menu->update();
  struct Case {
    const std::shared_ptr<NSMenuItem>& item;
    bool enabled;
    NSControlStateValue state;
  };
  const Case cases[] = {
      {copy, true, NSControlStateValue::off},          // the field takes it, not checked
      {selectAll, false, NSControlStateValue::off},    // nothing takes it
      {about, true, NSControlStateValue::on},          // the application's delegate validated it
      {noAction, false, NSControlStateValue::off},
      {holder, true, NSControlStateValue::off},
      {gone, true, NSControlStateValue::on},           // a target that is gone leaves the chain
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.item->isEnabled(), c.enabled) << c.item->title();
    EXPECT_EQ(c.item->state(), c.state) << c.item->title();
  }
  EXPECT_FALSE(menu->items()[3]->isEnabled());

  // The responder's answer disables it; without autoenabling nothing changes.
  appDelegate->allows = false;
  menu->update();
  EXPECT_FALSE(about->isEnabled());
  appDelegate->allows = true;
  menu->setAutoenablesItems(false);
  menu->update();
  EXPECT_FALSE(about->isEnabled());
  EXPECT_THROW(std::make_shared<NSMenu>()->addItem(copy), std::logic_error);
}

TEST_F(MenuTest, OpeningTellsValidatesAndTracksChoosingClosesBeforeTheActionRuns) {
  const void* tracked = nullptr;
  std::vector<NotificationToken> tokens;
  for (const auto& name : {NSMenuDidBeginTrackingNotification, NSMenuDidEndTrackingNotification}) {
    tokens.push_back(NSNotificationCenter::defaultCenter().addObserverForName(
        name, nullptr, nullptr, [&, name](const NSNotification& note) {
          log.push_back(note.object == tracked ? name : "another object");
        }));
  }
  auto menu = std::make_shared<NSMenu>("Status");
  tracked = menu.get();
  auto delegate = std::make_shared<RecordingMenuDelegate>(&log);
  menu->setDelegate(delegate);
  auto about = NSMenuItem::make("About", "showAbout");
  auto missing = NSMenuItem::make("Missing", "selectAll:");
  menu->addItem(about);
  menu->addItem(missing);
  appDelegate->allows = false;  // validation happens at opening
  menu->open();
  EXPECT_TRUE(menu->isOpen());
  EXPECT_FALSE(about->isEnabled());
  menu->open();  // already open: nothing more
  EXPECT_FALSE(menu->performActionForItemAtIndex(0));  // closes, and sends nothing
  EXPECT_FALSE(menu->isOpen());

  appDelegate->allows = true;
  menu->open();
  EXPECT_TRUE(menu->performActionForItemAtIndex(0));
  menu->open();
  EXPECT_FALSE(menu->performActionForItemAtIndex(1));  // nothing takes it
  menu->open();
  EXPECT_FALSE(menu->performActionForItemAtIndex(7));  // no such item: stays open
  EXPECT_TRUE(menu->isOpen());
  menu->cancelTrackingWithoutAnimation();
  menu->cancelTrackingWithoutAnimation();  // closed already: nothing more
  EXPECT_FALSE(menu->isOpen());

  const std::string begin = NSMenuDidBeginTrackingNotification, end = NSMenuDidEndTrackingNotification;
  EXPECT_EQ(log, (std::vector<std::string>{"will open Status", begin, "did close Status", end,  // disabled
                                           "will open Status", begin, "did close Status", end,
                                           "app delegate showAbout",  // after the menu closed
                                           "will open Status", begin, "did close Status", end,
                                           "will open Status", begin, "did close Status", end}));
}

TEST_F(MenuTest, CommandKeysTheWindowDeclinesGoToTheMainMenuByExactModifiersBeforeAnyKeyDown) {
  auto bar = std::make_shared<NSMenu>();
  auto appMenu = std::make_shared<NSMenu>("vurle");
  auto holder = NSMenuItem::make("vurle");
  holder->setSubmenu(appMenu);
  bar->addItem(holder);
  auto hide = NSMenuItem::make("Hide", "hide:", "h");
  auto hideOthers = NSMenuItem::make("Hide Others", "hideOtherApplications:", "h");
  hideOthers->setKeyEquivalentModifierMask(NSEventModifierFlagOption | NSEventModifierFlagCommand);
  auto about = NSMenuItem::make("About", "showAbout", "i");
  auto missing = NSMenuItem::make("Select all", "selectAll:", "a");
  for (const auto& item : {hide, hideOthers, about, missing}) appMenu->addItem(item);
  app->setMainMenu(bar);
  // A button in the window with its own Command-B.
  auto button = NSButton::buttonWithTitle("Bold", [&] { log.push_back("button"); });
  button->setKeyEquivalent("b");
  button->setKeyEquivalentModifierMask(NSEventModifierFlagCommand);
  window->contentView()->addSubview(button);

  const NSEventModifierFlags cmd = NSEventModifierFlagCommand, opt = NSEventModifierFlagOption;
  struct Case {
    const char* name;
    std::string characters;
    NSEventModifierFlags flags;
    std::vector<std::string> heard;
    bool hidden;
  };
  const Case cases[] = {
      {"Command-H hides", "h", cmd, {}, true},
      {"Option-Command-H hides the others only", "h", opt | cmd, {}, false},
      {"Shift-Command-H matches nothing", "h", NSEventModifierFlagShift | cmd, {"field keyDown h"}, false},
      {"the window's own equivalent comes first", "b", cmd, {"button"}, false},
      {"a menu item to the application's delegate", "i", cmd, {"app delegate showAbout"}, false},
      {"a disabled item leaves the key to the responders", "a", cmd, {"field keyDown a"}, false},
      {"no Command: the menu is not asked", "h", 0, {"field keyDown h"}, false},
  };
  NSRunningApplication* other = nullptr;
  auto launched = NSWorkspace::sharedWorkspace().launchApplication(4242, "com.example.other", "Other");
  other = launched.get();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    log.clear();
    app->unhide(nullptr);
    other->unhide();
    window->makeKeyAndOrderFront();
    window->makeFirstResponder(field);
    app->sendEvent(key(c.characters, c.flags));
    EXPECT_EQ(log, c.heard);
    EXPECT_EQ(app->isHidden(), c.hidden);
    EXPECT_EQ(other->isHidden(), c.name == std::string("Option-Command-H hides the others only"));
  }

  // With no key window a Command key still reaches the menu bar.
  log.clear();
  window->orderOut();
  app->sendEvent(key("i", cmd));
  EXPECT_EQ(log, (std::vector<std::string>{"app delegate showAbout"}));
  // Show All brings every application back.
  app->hide(nullptr);
  other->hide();
  app->performAction("unhideAllApplications:", nullptr);
  EXPECT_FALSE(app->isHidden());
  EXPECT_FALSE(other->isHidden());
}

TEST_F(MenuTest, StatusItemsLiveUntilRemovedAndAClickOpensTheirMenu) {
  auto& bar = NSStatusBar::systemStatusBar();
  auto first = bar.statusItemWithLength(26);
  auto second = bar.statusItemWithLength(NSVariableStatusItemLength);
  EXPECT_EQ(bar.items(), (std::vector<std::shared_ptr<NSStatusItem>>{first, second}));
  EXPECT_EQ(first->length(), 26);
  first->button()->setAccessibilityLabel("vurle menu");
  EXPECT_EQ(first->button()->accessibilityLabel(), "vurle menu");

  auto menu = std::make_shared<NSMenu>("Status");
  auto delegate = std::make_shared<RecordingMenuDelegate>(&log);
  menu->setDelegate(delegate);
  first->setMenu(menu);
  EXPECT_TRUE(first->performClick());
  EXPECT_TRUE(menu->isOpen());
  menu->cancelTracking();
  // Without a menu the click goes to the button's action.
  second->button()->setAction([&] { log.push_back("button"); });
  EXPECT_TRUE(second->performClick());

  bar.removeStatusItem(first);
  bar.removeStatusItem(first);  // removed already
  EXPECT_FALSE(first->isInStatusBar());
  EXPECT_FALSE(first->performClick());
  EXPECT_EQ(bar.items(), (std::vector<std::shared_ptr<NSStatusItem>>{second}));
  EXPECT_EQ(log, (std::vector<std::string>{"will open Status", "did close Status", "button"}));
  resetProcessState();
  EXPECT_TRUE(NSStatusBar::systemStatusBar().items().empty());
}

TEST(MenuPictureTest, KeyEquivalentsShowTheirModifiersInThePlatformsOrder) {
  struct Case {
    std::string key;
    NSEventModifierFlags mask;
    std::string shown;
  };
  const Case cases[] = {
      {"h", NSEventModifierFlagCommand, "\u2318H"},
      {"h", NSEventModifierFlagOption | NSEventModifierFlagCommand, "\u2325\u2318H"},
      {"q", NSEventModifierFlagCommand | NSEventModifierFlagShift | NSEventModifierFlagControl, "\u2303\u21E7\u2318Q"},
      {"", NSEventModifierFlagCommand, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(keyEquivalentDisplay(c.key, c.mask), c.shown) << c.key;

  // Each row and separator takes its room; a wider title widens the panel.
  auto menu = std::make_shared<NSMenu>();
  menu->addItem(NSMenuItem::make("Quit", "terminate:", "q"));
  const CGSize one = menu->pictureSize();
  menu->addItem(NSMenuItem::separatorItem());
  menu->addItem(NSMenuItem::make("A much longer title than the others", "terminate:"));
  const CGSize three = menu->pictureSize();
  EXPECT_EQ(three.height - one.height, 22 + 11);
  EXPECT_GT(three.width, one.width);
  EXPECT_FALSE(menu->writePNG("/nonexistent-folder/menu.png", 1));
  EXPECT_FALSE(menu->writePNG("/tmp/menu.png", 0));
}

}  // namespace
}  // namespace platform
