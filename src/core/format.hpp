// Text forms shared by every message and representation of the system. No
// other code formats numbers or quotes text for users.
//
//   plain float   shortest round-trip digits, positional at every magnitude,
//                 no fractional part when integral ("2451545", "0.0000001")
//   debug float   the same digits, integral values keep ".0", magnitudes at
//                 or above 1e16 or below 1e-4 use an exponent ("1.5e-5")
//   quoted text   "..." with \" \\ \t \r \n \0 and \u{..} escapes
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarvex::core {

std::string plain_float(double value);
std::string debug_float(double value);
// "Some(<debug float>)" or "None".
std::string optional_debug_float(std::optional<double> value);
// The text must be valid UTF-8 (invalid bytes are shown as U+FFFD).
std::string quoted_text(std::string_view text);
// "true" / "false".
std::string_view boolean_text(bool value) noexcept;

// Appending forms, for callers building longer messages.
void append_plain_float(std::string& out, double value);
void append_debug_float(std::string& out, double value);
void append_quoted_text(std::string& out, std::string_view text);

}  // namespace tarvex::core
