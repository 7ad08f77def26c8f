"""Engine's event and sidereal methods: seasons, lunations, rise/set/transit,
the next horizon event and sidereal positions.

Times are checked against Skyfield's almanac on the same de405s.bsp. The
tolerances are in seconds of time; what they have to absorb:
- seasons (2 s): the Sun moves 1" of longitude in 24 s, and the two apparent
  places agree to a few mas (see test_engine_accuracy.py), so the events
  agree to a small fraction of a second;
- lunations (2 s): the Moon gains 1" on the Sun in 2 s, same places;
- rise, set, transit (5 s): both sides find the moment the apparent
  topocentric centre reaches the altitude (Skyfield's horizon_degrees, no
  refraction model, radius 0) or the meridian. The engine's eight fixed
  passes leave well under a millisecond.
For horizon events both must see the same UT1: the engine takes DUT1 from the
attached EOP table; Skyfield gets, per test day, a timescale whose constant
delta T is TT - UT1 from the same table (DUT1 drifts by ~2 ms a day, so one
value per day suffices), and its results are read as UT1 Julian days.
"""

import math

import numpy
import pytest

import tarvex
from conftest import DATA_DIR, data_file, open_full_engine

skyfield_api = pytest.importorskip("skyfield.api")
from skyfield import almanac  # noqa: E402
from skyfield.toposlib import Geoid  # noqa: E402

SECOND = 1.0 / 86400.0
SEASONS = ["march_equinox", "june_solstice", "september_equinox", "december_solstice"]
SUN_ALTITUDE = tarvex.SUN_UPPER_LIMB_ALTITUDE_DEG
MOON_ALTITUDE = tarvex.MEAN_REFRACTION_ALTITUDE_DEG
GRS80 = Geoid("GRS80", 6378137.0, 298.257222101)
LONDON = tarvex.GeodeticObserver(-0.1275, 51.5072, 11.0)
NORTH_POLE = tarvex.GeodeticObserver(0.0, 90.0, 0.0)
BARE_ONLY_TOPOCENTRIC = ("topocentric origins require a leap-second kernel; attach one with "
                         "SpkEphemeris::with_leap_second_kernel")


def value_error(call):
    with pytest.raises(ValueError) as info:
        call()
    return str(info.value)


@pytest.fixture(scope="module")
def skyfield():
    ephemeris = skyfield_api.load_file(str(DATA_DIR / "de405s.bsp"))
    return ephemeris, skyfield_api.load.timescale(builtin=True)


# ------------------------------------------------------------ seasons and lunations

def test_seasons_1997_to_2009_match_skyfield(shared_engine, skyfield):
    ephemeris, timescale = skyfield
    times, kinds = almanac.find_discrete(timescale.tt(1997, 1, 1), timescale.tt(2010, 1, 1),
                                         almanac.seasons(ephemeris))
    assert len(times) == 52
    worst = 0.0
    for reference, kind in zip(times.tt, kinds):
        # From ten days before, and chained from the same kind a year earlier.
        ours = shared_engine.next_season_event(tarvex.Instant.tt(reference - 10.0), SEASONS[kind])
        assert ours.time_scale == "tt"
        worst = max(worst, abs(ours.julian_day - reference) * 86400.0)
        if reference - 365.0 > 2450449.6:
            chained = shared_engine.next_season_event(tarvex.Instant.tt(reference - 365.0),
                                                      SEASONS[kind])
            assert abs(chained.julian_day - ours.julian_day) < 1e-6
    assert worst < 2.0, worst
    # Observed: below a millisecond. Anything near a second would mean a
    # frame or equinox error.
    assert worst < 0.01, worst


