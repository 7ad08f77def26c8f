// The store: opening with provenance and supported range, attaching
// kernels, coverage rules, and center chains across kernels with their
// precedence and failures.
#include "spk/center_chain.hpp"
#include "spk/coverage.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <regex>

#include "core/format.hpp"
#include "support/daf_writer.hpp"
#include "spk/spk_ephemeris.hpp"

using namespace tarvex::spk;
using namespace tarvex::spk::test_support;
using tarvex::core::EphemerisError;

namespace {

const std::string DE405S_SHA = "cf6891c44de2e58a73fdd2e1e0fc865f517246deed4198774e627684e4aa8e9b";
const std::string CENTERS_SHA = "e81041b8db10255109726930c6affe2ebc7d952257b445f8521d09ae6c21c3bf";

// A constant-offset segment: target sits at (x, y, z) km from its center
// over [start, end], one record.
TestSegment offset_segment(std::int32_t target, std::int32_t center, double start, double end,
                           double x, double y = 0.0, double z = 0.0) {
  return {"S",
          start,
          end,
          target,
          center,
          1,
          2,
          type2_words(start, end - start,
                      {{std::vector<double>{x}, std::vector<double>{y}, std::vector<double>{z}}})};
}

class StoreFiles : public ::testing::Test {
 protected:
  std::string write(DafWriter writer, std::string_view name) {
    const std::string path = dir.file(name);
    writer.build().write(path);
    return path;
  }
  std::string open_error(DafWriter writer) {
    auto store = SpkEphemeris::open(write(std::move(writer), "p.bsp"), DE405S_SHA);
    return store ? "opened" : store.error().message();
  }
  SpkEphemeris open_with(std::vector<TestSegment> primary,
                         std::vector<TestSegment> additional = {}) {
    DafWriter p;
    p.segments = std::move(primary);
    auto store = SpkEphemeris::open(write(p, "p.bsp"), std::string(64, 'A'));
    EXPECT_TRUE(store) << store.error().message();
    if (additional.empty()) return std::move(*store);
    DafWriter a;
    a.segments = std::move(additional);
    auto kernel = SpkKernel::open(write(a, "a.bsp"));
    EXPECT_TRUE(kernel);
    auto attached = SpkEphemeris::with_additional_kernel(std::move(*store), std::move(*kernel),
                                                         "a.bsp", std::string(64, 'b'));
    EXPECT_TRUE(attached) << attached.error().message();
    return std::move(*attached);
  }
  static std::string x_or_error(const SpkEphemeris& store, std::int32_t target, double epoch) {
    KernelGuard kernels = store.borrow_kernels();
    auto state = barycentric_state_across_kernels(*kernels, target, epoch);
    return state ? tarvex::core::plain_float(state->position[0]) : state.error().message();
  }
  TempDir dir;
};

}  // namespace

TEST(Store, OpensDe405sWithProvenanceAndRange) {
  const std::string upper = "CF6891C44DE2E58A73FDD2E1E0FC865F517246DEED4198774E627684E4AA8E9B";
  auto store = SpkEphemeris::open(data_path("de405s.bsp"), upper);
  ASSERT_TRUE(store) << store.error().message();
  // The segments start and end about 62 s after 0h of 1997-01-01 and
  // 2010-01-01 TDB; the range is their exact common coverage.
  const SupportedRange& range = store->supported_range();
  EXPECT_EQ(range.start_julian_day, -94651137.81606464 / 86400.0 + 2451545.0);
  EXPECT_EQ(range.end_julian_day, 315662463.18395346 / 86400.0 + 2451545.0);
  EXPECT_NEAR(range.start_julian_day, 2450449.5, 1e-3);
  EXPECT_NEAR(range.end_julian_day, 2455198.5, 1e-3);
  EXPECT_EQ(range.time_scale, tarvex::core::TimeScale::Tdb);
  const auto& m = store->metadata();
  EXPECT_EQ(m.engine_version, "0.1.0");
  EXPECT_EQ(m.kernel_name, "de405s.bsp");
  EXPECT_EQ(m.kernel_sha256, DE405S_SHA);
  EXPECT_EQ(m.coordinate_frame, "ICRF/J2000");
  EXPECT_TRUE(m.additional_kernels.empty());
}

