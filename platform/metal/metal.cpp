#include "platform/metal/metal.hpp"

#include <CL/cl.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "platform/foundation/log.hpp"
#include "platform/foundation/process_wide.hpp"

namespace platform {

std::string MTLCompileOptions::openCLBuildOptions(bool deviceRoundsDivideSqrtCorrectly) const {
  std::string options = "-cl-std=CL1.2";
  if (mathMode_ == MTLMathMode::fast) options += " -cl-fast-relaxed-math";
  if (mathMode_ == MTLMathMode::relaxed) options += " -cl-mad-enable";
  const bool precise =
      mathMode_ == MTLMathMode::safe || functions_ == MTLMathFloatingPointFunctions::precise;
  if (precise && deviceRoundsDivideSqrtCorrectly) options += " -cl-fp32-correctly-rounded-divide-sqrt";
  return options;
}

namespace {

// ---------------------------------------------------------------------------
// Faults set by tests.

struct FaultState {
  std::mutex mutex;
  MTLDriverFaults faults;
};

FaultState& faultState() {
  static FaultState* made = [] {
    auto* created = new FaultState();
    addResetHook(created, [created] {
      std::lock_guard<std::mutex> guard(created->mutex);
      // Made afresh in place: assigning {} makes GCC 12 warn falsely
      // (-Wmaybe-uninitialized) at -O3 since the faults hold a function.
      created->faults.~MTLDriverFaults();
      new (&created->faults) MTLDriverFaults();
    });
    return created;
  }();
  return *made;
}

MTLDriverFaults faults() {
  auto& state = faultState();
  std::lock_guard<std::mutex> guard(state.mutex);
  return state.faults;
}

// Consumes one buffer grant; false when the faults refuse the buffer.
bool grantBuffer() {
  auto& state = faultState();
  std::lock_guard<std::mutex> guard(state.mutex);
  auto& remaining = state.faults.buffersBeforeRefusal;
  if (!remaining) return true;
  if (*remaining <= 0) return false;
  --*remaining;
  return true;
}

NSError clError(const std::string& domain, const char* call, cl_int code) {
  return NSError{domain, code, std::string(call) + " failed with OpenCL error " + std::to_string(code)};
}

void report(NSError* out, NSError error) {
  if (out != nullptr) *out = std::move(error);
}

const char* const kLibraryDomain = "MTLLibraryErrorDomain";
const char* const kCommandBufferDomain = "MTLCommandBufferErrorDomain";

// ---------------------------------------------------------------------------
// Device.

class CLDevice final : public MTLDevice, public std::enable_shared_from_this<CLDevice> {
 public:
  // The first usable device of the type, with its own context; none without one.
  static std::shared_ptr<CLDevice> open(cl_device_type type);
  ~CLDevice() override;

  std::shared_ptr<MTLCommandQueue> newCommandQueue() override;
  std::shared_ptr<MTLLibrary> newLibraryWithSource(const std::string& source, const MTLCompileOptions& options,
                                                   NSError* error) override;
  std::shared_ptr<MTLComputePipelineState> newComputePipelineStateWithFunction(
      const std::shared_ptr<MTLFunction>& function, NSError* error) override;
  std::shared_ptr<MTLBuffer> newBufferWithLength(uint64_t length, MTLResourceOptions options) override;

  cl_context context() const { return context_; }
  // Holds buffers' initial mappings; command buffers map and unmap on their
  // own queues.
  cl_command_queue transferQueue() const { return transfer_; }

 private:
  CLDevice() = default;

  cl_device_id device_ = nullptr;
  cl_context context_ = nullptr;
  cl_command_queue transfer_ = nullptr;
  bool roundsDivideSqrtCorrectly_ = false;
  std::mutex programsMutex_;
  std::map<std::pair<std::string, std::string>, cl_program> programs_;
};

class CLLibrary final : public MTLLibrary {
 public:
  CLLibrary(std::shared_ptr<CLDevice> device, cl_program program) : device_(std::move(device)), program_(program) {}
  ~CLLibrary() override { clReleaseProgram(program_); }
  std::shared_ptr<MTLFunction> newFunctionWithName(const std::string& name) override;

