// Line walking and white-space splitting shared by the text-kernel parser and
// the Earth orientation table. White space is the Unicode White_Space set,
// not the C locale's isspace: kernels edited on other systems carry U+00A0
// and friends, and those must separate tokens exactly as a blank does.
#pragma once

#include <cstddef>
#include <string_view>

#include "core/text.hpp"

namespace tarvex::time {

// Lines of a text: pieces split at each line feed, with the line feed and
// one carriage return right before it removed. A last piece without a line
// feed is a line; a final line feed does not produce an empty last line.
class LineCursor {
 public:
  explicit LineCursor(std::string_view text) noexcept : rest_(text) {}

  // Stores the next line in `line`; false once the text is exhausted.
  bool next(std::string_view& line) noexcept {
    if (rest_.empty()) return false;
    const std::size_t feed = rest_.find('\n');
    if (feed == std::string_view::npos) {
      line = rest_;
      rest_ = {};
      return true;
    }
    line = rest_.substr(0, feed);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    rest_.remove_prefix(feed + 1);
    return true;
  }

 private:
  std::string_view rest_;
};

// Length in bytes of the white-space character at text[index], or 0 when the
// character there is not white space. ASCII takes the fast path because data
// rows are almost entirely ASCII.
inline std::size_t white_space_length(std::string_view text, std::size_t index) noexcept {
  const auto byte = static_cast<unsigned char>(text[index]);
  if (byte < 0x80) return (byte == ' ' || (byte >= 0x09 && byte <= 0x0D)) ? 1 : 0;
  std::size_t next = index;
  const char32_t c = core::decode_utf8_lossy(text, next);
  if (c == core::REPLACEMENT_CHARACTER || !core::is_unicode_white_space(c)) return 0;
  return next - index;
}

// Length of the character at text[index] (an invalid sequence counts as the
// bytes the lossy decoder consumed), so that a scan never splits a
// multi-byte character.
inline std::size_t character_length(std::string_view text, std::size_t index) noexcept {
  if (static_cast<unsigned char>(text[index]) < 0x80) return 1;
  std::size_t next = index;
  core::decode_utf8_lossy(text, next);
  return next - index;
}

// Splits text into non-empty pieces separated by runs of white space, and,
// when `comma_separates` is set, also by commas.
class FieldCursor {
 public:
  FieldCursor(std::string_view text, bool comma_separates) noexcept
      : text_(text), comma_separates_(comma_separates) {}

  bool next(std::string_view& field) noexcept {
    std::size_t begin = index_;
    while (begin < text_.size()) {
      const std::size_t skip = separator_length(begin);
      if (skip == 0) break;
      begin += skip;
    }
    if (begin >= text_.size()) {
      index_ = begin;
      return false;
    }
    std::size_t end = begin;
    while (end < text_.size() && separator_length(end) == 0) end += character_length(text_, end);
    field = text_.substr(begin, end - begin);
    index_ = end;
    return true;
  }

 private:
  std::size_t separator_length(std::size_t index) const noexcept {
    if (comma_separates_ && text_[index] == ',') return 1;
    return white_space_length(text_, index);
  }

  std::string_view text_;
  bool comma_separates_;
  std::size_t index_ = 0;
};

}  // namespace tarvex::time
