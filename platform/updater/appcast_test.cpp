#include "platform/updater/appcast.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/updater/updater_test_support.hpp"

namespace platform {
namespace {

using testing::FeedItem;
using testing::feedXML;

const std::string kSignature = base64EncodedString(Data(64, 7));

FeedItem goodItem(std::string version = "130") {
  return {std::move(version), "1.3", "", "https://vurle.app/downloads/vurle.zip", kSignature, "123", "vurle 1.3"};
}

TEST(SUAppcastTest, VersionsAreDottedDecimalRunsComparedByValue) {
  struct Case {
    const char* a;
    const char* b;
    std::optional<int> order;
  };
  const std::vector<Case> cases = {
      {"1.10", "1.9", 1},   {"1.9", "1.10", -1},  {"1.2", "1.2.0", 0},     {"1.2.0.0", "1.2", 0},
      {"01.2", "1.2", 0},   {"2", "1.99.99", 1},  {"1.2.1", "1.2", 1},     {"0", "0.0", 0},
      {"99999999999999999999", "99999999999999999998", 1},
      {"1..2", "1", {}},    {".1", "1", {}},      {"1.", "1", {}},         {"1.2b", "1", {}},
      {"", "1", {}},        {"-1", "1", {}},      {" 1", "1", {}},         {"1", "1,2", {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SUCompareVersions(c.a, c.b), c.order) << c.a << " vs " << c.b;
    if (c.order) {
      EXPECT_EQ(SUCompareVersions(c.b, c.a), -*c.order) << c.b << " vs " << c.a;
    }
  }
}

// What may be offered: an https enclosure, a 64-byte signature in the
// feed's namespace, a dotted-decimal build; a length and a minimum system
// only when they read.
TEST(SUAppcastTest, OnlyWellFormedItemsAreOffered) {
  struct Case {
    const char* name;
    std::string xml;
    bool offered;
  };
  const auto with = [](auto change) {
    FeedItem item = goodItem();
    change(item);
    return feedXML({item});
  };
  // The good item with `extra` written before `before`.
  const auto adding = [](const std::string& extra, const std::string& before) {
    std::string xml = feedXML({goodItem()});
    return xml.insert(xml.find(before), extra);
  };
  const std::vector<Case> cases = {
      {"complete", feedXML({goodItem()}), true},
      {"another prefix for the namespace", feedXML({goodItem()}, "x"), true},
      {"no length", with([](FeedItem& i) { i.length = ""; }), true},
      {"a minimum system", with([](FeedItem& i) { i.minimumSystem = "14.0"; }), true},
      {"http enclosure", with([](FeedItem& i) { i.url = "http://vurle.app/vurle.zip"; }), false},
      {"no enclosure URL", with([](FeedItem& i) { i.url = ""; }), false},
      {"enclosure URL not a URL", with([](FeedItem& i) { i.url = "https://vurle.app/a b"; }), false},
      {"no signature", with([](FeedItem& i) { i.signature = ""; }), false},
      {"63-byte signature", with([](FeedItem& i) { i.signature = base64EncodedString(Data(63, 7)); }), false},
      {"65-byte signature", with([](FeedItem& i) { i.signature = base64EncodedString(Data(65, 7)); }), false},
      {"signature not Base64", with([](FeedItem& i) { i.signature = "not base64!"; }), false},
      {"no version", with([](FeedItem& i) { i.version = ""; }), false},
      {"version with a letter", with([](FeedItem& i) { i.version = "1.3b"; }), false},
      {"minimum system unreadable", with([](FeedItem& i) { i.minimumSystem = "14.x"; }), false},
      {"length zero", with([](FeedItem& i) { i.length = "0"; }), false},
      {"length not decimal", with([](FeedItem& i) { i.length = "12kB"; }), false},
      {"signature outside the namespace",
       R"(<rss version="2.0" xmlns:vu=")" + std::string(SUAppcastNamespace) +
           R"("><channel><item><vu:version>130</vu:version><enclosure url="https://vurle.app/a.zip" edSignature=")" +
           kSignature + R"("/></item></channel></rss>)",
       false},
      {"fields in another namespace",
       R"(<rss version="2.0" xmlns:vu="https://example.com/other"><channel><item><vu:version>130</vu:version>)"
       R"(<enclosure url="https://vurle.app/a.zip" vu:edSignature=")" +
           kSignature + R"("/></item></channel></rss>)",
       false},
      {"shown version of 300 characters", with([](FeedItem& i) { i.shortVersion = std::string(300, '1'); }), true},
      {"shown version of 301 characters", with([](FeedItem& i) { i.shortVersion = std::string(301, '1'); }), false},
      {"shown version of 100 KB", with([](FeedItem& i) { i.shortVersion = std::string(100000, '1'); }), false},
      {"shown version turned around", with([](FeedItem& i) { i.shortVersion = "1.3\u202E"; }), false},
      {"shown version ringing a bell", with([](FeedItem& i) { i.shortVersion = "1.3&#7;"; }), false},
      {"shown version with an escape sequence", with([](FeedItem& i) { i.shortVersion = "1.3&#x1B;[2J"; }), false},
      {"title turned around", with([](FeedItem& i) { i.title = "vurle \u202E3.1"; }), false},
      {"the prefix declared again on the item",
       R"(<rss version="2.0" xmlns:vu=")" + std::string(SUAppcastNamespace) +
           R"("><channel><item xmlns:vu="https://example.com/other"><vu:version>130</vu:version>)"
           R"(<enclosure url="https://vurle.app/a.zip" vu:edSignature=")" +
           kSignature + R"("/></item></channel></rss>)",
       false},
      {"version in the default namespace",
       R"(<rss version="2.0" xmlns:vu=")" + std::string(SUAppcastNamespace) + R"("><channel><item><version xmlns=")" +
           SUAppcastNamespace + R"(">130</version><enclosure url="https://vurle.app/a.zip" vu:edSignature=")" +
           kSignature + R"("/></item></channel></rss>)",
       true},
      {"the prefix declared on the enclosure",
       R"(<rss version="2.0"><channel><item><version xmlns=")" + std::string(SUAppcastNamespace) +
           R"(">130</version><enclosure xmlns:s=")" + SUAppcastNamespace +
           R"(" url="https://vurle.app/a.zip" s:edSignature=")" + kSignature + R"("/></item></channel></rss>)",
       true},
      {"a second version, not dotted decimal", adding("<vu:version>1.3b</vu:version>", "<enclosure"), true},
      {"a second enclosure, over http",
       adding(R"(<enclosure url="http://vurle.app/a.zip" vu:edSignature=")" + kSignature + R"("/>)", "</item>"),
       true},
      {"notes no window could show", adding("<description>Fixes&#10;a &#x202E;crash.</description>", "<enclosure"),
       true},
  };
  for (const auto& c : cases) {
    const auto reading = SUAppcastRead(dataFromString(c.xml));
    ASSERT_TRUE(reading.appcast.has_value()) << c.name << ": " << reading.error;
    EXPECT_EQ(reading.appcast->items.size(), c.offered ? 1u : 0u) << c.name;
    EXPECT_EQ(reading.appcast->skippedItems, c.offered ? 0u : 1u) << c.name;
  }
  const auto item = SUAppcastRead(dataFromString(feedXML({goodItem()}))).appcast->items.at(0);
  EXPECT_EQ(item.versionString, "130");
  EXPECT_EQ(item.displayVersionString, "1.3");
  EXPECT_EQ(item.title, "vurle 1.3");
  EXPECT_EQ(item.contentLength, 123u);
  EXPECT_EQ(item.edSignature, Data(64, 7));
}