 private:
  std::shared_ptr<CLDevice> device_;
  cl_program program_;
};

class CLFunction final : public MTLFunction {
 public:
  CLFunction(std::shared_ptr<CLDevice> device, cl_program program, std::string name)
      : device_(std::move(device)), program_(program), name_(std::move(name)) {
    clRetainProgram(program_);
  }
  ~CLFunction() override { clReleaseProgram(program_); }
  std::string name() const override { return name_; }

  const std::shared_ptr<CLDevice>& device() const { return device_; }
  cl_program program() const { return program_; }

 private:
  std::shared_ptr<CLDevice> device_;
  cl_program program_;
  std::string name_;
};

class CLPipeline final : public MTLComputePipelineState {
 public:
  CLPipeline(std::shared_ptr<CLDevice> device, cl_kernel kernel, uint64_t width, uint64_t maximum, uint32_t arguments)
      : device_(std::move(device)), kernel_(kernel), width_(width), maximum_(maximum), arguments_(arguments) {}
  ~CLPipeline() override { clReleaseKernel(kernel_); }
  uint64_t threadExecutionWidth() const override { return width_; }
  uint64_t maxTotalThreadsPerThreadgroup() const override { return maximum_; }

  const std::shared_ptr<CLDevice>& device() const { return device_; }
  cl_kernel kernel() const { return kernel_; }
  uint32_t argumentCount() const { return arguments_; }
  // Kernel arguments are state of the kernel object: setting them and
  // enqueueing the kernel happen under this lock.
  std::mutex& argumentsMutex() { return argumentsMutex_; }

 private:
  std::shared_ptr<CLDevice> device_;
  cl_kernel kernel_;
  uint64_t width_;
  uint64_t maximum_;
  uint32_t arguments_;
  std::mutex argumentsMutex_;
};

// Shared storage: host memory the device uses in place (CL_MEM_USE_HOST_PTR).
// It is mapped, and so the CPU's, except while a command buffer runs.
class CLBuffer final : public MTLBuffer {
 public:
  static std::shared_ptr<CLBuffer> make(std::shared_ptr<CLDevice> device, uint64_t length);
  ~CLBuffer() override;
  uint64_t length() const override { return length_; }
  void* contents() override { return host_; }

  cl_mem memory() const { return memory_; }
  // Hands the storage to the device: unmaps it on the queue when mapped.
  cl_int lendToDevice(cl_command_queue queue);
  // Takes it back after the commands enqueued so far; *event completes when
  // the CPU may use contents() again.
  cl_int takeBack(cl_command_queue queue, cl_event* event);

 private:
  CLBuffer() = default;

  std::shared_ptr<CLDevice> device_;
  uint64_t length_ = 0;
  void* host_ = nullptr;
  cl_mem memory_ = nullptr;
  std::mutex mutex_;
  bool mapped_ = false;
};

class CLCommandQueue final : public MTLCommandQueue, public std::enable_shared_from_this<CLCommandQueue> {
 public:
  CLCommandQueue(std::shared_ptr<CLDevice> device, cl_command_queue queue)
      : device_(std::move(device)), queue_(queue) {}
  ~CLCommandQueue() override { clReleaseCommandQueue(queue_); }
  std::shared_ptr<MTLCommandBuffer> commandBuffer() override;
  cl_command_queue queue() const { return queue_; }

 private:
  std::shared_ptr<CLDevice> device_;
  cl_command_queue queue_;
};

struct Argument {
  std::shared_ptr<CLBuffer> buffer;
  std::vector<unsigned char> bytes;
};

struct Dispatch {
  std::shared_ptr<CLPipeline> pipeline;
  std::map<uint32_t, Argument> arguments;
  size_t global = 0;
  size_t local = 0;
};

class CLCommandBuffer final : public MTLCommandBuffer, public std::enable_shared_from_this<CLCommandBuffer> {
 public:
  explicit CLCommandBuffer(std::shared_ptr<CLCommandQueue> queue) : queue_(std::move(queue)) {}
  ~CLCommandBuffer() override;

