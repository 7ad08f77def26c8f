#include "spk/engine_time.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "core/observer.hpp"

namespace tarvex::spk {

using core::EphemerisError;
using core::TimeConversionError;
using core::TimeScale;

namespace {

constexpr const char* UT1_NEEDS_EOP =
    "UT1 requires an Earth orientation table (DUT1); attach one with SpkEphemeris::with_eop";
constexpr const char* TOPOCENTRIC_NEEDS_LSK =
    "topocentric origins require a leap-second kernel; attach one with SpkEphemeris::with_leap_second_kernel";
constexpr const char* TOPOCENTRIC_NEEDS_EOP =
    "topocentric origins require an Earth orientation table (DUT1); attach one with SpkEphemeris::with_eop";

std::unexpected<EphemerisError> time_error(const TimeConversionError& error) {
  return std::unexpected(EphemerisError::time_conversion(error.message()));
}

template <typename E>
std::unexpected<EphemerisError> time_error(const E& error) {
  return std::unexpected(EphemerisError::time_conversion(error.message()));
}

}  // namespace

double builtin_tdb_seconds_from_tt(double tt_seconds) {
  double x = tt_seconds;
  double e = 0.0;
  for (int pass = 0; pass < 3; ++pass) {
    const double m = BUILTIN_TDB_M0_RAD + BUILTIN_TDB_M1_RAD_PER_S * x;
    e = m + BUILTIN_TDB_EB * std::sin(m);
    x = tt_seconds + BUILTIN_TDB_K_S * std::sin(e);
  }
  const double delta = (tt_seconds + BUILTIN_TDB_K_S * std::sin(e)) - tt_seconds;
  return tt_seconds + delta;
}

std::expected<double, EphemerisError> EngineTime::tdb_seconds(TimeScale scale, double jd) const {
  double seconds = 0.0;
  if (!leap_seconds_) {
    if (!std::isfinite(jd)) return time_error(TimeConversionError::non_finite_julian_day());
    switch (scale) {
      case TimeScale::Utc:
      case TimeScale::Ut1: return time_error(TimeConversionError::unsupported_scale(scale));
      case TimeScale::Tdb: seconds = (jd - core::J2000_JULIAN_DAY) * core::SECONDS_PER_DAY; break;
      case TimeScale::Tt:
        seconds = builtin_tdb_seconds_from_tt((jd - core::J2000_JULIAN_DAY) * core::SECONDS_PER_DAY);
        break;
    }
  } else if (scale == TimeScale::Ut1) {
    if (!eop_) return std::unexpected(EphemerisError::time_conversion(UT1_NEEDS_EOP));
    auto converted = leap_seconds_->tdb_seconds_with_eop(scale, *eop_, jd);
    if (!converted) return time_error(converted.error());
    seconds = *converted;
  } else {
    auto converted = leap_seconds_->tdb_seconds(scale, jd);
    if (!converted) return time_error(converted.error());
    seconds = *converted;
  }
  const double tdb_jd = seconds / core::SECONDS_PER_DAY + core::J2000_JULIAN_DAY;
  // Written so that a NaN result is refused as well.
  if (!(tdb_jd >= start_jd_ && tdb_jd <= end_jd_)) {
    return std::unexpected(EphemerisError::out_of_range(jd, start_jd_, end_jd_, TimeScale::Tdb));
  }
  // The range's ends are the coverage's seconds turned into Julian days, so
  // an instant at an end can come back a few microseconds beyond the
  // coverage. Inside the range means evaluable: such an epoch is taken at
  // the bound. Only those epochs move; every other one stays as computed.
  return std::clamp(seconds, start_s_, end_s_);
}

std::expected<double, EphemerisError> EngineTime::instant_as_tt(TimeScale scale, double jd) const {
  if (scale == TimeScale::Tt) return jd;
  if (!leap_seconds_) {
    if (!std::isfinite(jd)) return time_error(TimeConversionError::non_finite_julian_day());
    if (scale == TimeScale::Utc || scale == TimeScale::Ut1)
      return time_error(TimeConversionError::unsupported_scale(scale));
    // TDB taken as TT: the periodic difference stays under 2 ms.
    return (jd - core::J2000_JULIAN_DAY) * core::SECONDS_PER_DAY / core::SECONDS_PER_DAY + core::J2000_JULIAN_DAY;
  }
  auto converted = leap_seconds_->tt_julian_day(scale, eop_ ? &*eop_ : nullptr, jd);
  if (!converted) return time_error(converted.error());
  return *converted;
}

std::expected<std::pair<double, double>, EphemerisError> EngineTime::earth_rotation_epochs(TimeScale scale,
                                                                                          double jd) const {
  if (!leap_seconds_) return std::unexpected(EphemerisError::time_conversion(TOPOCENTRIC_NEEDS_LSK));
  if (!eop_) return std::unexpected(EphemerisError::time_conversion(TOPOCENTRIC_NEEDS_EOP));
  auto tt = leap_seconds_->tt_julian_day(scale, &*eop_, jd);
  if (!tt) return time_error(tt.error());
  auto ut1 = leap_seconds_->ut1_julian_day(scale, *eop_, jd);
  if (!ut1) return time_error(ut1.error());
  return std::pair{*ut1, *tt};
}

std::expected<core::CartesianState, EphemerisError> EngineTime::observer_gcrs_state(
    const core::GeodeticObserver& observer, TimeScale scale, double jd) const {
  auto epochs = earth_rotation_epochs(scale, jd);
  if (!epochs) return std::unexpected(epochs.error());
  if (!eop_) return std::unexpected(EphemerisError::time_conversion(TOPOCENTRIC_NEEDS_EOP));
  const auto [ut1, tt] = *epochs;
  auto utc = eop_->utc_julian_day_from_ut1(ut1);
  if (!utc) return time_error(utc.error());
  auto pole = eop_->polar_motion_arcsec(*utc);
  if (!pole) return time_error(pole.error());
  auto state = core::observer_gcrs_from_geodetic(observer, ut1, tt, pole->first, pole->second);
  if (!state) return std::unexpected(EphemerisError::invalid_request(std::string(core::message(state.error()))));
  return *state;
}

}  // namespace tarvex::spk
