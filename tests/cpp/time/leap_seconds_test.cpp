#include "time/leap_seconds.hpp"

#include <erfa.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <string>

#include "time_test_support.hpp"

using namespace tarvex::time;
using tarvex::core::TimeScale;
using tarvex::time::test::ANY_SHA256;
using tarvex::time::test::data_path;
using tarvex::time::test::kernel_text;
using tarvex::time::test::ScratchDir;

namespace {

constexpr double NAN_JD = std::numeric_limits<double>::quiet_NaN();

const LeapSecondKernel& naif0012() {
  static const LeapSecondKernel kernel = [] {
    auto opened = LeapSecondKernel::open(data_path("naif0012.tls"), test::NAIF0012_SHA256);
    if (!opened) {
      std::fprintf(stderr, "naif0012.tls: %s\n", opened.error().message().c_str());
      std::abort();
    }
    return std::move(*opened);
  }();
  return kernel;
}

LeapSecondKernel kernel_from(const ScratchDir& dir, std::string_view text) {
  auto opened = LeapSecondKernel::open(dir.write("test.tls", text), ANY_SHA256);
  if (!opened) ADD_FAILURE() << opened.error().message();
  return std::move(*opened);
}

std::string load_error(std::string_view text) {
  const ScratchDir dir;
  const auto opened = LeapSecondKernel::open(dir.write("bad.tls", text), ANY_SHA256);
  return opened ? std::string("<loaded>") : opened.error().message();
}

}  // namespace

TEST(LeapSecondKernelOpen, ReadsNaif0012) {
  const LeapSecondKernel& kernel = naif0012();
  EXPECT_EQ(kernel.name(), "naif0012.tls");
  EXPECT_EQ(kernel.sha256(), test::NAIF0012_SHA256);
  ASSERT_EQ(kernel.entries().size(), 28u);
  EXPECT_EQ(kernel.entries().front(), (LeapSecondEntry{10.0, 2441317.5}));
  EXPECT_EQ(kernel.entries()[1], (LeapSecondEntry{11.0, 2441499.5}));  // 1972-JUL-1
  EXPECT_EQ(kernel.entries().back(), (LeapSecondEntry{37.0, 2457754.5}));
  EXPECT_EQ(kernel.delta_t_a(), 32.184);
  EXPECT_EQ(kernel.k(), 1.657e-3);
  EXPECT_EQ(kernel.eb(), 1.671e-2);
  EXPECT_EQ(kernel.m0(), 6.239996);
  EXPECT_EQ(kernel.m1(), 1.99096871e-7);
}

TEST(LeapSecondKernelOpen, PathChecksumAndIoFailuresInOrder) {
  const ScratchDir dir;
  const std::string good = dir.write("k.tls", kernel_text());
  const std::string upper(64, 'F');
  const auto opened = LeapSecondKernel::open(good, upper);
  ASSERT_TRUE(opened);
  EXPECT_EQ(opened->sha256(), std::string(64, 'f'));
  EXPECT_EQ(opened->name(), "k.tls");

  for (const char* path : {"", "/", "data/.."}) {
    EXPECT_EQ(LeapSecondKernel::open(path, "bad").error().message(),
              "leap-second kernel path has no UTF-8 filename");
  }
  // An unreadable file is reported before a malformed checksum.
  EXPECT_EQ(LeapSecondKernel::open(dir.path("absent.tls"), "bad").error().message(),
            "failed to read leap-second kernel: No such file or directory (os error 2)");
  EXPECT_EQ(LeapSecondKernel::open(dir.path("") + "/sub/.", ANY_SHA256).error().message(),
            "failed to read leap-second kernel: No such file or directory (os error 2)");
  std::filesystem::create_directory(dir.path("folder.tls"));
  EXPECT_EQ(LeapSecondKernel::open(dir.path("folder.tls"), ANY_SHA256).error().message(),
            "failed to read leap-second kernel: Is a directory (os error 21)");
  const std::string latin1 = dir.write("latin1.tls", kernel_text() + "caf\xE9\n");
  EXPECT_EQ(LeapSecondKernel::open(latin1, ANY_SHA256).error(),
            LskError::io_failure(tarvex::core::IoError::invalid_utf8()));
  EXPECT_EQ(LeapSecondKernel::open(latin1, "bad").error().message(),
            "failed to read leap-second kernel: stream did not contain valid UTF-8");
  EXPECT_EQ(LeapSecondKernel::open(std::string("a\0b", 3), ANY_SHA256).error().message(),
            "failed to read leap-second kernel: file name contained an unexpected NUL byte");

  for (const std::string& sha :
       {std::string(63, 'a'), std::string(65, 'a'), std::string(63, 'a') + "g"}) {
    EXPECT_EQ(LeapSecondKernel::open(good, sha).error().message(),
              "leap-second kernel SHA-256 must contain exactly 64 hexadecimal characters");
  }
}

