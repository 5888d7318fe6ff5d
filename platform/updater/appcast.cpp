#include "platform/updater/appcast.hpp"

#include <pugixml.hpp>

#include <cstring>
#include <limits>

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

// The namespace a prefix stands for at the element: the nearest
// declaration on it or its ancestors ("" for the default namespace).
// Feeds are shallow and only elements near the root are asked about, so
// the walk up is short.
std::optional<std::string> namespaceOf(pugi::xml_node element, const std::string& prefix) {
  const std::string attribute = prefix.empty() ? "xmlns" : "xmlns:" + prefix;
  for (auto node = element; node && node.type() == pugi::node_element; node = node.parent()) {
    if (auto declared = node.attribute(attribute.c_str())) return std::string(declared.value());
  }
  return std::nullopt;
}

// Whether an element's qualified name is `local` in the feed's namespace.
bool isOurElement(pugi::xml_node element, const char* local) {
  const std::string name = element.name();
  const auto colon = name.find(':');
  const std::string prefix = colon == std::string::npos ? std::string() : name.substr(0, colon);
  const std::string rest = colon == std::string::npos ? name : name.substr(colon + 1);
  return rest == local && namespaceOf(element, prefix) == SUAppcastNamespace;
}

// An attribute `local` in the feed's namespace: unprefixed attributes are
// in no namespace, so only a prefixed one counts.
pugi::xml_attribute ourAttribute(pugi::xml_node element, const char* local) {
  for (auto attribute : element.attributes()) {
    const std::string name = attribute.name();
    const auto colon = name.find(':');
    if (colon == std::string::npos || name.compare(colon + 1, std::string::npos, local) != 0) continue;
    const std::string prefix = name.substr(0, colon);
    if (prefix != "xmlns" && namespaceOf(element, prefix) == SUAppcastNamespace) return attribute;
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

pugi::xml_node ourChild(pugi::xml_node element, const char* local) {
  for (auto child : element.children()) {
    if (child.type() == pugi::node_element && isOurElement(child, local)) return child;
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

// The item as it may be offered, or none.
std::optional<SUAppcastItem> readItem(pugi::xml_node element) {
  SUAppcastItem item;
  item.title = trimmed(plainChild(element, "title").text().get());
  item.itemDescription = trimmed(plainChild(element, "description").text().get());
  item.versionString = trimmed(ourChild(element, "version").text().get());
  if (!SUIsDottedDecimal(item.versionString)) return std::nullopt;
  item.displayVersionString = trimmed(ourChild(element, "shortVersionString").text().get());
  if (item.displayVersionString.empty()) item.displayVersionString = item.versionString;
  if (auto minimum = ourChild(element, "minimumSystemVersion")) {
    item.minimumSystemVersion = trimmed(minimum.text().get());
    if (!SUIsDottedDecimal(*item.minimumSystemVersion)) return std::nullopt;
  }

  const auto enclosure = plainChild(element, "enclosure");
  if (!enclosure) return std::nullopt;
  item.fileURL = trimmed(enclosure.attribute("url").value());
  const auto url = NSURL::URLWithString(item.fileURL);
  if (!url || url->scheme() != "https" || !url->host()) return std::nullopt;
  if (auto length = enclosure.attribute("length")) {
    item.contentLength = decimal(trimmed(length.value()));
    if (!item.contentLength || *item.contentLength == 0) return std::nullopt;
  }
  const auto signature = dataFromBase64(trimmed(ourAttribute(enclosure, "edSignature").value()));
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

  SUAppcast appcast;
  for (auto element : channel.children()) {
    if (element.type() != pugi::node_element || std::strcmp(element.name(), "item") != 0) continue;
    if (auto item = readItem(element)) {
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
