#include "ui/onboarding/onboarding_view.hpp"

#include <algorithm>
#include <limits>

#include "app/brand_images.hpp"
#include "platform/appkit/application.hpp"
#include "platform/appkit/screen.hpp"
#include "platform/appkit/window.hpp"
#include "platform/dispatch/run_loop.hpp"
#include "platform/notifications/notification_center.hpp"
#include "ui/onboarding/accessibility_step.hpp"
#include "ui/onboarding/legal_agreement_view.hpp"
#include "ui/onboarding/menu_bar_step.hpp"
#include "ui/onboarding/pointer_test_strip.hpp"
#include "ui/onboarding/welcome_step.hpp"
#include "ui/settings/duration_controls.hpp"
#include "ui/settings/transition_duration_control.hpp"

namespace vurle {

using namespace platform;
using namespace platform::ui;

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

std::optional<Animation> unlessReduced(bool reduceMotion, Animation animation) {
  if (reduceMotion) return std::nullopt;
  return animation;
}

// Step changes and the primary button's change of look.
Animation stepSpring() { return Animation::spring(0.34, 1.0); }

std::string titleOf(int step) {
  switch (step) {
    case 0: return "welcome to vurle.";
    case 1: return "let vurle follow along.";
    default: return "a few things to know.";
  }
}

std::string subtitleOf(int step, bool showMenuBar) {
  switch (step) {
    case 0: return "vurle adds a short animation when your cursor changes.";
    case 1: return "Grant " + accessibilitySettingsName() + " permission to animate your cursor across apps.";
    default:
      return showMenuBar ? "Use the menu bar icon to open settings or pause animations."
                         : "Open vurle to change settings or pause animations.";
  }
}

View Header(int step) {
  std::vector<View> capsules;
  for (int i = 0; i < 3; ++i) {
    const bool current = i == step;
    capsules.push_back(Shape(ShapeKind::capsule)
                           .fill(Color::primary().withOpacity(current ? 0.7 : 0.13))
                           .frame(current ? 16.0 : 5.0, 5.0));
  }
  return HStack(VerticalAlignment::center, std::nullopt,
                {Image(logoImage())
                     .resizable()
                     .interpolation(ImageInterpolation::high)
                     .scaledToFit()
                     .frame(116.0, 28.0)
                     .foregroundStyle(Color::primary())
                     .accessibilityLabel("vurle"),
                 Spacer(),
                 HStack(VerticalAlignment::center, 5, std::move(capsules))
                     .accessibilityElement(AccessibilityChildren::ignore)
                     .accessibilityLabel("Step " + std::to_string(step + 1) + " of 3")})
      .padding(Edge::bottom, 28);
}

View TitleColumn(int step, bool showMenuBar) {
  return VStack(HorizontalAlignment::leading, 9,
                {Text(titleOf(step)).font(Font::system(29, FontWeight::semibold)).tracking(-0.7),
                 Text(subtitleOf(step, showMenuBar))
                     .font(Font::system(13))
                     .foregroundStyle(Color::secondary())
                     .lineSpacing(4)
                     .fixedSize(false, true)})
      .frame(std::nullopt, kInfinity, std::nullopt, std::nullopt, Alignment::leading())
      .padding(Edge::bottom, 22);
}

struct PrimaryLook {
  std::string text, symbol;
  double width;
};

PrimaryLook primaryLook(int step, bool granted) {
  if (step == 1 && !granted) return {"Open Settings", "arrow.up.right", 142};
  if (step >= 2) return {"All set", "checkmark", 96};
  return {"Next", "arrow.right", 96};
}

View PrimaryButton(const OnboardingView& page, int step, bool reduceMotion) {
  const bool granted = page.flow->accessibilityGranted();
  const PrimaryLook look = primaryLook(step, granted);
  const bool disabled = step == 0 && !page.flow->canContinue();
  std::weak_ptr<OnboardingFlow> weak = page.flow;
  auto action = [weak, step, granted] {
    auto flow = weak.lock();
    if (!flow) return;
    if (step == 0) flow->continueFromStep();
    else if (step == 1 && !granted) openAccessibilityPrivacySettings();
    else if (step == 1) flow->completeAccessibility();
    else flow->completeOnboarding();
  };
  View label = HStack(VerticalAlignment::center, 8,
                      {Text(look.text).contentTransition("interpolate"),
                       ImageSystem(look.symbol)
                           .font(Font::system(11, FontWeight::semibold))
                           .contentTransition("symbolReplace")})
                   .font(Font::system(13, FontWeight::medium))
                   .foregroundStyle(Color::black().withOpacity(0.85))
                   .frame(look.width, 36.0)
                   .background(Shape(ShapeKind::capsule).fill(page.yellow))
                   .contentShape(ShapeKind::capsule);
  return Button(label, action)
      .buttonStyle(SettingsPressStyle())
      .keyboardShortcut(KeyboardShortcut::defaultAction)
      .disabled(disabled)
      .opacity(disabled ? 0.45 : 1.0)
      .animation(unlessReduced(reduceMotion, stepSpring()), granted);
}

View Footer(const OnboardingView& page, int step, bool reduceMotion) {
  std::vector<View> rows;
  if (step == 0 && !page.flow->agreement()->accepted()) {
    std::weak_ptr<OnboardingFlow> weak = page.flow;
    Binding<bool> checked{[weak] {
                            auto f = weak.lock();
                            return f && f->agreementChecked();
                          },
                          [weak](bool on) {
                            if (auto f = weak.lock()) f->setAgreementChecked(on);
                          }};
    rows.push_back(LicenseAgreementConsent(page.flow->agreement(), checked, [weak] {
      if (auto f = weak.lock()) f->reviewAgreement();
    }));
  }
  std::vector<View> buttons;
  if (step >= 1) {
    std::weak_ptr<OnboardingFlow> weak = page.flow;
    Modifier transition;
    transition.name = "transition";
    transition.params["kind"] = std::string("opacity+offset");
    transition.params["x"] = -6.0;
    buttons.push_back(Button(Text("Back"),
                             [weak] {
                               if (auto f = weak.lock()) f->setStep(std::max(f->step() - 1, 0));
                             })
                          .buttonStyle(ButtonStyleKind::plain)
                          .foregroundStyle(Color::secondary())
                          .font(Font::system(12))
                          .frame(30.0, 36.0, Alignment::leading())
                          .modified(transition));
  }
  buttons.push_back(Spacer());
  buttons.push_back(PrimaryButton(page, step, reduceMotion));
  rows.push_back(HStack(VerticalAlignment::center, std::nullopt, std::move(buttons)));
  return VStack(HorizontalAlignment::leading, 14, std::move(rows))
      .fixedSize(false, true)
      .padding(Edge::horizontal, 30)
      .padding(Edge::bottom, 26);
}

View StepPage(const OnboardingView& page, int step) {
  switch (step) {
    case 0: return VStack(HorizontalAlignment::center, 12, {WelcomeStep(page.flow, page.engine, page.examples)});
    case 1: return AccessibilityStep(page.flow);
    default: return VStack(HorizontalAlignment::center, 16, {MenuBarStep(page.preferences, page.loginItem)});
  }
}

}  // namespace

