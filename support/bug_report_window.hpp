#pragma once

// The bug-report form and the presenter that shows it as a sheet.
//
// BugReportPresenter keeps at most one form open, on the main window (or
// the window given, or the key window): a titled 500-point-wide window whose
// content height H is the parent screen's visible height less 100, at most
// 660 and at least 270 (the sent form's height), 660 without a screen. A
// parent that already shows a sheet opens nothing. Opening starts one
// release check; a form opened again while open only comes to the front. A
// sent report is never shown again; unsent text survives closing. When the
// store's didSend changes the window takes 270 points of content (sent) or
// H again, keeping its top edge, animated unless Reduce Motion is on.
//
// BugReportSheet is the form: header, a body that scrolls (the attention
// notice, the release notice, the three fields, what is sent along), and
// Cancel/Done and Send. It keeps only the focus; every text and outcome is
// the store's. Send is the default button (Return, except in the details
// editor, where Return breaks the line), Cancel the cancel button (Escape,
// so the form's exit command runs only if no cancel button is enabled).
// Main thread only.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/shell_seams.hpp"
#include "platform/appkit/screen.hpp"
#include "platform/appkit/window.hpp"
#include "platform/combine/published.hpp"
#include "platform/foundation/url.hpp"
#include "platform/ui/graph.hpp"
#include "support/bug_report_store.hpp"

namespace vurle {

// What the form reads besides its store.
struct BugReportSheetSettings {
  // The update controller; null: VurleUpdates::shared().
  std::shared_ptr<UpdateController> updates;
  // The root of the Privacy policy link; empty: siteBaseURL(). Returning
  // none leaves the link out.
  std::function<std::optional<platform::NSURL>()> siteBase;
};

enum class BugReportField { summary, details, email };

platform::ui::View BugReportSheet(std::shared_ptr<BugReportStore> store, std::function<void()> close,
                                  BugReportSheetSettings settings = {});

// The form's content height for a parent on this screen (none: no screen).
double bugReportContentHeight(const std::shared_ptr<platform::NSScreen>& screen);
inline constexpr double kBugReportWidth = 500;
inline constexpr double kBugReportSentHeight = 270;

class BugReportPresenter : public std::enable_shared_from_this<BugReportPresenter> {
 public:
  static std::shared_ptr<BugReportPresenter> make(BugReportSheetSettings settings = {});

  // Opens the form over the window (see above), with the store (none: the
  // shared one).
  void present(const std::shared_ptr<platform::NSWindow>& window,
               std::shared_ptr<BugReportStore> store = nullptr);
  // The form's close action: stops a running send, then dismisses.
  void close();
  // Ends the sheet and forgets the window.
  void dismiss();

  // The open form's window and its hosting view; null while closed.
  std::shared_ptr<platform::NSWindow> window() const { return window_; }
  std::shared_ptr<platform::ui::NSHostingView> hostingView() const { return host_; }

 private:
  explicit BugReportPresenter(BugReportSheetSettings settings) : settings_(std::move(settings)) {}
  static void updateContentSize(const std::shared_ptr<platform::NSWindow>& window, double height, bool didSend);

  BugReportSheetSettings settings_;
  std::shared_ptr<BugReportStore> store_;
  std::shared_ptr<platform::NSWindow> window_;
  std::shared_ptr<platform::ui::NSHostingView> host_;
  std::optional<platform::AnyCancellable> sizeObservation_;
};

}  // namespace vurle
