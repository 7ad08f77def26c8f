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

import math
from collections.abc import Iterator, Sequence
from datetime import datetime, timedelta, timezone, tzinfo
from typing import TYPE_CHECKING, Any, Literal, overload

import numpy as np
import numpy.typing as npt

import tarvex

from . import early_time
from .calendar import civil_from_day_number

if TYPE_CHECKING:
    from ._native import Store

Scale = Literal["utc", "ut1", "tt", "tdb"]
SCALES: tuple[Scale, ...] = ("utc", "ut1", "tt", "tdb")
_FloatArray = npt.NDArray[np.float64]


def check_scale(scale: object) -> Scale:
    if scale == "utc" or scale == "ut1" or scale == "tt" or scale == "tdb":
        return scale
    raise ValueError(f"unknown time scale {scale!r}; use one of 'utc', 'ut1', 'tt', 'tdb'")


class Clock:
    """The time data of one Ephemeris: conversions between the four scales."""

    def __init__(self, store: Store) -> None:
        self._store = store
        entries = store.leap_second_entries()
        self.has_leap_seconds = entries is not None
        self._leap_days = np.array([e[1] for e in entries or ()], dtype=np.float64)
        self._leap_offsets = np.array([e[0] for e in entries or ()], dtype=np.float64)
        coverage = store.eop_coverage()
        self.eop_start = coverage[0] if coverage else math.inf

    # TAI - UTC in force on UTC Julian days (the kernel's table, no extrapolation
    # backwards: callers only ask for days from 1972 on).
    def tai_minus_utc(self, utc_jd: _FloatArray) -> _FloatArray:
        row = np.searchsorted(self._leap_days, utc_jd, side="right") - 1
        return np.asarray(self._leap_offsets[np.clip(row, 0, None)], dtype=np.float64)

    def leap_second_after(self, day_start_jd: _FloatArray) -> _FloatArray:
        """Seconds inserted at the end of the UTC day starting at `day_start_jd` (0 or 1)."""
        return self.tai_minus_utc(day_start_jd + 1.0) - self.tai_minus_utc(day_start_jd)

    def convert(self, jd: _FloatArray, scale: Scale, to: Scale) -> _FloatArray:
        jd = np.asarray(jd, dtype=np.float64)
        if scale == to:
            return jd.copy()
        if to in ("tt", "tdb") or scale in ("utc", "ut1"):
            return self._native(jd, scale, to)
        # TT or TDB to a civil scale: instants before 1972 follow the early rules.
        tt = jd if scale == "tt" else self._native(jd, scale, "tt")
        early = tt < early_time.TT_EARLY_LIMIT
        if not np.any(early):
            return self._native(jd, scale, to)
        result = np.empty_like(tt)
        if not np.all(early):
            result[~early] = self._native(jd[~early], scale, to)
        utc = early_time.tt_to_utc(tt[early])
        if to == "ut1":
            utc = self.early_ut1(utc)
        result[early] = utc
        return result

    def early_ut1(self, utc_jd: _FloatArray) -> _FloatArray:
        """UT1 of civil times before 1972: from the EOP table where it has rows,
        else civil time itself (taken as UT1 before 1961; within 0.1 s in 1961)."""
        ut1 = np.array(utc_jd, dtype=np.float64)
        covered = utc_jd >= self.eop_start
        if np.any(covered):
            ut1[covered] = self._native(utc_jd[covered], "utc", "ut1")
        return ut1

    def utc_to_tt_any(self, utc_jd: _FloatArray) -> _FloatArray:
        """TT of UTC Julian days on either side of 1972."""
        utc_jd = np.asarray(utc_jd, dtype=np.float64)
        early = utc_jd < early_time.UTC_1972
        result = np.empty_like(utc_jd)
        if not np.all(early):
            result[~early] = self._native(utc_jd[~early], "utc", "tt")
        if np.any(early):
            result[early] = early_time.utc_to_tt(utc_jd[early])
        return result

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
        if np.any(early):
            u = early_time.tt_to_utc(tt[early])
            day[early] = np.floor(u - 0.5) + 0.5
            seconds[early] = (u - day[early]) * 86400.0
        late = ~early
        if np.any(late):
            t = tt[late]
            u = self._native(t, "tt", "utc")
            d = np.floor(u - 0.5) + 0.5
            for _ in range(2):
                s = (t - d) * 86400.0 - (self.tai_minus_utc(d) + early_time.TT_MINUS_TAI_S)
                length = 86400.0 + self.leap_second_after(d)
                d = np.where(s < 0.0, d - 1.0, np.where(s >= length, d + 1.0, d))
            day[late] = d
            seconds[late] = (t - d) * 86400.0 - (self.tai_minus_utc(d) + early_time.TT_MINUS_TAI_S)
        return day, seconds

    def day_length(self, day_start: _FloatArray) -> _FloatArray:
        length = np.full_like(day_start, 86400.0)
        late = day_start >= early_time.UTC_1972
        if np.any(late) and self.has_leap_seconds:
            length[late] += self.leap_second_after(day_start[late])
        return length


