// The Moon's osculating orbit from a batch of its positions; see the header.
#include "tarvexkit/native/moon_stencil.hpp"

#include <cmath>

#include "core/angles.hpp"
#include "core/frames.hpp"

namespace tarvex::kit {

void moon_stencil_days(std::span<const double> tdb, double step_days,
                       std::span<double> out) noexcept {
  for (std::size_t b = 0; b < tdb.size(); ++b)
    for (std::size_t s = 0; s < MOON_STENCIL.size(); ++s)
      out[b * MOON_STENCIL.size() + s] = tdb[b] + MOON_STENCIL[s] * step_days;
}

std::expected<core::OsculatingLunarPoints, core::LunarPointError> osculating_from_stencil(
    std::span<const double> rows, double tdb, double step_days) noexcept {
  std::array<std::array<double, 3>, MOON_STENCIL.size()> xyz{};
  for (std::size_t k = 0; k < MOON_STENCIL.size(); ++k) {
    const double* row = rows.data() + MOON_ROW_NUMBERS * k;
    const double ra = row[0] * core::DEG_TO_RAD;
    const double dec = row[1] * core::DEG_TO_RAD;
    const double distance = row[2];
    xyz[k] = {distance * std::cos(dec) * std::cos(ra), distance * std::cos(dec) * std::sin(ra),
              distance * std::sin(dec)};
  }
  core::CartesianState state;
  for (std::size_t c = 0; c < 3; ++c) {
    state.position[c] = xyz[4][c];
    state.velocity[c] =
        (-xyz[3][c] + 8.0 * xyz[2][c] - 8.0 * xyz[1][c] + xyz[0][c]) / (12.0 * step_days);
  }
  if (!std::isfinite(tdb)) return std::unexpected(core::LunarPointError::NonFiniteState);
  const auto rotated = core::OfDateRotation::create(false, false, tdb).apply(state);
  if (!rotated) return std::unexpected(core::LunarPointError::NonFiniteState);
  return core::osculating_lunar_points({rotated->position, rotated->velocity});
}

}  // namespace tarvex::kit
