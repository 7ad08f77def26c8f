// SHA-256 checksum texts: callers verify the file's hash themselves; we only
// check the form (64 hexadecimal characters) and record it in lower case.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarvex::core {

inline constexpr std::size_t SHA256_HEX_LENGTH = 64;

// The checksum in lower case, or none when it is not exactly 64 ASCII
// hexadecimal digits.
std::optional<std::string> normalized_sha256(std::string_view text);

}  // namespace tarvex::core
