// SPK Type 15: a precessing conic. The orbit is the conic with periapsis
// epoch TP, periapsis direction P, orbit pole N, semi-latus rectum p and
// eccentricity e about a body of gravitational parameter GM; for e < 1 the
// first-order secular J2 effects turn it: the line of apsides about N at
//   dw/dt = 3/4 n J2 (R/p)^2 (5 cos^2 i - 1)
// and the line of nodes about the central body's pole at
//   dO/dt = -3/2 n J2 (R/p)^2 cos i,
// with n = sqrt(GM / a^3), a = p / (1 - e^2) and cos i = N . pole, both
// turns growing with the true anomaly swept since periapsis rather than
// with time (each rate over n, times that anomaly). The J2 flag leaves out
// the apsidal turn (1), the nodal turn (2) or both (3).
//
// Format: NAIF, SPK Required Reading, "Type 15: Precessing Conic
// Propagation" (../shared/reference/naif-spk-segment-types.rst); secular
// J2 rates: Vallado, Fundamentals of Astrodynamics and Applications, 4th
// ed., section 9.6. Calls two_body.hpp. Called through segment_types.hpp.
#include <algorithm>
#include <array>
#include <cmath>

#include "spk/segment_types.hpp"
#include "spk/two_body.hpp"

namespace tarvex::spk {

namespace {

using Vec = std::array<double, 3>;

Vec cross(const Vec& a, const Vec& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
double dot(const Vec& a, const Vec& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
Vec unit(const Vec& a) {
  const double n = std::sqrt(dot(a, a));
  return {a[0] / n, a[1] / n, a[2] / n};
}
// `v` turned by `angle` about the unit `axis` (Rodrigues).
Vec turn(const Vec& v, const Vec& axis, double angle) {
  const double c = std::cos(angle);
  const double s = std::sin(angle);
  const Vec k = cross(axis, v);
  const double along = dot(axis, v) * (1 - c);
  return {v[0] * c + k[0] * s + axis[0] * along, v[1] * c + k[1] * s + axis[1] * along,
          v[2] * c + k[2] * s + axis[2] * along};
}

class Type15Evaluator final : public SegmentEvaluator {
 public:
  std::expected<core::CartesianState, SpkError> state_at(const SegmentWords& words,
                                                         double epoch) override {
    if (!loaded_) {
      if (words.size() < 16) return std::unexpected(words.error("segment is too short"));
      if (auto read = words.read(0, w_); !read) return std::unexpected(read.error());
      if (!std::all_of(w_.begin(), w_.end(), [](double v) { return std::isfinite(v); }))
        return std::unexpected(words.error("elements must be finite"));
      const Vec pole{w_[1], w_[2], w_[3]};
      const Vec periapsis{w_[4], w_[5], w_[6]};
      const Vec body_pole{w_[10], w_[11], w_[12]};
      if (dot(pole, pole) == 0.0 || dot(periapsis, periapsis) == 0.0 ||
          dot(body_pole, body_pole) == 0.0 || !(w_[7] > 0.0) || !(w_[8] >= 0.0) || !(w_[13] > 0.0))
        return std::unexpected(words.error("elements are not a valid conic"));
      loaded_ = true;
    }
    const double tp = w_[0];
    const Vec pole = unit({w_[1], w_[2], w_[3]});
    const Vec periapsis = unit({w_[4], w_[5], w_[6]});
    const double p = w_[7];
    const double e = w_[8];
    const double flag = w_[9];
    const Vec body_pole = unit({w_[10], w_[11], w_[12]});
    const double gm = w_[13];
    const double j2 = w_[14];
    const double radius = w_[15];

    // The state at periapsis, then the conic to the epoch.
    const double near = p / (1.0 + e);
    const double speed = std::sqrt(gm / p) * (1.0 + e);
    const Vec along = cross(pole, periapsis);
    core::CartesianState start;
    for (int k = 0; k < 3; ++k) {
      start.position[k] = near * periapsis[k];
      start.velocity[k] = speed * along[k];
    }
    const double dt = epoch - tp;
    const core::CartesianState moved = propagate_two_body(start, gm, dt);
    if (!(e < 1.0)) return moved;
    const double a = p / (1.0 - e * e);
    const double n = std::sqrt(gm / (a * a * a));
    const double ratio = radius / p;
    const double k2 = 1.5 * j2 * ratio * ratio * n;
    const double cos_i = dot(pole, body_pole);
    const double apsides_rate = k2 * (2.5 * cos_i * cos_i - 0.5);
    const double nodes_rate = -k2 * cos_i;
    Vec r{moved.position[0], moved.position[1], moved.position[2]};
    Vec v{moved.velocity[0], moved.velocity[1], moved.velocity[2]};
    // The turns advance with the true anomaly swept since periapsis (the
    // rates per unit of mean anomaly times the true anomaly), as the NAIF
    // toolkit applies them: the true anomaly in (-pi, pi], plus the whole
    // revolutions the mean anomaly n dt has made.
    const double mean_anomaly = n * dt;
    const double true_anomaly = std::atan2(dot(pole, cross(periapsis, r)), dot(periapsis, r));
    const double swept =
        true_anomaly +
        2 * M_PI * std::round((mean_anomaly - true_anomaly) / (2 * M_PI));
    const double swept_time = swept / n;
    if (flag != 1.0 && flag != 3.0) {
      const double angle = std::fmod(apsides_rate * swept_time, 2 * M_PI);
      r = turn(r, pole, angle);
      v = turn(v, pole, angle);
    }
    if (flag != 2.0 && flag != 3.0) {
      const double angle = std::fmod(nodes_rate * swept_time, 2 * M_PI);
      r = turn(r, body_pole, angle);
      v = turn(v, body_pole, angle);
    }
    core::CartesianState out;
    for (int k = 0; k < 3; ++k) {
      out.position[k] = r[k];
      out.velocity[k] = v[k];
    }
    return out;
  }

 private:
  bool loaded_ = false;
  std::array<double, 16> w_{};
};

}  // namespace

std::unique_ptr<SegmentEvaluator> make_type15_evaluator() {
  return std::make_unique<Type15Evaluator>();
}

}  // namespace tarvex::spk
