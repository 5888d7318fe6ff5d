#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/coding/data.hpp"
#include "platform/coding/date.hpp"

namespace platform {

class PropertyListValue;
using PropertyListArray = std::vector<PropertyListValue>;
using PropertyListDictionary = std::map<std::string, PropertyListValue>;

// One property-list value with its type kept: a Boolean is not the integer 1,
// an integer is not a real, so a reader can tell what was stored.
class PropertyListValue {
 public:
  enum class Type { boolean, integer, real, string, data, date, array, dictionary };

  PropertyListValue(bool value) : value_(value) {}
  PropertyListValue(int value) : value_(std::int64_t{value}) {}
  PropertyListValue(std::int64_t value) : value_(value) {}
  PropertyListValue(double value) : value_(value) {}
  PropertyListValue(std::string value) : value_(std::move(value)) {}
  PropertyListValue(const char* value) : value_(std::string(value)) {}
  PropertyListValue(Data value) : value_(std::move(value)) {}
  PropertyListValue(Date value) : value_(value) {}
  PropertyListValue(PropertyListArray value);
  PropertyListValue(PropertyListDictionary value);

  Type type() const { return static_cast<Type>(value_.index()); }

  // The value when it is of that type, else null.
  const bool* boolean() const { return std::get_if<bool>(&value_); }
  const std::int64_t* integer() const { return std::get_if<std::int64_t>(&value_); }
  const double* real() const { return std::get_if<double>(&value_); }
  const std::string* string() const { return std::get_if<std::string>(&value_); }
  const Data* data() const { return std::get_if<Data>(&value_); }
  const Date* date() const { return std::get_if<Date>(&value_); }
  const PropertyListArray* array() const;
  const PropertyListDictionary* dictionary() const;
  // The value as a Boolean the way the platform bridges it: a Boolean, or a
  // number that is exactly 0 or 1; none for anything else.
  std::optional<bool> bridgedBool() const;

  // Same type and equal contents, deeply.
  bool operator==(const PropertyListValue& other) const;

 private:
  // Containers are shared and immutable, so copies stay cheap.
  std::variant<bool, std::int64_t, double, std::string, Data, Date, std::shared_ptr<const PropertyListArray>,
               std::shared_ptr<const PropertyListDictionary>>
      value_;
};

}  // namespace platform
