// Type 2 evaluation: directory validation and caching, the record of each
// epoch, a visiting order that loads each record once, and the forward
// Chebyshev recurrence for value and derivative.
#include "spk/type2.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "spk/kernel.hpp"

namespace tarvex::spk {

namespace {

SpkError type2_error(const char* reason) { return SpkError::invalid_type2_segment(reason); }

// RSIZE and N: integral, finite, 1 to 4294967295 (NaN fails the first test).
bool is_positive_u32(double value) noexcept {
  return std::trunc(value) == value && value <= 4294967295.0 && value >= 1.0 &&
         std::isfinite(value);
}

// Forward three-term recurrence for the X, Y and Z sets at once. T_k(x) and
// T_k'(x) depend on x only, so they are formed once and shared by the three
// sets; each set's sums still add one term at a time in increasing degree,
// which gives the same bits as three separate recurrences. two_x is x + x.
void chebyshev_forward_xyz(const double* c, std::uint32_t n, double x, double two_x, double radius,
                           StateVector& state) noexcept {
  const double* cx = c;
  const double* cy = c + n;
  const double* cz = c + 2 * std::size_t{n};
  if (n == 1) {
    state.position = {cx[0], cy[0], cz[0]};
    state.velocity = {0.0 / radius, 0.0 / radius, 0.0 / radius};
    return;
  }
  double vx = cx[1] * x + cx[0];
  double vy = cy[1] * x + cy[0];
  double vz = cz[1] * x + cz[0];
  double dx = cx[1];
  double dy = cy[1];
  double dz = cz[1];
  double t_prev = 1.0;  // T(k-2)
  double t_curr = x;    // T(k-1)
  double d_prev = 0.0;  // T'(k-2)
  double d_curr = 1.0;  // T'(k-1)
  for (std::uint32_t k = 2; k < n; ++k) {
    const double t_next = two_x * t_curr - t_prev;
    const double d_next = two_x * d_curr + 2.0 * t_curr - d_prev;
    vx = vx + cx[k] * t_next;
    vy = vy + cy[k] * t_next;
    vz = vz + cz[k] * t_next;
    dx = dx + cx[k] * d_next;
    dy = dy + cy[k] * d_next;
    dz = dz + cz[k] * d_next;
    t_prev = t_curr;
    t_curr = t_next;
    d_prev = d_curr;
    d_curr = d_next;
  }
  state.position = {vx, vy, vz};
  state.velocity = {dx / radius, dy / radius, dz / radius};
}

bool all_finite(const double* begin, const double* end) noexcept {
  return std::all_of(begin, end, [](double v) { return std::isfinite(v); });
}

// The record checks that depend on the epoch (MID and RADIUS are checked
// with it because they are cheap and an invalid pair must fail whatever the
// coefficients); the coefficient check is the caller's.
std::expected<double, SpkError> scaled_argument(const double* words, double epoch) {
  const double mid = words[0];
  const double radius = words[1];
  if (!std::isfinite(mid) || !std::isfinite(radius) || !(radius > 0.0)) {
    return std::unexpected(type2_error("record midpoint and radius must be finite and valid"));
  }
  const double x = (epoch - mid) / radius;
  if (!(std::fabs(x) <= 1.0)) {
    return std::unexpected(type2_error("selected record does not cover the requested epoch"));
  }
  return x;
}

}  // namespace

std::expected<StateVector, SpkError> evaluate_loaded_type2_record(std::span<const double> words,
                                                                  std::uint32_t record_size,
                                                                  double epoch) {
  if (words.size() < 2)
    return std::unexpected(type2_error("record midpoint and radius must be finite and valid"));
  auto x = scaled_argument(words.data(), epoch);
  if (!x) return std::unexpected(std::move(x.error()));
  const std::uint32_t n = (record_size - 2u) / 3u;  // wraps below 2, as the record layout allows
  if (n == 0 || words.size() - 2 < std::uint64_t{3} * n) {
    return std::unexpected(type2_error("Chebyshev coefficients and argument must be finite"));
  }
  // The three sets share one message, so checking all of them before
  // evaluating any reports the same failure as checking set by set.
  if (!all_finite(words.data() + 2, words.data() + 2 + std::size_t{3} * n)) {
    return std::unexpected(type2_error("Chebyshev coefficients and argument must be finite"));
  }
  StateVector state;
  chebyshev_forward_xyz(words.data() + 2, n, *x, *x + *x, words[1], state);
  return state;
}

std::expected<Type2Directory, SpkError> SpkKernel::type2_directory(SegmentKey key) {
  if (const auto found = directory_cache_.find(key); found != directory_cache_.end())
    return found->second;

  std::int32_t directory_address = 0;
  if (__builtin_sub_overflow(key.end_address, 3, &directory_address)) {
    return std::unexpected(type2_error("segment is too short to contain a directory"));
  }
  std::array<double, 4> words{};
  if (auto read = read_words_into(directory_address, words); !read)
    return std::unexpected(std::move(read.error()));
  const double init = words[0];
  const double interval_length = words[1];
  const double record_size = words[2];
  const double record_count = words[3];
  if (!is_positive_u32(record_size)) return std::unexpected(type2_error("record size"));
  if (!is_positive_u32(record_count)) return std::unexpected(type2_error("record count"));
  if (!std::isfinite(init) || !std::isfinite(interval_length) || !(interval_length > 0.0)) {
    return std::unexpected(
        type2_error("directory epoch and interval length must be finite and valid"));
  }
  Type2Directory directory{init, interval_length, static_cast<std::uint32_t>(record_size),
                           static_cast<std::uint32_t>(record_count)};
  if (directory.record_size < 5 || (directory.record_size - 2) % 3 != 0) {
    return std::unexpected(
        type2_error("record size does not describe three equal coefficient sets"));
  }
  const std::uint64_t total_words = std::uint64_t{directory.record_size} * directory.record_count;
  if (total_words >= 4294967292u)
    return std::unexpected(type2_error("segment word count overflowed"));
  const std::int64_t span_words = std::int64_t{key.end_address} - key.start_address + 1;
  if (span_words != static_cast<std::int64_t>(total_words) + 4) {
    return std::unexpected(type2_error("directory size does not match the segment address range"));
  }
  directory_cache_.emplace(key, directory);
  return directory;
}

std::expected<std::vector<StateVector>, SpkError> SpkKernel::evaluate_type2_at_epochs(
    const SegmentLoc& location, std::span<const double> epochs) {
  std::vector<StateVector> states(epochs.size());
  if (auto done = evaluate_type2_into(location, epochs, states); !done) {
    return std::unexpected(std::move(done.error()));
  }
  return states;
}

std::expected<void, SpkError> SpkKernel::evaluate_type2_into(const SegmentLoc& location,
                                                             std::span<const double> epochs,
                                                             std::span<StateVector> out) {
  if (epochs.empty()) return {};
  if (out.size() < epochs.size())
    return std::unexpected(type2_error("active polynomial record was not cached"));
  // Coverage first: a bad epoch is reported before the file is touched.
  for (const double t : epochs) {
    if (!std::isfinite(t) || !(location.start_epoch <= t) || !(t <= location.end_epoch)) {
      return std::unexpected(
          SpkError::epoch_outside_segment(t, location.start_epoch, location.end_epoch));
    }
  }
  const SegmentKey key{location.start_address, location.end_address};
  auto directory = type2_directory(key);
  if (!directory) return std::unexpected(std::move(directory.error()));
  const Type2Directory dir = *directory;

  // Record index of every epoch, in input order, before any record is read.
  visit_scratch_.clear();
  visit_scratch_.reserve(epochs.size());
  for (std::size_t j = 0; j < epochs.size(); ++j) {
    const double x = (epochs[j] - dir.init) / dir.interval_length;
    if (!std::isfinite(x) || x < 0.0) {
      return std::unexpected(type2_error("epoch precedes the first polynomial interval"));
    }
    const double whole = std::floor(x);
    std::uint32_t k = whole >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(whole);
    // The end of the last interval belongs to the last record.
    if (k == dir.record_count) k = dir.record_count - 1;
    if (k >= dir.record_count) {
      return std::unexpected(type2_error("epoch is not covered by the polynomial intervals"));
    }
    visit_scratch_.push_back({k, j});
  }
  // Positions are unique, so ordering by (record, position) is the stable
  // order by record: each record loads once and the one-record cache is not
  // swapped back and forth.
  // Epochs usually come in time order (batches, searches); then the order
  // is already right and the sort is skipped.
  const bool in_record_order = std::is_sorted(
      visit_scratch_.begin(), visit_scratch_.end(),
      [](const VisitEntry& a, const VisitEntry& b) { return a.record_index < b.record_index; });
  if (!in_record_order) {
    std::sort(visit_scratch_.begin(), visit_scratch_.end(),
              [](const VisitEntry& a, const VisitEntry& b) {
                return a.record_index != b.record_index ? a.record_index < b.record_index
                                                        : a.position < b.position;
              });
  }

  Type2Record* record = nullptr;
  bool have_previous = false;
  std::uint32_t previous_index = 0;
  for (const VisitEntry& visit : visit_scratch_) {
    const std::uint32_t k = visit.record_index;
    if (!have_previous || k != previous_index) {
      if (record == nullptr) {
        const auto found = record_cache_.find(key);
        if (found != record_cache_.end()) record = &found->second;
      }
      if (record == nullptr || record->record_index != k ||
          record->words.size() != dir.record_size) {
        const std::uint64_t offset = std::uint64_t{k} * dir.record_size;
        if (offset > 0xFFFFFFFFu) return std::unexpected(type2_error("record address overflowed"));
        if (offset >= 2147483648u)
          return std::unexpected(type2_error("record address exceeds the DAF address range"));
        std::int32_t address = 0;
        if (__builtin_add_overflow(location.start_address, static_cast<std::int32_t>(offset),
                                   &address)) {
          return std::unexpected(type2_error("record address overflowed"));
        }
        if (address < 1) return std::unexpected(type2_error("DAF word addresses are one-based"));
        if (auto fits = check_words_within_file(address, dir.record_size); !fits) {
          return std::unexpected(std::move(fits.error()));
        }
        if (record == nullptr) record = &record_cache_[key];
        // Read straight into the cached buffer; a failed read leaves no
        // half-filled record behind.
        record->words.resize(dir.record_size);
        if (auto read = read_words_into(address, record->words); !read) {
          record_cache_.erase(key);
          return std::unexpected(std::move(read.error()));
        }
        record->record_index = k;
        const std::size_t n = (dir.record_size - 2u) / 3u;
        record->coefficients_finite =
            all_finite(record->words.data() + 2, record->words.data() + 2 + 3 * n);
      }
      have_previous = true;
      previous_index = k;
    }
    if (record == nullptr)
      return std::unexpected(type2_error("active polynomial record was not cached"));
    if (record->coefficients_finite) {
      // The coefficients were checked once when the record was loaded; only
      // the checks that depend on the epoch remain.
      auto x = scaled_argument(record->words.data(), epochs[visit.position]);
      if (!x) return std::unexpected(std::move(x.error()));
      chebyshev_forward_xyz(record->words.data() + 2, (dir.record_size - 2u) / 3u, *x, *x + *x,
                            record->words[1], out[visit.position]);
      continue;
    }
    auto state =
        evaluate_loaded_type2_record(record->words, dir.record_size, epochs[visit.position]);
    if (!state) return std::unexpected(std::move(state.error()));
    out[visit.position] = *state;
  }
  return {};
}

}  // namespace tarvex::spk
