// The Gauss-Radau integrator on the two-body problem, where Kepler's
// equation gives the answer: an eccentric orbit over a hundred revolutions
// both ways, the output nodes in time order, and the failures.
#include "core/gauss_radau.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <span>

#include "core/nbody_force.hpp"

using namespace tarvex::core;

namespace {

constexpr double MU = 2.9591220828411956e-04;

// Position on the ellipse a = 1, e at time t (perihelion at t = 0, in the x-y plane).
std::array<double, 3> kepler(double e, double t) {
  const double m = std::sqrt(MU) * t;
  double ea = m;
  for (int k = 0; k < 50; ++k) ea -= (ea - e * std::sin(ea) - m) / (1 - e * std::cos(ea));
  return {std::cos(ea) - e, std::sqrt(1 - e * e) * std::sin(ea), 0.0};
}

const RadauForce SUN = [](double, std::span<const double> x, std::span<const double> v, std::span<double> a,
                          double& noise) {
  const PointMass sun[] = {{MU, 0.01}};
  const double at[] = {0.0, 0.0, 0.0};
  const double still[] = {0.0, 0.0, 0.0};
  return !barycentric_acceleration(std::span<const double, 3>(x.data(), 3), std::span<const double, 3>(v.data(), 3),
                                   sun, at, 0, still, 0.0, std::span<double, 3>(a.data(), 3), noise);
};

}  // namespace

TEST(GaussRadau, EccentricOrbitMatchesKeplerBothWays) {
  const double e = 0.6;
  const double period = 2 * M_PI / std::sqrt(MU);
  for (double direction : {1.0, -1.0}) {
    std::array<double, 3> x{1 - e, 0, 0};
    std::array<double, 3> v{0, std::sqrt(MU * (1 + e) / (1 - e)), 0};
    double last = 0.0;
    std::size_t nodes = 0;
    const RadauSink sink = [&](double t, std::span<const double>, std::span<const double>) {
      EXPECT_GT(direction * (t - last), 0.0);
      last = t;
      ++nodes;
      return true;
    };
    RadauSettings settings;
    settings.nodes_per_step = 3;
    auto done = integrate_gauss_radau(x, v, 0.0, direction * 100.25 * period, SUN, sink, settings);
    ASSERT_TRUE(done.has_value());
    EXPECT_EQ(nodes, 3 * done->steps);
    EXPECT_EQ(last, direction * 100.25 * period);
    const auto expected = kepler(e, direction * 100.25 * period);
    for (std::size_t i = 0; i < 3; ++i) EXPECT_NEAR(x[i], expected[i], 1e-9) << i;
  }
}

TEST(GaussRadau, ImpactsAndStoppedSinksAreFailures) {
  std::array<double, 3> x{0.5, 0, 0};
  std::array<double, 3> v{0, 0, 0};  // falls straight into the Sun's radius
  const RadauSink keep = [](double, std::span<const double>, std::span<const double>) { return true; };
  EXPECT_EQ(integrate_gauss_radau(x, v, 0.0, 100.0, SUN, keep, {}).error(), RadauFailure::ForceFailed);
  std::array<double, 3> y{1, 0, 0};
  std::array<double, 3> w{0, std::sqrt(MU), 0};
  const RadauSink stop = [](double, std::span<const double>, std::span<const double>) { return false; };
  EXPECT_EQ(integrate_gauss_radau(y, w, 0.0, 100.0, SUN, stop, {}).error(), RadauFailure::SinkStopped);
}
