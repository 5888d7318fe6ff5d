#include "cursor/art/metal_cursor_renderer.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <random>
#include <vector>

#include "cursor/art/kernels.hpp"
#include "cursor/art/kernels_reference.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/foundation/log.hpp"
#include "platform/foundation/process_info.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/metal/metal.hpp"
#include "platform/metal/metal_test_support.hpp"

namespace vurle {
namespace {

using platform::MTLCommandBufferStatus;
using platform::MTLDriverFaults;

// The inputs of one morph.
struct Morph {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<float> source, target;
  std::vector<uint8_t> from, to;

  static Morph blank(int32_t width, int32_t height) {
    const size_t n = static_cast<size_t>(width) * height;
    return {width, height, std::vector<float>(n, 1.0f), std::vector<float>(n, 1.0f), std::vector<uint8_t>(4 * n, 200),
            std::vector<uint8_t>(4 * n, 100)};
  }
};

bool renderOn(MetalCursorRenderer& renderer, const Morph& m, std::vector<uint8_t>& out, float progress, float scale) {
  out.assign(m.from.size(), 7);  // not zero: a refused render must leave it alone
  return renderer.render(m.source.data(), m.target.data(), m.from.data(), m.to.data(), out.data(), m.width, m.height,
                         progress, scale);
}

// Fields and colours of random values, the fields straddling the cut-off.
Morph randomMorph(int32_t width, int32_t height, std::mt19937& random) {
  Morph m = Morph::blank(width, height);
  std::uniform_real_distribution<float> field(-45.0f, 30.0f);
  std::uniform_int_distribution<int> byte(0, 255);
  for (auto& v : m.source) v = field(random);
  for (auto& v : m.target) v = field(random);
  for (auto& v : m.from) v = static_cast<uint8_t>(byte(random));
  for (auto& v : m.to) v = static_cast<uint8_t>(byte(random));
  return m;
}

// A shape drawn with 4 x 4 supersampled coverage, grey fill, premultiplied.
template <class Inside>
void draw(int32_t width, int32_t height, Inside inside, std::vector<uint8_t>& rgba) {
  rgba.assign(static_cast<size_t>(width) * height * 4, 0);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      int covered = 0;
      for (int s = 0; s < 16; ++s) covered += inside(x + (s % 4 + 0.5) / 4, y + (s / 4 + 0.5) / 4) ? 1 : 0;
      const auto alpha = static_cast<uint8_t>(covered * 255 / 16);
      uint8_t* p = &rgba[4 * (static_cast<size_t>(y) * width + x)];
      p[0] = p[1] = p[2] = static_cast<uint8_t>(alpha * 60 / 255);
      p[3] = alpha;
    }
  }
}

// A shape's field and colours, drawn on its own canvas and padded into the
// morph canvas at an offset, as the animation prepares them.
template <class Inside>
void placeShape(int32_t shapeWidth, int32_t shapeHeight, Inside inside, int32_t offsetX, int32_t offsetY, Morph& m,
                std::vector<float>& field, std::vector<uint8_t>& colours) {
  std::vector<uint8_t> rgba;
  draw(shapeWidth, shapeHeight, inside, rgba);
  std::vector<float> solid(rgba.size() / 4), scratch(rgba.size() / 4);
  signedDistanceField(rgba.data(), solid.data(), scratch.data(), shapeWidth, shapeHeight);
  colours.assign(static_cast<size_t>(m.width) * m.height * 4, 0);
  field.assign(static_cast<size_t>(m.width) * m.height, 0.0f);
  ASSERT_TRUE(padRaster(solid.data(), rgba.data(), field.data(), colours.data(), shapeWidth, shapeHeight, m.width,
                        m.height, offsetX, offsetY));
}

// A disc morphing into a rectangle on a width x height canvas.
Morph discToRectangle(int32_t width, int32_t height) {
  Morph m = Morph::blank(width, height);
  const double r = std::min(width, height) * 0.3;
  placeShape(static_cast<int32_t>(2 * r + 6), static_cast<int32_t>(2 * r + 6),
             [r](double x, double y) { return std::hypot(x - r - 3, y - r - 3) <= r; }, width / 8, height / 6, m,
             m.source, m.from);
  const int32_t w = width * 5 / 8, h = height / 2;
  placeShape(w, h, [w, h](double x, double y) { return x > 3 && y > 3 && x < w - 3 && y < h - 3; }, width / 4,
             height / 3, m, m.target, m.to);
  return m;
}

