// Hour angle of a body's crossing of an altitude, from the spherical
// triangle pole-zenith-body: sin h = sin phi sin delta + cos phi cos delta cos H.
#include "core/horizon.hpp"

#include <cmath>

namespace tarvex::core {
namespace {

// Below this, cos phi cos delta is zero for practical purposes (a pole of
// the sky or of the Earth) and the altitude no longer depends on H.
constexpr double DEGENERACY_GUARD = 1e-18;

}  // namespace

std::expected<HourAngleOutcome, CoordinateError> rise_set_hour_angle(double latitude_rad,
                                                                     double declination_rad,
                                                                     double altitude_rad) {
  if (!std::isfinite(latitude_rad) || !std::isfinite(declination_rad) ||
      !std::isfinite(altitude_rad))
    return std::unexpected(CoordinateError::NonFiniteState);

  using Kind = HourAngleOutcome::Kind;
  const double c = std::cos(latitude_rad) * std::cos(declination_rad);
  const double sin_h0 = std::sin(altitude_rad);
  const double s = std::sin(latitude_rad) * std::sin(declination_rad);
  if (std::fabs(c) < DEGENERACY_GUARD)
    return HourAngleOutcome{sin_h0 <= s ? Kind::AlwaysAbove : Kind::AlwaysBelow, 0.0};

  const double x = (sin_h0 - s) / c;
  if (x > 1.0) return HourAngleOutcome{Kind::AlwaysBelow, 0.0};
  if (x < -1.0) return HourAngleOutcome{Kind::AlwaysAbove, 0.0};
  return HourAngleOutcome{Kind::Crosses, std::acos(x)};
}

}  // namespace tarvex::core
