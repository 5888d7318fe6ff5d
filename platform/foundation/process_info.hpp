#pragma once

namespace platform {

struct NSOperatingSystemVersion {
  int majorVersion = 0;
  int minorVersion = 0;
  int patchVersion = 0;
};

// The running system's version. The simulated desktop (and tests) choose
// it; a fresh process reports 26.0.0.
class ProcessInfo {
 public:
  static NSOperatingSystemVersion operatingSystemVersion();
  static bool isOperatingSystemAtLeastVersion(NSOperatingSystemVersion version);
  static void setOperatingSystemVersion(NSOperatingSystemVersion version);
};

}  // namespace platform
