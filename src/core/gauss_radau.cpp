// Everhart's Gauss-Radau integrator with IAS15 step control (see
// gauss_radau.hpp for the method and its sources).
#include "core/gauss_radau.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace tarvex::core {

namespace {

constexpr std::size_t NODES = 8;  // h0 = 0 and the seven Gauss-Radau nodes
constexpr std::size_t ORDER = 7;  // b0 .. b6
// The Gauss-Radau spacings on [0, 1] (Everhart 1985, table 1, 15th order).
constexpr std::array<double, NODES> SPACING = {
    0.0,
    0.0562625605369221464656521910318,
    0.180240691736892364987579942780,
    0.352624717113169637373907769648,
    0.547153626330555383001448554766,
    0.734210177215410531523210605558,
    0.885320946839095768090359771030,
    0.977520613561287501891174488626,
};
// Rein and Spiegel (2015), section 2.3: the iteration stops when b6 moves less than this.
constexpr double PREDICTOR_CORRECTOR_LIMIT = 1e-16;
constexpr int MAX_ITERATIONS = 12;
constexpr double SAFETY = 0.25;
constexpr double ORDER_ROOT = 1.0 / 7.0;

// The constant tables of the method, derived from the spacings: r for the
// divided differences, c from the Newton coefficients g to the powers b,
// d back from b to g.
struct Tables {
  std::array<std::array<double, NODES>, NODES> r{};
  std::array<std::array<double, ORDER>, ORDER> c{};
  std::array<std::array<double, ORDER>, ORDER> d{};
  // Sum of the magnitudes of the weights of the node accelerations in b6
  // (their seventh divided difference): how rounding errors reach it.
  double b6_gain = 0.0;

  Tables() {
    for (std::size_t n = 1; n < NODES; ++n) {
      for (std::size_t j = 0; j < n; ++j) r[n][j] = 1.0 / (SPACING[n] - SPACING[j]);
    }
    // N_j(h) = h (h - h1) ... (h - h_j) = sum_k c[j][k] h^(k+1).
    std::array<long double, ORDER + 1> poly{};
    poly[0] = 1.0L;  // coefficients of 1, h, h^2 ... of the product without the leading h
    for (std::size_t j = 0; j < ORDER; ++j) {
      if (j > 0) {
        for (std::size_t k = j; k > 0; --k) poly[k] = poly[k - 1] - static_cast<long double>(SPACING[j]) * poly[k];
        poly[0] = -static_cast<long double>(SPACING[j]) * poly[0];
      }
      for (std::size_t k = 0; k <= j; ++k) c[j][k] = static_cast<double>(poly[k]);
    }
    for (std::size_t k = 0; k < ORDER; ++k) {
      std::array<long double, ORDER> row{};
      row[k] = 1.0L;
      for (std::size_t m = k; m-- > 0;) {
        long double sum = 0.0L;
        for (std::size_t j = m + 1; j <= k; ++j) sum += row[j] * static_cast<long double>(c[j][m]);
        row[m] = -sum;
      }
      for (std::size_t j = 0; j < ORDER; ++j) d[k][j] = static_cast<double>(row[j]);
    }
    for (std::size_t n = 0; n < NODES; ++n) {
      long double weight = 1.0L;
      for (std::size_t m = 0; m < NODES; ++m) {
        if (m != n) weight *= static_cast<long double>(SPACING[n]) - static_cast<long double>(SPACING[m]);
      }
      b6_gain += static_cast<double>(1.0L / (weight < 0 ? -weight : weight));
    }
  }
};

const Tables& tables() {
  static const Tables instance;
  return instance;
}

using Coefficients = std::array<std::vector<double>, ORDER>;

// Position and velocity at the fraction s of a step of length dt.
void predict(std::size_t i, double s, double dt, std::span<const double> x0, std::span<const double> v0,
             std::span<const double> a0, const Coefficients& b, double& x, double& v) {
  x = x0[i] + s * dt *
                  (v0[i] + s * dt *
                               (a0[i] / 2.0 +
                                s * (b[0][i] / 6.0 +
                                     s * (b[1][i] / 12.0 +
                                          s * (b[2][i] / 20.0 +
                                               s * (b[3][i] / 30.0 +
                                                    s * (b[4][i] / 42.0 + s * (b[5][i] / 56.0 + s * b[6][i] / 72.0))))))));
  v = v0[i] + s * dt *
                  (a0[i] + s * (b[0][i] / 2.0 +
                                s * (b[1][i] / 3.0 +
                                     s * (b[2][i] / 4.0 +
                                          s * (b[3][i] / 5.0 + s * (b[4][i] / 6.0 + s * (b[5][i] / 7.0 + s * b[6][i] / 8.0)))))));
}

bool finite(std::span<const double> values) {
  return std::all_of(values.begin(), values.end(), [](double value) { return std::isfinite(value); });
}

// Kahan summation of `increment` into `sum` with its running compensation.
void add_compensated(double& sum, double& compensation, double increment) {
  const double y = increment - compensation;
  const double t = sum + y;
  compensation = (t - sum) - y;
  sum = t;
}

}  // namespace

