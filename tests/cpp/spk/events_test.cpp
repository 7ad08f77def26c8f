// Season and lunation searches, rise/set/transit, horizon events and
// sidereal positions on the real DE405 excerpt. Agreement with an external
// almanac is checked from Python; here: the rules around the start instant,
// self-consistency of the results with the quantities they solve for, and
// every message.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <variant>

#include "core/angles.hpp"
#include "core/horizon.hpp"
#include "core/observer.hpp"
#include "core/sidereal.hpp"
#include "support/daf_writer.hpp"
#include "spk/spk_ephemeris.hpp"
#include "spk/horizon_events.hpp"
#include "spk/interruption.hpp"
#include "spk/search.hpp"
#include "time/eop.hpp"
#include "time/leap_seconds.hpp"

using namespace tarvex;
using core::Body;
using core::EphemerisError;
using core::GeodeticObserver;
using core::HorizonEventKind;
using core::Instant;
using core::TimeScale;
using spk::test_support::data_path;

namespace {

const std::string DE405S_SHA = "cf6891c44de2e58a73fdd2e1e0fc865f517246deed4198774e627684e4aa8e9b";
const std::string ANY_SHA(64, 'a');
constexpr double SECOND_DAYS = 1.0 / 86400.0;

spk::SpkEphemeris open_engine(bool lsk, bool eop) {
  auto store = spk::SpkEphemeris::open(data_path("de405s.bsp"), DE405S_SHA);
  EXPECT_TRUE(store.has_value());
  if (lsk)
    store->time().attach_leap_second_kernel(
        *time::LeapSecondKernel::open(data_path("naif0012.tls"), ANY_SHA));
  if (eop)
    store->time().attach_eop(
        *time::EarthOrientationTable::open(data_path("eop_c04_1962_2022.txt"), ANY_SHA));
  return std::move(*store);
}

const spk::SpkEphemeris& full_engine() {
  static const spk::SpkEphemeris engine = open_engine(true, true);
  return engine;
}

core::PositionOptions apparent_ecliptic_of_date() {
  core::PositionOptions options;
  options.reference_epoch = core::ReferenceEpoch::OfDate;
  options.apparent = true;
  return options;
}

template <class T>
std::string error_text(const std::expected<T, EphemerisError>& result) {
  return result ? std::string("ok") : result.error().message();
}

double sun_longitude(const spk::SpkEphemeris& engine, Instant instant) {
  return engine.position(Body::Sun, instant, apparent_ecliptic_of_date())->longitude_deg;
}

double elongation(const spk::SpkEphemeris& engine, Instant instant) {
  auto sample = spk::sample_searched_quantity(engine, spk::SearchedQuantity::SunMoonElongation,
                                              instant.time_scale, instant.julian_day);
  return sample->angle_deg;
}

// Signed distance of an angle from a target, degrees in (-180, 180].
double off_by(double angle_deg, double target_deg) {
  return std::remainder(angle_deg - target_deg, 360.0);
}

// Apparent topocentric altitude in degrees and hour angle in radians, from
// the same place and sidereal time the refinement uses.
struct Horizontal {
  double altitude_deg;
  double hour_angle_rad;
};
Horizontal horizontal(const spk::SpkEphemeris& engine, Body body, const GeodeticObserver& site,
                      double ut1) {
  auto place = spk::horizon_place(engine, body, site, ut1);
  auto epochs = engine.time().earth_rotation_epochs(TimeScale::Ut1, ut1);
  const double theta = core::local_apparent_sidereal_time_iau2006(
      site.longitude_east_deg * core::DEG_TO_RAD, epochs->first, epochs->second);
  const double h = std::remainder(theta - place->first * core::DEG_TO_RAD, core::TWO_PI_RAD);
  const double phi = site.latitude_deg * core::DEG_TO_RAD;
  const double delta = place->second * core::DEG_TO_RAD;
  const double sin_alt =
      std::sin(phi) * std::sin(delta) + std::cos(phi) * std::cos(delta) * std::cos(h);
  return {std::asin(sin_alt) * core::RAD_TO_DEG, h};
}

const GeodeticObserver LONDON{-0.1275, 51.5072, 11.0};
const GeodeticObserver TROMSO{18.95, 69.65, 0.0};
const GeodeticObserver NORTH_POLE{0.0, 90.0, 0.0};

}  // namespace

