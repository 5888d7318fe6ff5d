#pragma once

// Shared by the onboarding and settings tests: a clean process with one
// 1000 × 800 screen at scale 2 and a 500 × 200 window at (100, 100) on it,
// with an empty content view.

#include <memory>

#include "platform/appkit/screen.hpp"
#include "platform/appkit/view.hpp"
#include "platform/appkit/window.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/windowserver/window_server.hpp"

namespace vurle::testing {

inline std::shared_ptr<platform::NSWindow> freshProcessWithWindow() {
  platform::WindowServer::shared();
  platform::resetProcessState();
  platform::NSScreen::setScreens({platform::NSScreen::make(platform::CGRectMake(0, 0, 1000, 800), 2)});
  auto window = platform::NSWindow::make(platform::CGRectMake(100, 100, 500, 200), 2);
  window->setContentView(std::make_shared<platform::NSView>(platform::CGRectZero));
  return window;
}

}  // namespace vurle::testing
