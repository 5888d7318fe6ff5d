#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "cursor/art/cursor_image.hpp"

namespace vurle {

// The process-wide store of rendered morph frames between two resting
// arts, one per quantised progress step (0 to 128), so that a repeated
// change between the same cursors costs no kernel run. Strictly least
// recently used: a hit renews an entry, a repeated insert does not. All
// state is guarded by one lock, never held across another lock.
class CursorTransitionFrames {
 public:
  static constexpr int64_t kMaximumEntries = 1024;
  static constexpr int64_t kMaximumCost = 0x1000000;  // 16 MiB; a frame costs pixels × 4

  struct Key {
    int64_t source = 0;  // art identities
    int64_t target = 0;
    CursorCanvas canvas;
    int64_t step = 0;
    bool operator==(const Key& other) const = default;
  };
  struct KeyHash {
    size_t operator()(const Key& key) const;
  };

  // The stored frame, now the most recently used; none when absent.
  static std::optional<CursorFrame> frame(const Key& key);
  // Stores the frame, evicting the least recently used entries as the
  // limits require. A frame costing over 16 MiB is refused and evicts
  // nothing; a key already present keeps its frame and its place.
  static void insert(const CursorFrame& frame, const Key& key);
  static void removeAll();

  // What the store holds now.
  static int64_t count();
  static int64_t totalCost();

 private:
  struct Entry;
  struct State;
  static State& state();
  // Links an unlinked entry at the newest end; the caller holds the lock.
  static void moveToFront(Entry& entry);
};

}  // namespace vurle
