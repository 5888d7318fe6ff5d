#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/appkit/event.hpp"
#include "platform/appkit/window.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/events/event.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/ui/graph.hpp"

namespace platform::ui {
namespace {

constexpr uint16_t kReturn = 36, kEscape = 53, kA = 0;

class KeyboardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetProcessState();
    window = NSWindow::make(CGRectMake(0, 0, 300, 200), 1);
  }
  void TearDown() override { resetProcessState(); }
  void turn() { scope->runUntilIdle(); }
  void host(View root) {
    hosting = NSHostingView::make(std::move(root), CGRectMake(0, 0, 300, 200));
    window->setContentView(hosting);
    window->makeKeyAndOrderFront();
    turn();
  }
  // A key as the application hands it to the key window.
  void key(uint16_t code, NSEventModifierFlags flags = 0) {
    const std::string text = keyboardLayoutCharacters(code, flags);
    window->sendEvent(*NSEvent::keyEventWithType(NSEventTypeKeyDown, flags, text, text, code));
    turn();
  }

  SimulatedSchedulerScope scope;
  std::shared_ptr<NSWindow> window;
  std::shared_ptr<NSHostingView> hosting;
  std::vector<std::string> log;
};

TEST_F(KeyboardTest, ReturnAndEscapePressOnlyAnEnabledButtonOfTheirShortcutAndOnlyWithoutModifiers) {
  struct Case {
    const char* name;
    bool defaultEnabled, cancelEnabled;
    uint16_t key;
    NSEventModifierFlags flags;
    std::vector<std::string> pressed;
  };
  const std::vector<Case> cases = {
      {"Return presses the default button", true, true, kReturn, 0, {"send"}},
      {"Escape presses the cancel button", true, true, kEscape, 0, {"cancel"}},
      {"a disabled default button is passed over", false, true, kReturn, 0, {}},
      {"a disabled cancel button is passed over", true, false, kEscape, 0, {}},
      {"Shift-Return is another key", true, true, kReturn, NSEventModifierFlagShift, {}},
      {"Command-Return is another key", true, true, kReturn, NSEventModifierFlagCommand, {}},
      {"Option-Escape is another key", true, true, kEscape, NSEventModifierFlagOption, {}},
      {"a letter presses nothing", true, true, kA, 0, {}},
  };
  for (const auto& c : cases) {
    log.clear();
    host(HStack(VerticalAlignment::center, 8,
                {Button("Plain", [this] { log.push_back("plain"); }),
                 Button("Cancel", [this] { log.push_back("cancel"); })
                     .keyboardShortcut(KeyboardShortcut::cancelAction)
                     .disabled(!c.cancelEnabled),
                 // A disabled container disables the button inside it too.
                 VStack(HorizontalAlignment::center, 0,
                        {Button("Send", [this] { log.push_back("send"); }).keyboardShortcut(KeyboardShortcut::defaultAction)})
                     .disabled(!c.defaultEnabled),
                 Button("Other", [this] { log.push_back("other"); }).keyboardShortcut(KeyboardShortcut::cancelAction)
                     .disabled(true)}));
    key(c.key, c.flags);
    EXPECT_EQ(log, c.pressed) << c.name;
  }
}

TEST_F(KeyboardTest, TheFirstEnabledButtonOfAShortcutTakesTheKeyOnceAndAButtonLaterEnabledAnswersAtOnce) {
  auto enabled = std::make_shared<Published<bool>>(false);
  host(Composite("Form", [this, enabled](Context& c) {
    c.observe(enabled->publisher());
    return VStack(HorizontalAlignment::center, 8,
                  {Button("First", [this] { log.push_back("first"); })
                       .keyboardShortcut(KeyboardShortcut::defaultAction)
                       .disabled(!enabled->value()),
                   Button("Second", [this] { log.push_back("second"); }).keyboardShortcut(KeyboardShortcut::defaultAction)});
  }));
  key(kReturn);
  EXPECT_EQ(log, (std::vector<std::string>{"second"}));
  enabled->set(true);
  key(kReturn);
  EXPECT_EQ(log, (std::vector<std::string>{"second", "first"})) << "one press per key, the first enabled button";
}

}  // namespace
}  // namespace platform::ui
