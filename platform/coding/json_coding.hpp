#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/coding/data.hpp"
#include "platform/coding/date.hpp"
#include "platform/coding/json_value.hpp"
#include "platform/coding/property_list.hpp"

namespace platform {

// The JSON coder's two failures; a caller that decodes a stored record
// catches DecodingError and falls back to its default.
struct DecodingError : std::runtime_error {
  using std::runtime_error::runtime_error;
};
struct EncodingError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Any JSON text, a top-level scalar or null included. Malformed text or
// ill-formed UTF-8: DecodingError.
JSON JSONDecode(const Data& data);
// Compact JSON text. A string that is not UTF-8, or a number that is not
// finite, has no JSON form: EncodingError.
Data JSONEncode(const JSON& json);

// True when the bytes are well-formed UTF-8, the only strings JSON and the
// platform's string type can hold.
bool isValidUTF8(const std::string& text);

// Strict keyed reads of a record: the value must be an object and the key
// present with a value of the asked type, else DecodingError. Keys not read
// are ignored.
std::string decodeString(const JSON& record, const std::string& key);
// A whole number from 0 to 4294967295 (written with or without a fraction
// part of zero); a Boolean is not a number.
std::uint32_t decodeUInt32(const JSON& record, const std::string& key);
// The coder's default date form: seconds since 2001-01-01 00:00:00 UTC.
Date decodeDate(const JSON& record, const std::string& key);
inline JSON encodeDate(Date date) { return date.timeIntervalSinceReferenceDate(); }

// The most containers the property-list readers accept around a value: a
// deeper one is a DecodingError, so hostile input cannot exhaust the stack.
inline constexpr int maximumPropertyListDepth = 512;

// Property lists in JSON. The tagged form keeps every type apart so a value
// reads back exactly as written: each value is an object with one key naming
// its type: "bool", "int", "real" (a number, or "nan", "inf", "-inf"),
// "string", "data" (base64), "date" (seconds since 2001-01-01 UTC),
// "array" or "dict". Anything else: DecodingError.
JSON taggedJSON(const PropertyListValue& value);
PropertyListValue propertyListFromTaggedJSON(const JSON& json);
// Plain JSON (a generated information dictionary): true/false are Booleans,
// whole numbers integers, other numbers reals; null has no property-list
// form (DecodingError).
PropertyListValue propertyListFromJSON(const JSON& json);

}  // namespace platform
