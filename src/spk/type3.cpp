// SPK Type 3: Chebyshev series for position and velocity. Records of equal
// length as in Type 2 (MID, RADIUS, then X, Y, Z, X', Y', Z' sets of
// n = (RSIZE - 2) / 6 coefficients), the directory INIT, INTLEN, RSIZE, N
// at the end. Position and velocity each come from their own series, so
// neither is differentiated.
//
// Format: NAIF, SPK Required Reading, "Type 3: Chebyshev (position and
// velocity)" (../shared/reference/naif-spk-segment-types.rst). Calls
// interpolation.hpp (Clenshaw). Called through segment_types.hpp.
#include <algorithm>
#include <cmath>
#include <vector>

#include "spk/interpolation.hpp"
#include "spk/segment_types.hpp"

namespace tarvex::spk {

namespace {

class Type3Evaluator final : public SegmentEvaluator {
 public:
  std::expected<core::CartesianState, SpkError> state_at(const SegmentWords& words,
                                                         double epoch) override {
    if (!records_.is_set()) {
      double directory[4] = {};
      if (auto read = words.read_tail(directory); !read) return std::unexpected(read.error());
      const double rsize = directory[2];
      const double n = directory[3];
      if (!std::isfinite(directory[0]) || !std::isfinite(directory[1]) || !(directory[1] > 0.0))
        return std::unexpected(words.error("initial epoch and interval length"));
      if (!is_count_in(rsize, 8.0, static_cast<double>(words.size())) ||
          (static_cast<std::uint64_t>(rsize) - 2) % 6 != 0)
        return std::unexpected(words.error("record size"));
      if (!is_count_in(n, 1.0, static_cast<double>(words.size())) ||
          static_cast<std::uint64_t>(rsize) * static_cast<std::uint64_t>(n) + 4 > words.size())
        return std::unexpected(words.error("record count"));
      records_.set(directory[0], directory[1], static_cast<std::uint64_t>(n),
                   static_cast<std::uint64_t>(rsize));
    }
    const auto k = records_.load(words, epoch);
    if (!k) return std::unexpected(k.error());
    const std::span<const double> record = records_.record();
    const double mid = record[0];
    const double radius = record[1];
    if (!std::isfinite(mid) || !std::isfinite(radius) || !(radius > 0.0))
      return std::unexpected(words.error("record midpoint and radius must be finite and valid"));
    // Excerpted segments may end a little past their last record; the
    // series is then extended by at most RECORD_ARGUMENT_SLACK.
    const double s = (epoch - mid) / radius;
    if (!(std::fabs(s) <= 1.0 + RECORD_ARGUMENT_SLACK))
      return std::unexpected(
          words.error("the epoch lies outside the record that serves it (record midpoint, radius "
                      "or the directory's initial epoch damaged)"));
    const std::size_t n = (records_.size() - 2) / 6;
    core::CartesianState out;
    for (std::size_t i = 0; i < 3; ++i) {
      out.position[i] = chebyshev_value(record.subspan(2 + i * n, n), s);
      out.velocity[i] = chebyshev_value(record.subspan(2 + (3 + i) * n, n), s);
    }
    return out;
  }

 private:
  EvenRecords records_;
};

}  // namespace

std::unique_ptr<SegmentEvaluator> make_type3_evaluator() { return std::make_unique<Type3Evaluator>(); }

}  // namespace tarvex::spk
