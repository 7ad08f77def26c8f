// A NAIF leap-second kernel (TAI-UTC table and the TDB-TT periodic term) and
// the conversions between UTC, UT1, TT and TDB built on it. UT1 needs an
// Earth orientation table from the caller as well.
#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/errors.hpp"
#include "core/types.hpp"
#include "time/eop.hpp"
#include "time/lsk_error.hpp"

namespace tarvex::time {

struct LeapSecondEntry {
  double delta_at = 0.0;      // TAI - UTC in seconds from this date on
  double effective_jd = 0.0;  // UTC Julian date of 0 h of the entry's date
  bool operator==(const LeapSecondEntry&) const = default;
};

// Holds no heap data, so conversions can fail without allocating.
struct UtcConversionError {
  // Order is part of the interface.
  enum class Kind : std::uint8_t { Time, Eop, MissingEarthOrientation, BeforeFirstLeapSecond };

  Kind kind = Kind::MissingEarthOrientation;
  core::TimeConversionError time{};  // Time
  EopError eop{};                    // Eop
  double jd = 0.0;                   // BeforeFirstLeapSecond: the UTC date looked up
  double first = 0.0;                // BeforeFirstLeapSecond: the first entry's date

  static UtcConversionError from_time(core::TimeConversionError error) noexcept {
    return {Kind::Time, error, {}, 0.0, 0.0};
  }
  static UtcConversionError from_eop(EopError error) noexcept {
    return {Kind::Eop, {}, error, 0.0, 0.0};
  }
  static UtcConversionError missing_earth_orientation() noexcept {
    return {Kind::MissingEarthOrientation, {}, {}, 0.0, 0.0};
  }
  static UtcConversionError before_first_leap_second(double jd, double first) noexcept {
    return {Kind::BeforeFirstLeapSecond, {}, {}, jd, first};
  }

  std::string message() const;
  bool operator==(const UtcConversionError&) const = default;
};

// Immutable after open; cheap to move (a vector and two strings). The
// conversions allocate nothing and may run on any number of threads.
class LeapSecondKernel {
 public:
  static std::expected<LeapSecondKernel, LskError> open(std::string_view path,
                                                        std::string_view sha256);

  const std::string& name() const noexcept { return name_; }
  const std::string& sha256() const noexcept { return sha256_; }
  std::span<const LeapSecondEntry> entries() const noexcept { return entries_; }
  double delta_t_a() const noexcept { return delta_t_a_; }  // TT - TAI, seconds
  double k() const noexcept { return k_; }                  // TDB-TT amplitude, seconds
  double eb() const noexcept { return eb_; }
  double m0() const noexcept { return m0_; }  // radians
  double m1() const noexcept { return m1_; }  // radians per second

  // TAI - UTC in seconds at a UTC Julian date; the offset of an entry holds
  // from its date on, the last one without limit, nothing before the first.
  std::expected<double, UtcConversionError> tai_minus_utc(double utc_jd) const noexcept;
  // TDB - TT in seconds for TT seconds past J2000 (three fixed passes).
  double tdb_minus_tt(double tt_seconds) const noexcept;

  // TDB seconds past J2000. UT1 is refused here: it needs the EOP table.
  std::expected<double, UtcConversionError> tdb_seconds(core::TimeScale scale,
                                                        double jd) const noexcept;
  std::expected<double, UtcConversionError> tdb_seconds_with_eop(core::TimeScale scale,
                                                                 const EarthOrientationTable& eop,
                                                                 double jd) const noexcept;
  // Julian dates in another scale. `eop` may be null; UT1 input then fails
  // with MissingEarthOrientation.
  std::expected<double, UtcConversionError> tt_julian_day(core::TimeScale scale,
                                                          const EarthOrientationTable* eop,
                                                          double jd) const noexcept;
  std::expected<double, UtcConversionError> utc_julian_day(core::TimeScale scale,
                                                           const EarthOrientationTable* eop,
                                                           double jd) const noexcept;
  std::expected<double, UtcConversionError> ut1_julian_day(core::TimeScale scale,
                                                           const EarthOrientationTable& eop,
                                                           double jd) const noexcept;

 private:
  LeapSecondKernel() = default;

  std::string name_;
  std::string sha256_;
  std::vector<LeapSecondEntry> entries_;
  double delta_t_a_ = 0.0;
  double k_ = 0.0;
  double eb_ = 0.0;
  double m0_ = 0.0;
  double m1_ = 0.0;
};

}  // namespace tarvex::time