TEST(SUAppcastTest, ADocumentThatIsNotAnRSSFeedOfAtMostOneMebibyteIsRefused) {
  std::string padded = feedXML({goodItem()});
  padded.insert(padded.find("<channel>"), std::string(SUAppcastMaximumBytes - padded.size(), ' '));
  ASSERT_EQ(padded.size(), SUAppcastMaximumBytes);
  struct Case {
    const char* name;
    std::string xml;
    bool read;
  };
  const std::vector<Case> cases = {
      {"exactly 1 MiB", padded, true},
      {"one byte over", padded + " ", false},
      {"empty channel", R"(<rss version="2.0"><channel/></rss>)", true},
      {"not XML", "{\"items\": []}", false},
      {"unclosed", R"(<rss version="2.0"><channel><item>)", false},
      {"empty", "", false},
      {"another root", R"(<feed><channel/></feed>)", false},
      {"no channel", R"(<rss version="2.0"><item/></rss>)", false},
  };
  for (const auto& c : cases) {
    const auto reading = SUAppcastRead(dataFromString(c.xml));
    EXPECT_EQ(reading.appcast.has_value(), c.read) << c.name;
    EXPECT_EQ(reading.error.empty(), c.read) << c.name;
  }
}

TEST(SUAppcastTest, TheNewestItemAboveTheRunningBuildThatRunsHereIsChosen) {
  const auto needs = [](std::string version, std::string system) {
    FeedItem item = goodItem(std::move(version));
    item.minimumSystem = std::move(system);
    return item;
  };
  struct Case {
    const char* name;
    std::vector<FeedItem> items;
    const char* running;
    std::optional<std::string> skipped;
    std::optional<std::string> update;
    std::optional<std::string> needsNewerSystem;
  };
  const std::vector<Case> cases = {
      {"newest of several, in any order", {goodItem("1.9"), goodItem("1.10"), goodItem("1.2")}, "1.2", {}, "1.10", {}},
      {"the running build itself is not newer", {goodItem("1.2.0")}, "1.2", {}, {}, {}},
      {"older only", {goodItem("1.1")}, "1.2", {}, {}, {}},
      {"newer needs a newer system", {needs("2", "27.0")}, "1", {}, {}, "2"},
      {"an older one runs here", {needs("3", "27.0"), needs("2", "26.0")}, "1", {}, "2", {}},
      {"the system exactly", {needs("2", "26.0.0")}, "1", {}, "2", {}},
      {"skipped and older are not offered", {goodItem("2"), goodItem("3")}, "1", "3", {}, {}},
      {"newer than the skipped one is", {goodItem("2"), goodItem("4")}, "1", "3", "4", {}},
  };
  const NSOperatingSystemVersion system{26, 0, 0};
  for (const auto& c : cases) {
    const auto appcast = SUAppcastRead(dataFromString(feedXML(c.items))).appcast.value();
    const auto choice = SUAppcastChoose(appcast, c.running, system, c.skipped);
    EXPECT_EQ(choice.update ? std::optional(choice.update->versionString) : std::nullopt, c.update) << c.name;
    EXPECT_EQ(choice.needsNewerSystem ? std::optional(choice.needsNewerSystem->versionString) : std::nullopt,
              c.needsNewerSystem)
        << c.name;
  }
}

}  // namespace
}  // namespace platform
