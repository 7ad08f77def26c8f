#include "spk/corrections.hpp"

#include "core/multiversion.hpp"

#include <cmath>

namespace tarvex::spk {

namespace {

// The helpers are inlined into each clone of their callers, so that each
// clone computes them with its own std::fma.

[[gnu::always_inline]] inline double dot(const Vec3& a, const Vec3& b) { return std::fma(a[0], b[0], std::fma(a[1], b[1], a[2] * b[2])); }

[[gnu::always_inline]] inline double norm_squared(const Vec3& v) { return dot(v, v); }

[[gnu::always_inline]] inline Vec3 cross(const Vec3& a, const Vec3& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

[[gnu::always_inline]] inline Vec3 scaled(const Vec3& v, double factor) { return {v[0] * factor, v[1] * factor, v[2] * factor}; }

[[gnu::always_inline]] inline Vec3 divided(const Vec3& v, double divisor) { return {v[0] / divisor, v[1] / divisor, v[2] / divisor}; }

// v' = v c + (n x v) s + n (n . v)(1 - c)
[[gnu::always_inline]] inline Vec3 rodrigues(const Vec3& v, const Vec3& n, double s, double c) {
  const Vec3 nxv = cross(n, v);
  const double projection = dot(n, v) * (1.0 - c);
  Vec3 out;
  for (int i = 0; i < 3; ++i) out[i] = v[i] * c + nxv[i] * s + n[i] * projection;
  return out;
}

}  // namespace

double norm(const Vec3& v) { return std::sqrt(norm_squared(v)); }

TARVEX_FMA_CLONES
core::CartesianState rotate_state(const core::CartesianState& state, const Vec3& from, const Vec3& to) {
  const Vec3 k = cross(from, to);
  const double s2 = norm_squared(k);
  if (s2 == 0.0) return state;
  const double s = std::sqrt(s2);
  const Vec3 n = divided(k, s);
  const double c = dot(from, to);
  return {rodrigues(state.position, n, s, c), rodrigues(state.velocity, n, s, c)};
}

TARVEX_FMA_CLONES
core::CartesianState apply_stellar_aberration(const core::CartesianState& relative,
                                              const Vec3& observer_velocity_km_s) {
  const Vec3& p = relative.position;
  const double p2 = norm_squared(p);
  if (p2 == 0.0) return relative;
  const Vec3 u = divided(p, std::sqrt(p2));
  Vec3 w;
  for (int i = 0; i < 3; ++i) w[i] = u[i] + observer_velocity_km_s[i] * INVERSE_SPEED_OF_LIGHT_S_PER_KM;
  const double w2 = norm_squared(w);
  if (w2 == 0.0) return relative;
  return rotate_state(relative, u, divided(w, std::sqrt(w2)));
}

TARVEX_FMA_CLONES
core::CartesianState apply_solar_gravitational_deflection(const core::CartesianState& relative,
                                                          const Vec3& observer_position_km,
                                                          const Vec3& sun_position_km) {
  const Vec3& p = relative.position;
  const double p2 = norm_squared(p);
  if (p2 == 0.0) return relative;
  const Vec3 u = divided(p, std::sqrt(p2));
  Vec3 e;  // the Sun seen from the observer
  for (int i = 0; i < 3; ++i) e[i] = sun_position_km[i] - observer_position_km[i];
  const double e2 = norm_squared(e);
  if (e2 == 0.0) return relative;
  Vec3 q;  // the target seen from the Sun
  for (int i = 0; i < 3; ++i) q[i] = p[i] - e[i];
  const double q2 = norm_squared(q);
  if (q2 == 0.0) return relative;
  const double e_length = std::sqrt(e2);
  const Vec3 e_hat = divided(scaled(e, -1.0), e_length);  // from the Sun to the observer
  const Vec3 q_hat = divided(q, std::sqrt(q2));
  const double g = 1.0 + dot(q_hat, e_hat);
  if (std::fabs(g) < DEFLECTION_GUARD) return relative;
  const double w = SUN_SCHWARZSCHILD_RADIUS_KM / e_length / g;
  const double u_q = dot(u, q_hat);
  const double u_e = dot(u, e_hat);
  Vec3 p1;
  for (int i = 0; i < 3; ++i) p1[i] = u[i] + w * (e_hat[i] * u_q - q_hat[i] * u_e);
  const double p1_2 = norm_squared(p1);
  if (p1_2 == 0.0) return relative;
  return rotate_state(relative, u, divided(p1, std::sqrt(p1_2)));
}

}  // namespace tarvex::spk
