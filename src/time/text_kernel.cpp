#include "time/text_kernel.hpp"

#include <array>
#include <charconv>
#include <limits>

#include "core/text.hpp"
#include "time/decimal.hpp"
#include "time/text_scan.hpp"

namespace tarvex::time {

namespace {

constexpr std::string_view BEGIN_DATA = "\\begindata";
constexpr std::string_view BEGIN_TEXT = "\\begintext";

bool is_ascii_letter(char c) noexcept { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool is_ascii_digit(char c) noexcept { return c >= '0' && c <= '9'; }

bool is_keyword_name(std::string_view text) noexcept {
  if (text.empty() || !is_ascii_letter(text.front())) return false;
  for (const char c : text) {
    if (!is_ascii_letter(c) && !is_ascii_digit(c) && c != '/' && c != '_') return false;
  }
  return true;
}

// Digits with an optional leading '+', as the integer fields of a date
// literal allow. Overflow of T is a failure.
template <typename T>
std::optional<T> parse_unsigned_field(std::string_view text) noexcept {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  for (const char c : text) {
    if (!is_ascii_digit(c)) return std::nullopt;
  }
  T value{};
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  if (result.ec != std::errc{} || result.ptr != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<std::uint32_t> month_number(std::string_view text) noexcept {
  static constexpr std::array<std::string_view, 12> NAMES = {
      "JAN", "FEB", "MAR", "APR", "MAY", "JUN", "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
  if (text.size() != 3) return std::nullopt;
  char upper[3];
  for (std::size_t i = 0; i < 3; ++i) {
    const char c = text[i];
    upper[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }
  const std::string_view name(upper, 3);
  for (std::size_t i = 0; i < NAMES.size(); ++i) {
    if (NAMES[i] == name) return static_cast<std::uint32_t>(i + 1);
  }
  return std::nullopt;
}

// Division rounded toward minus infinity, for a positive divisor.
constexpr std::int64_t floor_div(std::int64_t numerator, std::int64_t divisor) noexcept {
  const std::int64_t quotient = numerator / divisor;
  return (numerator % divisor < 0) ? quotient - 1 : quotient;
}

}  // namespace

std::expected<std::string, LskError> extract_data_sections(std::string_view kernel_text) {
  std::string data;
  bool inside = false;
  LineCursor lines(kernel_text);
  std::string_view line;
  while (lines.next(line)) {
    const std::string_view trimmed = core::trim_unicode_white_space(line);
    if (trimmed == BEGIN_DATA) {
      inside = true;
    } else if (trimmed == BEGIN_TEXT) {
      inside = false;
    } else if (inside) {
      data.append(line);
      data += '\n';
    }
  }
  if (core::trim_unicode_white_space(data).empty())
    return std::unexpected(LskError::missing_data_section());
  return data;
}

AssignmentMap parse_assignments(std::string_view data_text) {
  AssignmentMap assignments;
  bool pending = false;
  std::string keyword;
  std::string value;
  const auto store = [&] {
    const std::string_view trimmed = core::trim_unicode_white_space(value);
    assignments.insert_or_assign(keyword, std::string(trimmed));
  };

  LineCursor lines(data_text);
  std::string_view line;
  while (lines.next(line)) {
    const std::string_view trimmed = core::trim_unicode_white_space(line);
    if (trimmed.empty()) continue;
    const std::size_t equals = trimmed.find('=');
    if (equals != std::string_view::npos) {
      const std::string_view name = core::trim_unicode_white_space(trimmed.substr(0, equals));
      if (is_keyword_name(name)) {
        if (pending) store();
        pending = true;
        keyword.assign(name);
        value.assign(core::trim_unicode_white_space(trimmed.substr(equals + 1)));
        value += ' ';
        continue;
      }
    }
    // Not an assignment: a continuation of the pending value, if any. This
    // is also where "KEY += (...)" lands, since "KEY +" is not a name.
    if (pending) {
      value.append(trimmed);
      value += ' ';
    }
  }
  if (pending) store();
  return assignments;
}

std::vector<std::string_view> value_tokens(std::string_view value_text) {
  std::string_view text = core::trim_unicode_white_space(value_text);
  while (!text.empty() && text.front() == '(') text.remove_prefix(1);
  while (!text.empty() && text.back() == ')') text.remove_suffix(1);
  std::vector<std::string_view> tokens;
  FieldCursor fields(text, /*comma_separates=*/true);
  std::string_view token;
  while (fields.next(token)) tokens.push_back(token);
  return tokens;
}

std::expected<std::string_view, LskError> raw_value(const AssignmentMap& assignments,
                                                    std::string_view keyword) {
  const auto found = assignments.find(keyword);
  if (found == assignments.end())
    return std::unexpected(LskError::missing_keyword(std::string(keyword)));
  return std::string_view(found->second);
}

std::expected<double, LskError> scalar(const AssignmentMap& assignments, std::string_view keyword) {
  const auto text = raw_value(assignments, keyword);
  if (!text) return std::unexpected(text.error());
  const std::vector<std::string_view> tokens = value_tokens(*text);
  if (tokens.size() != 1) {
    return std::unexpected(
        LskError::invalid_value(std::string(keyword), "expected a single scalar value"));
  }
  const std::optional<double> number = parse_number(tokens.front());
  if (!number)
    return std::unexpected(
        LskError::invalid_value(std::string(keyword), "value is not a valid number"));
  return *number;
}

std::optional<double> parse_number(std::string_view token) {
  std::string text(token);
  for (char& c : text) {
    if (c == 'D' || c == 'd') c = 'E';
  }
  return parse_decimal_literal(text);
}

std::expected<double, LskError> parse_date_literal(std::string_view token) {
  const auto invalid = [&] {
    return std::unexpected(LskError::invalid_date_literal(std::string(token)));
  };
  if (token.empty() || token.front() != '@') return invalid();
  const std::string_view rest = token.substr(1);

  // Exactly three '-'-separated pieces.
  const std::size_t first_dash = rest.find('-');
  if (first_dash == std::string_view::npos) return invalid();
  const std::size_t second_dash = rest.find('-', first_dash + 1);
  if (second_dash == std::string_view::npos) return invalid();
  if (rest.find('-', second_dash + 1) != std::string_view::npos) return invalid();

  const auto year = parse_unsigned_field<std::int32_t>(rest.substr(0, first_dash));
  if (!year) return invalid();
  const auto month = month_number(rest.substr(first_dash + 1, second_dash - first_dash - 1));
  if (!month) return invalid();
  const auto day = parse_unsigned_field<std::uint32_t>(rest.substr(second_dash + 1));
  if (!day || *day == 0) return invalid();
  return julian_day_number(*year, *month, *day) - 0.5;
}

double julian_day_number(std::int32_t year, std::uint32_t month, std::uint32_t day) noexcept {
  const std::int64_t a = month < 3 ? 1 : 0;
  const std::int64_t y = std::int64_t{year} + 4800 - a;
  const std::int64_t m = std::int64_t{month} + 12 * a - 3;
  const std::int64_t jdn = std::int64_t{day} + floor_div(153 * m + 2, 5) + 365 * y +
                           floor_div(y, 4) - floor_div(y, 100) + floor_div(y, 400) - 32045;
  return static_cast<double>(jdn);
}

}  // namespace tarvex::time
