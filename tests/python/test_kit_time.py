"""tarvexkit dates and time scales against ERFA (calendar, TAI-UTC, TT-TDB),
the EOP file itself (UT1) and Skyfield (Delta T before 1961)."""

import zoneinfo
from datetime import datetime, timedelta, timezone

import erfa
import numpy as np
import pytest

import tarvexkit
from tarvexkit import calendar, delta_t

from conftest import DATA_DIR

# One ulp of a Julian day near 2.45e6 is 4.7e-10 day (40 microseconds); the
# calendar forms are compared at that resolution.
JD_ULP = 4.7e-10


def test_calendar_round_trips_against_erfa():
    rng = np.random.default_rng(1)
    year = rng.integers(-4000, 3000, 2000)
    month = rng.integers(1, 13, 2000)
    day = rng.integers(1, 29, 2000)
    number = calendar.day_number(year, month, day, "gregorian")
    ref = np.array([sum(erfa.cal2jd(y, m, d)) for y, m, d in zip(year, month, day)])
    assert np.array_equal(number - 0.5, ref)
    back = calendar.civil_from_day_number(number, "gregorian")
    assert all(np.array_equal(a, b) for a, b in zip(back, (year, month, day)))
    for jd in ref[:200]:
        assert erfa.jd2cal(jd, 0.0)[:3] == tuple(int(v) for v in calendar.civil_from_day_number(np.int64(jd + 0.5), "gregorian"))


def test_julian_calendar_and_the_gregorian_reform(eph):
    # The day after Thursday 1582-10-04 (Julian) was Friday 1582-10-15 (Gregorian).
    julian = eph.utc(1582, 10, 4, calendar="julian")
    gregorian = eph.utc(1582, 10, 15)
    assert gregorian.ut1 - julian.ut1 == 1.0
    assert calendar.is_leap_year(np.int64(1900), "julian") and not calendar.is_leap_year(np.int64(1900), "gregorian")
    eph.utc(1900, 2, 29, calendar="julian", strict=True)
    with pytest.raises(ValueError, match="day=29 is out of range: 1900-02 has days 1..28 in the Gregorian calendar"):
        eph.utc(1900, 2, 29, strict=True)
    assert eph.utc(1900, 2, 29) == eph.utc(1900, 3, 1)
    with pytest.raises(ValueError, match="unknown calendar 'hebrew'"):
        eph.utc(2000, 1, 1, calendar="hebrew")


# ERFA calls years past its leap-second table "dubious"; the kernel's last
# offset holds there, as in ERFA.
@pytest.mark.filterwarnings("ignore::erfa.ErfaWarning")
def test_utc_fields_agree_with_dtf2d_and_broadcast(eph):
    rng = np.random.default_rng(2)
    n = 500
    y, mo, d = rng.integers(1972, 2030, n), rng.integers(1, 13, n), rng.integers(1, 29, n)
    h, mi, s = rng.integers(0, 24, n), rng.integers(0, 60, n), rng.uniform(0, 59.999, n)
    times = eph.utc(y, mo, d, h, mi, s)
    assert times.scale == "utc" and len(times) == n
    ref = np.array([sum(erfa.dtf2d("UTC", *f)) for f in zip(y, mo, d, h, mi, s)])
    assert np.max(np.abs(times.utc - ref)) <= 2 * JD_ULP
    # Scalars broadcast against arrays.
    hours = eph.utc(2001, 2, 3, np.arange(24))
    assert np.allclose(np.diff(hours.utc), 1 / 24, atol=2 * JD_ULP)
    with pytest.raises(ValueError, match="hour=24 is out of range: hours run 0..23"):
        eph.utc(2001, 2, 3, 24, strict=True)
    assert eph.utc(2001, 2, 3, 24) == eph.utc(2001, 2, 4)
    with pytest.raises(TypeError, match="year must be an integer"):
        eph.utc("2001", 2, 3)
    with pytest.raises(ValueError, match="month=2.5 must be a whole number"):
        eph.utc(2001, 2.5, 3)


