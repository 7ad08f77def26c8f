"""JPL ephemerides converted from the PyPI coefficient arrays
(`tarvexkit.load("de421" | "de422" | "de423")`, `tarvexkit.jpl_arrays`).

References: jplephem reading the converted file (every coefficient, bit for
bit); exact rational arithmetic for the Earth/Moon split; NAIF's DE421
(skyfield-data's de421.bsp, read by jplephem) where the spans overlap;
Skyfield's apparent places. The `de421` package is in the test extras;
the DE422 checks skip unless the `de422` package is installed."""

import importlib.util
import io
import os
import stat
from fractions import Fraction
from pathlib import Path

import numpy as np
import pytest

import tarvex
import tarvexkit
from tarvexkit import jpl_arrays

jplephem_spk = pytest.importorskip("jplephem.spk")
pytest.importorskip("de421", reason="the de421 arrays come with the test extras: pip install .[test]")


@pytest.fixture
def cache(tmp_path, monkeypatch):
    directory = tmp_path / "cache"
    monkeypatch.setenv("TARVEXKIT_CACHE", str(directory))
    return directory


@pytest.fixture(scope="module")
def converted(tmp_path_factory):
    """The de421 arrays and the kernel written from them, opened by jplephem."""
    arrays = jpl_arrays.installed_arrays("de421")
    path = tmp_path_factory.mktemp("eras") / "de421_arrays.bsp"
    with open(path, "wb") as f:
        digest = jpl_arrays.write_kernel(arrays, f)
    kernel = jplephem_spk.SPK.open(str(path))
    yield arrays, path, digest, kernel
    kernel.close()


def naif_de421():
    import skyfield_data

    return jplephem_spk.SPK.open(str(Path(skyfield_data.__file__).parent / "data" / "de421.bsp"))


