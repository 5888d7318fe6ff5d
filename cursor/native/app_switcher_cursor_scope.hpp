#pragma once

#include <functional>
#include <vector>

#include "platform/graphics/geometry.hpp"

namespace vurle {

// The screen region of the Command-Tab application switcher while it
// shows, in window-server coordinates, and a test of whether it still does
// (callable from any thread). Published by the app-switcher observer; the
// native presenter keeps its own copy.
struct AppSwitcherCursorScope {
  std::vector<platform::CGRect> regions;
  std::function<bool()> isValid;
};

}  // namespace vurle
