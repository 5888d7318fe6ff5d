#include "ui/settings/morph_preview_card.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <set>

#include "cursor/art/native_cursor_library.hpp"
#include "platform/appkit/cursor.hpp"
#include "platform/appkit/display_link.hpp"
#include "platform/appkit/event.hpp"
#include "platform/appkit/workspace.hpp"
#include "ui/onboarding/pointer_test_strip.hpp"
#include "ui/settings/settings_test_support.hpp"

namespace vurle {
namespace {

using namespace platform;
using namespace platform::ui;

class MorphPreviewCardTest : public testing::SettingsPageTest {
 protected:
  void SetUp() override {
    SettingsPageTest::SetUp();
    refresh = CADisplayLink::scheduleRefresh(1.0 / 120);
    NSWorkspace::sharedWorkspace().activateApplication(::getpid());
    preferences->setSelectedTab(SettingsTab::preview);
  }
  void TearDown() override {
    refresh->invalidate();
    SettingsPageTest::TearDown();
  }
  // The texts and symbols at or below a node.
  static std::set<std::string> contents(const Node& node) {
    std::set<std::string> found;
    std::function<void(const Node&)> visit = [&](const Node& n) {
      if (n.kind() == "Text") found.insert(n.view.desc().text);
      if (n.kind() == "Image") found.insert(n.view.desc().systemImage);
      for (const auto& c : n.children) visit(*c);
      for (const auto& [i, c] : n.modifierChildren) visit(*c);
    };
    visit(node);
    return found;
  }
  // A click of the window's pointer at a point of the page (y down).
  void clickAt(CGPoint point) {
    const NSPoint at{point.x, 591 - point.y};
    window->sendEvent(NSEvent(NSEventTypeLeftMouseDown, at, 0, 0));
    window->sendEvent(NSEvent(NSEventTypeLeftMouseUp, at, 0, 0));
  }
  void movePointer(CGPoint point) { window->sendEvent(NSEvent(NSEventTypeMouseMoved, {point.x, 591 - point.y}, 0, 0)); }
  static CGPoint middle(CGRect r) { return {CGRectGetMidX(r), CGRectGetMidY(r)}; }

