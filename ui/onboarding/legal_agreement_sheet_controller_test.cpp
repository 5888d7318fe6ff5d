#include "ui/onboarding/legal_agreement_sheet_controller.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/appkit/application.hpp"
#include "platform/appkit/button.hpp"
#include "platform/appkit/event.hpp"
#include "platform/appkit/layout_constraint.hpp"
#include "platform/appkit/screen.hpp"
#include "platform/appkit/stack_view.hpp"
#include "platform/appkit/text_field.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/events/event.hpp"
#include "platform/foundation/data_detector.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/foundation/unicode_text.hpp"
#include "platform/ui/picture_test_support.hpp"
#include "platform/windowserver/window_server.hpp"

namespace vurle {
namespace {

using namespace platform;
using Document = LegalAgreement::Document;

class LegalAgreementSheetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WindowServer::shared();
    resetProcessState();
    NSScreen::setScreens({NSScreen::make(CGRectMake(0, 0, 1440, 900), 2)});
  }
  void TearDown() override { resetProcessState(); }

  static std::shared_ptr<NSTextField> label(const std::shared_ptr<NSView>& view) {
    return std::dynamic_pointer_cast<NSTextField>(view);
  }
};

// What a paragraph of the formatted text is set in.
struct Look {
  CGFloat size;
  NSFontWeight weight;
  bool secondary = false;
};

Look lookAt(const NSAttributedString& text, std::size_t index) {
  const auto& a = text.attributesAtIndex(index);
  return {a.font->pointSize(), a.font->weight(), a.foregroundColor == NSColor::secondaryLabelColor()};
}

