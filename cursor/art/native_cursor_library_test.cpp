#include "cursor/art/native_cursor_library.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "cursor/art/art_test_support.hpp"
#include "cursor/art/cursor_raster_cache.hpp"
#include "cursor/art/cursor_scale.hpp"
#include "cursor/art/cursor_transition_frames.hpp"
#include "cursor/art/kernels.hpp"
#include "platform/graphics/image.hpp"

namespace vurle {
namespace {

using platform::NSCursor;
using testing::antialiasingVariant;
using testing::filledImage;

class NativeCursorArtTest : public testing::ArtTest {};
class NativeCursorLibraryTest : public testing::ArtTest {};

std::shared_ptr<NSCursor> blockCursor(CGSize size, CGPoint hotspot, uint8_t shade = 0) {
  return NSCursor::make(filledImage(size, shade, shade, shade, 255), hotspot);
}

TEST_F(NativeCursorArtTest, SizeAndHotspotLimitsAtTheRenderScale) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    double backing;
    CGSize size;
    CGPoint hotspot;
    bool accepted;
  } cases[] = {
      {2, {1024, 10}, {0, 0}, true},     // exactly 2048 pixels wide
      {2, {1024.5, 10}, {0, 0}, false},  // one pixel over
      {1, {506, 506}, {0, 0}, true},     // (506 + 6)^2 = 262144
      {1, {507, 507}, {0, 0}, false},
      {2, {10, 10}, {-1024, 1024}, true},
      {2, {10, 10}, {1024.5, 0}, false},
      {2, {0, 10}, {0, 0}, false},
      {2, {10, 10}, {std::numeric_limits<double>::infinity(), 0}, false},
      {2, {10, 10}, {0, nan}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.size.width << "x" << c.size.height << " hot "
                                      << c.hotspot.x << "," << c.hotspot.y);
    platform::resetProcessState();
    setBackingFactor(c.backing);
    EXPECT_EQ(NativeCursorArt::make(blockCursor(c.size, c.hotspot)) != nullptr, c.accepted);
  }
}

TEST_F(NativeCursorArtTest, IdentityFollowsTheDrawnArtworkAndGeometry) {
  auto arrow = NSCursor::arrowCursor();
  auto first = NativeCursorArt::make(arrow);
  auto second = NativeCursorArt::make(NSCursor::make(arrow->image(), arrow->hotSpot()));
  ASSERT_TRUE(first && second);
  EXPECT_NE(first, second);
  EXPECT_EQ(first->identity(), second->identity());
  EXPECT_NE(first->native(), arrow->image());  // a private copy
  EXPECT_EQ(first->nativeSize(), arrow->image()->size());
  EXPECT_EQ(first->nativeHotspot(), arrow->hotSpot());
  const auto size = arrow->image()->size();
  EXPECT_EQ(first->localBounds(),
            platform::CGRectMake(-arrow->hotSpot().x, -arrow->hotSpot().y, size.width, size.height));
  EXPECT_FALSE(first->isHidden());

  // One byte of the representation drawn at the render scale (2×) changes it.
  auto oneByte = testing::changedImage(*arrow->image(), [&](uint8_t* bytes, int w, int, int row) {
    if (w > size.width) bytes[10 * row + 4 * 10 + 1] ^= 1;
  });
  auto changed = NativeCursorArt::make(NSCursor::make(oneByte, arrow->hotSpot()));
  EXPECT_NE(changed->identity(), first->identity());
  // So does the hot spot, but not its sign of zero.
  EXPECT_NE(NativeCursorArt::make(NSCursor::make(arrow->image(), {4, 5}))->identity(),
            first->identity());
  auto zero = NativeCursorArt::make(blockCursor({8, 8}, {0, 0}));
  auto negativeZero = NativeCursorArt::make(blockCursor({8, 8}, {-0.0, -0.0}));
  EXPECT_EQ(zero->identity(), negativeZero->identity());

  // Changing the cursor's image afterwards does not reach the art.
  auto image = filledImage({8, 8}, 0, 0, 0, 255);
  auto art = NativeCursorArt::make(NSCursor::make(image, {0, 0}));
  const auto before = art->identity();
  std::dynamic_pointer_cast<platform::NSBitmapImageRep>(image->representations()[0])
      ->bitmapData()[3] = 0;
  EXPECT_EQ(NativeCursorArt::make(NSCursor::make(art->native(), {0, 0}))->identity(), before);
}

