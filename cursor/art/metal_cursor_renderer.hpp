#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/lock.hpp"
#include "platform/metal/metal.hpp"

namespace vurle {

// Runs the per-pixel morph (the GPU twin of morphCPU) as the compute kernel
// "morph", compiled at run time from source held in the program. Until the
// preparation has finished, or when it failed, every request is refused and
// the caller morphs on the CPU instead.
class MetalCursorRenderer : public std::enable_shared_from_this<MetalCursorRenderer> {
 public:
  // One dispatch covers at most this many pixels.
  static constexpr int64_t kMaximumPixels = 262144;

  enum class Failure { unavailable };
  static std::string describe(Failure failure);

  // The process's renderer, made on first use; resetProcessState() lets the
  // next use make a new one.
  static std::shared_ptr<MetalCursorRenderer> shared();
  // Empty state, with prepare() queued on the global utility queue. The
  // queued preparation holds the renderer weakly.
  static std::shared_ptr<MetalCursorRenderer> make();

  // Builds device, command queue and pipeline; on failure records the
  // error's description and logs it once.
  void prepare();

  // Morphs width x height pixels on the device into `output`, with the
  // buffers and sizes of morphCPU (fields of width * height floats, colours
  // and output of width * height * 4 bytes). False, with nothing written,
  // when the device cannot deliver; the caller then runs morphCPU.
  bool render(const float* source, const float* target, const uint8_t* fromRGBA, const uint8_t* toRGBA,
              uint8_t* output, int32_t width, int32_t height, float progress, float scale);

  // Snapshots, each read under the lock.
  bool isPrepared() const;
  // From make() until its preparation has returned, prepared or failed:
  // meanwhile the driver may be compiling on another thread.
  bool isPreparing() const;
  std::vector<std::shared_ptr<platform::MTLBuffer>> buffers() const;
  int64_t capacity() const;
  int64_t submissions() const;
  int64_t fallbacks() const;
  double lastGPUTime() const;
  std::optional<std::string> preparationError() const;
  // The options the kernel was compiled with; none before compilation.
  std::optional<platform::MTLCompileOptions> compileOptions() const;

 private:
  MetalCursorRenderer() = default;
  void prepareDevice();
  void failPreparation(const std::string& description);
  bool refuse();

  std::shared_ptr<platform::MTLDevice> device_;
  std::shared_ptr<platform::MTLCommandQueue> queue_;
  std::shared_ptr<platform::MTLComputePipelineState> pipeline_;
  mutable platform::NSLock lock_;
  std::vector<std::shared_ptr<platform::MTLBuffer>> buffers_;
  int64_t capacity_ = 0;
  int64_t submissions_ = 0;
  int64_t fallbacks_ = 0;
  double lastGPUTime_ = 0;
  std::optional<std::string> preparationError_;
  std::optional<platform::MTLCompileOptions> compileOptions_;
  bool preparing_ = false;
};

}  // namespace vurle