TEST_F(LegalAgreementSheetTest, ThePanelAndItsViewsAreBuiltAsTheSheetShowsThem) {
  for (const bool withDocument : {true, false}) {
    SCOPED_TRACE(withDocument ? "with a document" : "without one");
    auto controller = LegalAgreementSheetController::make(
        withDocument ? std::optional<Document>(Document{"3.1", "Preamble.\n\nTerms"}) : std::nullopt);
    auto panel = std::dynamic_pointer_cast<LegalAgreementPanel>(controller->window());
    ASSERT_TRUE(panel);
    EXPECT_EQ(panel->windowController(), controller);
    EXPECT_EQ(panel->frame().size, NSMakeSize(640, 610));
    EXPECT_EQ(panel->styleMask(), 9u);
    EXPECT_EQ(panel->backingType(), NSBackingStoreBuffered);
    EXPECT_EQ(panel->title(), "vurle License Agreement");
    EXPECT_FALSE(panel->isReleasedWhenClosed());
    EXPECT_FALSE(panel->hidesOnDeactivate());
    EXPECT_EQ(panel->minSize(), NSMakeSize(480, 400));
    EXPECT_EQ(panel->collectionBehavior(), 256u);

    const auto& views = panel->contentView()->subviews();
    ASSERT_EQ(views.size(), 5u);
    auto title = label(views[0]), revision = label(views[1]), note = label(views[3]);
    auto scroll = std::dynamic_pointer_cast<NSScrollView>(views[2]);
    auto stack = std::dynamic_pointer_cast<NSStackView>(views[4]);
    ASSERT_TRUE(title && revision && scroll && note && stack);
    for (const auto& view : views) EXPECT_FALSE(view->translatesAutoresizingMaskIntoConstraints());
    EXPECT_EQ(panel->contentView()->constraints().size(), 14u);

    EXPECT_EQ(title->stringValue(), "End-User License Agreement");
    EXPECT_EQ(title->font(), NSFont::systemFontOfSize(18, NSFontWeight::semibold));
    EXPECT_EQ(revision->stringValue(), withDocument ? "vurle \u00B7 revision 3.1" : "Agreement unavailable");
    EXPECT_EQ(revision->font(), NSFont::systemFontOfSize(11));
    EXPECT_EQ(revision->textColor(), NSColor::secondaryLabelColor());
    EXPECT_EQ(note->stringValue(), "You can select and copy the agreement text. Links open in your default app.");
    EXPECT_TRUE(note->wraps());
    EXPECT_EQ(note->textColor(), NSColor::secondaryLabelColor());

    EXPECT_EQ(scroll->borderType(), NSBorderType::bezelBorder);
    EXPECT_TRUE(scroll->hasVerticalScroller());
    EXPECT_FALSE(scroll->hasHorizontalScroller());
    EXPECT_TRUE(scroll->autohidesScrollers());
    auto text = controller->agreementText();
    ASSERT_EQ(scroll->documentView(), text);
    EXPECT_FALSE(text->isEditable());
    EXPECT_TRUE(text->isSelectable());
    EXPECT_TRUE(text->isRichText());
    EXPECT_TRUE(text->isVerticallyResizable());
    EXPECT_FALSE(text->isHorizontallyResizable());
    EXPECT_EQ(text->autoresizingMask(), NSViewWidthSizable);
    EXPECT_TRUE(text->textContainer().widthTracksTextView());
    EXPECT_EQ(text->textContainer().containerSize().width, 600);
    EXPECT_EQ(text->textContainerInset(), NSMakeSize(16, 16));
    EXPECT_TRUE(text->usesFindBar());
    EXPECT_FALSE(text->allowsUndo());
    EXPECT_EQ(text->delegate(), controller);
    EXPECT_EQ(text->linkTextAttributes().foregroundColor, NSColor::linkColor());
    EXPECT_EQ(text->linkTextAttributes().underlineStyle, NSUnderlineStyleSingle);
    EXPECT_EQ(text->accessibilityLabel(), "End-user license agreement");
    EXPECT_EQ(text->string(), withDocument ? "Preamble.\n\nTerms"
                                           : "The bundled EULA couldn\u2019t be loaded. Reinstall vurle before continuing.");
    EXPECT_EQ(panel->initialFirstResponder(), text);

    ASSERT_EQ(stack->arrangedSubviews().size(), 1u);
    auto done = std::dynamic_pointer_cast<NSButton>(stack->arrangedSubviews()[0]);
    ASSERT_TRUE(done);
    EXPECT_EQ(done->title(), "Done");
    EXPECT_EQ(done->keyEquivalent(), "\r");
    EXPECT_EQ(done->bezelStyle(), NSBezelStyle::rounded);
    EXPECT_EQ(stack->spacing(), 8);
    EXPECT_EQ(stack->orientation(), NSUserInterfaceLayoutOrientation::horizontal);
    EXPECT_EQ(panel->defaultButtonCell(), done->cell());

    // The layout, in the unflipped content view (y up from the bottom).
    const auto top = [](const std::shared_ptr<NSView>& v) { return 610 - CGRectGetMaxY(v->frame()); };
    const auto bottom = [](const std::shared_ptr<NSView>& v) { return 610 - CGRectGetMinY(v->frame()); };
    EXPECT_EQ(top(title), 20);
    EXPECT_EQ(title->frame().origin.x, 20);
    EXPECT_EQ(top(revision), bottom(title) + 5);
    EXPECT_EQ(revision->frame().origin.x, 20);
    EXPECT_EQ(scroll->frame().origin.x, 20);
    EXPECT_EQ(scroll->frame().size.width, 600);
    EXPECT_EQ(top(scroll), bottom(revision) + 16);
    EXPECT_EQ(top(note), bottom(scroll) + 12);
    EXPECT_EQ(note->frame().size.width, 600);
    EXPECT_EQ(top(stack), bottom(note) + 12);
    EXPECT_EQ(stack->frame().origin.y, 20);
    EXPECT_EQ(CGRectGetMaxX(stack->frame()), 620);
    EXPECT_GT(scroll->frame().size.height, 400) << "the text takes the room the others leave";
    EXPECT_EQ(text->frame().size.width, scroll->contentSize().width);

    panel->setFrame(CGRectMake(0, 0, 480, 400), false);
    EXPECT_EQ(scroll->frame().size.width, 440) << "the views follow the panel";
    EXPECT_EQ(stack->frame().origin.y, 20);
  }
}

TEST_F(LegalAgreementSheetTest, AnUnreachableTextStorageLeavesTheSheetEmptyButWorking) {
  NSTextView::setTextStorageUnreachable(true);
  auto controller = LegalAgreementSheetController::make(Document{"1", "Terms."});
  EXPECT_EQ(controller->agreementText()->string(), "");
  int done = 0;
  controller->onDone = [&] { ++done; };
  controller->primaryAction();
  EXPECT_EQ(done, 1);
}

