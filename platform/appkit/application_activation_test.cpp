#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/appkit/apple_event.hpp"
#include "platform/appkit/application.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/foundation/foreign_pid.hpp"
#include "platform/foundation/process_wide.hpp"

namespace platform {
namespace {

class ActivationDelegate : public NSApplicationDelegate {
 public:
  void applicationDidBecomeActive(const NSNotification&) override { calls.push_back("active"); }
  void applicationDidResignActive(const NSNotification&) override { calls.push_back("resign"); }
  void applicationDidHide(const NSNotification&) override { calls.push_back("hide"); }
  std::vector<std::string> calls;
};

class ApplicationActivationTest : public ::testing::Test {
 protected:
  void SetUp() override { resetProcessState(); }
  void TearDown() override { resetProcessState(); }
  SimulatedSchedulerScope scope;
};

TEST_F(ApplicationActivationTest, TheDelegateHearsOfEachActivationChangeAndOfHiding) {
  auto app = NSApplication::shared();
  auto delegate = std::make_shared<ActivationDelegate>();
  app->setDelegate(delegate);
  // Views hear of the same changes on the default centre, after the delegate.
  std::vector<std::string> posted;
  std::vector<NotificationToken> observers;
  for (const NSNotificationName& name : {NSApplicationDidBecomeActiveNotification, NSApplicationDidResignActiveNotification}) {
    observers.push_back(NSNotificationCenter::defaultCenter().addObserverForName(
        name, app.get(), nullptr, [&, name](const NSNotification&) {
          posted.push_back(name + " after " + (delegate->calls.empty() ? "" : delegate->calls.back()));
        }));
  }
  auto& workspace = NSWorkspace::sharedWorkspace();
  workspace.launchApplication(foreignPid(4242), "com.example.other", "Other");

  app->activateIgnoringOtherApps(true);
  app->activateIgnoringOtherApps(true);  // already frontmost: no second call
  workspace.activateApplication(foreignPid(4242));
  workspace.activateApplication(foreignPid(4242));
  workspace.activateApplication(::getpid());
  app->hide(nullptr);
  app->hide(nullptr);
  EXPECT_TRUE(app->isHidden());
  EXPECT_EQ(delegate->calls, (std::vector<std::string>{"active", "resign", "active", "hide"}));
  EXPECT_EQ(posted, (std::vector<std::string>{"NSApplicationDidBecomeActiveNotification after active",
                                              "NSApplicationDidResignActiveNotification after resign",
                                              "NSApplicationDidBecomeActiveNotification after active"}));
}

// The launch event is current exactly while the delegate finishes launching.
class LaunchEventDelegate : public NSApplicationDelegate {
 public:
  void applicationDidFinishLaunching(const NSNotification&) override {
    seen = NSAppleEventManager::sharedAppleEventManager().currentAppleEvent();
    NSApplication::shared()->terminate(nullptr);
  }
  std::optional<NSAppleEventDescriptor> seen;
};

TEST_F(ApplicationActivationTest, TheLaunchEventIsCurrentWhileLaunching) {
  NSAppleEventDescriptor event(kAEOpenApplication);
  event.setParamEnumCode(keyAEPropData, keyAELaunchedAsLogInItem);
  NSAppleEventManager::sharedAppleEventManager().setLaunchEvent(event);
  auto delegate = std::make_shared<LaunchEventDelegate>();
  NSApplication::shared()->setDelegate(delegate);
  NSApplication::shared()->run();
  ASSERT_TRUE(delegate->seen.has_value());
  EXPECT_EQ(delegate->seen->paramEnumCodeForKeyword(keyAEPropData), keyAELaunchedAsLogInItem);
  EXPECT_FALSE(NSAppleEventManager::sharedAppleEventManager().currentAppleEvent().has_value());
}

TEST_F(ApplicationActivationTest, PolicyMenusAndTheLaunchEventAreKept) {
  auto app = NSApplication::shared();
  EXPECT_EQ(app->activationPolicy(), NSApplicationActivationPolicy::regular);
  EXPECT_TRUE(app->setActivationPolicy(NSApplicationActivationPolicy::accessory));
  EXPECT_EQ(app->activationPolicy(), NSApplicationActivationPolicy::accessory);

  auto menu = std::make_shared<NSMenu>();
  auto windows = std::make_shared<NSMenu>("Window");
  menu->addItem(NSMenuItem::make("Window"));
  menu->itemWithTitle("Window")->setSubmenu(windows);
  app->setMainMenu(menu);
  app->setWindowsMenu(windows);
  EXPECT_EQ(app->mainMenu()->items().front()->submenu(), app->windowsMenu());
  EXPECT_EQ(windows->supermenu(), menu);

  EXPECT_EQ(fourCharCode("oapp"), 0x6f617070u);
  NSAppleEventDescriptor event(kAEOpenApplication);
  EXPECT_EQ(event.paramEnumCodeForKeyword(keyAEPropData), std::nullopt);
  event.setParamEnumCode(keyAEPropData, keyAELaunchedAsLogInItem);
  NSAppleEventManager::sharedAppleEventManager().setLaunchEvent(event);
  resetProcessState();
  EXPECT_FALSE(NSAppleEventManager::sharedAppleEventManager().launchEvent().has_value());
  EXPECT_EQ(NSApplication::shared()->activationPolicy(), NSApplicationActivationPolicy::regular);
}

}  // namespace
}  // namespace platform
