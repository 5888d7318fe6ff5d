#include "ui/settings/morph_preview_card.hpp"

#include <cmath>
#include <limits>
#include <string>

#include "ui/onboarding/pointer_test_strip.hpp"
#include "ui/settings/duration_controls.hpp"
#include "ui/settings/settings_rows.hpp"
#include "ui/settings/transition_duration_control.hpp"

namespace vurle {

using namespace platform;
using namespace platform::ui;

namespace {

// One column's numbers: the duration it shows, whether its preset is the
// engine's duration, and whether its button replays rather than applies.
struct Column {
  const char* title;
  double milliseconds;
  bool selected;
  bool replay;
  const char* buttonText() const { return replay ? "Replay" : "Apply"; }
};

Column columnAt(int index, const CursorEngine& engine, const MorphSpeedExamples& examples) {
  const char* titles[] = {"Current", "Snappy", "Relaxed"};
  if (index == 0) return {titles[0], engine.storedMilliseconds(), false, true};
  const double preset = examples.effectiveDurations()[size_t(index)];
  const bool selected = engine.storedMilliseconds() == preset;
  return {titles[index], preset, selected, selected};
}

std::string wholeMilliseconds(double milliseconds) {
  return std::to_string(std::isfinite(milliseconds) ? static_cast<long long>(std::trunc(milliseconds)) : 0);
}

void applyPreset(const std::weak_ptr<CursorEngine>& weakEngine, const std::weak_ptr<MorphSpeedExamples>& weakExamples,
                 bool replay, double milliseconds) {
  auto engine = weakEngine.lock();
  auto examples = weakExamples.lock();
  if (!engine || !examples) return;
  // The page hands the new duration to the examples before their next frame.
  if (!replay) engine->setStoredMilliseconds(milliseconds);
  examples->reset();
  examples->start();
}

View SpeedColumn(int index, const std::shared_ptr<CursorEngine>& engine, const std::shared_ptr<MorphSpeedExamples>& examples,
                 Color yellow, bool reduceMotion) {
  const Column column = columnAt(index, *engine, *examples);
  std::vector<View> titleRow{Text(column.title).font(Font::system(11, FontWeight::medium)), Spacer()};
  if (column.selected) titleRow.push_back(ImageSystem("checkmark").font(Font::system(8, FontWeight::semibold)));
  std::vector<View> readout{DurationReadout(column.milliseconds)
                                .font(Font::system(10, FontWeight::regular, FontDesign::monospaced))
                                .foregroundStyle(Color::secondary())};
  if (!(reduceMotion && column.replay)) {
    readout.push_back(Text(column.buttonText()).font(Font::system(10, FontWeight::semibold)));
  }
  const Color fill = index == 0 ? yellow.withOpacity(0.1) : Color::primary().withOpacity(0.04);
  const Color edge = index == 0 ? yellow.withOpacity(0.5) : Color::clear();
  View label = VStack(HorizontalAlignment::leading, 4,
                      {SpeedExampleCanvas(examples, index, std::nullopt, true)
                           .frame(std::nullopt, 80.0)
                           .accessibilityHidden(true)
                           .allowsHitTesting(false),
                       HStack(VerticalAlignment::center, 4, std::move(titleRow)).foregroundStyle(Color::primary()),
                       HStack(VerticalAlignment::center, 4, std::move(readout))})
                   .padding(12)
                   .frame(std::nullopt, std::numeric_limits<double>::infinity(), std::nullopt, std::nullopt,
                          Alignment::leading())
                   .background(Shape(ShapeKind::roundedRectangle, 9).fill(fill))
                   .overlay(Shape(ShapeKind::roundedRectangle, 9).strokeBorder(edge, 1))
                   .contentShape(ShapeKind::roundedRectangle, 9);
  std::weak_ptr<CursorEngine> weakEngine = engine;
  std::weak_ptr<MorphSpeedExamples> weakExamples = examples;
  View button = Button(label, [weakEngine, weakExamples, column] {
                  applyPreset(weakEngine, weakExamples, column.replay, column.milliseconds);
                })
                    .buttonStyle(SettingsPressStyle())
                    .disabled(column.replay && reduceMotion)
                    .accessibilityLabel(std::string(column.buttonText()) + " " + column.title + " at " +
                                        wholeMilliseconds(column.milliseconds) + " milliseconds");
  return column.selected ? button.accessibilityAddTraits("isSelected") : button;
}

}  // namespace

View CursorTestSection(std::shared_ptr<MorphSpeedExamples> examples) {
  const MorphSpeedExamples* identity = examples.get();
  std::weak_ptr<MorphSpeedExamples> weak = examples;
  return Equatable(identity, Composite("CursorTestSection", [weak](Context&) {
                     auto hoverChanged = [weak](std::optional<int> index) {
                       auto examples = weak.lock();
                       if (!examples) return;
                       if (!index) {
                         examples->hover(nullptr, std::nullopt, true);
                         return;
                       }
                       const auto regions = testStripRegions();
                       if (*index < 0 || size_t(*index) >= regions.size()) return;
                       examples->hover(regions[size_t(*index)].cursor, regions[size_t(*index)].name, true);
                     };
                     return VStack(HorizontalAlignment::leading, 10,
                                   {HStack(VerticalAlignment::center, std::nullopt,
                                           {Text("Try cursors").font(Font::system(13, FontWeight::semibold)), Spacer(),
                                            Text("Hover to preview")
                                                .font(Font::system(11))
                                                .foregroundStyle(Color::secondary())}),
                                    PointerTestStrip(std::nullopt, hoverChanged).frame(std::nullopt, 46.0)})
                         .onDisappear([] {
                           if (auto strip = PointerTestStripView::activeStrip()) strip->cancelCursorTest();
                         });
                   }));
}

View MorphPreviewCard(std::shared_ptr<CursorEngine> engine, std::shared_ptr<MorphSpeedExamples> examples, Color yellow) {
  return Composite("MorphPreviewCard", [engine, examples, yellow](Context& c) {
    c.observe(engine->storedMillisecondsPublisher());
    c.observe(examples->objectWillChange());
    const bool reduceMotion = c.environment().reduceMotion;
    const bool playing = examples->isPlaying();
    std::weak_ptr<MorphSpeedExamples> weak = examples;
    View play = Button(ImageSystem(playing ? "pause.fill" : "play.fill")
                           .font(Font::system(10, FontWeight::semibold))
                           .frame(26.0, 26.0)
                           .background(Shape(ShapeKind::circle).fill(Color::primary().withOpacity(0.06)))
                           .contentShape(ShapeKind::circle),
                       [weak] {
                         auto e = weak.lock();
                         if (!e) return;
                         if (e->isPlaying()) {
                           e->stop();
                         } else {
                           e->start();
                         }
                       })
                    .buttonStyle(SettingsPressStyle())
                    .disabled(reduceMotion)
                    .accessibilityLabel(playing ? "Pause preview" : "Play preview");
    View header = HStack(VerticalAlignment::center, std::nullopt,
                         {VStack(HorizontalAlignment::leading, 3,
                                 {Text("Morph preview").font(Font::system(13, FontWeight::semibold)),
                                  Text(reduceMotion ? "Paused for Reduce Motion" : "Compare speeds and apply a preset")
                                      .font(Font::system(11))
                                      .foregroundStyle(Color::secondary())}),
                          Spacer(4), play});
    View columns = HStack(VerticalAlignment::center, 6,
                          {SpeedColumn(0, engine, examples, yellow, reduceMotion),
                           SpeedColumn(1, engine, examples, yellow, reduceMotion),
                           SpeedColumn(2, engine, examples, yellow, reduceMotion)});
    return VStack(HorizontalAlignment::leading, 10,
                  {header, columns, CursorTestSection(examples).padding(Edge::top, 2),
                   Divider().padding(Edge::vertical, 2), TransitionDurationControl(engine)})
        .padding(12)
        .background(SettingsCardBackground())
        .onDisappear([weak] {
          if (auto e = weak.lock()) e->stop();
        });
  });
}

}  // namespace vurle
