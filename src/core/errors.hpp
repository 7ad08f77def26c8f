// The three error types of the core. Each renders one fixed English message
// through message(); the texts are part of the interface.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/types.hpp"

namespace tarvex::core {

enum class CoordinateError : std::uint8_t {
  NonFiniteState = 0,
  UndefinedAtOrigin = 1,
  UndefinedOnZAxis = 2,
  InvalidLatitude = 3,
  HouseCuspsUndefined = 4,
};

std::string_view message(CoordinateError error) noexcept;

struct TimeConversionError {
  enum class Kind : std::uint8_t { UnsupportedScale, NonFiniteJulianDay };
  Kind kind = Kind::NonFiniteJulianDay;
  TimeScale scale = TimeScale::Utc;  // only meaningful for UnsupportedScale

  static TimeConversionError unsupported_scale(TimeScale scale) noexcept {
    return {Kind::UnsupportedScale, scale};
  }
  static TimeConversionError non_finite_julian_day() noexcept { return {Kind::NonFiniteJulianDay, TimeScale::Utc}; }

  std::string message() const;
  bool operator==(const TimeConversionError&) const = default;
};

// The error of every engine operation. Errors of lower layers travel inside
// it as their display text.
class EphemerisError {
 public:
  enum class Kind : std::uint8_t { UnsupportedBody, OutOfRange, InvalidRequest, TimeConversion, Computation };

  static EphemerisError unsupported_body(Body body);
  static EphemerisError out_of_range(double julian_day, double start, double end, TimeScale scale);
  static EphemerisError invalid_request(std::string message);
  static EphemerisError time_conversion(std::string message);
  static EphemerisError computation(std::string message);

  Kind kind() const noexcept { return kind_; }
  // The display text.
  std::string message() const;

  // Payload accessors (meaningful for the matching kind only).
  Body body() const noexcept { return body_; }
  double julian_day() const noexcept { return julian_day_; }
  double start() const noexcept { return start_; }
  double end() const noexcept { return end_; }
  TimeScale time_scale() const noexcept { return scale_; }

  bool operator==(const EphemerisError&) const = default;

 private:
  Kind kind_ = Kind::Computation;
  Body body_ = Body::Sun;
  double julian_day_ = 0.0;
  double start_ = 0.0;
  double end_ = 0.0;
  TimeScale scale_ = TimeScale::Tdb;
  std::string text_;
};

}  // namespace tarvex::core
