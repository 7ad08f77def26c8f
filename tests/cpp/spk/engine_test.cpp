// The position engine on the real DE405 excerpt: option rules, time data
// requirements, the correction sequence and batch/scalar identity.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include "core/format.hpp"
#include "core/horizon.hpp"
#include "support/daf_writer.hpp"
#include "spk/spk_ephemeris.hpp"
#include "spk/interruption.hpp"
#include "spk/options.hpp"
#include "spk/pipeline.hpp"
#include "time/eop.hpp"
#include "time/leap_seconds.hpp"

using namespace tarvex;
using core::Body;
using core::CoordinateSystem;
using core::Instant;
using core::PositionOptions;
using core::ReferenceEpoch;
using core::TimeScale;
using spk::test_support::data_path;

namespace {

const std::string DE405S_SHA = "cf6891c44de2e58a73fdd2e1e0fc865f517246deed4198774e627684e4aa8e9b";
const std::string ANY_SHA(64, 'a');

spk::SpkEphemeris open_engine(bool centers, bool lsk, bool eop) {
  auto store = spk::SpkEphemeris::open(data_path("de405s.bsp"), DE405S_SHA);
  EXPECT_TRUE(store.has_value());
  if (centers) {
    auto kernel = spk::SpkKernel::open(data_path("planet_centers_1997_2010.bsp"));
    store = spk::SpkEphemeris::with_additional_kernel(std::move(*store), std::move(*kernel),
                                                      "planet_centers_1997_2010.bsp", ANY_SHA);
  }
  if (lsk) store->time().attach_leap_second_kernel(*time::LeapSecondKernel::open(data_path("naif0012.tls"), ANY_SHA));
  if (eop) store->time().attach_eop(*time::EarthOrientationTable::open(data_path("eop_c04_1962_2022.txt"), ANY_SHA));
  return std::move(*store);
}

PositionOptions apparent(CoordinateSystem system = CoordinateSystem::Ecliptic) {
  PositionOptions options;
  options.coordinate_system = system;
  options.reference_epoch = ReferenceEpoch::OfDate;
  options.apparent = true;
  return options;
}

double* room_for_nothing(std::size_t) { return nullptr; }

std::string failure(const std::expected<core::PositionOptions, core::EphemerisError>& result) {
  return result ? std::string("ok") : result.error().message();
}

}  // namespace

TEST(OptionResolution, RulesInOrder) {
  PositionOptions o;
  o.apparent = true;
  o.true_ecliptic = true;
  EXPECT_EQ(failure(spk::resolve_position_options(o)), "apparent requires reference_epoch: OfDate");

  o = {};
  o.reference_epoch = ReferenceEpoch::OfDate;
  EXPECT_EQ(failure(spk::resolve_position_options(o)), "reference_epoch: OfDate requires corrections.precession");
  o.corrections.precession = o.corrections.nutation = true;
  EXPECT_EQ(failure(spk::resolve_position_options(o)), "ecliptic-of-date with nutation requires true_ecliptic");
  o.coordinate_system = CoordinateSystem::Equatorial;
  o.true_ecliptic = true;
  EXPECT_EQ(failure(spk::resolve_position_options(o)), "true_ecliptic requires CoordinateSystem::Ecliptic");
  o.coordinate_system = CoordinateSystem::Ecliptic;
  o.corrections.nutation = false;
  EXPECT_EQ(failure(spk::resolve_position_options(o)), "true_ecliptic requires corrections.nutation");

  o = {};
  o.corrections.nutation = true;
  EXPECT_EQ(failure(spk::resolve_position_options(o)), "precession and nutation require reference_epoch: OfDate");
  o = {};
  o.true_ecliptic = true;
  o.coordinate_system = CoordinateSystem::Equatorial;
  EXPECT_EQ(failure(spk::resolve_position_options(o)), "true_ecliptic requires CoordinateSystem::Ecliptic");
  o.coordinate_system = CoordinateSystem::Ecliptic;
  EXPECT_EQ(failure(spk::resolve_position_options(o)), "true_ecliptic requires reference_epoch: OfDate");

  o = {};
  o.origin = core::Origin::topocentric({0.0, 91.0, 0.0});
  EXPECT_EQ(failure(spk::resolve_position_options(o)),
            "geodetic latitude must be finite and within [-90, 90] degrees");

  auto expanded = spk::resolve_position_options(apparent());
  ASSERT_TRUE(expanded);
  EXPECT_FALSE(expanded->apparent);
  EXPECT_TRUE(expanded->true_ecliptic);
  EXPECT_EQ(expanded->corrections, (core::Corrections{true, true, true, true, true}));
  EXPECT_FALSE(spk::resolve_position_options(apparent(CoordinateSystem::Equatorial))->true_ecliptic);
}

