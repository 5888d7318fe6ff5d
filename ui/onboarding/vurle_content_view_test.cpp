#include "ui/onboarding/vurle_content_view.hpp"

#include <gtest/gtest.h>

#include "platform/ui/picture_test_support.hpp"
#include "ui/onboarding/onboarding_test_support.hpp"

namespace vurle {
namespace {

using platform::ui::Node;

class VurleContentViewTest : public testing::OnboardingTest {
 protected:
  // The window with the content view at its root; `first` a first run
  // that reached the last page.
  void showContent(bool first) {
    make(true, true, testing::DocumentState::valid, !first);
    settingsExamples = MorphSpeedExamples::make({150, 60, 220}, true);
    const VurleContentView root{preferences, flow, engine, settingsExamples, examples, loginItem, agreement};
    window = platform::NSWindow::make(platform::CGRectMake(200, 100, 460, 591), 2);
    host = platform::ui::NSHostingView::make(root.body(), platform::CGRectMake(0, 0, 460, 591));
    window->setContentView(host);
    window->makeKeyAndOrderFront();
    turn();
    writes = 0;
    subscription = flow->showsCompletionPublisher().sink([this](const bool& shows) {
      if (!shows) ++writes;
    });
  }
  // The onboarding completed from its last page.
  void complete() {
    flow->setStep(2);
    turn();
    flow->completeOnboarding();
    turn();
    writes = 0;  // finishing clears the flag on its way; the card's own writes count
  }
  bool cardShows() const { return graph().findLabel("You\u2019re all set.").has_value(); }
  const Node& content() const {
    auto found = graph().findAll([](const Node& n) { return n.kind() == "Conditional" && n.parent && n.parent->kind() == "ZStack" && n.parent->parent &&
             n.parent->parent->kind() == "VurleContentView";
    });
    if (found.empty()) throw std::logic_error("no content");
    return found.front().node();
  }
  std::shared_ptr<MorphSpeedExamples> settingsExamples;
  platform::AnyCancellable subscription;
  int writes = 0;
};

// The page follows the preferences' flag, both ways.
TEST_F(VurleContentViewTest, ShowsTheOnboardingOrTheSettingsPageByThePreferences) {
  showContent(true);
  EXPECT_TRUE(graph().findKind("OnboardingView"));
  EXPECT_FALSE(graph().findKind("LabView"));
  preferences->setShowsOnboarding(false);
  turn();
  EXPECT_FALSE(graph().findKind("OnboardingView"));
  EXPECT_TRUE(graph().findKind("LabView"));
  preferences->setShowsOnboarding(true);
  turn();
  EXPECT_TRUE(graph().findKind("OnboardingView"));
  EXPECT_FALSE(cardShows());
}

// The card after a first onboarding stays for exactly 2 s of the clock.
TEST_F(VurleContentViewTest, TheCardGoesAtTwoSecondsNotBefore) {
  for (bool reduceMotion : {false, true}) {
    platform::NSWorkspace::sharedWorkspace().setReduceMotion(reduceMotion);
    showContent(true);
    complete();
    ASSERT_TRUE(cardShows()) << reduceMotion;
    EXPECT_TRUE(graph().findKind("LabView")) << "the settings page is under the card";
    scope->advance(1.99);
    EXPECT_TRUE(cardShows()) << reduceMotion;
    EXPECT_EQ(writes, 0);
    scope->advance(0.01);
    EXPECT_FALSE(cardShows()) << reduceMotion;
    EXPECT_FALSE(flow->showsCompletion());
    EXPECT_EQ(writes, 1);
    bool animated = false, none = false;
    for (const auto& record : graph().animations()) {
      if (record.transaction) continue;
      if (record.animation && record.animation->kind == "easeInOut" && record.animation->duration == 0.22) animated = true;
      if (!record.animation) none = true;
    }
    EXPECT_EQ(animated, !reduceMotion) << reduceMotion;
    EXPECT_EQ(none, reduceMotion) << reduceMotion;
    TearDown();
    SetUp();
  }
}

// Escape or a click at 1 s takes the card away with one write, and the
// pending dismissal then writes nothing more.
TEST_F(VurleContentViewTest, EscapeOrAClickDismissesOnceAndCancelsTheTimer) {
  struct Case {
    const char* what;
    bool escape;
  };
  const Case cases[] = {{"Escape", true}, {"a click", false}};
  for (const auto& c : cases) {
    showContent(true);
    complete();
    scope->advance(1.0);
    ASSERT_TRUE(cardShows()) << c.what;
    if (c.escape) {
      window->sendEvent(*platform::NSEvent::keyEventWithType(platform::NSEventTypeKeyDown, 0, "\x1b", "\x1b", 53));
    } else {
      EXPECT_TRUE(graph().tap({40, 500}));
    }
    turn();
    EXPECT_FALSE(cardShows()) << c.what;
    EXPECT_EQ(writes, 1) << c.what;
    // A card due again half a second later keeps its own full 2 s: the
    // dismissed card's pending dismissal was cancelled with it.
    scope->advance(0.5);
    flow->setShowsCompletion(true);
    turn();
    scope->advance(1.99);
    EXPECT_TRUE(cardShows()) << c.what << ": the first card's timer was cancelled";
    EXPECT_EQ(writes, 1) << c.what;
    scope->advance(0.01);
    EXPECT_FALSE(cardShows()) << c.what;
    EXPECT_EQ(writes, 2) << c.what;
    TearDown();
    SetUp();
  }
}

// While the card shows the page beneath is blurred (not under Reduce
// Transparency, where the card is opaque instead), takes no clicks and is
// hidden from accessibility; a later onboarding brings no card.
TEST_F(VurleContentViewTest, ThePageUnderTheCardIsUnreachable) {
  for (bool reduceTransparency : {false, true}) {
    platform::NSWorkspace::sharedWorkspace().setReduceTransparency(reduceTransparency);
    showContent(true);
    complete();
    ASSERT_TRUE(cardShows());
    EXPECT_DOUBLE_EQ(content().modifier("blur")->number("radius", -1), reduceTransparency ? 0.0 : 14.0);
    EXPECT_FALSE(content().modifier("allowsHitTesting")->flag("enabled", true));
    EXPECT_TRUE(content().modifier("accessibilityHidden")->flag("value", false));
    auto hit = graph().hitTest({230, 100});
    ASSERT_TRUE(hit);
    EXPECT_FALSE(hit->identity().starts_with(content().identity)) << "a click lands on the card";
    EXPECT_FALSE(graph().findLabel("Settings tabs").has_value());
    const std::string under = content().identity;
    auto card = graph().findAll([&](const Node& n) {
      return n.kind() == "Color" && n.view.desc().color.name == "windowBackground" && !n.identity.starts_with(under);
    });
    ASSERT_EQ(card.size(), 1u);
    EXPECT_DOUBLE_EQ(card.front().node().view.desc().color.opacity, reduceTransparency ? 1.0 : 0.72);
    graph().tap({40, 500});
    turn();
    EXPECT_DOUBLE_EQ(content().modifier("blur")->number("radius", -1), 0.0);
    EXPECT_TRUE(content().modifier("allowsHitTesting")->flag("enabled", false));
    EXPECT_FALSE(content().modifier("accessibilityHidden")->flag("value", true));
    TearDown();
    SetUp();
  }
  showContent(false);
  complete();
  EXPECT_FALSE(cardShows()) << "an onboarding completed before brings no card";
}

TEST_F(VurleContentViewTest, PictureOfTheCardOverSettings) {
  showContent(true);
  complete();
  platform::ui::expectMatchesStoredPicture(graph(), VURLE_PICTURES_DIR, "completion_card");
}

}  // namespace
}  // namespace vurle
