#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cursor/native/cursor_trace.hpp"
#include "cursor/native/trace_test_support.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/windowserver/window_server.hpp"

namespace vurle::testing {

// A fresh simulated desktop on a virtual clock, with the trace recording.
class OverlayTest : public TraceRecordingTest {
 protected:

  static std::vector<std::string> details(const std::string& kind) {
    std::vector<std::string> found;
    for (const auto& event : events(kind)) found.push_back(event.detail.value_or("<none>"));
    return found;
  }
  double now() const { return scope->now(); }

  platform::SimulatedSchedulerScope scope;
};

}  // namespace vurle::testing
