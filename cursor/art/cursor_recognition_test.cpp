#include <gtest/gtest.h>

#include "cursor/art/art_test_support.hpp"
#include "cursor/art/native_animated_cursors.hpp"
#include "cursor/art/native_cursor_library.hpp"
#include "cursor/art/static_cursor_recognition.hpp"
#include "platform/dyld/symbol_registry.hpp"
#include "platform/windowserver/core_cursors.hpp"

namespace vurle {
namespace {

using platform::CoreCursors;
using platform::NSCursor;

class StaticCursorRecognitionTest : public testing::ArtTest {};
class NativeAnimatedCursorsTest : public testing::ArtTest {};

std::shared_ptr<NativeCursorArt> artOf(const std::shared_ptr<NSCursor>& cursor) {
  return NativeCursorArt::make(cursor);
}

TEST_F(StaticCursorRecognitionTest, LabelsCatalogueArtByItsFirstName) {
  setSystem(15);
  const StaticCursorRecognition recognition;
  EXPECT_EQ(recognition.references().size(), 52u);
  auto library = NativeCursorLibrary::shared();
  struct Case {
    std::shared_ptr<NSCursor> cursor;
    std::string label;
  } cases[] = {
      {NSCursor::pointingHandCursor(), "hand"},
      {NSCursor::resizeLeftCursor(), "resize left"},
      {NSCursor::zoomOutCursor(), "zoom out"},
      // The same picture as "resize left", which comes first.
      {NSCursor::frameResize(platform::NSCursorFrameResizePositionLeft,
                             platform::NSCursorFrameResizeDirectionsOutward),
       "resize left"},
      {NSCursor::columnResizeCursor(), "column"},
      {testing::antialiasingVariant(NSCursor::crosshairCursor()), "crosshair"},
  };
  for (const auto& c : cases) {
    auto art = library->match(c.cursor);
    ASSERT_NE(art, nullptr);
    EXPECT_EQ(recognition.label(*art), c.label);
    EXPECT_TRUE(recognition.recognises(*art));
  }
  auto custom = artOf(NSCursor::make(testing::filledImage({20, 20}, 0, 0, 0, 255), {1, 1}));
  EXPECT_EQ(recognition.label(*custom), "custom-or-unclassified");
  EXPECT_FALSE(recognition.recognises(*custom));
}

TEST_F(StaticCursorRecognitionTest, RecognisesCopiesOfSystemImagesOnlyAtTheirGeometry) {
  setSystem(14);
  const StaticCursorRecognition recognition;
  EXPECT_EQ(recognition.references().size(), 18u);
  const auto copy = NSCursor::dragLinkCursor();
  struct Case {
    const char* what;
    std::shared_ptr<NSCursor> cursor;
    bool recognised;
  } cases[] = {
      {"nearly the same image, same geometry", testing::antialiasingVariant(copy), true},
      {"same image and size, other hot spot",
       NSCursor::make(copy->image(), {copy->hotSpot().x + 1, copy->hotSpot().y}), false},
      {"another picture of that geometry",
       NSCursor::make(testing::filledImage(copy->image()->size(), 0, 0, 0, 255), copy->hotSpot()), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto art = artOf(c.cursor);
    ASSERT_NE(art, nullptr);
    EXPECT_EQ(recognition.recognises(*art), c.recognised);
    EXPECT_EQ(recognition.label(*art), "custom-or-unclassified");
  }
}

// A cursor showing one frame of a strip, as a sampled static image would.
std::shared_ptr<NSCursor> frameCursor(const platform::CursorImageSet& set, int64_t frame) {
  auto image = platform::NSImage::make(set.size);
  for (const auto& strip : set.images) {
    const size_t fh = platform::CGImageGetHeight(strip) / size_t(set.frameCount);
    auto cut = platform::CGImageCreateWithImageInRect(
        strip, platform::CGRectMake(0, double(size_t(frame) * fh),
                                    double(platform::CGImageGetWidth(strip)), double(fh)));
    auto rep = platform::NSBitmapImageRep::makeWithCGImage(cut);
    rep->setSize(set.size);
    image->addRepresentation(rep);
  }
  return NSCursor::make(image, set.hotSpot);
}

size_t referenceCount(const NativeAnimatedCursors& cursors) {
  size_t count = 0;
  for (const auto& [geometry, thumbnails] : cursors.references()) count += thumbnails.size();
  return count;
}

TEST_F(NativeAnimatedCursorsTest, FramesOfTheBusyCursorAreKnownAndStaticCursorsAreNot) {
  setSystem(15);
  const auto wait = *CoreCursors::shared().registeredCursor(platform::kWaitCursorName);
  auto animated = NativeAnimatedCursors::shared();
  EXPECT_EQ(NativeAnimatedCursors::shared(), animated);
  for (int64_t frame : {int64_t{0}, wait.frameCount - 1})
    EXPECT_TRUE(animated->contains(frameCursor(wait, frame)));
  const auto core = *CoreCursors::shared().coreCursor(15);
  EXPECT_TRUE(animated->contains(frameCursor(core, 3)));
  // Same picture, other hot spot: another geometry.
  auto moved = frameCursor(wait, 0);
  EXPECT_FALSE(animated->contains(NSCursor::make(moved->image(), {0, 0})));
  for (const auto& [name, cursor] : namedSystemCursors())
    EXPECT_FALSE(animated->contains(cursor)) << name;
}

TEST_F(NativeAnimatedCursorsTest, OnlyUsableStripsContributeReferences) {
  auto& server = CoreCursors::shared();
  const auto waitDefault = *server.registeredCursor(platform::kWaitCursorName);
  const size_t baseline = referenceCount(NativeAnimatedCursors());
  const size_t waitShare = size_t(waitDefault.frameCount) * 2;

  auto offByOne = waitDefault;
  for (auto& strip : offByOne.images) {
    strip = platform::CGImageCreateWithImageInRect(
        strip, platform::CGRectMake(0, 0, double(platform::CGImageGetWidth(strip)),
                                    double(platform::CGImageGetHeight(strip) - 1)));
  }
  auto foreign = waitDefault;
  foreign.images.push_back(nullptr);
  auto single = waitDefault;
  single.frameCount = 1;

  struct Case {
    const char* what;
    std::optional<platform::CursorImageSet> wait;
    size_t expected;
  } cases[] = {
      {"120 frames: two strips of 120", CoreCursors::waitAnimation(120, 16),
       baseline - waitShare + 240},
      {"121 frames: nothing", CoreCursors::waitAnimation(121, 16), baseline - waitShare},
      {"height not a multiple of the count", offByOne, baseline - waitShare},
      {"an element that is not an image", foreign, baseline - waitShare},
      {"a single frame", single, baseline - waitShare},
      {"no such cursor", std::nullopt, baseline - waitShare},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    server.setRegisteredCursor(platform::kWaitCursorName, c.wait);
    EXPECT_EQ(referenceCount(NativeAnimatedCursors()), c.expected);
  }
}

TEST_F(NativeAnimatedCursorsTest, MissingFunctionsLeaveReferencesOut) {
  const auto wait = *CoreCursors::shared().registeredCursor(platform::kWaitCursorName);
  auto& registry = platform::SymbolRegistry::shared();

  registry.remove("CoreCursorCopyImages");
  const NativeAnimatedCursors waitOnly;
  EXPECT_EQ(referenceCount(waitOnly), size_t(wait.frameCount) * 2);
  EXPECT_TRUE(waitOnly.contains(frameCursor(wait, 1)));

  CoreCursors::shared().setCopyError(platform::kCGErrorFailure);
  EXPECT_EQ(referenceCount(NativeAnimatedCursors()), 0u);

  platform::resetProcessState();
  registry.remove("CGSMainConnectionID");
  const NativeAnimatedCursors none;
  EXPECT_TRUE(none.references().empty());
  EXPECT_FALSE(none.contains(frameCursor(wait, 1)));
  EXPECT_FALSE(NativeAnimatedCursors::shared()->contains(frameCursor(wait, 1)));
}

}  // namespace
}  // namespace vurle
