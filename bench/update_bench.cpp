// Updates:
// - Feed/read-1MiB: reading a feed of just under 1 MiB (the largest read)
//   with a few thousand items and choosing the update, as the updater's
//   work queue does for every check.
// - Feed/read-1MiB-namespaces: reading the feed of 1 MiB that costs the
//   most namespace lookups: half of it attributes on the rss element, half
//   unprefixed <version/> children in no namespace of ours, each of which
//   must be resolved against every declaration above it (the goal is
//   under 50 ms, linear in the size).
// - Archive/verify-64MiB: the Ed25519 signature check of a 64 MiB archive,
//   the largest downloaded (bytes per second).
// - Check/main-thread: one check the user asks for from the settings
//   button, against a loopback server with a feed of 20 items, to its end:
//   the main thread's share of it (counter main_ms_per_check; the goal is
//   under 1 ms). Runs under the simulated scheduler, whose bookkeeping
//   counts only the main queue's work; the network and the feed's reading
//   run elsewhere.
#include <benchmark/benchmark.h>
#include <sodium.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "platform/bundle/bundle.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/network/loopback_server.hpp"
#include "platform/network/url_session.hpp"
#include "platform/updater/appcast.hpp"
#include "platform/updater/signature.hpp"
#include "support/vurle_updates.hpp"

namespace {

using platform::Data;

std::string feedOf(std::size_t items, std::size_t largest) {
  const std::string signature = platform::base64EncodedString(Data(64, 3));
  std::string xml = std::string("<?xml version=\"1.0\"?><rss version=\"2.0\" xmlns:vu=\"") +
                    platform::SUAppcastNamespace + "\"><channel><title>vurle</title>";
  for (std::size_t k = 0; k < items; ++k) {
    std::string item = "<item><title>vurle 1." + std::to_string(k) + "</title><vu:version>1." + std::to_string(k) +
                       "</vu:version><vu:shortVersionString>1." + std::to_string(k) +
                       "</vu:shortVersionString><vu:minimumSystemVersion>14.0</vu:minimumSystemVersion>"
                       "<description>Fixes and improvements to the pointer morph.</description>"
                       "<enclosure url=\"https://vurle.app/downloads/vurle-1." +
                       std::to_string(k) + ".zip\" length=\"1234567\" type=\"application/octet-stream\" vu:edSignature=\"" +
                       signature + "\"/></item>";
    if (xml.size() + item.size() + 32 > largest) break;
    xml += item;
  }
  return xml + "</channel></rss>";
}

void BM_ReadFeed(benchmark::State& state) {
  const Data feed = platform::dataFromString(feedOf(100000, platform::SUAppcastMaximumBytes));
  for (auto _ : state) {
    const auto reading = platform::SUAppcastRead(feed);
    const auto choice = platform::SUAppcastChoose(*reading.appcast, "1.0", {26, 0, 0});
    benchmark::DoNotOptimize(choice);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * feed.size()));
  state.counters["feed_bytes"] = static_cast<double>(feed.size());
}
BENCHMARK(BM_ReadFeed)->Name("Feed/read-1MiB")->Unit(benchmark::kMillisecond);

void BM_ReadFeedOfNamespaces(benchmark::State& state) {
  const std::string head = "<rss version=\"2.0\"";
  const std::string middle = "><channel><item>";
  const std::string tail = "</item></channel></rss>";
  const std::string attribute = " x=\"\"";
  const std::string child = "<version/>";
  const std::size_t room = platform::SUAppcastMaximumBytes - head.size() - middle.size() - tail.size();
  std::string xml = head;
  for (std::size_t k = 0; k < room / 2 / attribute.size(); ++k) xml += attribute;
  xml += middle;
  while (xml.size() + child.size() + tail.size() <= platform::SUAppcastMaximumBytes) xml += child;
  xml += tail;
  const Data feed = platform::dataFromString(xml);
  for (auto _ : state) {
    const auto reading = platform::SUAppcastRead(feed);
    if (!reading.appcast || reading.appcast->skippedItems != 1) state.SkipWithError("not read as one bad item");
    benchmark::DoNotOptimize(reading);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * feed.size()));
  state.counters["feed_bytes"] = static_cast<double>(feed.size());
}
BENCHMARK(BM_ReadFeedOfNamespaces)->Name("Feed/read-1MiB-namespaces")->Unit(benchmark::kMillisecond);