TEST(Store, OpeningFailuresInOrder) {
  EXPECT_EQ(SpkEphemeris::open("../shared/data/..", DE405S_SHA).error().message(),
            "kernel path has no UTF-8 filename");
  EXPECT_EQ(SpkEphemeris::open("/tmp/\xFF.bsp", "x").error().message(),
            "kernel path has no UTF-8 filename");
  // A bad file is reported before a bad checksum.
  EXPECT_EQ(SpkEphemeris::open(data_path("de405s_legacy_id.bsp"), "x").error(),
            EphemerisError::computation("expected DAF/SPK file identifier, found \"NAIF/DAF\""));
  for (const std::string& bad :
       {std::string(63, 'a'), std::string(65, 'a'), std::string(63, 'a') + "g"}) {
    EXPECT_EQ(SpkEphemeris::open(data_path("de405s.bsp"), bad).error(),
              EphemerisError::computation(
                  "kernel SHA-256 must contain exactly 64 hexadecimal characters"));
  }
  const std::string gap =
      SpkEphemeris::open(data_path("allspk_littleendian.bsp"), DE405S_SHA).error().message();
  EXPECT_TRUE(
      std::regex_match(gap, std::regex("SPK target -?[0-9]+ has discontinuous segment coverage")))
      << gap;
}

TEST_F(StoreFiles, CoverageRules) {
  DafWriter empty;
  EXPECT_EQ(open_error(empty), "SPK kernel has no segments");
  DafWriter gap;
  gap.segments = {offset_segment(5, 0, 0, 100, 1), offset_segment(5, 0, 101, 200, 1),
                  offset_segment(6, 0, 0, 200, 1)};
  EXPECT_EQ(open_error(gap), "SPK target 5 has discontinuous segment coverage");
  DafWriter disjoint;
  disjoint.segments = {offset_segment(5, 0, 0, 100, 1), offset_segment(6, 0, 100.5, 200, 1)};
  EXPECT_EQ(open_error(disjoint), "SPK targets have no common coverage interval");
  // Sorted by start, touching and overlapping intervals join; a single
  // common instant is a valid range; every target narrows it.
  const std::vector<TestSegment> joined{
      offset_segment(5, 0, 50, 200, 1), offset_segment(5, 0, 0, 50, 1),
      offset_segment(5, 0, 10, 20, 1), offset_segment(6, 0, 200, 300, 1)};
  EXPECT_EQ(common_contiguous_coverage(std::vector<SpkSegment>{}).error().message(),
            "SPK kernel has no segments");
  DafWriter touching;
  touching.segments = joined;
  auto kernel = SpkKernel::open(write(touching, "t.bsp"));
  ASSERT_TRUE(kernel);
  EXPECT_EQ(common_contiguous_coverage(*kernel->segments()), (std::pair{200.0, 200.0}));
  auto store = SpkEphemeris::open(dir.file("t.bsp"), DE405S_SHA);
  ASSERT_TRUE(store);
  EXPECT_EQ(store->supported_range().start_julian_day, 200.0 / 86400.0 + 2451545.0);
}