  std::shared_ptr<MTLComputeCommandEncoder> computeCommandEncoder() override;
  void commit() override;
  void waitUntilCompleted() override;
  MTLCommandBufferStatus status() const override { return status_; }
  std::optional<NSError> error() const override { return error_; }
  double GPUStartTime() const override { return start_; }
  double GPUEndTime() const override { return end_; }

  // Called by the encoder.
  void fail(const std::string& reason);
  void record(Dispatch dispatch) { dispatches_.push_back(std::move(dispatch)); }
  void finishEncoding() { encoding_ = false; }

 private:
  void releaseEvents();

  std::shared_ptr<CLCommandQueue> queue_;
  std::vector<Dispatch> dispatches_;
  bool encoding_ = false;
  MTLCommandBufferStatus status_ = MTLCommandBufferStatus::notEnqueued;
  std::optional<NSError> error_;
  std::vector<cl_event> kernelEvents_;
  std::vector<cl_event> takeBackEvents_;
  double start_ = 0;
  double end_ = 0;
};

class CLEncoder final : public MTLComputeCommandEncoder {
 public:
  explicit CLEncoder(std::shared_ptr<CLCommandBuffer> owner) : owner_(std::move(owner)) {}
  void setComputePipelineState(const std::shared_ptr<MTLComputePipelineState>& state) override;
  void setBuffer(const std::shared_ptr<MTLBuffer>& buffer, uint64_t offset, uint32_t index) override;
  void setBytes(const void* bytes, uint64_t length, uint32_t index) override;
  void dispatchThreads(MTLSize threadsPerGrid, MTLSize threadsPerThreadgroup) override;
  void endEncoding() override;

 private:
  // False (and the command buffer failed) once encoding has ended.
  bool usable();