def test_new_and_full_moons_of_1998_and_2005_match_skyfield(shared_engine, skyfield):
    ephemeris, timescale = skyfield
    worst = 0.0
    count = 0
    for year in (1998, 2005):
        times, phases = almanac.find_discrete(timescale.tt(year, 1, 1), timescale.tt(year + 1, 1, 1),
                                              almanac.moon_phases(ephemeris))
        for reference, phase in zip(times.tt, phases):
            if phase not in (0, 2):
                continue
            kind = "new_moon" if phase == 0 else "full_moon"
            ours = shared_engine.next_lunation(tarvex.Instant.tt(reference - 3.0), kind)
            assert ours.time_scale == "tt"
            worst = max(worst, abs(ours.julian_day - reference) * 86400.0)
            count += 1
    assert count >= 48
    assert worst < 2.0, worst
    assert worst < 0.01, worst


def test_search_rules_around_the_start(shared_engine):
    equinox = shared_engine.next_season_event(tarvex.Instant.tt(2451545.0), "march_equinox")
    # Starting on the event itself gives next year's.
    again = shared_engine.next_season_event(equinox, "march_equinox")
    assert 365.2 < again.julian_day - equinox.julian_day < 365.3
    # One minute before a new Moon gives that new Moon.
    new_moon = shared_engine.next_lunation(tarvex.Instant.tt(2453374.5), "new_moon")
    before = tarvex.Instant.tt(new_moon.julian_day - 60 * SECOND)
    found = shared_engine.next_lunation(before, "new_moon")
    assert abs((found.julian_day - new_moon.julian_day) * 86400.0) < 1e-3
    # A December solstice from late December: the following year's.
    solstice = shared_engine.next_season_event(tarvex.Instant.utc(2453732.5), "december_solstice")
    assert abs(solstice.julian_day - 2454091.516) < 0.002
    # Every scale of `after` gives a TT result.
    for instant in (tarvex.Instant.utc(2451545.0), tarvex.Instant.ut1(2451545.0),
                    tarvex.Instant.tdb(2451545.0)):
        result = shared_engine.next_season_event(instant, "june_solstice")
        assert result.time_scale == "tt"
        assert abs(result.julian_day - 2451716.57553) < 2 * SECOND


def test_kind_accepts_names_and_enumeration_objects(shared_engine):
    after = tarvex.Instant.tt(2452000.0)
    results = {shared_engine.next_season_event(after, kind).julian_day
               for kind in ("march_equinox", tarvex.SeasonEvent.march_equinox(), " Vernal_Equinox",
                            tarvex.SeasonEvent("march-equinox"))}
    assert len(results) == 1
    full = {shared_engine.next_lunation(after, kind).julian_day
            for kind in ("full_moon", "FullMoon", tarvex.LunationEvent.full_moon())}
    assert len(full) == 1

    class Named:
        name = "new-moon"

    assert shared_engine.next_lunation(after, Named()).julian_day != full.pop()
    assert value_error(lambda: shared_engine.next_season_event(after, "spring")) == (
        'unknown season event "spring"')
    assert value_error(lambda: shared_engine.next_season_event(after, " Autumnal-Equinox")) == (
        'unknown season event "autumnal-equinox"')
    assert value_error(lambda: shared_engine.next_lunation(after, "half_moon")) == (
        'unknown lunation event "half_moon"')
    assert value_error(lambda: shared_engine.next_lunation(after, 3)) == (
        "expected a name string or an tarvex enum with a name attribute")


def test_search_failures(shared_engine, bare_engine):
    assert value_error(lambda: bare_engine.next_season_event(tarvex.Instant.utc(2451545.0),
                                                             "march_equinox")) == (
        "conversion from Utc to TDB is not implemented")
    assert value_error(lambda: bare_engine.next_lunation(tarvex.Instant.ut1(2451545.0), "new_moon")) == (
        "conversion from Ut1 to TDB is not implemented")
    # TT needs no time data.
    assert bare_engine.next_lunation(tarvex.Instant.tt(2451545.0), "new_moon").time_scale == "tt"
    # The 2010 March equinox lies past the end of the kernel.
    message = value_error(lambda: shared_engine.next_season_event(tarvex.Instant.tt(2455000.5),
                                                                  "march_equinox"))
    assert message.startswith("Julian day ")
    assert message.endswith(" is outside kernel range 2450449.5007197214..2455198.500731296 Tdb")
    assert value_error(lambda: shared_engine.next_lunation(tarvex.Instant.tt(2455300.5), "new_moon")) == (
        "Julian day 2455300.5 is outside kernel range 2450449.5007197214..2455198.500731296 Tdb")


