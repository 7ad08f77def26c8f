// A geodetic site and the Earth's rotation.
//   Ellipsoid: GRS80. Earth rotation angle: IAU 2000 (IERS Conventions 2010,
//   eq. 5.15). GMST: IAU 2006 (Capitaine et al. 2005). Equation of the
//   equinoxes: IAU 2000B nutation with the two largest complementary terms.
//   Polar motion with the TIO locator s' = -47 microarcseconds per century.
// Equinox-based chain: ITRS -> polar motion -> R3(-GAST) -> inverse
// precession-nutation (frames.cpp) -> GCRS.
#include "core/observer.hpp"

#include <array>
#include <cmath>

#include "core/angles.hpp"
#include "core/frames.hpp"

namespace tarvex::core {
namespace {

constexpr double EARTH_ROTATION_RATE_RAD_PER_S = 7.292115e-5;
constexpr double TIO_LOCATOR_RATE_RAD_PER_CENTURY = -2.278624301214819e-10;
constexpr double ERA_AT_J2000_TURNS = 0.779057273264;
constexpr double ERA_RATE_EXCESS_TURNS_PER_DAY = 0.00273781191135448;

// GMST minus ERA, IAU 2006, arcseconds; constant term first.
constexpr std::array<double, 6> GMST_MINUS_ERA_ARCSEC = {0.014506,    4612.156534,  1.3915817,
                                                         -0.00000044, -0.000029956, -0.0000000368};

bool observer_finite(const GeodeticObserver& o) {
  return std::isfinite(o.longitude_east_deg) && std::isfinite(o.latitude_deg) &&
         std::isfinite(o.height_m);
}

}  // namespace

std::expected<GeodeticObserver, CoordinateError> validate(const GeodeticObserver& observer) {
  // Finiteness first: a NaN latitude is a non-finite state, not a bad latitude.
  if (!observer_finite(observer)) return std::unexpected(CoordinateError::NonFiniteState);
  if (std::fabs(observer.latitude_deg) > 90.0)
    return std::unexpected(CoordinateError::InvalidLatitude);
  return observer;
}

double tio_locator_rad(double tt) {
  return TIO_LOCATOR_RATE_RAD_PER_CENTURY * julian_centuries_since_j2000(tt);
}

double earth_rotation_angle_iau2000(double ut1) {
  // The fraction of the day is taken apart first so that the large day count
  // only multiplies the small excess rate.
  double f = std::fmod(ut1, 1.0);
  if (f < 0.0) f += 1.0;
  const double du = ut1 - 2451545.0;
  return normalize_radians(TWO_PI_RAD *
                           std::fma(du, ERA_RATE_EXCESS_TURNS_PER_DAY, f + ERA_AT_J2000_TURNS));
}

double greenwich_mean_sidereal_time_iau2006(double ut1, double tt) {
  const double t = julian_centuries_since_j2000(tt);
  return normalize_radians(earth_rotation_angle_iau2000(ut1) +
                           horner_fma(t, GMST_MINUS_ERA_ARCSEC) * ARCSEC_TO_RAD);
}

double greenwich_apparent_sidereal_time_iau2006(double ut1, double tt, double delta_psi_rad) {
  const double t = julian_centuries_since_j2000(tt);
  const double gmst = greenwich_mean_sidereal_time_iau2006(ut1, tt);
  const double eps_a = mean_obliquity_iau2006(tt);
  // Mean longitude of the Moon's node; only its sine enters.
  const double omega = std::fmod(450160.398036 - 6962890.5431 * t, 1296000.0) * ARCSEC_TO_RAD;
  // The two complementary terms above 1 microarcsecond keep the equation of
  // the equinoxes consistent with the CIO-based Earth rotation angle.
  const double ct_arcsec = 0.00264096 * std::sin(omega) + 0.00006352 * std::sin(2.0 * omega);
  return normalize_radians(delta_psi_rad * std::cos(eps_a) + gmst + ct_arcsec * ARCSEC_TO_RAD);
}

double greenwich_apparent_sidereal_time_iau2006(double ut1, double tt) {
  return greenwich_apparent_sidereal_time_iau2006(ut1, tt, nutation_iau2000b(tt).first);
}

double local_apparent_sidereal_time_iau2006(double longitude_east_rad, double ut1, double tt) {
  return normalize_radians(greenwich_apparent_sidereal_time_iau2006(ut1, tt) + longitude_east_rad);
}

std::array<double, 3> itrs_position_from_geodetic_km(const GeodeticObserver& observer) {
  const double phi = observer.latitude_deg * DEG_TO_RAD;
  const double lambda = observer.longitude_east_deg * DEG_TO_RAD;
  const double h = observer.height_m;
  const double sin_phi = std::sin(phi);
  const double cos_phi = std::cos(phi);
  // Prime-vertical radius of curvature.
  const double n =
      GRS80_EQUATORIAL_RADIUS_M / std::sqrt(std::fma(sin_phi * sin_phi, -GRS80_E2, 1.0));
  const double rho = (h + n) * cos_phi;
  return {std::cos(lambda) * rho / 1000.0, rho * std::sin(lambda) / 1000.0,
          (n * GRS80_ONE_MINUS_E2 + h) * sin_phi / 1000.0};
}

std::expected<CartesianState, CoordinateError> observer_gcrs_from_geodetic(
    const GeodeticObserver& observer, double ut1, double tt, double xp_arcsec, double yp_arcsec) {
  if (auto valid = validate(observer); !valid) return std::unexpected(valid.error());
  if (!std::isfinite(xp_arcsec) || !std::isfinite(yp_arcsec) || !std::isfinite(ut1) ||
      !std::isfinite(tt))
    return std::unexpected(CoordinateError::NonFiniteState);

  const auto [x_itrs, y_itrs, z_itrs] = itrs_position_from_geodetic_km(observer);

  // Polar motion R3(-s') R2(xp) R1(yp): ITRS to the terrestrial intermediate frame.
  const double s_prime = tio_locator_rad(tt);
  const double xp = xp_arcsec * ARCSEC_TO_RAD;
  const double yp = yp_arcsec * ARCSEC_TO_RAD;
  const double sin_yp = std::sin(yp), cos_yp = std::cos(yp);
  const double sin_xp = std::sin(xp), cos_xp = std::cos(xp);
  const double sin_sp = std::sin(s_prime), cos_sp = std::cos(s_prime);
  const double y1 = cos_yp * y_itrs + sin_yp * z_itrs;
  const double z1 = -sin_yp * y_itrs + cos_yp * z_itrs;
  const double x2 = cos_xp * x_itrs - sin_xp * z1;
  const double z2 = sin_xp * x_itrs + cos_xp * z1;
  const double x3 = cos_sp * x2 - sin_sp * y1;
  const double y3 = sin_sp * x2 + cos_sp * y1;

  // The site moves with the Earth's rotation only; precession, nutation and
  // polar-motion rates add well under a micrometre per second.
  const double vx = -EARTH_ROTATION_RATE_RAD_PER_S * y3;
  const double vy = EARTH_ROTATION_RATE_RAD_PER_S * x3;

  // One nutation series serves the sidereal time and the rotation to GCRS.
  const auto [dpsi, deps] = nutation_iau2000b(tt);
  const double theta = greenwich_apparent_sidereal_time_iau2006(ut1, tt, dpsi);
  const double sin_theta = std::sin(theta), cos_theta = std::cos(theta);

  CartesianState of_date;
  of_date.position = {cos_theta * x3 - sin_theta * y3, sin_theta * x3 + cos_theta * y3, z2};
  of_date.velocity = {cos_theta * vx - sin_theta * vy, sin_theta * vx + cos_theta * vy, 0.0};

  return OfDateRotation::with_nutation(dpsi, deps, true, tt).apply_inverse(of_date);
}

}  // namespace tarvex::core
