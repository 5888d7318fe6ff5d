#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/appkit/cursor.hpp"
#include "platform/graphics/geometry.hpp"
#include "platform/graphics/image.hpp"
#include "platform/windowserver/connections.hpp"
#include "platform/windowserver/core_cursors.hpp"

namespace vurle {

// Reads the images of the cursor on screen directly from the window server
// over a private connection, opened on the first read and kept. Safe to
// share between threads: at most one connection is ever opened, and a
// failed attempt is never repeated.
class NativeCursorImageReader {
 public:
  // One read: a one-frame cursor rebuilt from its images, an animated
  // (multi-frame) cursor, or nothing usable.
  struct Result {
    enum class Kind { cursor, animated, unavailable };
    Kind kind = Kind::unavailable;
    std::shared_ptr<platform::NSCursor> cursor;

    static Result of(std::shared_ptr<platform::NSCursor> cursor) {
      return cursor ? Result{Kind::cursor, std::move(cursor)} : Result{};
    }
    static Result animated() { return {Kind::animated, nullptr}; }
    static Result unavailable() { return {}; }
  };

  // The process-wide reader, made on first use; null when a function is missing.
  static std::shared_ptr<NativeCursorImageReader> shared();
  // A reader of its own; null when CGSNewConnection, CGSReleaseConnection
  // or CGSCopyRegisteredCursorImages cannot be resolved.
  static std::shared_ptr<NativeCursorImageReader> make();
  ~NativeCursorImageReader();
  NativeCursorImageReader(const NativeCursorImageReader&) = delete;
  NativeCursorImageReader& operator=(const NativeCursorImageReader&) = delete;

  Result copyCurrent();

 private:
  NativeCursorImageReader(std::function<platform::CGSNewConnectionFn> make,
                          std::function<platform::CGSReleaseConnectionFn> release,
                          std::function<platform::CGSCopyRegisteredCursorImagesFn> copy);

  const std::function<platform::CGSNewConnectionFn> make_;
  const std::function<platform::CGSReleaseConnectionFn> release_;
  const std::function<platform::CGSCopyRegisteredCursorImagesFn> copy_;
  std::mutex mutex_;  // guards the one-time connection set-up
  platform::CGSConnectionID connection_ = 0;
  bool attempted_ = false;
};

// A one-frame cursor from window-server images: the images become the
// renditions (1×, 2×, ...) of one NSImage of the given size. Nothing unless
// the frame count is 1, there are 1 to 16 images, the size is finite,
// positive and at most 1024 points, the hot spot finite and at most 1024
// in magnitude, and every image 1 to 4096 pixels a side and at most
// 4,194,304 pixels.
std::shared_ptr<platform::NSCursor> makeNativeCursor(const std::vector<platform::CGImageRef>& images,
                                                     int64_t frameCount, platform::CGSize size,
                                                     platform::CGPoint hotSpot);

}  // namespace vurle
