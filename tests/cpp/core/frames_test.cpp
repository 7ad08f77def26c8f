// Frames against ERFA: IAU 2000B nutation, IAU 2006 bias-precession-nutation,
// mean obliquity; spherical conversion and the J2000 ecliptic.
#include "core/frames.hpp"

#include <erfa.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <utility>

#include "core/angles.hpp"
#include "core/nutation_table.hpp"

using namespace tarvex::core;

namespace {

constexpr double ASEC = 4.84813681109536e-6;

// Julian dates from 1600 to 2400, with day fractions, deterministic.
std::vector<double> dates_1600_to_2400(int count) {
  std::mt19937_64 rng(20240611);
  std::uniform_real_distribution<double> uniform(2305447.5, 2597641.5);
  std::vector<double> out;
  for (int i = 0; i < count; ++i) out.push_back(uniform(rng));
  out.push_back(2451545.0);
  out.push_back(2305447.5);
  out.push_back(2597641.5);
  return out;
}

// Columns of the rotation's matrix: the images of the unit vectors.
void matrix_of(const OfDateRotation& r, double m[3][3]) {
  for (int j = 0; j < 3; ++j) {
    CartesianState e{};
    e.position[j] = 1.0;
    const auto out = r.apply(e);
    ASSERT_TRUE(out.has_value());
    for (int i = 0; i < 3; ++i) m[i][j] = out->position[i];
  }
}

double max_abs_diff(const double a[3][3], const double b[3][3]) {
  double d = 0.0;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) d = std::max(d, std::fabs(a[i][j] - b[i][j]));
  return d;
}

CartesianState state(double x, double y, double z, double vx = 0, double vy = 0, double vz = 0) {
  return CartesianState{{x, y, z}, {vx, vy, vz}};
}

}  // namespace

TEST(NutationTable, PublishedFirstAndLastRows) {
  const auto& t = detail::NUTATION_IAU2000B_TERMS;
  const auto& first = t.front();
  EXPECT_EQ(first.a, -172064161.0);
  EXPECT_EQ(first.a_t, -174666.0);
  EXPECT_EQ(first.a_cos, 33386.0);
  EXPECT_EQ(first.b, 92052331.0);
  EXPECT_EQ(first.b_t, 9086.0);
  EXPECT_EQ(first.b_sin, 15377.0);
  EXPECT_EQ(first.omega, 1);
  // Row 5 is the Sun's anomaly term: multiplier of l' only.
  EXPECT_EQ(t[4].l_prime, 1);
  EXPECT_EQ(t[4].l, 0);
  EXPECT_EQ(t[4].a, 1475877.0);
  EXPECT_EQ(t[4].b_sin, -1924.0);
  const auto& last = t.back();
  EXPECT_EQ((std::array{last.l, last.l_prime, last.f, last.d, last.omega}),
            (std::array{1, 1, 2, -2, 2}));
  EXPECT_EQ(last.a, 1290.0);
  EXPECT_EQ(last.b, -556.0);
  EXPECT_EQ(last.a_t, 0.0);
}

// The series summed the plain way, one sine and cosine per term, in long
// double from the same arguments (reduced in double as the core does: their
// rounding, up to ~1e-12 rad centuries from J2000, is common to every way
// of summing and is not what is compared).
std::pair<long double, long double> nutation_term_by_term(double jd) {
  const double t = julian_centuries_since_j2000(jd);
  const auto arg = [t](double c, double r) -> long double {
    return std::fmod(c + r * t, 1296000.0) * ARCSEC_TO_RAD;
  };
  const long double l = arg(485868.249036, 1717915923.2178);
  const long double lp = arg(1287104.79305, 129596581.0481);
  const long double f = arg(335779.526232, 1739527262.8478);
  const long double d = arg(1072260.70369, 1602961601.209);
  const long double om = arg(450160.398036, -6962890.5431);
  long double dpsi = 0, deps = 0;
  for (const auto& k : detail::NUTATION_IAU2000B_TERMS) {
    const long double a = k.l * l + k.l_prime * lp + k.f * f + k.d * d + k.omega * om;
    dpsi += (k.a + k.a_t * t) * std::sin(a) + k.a_cos * std::cos(a);
    deps += (k.b + k.b_t * t) * std::cos(a) + k.b_sin * std::sin(a);
  }
  const long double unit = 4.848136811095359935899141e-13L;
  return {dpsi * unit - 6.544984694978736e-10L, deps * unit + 1.8810770827049994e-9L};
}

