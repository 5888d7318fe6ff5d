#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "cursor/native/cursor_trace.hpp"
#include "cursor/native/native_cursor_image_reader.hpp"
#include "platform/dispatch/dispatch_queue.hpp"
#include "platform/foundation/lock.hpp"
#include "platform/windowserver/cursor_state.hpp"

namespace vurle {

// A diagnostic probe: the cursor seed, AppKit's idea of the current cursor
// and the window server's own images, read once each.
class NativeCursorReadbackSource {
 public:
  struct Reading {
    std::optional<int32_t> before;  // seeds read before and after the images
    std::optional<int32_t> after;
    std::string appkitGeometry;
    std::string directGeometry;
  };

  // With a reader of its own (none when its functions are missing) and the
  // seed reader (none when missing).
  NativeCursorReadbackSource();
  Reading read();

 private:
  std::shared_ptr<NativeCursorImageReader> reader_;
  std::optional<std::function<platform::CGSCurrentCursorSeedFn>> seed_;
};

// A cursor's image size and hot spot as "(16.0, 16.0)/(4.0, 4.0)".
std::string cursorGeometryText(const platform::NSCursor& cursor);
// The shortest decimal that reads back as the same double, always with a
// fractional part ("1.5", "12.0").
std::string shortestDecimal(double value);

// Runs the probe on its own queue when the overlay presenter asks for it,
// at most once per trace session and cursor seed, and records the outcome
// as "native-selection-readback". Only while the trace is enabled; at most
// one read runs and one request waits (a newer request replaces it).
class NativeCursorReadbackRecorder : public std::enable_shared_from_this<NativeCursorReadbackRecorder> {
 public:
  struct Request {
    uint64_t session = 0;
    std::optional<int32_t> seed;
    bool overlay = false;
    std::string blocked;
    double requestedAt = 0;
  };
  using Read = std::function<NativeCursorReadbackSource::Reading()>;

  // A null trace is std::invalid_argument.
  static std::shared_ptr<NativeCursorReadbackRecorder> make(std::shared_ptr<CursorTrace> trace, Read read);

  // Main thread. `blocked` is the caller's last stop reason ("none" for none).
  void request(std::optional<int32_t> seed, bool overlay, const std::string& blocked);

  const std::shared_ptr<platform::DispatchQueue>& queue() const { return queue_; }

 private:
  NativeCursorReadbackRecorder(std::shared_ptr<CursorTrace> trace, Read read);
  void drain();

  const std::shared_ptr<platform::DispatchQueue> queue_;
  platform::NSLock lock_;
  const std::shared_ptr<CursorTrace> trace_;
  const Read read_;
  std::optional<Request> pending_;
  bool running_ = false;
  std::optional<uint64_t> lastSession_;
  std::optional<int32_t> lastSeed_;
};

}  // namespace vurle
