// Direction corrections of the position pipeline: the rotation between two
// unit vectors, classical first-order stellar aberration, and relativistic
// light deflection by the Sun alone. Both corrections turn the direction of
// the relative state and keep its length.
#pragma once

#include <array>

#include "core/types.hpp"

namespace tarvex::spk {

using Vec3 = std::array<double, 3>;

// 1 / c in s/km, stored as such.
inline constexpr double INVERSE_SPEED_OF_LIGHT_S_PER_KM = 3.3356409519815205e-6;
inline constexpr double SPEED_OF_LIGHT_KM_PER_S = 299792.458;
// 2 GM_sun / c^2 in km (from GM_sun = 1.32712442099e20 m^3/s^2).
inline constexpr double SUN_SCHWARZSCHILD_RADIUS_KM = 2.9532501228092993;
// Below this, 1 + q.e is treated as "target directly behind the Sun".
inline constexpr double DEFLECTION_GUARD = 1e-6;

// Rodrigues rotation of position and velocity taking unit vector `from`
// onto unit vector `to`; unchanged when they are parallel.
core::CartesianState rotate_state(const core::CartesianState& state, const Vec3& from, const Vec3& to);

// Observer velocity in km/s.
core::CartesianState apply_stellar_aberration(const core::CartesianState& relative,
                                              const Vec3& observer_velocity_km_s);

// Observer and Sun positions are barycentric, in km.
core::CartesianState apply_solar_gravitational_deflection(const core::CartesianState& relative,
                                                          const Vec3& observer_position_km,
                                                          const Vec3& sun_position_km);

// |v| as sqrt(x*x + y*y + z*z) with fused multiply-adds.
double norm(const Vec3& v);

}  // namespace tarvex::spk
