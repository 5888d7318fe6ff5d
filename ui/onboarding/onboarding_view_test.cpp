#include "ui/onboarding/onboarding_view.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/appkit/application.hpp"
#include "platform/notifications/notification_center.hpp"
#include "platform/ui/picture_test_support.hpp"
#include "ui/onboarding/onboarding_test_support.hpp"
#include "ui/onboarding/pointer_test_strip.hpp"

namespace vurle {
namespace {

using platform::ui::Environment;
using platform::ui::Font;
using platform::ui::FontWeight;
using platform::ui::Node;
using platform::ui::ViewRef;

class OnboardingViewTest : public testing::OnboardingTest {
 protected:
  // The stack of header, title, page and spacer inside the geometry reader.
  const Node& pageStack() const {
    auto found = graph().findAll([](const Node& n) { return n.kind() == "VStack" && n.parent && n.parent->kind() == "GeometryReader"; });
    if (found.size() != 1) throw std::logic_error("no page stack");
    return found.front().node();
  }
  std::string symbolOf(const ViewRef& button) const {
    auto found = graph().findAll([&](const Node& n) {
      return n.kind() == "Image" && n.identity.starts_with(button.identity()) && !n.view.desc().systemImage.empty();
    });
    return found.empty() ? std::string() : found.front().node().view.desc().systemImage;
  }
  std::string textOf(const ViewRef& button) const {
    auto found = graph().findAll([&](const Node& n) { return n.kind() == "Text" && n.identity.starts_with(button.identity()); });
    return found.empty() ? std::string() : found.front().node().view.desc().text;
  }
};

// The footer's room under the pages and whether the consent block shows.
TEST_F(OnboardingViewTest, TheFooterReserveFollowsTheStepAndTheAgreement) {
  struct Case {
    const char* what;
    int step;
    bool accepted;
    testing::DocumentState document;
    double reserve;
    bool consent;
  };
  using testing::DocumentState;
  const Case cases[] = {
      {"step 0, the consent to give", 0, false, DocumentState::valid, 108, true},
      {"step 0, accepted", 0, true, DocumentState::valid, 78, false},
      {"step 0, no document", 0, false, DocumentState::missing, 150, true},
      {"step 0, a document that is not valid", 0, false, DocumentState::invalid, 150, true},
      {"step 1, unaccepted", 1, false, DocumentState::missing, 78, false},
      {"step 2", 2, true, DocumentState::valid, 78, false},
  };
  for (const auto& c : cases) {
    make(c.accepted, true, c.document);
    flow->setStep(c.step);
    show();
    EXPECT_DOUBLE_EQ(591 - CGRectGetMaxY(pageStack().frame), c.reserve) << c.what;
    EXPECT_EQ(graph().findKind("LicenseAgreementConsent").has_value(), c.consent) << c.what;
    EXPECT_DOUBLE_EQ(onboardingFooterReserve(c.step, *agreement), c.reserve) << c.what;
    TearDown();
    SetUp();
  }
}

// The primary button's look and what it and Return do, by step and state.
TEST_F(OnboardingViewTest, ThePrimaryButtonFollowsTheStepTheConsentAndThePermission) {
  struct Case {
    const char* what;
    int step;
    bool accepted, ticked, granted;
    const char* text;
    const char* symbol;
    double width, opacity;
    bool enabled;
    int stepAfter;
    bool acceptedAfter, completedAfter;
    std::vector<std::string> opened;
  };
  const std::string pane = "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility";
  const Case cases[] = {
      {"step 0 unticked", 0, false, false, true, "Next", "arrow.right", 96, 0.45, false, 0, false, false, {}},
      {"step 0 ticked", 0, false, true, true, "Next", "arrow.right", 96, 1, true, 1, true, false, {}},
      {"step 0 accepted before", 0, true, false, true, "Next", "arrow.right", 96, 1, true, 1, true, false, {}},
      {"step 1 not granted", 1, true, false, false, "Open Settings", "arrow.up.right", 142, 1, true, 1, true, false,
       {pane}},
      {"step 1 granted", 1, true, false, true, "Next", "arrow.right", 96, 1, true, 2, true, false, {}},
      {"step 2", 2, true, false, true, "All set", "checkmark", 96, 1, true, 2, true, true, {}},
  };
  for (const auto& c : cases) {
    make(c.accepted, c.granted);
    flow->setStep(c.step);
    flow->setAgreementChecked(c.ticked);
    show();
    const ViewRef button = primaryButton();
    EXPECT_EQ(textOf(button), c.text) << c.what;
    EXPECT_EQ(symbolOf(button), c.symbol) << c.what;
    EXPECT_DOUBLE_EQ(button.frame().size.width, c.width) << c.what;
    EXPECT_DOUBLE_EQ(button.frame().size.height, 36) << c.what;
    EXPECT_DOUBLE_EQ(button.modifier("opacity")->number("value"), c.opacity) << c.what;
    EXPECT_EQ(button.isEnabled(), c.enabled) << c.what;
    pressReturn();
    EXPECT_EQ(flow->step(), c.stepAfter) << c.what;
    EXPECT_EQ(agreement->accepted(), c.acceptedAfter) << c.what;
    EXPECT_EQ(preferences->onboardingCompleted(), c.completedAfter) << c.what;
    EXPECT_EQ(flow->showsCompletion(), c.completedAfter) << c.what << ": the card ends a first onboarding";
    EXPECT_EQ(platform::NSWorkspace::sharedWorkspace().openedURLs(), c.opened) << c.what;
    TearDown();
    SetUp();
  }
}

TEST_F(OnboardingViewTest, TheIndicatorTitlesAndSubtitlesFollowTheStepTheSystemAndTheMenuBarIcon) {
  struct Case {
    int step;
    int major;
    bool showMenuBar;
    const char* title;
    const char* subtitle;
  };
  const Case cases[] = {
      {0, 26, true, "welcome to vurle.", "vurle adds a short animation when your cursor changes."},
      {1, 26, true, "let vurle follow along.", "Grant Accessibility permission to animate your cursor across apps."},
      {1, 27, true, "let vurle follow along.",
       "Grant Device Control and Data Access permission to animate your cursor across apps."},
      {2, 26, true, "a few things to know.", "Use the menu bar icon to open settings or pause animations."},
      {2, 27, false, "a few things to know.", "Open vurle to change settings or pause animations."},
  };
  for (const auto& c : cases) {
    platform::ProcessInfo::setOperatingSystemVersion({c.major, 0, 0});
    make(true, true);
    preferences->setShowMenuBar(c.showMenuBar);
    flow->setStep(c.step);
    show();
    const std::string label = "Step " + std::to_string(c.step + 1) + " of 3";
    const auto indicator = graph().findLabel(label);
    ASSERT_TRUE(indicator) << label;
    EXPECT_TRUE(indicator->accessibility().isElement) << label;
    // The current step's capsule is the long one.
    const auto& capsules = indicator->node().children;
    ASSERT_EQ(capsules.size(), 3u);
    for (int i = 0; i < 3; ++i)
      EXPECT_DOUBLE_EQ(capsules[size_t(i)]->frame.size.width, i == c.step ? 16 : 5) << label << " capsule " << i;
    EXPECT_TRUE(shows(c.title)) << c.title;
    EXPECT_TRUE(shows(c.subtitle)) << c.subtitle;
    // The title is drawn tighter than normal spacing; the subtitle is not.
    const Environment& title = graph().findText(c.title)->node().environment;
    EXPECT_EQ(title.font, Font::system(29, FontWeight::semibold)) << c.title;
    EXPECT_DOUBLE_EQ(title.tracking, -0.7) << c.title;
    EXPECT_DOUBLE_EQ(graph().findText(c.subtitle)->node().environment.tracking, 0) << c.subtitle;
    // The logo fills its frame's width from the column's leading edge.
    const CGRect logo = graph().findLabel("vurle")->node().frame;
    EXPECT_NEAR(logo.origin.x, graph().findText(c.title)->node().frame.origin.x, 0.5) << label;
    EXPECT_NEAR(logo.size.width, 116, 1) << label;
    EXPECT_EQ(graph().findText("Back").has_value(), c.step >= 1) << label;
    TearDown();
    SetUp();
  }
}

// The order of the work on appearing, then each handler in turn, then
// leaving: the examples stop and the active strip's test ends.
TEST_F(OnboardingViewTest, AppearingHandlersAndLeavingDriveTheExamplesTheLoginItemAndThePermission) {
  make(false, false, testing::DocumentState::valid, true);  // the switch stored off by an earlier run
  engine->setStoredMilliseconds(200);
  ASSERT_FALSE(flow->animationsEnabled());
  std::vector<std::string> log;
  int accessReads = 0;
  onStatus = [&] { log.push_back("status, permission read " + std::to_string(accessReads) + " times"); };
  auto accessed = flow->accessibilityGrantedPublisher().sink([&](const bool&) {
    ++accessReads;
    log.push_back("permission, examples at " + std::to_string(int(examples->currentMilliseconds())));
  });
  auto milliseconds = examples->currentMillisecondsPublisher().sink([&](const double& ms) {
    log.push_back("examples take " + std::to_string(int(ms)) + (examples->animationsEnabled() ? ", enabled" : ", disabled"));
  });
  log.clear();
  accessReads = 0;
  show();
  EXPECT_EQ(log, (std::vector<std::string>{"status, permission read 0 times", "permission, examples at 150",
                                           "examples take 200, enabled"}));
  EXPECT_FALSE(examples->animationsEnabled()) << "then the switch's value";

  // The switch, a step away and back, Reduce Motion, activation.
  flow->setAnimationsEnabled(true);
  turn();
  EXPECT_TRUE(examples->animationsEnabled());
  EXPECT_TRUE(examples->isPlaying());
  flow->setStep(1);
  turn();
  EXPECT_FALSE(examples->isPlaying()) << "stopped away from step 0";
  examples->setAnimationsEnabled(false);
  ASSERT_TRUE(graph().findText("Back")->tap());
  turn();
  EXPECT_EQ(flow->step(), 0) << "Back";
  EXPECT_TRUE(examples->animationsEnabled()) << "step 0 enables them after the switch";
  EXPECT_TRUE(examples->isPlaying());
  EXPECT_FALSE(graph().findText("Back")) << "none on step 0";
  ASSERT_TRUE(graph().findText("License Agreement")->tap());
  EXPECT_EQ(reviews, 1) << "the consent's button shows the agreement through the flow";
  platform::NSWorkspace::sharedWorkspace().setReduceMotion(true);
  turn();
  EXPECT_FALSE(examples->isPlaying()) << "reset to rest";
  platform::NSWorkspace::sharedWorkspace().setReduceMotion(false);
  turn();
  EXPECT_TRUE(examples->isPlaying()) << "started again on step 0";

  grant(true);
  const int reads = statusReads;
  platform::NSNotificationCenter::defaultCenter().postNotificationName(platform::NSApplicationDidBecomeActiveNotification,
                                                                       platform::NSApplication::shared().get());
  turn();
  EXPECT_EQ(statusReads, reads + 1);
  EXPECT_TRUE(flow->accessibilityGranted()) << "seen at once on activation";

  // Another strip in front: leaving the onboarding ends its test.
  auto other = platform::NSWindow::make(platform::CGRectMake(700, 100, 420, 46), 2);
  auto strip = PointerTestStripView::make();
  other->setContentView(strip);
  other->makeKeyAndOrderFront();
  strip->mouseEntered(platform::NSEvent(platform::NSEventTypeMouseEntered, {20, 23}, 0, 1));
  ASSERT_EQ(strip->hoveredIndex(), 0);
  host->setRootView(platform::ui::Text("elsewhere"));
  turn();
  EXPECT_FALSE(examples->isPlaying());
  EXPECT_EQ(strip->hoveredIndex(), std::nullopt);
  other->close();
}

// The once-a-second re-read runs on step 1 only, from a timer that goes
// with the view; both sides of the second.
TEST_F(OnboardingViewTest, TheSecondTimerReReadsThePermissionOnlyOnStepOneWhileShown) {
  struct Case {
    const char* what;
    int step;
    bool shown;
    double after;
    bool seen;
  };
  const Case cases[] = {
      {"step 1 just before the tick", 1, true, 0.999, false},
      {"step 1 at the tick", 1, true, 1.0, true},
      {"step 0", 0, true, 3.0, false},
      {"step 2", 2, true, 3.0, false},
      {"step 1 after the onboarding left", 1, false, 3.0, false},
  };
  for (const auto& c : cases) {
    make(true, false);
    flow->setStep(c.step);
    const double start = scope->now();
    show();
    if (!c.shown) {
      host->setRootView(platform::ui::Text("elsewhere"));
      turn();
    }
    grant(true);
    scope->advance(start + c.after - scope->now());
    EXPECT_EQ(flow->accessibilityGranted(), c.seen) << c.what;
    TearDown();
    SetUp();
  }
}

// The renders asked for on appearing are the ones the last page draws in
// this window.
TEST_F(OnboardingViewTest, TheBackdropRendersAskedOnAppearingMatchTheLastPage) {
  make(true, true);
  flow->setStep(2);
  auto second = platform::NSScreen::make(platform::CGRectMake(1440, 0, 1920, 1080), 1);
  platform::NSScreen::setScreens({platform::NSScreen::screens().front(), second});
  using Key = OnboardingWallpaperView::RenderKey;
  EXPECT_EQ(onboardingBackdropRenderKeys(),
            (std::vector<Key>{{{400, 190}, {1440, 900}, 2, false}, {{400, 190}, {1440, 900}, 2, true}}))
      << "no key window: the first screen";
  show();
  window->setFrame(platform::CGRectMake(1600, 200, 460, 591), true);
  window->makeKeyAndOrderFront();
  EXPECT_EQ(onboardingBackdropRenderKeys(),
            (std::vector<Key>{{{400, 190}, {1920, 1080}, 1, false}, {{400, 190}, {1920, 1080}, 1, true}}))
      << "the key window's screen";
  const auto backdrop = graph().findKind("OnboardingWallpaper");
  ASSERT_TRUE(backdrop);
  EXPECT_DOUBLE_EQ(backdrop->frame().size.width, onboardingBackdropRenderKeys().front().size.width);
  EXPECT_DOUBLE_EQ(backdrop->frame().size.height, onboardingBackdropRenderKeys().front().size.height);
  platform::NSScreen::setScreens({});
  window->close();
  window.reset();
  EXPECT_TRUE(onboardingBackdropRenderKeys().empty());
}

}  // namespace
}  // namespace vurle
