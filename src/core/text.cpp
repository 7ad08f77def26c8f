#include "core/text.hpp"

namespace tarvex::core {

char32_t decode_utf8_lossy(std::string_view text, std::size_t& index) noexcept {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(index);
  if (lead < 0x80) {
    ++index;
    return lead;
  }
  int length = 0;
  char32_t code = 0;
  unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    ++index;
    return REPLACEMENT_CHARACTER;
  }
  std::size_t i = index + 1;
  for (int k = 1; k < length; ++k, ++i) {
    if (i >= text.size()) {
      index = i;
      return REPLACEMENT_CHARACTER;
    }
    const unsigned char b = byte(i);
    const unsigned char lo = k == 1 ? low : 0x80;
    const unsigned char hi = k == 1 ? high : 0xBF;
    if (b < lo || b > hi) {
      index = i;
      return REPLACEMENT_CHARACTER;
    }
    code = (code << 6) | (b & 0x3F);
  }
  index = i;
  return code;
}

bool is_valid_utf8(std::string_view text) noexcept {
  std::size_t index = 0;
  while (index < text.size()) {
    const std::size_t begin = index;
    if (decode_utf8_lossy(text, index) == REPLACEMENT_CHARACTER &&
        !(index - begin == 3 && text.substr(begin, 3) == "\xEF\xBF\xBD")) {
      return false;
    }
  }
  return true;
}

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

bool is_unicode_white_space(char32_t c) noexcept {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

std::string_view trim_unicode_white_space(std::string_view text) noexcept {
  // Every white-space character is a control, the space, or outside ASCII,
  // so text that begins and ends with a printable ASCII character other
  // than the space has nothing to trim (the common case of a name).
  const auto printable = [](char c) { return c > ' ' && c < 0x7F; };
  if (!text.empty() && printable(text.front()) && printable(text.back())) return text;
  // Leading: decode forward.
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t next = begin;
    const char32_t c = decode_utf8_lossy(text, next);
    if (c == REPLACEMENT_CHARACTER || !is_unicode_white_space(c)) break;
    begin = next;
  }
  // Trailing: step back over continuation bytes to the start of each
  // character and decode it.
  std::size_t end = text.size();
  while (end > begin) {
    std::size_t start = end - 1;
    while (start > begin && end - start < 4 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
    std::size_t next = start;
    const char32_t c = decode_utf8_lossy(text, next);
    if (next != end || c == REPLACEMENT_CHARACTER || !is_unicode_white_space(c)) break;
    end = start;
  }
  return text.substr(begin, end - begin);
}

std::string ascii_lowercase(std::string_view text) {
  std::string out(text);
  for (char& ch : out) {
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
  }
  return out;
}

}  // namespace tarvex::core