TEST_F(NativeCursorArtTest, TransparentArtIsHiddenAndRastersComeFromTheCache) {
  auto clear = NativeCursorArt::make(NSCursor::make(filledImage({12, 12}, 0, 0, 0, 0), {6, 6}));
  ASSERT_NE(clear, nullptr);
  EXPECT_TRUE(clear->isHidden());

  auto art = NativeCursorArt::make(NSCursor::IBeamCursor());
  auto raster = art->staticRaster();
  ASSERT_TRUE(raster.has_value());
  EXPECT_EQ(raster->frame.canvas, artCanvas(art->localBounds(), renderScale()));
  EXPECT_EQ(art->staticRaster()->rgba, raster->rgba);  // the cached raster, not a rebuild
  auto direct = CursorRaster::make(*art, raster->frame.canvas);
  EXPECT_EQ(*direct->rgba, *raster->rgba);
  EXPECT_EQ(*direct->solid, *raster->solid);
}

TEST_F(NativeCursorArtTest, ThumbnailsAreThirtyTwoSquareAndRefuseWhatCannotBeDrawn) {
  EXPECT_FALSE(cursorThumbnail(nullptr).has_value());
  auto image = NSCursor::arrowCursor()->image();
  auto thumbnail = cursorThumbnail(proposedCGImage(*image));
  ASSERT_TRUE(thumbnail.has_value());
  EXPECT_EQ(thumbnail->size(), kThumbnailBytes);
  EXPECT_TRUE(hasVisibleAlpha(thumbnail->data(), 4096));

  for (auto fault : {platform::GraphicsFault::ColorSpace, platform::GraphicsFault::BitmapContext}) {
    platform::GraphicsFaults::failNext(fault);
    EXPECT_FALSE(cursorThumbnail(proposedCGImage(*image)).has_value());
  }
  platform::GraphicsFaults::reset();
}

TEST_F(NativeCursorArtTest, CursorsRebuiltFromWindowServerImagesGiveTheCataloguesThumbnails) {
  // The window server hands out one image per representation, in either
  // order; the rebuilt image proposes the same representation as the
  // catalogue's, so both paths draw the same thumbnail.
  setSystem(15);
  for (const auto& [name, cursor] : namedSystemCursors()) {
    SCOPED_TRACE(name);
    std::vector<platform::CGImageRef> images;
    for (const auto& rep : cursor->image()->representations()) {
      images.push_back(std::dynamic_pointer_cast<platform::NSBitmapImageRep>(rep)->CGImage());
    }
    const auto catalogue = cursorThumbnail(proposedCGImage(*cursor->image()));
    ASSERT_TRUE(catalogue.has_value());
    for (bool reversed : {false, true}) {
      auto rebuilt = platform::NSImage::make(cursor->image()->size());
      for (size_t i = 0; i < images.size(); ++i) {
        auto rep = platform::NSBitmapImageRep::makeWithCGImage(
            images[reversed ? images.size() - 1 - i : i]);
        rep->setSize(cursor->image()->size());
        rebuilt->addRepresentation(rep);
      }
      const auto thumbnail = cursorThumbnail(proposedCGImage(*rebuilt));
      ASSERT_TRUE(thumbnail.has_value());
      EXPECT_TRUE(imagesNearlyEqual(catalogue->data(), thumbnail->data(), 4096));
    }
  }
}

