#pragma once

// A key window whose content is a hosting view, over fresh preferences in
// memory, and keys typed into it as the application hands them on: what
// the recorder and Shortcuts tab tests share.

#include <gtest/gtest.h>

#include <memory>
#include <optional>

#include "app/app_preferences.hpp"
#include "platform/appkit/application.hpp"
#include "platform/appkit/event.hpp"
#include "platform/appkit/screen.hpp"
#include "platform/appkit/window.hpp"
#include "platform/coding/data.hpp"
#include "platform/coding/json_coding.hpp"
#include "platform/defaults/user_defaults.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/events/event.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/ui/graph.hpp"
#include "platform/windowserver/window_server.hpp"
#include "ui/settings/shortcut_recorder.hpp"

namespace vurle {

inline constexpr uint16_t kKeyA = 0, kKeyQ = 12, kKeyK = 40, kKeyReturn = 36, kKeyTab = 48, kKeySpace = 49,
                          kKeyDelete = 51, kKeyEscape = 53, kKeyForwardDelete = 117;
inline constexpr platform::NSEventModifierFlags kShift = platform::NSEventModifierFlagShift,
                                                kControl = platform::NSEventModifierFlagControl,
                                                kOption = platform::NSEventModifierFlagOption,
                                                kCommand = platform::NSEventModifierFlagCommand;

class ShortcutWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::WindowServer::shared();
    platform::resetProcessState();
    platform::NSScreen::setScreens({platform::NSScreen::make(platform::CGRectMake(0, 0, 1440, 900), 2)});
    platform::NSApplication::shared();
    preferences = AppPreferences::make(defaults);
  }
  void TearDown() override {
    if (window) window->close();
    window.reset();
    host.reset();
    preferences.reset();
    platform::resetProcessState();
  }

  void open(platform::ui::View root, platform::CGSize size = {460, 300}) {
    window = platform::NSWindow::make(platform::CGRectMake(100, 100, size.width, size.height), 1);
    host = platform::ui::NSHostingView::make(std::move(root), platform::CGRectMake(0, 0, size.width, size.height));
    window->setContentView(host);
    window->makeKeyAndOrderFront();
    scope->runUntilIdle();
  }
  platform::ui::ViewGraph& graph() { return *host->graph(); }
  // The recorder of the action's row (pause first, in tree order).
  std::shared_ptr<ShortcutRecorderButton> recorder(ShortcutAction action) {
    auto found = graph().findKind("ShortcutRecorder", action == ShortcutAction::pause ? 0 : 1);
    if (!found) return nullptr;
    return std::dynamic_pointer_cast<ShortcutRecorderButton>(found->hostedView());
  }
  // A key as the application hands it to the key window, with the text the
  // session's layout gives it.
  void key(uint16_t code, platform::NSEventModifierFlags flags = 0,
           platform::NSEventType type = platform::NSEventTypeKeyDown) {
    const std::string text = platform::keyboardLayoutCharacters(code, flags);
    window->sendEvent(*platform::NSEvent::keyEventWithType(type, flags, text, text, code));
    scope->runUntilIdle();
  }
  // A left click in the middle of a hosted view, through the window.
  void click(const std::shared_ptr<platform::NSView>& view) {
    const platform::CGRect f = view->frame();  // in the flipped hosting view
    const platform::CGPoint at{f.origin.x + f.size.width / 2, window->frame().size.height - (f.origin.y + f.size.height / 2)};
    window->sendEvent(platform::NSEvent(platform::NSEventTypeLeftMouseDown, at, 0, 1));
    window->sendEvent(platform::NSEvent(platform::NSEventTypeLeftMouseUp, at, 0.05, 2));
    scope->runUntilIdle();
  }
  // The shortcut stored under the key: JSON null reads as none.
  std::optional<GlobalShortcut> stored(const char* key) const {
    auto data = defaults->dataForKey(key);
    EXPECT_TRUE(data.has_value()) << key;
    return shortcutFromJSON(platform::JSONDecode(data.value_or(platform::dataFromString("null"))));
  }

  platform::SimulatedSchedulerScope scope;
  std::shared_ptr<platform::NSUserDefaults> defaults = platform::NSUserDefaults::makeInMemory("shortcut-window-test");
  std::shared_ptr<AppPreferences> preferences;
  std::shared_ptr<platform::NSWindow> window;
  std::shared_ptr<platform::ui::NSHostingView> host;
};

}  // namespace vurle
