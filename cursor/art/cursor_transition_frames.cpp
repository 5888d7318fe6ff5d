#include "cursor/art/cursor_transition_frames.hpp"

#include <memory>
#include <unordered_map>

#include "cursor/art/fatal_error.hpp"
#include "cursor/art/identity_hasher.hpp"
#include "platform/foundation/lock.hpp"
#include "platform/foundation/process_wide.hpp"

namespace vurle {

// One stored frame in the recency list. The dictionary owns the entries;
// the list only links them, from the oldest to the newest.
struct CursorTransitionFrames::Entry {
  Key key;
  CursorFrame frame;
  int64_t cost = 0;
  Entry* previous = nullptr;  // towards the oldest end
  Entry* next = nullptr;      // towards the newest end
};

struct CursorTransitionFrames::State {
  platform::NSLock lock;
  std::unordered_map<Key, std::unique_ptr<Entry>, KeyHash> entries;
  Entry* newest = nullptr;
  Entry* oldest = nullptr;
  int64_t totalCost = 0;

  void clear() {
    entries.clear();
    newest = oldest = nullptr;
    totalCost = 0;
  }

  State() {
    platform::addResetHook(this, [this] {
      std::lock_guard<platform::NSLock> guard(lock);
      clear();
    });
  }
  ~State() { platform::removeResetHook(this); }
};

size_t CursorTransitionFrames::KeyHash::operator()(const Key& key) const {
  IdentityHasher hasher;
  hasher.combine(key.source);
  hasher.combine(key.target);
  hasher.combine(static_cast<uint64_t>(CursorCanvasHash{}(key.canvas)));
  hasher.combine(key.step);
  return static_cast<size_t>(hasher.finish());
}

CursorTransitionFrames::State& CursorTransitionFrames::state() {
  static State made;
  return made;
}

void CursorTransitionFrames::moveToFront(Entry& entry) {
  State& s = state();
  entry.previous = s.newest;
  entry.next = nullptr;
  if (s.newest) s.newest->next = &entry;
  s.newest = &entry;
  if (!s.oldest) s.oldest = &entry;
}

std::optional<CursorFrame> CursorTransitionFrames::frame(const Key& key) {
  State& s = state();
  std::lock_guard<platform::NSLock> guard(s.lock);
  auto it = s.entries.find(key);
  if (it == s.entries.end()) return std::nullopt;
  Entry& entry = *it->second;
  if (&entry != s.newest) {
    // Unlink, then relink at the newest end.
    if (entry.previous) {
      entry.previous->next = entry.next;
    } else {
      s.oldest = entry.next;
    }
    entry.next->previous = entry.previous;  // not the newest, so it has a newer neighbour
    moveToFront(entry);
  }
  return entry.frame;
}

void CursorTransitionFrames::insert(const CursorFrame& frame, const Key& key) {
  State& s = state();
  std::lock_guard<platform::NSLock> guard(s.lock);
  int64_t cost = 0;
  if (__builtin_mul_overflow(frame.canvas.pixelCount(), int64_t{4}, &cost)) {
    fatalError("transition frame cost overflows");
  }
  if (cost > kMaximumCost) return;
  if (s.entries.contains(key)) return;
  while (s.oldest && (static_cast<int64_t>(s.entries.size()) >= kMaximumEntries ||
                      s.totalCost + cost > kMaximumCost)) {
    Entry* evicted = s.oldest;
    s.oldest = evicted->next;
    if (s.oldest) s.oldest->previous = nullptr;
    if (s.newest == evicted) s.newest = nullptr;
    s.totalCost -= evicted->cost;
    s.entries.erase(evicted->key);  // destroys the entry
  }
  auto made = std::make_unique<Entry>(Entry{key, frame, cost, nullptr, nullptr});
  Entry& entry = *made;
  s.entries.emplace(key, std::move(made));
  moveToFront(entry);
  s.totalCost += cost;
}

void CursorTransitionFrames::removeAll() {
  State& s = state();
  std::lock_guard<platform::NSLock> guard(s.lock);
  s.clear();
}

int64_t CursorTransitionFrames::count() {
  State& s = state();
  std::lock_guard<platform::NSLock> guard(s.lock);
  return static_cast<int64_t>(s.entries.size());
}

int64_t CursorTransitionFrames::totalCost() {
  State& s = state();
  std::lock_guard<platform::NSLock> guard(s.lock);
  return s.totalCost;
}

}  // namespace vurle
