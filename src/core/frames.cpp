// Frame mathematics of the core.
//   Nutation: IAU 2000B (McCarthy & Luzum 2003; IERS Conventions 2003, ch. 5).
//   The sines and cosines of the 77 arguments come from one sine and cosine
//   of each of the five Delaunay arguments by angle addition, as series
//   programs have long built them (the multiples of each argument by
//   recurrence, then the products), rather than a sine and a cosine per
//   term.
//   Precession: IAU 2006 Fukushima-Williams angles with frame bias, and the
//   IAU 2006 mean obliquity (Hilton et al. 2006; IERS Conventions 2010, ch. 5).
// The arithmetic follows a fixed order with explicit std::fma so that every
// platform produces the same bits.
#include "core/frames.hpp"

#include "core/multiversion.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "core/angles.hpp"
#include "core/nutation_table.hpp"

namespace tarvex::core {
namespace {

// 0.1 microarcsecond to radians.
constexpr double UNIT_0_1_UAS_TO_RAD = 4.848136811095359e-13;
// The fixed offsets that stand in for the planetary terms of IAU 2000A:
// -0.135 mas in longitude and +0.388 mas in obliquity.
constexpr double PLANETARY_OFFSET_PSI_RAD = -6.544984694978736e-10;
constexpr double PLANETARY_OFFSET_EPS_RAD = 1.8810770827049994e-9;
constexpr double ARCSEC_PER_TURN = 1296000.0;

// IAU 2006 polynomials in arcseconds, constant term first.
constexpr std::array<double, 6> MEAN_OBLIQUITY_ARCSEC = {84381.406, -46.836769, -0.0001831,
                                                         0.0020034, -5.76e-7,   -4.34e-8};
constexpr std::array<double, 6> PSI_BAR_ARCSEC = {-0.041775,   5038.481484, 1.5584175,
                                                  -0.00018522, -2.6452e-5,  -1.48e-8};
constexpr std::array<double, 6> PHI_BAR_ARCSEC = {84381.412819, -46.811016, 0.0511268,
                                                  0.00053289,   -4.4e-7,    -1.76e-8};
constexpr std::array<double, 6> GAMMA_BAR_ARCSEC = {-0.052928,   10.556378, 0.4932044,
                                                    -0.00031238, -2.788e-6, 2.6e-8};

// J2000 ecliptic: the IAU 1976 obliquity 84381.448", by its sine and cosine.
constexpr double SIN_EPS0 = 0.39777715593191365;
constexpr double COS_EPS0 = 0.9174820620691818;

// Delaunay argument in radians from its polynomial in arcseconds, reduced to
// one turn first so the sine keeps its precision centuries from J2000.
double delaunay_rad(double constant_arcsec, double rate_arcsec, double t) {
  return std::fmod(constant_arcsec + rate_arcsec * t, ARCSEC_PER_TURN) * ARCSEC_TO_RAD;
}

// A rotation by an angle, as its cosine and sine; the product of two is the
// rotation by the sum of their angles (angle addition).
struct Turn {
  double c, s;
};
[[gnu::always_inline]] inline Turn operator*(Turn a, Turn b) {
  return {a.c * b.c - a.s * b.s, a.s * b.c + a.c * b.s};
}

// The rotations by k x for the multipliers k = -4 .. 4 that the series
// gives its arguments, from one sine and cosine of x: k x = (k - 1) x + x
// upwards, and -k x by the sign of the sine. Each product costs a few ulp
// of the unit circle where a sine of the summed argument would have the
// rounding of an argument of up to ~20 rad (a few ulp of that) instead;
// the term for k = 0 is (1, 0) and leaves a product's bits unchanged.
constexpr int MAX_MULTIPLE = 4;
struct MultipleTable {
  std::array<Turn, 2 * MAX_MULTIPLE + 1> turns;
  Turn of(std::int32_t k) const { return turns[static_cast<std::size_t>(k + MAX_MULTIPLE)]; }
};
consteval bool multipliers_within_table() {
  return std::ranges::all_of(detail::NUTATION_IAU2000B_TERMS, [](const auto& term) {
    for (const std::int32_t k : {term.l, term.l_prime, term.f, term.d, term.omega})
      if (k < -MAX_MULTIPLE || k > MAX_MULTIPLE) return false;
    return true;
  });
}
static_assert(multipliers_within_table());

MultipleTable multiples_of(double x) {
  MultipleTable m;
  m.turns[MAX_MULTIPLE] = {1.0, 0.0};
  m.turns[MAX_MULTIPLE + 1] = {std::cos(x), std::sin(x)};
  for (int k = 2; k <= MAX_MULTIPLE; ++k)
    m.turns[MAX_MULTIPLE + k] = m.turns[MAX_MULTIPLE + k - 1] * m.turns[MAX_MULTIPLE + 1];
  for (int k = 1; k <= MAX_MULTIPLE; ++k)
    m.turns[MAX_MULTIPLE - k] = {m.turns[MAX_MULTIPLE + k].c, -m.turns[MAX_MULTIPLE + k].s};
  return m;
}

[[gnu::always_inline]] inline bool all_finite(const CartesianState& s) {
  for (double v : s.position)
    if (!std::isfinite(v)) return false;
  for (double v : s.velocity)
    if (!std::isfinite(v)) return false;
  return true;
}

// A rotation of the pair (p, q) by angle with sine s, cosine c:
// p' = c p + s q, q' = -s p + c q, each sum one fma of the first product onto
// the rounded second.
[[gnu::always_inline]] inline void rotate_pair(double& p, double& q, double s, double c) {
  const double p_new = std::fma(c, p, s * q);
  const double q_new = std::fma(-s, p, c * q);
  p = p_new;
  q = q_new;
}

}  // namespace

std::pair<double, double> nutation_iau2000b(double tdb_julian_day) {
  const double t = julian_centuries_since_j2000(tdb_julian_day);
  const MultipleTable l = multiples_of(delaunay_rad(485868.249036, 1717915923.2178, t));
  const MultipleTable l_prime = multiples_of(delaunay_rad(1287104.79305, 129596581.0481, t));
  const MultipleTable f = multiples_of(delaunay_rad(335779.526232, 1739527262.8478, t));
  const MultipleTable d = multiples_of(delaunay_rad(1072260.70369, 1602961601.209, t));
  const MultipleTable omega = multiples_of(delaunay_rad(450160.398036, -6962890.5431, t));

  // Smallest terms first, so that they are not lost against the large ones.
  double dpsi = 0.0;
  double deps = 0.0;
  for (auto it = detail::NUTATION_IAU2000B_TERMS.rbegin();
       it != detail::NUTATION_IAU2000B_TERMS.rend(); ++it) {
    const Turn arg = l.of(it->l) * l_prime.of(it->l_prime) * f.of(it->f) * d.of(it->d) *
                     omega.of(it->omega);
    dpsi += (it->a + it->a_t * t) * arg.s + it->a_cos * arg.c;
    deps += (it->b + it->b_t * t) * arg.c + it->b_sin * arg.s;
  }
  return {dpsi * UNIT_0_1_UAS_TO_RAD + PLANETARY_OFFSET_PSI_RAD,
          deps * UNIT_0_1_UAS_TO_RAD + PLANETARY_OFFSET_EPS_RAD};
}

double mean_obliquity_iau2006(double julian_day) {
  return horner_fma(julian_centuries_since_j2000(julian_day), MEAN_OBLIQUITY_ARCSEC) *
         ARCSEC_TO_RAD;
}

OfDateRotation OfDateRotation::create(bool nutation, bool equatorial, double tdb_julian_day) {
  if (!nutation) return with_nutation(0.0, 0.0, equatorial, tdb_julian_day);
  const auto [dpsi, deps] = nutation_iau2000b(tdb_julian_day);
  return with_nutation(dpsi, deps, equatorial, tdb_julian_day);
}

OfDateRotation OfDateRotation::with_nutation(double delta_psi_rad, double delta_epsilon_rad,
                                             bool equatorial, double tdb_julian_day) {
  const double t = julian_centuries_since_j2000(tdb_julian_day);
  const double gamma = horner_fma(t, GAMMA_BAR_ARCSEC) * ARCSEC_TO_RAD;
  const double phi = horner_fma(t, PHI_BAR_ARCSEC) * ARCSEC_TO_RAD;
  const double psi = horner_fma(t, PSI_BAR_ARCSEC) * ARCSEC_TO_RAD + delta_psi_rad;
  const double eps = mean_obliquity_iau2006(tdb_julian_day) + delta_epsilon_rad;

  OfDateRotation r;
  r.sin_gamma_ = std::sin(gamma);
  r.cos_gamma_ = std::cos(gamma);
  r.sin_phi_ = std::sin(phi);
  r.cos_phi_ = std::cos(phi);
  r.sin_psi_ = std::sin(psi);
  r.cos_psi_ = std::cos(psi);
  r.sin_eps_ = std::sin(eps);
  r.cos_eps_ = std::cos(eps);
  r.equatorial_ = equatorial;
  return r;
}

TARVEX_FMA_CLONES
std::expected<CartesianState, CoordinateError> OfDateRotation::apply(
    const CartesianState& state) const {
  if (!all_finite(state)) return std::unexpected(CoordinateError::NonFiniteState);
  CartesianState out = state;
  // The rotation's time derivative (about 50"/yr) is far below the velocity
  // precision the positions need, so velocity takes the same matrix.
  for (auto* v : {&out.position, &out.velocity}) {
    double& x = (*v)[0];
    double& y = (*v)[1];
    double& z = (*v)[2];
    rotate_pair(x, y, sin_gamma_, cos_gamma_);                // R3(gamma)
    rotate_pair(y, z, sin_phi_, cos_phi_);                    // R1(phi): onto the ecliptic of date
    rotate_pair(x, y, -sin_psi_, cos_psi_);                   // R3(-psi): to the equinox of date
    if (equatorial_) rotate_pair(y, z, -sin_eps_, cos_eps_);  // R1(-eps): to the equator
  }
  return out;
}

std::expected<CartesianState, CoordinateError> OfDateRotation::apply_inverse(
    const CartesianState& state) const {
  if (!all_finite(state)) return std::unexpected(CoordinateError::NonFiniteState);
  CartesianState out = state;
  for (auto* v : {&out.position, &out.velocity}) {
    double& x = (*v)[0];
    double& y = (*v)[1];
    double& z = (*v)[2];
    if (equatorial_) rotate_pair(y, z, sin_eps_, cos_eps_);  // R1(eps)
    rotate_pair(x, y, sin_psi_, cos_psi_);                   // R3(psi)
    rotate_pair(y, z, -sin_phi_, cos_phi_);                  // R1(-phi)
    rotate_pair(x, y, -sin_gamma_, cos_gamma_);              // R3(-gamma)
  }
  return out;
}

std::expected<CartesianState, CoordinateError> to_j2000_ecliptic(const CartesianState& state) {
  if (!all_finite(state)) return std::unexpected(CoordinateError::NonFiniteState);
  CartesianState out = state;
  // No frame bias on this path: the J2000 ecliptic is defined on the kernels'
  // axes with the IAU 1976 obliquity.
  rotate_pair(out.position[1], out.position[2], SIN_EPS0, COS_EPS0);
  rotate_pair(out.velocity[1], out.velocity[2], SIN_EPS0, COS_EPS0);
  return out;
}

TARVEX_FMA_CLONES
std::expected<SphericalCoordinates, CoordinateError> to_spherical(const CartesianState& state) {
  if (!all_finite(state)) return std::unexpected(CoordinateError::NonFiniteState);
  const auto [x, y, z] = state.position;
  const double vx = state.velocity[0];
  const double vy = state.velocity[1];
  const double rho2 = std::fma(x, x, y * y);
  const double r2 = z * z + rho2;
  if (r2 == 0.0) return std::unexpected(CoordinateError::UndefinedAtOrigin);
  if (rho2 == 0.0) return std::unexpected(CoordinateError::UndefinedOnZAxis);

  SphericalCoordinates out;
  out.longitude_deg = normalize_degrees(std::atan2(y, x) * RAD_TO_DEG);
  out.latitude_deg = std::atan2(z, std::sqrt(rho2)) * RAD_TO_DEG;
  out.distance_km = std::sqrt(r2);
  // Exact angular rate of the longitude: d(atan2(y, x))/dt.
  out.longitude_rate_deg_per_day = std::fma(x, vy, -(y * vx)) / rho2 * RAD_TO_DEG * SECONDS_PER_DAY;
  return out;
}

}  // namespace tarvex::core