  std::shared_ptr<CLCommandBuffer> owner_;
  bool ended_ = false;
  std::shared_ptr<CLPipeline> pipeline_;
  std::map<uint32_t, Argument> arguments_;
};

template <class T>
T deviceInfo(cl_device_id device, cl_device_info what, T otherwise) {
  T value{};
  return clGetDeviceInfo(device, what, sizeof value, &value, nullptr) == CL_SUCCESS ? value : otherwise;
}

// The first usable device of the given type on any platform.
cl_device_id firstDevice(const std::vector<cl_platform_id>& platforms, cl_device_type type) {
  for (cl_platform_id platform : platforms) {
    cl_uint count = 0;
    if (clGetDeviceIDs(platform, type, 0, nullptr, &count) != CL_SUCCESS || count == 0) continue;
    std::vector<cl_device_id> devices(count);
    if (clGetDeviceIDs(platform, type, count, devices.data(), nullptr) != CL_SUCCESS) continue;
    for (cl_device_id device : devices) {
      // Shaders are compiled from source, so the device needs its compiler.
      if (deviceInfo<cl_bool>(device, CL_DEVICE_AVAILABLE, CL_FALSE) &&
          deviceInfo<cl_bool>(device, CL_DEVICE_COMPILER_AVAILABLE, CL_FALSE)) {
        return device;
      }
    }
  }
  return nullptr;
}

std::shared_ptr<CLDevice> CLDevice::open(cl_device_type type) {
  cl_uint count = 0;
  if (clGetPlatformIDs(0, nullptr, &count) != CL_SUCCESS || count == 0) return nullptr;
  std::vector<cl_platform_id> platforms(count);
  if (clGetPlatformIDs(count, platforms.data(), nullptr) != CL_SUCCESS) return nullptr;
  cl_device_id device = firstDevice(platforms, type);
  if (device == nullptr) return nullptr;

  std::shared_ptr<CLDevice> made(new CLDevice());
  cl_int status = CL_SUCCESS;
  made->device_ = device;
  made->context_ = clCreateContext(nullptr, 1, &device, nullptr, nullptr, &status);
  if (status != CL_SUCCESS) return nullptr;
  made->transfer_ = clCreateCommandQueue(made->context_, device, 0, &status);
  if (status != CL_SUCCESS) return nullptr;
  const auto config = deviceInfo<cl_device_fp_config>(device, CL_DEVICE_SINGLE_FP_CONFIG, 0);
  made->roundsDivideSqrtCorrectly_ = (config & CL_FP_CORRECTLY_ROUNDED_DIVIDE_SQRT) != 0;
  return made;
}

CLDevice::~CLDevice() {
  for (auto& entry : programs_) clReleaseProgram(entry.second);
  if (transfer_ != nullptr) clReleaseCommandQueue(transfer_);
  if (context_ != nullptr) clReleaseContext(context_);
}

std::shared_ptr<MTLCommandQueue> CLDevice::newCommandQueue() {
  cl_int status = CL_SUCCESS;
  cl_command_queue queue = clCreateCommandQueue(context_, device_, CL_QUEUE_PROFILING_ENABLE, &status);
  if (status != CL_SUCCESS) return nullptr;
  return std::make_shared<CLCommandQueue>(shared_from_this(), queue);
}

std::shared_ptr<MTLLibrary> CLDevice::newLibraryWithSource(const std::string& source, const MTLCompileOptions& options,
                                                           NSError* error) {
  if (const auto whileCompiling = faults().whileCompiling) whileCompiling();
  if (auto injected = faults().compileError) {
    report(error, NSError{kLibraryDomain, 3, *injected});
    return nullptr;
  }
  const std::string buildOptions = options.openCLBuildOptions(roundsDivideSqrtCorrectly_);
  std::lock_guard<std::mutex> guard(programsMutex_);
  const auto key = std::make_pair(source, buildOptions);
  if (auto found = programs_.find(key); found != programs_.end()) {
    clRetainProgram(found->second);
    return std::make_shared<CLLibrary>(shared_from_this(), found->second);
  }

  const char* text = source.c_str();
  const size_t length = source.size();
  cl_int status = CL_SUCCESS;
  cl_program program = clCreateProgramWithSource(context_, 1, &text, &length, &status);
  if (status != CL_SUCCESS) {
    report(error, clError(kLibraryDomain, "clCreateProgramWithSource", status));
    return nullptr;
  }
  status = clBuildProgram(program, 1, &device_, buildOptions.c_str(), nullptr, nullptr);
  if (status != CL_SUCCESS) {
    std::string log;
    size_t size = 0;
    if (clGetProgramBuildInfo(program, device_, CL_PROGRAM_BUILD_LOG, 0, nullptr, &size) == CL_SUCCESS && size > 0) {
      log.resize(size);
      if (clGetProgramBuildInfo(program, device_, CL_PROGRAM_BUILD_LOG, size, log.data(), nullptr) != CL_SUCCESS) {
        log.clear();
      }
      log.resize(std::strlen(log.c_str()));
      while (!log.empty() && std::isspace(static_cast<unsigned char>(log.back()))) log.pop_back();
    }
    NSError failure = clError(kLibraryDomain, "clBuildProgram", status);
    if (!log.empty()) failure.description = log;
    clReleaseProgram(program);
    report(error, std::move(failure));
    return nullptr;
  }
  clRetainProgram(program);  // one reference for the store, one for the library
  programs_.emplace(key, program);
  return std::make_shared<CLLibrary>(shared_from_this(), program);
}

std::shared_ptr<MTLFunction> CLLibrary::newFunctionWithName(const std::string& name) {
  if (faults().missingFunctions) return nullptr;
  cl_int status = CL_SUCCESS;
  cl_kernel probe = clCreateKernel(program_, name.c_str(), &status);
  if (status != CL_SUCCESS) return nullptr;
  clReleaseKernel(probe);
  return std::make_shared<CLFunction>(device_, program_, name);
}

std::shared_ptr<MTLComputePipelineState> CLDevice::newComputePipelineStateWithFunction(
    const std::shared_ptr<MTLFunction>& function, NSError* error) {
  auto own = std::dynamic_pointer_cast<CLFunction>(function);
  if (!own || own->device().get() != this) {
    report(error, NSError{kLibraryDomain, 1, "the function does not belong to this device"});
    return nullptr;
  }
  cl_int status = CL_SUCCESS;
  cl_kernel kernel = clCreateKernel(own->program(), own->name().c_str(), &status);
  if (status != CL_SUCCESS) {
    report(error, clError(kLibraryDomain, "clCreateKernel", status));
    return nullptr;
  }
  size_t multiple = 0;
  size_t maximum = 0;
  cl_uint arguments = 0;
  status = clGetKernelInfo(kernel, CL_KERNEL_NUM_ARGS, sizeof arguments, &arguments, nullptr);
  if (status == CL_SUCCESS) {
    status = clGetKernelWorkGroupInfo(kernel, device_, CL_KERNEL_PREFERRED_WORK_GROUP_SIZE_MULTIPLE, sizeof multiple,
                                    &multiple, nullptr);
  }
  if (status == CL_SUCCESS) {
    status = clGetKernelWorkGroupInfo(kernel, device_, CL_KERNEL_WORK_GROUP_SIZE, sizeof maximum, &maximum, nullptr);
  }
  if (status != CL_SUCCESS || multiple == 0 || maximum == 0) {
    clReleaseKernel(kernel);
    report(error, clError(kLibraryDomain, "clGetKernelWorkGroupInfo", status));
    return nullptr;
  }
  return std::make_shared<CLPipeline>(shared_from_this(), kernel, std::min(multiple, maximum), maximum,
                                      arguments);
}

std::shared_ptr<MTLBuffer> CLDevice::newBufferWithLength(uint64_t length, MTLResourceOptions /*options*/) {
  if (length == 0 || !grantBuffer()) return nullptr;
  return CLBuffer::make(shared_from_this(), length);
}

// ---------------------------------------------------------------------------
// Buffers.

constexpr size_t kPage = 4096;

std::shared_ptr<CLBuffer> CLBuffer::make(std::shared_ptr<CLDevice> device, uint64_t length) {
  if (length > UINT64_MAX - kPage) return nullptr;
  const uint64_t rounded = (length + kPage - 1) / kPage * kPage;
  std::shared_ptr<CLBuffer> made(new CLBuffer());
  made->device_ = std::move(device);
  made->length_ = length;
  // Page-aligned, so that the device can use the memory in place.
  made->host_ = std::aligned_alloc(kPage, rounded);
  if (made->host_ == nullptr) return nullptr;
  std::memset(made->host_, 0, rounded);
  cl_int status = CL_SUCCESS;
  made->memory_ = clCreateBuffer(made->device_->context(), CL_MEM_READ_WRITE | CL_MEM_USE_HOST_PTR, length,
                                 made->host_, &status);
  if (status != CL_SUCCESS) {
    made->memory_ = nullptr;
    return nullptr;
  }
  // Mapped memory of a CL_MEM_USE_HOST_PTR buffer is the host memory itself.
  void* mapped = clEnqueueMapBuffer(made->device_->transferQueue(), made->memory_, CL_TRUE,
                                    CL_MAP_READ | CL_MAP_WRITE, 0, length, 0, nullptr, nullptr, &status);
  if (status != CL_SUCCESS) return nullptr;
  if (mapped != made->host_) {
    clEnqueueUnmapMemObject(made->device_->transferQueue(), made->memory_, mapped, 0, nullptr, nullptr);
    clFinish(made->device_->transferQueue());
    return nullptr;
  }
  made->mapped_ = true;
  return made;
}

CLBuffer::~CLBuffer() {
  if (memory_ != nullptr) {
    if (mapped_) {
      clEnqueueUnmapMemObject(device_->transferQueue(), memory_, host_, 0, nullptr, nullptr);
      clFinish(device_->transferQueue());
    }
    clReleaseMemObject(memory_);
  }
  std::free(host_);
}

cl_int CLBuffer::lendToDevice(cl_command_queue queue) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (!mapped_) return CL_SUCCESS;
  const cl_int status = clEnqueueUnmapMemObject(queue, memory_, host_, 0, nullptr, nullptr);
  if (status == CL_SUCCESS) mapped_ = false;
  return status;
}

cl_int CLBuffer::takeBack(cl_command_queue queue, cl_event* event) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (mapped_) return CL_SUCCESS;
  cl_int status = CL_SUCCESS;
  void* mapped = clEnqueueMapBuffer(queue, memory_, CL_FALSE, CL_MAP_READ | CL_MAP_WRITE, 0, length_, 0, nullptr,
                                    event, &status);
  if (status != CL_SUCCESS) return status;
  mapped_ = true;
  return mapped == host_ ? CL_SUCCESS : CL_INVALID_MEM_OBJECT;
}