def test_tai_minus_utc_at_every_leap_second(eph):
    """TT from UTC fields around each leap second 1972-2017 equals ERFA's
    utctai + taitt, the 60th second included."""
    checked = 0
    for jd in np.arange(2441317.5, 2457755.5, 1.0):
        y, m, d, _ = erfa.jd2cal(jd, 0.0)
        if erfa.dat(*erfa.jd2cal(jd + 1, 0.0)[:3], 0.0) - erfa.dat(y, m, d, 0.0) != 1.0:
            continue
        for h, mi, s in ((23, 59, 59.0), (23, 59, 60.0), (23, 59, 60.5), (0, 0, 0.0), (0, 0, 1.0)):
            day = (y, m, d) if h == 23 else erfa.jd2cal(jd + 1, 0.0)[:3]
            t = eph.utc(*day, h, mi, s)
            tai = erfa.utctai(*erfa.dtf2d("UTC", *day, h, mi, s))
            tt = sum(erfa.taitt(*tai))
            assert abs(t.tt - tt) <= 2 * JD_ULP, (day, h, mi, s)
            checked += 1
    assert checked == 27 * 5
    leap = eph.utc(2016, 12, 31, 23, 59, 60.5)
    assert leap.scale == "tt" and leap.iso(places=1) == "2016-12-31T23:59:60.5Z"
    assert eph.utc(2016, 12, 31, 23, 59, 59.5).iso(places=1) == "2016-12-31T23:59:59.5Z"
    assert eph.utc(2017, 1, 1, 0, 0, 0.5).iso(places=1) == "2017-01-01T00:00:00.5Z"
    with pytest.raises(ValueError, match="only 23:59:60 on a day that ends with a leap second"):
        eph.utc(2016, 12, 30, 23, 59, 60, strict=True)
    with pytest.raises(ValueError, match="second=60.0 at 23:58 on 2016-12-31: only 23:59:60"):
        eph.utc(2016, 12, 31, 23, 58, 60, strict=True)
    # Without strict, a 60th second elsewhere is the next minute's first.
    assert eph.utc(2016, 12, 30, 23, 59, 60) == eph.utc(2016, 12, 31)
    assert eph.utc(2016, 12, 31, 23, 58, 60) == eph.utc(2016, 12, 31, 23, 59)


def _same_by_both_paths(eph, fields, calendar="gregorian"):
    """One instant by the scalar path (Python numbers) and the array path
    (arrays of one): the same bits of Julian day, the same ISO text."""
    one = eph.utc(*fields, calendar=calendar)
    many = eph.utc(*(np.array([f]) for f in fields), calendar=calendar)
    assert one.scale == many.scale and np.float64(one.julian_days).tobytes() == many.julian_days.tobytes(), fields
    for places in (0, 3, 9):
        assert one.iso(places=places) == many.iso(places=places)[0], (fields, calendar, places)


def test_one_instant_takes_the_array_paths_bits(eph):
    # Every leap second of the kernel, 2 s either side in quarter seconds,
    # named from the day before (23:59:58..62) and from the day after.
    days = [d for d in np.arange(2441316.5, 2457755.5) if eph._clock.leap_second_after(np.array([d]))[0] == 1.0]
    assert len(days) == 27
    for day in days:
        (y, m, d), (y1, m1, d1) = (erfa.jd2cal(day + k, 0.0)[:3] for k in (0, 1))
        for k in range(17):
            _same_by_both_paths(eph, (y, m, d, 23, 59, 58.0 + 0.25 * k))
            _same_by_both_paths(eph, (y1, m1, d1, 0, 0, 0.25 * k - 2.0))
        tt = eph.utc(y, m, d, 23, 59, 60.0).tt + np.arange(-8, 9) * 0.25 / 86400.0
        assert [t.iso(places=2) for t in eph.times(tt, "tt")] == eph.times(tt, "tt").iso(places=2)
    # A dense sample over the calendar range, fields that roll over, Julian
    # and switching calendars, civil time before 1972 (left to the array path).
    rng = np.random.default_rng(34)
    for _ in range(1500):
        year = int(rng.integers(-4700, 9990)) if rng.random() < 0.5 else int(rng.integers(1950, 2100))
        fields = (year, int(rng.integers(-2, 15)), float(rng.uniform(-1, 32)), int(rng.integers(-1, 25)),
                  float(rng.uniform(0, 60)), float(rng.uniform(-1, 61)))
        _same_by_both_paths(eph, fields, str(rng.choice(["gregorian", "julian", "auto"])))
    for when in ("2016-12-31T23:59:60.25Z", "1969-07-20T20:17:40Z", "2026-03-20T14:30:00.123+01:00",
                 datetime(2026, 3, 20, 14, 30, 1, 500, tzinfo=timezone.utc), np.datetime64("2000-01-01T12:00:00.5")):
        one, many = eph.from_datetime(when), eph.from_datetime([when])
        assert one.scale == many.scale and np.float64(one.julian_days).tobytes() == many.julian_days.tobytes()


