#include "platform/coding/property_list.hpp"

namespace platform {

PropertyListValue::PropertyListValue(PropertyListArray value)
    : value_(std::make_shared<const PropertyListArray>(std::move(value))) {}

PropertyListValue::PropertyListValue(PropertyListDictionary value)
    : value_(std::make_shared<const PropertyListDictionary>(std::move(value))) {}

const PropertyListArray* PropertyListValue::array() const {
  auto found = std::get_if<std::shared_ptr<const PropertyListArray>>(&value_);
  return found ? found->get() : nullptr;
}

const PropertyListDictionary* PropertyListValue::dictionary() const {
  auto found = std::get_if<std::shared_ptr<const PropertyListDictionary>>(&value_);
  return found ? found->get() : nullptr;
}

bool PropertyListValue::operator==(const PropertyListValue& other) const {
  if (type() != other.type()) return false;
  if (auto items = array()) return *items == *other.array();
  if (auto entries = dictionary()) return *entries == *other.dictionary();
  return value_ == other.value_;
}

std::optional<bool> PropertyListValue::bridgedBool() const {
  if (const bool* flag = boolean()) return *flag;
  if (const std::int64_t* whole = integer(); whole && (*whole == 0 || *whole == 1)) return *whole == 1;
  if (const double* number = real(); number && (*number == 0.0 || *number == 1.0)) return *number == 1.0;
  return std::nullopt;
}

}  // namespace platform
