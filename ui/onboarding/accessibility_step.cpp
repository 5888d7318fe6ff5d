#include "ui/onboarding/accessibility_step.hpp"

#include <limits>

#include "ui/settings/transition_duration_control.hpp"

namespace vurle {

using namespace platform::ui;

View AccessibilityStep(std::shared_ptr<OnboardingFlow> flow) {
  return Composite("AccessibilityStep", [flow](Context& c) {
    c.observe(flow->accessibilityGrantedPublisher());
    const bool granted = flow->accessibilityGranted();
    const bool reduceMotion = c.environment().reduceMotion;
    const bool reduceTransparency = c.environment().reduceTransparency;
    const std::string pane = accessibilitySettingsName();
    const Color secondary = Color::secondary();

    View status = HStack(
        VerticalAlignment::center, 12,
        {ImageSystem(granted ? "checkmark.circle.fill" : "accessibility")
             .foregroundStyle(granted ? Color::systemGreen() : Color::primary())
             .font(Font::system(28))
             .frame(38.0, std::nullopt)
             .accessibilityHidden(true),
         VStack(HorizontalAlignment::leading, 4,
                {Text(granted ? "Access allowed" : pane).font(Font::system(14, FontWeight::semibold)),
                 Text(granted ? "vurle is ready to animate across apps." : "One permission, set in System Settings.")
                     .font(Font::system(11))
                     .foregroundStyle(secondary)})});
    std::vector<View> rows{
        status,
        Text("vurle checks which window is under your pointer and pauses while you type. It doesn\u2019t read typed "
             "text or record your screen.")
            .font(Font::system(12))
            .foregroundStyle(secondary)
            .lineSpacing(3)
            .fixedSize(false, true)};
    if (!granted) {
      rows.push_back(Divider());
      rows.push_back(Text("Open " + pane + " settings, turn on vurle, then return here.")
                         .font(Font::system(12))
                         .fixedSize(false, true));
      rows.push_back(Text("If vurle isn\u2019t listed, use + to add the app.")
                         .font(Font::system(11))
                         .foregroundStyle(secondary)
                         .fixedSize(false, true));
    }
    return VStack(HorizontalAlignment::leading, 20, std::move(rows))
        .padding(20)
        .frame(std::nullopt, std::numeric_limits<double>::infinity(), std::nullopt, std::nullopt, Alignment::leading())
        .background(Shape(ShapeKind::roundedRectangle, 20)
                        .fill(Color::controlBackground().withOpacity(reduceTransparency ? 1.0 : 0.74)))
        .animation(reduceMotion ? std::nullopt : std::optional<Animation>(Animation::easeInOut(0.2)), granted);
  });
}

}  // namespace vurle
