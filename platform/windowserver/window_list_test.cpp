#include "platform/windowserver/window_list.hpp"

#include <gtest/gtest.h>


#include "platform/foundation/process_wide.hpp"
#include "platform/windowserver/window_server.hpp"

namespace platform {
namespace {

class WindowListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WindowServer::shared();
    resetProcessState();
    // Front to back: a menu, an off-screen window, a document, the desktop.
    WindowTable::shared().setWindows({
        {.number = 10, .ownerPID = 100, .ownerName = "Menu", .layer = 101, .bounds = CGRectMake(0, 0, 10, 10)},
        {.number = 11, .ownerPID = 100, .layer = 0, .bounds = CGRectMake(0, 0, 5, 5), .onScreen = false},
        {.number = 12, .ownerPID = 200, .ownerName = "Doc", .layer = 0, .alpha = 0.5,
         .bounds = CGRectMake(1, 2, 3, 4)},
        {.number = 13, .ownerPID = 300, .layer = CGWindowLevelForKey(kCGDesktopWindowLevelKey),
         .bounds = CGRectMake(0, 0, 100, 100)},
    });
  }
  void TearDown() override { resetProcessState(); }

  static std::vector<int64_t> numbers(CGWindowListOption option, CGWindowID window) {
    auto list = CGWindowListCopyWindowInfo(option, window);
    std::vector<int64_t> result;
    if (!list) return result;
    for (const auto& entry : *list) result.push_back(*entry.at(kCGWindowNumber).asInteger());
    return result;
  }
};

TEST_F(WindowListTest, OptionsSelectWindowsFrontToBack) {
  struct Case {
    CGWindowListOption option;
    CGWindowID window;
    std::vector<int64_t> expected;
  } cases[] = {
      {kCGWindowListOptionAll, 0, {10, 11, 12, 13}},
      {kCGWindowListOptionOnScreenOnly, 0, {10, 12, 13}},
      {kCGWindowListOptionOnScreenOnly | kCGWindowListExcludeDesktopElements, 0, {10, 12}},
      {kCGWindowListOptionIncludingWindow, 11, {11}},
      {kCGWindowListOptionIncludingWindow, 99, {}},
      {kCGWindowListOptionOnScreenBelowWindow, 10, {12, 13}},
      {kCGWindowListOptionOnScreenAboveWindow | kCGWindowListOptionIncludingWindow, 12, {10, 12}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(numbers(c.option, c.window), c.expected) << "option " << c.option << " window " << c.window;
  }
}

TEST_F(WindowListTest, EntriesCarryTheWindowKeys) {
  auto list = CGWindowListCopyWindowInfo(kCGWindowListOptionAll, 0);
  ASSERT_TRUE(list);
  const auto& menu = (*list)[0];
  EXPECT_EQ(*menu.at(kCGWindowOwnerName).asString(), "Menu");
  EXPECT_EQ(menu.at(kCGWindowIsOnscreen).asBool(), true);
  EXPECT_EQ(menu.at(kCGWindowLayer).asInteger(), 101);
  EXPECT_EQ((*list)[1].count(kCGWindowIsOnscreen), 0u);  // only while on screen
  EXPECT_EQ((*list)[1].count(kCGWindowOwnerName), 0u);
  const auto& document = (*list)[2];
  EXPECT_EQ(document.at(kCGWindowAlpha).asDouble(), 0.5);
  CGRect bounds;
  ASSERT_TRUE(CGRectMakeWithDictionaryRepresentation(*document.at(kCGWindowBounds).asDictionary(), &bounds));
  EXPECT_EQ(bounds, CGRectMake(1, 2, 3, 4));

  auto window = WindowTable::shared().windows()[2];
  window.entryOverrides = {{kCGWindowNumber, std::nullopt}, {kCGWindowBounds, CFValue("wide")}};
  ASSERT_TRUE(WindowTable::shared().updateWindow(window));
  const auto broken = (*CGWindowListCopyWindowInfo(kCGWindowListOptionAll, 0))[2];
  EXPECT_EQ(broken.count(kCGWindowNumber), 0u);
  EXPECT_EQ(broken.at(kCGWindowBounds).asDictionary(), nullptr);

  WindowTable::shared().setListFailure(true);
  EXPECT_EQ(CGWindowListCopyWindowInfo(kCGWindowListOptionAll, 0), nullptr);
  EXPECT_EQ(WindowTable::shared().listReads(), 3);
}

TEST(CFValueReads, BridgeNumbersAsTheLanguageDoes) {
  EXPECT_EQ(CFValue(20.0).asInteger(), 20);
  EXPECT_FALSE(CFValue(20.5).asInteger().has_value());
  EXPECT_FALSE(CFValue(1e300).asInteger().has_value());
  EXPECT_EQ(CFValue(int64_t{1}).asBool(), true);
  EXPECT_FALSE(CFValue(2).asBool().has_value());
  EXPECT_EQ(CFValue(true).asDouble(), 1.0);
  EXPECT_FALSE(CFValue("1").asDouble().has_value());

  CGRect rect = CGRectMake(9, 9, 9, 9);
  CFDictionary missing{{"X", CFValue(1)}, {"Y", CFValue(2)}, {"Width", CFValue(3)}};
  CFDictionary text{{"X", CFValue(1)}, {"Y", CFValue(2)}, {"Width", CFValue(3)}, {"Height", CFValue("4")}};
  EXPECT_FALSE(CGRectMakeWithDictionaryRepresentation(missing, &rect));
  EXPECT_FALSE(CGRectMakeWithDictionaryRepresentation(text, &rect));
  EXPECT_EQ(rect, CGRectMake(9, 9, 9, 9));
}

TEST(EntryIntegerTest, WholeNumbersThatFitTheType) {
  const CFDictionary entry{{"negative", CFValue(-5)},       {"large", CFValue(int64_t{2147483648})},
                           {"real", CFValue(2.5)},          {"whole real", CFValue(7.0)},
                           {"text", CFValue("7")},          {"flag", CFValue(true)}};
  EXPECT_EQ(entryInteger<int32_t>(entry, "negative"), -5);
  EXPECT_EQ(entryInteger<uint32_t>(entry, "negative"), std::nullopt);
  EXPECT_EQ(entryInteger<int32_t>(entry, "large"), std::nullopt);
  EXPECT_EQ(entryInteger<uint32_t>(entry, "large"), 2147483648u);
  EXPECT_EQ(entryInteger<int64_t>(entry, "real"), std::nullopt);
  EXPECT_EQ(entryInteger<int64_t>(entry, "whole real"), 7);
  EXPECT_EQ(entryInteger<int64_t>(entry, "text"), std::nullopt);
  EXPECT_EQ(entryInteger<int64_t>(entry, "flag"), 1);
  EXPECT_EQ(entryInteger<int64_t>(entry, "missing"), std::nullopt);
}

}  // namespace
}  // namespace platform