TEST_F(NativeCursorLibraryTest, CatalogueHasEighteenEntriesBeforeMacOS15AndFiftyTwoFrom15On) {
  setSystem(14);
  const auto old = namedSystemCursors();
  ASSERT_EQ(old.size(), 18u);
  EXPECT_EQ(old.front().name, "arrow");
  EXPECT_EQ(old[3].name, "vertical text");
  EXPECT_EQ(old.back().name, "resize vertical");
  EXPECT_EQ(old[2].cursor, NSCursor::IBeamCursor());

  setSystem(15);
  const auto all = namedSystemCursors();
  ASSERT_EQ(all.size(), 52u);
  std::vector<std::string> tail;
  for (size_t i = 18; i < 30; ++i) tail.push_back(all[i].name);
  EXPECT_EQ(tail, (std::vector<std::string>{"zoom in", "zoom out", "column", "row", "column 1",
                                            "column 2", "column 3", "row 1", "row 2", "row 3",
                                            "frame 1/1", "frame 1/2"}));
  EXPECT_EQ(all[31].name, "frame 2/1");
  EXPECT_EQ(all[40].name, "frame 3/1");
  EXPECT_EQ(all.back().name, "frame 12/3");
  EXPECT_EQ(all[22].cursor, NSCursor::columnResize(platform::NSHorizontalDirectionLeft));
}

TEST_F(NativeCursorLibraryTest, StandardCursorsAreGroupedByGeometryInCatalogueOrder) {
  setSystem(14);
  auto library = NativeCursorLibrary::shared();
  const auto& groups = library->standardCursors();
  size_t total = 0;
  for (const auto& [geometry, cursors] : groups) total += cursors.size();
  EXPECT_EQ(total, 18u);
  const auto& resize = groups.at(NativeCursorLibrary::Geometry::of(*NSCursor::resizeUpDownCursor()));
  EXPECT_EQ(resize.front(), NSCursor::crosshairCursor());
  EXPECT_EQ(resize.back(), NSCursor::resizeUpDownCursor());
  EXPECT_EQ(NativeCursorLibrary::GeometryHash{}({1, 2, -0.0, 0}),
            NativeCursorLibrary::GeometryHash{}({1, 2, 0, 0}));
}

TEST_F(NativeCursorLibraryTest, MatchingGivesOneCanonicalArtPerVisualCursor) {
  setSystem(15);
  auto library = NativeCursorLibrary::shared();
  auto hand = library->match(NSCursor::pointingHandCursor());
  ASSERT_NE(hand, nullptr);
  EXPECT_EQ(library->match(NSCursor::pointingHandCursor()), hand);
  EXPECT_EQ(hand->identity(), library->art(PointerKind::hand)->identity());

  // A window-server copy differing in a few anti-aliasing bytes: the
  // catalogue's art, not a snapshot.
  auto variant = antialiasingVariant(NSCursor::pointingHandCursor());
  ASSERT_NE(NativeCursorArt::make(variant)->identity(), hand->identity());
  EXPECT_EQ(library->match(variant), hand);
  EXPECT_EQ(library->snapshotCount(), 0u);

  // Two catalogue entries with one picture: the earlier one's art wins,
  // for the exact and for the near pass.
  auto left = library->match(NSCursor::resizeLeftCursor());
  auto edge = NSCursor::frameResize(platform::NSCursorFrameResizePositionLeft,
                                    platform::NSCursorFrameResizeDirectionsOutward);
  EXPECT_EQ(library->match(edge), left);
  EXPECT_EQ(library->match(antialiasingVariant(edge)), left);

  // Standard geometry, another picture: a snapshot, remembered by identity.
  const auto resize = NSCursor::resizeUpDownCursor();
  auto custom = blockCursor(resize->image()->size(), resize->hotSpot());
  auto snapshot = library->match(custom);
  ASSERT_NE(snapshot, nullptr);
  EXPECT_EQ(library->snapshotCount(), 1u);
  EXPECT_EQ(library->match(blockCursor(resize->image()->size(), resize->hotSpot())), snapshot);
  EXPECT_FALSE(library->isStandard(*snapshot));
  EXPECT_EQ(library->match(nullptr), nullptr);
}