TEST(LeapSecondKernelOpen, EveryLoadingMessage) {
  EXPECT_EQ(load_error("no data at all\n"), "leap-second kernel has no \\begindata section");
  EXPECT_EQ(load_error("\\begindata\nDELTET/K = 1\n"),
            "leap-second kernel is missing required keyword DELTET/DELTA_T_A");
  const std::string constants =
      "\\begindata\nDELTET/DELTA_T_A = 32.184\nDELTET/K = 1.657D-3\nDELTET/EB = 0.01671\n";
  EXPECT_EQ(load_error(constants), "leap-second kernel is missing required keyword DELTET/M");
  EXPECT_EQ(load_error(constants + "DELTET/M = ( 1 2 )\n"),
            "leap-second kernel is missing required keyword DELTET/DELTA_AT");
  EXPECT_EQ(load_error("\\begindata\nDELTET/DELTA_T_A = ( 1 2 )\n"),
            "invalid value for DELTET/DELTA_T_A: expected a single scalar value");
  EXPECT_EQ(load_error("\\begindata\nDELTET/DELTA_T_A = 1\nDELTET/K = x\n"),
            "invalid value for DELTET/K: value is not a valid number");
  EXPECT_EQ(load_error("\\begindata\nDELTET/DELTA_T_A = 1\nDELTET/K = 1\nDELTET/EB = ()\n"),
            "invalid value for DELTET/EB: expected a single scalar value");
  EXPECT_EQ(load_error(constants + "DELTET/M = ( 1 2 3 )\n"),
            "invalid value for DELTET/M: expected exactly two values (M0 and M1)");
  EXPECT_EQ(load_error(constants + "DELTET/M = ( x 2 )\n"),
            "invalid value for DELTET/M: M0 is not a valid number");
  EXPECT_EQ(load_error(constants + "DELTET/M = ( 1 y )\n"),
            "invalid value for DELTET/M: M1 is not a valid number");
  EXPECT_EQ(
      load_error(kernel_text("( 10, @1972-JAN-1, 11 )")),
      "invalid value for DELTET/DELTA_AT: expected a non-empty sequence of (delta, date) pairs");
  EXPECT_EQ(
      load_error(kernel_text("( )")),
      "invalid value for DELTET/DELTA_AT: expected a non-empty sequence of (delta, date) pairs");
  EXPECT_EQ(load_error(kernel_text("( @1972-JAN-1, 10 )")),
            "invalid value for DELTET/DELTA_AT: delta value is not a valid number");
  EXPECT_EQ(load_error(kernel_text("( 10, @1972-XYZ-1 )")),
            "invalid NAIF date literal \"@1972-XYZ-1\"");
  EXPECT_EQ(load_error(kernel_text("( 10, @1972-JAN-1 11, @1972-JAN-1 )")),
            "DELTET/DELTA_AT entries must be strictly ascending in effective date");
  EXPECT_EQ(load_error(kernel_text("( 10, @1973-JAN-1 11, @1972-JAN-1 )")),
            "DELTET/DELTA_AT entries must be strictly ascending in effective date");
  // The first failing pair ends loading, even if a later one is worse.
  EXPECT_EQ(load_error(kernel_text("( 10, @1972-JAN-0 x, y )")),
            "invalid NAIF date literal \"@1972-JAN-0\"");
  // Offsets need not increase, and constants need not be sensible.
  EXPECT_EQ(load_error(kernel_text("( 10, @1972-JAN-1 5, @1973-JAN-1 )")), "<loaded>");
  EXPECT_EQ(load_error(kernel_text("( 10, @1972-JAN-1 )", "DELTET/K = -1D300\n")), "<loaded>");
}

