#include "support/update_configuration.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vurle {
namespace {

using platform::PropertyListDictionary;
using platform::PropertyListValue;

const std::string kKey = platform::base64EncodedString(platform::Data(32, 9));

PropertyListDictionary configured(const PropertyListDictionary& changes = {}, const std::vector<std::string>& removed = {}) {
  PropertyListDictionary info = {{"VurleUpdatesEnabled", "YES"},
                                 {"VurleReleaseChannel", "stable"},
                                 {"SUFeedURL", "https://vurle.app/appcast.xml"},
                                 {"SUPublicEDKey", kKey}};
  for (const auto& [key, value] : changes) info.insert_or_assign(key, value);
  for (const auto& key : removed) info.erase(key);
  return info;
}

PropertyListDictionary feed(const std::string& url, const std::string& channel = "stable") {
  return configured({{"SUFeedURL", url}, {"VurleReleaseChannel", channel}});
}

TEST(UpdateConfigurationTest, OnlyAnEnabledExactFeedOnTheServiceHostWithA32ByteKeyIsValid) {
  struct Case {
    const char* name;
    PropertyListDictionary info;
    bool valid;
  };
  const std::vector<Case> cases = {
      {"stable", configured(), true},
      {"beta", feed("https://vurle.app/beta/appcast.xml", "beta"), true},
      {"channel missing reads stable", configured({}, {"VurleReleaseChannel"}), true},
      {"channel not a string reads stable", configured({{"VurleReleaseChannel", 2}}), true},
      {"enabled as a Boolean", configured({{"VurleUpdatesEnabled", true}}), false},
      {"enabled as a number", configured({{"VurleUpdatesEnabled", 1}}), false},
      {"enabled lower case", configured({{"VurleUpdatesEnabled", "yes"}}), false},
      {"enabled capitalised", configured({{"VurleUpdatesEnabled", "Yes"}}), false},
      {"enabled with a space before", configured({{"VurleUpdatesEnabled", " YES"}}), false},
      {"enabled as the text true", configured({{"VurleUpdatesEnabled", "true"}}), false},
      {"enabled as the text 1", configured({{"VurleUpdatesEnabled", "1"}}), false},
      {"enabled missing", configured({}, {"VurleUpdatesEnabled"}), false},
      {"channel Beta", feed("https://vurle.app/beta/appcast.xml", "Beta"), false},
      {"channel nightly", configured({{"VurleReleaseChannel", "nightly"}}), false},
      {"beta on the stable path", feed("https://vurle.app/appcast.xml", "beta"), false},
      {"stable on the beta path", feed("https://vurle.app/beta/appcast.xml"), false},
      {"http", feed("http://vurle.app/appcast.xml"), false},
      {"scheme in capitals", feed("HTTPS://vurle.app/appcast.xml"), false},
      {"another host", feed("https://example.com/appcast.xml"), false},
      {"host in capitals", feed("https://Vurle.app/appcast.xml"), false},
      {"escaped host", feed("https://vurle%2Eapp/appcast.xml"), false},
      {"escaped path", feed("https://vurle.app/appcast%2Exml"), false},
      {"trailing slash", feed("https://vurle.app/appcast.xml/"), false},
      {"query", feed("https://vurle.app/appcast.xml?x=1"), false},
      {"empty query", feed("https://vurle.app/appcast.xml?"), false},
      {"fragment", feed("https://vurle.app/appcast.xml#top"), false},
      {"empty fragment", feed("https://vurle.app/appcast.xml#"), false},
      {"user", feed("https://u@vurle.app/appcast.xml"), false},
      {"empty user", feed("https://@vurle.app/appcast.xml"), false},
      {"password", feed("https://u:p@vurle.app/appcast.xml"), false},
      {"port 443", feed("https://vurle.app:443/appcast.xml"), false},
      {"empty port", feed("https://vurle.app:/appcast.xml"), false},
      {"feed not a URL", feed("https://vurle.app/app cast.xml"), false},
      {"feed not a string", configured({{"SUFeedURL", 1}}), false},
      {"feed missing", configured({}, {"SUFeedURL"}), false},
      {"31-byte key", configured({{"SUPublicEDKey", platform::base64EncodedString(platform::Data(31, 9))}}), false},
      {"33-byte key", configured({{"SUPublicEDKey", platform::base64EncodedString(platform::Data(33, 9))}}), false},
      {"key with a line break", configured({{"SUPublicEDKey", kKey.substr(0, 20) + "\n" + kKey.substr(20)}}), false},
      {"key not a string", configured({{"SUPublicEDKey", platform::Data(32, 9)}}), false},
      {"key missing", configured({}, {"SUPublicEDKey"}), false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(UpdateConfiguration(c.info).isValid("vurle.app"), c.valid) << c.name;
  }
}

TEST(UpdateConfigurationTest, AnEmptyDictionaryReadsAsUpdatesOffOnTheStableChannel) {
  const UpdateConfiguration empty{PropertyListDictionary{}};
  EXPECT_FALSE(empty.enabled);
  EXPECT_FALSE(empty.feedURL.has_value());
  EXPECT_FALSE(empty.publicKey.has_value());
  EXPECT_EQ(empty.channel, "stable");
  EXPECT_FALSE(empty.isValid());

  const UpdateConfiguration full(configured());
  EXPECT_TRUE(full.enabled);
  EXPECT_EQ(full.feedURL->absoluteString(), "https://vurle.app/appcast.xml");
  EXPECT_EQ(full.publicKey, platform::Data(32, 9));
  // The default build setting: the site root's host.
  EXPECT_EQ(UpdateConfiguration::updateServiceHost(), "vurle.app");
  EXPECT_TRUE(full.isValid());
}

}  // namespace
}  // namespace vurle