# ------------------------------------------------------------ rise, set and transit

def engine_like_timescale(ut1, eop_rows):
    """A Skyfield timescale with TT - UT1 as the engine sees it on that day:
    TAI - UTC from the leap-second table, DUT1 interpolated in the EOP rows."""
    mjd = ut1 - 2400000.5
    k = int(numpy.searchsorted(eop_rows[:, 0], mjd)) - 1
    fraction = (mjd - eop_rows[k, 0]) / (eop_rows[k + 1, 0] - eop_rows[k, 0])
    dut1 = eop_rows[k, 1] + fraction * (eop_rows[k + 1, 1] - eop_rows[k, 1])
    leap_steps = [(2450630.5, 31.0), (2451179.5, 32.0), (2453736.5, 33.0), (2454832.5, 34.0)]
    tai_minus_utc = max([30.0] + [value for start, value in leap_steps if ut1 >= start])
    return skyfield_api.load.timescale(delta_t=tai_minus_utc + 32.184 - dut1)


@pytest.fixture(scope="module")
def eop_rows():
    """MJD and UT1 - UTC (s) of the EOP table."""
    return numpy.loadtxt(DATA_DIR / "eop_c04_1962_2022.txt", usecols=(4, 7), comments="#")


SITES = {
    "mid-latitude": (-0.1275, 51.5072, 11.0),
    "tropical": (72.8777, 19.0760, 14.0),
    "65 north": (-18.1, 65.0, 20.0),
}
# Across the span and the seasons; 2005-06-21 and 2005-12-21 put the 65° site
# near its longest and shortest day.
DAYS_UT1 = [2450550.5, 2451300.5, 2452200.5, 2452900.5, 2453542.5, 2453725.5, 2454300.5, 2455000.5]


def skyfield_day(ephemeris, timescale, site, body, altitude, transit_ut1):
    """Skyfield's rises, sets and transits within half a day of a transit,
    as UT1 Julian days."""
    lon, lat, height = site
    topos = GRS80.latlon(lat, lon, elevation_m=height)
    target = ephemeris[body]
    start = timescale.ut1_jd(transit_ut1 - 0.55)
    end = timescale.ut1_jd(transit_ut1 + 0.55)
    is_up = almanac.risings_and_settings(ephemeris, target, topos, horizon_degrees=altitude,
                                         radius_degrees=0)
    # Its default quarter-day sampling steps over the two-hour nights of a
    # 65° summer.
    is_up.step_days = 0.01
    times, up = almanac.find_discrete(start, end, is_up)
    rises = [t for t, u in zip(times.ut1, up) if u]
    sets = [t for t, u in zip(times.ut1, up) if not u]
    times, west = almanac.find_discrete(start, end, almanac.meridian_transits(ephemeris, target, topos))
    transits = [t for t, w in zip(times.ut1, west) if w == 1]
    return rises, sets, transits


def nearest_seconds(value, candidates):
    return min(abs(value - c) for c in candidates) * 86400.0