// The blended colour component before rounding, as the CPU computes it.
float unroundedValue(const Morph& m, int64_t pixel, int component, float progress) {
  using namespace reference::morph_detail;
  const auto x = static_cast<int32_t>(pixel % m.width), y = static_cast<int32_t>(pixel / m.width);
  const float d = m.source[pixel] + progress * (m.target[pixel] - m.source[pixel]);
  float f[4], t[4];
  colour(m.from.data(), m.width, m.height, project(m.source.data(), m.width, m.height, x, y, d), f);
  colour(m.to.data(), m.width, m.height, project(m.target.data(), m.width, m.height, x, y, d), t);
  return f[component] + progress * (t[component] - f[component]);
}

// Device and CPU frames agree byte for byte, except by one where the device's
// floor(value + 0.5) rounds differently because value + 0.5 is not exact.
void expectAgreement(MetalCursorRenderer& renderer, const Morph& m, float progress, float scale) {
  std::vector<uint8_t> device;
  ASSERT_TRUE(renderOn(renderer, m, device, progress, scale));
  std::vector<uint8_t> cpu(m.from.size(), 0);
  morphCPU(m.source.data(), m.target.data(), m.from.data(), m.to.data(), cpu.data(), m.width, m.height, progress,
           scale);
  ASSERT_TRUE(std::any_of(cpu.begin(), cpu.end(), [](uint8_t b) { return b != 0; })) << "a vacuous comparison";
  for (size_t i = 0; i < cpu.size(); ++i) {
    if (device[i] == cpu[i]) continue;
    const float value = unroundedValue(m, static_cast<int64_t>(i / 4), static_cast<int>(i % 4), progress);
    const float half = value + 0.5f;
    const bool inexact = static_cast<double>(half) != static_cast<double>(value) + 0.5;
    ASSERT_TRUE(inexact && std::abs(device[i] - cpu[i]) == 1 && device[i] == std::floor(half))
        << m.width << " x " << m.height << " progress " << progress << " byte " << i << ": device "
        << int{device[i]} << ", cpu " << int{cpu[i]} << ", value " << value;
  }
}

class MetalCursorRendererTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::resetProcessState(); }
  void TearDown() override { platform::resetProcessState(); }

  // A renderer of its own, prepared. The device keeps the programs it has
  // built, so the kernel is compiled once per process however many
  // renderers the tests prepare.
  std::shared_ptr<MetalCursorRenderer> prepared() {
    auto renderer = MetalCursorRenderer::make();
    scope_->runUntilIdle();
    return renderer;
  }

  platform::SimulatedSchedulerScope scope_;
};

// Skips the test on a machine without OpenCL; with a device, preparation
// must succeed.
#define REQUIRE_DEVICE(renderer)                                                              \
  do {                                                                                        \
    if (!platform::MTLCreateSystemDefaultDevice()) GTEST_SKIP() << "no OpenCL device here";  \
    ASSERT_TRUE((renderer)->isPrepared()) << (renderer)->preparationError().value_or("?");    \
  } while (0)

TEST_F(MetalCursorRendererTest, WithoutADeviceEveryFrameFallsBackAndTheFailureIsLoggedOnce) {
  platform::setMTLDriverFaults({.noDevice = true});
  platform::LogCapture log;
  auto renderer = MetalCursorRenderer::shared();
  EXPECT_EQ(MetalCursorRenderer::shared(), renderer);
  scope_->runUntilIdle();

  const Morph m = Morph::blank(16, 16);
  std::vector<uint8_t> out;
  for (int frame = 0; frame < 3; ++frame) {
    EXPECT_FALSE(renderOn(*renderer, m, out, 0.5f, 2.0f));
    EXPECT_EQ(out, std::vector<uint8_t>(m.from.size(), 7));
  }
  EXPECT_EQ(renderer->fallbacks(), 3);
  EXPECT_EQ(renderer->submissions(), 0);
  EXPECT_EQ(renderer->preparationError(), "unavailable");
  EXPECT_FALSE(renderer->isPreparing());
  EXPECT_EQ(log.lines(), std::vector<std::string>{"vurle Metal unavailable: unavailable"});

  platform::resetProcessState();
  EXPECT_NE(MetalCursorRenderer::shared(), renderer);
}

TEST_F(MetalCursorRendererTest, APreparationQueuedForADiscardedRendererDoesNothing) {
  platform::setMTLDriverFaults({.noDevice = true});
  platform::LogCapture log;
  MetalCursorRenderer::make();
  scope_->runUntilIdle();
  EXPECT_TRUE(log.lines().empty());
}

