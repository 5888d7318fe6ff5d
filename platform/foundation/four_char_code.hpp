#pragma once

#include <cstdint>

namespace platform {

// The platform's four-character codes ('oapp', 'keyb'): four bytes, the
// first in the highest.
using FourCharCode = std::uint32_t;

constexpr FourCharCode fourCharCode(const char (&code)[5]) {
  return (FourCharCode(static_cast<unsigned char>(code[0])) << 24) |
         (FourCharCode(static_cast<unsigned char>(code[1])) << 16) |
         (FourCharCode(static_cast<unsigned char>(code[2])) << 8) | FourCharCode(static_cast<unsigned char>(code[3]));
}

}  // namespace platform
