#include "platform/appkit/cursor.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "platform/foundation/process_info.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/windowserver/current_cursor.hpp"

namespace platform {
namespace {

class NSCursorTest : public ::testing::Test {
 protected:
  void SetUp() override { resetProcessState(); }
  void TearDown() override { resetProcessState(); }
};

using Accessor = std::function<std::shared_ptr<NSCursor>()>;

std::vector<Accessor> namedCursors() {
  return {NSCursor::arrowCursor,           NSCursor::pointingHandCursor,
          NSCursor::IBeamCursor,           NSCursor::IBeamCursorForVerticalLayout,
          NSCursor::crosshairCursor,       NSCursor::openHandCursor,
          NSCursor::closedHandCursor,      NSCursor::operationNotAllowedCursor,
          NSCursor::dragCopyCursor,        NSCursor::dragLinkCursor,
          NSCursor::contextualMenuCursor,  NSCursor::disappearingItemCursor,
          NSCursor::resizeLeftCursor,      NSCursor::resizeRightCursor,
          NSCursor::resizeLeftRightCursor, NSCursor::resizeUpCursor,
          NSCursor::resizeDownCursor,      NSCursor::resizeUpDownCursor};
}

std::vector<Accessor> newerCursors() {
  std::vector<Accessor> list{NSCursor::zoomInCursor, NSCursor::zoomOutCursor,
                             NSCursor::columnResizeCursor, NSCursor::rowResizeCursor};
  for (unsigned d = 1; d <= 3; ++d) {
    list.push_back([d] { return NSCursor::columnResize(NSHorizontalDirections(d)); });
    list.push_back([d] { return NSCursor::rowResize(NSVerticalDirections(d)); });
  }
  for (unsigned p : {1u, 2u, 4u, 8u, 3u, 9u, 6u, 12u})
    for (unsigned d = 1; d <= 3; ++d)
      list.push_back([p, d] {
        return NSCursor::frameResize(NSCursorFrameResizePosition(p),
                                     NSCursorFrameResizeDirections(d));
      });
  return list;
}

std::vector<uint8_t> bytesOf(const CGImageRef& image) {
  return *CGDataProviderCopyData(CGImageGetDataProvider(image));
}

// Each cursor is drawn at every scale the system gives (sharp when drawn
// large), around its hot spot, and holds its whole ink, shadow included.
TEST_F(NSCursorTest, EveryCursorIsDrawnAtEachScaleAroundItsHotSpotWithNothingCut) {
  ProcessInfo::setOperatingSystemVersion({15, 0, 0});
  auto all = namedCursors();
  for (auto& accessor : newerCursors()) all.push_back(accessor);
  ASSERT_EQ(all.size(), 52u);
  for (size_t i = 0; i < all.size(); ++i) {
    SCOPED_TRACE(i);
    auto cursor = all[i]();
    ASSERT_NE(cursor, nullptr);
    EXPECT_EQ(all[i](), cursor);  // one object per system cursor
    const NSSize size = cursor->image()->size();
    const NSPoint hot = cursor->hotSpot();
    EXPECT_GT(size.width, 8);
    EXPECT_GT(size.height, 8);
    EXPECT_TRUE(hot.x >= 0 && hot.x <= size.width && hot.y >= 0 && hot.y <= size.height);
    const auto reps = cursor->image()->representations();
    const int scales[] = {1, 2, 4};
    ASSERT_EQ(reps.size(), std::size(scales));
    for (size_t r = 0; r < reps.size(); ++r) {
      const int scale = scales[r];
      const auto rep = std::dynamic_pointer_cast<NSBitmapImageRep>(reps[r]);
      ASSERT_NE(rep, nullptr);
      EXPECT_EQ(rep->pixelsWide(), std::lround(size.width * scale));
      EXPECT_EQ(rep->pixelsHigh(), std::lround(size.height * scale));
      EXPECT_EQ(rep->size(), size);
      const auto pixels = bytesOf(rep->CGImage());
      const long w = rep->pixelsWide(), h = rep->pixelsHigh();
      auto alpha = [&](long x, long y) { return int(pixels[size_t(y * rep->bytesPerRow() + 4 * x + 3)]); };
      // Something is drawn, and no ink reaches the edges.
      int opaque = 0;
      for (size_t p = 3; p < pixels.size(); p += 4) opaque += pixels[p] >= 128;
      EXPECT_GT(opaque, 10 * scale * scale);
      int left = 0, right = 0, top = 0, bottom = 0;
      for (long y = 0; y < h; ++y) left = std::max(left, alpha(0, y)), right = std::max(right, alpha(w - 1, y));
      for (long x = 0; x < w; ++x) top = std::max(top, alpha(x, 0)), bottom = std::max(bottom, alpha(x, h - 1));
      EXPECT_EQ(left + right + top + bottom, 0) << scale << "×: left " << left << ", right " << right << ", top "
                                                << top << ", bottom " << bottom;
    }
  }
}

TEST_F(NSCursorTest, TheArrowTipIsAtTheHotSpot) {
  auto arrow = NSCursor::arrowCursor();
  auto rep = std::dynamic_pointer_cast<NSBitmapImageRep>(arrow->image()->representations()[1]);
  const uint8_t* data = rep->bitmapData();
  // Pixels at 2× from the hot spot.
  const int hx = int(2 * arrow->hotSpot().x), hy = int(2 * arrow->hotSpot().y);
  auto alpha = [&](int x, int y) { return data[(hy + y) * rep->bytesPerRow() + 4 * (hx + x) + 3]; };
  auto red = [&](int x, int y) { return data[(hy + y) * rep->bytesPerRow() + 4 * (hx + x)]; };
  // The pixel just inside the tip is black and opaque; inside the outline's
  // reach above and left of it is white, further out is clear.
  EXPECT_GE(alpha(1, 2), 200);
  EXPECT_LT(red(1, 2), 60);
  EXPECT_GE(red(0, -2), 150);
  EXPECT_LT(alpha(-6, -6), 40);
}

TEST_F(NSCursorTest, NewerCursorsNeedMacOS15AndValidRawValues) {
  ProcessInfo::setOperatingSystemVersion({14, 6, 0});
  for (auto& accessor : newerCursors()) EXPECT_EQ(accessor(), nullptr);
  for (auto& accessor : namedCursors()) EXPECT_NE(accessor(), nullptr);

  ProcessInfo::setOperatingSystemVersion({15, 0, 0});
  EXPECT_EQ(NSCursor::columnResize(NSHorizontalDirections(0)), nullptr);
  EXPECT_EQ(NSCursor::rowResize(NSVerticalDirections(4)), nullptr);
  EXPECT_EQ(NSCursor::frameResize(NSCursorFrameResizePosition(5), NSCursorFrameResizeDirectionsAll),
            nullptr);
  EXPECT_EQ(NSCursor::frameResize(NSCursorFrameResizePositionTop, NSCursorFrameResizeDirections(0)),
            nullptr);
}

TEST_F(NSCursorTest, DistinctCursorsLookDistinctAndDirectionsMirror) {
  ProcessInfo::setOperatingSystemVersion({15, 0, 0});
  auto image = [](const std::shared_ptr<NSCursor>& cursor) {
    return bytesOf(
        std::dynamic_pointer_cast<NSBitmapImageRep>(cursor->image()->representations()[0])
            ->CGImage());
  };
  // Pixels kept as strings: GCC 12 warns falsely (-Wstringop-overread) when a
  // set compares byte vectors at -O3.
  std::set<std::string> named;
  for (auto& accessor : namedCursors()) {
    const auto bytes = image(accessor());
    named.emplace(bytes.begin(), bytes.end());
  }
  EXPECT_EQ(named.size(), 18u);
  // The left edge's outward arrow and the right edge's inward arrow both
  // point left over the edge, as the legacy left cursor does.
  EXPECT_EQ(image(NSCursor::frameResize(NSCursorFrameResizePositionLeft,
                                        NSCursorFrameResizeDirectionsOutward)),
            image(NSCursor::resizeLeftCursor()));
  EXPECT_EQ(image(NSCursor::frameResize(NSCursorFrameResizePositionRight,
                                        NSCursorFrameResizeDirectionsInward)),
            image(NSCursor::resizeLeftCursor()));
  EXPECT_EQ(image(NSCursor::columnResizeCursor()),
            image(NSCursor::columnResize(NSHorizontalDirectionAll)));
  EXPECT_NE(image(NSCursor::columnResize(NSHorizontalDirectionLeft)),
            image(NSCursor::columnResize(NSHorizontalDirectionRight)));
}

TEST_F(NSCursorTest, ResetGivesFreshObjectsAndAPlainCursorSharesItsImage) {
  auto before = NSCursor::arrowCursor();
  resetProcessState();
  EXPECT_NE(NSCursor::arrowCursor(), before);

  auto custom = NSCursor::make(before->image(), NSMakePoint(1, 2));
  ASSERT_NE(custom, nullptr);
  EXPECT_EQ(custom->image(), before->image());
  EXPECT_EQ(custom->hotSpot(), NSMakePoint(1, 2));
  EXPECT_EQ(NSCursor::make(nullptr, NSZeroPoint), nullptr);
}

// The window server's cursor on screen, as AppKit reports it.
TEST_F(NSCursorTest, CurrentSystemCursorReflectsTheWindowServer) {
  WindowServer::shared();
  auto& server = CurrentCursor::shared();
  const auto beam = NSCursor::IBeamCursor();
  server.setCursorFromAnotherApplication(CurrentCursor::imageSet(*beam->image(), beam->hotSpot()));
  const auto current = NSCursor::currentSystemCursor();
  ASSERT_NE(current, nullptr);
  EXPECT_NE(current, beam);  // a new object every time
  EXPECT_EQ(current->hotSpot(), beam->hotSpot());
  EXPECT_EQ(current->image()->size(), beam->image()->size());
  ASSERT_EQ(current->image()->representations().size(), beam->image()->representations().size());
  EXPECT_EQ(current->image()->representations()[1]->pixelsWide(),
            beam->image()->representations()[1]->pixelsWide());

  // An animation shows its first frame.
  auto busy = *CoreCursors::waitAnimation(4, 16);
  server.setCursorFromAnotherApplication(busy);
  const auto frame = NSCursor::currentSystemCursor();
  ASSERT_NE(frame, nullptr);
  const auto reps = frame->image()->representations();
  ASSERT_EQ(reps.size(), 2u);
  EXPECT_EQ(static_cast<size_t>(reps[0]->pixelsHigh()), CGImageGetHeight(busy.images[0]) / 4);

  server.setAppKitReadable(false);
  EXPECT_EQ(NSCursor::currentSystemCursor(), nullptr);
  server.setAppKitReadable(true);
  busy.images = {nullptr};
  server.setCursorFromAnotherApplication(busy);
  EXPECT_EQ(NSCursor::currentSystemCursor(), nullptr);
}

}  // namespace
}  // namespace platform
