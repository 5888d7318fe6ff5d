#include "platform/updater/appcast.hpp"

#include <pugixml.hpp>

#include <cstring>
#include <limits>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "platform/foundation/unicode_text.hpp"
#include "platform/foundation/url.hpp"

namespace platform {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::string trimmed(const char* text) {
  std::string value = text ? text : "";
  const auto begin = value.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return {};
  const auto end = value.find_last_not_of(" \t\r\n");
  return value.substr(begin, end - begin + 1);
}

// The namespace declarations in force at an element: its own, then its
// parent's scope. Each scope reads its element's attributes once, as the
// walk goes down, so a lookup costs a hash probe a level however many
// attributes the ancestors carry. (Walking up to the root and scanning every
// attribute on the way for each candidate child made a crafted feed of 1 MiB
// cost seconds.)
class NamespaceScope {
 public:
  NamespaceScope(pugi::xml_node element, const NamespaceScope* outer) : outer_(outer) {
    for (auto attribute : element.attributes()) {
      const std::string_view name = attribute.name();
      if (name == "xmlns") {
        declared_.emplace("", attribute.value());
      } else if (name.size() > 6 && name.substr(0, 6) == "xmlns:") {
        // The first declaration of a prefix wins, as it would in a scan.
        declared_.emplace(name.substr(6), attribute.value());
      }
    }
  }

  // Whether `prefix` ("" for the default namespace) stands for the feed's
  // namespace: the nearest declaration decides.
  bool isOurs(std::string_view prefix) const {
    for (auto* scope = this; scope; scope = scope->outer_) {
      if (auto found = scope->declared_.find(std::string(prefix)); found != scope->declared_.end()) {
        return found->second == SUAppcastNamespace;
      }
    }
    return false;
  }

 private:
  const NamespaceScope* outer_;
  std::unordered_map<std::string, std::string> declared_;
};

// A qualified name's prefix ("" without one) and local part.
std::pair<std::string_view, std::string_view> splitName(std::string_view name) {
  const auto colon = name.find(':');
  if (colon == std::string_view::npos) return {{}, name};
  return {name.substr(0, colon), name.substr(colon + 1)};
}

// An attribute `local` in the feed's namespace: unprefixed attributes are
// in no namespace, so only a prefixed one counts.
pugi::xml_attribute ourAttribute(pugi::xml_node element, const char* local, const NamespaceScope& scope) {
  for (auto attribute : element.attributes()) {
    const auto [prefix, rest] = splitName(attribute.name());
    if (!prefix.empty() && prefix != "xmlns" && rest == local && scope.isOurs(prefix)) return attribute;
  }
  return {};
}

// A child element in no namespace (plain RSS), the first of that name.
pugi::xml_node plainChild(pugi::xml_node element, const char* name) {
  for (auto child : element.children()) {
    if (child.type() == pugi::node_element && std::strcmp(child.name(), name) == 0) return child;
  }
  return {};
}

std::optional<std::uint64_t> decimal(const std::string& text) {
  if (text.empty() || text.size() > 19) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    if (!isDigit(c)) return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return value;
}

// Feed text a window may show; longer or stranger text makes no sense as a
// version or a title.
bool showable(const std::string& text) { return isShowableText(text, SUAppcastMaximumShownTextLength); }

// The item as it may be offered, or none. Its children are read in one
// pass, each candidate's namespace resolved once.
std::optional<SUAppcastItem> readItem(pugi::xml_node element, const NamespaceScope& outer) {
  const NamespaceScope scope(element, &outer);
  pugi::xml_node title, enclosure, version, shortVersion, minimumSystem;
  for (auto child : element.children()) {
    if (child.type() != pugi::node_element) continue;
    const std::string_view name = child.name();
    const auto [prefix, local] = splitName(name);
    pugi::xml_node* slot = name == "title"                   ? &title
                           : name == "enclosure"             ? &enclosure
                           : local == "version"              ? &version
                           : local == "shortVersionString"   ? &shortVersion
                           : local == "minimumSystemVersion" ? &minimumSystem
                                                             : nullptr;
    if (!slot || *slot) continue;
    const bool plain = slot == &title || slot == &enclosure;
    if (plain || NamespaceScope(child, &scope).isOurs(prefix)) *slot = child;
  }

  SUAppcastItem item;
  item.title = trimmed(title.text().get());
  if (!item.title.empty() && !showable(item.title)) return std::nullopt;
  item.versionString = trimmed(version.text().get());
  if (!SUIsDottedDecimal(item.versionString)) return std::nullopt;
  item.displayVersionString = trimmed(shortVersion.text().get());
  if (item.displayVersionString.empty()) item.displayVersionString = item.versionString;
  // A version that cannot be shown cannot be offered.
  if (!showable(item.displayVersionString)) return std::nullopt;
  if (minimumSystem) {
    item.minimumSystemVersion = trimmed(minimumSystem.text().get());
    if (!SUIsDottedDecimal(*item.minimumSystemVersion)) return std::nullopt;
  }

  if (!enclosure) return std::nullopt;
  item.fileURL = trimmed(enclosure.attribute("url").value());
  const auto url = NSURL::URLWithString(item.fileURL);
  if (!url || url->scheme() != "https" || !url->host()) return std::nullopt;
  if (auto length = enclosure.attribute("length")) {
    item.contentLength = decimal(trimmed(length.value()));
    if (!item.contentLength || *item.contentLength == 0) return std::nullopt;
  }
  const NamespaceScope enclosureScope(enclosure, &scope);
  const auto signature = dataFromBase64(trimmed(ourAttribute(enclosure, "edSignature", enclosureScope).value()));
  if (!signature || signature->size() != 64) return std::nullopt;
  item.edSignature = *signature;
  return item;
}

// Compares two runs of digits by value.
int compareRuns(const std::string& a, const std::string& b) {
  const auto start = [](const std::string& run) {
    const auto first = run.find_first_not_of('0');
    return first == std::string::npos ? run.size() : first;
  };
  const auto i = start(a);
  const auto j = start(b);
  const auto lengthA = a.size() - i;
  const auto lengthB = b.size() - j;
  if (lengthA != lengthB) return lengthA < lengthB ? -1 : 1;
  const int order = a.compare(i, lengthA, b, j, lengthB);
  return order < 0 ? -1 : order > 0 ? 1 : 0;
}

std::vector<std::string> runs(const std::string& version) {
  std::vector<std::string> parts;
  std::size_t begin = 0;
  for (;;) {
    const auto dot = version.find('.', begin);
    parts.push_back(version.substr(begin, dot == std::string::npos ? std::string::npos : dot - begin));
    if (dot == std::string::npos) return parts;
    begin = dot + 1;
  }
}

}  // namespace