// --- Seasons and lunations -------------------------------------------------

TEST(SeasonSearch, FindsEachEventOnTheTargetLongitude) {
  const auto& engine = full_engine();
  const Instant start{2451545.0, TimeScale::Tt};
  // The year 2000: March equinox 20 Mar 07:35 UT, December solstice 21 Dec 13:37 UT.
  const double targets[] = {0.0, 90.0, 180.0, 270.0};
  const double expected_tt[] = {2451623.81688, 2451716.57553, 2451810.22824, 2451900.06840};
  for (int i = 0; i < 4; ++i) {
    auto event = spk::next_sun_longitude(engine, start, targets[i], spk::SEASON_PERIOD_DAYS);
    ASSERT_TRUE(event) << event.error().message();
    EXPECT_EQ(event->time_scale, TimeScale::Tt);
    EXPECT_NEAR(event->julian_day, expected_tt[i], 2 * SECOND_DAYS) << targets[i];
    // Newton's last step was below 1e-10 days; the Sun moves 1e-10 degrees in that.
    EXPECT_NEAR(off_by(sun_longitude(engine, *event), targets[i]), 0.0, 1e-8);
  }
}

TEST(SeasonSearch, AnEventAtTheStartIsNotReturned) {
  const auto& engine = full_engine();
  auto equinox =
      spk::next_sun_longitude(engine, {2451545.0, TimeScale::Tt}, 0.0, spk::SEASON_PERIOD_DAYS);
  ASSERT_TRUE(equinox);
  auto next = spk::next_sun_longitude(engine, *equinox, 0.0, spk::SEASON_PERIOD_DAYS);
  ASSERT_TRUE(next);
  EXPECT_NEAR(next->julian_day - equinox->julian_day, 365.24, 0.02);

  // Half a second after an event is still "not after" it; the margin is one second.
  auto just_after =
      spk::next_sun_longitude(engine, {equinox->julian_day + 0.5 * SECOND_DAYS, TimeScale::Tt}, 0.0,
                              spk::SEASON_PERIOD_DAYS);
  ASSERT_TRUE(just_after);
  EXPECT_NEAR(just_after->julian_day, next->julian_day, 1e-6);
}

TEST(SeasonSearch, DecemberSolsticeFromLateDecemberIsNextYears) {
  const auto& engine = full_engine();
  // 28 Dec 2005, a week after that year's solstice (21 Dec 18:35 UT).
  auto solstice =
      spk::next_sun_longitude(engine, {2453732.5, TimeScale::Tt}, 270.0, spk::SEASON_PERIOD_DAYS);
  ASSERT_TRUE(solstice);
  // 22 Dec 2006 00:22 UT.
  EXPECT_NEAR(solstice->julian_day, 2454091.516, 0.002);
}

TEST(SeasonSearch, ResultIsTtWhateverTheStartScale) {
  const auto& engine = full_engine();
  auto from_tt =
      spk::next_sun_longitude(engine, {2451545.0, TimeScale::Tt}, 90.0, spk::SEASON_PERIOD_DAYS);
  auto from_utc =
      spk::next_sun_longitude(engine, {2451545.0, TimeScale::Utc}, 90.0, spk::SEASON_PERIOD_DAYS);
  auto from_ut1 =
      spk::next_sun_longitude(engine, {2451545.0, TimeScale::Ut1}, 90.0, spk::SEASON_PERIOD_DAYS);
  auto from_tdb =
      spk::next_sun_longitude(engine, {2451545.0, TimeScale::Tdb}, 90.0, spk::SEASON_PERIOD_DAYS);
  for (const auto* event : {&from_tt, &from_utc, &from_ut1, &from_tdb}) {
    ASSERT_TRUE(*event) << (*event).error().message();
    EXPECT_EQ((*event)->time_scale, TimeScale::Tt);
    // The same physical event: the scales only change how the search counts days.
    EXPECT_NEAR((*event)->julian_day, from_tt->julian_day, 1e-7);
  }
}

