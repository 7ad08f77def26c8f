"""tarvexkit.Ephemeris: default data, positions equal to the strict module
bit for bit, and events as Times."""

import builtins
import sys

import numpy as np
import pytest

import tarvex
import tarvexkit
from tarvexkit import data

from conftest import DATA_DIR, open_full_engine

BODIES = ["sun", "moon", "mercury", "venus", "mars", "jupiter", "saturn", "uranus", "neptune", "pluto"]


@pytest.fixture(scope="module")
def default():
    return tarvexkit.load()


def test_open_records_every_file_with_its_checksum(eph):
    from conftest import CHECKSUMS

    assert [(f.role, f.sha256) for f in eph.files[:2]] == [
        ("kernel", CHECKSUMS["de405s.bsp"]),
        ("additional kernel", CHECKSUMS["planet_centers_1997_2010.bsp"]),
    ]
    # The time files are read through their forms extended to any date,
    # whose records name the originals.
    assert [f.role for f in eph.files[2:]] == ["leap seconds", "earth orientation"]
    assert "naif0012.tls" in eph.files[2].source and "eop_c04_1962_2022.txt" in eph.files[3].source
    assert eph.engine.kernel_metadata.kernel_sha256 == CHECKSUMS["de405s.bsp"]
    with pytest.raises(FileNotFoundError, match="cannot read the kernel file .*nothing.bsp"):
        tarvexkit.open(DATA_DIR / "nothing.bsp")


@pytest.mark.parametrize(
    "options",
    [
        tarvex.apparent(),
        tarvex.geometric("barycentric", "equatorial"),
        tarvex.apparent("topocentric", "equatorial", tarvex.GeodeticObserver(-0.1275, 51.5072, 11.0)),
    ],
    ids=["apparent", "geometric", "topocentric"],
)
def test_positions_equal_the_strict_batch_bit_for_bit(eph, options):
    strict = open_full_engine()
    utc = eph.utc(2003, 1, np.arange(1, 29), 5, 30)
    tt = eph.times(np.linspace(2451000.0, 2454000.0, 77), "tt")
    for times in (utc, tt):
        ours = eph.positions(BODIES, times, options, threads=2)
        ref = strict.positions(BODIES, times.instants(), options)
        assert ours.shape == (len(times), len(BODIES), 4)
        assert np.array_equal(ours.view(np.uint64), ref.view(np.uint64))
    # Julian days with a scale give the same as the Times.
    assert np.array_equal(eph.positions(BODIES, tt.julian_days, options, scale="tt"), eph.positions(BODIES, tt, options))


def test_options_with_single_switches_give_the_strict_values(eph):
    # Switches set one by one reach the native store whole (through the
    # strict module's private capsule): the store's own batch, on worker
    # threads, equals the strict engine's, with no strict evaluation beside it.
    strict = open_full_engine()
    times = eph.utc(2005, 5, np.arange(1, 20))
    for options in (
        tarvex.PositionOptions("geocentric", "ecliptic", "j2000", light_time=True),
        tarvex.PositionOptions("geocentric", "equatorial", "j2000", aberration=True, light_time=True),
        tarvex.PositionOptions("barycentric", "ecliptic", "of_date", precession=True),
        tarvex.PositionOptions("geocentric", "ecliptic", "of_date", light_time=True, aberration=True,
                               gravitational_deflection=True, precession=True, nutation=True, true_ecliptic=True),
    ):
        ours = eph.positions(BODIES[1:], times, options)
        ref = strict.positions(BODIES[1:], times.instants(), options)
        assert np.array_equal(ours.view(np.uint64), ref.view(np.uint64))
        store = eph._store.positions(BODIES[1:], times.julian_days, times.scale, options, 2)
        assert np.array_equal(store.view(np.uint64), ref.view(np.uint64))
    assert not hasattr(eph, "_store_reads")
    with pytest.raises(ValueError) as ours:
        eph.positions(["sun"], times, tarvex.PositionOptions("geocentric", "ecliptic", "of_date"))
    with pytest.raises(ValueError) as ref:
        strict.positions(["sun"], times.instants(), tarvex.PositionOptions("geocentric", "ecliptic", "of_date"))
    assert str(ours.value) == str(ref.value)


