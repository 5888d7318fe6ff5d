#include "ui/settings/feedback_notice.hpp"

#include <limits>

#include "ui/settings/success_mark.hpp"

namespace vurle {

using namespace platform::ui;

Color FeedbackNotice::tint(Kind kind) {
  switch (kind) {
    case Kind::success: return Color::systemGreen();
    case Kind::warning: return Color::orange();
    case Kind::error: return Color::systemRed();
    case Kind::progress: break;
  }
  return Color::secondary();
}

namespace {

View icon(FeedbackNotice::Kind kind) {
  switch (kind) {
    case FeedbackNotice::Kind::success:
      return SuccessMark().frame(18, 18);
    case FeedbackNotice::Kind::warning:
    case FeedbackNotice::Kind::error:
      return ImageSystem("exclamationmark.triangle.fill")
          .font(Font::system(17, FontWeight::semibold))
          .foregroundStyle(FeedbackNotice::tint(kind))
          .frame(18, std::nullopt);
    case FeedbackNotice::Kind::progress: break;
  }
  return ProgressView().controlSize("small").frame(18, 18);
}

}  // namespace

View FeedbackNotice::body() const {
  const Color shade = tint(kind);
  const auto card = [] { return Shape(ShapeKind::roundedRectangle, 12); };
  return Composite("FeedbackNotice", [notice = *this, shade, card](Context&) {
    return HStack(VerticalAlignment::top, 10,
                  {icon(notice.kind),
                   VStack(HorizontalAlignment::leading, 4,
                          {Text(notice.title).font(Font::system(13, FontWeight::semibold)),
                           Text(notice.detail).font(Font::system(12)).fixedSize(false, true).textSelection(true)})
                       .foregroundStyle(Color::primary())
                       .frame(std::nullopt, std::numeric_limits<double>::infinity(), std::nullopt, std::nullopt,
                              Alignment::leading())})
        .padding(13)
        .background(card().fill(Color::controlBackground()))
        .background(card().fill(shade.withOpacity(0.12)))
        .overlay(card().fill(shade.withOpacity(0.08)).allowsHitTesting(false))
        .accessibilityElement(AccessibilityChildren::combine)
        .accessibilityLabel(notice.accessibilityText());
  });
}

}  // namespace vurle
