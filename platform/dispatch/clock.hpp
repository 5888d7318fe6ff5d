#pragma once

namespace platform {

// Seconds since boot, monotonic: the clock every deadline, fire date and
// grace period of the system is measured on. Under a simulated scheduler it
// is the virtual clock.
double systemUptime();

// Seconds since 1970. Under a simulated scheduler it advances together with
// systemUptime() from the wall time the test chose.
double wallClockTime();

}  // namespace platform
