#include "cursor/art/metal_cursor_renderer.hpp"

#include <cmath>
#include <cstring>
#include <mutex>

#include "platform/dispatch/dispatch_queue.hpp"
#include "platform/dispatch/weak_block.hpp"
#include "platform/foundation/log.hpp"
#include "platform/foundation/process_info.hpp"
#include "platform/foundation/process_wide.hpp"

namespace vurle {
namespace {

// The kernel's parameter record, passed by value as argument 5.
struct MorphParameters {
  uint32_t width;
  uint32_t height;
  float progress;
  float scale;
};
static_assert(sizeof(MorphParameters) == 16);

// OpenCL C. The same operations in the same order as morphCPU (see
// kernels_reference.hpp), with contraction off so that every product is
// rounded before it is added; fmin and fmax are IEEE minNum and maxNum, as on
// the CPU. Only the final rounding differs: floor(value + 0.5) here, halves
// away from zero there.
const char* const kShaderSource = R"(#pragma OPENCL FP_CONTRACT OFF

typedef struct {
  uint width;
  uint height;
  float progress;
  float scale;
} MorphParameters;

typedef struct {
  int low;
  int high;
  float fraction;
} Axis;

typedef struct {
  float x;
  float y;
} Point;

float clampTo(float v, float lo, float hi) { return fmin(fmax(v, lo), hi); }

Axis makeAxis(float u, int size) {
  Axis axis;
  const float c = clampTo(u, 0.0f, (float)(size - 1));
  axis.low = (int)c;
  axis.high = min(axis.low + 1, size - 1);
  axis.fraction = c - (float)axis.low;
  return axis;
}

float sampleField(__global const float* field, int width, int height, float u, float v) {
  const Axis x = makeAxis(u, width);
  const Axis y = makeAxis(v, height);
  const float a = field[y.low * width + x.low];
  const float b = field[y.low * width + x.high];
  const float c = field[y.high * width + x.low];
  const float e = field[y.high * width + x.high];
  const float top = a + (b - a) * x.fraction;
  const float bottom = c + (e - c) * x.fraction;
  return top * (1.0f - y.fraction) + bottom * y.fraction;
}

bool advance(Point* p, float delta, float gx, float gy, int width, int height) {
  const float length = gx * gx + gy * gy;
  if (length < 0.04f) return false;
  const float step = clampTo(delta / length, -8.0f, 8.0f);
  const float x = p->x + gx * step;
  const float y = p->y + gy * step;
  p->x = clampTo(x, 0.0f, (float)(width - 1));
  p->y = clampTo(y, 0.0f, (float)(height - 1));
  return true;
}

Point project(__global const float* field, int width, int height, int x, int y, float d) {
  Point p;
  p.x = (float)x;
  p.y = (float)y;
  float delta = d - field[y * width + x];
  if (fabs(delta) < 0.05f) return p;
  const int left = max(x - 1, 0);
  const int right = min(x + 1, width - 1);
  const int top = max(y - 1, 0);
  const int bottom = min(y + 1, height - 1);
  float gx = (field[y * width + right] - field[y * width + left]) * 0.5f;
  float gy = (field[bottom * width + x] - field[top * width + x]) * 0.5f;
  if (!advance(&p, delta, gx, gy, width, height)) return p;
  for (int step = 2; step <= 3; ++step) {
    delta = d - sampleField(field, width, height, p.x, p.y);
    if (fabs(delta) < 0.05f) return p;
    gx = (sampleField(field, width, height, p.x + 1.0f, p.y) - sampleField(field, width, height, p.x - 1.0f, p.y)) * 0.5f;
    gy = (sampleField(field, width, height, p.x, p.y + 1.0f) - sampleField(field, width, height, p.x, p.y - 1.0f)) * 0.5f;
    if (!advance(&p, delta, gx, gy, width, height)) return p;
  }
  return p;
}

float4 colourAt(__global const uchar* rgba, int width, int height, Point p) {
  if (p.x < 0.0f || p.y < 0.0f || p.x >= (float)(width - 1) || p.y >= (float)(height - 1)) return (float4)(0.0f);
  const int ix = (int)p.x;
  const int iy = (int)p.y;
  const float tx = p.x - (float)ix;
  const float ty = p.y - (float)iy;
  const int i = iy * width + ix;
  const float4 a = convert_float4(vload4(i, rgba));
  const float4 b = convert_float4(vload4(i + 1, rgba));
  const float4 c = convert_float4(vload4(i + width, rgba));
  const float4 e = convert_float4(vload4(i + width + 1, rgba));
  return (a + (b - a) * tx) * (1.0f - ty) + (c + (e - c) * tx) * ty;
}

__kernel void morph(__global const float* source, __global const float* target, __global const uchar* fromRGBA,
                    __global const uchar* toRGBA, __global uchar* output, MorphParameters parameters) {
  const uint i = (uint)get_global_id(0);
  if (i >= parameters.width * parameters.height) return;
  const int width = (int)parameters.width;
  const int height = (int)parameters.height;
  const int x = (int)(i % parameters.width);
  const int y = (int)(i / parameters.width);
  const float progress = parameters.progress;
  const float d = source[i] + progress * (target[i] - source[i]);
  if (d < parameters.scale * -18.0f) {
    vstore4((uchar4)(0), i, output);
    return;
  }
  const Point a = project(source, width, height, x, y, d);
  const Point b = project(target, width, height, x, y, d);
  const float4 f = colourAt(fromRGBA, width, height, a);
  const float4 t = colourAt(toRGBA, width, height, b);
  const float4 value = f + progress * (t - f);
  vstore4(convert_uchar4(fmin(fmax(floor(value + 0.5f), 0.0f), 255.0f)), i, output);
}
)";

constexpr size_t kBufferCount = 5;

// Never destroyed, like the device under it: releasing device objects while
// the process exits would race the driver's own teardown.
auto* const sharedRenderer =
    new platform::ProcessWide<std::shared_ptr<MetalCursorRenderer>>([] { return MetalCursorRenderer::make(); });

}  // namespace

