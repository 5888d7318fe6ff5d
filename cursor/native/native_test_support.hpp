#pragma once

// Shared by the native presenter and sampler tests: a clean simulated
// window server and scheduler per test, frames and cursors to show, and
// the trace events of one kind.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "cursor/art/cursor_image.hpp"
#include "cursor/native/cursor_trace.hpp"
#include "cursor/native/trace_test_support.hpp"
#include "platform/appkit/cursor.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/windowserver/connections.hpp"
#include "platform/windowserver/current_cursor.hpp"
#include "platform/windowserver/cursor_state.hpp"
#include "platform/windowserver/window_server.hpp"

namespace vurle::testing {



class NativeTest : public TraceRecordingTest {
 protected:

  double now() const { return scope->now(); }
  static int32_t seed() { return platform::CursorState::shared().cursorSeed(); }

  // Another application sets the cursor; returns the new seed.
  static int32_t showApplicationCursor(const std::shared_ptr<platform::NSCursor>& cursor) {
    return platform::CurrentCursor::shared().setCursorFromAnotherApplication(
        platform::CurrentCursor::imageSet(*cursor->image(), cursor->hotSpot()));
  }
  static int registrations() {
    return platform::CurrentCursor::shared().calls("CGSRegisterCursorWithImages");
  }

  static std::optional<std::string> lastDetail(const std::string& kind) {
    const auto found = events(kind);
    if (found.empty()) return std::nullopt;
    return found.back().detail;
  }

  // Made first so that everything built in a test goes before it.
  platform::SimulatedSchedulerScope scope;
};

// A frame of one premultiplied grey on a canvas around the hot spot; `mark`
// changes two pixels so that frames of equal geometry differ.
inline CursorFrame solidFrame(platform::CGRect bounds, double scale, uint8_t grey, int mark = 0,
                              uint8_t alpha = 255) {
  const CursorCanvas canvas{scale, bounds};
  std::vector<uint8_t> bytes(static_cast<size_t>(canvas.pixelCount()) * 4);
  for (size_t i = 0; i < bytes.size(); i += 4) {
    const auto value = static_cast<uint8_t>(grey * alpha / 255);
    bytes[i] = bytes[i + 1] = bytes[i + 2] = value;
    bytes[i + 3] = alpha;
  }
  bytes[0] = static_cast<uint8_t>(mark & 0xff);
  bytes[4] = static_cast<uint8_t>((mark >> 8) & 0xff);
  return *CursorFrame::make(platform::CFDataCreate(bytes.data(), bytes.size()), canvas, false);
}

// A cursor of `side` points at 1× and 2× filled with one colour.
inline std::shared_ptr<platform::NSCursor> solidCursor(double side, uint8_t grey, uint8_t alpha = 255,
                                                       platform::CGPoint hotSpot = {2, 2}) {
  auto image = platform::NSImage::make(platform::NSMakeSize(side, side));
  for (int scale : {1, 2}) {
    const int pixels = static_cast<int>(side) * scale;
    auto rep = platform::NSBitmapImageRep::make(nullptr, pixels, pixels, 8, 4, true, false,
                                                platform::NSDeviceRGBColorSpace, 4 * pixels, 32);
    for (int i = 0; i < pixels * pixels; ++i) {
      uint8_t* p = rep->bitmapData() + 4 * i;
      p[0] = p[1] = p[2] = static_cast<uint8_t>(grey * alpha / 255);
      p[3] = alpha;
    }
    rep->setSize(platform::NSMakeSize(side, side));
    image->addRepresentation(rep);
  }
  return platform::NSCursor::make(image, hotSpot);
}

}  // namespace vurle::testing
