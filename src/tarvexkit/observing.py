"""Observing from a site: altitude and azimuth, rising, setting and transit
of every body, twilight, and the Moon's phase and quarters.

Altitudes are those of the apparent topocentric centre (the engine's
apparent place of date for the site), turned to the local horizon with the
engine's own UT1, sidereal time and pole (`tarvexkit._native.EarthRotation`).
Without refraction they are geometric; `refraction=(temperature_c,
pressure_hpa)` adds Bennett's refraction (Bennett 1982, J. Navigation 35,
255; in Meeus, Astronomical Algorithms, 2nd ed., eq. 16.4 with the pressure
and temperature factor of p. 107):

    R = (P / 1010) (283 / (273 + T)) / tan(h + 7.31 / (h + 4.4))  arcminutes

with h the refracted (apparent) altitude in degrees, solved for h from the
true altitude by Newton's method; none below a true altitude of -1 degree.

Events are searched, never stepped over: the function is sampled hourly,
every local extremum between samples that may come near a crossing level
is located by golden-section search, and each sign change between
consecutive samples and extrema (a monotonic piece) is refined by the
Illinois variant of regula falsi to a millisecond (`searches.refine`, with
its one rule for the ends of a span: the span's ends are sample points, and
an event returned by one search is returned again by a search starting at
it).
A body that grazes the horizon for a few minutes, or a Moon that turns
circumpolar between its rise and its transit, is found as well.

Standard altitudes of the centre at rise and set (the observer's horizon,
mean refraction of 34'): Sun -50' (its upper limb), planets -34', the Moon
-34' minus its topocentric semi-diameter (radius 1737.4 km); the Moon's
parallax is in its topocentric place already.
"""

from __future__ import annotations

import math
from collections.abc import Callable, Sequence
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any

import numpy as np
import numpy.typing as npt

import tarvex

from .searches import in_span, refine, sectors, wrap180
from .times import Scale, Times

if TYPE_CHECKING:
    from .ephemeris import Ephemeris, Events

_FloatArray = npt.NDArray[np.float64]
_IntArray = npt.NDArray[np.intp]

BODIES = ("sun", "moon", "mercury", "venus", "mars", "jupiter", "saturn", "uranus", "neptune", "pluto")
SUN_ALTITUDE_DEG = -50.0 / 60.0
PLANET_ALTITUDE_DEG = -34.0 / 60.0
MOON_RADIUS_KM = 1737.4
AU_KM = 149597870.7
SPEED_OF_LIGHT_AU_PER_DAY = 299792.458 * 86400.0 / AU_KM
TWILIGHT_ALTITUDES_DEG = {"civil": -6.0, "nautical": -12.0, "astronomical": -18.0}
QUARTER_KINDS = ("new_moon", "first_quarter", "full_moon", "last_quarter")

# Sampling step of the searches (days). Consecutive extrema of an altitude
# lie about twelve hours apart (five or more for the Moon within a degree or
# two of a pole), so two hours leave each between samples of its own.
SAMPLE_STEP_DAYS = 1.0 / 12.0
# The Moon's elongation in longitude gains 10 to 15 degrees a day.
QUARTER_STEP_DAYS = 0.25
# 22 steps narrow four hours to under a second, where an extremum's value
# is off by far less than a milliarcsecond.
GOLDEN_ITERATIONS = 22
SMALL_BATCH = 1000
REFRACTION_CUTOFF_DEG = -1.0


@dataclass(frozen=True)
class Horizontal:
    """Altitude, azimuth (from north through east), hour angle (west of the
    meridian, -180..180) in degrees and distance in au of apparent
    topocentric centres. Arrays of shape (instants, bodies); an axis is
    dropped for a scalar Times or a single body name."""

    altitude_deg: Any
    azimuth_deg: Any
    hour_angle_deg: Any
    distance_au: Any


@dataclass(frozen=True)
class MoonPhase:
    """The Moon seen from the geocentre.

    phase_deg: apparent ecliptic longitude of the Moon minus the Sun's, of
    date, 0..360 (0 new, 90 first quarter, 180 full, 270 last quarter).
    elongation_deg: angle between the apparent places of the Moon and the Sun.
    phase_angle_deg: angle Sun-Moon-Earth, from the Moon's light-time
    corrected place and the Sun's place at that earlier time.
    illuminated_fraction: (1 + cos(phase angle)) / 2.
    """

    phase_deg: Any
    elongation_deg: Any
    phase_angle_deg: Any
    illuminated_fraction: Any