std::expected<RadauStatistics, RadauFailure> integrate_gauss_radau(std::span<double> x, std::span<double> v,
                                                                   double t0, double t1, const RadauForce& force,
                                                                   const RadauSink& sink,
                                                                   const RadauSettings& settings) {
  const Tables& table = tables();
  const std::size_t size = x.size();
  RadauStatistics statistics;
  if (t1 == t0) return statistics;
  const double direction = t1 > t0 ? 1.0 : -1.0;
  const std::size_t outputs = std::max<std::size_t>(settings.nodes_per_step, 1);

  Coefficients b, g, e, before;
  for (std::size_t k = 0; k < ORDER; ++k) {
    b[k].assign(size, 0.0);
    g[k].assign(size, 0.0);
    e[k].assign(size, 0.0);
    before[k].assign(size, 0.0);
  }
  std::vector<double> a0(size), an(size), xs(size), vs(size), compensation_x(size, 0.0), compensation_v(size, 0.0);

  double t = t0;
  double dt = direction * std::abs(settings.initial_step);
  if (std::abs(dt) > std::abs(t1 - t0)) dt = t1 - t0;
  bool first = true;
  statistics.smallest_step = std::abs(t1 - t0);

  double noise = 0.0;  // the largest rounding error of the accelerations of this step
  auto call_force = [&](double time, std::span<const double> px, std::span<const double> pv,
                        std::span<double> out) -> std::expected<void, RadauFailure> {
    ++statistics.force_calls;
    double rounding = 0.0;
    if (!force(time, px, pv, out, rounding)) return std::unexpected(RadauFailure::ForceFailed);
    noise = std::max(noise, rounding);
    if (!finite(out)) return std::unexpected(RadauFailure::NotFinite);
    return {};
  };

  while (direction * (t1 - t) > 0.0) {
    if (statistics.steps >= settings.max_steps) return std::unexpected(RadauFailure::TooManySteps);
    noise = 0.0;
    if (auto ok = call_force(t, x, v, a0); !ok) return std::unexpected(ok.error());
    for (std::size_t k = 0; k < ORDER; ++k) before[k] = b[k];

    for (;;) {  // until the step is accepted
      // g from the predicted b.
      for (std::size_t j = 0; j < ORDER; ++j) {
        for (std::size_t i = 0; i < size; ++i) {
          double sum = 0.0;
          for (std::size_t k = j; k < ORDER; ++k) sum += table.d[k][j] * b[k][i];
          g[j][i] = sum;
        }
      }
      double last_error = 2.0;
      double max_acceleration = 0.0;
      for (int iteration = 0; iteration < MAX_ITERATIONS; ++iteration) {
        double max_change = 0.0;
        for (std::size_t n = 1; n < NODES; ++n) {
          const double s = SPACING[n];
          for (std::size_t i = 0; i < size; ++i) predict(i, s, dt, x, v, a0, b, xs[i], vs[i]);
          if (auto ok = call_force(t + s * dt, xs, vs, an); !ok) return std::unexpected(ok.error());
          const std::size_t j = n - 1;  // the g this node determines
          for (std::size_t i = 0; i < size; ++i) {
            double value = (an[i] - a0[i]) * table.r[n][0];
            for (std::size_t m = 0; m < j; ++m) value = (value - g[m][i]) * table.r[n][m + 1];
            const double change = value - g[j][i];
            g[j][i] = value;
            for (std::size_t k = 0; k <= j; ++k) b[k][i] += table.c[j][k] * change;
            if (n == NODES - 1) max_change = std::max(max_change, std::abs(change));
          }
        }
        max_acceleration = 0.0;
        for (double value : an) max_acceleration = std::max(max_acceleration, std::abs(value));
        const double error = max_acceleration > 0.0 ? max_change / max_acceleration : 0.0;
        if (error < PREDICTOR_CORRECTOR_LIMIT) break;
        if (iteration > 1 && error >= last_error) break;  // stopped falling: round-off reached
        last_error = error;
      }
      double max_b6 = 0.0;
      for (double value : b[ORDER - 1]) max_b6 = std::max(max_b6, std::abs(value));
      const double estimate = max_acceleration > 0.0 ? max_b6 / max_acceleration : 0.0;
      const double floor = max_acceleration > 0.0 ? table.b6_gain * noise / max_acceleration : 0.0;
      double next = dt / SAFETY;
      if (!std::isfinite(estimate)) return std::unexpected(RadauFailure::NotFinite);
      if (estimate > 0.0 && estimate > settings.epsilon && estimate < 4.0 * floor) {
        next = dt;  // rounding, not truncation, sets the estimate: hold the step
      } else if (estimate > 0.0) {
        next = dt * std::pow(settings.epsilon / estimate, ORDER_ROOT);
      }
      if (std::abs(next / dt) < SAFETY) {  // rejected: try again shorter
        if (std::abs(next) < settings.min_step) return std::unexpected(RadauFailure::StepTooSmall);
        ++statistics.rejected;
        const double q = next / dt;
        for (std::size_t k = 0; k < ORDER; ++k) {
          const double scale = std::pow(q, static_cast<double>(k + 1));
          for (std::size_t i = 0; i < size; ++i) b[k][i] = before[k][i] * scale;
        }
        dt = next;
        continue;
      }
      const bool last_step = direction * (t1 - (t + dt)) <= 0.0;
      if (!last_step && std::abs(next) < settings.min_step) return std::unexpected(RadauFailure::StepTooSmall);
      if (std::abs(next / dt) > 1.0 / SAFETY) next = dt / SAFETY;

      // Interior output nodes from the step's polynomial, then the step's end.
      for (std::size_t node = 1; node < outputs; ++node) {
        const double s = static_cast<double>(node) / static_cast<double>(outputs);
        for (std::size_t i = 0; i < size; ++i) predict(i, s, dt, x, v, a0, b, xs[i], vs[i]);
        if (!sink(t + s * dt, xs, vs)) return std::unexpected(RadauFailure::SinkStopped);
      }
      for (std::size_t i = 0; i < size; ++i) {
        const double dx = dt * (v[i] + dt * (a0[i] / 2.0 + b[0][i] / 6.0 + b[1][i] / 12.0 + b[2][i] / 20.0 +
                                             b[3][i] / 30.0 + b[4][i] / 42.0 + b[5][i] / 56.0 + b[6][i] / 72.0));
        const double dv = dt * (a0[i] + b[0][i] / 2.0 + b[1][i] / 3.0 + b[2][i] / 4.0 + b[3][i] / 5.0 +
                                b[4][i] / 6.0 + b[5][i] / 7.0 + b[6][i] / 8.0);
        add_compensated(x[i], compensation_x[i], dx);
        add_compensated(v[i], compensation_v[i], dv);
      }
      if (!finite(x) || !finite(v)) return std::unexpected(RadauFailure::NotFinite);
      const double done = dt;
      t = last_step ? t1 : t + dt;
      ++statistics.steps;
      if (!last_step) statistics.smallest_step = std::min(statistics.smallest_step, std::abs(done));
      if (!sink(t, x, v)) return std::unexpected(RadauFailure::SinkStopped);
      if (last_step) break;

      // The next step: no longer than what is left.
      if (direction * (t + next - t1) > 0.0) next = t1 - t;
      const double q = next / done;
      // Everhart's extrapolation: a(1 + q h) re-expanded in h, corrected by
      // how far the last prediction missed.
      std::array<double, ORDER> powers{};
      powers[0] = q;
      for (std::size_t k = 1; k < ORDER; ++k) powers[k] = powers[k - 1] * q;
      for (std::size_t i = 0; i < size; ++i) {
        std::array<double, ORDER> old{};
        for (std::size_t k = 0; k < ORDER; ++k) old[k] = b[k][i];
        for (std::size_t j = 0; j < ORDER; ++j) {
          // sum over k >= j of binomial(k + 1, j + 1) b_k
          double sum = 0.0;
          double binomial = 1.0;  // binomial(j + 1, j + 1)
          for (std::size_t k = j; k < ORDER; ++k) {
            sum += binomial * old[k];
            binomial = binomial * static_cast<double>(k + 2) / static_cast<double>(k + 1 - j);
          }
          const double predicted = powers[j] * sum;
          const double miss = first ? 0.0 : old[j] - e[j][i];
          e[j][i] = predicted;
          b[j][i] = predicted + miss;
        }
      }
      first = false;
      dt = next;
      break;
    }
  }
  return statistics;
}

}  // namespace tarvex::core
