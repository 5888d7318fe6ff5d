#include "platform/graphics/scratch_memory.hpp"

#include <atomic>

namespace platform {
namespace {
std::atomic<size_t> gLimit{ScratchMemory::kUnlimited}, gHeld{0}, gPeak{0};
}  // namespace

void ScratchMemory::limit(size_t bytes) { gLimit.store(bytes); }

size_t ScratchMemory::takePeak() { return gPeak.exchange(gHeld.load()); }

bool ScratchMemory::hold(size_t bytes) {
  const size_t most = gLimit.load();
  size_t held = gHeld.load();
  do {
    if (bytes > most || held > most - bytes) return false;
  } while (!gHeld.compare_exchange_weak(held, held + bytes));
  size_t peak = gPeak.load();
  while (held + bytes > peak && !gPeak.compare_exchange_weak(peak, held + bytes)) {
  }
  return true;
}

void ScratchMemory::release(size_t bytes) { gHeld.fetch_sub(bytes); }

}  // namespace platform
