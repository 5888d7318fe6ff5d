#include "support/update_configuration.hpp"

#include "ui/onboarding/legal_agreement.hpp"

namespace vurle {
namespace {

const std::string* stringValue(const platform::PropertyListDictionary& info, const char* key) {
  const auto found = info.find(key);
  return found == info.end() ? nullptr : found->second.string();
}

}  // namespace

UpdateConfiguration::UpdateConfiguration(const platform::PropertyListDictionary& info) {
  if (const auto* text = stringValue(info, "VurleUpdatesEnabled")) enabled = *text == "YES";
  if (const auto* text = stringValue(info, "SUFeedURL")) feedURL = platform::NSURL::URLWithString(*text);
  if (const auto* text = stringValue(info, "SUPublicEDKey")) publicKey = platform::dataFromBase64(*text);
  if (const auto* text = stringValue(info, "VurleReleaseChannel")) channel = *text;
}

bool UpdateConfiguration::isValid(const std::string& host) const {
  if (!enabled) return false;
  if (channel != "stable" && channel != "beta") return false;
  if (!feedURL) return false;
  const auto& url = *feedURL;
  if (url.scheme() != "https") return false;
  if (url.host() != host) return false;
  const std::string path = channel == "beta" ? "/beta/appcast.xml" : "/appcast.xml";
  if (url.path() != path) return false;
  if (url.query() || url.fragment() || url.user() || url.password() || url.port()) return false;
  // The parts read decoded and an empty port reads as none; only the text
  // itself tells "vurle%2Eapp" or "vurle.app:" from the host as written.
  if (url.absoluteString() != "https://" + host + path) return false;
  return publicKey && publicKey->size() == 32;
}

std::string UpdateConfiguration::updateServiceHost() {
  const std::string configured = VURLE_UPDATE_HOST;
  if (!configured.empty()) return configured;
  const auto site = siteBaseURL();
  return site ? site->host().value_or("") : "";
}

}  // namespace vurle
