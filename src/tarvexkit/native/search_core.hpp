// The kit's one search core: every event search of tarvexkit (rising,
// setting, transit, twilight, Moon quarters, sign ingresses, stations,
// exact aspects, and the eclipse and phenomena searches) finds its events
// here, from a vectorised evaluator of the searched quantity.
//
// Method.
//   1. Sample. Each span's quantity f(t) is evaluated on an even grid of
//      step `step_days` over its sampling range, with the span's own ends
//      among the grid points (see "the ends of a span" below). All grids
//      are evaluated in batches, split over the workers.
//   2. Bracket every extremum. Each sample that is not below (above) both
//      neighbours with a strict change of direction marks a local maximum
//      (minimum) of f inside [t[i-1], t[i+1]], and f(t[i]) is the best
//      value known. The extremum is located by Brent's method for a
//      minimum (golden section with successive parabolic interpolation:
//      R. P. Brent, Algorithms for Minimization without Derivatives,
//      Prentice-Hall 1973, ch. 5) on -f for a maximum, to within
//      `extremum_tolerance_days`.
//   3. Refine every crossing. Between consecutive points of the samples
//      with the located extrema merged in, f is monotonic or stays on one
//      side of every level, so each change of side of f - level is one
//      crossing. Each is refined by the Illinois variant of regula falsi
//      (M. Dowell and P. Jarratt, BIT 11 (1971) 168-174): a secant step
//      inside the bracket, the value at an end kept twice running halved.
//      A bracket is done when narrower than `tolerance_days`.
//   All brackets of a step are evaluated together, in one evaluator call
//   per worker and iteration, each worker refining its own share.
//
// Sides and the ends of a span. A value is on the upper side of a level
// when f >= level, on the lower side when f < level. A crossing is
// reported as the last instant evaluated on the side f comes from (the end
// of its final bracket on that side), so it lies less than
// `tolerance_days` before an instant evaluated on the other side. It
// belongs to the span [begin, end) when that instant does. As `begin` is
// a grid point, a search that starts at an instant an earlier search
// returned finds f there on the same side as before and returns the same
// event again; consecutive spans [a, b), [b, c) share no event and miss
// none.
//
// What the sampling can miss. An event that happens and undoes itself
// between two samples without a sample-level extremum between them (f
// crossing a level twice within one step, with no turn among the samples)
// is not seen; the caller picks `step_days` well below the shortest time
// between such events. A turn whose extremum may reach a level is always
// located first, so a body that grazes the horizon for minutes is found.
//
// What it calls. Only the evaluator, on std::threads of its own (one per
// worker, the calling thread being worker 0); nothing here knows about
// ephemerides. Everything returned is sorted by span, then by time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <limits>
#include <span>
#include <vector>

#include "core/errors.hpp"

