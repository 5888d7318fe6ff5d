#include "ui/onboarding/legal_agreement_view.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/appkit/application.hpp"
#include "platform/appkit/screen.hpp"
#include "platform/appkit/text_field.hpp"
#include "platform/appkit/window.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/ui/graph.hpp"
#include "platform/windowserver/window_server.hpp"
#include "ui/onboarding/legal_agreement_sheet_controller.hpp"

namespace vurle {
namespace {

using namespace platform;
using namespace platform::ui;
using Document = LegalAgreement::Document;

constexpr const char* kErrorLine = "The bundled license couldn\u2019t be loaded. Reinstall vurle before continuing.";

class LegalAgreementViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WindowServer::shared();
    resetProcessState();
    NSScreen::setScreens({NSScreen::make(CGRectMake(0, 0, 1440, 900), 2)});
  }
  void TearDown() override { resetProcessState(); }

  std::shared_ptr<LegalAgreement> agreement(std::optional<Document> document = Document{"2", "Terms."}) {
    return LegalAgreement::make(defaults, std::move(document),
                                [] { return Date::withTimeIntervalSince1970(1'750'000'000); });
  }
  std::shared_ptr<ViewGraph> card(std::shared_ptr<LegalAgreement> store,
                                  std::optional<NSURL> site = NSURL::URLWithString("https://vurle.app/")) {
    auto graph = ViewGraph::make(LegalAgreementView(std::move(store), std::move(site)));
    graph->setSize({460, 591});
    turn();
    return graph;
  }
  void turn() { scope->runUntilIdle(); }
  std::shared_ptr<NSWindow> window() {
    return std::make_shared<NSWindow>(NSMakeRect(0, 0, 460, 591), NSWindowStyleMaskTitled);
  }

  SimulatedSchedulerScope scope;
  std::shared_ptr<NSUserDefaults> defaults = NSUserDefaults::makeInMemory("mirt.vurle.app");
};

TEST_F(LegalAgreementViewTest, AgreeingNeedsTheTickedBoxAndStoresTheAcceptance) {
  auto store = agreement();
  auto graph = card(store);
  EXPECT_TRUE(graph->findText("Before you start"));
  EXPECT_EQ(graph->findText("Before you start")->node().environment.font, Font::system(20, FontWeight::semibold));
  EXPECT_TRUE(graph->findKind("Image")->accessibility().hidden);
  EXPECT_FALSE(graph->findText(kErrorLine)) << "a usable document: no error line";
  auto agree = [&] { return *graph->findText("Agree & Continue"); };
  EXPECT_FALSE(agree().isEnabled()) << "unticked";
  EXPECT_FALSE(agree().tap());

  ASSERT_TRUE(graph->findLabel("I agree to the License Agreement")->tap());
  turn();
  EXPECT_TRUE(agree().isEnabled()) << "ticked";
  EXPECT_FALSE(store->accepted()) << "ticking accepts nothing by itself";
  EXPECT_FALSE(defaults->dataForKey("eulaAcceptance"));

  ASSERT_TRUE(agree().tap());
  turn();
  EXPECT_TRUE(store->accepted());
  EXPECT_TRUE(defaults->dataForKey("eulaAcceptance"));

  auto again = card(agreement());
  EXPECT_FALSE(again->findText("Agree & Continue")->isEnabled()) << "a new card starts unticked";
}

TEST_F(LegalAgreementViewTest, AnUnusableDocumentShowsTheErrorDisablesTheBoxAndStillOpensTheSheet) {
  const std::optional<Document> documents[] = {std::nullopt, Document{" \n", "Terms."}, Document{"2", "\t"}};
  for (const auto& document : documents) {
    SCOPED_TRACE(document ? "version '" + document->version + "'" : "no document");
    resetProcessState();
    auto store = agreement(document);
    auto graph = card(store);
    ASSERT_TRUE(graph->findText(kErrorLine));
    EXPECT_EQ(graph->findText(kErrorLine)->node().environment.foreground, Color::systemRed());
    EXPECT_FALSE(graph->findLabel("I agree to the License Agreement")->tap()) << "the box is disabled";
    EXPECT_FALSE(graph->findText("Agree & Continue")->isEnabled());

    auto parent = window();
    parent->makeKeyAndOrderFront();
    ASSERT_TRUE(graph->findText("License Agreement")->tap());
    ASSERT_TRUE(store->sheetController());
    EXPECT_EQ(parent->attachedSheet(), store->sheetController()->window());
    EXPECT_FALSE(store->accepted());
  }
}

TEST_F(LegalAgreementViewTest, ThePrivacyLinkFollowsTheSiteBaseURL) {
  struct Case {
    std::optional<NSURL> site;
    std::optional<std::string> link;
  };
  const Case cases[] = {
      {NSURL::URLWithString("https://vurle.app/"), "https://vurle.app/privacy/"},
      {NSURL::URLWithString("https://example.org/vurle/"), "https://example.org/vurle/privacy/"},
      {std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    NSWorkspace::sharedWorkspace().reset();
    auto graph = card(agreement(), c.site);
    const auto link = graph->findKind("Link");
    ASSERT_EQ(link.has_value(), c.link.has_value()) << c.link.value_or("(no site)");
    EXPECT_EQ(graph->findText("Privacy policy").has_value(), c.link.has_value());
    if (!link) continue;
    EXPECT_EQ(link->node().view.desc().text, "Privacy policy");
    EXPECT_EQ(link->node().view.desc().url, *c.link);
    EXPECT_TRUE(link->tap());
    EXPECT_EQ(NSWorkspace::sharedWorkspace().openedURLs(), std::vector<std::string>{*c.link});
  }
}

TEST_F(LegalAgreementViewTest, DisagreeAndQuitTerminatesStoringNothing) {
  struct Recorder : NSApplicationDelegate {
    int terminations = 0;
    void applicationWillTerminate(const NSNotification&) override { ++terminations; }
  };
  auto recorder = std::make_shared<Recorder>();
  NSApplication::shared()->setDelegate(recorder);
  auto store = agreement();
  auto graph = card(store);
  ASSERT_TRUE(graph->findLabel("I agree to the License Agreement")->tap());  // even ticked
  turn();
  int writes = 0;
  auto token = NSNotificationCenter::defaultCenter().addObserverForName(
      NSUserDefaultsDidChangeNotification, defaults.get(), nullptr, [&](const NSNotification&) { ++writes; });
  ASSERT_TRUE(graph->findText("Disagree & Quit")->tap());
  turn();
  EXPECT_EQ(recorder->terminations, 1);
  EXPECT_EQ(writes, 0);
  EXPECT_FALSE(store->accepted());
  EXPECT_FALSE(defaults->dataForKey("eulaAcceptance"));
}

TEST_F(LegalAgreementViewTest, TheCardsSheetAttachesToTheKeyWindow) {
  auto store = agreement();
  auto graph = card(store);
  auto main = window(), other = window();
  main->makeKeyAndOrderFront();
  other->makeKeyAndOrderFront();  // key now; the main window stays main
  ASSERT_TRUE(graph->findText("License Agreement")->tap());
  ASSERT_TRUE(store->sheetController());
  EXPECT_EQ(other->attachedSheet(), store->sheetController()->window());
  EXPECT_EQ(main->attachedSheet(), nullptr);
  auto revision = std::dynamic_pointer_cast<NSTextField>(other->attachedSheet()->contentView()->subviews()[1]);
  ASSERT_TRUE(revision);
  EXPECT_EQ(revision->stringValue(), "vurle \u00B7 revision 2");
}

TEST_F(LegalAgreementViewTest, TheConsentWritesItsBindingAndReviewsWithoutAccepting) {
  auto store = agreement();
  bool checked = false;
  int reviews = 0;
  auto graph = ViewGraph::make(LicenseAgreementConsent(store, {[&] { return checked; }, [&](bool v) { checked = v; }},
                                                      [&] { ++reviews; }));
  graph->setSize({460, 100});
  turn();
  const auto box = graph->findLabel("I agree to the License Agreement");
  ASSERT_TRUE(box);
  EXPECT_EQ(box->kind(), "Toggle");
  EXPECT_EQ(box->node().environment.toggleStyle, ToggleStyle::checkbox);
  EXPECT_EQ(graph->findText("I agree to the")->node().environment.font, Font::system(13));
  const auto link = graph->findLabel("License Agreement");
  ASSERT_TRUE(link);
  EXPECT_EQ(link->accessibility().hint, "Read the full license without accepting it");
  EXPECT_TRUE(graph->findText("License Agreement")->node().environment.underline);
  EXPECT_EQ(graph->findText("License Agreement")->node().environment.foreground, Color::link());

  ASSERT_TRUE(box->tap());
  EXPECT_TRUE(checked);
  ASSERT_TRUE(link->tap());
  EXPECT_EQ(reviews, 1);
  EXPECT_FALSE(store->accepted());
  EXPECT_FALSE(store->sheetController()) << "review is the caller's: the consent opens nothing itself";
}

}  // namespace
}  // namespace vurle
