// The subset of the NAIF text-kernel syntax that leap-second kernels use:
// \begindata / \begintext sections, "KEYWORD = value" assignments with
// continuation lines, parenthesised value lists, numbers with Fortran 'D'
// exponents and "@YYYY-MON-DD" date literals. Deliberately nothing more:
// no "+=", no quoted strings, no time of day in dates.
#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "time/lsk_error.hpp"

namespace tarvex::time {

// Lets the assignment map be searched with a string_view without building a
// std::string key.
struct KeywordHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const noexcept {
    return std::hash<std::string_view>{}(text);
  }
};

// Keyword -> trimmed value text (continuation lines joined by single spaces).
using AssignmentMap = std::unordered_map<std::string, std::string, KeywordHash, std::equal_to<>>;

// Raw lines of every data section, each followed by one line feed.
std::expected<std::string, LskError> extract_data_sections(std::string_view kernel_text);

// Collects "KEYWORD = value" assignments; the last assignment of a keyword
// wins. Never fails: lines that fit nowhere are ignored.
AssignmentMap parse_assignments(std::string_view data_text);

// Tokens of a value: outer parentheses stripped, split at white space and
// commas. Views into `value_text`.
std::vector<std::string_view> value_tokens(std::string_view value_text);

std::expected<std::string_view, LskError> raw_value(const AssignmentMap& assignments,
                                                    std::string_view keyword);

// A keyword whose value is exactly one number.
std::expected<double, LskError> scalar(const AssignmentMap& assignments, std::string_view keyword);

// A decimal literal, with 'D'/'d' read as the exponent letter (1.657D-3).
std::optional<double> parse_number(std::string_view token);

// "@1972-JAN-1" -> Julian date of 0 h on that proleptic Gregorian date.
std::expected<double, LskError> parse_date_literal(std::string_view token);

// Julian day number of a proleptic Gregorian date, exact in integers. Days
// past the end of the month roll over (FEB-30 is MAR-2 or MAR-1).
double julian_day_number(std::int32_t year, std::uint32_t month, std::uint32_t day) noexcept;

}  // namespace tarvex::time
