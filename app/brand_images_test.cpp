#include "app/brand_images.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "platform/bundle/bundle.hpp"
#include "platform/foundation/process_wide.hpp"

namespace vurle {
namespace {

namespace fs = std::filesystem;
using namespace platform;

class BrandImagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetProcessState();
    fs::remove_all(root);
    fs::create_directories(root / "Resources");
    NSBundle::setMainBundlePath(root);
  }
  void TearDown() override {
    fs::remove_all(root);
    resetProcessState();
  }
  void resource(const std::string& name, const std::string& text) {
    std::ofstream(root / "Resources" / (name + ".svg"), std::ios::binary) << text;
  }
  const fs::path root = fs::temp_directory_path() / ("vurle-brand-" + std::to_string(::getpid()));
};

// The left half black: columns 0 ... 17 of 36.
const std::string kMark =
    R"(<svg xmlns="http://www.w3.org/2000/svg" width="36" height="24" viewBox="0 0 36 24">)"
    R"(<rect x="0" y="0" width="18" height="24" fill="#000"/></svg>)";

std::array<uint8_t, 4> pixel(const CGImageRef& image, size_t x, size_t y) {
  const auto& p = image->params();
  const uint8_t* at = p.provider->data()->data() + y * p.bytesPerRow + 4 * x;
  return {at[0], at[1], at[2], at[3]};
}

TEST_F(BrandImagesTest, TheStatusMarkIsEighteenPointsOnItsLargerSideDrawnFromItsVectorAtThePicturesScale) {
  resource("vurle-mark", kMark);
  auto mark = statusMarkImage();
  EXPECT_EQ(mark->size(), NSMakeSize(18, 12)) << "a 36 × 24 mark at 18 × 12";
  EXPECT_TRUE(mark->isTemplate());
  EXPECT_EQ(mark->accessibilityDescription(), "vurle");
  EXPECT_EQ(statusMarkImage(), mark) << "made once";

  // Drawn into a picture at 3 pixels a point: 54 × 36 pixels rendered from
  // the vector, its edge exactly at column 27.
  auto rep = NSBitmapImageRep::make(nullptr, 54, 36, 8, 4, true, false, NSDeviceRGBColorSpace, 4 * 54, 32);
  rep->setSize(NSMakeSize(18, 12));
  auto context = NSGraphicsContext::graphicsContextWithBitmapImageRep(rep);
  CGImageRef picture = mark->CGImageForProposedRect(nullptr, context, nullptr);
  ASSERT_TRUE(picture);
  EXPECT_EQ(CGImageGetWidth(picture), 54u);
  EXPECT_EQ(CGImageGetHeight(picture), 36u);
  for (size_t y : {0u, 35u}) {
    EXPECT_EQ(pixel(picture, 0, y), (std::array<uint8_t, 4>{0, 0, 0, 255}));
    EXPECT_EQ(pixel(picture, 26, y), (std::array<uint8_t, 4>{0, 0, 0, 255}));
    EXPECT_EQ(pixel(picture, 27, y), (std::array<uint8_t, 4>{0, 0, 0, 0}));
  }

  resource("vurle-logo", R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 128 64"/>)");
  auto logo = logoImage();
  EXPECT_EQ(logo->size(), NSMakeSize(128, 64)) << "no width or height: the viewBox";
  EXPECT_TRUE(logo->isTemplate());

  // Whichever side is larger becomes 18 points, up or down.
  for (const auto& [document, size] : std::vector<std::pair<NSSize, NSSize>>{{{24, 36}, {12, 18}}, {{9, 6}, {18, 12}}}) {
    resetProcessState();
    NSBundle::setMainBundlePath(root);
    resource("vurle-mark", R"(<svg xmlns="http://www.w3.org/2000/svg" width=")" + std::to_string(int(document.width)) +
                               R"(" height=")" + std::to_string(int(document.height)) + R"("/>)");
    EXPECT_EQ(statusMarkImage()->size(), size) << document.width << " × " << document.height;
  }
}

TEST_F(BrandImagesTest, ADocumentsSizeOrAnEmptyImageForEveryFileThatCannotServe) {
  const std::string head = R"(<svg xmlns="http://www.w3.org/2000/svg" width="36" height="24">)";
  // A valid document of exactly n bytes.
  auto ofLength = [&](size_t n) {
    const std::string tail = "</svg>";
    std::string padding = "<!--";
    const size_t fixed = head.size() + tail.size() + 4 + 3;
    padding += std::string(n - fixed, 'x') + "-->";
    return head + padding + tail;
  };
  struct Case {
    const char* what;
    std::optional<std::string> document;  // none: no file
    NSSize size;
  };
  const std::vector<Case> cases{
      {"width and height", head + "</svg>", {36, 24}},
      {"width and height over the viewBox",
       R"(<svg xmlns="http://www.w3.org/2000/svg" width="36" height="24" viewBox="0 0 72 48"/>)", {36, 24}},
      {"relative sizes: the viewBox",
       R"(<svg xmlns="http://www.w3.org/2000/svg" width="100%" height="100%" viewBox="0 0 72 48"/>)", {72, 48}},
      {"exactly 1 MiB", ofLength(1 << 20), {36, 24}},
      {"one byte over 1 MiB", ofLength((1 << 20) + 1), {0, 0}},
      {"missing", std::nullopt, {0, 0}},
      {"not a document", std::string("vurle"), {0, 0}},
      {"empty", std::string(), {0, 0}},
      {"no size at all", std::string(R"(<svg xmlns="http://www.w3.org/2000/svg"/>)"), {0, 0}},
      {"a negative viewBox",
       std::string(R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 -36 24"/>)"), {0, 0}},
      {"a width beyond any number",
       std::string(R"(<svg xmlns="http://www.w3.org/2000/svg" width="1e308in" height="24in"/>)"), {0, 0}},
      {"a negative width", std::string(R"(<svg xmlns="http://www.w3.org/2000/svg" width="-36" height="24"/>)"), {0, 0}},
  };
  for (const auto& c : cases) {
    fs::remove(root / "Resources" / "probe.svg");
    if (c.document) resource("probe", *c.document);
    auto image = loadBundleSVG("probe");
    ASSERT_TRUE(image) << c.what << ": an image, never a failure";
    EXPECT_EQ(image->size(), c.size) << c.what;
    EXPECT_EQ(image->representations().empty(), c.size == NSZeroSize) << c.what << ": the empty image draws nothing";
  }
}

TEST_F(BrandImagesTest, AMissingMarkIsAnEmptyTemplateOfNoSize) {
  auto mark = statusMarkImage();
  EXPECT_EQ(mark->size(), NSZeroSize);
  EXPECT_TRUE(mark->representations().empty());
  EXPECT_TRUE(mark->isTemplate());
  EXPECT_EQ(logoImage()->size(), NSZeroSize);
}

}  // namespace
}  // namespace vurle
