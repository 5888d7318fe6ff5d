#pragma once

// The scratch memory of drawing calls (the surfaces they draw through and
// the high-quality enlargement's working memory), counted while it is held,
// so that a test can run a drawing short of memory as a memory limit would:
// past the limit an allocation is refused, as an exhausted allocator
// refuses it. Process-wide and thread-safe.

#include <cstddef>

namespace platform {

struct ScratchMemory {
  static constexpr size_t kUnlimited = ~size_t{0};
  // At most `bytes` held at once from now on (kUnlimited lifts the limit).
  static void limit(size_t bytes);
  // The most held at once since the last call.
  static size_t takePeak();
  // Used by the layer: false, and nothing held, when the limit refuses `bytes` more.
  static bool hold(size_t bytes);
  static void release(size_t bytes);
};

}  // namespace platform
