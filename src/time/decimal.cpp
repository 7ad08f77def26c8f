#include "time/decimal.hpp"

#include <charconv>
#include <cstdint>
#include <limits>
#include <system_error>

namespace tarvex::time {

namespace {

bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

char ascii_lower(char c) noexcept { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equals_ignoring_ascii_case(std::string_view text, std::string_view lower_word) noexcept {
  if (text.size() != lower_word.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (ascii_lower(text[i]) != lower_word[i]) return false;
  }
  return true;
}

}  // namespace

std::optional<double> parse_decimal_literal(std::string_view text) noexcept {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  const std::string_view body = text.substr(i);
  if (equals_ignoring_ascii_case(body, "inf") || equals_ignoring_ascii_case(body, "infinity")) {
    return negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
  }
  if (equals_ignoring_ascii_case(body, "nan")) {
    return negative ? -std::numeric_limits<double>::quiet_NaN() : std::numeric_limits<double>::quiet_NaN();
  }

  // Validate the grammar ourselves: from_chars accepts forms we must refuse
  // (nan payloads, a missing exponent after 'e' is silently left unread) and
  // refuses one we must accept (a leading '+').
  const std::size_t mantissa_begin = i;
  std::size_t integer_digits = 0;  // integer digits from the first non-zero one on
  std::size_t digits = 0;
  // Decimal exponent of the first non-zero digit relative to the units
  // place, used only to tell overflow from underflow.
  std::int64_t leading_position = 0;
  bool seen_nonzero = false;
  while (i < text.size() && is_digit(text[i])) {
    if (!seen_nonzero && text[i] != '0') seen_nonzero = true;
    if (seen_nonzero) ++integer_digits;
    ++digits;
    ++i;
  }
  if (seen_nonzero) leading_position = static_cast<std::int64_t>(integer_digits) - 1;
  if (i < text.size() && text[i] == '.') {
    ++i;
    std::int64_t position = -1;
    while (i < text.size() && is_digit(text[i])) {
      if (!seen_nonzero && text[i] != '0') {
        seen_nonzero = true;
        leading_position = position;
      }
      --position;
      ++digits;
      ++i;
    }
  }
  if (digits == 0) return std::nullopt;
  std::int64_t exponent = 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool exponent_negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
      exponent_negative = text[i] == '-';
      ++i;
    }
    const std::size_t exponent_begin = i;
    // Saturate: anything past a billion is equally out of range.
    constexpr std::int64_t EXPONENT_CAP = 1'000'000'000;
    while (i < text.size() && is_digit(text[i])) {
      if (exponent < EXPONENT_CAP) exponent = exponent * 10 + (text[i] - '0');
      ++i;
    }
    if (i == exponent_begin) return std::nullopt;
    if (exponent_negative) exponent = -exponent;
  }
  if (i != text.size()) return std::nullopt;

  double value = 0.0;
  const char* first = text.data() + mantissa_begin;
  const char* last = text.data() + text.size();
  const auto result = std::from_chars(first, last, value, std::chars_format::general);
  if (result.ec == std::errc::result_out_of_range) {
    // from_chars leaves the value untouched on range errors; rounding would
    // give infinity for huge literals and zero for tiny ones.
    value = leading_position + exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
  } else if (result.ec != std::errc{} || result.ptr != last) {
    return std::nullopt;
  }
  return negative ? -value : value;
}

}  // namespace tarvex::time
