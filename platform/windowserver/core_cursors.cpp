#include "platform/windowserver/core_cursors.hpp"

#include <cmath>
#include <cstring>
#include <functional>

#include "platform/dyld/symbol_registry.hpp"
#include "platform/graphics/context.hpp"
#include "platform/windowserver/current_cursor.hpp"

namespace platform {
namespace {

constexpr int64_t kMaximumDrawnFrames = 240;

// How each default animation looks: a ring of `spokes` dots, one of which
// is lit per frame, and optionally the arrow beside it.
struct Look {
  CGFloat width, height;  // points at the default frame height
  CGPoint hotSpot;
  int spokes;
  bool withArrow;
  int64_t frames;
};

std::optional<Look> look(int32_t cursorID) {
  switch (cursorID) {
    case 4:
      return Look{30, 30, {4, 4}, 8, true, 10};  // arrow and spinner
    case 14:
      return Look{28, 28, {14, 14}, 6, false, 6};
    case 15:
      return Look{28, 28, {14, 14}, 12, false, 12};
    case 16:
      return Look{30, 30, {15, 15}, 4, false, 8};
    default:
      return std::nullopt;
  }
}

constexpr Look kWait{32, 32, {16, 16}, 10, false, 10};

// Draws one frame with its top at `top` (points, y down) in a context whose
// CTM maps points y-down.
void drawFrame(const CGContextRef& c, const Look& look, CGFloat width, CGFloat height, CGFloat top,
               int64_t frame) {
  const CGFloat unit = height / look.height;
  CGFloat cx = width / 2, cy = top + height / 2, radius = height * 0.36;
  if (look.withArrow) {
    // The arrow at the hot spot, the spinner at the lower right.
    const CGFloat x = look.hotSpot.x * unit, y = top + look.hotSpot.y * unit;
    CGContextSetRGBFillColor(c, 0, 0, 0, 1);
    CGContextBeginPath(c);
    CGContextMoveToPoint(c, x, y);
    CGContextAddLineToPoint(c, x, y + 15.5 * unit);
    CGContextAddLineToPoint(c, x + 4 * unit, y + 11.5 * unit);
    CGContextAddLineToPoint(c, x + 11.5 * unit, y + 11 * unit);
    CGContextClosePath(c);
    CGContextFillPath(c);
    cx = width * 0.68;
    cy = top + height * 0.68;
    radius = height * 0.24;
  }
  CGContextSetRGBFillColor(c, 1, 1, 1, 1);
  CGContextFillEllipseInRect(c, CGRectMake(cx - radius, cy - radius, 2 * radius, 2 * radius));
  const CGFloat dot = radius * 0.28;
  for (int i = 0; i < look.spokes; ++i) {
    const CGFloat angle = 2 * M_PI * i / look.spokes;
    const CGFloat lit = (i == frame % look.spokes) ? 1.0 : 0.25;
    CGContextSetRGBFillColor(c, 0, 0, 0, lit);
    const CGFloat x = cx + std::cos(angle) * radius * 0.62,
                  y = cy + std::sin(angle) * radius * 0.62;
    CGContextFillEllipseInRect(c, CGRectMake(x - dot, y - dot, 2 * dot, 2 * dot));
  }
}

// One representation: a vertical strip of `frames` frames.
CGImageRef drawStrip(const Look& look, int64_t frames, CGFloat frameHeight, int scale) {
  const CGFloat width = frameHeight * look.width / look.height;
  const auto pw = static_cast<size_t>(std::lround(width * scale));
  const auto fh = static_cast<size_t>(std::lround(frameHeight * scale));
  auto c = CGBitmapContextCreate(nullptr, pw, fh * static_cast<size_t>(frames), 8, 4 * pw,
                                 CGColorSpaceCreateDeviceRGB(), kCGImageAlphaPremultipliedLast);
  if (!c) return nullptr;
  CGContextTranslateCTM(c, 0, static_cast<CGFloat>(fh * static_cast<size_t>(frames)));
  CGContextScaleCTM(c, scale, -scale);
  for (int64_t i = 0; i < frames; ++i) drawFrame(c, look, width, frameHeight, frameHeight * i, i);
  return CGBitmapContextCreateImage(c);
}

std::optional<CursorImageSet> makeAnimation(const Look& look, int64_t frames, CGFloat frameHeight) {
  if (frames < 1 || frames > kMaximumDrawnFrames || !std::isfinite(frameHeight) ||
      frameHeight < 4 || frameHeight > 256) {
    return std::nullopt;
  }
  CursorImageSet set;
  const CGFloat unit = frameHeight / look.height;
  set.size = CGSizeMake(look.width * unit, frameHeight);
  set.hotSpot = CGPointMake(look.hotSpot.x * unit, look.hotSpot.y * unit);
  set.frameCount = frames;
  set.frameDuration = 1.0 / 15;
  for (int scale : {1, 2}) {
    auto strip = drawStrip(look, frames, frameHeight, scale);
    if (!strip) return std::nullopt;
    set.images.push_back(std::move(strip));
  }
  return set;
}

// The defaults are drawn once per process; reset() only points back at them.
const std::map<int32_t, CursorImageSet>& defaultCoreCursors() {
  static const auto made = [] {
    std::map<int32_t, CursorImageSet> cursors;
    for (int32_t id : {4, 14, 15, 16}) {
      if (auto set = CoreCursors::animation(id, look(id)->frames, look(id)->height)) {
        cursors.emplace(id, std::move(*set));
      }
    }
    return cursors;
  }();
  return made;
}

const std::optional<CursorImageSet>& defaultWaitCursor() {
  static const auto made = CoreCursors::waitAnimation(kWait.frames, kWait.height);
  return made;
}

}  // namespace

CoreCursors& CoreCursors::shared() {
  static CoreCursors* cursors = new CoreCursors();
  return *cursors;
}

std::optional<CursorImageSet> CoreCursors::animation(int32_t cursorID, int64_t frameCount,
                                                     CGFloat frameHeight) {
  const auto found = look(cursorID);
  if (!found) return std::nullopt;
  return makeAnimation(*found, frameCount, frameHeight);
}

std::optional<CursorImageSet> CoreCursors::waitAnimation(int64_t frameCount, CGFloat frameHeight) {
  return makeAnimation(kWait, frameCount, frameHeight);
}

void CoreCursors::reset() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    core_.clear();
    registered_.clear();
    defaultsPending_ = true;
    copyError_ = kCGErrorSuccess;
  }
  auto& registry = SymbolRegistry::shared();
  registry.add<CoreCursorCopyImagesFn>(
      "CoreCursorCopyImages",
      [this](CGSConnectionID connection, int32_t id, CGImageArrayRef* images, CGSize* size,
             CGPoint* hotSpot, int64_t* frameCount, double* frameDuration) {
        return copyCoreCursorImages(connection, id, images, size, hotSpot, frameCount,
                                    frameDuration);
      });
  registry.add<CGSCopyRegisteredCursorImagesFn>(
      "CGSCopyRegisteredCursorImages",
      [this](CGSConnectionID connection, const char* name, CGSize* size, CGPoint* hotSpot,
             int64_t* frameCount, double* frameDuration, CGImageArrayRef* images) {
        return copyRegisteredCursorImages(connection, name, size, hotSpot, frameCount,
                                          frameDuration, images);
      });
}

