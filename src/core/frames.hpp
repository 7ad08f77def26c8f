// Frame mathematics: IAU 2000B nutation, the IAU 2006 (Fukushima-Williams)
// rotation from the kernels' J2000 frame to the equator or ecliptic of date,
// the fixed rotation to the J2000 ecliptic, and spherical conversion.
#pragma once

#include <expected>
#include <utility>

#include "core/errors.hpp"
#include "core/types.hpp"

namespace tarvex::core {

// (delta psi, delta epsilon) in radians at a TDB Julian date.
std::pair<double, double> nutation_iau2000b(double tdb_julian_day);

// IAU 2006 mean obliquity of the ecliptic, radians, at a Julian date (TT or
// TDB; the difference is far below its precision).
double mean_obliquity_iau2006(double julian_day);

class OfDateRotation {
 public:
  // The rotation for one instant; with nutation it refers to the true
  // equator/ecliptic and equinox of date, without to the mean ones.
  static OfDateRotation create(bool nutation, bool equatorial, double tdb_julian_day);
  // The true-of-date rotation from a nutation (radians) the caller already
  // holds, so that a site state and its sidereal time share one series.
  static OfDateRotation with_nutation(double delta_psi_rad, double delta_epsilon_rad,
                                      bool equatorial, double tdb_julian_day);

  std::expected<CartesianState, CoordinateError> apply(const CartesianState& state) const;
  std::expected<CartesianState, CoordinateError> apply_inverse(const CartesianState& state) const;

  bool equatorial() const noexcept { return equatorial_; }

 private:
  double sin_gamma_ = 0, cos_gamma_ = 1, sin_phi_ = 0, cos_phi_ = 1;
  double sin_psi_ = 0, cos_psi_ = 1, sin_eps_ = 0, cos_eps_ = 1;
  bool equatorial_ = true;
};

std::expected<CartesianState, CoordinateError> to_j2000_ecliptic(const CartesianState& state);
std::expected<SphericalCoordinates, CoordinateError> to_spherical(const CartesianState& state);

}  // namespace tarvex::core
