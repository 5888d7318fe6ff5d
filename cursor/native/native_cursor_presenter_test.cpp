#include "cursor/native/native_cursor_presenter.hpp"

#include "cursor/native/native_test_support.hpp"
#include "platform/dyld/symbol_registry.hpp"

namespace vurle {
namespace {

using platform::CurrentCursor;
using platform::CursorState;
using platform::CGRectMake;

const platform::CGRect kBounds = CGRectMake(-2, -2, 16, 16);

class PresenterTest : public testing::NativeTest {
 protected:
  void SetUp() override {
    NativeTest::SetUp();
    presenter = NativeCursorPresenter::make();
  }
  void TearDown() override {
    presenter.reset();
    NativeTest::TearDown();
  }

  std::shared_ptr<NativeCursorPresenter> presenter;
};

TEST_F(PresenterTest, AcknowledgedRegistrationShowsTheFrameAndOwnsItsSeed) {
  const auto frame = testing::solidFrame(kBounds, 2, 40);
  const int32_t before = seed();
  ASSERT_TRUE(presenter->submit(frame, std::nullopt));

  const auto connection = presenter->connection();
  ASSERT_NE(connection, 0);
  EXPECT_EQ(platform::Connections::shared().property(connection, "SetsCursorInBackground")->asBool(), true);
  EXPECT_EQ(CurrentCursor::shared().owner(), connection);
  EXPECT_EQ(CurrentCursor::shared().registeredName(), "mirt.vurle.frame");
  const auto shown = CurrentCursor::shared().cursor();
  EXPECT_EQ(shown.size, platform::CGSizeMake(16, 16));
  EXPECT_EQ(shown.hotSpot, platform::CGPointMake(2, 2));
  EXPECT_EQ(shown.frameCount, 1);
  EXPECT_EQ(presenter->outputSeed(), seed());
  EXPECT_TRUE(presenter->ownsSeed(seed()));
  EXPECT_FALSE(presenter->ownsSeed(before));
  EXPECT_FALSE(presenter->ownsSeed(std::nullopt));
  EXPECT_EQ(presenter->presentationGeneration(), 1u);

  const auto registration = events("registration");
  ASSERT_EQ(registration.size(), 1u);
  EXPECT_EQ(registration[0].detail, "acknowledged");
  EXPECT_EQ(registration[0].seedBefore, before);
  EXPECT_EQ(registration[0].seedReturned, seed());
  EXPECT_EQ(registration[0].seedAfter, seed());
  EXPECT_EQ(events("submitted").size(), 1u);

  // The same frame again while it shows is not registered a second time.
  ASSERT_TRUE(presenter->submit(frame, std::nullopt));
  EXPECT_EQ(registrations(), 1);
  EXPECT_EQ(events("submission-reused").size(), 1u);
  EXPECT_EQ(presenter->presentationGeneration(), 2u);
}

// The window server kept the seed it showed before: only the cursor AppKit
// reports tells whether the new frame is on screen.
TEST_F(PresenterTest, KeptSeedIsAnsweredByAppKitsCursor) {
  struct Case {
    const char* name;
    std::shared_ptr<platform::NSCursor> shownInstead;  // slipped in under the same seed
    bool appKitReadable;
    const char* outcome;
  };
  const std::vector<Case> cases = {
      {"match", nullptr, true, "acknowledged"},
      {"pixels", testing::solidCursor(16, 200), true, "readback-pixels-mismatch"},
      {"geometry", testing::solidCursor(12, 40), true, "readback-geometry-mismatch"},
      {"appkit", nullptr, false, "readback-unavailable"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    presenter = NativeCursorPresenter::make();
    ASSERT_TRUE(presenter->submit(testing::solidFrame(kBounds, 2, 40), std::nullopt));
    const int32_t own = seed();
    CurrentCursor::shared().scriptRegistration(CurrentCursor::Registration::sameSeed);
    CurrentCursor::shared().setAppKitReadable(c.appKitReadable);
    if (c.shownInstead) {
      // Just before the read-back's seed read: new images, the seed kept.
      CursorState::shared().beforeSeedRead(4, [cursor = c.shownInstead, own] {
        showApplicationCursor(cursor);
        CursorState::shared().setCursorSeed(own);
      });
    }
    const bool acknowledged = std::string(c.outcome) == "acknowledged";
    EXPECT_EQ(presenter->submit(testing::solidFrame(kBounds, 2, 90), std::nullopt), acknowledged);
    EXPECT_EQ(lastDetail("registration"), c.outcome);
    // A frame that cannot be confirmed gives the pointer back.
    EXPECT_EQ(presenter->connection() != 0, acknowledged);
    CurrentCursor::shared().setAppKitReadable(true);
  }
}

TEST_F(PresenterTest, SeedKeptForAnotherApplicationsCursorIsNotConfirmed) {
  CurrentCursor::shared().scriptRegistration(CurrentCursor::Registration::sameSeed);
  EXPECT_FALSE(presenter->submit(testing::solidFrame(kBounds, 2, 40), std::nullopt));
  EXPECT_EQ(lastDetail("registration"), "unchanged-native-seed");
  EXPECT_EQ(presenter->connection(), 0);
  EXPECT_EQ(CurrentCursor::shared().owner(), 0);
}

TEST_F(PresenterTest, OvertakenWritesAreNeverAcknowledged) {
  const auto frame = testing::solidFrame(kBounds, 2, 40);
  // Another cursor right after the registration.
  CurrentCursor::shared().scriptRegistration(CurrentCursor::Registration::foreignChangeAfter,
                                             CurrentCursor::imageSet(*platform::NSCursor::IBeamCursor()->image(),
                                                                     platform::NSCursor::IBeamCursor()->hotSpot()));
  EXPECT_TRUE(presenter->submit(frame, std::nullopt));  // carry on, nothing shows
  EXPECT_EQ(lastDetail("registration"), "superseded");
  EXPECT_FALSE(presenter->outputSeed().has_value());
  EXPECT_GT(presenter->deadline(), 0);  // still guarded by the watchdog

  // Another cursor between the submission's seed read and the write's.
  const int registered = registrations();
  CursorState::shared().beforeSeedRead(2, [] { showApplicationCursor(platform::NSCursor::arrowCursor()); });
  EXPECT_TRUE(presenter->submit(frame, std::nullopt));
  EXPECT_EQ(registrations(), registered);
  EXPECT_EQ(lastDetail("registration"), "superseded");

  for (const auto& event : events("registration")) EXPECT_NE(event.detail, "acknowledged");
}

TEST_F(PresenterTest, RegistrationErrorGivesThePointerBack) {
  CurrentCursor::shared().failNext("CGSRegisterCursorWithImages", platform::kCGErrorFailure);
  EXPECT_FALSE(presenter->submit(testing::solidFrame(kBounds, 2, 40), std::nullopt));
  EXPECT_EQ(lastDetail("registration"), "error");
  EXPECT_EQ(presenter->connection(), 0);
  EXPECT_TRUE(platform::Connections::shared().openConnections().empty());
}

TEST_F(PresenterTest, OwnedSeedRingKeepsThe512Newest) {
  std::vector<int32_t> seeds;
  for (int i = 0; i < 512; ++i) {
    ASSERT_TRUE(presenter->submit(testing::solidFrame(kBounds, 1, 40, i % 2), std::nullopt));
    seeds.push_back(seed());
  }
  // A registration that answers a seed already owned does not move the ring.
  CurrentCursor::shared().scriptRegistration(CurrentCursor::Registration::sameSeed);
  ASSERT_TRUE(presenter->submit(testing::solidFrame(kBounds, 1, 40, 7), std::nullopt));
  EXPECT_EQ(seed(), seeds.back());

  ASSERT_TRUE(presenter->submit(testing::solidFrame(kBounds, 1, 40, 8), std::nullopt));
  EXPECT_FALSE(presenter->ownsSeed(seeds[0]));
  EXPECT_TRUE(presenter->ownsSeed(seeds[1]));
  EXPECT_TRUE(presenter->ownsSeed(seed()));
}

TEST_F(PresenterTest, FingerprintRingForgetsThe257thButKeepsSharedGeometries) {
  const auto odd = testing::solidFrame(CGRectMake(-1, -1, 10, 10), 1, 40);
  presenter->updateHoldFrame(odd, std::nullopt);
  std::vector<CursorFrame> frames;
  for (int i = 0; i < 256; ++i) {
    frames.push_back(testing::solidFrame(kBounds, 1, 40, i + 1));
    presenter->updateHoldFrame(frames.back(), std::nullopt);
  }
  const auto oddGeometry = NativeCursorPresenter::frameGeometry(odd);
  const auto sharedGeometry = NativeCursorPresenter::frameGeometry(frames[0]);
  EXPECT_FALSE(presenter->knowsGeometry(oddGeometry));
  EXPECT_FALSE(presenter->remembersFingerprint(
      *NativeCursorPresenter::frameFingerprint(odd.image, oddGeometry)));

  // Evicting one frame of a shared geometry keeps the geometry known.
  presenter->updateHoldFrame(testing::solidFrame(CGRectMake(-1, -1, 10, 10), 1, 40, 999), std::nullopt);
  EXPECT_FALSE(presenter->remembersFingerprint(
      *NativeCursorPresenter::frameFingerprint(frames[0].image, sharedGeometry)));
  EXPECT_TRUE(presenter->remembersFingerprint(
      *NativeCursorPresenter::frameFingerprint(frames[1].image, sharedGeometry)));
  EXPECT_TRUE(presenter->knowsGeometry(sharedGeometry));
}

TEST_F(PresenterTest, FingerprintsTreatNegativeZeroAsZero) {
  const auto frame = testing::solidFrame(CGRectMake(0, 0, 8, 8), 1, 40);
  const auto geometry = NativeCursorPresenter::frameGeometry(frame);  // hot spot -0
  EXPECT_EQ(NativeCursorPresenter::frameFingerprint(frame.image, geometry),
            NativeCursorPresenter::frameFingerprint(frame.image, {8, 8, 0, 0}));
  EXPECT_NE(NativeCursorPresenter::frameFingerprint(frame.image, geometry),
            NativeCursorPresenter::frameFingerprint(frame.image, {8, 8, 1, 0}));
  EXPECT_FALSE(NativeCursorPresenter::frameFingerprint(nullptr, geometry).has_value());
}

TEST_F(PresenterTest, SubmissionsForOlderInputAreDeferredWithoutWriting) {
  const auto frame = testing::solidFrame(kBounds, 2, 40);
  EXPECT_TRUE(presenter->submit(frame, 77));
  EXPECT_EQ(lastDetail("submission-deferred"), "newer-held-input");

  const auto arrow = NativeCursorArt::make(platform::NSCursor::arrowCursor());
  ASSERT_TRUE(presenter->acceptNativeInput(*arrow, seed()));
  showApplicationCursor(platform::NSCursor::IBeamCursor());
  EXPECT_TRUE(presenter->submit(frame, std::nullopt));
  EXPECT_EQ(lastDetail("submission-deferred"), "newer-native-input");
  EXPECT_EQ(registrations(), 0);
  EXPECT_EQ(presenter->connection(), 0);
}

TEST_F(PresenterTest, RecognisesItsOwnFramesOnScreen) {
  ASSERT_TRUE(presenter->submit(testing::solidFrame(kBounds, 2, 40), std::nullopt));
  EXPECT_TRUE(presenter->isOwnFrame(platform::NSCursor::currentSystemCursor()));
  // A nearly equal picture of the same geometry still counts.
  EXPECT_TRUE(presenter->isOwnFrame(testing::solidCursor(16, 40)));
  EXPECT_FALSE(presenter->isOwnFrame(testing::solidCursor(16, 250)));
  EXPECT_FALSE(presenter->isOwnFrame(platform::NSCursor::arrowCursor()));
  EXPECT_FALSE(presenter->isOwnFrame(nullptr));

  const auto shown = platform::NSCursor::currentSystemCursor();
  presenter->invalidate();
  EXPECT_FALSE(presenter->isOwnFrame(shown));
}

TEST_F(PresenterTest, MissingFunctionsMakeThePresenterUnavailable) {
  for (const char* name : {"CGSNewConnection", "CGSReleaseConnection", "CGSSetConnectionProperty",
                           "CGSRegisterCursorWithImages", "CGSCurrentCursorSeed", "CGSMainConnectionID",
                           "CGSGetCurrentCursorLocation"}) {
    SCOPED_TRACE(name);
    platform::WindowServer::shared().reset();
    platform::SymbolRegistry::shared().remove(name);
    auto missing = NativeCursorPresenter::make();
    EXPECT_FALSE(missing->isAvailable());
    EXPECT_FALSE(missing->submit(testing::solidFrame(kBounds, 2, 40), std::nullopt));
    EXPECT_TRUE(platform::Connections::shared().openConnections().empty());
  }
  platform::WindowServer::shared().reset();
  platform::SymbolRegistry::shared().remove("SLSSetDockCursorOverride");
  EXPECT_TRUE(NativeCursorPresenter::make()->isAvailable());
}

}  // namespace
}  // namespace vurle
