#include "ui/onboarding/welcome_step.hpp"

#include <algorithm>
#include <limits>

#include "ui/onboarding/pointer_test_strip.hpp"
#include "ui/settings/duration_controls.hpp"

namespace vurle {

using namespace platform::ui;

std::optional<double> welcomeStripDuration(bool animationsEnabled, bool reduceMotion, bool systemWide,
                                           double storedMilliseconds) {
  if (!animationsEnabled || reduceMotion || systemWide) return std::nullopt;
  return std::clamp(storedMilliseconds / 1000.0, 0.045, 0.4);
}

View WelcomeStep(std::shared_ptr<OnboardingFlow> flow, std::shared_ptr<CursorEngine> engine,
                 std::shared_ptr<MorphSpeedExamples> examples) {
  return Composite("WelcomeStep", [flow, engine, examples](Context& c) {
    c.observe(flow->animationsEnabledPublisher());
    c.observe(flow->objectWillChangePublisher());
    c.observe(examples->objectWillChange());
    c.observe(engine->storedMillisecondsPublisher());
    c.observe(engine->systemWidePublisher());
    const bool reduceMotion = c.environment().reduceMotion;
    const bool reduceTransparency = c.environment().reduceTransparency;
    const bool animationsEnabled = flow->animationsEnabled();
    const bool playing = examples->isPlaying();
    const auto& agreement = *flow->agreement();
    // The consent's error line takes room in the footer, so the canvas gives it up.
    const bool documentUnusable = !agreement.document() || !agreement.document()->isValid();
    const double canvasHeight = !agreement.accepted() && documentUnusable ? 106 : 150;
    constexpr double kInfinity = std::numeric_limits<double>::infinity();
    std::weak_ptr<OnboardingFlow> weakFlow = flow;
    std::weak_ptr<MorphSpeedExamples> weakExamples = examples;

    View playPause =
        Button(ImageSystem(playing ? "pause.fill" : "play.fill")
                   .font(Font::system(10, FontWeight::semibold))
                   .frame(26.0, 26.0)
                   .background(Shape(ShapeKind::circle).fill(Color::primary().withOpacity(0.06))),
               [weakExamples] {
                 auto e = weakExamples.lock();
                 if (!e) return;
                 if (e->isPlaying()) e->stop();
                 else e->start();
               })
            .buttonStyle(SettingsPressStyle())
            .padding(10)
            .disabled(reduceMotion || !animationsEnabled)
            .accessibilityLabel(playing ? "Pause cursor preview" : "Play cursor preview");
    View preview = ZStack({SpeedExampleCanvas(examples, 0, 3.4, true)
                               .frame(std::nullopt, canvasHeight)
                               .allowsHitTesting(false)
                               .accessibilityHidden(true),
                           playPause},
                          Alignment{HorizontalAlignment::trailing, VerticalAlignment::top})
                       .accessibilityElement(AccessibilityChildren::contain)
                       .accessibilityLabel("Animated cursor preview");

    Binding<bool> animate{[weakFlow] {
                            auto f = weakFlow.lock();
                            return f && f->animationsEnabled();
                          },
                          [weakFlow](bool on) {
                            if (auto f = weakFlow.lock()) f->setAnimationsEnabled(on);
                          }};
    auto onHover = [weakExamples](std::optional<int> index) {
      auto e = weakExamples.lock();
      if (!e) return;
      const auto regions = testStripRegions();
      if (!index || *index < 0 || size_t(*index) >= regions.size()) {
        e->hover(nullptr, std::nullopt, true);
        return;
      }
      e->hover(regions[size_t(*index)].cursor, regions[size_t(*index)].name, true);
    };
    View controls =
        VStack(HorizontalAlignment::center, 0,
               {Toggle("Animate cursors", animate)
                    .font(Font::system(13, FontWeight::medium))
                    .controlSize("small")
                    .padding(Edge::horizontal, 14)
                    .padding(Edge::vertical, 12)
                    .accessibilityLabel("Animate cursors"),
                PointerTestStrip(welcomeStripDuration(animationsEnabled, reduceMotion, engine->systemWide(),
                                                      engine->storedMilliseconds()),
                                 onHover)
                    .frame(std::nullopt, 48.0)
                    .padding(Edge::horizontal, 10)
                    .padding(Edge::bottom, 10)})
            .accessibilityElement(AccessibilityChildren::contain)
            .accessibilityLabel("Cursor testing controls");

    View card = VStack(HorizontalAlignment::center, 0,
                       {preview, Divider().padding(Edge::horizontal, 14), controls})
                    .frame(std::nullopt, kInfinity, std::nullopt, std::nullopt, Alignment::center())
                    .background(Shape(ShapeKind::roundedRectangle, 20)
                                    .fill(Color::controlBackground().withOpacity(reduceTransparency ? 1.0 : 0.74)))
                    .accessibilityElement(AccessibilityChildren::contain)
                    .accessibilityLabel("Cursor playground");
    std::vector<View> content{card};
    if (reduceMotion)
      content.push_back(Text("Reduce Motion is on. Cursor changes stay instant.")
                            .font(Font::system(11))
                            .foregroundStyle(Color::secondary())
                            .fixedSize(false, true));
    return VStack(HorizontalAlignment::center, 12, std::move(content));
  });
}

}  // namespace vurle
