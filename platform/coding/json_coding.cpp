#include "platform/coding/json_coding.hpp"

#include <cmath>
#include <limits>

namespace platform {
namespace {

void requireFinite(const JSON& json) {
  if (json.is_number_float() && !std::isfinite(json.get<double>())) {
    throw EncodingError("a number that is not finite has no JSON form");
  }
  if (json.is_structured()) {
    for (const auto& item : json) requireFinite(item);
  }
}

const JSON& member(const JSON& record, const std::string& key) {
  if (!record.is_object()) throw DecodingError("expected a JSON object, found " + std::string(record.type_name()));
  auto found = record.find(key);
  if (found == record.end()) throw DecodingError("the key \"" + key + "\" is missing");
  return *found;
}

double number(const JSON& value, const std::string& what) {
  if (!value.is_number()) throw DecodingError(what + ": expected a number, found " + value.type_name());
  return value.get<double>();
}

}  // namespace

bool isValidUTF8(const std::string& text) {
  size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    size_t length = 0;
    std::uint32_t code = 0;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2, code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3, code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4, code = lead & 0x07;
    } else {
      return false;
    }
    if (i + length > text.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    // Overlong forms, UTF-16 surrogates and code points past U+10FFFF.
    if ((length == 3 && code < 0x800) || (length == 4 && code < 0x10000) || code > 0x10FFFF ||
        (code >= 0xD800 && code <= 0xDFFF)) {
      return false;
    }
    i += length;
  }
  return true;
}

JSON JSONDecode(const Data& data) {
  try {
    return JSON::parse(data.begin(), data.end());
  } catch (const JSON::exception& error) {
    throw DecodingError(std::string("not valid JSON: ") + error.what());
  }
}

Data JSONEncode(const JSON& json) {
  requireFinite(json);
  try {
    return dataFromString(json.dump());
  } catch (const JSON::exception& error) {
    throw EncodingError(std::string("cannot write JSON: ") + error.what());
  }
}

std::string decodeString(const JSON& record, const std::string& key) {
  const JSON& value = member(record, key);
  if (!value.is_string()) throw DecodingError("\"" + key + "\": expected a string, found " + value.type_name());
  return value.get<std::string>();
}

std::uint32_t decodeUInt32(const JSON& record, const std::string& key) {
  const JSON& value = member(record, key);
  const std::string what = "\"" + key + "\"";
  if (value.is_number_unsigned()) {
    const auto whole = value.get<std::uint64_t>();
    if (whole > std::numeric_limits<std::uint32_t>::max()) throw DecodingError(what + ": does not fit 32 bits");
    return static_cast<std::uint32_t>(whole);
  }
  if (value.is_number_integer()) throw DecodingError(what + ": negative");
  const double real = number(value, what);
  if (!(real >= 0.0 && real <= 4294967295.0)) throw DecodingError(what + ": does not fit 32 bits");
  if (real != std::floor(real)) throw DecodingError(what + ": not a whole number");
  return static_cast<std::uint32_t>(real);
}

Date decodeDate(const JSON& record, const std::string& key) {
  const double seconds = number(member(record, key), "\"" + key + "\"");
  if (!std::isfinite(seconds)) throw DecodingError("\"" + key + "\": not a finite date");
  return Date::withTimeIntervalSinceReferenceDate(seconds);
}

JSON taggedJSON(const PropertyListValue& value) {
  switch (value.type()) {
    case PropertyListValue::Type::boolean: return {{"bool", *value.boolean()}};
    case PropertyListValue::Type::integer: return {{"int", *value.integer()}};
    case PropertyListValue::Type::real: {
      const double real = *value.real();
      if (std::isnan(real)) return {{"real", "nan"}};
      if (std::isinf(real)) return {{"real", real > 0 ? "inf" : "-inf"}};
      return {{"real", real}};
    }
    case PropertyListValue::Type::string: return {{"string", *value.string()}};
    case PropertyListValue::Type::data: return {{"data", base64EncodedString(*value.data())}};
    case PropertyListValue::Type::date: return {{"date", value.date()->timeIntervalSinceReferenceDate()}};
    case PropertyListValue::Type::array: {
      JSON items = JSON::array();
      for (const auto& item : *value.array()) items.push_back(taggedJSON(item));
      return {{"array", items}};
    }
    case PropertyListValue::Type::dictionary: {
      JSON entries = JSON::object();
      for (const auto& [key, item] : *value.dictionary()) entries[key] = taggedJSON(item);
      return {{"dict", entries}};
    }
  }
  throw EncodingError("unknown property-list type");
}