namespace tarvex::kit::search {

// ---------------------------------------------------------------- settings
// The kit's search steps and tolerances, all in one place.

// Width under which a crossing's bracket is done: about a millisecond.
inline constexpr double TOLERANCE_DAYS = 1e-8;
// Width under which an extremum's bracket is done (about 10 ms). Close to
// an extremum f is flat: its value there is off by far less than the
// rounding of f itself.
inline constexpr double EXTREMUM_TOLERANCE_DAYS = 1e-7;
// Iterations of either method after which a bracket stops as it is (never
// met by a smooth function: regula falsi with the Illinois rule converges
// superlinearly, Brent's method at least like golden section).
inline constexpr int MAX_ITERATIONS = 100;
// Instants per evaluator call while sampling: a few chunks of the batch
// engine, bounding the working memory of a worker.
inline constexpr std::size_t SAMPLE_BATCH_INSTANTS = 4096;
// Below this many instants of work a step runs in the calling thread:
// starting threads costs more than evaluating a few hundred instants.
inline constexpr std::size_t SMALL_WORK_INSTANTS = 512;

// Sampling steps of the kit's searches (days).
// Altitudes and hour angles: consecutive extrema lie about twelve hours
// apart (five or more for the Moon within a degree or two of a pole), so
// two hours leave each between samples of its own.
inline constexpr double HORIZON_STEP_DAYS = 1.0 / 12.0;
// The Moon's elongation in longitude gains 10 to 15 degrees a day.
inline constexpr double QUARTER_STEP_DAYS = 0.25;
// Longitudes where the Moon takes part (sign ingresses, aspects).
inline constexpr double MOON_STEP_DAYS = 0.25;
// Longitudes of every other body, and speeds (stations).
inline constexpr double STEP_DAYS = 0.5;
// Earth satellites' altitudes, per revolution of the element set's mean
// motion: a pass lasts a tenth of a revolution or more above the horizon
// and its culmination is the only turn near the top, so a twentieth of a
// revolution shows each pass as a turn of its own (the core locates it).
inline constexpr double SATELLITE_STEPS_PER_REVOLUTION = 20.0;
// Half-width of the central difference of a satellite's altitude whose
// zero is its culmination (a power of two, 0.66 s): the zero moves by
// f''' d^2 / (6 f''), under a millisecond for any pass.
inline constexpr double SATELLITE_DIFFERENCE_DAYS = 1.0 / 131072.0;
// Half-width of the central difference that gives a longitude's speed
// (a power of two, so that t +- d is exact in a Julian-day double).
inline constexpr double SPEED_DIFFERENCE_DAYS = 1.0 / 128.0;

// How often a native search asks Settings::keep_going, and the most
// instants one evaluator call is given between two looks at the answer: a
// few milliseconds of work, so Ctrl-C is seen within a few tens of them.
inline constexpr int KEEP_GOING_INTERVAL_MS = 20;
inline constexpr std::size_t STOP_CHECK_INSTANTS = 256;

struct Settings {
  double step_days = HORIZON_STEP_DAYS;
  double tolerance_days = TOLERANCE_DAYS;
  double extremum_tolerance_days = EXTREMUM_TOLERANCE_DAYS;
  int max_iterations = MAX_ITERATIONS;
  // Workers the evaluator can serve at once (worker indices 0..workers-1);
  // at least 1.
  std::size_t workers = 1;
  // When set, asked by the calling thread only, every
  // KEEP_GOING_INTERVAL_MS while the search runs: evaluator calls are then
  // cut into pieces of STOP_CHECK_INSTANTS, the calling thread asks between
  // its own pieces and while it waits for the other workers, and every
  // worker stops before its next piece once the answer was false. The
  // search then returns stopped_failure(); the caller knows why.
  std::function<bool()> keep_going;
};

// ---------------------------------------------------------------- inputs

// Fills values[i] = f(instants[i]) for every i. tags[i] says which span
// (for spans) or bracket (for brackets) the instant belongs to, so one
// evaluator can serve quantities that differ from span to span (a target
// longitude per bracket, a candidate per span). `worker` is below
// Settings::workers; calls with different workers run at the same time,
// calls with one worker never do. An error stops the search: the error of
// the lowest worker among those that failed is returned.
using Evaluator = std::function<std::expected<void, core::EphemerisError>(
    std::size_t worker, std::span<const double> instants, std::span<const std::uint32_t> tags,
    std::span<double> values)>;

// A span [begin, end) of one search (Julian days in the evaluator's own
// scale), sampled over [sample_begin, sample_end] (which must contain it;
// NaN means the span's own end). Sampling beyond the span lets a turn
// just inside an end be seen as one.
struct Span {
  double begin = 0.0;
  double end = 0.0;
  double sample_begin = std::numeric_limits<double>::quiet_NaN();
  double sample_end = std::numeric_limits<double>::quiet_NaN();
};

// ---------------------------------------------------------------- results

struct Samples {
  // Per span, its grid instants and values: span k's points are
  // [offsets[k], offsets[k+1]).
  std::vector<double> instants;
  std::vector<double> values;
  std::vector<std::size_t> offsets;
};

struct Extremum {
  double instant = 0.0;
  double value = 0.0;
  bool maximum = false;
  std::uint32_t span = 0;
};

struct Crossing {
  double instant = 0.0;  // the last instant on the side f comes from
  bool rising = false;   // f goes from below the level to at or above it
  std::uint32_t level = 0;  // index into the levels given
  std::uint32_t span = 0;
};

// A bracket of a crossing of zero: f(low) and f(high) on different sides
// of zero (f >= 0 and f < 0). `tag` is passed to the evaluator.
struct Bracket {
  double low = 0.0;
  double high = 0.0;
  double value_low = 0.0;
  double value_high = 0.0;
  std::uint32_t tag = 0;
};

// A bracket of an extremum: `inner` in (low, high) with f(inner) above
// (maximum) or below (minimum) f at both ends.
struct ExtremumBracket {
  double low = 0.0;
  double inner = 0.0;
  double high = 0.0;
  double value_inner = 0.0;
  bool maximum = false;
  std::uint32_t tag = 0;
};

using Failure = core::EphemerisError;

// What a search stopped by Settings::keep_going returns.
Failure stopped_failure();

// ---------------------------------------------------------------- searches

// Every local minimum and maximum of f inside each span [begin, end) that
// the samples show (a turn of the sampled values), located to within
// settings.extremum_tolerance_days.
std::expected<std::vector<Extremum>, Failure> find_extrema(const Evaluator& f,
                                                           std::span<const Span> spans,
                                                           const Settings& settings);

// Every crossing of f = level for each level in each span [begin, end),
// with its direction. Turns of the samples whose extremum may come within
// reach of a level are located first, so that a crossing and its return
// between two samples are both found: those where the vertex of the
// parabola through the turn's three samples, or the middle sample, lies
// within half the samples' second difference of a level (a smooth
// quantity sampled a few times per swing stays within a few hundredths of
// that of the vertex, a V-shaped turn within 3/8 of it).
std::expected<std::vector<Crossing>, Failure> find_crossings(const Evaluator& f,
                                                             std::span<const Span> spans,
                                                             std::span<const double> levels,
                                                             const Settings& settings);

// The building blocks, for searches whose quantity wraps (longitudes) or
// whose brackets come from elsewhere (candidates of an eclipse search).

// Samples f over every span's sampling range (step settings.step_days,
// span ends included as points).
std::expected<Samples, Failure> sample(const Evaluator& f, std::span<const Span> spans,
                                       const Settings& settings);

// The crossing of zero in each bracket, in the order given: the last
// instant on low's side, less than settings.tolerance_days before an
// instant on the other side.
std::expected<std::vector<double>, Failure> refine_crossings(const Evaluator& f,
                                                             std::span<const Bracket> brackets,
                                                             const Settings& settings);

// The extremum in each bracket, in the order given (instant and value).
std::expected<std::vector<Extremum>, Failure> refine_extrema(
    const Evaluator& f, std::span<const ExtremumBracket> brackets, const Settings& settings);

}  // namespace tarvex::kit::search