TEST(LeapSecondKernelOpen, NonFiniteValuesAreRefusedByKeyword) {
  // NaN and infinity parse as numbers; a kernel holding them would fail
  // every later conversion as if the caller's instant were out of range.
  const std::string constants =
      "\\begindata\nDELTET/DELTA_T_A = 32.184\nDELTET/K = 1.657D-3\nDELTET/EB = 0.01671\n";
  for (const char* value : {"nan", "inf", "-inf", "NaN", "1D400"}) {
    const std::string v(value);
    EXPECT_EQ(load_error(kernel_text("( 10, @1972-JAN-1 )", "DELTET/K = " + v + "\n")),
              "leap-second kernel value DELTET/K must be finite")
        << value;
    EXPECT_EQ(load_error(kernel_text("( 10, @1972-JAN-1 )", "DELTET/DELTA_T_A = " + v + "\n")),
              "leap-second kernel value DELTET/DELTA_T_A must be finite");
    EXPECT_EQ(load_error(kernel_text("( 10, @1972-JAN-1 )", "DELTET/EB = " + v + "\n")),
              "leap-second kernel value DELTET/EB must be finite");
    EXPECT_EQ(load_error(kernel_text("( 10, @1972-JAN-1 )", "DELTET/M = ( " + v + " 1 )\n")),
              "leap-second kernel value DELTET/M must be finite");
    EXPECT_EQ(load_error(kernel_text("( 10, @1972-JAN-1 )", "DELTET/M = ( 1 " + v + " )\n")),
              "leap-second kernel value DELTET/M must be finite");
    EXPECT_EQ(load_error(kernel_text("( 10, @1972-JAN-1 " + v + ", @1973-JAN-1 )")),
              "leap-second kernel value DELTET/DELTA_AT must be finite");
  }
  // A value that does not parse is still reported as such, before any
  // finiteness check of a later keyword.
  EXPECT_EQ(load_error(constants + "DELTET/M = ( x nan )\n"),
            "invalid value for DELTET/M: M0 is not a valid number");
  // A NaN offset in the second pair is reported, not read as unsorted.
  EXPECT_EQ(load_error(kernel_text("( 10, @1972-JAN-1 nan, @1972-JAN-1 )")),
            "leap-second kernel value DELTET/DELTA_AT must be finite");
}

TEST(LeapSecondKernelOpen, PlusEqualsBreaksTheValueItFollows) {
  // "+=" is not an assignment: the line joins the value of the assignment
  // before it (DELTA_AT here), which then holds an odd number of tokens.
  const std::string text = kernel_text("( 10, @1972-JAN-1 )", "DELTET/M += ( 1 )\n");
  EXPECT_EQ(
      load_error(text),
      "invalid value for DELTET/DELTA_AT: expected a non-empty sequence of (delta, date) pairs");
}

