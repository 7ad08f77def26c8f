// The geometry of eclipses and occultations (see eclipse_geometry.hpp for
// the models and their references).
#include "tarvexkit/native/eclipse_geometry.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "core/observer.hpp"
#include "core/types.hpp"

namespace tarvex::kit::eclipse {

namespace {

constexpr double DEG = std::numbers::pi / 180.0;
constexpr double ARCSEC = DEG / 3600.0;

double dot(const Vector& a, const Vector& b) noexcept { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
double norm(const Vector& a) noexcept { return std::sqrt(dot(a, a)); }
Vector scaled(const Vector& a, double k) noexcept { return {a[0] * k, a[1] * k, a[2] * k}; }
Vector minus(const Vector& a, const Vector& b) noexcept { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
Vector plus(const Vector& a, const Vector& b) noexcept { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }

Vector unit(const Place& p) noexcept {
  const double ra = p.right_ascension_deg * DEG;
  const double dec = p.declination_deg * DEG;
  return {std::cos(dec) * std::cos(ra), std::cos(dec) * std::sin(ra), std::sin(dec)};
}

double au_earth_radii() noexcept { return core::AU_KM / earth_radius_km(); }

// In Earth equatorial radii.
Vector vector(const Place& p) noexcept { return scaled(unit(p), p.distance_au * au_earth_radii()); }

// The coordinates in which the ellipsoid is the unit sphere.
Vector stretched(const Vector& v) noexcept { return {v[0], v[1], v[2] / (1.0 - earth_flattening())}; }

// The angle between two vectors: atan2 of the cross and dot products keeps
// small angles exact.
double angle(const Vector& a, const Vector& b) noexcept {
  const Vector cross{a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
  return std::atan2(norm(cross), dot(a, b));
}

// The part of v perpendicular to the unit vector u.
Vector across(const Vector& v, const Vector& u) noexcept { return minus(v, scaled(u, dot(v, u))); }

}  // namespace

double earth_radius_km() noexcept { return core::GRS80_EQUATORIAL_RADIUS_M / 1000.0; }
double earth_flattening() noexcept { return 1.0 - std::sqrt(core::GRS80_ONE_MINUS_E2); }
double moon_radius_km() noexcept { return MOON_K_PENUMBRA * earth_radius_km(); }
double moon_umbral_radius_km() noexcept { return MOON_K_UMBRA * earth_radius_km(); }
double sun_radius_km() noexcept { return SUN_SEMIDIAMETER_AT_1_AU_ARCSEC * ARCSEC * core::AU_KM; }

Shadow shadow(const Place& source, const Place& moon, double source_radius_km, double umbra_k) noexcept {
  const Vector s = vector(source);
  const Vector m = vector(moon);
  const double k = MOON_K_PENUMBRA;
  const double radius = source_radius_km / earth_radius_km();
  const Vector d = minus(s, m);
  const double g = norm(d);
  const Vector u = scaled(d, 1.0 / g);
  const double z = dot(m, u);
  const Vector closest = across(m, u);
  Shadow out;
  out.gamma = norm(closest) * (closest[2] >= 0.0 ? 1.0 : -1.0);
  const double sin_f1 = (radius + k) / g;
  const double sin_f2 = (radius - umbra_k) / g;
  const double cos_f1 = std::sqrt(1.0 - sin_f1 * sin_f1);
  const double cos_f2 = std::sqrt(1.0 - sin_f2 * sin_f2);
  out.tan_f1 = sin_f1 / cos_f1;
  out.tan_f2 = sin_f2 / cos_f2;
  out.l1 = z * out.tan_f1 + k / cos_f1;
  out.l2 = z * out.tan_f2 - umbra_k / cos_f2;

  // The axis against the ellipsoid, in the stretched coordinates.
  const Vector ms = stretched(m);
  const Vector stretched_u = stretched(u);
  const Vector us = scaled(stretched_u, 1.0 / norm(stretched_u));
  const double s0 = -dot(ms, us);
  const Vector nearest = plus(ms, scaled(us, s0));
  out.miss = norm(nearest);
  Vector point;
  if (out.miss < 1.0) {
    // Where it enters on the Moon's side.
    const double reach = std::sqrt(std::max(0.0, 1.0 - out.miss * out.miss));
    point = plus(ms, scaled(us, s0 + reach));
  } else {
    point = scaled(nearest, 1.0 / out.miss);
  }
  point[2] *= 1.0 - earth_flattening();
  out.point = point;
  out.zeta = dot(point, u);
  out.off_axis = out.miss < 1.0 ? 0.0 : norm(across(minus(point, m), u));
  const double f = earth_flattening();
  out.latitude_deg = std::atan2(point[2], std::hypot(point[0], point[1]) * (1.0 - f) * (1.0 - f)) / DEG;
  return out;
}

LunarShadow lunar_shadow(const Place& sun, const Place& moon) noexcept {
  const Vector to_sun = unit(sun);
  const Vector to_moon = unit(moon);
  const Vector axis = scaled(to_sun, -1.0);
  LunarShadow out;
  out.distance_rad = angle(axis, to_moon);
  const double parallax_moon = std::asin(1.0 / (moon.distance_au * au_earth_radii()));
  const double parallax_sun = std::asin(1.0 / (sun.distance_au * au_earth_radii()));
  const double sun_radius = std::asin(sun_radius_km() / (sun.distance_au * core::AU_KM));
  const double earth = DANJON_ENLARGEMENT * MEAN_LATITUDE_RADIUS * parallax_moon + parallax_sun;
  out.umbra_rad = earth - sun_radius;
  out.penumbra_rad = earth + sun_radius;
  out.moon_radius_rad = std::asin(moon_radius_km() / (moon.distance_au * core::AU_KM));
  const double north = to_moon[2] - axis[2] >= 0.0 ? 1.0 : -1.0;
  out.gamma = north * std::sin(out.distance_rad) * moon.distance_au * au_earth_radii();
  return out;
}

double covered_fraction(double delta, double big, double r) noexcept {
  if (delta >= big + r) return 0.0;
  if (delta <= std::abs(big - r)) {
    const double inner = std::min(big, r);
    return inner * inner / (r * r);
  }
  const double c1 = std::clamp((delta * delta + r * r - big * big) / (2.0 * delta * r), -1.0, 1.0);
  const double c2 = std::clamp((delta * delta + big * big - r * r) / (2.0 * delta * big), -1.0, 1.0);
  const double a1 = std::acos(c1);
  const double a2 = std::acos(c2);
  // Two circular segments, each r^2 (a - sin a cos a) with a its half-angle.
  const double lens = r * r * (a1 - std::sin(2.0 * a1) / 2.0) + big * big * (a2 - std::sin(2.0 * a2) / 2.0);
  return lens / (std::numbers::pi * r * r);
}

Discs discs(const Place& body, const Place& moon, double body_radius_km, double umbra_k) noexcept {
  Discs out;
  out.separation_rad = angle(unit(body), unit(moon));
  const double moon_km = moon.distance_au * core::AU_KM;
  out.moon_radius_rad = std::asin(moon_radius_km() / moon_km);
  out.moon_inner_radius_rad = std::asin(umbra_k * earth_radius_km() / moon_km);
  out.body_radius_rad = std::asin(body_radius_km / (body.distance_au * core::AU_KM));
  out.covered_fraction = covered_fraction(out.separation_rad, out.moon_radius_rad, out.body_radius_rad);
  return out;
}

}  // namespace tarvex::kit::eclipse
