#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "cursor/art/cursor_image.hpp"
#include "cursor/art/native_cursor_art.hpp"
#include "platform/foundation/cache.hpp"
#include "platform/foundation/object.hpp"

namespace vurle {

// The process-wide cache of art rasters: building one draws the art and
// runs two chamfer passes. Emptied with the transition-frame store when the
// artwork is rebuilt. Relies on the cache's own thread safety: two threads
// that miss on one key both build, and the later store wins.
class CursorRasterCache {
 public:
  static constexpr size_t kTotalCostLimit = 0x1800000;  // 24 MiB
  static constexpr size_t kCountLimit = 128;

  class Key : public platform::NSObject {
   public:
    Key() = delete;
    Key(int64_t identity, const CursorCanvas& canvas) : identity_(identity), canvas_(canvas) {}
    int64_t identity() const { return identity_; }
    const CursorCanvas& canvas() const { return canvas_; }
    // Identity, then origin x, origin y, width, height and pixelScale,
    // each float by its bits with -0 taken as +0.
    size_t hash() const override;
    // Same class, identity and pixelScale, and equal rectangles.
    bool isEqual(const platform::NSObject* other) const override;

   private:
    int64_t identity_;
    CursorCanvas canvas_;
  };

  struct Box {
    CursorRaster raster;
  };

  using Storage = platform::NSCache<Key, Box>;

  // The raster of the art on the canvas, built and stored (cost pixel
  // count × 12) on a miss. None, with nothing stored, when it cannot be
  // drawn.
  static std::optional<CursorRaster> raster(const NativeCursorArt& art, const CursorCanvas& canvas);

  // The one cache, made on first use with the limits above.
  static std::shared_ptr<Storage> storage();
};

}  // namespace vurle
