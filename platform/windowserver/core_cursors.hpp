#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/graphics/geometry.hpp"
#include "platform/graphics/image.hpp"
#include "platform/windowserver/window_server.hpp"

namespace platform {

// An array of images as the window server hands it out. A null element
// stands for an element of another kind: callers that take the array as an
// array of images then treat it as empty.
using CGImageArrayRef = std::shared_ptr<const std::vector<CGImageRef>>;

// The window server's cursor image readers, as the system calls them:
// a connection, the cursor's core id or zero-terminated registered name,
// then the outputs: the images (one per representation, each a vertical
// strip of frameCount frames), the size and hot spot in points, the frame
// count and the frame duration in seconds. 0 on success; on failure the
// outputs are left as they were.
using CoreCursorCopyImagesFn = CGError(CGSConnectionID connection, int32_t cursorID,
                                       CGImageArrayRef* images, CGSize* size, CGPoint* hotSpot,
                                       int64_t* frameCount, double* frameDuration);
using CGSCopyRegisteredCursorImagesFn = CGError(CGSConnectionID connection, const char* name,
                                                CGSize* size, CGPoint* hotSpot, int64_t* frameCount,
                                                double* frameDuration, CGImageArrayRef* images);

// The images and geometry of one window-server cursor.
struct CursorImageSet {
  std::vector<CGImageRef> images;  // may hold nulls, see CGImageArrayRef
  CGSize size;
  CGPoint hotSpot;
  int64_t frameCount = 1;
  double frameDuration = 0;
};

inline constexpr char kWaitCursorName[] = "com.apple.coregraphics.Wait";

// The window server's own cursors: the animated core cursors (ids 4, 14,
// 15 and 16) and the registered cursors by name ("com.apple.coregraphics.
// Wait", the busy cursor). By default each core cursor and the busy cursor
// is an animation drawn by the simulated platform, with a 1× and a 2×
// strip. Tests replace, reshape or remove any of them. The name
// "com.apple.coregraphics.GlobalCurrent" reads the cursor on screen
// (CurrentCursor) instead.
class CoreCursors {
 public:
  static CoreCursors& shared();

  // Back to the default cursors; registers CoreCursorCopyImages and
  // CGSCopyRegisteredCursorImages. Run by WindowServer::reset().
  void reset();

  // The default animation of a core cursor id (4, 14, 15, 16) or of the
  // busy cursor, with the given frame count (1 to 240) and frame height in
  // points (the width follows the default aspect); nullopt otherwise.
  static std::optional<CursorImageSet> animation(int32_t cursorID, int64_t frameCount,
                                                 CGFloat frameHeight);
  static std::optional<CursorImageSet> waitAnimation(int64_t frameCount, CGFloat frameHeight);

  // nullopt removes the cursor: reading it then fails.
  void setCoreCursor(int32_t cursorID, std::optional<CursorImageSet> cursor);
  void setRegisteredCursor(const std::string& name, std::optional<CursorImageSet> cursor);
  std::optional<CursorImageSet> coreCursor(int32_t cursorID) const;
  std::optional<CursorImageSet> registeredCursor(const std::string& name) const;
  // A non-zero code makes every read fail with it.
  void setCopyError(CGError error);

  CGError copyCoreCursorImages(CGSConnectionID connection, int32_t cursorID,
                               CGImageArrayRef* images, CGSize* size, CGPoint* hotSpot,
                               int64_t* frameCount, double* frameDuration) const;
  CGError copyRegisteredCursorImages(CGSConnectionID connection, const char* name, CGSize* size,
                                     CGPoint* hotSpot, int64_t* frameCount, double* frameDuration,
                                     CGImageArrayRef* images) const;

 private:
  CoreCursors() = default;
  void ensureDefaults() const;  // caller holds mutex_

  mutable std::mutex mutex_;
  mutable bool defaultsPending_ = true;
  mutable std::map<int32_t, CursorImageSet> core_;
  mutable std::map<std::string, CursorImageSet> registered_;
  CGError copyError_ = kCGErrorSuccess;
};

}  // namespace platform
