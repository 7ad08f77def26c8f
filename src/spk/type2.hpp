// SPK Type 2 segments: equal-length intervals, one record of Chebyshev
// coefficients (X, Y, Z sets) per interval, velocity from the derivative of
// the same polynomials. This file holds the pure parts: the directory and
// record layouts, their checks, and the evaluation of one record. Reading
// records from a file and caching them is SpkKernel's (kernel.hpp).
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <span>
#include <vector>

#include "core/types.hpp"
#include "spk/spk_error.hpp"

namespace tarvex::spk {

// The validated directory (last four words) of one Type 2 segment.
struct Type2Directory {
  double init = 0.0;               // start epoch of record 0, TDB seconds past J2000
  double interval_length = 0.0;    // seconds
  std::uint32_t record_size = 0;   // RSIZE, words per record
  std::uint32_t record_count = 0;  // N
  bool operator==(const Type2Directory&) const = default;
};

// The most recently loaded record of one segment, decoded to native order.
struct Type2Record {
  std::vector<double> words;
  std::uint32_t record_index = 0;
  // Whether all 3n coefficients are finite, and whether they are all +0.0,
  // decided once at load so that each evaluation need not scan them again.
  bool coefficients_finite = false;
  bool coefficients_zero = false;
};

// What the chain walk knows about the segment it asks to evaluate.
struct SegmentLoc {
  double start_epoch = 0.0;
  double end_epoch = 0.0;
  std::int32_t center = 0;
  std::int32_t data_type = 0;
  std::int32_t start_address = 0;
  std::int32_t end_address = 0;
  std::int32_t frame = 1;  // reference frame code; 1 is J2000
  bool operator==(const SegmentLoc&) const = default;
};

// Within one file, the address pair identifies a segment; both caches use it.
struct SegmentKey {
  std::int32_t start_address = 0;
  std::int32_t end_address = 0;
  bool operator==(const SegmentKey&) const = default;
};

struct SegmentKeyHash {
  std::size_t operator()(const SegmentKey& key) const noexcept {
    const auto packed =
        (static_cast<std::uint64_t>(static_cast<std::uint32_t>(key.start_address)) << 32) |
        static_cast<std::uint32_t>(key.end_address);
    return std::hash<std::uint64_t>{}(packed);
  }
};

inline SpkError type2_error(const char* reason) { return SpkError::invalid_type2_segment(reason); }

// The four directory words (INIT, INTLEN, RSIZE, N) of the segment `key`,
// checked against each other and against the segment's address range.
std::expected<Type2Directory, SpkError> parse_type2_directory(const std::array<double, 4>& words,
                                                              SegmentKey key);

// The record serving `epoch`; the end of the last interval belongs to the
// last record.
[[gnu::always_inline]] inline std::expected<std::uint32_t, SpkError> type2_record_index(const Type2Directory& dir,
                                                                 double epoch) {
  const double x = (epoch - dir.init) / dir.interval_length;
  if (!std::isfinite(x) || x < 0.0) {
    return std::unexpected(type2_error("epoch precedes the first polynomial interval"));
  }
  // x >= 0 here, so truncation is the floor (and needs no rounding
  // instruction the baseline processor may lack).
  std::uint32_t k = x >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(x);
  if (k == dir.record_count) k = dir.record_count - 1;
  if (k >= dir.record_count) {
    return std::unexpected(type2_error("epoch is not covered by the polynomial intervals"));
  }
  return k;
}

// Whether every coefficient of a record is +0.0 (bit pattern zero). Such a
// record (a planet placed at its system barycenter) evaluates to the
// all-+0.0 state at every epoch it covers: each product and sum of the
// recurrence is then +0.0, and +0.0 divided by a positive radius is +0.0.
bool all_positive_zero(const double* begin, const double* end) noexcept;

// Whether every value in [begin, end) is finite.
bool all_finite(const double* begin, const double* end) noexcept;

// The record checks that depend on the epoch (MID and RADIUS are checked
// with it because they are cheap and an invalid pair must fail whatever the
// coefficients), giving the scaled argument x = (epoch - MID) / RADIUS.
// The check itself, for the evaluation loop: true with x set when both pass.
inline bool type2_argument_fits(const double* words, double epoch, double& x) noexcept {
  const double mid = words[0];
  const double radius = words[1];
  if (!std::isfinite(mid) || !std::isfinite(radius) || !(radius > 0.0)) return false;
  x = (epoch - mid) / radius;
  return std::fabs(x) <= 1.0;
}

// The error of a record and epoch that type2_argument_fits refused: a bad
// midpoint or radius, else an epoch outside the record.
SpkError type2_argument_error(const double* words);

inline std::expected<double, SpkError> type2_scaled_argument(const double* words, double epoch) {
  double x = 0.0;
  if (!type2_argument_fits(words, epoch, x)) return std::unexpected(type2_argument_error(words));
  return x;
}

// Forward three-term recurrence for the X, Y and Z sets at once. T_k(x) and
// T_k'(x) depend on x only, so they are formed once and shared by the three
// sets; each set's sums still add one term at a time in increasing degree,
// which gives the same bits as three separate recurrences. two_x is x + x.
inline void chebyshev_forward_xyz(const double* c, std::uint32_t n, double x, double two_x,
                                  double radius, core::CartesianState& state) noexcept {
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

// N epochs of one record at once, one in each lane of `Lanes`, a vector of
// N doubles. Each lane performs exactly the IEEE operations of
// chebyshev_forward_xyz in the same order, so each state has the bits of
// the one-epoch evaluation; the independent recurrences simply run side by
// side. Always inlined, so that it is compiled for the instruction set of
// its caller; vectors never pass between functions by value, which wider
// vectors could only do where the processor's extension is enabled. n >= 2.
template <class Lanes, std::size_t N>
[[gnu::always_inline]] inline void chebyshev_forward_xyz_lanes(
    const double* c, std::uint32_t n, const double (&x_in)[N], double radius,
    core::CartesianState* const (&states)[N]) noexcept {
  const auto fill = [](Lanes& lanes, double v) __attribute__((always_inline)) {
    for (std::size_t lane = 0; lane < N; ++lane) lanes[lane] = v;
  };
  const double* cx = c;
  const double* cy = c + n;
  const double* cz = c + 2 * std::size_t{n};
  Lanes x{}, two{}, t_prev{}, d_prev{}, d_curr{}, ck{}, r{};
  for (std::size_t lane = 0; lane < N; ++lane) x[lane] = x_in[lane];
  fill(two, 2.0);
  fill(t_prev, 1.0);
  fill(d_prev, 0.0);
  fill(d_curr, 1.0);
  const Lanes two_x = x + x;
  Lanes c0{}, c1{};
  fill(c0, cx[0]);
  fill(c1, cx[1]);
  Lanes vx = c1 * x + c0;
  Lanes dx = c1;
  fill(c0, cy[0]);
  fill(c1, cy[1]);
  Lanes vy = c1 * x + c0;
  Lanes dy = c1;
  fill(c0, cz[0]);
  fill(c1, cz[1]);
  Lanes vz = c1 * x + c0;
  Lanes dz = c1;
  Lanes t_curr = x;
  for (std::uint32_t k = 2; k < n; ++k) {
    const Lanes t_next = two_x * t_curr - t_prev;
    const Lanes d_next = two_x * d_curr + two * t_curr - d_prev;
    fill(ck, cx[k]);
    vx = vx + ck * t_next;
    dx = dx + ck * d_next;
    fill(ck, cy[k]);
    vy = vy + ck * t_next;
    dy = dy + ck * d_next;
    fill(ck, cz[k]);
    vz = vz + ck * t_next;
    dz = dz + ck * d_next;
    t_prev = t_curr;
    t_curr = t_next;
    d_prev = d_curr;
    d_curr = d_next;
  }
  fill(r, radius);
  dx = dx / r;
  dy = dy / r;
  dz = dz / r;
  for (std::size_t lane = 0; lane < N; ++lane) {
    states[lane]->position = {vx[lane], vy[lane], vz[lane]};
    states[lane]->velocity = {dx[lane], dy[lane], dz[lane]};
  }
}

// Two epochs in a two-double vector (SSE2, part of every x86-64 and AArch64
// processor).
typedef double Type2Lanes __attribute__((vector_size(16)));

inline void chebyshev_forward_xyz_pair(const double* c, std::uint32_t n, double x0, double x1,
                                       double radius, core::CartesianState& state0,
                                       core::CartesianState& state1) noexcept {
  const double xs[2] = {x0, x1};
  core::CartesianState* const states[2] = {&state0, &state1};
  chebyshev_forward_xyz_lanes<Type2Lanes, 2>(c, n, xs, radius, states);
}

// Four epochs of one record at once, in the four lanes of a 256-bit vector,
// on processors with AVX (asked once, at the first call); each lane again
// performs exactly the operations of chebyshev_forward_xyz. Returns false,
// having written nothing, where AVX is not available. n >= 2.
bool chebyshev_forward_xyz_quad(const double* c, std::uint32_t n, const double (&x)[4],
                                double radius, core::CartesianState* const (&states)[4]) noexcept;

// Pure evaluation of one record (MID, RADIUS, then the X, Y, Z sets of
// n = (record_size - 2) / 3 coefficients) at one epoch, by the forward
// Chebyshev recurrence. A word list shorter than the record size claims is
// refused with the coefficient message rather than read past.
std::expected<core::CartesianState, SpkError> evaluate_loaded_type2_record(
    std::span<const double> words, std::uint32_t record_size, double epoch);

}  // namespace tarvex::spk
