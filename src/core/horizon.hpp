// Hour angle at which a body of given declination crosses an altitude.
#pragma once

#include <cstdint>
#include <expected>

#include "core/errors.hpp"

namespace tarvex::core {

// Altitude of the Sun's centre at rise/set of its upper limb (-50').
inline constexpr double SUN_UPPER_LIMB_ALTITUDE_DEG = -50.0 / 60.0;
// Altitude of a point source at rise/set with mean refraction (-34').
inline constexpr double MEAN_REFRACTION_ALTITUDE_DEG = -34.0 / 60.0;

struct HourAngleOutcome {
  enum class Kind : std::uint8_t { Crosses, AlwaysAbove, AlwaysBelow };
  Kind kind = Kind::Crosses;
  double hour_angle_rad = 0.0;  // H0 in [0, pi] when kind is Crosses
};

// Latitude, declination and altitude in radians.
std::expected<HourAngleOutcome, CoordinateError> rise_set_hour_angle(double latitude_rad,
                                                                     double declination_rad,
                                                                     double altitude_rad);

}  // namespace tarvex::core