TEST_F(LegalAgreementSheetTest, FormattingFoldsMailLinksAndStylesParagraphsByTheirPlace) {
  const std::string heading79 = std::string(79, 'H');
  const std::string heading80 = std::string(80, 'H');
  const std::string dotted79 = std::string(78, 'D') + ".";
  const std::string law = "To the extent the law permits, nothing here limits what the law does not let us limit at all.";
  // 39 characters of two UTF-16 units each: 78 units, a heading; one more is 80 units.
  std::string emoji78, emoji80;
  for (int i = 0; i < 39; ++i) emoji78 += "\xF0\x9F\x98\x80";
  emoji80 = emoji78 + "\xF0\x9F\x98\x80";
  const std::string longSecond(120, 's');
  // Over 79 units as written, under once folded; no full stop anywhere.
  const std::string address = "Write to legal@localhost", rest = " with any question about these terms";
  const std::string written = address + " (mailto:legal@localhost)" + rest, folded = address + rest;
  ASSERT_GT(written.size(), 79u);
  ASSERT_LE(folded.size(), 79u);
  const std::string text = "Preamble. Revision notes.\n\n" + longSecond + "\n\n" + heading79 + "\n\n" + heading80 + "\n\n" +
                           dotted79 + "\n\n" + law + "\n\n" + emoji78 + "\n\n" + emoji80 + "\n\n" + written +
                           "\n\nThe body.";
  const NSAttributedString result = LegalAgreementSheetController::formattedAgreement(text);

  struct Case {
    std::string paragraph;
    Look look;
  };
  const Case cases[] = {
      {"Preamble. Revision notes.", {11, NSFontWeight::regular, true}},
      {longSecond, {15, NSFontWeight::semibold}},
      {heading79, {15, NSFontWeight::semibold}},
      {heading80, {13, NSFontWeight::regular}},
      {dotted79, {13, NSFontWeight::regular}},
      {law, {13, NSFontWeight::semibold}},
      {emoji78, {15, NSFontWeight::semibold}},
      {emoji80, {13, NSFontWeight::regular}},
      {folded, {15, NSFontWeight::semibold}},  // counted once folded: a heading
      {"The body.", {13, NSFontWeight::regular}},
  };
  std::u16string expected;
  for (const auto& c : cases) expected += (expected.empty() ? u"" : u"\n\n") + utf16String(c.paragraph);
  ASSERT_EQ(result.string(), expected) << "the mail address written twice is folded";
  std::size_t offset = 0;
  for (const auto& c : cases) {
    const std::size_t length = utf16Length(c.paragraph);
    for (const std::size_t at : {offset, offset + length - 1}) {
      const Look look = lookAt(result, at);
      EXPECT_EQ(look.size, c.look.size) << c.paragraph.substr(0, 30) << " at " << at;
      EXPECT_EQ(look.weight, c.look.weight) << c.paragraph.substr(0, 30);
      EXPECT_EQ(look.secondary, c.look.secondary) << c.paragraph.substr(0, 30);
    }
    offset += length + 2;
  }
  const auto& base = result.attributesAtIndex(result.length() - 1);
  EXPECT_EQ(base.paragraphStyle, NSParagraphStyle{3});
  EXPECT_EQ(base.foregroundColor, NSColor::textColor());
}

TEST_F(LegalAgreementSheetTest, OnlyTheSameAddressIsFoldedAndCarriageReturnsSeparateNothing) {
  struct Case {
    std::string text, shown;
  };
  const Case cases[] = {
      {"Write to a@b.co (mailto:a@b.co) today.", "Write to a@b.co today."},
      {"Write to a@b.co \t (mailto:a@b.co).", "Write to a@b.co."},
      {"Write to a@b.co (mailto:c@b.co) today.", "Write to a@b.co (mailto:c@b.co) today."},
      {"Write to a@b.co(mailto:a@b.co) today.", "Write to a@b.co(mailto:a@b.co) today."},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LegalAgreementSheetController::formattedAgreement(c.text).utf8String(), c.shown) << c.text;
  }
  const auto crlf = LegalAgreementSheetController::formattedAgreement("First one.\r\n\r\nSecond");
  EXPECT_EQ(lookAt(crlf, crlf.length() - 1).size, 11) << "one paragraph: the first's look throughout";
  EXPECT_TRUE(lookAt(crlf, crlf.length() - 1).secondary);
}

TEST_F(LegalAgreementSheetTest, DetectedLinksCarryTheirURLsAndAFailedDetectorLeavesPlainText) {
  const std::string text = "Intro.\n\nSee https://vurle.app/terms, or write to help@vurle.app.";
  const auto result = LegalAgreementSheetController::formattedAgreement(text);
  const auto linkAt = [&](const NSAttributedString& s, const std::string& piece) -> std::string {
    const std::size_t at = s.string().find(utf16String(piece));
    if (at == std::u16string::npos) return "(missing)";
    NSRange range;
    const auto& a = s.attributesAtIndex(at, &range);
    if (!a.link || range.location != at || range.length != utf16Length(piece)) return "(none)";
    return std::get<NSURL>(*a.link).absoluteString();
  };
  EXPECT_EQ(linkAt(result, "https://vurle.app/terms"), "https://vurle.app/terms");
  EXPECT_EQ(linkAt(result, "help@vurle.app"), "mailto:help@vurle.app");
  EXPECT_EQ(lookAt(result, result.string().find(u"help")).size, 15) << "a link keeps its paragraph's look";

  NSDataDetector::setCreationFails(true);
  const auto plain = LegalAgreementSheetController::formattedAgreement(text);
  EXPECT_EQ(plain.utf8String(), text);
  for (const auto& run : plain.runs()) EXPECT_FALSE(run.attributes.link);
}