TEST(EngineTime, ConversionsAndMissingTimeData) {
  auto bare = open_engine(false, false, false);
  const auto& t = bare.time();
  EXPECT_EQ(*t.tdb_seconds(TimeScale::Tdb, 2451545.0), 0.0);
  EXPECT_NEAR(*t.tdb_seconds(TimeScale::Tt, 2451545.0), -7.2737e-5, 1e-8);
  EXPECT_EQ(t.tdb_seconds(TimeScale::Utc, 2451545.0).error().message(),
            "conversion from Utc to TDB is not implemented");
  EXPECT_EQ(t.tdb_seconds(TimeScale::Tt, NAN).error().message(), "Julian day must be finite");
  // The excerpt starts and ends 62.18 s after midnight (its bounds were cut in UTC).
  EXPECT_EQ(t.tdb_seconds(TimeScale::Tt, 2455199.5).error().message(),
            "Julian day 2455199.5 is outside kernel range 2450449.5007197214..2455198.500731296 Tdb");
  EXPECT_EQ(t.tdb_seconds(TimeScale::Tdb, std::nextafter(t.end_jd(), 3e6)).error().kind(),
            core::EphemerisError::Kind::OutOfRange);
  EXPECT_TRUE(t.tdb_seconds(TimeScale::Tdb, t.end_jd()));
  EXPECT_EQ(*t.instant_as_tt(TimeScale::Tdb, 2451545.25), 2451545.25);
  EXPECT_EQ(t.earth_rotation_epochs(TimeScale::Tt, 2451545.0).error().message(),
            "topocentric origins require a leap-second kernel; attach one with "
            "SpkEphemeris::with_leap_second_kernel");

  auto lsk_only = open_engine(false, true, false);
  EXPECT_EQ(lsk_only.time().tdb_seconds(TimeScale::Ut1, 2451545.0).error().message(),
            "UT1 requires an Earth orientation table (DUT1); attach one with SpkEphemeris::with_eop");
  EXPECT_EQ(lsk_only.time().earth_rotation_epochs(TimeScale::Tt, 2451545.0).error().message(),
            "topocentric origins require an Earth orientation table (DUT1); attach one with "
            "SpkEphemeris::with_eop");
  // UTC 2000-01-01 12h is TT + 64.184 s.
  EXPECT_NEAR(*lsk_only.time().instant_as_tt(TimeScale::Utc, 2451545.0), 2451545.0 + 64.184 / 86400, 1e-9);
}

TEST(EngineTime, InstantsAtTheRangeEndsGiveTheCoverageBounds) {
  auto bare = open_engine(false, false, false);
  const auto& t = bare.time();
  // The segments' own bounds, which the range's Julian days are rounded from.
  const double first_s = -94651137.81606464;
  const double last_s = 315662463.18395346;
  // Converted plainly, the range's ends lie 4 and 13 microseconds outside.
  ASSERT_LT((t.start_jd() - core::J2000_JULIAN_DAY) * core::SECONDS_PER_DAY, first_s);
  ASSERT_GT((t.end_jd() - core::J2000_JULIAN_DAY) * core::SECONDS_PER_DAY, last_s);
  EXPECT_EQ(*t.tdb_seconds(TimeScale::Tdb, t.start_jd()), first_s);
  EXPECT_EQ(*t.tdb_seconds(TimeScale::Tdb, t.end_jd()), last_s);
  // Inside, nothing moves.
  const double inside = std::nextafter(t.end_jd(), 0.0);
  EXPECT_EQ(*t.tdb_seconds(TimeScale::Tdb, inside),
            (inside - core::J2000_JULIAN_DAY) * core::SECONDS_PER_DAY);
  EXPECT_EQ(t.tdb_seconds(TimeScale::Tdb, std::nextafter(t.start_jd(), 0.0)).error().kind(),
            core::EphemerisError::Kind::OutOfRange);
  // Every body, single and batch, at both ends: tests/python/test_positions_batch.py.
}

