#include "platform/ui/drawing.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <tuple>
#include <filesystem>
#include <limits>
#include <utility>

#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/graphics/appkit_image.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/appkit/window.hpp"
#include "platform/ui/picture_test_support.hpp"
#include "platform/ui/text.hpp"

namespace platform::ui {
namespace {

class DrawingTest : public ::testing::Test {
 protected:
  void SetUp() override { resetProcessState(); }
  void TearDown() override { resetProcessState(); }
  SimulatedSchedulerScope scope;
};

// Each weight in a face of its own, the Display cut from 20 points, and
// DejaVu Sans for what Inter lacks (a missing glyph would stay in Inter's).
TEST_F(DrawingTest, TextIsSetInThePinnedFontsWithStableMetrics) {
  const std::tuple<Font, const char*, const char*> cases[] = {
      {Font::system(13), "A", "Inter Regular"},
      {Font::system(13, FontWeight::medium), "A", "Inter Medium"},
      {Font::system(13, FontWeight::semibold), "A", "Inter Semi Bold"},
      {Font::system(13, FontWeight::bold), "A", "Inter Bold"},
      {Font::system(19.5, FontWeight::semibold), "A", "Inter Semi Bold"},
      {Font::system(20, FontWeight::semibold), "A", "Inter Display Semi Bold"},
      {Font::system(13), "\u2318\u2325\u2303\u21e7", "Inter Regular"},
      {Font::system(13), "\u2588", "DejaVu Sans Book"},
      {Font::system(11, FontWeight::regular, FontDesign::monospaced), "A", "DejaVu Sans Mono Book"},
  };
  for (const auto& [font, text, face] : cases) EXPECT_EQ(resolvedFace(font, text), face) << font.size << " " << text;
  const auto one = measureText("Transition duration", Font::system(13, FontWeight::semibold), std::nullopt);
  const auto wrapped = measureText("Transition duration", Font::system(13, FontWeight::semibold), 60.0);
  EXPECT_GT(one.size.width, 60);
  EXPECT_LE(wrapped.size.width, 60);
  EXPECT_GT(wrapped.size.height, one.size.height) << "too wide for the proposal: wrapped";
  EXPECT_GT(one.baseline, 0);
  EXPECT_LT(one.baseline, one.size.height);
}

TEST_F(DrawingTest, ASampleWindowMatchesItsStoredPicture) {
  bool on = true;
  auto graph = ViewGraph::make(
      VStack(HorizontalAlignment::leading, 10,
             {HStack(VerticalAlignment::center, 6,
                     {ImageSystem("exclamationmark.circle.fill").foregroundStyle(Color::orange()),
                      ImageSystem("checkmark.circle").foregroundStyle(Color::accent()), ImageSystem("gearshape"),
                      Text("Symbols").font(Font::system(13, FontWeight::semibold))}),
              Toggle("Animate the pointer", {[&] { return on; }, [&](bool v) { on = v; }}).controlSize("small"),
              HStack(VerticalAlignment::center, 8, {Button("Cancel", [] {}), Button("Done", [] {}).disabled(true)}),
              ZStack({Shape(ShapeKind::roundedRectangle, 14).fill(Color::controlBackground().withOpacity(0.74)),
                      Shape(ShapeKind::circle).trim(0, 0.75).stroke(Color::accent(), 3).frame(30, 30)})
                  .frame(std::nullopt, 60.0),
              ProgressView(0.4), Divider(),
              Text("Secondary text wraps when the window is narrower than the sentence it shows.")
                  .font(Font::system(11))
                  .foregroundStyle(Color::secondary())})
          .padding(16));
  graph->setSize({240, 300});
  EXPECT_TRUE(hasSymbolShape("exclamationmark.circle.fill"));
  EXPECT_FALSE(hasSymbolShape("gearshape"));
  expectMatchesStoredPicture(*graph, VURLE_PICTURES_DIR, "sample_window");
}

TEST_F(DrawingTest, APopoverStandsApartFromTheCardBeneathWithItsArrowAtItsAnchor) {
  // Below its anchor, or above it where there is no room below.
  for (const auto& [dark, above] : {std::pair{false, false}, std::pair{true, false}, std::pair{false, true}}) {
    SCOPED_TRACE(::testing::Message() << (dark ? "dark" : "light") << (above ? ", above" : ", below"));
    auto graph = ViewGraph::make(
        Button("?", [] {})
            .popover(Binding<bool>::constant(true),
                     VStack(HorizontalAlignment::leading, 12, {Text("Details of the failure"), Button("Open", [] {})})
                         .padding(16))
            .offset(100, above ? 100 : 20)
            .frame(0.0, std::numeric_limits<double>::infinity(), 0.0, std::numeric_limits<double>::infinity(),
                   Alignment::topLeading())
            .background(Shape(ShapeKind::roundedRectangle, 14).fill(Color::controlBackground().withOpacity(0.74))));
    const ColorScheme scheme = dark ? ColorScheme::dark : ColorScheme::light;
    graph->setEnvironment([scheme](Environment& e) { e.colorScheme = scheme; });
    graph->setSize({300, 140});
    graph->render();
    const CGRect anchor = graph->findKind("Button")->frame(), button = graph->findKind("Button", 1)->frame();
    const CGRect body = graph->findKind("VStack")->node().outerFrame;
    ASSERT_EQ(CGRectGetMaxY(body) < CGRectGetMinY(anchor), above);
    const auto card = pixelOf(*graph, 280, 20), fill = pixelOf(*graph, int(CGRectGetMidX(body)), int(body.origin.y) + 4);
    ASSERT_TRUE(card && fill);
    EXPECT_NE(*card, *fill) << "the popover's own background";
    EXPECT_EQ((*fill)[0] < 128, dark);
    EXPECT_EQ((*pixelOf(*graph, int(button.origin.x) + 3, int(CGRectGetMidY(button))))[0] < 128, dark) << "a button's face";
    const int midX = int(CGRectGetMidX(body)), midY = int(CGRectGetMidY(body));
    for (const auto& [x, y] : {std::pair{int(CGRectGetMaxX(body)) - 20, int(body.origin.y) - 1},
                               std::pair{midX, int(CGRectGetMaxY(body))}, std::pair{int(body.origin.x) - 1, midY},
                               std::pair{int(CGRectGetMaxX(body)), midY}})
      EXPECT_NE(pixelOf(*graph, x, y), card) << "no border or shadow at " << x << ", " << y;
    const int arrowY = above ? int(CGRectGetMinY(anchor)) - 4 : int(CGRectGetMaxY(anchor)) + 4;
    EXPECT_EQ(pixelOf(*graph, int(CGRectGetMidX(anchor)), arrowY), fill) << "the arrow";
  }
}

// As the About window is built: a hosting view nested in a view that draws
// nothing, in a window whose background is clear; then a sheet on it.
TEST_F(DrawingTest, AWindowPictureShowsTheGraphsItHostsAndItsSheet) {
  auto window = std::make_shared<NSWindow>(NSMakeRect(0, 0, 200, 160), NSWindowStyleMaskTitled);
  window->setBackgroundColor(NSColor::clearColor());
  auto content = std::make_shared<NSView>(NSMakeRect(0, 0, 200, 160));
  auto host = NSHostingView::make(ColorView(Color::sRGB(0.1, 0.2, 0.8)).frame(40, 40), CGRectMake(20, 20, 100, 100));
  content->addSubview(host);
  window->setContentView(content);
  const auto square = pixelOf(*host->graph(), 50, 50), around = pixelOf(*host->graph(), 5, 5);
  ASSERT_TRUE(square && around);
  ASSERT_NE(*square, *around);
  // The content view's y goes up: the host's top-left corner is at (20, 40).
  EXPECT_EQ(pixelOf(*window, 20 + 50, 40 + 50), square) << "the hosted square";
  EXPECT_EQ(pixelOf(*window, 20 + 5, 40 + 5), around) << "the graph's background";
  EXPECT_EQ(pixelOf(*window, 150, 20), (std::array<int, 4>{0, 0, 0, 0})) << "beside the host: the clear window";

  // A sheet hangs centred from the bottom of the 28-point title bar, over
  // the content.
  auto sheet = std::make_shared<NSWindow>(NSMakeRect(0, 0, 100, 40), 0);
  sheet->setContentView(NSHostingView::make(ColorView(Color::sRGB(0.8, 0.2, 0.1)), CGRectMake(0, 0, 100, 40)));
  window->beginSheet(sheet, nullptr);
  const auto sheetInk = pixelOf(*sheet, 50, 20);
  ASSERT_TRUE(sheetInk);
  EXPECT_NE(sheetInk, square);
  EXPECT_EQ(pixelOf(*window, 50, 28), sheetInk) << "the sheet's top-left corner";
  EXPECT_EQ(pixelOf(*window, 149, 67), sheetInk) << "its bottom-right corner";
  EXPECT_EQ(pixelOf(*window, 70, 90), square) << "below it, the content";
}

TEST_F(DrawingTest, ComparisonToleratesSmallDifferencesOnlyAndOnlyOneColourAllOverIsBlank) {
  auto dir = std::filesystem::temp_directory_path() / ("vurle-ui-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  auto draw = [&](View view, const std::string& name) {
    auto graph = ViewGraph::make(std::move(view));
    graph->setSize({10, 10});
    EXPECT_TRUE(writePNG(*graph, (dir / name).string(), 1));
  };
  draw(ColorView(Color::sRGB(0.5, 0.5, 0.5)), "a.png");
  draw(ColorView(Color::sRGB(0.51, 0.5, 0.5)), "b.png");
  draw(ColorView(Color::sRGB(0.7, 0.5, 0.5)), "c.png");
  // One point of another colour in the last pixel.
  draw(ZStack({ColorView(Color::sRGB(0.5, 0.5, 0.5)), ColorView(Color::sRGB(0.5, 0.5, 0.52)).frame(1.0, 1.0)},
              {HorizontalAlignment::trailing, VerticalAlignment::bottom}),
       "d.png");
  auto near = comparePNG((dir / "a.png").string(), (dir / "b.png").string(), 4);
  auto far = comparePNG((dir / "a.png").string(), (dir / "c.png").string(), 4);
  EXPECT_TRUE(near.loaded && near.sameSize);
  EXPECT_EQ(near.differingFraction, 0);
  EXPECT_EQ(far.differingFraction, 1);
  EXPECT_FALSE(comparePNG((dir / "a.png").string(), (dir / "missing.png").string(), 4).loaded);
  EXPECT_TRUE(isBlankPNG((dir / "a.png").string()));
  EXPECT_FALSE(isBlankPNG((dir / "d.png").string()));
  EXPECT_FALSE(isBlankPNG((dir / "missing.png").string()));
  EXPECT_FALSE(reportWrittenPicture("drawing_test", true, (dir / "a.png").string())) << "blank";
  EXPECT_FALSE(reportWrittenPicture("drawing_test", false, (dir / "d.png").string())) << "not written";
  EXPECT_TRUE(reportWrittenPicture("drawing_test", true, (dir / "d.png").string()));
  EXPECT_FALSE(writePNG(*ViewGraph::make(Text("x")), (dir / "no-such-folder" / "x.png").string()));
  std::filesystem::remove_all(dir);
}

// A horizontal line through the middle of the rect it is given.
Path midline(CGRect r) {
  Path p;
  p.move({CGRectGetMinX(r), CGRectGetMidY(r)});
  p.addLine({CGRectGetMaxX(r), CGRectGetMidY(r)});
  return p;
}

// An image drawn by a handler: a red square in its lower left quarter (y up).
std::shared_ptr<NSImage> quarterImage(std::vector<double>* scales = nullptr) {
  return NSImage::imageWithSize({20, 20}, false, [scales](NSRect dst) {
    auto context = NSGraphicsContext::currentContext();
    if (scales) scales->push_back(context->pixelsPerPoint());
    CGContextSetRGBFillColor(context->CGContext(), 1, 0, 0, 1);
    CGContextFillRect(context->CGContext(),
                      CGRectMake(dst.origin.x, dst.origin.y, dst.size.width / 2, dst.size.height / 2));
    return true;
  });
}

TEST_F(DrawingTest, AControlsWindowMatchesItsStoredPicture) {
  bool on = true, off = false;
  auto mark = quarterImage();
  mark->setTemplate(true);
  const Color yellow = Color::sRGB(1, 0.8, 0);
  auto graph = ViewGraph::make(
      VStack(HorizontalAlignment::leading, 10,
             {HStack(VerticalAlignment::center, 8,
                     {ImageSystem("play.fill"), ImageSystem("pause.fill"), ImageSystem("pause.circle"),
                      ImageSystem("doc.text").font(Font::system(26)).foregroundStyle(Color::secondary()),
                      Image(mark).resizable().frame(24, 24).foregroundStyle(Color::orange()), Image(quarterImage())}),
              HStack(VerticalAlignment::center, 4,
                     {Toggle("I agree to the", {[&] { return on; }, [&](bool v) { on = v; }}).toggleStyle(ToggleStyle::checkbox),
                      Button("License Agreement", [] {})
                          .buttonStyle(ButtonStyleKind::plain)
                          .underline()
                          .foregroundStyle(Color::link())}),
              Toggle("Unticked", {[&] { return off; }, [&](bool v) { off = v; }}).toggleStyle(ToggleStyle::checkbox),
              HStack(VerticalAlignment::center, 8,
                     {Button("Agree & Continue", [] {}).buttonStyle(ButtonStyleKind::borderedProminent),
                      Button("Disagree & Quit", [] {}).buttonStyle(ButtonStyleKind::bordered)})
                  .font(Font::system(12)),
              ZStack({Shape(ShapeKind::roundedRectangle, 9).fill(yellow.withOpacity(0.1)),
                      Shape(ShapeKind::roundedRectangle, 9).strokeBorder(yellow.withOpacity(0.5), 1),
                      PathShape("Midline", midline)
                          .trim(0, 0.6)
                          .stroke(Color::systemGreen(), StrokeStyle{4, LineCap::round, LineJoin::round, 10})
                          .inset(12)})
                  .frame(180, 40),
              Text("Uses private macOS APIs. macOS updates may affect cursor animations.")
                  .font(Font::system(11))
                  .lineSpacing(2)})
          .tint(yellow)
          .padding(16));
  graph->setSize({260, 300});
  for (const char* symbol : {"play.fill", "pause.fill", "pause.circle", "doc.text"}) EXPECT_TRUE(hasSymbolShape(symbol)) << symbol;
  expectMatchesStoredPicture(*graph, VURLE_PICTURES_DIR, "controls_window");
}

TEST_F(DrawingTest, StrokesTrimsAndInsetsDrawWhereTheyShould) {
  const Color green = Color::systemGreen();
  auto shapes = [&](double trimTo, double inset) {
    return ZStack({Shape(ShapeKind::rectangle).strokeBorder(Color::black(), 4).frame(40, 40).offset(-40, 0),
                   Shape(ShapeKind::rectangle).stroke(Color::black(), 4).frame(40, 40).offset(40, 0),
                   PathShape("Midline", midline)
                       .trim(0, trimTo)
                       .stroke(green, StrokeStyle{6, LineCap::round, LineJoin::round, 10})
                       .inset(inset)
                       .frame(40, 40)});
  };
  auto graph = ViewGraph::make(shapes(1, 0));
  graph->setSize({200, 100});
  graph->render();
  const auto background = pixelOf(*graph, 1, 1);
  // Frames: the border box at x 40 ... 80, the stroked one at 120 ... 160,
  // the line at 80 ... 120, all at y 30 ... 70.
  EXPECT_NE(pixelOf(*graph, 41, 50), background) << "a border lies inside the frame";
  EXPECT_EQ(pixelOf(*graph, 38, 50), background) << "and not outside it";
  EXPECT_NE(pixelOf(*graph, 118, 50), background) << "a stroke straddles the outline";
  EXPECT_NE(pixelOf(*graph, 81, 50), background) << "the whole line from its start";
  EXPECT_NE(pixelOf(*graph, 118, 50), background);

  graph->setRoot(shapes(0, 0));
  graph->render();
  EXPECT_EQ(pixelOf(*graph, 81, 50), background) << "trimmed to nothing: not even a round cap's dot";

  graph->setRoot(shapes(0.5, 10));
  graph->render();
  EXPECT_EQ(pixelOf(*graph, 83, 50), background) << "inset: the line starts 10 points in";
  EXPECT_NE(pixelOf(*graph, 92, 50), background);
  EXPECT_NE(pixelOf(*graph, 99, 50), background) << "half of the inset line, to its middle";
  EXPECT_EQ(pixelOf(*graph, 106, 50), background);
}

TEST_F(DrawingTest, AnImageIsDrawnFromItsVectorAtThePicturesScaleAndATemplateInTheForeground) {
  std::vector<double> scales;
  auto image = quarterImage(&scales);
  auto graph = ViewGraph::make(Image(image).resizable().frame(40, 40).foregroundStyle(Color::black()));
  graph->setSize({40, 40});
  const auto path = std::filesystem::temp_directory_path() / ("vurle-image-" + std::to_string(::getpid()) + ".png");
  ASSERT_TRUE(writePNG(*graph, path.string(), 2));
  std::filesystem::remove(path);
  EXPECT_EQ(scales, (std::vector<double>{2})) << "drawn once, at the picture's scale";
  // The lower left quarter, y up in the image, is the lower left on screen.
  EXPECT_EQ(pixelOf(*graph, 5, 35), (std::array<int, 4>{255, 0, 0, 255})) << "its own colours";
  EXPECT_NE(pixelOf(*graph, 35, 5), pixelOf(*graph, 5, 35));

  image->setTemplate(true);
  graph->setNeedsRender();
  EXPECT_EQ(pixelOf(*graph, 5, 35), (std::array<int, 4>{0, 0, 0, 255})) << "a template takes the foreground";
  EXPECT_EQ(pixelOf(*graph, 35, 5), pixelOf(*graph, 0, 0)) << "and only where the image has alpha";
}

}  // namespace
}  // namespace platform::ui

