#include "cursor/engine/experimental_cursor_hit_test.hpp"

#include "platform/dyld/symbol_registry.hpp"

namespace vurle {

using namespace platform;

std::optional<ExperimentalCursorHitTest> ExperimentalCursorHitTest::make() {
  // Looked up in this order, each once; the first missing one ends it.
  auto main = dlsym<CGSMainConnectionIDFn>(RTLD_DEFAULT, "CGSMainConnectionID");
  if (!main) return std::nullopt;
  auto find = dlsym<SLSFindWindowAndOwnerFn>(RTLD_DEFAULT, "SLSFindWindowAndOwner");
  if (!find) return std::nullopt;
  auto owner = dlsym<SLSConnectionGetPIDFn>(RTLD_DEFAULT, "SLSConnectionGetPID");
  if (!owner) return std::nullopt;
  auto level = dlsym<SLSGetWindowLevelFn>(RTLD_DEFAULT, "SLSGetWindowLevel");
  if (!level) return std::nullopt;
  auto bounds = dlsym<SLSGetWindowBoundsFn>(RTLD_DEFAULT, "SLSGetWindowBounds");
  if (!bounds) return std::nullopt;
  ExperimentalCursorHitTest test;
  test.main_ = std::move(*main);
  test.find_ = std::move(*find);
  test.owner_ = std::move(*owner);
  test.level_ = std::move(*level);
  test.bounds_ = std::move(*bounds);
  return test;
}

std::optional<ExperimentalCursorSurface::Hit> ExperimentalCursorHitTest::hit(CGPoint point) const {
  const CGSConnectionID connection = main_();
  if (connection == 0) return std::nullopt;
  CGPoint windowPoint{};  // written by the server, not needed
  CGWindowID window = 0;
  CGSConnectionID ownerConnection = 0;
  if (find_(connection, 0, 1, false, &point, &windowPoint, &window, &ownerConnection) != kCGErrorSuccess ||
      window == 0 || ownerConnection == 0) {
    return std::nullopt;
  }
  int32_t pid = 0;
  if (owner_(ownerConnection, &pid) != kCGErrorSuccess || pid < 1) return std::nullopt;
  // Level and bounds go through our own connection; only the process id
  // needs the owner's.
  int32_t level = 0;
  if (level_(connection, window, &level) != kCGErrorSuccess) return std::nullopt;
  CGRect rect{};
  if (bounds_(connection, window, &rect) != kCGErrorSuccess) return std::nullopt;
  if (!CGRectContainsPoint(rect, point)) return std::nullopt;
  return ExperimentalCursorSurface::Hit{window, pid, level, rect};
}

}  // namespace vurle