def test_rise_set_transit_match_skyfield(shared_engine, skyfield, eop_rows):
    ephemeris, _ = skyfield
    worst = {"rise": 0.0, "set": 0.0, "transit": 0.0}
    compared = 0
    for name, site in SITES.items():
        observer = tarvex.GeodeticObserver(*site)
        for day in DAYS_UT1:
            timescale = engine_like_timescale(day, eop_rows)
            for body, altitude in (("sun", SUN_ALTITUDE), ("moon", MOON_ALTITUDE)):
                # Noon local mean time, so the day is the civil day of the site.
                around = tarvex.Instant.ut1(day + 0.5 - site[0] / 360.0)
                ours = shared_engine.rise_set_transit(body, observer, around, altitude)
                rises, sets, transits = skyfield_day(ephemeris, timescale, site, body, altitude,
                                                     ours.transit_ut1_julian_day)
                worst["transit"] = max(worst["transit"],
                                       nearest_seconds(ours.transit_ut1_julian_day, transits))
                if ours.rise_ut1_julian_day is None:
                    assert ours.set_ut1_julian_day is None
                    # The declination at the transit decides. The Sun's hardly
                    # moves in half a day, so Skyfield must agree; the Moon's
                    # can cross the circumpolar limit between a real rise and
                    # the transit (65° north, 2003-09-25), and that rise is
                    # then not reported.
                    if body == "sun":
                        assert not rises and not sets
                    continue
                assert ours.rise_ut1_julian_day < ours.transit_ut1_julian_day < ours.set_ut1_julian_day
                worst["rise"] = max(worst["rise"], nearest_seconds(ours.rise_ut1_julian_day, rises))
                worst["set"] = max(worst["set"], nearest_seconds(ours.set_ut1_julian_day, sets))
                compared += 1
    assert compared >= 40
    assert max(worst.values()) < 5.0, worst
    # Observed: below a millisecond for all three.
    assert max(worst.values()) < 0.01, worst


def test_next_horizon_events_match_skyfield(shared_engine, skyfield, eop_rows):
    ephemeris, _ = skyfield
    site = SITES["mid-latitude"]
    observer = tarvex.GeodeticObserver(*site)
    after_utc = 2453381.3
    timescale = engine_like_timescale(after_utc, eop_rows)
    for body, altitude in (("sun", SUN_ALTITUDE), ("moon", MOON_ALTITUDE)):
        events = {kind: shared_engine.next_horizon_event(body, observer, tarvex.Instant.utc(after_utc),
                                                         kind, altitude)
                  for kind in ("rise", "set", "transit")}
        for kind, event in events.items():
            assert event.kind.name == kind
            rises, sets, transits = skyfield_day(ephemeris, timescale, site, body, altitude,
                                                 event.ut1_julian_day)
            reference = {"rise": rises, "set": sets, "transit": transits}[kind]
            assert nearest_seconds(event.ut1_julian_day, reference) < 5.0
            # The first such event after the query: none between.
            assert all(not (after_utc < t < event.ut1_julian_day - 5 * SECOND) for t in reference)


HIGH_SITES = [(10.0, 62.0, 0.0), (-18.1, 65.0, 20.0), (25.0, 70.0, 0.0)]
# 24 starts spread over 2006 at various times of day, plus one from which
# the search used to fail at 62° with "body does not cross the requested
# altitude".
YEAR_STARTS_UT1 = [2453736.5 + 15.2 * i + 0.37 * (i % 3) for i in range(24)] + [2453774.2166667]
KINDS = ("rise", "set", "transit")


def skyfield_events(ephemeris, timescale, site, body, altitude, start_ut1, end_ut1):
    """Skyfield's rises and sets between two UT1 Julian days, or with no
    altitude its transits."""
    lon, lat, height = site
    topos = GRS80.latlon(lat, lon, elevation_m=height)
    start, end = timescale.ut1_jd(start_ut1), timescale.ut1_jd(end_ut1)
    events = {}
    if altitude is not None:
        is_up = almanac.risings_and_settings(ephemeris, ephemeris[body], topos, horizon_degrees=altitude,
                                             radius_degrees=0)
        # Fine enough for the Moon's shortest dips and humps at 60-70°.
        is_up.step_days = 0.01
        times, up = almanac.find_discrete(start, end, is_up)
        events["rise"] = [t for t, u in zip(times.ut1, up) if u]
        events["set"] = [t for t, u in zip(times.ut1, up) if not u]
    else:
        times, west = almanac.find_discrete(start, end, almanac.meridian_transits(ephemeris, ephemeris[body], topos))
        events["transit"] = [t for t, w in zip(times.ut1, west) if w == 1]
    return events


