#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cursor/native/cursor_trace.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/windowserver/window_server.hpp"

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

// A fresh simulated desktop with the trace recording, for the pipeline's
// component tests.
class TraceRecordingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::WindowServer::shared();
    platform::resetProcessState();
    CursorTrace::shared()->enable(1, false);
  }
  void TearDown() override { platform::resetProcessState(); }

  static std::vector<CursorTrace::Event> events(const std::string& kind) { return traceEvents(kind); }
};

}  // namespace vurle
