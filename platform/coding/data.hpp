#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/url.hpp"

namespace platform {

// A byte buffer, as the platform's data type.
using Data = std::vector<std::uint8_t>;

inline Data dataFromString(const std::string& text) { return Data(text.begin(), text.end()); }
inline std::string stringFromData(const Data& data) { return std::string(data.begin(), data.end()); }

// Standard base64 with "=" padding.
std::string base64EncodedString(const Data& data);
// Absent for anything but canonical padded base64 (no white space).
std::optional<Data> dataFromBase64(const std::string& text);

// The whole file a file URL names (a system path under the system root,
// file_manager.hpp); absent for another scheme, when the file cannot be
// read, or when it holds more than `maximumLength` bytes (then nothing
// beyond the limit is read).
std::optional<Data> dataWithContentsOfURL(const NSURL& url, std::optional<std::size_t> maximumLength = std::nullopt);

}  // namespace platform
