#include "platform/metal/metal.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/foundation/process_wide.hpp"

namespace platform {
namespace {

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

  // The device with the test kernel built; skips the test without OpenCL.
  void requireDevice() {
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

TEST_F(MetalTest, NoDeviceWhenSwitchedOffOrForcedOff) {
  setMTLDriverFaults({.noDevice = true});
  EXPECT_FALSE(MTLCreateSystemDefaultDevice());
  resetProcessState();
  EXPECT_FALSE(currentMTLDriverFaults().noDevice);

  ::setenv("VURLE_METAL", "off", 1);
  EXPECT_FALSE(MTLCreateSystemDefaultDevice());
  ::unsetenv("VURLE_METAL");
}

TEST_F(MetalTest, RunsADispatchOnSharedBuffers) {
  requireDevice();
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

TEST_F(MetalTest, RefusesWhatItCannotBuildOrFind) {
  requireDevice();
  NSError error;
  EXPECT_FALSE(device_->newLibraryWithSource("__kernel void broken(void) { undeclaredThing = 1; }",
                                             strictOptions(), &error));
  EXPECT_NE(error.description.find("undeclaredThing"), std::string::npos) << error.description;

  auto library = device_->newLibraryWithSource(kScaleSource, strictOptions(), nullptr);
  ASSERT_TRUE(library);
  EXPECT_FALSE(library->newFunctionWithName("morph"));
  EXPECT_FALSE(device_->newBufferWithLength(0, MTLResourceStorageModeShared));
}

TEST_F(MetalTest, MisuseEndsTheCommandBufferInError) {
  requireDevice();
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

TEST_F(MetalTest, InjectedFaultsRefuseAtEachStep) {
  requireDevice();
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