TEST(LeapSecondLookup, OffsetsAgreeWithErfaEveryDay) {
  const LeapSecondKernel& kernel = naif0012();
  double worst_tt_s = 0.0;
  double worst_tdb_s = 0.0;
  int days = 0;
  for (int year = 1972; year <= 2022; ++year) {
    for (int month = 1; month <= 12; ++month) {
      for (int day = 1; day <= 31; ++day) {
        double mjd0 = 0.0, mjd = 0.0;
        // Non-zero status for days past the end of the month.
        if (eraCal2jd(year, month, day, &mjd0, &mjd) != 0) continue;
        ++days;
        const double utc = mjd0 + mjd;
        double dat = 0.0;
        ASSERT_EQ(eraDat(year, month, day, 0.0, &dat), 0);
        ASSERT_EQ(kernel.tai_minus_utc(utc), dat) << year << "-" << month << "-" << day;

        // UTC -> TT against ERFA's UTC -> TAI -> TT at 0 h: ERFA's quasi-JD
        // stretches a day that ends in a leap second, so later in such a
        // day the two conventions part by up to a second by design.
        double tai1 = 0.0, tai2 = 0.0, tt1 = 0.0, tt2 = 0.0;
        ASSERT_EQ(eraUtctai(mjd0, mjd, &tai1, &tai2), 0);
        ASSERT_EQ(eraTaitt(tai1, tai2, &tt1, &tt2), 0);
        const auto tt = kernel.tt_julian_day(TimeScale::Utc, nullptr, utc);
        ASSERT_TRUE(tt);
        worst_tt_s = std::max(worst_tt_s, std::fabs(((*tt - tt1) - tt2) * 86400.0));

        // TT -> TDB: NAIF's two-term series against ERFA's full
        // Fairhead-Bretagnon model at the geocentre; they differ by tens of
        // microseconds at most.
        const double noon = utc + 0.5;
        const auto tdb = kernel.tdb_seconds(TimeScale::Tt, noon);
        ASSERT_TRUE(tdb);
        const double tdb_minus_tt = *tdb - (noon - 2451545.0) * 86400.0;
        const double ut_fraction = 0.5;
        const double reference = eraDtdb(noon, 0.0, ut_fraction, 0.0, 0.0, 0.0);
        worst_tdb_s = std::max(worst_tdb_s, std::fabs(tdb_minus_tt - reference));
      }
    }
  }
  EXPECT_EQ(days, 18628);
  EXPECT_LT(worst_tt_s, 100e-6);
  EXPECT_LT(worst_tdb_s, 100e-6);
  RecordProperty("worst_utc_to_tt_us", std::to_string(worst_tt_s * 1e6));
  RecordProperty("worst_tt_to_tdb_us", std::to_string(worst_tdb_s * 1e6));
  std::printf("max |UTC->TT - ERFA| = %.3f us, max |TDB-TT - eraDtdb| = %.3f us\n",
              worst_tt_s * 1e6, worst_tdb_s * 1e6);
}

TEST(LeapSecondLookup, EntryDatesAndTheFirstEntry) {
  const LeapSecondKernel& kernel = naif0012();
  const double leap_2017 = 2457754.5;
  EXPECT_EQ(kernel.tai_minus_utc(leap_2017), 37.0);
  EXPECT_EQ(kernel.tai_minus_utc(std::nextafter(leap_2017, 0.0)), 36.0);
  EXPECT_EQ(kernel.tai_minus_utc(1e300), 37.0);  // the last offset holds without limit
  EXPECT_EQ(kernel.tai_minus_utc(2441317.5), 10.0);
  const auto before = kernel.tai_minus_utc(2441317.0);
  ASSERT_FALSE(before);
  EXPECT_EQ(before.error(), UtcConversionError::before_first_leap_second(2441317.0, 2441317.5));
  EXPECT_EQ(before.error().message(),
            "UTC Julian day 2441317 precedes the kernel's earliest leap-second entry (2441317.5); "
            "the offset is "
            "not extrapolated");
  EXPECT_EQ(kernel.tdb_seconds(TimeScale::Utc, 2441317.0).error().message(),
            before.error().message());
  EXPECT_EQ(
      kernel.tt_julian_day(TimeScale::Utc, nullptr, std::nextafter(2441317.5, 0.0)).error().kind,
      UtcConversionError::Kind::BeforeFirstLeapSecond);
}

