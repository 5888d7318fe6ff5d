#include "cursor/overlay/continuous_cursor_lease.hpp"

#include <limits>

#include "cursor/overlay/overlay_test_support.hpp"
#include "platform/dyld/symbol_registry.hpp"
#include "platform/windowserver/connections.hpp"
#include "platform/windowserver/cursor_state.hpp"

namespace vurle {
namespace {

using platform::Connections;
using platform::CursorState;
using platform::kCGErrorFailure;

const std::string kProperty = "SetsCursorInBackground";

class ContinuousCursorLeaseTest : public testing::OverlayTest {
 protected:
  bool acquire() {
    return lease->acquire([this] { return settled; }, [this] { ++independentReleases; });
  }
  int hides() const { return CursorState::shared().hideCount(main); }
  std::optional<bool> property() const {
    auto value = Connections::shared().property(main, kProperty);
    return value ? value->asBool() : std::nullopt;
  }
  // Advances in 5 ms steps until the lease no longer hides the cursor;
  // answers how long that took.
  double untilShown(double limit = 2) {
    const double start = now();
    while (lease->hidden() && now() - start < limit) scope->advance(0.005);
    return now() - start;
  }

  int32_t main = platform::WindowServer::shared().mainConnectionID();
  std::shared_ptr<ContinuousCursorLease> lease = makeCursorLease();
  bool settled = true;
  int independentReleases = 0;
};

TEST_F(ContinuousCursorLeaseTest, WithoutFramesTheWatchdogShowsTheCursorWithinOneTickOfTheDeadline) {
  ASSERT_TRUE(lease->available());
  ASSERT_TRUE(acquire());
  EXPECT_EQ(hides(), 1);
  EXPECT_FALSE(CursorState::shared().cursorIsVisible());
  EXPECT_EQ(property(), true);
  // Hidden already: a second acquisition changes nothing.
  EXPECT_FALSE(acquire());
  EXPECT_EQ(hides(), 1);

  scope->advance(0.1);
  lease->extend();
  const double lapse = untilShown();
  // Measured from the extension; the 5 ms steps add at most one step.
  EXPECT_GE(lapse, 0.35);
  EXPECT_LE(lapse, 0.375 + 0.005);
  EXPECT_EQ(hides(), 0);
  EXPECT_EQ(details("lease-independent-release"), std::vector<std::string>{"deadline"});
  EXPECT_EQ(independentReleases, 1);
  EXPECT_TRUE(lease->takeExpired());
  EXPECT_FALSE(lease->takeExpired());
  // The cursor came back at once, so the property went with it.
  EXPECT_EQ(details("lease-background-cleared"), std::vector<std::string>{"native-visible"});
  EXPECT_FALSE(lease->backgroundEnabled());
  EXPECT_EQ(property(), false);
  EXPECT_EQ(scope->pendingCount(), 0u);  // the watchdog is gone
}

TEST_F(ContinuousCursorLeaseTest, ASpaceTransitionEndsTheLeaseEvenWhileFramesExtendIt) {
  ASSERT_TRUE(acquire());
  scope->advance(0.05);
  settled = false;
  lease->extend();
  scope->advance(0.025);
  EXPECT_FALSE(lease->hidden());
  EXPECT_EQ(details("lease-independent-release"), std::vector<std::string>{"space-transition"});
  EXPECT_TRUE(lease->takeExpired());
  // A revoked lease ignores frames until the next acquisition.
  const double deadline = lease->deadline();
  scope->advance(0.1);
  lease->extend();
  EXPECT_EQ(lease->deadline(), deadline);
  EXPECT_FALSE(acquire());  // still unsettled
  EXPECT_EQ(hides(), 0);
}

TEST_F(ContinuousCursorLeaseTest, ThePropertyOutlivesTheShowUntilTheCursorIsSeenOrTheGraceEnds) {
  // A cursor that never reads visible again: the property waits for the
  // 0.25 s grace and goes on the first 100 ms tick after it.
  CursorState::shared().setShowLag(std::numeric_limits<double>::infinity());
  ASSERT_TRUE(acquire());
  lease->revoke();
  const double released = now();
  EXPECT_FALSE(lease->hidden());
  EXPECT_TRUE(lease->backgroundEnabled());
  EXPECT_EQ(details("lease-background-retained"), std::vector<std::string>{"awaiting-native-visible"});
  scope->advance(0.1);
  EXPECT_FALSE(acquire());  // the earlier release still holds the property
  EXPECT_EQ(hides(), 0);
  // The release timer ticks 25 ms after the show and then every 100 ms.
  scope->advance(released + 0.32 - now());
  EXPECT_TRUE(lease->backgroundEnabled());
  scope->advance(0.01);
  EXPECT_FALSE(lease->backgroundEnabled());
  EXPECT_EQ(details("lease-background-cleared"), std::vector<std::string>{"balanced-restore-grace-expired"});
  EXPECT_EQ(property(), false);

  // Seen visible before the grace ends, the property goes at once.
  CursorState::shared().setShowLag(0.05);
  ASSERT_TRUE(acquire());
  lease->revoke();
  scope->advance(0.12);
  EXPECT_TRUE(lease->backgroundEnabled());
  scope->advance(0.01);
  EXPECT_FALSE(lease->backgroundEnabled());
  EXPECT_EQ(details("lease-background-cleared").back(), "native-visible");
}

TEST_F(ContinuousCursorLeaseTest, ThePropertyGraceEndsAQuarterSecondAfterTheShow) {
  // A cursor never read visible: only the grace lets the property go. The
  // release timer ticks at show + 0.025, 0.125, 0.225 and 0.325 s, none of
  // them between the two acquisitions, so acquire itself must tell.
  CursorState::shared().setShowLag(std::numeric_limits<double>::infinity());
  ASSERT_TRUE(acquire());
  lease->revoke();
  const double shown = now();
  scope->advance(shown + 0.24 - now());
  EXPECT_FALSE(acquire());
  EXPECT_TRUE(lease->backgroundEnabled());
  EXPECT_EQ(hides(), 0);
  scope->advance(0.02);
  EXPECT_TRUE(acquire());
  EXPECT_EQ(hides(), 1);
  EXPECT_EQ(details("lease-background-cleared"), std::vector<std::string>{"balanced-restore-grace-expired"});
}

TEST_F(ContinuousCursorLeaseTest, AMissingFunctionMakesTheLeaseUnavailable) {
  for (const char* name : {"CGSMainConnectionID", "CGSSetConnectionProperty", "CGSCopyConnectionProperty",
                           "CGSHideCursor", "CGSShowCursor", "CGCursorIsVisible"}) {
    platform::resetProcessState();
    platform::SymbolRegistry::shared().remove(name);
    auto unavailable = makeCursorLease();
    EXPECT_FALSE(unavailable->available()) << name;
    EXPECT_FALSE(unavailable->acquire([] { return true; }, [] {})) << name;
    EXPECT_EQ(Connections::shared().calls("CGSSetConnectionProperty"), 0) << name;
    EXPECT_EQ(CursorState::shared().outstandingHides(), 0) << name;
  }
}

TEST_F(ContinuousCursorLeaseTest, AFailedAcquisitionLeavesNothingHiddenOrSet) {
  // No main connection: refused before any write.
  platform::WindowServer::shared().setMainConnectionID(0);
  EXPECT_FALSE(acquire());
  EXPECT_EQ(Connections::shared().calls("CGSSetConnectionProperty"), 0);
  platform::WindowServer::shared().setMainConnectionID(main);

  // The write fails: its status is traced.
  Connections::shared().failNext("CGSSetConnectionProperty", kCGErrorFailure);
  EXPECT_FALSE(acquire());
  ASSERT_EQ(events("lease-background-result").size(), 1u);
  EXPECT_EQ(events("lease-background-result")[0].value, kCGErrorFailure);

  // The property does not read back: no hide, and the property is cleared
  // again on the spot.
  Connections::shared().failNext("CGSCopyConnectionProperty", kCGErrorFailure);
  EXPECT_FALSE(acquire());
  EXPECT_EQ(Connections::shared().calls("CGSHideCursor"), 0);
  EXPECT_FALSE(lease->backgroundEnabled());
  EXPECT_EQ(property(), false);

  // The Space changes during the hide: shown again, expired and revoked.
  int asked = 0;
  EXPECT_FALSE(lease->acquire([&] { return ++asked < 3; }, [] {}));
  EXPECT_EQ(hides(), 0);
  EXPECT_TRUE(lease->revoked());
  EXPECT_TRUE(lease->takeExpired());
  EXPECT_EQ(details("lease-acquisition-revoked"), std::vector<std::string>{"post-hide-space-state"});
  EXPECT_FALSE(lease->acquire(nullptr, nullptr));
}

TEST_F(ContinuousCursorLeaseTest, AFailingShowIsRetriedEvenAfterTheLeaseIsGone) {
  ASSERT_TRUE(acquire());
  Connections::shared().failNext("CGSShowCursor", kCGErrorFailure, -1);
  lease->revoke();
  EXPECT_TRUE(lease->hidden());
  scope->advance(0.1);
  EXPECT_EQ(Connections::shared().calls("CGSShowCursor"), 5);  // one per 25 ms tick
  EXPECT_EQ(independentReleases, 0);

  // Torn down while stuck, the lease leaves a retry behind.
  lease.reset();
  scope->advance(0.1);
  EXPECT_EQ(hides(), 1);
  EXPECT_EQ(Connections::shared().calls("CGSShowCursor"), 10);
  Connections::shared().clearFailures();
  scope->advance(0.025);
  EXPECT_EQ(hides(), 0);
  EXPECT_TRUE(CursorState::shared().cursorIsVisible());
  EXPECT_EQ(property(), false);
  scope->advance(0.1);
  EXPECT_EQ(Connections::shared().calls("CGSShowCursor"), 11);
  EXPECT_EQ(scope->pendingCount(), 0u);
}

TEST_F(ContinuousCursorLeaseTest, TeardownGivesTheCursorBackAndClearsThePropertyAtOnce) {
  CursorState::shared().setShowLag(std::numeric_limits<double>::infinity());
  ASSERT_TRUE(acquire());
  lease.reset();
  EXPECT_EQ(hides(), 0);
  EXPECT_EQ(property(), false);
  EXPECT_EQ(scope->pendingCount(), 0u);
}

// The hide connection itself, over scripted functions.
struct ScriptedConnection {
  int32_t main = 7;
  std::vector<std::pair<int32_t, bool>> writes;
  bool writeSucceeds = true;
  std::optional<bool> readBack;
  std::vector<int32_t> hides;

