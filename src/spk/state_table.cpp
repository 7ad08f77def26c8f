#include "spk/state_table.hpp"

#include <algorithm>
#include <cmath>
#include <optional>

#include "spk/epoch_list.hpp"
#include "spk/interpolation.hpp"

namespace tarvex::spk {

std::expected<StateTable, SpkError> StateTable::equal_steps(const SegmentWords& words,
                                                            std::uint64_t count,
                                                            std::uint32_t packet_size,
                                                            double first, double step) {
  if (count == 0 || count > words.size() / packet_size)
    return std::unexpected(words.error("state count does not fit the segment"));
  if (!std::isfinite(first) || !std::isfinite(step) || !(step > 0.0))
    return std::unexpected(words.error("first epoch and step must be finite, the step positive"));
  StateTable table;
  table.count_ = count;
  table.packet_size_ = packet_size;
  table.first_ = first;
  table.step_ = step;
  return table;
}

std::expected<StateTable, SpkError> StateTable::listed(const SegmentWords& words,
                                                       std::uint64_t count,
                                                       std::uint32_t packet_size) {
  if (count == 0 || count > words.size() / (packet_size + 1u))
    return std::unexpected(words.error("state count does not fit the segment"));
  auto tags = read_epoch_list(words, count * packet_size, count, true);
  if (!tags) return std::unexpected(tags.error());
  StateTable table;
  table.count_ = count;
  table.packet_size_ = packet_size;
  table.tags_ = std::move(*tags);
  return table;
}

std::size_t StateTable::last_at_or_before(double t) const noexcept {
  if (!tags_.empty()) return last_epoch_at_or_before(tags_, t);
  const double u = std::floor((t - first_) / step_);
  if (!(u >= 0.0)) return 0;
  return static_cast<std::size_t>(std::min(u, static_cast<double>(count_ - 1)));
}

std::size_t StateTable::nearest(double t) const noexcept {
  const std::size_t low = last_at_or_before(t);
  if (low + 1 < count_ && tag(low) <= t && (tag(low + 1) - t) <= (t - tag(low))) return low + 1;
  return low;
}

std::size_t StateTable::centered_window(double t, std::size_t size) const noexcept {
  return centered_window_start(size, count_, last_at_or_before(t), nearest(t));
}

std::expected<std::span<const double>, SpkError> StateTable::packets(const SegmentWords& words,
                                                                     std::size_t first,
                                                                     std::size_t size) {
  const std::size_t length = size * packet_size_;
  if (cached_.size() != length || cached_first_ != first || cached_size_ != size) {
    cached_.resize(length);
    cached_size_ = 0;
    if (auto read = words.read(std::uint64_t{first} * packet_size_, cached_); !read)
      return std::unexpected(read.error());
    if (!std::all_of(cached_.begin(), cached_.end(), [](double v) { return std::isfinite(v); }))
      return std::unexpected(words.error("states must be finite"));
    cached_first_ = first;
    cached_size_ = size;
  }
  return std::span<const double>(cached_);
}

namespace {

// The window's tags and component `c` of each of its packets.
void gather(const StateTable& table, std::span<const double> packets, std::size_t first,
            std::size_t size, std::size_t packet_size, std::size_t c, std::vector<double>& tags,
            std::vector<double>& values) {
  tags.resize(size);
  values.resize(size);
  for (std::size_t i = 0; i < size; ++i) {
    tags[i] = table.tag(first + i);
    values[i] = packets[i * packet_size + c];
  }
}

}  // namespace

std::expected<core::CartesianState, SpkError> lagrange_state(StateTable& table,
                                                             const SegmentWords& words,
                                                             double epoch, std::size_t size) {
  const std::size_t first = table.centered_window(epoch, size);
  auto packets = table.packets(words, first, size);
  if (!packets) return std::unexpected(packets.error());
  std::vector<double> tags;
  std::vector<double> values;
  core::CartesianState out;
  for (std::size_t c = 0; c < 6; ++c) {
    gather(table, *packets, first, size, 6, c, tags, values);
    const double v = lagrange_value(tags, values, epoch);
    if (c < 3) out.position[c] = v; else out.velocity[c - 3] = v;
  }
  return out;
}

std::expected<core::CartesianState, SpkError> hermite_state(StateTable& table,
                                                            const SegmentWords& words,
                                                            double epoch, std::size_t size) {
  const std::size_t first = table.centered_window(epoch, size);
  auto packets = table.packets(words, first, size);
  if (!packets) return std::unexpected(packets.error());
  std::vector<double> tags;
  std::vector<double> values;
  std::vector<double> rates;
  core::CartesianState out;
  for (std::size_t c = 0; c < 3; ++c) {
    gather(table, *packets, first, size, 6, c + 3, tags, rates);
    gather(table, *packets, first, size, 6, c, tags, values);
    const ValueAndRate v = hermite_value(tags, values, rates, epoch);
    out.position[c] = v.value;
    out.velocity[c] = v.rate;
  }
  return out;
}

namespace {

class InterpolatedStates final : public SegmentEvaluator {
 public:
  InterpolatedStates(StateSteps steps, StateInterpolation method) : steps_(steps), method_(method) {}

  std::expected<core::CartesianState, SpkError> state_at(const SegmentWords& words,
                                                         double epoch) override {
    if (!table_) {
      if (auto opened = open(words); !opened) return std::unexpected(opened.error());
    }
    return method_ == StateInterpolation::Lagrange ? lagrange_state(*table_, words, epoch, size_)
                                                   : hermite_state(*table_, words, epoch, size_);
  }

 private:
  std::expected<void, SpkError> open(const SegmentWords& words) {
    const bool equal = steps_ == StateSteps::Equal;
    double trailer[4] = {};
    const std::span<double> tail(trailer, equal ? 4 : 2);
    if (auto read = words.read_tail(tail); !read) return std::unexpected(read.error());
    // Listed epochs take a seventh word per state.
    const std::size_t words_per_state = equal ? 6 : 7;
    const double count = tail[tail.size() - 1];
    const double order = tail[tail.size() - 2];
    if (!is_count_in(count, 1.0, static_cast<double>(words.size() / words_per_state)))
      return std::unexpected(words.error("state count"));
    const auto n = static_cast<std::uint64_t>(count);
    auto table = equal ? StateTable::equal_steps(words, n, 6, trailer[0], trailer[1])
                       : StateTable::listed(words, n, 6);
    if (!table) return std::unexpected(table.error());
    const bool lagrange = method_ == StateInterpolation::Lagrange;
    const double most = lagrange ? 27.0 : 13.0;
    if (!is_count_in(order, 0.0, std::min(most, static_cast<double>(n) - 1.0)))
      return std::unexpected(words.error(lagrange ? "polynomial degree" : "window size"));
    size_ = static_cast<std::size_t>(order) + 1;
    table_ = std::move(*table);
    return {};
  }

  StateSteps steps_;
  StateInterpolation method_;
  std::optional<StateTable> table_;
  std::size_t size_ = 0;
};

}  // namespace

std::unique_ptr<SegmentEvaluator> make_interpolated_states_evaluator(StateSteps steps,
                                                                     StateInterpolation method) {
  return std::make_unique<InterpolatedStates>(steps, method);
}

}  // namespace tarvex::spk
