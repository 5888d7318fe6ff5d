#include "platform/coding/xml_property_list.hpp"

#include <pugixml.hpp>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/coding/json_coding.hpp"

namespace platform {
namespace {

// ---- text checks ---------------------------------------------------------

// Whether every code point is one XML 1.0 can carry (the caller has checked
// that the text is UTF-8).
bool xmlCharacters(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    std::uint32_t code = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
    for (size_t k = 1; k < length; ++k) code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    i += length;
    if (code < 0x20 && code != '\t' && code != '\n' && code != '\r') return false;
    if (code == 0xFFFE || code == 0xFFFF) return false;
  }
  return true;
}

bool writableText(const std::string& text) { return isValidUTF8(text) && xmlCharacters(text); }

std::string_view trimmed(std::string_view text) {
  const char* space = " \t\r\n";
  const size_t first = text.find_first_not_of(space);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(space) - first + 1);
}

// ---- dates ---------------------------------------------------------------

// Days from 1970-01-01 to the civil date (proleptic Gregorian).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void civilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
}

bool leapYear(std::int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned daysInMonth(std::int64_t y, unsigned m) {
  static const unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && leapYear(y) ? 29 : days[m - 1];
}

Date parseDate(std::string_view text) {
  // YYYY-MM-DDTHH:MM:SSZ
  const char* shape = "dddd-dd-ddTdd:dd:ddZ";
  if (text.size() != std::strlen(shape)) throw DecodingError("a date is not written YYYY-MM-DDTHH:MM:SSZ");
  for (size_t i = 0; i < text.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (shape[i] == 'd' ? !digit : text[i] != shape[i]) throw DecodingError("a date is not written YYYY-MM-DDTHH:MM:SSZ");
  }
  auto field = [&](size_t at, size_t length) {
    unsigned value = 0;
    for (size_t i = at; i < at + length; ++i) value = value * 10 + unsigned(text[i] - '0');
    return value;
  };
  const std::int64_t year = field(0, 4);
  const unsigned month = field(5, 2), day = field(8, 2), hour = field(11, 2), minute = field(14, 2),
                 second = field(17, 2);
  if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || hour > 23 || minute > 59 || second > 59)
    throw DecodingError("a date names no moment: " + std::string(text));
  const double since1970 = double(daysFromCivil(year, month, day)) * 86400.0 + hour * 3600.0 + minute * 60.0 + second;
  return Date::withTimeIntervalSince1970(since1970);
}

std::string writeDate(Date date) {
  const double since1970 = std::floor(date.timeIntervalSince1970());
  // Years 0000 ... 9999 only: the form has four digits.
  constexpr double kFirst = -62167219200.0, kAfterLast = 253402300800.0;
  if (!(since1970 >= kFirst && since1970 < kAfterLast)) throw EncodingError("a date outside years 0 to 9999");
  const auto seconds = static_cast<std::int64_t>(since1970);
  std::int64_t days = seconds / 86400, rest = seconds % 86400;
  if (rest < 0) rest += 86400, days -= 1;
  std::int64_t year;
  unsigned month, day;
  civilFromDays(days, year, month, day);
  // Every field has its fixed width in the shape the reader takes, so the
  // text is always 20 characters.
  std::string text = "0000-00-00T00:00:00Z";
  auto put = [&text](size_t at, size_t width, std::int64_t value) {
    for (size_t i = at + width; i > at; value /= 10) text[--i] = static_cast<char>('0' + value % 10);
  };
  put(0, 4, year);
  put(5, 2, month);
  put(8, 2, day);
  put(11, 2, rest / 3600);
  put(14, 2, rest / 60 % 60);
  put(17, 2, rest % 60);
  return text;
}

// ---- reading -------------------------------------------------------------

// The text of an element that may hold only text (and CDATA).
std::string textOf(pugi::xml_node element) {
  std::string text;
  for (pugi::xml_node child : element.children()) {
    if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) {
      text += child.value();
    } else if (child.type() == pugi::node_element) {
      throw DecodingError(std::string("<") + element.name() + "> holds an element");
    }
  }
  if (!writableText(text)) throw DecodingError(std::string("<") + element.name() + "> holds text XML cannot carry");
  return text;
}

// Element children only; text between them must be white space.
std::vector<pugi::xml_node> elementsOf(pugi::xml_node element) {
  std::vector<pugi::xml_node> elements;
  for (pugi::xml_node child : element.children()) {
    if (child.type() == pugi::node_element) {
      elements.push_back(child);
    } else if ((child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) &&
               !trimmed(child.value()).empty()) {
      throw DecodingError(std::string("<") + element.name() + "> holds text between its values");
    }
  }
  return elements;
}

std::int64_t parseInteger(std::string_view text) {
  std::string_view digits = text;
  if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() ||
      (!digits.empty() && digits.front() == '-' && text.front() == '+'))
    throw DecodingError("not an integer within 64 bits: " + std::string(text.substr(0, 40)));
  return value;
}

double parseReal(std::string_view text) {
  std::string_view number = text;
  bool negative = false;
  if (!number.empty() && (number.front() == '+' || number.front() == '-')) {
    negative = number.front() == '-';
    number.remove_prefix(1);
  }
  double value = 0;
  const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
  // from_chars takes its own sign; one sign is all a real may have. A
  // number beyond what a double holds is refused rather than rounded.
  if (number.empty() || number.front() == '-' || number.front() == '+' || error != std::errc() ||
      end != number.data() + number.size())
    throw DecodingError("not a real number a double holds: " + std::string(text.substr(0, 40)));
  return negative ? -value : value;
}