#include "platform/appkit/appearance.hpp"

namespace platform::ui {
namespace {

// The contrast ratio of two grey levels (0 ... 255, sRGB), as the web's
// accessibility guidelines measure it.
double contrast(int a, int b) {
  auto luminance = [](int level) {
    const double c = level / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
  };
  const double la = luminance(a), lb = luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

TEST_F(DrawingTest, UnderTheDarkAppearanceNamedColoursTakeTheirDarkValues) {
  const auto view = [] {
    return VStack(HorizontalAlignment::leading, 0,
                  {ColorView(Color::sRGB(0.2, 0.4, 0.6)).frame(20, 10),
                   ColorView(Color::controlBackground()).frame(20, 10), Text("██").font(Font::system(20)),
                   Divider().frame(40, 1)})
        .frame(40, 60, Alignment::topLeading());
  };
  struct Case {
    const char* what;
    std::shared_ptr<NSAppearance> system;
    ColorScheme scheme;
    int windowLevel, controlLevel;
    bool lightText;
  };
  const Case cases[] = {
      {"light", NSAppearance::appearanceNamed(NSAppearanceNameAqua), ColorScheme::light, 236, 255, false},
      {"dark", NSAppearance::appearanceNamed(NSAppearanceNameDarkAqua), ColorScheme::dark, 50, 30, true},
  };
  for (const auto& c : cases) {
    NSAppearance::setSystemAppearance(c.system);
    auto graph = ViewGraph::make(view());
    graph->setSize({40, 60});
    graph->render();
    EXPECT_EQ(graph->root()->environment.colorScheme, c.scheme) << c.what;
    EXPECT_EQ((*pixelOf(*graph, 39, 59))[0], c.windowLevel) << c.what << ": window background";
    EXPECT_EQ((*pixelOf(*graph, 5, 15))[0], c.controlLevel) << c.what << ": control background";
    const int text = (*pixelOf(*graph, 6, 32))[0];
    EXPECT_EQ(text > 128, c.lightText) << c.what << ": the label, " << text;
    EXPECT_EQ(*pixelOf(*graph, 5, 5), (std::array<int, 4>{51, 102, 153, 255})) << c.what << ": a literal colour";
    const auto dividerAt = graph->findKind("Divider")->frame().origin.y;
    ASSERT_LT(dividerAt, 60) << c.what;
    const int divider = (*pixelOf(*graph, 5, int(dividerAt)))[0];
    EXPECT_EQ(divider > c.windowLevel, c.lightText) << c.what << ": the separator, " << divider;
    EXPECT_NE(divider, c.windowLevel) << c.what << ": the separator shows";

    // A switch that is off stands out from the window and from a card.
    auto switches = ViewGraph::make(
        HStack(VerticalAlignment::top, 0,
               {Toggle("", Binding<bool>::constant(false)).labelsHidden().padding(10),
                Toggle("", Binding<bool>::constant(false))
                    .labelsHidden()
                    .padding(10)
                    .background(ColorView(Color::controlBackground().withOpacity(0.74)))})
            .frame(120, 60, Alignment::topLeading()));
    switches->setSize({120, 60});
    switches->render();
    const auto toggles = switches->findAll([](const Node& n) { return n.kind() == "Toggle"; });
    ASSERT_EQ(toggles.size(), 2u) << c.what;
    for (const auto& toggle : toggles) {
      // Right of the knob, inside the track; and beside the switch.
      const CGRect r = toggle.frame();
      const int track = (*pixelOf(*switches, int(CGRectGetMaxX(r)) - 5, int(CGRectGetMidY(r))))[0];
      const int behind = (*pixelOf(*switches, int(CGRectGetMaxX(r)) + 5, int(CGRectGetMidY(r))))[0];
      EXPECT_GE(contrast(track, behind), 1.5) << c.what << ": track " << track << " on " << behind;
    }
  }
}

}  // namespace
}  // namespace platform::ui

namespace platform::ui {
namespace {

// One picture of each drawn modifier, then the checks that a picture
// tolerance would let through.
TEST_F(DrawingTest, BlurShadowClipAndGlassAreDrawn) {
  const Color ink = Color::sRGB(0.1, 0.2, 0.8);
  struct Case {
    const char* what;
    View view;
    // (x, y) and whether that pixel keeps the window background there.
    std::vector<std::tuple<int, int, bool>> background;
  };
  const auto square = [&] { return ColorView(ink).frame(40, 40); };
  const Case cases[] = {
      {"plain", square(), {{30, 30, false}, {10, 30, true}, {30, 10, true}}},
      // The blur spreads the square past its frame and fades its edge.
      {"blur", square().blur(4), {{30, 30, false}, {17, 30, false}, {4, 30, true}}},
      // The shadow: beneath and below right of the square, not above left.
      {"shadow", square().shadow(Color::black().withOpacity(0.8), 4, 6, 6), {{30, 30, false}, {66, 66, false}, {14, 14, true}}},
      // Clipped to a circle: the corners of the frame keep the background.
      {"clipShape", square().clipShape(ShapeKind::circle), {{40, 40, false}, {21, 21, true}, {58, 58, true}}},
  };
  for (const auto& c : cases) {
    auto graph = ViewGraph::make(c.view.frame(80, 80));
    graph->setSize({80, 80});
    graph->render();
    for (const auto& [x, y, kept] : c.background) {
      const auto p = pixelOf(*graph, x, y);
      ASSERT_TRUE(p);
      EXPECT_EQ(*p == (std::array<int, 4>{236, 236, 236, 255}), kept) << c.what << " at " << x << "," << y;
    }
    if (std::string(c.what) == "blur") {
      const auto centre = *pixelOf(*graph, 40, 40), edge = *pixelOf(*graph, 20, 40);
      EXPECT_EQ(centre[2], 204) << "the middle of a 40 point square keeps its colour";
      EXPECT_GT(edge[0], centre[0]) << "the edge fades into the background";
      EXPECT_LT(edge[0], 236) << "but is not gone";
    }
  }
  // Glass over a colour: a window-background veil the colour shows
  // through, inside its capsule only.
  auto glassOverInk = ViewGraph::make(
      ZStack({ColorView(ink), ColorView(Color::clear()).frame(40, 20).glassEffect(ShapeKind::capsule)}).frame(80, 80));
  glassOverInk->setSize({80, 80});
  const auto through = *pixelOf(*glassOverInk, 40, 40);
  EXPECT_GT(through[2], through[0]) << "the ink shows through";
  EXPECT_GT(through[0], 100) << "under the veil";
  EXPECT_EQ(*pixelOf(*glassOverInk, 21, 31), (*pixelOf(*glassOverInk, 2, 2))) << "outside the capsule: the ink alone";

  auto pictures = ViewGraph::make(HStack(VerticalAlignment::center, 12,
                                         {square().blur(3), square().shadow(Color::black().withOpacity(0.5), 6, 0, 4),
                                          square().clipShape(ShapeKind::roundedRectangle, 12)})
                                      .padding(16));
  pictures->setSize({184, 72});
  expectMatchesStoredPicture(*pictures, VURLE_PICTURES_DIR, "blur_shadow_clip");
}

TEST_F(DrawingTest, LineLimitTrackingAndTransitionsReachTheText) {
  const std::string sentence = "A sentence long enough to wrap over several lines of a narrow column";
  const Font font = Font::system(13);
  const double line = measureText("x", font, std::nullopt).size.height;
  struct Case {
    std::optional<int> limit;
    int lines;
  };
  const auto free = measureText(sentence, font, 120.0);
  const int all = int(std::lround(free.size.height / line));
  ASSERT_GT(all, 3);
  for (const Case c : {Case{std::nullopt, all}, Case{1, 1}, Case{2, 2}, Case{all + 3, all}}) {
    TextStyle style;
    style.lineLimit = c.limit;
    EXPECT_EQ(int(std::lround(measureText(sentence, font, 120.0, style).size.height / line)), c.lines)
        << (c.limit ? *c.limit : 0);
    auto graph = ViewGraph::make(Text(sentence).font(font).lineLimit(c.limit).frame(120, 300, Alignment::topLeading()));
    graph->setSize({120, 300});
    graph->render();
    EXPECT_EQ(int(std::lround(graph->findKind("Text")->frame().size.height / line)), c.lines)
        << "laid out, limit " << (c.limit ? *c.limit : 0);
  }
  TextStyle spaced;
  spaced.tracking = 2;
  const double plain = measureText("Tracking", font, std::nullopt).size.width;
  EXPECT_NEAR(measureText("Tracking", font, std::nullopt, spaced).size.width, plain + 2 * 7, 1.0)
      << "2 points between each of the 8 letters";
  auto graph = ViewGraph::make(Text("Tracking").font(font).tracking(2).transition("opacity"));
  graph->setSize({200, 40});
  graph->render();
  EXPECT_NEAR(graph->findKind("Text")->frame().size.width, plain + 14, 1.0);
  ASSERT_TRUE(graph->findKind("Text")->modifier("transition"));
  EXPECT_EQ(graph->findKind("Text")->modifier("transition")->string("kind"), "opacity");
}

TEST_F(DrawingTest, TheOnboardingSymbolsHaveShapesOfTheirOwn) {
  const std::string names[] = {"arrow.right", "arrow.up.right", "accessibility", "battery.100percent", "wifi", "switch.2"};
  std::vector<std::vector<int>> drawn;
  for (const auto& name : names) {
    EXPECT_TRUE(hasSymbolShape(name)) << name;
    auto graph = ViewGraph::make(ImageSystem(name).frame(24, 24));
    graph->setSize({24, 24});
    graph->render();
    std::vector<int> column;
    for (int y = 0; y < 24; y += 2)
      for (int x = 0; x < 24; x += 2) column.push_back((*pixelOf(*graph, x, y))[0]);
    drawn.push_back(column);
  }
  EXPECT_FALSE(hasSymbolShape("arrow.left"));
  std::vector<View> row;
  for (const auto& name : names) row.push_back(ImageSystem(name).frame(24, 24));
  auto strip = ViewGraph::make(HStack(VerticalAlignment::center, 8, row).padding(8));
  strip->setSize({200, 40});
  expectMatchesStoredPicture(*strip, VURLE_PICTURES_DIR, "onboarding_symbols");
  for (size_t i = 0; i < drawn.size(); ++i)
    for (size_t j = i + 1; j < drawn.size(); ++j) EXPECT_NE(drawn[i], drawn[j]) << names[i] << " looks like " << names[j];
}

}  // namespace
}  // namespace platform::ui