// A single position remembers its instant's conversion; attaching other
// time kernels must not let a remembered conversion outlive them.
TEST(Position, RepeatedInstantFollowsNewTimeKernels) {
  std::ifstream in(data_path("naif0012.tls"));
  std::stringstream text;
  text << in.rdbuf();
  std::string changed = text.str();
  const std::string k_line = "DELTET/K               =    1.657D-3";
  ASSERT_NE(changed.find(k_line), std::string::npos);
  changed.replace(changed.find(k_line), k_line.size(), "DELTET/K               =    9.657D-3");
  spk::test_support::TempDir dir;
  std::ofstream(dir.file("k.tls")) << changed;

  const Instant instant{2452000.25, TimeScale::Tt};
  spk::SpkEphemeris engine = open_engine(false, false, false);
  const auto builtin = engine.position(Body::Mars, instant, apparent());
  ASSERT_TRUE(builtin);
  EXPECT_EQ(engine.position(Body::Mars, instant, apparent()), builtin);

  engine.time().attach_leap_second_kernel(*time::LeapSecondKernel::open(dir.file("k.tls"), ANY_SHA));
  const auto after = engine.position(Body::Mars, instant, apparent());
  spk::SpkEphemeris fresh = open_engine(false, false, false);
  fresh.time().attach_leap_second_kernel(*time::LeapSecondKernel::open(dir.file("k.tls"), ANY_SHA));
  EXPECT_EQ(after, fresh.position(Body::Mars, instant, apparent()));
  EXPECT_NE(after, builtin);
}

TEST(Position, IdenticalTargetsAndTopocentricEarth) {
  auto engine = open_engine(true, true, true);
  const Instant when{2451545.0, TimeScale::Tt};
  PositionOptions geocentric;
  EXPECT_EQ(engine.position(Body::Earth, when, geocentric).error().message(),
            "spherical coordinates are undefined when target and origin are identical");
  PositionOptions heliocentric;
  heliocentric.origin = core::Origin::heliocentric();
  EXPECT_EQ(engine.position(Body::Sun, when, heliocentric).error().kind(),
            core::EphemerisError::Kind::InvalidRequest);
  PositionOptions topocentric;
  topocentric.origin = core::Origin::topocentric({10.0, 45.0, 100.0});
  auto earth = engine.position(Body::Earth, when, topocentric);
  ASSERT_TRUE(earth);
  EXPECT_NEAR(earth->distance_au * core::AU_KM, 6367.5, 10.0);  // the site's distance from the geocenter
  PositionOptions barycentric;
  barycentric.origin = core::Origin::barycentric();
  EXPECT_TRUE(engine.position(Body::Sun, when, barycentric));

  auto without_centers = open_engine(false, false, false);
  EXPECT_EQ(without_centers.position(Body::Jupiter, when, geocentric).error().message(),
            "no SPK segment continues the center chain from target 599 at TDB epoch " +
                core::plain_float(*without_centers.time().tdb_seconds(TimeScale::Tt, 2451545.0)));
}

TEST(Position, CorrectionsTurnDirectionOnly) {
  auto engine = open_engine(true, false, false);
  const Instant when{2453000.5, TimeScale::Tdb};
  PositionOptions light_time;
  light_time.coordinate_system = CoordinateSystem::Equatorial;
  light_time.corrections.light_time = true;
  PositionOptions full = light_time;
  full.corrections.aberration = full.corrections.gravitational_deflection = true;
  for (Body body : {Body::Moon, Body::Mars, Body::Saturn, Body::Pluto}) {
    auto a = engine.position(body, when, light_time);
    auto b = engine.position(body, when, full);
    ASSERT_TRUE(a && b);
    EXPECT_NEAR(b->distance_au, a->distance_au, 1e-15 * a->distance_au);
    EXPECT_NE(a->longitude_deg, b->longitude_deg);
  }
  // Heliocentric requests get no deflection: deflection on or off is identical.
  PositionOptions helio = light_time;
  helio.origin = core::Origin::heliocentric();
  PositionOptions helio_deflected = helio;
  helio_deflected.corrections.gravitational_deflection = true;
  EXPECT_EQ(*engine.position(Body::Mars, when, helio), *engine.position(Body::Mars, when, helio_deflected));
}

TEST(Positions, BatchEqualsScalarBitForBit) {
  auto engine = open_engine(true, true, true);
  const std::vector<Body> bodies = {Body::Sun, Body::Moon, Body::Mercury, Body::Venus, Body::Mars,
                                    Body::Jupiter, Body::Saturn, Body::Uranus, Body::Neptune, Body::Pluto};
  const std::vector<Instant> instants = {{2450450.0, TimeScale::Tdb}, {2451545.0, TimeScale::Tt},
                                         {2453000.123, TimeScale::Utc}, {2455198.0, TimeScale::Ut1}};
  PositionOptions geometric;
  PositionOptions topocentric = apparent(CoordinateSystem::Equatorial);
  topocentric.origin = core::Origin::topocentric({-70.0, -30.0, 2500.0});
  PositionOptions mean_of_date;
  mean_of_date.reference_epoch = ReferenceEpoch::OfDate;
  mean_of_date.corrections.precession = true;
  mean_of_date.origin = core::Origin::topocentric({139.7, 35.7, 40.0});
  for (const PositionOptions& options : {geometric, apparent(), topocentric, mean_of_date}) {
    auto batch = engine.positions(bodies, instants, options);
    ASSERT_TRUE(batch) << batch.error().message();
    ASSERT_EQ(batch->size(), bodies.size() * instants.size());
    for (std::size_t i = 0; i < instants.size(); ++i) {
      for (std::size_t j = 0; j < bodies.size(); ++j) {
        EXPECT_EQ((*batch)[i * bodies.size() + j], *engine.position(bodies[j], instants[i], options));
      }
    }
  }
}

