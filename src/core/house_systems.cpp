// House cusps of eighteen systems from RAMC, latitude and obliquity.
//
// References for the definitions: R. W. Holden, "The Elements of House
// Division" (1977); M. Munkasey, "An Astrological House Formulary" (1991);
// J. Meeus, "Astronomical Algorithms" (2nd ed. 1998), ch. 13 and 14 for the
// spherical transformations. Each system's own entry below names its idea.
//
// Conventions. theta = RAMC, phi = latitude, eps = obliquity. Vectors are
// unit vectors in the equatorial frame of date (x to the equinox, z to the
// north celestial pole). The local sky is spanned by the zenith Z, the east
// point E and the north point N of the horizon. Many systems draw a "house
// circle" through two opposite points (the north and south points, the
// zenith and nadir, or the celestial poles) and a division point; the cusp
// is where that circle meets the ecliptic, and of the two opposite
// intersections the one on the division point's side.
//
// The longitude of an ecliptic point whose oblique ascension under pole
// height P is OA (Munkasey's "pole" formula, also Meeus eq. 14.2 for the
// ascendant with P = phi, OA = theta + 90 deg):
//   lambda = atan2(sin OA, cos OA cos eps - tan P sin eps).
#include "core/house_systems.hpp"

#include <algorithm>
#include <cmath>

#include "core/angles.hpp"