def grazing(events, kind, when, hours=4.0):
    """Whether a Skyfield rise or set belongs to a grazing passage: the body
    stays above (or below) the altitude for less than `hours`. The engine
    takes the declination at the transit, and during the rise or set passes,
    as deciding whether the body crosses at all; on such days the Moon's
    declination moves it across that limit within hours, so the engine can
    see no crossing where a short one happens (see
    test_rise_set_transit_match_skyfield)."""
    if kind == "transit":
        return False
    other = events["set" if kind == "rise" else "rise"]
    return any(abs(t - when) * 24.0 < hours for t in other)


def test_next_horizon_event_passes_over_days_without_a_crossing(shared_engine, skyfield):
    """At 60-70° the Moon (and, near the solstices, the Sun) does not cross
    the horizon on some days. The search goes on to the next day, and reports
    "no ..." only when none of its three days has the event."""
    ephemeris, timescale = skyfield
    found = {"moon": 0, "sun": 0}
    not_found = 0
    for site in HIGH_SITES:
        observer = tarvex.GeodeticObserver(*site)
        for body, altitude in (("sun", SUN_ALTITUDE), ("moon", MOON_ALTITUDE)):
            for u0 in YEAR_STARTS_UT1:
                # A margin before the start shows whether a rise or set
                # just after it belongs to a grazing passage; a transit
                # follows within 1.04 days of any instant.
                reference = skyfield_events(ephemeris, timescale, site, body, altitude, u0 - 0.2, u0 + 3.5)
                reference.update(skyfield_events(ephemeris, timescale, site, body, None, u0, u0 + 1.1))
                for kind in KINDS:
                    try:
                        event = shared_engine.next_horizon_event(body, observer, tarvex.Instant.ut1(u0),
                                                                 kind, altitude)
                    except ValueError as error:
                        assert str(error) == (f"no {kind.capitalize()} of {body.capitalize()} "
                                              "within 3 days after the query instant"), (site, u0)
                        event = None
                    # Skyfield's events after the start, grazing ones aside.
                    later = [t for t in reference[kind] if u0 + SECOND < t < u0 + 3.5]
                    regular = [t for t in later if not grazing(reference, kind, t)]
                    if event is None:
                        not_found += 1
                        # At least the first day after the start is always searched.
                        assert not regular or regular[0] > u0 + 1.0, (site, body, kind, u0)
                        continue
                    found[body] += 1
                    # A real event, and the first after the start but for
                    # grazing ones the engine may not see.
                    assert min(abs(event.ut1_julian_day - t) for t in later) * 86400.0 < 5.0, (
                        site, body, kind, u0)
                    assert all(t > event.ut1_julian_day - 5 * SECOND for t in regular), (site, body, kind, u0)
    assert found["moon"] > 150 and found["sun"] > 150
    assert not_found > 0


def test_polar_day_has_a_transit_but_no_rise_or_set(shared_engine):
    midsummer = tarvex.Instant.ut1(2453543.0)
    for observer in (NORTH_POLE, tarvex.GeodeticObserver(18.95, 69.65, 0.0)):
        day = shared_engine.rise_set_transit("sun", observer, midsummer, SUN_ALTITUDE)
        assert day.rise_ut1_julian_day is None
        assert day.set_ut1_julian_day is None
        assert isinstance(day.transit_ut1_julian_day, float)
        assert math.isfinite(day.transit_ut1_julian_day)
        assert repr(day) == (f"RiseSetTransit(transit_ut1_julian_day="
                             f"{day.transit_ut1_julian_day!r}, rise_ut1_julian_day=None, "
                             f"set_ut1_julian_day=None)")
    assert value_error(lambda: shared_engine.next_horizon_event("sun", NORTH_POLE, midsummer, "rise", 0.0)) == (
        "no Rise of Sun within 3 days after the query instant")
    assert value_error(lambda: shared_engine.next_horizon_event("Sun", NORTH_POLE, midsummer,
                                                                tarvex.HorizonEventKind.set(), 0.0)) == (
        "no Set of Sun within 3 days after the query instant")


