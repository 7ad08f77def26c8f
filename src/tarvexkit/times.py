"""Instants as NumPy arrays, in the time scale they were made in.

A `Times` holds Julian days in one scale (UTC, UT1, TT or TDB) together
with the clock of the `Ephemeris` that made it: the engine's own
leap-second kernel and Earth orientation table, reached through the native
store, so every conversion is the C++ code the engine itself runs.

Civil times before 1972 have no leap-second offset: a `Times` made from
them is kept in TT, converted with the rules of `tarvexkit.early_time`, and
converts back with the same rules. Leap seconds (23:59:60) are kept in TT
as well, because a UTC Julian day cannot name them.
"""

from __future__ import annotations

import bisect
import math
from collections.abc import Callable, Iterator, Sequence
from datetime import datetime, timedelta, timezone, tzinfo
from typing import TYPE_CHECKING, Any, Generic, Literal, NamedTuple, overload
from zoneinfo import ZoneInfo

import numpy as np
import numpy.typing as npt
from typing_extensions import TypeVar

import tarvex

from . import delta_t, early_time
from .calendar import (
    GREGORIAN_START_DAY,
    INTEGER_FIELD_LIMIT,
    ROLLOVER_LIMIT_DAYS,
    CalendarName,
    check_calendar,
    civil_from_day_number,
    civil_of,
    day_number_of,
)
from .ut1_extension import Ut1Spans

if TYPE_CHECKING:
    from ._native import Store

Scale = Literal["utc", "ut1", "tt", "tdb"]
SCALES: tuple[Scale, ...] = ("utc", "ut1", "tt", "tdb")
_FloatArray = npt.NDArray[np.float64]
_BoolArray = npt.NDArray[np.bool_]


class Shape:
    """What a `Times` holds, for type checkers: `Times[Scalar]` is one
    instant, `Times[Array]` a 1-D array of them. The constructors return
    the precise form (`eph.utc(2026, 3, 20)` is `Times[Scalar]`,
    `eph.utc(2026, 3, np.arange(1, 31))` is `Times[Array]`), and so do
    indexing and iteration; a plain `Times` annotation leaves the shape open
    and its results untyped. A 0-d NumPy array makes a scalar at run time
    but types as `Times[Array]`."""


class Scalar(Shape):
    """One instant: Julian days read as `float`, text as `str`."""


class Array(Shape):
    """A 1-D array of instants: Julian days read as float arrays, text as lists."""


S = TypeVar("S", bound=Shape, default=Any, covariant=True)


class _Days:
    """Julian days of a `Times` in one scale: a float for one instant, a
    float64 array for an array of them."""

    def __init__(self, scale: Scale, doc: str) -> None:
        self._scale: Scale = scale
        self.__doc__ = doc

    @overload
    def __get__(self, times: None, owner: type[Any]) -> _Days: ...
    @overload
    def __get__(self, times: Times[Scalar], owner: type[Any]) -> float: ...
    @overload
    def __get__(self, times: Times[Array], owner: type[Any]) -> _FloatArray: ...
    def __get__(self, times: Times[Any] | None, owner: type[Any]) -> Any:
        if times is None:
            return self
        result = times._clock.convert(times._jd, times._scale, self._scale)
        return float(result) if result.ndim == 0 else result


class _PredictedFlags:
    """True where UT1 is a prediction, not a measurement: past the last
    measured IERS row come the Bulletin A predictions, then the long-term
    prediction of `tarvexkit.ut1_extension` (its error grows to several
    seconds within decades). Before 1962 UT1 is from the Delta T model (not
    flagged here). A bool for one instant, a bool array for an array."""

    @overload
    def __get__(self, times: None, owner: type[Any]) -> _PredictedFlags: ...
    @overload
    def __get__(self, times: Times[Scalar], owner: type[Any]) -> bool: ...
    @overload
    def __get__(self, times: Times[Array], owner: type[Any]) -> _BoolArray: ...
    def __get__(self, times: Times[Any] | None, owner: type[Any]) -> Any:
        if times is None:
            return self
        clock = times._clock
        flags = clock.ut1_predicted(np.asarray(clock.convert(times._jd, times._scale, "tt")))
        return bool(flags) if flags.ndim == 0 else flags


def check_scale(scale: object) -> Scale:
    if scale == "utc" or scale == "ut1" or scale == "tt" or scale == "tdb":
        return scale
    raise ValueError(f"unknown time scale {scale!r}; use one of 'utc', 'ut1', 'tt', 'tdb'")


class Recipe(NamedTuple):
    """How an ephemeris was opened, enough to open it again (pickled
    `Times` carry it): `how` is "load" or "open", `arguments` the paths
    given to `open` (kernel, additional kernels, leap seconds, EOP; None
    for a default), `sha256` the digests of the files read then."""

    how: str
    arguments: tuple[Any, ...]
    sha256: tuple[str, ...]


