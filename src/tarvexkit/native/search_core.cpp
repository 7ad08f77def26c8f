// The kit's search core: sampling, Brent's method for extrema and the
// Illinois variant of regula falsi for crossings, each step vectorised over
// its brackets and shared out over the workers (method and references in
// search_core.hpp).
#include "tarvexkit/native/search_core.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <numeric>
#include <optional>
#include <thread>
#include <utility>

namespace tarvex::kit::search {

Failure stopped_failure() { return Failure::computation("the search was stopped"); }

namespace {

// One search's stop: Settings::keep_going asked by the calling thread at
// most every KEEP_GOING_INTERVAL_MS, its answer seen by every worker.
class Guard {
 public:
  explicit Guard(const Settings& settings)
      : keep_going_(settings.keep_going),
        caller_(std::this_thread::get_id()),
        asked_(std::chrono::steady_clock::now()) {}

  // Any thread, between evaluator calls: whether the search is to stop.
  bool stopping() {
    if (!stopped_.load(std::memory_order_relaxed) && std::this_thread::get_id() == caller_) {
      ask_when_due();
    }
    return stopped_.load(std::memory_order_relaxed);
  }

  // The calling thread: asks keep_going when the interval has passed.
  void ask_when_due() {
    if (!keep_going_) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - asked_ < std::chrono::milliseconds(KEEP_GOING_INTERVAL_MS)) return;
    asked_ = now;
    if (!keep_going_()) stopped_.store(true, std::memory_order_relaxed);
  }

  // `f` cut into pieces with a look at the stop before each; `f` itself
  // when nothing can stop the search (a Python quantity runs whole calls).
  Evaluator guarded(const Evaluator& f) {
    if (!keep_going_) return f;
    return [this, &f](std::size_t worker, std::span<const double> instants,
                      std::span<const std::uint32_t> tags,
                      std::span<double> values) -> std::expected<void, Failure> {
      for (std::size_t i = 0; i < instants.size(); i += STOP_CHECK_INSTANTS) {
        if (stopping()) return std::unexpected(stopped_failure());
        const std::size_t n = std::min(STOP_CHECK_INSTANTS, instants.size() - i);
        if (auto done = f(worker, instants.subspan(i, n), tags.subspan(i, n), values.subspan(i, n));
            !done)
          return done;
      }
      return {};
    };
  }

