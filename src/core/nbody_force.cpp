// Point-mass and Schwarzschild accelerations (see nbody_force.hpp).
#include "core/nbody_force.hpp"

#include <array>
#include <cmath>

namespace tarvex::core {

std::optional<Impact> barycentric_acceleration(std::span<const double, 3> position,
                                               std::span<const double, 3> velocity,
                                               std::span<const PointMass> masses, std::span<const double> positions,
                                               std::size_t sun, std::span<const double, 3> sun_velocity,
                                               double speed_of_light, std::span<double, 3> acceleration,
                                               double& noise) {
  std::array<double, 3> sum{};
  // Rounding of a coordinate of size s is about s * 2^-53; differenced at
  // distance r it makes the pull GM/r^2 uncertain by 3 (that) / r.
  constexpr double ROUNDING = 2.220446049250313e-16;
  const double own = std::abs(position[0]) + std::abs(position[1]) + std::abs(position[2]);
  noise = 0.0;
  for (std::size_t j = 0; j < masses.size(); ++j) {
    const double dx = position[0] - positions[3 * j];
    const double dy = position[1] - positions[3 * j + 1];
    const double dz = position[2] - positions[3 * j + 2];
    const double r2 = dx * dx + dy * dy + dz * dz;
    const double r = std::sqrt(r2);
    if (r <= masses[j].radius_au) return Impact{j, r};
    const double f = -masses[j].gm / (r2 * r);
    const double other = std::abs(positions[3 * j]) + std::abs(positions[3 * j + 1]) + std::abs(positions[3 * j + 2]);
    noise += 3.0 * masses[j].gm / r2 * ROUNDING * (own + other) / r;
    sum[0] += f * dx;
    sum[1] += f * dy;
    sum[2] += f * dz;
  }
  if (sun < masses.size() && speed_of_light > 0.0) {
    std::array<double, 3> r{}, v{};
    for (std::size_t i = 0; i < 3; ++i) {
      r[i] = position[i] - positions[3 * sun + i];
      v[i] = velocity[i] - sun_velocity[i];
    }
    const double distance = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]);
    const double gm = masses[sun].gm;
    const double v2 = v[0] * v[0] + v[1] * v[1] + v[2] * v[2];
    const double rv = r[0] * v[0] + r[1] * v[1] + r[2] * v[2];
    const double factor = gm / (speed_of_light * speed_of_light * distance * distance * distance);
    const double radial = 4.0 * gm / distance - v2;
    for (std::size_t i = 0; i < 3; ++i) sum[i] += factor * (radial * r[i] + 4.0 * rv * v[i]);
  }
  for (std::size_t i = 0; i < 3; ++i) acceleration[i] = sum[i];
  return std::nullopt;
}

}  // namespace tarvex::core