TEST(Nutation, MatchesErfaNut00bAndTheTermByTermSumFrom1550To2650) {
  // The sines and cosines come by angle addition from the five arguments';
  // ERFA takes one per term, reduced to 2 pi. Over 10^5 instants both stay
  // within a few ulp of the nutation's size (ulp of 1e-4 rad, 1.36e-20 rad)
  // of each other and of the long double sum.
  constexpr double ULP = 1.3552527156068805e-20;
  std::mt19937_64 rng(33);
  std::uniform_real_distribution<double> uniform(2287184.5, 2688976.5);
  double worst_erfa = 0, worst_exact = 0;
  for (int i = 0; i < 100000; ++i) {
    const double jd = uniform(rng);
    const auto [dpsi, deps] = nutation_iau2000b(jd);
    double ref_psi, ref_eps;
    eraNut00b(jd, 0.0, &ref_psi, &ref_eps);
    const auto [psi, eps] = nutation_term_by_term(jd);
    worst_erfa = std::max({worst_erfa, std::fabs(dpsi - ref_psi), std::fabs(deps - ref_eps)});
    worst_exact = std::max({worst_exact, static_cast<double>(std::fabs(dpsi - psi)),
                            static_cast<double>(std::fabs(deps - eps))});
  }
  EXPECT_LE(worst_erfa, 4 * ULP);
  EXPECT_LE(worst_exact, 4 * ULP);
  RecordProperty("max_diff_erfa_ulp", std::to_string(worst_erfa / ULP));
  RecordProperty("max_diff_long_double_ulp", std::to_string(worst_exact / ULP));
}

TEST(Nutation, NonFiniteDateGivesNonFiniteAnglesThatApplyRejects) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const auto [dpsi, deps] = nutation_iau2000b(nan);
  EXPECT_TRUE(std::isnan(dpsi));
  EXPECT_TRUE(std::isnan(deps));
  const auto r = OfDateRotation::create(true, true, nan);
  EXPECT_EQ(r.apply(state(1, 2, 3)).error(), CoordinateError::NonFiniteState);
}

TEST(MeanObliquity, MatchesErfaObl06) {
  // Identical polynomial; Horner with fma versus ERFA's plain Horner differs
  // by rounding of a 0.4 rad quantity.
  for (double jd : dates_1600_to_2400(500))
    EXPECT_NEAR(mean_obliquity_iau2006(jd), eraObl06(jd, 0.0), 2e-16) << jd;
}

TEST(OfDateRotation, MatchesErfaFukushimaWilliamsMatrices) {
  // Same angles and matrix product; the elements are built by different
  // roundings (three rotations applied to a vector versus a matrix product),
  // so a few ulps of 1 remain.
  double worst = 0;
  for (double jd : dates_1600_to_2400(300)) {
    double gamb, phib, psib, epsa, dpsi, deps;
    eraPfw06(jd, 0.0, &gamb, &phib, &psib, &epsa);
    eraNut00b(jd, 0.0, &dpsi, &deps);
    double ref[3][3], ours[3][3];

    eraFw2m(gamb, phib, psib + dpsi, epsa + deps, ref);
    matrix_of(OfDateRotation::create(true, true, jd), ours);
    worst = std::max(worst, max_abs_diff(ours, ref));

    eraFw2m(gamb, phib, psib, epsa, ref);
    matrix_of(OfDateRotation::create(false, true, jd), ours);
    worst = std::max(worst, max_abs_diff(ours, ref));

    // Ecliptic of date: the same product without the final R1(-eps).
    eraFw2m(gamb, phib, psib + dpsi, 0.0, ref);
    matrix_of(OfDateRotation::create(true, false, jd), ours);
    worst = std::max(worst, max_abs_diff(ours, ref));
  }
  EXPECT_LE(worst, 1e-15);
}

