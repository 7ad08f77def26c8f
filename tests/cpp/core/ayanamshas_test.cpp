// Ayanamshas: Lahiri and Fagan-Bradley identical to the strict sidereal modes (sidereal.hpp), the
// table's anchors and star conventions checked with ERFA, and agreement with
// pyswisseph within the bound each convention's definition explains.
#include "core/ayanamshas.hpp"

#include <erfa.h>
#include <erfam.h>
#include <gtest/gtest.h>

#include <cmath>
#include <iostream>
#include <limits>
#include <map>
#include <set>

#include "core/sidereal.hpp"
#include "swisseph_reference.hpp"

using namespace tarvex::core;
using tarvex_test::angle_diff_deg;
using tarvex_test::number;

TEST(AyanamshaTable, NamesRoundTripAndAnchorsHold) {
  const auto rows = ayanamsha_definitions();
  ASSERT_EQ(rows.size(), AYANAMSHA_COUNT);
  std::set<std::string_view> names;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const auto& d = rows[i];
    EXPECT_EQ(static_cast<std::size_t>(d.mode), i);
    EXPECT_TRUE(names.insert(d.name).second) << d.name;
    EXPECT_EQ(ayanamsha_from_name(d.name), d.mode);
    EXPECT_EQ(name(d.mode), d.name);
    if (d.kind == AyanamshaKind::PrecessionFromEpoch) {
      EXPECT_EQ(d.star, nullptr);
      // At its own epoch an anchored ayanamsha is its anchor value, less
      // the nutation in longitude (ERFA's IAU 2000B) where the anchor
      // refers to the true equinox.
      double mean_deg = d.value_at_epoch_deg;
      if (d.value_includes_nutation) {
        double dpsi, deps;
        eraNut00b(d.epoch_tt_julian_day, 0.0, &dpsi, &deps);
        mean_deg -= dpsi / ERFA_DD2R;
      }
      EXPECT_NEAR(*ayanamsha_deg(d.mode, d.epoch_tt_julian_day), mean_deg, 1e-9) << d.name;
    } else {
      EXPECT_NE(d.star, nullptr) << d.name;
    }
  }
  EXPECT_FALSE(ayanamsha_from_name("Lahiri"));
}

TEST(AyanamshaTable, LahiriAndFaganBradleyAreSiderealCppBitForBit) {
  for (double jd = 2305447.5; jd < 2524593.5; jd += 97.13) {
    EXPECT_EQ(*ayanamsha_deg(Ayanamsha::Lahiri, jd), *ayanamsha_deg(jd, SiderealMode::Lahiri));
    EXPECT_EQ(*ayanamsha_deg(Ayanamsha::FaganBradley, jd),
              *ayanamsha_deg(jd, SiderealMode::FaganBradley));
  }
}

TEST(AyanamshaTable, PrecessionRateAndEpochZeroPoints) {
  // All anchored conventions move together: their differences are constant.
  const double t1 = 2415020.0, t2 = 2469807.5;
  const double move = *ayanamsha_deg(Ayanamsha::J2000, t2) - *ayanamsha_deg(Ayanamsha::J2000, t1);
  // 150 years of general precession, about 50.3"/yr (IAU 2006).
  EXPECT_NEAR(move * 3600.0 / 150.0, 50.29, 0.02);
  for (const auto& d : ayanamsha_definitions()) {
    if (d.kind == AyanamshaKind::PrecessionFromEpoch) {
      EXPECT_NEAR(*ayanamsha_deg(d.mode, t2) - *ayanamsha_deg(d.mode, t1), move, 1e-9) << d.name;
    }
  }
  EXPECT_EQ(*ayanamsha_deg(Ayanamsha::J2000, 2451545.0), 0.0);
  EXPECT_NEAR(*ayanamsha_deg(Ayanamsha::J1900, 2451545.0), 1.3966, 1e-3);  // a century: 5029"
  EXPECT_NEAR(*ayanamsha_deg(Ayanamsha::Raman, 2415020.0), 21.0 + 51.0 / 3600.0, 1e-12);
}

