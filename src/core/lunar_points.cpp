// Mean and osculating lunar node and apogee.
//
// Mean elements: M. Chapront-Touze and J. Chapront, "Lunar Tables and
// Programs from 4000 B.C. to A.D. 8000" (1991), as printed in J. Meeus,
// "Astronomical Algorithms" (2nd ed. 1998), ch. 47: the mean node
// (eq. 47.7) and the mean perigee, the Moon's mean longitude less its mean
// anomaly (eq. 47.1 minus eq. 47.4, with the node's constant term), in
// degrees and Julian centuries TT from J2000:
//   Omega = 125.0445479 - 1934.1362891 T + 0.0020754 T^2 + T^3/467441 - T^4/60616000
//   varpi =  83.3532465 + 4069.0137287 T - 0.0103200 T^2 - T^3/80053  + T^4/18999000
// The mean apogee is the point of the mean orbit (inclination 5.1453964
// deg, Meeus ch. 47) half a revolution from the perigee.
//
// Osculating elements: the two-body orbit through one state (e.g. Vallado,
// "Fundamentals of Astrodynamics and Applications", algorithm 9):
// angular momentum h = r x v, node direction k x h, eccentricity vector
// e = v x h / mu - r / |r|, apocentre along -e.
#include "core/lunar_points.hpp"

#include <cmath>

#include "core/angles.hpp"
#include "core/types.hpp"

namespace tarvex::core {
namespace {

constexpr std::array<double, 5> MEAN_NODE_DEG = {125.0445479, -1934.1362891, 0.0020754,
                                                 1.0 / 467441.0, -1.0 / 60616000.0};
constexpr std::array<double, 5> MEAN_PERIGEE_DEG = {83.3532465, 4069.0137287, -0.0103200,
                                                    -1.0 / 80053.0, 1.0 / 18999000.0};
constexpr double MEAN_INCLINATION_DEG = 5.1453964;

// GM of the Earth and of the Moon (DE430: 398600.435436 and 4902.800066
// km^3/s^2) in au^3/day^2, with the IAU 2012 astronomical unit.
constexpr double EARTH_MOON_GM_AU3_PER_DAY2 =
    (398600.435436 + 4902.800066) * SECONDS_PER_DAY * SECONDS_PER_DAY / (AU_KM * AU_KM * AU_KM);
constexpr double PARALLEL_GUARD = 1e-12;  // relative size of |r x v| below which there is no plane

using Vec = std::array<double, 3>;
Vec cross(const Vec& a, const Vec& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
double length(const Vec& a) { return std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]); }

template <std::size_t N>
double polynomial(double t, const std::array<double, N>& c) {
  double acc = c[N - 1];
  for (std::size_t i = N - 1; i-- > 0;) acc = acc * t + c[i];
  return acc;
}

EclipticPoint direction(const Vec& v) {
  return {normalize_degrees(std::atan2(v[1], v[0]) * RAD_TO_DEG),
          std::atan2(v[2], std::hypot(v[0], v[1])) * RAD_TO_DEG};
}

}  // namespace

double mean_lunar_node_deg(double tt_julian_day) {
  return normalize_degrees(polynomial(julian_centuries_since_j2000(tt_julian_day), MEAN_NODE_DEG));
}

double mean_lunar_perigee_deg(double tt_julian_day) {
  return normalize_degrees(
      polynomial(julian_centuries_since_j2000(tt_julian_day), MEAN_PERIGEE_DEG));
}

EclipticPoint mean_lunar_apogee(double tt_julian_day) {
  const double t = julian_centuries_since_j2000(tt_julian_day);
  const double node = polynomial(t, MEAN_NODE_DEG) * DEG_TO_RAD;
  // Argument of the apogee from the node, along the orbit.
  const double u = (polynomial(t, MEAN_PERIGEE_DEG) + 180.0) * DEG_TO_RAD - node;
  const double i = MEAN_INCLINATION_DEG * DEG_TO_RAD;
  const double lon = node + std::atan2(std::sin(u) * std::cos(i), std::cos(u));
  return {normalize_degrees(lon * RAD_TO_DEG), std::asin(std::sin(u) * std::sin(i)) * RAD_TO_DEG};
}

std::string_view message(LunarPointError error) noexcept {
  switch (error) {
    case LunarPointError::NonFiniteState: return "the Moon state has a non-finite component";
    case LunarPointError::NoOrbitPlane:
      return "the Moon's position and velocity are parallel: no orbital plane";
    case LunarPointError::InEcliptic: return "the osculating orbit lies in the ecliptic: no node";
    case LunarPointError::Unbound:
      return "the osculating orbit is not an ellipse (eccentricity >= 1): no apogee";
  }
  return "invalid lunar point error";
}

std::expected<OsculatingLunarPoints, LunarPointError> osculating_lunar_points(
    const LunarState& state) {
  const Vec& r = state.position_au;
  const Vec& v = state.velocity_au_per_day;
  for (int k = 0; k < 3; ++k)
    if (!std::isfinite(r[k]) || !std::isfinite(v[k]))
      return std::unexpected(LunarPointError::NonFiniteState);
  const double r_len = length(r);
  const Vec h = cross(r, v);
  const double h_len = length(h);
  if (!(h_len > PARALLEL_GUARD * r_len * length(v)) || r_len == 0.0)
    return std::unexpected(LunarPointError::NoOrbitPlane);
  const double h_xy = std::hypot(h[0], h[1]);
  if (!(h_xy > PARALLEL_GUARD * h_len)) return std::unexpected(LunarPointError::InEcliptic);

  OsculatingLunarPoints out;
  // Ascending node direction: k x h = (-h_y, h_x, 0).
  out.ascending_node_deg = normalize_degrees(std::atan2(h[0], -h[1]) * RAD_TO_DEG);
  out.inclination_deg = std::atan2(h_xy, h[2]) * RAD_TO_DEG;

  const Vec vh = cross(v, h);
  Vec e{};
  for (int k = 0; k < 3; ++k) e[k] = vh[k] / EARTH_MOON_GM_AU3_PER_DAY2 - r[k] / r_len;
  out.eccentricity = length(e);
  if (!(out.eccentricity < 1.0)) return std::unexpected(LunarPointError::Unbound);
  // A circular orbit has no apsides; its apogee direction is the limit of
  // -e, which at e = 0 is taken as the direction opposite the Moon.
  out.apogee =
      out.eccentricity > 0.0 ? direction({-e[0], -e[1], -e[2]}) : direction({-r[0], -r[1], -r[2]});
  return out;
}

}  // namespace tarvex::core