std::string MetalCursorRenderer::describe(Failure failure) {
  switch (failure) {
    case Failure::unavailable:
      return "unavailable";
  }
  return "unavailable";
}

std::shared_ptr<MetalCursorRenderer> MetalCursorRenderer::shared() { return sharedRenderer->get(); }

std::shared_ptr<MetalCursorRenderer> MetalCursorRenderer::make() {
  std::shared_ptr<MetalCursorRenderer> renderer(new MetalCursorRenderer());
  renderer->preparing_ = true;
  platform::DispatchQueue::global(platform::QoS::utility)
      ->async(platform::weakBlock(renderer, [](MetalCursorRenderer& self) { self.prepare(); }));
  return renderer;
}

void MetalCursorRenderer::failPreparation(const std::string& description) {
  {
    std::lock_guard<platform::NSLock> guard(lock_);
    preparationError_ = description;
  }
  platform::NSLog("vurle Metal unavailable: " + description);
}

void MetalCursorRenderer::prepare() {
  prepareDevice();
  std::lock_guard<platform::NSLock> guard(lock_);
  preparing_ = false;
}

void MetalCursorRenderer::prepareDevice() {
  auto device = platform::MTLCreateSystemDefaultDevice();
  if (!device) return failPreparation(describe(Failure::unavailable));
  // Kept even when absent: every render then falls back.
  auto queue = device->newCommandQueue();

  // Fast math stays off either way; the shader itself turns contraction off.
  platform::MTLCompileOptions options;
  if (platform::ProcessInfo::isOperatingSystemAtLeastVersion({15, 0, 0})) {
    options.setMathMode(platform::MTLMathMode::safe);
    options.setMathFloatingPointFunctions(platform::MTLMathFloatingPointFunctions::precise);
  } else {
    options.setFastMathEnabled(false);
  }
  {
    std::lock_guard<platform::NSLock> guard(lock_);
    compileOptions_ = options;
  }

  platform::NSError error;
  auto library = device->newLibraryWithSource(kShaderSource, options, &error);
  if (!library) return failPreparation(error.description);
  auto function = library->newFunctionWithName("morph");
  if (!function) return failPreparation(describe(Failure::unavailable));
  auto pipeline = device->newComputePipelineStateWithFunction(function, &error);
  if (!pipeline) return failPreparation(error.description);

  std::lock_guard<platform::NSLock> guard(lock_);
  device_ = std::move(device);
  queue_ = std::move(queue);
  pipeline_ = std::move(pipeline);
}

