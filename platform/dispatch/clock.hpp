#pragma once

namespace platform {

// Seconds since boot, monotonic: the clock every deadline, fire date and
// grace period of the system is measured on. Under a simulated scheduler it
// is the virtual clock.
double systemUptime();

// Seconds since 1970. Under a simulated scheduler it advances together with
// systemUptime() from the wall time the test chose.
double wallClockTime();

// Blocks the calling thread until the uptime `deadline` has passed, for a
// wait that nothing can wake (a lock another process holds, polled).
// Under a simulated scheduler the virtual clock moves there at once and
// nothing runs meanwhile, as nothing would on the waiting thread; a
// deadline that is not finite there throws std::invalid_argument.
void sleepUntil(double deadline);

}  // namespace platform
