// Micro-benchmarks of the engine's own cost, to read the Python-level
// benchmarks against: single geometric and apparent positions, a batch, and
// the event searches.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "core/horizon.hpp"
#include "spk/spk_ephemeris.hpp"
#include "spk/horizon_events.hpp"
#include "spk/search.hpp"
#include "time/eop.hpp"
#include "time/leap_seconds.hpp"

using namespace tarvex;

namespace {

std::string data_path(const char* name) {
  const char* env = std::getenv("TARVEX_DATA_DIR");
  return std::string(env ? env : TARVEX_DATA_DIR) + "/" + name;
}

spk::SpkEphemeris& engine() {
  static spk::SpkEphemeris instance = [] {
    auto store =
        spk::SpkEphemeris::open(data_path("de405s.bsp"),
                                "cf6891c44de2e58a73fdd2e1e0fc865f517246deed4198774e627684e4aa8e9b");
    if (!store) std::abort();
    auto centers = spk::SpkKernel::open(data_path("planet_centers_1997_2010.bsp"));
    if (!centers) std::abort();
    auto extended = spk::SpkEphemeris::with_additional_kernel(
        std::move(*store), std::move(*centers), "planet_centers_1997_2010.bsp",
        "e81041b8db10255109726930c6affe2ebc7d952257b445f8521d09ae6c21c3bf");
    if (!extended) std::abort();
    auto lsk = time::LeapSecondKernel::open(data_path("naif0012.tls"), std::string(64, '0'));
    auto eop =
        time::EarthOrientationTable::open(data_path("eop_c04_1962_2022.txt"), std::string(64, '0'));
    if (!lsk || !eop) std::abort();
    extended->time().attach_time_kernels(std::move(*lsk), std::move(*eop));
    return std::move(*extended);
  }();
  return instance;
}

core::PositionOptions apparent_options() {
  core::PositionOptions options;
  options.reference_epoch = core::ReferenceEpoch::OfDate;
  options.apparent = true;
  return options;
}

void BM_PositionGeometric(benchmark::State& state) {
  auto& e = engine();
  double jd = 2451545.0;
  for (auto _ : state) {
    auto p = e.position(core::Body::Mars, {jd, core::TimeScale::Tt}, core::PositionOptions{});
    benchmark::DoNotOptimize(p);
    jd += 0.01;
  }
}
BENCHMARK(BM_PositionGeometric);

void BM_PositionApparent(benchmark::State& state) {
  auto& e = engine();
  const auto options = apparent_options();
  double jd = 2451545.0;
  for (auto _ : state) {
    auto p = e.position(core::Body::Mars, {jd, core::TimeScale::Tt}, options);
    benchmark::DoNotOptimize(p);
    jd += 0.01;
  }
}
BENCHMARK(BM_PositionApparent);

void BM_PositionsGeometricBatch(benchmark::State& state) {
  auto& e = engine();
  std::vector<core::Body> bodies;
  for (std::size_t i = 0; i < core::BODY_COUNT; ++i) {
    if (core::body_from_ordinal(i) != core::Body::Earth)
      bodies.push_back(core::body_from_ordinal(i));
  }
  std::vector<core::Instant> instants;
  for (int i = 0; i < state.range(0); ++i)
    instants.push_back({2450500.0 + i * 0.25, core::TimeScale::Tdb});
  for (auto _ : state) {
    auto p = e.positions(bodies, instants, core::PositionOptions{});
    benchmark::DoNotOptimize(p);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<long>(bodies.size() * instants.size()));
}
BENCHMARK(BM_PositionsGeometricBatch)->Arg(1000)->Arg(10000);

// The unit the searches are made of: the Sun's apparent geocentric
// longitude of date, as the season search asks for it.
void BM_SunApparentOfDate(benchmark::State& state) {
  auto& e = engine();
  const auto options = apparent_options();
  double jd = 2451545.0;
  for (auto _ : state) {
    auto p = e.position(core::Body::Sun, {jd, core::TimeScale::Tt}, options);
    benchmark::DoNotOptimize(p);
    jd += 3.7;
    if (jd > 2455000.0) jd -= 3400.0;
  }
}
BENCHMARK(BM_SunApparentOfDate);

// Start instants walk through the kernel in steps that are no multiple of
// a season or a lunation, so every search starts from a different phase.
void BM_SeasonSearch(benchmark::State& state) {
  auto& e = engine();
  double jd = 2450500.0;
  int kind = 0;
  for (auto _ : state) {
    auto event =
        spk::next_sun_longitude(e, {jd, core::TimeScale::Tt}, 90.0 * kind, spk::SEASON_PERIOD_DAYS);
    if (!event) state.SkipWithError(event.error().message().c_str());
    benchmark::DoNotOptimize(event);
    kind = (kind + 1) % 4;
    jd += 37.3;
    if (jd > 2454700.0) jd -= 4100.0;
  }
}
BENCHMARK(BM_SeasonSearch)->Unit(benchmark::kMicrosecond);

void BM_LunationSearch(benchmark::State& state) {
  auto& e = engine();
  double jd = 2450500.0;
  int kind = 0;
  for (auto _ : state) {
    auto event = spk::next_sun_moon_elongation(e, {jd, core::TimeScale::Tt}, 180.0 * kind,
                                               spk::LUNATION_PERIOD_DAYS);
    if (!event) state.SkipWithError(event.error().message().c_str());
    benchmark::DoNotOptimize(event);
    kind ^= 1;
    jd += 3.7;
    if (jd > 2455100.0) jd -= 4500.0;
  }
}
BENCHMARK(BM_LunationSearch)->Unit(benchmark::kMicrosecond);

// One day of horizon events for one body at a mid-latitude site: transit,
// then rise and set (24 refinement passes and one declination request).
void BM_HorizonDay(benchmark::State& state) {
  auto& e = engine();
  const auto body = state.range(0) == 0 ? core::Body::Sun : core::Body::Moon;
  const core::GeodeticObserver site{-0.1275, 51.5072, 11.0};
  double jd = 2450500.0;
  for (auto _ : state) {
    auto day = spk::rise_set_transit(e, body, site, {jd, core::TimeScale::Utc},
                                     core::MEAN_REFRACTION_ALTITUDE_DEG);
    if (!day) state.SkipWithError(day.error().message().c_str());
    benchmark::DoNotOptimize(day);
    jd += 1.3;
    if (jd > 2455100.0) jd -= 4500.0;
  }
}
BENCHMARK(BM_HorizonDay)->Arg(0)->Arg(1)->ArgName("moon")->Unit(benchmark::kMicrosecond);

}  // namespace
