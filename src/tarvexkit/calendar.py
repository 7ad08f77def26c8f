"""Civil calendar dates and Julian days, on NumPy arrays (and, for one
date, on Python integers).

Julian day numbers follow the integer algorithm of Fliegel and Van Flandern
(Communications of the ACM 11, 657, 1968) in the form Richards gives
("Mapping Time", 1998; Explanatory Supplement to the Astronomical Almanac,
3rd ed., section 15.11): months are counted from March so that the leap day
falls at the end of the year. Years are astronomical (year 0 is 1 BC).
Both the Gregorian calendar (proleptic before 1582-10-15) and the Julian
calendar are supported.
"""

from __future__ import annotations

from typing import Literal, cast

import numpy as np
import numpy.typing as npt

CalendarName = Literal["gregorian", "julian", "auto"]

# Julian day number of 1582-10-15, the first day of the Gregorian calendar
# (the day after Julian 1582-10-04), where calendar="auto" switches.
GREGORIAN_START_DAY = 2299161

# How far day, hour, minute and second fields may roll over (in days): the
# span of the years utc() takes, -4712..100000.
ROLLOVER_LIMIT_DAYS = 38_250_000.0

_FloatArray = npt.NDArray[np.float64]
_IntArray = npt.NDArray[np.int64]

# Days in each month of a common year and of a leap year.
_MONTH_DAYS = np.array([31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31], dtype=np.int64)


def check_calendar(calendar: str) -> CalendarName:
    if calendar in ("gregorian", "julian", "auto"):
        return cast(CalendarName, calendar)
    raise ValueError(f"unknown calendar {calendar!r}; use 'gregorian', 'julian' or 'auto' (Julian before 1582-10-15)")


def is_leap_year(year: _IntArray, calendar: CalendarName) -> npt.NDArray[np.bool_]:
    if calendar == "auto":
        calendar = "julian" if bool(np.all(year < 1582)) else "gregorian"
    if calendar == "julian":
        return np.asarray(year % 4 == 0)
    return np.asarray((year % 4 == 0) & ((year % 100 != 0) | (year % 400 == 0)))


def days_in_month(year: _IntArray, month: _IntArray, calendar: CalendarName) -> _IntArray:
    days = _MONTH_DAYS[np.clip(month, 1, 12) - 1]
    return np.asarray(days + ((month == 2) & is_leap_year(year, calendar)), dtype=np.int64)


