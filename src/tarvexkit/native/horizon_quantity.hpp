// The quantities the kit's rise, set, transit and twilight searches look
// for, as evaluators of the search core (search_core.hpp): the altitude of
// a body's apparent topocentric centre above its rise/set altitude, and the
// sine of its hour angle, at TT Julian days. The places are the engine's
// batch positions (apparent, topocentric, equatorial of date) on the
// worker's own store; the horizon is core/local_horizon.hpp with the
// engine's UT1, TT and pole (fill_horizon of earth_rotation.hpp).
//
// Standard altitudes of the centre at rise and set (the observer's
// horizon, mean refraction of 34'): the Sun -50' (its upper limb), planets
// -34', the Moon -34' minus its topocentric semi-diameter
// asin(R / distance), R = 1737.4 km (core::MOON_MEAN_RADIUS_KM, the IAU
// WGCCRE mean radius; Archinal et al. 2018, Celest. Mech. Dyn. Astr.
// 130:22).
#pragma once

#include <cstdint>
#include <span>

#include "core/types.hpp"
#include "spk/engine_time.hpp"
#include "spk/spk_ephemeris.hpp"
#include "tarvexkit/native/search_core.hpp"

namespace tarvex::kit {

inline constexpr double PLANET_ALTITUDE_DEG = -34.0 / 60.0;
inline constexpr double SUN_ALTITUDE_DEG = -50.0 / 60.0;

enum class HorizonValue {
  Altitude,       // altitude minus `altitude_deg` (degrees)
  HourAngleSine,  // sin(hour angle): rises through 0 at the upper transit
};

struct HorizonQuantity {
  std::int32_t target = 0;
  core::PositionOptions options;  // apparent topocentric equatorial of date for `site`
  core::GeodeticObserver site;
  HorizonValue value = HorizonValue::Altitude;
  // The level the altitude is measured from; NaN for the Moon's standard
  // altitude, which changes with its distance.
  double altitude_deg = 0.0;
};

// An evaluator over `stores` (one per worker) at TT Julian days; the
// stores and `time` must outlive it.
search::Evaluator horizon_evaluator(const HorizonQuantity& quantity,
                                    std::span<spk::SpkEphemeris* const> stores,
                                    const spk::EngineTime& time);

// The Moon's standard altitude (degrees) at a topocentric distance (au).
double moon_standard_altitude_deg(double distance_au) noexcept;

}  // namespace tarvex::kit
