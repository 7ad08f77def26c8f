"""tarvexkit time for any date: Delta T of Stephenson, Morrison and
Hohenkerk (2016) against Skyfield, UT1 before and after the IERS series,
topocentric places and houses against Skyfield fed the same Delta T, calendar
fields against Skyfield's ts.utc and ERFA, and Times as a value."""

import copy
import pickle
from datetime import date, datetime, timedelta, timezone

import erfa
import numpy as np
import pytest

import tarvex
import tarvexkit
from tarvexkit import delta_t, ut1_extension

JD_ULP = 4.7e-10  # one ulp of a Julian day near 2.45e6 (40 microseconds)


@pytest.fixture(scope="module")
def default():
    pytest.importorskip("skyfield_data")
    pytest.importorskip("astropy_iers_data")
    return tarvexkit.load()


@pytest.fixture(scope="module")
def skyfield():
    from skyfield.api import load, load_file

    return load.timescale(builtin=True), load_file(str(tarvexkit.data.default_kernel()))


# --- Delta T -------------------------------------------------------------------

def test_delta_t_matches_skyfield_over_the_table_and_is_continuous(skyfield):
    ts, _ = skyfield
    # Skyfield's own Delta T before 1962 is the same 2016 spline.
    tt = np.linspace(1538432.0, 2437300.0, 4000)  # -500 .. 1961
    diff = delta_t.delta_t_seconds(tt) - ts.tt_jd(tt).delta_t
    assert np.max(np.abs(diff)) < 0.01
    # The table's published checks.
    years = np.array([1900.0, 1905.0, 1950.0, 1960.0])
    jd = 2451545.0 + (years - 2000.0) * 365.25
    assert np.allclose(delta_t.delta_t_seconds(jd), [-1.977, 4.923, 28.932, 33.0726], atol=5e-4)
    # No jump where the table gives way to the shifted parabola.
    for year in delta_t.table_span():
        jd = 2451545.0 + (year - 2000.0) * 365.25
        assert abs(delta_t.delta_t_seconds(jd + 1e-3) - delta_t.delta_t_seconds(jd - 1e-3)) < 0.01
    # Far outside, the paper's parabola's curvature.
    y = np.array([-3000.0, -2000.0, -1000.0])
    dt = delta_t.delta_t_seconds(2451545.0 + (y - 2000.0) * 365.25)
    assert np.diff(dt, 2)[0] == pytest.approx(2 * 32.5 * 1000**2 / 100**2, rel=1e-9)


# --- UT1 everywhere -------------------------------------------------------------

def test_ut1_from_1899_to_2053_joins_without_jumps(default):
    tt = np.arange(2414864.5 + 2, 2471184.5 - 2, 0.25)
    times = default.times(tt, "tt")
    dt = (times.tt - times.ut1) * 86400.0
    # Delta T changes by under 5 ms a day everywhere (the most in 1905-1915),
    # joins included (the model meets the IERS series in 1961 by a ramp, the
    # prediction takes the last Bulletin A value and rate); leap seconds do
    # not touch TT - UT1. Before 1961 UT1 is the model itself, whose published
    # segments meet within 1 ms (its coefficients are rounded).
    assert np.max(np.abs(np.diff(dt))) < 0.005 * 0.25 + 0.001
    spans = default._clock.spans
    assert spans is not None and spans.iers_start < 2437700.0 < spans.measured_end < spans.predicted_end
    # Before the IERS series, Delta T of the model (the table's rows every ten days).
    early = tt < spans.iers_start - 366
    assert np.max(np.abs(dt[early] - delta_t.delta_t_seconds(tt[early]))) < 0.003
    # Flagged as predicted past the last measured row only.
    flags = times.ut1_predicted
    assert not flags[tt < spans.measured_end].any() and flags[tt > spans.measured_end + 1].all()
    assert default.utc(2035, 1, 1).ut1_predicted and not default.utc(2000, 1, 1).ut1_predicted


