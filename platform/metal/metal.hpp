#pragma once

// The compute side of Metal, as far as the system uses it, over OpenCL 1.2.
//
// The objects are the platform's protocols; the one implementation runs on
// the first OpenCL device of the kind chosen (a GPU unless asked otherwise,
// see MTLCreateSystemDefaultDevice). Shader source
// handed to newLibraryWithSource is therefore OpenCL C. Mapping:
// - MTLDevice: an OpenCL device with its own context; the same object for
//   the life of the process.
// - MTLCommandQueue: an in-order OpenCL queue with profiling enabled.
// - MTLLibrary: a program built from source; the build log of a failed build
//   is the error's description. A device keeps the programs it has built, so
//   the same source with the same options is compiled once per process.
// - MTLFunction / MTLComputePipelineState: a kernel; threadExecutionWidth is
//   the kernel's preferred work-group size multiple.
// - MTLBuffer: shared storage: contents() stays valid for the buffer's life
//   and belongs to the CPU except while a command buffer that uses it runs.
// - MTLCommandBuffer / MTLComputeCommandEncoder: dispatches recorded by the
//   encoder are enqueued by commit(); GPU start and end times come from the
//   kernels' profiling events.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/error.hpp"

namespace platform {

enum class MTLMathMode { safe = 0, relaxed = 1, fast = 2 };
enum class MTLMathFloatingPointFunctions { fast = 0, precise = 1 };

enum class MTLCommandBufferStatus {
  notEnqueued = 0,
  enqueued = 1,
  committed = 2,
  scheduled = 3,
  completed = 4,
  error = 5,
};

using MTLResourceOptions = uint64_t;
// Every buffer of this layer is shared storage, whatever the options.
inline constexpr MTLResourceOptions MTLResourceStorageModeShared = 0;

struct MTLSize {
  uint64_t width = 1;
  uint64_t height = 1;
  uint64_t depth = 1;
};
inline MTLSize MTLSizeMake(uint64_t width, uint64_t height, uint64_t depth) { return {width, height, depth}; }

// Compile options. As on the platform, a new object compiles with fast math;
// fastMathEnabled is the older switch for the same setting as mathMode
// (on: fast, off: safe).
class MTLCompileOptions {
 public:
  bool fastMathEnabled() const { return mathMode_ == MTLMathMode::fast; }
  void setFastMathEnabled(bool enabled) { mathMode_ = enabled ? MTLMathMode::fast : MTLMathMode::safe; }
  MTLMathMode mathMode() const { return mathMode_; }
  void setMathMode(MTLMathMode mode) { mathMode_ = mode; }
  MTLMathFloatingPointFunctions mathFloatingPointFunctions() const { return functions_; }
  void setMathFloatingPointFunctions(MTLMathFloatingPointFunctions functions) { functions_ = functions; }

  // The OpenCL build options these settings stand for: fast math is
  // -cl-fast-relaxed-math, relaxed math allows fused multiply-adds, and safe
  // math or precise functions ask for correctly rounded division and square
  // root where the device offers them.
  std::string openCLBuildOptions(bool deviceRoundsDivideSqrtCorrectly) const;

