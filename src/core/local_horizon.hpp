// Altitude, azimuth and hour angle of an apparent place of date seen from a
// geodetic site: the true equator and equinox of date turned to the
// terrestrial frame by the Greenwich apparent sidereal time, to the ITRS by
// the inverse polar motion, and to the site's east-north-up axes on the
// GRS80 normal. The same sidereal time and pole as the topocentric observer
// (observer.hpp), so the rotation undoes exactly what placed the site.
// References: IERS Conventions 2010, eq. 5.3 and 5.15 (polar motion with the
// TIO locator s'); Explanatory Supplement to the Astronomical Almanac (3rd
// ed., 2013), sec. 7.1.3 (horizon coordinates from the terrestrial frame).
#pragma once

#include <array>
#include <expected>

#include "core/errors.hpp"
#include "core/types.hpp"

namespace tarvex::core {

using Matrix3 = std::array<std::array<double, 3>, 3>;

struct HorizonCoordinates {
  double altitude_deg = 0.0;    // above the plane normal to the ellipsoid normal
  double azimuth_deg = 0.0;     // from north through east, [0, 360)
  double hour_angle_deg = 0.0;  // west of the site's meridian, (-180, 180]
};

// Rows are the site's east, north and up unit vectors expressed in the true
// equator and equinox of date at the given UT1 and TT Julian days, polar
// motion xp, yp in arcseconds. NonFiniteState / InvalidLatitude on bad input.
std::expected<Matrix3, CoordinateError> local_horizon_rotation(const GeodeticObserver& site,
                                                               double ut1, double tt,
                                                               double xp_arcsec, double yp_arcsec);

// Horizon coordinates of a direction given as right ascension and
// declination of date (degrees), with a rotation from local_horizon_rotation
// for the same site (whose geodetic latitude fixes the meridian plane).
HorizonCoordinates horizon_from_equatorial(const Matrix3& rotation, double latitude_deg,
                                           double right_ascension_deg, double declination_deg);

}  // namespace tarvex::core
