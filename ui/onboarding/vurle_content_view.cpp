#include "ui/onboarding/vurle_content_view.hpp"

#include "platform/dispatch/run_loop.hpp"
#include "ui/onboarding/onboarding_view.hpp"
#include "ui/settings/lab_view.hpp"
#include "ui/settings/success_mark.hpp"

namespace vurle {

using namespace platform;
using namespace platform::ui;

namespace {

View CompletionCard(std::weak_ptr<OnboardingFlow> weakFlow, bool reduceTransparency) {
  auto dismiss = [weakFlow] {
    auto flow = weakFlow.lock();
    if (flow && flow->showsCompletion()) flow->setShowsCompletion(false);
  };
  // A plain button here lays its label out at the label's own size, so the
  // label is given the window's size to make the whole window the button.
  return GeometryReader([dismiss, reduceTransparency](CGSize size) {
           View label = VStack(HorizontalAlignment::center, 16,
                               {SuccessMark().frame(56.0, 56.0),
                                Text("You\u2019re all set.")
                                    .font(Font::system(22, FontWeight::medium))
                                    .tracking(-0.4)
                                    .foregroundStyle(Color::primary())})
                            .frame(size.width, size.height, Alignment::center())
                            .background(ColorView(Color::windowBackground().withOpacity(reduceTransparency ? 1.0 : 0.72))
                                            .ignoresSafeArea())
                            .contentShape(ShapeKind::rectangle);
           return Button(label, dismiss)
               .buttonStyle(ButtonStyleKind::plain)
               .keyboardShortcut(KeyboardShortcut::cancelAction)
               .accessibilityLabel("You\u2019re all set.")
               .accessibilityHint("Dismiss confirmation");
         })
      .ignoresSafeArea()
      .transition("opacity")
      .onReceive<int>(timerPublisher(kCompletionCardSeconds, false), [dismiss](const int&) { dismiss(); });
}

}  // namespace

std::optional<VurleContentView::Confirmation> VurleContentView::confirmation() const {
  if (flow->showsCompletion()) return Confirmation::onboarding;
  return std::nullopt;
}

View VurleContentView::body() const {
  const VurleContentView view = *this;
  return Composite("VurleContentView", [view](Context& c) {
    c.observe(view.preferences->showsOnboardingPublisher());
    c.observe(view.flow->showsCompletionPublisher());
    const bool reduceMotion = c.environment().reduceMotion;
    const bool reduceTransparency = c.environment().reduceTransparency;
    const bool confirming = view.confirmation().has_value();
    const Color yellow = kSettingsYellow;

    View content = If(view.preferences->showsOnboarding(),
                      OnboardingView{view.flow, view.preferences, view.engine, view.welcomeExamples, view.loginItem,
                                     yellow}
                          .body(),
                      LabView{view.engine, view.examples, view.preferences, view.agreement, view.loginItem, yellow}
                          .body());
    // The card is the page's sibling rather than an overlay of it, so that
    // hiding the page from accessibility leaves the card announced.
    return ZStack({content.blur(confirming && !reduceTransparency ? 14 : 0, false)
                       .allowsHitTesting(!confirming)
                       .accessibilityHidden(confirming),
                   If(confirming, CompletionCard(view.flow, reduceTransparency))})
        .animation(reduceMotion ? std::nullopt : std::optional<Animation>(Animation::easeInOut(0.22)), confirming);
  });
}

}  // namespace vurle
