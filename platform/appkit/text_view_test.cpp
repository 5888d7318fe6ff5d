#include "platform/appkit/text_view.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "platform/appkit/attributed_string.hpp"
#include "platform/appkit/event.hpp"
#include "platform/appkit/screen.hpp"
#include "platform/appkit/stack_view.hpp"
#include "platform/appkit/text_field.hpp"
#include "platform/appkit/window.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/windowserver/window_server.hpp"

namespace platform {
namespace {

NSTextAttributes fontAttributes(CGFloat size) {
  NSTextAttributes a;
  a.font = NSFont::systemFontOfSize(size);
  return a;
}

// Runs: one per stretch of equal attributes, ranges in UTF-16 units, later
// settings over earlier ones only where given.
TEST(NSAttributedStringTest, RunsPartitionTheTextInUTF16Units) {
  // "é" is one unit, "😀" two: UTF-8 offsets would differ from these.
  NSAttributedString text(std::string("a\xC3\xA9 \xF0\x9F\x98\x80 bc"), fontAttributes(13));
  ASSERT_EQ(text.length(), 8u);
  NSTextAttributes red;
  red.foregroundColor = NSColor::colorWithSRGBRed(1, 0, 0, 1);
  text.addAttributes(red, NSMakeRange(1, 4));  // "é 😀"
  text.addAttributes(fontAttributes(20), NSMakeRange(3, 4));
  text.addAttributes(fontAttributes(13), NSMakeRange(6, 2));  // the same as before there: merges back

  struct Expected {
    NSRange range;
    CGFloat size;
    bool red;
  };
  const std::vector<Expected> expected = {
      {{0, 1}, 13, false}, {{1, 2}, 13, true}, {{3, 2}, 20, true}, {{5, 1}, 20, false}, {{6, 2}, 13, false}};
  ASSERT_EQ(text.runs().size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    const auto& run = text.runs()[i];
    EXPECT_EQ(run.range, expected[i].range) << "run " << i;
    EXPECT_EQ(run.attributes.font->pointSize(), expected[i].size) << "run " << i;
    EXPECT_EQ(run.attributes.foregroundColor.has_value(), expected[i].red) << "run " << i;
    NSRange effective;
    text.attributesAtIndex(NSMaxRange(run.range) - 1, &effective);
    EXPECT_EQ(effective, run.range) << "the last unit of run " << i;
  }

  // The graphics layer's runs count UTF-8 bytes: "😀" starts at byte 4.
  const TextBlock block = text.textBlock(NSFont::systemFontOfSize(9), NSColor::textColor());
  ASSERT_EQ(block.runs.size(), expected.size());
  EXPECT_EQ(block.runs[2].begin, 4u);
  EXPECT_EQ(block.runs[2].end, 8u);
  EXPECT_EQ(text.indexOfUTF8Offset(6), 3u) << "a byte inside the emoji is its first unit";
  EXPECT_EQ(text.indexOfUTF8Offset(8), 5u);
  EXPECT_EQ(text.indexOfUTF8Offset(9), 6u);

  // Ranges past the end are refused and change nothing.
  const auto before = text.runs().size();
  EXPECT_THROW(text.addAttributes(red, NSMakeRange(7, 2)), std::out_of_range);
  EXPECT_THROW(text.addAttributes(red, NSMakeRange(NSNotFound, 1)), std::out_of_range);
  EXPECT_THROW(text.attributesAtIndex(8), std::out_of_range);
  EXPECT_EQ(text.runs().size(), before);
  text.setAttributes({}, NSMakeRange(0, 8));
  EXPECT_EQ(text.runs().size(), 1u) << "set replaces every attribute";
}

class NSTextViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WindowServer::shared();
    resetProcessState();
    NSScreen::setScreens({NSScreen::make(CGRectMake(0, 0, 1000, 800), 1)});
  }
  void TearDown() override { resetProcessState(); }
};

struct LinkRecorder : NSTextViewDelegate {
  bool handles = false;
  std::vector<std::string> clicked;
  bool textViewClickedOnLink(NSTextView&, const NSLinkValue& link, std::size_t index) override {
    const auto* url = std::get_if<NSURL>(&link);
    clicked.push_back((url ? url->absoluteString() : std::get<std::string>(link)) + "@" + std::to_string(index));
    return handles;
  }
};

