#include "cursor/native/native_cursor_image_reader.hpp"

#include <cmath>

#include "platform/dyld/symbol_registry.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/windowserver/current_cursor.hpp"

namespace vurle {
namespace {

platform::ProcessWide<std::shared_ptr<NativeCursorImageReader>> sharedReader([] {
  return NativeCursorImageReader::make();
});

constexpr size_t kMaximumImages = 16;
constexpr double kMaximumSide = 1024;
constexpr double kMaximumHotspot = 1024;
constexpr size_t kMaximumImageSide = 4096;
constexpr size_t kMaximumImagePixels = 4'194'304;

}  // namespace

std::shared_ptr<NativeCursorImageReader> NativeCursorImageReader::shared() { return sharedReader.get(); }

std::shared_ptr<NativeCursorImageReader> NativeCursorImageReader::make() {
  auto create = platform::dlsym<platform::CGSNewConnectionFn>(platform::RTLD_DEFAULT, "CGSNewConnection");
  auto release = platform::dlsym<platform::CGSReleaseConnectionFn>(platform::RTLD_DEFAULT, "CGSReleaseConnection");
  auto copy = platform::dlsym<platform::CGSCopyRegisteredCursorImagesFn>(platform::RTLD_DEFAULT,
                                                                         "CGSCopyRegisteredCursorImages");
  if (!create || !release || !copy) return nullptr;
  return std::shared_ptr<NativeCursorImageReader>(
      new NativeCursorImageReader(std::move(*create), std::move(*release), std::move(*copy)));
}

NativeCursorImageReader::NativeCursorImageReader(std::function<platform::CGSNewConnectionFn> make,
                                                 std::function<platform::CGSReleaseConnectionFn> release,
                                                 std::function<platform::CGSCopyRegisteredCursorImagesFn> copy)
    : make_(std::move(make)), release_(std::move(release)), copy_(std::move(copy)) {}

NativeCursorImageReader::~NativeCursorImageReader() {
  if (connection_ != 0) release_(connection_);
}

NativeCursorImageReader::Result NativeCursorImageReader::copyCurrent() {
  platform::CGSConnectionID connection = 0;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (!attempted_) {
      attempted_ = true;
      platform::CGSConnectionID made = 0;
      if (make_(nullptr, &made) == 0) connection_ = made;
    }
    connection = connection_;
  }
  if (connection == 0) return Result::unavailable();

  platform::CGSize size;
  platform::CGPoint hotSpot;
  int64_t frameCount = 0;
  double frameDuration = 0;
  platform::CGImageArrayRef images;
  if (copy_(connection, platform::kGlobalCurrentCursorName, &size, &hotSpot, &frameCount, &frameDuration,
            &images) != 0) {
    return Result::unavailable();
  }
  if (frameCount >= 2) return Result::animated();
  // An array holding anything but images counts as no images at all.
  std::vector<platform::CGImageRef> list;
  if (images) {
    list = *images;
    for (const auto& image : list) {
      if (!image) {
        list.clear();
        break;
      }
    }
  }
  return Result::of(makeNativeCursor(list, frameCount, size, hotSpot));
}

std::shared_ptr<platform::NSCursor> makeNativeCursor(const std::vector<platform::CGImageRef>& images,
                                                     int64_t frameCount, platform::CGSize size,
                                                     platform::CGPoint hotSpot) {
  if (frameCount != 1 || images.empty() || images.size() > kMaximumImages) return nullptr;
  const double w = size.width, h = size.height;
  if (!std::isfinite(w) || !std::isfinite(h) || !(w > 0) || !(h > 0) || w > kMaximumSide || h > kMaximumSide) {
    return nullptr;
  }
  if (!std::isfinite(hotSpot.x) || !std::isfinite(hotSpot.y) || std::fabs(hotSpot.x) > kMaximumHotspot ||
      std::fabs(hotSpot.y) > kMaximumHotspot) {
    return nullptr;
  }
  for (const auto& image : images) {
    const size_t pw = platform::CGImageGetWidth(image), ph = platform::CGImageGetHeight(image);
    if (pw < 1 || ph < 1 || pw > kMaximumImageSide || ph > kMaximumImageSide || pw * ph > kMaximumImagePixels) {
      return nullptr;
    }
  }
  auto image = platform::NSImage::make(size);
  if (!image) return nullptr;
  for (const auto& cgImage : images) {
    auto rep = platform::NSBitmapImageRep::makeWithCGImage(cgImage);
    if (!rep) return nullptr;
    rep->setSize(size);
    image->addRepresentation(rep);
  }
  return platform::NSCursor::make(image, hotSpot);
}

}  // namespace vurle
