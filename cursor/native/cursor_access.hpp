#pragma once

#include <cstdint>
#include <functional>
#include <optional>

namespace vurle {

// Readers of the window server's cursor seed and cursor visibility, found
// by name once, at construction. A reader whose function is missing
// answers "unknown" (none) for the life of the object. Holds no other
// state, so it may be read from any thread.
class CursorAccess {
 public:
  CursorAccess();

  std::optional<int32_t> currentSeed() const;
  std::optional<bool> cursorIsVisible() const;

 private:
  std::optional<std::function<int32_t()>> readSeed_;
  std::optional<std::function<int32_t()>> readVisible_;
};

}  // namespace vurle