TEST(LunationSearch, OneMinuteBeforeANewMoonFindsIt) {
  const auto& engine = full_engine();
  auto new_moon = spk::next_sun_moon_elongation(engine, {2453374.5, TimeScale::Tt}, 0.0,
                                                spk::LUNATION_PERIOD_DAYS);
  ASSERT_TRUE(new_moon);
  EXPECT_NEAR(new_moon->julian_day, 2453381.00270, 2 * SECOND_DAYS);  // 10 Jan 2005 12:03 UT
  EXPECT_NEAR(off_by(elongation(engine, *new_moon), 0.0), 0.0, 1e-8);

  const Instant minute_before{new_moon->julian_day - 60 * SECOND_DAYS, TimeScale::Tt};
  auto again = spk::next_sun_moon_elongation(engine, minute_before, 0.0, spk::LUNATION_PERIOD_DAYS);
  ASSERT_TRUE(again);
  EXPECT_NEAR((again->julian_day - minute_before.julian_day) * 86400, 60.0, 1e-3);

  auto full = spk::next_sun_moon_elongation(engine, *new_moon, 180.0, spk::LUNATION_PERIOD_DAYS);
  ASSERT_TRUE(full);
  EXPECT_NEAR(full->julian_day, 2453395.93987, 2 * SECOND_DAYS);
  auto next_new = spk::next_sun_moon_elongation(engine, *new_moon, 0.0, spk::LUNATION_PERIOD_DAYS);
  ASSERT_TRUE(next_new);
  EXPECT_NEAR(next_new->julian_day, 2453410.43688, 2 * SECOND_DAYS);
}

TEST(Search, Failures) {
  auto bare = open_engine(false, false);
  // Without a leap-second kernel a UTC start fails at the first position.
  EXPECT_EQ(error_text(spk::next_sun_longitude(bare, {2451545.0, TimeScale::Utc}, 0.0,
                                               spk::SEASON_PERIOD_DAYS)),
            "conversion from Utc to TDB is not implemented");
  EXPECT_EQ(error_text(spk::next_sun_moon_elongation(bare, {2451545.0, TimeScale::Ut1}, 0.0,
                                                     spk::LUNATION_PERIOD_DAYS)),
            "conversion from Ut1 to TDB is not implemented");
  // TT and TDB starts need no time data at all.
  EXPECT_TRUE(
      spk::next_sun_longitude(bare, {2451545.0, TimeScale::Tdb}, 0.0, spk::SEASON_PERIOD_DAYS));

  // The search runs past the end of the kernel (the March equinox of 2010).
  auto past_end =
      spk::next_sun_longitude(bare, {2455000.5, TimeScale::Tt}, 0.0, spk::SEASON_PERIOD_DAYS);
  ASSERT_FALSE(past_end);
  EXPECT_EQ(past_end.error().kind(), EphemerisError::Kind::OutOfRange);
  EXPECT_TRUE(past_end.error().message().ends_with(
      " is outside kernel range 2450449.5007197214..2455198.500731296 Tdb"));
  // A start outside the range fails at once.
  EXPECT_EQ(
      spk::next_sun_moon_elongation(bare, {2440000.5, TimeScale::Tt}, 0.0, 29.5).error().message(),
      "Julian day 2440000.5 is outside kernel range 2450449.5007197214..2455198.500731296 Tdb");
  EXPECT_EQ(spk::next_sun_longitude(bare, {NAN, TimeScale::Tt}, 0.0, 365.0).error().message(),
            "Julian day must be finite");
}

