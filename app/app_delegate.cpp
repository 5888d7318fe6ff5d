#include "app/app_delegate.hpp"

#include "cursor/art/metal_cursor_renderer.hpp"
#include "platform/bundle/bundle.hpp"

namespace vurle {

const std::string AppDelegate::releaseBundleIdentifier = VURLE_RELEASE_BUNDLE_IDENTIFIER;

void AppDelegate::main() {
  auto defaults = platform::NSUserDefaults::standardUserDefaults();
  const std::string identifier = platform::NSBundle::mainBundle()->bundleIdentifier().value_or("");
  migrateAppIdentity(*defaults, identifier, legacyDomainName);
  // Only touched, so the pipeline starts compiling before anything needs it.
  MetalCursorRenderer::shared();
  auto application = platform::NSApplication::shared();
  auto delegate = std::make_shared<AppDelegate>();
  application->setDelegate(delegate);
  application->run();
}

void AppDelegate::migrateAppIdentity(platform::NSUserDefaults& defaults, const std::string& currentDomain,
                                     const std::string& legacyDomain) {
  if (currentDomain != releaseBundleIdentifier) return;
  auto current = defaults.persistentDomainForName(currentDomain).value_or(platform::PropertyListDictionary{});
  if (current.contains(migrationMarkerKey)) return;
  const auto legacy = defaults.persistentDomainForName(legacyDomain).value_or(platform::PropertyListDictionary{});
  // insert() keeps a key the current domain already holds.
  current.insert(legacy.begin(), legacy.end());
  current.insert_or_assign(migrationMarkerKey, true);
  defaults.setPersistentDomain(std::move(current), currentDomain);
}

AppDelegate::AppDelegate() : preferences_(AppPreferences::make(platform::NSUserDefaults::standardUserDefaults())) {}

}  // namespace vurle