TEST(OfDateRotation, WithNutationEqualsCreateBitForBit) {
  const double jd = 2460000.25;
  const auto [dpsi, deps] = nutation_iau2000b(jd);
  const auto a = OfDateRotation::create(true, true, jd).apply(state(1e8, -2e7, 3e6, 1, 2, 3));
  const auto b =
      OfDateRotation::with_nutation(dpsi, deps, true, jd).apply(state(1e8, -2e7, 3e6, 1, 2, 3));
  EXPECT_EQ(*a, *b);
}

TEST(OfDateRotation, FrameBiasAtJ2000) {
  // At J2000 without nutation only the frame bias is left: psi = -0.041775"
  // and gamma = -0.052928", so the rotation is ERFA's bias matrix, not the
  // identity.
  double rb[3][3], rp[3][3], rbp[3][3], ours[3][3];
  eraBp06(2451545.0, 0.0, rb, rp, rbp);
  matrix_of(OfDateRotation::create(false, true, 2451545.0), ours);
  EXPECT_LE(max_abs_diff(ours, rb), 1e-15);
  // The x-y element is the ICRS offset of the equinox in right ascension,
  // -14.6 mas; ERFA's value of it agrees to well under 0.01 mas.
  EXPECT_NEAR(ours[0][1], -0.0146 * ASEC, 5e-11);
  EXPECT_GT(std::fabs(ours[0][2]), 3e-8);
}

TEST(OfDateRotation, InverseUndoesApply) {
  // Two chains of four plane rotations: a relative error of a few ulps per
  // rotation; 1e-15 relative bounds it.
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> coord(-1e9, 1e9), speed(-50, 50);
  for (double jd : dates_1600_to_2400(200)) {
    for (bool nutation : {false, true}) {
      for (bool equatorial : {false, true}) {
        const auto r = OfDateRotation::create(nutation, equatorial, jd);
        const auto in =
            state(coord(rng), coord(rng), coord(rng), speed(rng), speed(rng), speed(rng));
        const auto rotated = r.apply(in);
        ASSERT_TRUE(rotated.has_value());
        const auto back = r.apply_inverse(*rotated);
        ASSERT_TRUE(back.has_value());
        const double scale_p = std::hypot(in.position[0], in.position[1], in.position[2]);
        const double scale_v = std::hypot(in.velocity[0], in.velocity[1], in.velocity[2]);
        for (int i = 0; i < 3; ++i) {
          EXPECT_NEAR(back->position[i], in.position[i], 1e-15 * scale_p);
          EXPECT_NEAR(back->velocity[i], in.velocity[i], 1e-15 * scale_v);
        }
      }
    }
  }
}

TEST(Frames, EveryNonFiniteComponentIsRejected) {
  const auto r = OfDateRotation::create(true, true, 2451545.0);
  for (double bad :
       {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
        -std::numeric_limits<double>::infinity()}) {
    for (int i = 0; i < 6; ++i) {
      CartesianState s = state(1, 2, 3, 4, 5, 6);
      (i < 3 ? s.position[i] : s.velocity[i - 3]) = bad;
      EXPECT_EQ(r.apply(s).error(), CoordinateError::NonFiniteState);
      EXPECT_EQ(r.apply_inverse(s).error(), CoordinateError::NonFiniteState);
      EXPECT_EQ(to_j2000_ecliptic(s).error(), CoordinateError::NonFiniteState);
      EXPECT_EQ(to_spherical(s).error(), CoordinateError::NonFiniteState);
    }
  }
}

TEST(J2000Ecliptic, RotatesByTheIau1976ObliquityWithoutBias) {
  // The stored sine and cosine are those of 84381.448" to the last bit or so.
  const double eps0 = eraObl80(2451545.0, 0.0);
  const auto out = to_j2000_ecliptic(state(0.25, 1.0, 2.0, -3.0, 0.5, 0.125));
  ASSERT_TRUE(out.has_value());
  EXPECT_EQ(out->position[0], 0.25);
  EXPECT_EQ(out->velocity[0], -3.0);
  EXPECT_NEAR(out->position[1], std::cos(eps0) * 1.0 + std::sin(eps0) * 2.0, 4e-16);
  EXPECT_NEAR(out->position[2], -std::sin(eps0) * 1.0 + std::cos(eps0) * 2.0, 4e-16);
  EXPECT_NEAR(out->velocity[1], std::cos(eps0) * 0.5 + std::sin(eps0) * 0.125, 4e-16);
  // The north ecliptic pole, in equatorial coordinates, maps onto +z.
  const auto pole = to_j2000_ecliptic(state(0, -std::sin(eps0), std::cos(eps0)));
  EXPECT_NEAR(pole->position[1], 0.0, 2e-16);
  EXPECT_NEAR(pole->position[2], 1.0, 2e-16);
}