Data parseData(std::string_view text) {
  std::string compact;
  for (char c : text)
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') compact.push_back(c);
  auto decoded = dataFromBase64(compact);
  if (!decoded) throw DecodingError("<data> is not base64");
  return *decoded;
}

PropertyListValue readValue(pugi::xml_node element, int depth);

PropertyListValue readContainer(pugi::xml_node element, int depth) {
  if (depth >= maximumPropertyListDepth)
    throw DecodingError("nested deeper than " + std::to_string(maximumPropertyListDepth) + " levels");
  const std::vector<pugi::xml_node> items = elementsOf(element);
  if (std::strcmp(element.name(), "array") == 0) {
    PropertyListArray array;
    array.reserve(items.size());
    for (pugi::xml_node item : items) array.push_back(readValue(item, depth + 1));
    return array;
  }
  PropertyListDictionary dictionary;
  for (size_t i = 0; i < items.size(); i += 2) {
    if (std::strcmp(items[i].name(), "key") != 0) throw DecodingError("a <dict> entry does not start with <key>");
    if (i + 1 >= items.size()) throw DecodingError("a <key> in a <dict> has no value");
    dictionary.insert_or_assign(textOf(items[i]), readValue(items[i + 1], depth + 1));
  }
  return dictionary;
}

PropertyListValue readValue(pugi::xml_node element, int depth) {
  const std::string_view name = element.name();
  if (name == "array" || name == "dict") return readContainer(element, depth);
  if (name == "true" || name == "false") {
    if (!trimmed(textOf(element)).empty()) throw DecodingError("<" + std::string(name) + "> is not empty");
    return name == "true";
  }
  if (name == "string") return textOf(element);
  const std::string text = textOf(element);
  if (name == "integer") return parseInteger(trimmed(text));
  if (name == "real") return parseReal(trimmed(text));
  if (name == "date") return parseDate(trimmed(text));
  if (name == "data") return parseData(text);
  throw DecodingError("<" + std::string(name.substr(0, 40)) + "> is not a property-list value");
}

// ---- writing -------------------------------------------------------------

void escape(std::string& out, const std::string& text) {
  if (!writableText(text)) throw EncodingError("a string XML cannot carry");
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      // Line ends would be normalised by the reader; a reference keeps them.
      case '\r': out += "&#13;"; break;
      default: out.push_back(c);
    }
  }
}

void write(std::string& out, const PropertyListValue& value, int depth) {
  using Type = PropertyListValue::Type;
  switch (value.type()) {
    case Type::boolean: out += *value.boolean() ? "<true/>" : "<false/>"; return;
    case Type::integer: out += "<integer>" + std::to_string(*value.integer()) + "</integer>"; return;
    case Type::real: {
      const double real = *value.real();
      char text[40];
      if (std::isnan(real)) {
        std::snprintf(text, sizeof text, "nan");
      } else if (std::isinf(real)) {
        std::snprintf(text, sizeof text, real > 0 ? "+infinity" : "-infinity");
      } else {
        std::snprintf(text, sizeof text, "%.17g", real);
      }
      out += std::string("<real>") + text + "</real>";
      return;
    }
    case Type::string:
      out += "<string>";
      escape(out, *value.string());
      out += "</string>";
      return;
    case Type::data: out += "<data>" + base64EncodedString(*value.data()) + "</data>"; return;
    case Type::date: out += "<date>" + writeDate(*value.date()) + "</date>"; return;
    case Type::array:
    case Type::dictionary:
      if (depth >= maximumPropertyListDepth) throw EncodingError("nested too deep to be read again");
      break;
  }
  if (const auto* items = value.array()) {
    out += "<array>";
    for (const auto& item : *items) write(out, item, depth + 1);
    out += "</array>";
    return;
  }
  out += "<dict>";
  for (const auto& [key, item] : *value.dictionary()) {
    out += "<key>";
    escape(out, key);
    out += "</key>";
    write(out, item, depth + 1);
  }
  out += "</dict>";
}

}  // namespace

PropertyListValue propertyListFromXML(const Data& data) {
  if (data.size() > maximumXMLPropertyListLength)
    throw DecodingError("a property list over " + std::to_string(maximumXMLPropertyListLength / 1024) + " KiB");
  pugi::xml_document document;
  // White space alone is kept only where it is all an element holds: the
  // text of a <string>.
  const unsigned options = (pugi::parse_default | pugi::parse_ws_pcdata_single) & ~pugi::parse_doctype;
  const pugi::xml_parse_result parsed = document.load_buffer(data.data(), data.size(), options, pugi::encoding_auto);
  if (!parsed) throw DecodingError(std::string("not XML: ") + parsed.description());
  std::vector<pugi::xml_node> roots = elementsOf(document);
  if (roots.size() != 1) throw DecodingError("a property list holds exactly one top element");
  pugi::xml_node top = roots.front();
  if (std::strcmp(top.name(), "plist") == 0) {
    const std::vector<pugi::xml_node> values = elementsOf(top);
    if (values.size() != 1) throw DecodingError("<plist> holds exactly one value");
    top = values.front();
  }
  return readValue(top, 0);
}

Data propertyListXMLData(const PropertyListValue& value) {
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n";
  write(out, value, 0);
  out += "\n</plist>\n";
  return dataFromString(out);
}

std::optional<PropertyListDictionary> dictionaryWithContentsOfURL(const NSURL& url) {
  const auto data = dataWithContentsOfURL(url, maximumXMLPropertyListLength);
  if (!data) return std::nullopt;
  try {
    const PropertyListValue value = propertyListFromXML(*data);
    if (const auto* dictionary = value.dictionary()) return *dictionary;
  } catch (const DecodingError&) {
  }
  return std::nullopt;
}

}  // namespace platform