def test_extended_table_keeps_the_iers_values(default, tmp_path):
    """Restated on TAI - 10 s before 1972, the IERS rows give the same UT1 for
    the same instant: UT1 of civil 1965 is UTC + UT1-UTC of the C04 file."""
    from conftest import DATA_DIR

    table = np.loadtxt(DATA_DIR / "eop_c04_1962_2022.txt", comments="#", usecols=(4, 7))
    for mjd in (37700.0, 39000.25, 41316.0, 45000.0):
        t = default.times(mjd + 2400000.5, "utc")
        dut1 = np.interp(mjd, table[:, 0], table[:, 1])
        assert (t.ut1 - (mjd + 2400000.5)) * 86400 == pytest.approx(dut1, abs=2e-3)  # C04 14 vs 20
    # Over the day that ends with a leap second UT1 stays continuous: the
    # step of UT1 - UTC waits until the second itself.
    d0, d1 = (np.interp(m, table[:, 0], table[:, 1]) for m in (57753.0, 57754.0))
    t = default.times(57753.5 + 2400000.5, "utc")
    assert (t.ut1 - t.utc) * 86400 == pytest.approx((d0 + d1 - 1.0) / 2, abs=2e-3)
    with pytest.raises(ValueError, match="no rows"):
        ut1_extension.extend_eop_text("# nothing\n", 37.0)
    assert ut1_extension.extend_leap_second_text("DELTET/DELTA_AT = ( 11, @1972-JUL-1 )") is None


@pytest.mark.parametrize("year", [1905, 1930, 1950, 1965, 1975, 2035, 2050])
def test_topocentric_moon_and_houses_against_skyfield(default, skyfield, year):
    from skyfield.api import wgs84

    ts, planets = skyfield
    site = tarvex.GeodeticObserver(13.405, 52.52, 34.0)
    t = default.utc(year, 5, 17, 21, 13, 7.5)
    t_sf = ts.tt_jd(t.tt)
    t_sf.delta_t = (t.tt - t.ut1) * 86400.0  # the same Delta T
    opts = tarvex.apparent("topocentric", "equatorial", site)
    ra, dec = default.positions("moon", t, opts)[0, 0, :2]
    where = planets["earth"] + wgs84.latlon(52.52, 13.405, elevation_m=34.0)
    ra_sf, dec_sf, _ = where.at(t_sf).observe(planets["moon"]).apparent().radec(epoch="date")
    d_ra = ((ra - ra_sf._degrees + 180) % 360 - 180) * np.cos(np.radians(dec)) * 3600
    assert abs(d_ra) < 0.1 and abs(dec - dec_sf.degrees) * 3600 < 0.1
    # Midheaven and ascendant from Skyfield's apparent sidereal time and ERFA's true obliquity.
    houses = default.houses(site, t)
    dpsi, deps = erfa.nut06a(t.tt, 0.0)
    eps = erfa.obl06(t.tt, 0.0) + deps
    ramc = np.radians(t_sf.gast * 15.0 + 13.405)
    mc = np.degrees(np.arctan2(np.sin(ramc), np.cos(ramc) * np.cos(eps))) % 360
    asc = np.degrees(np.arctan2(np.cos(ramc), -(np.sin(ramc) * np.cos(eps) + np.tan(np.radians(52.52)) * np.sin(eps)))) % 360
    assert abs((houses.midheaven_deg - mc + 180) % 360 - 180) * 3600 < 0.1
    assert abs((houses.ascendant_deg - asc + 180) % 360 - 180) * 3600 < 0.1


def test_sites_work_before_1972_and_after_the_predictions(default):
    site = tarvex.GeodeticObserver(-0.1275, 51.5072, 11.0)
    for when in (default.utc(1950, 7, 1, 6, 30), default.utc(2035, 3, 20, 14, 30), default.utc(1900, 6, 1)):
        chart = default.chart(when, site)
        assert len(chart.points) > 5
        sky = default.altaz("sun", site, when)
        assert -90 <= float(sky.altitude_deg) <= 90
        rst = default.rise_set_transit("sun", site, when)
        assert rst["transit"] is not None
        found = default.risings_settings("moon", site, when, when + 2)
        assert 2 <= len(found) <= 5


# --- calendar fields --------------------------------------------------------------

