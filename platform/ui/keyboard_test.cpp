#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/appkit/event.hpp"
#include "platform/appkit/menu.hpp"
#include "platform/appkit/pasteboard.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/events/event_tap.hpp"
#include "platform/appkit/window.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/events/event.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/ui/graph.hpp"
#include "platform/ui/picture_test_support.hpp"

namespace platform::ui {
namespace {

constexpr uint16_t kReturn = 36, kTab = 48, kDelete = 51, kEscape = 53, kA = 0, kLeft = 123;

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

TEST_F(KeyboardTest, AButtonInAnOverlayAnswersItsShortcut) {
  host(Text("Page").overlay(
      Button("Next", [this] { log.push_back("next"); }).keyboardShortcut(KeyboardShortcut::defaultAction)));
  key(kReturn);
  EXPECT_EQ(log, std::vector<std::string>{"next"});
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

// A small form: a field and an editor in one focus state, an unbound
// field, Send (default, enabled while the summary is not empty) and Cancel.
struct Form {
  std::string summary, details, note;
  bool disabled = false;
  std::vector<std::string> log;
  std::shared_ptr<Published<int>> changed = std::make_shared<Published<int>>(0);

  Binding<std::string> bind(std::string Form::*text) {
    return {[this, text] { return this->*text; }, [this, text](std::string v) {
              this->*text = std::move(v);
              changed->set(changed->value() + 1);
            }};
  }
  View view() {
    return Composite("Form", [this](Context& c) {
      c.observe(changed->publisher());
      auto focus = c.state<std::optional<std::string>>("focus", std::nullopt);
      return VStack(HorizontalAlignment::leading, 6,
                    {TextField("Summary", bind(&Form::summary), "A short description")
                         .roundedBorderTextFieldStyle()
                         .focused(focus.binding(), std::string("summary")),
                     TextEditor(bind(&Form::details)).frame(std::nullopt, 60).focused(focus.binding(), std::string("details")),
                     TextField("Note", bind(&Form::note)),
                     HStack(VerticalAlignment::center, 8,
                            {Button("Cancel", [this] { log.push_back("cancel"); }).keyboardShortcut(KeyboardShortcut::cancelAction),
                             Button("Send", [this] { log.push_back("send " + summary); })
                                 .keyboardShortcut(KeyboardShortcut::defaultAction)
                                 .disabled(summary.empty())})})
          .disabled(disabled)
          .padding(10)
          .onAppear([focus] { focus.set(std::string("summary")); });
    });
  }
};

TEST_F(KeyboardTest, TypingGoesToTheFocusedFieldAndReturnTabBackspaceAndEscapeDoWhatEachFieldMeans) {
  Form form;
  host(form.view());
  auto& graph = *hosting->graph();
  ASSERT_TRUE(graph.focusedField()) << "focused on appear";
  EXPECT_EQ(graph.focusedField()->accessibility().label, "Summary");
  EXPECT_EQ(window->firstResponder(), hosting) << "the hosting view takes the keys for its field";

  hosting->typeText("Crash é");
  turn();
  EXPECT_EQ(form.summary, "Crash é");
  key(kDelete);
  EXPECT_EQ(form.summary, "Crash ") << "one character, both bytes of it";
  key(kLeft);
  EXPECT_EQ(form.summary, "Crash ") << "a navigation key is the field's, and types nothing";

  hosting->pressReturn();
  turn();
  EXPECT_EQ(form.log, (std::vector<std::string>{"send Crash "})) << "Return in a field presses the default button";

  key(kTab);
  EXPECT_EQ(graph.focusedField()->kind(), "TextEditor");
  hosting->typeText("one\ntwo");
  hosting->pressReturn();
  turn();
  EXPECT_EQ(form.details, "one\ntwo\n") << "Return in an editor is a line break";
  EXPECT_EQ(form.log.size(), 1u) << "and presses nothing";

  key(kTab);
  key(kTab);
  EXPECT_EQ(graph.focusedField()->accessibility().label, "Summary") << "Tab wraps through every field";
  key(kTab, NSEventModifierFlagShift);
  EXPECT_EQ(graph.focusedField()->accessibility().label, "Note") << "Shift-Tab goes back";
  hosting->typeText("x");
  turn();
  EXPECT_EQ(form.note, "x") << "a field without a focus state holds the graph's own";

  hosting->pressEscape();
  turn();
  EXPECT_EQ(form.log, (std::vector<std::string>{"send Crash ", "cancel"}));

  // The window gives the keys to the window itself: the field lets go.
  ASSERT_TRUE(window->makeFirstResponder(nullptr));
  turn();
  EXPECT_FALSE(graph.focusedField());
  hosting->typeText("y");
  turn();
  EXPECT_EQ(form.note, "x");

  // A click on a field focuses it again; a disabled form takes no typing.
  ASSERT_TRUE(graph.findLabel("Summary")->tap());
  turn();
  EXPECT_EQ(window->firstResponder(), hosting);
  form.disabled = true;
  form.changed->set(1);
  turn();
  hosting->typeText("z");
  key(kDelete);
  EXPECT_EQ(form.summary, "Crash ");
  EXPECT_FALSE(graph.findLabel("Note")->tap()) << "a disabled field is not focused";
}

TEST_F(KeyboardTest, DesktopKeysReachTheFocusedFieldThroughItsHostingViewWhileTheApplicationIsActive) {
  Form form;
  host(form.view());
  // A key the user types on the desktop, through the event system.
  const auto type = [&](uint16_t code, CGEventFlags flags = 0) {
    for (bool down : {true, false}) {
      auto event = CGEventCreateKeyboardEvent(nullptr, code, down);
      CGEventSetFlags(event, flags);
      CGEventKeyboardSetUnicodeString(event, keyboardLayoutCharacters(code, flags));
      CGEventPost(kCGHIDEventTap, event);
    }
    turn();
  };
  constexpr uint16_t kH = 4, kI = 34;
  type(kH);
  EXPECT_EQ(form.summary, "") << "another application is frontmost";
  NSWorkspace::sharedWorkspace().activateApplication(::getpid());
  type(kH, kCGEventFlagMaskShift);
  type(kI);
  EXPECT_EQ(form.summary, "Hi");
  type(kReturn);
  EXPECT_EQ(form.log, (std::vector<std::string>{"send Hi"}));
}

TEST_F(KeyboardTest, EditActionsFollowTheFocusSelectionPasteboardAndEnabledState) {
  struct Case {
    const char* name;
    bool focus, selectAll, disabled, pasteboardText;
    std::string text;
    bool cut, copy, paste, selectAll_;
  };
  const std::vector<Case> cases = {
      {"no field focused", false, false, false, true, "abc", false, false, false, false},
      {"focused, nothing selected", true, false, false, true, "abc", false, false, true, true},
      {"focused, all selected", true, true, false, true, "abc", true, true, true, true},
      {"an empty field selects nothing", true, true, false, false, "", false, false, false, false},
      {"an empty pasteboard pastes nothing", true, true, false, false, "abc", true, true, false, true},
      {"a disabled field only copies", true, true, true, true, "abc", false, true, false, true},
  };
  for (const auto& c : cases) {
    resetProcessState();
    window = NSWindow::make(CGRectMake(0, 0, 300, 200), 1);
    Form form;
    form.note = c.text;
    host(form.view());
    auto& graph = *hosting->graph();
    if (c.pasteboardText) NSPasteboard::generalPasteboard().setString("pasted", NSPasteboardTypeString);
    graph.clearFocus();
    if (c.focus) {
      ASSERT_TRUE(graph.findLabel("Note")->focus()) << c.name;
    }
    if (c.selectAll) hosting->performEditAction("selectAll:");
    form.disabled = c.disabled;
    form.changed->set(1);
    turn();
    EXPECT_EQ(hosting->canPerformEditAction("cut:"), c.cut) << c.name;
    EXPECT_EQ(hosting->canPerformEditAction("copy:"), c.copy) << c.name;
    EXPECT_EQ(hosting->canPerformEditAction("paste:"), c.paste) << c.name;
    EXPECT_EQ(hosting->canPerformEditAction("selectAll:"), c.selectAll_) << c.name;
    EXPECT_FALSE(hosting->canPerformEditAction("delete:")) << c.name;
  }
}

TEST_F(KeyboardTest, CutCopyAndPasteMoveTextThroughThePasteboardAndARefusedCutLosesNothing) {
  Form form;
  host(form.view());
  auto& pasteboard = NSPasteboard::generalPasteboard();
  hosting->typeText("first");
  turn();
  ASSERT_TRUE(hosting->performEditAction("selectAll:"));
  ASSERT_TRUE(hosting->performEditAction("copy:"));
  EXPECT_EQ(pasteboard.stringForType(NSPasteboardTypeString), "first");
  EXPECT_EQ(form.summary, "first");

  pasteboard.setRefusesWrites(true);
  EXPECT_FALSE(hosting->performEditAction("cut:"));
  EXPECT_EQ(form.summary, "first") << "the text stays when the pasteboard refuses it";
  pasteboard.setRefusesWrites(false);
  ASSERT_TRUE(hosting->performEditAction("cut:"));
  turn();
  EXPECT_EQ(form.summary, "");
  EXPECT_FALSE(hosting->graph()->hasSelection());

  hosting->typeText("ab");
  ASSERT_TRUE(hosting->performEditAction("paste:"));
  EXPECT_EQ(form.summary, "abfirst") << "pasted at the end";
  hosting->performEditAction("selectAll:");
  hosting->typeText("Z");
  turn();
  EXPECT_EQ(form.summary, "Z") << "typing replaces the selection";
  hosting->performEditAction("selectAll:");
  key(kDelete);
  EXPECT_EQ(form.summary, "");
}

// The Edit menu's items reach the focused field through the responder
// chain: enabled while the field can do them, and chosen they do it.
TEST_F(KeyboardTest, TheEditMenuReachesTheFocusedFieldThroughTheResponderChain) {
  auto edit = std::make_shared<NSMenu>("Edit");
  for (const char* action : {"cut:", "copy:", "paste:", "selectAll:"}) edit->addItem(NSMenuItem::make(action, action));
  const auto enabled = [&] {
    edit->update();
    std::vector<bool> states;
    for (const auto& item : edit->items()) states.push_back(item->isEnabled());
    return states;
  };
  host(Text("No field here"));
  EXPECT_EQ(enabled(), (std::vector<bool>{false, false, false, false})) << "nothing takes them without a field";

  Form form;
  host(form.view());
  NSPasteboard::generalPasteboard().clearContents();
  hosting->typeText("first");
  turn();
  EXPECT_EQ(enabled(), (std::vector<bool>{false, false, false, true})) << "text, nothing selected, nothing to paste";
  ASSERT_TRUE(edit->performActionForItemAtIndex(3));
  EXPECT_EQ(enabled(), (std::vector<bool>{true, true, false, true})) << "all selected";
  ASSERT_TRUE(edit->performActionForItemAtIndex(0));
  turn();
  EXPECT_EQ(form.summary, "");
  EXPECT_EQ(NSPasteboard::generalPasteboard().stringForType(NSPasteboardTypeString), "first");
  EXPECT_EQ(enabled(), (std::vector<bool>{false, false, true, false})) << "empty field, something to paste";
  ASSERT_TRUE(edit->performActionForItemAtIndex(2));
  turn();
  EXPECT_EQ(form.summary, "first");
}

TEST_F(KeyboardTest, EscapeRunsTheExitCommandOnlyWhereNoCancelButtonIsEnabledAndThenOnce) {
  auto cancelEnabled = std::make_shared<Published<bool>>(true);
  std::string typed;
  host(Composite("Sheet", [&, cancelEnabled](Context& c) {
    c.observe(cancelEnabled->publisher());
    return VStack(HorizontalAlignment::center, 8,
                  {TextField("Field", Binding<std::string>{[&] { return typed; }, [&](std::string v) { typed = v; }}),
                   Button("Cancel", [this] { log.push_back("cancel"); })
                       .keyboardShortcut(KeyboardShortcut::cancelAction)
                       .disabled(!cancelEnabled->value())})
        .onExitCommand([this] { log.push_back("exit"); });
  }));
  ASSERT_TRUE(hosting->graph()->findLabel("Field")->focus());
  key(kEscape);
  EXPECT_EQ(log, (std::vector<std::string>{"cancel"}));
  cancelEnabled->set(false);
  turn();
  key(kEscape);
  hosting->graph()->clearFocus();
  key(kEscape);
  EXPECT_EQ(log, (std::vector<std::string>{"cancel", "exit", "exit"})) << "with or without a focused field";
}

TEST_F(KeyboardTest, ATimelineRemakesItsContentEveryIntervalOnTheVirtualClockOnlyWhileItIsInTheTree) {
  auto shown = std::make_shared<Published<bool>>(true);
  int evaluations = 0;
  auto graph = ViewGraph::make(Composite("Clock", [&, shown](Context& c) {
    c.observe(shown->publisher());
    return If(shown->value(), TimelineView(1.0, [&](double) {
                ++evaluations;
                return Text("tick");
              }));
  }));
  turn();
  EXPECT_EQ(evaluations, 1);
  scope->advance(0.99);
  EXPECT_EQ(evaluations, 1) << "not before the interval";
  scope->advance(0.01);
  EXPECT_EQ(evaluations, 2) << "at the interval";
  scope->advance(2.0);
  EXPECT_EQ(evaluations, 4) << "every interval";
  shown->set(false);
  turn();
  EXPECT_EQ(scope->pendingCount(), 0u) << "no timer once the view is gone";
  scope->advance(5.0);
  EXPECT_EQ(evaluations, 4);
}

TEST_F(KeyboardTest, AScrollViewReaderRecordsEachScrollWithItsTargetAndWhetherTheTargetIsThere) {
  auto graph = ViewGraph::make(ScrollViewReader([](ScrollViewProxy proxy) {
    return ScrollView(VStack(HorizontalAlignment::leading, 4,
                             {Text("top").id("start"),
                              Button("Up", [proxy] { proxy.scrollTo("start", "top"); }),
                              Button("Away", [proxy] { proxy.scrollTo("nowhere"); })}));
  }));
  turn();
  graph->findText("Up")->tap();
  graph->findText("Away")->tap();
  ASSERT_EQ(graph->scrollRecords().size(), 2u);
  EXPECT_EQ(graph->scrollRecords()[0].id, "start");
  EXPECT_EQ(graph->scrollRecords()[0].anchor, "top");
  EXPECT_TRUE(graph->scrollRecords()[0].found);
  EXPECT_FALSE(graph->scrollRecords()[1].found);
  EXPECT_EQ(graph->scrollRecords()[0].reader, graph->root()->identity);
}

TEST_F(KeyboardTest, FieldsAndTheNewSymbolsAreDrawnLegibly) {
  Form form;
  form.details = "Steps:\n1. Open the form\n2. Type a long line that has to wrap inside the editor";
  host(VStack(HorizontalAlignment::leading, 8,
              {form.view(), HStack(VerticalAlignment::center, 8,
                                   {ImageSystem("ladybug.fill").font(Font::system(20)).foregroundStyle(Color::secondary()),
                                    ImageSystem("exclamationmark.triangle.fill")
                                        .font(Font::system(17, FontWeight::semibold))
                                        .foregroundStyle(Color::orange())})}));
  hosting->typeText("Focused");
  turn();
  EXPECT_TRUE(hasSymbolShape("ladybug.fill"));
  EXPECT_TRUE(hasSymbolShape("exclamationmark.triangle.fill"));
  expectMatchesStoredPicture(*hosting->graph(), VURLE_PICTURES_DIR, "fields");
}

}  // namespace
}  // namespace platform::ui
