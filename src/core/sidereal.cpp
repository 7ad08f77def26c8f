// Ayanamsha from the IAU 2006 accumulated general precession in longitude
// (Capitaine et al. 2003, P03 p_A), anchored at each convention's reference
// epoch: ayanamsha(T) = A0 + (p_A(T) - p_A(T0)).
#include "core/sidereal.hpp"

#include <array>
#include <cmath>

#include "core/angles.hpp"

namespace tarvex::core {
namespace {

// p_A in arcseconds, constant term first.
constexpr std::array<double, 6> GENERAL_PRECESSION_ARCSEC = {
    0.0, 5028.796195, 1.1054348, 0.00007964, -0.000023857, -0.0000000383};
// d p_A / dT in arcseconds per century.
constexpr std::array<double, 5> GENERAL_PRECESSION_RATE_ARCSEC = {
    5028.796195, 2.2108696, 0.00023892, -0.000095428, -0.0000001915};
// Arcseconds per century to degrees per day: 36525 * 3600.
constexpr double ARCSEC_PER_CENTURY_PER_DEG_PER_DAY = 131490000.0;

struct AyanamshaAnchor {
  double t0_centuries;  // reference epoch, Julian centuries from J2000 (TT)
  double value_deg;     // ayanamsha at that epoch
};

// Lahiri: 23 deg 15' at 1956 March 21, 0h (JD 2435553.5).
// Fagan-Bradley: 24 deg 02' 31.36" at B1950.0 (JD 2433282.42345905).
constexpr AyanamshaAnchor anchor(SiderealMode mode) {
  switch (mode) {
    case SiderealMode::FaganBradley: return {-0.500002095577008, 24.042044444444446};
    case SiderealMode::Lahiri: break;
  }
  return {-0.43782340862422997, 23.25};
}

}  // namespace

std::expected<double, CoordinateError> ayanamsha_deg(double tt_julian_day, SiderealMode mode) {
  if (!std::isfinite(tt_julian_day)) return std::unexpected(CoordinateError::NonFiniteState);
  const double t = julian_centuries_since_j2000(tt_julian_day);
  const AyanamshaAnchor a = anchor(mode);
  return a.value_deg + (horner_fma(t, GENERAL_PRECESSION_ARCSEC) -
                        horner_fma(a.t0_centuries, GENERAL_PRECESSION_ARCSEC)) /
                           3600.0;
}

std::expected<double, CoordinateError> ayanamsha_rate_deg_per_day(double tt_julian_day) {
  if (!std::isfinite(tt_julian_day)) return std::unexpected(CoordinateError::NonFiniteState);
  const double t = julian_centuries_since_j2000(tt_julian_day);
  return horner_fma(t, GENERAL_PRECESSION_RATE_ARCSEC) / ARCSEC_PER_CENTURY_PER_DEG_PER_DAY;
}

}  // namespace tarvex::core
