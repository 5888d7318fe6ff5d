#include "platform/foundation/url.hpp"

#include <uriparser/Uri.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <limits>

namespace platform {
namespace {

bool isHex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

// One of the listed characters; never NUL, which strchr would find as the
// list's terminator.
bool isOneOf(char c, const char* list) { return c != '\0' && std::strchr(list, c) != nullptr; }

bool isUnreserved(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || isOneOf(c, "-._~"); }

// Characters a path segment holds without escaping ("/" separates segments).
bool isPathCharacter(char c) { return isUnreserved(c) || isOneOf(c, "!$&'()*+,;=:@/"); }

// The whole text is one URI or relative reference of RFC 3986. uriparser
// knows the grammar's corners (IP literals, ports, where ":", "@" and "["
// may stand); a NUL byte is never part of it.
bool isURIReference(const std::string& text) {
  if (text.find('\0') != std::string::npos) return false;
  UriUriA uri;
  const char* errorPosition = nullptr;
  if (uriParseSingleUriExA(&uri, text.data(), text.data() + text.size(), &errorPosition) != URI_SUCCESS) {
    return false;
  }
  uriFreeUriMembersA(&uri);
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
  if (text.empty() || !isURIReference(text)) return std::nullopt;
  // Valid text splits at its first "#", then its first "?"; a ":" before
  // any "/" ends a scheme, since a relative reference's first segment cannot
  // hold one; "//" then starts the authority.
  NSURL url;
  std::string rest = text;
  const size_t hash = rest.find('#');
  if (hash != std::string::npos) {
    url.fragment_ = rest.substr(hash + 1);
    rest.erase(hash);
  }
  const size_t question = rest.find('?');
  if (question != std::string::npos) {
    url.query_ = rest.substr(question + 1);
    rest.erase(question);
  }
  const size_t colon = rest.find(':');
  if (colon != std::string::npos && rest.find('/') > colon) {
    url.scheme_ = rest.substr(0, colon);
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

namespace {

// The user information of an authority: the text before its last "@".
std::optional<std::string> userInfo(const std::optional<std::string>& authority) {
  if (!authority) return std::nullopt;
  const size_t at = authority->rfind('@');
  if (at == std::string::npos) return std::nullopt;
  return authority->substr(0, at);
}

}  // namespace

std::optional<std::string> NSURL::user() const {
  const auto info = userInfo(authority_);
  if (!info) return std::nullopt;
  return percentDecode(info->substr(0, info->find(':')));
}

std::optional<std::string> NSURL::password() const {
  const auto info = userInfo(authority_);
  if (!info) return std::nullopt;
  const size_t colon = info->find(':');
  if (colon == std::string::npos) return std::nullopt;
  return percentDecode(info->substr(colon + 1));
}

std::optional<int> NSURL::port() const {
  if (!authority_) return std::nullopt;
  std::string rest = *authority_;
  const size_t at = rest.rfind('@');
  if (at != std::string::npos) rest.erase(0, at + 1);
  // After an IP literal's "]", else after the host's first ":".
  const size_t close = !rest.empty() && rest[0] == '[' ? rest.find(']') : 0;
  if (close == std::string::npos) return std::nullopt;
  const size_t colon = rest.find(':', close);
  if (colon == std::string::npos || colon + 1 == rest.size()) return std::nullopt;
  long long value = 0;
  for (size_t i = colon + 1; i < rest.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(rest[i]))) return std::nullopt;
    value = std::min<long long>(value * 10 + (rest[i] - '0'), std::numeric_limits<int>::max());
  }
  return static_cast<int>(value);
}

std::string NSURL::path() const { return percentDecode(path_); }

NSURL NSURL::URLByAppendingPathComponent(const std::string& component) const {
  NSURL url = *this;
  // After an authority a path starts with "/".
  const bool separate = url.path_.empty() ? url.authority_.has_value() : url.path_.back() != '/';
  if (separate) url.path_ += '/';
  url.path_ += percentEncodePath(component);
  // Two starts of a path would read back as another URL; escaping the one
  // character keeps the decoded path as it is.
  if (!url.authority_) {
    // "//x" would be read as the authority "x".
    if (url.path_.rfind("//", 0) == 0) url.path_.replace(1, 1, "%2F");
    // Without a scheme, "x:y" would be read as the scheme "x".
    if (!url.scheme_) {
      const size_t segmentEnd = std::min(url.path_.find('/'), url.path_.size());
      std::string segment;
      for (size_t i = 0; i < segmentEnd; ++i) {
        if (url.path_[i] == ':') {
          segment += "%3A";
        } else {
          segment += url.path_[i];
        }
      }
      url.path_.replace(0, segmentEnd, segment);
    }
  }
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