// ---------------------------------------------------------------------------
// Command queue, command buffer and encoder.

std::shared_ptr<MTLCommandBuffer> CLCommandQueue::commandBuffer() {
  if (faults().noCommandBuffer) return nullptr;
  return std::make_shared<CLCommandBuffer>(shared_from_this());
}

CLCommandBuffer::~CLCommandBuffer() {
  // The device may still be using buffers of a command buffer nobody waited
  // for; their memory must outlive that use.
  waitUntilCompleted();
  releaseEvents();
}

void CLCommandBuffer::releaseEvents() {
  for (cl_event event : kernelEvents_) clReleaseEvent(event);
  for (cl_event event : takeBackEvents_) clReleaseEvent(event);
  kernelEvents_.clear();
  takeBackEvents_.clear();
}

void CLCommandBuffer::fail(const std::string& reason) {
  if (!error_) error_ = NSError{kCommandBufferDomain, 1, reason};
}

std::shared_ptr<MTLComputeCommandEncoder> CLCommandBuffer::computeCommandEncoder() {
  if (faults().noComputeEncoder) return nullptr;
  if (status_ != MTLCommandBufferStatus::notEnqueued || encoding_) return nullptr;
  encoding_ = true;
  return std::make_shared<CLEncoder>(shared_from_this());
}