bool SUIsDottedDecimal(const std::string& text) {
  if (text.empty()) return false;
  bool runStarted = false;
  for (char c : text) {
    if (isDigit(c)) {
      runStarted = true;
    } else if (c == '.' && runStarted) {
      runStarted = false;
    } else {
      return false;
    }
  }
  return runStarted;
}

std::optional<int> SUCompareVersions(const std::string& a, const std::string& b) {
  if (!SUIsDottedDecimal(a) || !SUIsDottedDecimal(b)) return std::nullopt;
  const auto x = runs(a);
  const auto y = runs(b);
  for (std::size_t k = 0; k < std::max(x.size(), y.size()); ++k) {
    const int order = compareRuns(k < x.size() ? x[k] : "0", k < y.size() ? y[k] : "0");
    if (order != 0) return order;
  }
  return 0;
}

std::string SUVersionText(NSOperatingSystemVersion version) {
  return std::to_string(version.majorVersion) + "." + std::to_string(version.minorVersion) + "." +
         std::to_string(version.patchVersion);
}

SUAppcastReading SUAppcastRead(const Data& document) {
  if (document.size() > SUAppcastMaximumBytes) return {std::nullopt, "The update feed is larger than 1 MiB."};
  pugi::xml_document xml;
  // No entity of the document's own is ever expanded, so its size stays
  // what was read.
  const auto parsed = xml.load_buffer(document.data(), document.size(), pugi::parse_default, pugi::encoding_auto);
  if (!parsed) return {std::nullopt, std::string("The update feed is not valid XML: ") + parsed.description() + "."};
  const auto rss = xml.document_element();
  const auto channel = plainChild(rss, "channel");
  if (std::strcmp(rss.name(), "rss") != 0 || !channel) return {std::nullopt, "The update feed is not an RSS feed."};

  const NamespaceScope rssScope(rss, nullptr);
  const NamespaceScope channelScope(channel, &rssScope);
  SUAppcast appcast;
  for (auto element : channel.children()) {
    if (element.type() != pugi::node_element || std::strcmp(element.name(), "item") != 0) continue;
    if (auto item = readItem(element, channelScope)) {
      appcast.items.push_back(std::move(*item));
    } else {
      ++appcast.skippedItems;
    }
  }
  return {std::move(appcast), {}};
}

SUAppcastChoice SUAppcastChoose(const SUAppcast& appcast, const std::string& runningBuild,
                                NSOperatingSystemVersion system, const std::optional<std::string>& skippedVersion) {
  const std::string systemText = SUVersionText(system);
  SUAppcastChoice choice;
  const auto newer = [](const std::optional<SUAppcastItem>& best, const SUAppcastItem& item) {
    return !best || SUCompareVersions(item.versionString, best->versionString) > 0;
  };
  for (const auto& item : appcast.items) {
    if (SUCompareVersions(item.versionString, runningBuild).value_or(0) <= 0) continue;
    if (skippedVersion && SUCompareVersions(item.versionString, *skippedVersion).value_or(1) <= 0) continue;
    const bool runsHere =
        !item.minimumSystemVersion || SUCompareVersions(systemText, *item.minimumSystemVersion).value_or(-1) >= 0;
    auto& slot = runsHere ? choice.update : choice.needsNewerSystem;
    if (newer(slot, item)) slot = item;
  }
  if (choice.update) choice.needsNewerSystem.reset();
  return choice;
}

}  // namespace platform