def day_number(year: _IntArray, month: _IntArray, day: _IntArray, calendar: CalendarName) -> _IntArray:
    """Julian day number (the Julian day at noon) of a calendar date;
    "auto" reads dates before 1582-10-15 as Julian."""
    if calendar == "auto":
        gregorian = day_number(year, month, day, "gregorian")
        return np.asarray(np.where(gregorian >= GREGORIAN_START_DAY, gregorian,
                                   day_number(year, month, day, "julian")), dtype=np.int64)
    a = (14 - month) // 12
    y = year + 4800 - a
    m = month + 12 * a - 3
    n = day + (153 * m + 2) // 5 + 365 * y + y // 4
    if calendar == "gregorian":
        return np.asarray(n - y // 100 + y // 400 - 32045, dtype=np.int64)
    return np.asarray(n - 32083, dtype=np.int64)


def civil_from_day_number(number: _IntArray, calendar: CalendarName) -> tuple[_IntArray, _IntArray, _IntArray]:
    """Calendar date (year, month, day) of a Julian day number; "auto" gives
    Julian dates before 1582-10-15."""
    if calendar == "auto":
        g = civil_from_day_number(number, "gregorian")
        j = civil_from_day_number(number, "julian")
        before = number < GREGORIAN_START_DAY
        return (np.where(before, j[0], g[0]), np.where(before, j[1], g[1]), np.where(before, j[2], g[2]))
    if calendar == "gregorian":
        a = number + 32044
        b = (4 * a + 3) // 146097
        c = a - 146097 * b // 4
    else:
        b = np.zeros_like(number)
        c = number + 32082
    d = (4 * c + 3) // 1461
    e = c - 1461 * d // 4
    m = (5 * e + 2) // 153
    day = e - (153 * m + 2) // 5 + 1
    month = m + 3 - 12 * (m // 10)
    year = 100 * b + d - 4800 + m // 10
    return year, month, day


def check_date(year: _IntArray, month: _IntArray, day: _IntArray, calendar: CalendarName) -> None:
    """Raises ValueError naming the field of the first impossible date."""
    bad_year = (year < -4712) | (year > 100000)
    bad_month = (month < 1) | (month > 12)
    length = _days_in_month_of(year, month, calendar)
    bad_day = (day < 1) | (day > length)
    if calendar == "auto":
        # 1582-10-05..14 were skipped when the Gregorian calendar began.
        bad_day |= (year == 1582) & (month == 10) & (day > 4) & (day < 15)
    for name, bad, value, rule in (
        ("year", bad_year, year, "years run -4712..100000 (astronomical: 0 is 1 BC)"),
        ("month", bad_month, month, "months run 1..12"),
    ):
        if bad.any():
            i = int(np.flatnonzero(bad)[0])
            raise ValueError(f"{name}={int(value.flat[i])} is out of range: {rule}")
    if bad_day.any():
        i = int(np.flatnonzero(bad_day)[0])
        y, m = int(year.flat[i]), int(month.flat[i])
        raise ValueError(
            f"day={int(day.flat[i])} is out of range: {y:04d}-{m:02d} has days 1..{int(length.flat[i])} in the "
            f"{'Julian' if calendar == 'julian' else 'Gregorian' if calendar == 'gregorian' else 'Julian/Gregorian'} "
            "calendar" + (" (1582-10-05..14 do not exist)" if y == 1582 and m == 10 and calendar == "auto" else "")
        )


def _days_in_month_of(year: _IntArray, month: _IntArray, calendar: CalendarName) -> _IntArray:
    if calendar != "auto":
        return days_in_month(year, month, calendar)
    return np.asarray(np.where(year < 1582, days_in_month(year, month, "julian"),
                               days_in_month(year, month, "gregorian")), dtype=np.int64)


def month_start(year: _IntArray, month: _IntArray) -> tuple[_IntArray, _IntArray]:
    """(year, month) with the month rolled into 1..12 (month 13 is January
    of the next year, month 0 December of the year before)."""
    months = year * 12 + (month - 1)
    return np.asarray(months // 12, dtype=np.int64), np.asarray(months % 12 + 1, dtype=np.int64)


def as_integer_field(name: str, value: npt.ArrayLike) -> _IntArray:
    """A calendar field as int64, refusing fractions, non-numbers, masked
    arrays and values beyond the 64-bit range (which would wrap)."""
    if isinstance(value, np.ma.MaskedArray):
        raise TypeError(f"{name} must not be a masked array (its mask would be ignored); pass .compressed()")
    array = np.asarray(value)
    if array.dtype == object:
        array = np.asarray(array.tolist(), dtype=np.float64) if _all_numbers(array) else array
    # dtype kinds: 'i' and 'u' the integers, 'f' the floats ('b', bool, is neither).
    if array.dtype.kind not in "iuf":
        raise TypeError(f"{name} must be an integer or an array of integers, not {array.dtype}")
    if array.dtype.kind == "f":
        if not np.isfinite(array).all() or (array != np.round(array)).any():
            i = int(np.flatnonzero(~np.isfinite(array) | (array != np.round(array)))[0])
            raise ValueError(f"{name}={float(array.flat[i])!r} must be a whole number")
    if array.size and ((array > INTEGER_FIELD_LIMIT).any() or (array < -INTEGER_FIELD_LIMIT).any()):
        worst = array.flat[int(np.argmax(np.abs(array.astype(np.float64))))]
        raise ValueError(f"{name} {worst} is out of range (at most {INTEGER_FIELD_LIMIT} in magnitude)")
    return np.asarray(array, dtype=np.int64)


# Calendar fields beyond this are refused before they are made int64.
INTEGER_FIELD_LIMIT = 2**53


def as_float_field(name: str, value: npt.ArrayLike) -> _FloatArray:
    if isinstance(value, np.ma.MaskedArray):
        raise TypeError(f"{name} must not be a masked array (its mask would be ignored); pass .compressed()")
    array = np.asarray(value)
    if array.dtype.kind not in "iuf":
        raise TypeError(f"{name} must be a number or an array of numbers, not {array.dtype}")
    result = np.asarray(array, dtype=np.float64)
    if not np.isfinite(result).all():
        i = int(np.flatnonzero(~np.isfinite(result))[0])
        raise ValueError(f"{name}={float(result.flat[i])!r} must be finite")
    return result


def _all_numbers(array: npt.NDArray[np.object_]) -> bool:
    return all(isinstance(v, (int, float, np.integer, np.floating)) and not isinstance(v, bool) for v in array.flat)


# --- one date in plain Python integers ----------------------------------------
# The same integer steps as `day_number` and `civil_from_day_number` above, on
# Python ints (whose // floors as NumPy's int64 does), for a single instant
# where NumPy's per-call cost outweighs the arithmetic.

def day_number_of(year: int, month: int, day: int, calendar: CalendarName) -> int:
    """`day_number` of one date."""
    if calendar == "auto":
        gregorian = day_number_of(year, month, day, "gregorian")
        return gregorian if gregorian >= GREGORIAN_START_DAY else day_number_of(year, month, day, "julian")
    a = (14 - month) // 12
    y = year + 4800 - a
    m = month + 12 * a - 3
    n = day + (153 * m + 2) // 5 + 365 * y + y // 4
    if calendar == "gregorian":
        return n - y // 100 + y // 400 - 32045
    return n - 32083


def civil_of(number: int, calendar: CalendarName) -> tuple[int, int, int]:
    """`civil_from_day_number` of one Julian day number."""
    if calendar == "auto":
        calendar = "julian" if number < GREGORIAN_START_DAY else "gregorian"
    if calendar == "gregorian":
        a = number + 32044
        b = (4 * a + 3) // 146097
        c = a - 146097 * b // 4
    else:
        b = 0
        c = number + 32082
    d = (4 * c + 3) // 1461
    e = c - 1461 * d // 4
    m = (5 * e + 2) // 153
    return 100 * b + d - 4800 + m // 10, m + 3 - 12 * (m // 10), e - (153 * m + 2) // 5 + 1