# ------------------------------------------------------------------ refraction

# Air at any observing site on Earth lies well within these; beyond them
# Bennett's scaling turns into nonsense (altitudes of thousands of degrees
# near absolute zero).
REFRACTION_TEMPERATURE_C = (-100.0, 100.0)
REFRACTION_PRESSURE_HPA = (0.0, 1200.0)

def bennett_refraction_deg(apparent_altitude_deg: npt.ArrayLike, temperature_c: float, pressure_hpa: float) -> _FloatArray:
    """Refraction (degrees) at an apparent altitude, Bennett's formula."""
    h = np.asarray(apparent_altitude_deg, dtype=np.float64)
    factor = (pressure_hpa / 1010.0) * (283.0 / (273.0 + temperature_c))
    return np.asarray(factor / np.tan(np.radians(h + 7.31 / (h + 4.4))) / 60.0, dtype=np.float64)


def refract(true_altitude_deg: npt.ArrayLike, temperature_c: float, pressure_hpa: float) -> _FloatArray:
    """Apparent altitude for a true altitude: h - R(h) = true altitude, by
    Newton's method; unchanged below a true altitude of -1 degree."""
    h0 = np.asarray(true_altitude_deg, dtype=np.float64)
    if not (REFRACTION_TEMPERATURE_C[0] <= temperature_c <= REFRACTION_TEMPERATURE_C[1]
            and REFRACTION_PRESSURE_HPA[0] <= pressure_hpa <= REFRACTION_PRESSURE_HPA[1]):
        raise ValueError(
            f"refraction=(temperature_c, pressure_hpa) needs a temperature of {REFRACTION_TEMPERATURE_C[0]:g}.."
            f"{REFRACTION_TEMPERATURE_C[1]:g} °C and a pressure of {REFRACTION_PRESSURE_HPA[0]:g}.."
            f"{REFRACTION_PRESSURE_HPA[1]:g} hPa (air at an observing site), got ({temperature_c!r}, {pressure_hpa!r})")
    factor = (pressure_hpa / 1010.0) * (283.0 / (273.0 + temperature_c))
    above = h0 >= REFRACTION_CUTOFF_DEG
    start = np.where(above, h0, 0.0)
    h = start + bennett_refraction_deg(start, temperature_c, pressure_hpa)
    for _ in range(8):
        y = h + 7.31 / (h + 4.4)
        tan_y = np.tan(np.radians(y))
        r = factor / tan_y / 60.0
        # dR/dh: the cotangent's derivative times dy/dh, y in degrees.
        slope = -factor / 60.0 * (np.pi / 180.0) * (1.0 + 1.0 / tan_y**2) * (1.0 - 7.31 / (h + 4.4) ** 2)
        h = h - (h - r - start) / (1.0 - slope)
    return np.asarray(np.where(above, h, h0), dtype=np.float64)


# ------------------------------------------------------------------ altitude and azimuth

def _horizon_tt(eph: Ephemeris, bodies: Sequence[str], site: tarvex.GeodeticObserver, tt: _FloatArray) -> tuple[_FloatArray, _FloatArray]:
    """(places, horizon) at TT Julian days: the batch's apparent topocentric
    equatorial places of date (n, m, 4) and altitude, azimuth, hour angle (n, m, 3)."""
    return _horizon(eph, bodies, site, tt, "tt")


def _horizon(eph: Ephemeris, bodies: Sequence[str], site: tarvex.GeodeticObserver, jd: _FloatArray,
             scale: Scale) -> tuple[_FloatArray, _FloatArray]:
    options = tarvex.apparent("topocentric", "equatorial", site)
    days = np.ascontiguousarray(np.atleast_1d(jd), dtype=np.float64)
    # Starting worker threads costs more than a few hundred places take.
    threads = 1 if days.size * len(bodies) < SMALL_BATCH else None
    places = eph.positions(list(bodies), days, options, scale=scale, threads=threads)
    rotation = eph._earth_rotation()
    horizon = rotation.horizon(days, scale, np.ascontiguousarray(places[:, :, 0]).reshape(-1),
                               np.ascontiguousarray(places[:, :, 1]).reshape(-1),
                               site.longitude_east_deg, site.latitude_deg, site.height_m)
    return places, np.asarray(horizon, dtype=np.float64)