void CLCommandBuffer::commit() {
  if (status_ != MTLCommandBufferStatus::notEnqueued) return;
  status_ = MTLCommandBufferStatus::committed;
  if (encoding_) fail("committed while an encoder was still encoding");
  if (error_) return;

  const cl_command_queue queue = queue_->queue();
  std::vector<std::shared_ptr<CLBuffer>> buffers;
  for (const auto& dispatch : dispatches_) {
    for (const auto& entry : dispatch.arguments) {
      const auto& buffer = entry.second.buffer;
      if (buffer && std::find(buffers.begin(), buffers.end(), buffer) == buffers.end()) buffers.push_back(buffer);
    }
  }
  for (const auto& buffer : buffers) {
    if (const cl_int status = buffer->lendToDevice(queue); status != CL_SUCCESS) {
      error_ = clError(kCommandBufferDomain, "clEnqueueUnmapMemObject", status);
    }
  }
  for (const auto& dispatch : dispatches_) {
    if (error_) break;
    std::lock_guard<std::mutex> guard(dispatch.pipeline->argumentsMutex());
    const cl_kernel kernel = dispatch.pipeline->kernel();
    cl_int status = CL_SUCCESS;
    for (const auto& [index, argument] : dispatch.arguments) {
      if (argument.buffer) {
        const cl_mem memory = argument.buffer->memory();
        status = clSetKernelArg(kernel, index, sizeof memory, &memory);
      } else {
        status = clSetKernelArg(kernel, index, argument.bytes.size(), argument.bytes.data());
      }
      if (status != CL_SUCCESS) {
        error_ = clError(kCommandBufferDomain, "clSetKernelArg", status);
        break;
      }
    }
    if (error_) break;
    cl_event event = nullptr;
    status = clEnqueueNDRangeKernel(queue, kernel, 1, nullptr, &dispatch.global, &dispatch.local, 0, nullptr, &event);
    if (status != CL_SUCCESS) {
      error_ = clError(kCommandBufferDomain, "clEnqueueNDRangeKernel", status);
      break;
    }
    kernelEvents_.push_back(event);
  }
  // Whatever ran, the buffers go back to the CPU afterwards.
  for (const auto& buffer : buffers) {
    cl_event event = nullptr;
    if (const cl_int status = buffer->takeBack(queue, &event); status != CL_SUCCESS && !error_) {
      error_ = clError(kCommandBufferDomain, "clEnqueueMapBuffer", status);
    }
    if (event != nullptr) takeBackEvents_.push_back(event);
  }
  clFlush(queue);
}

