// The engine calls the conversions on its hot path: they must not touch the
// heap, on success or on failure. Counted by replacing the global operator
// new for this test executable.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <limits>
#include <new>

#include "core/types.hpp"
#include "time/eop.hpp"
#include "time/leap_seconds.hpp"
#include "time_test_support.hpp"

namespace {
std::atomic<long> allocations{0};
}

// The replacement pair below is consistent (malloc/free); GCC cannot see that
// through inlined library code and warns about a mismatch.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }

using namespace tarvex::time;
using tarvex::core::TimeScale;

TEST(Allocation, ConversionsAndLookupsUseNoHeap) {
  const auto kernel =
      LeapSecondKernel::open(test::data_path("naif0012.tls"), test::NAIF0012_SHA256);
  const auto eop =
      EarthOrientationTable::open(test::data_path("eop_c04_1962_2022.txt"), test::EOP_C04_SHA256);
  ASSERT_TRUE(kernel && eop);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  double sink = 0.0;
  int failures = 0;
  const long before = allocations.load();
  for (const TimeScale scale : {TimeScale::Utc, TimeScale::Ut1, TimeScale::Tt, TimeScale::Tdb}) {
    // Inside coverage, before the first leap second, past the EOP table, NaN.
    for (const double jd : {2451545.0, 2441000.0, 2470000.0, nan}) {
      const auto results = {
          kernel->tdb_seconds(scale, jd),           kernel->tdb_seconds_with_eop(scale, *eop, jd),
          kernel->tt_julian_day(scale, &*eop, jd),  kernel->tt_julian_day(scale, nullptr, jd),
          kernel->utc_julian_day(scale, &*eop, jd), kernel->ut1_julian_day(scale, *eop, jd)};
      for (const auto& result : results) {
        if (result)
          sink += *result;
        else
          ++failures;
      }
      const auto sample = eop->interpolated_sample(jd);
      if (sample)
        sink += sample->dut1_s;
      else
        ++failures;
    }
  }
  EXPECT_EQ(allocations.load() - before, 0);
  EXPECT_GT(failures, 0);  // the error paths were exercised too
  EXPECT_NE(sink, 0.0);
}