void BM_VerifyArchive(benchmark::State& state) {
  if (sodium_init() < 0) {
    state.SkipWithError("libsodium cannot start");
    return;
  }
  Data archive(platform::SPUUpdater::maximumArchiveBytes);
  for (std::size_t k = 0; k < archive.size(); ++k) archive[k] = static_cast<std::uint8_t>(k * 2654435761u >> 24);
  Data publicKey(crypto_sign_PUBLICKEYBYTES), secretKey(crypto_sign_SECRETKEYBYTES), signature(crypto_sign_BYTES);
  crypto_sign_keypair(publicKey.data(), secretKey.data());
  crypto_sign_detached(signature.data(), nullptr, archive.data(), archive.size(), secretKey.data());
  for (auto _ : state) {
    if (!platform::SUVerifyEd25519Signature(archive, signature, publicKey)) state.SkipWithError("not verified");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * archive.size()));
}
BENCHMARK(BM_VerifyArchive)->Name("Archive/verify-64MiB")->Unit(benchmark::kMillisecond);

void BM_CheckMainThread(benchmark::State& state) {
  namespace fs = std::filesystem;
  platform::resetProcessState();
  const fs::path root = fs::temp_directory_path() / ("vurle-update-bench-" + std::to_string(::getpid()));
  fs::create_directories(root / "bundle");
  ::setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
  ::setenv("XDG_CACHE_HOME", (root / "cache").c_str(), 1);
  if (sodium_init() < 0) return;
  Data publicKey(crypto_sign_PUBLICKEYBYTES), secretKey(crypto_sign_SECRETKEYBYTES);
  crypto_sign_keypair(publicKey.data(), secretKey.data());
  std::ofstream(root / "bundle" / "Info.json")
      << R"({"CFBundleIdentifier": "mirt.vurle.app", "CFBundleName": "vurle", "CFBundleVersion": "1.0",
             "VurleUpdatesEnabled": "YES", "VurleReleaseChannel": "stable",
             "SUFeedURL": "https://vurle.app/appcast.xml", "SUPublicEDKey": ")"
      << platform::base64EncodedString(publicKey) << "\"}";
  platform::NSBundle::setMainBundlePath(root / "bundle");

  platform::LoopbackServer server;
  const std::string feed = feedOf(20, platform::SUAppcastMaximumBytes);
  server.server().Get("/appcast.xml", [&](const httplib::Request&, httplib::Response& response) {
    response.set_content(feed, "application/rss+xml");
  });
  platform::URLSession::routeHostForTesting("vurle.app", platform::NSURL::URLWithString(server.baseURL()).value());
  {
    platform::SimulatedSchedulerScope scope;
    auto updates = vurle::VurleUpdates::make();
    updates->start();
    scope->runUntilIdle();
    const auto waitFor = [&](const std::function<bool()>& done) {
      while (!done()) {
        scope->runUntilIdle();
        if (!done()) std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
    };
    double mainSeconds = 0;
    for (auto _ : state) {
      const double before = scope->mainQueueBusySeconds();
      platform::DispatchQueue::main()->async([&] { updates->checkForUpdates(true); });
      waitFor([&] { return updates->userDriver()->updateWindow() != nullptr; });
      platform::DispatchQueue::main()->async(
          [&] { updates->userDriver()->replyForTesting(platform::SPUUserUpdateChoice::dismiss); });
      waitFor([&] { return updates->canCheckForUpdates() && !updates->updater()->sessionInProgress(); });
      mainSeconds += scope->mainQueueBusySeconds() - before;
    }
    state.counters["main_ms_per_check"] = mainSeconds * 1000 / static_cast<double>(state.iterations());
  }
  platform::resetProcessState();
  fs::remove_all(root);
}
BENCHMARK(BM_CheckMainThread)->Name("Check/main-thread")->Unit(benchmark::kMillisecond)->Iterations(200);

}  // namespace
