#include "core/errors.hpp"

#include "core/format.hpp"

namespace tarvex::core {

std::string_view message(CoordinateError error) noexcept {
  switch (error) {
    case CoordinateError::NonFiniteState: return "Cartesian state must be finite";
    case CoordinateError::UndefinedAtOrigin: return "spherical position is undefined at origin";
    case CoordinateError::UndefinedOnZAxis: return "spherical longitude is undefined on the z axis";
    case CoordinateError::InvalidLatitude:
      return "geodetic latitude must be finite and within [-90, 90] degrees";
    case CoordinateError::HouseCuspsUndefined:
      return "house cusps are undefined for this system at the requested latitude";
  }
  return "Cartesian state must be finite";
}

std::string TimeConversionError::message() const {
  if (kind == Kind::NonFiniteJulianDay) return "Julian day must be finite";
  std::string text = "conversion from ";
  text += display_name(scale);
  text += " to TDB is not implemented";
  return text;
}

EphemerisError EphemerisError::unsupported_body(Body body) {
  EphemerisError error;
  error.kind_ = Kind::UnsupportedBody;
  error.body_ = body;
  return error;
}

EphemerisError EphemerisError::out_of_range(double julian_day, double start, double end, TimeScale scale) {
  EphemerisError error;
  error.kind_ = Kind::OutOfRange;
  error.julian_day_ = julian_day;
  error.start_ = start;
  error.end_ = end;
  error.scale_ = scale;
  return error;
}

EphemerisError EphemerisError::invalid_request(std::string message) {
  EphemerisError error;
  error.kind_ = Kind::InvalidRequest;
  error.text_ = std::move(message);
  return error;
}

EphemerisError EphemerisError::time_conversion(std::string message) {
  EphemerisError error;
  error.kind_ = Kind::TimeConversion;
  error.text_ = std::move(message);
  return error;
}

EphemerisError EphemerisError::computation(std::string message) {
  EphemerisError error;
  error.kind_ = Kind::Computation;
  error.text_ = std::move(message);
  return error;
}

std::string EphemerisError::message() const {
  switch (kind_) {
    case Kind::UnsupportedBody: {
      std::string text = "unsupported body: ";
      text += display_name(body_);
      return text;
    }
    case Kind::OutOfRange: {
      std::string text = "Julian day ";
      text += plain_float(julian_day_);
      text += " is outside kernel range ";
      text += plain_float(start_);
      text += "..";
      text += plain_float(end_);
      text += ' ';
      text += display_name(scale_);
      return text;
    }
    case Kind::InvalidRequest:
    case Kind::TimeConversion:
    case Kind::Computation: return text_;
  }
  return text_;
}

}  // namespace tarvex::core
