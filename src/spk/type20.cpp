// SPK Type 20: Chebyshev series for velocity, the position its integral
// from the record's midpoint plus the stored midpoint position. Records of
// equal length, each X, Y, Z section holding DEGP + 1 velocity coefficients
// and the midpoint position; trailer DSCALE (km), TSCALE (s), INITJD,
// INITFR, INTLEN (days), RSIZE, N. With s = (t - MID) / RADIUS:
//   v = DSCALE / TSCALE * V(s),  p = DSCALE * (P_mid + RADIUS / TSCALE * integral_0^s V).
//
// Format: NAIF, SPK Required Reading, "Type 20: Chebyshev (velocity only)"
// (../shared/reference/naif-spk-segment-types.rst). Calls interpolation.hpp
// (Clenshaw, term-by-term integral). Called through segment_types.hpp.
#include <algorithm>
#include <cmath>
#include <vector>

#include "spk/interpolation.hpp"
#include "spk/segment_types.hpp"

namespace tarvex::spk {

namespace {

class Type20Evaluator final : public SegmentEvaluator {
 public:
  std::expected<core::CartesianState, SpkError> state_at(const SegmentWords& words,
                                                         double epoch) override {
    if (!records_.is_set()) {
      double t[7] = {};
      if (auto read = words.read_tail(t); !read) return std::unexpected(read.error());
      if (!std::all_of(std::begin(t), std::end(t), [](double v) { return std::isfinite(v); }) ||
          !(t[0] > 0.0) || !(t[1] > 0.0) || !(t[4] > 0.0))
        return std::unexpected(words.error("distance scale, time scale and interval length"));
      if (!is_count_in(t[5], 6.0, static_cast<double>(words.size())) ||
          static_cast<std::uint64_t>(t[5]) % 3 != 0)
        return std::unexpected(words.error("record size"));
      if (!is_count_in(t[6], 1.0, static_cast<double>(words.size())) ||
          static_cast<std::uint64_t>(t[5]) * static_cast<std::uint64_t>(t[6]) + 7 > words.size())
        return std::unexpected(words.error("record count"));
      distance_scale_ = t[0];
      time_scale_ = t[1];
      records_.set(((t[2] - core::J2000_JULIAN_DAY) + t[3]) * core::SECONDS_PER_DAY,
                   t[4] * core::SECONDS_PER_DAY, static_cast<std::uint64_t>(t[6]),
                   static_cast<std::uint64_t>(t[5]));
    }
    const auto k = records_.load(words, epoch);
    if (!k) return std::unexpected(k.error());
    const std::span<const double> record = records_.record();
    const double radius = records_.interval() / 2.0;
    const double mid = records_.init() + static_cast<double>(*k) * records_.interval() + radius;
    const double s = (epoch - mid) / radius;
    if (!(std::fabs(s) <= 1.0 + RECORD_ARGUMENT_SLACK))
      return std::unexpected(
          words.error("the epoch lies outside the record that serves it (initial epoch or "
                      "interval length damaged)"));
    const std::size_t section = records_.size() / 3;
    const std::size_t n = section - 1;
    core::CartesianState out;
    for (std::size_t i = 0; i < 3; ++i) {
      const std::span<const double> c = record.subspan(i * section, n);
      const double midpoint = record[i * section + n];
      out.velocity[i] = chebyshev_value(c, s) * (distance_scale_ / time_scale_);
      out.position[i] =
          distance_scale_ * (midpoint + radius / time_scale_ * chebyshev_integral_from_zero(c, s));
    }
    return out;
  }

 private:
  double distance_scale_ = 0.0;
  double time_scale_ = 0.0;
  EvenRecords records_;
};

}  // namespace

std::unique_ptr<SegmentEvaluator> make_type20_evaluator() {
  return std::make_unique<Type20Evaluator>();
}

}  // namespace tarvex::spk
