#include "app/app_delegate.hpp"

#include "app/login_item.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "cursor/engine/cursor_engine.hpp"
#include "cursor/native/trace_test_support.hpp"
#include "platform/accessibility/accessibility_server.hpp"
#include "platform/appkit/apple_event.hpp"
#include "platform/appkit/button.hpp"
#include "platform/appkit/display_link.hpp"
#include "platform/appkit/menu.hpp"
#include "platform/appkit/status_bar.hpp"
#include "platform/appkit/screen.hpp"
#include "platform/appkit/visual_effect_view.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/bundle/bundle.hpp"
#include "platform/notify/notify.hpp"
#include "platform/windowserver/cursor_state.hpp"
#include "platform/dispatch/run_loop.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/foundation/log.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/ui/drawing.hpp"

namespace vurle {
namespace {

namespace fs = std::filesystem;
using platform::PropertyListDictionary;

constexpr const char* kRelease = VURLE_RELEASE_BUNDLE_IDENTIFIER;

class MigrationTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::resetProcessState(); }

  // Runs the migration and counts the writes it made.
  int migrate(const std::string& current) {
    int writes = 0;
    auto token = platform::NSNotificationCenter::defaultCenter().addObserverForName(
        platform::NSUserDefaultsDidChangeNotification, defaults.get(), nullptr,
        [&](const platform::NSNotification&) { ++writes; });
    AppDelegate::migrateAppIdentity(*defaults, current, "mirt.vurle");
    return writes;
  }
  PropertyListDictionary domain(const char* name) const {
    return defaults->persistentDomainForName(name).value_or(PropertyListDictionary{});
  }

  std::shared_ptr<platform::NSUserDefaults> defaults = platform::NSUserDefaults::makeInMemory(kRelease);
};

TEST_F(MigrationTest, CopiesMissingKeysOnceAndNeverOverwrites) {
  const PropertyListDictionary legacy{{"hideDock", true}, {"showMenuBar", false}, {"transitionMilliseconds", 90}};
  defaults->setPersistentDomain(legacy, "mirt.vurle");
  defaults->setPersistentDomain({{"hideDock", false}}, kRelease);
  EXPECT_EQ(migrate(kRelease), 1);
  EXPECT_EQ(domain(kRelease), (PropertyListDictionary{{"hideDock", false},
                                                      {"showMenuBar", false},
                                                      {"transitionMilliseconds", 90},
                                                      {"appIdentityMigration.v1", true}}));
  EXPECT_EQ(domain("mirt.vurle"), legacy);  // the legacy domain is left as it was

  // A second launch copies nothing, even keys the legacy domain gained since.
  defaults->setPersistentDomain({{"pauseInGameMode", true}}, "mirt.vurle");
  EXPECT_EQ(migrate(kRelease), 0);
  EXPECT_FALSE(domain(kRelease).contains("pauseInGameMode"));
}

TEST_F(MigrationTest, AnyMarkerValueMeansTheMigrationRan) {
  defaults->setPersistentDomain({{"showMenuBar", true}}, "mirt.vurle");
  defaults->setPersistentDomain({{"appIdentityMigration.v1", false}}, kRelease);
  EXPECT_EQ(migrate(kRelease), 0);
  EXPECT_EQ(domain(kRelease), (PropertyListDictionary{{"appIdentityMigration.v1", false}}));
}

TEST_F(MigrationTest, WithoutALegacyDomainTheMarkerIsStillWritten) {
  EXPECT_EQ(migrate(kRelease), 1);
  EXPECT_EQ(domain(kRelease), (PropertyListDictionary{{"appIdentityMigration.v1", true}}));
}

TEST_F(MigrationTest, OtherIdentifiersNeverMigrate) {
  defaults->setPersistentDomain({{"hideDock", true}}, "mirt.vurle");
  for (const std::string current : {"", "mirt.vurle.app.debug", "Mirt.Vurle.App", "mirt.vurle"}) {
    EXPECT_EQ(migrate(current), 0) << current;
  }
  EXPECT_FALSE(defaults->persistentDomainForName("mirt.vurle.app.debug").has_value());
  EXPECT_FALSE(defaults->persistentDomainForName("Mirt.Vurle.App").has_value());
  EXPECT_FALSE(defaults->persistentDomainForName(kRelease).has_value());
  EXPECT_EQ(domain("mirt.vurle"), (PropertyListDictionary{{"hideDock", true}}));
}

// The whole start-up over a real bundle and settings folder, under the
// simulated scheduler; a timer plays the user quitting.
class EntryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::resetProcessState();
    fs::create_directories(root / "bundle");
    std::ofstream(root / "bundle" / "Info.json") << R"({"CFBundleIdentifier": ")" << kRelease << R"("})";
    if (const char* value = std::getenv("XDG_CONFIG_HOME")) savedConfig = value;
    ::setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
    platform::NSBundle::setMainBundlePath(root / "bundle");
  }
  void TearDown() override {
    savedConfig ? ::setenv("XDG_CONFIG_HOME", savedConfig->c_str(), 1) : ::unsetenv("XDG_CONFIG_HOME");
    platform::resetProcessState();
    fs::remove_all(root);
  }

  const fs::path root = fs::temp_directory_path() / ("vurle-entry-" + std::to_string(::getpid()));
  std::optional<std::string> savedConfig;
  platform::SimulatedSchedulerScope scope;
};

TEST_F(EntryTest, MigratesRunsWithItsDelegateAndReturnsWhenTerminated) {
  platform::NSUserDefaults::make("ignored", root / "config" / "vurle")
      ->setPersistentDomain({{"showMenuBar", false}}, "mirt.vurle");

  std::shared_ptr<AppDelegate> during;
  auto quit = platform::NSTimer::scheduledTimer(2.0, false, [&](platform::NSTimer&) {
    during = std::dynamic_pointer_cast<AppDelegate>(platform::NSApplication::shared()->delegate());
    platform::NSApplication::shared()->terminate(nullptr);
  });
  platform::LogCapture quiet;  // the renderer may report that no GPU is present
  AppDelegate::main();

  ASSERT_NE(during, nullptr);
  EXPECT_FALSE(during->preferences()->showMenuBar());  // carried over before the preferences were read
  during.reset();
  EXPECT_EQ(platform::NSApplication::shared()->delegate(), nullptr);  // the entry kept it alive, no one else
  EXPECT_FALSE(platform::NSApplication::shared()->isRunning());

  // A new store over the same folder sees what start-up wrote.
  auto saved = platform::NSUserDefaults::make(kRelease, root / "config" / "vurle")->persistentDomainForName(kRelease);
  ASSERT_TRUE(saved.has_value());
  EXPECT_EQ(saved->at("appIdentityMigration.v1"), platform::PropertyListValue(true));
  EXPECT_EQ(saved->at("showMenuBar"), platform::PropertyListValue(false));
  EXPECT_NE(saved->at("pauseShortcut").data(), nullptr);
  EXPECT_NE(saved->at("settingsShortcut").data(), nullptr);
}


// ---- the delegate over fakes of the later windows and controllers ----

using platform::NSApplication;
using platform::NSApplicationActivationPolicy;
using Policy = NSApplicationActivationPolicy;

class FakeAgreement : public AgreementGate {
 public:
  bool accepted() const override { return accepted_.value(); }
  platform::Publisher<bool> acceptedPublisher() const override { return accepted_.publisher(); }
  void presentSheet(const std::shared_ptr<platform::NSWindow>& window) override { sheetsOn.push_back(window); }
  void setAccepted(bool accepted) { accepted_.set(accepted); }
  std::vector<std::shared_ptr<platform::NSWindow>> sheetsOn;

