#include "ui/onboarding/accessibility_step.hpp"

#include <gtest/gtest.h>

#include "platform/ui/picture_test_support.hpp"
#include "ui/onboarding/onboarding_test_support.hpp"

namespace vurle {
namespace {

using platform::ui::Node;

class AccessibilityStepTest : public testing::OnboardingTest {
 protected:
  std::string statusSymbol() const {
    const auto page = graph().findKind("AccessibilityStep");
    auto found = graph().findAll([&](const Node& n) {
      return n.kind() == "Image" && n.identity.starts_with(page->identity()) && !n.view.desc().systemImage.empty();
    });
    return found.empty() ? std::string() : found.front().node().view.desc().systemImage;
  }
};

// Both states on both namings of the pane.
TEST_F(AccessibilityStepTest, BothStatesNameThePaneAsTheRunningSystemDoes) {
  struct Case {
    int major;
    bool granted;
    const char* title;
    const char* line;
    const char* symbol;
    const char* instruction;  // empty: none shown
  };
  const Case cases[] = {
      {26, false, "Accessibility", "One permission, set in System Settings.", "accessibility",
       "Open Accessibility settings, turn on vurle, then return here."},
      {27, false, "Device Control and Data Access", "One permission, set in System Settings.", "accessibility",
       "Open Device Control and Data Access settings, turn on vurle, then return here."},
      {26, true, "Access allowed", "vurle is ready to animate across apps.", "checkmark.circle.fill", ""},
      {27, true, "Access allowed", "vurle is ready to animate across apps.", "checkmark.circle.fill", ""},
  };
  for (const auto& c : cases) {
    platform::ProcessInfo::setOperatingSystemVersion({c.major, 0, 0});
    make(true, c.granted);
    flow->setStep(1);
    show();
    const std::string what = std::to_string(c.major) + (c.granted ? " granted" : " not granted");
    EXPECT_TRUE(shows(c.title)) << what;
    EXPECT_TRUE(shows(c.line)) << what;
    EXPECT_EQ(statusSymbol(), c.symbol) << what;
    EXPECT_TRUE(shows("vurle checks which window is under your pointer and pauses while you type. It doesn\u2019t read "
                      "typed text or record your screen."))
        << what;
    const bool instructs = *c.instruction != 0;
    if (instructs) {
      EXPECT_TRUE(shows(c.instruction)) << what;
    }
    EXPECT_EQ(shows("If vurle isn\u2019t listed, use + to add the app."), instructs) << what;
    EXPECT_EQ(graph().findKind("Divider").has_value(), instructs) << what;
    TearDown();
    SetUp();
  }
}

// Granted in System Settings while the page shows: seen by the next tick,
// within a second, and the card and the button change with it (animated
// unless Reduce Motion is on). A revoked grant goes back the same way.
TEST_F(AccessibilityStepTest, AGrantIsSeenWithinASecondAndARevocationToo) {
  for (bool reduceMotion : {false, true}) {
    platform::NSWorkspace::sharedWorkspace().setReduceMotion(reduceMotion);
    make(true, false);
    flow->setStep(1);
    show();
    const double shown = scope->now();
    scope->advance(0.4);
    ASSERT_EQ(enables, 0) << reduceMotion;
    grant(true);
    scope->advance(shown + 1.0 - scope->now());
    EXPECT_TRUE(shows("Access allowed"));
    EXPECT_TRUE(shows("Next"));
    EXPECT_EQ(enables, 1) << reduceMotion << ": the grant with the agreement accepted starts the animations";
    const auto card = graph().findKind("AccessibilityStep");
    bool animated = false, none = false;
    for (const auto& record : graph().animations()) {
      if (!record.identity.starts_with(card->identity())) continue;
      if (record.animation && record.animation->kind == "easeInOut" && record.animation->duration == 0.2) animated = true;
      if (!record.animation) none = true;
    }
    EXPECT_EQ(animated, !reduceMotion);
    EXPECT_EQ(none, reduceMotion);
    grant(false);
    scope->advance(1.0);
    EXPECT_TRUE(shows("Open Settings"));
    EXPECT_TRUE(shows("Accessibility"));
    TearDown();
    SetUp();
  }
}

TEST_F(AccessibilityStepTest, PicturesOfBothStates) {
  make(true, false);
  flow->setStep(1);
  show();
  platform::ui::expectMatchesStoredPicture(graph(), VURLE_PICTURES_DIR, "onboarding_accessibility_not_granted");
  TearDown();
  SetUp();
  make(true, true);
  flow->setStep(1);
  show();
  platform::ui::expectMatchesStoredPicture(graph(), VURLE_PICTURES_DIR, "onboarding_accessibility_granted");
}

}  // namespace
}  // namespace vurle