  CursorHideConnection make() {
    return CursorHideConnection({
        [this] { return main; },
        [this](int32_t c, bool enable) {
          writes.push_back({c, enable});
          if (writeSucceeds) readBack = enable;
          return writeSucceeds;
        },
        [this](int32_t) { return readBack; },
        [this](int32_t c) { hides.push_back(c); return true; },
        [](int32_t) { return true; },
        [] { return std::optional<bool>(true); },
    });
  }
};

TEST(CursorHideConnectionTest, ThePropertyIsHeldOnOneConnectionUntilItReadsBackCleared) {
  ScriptedConnection script;
  auto connection = script.make();
  EXPECT_FALSE(connection.show());  // nothing set yet
  EXPECT_TRUE(connection.setBackground(true));
  EXPECT_FALSE(connection.setBackground(true));  // already held
  EXPECT_EQ(script.writes.size(), 1u);

  // The main connection moved on: no hide on the old one.
  script.main = 8;
  EXPECT_FALSE(connection.hide());
  script.main = 7;
  script.readBack = std::nullopt;  // unreadable
  EXPECT_FALSE(connection.hide());
  script.readBack = true;
  EXPECT_TRUE(connection.hide());
  EXPECT_EQ(script.hides, std::vector<int32_t>{7});

  // A clear that fails keeps the connection, and the retry goes to it even
  // after the main connection changed.
  script.writeSucceeds = false;
  EXPECT_FALSE(connection.setBackground(false));
  EXPECT_EQ(connection.connection(), 7);
  script.main = 9;
  script.writeSucceeds = true;
  EXPECT_TRUE(connection.setBackground(false));
  EXPECT_EQ(script.writes.back(), std::make_pair(7, false));
  EXPECT_EQ(connection.connection(), std::nullopt);
  EXPECT_TRUE(connection.setBackground(false));  // nothing held: done
}

}  // namespace
}  // namespace vurle