 private:
  platform::Published<bool> accepted_{false};
};

struct FakeExamples : SpeedExamples {
  void start() override { playing = true, ++starts; }
  void stop() override { playing = false; }
  bool playing = false;
  int starts = 0;
};

struct FakeOnboarding : OnboardingController {
  int step() const override { return currentStep; }
  void finish() override { ++finishes; }
  void restart() override { ++restarts; }
  void refreshAccessibility() override { ++accessibilityReads; }
  int currentStep = 0, finishes = 0, restarts = 0, accessibilityReads = 0;
  std::function<void()> reviewAgreement, enableAnimations;
};

struct FakeUpdates : UpdateController {
  bool isPresentingUpdate() const override { return presenting.value(); }
  platform::Publisher<bool> isPresentingUpdatePublisher() const override { return presenting.publisher(); }
  bool canCheckForUpdates() const override { return canCheck.value(); }
  platform::Publisher<bool> canCheckForUpdatesPublisher() const override { return canCheck.publisher(); }
  void start() override { ++starts; }
  void checkForUpdates(bool inButton) override { checks.push_back(inButton); }
  platform::Published<bool> presenting{false};
  platform::Published<bool> canCheck{false};
  int starts = 0;
  std::vector<bool> checks;
};

struct FakeShortcuts : ShortcutController {
  void tearDown() override { ++tearDowns; }
  int tearDowns = 0;
  std::function<void(ShortcutAction)> perform;
};

// The delegate over fakes of the later windows and controllers, on the
// simulated desktop with the settings in a temporary folder.
class DelegateTest : public TraceRecordingTest {
 protected:
  void SetUp() override {
    TraceRecordingTest::SetUp();
    if (const char* value = std::getenv("XDG_CONFIG_HOME")) savedConfig = value;
    ::setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
    platform::AccessibilityServer::shared().setProcessTrusted(true);
    platform::NSScreen::setScreens({platform::NSScreen::make(platform::CGRectMake(0, 0, 1440, 900), 2.0)});
    seams.agreement = agreement;
    seams.makeOnboarding = [this](auto, auto, std::function<void()> review, std::function<void()> enable) {
      onboarding->reviewAgreement = std::move(review);
      onboarding->enableAnimations = std::move(enable);
      return onboarding;
    };
    seams.makeInlineExamples = [this] { return inlineExamples; };
    seams.makeWelcomeExamples = [this] { return welcomeExamples; };
    seams.updates = updates;
    seams.makeShortcutController = [this](auto, std::function<void(ShortcutAction)> perform) {
      shortcuts->perform = std::move(perform);
      return shortcuts;
    };
    seams.makeAboutWindow = [this] {
      ++aboutWindowsMade;
      return platform::NSWindowController::make(
          std::make_shared<platform::NSWindow>(platform::NSMakeRect(0, 0, 300, 200), platform::NSWindowStyleMaskTitled));
    };
    seams.presentBugReport = [this](const auto& window) { bugReportsOver.push_back(window); };
    seams.cancelCursorTest = [this] { ++cursorTestsCancelled; };
  }
  void TearDown() override {
    if (delegate) {
      NSApplication::shared()->terminate(nullptr);
      delegate.reset();
    }
    scope->advance(1);
    EXPECT_EQ(platform::CursorState::shared().outstandingHides(), 0);
    EXPECT_TRUE(platform::CursorState::shared().cursorIsVisible());
    savedConfig ? ::setenv("XDG_CONFIG_HOME", savedConfig->c_str(), 1) : ::unsetenv("XDG_CONFIG_HOME");
    TraceRecordingTest::TearDown();
    fs::remove_all(root);
  }

  // Launches with the event given (none: an ordinary launch), as the
  // application does, and lets the first values arrive.
  void launch(std::optional<platform::NSAppleEventDescriptor> event = std::nullopt) {
    delegate = std::make_shared<AppDelegate>(seams);
    NSApplication::shared()->setDelegate(delegate);
    platform::NSAppleEventManager::sharedAppleEventManager().setCurrentAppleEvent(event);
    delegate->applicationDidFinishLaunching(platform::NSNotification{"NSApplicationDidFinishLaunchingNotification", nullptr, {}});
    platform::NSAppleEventManager::sharedAppleEventManager().setCurrentAppleEvent(std::nullopt);
    scope->runUntilIdle();
  }
  static platform::NSAppleEventDescriptor loginItemEvent() {
    platform::NSAppleEventDescriptor event(platform::kAEOpenApplication);
    event.setParamEnumCode(platform::keyAEPropData, platform::keyAELaunchedAsLogInItem);
    return event;
  }
  const std::shared_ptr<AppPreferences>& preferences() const { return delegate->preferences(); }
  // Settings written before launch, as a previous run would have left them.
  static void store(const char* key, bool value) {
    platform::NSUserDefaults::standardUserDefaults()->setBool(value, key);
  }
  platform::NSNotification about(const std::shared_ptr<platform::NSWindow>& window) const {
    return platform::NSNotification{"", window.get(), {}};
  }

  platform::SimulatedSchedulerScope scope;
  const fs::path root = fs::temp_directory_path() / ("vurle-delegate-" + std::to_string(::getpid()));
  std::optional<std::string> savedConfig;
  platform::LogCapture quiet;
  std::shared_ptr<FakeAgreement> agreement = std::make_shared<FakeAgreement>();
  std::shared_ptr<FakeOnboarding> onboarding = std::make_shared<FakeOnboarding>();
  std::shared_ptr<FakeExamples> inlineExamples = std::make_shared<FakeExamples>();
  std::shared_ptr<FakeExamples> welcomeExamples = std::make_shared<FakeExamples>();
  std::shared_ptr<FakeUpdates> updates = std::make_shared<FakeUpdates>();
  std::shared_ptr<FakeShortcuts> shortcuts = std::make_shared<FakeShortcuts>();
  int aboutWindowsMade = 0;
  int cursorTestsCancelled = 0;
  std::vector<std::shared_ptr<platform::NSWindow>> bugReportsOver;
  ShellSeams seams;
  std::shared_ptr<AppDelegate> delegate;
};

TEST(LaunchDecisionTest, ASilentLaunchIsALoginItemsWithTheAgreementAcceptedAndSomePresenceLeft) {
  struct Case {
    bool loginItem, accepted, showMenuBar, hideDock;
    bool silent;
    Policy policy;
  };
  const Case cases[] = {
      {false, false, false, false, false, Policy::regular}, {false, false, false, true, false, Policy::regular},
      {false, false, true, false, false, Policy::regular},  {false, false, true, true, false, Policy::regular},
      {false, true, false, false, false, Policy::regular},  {false, true, false, true, false, Policy::regular},
      {false, true, true, false, false, Policy::regular},   {false, true, true, true, false, Policy::regular},
      {true, false, false, false, false, Policy::regular},  {true, false, false, true, false, Policy::regular},
      {true, false, true, false, false, Policy::regular},   {true, false, true, true, false, Policy::regular},
      {true, true, false, false, true, Policy::regular},    {true, true, false, true, false, Policy::regular},
      {true, true, true, false, true, Policy::regular},     {true, true, true, true, true, Policy::accessory},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(AppDelegate::decideLaunch(c.loginItem, c.accepted, c.showMenuBar, c.hideDock),
              (AppDelegate::LaunchDecision{c.silent, c.policy}))
        << c.loginItem << c.accepted << c.showMenuBar << c.hideDock;
  }
}

