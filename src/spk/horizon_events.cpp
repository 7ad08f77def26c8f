// Rise, set, transit, horizon events and sidereal positions (see
// horizon_events.hpp). The hour angle comes from the local apparent
// sidereal time and the apparent right ascension of date, both referred to
// the true equinox, so nutation cancels between them.
#include "spk/horizon_events.hpp"

#include <cmath>
#include <string>

#include "core/angles.hpp"
#include "core/format.hpp"
#include "core/horizon.hpp"
#include "core/observer.hpp"

namespace tarvex::spk {
namespace {

using core::EphemerisError;
using core::HorizonEventKind;

constexpr std::string_view NO_CROSSING = "body does not cross the requested altitude";

core::PositionOptions horizon_options(const core::GeodeticObserver& observer) {
  core::PositionOptions options;
  options.origin = core::Origin::topocentric(observer);
  options.coordinate_system = core::CoordinateSystem::Equatorial;
  options.reference_epoch = core::ReferenceEpoch::OfDate;
  options.apparent = true;
  return options;
}

// An angle wrapped into (-pi, pi].
double wrap_pi(double angle_rad) {
  double r = std::fmod(angle_rad + core::PI_RAD, core::TWO_PI_RAD);
  if (r < 0.0) r += core::TWO_PI_RAD;
  r -= core::PI_RAD;
  return r <= -core::PI_RAD ? core::PI_RAD : r;
}

EphemerisError coordinate_failure(core::CoordinateError error) {
  return EphemerisError::invalid_request(std::string(core::message(error)));
}

}  // namespace

std::expected<std::pair<double, double>, EphemerisError> horizon_place(
    const SpkEphemeris& engine, core::Body body, const core::GeodeticObserver& observer,
    double ut1_julian_day) {
  auto place =
      engine.position(body, {ut1_julian_day, core::TimeScale::Ut1}, horizon_options(observer));
  if (!place) return std::unexpected(std::move(place.error()));
  return std::pair{place->longitude_deg, place->latitude_deg};
}

namespace {

// The refinement passes; nullopt when a rise or set pass finds the body no
// longer crossing the altitude (its declination has moved past the limit).
std::expected<std::optional<double>, EphemerisError> refine_passes(
    const SpkEphemeris& engine, core::Body body, const core::GeodeticObserver& observer,
    HorizonEventKind kind, double start_ut1_julian_day, double altitude_deg) {
  const double latitude_rad = observer.latitude_deg * core::DEG_TO_RAD;
  const double longitude_rad = observer.longitude_east_deg * core::DEG_TO_RAD;
  const double altitude_rad = altitude_deg * core::DEG_TO_RAD;
  double d = start_ut1_julian_day;
  for (int pass = 0; pass < HORIZON_REFINEMENT_PASSES; ++pass) {
    auto epochs = engine.time().earth_rotation_epochs(core::TimeScale::Ut1, d);
    if (!epochs) return std::unexpected(std::move(epochs.error()));
    auto place = horizon_place(engine, body, observer, d);
    if (!place) return std::unexpected(std::move(place.error()));
    const double alpha = place->first * core::DEG_TO_RAD;
    const double delta = place->second * core::DEG_TO_RAD;

    const double theta =
        core::local_apparent_sidereal_time_iau2006(longitude_rad, epochs->first, epochs->second);
    const double hour_angle = wrap_pi(theta - alpha);

    double target = 0.0;
    if (kind != HorizonEventKind::Transit) {
      // The semi-diurnal arc follows the declination of this pass: the
      // Moon's moves by several degrees between transit and rise.
      auto arc = core::rise_set_hour_angle(latitude_rad, delta, altitude_rad);
      if (!arc) return std::unexpected(coordinate_failure(arc.error()));
      if (arc->kind != core::HourAngleOutcome::Kind::Crosses) return std::nullopt;
      target = kind == HorizonEventKind::Rise ? -arc->hour_angle_rad : arc->hour_angle_rad;
    }

    // The wrap maps an exact half turn to -pi; that case goes forward half a
    // sidereal day rather than backwards.
    double u = std::fmod(target - hour_angle + core::PI_RAD, core::TWO_PI_RAD);
    if (u < 0.0) u += core::TWO_PI_RAD;
    u -= core::PI_RAD;
    d += u <= -core::PI_RAD ? HALF_SIDEREAL_DAY_DAYS : u / EARTH_ROTATION_RAD_PER_DAY;
  }
  return d;
}

// The events of one day: the transit always, a rise and a set where the
// body crosses the altitude. With `stop_at_no_crossing` a rise or set
// refinement that loses the crossing ends the day with that error (the
// contract of rise_set_transit); without it, only that event is absent.
struct DayEvents {
  std::optional<double> rise_ut1_julian_day;
  std::optional<double> set_ut1_julian_day;
  double transit_ut1_julian_day = 0.0;
};

std::expected<DayEvents, EphemerisError> day_events(const SpkEphemeris& engine, core::Body body,
                                                    const core::GeodeticObserver& observer,
                                                    const core::Instant& around,
                                                    double altitude_deg, bool stop_at_no_crossing) {
  if (body != core::Body::Sun && body != core::Body::Moon)
    return std::unexpected(EphemerisError::unsupported_body(body));
  if (!std::isfinite(altitude_deg))
    return std::unexpected(EphemerisError::invalid_request("horizon altitude must be finite"));
  if (auto valid = core::validate(observer); !valid)
    return std::unexpected(coordinate_failure(valid.error()));

  auto epochs = engine.time().earth_rotation_epochs(around.time_scale, around.julian_day);
  if (!epochs) return std::unexpected(std::move(epochs.error()));
  auto transit = refine_horizon_event(engine, body, observer, HorizonEventKind::Transit,
                                      epochs->first, altitude_deg);
  if (!transit) return std::unexpected(std::move(transit.error()));

  auto place = horizon_place(engine, body, observer, *transit);
  if (!place) return std::unexpected(std::move(place.error()));
  auto arc =
      core::rise_set_hour_angle(observer.latitude_deg * core::DEG_TO_RAD,
                                place->second * core::DEG_TO_RAD, altitude_deg * core::DEG_TO_RAD);
  if (!arc) return std::unexpected(coordinate_failure(arc.error()));
  DayEvents day;
  day.transit_ut1_julian_day = *transit;
  if (arc->kind != core::HourAngleOutcome::Kind::Crosses) return day;

  for (HorizonEventKind kind : {HorizonEventKind::Rise, HorizonEventKind::Set}) {
    auto when = refine_passes(engine, body, observer, kind, *transit, altitude_deg);
    if (!when) return std::unexpected(std::move(when.error()));
    if (!*when && stop_at_no_crossing)
      return std::unexpected(EphemerisError::invalid_request(std::string(NO_CROSSING)));
    if (kind == HorizonEventKind::Rise) {
      day.rise_ut1_julian_day = *when;
    } else {
      day.set_ut1_julian_day = *when;
    }
  }
  return day;
}

}  // namespace

std::expected<double, EphemerisError> refine_horizon_event(
    const SpkEphemeris& engine, core::Body body, const core::GeodeticObserver& observer,
    HorizonEventKind kind, double start_ut1_julian_day, double altitude_deg) {
  auto when = refine_passes(engine, body, observer, kind, start_ut1_julian_day, altitude_deg);
  if (!when) return std::unexpected(std::move(when.error()));
  if (!*when) return std::unexpected(EphemerisError::invalid_request(std::string(NO_CROSSING)));
  return **when;
}

std::expected<RiseSetTransit, EphemerisError> rise_set_transit(
    const SpkEphemeris& engine, core::Body body, const core::GeodeticObserver& observer,
    const core::Instant& around, double altitude_deg) {
  auto day = day_events(engine, body, observer, around, altitude_deg, true);
  if (!day) return std::unexpected(std::move(day.error()));
  return RiseSetTransit{day->rise_ut1_julian_day, day->set_ut1_julian_day,
                        day->transit_ut1_julian_day};
}

Interruptible<HorizonEvent> next_horizon_event(const SpkEphemeris& engine, core::Body body,
                                               const core::GeodeticObserver& observer,
                                               const core::Instant& after, HorizonEventKind kind,
                                               double altitude_deg, Interruption& interruption) {
  auto epochs = engine.time().earth_rotation_epochs(after.time_scale, after.julian_day);
  if (!epochs) return std::unexpected(StopOrError{std::move(epochs.error())});
  const double u0 = epochs->first;
  const double threshold = u0 + HORIZON_AFTER_MARGIN_DAYS;

  for (int k = 0; k < HORIZON_LOOKAHEAD_DAYS; ++k) {
    if (k > 0 && interruption.check()) return std::unexpected(StopOrError{Stopped{}});
    // A day on which the body stops crossing the altitude has no rise or
    // set, and the search goes on to the next day.
    auto day =
        day_events(engine, body, observer, {u0 + k, core::TimeScale::Ut1}, altitude_deg, false);
    if (!day) {
      // The first day's failure is the caller's (bad body, altitude, time
      // data); later ones only mean the look-ahead ran out, for example at
      // the end of the kernel.
      if (k == 0) return std::unexpected(StopOrError{std::move(day.error())});
      break;
    }
    std::optional<double> when;
    switch (kind) {
      case HorizonEventKind::Rise: when = day->rise_ut1_julian_day; break;
      case HorizonEventKind::Set: when = day->set_ut1_julian_day; break;
      case HorizonEventKind::Transit: when = day->transit_ut1_julian_day; break;
    }
    if (when && *when > threshold) return HorizonEvent{*when, kind};
  }

  std::string text = "no ";
  text += core::display_name(kind);
  text += " of ";
  text += core::display_name(body);
  text += " within ";
  core::append_plain_float(text, HORIZON_LOOKAHEAD_DAYS);
  text += " days after the query instant";
  return std::unexpected(StopOrError{EphemerisError::invalid_request(std::move(text))});
}

std::expected<HorizonEvent, EphemerisError> next_horizon_event(
    const SpkEphemeris& engine, core::Body body, const core::GeodeticObserver& observer,
    const core::Instant& after, HorizonEventKind kind, double altitude_deg) {
  Interruption never;
  auto event = next_horizon_event(engine, body, observer, after, kind, altitude_deg, never);
  if (!event) return std::unexpected(error_of(std::move(event.error())));
  return *event;
}

std::expected<core::Position, EphemerisError> sidereal_position(
    const SpkEphemeris& engine, core::Body body, const core::Instant& instant,
    const core::PositionOptions& options, core::SiderealMode mode) {
  // Checked on the caller's options, before the engine resolves them, so
  // that a J2000 request reads as a sidereal mistake rather than an option
  // conflict.
  if (options.coordinate_system != core::CoordinateSystem::Ecliptic ||
      options.reference_epoch != core::ReferenceEpoch::OfDate)
    return std::unexpected(
        EphemerisError::invalid_request("sidereal longitudes require ecliptic of date"));

  auto tropical = engine.position(body, instant, options);
  if (!tropical) return std::unexpected(std::move(tropical.error()));
  auto tt = engine.time().instant_as_tt(instant.time_scale, instant.julian_day);
  if (!tt) return std::unexpected(std::move(tt.error()));
  auto ayanamsha = core::ayanamsha_deg(*tt, mode);
  if (!ayanamsha) return std::unexpected(coordinate_failure(ayanamsha.error()));
  auto rate = core::ayanamsha_rate_deg_per_day(*tt);
  if (!rate) return std::unexpected(coordinate_failure(rate.error()));

  core::Position sidereal = *tropical;
  // normalize_degrees keeps a difference of -1e-15 at 0 rather than letting
  // it round up to 360.
  sidereal.longitude_deg = core::normalize_degrees(tropical->longitude_deg - *ayanamsha);
  sidereal.longitude_speed_deg_per_day = tropical->longitude_speed_deg_per_day - *rate;
  return sidereal;
}

}  // namespace tarvex::spk
