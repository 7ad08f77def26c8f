#include "time/text_kernel.hpp"

#include <erfa.h>
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <vector>

using namespace tarvex::time;

namespace {

std::vector<std::string> tokens_of(std::string_view text) {
  std::vector<std::string> out;
  for (std::string_view token : value_tokens(text)) out.emplace_back(token);
  return out;
}

std::string value_of(const AssignmentMap& map, std::string_view keyword) {
  const auto value = raw_value(map, keyword);
  return value ? std::string(*value) : std::string("<missing>");
}

}  // namespace

TEST(DataSections, CollectsRawLinesOfEverySection) {
  const auto data = extract_data_sections(
      "prose\n\\begindata\n  A = 1  \r\n\\begintext\nmore prose\nB = 9\n \t\\begindata \t\nC = 3");
  ASSERT_TRUE(data);
  // Lines are kept untrimmed; the CR of a CRLF goes with the line end.
  EXPECT_EQ(*data, "  A = 1  \nC = 3\n");
}

TEST(DataSections, MarkersMustStandAloneAndMatchCase) {
  for (const char* text : {"\\begindata\n \n\t\n\\begintext\nA = 1\n", "x \\begindata\nA = 1\n",
                           "\\BEGINDATA\nA = 1\n", "", "no markers at all"}) {
    const auto data = extract_data_sections(text);
    ASSERT_FALSE(data) << text;
    EXPECT_EQ(data.error().message(), "leap-second kernel has no \\begindata section");
  }
  // Unicode white space (U+00A0, U+3000) around a marker is still white space.
  EXPECT_TRUE(extract_data_sections("\xC2\xA0\\begindata\xE3\x80\x80\nA = 1\n"));
  // A second \begindata inside a section changes nothing.
  EXPECT_EQ(*extract_data_sections("\\begindata\nA = 1\n\\begindata\nB = 2\n"), "A = 1\nB = 2\n");
}

TEST(Assignments, ContinuationLinesAndLastWins) {
  const AssignmentMap map = parse_assignments(
      "  orphan continuation\nK = first\nLIST = ( 1,\n   2,\n   3 )\nK = second\nX_1/Y = a = b\n");
  EXPECT_EQ(value_of(map, "LIST"), "( 1, 2, 3 )");
  EXPECT_EQ(value_of(map, "K"), "second");
  EXPECT_EQ(value_of(map, "X_1/Y"), "a = b");
  EXPECT_EQ(map.size(), 3u);
}

TEST(Assignments, PlusEqualsIsSwallowedIntoThePreviousValue) {
  const AssignmentMap map = parse_assignments("Y = ( 2 )\nX += ( 1 )\n");
  EXPECT_FALSE(raw_value(map, "X"));
  EXPECT_EQ(value_of(map, "Y"), "( 2 ) X += ( 1 )");
  EXPECT_EQ(tokens_of(value_of(map, "Y")),
            (std::vector<std::string>{"2", ")", "X", "+=", "(", "1"}));
  const auto y = scalar(map, "Y");
  ASSERT_FALSE(y);
  EXPECT_EQ(y.error().message(), "invalid value for Y: expected a single scalar value");
}

TEST(Assignments, EqualsInsideAContinuationStaysAContinuation) {
  const AssignmentMap map =
      parse_assignments("A = ( 1\n2 = 3\n@x = y\n(z = w\n'q' = r )\n9A = 1\n");
  EXPECT_EQ(value_of(map, "A"), "( 1 2 = 3 @x = y (z = w 'q' = r ) 9A = 1");
  EXPECT_EQ(map.size(), 1u);
  // Keywords are case-sensitive and must start with a letter.
  EXPECT_FALSE(raw_value(map, "a"));
}

TEST(ValueTokens, StripsOuterParenthesesAndSplits) {
  for (const char* text : {"( 32.184 )", "(32.184)", "32.184", "  32.184\t", "((32.184))"}) {
    EXPECT_EQ(tokens_of(text), std::vector<std::string>{"32.184"}) << text;
  }
  EXPECT_EQ(tokens_of("((1))"), std::vector<std::string>{"1"});
  EXPECT_EQ(tokens_of("( 10,   @1972-JAN-1 11,@1972-JUL-1 )"),
            (std::vector<std::string>{"10", "@1972-JAN-1", "11", "@1972-JUL-1"}));
  // U+2003 EM SPACE separates like a blank; inner parentheses stay.
  EXPECT_EQ(tokens_of("a\xE2\x80\x83(b) , ,c"), (std::vector<std::string>{"a", "(b)", "c"}));
  EXPECT_TRUE(value_tokens("( )").empty());
  EXPECT_TRUE(value_tokens("").empty());
}

