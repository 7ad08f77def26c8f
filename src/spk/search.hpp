// Season and lunation search: the next instant at which the Sun's apparent
// geocentric ecliptic longitude of date, or the apparent elongation of the
// Moon from the Sun in that longitude, reaches a target angle. One routine
// serves both: a first guess from the current angular speed, a Newton
// iteration on the wrapped angle difference, and one retry a period later
// when the root found is not after the start.
#pragma once

#include <cstdint>
#include <expected>

#include "core/errors.hpp"
#include "core/types.hpp"
#include "spk/spk_ephemeris.hpp"
#include "spk/interruption.hpp"

namespace tarvex::spk {

// Speeds below this (degrees per day) cannot carry a Newton step.
inline constexpr double SEARCH_MIN_SPEED_DEG_PER_DAY = 1e-6;
// A Newton step shorter than this (days) ends the iteration.
inline constexpr double SEARCH_NEWTON_STOP_DAYS = 1e-10;
inline constexpr int SEARCH_MAX_EVALUATIONS = 12;
// A root no later than one second after the start counts as "not after".
inline constexpr double SEARCH_AFTER_MARGIN_DAYS = 1.1574074074074073e-5;
// An angle to go below this (degrees) means the start sits on the event; the
// search then aims a full turn ahead.
inline constexpr double SEARCH_FIRST_STEP_FLOOR_DEG = 1e-8;

inline constexpr double SEASON_PERIOD_DAYS = 365.2421897;
inline constexpr double LUNATION_PERIOD_DAYS = 29.530588861;

// What the search drives to its target.
enum class SearchedQuantity : std::uint8_t {
  SunLongitude,       // apparent geocentric ecliptic longitude of date of the Sun
  SunMoonElongation,  // Moon minus Sun in that longitude, in [0, 360)
};

struct AngleSample {
  double angle_deg = 0.0;
  double speed_deg_per_day = 0.0;
};

// The quantity and its rate at Julian day `jd` in `scale`; any position
// failure is returned unchanged.
std::expected<AngleSample, core::EphemerisError> sample_searched_quantity(
    const SpkEphemeris& engine, SearchedQuantity quantity, core::TimeScale scale, double jd);

// Newton iteration from `first_guess_jd` (search scale) towards `target_deg`;
// at most twelve evaluations, the last update returned without a
// convergence test. The result is a Julian day in the search scale.
std::expected<double, core::EphemerisError> newton_longitude_zero(const SpkEphemeris& engine,
                                                                  SearchedQuantity quantity,
                                                                  core::TimeScale search_scale,
                                                                  double first_guess_jd,
                                                                  double target_deg);

// The whole search from `start`, converted to TT at the end (the result's
// scale is always Tt). The conversion scale is the scale of the search.
std::expected<core::Instant, core::EphemerisError> refine_longitude_zero(
    const SpkEphemeris& engine, SearchedQuantity quantity, core::TimeScale conversion_scale,
    const core::Instant& start, double target_deg, double retry_period_days);
// The same, consulting `interruption` before each of its (at most two)
// Newton runs.
Interruptible<core::Instant> refine_longitude_zero(const SpkEphemeris& engine,
                                                   SearchedQuantity quantity,
                                                   core::TimeScale conversion_scale,
                                                   const core::Instant& start, double target_deg,
                                                   double retry_period_days,
                                                   Interruption& interruption);

// Entry points for the two quantities; `after` supplies both scales.
std::expected<core::Instant, core::EphemerisError> next_sun_longitude(const SpkEphemeris& engine,
                                                                      const core::Instant& after,
                                                                      double target_deg,
                                                                      double retry_period_days);
std::expected<core::Instant, core::EphemerisError> next_sun_moon_elongation(
    const SpkEphemeris& engine, const core::Instant& after, double target_deg,
    double retry_period_days);

}  // namespace tarvex::spk
