#include "time/eop.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>

#include "time_test_support.hpp"

using namespace tarvex::time;
using tarvex::time::test::ANY_SHA256;
using tarvex::time::test::data_path;
using tarvex::time::test::ScratchDir;

namespace {

const EarthOrientationTable& c04() {
  static const EarthOrientationTable table = [] {
    auto opened =
        EarthOrientationTable::open(data_path("eop_c04_1962_2022.txt"), test::EOP_C04_SHA256);
    if (!opened) {
      std::fprintf(stderr, "eop_c04_1962_2022.txt: %s\n", opened.error().message().c_str());
      std::abort();
    }
    return std::move(*opened);
  }();
  return table;
}

// A data row in the 20 C04 layout with the given MJD, pole and DUT1.
std::string row(double mjd, double x, double y, double dut1, std::string_view tail = " 0 0 0 0 0") {
  char buffer[160];
  std::snprintf(buffer, sizeof buffer, "2000 1 1 0 %.2f %.6f %.6f %.7f", mjd, x, y, dut1);
  return std::string(buffer) + std::string(tail) + "\n";
}

std::string open_error(std::string_view text, std::string_view sha = ANY_SHA256) {
  const ScratchDir dir;
  const auto opened = EarthOrientationTable::open(dir.write("eop.txt", text), sha);
  return opened ? std::string("<loaded>") : opened.error().message();
}

std::uint64_t bits(double value) { return std::bit_cast<std::uint64_t>(value); }

// The lookup rule written out plainly: a linear scan for the first bit-equal
// row, else the first row greater than jd as hi. Kept here to prove that the
// bisection in the library picks the same rows.
std::expected<EopSample, EopError> linear_reference(std::span<const EopSample> rows, double jd) {
  if (!std::isfinite(jd)) return std::unexpected(EopError::of_kind(EopError::Kind::NonFiniteValue));
  if (jd < rows.front().utc_jd || jd > rows.back().utc_jd) {
    return std::unexpected(EopError::outside_coverage(jd, rows.front().utc_jd, rows.back().utc_jd));
  }
  for (const EopSample& sample : rows) {
    if (bits(sample.utc_jd) == bits(jd)) return sample;
  }
  std::size_t hi = 0;
  while (!(rows[hi].utc_jd > jd)) ++hi;
  const EopSample& a = rows[hi - 1];
  const EopSample& b = rows[hi];
  const double f = (jd - a.utc_jd) / (b.utc_jd - a.utc_jd);
  return EopSample{jd, std::fma(a.dut1_s, 1.0 - f, b.dut1_s * f),
                   std::fma(a.xp_arcsec, 1.0 - f, b.xp_arcsec * f),
                   std::fma(a.yp_arcsec, 1.0 - f, b.yp_arcsec * f)};
}

void expect_same_as_linear(const EarthOrientationTable& table, double jd) {
  const auto fast = table.interpolated_sample(jd);
  const auto slow = linear_reference(table.samples(), jd);
  ASSERT_EQ(fast.has_value(), slow.has_value()) << jd;
  if (!fast) {
    EXPECT_EQ(fast.error(), slow.error());
    return;
  }
  EXPECT_EQ(bits(fast->utc_jd), bits(slow->utc_jd)) << jd;
  EXPECT_EQ(bits(fast->dut1_s), bits(slow->dut1_s)) << jd;
  EXPECT_EQ(bits(fast->xp_arcsec), bits(slow->xp_arcsec)) << jd;
  EXPECT_EQ(bits(fast->yp_arcsec), bits(slow->yp_arcsec)) << jd;
}

}  // namespace

TEST(EopOpen, ReadsBothRealTables) {
  const EarthOrientationTable& table = c04();
  EXPECT_EQ(table.name(), "eop_c04_1962_2022.txt");
  EXPECT_EQ(table.sha256(), test::EOP_C04_SHA256);
  ASSERT_EQ(table.samples().size(), 22248u);
  EXPECT_EQ(table.samples().front().utc_jd, 2437665.5);  // 1962-01-01
  EXPECT_EQ(table.samples().back(), (EopSample{2459912.5, -0.0192085, 0.149881, 0.189736}));

  const auto excerpt = EarthOrientationTable::open(data_path("eop_20c04_excerpt_1999.txt"),
                                                   test::EOP_EXCERPT_SHA256);
  ASSERT_TRUE(excerpt) << excerpt.error().message();
  ASSERT_EQ(excerpt->samples().size(), 10u);
  EXPECT_EQ(excerpt->samples().front(), (EopSample{2451356.5, 0.5194691, -0.032359, 0.307520}));
  EXPECT_EQ(excerpt->samples().back().utc_jd, 2451365.5);
}