TEST(Conversions, TdbSecondsFromEachScale) {
  const LeapSecondKernel& kernel = naif0012();
  EXPECT_EQ(*kernel.tdb_seconds(TimeScale::Tdb, 2451545.0), 0.0);
  EXPECT_NEAR(*kernel.tdb_seconds(TimeScale::Tt, 2451545.0), -7.2737e-5, 5e-9);
  // UTC 2000-01-01 12:00 is TT 12:01:04.184; TDB adds the same periodic term.
  const double utc_noon = 2451545.0;
  const double tt_s = ((utc_noon + 32.0 / 86400.0) + 32.184 / 86400.0 - 2451545.0) * 86400.0;
  EXPECT_EQ(*kernel.tdb_seconds(TimeScale::Utc, utc_noon), tt_s + kernel.tdb_minus_tt(tt_s));
  EXPECT_NEAR(*kernel.tdb_seconds(TimeScale::Utc, utc_noon), 64.184, 1e-3);

  const auto ut1 = kernel.tdb_seconds(TimeScale::Ut1, 2451545.0);
  ASSERT_FALSE(ut1);
  EXPECT_EQ(ut1.error().kind, UtcConversionError::Kind::Time);
  EXPECT_EQ(ut1.error().message(), "conversion from Ut1 to TDB is not implemented");
  for (const TimeScale scale : {TimeScale::Utc, TimeScale::Ut1, TimeScale::Tt, TimeScale::Tdb}) {
    for (const double bad : {NAN_JD, std::numeric_limits<double>::infinity()}) {
      EXPECT_EQ(kernel.tdb_seconds(scale, bad).error().message(), "Julian day must be finite");
      EXPECT_EQ(kernel.tt_julian_day(scale, nullptr, bad).error().message(),
                "Julian day must be finite");
      EXPECT_EQ(kernel.utc_julian_day(scale, nullptr, bad).error().message(),
                "Julian day must be finite");
    }
  }
}

TEST(Conversions, TdbTtSeriesUsesThreePassesAtTheTdbEstimate) {
  const LeapSecondKernel& kernel = naif0012();
  for (const double t : {-1e9, 0.0, 3.3e8, 7e8}) {
    double x = t;
    for (int i = 0; i < 3; ++i) {
      const double m = kernel.m0() + kernel.m1() * x;
      const double e = m + kernel.eb() * std::sin(m);
      x = t + kernel.k() * std::sin(e);
    }
    EXPECT_EQ(kernel.tdb_minus_tt(t), x - t);
  }
  // TDB -> TT evaluates the series at TDB seconds.
  const double jd = 2455000.25;
  const double s = (jd - 2451545.0) * 86400.0;
  EXPECT_EQ(*kernel.tt_julian_day(TimeScale::Tdb, nullptr, jd),
            (s - kernel.tdb_minus_tt(s)) / 86400.0 + 2451545.0);
  EXPECT_EQ(*kernel.tt_julian_day(TimeScale::Tt, nullptr, jd), jd);
}

TEST(Conversions, UtcTtRoundTripAndTheFirstEntryBoundary) {
  const LeapSecondKernel& kernel = naif0012();
  double worst = 0.0;
  for (double utc = 2441318.3; utc < 2460000.0; utc += 17.123) {
    const auto tt = kernel.tt_julian_day(TimeScale::Utc, nullptr, utc);
    ASSERT_TRUE(tt);
    const auto back = kernel.utc_julian_day(TimeScale::Tt, nullptr, *tt);
    ASSERT_TRUE(back);
    worst = std::max(worst, std::fabs(*back - utc));
    const auto via_tdb = kernel.utc_julian_day(
        TimeScale::Tdb, nullptr, *kernel.tdb_seconds(TimeScale::Utc, utc) / 86400.0 + 2451545.0);
    EXPECT_NEAR(*via_tdb, utc, 2e-9);
  }
  EXPECT_LE(worst, 1e-9);  // a few ulps of a Julian date near 2.45e6
  EXPECT_EQ(*kernel.utc_julian_day(TimeScale::Utc, nullptr, 2400000.5), 2400000.5);

  // A TT date before the table: the first estimate uses the last offset
  // (37 s), and that estimate is what the error carries.
  const double tt = 2441317.5;
  const auto early = kernel.utc_julian_day(TimeScale::Tt, nullptr, tt);
  ASSERT_FALSE(early);
  const double estimate = tt - (37.0 + 32.184) / 86400.0;
  EXPECT_EQ(early.error(), UtcConversionError::before_first_leap_second(estimate, 2441317.5));
}

