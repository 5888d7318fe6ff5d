#pragma once

#include <cstddef>
#include <functional>

namespace platform {

// The root object's hashing and equality, which keyed collections such as
// NSCache use. The defaults are identity: equal only to itself.
class NSObject {
 public:
  virtual ~NSObject() = default;
  virtual size_t hash() const { return std::hash<const void*>{}(this); }
  // A missing object is never equal.
  virtual bool isEqual(const NSObject* other) const { return other == this; }
};

}  // namespace platform
