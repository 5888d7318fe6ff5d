#include "platform/foundation/url.hpp"

#include <cctype>
#include <cstring>
#include <filesystem>

namespace platform {
namespace {

bool isHex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

bool isUnreserved(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || std::strchr("-._~", c) != nullptr;
}

// Characters a path segment holds without escaping ("/" separates segments).
bool isPathCharacter(char c) { return isUnreserved(c) || (c != '\0' && std::strchr("!$&'()*+,;=:@/", c) != nullptr); }

bool isURLCharacter(char c) { return isPathCharacter(c) || c == '?' || c == '#' || c == '[' || c == ']'; }

bool isValidScheme(const std::string& scheme) {
  if (scheme.empty() || std::isalpha(static_cast<unsigned char>(scheme[0])) == 0) return false;
  for (char c : scheme) {
    if (std::isalnum(static_cast<unsigned char>(c)) == 0 && c != '+' && c != '-' && c != '.') return false;
  }
  return true;
}

std::string percentDecode(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && isHex(text[i + 1]) && isHex(text[i + 2])) {
      out.push_back(static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

std::string percentEncodePath(const std::string& text) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (char c : text) {
    if (isPathCharacter(c)) {
      out.push_back(c);
    } else {
      const auto byte = static_cast<unsigned char>(c);
      out += {'%', digits[byte >> 4], digits[byte & 15]};
    }
  }
  return out;
}

}  // namespace

std::optional<NSURL> NSURL::URLWithString(const std::string& text) {
  if (text.empty()) return std::nullopt;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%') {
      if (i + 2 >= text.size() || !isHex(text[i + 1]) || !isHex(text[i + 2])) return std::nullopt;
    } else if (!isURLCharacter(text[i])) {
      return std::nullopt;
    }
  }
  NSURL url;
  std::string rest = text;
  const size_t hash = rest.find('#');
  if (hash != std::string::npos) {
    url.fragment_ = rest.substr(hash + 1);
    if (url.fragment_->find('#') != std::string::npos) return std::nullopt;
    rest.erase(hash);
  }
  const size_t question = rest.find('?');
  if (question != std::string::npos) {
    url.query_ = rest.substr(question + 1);
    rest.erase(question);
  }
  const size_t colon = rest.find(':');
  if (colon != std::string::npos && rest.find('/') > colon) {
    const std::string scheme = rest.substr(0, colon);
    // A relative reference's first segment cannot hold ":", so this must be a scheme.
    if (!isValidScheme(scheme)) return std::nullopt;
    url.scheme_ = scheme;
    rest.erase(0, colon + 1);
  }
  if (rest.rfind("//", 0) == 0) {
    const size_t slash = rest.find('/', 2);
    url.authority_ = rest.substr(2, slash == std::string::npos ? std::string::npos : slash - 2);
    rest = slash == std::string::npos ? std::string() : rest.substr(slash);
  }
  url.path_ = rest;
  url.text_ = text;
  return url;
}

NSURL NSURL::fileURLWithPath(const std::string& path) {
  NSURL url;
  url.scheme_ = "file";
  url.authority_ = "";
  url.path_ = percentEncodePath(std::filesystem::absolute(path).string());
  url.rebuildText();
  return url;
}

std::optional<std::string> NSURL::host() const {
  if (!authority_) return std::nullopt;
  std::string host = *authority_;
  const size_t at = host.rfind('@');
  if (at != std::string::npos) host.erase(0, at + 1);
  if (!host.empty() && host[0] == '[') {
    const size_t close = host.find(']');
    host = host.substr(1, close == std::string::npos ? std::string::npos : close - 1);
  } else {
    const size_t port = host.find(':');
    if (port != std::string::npos) host.erase(port);
  }
  if (host.empty()) return std::nullopt;
  return percentDecode(host);
}

std::string NSURL::path() const { return percentDecode(path_); }

NSURL NSURL::URLByAppendingPathComponent(const std::string& component) const {
  NSURL url = *this;
  if (!url.path_.empty() && url.path_.back() != '/') url.path_ += '/';
  if (url.path_.empty() && url.authority_) url.path_ = "/";
  url.path_ += percentEncodePath(component);
  url.rebuildText();
  return url;
}

void NSURL::rebuildText() {
  text_.clear();
  if (scheme_) text_ += *scheme_ + ":";
  if (authority_) text_ += "//" + *authority_;
  text_ += path_;
  if (query_) text_ += "?" + *query_;
  if (fragment_) text_ += "#" + *fragment_;
}

}  // namespace platform
