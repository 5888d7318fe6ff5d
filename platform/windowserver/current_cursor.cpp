#include "platform/windowserver/current_cursor.hpp"

#include <cmath>
#include <functional>
#include <iterator>

#include "platform/dyld/symbol_registry.hpp"
#include "platform/graphics/appkit_image.hpp"
#include "platform/graphics/context.hpp"
#include "platform/windowserver/connections.hpp"
#include "platform/windowserver/cursor_state.hpp"

namespace platform {
namespace {

constexpr char kRegisterName[] = "CGSRegisterCursorWithImages";
constexpr char kLocationName[] = "CGSGetCurrentCursorLocation";
constexpr char kDockOverrideName[] = "SLSSetDockCursorOverride";

// A plain arrow, 18 × 24 points with the hot spot at (4, 4), drawn at 1×
// and 2×: what shows before any application sets a cursor.
CGImageRef drawArrow(int scale) {
  const size_t w = 18 * static_cast<size_t>(scale), h = 24 * static_cast<size_t>(scale);
  auto c = CGBitmapContextCreate(nullptr, w, h, 8, 4 * w, CGColorSpaceCreateDeviceRGB(),
                                 kCGImageAlphaPremultipliedLast);
  if (!c) return nullptr;
  CGContextTranslateCTM(c, 0, static_cast<CGFloat>(h));
  CGContextScaleCTM(c, scale, -scale);
  const CGPoint outline[] = {{4, 4}, {4, 20}, {8, 16.5}, {11, 22}, {13.5, 21}, {11, 15.5}, {16, 15.5}};
  CGContextBeginPath(c);
  CGContextMoveToPoint(c, outline[0].x, outline[0].y);
  for (size_t i = 1; i < std::size(outline); ++i) CGContextAddLineToPoint(c, outline[i].x, outline[i].y);
  CGContextClosePath(c);
  CGContextSetRGBFillColor(c, 0, 0, 0, 1);
  CGContextSetRGBStrokeColor(c, 1, 1, 1, 1);
  CGContextSetLineWidth(c, 1.5);
  CGContextDrawPath(c, kCGPathFillStroke);
  return CGBitmapContextCreateImage(c);
}

const CursorImageSet& defaultArrow() {
  static const CursorImageSet arrow = [] {
    CursorImageSet set;
    set.images = {drawArrow(1), drawArrow(2)};
    set.size = CGSizeMake(18, 24);
    set.hotSpot = CGPointMake(4, 4);
    return set;
  }();
  return arrow;
}

bool usableImages(const CGImageArrayRef& images) {
  if (!images || images->empty()) return false;
  for (const auto& image : *images) {
    if (!image) return false;
  }
  return true;
}

}  // namespace

CurrentCursor& CurrentCursor::shared() {
  static CurrentCursor* cursor = new CurrentCursor();
  return *cursor;
}

CurrentCursor::CurrentCursor() { reset(); }

void CurrentCursor::reset() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    current_ = defaultArrow();
    applicationCursor_ = current_;
    name_.reset();
    owner_ = 0;
    dockOverride_ = 0;
    appKitReadable_ = true;
    script_.clear();
    faults_.reset();
  }
  registerFunctions();
}

void CurrentCursor::registerFunctions() {
  auto& registry = SymbolRegistry::shared();
  registry.add<CGSRegisterCursorWithImagesFn>(
      kRegisterName, [this](CGSConnectionID connection, const char* name, bool setGlobally,
                            bool instantly, CGSize size, CGPoint hotSpot, int64_t frameCount,
                            double frameDuration, CGImageArrayRef images, int32_t* outSeed) {
        return registerCursor(connection, name, setGlobally, instantly, size, hotSpot, frameCount,
                              frameDuration, images, outSeed);
      });
  registry.add<CGSGetCurrentCursorLocationFn>(
      kLocationName,
      [this](CGSConnectionID connection, CGPoint* out) { return getCursorLocation(connection, out); });
  registry.add<SLSSetDockCursorOverrideFn>(
      kDockOverrideName,
      [this](CGSConnectionID connection, int32_t on) { return setDockCursorOverride(connection, on); });
}

CursorImageSet CurrentCursor::cursor() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return current_;
}

std::optional<std::string> CurrentCursor::registeredName() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return name_;
}

CGSConnectionID CurrentCursor::owner() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return owner_;
}

int32_t CurrentCursor::setCursorFromAnotherApplication(CursorImageSet cursor) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    applicationCursor_ = cursor;
    current_ = std::move(cursor);
    name_.reset();
    owner_ = 0;
  }
  return CursorState::shared().bumpCursorSeed();
}

