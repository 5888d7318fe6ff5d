#include "ui/settings/duration_controls.hpp"

#include <gtest/gtest.h>

#include <limits>

#include "platform/appkit/workspace.hpp"
#include "platform/defaults/user_defaults.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/foundation/process_info.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/ui/picture_test_support.hpp"
#include "platform/ui/text.hpp"
#include "platform/windowserver/window_server.hpp"
#include "ui/settings/transition_duration_control.hpp"

namespace vurle {
namespace {

using namespace platform;
using namespace platform::ui;

class DurationControlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WindowServer::shared();
    resetProcessState();
    engine = CursorEngine::make(nullptr, defaults);
  }
  void TearDown() override {
    graph.reset();
    engine->stop();
    engine.reset();
    resetProcessState();
  }
  void show(View view, CGSize size = {420, 120}) {
    graph = ViewGraph::make(std::move(view));
    graph->setSize(size);
    scope->runUntilIdle();
  }
  std::shared_ptr<NSSlider> slider() {
    return std::dynamic_pointer_cast<NSSlider>(graph->findKind("DurationSlider")->hostedView());
  }
  std::string readout() { return graph->findKind("DurationReadout")->node().children[0]->children[0]->view.desc().text; }
  double blur() {
    return graph->findKind("DurationReadout")->node().children[0]->children[0]->modifier("blur")->number("radius");
  }

  SimulatedSchedulerScope scope;
  std::shared_ptr<NSUserDefaults> defaults = NSUserDefaults::makeInMemory("duration-controls-test");
  std::shared_ptr<CursorEngine> engine;
  std::shared_ptr<ViewGraph> graph;
};

TEST_F(DurationControlsTest, TheSliderWritesWholeTicksThroughTheEngineAndTheTextsFollowItsValue) {
  show(TransitionDurationControl(engine));
  auto s = slider();
  ASSERT_TRUE(s);
  EXPECT_EQ(s->numberOfTickMarks(), 17);
  EXPECT_TRUE(s->allowsTickMarkValuesOnly() && s->isContinuous());
  EXPECT_EQ(s->trackFillColor(), NSColor::colorWithSRGBRed(1, 0.8, 0, 1));
  struct Case {
    std::vector<double> drag;
    double stored;
    const char* readout;
  } cases[] = {{{0.31}, 110, "110"}, {{-1.0}, 60, "60"}, {{0.5, 3.0}, 220, "220"}, {{0.52}, 140, "140"}};
  for (const auto& c : cases) {
    s->dragKnob(c.drag);
    scope->runUntilIdle();
    EXPECT_EQ(engine->storedMilliseconds(), c.stored);
    EXPECT_EQ(readout(), c.readout);
  }
  EXPECT_EQ(graph->findKind("DurationSlider")->accessibility().value, "140 milliseconds");
  EXPECT_EQ(graph->findKind("DurationSlider")->accessibility().label, "Transition duration");
  // From elsewhere: the readout rounds (halves away from zero), the
  // slider's accessibility value truncates.
  engine->setStoredMilliseconds(150.5);
  scope->runUntilIdle();
  EXPECT_EQ(readout(), "151");
  EXPECT_TRUE(graph->findLabel("151 milliseconds"));
  EXPECT_EQ(graph->findKind("DurationSlider")->accessibility().value, "150 milliseconds");
  EXPECT_EQ(s->doubleValue(), 150.5) << "the slider shows the bound value";
  engine->setStoredMilliseconds(150.4);
  scope->runUntilIdle();
  EXPECT_EQ(readout(), "150");
  EXPECT_TRUE(graph->findText("Snappy") && graph->findText("Relaxed"));
}

TEST_F(DurationControlsTest, TheReadoutKeepsEveryValueOnOneLineAtItsNaturalWidth) {
  show(TransitionDurationControl(engine).padding(16), {360, 110});
  for (int milliseconds = 60; milliseconds <= 220; milliseconds += 10) {
    engine->setStoredMilliseconds(milliseconds);
    scope->runUntilIdle();
    const Node& stack = *graph->findKind("DurationReadout")->node().children[0];
    ASSERT_EQ(stack.children.size(), 2u);
    const Node& number = *stack.children[0];
    const Node& unit = *stack.children[1];
    ASSERT_EQ(number.view.desc().text, std::to_string(milliseconds));
    for (const Node* text : {&number, &unit}) {
      const auto natural = measureText(text->view.desc().text, text->environment.font, std::nullopt).size;
      EXPECT_EQ(text->frame.size, natural) << milliseconds << " \"" << text->view.desc().text << "\"";
    }
    EXPECT_EQ(number.frame.origin.y, unit.frame.origin.y) << milliseconds;
    EXPECT_EQ(CGRectGetMaxX(number.frame), unit.frame.origin.x) << milliseconds;
  }
}

TEST_F(DurationControlsTest, TheTintProminenceIsSetFromMacOS26Only) {
  struct Case {
    int major;
    std::optional<long> prominence;
  } cases[] = {{25, std::nullopt}, {26, 2}, {27, 2}};
  for (const auto& c : cases) {
    ProcessInfo::setOperatingSystemVersion({c.major, 0, 0});
    show(DurationSlider(Binding<double>::constant(150)));
    EXPECT_EQ(slider()->tintProminence(), c.prominence) << c.major;
  }
}

