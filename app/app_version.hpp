#pragma once

// The application's version and build as the About window and the
// settings header show them, read from the main bundle's information
// dictionary at every call (CFBundleShortVersionString, CFBundleVersion);
// "0.10" and "12" when the key is absent or not a string.

#include <string>

namespace vurle {

std::string appShortVersion();
std::string appBuildVersion();

}  // namespace vurle
