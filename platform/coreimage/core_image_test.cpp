#include "platform/coreimage/core_image.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "platform/coreimage/test_images.hpp"
#include "platform/graphics/gaussian_blur.hpp"

namespace platform {
namespace {

using testing::Pixel;

class CoreImageTest : public ::testing::Test {
 protected:
  void SetUp() override { CoreImageFaults::reset(); }
  void TearDown() override { CoreImageFaults::reset(); }

  // A picture with a different value in every pixel, opaque.
  static CIImage pattern(int width, int height) {
    return CIImage::imageWithCGImage(testing::makeImage(
        width, height, [](int x, int y) { return Pixel{(x * 37 + y * 11) % 256, (x * 5 + y * 53) % 256, (x * y * 7) % 256, 255}; }));
  }
  static Pixel patternAt(int x, int yFromTop) {
    return Pixel{(x * 37 + yFromTop * 11) % 256, (x * 5 + yFromTop * 53) % 256, (x * yFromTop * 7) % 256, 255};
  }
  CGImageRef render(const CIImage& image, CGRect rect) { return context_->createCGImage(image, rect); }
  std::shared_ptr<CIContext> context_ = CIContext::contextWithOptions({{kCIContextCacheIntermediates, false}});
};

void expectNear(const Pixel& got, const Pixel& want, int tolerance, const std::string& what) {
  for (int c = 0; c < 4; ++c) EXPECT_NEAR(got[size_t(c)], want[size_t(c)], tolerance) << what << " channel " << c;
}

TEST_F(CoreImageTest, RecipesPlaceClampAndCropAsTheirExtentsSay) {
  const CIImage base = pattern(4, 3);
  struct Case {
    const char* what;
    CIImage image;
    CGRect extent;
  };
  const Case cases[] = {
      {"bitmap", base, CGRectMake(0, 0, 4, 3)},
      {"scaled", base.imageByApplyingTransform(CGAffineTransformMakeScale(2, 3)), CGRectMake(0, 0, 8, 9)},
      {"moved", base.imageByApplyingTransform(CGAffineTransformMakeTranslation(5, -2)), CGRectMake(5, -2, 4, 3)},
      {"clamped", base.imageByClampingToExtent(), CGRectInfinite},
      {"cropped", base.imageByCroppingToRect(CGRectMake(1, 1, 10, 10)), CGRectMake(1, 1, 3, 2)},
      {"clamped then cropped", base.imageByClampingToExtent().imageByCroppingToRect(CGRectMake(-2, -2, 3, 3)),
       CGRectMake(-2, -2, 3, 3)},
      {"empty", CIImage::emptyImage(), CGRectNull},
      {"null bitmap", CIImage::imageWithCGImage(nullptr), CGRectNull},
  };
  for (const auto& c : cases) EXPECT_EQ(c.image.extent(), c.extent) << c.what;

  // Pixels: y from the bottom in recipes, rows from the top in pictures.
  const auto moved = render(base.imageByApplyingTransform(CGAffineTransformMakeTranslation(1, 0)), CGRectMake(0, 0, 5, 3));
  ASSERT_TRUE(moved);
  EXPECT_EQ(testing::pixelAt(moved, 0, 0), (Pixel{0, 0, 0, 0})) << "clear beyond the extent";
  for (int x = 0; x < 4; ++x)
    for (int y = 0; y < 3; ++y) EXPECT_EQ(testing::pixelAt(moved, x + 1, y), patternAt(x, y)) << x << "," << y;

  // Clamping extends the edge pixels without end; cropping keeps centres.
  const auto clamped = render(base.imageByClampingToExtent(), CGRectMake(-3, -3, 10, 9));
  ASSERT_TRUE(clamped);
  EXPECT_EQ(testing::pixelAt(clamped, 0, 0), patternAt(0, 0)) << "above and left";
  EXPECT_EQ(testing::pixelAt(clamped, 9, 8), patternAt(3, 2)) << "below and right";
  EXPECT_EQ(testing::pixelAt(clamped, 5, 4), patternAt(2, 1)) << "inside";
  const auto cropped = render(base.imageByCroppingToRect(CGRectMake(0.6, 0, 2, 3)), CGRectMake(0, 0, 4, 3));
  EXPECT_EQ(testing::pixelAt(cropped, 0, 1)[3], 0) << "centre 0.5 lies outside";
  EXPECT_EQ(testing::pixelAt(cropped, 1, 1), patternAt(1, 1));
  EXPECT_EQ(testing::pixelAt(cropped, 2, 1), patternAt(2, 1));
  EXPECT_EQ(testing::pixelAt(cropped, 3, 1)[3], 0) << "centre 3.5 lies outside";

  // A doubled image takes every pixel's value at the centres that fall on
  // the source's, and the mean of two neighbours halfway between them.
  const CIImage ramp = CIImage::imageWithCGImage(testing::makeImage(3, 1, [](int x, int) { return Pixel{x * 100, 0, 0, 255}; }));
  const auto wide = render(ramp.imageByApplyingTransform(CGAffineTransformMakeScale(2, 1)), CGRectMake(0, 0, 6, 1));
  const int reds[] = {0, 25, 75, 125, 175, 200};
  for (int x = 0; x < 6; ++x) EXPECT_NEAR(testing::pixelAt(wide, x, 0)[0], reds[x], 1) << x;
}

TEST_F(CoreImageTest, TheGradientRunsFromItsFirstPointWithTheFullColourInTheFirstRow) {
  auto gradient = CIFilter::filterWithName("CILinearGradient");
  ASSERT_TRUE(gradient);
  gradient->setValue(CIVector::vectorWithX(0, 10), "inputPoint0");
  gradient->setValue(CIVector::vectorWithX(0, 6), "inputPoint1");
  gradient->setValue(CIColor::whiteColor(), "inputColor0");
  gradient->setValue(CIColor::blackColor(), "inputColor1");
  const auto out = gradient->outputImage();
  ASSERT_TRUE(out);
  EXPECT_TRUE(CGRectIsInfinite(out->extent()));
  const auto picture = render(*out, CGRectMake(0, 0, 2, 10));
  // Row r from the top is evaluated at y = 10 − r: value 1 − r / 4.
  for (int row = 0; row < 10; ++row) {
    const int want = int(std::lround(std::max(0.0, 1.0 - row / 4.0) * 255));
    EXPECT_EQ(testing::pixelAt(picture, 1, row), (Pixel{want, want, want, 255})) << "row " << row;
  }
}

// The input blurred by hand: clamped, over a margin, through the one blur.
std::vector<float> referenceBlur(const CIImage& input, std::shared_ptr<CIContext> context, int w, int h, double sigma) {
  const int reach = gaussianReach(sigma) + 2;
  const auto wide = context->createCGImage(input.imageByClampingToExtent(),
                                           CGRectMake(-reach, -reach, w + 2 * reach, h + 2 * reach));
  const int ww = w + 2 * reach, wh = h + 2 * reach;
  std::vector<float> buffer(size_t(ww) * wh * 4);
  for (int y = 0; y < wh; ++y)
    for (int x = 0; x < ww; ++x)
      for (int c = 0; c < 4; ++c) buffer[(size_t(y) * ww + x) * 4 + c] = float(testing::pixelAt(wide, x, y)[size_t(c)]);
  gaussianBlur(buffer.data(), ww, wh, 4, sigma, sigma);
  std::vector<float> out(size_t(w) * h * 4);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < 4; ++c) out[(size_t(y) * w + x) * 4 + c] = buffer[(size_t(y + reach) * ww + x + reach) * 4 + c];
  return out;
}

TEST_F(CoreImageTest, TheMaskedBlurBlendsBetweenTheQuarterSteps) {
  const int w = 20, h = 14;
  const double radius = 4;
  const CIImage input = pattern(w, h).imageByClampingToExtent().imageByCroppingToRect(CGRectMake(0, 0, w, h));
  std::vector<std::vector<float>> steps;  // 0, ¼, ½, ¾, full
  for (int k = 0; k <= 4; ++k) steps.push_back(k == 0 ? referenceBlur(input, context_, w, h, 1e-9)
                                                      : referenceBlur(input, context_, w, h, radius * k / 4));
  struct Case {
    int maskLevel;  // of 255
    int lower;
    double within;  // how far from step `lower` to the next
  };
  const Case cases[] = {{0, 0, 0}, {255, 3, 1}, {128, 2, 4 * 128 / 255.0 - 2}, {64, 1, 4 * 64 / 255.0 - 1},
                        {160, 2, 4 * 160 / 255.0 - 2}, {32, 0, 4 * 32 / 255.0}, {223, 3, 4 * 223 / 255.0 - 3}};
  for (const auto& c : cases) {
    const CIImage mask = CIImage::imageWithCGImage(
        testing::makeImage(w, h, [&](int, int) { return Pixel{c.maskLevel, c.maskLevel, c.maskLevel, 255}; }));
    auto blur = CIFilter::filterWithName("CIMaskedVariableBlur");
    blur->setValue(input.imageByClampingToExtent(), kCIInputImageKey);
    blur->setValue(mask, "inputMask");
    blur->setValue(radius, "inputRadius");
    const auto out = blur->outputImage();
    ASSERT_TRUE(out);
    const auto picture = render(*out, CGRectMake(0, 0, w, h));
    for (int y = 0; y < h; y += 3)
      for (int x = 0; x < w; x += 3)
        for (int ch = 0; ch < 3; ++ch) {
          const size_t i = (size_t(y) * w + x) * 4 + ch;
          const double want = steps[size_t(c.lower)][i] +
                              (steps[size_t(c.lower) + 1][i] - steps[size_t(c.lower)][i]) * c.within;
          ASSERT_NEAR(testing::pixelAt(picture, x, y)[size_t(ch)], want, 1.6)
              << "mask " << c.maskLevel << " at " << x << "," << y << " channel " << ch;
        }
  }
}

TEST_F(CoreImageTest, TheColumnAverageIsTheExactMeanAndTheMatrixAndBlendWorkOnTheirInputs) {
  const int w = 5, h = 7;
  const CIImage input = pattern(w, h);
  auto average = CIFilter::filterWithName("CIColumnAverage");
  average->setValue(input, kCIInputImageKey);
  average->setValue(CIVector::vectorWithX(0, 2, w, 4), "inputExtent");
  const auto row = average->outputImage();
  ASSERT_TRUE(row);
  EXPECT_EQ(row->extent(), CGRectMake(0, 2, w, 1));
  const auto picture = render(*row, CGRectMake(0, 2, w, 1));
  for (int x = 0; x < w; ++x)
    for (int c = 0; c < 3; ++c) {
      double sum = 0;
      // Rows y = 2 ... 5 from the bottom are rows h − 1 − y from the top.
      for (int y = 2; y < 6; ++y) sum += patternAt(x, h - 1 - y)[size_t(c)];
      EXPECT_NEAR(testing::pixelAt(picture, x, 0)[size_t(c)], sum / 4, 0.5) << x << " channel " << c;
    }

  auto matrix = CIFilter::filterWithName("CIColorMatrix");
  matrix->setValue(input, kCIInputImageKey);
  matrix->setValue(CIVector::vectorWithX(0.5, 0, 0, 0), "inputRVector");
  matrix->setValue(CIVector::vectorWithX(0, 0, 1, 0), "inputGVector");
  matrix->setValue(CIVector::vectorWithX(0, 0, 0, 0), "inputBVector");
  matrix->setValue(CIVector::vectorWithX(0.2, 0, 0.4, 0), "inputBiasVector");
  const auto tinted = render(*matrix->outputImage(), CGRectMake(0, 0, w, h));
  for (int x = 0; x < w; ++x) {
    const Pixel p = patternAt(x, 3);
    const Pixel want{int(std::lround(p[0] * 0.5 + 51)), p[2], 102, 255};
    expectNear(testing::pixelAt(tinted, x, 3), want, 1, "matrix at " + std::to_string(x));
  }

  const CIImage white = CIImage::imageWithCGImage(testing::makeImage(w, h, [](int, int) { return Pixel{255, 255, 255, 255}; }));
  const CIImage mask = CIImage::imageWithCGImage(testing::makeImage(w, h, [](int x, int) { return Pixel{x * 60, x * 60, x * 60, 255}; }));
  auto blend = CIFilter::filterWithName("CIBlendWithMask");
  blend->setValue(white, kCIInputImageKey);
  blend->setValue(input, "inputBackgroundImage");
  blend->setValue(mask, "inputMaskImage");
  const auto blended = render(*blend->outputImage(), CGRectMake(0, 0, w, h));
  for (int x = 0; x < w; ++x) {
    const double m = x * 60 / 255.0;
    const Pixel p = patternAt(x, 2);
    const Pixel want{int(std::lround(255 * m + p[0] * (1 - m))), int(std::lround(255 * m + p[1] * (1 - m))),
                     int(std::lround(255 * m + p[2] * (1 - m))), 255};
    expectNear(testing::pixelAt(blended, x, 2), want, 1, "blend at " + std::to_string(x));
  }
}

TEST_F(CoreImageTest, EachFilterCanGiveNothing) {
  EXPECT_FALSE(CIFilter::filterWithName("CIGaussianBlur"));
  const CIImage input = pattern(4, 4);
  for (const std::string name :
       {"CILinearGradient", "CIMaskedVariableBlur", "CIColumnAverage", "CIColorMatrix", "CIBlendWithMask"}) {
    auto filter = CIFilter::filterWithName(name);
    ASSERT_TRUE(filter) << name;
    if (name != "CILinearGradient") {
      EXPECT_FALSE(filter->outputImage()) << name << " without its input image";
      filter->setValue(input, kCIInputImageKey);
    }
    filter->setValue(input, "inputMask");
    filter->setValue(input, "inputBackgroundImage");
    filter->setValue(input, "inputMaskImage");
    EXPECT_TRUE(filter->outputImage()) << name;
    CoreImageFaults::failNextOutput(name);
    EXPECT_FALSE(filter->outputImage()) << name << " with a fault pending";
    EXPECT_TRUE(filter->outputImage()) << name << " once the fault is spent";
  }
  auto blur = CIFilter::filterWithName("CIMaskedVariableBlur");
  blur->setValue(input, kCIInputImageKey);
  blur->setValue(-1.0, "inputRadius");
  blur->setValue(input, "inputMask");
  EXPECT_FALSE(blur->outputImage()) << "a negative radius";
  auto average = CIFilter::filterWithName("CIColumnAverage");
  average->setValue(input, kCIInputImageKey);
  average->setValue(CIVector::vectorWithX(0, 0, 0, 4), "inputExtent");
  EXPECT_FALSE(average->outputImage()) << "an empty extent";
}

TEST_F(CoreImageTest, ARenderIsRefusedOverNothingOverTheSideLimitOrWhenTheContextFails) {
  const CIImage input = pattern(4, 4).imageByClampingToExtent();
  struct Case {
    CGRect rect;
    bool made;
  };
  const Case cases[] = {{CGRectMake(0, 0, 4, 4), true},    {CGRectMake(0, 0, 0, 4), false},
                        {CGRectNull, false},                {CGRectInfinite, false},
                        {CGRectMake(0, 0, 16384, 1), true}, {CGRectMake(0, 0, 16385, 1), false},
                        {CGRectMake(0.5, 0, 2, 2), true}};
  int made = 0;
  for (const auto& c : cases) {
    const auto picture = render(input, c.rect);
    EXPECT_EQ(picture != nullptr, c.made) << c.rect.size.width << "x" << c.rect.size.height;
    made += c.made;
  }
  EXPECT_EQ(CGImageGetWidth(render(input, CGRectMake(0.5, 0, 2, 2))), 3u) << "made integral outwards";
  ++made;
  EXPECT_EQ(context_->renderCount(), made);
  CoreImageFaults::failNextRender();
  EXPECT_FALSE(render(input, CGRectMake(0, 0, 4, 4)));
  EXPECT_TRUE(render(input, CGRectMake(0, 0, 4, 4)));
  EXPECT_FALSE(context_->cachesIntermediates());
}

}  // namespace
}  // namespace platform
