#include "platform/graphics/appkit_image.hpp"

#include <cmath>
#include <cstring>

#include "platform/graphics/context_internal.hpp"
#include "platform/graphics/pixels.hpp"

namespace platform {

namespace {
bool validSize(NSSize s) {
  return std::isfinite(s.width) && std::isfinite(s.height) && s.width >= 0 && s.height >= 0;
}
}  // namespace

// ---- NSImageRep / NSBitmapImageRep ----------------------------------------------

NSSize NSImageRep::size() const {
  std::lock_guard lock(mutex_);
  return size_;
}

void NSImageRep::setSize(NSSize size) {
  std::lock_guard lock(mutex_);
  size_ = size;
}

NSBitmapImageRep::NSBitmapImageRep(Key, int pixelsWide, int pixelsHigh, int bytesPerRow)
    : NSImageRep(NSMakeSize(pixelsWide, pixelsHigh), pixelsWide, pixelsHigh),
      bytesPerRow_(bytesPerRow),
      store_(static_cast<size_t>(bytesPerRow) * static_cast<size_t>(pixelsHigh), 0) {}

std::shared_ptr<NSBitmapImageRep> NSBitmapImageRep::make(unsigned char** planes, int pixelsWide,
                                                         int pixelsHigh, int bitsPerSample,
                                                         int samplesPerPixel, bool hasAlpha,
                                                         bool isPlanar, std::string colorSpaceName,
                                                         int bytesPerRow, int bitsPerPixel) {
  constexpr int maxSide = static_cast<int>(detail::kMaxPixelSide);
  if (planes != nullptr || pixelsWide < 1 || pixelsHigh < 1 || pixelsWide > maxSide ||
      pixelsHigh > maxSide || bitsPerSample != 8 || samplesPerPixel != 4 || !hasAlpha || isPlanar ||
      bitsPerPixel != 32 || bytesPerRow < 4 * pixelsWide ||
      size_t(bytesPerRow) > detail::kMaxPixelBytes / size_t(pixelsHigh))
    return nullptr;
  if (colorSpaceName != NSDeviceRGBColorSpace && colorSpaceName != NSCalibratedRGBColorSpace)
    return nullptr;
  if (GraphicsFaults::consume(GraphicsFault::BitmapRep)) return nullptr;
  try {
    return std::make_shared<NSBitmapImageRep>(Key{}, pixelsWide, pixelsHigh, bytesPerRow);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

std::shared_ptr<NSBitmapImageRep> NSBitmapImageRep::makeWithCGImage(const CGImageRef& image) {
  if (!image) return nullptr;
  if (GraphicsFaults::consume(GraphicsFault::BitmapRep)) return nullptr;
  const detail::PixelSource src = detail::pixelSourceOf(*image);
  std::shared_ptr<NSBitmapImageRep> rep;
  try {
    rep = std::make_shared<NSBitmapImageRep>(Key{}, src.width, src.height, 4 * src.width);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  detail::copyToRgba(src, rep->bitmapData(), static_cast<size_t>(rep->bytesPerRow()));
  return rep;
}

CGImageRef NSBitmapImageRep::CGImage() const {
  return CGImageCreate(static_cast<size_t>(pixelsWide()), static_cast<size_t>(pixelsHigh()), 8, 32,
                       static_cast<size_t>(bytesPerRow_), detail::deviceRGB(),
                       kCGImageAlphaPremultipliedLast,
                       CGDataProviderCreateWithCFData(CFDataCreate(store_.data(), store_.size())),
                       nullptr, true, kCGRenderingIntentDefault);
}

// ---- NSGraphicsContext --------------------------------------------------------

namespace {
struct ThreadContexts {
  std::shared_ptr<NSGraphicsContext> current;
  std::vector<std::shared_ptr<NSGraphicsContext>> saved;
};
ThreadContexts& threadContexts() {
  thread_local ThreadContexts contexts;
  return contexts;
}
}  // namespace

NSGraphicsContext::NSGraphicsContext(Key, std::shared_ptr<NSBitmapImageRep> rep, CGContextRef cg,
                                     CGFloat pixelsPerPoint)
    : rep_(std::move(rep)), cg_(std::move(cg)), pixelsPerPoint_(pixelsPerPoint) {}

std::shared_ptr<NSGraphicsContext> NSGraphicsContext::graphicsContextWithBitmapImageRep(
    const std::shared_ptr<NSBitmapImageRep>& rep) {
  if (!rep) return nullptr;
  const NSSize size = rep->size();
  if (!validSize(size) || size.width <= 0 || size.height <= 0) return nullptr;
  if (GraphicsFaults::consume(GraphicsFault::GraphicsContext)) return nullptr;
  CGContextRef cg =
      detail::makeBitmapContext(rep->bitmapData(), static_cast<size_t>(rep->pixelsWide()),
                                static_cast<size_t>(rep->pixelsHigh()),
                                static_cast<size_t>(rep->bytesPerRow()), detail::deviceRGB());
  if (!cg) return nullptr;
  const CGFloat sx = rep->pixelsWide() / size.width;
  const CGFloat sy = rep->pixelsHigh() / size.height;
  CGContextScaleCTM(cg, sx, sy);
  return std::make_shared<NSGraphicsContext>(Key{}, rep, std::move(cg), sx);
}

std::shared_ptr<NSGraphicsContext> NSGraphicsContext::currentContext() {
  return threadContexts().current;
}

void NSGraphicsContext::setCurrentContext(std::shared_ptr<NSGraphicsContext> context) {
  threadContexts().current = std::move(context);
}

void NSGraphicsContext::saveGraphicsState() {
  auto& t = threadContexts();
  t.saved.push_back(t.current);
  if (t.current) CGContextSaveGState(t.current->cg_);
}

void NSGraphicsContext::restoreGraphicsState() {
  auto& t = threadContexts();
  if (t.saved.empty()) return;
  t.current = std::move(t.saved.back());
  t.saved.pop_back();
  if (t.current) CGContextRestoreGState(t.current->cg_);
}

NSImageInterpolation NSGraphicsContext::imageInterpolation() const {
  return static_cast<NSImageInterpolation>(CGContextGetInterpolationQuality(cg_));
}

void NSGraphicsContext::setImageInterpolation(NSImageInterpolation interpolation) {
  CGContextSetInterpolationQuality(cg_, static_cast<CGInterpolationQuality>(interpolation));
}

// ---- NSImage ----------------------------------------------------------------------

NSImage::NSImage(Key, NSSize size) : size_(size) {}

std::shared_ptr<NSImage> NSImage::make(NSSize size) {
  if (!validSize(size)) return nullptr;
  return std::make_shared<NSImage>(Key{}, size);
}

std::shared_ptr<NSImage> NSImage::makeWithCGImage(const CGImageRef& image, NSSize size) {
  if (!image || !validSize(size)) return nullptr;
  auto rep = NSBitmapImageRep::makeWithCGImage(image);
  if (!rep) return nullptr;
  if (size == NSZeroSize) size = rep->size();
  rep->setSize(size);
  auto result = std::make_shared<NSImage>(Key{}, size);
  result->reps_.push_back(std::move(rep));
  return result;
}

std::shared_ptr<NSImage> NSImage::imageWithSize(NSSize size, bool flipped, NSCustomImageRep::DrawingHandler handler) {
  if (!validSize(size) || !handler) return nullptr;
  auto result = std::make_shared<NSImage>(Key{}, size);
  result->reps_.push_back(std::make_shared<NSCustomImageRep>(size, flipped, std::move(handler)));
  return result;
}

NSSize NSImage::size() const {
  std::lock_guard lock(mutex_);
  return size_;
}

bool NSImage::isTemplate() const {
  std::lock_guard lock(mutex_);
  return template_;
}

void NSImage::setTemplate(bool isTemplate) {
  std::lock_guard lock(mutex_);
  template_ = isTemplate;
}

std::string NSImage::accessibilityDescription() const {
  std::lock_guard lock(mutex_);
  return accessibilityDescription_;
}

void NSImage::setAccessibilityDescription(std::string description) {
  std::lock_guard lock(mutex_);
  accessibilityDescription_ = std::move(description);
}

std::shared_ptr<NSCustomImageRep> NSImage::customRep() const {
  for (const auto& rep : representations())
    if (auto custom = std::dynamic_pointer_cast<NSCustomImageRep>(rep)) return custom;
  return nullptr;
}

void NSImage::setSize(NSSize size) {
  std::lock_guard lock(mutex_);
  size_ = size;
}

std::vector<std::shared_ptr<NSImageRep>> NSImage::representations() const {
  std::lock_guard lock(mutex_);
  return reps_;
}

void NSImage::addRepresentation(std::shared_ptr<NSImageRep> rep) {
  if (!rep) return;
  std::lock_guard lock(mutex_);
  reps_.push_back(std::move(rep));
}

std::shared_ptr<NSBitmapImageRep> NSImage::choose(CGFloat pixelWidth) const {
  std::shared_ptr<NSBitmapImageRep> fitting, widest;
  for (const auto& rep : representations()) {
    auto bitmap = std::dynamic_pointer_cast<NSBitmapImageRep>(rep);
    if (!bitmap) continue;
    const int w = bitmap->pixelsWide();
    if (w >= pixelWidth && (!fitting || w < fitting->pixelsWide())) fitting = bitmap;
    if (!widest || w > widest->pixelsWide()) widest = bitmap;
  }
  return fitting ? fitting : widest;
}

void NSImage::drawInRect(NSRect dst, NSRect from, NSCompositingOperation op, CGFloat fraction,
                         bool respectFlipped, const NSImageHints& hints) const {
  const auto context = NSGraphicsContext::currentContext();
  if (!context || CGRectIsEmpty(dst) || std::isnan(fraction)) return;
  CGBlendMode blend;
  switch (op) {
    case NSCompositingOperationClear: blend = kCGBlendModeClear; break;
    case NSCompositingOperationCopy: blend = kCGBlendModeCopy; break;
    case NSCompositingOperationSourceOver: blend = kCGBlendModeNormal; break;
    default: return;
  }
  dst = CGRectStandardize(dst);
  const auto custom = customRep();
  const auto rep = custom ? nullptr : choose(dst.size.width * context->pixelsPerPoint());
  if (!rep && !custom) return;

  // Where the whole image lands so that `from` covers `dst`; clipped to `dst`.
  CGRect whole = dst;
  if (!CGRectIsEmpty(from)) {
    from = CGRectStandardize(from);
    const NSSize size = this->size();
    if (size.width <= 0 || size.height <= 0) return;
    const CGFloat sx = dst.size.width / from.size.width;
    const CGFloat sy = dst.size.height / from.size.height;
    whole = CGRectMake(dst.origin.x - from.origin.x * sx, dst.origin.y - from.origin.y * sy,
                       size.width * sx, size.height * sy);
  }
  if (custom) {
    drawCustom(*custom, dst, whole, blend, fraction, respectFlipped, hints);
    return;
  }

  const CGContextRef cg = context->CGContext();
  CGContextSaveGState(cg);
  if (respectFlipped && context->isFlipped()) {
    CGContextTranslateCTM(cg, 0, CGRectGetMinY(dst) + CGRectGetMaxY(dst));
    CGContextScaleCTM(cg, 1, -1);
  }
  CGContextClipToRect(cg, dst);
  CGContextSetBlendMode(cg, blend);
  CGContextSetAlpha(cg, detail::contextAlpha(cg) * fraction);
  if (hints.interpolation)
    CGContextSetInterpolationQuality(cg, static_cast<CGInterpolationQuality>(*hints.interpolation));
  const detail::PixelSource src{rep->bitmapData(), static_cast<size_t>(rep->bytesPerRow()),
                                rep->pixelsWide(), rep->pixelsHigh(), detail::PixelFormat::RGBA};
  detail::drawPixels(cg, whole, src);
  CGContextRestoreGState(cg);
}

void NSImage::drawCustom(const NSCustomImageRep& rep, NSRect dst, NSRect whole, CGBlendMode blend, CGFloat fraction,
                         bool respectFlipped, const NSImageHints& hints) const {
  const auto context = NSGraphicsContext::currentContext();
  const CGContextRef cg = context->CGContext();
  CGContextSaveGState(cg);
  if (respectFlipped && context->isFlipped()) {
    CGContextTranslateCTM(cg, 0, CGRectGetMinY(dst) + CGRectGetMaxY(dst));
    CGContextScaleCTM(cg, 1, -1);
  }
  CGContextClipToRect(cg, dst);
  // The handler draws source-over; a copy replaces what was there first.
  if (blend != kCGBlendModeNormal) CGContextClearRect(cg, dst);
  if (blend != kCGBlendModeClear) {
    CGContextSetAlpha(cg, detail::contextAlpha(cg) * fraction);
    if (hints.interpolation)
      CGContextSetInterpolationQuality(cg, static_cast<CGInterpolationQuality>(*hints.interpolation));
    if (rep.isFlipped()) {
      CGContextTranslateCTM(cg, 0, CGRectGetMinY(whole) + CGRectGetMaxY(whole));
      CGContextScaleCTM(cg, 1, -1);
    }
    rep.draw(whole);
  }
  CGContextRestoreGState(cg);
}

CGImageRef NSImage::CGImageForProposedRect(NSRect* proposed,
                                           const std::shared_ptr<NSGraphicsContext>& context,
                                           const NSImageHints* hints) const {
  const CGFloat scale = context ? context->pixelsPerPoint() : 1.0;
  if (customRep()) {
    const NSSize points = proposed ? CGRectStandardize(*proposed).size : size();
    if (!validSize(points) || points.width * scale > detail::kMaxPixelSide ||
        points.height * scale > detail::kMaxPixelSide)
      return nullptr;
    const int w = static_cast<int>(std::ceil(points.width * scale));
    const int h = static_cast<int>(std::ceil(points.height * scale));
    if (w < 1 || h < 1) return nullptr;
    auto picture = NSBitmapImageRep::make(nullptr, w, h, 8, 4, true, false, NSDeviceRGBColorSpace, 4 * w, 32);
    if (!picture) return nullptr;
    picture->setSize(points);
    auto drawing = NSGraphicsContext::graphicsContextWithBitmapImageRep(picture);
    if (!drawing) return nullptr;
    NSGraphicsContext::saveGraphicsState();
    NSGraphicsContext::setCurrentContext(drawing);
    drawInRect(CGRectMake(0, 0, points.width, points.height), NSZeroRect, NSCompositingOperationSourceOver, 1, false,
               hints ? *hints : NSImageHints{});
    NSGraphicsContext::restoreGraphicsState();
    return picture->CGImage();
  }
  const CGFloat points = proposed ? CGRectGetWidth(*proposed) : size().width;
  const auto rep = choose(points * scale);
  return rep ? rep->CGImage() : nullptr;
}

}  // namespace platform