class Times:
    """Instants in one time scale: a scalar or a 1-D array of Julian days.

    Made by `Ephemeris.utc`, `Ephemeris.from_datetime`, `Ephemeris.times`
    and returned by event searches. Converts with the ephemeris's own
    leap-second kernel and Earth orientation table.
    """

    __slots__ = ("_clock", "_jd", "_scale")

    def __init__(self, clock: Clock, julian_days: npt.ArrayLike, scale: Scale) -> None:
        jd = np.array(julian_days, dtype=np.float64)
        if jd.ndim > 1:
            raise ValueError(f"Times holds a scalar or a 1-D array of Julian days, not shape {jd.shape}")
        jd.setflags(write=False)
        self._clock = clock
        self._jd = jd
        self._scale = check_scale(scale)

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
        return self._jd.shape

    def _in(self, scale: Scale) -> Any:
        result = self._clock.convert(self._jd, self._scale, scale)
        return float(result) if result.ndim == 0 else result

    @property
    def tt(self) -> Any:
        """Terrestrial Time Julian days (float for a scalar, else array)."""
        return self._in("tt")

    @property
    def tdb(self) -> Any:
        """Barycentric Dynamical Time Julian days."""
        return self._in("tdb")

    @property
    def ut1(self) -> Any:
        """UT1 Julian days (needs the Earth orientation table from 1962 on)."""
        return self._in("ut1")

    @property
    def utc(self) -> Any:
        """UTC Julian days (a leap second reads as the first second of the next day)."""
        return self._in("utc")

    def instants(self, scale: Scale | None = None) -> list[tarvex.Instant]:
        """The instants as `tarvex.Instant` objects, in `scale` (default: `self.scale`)."""
        scale = self._scale if scale is None else check_scale(scale)
        jd = np.atleast_1d(self._clock.convert(self._jd, self._scale, scale))
        return [tarvex.Instant(float(d), scale) for d in jd]

    # --- calendar forms -----------------------------------------------------
    def utc_calendar(self, places: int | None = None) -> tuple[npt.NDArray[np.int64], ...]:
        """UTC (year, month, day, hour, minute) arrays and the seconds as float array.

        With `places`, the seconds are rounded to that many decimals first
        (carrying into the minute, hour and day as a clock would).
        """
        tt = np.atleast_1d(self._clock.convert(self._jd, self._scale, "tt"))
        day, seconds = self._clock.utc_fields(tt)
        if places is not None:
            seconds = np.round(seconds, places)
            length = self._clock.day_length(day)
            over = seconds >= length
            day = np.where(over, day + 1.0, day)
            seconds = np.where(over, seconds - length, seconds)
        number = (day + 0.5).astype(np.int64)
        year, month, dom = civil_from_day_number(number, "gregorian")
        leap = seconds >= 86400.0
        whole = np.where(leap, 86399.0, seconds)
        hour = (whole // 3600).astype(np.int64)
        minute = ((whole - hour * 3600) // 60).astype(np.int64)
        sec = np.where(leap, seconds - 86340.0, seconds - hour * 3600 - minute * 60)
        return year, month, dom, hour, minute, sec

    def iso(self, tz: tzinfo | None = None, places: int = 0) -> Any:
        """ISO 8601 text: UTC with 'Z', or local time in `tz` with its offset.

        A leap second reads 23:59:60 in UTC; in another zone it reads as the
        last representable instant of 23:59:59.
        """
        if isinstance(places, bool) or not isinstance(places, (int, np.integer)) or not 0 <= places <= 9:
            raise ValueError(f"places must be an int from 0 to 9, got {places!r}")
        if tz is None:
            year, month, day, hour, minute, sec = self.utc_calendar(places)
            if year.size and np.any(np.abs(year) > 9999):
                worst = int(year.flat[int(np.argmax(np.abs(year)))])
                raise ValueError(f"iso() writes years -9999..9999, and one instant falls in year {worst}; "
                                 "use utc_calendar() for such instants")
            width = 3 + places if places else 2
            texts = [
                f"{y:04d}-{mo:02d}-{d:02d}T{h:02d}:{mi:02d}:{s:0{width}.{places}f}Z"
                for y, mo, d, h, mi, s in zip(year, month, day, hour, minute, sec)
            ]
        else:
            texts = [dt.isoformat(sep="T", timespec="milliseconds" if places else "seconds")
                     for dt in np.atleast_1d(np.array(self.to_datetime(tz), dtype=object))]
        return texts[0] if self._jd.ndim == 0 else texts

    def to_datetime(self, tz: tzinfo = timezone.utc) -> Any:
        """Aware `datetime` objects in `tz` (UTC by default), to the millisecond.

        A Julian day in one 64-bit float resolves about 40 microseconds near
        the present, so finer digits would be noise. `datetime` cannot hold a
        leap second; 23:59:60.x becomes 23:59:59.999.
        """
        year, month, day, hour, minute, sec = self.utc_calendar(3)
        result = []
        for y, mo, d, h, mi, s in zip(year, month, day, hour, minute, sec):
            if not 1 <= y <= 9999:
                raise ValueError(f"year {y} is outside the range of datetime (1..9999); use iso() or utc_calendar()")
            micro = min(int(round(s * 1e3)), 59_999) * 1000
            base = datetime(int(y), int(mo), int(d), int(h), int(mi), tzinfo=timezone.utc)
            result.append((base + timedelta(microseconds=micro)).astimezone(tz))
        return result[0] if self._jd.ndim == 0 else result

    # --- container protocol -------------------------------------------------
    def __len__(self) -> int:
        if self._jd.ndim == 0:
            raise TypeError("a scalar Times has no len()")
        return int(self._jd.shape[0])

    @overload
    def __getitem__(self, index: int) -> Times: ...
    @overload
    def __getitem__(self, index: slice | Sequence[int] | npt.NDArray[Any]) -> Times: ...
    def __getitem__(self, index: Any) -> Times:
        if self._jd.ndim == 0:
            raise TypeError("a scalar Times cannot be indexed")
        return Times(self._clock, self._jd[index], self._scale)

    def __iter__(self) -> Iterator[Times]:
        for i in range(len(self)):
            yield self[i]

    def __repr__(self) -> str:
        if self._jd.ndim == 0:
            return f"<Times {self.iso()} ({self._scale} {float(self._jd)!r})>"
        n = len(self)
        if n == 0:
            return f"<Times [] ({self._scale})>"
        texts = self[:3].iso() if n > 3 else self.iso()
        more = f" ... {self[n - 1].iso()}" if n > 3 else ""
        return f"<Times {n} instants: {', '.join(texts)}{more} ({self._scale})>"

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, Times):
            return NotImplemented
        return self._scale == other._scale and np.array_equal(self._jd, other._jd)

    __hash__ = None  # type: ignore[assignment]
