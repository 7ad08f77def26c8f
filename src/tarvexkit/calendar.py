"""Civil calendar dates and Julian days, on NumPy arrays.

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

CalendarName = Literal["gregorian", "julian"]

_FloatArray = npt.NDArray[np.float64]
_IntArray = npt.NDArray[np.int64]

# Days in each month of a common year and of a leap year.
_MONTH_DAYS = np.array([31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31], dtype=np.int64)


def check_calendar(calendar: str) -> CalendarName:
    if calendar in ("gregorian", "julian"):
        return cast(CalendarName, calendar)
    raise ValueError(f"unknown calendar {calendar!r}; use 'gregorian' or 'julian'")


def is_leap_year(year: _IntArray, calendar: CalendarName) -> npt.NDArray[np.bool_]:
    if calendar == "julian":
        return np.asarray(year % 4 == 0)
    return np.asarray((year % 4 == 0) & ((year % 100 != 0) | (year % 400 == 0)))


def days_in_month(year: _IntArray, month: _IntArray, calendar: CalendarName) -> _IntArray:
    days = _MONTH_DAYS[np.clip(month, 1, 12) - 1]
    return np.asarray(days + ((month == 2) & is_leap_year(year, calendar)), dtype=np.int64)


def day_number(year: _IntArray, month: _IntArray, day: _IntArray, calendar: CalendarName) -> _IntArray:
    """Julian day number (the Julian day at noon) of a calendar date."""
    a = (14 - month) // 12
    y = year + 4800 - a
    m = month + 12 * a - 3
    n = day + (153 * m + 2) // 5 + 365 * y + y // 4
    if calendar == "gregorian":
        return np.asarray(n - y // 100 + y // 400 - 32045, dtype=np.int64)
    return np.asarray(n - 32083, dtype=np.int64)


def civil_from_day_number(number: _IntArray, calendar: CalendarName) -> tuple[_IntArray, _IntArray, _IntArray]:
    """Calendar date (year, month, day) of a Julian day number."""
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
    """Raises ValueError naming the first impossible date."""
    bad = (month < 1) | (month > 12)
    bad |= (day < 1) | (day > days_in_month(year, month, calendar))
    bad |= (year < -4712) | (year > 100000)
    if np.any(bad):
        i = int(np.flatnonzero(bad)[0])
        raise ValueError(
            f"no such {calendar} date: year {int(year.flat[i])}, month {int(month.flat[i])}, "
            f"day {int(day.flat[i])} (years -4712..100000, months 1..12, days within the month)"
        )


def as_integer_field(name: str, value: npt.ArrayLike) -> _IntArray:
    """A calendar field as int64, refusing fractions, non-numbers, masked
    arrays and values beyond the 64-bit range (which would wrap)."""
    if isinstance(value, np.ma.MaskedArray):
        raise TypeError(f"{name} must not be a masked array (its mask would be ignored); pass .compressed()")
    array = np.asarray(value)
    if array.dtype == np.bool_ or not (np.issubdtype(array.dtype, np.integer) or np.issubdtype(array.dtype, np.floating)):
        raise TypeError(f"{name} must be an integer or an array of integers, not {array.dtype}")
    if np.issubdtype(array.dtype, np.floating):
        if not np.all(np.isfinite(array)) or np.any(array != np.round(array)):
            raise ValueError(f"{name} must be a whole number")
    if array.size and (np.any(array > INTEGER_FIELD_LIMIT) or np.any(array < -INTEGER_FIELD_LIMIT)):
        worst = array.flat[int(np.argmax(np.abs(array.astype(np.float64))))]
        raise ValueError(f"{name} {worst} is out of range (at most {INTEGER_FIELD_LIMIT} in magnitude)")
    return np.asarray(array, dtype=np.int64)


# Calendar fields beyond this are refused before they are made int64.
INTEGER_FIELD_LIMIT = 2**53


def as_float_field(name: str, value: npt.ArrayLike) -> _FloatArray:
    if isinstance(value, np.ma.MaskedArray):
        raise TypeError(f"{name} must not be a masked array (its mask would be ignored); pass .compressed()")
    array = np.asarray(value)
    if array.dtype == np.bool_ or not (np.issubdtype(array.dtype, np.integer) or np.issubdtype(array.dtype, np.floating)):
        raise TypeError(f"{name} must be a number or an array of numbers, not {array.dtype}")
    result = np.asarray(array, dtype=np.float64)
    if not np.all(np.isfinite(result)):
        raise ValueError(f"{name} must be finite")
    return result
