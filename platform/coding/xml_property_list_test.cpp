#include "platform/coding/xml_property_list.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "platform/coding/json_coding.hpp"
#include "platform/foundation/file_manager.hpp"
#include "platform/foundation/process_wide.hpp"

namespace platform {
namespace {

namespace fs = std::filesystem;

PropertyListValue read(const std::string& text) { return propertyListFromXML(dataFromString(text)); }
std::string plist(const std::string& body) { return "<?xml version=\"1.0\"?><plist version=\"1.0\">" + body + "</plist>"; }

TEST(XMLPropertyListTest, ReadsEveryTypeOfValue) {
  struct Case {
    std::string text;
    PropertyListValue expected;
  };
  const Case cases[] = {
      {plist("<true/>"), true},
      {plist("<false></false>"), false},
      {plist("<integer> -42 </integer>"), std::int64_t{-42}},
      {plist("<integer>+7</integer>"), std::int64_t{7}},
      {plist("<integer>9223372036854775807</integer>"), std::int64_t{9223372036854775807}},
      {plist("<real>2.5e3</real>"), 2500.0},
      {plist("<real>-infinity</real>"), -INFINITY},
      {plist("<string>  a &amp; b &lt;c&gt; </string>"), std::string("  a & b <c> ")},
      {plist("<string>   </string>"), std::string("   ")},
      {plist("<string><![CDATA[x<y]]></string>"), std::string("x<y")},
      {plist("<string>caf\xC3\xA9</string>"), std::string("caf\xC3\xA9")},
      {plist("<string/>"), std::string()},
      {plist("<data>\n  Zm9v\n  YmFy\n</data>"), dataFromString("foobar")},
      {plist("<date>2001-01-01T00:00:00Z</date>"), Date::withTimeIntervalSinceReferenceDate(0)},
      {plist("<date>2024-02-29T23:59:59Z</date>"), Date::withTimeIntervalSince1970(1709251199)},
      {plist("<array><integer>1</integer> <string>two</string></array>"),
       PropertyListArray{std::int64_t{1}, std::string("two")}},
      {plist("<dict><key>LSMinimumSystemVersion</key><string>15.0</string><key>n</key><integer>1</integer>"
             "<key>n</key><integer>2</integer></dict>"),
       PropertyListDictionary{{"LSMinimumSystemVersion", "15.0"}, {"n", std::int64_t{2}}}},
      {"<!-- no plist element --><dict><key>a</key><true/></dict>", PropertyListDictionary{{"a", true}}},
      {"<!DOCTYPE plist SYSTEM \"x.dtd\"><plist><array/></plist>", PropertyListArray{}},
  };
  for (const auto& c : cases) {
    try {
      EXPECT_EQ(read(c.text), c.expected) << c.text;
    } catch (const DecodingError& e) {
      ADD_FAILURE() << c.text << ": " << e.what();
    }
  }
  EXPECT_TRUE(std::isnan(*read(plist("<real>nan</real>")).real()));
  // A document's own entities are never expanded: the reference stays text.
  EXPECT_EQ(read("<!DOCTYPE x [<!ENTITY e \"boom\">]><plist><string>&e;</string></plist>"), PropertyListValue("&e;"));
}

TEST(XMLPropertyListTest, RefusesWhatIsNotAPropertyList) {
  const std::string refused[] = {
      "",
      "not xml",
      "<plist><true/><false/></plist>",
      "<plist></plist>",
      "<a/><b/>",
      plist("<unknown/>"),
      plist("<true>yes</true>"),
      plist("<integer>12x</integer>"),
      plist("<integer>9223372036854775808</integer>"),
      plist("<integer>+-1</integer>"),
      plist("<integer></integer>"),
      plist("<real>1e999</real>"),
      plist("<real>--1</real>"),
      plist("<real>0x10</real>"),
      plist("<date>2023-02-29T00:00:00Z</date>"),
      plist("<date>2024-01-01 00:00:00Z</date>"),
      plist("<date>2024-13-01T00:00:00Z</date>"),
      plist("<data>Zm9</data>"),
      plist("<string>a<b/></string>"),
      plist("<string>bell&#7;</string>"),
      plist("<string>\xC3\x28</string>"),
      plist("<array>loose text<true/></array>"),
      plist("<dict><string>a</string><true/></dict>"),
      plist("<dict><key>a</key></dict>"),
  };
  for (const auto& text : refused) EXPECT_THROW(read(text), DecodingError) << text;
}

TEST(XMLPropertyListTest, BoundsSizeAndDepthBeforeReading) {
  // Exactly at the limit reads; one byte more does not.
  const std::string open = "<plist><string>", close = "</string></plist>";
  std::string atLimit = open + std::string(maximumXMLPropertyListLength - open.size() - close.size(), 'x') + close;
  ASSERT_EQ(atLimit.size(), maximumXMLPropertyListLength);
  EXPECT_NO_THROW(read(atLimit));
  EXPECT_THROW(read(atLimit.insert(15, "x")), DecodingError);

  auto nested = [](int depth) {
    std::string text;
    for (int i = 0; i < depth; ++i) text += "<array>";
    for (int i = 0; i < depth; ++i) text += "</array>";
    return text;
  };
  EXPECT_NO_THROW(read(nested(maximumPropertyListDepth)));
  EXPECT_THROW(read(nested(maximumPropertyListDepth + 1)), DecodingError);
  EXPECT_THROW(read(nested(100000)), DecodingError);
}

TEST(XMLPropertyListTest, WhatIsWrittenReadsBackAsTheSameValue) {
  const PropertyListValue values[] = {
      PropertyListDictionary{
          {"CFBundleIdentifier", "com.example.wallpaper"},
          {"line\r\nends\ttabs", PropertyListArray{true, false, std::int64_t{-9223372036854775807 - 1}}},
          {"reals", PropertyListArray{0.1, -0.0, 1e308, INFINITY, -INFINITY, 5e-324}},
          {"markup", "<dict> & \"quotes\" ' ]]>"},
          {"bytes", dataFromString(std::string("\x00\xff", 2))},
          {"when", Date::withTimeIntervalSince1970(-2208988800.0)},
          {"empty", PropertyListDictionary{}},
      },
      std::string("  spaces  "),
      Date::withTimeIntervalSince1970(253402300799.0),
  };
  for (const auto& value : values) {
    const Data written = propertyListXMLData(value);
    EXPECT_EQ(propertyListFromXML(written), value) << stringFromData(written);
  }
  EXPECT_THROW(propertyListXMLData(std::string("nul\0", 4)), EncodingError);
  EXPECT_THROW(propertyListXMLData(std::string("\xC3\x28")), EncodingError);
  EXPECT_THROW(propertyListXMLData(Date::withTimeIntervalSince1970(253402300800.0)), EncodingError);
}

TEST(XMLPropertyListTest, ReadsDictionaryFilesUnderTheSystemRoot) {
  resetProcessState();
  const fs::path root = fs::temp_directory_path() / ("vurle-plist-root-" + std::to_string(::getpid()));
  fs::remove_all(root);
  fs::create_directories(root / "System/Info");
  auto put = [&](const std::string& name, const std::string& text) { std::ofstream(root / "System/Info" / name) << text; };
  put("ok.plist", plist("<dict><key>LSMinimumSystemVersion</key><string>14.0</string></dict>"));
  put("array.plist", plist("<array/>"));
  put("broken.plist", "<plist><dict>");
  put("large.plist", plist("<dict><key>k</key><string>" + std::string(maximumXMLPropertyListLength, 'x') +
                           "</string></dict>"));
  setSystemRoot(root);
  auto at = [](const std::string& name) { return dictionaryWithContentsOfURL(NSURL::fileURLWithPath("/System/Info/" + name)); };
  ASSERT_TRUE(at("ok.plist"));
  EXPECT_EQ(*at("ok.plist")->at("LSMinimumSystemVersion").string(), "14.0");
  EXPECT_FALSE(at("array.plist"));
  EXPECT_FALSE(at("broken.plist"));
  EXPECT_FALSE(at("large.plist"));
  EXPECT_FALSE(at("missing.plist"));
  fs::remove_all(root);
  resetProcessState();
}

}  // namespace
}  // namespace platform
