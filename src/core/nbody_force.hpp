// The acceleration of a massless body in the solar system's barycentric
// frame: Newtonian point masses (the Sun, the planets' system barycentres or
// the Earth and the Moon apart, Pluto, the largest asteroids) and the Sun's
// post-Newtonian (Schwarzschild) term, the model JPL's small-body
// integrations use (Giorgini et al. 1996, "JPL's On-Line Solar System Data
// Service", BAAS 28, 1158; the perturber set of the SB441-N16 file).
//
// The Schwarzschild term of a point mass in the parametrised post-Newtonian
// form with beta = gamma = 1 (IERS Conventions 2010, Technical Note 36,
// eq. 10.12, there for the Earth; here for the Sun and the heliocentric
// state): GM / (c^2 r^3) [ (4 GM / r - v^2) r + 4 (r . v) v ].
#pragma once

#include <cstddef>
#include <optional>
#include <span>

namespace tarvex::core {

struct PointMass {
  double gm = 0.0;         // au^3 / day^2
  double radius_au = 0.0;  // a body that comes nearer has hit it
};

// Which perturber the body came within `radius_au` of, if any.
struct Impact {
  std::size_t perturber = 0;
  double distance_au = 0.0;
};

// Acceleration (au/day^2) of the body at `position` (au) moving with
// `velocity` (au/day) from the perturbers at `positions` (3 per mass,
// barycentric, au). `sun` indexes the Sun among them, whose velocity
// `sun_velocity` gives the relativistic term; `speed_of_light` is in au/day.
// `noise` receives the size of the rounding errors of the acceleration
// (from the positions' last bits, differenced at the perturbers'
// distances). An impact leaves `acceleration` unset.
std::optional<Impact> barycentric_acceleration(std::span<const double, 3> position,
                                               std::span<const double, 3> velocity,
                                               std::span<const PointMass> masses, std::span<const double> positions,
                                               std::size_t sun, std::span<const double, 3> sun_velocity,
                                               double speed_of_light, std::span<double, 3> acceleration,
                                               double& noise);

}  // namespace tarvex::core
