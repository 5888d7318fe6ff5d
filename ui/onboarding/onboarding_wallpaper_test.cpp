#include "ui/onboarding/onboarding_wallpaper.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>

#include "platform/appkit/appearance.hpp"
#include "platform/appkit/screen.hpp"
#include "platform/appkit/window.hpp"
#include "platform/coreimage/test_images.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/foundation/file_manager.hpp"
#include "platform/foundation/process_info.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/graphics/appkit_image.hpp"

namespace vurle {
namespace {

namespace fs = std::filesystem;
using namespace platform;
using platform::testing::Pixel;
using RenderKey = OnboardingWallpaperView::RenderKey;

const std::string kExtensions = "/System/Library/ExtensionKit/Extensions";

class OnboardingWallpaperTest : public ::testing::Test {
 public:
  void SetUp() override {
    resetProcessState();
    CoreImageFaults::reset();
    root_ = fs::temp_directory_path() / ("vurle-backdrop-" + std::to_string(::getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_ / kExtensions.substr(1));
    setSystemRoot(root_);
  }
  void TearDown() override {
    CoreImageFaults::reset();
    fs::remove_all(root_);
    resetProcessState();
  }

  fs::path host(const std::string& systemPath) const { return root_ / systemPath.substr(1); }
  void write(const std::string& systemPath, const std::string& bytes) const {
    fs::create_directories(host(systemPath).parent_path());
    std::ofstream(host(systemPath), std::ios::binary) << bytes;
  }
  static std::string plist(const std::string& minimumValue) {
    return "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>LSMinimumSystemVersion</key>" + minimumValue +
           "</dict></plist>";
  }
  // An extension folder: its manifest, Info.plist and the two pictures'
  // files (any bytes: the locator only asks whether they exist).
  void extension(const std::string& folder, const std::string& identifier, const std::string& minimum) const {
    const std::string base = kExtensions + "/" + folder + "/Contents";
    write(base + "/Resources/manifest.json", "{\"identifier\": \"" + identifier + "\"}");
    write(base + "/Info.plist", plist("<string>" + minimum + "</string>"));
    write(base + "/Resources/" + identifier + "Light.heic", "light");
    write(base + "/Resources/" + identifier + "Dark.heic", "dark");
  }
  static std::string found(bool dark, int version) {
    const auto result = OnboardingReleaseWallpaper::wallpaper({dark, version});
    return result.url ? result.url->path() : std::string("none");
  }
  // A wallpaper picture as the extension's light and dark files.
  void wallpaperPicture(int width, int height, const platform::testing::Painter& paint) const {
    const std::string base = kExtensions + "/WallpaperTestExtension.appex/Contents";
    write(base + "/Resources/manifest.json", R"({"identifier": "Test"})");
    write(base + "/Info.plist", plist("<string>14.0</string>"));
    for (const char* name : {"/Resources/TestLight.heic", "/Resources/TestDark.heic"})
      ASSERT_TRUE(platform::testing::writePNGFile(host(base + name).string(), width, height, paint));
  }

  fs::path root_;
  SimulatedSchedulerScope scope_;
};

// ---- the locator ----------------------------------------------------------

TEST_F(OnboardingWallpaperTest, TheLocatorTakesTheGreatestUsableMinimumVersionThenTheFallbacks) {
  const std::string sonoma = "/System/Library/Desktop Pictures/Sonoma.heic";
  const std::string thumbnailDark =
      kExtensions + "/WallpaperSequoiaExtension.appex/Contents/Resources/thumbnail dark.heic";
  const std::string defaultDesktop = "/System/Library/CoreServices/DefaultDesktop.heic";
  struct Case {
    const char* what;
    std::function<void(OnboardingWallpaperTest&)> lay;
    bool dark;
    int version;
    std::string expected;
  };
  auto res = [](const std::string& folder, const std::string& file) {
    return kExtensions + "/" + folder + "/Contents/Resources/" + file;
  };
  const Case cases[] = {
      {"15 against 26 on 26",
       [](auto& t) {
         t.extension("WallpaperSequoia.appex", "Sequoia", "15.0");
         t.extension("WallpaperTahoe.appex", "Tahoe", "26.0");
       },
       true, 26, res("WallpaperTahoe.appex", "TahoeDark.heic")},
      {"15 against 26 on 25",
       [](auto& t) {
         t.extension("WallpaperSequoia.appex", "Sequoia", "15.0");
         t.extension("WallpaperTahoe.appex", "Tahoe", "26.0");
       },
       false, 25, res("WallpaperSequoia.appex", "SequoiaLight.heic")},
      {"from 15 on, on 15", [](auto& t) { t.extension("WallpaperSequoia.appex", "Sequoia", "15.0"); }, false, 15,
       res("WallpaperSequoia.appex", "SequoiaLight.heic")},
      {"14 with the Sonoma picture",
       [&](auto& t) {
         t.extension("WallpaperSequoia.appex", "Sequoia", "15.0");
         t.write(sonoma, "x");
         t.write(defaultDesktop, "x");
       },
       false, 14, sonoma},
      {"14 with the default desktop only",
       [&](auto& t) {
         t.extension("WallpaperSequoia.appex", "Sequoia", "15.0");
         t.write(defaultDesktop, "x");
       },
       false, 14, defaultDesktop},
      {"14 without fallbacks", [](auto& t) { t.extension("WallpaperSequoia.appex", "Sequoia", "15.0"); }, true, 14,
       "none"},
      {"15 without candidates takes the thumbnail", [&](auto& t) { t.write(thumbnailDark, "x"); }, true, 15,
       thumbnailDark},
      {"the name needs wallpaper, in any case",
       [](auto& t) {
         t.extension("Backdrop.appex", "Backdrop", "14");
         t.extension("MyWALLPAPERs.appex", "Mine", "14");
       },
       false, 26, res("MyWALLPAPERs.appex", "MineLight.heic")},
      {"manifest missing",
       [](auto& t) {
         t.extension("WallpaperA.appex", "A", "14");
         fs::remove(t.host(kExtensions + "/WallpaperA.appex/Contents/Resources/manifest.json"));
       },
       false, 26, "none"},
      {"manifest not a dictionary",
       [](auto& t) {
         t.extension("WallpaperA.appex", "A", "14");
         t.write(kExtensions + "/WallpaperA.appex/Contents/Resources/manifest.json", R"(["A"])");
       },
       false, 26, "none"},
      {"identifier not a string",
       [](auto& t) {
         t.extension("WallpaperA.appex", "A", "14");
         t.write(kExtensions + "/WallpaperA.appex/Contents/Resources/manifest.json", R"({"identifier": 7})");
       },
       false, 26, "none"},
      {"manifest over 64 KiB",
       [](auto& t) {
         t.extension("WallpaperA.appex", "A", "14");
         t.write(kExtensions + "/WallpaperA.appex/Contents/Resources/manifest.json",
                 R"({"identifier": "A"})" + std::string(64 * 1024, ' '));
       },
       false, 26, "none"},
      {"manifest of exactly 64 KiB",
       [](auto& t) {
         t.extension("WallpaperA.appex", "A", "14");
         const std::string body = R"({"identifier": "A"})";
         t.write(kExtensions + "/WallpaperA.appex/Contents/Resources/manifest.json",
                 body + std::string(64 * 1024 - body.size(), ' '));
       },
       false, 26, res("WallpaperA.appex", "ALight.heic")},
      {"Info.plist missing",
       [](auto& t) {
         t.extension("WallpaperA.appex", "A", "14");
         fs::remove(t.host(kExtensions + "/WallpaperA.appex/Contents/Info.plist"));
       },
       false, 26, "none"},
      {"Info.plist over 256 KiB",
       [](auto& t) {
         t.extension("WallpaperA.appex", "A", "14");
         t.write(kExtensions + "/WallpaperA.appex/Contents/Info.plist",
                 plist("<string>14</string>") + std::string(256 * 1024, ' '));
       },
       false, 26, "none"},
      {"minimum version not a string",
       [](auto& t) {
         t.extension("WallpaperA.appex", "A", "14");
         t.write(kExtensions + "/WallpaperA.appex/Contents/Info.plist", plist("<integer>14</integer>"));
       },
       false, 26, "none"},
      {"minimum version not a number", [](auto& t) { t.extension("WallpaperA.appex", "A", "fifteen"); }, false, 26,
       "none"},
      {"minimum version with trailing letters", [](auto& t) { t.extension("WallpaperA.appex", "A", "15a.0"); }, false,
       26, "none"},
      {"empty pieces dropped, a sign taken",
       [](auto& t) {
         t.extension("WallpaperA.appex", "A", "..+20.1");
         t.extension("WallpaperB.appex", "B", "19.9");
       },
       false, 26, res("WallpaperA.appex", "ALight.heic")},
      {"minimum version above the running one", [](auto& t) { t.extension("WallpaperA.appex", "A", "27"); }, false, 26,
       "none"},
      {"the appearance's file missing",
       [](auto& t) {
         t.extension("WallpaperA.appex", "A", "14");
         fs::remove(t.host(kExtensions + "/WallpaperA.appex/Contents/Resources/ADark.heic"));
       },
       true, 26, "none"},
  };
  for (const auto& c : cases) {
    resetProcessState();
    fs::remove_all(root_);
    fs::create_directories(host(kExtensions));
    setSystemRoot(root_);
    c.lay(*this);
    EXPECT_EQ(found(c.dark, c.version), c.expected) << c.what;
  }
}

TEST_F(OnboardingWallpaperTest, TiesGoToTheEarliestListedAndAnswersAreKeptNoneIncluded) {
  extension("WallpaperOne.appex", "One", "15.0");
  extension("WallpaperTwo.appex", "Two", "15.2");
  const auto listed = NSFileManager::defaultManager().contentsOfDirectoryAtURL(NSURL::fileURLWithPath(kExtensions));
  ASSERT_TRUE(listed && listed->size() == 2);
  const std::string first = (*listed)[0].path();
  const std::string identifier = first.find("One") != std::string::npos ? "One" : "Two";
  EXPECT_EQ(found(false, 26), first + "/Contents/Resources/" + identifier + "Light.heic");

  // The listing fails: an empty list, so the fallbacks; the "none" found
  // is kept even once a wallpaper appears.
  FileManagerFaults::failNextListing();
  EXPECT_EQ(found(true, 26), "none");
  EXPECT_EQ(OnboardingReleaseWallpaper::searchCount(), 2);
  EXPECT_EQ(found(true, 26), "none");
  EXPECT_EQ(found(false, 26), first + "/Contents/Resources/" + identifier + "Light.heic");
  EXPECT_EQ(OnboardingReleaseWallpaper::searchCount(), 2) << "both answers came from the cache";
  FileManagerFaults::reset();
}

// ---- the band and the placement --------------------------------------------

// A 400 × 300 picture: columns left of 300 in A, the rest in B.
const Pixel A{200, 40, 40, 255}, B{30, 60, 220, 255};

Pixel tinted(const Pixel& p, bool dark) {
  const double s = dark ? 0.74 : 0.78, c = dark ? 0 : 0.22;
  return {int(std::lround(p[0] * s + 255 * c)), int(std::lround(p[1] * s + 255 * c)),
          int(std::lround(p[2] * s + 255 * c)), 255};
}

Pixel mixed(const Pixel& a, const Pixel& b, double m) {
  return {int(std::lround(a[0] * m + b[0] * (1 - m))), int(std::lround(a[1] * m + b[1] * (1 - m))),
          int(std::lround(a[2] * m + b[2] * (1 - m))), 255};
}

bool near(const Pixel& a, const Pixel& b, int tolerance) {
  for (int c = 0; c < 4; ++c)
    if (std::abs(a[size_t(c)] - b[size_t(c)]) > tolerance) return false;
  return true;
}

std::string text(const Pixel& p) {
  return std::string("(") + std::to_string(p[0]) + "," + std::to_string(p[1]) + "," + std::to_string(p[2]) + "," +
         std::to_string(p[3]) + ")";
}

TEST_F(OnboardingWallpaperTest, TheWallpaperFillsTheDesktopAndTheBandFadesFromTheTintedAverages) {
  wallpaperPicture(400, 300, [](int x, int) { return x < 300 ? A : B; });
  struct Case {
    bool dark;
    double scale;
  };
  for (const Case c : {Case{false, 1}, Case{true, 1}, Case{false, 2}, Case{true, 2}}) {
    // A 240 × 150 point desktop: f = max(150 / 300, 240 / 400) = 0.6, so
    // the picture is placed 240 × 180 at x = −160 for an 80 point wide
    // view: its column 300 lands on view column 300 × 0.6 − 160 = 20.
    const RenderKey key{{80, 120}, {240, 150}, c.scale, c.dark};
    const CGImageRef picture = OnboardingWallpaperView::renderBackdrop(key);
    ASSERT_TRUE(picture);
    const std::string what = std::string(c.dark ? "dark" : "light") + " ×" + std::to_string(int(c.scale));
    ASSERT_EQ(CGImageGetWidth(picture), size_t(80 * c.scale)) << what;
    ASSERT_EQ(CGImageGetHeight(picture), size_t(120 * c.scale)) << what;
    const int split = int(20 * c.scale), band = int(66 * c.scale), bottom = int(120 * c.scale) - 1;
    // Beside the split a scaled picture mixes its two neighbours; one pixel
    // further on each side is pure.
    auto closer = [](const Pixel& p, const Pixel& to, const Pixel& from) {
      return std::abs(p[0] - to[0]) + std::abs(p[2] - to[2]) < std::abs(p[0] - from[0]) + std::abs(p[2] - from[2]);
    };
    // The top row: the column averages, tinted, on either side of the split.
    EXPECT_TRUE(near(platform::testing::pixelAt(picture, 2, 0), tinted(A, c.dark), 1)) << what;
    EXPECT_TRUE(near(platform::testing::pixelAt(picture, split - 2, 0), tinted(A, c.dark), 1)) << what;
    EXPECT_TRUE(near(platform::testing::pixelAt(picture, split + 1, 0), tinted(B, c.dark), 1)) << what;
    // From b rows down: the wallpaper itself, split at the computed column.
    for (const int row : {band, band + 7, bottom}) {
      EXPECT_EQ(platform::testing::pixelAt(picture, split - 2, row), A) << what << " row " << row;
      EXPECT_EQ(platform::testing::pixelAt(picture, split + 1, row), B) << what << " row " << row;
      EXPECT_TRUE(closer(platform::testing::pixelAt(picture, split - 1, row), A, B)) << what << " row " << row;
      EXPECT_TRUE(closer(platform::testing::pixelAt(picture, split, row), B, A)) << what << " row " << row;
    }
    // Halfway down the band the mask is 1 − r / b and the wallpaper under
    // it blurred: across the split the colours mix.
    const int mid = band / 2;
    const double m = 1 - double(mid) / band;
    const Pixel sharp = mixed(tinted(A, c.dark), A, m);
    EXPECT_TRUE(near(platform::testing::pixelAt(picture, 2, mid), sharp, 2))
        << what << ": far from the split " << text(platform::testing::pixelAt(picture, 2, mid));
    EXPECT_FALSE(near(platform::testing::pixelAt(picture, split - 2, mid), sharp, 6)) << what << ": blurred at the split";
  }
  // Part pixels round up to whole ones.
  const CGImageRef part = OnboardingWallpaperView::renderBackdrop({{80.25, 60.5}, {240, 150}, 2, false});
  ASSERT_TRUE(part);
  EXPECT_EQ(CGImageGetWidth(part), 161u);
  EXPECT_EQ(CGImageGetHeight(part), 121u);
}

TEST_F(OnboardingWallpaperTest, AWallpaperLargerThanTheDesktopIsReadAtTheSizeItFillsItWith) {
  // A 240 × 150 point desktop; the test above places a reduced picture too
  // (400 × 300 read as 240 × 180 at scale 1).
  struct Case {
    int width, height;
    double scale;
    CGSize read;
  };
  const Case cases[] = {
      {2000, 1000, 2, {600, 300}},  // f = max(300 / 1000, 480 / 2000) = 0.3
      {2000, 1000, 1, {300, 150}},  // f = 0.15
      {1000, 2000, 2, {480, 960}},  // f = max(300 / 2000, 480 / 1000) = 0.48
      {400, 300, 2, {400, 300}},    // f = 1.2: never enlarged
      {1603, 1000, 1, {241, 150}},  // f = 0.15: 240.45 rounded up, never short of the desktop
  };
  for (const auto& c : cases) {
    wallpaperPicture(c.width, c.height, [](int x, int y) { return Pixel{x % 256, y % 256, 90, 255}; });
    const auto image = OnboardingWallpaperView::readWallpaper({{80, 120}, {240, 150}, c.scale, false});
    ASSERT_TRUE(image);
    EXPECT_EQ(image->extent(), CGRectMake(0, 0, c.read.width, c.read.height))
        << c.width << " × " << c.height << " at scale " << c.scale;
  }
}

TEST_F(OnboardingWallpaperTest, EachFilterThatGivesNothingTakesItsFallback) {
  wallpaperPicture(400, 300, [](int x, int) { return x < 300 ? A : B; });
  const RenderKey key{{80, 120}, {240, 150}, 1, false};
  const int mid = 33;
  const double m = 1 - mid / 66.0;
  enum class Top { tinted, plain, blurred };
  enum class Middle { blend, sharpBlend, wallpaper, blurred };
  struct Case {
    std::string filter;
    Top top;        // the top row beside the split
    Middle middle;  // halfway down the band beside the split
  };
  const Case cases[] = {
      {"", Top::tinted, Middle::blend},
      {"CILinearGradient", Top::plain, Middle::wallpaper},  // the wallpaper, cropped
      {"CIMaskedVariableBlur", Top::tinted, Middle::sharpBlend},
      {"CIColumnAverage", Top::blurred, Middle::blurred},  // the blurred wallpaper
      {"CIColorMatrix", Top::plain, Middle::blend},        // the averages untinted
      {"CIBlendWithMask", Top::blurred, Middle::blurred},
  };
  for (const auto& c : cases) {
    if (!c.filter.empty()) CoreImageFaults::failNextOutput(c.filter);
    const CGImageRef picture = OnboardingWallpaperView::renderBackdrop(key);
    ASSERT_TRUE(picture) << c.filter;
    const Pixel top = platform::testing::pixelAt(picture, 19, 0), middle = platform::testing::pixelAt(picture, 19, mid);
    switch (c.top) {
      case Top::tinted: EXPECT_TRUE(near(top, tinted(A, false), 1)) << c.filter << " " << text(top); break;
      case Top::plain: EXPECT_TRUE(near(top, A, 1)) << c.filter << " " << text(top); break;
      case Top::blurred:
        EXPECT_FALSE(near(top, A, 6)) << c.filter << " " << text(top);
        EXPECT_FALSE(near(top, tinted(A, false), 6)) << c.filter << " " << text(top);
        break;
    }
    const Pixel sharpBlend = mixed(tinted(A, false), A, m);
    switch (c.middle) {
      case Middle::blend: EXPECT_FALSE(near(middle, sharpBlend, 6)) << c.filter << " " << text(middle); break;
      case Middle::sharpBlend: EXPECT_TRUE(near(middle, sharpBlend, 2)) << c.filter << " " << text(middle); break;
      case Middle::wallpaper: EXPECT_EQ(middle, A) << c.filter; break;
      case Middle::blurred:
        EXPECT_FALSE(near(middle, A, 6)) << c.filter << " " << text(middle);
        EXPECT_FALSE(near(middle, sharpBlend, 6)) << c.filter << " " << text(middle);
        break;
    }
    EXPECT_EQ(platform::testing::pixelAt(picture, 19, 100), A) << c.filter << ": below the band";
  }
}

TEST_F(OnboardingWallpaperTest, NoPictureWithoutAReadableWallpaper) {
  const RenderKey key{{80, 120}, {240, 150}, 2, true};
  struct Case {
    const char* what;
    std::function<void(OnboardingWallpaperTest&)> lay;
  };
  const Case cases[] = {
      {"no wallpaper at all", [](auto&) {}},
      {"a real HEIC", [](auto& t) {
         t.extension("WallpaperA.appex", "A", "14");
         t.write(kExtensions + "/WallpaperA.appex/Contents/Resources/ADark.heic",
                 std::string("\0\0\0\x18" "ftypheic\0\0\0\0", 16));
       }},
      {"a broken PNG", [](auto& t) {
         t.extension("WallpaperA.appex", "A", "14");
         t.write(kExtensions + "/WallpaperA.appex/Contents/Resources/ADark.heic", "\x89PNG\r\n\x1a\n broken");
       }},
  };
  for (const auto& c : cases) {
    resetProcessState();
    fs::remove_all(root_);
    fs::create_directories(host(kExtensions));
    setSystemRoot(root_);
    c.lay(*this);
    EXPECT_FALSE(OnboardingWallpaperView::renderBackdrop(key)) << c.what;
  }
  EXPECT_FALSE(OnboardingWallpaperView::renderBackdrop({{0, 120}, {240, 150}, 2, true})) << "no width";
}

// ---- the view and the render cache -----------------------------------------

class OnboardingWallpaperViewTest : public OnboardingWallpaperTest {
 protected:
  void SetUp() override {
    OnboardingWallpaperTest::SetUp();
    wallpaperPicture(400, 300, [](int x, int) { return x < 300 ? A : B; });
    primary_ = NSScreen::make(CGRectMake(0, 0, 1440, 900), 2.0);
    secondary_ = NSScreen::make(CGRectMake(1440, 0, 2560, 1440), 1.0);
    NSScreen::setScreens({primary_, secondary_});
  }
  // Draws the view as a window would and answers the pixel at (x, y) from
  // the top, in the view's pixels.
  static Pixel draw(OnboardingWallpaperView& view, int x = 0, int y = 0) {
    const auto rep = view.bitmapImageRepForCachingDisplayInRect(view.bounds());
    if (!rep) {
      view.drawRect(view.bounds());  // zero size: what the view does with no pixels
      return {-1, -1, -1, -1};
    }
    view.cacheDisplayInRect(view.bounds(), rep);
    const uint8_t* p = rep->bitmapData() + size_t(y) * size_t(rep->bytesPerRow()) + size_t(x) * 4;
    return {p[0], p[1], p[2], p[3]};
  }
  void drain() { scope_->runUntilIdle(); }

