#include "cursor/overlay/continuous_cursor_window_lookup.hpp"

#include <unistd.h>

#include <cmath>

#include "cursor/overlay/overlay_test_support.hpp"
#include "platform/accessibility/accessibility_server.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/foundation/foreign_pid.hpp"

namespace vurle {
namespace {

using platform::AccessibilityServer;
using platform::AXUIElementRef;
using platform::CGPointMake;
using platform::CGRect;
using platform::CGRectMake;

const CGRect kWindow = CGRectMake(100, 100, 400, 300);

class ContinuousCursorWindowLookupTest : public testing::OverlayTest {
 protected:
  // A read the test scripts; it records where it ran.
  std::shared_ptr<ContinuousCursorWindowLookup> makeLookup() {
    return std::make_shared<ContinuousCursorWindowLookup>([this](platform::CGPoint, int32_t owner) {
      ++reads;
      ranOnMainThread = ranOnMainThread || platform::isMainThread();
      if (failing) throw WindowReadError();
      return owner == 0 ? std::nullopt : std::optional<CGRect>(kWindow);
    });
  }

  int reads = 0;
  bool ranOnMainThread = false;
  bool failing = false;
};

TEST_F(ContinuousCursorWindowLookupTest, ReadsRunOffTheMainThreadOneAtATimeAndSpacedOut) {
  auto lookup = makeLookup();
  const auto point = CGPointMake(200, 200);
  EXPECT_EQ(lookup->validate(1, point, now()), std::nullopt);
  EXPECT_EQ(lookup->rejectionReason(), "lookup-pending");
  EXPECT_EQ(reads, 0);  // the main thread never waits for the read
  EXPECT_EQ(lookup->queue()->label(), "mirt.vurle.cursor-window");
  scope->drain(*lookup->queue());
  EXPECT_EQ(reads, 1);
  EXPECT_FALSE(ranOnMainThread);
  EXPECT_TRUE(lookup->inFlight());  // until the main queue publishes
  lookup->request(2, point, now());  // another owner waits for the read in flight
  scope->runUntilIdle();
  EXPECT_EQ(lookup->validate(1, point, now()), kWindow);
  EXPECT_EQ(lookup->rejectionReason(), "none");

  scope->advance(0.05);
  lookup->validate(1, point, now());
  scope->runUntilIdle();
  EXPECT_EQ(reads, 1);
  // Another owner goes out at once once nothing is in flight.
  EXPECT_EQ(lookup->validate(2, point, now()), std::nullopt);
  EXPECT_EQ(lookup->rejectionReason(), "lookup-owner-change");
  scope->runUntilIdle();
  EXPECT_EQ(reads, 2);
  // A read that finds nothing clears the cache.
  lookup->validate(0, point, now());
  scope->runUntilIdle();
  EXPECT_EQ(lookup->validate(0, point, now()), std::nullopt);
  EXPECT_EQ(lookup->rejectionReason(), "lookup-unavailable");
}

TEST_F(ContinuousCursorWindowLookupTest, TheCachedWindowAgesOutAndCoversThePointerWithinSixPoints) {
  auto lookup = makeLookup();
  lookup->validate(1, CGPointMake(200, 200), now());
  scope->runUntilIdle();
  struct Case {
    double x;
    bool covered;
  };
  // The window spans x 100 to 500; the slack is 6 points on every side.
  for (const Case c : {Case{95, true}, Case{93, false}, Case{505, true}, Case{507, false}}) {
    const auto answer = lookup->validate(1, CGPointMake(c.x, 200), now());
    EXPECT_EQ(answer.has_value(), c.covered) << c.x;
    if (answer) {
      EXPECT_EQ(*answer, kWindow);  // the window itself, not grown
    }
    EXPECT_EQ(lookup->rejectionReason(), c.covered ? "none" : "outside-cached-window") << c.x;
  }
  // Newer reads go out but time out, so the first result ages.
  failing = true;
  scope->advance(0.15);
  EXPECT_EQ(lookup->validate(1, CGPointMake(200, 200), now()), kWindow);
  scope->advance(0.02);
  EXPECT_EQ(lookup->validate(1, CGPointMake(200, 200), now()), std::nullopt);
  EXPECT_EQ(lookup->rejectionReason(), "lookup-expired");
}

TEST_F(ContinuousCursorWindowLookupTest, AWindowReadAtZeroIsValidThroughExactlyOneHundredSixtyMilliseconds) {
  auto lookup = makeLookup();
  const auto point = CGPointMake(200, 200);
  lookup->validate(1, point, 0.0);
  scope->runUntilIdle();
  failing = true;  // later reads time out, so the first result only ages
  struct Case {
    double at;
    bool valid;
  };
  for (const Case c : {Case{0.15, true}, Case{0.16, true}, Case{0.17, false}}) {
    EXPECT_EQ(lookup->validate(1, point, c.at).has_value(), c.valid) << c.at;
    EXPECT_EQ(lookup->rejectionReason(), c.valid ? "none" : "lookup-expired") << c.at;
    scope->runUntilIdle();
  }
}

TEST_F(ContinuousCursorWindowLookupTest, InvalidationDropsALateReadAndFailuresKeepOnlyTheirOwnersWindow) {
  auto lookup = makeLookup();
  lookup->validate(1, CGPointMake(200, 200), now());
  lookup->invalidate();
  scope->runUntilIdle();
  EXPECT_FALSE(lookup->inFlight());
  EXPECT_FALSE(lookup->result());
  // Invalidation also lets the next request go out at once.
  lookup->validate(1, CGPointMake(200, 200), now());
  scope->runUntilIdle();
  ASSERT_TRUE(lookup->result());
  EXPECT_EQ(reads, 2);

  failing = true;
  scope->advance(0.1);
  lookup->request(1, CGPointMake(200, 200), now());
  scope->runUntilIdle();
  EXPECT_TRUE(lookup->result());  // a timed-out read of the same application
  lookup->request(2, CGPointMake(200, 200), now());
  scope->runUntilIdle();
  EXPECT_FALSE(lookup->result());
  EXPECT_EQ(details("overlay-window-lookup"),
            (std::vector<std::string>{"temporary-ax-failure", "temporary-ax-failure"}));

  // A lookup released before its read runs reads nothing.
  lookup->request(3, CGPointMake(200, 200), now());
  lookup.reset();
  scope->runUntilIdle();
  EXPECT_EQ(reads, 4);
}

// The Accessibility hit test, against a simulated application.
class HitTestWindowTest : public testing::OverlayTest {
 public:  // the table's arrangements reach into the fixture
  static inline const pid_t kOwner = platform::foreignPid(4242);

