#include <gtest/gtest.h>

#include "cursor/art/art_test_support.hpp"
#include "cursor/art/cursor_raster_cache.hpp"
#include "cursor/art/cursor_scale.hpp"
#include "cursor/art/cursor_transition_frames.hpp"
#include "platform/graphics/image.hpp"

namespace vurle {
namespace {

using Key = CursorTransitionFrames::Key;

class CursorCachesTest : public testing::ArtTest {};

CursorCanvas canvasOf(int64_t width, int64_t height) {
  return CursorCanvas{1, platform::CGRectMake(0, 0, double(width), double(height))};
}

// A real, small frame whose image identity shows what the store hands back.
CursorFrame smallFrame() {
  auto bytes = std::make_shared<const platform::CFData>(16, uint8_t{7});
  return *CursorFrame::make(bytes, canvasOf(2, 2), true);
}

// A frame that only carries a canvas: the store looks at nothing else.
CursorFrame sizedFrame(int64_t width, int64_t height) {
  return CursorFrame{nullptr, canvasOf(width, height), nullptr, nullptr};
}

Key keyFor(int64_t i, int64_t step = 0) { return Key{i, i + 1, canvasOf(2, 2), step}; }

TEST_F(CursorCachesTest, RasterKeysCompareCanvasesByValue) {
  using RasterKey = CursorRasterCache::Key;
  const RasterKey key(7, CursorCanvas{2, platform::CGRectMake(0, -3, 10, 12)});
  const RasterKey negativeZero(7, CursorCanvas{2, platform::CGRectMake(-0.0, -3, 10, 12)});
  EXPECT_TRUE(key.isEqual(&negativeZero));
  EXPECT_EQ(key.hash(), negativeZero.hash());

  const RasterKey others[] = {
      RasterKey(8, CursorCanvas{2, platform::CGRectMake(0, -3, 10, 12)}),
      RasterKey(7, CursorCanvas{1, platform::CGRectMake(0, -3, 10, 12)}),
      RasterKey(7, CursorCanvas{2, platform::CGRectMake(0, -3, 10, 13)}),
  };
  for (const auto& other : others) EXPECT_FALSE(key.isEqual(&other));
  const platform::NSObject plain;
  EXPECT_FALSE(key.isEqual(&plain));
  EXPECT_FALSE(key.isEqual(nullptr));
}

TEST_F(CursorCachesTest, RasterCacheBuildsOnceAndStoresNothingItCannotDraw) {
  const auto storage = CursorRasterCache::storage();
  EXPECT_EQ(storage->totalCostLimit(), 25165824u);
  EXPECT_EQ(storage->countLimit(), 128u);

  auto art = NativeCursorArt::make(platform::NSCursor::arrowCursor());
  const auto canvas = artCanvas(art->localBounds(), 2);
  auto first = CursorRasterCache::raster(*art, canvas);
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(storage->count(), 1u);
  EXPECT_EQ(storage->totalCost(), size_t(canvas.pixelCount() * 12));
  EXPECT_EQ(CursorRasterCache::raster(*art, canvas)->rgba, first->rgba);
  EXPECT_EQ(storage->count(), 1u);

  const CursorCanvas tooWide{1, platform::CGRectMake(-4, -4, 4097, 10)};
  EXPECT_FALSE(CursorRasterCache::raster(*art, tooWide).has_value());
  EXPECT_EQ(storage->count(), 1u);
}

TEST_F(CursorCachesTest, TransitionStoreEvictsTheLeastRecentlyUsed) {
  std::vector<CursorFrame> frames;
  for (int64_t i = 0; i < 1024; ++i) {
    frames.push_back(smallFrame());
    CursorTransitionFrames::insert(frames.back(), keyFor(i));
  }
  ASSERT_EQ(CursorTransitionFrames::count(), 1024);
  // A hit renews the oldest; inserting present keys neither replaces nor
  // renews them.
  ASSERT_TRUE(CursorTransitionFrames::frame(keyFor(0)).has_value());
  CursorTransitionFrames::insert(smallFrame(), keyFor(1));
  CursorTransitionFrames::insert(smallFrame(), keyFor(3));

  CursorTransitionFrames::insert(smallFrame(), keyFor(5000));
  EXPECT_EQ(CursorTransitionFrames::count(), 1024);
  EXPECT_FALSE(CursorTransitionFrames::frame(keyFor(1)).has_value());
  for (int64_t i : {0, 2, 3, 1023, 5000}) {
    EXPECT_TRUE(CursorTransitionFrames::frame(keyFor(i)).has_value()) << i;
  }
  EXPECT_EQ(CursorTransitionFrames::frame(keyFor(3))->image, frames[3].image);
  EXPECT_EQ(CursorTransitionFrames::totalCost(), 1024 * 16);
}

TEST_F(CursorCachesTest, TransitionStoreKeepsItsSixteenMebibyteBudget) {
  struct Case {
    const char* what;
    std::vector<std::pair<int64_t, int64_t>> frames;  // sizes inserted in order
    int64_t count, cost;
  } cases[] = {
      {"four 4 MiB frames fill it",
       {{1024, 1024}, {1024, 1024}, {1024, 1024}, {1024, 1024}},
       4,
       16777216},
      {"a fifth evicts the oldest",
       {{1024, 1024}, {1024, 1024}, {1024, 1024}, {1024, 1024}, {1024, 1024}},
       4,
       16777216},
      {"one frame over the budget is refused and evicts nothing",
       {{64, 64}, {2049, 2048}},
       1,
       64 * 64 * 4},
      {"exactly the budget fits alone", {{64, 64}, {2048, 2048}}, 1, 16777216},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CursorTransitionFrames::removeAll();
    for (size_t i = 0; i < c.frames.size(); ++i) {
      CursorTransitionFrames::insert(sizedFrame(c.frames[i].first, c.frames[i].second),
                                     keyFor(int64_t(i)));
    }
    EXPECT_EQ(CursorTransitionFrames::count(), c.count);
    EXPECT_EQ(CursorTransitionFrames::totalCost(), c.cost);
  }
  CursorTransitionFrames::removeAll();
  EXPECT_EQ(CursorTransitionFrames::totalCost(), 0);
  EXPECT_FALSE(CursorTransitionFrames::frame(keyFor(0)).has_value());
}

TEST_F(CursorCachesTest, TransitionStoreHoldsEveryStepOfSeveralMorphs) {
  // 129 steps of a scale-2 arrow-to-I-beam sized canvas, for seven pairs.
  const CursorCanvas canvas{2, platform::CGRectMake(-7, -12, 23, 29)};
  for (int64_t pair = 0; pair < 7; ++pair)
    for (int64_t step = 0; step <= 128; ++step)
      CursorTransitionFrames::insert(CursorFrame{nullptr, canvas, nullptr, nullptr},
                                     Key{pair, pair + 100, canvas, step});
  EXPECT_EQ(CursorTransitionFrames::count(), 7 * 129);
  for (int64_t step = 0; step <= 128; ++step)
    EXPECT_TRUE(CursorTransitionFrames::frame(Key{0, 100, canvas, step}).has_value());
  EXPECT_FALSE(CursorTransitionFrames::frame(Key{0, 100, canvas, 129}).has_value());
  EXPECT_FALSE(CursorTransitionFrames::frame(Key{100, 0, canvas, 0}).has_value());
}

}  // namespace
}  // namespace vurle