def test_next_transit_after_a_transit_is_a_day_later(shared_engine):
    first = shared_engine.next_horizon_event("moon", LONDON, tarvex.Instant.ut1(2452000.3), "transit", 0.0)
    for offset in (0.0, -0.5 * SECOND):
        at = tarvex.Instant.ut1(first.ut1_julian_day + offset)
        following = shared_engine.next_horizon_event("moon", LONDON, at, "transit", 0.0)
        assert 1.0 < following.ut1_julian_day - first.ut1_julian_day < 1.08
    earlier = tarvex.Instant.ut1(first.ut1_julian_day - 2 * SECOND)
    assert abs(shared_engine.next_horizon_event("moon", LONDON, earlier, "transit", 0.0).ut1_julian_day
               - first.ut1_julian_day) < 1e-8


def test_horizon_results_and_reprs(shared_engine):
    day = shared_engine.rise_set_transit("sun", LONDON, tarvex.Instant.utc(2455000.0), SUN_ALTITUDE)
    assert isinstance(day, tarvex.RiseSetTransit)
    assert repr(day) == (f"RiseSetTransit(transit_ut1_julian_day={day.transit_ut1_julian_day!r}, "
                         f"rise_ut1_julian_day=Some({day.rise_ut1_julian_day!r}), "
                         f"set_ut1_julian_day=Some({day.set_ut1_julian_day!r}))")
    assert day.rise_ut1_julian_day < day.transit_ut1_julian_day < day.set_ut1_julian_day
    # 17 June 2009 in London: the day lasts about 16 h 38 min.
    assert abs((day.set_ut1_julian_day - day.rise_ut1_julian_day) * 24.0 - 16.63) < 0.05

    event = shared_engine.next_horizon_event("moon", LONDON, tarvex.Instant.utc(2455000.0), "set", MOON_ALTITUDE)
    assert isinstance(event, tarvex.HorizonEvent)
    assert isinstance(event.kind, tarvex.HorizonEventKind)
    assert event.kind is not event.kind
    assert event.kind.name == "set"
    assert repr(event) == f'HorizonEvent(kind="set", ut1_julian_day={event.ut1_julian_day!r})'
    for cls in (tarvex.RiseSetTransit, tarvex.HorizonEvent):
        with pytest.raises(TypeError):
            cls()
    with pytest.raises(AttributeError):
        event.ut1_julian_day = 0.0


def test_horizon_failures(shared_engine, bare_engine):
    around = tarvex.Instant.utc(2452000.0)
    # The body is checked first, before the altitude and the time data.
    assert value_error(lambda: bare_engine.rise_set_transit("mars", LONDON, around, math.nan)) == (
        "unsupported body: Mars")
    assert value_error(lambda: shared_engine.next_horizon_event("mars", LONDON, around, "rise", 0.0)) == (
        "unsupported body: Mars")
    assert value_error(lambda: shared_engine.rise_set_transit("Earth", LONDON, around, 0.0)) == (
        "unsupported body: Earth")
    for altitude in (math.nan, math.inf, -math.inf):
        assert value_error(lambda: shared_engine.rise_set_transit("sun", LONDON, around, altitude)) == (
            "horizon altitude must be finite")
        assert value_error(lambda: shared_engine.next_horizon_event("moon", LONDON, around, "set", altitude)) == (
            "horizon altitude must be finite")
    assert value_error(lambda: bare_engine.rise_set_transit("sun", LONDON, tarvex.Instant.tt(2452000.0), 0.0)) == (
        BARE_ONLY_TOPOCENTRIC)
    lsk_only = tarvex.Engine(*data_file("de405s.bsp"))
    lsk_only.with_leap_second_kernel(*data_file("naif0012.tls"))
    assert value_error(lambda: lsk_only.next_horizon_event("sun", LONDON, around, "rise", 0.0)) == (
        "topocentric origins require an Earth orientation table (DUT1); attach one with "
        "SpkEphemeris::with_eop")
    # At 63° north the Moon at its 2005 standstill can cross the horizon at
    # transit's declination but not at the declination it has hours earlier.
    assert value_error(lambda: shared_engine.rise_set_transit(
        "moon", tarvex.GeodeticObserver(0.0, 63.0, 0.0), tarvex.Instant.ut1(2453556.0), 0.0)) == (
        "body does not cross the requested altitude")
    # Past the end of the kernel.
    assert value_error(lambda: shared_engine.rise_set_transit("sun", LONDON, tarvex.Instant.ut1(2455198.6), 0.0)) == (
        "Julian day 2455198.6 is outside kernel range 2450449.5007197214..2455198.500731296 Tdb")
    assert value_error(lambda: shared_engine.next_horizon_event("sun", LONDON, tarvex.Instant.ut1(2455198.3),
                                                                "transit", 0.0)) == (
        "no Transit of Sun within 3 days after the query instant")
    assert value_error(lambda: shared_engine.next_horizon_event("sun", LONDON, around, "dusk", 0.0)) == (
        'unknown horizon event "dusk"')