def altaz(eph: Ephemeris, bodies: Sequence[str] | str, site: tarvex.GeodeticObserver, times: Times, *,
          refraction: tuple[float, float] | None = None) -> Horizontal:
    """Altitude and azimuth of bodies at a site, see `Ephemeris.altaz`."""
    if not isinstance(times, Times):
        raise TypeError(f"expected a Times, got {type(times).__name__}; make one with ephemeris.utc(...)")
    if not isinstance(site, tarvex.GeodeticObserver):
        raise TypeError(f"expected a tarvex.GeodeticObserver site, got {type(site).__name__}")
    if refraction is not None:
        temperature_c, pressure_hpa = (float(v) for v in refraction)
        refract(0.0, temperature_c, pressure_hpa)  # the weather is checked before the sky is computed
    names = [str(bodies)] if isinstance(bodies, (str, int)) else [str(b) if isinstance(b, int) else b for b in bodies]
    places, horizon = _horizon(eph, names, site, np.atleast_1d(times.julian_days), times.scale)
    altitude = horizon[:, :, 0]
    if refraction is not None:
        altitude = refract(altitude, temperature_c, pressure_hpa)
    parts: list[Any] = [altitude, horizon[:, :, 1], horizon[:, :, 2], places[:, :, 2]]
    if isinstance(bodies, (str, int)):
        parts = [p[:, 0] for p in parts]
    if times.shape == ():
        parts = [p[0] for p in parts]
        parts = [float(p) if np.ndim(p) == 0 else p for p in parts]
    return Horizontal(*parts)


# ------------------------------------------------------------------ the search

Function = Callable[[_FloatArray], _FloatArray]


def _golden_extrema(f: Function, low: _FloatArray, high: _FloatArray, sense: _FloatArray) -> tuple[_FloatArray, _FloatArray]:
    """Locations and values of the maximum (sense +1) or minimum (sense -1)
    of f inside each [low, high], by golden-section search, all at once."""
    ratio = (math.sqrt(5.0) - 1.0) / 2.0
    a, b = low.copy(), high.copy()
    c = b - ratio * (b - a)
    d = a + ratio * (b - a)
    fc = sense * f(c)
    fd = sense * f(d)
    for _ in range(GOLDEN_ITERATIONS):
        left = fc > fd  # the extremum lies in [a, d]
        b = np.where(left, d, b)
        a = np.where(left, a, c)
        new = np.where(left, b - ratio * (b - a), a + ratio * (b - a))
        value = sense * f(new)
        c, d, fc, fd = (np.where(left, new, d), np.where(left, c, new),
                        np.where(left, value, fd), np.where(left, fc, value))
    best = fc > fd
    return np.where(best, c, d), sense * np.where(best, fc, fd)


def _grid(start: float, stop: float, step: float = SAMPLE_STEP_DAYS) -> _FloatArray:
    return np.linspace(start, stop, max(2, int(math.ceil((stop - start) / step)) + 1))


def _span_grid(begin: float, end: float, pad: tuple[float, float]) -> _FloatArray:
    """The sampling grid over `pad` with the span's ends among its points:
    no bracket straddles an end (see `searches`: the ends of a span)."""
    return np.unique(np.concatenate([_grid(*pad), [begin, end]]))


def _sample_with_extrema(f: Function, t: _FloatArray, v: _FloatArray,
                         levels: Sequence[float]) -> tuple[_FloatArray, _FloatArray]:
    """Samples v = f(t) with the local extrema of f inserted where they may
    reach one of `levels`, in time order: between two consecutive points f
    is monotonic, or stays on one side of every level."""
    rise = np.diff(v)
    turn = np.flatnonzero(rise[:-1] * rise[1:] <= 0.0) + 1
    turn = turn[(rise[turn - 1] != 0.0) | (rise[turn] != 0.0)]
    # Over two steps a smooth function overshoots its best sample by less
    # than its larger change per step (a parabola by a quarter of it); an
    # extremum farther than twice that from every level cannot reach one.
    reach = 2.0 * np.maximum(np.abs(rise[turn - 1]), np.abs(rise[turn])) + 1e-9
    near = np.min(np.abs(v[turn, None] - np.asarray(levels, dtype=np.float64)[None, :]), axis=1) < reach
    turn = turn[near]
    if turn.size:
        sense = np.where(rise[turn - 1] > 0.0, 1.0, np.where(rise[turn - 1] < 0.0, -1.0, -np.sign(rise[turn])))
        te, ve = _golden_extrema(f, t[turn - 1], t[turn + 1], sense)
        t = np.concatenate([t, te])
        v = np.concatenate([v, ve])
        order = np.argsort(t, kind="stable")
        t, v = t[order], v[order]
    return t, v