void CLCommandBuffer::waitUntilCompleted() {
  if (status_ != MTLCommandBufferStatus::committed) return;
  std::vector<cl_event> all = kernelEvents_;
  all.insert(all.end(), takeBackEvents_.begin(), takeBackEvents_.end());
  if (!all.empty() && clWaitForEvents(static_cast<cl_uint>(all.size()), all.data()) != CL_SUCCESS && !error_) {
    fail("a command of the command buffer failed");
  }
  for (cl_event event : kernelEvents_) {
    cl_int execution = CL_COMPLETE;
    clGetEventInfo(event, CL_EVENT_COMMAND_EXECUTION_STATUS, sizeof execution, &execution, nullptr);
    if (execution < 0 && !error_) error_ = clError(kCommandBufferDomain, "kernel execution", execution);
  }
  if (!error_ && !kernelEvents_.empty()) {
    cl_ulong first = 0;
    cl_ulong last = 0;
    clGetEventProfilingInfo(kernelEvents_.front(), CL_PROFILING_COMMAND_START, sizeof first, &first, nullptr);
    clGetEventProfilingInfo(kernelEvents_.back(), CL_PROFILING_COMMAND_END, sizeof last, &last, nullptr);
    start_ = static_cast<double>(first) * 1e-9;
    end_ = static_cast<double>(last) * 1e-9;
  }
  releaseEvents();
  status_ = error_ ? MTLCommandBufferStatus::error : MTLCommandBufferStatus::completed;

  const auto injected = faults();
  if (injected.status) {
    status_ = *injected.status;
    if (status_ == MTLCommandBufferStatus::error) fail("the driver reported an error");
  }
  if (injected.endBeforeStart && status_ == MTLCommandBufferStatus::completed) end_ = start_ - 0.001;
}

bool CLEncoder::usable() {
  if (!ended_) return true;
  owner_->fail("encoder used after endEncoding");
  return false;
}

void CLEncoder::setComputePipelineState(const std::shared_ptr<MTLComputePipelineState>& state) {
  if (!usable()) return;
  pipeline_ = std::dynamic_pointer_cast<CLPipeline>(state);
  if (!pipeline_) owner_->fail("the pipeline does not belong to this device");
}

void CLEncoder::setBuffer(const std::shared_ptr<MTLBuffer>& buffer, uint64_t offset, uint32_t index) {
  if (!usable()) return;
  auto own = std::dynamic_pointer_cast<CLBuffer>(buffer);
  if (!own) return owner_->fail("buffer " + std::to_string(index) + " does not belong to this device");
  if (offset != 0) return owner_->fail("buffer offsets other than 0 are not supported");
  arguments_[index] = Argument{std::move(own), {}};
}

void CLEncoder::setBytes(const void* bytes, uint64_t length, uint32_t index) {
  if (!usable()) return;
  if (bytes == nullptr || length == 0) return owner_->fail("no bytes for argument " + std::to_string(index));
  const auto* begin = static_cast<const unsigned char*>(bytes);
  arguments_[index] = Argument{nullptr, std::vector<unsigned char>(begin, begin + length)};
}