# ------------------------------------------------------------ sidereal positions

def test_sidereal_is_tropical_minus_ayanamsha(shared_engine):
    instant = tarvex.Instant.utc(2451545.0)
    options = tarvex.apparent()
    for mode, at_j2000 in (("lahiri", 23.857), (tarvex.SiderealMode.fagan_bradley(), 24.74)):
        ayanamshas = set()
        for body in ("sun", "moon", "mars", "jupiter", "pluto"):
            tropical = shared_engine.position(body, instant, options)
            sidereal = shared_engine.sidereal_position(body, instant, options, mode)
            assert 0.0 <= sidereal.longitude_deg < 360.0
            assert sidereal.latitude_deg == tropical.latitude_deg
            assert sidereal.distance_au == tropical.distance_au
            ayanamshas.add(round((tropical.longitude_deg - sidereal.longitude_deg) % 360.0, 9))
            # The ayanamsha grows with the precession, 50.3" a year.
            rate = tropical.longitude_speed_deg_per_day - sidereal.longitude_speed_deg_per_day
            assert abs(rate * 365.25 * 3600.0 - 50.29) < 0.05
        # One ayanamsha for every body at one instant.
        assert len(ayanamshas) == 1
        assert abs(ayanamshas.pop() - at_j2000) < 0.01


def test_sidereal_requires_ecliptic_of_date(shared_engine, bare_engine):
    instant = tarvex.Instant.tt(2452000.0)
    message = "sidereal longitudes require ecliptic of date"
    assert value_error(lambda: shared_engine.sidereal_position("sun", instant, tarvex.geometric(), "lahiri")) == message
    assert value_error(lambda: shared_engine.sidereal_position(
        "sun", instant, tarvex.apparent(coordinate_system="equatorial"), "lahiri")) == message
    # apparent with J2000 would fail option resolution; the sidereal rule comes first.
    apparent_j2000 = tarvex.PositionOptions("geocentric", "ecliptic", reference_epoch="j2000", apparent=True)
    assert value_error(lambda: shared_engine.sidereal_position("sun", instant, apparent_j2000, "lahiri")) == message
    assert value_error(lambda: shared_engine.sidereal_position("sun", instant, tarvex.apparent(), "raman")) == (
        'unknown sidereal mode "raman"')
    assert value_error(lambda: bare_engine.sidereal_position("sun", tarvex.Instant.utc(2452000.0),
                                                             tarvex.apparent(), "lahiri")) == (
        "conversion from Utc to TDB is not implemented")


# ------------------------------------------------------------ method surface

EVENT_METHODS = {
    "rise_set_transit": ("($self, body, observer, around, altitude_deg)",
                         "Same-day Sun or Moon rise, set, and meridian transit (UT1 Julian days)."),
    "next_horizon_event": ("($self, body, observer, after, kind, altitude_deg)",
                           "Next Sun or Moon rise, set, or transit strictly after `after`."),
    "next_season_event": ("($self, after, kind)",
                          "Next equinox or solstice after `after`. Returned instant is TT."),
    "next_lunation": ("($self, after, kind)",
                      "Next new or full Moon after `after`. Returned instant is TT."),
    "sidereal_position": ("($self, body, instant, options, mode)",
                          "Ecliptic of-date position with Lahiri or Fagan\u2013Bradley ayanamsha."),
}