def test_single_positions_houses_and_errors(eph):
    t = eph.utc(2008, 6, 17, 12)
    strict = open_full_engine()
    (instant,) = t.instants()
    assert eph.positions("mars", t)[0, 0, 0] == strict.position("mars", instant, tarvex.apparent()).longitude_deg
    site = tarvex.GeodeticObserver(-0.1275, 51.5072)
    cusps = eph.houses(site, t, "placidus")
    assert cusps.ascendant_deg == tarvex.house_cusps(site, float(t.ut1), float(t.tt), "placidus").ascendant_deg
    with pytest.raises(ValueError, match="pass scale="):
        eph.positions(["sun"], [2451545.0])
    with pytest.raises(ValueError, match="conflicts with the Times' own scale"):
        eph.positions(["sun"], t, scale="tt")
    with pytest.raises(ValueError, match="expected a single instant"):
        eph.chart(eph.utc(2008, 6, [1, 2]), site)
    # In UTC dates, with the kernel's name and span and what to do.
    with pytest.raises(ValueError, match=r"^2026-01-01T00:00:00Z is outside de405s.bsp, which covers 1997-01-0.* to "
                                         r"2010-01-0.* \(UTC\); load a kernel that covers 2026"):
        eph.positions(["sun"], eph.utc(2026, 1, 1))
    with pytest.raises(ValueError, match="load a kernel that covers 1850"):
        eph.positions("sun", eph.utc(1850, 1, 1))


def test_one_method_per_question_and_the_strict_engine_beside_it(eph):
    """positions/houses/sidereal_positions answer for every system and
    ayanamsha; the strict duplicates (which refused koch and raman) are gone,
    and the strict engine stays reachable with its own conventions."""
    for gone in ("position", "house_cusps", "sidereal_position"):
        assert not hasattr(eph, gone), gone
    t = eph.utc(2008, 6, 17, 12)
    site = tarvex.GeodeticObserver(-0.1275, 51.5072)
    koch = eph.houses(site, t, "koch")
    assert koch.system == "koch" and koch.defined and np.isfinite(koch.cusps_deg).all()
    raman = eph.sidereal_positions("sun", t, "raman")
    lahiri = eph.sidereal_positions("sun", t, "lahiri")
    assert 0.0 < raman[0, 0, 0] - lahiri[0, 0, 0] < 2.0  # Raman's ayanamsha is about 1.4 deg smaller
    (instant,) = t.instants()
    strict = eph.engine.sidereal_position("sun", instant, tarvex.apparent(), "lahiri")
    assert strict.longitude_deg == eph.sidereal_positions("sun", t, "strict_lahiri")[0, 0, 0]
    with pytest.raises(ValueError):
        eph.engine.sidereal_position("sun", instant, tarvex.apparent(), "raman")


def test_events_come_back_as_times_in_order(eph):
    start, stop = eph.utc(2008, 1, 1), eph.utc(2009, 1, 1)
    seasons = eph.seasons(start, stop)
    assert seasons.kinds == ["march_equinox", "june_solstice", "september_equinox", "december_solstice"]
    assert seasons.times.iso() == [
        "2008-03-20T05:48:17Z",
        "2008-06-20T23:59:22Z",
        "2008-09-22T15:44:29Z",
        "2008-12-21T12:03:46Z",
    ]
    lunations = eph.lunations(start, stop)
    assert len(lunations) == 25 and lunations.kinds[:2] == ["new_moon", "full_moon"]
    assert np.all(np.diff(lunations.times.tt) > 13.5)
    assert all(a != b for a, b in zip(lunations.kinds, lunations.kinds[1:]))
    # The kit's searches (Moon quarters, the Sun's ingresses) find the strict
    # engine's instants to well within their millisecond tolerance.
    strict = open_full_engine()
    for events, find in ((lunations, strict.next_lunation), (seasons, strict.next_season_event)):
        for kind, when in events:
            found = find(tarvex.Instant.tt(when.tt - 1.0), kind).julian_day
            assert abs(found - when.tt) < tarvexkit.searches.TOLERANCE_DAYS, (kind, when.iso())
    site = tarvex.GeodeticObserver(-0.1275, 51.5072)
    day = eph.rise_set_transit("sun", site, eph.utc(2008, 6, 21, 12))
    assert [day[k].iso() for k in ("rise", "transit", "set")] == [
        "2008-06-21T03:43:08Z", "2008-06-21T12:02:22Z", "2008-06-21T20:21:36Z"]
    assert eph.next_horizon_event("moon", site, start, "rise").tt > start.tt


