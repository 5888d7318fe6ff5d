#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace vurle {

// The five built-in pointer shapes. The system cursor whose artwork stands
// for each: arrow, pointing hand, I-beam, resize left-right, resize up-down.
enum class PointerKind { arrow, hand, text, horizontal, vertical };

inline constexpr std::array<PointerKind, 5> allPointerKinds = {
    PointerKind::arrow, PointerKind::hand, PointerKind::text, PointerKind::horizontal,
    PointerKind::vertical};

std::string_view rawValue(PointerKind kind);
// Exactly the five raw values, in their own letter case; anything else is
// no kind.
std::optional<PointerKind> pointerKind(std::string_view rawValue);

}  // namespace vurle
