#include "cursor/engine/cursor_access.hpp"

#include <gtest/gtest.h>

#include "platform/dyld/symbol_registry.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/windowserver/cursor_state.hpp"
#include "platform/windowserver/window_server.hpp"

namespace vurle {
namespace {

using platform::CursorState;
using platform::SymbolRegistry;

class CursorAccessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::WindowServer::shared();
    platform::resetProcessState();
  }
  void TearDown() override { platform::resetProcessState(); }
};

TEST_F(CursorAccessTest, ReadsTheWindowServersSeedAndVisibility) {
  // The registry counts lookups for the life of the process (repeated runs
  // included): only this test's own count.
  const int lookupsBefore = SymbolRegistry::shared().lookupCount("CGSCurrentCursorSeed");
  CursorAccess access;
  CursorState::shared().setCursorSeed(-42);
  EXPECT_EQ(access.currentSeed(), -42);
  EXPECT_EQ(access.cursorIsVisible(), true);
  CursorState::shared().hideCursor(5);
  EXPECT_EQ(access.cursorIsVisible(), false);
  EXPECT_EQ(SymbolRegistry::shared().lookupCount("CGSCurrentCursorSeed") - lookupsBefore, 1);
}

TEST_F(CursorAccessTest, AMissingFunctionLeavesOnlyItsReaderUnknownForGood) {
  for (const char* missing : {"CGSCurrentCursorSeed", "CGCursorIsVisible"}) {
    platform::resetProcessState();
    SymbolRegistry::shared().remove(missing);
    CursorAccess access;
    // The names come back, but a reader is looked up once, at construction.
    platform::resetProcessState();
    const bool seedMissing = std::string(missing) == "CGSCurrentCursorSeed";
    for (int call = 0; call < 2; ++call) {
      EXPECT_EQ(access.currentSeed().has_value(), !seedMissing) << missing;
      EXPECT_EQ(access.cursorIsVisible().has_value(), seedMissing) << missing;
    }
  }
}

}  // namespace
}  // namespace vurle
