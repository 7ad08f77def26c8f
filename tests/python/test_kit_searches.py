"""Searches over a span (sign ingresses, stations, exact aspects) against
Skyfield's find_discrete on the same kernel.

Skyfield's apparent places differ from the engine's by about a
milliarcsecond (see test_engine_accuracy.py). Most of that is nutation
(IAU 2000A there, 2000B here), whose difference has terms of a few days'
period: its rate, up to half a milliarcsecond a day, moves a station of an
outer planet (longitude acceleration about 11"/day^2 for Jupiter) by
seconds. Skyfield is therefore given the engine's IAU 2000B nutation, its
documented way of trading precision for speed; what remains (aberration
and deflection formulas) changes slowly. Both sides find the instant to a
millisecond (find_discrete's epsilon, our bracket tolerance).
"""

import numpy as np
import pytest

import tarvexkit

from conftest import DATA_DIR

skyfield_api = pytest.importorskip("skyfield.api")
from skyfield.framelib import ecliptic_frame  # noqa: E402
from skyfield.nutationlib import iau2000b_radians  # noqa: E402
from skyfield.searchlib import find_discrete  # noqa: E402

SKYFIELD_NAMES = {"sun": "sun", "moon": "moon", "mercury": "mercury", "venus": "venus", "mars": "mars",
                  "jupiter": "jupiter barycenter", "saturn": "saturn barycenter", "uranus": "uranus barycenter",
                  "neptune": "neptune barycenter", "pluto": "pluto barycenter"}
SECOND = 1.0 / 86400.0


@pytest.fixture(scope="module")
def sky():
    return skyfield_api.load_file(str(DATA_DIR / "de405s.bsp")), skyfield_api.load.timescale(builtin=True)


def skyfield_longitude(sky, body):
    kernel, _ = sky
    earth, target = kernel["earth"], kernel[SKYFIELD_NAMES[body]]

    def longitude(t):
        t._nutation_angles_radians = iau2000b_radians(t)
        _, lon, _ = earth.at(t).observe(target).apparent(deflectors=(10,)).frame_latlon(ecliptic_frame)
        return lon.degrees

    return longitude


def skyfield_events(sky, start_tt, stop_tt, function, step_days):
    _, timescale = sky
    function.step_days = step_days
    times, values = find_discrete(timescale.tt_jd(start_tt), timescale.tt_jd(stop_tt), function)
    return times.tt, values


def assert_same_instants(ours, reference_tt, limit_s=1.0):
    assert len(ours) == len(reference_tt), (ours.times.iso(), reference_tt)
    difference = np.abs(ours.times.tt - reference_tt) / SECOND
    assert difference.max() < limit_s, difference
    return difference.max()


