#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "cursor/art/cursor_image.hpp"
#include "platform/appkit/cursor.hpp"
#include "platform/windowserver/core_cursors.hpp"

namespace vurle {

// Thumbnails of every frame of the window server's animated cursors (the
// busy cursor and the multi-frame core cursors), so that a sampled image
// that is one frame of an animation is never taken for a static cursor.
class NativeAnimatedCursors {
 public:
  struct Geometry {
    CGFloat width = 0, height = 0, hotspotX = 0, hotspotY = 0;
    bool operator==(const Geometry& other) const = default;
  };
  struct GeometryHash {
    size_t operator()(const Geometry& geometry) const;
  };
  using References = std::unordered_map<Geometry, std::vector<std::vector<uint8_t>>, GeometryHash>;

  static constexpr int64_t kMaximumFrames = 120;
  static constexpr int32_t kCoreCursorIDs[] = {4, 14, 15, 16};

  // The one instance, built once from the window server of that moment;
  // safe to make from any thread.
  static std::shared_ptr<const NativeAnimatedCursors> shared();

  // Reads the window server's animated cursors now.
  NativeAnimatedCursors();

  // Whether the cursor's image is nearly one frame of an animated cursor of
  // its geometry. Read-only; any thread.
  bool contains(const std::shared_ptr<platform::NSCursor>& cursor) const;

  const References& references() const { return references_; }

 private:
  void addFrames(const std::vector<platform::CGImageRef>& images, int64_t frameCount, CGSize size,
                 CGPoint hotspot);

  References references_;
};

}  // namespace vurle
