"""Agreement of Engine positions with Skyfield on the same kernel.

Skyfield reads de405s.bsp itself (outer planets as their system barycenters,
which is what the zero-offset planet-center kernel gives the engine).

Why the apparent places differ at all (observed: about 1.5 mas at most):
- nutation: the engine uses IAU 2000B, Skyfield IAU 2000A (up to ~1 mas);
- aberration: the engine's formula is first order in v/c, Skyfield's is the
  relativistic one (~1 mas);
- deflection: the engine deflects by the Sun alone; Skyfield is asked for the
  same (deflectors=(10,)), otherwise Jupiter and Saturn would add up to a
  few mas near those planets. For a site Skyfield also adds the Earth's limb
  deflection (below a mas).
- time: the engine's TDB - TT comes from the leap-second kernel's one-term
  series, Skyfield's from a longer one (tens of microseconds, well below a
  microarcsecond even for the Moon).
Geometric J2000 places involve none of that and agree to rounding.
"""

import math

import numpy
import pytest

skyfield_api = pytest.importorskip("skyfield.api")
from skyfield.framelib import ecliptic_frame, ecliptic_J2000_frame  # noqa: E402
from skyfield.toposlib import Geoid  # noqa: E402

import tarvex  # noqa: E402
from conftest import DATA_DIR  # noqa: E402

SKYFIELD_NAMES = {
    "sun": "sun", "moon": "moon", "mercury": "mercury", "venus": "venus", "mars": "mars",
    "jupiter": "jupiter barycenter", "saturn": "saturn barycenter",
    "uranus": "uranus barycenter", "neptune": "neptune barycenter", "pluto": "pluto barycenter",
}
# Spread over the kernel's 1997-2009 span, away from its edges.
TT_JULIAN_DAYS = numpy.linspace(2450500.3, 2455150.7, 9)
APPARENT_TOLERANCE_ARCSEC = 0.05
GEOMETRIC_TOLERANCE_ARCSEC = 1e-6
TOPOCENTRIC_TOLERANCE_ARCSEC = 0.1
# GRS80, the ellipsoid of the engine's observer (Skyfield has WGS84 built in;
# the two differ by 0.1 mm in the polar radius).
GRS80 = Geoid("GRS80", 6378137.0, 298.257222101)


@pytest.fixture(scope="module")
def skyfield():
    ephemeris = skyfield_api.load_file(str(DATA_DIR / "de405s.bsp"))
    return ephemeris, skyfield_api.load.timescale(builtin=True)


def separation_arcsec(lon1, lat1, lon2, lat2):
    """Great-circle angle between two directions given in degrees."""
    def unit(lon, lat):
        lon, lat = math.radians(lon), math.radians(lat)
        return numpy.array([math.cos(lat) * math.cos(lon), math.cos(lat) * math.sin(lon), math.sin(lat)])

    chord = numpy.linalg.norm(unit(lon1, lat1) - unit(lon2, lat2))
    return math.degrees(2.0 * math.asin(chord / 2.0)) * 3600.0


def test_apparent_geocentric_places(shared_engine, skyfield):
    ephemeris, timescale = skyfield
    earth = ephemeris["earth"]
    ecliptic = tarvex.apparent()
    equatorial = tarvex.apparent(coordinate_system="equatorial")
    worst = {}
    for tt in TT_JULIAN_DAYS:
        t = timescale.tt_jd(tt)
        instant = tarvex.Instant.tt(tt)
        for body, name in SKYFIELD_NAMES.items():
            reference = earth.at(t).observe(ephemeris[name]).apparent(deflectors=(10,))
            lat, lon, distance = reference.frame_latlon(ecliptic_frame)  # true ecliptic of date
            ours = shared_engine.position(body, instant, ecliptic)
            angle = separation_arcsec(ours.longitude_deg, ours.latitude_deg, lon.degrees, lat.degrees)
            # Aberration and deflection turn the direction only: the distance
            # is the light-time one in both programs.
            assert ours.distance_au == pytest.approx(distance.au, rel=1e-11)
            ra, dec, _ = reference.radec("date")  # true equator and equinox of date
            ours = shared_engine.position(body, instant, equatorial)
            angle = max(angle, separation_arcsec(ours.longitude_deg, ours.latitude_deg,
                                                 ra.hours * 15.0, dec.degrees))
            worst[body] = max(worst.get(body, 0.0), angle)
    assert max(worst.values()) < APPARENT_TOLERANCE_ARCSEC, worst