TEST(EopOpen, PathChecksumAndIoMessages) {
  for (const char* path : {"", "/", "tables/.."}) {
    EXPECT_EQ(EarthOrientationTable::open(path, ANY_SHA256).error().message(),
              "EOP table path has no filename");
  }
  const ScratchDir dir;
  // The I/O error is rendered alone, and it comes before the checksum check.
  EXPECT_EQ(EarthOrientationTable::open(dir.path("absent.txt"), "short").error().message(),
            "No such file or directory (os error 2)");
  EXPECT_EQ(open_error(row(51544, 0, 0, 0) + "\xFF\n", "short"),
            "stream did not contain valid UTF-8");
  EXPECT_EQ(open_error(row(51544, 0, 0, 0), std::string(64, 'A')), "<loaded>");
  const auto upper =
      EarthOrientationTable::open(dir.write("u.txt", row(51544, 0, 0, 0)), std::string(64, 'C'));
  EXPECT_EQ(upper->sha256(), std::string(64, 'c'));
  for (const std::string& sha :
       {std::string(63, 'a'), std::string(65, 'a'), std::string(63, 'a') + "g"}) {
    EXPECT_EQ(open_error(row(51544, 0, 0, 0), sha),
              "EOP table SHA-256 must be 64 hexadecimal characters");
  }
}

TEST(EopOpen, RowAndTableErrors) {
  EXPECT_EQ(open_error("# header\n\n   \n# more\n"), "EOP table contains no DUT1 samples");
  EXPECT_EQ(open_error(""), "EOP table contains no DUT1 samples");

  // Fourteen header/blank lines, then a seven-column row on line 15.
  std::string text;
  for (int i = 0; i < 10; ++i) text += "# header line\n";
  text += "\n\n" + row(51544, 0, 0, 0) + row(51545, 0, 0, 0);
  text += "2000 1 3 0 51546.00 0.1 0.2\n";
  EXPECT_EQ(open_error(text), "invalid IERS EOP 20 C04 line 15");

  EXPECT_EQ(open_error(row(51544, 0, 0, 0) + row(51544, 1, 1, 1)),
            "EOP DUT1 samples must be strictly increasing in UTC");
  EXPECT_EQ(open_error(row(51545, 0, 0, 0) + row(51544, 0, 0, 0)),
            "EOP DUT1 samples must be strictly increasing in UTC");
  EXPECT_EQ(open_error("2000 1 1 0 51544 0.1 0.2 0.3D0\n"), "invalid IERS EOP 20 C04 line 1");
  EXPECT_EQ(open_error("2000 1 1 0 51544 0.1 abc 0.3\n"), "invalid IERS EOP 20 C04 line 1");
  EXPECT_EQ(open_error("2000 1 1 0 51544 0.1 0.2 nan\n"),
            "EOP epoch, DUT1, and polar motion must be finite");
  EXPECT_EQ(open_error("2000 1 1 0 -inf 0.1 0.2 0.3\n"),
            "EOP epoch, DUT1, and polar motion must be finite");
  EXPECT_EQ(open_error("2000 1 1 0 1e400 0.1 0.2 0.3\n"),
            "EOP epoch, DUT1, and polar motion must be finite");
  // An unparsable column wins over a non-finite one before it.
  EXPECT_EQ(open_error("2000 1 1 0 nan 0.1 0.2 x\n"), "invalid IERS EOP 20 C04 line 1");
  // Columns 1-4 and 9 onward are never read.
  EXPECT_EQ(open_error("a b c d 51544 0.1 0.2 0.3 garbage \xE2\x80\x94\n"), "<loaded>");
  // CRLF line ends and Unicode white space between columns are fine.
  EXPECT_EQ(open_error("2000\xC2\xA0"
                       "1 1 0\t51544 0.1\xE3\x80\x80"
                       "0.2 0.3\r\n"),
            "<loaded>");
  EXPECT_EQ(open_error("  # indented comment\r\n" + row(51544, 0, 0, 0)), "<loaded>");
}

TEST(EopParseLine, ReadsColumnsFiveToEight) {
  const auto sample = parse_c04_line("1999 6 27 0 51356.25 -0.032359 0.307520 0.5194691", 3);
  ASSERT_TRUE(sample);
  EXPECT_EQ(*sample, (EopSample{51356.25 + 2400000.5, 0.5194691, -0.032359, 0.307520}));
  EXPECT_EQ(parse_c04_line("1 2 3 4 5 6 7", 42).error(), EopError::invalid_line(42));
  EXPECT_EQ(parse_c04_line("", 7).error().message(), "invalid IERS EOP 20 C04 line 7");
  EXPECT_EQ(*parse_c04_line("1 2 3 4 +5e0 .5 5. -0", 1), (EopSample{2400005.5, -0.0, 0.5, 5.0}));
}