  void SetUp() override {
    OverlayTest::SetUp();
    arrange();
  }

  // A running application whose button fills its standard window.
  void arrange() {
    platform::NSWorkspace::sharedWorkspace().launchApplication(kOwner, "com.example.editor", "Editor");
    window = server().makeElement(kOwner);
    button = server().makeElement(kOwner);
    server().setAttribute(window, platform::kAXRoleAttribute, std::string("AXWindow"));
    server().setAttribute(window, platform::kAXSubroleAttribute, std::string("AXStandardWindow"));
    setFrame(CGPointMake(100, 82), platform::CGSizeMake(400, 300));
    server().setAttribute(button, platform::kAXWindowAttribute, window);
    hitElement = button;
  }

  static AccessibilityServer& server() { return AccessibilityServer::shared(); }
  void setFrame(platform::CGPoint position, platform::CGSize size) {
    server().setAttribute(window, platform::kAXPositionAttribute,
                          platform::AXValueCreate(platform::kAXValueCGPointType, &position));
    server().setAttribute(window, platform::kAXSizeAttribute, platform::AXValueCreate(platform::kAXValueCGSizeType, &size));
  }
  // The read at a point inside the window (AppKit coordinates, the screen
  // is 982 points tall), with what it recorded.
  std::pair<std::optional<CGRect>, bool> hitTest(int32_t owner = kOwner) {
    if (hitElement) {
      // Window-server coordinates, y down.
      server().addElementRegion(kOwner, CGRectMake(100, 82, 400, 300), hitElement);
      hitElement = nullptr;
    }
    try {
      return {hitTestWindow(owner, CGPointMake(200, 700)), false};
    } catch (const WindowReadError&) {
      return {std::nullopt, true};
    }
  }

