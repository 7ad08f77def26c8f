// Rise, set and meridian transit of the Sun and the Moon for a site, the
// next such event after an instant, and sidereal ecliptic positions.
// Horizon times are UT1 Julian days; the body's place is always the
// apparent topocentric right ascension and declination of date.
#pragma once

#include <expected>
#include <optional>

#include "core/errors.hpp"
#include "core/events.hpp"
#include "core/sidereal.hpp"
#include "core/types.hpp"
#include "spk/spk_ephemeris.hpp"
#include "spk/interruption.hpp"

namespace tarvex::spk {

// 2 pi x 1.0027378119113546: turns an hour-angle difference into UT1 days.
inline constexpr double EARTH_ROTATION_RAD_PER_DAY = 6.300387486754831;
inline constexpr double HALF_SIDEREAL_DAY_DAYS = 0.49863483161857836;
// Fixed pass count: each pass re-reads the body's place, so the Moon's
// motion is followed without a convergence test that could cycle.
inline constexpr int HORIZON_REFINEMENT_PASSES = 8;
inline constexpr double HORIZON_AFTER_MARGIN_DAYS = 1.1574074074074073e-5;
// next_horizon_event looks at the days around u0, u0 + 1 and u0 + 2.
inline constexpr int HORIZON_LOOKAHEAD_DAYS = 3;

struct RiseSetTransit {
  std::optional<double> rise_ut1_julian_day;  // absent when the body does not cross
  std::optional<double> set_ut1_julian_day;   // present exactly when the rise is
  double transit_ut1_julian_day = 0.0;
  bool operator==(const RiseSetTransit&) const = default;
};

struct HorizonEvent {
  double ut1_julian_day = 0.0;
  core::HorizonEventKind kind = core::HorizonEventKind::Transit;
  bool operator==(const HorizonEvent&) const = default;
};

// Apparent topocentric (right ascension, declination) of date in degrees at
// a UT1 Julian day.
std::expected<std::pair<double, double>, core::EphemerisError> horizon_place(
    const SpkEphemeris& engine, core::Body body, const core::GeodeticObserver& observer,
    double ut1_julian_day);

// Eight passes from `start_ut1_julian_day` towards the hour angle of the
// event (0 for a transit, -H0 for a rise, +H0 for a set); no convergence
// test. A transit goes to the meridian passage nearest the start.
std::expected<double, core::EphemerisError> refine_horizon_event(
    const SpkEphemeris& engine, core::Body body, const core::GeodeticObserver& observer,
    core::HorizonEventKind kind, double start_ut1_julian_day, double altitude_deg);

// The day centred on the transit nearest `around`: that transit, the rise
// before it and the set after it (neither when the body stays above or
// below the altitude).
std::expected<RiseSetTransit, core::EphemerisError> rise_set_transit(
    const SpkEphemeris& engine, core::Body body, const core::GeodeticObserver& observer,
    const core::Instant& around, double altitude_deg);

// The first event of `kind` more than one second after `after`, looking at
// three day steps; a day on which the body does not cross the altitude
// (or stops crossing it during a refinement) is passed over.
std::expected<HorizonEvent, core::EphemerisError> next_horizon_event(
    const SpkEphemeris& engine, core::Body body, const core::GeodeticObserver& observer,
    const core::Instant& after, core::HorizonEventKind kind, double altitude_deg);
// The same, consulting `interruption` between the day steps.
Interruptible<HorizonEvent> next_horizon_event(const SpkEphemeris& engine, core::Body body,
                                               const core::GeodeticObserver& observer,
                                               const core::Instant& after,
                                               core::HorizonEventKind kind, double altitude_deg,
                                               Interruption& interruption);

// Tropical ecliptic-of-date position minus the ayanamsha of `mode`.
std::expected<core::Position, core::EphemerisError> sidereal_position(
    const SpkEphemeris& engine, core::Body body, const core::Instant& instant,
    const core::PositionOptions& options, core::SiderealMode mode);

}  // namespace tarvex::spk