def test_every_coefficient_is_copied_and_the_earth_and_moon_split_in_one_rounding(converted):
    arrays, path, digest, kernel = converted
    assert digest == tarvexkit.data.sha256_of(path)
    assert os.path.getsize(path) == jpl_arrays.kernel_bytes(arrays)
    for array, target, center in jpl_arrays.COPIED_BODIES:
        values = np.asarray(arrays.body(array))
        init, length, coefficients = kernel[center, target].load_array()
        assert init == arrays.start_jd  # jplephem gives Julian days
        assert length * values.shape[0] == arrays.end_jd - arrays.start_jd
        # jplephem: (axis, record, coefficient); the package: (record, axis, coefficient).
        np.testing.assert_array_equal(coefficients, values.transpose(1, 0, 2), err_msg=array)
    moon = np.asarray(arrays.body("moon")).transpose(1, 0, 2)
    emrat = Fraction(arrays.constants["EMRAT"])
    earth = kernel[3, 399].load_array()[2]
    moon_from_barycentre = kernel[3, 301].load_array()[2]
    rng = np.random.default_rng(26)
    for index in rng.choice(moon.size, 4000, replace=False):
        c = Fraction(float(moon.flat[index]))
        assert earth.flat[index] == float(c * (-1 / (1 + emrat)))
        assert moon_from_barycentre.flat[index] == float(c * emrat / (1 + emrat))
    # The Earth's and the Moon's coefficients still sum to the geocentric Moon's.
    np.testing.assert_allclose(moon_from_barycentre - earth, moon, rtol=3e-16, atol=0)
    for planet in (199, 299):
        assert not kernel[planet // 100, planet].load_array()[2].any()


def test_one_rounding_where_plain_floating_point_rounds_twice(monkeypatch):
    # Near-ties are settled in exact arithmetic; the plain product c * E / (1 + E)
    # rounds twice and misses the nearest double for about a quarter of the values.
    rng = np.random.default_rng(7)
    values = rng.standard_normal(20000) * 10.0 ** rng.integers(-12, 9, 20000)
    ratio = Fraction(81.30056940449234) / (1 + Fraction(81.30056940449234))
    nearest = np.array([float(Fraction(float(v)) * ratio) for v in values])
    np.testing.assert_array_equal(jpl_arrays.scaled_once(values, ratio), nearest)
    assert np.count_nonzero(values * 81.30056940449234 / 82.30056940449234 != nearest) > 1000
    # Products exactly halfway between two doubles go to the even one:
    # 3 * (2**53 + 1) / (3 * 2**53) = 1 + 2**-53, between 1 and 1 + 2**-52.
    # Such near-ties go to exact rational arithmetic.
    exact = []
    monkeypatch.setattr(jpl_arrays, "_nearest_exact", lambda c, r: exact.append(c) or float(Fraction(c) * r))
    ties = jpl_arrays.scaled_once(np.array([3.0, -3.0, 6.0, 1.5]), Fraction(2**53 + 1, 3 * 2**53))
    np.testing.assert_array_equal(ties, [1.0, -1.0, 2.0, 0.5])
    assert exact == [3.0, -3.0, 6.0, 1.5]


def test_pypi_arrays_against_naif_de421_within_a_third_of_a_metre(converted):
    """NAIF's de421.bsp and the PyPI arrays are the same ephemeris exported
    twice: about half the coefficients differ in their last digits, and the
    positions by at most 0.23 m (Mars) over 1899-12-04..2053-10-09; the
    Earth-Moon split agrees to 7 µm (Earth) and 0.6 mm (Moon)."""
    arrays, path, digest, kernel = converted
    naif = naif_de421()
    bounds_m = {(0, 1): 0.3, (0, 2): 0.3, (0, 3): 0.3, (0, 4): 0.3, (0, 5): 0.3, (0, 6): 0.3, (0, 7): 0.3,
                (0, 8): 0.3, (0, 9): 0.3, (0, 10): 0.3, (3, 399): 1e-5, (3, 301): 1e-3, (1, 199): 0, (2, 299): 0}
    try:
        for (center, target), bound_m in bounds_m.items():
            ours, theirs = kernel[center, target], naif[center, target]
            start, end = max(ours.start_jd, theirs.start_jd), min(ours.end_jd, theirs.end_jd)
            jd = np.linspace(start, end, 40001)
            jd[1:-1] += np.random.default_rng(target).uniform(-1, 1, jd.size - 2)
            difference_m = np.abs(ours.compute(jd) - theirs.compute(jd)).max() * 1000
            assert difference_m <= bound_m, (center, target, difference_m)
    finally:
        naif.close()


def test_load_writes_the_kernel_once_into_the_private_cache(cache):
    eph = tarvexkit.load("de421")
    kernel = eph.files[0]
    path = Path(kernel.path)
    assert path.parent == cache and path.suffix == ".bsp"
    assert stat.S_IMODE(os.stat(cache).st_mode) == 0o700
    assert (path.parent / (path.name + ".sha256")).read_text().strip() == kernel.sha256
    assert kernel.sha256 == tarvexkit.data.sha256_of(path)
    assert kernel.source.startswith("PyPI de421 2008.1")
    assert eph.recipe is not None and eph.recipe.arguments == ("de421",)
    first, last = eph.supported_range.iso()
    assert first.startswith("1899-12-04") and last.startswith("2200-01-31")
    written = path.stat().st_mtime_ns
    again = tarvexkit.load("de421")
    assert again.files[0].sha256 == kernel.sha256 and path.stat().st_mtime_ns == written
    assert tarvexkit.ephemeris.reopen(eph.recipe).files[0].sha256 == kernel.sha256

    # A damaged cache is noticed, said, and written again.
    with open(path, "r+b") as f:
        f.seek(5000)
        f.write(b"\x7f")
    with pytest.warns(RuntimeWarning, match="does not match its SHA-256"):
        mended = tarvexkit.load("de421")
    assert mended.files[0].sha256 == kernel.sha256


def test_load_without_a_writable_cache_builds_in_a_temporary_file(tmp_path, monkeypatch):
    blocker = tmp_path / "not-a-directory"
    blocker.write_text("")
    monkeypatch.setenv("TARVEXKIT_CACHE", str(blocker / "cache"))
    eph = tarvexkit.load("de421")
    assert not os.path.exists(eph.files[0].path)  # removed once held
    t = eph.times(2488069.5, "tdb")  # 2100
    assert np.isfinite(eph.positions(["moon"], t)).all()


@pytest.mark.parametrize("where", ["writing", "after writing"])
@pytest.mark.parametrize("cached", [True, False])
def test_an_interrupted_conversion_leaves_no_partial_kernel(tmp_path, monkeypatch, where, cached):
    import tempfile

    scratch = tmp_path / "tmp"
    scratch.mkdir()
    monkeypatch.setattr(tempfile, "tempdir", str(scratch))
    blocker = tmp_path / "not-a-directory"
    blocker.write_text("")
    cache = tmp_path / "cache" if cached else blocker / "cache"
    monkeypatch.setenv("TARVEXKIT_CACHE", str(cache))

    def interrupted(*args, **kwargs):
        raise KeyboardInterrupt

    if where == "writing":
        def write_part(arrays, out, progress=None):
            out.write(b"DAF/SPK " * 100_000)
            raise KeyboardInterrupt
        monkeypatch.setattr(jpl_arrays, "write_kernel", write_part)
    else:
        monkeypatch.setattr(tarvexkit.data, "default_iers_files", interrupted)
    with pytest.raises(KeyboardInterrupt):
        tarvexkit.load("de421")
    assert list(scratch.iterdir()) == []
    if cached:
        assert not [p for p in cache.iterdir() if p.name.startswith(".tarvexkit-")]


def test_load_argument_errors(cache, monkeypatch):
    with pytest.raises(ValueError, match=r"unknown ephemeris 'de999': expected None .* 'de422'"):
        tarvexkit.load("de999")
    with pytest.raises(TypeError, match="ephemeris must be a str"):
        tarvexkit.load(422)  # type: ignore[arg-type]
    real = importlib.import_module

    def without_de423(name, *args):
        if name == "de423":
            raise ImportError(name)
        return real(name, *args)

    monkeypatch.setattr(jpl_arrays.importlib, "import_module", without_de423)
    with pytest.raises(ModuleNotFoundError, match=r"pip install tarvex\[de423\]"):
        tarvexkit.load("de423")


def test_progress_bar_on_a_terminal_only():
    class Terminal(io.StringIO):
        def isatty(self):
            return True

    shown = Terminal()
    bar = jpl_arrays.Progress("converting", 2_000_000, shown)
    bar.advance(1_000_000)
    bar.advance(1_000_000)
    bar.close()
    assert " 50%|############" in shown.getvalue() and "100%" in shown.getvalue()
    assert shown.getvalue().endswith("2/2 MB [0s]\n")
    quiet = io.StringIO()
    bar = jpl_arrays.Progress("converting", 10, quiet)
    bar.advance(10)
    bar.close()
    assert quiet.getvalue() == ""


def separation_arcsec(lon1, lat1, lon2, lat2):
    """Great-circle angle between two directions in degrees (from the chord,
    precise for small angles)."""
    def unit(lon, lat):
        lon, lat = np.radians(lon), np.radians(lat)
        return np.array([np.cos(lat) * np.cos(lon), np.cos(lat) * np.sin(lon), np.sin(lat)])

    chord = np.linalg.norm(unit(lon1, lat1) - unit(lon2, lat2))
    return float(np.degrees(2.0 * np.arcsin(chord / 2.0)) * 3600.0)


def test_apparent_places_after_2053_against_skyfield(cache):
    """Past the end of NAIF's DE421 file: Skyfield reading the same
    converted kernel agrees to its usual milliarcseconds (IAU 2000B
    against 2000A nutation, deflection by the Sun only)."""
    skyfield_api = pytest.importorskip("skyfield.api")
    from skyfield.framelib import ecliptic_frame

    eph = tarvexkit.load("de421")
    planets = skyfield_api.load_file(eph.files[0].path)
    ts = skyfield_api.load.timescale(builtin=True)
    names = {"sun": "sun", "moon": "moon", "mars": "mars barycenter", "jupiter": "jupiter barycenter"}
    worst = 0.0
    for jd_tt in (2488070.25, 2506440.5, 2524600.75):  # 2100, 2150, 2199
        ours = eph.positions(list(names), eph.times(jd_tt, "tt"))[0]
        observer = planets["earth"].at(ts.tt_jd(jd_tt))
        for row, name in zip(ours, names.values()):
            lat, lon, _ = observer.observe(planets[name]).apparent(deflectors=(10,)).frame_latlon(ecliptic_frame)
            worst = max(worst, separation_arcsec(row[0], row[1], lon.degrees, lat.degrees))
    assert worst < 0.005, worst


@pytest.mark.skipif(importlib.util.find_spec("de422") is None,
                    reason="needs the de422 arrays (pip install tarvex[de422], 545 MB), not in the test extras")
def test_de422_ides_of_march_44_bc(cache):
    eph = tarvexkit.load("de422")
    arrays = jpl_arrays.installed_arrays("de422")
    kernel = jplephem_spk.SPK.open(eph.files[0].path)
    try:
        for array, target, center in jpl_arrays.COPIED_BODIES:
            values = np.asarray(arrays.body(array)[::97])
            coefficients = kernel[center, target].load_array()[2][:, ::97]
            np.testing.assert_array_equal(coefficients, values.transpose(1, 0, 2), err_msg=array)
    finally:
        kernel.close()
    first, last = eph.supported_range.iso()
    assert first.startswith("-3000-") and last.startswith("3000-01-")
    rome = tarvex.GeodeticObserver(12.4964, 41.9028, 20.0)
    chart = eph.chart(eph.utc(-43, 3, 15, 11, calendar="julian"), rome)
    assert chart.time_utc == "-0043-03-15T11:00:00.000Z"
    assert chart.time_local == "-0043-03-15T11:00:00.000+00:00"
    ours = {p.name: p.longitude_deg for p in chart.points}
    # Swiss Ephemeris' analytic theory (Moshier, no files) at the same UT.
    # Its Delta T (adapted to its own lunar tidal acceleration) is 98 s
    # longer than SMH2016's here: 0.1" of the Sun's path, 54" of the Moon's.
    swe = pytest.importorskip("swisseph")
    jd_ut = swe.julday(-43, 3, 15, 11.0, swe.JUL_CAL)
    for body, name, bound_arcsec in ((swe.SUN, "sun", 2.0), (swe.MOON, "moon", 70.0), (swe.MARS, "mars", 5.0),
                                     (swe.JUPITER, "jupiter", 5.0), (swe.SATURN, "saturn", 5.0)):
        theirs = swe.calc_ut(jd_ut, body, swe.FLG_MOSEPH)[0][0]
        assert abs((ours[name] - theirs + 180) % 360 - 180) * 3600 < bound_arcsec, (name, ours[name], theirs)
