// Horizon coordinates from the true equator and equinox of date.
//   Terrestrial frame: R3(GAST), GAST of observer.cpp (IAU 2006 GMST with the
//   Earth rotation angle, IAU 2000B equation of the equinoxes).
//   Polar motion: ITRS = R1(-yp) R2(-xp) R3(s') TIRS, the inverse of the
//   matrix of IERS Conventions 2010 eq. 5.3 that observer.cpp applies.
//   Local axes: east, north and up of the GRS80 normal at the geodetic
//   latitude and longitude.
// The rotation is built by carrying the site's three axes from the ITRS to
// the frame of date with the same steps, in the same order, as the site
// itself is carried in observer_gcrs_from_geodetic.
#include "core/local_horizon.hpp"

#include <cmath>

#include "core/angles.hpp"
#include "core/observer.hpp"

namespace tarvex::core {
namespace {

struct TerrestrialToDate {
  double sin_xp, cos_xp, sin_yp, cos_yp, sin_sp, cos_sp, sin_theta, cos_theta;

  std::array<double, 3> apply(const std::array<double, 3>& v) const {
    const double y1 = cos_yp * v[1] + sin_yp * v[2];
    const double z1 = -sin_yp * v[1] + cos_yp * v[2];
    const double x2 = cos_xp * v[0] - sin_xp * z1;
    const double z2 = sin_xp * v[0] + cos_xp * z1;
    const double x3 = cos_sp * x2 - sin_sp * y1;
    const double y3 = sin_sp * x2 + cos_sp * y1;
    return {cos_theta * x3 - sin_theta * y3, sin_theta * x3 + cos_theta * y3, z2};
  }
};

}  // namespace

std::expected<Matrix3, CoordinateError> local_horizon_rotation(const GeodeticObserver& site,
                                                               double ut1, double tt,
                                                               double xp_arcsec, double yp_arcsec) {
  if (auto valid = validate(site); !valid) return std::unexpected(valid.error());
  if (!std::isfinite(ut1) || !std::isfinite(tt) || !std::isfinite(xp_arcsec) ||
      !std::isfinite(yp_arcsec))
    return std::unexpected(CoordinateError::NonFiniteState);

  const double xp = xp_arcsec * ARCSEC_TO_RAD;
  const double yp = yp_arcsec * ARCSEC_TO_RAD;
  const double s_prime = tio_locator_rad(tt);
  const double theta = greenwich_apparent_sidereal_time_iau2006(ut1, tt);
  const TerrestrialToDate to_date{std::sin(xp),      std::cos(xp),      std::sin(yp),
                                  std::cos(yp),      std::sin(s_prime), std::cos(s_prime),
                                  std::sin(theta),   std::cos(theta)};

  const double phi = site.latitude_deg * DEG_TO_RAD;
  const double lambda = site.longitude_east_deg * DEG_TO_RAD;
  const double sin_phi = std::sin(phi), cos_phi = std::cos(phi);
  const double sin_lambda = std::sin(lambda), cos_lambda = std::cos(lambda);
  const std::array<double, 3> east{-sin_lambda, cos_lambda, 0.0};
  const std::array<double, 3> north{-sin_phi * cos_lambda, -sin_phi * sin_lambda, cos_phi};
  const std::array<double, 3> up{cos_phi * cos_lambda, cos_phi * sin_lambda, sin_phi};
  return Matrix3{to_date.apply(east), to_date.apply(north), to_date.apply(up)};
}

HorizonCoordinates horizon_from_equatorial(const Matrix3& rotation, double latitude_deg,
                                           double right_ascension_deg, double declination_deg) {
  const double alpha = right_ascension_deg * DEG_TO_RAD;
  const double delta = declination_deg * DEG_TO_RAD;
  const double cos_delta = std::cos(delta);
  const std::array<double, 3> u{cos_delta * std::cos(alpha), cos_delta * std::sin(alpha),
                                std::sin(delta)};
  const auto dot = [&u](const std::array<double, 3>& row) {
    return row[0] * u[0] + row[1] * u[1] + row[2] * u[2];
  };
  const double e = dot(rotation[0]);
  const double n = dot(rotation[1]);
  const double z = dot(rotation[2]);
  // The terrestrial pole lies in the meridian plane at (0, cos phi, sin phi)
  // of the local axes; the hour angle is measured about it, westwards.
  const double phi = latitude_deg * DEG_TO_RAD;
  const double toward_equator = -std::sin(phi) * n + std::cos(phi) * z;
  HorizonCoordinates out;
  out.altitude_deg = std::atan2(z, std::hypot(e, n)) * RAD_TO_DEG;
  out.azimuth_deg = normalize_degrees(std::atan2(e, n) * RAD_TO_DEG);
  out.hour_angle_deg = std::atan2(-e, toward_equator) * RAD_TO_DEG;
  return out;
}

}  // namespace tarvex::core