 private:
  const std::function<bool()>& keep_going_;
  std::thread::id caller_;
  std::chrono::steady_clock::time_point asked_;
  std::atomic<bool> stopped_{false};
};

// Runs body(worker, first, last) over [0, count) cut into one contiguous
// share per worker, the calling thread taking share 0 and then asking the
// guard while it waits for the others. Returns the failure of the lowest
// failing worker; a C++ exception of a worker is rethrown here once every
// worker has finished.
template <class Body>
std::expected<void, Failure> share_out(std::size_t count, std::size_t work_instants,
                                       const Settings& settings, Guard& guard, Body&& body) {
  std::size_t workers = std::max<std::size_t>(1, settings.workers);
  if (work_instants < SMALL_WORK_INSTANTS) workers = 1;
  workers = std::min(workers, std::max<std::size_t>(1, count));
  std::vector<std::optional<Failure>> failures(workers);
  std::vector<std::exception_ptr> exceptions(workers);
  auto run = [&](std::size_t worker) {
    const std::size_t first = count * worker / workers;
    const std::size_t last = count * (worker + 1) / workers;
    try {
      if (auto done = body(worker, first, last); !done) failures[worker] = std::move(done.error());
    } catch (...) {
      exceptions[worker] = std::current_exception();
    }
  };
  {
    std::mutex mutex;
    std::condition_variable finished;
    std::size_t running = workers - 1;
    std::vector<std::jthread> threads;
    threads.reserve(workers - 1);
    for (std::size_t worker = 1; worker < workers; ++worker) {
      threads.emplace_back([&, worker] {
        run(worker);
        const std::lock_guard lock(mutex);
        --running;
        finished.notify_all();
      });
    }
    run(0);
    std::unique_lock lock(mutex);
    while (running != 0) {
      finished.wait_for(lock, std::chrono::milliseconds(KEEP_GOING_INTERVAL_MS));
      lock.unlock();
      guard.ask_when_due();
      lock.lock();
    }
  }
  for (auto& exception : exceptions) {
    if (exception) std::rethrow_exception(exception);
  }
  for (auto& failure : failures) {
    if (failure) return std::unexpected(std::move(*failure));
  }
  return {};
}

bool upper_side(double value) noexcept { return value >= 0.0; }

// The sampling grid of one span: even steps over its sampling range, the
// span's ends added as points.
void append_grid(const Span& span, double step_days, std::vector<double>& out) {
  const double low = std::isnan(span.sample_begin) ? span.begin : span.sample_begin;
  const double high = std::isnan(span.sample_end) ? span.end : span.sample_end;
  const std::size_t first = out.size();
  const auto steps =
      static_cast<std::size_t>(std::max(1.0, std::ceil((high - low) / step_days)));
  const double width = (high - low) / static_cast<double>(steps);
  for (std::size_t i = 0; i < steps; ++i) out.push_back(low + static_cast<double>(i) * width);
  out.push_back(high);
  out.push_back(span.begin);
  out.push_back(span.end);
  std::sort(out.begin() + static_cast<std::ptrdiff_t>(first), out.end());
  out.erase(std::unique(out.begin() + static_cast<std::ptrdiff_t>(first), out.end()), out.end());
}

// One worker's brackets, refined together by regula falsi with the
// Illinois rule: a stays on low's side, b on the other.
std::expected<void, Failure> illinois(const Evaluator& f, std::size_t worker,
                                      std::span<const Bracket> brackets, std::span<double> out,
                                      const Settings& settings) {
  const std::size_t n = brackets.size();
  std::vector<double> a(n), b(n), fa(n), fb(n);
  std::vector<signed char> stayed(n, 0);  // +1: a stayed last step, -1: b stayed
  std::vector<bool> start_side(n);
  std::vector<std::size_t> active;
  for (std::size_t i = 0; i < n; ++i) {
    a[i] = brackets[i].low;
    b[i] = brackets[i].high;
    fa[i] = brackets[i].value_low;
    fb[i] = brackets[i].value_high;
    start_side[i] = upper_side(fa[i]);
    if (std::abs(b[i] - a[i]) >= settings.tolerance_days) active.push_back(i);
  }
  std::vector<double> x, fx;
  std::vector<std::uint32_t> tags;
  for (int iteration = 0; iteration < settings.max_iterations && !active.empty(); ++iteration) {
    x.resize(active.size());
    fx.resize(active.size());
    tags.resize(active.size());
    for (std::size_t k = 0; k < active.size(); ++k) {
      const std::size_t i = active[k];
      double t = b[i] - fb[i] * (b[i] - a[i]) / (fb[i] - fa[i]);
      if (!std::isfinite(t)) t = 0.5 * (a[i] + b[i]);
      // At least half the tolerance from either end: once the secant has
      // closed in on the crossing from one side (or met a value of exactly
      // zero at an end), the next point lands on the other side and ends
      // the bracket, as in Brent's zeroin.
      const double least = 0.5 * settings.tolerance_days;
      t = std::clamp(t, std::min(a[i], b[i]) + least, std::max(a[i], b[i]) - least);
      x[k] = t;
      tags[k] = brackets[i].tag;
    }
    if (auto done = f(worker, x, tags, fx); !done) return std::unexpected(std::move(done.error()));
    std::size_t kept = 0;
    for (std::size_t k = 0; k < active.size(); ++k) {
      const std::size_t i = active[k];
      if (upper_side(fx[k]) == start_side[i]) {
        if (stayed[i] == -1) fb[i] /= 2.0;
        a[i] = x[k];
        fa[i] = fx[k];
        stayed[i] = -1;
      } else {
        if (stayed[i] == 1) fa[i] /= 2.0;
        b[i] = x[k];
        fb[i] = fx[k];
        stayed[i] = 1;
      }
      if (std::abs(b[i] - a[i]) >= settings.tolerance_days) active[kept++] = i;
    }
    active.resize(kept);
  }
  std::copy(a.begin(), a.end(), out.begin());
  return {};
}

// One bracket's state in Brent's method for a minimum of g = sense * f
// (Brent 1973, ch. 5, procedure localmin), advanced one evaluation at a time.
struct Brent {
  double a, b, x, w, v, gx, gw, gv, d = 0.0, e = 0.0, u = 0.0, sense;
  bool done = false;

  static constexpr double GOLDEN = 0.3819660112501051;  // (3 - sqrt 5) / 2

  double tolerance(double absolute) const noexcept {
    // The resolution of an instant near x, and the wanted absolute width.
    return 4.0 * std::numeric_limits<double>::epsilon() * std::abs(x) + absolute / 3.0;
  }

