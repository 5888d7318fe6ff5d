#pragma once

// The owner of one window: it keeps the window alive, shows and closes it,
// and the window knows it back (NSWindow::windowController, held weakly so
// the controller's lifetime stays with whoever holds it). Subclasses build
// their window and hand it over with setWindow. Main thread only.

#include <memory>

namespace platform {

class NSWindow;

class NSWindowController : public std::enable_shared_from_this<NSWindowController> {
 public:
  // A controller that owns the window (which may be null).
  static std::shared_ptr<NSWindowController> make(std::shared_ptr<NSWindow> window);
  virtual ~NSWindowController();
  NSWindowController(const NSWindowController&) = delete;
  NSWindowController& operator=(const NSWindowController&) = delete;

  std::shared_ptr<NSWindow> window() const { return window_; }
  // Takes the window, which now names this controller; the previous window
  // forgets it, and a controller that owned the new window loses it. The
  // controller must already live in a shared_ptr, or the window cannot
  // name it (the window is still kept).
  void setWindow(std::shared_ptr<NSWindow> window);

  // Puts the window in front and makes it key; nothing without a window.
  virtual void showWindow(const void* sender = nullptr);
  // Closes the window (it stays owned, as on the platform).
  void close();

 protected:
  NSWindowController() = default;

 private:
  std::shared_ptr<NSWindow> window_;
};

}  // namespace platform
