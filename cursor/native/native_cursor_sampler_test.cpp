#include "cursor/native/native_cursor_sampler.hpp"

#include <algorithm>
#include <cmath>

#include "cursor/art/native_animated_cursors.hpp"
#include "cursor/native/native_test_support.hpp"
#include "platform/dyld/symbol_registry.hpp"

namespace vurle {
namespace {

using platform::CGRectMake;
using platform::CurrentCursor;

const platform::CGRect kAroundPointer = CGRectMake(700, 450, 100, 100);

class SamplerTest : public testing::NativeTest {
 protected:
  void SetUp() override {
    NativeTest::SetUp();
    NativeAnimatedCursors::shared();  // read while the busy cursor is the default one
    presenter = NativeCursorPresenter::make();
    sampler = makeSampler();
  }
  void TearDown() override {
    sampler.reset();
    presenter.reset();
    NativeTest::TearDown();
  }

  std::shared_ptr<NativeCursorSampler> makeSampler() {
    auto made = NativeCursorSampler::make(presenter, nullptr, 2);
    made->setOnChange([this] { ++changes; });
    return made;
  }
  // Enabled with the cursor on screen as the known baseline.
  void enable() { sampler->setEnabled(true, NativeCursorSampler::Baseline{seed(), now(), 2}); }
  // The engine's native mode while a transition may hold new cursors.
  void allowHolds() {
    presenter->setKeepWarm(true);
    presenter->updateHoldFrame(testing::solidFrame(CGRectMake(-2, -2, 16, 16), 2, 40), std::nullopt);
    presenter->setHoldPolicy(true, std::vector{kAroundPointer}, now() + 5);
  }
  // Shows the cursor and lets the sampler see it.
  std::optional<NativeCursorSample> sample(const std::shared_ptr<platform::NSCursor>& cursor, bool take = true) {
    showApplicationCursor(cursor);
    scope->advance(0.005);
    return take ? sampler->takePending() : std::nullopt;
  }