// The default pictures are drawn on first need, so that processes which
// never read a cursor image pay nothing for them.
void CoreCursors::ensureDefaults() const {
  if (!defaultsPending_) return;
  defaultsPending_ = false;
  core_ = defaultCoreCursors();
  if (const auto& wait = defaultWaitCursor()) registered_.emplace(kWaitCursorName, *wait);
}

void CoreCursors::setCoreCursor(int32_t cursorID, std::optional<CursorImageSet> cursor) {
  std::lock_guard<std::mutex> guard(mutex_);
  ensureDefaults();
  if (cursor) {
    core_[cursorID] = std::move(*cursor);
  } else {
    core_.erase(cursorID);
  }
}

void CoreCursors::setRegisteredCursor(const std::string& name,
                                      std::optional<CursorImageSet> cursor) {
  std::lock_guard<std::mutex> guard(mutex_);
  ensureDefaults();
  if (cursor) {
    registered_[name] = std::move(*cursor);
  } else {
    registered_.erase(name);
  }
}

std::optional<CursorImageSet> CoreCursors::coreCursor(int32_t cursorID) const {
  std::lock_guard<std::mutex> guard(mutex_);
  ensureDefaults();
  auto it = core_.find(cursorID);
  if (it == core_.end()) return std::nullopt;
  return it->second;
}

std::optional<CursorImageSet> CoreCursors::registeredCursor(const std::string& name) const {
  std::lock_guard<std::mutex> guard(mutex_);
  ensureDefaults();
  auto it = registered_.find(name);
  if (it == registered_.end()) return std::nullopt;
  return it->second;
}

void CoreCursors::setCopyError(CGError error) {
  std::lock_guard<std::mutex> guard(mutex_);
  copyError_ = error;
}

namespace {

CGError hand(const CursorImageSet& set, CGImageArrayRef* images, CGSize* size, CGPoint* hotSpot,
             int64_t* frameCount, double* frameDuration) {
  if (!images || !size || !hotSpot || !frameCount || !frameDuration) return kCGErrorIllegalArgument;
  *images = std::make_shared<const std::vector<CGImageRef>>(set.images);
  *size = set.size;
  *hotSpot = set.hotSpot;
  *frameCount = set.frameCount;
  *frameDuration = set.frameDuration;
  return kCGErrorSuccess;
}

}  // namespace

CGError CoreCursors::copyCoreCursorImages(CGSConnectionID connection, int32_t cursorID,
                                          CGImageArrayRef* images, CGSize* size, CGPoint* hotSpot,
                                          int64_t* frameCount, double* frameDuration) const {
  std::lock_guard<std::mutex> guard(mutex_);
  ensureDefaults();
  if (connection == 0) return kCGErrorInvalidConnection;
  if (copyError_ != kCGErrorSuccess) return copyError_;
  auto it = core_.find(cursorID);
  if (it == core_.end()) return kCGErrorIllegalArgument;
  return hand(it->second, images, size, hotSpot, frameCount, frameDuration);
}

CGError CoreCursors::copyRegisteredCursorImages(CGSConnectionID connection, const char* name,
                                                CGSize* size, CGPoint* hotSpot, int64_t* frameCount,
                                                double* frameDuration,
                                                CGImageArrayRef* images) const {
  std::unique_lock<std::mutex> guard(mutex_);
  ensureDefaults();
  if (connection == 0) return kCGErrorInvalidConnection;
  if (name == nullptr) return kCGErrorIllegalArgument;
  if (copyError_ != kCGErrorSuccess) return copyError_;
  if (std::strcmp(name, kGlobalCurrentCursorName) == 0) {
    // The cursor on screen now, whoever set it.
    guard.unlock();
    return hand(CurrentCursor::shared().cursor(), images, size, hotSpot, frameCount, frameDuration);
  }
  auto it = registered_.find(name);
  if (it == registered_.end()) return kCGErrorIllegalArgument;
  return hand(it->second, images, size, hotSpot, frameCount, frameDuration);
}

}  // namespace platform
