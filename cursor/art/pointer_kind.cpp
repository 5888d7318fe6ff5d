#include "cursor/art/pointer_kind.hpp"

namespace vurle {

std::string_view rawValue(PointerKind kind) {
  switch (kind) {
    case PointerKind::arrow: return "arrow";
    case PointerKind::hand: return "hand";
    case PointerKind::text: return "text";
    case PointerKind::horizontal: return "horizontal";
    case PointerKind::vertical: return "vertical";
  }
  return "arrow";
}

std::optional<PointerKind> pointerKind(std::string_view value) {
  for (PointerKind kind : allPointerKinds) {
    if (rawValue(kind) == value) return kind;
  }
  return std::nullopt;
}

}  // namespace vurle
