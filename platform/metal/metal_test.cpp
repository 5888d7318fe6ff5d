#include "platform/metal/metal.hpp"

#include <CL/cl.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/log.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/metal/metal_test_support.hpp"

namespace platform {
namespace {

// Whether the machine has a usable OpenCL device of the type, asked of
// OpenCL directly.
bool machineHasDevice(cl_device_type type) {
  cl_uint platformCount = 0;
  if (clGetPlatformIDs(0, nullptr, &platformCount) != CL_SUCCESS || platformCount == 0) return false;
  std::vector<cl_platform_id> platforms(platformCount);
  clGetPlatformIDs(platformCount, platforms.data(), nullptr);
  for (cl_platform_id platform : platforms) {
    cl_uint count = 0;
    if (clGetDeviceIDs(platform, type, 0, nullptr, &count) != CL_SUCCESS || count == 0) continue;
    std::vector<cl_device_id> devices(count);
    clGetDeviceIDs(platform, type, count, devices.data(), nullptr);
    for (cl_device_id device : devices) {
      cl_bool available = CL_FALSE, compiler = CL_FALSE;
      clGetDeviceInfo(device, CL_DEVICE_AVAILABLE, sizeof available, &available, nullptr);
      clGetDeviceInfo(device, CL_DEVICE_COMPILER_AVAILABLE, sizeof compiler, &compiler, nullptr);
      if (available && compiler) return true;
    }
  }
  return false;
}

// Sets VURLE_METAL for one scope (unset for none) and puts it back after.
class MetalVariable {
 public:
  explicit MetalVariable(std::optional<std::string> value) {
    if (const char* old = std::getenv("VURLE_METAL")) saved_ = old;
    if (value) {
      ::setenv("VURLE_METAL", value->c_str(), 1);
    } else {
      ::unsetenv("VURLE_METAL");
    }
  }
  ~MetalVariable() {
    if (saved_) {
      ::setenv("VURLE_METAL", saved_->c_str(), 1);
    } else {
      ::unsetenv("VURLE_METAL");
    }
  }

 private:
  std::optional<std::string> saved_;
};

const char* const kScaleSource = R"(
typedef struct { uint count; float factor; } Params;
__kernel void scaled(__global const float* input, __global float* output, Params params) {
  size_t i = get_global_id(0);
  if (i >= params.count) return;
  output[i] = input[i] * params.factor;
}
)";

struct Params {
  uint32_t count;
  float factor;
};

MTLCompileOptions strictOptions() {
  MTLCompileOptions options;
  options.setFastMathEnabled(false);
  return options;
}

class MetalTest : public ::testing::Test {
 protected:
  void SetUp() override { resetProcessState(); }
  void TearDown() override { resetProcessState(); }
};

// Tests that need the device, with the test kernel built; skipped (in SetUp,
// so that the test body does not run) without an OpenCL device.
class MetalDeviceTest : public MetalTest {
 protected:
  void SetUp() override {
    MetalTest::SetUp();
    device_ = MTLCreateSystemDefaultDevice();
    if (!device_) GTEST_SKIP() << "no OpenCL device on this machine";
    NSError error;
    auto library = device_->newLibraryWithSource(kScaleSource, strictOptions(), &error);
    ASSERT_TRUE(library) << error.description;
    pipeline_ = device_->newComputePipelineStateWithFunction(library->newFunctionWithName("scaled"), &error);
    ASSERT_TRUE(pipeline_) << error.description;
    queue_ = device_->newCommandQueue();
    ASSERT_TRUE(queue_);
  }

  // Encodes one dispatch of `count` threads over the two buffers.
  std::shared_ptr<MTLCommandBuffer> encode(const std::shared_ptr<MTLBuffer>& input,
                                           const std::shared_ptr<MTLBuffer>& output, uint32_t count, float factor) {
    auto commands = queue_->commandBuffer();
    auto encoder = commands->computeCommandEncoder();
    encoder->setComputePipelineState(pipeline_);
    encoder->setBuffer(input, 0, 0);
    encoder->setBuffer(output, 0, 1);
    const Params params{count, factor};
    encoder->setBytes(&params, sizeof params, 2);
    encoder->dispatchThreads(MTLSizeMake(count, 1, 1), MTLSizeMake(pipeline_->threadExecutionWidth(), 1, 1));
    encoder->endEncoding();
    return commands;
  }