TEST_F(MetalCursorRendererTest, PreparationFailuresAreRecordedAndLogged) {
  struct Case {
    MTLDriverFaults faults;
    std::string description;
  };
  // Filled field by field: brace-initialised arrays of these trip a false
  // maybe-uninitialized warning in optimised builds.
  std::vector<Case> cases(2);
  cases[0].faults.compileError = "morph.cl:3: error: expected ';'";
  cases[0].description = "morph.cl:3: error: expected ';'";
  cases[1].faults.missingFunctions = true;
  cases[1].description = "unavailable";
  for (const auto& c : cases) {
    if (!platform::MTLCreateSystemDefaultDevice()) GTEST_SKIP() << "no OpenCL device here";
    platform::setMTLDriverFaults(c.faults);
    platform::LogCapture log;
    auto renderer = prepared();
    EXPECT_FALSE(renderer->isPrepared());
    EXPECT_FALSE(renderer->isPreparing());
    EXPECT_EQ(renderer->preparationError(), c.description);
    EXPECT_EQ(log.lines(), std::vector<std::string>{"vurle Metal unavailable: " + c.description});
    std::vector<uint8_t> out;
    EXPECT_FALSE(renderOn(*renderer, Morph::blank(4, 4), out, 0.5f, 1.0f));
    EXPECT_EQ(renderer->fallbacks(), 1);
  }
}

TEST_F(MetalCursorRendererTest, CompileOptionsFollowTheSystemVersionAndStayStrict) {
  struct Case {
    int major;
    platform::MTLMathFloatingPointFunctions functions;
  } cases[] = {{14, platform::MTLMathFloatingPointFunctions::fast},
               {15, platform::MTLMathFloatingPointFunctions::precise}};
  for (const auto& c : cases) {
    platform::ProcessInfo::setOperatingSystemVersion({c.major, 0, 0});
    auto renderer = prepared();
    REQUIRE_DEVICE(renderer);
    const auto options = renderer->compileOptions();
    ASSERT_TRUE(options);
    EXPECT_FALSE(options->fastMathEnabled());
    EXPECT_EQ(options->mathMode(), platform::MTLMathMode::safe);
    EXPECT_EQ(options->mathFloatingPointFunctions(), c.functions) << "macOS " << c.major;
    EXPECT_EQ(options->openCLBuildOptions(true), "-cl-std=CL1.2 -cl-fp32-correctly-rounded-divide-sqrt");
  }
}

TEST_F(MetalCursorRendererTest, RefusesUntilPreparedAndOutsideTheSizeLimits) {
  std::shared_ptr<MetalCursorRenderer> renderer;
  std::optional<bool> preparingWhileCompiling;
  platform::setMTLDriverFaults({.whileCompiling = [&] { preparingWhileCompiling = renderer->isPreparing(); }});
  renderer = MetalCursorRenderer::make();
  std::vector<uint8_t> out;
  EXPECT_FALSE(renderOn(*renderer, Morph::blank(8, 8), out, 0.5f, 1.0f));  // preparation still queued
  EXPECT_TRUE(renderer->isPreparing());
  scope_->runUntilIdle();
  REQUIRE_DEVICE(renderer);
  EXPECT_EQ(preparingWhileCompiling, true);
  EXPECT_FALSE(renderer->isPreparing());

  struct Case {
    int32_t width, height;
    bool onDevice;
  } cases[] = {{513, 512, false}, {512, 513, false}, {0, 4, false}, {4, 0, false}, {-2, -2, false}, {512, 512, true},
               {1, 1, true}};
  int64_t fallbacks = renderer->fallbacks(), submissions = renderer->submissions();
  for (const auto& c : cases) {
    Morph m = Morph::blank(std::max(c.width, 1), std::max(c.height, 1));
    m.width = c.width;
    m.height = c.height;
    EXPECT_EQ(renderOn(*renderer, m, out, 0.5f, 2.0f), c.onDevice) << c.width << " x " << c.height;
    (c.onDevice ? submissions : fallbacks) += 1;
    EXPECT_EQ(renderer->fallbacks(), fallbacks);
    EXPECT_EQ(renderer->submissions(), submissions);
  }
  EXPECT_EQ(renderer->capacity(), 512 * 512);
}