TEST(Search, MotionlessBodiesCannotBeSearched) {
  // A kernel in which nothing moves: the Sun at the barycenter, the Earth
  // one au away, the Moon beyond it. Both speeds are zero.
  using namespace spk::test_support;
  TempDir dir;
  const double start = -1e8, end = 1e8;
  auto still = [&](std::int32_t target, std::int32_t center, double x) {
    return TestSegment{"S",
                       start,
                       end,
                       target,
                       center,
                       1,
                       2,
                       type2_words(start, end - start,
                                   {{std::vector<double>{x}, std::vector<double>{0.0},
                                     std::vector<double>{0.0}}})};
  };
  DafWriter writer;
  writer.segments = {still(10, 0, 0.0), still(3, 0, core::AU_KM), still(399, 3, 0.0),
                     still(301, 3, 384400.0)};
  const std::string path = dir.file("still.bsp");
  writer.build().write(path);
  auto engine = spk::SpkEphemeris::open(path, ANY_SHA);
  ASSERT_TRUE(engine) << engine.error().message();
  const std::string message = "longitude speed is too small to search for the event";
  EXPECT_EQ(error_text(spk::next_sun_longitude(*engine, {2451545.0, TimeScale::Tt}, 0.0, 365.0)),
            message);
  EXPECT_EQ(
      error_text(spk::next_sun_moon_elongation(*engine, {2451545.0, TimeScale::Tt}, 0.0, 29.5)),
      message);
  EXPECT_EQ(error_text(spk::newton_longitude_zero(*engine, spk::SearchedQuantity::SunLongitude,
                                                  TimeScale::Tt, 2451545.0, 0.0)),
            message);
}

// --- Rise, set and transit --------------------------------------------------

TEST(RiseSetTransit, EventsSitOnTheAltitudeAndTheMeridian) {
  const auto& engine = full_engine();
  struct Case {
    Body body;
    GeodeticObserver site;
    double around_ut1;
    double altitude_deg;
  };
  const Case cases[] = {
      {Body::Sun, LONDON, 2451545.0, core::SUN_UPPER_LIMB_ALTITUDE_DEG},
      {Body::Moon, LONDON, 2453381.0, core::MEAN_REFRACTION_ALTITUDE_DEG},
      {Body::Moon, {-70.0, -33.4, 500.0}, 2452000.3, core::MEAN_REFRACTION_ALTITUDE_DEG},
      {Body::Sun, TROMSO, 2452000.0, 0.0},
  };
  for (const auto& c : cases) {
    auto day = spk::rise_set_transit(engine, c.body, c.site, {c.around_ut1, TimeScale::Ut1},
                                     c.altitude_deg);
    ASSERT_TRUE(day) << day.error().message();
    ASSERT_TRUE(day->rise_ut1_julian_day && day->set_ut1_julian_day);
    // The transit nearest the instant, the rise before it, the set after it.
    EXPECT_LT(std::fabs(day->transit_ut1_julian_day - c.around_ut1), 0.52);
    EXPECT_LT(*day->rise_ut1_julian_day, day->transit_ut1_julian_day);
    EXPECT_GT(*day->set_ut1_julian_day, day->transit_ut1_julian_day);
    // Eight passes leave the hour-angle error far below a second of time
    // (1e-5 rad); the Moon at rise climbs about 0.2 degrees a minute.
    EXPECT_NEAR(horizontal(engine, c.body, c.site, day->transit_ut1_julian_day).hour_angle_rad, 0.0,
                1e-7);
    EXPECT_NEAR(horizontal(engine, c.body, c.site, *day->rise_ut1_julian_day).altitude_deg,
                c.altitude_deg, 1e-5);
    EXPECT_NEAR(horizontal(engine, c.body, c.site, *day->set_ut1_julian_day).altitude_deg,
                c.altitude_deg, 1e-5);
  }
}

