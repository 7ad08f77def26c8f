#include "spk/type2.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

namespace tarvex::spk {

namespace {

// RSIZE and N: integral, finite, 1 to 4294967295 (NaN fails the first test).
bool is_positive_u32(double value) noexcept {
  return std::trunc(value) == value && value <= 4294967295.0 && value >= 1.0 &&
         std::isfinite(value);
}

}  // namespace

SpkError type2_argument_error(const double* words) {
  const double mid = words[0];
  const double radius = words[1];
  if (!std::isfinite(mid) || !std::isfinite(radius) || !(radius > 0.0))
    return type2_error("record midpoint and radius must be finite and valid");
  return type2_error("selected record does not cover the requested epoch");
}

bool all_finite(const double* begin, const double* end) noexcept {
  return std::all_of(begin, end, [](double v) { return std::isfinite(v); });
}

std::expected<Type2Directory, SpkError> parse_type2_directory(const std::array<double, 4>& words,
                                                              SegmentKey key) {
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
  return directory;
}

bool all_positive_zero(const double* begin, const double* end) noexcept {
  return std::all_of(begin, end, [](double v) { return std::bit_cast<std::uint64_t>(v) == 0; });
}

#if defined(__x86_64__) || defined(__i386__)

namespace {

typedef double Type2Quad __attribute__((vector_size(32)));

__attribute__((target("avx"))) void chebyshev_quad_avx(const double* c, std::uint32_t n,
                                                       const double (&x)[4], double radius,
                                                       core::CartesianState* const (&states)[4]) {
  chebyshev_forward_xyz_lanes<Type2Quad, 4>(c, n, x, radius, states);
}

const bool HAVE_AVX = __builtin_cpu_supports("avx");

}  // namespace

bool chebyshev_forward_xyz_quad(const double* c, std::uint32_t n, const double (&x)[4],
                                double radius, core::CartesianState* const (&states)[4]) noexcept {
  if (!HAVE_AVX) return false;
  chebyshev_quad_avx(c, n, x, radius, states);
  return true;
}

#else

bool chebyshev_forward_xyz_quad(const double*, std::uint32_t, const double (&)[4], double,
                                core::CartesianState* const (&)[4]) noexcept {
  return false;
}

#endif

std::expected<core::CartesianState, SpkError> evaluate_loaded_type2_record(
    std::span<const double> words, std::uint32_t record_size, double epoch) {
  if (words.size() < 2)
    return std::unexpected(type2_error("record midpoint and radius must be finite and valid"));
  auto x = type2_scaled_argument(words.data(), epoch);
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
  core::CartesianState state;
  chebyshev_forward_xyz(words.data() + 2, n, *x, *x + *x, words[1], state);
  return state;
}

}  // namespace tarvex::spk
