#include "platform/coding/data.hpp"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/foundation/file_manager.hpp"

namespace platform {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int sextet(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

std::string base64EncodedString(const Data& data) {
  std::string out;
  out.reserve((data.size() + 2) / 3 * 4);
  for (size_t i = 0; i < data.size(); i += 3) {
    const size_t left = data.size() - i;
    const unsigned triple = (data[i] << 16) | (left > 1 ? data[i + 1] << 8 : 0) | (left > 2 ? data[i + 2] : 0);
    out.push_back(kAlphabet[(triple >> 18) & 63]);
    out.push_back(kAlphabet[(triple >> 12) & 63]);
    out.push_back(left > 1 ? kAlphabet[(triple >> 6) & 63] : '=');
    out.push_back(left > 2 ? kAlphabet[triple & 63] : '=');
  }
  return out;
}

std::optional<Data> dataFromBase64(const std::string& text) {
  if (text.size() % 4 != 0) return std::nullopt;
  Data out;
  out.reserve(text.size() / 4 * 3);
  for (size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    const int padding = last ? (text[i + 3] == '=') + (text[i + 2] == '=') : 0;
    if (padding == 1 && text[i + 2] == '=') return std::nullopt;  // "x=y=" is not padding
    unsigned triple = 0;
    for (int k = 0; k < 4 - padding; ++k) {
      const int value = sextet(text[i + k]);
      if (value < 0) return std::nullopt;
      triple |= static_cast<unsigned>(value) << (18 - 6 * k);
    }
    // Canonical form only: the bits padding leaves over must be zero.
    if ((padding == 1 && (triple & 0xFF) != 0) || (padding == 2 && (triple & 0xFFFF) != 0)) return std::nullopt;
    out.push_back(static_cast<std::uint8_t>(triple >> 16));
    if (padding < 2) out.push_back(static_cast<std::uint8_t>(triple >> 8));
    if (padding < 1) out.push_back(static_cast<std::uint8_t>(triple));
  }
  return out;
}

std::optional<Data> dataWithContentsOfURL(const NSURL& url, std::optional<std::size_t> maximumLength) {
  if (!url.isFileURL()) return std::nullopt;
  const std::filesystem::path path = resolveFilePath(url.path());
  std::error_code error;
  if (path.empty() || !std::filesystem::is_regular_file(path, error)) return std::nullopt;
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  Data data;
  // Read in pieces, so a file that grows past the limit is caught too.
  char piece[16384];
  while (file) {
    file.read(piece, sizeof piece);
    const auto got = static_cast<std::size_t>(file.gcount());
    if (maximumLength && data.size() + got > *maximumLength) return std::nullopt;
    data.insert(data.end(), piece, piece + got);
  }
  if (file.bad()) return std::nullopt;
  return data;
}

}  // namespace platform
