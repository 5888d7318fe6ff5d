#include "app/app_delegate.hpp"

#include "app/login_item.hpp"

#include <algorithm>
#include <cmath>
#include <iterator>

#include <cstdlib>
#include <cstring>

#include "app/brand_images.hpp"
#include "app/status_menu_command.hpp"
#include "cursor/art/metal_cursor_renderer.hpp"
#include "cursor/native/cursor_trace.hpp"
#include "cursor/engine/cursor_engine.hpp"
#include "platform/appkit/apple_event.hpp"
#include "platform/appkit/layout_constraint.hpp"
#include "platform/appkit/menu.hpp"
#include "platform/appkit/visual_effect_view.hpp"
#include "platform/appkit/button.hpp"
#include "platform/bundle/bundle.hpp"
#include "platform/dispatch/run_loop.hpp"

namespace vurle {
namespace {

using platform::NSApplication;
using platform::NSApplicationActivationPolicy;

// Stand-ins for what the program has not been given: each does nothing,
// and the agreement is never accepted.
class UnconnectedAgreement : public AgreementGate {
 public:
  bool accepted() const override { return false; }
  platform::Publisher<bool> acceptedPublisher() const override { return accepted_.publisher(); }
  void presentSheet(const std::shared_ptr<platform::NSWindow>&) override {}

 private:
  platform::Published<bool> accepted_{false};
};

class IdleOnboarding : public OnboardingController {
 public:
  int step() const override { return 0; }
  void finish() override {}
  void restart() override {}
  void refreshAccessibility() override {}
};

class IdleExamples : public SpeedExamples {
 public:
  void start() override {}
  void stop() override {}
};

class IdleUpdates : public UpdateController {
 public:
  bool isPresentingUpdate() const override { return false; }
  platform::Publisher<bool> isPresentingUpdatePublisher() const override { return presenting_.publisher(); }
  bool canCheckForUpdates() const override { return false; }
  platform::Publisher<bool> canCheckForUpdatesPublisher() const override { return canCheck_.publisher(); }
  void start() override {}
  void checkForUpdates(bool) override {}