TEST_F(StoreFiles, ChainsSumLinksAndFollowPrecedence) {
  SpkEphemeris store = open_with(
      {offset_segment(3, 0, 0, 1000, 1000), offset_segment(301, 3, 0, 1000, 10),
       offset_segment(5, 0, 0, 1000, 5), offset_segment(5, 0, 0, 1000, 50),  // later segment wins
       offset_segment(4, 0, 0, 1000, 4), offset_segment(7, 0, 400, 600, 7)},
      {offset_segment(5, 0, 0, 1000, 500), offset_segment(499, 4, 0, 1000, 0.5),
       offset_segment(7, 0, -1000, 2000, 70), offset_segment(8, 0, 0, 1000, 8, 0, 0)});
  EXPECT_EQ(x_or_error(store, 301, 500), "1010");
  EXPECT_EQ(x_or_error(store, 5, 500), "50");     // primary wins over the additional kernel
  EXPECT_EQ(x_or_error(store, 499, 500), "4.5");  // first link additional, second primary
  EXPECT_EQ(x_or_error(store, 7, 600), "7");      // the primary's end epoch is inside
  EXPECT_EQ(x_or_error(store, 7, 600.5), "70");
  EXPECT_EQ(x_or_error(store, 7, -10), "70");
  EXPECT_EQ(x_or_error(store, 5, 1000.5),
            "no SPK segment continues the center chain from target 5 at TDB epoch 1000.5");
  EXPECT_EQ(x_or_error(store, 301, 1001),
            "no SPK segment continues the center chain from target 301 at TDB epoch 1001");
  EXPECT_EQ(x_or_error(store, 10, 0),
            "no SPK segment continues the center chain from target 10 at TDB epoch 0");
  EXPECT_EQ(x_or_error(store, 5, std::numeric_limits<double>::quiet_NaN()),
            "no SPK segment continues the center chain from target 5 at TDB epoch NaN");
  // The supported range stays the primary's common coverage.
  EXPECT_EQ(store.supported_range().start_julian_day, 400.0 / 86400.0 + 2451545.0);
  EXPECT_EQ(store.supported_range().end_julian_day, 600.0 / 86400.0 + 2451545.0);
  ASSERT_EQ(store.metadata().additional_kernels.size(), 1u);
  EXPECT_EQ(store.metadata().additional_kernels[0],
            (tarvex::core::KernelProvenance{"a.bsp", std::string(64, 'b')}));

  // Many epochs, each its own chain, groups per segment, results in order.
  KernelGuard kernels = store.borrow_kernels();
  const std::vector<double> epochs{600.5, 500, -10, 600, 550};
  auto states = barycentric_states_across_kernels(*kernels, 7, epochs);
  ASSERT_TRUE(states) << states.error().message();
  std::vector<double> xs;
  for (const auto& s : *states) xs.push_back(s.position[0]);
  EXPECT_EQ(xs, (std::vector<double>{70, 7, 70, 7, 7}));
  auto moon = barycentric_states_across_kernels(*kernels, 301, epochs);
  EXPECT_EQ(moon.error().message(),
            "no SPK segment continues the center chain from target 301 at TDB epoch -10");
  auto bary = barycentric_states_across_kernels(*kernels, 0, std::vector<double>{-1e30, 5});
  EXPECT_EQ(*bary, std::vector<tarvex::core::CartesianState>(2));
  EXPECT_EQ(barycentric_states_across_kernels(*kernels, 5, {})->size(), 0u);
}

TEST_F(StoreFiles, CyclesAndUnsupportedTypes) {
  TestSegment type3 = offset_segment(9, 0, 0, 1000, 9);
  type3.data_type = 3;
  TestSegment broken = offset_segment(11, 0, 0, 1000, 1);
  broken.data[broken.data.size() - 2] = 7.0;  // RSIZE
  SpkEphemeris store = open_with(
      {offset_segment(5, 6, 0, 1000, 1), offset_segment(6, 5, 0, 1000, 1),
       offset_segment(10, 0, 0, 1000, 1), type3, offset_segment(199, 9, 0, 1000, 1), broken});
  EXPECT_EQ(x_or_error(store, 5, 10), "SPK center chain for target 5 contains a cycle");
  EXPECT_EQ(x_or_error(store, 9, 10), "unsupported SPK segment type 3");
  EXPECT_EQ(x_or_error(store, 199, 10), "unsupported SPK segment type 3");
  KernelGuard kernels = store.borrow_kernels();
  EXPECT_EQ(
      barycentric_states_across_kernels(*kernels, 6, std::vector<double>{1, 2}).error().message(),
      "SPK center chain for target 6 contains a cycle");
  EXPECT_EQ(
      barycentric_states_across_kernels(*kernels, 199, std::vector<double>{1, 2}).error().message(),
      "unsupported SPK segment type 3");
  EXPECT_EQ(barycentric_states_across_kernels(*kernels, 10, std::vector<double>{1, 2})->size(), 2u);
  // A Type 2 failure inside a link comes through unchanged.
  EXPECT_EQ(
      barycentric_states_across_kernels(*kernels, 11, std::vector<double>{1, 2}).error().message(),
      "invalid SPK Type 2 segment: record size does not describe three equal coefficient sets");
}

TEST_F(StoreFiles, AttachingChecksBeforeAppending) {
  SpkEphemeris store = open_with({offset_segment(5, 0, 0, 1000, 1)});
  DafWriter bad;
  bad.segments = {offset_segment(5, 0, 0, 1000, 1)};
  DafImage image = bad.build();
  image.set_f64(DafImage::record_word(2, 2), 26.0);
  image.write(dir.file("bad.bsp"));
  auto checksum = SpkEphemeris::with_additional_kernel(
      std::move(store), std::move(*SpkKernel::open(dir.file("bad.bsp"))), "bad.bsp", "zz");
  EXPECT_EQ(checksum.error().message(),
            "kernel SHA-256 must contain exactly 64 hexadecimal characters");
  SpkEphemeris again = open_with({offset_segment(5, 0, 0, 1000, 1)});
  auto listing = SpkEphemeris::with_additional_kernel(
      std::move(again), std::move(*SpkKernel::open(dir.file("bad.bsp"))), "bad.bsp",
      std::string(64, '0'));
  EXPECT_EQ(listing.error().message(),
            "invalid DAF summary chain: summary count exceeds record capacity");
}

