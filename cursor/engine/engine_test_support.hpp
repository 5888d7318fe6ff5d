#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "cursor/engine/cursor_engine.hpp"
#include "cursor/native/trace_test_support.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/windowserver/cursor_state.hpp"

namespace vurle {

// The engine's tests: a virtual clock, the trace recording, and after every
// test, whatever it did, the engine stopped and the pointer back with the
// system.
class EngineTestBase : public TraceRecordingTest {
 protected:
  void TearDown() override {
    if (engine) engine->stop();
    engine.reset();
    scope->advance(1);
    EXPECT_EQ(platform::CursorState::shared().outstandingHides(), 0);
    EXPECT_TRUE(platform::CursorState::shared().cursorIsVisible());
    TraceRecordingTest::TearDown();
  }
  double now() const { return scope->now(); }

  platform::SimulatedSchedulerScope scope;
  std::shared_ptr<CursorEngine> engine;
};

}  // namespace vurle