def test_geometric_j2000_places(shared_engine, skyfield):
    ephemeris, timescale = skyfield
    earth = ephemeris["earth"]
    for tdb in TT_JULIAN_DAYS:
        t = timescale.tdb_jd(tdb)
        instant = tarvex.Instant(tdb)
        for body, name in SKYFIELD_NAMES.items():
            reference = (ephemeris[name] - earth).at(t)
            ra, dec, distance = reference.radec()  # the kernel's ICRF axes
            ours = shared_engine.position(body, instant, tarvex.geometric(coordinate_system="equatorial"))
            assert separation_arcsec(ours.longitude_deg, ours.latitude_deg, ra.hours * 15.0,
                                     dec.degrees) < GEOMETRIC_TOLERANCE_ARCSEC
            assert ours.distance_au == pytest.approx(distance.au, rel=1e-13)
            lat, lon, _ = reference.frame_latlon(ecliptic_J2000_frame)  # both use 84381.448"
            ours = shared_engine.position(body, instant, tarvex.geometric())
            assert separation_arcsec(ours.longitude_deg, ours.latitude_deg, lon.degrees,
                                     lat.degrees) < GEOMETRIC_TOLERANCE_ARCSEC


# TAI - UTC over the kernel's span (naif0012.tls), by the UTC Julian day of
# each step.
LEAP_SECONDS = [(2450630.5, 31.0), (2451179.5, 32.0), (2453736.5, 33.0), (2454832.5, 34.0)]


def tai_minus_utc(utc):
    return max([30.0] + [value for start, value in LEAP_SECONDS if utc >= start])


@pytest.fixture(scope="module")
def eop_rows():
    """MJD, pole x, pole y (arcsec) and UT1 - UTC (s) of the EOP table."""
    return numpy.loadtxt(DATA_DIR / "eop_c04_1962_2022.txt", usecols=(4, 5, 6, 7), comments="#")


def skyfield_time_like_the_engine(utc, rows):
    """A Skyfield time that sees the engine's UT1 and pole.

    Skyfield's own UT1 and pole come from other tables, and DUT1 moves the
    Moon of a topocentric observer by ~0.25" per second. So each instant gets
    a timescale whose constant delta T is TT - UT1 with DUT1 interpolated
    linearly in the same EOP table at the UTC instant, and whose polar-motion
    table holds the same daily rows (Skyfield interpolates them in TT; the
    engine in UTC, on the same rows, so the values agree). Without the pole
    the topocentric Moon would differ by up to ~8 mas; with it, by ~1 mas.
    """
    mjd = utc - 2400000.5
    k = int(numpy.searchsorted(rows[:, 0], mjd)) - 1
    fraction = (mjd - rows[k, 0]) / (rows[k + 1, 0] - rows[k, 0])
    dut1 = rows[k, 3] + fraction * (rows[k + 1, 3] - rows[k, 3])
    tt_minus_utc = tai_minus_utc(utc) + 32.184
    timescale = skyfield_api.load.timescale(delta_t=tt_minus_utc - dut1)
    near = slice(k - 2, k + 4)
    timescale.polar_motion_table = (rows[near, 0] + 2400000.5 + tt_minus_utc / 86400.0,
                                    rows[near, 1], rows[near, 2])
    return timescale.tt_jd(utc + tt_minus_utc / 86400.0)


SITES = [
    (-0.1275, 51.5072, 11.0),      # London
    (10.0, 89.0, 0.0),             # near the north pole
    (-120.0, -89.0, 2800.0),       # near the south pole, on the ice sheet
    (-155.4681, 19.8207, 4000.0),  # Mauna Kea
]


def test_topocentric_apparent_places(shared_engine, skyfield, eop_rows):
    ephemeris, _ = skyfield
    worst = {}
    for utc in numpy.linspace(2450600.3, 2455100.8, 7):
        t = skyfield_time_like_the_engine(utc, eop_rows)
        instant = tarvex.Instant.utc(utc)
        for lon, lat, height in SITES:
            site = ephemeris["earth"] + GRS80.latlon(lat, lon, elevation_m=height)
            options = tarvex.apparent("topocentric", "equatorial", tarvex.GeodeticObserver(lon, lat, height))
            for body, name in SKYFIELD_NAMES.items():
                reference = site.at(t).observe(ephemeris[name]).apparent(deflectors=(10,))
                ra, dec, _ = reference.radec("date")
                ours = shared_engine.position(body, instant, options)
                angle = separation_arcsec(ours.longitude_deg, ours.latitude_deg, ra.hours * 15.0, dec.degrees)
                worst[body] = max(worst.get(body, 0.0), angle)
    assert max(worst.values()) < TOPOCENTRIC_TOLERANCE_ARCSEC, worst
    # The Moon is the body that feels the site's UT1 and pole; a wrong DUT1
    # or a missing pole would show here well before the tolerance above.
    assert worst["moon"] < 0.004, worst