  // The next instant to evaluate, or done.
  void propose(double absolute) noexcept {
    const double m = 0.5 * (a + b);
    const double tol = tolerance(absolute);
    const double t2 = 2.0 * tol;
    if (std::abs(x - m) <= t2 - 0.5 * (b - a)) {
      done = true;
      return;
    }
    double p = 0.0, q = 0.0, r = 0.0;
    if (std::abs(e) > tol) {
      r = (x - w) * (gx - gv);
      q = (x - v) * (gx - gw);
      p = (x - v) * q - (x - w) * r;
      q = 2.0 * (q - r);
      if (q > 0.0) {
        p = -p;
      } else {
        q = -q;
      }
      r = e;
      e = d;
    }
    if (std::abs(p) < std::abs(0.5 * q * r) && p > q * (a - x) && p < q * (b - x)) {
      d = p / q;  // parabolic step
      const double trial = x + d;
      if (trial - a < t2 || b - trial < t2) d = x < m ? tol : -tol;
    } else {
      e = (x < m ? b : a) - x;  // golden-section step
      d = GOLDEN * e;
    }
    u = x + (std::abs(d) >= tol ? d : (d > 0.0 ? tol : -tol));
  }

  void accept(double fu) noexcept {
    const double gu = sense * fu;
    if (gu <= gx) {
      (u < x ? b : a) = x;
      v = w;
      gv = gw;
      w = x;
      gw = gx;
      x = u;
      gx = gu;
    } else {
      (u < x ? a : b) = u;
      if (gu <= gw || w == x) {
        v = w;
        gv = gw;
        w = u;
        gw = gu;
      } else if (gu <= gv || v == x || v == w) {
        v = u;
        gv = gu;
      }
    }
  }
};

std::expected<void, Failure> brent(const Evaluator& f, std::size_t worker,
                                   std::span<const ExtremumBracket> brackets,
                                   std::span<Extremum> out, const Settings& settings) {
  std::vector<Brent> states;
  states.reserve(brackets.size());
  for (const ExtremumBracket& bracket : brackets) {
    const double sense = bracket.maximum ? -1.0 : 1.0;
    const double g = sense * bracket.value_inner;
    states.push_back(Brent{.a = bracket.low, .b = bracket.high, .x = bracket.inner,
                           .w = bracket.inner, .v = bracket.inner, .gx = g, .gw = g, .gv = g,
                           .sense = sense});
  }
  std::vector<std::size_t> active(states.size());
  std::iota(active.begin(), active.end(), std::size_t{0});
  std::vector<double> u, fu;
  std::vector<std::uint32_t> tags;
  for (int iteration = 0; iteration < settings.max_iterations && !active.empty(); ++iteration) {
    std::size_t kept = 0;
    for (std::size_t i : active) {
      states[i].propose(settings.extremum_tolerance_days);
      if (!states[i].done) active[kept++] = i;
    }
    active.resize(kept);
    if (active.empty()) break;
    u.resize(kept);
    fu.resize(kept);
    tags.resize(kept);
    for (std::size_t k = 0; k < kept; ++k) {
      u[k] = states[active[k]].u;
      tags[k] = brackets[active[k]].tag;
    }
    if (auto done = f(worker, u, tags, fu); !done) return std::unexpected(std::move(done.error()));
    for (std::size_t k = 0; k < kept; ++k) states[active[k]].accept(fu[k]);
  }
  for (std::size_t i = 0; i < states.size(); ++i) {
    out[i] = Extremum{.instant = states[i].x, .value = states[i].sense * states[i].gx,
                      .maximum = brackets[i].maximum, .span = brackets[i].tag};
  }
  return {};
}

// The turns of each span's samples, as extremum brackets tagged with the
// span; `near` decides which turns are wanted (given the sample index, and
// the two neighbouring changes).
template <class Near>
std::vector<ExtremumBracket> turns(const Samples& samples, Near&& near) {
  std::vector<ExtremumBracket> out;
  const auto& t = samples.instants;
  const auto& v = samples.values;
  for (std::size_t span = 0; span + 1 < samples.offsets.size(); ++span) {
    for (std::size_t i = samples.offsets[span] + 1; i + 1 < samples.offsets[span + 1]; ++i) {
      const double before = v[i] - v[i - 1];
      const double after = v[i + 1] - v[i];
      if (!(before * after <= 0.0) || (before == 0.0 && after == 0.0)) continue;
      if (!near(i, before, after)) continue;
      const bool maximum = before > 0.0 || (before == 0.0 && after < 0.0);
      out.push_back(ExtremumBracket{.low = t[i - 1], .inner = t[i], .high = t[i + 1],
                                    .value_inner = v[i], .maximum = maximum,
                                    .tag = static_cast<std::uint32_t>(span)});
    }
  }
  return out;
}

}  // namespace

