#include "time/leap_seconds.hpp"

#include <cmath>

#include "core/checksum.hpp"
#include "core/files.hpp"
#include "core/format.hpp"
#include "core/path_name.hpp"
#include "time/text_kernel.hpp"

namespace tarvex::time {

namespace {

using core::TimeConversionError;
using core::TimeScale;

constexpr double J2000 = core::J2000_JULIAN_DAY;
constexpr double DAY_S = core::SECONDS_PER_DAY;

std::unexpected<UtcConversionError> non_finite() noexcept {
  return std::unexpected(
      UtcConversionError::from_time(TimeConversionError::non_finite_julian_day()));
}

}  // namespace

std::string UtcConversionError::message() const {
  switch (kind) {
    case Kind::Time: return time.message();
    case Kind::Eop: return eop.message();
    case Kind::MissingEarthOrientation:
      return "UT1 requires an Earth orientation table (DUT1); attach one with "
             "SpkEphemeris::with_eop";
    case Kind::BeforeFirstLeapSecond: {
      std::string text = "UTC Julian day ";
      core::append_plain_float(text, jd);
      text += " precedes the kernel's earliest leap-second entry (";
      core::append_plain_float(text, first);
      text += "); the offset is not extrapolated";
      return text;
    }
  }
  return time.message();
}

std::expected<LeapSecondKernel, LskError> LeapSecondKernel::open(std::string_view path,
                                                                 std::string_view sha256) {
  std::optional<std::string> name = core::final_path_component(path);
  if (!name) return std::unexpected(LskError::invalid_path());
  const auto text = core::read_text_file(path);
  if (!text) return std::unexpected(LskError::io_failure(text.error()));
  std::optional<std::string> checksum = core::normalized_sha256(sha256);
  if (!checksum) return std::unexpected(LskError::invalid_sha256());

  const auto data = extract_data_sections(*text);
  if (!data) return std::unexpected(data.error());
  const AssignmentMap assignments = parse_assignments(*data);

  LeapSecondKernel kernel;
  // In this order, so that the first missing or malformed constant is the
  // one reported.
  for (const auto& [keyword, field] :
       {std::pair{"DELTET/DELTA_T_A", &kernel.delta_t_a_}, std::pair{"DELTET/K", &kernel.k_},
        std::pair{"DELTET/EB", &kernel.eb_}}) {
    const auto value = scalar(assignments, keyword);
    if (!value) return std::unexpected(value.error());
    // NaN and infinity read as numbers, but every conversion through them
    // would fail later, in a way that blames the caller's instant.
    if (!std::isfinite(*value)) return std::unexpected(LskError::non_finite_value(keyword));
    *field = *value;
  }

  const auto m_text = raw_value(assignments, "DELTET/M");
  if (!m_text) return std::unexpected(m_text.error());
  const auto m_tokens = value_tokens(*m_text);
  if (m_tokens.size() != 2) {
    return std::unexpected(
        LskError::invalid_value("DELTET/M", "expected exactly two values (M0 and M1)"));
  }
  const auto m0 = parse_number(m_tokens[0]);
  if (!m0) return std::unexpected(LskError::invalid_value("DELTET/M", "M0 is not a valid number"));
  const auto m1 = parse_number(m_tokens[1]);
  if (!m1) return std::unexpected(LskError::invalid_value("DELTET/M", "M1 is not a valid number"));
  if (!std::isfinite(*m0) || !std::isfinite(*m1))
    return std::unexpected(LskError::non_finite_value("DELTET/M"));
  kernel.m0_ = *m0;
  kernel.m1_ = *m1;

  const auto at_text = raw_value(assignments, "DELTET/DELTA_AT");
  if (!at_text) return std::unexpected(at_text.error());
  const auto at_tokens = value_tokens(*at_text);
  if (at_tokens.empty() || at_tokens.size() % 2 != 0) {
    return std::unexpected(LskError::invalid_value(
        "DELTET/DELTA_AT", "expected a non-empty sequence of (delta, date) pairs"));
  }
  kernel.entries_.reserve(at_tokens.size() / 2);
  for (std::size_t i = 0; i < at_tokens.size(); i += 2) {
    const auto delta = parse_number(at_tokens[i]);
    if (!delta)
      return std::unexpected(
          LskError::invalid_value("DELTET/DELTA_AT", "delta value is not a valid number"));
    const auto date = parse_date_literal(at_tokens[i + 1]);
    if (!date) return std::unexpected(date.error());
    // Date literals always give finite days; the offset is what can be NaN.
    if (!std::isfinite(*delta) || !std::isfinite(*date))
      return std::unexpected(LskError::non_finite_value("DELTET/DELTA_AT"));
    kernel.entries_.push_back({*delta, *date});
  }
  for (std::size_t i = 1; i < kernel.entries_.size(); ++i) {
    if (!(kernel.entries_[i].effective_jd > kernel.entries_[i - 1].effective_jd)) {
      return std::unexpected(LskError::unsorted_leap_seconds());
    }
  }

  kernel.name_ = std::move(*name);
  kernel.sha256_ = std::move(*checksum);
  return kernel;
}

std::expected<double, UtcConversionError> LeapSecondKernel::tai_minus_utc(
    double utc_jd) const noexcept {
  const double first = entries_.front().effective_jd;
  if (utc_jd < first)
    return std::unexpected(UtcConversionError::before_first_leap_second(utc_jd, first));
  // From the end: most dates of interest are recent, and the table is short.
  for (auto entry = entries_.rbegin(); entry != entries_.rend(); ++entry) {
    if (entry->effective_jd <= utc_jd) return entry->delta_at;
  }
  // Only a NaN date gets here; every caller rejects those first.
  return std::unexpected(UtcConversionError::before_first_leap_second(utc_jd, first));
}

double LeapSecondKernel::tdb_minus_tt(double tt_seconds) const noexcept {
  // Exactly three passes, no convergence test: the series is evaluated at
  // the TDB estimate, as NAIF's own routines do.
  double x = tt_seconds;
  for (int pass = 0; pass < 3; ++pass) {
    const double mean_anomaly = m0_ + m1_ * x;
    const double eccentric_anomaly = mean_anomaly + eb_ * std::sin(mean_anomaly);
    x = tt_seconds + k_ * std::sin(eccentric_anomaly);
  }
  return x - tt_seconds;
}

std::expected<double, UtcConversionError> LeapSecondKernel::tdb_seconds(TimeScale scale,
                                                                        double jd) const noexcept {
  if (!std::isfinite(jd)) return non_finite();
  switch (scale) {
    case TimeScale::Utc: {
      const auto delta_at = tai_minus_utc(jd);
      if (!delta_at) return std::unexpected(delta_at.error());
      const double tt = ((jd + *delta_at / DAY_S) + delta_t_a_ / DAY_S - J2000) * DAY_S;
      return tt + tdb_minus_tt(tt);
    }
    case TimeScale::Ut1:
      return std::unexpected(
          UtcConversionError::from_time(TimeConversionError::unsupported_scale(TimeScale::Ut1)));
    case TimeScale::Tt: {
      const double tt = (jd - J2000) * DAY_S;
      return tt + tdb_minus_tt(tt);
    }
    case TimeScale::Tdb: return (jd - J2000) * DAY_S;
  }
  return std::unexpected(
      UtcConversionError::from_time(TimeConversionError::unsupported_scale(scale)));
}

std::expected<double, UtcConversionError> LeapSecondKernel::tdb_seconds_with_eop(
    TimeScale scale, const EarthOrientationTable& eop, double jd) const noexcept {
  if (scale != TimeScale::Ut1) return tdb_seconds(scale, jd);
  const auto utc = eop.utc_julian_day_from_ut1(jd);
  if (!utc) return std::unexpected(UtcConversionError::from_eop(utc.error()));
  return tdb_seconds(TimeScale::Utc, *utc);
}

std::expected<double, UtcConversionError> LeapSecondKernel::tt_julian_day(
    TimeScale scale, const EarthOrientationTable* eop, double jd) const noexcept {
  if (!std::isfinite(jd)) return non_finite();
  double utc = jd;
  switch (scale) {
    case TimeScale::Utc: break;
    case TimeScale::Ut1: {
      if (eop == nullptr) return std::unexpected(UtcConversionError::missing_earth_orientation());
      const auto converted = eop->utc_julian_day_from_ut1(jd);
      if (!converted) return std::unexpected(UtcConversionError::from_eop(converted.error()));
      if (!std::isfinite(*converted)) return non_finite();
      utc = *converted;
      break;
    }
    case TimeScale::Tt: return jd;
    case TimeScale::Tdb: {
      // The series is evaluated with TDB seconds standing in for TT.
      const double s = (jd - J2000) * DAY_S;
      return (s - tdb_minus_tt(s)) / DAY_S + J2000;
    }
  }
  const auto delta_at = tai_minus_utc(utc);
  if (!delta_at) return std::unexpected(delta_at.error());
  return utc + (*delta_at + delta_t_a_) / DAY_S;
}

std::expected<double, UtcConversionError> LeapSecondKernel::utc_julian_day(
    TimeScale scale, const EarthOrientationTable* eop, double jd) const noexcept {
  if (!std::isfinite(jd)) return non_finite();
  switch (scale) {
    case TimeScale::Utc: return jd;
    case TimeScale::Ut1: {
      if (eop == nullptr) return std::unexpected(UtcConversionError::missing_earth_orientation());
      const auto converted = eop->utc_julian_day_from_ut1(jd);
      if (!converted) return std::unexpected(UtcConversionError::from_eop(converted.error()));
      return *converted;
    }
    case TimeScale::Tt:
    case TimeScale::Tdb: break;
  }
  const auto tt = tt_julian_day(scale, eop, jd);
  if (!tt) return tt;
  const double first = entries_.front().effective_jd;
  // The estimate, not the input, is what a failure reports: it is the date
  // whose offset could not be looked up.
  const auto check = [&](double estimate) -> std::expected<void, UtcConversionError> {
    if (!std::isfinite(estimate)) return non_finite();
    if (estimate < first)
      return std::unexpected(UtcConversionError::before_first_leap_second(estimate, first));
    return {};
  };
  double utc = *tt - (entries_.back().delta_at + delta_t_a_) / DAY_S;
  for (int pass = 0; pass < 3; ++pass) {
    if (auto ok = check(utc); !ok) return std::unexpected(ok.error());
    const auto delta_at = tai_minus_utc(utc);
    if (!delta_at) return std::unexpected(delta_at.error());
    utc = *tt - (*delta_at + delta_t_a_) / DAY_S;
  }
  if (auto ok = check(utc); !ok) return std::unexpected(ok.error());
  return utc;
}

std::expected<double, UtcConversionError> LeapSecondKernel::ut1_julian_day(
    TimeScale scale, const EarthOrientationTable& eop, double jd) const noexcept {
  if (scale == TimeScale::Ut1) {
    if (!std::isfinite(jd)) return non_finite();
    return jd;
  }
  const auto utc = utc_julian_day(scale, &eop, jd);
  if (!utc) return utc;
  const auto sample = eop.interpolated_sample(*utc);
  if (!sample) return std::unexpected(UtcConversionError::from_eop(sample.error()));
  return *utc + sample->dut1_s / DAY_S;
}

}  // namespace tarvex::time
