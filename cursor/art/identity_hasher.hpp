#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vurle {

// A 64-bit streaming hash for content identities. Identities are compared
// within one run only, so a fixed seed serves.
class IdentityHasher {
 public:
  void combine(uint64_t value) {
    state_ = mix(state_ ^ (value + 0x9e3779b97f4a7c15ULL + (state_ << 6) + (state_ >> 2)));
  }
  void combine(int64_t value) { combine(static_cast<uint64_t>(value)); }
  // By bit pattern, with -0 taken as +0 so equal values hash alike.
  void combine(double value) {
    if (value == 0) value = 0;
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    combine(bits);
  }
  void combine(const uint8_t* bytes, size_t count) {
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
      uint64_t word = 0;
      std::memcpy(&word, bytes + i, 8);
      combine(word);
    }
    uint64_t tail = 0;
    if (count > i) std::memcpy(&tail, bytes + i, count - i);
    combine(tail);
    combine(static_cast<uint64_t>(count));
  }
  int64_t finish() const { return static_cast<int64_t>(mix(state_)); }

 private:
  static uint64_t mix(uint64_t x) {
    x ^= x >> 30;
    x *= 0xbf58476d1ce4e5b9ULL;
    x ^= x >> 27;
    x *= 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
  }

  uint64_t state_ = 0x243f6a8885a308d3ULL;
};

}  // namespace vurle
