// Horizon coordinates against ERFA's pieces: the polar-motion matrix
// (eraPom00 with eraSp00), the frame rotation by the sidereal time (eraRz)
// and the hour angle/declination to azimuth/elevation transformation
// (eraHd2ae). The sidereal time is ours, checked against ERFA in
// observer_test.cpp.
#include "core/local_horizon.hpp"

#include <erfa.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "core/observer.hpp"

using namespace tarvex::core;

namespace {

constexpr double DEG = 0.017453292519943295;
constexpr double ARCSEC = 4.84813681109536e-6;

struct Reference {
  double altitude_deg, azimuth_deg, hour_angle_deg;
};

Reference erfa_horizon(const GeodeticObserver& site, double ut1, double tt, double xp, double yp,
                       double ra_deg, double dec_deg) {
  double v[3];
  eraS2c(ra_deg * DEG, dec_deg * DEG, v);
  double r[3][3];
  eraIr(r);
  eraRz(greenwich_apparent_sidereal_time_iau2006(ut1, tt), r);
  double tirs[3];
  eraRxp(r, v, tirs);
  double pom[3][3];
  eraPom00(xp * ARCSEC, yp * ARCSEC, eraSp00(tt, 0.0), pom);
  double itrs[3];
  eraRxp(pom, tirs, itrs);
  double ra_itrs = 0, dec_itrs = 0;
  eraC2s(itrs, &ra_itrs, &dec_itrs);
  const double ha = eraAnpm(site.longitude_east_deg * DEG - ra_itrs);
  double az = 0, el = 0;
  eraHd2ae(ha, dec_itrs, site.latitude_deg * DEG, &az, &el);
  return {el / DEG, az / DEG, ha / DEG};
}

double degrees_apart(double a, double b) { return std::remainder(a - b, 360.0); }

}  // namespace

TEST(LocalHorizon, MatchesErfaOverSitesTimesAndPoles) {
  std::mt19937_64 rng(18);
  std::uniform_real_distribution<double> lon(-180.0, 180.0), lat(-89.9, 89.9),
      day(2415020.5, 2488069.5), pole(-0.6, 0.6), ra(0.0, 360.0), sine(-1.0, 1.0),
      height(-400.0, 8000.0);
  double worst = 0.0;
  for (int i = 0; i < 3000; ++i) {
    const GeodeticObserver site{lon(rng), lat(rng), height(rng)};
    const double ut1 = day(rng);
    const double tt = ut1 + 65.0 / 86400.0;
    const double xp = pole(rng), yp = pole(rng);
    const auto rotation = local_horizon_rotation(site, ut1, tt, xp, yp);
    ASSERT_TRUE(rotation.has_value());
    const double alpha = ra(rng), delta = std::asin(sine(rng)) / DEG;
    const HorizonCoordinates ours =
        horizon_from_equatorial(*rotation, site.latitude_deg, alpha, delta);
    const Reference theirs = erfa_horizon(site, ut1, tt, xp, yp, alpha, delta);
    ASSERT_GE(ours.azimuth_deg, 0.0);
    ASSERT_LT(ours.azimuth_deg, 360.0);
    ASSERT_GT(ours.hour_angle_deg, -180.0);
    ASSERT_LE(ours.hour_angle_deg, 180.0);
    worst = std::max(worst, std::fabs(ours.altitude_deg - theirs.altitude_deg));
    worst = std::max(worst, std::fabs(degrees_apart(ours.hour_angle_deg, theirs.hour_angle_deg)) *
                                std::cos(delta * DEG));
    if (std::fabs(theirs.altitude_deg) < 89.0) {
      worst = std::max(worst, std::fabs(degrees_apart(ours.azimuth_deg, theirs.azimuth_deg)) *
                                  std::cos(theirs.altitude_deg * DEG));
    }
  }
  // Both evaluate the same rotations in a different order: a few
  // microarcseconds at most.
  EXPECT_LT(worst * 3600.0, 1e-5);
}

TEST(LocalHorizon, PoleTiltsTheHorizonByItsOwnSize) {
  // A star at the celestial pole of date stands at the geodetic latitude
  // without polar motion, and moves by about the pole offset with it.
  const GeodeticObserver site{0.0, 52.0, 0.0};
  const double ut1 = 2455000.5, tt = ut1 + 66.0 / 86400.0;
  const auto still = local_horizon_rotation(site, ut1, tt, 0.0, 0.0);
  const auto moved = local_horizon_rotation(site, ut1, tt, 0.3, 0.0);
  ASSERT_TRUE(still && moved);
  const double at_pole = horizon_from_equatorial(*still, 52.0, 0.0, 90.0).altitude_deg;
  EXPECT_NEAR(at_pole, 52.0, 1e-9);
  const double tilted = horizon_from_equatorial(*moved, 52.0, 0.0, 90.0).altitude_deg;
  // x points toward Greenwich, the site's meridian.
  EXPECT_NEAR(std::fabs(tilted - at_pole) * 3600.0, 0.3, 1e-3);
}

TEST(LocalHorizon, RefusesBadSitesAndNonFiniteInputs) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(local_horizon_rotation({0.0, 91.0, 0.0}, 2451545.0, 2451545.0, 0.0, 0.0).error(),
            CoordinateError::InvalidLatitude);
  EXPECT_EQ(local_horizon_rotation({nan, 10.0, 0.0}, 2451545.0, 2451545.0, 0.0, 0.0).error(),
            CoordinateError::NonFiniteState);
  for (int k = 0; k < 4; ++k) {
    double values[4] = {2451545.0, 2451545.0, 0.1, 0.1};
    values[k] = nan;
    const auto refused =
        local_horizon_rotation({0.0, 10.0, 0.0}, values[0], values[1], values[2], values[3]);
    EXPECT_EQ(refused.error(), CoordinateError::NonFiniteState);
  }
}