TEST_F(DelegateTest, OnlyAnOpenApplicationEventMarkedAsALoginItemIsOne) {
  platform::NSAppleEventDescriptor unmarked(platform::kAEOpenApplication);
  platform::NSAppleEventDescriptor otherCode(platform::kAEOpenApplication);
  otherCode.setParamEnumCode(platform::keyAEPropData, platform::fourCharCode("xxxx"));
  platform::NSAppleEventDescriptor otherEvent(platform::fourCharCode("odoc"));
  otherEvent.setParamEnumCode(platform::keyAEPropData, platform::keyAELaunchedAsLogInItem);
  const std::pair<std::optional<platform::NSAppleEventDescriptor>, bool> cases[] = {
      {std::nullopt, false}, {unmarked, false}, {otherCode, false}, {otherEvent, false}, {loginItemEvent(), true}};
  auto& manager = platform::NSAppleEventManager::sharedAppleEventManager();
  for (const auto& [event, expected] : cases) {
    manager.setCurrentAppleEvent(event);
    EXPECT_EQ(AppDelegate::isLoginItemLaunch(), expected);
  }
}

TEST_F(DelegateTest, TheLoginItemMarkIsReadOnceAndCleared) {
  const std::pair<const char*, bool> cases[] = {{nullptr, false}, {"0", false}, {"yes", false}, {"1", true}};
  auto& manager = platform::NSAppleEventManager::sharedAppleEventManager();
  for (const auto& [mark, expected] : cases) {
    mark ? ::setenv("VURLE_LAUNCHED_AS_LOGIN_ITEM", mark, 1) : ::unsetenv("VURLE_LAUNCHED_AS_LOGIN_ITEM");
    manager.setCurrentAppleEvent(AppDelegate::launchEventFromEnvironment());
    EXPECT_EQ(AppDelegate::isLoginItemLaunch(), expected) << (mark ? mark : "unset");
    EXPECT_EQ(std::getenv("VURLE_LAUNCHED_AS_LOGIN_ITEM"), nullptr);
    EXPECT_EQ(manager.currentAppleEvent()->eventID(), platform::kAEOpenApplication);
  }
}

