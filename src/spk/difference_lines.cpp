#include "spk/difference_lines.hpp"

#include <cmath>
#include <algorithm>
#include <vector>

#include "spk/epoch_list.hpp"

namespace tarvex::spk {

std::expected<core::CartesianState, SpkError> evaluate_difference_line(
    std::span<const double> record, std::uint32_t max_dim, double epoch,
    const SegmentWords& words) {
  const std::size_t m = max_dim;
  const double tl = record[0];
  const double* g = record.data() + 1;
  const double* ref = record.data() + 1 + m;           // x, vx, y, vy, z, vz
  const double* dt = record.data() + 1 + m + 6;        // DT(i, j) at dt[j * m + i]
  const double kqmax1_word = record[1 + m + 6 + 3 * m];
  const double* kq_words = record.data() + 1 + m + 6 + 3 * m + 1;
  if (!is_count_in(kqmax1_word, 2.0, static_cast<double>(m) + 1.0))
    return std::unexpected(words.error("difference line order is out of range"));
  const std::size_t kqmax1 = static_cast<std::size_t>(kqmax1_word);
  std::size_t kq[3];
  for (int i = 0; i < 3; ++i) {
    if (!is_count_in(kq_words[i], 0.0, static_cast<double>(m)))
      return std::unexpected(words.error("difference line order is out of range"));
    kq[i] = static_cast<std::size_t>(kq_words[i]);
  }
  for (std::size_t j = 0; j + 2 < kqmax1; ++j)
    if (!(g[j] != 0.0) || !std::isfinite(g[j]))
      return std::unexpected(words.error("difference line step sizes must be non-zero"));

  const double delta = epoch - tl;
  // fc and wc: the ratios of the current step to the stored steps; one-based
  // arrays below follow the textbook indices.
  std::vector<double> fc(kqmax1 + 1, 0.0);
  std::vector<double> wc(kqmax1 + 1, 0.0);
  std::vector<double> w(m + kqmax1 + 3, 0.0);
  double tp = delta;
  const std::size_t mq2 = kqmax1 - 2;
  for (std::size_t j = 1; j <= mq2; ++j) {
    fc[j] = tp / g[j - 1];
    wc[j] = delta / g[j - 1];
    tp = delta + g[j - 1];
  }
  for (std::size_t j = 1; j <= kqmax1; ++j) w[j] = 1.0 / static_cast<double>(j);

  // The integration coefficients, built up one order at a time.
  std::size_t ks = kqmax1 - 1;
  std::size_t ks1 = ks - 1;
  std::size_t jx = 0;
  while (ks >= 2) {
    ++jx;
    for (std::size_t j = 1; j <= jx; ++j) w[j + ks] = fc[j] * w[j + ks1] - wc[j] * w[j + ks];
    ks = ks1;
    --ks1;
  }

  core::CartesianState out;
  for (std::size_t i = 0; i < 3; ++i) {
    double sum = 0.0;
    for (std::size_t j = kq[i]; j >= 1; --j) sum += dt[i * m + (j - 1)] * w[j + ks];
    out.position[i] = ref[2 * i] + delta * (ref[2 * i + 1] + delta * sum);
  }
  for (std::size_t j = 1; j <= jx; ++j) w[j + ks] = fc[j] * w[j + ks1] - wc[j] * w[j + ks];
  --ks;
  for (std::size_t i = 0; i < 3; ++i) {
    double sum = 0.0;
    for (std::size_t j = kq[i]; j >= 1; --j) sum += dt[i * m + (j - 1)] * w[j + ks];
    out.velocity[i] = ref[2 * i + 1] + delta * sum;
  }
  return out;
}

std::expected<core::CartesianState, SpkError> DifferenceLineEvaluator::state_at(
    const SegmentWords& words, double epoch) {
  if (!ready_) {
    auto found = layout(words);
    if (!found) return std::unexpected(found.error());
    const DifferenceLineLayout l = *found;
    const std::uint64_t size = difference_line_size(l.max_dim);
    const std::uint64_t n = l.record_count;
    // records, epochs, directory, trailer
    if (n > words.size() / (size + 1) ||
        n * (size + 1) + (n / 100) + l.trailer > words.size() + 1)
      return std::unexpected(words.error("record count does not fit the segment"));
    auto epochs = read_epoch_list(words, n * size, n, true);
    if (!epochs) return std::unexpected(epochs.error());
    layout_ = l;
    final_epochs_ = std::move(*epochs);
    ready_ = true;
  }
  const auto first_not_before =
      std::lower_bound(final_epochs_.begin(), final_epochs_.end(), epoch) - final_epochs_.begin();
  const std::uint64_t k =
      std::min<std::uint64_t>(static_cast<std::uint64_t>(first_not_before), layout_.record_count - 1);
  const std::uint64_t size = difference_line_size(layout_.max_dim);
  if (record_.size() != size || cached_index_ != k) {
    record_.resize(size);
    if (auto read = words.read(k * size, record_); !read) {
      record_.clear();
      return std::unexpected(read.error());
    }
    if (!std::all_of(record_.begin(), record_.end(), [](double v) { return std::isfinite(v); })) {
      record_.clear();
      return std::unexpected(words.error("record words must be finite"));
    }
    cached_index_ = k;
  }
  return evaluate_difference_line(record_, static_cast<std::uint32_t>(layout_.max_dim), epoch,
                                  words);
}

}  // namespace tarvex::spk
