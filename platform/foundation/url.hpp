#pragma once

#include <optional>
#include <string>

namespace platform {

// A URL as the platform's URL type holds it: the text it was made from,
// split into scheme, authority, path, query and fragment. Equal when the
// texts are equal.
class NSURL {
 public:
  // Absent when the text is not a URI or relative reference of RFC 3986:
  // empty, holding a character outside the URL character set (spaces and
  // NUL included), a "%" not followed by two hex digits, a scheme that is
  // not a letter followed by letters, digits, "+", "-" or ".", a port that
  // is not digits, or "[", "]" outside an IP literal. Text without a scheme
  // is a relative URL.
  static std::optional<NSURL> URLWithString(const std::string& text);
  // A "file" URL; a relative path is taken from the current directory.
  static NSURL fileURLWithPath(const std::string& path);

  const std::string& absoluteString() const { return text_; }
  // As written (not lower-cased); absent without one.
  const std::optional<std::string>& scheme() const { return scheme_; }
  // Percent-decoded, without user, password, port or IPv6 brackets; absent
  // without an authority or with an empty one.
  std::optional<std::string> host() const;
  // The user information before "@": the user before any ":" and the
  // password after it, percent-decoded; each absent when not written
  // ("https://@x" has an empty user, "https://u@x" no password).
  std::optional<std::string> user() const;
  std::optional<std::string> password() const;
  // The port's value; absent without one and for an empty port ("x:"), as
  // the platform reads them. Digits beyond an int read as INT_MAX.
  std::optional<int> port() const;
  // Percent-decoded, trailing "/" kept.
  std::string path() const;
  // Absent without "?" (or "#"); present and possibly empty otherwise.
  const std::optional<std::string>& query() const { return query_; }
  const std::optional<std::string>& fragment() const { return fragment_; }
  bool isFileURL() const { return scheme_ == "file"; }

  // The URL with one more path component ("/" added between when needed);
  // characters a path cannot hold are percent-encoded, "/" is kept, so
  // "privacy/" appends a folder. The text reads back as this same URL:
  // without an authority, a path that would start with "//" has its second
  // "/" escaped, and without a scheme either, a ":" in the first segment.
  NSURL URLByAppendingPathComponent(const std::string& component) const;

  bool operator==(const NSURL& other) const { return text_ == other.text_; }

 private:
  NSURL() = default;
  void rebuildText();

  std::string text_;
  std::optional<std::string> scheme_;
  std::optional<std::string> authority_;
  std::string path_;  // percent-encoded, as written
  std::optional<std::string> query_;
  std::optional<std::string> fragment_;
};

}  // namespace platform
