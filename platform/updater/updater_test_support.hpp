#pragma once

// Test support for the updater and its users: signing keys made at test
// time, feeds written from a few fields, and a fixture with a temporary
// bundle (its information dictionary configured for an https feed on the
// product host), temporary settings and download folders, and a loopback
// server that the product host is routed to. A test can also serve under
// the simulated scheduler: answers of the real networking thread then wait
// in its queues, and pumpSimulatedUntil() runs them as they arrive.

#include <gtest/gtest.h>
#include <sodium.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/bundle/bundle.hpp"
#include "platform/coding/data.hpp"
#include "platform/coding/json_coding.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/dispatch/test_hang_guard.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/network/loopback_server.hpp"
#include "platform/network/url_session.hpp"
#include "platform/updater/appcast.hpp"

namespace platform::testing {

struct SigningKeys {
  Data publicKey = Data(crypto_sign_PUBLICKEYBYTES);
  Data secretKey = Data(crypto_sign_SECRETKEYBYTES);

  static SigningKeys generate() {
    if (sodium_init() < 0) throw std::runtime_error("libsodium cannot start");
    SigningKeys keys;
    crypto_sign_keypair(keys.publicKey.data(), keys.secretKey.data());
    return keys;
  }
  Data sign(const Data& message) const {
    Data signature(crypto_sign_BYTES);
    crypto_sign_detached(signature.data(), nullptr, message.data(), message.size(), secretKey.data());
    return signature;
  }
  std::string publicKeyText() const { return base64EncodedString(publicKey); }
};

// One <item>; empty fields are left out.
struct FeedItem {
  std::string version;
  std::string shortVersion;
  std::string minimumSystem;
  std::string url;
  std::string signature;  // Base64
  std::string length;
  std::string title;
};

inline std::string feedXML(const std::vector<FeedItem>& items, const std::string& prefix = "vu") {
  std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<rss version=\"2.0\" xmlns:" + prefix + "=\"" +
                    SUAppcastNamespace + "\">\n<channel>\n<title>vurle</title>\n";
  for (const auto& item : items) {
    xml += "<item>\n";
    if (!item.title.empty()) xml += "<title>" + item.title + "</title>\n";
    if (!item.version.empty()) xml += "<" + prefix + ":version>" + item.version + "</" + prefix + ":version>\n";
    if (!item.shortVersion.empty()) {
      xml += "<" + prefix + ":shortVersionString>" + item.shortVersion + "</" + prefix + ":shortVersionString>\n";
    }
    if (!item.minimumSystem.empty()) {
      xml += "<" + prefix + ":minimumSystemVersion>" + item.minimumSystem + "</" + prefix + ":minimumSystemVersion>\n";
    }
    xml += "<enclosure";
    if (!item.url.empty()) xml += " url=\"" + item.url + "\"";
    if (!item.length.empty()) xml += " length=\"" + item.length + "\"";
    xml += " type=\"application/octet-stream\"";
    if (!item.signature.empty()) xml += " " + prefix + ":edSignature=\"" + item.signature + "\"";
    xml += "/>\n</item>\n";
  }
  return xml + "</channel>\n</rss>\n";
}

// With the other waits on real threads (platform/dispatch/test_hang_guard.hpp).
using ::platform::pumpSimulatedUntil;

class UpdaterFixture : public ::testing::Test {
 protected:
  static constexpr const char* host = "vurle.app";
  static constexpr const char* feedURL = "https://vurle.app/appcast.xml";
  static constexpr const char* archiveURL = "https://vurle.app/downloads/vurle.zip";

  void SetUp() override {
    resetProcessState();
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root / "bundle");
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_CACHE_HOME"}) {
      if (const char* value = std::getenv(name)) saved.emplace_back(name, value);
      else saved.emplace_back(name, std::nullopt);
    }
    ::setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (root / "cache").c_str(), 1);
    writeInfo();
    server.server().Get("/appcast.xml", [this](const httplib::Request& request, httplib::Response& response) {
      std::lock_guard<std::mutex> lock(mutex);
      feedTargets.push_back(request.target);
      response.status = feedStatus;
      response.set_content(feed, "application/rss+xml");
    });
    server.server().Get("/downloads/vurle.zip", [this](const httplib::Request&, httplib::Response& response) {
      std::lock_guard<std::mutex> lock(mutex);
      response.set_content(stringFromData(archive), "application/octet-stream");
    });
    URLSession::routeHostForTesting(host, NSURL::URLWithString(server.baseURL()).value());
  }

  void TearDown() override {
    for (const auto& [name, value] : saved) value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
    resetProcessState();
    std::filesystem::remove_all(root);
  }

  // The bundle's information dictionary: the running build, the feed, the
  // key, and whatever `extra` adds or replaces.
  void writeInfo(const JSON& extra = JSON::object()) {
    JSON info = {{"CFBundleIdentifier", "mirt.vurle.app"}, {"CFBundleName", "vurle"},
                 {"CFBundleShortVersionString", "1.2"},  {"CFBundleVersion", "120"},
                 {"VurleUpdatesEnabled", "YES"},         {"VurleReleaseChannel", "stable"},
                 {"SUFeedURL", feedURL},                 {"SUPublicEDKey", keys.publicKeyText()}};
    for (const auto& [key, value] : extra.items()) {
      if (value.is_null()) {
        info.erase(key);
      } else {
        info[key] = value;
      }
    }
    std::ofstream(root / "bundle" / "Info.json") << info.dump();
    NSBundle::setMainBundlePath(root / "bundle");
  }

  // The feed served at the feed URL, with its status.
  void serveFeed(std::string text, int status = 200) {
    std::lock_guard<std::mutex> lock(mutex);
    feed = std::move(text);
    feedStatus = status;
  }
  // An archive served at archiveURL, and a feed item offering it, signed
  // by the fixture's key. With `flip`, the archive served differs from the
  // signed one in one byte.
  FeedItem serveArchive(Data bytes, bool flip = false, const std::string& version = "130") {
    FeedItem item{version, "1.3", "", archiveURL, base64EncodedString(keys.sign(bytes)),
                  std::to_string(bytes.size()), "vurle 1.3"};
    if (flip) bytes.at(bytes.size() / 2) ^= 0x01;
    std::lock_guard<std::mutex> lock(mutex);
    archive = std::move(bytes);
    return item;
  }
  // The feed requests' targets, query included.
  std::vector<std::string> feedRequests() {
    std::lock_guard<std::mutex> lock(mutex);
    return feedTargets;
  }
  std::size_t requestsFor(const std::string& path) const {
    std::size_t count = 0;
    for (const auto& request : server.requests()) count += request.path == path ? 1 : 0;
    return count;
  }
  bool downloadsFolderIsEmpty() const {
    const auto folder = root / "cache" / "vurle" / "updates";
    std::error_code error;
    return !std::filesystem::exists(folder, error) || std::filesystem::is_empty(folder, error);
  }

  const std::filesystem::path root =
      std::filesystem::temp_directory_path() / ("vurle-updater-" + std::to_string(::getpid()));
  const SigningKeys keys = SigningKeys::generate();
  std::vector<std::pair<std::string, std::optional<std::string>>> saved;
  std::mutex mutex;
  std::string feed = feedXML({});
  int feedStatus = 200;
  std::vector<std::string> feedTargets;
  Data archive;
  LoopbackServer server;
};

}  // namespace platform::testing
