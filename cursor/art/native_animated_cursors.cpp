#include "cursor/art/native_animated_cursors.hpp"

#include <string>

#include "cursor/art/identity_hasher.hpp"
#include "cursor/art/kernels.hpp"
#include "cursor/art/native_cursor_art.hpp"
#include "platform/dyld/symbol_registry.hpp"
#include "platform/foundation/process_wide.hpp"

namespace vurle {
namespace {

platform::ProcessWide<std::shared_ptr<const NativeAnimatedCursors>> sharedCursors([] {
  return std::make_shared<const NativeAnimatedCursors>();
});

// The images as an array of images: empty when any element is of another
// kind, as a cast of the whole array would be.
std::vector<platform::CGImageRef> imagesOf(const platform::CGImageArrayRef& array) {
  if (!array) return {};
  for (const auto& image : *array) {
    if (!image) return {};
  }
  return *array;
}

}  // namespace

size_t NativeAnimatedCursors::GeometryHash::operator()(const Geometry& geometry) const {
  IdentityHasher hasher;
  for (double value : {geometry.width, geometry.height, geometry.hotspotX, geometry.hotspotY}) {
    hasher.combine(value);
  }
  return static_cast<size_t>(hasher.finish());
}

std::shared_ptr<const NativeAnimatedCursors> NativeAnimatedCursors::shared() {
  return sharedCursors.get();
}

NativeAnimatedCursors::NativeAnimatedCursors() {
  const auto mainConnection = platform::dlsym<platform::CGSMainConnectionIDFn>(
      platform::RTLD_DEFAULT, "CGSMainConnectionID");
  if (!mainConnection) return;
  const platform::CGSConnectionID connection = (*mainConnection)();

  if (const auto copy = platform::dlsym<platform::CoreCursorCopyImagesFn>(platform::RTLD_DEFAULT,
                                                                          "CoreCursorCopyImages")) {
    for (int32_t id : kCoreCursorIDs) {
      platform::CGImageArrayRef images;
      CGSize size{};
      CGPoint hotspot{};
      int64_t frames = 0;
      double unused = 0;
      if ((*copy)(connection, id, &images, &size, &hotspot, &frames, &unused) == 0 && frames >= 2) {
        addFrames(imagesOf(images), frames, size, hotspot);
      }
    }
  }

  const auto copyRegistered = platform::dlsym<platform::CGSCopyRegisteredCursorImagesFn>(
      platform::RTLD_DEFAULT, "CGSCopyRegisteredCursorImages");
  if (!copyRegistered) return;
  const std::string name = platform::kWaitCursorName;
  platform::CGImageArrayRef images;
  CGSize size{};
  CGPoint hotspot{};
  int64_t frames = 0;
  double unused = 0;
  if ((*copyRegistered)(connection, name.c_str(), &size, &hotspot, &frames, &unused, &images) ==
          0 &&
      frames >= 2) {
    addFrames(imagesOf(images), frames, size, hotspot);
  }
}

void NativeAnimatedCursors::addFrames(const std::vector<platform::CGImageRef>& images,
                                      int64_t frameCount, CGSize size, CGPoint hotspot) {
  if (!(size.width > 0) || !(size.height > 0) || frameCount > kMaximumFrames || frameCount < 1) {
    return;
  }
  const Geometry geometry{size.width, size.height, hotspot.x, hotspot.y};
  const size_t n = static_cast<size_t>(frameCount);
  for (size_t r = 0; r < images.size() && r < 2; ++r) {
    const auto& strip = images[r];
    const size_t height = platform::CGImageGetHeight(strip);
    if (height % n != 0) continue;
    const size_t frameHeight = height / n;
    const double width = static_cast<double>(platform::CGImageGetWidth(strip));
    for (size_t i = 0; i < n; ++i) {
      const auto frame = platform::CGImageCreateWithImageInRect(
          strip, platform::CGRectMake(0, static_cast<double>(i * frameHeight), width,
                                      static_cast<double>(frameHeight)));
      if (!frame) continue;
      auto thumbnail = cursorThumbnail(frame);
      if (!thumbnail) continue;
      references_[geometry].push_back(std::move(*thumbnail));
    }
  }
}

bool NativeAnimatedCursors::contains(const std::shared_ptr<platform::NSCursor>& cursor) const {
  if (!cursor || !cursor->image()) return false;
  const CGSize size = cursor->image()->size();
  const auto it =
      references_.find(Geometry{size.width, size.height, cursor->hotSpot().x, cursor->hotSpot().y});
  if (it == references_.end()) return false;
  const auto thumbnail = cursorThumbnail(proposedCGImage(*cursor->image()));
  if (!thumbnail) return false;
  for (const auto& reference : it->second) {
    if (reference.size() == thumbnail->size() &&
        imagesNearlyEqual(reference.data(), thumbnail->data(),
                          static_cast<int32_t>(thumbnail->size()))) {
      return true;
    }
  }
  return false;
}

}  // namespace vurle
