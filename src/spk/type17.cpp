// SPK Type 17: equinoctial elements with secular rates. At t = T0 + dt the
// longitude of periapsis has turned by dt * rate (rotating h, k), the node
// by dt * rate (rotating p, q), and the mean longitude is L0 + dt * rate;
// the eccentric longitude F solves L = F + h cos F - k sin F, and the
// position and velocity in the orbit's equinoctial basis (f, g) follow in
// closed form (Broucke & Cefola, "On the equinoctial orbit elements",
// Celestial Mechanics 5 (1972) 303-310). The elements are referred to the
// central body's equator given by the pole's right ascension and
// declination, whose x axis is the ascending node of that equator on the
// J2000 equator. The velocity includes the turning of the orbit.
//
// Format: NAIF, SPK Required Reading, "Type 17: Equinoctial Elements"
// (../shared/reference/naif-spk-segment-types.rst). Called through
// segment_types.hpp.
#include <algorithm>
#include <array>
#include <cmath>

#include "spk/segment_types.hpp"

namespace tarvex::spk {

namespace {

class Type17Evaluator final : public SegmentEvaluator {
 public:
  std::expected<core::CartesianState, SpkError> state_at(const SegmentWords& words,
                                                         double epoch) override {
    if (!loaded_) {
      if (words.size() < 12) return std::unexpected(words.error("segment is too short"));
      if (auto read = words.read(0, w_); !read) return std::unexpected(read.error());
      if (!std::all_of(w_.begin(), w_.end(), [](double v) { return std::isfinite(v); }) ||
          !(w_[1] > 0.0) || !(w_[2] * w_[2] + w_[3] * w_[3] < 1.0))
        return std::unexpected(words.error("elements are not a valid ellipse"));
      loaded_ = true;
    }
    const double dt = epoch - w_[0];
    const double a = w_[1];
    // Turn (h, k) by the periapsis motion and (p, q) by the nodal motion.
    const double periapsis_turn = std::fmod(dt * w_[7], 2 * M_PI);
    const double node_turn = std::fmod(dt * w_[9], 2 * M_PI);
    const double cw = std::cos(periapsis_turn);
    const double sw = std::sin(periapsis_turn);
    const double h = w_[2] * cw + w_[3] * sw;
    const double k = w_[3] * cw - w_[2] * sw;
    const double cn = std::cos(node_turn);
    const double sn = std::sin(node_turn);
    const double p = w_[5] * cn + w_[6] * sn;
    const double q = w_[6] * cn - w_[5] * sn;
    const double mean_longitude = std::fmod(w_[4] + dt * w_[8], 2 * M_PI);
    const double rate = w_[8] - w_[7];  // the mean motion proper

    // Kepler's equation in the eccentric longitude, by Newton's method.
    double f = mean_longitude;
    for (int i = 0; i < 50; ++i) {
      const double step = (f + h * std::cos(f) - k * std::sin(f) - mean_longitude) /
                          (1.0 - h * std::sin(f) - k * std::cos(f));
      f -= step;
      if (std::abs(step) <= 1e-15) break;
    }
    const double cf = std::cos(f);
    const double sf = std::sin(f);
    const double beta = 1.0 / (1.0 + std::sqrt(1.0 - h * h - k * k));
    const double x1 = a * ((1.0 - h * h * beta) * cf + h * k * beta * sf - k);
    const double y1 = a * ((1.0 - k * k * beta) * sf + h * k * beta * cf - h);
    const double r = a * (1.0 - k * cf - h * sf);
    const double scale = rate * a * a / r;
    const double vx1 = scale * (h * k * beta * cf - (1.0 - h * h * beta) * sf);
    const double vy1 = scale * ((1.0 - k * k * beta) * cf - h * k * beta * sf);

    const double d = 1.0 + p * p + q * q;
    const std::array<double, 3> fb{(1.0 - p * p + q * q) / d, 2.0 * p * q / d, -2.0 * p / d};
    const std::array<double, 3> gb{2.0 * p * q / d, (1.0 + p * p - q * q) / d, 2.0 * q / d};
    // The central body's equator to J2000.
    const double ra = w_[10];
    const double dec = w_[11];
    const std::array<double, 3> xe{-std::sin(ra), std::cos(ra), 0.0};
    const std::array<double, 3> ze{std::cos(dec) * std::cos(ra), std::cos(dec) * std::sin(ra),
                                   std::sin(dec)};
    const std::array<double, 3> ye{ze[1] * xe[2] - ze[2] * xe[1], ze[2] * xe[0] - ze[0] * xe[2],
                                   ze[0] * xe[1] - ze[1] * xe[0]};
    // The velocity is the full rate of the position: the conic's own
    // motion, the turn of the line of apsides about the orbit's pole w, and
    // the turn of the node about the equator's pole z, which carries the
    // orbit about z and back about w.
    const std::array<double, 3> w{fb[1] * gb[2] - fb[2] * gb[1], fb[2] * gb[0] - fb[0] * gb[2],
                                  fb[0] * gb[1] - fb[1] * gb[0]};
    double pu[3];
    double vu[3];
    for (int i = 0; i < 3; ++i) pu[i] = x1 * fb[i] + y1 * gb[i];
    const double w_cross_p[3] = {w[1] * pu[2] - w[2] * pu[1], w[2] * pu[0] - w[0] * pu[2],
                                 w[0] * pu[1] - w[1] * pu[0]};
    const double z_cross_p[3] = {-pu[1], pu[0], 0.0};
    for (int i = 0; i < 3; ++i)
      vu[i] = vx1 * fb[i] + vy1 * gb[i] + w_[7] * w_cross_p[i] +
              w_[9] * (z_cross_p[i] - w_cross_p[i]);
    core::CartesianState out;
    for (int i = 0; i < 3; ++i) {
      // Component i of J2000 from the body-equator vector u: xe[i] u0 + ye[i] u1 + ze[i] u2.
      out.position[i] = xe[i] * pu[0] + ye[i] * pu[1] + ze[i] * pu[2];
      out.velocity[i] = xe[i] * vu[0] + ye[i] * vu[1] + ze[i] * vu[2];
    }
    return out;
  }

 private:
  bool loaded_ = false;
  std::array<double, 12> w_{};
};

}  // namespace

std::unique_ptr<SegmentEvaluator> make_type17_evaluator() {
  return std::make_unique<Type17Evaluator>();
}

}  // namespace tarvex::spk
