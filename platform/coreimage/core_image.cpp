#include "platform/coreimage/core_image.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "platform/coreimage/image_source.hpp"
#include "platform/graphics/gaussian_blur.hpp"

namespace platform {

// ---- rasters -------------------------------------------------------------

namespace detail {

// A half-open rectangle of whole pixels.
struct IRect {
  long x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  long width() const { return std::max(0L, x1 - x0); }
  long height() const { return std::max(0L, y1 - y0); }
  bool empty() const { return width() == 0 || height() == 0; }
};

// Premultiplied RGBA floats over a rectangle, rows from its bottom (y0) up.
struct Raster {
  IRect rect;
  std::vector<float> pixels;

  explicit Raster(IRect r) : rect(r) {
    // Every region a render asks for comes from a picture of at most
    // 16,384 pixels a side, grown by blur reaches; anything far larger is
    // a recipe gone wrong (a transform that shrinks to nothing).
    constexpr long kMaximumPixels = 1L << 28;
    if (r.width() * r.height() > kMaximumPixels) throw std::length_error("an image region too large to render");
    pixels.assign(size_t(r.width() * r.height()) * 4, 0.0f);
  }
  float* at(long x, long y) { return &pixels[size_t((y - rect.y0) * rect.width() + (x - rect.x0)) * 4]; }
  const float* at(long x, long y) const {
    return &pixels[size_t((y - rect.y0) * rect.width() + (x - rect.x0)) * 4];
  }
};

struct CINode {
  virtual ~CINode() = default;
  virtual CGRect extent() const = 0;
  // Fills `out` (zeroed, over its own rect) with the image's pixels;
  // pixels outside the extent stay clear.
  virtual void render(Raster& out) const = 0;
};

}  // namespace detail

namespace {

using detail::CINode;
using detail::IRect;
using detail::Raster;

constexpr double kFar = 1e12;  // stands for the ends of an infinite extent

double finite(double v) { return std::clamp(v, -kFar, kFar); }

IRect outward(CGRect r) {
  if (CGRectIsNull(r)) return {};
  return {long(std::floor(finite(CGRectGetMinX(r)))), long(std::floor(finite(CGRectGetMinY(r)))),
          long(std::ceil(finite(CGRectGetMaxX(r)))), long(std::ceil(finite(CGRectGetMaxY(r))))};
}

// The pixels whose centres lie inside the rectangle.
IRect centresIn(CGRect r) {
  if (CGRectIsNull(r)) return {};
  return {long(std::ceil(finite(CGRectGetMinX(r)) - 0.5)), long(std::ceil(finite(CGRectGetMinY(r)) - 0.5)),
          long(std::ceil(finite(CGRectGetMaxX(r)) - 0.5)), long(std::ceil(finite(CGRectGetMaxY(r)) - 0.5))};
}

IRect intersect(IRect a, IRect b) {
  IRect r{std::max(a.x0, b.x0), std::max(a.y0, b.y0), std::min(a.x1, b.x1), std::min(a.y1, b.y1)};
  if (r.empty()) return {};
  return r;
}

IRect grown(IRect r, long by) { return {r.x0 - by, r.y0 - by, r.x1 + by, r.y1 + by}; }

Raster renderOver(const CINode& node, IRect rect) {
  Raster raster(rect);
  if (!rect.empty()) node.render(raster);
  return raster;
}

// Copies the overlap of `from` into `to`.
void place(const Raster& from, Raster& to) {
  const IRect both = intersect(from.rect, to.rect);
  for (long y = both.y0; y < both.y1; ++y)
    std::copy(from.at(both.x0, y), from.at(both.x0, y) + both.width() * 4, to.at(both.x0, y));
}

float luminance(const float* p) { return 0.2126f * p[0] + 0.7152f * p[1] + 0.0722f * p[2]; }
float unit(float v) { return std::clamp(v, 0.0f, 1.0f); }

// ---- nodes ---------------------------------------------------------------

struct EmptyNode : CINode {
  CGRect extent() const override { return CGRectNull; }
  void render(Raster&) const override {}
};

// The bitmap's own bytes, shared; only the pixels a render asks for are
// turned into floats, so a large picture costs no more than its bytes.
struct BitmapNode : CINode {
  long width = 0, height = 0;
  std::size_t bytesPerRow = 0;
  bool bgra = false;
  CFDataRef bytes;  // rows from the top