TEST(RiseSetTransit, NoCrossingGivesTransitOnly) {
  const auto& engine = full_engine();
  // Midsummer 2005 north of the Arctic circle, and the Sun at the pole.
  for (const auto& site : {TROMSO, NORTH_POLE}) {
    auto day = spk::rise_set_transit(engine, Body::Sun, site, {2453543.0, TimeScale::Ut1},
                                     core::SUN_UPPER_LIMB_ALTITUDE_DEG);
    ASSERT_TRUE(day) << day.error().message();
    EXPECT_FALSE(day->rise_ut1_julian_day);
    EXPECT_FALSE(day->set_ut1_julian_day);
    EXPECT_TRUE(std::isfinite(day->transit_ut1_julian_day));
  }
  // Midwinter at the pole: always below, again transit only.
  auto night =
      spk::rise_set_transit(engine, Body::Sun, NORTH_POLE, {2453726.0, TimeScale::Ut1}, 0.0);
  ASSERT_TRUE(night);
  EXPECT_FALSE(night->rise_ut1_julian_day);
  // A rise refinement where the Sun never sets.
  EXPECT_EQ(error_text(spk::refine_horizon_event(engine, Body::Sun, TROMSO, HorizonEventKind::Rise,
                                                 2453543.0, core::SUN_UPPER_LIMB_ALTITUDE_DEG)),
            "body does not cross the requested altitude");
}

TEST(RiseSetTransit, ChecksInOrder) {
  auto bare = open_engine(false, false);
  const Instant around{2451545.0, TimeScale::Tt};
  // The body comes first, before the altitude and before any time data.
  EXPECT_EQ(error_text(spk::rise_set_transit(bare, Body::Mars, LONDON, around, NAN)),
            "unsupported body: Mars");
  EXPECT_EQ(error_text(spk::rise_set_transit(bare, Body::Earth, LONDON, around, 0.0)),
            "unsupported body: Earth");
  for (double altitude : {NAN, INFINITY, -INFINITY})
    EXPECT_EQ(error_text(spk::rise_set_transit(bare, Body::Sun, LONDON, around, altitude)),
              "horizon altitude must be finite");
  EXPECT_EQ(error_text(spk::rise_set_transit(bare, Body::Sun, {0.0, 90.5, 0.0}, around, 0.0)),
            "geodetic latitude must be finite and within [-90, 90] degrees");
  EXPECT_EQ(error_text(spk::rise_set_transit(bare, Body::Sun, {NAN, 10.0, 0.0}, around, 0.0)),
            "Cartesian state must be finite");
  // Every horizon service needs both time kernels, whatever the scale.
  EXPECT_EQ(error_text(spk::rise_set_transit(bare, Body::Moon, LONDON, around, 0.0)),
            "topocentric origins require a leap-second kernel; attach one with "
            "SpkEphemeris::with_leap_second_kernel");
  auto lsk_only = open_engine(true, false);
  EXPECT_EQ(
      error_text(spk::next_horizon_event(lsk_only, Body::Sun, LONDON, {2451545.0, TimeScale::Utc},
                                         HorizonEventKind::Rise, 0.0)),
      "topocentric origins require an Earth orientation table (DUT1); attach one with "
      "SpkEphemeris::with_eop");

  // The day around an instant past the end of the kernel.
  const auto& engine = full_engine();
  auto late = spk::rise_set_transit(engine, Body::Sun, LONDON, {2455198.6, TimeScale::Ut1}, 0.0);
  ASSERT_FALSE(late);
  EXPECT_EQ(late.error().kind(), EphemerisError::Kind::OutOfRange);
  EXPECT_EQ(
      late.error().message(),
      "Julian day 2455198.6 is outside kernel range 2450449.5007197214..2455198.500731296 Tdb");
}

// --- Next horizon event -----------------------------------------------------

TEST(NextHorizonEvent, StrictlyAfterTheQueryByOneSecond) {
  const auto& engine = full_engine();
  for (Body body : {Body::Sun, Body::Moon}) {
    auto first = spk::next_horizon_event(engine, body, LONDON, {2452000.3, TimeScale::Ut1},
                                         HorizonEventKind::Transit, 0.0);
    ASSERT_TRUE(first) << first.error().message();
    EXPECT_EQ(first->kind, HorizonEventKind::Transit);
    EXPECT_GT(first->ut1_julian_day, 2452000.3);

    // Asked at the transit itself, and half a second before it: the next one.
    const double expected_gap = body == Body::Sun ? 1.0 : 1.035;
    for (double offset : {0.0, -0.5 * SECOND_DAYS}) {
      auto next = spk::next_horizon_event(engine, body, LONDON,
                                          {first->ut1_julian_day + offset, TimeScale::Ut1},
                                          HorizonEventKind::Transit, 0.0);
      ASSERT_TRUE(next);
      EXPECT_NEAR(next->ut1_julian_day - first->ut1_julian_day, expected_gap, 0.03);
    }
    // Two seconds before it: that transit.
    auto same = spk::next_horizon_event(engine, body, LONDON,
                                        {first->ut1_julian_day - 2 * SECOND_DAYS, TimeScale::Ut1},
                                        HorizonEventKind::Transit, 0.0);
    ASSERT_TRUE(same);
    EXPECT_NEAR(same->ut1_julian_day, first->ut1_julian_day, 1e-8);
  }
}