  std::shared_ptr<DisplayRefresh> refresh;
};

TEST_F(MorphPreviewCardTest, TheColumnsMarkThePresetTheEngineUsesAndRestUnderReduceMotion) {
  struct Case {
    double engineMs;
    bool reduceMotion;
    const char* labels[3];
    bool selected[3];
    bool enabled[3];
    bool buttonText[3];
  } cases[] = {
      {60, false,
       {"Replay Current at 60 milliseconds", "Replay Snappy at 60 milliseconds", "Apply Relaxed at 220 milliseconds"},
       {false, true, false}, {true, true, true}, {true, true, true}},
      {150, false,
       {"Replay Current at 150 milliseconds", "Apply Snappy at 60 milliseconds", "Apply Relaxed at 220 milliseconds"},
       {false, false, false}, {true, true, true}, {true, true, true}},
      {220, false,
       {"Replay Current at 220 milliseconds", "Apply Snappy at 60 milliseconds", "Replay Relaxed at 220 milliseconds"},
       {false, false, true}, {true, true, true}, {true, true, true}},
      {150, true,
       {"Replay Current at 150 milliseconds", "Apply Snappy at 60 milliseconds", "Apply Relaxed at 220 milliseconds"},
       {false, false, false}, {false, true, true}, {false, true, true}},
      {60, true,
       {"Replay Current at 60 milliseconds", "Replay Snappy at 60 milliseconds", "Apply Relaxed at 220 milliseconds"},
       {false, true, false}, {false, false, true}, {false, false, true}},
  };
  show();
  for (const auto& k : cases) {
    engine->setStoredMilliseconds(k.engineMs);
    NSWorkspace::sharedWorkspace().setReduceMotion(k.reduceMotion);
    turn();
    for (int i = 0; i < 3; ++i) {
      auto column = graph().findLabel(k.labels[i]);
      ASSERT_TRUE(column) << k.labels[i] << " at " << k.engineMs;
      const auto shown = contents(column->node());
      const std::string text = k.selected[i] || i == 0 ? "Replay" : "Apply";
      EXPECT_EQ(column->accessibility().traits.count("isSelected"), k.selected[i] ? 1u : 0u) << k.labels[i];
      EXPECT_EQ(shown.count("checkmark"), k.selected[i] ? 1u : 0u) << k.labels[i];
      EXPECT_EQ(column->isEnabled(), k.enabled[i]) << k.labels[i] << (k.reduceMotion ? " under Reduce Motion" : "");
      EXPECT_EQ(shown.count(text), k.buttonText[i] ? 1u : 0u) << k.labels[i];
    }
    EXPECT_EQ(shows("Paused for Reduce Motion"), k.reduceMotion);
    EXPECT_EQ(shows("Compare speeds and apply a preset"), !k.reduceMotion);
    EXPECT_EQ(graph().findLabel(examples->isPlaying() ? "Pause preview" : "Play preview")->isEnabled(),
              !k.reduceMotion);
  }
  // An apply column still sets the duration under Reduce Motion.
  graph().findLabel("Apply Relaxed at 220 milliseconds")->tap();
  turn();
  EXPECT_EQ(engine->storedMilliseconds(), 220);
}

TEST_F(MorphPreviewCardTest, AfterApplyTheNextFrameOfTheCurrentExampleMorphsAtTheNewDuration) {
  show();
  ASSERT_TRUE(examples->isPlaying());
  scope->advance(0.05);
  EXPECT_DOUBLE_EQ(examples->animation(0).duration, 0.15);

  // A click of the window's pointer on "Apply" under "Relaxed", then one
  // display-link frame: the page has handed the duration on before it.
  clickAt(middle(graph().findLabel("Apply Relaxed at 220 milliseconds")->node().outerFrame));
  EXPECT_EQ(engine->storedMilliseconds(), 220);
  scope->advance(1.0 / 120);
  EXPECT_EQ(examples->currentMilliseconds(), 220);
  EXPECT_EQ(examples->targetName(), "Add") << "the examples restarted from rest";
  const double seconds[] = {0.22, 0.06, 0.22};
  for (int slot = 0; slot < 3; ++slot) {
    EXPECT_DOUBLE_EQ(examples->animation(slot).duration, seconds[slot]) << slot;
    EXPECT_TRUE(examples->animation(slot).isRunning(examples->clock())) << slot;
  }
  auto relaxed = graph().findLabel("Replay Relaxed at 220 milliseconds");
  ASSERT_TRUE(relaxed);
  EXPECT_TRUE(relaxed->accessibility().traits.count("isSelected"));
  EXPECT_TRUE(graph().findLabel("Replay Current at 220 milliseconds"));

  // Pause and play.
  graph().findLabel("Pause preview")->tap();
  turn();
  EXPECT_FALSE(examples->isPlaying());
  graph().findLabel("Play preview")->tap();
  turn();
  EXPECT_TRUE(examples->isPlaying());
}

TEST_F(MorphPreviewCardTest, HoveringRegionFourMorphsEveryExampleToTheTextCursorAndLeavingTheSectionCancelsTheTest) {
  show();
  ASSERT_TRUE(examples->isPlaying());
  scope->advance(0.1);
  auto strip = PointerTestStripView::activeStrip();
  ASSERT_TRUE(strip);
  const CGRect f = strip->frame();
  const CGPoint region4{f.origin.x + f.size.width * 4.5 / 6, CGRectGetMidY(f)};
  movePointer(region4);
  ASSERT_TRUE(examples->hoveredCursor());
  EXPECT_EQ(examples->hoveredCursor()->name, "Text");
  EXPECT_EQ(examples->targetName(), "Text");
  const auto text = NativeCursorLibrary::shared()->match(NSCursor::IBeamCursor())->identity();
  for (int slot = 0; slot < 3; ++slot) {
    EXPECT_EQ(examples->animation(slot).to->identity(), text) << slot;
    EXPECT_TRUE(examples->animation(slot).isRunning(examples->clock())) << slot << ": a morph, not a jump";
  }

  // Off the strip: the examples' own cycle resumes 0.9 s later.
  movePointer({f.origin.x + 10, f.origin.y - 30});
  EXPECT_FALSE(examples->hoveredCursor());
  EXPECT_DOUBLE_EQ(examples->nextChange(), examples->clock() + 0.9);

  // Back on region 4, then another section: the strip's test ends.
  movePointer(region4);
  ASSERT_EQ(strip->hoveredIndex(), 4);
  preferences->setSelectedTab(SettingsTab::general);
  turn();
  EXPECT_EQ(strip->hoveredIndex(), std::nullopt);
  EXPECT_EQ(strip->requestedCursorIndex(), std::nullopt);
  EXPECT_FALSE(examples->isPlaying());
}

}  // namespace
}  // namespace vurle