@dataclass
class _Crossing:
    times: _FloatArray
    upward: npt.NDArray[np.bool_]
    level: _FloatArray


def _crossings(f: Function, start: float, stop: float, levels: Sequence[float], pad: tuple[float, float],
               samples: tuple[_FloatArray, _FloatArray] | None = None) -> _Crossing:
    """Every instant in [start, stop) where f crosses one of `levels`,
    sampled over `pad` (or from the given samples of f)."""
    if samples is None:
        grid = _span_grid(start, stop, pad)
        samples = grid, f(grid)
    t, v = _sample_with_extrema(f, samples[0], samples[1], levels)
    found_t: list[_FloatArray] = []
    found_up: list[npt.NDArray[np.bool_]] = []
    found_level: list[_FloatArray] = []
    for level in levels:
        above = v >= level
        k = np.flatnonzero(above[:-1] != above[1:])
        if k.size == 0:
            continue
        levels_k = np.full(k.size, float(level))
        roots = refine(lambda x, idx: f(x) - levels_k[idx], t[k], t[k + 1], v[k] - level, v[k + 1] - level)
        keep = in_span(roots, start, stop)
        found_t.append(roots[keep])
        found_up.append(above[k + 1][keep])
        found_level.append(levels_k[keep])
    if not found_t:
        return _Crossing(np.empty(0), np.empty(0, dtype=bool), np.empty(0))
    times = np.concatenate(found_t)
    order = np.argsort(times, kind="stable")
    return _Crossing(times[order], np.concatenate(found_up)[order], np.concatenate(found_level)[order])


def _span_tt(eph: Ephemeris, start: Times, stop: Times) -> tuple[float, float, tuple[float, float]]:
    """TT bounds of a search and the padded sampling range inside the kernel."""
    begin, end = float(eph._scalar(start).tt), float(eph._scalar(stop).tt)
    if not end > begin:
        raise ValueError(f"stop must come after start, got {stop.iso()} <= {start.iso()}")
    first, last = eph.supported_range.tt
    # TT and TDB differ by under 2 ms; a minute keeps the padding inside.
    first, last = first + 1.0 / 1440.0, last - 1.0 / 1440.0
    if begin < first or end > last:
        raise ValueError(f"the span {start.iso()} .. {stop.iso()} leaves the kernels' range "
                         f"{eph.supported_range[0].iso()} .. {eph.supported_range[1].iso()}")
    return begin, end, (max(first, begin - SAMPLE_STEP_DAYS), min(last, end + SAMPLE_STEP_DAYS))


def _body_name(body: str) -> str:
    if not isinstance(body, str):
        raise TypeError(f"body must be a str such as 'moon', not {type(body).__name__}")
    name = body.strip().lower()
    if name not in BODIES:
        raise ValueError(f"unknown body {body!r}; use one of {', '.join(BODIES)}")
    return name


def standard_altitude_deg(body: str) -> float | None:
    """The fixed standard altitude of a body's centre at rise and set, or
    None for the Moon, whose altitude depends on its distance."""
    name = _body_name(body)
    if name == "moon":
        return None
    return SUN_ALTITUDE_DEG if name == "sun" else PLANET_ALTITUDE_DEG


def _standard_offset(body: str, altitude_deg: float | None) -> Callable[[_FloatArray], _FloatArray]:
    """The rise/set altitude (degrees) of a body as a function of its distance (au)."""
    fixed = standard_altitude_deg(body) if altitude_deg is None else float(altitude_deg)
    if fixed is not None and not math.isfinite(fixed):
        raise ValueError(f"altitude_deg must be finite, got {altitude_deg!r}")
    if fixed is not None:
        level = fixed
        return lambda distance_au: np.full_like(distance_au, level)
    return lambda distance_au: PLANET_ALTITUDE_DEG - np.degrees(np.arcsin(MOON_RADIUS_KM / (distance_au * AU_KM)))


def _horizon_functions(eph: Ephemeris, body: str, site: tarvex.GeodeticObserver,
                       altitude_deg: float | None) -> tuple[Function, Function, Callable[[_FloatArray], tuple[_FloatArray, _FloatArray]]]:
    """At TT Julian days: the altitude above the rise/set altitude (degrees),
    the sine of the hour angle, and both from one evaluation."""
    horizon_altitude = _standard_offset(body, altitude_deg)

    def both(tt: _FloatArray) -> tuple[_FloatArray, _FloatArray]:
        places, horizon = _horizon_tt(eph, [body], site, tt)
        return horizon[:, 0, 0] - horizon_altitude(places[:, 0, 2]), np.sin(np.radians(horizon[:, 0, 2]))

    return (lambda tt: both(tt)[0]), (lambda tt: both(tt)[1]), both