  std::shared_ptr<MTLDevice> device_;
  std::shared_ptr<MTLComputePipelineState> pipeline_;
  std::shared_ptr<MTLCommandQueue> queue_;
};

TEST(MTLCompileOptions, MapToOpenCLBuildOptions) {
  MTLCompileOptions fresh;
  EXPECT_TRUE(fresh.fastMathEnabled());
  EXPECT_EQ(fresh.openCLBuildOptions(true), "-cl-std=CL1.2 -cl-fast-relaxed-math");

  MTLCompileOptions fastOff;
  fastOff.setFastMathEnabled(false);
  MTLCompileOptions safePrecise;
  safePrecise.setMathMode(MTLMathMode::safe);
  safePrecise.setMathFloatingPointFunctions(MTLMathFloatingPointFunctions::precise);
  for (const auto& strict : {fastOff, safePrecise}) {
    EXPECT_EQ(strict.openCLBuildOptions(true), "-cl-std=CL1.2 -cl-fp32-correctly-rounded-divide-sqrt");
    EXPECT_EQ(strict.openCLBuildOptions(false), "-cl-std=CL1.2");
  }

  MTLCompileOptions relaxed;
  relaxed.setMathMode(MTLMathMode::relaxed);
  EXPECT_EQ(relaxed.openCLBuildOptions(true), "-cl-std=CL1.2 -cl-mad-enable");
}

TEST_F(MetalTest, NoDeviceWhenForcedOff) {
  setMTLDriverFaults({.noDevice = true});
  EXPECT_FALSE(MTLCreateSystemDefaultDevice());
  resetProcessState();
  EXPECT_FALSE(currentMTLDriverFaults().noDevice);
}

// By default only a GPU stands in for the device; a CPU device only when
// asked for. Which devices exist is asked of OpenCL itself.
TEST_F(MetalTest, TheVariableChoosesTheKindOfDevice) {
  const bool gpu = machineHasDevice(CL_DEVICE_TYPE_GPU);
  const bool cpu = machineHasDevice(CL_DEVICE_TYPE_CPU);
  std::shared_ptr<MTLDevice> cpuDevice;
  {
    MetalVariable variable("cpu");
    cpuDevice = MTLCreateSystemDefaultDevice();
  }
  EXPECT_EQ(cpuDevice != nullptr, cpu);
  struct Case {
    std::optional<std::string> value;
    MTLDeviceChoice choice;
    bool device;
    bool reported;
  } cases[] = {
      {std::nullopt, MTLDeviceChoice::gpu, gpu, false}, {"gpu", MTLDeviceChoice::gpu, gpu, false},
      {"cpu", MTLDeviceChoice::cpu, cpu, false},        {"off", MTLDeviceChoice::off, false, false},
      {"CPU", MTLDeviceChoice::gpu, gpu, true},         {"", MTLDeviceChoice::gpu, gpu, true},
  };
  for (const auto& c : cases) {
    const std::string name = c.value.value_or("<unset>");
    MetalVariable variable(c.value);
    LogCapture log;
    EXPECT_EQ(MTLCurrentDeviceChoice(), c.choice) << name;
    const auto device = MTLCreateSystemDefaultDevice();
    EXPECT_EQ(device != nullptr, c.device) << name;
    // Never the CPU device unless asked for it.
    if (c.choice != MTLDeviceChoice::cpu && device) {
      EXPECT_NE(device, cpuDevice) << name;
    }
    EXPECT_EQ(!log.lines().empty(), c.reported) << name;
  }
}

TEST_F(MetalDeviceTest, RunsADispatchOnSharedBuffers) {
  constexpr uint32_t kCount = 1000;  // not a whole number of groups
  auto input = device_->newBufferWithLength(1024 * sizeof(float), MTLResourceStorageModeShared);
  auto output = device_->newBufferWithLength(1024 * sizeof(float), MTLResourceStorageModeShared);
  ASSERT_TRUE(input && output);
  EXPECT_EQ(input->length(), 1024 * sizeof(float));
  auto* in = static_cast<float*>(input->contents());
  auto* out = static_cast<float*>(output->contents());
  for (uint32_t i = 0; i < 1024; ++i) in[i] = static_cast<float>(i);

  // Twice, with new CPU data in between: each run sees what the CPU wrote.
  for (float factor : {2.0f, 3.0f}) {
    if (factor == 3.0f) in[7] = 100.0f;
    auto commands = encode(input, output, kCount, factor);
    commands->commit();
    commands->waitUntilCompleted();
    ASSERT_EQ(commands->status(), MTLCommandBufferStatus::completed) << commands->error()->description;
    EXPECT_GE(commands->GPUEndTime(), commands->GPUStartTime());
    EXPECT_GT(commands->GPUEndTime(), 0.0);
    EXPECT_EQ(input->contents(), in);
    for (uint32_t i = 0; i < kCount; ++i) ASSERT_EQ(out[i], in[i] * factor) << i;
    for (uint32_t i = kCount; i < 1024; ++i) ASSERT_EQ(out[i], 0.0f) << i;
  }
}

TEST_F(MetalDeviceTest, RefusesWhatItCannotBuildOrFind) {
  NSError error;
  EXPECT_FALSE(device_->newLibraryWithSource("__kernel void broken(void) { undeclaredThing = 1; }",
                                             strictOptions(), &error));
  EXPECT_NE(error.description.find("undeclaredThing"), std::string::npos) << error.description;

  auto library = device_->newLibraryWithSource(kScaleSource, strictOptions(), nullptr);
  ASSERT_TRUE(library);
  EXPECT_FALSE(library->newFunctionWithName("morph"));
  EXPECT_FALSE(device_->newBufferWithLength(0, MTLResourceStorageModeShared));
}

TEST_F(MetalDeviceTest, MisuseEndsTheCommandBufferInError) {
  auto buffer = device_->newBufferWithLength(64, MTLResourceStorageModeShared);
  ASSERT_TRUE(buffer);
  struct Case {
    const char* name;
    void (*misuse)(MTLComputeCommandEncoder&, const std::shared_ptr<MTLBuffer>&, uint64_t maximum);
    bool ends;
  } cases[] = {
      {"offset", [](auto& e, auto& b, uint64_t) { e.setBuffer(b, 16, 0); }, true},
      {"2-D grid", [](auto& e, auto&, uint64_t) { e.dispatchThreads(MTLSizeMake(4, 4, 1), MTLSizeMake(4, 1, 1)); },
       true},
      {"group too large",
       [](auto& e, auto&, uint64_t maximum) { e.dispatchThreads(MTLSizeMake(4, 1, 1), MTLSizeMake(maximum + 1, 1, 1)); },
       true},
      {"missing arguments", [](auto& e, auto&, uint64_t) { e.dispatchThreads(MTLSizeMake(4, 1, 1), MTLSizeMake(1, 1, 1)); },
       true},
      {"not ended", [](auto&, auto&, uint64_t) {}, false},
  };
  for (const auto& c : cases) {
    auto commands = queue_->commandBuffer();
    auto encoder = commands->computeCommandEncoder();
    encoder->setComputePipelineState(pipeline_);
    c.misuse(*encoder, buffer, pipeline_->maxTotalThreadsPerThreadgroup());
    if (c.ends) encoder->endEncoding();
    commands->commit();
    commands->waitUntilCompleted();
    EXPECT_EQ(commands->status(), MTLCommandBufferStatus::error) << c.name;
    EXPECT_TRUE(commands->error()) << c.name;
  }
}

TEST_F(MetalDeviceTest, InjectedFaultsRefuseAtEachStep) {
  setMTLDriverFaults({.compileError = "line 1: nope"});
  NSError error;
  EXPECT_FALSE(device_->newLibraryWithSource(kScaleSource, strictOptions(), &error));
  EXPECT_EQ(error.description, "line 1: nope");

  setMTLDriverFaults({.missingFunctions = true});
  auto library = device_->newLibraryWithSource(kScaleSource, strictOptions(), &error);
  ASSERT_TRUE(library);
  EXPECT_FALSE(library->newFunctionWithName("scaled"));

  setMTLDriverFaults({.buffersBeforeRefusal = 2});
  EXPECT_TRUE(device_->newBufferWithLength(16, 0));
  auto input = device_->newBufferWithLength(4096, 0);
  EXPECT_TRUE(input);
  EXPECT_FALSE(device_->newBufferWithLength(16, 0));

  setMTLDriverFaults({.noCommandBuffer = true});
  EXPECT_FALSE(queue_->commandBuffer());
  setMTLDriverFaults({.noComputeEncoder = true});
  EXPECT_FALSE(queue_->commandBuffer()->computeCommandEncoder());

  setMTLDriverFaults({.status = MTLCommandBufferStatus::error});
  auto failed = encode(input, input, 4, 1.0f);
  failed->commit();
  failed->waitUntilCompleted();
  EXPECT_EQ(failed->status(), MTLCommandBufferStatus::error);

  setMTLDriverFaults({.endBeforeStart = true});
  auto backwards = encode(input, input, 4, 1.0f);
  backwards->commit();
  backwards->waitUntilCompleted();
  EXPECT_EQ(backwards->status(), MTLCommandBufferStatus::completed);
  EXPECT_LT(backwards->GPUEndTime(), backwards->GPUStartTime());
}

}  // namespace
}  // namespace platform