@pytest.mark.parametrize("body", ["sun", "mercury", "mars", "jupiter"])
def test_sign_ingresses(eph, sky, body):
    start, stop = eph.utc(2002, 1, 1), eph.utc(2006, 1, 1)
    ours = eph.sign_ingresses(body, start, stop)
    longitude = skyfield_longitude(sky, body)
    tt, signs = skyfield_events(sky, start.tt, stop.tt, lambda t: (longitude(t) // 30.0).astype(int), 0.5)
    assert_same_instants(ours, tt)
    assert ours.kinds == [tarvexkit.searches.SIGNS[s] for s in signs]
    assert np.all(np.diff(ours.times.tt) > 0.0)


def test_moon_ingresses_and_sidereal_ones(eph, sky):
    start, stop = eph.utc(2008, 1, 1), eph.utc(2008, 3, 1)
    ours = eph.sign_ingresses("moon", start, stop)
    longitude = skyfield_longitude(sky, "moon")
    tt, _ = skyfield_events(sky, start.tt, stop.tt, lambda t: (longitude(t) // 30.0).astype(int), 0.25)
    assert_same_instants(ours, tt)
    # Sidereal: the boundary is where the tropical longitude equals 30 k plus the ayanamsha.
    sidereal = eph.sign_ingresses("moon", start, stop, zodiac="lahiri")
    at = eph.sidereal_positions("moon", sidereal.times, "lahiri")[:, 0, 0]
    assert np.abs((at + 15.0) % 30.0 - 15.0).max() < 1e-6
    assert sidereal.kinds[0] != ours.kinds[0] or abs(sidereal.times.tt[0] - ours.times.tt[0]) > 1.0


@pytest.mark.parametrize("body", ["mercury", "venus", "mars", "jupiter", "saturn", "pluto"])
def test_stations(eph, sky, body):
    start, stop = eph.utc(2000, 1, 1), eph.utc(2009, 6, 1)
    ours = eph.stations(body, start, stop)
    longitude = skyfield_longitude(sky, body)
    _, timescale = sky
    d = tarvexkit.searches.STATION_DIFFERENCE_DAYS

    def moving_forward(t):
        change = longitude(timescale.tt_jd(t.tt + d)) - longitude(timescale.tt_jd(t.tt - d))
        return ((change + 180.0) % 360.0 - 180.0) > 0.0

    tt, forward = skyfield_events(sky, start.tt, stop.tt, moving_forward, 1.0)
    # The slow outer planets turn gently: a station's instant moves by the
    # longitude's error over its curvature, about 0.2 s per milliarcsecond
    # for Pluto (0.03 s for Mercury).
    assert_same_instants(ours, tt, limit_s=1.0)
    assert ours.kinds == ["direct" if f else "retrograde" for f in forward]
    assert len(ours) >= 4


def test_stations_are_where_the_speed_changes_sign(eph):
    found = eph.stations("mercury", eph.utc(2007, 1, 1), eph.utc(2008, 1, 1))
    assert len(found) == 6 and found.kinds[:2] == ["retrograde", "direct"]
    hour = 1.0 / 24.0
    for kind, t in found:
        speeds = eph.positions("mercury", eph.times([t.tt - hour, t.tt + hour], "tt"))[:, 0, 3]
        assert (speeds[0] > 0.0 > speeds[1]) if kind == "retrograde" else (speeds[0] < 0.0 < speeds[1])
    with pytest.raises(ValueError, match="stations are for mercury"):
        eph.stations("moon", eph.utc(2007, 1, 1), eph.utc(2008, 1, 1))


@pytest.mark.parametrize("first,second,angles", [
    ("sun", "mars", None),
    ("venus", "jupiter", ["conjunction", "opposition", "trine"]),
    ("sun", "moon", [0.0, 180.0, 45.0]),
    ("mercury", "saturn", [90.0, 72.0]),
])
def test_exact_aspects(eph, sky, first, second, angles):
    start, stop = eph.utc(2003, 1, 1), eph.utc(2005, 1, 1)
    if "moon" in (first, second):
        stop = eph.utc(2003, 4, 1)
    ours = eph.aspects(first, second, start, stop, angles)
    a, b = skyfield_longitude(sky, first), skyfield_longitude(sky, second)
    expected = []
    for name, angle in tarvexkit.searches.aspect_angles(angles):
        for target in ([angle] if angle in (0.0, 180.0) else [angle, -angle]):
            def side(t, target=target):
                return ((a(t) - b(t) - target + 180.0) % 360.0 - 180.0) >= 0.0
            tt, _ = skyfield_events(sky, start.tt, stop.tt, side, 0.25)
            # find_discrete also reports the jump at 180 degrees from the aspect.
            t = sky[1].tt_jd(tt)
            exact = np.abs((a(t) - b(t) - target + 180.0) % 360.0 - 180.0) < 1.0 if len(tt) else []
            expected += [(day, name) for day, keep in zip(tt, exact) if keep]
    expected.sort()
    assert_same_instants(ours, np.array([day for day, _ in expected]))
    assert ours.kinds == [name for _, name in expected]


def test_new_moons_are_sun_moon_conjunctions(eph):
    start, stop = eph.utc(2008, 1, 1), eph.utc(2009, 1, 1)
    conjunctions = eph.aspects("moon", "sun", start, stop, ["conjunction"])
    lunations = eph.lunations(start, stop)
    new = lunations.times.tt[[k == "new_moon" for k in lunations.kinds]]
    assert np.abs(conjunctions.times.tt - new).max() / SECOND < 0.01


def test_search_arguments(eph):
    start = eph.utc(2003, 1, 1)
    with pytest.raises(ValueError, match="end after it starts"):
        eph.sign_ingresses("sun", start, start)
    with pytest.raises(ValueError, match="unknown aspect 'septile'"):
        eph.aspects("sun", "mars", start, eph.utc(2004), ["septile"])
    with pytest.raises(ValueError, match="between 0 and 180"):
        eph.aspects("sun", "mars", start, eph.utc(2004), [200.0])
    with pytest.raises(ValueError, match="unknown ayanamsha"):
        eph.sign_ingresses("sun", start, eph.utc(2004), zodiac="sidereal")
    assert len(eph.sign_ingresses("sun", eph.utc(2003, 1, 1), eph.utc(2003, 1, 2))) == 0
