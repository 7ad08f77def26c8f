"""Bodies by NAIF id and by name in tarvexkit, and de440s-style kernels
(planets held only as system barycentres), against CSPICE (spiceypy) on
kernels written here with the NAIF toolkit's own writers."""

import math

import numpy as np
import pytest

import tarvex
import tarvexkit
from conftest import DATA_DIR

spice = pytest.importorskip("spiceypy")

GM_SUN = 1.32712440041939e11
T0 = 0.0  # 2000-01-01 12:00 TDB
SPAN = 300 * 86400.0
OFFSET_KM = np.array([70000.0, -40000.0, 15000.0])  # a satellite-sized pull on Jupiter's centre


def kepler_state(t, a=4.14e8, e=0.0785, inc=0.185, node=1.40, peri=1.28, m0=0.3):
    n = math.sqrt(GM_SUN / a**3)
    m = m0 + n * t
    big_e = m
    for _ in range(30):
        big_e -= (big_e - e * math.sin(big_e) - m) / (1 - e * math.cos(big_e))
    r = a * (1 - e * math.cos(big_e))
    x, y = a * (math.cos(big_e) - e), a * math.sqrt(1 - e * e) * math.sin(big_e)
    vx = -math.sqrt(GM_SUN * a) / r * math.sin(big_e)
    vy = math.sqrt(GM_SUN * a * (1 - e * e)) / r * math.cos(big_e)
    rot = np.array(spice.rotate(-node, 3)) @ np.array(spice.rotate(-inc, 1)) @ np.array(spice.rotate(-peri, 3))
    return np.concatenate([rot @ [x, y, 0.0], rot @ [vx, vy, 0.0]])


@pytest.fixture(scope="module")
def kernels(tmp_path_factory):
    """ceres.bsp (Type 13, 2000001 about the Sun) and jupiter_centre.bsp
    (Type 9, 599 about its barycentre, a fixed offset), both over 2000."""
    out = tmp_path_factory.mktemp("bodies")
    epochs = [T0 + i * 5 * 86400.0 for i in range(61)]
    ceres = out / "ceres.bsp"
    handle = spice.spkopn(str(ceres), "ceres", 0)
    states = np.array([kepler_state(t) for t in epochs])
    spice.spkw13(handle, 2000001, 10, "J2000", epochs[0], epochs[-1], "ceres", 7, len(epochs), states, epochs)
    spice.spkcls(handle)
    centre = out / "jupiter_centre.bsp"
    handle = spice.spkopn(str(centre), "jupiter centre", 0)
    offsets = np.array([np.concatenate([OFFSET_KM, [0.0, 0.0, 0.0]]) for _ in epochs])
    spice.spkw09(handle, 599, 5, "J2000", epochs[0], epochs[-1], "jupiter", 3, len(epochs), offsets, epochs)
    spice.spkcls(handle)
    return {"ceres": ceres, "centre": centre}


def radec(target, jd, paths):
    spice.kclear()
    for path in paths:
        spice.furnsh(str(path))
    state, _ = spice.spkezr(target, (jd - 2451545.0) * 86400.0, "J2000", "NONE", "EARTH")
    distance, ra, dec = spice.recrad(state[:3])
    spice.kclear()
    return math.degrees(ra), math.degrees(dec), distance / 149597870.7


GEOMETRIC = tarvex.geometric(coordinate_system="equatorial")
JD = 2451545.0 + 100.25


def test_asteroids_by_name_and_by_id_agree_with_cspice(kernels):
    eph = tarvexkit.open(DATA_DIR / "de405s.bsp", additional_kernels=[kernels["ceres"]])
    by_name = eph.positions(["ceres", "Ceres"], [JD], GEOMETRIC, scale="tdb")[0]
    by_id = eph.positions([2000001, "2000001"], [JD], GEOMETRIC, scale="tdb")[0]
    np.testing.assert_array_equal(by_name, by_id)
    ra, dec, au = radec("2000001", JD, [DATA_DIR / "de405s.bsp", kernels["ceres"]])
    assert by_name[0, 0] == pytest.approx(ra, abs=1e-9)
    assert by_name[0, 1] == pytest.approx(dec, abs=1e-9)
    assert by_name[0, 2] == pytest.approx(au, rel=1e-12)


