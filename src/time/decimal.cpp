#include "time/decimal.hpp"

#include <charconv>
#include <cstdint>
#include <limits>
#include <system_error>

namespace tarvex::time {

namespace {

// 2^53: every integer up to here is an exact double.
constexpr std::uint64_t MANTISSA_LIMIT = 9007199254740992ULL;

constexpr double POWERS_OF_TEN[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                    1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                    1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

char ascii_lower(char c) noexcept {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

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
    return negative ? -std::numeric_limits<double>::infinity()
                    : std::numeric_limits<double>::infinity();
  }
  if (equals_ignoring_ascii_case(body, "nan")) {
    return negative ? -std::numeric_limits<double>::quiet_NaN()
                    : std::numeric_limits<double>::quiet_NaN();
  }

  // Validate the grammar ourselves: from_chars accepts forms we must refuse
  // (nan payloads, a missing exponent after 'e' is silently left unread) and
  // refuses one we must accept (a leading '+'). On the way, collect what the
  // exact fast path below needs.
  const std::size_t mantissa_begin = i;
  std::size_t integer_digits = 0;  // integer digits from the first non-zero one on
  std::size_t digits = 0;
  std::size_t fraction_digits = 0;
  std::uint64_t mantissa = 0;  // all mantissa digits, while they fit
  bool mantissa_exact = true;
  // Decimal exponent of the first non-zero digit relative to the units
  // place, used only to tell overflow from underflow.
  std::int64_t leading_position = 0;
  bool seen_nonzero = false;
  const auto take_digit = [&](char c) {
    if (mantissa < MANTISSA_LIMIT) {
      mantissa = mantissa * 10 + static_cast<std::uint64_t>(c - '0');
    } else {
      mantissa_exact = false;
    }
    ++digits;
  };
  while (i < text.size() && is_digit(text[i])) {
    if (!seen_nonzero && text[i] != '0') seen_nonzero = true;
    if (seen_nonzero) ++integer_digits;
    take_digit(text[i]);
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
      take_digit(text[i]);
      ++fraction_digits;
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

  // Exact fast path (Clinger): an integer mantissa below 2^53 and a power of
  // ten up to 1e22 are both exact doubles, so one IEEE multiplication or
  // division rounds the true value correctly. Table rows always take it.
  if (mantissa_exact && mantissa <= MANTISSA_LIMIT) {
    const std::int64_t scale = exponent - static_cast<std::int64_t>(fraction_digits);
    if (scale >= -22 && scale <= 22) {
      const double m = static_cast<double>(mantissa);
      const double value = scale < 0 ? m / POWERS_OF_TEN[-scale] : m * POWERS_OF_TEN[scale];
      return negative ? -value : value;
    }
  }

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