@pytest.mark.filterwarnings("ignore::erfa.ErfaWarning")
def test_fields_roll_over_as_skyfield_ts_utc(default, skyfield):
    ts, _ = skyfield
    rng = np.random.default_rng(23)
    n = 10_000
    year = rng.integers(1976, 2050, n)  # civil time before 1972 is not Skyfield's
    month = rng.integers(-30, 40, n)
    day = rng.integers(-400, 400, n) + rng.choice([0.0, 0.25, 0.5], n)
    hour = rng.uniform(-48, 72, n)
    minute = rng.integers(-200, 200, n) + rng.uniform(0, 1, n)
    second = rng.uniform(-100, 4000, n)
    ours = default.utc(year, month, day, hour, minute, second)
    theirs = ts.utc(year, month, day, hour, minute, second)
    exact = theirs.whole + theirs.tt_fraction
    # One float64 Julian day resolves 40 microseconds; equal to that.
    assert np.max(np.abs(ours.tt - exact)) <= 1.5 * JD_ULP
    assert default.utc(2000, 1, 9000).utc == sum(erfa.cal2jd(2000, 1, 1)) + 8999  # day 9000 from 2000-01-00
    assert default.utc(2026, 12, 7, 7.5) == default.utc(2026, 12, 7, 7, 30)
    assert default.utc(2026, 13, 0) == default.utc(2026, 12, 31)
    grid = default.utc(2026, 12, 7, 0, np.arange(0, 1440, 10))
    assert len(grid) == 144 and grid[-1].iso() == "2026-12-07T23:50:00Z"
    # The leap second is named on its day only, however it is written.
    leap = default.utc(2016, 12, 31, 23, 59, 60.5)
    assert leap == default.utc(2016, 12, 31, 24, 0, 0.5) and leap.iso(places=1) == "2016-12-31T23:59:60.5Z"


def test_strict_fields_name_the_field(default):
    cases = [
        ((2026, 13, 1), "month=13 is out of range: months run 1..12"),
        ((2026, 2, 29), "day=29 is out of range: 2026-02 has days 1..28"),
        ((2026, 1, 1, 24), "hour=24 is out of range"),
        ((2026, 1, 1, 0, 60), "minute=60 is out of range"),
        ((2026, 1, 1, 0, 0, 61.0), "second=61.0 is out of range"),
        ((2026, 1, 1, 7.5), "hour=7.5 must be a whole number"),
        ((1582, 10, 10), "1582-10-05..14 do not exist"),
    ]
    for fields, message in cases:
        calendar = "auto" if fields[0] == 1582 else "gregorian"
        with pytest.raises(ValueError, match=message):
            default.utc(*fields, strict=True, calendar=calendar)
    assert default.utc(2016, 12, 31, 23, 59, 60, strict=True).iso() == "2016-12-31T23:59:60Z"
    with pytest.raises(ValueError, match="unknown calendar 'hebrew'; use 'gregorian', 'julian' or 'auto'"):
        default.utc(2000, calendar="hebrew")


def test_bc_years_and_calendars_end_to_end(default):
    # Julian day numbers of ERFA for Gregorian dates; the Julian reform's days.
    t = default.utc(-43, 3, 15, 12, calendar="julian")  # 44 BC, the Ides of March
    assert t.iso() == "-0043-03-15T12:00:00Z" and t.calendar == "julian"
    assert t.utc == pytest.approx(1705426.0, abs=1e-6)
    auto = default.utc(1582, 10, 4, 12, calendar="auto")
    assert (default.utc(1582, 10, 15, 12, calendar="auto") - auto) == pytest.approx(1.0, abs=1e-7)  # Delta T moves
    assert auto.iso() == "1582-10-04T12:00:00Z" and (auto + 1).iso() == "1582-10-15T12:00:00Z"
    assert default.utc(1582, 10, 15, calendar="auto").utc == sum(erfa.cal2jd(1582, 10, 15))
    g = default.utc(0, 1, 1)
    assert g.iso() == "0000-01-01T00:00:00Z" and g.utc == sum(erfa.cal2jd(0, 1, 1))