CursorImageSet CurrentCursor::imageSet(const NSImage& image, CGPoint hotSpot) {
  CursorImageSet set;
  for (const auto& rep : image.representations()) {
    if (auto bitmap = std::dynamic_pointer_cast<NSBitmapImageRep>(rep)) {
      set.images.push_back(bitmap->CGImage());
    }
  }
  set.size = image.size();
  set.hotSpot = hotSpot;
  return set;
}

void CurrentCursor::scriptRegistration(Registration outcome, std::optional<CursorImageSet> foreign) {
  std::lock_guard<std::mutex> guard(mutex_);
  script_.emplace_back(outcome, std::move(foreign));
}

void CurrentCursor::failNext(const std::string& function, CGError error, int count) {
  std::lock_guard<std::mutex> guard(mutex_);
  faults_.failNext(function, error, count);
}

int CurrentCursor::calls(const std::string& function) const {
  std::lock_guard<std::mutex> guard(mutex_);
  return faults_.calls(function);
}

CGError CurrentCursor::enter(const std::string& function) { return faults_.enter(function); }

bool CurrentCursor::dockCursorOverride() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return dockOverride_ != 0;
}

void CurrentCursor::setAppKitReadable(bool readable) {
  std::lock_guard<std::mutex> guard(mutex_);
  appKitReadable_ = readable;
}

bool CurrentCursor::appKitReadable() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return appKitReadable_;
}

void CurrentCursor::connectionReleased(CGSConnectionID connection) {
  bool revert = false;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (dockOverride_ == connection) dockOverride_ = 0;
    if (connection != 0 && owner_ == connection) {
      current_ = applicationCursor_;
      name_.reset();
      owner_ = 0;
      revert = true;
    }
  }
  if (revert) CursorState::shared().bumpCursorSeed();
}

CGError CurrentCursor::registerCursor(CGSConnectionID connection, const char* name, bool, bool,
                                      CGSize size, CGPoint hotSpot, int64_t frameCount,
                                      double frameDuration, const CGImageArrayRef& images,
                                      int32_t* outSeed) {
  Registration outcome = Registration::newSeed;
  std::optional<CursorImageSet> foreign;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (const CGError error = enter(kRegisterName)) return error;
  }
  if (!Connections::shared().isValid(connection)) return kCGErrorInvalidConnection;
  if (name == nullptr || outSeed == nullptr || !usableImages(images) || !(size.width > 0) ||
      !(size.height > 0) || !std::isfinite(size.width) || !std::isfinite(size.height) ||
      frameCount < 1) {
    return kCGErrorIllegalArgument;
  }
  const auto mark = Connections::shared().property(connection, kSetsCursorInBackgroundKey);
  auto& state = CursorState::shared();
  if (!mark || mark->asBool() != true) {
    *outSeed = state.cursorSeed();
    return kCGErrorSuccess;
  }
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (!script_.empty()) {
      outcome = script_.front().first;
      foreign = std::move(script_.front().second);
      script_.pop_front();
    }
    current_ = CursorImageSet{*images, size, hotSpot, frameCount, frameDuration};
    name_ = name;
    owner_ = connection;
    if (outcome == Registration::foreignChangeAfter && !foreign) foreign = applicationCursor_;
  }
  *outSeed = outcome == Registration::sameSeed ? state.cursorSeed() : state.bumpCursorSeed();
  if (foreign) setCursorFromAnotherApplication(std::move(*foreign));
  return kCGErrorSuccess;
}

CGError CurrentCursor::getCursorLocation(CGSConnectionID connection, CGPoint* outLocation) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (const CGError error = enter(kLocationName)) return error;
  }
  if (outLocation == nullptr) return kCGErrorIllegalArgument;
  if (!Connections::shared().isValid(connection)) return kCGErrorInvalidConnection;
  *outLocation = CursorState::shared().cursorLocation();
  return kCGErrorSuccess;
}

CGError CurrentCursor::setDockCursorOverride(CGSConnectionID connection, int32_t enabled) {
  const bool valid = Connections::shared().isValid(connection);
  std::lock_guard<std::mutex> guard(mutex_);
  if (const CGError error = enter(kDockOverrideName)) return error;
  if (!valid) return kCGErrorInvalidConnection;
  if (enabled != 0) {
    dockOverride_ = connection;
  } else if (dockOverride_ == connection) {
    dockOverride_ = 0;
  }
  return kCGErrorSuccess;
}

}  // namespace platform