TEST(NextHorizonEvent, RiseAndSetMatchTheDay) {
  const auto& engine = full_engine();
  const Instant after{2453381.0, TimeScale::Utc};
  auto rise = spk::next_horizon_event(engine, Body::Moon, LONDON, after, HorizonEventKind::Rise,
                                      core::MEAN_REFRACTION_ALTITUDE_DEG);
  auto set = spk::next_horizon_event(engine, Body::Moon, LONDON, after, HorizonEventKind::Set,
                                     core::MEAN_REFRACTION_ALTITUDE_DEG);
  ASSERT_TRUE(rise && set);
  const double u0 = engine.time().earth_rotation_epochs(TimeScale::Utc, 2453381.0)->first;
  for (const auto& event : {*rise, *set}) {
    EXPECT_GT(event.ut1_julian_day, u0 + SECOND_DAYS);
    EXPECT_LT(event.ut1_julian_day, u0 + 1.1);
    EXPECT_NEAR(horizontal(engine, Body::Moon, LONDON, event.ut1_julian_day).altitude_deg,
                core::MEAN_REFRACTION_ALTITUDE_DEG, 1e-5);
  }
  EXPECT_EQ(rise->kind, HorizonEventKind::Rise);
  EXPECT_EQ(set->kind, HorizonEventKind::Set);
}

TEST(NextHorizonEvent, ADayWhoseRefinementLosesTheCrossingIsPassedOver) {
  const auto& engine = full_engine();
  // At 62° north on 2006-02-07 the Moon's declination moves across the
  // circumpolar limit between its transit and its rise: the day fails as a
  // whole, and the search looks at the following days instead.
  const GeodeticObserver site{10.0, 62.0, 0.0};
  const Instant after{2453774.2166667, TimeScale::Ut1};
  const double altitude = core::MEAN_REFRACTION_ALTITUDE_DEG;
  EXPECT_EQ(error_text(spk::rise_set_transit(engine, Body::Moon, site, after, altitude)),
            "body does not cross the requested altitude");
  for (HorizonEventKind kind :
       {HorizonEventKind::Rise, HorizonEventKind::Set, HorizonEventKind::Transit}) {
    auto event = spk::next_horizon_event(engine, Body::Moon, site, after, kind, altitude);
    ASSERT_TRUE(event) << event.error().message();
    EXPECT_GT(event->ut1_julian_day, after.julian_day + SECOND_DAYS);
    EXPECT_LT(event->ut1_julian_day, after.julian_day + 3.0);
    if (kind == HorizonEventKind::Transit) {
      EXPECT_NEAR(horizontal(engine, Body::Moon, site, event->ut1_julian_day).hour_angle_rad, 0.0,
                  1e-7);
    } else {
      EXPECT_NEAR(horizontal(engine, Body::Moon, site, event->ut1_julian_day).altitude_deg,
                  altitude, 1e-5);
    }
  }
}

