"""`Ephemeris`: the everyday entrance. Opens kernels and time data once,
makes `Times` from calendar dates and `datetime` objects, and computes
positions on NumPy arrays over all CPUs and events returned as `Times`.

Behind it sit two engines over the same files:
- the native store of `tarvexkit._native`, which converts times and runs
  batches with the interpreter lock released, one kernel store per worker;
- a strict `tarvex.Engine` per thread (an Engine belongs to the thread
  that opened it), for single positions, events and house cusps.
Both run the same C++ code, so a batch equals the strict API bit for bit.
"""

from __future__ import annotations

import os
import threading
from collections.abc import Iterable, Sequence
from dataclasses import dataclass
from datetime import datetime, timezone
from pathlib import Path
from typing import Any

import numpy as np
import numpy.typing as npt

import tarvex

from . import _native, astrology, data, early_time, lunar, observing, searches
from . import chart as _chart
from .calendar import CalendarName, as_float_field, as_integer_field, check_calendar, check_date, day_number
from .observing import Horizontal, MoonPhase
from .times import Clock, Scale, Times, check_scale

_FloatArray = npt.NDArray[np.float64]
PathLike = str | os.PathLike[str]

SEASON_KINDS = ("march_equinox", "june_solstice", "september_equinox", "december_solstice")
LUNATION_KINDS = ("new_moon", "full_moon")


@dataclass(frozen=True)
class Events:
    """Events found over a span: their times, in order, and their kinds."""

    times: Times
    kinds: list[str]

    def __len__(self) -> int:
        return len(self.kinds)

    def __iter__(self) -> Any:
        return iter(zip(self.kinds, self.times))