namespace {

std::expected<Samples, Failure> sample_in(const Evaluator& f, std::span<const Span> spans,
                                          const Settings& settings, Guard& guard) {
  Samples out;
  out.offsets.push_back(0);
  std::vector<std::uint32_t> tags;
  for (std::size_t k = 0; k < spans.size(); ++k) {
    append_grid(spans[k], settings.step_days, out.instants);
    tags.resize(out.instants.size(), static_cast<std::uint32_t>(k));
    out.offsets.push_back(out.instants.size());
  }
  const std::size_t n = out.instants.size();
  out.values.resize(n);
  auto done = share_out(n, n, settings, guard, [&](std::size_t worker, std::size_t first,
                                            std::size_t last) -> std::expected<void, Failure> {
    for (std::size_t i = first; i < last; i += SAMPLE_BATCH_INSTANTS) {
      const std::size_t count = std::min(SAMPLE_BATCH_INSTANTS, last - i);
      auto filled = f(worker, std::span(out.instants).subspan(i, count),
                      std::span(tags).subspan(i, count), std::span(out.values).subspan(i, count));
      if (!filled) return filled;
    }
    return {};
  });
  if (!done) return std::unexpected(std::move(done.error()));
  return out;
}

std::expected<std::vector<double>, Failure> refine_crossings_in(const Evaluator& f,
                                                                std::span<const Bracket> brackets,
                                                                const Settings& settings,
                                                                Guard& guard) {
  std::vector<double> out(brackets.size());
  auto done = share_out(brackets.size(), brackets.size() * 8, settings, guard,
                        [&](std::size_t worker, std::size_t first, std::size_t last) {
                          return illinois(f, worker, brackets.subspan(first, last - first),
                                          std::span(out).subspan(first, last - first), settings);
                        });
  if (!done) return std::unexpected(std::move(done.error()));
  return out;
}

std::expected<std::vector<Extremum>, Failure> refine_extrema_in(
    const Evaluator& f, std::span<const ExtremumBracket> brackets, const Settings& settings,
    Guard& guard) {
  std::vector<Extremum> out(brackets.size());
  auto done = share_out(brackets.size(), brackets.size() * 8, settings, guard,
                        [&](std::size_t worker, std::size_t first, std::size_t last) {
                          return brent(f, worker, brackets.subspan(first, last - first),
                                       std::span(out).subspan(first, last - first), settings);
                        });
  if (!done) return std::unexpected(std::move(done.error()));
  return out;
}

}  // namespace

std::expected<Samples, Failure> sample(const Evaluator& f, std::span<const Span> spans,
                                       const Settings& settings) {
  Guard guard(settings);
  return sample_in(guard.guarded(f), spans, settings, guard);
}

std::expected<std::vector<double>, Failure> refine_crossings(const Evaluator& f,
                                                             std::span<const Bracket> brackets,
                                                             const Settings& settings) {
  Guard guard(settings);
  return refine_crossings_in(guard.guarded(f), brackets, settings, guard);
}

std::expected<std::vector<Extremum>, Failure> refine_extrema(
    const Evaluator& f, std::span<const ExtremumBracket> brackets, const Settings& settings) {
  Guard guard(settings);
  return refine_extrema_in(guard.guarded(f), brackets, settings, guard);
}

std::expected<std::vector<Extremum>, Failure> find_extrema(const Evaluator& given,
                                                           std::span<const Span> spans,
                                                           const Settings& settings) {
  Guard guard(settings);
  const Evaluator f = guard.guarded(given);
  auto samples = sample_in(f, spans, settings, guard);
  if (!samples) return std::unexpected(std::move(samples.error()));
  const auto brackets = turns(*samples, [](std::size_t, double, double) { return true; });
  auto found = refine_extrema_in(f, brackets, settings, guard);
  if (!found) return found;
  std::vector<Extremum> out;
  for (const Extremum& extremum : *found) {
    const Span& span = spans[extremum.span];
    if (extremum.instant >= span.begin && extremum.instant < span.end) out.push_back(extremum);
  }
  // Brackets come in span and time order, and each extremum stays inside its
  // own bracket; neighbouring brackets overlap by a step, so sort anyway.
  std::stable_sort(out.begin(), out.end(), [](const Extremum& x, const Extremum& y) {
    return x.span != y.span ? x.span < y.span : x.instant < y.instant;
  });
  return out;
}

