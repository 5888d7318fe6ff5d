#pragma once

// Shared by the onboarding pages' tests: a clean process with one screen,
// in-memory settings, a login item whose service status the test sets, the
// permission as the Accessibility stand-in answers it, and the onboarding
// in a key 460 × 591 window, with one deterministic turn.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "app/app_preferences.hpp"
#include "app/login_item.hpp"
#include "cursor/engine/cursor_engine.hpp"
#include "platform/accessibility/accessibility_server.hpp"
#include "platform/appkit/event.hpp"
#include "platform/appkit/screen.hpp"
#include "platform/appkit/window.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/defaults/user_defaults.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/foundation/process_info.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/ui/graph.hpp"
#include "platform/windowserver/window_server.hpp"
#include "ui/onboarding/legal_agreement.hpp"
#include "ui/onboarding/onboarding_flow.hpp"
#include "ui/onboarding/onboarding_view.hpp"
#include "ui/settings/morph_speed_examples.hpp"

namespace vurle::testing {

enum class DocumentState { valid, invalid, missing };

class OnboardingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::WindowServer::shared();
    platform::resetProcessState();
    platform::NSScreen::setScreens({platform::NSScreen::make(platform::CGRectMake(0, 0, 1440, 900), 2)});
    platform::NSWorkspace::sharedWorkspace().activateApplication(::getpid());
  }
  void TearDown() override {
    if (window) window->close();
    host.reset();
    window.reset();
    if (examples) examples->stop();
    if (engine) engine->stop();
    flow.reset();
    platform::resetProcessState();
  }

  // The permission as the system has it.
  static void grant(bool granted) {
    platform::AccessibilityServer::shared().setProcessTrusted(granted);
    platform::AccessibilityServer::shared().setAPIEnabled(granted);
  }

  // The settings and the agreement as a run finds them.
  void make(bool accepted, bool granted, DocumentState document = DocumentState::valid,
            bool completedBefore = false) {
    defaults = platform::NSUserDefaults::makeInMemory("onboarding-page-test");
    if (completedBefore) defaults->setBool(true, "onboardingCompleted");
    engine = CursorEngine::make(nullptr, defaults);
    examples = MorphSpeedExamples::make({150, 60, 220}, true);
    preferences = AppPreferences::make(defaults);
    std::optional<LegalAgreement::Document> doc;
    if (document == DocumentState::valid) doc = LegalAgreement::Document{"1", "The agreement."};
    if (document == DocumentState::invalid) doc = LegalAgreement::Document{" ", "\n"};
    agreement = LegalAgreement::make(platform::NSUserDefaults::makeInMemory("onboarding-page-agreement"), doc,
                                     [] { return platform::Date{}; });
    if (accepted) agreement->accept(true);
    loginItem = LoginItem::make({[this] {
                                   ++statusReads;
                                   if (onStatus) onStatus();
                                   return status;
                                 },
                                 [this] {
                                   status = LoginItem::enabledStatus;
                                   return std::optional<platform::NSError>();
                                 },
                                 [this] {
                                   status = LoginItem::notRegistered;
                                   return std::optional<platform::NSError>();
                                 },
                                 [] {}});
    grant(granted);
    flow = OnboardingFlow::make(preferences, agreement, [this] { ++reviews; }, [this] { ++enables; });
    statusReads = reviews = enables = 0;
  }
  OnboardingView page() const {
    return OnboardingView{flow, preferences, engine, examples, loginItem, platform::ui::Color::sRGB(1.0, 0.8, 0.0)};
  }
  // The onboarding in its window, key and in front, rendered.
  void show() {
    window = platform::NSWindow::make(platform::CGRectMake(200, 100, 460, 591), 2);
    host = platform::ui::NSHostingView::make(page().body(), platform::CGRectMake(0, 0, 460, 591));
    window->setContentView(host);
    window->makeKeyAndOrderFront();
    turn();
  }
  void turn() { scope->runUntilIdle(); }
  platform::ui::ViewGraph& graph() const { return *host->graph(); }
  bool shows(const std::string& text) const { return graph().findText(text).has_value(); }
  // The footer's primary button: the one Return presses.
  platform::ui::ViewRef primaryButton() const {
    auto found = graph().findAll([](const platform::ui::Node& n) {
      return n.kind() == "Button" && n.modifier("keyboardShortcut");
    });
    if (found.size() != 1) throw std::logic_error("not one primary button");
    return found.front();
  }
  void pressReturn() {
    window->sendEvent(*platform::NSEvent::keyEventWithType(platform::NSEventTypeKeyDown, 0, "\r", "\r", 36));
    turn();
  }

  platform::SimulatedSchedulerScope scope;
  std::shared_ptr<platform::NSUserDefaults> defaults;
  std::shared_ptr<CursorEngine> engine;
  std::shared_ptr<MorphSpeedExamples> examples;
  std::shared_ptr<AppPreferences> preferences;
  std::shared_ptr<LegalAgreement> agreement;
  std::shared_ptr<LoginItem> loginItem;
  std::shared_ptr<OnboardingFlow> flow;
  int status = LoginItem::notRegistered;
  int statusReads = 0;
  int reviews = 0, enables = 0;
  std::function<void()> onStatus;
  std::shared_ptr<platform::NSWindow> window;
  std::shared_ptr<platform::ui::NSHostingView> host;
};

}  // namespace vurle::testing
