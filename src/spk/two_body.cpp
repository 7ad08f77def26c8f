#include "spk/two_body.hpp"

#include <algorithm>
#include <cmath>

namespace tarvex::spk {

namespace {

double dot(const double (&a)[3], const double (&b)[3]) noexcept {
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// Stumpff functions c2(z) = (1 - cos sqrt z)/z and c3(z) = (sqrt z - sin sqrt z)/z^(3/2),
// by their series near zero.
void stumpff(double z, double& c2, double& c3) noexcept {
  if (std::abs(z) < 1e-3) {
    // Terms to z^5 leave a relative error below 1e-20 at |z| = 1e-3.
    c2 = 1.0 / 2 - z / 24 + z * z / 720 - z * z * z / 40320 + z * z * z * z / 3628800 -
         z * z * z * z * z / 479001600;
    c3 = 1.0 / 6 - z / 120 + z * z / 5040 - z * z * z / 362880 + z * z * z * z / 39916800 -
         z * z * z * z * z / 6227020800.0;
  } else if (z > 0) {
    const double s = std::sqrt(z);
    c2 = (1 - std::cos(s)) / z;
    c3 = (s - std::sin(s)) / (s * z);
  } else {
    const double s = std::sqrt(-z);
    c2 = (std::cosh(s) - 1) / -z;
    c3 = (std::sinh(s) - s) / (s * -z);
  }
}

}  // namespace

core::CartesianState propagate_two_body(const core::CartesianState& state, double gm, double dt) {
  if (dt == 0.0) return state;
  double r0v[3] = {state.position[0], state.position[1], state.position[2]};
  double v0v[3] = {state.velocity[0], state.velocity[1], state.velocity[2]};
  const double r0 = std::sqrt(dot(r0v, r0v));
  const double v2 = dot(v0v, v0v);
  const double rv = dot(r0v, v0v);
  const double sqrt_gm = std::sqrt(gm);
  const double alpha = 2.0 / r0 - v2 / gm;  // 1 / a

  // The universal anomaly chi solves F(chi) = sqrt(gm) dt, where
  // F(chi) = rv/sqrt(gm) chi^2 c2 + (1 - alpha r0) chi^3 c3 + r0 chi, which
  // increases with chi (its derivative is the radius).
  const double target = sqrt_gm * dt;
  auto f_and_radius = [&](double chi, double& radius, double& c2, double& c3) -> double {
    const double z = alpha * chi * chi;
    stumpff(z, c2, c3);
    radius = chi * chi * c2 + rv / sqrt_gm * chi * (1 - z * c3) + r0 * (1 - z * c2);
    const double value =
        rv / sqrt_gm * chi * chi * c2 + (1 - alpha * r0) * chi * chi * chi * c3 + r0 * chi - target;
    // Past the range of doubles (far out on a hyperbola) the sign is still
    // that of chi: F increases.
    if (!std::isfinite(value)) return chi > 0 ? INFINITY : -INFINITY;
    return value;
  };
  // First guesses: Vallado, Fundamentals of Astrodynamics and
  // Applications, 4th ed., algorithm 8 (ellipse, and hyperbola).
  double chi = dt * sqrt_gm / r0;
  if (alpha > 1e-12) {
    chi = sqrt_gm * dt * alpha;
  } else if (alpha < -1e-12) {
    const double a = 1.0 / alpha;
    const double sign = dt > 0 ? 1.0 : -1.0;
    const double guess =
        sign * std::sqrt(-a) *
        std::log((-2.0 * gm * alpha * dt) /
                 (rv + sign * std::sqrt(-gm * a) * (1.0 - r0 * alpha)));
    if (std::isfinite(guess) && guess * dt > 0) chi = guess;
  }
  // A bracket [low, high] with F(low) <= 0 <= F(high), grown outward.
  double low = dt > 0 ? 0.0 : chi;
  double high = dt > 0 ? chi : 0.0;
  double radius = 0.0;
  double c2 = 0.0;
  double c3 = 0.0;
  for (int i = 0; i < 200 && f_and_radius(low, radius, c2, c3) > 0; ++i) low = 2 * low - 1.0;
  for (int i = 0; i < 200 && f_and_radius(high, radius, c2, c3) < 0; ++i) high = 2 * high + 1.0;
  chi = std::clamp(chi, low, high);
  for (int i = 0; i < 100; ++i) {
    const double f = f_and_radius(chi, radius, c2, c3);
    if (f == 0.0) break;
    if (f < 0) low = chi; else high = chi;
    double next = chi - f / radius;
    if (!(next > low && next < high)) next = 0.5 * (low + high);
    if (next == chi || std::abs(next - chi) <= 4e-16 * std::abs(chi)) {
      chi = next;
      break;
    }
    chi = next;
  }
  const double z = alpha * chi * chi;
  f_and_radius(chi, radius, c2, c3);
  const double f = 1 - chi * chi / r0 * c2;
  const double g = dt - chi * chi * chi / sqrt_gm * c3;
  const double fdot = sqrt_gm / (radius * r0) * chi * (z * c3 - 1);
  const double gdot = 1 - chi * chi / radius * c2;
  core::CartesianState out;
  for (int k = 0; k < 3; ++k) {
    out.position[k] = f * r0v[k] + g * v0v[k];
    out.velocity[k] = fdot * r0v[k] + gdot * v0v[k];
  }
  return out;
}

}  // namespace tarvex::spk
