#include "support/bug_report_window.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "platform/appkit/application.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/dispatch/dispatch_queue.hpp"
#include "platform/dispatch/run_loop.hpp"
#include "platform/foundation/number_formatter.hpp"
#include "platform/foundation/unicode_text.hpp"
#include "support/vurle_updates.hpp"
#include "ui/onboarding/legal_agreement.hpp"
#include "ui/settings/feedback_notice.hpp"

namespace vurle {

using namespace platform;
using namespace platform::ui;

namespace {

constexpr double kTallest = 660;
constexpr double kScreenMargin = 100;
const Color kYellow = Color::sRGB(1.0, 0.8, 0.0, 1.0);
const Color kTextBackground{1, 1, 1, 1, "textBackground"};
constexpr const char* kTop = "report-start";

View secondary(std::string text, double size) {
  return Text(std::move(text)).font(Font::system(size)).foregroundStyle(Color::secondary());
}
View heading(std::string text) { return Text(std::move(text)).font(Font::system(12, FontWeight::semibold)); }

Binding<std::string> bound(const std::shared_ptr<BugReportStore>& store, const std::string& (BugReportStore::*get)() const,
                           void (BugReportStore::*set)(std::string)) {
  return {[store, get] { return ((*store).*get)(); }, [store, set](std::string text) { ((*store).*set)(std::move(text)); }};
}

// The newer release: what it means here, and the way to it.
View newerRelease(const std::shared_ptr<BugReportStore>& store, const std::shared_ptr<UpdateController>& updates,
                  const BugReportVersionState& state) {
  const BugReportRelease& release = *state.release;
  const BugReportMetadata& running = store->metadata();
  const bool runsHere = state.runsHere;
  const std::string detail =
      runsHere ? "You’re using " + running.version + " (build " + running.build + "). Version " + release.version +
                     " (build " + std::to_string(release.build) + ") may already fix this. You can still send the report."
               : "Version " + release.version + " requires macOS " + release.minimumSystemVersion +
                     ". You can still report problems with this version.";
  const bool check = runsHere && updates->canCheckForUpdates();
  return VStack(HorizontalAlignment::leading, 8,
                {FeedbackNotice{FeedbackNotice::Kind::warning, "A newer version is available", detail}.body(),
                 Button(check ? "Check for updates…" : "View updates",
                        [updates, runsHere] {
                          // Decided again at the press: the updater may have stopped being able to check.
                          if (runsHere && updates->canCheckForUpdates()) {
                            updates->checkForUpdates(false);
                          } else {
                            NSWorkspace::sharedWorkspace().openURL(
                                builtInSiteRoot().URLByAppendingPathComponent("updates/").absoluteString());
                          }
                        })
                     .font(Font::system(12))
                     .padding(Edge::leading, 2)});
}

View releaseSection(const std::shared_ptr<BugReportStore>& store, const std::shared_ptr<UpdateController>& updates) {
  const BugReportVersionState& state = store->versionState();
  using Kind = BugReportVersionState::Kind;
  switch (state.kind) {
    case Kind::checking:
      return HStack(VerticalAlignment::center, 7,
                    {ProgressView().controlSize("small"), Text("Checking for a newer version…")})
          .font(Font::system(11))
          .foregroundStyle(Color::secondary());
    case Kind::current: return View();
    case Kind::unpublished: return secondary("Public release information isn’t available yet.", 11);
    case Kind::unavailable: return secondary("Couldn’t check for updates. You can still send your report.", 11);
    case Kind::newer: break;
  }
  return state.release ? newerRelease(store, updates, state) : View();
}

View sendFooter(const std::shared_ptr<BugReportStore>& store, State<std::optional<BugReportField>> focused) {
  // Made again every second, so the wait counts down and Send enables
  // itself when it ends.
  return TimelineView(1.0, [store, focused](double) {
    const bool sending = store->isSending();
    const std::int64_t wait = store->remainingWait();
    const bool canSend = !sending && wait == 0 && !trimmingWhiteSpace(store->summary()).empty() &&
                         !trimmingWhiteSpace(store->details()).empty();
    std::vector<View> items;
    if (sending) items.push_back(ProgressView().controlSize("small"));
    else if (wait >= 1) items.push_back(secondary(retryMessage(wait), 11));
    items.push_back(Button(Text(sending ? "Sending…" : "Send report")
                               .foregroundStyle(canSend ? Color::black() : Color::secondary()),
                           [store, focused] {
                             focused.set(std::nullopt);
                             store->submit();
                           })
                        .buttonStyle(ButtonStyleKind::borderedProminent)
                        .tint(kYellow)
                        .keyboardShortcut(KeyboardShortcut::defaultAction)
                        .disabled(!canSend));
    return HStack(VerticalAlignment::center, 10, std::move(items));
  });
}

}  // namespace

double bugReportContentHeight(const std::shared_ptr<NSScreen>& screen) {
  if (!screen) return kTallest;
  const double height = screen->visibleFrame().size.height - kScreenMargin;
  // A short screen would otherwise give a form of no height at all.
  if (!std::isfinite(height)) return kTallest;
  return std::clamp(height, kBugReportSentHeight, kTallest);
}

View BugReportSheet(std::shared_ptr<BugReportStore> store, std::function<void()> close, BugReportSheetSettings settings) {
  std::shared_ptr<UpdateController> updates = settings.updates ? settings.updates : VurleUpdates::shared();
  auto siteBase = settings.siteBase ? settings.siteBase : [] { return siteBaseURL(); };
  return Composite("BugReportSheet", [store, close, updates, siteBase](Context& c) {
    c.observe(store->summaryPublisher());
    c.observe(store->detailsPublisher());
    c.observe(store->emailPublisher());
    c.observe(store->isSendingPublisher());
    c.observe(store->didSendPublisher());
    c.observe(store->errorPublisher());
    c.observe(store->versionStatePublisher());
    c.observe(updates->canCheckForUpdatesPublisher());
    auto focused = c.state<std::optional<BugReportField>>("focused", std::nullopt);
    const BugReportMetadata& metadata = store->metadata();

    const View header =
        HStack(VerticalAlignment::center, 10,
               {ImageSystem("ladybug.fill").font(Font::system(20)).foregroundStyle(Color::secondary()),
                VStack(HorizontalAlignment::leading, 4,
                       {Text("Report a bug").font(Font::system(20, FontWeight::semibold)),
                        secondary("Tell me what went wrong.", 12)}),
                Spacer()})
            .padding(24);

    std::vector<View> content;
    if (store->didSend()) {
      content.push_back(
          FeedbackNotice{FeedbackNotice::Kind::success, "Report sent", "Thanks for helping make vurle better."}.body());
    } else {
      if (const auto& error = store->error())
        content.push_back(FeedbackNotice{FeedbackNotice::Kind::error, "Report needs attention", *error}.body());
      content.push_back(releaseSection(store, updates));
      content.push_back(VStack(HorizontalAlignment::leading, 7,
                               {heading("Summary"),
                                TextField("", bound(store, &BugReportStore::summary, &BugReportStore::setSummary),
                                          "A short description of the problem")
                                    .roundedBorderTextFieldStyle()
                                    .focused(focused.binding(), BugReportField::summary)
                                    .accessibilityLabel("Bug summary")}));
      content.push_back(VStack(
          HorizontalAlignment::leading, 7,
          {heading("What happened?"), secondary("Include steps to reproduce it and what you expected.", 11),
           TextEditor(bound(store, &BugReportStore::details, &BugReportStore::setDetails))
               .font(Font::system(12))
               .scrollContentBackground(false)
               .padding(7)
               .frame(std::nullopt, 130)
               .background(Shape(ShapeKind::roundedRectangle, 8).fill(kTextBackground))
               .focused(focused.binding(), BugReportField::details)
               .accessibilityLabel("Bug details"),
           secondary("20–" + NSNumberFormatter::localizedDecimalString(6000) + " characters", 10)}));
      content.push_back(VStack(HorizontalAlignment::leading, 7,
                               {HStack(VerticalAlignment::center, std::nullopt,
                                       {heading("Email"), secondary("optional, for a reply", 11)}),
                                TextField("", bound(store, &BugReportStore::email, &BugReportStore::setEmail),
                                          "name@example.com")
                                    .roundedBorderTextFieldStyle()
                                    .focused(focused.binding(), BugReportField::email)
                                    .accessibilityLabel("Email, optional")}));
      std::vector<View> included = {
          heading("Included automatically"),
          HStack(VerticalAlignment::center, std::nullopt,
                 {Text("vurle " + metadata.version + " (" + metadata.build + ")"), Spacer(),
                  Text("macOS " + metadata.macOS)})
              .font(Font::system(11)),
          secondary("These details and what you type are sent only when you choose Send report.", 11)
              .fixedSize(false, true)};
      if (const auto base = siteBase())
        included.push_back(
            Link("Privacy policy", base->URLByAppendingPathComponent("privacy/").absoluteString()).font(Font::system(11)));
      content.push_back(VStack(HorizontalAlignment::leading, 8, std::move(included))
                            .padding(12)
                            .frame(std::nullopt, std::numeric_limits<double>::infinity(), std::nullopt, std::nullopt,
                                   Alignment::leading())
                            .background(Shape(ShapeKind::roundedRectangle, 10).fill(Color::primary().withOpacity(0.04))));
    }
    const bool sending = store->isSending();
    const std::optional<std::string> error = store->error();
    const bool sent = store->didSend();
    const View body = ScrollViewReader([content, sending, error, sent](ScrollViewProxy proxy) {
      return ScrollView(VStack(HorizontalAlignment::leading, 16, content).padding(24).id(kTop).disabled(sending))
          .onChange<std::optional<std::string>>(error,
                                                [proxy](const auto&, const auto& now) {
                                                  if (now) proxy.scrollTo(kTop, "top");
                                                })
          .onChange<bool>(sent, [proxy](const bool&, const bool& now) {
            if (now) proxy.scrollTo(kTop, "top");
          });
    });

    const View footer =
        HStack(VerticalAlignment::center, std::nullopt,
               {Button(sent ? "Done" : "Cancel", close).keyboardShortcut(KeyboardShortcut::cancelAction), Spacer(),
                sent ? Button("Send another report",
                              [store, focused] {
                                store->reset();
                                focused.set(BugReportField::summary);
                              })
                     : sendFooter(store, focused)})
            .padding(Edge::horizontal, 24)
            .padding(Edge::vertical, 16);

    return VStack(HorizontalAlignment::center, 0, {header, Divider(), body, Divider(), footer})
        .background(ColorView(Color::windowBackground()).ignoresSafeArea())
        .onAppear([store, focused] {
          if (!store->didSend()) focused.set(BugReportField::summary);
        })
        .onExitCommand(close);
  });
}

// ---- the presenter -------------------------------------------------------

std::shared_ptr<BugReportPresenter> BugReportPresenter::make(BugReportSheetSettings settings) {
  return std::shared_ptr<BugReportPresenter>(new BugReportPresenter(std::move(settings)));
}

void BugReportPresenter::present(const std::shared_ptr<NSWindow>& given, std::shared_ptr<BugReportStore> store) {
  if (!store) store = BugReportStore::shared();
  if (window_) {
    window_->makeKeyAndOrderFront();
    return;
  }
  auto app = NSApplication::shared();
  std::shared_ptr<NSWindow> parent;
  if (given) {
    parent = given->sheetParent() ? given->sheetParent() : given;
  } else if (auto key = app->keyWindow()) {
    parent = key->sheetParent() ? key->sheetParent() : key;
  } else {
    parent = app->mainWindow();
  }
  if (!parent || parent->attachedSheet()) return;
  // A sent report is never shown again; unsent text stays.
  if (store->didSend()) store->reset();
  const double height = bugReportContentHeight(parent->screen());

  auto window = std::make_shared<NSWindow>(CGRectMake(0, 0, kBugReportWidth, height), NSWindowStyleMaskTitled,
                                           NSBackingStoreBuffered, false);
  window->setTitle("Report a bug");
  window->setReleasedWhenClosed(false);
  std::weak_ptr<BugReportPresenter> weak = weak_from_this();
  auto host = NSHostingView::make(BugReportSheet(store,
                                                 [weak] {
                                                   if (auto self = weak.lock()) self->close();
                                                 },
                                                 settings_),
                                  CGRectMake(0, 0, kBugReportWidth, height));
  window->setContentView(host);
  window->setContentSize(NSMakeSize(kBugReportWidth, height));
  store_ = store;
  window_ = window;
  host_ = host;

  app->activateIgnoringOtherApps(true);
  std::weak_ptr<NSWindow> weakWindow = window;
  parent->beginSheet(window, [weak, weakWindow](NSModalResponse) {
    auto self = weak.lock();
    if (!self || self->window_ != weakWindow.lock()) return;
    self->window_.reset();
    self->host_.reset();
    self->sizeObservation_.reset();
  });

  // Changes only: the current value is what the window was made for.
  const auto changes = Publisher<bool>([upstream = store->didSendPublisher()](std::function<void(const bool&)> receive) {
    auto first = std::make_shared<bool>(true);
    return upstream.sink([first, receive](const bool& sent) {
      if (!std::exchange(*first, false)) receive(sent);
    });
  });
  sizeObservation_ = changes.receive(RunLoop::main()).sink([weakWindow, height](const bool& sent) {
    if (auto shown = weakWindow.lock()) updateContentSize(shown, height, sent);
  });
  store->checkForNewerRelease();
}

void BugReportPresenter::updateContentSize(const std::shared_ptr<NSWindow>& window, double height, bool didSend) {
  const NSRect old = window->frame();
  const NSRect content = window->frameRectForContentRect(CGRectMake(0, 0, kBugReportWidth, didSend ? kBugReportSentHeight : height));
  // The top edge stays where it is (y grows upwards).
  const NSRect frame = CGRectMake(old.origin.x, old.origin.y + old.size.height - content.size.height, old.size.width,
                                  content.size.height);
  window->setFrame(frame, true, !NSWorkspace::sharedWorkspace().accessibilityDisplayShouldReduceMotion());
}

void BugReportPresenter::close() {
  const auto keep = shared_from_this();
  if (store_) store_->cancelSending();
  dismiss();
}

void BugReportPresenter::dismiss() {
  const auto window = window_;
  if (!window) return;
  if (auto parent = window->sheetParent()) parent->endSheet(window);
  window->orderOut();
  // The form's own button may be running this: its window and graph last
  // until the current event is done with them.
  DispatchQueue::main()->async([window, host = host_] {});
  window_.reset();
  host_.reset();
  sizeObservation_.reset();
}

}  // namespace vurle
