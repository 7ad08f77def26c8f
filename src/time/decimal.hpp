// The decimal floating-point literal grammar shared by leap-second kernels
// and EOP tables: [+-] digits [. digits] [(e|E) [+-] digits], at least one
// mantissa digit, or the case-insensitive words inf, infinity and nan with an
// optional sign. Nothing else: no surrounding white space, no hexadecimal,
// no digit separators, no "nan(...)" payloads.
#pragma once

#include <optional>
#include <string_view>

namespace tarvex::time {

// The literal correctly rounded to the nearest double; magnitudes beyond the
// double range give an infinity and tiny ones a (signed) zero, as rounding
// demands. None when the text does not match the grammar.
std::optional<double> parse_decimal_literal(std::string_view text) noexcept;

}  // namespace tarvex::time