  int changes = 0;
  std::shared_ptr<NativeCursorPresenter> presenter;
  std::shared_ptr<NativeCursorSampler> sampler;
};

TEST_F(SamplerTest, PollsEveryMillisecondFor150msThenEvery4ms) {
  const double t0 = now();
  enable();
  const auto quick = sampler->pollSchedule();
  ASSERT_TRUE(quick.has_value());
  EXPECT_DOUBLE_EQ(quick->deadline.uptime, t0);
  EXPECT_DOUBLE_EQ(quick->interval, 0.001);
  EXPECT_DOUBLE_EQ(quick->leeway, 0.0001);

  scope->advance(0.1);
  enable();  // already on: nothing changes
  EXPECT_EQ(sampler->pollSchedule(), quick);
  scope->advance(0.049);
  EXPECT_EQ(sampler->pollSchedule(), quick);
  scope->advance(0.003);
  const auto normal = sampler->pollSchedule();
  EXPECT_DOUBLE_EQ(normal->interval, 0.004);
  EXPECT_DOUBLE_EQ(normal->leeway, 0.0005);
  EXPECT_LE(normal->deadline.uptime, now() + 0.004);

  sampler->quicken();
  EXPECT_DOUBLE_EQ(sampler->pollSchedule()->interval, 0.001);
  EXPECT_DOUBLE_EQ(sampler->pollSchedule()->deadline.uptime, now());

  sampler->setEnabled(false);
  EXPECT_TRUE(sampler->pollSchedule()->deadline.isDistantFuture());
}

TEST_F(SamplerTest, StaysOffWithoutTheSeedReader) {
  platform::SymbolRegistry::shared().remove("CGSCurrentCursorSeed");
  sampler = makeSampler();
  enable();
  EXPECT_FALSE(sampler->isEnabled());
  EXPECT_TRUE(sampler->pollSchedule()->deadline.isDistantFuture());
}

TEST_F(SamplerTest, PublishesEachNewCursorOnceOnTheMainQueue) {
  enable();
  scope->advance(0.01);
  EXPECT_EQ(changes, 0);  // the baseline is known already

  const auto beam = platform::NSCursor::IBeamCursor();
  const double shownAt = now();
  const auto first = sample(beam);
  EXPECT_EQ(changes, 1);
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(first->seed, seed());
  ASSERT_NE(first->cursor, nullptr);
  EXPECT_NE(first->cursor, beam);  // a private copy
  EXPECT_EQ(first->cursor->image()->size(), beam->image()->size());
  EXPECT_EQ(first->cursor->hotSpot(), beam->hotSpot());
  EXPECT_FALSE(first->isAnimated);
  EXPECT_FALSE(first->wasHeld);
  ASSERT_TRUE(first->interceptBefore.has_value());
  EXPECT_NEAR(*first->interceptBefore, shownAt + 1.0 / 120, 0.0011);
  EXPECT_EQ(lastDetail("hold"), "ineligible-or-refused");

  scope->advance(0.05);
  EXPECT_EQ(changes, 1);
  EXPECT_FALSE(sampler->takePending().has_value());

  sampler->clearPublishedSeed();
  scope->advance(0.005);
  EXPECT_EQ(changes, 2);
  const auto again = sampler->takePending();
  ASSERT_TRUE(again.has_value());
  EXPECT_EQ(again->seed, first->seed);
  EXPECT_EQ(lastDetail("hold"), "late");  // its interception window closed with the first
}

TEST_F(SamplerTest, AnimatedAndUnfitCursorsArePublishedSeedOnly) {
  struct Case {
    const char* name;
    platform::CursorImageSet set;
    bool animated;
  };
  const auto big = testing::solidCursor(100, 20);  // its grown canvas is too large at 2×
  const auto huge = testing::solidCursor(1025, 20);
  const std::vector<Case> cases = {
      {"busy", *platform::CoreCursors::waitAnimation(10, 32), true},
      {"canvas", CurrentCursor::imageSet(*big->image(), big->hotSpot()), false},
      {"1025 points", CurrentCursor::imageSet(*huge->image(), huge->hotSpot()), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    presenter->setHolds(true, std::nullopt);
    sampler = makeSampler();
    enable();
    CurrentCursor::shared().setCursorFromAnotherApplication(c.set);
    scope->advance(0.005);
    const auto published = sampler->takePending();
    ASSERT_TRUE(published.has_value());
    EXPECT_EQ(published->seed, seed());
    EXPECT_EQ(published->cursor, nullptr);
    EXPECT_EQ(published->isAnimated, c.animated);
    EXPECT_EQ(presenter->holdsPermitted(), !c.animated);  // an animated cursor ends holds
  }
}

TEST_F(SamplerTest, OnlyVisibleFreshCursorsAreOffered) {
  struct Case {
    const char* name;
    std::shared_ptr<platform::NSCursor> cursor;
    bool taken;  // the owner takes each sample when told
    const char* hold;
  };
  const std::vector<Case> cases = {
      {"offered", platform::NSCursor::arrowCursor(), true, "accepted"},
      {"transparent", testing::solidCursor(16, 0, 0), true, "ineligible-or-refused"},
      {"after a stale sample", platform::NSCursor::arrowCursor(), false, "ineligible-or-refused"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    presenter = NativeCursorPresenter::make();
    sampler = makeSampler();
    std::vector<NativeCursorSample> taken;
    if (c.taken) sampler->setOnChange([&] { taken.push_back(*sampler->takePending()); });
    allowHolds();
    enable();
    const int32_t beamSeed = showApplicationCursor(platform::NSCursor::IBeamCursor());
    scope->advance(0.005);
    EXPECT_EQ(lastDetail("hold"), "accepted");

    scope->advance(0.1);
    const int32_t secondSeed = showApplicationCursor(c.cursor);
    scope->advance(0.005);
    EXPECT_EQ(lastDetail("hold"), c.hold);
    if (!c.taken) taken.push_back(*sampler->takePending());
    for (const auto& published : taken) {
      if (published.seed == beamSeed) {
        EXPECT_TRUE(published.wasHeld);
      }
      if (published.seed == secondSeed) {  // published with its image either way
        EXPECT_NE(published.cursor, nullptr);
      }
    }
    EXPECT_TRUE(std::any_of(taken.begin(), taken.end(), [&](auto& s) { return s.seed == secondSeed; }));
  }
}

TEST_F(SamplerTest, PresenterFramesArePublishedSeedOnly) {
  enable();
  ASSERT_TRUE(presenter->submit(testing::solidFrame(CGRectMake(-2, -2, 16, 16), 2, 40), std::nullopt));
  scope->advance(0.005);
  const auto published = sampler->takePending();
  ASSERT_TRUE(published.has_value());
  EXPECT_EQ(published->seed, seed());
  EXPECT_EQ(published->cursor, nullptr);
  EXPECT_EQ(sampler->cachedImageCount(), 0u);
}

TEST_F(SamplerTest, SixtyFifthSeedEmptiesTheImageCache) {
  enable();
  for (int i = 0; i < 64; ++i) ASSERT_TRUE(sample(platform::NSCursor::IBeamCursor()).has_value());
  EXPECT_EQ(sampler->cachedImageCount(), 64u);
  ASSERT_TRUE(sample(platform::NSCursor::IBeamCursor()).has_value());
  EXPECT_EQ(sampler->cachedImageCount(), 1u);
}

TEST_F(SamplerTest, NewPixelScaleForgetsWhatWasRead) {
  enable();
  sample(platform::NSCursor::IBeamCursor(), false);
  ASSERT_EQ(sampler->cachedImageCount(), 1u);
  sampler->setPixelScale(1);
  EXPECT_FALSE(sampler->takePending().has_value());
  EXPECT_EQ(sampler->cachedImageCount(), 0u);
  scope->advance(0.005);  // the cursor on screen is new again
  EXPECT_TRUE(sampler->takePending().has_value());
}

TEST(NativeCursorFit, GrownCanvasMustFit) {
  EXPECT_TRUE(nativeCursorFits({16, 16}, {4, 4}, 2));
  EXPECT_FALSE(nativeCursorFits({100, 100}, {4, 4}, 2));
  EXPECT_FALSE(nativeCursorFits({16, 16}, {1025, 0}, 1));
  EXPECT_FALSE(nativeCursorFits({0, 16}, {0, 0}, 1));
  EXPECT_FALSE(nativeCursorFits({NAN, 16}, {0, 0}, 1));
  EXPECT_TRUE(nativeCursorIsHidden(*testing::solidCursor(8, 0, 0)));
  EXPECT_FALSE(nativeCursorIsHidden(*testing::solidCursor(8, 0, 1)));
}

}  // namespace
}  // namespace vurle