def test_load_covers_today_with_every_body(default):
    roles = [f.role for f in default.files]
    assert roles == ["kernel", "additional kernel", "leap seconds", "earth orientation"]
    start, end = default.supported_range.utc
    assert start < 2415020.5 and end > 2470000.0  # 1899..2053
    now = default.now()
    assert abs(now.to_datetime().timestamp() - __import__("time").time()) < 5
    result = default.positions(BODIES, now, tarvex.apparent("topocentric", "ecliptic", tarvex.GeodeticObserver(0, 51.5)))
    assert result.shape == (1, 10, 4) and np.all(np.isfinite(result))
    # UT1 exists for the coming months (Bulletin A predictions).
    assert np.isfinite(default.utc(2027, 3, 1).ut1)
    # The outer planets sit on their system barycentres.
    jupiter = default.positions(["jupiter"], now, tarvex.geometric())
    assert 3.9 < jupiter[0, 0, 2] < 6.5


def test_missing_data_extra_says_what_to_install(monkeypatch):
    real_import = builtins.__import__

    def no_data(name, *args, **kwargs):
        if name in ("skyfield_data", "astropy_iers_data"):
            raise ImportError(name)
        return real_import(name, *args, **kwargs)

    monkeypatch.delitem(sys.modules, "skyfield_data", raising=False)
    monkeypatch.setattr(builtins, "__import__", no_data)
    with pytest.raises(ModuleNotFoundError, match=r"pip install tarvex\[data\]"):
        tarvexkit.load()


def test_merged_eop_table_continues_c04_with_bulletin_a(tmp_path, monkeypatch):
    monkeypatch.setenv("TARVEXKIT_CACHE", str(tmp_path))
    c04, bulletin_a = data.default_iers_files()
    merged = data.merged_eop(c04, bulletin_a)
    assert merged.path is not None and merged.path.parent == tmp_path
    rows = np.loadtxt(merged.path, comments="#", usecols=(4, 5, 6, 7))
    assert np.all(np.diff(rows[:, 0]) == 1.0)
    assert rows[0, 0] == 37665.0 and rows[-1, 0] > data._last_mjd(c04.read_text())
    # A second call reuses the file.
    assert data.merged_eop(c04, bulletin_a) == merged


def test_bad_inputs_are_refused_naming_the_argument_and_value(eph, monkeypatch):
    t, site = eph.utc(2005, 1, 1), tarvex.GeodeticObserver(0.0, 51.5, 0.0)
    for bad, field in ((tarvex.GeodeticObserver(400.0, 51.5, 0.0), "longitude_east_deg=400.0"),
                       (tarvex.GeodeticObserver(0.0, 51.5, -20000.0), "height_m=-20000.0")):
        for call in (lambda: eph.altaz("sun", bad, t), lambda: eph.chart(t, bad),
                     lambda: eph.risings_settings("sun", bad, t, t + 1)):
            with pytest.raises(ValueError, match=f"site: {field}"):
                call()
    with pytest.raises(TypeError, match=r"additional_kernels must be a list of paths, not a single str; "
                                        r"write additional_kernels=\['x.bsp'\]"):
        tarvexkit.open(f"{DATA_DIR}/de405s.bsp", additional_kernels="x.bsp")
    with pytest.raises(ValueError, match=r"step_days=1e-05 is below the smallest step.*one minute"):
        eph.sign_ingresses("mars", t, t + 365, step_days=1e-5)
    monkeypatch.setattr(tarvexkit.searches, "MOST_SAMPLES", 1000)
    with pytest.raises(ValueError, match=r"step_days=0.01 samples the span of 365 days 3.65e\+04 times"):
        eph.stations("mars", t, t + 365, step_days=0.01)
    # Ayanamshas: absurd instants, and names of any length cut in messages.
    for tt, away in ((1e20, "1e\\+20 days away"), (1e300, "1e\\+300 days away")):
        with pytest.raises(ValueError, match=f"within 10000000 days .* {away}"):
            tarvexkit.ayanamsha_deg("lahiri", tt)
    with pytest.raises(ValueError, match=r"\.\.\. \(1000000 characters\); use one of") as info:
        tarvexkit.ayanamsha_deg("x" * 1_000_000, 2451545.0)
    assert len(str(info.value)) < 1000
    with pytest.raises(ValueError, match=r"unknown ayanamsha 'lahri' \(did you mean 'lahiri'"):
        tarvexkit.ayanamsha_deg("lahri", 2451545.0)
    # Charts: orbs and their aspect names, points in any case, dicts checked field by field.
    for orbs, error in ((float("nan"), "orbs=nan must be"), (-5, "orbs=-5 must be"),
                        ({"trine": float("nan")}, "orbs\\['trine'\\]=nan"),
                        ({"trin": 30}, "unknown aspect 'trin' \\(did you mean 'trine'")):
        with pytest.raises(ValueError, match=error):
            eph.chart(t, site, orbs=orbs)
    chart = eph.chart(t, site)
    assert chart.point("Sun") == chart.point(" sun ") == chart.point("sun")
    with pytest.raises(KeyError, match="no point 'Snu' \\(did you mean 'sun'\\?\\); it has sun, moon"):
        chart.point("Snu")
    plain = chart.to_dict()
    for change, error in ((("points", 0, "longitude_deg", "x"), "points\\[0\\].longitude_deg must be float"),
                          (("site_latitude_deg", 400), "site_latitude_deg=400.0 is not a latitude"),
                          (("zodiak", "tropical"), "no field 'zodiak' \\(did you mean 'zodiac'"),
                          (("cusps_deg", [1.0]), "cusps_deg must hold 12 cusps"),
                          (("aspects", "none"), "aspects must be a list")):
        bad = {**plain, "points": [dict(p) for p in plain["points"]]}
        if change[0] == "points":
            bad["points"][change[1]][change[2]] = change[3]
        else:
            bad[change[0]] = change[1]
        with pytest.raises((TypeError, ValueError), match=error):
            tarvexkit.Chart.from_dict(bad)
    assert tarvexkit.Chart.from_dict(plain) == chart
    with pytest.raises(ValueError, match="bodies is empty"):
        eph.phenomena([], t)
    with pytest.raises(tarvexkit.HouseCuspsUndefined, match='pass polar_fallback="porphyry"'):
        eph.houses(tarvex.GeodeticObserver(0.0, 80.0), t)
    # Unknown names: the near misses and where names come from.
    with pytest.raises(ValueError, match=r"unknown body \"marz\" \(did you mean 'mars'\?\): a body is .* NAIF id"):
        eph.positions(["sun", "marz"], t)
    with pytest.raises(ValueError, match=r"unknown body \"saturnn\" \(did you mean 'saturn'"):
        eph.sign_ingresses("saturnn", t, t + 30)
    # A user's own kernel is not told to load DE422.
    with pytest.raises(ValueError, match="load a kernel that covers 2026: open it with tarvexkit.open") as info:
        eph.positions("sun", eph.utc(2026))
    assert "de422" not in str(info.value)


