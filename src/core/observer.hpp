// A geodetic site on the Earth: its validation, its position and velocity in
// the GCRS, and the local apparent sidereal time of its meridian (IAU 2006
// GMST with the Earth rotation angle, IAU 2000B nutation, equinox-based).
#pragma once

#include <array>
#include <expected>

#include "core/errors.hpp"
#include "core/types.hpp"

namespace tarvex::core {

// The GRS80 ellipsoid of every site (and of the kit's eclipse geometry):
// equatorial radius, first eccentricity squared and 1 - e^2.
inline constexpr double GRS80_EQUATORIAL_RADIUS_M = 6378137.0;
inline constexpr double GRS80_E2 = 0.006694380022900787;
inline constexpr double GRS80_ONE_MINUS_E2 = 0.9933056199770992;

// The observer unchanged, or NonFiniteState / InvalidLatitude.
std::expected<GeodeticObserver, CoordinateError> validate(const GeodeticObserver& observer);

// Site position (km) and velocity (km/s) in the GCRS at the given UT1 and TT
// Julian dates, with polar motion xp, yp in arcseconds.
std::expected<CartesianState, CoordinateError> observer_gcrs_from_geodetic(
    const GeodeticObserver& observer, double ut1, double tt, double xp_arcsec, double yp_arcsec);

// Greenwich apparent sidereal time plus the east longitude, radians in
// [0, 2*pi). The one sidereal time of the system.
double local_apparent_sidereal_time_iau2006(double longitude_east_rad, double ut1, double tt);

// The pieces of that sidereal time, for callers and tests that need them.
// Earth rotation angle (IAU 2000, IERS 2010 constants), radians in [0, 2*pi).
double earth_rotation_angle_iau2000(double ut1);
// Greenwich mean sidereal time, IAU 2006, radians in [0, 2*pi).
double greenwich_mean_sidereal_time_iau2006(double ut1, double tt);
// Greenwich apparent sidereal time, radians in [0, 2*pi), from an IAU 2000B
// nutation in longitude (radians, at TT) the caller already holds; the
// two-argument form evaluates that nutation itself.
double greenwich_apparent_sidereal_time_iau2006(double ut1, double tt, double delta_psi_rad);
double greenwich_apparent_sidereal_time_iau2006(double ut1, double tt);

// TIO locator s' (IERS Conventions 2010, eq. 5.13), radians at a TT Julian
// day: -47 microarcseconds per century.
double tio_locator_rad(double tt);

// Terrestrial (ITRS) position of a site on the GRS80 ellipsoid in km, before
// polar motion and Earth rotation. No validation.
std::array<double, 3> itrs_position_from_geodetic_km(const GeodeticObserver& observer);

}  // namespace tarvex::core
