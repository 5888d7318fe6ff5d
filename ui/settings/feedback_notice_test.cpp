#include "ui/settings/feedback_notice.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/ui/picture_test_support.hpp"

namespace vurle {
namespace {

using namespace platform;
using namespace platform::ui;

class FeedbackNoticeTest : public ::testing::Test {
 protected:
  void SetUp() override { resetProcessState(); }
  void TearDown() override { resetProcessState(); }
  std::shared_ptr<ViewGraph> show(const FeedbackNotice& notice, double width = 420) {
    auto graph = ViewGraph::make(VStack(HorizontalAlignment::leading, 0, {notice.body(), Spacer()}));
    graph->setSize({width, 300});
    scope->runUntilIdle();
    return graph;
  }
  SimulatedSchedulerScope scope;
};

// The colour a fill modifier of the card's shapes was given.
std::vector<std::string> fills(ViewGraph& graph) {
  std::vector<std::string> out;
  for (const auto& ref : graph.findAll([](const Node& n) { return n.kind() == "RoundedRectangle"; })) {
    const Modifier* fill = ref.modifier("fill");
    out.push_back(fill->string("color") + "@" + std::to_string(int(fill->number("opacity") * 100 + 0.5)));
  }
  return out;
}

TEST_F(FeedbackNoticeTest, EachKindHasItsTintIconAndTheCardReadsAsOneElement) {
  struct Case {
    FeedbackNotice::Kind kind;
    std::string tint;
    std::string icon;  // the symbol, or the kind of view
    std::string behind, over;  // the tint's fills (the secondary colour is half opaque itself)
  };
  const std::vector<Case> cases = {
      {FeedbackNotice::Kind::success, "green", "SuccessMark", "green@12", "green@8"},
      {FeedbackNotice::Kind::warning, "orange", "exclamationmark.triangle.fill", "orange@12", "orange@8"},
      {FeedbackNotice::Kind::error, "red", "exclamationmark.triangle.fill", "red@12", "red@8"},
      {FeedbackNotice::Kind::progress, "secondary", "ProgressView", "secondary@6", "secondary@4"},
  };
  for (const auto& c : cases) {
    auto graph = show({c.kind, "Report sent", "Thanks for helping make vurle better."});
    EXPECT_EQ(FeedbackNotice::tint(c.kind).name, c.tint);
    // Behind: the control background, then the tint at 0.12; over it the
    // tint at 0.08, which takes no clicks.
    EXPECT_EQ(fills(*graph), (std::vector<std::string>{"controlBackground@100", c.behind, c.over}))
        << c.tint;
    const Node& icon = graph->findKind("HStack")->node().children.front()->kind() == "SuccessMark"
                           ? graph->findKind("SuccessMark")->node()
                           : *graph->findKind("HStack")->node().children.front();
    EXPECT_EQ(icon.kind() == "Image" ? icon.view.desc().systemImage : icon.kind(), c.icon);
    if (icon.kind() == "Image") {
      EXPECT_EQ(icon.environment.foreground.name, c.tint);
    }
    EXPECT_EQ(icon.outerFrame.size.width, 18) << c.icon;

    auto card = graph->findKind("FeedbackNotice")->node().children.front().get();
    const auto info = graph->accessibility(*card);
    EXPECT_TRUE(info.isElement);
    EXPECT_EQ(info.label, "Report sent. Thanks for helping make vurle better.");
    EXPECT_FALSE(graph->findLabel("Report sent")) << "the texts are folded into the card";
    const auto hit = graph->hitTest({card->outerFrame.origin.x + 2, card->outerFrame.origin.y + 30});
    ASSERT_TRUE(hit);
    EXPECT_EQ(hit->modifier("allowsHitTesting"), nullptr) << "the overlay lets clicks through to the card";
  }
}

TEST_F(FeedbackNoticeTest, ALongDetailWrapsAndTheCardGrowsInHeightKeepingItsWidth) {
  const std::string shortDetail = "Try again in 5 seconds.";
  std::string longDetail;
  for (int i = 0; i < 12; ++i) longDetail += "The service didn’t answer in time, so nothing was sent. ";
  auto small = show({FeedbackNotice::Kind::error, "Report needs attention", shortDetail});
  auto large = show({FeedbackNotice::Kind::error, "Report needs attention", longDetail});
  const CGRect a = small->findKind("FeedbackNotice")->node().outerFrame;
  const CGRect b = large->findKind("FeedbackNotice")->node().outerFrame;
  EXPECT_EQ(a.size.width, 420);
  EXPECT_EQ(b.size.width, 420) << "the container's width";
  EXPECT_GT(b.size.height, a.size.height + 60) << "every line of the detail shows";
  const Node& detail = large->findText(longDetail)->node();
  EXPECT_LE(CGRectGetMaxX(detail.frame), 420 - 13) << "inside the padding";
  EXPECT_TRUE(detail.modifier("textSelection")->flag("enabled"));
}

TEST_F(FeedbackNoticeTest, EachKindIsDrawnAsStored) {
  struct Case {
    FeedbackNotice::Kind kind;
    const char* picture;
    const char* title;
  };
  for (const auto& c : std::vector<Case>{{FeedbackNotice::Kind::success, "notice_success", "Report sent"},
                                         {FeedbackNotice::Kind::warning, "notice_warning", "A newer version is available"},
                                         {FeedbackNotice::Kind::error, "notice_error", "Report needs attention"},
                                         {FeedbackNotice::Kind::progress, "notice_progress", "Sending your report"}}) {
    auto graph = ViewGraph::make(FeedbackNotice{c.kind, c.title, "A detail that says what happened and what to do next."}
                                     .body()
                                     .padding(12));
    graph->setSize({420, 90});
    scope->runUntilIdle();
    scope->advance(1);  // the success mark has drawn itself in
    expectMatchesStoredPicture(*graph, VURLE_PICTURES_DIR, c.picture);
  }
}

}  // namespace
}  // namespace vurle