TEST_F(DurationControlsTest, TheReadoutBlursUntilPointOneOneSecondsAfterTheLastChange) {
  show(TransitionDurationControl(engine));
  EXPECT_EQ(blur(), 0);
  engine->setStoredMilliseconds(160);
  scope->runUntilIdle();
  EXPECT_EQ(blur(), 1.2);
  scope->advance(0.05);
  engine->setStoredMilliseconds(170);  // restarts the settle period
  scope->runUntilIdle();
  scope->advance(0.109);
  EXPECT_EQ(blur(), 1.2) << "0.109 s after the last change";
  scope->advance(0.001);
  scope->runUntilIdle();
  EXPECT_EQ(blur(), 0) << "0.11 s after it";
  const auto records = graph->animations();
  ASSERT_FALSE(records.empty());
  EXPECT_EQ(records.front().animation, Animation::easeOut(0.16));

  engine->setStoredMilliseconds(180);
  scope->runUntilIdle();
  NSWorkspace::sharedWorkspace().setReduceMotion(true);
  scope->runUntilIdle();
  EXPECT_EQ(blur(), 0) << "turning Reduce Motion on clears the blur at once";
  const size_t before = graph->animations().size();
  engine->setStoredMilliseconds(190);
  scope->runUntilIdle();
  EXPECT_EQ(blur(), 0) << "no blur under Reduce Motion";
  for (size_t i = before; i < graph->animations().size(); ++i)
    EXPECT_EQ(graph->animations()[i].animation, std::nullopt) << "and no animation";
}

TEST_F(DurationControlsTest, ThePressStyleDimsAndShrinksAsTheStateAsks) {
  struct Case {
    bool pressed, hovered, reduceMotion;
    double opacity, scale;
  } cases[] = {{false, false, false, 1.0, 1.0},  {false, true, false, 0.88, 1.0}, {true, false, false, 0.72, 0.985},
               {true, true, false, 0.72, 0.985}, {true, false, true, 0.72, 1.0},  {false, true, true, 0.88, 1.0}};
  for (const auto& c : cases) {
    NSWorkspace::sharedWorkspace().setReduceMotion(c.reduceMotion);
    show(Button("Go", [] {}).buttonStyle(SettingsPressStyle()));
    auto go = graph->findText("Go");
    if (c.hovered) go->hover(true);
    if (c.pressed) go->press();
    scope->runUntilIdle();
    const Node& styled = *graph->findKind("SettingsPressStyle")->node().children[0];
    EXPECT_EQ(styled.modifier("opacity")->number("value"), c.opacity);
    EXPECT_EQ(styled.modifier("scaleEffect")->number("value"), c.scale);
    EXPECT_EQ(styled.modifier("animation")->string("kind"), c.reduceMotion ? "none" : "easeOut");
  }
}

TEST_F(DurationControlsTest, TheErrorHelpOpensAndClosesItsPopoverAndNamesThePaneOfTheSystem) {
  int opened = 0;
  struct Case {
    int major;
    bool needsAccessibility;
    const char* button;
  } cases[] = {{26, true, "Open Accessibility Settings\u2026"},
               {27, true, "Open Device Control and Data Access Settings\u2026"},
               {27, false, nullptr}};
  for (const auto& c : cases) {
    ProcessInfo::setOperatingSystemVersion({c.major, 0, 0});
    show(AnimationErrorHelp("Accessibility access is needed.", c.needsAccessibility, [&] { ++opened; }));
    auto help = graph->findLabel("Animation error details");
    ASSERT_TRUE(help);
    EXPECT_FALSE(graph->findText("Accessibility access is needed."));
    help->tap();
    scope->runUntilIdle();
    EXPECT_TRUE(graph->findText("Accessibility access is needed."));
    EXPECT_EQ(graph->findKind("Button", 1).has_value(), c.button != nullptr);
    if (c.button) {
      // A standard button with its bezel: the warning button's press style
      // stays on the warning button.
      EXPECT_FALSE(graph->findKind("Button", 1)->node().environment.values.count("buttonStyle")) << c.major;
      EXPECT_FALSE(graph->findKind("SettingsPressStyle", 1)) << c.major;
      EXPECT_TRUE(graph->findText(c.button)->tap());
      scope->runUntilIdle();
    }
    graph->findLabel("Animation error details")->tap();
    scope->runUntilIdle();
    EXPECT_FALSE(graph->findText("Accessibility access is needed.")) << "pressing twice closes it";
  }
  EXPECT_EQ(opened, 2);
  show(AnimationErrorHelp("Failed.", false, [] {}));
  graph->findLabel("Animation error details")->tap();
  scope->runUntilIdle();
  EXPECT_TRUE(graph->findText("Failed.")->dismissPopover()) << "a click outside closes it";
  scope->runUntilIdle();
  EXPECT_FALSE(graph->findText("Failed."));
}

// (The error help's picture is the General page's, in the settings page's.)
TEST_F(DurationControlsTest, TheControlMatchesItsStoredPicture) {
  ProcessInfo::setOperatingSystemVersion({26, 0, 0});
  engine->setStoredMilliseconds(150);
  show(TransitionDurationControl(engine).padding(16), {360, 110});
  expectMatchesStoredPicture(*graph, VURLE_PICTURES_DIR, "transition_duration_control");
}

}  // namespace
}  // namespace vurle