TEST(Store, NestedUseOfTheKernelListIsDetected) {
  auto store = SpkEphemeris::open(data_path("de405s.bsp"), DE405S_SHA);
  ASSERT_TRUE(store);
  {
    KernelGuard outer = store->borrow_kernels();
    EXPECT_THROW((void)store->borrow_kernels(), KernelListBusy);
    EXPECT_FALSE(store->try_borrow_kernels().has_value());
    // A moved store keeps the guard valid: the list lives behind a pointer.
    SpkEphemeris moved = std::move(*store);
    EXPECT_THROW((void)moved.borrow_kernels(), KernelListBusy);
    EXPECT_EQ(outer->size(), 1u);
    *store = std::move(moved);
  }
  EXPECT_TRUE(store->try_borrow_kernels().has_value());
}

TEST(Store, OuterPlanetsNeedThePlanetCenterKernel) {
  auto store = SpkEphemeris::open(data_path("de405s.bsp"), DE405S_SHA);
  ASSERT_TRUE(store);
  const double epoch = 3e8;
  {
    KernelGuard kernels = store->borrow_kernels();
    EXPECT_EQ(barycentric_state_across_kernels(*kernels, 599, epoch).error().message(),
              "no SPK segment continues the center chain from target 599 at TDB epoch 300000000");
  }
  auto centers = SpkKernel::open(data_path("planet_centers_1997_2010.bsp"));
  ASSERT_TRUE(centers);
  auto attached = SpkEphemeris::with_additional_kernel(std::move(*store), std::move(*centers),
                                                       "planet_centers_1997_2010.bsp", CENTERS_SHA);
  ASSERT_TRUE(attached) << attached.error().message();
  EXPECT_NEAR(attached->supported_range().start_julian_day, 2450449.5, 1e-3);
  KernelGuard kernels = attached->borrow_kernels();
  auto jupiter = barycentric_state_across_kernels(*kernels, 599, epoch);
  auto barycenter = barycentric_state_across_kernels(*kernels, 5, epoch);
  ASSERT_TRUE(jupiter && barycenter);
  EXPECT_EQ(*jupiter, *barycenter);  // zero offset: 599 -> 5 (additional) -> 0 (primary)
}

TEST(Store, MarsSatelliteKernelRefusesType3) {
  auto kernel = SpkKernel::open(data_path("mar022-1.bsp"));
  ASSERT_TRUE(kernel);
  auto segments = kernel->segments();
  ASSERT_TRUE(segments);
  KernelList kernels;
  kernels.push_back(std::move(*kernel));
  double epoch = 0;
  for (const auto& s : *segments) {
    if (s.target == 499) epoch = (s.start_epoch + s.end_epoch) / 2;
  }
  EXPECT_EQ(barycentric_state_across_kernels(kernels, 499, epoch).error().message(),
            "unsupported SPK segment type 3");
  // Its Type 2 segments are in the DE-125 frame: the strict rules refuse
  // them naming the frame, where they used to answer unrotated...
  EXPECT_EQ(barycentric_state_across_kernels(kernels, 4, epoch).error().message(),
            "SPK segment for target 4 is in reference frame DE-125 (11), which this engine "
            "cannot rotate to J2000");
  // ...and the toolkit's rules rotate them (read in big-endian order).
  kernels[0].set_segment_rules(SegmentRules::AnyType);
  EXPECT_TRUE(barycentric_state_across_kernels(kernels, 4, epoch));
  EXPECT_TRUE(barycentric_state_across_kernels(kernels, 499, epoch));
  EXPECT_EQ(reject_identical_target_and_center(399, 399).error(),
            EphemerisError::invalid_request(
                "spherical coordinates are undefined when target and origin are identical"));
  EXPECT_TRUE(reject_identical_target_and_center(399, 10));
  EXPECT_EQ(tarvex::spk::spk_ephemeris_error(SpkError::unsupported_segment_type(-3)),
            EphemerisError::computation("unsupported SPK segment type -3"));
}
