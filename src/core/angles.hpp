// Angle constants, range reduction and the fused Horner evaluation shared by
// the frame, observer, sidereal and house code.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>

namespace tarvex::core {

inline constexpr double ARCSEC_TO_RAD = 4.84813681109536e-6;  // pi / 648000
inline constexpr double DEG_TO_RAD = 0.017453292519943295;    // pi / 180
inline constexpr double RAD_TO_DEG = 57.29577951308232;       // 180 / pi
inline constexpr double PI_RAD = 3.141592653589793;
inline constexpr double TWO_PI_RAD = 6.283185307179586;
inline constexpr double DAYS_PER_JULIAN_CENTURY = 36525.0;

// fmod by the period, plus one period when negative. A tiny negative input
// would land exactly on the period after the addition; that is the start of
// the circle again, so the result stays inside [0, period). Inside one
// period either way fmod returns its argument exactly (signed zeros
// included), so the call is skipped there.
inline double normalize_period(double angle, double period) {
  double r = std::fabs(angle) < period ? angle : std::fmod(angle, period);
  if (r < 0.0) r += period;
  return r >= period ? 0.0 : r;
}
inline double normalize_radians(double angle_rad) {
  return normalize_period(angle_rad, TWO_PI_RAD);
}
inline double normalize_degrees(double angle_deg) { return normalize_period(angle_deg, 360.0); }

// Julian centuries since J2000 of a Julian date in the same scale.
inline double julian_centuries_since_j2000(double julian_day) {
  return (julian_day - 2451545.0) / DAYS_PER_JULIAN_CENTURY;
}

// c[0] + c[1] t + ... by Horner's rule from the highest power, one fused
// multiply-add per step, as the IAU polynomials are specified.
template <std::size_t N>
inline double horner_fma(double t, const std::array<double, N>& c) {
  double acc = c[N - 1];
  for (std::size_t i = N - 1; i-- > 0;) acc = std::fma(acc, t, c[i]);
  return acc;
}

}  // namespace tarvex::core