TEST_F(NSTextViewTest, AClickOnALinkAsksTheDelegateAndElseOpensAURL) {
  auto window = NSWindow::make(CGRectMake(0, 0, 300, 200), 1);
  auto scroll = NSTextView::scrollableTextView();
  auto text = std::dynamic_pointer_cast<NSTextView>(scroll->documentView());
  ASSERT_TRUE(text);
  scroll->setFrame(CGRectMake(0, 0, 300, 200));
  window->setContentView(scroll);
  text->setTextContainerInset(NSMakeSize(10, 10));
  *text->textStorage() = NSAttributedString(std::string("go https://example.org/a now, or plain"), fontAttributes(13));
  NSTextAttributes link;
  link.link = *NSURL::URLWithString("https://example.org/a");
  text->textStorage()->addAttributes(link, NSMakeRange(3, 21));
  NSTextAttributes word;
  word.link = std::string("not a url");
  text->textStorage()->addAttributes(word, NSMakeRange(33, 5));
  text->didChangeText();
  EXPECT_EQ(text->frame().size.width, scroll->contentSize().width) << "the width follows the scroll view";
  const double line = measureText({"x", NSFont::systemFontOfSize(13).textFont(), {}, {}, {}}, std::nullopt).size.height;
  EXPECT_NEAR(text->frame().size.height, line + 20, 1) << "its text and the insets";

  auto recorder = std::make_shared<LinkRecorder>();
  text->setDelegate(recorder);
  // A press in window coordinates (y up): on the first line, over the link.
  const auto press = [&](CGFloat x) {
    const CGFloat y = 200 - 10 - line / 2;
    window->sendEvent(NSEvent(NSEventTypeLeftMouseDown, {x, y}, 0, 1));
    window->sendEvent(NSEvent(NSEventTypeLeftMouseUp, {x, y}, 0, 2));
  };
  const double start = measureText({"go https://", NSFont::systemFontOfSize(13).textFont(), {}, {}, {}}, std::nullopt).size.width;
  press(10 + start + 2);
  press(12);  // "g": no link there
  ASSERT_EQ(recorder->clicked.size(), 1u);
  EXPECT_EQ(recorder->clicked[0].substr(0, 22), "https://example.org/a@");
  EXPECT_EQ(NSWorkspace::sharedWorkspace().openedURLs(), std::vector<std::string>{"https://example.org/a"})
      << "not handled by the delegate: the view opens it";

  recorder->handles = true;
  text->clickedOnLink(*link.link, 3);
  text->clickedOnLink(*word.link, 33);
  EXPECT_EQ(NSWorkspace::sharedWorkspace().openedURLs().size(), 1u) << "handled links are left to the delegate";
  recorder->handles = false;
  text->clickedOnLink(*word.link, 33);
  EXPECT_EQ(NSWorkspace::sharedWorkspace().openedURLs().size(), 1u) << "a string link is never opened";
  EXPECT_EQ(recorder->clicked.size(), 4u);
}

TEST_F(NSTextViewTest, AnUnreachableStorageLeavesTheViewEmpty) {
  NSTextView::setTextStorageUnreachable(true);
  auto text = std::make_shared<NSTextView>(CGRectMake(0, 0, 100, 50));
  EXPECT_EQ(text->textStorage(), nullptr);
  text->setString("ignored");
  EXPECT_EQ(text->string(), "");
  EXPECT_FALSE(text->characterIndexForPoint({5, 5}));
  resetProcessState();
  EXPECT_NE(std::make_shared<NSTextView>()->textStorage(), nullptr) << "the seam ends with the reset";
}

TEST_F(NSTextViewTest, LabelsWrapToTheirWidthAndStacksRowTheirViews) {
  auto label = NSTextField::wrappingLabelWithString("one two three four five six seven eight nine ten");
  const NSSize natural = label->intrinsicContentSize();
  const NSSize narrow = label->fittingSizeForWidth(natural.width / 3);
  EXPECT_GT(narrow.height, 2 * natural.height) << "three lines or more at a third of the width";
  EXPECT_EQ(NSTextField::labelWithString("x")->fittingSizeForWidth(1).height,
            NSTextField::labelWithString("x")->intrinsicContentSize().height)
      << "a plain label never wraps";

  auto a = NSTextField::labelWithString("Done");
  auto b = NSTextField::labelWithString("Cancel");
  auto stack = NSStackView::stackViewWithViews({a, b});
  stack->setSpacing(8);
  const NSSize sa = a->intrinsicContentSize(), sb = b->intrinsicContentSize();
  EXPECT_EQ(stack->intrinsicContentSize().width, sa.width + 8 + sb.width);
  stack->setFrame(CGRectMake(0, 0, 200, 40));
  EXPECT_EQ(a->frame().origin.x, 0);
  EXPECT_EQ(b->frame().origin.x, sa.width + 8);
  EXPECT_EQ(b->frame().origin.y, (40 - sb.height) / 2) << "centred across the row";
}

}  // namespace
}  // namespace platform