  AXUIElementRef window, button, hitElement;
};

TEST_F(HitTestWindowTest, FindsTheStandardWindowUnderThePointInScreenCoordinates) {
  auto [frame, threw] = hitTest();
  EXPECT_FALSE(threw);
  EXPECT_EQ(frame, CGRectMake(100, 600, 400, 300));
  EXPECT_EQ(details("overlay-window-lookup"), std::vector<std::string>{"window-ready"});
  EXPECT_EQ(window->messagingTimeout(), 0.015f);

  // Without "AXWindow" the focused window stands in.
  server().setAttribute(button, platform::kAXWindowAttribute, std::monostate{});
  server().setAttribute(platform::AXUIElementCreateApplication(kOwner), platform::kAXFocusedWindowAttribute, window);
  EXPECT_EQ(hitTest().first, CGRectMake(100, 600, 400, 300));

  // This process's own windows and no owner are not looked at.
  CursorTrace::shared()->enable(2, false);
  EXPECT_EQ(hitTest(::getpid()).first, std::nullopt);
  EXPECT_EQ(hitTest(0).first, std::nullopt);
  EXPECT_TRUE(CursorTrace::shared()->events().empty());
}

TEST_F(HitTestWindowTest, EveryRefusalHasItsReasonAndTimeoutsThrow) {
  struct Case {
    const char* detail;
    std::function<void(HitTestWindowTest&)> arrange;
    bool throws;
  };
  using T = HitTestWindowTest;
  const Case cases[] = {
      {"window-unavailable", [](T& t) { t.server().setHitTestError(kOwner, platform::kAXErrorFailure); }, false},
      {"hit-test-timeout", [](T& t) { t.server().setHitTestError(kOwner, platform::kAXErrorCannotComplete); }, true},
      {"hit-test-timeout", [](T& t) { t.server().setResponseTime(kOwner, 0.02); }, true},
      {"hit-owner-mismatch", [](T& t) { t.hitElement = t.server().makeElement(platform::foreignPid(4243)); }, false},
      {"nonstandard-window-or-sheet",
       [](T& t) {
         t.server().setAttribute(t.window, platform::kAXSheetsAttribute, std::vector<AXUIElementRef>{t.button});
       },
       false},
      {"nonstandard-window-or-sheet",
       [](T& t) { t.server().setAttribute(t.window, platform::kAXSubroleAttribute, std::string("AXDialog")); }, false},
      {"window-validation-timeout",
       [](T& t) { t.server().setAttributeError(t.window, platform::kAXSubroleAttribute, platform::kAXErrorCannotComplete); },
       true},
      {"window-attribute-timeout",
       [](T& t) {
         t.server().setAttributeError(t.button, platform::kAXWindowAttribute, platform::kAXErrorCannotComplete);
       },
       true},
      {"window-unavailable", [](T& t) { t.server().setAttribute(t.button, platform::kAXWindowAttribute, std::monostate{}); },
       false},
      {"window-frame-unavailable", [](T& t) { t.setFrame(CGPointMake(100, 82), platform::CGSizeMake(400, 0)); }, false},
      {"window-frame-unavailable",
       [](T& t) { t.setFrame(CGPointMake(NAN, 82), platform::CGSizeMake(400, 300)); }, false},
      {"window-attribute-timeout",
       [](T& t) { t.server().setAttributeError(t.window, platform::kAXSizeAttribute, platform::kAXErrorCannotComplete); },
       true},
  };
  for (const auto& c : cases) {
    platform::resetProcessState();
    CursorTrace::shared()->enable(1, false);
    arrange();
    c.arrange(*this);
    auto [frame, threw] = hitTest();
    EXPECT_EQ(frame, std::nullopt) << c.detail;
    EXPECT_EQ(threw, c.throws) << c.detail;
    EXPECT_EQ(details("overlay-window-lookup"), std::vector<std::string>{c.detail}) << c.detail;
  }
}

}  // namespace
}  // namespace vurle