std::expected<std::vector<Crossing>, Failure> find_crossings(const Evaluator& given,
                                                             std::span<const Span> spans,
                                                             std::span<const double> levels,
                                                             const Settings& settings) {
  Guard guard(settings);
  const Evaluator f = guard.guarded(given);
  auto sampled = sample_in(f, spans, settings, guard);
  if (!sampled) return std::unexpected(std::move(sampled.error()));
  const Samples& samples = *sampled;
  // The parabola through a turn's three samples puts its extremum at
  // `vertex`; a smooth quantity sampled a few times per swing lies within a
  // few hundredths of the samples' second difference of it, a V-shaped
  // turn within 3/8 of it. Turns farther than half of it from every level
  // cannot reach one and are not located.
  const auto brackets = turns(samples, [&](std::size_t i, double before, double after) {
    const double second = std::abs(after - before);
    const double vertex = samples.values[i] - (after + before) * (after + before) / (8.0 * (after - before));
    const double reach = 0.5 * second + 1e-9;
    return std::any_of(levels.begin(), levels.end(), [&](double level) {
      return std::abs(vertex - level) < reach || std::abs(samples.values[i] - level) < reach;
    });
  });
  auto extrema = refine_extrema_in(f, brackets, settings, guard);
  if (!extrema) return std::unexpected(std::move(extrema.error()));

  // Each span's points in time order, the located extrema merged in.
  struct Point {
    double instant, value;
  };
  std::vector<Crossing> found;
  std::vector<Bracket> crossing_brackets;
  std::vector<std::uint32_t> bracket_span;
  std::vector<double> bracket_level;
  std::size_t next_extremum = 0;
  std::vector<Point> points;
  for (std::size_t span = 0; span + 1 < samples.offsets.size(); ++span) {
    points.clear();
    for (std::size_t i = samples.offsets[span]; i < samples.offsets[span + 1]; ++i) {
      points.push_back({samples.instants[i], samples.values[i]});
    }
    for (; next_extremum < extrema->size() && (*extrema)[next_extremum].span == span;
         ++next_extremum) {
      points.push_back({(*extrema)[next_extremum].instant, (*extrema)[next_extremum].value});
    }
    std::stable_sort(points.begin(), points.end(),
                     [](const Point& x, const Point& y) { return x.instant < y.instant; });
    for (std::size_t level = 0; level < levels.size(); ++level) {
      for (std::size_t k = 0; k + 1 < points.size(); ++k) {
        const double before = points[k].value - levels[level];
        const double after = points[k + 1].value - levels[level];
        if (upper_side(before) == upper_side(after)) continue;
        found.push_back(Crossing{.instant = 0.0, .rising = upper_side(after),
                                 .level = static_cast<std::uint32_t>(level),
                                 .span = static_cast<std::uint32_t>(span)});
        crossing_brackets.push_back(Bracket{.low = points[k].instant,
                                            .high = points[k + 1].instant, .value_low = before,
                                            .value_high = after,
                                            .tag = static_cast<std::uint32_t>(bracket_span.size())});
        bracket_span.push_back(static_cast<std::uint32_t>(span));
        bracket_level.push_back(levels[level]);
      }
    }
  }
  // f - level, the brackets' tags turned back into their spans' tags.
  Evaluator shifted = [&](std::size_t worker, std::span<const double> instants,
                          std::span<const std::uint32_t> tags,
                          std::span<double> values) -> std::expected<void, Failure> {
    std::vector<std::uint32_t> spans_of(tags.size());
    for (std::size_t i = 0; i < tags.size(); ++i) spans_of[i] = bracket_span[tags[i]];
    auto filled = f(worker, instants, spans_of, values);
    if (!filled) return filled;
    for (std::size_t i = 0; i < tags.size(); ++i) values[i] -= bracket_level[tags[i]];
    return {};
  };
  auto roots = refine_crossings_in(shifted, crossing_brackets, settings, guard);
  if (!roots) return std::unexpected(std::move(roots.error()));
  std::vector<Crossing> out;
  out.reserve(found.size());
  for (std::size_t i = 0; i < found.size(); ++i) {
    const Span& span = spans[found[i].span];
    const double instant = (*roots)[i];
    if (instant >= span.begin && instant < span.end) {
      found[i].instant = instant;
      out.push_back(found[i]);
    }
  }
  std::stable_sort(out.begin(), out.end(), [](const Crossing& x, const Crossing& y) {
    return x.span != y.span ? x.span < y.span : x.instant < y.instant;
  });
  return out;
}

}  // namespace tarvex::kit::search