def test_tdb_minus_tt_against_dtdb(eph):
    times = eph.times(np.linspace(2450500.0, 2455000.0, 300), "tt")
    diff = (times.tdb - times.tt) * 86400.0
    ref = np.array([erfa.dtdb(tt, 0.0, 0.0, 0.0, 0.0, 0.0) for tt in times.tt])
    # The leap-second kernel's two-term series against the full series.
    assert np.max(np.abs(diff - ref)) < 60e-6


def test_ut1_is_the_eop_table_interpolated(eph):
    table = np.loadtxt(DATA_DIR / "eop_c04_1962_2022.txt", comments="#", usecols=(4, 7))
    rng = np.random.default_rng(3)
    utc = rng.uniform(2441320.0, 2459900.0, 400)
    times = eph.times(utc, "utc")
    # Interpolated in UT1 - TAI, which has no leap-second steps, so that UT1
    # stays continuous over a day that ends with a leap second.
    def tai_minus_utc(mjd):
        return erfa.dat(*erfa.jd2cal(np.floor(mjd) + 2400000.5, 0.0)[:3], 0.0)

    dut1 = np.interp(utc - 2400000.5, table[:, 0], table[:, 1] - tai_minus_utc(table[:, 0])) + tai_minus_utc(utc - 2400000.5)
    assert np.max(np.abs(times.ut1 - (utc + dut1 / 86400.0))) <= JD_ULP
    # UT1 back to UTC goes through the table's inverse.
    again = eph.times(times.ut1, "ut1")
    assert np.max(np.abs(again.utc - utc)) <= 4 * JD_ULP


def test_before_1972_drift_segments_and_delta_t(eph):
    # 1961-1971: TAI - UTC from the drift lines equals ERFA's dat.
    for y, m, d in ((1961, 3, 1), (1963, 12, 31), (1966, 6, 15), (1968, 2, 1), (1971, 12, 31)):
        t = eph.utc(y, m, d, 12)
        assert t.scale == "tt"
        tai_utc = (t.tt - t.utc) * 86400.0 - 32.184
        assert tai_utc == pytest.approx(erfa.dat(y, m, d, 0.5), abs=1e-4)  # two Julian-day ulps
        assert t.iso() == f"{y:04d}-{m:02d}-{d:02d}T12:00:00Z"
    # The drift era meets the leap-second era with the 1972 step of 0.1077580 s.
    assert (eph.utc(1972, 1, 1).tt - eph.utc(1971, 12, 31, 23, 59, 59).tt) * 86400 == pytest.approx(1.107758, abs=1e-4)
    # UT1 in 1962-1971 comes from the EOP table.
    t = eph.utc(1965, 5, 5)
    table = np.loadtxt(DATA_DIR / "eop_c04_1962_2022.txt", comments="#", usecols=(4, 7))
    assert (t.ut1 - t.utc) * 86400 == pytest.approx(np.interp(t.utc - 2400000.5, table[:, 0], table[:, 1]), abs=1e-4)


def test_early_civil_time_round_trips(eph):
    t = eph.utc(1950, 7, 1, 6, 30, np.array([0.0, 15.25]))
    assert t.scale == "tt"
    assert t.iso(places=2) == ["1950-07-01T06:30:00.00Z", "1950-07-01T06:30:15.25Z"]
    # Before 1961 civil time is UT1.
    assert np.allclose(t.ut1, t.utc, atol=0)
    assert (t.tt[0] - t.ut1[0]) * 86400 == pytest.approx(float(delta_t.delta_t_seconds(t.tt[0])), abs=1e-4)
    # Julian days in UTC before 1972 become TT as well.
    assert np.allclose(eph.times(t.utc, "utc").tt, t.tt, rtol=0, atol=2 * JD_ULP)


