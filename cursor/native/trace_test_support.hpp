#pragma once

#include <string>
#include <vector>

#include "cursor/native/cursor_trace.hpp"

namespace vurle {

// The trace events of one kind, oldest first, for tests that check what a
// component recorded.
inline std::vector<CursorTrace::Event> traceEvents(const std::string& kind) {
  std::vector<CursorTrace::Event> found;
  for (auto& event : CursorTrace::shared()->events()) {
    if (event.kind == kind) found.push_back(event);
  }
  return found;
}

}  // namespace vurle
