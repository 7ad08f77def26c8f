// Two-body (Keplerian) propagation of a state by universal variables, for
// SPK Types 5 and 15. Model: Bate, Mueller & White, Fundamentals of
// Astrodynamics (1971), sections 4.3-4.4 (universal anomaly, the Stumpff
// functions C(z) and S(z), and the f and g functions); Kepler's equation in
// the universal anomaly is solved by Newton's method kept inside a bracket.
#pragma once

#include "core/types.hpp"

namespace tarvex::spk {

// The state at `dt` seconds after `state` (km, km/s) in the field of a
// central body of gravitational parameter `gm` (km^3/s^2, > 0). dt = 0
// returns the state unchanged.
core::CartesianState propagate_two_body(const core::CartesianState& state, double gm, double dt);

}  // namespace tarvex::spk
