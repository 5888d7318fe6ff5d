#include "cursor/art/cursor_raster_cache.hpp"

#include "cursor/art/fatal_error.hpp"
#include "cursor/art/identity_hasher.hpp"
#include "platform/foundation/process_wide.hpp"

namespace vurle {
namespace {

platform::ProcessWide<std::shared_ptr<CursorRasterCache::Storage>> sharedStorage([] {
  auto storage = std::make_shared<CursorRasterCache::Storage>();
  storage->setTotalCostLimit(CursorRasterCache::kTotalCostLimit);
  storage->setCountLimit(CursorRasterCache::kCountLimit);
  return storage;
});

}  // namespace

size_t CursorRasterCache::Key::hash() const {
  IdentityHasher hasher;
  hasher.combine(identity_);
  // The minimum corner rather than the raw origin, so that rectangles equal
  // by CGRectEqualToRect (which standardises) always hash alike.
  hasher.combine(platform::CGRectGetMinX(canvas_.bounds));
  hasher.combine(platform::CGRectGetMinY(canvas_.bounds));
  hasher.combine(platform::CGRectGetWidth(canvas_.bounds));
  hasher.combine(platform::CGRectGetHeight(canvas_.bounds));
  hasher.combine(canvas_.pixelScale);
  return static_cast<size_t>(hasher.finish());
}

bool CursorRasterCache::Key::isEqual(const platform::NSObject* other) const {
  const auto* key = dynamic_cast<const Key*>(other);
  return key != nullptr && key->identity_ == identity_ &&
         key->canvas_.pixelScale == canvas_.pixelScale &&
         platform::CGRectEqualToRect(key->canvas_.bounds, canvas_.bounds);
}

std::shared_ptr<CursorRasterCache::Storage> CursorRasterCache::storage() {
  return sharedStorage.get();
}

std::optional<CursorRaster> CursorRasterCache::raster(const NativeCursorArt& art,
                                                      const CursorCanvas& canvas) {
  const Key key(art.identity(), canvas);
  const auto cache = storage();
  if (auto box = cache->objectForKey(key)) return box->raster;
  auto raster = CursorRaster::make(art, canvas);
  if (!raster) return std::nullopt;
  int64_t cost = 0;
  if (__builtin_mul_overflow(canvas.pixelCount(), int64_t{12}, &cost)) {
    fatalError("raster cache cost overflows");
  }
  cache->setObject(std::make_shared<Box>(Box{*raster}), key, static_cast<size_t>(cost));
  return raster;
}

}  // namespace vurle
