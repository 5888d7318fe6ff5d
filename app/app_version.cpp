#include "app/app_version.hpp"

#include "platform/bundle/bundle.hpp"

namespace vurle {

namespace {
std::string infoString(const char* key, const char* fallback) {
  const auto* value = platform::NSBundle::mainBundle()->objectForInfoDictionaryKey(key);
  const std::string* text = value ? value->string() : nullptr;
  return text ? *text : fallback;
}
}  // namespace

std::string appShortVersion() { return infoString("CFBundleShortVersionString", "0.10"); }
std::string appBuildVersion() { return infoString("CFBundleVersion", "12"); }

}  // namespace vurle