 private:
  MTLMathMode mathMode_ = MTLMathMode::fast;
  MTLMathFloatingPointFunctions functions_ = MTLMathFloatingPointFunctions::fast;
};

class MTLBuffer {
 public:
  virtual ~MTLBuffer() = default;
  virtual uint64_t length() const = 0;
  virtual void* contents() = 0;
};

class MTLFunction {
 public:
  virtual ~MTLFunction() = default;
  virtual std::string name() const = 0;
};

class MTLLibrary {
 public:
  virtual ~MTLLibrary() = default;
  // None when the library has no kernel of that name.
  virtual std::shared_ptr<MTLFunction> newFunctionWithName(const std::string& name) = 0;
};

class MTLComputePipelineState {
 public:
  virtual ~MTLComputePipelineState() = default;
  virtual uint64_t threadExecutionWidth() const = 0;
  virtual uint64_t maxTotalThreadsPerThreadgroup() const = 0;
};

// Records dispatches into its command buffer. A misuse (no pipeline, an
// unsupported offset, a group size the pipeline cannot run) is not thrown:
// the command buffer then ends in status error, with the reason in error().
class MTLComputeCommandEncoder {
 public:
  virtual ~MTLComputeCommandEncoder() = default;
  virtual void setComputePipelineState(const std::shared_ptr<MTLComputePipelineState>& state) = 0;
  // Only offset 0 is supported.
  virtual void setBuffer(const std::shared_ptr<MTLBuffer>& buffer, uint64_t offset, uint32_t index) = 0;
  // Passes the bytes by value as the kernel argument at the index.
  virtual void setBytes(const void* bytes, uint64_t length, uint32_t index) = 0;
  // A one-dimensional grid: height and depth of both sizes must be 1. The
  // grid is rounded up to whole groups; kernels ignore the extra threads.
  virtual void dispatchThreads(MTLSize threadsPerGrid, MTLSize threadsPerThreadgroup) = 0;
  virtual void endEncoding() = 0;
};

class MTLCommandBuffer {
 public:
  virtual ~MTLCommandBuffer() = default;
  // None once committed, or while another encoder of it is still encoding.
  virtual std::shared_ptr<MTLComputeCommandEncoder> computeCommandEncoder() = 0;
  virtual void commit() = 0;
  // Returns at once when not committed.
  virtual void waitUntilCompleted() = 0;
  virtual MTLCommandBufferStatus status() const = 0;
  virtual std::optional<NSError> error() const = 0;
  // Seconds; 0 until the command buffer has completed.
  virtual double GPUStartTime() const = 0;
  virtual double GPUEndTime() const = 0;
};

class MTLCommandQueue {
 public:
  virtual ~MTLCommandQueue() = default;
  virtual std::shared_ptr<MTLCommandBuffer> commandBuffer() = 0;
};

class MTLDevice {
 public:
  virtual ~MTLDevice() = default;
  virtual std::shared_ptr<MTLCommandQueue> newCommandQueue() = 0;
  // None, with *error filled when given, when the source does not build.
  virtual std::shared_ptr<MTLLibrary> newLibraryWithSource(const std::string& source,
                                                           const MTLCompileOptions& options,
                                                           NSError* error) = 0;
  virtual std::shared_ptr<MTLComputePipelineState> newComputePipelineStateWithFunction(
      const std::shared_ptr<MTLFunction>& function, NSError* error) = 0;
  // None when the device refuses the allocation (also for length 0).
  virtual std::shared_ptr<MTLBuffer> newBufferWithLength(uint64_t length, MTLResourceOptions options) = 0;
};

// The OpenCL device that stands in for the machine's, from the environment
// variable VURLE_METAL: unset or "gpu", a GPU device only, as the device
// stood in for is always a GPU (on a CPU device the morphs run slower than
// in the CPU kernels); "cpu", a CPU device only, which the device tests and
// CI ask for so that the device path is tested on machines without a GPU;
// "off", none. Any other value is reported on the console and read as "gpu".
enum class MTLDeviceChoice { gpu, cpu, off };
MTLDeviceChoice MTLCurrentDeviceChoice();

// The machine's default device, as chosen above; none when there is no
// OpenCL platform or usable device of that kind, or when a test forces it
// off (MTLDriverFaults::noDevice). The same object for each kind for the
// life of the process.
std::shared_ptr<MTLDevice> MTLCreateSystemDefaultDevice();

// Test seam: makes the driver refuse where a missing or failing one would.
// resetProcessState() clears every fault.
struct MTLDriverFaults {
  bool noDevice = false;
  // newLibraryWithSource fails with this build log, whatever the source.
  std::optional<std::string> compileError{};
  // Libraries have no functions.
  bool missingFunctions = false;
  // newBufferWithLength grants this many more buffers, then refuses all.
  std::optional<int> buffersBeforeRefusal{};
  bool noCommandBuffer = false;
  bool noComputeEncoder = false;
  // A committed command buffer ends in this status instead of its own.
  std::optional<MTLCommandBufferStatus> status{};
  // A completed command buffer reports an end time before its start time.
  bool endBeforeStart = false;
  // Runs on the compiling thread as newLibraryWithSource begins, so a test
  // sees what holds while the driver compiles.
  std::function<void()> whileCompiling{};
};

void setMTLDriverFaults(MTLDriverFaults faults);
MTLDriverFaults currentMTLDriverFaults();

}  // namespace platform