TEST(Lookups, MissingKeywordAndInvalidValueMessages) {
  const AssignmentMap map = parse_assignments("ONE = 1\nTWO = 1 2\nWORD = abc\nNONE = ( )\n");
  EXPECT_EQ(*scalar(map, "ONE"), 1.0);
  EXPECT_EQ(scalar(map, "ABSENT").error().message(),
            "leap-second kernel is missing required keyword ABSENT");
  EXPECT_EQ(raw_value(map, "ABSENT").error(), LskError::missing_keyword("ABSENT"));
  EXPECT_EQ(scalar(map, "TWO").error().message(),
            "invalid value for TWO: expected a single scalar value");
  EXPECT_EQ(scalar(map, "NONE").error().message(),
            "invalid value for NONE: expected a single scalar value");
  EXPECT_EQ(scalar(map, "WORD").error().message(),
            "invalid value for WORD: value is not a valid number");
}

TEST(Numbers, FortranExponentsAndGrammar) {
  EXPECT_EQ(parse_number("1.657D-3"), 0.001657);
  EXPECT_EQ(parse_number("1.657d-3"), 0.001657);
  EXPECT_EQ(parse_number("6.239996D0"), 6.239996);
  EXPECT_EQ(parse_number("+5."), 5.0);
  EXPECT_EQ(parse_number(".5"), 0.5);
  EXPECT_EQ(parse_number("-2e+2"), -200.0);
  EXPECT_EQ(parse_number("32.184"), 32.184);
  EXPECT_EQ(parse_number("1E400"), std::numeric_limits<double>::infinity());
  EXPECT_EQ(parse_number("-1e99999999999999999999"), -std::numeric_limits<double>::infinity());
  EXPECT_EQ(parse_number("0.00001e400"), std::numeric_limits<double>::infinity());
  EXPECT_EQ(parse_number("1e-400"), 0.0);
  EXPECT_TRUE(std::signbit(*parse_number("-1e-400")));
  EXPECT_EQ(parse_number("100000e-330"), 0.0);  // below half the smallest subnormal
  EXPECT_EQ(parse_number("4.9e-324"), std::numeric_limits<double>::denorm_min());
  EXPECT_EQ(parse_number("0e999999"), 0.0);
  EXPECT_EQ(parse_number("Infinity"), std::numeric_limits<double>::infinity());
  EXPECT_EQ(parse_number("-INF"), -std::numeric_limits<double>::infinity());
  EXPECT_TRUE(std::isnan(*parse_number("+NaN")));
  for (const char* bad : {"",
                          "+",
                          "-",
                          ".",
                          "e5",
                          "1e",
                          "1e+",
                          "1.2.3",
                          " 1",
                          "1 ",
                          "0x10",
                          "1_000",
                          "nan(1)",
                          "infinit",
                          "1,5",
                          "--1",
                          "+-1",
                          "1D",
                          "D5",
                          "\xC2\xA0"
                          "1"}) {
    EXPECT_FALSE(parse_number(bad)) << bad;
  }
}

TEST(Numbers, CorrectlyRounded) {
  // Halfway and near-halfway cases that naive digit accumulation gets wrong.
  EXPECT_EQ(parse_number("9007199254740993"), 9007199254740992.0);
  EXPECT_EQ(parse_number("9007199254740993.0000000000000000001"), 9007199254740994.0);
  EXPECT_EQ(parse_number("2.2250738585072011e-308"), 2.2250738585072011e-308);
  EXPECT_EQ(parse_number("0.1"), 0.1);
  EXPECT_EQ(parse_number("1.99096871D-7"), 1.99096871e-7);
  const std::string long_digits = "0." + std::string(2000, '3');
  EXPECT_EQ(parse_number(long_digits), 1.0 / 3.0);
  EXPECT_EQ(parse_number("9007199254740993e-22"), 9007199254740993e-22);
  EXPECT_EQ(parse_number("123456789012345678e-5"), 123456789012345678e-5);
}