def test_docstrings_and_signatures():
    for name, (signature, description) in EVENT_METHODS.items():
        method = getattr(tarvex.Engine, name)
        assert method.__text_signature__ == signature
        assert method.__doc__ == description


def test_binding_and_conversion_failures(shared_engine):
    after = tarvex.Instant.tt(2452000.0)
    with pytest.raises(TypeError) as info:
        shared_engine.next_lunation(2452000.0, "new_moon")
    assert str(info.value) == "'float' object is not an instance of 'Instant'"
    assert info.value.__notes__ == ["while processing 'after'"]
    with pytest.raises(TypeError) as info:
        shared_engine.next_season_event(after)
    assert str(info.value) == "Engine.next_season_event() missing 1 required positional argument: 'kind'"
    with pytest.raises(TypeError) as info:
        shared_engine.rise_set_transit("sun", (0.0, 51.0, 0.0), after, 0.0)
    assert str(info.value) == "'tuple' object is not an instance of 'GeodeticObserver'"
    assert info.value.__notes__ == ["while processing 'observer'"]
    with pytest.raises(TypeError) as info:
        shared_engine.next_horizon_event("sun", LONDON, after, "rise", "low")
    assert info.value.__notes__ == ["while processing 'altitude_deg'"]
    with pytest.raises(TypeError) as info:
        shared_engine.sidereal_position("sun", after, tarvex.apparent(), "lahiri", "extra")
    assert str(info.value) == "Engine.sidereal_position() takes 4 positional arguments but 5 were given"
    # Keywords work, and an int altitude converts.
    day = shared_engine.rise_set_transit(altitude_deg=0, around=after, observer=LONDON, body="moon")
    assert day.rise_ut1_julian_day is not None
    # Parameter conversion comes before the name parsers: a bad observer is
    # reported although the body is unknown too.
    with pytest.raises(TypeError):
        shared_engine.rise_set_transit("vulcan", None, after, 0.0)
    assert value_error(lambda: shared_engine.rise_set_transit("vulcan", LONDON, after, 0.0)) == (
        'unknown body "vulcan"')
    # parse_body before the kind.
    assert value_error(lambda: shared_engine.next_horizon_event("vulcan", LONDON, after, "dusk", 0.0)) == (
        'unknown body "vulcan"')


def test_closed_engine_checks_names_first(tmp_path):
    import struct

    engine = tarvex.Engine(*data_file("de405s.bsp"))
    data = bytearray((DATA_DIR / "de405s.bsp").read_bytes())
    data[8:12] = struct.pack("<i", 3)
    malformed = tmp_path / "nd3.bsp"
    malformed.write_bytes(bytes(data))
    with pytest.raises(ValueError):
        engine.with_additional_kernel_file(str(malformed), "A" * 64)
    after = tarvex.Instant.tt(2452000.0)
    for call in (
        lambda: engine.next_season_event(after, "march_equinox"),
        lambda: engine.next_lunation(after, "new_moon"),
        lambda: engine.rise_set_transit("sun", LONDON, after, 0.0),
        lambda: engine.next_horizon_event("sun", LONDON, after, "rise", 0.0),
        lambda: engine.sidereal_position("sun", after, tarvex.apparent(), "lahiri"),
    ):
        assert value_error(call) == "engine is closed"
    assert value_error(lambda: engine.next_season_event(after, "spring")) == 'unknown season event "spring"'
    assert value_error(lambda: engine.sidereal_position("sun", after, tarvex.apparent(), 1)) == (
        "expected a name string or an tarvex enum with a name attribute")


def test_a_fresh_engine_answers_like_the_shared_one(shared_engine):
    after = tarvex.Instant.utc(2453000.0)
    fresh = open_full_engine()
    assert (fresh.next_lunation(after, "full_moon").julian_day
            == shared_engine.next_lunation(after, "full_moon").julian_day)
