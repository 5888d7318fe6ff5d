#include "ui/onboarding/legal_agreement.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "platform/appkit/application.hpp"
#include "platform/bundle/bundle.hpp"
#include "platform/coding/json_coding.hpp"
#include "platform/foundation/process_wide.hpp"
#include "ui/onboarding/legal_agreement_sheet_controller.hpp"

namespace vurle {
namespace {

namespace fs = std::filesystem;
using platform::Date;
using platform::dataFromString;
using Document = LegalAgreement::Document;

class LegalAgreementTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::resetProcessState(); }
  void TearDown() override { platform::resetProcessState(); }

  std::shared_ptr<LegalAgreement> agreement(std::optional<Document> document = Document{"2", "Terms."}) {
    return LegalAgreement::make(defaults, std::move(document), [this] { return now; });
  }
  void storeRecord(const std::string& json) { defaults->setObject(dataFromString(json), "eulaAcceptance"); }
  int writesDuring(const std::function<void()>& action) {
    int writes = 0;
    auto token = platform::NSNotificationCenter::defaultCenter().addObserverForName(
        platform::NSUserDefaultsDidChangeNotification, defaults.get(), nullptr,
        [&](const platform::NSNotification&) { ++writes; });
    action();
    return writes;
  }
  std::shared_ptr<platform::NSWindow> window() {
    return std::make_shared<platform::NSWindow>(platform::NSMakeRect(0, 0, 460, 591), platform::NSWindowStyleMaskTitled);
  }