class Ephemeris:
    """Kernels and time data, opened once. Make one with `tarvexkit.load()`
    or `tarvexkit.open(...)`.

    Usable from any thread: each thread gets its own strict engine, and
    batches run on worker threads with their own kernel stores.
    """

    def __init__(self, files: Sequence[data.DataFile]) -> None:
        self.files: tuple[data.DataFile, ...] = tuple(files)
        kernels = [(f.path, f.sha256) for f in files if f.role in ("kernel", "additional kernel")]
        lsk = next(((f.path, f.sha256) for f in files if f.role == "leap seconds"), None)
        eop = next(((f.path, f.sha256) for f in files if f.role == "earth orientation"), None)
        self._kernels = kernels
        self._lsk = lsk
        self._eop = eop
        self._store = _native.Store(kernels, lsk, eop)
        self._clock = Clock(self._store)
        self._local = threading.local()
        self._rotation: _native.EarthRotation | None = None

    # --- the strict engine of this thread -------------------------------------
    @property
    def engine(self) -> tarvex.Engine:
        """The strict `tarvex.Engine` of the calling thread over the same files."""
        engine: tarvex.Engine | None = getattr(self._local, "engine", None)
        if engine is None:
            (path, sha), *extra = self._kernels
            kwargs: dict[str, str] = {}
            if self._lsk:
                kwargs.update(leap_second_kernel=self._lsk[0], leap_second_sha256=self._lsk[1])
            if self._eop:
                kwargs.update(eop=self._eop[0], eop_sha256=self._eop[1])
            engine = tarvex.open(path, sha, **kwargs)
            for extra_path, extra_sha in extra:
                engine.with_additional_kernel_file(extra_path, extra_sha)
            self._local.engine = engine
        return engine

    @property
    def supported_range(self) -> Times:
        """First and last instant the kernels cover (TDB)."""
        start, end = self._store.supported_range
        return Times(self._clock, [start, end], "tdb")

    def __repr__(self) -> str:
        names = ", ".join(f"{f.role}={Path(f.path).name}" for f in self.files)
        return f"<tarvexkit.Ephemeris {names}>"

    # --- making Times -------------------------------------------------------
    def times(self, julian_days: npt.ArrayLike, scale: Scale) -> Times:
        """Times from Julian days in `scale` ('utc', 'ut1', 'tt' or 'tdb').

        UTC and UT1 Julian days before 1972 are converted to TT (see
        `early_time`), since the leap-second kernel has no offset there.
        """
        scale = check_scale(scale)
        jd = as_float_field("julian_days", julian_days)
        if scale in ("utc", "ut1") and np.any(jd < early_time.UTC_1972):
            if scale == "ut1":
                jd = self._early_ut1_to_utc(jd)
            return Times(self._clock, self._clock.utc_to_tt_any(jd), "tt")
        return Times(self._clock, jd, scale)

    def _early_ut1_to_utc(self, ut1: _FloatArray) -> _FloatArray:
        utc = np.array(ut1, dtype=np.float64)
        covered = ut1 >= self._clock.eop_start
        if np.any(covered):
            utc[covered] = self._clock.convert(ut1[covered], "ut1", "utc")
        return utc

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
    ) -> Times:
        """Times from UTC calendar fields; each a number or an array (broadcast).

        23:59:60 is accepted on days that end with a leap second. Before
        1972 the fields are civil time (UTC 1961-1971, UT1 before), and the
        result is kept in TT. `calendar="julian"` reads the date in the
        Julian calendar.
        """
        calendar = check_calendar(calendar)
        try:
            y, mo, d, h, mi, s = np.broadcast_arrays(
                as_integer_field("year", year),
                as_integer_field("month", month),
                as_integer_field("day", day),
                as_integer_field("hour", hour),
                as_integer_field("minute", minute),
                as_float_field("second", second),
            )
        except ValueError as error:
            if "broadcast" not in str(error):
                raise
            raise ValueError(f"calendar fields do not broadcast together: {error}") from None
        if y.ndim > 1:
            raise ValueError(f"calendar fields must broadcast to a scalar or 1-D shape, not {y.shape}")
        check_date(y, mo, d, calendar)
        if np.any((h < 0) | (h > 23) | (mi < 0) | (mi > 59) | (s < 0.0) | (s >= 61.0)):
            raise ValueError("hour must be 0..23, minute 0..59 and second in [0, 60) (or [60, 61) in a leap second)")
        day_start = day_number(y, mo, d, calendar).astype(np.float64) - 0.5
        leap = s >= 60.0
        if np.any(leap):
            allowed = (h == 23) & (mi == 59) & (day_start >= early_time.UTC_1972)
            if self._clock.has_leap_seconds:
                allowed &= self._clock.leap_second_after(day_start) == 1.0
            else:
                allowed &= False
            if np.any(leap & ~allowed):
                i = int(np.flatnonzero(leap & ~allowed)[0])
                raise ValueError(
                    f"second {float(s.flat[i])!r} at {int(h.flat[i]):02d}:{int(mi.flat[i]):02d} on "
                    f"{int(y.flat[i]):04d}-{int(mo.flat[i]):02d}-{int(d.flat[i]):02d}: only 23:59:60 on a day "
                    "that ends with a leap second may have a 60th second"
                )
        seconds = (h * 3600 + mi * 60).astype(np.float64) + s
        jd = day_start + seconds / 86400.0
        early = jd < early_time.UTC_1972
        if not np.any(leap) and not np.any(early):
            return Times(self._clock, jd, "utc")
        tt = np.empty_like(jd)
        plain = ~leap & ~early
        if np.any(plain):
            tt[plain] = self._clock.convert(jd[plain], "utc", "tt")
        if np.any(early):
            tt[early] = early_time.utc_to_tt(jd[early])
        if np.any(leap):
            offset = self._clock.tai_minus_utc(day_start[leap]) + early_time.TT_MINUS_TAI_S
            tt[leap] = day_start[leap] + (seconds[leap] + offset) / 86400.0
        return Times(self._clock, tt, "tt")

    def from_datetime(self, when: datetime | Iterable[datetime]) -> Times:
        """Times from time-zone-aware `datetime` objects (one or a sequence).

        Naive datetimes are refused: attach a zone, for example
        `datetime(2026, 3, 20, 14, 30, tzinfo=zoneinfo.ZoneInfo("Europe/Berlin"))`.
        """
        single = isinstance(when, datetime)
        items = [when] if isinstance(when, datetime) else list(when)
        fields = np.zeros((len(items), 6), dtype=np.float64)
        for i, dt in enumerate(items):
            if not isinstance(dt, datetime):
                raise TypeError(f"expected datetime objects, got {type(dt).__name__}")
            if dt.tzinfo is None or dt.utcoffset() is None:
                raise ValueError(
                    f"naive datetime {dt.isoformat()} has no time zone; attach one, e.g. "
                    "dt.replace(tzinfo=zoneinfo.ZoneInfo('Europe/London')) or tzinfo=datetime.timezone.utc"
                )
            u = dt.astimezone(timezone.utc)
            fields[i] = (u.year, u.month, u.day, u.hour, u.minute, u.second + u.microsecond / 1e6)
        columns = [fields[:, k] for k in range(6)]
        if single:
            columns = [c[0] for c in columns]
        return self.utc(*(c.astype(np.int64) if k < 5 else c for k, c in enumerate(columns)))

    def now(self) -> Times:
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
        fed with `times.instants()`. `options` defaults to apparent
        geocentric ecliptic of date (`tarvex.apparent()`). `times` is a
        `Times`, or Julian days with `scale=`. Runs on `threads` worker
        threads (default: the CPUs available) with the interpreter lock
        released; Ctrl-C stops it. Options whose correction switches were
        set one by one (not through `tarvex.apparent()`, `tarvex.geometric()`
        or `apparent=True`) cannot be read by the worker threads and are
        computed by the strict engine on the calling thread instead. Kernels
        that only tarvexkit reads (SPK types other than 2, segments in
        B1950, FK4 or the older DE frames, bodies whose coverage has gaps)
        are read by the native store alone; their options are then taken as
        the presets (apparent, or else geometric).
        """
        jd, time_scale = self._julian_days(times, scale)
        jd = np.atleast_1d(jd)
        names = body_names(bodies)
        opts = tarvex.apparent() if options is None else options
        if not self._store_reads(names, jd, time_scale, opts):
            instants = [tarvex.Instant(float(d), time_scale) for d in jd]
            return self.engine.positions(names, instants, opts)
        return self._store.positions(names, jd, time_scale, opts, threads)

    def _store_reads(self, names: list[str], jd: _FloatArray, scale: Scale, opts: tarvex.PositionOptions) -> bool:
        """Whether the native store sees `opts` whole.

        A `tarvex.PositionOptions` shows its origin, frame, epoch, observer
        and whether it is the apparent preset (every correction on), but not
        correction switches set one by one. Without the preset, the first
        instant is computed by both engines and compared bit for bit; options
        the store cannot read are then computed by the strict engine, on
        this thread, which also reports their errors.
        """
        if opts.apparent or jd.size == 0 or not names:
            return True
        try:
            ours = self._store.positions(names, jd[:1], scale, opts, 1)
        except (ValueError, TypeError) as store_error:
            try:
                # The strict batch checks the request (bodies, options) without instants.
                self.engine.positions(names, [], opts)
            except ValueError:
                # Kernels or bodies only the toolkit reads: its error stands.
                raise store_error from None
            return False
        try:
            reference = self.engine.positions(names, [tarvex.Instant(float(jd[0]), scale)], opts)
        except ValueError:
            # Kernels only the toolkit reads (segment types other than 2,
            # frames other than J2000, coverage with gaps): the strict engine
            # refuses them, and the options are read as the presets.
            return True
        return bool(np.array_equal(ours.view(np.uint64), reference.view(np.uint64)))

    def position(self, body: str, when: Times, options: tarvex.PositionOptions | None = None) -> tarvex.Position:
        """One position at a scalar `Times` (strict engine)."""
        (instant,) = self._scalar(when).instants()
        return self.engine.position(body, instant, tarvex.apparent() if options is None else options)

    def sidereal_position(
        self, body: str, when: Times, mode: str = "lahiri", options: tarvex.PositionOptions | None = None
    ) -> tarvex.Position:
        """Sidereal (Lahiri or Fagan-Bradley) longitude of one body at a scalar `Times`."""
        (instant,) = self._scalar(when).instants()
        return self.engine.sidereal_position(body, instant, tarvex.apparent() if options is None else options, mode)

    def house_cusps(self, site: tarvex.GeodeticObserver, when: Times, system: str = "placidus") -> tarvex.HouseCusps:
        """House cusps for a site at a scalar `Times` (UT1 and TT from this ephemeris)."""
        when = self._scalar(when)
        return tarvex.house_cusps(site, float(when.ut1), float(when.tt), system)

    # --- astrology over arrays (astrology.py, lunar.py) ------------------------
    def houses(self, site: tarvex.GeodeticObserver, times: Times, system: str = "placidus") -> astrology.Houses:
        """Cusps of any of the eighteen systems for a site at `times` (scalar or array).

        RAMC is the local apparent sidereal time from this ephemeris's UT1
        and TT, and the obliquity the true one, as `tarvex.house_cusps`
        takes them (its four systems give the same cusps). A scalar `Times`
        raises `HouseCuspsUndefined` where the system has no cusps; an array
        gives NaN rows with `defined` False there.
        """
        if not isinstance(times, Times):
            raise TypeError(f"expected a Times, got {type(times).__name__}; make one with ephemeris.utc(...)")
        return astrology.site_houses(system, times.ut1, times.tt, site.longitude_east_deg, site.latitude_deg,
                                     times.shape == ())

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
        the tropical longitude of date less the (mean) ayanamsha, and the
        speed (column 3) less its rate. Any ayanamsha of
        `tarvexkit.AYANAMSHAS`; 'lahiri' and 'fagan_bradley' equal
        `tarvex.Engine.sidereal_position`. `options` must be ecliptic of date
        (default `tarvex.apparent()`).
        """
        opts = tarvex.apparent() if options is None else options
        if opts.coordinate_system != "ecliptic" or opts.reference_epoch != "of_date":
            raise ValueError("sidereal longitudes require ecliptic of date")
        name = astrology.ayanamsha_name(ayanamsha)
        out = self.positions(bodies, times, opts, scale=scale, threads=threads)
        jd, time_scale = self._julian_days(times, scale)
        tt = np.atleast_1d(self._clock.convert(jd, time_scale, "tt"))
        table = astrology.ayanamsha_table(name, np.ascontiguousarray(tt))
        out[:, :, 0] = (out[:, :, 0] - table[:, 0:1]) % 360.0
        out[:, :, 3] -= table[:, 1:2]
        return out

    def ayanamsha_deg(self, name: str, times: Times) -> Any:
        """The mean ayanamsha `name` at `times` (float or array)."""
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
        jd, time_scale = self._julian_days(times, scale)
        jd = np.atleast_1d(jd)
        names = [points] if isinstance(points, str) else list(points)
        tt = np.atleast_1d(self._clock.convert(jd, time_scale, "tt"))
        tdb = np.atleast_1d(self._clock.convert(jd, time_scale, "tdb"))

        def batch(bodies: Sequence[str], days: _FloatArray, opts: tarvex.PositionOptions) -> _FloatArray:
            return self._store.positions(list(bodies), days, "tdb", opts, threads)

        return lunar.lunar_points(names, tt, tdb, batch, equinox)

    # --- searches over a span (searches.py) -----------------------------------
    def _longitudes(self, zodiac: str, threads: int | None) -> searches.Longitudes:
        def apparent(bodies: Sequence[str], tt: _FloatArray) -> _FloatArray:
            return self._store.positions(list(bodies), tt, "tt", tarvex.apparent(), threads)[:, :, 0]

        return searches.zodiac_longitudes(apparent, zodiac)

    def _span(self, start: Times, stop: Times) -> tuple[float, float]:
        return float(self._scalar(start).tt), float(self._scalar(stop).tt)

    def _found(self, found: tuple[_FloatArray, list[str]]) -> Events:
        return Events(Times(self._clock, found[0], "tt"), found[1])

    def sign_ingresses(self, body: str, start: Times, stop: Times, *, zodiac: str = "tropical",
                       step_days: float | None = None, threads: int | None = None) -> Events:
        """Entries of `body` into the signs in [start, stop), in order; the
        kinds name the sign entered ('taurus', ...). Apparent geocentric
        longitude of date; `zodiac` 'tropical' or an ayanamsha's name."""
        return self._found(searches.sign_ingresses(self._longitudes(zodiac, threads), body,
                                                   *self._span(start, stop), step_days))

    def stations(self, body: str, start: Times, stop: Times, *, step_days: float | None = None,
                 threads: int | None = None) -> Events:
        """Stations of Mercury..Pluto in [start, stop), in order: kind
        'retrograde' where the apparent longitude turns backwards, 'direct'
        where it turns forwards."""
        return self._found(searches.stations(self._longitudes("tropical", threads), body,
                                             *self._span(start, stop), step_days))

    def aspects(self, first: str, second: str, start: Times, stop: Times, aspects: Sequence[str | float] | None = None,
                *, zodiac: str = "tropical", step_days: float | None = None, threads: int | None = None) -> Events:
        """Exact aspects between two bodies in [start, stop), in order: the
        instants where their apparent longitudes differ by an aspect's angle
        (either way round). `aspects`: names ('conjunction', 'sextile',
        'square', 'trine', 'opposition', the default set) or angles in
        degrees; kinds are the names (an angle's is its number, e.g. '45')."""
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
    ) -> _chart.Chart:
        """A chart for one instant and site: apparent longitudes, speeds,
        retrograde flags, signs and houses of the bodies (and lunar points),
        the house cusps, and the aspects in orb. See `tarvexkit.chart`."""
        return _chart.make_chart(self, self._scalar(when), site, houses=houses, zodiac=zodiac, bodies=bodies,
                                aspects=aspects, orbs=orbs)

    def _julian_days(self, times: Times | npt.ArrayLike, scale: Scale | None) -> tuple[_FloatArray, Scale]:
        if isinstance(times, Times):
            if scale is not None and scale != times.scale:
                raise ValueError(f"scale={scale!r} conflicts with the Times' own scale {times.scale!r}; leave it out")
            return times.julian_days, times.scale
        if scale is None:
            raise ValueError("Julian days need their scale: pass scale='utc', 'ut1', 'tt' or 'tdb', or pass a Times")
        jd = np.asarray(times, dtype=np.float64)
        if jd.ndim > 1:
            raise ValueError(f"Julian days must be a scalar or a 1-D array, not shape {jd.shape}")
        return jd, check_scale(scale)

    @staticmethod
    def _scalar(when: Times) -> Times:
        if not isinstance(when, Times):
            raise TypeError(f"expected a Times, got {type(when).__name__}; make one with ephemeris.utc(...)")
        if when.shape != ():
            raise ValueError(f"expected a single instant, got {when.shape[0]}; index the Times first")
        return when

    # --- events ----------------------------------------------------------------
    def _as_tt(self, tt: float) -> Times:
        return Times(self._clock, tt, "tt")

    def next_season_event(self, after: Times, kind: str) -> Times:
        """The next equinox or solstice of `kind` after a scalar `Times`."""
        (instant,) = self._scalar(after).instants("tt")
        return self._as_tt(self.engine.next_season_event(instant, kind).julian_day)

    def next_lunation(self, after: Times, kind: str) -> Times:
        """The next new or full Moon after a scalar `Times`."""
        (instant,) = self._scalar(after).instants("tt")
        return self._as_tt(self.engine.next_lunation(instant, kind).julian_day)

    def _events_between(self, start: Times, stop: Times, kinds: Sequence[str], find: Any) -> Events:
        begin, end = float(self._scalar(start).tt), float(self._scalar(stop).tt)
        found: list[tuple[float, str]] = []
        for kind in kinds:
            t = begin
            while True:
                t = find(tarvex.Instant.tt(t), kind).julian_day
                if t >= end:
                    break
                found.append((t, kind))
        found.sort()
        return Events(Times(self._clock, [t for t, _ in found], "tt"), [k for _, k in found])

    def seasons(self, start: Times, stop: Times) -> Events:
        """Equinoxes and solstices in [start, stop), in order."""
        return self._events_between(start, stop, SEASON_KINDS, self.engine.next_season_event)

    def lunations(self, start: Times, stop: Times) -> Events:
        """New and full Moons in [start, stop), in order."""
        return self._events_between(start, stop, LUNATION_KINDS, self.engine.next_lunation)

    def rise_set_transit(
        self, body: str, site: tarvex.GeodeticObserver, around: Times, altitude_deg: float | None = None
    ) -> dict[str, Times | None]:
        """Rise, transit and set of the Sun or the Moon on the UT1 day around a scalar `Times`.

        `altitude_deg` defaults to the Sun's upper limb (-0.8333 deg) for the
        Sun and the mean refraction altitude (-0.5667 deg) otherwise.
        Rise or set is None on a day without one.
        """
        (instant,) = self._scalar(around).instants()
        altitude = _default_altitude(body) if altitude_deg is None else altitude_deg
        r = self.engine.rise_set_transit(body, site, instant, altitude)

        def ut1(value: float | None) -> Times | None:
            return None if value is None else Times(self._clock, value, "ut1")

        return {"rise": ut1(r.rise_ut1_julian_day), "transit": ut1(r.transit_ut1_julian_day), "set": ut1(r.set_ut1_julian_day)}

    def next_horizon_event(
        self, body: str, site: tarvex.GeodeticObserver, after: Times, kind: str, altitude_deg: float | None = None
    ) -> Times:
        """The next rise, set or transit of the Sun or the Moon after a scalar `Times`."""
        (instant,) = self._scalar(after).instants()
        altitude = _default_altitude(body) if altitude_deg is None else altitude_deg
        event = self.engine.next_horizon_event(body, site, instant, kind, altitude)
        return Times(self._clock, event.ut1_julian_day, "ut1")

    # --- observing ---------------------------------------------------------------
    def _earth_rotation(self) -> _native.EarthRotation:
        """The time kernels opened again for horizon coordinates (on first use)."""
        if self._rotation is None:
            if self._lsk is None:
                raise ValueError("altitude and azimuth need a leap-second kernel; open the ephemeris with one")
            if self._eop is None:
                raise ValueError("altitude and azimuth need an Earth orientation table (UT1 and the pole); "
                                 "pass eop= to tarvexkit.open or install tarvex[data]")
            self._rotation = _native.EarthRotation(self._lsk[0], self._lsk[1], self._eop[0], self._eop[1])
        return self._rotation

    def altaz(
        self,
        bodies: Sequence[str] | str,
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
        see `tarvexkit.observing`).
        """
        return observing.altaz(self, bodies, site, times, refraction=refraction)

    def risings_settings(
        self, body: str, site: tarvex.GeodeticObserver, start: Times, stop: Times, *, altitude_deg: float | None = None
    ) -> Events:
        """Every rise and set of a body (Sun, Moon, Mercury..Pluto) in
        [start, stop), kinds "rise" and "set", in time order (TT Times).

        The centre crosses `altitude_deg`, by default the standard altitude:
        Sun -50', planets -34', Moon -34' minus its semi-diameter.
        """
        return observing.risings_settings(self, body, site, start, stop, altitude_deg=altitude_deg)

    def transits(self, body: str, site: tarvex.GeodeticObserver, start: Times, stop: Times, *, lower: bool = False) -> Times:
        """Every passage of a body across the site's meridian in [start, stop):
        upper transits (hour angle 0), or the lower ones with `lower=True`."""
        return observing.transits(self, body, site, start, stop, lower=lower)

    def horizon_events(
        self, body: str, site: tarvex.GeodeticObserver, start: Times, stop: Times, *, altitude_deg: float | None = None
    ) -> Events:
        """Rises, upper transits and sets of a body in [start, stop), kinds
        "rise", "transit", "set", in time order."""
        return observing.horizon_events(self, body, site, start, stop, altitude_deg=altitude_deg)

    def twilight(self, site: tarvex.GeodeticObserver, start: Times, stop: Times) -> Events:
        """Dawns and dusks in [start, stop) where the Sun's centre (apparent,
        topocentric, unrefracted) crosses -6 (civil), -12 (nautical) and -18
        degrees (astronomical): kinds such as "nautical_dawn", "civil_dusk"."""
        return observing.twilight(self, site, start, stop)

    def moon_phase(self, times: Times) -> MoonPhase:
        """The Moon's phase (longitude from the Sun), elongation, phase angle
        and illuminated fraction, geocentric, as floats or arrays."""
        return observing.moon_phase(self, times)

    def moon_quarters(self, start: Times, stop: Times) -> Events:
        """New Moons, first quarters, full Moons and last quarters in
        [start, stop): the Moon's apparent longitude from the Sun passes 0,
        90, 180, 270 degrees."""
        return observing.moon_quarters(self, start, stop)


def body_names(bodies: Sequence[str | int] | str | int) -> list[str]:
    """The bodies as the native store takes them: names, NAIF ids written out."""
    items = [bodies] if isinstance(bodies, (str, int)) else list(bodies)
    names = []
    for item in items:
        if isinstance(item, bool) or not isinstance(item, (str, int)):
            raise TypeError(f"bodies must be names (str) or NAIF ids (int), not {type(item).__name__}")
        names.append(item if isinstance(item, str) else str(item))
    return names


def _default_altitude(body: str) -> float:
    if body.strip().lower() == "sun":
        return tarvex.SUN_UPPER_LIMB_ALTITUDE_DEG
    return tarvex.MEAN_REFRACTION_ALTITUDE_DEG


def _file(role: str, path: PathLike, source: str) -> data.DataFile:
    text = os.fspath(path)
    try:
        digest = data.sha256_of(text)
    except OSError as error:
        raise FileNotFoundError(f"cannot read the {role} file {text}: {error.strerror or error}") from None
    return data.DataFile(role, text, digest, source)


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
    files = [_file("kernel", kernel, "caller")]
    files += [_file("additional kernel", k, "caller") for k in additional_kernels]
    if leap_seconds is None:
        files.append(_file("leap seconds", data.LEAP_SECOND_KERNEL, "tarvexkit (NAIF naif0012.tls)"))
    else:
        files.append(_file("leap seconds", leap_seconds, "caller"))
    if eop is not None:
        files.append(_file("earth orientation", eop, "caller"))
    else:
        try:
            c04, bulletin_a = data.default_iers_files()
        except (ModuleNotFoundError, FileNotFoundError):
            pass
        else:
            files.append(_file("earth orientation", data.merged_eop_table(c04, bulletin_a),
                               "astropy-iers-data (IERS 20 C04 + Bulletin A)"))
    return Ephemeris(files)


def load() -> Ephemeris:
    """The default Ephemeris: DE421 with Jupiter..Pluto centres, the NAIF
    leap-second kernel, and UT1/polar motion from IERS C04 + Bulletin A.

    Needs `pip install tarvex[data]`; nothing is downloaded.
    """
    kernel = data.default_kernel()
    c04, bulletin_a = data.default_iers_files()
    if not data.PLANET_CENTERS_KERNEL.is_file():
        raise FileNotFoundError(
            f"{data.PLANET_CENTERS_KERNEL} is missing; it is written when the package is built — reinstall tarvex"
        )
    files = [
        _file("kernel", kernel, "skyfield-data (JPL DE421)"),
        _file("additional kernel", data.PLANET_CENTERS_KERNEL, "tarvexkit build (Jupiter..Pluto at their barycentres)"),
        _file("leap seconds", data.LEAP_SECOND_KERNEL, "tarvexkit (NAIF naif0012.tls)"),
        _file("earth orientation", data.merged_eop_table(c04, bulletin_a), "astropy-iers-data (IERS 20 C04 + Bulletin A)"),
    ]
    return Ephemeris(files)
