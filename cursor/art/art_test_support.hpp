#pragma once

// Shared by the artwork tests: a clean process per test and cursors made
// from changed copies of system cursor images.

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "platform/appkit/cursor.hpp"
#include "platform/appkit/screen.hpp"
#include "platform/foundation/process_info.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/windowserver/window_server.hpp"

namespace vurle::testing {

class ArtTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::WindowServer::shared();
    platform::resetProcessState();
  }
  void TearDown() override { platform::resetProcessState(); }

  static void setBackingFactor(double factor) {
    platform::NSScreen::setScreens(
        {platform::NSScreen::make(platform::CGRectMake(0, 0, 1440, 900), factor)});
  }
  static void setSystem(int major) {
    platform::ProcessInfo::setOperatingSystemVersion({major, 0, 0});
  }
};

// A copy of the image whose every bitmap representation went through
// `change(bytes, width, height, bytesPerRow)`.
inline std::shared_ptr<platform::NSImage> changedImage(
    const platform::NSImage& image, const std::function<void(uint8_t*, int, int, int)>& change) {
  auto copy = platform::NSImage::make(image.size());
  for (const auto& rep : image.representations()) {
    auto bitmap = std::dynamic_pointer_cast<platform::NSBitmapImageRep>(rep);
    auto duplicate = platform::NSBitmapImageRep::makeWithCGImage(bitmap->CGImage());
    duplicate->setSize(bitmap->size());
    change(duplicate->bitmapData(), duplicate->pixelsWide(), duplicate->pixelsHigh(),
           duplicate->bytesPerRow());
    copy->addRepresentation(duplicate);
  }
  return copy;
}

// The cursor with a few edge pixels a shade different, as the window
// server's copy of a standard cursor may be.
inline std::shared_ptr<platform::NSCursor> antialiasingVariant(
    const std::shared_ptr<platform::NSCursor>& cursor, int pixels = 6) {
  auto image = changedImage(*cursor->image(), [pixels](uint8_t* bytes, int w, int h, int row) {
    int changed = 0;
    for (int y = 0; y < h && changed < pixels; ++y)
      for (int x = 0; x < w && changed < pixels; ++x) {
        uint8_t* p = bytes + y * row + 4 * x;
        if (p[3] > 20 && p[3] < 235) {  // a partly covered edge pixel
          p[3] = uint8_t(p[3] + 8);
          ++changed;
        }
      }
  });
  return platform::NSCursor::make(image, cursor->hotSpot());
}

// An image of the given point size filled with one premultiplied colour.
inline std::shared_ptr<platform::NSImage> filledImage(platform::CGSize size, uint8_t r, uint8_t g,
                                                      uint8_t b, uint8_t a, int pixelsWide = 4,
                                                      int pixelsHigh = 4) {
  auto rep = platform::NSBitmapImageRep::make(nullptr, pixelsWide, pixelsHigh, 8, 4, true, false,
                                              std::string(platform::NSDeviceRGBColorSpace),
                                              4 * pixelsWide, 32);
  for (int i = 0; i < pixelsWide * pixelsHigh; ++i) {
    uint8_t* p = rep->bitmapData() + 4 * i;
    p[0] = r, p[1] = g, p[2] = b, p[3] = a;
  }
  rep->setSize(size);
  auto image = platform::NSImage::make(size);
  image->addRepresentation(rep);
  return image;
}

}  // namespace vurle::testing
