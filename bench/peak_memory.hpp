#pragma once

// The process's peak resident memory (VmHWM), which a benchmark can set
// back to the current resident size before the step it measures, so that
// the figure does not depend on what ran before it.

#include <fstream>
#include <string>

namespace vurle::bench {

// False where the kernel does not let the peak be reset.
inline bool resetPeakResident() {
  std::ofstream clear("/proc/self/clear_refs");
  return bool(clear << "5" << std::flush);
}

inline double peakResidentMegabytes() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
  return -1;
}

}  // namespace vurle::bench