  std::shared_ptr<platform::NSUserDefaults> defaults = platform::NSUserDefaults::makeInMemory("mirt.vurle.app");
  Date now = Date::withTimeIntervalSince1970(1'750'000'000.5);
};

TEST_F(LegalAgreementTest, OnlyAWellFormedRecordIsAnAcceptance) {
  const struct {
    const char* record;
    bool accepted;
  } cases[] = {
      {R"({"version": "1", "acceptedAt": 0})", true},  // 2001-01-01
      {R"({"acceptedAt": 770000000.25, "version": "1", "extra": [1]})", true},
      {R"({"version": "1", "acceptedAt": -978307199.5})", true},  // half a second after 1970
      {R"({"version": "1", "acceptedAt": -978307200})", false},   // 1970-01-01 00:00:00
      {R"({"version": "1", "acceptedAt": -1e9})", false},
      {R"({"version": " \n\t\u00a0\u3000", "acceptedAt": 5})", false},
      {R"({"acceptedAt": 5})", false},
      {R"({"version": "1"})", false},
      {R"({"version": 1, "acceptedAt": 5})", false},
      {R"({"version": "1", "acceptedAt": "2025-01-01"})", false},
      {R"({"version": "1", "acceptedAt": 5)", false},
      {"null", false},
  };
  EXPECT_FALSE(agreement()->accepted());
  for (const auto& c : cases) {
    storeRecord(c.record);
    auto store = agreement();
    EXPECT_EQ(store->accepted(), c.accepted) << c.record;
    EXPECT_FALSE(store->showsUpdateNotice() && !c.accepted) << c.record;
  }
  // A string is not the data a record is stored as.
  defaults->setObject(R"({"version": "1", "acceptedAt": 5})", "eulaAcceptance");
  EXPECT_FALSE(agreement()->accepted());
}

TEST_F(LegalAgreementTest, UpdateNoticeForAnEarlierRevisionNotYetReviewed) {
  const struct {
    const char* accepted;
    std::optional<Document> document;
    std::optional<std::string> reviewed;
    bool notice;
  } cases[] = {
      {"1", Document{"2", "Terms."}, std::nullopt, true},
      {"1", Document{"2", "Terms."}, "1", true},
      {"1", Document{"2", "Terms."}, "2", false},
      {"2", Document{"2", "Terms."}, "1", false},
      {"2 ", Document{"2", "Terms."}, std::nullopt, true},  // compared exactly, untrimmed
      {"1", std::nullopt, std::nullopt, false},
      {"1", Document{"2", " \n "}, std::nullopt, false},
  };
  for (const auto& c : cases) {
    storeRecord(std::string(R"({"acceptedAt": 10, "version": ")") + c.accepted + "\"}");
    if (c.reviewed) defaults->setObject(*c.reviewed, "legalUpdateReviewedVersion");
    auto store = agreement(c.document);
    EXPECT_TRUE(store->accepted());
    EXPECT_EQ(store->showsUpdateNotice(), c.notice) << c.accepted << " " << c.reviewed.value_or("-");
    defaults = platform::NSUserDefaults::makeInMemory("mirt.vurle.app");
  }
}

TEST_F(LegalAgreementTest, AcceptingNeedsConsentADocumentAndAPlausibleDate) {
  EXPECT_FALSE(agreement(std::nullopt)->accept(true));
  EXPECT_FALSE(agreement(Document{" ", "Terms."})->accept(true));
  EXPECT_FALSE(agreement(Document{"\xff", "Terms."})->accept(true));  // no JSON form
  for (double since1970 : {0.0, -5.0, std::nan("")}) {
    now = Date::withTimeIntervalSince1970(since1970);
    EXPECT_FALSE(agreement()->accept(true)) << since1970;
  }
  EXPECT_FALSE(defaults->objectForKey("eulaAcceptance").has_value());

  now = Date::withTimeIntervalSince1970(1'750'000'000.5);
  auto store = agreement();
  std::vector<bool> announced;
  auto subscription = store->acceptedPublisher().sink([&](const bool& value) { announced.push_back(value); });
  EXPECT_FALSE(store->accept(false));  // consent first, even when already accepted
  EXPECT_TRUE(store->accept(true));
  EXPECT_TRUE(store->accepted());
  EXPECT_FALSE(store->showsUpdateNotice());

  // The record holds the bundled revision and the moment in seconds since 2001.
  const auto record = platform::JSONDecode(*defaults->dataForKey("eulaAcceptance"));
  EXPECT_EQ(record.at("version"), "2");
  EXPECT_EQ(record.at("acceptedAt").get<double>(), 1'750'000'000.5 - 978'307'200);
  EXPECT_EQ(announced, (std::vector<bool>{false, true}));

  now = Date::withTimeIntervalSince1970(1'800'000'000);
  EXPECT_EQ(writesDuring([&] { EXPECT_TRUE(store->accept(true)); }), 0);
  EXPECT_FALSE(store->accept(false));
  EXPECT_TRUE(agreement()->accepted());
}

TEST_F(LegalAgreementTest, ReviewingRecordsTheRevisionOnlyAfterAcceptance) {
  auto fresh = agreement();
  EXPECT_EQ(writesDuring([&] { fresh->markUpdateReviewed(); }), 0);

  storeRecord(R"({"version": "1", "acceptedAt": 10})");
  auto noDocument = agreement(std::nullopt);
  EXPECT_EQ(writesDuring([&] { noDocument->markUpdateReviewed(); }), 0);

  auto store = agreement();
  ASSERT_TRUE(store->showsUpdateNotice());
  store->markUpdateReviewed();
  EXPECT_FALSE(store->showsUpdateNotice());
  EXPECT_EQ(defaults->stringForKey("legalUpdateReviewedVersion"), "2");
  EXPECT_FALSE(agreement()->showsUpdateNotice());  // and at the next start
}

TEST_F(LegalAgreementTest, SheetIsPresentedOnceAndDoneMarksTheReview) {
  storeRecord(R"({"version": "1", "acceptedAt": 10})");
  auto store = agreement();
  store->presentSheet(nullptr);  // no window anywhere: nothing to attach to
  EXPECT_EQ(store->sheetController(), nullptr);

  auto main = window();
  main->makeKeyAndOrderFront();
  store->presentSheet(nullptr);  // the key window is chosen
  auto controller = store->sheetController();
  ASSERT_NE(controller, nullptr);
  auto panel = controller->window();
  EXPECT_EQ(main->attachedSheet(), panel);
  EXPECT_EQ(panel->title(), "vurle License Agreement");
  EXPECT_EQ(controller->document(), store->document());

  main->makeKeyWindow();
  store->presentSheet(main);  // brought to the front, not opened twice
  EXPECT_EQ(store->sheetController(), controller);
  EXPECT_TRUE(panel->isKeyWindow());

  controller->primaryAction();  // Done
  EXPECT_EQ(store->sheetController(), nullptr);
  EXPECT_EQ(main->attachedSheet(), nullptr);
  EXPECT_FALSE(panel->isVisible());
  EXPECT_EQ(defaults->stringForKey("legalUpdateReviewedVersion"), "2");
  EXPECT_FALSE(store->showsUpdateNotice());
}

TEST_F(LegalAgreementTest, EscapeClosesLikeDoneAndForeignSheetsBlock) {
  auto store = agreement();
  auto main = window();
  main->makeKeyAndOrderFront();
  auto other = std::make_shared<platform::NSPanel>(platform::NSMakeRect(0, 0, 10, 10), platform::NSWindowStyleMaskTitled);
  main->beginSheet(other);
  // The key window is now that sheet; its parent already has a sheet.
  store->presentSheet(nullptr);
  EXPECT_EQ(store->sheetController(), nullptr);
  EXPECT_EQ(main->attachedSheet(), other);
  main->endSheet(other);

  store->presentSheet(main);
  auto panel = store->sheetController()->window();
  panel->cancelOperation();
  EXPECT_EQ(store->sheetController(), nullptr);
  EXPECT_EQ(main->attachedSheet(), nullptr);
}

TEST_F(LegalAgreementTest, EndingTheSheetElsewhereForgetsItsControllerAndMainIsTheLastResort) {
  auto store = agreement(std::nullopt);  // no document: the sheet still opens, in its unavailable state
  auto main = window();
  main->makeKeyAndOrderFront();
  auto palette = std::make_shared<platform::NSPanel>(platform::NSMakeRect(0, 0, 10, 10), platform::NSWindowStyleMaskTitled);
  palette->makeKeyAndOrderFront();
  palette->orderOut();
  ASSERT_EQ(platform::NSApplication::shared()->keyWindow(), nullptr);

  store->presentSheet(nullptr);  // no key window: the main window is the parent
  auto controller = store->sheetController();
  ASSERT_NE(controller, nullptr);
  EXPECT_FALSE(controller->document().has_value());
  EXPECT_EQ(main->attachedSheet(), controller->window());

  main->endSheet(controller->window());  // ended by someone else: the completion forgets it
  EXPECT_EQ(store->sheetController(), nullptr);
  store->presentSheet(main);
  EXPECT_NE(store->sheetController(), nullptr);
  EXPECT_NE(store->sheetController(), controller);
}

TEST(LegalLinkTest, OnlyTheSitesLegalPagesAreRewritten) {
  auto base = siteBaseURL();
  ASSERT_TRUE(base.has_value());
  EXPECT_EQ(base->scheme(), "https");
  EXPECT_EQ(base->absoluteString().back(), '/');
  // Under the built-in root a rewritten page reads as the link itself, so a
  // link left alone would pass: another root tells the two apart.
  const std::string mirror = "https://mirror.example.org/vurle/";
  const struct {
    const char* link;
    std::string expected;
  } cases[] = {
      {"https://vurle.app/terms", mirror + "terms/"},
      {"https://vurle.app/terms/", mirror + "terms/"},
      {"https://vurle.app/privacy", mirror + "privacy/"},
      {"https://vurle.app/privacy/", mirror + "privacy/"},
      {"https://vurle.app/terms?lang=en", "https://vurle.app/terms?lang=en"},
      {"https://vurle.app/terms#section", "https://vurle.app/terms#section"},
      {"http://vurle.app/terms", "http://vurle.app/terms"},
      {"https://vurle.app/terms/old", "https://vurle.app/terms/old"},
      {"https://vurle.app/privacy//", "https://vurle.app/privacy//"},
      {"https://Vurle.app/terms", "https://Vurle.app/terms"},
      {"https://example.org/privacy", "https://example.org/privacy"},
      {"mailto:hello@vurle.app", "mailto:hello@vurle.app"},
  };
  const auto root = platform::NSURL::URLWithString(mirror);
  for (const auto& c : cases) {
    const auto link = *platform::NSURL::URLWithString(c.link);
    EXPECT_EQ(legalLinkDestination(link, root).absoluteString(), c.expected) << c.link;
    // The built-in root: the same pages, under it.
    std::string expected = c.expected;
    if (expected.starts_with(mirror)) expected = base->absoluteString() + expected.substr(mirror.size());
    EXPECT_EQ(legalLinkDestination(link).absoluteString(), expected) << c.link;
    // Without a usable root nothing is rewritten.
    EXPECT_EQ(legalLinkDestination(link, std::nullopt).absoluteString(), c.link) << c.link;
  }
}

class SharedAgreementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::resetProcessState();
    fs::create_directories(root / "Resources");
    if (const char* value = std::getenv("XDG_CONFIG_HOME")) savedConfig = value;
    ::setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
    platform::NSBundle::setMainBundlePath(root);
  }
  void TearDown() override {
    savedConfig ? ::setenv("XDG_CONFIG_HOME", savedConfig->c_str(), 1) : ::unsetenv("XDG_CONFIG_HOME");
    platform::resetProcessState();
    fs::remove_all(root);
  }

  const fs::path root = fs::temp_directory_path() / ("vurle-eula-" + std::to_string(::getpid()));
  std::optional<std::string> savedConfig;
};

TEST_F(SharedAgreementTest, LoadsOnlyAValidBundledDocument) {
  const struct {
    std::optional<std::string> file;
    bool present;
  } cases[] = {
      {std::nullopt, false},
      {R"({"version": "3", "text": "Terms.", "notes": 1})", true},
      {R"({"version": "3"})", false},
      {R"({"version": 3, "text": "Terms."})", false},
      {R"({"version": "  ", "text": "Terms."})", false},
      {R"({"version": "3", "text": "Ter)", false},
  };
  for (const auto& c : cases) {
    fs::remove(root / "Resources" / "EULA.json");
    if (c.file) std::ofstream(root / "Resources" / "EULA.json") << *c.file;
    platform::NSBundle::setMainBundlePath(root);
    auto shared = LegalAgreement::shared();
    EXPECT_EQ(shared, LegalAgreement::shared());
    EXPECT_EQ(shared->document().has_value(), c.present) << c.file.value_or("(none)");
    platform::resetProcessState();
  }
}

TEST_F(SharedAgreementTest, TheShippedAgreementIsValidAndAcceptanceIsStored) {
  fs::copy_file(fs::path(VURLE_RESOURCES_DIR) / "EULA.json", root / "Resources" / "EULA.json");
  auto shared = LegalAgreement::shared();
  ASSERT_TRUE(shared->document().has_value());
  EXPECT_TRUE(shared->document()->isValid());
  EXPECT_NE(shared->document()->text.find("https://vurle.app/privacy"), std::string::npos);
  EXPECT_TRUE(shared->accept(true));
  platform::resetProcessState();
  platform::NSBundle::setMainBundlePath(root);
  EXPECT_TRUE(LegalAgreement::shared()->accepted());
}

}  // namespace
}  // namespace vurle