TEST(AyanamshaTable, StarConventionsPutTheirStarAtItsLongitude) {
  // Independent path: ERFA's rigorous space motion (eraStarpm, with the
  // Hipparcos parallax and no radial velocity; ERFA drops the proper motion
  // of a star without parallax) and its ICRS -> mean ecliptic of date
  // matrix (eraEcm06). The linear proper motion of the table agrees to far
  // below a milliarcsecond over these 200 years.
  for (const auto& d : ayanamsha_definitions()) {
    if (d.kind != AyanamshaKind::StarAtLongitude) continue;
    const CatalogueStar& s = *d.star;
    for (double jd = 2415020.0; jd <= 2488070.0; jd += 3652.5) {
      const double d2r = ERFA_DD2R;
      const double pmr = s.proper_motion_ra_cos_dec_mas_per_year / 1000.0 * ERFA_DAS2R /
                         std::cos(s.declination_deg * d2r);
      const double pmd = s.proper_motion_dec_mas_per_year / 1000.0 * ERFA_DAS2R;
      double ra, dec, pmr2, pmd2, px2, rv2;
      const double parallax_arcsec = s.name == "Spica"       ? 0.01244
                                     : s.name == "Aldebaran" ? 0.05009
                                                             : 1e-3;
      eraStarpm(s.right_ascension_deg * d2r, s.declination_deg * d2r, pmr, pmd, parallax_arcsec,
                0.0, 2451545.0, 0.0, jd, 0.0, &ra, &dec, &pmr2, &pmd2, &px2, &rv2);
      double p[3], rm[3][3], e[3];
      eraS2c(ra, dec, p);
      eraEcm06(jd, 0.0, rm);
      eraRxp(rm, p, e);
      const double lambda = std::atan2(e[1], e[0]) / d2r;
      const double sidereal = *sidereal_longitude_deg(d.mode, lambda, jd);
      EXPECT_NEAR(angle_diff_deg(sidereal, d.star_sidereal_longitude_deg) * 3600.0, 0.0, 1e-3)
          << d.name << " " << jd;
    }
  }
}

TEST(AyanamshaTable, OwnDefinitionsEvaluateLikeTheRows) {
  // A user's row equal to a table row gives the same value; a changed
  // anchor moves the value by exactly the change.
  for (const auto& d : ayanamsha_definitions()) {
    AyanamshaDefinition own = d;
    own.name = "mine";
    EXPECT_EQ(*ayanamsha_deg(own, 2460000.5), *ayanamsha_deg(d.mode, 2460000.5)) << d.name;
  }
  AyanamshaDefinition shifted = ayanamsha_definitions()[static_cast<int>(Ayanamsha::Raman)];
  shifted.value_at_epoch_deg += 0.25;
  EXPECT_NEAR(*ayanamsha_deg(shifted, 2460000.5) - *ayanamsha_deg(Ayanamsha::Raman, 2460000.5),
              0.25, 1e-12);
  AyanamshaDefinition no_star = ayanamsha_definitions()[static_cast<int>(Ayanamsha::TrueChitra)];
  no_star.star = nullptr;
  EXPECT_EQ(ayanamsha_deg(no_star, 2460000.5).error(), CoordinateError::NonFiniteState);
}

TEST(AyanamshaTable, SiderealLongitudeWrapsAndRejectsNonFinite) {
  const double jd = 2451545.0;
  const double a = *ayanamsha_deg(Ayanamsha::Lahiri, jd);
  EXPECT_NEAR(*sidereal_longitude_deg(Ayanamsha::Lahiri, 10.0, jd), 370.0 - a, 1e-12);
  EXPECT_NEAR(*sidereal_longitude_deg(Ayanamsha::Lahiri, 100.0, jd), 100.0 - a, 1e-12);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(ayanamsha_deg(Ayanamsha::TrueChitra, nan).error(), CoordinateError::NonFiniteState);
  EXPECT_EQ(sidereal_longitude_deg(Ayanamsha::Raman, nan, jd).error(),
            CoordinateError::NonFiniteState);
  EXPECT_EQ(sidereal_longitude_deg(Ayanamsha::Raman, 1.0, nan).error(),
            CoordinateError::NonFiniteState);
}

