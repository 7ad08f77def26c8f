// A geodetic site on the Earth: its validation, its position and velocity in
// the GCRS, and the local apparent sidereal time of its meridian (IAU 2006
// GMST with the Earth rotation angle, IAU 2000B nutation, equinox-based).
#pragma once

#include <expected>

#include "core/errors.hpp"
#include "core/types.hpp"

namespace tarvex::core {

// The observer unchanged, or NonFiniteState / InvalidLatitude.
std::expected<GeodeticObserver, CoordinateError> validate(const GeodeticObserver& observer);

// Site position (km) and velocity (km/s) in the GCRS at the given UT1 and TT
// Julian dates, with polar motion xp, yp in arcseconds.
std::expected<CartesianState, CoordinateError> observer_gcrs_from_geodetic(const GeodeticObserver& observer,
                                                                           double ut1, double tt,
                                                                           double xp_arcsec,
                                                                           double yp_arcsec);

// Greenwich apparent sidereal time plus the east longitude, radians in
// [0, 2*pi). The one sidereal time of the system.
double local_apparent_sidereal_time_iau2006(double longitude_east_rad, double ut1, double tt);

}  // namespace tarvex::core