TEST_F(MetalCursorRendererTest, BuffersGrowToTheLargestCanvasAndNeverShrink) {
  auto renderer = prepared();
  REQUIRE_DEVICE(renderer);
  std::vector<uint8_t> out;
  ASSERT_TRUE(renderOn(*renderer, Morph::blank(100, 100), out, 0.5f, 1.0f));
  const auto first = renderer->buffers();
  ASSERT_EQ(first.size(), 5u);
  for (const auto& buffer : first) EXPECT_EQ(buffer->length(), 40000u);

  ASSERT_TRUE(renderOn(*renderer, Morph::blank(50, 50), out, 0.5f, 1.0f));
  EXPECT_EQ(renderer->capacity(), 10000);
  EXPECT_EQ(renderer->buffers(), first);

  // A refused buffer keeps the old set, which still serves smaller canvases.
  platform::setMTLDriverFaults({.buffersBeforeRefusal = 2});
  EXPECT_FALSE(renderOn(*renderer, Morph::blank(120, 120), out, 0.5f, 1.0f));
  EXPECT_EQ(renderer->capacity(), 10000);
  EXPECT_EQ(renderer->buffers(), first);
  EXPECT_TRUE(renderOn(*renderer, Morph::blank(60, 60), out, 0.5f, 1.0f));

  platform::setMTLDriverFaults({});
  ASSERT_TRUE(renderOn(*renderer, Morph::blank(120, 120), out, 0.5f, 1.0f));
  EXPECT_EQ(renderer->capacity(), 14400);
  EXPECT_NE(renderer->buffers(), first);
  ASSERT_TRUE(renderOn(*renderer, Morph::blank(100, 100), out, 0.5f, 1.0f));
  EXPECT_EQ(renderer->capacity(), 14400);
  EXPECT_EQ(renderer->fallbacks(), 1);
  EXPECT_EQ(renderer->submissions(), 5);
}

TEST_F(MetalCursorRendererTest, CommandFailuresFallBackAndLeaveTheOutputAlone) {
  auto renderer = prepared();
  REQUIRE_DEVICE(renderer);
  const MTLDriverFaults cases[] = {
      {.noCommandBuffer = true},
      {.noComputeEncoder = true},
      {.status = MTLCommandBufferStatus::error},
      {.status = MTLCommandBufferStatus::committed},
  };
  const Morph m = Morph::blank(32, 32);
  std::vector<uint8_t> out;
  int64_t fallbacks = 0;
  for (const auto& faults : cases) {
    platform::setMTLDriverFaults(faults);
    EXPECT_FALSE(renderOn(*renderer, m, out, 0.5f, 1.0f));
    EXPECT_EQ(renderer->fallbacks(), ++fallbacks);
    EXPECT_EQ(out, std::vector<uint8_t>(m.from.size(), 7));
    platform::setMTLDriverFaults({});
    EXPECT_TRUE(renderOn(*renderer, m, out, 0.5f, 1.0f)) << "the renderer recovers";
  }
  EXPECT_EQ(renderer->submissions(), 4);
}

TEST_F(MetalCursorRendererTest, GPUTimeIsNeverNegative) {
  auto renderer = prepared();
  REQUIRE_DEVICE(renderer);
  std::vector<uint8_t> out;
  ASSERT_TRUE(renderOn(*renderer, Morph::blank(64, 64), out, 0.5f, 1.0f));
  EXPECT_GE(renderer->lastGPUTime(), 0.0);
  platform::setMTLDriverFaults({.endBeforeStart = true});
  ASSERT_TRUE(renderOn(*renderer, Morph::blank(64, 64), out, 0.5f, 1.0f));
  EXPECT_EQ(renderer->lastGPUTime(), 0.0);
}

TEST_F(MetalCursorRendererTest, DeviceAndCPUAgreeOnRandomFieldsAndColours) {
  auto renderer = prepared();
  REQUIRE_DEVICE(renderer);
  std::mt19937 random(20240611);
  const std::pair<int32_t, int32_t> sizes[] = {{2, 9}, {7, 3}, {37, 23}, {64, 64}, {3, 200}};
  for (const auto& [width, height] : sizes) {
    const Morph m = randomMorph(width, height, random);
    for (float progress : {0.0f, 0.3f, 0.5f, 0.77f, 1.0f}) {
      for (float scale : {1.0f, 2.0f}) expectAgreement(*renderer, m, progress, scale);
    }
  }
}

TEST_F(MetalCursorRendererTest, DeviceAndCPUAgreeOnDrawnShapes) {
  auto renderer = prepared();
  REQUIRE_DEVICE(renderer);
  for (const auto& [width, height] : {std::pair{96, 80}, std::pair{512, 512}}) {
    const Morph m = discToRectangle(width, height);
    for (float progress : {0.0f, 0.1f, 0.5f, 0.9f, 1.0f}) expectAgreement(*renderer, m, progress, 2.0f);
  }
}

}  // namespace
}  // namespace vurle
