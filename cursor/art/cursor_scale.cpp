#include "cursor/art/cursor_scale.hpp"

#include <algorithm>
#include <cmath>
#include <functional>

#include "platform/appkit/screen.hpp"
#include "platform/dyld/symbol_registry.hpp"
#include "platform/foundation/lock.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/windowserver/window_server.hpp"

namespace vurle {
namespace {

using GetCursorScale = std::optional<std::function<platform::CGSGetCursorScaleFn>>;
using MainConnection = std::optional<std::function<platform::CGSMainConnectionIDFn>>;

// Each private function is looked up once per process.
platform::ProcessWide<GetCursorScale> getCursorScaleFunction([] {
  return platform::dlsym<platform::CGSGetCursorScaleFn>(platform::RTLD_DEFAULT,
                                                        "CGSGetCursorScale");
});
platform::ProcessWide<MainConnection> mainConnectionFunction([] {
  return platform::dlsym<platform::CGSMainConnectionIDFn>(platform::RTLD_DEFAULT,
                                                          "CGSMainConnectionID");
});

// The two stored scales. scaleLock is held only for reads and writes of
// them, never across a call into the screens or the window server.
struct ScaleState {
  platform::NSLock scaleLock;
  std::optional<double> cursorScale;
  std::optional<double> renderScale;

  ScaleState() {
    platform::addResetHook(this, [this] {
      std::lock_guard<platform::NSLock> guard(scaleLock);
      cursorScale.reset();
      renderScale.reset();
    });
  }
  ~ScaleState() { platform::removeResetHook(this); }
};

ScaleState& scaleState() {
  static ScaleState state;
  return state;
}

std::vector<double> screenBackingFactors() {
  std::vector<double> factors;
  for (const auto& screen : platform::NSScreen::screens()) {
    factors.push_back(screen->backingScaleFactor());
  }
  return factors;
}

}  // namespace

double currentCursorScale() {
  const auto getScale = getCursorScaleFunction.get();
  const auto mainConnection = mainConnectionFunction.get();
  float value = 1.0f;
  if (getScale && mainConnection) {
    if ((*getScale)((*mainConnection)(), &value) != 0) value = 1.0f;
  }
  const double widened = value;
  return std::isfinite(widened) && widened >= 1.0 ? widened : 1.0;
}

double cursorScale() {
  auto& state = scaleState();
  {
    std::lock_guard<platform::NSLock> guard(state.scaleLock);
    if (state.cursorScale) return *state.cursorScale;
  }
  const double read = currentCursorScale();
  std::lock_guard<platform::NSLock> guard(state.scaleLock);
  if (!state.cursorScale) state.cursorScale = read;
  return *state.cursorScale;
}

double renderScale(const std::vector<double>& backingFactors, double cursorScale) {
  double base = 0;
  bool found = false;
  for (double factor : backingFactors) {
    if (std::isfinite(factor) && factor >= 1.0 && (!found || factor > base)) {
      base = factor;
      found = true;
    }
  }
  if (!found) base = 2.0;
  const double cursorFactor = std::isfinite(cursorScale) && cursorScale >= 1.0 ? cursorScale : 1.0;
  return cursorFactor * base;
}

double renderScale() {
  auto& state = scaleState();
  {
    std::lock_guard<platform::NSLock> guard(state.scaleLock);
    if (state.renderScale) return *state.renderScale;
  }
  const double computed = renderScale(screenBackingFactors(), cursorScale());
  std::lock_guard<platform::NSLock> guard(state.scaleLock);
  if (!state.renderScale) state.renderScale = computed;
  return *state.renderScale;
}

double renderScale(double forBackingFactor) {
  const double stored = cursorScale();
  return renderScale(std::vector<double>{forBackingFactor}, stored);
}

bool refreshRenderScale() {
  const double c = currentCursorScale();
  const double r = renderScale(screenBackingFactors(), c);
  auto& state = scaleState();
  std::lock_guard<platform::NSLock> guard(state.scaleLock);
  if (state.renderScale != r || state.cursorScale != c) {
    state.renderScale = r;
    state.cursorScale = c;
    return true;
  }
  return false;
}

int64_t defaultPixelLimit(double scale) {
  if (!std::isfinite(scale) || !(scale > 0)) return 0;
  const double v = std::max(scale * 0.5, 1.0);
  const double limit = std::min(v * (v * 24576.0), static_cast<double>(kMaximumMorphPixels));
  return static_cast<int64_t>(limit);
}

bool canvasFits(CGRect rect, double scale, std::optional<int64_t> pixelLimit) {
  const double minX = platform::CGRectGetMinX(rect);
  const double minY = platform::CGRectGetMinY(rect);
  const double maxX = platform::CGRectGetMaxX(rect);
  const double maxY = platform::CGRectGetMaxY(rect);
  if (!std::isfinite(minX) || !std::isfinite(minY) || !std::isfinite(maxX) ||
      !std::isfinite(maxY)) {
    return false;
  }
  if (!std::isfinite(scale) || !(scale > 0)) return false;
  if (!(platform::CGRectGetWidth(rect) > 0) || !(platform::CGRectGetHeight(rect) > 0)) return false;
  const double w = std::ceil(scale * maxX) - std::floor(scale * minX);
  const double h = std::ceil(scale * maxY) - std::floor(scale * minY);
  if (!(w > 0) || !(h > 0)) return false;
  const double limit = static_cast<double>(pixelLimit ? *pixelLimit : defaultPixelLimit(scale));
  return w * h <= limit;
}

CGRect pixelAligned(CGRect rect, double scale) {
  const double minX = std::floor(platform::CGRectGetMinX(rect) * scale) / scale;
  const double minY = std::floor(platform::CGRectGetMinY(rect) * scale) / scale;
  const double width = std::ceil(platform::CGRectGetMaxX(rect) * scale) / scale - minX;
  const double height = std::ceil(platform::CGRectGetMaxY(rect) * scale) / scale - minY;
  return platform::CGRectMake(minX, minY, width, height);
}

CursorCanvas artCanvas(CGRect localBounds, double scale) {
  return CursorCanvas{scale, pixelAligned(platform::CGRectInset(localBounds, -3, -3), scale)};
}

}  // namespace vurle