// pyswisseph's mean ayanamshas (without nutation) over 1900-2050. Each bound
// (arcseconds) is the measured difference rounded up, with its cause.
struct SwissBound {
  Ayanamsha mode;
  double arcsec;
};
constexpr SwissBound SWISS_BOUNDS[] = {
    // Ours: 23 deg 15' 00" at 1956-03-21 0h as the mean value (sidereal.cpp);
    // pyswisseph's Lahiri is 23 deg 14' 44.0" there, the committee's
    // 23 deg 15' 00.658" of the true equinox less the nutation (+16.8"):
    // a constant +16.0".
    {Ayanamsha::Lahiri, 16.1},
    // The committee's definition itself: the remaining +0.95" is the two
    // programs' nutation at the epoch and precession since.
    {Ayanamsha::LahiriIcrc, 1.0},
    // Same anchor at B1950; the epoch's Julian date or the anchor's last
    // digit differs: a constant +0.41".
    {Ayanamsha::FaganBradley, 0.5},
    // Zero-point conventions: p_A back to the zero epoch against the
    // other program's own precession series, a few tenths over 1.5-2
    // millennia.
    {Ayanamsha::DeLuce, 0.5},
    {Ayanamsha::Raman, 0.5},
    {Ayanamsha::Sassanian, 0.5},
    {Ayanamsha::BabylonianHuber, 0.5},
    {Ayanamsha::BabylonianKugler1, 0.5},
    {Ayanamsha::BabylonianKugler2, 0.5},
    {Ayanamsha::BabylonianKugler3, 0.5},
    {Ayanamsha::Hipparchos, 0.5},
    // Mercier's eta Piscium epoch, JD 1673941.0, is a noon; the other
    // program's anchor differs by a constant -1.40".
    {Ayanamsha::BabylonianEtaPiscium, 1.5},
    {Ayanamsha::Ushashashi, 0.01},
    {Ayanamsha::Suryasiddhanta, 0.5},
    // Krishnamurti, zero in AD 291: pyswisseph's mode of that definition
    // (SIDM_KRISHNAMURTI_VP291); its plain Krishnamurti mode has a zero
    // about 1.4 years later and lies 72.2" below both.
    {Ayanamsha::Krishnamurti, 0.5},
    // Djwhal Khul: 30 deg on 2117 January 1 against 30 deg about five
    // months later in pyswisseph: a constant +20.1".
    {Ayanamsha::DjwhalKhul, 20.5},
    // The epochs themselves: precession models alone (milliarcseconds).
    {Ayanamsha::J2000, 0.01},
    {Ayanamsha::J1900, 0.01},
    {Ayanamsha::B1950, 0.01},
    // True Chitra: pyswisseph places Spica's apparent position (annual
    // aberration, up to 20.5") at 180 deg; we place the catalogue position.
    {Ayanamsha::TrueChitra, 21.0},
    // pyswisseph's Aldebaran convention is a fixed value carried by
    // precession, ours is the star itself at 45 deg of date: +104" at 1900
    // growing with Aldebaran's proper motion in longitude to +111" at 2050.
    {Ayanamsha::Aldebaran15Tau, 112.0},
    // A different galactic-centre point (about -44") plus pyswisseph's
    // annual aberration (+-20.5").
    {Ayanamsha::GalacticCentre0Sag, 65.0},
};

TEST(AyanamshaReference, AgreesWithPyswissephWithinEachDefinitionsBound) {
  const auto records = tarvex_test::read_swisseph_reference("swisseph_ayanamshas.txt");
  if (!records) GTEST_SKIP() << "no swisseph_ayanamshas.txt in TARVEX_REFERENCE_DIR";
  std::map<Ayanamsha, double> worst, lowest, highest;
  std::map<Ayanamsha, int> count;
  for (const auto& rec : *records) {
    ASSERT_EQ(rec.size(), 3u);
    const auto mode = ayanamsha_from_name(rec[0]);
    ASSERT_TRUE(mode) << rec[0];
    const double jd = number(rec[1]);
    const double d = angle_diff_deg(*ayanamsha_deg(*mode, jd), number(rec[2])) * 3600.0;
    if (!count[*mode]++) lowest[*mode] = highest[*mode] = d;
    lowest[*mode] = std::min(lowest[*mode], d);
    highest[*mode] = std::max(highest[*mode], d);
    worst[*mode] = std::max(worst[*mode], std::fabs(d));
  }
  for (const auto& b : SWISS_BOUNDS) {
    EXPECT_GT(count[b.mode], 50) << name(b.mode);
    EXPECT_LE(worst[b.mode], b.arcsec) << name(b.mode);
    std::cout << "  " << name(b.mode) << ": ours - pyswisseph in [" << lowest[b.mode] << ", "
              << highest[b.mode] << "] arcsec\n";
  }
}