TEST_F(LegalAgreementSheetTest, OnlyWebAndMailLinksOpenAndEveryClickIsHandled) {
  auto controller = LegalAgreementSheetController::make(Document{"1", "Terms."});
  auto& text = *controller->agreementText();
  struct Case {
    NSLinkValue link;
    std::optional<std::string> opened;
  };
  const auto url = [](const char* s) { return NSLinkValue(*NSURL::URLWithString(s)); };
  const Case cases[] = {
      {url("https://example.org/a?b#c"), "https://example.org/a?b#c"},
      {url("http://example.org/"), "http://example.org/"},
      {url("mailto:help@vurle.app"), "mailto:help@vurle.app"},
      {url("HTTPS://example.org/"), "HTTPS://example.org/"},
      {url("https://vurle.app/privacy"), "https://vurle.app/privacy/"},  // through the site's own pages
      {url("ftp://example.org/file"), std::nullopt},
      {url("file:///etc/passwd"), std::nullopt},
      {url("example.org/relative"), std::nullopt},
      {NSLinkValue(std::string("https://example.org/")), std::nullopt},  // a string, not a URL
  };
  for (const auto& c : cases) {
    NSWorkspace::sharedWorkspace().reset();
    EXPECT_TRUE(controller->textViewClickedOnLink(text, c.link, 0));
    // Through the text view too: a handled click is never opened by it.
    text.clickedOnLink(c.link, 0);
    const auto opened = NSWorkspace::sharedWorkspace().openedURLs();
    if (c.opened) EXPECT_EQ(opened, (std::vector<std::string>{*c.opened, *c.opened}));
    else EXPECT_TRUE(opened.empty()) << opened.front();
  }
}

TEST_F(LegalAgreementSheetTest, DoneReturnAndEscapeEachRunOnDoneOnce) {
  struct Case {
    const char* name;
    std::function<void(LegalAgreementSheetController&, NSWindow&)> act;
  };
  const auto key = [](NSWindow& panel, uint16_t code) {
    const std::string typed = keyboardLayoutCharacters(code, 0);
    panel.sendEvent(*NSEvent::keyEventWithType(NSEventTypeKeyDown, 0, typed, typed, code));
  };
  const Case cases[] = {
      {"Done clicked",
       [](LegalAgreementSheetController&, NSWindow& panel) {
         auto stack = std::dynamic_pointer_cast<NSStackView>(panel.contentView()->subviews()[4]);
         const NSRect f = stack->arrangedSubviews()[0]->frame();
         const NSPoint at = {CGRectGetMaxX(stack->frame()) - f.size.width / 2,
                             CGRectGetMinY(stack->frame()) + stack->frame().size.height / 2};
         panel.sendEvent(NSEvent(NSEventTypeLeftMouseDown, at, 0, 1));
         panel.sendEvent(NSEvent(NSEventTypeLeftMouseUp, at, 0, 2));
       }},
      {"Return", [&](LegalAgreementSheetController&, NSWindow& panel) { key(panel, 36); }},
      {"Escape", [&](LegalAgreementSheetController&, NSWindow& panel) { key(panel, 53); }},
  };
  for (const auto& c : cases) {
    auto controller = LegalAgreementSheetController::make(Document{"1", "Terms."});
    int done = 0;
    controller->onDone = [&] { ++done; };
    controller->showWindow();
    auto panel = controller->window();
    ASSERT_EQ(panel->firstResponder(), controller->agreementText()) << "the text view starts with the keys";
    c.act(*controller, *panel);
    EXPECT_EQ(done, 1) << c.name;
    panel->close();
  }
}

TEST_F(LegalAgreementSheetTest, TheSheetWithAndWithoutADocumentMatchesItsPictures) {
  const Document sample{"2026-03",
                        "Last updated 1 March 2026. Revision 2026-03.\n\nvurle End-User License Agreement\n\n"
                        "1. Licence\n\nYou may install and use vurle on any computer you own or control. "
                        "Questions go to legal@vurle.app (mailto:legal@vurle.app); the full terms live at "
                        "https://vurle.app/terms.\n\nTo the extent the law permits, vurle is provided as is, "
                        "without warranties of any kind, and we are not liable for any loss that arises from its use."};
  for (const bool withDocument : {true, false}) {
    auto controller = LegalAgreementSheetController::make(withDocument ? std::optional<Document>(sample) : std::nullopt);
    ui::expectWindowMatchesStoredPicture(*controller->window(), VURLE_PICTURES_DIR,
                                         withDocument ? "legal_agreement_sheet" : "legal_agreement_sheet_unavailable");
  }
}

}  // namespace
}  // namespace vurle
