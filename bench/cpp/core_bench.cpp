// Micro-benchmarks of core pieces that every apparent place or chart pays
// for: the IAU 2000B nutation series and Placidus cusps by either solver.
//
// Measured on the development machine on 2026-12-08 (2 cores shared with
// other builds: CPU times, read the ratios): the nutation series 0.70 us a
// call against 2.6 us with one sine and cosine per term before (3.0-3.7x in
// a side-by-side harness); Placidus 6.06 us a sky by the fixed point, 0.74
// us by Newton (house_cusps_deg, skies within 60 degrees of the equator).
#include <benchmark/benchmark.h>

#include <cmath>
#include <utility>
#include <vector>

#include "core/frames.hpp"
#include "core/house_systems.hpp"

using namespace tarvex;

namespace {

void BM_NutationIau2000b(benchmark::State& state) {
  double jd = 2451545.0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(core::nutation_iau2000b(jd));
    jd += 0.37;
  }
}
BENCHMARK(BM_NutationIau2000b);

// Skies spread over RAMC and latitude (within 60 degrees of the equator).
void BM_PlacidusCusps(benchmark::State& state) {
  const auto solver = static_cast<core::PlacidusSolver>(state.range(0));
  std::vector<std::pair<double, double>> skies;
  for (int i = 0; i < 997; ++i) skies.emplace_back(i * 47.3, -60.0 + std::fmod(i * 7.13, 120.0));
  std::size_t k = 0;
  for (auto _ : state) {
    const auto& [ramc, lat] = skies[k];
    benchmark::DoNotOptimize(
        core::house_cusps_deg(core::HouseMethod::Placidus, ramc, lat, 23.44, solver));
    k = k + 1 == skies.size() ? 0 : k + 1;
  }
}
BENCHMARK(BM_PlacidusCusps)->Arg(0)->Arg(1)->ArgName("newton");

}  // namespace