class Clock:
    """The time data of one Ephemeris: conversions between the four scales.

    UT1, TT and TDB convert in the engine for every date its (extended)
    Earth orientation table covers (see `tarvexkit.ut1_extension`); civil
    time before 1972 is worked out here (`tarvexkit.early_time`).
    """

    def __init__(self, store: Store, spans: Ut1Spans | None = None, recipe: Recipe | None = None) -> None:
        self._store = store
        self.spans = spans
        self.recipe = recipe
        # What keeps the store's files open for Times that outlive their Ephemeris (unpickled ones).
        self.owner: object | None = None
        entries = [e for e in store.leap_second_entries() or () if e[1] >= early_time.UTC_1972]
        self.has_leap_seconds = bool(entries)
        self._leap_days = np.array([e[1] for e in entries], dtype=np.float64)
        self._leap_offsets = np.array([e[0] for e in entries], dtype=np.float64)
        # The same table as lists, for one instant (`bisect` on a list beats NumPy's call overhead).
        self._leap_day_list = [float(e[1]) for e in entries]
        self._leap_offset_list = [float(e[0]) for e in entries]
        coverage = store.eop_coverage()
        self.eop_coverage = coverage
        # UT1 before the first entry of an extended kernel comes from Delta T here.
        first = min((e[1] for e in store.leap_second_entries() or ()), default=None)
        self._first_entry_jd = first if spans is not None and first is not None and first < early_time.UTC_1972 else None

    # TAI - UTC in force on UTC Julian days (the kernel's table, no extrapolation
    # backwards: callers only ask for days from 1972 on).
    def tai_minus_utc(self, utc_jd: _FloatArray) -> _FloatArray:
        row = self._leap_days.searchsorted(utc_jd, side="right") - 1
        # np.maximum rather than np.clip: the same rows, without clip's
        # dispatch, which costs more than the search on a scalar.
        return np.asarray(self._leap_offsets[np.maximum(row, 0)], dtype=np.float64)

    def leap_second_after(self, day_start_jd: _FloatArray) -> _FloatArray:
        """Seconds inserted at the end of the UTC day starting at `day_start_jd` (0 or 1)."""
        return self.tai_minus_utc(day_start_jd + 1.0) - self.tai_minus_utc(day_start_jd)

    def convert(self, jd: _FloatArray, scale: Scale, to: Scale) -> _FloatArray:
        jd = np.asarray(jd, dtype=np.float64)
        if scale == to:
            return jd.copy()
        if "ut1" in (scale, to):
            early = self._early_ut1(jd, scale)
            if early.any():
                # Before 1961 civil time is read as UT1 (`early_time`): UT1 and
                # TT convert by that rule both ways, so that a Times made from
                # such a date returns it exactly as UT1.
                result = np.empty_like(jd)
                if scale == "ut1":
                    result[early] = self.convert(early_time.utc_to_tt(jd[early]), "tt", to)
                else:
                    result[early] = early_time.tt_to_utc(self.convert(jd[early], scale, "tt"))
                if not early.all():
                    result[~early] = self.convert(jd[~early], scale, to)
                return result
        if "ut1" in (scale, to) and self._first_entry_jd is not None:
            early = jd < self._first_entry_jd + 1.0
            if early.any():
                result = np.empty_like(jd)
                result[early] = self._ut1_before_year_zero(jd[early], scale, to)
                if not early.all():
                    result[~early] = self.convert(jd[~early], scale, to)
                return result
        if scale == "utc":
            tt = self.utc_to_tt_any(jd)
            return tt if to == "tt" else self._native(tt, "tt", to)
        if to == "utc":
            tt = jd if scale == "tt" else self._native(jd, scale, "tt")
            return self.tt_to_utc_any(tt)
        return self._native(jd, scale, to)

    def _early_ut1(self, jd: _FloatArray, scale: Scale) -> npt.NDArray[np.bool_]:
        """Which Julian days in `scale` fall before UT1_MODEL_END."""
        if scale == "ut1" or scale == "utc":
            return np.asarray(jd < UT1_MODEL_END)
        return np.asarray(jd < _TT_MODEL_END)

    def _ut1_before_year_zero(self, jd: _FloatArray, scale: Scale, to: Scale) -> _FloatArray:
        """UT1 to or from TT/TDB before the extended leap-second kernel's
        first entry (0000-01-01, the earliest date its literals can name):
        UT1 = TT - Delta T, the model the extended table holds from year 0
        on (`tarvexkit.ut1_extension`), so the two join within milliseconds."""
        if scale == "ut1":
            tt = jd + delta_t.delta_t_seconds(jd) / 86400.0
            for _ in range(2):  # Delta T changes by under 1 s/day: converged to picoseconds
                tt = jd + delta_t.delta_t_seconds(tt) / 86400.0
            return tt if to == "tt" else self.convert(tt, "tt", to)
        tt = jd if scale == "tt" else self.convert(jd, scale, "tt")
        return np.asarray(tt - delta_t.delta_t_seconds(tt) / 86400.0, dtype=np.float64)

    def utc_to_tt_any(self, utc_jd: _FloatArray) -> _FloatArray:
        """TT of UTC Julian days on either side of 1972."""
        utc_jd = np.asarray(utc_jd, dtype=np.float64)
        early = utc_jd < early_time.UTC_1972
        if not early.any():
            return self._native(utc_jd, "utc", "tt")
        result = np.empty_like(utc_jd)
        if not early.all():
            result[~early] = self._native(utc_jd[~early], "utc", "tt")
        result[early] = early_time.utc_to_tt(utc_jd[early])
        return result

    def tt_to_utc_any(self, tt: _FloatArray) -> _FloatArray:
        """UTC Julian days (civil time before 1972) of TT Julian days."""
        tt = np.asarray(tt, dtype=np.float64)
        early = tt < early_time.TT_EARLY_LIMIT
        if not early.any():
            return self._native(tt, "tt", "utc")
        result = np.empty_like(tt)
        if not early.all():
            result[~early] = self._native(tt[~early], "tt", "utc")
        result[early] = early_time.tt_to_utc(tt[early])
        return result

    def ut1_predicted(self, tt: _FloatArray) -> npt.NDArray[np.bool_]:
        """Whether UT1 at TT Julian days comes from a prediction (Bulletin A
        or the long-term prediction) rather than from measurements."""
        if self.spans is None:
            return np.zeros(np.shape(tt), dtype=bool)
        # TT runs about a minute ahead of UTC; a day's margin is immaterial here.
        return np.asarray(np.asarray(tt) > self.spans.measured_end + 69.2 / 86400.0)

    def _native(self, jd: _FloatArray, scale: Scale, to: Scale) -> _FloatArray:
        if jd.size == 0:
            return jd.copy()
        flat = np.ascontiguousarray(jd, dtype=np.float64).reshape(-1)
        return np.asarray(self._store.convert(flat, scale, to), dtype=np.float64).reshape(jd.shape)

    def utc_fields(self, tt: _FloatArray) -> tuple[_FloatArray, _FloatArray]:
        """(UTC day start as Julian day, seconds into that day) for TT Julian days.

        Seconds run to 86401 on a day that ends with a leap second, so that
        23:59:60 is named as such.
        """
        tt = np.asarray(tt, dtype=np.float64)
        early = tt < early_time.TT_EARLY_LIMIT
        day = np.empty_like(tt)
        seconds = np.empty_like(tt)
        if early.any():
            u = early_time.tt_to_utc(tt[early])
            day[early] = np.floor(u - 0.5) + 0.5
            seconds[early] = (u - day[early]) * 86400.0
        late = ~early
        if late.any():
            t = tt[late]
            u = self._native(t, "tt", "utc")
            d = np.floor(u - 0.5) + 0.5
            for _ in range(2):
                tai = self.tai_minus_utc(d)
                s = (t - d) * 86400.0 - (tai + early_time.TT_MINUS_TAI_S)
                length = 86400.0 + (self.tai_minus_utc(d + 1.0) - tai)
                d = np.where(s < 0.0, d - 1.0, np.where(s >= length, d + 1.0, d))
            day[late] = d
            seconds[late] = (t - d) * 86400.0 - (self.tai_minus_utc(d) + early_time.TT_MINUS_TAI_S)
        return day, seconds

    # --- one instant, in plain floats ------------------------------------
    # The array methods above step for step, for a single instant: the same
    # IEEE operations in the same order give the same bits, without NumPy's
    # per-call cost. None where only the array path handles the instant
    # (civil time before 1972, UT1, a kernel without leap seconds).

    def _tai_minus_utc_one(self, utc_jd: float) -> float:
        return self._leap_offset_list[max(bisect.bisect_right(self._leap_day_list, utc_jd) - 1, 0)]

    def _native_one(self, jd: float, scale: Scale, to: Scale) -> float:
        return float(self._store.convert([jd], scale, to)[0])

    def tt_one(self, jd: float, scale: Scale) -> float | None:
        """`convert(jd, scale, "tt")` of one instant, or None."""
        if scale == "tt":
            return jd
        if scale == "tdb" or (scale == "utc" and jd >= early_time.UTC_1972):
            return self._native_one(jd, scale, "tt")
        return None

    def utc_fields_one(self, tt: float) -> tuple[float, float] | None:
        """`utc_fields` of one TT Julian day, or None."""
        if not self.has_leap_seconds or not math.isfinite(tt) or tt < early_time.TT_EARLY_LIMIT:
            return None
        d = float(math.floor(self._native_one(tt, "tt", "utc") - 0.5)) + 0.5
        tai = self._tai_minus_utc_one(d)
        for _ in range(2):
            s = (tt - d) * 86400.0 - (tai + early_time.TT_MINUS_TAI_S)
            length = 86400.0 + (self._tai_minus_utc_one(d + 1.0) - tai)
            if 0.0 <= s < length:
                break  # a day that stays stays: the array path's second pass changes nothing
            d = d - 1.0 if s < 0.0 else d + 1.0
            tai = self._tai_minus_utc_one(d)
        return d, (tt - d) * 86400.0 - (tai + early_time.TT_MINUS_TAI_S)

    def utc_calendar_one(self, jd: float, scale: Scale, places: int | None, calendar: CalendarName
                         ) -> tuple[int, int, int, int, int, float] | None:
        """`Times.utc_calendar` of one instant, or None."""
        tt = self.tt_one(jd, scale)
        fields = None if tt is None else self.utc_fields_one(tt)
        if fields is None:
            return None
        day, seconds = fields
        if places is not None:
            # np.round: scale by a power of ten, round half to even, scale back.
            factor = 10.0**places
            seconds = float(round(seconds * factor)) / factor
            length = 86400.0
            if day >= early_time.UTC_1972:
                length += self._tai_minus_utc_one(day + 1.0) - self._tai_minus_utc_one(day)
            if seconds >= length:
                day, seconds = day + 1.0, seconds - length
        year, month, dom = civil_of(int(day + 0.5), calendar)
        if seconds >= 86400.0:
            hour, minute = 23, 59
            return year, month, dom, hour, minute, seconds - 86340.0
        hour = int(seconds // 3600)
        minute = int((seconds - hour * 3600) // 60)
        return year, month, dom, hour, minute, seconds - hour * 3600 - minute * 60

    def day_length(self, day_start: _FloatArray) -> _FloatArray:
        length = np.full_like(day_start, 86400.0)
        late = day_start >= early_time.UTC_1972
        if late.any() and self.has_leap_seconds:
            length[late] += self.leap_second_after(day_start[late])
        return length


class Times(Generic[S]):
    """Instants in one time scale: a scalar or a 1-D array of Julian days.

    Made by `Ephemeris.utc`, `Ephemeris.from_datetime`, `Ephemeris.times`
    and returned by event searches. Converts with the ephemeris's own
    leap-second kernel and Earth orientation table. For type checkers a
    `Times[Scalar]` is one instant and a `Times[Array]` an array (see
    `Shape`).
    """

    __slots__ = ("_calendar", "_clock", "_jd", "_scale")

    def __init__(self, clock: Clock, julian_days: npt.ArrayLike, scale: Scale,
                 calendar: CalendarName = "gregorian") -> None:
        jd = np.array(julian_days, dtype=np.float64)
        if jd.ndim > 1:
            raise ValueError(f"Times holds a scalar or a 1-D array of Julian days, not shape {jd.shape}")
        jd.setflags(write=False)
        self._clock = clock
        self._jd = jd
        self._scale = check_scale(scale)
        self._calendar = check_calendar(calendar)

    # --- the stored values -------------------------------------------------
    @property
    def scale(self) -> Scale:
        """The scale the instants were made in; positions use it unchanged."""
        return self._scale

    @property
    def julian_days(self) -> _FloatArray:
        """The Julian days in `scale` (read-only)."""
        return self._jd

    @property
    def shape(self) -> tuple[int, ...]:
        """() for a single instant, (n,) for n instants."""
        return self._jd.shape

    tt = _Days("tt", "Terrestrial Time Julian days (float for one instant, else float64 array).")
    tdb = _Days("tdb", "Barycentric Dynamical Time Julian days (float for one instant, else float64 array).")
    ut1 = _Days("ut1", "UT1 Julian days (float for one instant, else float64 array).")
    utc = _Days("utc", "UTC Julian days (float for one instant, else float64 array); a leap second "
                "reads as the first second of the next day.")
    ut1_predicted = _PredictedFlags()

    @property
    def calendar(self) -> CalendarName:
        """The calendar `iso()` and `utc_calendar()` write dates in."""
        return self._calendar

    def instants(self, scale: Scale | None = None) -> list[tarvex.Instant]:
        """The instants as `tarvex.Instant` objects, in `scale` (default: `self.scale`)."""
        scale = self._scale if scale is None else check_scale(scale)
        jd = np.atleast_1d(self._clock.convert(self._jd, self._scale, scale))
        return [tarvex.Instant(float(d), scale) for d in jd]

    # --- calendar forms -----------------------------------------------------
    def utc_calendar(self, places: int | None = None, calendar: CalendarName | None = None
                     ) -> tuple[npt.NDArray[np.int64], ...]:
        """UTC (year, month, day, hour, minute) arrays and the seconds as float array.

        With `places`, the seconds are rounded to that many decimals first
        (carrying into the minute, hour and day as a clock would). Dates in
        `calendar` (default: the one the Times was made with); years are
        astronomical (0 is 1 BC).
        """
        calendar = self._calendar if calendar is None else check_calendar(calendar)
        tt = np.atleast_1d(self._clock.convert(self._jd, self._scale, "tt"))
        day, seconds = self._clock.utc_fields(tt)
        if places is not None:
            seconds = np.round(seconds, places)
            length = self._clock.day_length(day)
            over = seconds >= length
            day = np.where(over, day + 1.0, day)
            seconds = np.where(over, seconds - length, seconds)
        number = (day + 0.5).astype(np.int64)
        year, month, dom = civil_from_day_number(number, calendar)
        leap = seconds >= 86400.0
        whole = np.where(leap, 86399.0, seconds)
        hour = (whole // 3600).astype(np.int64)
        minute = ((whole - hour * 3600) // 60).astype(np.int64)
        sec = np.where(leap, seconds - 86340.0, seconds - hour * 3600 - minute * 60)
        return year, month, dom, hour, minute, sec

    @overload
    def iso(self: Times[Scalar], tz: tzinfo | str | None = None, places: int = 0) -> str: ...
    @overload
    def iso(self: Times[Array], tz: tzinfo | str | None = None, places: int = 0) -> list[str]: ...
    def iso(self, tz: tzinfo | str | None = None, places: int = 0) -> str | list[str]:
        """ISO 8601 text: UTC with 'Z', or local time in `tz` (a tzinfo or
        an IANA name such as "Europe/Madrid") with its offset.

        A leap second reads 23:59:60 in UTC; in another zone it reads as the
        last representable instant of 23:59:59. One `str` for one instant, a
        list for an array.
        """
        if tz is None and self._jd.ndim == 0 and type(places) is int and 0 <= places <= 9:
            fields = self._clock.utc_calendar_one(float(self._jd), self._scale, places, self._calendar)
            if fields is not None and abs(fields[0]) <= 9999:
                return _utc_text(*fields, places)
        texts = self._iso_texts(tz, places)
        return texts[0] if self._jd.ndim == 0 else texts

    def _iso_texts(self, tz: tzinfo | str | None, places: int) -> list[str]:
        if isinstance(places, bool) or not isinstance(places, (int, np.integer)) or not 0 <= places <= 9:
            raise ValueError(f"places must be an int from 0 to 9, got {places!r}")
        tz = None if tz is None else zone_info("tz", tz)
        if tz is None:
            return self._utc_texts(self.utc_calendar(places), places)
        if tz.utcoffset(None) == timedelta(0) and np.any(self._outside_datetime()):
            # UTC by another name, for years datetime cannot hold (before 1, after 9999).
            year, month, day, hour, minute, sec = self.utc_calendar(3 if places else 0)
            seconds = [f"{s:06.3f}" if places else f"{int(s):02d}" for s in sec]
            return [f"{_iso_year(y)}-{mo:02d}-{d:02d}T{h:02d}:{mi:02d}:{s}+00:00"
                    for y, mo, d, h, mi, s in zip(year, month, day, hour, minute, seconds)]
        return [dt.isoformat(sep="T", timespec="milliseconds" if places else "seconds")
                for dt in self._datetimes(self.utc_calendar(3, "gregorian"), tz)]

    def _iso_utc_and_local(self, tz: tzinfo, places: int = 3) -> tuple[str, str]:
        """`(iso(places=places), iso(tz, places=places))` of one instant, the
        UTC calendar fields computed once where both read the same ones."""
        if self._jd.ndim != 0:
            raise ValueError("expected a single instant")
        fields = self.utc_calendar(3, "gregorian")
        if self._calendar != "gregorian" or places != 3 or not 1 <= fields[0][0] <= 9999:
            return self._iso_texts(None, places)[0], self._iso_texts(tz, places)[0]
        local = self._datetimes(fields, tz)[0].isoformat(sep="T", timespec="milliseconds")
        return self._utc_texts(fields, places)[0], local

    @staticmethod
    def _utc_texts(fields: tuple[npt.NDArray[Any], ...], places: int) -> list[str]:
        year, month, day, hour, minute, sec = fields
        if year.size and np.any(np.abs(year) > 9999):
            worst = int(year.flat[int(np.argmax(np.abs(year)))])
            raise ValueError(f"iso() writes years -9999..9999, and one instant falls in year {worst}; "
                             "use utc_calendar() for such instants")
        return [_utc_text(y, mo, d, h, mi, s, places)
                for y, mo, d, h, mi, s in zip(year, month, day, hour, minute, sec)]

    def _outside_datetime(self) -> npt.NDArray[np.bool_]:
        year = self.utc_calendar(3, "gregorian")[0]
        return np.asarray((year < 1) | (year > 9999))

    @overload
    def to_datetime(self: Times[Scalar], tz: tzinfo | str = timezone.utc) -> datetime: ...
    @overload
    def to_datetime(self: Times[Array], tz: tzinfo | str = timezone.utc) -> list[datetime]: ...
    def to_datetime(self, tz: tzinfo | str = timezone.utc) -> datetime | list[datetime]:
        """Aware `datetime` objects in `tz` (UTC by default; a tzinfo or an
        IANA name such as "Europe/Madrid"), to the millisecond.

        A Julian day in one 64-bit float resolves about 40 microseconds near
        the present, so finer digits would be noise. `datetime` cannot hold a
        leap second; 23:59:60.x becomes 23:59:59.999. One `datetime` for one
        instant, a list for an array.
        """
        result = self._datetimes(self.utc_calendar(3, "gregorian"), zone_info("tz", tz))
        return result[0] if self._jd.ndim == 0 else result

    @staticmethod
    def _datetimes(fields: tuple[npt.NDArray[Any], ...], tz: tzinfo) -> list[datetime]:
        year, month, day, hour, minute, sec = fields
        result = []
        for y, mo, d, h, mi, s in zip(year, month, day, hour, minute, sec):
            if not 1 <= y <= 9999:
                raise ValueError(f"year {y} is outside the range of datetime (1..9999); use iso() or utc_calendar()")
            micro = min(int(round(s * 1e3)), 59_999) * 1000
            base = datetime(int(y), int(mo), int(d), int(h), int(mi), tzinfo=timezone.utc)
            result.append((base + timedelta(microseconds=micro)).astimezone(tz))
        return result

    # --- container protocol -------------------------------------------------
    def __len__(self) -> int:
        if self._jd.ndim == 0:
            raise TypeError("a scalar Times has no len()")
        return int(self._jd.shape[0])

    @overload
    def __getitem__(self, index: int | np.integer[Any]) -> Times[Scalar]: ...
    @overload
    def __getitem__(self, index: slice | Sequence[int] | npt.NDArray[Any]) -> Times[Array]: ...
    def __getitem__(self, index: Any) -> Times[Any]:
        if self._jd.ndim == 0:
            raise TypeError("a scalar Times cannot be indexed")
        return Times(self._clock, self._jd[index], self._scale, self._calendar)

    def __iter__(self) -> Iterator[Times[Scalar]]:
        for i in range(len(self)):
            yield self[i]

    def __repr__(self) -> str:
        if self._jd.ndim == 0:
            return f"<Times {self._iso_texts(None, 0)[0]} ({self._scale} {float(self._jd)!r})>"
        n = int(self._jd.shape[0])
        if n == 0:
            return f"<Times [] ({self._scale})>"
        shown = Times(self._clock, self._jd[[0, 1, 2, n - 1]] if n > 3 else self._jd, self._scale, self._calendar)
        texts = shown._iso_texts(None, 0)
        more = f" ... {texts[3]}" if n > 3 else ""
        return f"<Times {n} instants: {', '.join(texts[:3])}{more} ({self._scale})>"

    # --- a value: arithmetic, order, hashing, copies ------------------------
    def _tt_values(self) -> _FloatArray:
        return np.asarray(self._clock.convert(self._jd, self._scale, "tt"))

    @overload
    def __add__(self, other: float | timedelta) -> Times[S]: ...
    @overload
    def __add__(self, other: npt.ArrayLike) -> Times[Array]: ...
    def __add__(self, other: object) -> Times[Any]:
        """The instants `other` days of TT later (a number, an array that
        broadcasts, or a `timedelta`); the result is in TT."""
        days = _as_days(other)
        if days is None:
            return NotImplemented
        tt = self._tt_values() + days
        if tt.ndim > 1:
            raise ValueError(f"adding days of shape {np.shape(days)} to Times of shape {self.shape} gives shape {tt.shape}")
        return Times(self._clock, tt, "tt", self._calendar)

    __radd__ = __add__

    @overload
    def __sub__(self: Times[Scalar], other: Times[Scalar]) -> float: ...
    @overload
    def __sub__(self, other: Times[Array]) -> _FloatArray: ...
    @overload
    def __sub__(self: Times[Array], other: Times[Any]) -> _FloatArray: ...
    @overload
    def __sub__(self, other: float | timedelta) -> Times[S]: ...
    @overload
    def __sub__(self, other: npt.ArrayLike) -> Times[Array]: ...
    def __sub__(self, other: object) -> Any:
        """`t2 - t1`: TT days between two Times (float or array); `t - days`
        or `t - timedelta`: the instants that much earlier, in TT."""
        if isinstance(other, Times):
            difference = self._tt_values() - other._tt_values()
            return float(difference) if difference.ndim == 0 else difference
        days = _as_days(other)
        if days is None:
            return NotImplemented
        return self + (-days)

    def _compare(self, other: object, op: Any) -> Any:
        if not isinstance(other, Times):
            return NotImplemented
        result = op(self._tt_values(), other._tt_values())
        return bool(result) if np.ndim(result) == 0 else result

    @overload
    def __lt__(self: Times[Scalar], other: Times[Scalar]) -> bool: ...
    @overload
    def __lt__(self: Times[Scalar], other: Times[Array]) -> _BoolArray: ...
    @overload
    def __lt__(self: Times[Array], other: Times[Scalar] | Times[Array]) -> _BoolArray: ...
    def __lt__(self, other: object) -> Any:
        return self._compare(other, np.less)

    @overload
    def __le__(self: Times[Scalar], other: Times[Scalar]) -> bool: ...
    @overload
    def __le__(self: Times[Scalar], other: Times[Array]) -> _BoolArray: ...
    @overload
    def __le__(self: Times[Array], other: Times[Scalar] | Times[Array]) -> _BoolArray: ...
    def __le__(self, other: object) -> Any:
        return self._compare(other, np.less_equal)

    @overload
    def __gt__(self: Times[Scalar], other: Times[Scalar]) -> bool: ...
    @overload
    def __gt__(self: Times[Scalar], other: Times[Array]) -> _BoolArray: ...
    @overload
    def __gt__(self: Times[Array], other: Times[Scalar] | Times[Array]) -> _BoolArray: ...
    def __gt__(self, other: object) -> Any:
        return self._compare(other, np.greater)

    @overload
    def __ge__(self: Times[Scalar], other: Times[Scalar]) -> bool: ...
    @overload
    def __ge__(self: Times[Scalar], other: Times[Array]) -> _BoolArray: ...
    @overload
    def __ge__(self: Times[Array], other: Times[Scalar] | Times[Array]) -> _BoolArray: ...
    def __ge__(self, other: object) -> Any:
        return self._compare(other, np.greater_equal)

    def __eq__(self, other: object) -> bool:
        """Same instants (their TT Julian days equal), whatever the scales
        they were made in; a single bool for arrays too."""
        if not isinstance(other, Times):
            return NotImplemented
        mine, theirs = self._tt_values(), other._tt_values()
        return mine.shape == theirs.shape and bool(np.array_equal(mine, theirs))

    def __ne__(self, other: object) -> bool:
        equal = self.__eq__(other)
        return equal if equal is NotImplemented else not equal

    def __hash__(self) -> int:
        if self._jd.ndim != 0:
            raise TypeError("an array Times is not hashable (it can be changed into another); hash its items")
        return hash(float(self._tt_values()))

    def __bool__(self) -> bool:
        return True

    def __copy__(self) -> Times:
        return self

    def __deepcopy__(self, memo: dict[int, Any]) -> Times:
        # The Julian days are read-only and the ephemeris is shared, so the
        # copy may be the same value.
        return self

    def __reduce__(self) -> tuple[Any, ...]:
        recipe = self._clock.recipe
        if recipe is None:
            raise TypeError("these Times belong to an ephemeris made without tarvexkit.load() or tarvexkit.open() "
                            "and cannot be pickled")
        return (restore_times, (tuple(recipe), self._jd.tolist(), self._scale, self._calendar))


def _as_days(other: object) -> Any:
    """Days to add: a number, an array of numbers (finite) or a timedelta
    (or numpy.timedelta64); None for what is no amount of days at all.
    None, booleans, instants (datetime64) and NaN raise, naming the value."""
    if isinstance(other, timedelta):
        return other / timedelta(days=1)
    if isinstance(other, np.timedelta64):
        return float(other / np.timedelta64(1, "D"))
    if isinstance(other, Times) or isinstance(other, (str, bytes)):
        return None
    if other is None or isinstance(other, (bool, np.bool_, datetime, np.datetime64)):
        raise TypeError(f"Times take a number of days (or a timedelta) added or subtracted, not "
                        f"{type(other).__name__} {other!r}")
    try:
        days = np.asarray(other, dtype=np.float64)
        kind = np.asarray(other).dtype.kind
    except (TypeError, ValueError):
        return None
    if kind in "bmMSU":
        raise TypeError(f"Times take numbers of days added or subtracted, not an array of {np.asarray(other).dtype}")
    if not np.isfinite(days).all():
        raise ValueError(f"days added to or subtracted from Times must be finite, not {other!r}")
    return float(days) if days.ndim == 0 else days


# The UT1 Julian day before which UT1 and TT convert by the Delta T model
# of `early_time` both ways, so that civil time before 1961 (read as UT1)
# comes back exactly: 1960-12-28, the last row of the extended Earth
# orientation table before it ramps onto the IERS series (`ut1_extension`),
# where the table and the model meet without a step. In the four days from
# there to 1961 UT1 is the table's, within 3 ms of the model.
UT1_MODEL_END = early_time.UTC_1961 - 4.0
# The same instant in TT (TDB differs by under 2 ms, which does not matter here).
_TT_MODEL_END = float(early_time.utc_to_tt(np.array([UT1_MODEL_END]))[0])


def zone_info(parameter: str, zone: object) -> tzinfo:
    """A tzinfo, or the zone an IANA name ("Europe/Madrid") names."""
    if isinstance(zone, tzinfo):
        return zone
    if isinstance(zone, str):
        try:
            return ZoneInfo(zone)
        except (ValueError, LookupError) as error:
            text = repr(zone) if len(zone) <= 60 else f"{zone[:60]!r}..."
            raise ValueError(f"unknown time zone {text} for {parameter}=; use an IANA name such as "
                             f"'Europe/Madrid' or a tzinfo ({type(error).__name__})") from None
    raise TypeError(f"{parameter} must be a tzinfo or an IANA zone name (str), not {type(zone).__name__}")


def _utc_text(year: int, month: int, day: int, hour: int, minute: int, second: float, places: int) -> str:
    text = f"{second:02.0f}" if places == 0 else f"{second:0{3 + places}.{places}f}"
    return f"{_iso_year(year)}-{month:02d}-{day:02d}T{hour:02d}:{minute:02d}:{text}Z"


def utc_instant(clock: Clock, year: object, month: object, day: object, hour: object, minute: object,
                second: object, calendar: CalendarName) -> Times[Scalar] | None:
    """`Ephemeris.utc(...)` (strict=False) of one instant given as Python
    ints and floats, by the array path's arithmetic on plain numbers; None
    where that path must decide (other types, values it refuses, civil time
    before 1972), so errors and early dates keep one source."""
    if type(year) is not int or type(month) is not int or abs(year) > INTEGER_FIELD_LIMIT \
            or abs(month) > INTEGER_FIELD_LIMIT:
        return None
    values = []
    for value in (day, hour, minute, second):
        if type(value) is int and abs(value) <= INTEGER_FIELD_LIMIT:
            values.append(float(value))
        elif type(value) is float and math.isfinite(value):
            values.append(value)
        else:
            return None
    d, h, mi, s = values
    months = year * 12 + (month - 1)
    y, mo = months // 12, months % 12 + 1
    if not -4712 <= y <= 100000 or abs(d) > ROLLOVER_LIMIT_DAYS or abs(h) > ROLLOVER_LIMIT_DAYS * 24.0 \
            or abs(mi) > ROLLOVER_LIMIT_DAYS * 1440.0 or abs(s) > ROLLOVER_LIMIT_DAYS * 86400.0:
        return None
    whole_day = float(math.floor(d))
    number = day_number_of(y, mo, 1, "julian" if calendar == "julian" else "gregorian") - 1 + whole_day
    if calendar == "auto" and number < GREGORIAN_START_DAY:
        number = day_number_of(y, mo, 1, "julian") - 1 + whole_day
    day_start = number - 0.5
    seconds = (d - whole_day) * 86400.0 + h * 3600.0 + mi * 60.0 + s
    if day_start < early_time.UTC_1972:
        return None
    if 0.0 <= seconds < 86400.0:
        return Times(clock, day_start + seconds / 86400.0, "utc", calendar)
    if not clock.has_leap_seconds:
        return None
    # Seconds beyond the named day count on with that day's TAI - UTC, as in Ephemeris.utc.
    offset = clock._tai_minus_utc_one(day_start) + early_time.TT_MINUS_TAI_S
    return Times(clock, day_start + (seconds + offset) / 86400.0, "tt", calendar)


def _iso_year(year: int) -> str:
    if year < 0:
        return f"{year:05d}"
    return f"{year:04d}" if year <= 9999 else f"+{year}"


# How an unpickled Times finds its clock: a function from a recipe to the
# clock of the ephemeris opened again from it, once per process. Set by
# `tarvexkit.ephemeris` when the package is imported (which importing this
# module does first), so that this module needs no import of it.
reopen_clock: Callable[[Recipe], Clock] | None = None


def restore_times(recipe: tuple[Any, ...], julian_days: Any, scale: Scale,
                  calendar: CalendarName = "gregorian") -> Times:
    """Unpickles a Times: opens its ephemeris again as it was opened
    (`tarvexkit.load()` or `tarvexkit.open(...)` with the same paths), once
    per process, and checks that every file still has the SHA-256 it had."""
    if reopen_clock is None:
        raise ValueError("cannot unpickle Times: tarvexkit.ephemeris is not imported")
    try:
        clock = reopen_clock(Recipe(*recipe))
    except (OSError, ModuleNotFoundError) as error:
        raise ValueError(f"cannot unpickle Times: their ephemeris cannot be opened again ({error})") from None
    return Times(clock, julian_days, scale, calendar)