void CLEncoder::dispatchThreads(MTLSize grid, MTLSize group) {
  if (!usable()) return;
  if (!pipeline_) return owner_->fail("dispatch without a compute pipeline");
  if (grid.height != 1 || grid.depth != 1 || group.height != 1 || group.depth != 1) {
    return owner_->fail("only one-dimensional grids are supported");
  }
  if (group.width == 0 || group.width > pipeline_->maxTotalThreadsPerThreadgroup()) {
    return owner_->fail("threadgroup size " + std::to_string(group.width) + " is not supported by the pipeline");
  }
  // Arguments are state of the kernel object; one left over from an
  // earlier dispatch must not stand in for one this encoder never set.
  for (uint32_t index = 0; index < pipeline_->argumentCount(); ++index) {
    if (!arguments_.count(index)) return owner_->fail("argument " + std::to_string(index) + " is not set");
  }
  if (grid.width == 0) return;
  if (grid.width > SIZE_MAX - group.width) return owner_->fail("grid too large");
  const size_t global = (grid.width + group.width - 1) / group.width * group.width;
  owner_->record(Dispatch{pipeline_, arguments_, global, static_cast<size_t>(group.width)});
}

void CLEncoder::endEncoding() {
  if (!usable()) return;
  ended_ = true;
  owner_->finishEncoding();
}

// What VURLE_METAL asks for; an unknown value is reported and read as unset.
MTLDeviceChoice deviceChoice() {
  const char* value = std::getenv("VURLE_METAL");
  if (value == nullptr || std::strcmp(value, "gpu") == 0) return MTLDeviceChoice::gpu;
  if (std::strcmp(value, "cpu") == 0) return MTLDeviceChoice::cpu;
  if (std::strcmp(value, "off") == 0) return MTLDeviceChoice::off;
  NSLog(std::string("VURLE_METAL=\"") + value + "\" is not one of gpu, cpu or off: taking a GPU device");
  return MTLDeviceChoice::gpu;
}

}  // namespace

MTLDeviceChoice MTLCurrentDeviceChoice() { return deviceChoice(); }

std::shared_ptr<MTLDevice> MTLCreateSystemDefaultDevice() {
  if (faults().noDevice) return nullptr;
  // One device of each kind for the life of the process, as on the platform;
  // never destroyed, so no OpenCL call runs during static destruction.
  switch (deviceChoice()) {
    case MTLDeviceChoice::gpu: {
      static const auto* gpu = new std::shared_ptr<CLDevice>(CLDevice::open(CL_DEVICE_TYPE_GPU));
      return *gpu;
    }
    case MTLDeviceChoice::cpu: {
      static const auto* cpu = new std::shared_ptr<CLDevice>(CLDevice::open(CL_DEVICE_TYPE_CPU));
      return *cpu;
    }
    case MTLDeviceChoice::off:
      break;
  }
  return nullptr;
}

void setMTLDriverFaults(MTLDriverFaults injected) {
  auto& state = faultState();
  std::lock_guard<std::mutex> guard(state.mutex);
  state.faults = std::move(injected);
}

MTLDriverFaults currentMTLDriverFaults() { return faults(); }

}  // namespace platform

#if defined(__SANITIZE_ADDRESS__)
// The OpenCL driver compiles kernels with an embedded compiler that keeps
// allocations for the life of the process; they are the driver's, not ours.
// The font libraries' own caches (see platform/ui/text.cpp) are listed too,
// for programs that draw views as well.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libpocl\nleak:libLLVM\nleak:libclang\nleak:libfontconfig\nleak:libpangoft2\n";
}

// The leak checker of GCC 12's runtime tracks blocks handed out by
// __tls_get_addr; for the driver's compiler libraries it records a bogus
// range and crashes at exit, after every test has passed. Those blocks stay
// reachable through the thread's own TLS, which is scanned anyway.
extern "C" const char* __asan_default_options() { return "intercept_tls_get_addr=0"; }
#endif