def test_barycentres_and_any_integer_id():
    eph = tarvexkit.open(DATA_DIR / "de405s.bsp")
    rows = eph.positions(["jupiter barycenter", "JUPITER_BARYCENTER", 5, "earth moon barycenter", 3],
                         [JD], GEOMETRIC, scale="tdb")[0]
    np.testing.assert_array_equal(rows[0], rows[1])
    np.testing.assert_array_equal(rows[0], rows[2])
    np.testing.assert_array_equal(rows[3], rows[4])
    ra, dec, _ = radec("5", JD, [DATA_DIR / "de405s.bsp"])
    assert rows[0, 0] == pytest.approx(ra, abs=1e-9) and rows[0, 1] == pytest.approx(dec, abs=1e-9)


def test_planet_at_its_barycentre_until_a_satellite_kernel_gives_the_centre(kernels):
    # de405s, like de440s, holds Jupiter only as its system barycentre.
    alone = tarvexkit.open(DATA_DIR / "de405s.bsp")
    jupiter, barycentre = alone.positions(["jupiter", "jupiter barycenter"], [JD], GEOMETRIC, scale="tdb")[0]
    np.testing.assert_array_equal(jupiter, barycentre)
    # With a kernel holding 599, the centre: CSPICE's Jupiter, offset included.
    attached = tarvexkit.open(DATA_DIR / "de405s.bsp", additional_kernels=[kernels["centre"]])
    centre = attached.positions(["jupiter"], [JD], GEOMETRIC, scale="tdb")[0, 0]
    ra, dec, au = radec("JUPITER", JD, [DATA_DIR / "de405s.bsp", kernels["centre"]])
    assert centre[0] == pytest.approx(ra, abs=1e-9)
    assert centre[1] == pytest.approx(dec, abs=1e-9)
    assert centre[2] == pytest.approx(au, rel=1e-12)
    assert abs(centre[0] - jupiter[0]) > 1e-4  # the offset shows


def test_a_body_no_kernel_holds_names_the_body_and_the_kernels(kernels):
    eph = tarvexkit.open(DATA_DIR / "de405s.bsp", additional_kernels=[kernels["ceres"]])
    # Chiron is integrated on first use (leaving out Ceres, whose kernel covers a few days); Pholus is not.
    assert np.isfinite(eph.positions(["chiron"], [JD], scale="tdb")).all()
    message = r"no attached kernel holds pholus \(NAIF id 2005145\); kernels searched: de405s.bsp, ceres.bsp"
    with pytest.raises(ValueError, match=message):
        eph.positions(["sun", "pholus"], [JD], scale="tdb")
    with pytest.raises(ValueError, match=message):
        eph.chart(eph.times([JD], "tt")[0], tarvex.GeodeticObserver(12.5, 41.9, 0.0), bodies=["sun", "pholus"])
    with pytest.raises(ValueError, match=r"no attached kernel holds -77 \(NAIF id -77\)"):
        eph.positions([-77], [JD], scale="tdb")
    with pytest.raises(ValueError, match='unknown body "vulcan"'):
        eph.positions(["vulcan"], [JD], scale="tdb")
    with pytest.raises(TypeError, match=r"bodies\[0\] must be a body's name \(str\) or NAIF id \(int\)"):
        eph.positions([2.5], [JD], scale="tdb")


def test_asteroids_in_searches_altaz_and_charts(kernels):
    eph = tarvexkit.open(DATA_DIR / "de405s.bsp", additional_kernels=[kernels["ceres"]],
                         leap_seconds=DATA_DIR / "naif0012.tls", eop=DATA_DIR / "eop_c04_1962_2022.txt")
    start, stop = eph.times([2451550.0, 2451780.0], "tt")
    found = eph.stations("ceres", start, stop)
    assert found.kinds == ["retrograde", "direct"]
    hour = 1.0 / 24.0
    for kind, t in found:
        speeds = eph.positions("ceres", eph.times([t.tt - hour, t.tt + hour], "tt"))[:, 0, 3]
        assert (speeds[0] > 0.0 > speeds[1]) if kind == "retrograde" else (speeds[0] < 0.0 < speeds[1])
    site = tarvex.GeodeticObserver(12.5, 41.9, 0.0)
    when = eph.times([2451650.0], "tt")[0]
    sky = eph.altaz(["ceres", 2000001], site, when)
    assert sky.altitude_deg[0] == sky.altitude_deg[1]
    chart = eph.chart(when, site, bodies=["sun", "moon", "ceres"])
    assert "ceres" in str(chart)


def test_errors_of_toolkit_bodies_are_the_stores():
    # An instant outside the kernel with a body only the toolkit names: the
    # range error, not the strict module's "unknown body".
    eph = tarvexkit.open(DATA_DIR / "de405s.bsp")
    with pytest.raises(ValueError, match=r"1968-05-2\dT.* is outside de405s\.bsp, which covers 1997"):
        eph.positions([5], [2440000.5], tarvex.geometric(), scale="tdb")