  CGRect extent() const override { return CGRectMake(0, 0, double(width), double(height)); }
  void render(Raster& out) const override {
    const IRect both = intersect(out.rect, {0, 0, width, height});
    for (long y = both.y0; y < both.y1; ++y) {
      // The bitmap's first row is the top one: y = height − 1.
      const uint8_t* s = bytes->data() + size_t(height - 1 - y) * bytesPerRow + size_t(both.x0) * 4;
      float* o = out.at(both.x0, y);
      for (long x = both.x0; x < both.x1; ++x, s += 4, o += 4) {
        o[0] = float(s[bgra ? 2 : 0]) / 255.0f;
        o[1] = float(s[1]) / 255.0f;
        o[2] = float(s[bgra ? 0 : 2]) / 255.0f;
        o[3] = float(s[3]) / 255.0f;
      }
    }
  }
};

struct TransformNode : CINode {
  std::shared_ptr<const CINode> input;
  CGAffineTransform transform;

  CGRect extent() const override { return CGRectApplyAffineTransform(input->extent(), transform); }
  void render(Raster& out) const override {
    const CGRect inputExtent = input->extent();
    if (CGRectIsNull(inputExtent) || CGRectIsEmpty(inputExtent)) return;
    const bool bounded = !CGRectIsInfinite(inputExtent);
    const CGAffineTransform back = CGAffineTransformInvert(transform);
    const CGRect wanted = CGRectApplyAffineTransform(
        CGRectMake(double(out.rect.x0), double(out.rect.y0), double(out.rect.width()), double(out.rect.height())), back);
    IRect region = grown(outward(wanted), 1);
    if (bounded) region = intersect(region, centresIn(inputExtent));
    if (region.empty()) return;
    const Raster source = renderOver(*input, region);
    for (long y = out.rect.y0; y < out.rect.y1; ++y) {
      for (long x = out.rect.x0; x < out.rect.x1; ++x) {
        const CGPoint p = CGPointApplyAffineTransform({x + 0.5, y + 0.5}, back);
        if (bounded && !CGRectContainsPoint(inputExtent, p)) continue;
        // Bilinear between the four nearest pixel centres, the edge pixels
        // standing in for any beyond the region.
        const double u = p.x - 0.5, v = p.y - 0.5;
        const double fu = std::floor(u), fv = std::floor(v);
        const float tx = float(u - fu), ty = float(v - fv);
        auto col = [&](double c) { return std::clamp(long(c), region.x0, region.x1 - 1); };
        auto row = [&](double r) { return std::clamp(long(r), region.y0, region.y1 - 1); };
        const float* a = source.at(col(fu), row(fv));
        const float* b = source.at(col(fu + 1), row(fv));
        const float* c = source.at(col(fu), row(fv + 1));
        const float* d = source.at(col(fu + 1), row(fv + 1));
        float* o = out.at(x, y);
        for (int k = 0; k < 4; ++k) {
          const float bottom = a[k] + (b[k] - a[k]) * tx, top = c[k] + (d[k] - c[k]) * tx;
          o[k] = bottom + (top - bottom) * ty;
        }
      }
    }
  }
};

struct ClampNode : CINode {
  std::shared_ptr<const CINode> input;

  CGRect extent() const override { return CGRectInfinite; }
  void render(Raster& out) const override {
    const CGRect inputExtent = input->extent();
    if (CGRectIsInfinite(inputExtent)) {
      input->render(out);
      return;
    }
    const IRect grid = centresIn(inputExtent);
    if (grid.empty()) return;
    auto cx = [&](long x) { return std::clamp(x, grid.x0, grid.x1 - 1); };
    auto cy = [&](long y) { return std::clamp(y, grid.y0, grid.y1 - 1); };
    const IRect region{cx(out.rect.x0), cy(out.rect.y0), cx(out.rect.x1 - 1) + 1, cy(out.rect.y1 - 1) + 1};
    const Raster source = renderOver(*input, region);
    for (long y = out.rect.y0; y < out.rect.y1; ++y)
      for (long x = out.rect.x0; x < out.rect.x1; ++x) std::copy_n(source.at(cx(x), cy(y)), 4, out.at(x, y));
  }
};

struct CropNode : CINode {
  std::shared_ptr<const CINode> input;
  CGRect rect;

