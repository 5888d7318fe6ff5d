#include "platform/coding/json_coding.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace platform {
namespace {

JSON parse(const std::string& text) { return JSONDecode(dataFromString(text)); }

TEST(JSONCodingTest, DecodesAnyValueButRefusesMalformedText) {
  EXPECT_TRUE(parse("null").is_null());
  EXPECT_EQ(parse(" {\"a\": [1, 2]} ")["a"][1], 2);
  for (const char* text : {"", "{", "{\"a\":1,}", "nul", "{\"a\":1} x", "\"\xff\"", "// note\n1"}) {
    EXPECT_THROW(parse(text), DecodingError) << text;
  }
}

TEST(JSONCodingTest, EncodingRefusesWhatJSONCannotHold) {
  EXPECT_EQ(stringFromData(JSONEncode(JSON{{"a", 1}})), "{\"a\":1}");
  EXPECT_THROW(JSONEncode(JSON{{"a", std::nan("")}}), EncodingError);
  EXPECT_THROW(JSONEncode(JSON::array({1.0, std::numeric_limits<double>::infinity()})), EncodingError);
  EXPECT_THROW(JSONEncode(JSON{{"version", std::string("\xc3\x28")}}), EncodingError);
}

TEST(JSONCodingTest, UInt32FieldsAreStrict) {
  const struct {
    const char* record;
    bool decodes;
    std::uint32_t value;
  } cases[] = {
      {R"({"k": 0})", true, 0},
      {R"({"k": 4294967295})", true, 4294967295u},
      {R"({"k": 43.0})", true, 43},
      {R"({"k": 4.3e1, "extra": "ignored"})", true, 43},
      {R"({"k": 4294967296})", false, 0},
      {R"({"k": -1})", false, 0},
      {R"({"k": 43.5})", false, 0},
      {R"({"k": 1e300})", false, 0},
      {R"({"k": true})", false, 0},
      {R"({"k": "43"})", false, 0},
      {R"({"k": null})", false, 0},
      {R"({"other": 1})", false, 0},
      {R"([43])", false, 0},
  };
  for (const auto& c : cases) {
    if (c.decodes) {
      EXPECT_EQ(decodeUInt32(parse(c.record), "k"), c.value) << c.record;
    } else {
      EXPECT_THROW(decodeUInt32(parse(c.record), "k"), DecodingError) << c.record;
    }
  }
}

TEST(JSONCodingTest, StringsAndDatesKeepTheirTypes) {
  EXPECT_EQ(decodeString(parse(R"({"v": "2"})"), "v"), "2");
  EXPECT_THROW(decodeString(parse(R"({"v": 2})"), "v"), DecodingError);
  // The default date form counts from 2001-01-01.
  EXPECT_EQ(decodeDate(parse(R"({"at": 0})"), "at").timeIntervalSince1970(), 978307200.0);
  EXPECT_EQ(decodeDate(parse(R"({"at": -978307200.5})"), "at").timeIntervalSince1970(), -0.5);
  EXPECT_THROW(decodeDate(parse(R"({"at": "2001-01-01"})"), "at"), DecodingError);
  EXPECT_EQ(encodeDate(Date::withTimeIntervalSince1970(978307201.25)), 1.25);
}

TEST(PropertyListJSONTest, TaggedFormRoundTripsEveryTypeExactly) {
  const Data bytes = dataFromString(std::string("\0\x01\xff", 3));
  const PropertyListValue value = PropertyListDictionary{
      {"flag", true},
      {"one", 1},
      {"oneReal", 1.0},
      {"tiny", 0.1 + 0.2},
      {"big", std::numeric_limits<std::int64_t>::min()},
      {"inf", -std::numeric_limits<double>::infinity()},
      {"text", "caf\xc3\xa9"},
      {"bytes", bytes},
      {"when", Date::withTimeIntervalSinceReferenceDate(123.456)},
      {"list", PropertyListArray{false, "x", PropertyListDictionary{}}},
  };
  const auto back = propertyListFromTaggedJSON(JSONDecode(JSONEncode(taggedJSON(value))));
  EXPECT_EQ(back, value);
  const auto& entries = *back.dictionary();
  EXPECT_EQ(entries.at("one").type(), PropertyListValue::Type::integer);
  EXPECT_EQ(entries.at("oneReal").type(), PropertyListValue::Type::real);
  EXPECT_EQ(entries.at("flag").type(), PropertyListValue::Type::boolean);
  EXPECT_NE(entries.at("one"), entries.at("flag"));

  const auto nan = propertyListFromTaggedJSON(JSONDecode(JSONEncode(taggedJSON(std::nan("")))));
  ASSERT_NE(nan.real(), nullptr);
  EXPECT_TRUE(std::isnan(*nan.real()));
}

TEST(PropertyListJSONTest, TaggedFormRefusesAnythingElse) {
  for (const char* text : {R"(1)", R"({})", R"({"int": 1, "bool": true})", R"({"int": 1.5})", R"({"int": true})",
                           R"({"int": 9223372036854775808})", R"({"real": "NaN"})", R"({"data": "!!"})",
                           R"({"date": "today"})", R"({"array": [1]})", R"({"dict": {"a": 1}})", R"({"blob": 1})"}) {
    EXPECT_THROW(propertyListFromTaggedJSON(parse(text)), DecodingError) << text;
  }
}

// `levels` containers around a Boolean, in the tagged form or in plain JSON.
std::string nested(int levels, bool tagged, bool objects) {
  std::string open, close;
  for (int n = 0; n < levels; ++n) {
    if (tagged) {
      open += objects ? R"({"dict": {"k": )" : R"({"array": [)";
      close += objects ? "}}" : "]}";
    } else {
      open += objects ? R"({"k": )" : "[";
      close += objects ? "}" : "]";
    }
  }
  return open + (tagged ? R"({"bool": true})" : "true") + close;
}

TEST(PropertyListJSONTest, BothReadersRefuseNestingBeyondTheLimitWithoutExhaustingTheStack) {
  for (bool tagged : {true, false}) {
    for (bool objects : {true, false}) {
      for (int levels : {maximumPropertyListDepth, maximumPropertyListDepth + 1, 20000}) {
        SCOPED_TRACE(::testing::Message() << (tagged ? "tagged " : "plain ") << (objects ? "dict " : "array ") << levels);
        const JSON json = parse(nested(levels, tagged, objects));
        auto read = [&] { return tagged ? propertyListFromTaggedJSON(json) : propertyListFromJSON(json); };
        if (levels > maximumPropertyListDepth) {
          EXPECT_THROW(read(), DecodingError);
          continue;
        }
        // The deepest accepted value reads back whole, down to its leaf.
        PropertyListValue value = read();
        for (int n = 0; n < levels; ++n) {
          const PropertyListValue* inner = objects ? (value.dictionary() ? &value.dictionary()->at("k") : nullptr)
                                                   : (value.array() ? &value.array()->at(0) : nullptr);
          ASSERT_NE(inner, nullptr) << n;
          value = PropertyListValue(*inner);
        }
        EXPECT_EQ(value, PropertyListValue(true));
      }
    }
  }
}

TEST(UTF8Test, TellsWellFormedText) {
  EXPECT_TRUE(isValidUTF8("plain \xe2\x80\x99 \xf0\x9f\x98\x80"));
  for (const char* text : {"\x80", "\xc0\xaf", "\xe0\x80\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xe2\x80"}) {
    EXPECT_FALSE(isValidUTF8(text)) << text;
  }
}

}  // namespace
}  // namespace platform
