// Season and lunation search (see search.hpp). The searched angle is the
// apparent one a calendar or an almanac quotes: geocentric, true ecliptic
// and equinox of date, with light time, deflection and aberration.
#include "spk/search.hpp"

#include <cmath>

#include "core/angles.hpp"

namespace tarvex::spk {
namespace {

using core::EphemerisError;

constexpr std::string_view SPEED_TOO_SMALL = "longitude speed is too small to search for the event";

core::PositionOptions apparent_ecliptic_of_date() {
  core::PositionOptions options;
  options.origin = core::Origin::geocentric();
  options.coordinate_system = core::CoordinateSystem::Ecliptic;
  options.reference_epoch = core::ReferenceEpoch::OfDate;
  options.apparent = true;
  return options;
}

bool speed_usable(double speed_deg_per_day) {
  return std::isfinite(speed_deg_per_day) &&
         std::fabs(speed_deg_per_day) >= SEARCH_MIN_SPEED_DEG_PER_DAY;
}

// x mod period, plus one period when negative (C fmod semantics first).
double wrap_positive(double x, double period) {
  double r = std::fmod(x, period);
  if (r < 0.0) r += period;
  return r;
}

// (lambda - target) wrapped into (-180, 180] degrees. The wrap goes by way
// of radians; results are defined bit for bit by that order of operations.
double wrapped_difference_deg(double angle_deg, double target_deg) {
  const double g =
      wrap_positive((angle_deg - target_deg) * core::DEG_TO_RAD + core::PI_RAD, core::TWO_PI_RAD) -
      core::PI_RAD;
  return g <= -core::PI_RAD ? 180.0 : g * core::RAD_TO_DEG;
}

}  // namespace

std::expected<AngleSample, EphemerisError> sample_searched_quantity(const SpkEphemeris& engine,
                                                                    SearchedQuantity quantity,
                                                                    core::TimeScale scale,
                                                                    double jd) {
  static const core::PositionOptions options = apparent_ecliptic_of_date();
  const core::Instant instant{jd, scale};
  auto sun = engine.position(core::Body::Sun, instant, options);
  if (!sun) return std::unexpected(std::move(sun.error()));
  if (quantity == SearchedQuantity::SunLongitude)
    return AngleSample{sun->longitude_deg, sun->longitude_speed_deg_per_day};

  auto moon = engine.position(core::Body::Moon, instant, options);
  if (!moon) return std::unexpected(std::move(moon.error()));
  return AngleSample{wrap_positive(moon->longitude_deg - sun->longitude_deg, 360.0),
                     moon->longitude_speed_deg_per_day - sun->longitude_speed_deg_per_day};
}

std::expected<double, EphemerisError> newton_longitude_zero(const SpkEphemeris& engine,
                                                            SearchedQuantity quantity,
                                                            core::TimeScale search_scale,
                                                            double first_guess_jd,
                                                            double target_deg) {
  double d = first_guess_jd;
  for (int evaluation = 0; evaluation < SEARCH_MAX_EVALUATIONS; ++evaluation) {
    auto sample = sample_searched_quantity(engine, quantity, search_scale, d);
    if (!sample) return std::unexpected(std::move(sample.error()));
    if (!speed_usable(sample->speed_deg_per_day))
      return std::unexpected(EphemerisError::invalid_request(std::string(SPEED_TOO_SMALL)));
    const double step =
        wrapped_difference_deg(sample->angle_deg, target_deg) / sample->speed_deg_per_day;
    d -= step;
    if (std::fabs(step) < SEARCH_NEWTON_STOP_DAYS) break;
  }
  return d;
}

Interruptible<core::Instant> refine_longitude_zero(const SpkEphemeris& engine,
                                                   SearchedQuantity quantity,
                                                   core::TimeScale conversion_scale,
                                                   const core::Instant& start, double target_deg,
                                                   double retry_period_days,
                                                   Interruption& interruption) {
  const auto failed = [](EphemerisError error) {
    return std::unexpected(StopOrError{std::move(error)});
  };
  const auto stopped = [] { return std::unexpected(StopOrError{Stopped{}}); };
  const core::TimeScale search_scale = start.time_scale;
  const double d0 = start.julian_day;
  auto first = sample_searched_quantity(engine, quantity, search_scale, d0);
  if (!first) return failed(std::move(first.error()));
  if (!speed_usable(first->speed_deg_per_day))
    return failed(EphemerisError::invalid_request(std::string(SPEED_TOO_SMALL)));

  double to_go = wrap_positive(target_deg - first->angle_deg, 360.0);
  if (to_go < SEARCH_FIRST_STEP_FLOOR_DEG) to_go = 360.0;
  if (interruption.check()) return stopped();
  auto root = newton_longitude_zero(engine, quantity, search_scale,
                                    d0 + to_go / first->speed_deg_per_day, target_deg);
  if (!root) return failed(std::move(root.error()));

  // Newton may settle on the event at (or just before) the start when the
  // first guess was poor; the next one is then a period later. That second
  // answer is taken as it comes.
  if (*root <= d0 + SEARCH_AFTER_MARGIN_DAYS) {
    if (interruption.check()) return stopped();
    root = newton_longitude_zero(engine, quantity, search_scale, *root + retry_period_days,
                                 target_deg);
    if (!root) return failed(std::move(root.error()));
  }

  auto tt = engine.time().instant_as_tt(conversion_scale, *root);
  if (!tt) return failed(std::move(tt.error()));
  return core::Instant{*tt, core::TimeScale::Tt};
}

std::expected<core::Instant, EphemerisError> refine_longitude_zero(
    const SpkEphemeris& engine, SearchedQuantity quantity, core::TimeScale conversion_scale,
    const core::Instant& start, double target_deg, double retry_period_days) {
  Interruption never;
  auto found = refine_longitude_zero(engine, quantity, conversion_scale, start, target_deg,
                                     retry_period_days, never);
  if (!found) return std::unexpected(error_of(std::move(found.error())));
  return *found;
}

std::expected<core::Instant, EphemerisError> next_sun_longitude(const SpkEphemeris& engine,
                                                                const core::Instant& after,
                                                                double target_deg,
                                                                double retry_period_days) {
  return refine_longitude_zero(engine, SearchedQuantity::SunLongitude, after.time_scale, after,
                               target_deg, retry_period_days);
}

std::expected<core::Instant, EphemerisError> next_sun_moon_elongation(const SpkEphemeris& engine,
                                                                      const core::Instant& after,
                                                                      double target_deg,
                                                                      double retry_period_days) {
  return refine_longitude_zero(engine, SearchedQuantity::SunMoonElongation, after.time_scale, after,
                               target_deg, retry_period_days);
}

}  // namespace tarvex::spk
