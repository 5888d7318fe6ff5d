#pragma once

// Included by every test program that exercises the compute device: such
// tests run on a CPU OpenCL device unless VURLE_METAL already says otherwise,
// so that the device path is tested on machines without a GPU.

#include <cstdlib>

namespace platform::testing {

[[maybe_unused]] inline const bool kDeviceTestsAskForACPUDevice = ::setenv("VURLE_METAL", "cpu", 0) == 0;

}  // namespace platform::testing
