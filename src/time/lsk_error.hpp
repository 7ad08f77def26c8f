// The loading error of leap-second kernels, shared by the text-kernel parser
// and the kernel loader. Each variant renders one fixed English message.
#pragma once

#include <cstdint>
#include <string>

#include "core/files.hpp"

namespace tarvex::time {

struct LskError {
  // Order is part of the interface.
  enum class Kind : std::uint8_t {
    Io,
    InvalidPath,
    InvalidSha256,
    MissingDataSection,
    MissingKeyword,
    InvalidValue,
    InvalidDateLiteral,
    UnsortedLeapSeconds,
    NonFiniteValue,
  };

  Kind kind = Kind::MissingDataSection;
  core::IoError io{};   // Io
  std::string keyword;  // MissingKeyword, InvalidValue, NonFiniteValue
  std::string reason;   // InvalidValue
  std::string literal;  // InvalidDateLiteral: the whole token, '@' included

  static LskError io_failure(core::IoError error) { return {Kind::Io, error, {}, {}, {}}; }
  static LskError invalid_path() { return {Kind::InvalidPath, {}, {}, {}, {}}; }
  static LskError invalid_sha256() { return {Kind::InvalidSha256, {}, {}, {}, {}}; }
  static LskError missing_data_section() { return {Kind::MissingDataSection, {}, {}, {}, {}}; }
  static LskError missing_keyword(std::string keyword) {
    return {Kind::MissingKeyword, {}, std::move(keyword), {}, {}};
  }
  static LskError invalid_value(std::string keyword, std::string reason) {
    return {Kind::InvalidValue, {}, std::move(keyword), std::move(reason), {}};
  }
  static LskError invalid_date_literal(std::string literal) {
    return {Kind::InvalidDateLiteral, {}, {}, {}, std::move(literal)};
  }
  static LskError unsorted_leap_seconds() { return {Kind::UnsortedLeapSeconds, {}, {}, {}, {}}; }
  static LskError non_finite_value(std::string keyword) {
    return {Kind::NonFiniteValue, {}, std::move(keyword), {}, {}};
  }

  std::string message() const;
  bool operator==(const LskError&) const = default;
};

}  // namespace tarvex::time
