#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "platform/graphics/geometry.hpp"
#include "platform/windowserver/core_cursors.hpp"
#include "platform/windowserver/function_faults.hpp"
#include "platform/windowserver/window_server.hpp"

namespace platform {

class NSImage;

// The registered name under which the window server keeps the images of
// the cursor on screen now.
inline constexpr char kGlobalCurrentCursorName[] = "com.apple.coregraphics.GlobalCurrent";
// The connection property that lets a client set the cursor while another
// application is in front.
inline constexpr char kSetsCursorInBackgroundKey[] = "SetsCursorInBackground";

// Signatures as the system finds them by name. A registration takes the
// connection, the zero-terminated cursor name, two flags (set globally, set
// at once), the size and hot spot in points, the frame count and duration,
// the images (one per representation) and receives the seed in force
// afterwards.
using CGSRegisterCursorWithImagesFn = CGError(CGSConnectionID connection, const char* name,
                                              bool setGlobally, bool instantly, CGSize size,
                                              CGPoint hotSpot, int64_t frameCount,
                                              double frameDuration, CGImageArrayRef images,
                                              int32_t* outSeed);
// The pointer in window-server coordinates (origin at the top left of the
// first screen, y down).
using CGSGetCurrentCursorLocationFn = CGError(CGSConnectionID connection, CGPoint* outLocation);
// Lets the connection's cursor show over the Dock (flag 1) or not (0).
using SLSSetDockCursorOverrideFn = CGError(CGSConnectionID connection, int32_t enabled);

// The cursor on screen: its images, geometry and frame timing, who set it,
// and the seed (kept by CursorState) that moves on with every change.
// Applications set cursors through setCursorFromAnotherApplication; this
// process registers its own through CGSRegisterCursorWithImages over a
// connection marked "SetsCursorInBackground" (it is never the frontmost
// application here, so a connection without the mark only registers the
// name and the cursor on screen stays). When the connection whose cursor is
// on screen is released, the server shows the cursor the applications set
// last again, with a new seed.
//
// Registers "CGSRegisterCursorWithImages", "CGSGetCurrentCursorLocation"
// and "SLSSetDockCursorOverride"; CoreCursors answers
// "com.apple.coregraphics.GlobalCurrent" from here. WindowServer::reset()
// resets it.
class CurrentCursor {
 public:
  // How the next registrations behave, in order; unscripted ones are
  // newSeed. foreignChangeAfter: the registration shows its cursor with a
  // new seed, and right after it another application sets its cursor.
  enum class Registration { newSeed, sameSeed, foreignChangeAfter };

  static CurrentCursor& shared();
  // The default arrow on screen, nothing scripted, no Dock override,
  // AppKit able to read the cursor; registers the functions again.
  void reset();

  CursorImageSet cursor() const;
  // The name the cursor on screen was registered under; none for a cursor
  // an application set.
  std::optional<std::string> registeredName() const;
  // The connection whose registration is on screen; 0 for an application's.
  CGSConnectionID owner() const;

  // Another application sets its cursor now: it shows and the seed moves
  // on. Returns the new seed.
  int32_t setCursorFromAnotherApplication(CursorImageSet cursor);
  // The images of an NSImage's bitmap representations, with its size.
  static CursorImageSet imageSet(const NSImage& image, CGPoint hotSpot);

  // `foreign` is the cursor set after a foreignChangeAfter registration
  // (the last application cursor when absent).
  void scriptRegistration(Registration outcome, std::optional<CursorImageSet> foreign = std::nullopt);
  // The next `count` calls of one of the three functions above answer
  // `error` and change nothing; a negative count fails every call until
  // reset().
  void failNext(const std::string& function, CGError error, int count = 1);
  int calls(const std::string& function) const;

  // Whether a connection has the Dock cursor override on.
  bool dockCursorOverride() const;

  // Whether NSCursor.currentSystemCursor can read the cursor on screen.
  void setAppKitReadable(bool readable);
  bool appKitReadable() const;

  // From Connections: a connection went away.
  void connectionReleased(CGSConnectionID connection);

  CGError registerCursor(CGSConnectionID connection, const char* name, bool setGlobally,
                         bool instantly, CGSize size, CGPoint hotSpot, int64_t frameCount,
                         double frameDuration, const CGImageArrayRef& images, int32_t* outSeed);
  CGError getCursorLocation(CGSConnectionID connection, CGPoint* outLocation);
  CGError setDockCursorOverride(CGSConnectionID connection, int32_t enabled);

 private:
  CurrentCursor();
  void registerFunctions();
  CGError enter(const std::string& function);  // caller holds mutex_

  mutable std::mutex mutex_;
  CursorImageSet current_;
  CursorImageSet applicationCursor_;
  std::optional<std::string> name_;
  CGSConnectionID owner_ = 0;
  CGSConnectionID dockOverride_ = 0;
  bool appKitReadable_ = true;
  std::deque<std::pair<Registration, std::optional<CursorImageSet>>> script_;
  FunctionFaults faults_;
};

}  // namespace platform
