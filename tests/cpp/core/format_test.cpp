#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "core/format.hpp"

using namespace tarvex::core;

TEST(PlainFloat, ShortestPositionalDigits) {
  EXPECT_EQ(plain_float(2451545.0), "2451545");
  EXPECT_EQ(plain_float(2451545.25), "2451545.25");
  EXPECT_EQ(plain_float(0.25), "0.25");
  EXPECT_EQ(plain_float(1e21), "1000000000000000000000");
  EXPECT_EQ(plain_float(1e-7), "0.0000001");
  EXPECT_EQ(plain_float(0.1 + 0.2), "0.30000000000000004");
  EXPECT_EQ(plain_float(-0.0), "-0");
  EXPECT_EQ(plain_float(0.0), "0");
  EXPECT_EQ(plain_float(-2.5), "-2.5");
  EXPECT_EQ(plain_float(1e16), "10000000000000000");
  const std::string tiny = plain_float(5e-324);
  EXPECT_EQ(tiny, "0." + std::string(323, '0') + "5");
  const std::string huge = plain_float(1.7976931348623157e308);
  EXPECT_EQ(huge, "17976931348623157" + std::string(292, '0'));
}

TEST(PlainFloat, NonFinite) {
  EXPECT_EQ(plain_float(std::numeric_limits<double>::quiet_NaN()), "NaN");
  EXPECT_EQ(plain_float(std::numeric_limits<double>::infinity()), "inf");
  EXPECT_EQ(plain_float(-std::numeric_limits<double>::infinity()), "-inf");
}

TEST(DebugFloat, KeepsPointZeroAndSwitchesToExponent) {
  EXPECT_EQ(debug_float(2451545.0), "2451545.0");
  EXPECT_EQ(debug_float(2451545.5), "2451545.5");
  EXPECT_EQ(debug_float(1e16), "1e16");
  EXPECT_EQ(debug_float(1.5e16), "1.5e16");
  EXPECT_EQ(debug_float(9999999999999998.0), "9999999999999998.0");
  EXPECT_EQ(debug_float(0.000015), "1.5e-5");
  EXPECT_EQ(debug_float(0.0001), "0.0001");
  EXPECT_EQ(debug_float(0.1 + 0.2), "0.30000000000000004");
  EXPECT_EQ(debug_float(5e-324), "5e-324");
  EXPECT_EQ(debug_float(1.7976931348623157e308), "1.7976931348623157e308");
  EXPECT_EQ(debug_float(-0.0), "-0.0");
  EXPECT_EQ(debug_float(0.0), "0.0");
  EXPECT_EQ(debug_float(std::numeric_limits<double>::quiet_NaN()), "NaN");
  EXPECT_EQ(debug_float(-std::numeric_limits<double>::infinity()), "-inf");
  EXPECT_EQ(optional_debug_float(2451545.25), "Some(2451545.25)");
  EXPECT_EQ(optional_debug_float(2451545.0), "Some(2451545.0)");
  EXPECT_EQ(optional_debug_float(std::nullopt), "None");
}

TEST(PlainFloat, RoundTripsRandomValues) {
  std::uint64_t state = 0x9E3779B97F4A7C15ull;
  for (int i = 0; i < 20000; ++i) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    double value;
    std::memcpy(&value, &state, sizeof value);
    if (!std::isfinite(value)) continue;
    EXPECT_EQ(std::strtod(plain_float(value).c_str(), nullptr), value);
    EXPECT_EQ(std::strtod(debug_float(value).c_str(), nullptr), value);
  }
}

TEST(QuotedText, EscapesLikeADebugString) {
  EXPECT_EQ(quoted_text("moon"), "\"moon\"");
  EXPECT_EQ(quoted_text("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(quoted_text("\t\r\n"), "\"\\t\\r\\n\"");
  EXPECT_EQ(quoted_text(std::string_view("x\0y", 3)), "\"x\\0y\"");
  EXPECT_EQ(quoted_text("\x1b\x7f"), "\"\\u{1b}\\u{7f}\"");
  EXPECT_EQ(quoted_text("Fagan\xE2\x80\x93" "Bradley \xC3\xA9"), "\"Fagan\xE2\x80\x93" "Bradley \xC3\xA9\"");
  EXPECT_EQ(quoted_text("DAF/SPK "), "\"DAF/SPK \"");
  // Invalid UTF-8 shows as the replacement character.
  EXPECT_EQ(quoted_text("a\xFF" "b"), "\"a\xEF\xBF\xBD" "b\"");
  EXPECT_EQ(boolean_text(false), "false");
  EXPECT_EQ(boolean_text(true), "true");
}
