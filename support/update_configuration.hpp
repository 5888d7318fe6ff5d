#pragma once

// The update configuration: four keys of the main bundle's information
// dictionary, read once and checked by one strict rule. A build whose
// configuration is not valid runs with updates off.

#include <optional>
#include <string>

#include "platform/coding/data.hpp"
#include "platform/coding/property_list.hpp"
#include "platform/foundation/url.hpp"

namespace vurle {

struct UpdateConfiguration {
  // "VurleUpdatesEnabled" holds exactly the string "YES".
  bool enabled = false;
  // SUFeedURL's string, when it is a URL.
  std::optional<platform::NSURL> feedURL;
  // SUPublicEDKey's string decoded as standard Base64 (any character
  // outside the alphabet, a line break included, fails).
  std::optional<platform::Data> publicKey;
  // "VurleReleaseChannel" as written; "stable" when it is not a string.
  std::string channel = "stable";

  // Never fails: a missing or mistyped key keeps its default.
  explicit UpdateConfiguration(const platform::PropertyListDictionary& infoDictionary);

  // Enabled, channel "stable" or "beta", and the feed exactly
  // "https://<host>/appcast.xml" ("/beta/appcast.xml" for beta): host and
  // path compared as written, so a percent escape fails, as do a user,
  // password or port (an empty one, ":", too), a query or a fragment; and
  // a 32-byte key.
  bool isValid() const { return isValid(updateServiceHost()); }
  bool isValid(const std::string& host) const;

  // The product's web-service host: a build setting, by default the host
  // of the site's root.
  static std::string updateServiceHost();
};

}  // namespace vurle