double onboardingFooterReserve(int step, const LegalAgreement& agreement) {
  if (step != 0 || agreement.accepted()) return 78;
  if (!agreement.document() || !agreement.document()->isValid()) return 150;
  return 108;
}

std::vector<OnboardingWallpaperView::RenderKey> onboardingBackdropRenderKeys() {
  const auto screen = NSScreen::main();
  if (!screen) return {};
  const CGSize desktop = screen->frame().size;
  const double scale = screen->backingScaleFactor();
  return {{{400, 190}, desktop, scale, false}, {{400, 190}, desktop, scale, true}};
}

View OnboardingView::body() const {
  const OnboardingView page = *this;
  return Composite("OnboardingView", [page](Context& c) {
    const auto& flow = page.flow;
    c.observe(flow->stepPublisher());
    c.observe(flow->agreementCheckedPublisher());
    c.observe(flow->animationsEnabledPublisher());
    c.observe(flow->accessibilityGrantedPublisher());
    c.observe(flow->objectWillChangePublisher());
    c.observe(flow->agreement()->acceptedPublisher());
    c.observe(page.preferences->showMenuBarPublisher());
    const int step = flow->step();
    const bool reduceMotion = c.environment().reduceMotion;
    const bool showMenuBar = page.preferences->showMenuBar();
    const double reserve = onboardingFooterReserve(step, *flow->agreement());
    std::weak_ptr<OnboardingFlow> weakFlow = flow;
    std::weak_ptr<MorphSpeedExamples> weakExamples = page.examples;
    std::weak_ptr<LoginItem> weakLogin = page.loginItem;
    std::weak_ptr<CursorEngine> weakEngine = page.engine;

    auto appear = [weakFlow, weakExamples, weakLogin, weakEngine] {
      auto flow = weakFlow.lock();
      auto examples = weakExamples.lock();
      if (auto login = weakLogin.lock()) login->refreshStatus();
      for (const auto& key : onboardingBackdropRenderKeys()) OnboardingWallpaperView::requestRender(key);
      if (flow) flow->refreshAccessibility();
      if (!examples) return;
      if (auto engine = weakEngine.lock()) examples->setCurrentMilliseconds(engine->storedMilliseconds());
      if (flow) examples->setAnimationsEnabled(flow->animationsEnabled());
    };
    auto disappear = [weakExamples] {
      if (auto examples = weakExamples.lock()) examples->stop();
      if (auto strip = PointerTestStripView::activeStrip()) strip->cancelCursorTest();
    };
    auto becameActive = [weakFlow, weakLogin](const NSNotification&) {
      if (auto login = weakLogin.lock()) login->refreshStatus();
      if (auto flow = weakFlow.lock()) flow->refreshAccessibility();
    };
    auto tick = [weakFlow](const int&) {
      auto flow = weakFlow.lock();
      if (flow && flow->step() == 1) flow->refreshAccessibility();
    };

    View shown = GeometryReader([page, step, showMenuBar, reserve, reduceMotion](CGSize size) {
             return VStack(HorizontalAlignment::center, 0,
                           {Header(step), TitleColumn(step, showMenuBar), StepPage(page, step), Spacer(0)})
                 .padding(Edge::horizontal, 30)
                 .padding(Edge::top, 48)
                 .padding(Edge::bottom, reserve)
                 .frame(size.width, size.height, Alignment{HorizontalAlignment::center, VerticalAlignment::top})
                 .overlay(Footer(page, step, reduceMotion)
                              .frame(std::nullopt, kInfinity, std::nullopt, kInfinity,
                                     Alignment{HorizontalAlignment::center, VerticalAlignment::bottom}));
           })
        .ignoresSafeArea()
        .tint(page.yellow)
        .animation(unlessReduced(reduceMotion, stepSpring()), step)
        .onAppear(appear)
        .onDisappear(disappear)
        .onChange<bool>(flow->animationsEnabled(),
                        [weakExamples](const bool&, const bool& now) {
                          if (auto examples = weakExamples.lock()) examples->setAnimationsEnabled(now);
                        })
        .onChange<int>(step,
                       [weakFlow, weakExamples](const int&, const int& now) {
                         auto examples = weakExamples.lock();
                         auto flow = weakFlow.lock();
                         if (!examples || !flow) return;
                         if (now == 0) {
                           examples->setAnimationsEnabled(flow->animationsEnabled());
                           examples->start();
                         } else {
                           examples->stop();
                         }
                       })
        .onChange<bool>(reduceMotion,
                        [weakFlow, weakExamples](const bool&, const bool& now) {
                          auto examples = weakExamples.lock();
                          if (!examples) return;
                          examples->reset();
                          auto flow = weakFlow.lock();
                          if (!now && flow && flow->step() == 0) examples->start();
                        })
        .onReceive<NSNotification>(
            notificationPublisher(NSNotificationCenter::defaultCenter(), NSApplicationDidBecomeActiveNotification),
            becameActive);
    // The re-check has work only on the Accessibility page: elsewhere no
    // timer runs.
    if (step == 1) shown = shown.onReceive<int>(timerPublisher(1.0, true), tick);
    return shown;
  });
}

}  // namespace vurle