  CGRect extent() const override {
    const CGRect e = input->extent();
    return CGRectIsInfinite(e) ? CGRectStandardize(rect) : CGRectIntersection(e, rect);
  }
  void render(Raster& out) const override {
    const IRect kept = intersect(out.rect, centresIn(rect));
    if (kept.empty()) return;
    place(renderOver(*input, kept), out);
  }
};

struct LinearGradientNode : CINode {
  CIVector p0, p1;
  CIColor c0, c1;

  CGRect extent() const override { return CGRectInfinite; }
  void render(Raster& out) const override {
    const double dx = p1.x - p0.x, dy = p1.y - p0.y, length2 = dx * dx + dy * dy;
    for (long y = out.rect.y0; y < out.rect.y1; ++y)
      for (long x = out.rect.x0; x < out.rect.x1; ++x) {
        const double px = x + 0.5, py = y + 1.0;
        const double t = length2 > 0 ? std::clamp(((px - p0.x) * dx + (py - p0.y) * dy) / length2, 0.0, 1.0) : 0.0;
        const double a = c0.alpha + (c1.alpha - c0.alpha) * t;
        float* o = out.at(x, y);
        o[0] = float((c0.red + (c1.red - c0.red) * t) * a);
        o[1] = float((c0.green + (c1.green - c0.green) * t) * a);
        o[2] = float((c0.blue + (c1.blue - c0.blue) * t) * a);
        o[3] = float(a);
      }
  }
};

// The input blurred over `rect`, read from the input over the blur's reach.
Raster blurred(const CINode& input, IRect rect, double sigma) {
  const long reach = gaussianReach(sigma);
  Raster region = renderOver(input, grown(rect, reach));
  gaussianBlur(region.pixels.data(), int(region.rect.width()), int(region.rect.height()), 4, sigma, sigma);
  Raster out(rect);
  place(region, out);
  return out;
}

struct MaskedVariableBlurNode : CINode {
  std::shared_ptr<const CINode> input, mask;
  double radius = 0;

  CGRect extent() const override { return input->extent(); }
  void render(Raster& out) const override {
    const Raster base = renderOver(*input, out.rect);
    const Raster masking = renderOver(*mask, out.rect);
    // Only where the mask is above zero does any blur show.
    IRect touched{out.rect.x1, out.rect.y1, out.rect.x0, out.rect.y0};
    std::vector<float> amount(size_t(out.rect.width() * out.rect.height()));
    std::array<bool, 5> levelUsed{};
    for (long y = out.rect.y0; y < out.rect.y1; ++y)
      for (long x = out.rect.x0; x < out.rect.x1; ++x) {
        const float m = unit(luminance(masking.at(x, y)));
        amount[size_t((y - out.rect.y0) * out.rect.width() + (x - out.rect.x0))] = m;
        if (m <= 0) continue;
        touched = {std::min(touched.x0, x), std::min(touched.y0, y), std::max(touched.x1, x + 1),
                   std::max(touched.y1, y + 1)};
        const int level = std::min(3, int(m * 4));
        levelUsed[size_t(level)] = levelUsed[size_t(level) + 1] = true;
      }
    place(base, out);
    if (touched.empty() || !(radius > 0)) return;
    std::array<std::optional<Raster>, 5> levels;
    for (int k = 1; k <= 4; ++k)
      if (levelUsed[size_t(k)]) levels[size_t(k)].emplace(blurred(*input, touched, radius * k / 4.0));
    for (long y = touched.y0; y < touched.y1; ++y)
      for (long x = touched.x0; x < touched.x1; ++x) {
        const float m = amount[size_t((y - out.rect.y0) * out.rect.width() + (x - out.rect.x0))];
        if (m <= 0) continue;
        const int level = std::min(3, int(m * 4));
        const float f = m * 4 - float(level);
        const float* lo = level == 0 ? base.at(x, y) : levels[size_t(level)]->at(x, y);
        const float* hi = levels[size_t(level) + 1]->at(x, y);
        float* o = out.at(x, y);
        for (int c = 0; c < 4; ++c) o[c] = lo[c] + (hi[c] - lo[c]) * f;
      }
  }
};

struct ColumnAverageNode : CINode {
  std::shared_ptr<const CINode> input;
  IRect over;