TEST(NextHorizonEvent, SearchesConsultTheInterruptionBetweenSteps) {
  const auto& engine = full_engine();
  int asked = 0;
  spk::Interruption stop([&] {
    ++asked;
    return true;
  });
  const auto stopped = [](const auto& result) {
    return !result && std::holds_alternative<spk::Stopped>(result.error());
  };
  // Midsummer at the pole: the first day has no rise, the hook is asked
  // before the second.
  EXPECT_TRUE(
      stopped(spk::next_horizon_event(engine, Body::Sun, NORTH_POLE, {2453543.0, TimeScale::Ut1},
                                      HorizonEventKind::Rise, 0.0, stop)));
  EXPECT_EQ(asked, 1);
  // Found on the first day (the Sun transits an hour after the start):
  // nothing to ask.
  EXPECT_FALSE(
      stopped(spk::next_horizon_event(engine, Body::Sun, LONDON, {2452000.95, TimeScale::Ut1},
                                      HorizonEventKind::Transit, 0.0, stop)));
  EXPECT_EQ(asked, 1);
  // The season and lunation search asks before its Newton iteration.
  EXPECT_TRUE(stopped(spk::refine_longitude_zero(engine, spk::SearchedQuantity::SunMoonElongation,
                                                 TimeScale::Tt, {2451545.0, TimeScale::Tt}, 180.0,
                                                 spk::LUNATION_PERIOD_DAYS, stop)));
  EXPECT_EQ(asked, 2);

  // A hook that lets them go on changes nothing.
  spk::Interruption go_on([] { return false; });
  const Instant after{2453381.0, TimeScale::Utc};
  auto event =
      spk::next_horizon_event(engine, Body::Moon, LONDON, after, HorizonEventKind::Set, 0.0, go_on);
  ASSERT_TRUE(event);
  EXPECT_EQ(*event, *spk::next_horizon_event(engine, Body::Moon, LONDON, after,
                                             HorizonEventKind::Set, 0.0));
  auto season =
      spk::refine_longitude_zero(engine, spk::SearchedQuantity::SunLongitude, TimeScale::Utc, after,
                                 90.0, spk::SEASON_PERIOD_DAYS, go_on);
  ASSERT_TRUE(season);
  EXPECT_EQ(*season, *spk::next_sun_longitude(engine, after, 90.0, spk::SEASON_PERIOD_DAYS));
  // Errors pass through as errors.
  auto failed =
      spk::next_horizon_event(engine, Body::Mars, LONDON, after, HorizonEventKind::Set, 0.0, go_on);
  ASSERT_FALSE(failed);
  EXPECT_EQ(std::get<EphemerisError>(failed.error()).message(), "unsupported body: Mars");
}

TEST(NextHorizonEvent, NotFound) {
  const auto& engine = full_engine();
  // Midnight sun: no rise in three days.
  EXPECT_EQ(
      error_text(spk::next_horizon_event(engine, Body::Sun, NORTH_POLE, {2453543.0, TimeScale::Ut1},
                                         HorizonEventKind::Rise, 0.0)),
      "no Rise of Sun within 3 days after the query instant");
  EXPECT_EQ(
      error_text(spk::next_horizon_event(engine, Body::Sun, TROMSO, {2453543.0, TimeScale::Ut1},
                                         HorizonEventKind::Set, core::SUN_UPPER_LIMB_ALTITUDE_DEG)),
      "no Set of Sun within 3 days after the query instant");
  // The last day of the kernel: today's transit is past, and tomorrow runs
  // off the end, which ends the look-ahead rather than failing it.
  EXPECT_EQ(
      error_text(spk::next_horizon_event(engine, Body::Sun, LONDON, {2455198.3, TimeScale::Ut1},
                                         HorizonEventKind::Transit, 0.0)),
      "no Transit of Sun within 3 days after the query instant");
  // The first day's failures are the caller's and come back unchanged.
  EXPECT_EQ(
      error_text(spk::next_horizon_event(engine, Body::Mars, LONDON, {2452000.0, TimeScale::Ut1},
                                         HorizonEventKind::Rise, 0.0)),
      "unsupported body: Mars");
  EXPECT_EQ(
      error_text(spk::next_horizon_event(engine, Body::Sun, LONDON, {2452000.0, TimeScale::Ut1},
                                         HorizonEventKind::Rise, NAN)),
      "horizon altitude must be finite");
  EXPECT_EQ(spk::next_horizon_event(engine, Body::Sun, LONDON, {2455199.0, TimeScale::Ut1},
                                    HorizonEventKind::Rise, 0.0)
                .error()
                .kind(),
            EphemerisError::Kind::OutOfRange);
}