def _above_horizon(eph: Ephemeris, body: str, site: tarvex.GeodeticObserver, altitude_deg: float | None) -> Function:
    """Altitude above the rise/set altitude, degrees, at TT Julian days."""
    return _horizon_functions(eph, body, site, altitude_deg)[0]


def _events(eph: Ephemeris, times: _FloatArray, kinds: list[str]) -> Events:
    from .ephemeris import Events

    return Events(Times(eph._clock, times, "tt"), kinds)


def _rise_set(found: _Crossing) -> tuple[_FloatArray, list[str]]:
    return found.times, ["rise" if up else "set" for up in found.upward]


def risings_settings(eph: Ephemeris, body: str, site: tarvex.GeodeticObserver, start: Times, stop: Times, *,
                     altitude_deg: float | None = None) -> Events:
    name = _body_name(body)
    begin, end, pad = _span_tt(eph, start, stop)
    found = _crossings(_above_horizon(eph, name, site, altitude_deg), begin, end, [0.0], pad)
    return _events(eph, *_rise_set(found))


# The hour angle grows through 0 at the upper transit (its sine rises) and
# through 180 degrees at the lower one (its sine falls).
def transits(eph: Ephemeris, body: str, site: tarvex.GeodeticObserver, start: Times, stop: Times, *,
             lower: bool = False) -> Times:
    name = _body_name(body)
    begin, end, pad = _span_tt(eph, start, stop)
    found = _crossings(_horizon_functions(eph, name, site, None)[1], begin, end, [0.0], pad)
    return Times(eph._clock, found.times[found.upward != lower], "tt")


def horizon_events(eph: Ephemeris, body: str, site: tarvex.GeodeticObserver, start: Times, stop: Times, *,
                   altitude_deg: float | None = None) -> Events:
    name = _body_name(body)
    begin, end, pad = _span_tt(eph, start, stop)
    above, hour_angle_sine, both = _horizon_functions(eph, name, site, altitude_deg)
    grid = _span_grid(begin, end, pad)
    height, sine = both(grid)
    crossings = _crossings(above, begin, end, [0.0], pad, (grid, height))
    culminations = _crossings(hour_angle_sine, begin, end, [0.0], pad, (grid, sine))
    upper = culminations.times[culminations.upward]
    times = np.concatenate([crossings.times, upper])
    kinds = _rise_set(crossings)[1] + ["transit"] * len(upper)
    order = np.argsort(times, kind="stable")
    return _events(eph, times[order], [kinds[i] for i in order])


def twilight(eph: Ephemeris, site: tarvex.GeodeticObserver, start: Times, stop: Times) -> Events:
    begin, end, pad = _span_tt(eph, start, stop)

    def sun_altitude(tt: _FloatArray) -> _FloatArray:
        return _horizon_tt(eph, ["sun"], site, tt)[1][:, 0, 0]

    names = {level: name for name, level in TWILIGHT_ALTITUDES_DEG.items()}
    found = _crossings(sun_altitude, begin, end, list(names), pad)
    kinds = [f"{names[level]}_{'dawn' if up else 'dusk'}" for level, up in zip(found.level, found.upward)]
    return _events(eph, found.times, kinds)


# ------------------------------------------------------------------ the Moon

def _unit(places: _FloatArray) -> _FloatArray:
    lon, lat = np.radians(places[..., 0]), np.radians(places[..., 1])
    return np.stack([np.cos(lat) * np.cos(lon), np.cos(lat) * np.sin(lon), np.sin(lat)], axis=-1)


def _vectors(places: _FloatArray) -> _FloatArray:
    return _unit(places) * places[..., 2:3]


def _angle_deg(u: _FloatArray, v: _FloatArray) -> _FloatArray:
    # atan2 of the cross and dot products keeps small and near-180 angles exact.
    cross = np.linalg.norm(np.cross(u, v), axis=-1)
    return np.asarray(np.degrees(np.arctan2(cross, np.sum(u * v, axis=-1))), dtype=np.float64)


def _phase_deg(eph: Ephemeris, tt: _FloatArray) -> _FloatArray:
    places = eph.positions(["sun", "moon"], tt, tarvex.apparent(), scale="tt")
    return np.asarray((places[:, 1, 0] - places[:, 0, 0]) % 360.0, dtype=np.float64)