TEST(Spherical, AxesAndDegenerateDirections) {
  const auto east = to_spherical(state(1, 0, 0));
  EXPECT_EQ(east->longitude_deg, 0.0);
  EXPECT_EQ(east->latitude_deg, 0.0);
  EXPECT_EQ(east->distance_km, 1.0);
  EXPECT_EQ(to_spherical(state(0, -1, 0))->longitude_deg, 270.0);
  EXPECT_EQ(to_spherical(state(-1, 0, 0))->longitude_deg, 180.0);
  EXPECT_EQ(to_spherical(state(-1, -0.0, 0))->longitude_deg, 180.0);
  EXPECT_EQ(to_spherical(state(0, 0, 5)).error(), CoordinateError::UndefinedOnZAxis);
  EXPECT_EQ(to_spherical(state(0, 0, -5)).error(), CoordinateError::UndefinedOnZAxis);
  EXPECT_EQ(to_spherical(state(0, 0, 0)).error(), CoordinateError::UndefinedAtOrigin);
  EXPECT_EQ(to_spherical(state(-0.0, 0, -0.0)).error(), CoordinateError::UndefinedAtOrigin);
  // Tiny but non-zero off-axis components are a direction, not the axis.
  EXPECT_NEAR(to_spherical(state(1e-150, 0, 1))->latitude_deg, 90.0, 1e-12);
}

TEST(Spherical, LongitudeStaysBelow360ForTinyNegativeAngles) {
  // atan2 of a tiny negative y is a tiny negative angle; adding 360 alone
  // would round to exactly 360.
  const auto s = to_spherical(state(1.0, -1e-20, 0.0));
  ASSERT_TRUE(s.has_value());
  EXPECT_GE(s->longitude_deg, 0.0);
  EXPECT_LT(s->longitude_deg, 360.0);
}

TEST(Spherical, AnglesDistanceAndExactLongitudeRate) {
  // A point at 30 deg longitude, 45 deg latitude, 2 km, moving east at
  // 1 km/s in the x-y plane: rate = v / rho in rad/s.
  const double rho = 2.0 * std::cos(M_PI / 4);
  const double lon = M_PI / 6;
  const auto s = to_spherical(
      state(rho * std::cos(lon), rho * std::sin(lon), rho, -std::sin(lon), std::cos(lon), 7.0));
  ASSERT_TRUE(s.has_value());
  EXPECT_NEAR(s->longitude_deg, 30.0, 1e-13);
  EXPECT_NEAR(s->latitude_deg, 45.0, 1e-13);
  EXPECT_NEAR(s->distance_km, 2.0, 1e-15);
  EXPECT_NEAR(s->longitude_rate_deg_per_day, 1.0 / rho * (180.0 / M_PI) * 86400.0, 1e-9);

  // Against a central difference of the longitude over one second: the
  // second-order error of the difference is ~(v dt / rho)^3, tiny here.
  const CartesianState moving = state(1.5e8, -2.0e7, 4.0e6, 3.1, 29.0, -0.2);
  const auto at = [&](double dt) {
    return to_spherical(state(moving.position[0] + moving.velocity[0] * dt,
                              moving.position[1] + moving.velocity[1] * dt,
                              moving.position[2] + moving.velocity[2] * dt))
        ->longitude_deg;
  };
  const double numeric = (at(1.0) - at(-1.0)) / 2.0 * 86400.0;
  EXPECT_NEAR(to_spherical(moving)->longitude_rate_deg_per_day, numeric, 1e-9);
}
