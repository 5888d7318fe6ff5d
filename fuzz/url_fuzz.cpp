// URLs with path components. The input is a URL text, then a NUL, then a
// path component.
// Properties: a text read as a URL splits as uriparser splits it (scheme,
// host, query, fragment); a component appended to it gives a text that reads
// back as the same URL (same scheme, host, decoded path, query and
// fragment), whose decoded path ends with the component.
#include <uriparser/Uri.h>

#include "fuzz/fuzz_support.hpp"
#include "platform/foundation/url.hpp"

namespace {

std::optional<std::string> range(const UriTextRangeA& range) {
  if (range.first == nullptr) return std::nullopt;
  return std::string(range.first, range.afterLast);
}

// What uriparser makes of the text, for comparison.
void compareWithUriparser(const std::string& input, const platform::NSURL& url) {
  using vurle::fuzz::require;
  UriUriA uri;
  const char* error = nullptr;
  require(uriParseSingleUriExA(&uri, input.data(), input.data() + input.size(), &error) == URI_SUCCESS,
          "a URL was read from text uriparser refuses");
  require(range(uri.scheme) == url.scheme(), "the scheme differs from uriparser's");
  require(range(uri.query) == url.query(), "the query differs from uriparser's");
  require(range(uri.fragment) == url.fragment(), "the fragment differs from uriparser's");
  const auto host = range(uri.hostText);
  if (host && !host->empty()) {
    require(url.host().has_value(), "a host uriparser finds is missing");
  } else {
    require(!url.host().has_value(), "a host uriparser does not find");
  }
  uriFreeUriMembersA(&uri);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vurle::fuzz;
  const auto [input, component] = splitAtNul(text(data, size));
  const auto url = platform::NSURL::URLWithString(input);
  if (!url) return 0;
  require(url->absoluteString() == input, "a URL does not keep its text");
  compareWithUriparser(input, *url);

  const auto built = url->URLByAppendingPathComponent(component);
  const auto read = platform::NSURL::URLWithString(built.absoluteString());
  require(read.has_value(), "a built URL is not a URL: " + built.absoluteString());
  require(read->scheme() == built.scheme(), "the scheme changed on reading back " + built.absoluteString());
  require(read->host() == built.host(), "the host changed on reading back " + built.absoluteString());
  require(read->path() == built.path(), "the path changed on reading back " + built.absoluteString());
  require(read->query() == url->query() && read->fragment() == url->fragment(),
          "the query or fragment changed on appending " + built.absoluteString());
  const std::string path = built.path();
  require(path.size() >= component.size() && path.compare(path.size() - component.size(), component.size(),
                                                          component) == 0,
          "the path does not end with the component: " + built.absoluteString());
  return 0;
}
