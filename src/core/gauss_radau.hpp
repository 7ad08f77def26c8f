// Everhart's 15th-order integrator on Gauss-Radau spacings for second-order
// equations x'' = F(t, x, x'), with the adaptive step control of IAS15.
//
// Method: E. Everhart (1985), "An efficient integrator that uses Gauss-Radau
// spacings", in Dynamics of Comets: Their Origin and Evolution (IAU Coll.
// 83), pp. 185-202: within a step of length dt the acceleration is the
// polynomial a(h) = a0 + b0 h + ... + b6 h^7 in h = (t - t0)/dt, whose
// coefficients are found by predictor-corrector iteration at the seven
// Gauss-Radau nodes (the Newton-form coefficients g, converted to b); the
// position and velocity follow by integrating the polynomial.
//
// Step control and iteration rules: H. Rein and D. S. Spiegel (2015),
// "IAS15: a fast, adaptive, high-order integrator for gravitational
// dynamics, accurate to machine precision over a billion orbits", MNRAS
// 446, 1424-1437: iterate until the change of b6 relative to the largest
// acceleration is below 1e-16 (or stops falling, at most 12 times); the
// step's error estimate is max|b6| / max|a|, the next step is
// dt (epsilon / estimate)^(1/7), a step whose successor would be shorter than
// a quarter of it is rejected and tried again, and growth is bounded by four;
// the b of the next step are predicted from the last (Everhart's
// extrapolation) and corrected by the last prediction's miss. Positions and
// velocities are summed with Kahan compensation (Rein and Spiegel, section 2.4).
//
// One addition: near a perturber the rounding errors of the acceleration
// (barycentric positions differenced at a small distance) put a floor under
// the error estimate that shorter steps do not lower; IAS15's rule would then
// shrink the step without end. Where the estimate lies within four times
// that floor (the seventh divided difference of the node accelerations' rounding
// errors), the step is accepted and kept as it is.
#pragma once

#include <cstddef>
#include <expected>
#include <functional>
#include <span>

namespace tarvex::core {

// The acceleration of every coordinate at time t from the positions and
// velocities (all of length 3 n for n particles), and `noise`, the size of
// the rounding errors in it (0 when unknown); false stops the integration
// (the caller keeps the reason).
using RadauForce = std::function<bool(double t, std::span<const double> x, std::span<const double> v,
                                      std::span<double> a, double& noise)>;

// Told of the state at every output node: the end of each accepted step and
// `nodes_per_step - 1` evenly spaced instants inside it, in time order.
// False stops the integration.
using RadauSink = std::function<bool(double t, std::span<const double> x, std::span<const double> v)>;

struct RadauSettings {
  double epsilon = 1e-9;      // IAS15's step-control parameter
  double initial_step = 1.0;  // first trial step (its sign is ignored)
  double min_step = 1e-7;     // a step forced shorter than this is an unresolved approach
  std::size_t max_steps = 50'000'000;
  std::size_t nodes_per_step = 1;
};

enum class RadauFailure {
  ForceFailed,   // the force callback returned false
  SinkStopped,   // the sink callback returned false
  StepTooSmall,  // the step control needed a step below min_step
  TooManySteps,
  NotFinite,     // a state or acceleration became NaN or infinite
};

struct RadauStatistics {
  std::size_t steps = 0;
  std::size_t rejected = 0;
  std::size_t force_calls = 0;
  double smallest_step = 0.0;  // absolute value over the accepted steps
};

// Integrates x, v (3 n each, updated in place) from t0 to t1 (either
// direction).
std::expected<RadauStatistics, RadauFailure> integrate_gauss_radau(std::span<double> x, std::span<double> v,
                                                                   double t0, double t1, const RadauForce& force,
                                                                   const RadauSink& sink,
                                                                   const RadauSettings& settings);

}  // namespace tarvex::core