# Instants computed at a time by moon_phase.
PHASE_CHUNK_INSTANTS = 8192


def _moon_phase_chunk(eph: Ephemeris, tdb: _FloatArray) -> tuple[_FloatArray, ...]:
    """Phase, elongation, phase angle and illuminated fraction at TDB days."""
    ecliptic = eph.positions(["sun", "moon"], tdb, tarvex.apparent(), scale="tdb")
    phase = (ecliptic[:, 1, 0] - ecliptic[:, 0, 0]) % 360.0
    equatorial = eph.positions(["sun", "moon"], tdb, tarvex.apparent("geocentric", "equatorial"), scale="tdb")
    elongation = _angle_deg(_unit(equatorial[:, 0]), _unit(equatorial[:, 1]))
    # Phase angle from geometric barycentric places: the Earth now, the Moon
    # when the light left it, the Sun at that same moment.
    geometric = tarvex.geometric("barycentric", "equatorial")
    earth = _vectors(eph.positions(["earth"], tdb, geometric, scale="tdb")[:, 0])
    light_time = np.zeros_like(tdb)
    for _ in range(3):
        moon = _vectors(eph.positions(["moon"], tdb - light_time, geometric, scale="tdb")[:, 0])
        light_time = np.linalg.norm(moon - earth, axis=-1) / SPEED_OF_LIGHT_AU_PER_DAY
    moon = _vectors(eph.positions(["moon"], tdb - light_time, geometric, scale="tdb")[:, 0])
    sun = _vectors(eph.positions(["sun"], tdb - light_time, geometric, scale="tdb")[:, 0])
    phase_angle = _angle_deg(earth - moon, sun - moon)
    fraction = 0.5 * (1.0 + np.cos(np.radians(phase_angle)))
    return phase, elongation, phase_angle, fraction


def moon_phase(eph: Ephemeris, times: Times) -> MoonPhase:
    if not isinstance(times, Times):
        raise TypeError(f"expected a Times, got {type(times).__name__}; make one with ephemeris.utc(...)")
    tdb = np.atleast_1d(np.asarray(times.tdb, dtype=np.float64))
    # Chunk by chunk, so that working memory stays a small fixed amount
    # beside the four result arrays.
    columns = np.empty((4, len(tdb)))
    for start in range(0, len(tdb), PHASE_CHUNK_INSTANTS):
        part = slice(start, start + PHASE_CHUNK_INSTANTS)
        columns[:, part] = _moon_phase_chunk(eph, tdb[part])
    phase, elongation, phase_angle, fraction = columns
    parts: list[Any] = [phase, elongation, phase_angle, fraction]
    if times.shape == ():
        parts = [float(p[0]) for p in parts]
    return MoonPhase(*parts)


def moon_quarters(eph: Ephemeris, start: Times, stop: Times) -> Events:
    begin, end, _ = _span_tt(eph, start, stop)
    first, last = eph.supported_range.tt
    low = max(first + 1.0 / 1440.0, begin - QUARTER_STEP_DAYS)
    high = min(last - 1.0 / 1440.0, end + QUARTER_STEP_DAYS)
    t = np.linspace(low, high, max(2, int(math.ceil((high - low) / QUARTER_STEP_DAYS)) + 1))
    t = np.unique(np.concatenate([t, [begin, end]]))
    phase = _phase_deg(eph, t)
    # The quarter counted on from the first sample: the phase only grows, so
    # a fall across 0 degrees is a new lunation. Whole numbers only, so that
    # a sample's quarter agrees exactly with the side of g below.
    quarter = sectors(phase, 90.0) + 4.0 * np.concatenate([[0.0], np.cumsum(np.diff(phase) < -180.0)])
    k = np.flatnonzero(quarter[1:] != quarter[:-1])
    if k.size == 0:
        return _events(eph, np.empty(0), [])
    # One quarter per step at most.
    targets = (quarter[k + 1] % 4.0) * 90.0

    def g(x: _FloatArray, idx: _IntArray) -> _FloatArray:
        return wrap180(_phase_deg(eph, x) - targets[idx])

    brackets = np.arange(k.size)
    roots = refine(g, t[k], t[k + 1], g(t[k], brackets), g(t[k + 1], brackets))
    keep = in_span(roots, begin, end)
    kinds = [QUARTER_KINDS[int(q) % 4] for q in quarter[k + 1][keep]]
    return _events(eph, roots[keep], kinds)