TEST_F(DelegateTest, LoginItemLaunchesOpenTheWindowOnlyWhenNothingElseWouldShow) {
  struct Case {
    const char* name;
    bool accepted, showMenuBar, hideDock;
    Policy policy;
    bool windowOpens;
  };
  const Case cases[] = {
      {"menu-bar item only", true, true, true, Policy::accessory, false},
      {"Dock icon only", true, false, false, Policy::regular, false},
      {"neither would show", true, false, true, Policy::regular, true},
      {"agreement not accepted", false, true, true, Policy::regular, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    store("showMenuBar", c.showMenuBar);
    store("hideDock", c.hideDock);
    agreement->setAccepted(c.accepted);
    launch(loginItemEvent());
    EXPECT_EQ(NSApplication::shared()->activationPolicy(), c.policy);
    EXPECT_EQ(delegate->window()->isVisible(), c.windowOpens);
    EXPECT_EQ(delegate->hasAppFocus(), c.windowOpens);
    EXPECT_EQ(delegate->statusItem() != nullptr, c.showMenuBar);
    NSApplication::shared()->terminate(nullptr);
    delegate.reset();
    platform::resetProcessState();
    platform::AccessibilityServer::shared().setProcessTrusted(true);
    agreement = std::make_shared<FakeAgreement>();
    seams.agreement = agreement;
  }
}

TEST_F(DelegateTest, TheMainWindowIsOneFixedSizeWindowOnAVisualEffectBackground) {
  launch();
  const auto& window = delegate->window();
  EXPECT_EQ(window->styleMask(), 0x8007u);
  EXPECT_EQ(window->backingType(), platform::NSBackingStoreBuffered);
  EXPECT_EQ(window->title(), "vurle");
  EXPECT_EQ(window->titleVisibility(), platform::NSWindowTitleVisibility::hidden);
  EXPECT_TRUE(window->titlebarAppearsTransparent());
  EXPECT_TRUE(window->isMovableByWindowBackground());
  EXPECT_TRUE(window->acceptsMouseMovedEvents());
  EXPECT_FALSE(window->isOpaque());
  EXPECT_EQ(window->backgroundColor()->alphaComponent(), 0);
  EXPECT_FALSE(window->isReleasedWhenClosed());
  EXPECT_EQ(window->minSize(), platform::NSMakeSize(460, 591));
  EXPECT_EQ(window->maxSize(), platform::NSMakeSize(460, 591));
  EXPECT_EQ(window->collectionBehavior(), 0x20200u);
  EXPECT_FALSE(window->standardWindowButton(platform::NSWindowButton::zoomButton)->isEnabled());
  EXPECT_EQ(window->frame(), platform::NSMakeRect(490, 154.5, 460, 591));  // centred on the 1440 × 900 screen
  EXPECT_EQ(window->delegate(), std::static_pointer_cast<platform::NSWindowDelegate>(delegate));

  auto effect = std::dynamic_pointer_cast<platform::NSVisualEffectView>(window->contentView());
  ASSERT_NE(effect, nullptr);
  EXPECT_EQ(effect->material(), platform::NSVisualEffectMaterial::sidebar);
  EXPECT_EQ(effect->blendingMode(), platform::NSVisualEffectBlendingMode::withinWindow);
  EXPECT_EQ(effect->state(), platform::NSVisualEffectState::followsWindowActiveState);
  ASSERT_EQ(effect->subviews().size(), 1u);
  const auto& hosting = effect->subviews().front();
  EXPECT_FALSE(hosting->translatesAutoresizingMaskIntoConstraints());
  EXPECT_EQ(hosting->frame(), effect->bounds());
  EXPECT_EQ(effect->constraints().size(), 4u);

  // An ordinary launch shows it, key and in front, with the application active.
  EXPECT_TRUE(window->isVisible());
  EXPECT_TRUE(window->isKeyWindow());
  EXPECT_TRUE(NSApplication::shared()->isActive());
  EXPECT_EQ(NSApplication::shared()->windowsMenu()->title(), "Window");
  EXPECT_EQ(NSApplication::shared()->helpMenu()->title(), "Help");
}


TEST_F(DelegateTest, EachWindowAndApplicationCallbackDoesItsPart) {
  store("hideDock", true);
  agreement->setAccepted(true);
  launch();
  auto window = delegate->window();
  auto application = NSApplication::shared();
  struct Case {
    const char* name;
    std::function<void()> call;
    bool focus;
    bool policyNow;       // the Dock-icon policy decided at once
    bool policyLater;     // decided on the next pass (the window is open)
    bool examplesStopped;
    bool cursorTestCancelled;
  };
  const Case cases[] = {
      {"became active", [&] { delegate->applicationDidBecomeActive({}); }, true, true, true, false, false},
      // Without focus an open window no longer keeps the Dock icon.
      {"resigned active", [&] { delegate->applicationDidResignActive({}); }, false, false, false, false, false},
      {"hidden", [&] { delegate->applicationDidHide({}); }, false, false, false, false, false},
      {"window became key", [&] { delegate->windowDidBecomeKey(about(window)); }, true, true, true, false, false},
      {"window resigned key", [&] { delegate->windowDidResignKey(about(window)); }, true, false, false, false, true},
      {"window closing", [&] { delegate->windowWillClose(about(window)); }, true, false, true, true, true},
      {"window miniaturised", [&] { delegate->windowDidMiniaturize(about(window)); }, true, false, true, true, true},
      {"another window", [&] { delegate->windowWillClose(about(nullptr)); }, true, false, false, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    delegate->showWindow();  // focus, playing examples and a recording in progress
    preferences()->setRecordingAction(ShortcutAction::pause);
    welcomeExamples->playing = true;
    inlineExamples->playing = true;
    scope->runUntilIdle();
    application->setActivationPolicy(Policy::prohibited);
    const int cancelled = cursorTestsCancelled;
    const int reads = onboarding->accessibilityReads;

    c.call();
    EXPECT_EQ(delegate->hasAppFocus(), c.focus);
    EXPECT_EQ(application->activationPolicy() == Policy::regular, c.policyNow);
    scope->runUntilIdle();
    EXPECT_EQ(application->activationPolicy() == Policy::regular, c.policyLater);
    EXPECT_EQ(!welcomeExamples->playing && !inlineExamples->playing, c.examplesStopped);
    EXPECT_EQ(cursorTestsCancelled > cancelled, c.cursorTestCancelled);
    EXPECT_EQ(preferences()->recordingAction() == std::nullopt, c.cursorTestCancelled);
    // Only activation lets the onboarding read the permission again.
    EXPECT_EQ(onboarding->accessibilityReads > reads, std::string(c.name) == "became active");
  }
}

TEST_F(DelegateTest, ShowingTheWindowRestoresItAndStartsTheExamplesOfThePageShown) {
  launch();
  auto window = delegate->window();
  // Onboarding on its first page: the welcome examples.
  EXPECT_EQ(welcomeExamples->starts, 1);
  EXPECT_EQ(inlineExamples->starts, 0);

  // Reopening brings back a miniaturised window of a hidden application and
  // never lets the system open another.
  window->miniaturize(nullptr);
  scope->advance(platform::NSWindow::miniaturizeDuration);
  EXPECT_FALSE(welcomeExamples->playing);
  NSApplication::shared()->hide(nullptr);
  NSApplication::shared()->setActivationPolicy(Policy::accessory);
  EXPECT_FALSE(NSApplication::shared()->reopen());  // as a second launch or a Dock click asks
  EXPECT_FALSE(window->isMiniaturized());
  EXPECT_FALSE(NSApplication::shared()->isHidden());
  EXPECT_TRUE(window->isKeyWindow());
  EXPECT_EQ(NSApplication::shared()->activationPolicy(), Policy::regular);
  EXPECT_TRUE(welcomeExamples->playing);

  // Settings on the preview tab with the agreement accepted: the inline
  // examples; on another tab, or before the agreement, none.
  struct Case {
    bool showsOnboarding;
    int step;
    bool accepted;
    SettingsTab tab;
    bool welcome, inlinePlayer;
  };
  // Once accepted the agreement stays accepted, so those rows come last.
  const Case cases[] = {
      {true, 0, false, SettingsTab::general, true, false},  {false, 0, false, SettingsTab::preview, false, false},
      {true, 1, true, SettingsTab::preview, false, false},  {false, 0, true, SettingsTab::preview, false, true},
      {false, 0, true, SettingsTab::general, false, false},
  };
  for (const auto& c : cases) {
    welcomeExamples->playing = inlineExamples->playing = false;
    preferences()->setShowsOnboarding(c.showsOnboarding);
    onboarding->currentStep = c.step;
    if (c.accepted) agreement->setAccepted(true);
    preferences()->setSelectedTab(c.tab);
    window->close();
    delegate->showWindow();
    EXPECT_EQ(welcomeExamples->playing, c.welcome);
    EXPECT_EQ(inlineExamples->playing, c.inlinePlayer);
    // Deminiaturising restarts the same player.
    window->miniaturize(nullptr);
    scope->advance(platform::NSWindow::miniaturizeDuration);
    window->deminiaturize(nullptr);
    EXPECT_EQ(welcomeExamples->playing, c.welcome);
    EXPECT_EQ(inlineExamples->playing, c.inlinePlayer);
  }
}

TEST_F(DelegateTest, MenuAndShortcutActions) {
  launch();
  auto window = delegate->window();
  window->close();

  // Before the agreement the animation switch only opens the window.
  shortcuts->perform(ShortcutAction::pause);
  EXPECT_TRUE(window->isVisible());
  EXPECT_FALSE(preferences()->resumeAnimationsOnLaunch());

  // The settings shortcut finishes the onboarding and shows the window.
  window->close();
  shortcuts->perform(ShortcutAction::settings);
  EXPECT_EQ(onboarding->finishes, 1);
  EXPECT_TRUE(window->isVisible());
  delegate->showSettings();
  EXPECT_EQ(onboarding->finishes, 2);

  // The onboarding is not restarted under the agreement's sheet.
  auto sheet = std::make_shared<platform::NSWindow>(platform::NSMakeRect(0, 0, 300, 200), 0);
  window->beginSheet(sheet);
  delegate->showOnboarding();
  EXPECT_EQ(onboarding->restarts, 0);
  window->endSheet(sheet);
  inlineExamples->playing = true;
  preferences()->setRecordingAction(ShortcutAction::settings);
  delegate->showOnboarding();
  EXPECT_EQ(onboarding->restarts, 1);
  EXPECT_FALSE(inlineExamples->playing);
  EXPECT_EQ(preferences()->recordingAction(), std::nullopt);

  // The onboarding's review callback shows the agreement on the main window.
  onboarding->reviewAgreement();
  ASSERT_EQ(agreement->sheetsOn.size(), 1u);
  EXPECT_EQ(agreement->sheetsOn.front(), window);

  // About: one window, reused, in front with the application regular.
  NSApplication::shared()->setActivationPolicy(Policy::accessory);
  delegate->showAbout();
  delegate->showAbout();
  EXPECT_EQ(aboutWindowsMade, 1);
  EXPECT_TRUE(delegate->aboutWindow()->window()->isKeyWindow());
  EXPECT_EQ(NSApplication::shared()->activationPolicy(), Policy::regular);

  delegate->reportBug();
  ASSERT_EQ(bugReportsOver.size(), 1u);
  EXPECT_EQ(bugReportsOver.front(), window);
  EXPECT_TRUE(window->isKeyWindow());
  delegate->checkForUpdates();
  EXPECT_EQ(updates->checks, std::vector<bool>{false});

  // The updater starts once the agreement is accepted and the onboarding is gone.
  agreement->setAccepted(true);
  scope->runUntilIdle();
  EXPECT_EQ(updates->starts, 0);
  preferences()->setShowsOnboarding(false);
  scope->runUntilIdle();
  EXPECT_EQ(updates->starts, 1);
}

TEST_F(DelegateTest, TheEngineRunsByTheSessionsRuleThroughSwitchGameModeSleepAndActivation) {
  store("resumeAnimationsOnLaunch", false);
  store("pauseInGameMode", true);
  launch();
  const auto& engine = delegate->engine();
  EXPECT_FALSE(engine->systemWide());

  // Accepting alone starts nothing; the switch then starts the engine.
  agreement->setAccepted(true);
  scope->runUntilIdle();
  EXPECT_FALSE(engine->systemWide());
  delegate->toggleAnimations();
  scope->runUntilIdle();
  EXPECT_TRUE(preferences()->resumeAnimationsOnLaunch());
  EXPECT_TRUE(engine->systemWide());
  EXPECT_TRUE(engine->enabled());

  // Game Mode pauses it under its preference and lets it run again after.
  platform::NotifyCenter::shared().setState("com.apple.system.console_mode_changed", 1);
  scope->runUntilIdle();
  EXPECT_FALSE(engine->systemWide());
  EXPECT_FALSE(engine->enabled());
  EXPECT_EQ(engine->automaticPauseReason(), "Paused while Game Mode is on.");
  platform::NotifyCenter::shared().setState("com.apple.system.console_mode_changed", 0);
  scope->runUntilIdle();
  EXPECT_TRUE(engine->systemWide());
  EXPECT_EQ(engine->automaticPauseReason(), std::nullopt);

  // The engine turns itself off on sleep; waking brings it back, as does
  // the application becoming active.
  auto& workspace = platform::NSWorkspace::sharedWorkspace();
  workspace.sleep();
  scope->runUntilIdle();
  EXPECT_FALSE(engine->systemWide());
  workspace.wake();
  scope->runUntilIdle();
  EXPECT_TRUE(engine->systemWide());
  workspace.setSessionActive(false);
  scope->runUntilIdle();
  EXPECT_FALSE(engine->systemWide());
  delegate->applicationDidBecomeActive({});
  EXPECT_TRUE(engine->systemWide());
  workspace.setSessionActive(true);
  scope->runUntilIdle();
  EXPECT_TRUE(engine->systemWide());

  // The shortcut flips the switch; pause turns it off whatever it was.
  shortcuts->perform(ShortcutAction::pause);
  scope->runUntilIdle();
  EXPECT_FALSE(engine->systemWide());
  EXPECT_FALSE(preferences()->resumeAnimationsOnLaunch());
  onboarding->enableAnimations();  // the onboarding's request refreshes: nothing to start
  EXPECT_FALSE(engine->systemWide());
  delegate->toggleAnimations();
  scope->runUntilIdle();
  EXPECT_TRUE(engine->systemWide());
  delegate->pause();
  EXPECT_FALSE(engine->systemWide());
  EXPECT_FALSE(engine->enabled());
  EXPECT_FALSE(preferences()->resumeAnimationsOnLaunch());
}

// Paused by the session, the whole application wakes its main run loop at
// most once a second (the Game Mode poll, when pausing in Game Mode), over
// 10 s of virtual time with the display refresh a real run has.
TEST_F(DelegateTest, PausedBySessionTheMainLoopWakesAtMostOnceASecond) {
  auto refresh = platform::CADisplayLink::scheduleRefresh(1.0 / 120.0);
  const auto wakeUpsOver = [this](double seconds) {
    const auto before = scope->mainWakeUps();
    scope->advance(seconds);
    return scope->mainWakeUps() - before;
  };
  for (const bool gameMode : {true, false}) {
    SCOPED_TRACE(gameMode ? "pausing in Game Mode" : "not pausing in Game Mode");
    store("resumeAnimationsOnLaunch", true);
    store("pauseInGameMode", gameMode);
    agreement->setAccepted(true);
    launch();
    ASSERT_TRUE(delegate->engine()->systemWide()) << delegate->engine()->error();
    delegate->pause();
    scope->advance(1);
    const auto wakeUps = wakeUpsOver(10);
    EXPECT_LE(wakeUps, gameMode ? 10u : 0u);
    EXPECT_FALSE(refresh->isTicking());
    RecordProperty(gameMode ? "pausedWakeUpsInGameModeOver10s" : "pausedWakeUpsOver10s", std::to_string(wakeUps));
    NSApplication::shared()->terminate(nullptr);
    delegate.reset();
    platform::resetProcessState();
    platform::AccessibilityServer::shared().setProcessTrusted(true);
    refresh = platform::CADisplayLink::scheduleRefresh(1.0 / 120.0);
  }
  refresh->invalidate();
}

TEST_F(DelegateTest, TerminationDropsTheSessionStopsEverythingAndLeavesTheCursorVisible) {
  store("resumeAnimationsOnLaunch", true);
  agreement->setAccepted(true);
  launch();
  auto engine = delegate->engine();
  ASSERT_TRUE(engine->systemWide());
  welcomeExamples->playing = inlineExamples->playing = true;

  NSApplication::shared()->terminate(nullptr);
  EXPECT_EQ(delegate->animationSession(), nullptr);
  EXPECT_EQ(shortcuts->tearDowns, 1);
  EXPECT_FALSE(engine->systemWide());
  EXPECT_FALSE(engine->enabled());
  EXPECT_FALSE(welcomeExamples->playing || inlineExamples->playing);
  EXPECT_TRUE(platform::CursorState::shared().cursorIsVisible());
  // With the session gone nothing starts the engine again.
  platform::NSWorkspace::sharedWorkspace().wake();
  scope->runUntilIdle();
  EXPECT_FALSE(engine->systemWide());
}


TEST_F(DelegateTest, TheProgramsEntryStartsTheEngineWhenAcceptedAndSwitchedOn) {
  store("resumeAnimationsOnLaunch", true);
  agreement->setAccepted(true);
  bool running = false, windowShown = true;
  auto quit = platform::NSTimer::scheduledTimer(1.0, false, [&](platform::NSTimer&) {
    auto current = std::dynamic_pointer_cast<AppDelegate>(NSApplication::shared()->delegate());
    running = current && current->engine()->systemWide();
    windowShown = current && current->window()->isVisible();
    NSApplication::shared()->terminate(nullptr);
  });
  // A login item's launch: silent, so the engine starts with no window.
  platform::NSAppleEventManager::sharedAppleEventManager().setLaunchEvent(loginItemEvent());
  AppDelegate::main(seams);
  EXPECT_TRUE(running);
  EXPECT_FALSE(windowShown);
}

// The menus' way to launch at login: only a change that waits for
// approval or failed brings the settings page forward, on General.
TEST_F(DelegateTest, ToggleLaunchAtLoginShowsGeneralOnlyWhenApprovalIsNeededOrItFailed) {
  struct Case {
    const char* what;
    int status;  // when the item was last read
    int after;   // what the change leaves
    bool fails;
    bool shown;
    std::optional<int> outside = std::nullopt;  // switched in the system's settings since
  };
  const Case cases[] = {
      {"on", LoginItem::notRegistered, LoginItem::enabledStatus, false, false},
      {"on, waiting for approval", LoginItem::notRegistered, LoginItem::requiresApprovalStatus, false, true},
      {"on, failing", LoginItem::notRegistered, LoginItem::notRegistered, true, true},
      {"off", LoginItem::enabledStatus, LoginItem::notRegistered, false, false},
      {"off from waiting", LoginItem::requiresApprovalStatus, LoginItem::notRegistered, false, false},
      {"off, failing", LoginItem::enabledStatus, LoginItem::enabledStatus, true, true},
      // The toggle reads the status first, so it switches the item off.
      {"off, switched on outside", LoginItem::notRegistered, LoginItem::notRegistered, false, false,
       LoginItem::enabledStatus},
  };
  for (const auto& c : cases) {
    int status = c.status;
    const int after = c.after;
    const bool fails = c.fails;
    auto change = [&status, after, fails]() -> std::optional<platform::NSError> {
      if (fails) return platform::NSError{"test", 1, "No."};
      status = after;
      return std::nullopt;
    };
    seams.loginItem = LoginItem::make({[&status] { return status; }, change, change, [] {}});
    launch();
    delegate->window()->orderOut();
    preferences()->setSelectedTab(SettingsTab::shortcuts);
    onboarding->finishes = 0;
    status = c.outside.value_or(status);
    delegate->toggleLaunchAtLogin();
    EXPECT_EQ(status, c.after) << c.what;
    EXPECT_EQ(delegate->window()->isVisible(), c.shown) << c.what;
    EXPECT_EQ(preferences()->selectedTab(), c.shown ? SettingsTab::general : SettingsTab::shortcuts) << c.what;
    EXPECT_EQ(onboarding->finishes, c.shown ? 1 : 0) << c.what;
    EXPECT_EQ(seams.loginItem->message(), c.fails ? "Couldn’t change launch at login. No." : "") << c.what;
    NSApplication::shared()->terminate(nullptr);
    delegate.reset();
    scope->runUntilIdle();
  }
}


// ---- the menus ----

// One line per item: the path, title, action, key with its modifiers and
// whether the delegate is the target; "---" for a separator.
std::vector<std::string> describe(const platform::NSMenu& menu, const std::shared_ptr<AppDelegate>& delegate,
                                  const std::string& path = "") {
  std::vector<std::string> lines;
  for (const auto& item : menu.items()) {
    if (item->isSeparatorItem()) {
      lines.push_back(path + "---");
      continue;
    }
    const auto target = item->target();
    lines.push_back(path + item->title() + " | " + item->action() + " | " +
                    platform::keyEquivalentDisplay(item->keyEquivalent(), item->keyEquivalentModifierMask()) +
                    (target == nullptr ? "" : target == delegate ? " | delegate" : " | other"));
    if (auto submenu = item->submenu()) {
      for (auto& line : describe(*submenu, delegate, path + submenu->title() + " > ")) lines.push_back(line);
    }
  }
  return lines;
}

std::shared_ptr<platform::NSEvent> commandKey(const std::string& key) {
  return platform::NSEvent::keyEventWithType(platform::NSEventTypeKeyDown, platform::NSEventModifierFlagCommand, key, key, 0);
}

TEST_F(DelegateTest, BothMenusAreBuiltAsTheyAreListed) {
  store("resumeAnimationsOnLaunch", true);
  launch();
  auto application = NSApplication::shared();
  EXPECT_EQ(describe(*application->mainMenu(), delegate),
            (std::vector<std::string>{
                "vurle |  | ",
                "vurle > About vurle | showAbout |  | delegate",
                "vurle > Check for Updates… | checkForUpdates |  | delegate",
                "vurle > ---",
                "vurle > Launch at Login | toggleLaunchAtLogin |  | delegate",
                "vurle > ---",
                "vurle > Hide vurle | hide: | ⌘H",
                "vurle > Hide Others | hideOtherApplications: | ⌥⌘H",
                "vurle > Show All | unhideAllApplications: | ",
                "vurle > ---",
                "vurle > Quit vurle | terminate: | ⌘Q",
                "File |  | ",
                "File > Close | performClose: | ⌘W",
                "Edit |  | ",
                "Edit > Cut | cut: | ⌘X",
                "Edit > Copy | copy: | ⌘C",
                "Edit > Paste | paste: | ⌘V",
                "Edit > Select all | selectAll: | ⌘A",
                "Window |  | ",
                "Window > Minimize | performMiniaturize: | ⌘M",
                "Window > ---",
                "Window > Bring All to Front | arrangeInFront: | ",
                "Help |  | ",
                "Help > Welcome to vurle… | showOnboarding |  | delegate",
                "Help > Report a Bug… | reportBug |  | delegate",
            }));
  EXPECT_EQ(application->windowsMenu(), application->mainMenu()->items()[3]->submenu());
  EXPECT_EQ(application->helpMenu(), application->mainMenu()->items()[4]->submenu());
  // The hide mask is exactly option and command.
  EXPECT_EQ(application->mainMenu()->items()[0]->submenu()->items()[6]->keyEquivalentModifierMask(), 0x180000u);

  const auto& item = delegate->statusItem();
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->button()->accessibilityLabel(), "vurle menu");
  EXPECT_EQ(item->menu()->delegate(), std::static_pointer_cast<platform::NSMenuDelegate>(delegate));
  EXPECT_EQ(describe(*item->menu(), delegate), (std::vector<std::string>{
                                                   "Settings… | showSettings |  | delegate",
                                                   "Pause animations | toggleAnimations |  | delegate",
                                                   "---",
                                                   "Launch at Login | toggleLaunchAtLogin |  | delegate",
                                                   "---",
                                                   "Quit vurle | terminate: | ",
                                               }));
  for (const auto& entry : item->menu()->items()) {
    EXPECT_TRUE(entry->keyEquivalent().empty()) << entry->title();
  }
}

TEST_F(DelegateTest, TheStatusItemLivesExactlyWhileTheMenuBarSettingIsOn) {
  launch();
  auto& bar = platform::NSStatusBar::systemStatusBar();
  const auto first = delegate->statusItem();
  ASSERT_NE(first, nullptr);
  // On twice: still one item.
  preferences()->setShowMenuBar(true);
  scope->runUntilIdle();
  delegate->setStatusItemVisible(true);
  EXPECT_EQ(bar.items(), (std::vector<std::shared_ptr<platform::NSStatusItem>>{first}));

  // Off while its menu is open: the menu closes, both ends are traced,
  // the item goes.
  const auto menu = first->menu();
  EXPECT_TRUE(first->performClick());
  EXPECT_TRUE(menu->isOpen());
  EXPECT_EQ(events("status-menu-open").size(), 1u);
  preferences()->setShowMenuBar(false);
  scope->runUntilIdle();
  EXPECT_FALSE(menu->isOpen());
  EXPECT_EQ(events("status-menu-close").size(), 1u);
  EXPECT_EQ(delegate->statusItem(), nullptr);
  EXPECT_TRUE(bar.items().empty());
  EXPECT_FALSE(first->isInStatusBar());
  // Its title no longer follows the animation switch.
  const std::string before = menu->items()[1]->title();
  preferences()->setResumeAnimationsOnLaunch(!preferences()->resumeAnimationsOnLaunch());
  scope->runUntilIdle();
  EXPECT_EQ(menu->items()[1]->title(), before);

  // On again: a fresh item and menu; other menus opening are not traced.
  preferences()->setShowMenuBar(true);
  scope->runUntilIdle();
  ASSERT_NE(delegate->statusItem(), nullptr);
  EXPECT_NE(delegate->statusItem(), first);
  EXPECT_NE(delegate->statusItem()->menu(), menu);
  EXPECT_EQ(bar.items().size(), 1u);
  menu->open();
  menu->cancelTracking();
  NSApplication::shared()->mainMenu()->open();
  NSApplication::shared()->mainMenu()->cancelTracking();
  EXPECT_EQ(events("status-menu-open").size(), 1u);
  EXPECT_EQ(events("status-menu-close").size(), 1u);
}

TEST_F(DelegateTest, TheAnimationsItemIsRetitledWithoutReopeningAndQuitTravelsTheResponderChain) {
  agreement->setAccepted(true);
  store("resumeAnimationsOnLaunch", true);
  launch();
  const auto menu = delegate->statusItem()->menu();
  EXPECT_EQ(menu->items()[1]->title(), "Pause animations");
  preferences()->setResumeAnimationsOnLaunch(false);  // as the settings page's switch does
  scope->runUntilIdle();
  EXPECT_EQ(menu->items()[1]->title(), "Enable animations");
  EXPECT_FALSE(menu->isOpen());
  // Choosing it flips the switch through the delegate.
  menu->open();
  EXPECT_TRUE(menu->performActionForItemAtIndex(1));
  EXPECT_TRUE(preferences()->resumeAnimationsOnLaunch());
  scope->runUntilIdle();
  EXPECT_EQ(menu->items()[1]->title(), "Pause animations");
  // A menu without the item is left alone.
  platform::NSMenu other;
  AppDelegate::updateToggleTitle(true, other);
  EXPECT_TRUE(other.items().empty());

  // Quit has no target: the application takes it and terminates.
  menu->open();
  ASSERT_EQ(menu->items()[5]->title(), "Quit vurle");
  EXPECT_EQ(menu->items()[5]->target(), nullptr);
  EXPECT_TRUE(menu->performActionForItemAtIndex(5));
  EXPECT_EQ(delegate->animationSession(), nullptr);
  EXPECT_EQ(shortcuts->tearDowns, 1);
}

TEST_F(DelegateTest, CommandKeysReachTheMainMenusItemsThroughTheKeyWindow) {
  launch();
  auto application = NSApplication::shared();
  auto window = delegate->window();
  ASSERT_TRUE(window->isKeyWindow());
  application->sendEvent(commandKey("m"));  // the main window has a miniaturise button
  scope->advance(platform::NSWindow::miniaturizeDuration);
  EXPECT_TRUE(window->isMiniaturized());
  window->deminiaturize(nullptr);
  application->sendEvent(commandKey("h"));
  EXPECT_TRUE(application->isHidden());
  application->unhide(nullptr);
  application->sendEvent(commandKey("w"));
  EXPECT_FALSE(window->isVisible());
  delegate->showWindow();
  application->sendEvent(commandKey("q"));
  EXPECT_EQ(delegate->animationSession(), nullptr);
}

TEST_F(DelegateTest, ValidationFollowsTheLoginItemTheUpdaterAndWhatTakesEachAction) {
  // The shared login item over the desktop's autostart entry.
  const fs::path bundle = root / "bundle";
  fs::create_directories(bundle);
  std::ofstream(bundle / "Info.json") << R"({"CFBundleIdentifier": "test.vurle.menus", "CFBundleExecutable": "vurle"})";
  std::ofstream(bundle / "vurle") << "#!/bin/sh\n";
  fs::permissions(bundle / "vurle", fs::perms::owner_all);
  platform::NSBundle::setMainBundlePath(bundle);
  seams.loginItem = LoginItem::shared();
  launch();
  const auto status = delegate->statusItem()->menu();
  const auto appMenu = NSApplication::shared()->mainMenu()->items()[0]->submenu();
  const auto editMenu = NSApplication::shared()->mainMenu()->items()[2]->submenu();
  const auto loginEntry = status->items()[3];
  const auto mainLoginEntry = appMenu->items()[3];
  const auto checkEntry = appMenu->items()[1];
  ASSERT_EQ(loginEntry->action(), "toggleLaunchAtLogin");
  ASSERT_EQ(checkEntry->title(), "Check for Updates…");

  status->open();
  EXPECT_EQ(loginEntry->state(), platform::NSControlStateValue::off);
  EXPECT_TRUE(status->performActionForItemAtIndex(3));  // registers the entry
  const fs::path entry = root / "config" / "autostart" / "test.vurle.menus.desktop";
  EXPECT_TRUE(fs::is_regular_file(entry));
  status->open();
  EXPECT_EQ(loginEntry->state(), platform::NSControlStateValue::on);
  EXPECT_TRUE(loginEntry->isEnabled());
  status->cancelTracking();
  appMenu->open();
  EXPECT_EQ(mainLoginEntry->state(), platform::NSControlStateValue::on);
  appMenu->cancelTracking();
  // The user removes the entry outside the application: the next opening
  // shows it unchecked.
  fs::remove(entry);
  status->open();
  EXPECT_EQ(loginEntry->state(), platform::NSControlStateValue::off);
  status->cancelTracking();

  struct Case {
    bool canCheck;
    bool checkEnabled;
  };
  for (const Case c : {Case{false, false}, Case{true, true}, Case{false, false}}) {
    updates->canCheck.set(c.canCheck);
    appMenu->open();
    EXPECT_EQ(checkEntry->isEnabled(), c.checkEnabled) << c.canCheck;
    appMenu->cancelTracking();
  }
  // Nothing takes cut:, copy:, paste: or selectAll: without a text field.
  editMenu->open();
  for (const auto& item : editMenu->items()) EXPECT_FALSE(item->isEnabled()) << item->title();
  editMenu->cancelTracking();
  // The Minimize item needs a key window with the button; About and the
  // rest are the delegate's.
  const auto windowMenu = NSApplication::shared()->windowsMenu();
  windowMenu->open();
  EXPECT_TRUE(windowMenu->items()[0]->isEnabled());
  EXPECT_TRUE(windowMenu->items()[2]->isEnabled());
  windowMenu->cancelTracking();
  delegate->window()->orderOut();
  windowMenu->open();
  EXPECT_FALSE(windowMenu->items()[0]->isEnabled());
  windowMenu->cancelTracking();
  appMenu->open();
  EXPECT_TRUE(appMenu->items()[0]->isEnabled());
  appMenu->cancelTracking();
}

// ---- the Dock icon ----

TEST_F(DelegateTest, TheDockIconStaysWhileAnOrdinaryWindowShowsOrAnUpdateIsPresented) {
  constexpr pid_t other = 4242;
  struct Case {
    const char* name;
    bool hideDock;
    // Runs after launch with the main window open and focused.
    std::function<void(AppDelegate&)> act;
    Policy policy;
  };
  const auto otherApp = [] {
    auto& workspace = platform::NSWorkspace::sharedWorkspace();
    if (!platform::NSRunningApplication::runningApplicationWithProcessIdentifier(other)) {
      workspace.launchApplication(other, "com.example.other", "Other");
    }
    workspace.activateApplication(other);
  };
  std::shared_ptr<platform::NSWindow> extra;
  const Case cases[] = {
      {"window open and focused", true, [](AppDelegate&) {}, Policy::regular},
      {"window closed", true, [](AppDelegate& d) { d.window()->close(); }, Policy::accessory},
      {"window minimised", true,
       [&](AppDelegate& d) {
         d.window()->miniaturize(nullptr);
         scope->advance(platform::NSWindow::miniaturizeDuration);
         ASSERT_TRUE(d.window()->isMiniaturized());
       },
       Policy::regular},
      {"update presented with no window", true,
       [&](AppDelegate& d) {
         d.window()->close();
         updates->presenting.set(true);
       },
       Policy::regular},
      {"focus given to another application", true, [&](AppDelegate&) { otherApp(); }, Policy::accessory},
      {"no wish to hide it", false,
       [&](AppDelegate& d) {
         d.window()->close();
         otherApp();
       },
       Policy::regular},
      {"a floating panel alone", true,
       [&](AppDelegate& d) {
         d.window()->close();
         auto panel = std::make_shared<platform::NSPanel>(platform::NSMakeRect(0, 0, 40, 40), 0);
         panel->setLevel(3);
         panel->orderFrontRegardless();
         extra = panel;
         d.updateActivationPolicy();
       },
       Policy::accessory},
      {"the About window", true,
       [&](AppDelegate& d) {
         d.window()->close();
         d.showAbout();
       },
       Policy::regular},
      // The bug-report form is a sheet on the main window; with the main
      // window raised above the normal level it alone is ordinary.
      {"the form's sheet", true,
       [&](AppDelegate& d) {
         d.window()->setLevel(3);
         extra = std::make_shared<platform::NSWindow>(platform::NSMakeRect(0, 0, 500, 400), platform::NSWindowStyleMaskTitled);
         d.window()->beginSheet(extra);
       },
       Policy::regular},
      {"the main window raised without a sheet", true,
       [&](AppDelegate& d) {
         d.window()->setLevel(3);
         d.updateActivationPolicy();
       },
       Policy::accessory},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    store("hideDock", c.hideDock);
    updates->presenting.set(false);
    launch();
    ASSERT_TRUE(delegate->window()->isVisible());
    c.act(*delegate);
    scope->runUntilIdle();
    EXPECT_EQ(NSApplication::shared()->activationPolicy(), c.policy);
    if (std::string(c.name) == "update presented with no window") {
      updates->presenting.set(false);
      scope->runUntilIdle();
      EXPECT_EQ(NSApplication::shared()->activationPolicy(), Policy::accessory);
    }
    extra.reset();
    NSApplication::shared()->terminate(nullptr);
    delegate.reset();
    platform::resetProcessState();
    platform::AccessibilityServer::shared().setProcessTrusted(true);
    platform::NSScreen::setScreens({platform::NSScreen::make(platform::CGRectMake(0, 0, 1440, 900), 2.0)});
  }
}

TEST_F(DelegateTest, AWindowMinimisedWhileTheApplicationResignsKeepsTheDockIconThroughTheAnimation) {
  store("hideDock", true);
  launch();
  auto window = delegate->window();
  window->miniaturize(nullptr);
  EXPECT_EQ(delegate->minimizingWindowCount(), 1u);
  scope->advance(platform::NSWindow::miniaturizeDuration / 2);
  // Another application takes focus mid-animation: the window is still on
  // screen but on its way to the Dock.
  auto& workspace = platform::NSWorkspace::sharedWorkspace();
  workspace.launchApplication(4243, "com.example.other", "Other");
  workspace.activateApplication(4243);
  scope->runUntilIdle();
  EXPECT_FALSE(delegate->hasAppFocus());
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(NSApplication::shared()->activationPolicy(), Policy::regular);
  scope->advance(platform::NSWindow::miniaturizeDuration);
  EXPECT_TRUE(window->isMiniaturized());
  EXPECT_EQ(delegate->minimizingWindowCount(), 0u);
  EXPECT_EQ(NSApplication::shared()->activationPolicy(), Policy::regular);
  // Closing it from the Dock lets the icon go.
  window->close();
  scope->runUntilIdle();
  EXPECT_EQ(NSApplication::shared()->activationPolicy(), Policy::accessory);
}

TEST_F(DelegateTest, OnlyAKeyCapableWindowAtTheNormalLevelBecomingKeyGivesFocus) {
  store("hideDock", true);
  launch();
  struct Case {
    const char* name;
    platform::NSWindowLevel level;
    bool focus;
  };
  for (const Case c : {Case{"normal window", 0, true}, Case{"floating window", 3, false}}) {
    delegate->applicationDidResignActive({});
    scope->runUntilIdle();
    auto window = std::make_shared<platform::NSWindow>(platform::NSMakeRect(0, 0, 100, 100), platform::NSWindowStyleMaskTitled);
    window->setLevel(c.level);
    window->makeKeyAndOrderFront();
    EXPECT_EQ(delegate->hasAppFocus(), c.focus) << c.name;
    scope->runUntilIdle();
    // The main window is open too, so focus alone decides.
    EXPECT_EQ(NSApplication::shared()->activationPolicy(), c.focus ? Policy::regular : Policy::accessory) << c.name;
    window->close();
  }
}


TEST_F(DelegateTest, TheStatusItemIsTheMarksWidthPlusEightPoints) {
  struct Case {
    const char* name;
    const char* svg;  // none: no mark in the bundle
    double length;
    platform::NSSize shown;
  };
  const Case cases[] = {
      {"a 36 x 24 mark", R"(<svg xmlns="http://www.w3.org/2000/svg" width="36" height="24"><rect width="36" height="24"/></svg>)",
       26, platform::NSMakeSize(18, 12)},
      {"a 7 x 5.5 mark", R"(<svg xmlns="http://www.w3.org/2000/svg" width="7" height="5.5"><rect width="7" height="5.5"/></svg>)",
       18 + 8, platform::NSMakeSize(18, 18 * 5.5 / 7)},
      {"no mark", nullptr, 8, platform::NSMakeSize(0, 0)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path bundle = root / "bundle";
    fs::remove_all(bundle);
    fs::create_directories(bundle / "Resources");
    if (c.svg) std::ofstream(bundle / "Resources" / "vurle-mark.svg") << c.svg;
    platform::NSBundle::setMainBundlePath(bundle);
    launch();
    const auto& item = delegate->statusItem();
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->length(), c.length);
    EXPECT_NEAR(item->button()->image()->size().width, c.shown.width, 1e-9);
    EXPECT_NEAR(item->button()->image()->size().height, c.shown.height, 1e-9);
    NSApplication::shared()->terminate(nullptr);
    delegate.reset();
    platform::resetProcessState();
    platform::AccessibilityServer::shared().setProcessTrusted(true);
  }
}


// A menu's picture as it opens, against the one stored beside the test
// (VURLE_UPDATE_PICTURES=1 writes it).
void expectMenuMatchesStoredPicture(platform::NSMenu& menu, const std::string& name) {
  const std::string stored = std::string(VURLE_PICTURES_DIR) + "/" + name + ".png";
  menu.open();
  const char* update = std::getenv("VURLE_UPDATE_PICTURES");
  if (update && std::string(update) == "1") {
    fs::create_directories(VURLE_PICTURES_DIR);
    ASSERT_TRUE(menu.writePNG(stored, 2));
  }
  const auto actual = fs::temp_directory_path() / ("vurle-" + name + "-" + std::to_string(::getpid()) + ".png");
  ASSERT_TRUE(menu.writePNG(actual.string(), 2));
  menu.cancelTracking();
  const auto result = platform::ui::comparePNG(stored, actual.string(), 24);
  ASSERT_TRUE(result.loaded) << "no stored picture " << stored;
  EXPECT_TRUE(result.sameSize) << stored;
  EXPECT_LT(result.differingFraction, 0.005) << "differs from " << stored << "; see " << actual;
  if (result.sameSize && result.differingFraction < 0.005) fs::remove(actual);
}

TEST_F(DelegateTest, TheMenusArePicturedWithTheirChecksKeysAndDisabledItems) {
  int status = LoginItem::enabledStatus;
  seams.loginItem = LoginItem::make({[&status] { return status; }, [] { return std::optional<platform::NSError>(); },
                                     [] { return std::optional<platform::NSError>(); }, [] {}});
  store("resumeAnimationsOnLaunch", true);
  launch();
  expectMenuMatchesStoredPicture(*delegate->statusItem()->menu(), "status_menu");
  expectMenuMatchesStoredPicture(*NSApplication::shared()->mainMenu()->items()[0]->submenu(), "application_menu");
}

}  // namespace
}  // namespace vurle
