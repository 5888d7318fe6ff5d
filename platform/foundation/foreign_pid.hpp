#pragma once

// Process identifiers for the other applications a test or benchmark puts on
// the simulated desktop. The workspace always lists this process under its
// real identifier, and window ownership, activation and the accessibility
// servers compare with getpid(), so a fixed identifier that happens to be
// ours would launch twice or turn a stranger's window into one of ours.
// foreignPid(n) is n below this process's identifier and n + 1 from it up:
// distinct n stay distinct, order is kept, and the result is never getpid().
// Identifiers that are not positive (refusal cases) come back unchanged.

#include <sys/types.h>
#include <unistd.h>

#include <limits>
#include <stdexcept>

namespace platform {

inline pid_t foreignPid(pid_t n) {
  const pid_t self = ::getpid();
  if (n < self) return n;
  if (n == std::numeric_limits<pid_t>::max()) throw std::out_of_range("foreignPid: no identifier above the largest");
  return n + 1;
}

}  // namespace platform