namespace {

// Containers are read by recursion, so outside input is bounded before it
// can exhaust the stack: `depth` counts the containers around the value.
void requireDepth(int depth) {
  if (depth >= maximumPropertyListDepth) {
    throw DecodingError("nested deeper than " + std::to_string(maximumPropertyListDepth) + " levels");
  }
}

PropertyListValue taggedValue(const JSON& json, int depth) {
  if (!json.is_object() || json.size() != 1) throw DecodingError("expected an object with one type tag");
  const std::string tag = json.begin().key();
  const JSON& value = json.begin().value();
  if (tag == "bool" && value.is_boolean()) return value.get<bool>();
  if (tag == "int" && value.is_number_integer()) {
    if (value.is_number_unsigned() && value.get<std::uint64_t>() > std::uint64_t(std::numeric_limits<std::int64_t>::max())) {
      throw DecodingError("integer out of range");
    }
    return value.get<std::int64_t>();
  }
  if (tag == "real" && value.is_number()) return value.get<double>();
  if (tag == "real" && value.is_string()) {
    const auto text = value.get<std::string>();
    if (text == "nan") return std::numeric_limits<double>::quiet_NaN();
    if (text == "inf") return std::numeric_limits<double>::infinity();
    if (text == "-inf") return -std::numeric_limits<double>::infinity();
  }
  if (tag == "string" && value.is_string()) return value.get<std::string>();
  if (tag == "data" && value.is_string()) {
    if (auto bytes = dataFromBase64(value.get<std::string>())) return *bytes;
    throw DecodingError("data that is not base64");
  }
  if (tag == "date" && value.is_number()) return Date::withTimeIntervalSinceReferenceDate(value.get<double>());
  if (tag == "array" && value.is_array()) {
    PropertyListArray items;
    requireDepth(depth);
    for (const auto& item : value) items.push_back(taggedValue(item, depth + 1));
    return items;
  }
  if (tag == "dict" && value.is_object()) {
    PropertyListDictionary entries;
    requireDepth(depth);
    for (const auto& [key, item] : value.items()) entries.emplace(key, taggedValue(item, depth + 1));
    return entries;
  }
  throw DecodingError("\"" + tag + "\" holding " + value.type_name() + " is not a tagged property-list value");
}

PropertyListValue plainValue(const JSON& json, int depth) {
  if (json.is_boolean()) return json.get<bool>();
  if (json.is_number_integer()) {
    if (json.is_number_unsigned() && json.get<std::uint64_t>() > std::uint64_t(std::numeric_limits<std::int64_t>::max())) {
      return static_cast<double>(json.get<std::uint64_t>());
    }
    return json.get<std::int64_t>();
  }
  if (json.is_number_float()) return json.get<double>();
  if (json.is_string()) return json.get<std::string>();
  if (json.is_array()) {
    PropertyListArray items;
    requireDepth(depth);
    for (const auto& item : json) items.push_back(plainValue(item, depth + 1));
    return items;
  }
  if (json.is_object()) {
    PropertyListDictionary entries;
    requireDepth(depth);
    for (const auto& [key, item] : json.items()) entries.emplace(key, plainValue(item, depth + 1));
    return entries;
  }
  throw DecodingError("null has no property-list form");
}

}  // namespace

PropertyListValue propertyListFromTaggedJSON(const JSON& json) { return taggedValue(json, 0); }

PropertyListValue propertyListFromJSON(const JSON& json) { return plainValue(json, 0); }

}  // namespace platform