namespace tarvex::core {
namespace {

constexpr double STEP_RAD = PI_RAD / 6.0;  // 30 degrees
constexpr double HALF_PI_RAD = PI_RAD / 2.0;
// Two vectors this short in a cross product are treated as parallel: the
// circles coincide and their intersection is undefined.
constexpr double DEGENERATE_NORM = 1e-14;
// Placidus: stop when a cusp's declination changes by less than this
// (1e-12 rad is 6e-11 deg), within the pass limit.
constexpr double PLACIDUS_TOLERANCE_RAD = 1e-12;
constexpr int PLACIDUS_MAX_PASSES = 100;
// A cusp's parallel this close to a pole has no semi-arc.
constexpr double DEGENERACY_GUARD = 1e-18;

constexpr std::array<HouseMethodName, HOUSE_METHOD_COUNT> NAMES = {{
    {HouseMethod::Placidus, "placidus", 'P', true},
    {HouseMethod::Koch, "koch", 'K', false},
    {HouseMethod::Porphyry, "porphyry", 'O', false},
    {HouseMethod::Regiomontanus, "regiomontanus", 'R', false},
    {HouseMethod::Campanus, "campanus", 'C', false},
    {HouseMethod::EqualAscendant, "equal", 'E', false},
    {HouseMethod::EqualMidheaven, "equal_midheaven", 'D', false},
    {HouseMethod::WholeSign, "whole_sign", 'W', false},
    {HouseMethod::Alcabitius, "alcabitius", 'B', false},
    {HouseMethod::Morinus, "morinus", 'M', false},
    {HouseMethod::Meridian, "meridian", 'X', false},
    {HouseMethod::Topocentric, "topocentric", 'T', false},
    {HouseMethod::Vehlow, "vehlow", 'V', false},
    {HouseMethod::Sripati, "sripati", 'S', false},
    {HouseMethod::KrusinskiPisa, "krusinski_pisa", 'U', false},
    {HouseMethod::Horizontal, "horizontal", 'H', false},
    {HouseMethod::Carter, "carter", 'F', false},
    {HouseMethod::Apc, "apc", 'Y', false},
}};

struct Vec3 {
  double x, y, z;
};
Vec3 operator*(double k, Vec3 v) { return {k * v.x, k * v.y, k * v.z}; }
Vec3 operator+(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec3 operator-(Vec3 v) { return {-v.x, -v.y, -v.z}; }
double dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec3 cross(Vec3 a, Vec3 b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
double norm(Vec3 v) { return std::sqrt(dot(v, v)); }

struct Sky {
  double theta, phi, eps, sin_eps, cos_eps, tan_phi;
  double sin_theta, cos_theta, sin_phi, cos_phi;
  Vec3 zenith, east, north, ecliptic_pole;
};

Sky make_sky(double theta, double phi, double eps) {
  const double st = std::sin(theta), ct = std::cos(theta);
  const double sp = std::sin(phi), cp = std::cos(phi);
  const double se = std::sin(eps), ce = std::cos(eps);
  return {theta,
          phi,
          eps,
          se,
          ce,
          sp / cp,
          st,
          ct,
          sp,
          cp,
          {cp * ct, cp * st, sp},
          {-st, ct, 0.0},
          {-sp * ct, -sp * st, cp},
          {0.0, -se, ce}};
}

double ecliptic_longitude(const Sky& s, Vec3 v) {
  return std::atan2(v.y * s.cos_eps + v.z * s.sin_eps, v.x);
}
Vec3 ecliptic_point(const Sky& s, double lambda) {
  return {std::cos(lambda), std::sin(lambda) * s.cos_eps, std::sin(lambda) * s.sin_eps};
}
Vec3 equatorial_point(double alpha, double delta) {
  return {std::cos(delta) * std::cos(alpha), std::cos(delta) * std::sin(alpha), std::sin(delta)};
}
// Right ascension of the ecliptic point lambda (Meeus eq. 13.3 with beta = 0).
double right_ascension(const Sky& s, double lambda) {
  return std::atan2(std::sin(lambda) * s.cos_eps, std::cos(lambda));
}
// The ecliptic point on the hour circle of right ascension alpha.
double longitude_on_hour_circle(const Sky& s, double alpha) {
  return std::atan2(std::sin(alpha), std::cos(alpha) * s.cos_eps);
}
// The ecliptic point on the circle of latitude through the equator point
// alpha (projection through the ecliptic poles). The same expression as
// the right ascension above: the rotation about the equinox line by eps
// maps either circle onto the other.
double longitude_of_equator_point(const Sky& s, double alpha) { return right_ascension(s, alpha); }
double longitude_under_pole(const Sky& s, double oblique_ascension, double tan_pole) {
  return std::atan2(std::sin(oblique_ascension),
                    std::cos(oblique_ascension) * s.cos_eps - tan_pole * s.sin_eps);
}
// The ascendant of the sky whose RAMC is theta (the same latitude).
double ascendant_at(const Sky& s, double theta) {
  return longitude_under_pole(s, theta + HALF_PI_RAD, s.tan_phi);
}

// Ecliptic longitude of the point where the great circle through the north
// and south points of the horizon at angle H from the east point along the
// prime vertical (c = cos H, s = sin H) meets the ecliptic; H = 0 is the
// ascendant (Meeus eq. 14.2 multiplied through by cos phi).
double prime_vertical_longitude(const Sky& g, double c, double s) {
  return std::atan2(c * g.cos_phi * g.cos_theta - s * g.sin_theta,
                    -(s * g.cos_eps * g.cos_theta +
                      c * (g.cos_phi * g.sin_theta * g.cos_eps + g.sin_phi * g.sin_eps)));
}

// The great circle through +-axis and p meets the ecliptic in two opposite
// points; the one on the positive side of `side`. Empty when the circle is
// the ecliptic itself.
std::optional<double> circle_meets_ecliptic(const Sky& s, Vec3 axis, Vec3 p, Vec3 side) {
  const Vec3 n = cross(axis, p);
  Vec3 d = cross(n, s.ecliptic_pole);
  if (norm(d) < DEGENERATE_NORM) return std::nullopt;
  if (dot(d, side) < 0.0) d = -d;
  return ecliptic_longitude(s, d);
}

using Cusps = std::array<double, 12>;  // radians, any range until the end

// Quadrant systems fix cusps 11, 12, 2 and 3; the others are the ascendant,
// the midheaven and the opposite points.
Cusps quadrants(double asc, double mc, double c11, double c12, double c2, double c3) {
  return {asc,
          c2,
          c3,
          normalize_radians(mc + PI_RAD),
          normalize_radians(c11 + PI_RAD),
          normalize_radians(c12 + PI_RAD),
          normalize_radians(asc + PI_RAD),
          normalize_radians(c2 + PI_RAD),
          normalize_radians(c3 + PI_RAD),
          mc,
          c11,
          c12};
}

// Placidus (Holden ch. 6; Munkasey "Placidus"): a cusp is the ecliptic
// degree that has covered a third (cusps 11, 3) or two thirds (12, 2) of its
// own semi-arc from the meridian. The semi-arc depends on the degree's
// declination, so iterate from the equator: declination -> diurnal
// semi-arc D = acos(-tan phi tan delta) -> right ascension -> longitude on
// that hour circle -> declination. Cusps 11 and 12 lie one and two thirds
// of D east of the upper meridian, cusps 2 and 3 two and one thirds of the
// nocturnal semi-arc (pi - D) short of the lower meridian. A cusp is
// undefined when its ecliptic degree never rises or sets, or when the
// iteration does not settle within the pass limit.
//
// The four cusps iterate independently, so one pass steps all unsettled
// cusps in turn: each cusp sees exactly its own sequence of operations, and
// the processor overlaps the four chains of library calls, which would
// otherwise each wait on the one before. A settled cusp keeps its value.
enum class PlacidusCusp { Eleven, Twelve, Two, Three };

double placidus_right_ascension(PlacidusCusp cusp, double d, double ramc) {
  switch (cusp) {
    case PlacidusCusp::Eleven: return d / 3.0 + ramc;
    case PlacidusCusp::Twelve: return (d + d) / 3.0 + ramc;
    case PlacidusCusp::Two: return (PI_RAD - d) * 2.0 / (-3.0) + (PI_RAD + ramc);
    case PlacidusCusp::Three: break;
  }
  return (PI_RAD - d) / (-3.0) + (PI_RAD + ramc);
}

struct PlacidusIteration {
  PlacidusCusp cusp;
  double delta = 0.0;
  double longitude = 0.0;
  bool settled = false;
};

// One pass for one cusp; false when the cusp turns out undefined.
bool placidus_step(const Sky& g, PlacidusIteration& it) {
  const double gg = std::cos(it.delta) * g.cos_phi;
  if (std::fabs(gg) < DEGENERACY_GUARD) return false;
  const double x = std::sin(it.delta) * (-g.sin_phi) / gg;
  if (!(std::fabs(x) <= 1.0)) return false;  // also catches NaN
  const double d = std::acos(x);
  const double alpha = placidus_right_ascension(it.cusp, d, g.theta);
  const double lambda = std::atan2(std::sin(alpha), std::cos(alpha) * g.cos_eps);
  const double delta_next = std::asin(std::sin(lambda) * g.sin_eps);
  if (std::fabs(delta_next - it.delta) < PLACIDUS_TOLERANCE_RAD) {
    it.longitude = normalize_radians(lambda);
    it.settled = true;
  }
  it.delta = delta_next;
  return true;
}

// Cusps 11, 12, 2 and 3 in that order, or empty if any is undefined.
std::optional<std::array<double, 4>> placidus_cusps(const Sky& g) {
  std::array<PlacidusIteration, 4> cusps{{{PlacidusCusp::Eleven},
                                          {PlacidusCusp::Twelve},
                                          {PlacidusCusp::Two},
                                          {PlacidusCusp::Three}}};
  for (int pass = 0; pass < PLACIDUS_MAX_PASSES; ++pass) {
    bool all_settled = true;
    for (PlacidusIteration& it : cusps) {
      if (it.settled) continue;
      if (!placidus_step(g, it)) return std::nullopt;
      all_settled = all_settled && it.settled;
    }
    if (all_settled) {
      return std::array<double, 4>{cusps[0].longitude, cusps[1].longitude, cusps[2].longitude,
                                   cusps[3].longitude};
    }
  }
  return std::nullopt;
}

// Placidus by a safeguarded Newton iteration, for the kit. The same cusps
// as the fixed point above, written as one equation in one unknown. With
// K = tan phi tan eps, the ecliptic degree of right ascension alpha has
// tan delta = tan eps sin alpha (Meeus eq. 13.4 with beta = 0), so its
// diurnal semi-arc D obeys cos D = -K sin alpha. Each cusp's right
// ascension is alpha = a0 + m D / 3 (m = 1 for cusps 11 and 3, 2 for 12
// and 2; a0 = RAMC for 11 and 12, RAMC + 60 deg for 2, RAMC + 120 deg for
// 3, from placidus_right_ascension). In the unknown w = D / 3, in [0, 60
// deg], the cusp is the root of
//     F(w) = cos 3w + K sin(a0 + m w),
// F(0) = 1 + K sin a0 > 0 and F(60 deg) = -1 + K sin(...) < 0 wherever
// |K| < 1 (outside the polar circles), and the root is single there: in
// alpha the equation is alpha - a0 - (m/3) acos(-K sin alpha) = 0, whose
// derivative 1 - (m/3) K cos alpha / sqrt(1 - K^2 sin^2 alpha) lies in
// [1/3, 5/3]. One sincos per step gives everything: cos 3w = 4c^3 - 3c,
// sin 3w = 3s - 4s^3, and sin, cos of m w and of alpha by angle addition.
// Each Newton step stays inside the bracket the signs of F keep, or the
// bracket is halved instead; the iteration stops when a Newton step moves w
// by less than PLACIDUS_NEWTON_STEP_RAD, where the error left is of the
// order of the step squared.
constexpr double PLACIDUS_NEWTON_STEP_RAD = 1e-9;
constexpr int PLACIDUS_NEWTON_MAX_STEPS = 100;

constexpr double SIN_60 = 0.8660254037844386;

struct PlacidusNewton {
  double sin_a0, cos_a0;  // of the cusp's base right ascension a0
  bool twice;             // m = 2
  // The bracket and the point, starting on the equator (D = 90 deg, as the
  // fixed point does), with its sine and cosine.
  double lo = 0.0, hi = PI_RAD / 3.0, w = PI_RAD / 6.0;
  double sin_w = 0.5, cos_w = SIN_60;
  double sin_alpha = 0.0, cos_alpha = 1.0;
  bool settled = false;
};

// One step for one cusp.
void placidus_newton_step(double k, PlacidusNewton& it) {
  const double s = it.sin_w, c = it.cos_w;
  const double cos_3w = (4.0 * c * c - 3.0) * c;
  const double sin_3w = (3.0 - 4.0 * s * s) * s;
  const double sin_mw = it.twice ? 2.0 * s * c : s;
  const double cos_mw = it.twice ? c * c - s * s : c;
  const double sin_alpha = it.sin_a0 * cos_mw + it.cos_a0 * sin_mw;
  const double cos_alpha = it.cos_a0 * cos_mw - it.sin_a0 * sin_mw;
  const double m = it.twice ? 2.0 : 1.0;
  const double f = cos_3w + k * sin_alpha;
  const double slope = -3.0 * sin_3w + k * m * cos_alpha;
  (f > 0.0 ? it.lo : it.hi) = it.w;
  double next = it.w - f / slope;
  // Only a Newton step can settle the cusp: a halving of the bracket says
  // nothing about the distance from the root.
  const bool newton = next >= it.lo && next <= it.hi;  // false for NaN
  if (!newton) next = 0.5 * (it.lo + it.hi);
  const double h = next - it.w;
  it.w = next;
  // The step's sine and cosine to third order (h^3 / 6 < 2e-28 once the
  // step is this small): alpha moves by m h.
  const double mh = m * h;
  const double cos_mh = 1.0 - 0.5 * mh * mh;
  it.sin_alpha = sin_alpha * cos_mh + cos_alpha * mh;
  it.cos_alpha = cos_alpha * cos_mh - sin_alpha * mh;
  it.settled = newton && std::fabs(h) < PLACIDUS_NEWTON_STEP_RAD;
  if (!it.settled) {
    it.sin_w = std::sin(next);
    it.cos_w = std::cos(next);
  }
}

// Cusps 11, 12, 2 and 3 in that order, or empty outside the region where
// every ecliptic degree rises and sets (|K| >= 1) or without convergence.
std::optional<std::array<double, 4>> placidus_cusps_newton(const Sky& g) {
  const double k = g.tan_phi * (g.sin_eps / g.cos_eps);
  if (!(std::fabs(k) < 1.0)) return std::nullopt;
  // sin and cos of RAMC + 60 deg and RAMC + 120 deg by angle addition.
  const double st = g.sin_theta, ct = g.cos_theta;
  const double s60 = 0.5 * st + SIN_60 * ct, c60 = 0.5 * ct - SIN_60 * st;
  const double s120 = -0.5 * st + SIN_60 * ct, c120 = -0.5 * ct - SIN_60 * st;
  std::array<PlacidusNewton, 4> cusps{{{st, ct, false}, {st, ct, true}, {s60, c60, true},
                                       {s120, c120, false}}};
  for (int step = 0; step < PLACIDUS_NEWTON_MAX_STEPS; ++step) {
    bool all_settled = true;
    for (PlacidusNewton& it : cusps) {
      if (it.settled) continue;
      placidus_newton_step(k, it);
      all_settled = all_settled && it.settled;
    }
    if (all_settled) {
      std::array<double, 4> out{};
      for (int n = 0; n < 4; ++n)
        out[n] = normalize_radians(
            std::atan2(cusps[n].sin_alpha, cusps[n].cos_alpha * g.cos_eps));
      return out;
    }
  }
  return std::nullopt;
}

bool inside_polar_circle(double phi, double eps) { return std::fabs(phi) + eps >= HALF_PI_RAD; }

double to_degrees(double angle_rad) { return normalize_degrees(angle_rad * RAD_TO_DEG); }

// Inside the polar circles the culminating point of the ecliptic (the
// midheaven, on the upper meridian) can lie below the horizon. The systems
// whose house circles pass through the north and south points then meet
// the ecliptic above the horizon at the opposite point: their cusp 10 is
// there, and cusps 2, 3, 5, 6, 8, 9, 11 and 12 follow it, so that the
// cusps keep their order round the ecliptic.
bool midheaven_below_horizon(const Sky& s, double mc) {
  return dot(ecliptic_point(s, mc), s.zenith) < 0.0;
}
Cusps turned_from_the_angles(Cusps c) {
  for (int n = 0; n < 12; ++n)
    if (n != 0 && n != 6) c[n] += PI_RAD;
  return c;
}

// `turned`: the ascendant formula gave the western meeting of ecliptic and
// horizon, turned half a circle to the eastern one.
std::expected<Cusps, HouseErrorReason> cusps_of(HouseMethod method, const Sky& s, double asc,
                                                double mc, bool turned, PlacidusSolver solver) {
  const double theta = s.theta;
  const double eps = s.eps;
  Cusps c{};
  switch (method) {
    case HouseMethod::Placidus: {
      const auto placidus =
          solver == PlacidusSolver::Newton ? placidus_cusps_newton(s) : placidus_cusps(s);
      if (!placidus) return std::unexpected(HouseErrorReason::NoConvergence);
      const auto [c11, c12, c2, c3] = *placidus;
      return quadrants(asc, mc, c11, c12, c2, c3);
    }
    case HouseMethod::Koch: {
      // Koch (birthplace, GOH; Holden ch. 9): trisect the time the
      // midheaven degree takes from rising to culminating, its diurnal
      // semi-arc D; the cusps are the degrees ascending at those times
      // (cusps 11, 12) and at the same steps forward (cusps 2, 3).
      if (inside_polar_circle(s.phi, eps))
        return std::unexpected(HouseErrorReason::InsidePolarCircle);
      const double delta_mc = std::asin(std::sin(mc) * s.sin_eps);
      const double d = std::acos(-s.tan_phi * std::tan(delta_mc));
      return quadrants(asc, mc, ascendant_at(s, theta - 2.0 * d / 3.0),
                       ascendant_at(s, theta - d / 3.0), ascendant_at(s, theta + d / 3.0),
                       ascendant_at(s, theta + 2.0 * d / 3.0));
    }
    case HouseMethod::Porphyry:
    case HouseMethod::Sripati: {
      // Porphyry: the ecliptic arcs between the angles trisected.
      const double arc = normalize_radians(asc - mc);  // midheaven to ascendant
      const double night = PI_RAD - arc;
      const Cusps p = quadrants(asc, mc, mc + arc / 3.0, mc + 2.0 * arc / 3.0, asc + night / 3.0,
                                asc + 2.0 * night / 3.0);
      if (method == HouseMethod::Porphyry) return p;
      // Sripati (Sripati Paddhati; Holden): the Porphyry cusps are the
      // middles of the houses (bhava madhya); the cusps proper (sandhi) lie
      // halfway between consecutive middles.
      for (int n = 0; n < 12; ++n) {
        const double before = p[(n + 11) % 12];
        c[n] = before + normalize_radians(p[n] - before) / 2.0;
      }
      return c;
    }
    case HouseMethod::Regiomontanus:
    case HouseMethod::Topocentric: {
      // Regiomontanus (Holden ch. 5): the equator divided into 30-degree
      // steps from the meridian, house circles through the north and south
      // points; the circle meeting the equator H from the meridian has pole
      // height tan P = tan phi sin H.
      // Topocentric (W. Polich and A. P. Nelson Page, 1961): the same
      // oblique ascensions with tan P = tan phi * k/3, k = 1, 2 from the
      // meridian.
      const bool regio = method == HouseMethod::Regiomontanus;
      const auto cusp = [&](double steps, double topo_k) {
        const double h = steps * STEP_RAD;
        const double tan_pole = regio ? s.tan_phi * std::sin(h) : s.tan_phi * topo_k / 3.0;
        return longitude_under_pole(s, theta + h, tan_pole);
      };
      const Cusps q = quadrants(asc, mc, cusp(1, 1), cusp(2, 2), cusp(4, 2), cusp(5, 1));
      return midheaven_below_horizon(s, mc) ? turned_from_the_angles(q) : q;
    }
    case HouseMethod::Campanus:
      // Campanus (Holden ch. 4): the prime vertical divided into 30-degree
      // steps from the east point, house circles through the north and
      // south points. Where the ascendant was turned to the eastern meeting
      // of ecliptic and horizon, the same formula's other cusps are all on
      // the far side too.
      c[0] = asc;
      for (int n = 1; n < 12; ++n) {
        const double h = n * STEP_RAD;
        c[n] = prime_vertical_longitude(s, std::cos(h), std::sin(h));
        if (turned) c[n] = normalize_radians(c[n] + PI_RAD);
      }
      return c;
    case HouseMethod::EqualAscendant:
      for (int n = 0; n < 12; ++n) c[n] = normalize_radians(asc + n * STEP_RAD);
      return c;
    case HouseMethod::EqualMidheaven:
      for (int n = 0; n < 12; ++n) c[n] = mc + (n + 3) * STEP_RAD;
      return c;
    case HouseMethod::Vehlow:
      // Equal houses with the ascendant in the middle of the first house
      // (J. Vehlow, "Lehrbuch der Astrologie", 1930s).
      for (int n = 0; n < 12; ++n) c[n] = asc + (n - 0.5) * STEP_RAD;
      return c;
    case HouseMethod::WholeSign: {
      const double sign_start_deg = std::floor(to_degrees(asc) / 30.0) * 30.0;
      for (int n = 0; n < 12; ++n)
        c[n] = normalize_degrees(sign_start_deg + 30.0 * n) * DEG_TO_RAD;
      return c;
    }
    case HouseMethod::Alcabitius: {
      // Alcabitius (al-Qabisi; Holden ch. 3): the ascendant degree's diurnal
      // and nocturnal semi-arcs, measured on the equator, trisected; the
      // cusps lie on the hour circles through the division points.
      const double ra_asc = right_ascension(s, asc);
      const double day = normalize_radians(ra_asc - theta);
      const double night = PI_RAD - day;
      return quadrants(asc, mc, longitude_on_hour_circle(s, theta + day / 3.0),
                       longitude_on_hour_circle(s, theta + 2.0 * day / 3.0),
                       longitude_on_hour_circle(s, ra_asc + night / 3.0),
                       longitude_on_hour_circle(s, ra_asc + 2.0 * night / 3.0));
    }
    case HouseMethod::Morinus:
      // Morinus (J.-B. Morin, "Astrologia Gallica", 1661): the equator in
      // 30-degree steps from the east point, projected onto the ecliptic
      // through the ecliptic poles; cusp 10 is therefore not the midheaven.
      for (int n = 0; n < 12; ++n)
        c[n] = longitude_of_equator_point(s, theta + HALF_PI_RAD + n * STEP_RAD);
      return c;
    case HouseMethod::Meridian:
      // Meridian or axial rotation (D. Zariel; Holden ch. 10): the same
      // equator division through the celestial poles; cusp 1 is the east
      // point, cusp 10 the midheaven.
      for (int n = 0; n < 12; ++n)
        c[n] = longitude_on_hour_circle(s, theta + HALF_PI_RAD + n * STEP_RAD);
      return c;
    case HouseMethod::Carter: {
      // Carter's poli-equatorial (C. E. O. Carter, "The Principles of
      // Astrology", 1925): the equator in 30-degree steps from the
      // ascendant's right ascension, through the celestial poles.
      const double ra_asc = right_ascension(s, asc);
      for (int n = 0; n < 12; ++n) c[n] = longitude_on_hour_circle(s, ra_asc + n * STEP_RAD);
      c[0] = asc;
      return c;
    }
    case HouseMethod::KrusinskiPisa: {
      // Krusinski-Pisa (B. Krusinski 1995, after Pisa and Goelzer): the
      // great circle through the ascendant and the zenith divided into
      // 30-degree steps from the ascendant; the cusps lie on the hour
      // circles through the division points. Upwards from the ascendant
      // come cusps 12, 11, 10 (the zenith's hour circle is the meridian).
      const Vec3 a = ecliptic_point(s, asc);  // on the horizon: a is orthogonal to the zenith
      for (int k = 0; k < 12; ++k) {
        const double t = k * STEP_RAD;
        const Vec3 p = std::cos(t) * a + std::sin(t) * s.zenith;
        c[(12 - k) % 12] = longitude_on_hour_circle(s, std::atan2(p.y, p.x));
      }
      c[0] = asc;
      return c;
    }
    case HouseMethod::Horizontal: {
      // Horizontal or azimuthal (Holden; Munkasey "Horizon"): the horizon
      // divided into 30-degree steps of azimuth from the meridian, house
      // circles through the zenith and nadir (verticals). Campanus with the
      // horizon in place of the prime vertical. Counting starts from the
      // south point in the northern hemisphere (north point in the
      // southern) towards the east; the whole set is turned half a circle
      // where that leaves cusp 10 at the lower culmination, so that cusp 10
      // is always the midheaven.
      const Vec3 start = s.phi >= 0.0 ? -s.north : s.north;
      for (int k = 0; k < 12; ++k) {
        const double h = k * STEP_RAD;
        const Vec3 p = std::cos(h) * start + std::sin(h) * s.east;
        const auto lambda = circle_meets_ecliptic(s, s.zenith, p, p);
        if (!lambda) return std::unexpected(HouseErrorReason::HouseCircleOnEcliptic);
        c[(9 + k) % 12] = *lambda;
      }
      if (std::cos(c[9] - mc) < 0.0)
        for (double& x : c) x += PI_RAD;
      c[9] = mc;
      c[3] = mc + PI_RAD;
      return c;
    }
    case HouseMethod::Apc: {
      // APC, ascendant parallel circle (L. Knegt; Munkasey): the diurnal and
      // nocturnal arcs of the ascendant degree's parallel of declination,
      // each divided into six equal steps of hour angle; house circles
      // through the north and south points of the horizon. Each cusp is
      // taken on the same side of the meridian as its division point.
      const double delta = std::asin(std::sin(asc) * s.sin_eps);
      const double day = std::acos(std::clamp(-s.tan_phi * std::tan(delta), -1.0, 1.0));
      const double night = PI_RAD - day;
      // Hour angle (west positive) of each cusp's division point.
      struct Division {
        int index;
        double hour_angle;
      };
      const std::array<Division, 8> divisions = {{{10, -day / 3.0},
                                                  {11, -2.0 * day / 3.0},
                                                  {1, -day - night / 3.0},
                                                  {2, -day - 2.0 * night / 3.0},
                                                  {4, PI_RAD - night / 3.0},
                                                  {5, PI_RAD - 2.0 * night / 3.0},
                                                  {7, 2.0 * day / 3.0},
                                                  {8, day / 3.0}}};
      for (const Division& dv : divisions) {
        const Vec3 p = equatorial_point(theta - dv.hour_angle, delta);
        const Vec3 side = dot(p, s.east) >= 0.0 ? s.east : -s.east;
        const auto lambda = circle_meets_ecliptic(s, s.north, p, side);
        if (!lambda) return std::unexpected(HouseErrorReason::HouseCircleOnEcliptic);
        c[dv.index] = *lambda;
      }
      c[0] = asc;
      c[6] = asc + PI_RAD;
      c[9] = midheaven_below_horizon(s, mc) ? mc + PI_RAD : mc;
      c[3] = c[9] + PI_RAD;
      return c;
    }
  }
  return std::unexpected(HouseErrorReason::NonFiniteInput);  // not reached for valid enums
}

std::string_view reason_text(HouseErrorReason reason) {
  switch (reason) {
    case HouseErrorReason::NonFiniteInput: return "need a finite RAMC, latitude and obliquity";
    case HouseErrorReason::LatitudeOutOfRange:
      return "need a latitude strictly between -90 and 90 degrees";
    case HouseErrorReason::ObliquityOutOfRange:
      return "need an obliquity strictly between 0 and 90 degrees";
    case HouseErrorReason::InsidePolarCircle:
      return "are undefined inside the polar circle (|latitude| >= 90 degrees - obliquity), "
             "where some ecliptic degrees never rise or set";
    case HouseErrorReason::EclipticOnHorizon:
      return "are undefined when the ecliptic lies in the horizon (no ascendant)";
    case HouseErrorReason::HouseCircleOnEcliptic:
      return "are undefined when a house circle coincides with the ecliptic";
    case HouseErrorReason::NoConvergence:
      return "did not converge: a cusp's semi-arc iteration did not settle";
  }
  return "are undefined";
}

}  // namespace

std::span<const HouseMethodName> house_method_names() noexcept { return NAMES; }

std::string_view name(HouseMethod method) noexcept {
  const auto i = static_cast<std::size_t>(method);
  return i < NAMES.size() ? NAMES[i].name : std::string_view{};
}

char letter(HouseMethod method) noexcept {
  const auto i = static_cast<std::size_t>(method);
  return i < NAMES.size() ? NAMES[i].letter : '\0';
}

std::optional<HouseMethod> house_method_from_name(std::string_view text) noexcept {
  for (const auto& row : NAMES)
    if (row.name == text) return row.method;
  return std::nullopt;
}

std::optional<HouseMethod> house_method_from_letter(char key) noexcept {
  for (const auto& row : NAMES)
    if (row.letter == key) return row.method;
  return std::nullopt;
}

std::string HouseError::message() const {
  std::string out(name(method));
  out += " house cusps ";
  out += reason_text(reason);
  return out;
}

namespace {

std::expected<HouseCuspSet, HouseError> cusps_of_sky(HouseMethod method, const Sky& s,
                                                     PlacidusSolver solver) {
  double asc = prime_vertical_longitude(s, 1.0, 0.0);
  // The formula's branch gives the western (setting) meeting of ecliptic and
  // horizon wherever the midheaven lies below the horizon, which happens
  // inside the polar circles; the ascendant is the eastern (rising) one: its
  // component along the east point, (-sin RAMC, cos RAMC, 0), is positive.
  const bool turned =
      std::cos(asc) * -s.sin_theta + std::sin(asc) * s.cos_eps * s.cos_theta < 0.0;
  if (turned) asc = normalize_radians(asc + PI_RAD);
  const double mc = std::atan2(s.sin_theta, s.cos_eps * s.cos_theta);

  const auto cusps = cusps_of(method, s, asc, mc, turned, solver);
  if (!cusps) return std::unexpected(HouseError{method, cusps.error()});

  HouseCuspSet out;
  out.method = method;
  for (int n = 0; n < 12; ++n) out.cusp_deg[n] = to_degrees((*cusps)[n]);
  out.ascendant_deg = to_degrees(asc);
  out.midheaven_deg = to_degrees(mc);
  return out;
}

}  // namespace

std::expected<HouseCuspSet, HouseError> house_cusps_rad(HouseMethod method, double ramc_rad,
                                                        double latitude_rad, double obliquity_rad,
                                                        PlacidusSolver solver) {
  return cusps_of_sky(method, make_sky(ramc_rad, latitude_rad, obliquity_rad), solver);
}

std::expected<HouseCuspSet, HouseError> house_cusps_deg(HouseMethod method, double ramc_deg,
                                                        double latitude_deg, double obliquity_deg,
                                                        PlacidusSolver solver) {
  const auto fail = [method](HouseErrorReason r) { return std::unexpected(HouseError{method, r}); };
  if (!std::isfinite(ramc_deg) || !std::isfinite(latitude_deg) || !std::isfinite(obliquity_deg))
    return fail(HouseErrorReason::NonFiniteInput);
  if (!(std::fabs(latitude_deg) < 90.0)) return fail(HouseErrorReason::LatitudeOutOfRange);
  if (!(obliquity_deg > 0.0 && obliquity_deg < 90.0))
    return fail(HouseErrorReason::ObliquityOutOfRange);
  return house_cusps_of_sky(method, normalize_degrees(ramc_deg) * DEG_TO_RAD,
                            latitude_deg * DEG_TO_RAD, obliquity_deg * DEG_TO_RAD, solver);
}

std::expected<HouseCuspSet, HouseError> house_cusps_of_sky(HouseMethod method, double theta,
                                                           double phi, double eps,
                                                           PlacidusSolver solver) {
  const auto fail = [method](HouseErrorReason r) { return std::unexpected(HouseError{method, r}); };
  if (!std::isfinite(theta) || !std::isfinite(phi) || !std::isfinite(eps))
    return fail(HouseErrorReason::NonFiniteInput);
  if (!(std::fabs(phi) < HALF_PI_RAD)) return fail(HouseErrorReason::LatitudeOutOfRange);
  if (!(eps > 0.0 && eps < HALF_PI_RAD)) return fail(HouseErrorReason::ObliquityOutOfRange);
  // Placidus inside the polar circles: the degrees that never rise or set
  // have no semi-arc, and cusps the iteration happens to find there mean
  // nothing; Koch says the same inside cusps_of.
  if (method == HouseMethod::Placidus && inside_polar_circle(phi, eps))
    return fail(HouseErrorReason::InsidePolarCircle);
  // The ascendant formula's two terms vanish together only when the
  // ecliptic lies in the horizon.
  const Sky s = make_sky(theta, phi, eps);
  const double asc_y = s.cos_theta;
  const double asc_x = -(s.sin_theta * s.cos_eps + std::tan(phi) * s.sin_eps);
  if (std::hypot(asc_x, asc_y) < DEGENERATE_NORM) return fail(HouseErrorReason::EclipticOnHorizon);

  auto out = cusps_of_sky(method, s, solver);
  if (!out) return out;
  // The prime vertical is the great circle through the zenith and the east
  // point; the vertex is its western meeting with the ecliptic. Where the
  // prime vertical is the ecliptic itself (a tropical latitude equal to the
  // obliquity, at one instant a day) every point qualifies and the
  // descendant is given.
  const auto vertex = circle_meets_ecliptic(s, s.zenith, s.east, -s.east);
  out->vertex_deg = to_degrees(vertex.value_or(out->ascendant_deg * DEG_TO_RAD + PI_RAD));
  out->equatorial_ascendant_deg = to_degrees(longitude_under_pole(s, theta + HALF_PI_RAD, 0.0));
  // The equal systems step from an angle in degrees, so that sign
  // boundaries and 30-degree steps stay exact rather than going through
  // radians once more.
  const auto steps_from = [&out](double first_deg) {
    for (int n = 0; n < 12; ++n) out->cusp_deg[n] = normalize_degrees(first_deg + 30.0 * n);
  };
  switch (method) {
    case HouseMethod::EqualAscendant: steps_from(out->ascendant_deg); break;
    case HouseMethod::EqualMidheaven: steps_from(out->midheaven_deg + 90.0); break;
    case HouseMethod::Vehlow: steps_from(out->ascendant_deg - 15.0); break;
    case HouseMethod::WholeSign: steps_from(std::floor(out->ascendant_deg / 30.0) * 30.0); break;
    default: break;
  }
  return out;
}

}  // namespace tarvex::core
