#include "platform/foundation/process_info.hpp"

#include <mutex>
#include <tuple>

#include "platform/foundation/process_wide.hpp"

namespace platform {
namespace {

constexpr NSOperatingSystemVersion kDefaultVersion{26, 0, 0};

struct VersionState {
  std::mutex mutex;
  NSOperatingSystemVersion version = kDefaultVersion;
};

VersionState& state() {
  static VersionState* made = [] {
    auto* created = new VersionState();
    addResetHook(created, [created] {
      std::lock_guard<std::mutex> guard(created->mutex);
      created->version = kDefaultVersion;
    });
    return created;
  }();
  return *made;
}

}  // namespace

NSOperatingSystemVersion ProcessInfo::operatingSystemVersion() {
  auto& s = state();
  std::lock_guard<std::mutex> guard(s.mutex);
  return s.version;
}

bool ProcessInfo::isOperatingSystemAtLeastVersion(NSOperatingSystemVersion version) {
  const auto current = operatingSystemVersion();
  return std::tie(current.majorVersion, current.minorVersion, current.patchVersion) >=
         std::tie(version.majorVersion, version.minorVersion, version.patchVersion);
}

void ProcessInfo::setOperatingSystemVersion(NSOperatingSystemVersion version) {
  auto& s = state();
  std::lock_guard<std::mutex> guard(s.mutex);
  s.version = version;
}

}  // namespace platform