TEST(EopInterpolation, RowsAndMidpoints) {
  const EarthOrientationTable& table = c04();
  const auto rows = table.samples();
  for (std::size_t i : {std::size_t{0}, std::size_t{1}, std::size_t{13879}, rows.size() - 1}) {
    const auto hit = table.interpolated_sample(rows[i].utc_jd);
    ASSERT_TRUE(hit);
    EXPECT_EQ(*hit, rows[i]);
  }
  for (std::size_t i : {std::size_t{0}, std::size_t{8000}, rows.size() - 2}) {
    const EopSample& a = rows[i];
    const EopSample& b = rows[i + 1];
    const auto mid = table.interpolated_sample(a.utc_jd + 0.5);
    ASSERT_TRUE(mid);
    EXPECT_EQ(mid->utc_jd, a.utc_jd + 0.5);
    EXPECT_EQ(mid->dut1_s, (a.dut1_s + b.dut1_s) / 2);
    EXPECT_EQ(mid->xp_arcsec, (a.xp_arcsec + b.xp_arcsec) / 2);
    EXPECT_EQ(mid->yp_arcsec, (a.yp_arcsec + b.yp_arcsec) / 2);
    const auto pole = table.polar_motion_arcsec(a.utc_jd + 0.5);
    EXPECT_EQ(*pole, std::pair(mid->xp_arcsec, mid->yp_arcsec));
  }
}

TEST(EopInterpolation, CoverageAndNonFiniteQueries) {
  const EarthOrientationTable& table = c04();
  const auto late = table.interpolated_sample(2459913.5);
  ASSERT_FALSE(late);
  EXPECT_EQ(late.error().message(),
            "UTC Julian day 2459913.5 is outside EOP coverage [2437665.5, 2459912.5]");
  EXPECT_EQ(table.interpolated_sample(std::nextafter(2437665.5, 0.0)).error().kind,
            EopError::Kind::OutsideCoverage);
  EXPECT_EQ(table.polar_motion_arcsec(1e300).error().kind, EopError::Kind::OutsideCoverage);
  for (const double bad :
       {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
    EXPECT_EQ(table.interpolated_sample(bad).error().message(),
              "EOP epoch, DUT1, and polar motion must be finite");
    EXPECT_EQ(table.utc_julian_day_from_ut1(bad).error().message(),
              "EOP epoch, DUT1, and polar motion must be finite");
  }
}

TEST(EopInterpolation, BisectionPicksTheRowsOfTheLinearScan) {
  const EarthOrientationTable& table = c04();
  const auto rows = table.samples();
  std::mt19937_64 random(20240611);
  std::uniform_int_distribution<std::size_t> pick(0, rows.size() - 1);
  for (int i = 0; i < 300; ++i) {
    const double jd = rows[pick(random)].utc_jd;
    for (const double query :
         {jd, std::nextafter(jd, 0.0), std::nextafter(jd, 1e300), jd + 0.25, jd - 0.75}) {
      expect_same_as_linear(table, query);
    }
  }
  for (const double edge :
       {rows.front().utc_jd, rows.back().utc_jd, std::nextafter(rows.back().utc_jd, 0.0),
        std::nextafter(rows.front().utc_jd, 1e300), rows.back().utc_jd + 1.0}) {
    expect_same_as_linear(table, edge);
  }

  // Irregular spacing, including a row at +0.0 queried with -0.0 (equal but
  // not bit-equal, so the scan takes the next row as hi).
  const ScratchDir dir;
  const auto odd = EarthOrientationTable::open(
      dir.write("odd.txt",
                row(-2400000.5, 1, 2, 3) + row(-2400000.25, 5, 6, 7) + row(-2399990, 0, 0, 0)),
      ANY_SHA256);
  ASSERT_TRUE(odd) << odd.error().message();
  EXPECT_EQ(bits(odd->samples().front().utc_jd), bits(0.0));
  for (const double query : {-0.0, 0.0, 0.1, 0.25, 0.26, 10.5, 10.0})
    expect_same_as_linear(*odd, query);
}

TEST(EopUt1ToUtc, RoundTripsInsideTheTable) {
  const EarthOrientationTable& table = c04();
  double worst = 0.0;
  for (double ut1 = 2437666.0; ut1 < 2459911.0; ut1 += 3.37) {
    const auto utc = table.utc_julian_day_from_ut1(ut1);
    ASSERT_TRUE(utc) << ut1;
    const auto sample = table.interpolated_sample(*utc);
    const double back = *utc + sample->dut1_s / 86400.0;
    worst = std::max(worst, std::fabs(back - ut1));
  }
  EXPECT_LT(worst, 1e-8);
}

TEST(EopUt1ToUtc, ConstantDut1AndCoverageOfEachStep) {
  const ScratchDir dir;
  const double c = 0.4;
  std::string text;
  for (int mjd = 51544; mjd < 51554; ++mjd) text += row(mjd, 0.1, 0.2, c);
  const auto table = EarthOrientationTable::open(dir.write("flat.txt", text), ANY_SHA256);
  ASSERT_TRUE(table);
  for (const double t : {2451546.0, 2451547.3, 2451552.9}) {
    EXPECT_EQ(*table->utc_julian_day_from_ut1(t), t - c / 86400.0);
  }
  // UT1 on the first row is inside, but the UTC it maps to lies before it:
  // the failing step reports the date it sampled.
  const double first = 2451544.5;
  const auto early = table->utc_julian_day_from_ut1(first);
  ASSERT_FALSE(early);
  EXPECT_EQ(early.error(), EopError::outside_coverage(first - c / 86400.0, first, 2451553.5));
}