def test_datetimes_and_zones(eph):
    berlin = zoneinfo.ZoneInfo("Europe/Berlin")
    local = datetime(2026, 3, 20, 14, 30, tzinfo=berlin)
    t = eph.from_datetime(local)
    assert t == eph.utc(2026, 3, 20, 13, 30)
    assert t.to_datetime() == local and t.to_datetime(berlin).hour == 14
    assert t.iso(tz=berlin) == "2026-03-20T14:30:00+01:00"
    many = eph.from_datetime([local + timedelta(hours=k) for k in range(5)])
    assert len(many) == 5 and many[4] == eph.utc(2026, 3, 20, 17, 30)
    with pytest.raises(ValueError, match="has no time zone; attach one"):
        eph.from_datetime(datetime(2026, 3, 20, 14, 30))
    with pytest.raises(TypeError, match="expected datetime, date, numpy.datetime64 or ISO 8601 text, got float"):
        eph.from_datetime([3.5])
    dt = eph.utc(2000, 1, 1, 12, 0, 0.25).to_datetime()
    assert dt == datetime(2000, 1, 1, 12, 0, 0, 250000, tzinfo=timezone.utc)


def test_times_container_and_instants(eph):
    t = eph.utc(2005, 1, np.arange(1, 11))
    assert len(t) == 10 and t[2] == eph.utc(2005, 1, 3) and len(t[::2]) == 5
    assert [x.iso() for x in t][:2] == ["2005-01-01T00:00:00Z", "2005-01-02T00:00:00Z"]
    assert "2005-01-01T00:00:00Z" in repr(t) and "(utc)" in repr(t)
    with pytest.raises(TypeError, match="scalar Times has no len"):
        len(t[0])
    instants = t.instants()
    assert [i.time_scale for i in instants] == ["utc"] * 10
    assert [i.julian_day for i in instants] == list(t.utc)
    assert [i.julian_day for i in t.instants("tt")] == list(t.tt)
    with pytest.raises(ValueError, match="unknown time scale 'gps'"):
        t.instants("gps")
    assert not t.julian_days.flags.writeable


def test_arithmetic_fields_text_and_zones_refuse_what_is_no_instant(eph):
    t = eph.utc(2005, 1, 1)
    for bad in (None, True, np.datetime64("2024-01-01"), datetime(2024, 1, 1, tzinfo=timezone.utc)):
        with pytest.raises(TypeError, match=f"not {type(bad).__name__}"):
            t + bad
        with pytest.raises(TypeError):
            t - bad
    with pytest.raises(ValueError, match="must be finite, not nan"):
        t + float("nan")
    with pytest.raises(ValueError, match="must be finite"):
        t + np.array([1.0, np.inf])
    assert t + np.timedelta64(36, "h") == t + 1.5
    # Fields that roll over stay within the years utc() takes.
    for k, name in enumerate(("day", "hour", "minute", "second")):
        fields = [2024, 1, 1, 0, 0, 0.0]
        fields[2 + k] = 1e300
        with pytest.raises(ValueError, match=rf"^{name}=1e\+300 is out of range"):
            eph.utc(*fields)
    # ISO text names one instant: its fields and offset do not roll over.
    for text, field in (("2024-13-01T00:00Z", "month 13"), ("2023-02-29T00:00Z", "day 29"),
                        ("2024-01-01T24:00Z", "hour 24"), ("2024-01-01T10:60Z", "minute 60"),
                        ("2024-01-01T10:00:60Z", "second 60"), ("2024-01-01T00:00+99:99", "offset")):
        with pytest.raises(ValueError, match=field):
            eph.from_datetime(text)
    assert eph.from_datetime("2016-12-31T23:59:60Z").iso() == "2016-12-31T23:59:60Z"
    # A zone by its IANA name, as chart(zone=...) takes it.
    madrid = zoneinfo.ZoneInfo("Europe/Madrid")
    assert t.iso(tz="Europe/Madrid") == t.iso(tz=madrid) == "2005-01-01T01:00:00+01:00"
    assert t.to_datetime("Europe/Madrid") == t.to_datetime(madrid)
    with pytest.raises(ValueError, match="unknown time zone 'Mars/Olympus' for tz="):
        t.iso(tz="Mars/Olympus")


def test_ut1_before_1961_returns_the_civil_time_given(eph):
    hastings = eph.utc(1066, 10, 14, 9, 0, 0, calendar="julian")
    day = float(calendar.day_number(np.array([1066]), np.array([10]), np.array([14]), "julian")[0]) - 0.5
    assert hastings.ut1 == day + 9.0 / 24.0
    days = eph.utc(np.array([-500, 1066, 1800, 1950]), 3, 1, 6).ut1
    assert np.array_equal(eph.times(days, "ut1").tt, eph.utc(np.array([-500, 1066, 1800, 1950]), 3, 1, 6).tt)
    assert eph.times(days, "ut1").utc_calendar()[3].tolist() == [6, 6, 6, 6]
