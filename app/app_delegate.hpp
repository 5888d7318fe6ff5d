#pragma once

#include <memory>
#include <string>

#include "app/app_preferences.hpp"
#include "platform/appkit/application.hpp"
#include "platform/defaults/user_defaults.hpp"

namespace vurle {

// The application's delegate. It owns the long-lived components of the
// shell; for now those are the preferences, made over the standard user
// defaults at construction.
class AppDelegate : public platform::NSApplicationDelegate {
 public:
  // The only identifier whose installations carry settings over from the
  // legacy domain; a build setting.
  static const std::string releaseBundleIdentifier;
  static constexpr const char* legacyDomainName = "mirt.vurle";
  static constexpr const char* migrationMarkerKey = "appIdentityMigration.v1";

  // The start-up sequence: migrate the settings, warm the shared morph
  // renderer, run the application with a new delegate. Returns when the
  // application's run loop ends.
  static void main();

  // Copies the legacy domain's keys into the current domain once, under the
  // marker key, never overwriting a key the current domain holds. Only the
  // release identifier migrates.
  static void migrateAppIdentity(platform::NSUserDefaults& defaults, const std::string& currentDomain,
                                 const std::string& legacyDomain);

  AppDelegate();

  const std::shared_ptr<AppPreferences>& preferences() const { return preferences_; }

 private:
  std::shared_ptr<AppPreferences> preferences_;
};

}  // namespace vurle