TEST(Numbers, AgreeWithStrtodOnRandomLiterals) {
  // Short literals go through an exact fast path and long ones through
  // from_chars; glibc's strtod is correctly rounded, so all must agree.
  std::mt19937_64 random(3);
  std::uniform_int_distribution<int> digit(0, 9);
  std::uniform_int_distribution<int> length(1, 24);
  std::uniform_int_distribution<int> exponent(-340, 320);
  for (int i = 0; i < 20000; ++i) {
    std::string literal = (i % 3 == 0) ? "-" : "";
    const int integer_digits = length(random) - 1;
    for (int k = 0; k < integer_digits; ++k) literal += static_cast<char>('0' + digit(random));
    literal += '.';
    for (int k = length(random); k > 0; --k) literal += static_cast<char>('0' + digit(random));
    if (i % 2 == 0) {
      literal += 'e';
      literal += std::to_string(i % 4 == 0 ? exponent(random) : exponent(random) / 20);
    }
    const double expected = std::strtod(literal.c_str(), nullptr);
    const auto parsed = parse_number(literal);
    ASSERT_TRUE(parsed) << literal;
    ASSERT_EQ(std::bit_cast<std::uint64_t>(*parsed), std::bit_cast<std::uint64_t>(expected))
        << literal;
  }
}

TEST(DateLiterals, AcceptedForms) {
  EXPECT_EQ(parse_date_literal("@1972-JAN-1"), 2441317.5);
  EXPECT_EQ(parse_date_literal("@2000-JAN-1"), 2451544.5);
  EXPECT_EQ(parse_date_literal("@1972-jan-1"), 2441317.5);
  EXPECT_EQ(parse_date_literal("@+1972-Jan-+01"), 2441317.5);
  EXPECT_EQ(parse_date_literal("@2017-FEB-30"), parse_date_literal("@2017-MAR-2"));
  EXPECT_EQ(parse_date_literal("@2016-FEB-30"), parse_date_literal("@2016-MAR-1"));
  EXPECT_EQ(parse_date_literal("@2017-JAN-1"), 2457754.5);
}

TEST(DateLiterals, RejectedFormsQuoteTheToken) {
  for (const char* bad :
       {"@1972-01-01", "@1972-JAN-0", "@1972-JAN", "@1972-JAN-1-5", "1972-JAN-1", "@-1972-JAN-1",
        "", "@", "@+-JAN-1", "@2147483648-JAN-1", "@1972-JAN-4294967296", "@1972-JANUARY-1",
        "@1972-JAN-1.5", "@ 1972-JAN-1"}) {
    const auto result = parse_date_literal(bad);
    ASSERT_FALSE(result) << bad;
    EXPECT_EQ(result.error(), LskError::invalid_date_literal(bad));
  }
  EXPECT_EQ(parse_date_literal("@1972-XYZ-1").error().message(),
            "invalid NAIF date literal \"@1972-XYZ-1\"");
  EXPECT_EQ(parse_date_literal("@\"x\\-\t-1").error().message(),
            "invalid NAIF date literal \"@\\\"x\\\\-\\t-1\"");
  // The extremes of the fields still parse.
  EXPECT_TRUE(parse_date_literal("@2147483647-DEC-4294967295"));
}

TEST(JulianDayNumber, AgreesWithErfaAndUsesFloorDivision) {
  EXPECT_EQ(julian_day_number(2000, 1, 1), 2451545.0);
  EXPECT_EQ(julian_day_number(-4713, 11, 24), 0.0);  // origin of the Julian day count
  EXPECT_EQ(julian_day_number(-4713, 11, 23), -1.0);
  // ERFA's calendar conversion covers years from -4799 on.
  for (int year = -4799; year <= 3000; year += 7) {
    for (unsigned month = 1; month <= 12; ++month) {
      double mjd0 = 0.0, mjd = 0.0;
      ASSERT_EQ(eraCal2jd(year, static_cast<int>(month), 17, &mjd0, &mjd), 0);
      EXPECT_EQ(julian_day_number(year, month, 17), mjd0 + mjd + 0.5) << year << "-" << month;
    }
  }
  // Before -4800 the intermediate year count is negative, where a truncating
  // division would break the leap-year rhythm.
  const auto is_leap = [](int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; };
  for (int year = -6001; year <= -4700; ++year) {
    const double length = julian_day_number(year, 3, 1) - julian_day_number(year - 1, 3, 1);
    EXPECT_EQ(length, is_leap(year) ? 366.0 : 365.0) << year;
  }
  // Day overflow rolls into the next month without a range check.
  EXPECT_EQ(julian_day_number(2017, 2, 30), julian_day_number(2017, 3, 2));
  EXPECT_EQ(julian_day_number(2017, 12, 4294967295u) - julian_day_number(2017, 12, 1),
            4294967294.0);
}