// --- Sidereal positions -----------------------------------------------------

TEST(SiderealPosition, TropicalMinusAyanamsha) {
  const auto& engine = full_engine();
  const Instant instant{2453000.25, TimeScale::Utc};
  const double tt = *engine.time().instant_as_tt(TimeScale::Utc, instant.julian_day);
  for (Body body : {Body::Sun, Body::Moon, Body::Mars}) {
    auto tropical = engine.position(body, instant, apparent_ecliptic_of_date());
    ASSERT_TRUE(tropical);
    for (auto mode : {core::SiderealMode::Lahiri, core::SiderealMode::FaganBradley}) {
      auto sidereal =
          spk::sidereal_position(engine, body, instant, apparent_ecliptic_of_date(), mode);
      ASSERT_TRUE(sidereal) << sidereal.error().message();
      const double ayanamsha = *core::ayanamsha_deg(tt, mode);
      EXPECT_GT(ayanamsha, 23.0);
      EXPECT_LT(ayanamsha, 25.5);
      EXPECT_GE(sidereal->longitude_deg, 0.0);
      EXPECT_LT(sidereal->longitude_deg, 360.0);
      EXPECT_EQ(sidereal->longitude_deg,
                core::normalize_degrees(tropical->longitude_deg - ayanamsha));
      EXPECT_EQ(sidereal->latitude_deg, tropical->latitude_deg);
      EXPECT_EQ(sidereal->distance_au, tropical->distance_au);
      EXPECT_EQ(sidereal->longitude_speed_deg_per_day,
                tropical->longitude_speed_deg_per_day - *core::ayanamsha_rate_deg_per_day(tt));
    }
  }
}

TEST(SiderealPosition, RequiresEclipticOfDateBeforeResolution) {
  const auto& engine = full_engine();
  const Instant instant{2453000.25, TimeScale::Tt};
  const std::string message = "sidereal longitudes require ecliptic of date";
  core::PositionOptions geometric_j2000;  // ecliptic, J2000
  EXPECT_EQ(error_text(spk::sidereal_position(engine, Body::Sun, instant, geometric_j2000,
                                              core::SiderealMode::Lahiri)),
            message);
  // apparent with J2000 would fail option resolution; the sidereal rule is first.
  auto apparent_j2000 = apparent_ecliptic_of_date();
  apparent_j2000.reference_epoch = core::ReferenceEpoch::J2000;
  EXPECT_EQ(error_text(spk::sidereal_position(engine, Body::Sun, instant, apparent_j2000,
                                              core::SiderealMode::Lahiri)),
            message);
  auto equatorial = apparent_ecliptic_of_date();
  equatorial.coordinate_system = core::CoordinateSystem::Equatorial;
  EXPECT_EQ(error_text(spk::sidereal_position(engine, Body::Sun, instant, equatorial,
                                              core::SiderealMode::Lahiri)),
            message);
  // Past that rule, the position's own checks apply.
  core::PositionOptions no_precession;
  no_precession.reference_epoch = core::ReferenceEpoch::OfDate;
  EXPECT_EQ(error_text(spk::sidereal_position(engine, Body::Sun, instant, no_precession,
                                              core::SiderealMode::Lahiri)),
            "reference_epoch: OfDate requires corrections.precession");
  auto bare = open_engine(false, false);
  EXPECT_EQ(
      error_text(spk::sidereal_position(bare, Body::Sun, {2453000.25, TimeScale::Utc},
                                        apparent_ecliptic_of_date(), core::SiderealMode::Lahiri)),
      "conversion from Utc to TDB is not implemented");
  // A TDB instant without time data: TT is taken as TDB.
  EXPECT_TRUE(spk::sidereal_position(bare, Body::Moon, {2453000.25, TimeScale::Tdb},
                                     apparent_ecliptic_of_date(),
                                     core::SiderealMode::FaganBradley));
}
