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
    if (record_size_ == 0) {
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
      init_ = ((t[2] - core::J2000_JULIAN_DAY) + t[3]) * core::SECONDS_PER_DAY;
      interval_ = t[4] * core::SECONDS_PER_DAY;
      record_size_ = static_cast<std::uint64_t>(t[5]);
      record_count_ = static_cast<std::uint64_t>(t[6]);
    }
    const double x = std::floor((epoch - init_) / interval_);
    // In doubles first: a NaN or huge quotient must not reach the integer cast.
    const double last = static_cast<double>(record_count_ - 1);
    const std::uint64_t k = !(x > 0.0) ? 0 : x >= last ? record_count_ - 1 : static_cast<std::uint64_t>(x);
    if (record_.size() != record_size_ || cached_index_ != k) {
      record_.resize(record_size_);
      if (auto read = words.read(k * record_size_, record_); !read) {
        record_.clear();
        return std::unexpected(read.error());
      }
      cached_index_ = k;
    }
    const double radius = interval_ / 2.0;
    const double mid = init_ + static_cast<double>(k) * interval_ + radius;
    const double s = (epoch - mid) / radius;
    const std::size_t section = record_size_ / 3;
    const std::size_t n = section - 1;
    core::CartesianState out;
    for (std::size_t i = 0; i < 3; ++i) {
      const std::span<const double> c = std::span(record_).subspan(i * section, n);
      const double midpoint = record_[i * section + n];
      out.velocity[i] = chebyshev_value(c, s) * (distance_scale_ / time_scale_);
      out.position[i] =
          distance_scale_ * (midpoint + radius / time_scale_ * chebyshev_integral_from_zero(c, s));
    }
    return out;
  }

 private:
  double distance_scale_ = 0.0;
  double time_scale_ = 0.0;
  double init_ = 0.0;
  double interval_ = 0.0;
  std::uint64_t record_size_ = 0;
  std::uint64_t record_count_ = 0;
  std::uint64_t cached_index_ = 0;
  std::vector<double> record_;
};

}  // namespace

std::unique_ptr<SegmentEvaluator> make_type20_evaluator() {
  return std::make_unique<Type20Evaluator>();
}

}  // namespace tarvex::spk