bool MetalCursorRenderer::refuse() {
  ++fallbacks_;
  return false;
}

bool MetalCursorRenderer::render(const float* source, const float* target, const uint8_t* fromRGBA,
                                 const uint8_t* toRGBA, uint8_t* output, int32_t width, int32_t height, float progress,
                                 float scale) {
  // Held to the end, across the wait for the device: the buffers serve one
  // render at a time.
  std::lock_guard<platform::NSLock> guard(lock_);
  const int64_t n = int64_t{width} * height;
  if (width < 1 || height < 1 || n > kMaximumPixels || !device_ || !queue_ || !pipeline_) return refuse();
  const size_t bytes = static_cast<size_t>(n) * 4;

  if (capacity_ < n) {
    // All five or none: a refused buffer keeps the old set.
    std::vector<std::shared_ptr<platform::MTLBuffer>> grown;
    for (size_t k = 0; k < kBufferCount; ++k) {
      auto buffer = device_->newBufferWithLength(bytes, 0);
      if (!buffer) return refuse();
      grown.push_back(std::move(buffer));
    }
    buffers_ = std::move(grown);
    capacity_ = n;
  }
  std::memcpy(buffers_[0]->contents(), source, bytes);
  std::memcpy(buffers_[1]->contents(), target, bytes);
  std::memcpy(buffers_[2]->contents(), fromRGBA, bytes);
  std::memcpy(buffers_[3]->contents(), toRGBA, bytes);

  auto commands = queue_->commandBuffer();
  if (!commands) return refuse();
  auto encoder = commands->computeCommandEncoder();
  if (!encoder) return refuse();
  encoder->setComputePipelineState(pipeline_);
  for (size_t k = 0; k < kBufferCount; ++k) encoder->setBuffer(buffers_[k], 0, static_cast<uint32_t>(k));
  const MorphParameters parameters{static_cast<uint32_t>(width), static_cast<uint32_t>(height), progress, scale};
  encoder->setBytes(&parameters, sizeof parameters, 5);
  encoder->dispatchThreads(platform::MTLSizeMake(static_cast<uint64_t>(n), 1, 1),
                           platform::MTLSizeMake(pipeline_->threadExecutionWidth(), 1, 1));
  encoder->endEncoding();
  commands->commit();
  commands->waitUntilCompleted();
  if (commands->status() != platform::MTLCommandBufferStatus::completed) return refuse();

  // fmax, not max: a NaN time must not come out as the result either.
  lastGPUTime_ = std::fmax(commands->GPUEndTime() - commands->GPUStartTime(), 0.0) * 1000.0;
  std::memcpy(output, buffers_[4]->contents(), bytes);
  ++submissions_;
  return true;
}

bool MetalCursorRenderer::isPrepared() const {
  std::lock_guard<platform::NSLock> guard(lock_);
  return device_ && queue_ && pipeline_;
}

bool MetalCursorRenderer::isPreparing() const {
  std::lock_guard<platform::NSLock> guard(lock_);
  return preparing_;
}

std::vector<std::shared_ptr<platform::MTLBuffer>> MetalCursorRenderer::buffers() const {
  std::lock_guard<platform::NSLock> guard(lock_);
  return buffers_;
}

int64_t MetalCursorRenderer::capacity() const {
  std::lock_guard<platform::NSLock> guard(lock_);
  return capacity_;
}

int64_t MetalCursorRenderer::submissions() const {
  std::lock_guard<platform::NSLock> guard(lock_);
  return submissions_;
}

int64_t MetalCursorRenderer::fallbacks() const {
  std::lock_guard<platform::NSLock> guard(lock_);
  return fallbacks_;
}

double MetalCursorRenderer::lastGPUTime() const {
  std::lock_guard<platform::NSLock> guard(lock_);
  return lastGPUTime_;
}

std::optional<std::string> MetalCursorRenderer::preparationError() const {
  std::lock_guard<platform::NSLock> guard(lock_);
  return preparationError_;
}

std::optional<platform::MTLCompileOptions> MetalCursorRenderer::compileOptions() const {
  std::lock_guard<platform::NSLock> guard(lock_);
  return compileOptions_;
}

}  // namespace vurle