TEST(Positions, AnInterruptionStopsTheBatchAndLeavesTheEngineAsItWas) {
  auto engine = open_engine(true, true, true);
  const std::vector<Body> bodies = {Body::Sun, Body::Moon, Body::Mars, Body::Saturn};
  std::vector<Instant> instants;
  for (int i = 0; i < 3000; ++i) instants.push_back({2451000.25 + 0.37 * i, TimeScale::Tt});
  PositionOptions topocentric = apparent(CoordinateSystem::Equatorial);
  topocentric.origin = core::Origin::topocentric({-70.0, -30.0, 2500.0});
  PositionOptions geometric;
  geometric.origin = core::Origin::barycentric();
  const std::size_t work = bodies.size() * instants.size();
  for (const PositionOptions& options : {geometric, apparent(), topocentric}) {
    auto reference = engine.positions(bodies, instants, options);
    ASSERT_TRUE(reference) << reference.error().message();
    std::vector<double> out;
    auto room = [&](std::size_t count) {
      out.assign(4 * count, 0.0);
      return out.data();
    };
    // Asked regularly, at least once per INTERRUPTION_POLL_WORK positions,
    // and a stop ends the batch at once.
    for (int stop_at : {1, 2, 5}) {
      int asked = 0;
      spk::Interruption interruption([&] { return ++asked == stop_at; });
      auto stopped = engine.positions_into(bodies, instants, options, room, interruption);
      ASSERT_FALSE(stopped);
      EXPECT_TRUE(std::holds_alternative<spk::Stopped>(stopped.error()));
      EXPECT_EQ(asked, stop_at);
    }
    int asked = 0;
    spk::Interruption never([&] {
      ++asked;
      return false;
    });
    auto filled = engine.positions_into(bodies, instants, options, room, never);
    ASSERT_TRUE(filled && *filled);
    EXPECT_GE(asked, static_cast<int>(work / spk::INTERRUPTION_POLL_WORK));
    // The stopped runs left the caches consistent: the same bits as before.
    for (std::size_t k = 0; k < work; ++k) {
      const core::Position& p = (*reference)[k];
      EXPECT_EQ(out[4 * k], p.longitude_deg);
      EXPECT_EQ(out[4 * k + 1], p.latitude_deg);
      EXPECT_EQ(out[4 * k + 2], p.distance_au);
      EXPECT_EQ(out[4 * k + 3], p.longitude_speed_deg_per_day);
    }
    EXPECT_EQ(*engine.positions(bodies, instants, options), *reference);
  }
  // Errors stay errors: an interruption that never stops does not change them.
  spk::Interruption never;
  const std::vector<Instant> late = {{2451545.0, TimeScale::Tdb}, {2455300.0, TimeScale::Tdb}};
  auto failed = engine.positions_into(bodies, late, geometric, room_for_nothing, never);
  ASSERT_FALSE(failed);
  EXPECT_EQ(std::get<core::EphemerisError>(failed.error()).kind(),
            core::EphemerisError::Kind::OutOfRange);
}

TEST(Positions, AllOrNothingInOrder) {
  auto engine = open_engine(true, false, false);
  const std::vector<Body> with_earth = {Body::Mars, Body::Earth};
  const std::vector<Instant> late = {{2451545.0, TimeScale::Tdb}, {2455300.0, TimeScale::Tdb}};
  EXPECT_EQ(engine.positions(with_earth, late, {}).error().message(),
            "spherical coordinates are undefined when target and origin are identical");
  EXPECT_EQ(engine.positions(std::vector<Body>{Body::Mars}, late, {}).error().kind(),
            core::EphemerisError::Kind::OutOfRange);
  EXPECT_TRUE(engine.positions(std::vector<Body>{Body::Mars}, std::vector<Instant>{}, {})->empty());
  EXPECT_TRUE(engine.positions(std::vector<Body>{}, std::vector<Instant>{late[0]}, {})->empty());
  PositionOptions bad;
  bad.apparent = true;
  EXPECT_EQ(engine.positions(with_earth, late, bad).error().message(), "apparent requires reference_epoch: OfDate");
}
