#include "ui/onboarding/legal_agreement_sheet_controller.hpp"

#include <cctype>
#include <initializer_list>
#include <limits>

#include "platform/appkit/button.hpp"
#include "platform/appkit/layout_constraint.hpp"
#include "platform/appkit/stack_view.hpp"
#include "platform/appkit/text_field.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/foundation/data_detector.hpp"
#include "platform/foundation/regular_expression.hpp"
#include "platform/foundation/unicode_text.hpp"

namespace vurle {
namespace {

using namespace platform;

constexpr CGFloat kLargest = std::numeric_limits<CGFloat>::max();
constexpr const char* kUnavailableText = "The bundled EULA couldn\u2019t be loaded. Reinstall vurle before continuing.";
constexpr const char16_t* kLawPhrase = u"To the extent the law permits,";
// "At most 79 characters" counts UTF-16 units, like the offsets.
constexpr std::size_t kHeadingLength = 79;

std::u16string foldedMailLinks(const std::u16string& text) {
  static const auto expression = NSRegularExpression::make(
      "(\\b[^\\s<>()]+@[^\\s<>()]+)[ \\t]+\\(mailto:\\1\\)", NSRegularExpression::caseInsensitive);
  if (!expression) return text;
  // A search that fails (the step limit) leaves the text as written.
  return expression->stringByReplacingMatches(text, u"$1").value_or(text);
}

NSTextAttributes fontOnly(NSFont font) {
  NSTextAttributes a;
  a.font = font;
  return a;
}

}  // namespace

void LegalAgreementPanel::cancelOperation(const void*) {
  if (cancel) cancel();
}

NSAttributedString LegalAgreementSheetController::formattedAgreement(const std::string& source) {
  const std::u16string text = foldedMailLinks(utf16String(source));
  NSTextAttributes base;
  base.font = NSFont::systemFontOfSize(13);
  base.foregroundColor = NSColor::textColor();
  base.paragraphStyle = NSParagraphStyle{3};
  NSAttributedString result(text, base);

  std::size_t offset = 0, index = 0;
  for (;;) {
    const std::size_t end = text.find(u"\n\n", offset);
    const std::size_t length = (end == std::u16string::npos ? text.size() : end) - offset;
    const std::u16string_view paragraph(text.data() + offset, length);
    const NSRange range = NSMakeRange(offset, length);
    if (index == 0) {
      NSTextAttributes small = fontOnly(NSFont::systemFontOfSize(11));
      small.foregroundColor = NSColor::secondaryLabelColor();
      result.addAttributes(small, range);
    } else if (index == 1 || (length <= kHeadingLength && paragraph.find(u'.') == std::u16string_view::npos)) {
      result.addAttributes(fontOnly(NSFont::systemFontOfSize(15, NSFontWeight::semibold)), range);
    } else if (paragraph.starts_with(kLawPhrase)) {
      result.addAttributes(fontOnly(NSFont::systemFontOfSize(13, NSFontWeight::semibold)), range);
    }
    if (end == std::u16string::npos) break;
    offset += length + 2;
    ++index;
  }

  if (const auto detector = NSDataDetector::linkDetector()) {
    for (const auto& match : detector->matchesInString(text)) {
      NSTextAttributes link;
      link.link = match.URL;
      result.addAttributes(link, match.range);
    }
  }
  return result;
}

std::shared_ptr<LegalAgreementSheetController> LegalAgreementSheetController::make(
    std::optional<LegalAgreement::Document> document) {
  std::shared_ptr<LegalAgreementSheetController> controller(new LegalAgreementSheetController());
  controller->document_ = document;
  controller->build(document);
  return controller;
}

void LegalAgreementSheetController::build(const std::optional<LegalAgreement::Document>& document) {
  auto panel = std::make_shared<LegalAgreementPanel>(CGRectMake(0, 0, 640, 610),
                                                     NSWindowStyleMaskTitled | NSWindowStyleMaskResizable,
                                                     NSBackingStoreBuffered, false);
  panel->setTitle("vurle License Agreement");
  panel->setReleasedWhenClosed(false);
  panel->setHidesOnDeactivate(false);
  panel->setMinSize(NSMakeSize(480, 400));
  panel->setCollectionBehavior(NSWindowCollectionBehaviorFullScreenAuxiliary);

  auto scroll = NSTextView::scrollableTextView();
  auto textView = std::dynamic_pointer_cast<NSTextView>(scroll->documentView());
  if (!textView) {
    textView = std::make_shared<NSTextView>();
    scroll->setDocumentView(textView);
  }
  agreementText_ = textView;

  const auto self = std::static_pointer_cast<LegalAgreementSheetController>(shared_from_this());
  const std::weak_ptr<LegalAgreementSheetController> weak = self;
  setWindow(panel);
  panel->cancel = [weak] {
    if (auto controller = weak.lock()) {
      if (auto done = controller->onDone) done();
    }
  };

  auto content = std::make_shared<NSView>(CGRectMake(0, 0, 640, 610));
  panel->setContentView(content);

  auto title = NSTextField::labelWithString("End-User License Agreement");
  title->setFont(NSFont::systemFontOfSize(18, NSFontWeight::semibold));
  auto revision = NSTextField::labelWithString(document ? "vurle \u00B7 revision " + document->version
                                                        : "Agreement unavailable");
  revision->setFont(NSFont::systemFontOfSize(11));
  revision->setTextColor(NSColor::secondaryLabelColor());

  scroll->setBorderType(NSBorderType::bezelBorder);
  scroll->setHasVerticalScroller(true);
  scroll->setHasHorizontalScroller(false);
  scroll->setAutohidesScrollers(true);

  textView->setEditable(false);
  textView->setSelectable(true);
  textView->setRichText(true);
  textView->setVerticallyResizable(true);
  textView->setHorizontallyResizable(false);
  textView->setMinSize(NSMakeSize(0, 0));
  textView->setMaxSize(NSMakeSize(kLargest, kLargest));
  textView->setAutoresizingMask(NSViewWidthSizable);
  textView->textContainer().setWidthTracksTextView(true);
  textView->textContainer().setContainerSize(NSMakeSize(600, kLargest));
  textView->setTextContainerInset(NSMakeSize(16, 16));
  textView->setBackgroundColor(NSColor::textBackgroundColor());
  textView->setTextColor(NSColor::textColor());
  textView->setUsesFindBar(true);
  textView->setAllowsUndo(false);
  textView->setDelegate(self);
  NSTextAttributes linkLook;
  linkLook.foregroundColor = NSColor::linkColor();
  linkLook.underlineStyle = NSUnderlineStyleSingle;
  textView->setLinkTextAttributes(linkLook);
  textView->setAccessibilityLabel("End-user license agreement");

  // An unreachable storage leaves the view empty.
  if (const auto& storage = textView->textStorage()) {
    if (document) {
      storage->setAttributedString(formattedAgreement(document->text));
      textView->didChangeText();
    } else {
      textView->setString(kUnavailableText);
    }
  }

  auto note = NSTextField::wrappingLabelWithString(
      "You can select and copy the agreement text. Links open in your default app.");
  note->setFont(NSFont::systemFontOfSize(11));
  note->setTextColor(NSColor::secondaryLabelColor());

  auto done = NSButton::buttonWithTitle("Done", [weak] {
    if (auto controller = weak.lock()) controller->primaryAction();
  });
  done->setBezelStyle(NSBezelStyle::rounded);
  done->setKeyEquivalent("\r");
  auto buttons = NSStackView::stackViewWithViews({done});
  buttons->setOrientation(NSUserInterfaceLayoutOrientation::horizontal);
  buttons->setSpacing(8);
  panel->setDefaultButtonCell(done->cell());

  for (const std::shared_ptr<NSView>& view : std::initializer_list<std::shared_ptr<NSView>>{title, revision, scroll, note, buttons}) {
    view->setTranslatesAutoresizingMaskIntoConstraints(false);
    content->addSubview(view);
  }
  using A = NSLayoutAttribute;
  const auto lessOrEqual = NSLayoutRelation::lessThanOrEqual;
  NSLayoutConstraint::activateConstraints({
      NSLayoutConstraint::make(title, A::top, content, A::top, 20),
      NSLayoutConstraint::make(title, A::leading, content, A::leading, 20),
      NSLayoutConstraint::make(title, A::trailing, lessOrEqual, content, A::trailing, -20),
      NSLayoutConstraint::make(revision, A::top, title, A::bottom, 5),
      NSLayoutConstraint::make(revision, A::leading, title, A::leading),
      NSLayoutConstraint::make(scroll, A::top, revision, A::bottom, 16),
      NSLayoutConstraint::make(scroll, A::leading, content, A::leading, 20),
      NSLayoutConstraint::make(scroll, A::trailing, content, A::trailing, -20),
      NSLayoutConstraint::make(note, A::top, scroll, A::bottom, 12),
      NSLayoutConstraint::make(note, A::leading, scroll, A::leading),
      NSLayoutConstraint::make(note, A::trailing, scroll, A::trailing),
      NSLayoutConstraint::make(buttons, A::top, note, A::bottom, 12),
      NSLayoutConstraint::make(buttons, A::trailing, content, A::trailing, -20),
      NSLayoutConstraint::make(buttons, A::bottom, content, A::bottom, -20),
  });

  panel->setInitialFirstResponder(textView);
}

void LegalAgreementSheetController::primaryAction() {
  // The action may drop the last owner of this controller while it runs.
  const auto keep = shared_from_this();
  const auto action = onDone;
  if (action) action();
}

bool LegalAgreementSheetController::textViewClickedOnLink(NSTextView&, const NSLinkValue& link, std::size_t) {
  const auto* url = std::get_if<NSURL>(&link);
  if (!url) return true;
  std::string scheme = url->scheme().value_or("");
  for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (scheme != "https" && scheme != "http" && scheme != "mailto") return true;
  NSWorkspace::sharedWorkspace().openURL(legalLinkDestination(*url).absoluteString());
  return true;
}

}  // namespace vurle