TEST(Conversions, Ut1NeedsAnEarthOrientationTable) {
  const LeapSecondKernel& kernel = naif0012();
  const auto missing = kernel.tt_julian_day(TimeScale::Ut1, nullptr, 2451545.0);
  ASSERT_FALSE(missing);
  EXPECT_EQ(
      missing.error().message(),
      "UT1 requires an Earth orientation table (DUT1); attach one with SpkEphemeris::with_eop");
  EXPECT_EQ(kernel.utc_julian_day(TimeScale::Ut1, nullptr, 2451545.0).error(),
            UtcConversionError::missing_earth_orientation());

  const auto eop =
      EarthOrientationTable::open(data_path("eop_c04_1962_2022.txt"), test::EOP_C04_SHA256);
  ASSERT_TRUE(eop) << eop.error().message();
  // A NaN UT1 date is the table's error, not the time library's.
  const auto nan_ut1 = kernel.tdb_seconds_with_eop(TimeScale::Ut1, *eop, NAN_JD);
  ASSERT_FALSE(nan_ut1);
  EXPECT_EQ(nan_ut1.error().kind, UtcConversionError::Kind::Eop);
  EXPECT_EQ(nan_ut1.error().message(), "EOP epoch, DUT1, and polar motion must be finite");
  EXPECT_EQ(kernel.ut1_julian_day(TimeScale::Ut1, *eop, NAN_JD).error().message(),
            "Julian day must be finite");

  // 2000-01-01 0h UTC is a row: UT1 = UTC + 0.3554779 s (14 C04 value).
  const double utc = 2451544.5;
  const auto row = eop->interpolated_sample(utc);
  ASSERT_TRUE(row);
  const auto ut1 = kernel.ut1_julian_day(TimeScale::Utc, *eop, utc);
  ASSERT_TRUE(ut1);
  EXPECT_EQ(*ut1, utc + row->dut1_s / 86400.0);
  const auto utc_back = kernel.utc_julian_day(TimeScale::Ut1, &*eop, *ut1);
  EXPECT_NEAR(*utc_back, utc, 1e-9);
  EXPECT_EQ(*kernel.tdb_seconds_with_eop(TimeScale::Ut1, *eop, *ut1),
            *kernel.tdb_seconds(TimeScale::Utc, *utc_back));
  EXPECT_EQ(*kernel.tdb_seconds_with_eop(TimeScale::Tt, *eop, 2451545.0),
            *kernel.tdb_seconds(TimeScale::Tt, 2451545.0));
  EXPECT_NEAR(*kernel.tt_julian_day(TimeScale::Ut1, &*eop, *ut1), utc + (32.0 + 32.184) / 86400.0,
              1e-9);
  // Outside the table the UT1 step fails with the table's coverage error.
  const auto late = kernel.ut1_julian_day(TimeScale::Tt, *eop, 2470000.0);
  ASSERT_FALSE(late);
  EXPECT_EQ(late.error().eop.kind, EopError::Kind::OutsideCoverage);
}

TEST(Conversions, KernelIsMovableAndHeldByValue) {
  const ScratchDir dir;
  std::optional<LeapSecondKernel> held;
  held.emplace(kernel_from(dir, kernel_text()));
  const LeapSecondKernel moved = std::move(*held);
  EXPECT_EQ(moved.entries().size(), 2u);
  EXPECT_EQ(*moved.tai_minus_utc(2441499.5), 11.0);
  static_assert(std::is_nothrow_move_constructible_v<LeapSecondKernel>);
  static_assert(std::is_nothrow_move_constructible_v<EarthOrientationTable>);
}
