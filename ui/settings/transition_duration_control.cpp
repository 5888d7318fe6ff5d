#include "ui/settings/transition_duration_control.hpp"

#include <cmath>

#include "platform/foundation/process_info.hpp"
#include "ui/settings/duration_controls.hpp"

namespace vurle {

using namespace platform;
using namespace platform::ui;

namespace {

// Whole milliseconds toward zero, as the slider's accessibility value reads.
std::string truncatedMilliseconds(double milliseconds) {
  if (!std::isfinite(milliseconds)) return "0";
  return std::to_string(static_cast<long long>(std::trunc(milliseconds)));
}

}  // namespace

std::string accessibilitySettingsName() {
  return ProcessInfo::operatingSystemVersion().majorVersion >= 27 ? "Device Control and Data Access" : "Accessibility";
}

View TransitionDurationControl(std::shared_ptr<CursorEngine> engine) {
  return Composite("TransitionDurationControl", [engine](Context& c) {
    c.observe(engine->storedMillisecondsPublisher());
    const double milliseconds = engine->storedMilliseconds();
    std::weak_ptr<CursorEngine> weak = engine;
    Binding<double> duration{[weak] {
                               auto e = weak.lock();
                               return e ? e->storedMilliseconds() : CursorEngine::kDefaultMilliseconds;
                             },
                             [weak](double value) {
                               if (auto e = weak.lock()) e->setStoredMilliseconds(value);
                             }};
    const Color secondary = Color::secondary();
    return VStack(
        HorizontalAlignment::leading, 8,
        {HStack(VerticalAlignment::firstTextBaseline, std::nullopt,
                {VStack(HorizontalAlignment::leading, 3,
                        {Text("Transition duration").font(Font::system(13, FontWeight::semibold)),
                         Text("How long the cursor takes to morph").font(Font::system(11)).foregroundStyle(secondary)}),
                 Spacer(8),
                 DurationReadout(milliseconds)
                     .font(Font::system(11, FontWeight::regular, FontDesign::monospaced))
                     .monospacedDigit()
                     .foregroundStyle(secondary)}),
         DurationSlider(duration)
             .controlSize("small")
             .frame(std::nullopt, 30.0)
             .accessibilityLabel("Transition duration")
             .accessibilityValue(truncatedMilliseconds(milliseconds) + " milliseconds"),
         HStack(VerticalAlignment::center, std::nullopt, {Text("Snappy"), Spacer(), Text("Relaxed")})
             .font(Font::system(10))
             .foregroundStyle(secondary)});
  });
}

View AnimationErrorHelp(std::string detail, bool needsAccessibility, std::function<void()> openAccessibility) {
  return Composite("AnimationErrorHelp", [detail, needsAccessibility, openAccessibility](Context& c) {
    auto showsDetail = c.state<bool>("showsDetail", false);
    std::vector<View> content{Text(detail).font(Font::system(12)).textSelection(true)};
    if (needsAccessibility)
      content.push_back(Button("Open " + accessibilitySettingsName() + " Settings\u2026", openAccessibility));
    // From 15.1 the popover takes an optional set of arrow edges and is not
    // detachable; before, a single arrow edge.
    std::map<std::string, Param> options{{"arrowEdge", std::string("default")}};
    if (ProcessInfo::isOperatingSystemAtLeastVersion({15, 1, 0})) {
      options["presentation"] = std::string("arrowEdges");
      options["detachable"] = false;
    } else {
      options["presentation"] = std::string("singleArrowEdge");
    }
    return Button(ImageSystem("exclamationmark.circle.fill")
                      .font(Font::system(10))
                      .foregroundStyle(Color::orange())
                      .frame(18.0, 18.0)
                      .contentShape(),
                  [showsDetail] { showsDetail.set(!showsDetail.get()); })
        .buttonStyle(SettingsPressStyle())
        .accessibilityLabel("Animation error details")
        .popover(showsDetail.binding(),
                 VStack(HorizontalAlignment::leading, 12, std::move(content))
                     .padding(16)
                     .frame(280.0, std::nullopt, Alignment::leading()),
                 std::move(options));
  });
}

}  // namespace vurle