  CGRect extent() const override { return CGRectMake(double(over.x0), double(over.y0), double(over.width()), 1); }
  void render(Raster& out) const override {
    const IRect wanted = intersect(out.rect, {over.x0, over.y0, over.x1, over.y0 + 1});
    if (wanted.empty()) return;
    const Raster source = renderOver(*input, {wanted.x0, over.y0, wanted.x1, over.y1});
    for (long x = wanted.x0; x < wanted.x1; ++x) {
      // The exact mean, summed in double so a tall column loses nothing.
      double sums[4] = {0, 0, 0, 0};
      for (long y = over.y0; y < over.y1; ++y)
        for (int c = 0; c < 4; ++c) sums[c] += source.at(x, y)[c];
      float* o = out.at(x, over.y0);
      for (int c = 0; c < 4; ++c) o[c] = float(sums[c] / double(over.height()));
    }
  }
};

struct ColorMatrixNode : CINode {
  std::shared_ptr<const CINode> input;
  CIVector r, g, b, a, bias;

  CGRect extent() const override { return input->extent(); }
  void render(Raster& out) const override {
    input->render(out);
    for (size_t i = 0; i < out.pixels.size(); i += 4) {
      float* p = &out.pixels[i];
      const double alpha = p[3];
      const double u[4] = {alpha > 0 ? p[0] / alpha : 0, alpha > 0 ? p[1] / alpha : 0, alpha > 0 ? p[2] / alpha : 0,
                           alpha};
      auto dot = [&](const CIVector& v, double plus) { return v.x * u[0] + v.y * u[1] + v.z * u[2] + v.w * u[3] + plus; };
      const double na = dot(a, bias.w);
      p[0] = float(dot(r, bias.x) * na);
      p[1] = float(dot(g, bias.y) * na);
      p[2] = float(dot(b, bias.z) * na);
      p[3] = float(na);
    }
  }
};

struct BlendWithMaskNode : CINode {
  std::shared_ptr<const CINode> image, background, mask;

