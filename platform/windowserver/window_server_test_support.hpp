#pragma once

#include <gtest/gtest.h>

#include <functional>

#include "platform/dyld/symbol_registry.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/windowserver/window_server.hpp"

namespace platform {

// A function the window server registers, found by name; the test fails
// when it is missing.
template <class F>
std::function<F> lookup(const char* name) {
  auto function = dlsym<F>(RTLD_DEFAULT, name);
  EXPECT_TRUE(function.has_value()) << name;
  return function ? *function : std::function<F>();
}

// The window server must exist before anything looks its functions up: it
// registers them when it is made. Declare this before such lookups.
struct FreshWindowServer {
  FreshWindowServer() {
    WindowServer::shared();
    resetProcessState();
  }
  ~FreshWindowServer() { resetProcessState(); }
};

}  // namespace platform
