// The update feed reader and the choice of an update. The input is the
// running build's text, then a NUL, then the feed.
// Properties: a feed over 1 MiB is refused; every item offered has an https
// URL with a host, a 64-byte signature, a dotted-decimal build and, when
// given, a dotted-decimal minimum system and a length above 0, and shows
// only short, plain text (its version, and its title when it has one, pass
// platform::isShowableText); reading twice gives the same items.
// For a dotted-decimal running build the chosen update is one of the items,
// newer than the running build and runnable here, and nothing is newer:
// choosing again from the update's own build offers nothing that runs here.
// A build that needs a newer system is named only when nothing runs here,
// and it does need one. Version comparison is antisymmetric.
// The seeds include the shape that once made reading quadratic: many
// attributes above many candidate children and signature attributes.
#include "fuzz/fuzz_support.hpp"
#include "platform/foundation/unicode_text.hpp"
#include "platform/foundation/url.hpp"
#include "platform/updater/appcast.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vurle::fuzz;
  using namespace platform;
  const auto [running, feed] = splitAtNul(text(data, size));
  const Data document = dataFromString(feed);
  const auto reading = SUAppcastRead(document);
  if (document.size() > SUAppcastMaximumBytes) require(!reading.appcast, "a feed over 1 MiB was read");
  if (!reading.appcast) {
    require(!reading.error.empty(), "a refused feed says nothing");
    return 0;
  }
  const auto again = SUAppcastRead(document);
  require(again.appcast && again.appcast->items == reading.appcast->items, "reading twice differs");

  for (const auto& item : reading.appcast->items) {
    const auto url = NSURL::URLWithString(item.fileURL);
    require(url && url->scheme() == "https" && url->host(), "an item without an https URL: " + item.fileURL);
    require(item.edSignature.size() == 64, "an item without a 64-byte signature");
    require(SUIsDottedDecimal(item.versionString), "an item whose build is not dotted decimal");
    require(!item.minimumSystemVersion || SUIsDottedDecimal(*item.minimumSystemVersion),
            "an item whose minimum system is not dotted decimal");
    require(!item.contentLength || *item.contentLength > 0, "an item declaring no bytes");
    const auto shown = [](const std::string& text) { return isShowableText(text, SUAppcastMaximumShownTextLength); };
    require(shown(item.displayVersionString), "an item whose version cannot be shown: " + item.displayVersionString);
    require(item.title.empty() || shown(item.title), "an item whose title cannot be shown: " + item.title);
  }
  if (!SUIsDottedDecimal(running)) return 0;

  const NSOperatingSystemVersion system{26, 0, 0};
  const std::string systemText = SUVersionText(system);
  const auto choice = SUAppcastChoose(*reading.appcast, running, system);
  if (choice.update) {
    const auto& update = *choice.update;
    require(!choice.needsNewerSystem, "a build needing a newer system named beside an update");
    bool listed = false;
    for (const auto& item : reading.appcast->items) listed = listed || item == update;
    require(listed, "the update is not one of the items");
    const auto order = SUCompareVersions(update.versionString, running);
    require(order == 1 && SUCompareVersions(running, update.versionString) == -1,
            "the update is not newer than the running build, both ways");
    require(!update.minimumSystemVersion || SUCompareVersions(systemText, *update.minimumSystemVersion) >= 0,
            "the update does not run here");
    require(!SUAppcastChoose(*reading.appcast, update.versionString, system).update,
            "an item newer than the chosen update runs here");
  }
  if (choice.needsNewerSystem) {
    const auto& minimum = choice.needsNewerSystem->minimumSystemVersion;
    require(minimum && SUCompareVersions(*minimum, systemText) == 1, "a build named as needing a newer system runs here");
  }
  return 0;
}
