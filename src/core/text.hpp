// UTF-8 and Unicode white-space helpers shared by the text-kernel parser, the
// Earth orientation table and the name parsers of the Python layer.
#pragma once

#include <string>
#include <string_view>

namespace tarvex::core {

inline constexpr char32_t REPLACEMENT_CHARACTER = 0xFFFD;

// Decodes the code point at text[index] and advances index past it. A
// maximal invalid subsequence decodes as one U+FFFD (as lossy UTF-8
// conversion does elsewhere).
char32_t decode_utf8_lossy(std::string_view text, std::size_t& index) noexcept;
bool is_valid_utf8(std::string_view text) noexcept;
void append_utf8(std::string& out, char32_t code_point);

// The Unicode White_Space property.
bool is_unicode_white_space(char32_t c) noexcept;
// Removes leading and trailing Unicode white space (the text is UTF-8).
std::string_view trim_unicode_white_space(std::string_view text) noexcept;
// A-Z to a-z; every other byte unchanged.
std::string ascii_lowercase(std::string_view text);

}  // namespace tarvex::core