  CGRect extent() const override { return CGRectUnion(image->extent(), background->extent()); }
  void render(Raster& out) const override {
    const Raster fg = renderOver(*image, out.rect), bg = renderOver(*background, out.rect),
                 m = renderOver(*mask, out.rect);
    for (size_t i = 0; i < out.pixels.size(); i += 4) {
      const float w = unit(luminance(&m.pixels[i]));
      for (int c = 0; c < 4; ++c) out.pixels[i + c] = fg.pixels[i + c] * w + bg.pixels[i + c] * (1 - w);
    }
  }
};

// ---- faults --------------------------------------------------------------

struct Faults {
  std::mutex mutex;
  std::map<std::string, unsigned> outputs;
  unsigned renders = 0;
};

Faults& faults() {
  static Faults* shared = new Faults();
  return *shared;
}

template <class T>
std::optional<T> valueOf(const std::map<std::string, CIValue>& values, const std::string& key) {
  auto found = values.find(key);
  if (found == values.end()) return std::nullopt;
  if (const T* value = std::get_if<T>(&found->second)) return *value;
  return std::nullopt;
}

std::shared_ptr<const CINode> nodeOf(const std::optional<CIImage>& image) {
  return image ? image->node() : nullptr;
}

}  // namespace

// ---- images --------------------------------------------------------------

CIImage CIImage::emptyImage() { return CIImage(std::make_shared<EmptyNode>()); }

CIImage CIImage::imageWithCGImage(const CGImageRef& image) {
  if (!image) return emptyImage();
  const auto& p = image->params();
  CFDataRef bytes = CGDataProviderCopyData(p.provider);
  if (!bytes) return emptyImage();
  auto node = std::make_shared<BitmapNode>();
  node->width = long(p.width);
  node->height = long(p.height);
  node->bytesPerRow = p.bytesPerRow;
  node->bgra = (p.bitmapInfo & kCGBitmapAlphaInfoMask) == kCGImageAlphaPremultipliedFirst;
  node->bytes = std::move(bytes);
  return CIImage(std::move(node));
}

std::optional<CIImage> CIImage::imageWithContentsOfURL(const NSURL& url) {
  const CGImageRef image = CGImageSourceCreateImageAtIndex(CGImageSourceCreateWithURL(url), 0);
  if (!image) return std::nullopt;
  return imageWithCGImage(image);
}

CGRect CIImage::extent() const { return node_->extent(); }

CIImage CIImage::imageByApplyingTransform(CGAffineTransform transform) const {
  auto node = std::make_shared<TransformNode>();
  node->input = node_;
  node->transform = transform;
  return CIImage(std::move(node));
}

CIImage CIImage::imageByClampingToExtent() const {
  if (CGRectIsInfinite(extent()) || CGRectIsNull(extent())) return *this;
  auto node = std::make_shared<ClampNode>();
  node->input = node_;
  return CIImage(std::move(node));
}

CIImage CIImage::imageByCroppingToRect(CGRect rect) const {
  auto node = std::make_shared<CropNode>();
  node->input = node_;
  node->rect = CGRectStandardize(rect);
  return CIImage(std::move(node));
}

// ---- filters -------------------------------------------------------------

std::shared_ptr<CIFilter> CIFilter::filterWithName(const std::string& name) {
  static const char* known[] = {"CILinearGradient", "CIMaskedVariableBlur", "CIColumnAverage", "CIColorMatrix",
                                "CIBlendWithMask"};
  for (const char* k : known)
    if (name == k) return std::make_shared<CIFilter>(name);
  return nullptr;
}

CIFilter::CIFilter(std::string name) : name_(std::move(name)) {
  // The platform's defaults.
  if (name_ == "CILinearGradient") {
    values_.insert_or_assign("inputPoint0", CIVector::vectorWithX(0, 0));
    values_.insert_or_assign("inputPoint1", CIVector::vectorWithX(200, 200));
    values_.insert_or_assign("inputColor0", CIColor::whiteColor());
    values_.insert_or_assign("inputColor1", CIColor::blackColor());
  } else if (name_ == "CIMaskedVariableBlur") {
    values_.insert_or_assign("inputRadius", 5.0);
  } else if (name_ == "CIColumnAverage") {
    values_.insert_or_assign("inputExtent", CIVector::vectorWithX(0, 0, 640, 80));
  } else if (name_ == "CIColorMatrix") {
    values_.insert_or_assign("inputRVector", CIVector::vectorWithX(1, 0, 0, 0));
    values_.insert_or_assign("inputGVector", CIVector::vectorWithX(0, 1, 0, 0));
    values_.insert_or_assign("inputBVector", CIVector::vectorWithX(0, 0, 1, 0));
    values_.insert_or_assign("inputAVector", CIVector::vectorWithX(0, 0, 0, 1));
    values_.insert_or_assign("inputBiasVector", CIVector::vectorWithX(0, 0, 0, 0));
  }
}

void CIFilter::setValue(CIValue value, const std::string& key) { values_.insert_or_assign(key, std::move(value)); }

const CIValue* CIFilter::valueForKey(const std::string& key) const {
  auto found = values_.find(key);
  return found == values_.end() ? nullptr : &found->second;
}

std::optional<CIImage> CIFilter::outputImage() const {
  if (CoreImageFaults::consumeOutput(name_)) return std::nullopt;
  const auto image = nodeOf(valueOf<CIImage>(values_, kCIInputImageKey));
  if (name_ == "CILinearGradient") {
    const auto p0 = valueOf<CIVector>(values_, "inputPoint0"), p1 = valueOf<CIVector>(values_, "inputPoint1");
    const auto c0 = valueOf<CIColor>(values_, "inputColor0"), c1 = valueOf<CIColor>(values_, "inputColor1");
    if (!p0 || !p1 || !c0 || !c1) return std::nullopt;
    auto node = std::make_shared<LinearGradientNode>();
    node->p0 = *p0, node->p1 = *p1, node->c0 = *c0, node->c1 = *c1;
    return CIImage(std::move(node));
  }
  if (!image) return std::nullopt;
  if (name_ == "CIMaskedVariableBlur") {
    const auto mask = nodeOf(valueOf<CIImage>(values_, "inputMask"));
    const auto radius = valueOf<double>(values_, "inputRadius");
    if (!mask || !radius || !std::isfinite(*radius) || *radius < 0) return std::nullopt;
    auto node = std::make_shared<MaskedVariableBlurNode>();
    node->input = image, node->mask = mask, node->radius = *radius;
    return CIImage(std::move(node));
  }
  if (name_ == "CIColumnAverage") {
    std::optional<CGRect> over = valueOf<CGRect>(values_, "inputExtent");
    if (const auto v = valueOf<CIVector>(values_, "inputExtent")) over = CGRectMake(v->x, v->y, v->z, v->w);
    if (!over) return std::nullopt;
    const IRect pixels = outward(CGRectStandardize(*over));
    if (pixels.empty()) return std::nullopt;
    auto node = std::make_shared<ColumnAverageNode>();
    node->input = image, node->over = pixels;
    return CIImage(std::move(node));
  }
  if (name_ == "CIColorMatrix") {
    auto node = std::make_shared<ColorMatrixNode>();
    node->input = image;
    const auto r = valueOf<CIVector>(values_, "inputRVector"), g = valueOf<CIVector>(values_, "inputGVector"),
               b = valueOf<CIVector>(values_, "inputBVector"), a = valueOf<CIVector>(values_, "inputAVector"),
               bias = valueOf<CIVector>(values_, "inputBiasVector");
    if (!r || !g || !b || !a || !bias) return std::nullopt;
    node->r = *r, node->g = *g, node->b = *b, node->a = *a, node->bias = *bias;
    return CIImage(std::move(node));
  }
  if (name_ == "CIBlendWithMask") {
    const auto background = nodeOf(valueOf<CIImage>(values_, "inputBackgroundImage"));
    const auto mask = nodeOf(valueOf<CIImage>(values_, "inputMaskImage"));
    if (!background || !mask) return std::nullopt;
    auto node = std::make_shared<BlendWithMaskNode>();
    node->image = image, node->background = background, node->mask = mask;
    return CIImage(std::move(node));
  }
  return std::nullopt;
}

void CoreImageFaults::failNextOutput(const std::string& filterName, unsigned count) {
  auto& f = faults();
  std::lock_guard<std::mutex> guard(f.mutex);
  f.outputs[filterName] += count;
}

void CoreImageFaults::failNextRender(unsigned count) {
  auto& f = faults();
  std::lock_guard<std::mutex> guard(f.mutex);
  f.renders += count;
}

void CoreImageFaults::reset() {
  auto& f = faults();
  std::lock_guard<std::mutex> guard(f.mutex);
  f.outputs.clear();
  f.renders = 0;
}

bool CoreImageFaults::consumeOutput(const std::string& filterName) {
  auto& f = faults();
  std::lock_guard<std::mutex> guard(f.mutex);
  auto found = f.outputs.find(filterName);
  if (found == f.outputs.end() || found->second == 0) return false;
  --found->second;
  return true;
}

bool CoreImageFaults::consumeRender() {
  auto& f = faults();
  std::lock_guard<std::mutex> guard(f.mutex);
  if (f.renders == 0) return false;
  --f.renders;
  return true;
}

// ---- contexts ------------------------------------------------------------

std::shared_ptr<CIContext> CIContext::contextWithOptions(const std::map<std::string, bool>& options) {
  auto found = options.find(kCIContextCacheIntermediates);
  return std::make_shared<CIContext>(found == options.end() || found->second);
}

int CIContext::renderCount() const { return renders_.load(); }

CGImageRef CIContext::createCGImage(const CIImage& image, CGRect fromRect) const {
  if (CGRectIsNull(fromRect) || CGRectIsInfinite(fromRect)) return nullptr;
  const IRect rect = outward(CGRectIntegral(fromRect));
  if (rect.empty() || rect.width() > long(kMaximumImageSide) || rect.height() > long(kMaximumImageSide)) return nullptr;
  if (CoreImageFaults::consumeRender()) return nullptr;
  std::optional<Raster> raster;
  try {
    raster.emplace(renderOver(*image.node(), rect));
  } catch (const std::length_error&) {
    return nullptr;
  }
  renders_.fetch_add(1);
  const size_t w = size_t(rect.width()), h = size_t(rect.height());
  auto bytes = std::make_shared<CFData>(w * h * 4);
  for (size_t row = 0; row < h; ++row) {
    const long y = rect.y1 - 1 - long(row);
    for (size_t x = 0; x < w; ++x) {
      const float* p = raster->at(rect.x0 + long(x), y);
      const float alpha = unit(p[3]);
      uint8_t* out = bytes->data() + (row * w + x) * 4;
      for (int c = 0; c < 3; ++c) out[c] = uint8_t(std::lround(std::clamp(p[c], 0.0f, alpha) * 255.0f));
      out[3] = uint8_t(std::lround(alpha * 255.0f));
    }
  }
  return CGImageCreate(w, h, 8, 32, w * 4, CGColorSpaceCreateDeviceRGB(), kCGImageAlphaPremultipliedLast,
                       CGDataProviderCreateWithCFData(bytes), nullptr, false, kCGRenderingIntentDefault);
}

}  // namespace platform