def test_rises_and_sets_of_every_body_a_kernel_holds():
    """Phobos and Deimos (mar022-1.bsp), by name and by NAIF id; the
    planets there by name or id alike."""
    eph = tarvexkit.open(f"{DATA_DIR}/mar022-1.bsp")
    site = tarvex.GeodeticObserver(-70.0, -30.0, 2000.0)
    start, stop = eph.utc(1971, 11, 1), eph.utc(1971, 11, 3)
    phobos = eph.risings_settings("Phobos", site, start, stop)
    assert phobos.kinds == ["set", "rise", "set", "rise"]
    assert np.array_equal(eph.risings_settings(401, site, start, stop).times.tt, phobos.times.tt)
    assert np.array_equal(eph.risings_settings(499, site, start, stop).times.tt,
                          eph.risings_settings("mars", site, start, stop).times.tt)
    # The body's topocentric altitude is the standard -34' at each event.
    altitude = eph.altaz("phobos", site, phobos.times).altitude_deg
    assert np.allclose(altitude, -34.0 / 60.0, atol=1e-4)
    found = eph.rise_set_transit(402, site, start)
    assert all(found[k] is not None for k in ("rise", "transit", "set"))
    with pytest.raises(ValueError, match="no attached kernel holds ceres .* mar022-1.bsp"):
        eph.risings_settings("ceres", site, start, stop)
    with pytest.raises(ValueError, match="unknown body \"fobos\" \\(did you mean 'phobos'"):
        eph.transits("fobos", site, start, stop)


def test_load_takes_additional_kernels_as_open_does(default):
    import pickle

    eph = tarvexkit.load(additional_kernels=[f"{DATA_DIR}/mar022-1.bsp"])
    assert [f.role for f in eph.files][:3] == ["kernel", "additional kernel", "additional kernel"]
    t = eph.utc(1972, 1, 1)
    assert np.isfinite(eph.positions(["phobos", "moon"], t)).all()
    assert pickle.loads(pickle.dumps(t)).ut1 == t.ut1  # opened again with the same kernels
    with pytest.raises(TypeError, match="additional_kernels must be a list of paths, not a single str"):
        tarvexkit.load(additional_kernels="mar022-1.bsp")
