#include "core/format.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <system_error>

#include "core/text.hpp"

namespace tarvex::core {

namespace {

// Shortest round-trip decimal digits of a finite, non-zero magnitude, as a
// digit string d1 d2 ... dn with the value d1.d2...dn x 10^exponent.
struct Decimal {
  char digits[32];
  int length = 0;
  int exponent = 0;
};

Decimal shortest_decimal(double magnitude) {
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::scientific);
  Decimal decimal;
  const char* p = buffer;
  for (; p < result.ptr && *p != 'e'; ++p) {
    if (*p != '.') decimal.digits[decimal.length++] = *p;
  }
  // p points at 'e'; the exponent follows with its sign.
  int exponent = 0;
  std::from_chars(p + 1 + (p[1] == '+' ? 1 : 0), result.ptr, exponent);
  decimal.exponent = exponent;
  // Scientific output never has trailing zeros in the mantissa beyond the
  // first digit, but be safe.
  while (decimal.length > 1 && decimal.digits[decimal.length - 1] == '0') --decimal.length;
  return decimal;
}

// Positional layout of the digits; integral values get ".0" when asked.
void append_positional(std::string& out, const Decimal& d, bool keep_point_zero) {
  const int point = d.exponent + 1;  // digits before the decimal point
  if (point <= 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-point), '0');
    out.append(d.digits, static_cast<std::size_t>(d.length));
  } else if (point >= d.length) {
    out.append(d.digits, static_cast<std::size_t>(d.length));
    out.append(static_cast<std::size_t>(point - d.length), '0');
    if (keep_point_zero) out += ".0";
  } else {
    out.append(d.digits, static_cast<std::size_t>(point));
    out += '.';
    out.append(d.digits + point, static_cast<std::size_t>(d.length - point));
  }
}

bool append_special(std::string& out, double value) {
  if (std::isnan(value)) {
    out += "NaN";
    return true;
  }
  if (std::isinf(value)) {
    out += value < 0 ? "-inf" : "inf";
    return true;
  }
  return false;
}

void append_hex(std::string& out, char32_t code_point) {
  char buffer[16];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, static_cast<unsigned long>(code_point), 16);
  out.append(buffer, result.ptr);
}

// Characters shown as \u{..}: controls and the invisible format characters
// that would make a message ambiguous.
bool needs_unicode_escape(char32_t c) {
  if (c < 0x20 || (c >= 0x7f && c <= 0x9f)) return true;
  if (c == 0xad || c == 0x34f || c == 0x61c || c == 0x180e) return true;
  if ((c >= 0x200b && c <= 0x200f) || (c >= 0x2028 && c <= 0x202e) || (c >= 0x2060 && c <= 0x206f)) return true;
  if (c == 0xfeff || (c >= 0xfff0 && c <= 0xfffb)) return true;
  if (c >= 0xe0000 && c <= 0xe0fff) return true;
  return false;
}

}  // namespace

void append_plain_float(std::string& out, double value) {
  if (append_special(out, value)) return;
  if (std::signbit(value)) out += '-';
  const double magnitude = std::fabs(value);
  if (magnitude == 0.0) {
    out += '0';
    return;
  }
  append_positional(out, shortest_decimal(magnitude), false);
}

void append_debug_float(std::string& out, double value) {
  if (append_special(out, value)) return;
  if (std::signbit(value)) out += '-';
  const double magnitude = std::fabs(value);
  if (magnitude == 0.0) {
    out += "0.0";
    return;
  }
  const Decimal d = shortest_decimal(magnitude);
  if (magnitude >= 1e16 || magnitude < 1e-4) {
    out += d.digits[0];
    if (d.length > 1) {
      out += '.';
      out.append(d.digits + 1, static_cast<std::size_t>(d.length - 1));
    }
    out += 'e';
    char buffer[16];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, d.exponent);
    out.append(buffer, result.ptr);
    return;
  }
  append_positional(out, d, true);
}

void append_quoted_text(std::string& out, std::string_view text) {
  out += '"';
  std::size_t index = 0;
  while (index < text.size()) {
    const std::size_t begin = index;
    const char32_t c = decode_utf8_lossy(text, index);
    switch (c) {
      case U'"': out += "\\\""; continue;
      case U'\\': out += "\\\\"; continue;
      case U'\t': out += "\\t"; continue;
      case U'\r': out += "\\r"; continue;
      case U'\n': out += "\\n"; continue;
      case U'\0': out += "\\0"; continue;
      default: break;
    }
    if (needs_unicode_escape(c)) {
      out += "\\u{";
      append_hex(out, c);
      out += '}';
    } else if (c == REPLACEMENT_CHARACTER && !(index - begin == 3 && text.substr(begin, 3) == "\xEF\xBF\xBD")) {
      append_utf8(out, REPLACEMENT_CHARACTER);
    } else {
      out.append(text.substr(begin, index - begin));
    }
  }
  out += '"';
}

std::string plain_float(double value) {
  std::string out;
  append_plain_float(out, value);
  return out;
}

std::string debug_float(double value) {
  std::string out;
  append_debug_float(out, value);
  return out;
}

std::string optional_debug_float(std::optional<double> value) {
  if (!value) return "None";
  std::string out = "Some(";
  append_debug_float(out, *value);
  out += ')';
  return out;
}

std::string quoted_text(std::string_view text) {
  std::string out;
  append_quoted_text(out, text);
  return out;
}

std::string_view boolean_text(bool value) noexcept { return value ? "true" : "false"; }

}  // namespace tarvex::core