TEST_F(NativeCursorLibraryTest, The49thSnapshotEmptiesTheStore) {
  auto library = NativeCursorLibrary::shared();
  std::vector<ArtRef> arts;
  for (int i = 0; i < 48; ++i) {
    arts.push_back(library->match(blockCursor({10, 10}, {0, 0}, uint8_t(i))));
    ASSERT_NE(arts.back(), nullptr);
  }
  EXPECT_EQ(library->snapshotCount(), 48u);
  EXPECT_EQ(library->match(blockCursor({10, 10}, {0, 0}, 0)), arts[0]);  // still held

  library->match(blockCursor({10, 10}, {0, 0}, 200));
  EXPECT_EQ(library->snapshotCount(), 1u);
  auto again = library->match(blockCursor({10, 10}, {0, 0}, 0));
  EXPECT_NE(again, arts[0]);
  EXPECT_EQ(again->identity(), arts[0]->identity());
}

TEST_F(NativeCursorLibraryTest, StandardArtIsRecognisedByIdentityPerGeometry) {
  auto library = NativeCursorLibrary::shared();
  struct Case {
    std::shared_ptr<NSCursor> cursor;
    bool standard;
  } cases[] = {
      {NSCursor::arrowCursor(), true},                           // a pointer kind
      {NSCursor::dragCopyCursor(), true},                        // the catalogue
      {antialiasingVariant(NSCursor::dragCopyCursor()), false},  // not the same bytes
      {blockCursor(NSCursor::dragCopyCursor()->image()->size(), NSCursor::dragCopyCursor()->hotSpot()),
       false},                                                   // standard geometry
      {blockCursor({13, 13}, {1, 1}), false},                    // no standard geometry
  };
  for (const auto& c : cases) {
    auto art = NativeCursorArt::make(c.cursor);
    ASSERT_NE(art, nullptr);
    EXPECT_EQ(library->isStandard(*art), c.standard);
    EXPECT_EQ(library->isStandard(*art), c.standard);  // from the stored identities
  }
}

TEST_F(NativeCursorLibraryTest, InvalidateRebuildsForTheNewScaleAndEmptiesTheCaches) {
  auto library = NativeCursorLibrary::shared();
  const auto arrowAtTwo = library->art(PointerKind::arrow)->identity();
  library->match(blockCursor({10, 10}, {0, 0}));
  ASSERT_TRUE(library->art(PointerKind::text)->staticRaster().has_value());
  CursorTransitionFrames::insert(library->art(PointerKind::text)->staticRaster()->frame,
                                 {1, 2, {}, 0});

  int posts = 0;
  const void* poster = nullptr;
  auto token = platform::NSNotificationCenter::defaultCenter().addObserverForName(
      "vurle.cursorArtworkDidInvalidate", nullptr, nullptr, [&](const platform::NSNotification& n) {
        ++posts;
        poster = n.object;
      });
  setBackingFactor(1);
  ASSERT_TRUE(refreshRenderScale());
  library->invalidate();

  EXPECT_EQ(posts, 1);
  EXPECT_EQ(poster, library.get());
  EXPECT_EQ(library->snapshotCount(), 0u);
  EXPECT_EQ(CursorRasterCache::storage()->count(), 0u);
  EXPECT_EQ(CursorTransitionFrames::count(), 0);
  EXPECT_NE(library->art(PointerKind::arrow)->identity(), arrowAtTwo);
  for (PointerKind kind : allPointerKinds) EXPECT_NE(library->art(kind), nullptr);
  EXPECT_TRUE(library->isStandard(*library->art(PointerKind::vertical)));
}

}  // namespace
}  // namespace vurle
