#include "ui/onboarding/welcome_step.hpp"

#include <gtest/gtest.h>

#include "platform/ui/picture_test_support.hpp"
#include "ui/onboarding/onboarding_test_support.hpp"
#include "ui/onboarding/pointer_test_strip.hpp"

namespace vurle {
namespace {

using platform::ui::Node;

class WelcomeStepTest : public testing::OnboardingTest {
 protected:
  std::shared_ptr<PointerTestStripView> strip() const {
    return std::dynamic_pointer_cast<PointerTestStripView>(graph().findKind("PointerTestStrip")->hostedView());
  }
  platform::ui::ViewRef playPause() const {
    auto found = graph().findLabel("Pause cursor preview");
    if (!found) found = graph().findLabel("Play cursor preview");
    if (!found) throw std::logic_error("no play/pause button");
    return *found;
  }
};

TEST_F(WelcomeStepTest, TheStripMorphsItselfOnlyWithAnimationsOnReduceMotionOffAndNoSystemWideEngine) {
  struct Case {
    const char* what;
    bool enabled, reduceMotion, systemWide;
    double milliseconds;
    std::optional<double> seconds;
  };
  const Case cases[] = {
      {"the default", true, false, false, 150, 0.15},
      {"the shortest setting", true, false, false, 60, 0.06},
      {"just inside the low end", true, false, false, 45, 0.045},
      {"below the low end", true, false, false, 44, 0.045},
      {"at the high end", true, false, false, 400, 0.4},
      {"above the high end", true, false, false, 401, 0.4},
      {"animations off", false, false, false, 150, std::nullopt},
      {"Reduce Motion", true, true, false, 150, std::nullopt},
      {"the engine animates system-wide", true, false, true, 150, std::nullopt},
  };
  for (const auto& c : cases) {
    const auto seconds = welcomeStripDuration(c.enabled, c.reduceMotion, c.systemWide, c.milliseconds);
    ASSERT_EQ(seconds.has_value(), c.seconds.has_value()) << c.what;
    if (seconds) {
      EXPECT_NEAR(*seconds, *c.seconds, 1e-12) << c.what;
    }
  }

  // The page hands the strip the rule's answer and follows the switch and
  // the engine's duration.
  make(false, false);
  show();
  ASSERT_TRUE(strip());
  EXPECT_EQ(strip()->localAnimationDuration(), std::optional<double>(0.15));
  engine->setStoredMilliseconds(200);
  turn();
  EXPECT_EQ(strip()->localAnimationDuration(), std::optional<double>(0.2));
  graph().findLabel("Animate cursors")->tap();
  turn();
  EXPECT_FALSE(flow->animationsEnabled()) << "the switch is the flow's";
  EXPECT_EQ(strip()->localAnimationDuration(), std::nullopt);
  platform::NSWorkspace::sharedWorkspace().setReduceMotion(true);
  flow->setAnimationsEnabled(true);
  turn();
  EXPECT_EQ(strip()->localAnimationDuration(), std::nullopt) << "Reduce Motion";
  EXPECT_TRUE(shows("Reduce Motion is on. Cursor changes stay instant."));
  platform::NSWorkspace::sharedWorkspace().setReduceMotion(false);
  turn();
  EXPECT_FALSE(shows("Reduce Motion is on. Cursor changes stay instant."));
}

TEST_F(WelcomeStepTest, TheCanvasGivesUpRoomOnlyWhileTheConsentShowsItsErrorLine) {
  struct Case {
    bool accepted;
    testing::DocumentState document;
    double height;
  };
  using testing::DocumentState;
  const Case cases[] = {
      {false, DocumentState::valid, 150},  {false, DocumentState::missing, 106}, {false, DocumentState::invalid, 106},
      {true, DocumentState::valid, 150},
  };
  for (const auto& c : cases) {
    make(c.accepted, false, c.document);
    show();
    const auto canvas = graph().findKind("SpeedExampleCanvas");
    ASSERT_TRUE(canvas);
    EXPECT_DOUBLE_EQ(canvas->frame().size.height, c.height) << c.accepted << " " << int(c.document);
    EXPECT_TRUE(canvas->accessibility().hidden);
    TearDown();
    SetUp();
  }
}

TEST_F(WelcomeStepTest, PlayAndPauseFollowThePlaybackTheSwitchAndReduceMotion) {
  struct Case {
    const char* what;
    bool enabled, reduceMotion, playing;
    const char* symbol;
    const char* label;
    bool tappable;
    bool playingAfterTap;
  };
  const Case cases[] = {
      {"playing", true, false, true, "pause.fill", "Pause cursor preview", true, false},
      {"paused", true, false, false, "play.fill", "Play cursor preview", true, true},
      {"animations off", false, false, false, "play.fill", "Play cursor preview", false, false},
      {"Reduce Motion", true, true, false, "play.fill", "Play cursor preview", false, false},
  };
  for (const auto& c : cases) {
    make(true, false);
    platform::NSWorkspace::sharedWorkspace().setReduceMotion(c.reduceMotion);
    flow->setAnimationsEnabled(c.enabled);
    show();
    if (!c.playing) examples->stop();
    turn();
    const auto button = playPause();
    EXPECT_EQ(button.accessibility().label, c.label) << c.what;
    const auto symbol = graph().findAll([&](const Node& n) {
      return n.kind() == "Image" && n.identity.starts_with(button.identity());
    });
    ASSERT_FALSE(symbol.empty()) << c.what;
    EXPECT_EQ(symbol.front().node().view.desc().systemImage, c.symbol) << c.what;
    EXPECT_EQ(button.tap(), c.tappable) << c.what;
    turn();
    EXPECT_EQ(examples->isPlaying(), c.playingAfterTap) << c.what;
    TearDown();
    SetUp();
  }
}

// The card's accessibility containers, and the strip's hover retargeting
// the examples.
TEST_F(WelcomeStepTest, TheCardIsLabelledAndHoveringTheStripRetargetsTheExamples) {
  make(false, false);
  show();
  // Containers: their children stay elements of their own.
  for (const std::string label : {"Cursor playground", "Animated cursor preview", "Cursor testing controls"}) {
    const auto found = graph().findAll([&](const Node& n) {
      const auto* named = n.modifier("accessibilityLabel");
      const auto* element = n.modifier("accessibilityElement");
      return named && named->string("value") == label && element && element->string("value") == "contain";
    });
    EXPECT_EQ(found.size(), 1u) << label;
  }
  EXPECT_TRUE(graph().findLabel("Animate cursors"));
  EXPECT_TRUE(graph().findLabel("Pause cursor preview")) << "a child of the preview is still reachable";
  const auto s = strip();
  ASSERT_TRUE(s);
  const CGRect f = s->frame();
  const auto enter = [&](double x) {
    // The hosting view is flipped and fills the 591-point window.
    s->mouseEntered(platform::NSEvent(platform::NSEventTypeMouseEntered, {f.origin.x + x, 591 - (f.origin.y + 20)}, 0, 1));
  };
  enter(s->regionRect(4).origin.x + 5);
  ASSERT_TRUE(examples->hoveredCursor());
  EXPECT_EQ(examples->hoveredCursor()->name, "Text");
  s->cancelCursorTest();
  EXPECT_FALSE(examples->hoveredCursor()) << "leaving ends the hover";
}

TEST_F(WelcomeStepTest, PicturesBeforeAndAfterTheConsent) {
  make(false, false);
  show();
  examples->reset();
  platform::ui::expectMatchesStoredPicture(graph(), VURLE_PICTURES_DIR, "onboarding_welcome_unaccepted");
  TearDown();
  SetUp();
  make(true, false);
  show();
  examples->reset();
  platform::ui::expectMatchesStoredPicture(graph(), VURLE_PICTURES_DIR, "onboarding_welcome_accepted");
}

}  // namespace
}  // namespace vurle