 private:
  platform::Published<bool> presenting_{false};
  platform::Published<bool> canCheck_{false};
};

class IdleShortcuts : public ShortcutController {
 public:
  void tearDown() override {}
};

ShellSeams withStandIns(ShellSeams seams) {
  if (!seams.agreement) seams.agreement = std::make_shared<UnconnectedAgreement>();
  if (!seams.makeOnboarding) {
    seams.makeOnboarding = [](auto&&...) { return std::make_shared<IdleOnboarding>(); };
  }
  if (!seams.makeContentView) {
    seams.makeContentView = [](auto&&...) {
      return std::make_shared<platform::NSView>(
          platform::NSMakeRect(0, 0, AppDelegate::windowWidth, AppDelegate::windowHeight));
    };
  }
  if (!seams.makeInlineExamples) seams.makeInlineExamples = [] { return std::make_shared<IdleExamples>(); };
  if (!seams.makeWelcomeExamples) seams.makeWelcomeExamples = [] { return std::make_shared<IdleExamples>(); };
  if (!seams.updates) seams.updates = makeIdleUpdates();
  if (!seams.loginItem) {
    seams.loginItem = LoginItem::make({[] { return LoginItem::notRegistered; },
                                       [] { return std::optional<platform::NSError>(); },
                                       [] { return std::optional<platform::NSError>(); }, [] {}});
  }
  if (!seams.makeShortcutController) {
    seams.makeShortcutController = [](auto&&...) { return std::make_shared<IdleShortcuts>(); };
  }
  if (!seams.makeAboutWindow) seams.makeAboutWindow = [] { return std::shared_ptr<platform::NSWindowController>(); };
  if (!seams.presentBugReport) seams.presentBugReport = [](const auto&) {};
  if (!seams.cancelCursorTest) seams.cancelCursorTest = [] {};
  return seams;
}

void makeRegular() {
  auto application = NSApplication::shared();
  if (application->activationPolicy() != NSApplicationActivationPolicy::regular) {
    application->setActivationPolicy(NSApplicationActivationPolicy::regular);
  }
}

}  // namespace

std::shared_ptr<UpdateController> makeIdleUpdates() { return std::make_shared<IdleUpdates>(); }

const std::string AppDelegate::releaseBundleIdentifier = VURLE_RELEASE_BUNDLE_IDENTIFIER;

void AppDelegate::main(ShellSeams seams) {
  auto defaults = platform::NSUserDefaults::standardUserDefaults();
  const std::string identifier = platform::NSBundle::mainBundle()->bundleIdentifier().value_or("");
  migrateAppIdentity(*defaults, identifier, legacyDomainName);
  // Only touched, so the pipeline starts compiling before anything needs it.
  MetalCursorRenderer::shared();
  auto application = NSApplication::shared();
  auto delegate = std::make_shared<AppDelegate>(std::move(seams));
  application->setDelegate(delegate);
  application->run();
}

void AppDelegate::migrateAppIdentity(platform::NSUserDefaults& defaults, const std::string& currentDomain,
                                     const std::string& legacyDomain) {
  if (currentDomain != releaseBundleIdentifier) return;
  auto current = defaults.persistentDomainForName(currentDomain).value_or(platform::PropertyListDictionary{});
  if (current.contains(migrationMarkerKey)) return;
  const auto legacy = defaults.persistentDomainForName(legacyDomain).value_or(platform::PropertyListDictionary{});
  // insert() keeps a key the current domain already holds.
  current.insert(legacy.begin(), legacy.end());
  current.insert_or_assign(migrationMarkerKey, true);
  defaults.setPersistentDomain(std::move(current), currentDomain);
}

platform::NSAppleEventDescriptor AppDelegate::launchEventFromEnvironment() {
  const char* mark = std::getenv("VURLE_LAUNCHED_AS_LOGIN_ITEM");
  const bool loginItem = mark != nullptr && std::strcmp(mark, "1") == 0;
  ::unsetenv("VURLE_LAUNCHED_AS_LOGIN_ITEM");
  platform::NSAppleEventDescriptor event(platform::kAEOpenApplication);
  if (loginItem) event.setParamEnumCode(platform::keyAEPropData, platform::keyAELaunchedAsLogInItem);
  return event;
}

bool AppDelegate::isLoginItemLaunch() {
  const auto& event = platform::NSAppleEventManager::sharedAppleEventManager().currentAppleEvent();
  return event && event->eventID() == platform::kAEOpenApplication &&
         event->paramEnumCodeForKeyword(platform::keyAEPropData) == platform::keyAELaunchedAsLogInItem;
}

AppDelegate::LaunchDecision AppDelegate::decideLaunch(bool loginItem, bool accepted, bool showMenuBar,
                                                      bool hideDock) {
  LaunchDecision decision;
  decision.silent = loginItem && accepted && (showMenuBar || !hideDock);
  decision.policy = decision.silent && hideDock ? NSApplicationActivationPolicy::accessory
                                                : NSApplicationActivationPolicy::regular;
  return decision;
}

AppDelegate::AppDelegate(ShellSeams seams)
    : seams_(withStandIns(std::move(seams))),
      engine_(CursorEngine::make()),
      preferences_(AppPreferences::make(platform::NSUserDefaults::standardUserDefaults())),
      updates_(seams_.updates),
      inlineExamples_(seams_.makeInlineExamples()),
      welcomeExamples_(seams_.makeWelcomeExamples()),
      loginItem_(seams_.loginItem) {}

AppDelegate::~AppDelegate() = default;

const std::shared_ptr<OnboardingController>& AppDelegate::onboarding() {
  if (!onboarding_) {
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    onboarding_ = seams_.makeOnboarding(
        preferences_, seams_.agreement,
        [weak] {
          if (auto self = weak.lock()) self->seams_.agreement->presentSheet(self->window());
        },
        [weak] {
          if (auto self = weak.lock(); self && self->animationSession_) self->animationSession_->refresh();
        });
  }
  return onboarding_;
}

const std::shared_ptr<platform::NSWindow>& AppDelegate::window() {
  if (!window_) {
    window_ = std::make_shared<platform::NSWindow>(
        platform::NSMakeRect(0, 0, windowWidth, windowHeight),
        platform::NSWindowStyleMaskTitled | platform::NSWindowStyleMaskClosable |
            platform::NSWindowStyleMaskMiniaturizable | platform::NSWindowStyleMaskFullSizeContentView,
        platform::NSBackingStoreBuffered, false);
  }
  return window_;
}

const std::shared_ptr<AutomaticPauseMonitor>& AppDelegate::automaticPause() {
  if (!automaticPause_) automaticPause_ = AutomaticPauseMonitor::make(preferences_, true);
  return automaticPause_;
}

void AppDelegate::applicationDidFinishLaunching(const platform::NSNotification&) {
  auto application = NSApplication::shared();
  const bool loginItem = isLoginItemLaunch();
  launch_ = decideLaunch(loginItem, seams_.agreement->accepted(), preferences_->showMenuBar(),
                         preferences_->hideDock());
  application->setActivationPolicy(launch_.policy);
  buildMainMenu();
  onboarding();

  auto hosting = seams_.makeContentView(preferences_, onboarding_, engine_, inlineExamples_, welcomeExamples_);
  hosting->setTranslatesAutoresizingMaskIntoConstraints(false);
  auto effect = std::make_shared<platform::NSVisualEffectView>(platform::NSMakeRect(0, 0, windowWidth, windowHeight));
  effect->setMaterial(platform::NSVisualEffectMaterial::sidebar);
  effect->setBlendingMode(platform::NSVisualEffectBlendingMode::withinWindow);
  effect->setState(platform::NSVisualEffectState::followsWindowActiveState);
  effect->addSubview(hosting);
  using Edge = platform::NSLayoutAttribute;
  platform::NSLayoutConstraint::activateConstraints({
      platform::NSLayoutConstraint::make(hosting, Edge::leading, effect, Edge::leading),
      platform::NSLayoutConstraint::make(hosting, Edge::trailing, effect, Edge::trailing),
      platform::NSLayoutConstraint::make(hosting, Edge::top, effect, Edge::top),
      platform::NSLayoutConstraint::make(hosting, Edge::bottom, effect, Edge::bottom),
  });

  auto& mainWindow = window();
  mainWindow->setTitle("vurle");
  mainWindow->setTitleVisibility(platform::NSWindowTitleVisibility::hidden);
  mainWindow->setMovableByWindowBackground(true);
  mainWindow->setAcceptsMouseMovedEvents(true);
  mainWindow->setTitlebarAppearsTransparent(true);
  mainWindow->setBackgroundColor(platform::NSColor::clearColor());
  mainWindow->setOpaque(false);
  // Closing only hides it; every later showing reuses it.
  mainWindow->setReleasedWhenClosed(false);
  mainWindow->setDelegate(std::static_pointer_cast<platform::NSWindowDelegate>(shared_from_this()));
  mainWindow->setContentView(effect);
  const auto size = platform::NSMakeSize(windowWidth, windowHeight);
  mainWindow->setMinSize(size);
  mainWindow->setMaxSize(size);
  mainWindow->setCollectionBehavior(platform::NSWindowCollectionBehaviorFullScreenNone |
                              platform::NSWindowCollectionBehaviorAuxiliary);
  mainWindow->standardWindowButton(platform::NSWindowButton::zoomButton)->setEnabled(false);
  mainWindow->setFrame(platform::NSMakeRect(0, 0, windowWidth, windowHeight), false);
  mainWindow->center();

  engine_->install(mainWindow);

  std::weak_ptr<AppDelegate> weak = weak_from_this();
  shortcutController_ = seams_.makeShortcutController(preferences_, [weak](ShortcutAction action) {
    if (auto self = weak.lock()) self->performShortcut(action);
  });

  // The Dock-icon policy follows every window of the application.
  for (const char* name : {platform::NSWindowDidBecomeKeyNotification, platform::NSWindowWillCloseNotification,
                           platform::NSWindowWillMiniaturizeNotification,
                           platform::NSWindowDidMiniaturizeNotification}) {
    windowObservers_.push_back(platform::NSNotificationCenter::defaultCenter().addObserverForName(
        name, nullptr, platform::DispatchQueue::main(), [weak](const platform::NSNotification& note) {
          if (auto self = weak.lock()) self->windowPresenceChanged(note);
        }));
  }

  auto& loop = platform::RunLoop::main();
  presenceObservations_.push_back(preferences_->showMenuBarPublisher().receive(loop).sink([weak](bool visible) {
    if (auto self = weak.lock()) self->setStatusItemVisible(visible);
  }));
  presenceObservations_.push_back(
      platform::combineLatest(preferences_->hideDockPublisher(), updates_->isPresentingUpdatePublisher())
          .receive(loop)
          .sink([weak](const std::pair<bool, bool>& values) {
            if (auto self = weak.lock()) self->updateActivationPolicy(values.first, values.second);
          }));
  presenceObservations_.push_back(
      platform::combineLatest(seams_.agreement->acceptedPublisher(), preferences_->showsOnboardingPublisher())
          .receive(loop)
          .sink([weak](const std::pair<bool, bool>& values) {
            auto self = weak.lock();
            if (self && values.first && !values.second) self->updates_->start();
          }));

  automaticPause();
  auto session = AnimationSession::make(preferences_, seams_.agreement, automaticPause_, sessionOperations());
  session->refresh();
  animationSession_ = std::move(session);

  if (!launch_.silent) showMainWindow();
}

AnimationSession::Operations AppDelegate::sessionOperations() {
  std::weak_ptr<AppDelegate> weak = weak_from_this();
  return {
      [weak] {
        auto self = weak.lock();
        return self && self->engine_->systemWide();
      },
      [weak] {
        if (auto self = weak.lock()) self->engine_->start();
      },
      [weak] {
        if (auto self = weak.lock()) self->pauseEngine();
      },
      [weak](std::optional<AutomaticPauseReason> reason) {
        if (auto self = weak.lock()) self->engine_->setAutomaticPauseReason(AnimationSession::automaticPauseMessage(reason));
      },
  };
}

void AppDelegate::pauseEngine() {
  engine_->setEnabled(false);
  engine_->setDemoKind(std::nullopt);
  engine_->disable();
  engine_->release(true, std::nullopt, false);
}

void AppDelegate::showMainWindow() {
  hasAppFocus_ = true;
  makeRegular();
  auto application = NSApplication::shared();
  auto& mainWindow = window();
  if (mainWindow->isMiniaturized()) mainWindow->deminiaturize(nullptr);
  if (application->isHidden()) application->unhide(nullptr);
  mainWindow->makeKeyAndOrderFront(nullptr);
  application->activateIgnoringOtherApps(true);
  startVisibleExamples();
}

void AppDelegate::startVisibleExamples() {
  if (preferences_->showsOnboarding()) {
    if (onboarding()->step() == 0) welcomeExamples_->start();
  } else if (seams_.agreement->accepted() && preferences_->selectedTab() == SettingsTab::preview) {
    inlineExamples_->start();
  }
}

void AppDelegate::stopExamplesAndRecording() {
  seams_.cancelCursorTest();
  inlineExamples_->stop();
  welcomeExamples_->stop();
  preferences_->setRecordingAction(std::nullopt);
}

void AppDelegate::showSettings() {
  onboarding()->finish();
  showMainWindow();
}

void AppDelegate::showWindow() { showMainWindow(); }

void AppDelegate::showOnboarding() {
  // The agreement's sheet must be answered first.
  if (window()->attachedSheet()) return;
  inlineExamples_->stop();
  preferences_->setRecordingAction(std::nullopt);
  onboarding()->restart();
  showMainWindow();
}

void AppDelegate::showAbout() {
  hasAppFocus_ = true;
  if (!aboutWindow_) aboutWindow_ = seams_.makeAboutWindow();
  makeRegular();
  if (aboutWindow_) {
    aboutWindow_->showWindow(nullptr);
    if (auto shown = aboutWindow_->window()) shown->makeKeyAndOrderFront(nullptr);
  }
  NSApplication::shared()->activateIgnoringOtherApps(true);
}

void AppDelegate::reportBug() {
  showMainWindow();
  seams_.presentBugReport(window());
}

void AppDelegate::checkForUpdates() { updates_->checkForUpdates(false); }

void AppDelegate::toggleLaunchAtLogin() {
  loginItem_->refreshStatus();
  loginItem_->setEnabled(!loginItem_->enabled());
  if (loginItem_->requiresApproval() || !loginItem_->message().empty()) {
    preferences_->setSelectedTab(SettingsTab::general);
    onboarding()->finish();
    showMainWindow();
  }
}

void AppDelegate::toggleAnimations() {
  if (!seams_.agreement->accepted()) {
    // The user can accept the agreement there.
    showMainWindow();
    return;
  }
  preferences_->setResumeAnimationsOnLaunch(!preferences_->resumeAnimationsOnLaunch());
  if (animationSession_) animationSession_->refresh();
}

void AppDelegate::pause() {
  preferences_->setResumeAnimationsOnLaunch(false);
  pauseEngine();
}

void AppDelegate::performShortcut(ShortcutAction action) {
  switch (action) {
    case ShortcutAction::pause:
      toggleAnimations();
      break;
    case ShortcutAction::settings:
      showSettings();
      break;
  }
}

bool AppDelegate::isShowing(const platform::NSWindow& window) const {
  for (const auto& minimizing : minimizingWindows_) {
    if (minimizing.lock().get() == &window) return true;
  }
  if (window.isMiniaturized()) return true;
  return hasAppFocus_ && !NSApplication::shared()->isHidden() && window.isVisible();
}

void AppDelegate::updateActivationPolicy(std::optional<bool> hideDock, std::optional<bool> isPresentingUpdate) {
  auto application = NSApplication::shared();
  bool windowShowing = false;
  for (const auto& window : application->windows()) {
    const bool ordinary = window->canBecomeKeyWindow() && window->level() == platform::NSNormalWindowLevel;
    if (ordinary && isShowing(*window)) {
      windowShowing = true;
      break;
    }
  }
  const bool hide = hideDock.value_or(preferences_->hideDock());
  const bool presenting = isPresentingUpdate.value_or(updates_->isPresentingUpdate());
  const auto wanted = hide && !presenting && !windowShowing ? NSApplicationActivationPolicy::accessory
                                                            : NSApplicationActivationPolicy::regular;
  if (application->activationPolicy() != wanted) application->setActivationPolicy(wanted);
}

void AppDelegate::scheduleActivationPolicyUpdate() {
  std::weak_ptr<AppDelegate> weak = weak_from_this();
  platform::DispatchQueue::main()->async([weak] {
    if (auto self = weak.lock()) self->updateActivationPolicy();
  });
}

void AppDelegate::windowPresenceChanged(const platform::NSNotification& notification) {
  std::shared_ptr<platform::NSWindow> window;
  for (const auto& candidate : NSApplication::shared()->windows()) {
    if (candidate.get() == notification.object) window = candidate;
  }
  if (!window) return;
  const auto same = [&](const std::weak_ptr<platform::NSWindow>& held) {
    const auto alive = held.lock();
    return !alive || alive == window;  // a window that is gone leaves the set too
  };
  if (notification.name == platform::NSWindowDidBecomeKeyNotification) {
    if (window->canBecomeKeyWindow() && window->level() == platform::NSNormalWindowLevel) hasAppFocus_ = true;
  } else if (notification.name == platform::NSWindowWillMiniaturizeNotification) {
    std::erase_if(minimizingWindows_, same);
    minimizingWindows_.push_back(window);
  } else if (notification.name == platform::NSWindowDidMiniaturizeNotification ||
             notification.name == platform::NSWindowWillCloseNotification) {
    std::erase_if(minimizingWindows_, same);
  } else {
    return;
  }
  scheduleActivationPolicyUpdate();
}

// ---- the status item and the menus ----

void AppDelegate::setStatusItemVisible(bool visible) {
  auto& bar = platform::NSStatusBar::systemStatusBar();
  if (!visible) {
    if (statusItem_) {
      // Its delegate hears the menu close before the item goes.
      if (auto menu = statusItem_->menu()) menu->cancelTrackingWithoutAnimation();
      bar.removeStatusItem(statusItem_);
    }
    statusItem_.reset();
    statusObservation_ = platform::AnyCancellable();
    return;
  }
  if (statusItem_) return;
  const auto mark = statusMarkImage();
  auto item = bar.statusItemWithLength(std::ceil(mark->size().width) + 8);
  item->button()->setImage(mark);
  auto menu = std::make_shared<platform::NSMenu>();
  menu->setDelegate(std::static_pointer_cast<platform::NSMenuDelegate>(shared_from_this()));
  item->button()->setAccessibilityLabel("vurle menu");
  const auto self = std::static_pointer_cast<platform::NSResponder>(shared_from_this());
  bool first = true;
  for (const auto& section : statusMenuSections()) {
    if (!first) menu->addItem(platform::NSMenuItem::separatorItem());
    first = false;
    for (const auto command : section) {
      auto entry = platform::NSMenuItem::make(title(command, preferences_->resumeAnimationsOnLaunch()), action(command), "");
      if (targetsDelegate(command)) entry->setTarget(self);
      menu->addItem(entry);
    }
  }
  std::weak_ptr<platform::NSMenu> weakMenu = menu;
  statusObservation_ = preferences_->resumeAnimationsOnLaunchPublisher()
                           .receive(platform::RunLoop::main())
                           .sink([weakMenu](bool on) {
                             if (auto shown = weakMenu.lock()) updateToggleTitle(on, *shown);
                           });
  item->setMenu(menu);
  statusItem_ = std::move(item);
}

void AppDelegate::updateToggleTitle(bool animationsOn, platform::NSMenu& menu) {
  for (const auto& item : menu.items()) {
    if (item->action() == action(StatusMenuCommand::animations)) {
      item->setTitle(title(StatusMenuCommand::animations, animationsOn));
      return;
    }
  }
}

void AppDelegate::buildMainMenu() {
  using platform::NSMenu;
  using platform::NSMenuItem;
  auto application = NSApplication::shared();
  const auto self = std::static_pointer_cast<platform::NSResponder>(shared_from_this());
  // Title, action, key equivalent; delegate: the item targets this delegate.
  const auto entry = [&](const char* title, const char* action, const char* key = "", bool delegate = false) {
    auto item = NSMenuItem::make(title, action, key);
    if (delegate) item->setTarget(self);
    return item;
  };
  const auto menuOf = [](const char* title, std::vector<std::shared_ptr<NSMenuItem>> items) {
    auto menu = std::make_shared<NSMenu>(title);
    for (auto& item : items) menu->addItem(item ? item : NSMenuItem::separatorItem());
    return menu;
  };
  auto hideOthers = entry("Hide Others", "hideOtherApplications:", "h");
  hideOthers->setKeyEquivalentModifierMask(platform::NSEventModifierFlagOption | platform::NSEventModifierFlagCommand);
  // A null entry is a separator.
  auto appMenu = menuOf("vurle", {entry("About vurle", "showAbout", "", true),
                                  entry("Check for Updates\u2026", "checkForUpdates", "", true), nullptr,
                                  entry("Launch at Login", "toggleLaunchAtLogin", "", true), nullptr,
                                  entry("Hide vurle", "hide:", "h"), hideOthers,
                                  entry("Show All", "unhideAllApplications:"), nullptr,
                                  entry("Quit vurle", "terminate:", "q")});
  auto fileMenu = menuOf("File", {entry("Close", "performClose:", "w")});
  auto editMenu = menuOf("Edit", {entry("Cut", "cut:", "x"), entry("Copy", "copy:", "c"), entry("Paste", "paste:", "v"),
                                  entry("Select all", "selectAll:", "a")});
  auto windowsMenu = menuOf("Window", {entry("Minimize", "performMiniaturize:", "m"), nullptr,
                                       entry("Bring All to Front", "arrangeInFront:")});
  auto helpMenu = menuOf("Help", {entry("Welcome to vurle\u2026", "showOnboarding", "", true),
                                  entry("Report a Bug\u2026", "reportBug", "", true)});
  auto bar = std::make_shared<NSMenu>();
  for (const auto& submenu : {appMenu, fileMenu, editMenu, windowsMenu, helpMenu}) {
    auto holder = NSMenuItem::make(submenu->title());
    holder->setSubmenu(submenu);
    bar->addItem(holder);
  }
  application->setWindowsMenu(windowsMenu);
  application->setHelpMenu(helpMenu);
  application->setMainMenu(bar);
}

namespace {

using Action = void (AppDelegate::*)();
struct NamedAction {
  const char* selector;
  Action action;
};
const NamedAction kActions[] = {
    {"showSettings", &AppDelegate::showSettings},   {"toggleAnimations", &AppDelegate::toggleAnimations},
    {"toggleLaunchAtLogin", &AppDelegate::toggleLaunchAtLogin}, {"checkForUpdates", &AppDelegate::checkForUpdates},
    {"showOnboarding", &AppDelegate::showOnboarding}, {"showAbout", &AppDelegate::showAbout},
    {"showWindow", &AppDelegate::showWindow},       {"reportBug", &AppDelegate::reportBug},
    {"pause", &AppDelegate::pause},
};

const NamedAction* namedAction(const std::string& selector) {
  const auto found = std::find_if(std::begin(kActions), std::end(kActions),
                                  [&](const NamedAction& named) { return selector == named.selector; });
  return found == std::end(kActions) ? nullptr : found;
}

}  // namespace

bool AppDelegate::respondsToAction(const std::string& selector) const { return namedAction(selector) != nullptr; }

bool AppDelegate::performAction(const std::string& selector, const void*) {
  const auto named = namedAction(selector);
  if (!named) return false;
  // An action may end the last outside reference to this delegate.
  const auto keep = shared_from_this();
  (this->*(named->action))();
  return true;
}

bool AppDelegate::validateMenuItem(platform::NSMenuItem& item) {
  if (item.action() == "toggleLaunchAtLogin") {
    loginItem_->refreshStatus();
    item.setState(loginItem_->enabled() ? platform::NSControlStateValue::on : platform::NSControlStateValue::off);
    return true;
  }
  if (item.action() == "checkForUpdates") return updates_->canCheckForUpdates();
  return true;
}

void AppDelegate::menuWillOpen(platform::NSMenu& menu) {
  if (!statusItem_ || statusItem_->menu().get() != &menu) return;
  loginItem_->refreshStatus();
  CursorTrace::shared()->record("status-menu-open");
}

void AppDelegate::menuDidClose(platform::NSMenu& menu) {
  if (!statusItem_ || statusItem_->menu().get() != &menu) return;
  CursorTrace::shared()->record("status-menu-close");
}

bool AppDelegate::applicationShouldHandleReopen(platform::NSApplication&, bool) {
  showMainWindow();
  return false;
}

void AppDelegate::applicationDidBecomeActive(const platform::NSNotification&) {
  hasAppFocus_ = true;
  updateActivationPolicy();
  if (animationSession_) {
    onboarding()->refreshAccessibility();
    animationSession_->refresh();
  }
}

void AppDelegate::applicationDidResignActive(const platform::NSNotification&) {
  hasAppFocus_ = false;
  scheduleActivationPolicyUpdate();
}

void AppDelegate::applicationDidHide(const platform::NSNotification&) {
  hasAppFocus_ = false;
  scheduleActivationPolicyUpdate();
}

void AppDelegate::applicationWillTerminate(const platform::NSNotification&) {
  animationSession_.reset();
  if (shortcutController_) shortcutController_->tearDown();
  engine_->stop();
  inlineExamples_->stop();
  welcomeExamples_->stop();
}

bool AppDelegate::isMainWindow(const platform::NSNotification& notification) const {
  return window_ && notification.object == window_.get();
}

void AppDelegate::windowDidBecomeKey(const platform::NSNotification& notification) {
  if (!isMainWindow(notification)) return;
  hasAppFocus_ = true;
  updateActivationPolicy();
}

void AppDelegate::windowDidResignKey(const platform::NSNotification& notification) {
  if (!isMainWindow(notification)) return;
  seams_.cancelCursorTest();
  preferences_->setRecordingAction(std::nullopt);
}

void AppDelegate::windowWillClose(const platform::NSNotification& notification) {
  if (!isMainWindow(notification)) return;
  scheduleActivationPolicyUpdate();
  stopExamplesAndRecording();
}

void AppDelegate::windowDidMiniaturize(const platform::NSNotification& notification) {
  if (!isMainWindow(notification)) return;
  scheduleActivationPolicyUpdate();
  stopExamplesAndRecording();
}

void AppDelegate::windowDidDeminiaturize(const platform::NSNotification& notification) {
  if (!isMainWindow(notification)) return;
  updateActivationPolicy();
  startVisibleExamples();
}

}  // namespace vurle
