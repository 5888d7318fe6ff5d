#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/graphics/geometry.hpp"
#include "platform/windowserver/window_server.hpp"

namespace platform {

// Signatures of the cursor readers as the system finds them by name:
// the seed of the current cursor, and whether the cursor shows (non-zero).
using CGSCurrentCursorSeedFn = int32_t();
using CGCursorIsVisibleFn = int32_t();

// The simulated window server's cursor: the seed that moves on whenever the
// current cursor changes, the hides counted per connection, and the pointer
// location. Its readers are registered as "CGSCurrentCursorSeed" and
// "CGCursorIsVisible"; each can be removed from the symbol registry on its
// own. WindowServer::reset() resets it.
class CursorState {
 public:
  static CursorState& shared();

  // Seed 1, nothing hidden, the pointer in the middle of a 1512 × 982
  // screen, and both readers registered again.
  void reset();

  int32_t cursorSeed() const;
  // Runs `change` just before the n-th CGSCurrentCursorSeed call from now
  // answers (1: the next), so tests can slip another application's cursor
  // change between two seed reads of the code under test.
  void beforeSeedRead(int nth, std::function<void()> change);
  // A change of the current cursor. The seed is a signed 32-bit number that
  // wraps from the largest value to the smallest; returns the new seed.
  int32_t bumpCursorSeed();
  void setCursorSeed(int32_t seed);

  // Hides nest per connection: the cursor shows again only when every
  // connection has shown it as often as it hid it. A show without a hide
  // leaves the count at zero, as the window server ignores it.
  void hideCursor(CGSConnectionID connection);
  void showCursor(CGSConnectionID connection);
  int hideCount(CGSConnectionID connection) const;
  // A connection that goes away takes its hides with it.
  void dropHides(CGSConnectionID connection);
  // How long CGCursorIsVisible keeps answering "hidden" after the last hide
  // was balanced, as the server takes a moment to bring the cursor back;
  // infinity for a cursor that never comes back. 0 by default.
  void setShowLag(double seconds);
  // How long CGCursorIsVisible keeps answering "visible" after the first
  // hide of a shown cursor, as a busy server takes a moment to act on it;
  // infinity for a hide that is never seen. 0 by default.
  void setHideLag(double seconds);
  // Hides not yet balanced by shows, over every connection; 0 when every
  // hide was balanced.
  int outstandingHides() const;
  // What CGCursorIsVisible answers: no hide outstanding, and the show lag
  // since the last balancing show has passed.
  bool cursorIsVisible() const;

  // The pointer in window-server coordinates (origin at the top left of the
  // first screen, y down).
  CGPoint cursorLocation() const;
  void setCursorLocation(CGPoint location);

 private:
  CursorState();
  void registerFunctions();

  void runSeedReadHooks();

  mutable std::mutex mutex_;
  int32_t seed_ = 1;
  std::vector<std::pair<int, std::function<void()>>> seedReadHooks_;
  std::map<CGSConnectionID, int> hides_;
  double showLag_ = 0;
  // Uptime from which a balanced cursor reads as visible.
  double visibleFrom_ = 0;
  double hideLag_ = 0;
  // Uptime from which a hidden cursor reads as hidden.
  double hiddenFrom_ = 0;
  CGPoint location_;
};

}  // namespace platform
