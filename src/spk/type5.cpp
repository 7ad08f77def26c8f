// SPK Type 5: discrete states propagated as two-body orbits. N states, N
// epochs, a directory of every 100th epoch, then GM and N. Between two
// tags t1 < t2 both neighbouring states are propagated to t and blended
// with W(t) = 1/2 + 1/2 cos(pi (t - t1) / (t2 - t1)):
//   P = W P1 + (1 - W) P2,  V = W V1 + (1 - W) V2 + W' (P1 - P2);
// before the first tag or after the last, the nearest state alone is
// propagated.
//
// Format and blend: NAIF, SPK Required Reading, "Type 5: Discrete states
// (two body propagation)" (../shared/reference/naif-spk-segment-types.rst).
// Calls two_body.hpp, epoch_list.hpp. Called through segment_types.hpp.
#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "spk/epoch_list.hpp"
#include "spk/segment_types.hpp"
#include "spk/two_body.hpp"

namespace tarvex::spk {

namespace {

class Type5Evaluator final : public SegmentEvaluator {
 public:
  std::expected<core::CartesianState, SpkError> state_at(const SegmentWords& words,
                                                         double epoch) override {
    if (epochs_.empty()) {
      double trailer[2] = {};
      if (auto read = words.read_tail(trailer); !read) return std::unexpected(read.error());
      if (!std::isfinite(trailer[0]) || !(trailer[0] > 0.0))
        return std::unexpected(words.error("GM must be positive"));
      if (!is_count_in(trailer[1], 1.0, static_cast<double>(words.size() / 7)))
        return std::unexpected(words.error("state count"));
      const auto n = static_cast<std::uint64_t>(trailer[1]);
      auto epochs = read_epoch_list(words, 6 * n, n, true);
      if (!epochs) return std::unexpected(epochs.error());
      gm_ = trailer[0];
      epochs_ = std::move(*epochs);
    }
    const std::size_t n = epochs_.size();
    const std::size_t after = static_cast<std::size_t>(
        std::lower_bound(epochs_.begin(), epochs_.end(), epoch) - epochs_.begin());
    if (after == 0 || after == n || epochs_[after] == epoch) {
      const std::size_t i = after == n ? n - 1 : after;
      auto s = state(words, i);
      if (!s) return std::unexpected(s.error());
      return propagate_two_body(*s, gm_, epoch - epochs_[i]);
    }
    const double t1 = epochs_[after - 1];
    const double t2 = epochs_[after];
    auto s1 = state(words, after - 1);
    if (!s1) return std::unexpected(s1.error());
    const core::CartesianState first = propagate_two_body(*s1, gm_, epoch - t1);
    auto s2 = state(words, after);
    if (!s2) return std::unexpected(s2.error());
    const core::CartesianState second = propagate_two_body(*s2, gm_, epoch - t2);
    const double arg = std::numbers::pi / (t2 - t1);
    const double w = 0.5 + 0.5 * std::cos(arg * (epoch - t1));
    const double dw = -0.5 * arg * std::sin(arg * (epoch - t1));
    core::CartesianState out;
    for (std::size_t k = 0; k < 3; ++k) {
      out.position[k] = w * first.position[k] + (1.0 - w) * second.position[k];
      out.velocity[k] = w * first.velocity[k] + (1.0 - w) * second.velocity[k] +
                        dw * (first.position[k] - second.position[k]);
    }
    return out;
  }

 private:
  // State i, from the two kept states or the file.
  std::expected<core::CartesianState, SpkError> state(const SegmentWords& words, std::size_t i) {
    for (const Kept& kept : kept_)
      if (kept.valid && kept.index == i) return kept.state;
    double w[6] = {};
    if (auto read = words.read(6 * std::uint64_t{i}, w); !read) return std::unexpected(read.error());
    if (!std::all_of(std::begin(w), std::end(w), [](double v) { return std::isfinite(v); }) ||
        (w[0] == 0.0 && w[1] == 0.0 && w[2] == 0.0))
      return std::unexpected(words.error("states must be finite with a non-zero position"));
    Kept& slot = kept_[next_];
    next_ = 1 - next_;
    slot = {true, i, {{w[0], w[1], w[2]}, {w[3], w[4], w[5]}}};
    return slot.state;
  }

  struct Kept {
    bool valid = false;
    std::size_t index = 0;
    core::CartesianState state;
  };
  double gm_ = 0.0;
  std::vector<double> epochs_;
  Kept kept_[2];
  int next_ = 0;
};

}  // namespace

std::unique_ptr<SegmentEvaluator> make_type5_evaluator() { return std::make_unique<Type5Evaluator>(); }

}  // namespace tarvex::spk