  std::shared_ptr<NSScreen> primary_, secondary_;
};

TEST_F(OnboardingWallpaperViewTest, TwoDrawsOfANewKeyRenderOnceAndThePictureArrives) {
  auto window = std::make_shared<NSWindow>(NSMakeRect(100, 100, 80, 120), NSWindowStyleMaskTitled);
  auto view = OnboardingWallpaperView::make(NSMakeRect(0, 0, 80, 120));
  window->setContentView(view);
  const Pixel background = draw(*view, 30, 100);
  EXPECT_EQ(background, (Pixel{236, 236, 236, 255})) << "the window background until the picture arrives";
  draw(*view);
  EXPECT_EQ(OnboardingWallpaperView::renderCount(), 1);
  const RenderKey key{{80, 120}, {1440, 900}, 2, false};
  EXPECT_EQ(view->requestedKey(), key);
  EXPECT_TRUE(view->rendering());
  EXPECT_TRUE(OnboardingWallpaperView::isRendering(key));
  OnboardingWallpaperView::requestRender(key);
  EXPECT_EQ(OnboardingWallpaperView::renderCount(), 1) << "an ahead-of-time request joins the render under way";

  drain();
  EXPECT_FALSE(view->rendering());
  EXPECT_EQ(view->renderKey(), key);
  EXPECT_TRUE(view->rendered());
  EXPECT_TRUE(OnboardingWallpaperView::hasCachedPicture(key));
  EXPECT_TRUE(view->needsDisplay());
  // Drawn at the bottom left: the wallpaper, not the background.
  EXPECT_NE(draw(*view, 2, 230), background);
  EXPECT_EQ(draw(*view, 2, 230), platform::testing::pixelAt(view->rendered(), 2, 230)) << "drawn upright, unscaled";
  EXPECT_EQ(OnboardingWallpaperView::renderCount(), 1);
  EXPECT_FALSE(view->hitTest(NSMakePoint(40, 60))) << "the backdrop takes no clicks";
}

TEST_F(OnboardingWallpaperViewTest, TheNinthKeyEmptiesTheCacheAndAFailedRenderIsNotKept) {
  for (int i = 0; i < 9; ++i) {
    OnboardingWallpaperView::requestRender({{double(10 + i), 10}, {240, 150}, 1, false});
    drain();
    EXPECT_EQ(OnboardingWallpaperView::cachedPictureCount(), i < 8 ? size_t(i + 1) : size_t(1)) << "key " << i;
  }
  EXPECT_TRUE(OnboardingWallpaperView::hasCachedPicture({{18, 10}, {240, 150}, 1, false}));
  EXPECT_FALSE(OnboardingWallpaperView::hasCachedPicture({{10, 10}, {240, 150}, 1, false}));
  OnboardingWallpaperView::requestRender({{18, 10}, {240, 150}, 1, false});
  EXPECT_EQ(OnboardingWallpaperView::renderCount(), 9) << "a cached key is not rendered again";

  // A render that fails: nothing cached, the view stays on its background
  // and does not ask again until its key changes.
  auto view = OnboardingWallpaperView::make(NSMakeRect(0, 0, 30, 20));
  CoreImageFaults::failNextRender();
  draw(*view);
  drain();
  EXPECT_EQ(OnboardingWallpaperView::cachedPictureCount(), 1u);
  EXPECT_FALSE(view->rendered());
  EXPECT_EQ(view->renderKey(), view->requestedKey());
  EXPECT_EQ(draw(*view, 5, 5), (Pixel{236, 236, 236, 255}));
  EXPECT_EQ(OnboardingWallpaperView::renderCount(), 10);
  view->setFrame(NSMakeRect(0, 0, 31, 20));
  draw(*view);
  drain();
  EXPECT_EQ(OnboardingWallpaperView::renderCount(), 11);
  EXPECT_TRUE(view->rendered()) << "the new key renders";

  // A render still under way when the process state is reset lands in
  // nothing: the fresh cache stays empty.
  OnboardingWallpaperView::requestRender({{12, 12}, {240, 150}, 1, true});
  resetProcessState();
  setSystemRoot(root_);
  drain();
  EXPECT_EQ(OnboardingWallpaperView::cachedPictureCount(), 0u);
  EXPECT_FALSE(OnboardingWallpaperView::isRendering({{12, 12}, {240, 150}, 1, true}));
}

TEST_F(OnboardingWallpaperViewTest, TheKeyFollowsTheWindowTheScreenTheBackingAndTheAppearance) {
  // Zero size: the background only, no key, no render.
  auto flat = OnboardingWallpaperView::make(NSMakeRect(0, 0, 50, 0));
  draw(*flat);
  EXPECT_FALSE(flat->requestedKey());
  EXPECT_EQ(OnboardingWallpaperView::renderCount(), 0);
  // A view made from a coder starts empty; one nobody shares draws its
  // background and asks for nothing it could never be handed.
  NSCoder coder;
  OnboardingWallpaperView archived(coder);
  EXPECT_EQ(archived.frame(), NSZeroRect);
  EXPECT_FALSE(archived.requestedKey() || archived.renderKey() || archived.rendered() || archived.rendering());
  OnboardingWallpaperView unshared(NSMakeRect(0, 0, 10, 10));
  EXPECT_EQ(draw(unshared, 5, 5), (Pixel{236, 236, 236, 255}));
  EXPECT_EQ(OnboardingWallpaperView::renderCount(), 0);

  // No window: scale 1 and the main screen, else 2560 × 1440.
  auto loose = OnboardingWallpaperView::make(NSMakeRect(0, 0, 40, 30));
  draw(*loose);
  EXPECT_EQ(loose->requestedKey(), (RenderKey{{40, 30}, {1440, 900}, 1, false}));
  NSScreen::setScreens({});
  loose->setFrame(NSMakeRect(0, 0, 41, 30));
  draw(*loose);
  EXPECT_EQ(loose->requestedKey(), (RenderKey{{41, 30}, {2560, 1440}, 1, false}));
  NSScreen::setScreens({primary_, secondary_});

  auto window = std::make_shared<NSWindow>(NSMakeRect(100, 100, 40, 30), NSWindowStyleMaskTitled);
  auto view = OnboardingWallpaperView::make(NSMakeRect(0, 0, 40, 30));
  window->setContentView(view);
  window->orderFront();
  draw(*view);
  drain();
  draw(*view);
  ASSERT_EQ(view->renderKey(), (RenderKey{{40, 30}, {1440, 900}, 2, false}));

  struct Step {
    const char* what;
    std::function<void()> change;
    RenderKey key;
  };
  const Step steps[] = {
      {"to the second screen", [&] { window->setFrame(NSMakeRect(1600, 100, 40, 30), false); },
       {{40, 30}, {2560, 1440}, 2, false}},
      {"the backing scale", [&] { window->setBackingScaleFactor(1.0); }, {{40, 30}, {2560, 1440}, 1, false}},
      {"the dark appearance",
       [] { NSAppearance::setSystemAppearance(NSAppearance::appearanceNamed(NSAppearanceNameDarkAqua)); },
       {{40, 30}, {2560, 1440}, 1, true}},
  };
  for (const auto& s : steps) {
    s.change();
    drain();  // the screen change is delivered on the main queue
    EXPECT_FALSE(view->renderKey()) << s.what << ": the key is looked up again";
    draw(*view);
    EXPECT_EQ(view->requestedKey(), s.key) << s.what;
    drain();
    draw(*view);
    EXPECT_EQ(view->renderKey(), s.key) << s.what;
  }
  EXPECT_EQ(draw(*view, 0, 29)[0], platform::testing::pixelAt(view->rendered(), 0, 29)[0]);
}

}  // namespace
}  // namespace vurle

#include "platform/desktop/system_wallpaper.hpp"
#include "platform/ui/graph.hpp"
#include "platform/ui/picture_test_support.hpp"

namespace vurle {
namespace {

TEST_F(OnboardingWallpaperViewTest, TheBackdropOfTheBundledArtMatchesItsPicturesAndLetsClicksThrough) {
  fs::remove_all(host(kExtensions + "/WallpaperTestExtension.appex"));
  ASSERT_EQ(layOutDesktopWallpaper(root_, WallpaperPictures{fs::path(VURLE_RESOURCES_DIR) / "wallpaper-light.png",
                                                            fs::path(VURLE_RESOURCES_DIR) / "wallpaper-dark.png"}),
            std::nullopt);
  int behind = 0;
  struct Case {
    const char* picture;
    const std::string& appearance;
  };
  for (const Case c : {Case{"onboarding_wallpaper_light", NSAppearanceNameAqua},
                       Case{"onboarding_wallpaper_dark", NSAppearanceNameDarkAqua}}) {
    NSAppearance::setSystemAppearance(NSAppearance::appearanceNamed(c.appearance));
    auto graph = ui::ViewGraph::make(ui::ZStack({ui::Button("Behind", [&] { ++behind; }).frame(400, 190),
                                                 OnboardingWallpaper()}));
    graph->setSize({400, 190});
    graph->render();
    ui::pixelOf(*graph, 0, 0);  // the first draw asks for the picture
    drain();
    ui::expectMatchesStoredPicture(*graph, VURLE_PICTURES_DIR, c.picture);
    EXPECT_TRUE(graph->tap({200, 95})) << c.picture;
  }
  EXPECT_EQ(behind, 2) << "the click reaches the button beneath the backdrop";
  EXPECT_EQ(OnboardingWallpaperView::renderCount(), 2);
}

}  // namespace
}  // namespace vurle