def test_ut1_houses_and_utc_text_before_year_zero(default):
    # Before 0000-01-01, the first entry the extended leap-second kernel can
    # name, UT1 is TT - Delta T (SMH2016) as the table holds it from year 0 on.
    t = default.utc(-43, 3, 15, 11, calendar="julian")  # UTC is UT1 before 1961
    assert t.ut1 == pytest.approx(1705425.0 + 23 / 24, abs=JD_ULP)
    assert (t.tt - t.ut1) * 86400 == pytest.approx(float(delta_t.delta_t_seconds(t.tt)), abs=2 * JD_ULP * 86400)
    back = default.times(t.ut1, "ut1")
    assert back.tt == pytest.approx(t.tt, abs=JD_ULP) and back.tdb == pytest.approx(t.tdb, abs=1e-8)
    # The two sides of year 0 join (the table interpolates yearly rows linearly).
    year_zero = 1721059.5 + 1.0
    for tt in (year_zero - 1e-6, year_zero + 1e-6):
        ut1 = default.times(tt, "tt").ut1
        assert (tt - ut1) * 86400 == pytest.approx(float(delta_t.delta_t_seconds(tt)), abs=0.01)
    cusps = default.houses(tarvex.GeodeticObserver(12.4964, 41.9028), t)
    assert np.all(np.isfinite(np.asarray(cusps.cusps_deg)))
    assert t.iso(timezone.utc, places=3) == "-0043-03-15T11:00:00.000+00:00"
    assert t.iso(timezone.utc) == "-0043-03-15T11:00:00+00:00"
    with pytest.raises(ValueError, match="outside the range of datetime"):
        t.iso(timezone(timedelta(hours=1)))


# --- Times as a value ---------------------------------------------------------------

def test_times_arithmetic_order_hash_and_copies(default):
    a = default.utc(2026, 12, 7, 12)
    b = a + 1.5
    assert b - a == pytest.approx(1.5, abs=2 * JD_ULP) and (b - 1.5) == a
    assert (a + timedelta(hours=3)).iso() == "2026-12-07T15:00:00Z"
    assert (a - timedelta(days=1)).iso() == "2026-12-06T12:00:00Z"
    many = a + np.arange(3)
    assert len(many) == 3 and list(many - a) == pytest.approx([0, 1, 2], abs=2 * JD_ULP)
    # The same instant from UTC and from TT is one value.
    same = default.times(a.tt, "tt")
    assert a.scale == "utc" and same == a and hash(same) == hash(a) and len({a, same, b}) == 2
    assert a < b and b > a and a <= same and not (a != same)
    shuffled = [b, default.times(a.tdb, "tdb"), a + 0.5]
    assert [t.iso() for t in sorted(shuffled)] == [a.iso(), (a + 0.5).iso(), b.iso()]
    assert bool(a) and bool(many[:0])
    with pytest.raises(TypeError, match="array Times is not hashable"):
        hash(many)
    assert copy.deepcopy(a) == a and copy.copy(many) == many
    # Across the leap second of 2016, 1 day of TT less a second is one UTC day.
    before = default.utc(2016, 12, 31, 12)
    assert (default.utc(2017, 1, 1, 12) - before) * 86400 == pytest.approx(86401.0, abs=1e-4)


def test_times_pickle_reopens_an_equal_ephemeris(default):
    t = default.utc(1950, 7, 1, 6, np.array([30.0, 45.0]), calendar="auto")
    blob = pickle.dumps(t)
    assert b"Clock" not in blob and b"_native" not in blob
    back = pickle.loads(blob)
    assert back == t and back.calendar == "auto" and back.iso() == t.iso()
    assert np.array_equal(back.ut1, t.ut1)


def test_times_from_dates_datetimes_datetime64_and_iso_text(default):
    t = default.utc(2026, 3, 20, 14, 30)
    assert default.from_datetime(datetime(2026, 3, 20, 14, 30, tzinfo=timezone.utc)) == t
    assert default.from_datetime(np.datetime64("2026-03-20T14:30")) == t
    assert default.from_datetime("2026-03-20T14:30Z") == t
    assert default.from_datetime("2026-03-20T16:30:00+02:00") == t
    assert default.from_datetime(date(2026, 3, 20)) == default.utc(2026, 3, 20)
    both = default.from_datetime(np.array(["2026-03-20T14:30", "2026-03-21T14:30"], dtype="datetime64[s]"))
    assert len(both) == 2 and both[1] - both[0] == pytest.approx(1.0, abs=2 * JD_ULP)
    assert default.from_datetime("2016-12-31T23:59:60Z").iso() == "2016-12-31T23:59:60Z"
    with pytest.raises(ValueError, match="has no time zone"):
        default.from_datetime("2026-03-20T14:30")
    with pytest.raises(ValueError, match="not an ISO 8601 date"):
        default.from_datetime("20th of March")
