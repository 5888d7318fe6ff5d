#include "ui/onboarding/onboarding_wallpaper.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/appkit/appearance.hpp"
#include "platform/appkit/color.hpp"
#include "platform/appkit/screen.hpp"
#include "platform/appkit/window.hpp"
#include "platform/coding/data.hpp"
#include "platform/coding/json_coding.hpp"
#include "platform/coding/xml_property_list.hpp"
#include "platform/coreimage/image_source.hpp"
#include "platform/dispatch/dispatch_queue.hpp"
#include "platform/foundation/file_manager.hpp"
#include "platform/foundation/process_info.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/graphics/appkit_image.hpp"

namespace vurle {

using namespace platform;

// ---- the wallpaper file ---------------------------------------------------

namespace OnboardingReleaseWallpaper {
namespace {

struct KeyHash {
  std::size_t operator()(const Key& key) const { return std::hash<int>()(key.version) * 2 + (key.dark ? 1 : 0); }
};

struct Locator {
  std::mutex lock;
  std::unordered_map<Key, Result, KeyHash> cache;
  int searches = 0;
};

Locator& locator() {
  static Locator* shared = [] {
    auto* made = new Locator();
    addResetHook(made, [made] {
      std::lock_guard<std::mutex> guard(made->lock);
      made->cache.clear();
      made->searches = 0;
    });
    return made;
  }();
  return *shared;
}

const std::string kExtensions = "/System/Library/ExtensionKit/Extensions";

std::string lowercased(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return text;
}

std::string lastPathComponent(const std::string& path) {
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  const auto slash = trimmed.rfind('/');
  return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

// The major version a minimum-system-version string names: its first
// non-empty piece between dots, a decimal integer with an optional sign.
std::optional<long> majorVersionOf(const std::string& version) {
  std::string first;
  std::size_t start = 0;
  while (start <= version.size()) {
    const std::size_t dot = std::min(version.find('.', start), version.size());
    if (dot > start) {
      first = version.substr(start, dot - start);
      break;
    }
    start = dot + 1;
  }
  if (first.empty()) return std::nullopt;
  std::string_view digits = first;
  bool negative = false;
  if (digits.front() == '+' || digits.front() == '-') {
    negative = digits.front() == '-';
    digits.remove_prefix(1);
  }
  if (digits.empty()) return std::nullopt;
  long value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return negative ? -value : value;
}

struct Candidate {
  long minimumVersion;
  NSURL file;
};

// One extension entry as a candidate, or none when it fails a check.
std::optional<Candidate> candidateOf(const NSURL& entry, const Key& key) {
  const NSURL resources = entry.URLByAppendingPathComponent("Contents").URLByAppendingPathComponent("Resources");
  const auto manifestData =
      dataWithContentsOfURL(resources.URLByAppendingPathComponent("manifest.json"), kMaximumManifestLength);
  if (!manifestData) return std::nullopt;
  std::string identifier;
  try {
    const JSON manifest = JSONDecode(*manifestData);
    if (!manifest.is_object() || !manifest.contains("identifier") || !manifest["identifier"].is_string())
      return std::nullopt;
    identifier = manifest["identifier"].get<std::string>();
  } catch (const DecodingError&) {
    return std::nullopt;
  }
  const auto info =
      dictionaryWithContentsOfURL(entry.URLByAppendingPathComponent("Contents").URLByAppendingPathComponent("Info.plist"));
  if (!info) return std::nullopt;
  const auto minimum = info->find("LSMinimumSystemVersion");
  if (minimum == info->end() || !minimum->second.string()) return std::nullopt;
  const auto major = majorVersionOf(*minimum->second.string());
  if (!major || *major > key.version) return std::nullopt;
  const NSURL file = resources.URLByAppendingPathComponent(identifier + (key.dark ? "Dark.heic" : "Light.heic"));
  if (!NSFileManager::defaultManager().fileExistsAtPath(file.path())) return std::nullopt;
  return Candidate{*major, file};
}

Result search(const Key& key) {
  const auto listed = NSFileManager::defaultManager().contentsOfDirectoryAtURL(NSURL::fileURLWithPath(kExtensions));
  std::optional<Candidate> best;
  for (const NSURL& entry : listed.value_or(std::vector<NSURL>{})) {
    if (lowercased(lastPathComponent(entry.path())).find("wallpaper") == std::string::npos) continue;
    auto candidate = candidateOf(entry, key);
    // The greatest minimum version; among equals the earliest listed.
    if (candidate && (!best || candidate->minimumVersion > best->minimumVersion)) best = std::move(candidate);
  }
  if (best) return {best->file};
  const std::vector<std::string> fallbacks = {
      key.version < 15 ? std::string("/System/Library/Desktop Pictures/Sonoma.heic")
                       : kExtensions + "/WallpaperSequoiaExtension.appex/Contents/Resources/thumbnail " +
                             (key.dark ? "dark" : "light") + ".heic",
      "/System/Library/CoreServices/DefaultDesktop.heic"};
  for (const auto& path : fallbacks)
    if (NSFileManager::defaultManager().fileExistsAtPath(path)) return {NSURL::fileURLWithPath(path)};
  return {};
}

}  // namespace

Result wallpaper(const Key& key) {
  auto& l = locator();
  // Held for the whole search, so one key is searched once.
  std::lock_guard<std::mutex> guard(l.lock);
  if (const auto found = l.cache.find(key); found != l.cache.end()) return found->second;
  ++l.searches;
  Result result = search(key);
  l.cache.emplace(key, result);
  return result;
}

int searchCount() {
  auto& l = locator();
  std::lock_guard<std::mutex> guard(l.lock);
  return l.searches;
}

}  // namespace OnboardingReleaseWallpaper

// ---- the render state -----------------------------------------------------

namespace {

using RenderKey = OnboardingWallpaperView::RenderKey;

struct RenderKeyHash {
  std::size_t operator()(const RenderKey& key) const {
    std::size_t h = 0;
    for (const double v : {key.size.width, key.size.height, key.desktop.width, key.desktop.height, key.backingScale})
      h = h * 1000003u ^ std::hash<double>()(v);
    return h * 2 + (key.dark ? 1 : 0);
  }
};

constexpr std::size_t kCachedPictures = 8;

struct RenderState {
  std::unordered_map<RenderKey, CGImageRef, RenderKeyHash> renderedImages;
  std::unordered_map<RenderKey, std::vector<std::function<void(const CGImageRef&)>>, RenderKeyHash> pendingRenders;
  std::shared_ptr<DispatchQueue> renderQueue;
  int renders = 0;
  // A render finishing after a reset belongs to a state that is gone.
  unsigned generation = 0;
};

RenderState& renderState() {
  static RenderState* shared = [] {
    auto* made = new RenderState();
    addResetHook(made, [made] {
      made->renderedImages.clear();
      made->pendingRenders.clear();
      made->renderQueue.reset();
      made->renders = 0;
      ++made->generation;
    });
    return made;
  }();
  return *shared;
}

std::shared_ptr<DispatchQueue> renderQueue() {
  auto& state = renderState();
  if (!state.renderQueue) state.renderQueue = DispatchQueue::make("mirt.vurle.wallpaper", QoS::utility);
  return state.renderQueue;
}

const std::shared_ptr<CIContext>& ciContext() {
  static const auto context = CIContext::contextWithOptions({{kCIContextCacheIntermediates, false}});
  return context;
}

void finishRender(const CGImageRef& image, const RenderKey& key) {
  auto& state = renderState();
  if (image) {
    if (state.renderedImages.size() >= kCachedPictures) state.renderedImages.clear();
    state.renderedImages[key] = image;
  }
  auto found = state.pendingRenders.find(key);
  if (found == state.pendingRenders.end()) return;
  const auto callbacks = std::move(found->second);
  state.pendingRenders.erase(found);
  for (const auto& callback : callbacks) callback(image);
}

// Queues the key's render behind a fresh pending list.
void startRender(const RenderKey& key, std::function<void(const CGImageRef&)> callback) {
  auto& state = renderState();
  state.pendingRenders[key].push_back(std::move(callback));
  ++state.renders;
  const unsigned generation = state.generation;
  renderQueue()->async([key, generation] {
    CGImageRef image = OnboardingWallpaperView::renderBackdrop(key);
    DispatchQueue::main()->async([image = std::move(image), key, generation] {
      if (renderState().generation == generation) finishRender(image, key);
    });
  });
}

CIColor white() { return CIColor::whiteColor(); }

}  // namespace

// ---- rendering ------------------------------------------------------------

CIImage OnboardingWallpaperView::renderMenuBarStrip(const CIImage& image, bool dark, double W, double H, double scale) {
  const CGRect whole = CGRectMake(0, 0, W, H);
  const double b = std::min(66 * scale, H);

  auto gradient = CIFilter::filterWithName("CILinearGradient");
  gradient->setValue(CIVector::vectorWithX(0, H), "inputPoint0");
  gradient->setValue(CIVector::vectorWithX(0, H - b), "inputPoint1");
  gradient->setValue(white(), "inputColor0");
  gradient->setValue(CIColor::blackColor(), "inputColor1");
  const auto mask = gradient->outputImage();
  if (!mask) return image.imageByCroppingToRect(whole);

  auto variable = CIFilter::filterWithName("CIMaskedVariableBlur");
  variable->setValue(image, kCIInputImageKey);
  variable->setValue(*mask, "inputMask");
  variable->setValue(12 * scale, "inputRadius");
  const CIImage blurred = variable->outputImage().value_or(image);

  auto columns = CIFilter::filterWithName("CIColumnAverage");
  columns->setValue(image, kCIInputImageKey);
  columns->setValue(CIVector::vectorWithX(0, H - b, W, b), "inputExtent");
  const auto averages = columns->outputImage();
  if (!averages) return blurred.imageByCroppingToRect(whole);

  // Every column carries the average colour of the band above it.
  const CGRect e = averages->extent();
  const CIImage stretched = averages->imageByApplyingTransform(CGAffineTransformMakeTranslation(-e.origin.x, -e.origin.y))
                                .imageByClampingToExtent()
                                .imageByCroppingToRect(whole);

  const double s = dark ? 0.74 : 0.78, c = dark ? 0.0 : 0.22;
  auto matrix = CIFilter::filterWithName("CIColorMatrix");
  matrix->setValue(stretched, kCIInputImageKey);
  matrix->setValue(CIVector::vectorWithX(s, 0, 0, 0), "inputRVector");
  matrix->setValue(CIVector::vectorWithX(0, s, 0, 0), "inputGVector");
  matrix->setValue(CIVector::vectorWithX(0, 0, s, 0), "inputBVector");
  matrix->setValue(CIVector::vectorWithX(c, c, c, 0), "inputBiasVector");
  const CIImage tint = matrix->outputImage().value_or(stretched);

  auto blend = CIFilter::filterWithName("CIBlendWithMask");
  blend->setValue(tint, kCIInputImageKey);
  blend->setValue(blurred, "inputBackgroundImage");
  blend->setValue(*mask, "inputMaskImage");
  return blend->outputImage().value_or(blurred).imageByCroppingToRect(whole);
}

CGImageRef OnboardingWallpaperView::renderBackdrop(const RenderKey& key) {
  // Whole pixels: a fractional point size rounds up.
  const double W = std::ceil(key.size.width * key.backingScale), H = std::ceil(key.size.height * key.backingScale);
  const double Dw = key.desktop.width * key.backingScale, Dh = key.desktop.height * key.backingScale;
  if (!(W > 0 && H > 0 && Dw > 0 && Dh > 0)) return nullptr;

  const auto image = readWallpaper(key);
  if (!image) return nullptr;
  const CGRect e = image->extent();
  // Nothing to place: an empty picture reads as no picture.
  if (!(CGRectGetWidth(e) > 0 && CGRectGetHeight(e) > 0)) return nullptr;

  // Fill the desktop, centred; the view shows its top-right W × H pixels.
  const double f = std::max(Dh / e.size.height, Dw / e.size.width);
  const double placedW = e.size.width * f, placedH = e.size.height * f;
  const double x = (Dw - placedW) / 2 - (Dw - W);
  const double yFromTop = (Dh - placedH) / 2;
  const CGAffineTransform placement =
      CGAffineTransform{placedW / e.size.width, 0, 0, placedH / e.size.height, x - e.origin.x * placedW / e.size.width,
                        H - (yFromTop + placedH) - e.origin.y * placedH / e.size.height};
  const double margin = 12 * key.backingScale;
  const CIImage placed = image->imageByApplyingTransform(placement)
                             .imageByClampingToExtent()
                             .imageByCroppingToRect(CGRectMake(-margin, -margin, W + 2 * margin, H + 2 * margin))
                             .imageByClampingToExtent();
  const CIImage band = renderMenuBarStrip(placed, key.dark, W, H, key.backingScale);
  return ciContext()->createCGImage(band, CGRectMake(0, 0, W, H));
}

std::optional<CIImage> OnboardingWallpaperView::readWallpaper(const RenderKey& key) {
  const auto found =
      OnboardingReleaseWallpaper::wallpaper({key.dark, ProcessInfo::operatingSystemVersion().majorVersion});
  if (!found.url) return std::nullopt;
  const auto source = CGImageSourceCreateWithURL(*found.url);
  if (!source) return std::nullopt;
  // A picture larger than it shows on the desktop is decoded at the size
  // that fills the desktop (its longer side): the placement is unchanged,
  // and the render reads about the desktop's pixels, not the file's (up to
  // 64 M of them).
  CGImageSourceThumbnailOptions options;
  options.createThumbnailFromImageAlways = true;
  const double w = double(source->pixelsWide()), h = double(source->pixelsHigh());
  const double Dw = key.desktop.width * key.backingScale, Dh = key.desktop.height * key.backingScale;
  if (w > 0 && h > 0 && Dw > 0 && Dh > 0) {
    const double f = std::max(Dh / h, Dw / w);
    if (f < 1) options.maxPixelSize = std::size_t(std::ceil(std::max(w, h) * f));
  }
  const CGImageRef image = CGImageSourceCreateThumbnailAtIndex(source, 0, options);
  if (!image) return std::nullopt;
  return CIImage::imageWithCGImage(image);
}

// ---- the view -------------------------------------------------------------

std::shared_ptr<OnboardingWallpaperView> OnboardingWallpaperView::make(NSRect frame) {
  return std::make_shared<OnboardingWallpaperView>(frame);
}

OnboardingWallpaperView::OnboardingWallpaperView(NSRect frame) : NSView(frame) {}
OnboardingWallpaperView::OnboardingWallpaperView(NSCoder& coder) : NSView(coder) {}

OnboardingWallpaperView::~OnboardingWallpaperView() {
  if (screenObservation_) NSNotificationCenter::defaultCenter().removeObserver(screenObservation_);
}

std::shared_ptr<NSView> OnboardingWallpaperView::hitTest(NSPoint) { return nullptr; }

void OnboardingWallpaperView::viewDidMoveToWindow() {
  NSView::viewDidMoveToWindow();
  if (screenObservation_) NSNotificationCenter::defaultCenter().removeObserver(std::exchange(screenObservation_, nullptr));
  if (const auto window = this->window()) {
    const std::weak_ptr<OnboardingWallpaperView> weak = weakSelf();
    screenObservation_ = NSNotificationCenter::defaultCenter().addObserverForName(
        NSWindowDidChangeScreenNotification, window.get(), DispatchQueue::main(), [weak](const NSNotification&) {
          if (const auto view = weak.lock()) view->keyMayHaveChanged();
        });
  }
  setNeedsDisplay(true);
}

std::weak_ptr<OnboardingWallpaperView> OnboardingWallpaperView::weakSelf() {
  return std::static_pointer_cast<OnboardingWallpaperView>(weak_from_this().lock());
}

void OnboardingWallpaperView::keyMayHaveChanged() {
  renderKey_.reset();
  setNeedsDisplay(true);
}

void OnboardingWallpaperView::viewDidChangeBackingProperties() { keyMayHaveChanged(); }
void OnboardingWallpaperView::viewDidChangeEffectiveAppearance() { keyMayHaveChanged(); }

void OnboardingWallpaperView::drawRect(NSRect) {
  const NSRect bounds = this->bounds();
  // The graphics contexts here composite source-over only.
  if (const auto context = NSGraphicsContext::currentContext()) {
    NSColor::windowBackgroundColor().setFill();
    CGContextSetBlendMode(context->CGContext(), kCGBlendModeNormal);
    CGContextFillRect(context->CGContext(), bounds);
  }
  const auto appearance = effectiveAppearance();
  const bool dark = appearance && appearance->bestMatchFromAppearancesWithNames(
                                      {NSAppearanceNameAqua, NSAppearanceNameDarkAqua}) == NSAppearanceNameDarkAqua;
  if (!(bounds.size.width > 0 && bounds.size.height > 0)) return;

  const auto window = this->window();
  std::shared_ptr<NSScreen> screen = window ? window->screen() : nullptr;
  if (!screen) screen = NSScreen::main();
  const CGSize desktop = screen ? screen->frame().size : CGSizeMake(2560, 1440);
  const CGFloat backingScale = window ? window->backingScaleFactor() : 1.0;
  requestedKey_ = RenderKey{bounds.size, desktop, backingScale, dark};

  if (renderKey_ != requestedKey_) {
    auto& state = renderState();
    const auto cached = state.renderedImages.find(*requestedKey_);
    rendered_ = cached == state.renderedImages.end() ? nullptr : cached->second;
    if (rendered_) {
      renderKey_ = requestedKey_;
    } else if (!rendering_ && !weakSelf().expired()) {
      // (A view no one shares could never be handed its picture.)
      rendering_ = true;
      requestViewRender(*requestedKey_, weakSelf());
    }
  }
  if (!rendered_) return;
  const auto picture = NSImage::makeWithCGImage(rendered_, bounds.size);
  if (!picture) return;
  NSImageHints hints;
  hints.interpolation = NSImageInterpolationHigh;
  picture->drawInRect(bounds, NSZeroRect, NSCompositingOperationSourceOver, 1.0, true, hints);
}

void OnboardingWallpaperView::requestViewRender(const RenderKey& key, std::weak_ptr<OnboardingWallpaperView> view) {
  auto& state = renderState();
  if (const auto cached = state.renderedImages.find(key); cached != state.renderedImages.end()) {
    applyRender(cached->second, view, key);
    return;
  }
  auto callback = [view, key](const CGImageRef& image) { applyRender(image, view, key); };
  if (auto pending = state.pendingRenders.find(key); pending != state.pendingRenders.end()) {
    pending->second.push_back(std::move(callback));
    return;
  }
  startRender(key, std::move(callback));
}

void OnboardingWallpaperView::requestRender(const RenderKey& key) {
  auto& state = renderState();
  if (state.renderedImages.count(key)) return;
  if (auto pending = state.pendingRenders.find(key); pending != state.pendingRenders.end()) {
    pending->second.push_back([](const CGImageRef&) {});
    return;
  }
  startRender(key, [](const CGImageRef&) {});
}

void OnboardingWallpaperView::applyRender(const CGImageRef& image, const std::weak_ptr<OnboardingWallpaperView>& weak,
                                          const RenderKey& key) {
  const auto view = weak.lock();
  if (!view) return;
  view->rendering_ = false;
  if (view->requestedKey_ == key) {
    view->renderKey_ = key;
    view->rendered_ = image;
  }
  view->setNeedsDisplay(true);
}

std::size_t OnboardingWallpaperView::cachedPictureCount() { return renderState().renderedImages.size(); }
bool OnboardingWallpaperView::hasCachedPicture(const RenderKey& key) { return renderState().renderedImages.count(key); }
bool OnboardingWallpaperView::isRendering(const RenderKey& key) { return renderState().pendingRenders.count(key); }
int OnboardingWallpaperView::renderCount() { return renderState().renders; }

// ---- the wrapper ----------------------------------------------------------

namespace {

struct WallpaperRepresentable : ui::NSViewRepresentable {
  std::shared_ptr<NSView> makeNSView(Context&) const override { return OnboardingWallpaperView::make(NSZeroRect); }
  void updateNSView(NSView&, Context&) const override {}
  CGSize sizeThatFits(std::optional<double> width, std::optional<double> height, const NSView& view) const override {
    // Fills what it is offered.
    const CGSize own = view.frame().size;
    return {width && std::isfinite(*width) ? *width : own.width,
            height && std::isfinite(*height) ? *height : own.height};
  }
};

}  // namespace

ui::View OnboardingWallpaper() {
  return ui::Representable("OnboardingWallpaper", std::make_shared<WallpaperRepresentable>());
}

}  // namespace vurle
