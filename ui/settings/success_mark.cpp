#include "ui/settings/success_mark.hpp"

#include <algorithm>
#include <optional>

namespace vurle {

using namespace platform;
using namespace platform::ui;

Path successTickPath(CGRect r) {
  const double w = r.size.width, h = r.size.height;
  Path path;
  path.move({CGRectGetMinX(r) + 0.08 * w, CGRectGetMidY(r)});
  path.addLine({CGRectGetMinX(r) + 0.38 * w, CGRectGetMaxY(r) - 0.15 * h});
  path.addLine({CGRectGetMaxX(r) - 0.05 * w, CGRectGetMinY(r) + 0.15 * h});
  return path;
}

View SuccessTick() { return PathShape("SuccessTick", successTickPath); }

View SuccessMark() {
  return Composite("SuccessMark", [](Context& c) {
    auto revealed = c.state<bool>("revealed", false);
    const bool reduceMotion = c.environment().reduceMotion;
    const bool complete = revealed.get() || reduceMotion;
    const Color green = Color::systemGreen();
    return GeometryReader([complete, green](CGSize size) {
             const double w = size.width;
             return ZStack({Shape(ShapeKind::circle).fill(green.withOpacity(0.14)),
                            SuccessTick()
                                .trim(0, complete ? 1 : 0)
                                .stroke(green, StrokeStyle{std::max(w * 0.06, 2.0), LineCap::round, LineJoin::round, 10})
                                .inset(w * 0.23)});
           })
        .scaleEffect(complete ? 1.0 : 0.88)
        .accessibilityHidden(true)
        .onAppear([revealed, reduceMotion] {
          withAnimation(reduceMotion ? std::nullopt : std::optional<Animation>(Animation::easeOut(0.3)),
                        [revealed] { revealed.set(true); });
        });
  });
}

}  // namespace vurle
