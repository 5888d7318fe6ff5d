#pragma once

// Shared by the settings page's tests: a clean process with one screen and
// the page in a 460 × 591 window over in-memory settings, with a login item
// whose service status the test sets, and one deterministic turn.

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "app/app_preferences.hpp"
#include "app/login_item.hpp"
#include "cursor/engine/cursor_engine.hpp"
#include "platform/appkit/screen.hpp"
#include "platform/appkit/window.hpp"
#include "platform/defaults/user_defaults.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/ui/graph.hpp"
#include "platform/windowserver/window_server.hpp"
#include "ui/onboarding/legal_agreement.hpp"
#include "ui/settings/lab_view.hpp"
#include "ui/settings/morph_speed_examples.hpp"

namespace vurle::testing {

class SettingsPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::WindowServer::shared();
    platform::resetProcessState();
    platform::NSScreen::setScreens({platform::NSScreen::make(platform::CGRectMake(0, 0, 1440, 900), 2)});
    defaults = platform::NSUserDefaults::makeInMemory("settings-page-test");
    engine = CursorEngine::make(nullptr, defaults);
    examples = MorphSpeedExamples::make({150, 60, 220}, true);
    preferences = AppPreferences::make(defaults);
    agreement = LegalAgreement::make(defaults, LegalAgreement::Document{"1", "The agreement."},
                                     [] { return platform::Date{}; });
    agreement->accept(true);
    loginItem = LoginItem::make({[this] {
                                   ++statusReads;
                                   return status;
                                 },
                                 [this] {
                                   if (!failure.empty()) return std::optional<platform::NSError>({"", 1, failure});
                                   status = LoginItem::enabledStatus;
                                   return std::optional<platform::NSError>();
                                 },
                                 [this] {
                                   if (!failure.empty()) return std::optional<platform::NSError>({"", 1, failure});
                                   status = LoginItem::notRegistered;
                                   return std::optional<platform::NSError>();
                                 },
                                 [this] { ++settingsOpened; }});
  }
  void TearDown() override {
    if (window) window->close();
    host.reset();
    window.reset();
    examples->stop();
    engine->stop();
    platform::resetProcessState();
  }
  LabView page() const { return LabView{engine, examples, preferences, agreement, loginItem}; }
  // The page in its window, key and in front, rendered.
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
  // The subtitle under a row's title: the second text of the row's column.
  std::string subtitleOf(const std::string& title) const {
    const auto* column = graph().findText(title)->node().parent->parent;
    return column->children.at(1)->view.desc().text;
  }
  // The switch of a row, by its title.
  platform::ui::ViewRef toggle(const std::string& title) const {
    auto found = graph().findAll([&](const platform::ui::Node& n) {
      return n.kind() == "Toggle" && n.view.desc().text == title;
    });
    if (found.empty()) throw std::logic_error("no switch " + title);
    return found.front();
  }
  bool toggleIsOn(const std::string& title) const { return toggle(title).accessibility().value == "1"; }

  platform::SimulatedSchedulerScope scope;
  std::shared_ptr<platform::NSUserDefaults> defaults;
  std::shared_ptr<CursorEngine> engine;
  std::shared_ptr<MorphSpeedExamples> examples;
  std::shared_ptr<AppPreferences> preferences;
  std::shared_ptr<LegalAgreement> agreement;
  std::shared_ptr<LoginItem> loginItem;
  int status = LoginItem::notRegistered;
  int statusReads = 0;
  int settingsOpened = 0;
  std::string failure;
  std::shared_ptr<platform::NSWindow> window;
  std::shared_ptr<platform::ui::NSHostingView> host;
};

}  // namespace vurle::testing
