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

Events are searched, never stepped over, by the kit's one search core
(`src/tarvexkit/native/search_core.hpp`): the altitude (or the sine of the
hour angle) is sampled every two hours on the Store's worker threads,
every local extremum between samples that may come near a crossing level
is located by Brent's method, and each sign change between consecutive
samples and extrema (a monotonic piece) is refined by the Illinois variant
of regula falsi to a millisecond, with the core's one rule for the ends of
a span (see `searches`). The functions here take narrow inputs: the
native Store and its Earth rotation, or a batch `Positions` callable, and
TT bounds; `Ephemeris` turns its arguments and their results into `Times`
and `Events`.
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
from typing import Any, Generic

import numpy as np
import numpy.typing as npt
from typing_extensions import TypeVar

import tarvex

from . import _native
from .arguments import shown
from .searches import in_span, refine, sample, sectors, span_table, wrap180
from .times import Scale

_FloatArray = npt.NDArray[np.float64]
# The values of one result: `float` for one instant (and one body), a
# float64 array otherwise (for type checkers; a bare annotation leaves it open).
F = TypeVar("F", default=Any, covariant=True)

# Batch positions: (bodies, Julian days, options, scale) -> (n, bodies, 4),
# as `Ephemeris.positions` gives them.
Positions = Callable[[Sequence[str], _FloatArray, tarvex.PositionOptions, Scale], _FloatArray]

BODIES = ("sun", "moon", "mercury", "venus", "mars", "jupiter", "saturn", "uranus", "neptune", "pluto")
SUN_ALTITUDE_DEG = -50.0 / 60.0
PLANET_ALTITUDE_DEG = -34.0 / 60.0
# The Moon's mean radius (its semi-diameter on the sky) and the astronomical
# unit, km: the native core's numbers (core/types.hpp).
MOON_RADIUS_KM: float = _native.MOON_MEAN_RADIUS_KM
AU_KM: float = _native.AU_KM
SPEED_OF_LIGHT_AU_PER_DAY = 299792.458 * 86400.0 / AU_KM
TWILIGHT_ALTITUDES_DEG = {"civil": -6.0, "nautical": -12.0, "astronomical": -18.0}
QUARTER_KINDS = ("new_moon", "first_quarter", "full_moon", "last_quarter")

# The search core's sampling steps (search_core.hpp, where they are explained).
SAMPLE_STEP_DAYS = _native.HORIZON_STEP_DAYS
QUARTER_STEP_DAYS = _native.QUARTER_STEP_DAYS
REFRACTION_CUTOFF_DEG = -1.0


@dataclass(frozen=True)
class Horizontal(Generic[F]):
    """Altitude, azimuth (from north through east), hour angle (west of the
    meridian, -180..180) in degrees and distance in au of apparent
    topocentric centres. Arrays of shape (instants, bodies); an axis is
    dropped for a scalar Times or a single body name."""

    altitude_deg: F
    azimuth_deg: F
    hour_angle_deg: F
    distance_au: F


@dataclass(frozen=True)
class MoonPhase(Generic[F]):
    """The Moon seen from the geocentre.

    phase_deg: apparent ecliptic longitude of the Moon minus the Sun's, of
    date, 0..360 (0 new, 90 first quarter, 180 full, 270 last quarter).
    elongation_deg: angle between the apparent places of the Moon and the Sun.
    phase_angle_deg: angle Sun-Moon-Earth, from the Moon's light-time
    corrected place and the Sun's place at that earlier time.
    illuminated_fraction: (1 + cos(phase angle)) / 2.
    """

    phase_deg: F
    elongation_deg: F
    phase_angle_deg: F
    illuminated_fraction: F


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

def topocentric(site: tarvex.GeodeticObserver) -> tarvex.PositionOptions:
    """Apparent topocentric places of date for the site: what altitudes are made of."""
    return tarvex.apparent("topocentric", "equatorial", site)


def altaz(positions: Positions, rotation: _native.EarthRotation, bodies: Sequence[str],
          site: tarvex.GeodeticObserver, julian_days: _FloatArray, scale: Scale, *,
          refraction: tuple[float, float] | None = None) -> Horizontal:
    """Altitude, azimuth, hour angle and distance of the bodies at the
    instants, arrays (instants, bodies); see `Ephemeris.altaz`."""
    if not isinstance(site, tarvex.GeodeticObserver):
        raise TypeError(f"expected a tarvex.GeodeticObserver site, got {type(site).__name__}")
    if refraction is not None:
        temperature_c, pressure_hpa = (float(v) for v in refraction)
        refract(0.0, temperature_c, pressure_hpa)  # the weather is checked before the sky is computed
    days = np.ascontiguousarray(np.atleast_1d(julian_days), dtype=np.float64)
    places = positions(list(bodies), days, topocentric(site), scale)
    horizon = rotation.horizon(days, scale, np.ascontiguousarray(places[:, :, 0]).reshape(-1),
                               np.ascontiguousarray(places[:, :, 1]).reshape(-1),
                               site.longitude_east_deg, site.latitude_deg, site.height_m)
    altitude = horizon[:, :, 0]
    if refraction is not None:
        altitude = refract(altitude, temperature_c, pressure_hpa)
    return Horizontal(altitude, horizon[:, :, 1], horizon[:, :, 2], places[:, :, 2])


# ------------------------------------------------------------------ rising, setting, transit, twilight

@dataclass(frozen=True)
class Sky:
    """What the horizon searches need: the native store (its worker
    threads evaluate the altitudes), its Earth rotation, and the TT range
    where the kernels cover a search's samples."""

    store: _native.Store
    rotation: _native.EarthRotation
    first_tt: float
    last_tt: float

    def span(self, begin_tt: float, end_tt: float, pad_days: float = SAMPLE_STEP_DAYS) -> _FloatArray:
        return span_table(begin_tt, end_tt, self.first_tt, self.last_tt, pad_days)


# The Earth, by name and NAIF id: it neither rises nor sets at a site on it.
_EARTH = ("earth", "399", "3", "earth barycenter", "earth-moon barycenter")


def _body_name(body: str) -> str:
    """A body the kernels may hold: a name of BODIES, another name of the
    NAIF table ("ceres", "titan") or a NAIF id written out ("2000001");
    the native store resolves it (and names the kernels when none holds it)."""
    if not isinstance(body, str):
        raise TypeError(f"body must be a str such as 'moon' or a NAIF id, not {type(body).__name__}")
    name = body.strip().lower()
    if name in _EARTH:
        raise ValueError(f"body {shown(body)}: the Earth does not rise or set at a site on it; "
                         f"use another body, such as one of {', '.join(BODIES)}")
    return name


def standard_altitude_deg(body: str) -> float | None:
    """The fixed standard altitude of a body's centre at rise and set, or
    None for the Moon, whose altitude depends on its distance. Every body
    but the Sun and the Moon is a point at -34' (a planet, an asteroid)."""
    name = _body_name(body)
    if name in ("moon", "301"):
        return None
    return SUN_ALTITUDE_DEG if name in ("sun", "10") else PLANET_ALTITUDE_DEG


def rise_set_altitude_deg(body: str, distance_au: npt.ArrayLike) -> _FloatArray:
    """The standard altitude (degrees) of a body's centre at rise and set,
    at its topocentric distance (au): fixed but for the Moon."""
    fixed = standard_altitude_deg(body)
    distance = np.asarray(distance_au, dtype=np.float64)
    if fixed is not None:
        return np.full_like(distance, fixed)
    return np.asarray(PLANET_ALTITUDE_DEG - np.degrees(np.arcsin(MOON_RADIUS_KM / (distance * AU_KM))),
                      dtype=np.float64)


def horizon_quantity(sky: Sky, body: str, site: tarvex.GeodeticObserver, value: str,
                     altitude_deg: float | None = None) -> tuple[Any, ...]:
    """The core's native quantity: the body's altitude above `altitude_deg`
    (default its standard altitude) or the sine of its hour angle."""
    name = _body_name(body)
    level = standard_altitude_deg(name) if altitude_deg is None else float(altitude_deg)
    if altitude_deg is not None and not math.isfinite(float(altitude_deg)):
        raise ValueError(f"altitude_deg must be finite, got {altitude_deg!r}")
    return ("horizon", sky.store, sky.rotation, name, topocentric(site), site.longitude_east_deg,
            site.latitude_deg, site.height_m, value, math.nan if level is None else level)


def _rise_set(found: _FloatArray) -> tuple[_FloatArray, list[str]]:
    return found[:, 0], ["rise" if up else "set" for up in found[:, 1] > 0.0]


def risings_settings(sky: Sky, body: str, site: tarvex.GeodeticObserver, begin_tt: float, end_tt: float, *,
                     altitude_deg: float | None = None) -> tuple[_FloatArray, list[str]]:
    """TT and kinds ('rise', 'set') of every crossing of the body's centre
    through its rise/set altitude in [begin, end)."""
    quantity = horizon_quantity(sky, body, site, "altitude", altitude_deg)
    return _rise_set(_native.find_crossings(quantity, sky.span(begin_tt, end_tt), [0.0], SAMPLE_STEP_DAYS))


# The hour angle grows through 0 at the upper transit (its sine rises) and
# through 180 degrees at the lower one (its sine falls).
def transits(sky: Sky, body: str, site: tarvex.GeodeticObserver, begin_tt: float, end_tt: float, *,
             lower: bool = False) -> _FloatArray:
    """TT of the upper transits (or the lower ones) in [begin, end)."""
    quantity = horizon_quantity(sky, body, site, "hour_angle_sine")
    found = _native.find_crossings(quantity, sky.span(begin_tt, end_tt), [0.0], SAMPLE_STEP_DAYS)
    return np.asarray(found[(found[:, 1] > 0.0) != lower, 0], dtype=np.float64)


def horizon_events(sky: Sky, body: str, site: tarvex.GeodeticObserver, begin_tt: float, end_tt: float, *,
                   altitude_deg: float | None = None) -> tuple[_FloatArray, list[str]]:
    """TT and kinds of the rises, upper transits and sets in [begin, end)."""
    times, kinds = risings_settings(sky, body, site, begin_tt, end_tt, altitude_deg=altitude_deg)
    upper = transits(sky, body, site, begin_tt, end_tt)
    all_times = np.concatenate([times, upper])
    all_kinds = kinds + ["transit"] * len(upper)
    order = np.argsort(all_times, kind="stable")
    return all_times[order], [all_kinds[i] for i in order]


def twilight(sky: Sky, site: tarvex.GeodeticObserver, begin_tt: float, end_tt: float) -> tuple[_FloatArray, list[str]]:
    """TT and kinds ('civil_dawn', ...) of the Sun's centre crossing -6, -12
    and -18 degrees in [begin, end)."""
    names = list(TWILIGHT_ALTITUDES_DEG)
    levels = [TWILIGHT_ALTITUDES_DEG[name] for name in names]
    quantity = horizon_quantity(sky, "sun", site, "altitude", 0.0)
    found = _native.find_crossings(quantity, sky.span(begin_tt, end_tt), levels, SAMPLE_STEP_DAYS)
    kinds = [f"{names[int(level)]}_{'dawn' if up > 0.0 else 'dusk'}" for up, level in found[:, 1:3]]
    return found[:, 0], kinds


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


def _phase_deg(positions: Positions, tt: _FloatArray) -> _FloatArray:
    places = positions(["sun", "moon"], tt, tarvex.apparent(), "tt")
    return np.asarray((places[:, 1, 0] - places[:, 0, 0]) % 360.0, dtype=np.float64)


# Instants computed at a time by moon_phase.
PHASE_CHUNK_INSTANTS = 8192


def _moon_phase_chunk(positions: Positions, tdb: _FloatArray) -> tuple[_FloatArray, ...]:
    """Phase, elongation, phase angle and illuminated fraction at TDB days."""
    ecliptic = positions(["sun", "moon"], tdb, tarvex.apparent(), "tdb")
    phase = (ecliptic[:, 1, 0] - ecliptic[:, 0, 0]) % 360.0
    equatorial = positions(["sun", "moon"], tdb, tarvex.apparent("geocentric", "equatorial"), "tdb")
    elongation = _angle_deg(_unit(equatorial[:, 0]), _unit(equatorial[:, 1]))
    # Phase angle from geometric barycentric places: the Earth now, the Moon
    # when the light left it, the Sun at that same moment.
    geometric = tarvex.geometric("barycentric", "equatorial")
    earth = _vectors(positions(["earth"], tdb, geometric, "tdb")[:, 0])
    light_time = np.zeros_like(tdb)
    for _ in range(3):
        moon = _vectors(positions(["moon"], tdb - light_time, geometric, "tdb")[:, 0])
        light_time = np.linalg.norm(moon - earth, axis=-1) / SPEED_OF_LIGHT_AU_PER_DAY
    moon = _vectors(positions(["moon"], tdb - light_time, geometric, "tdb")[:, 0])
    sun = _vectors(positions(["sun"], tdb - light_time, geometric, "tdb")[:, 0])
    phase_angle = _angle_deg(earth - moon, sun - moon)
    fraction = 0.5 * (1.0 + np.cos(np.radians(phase_angle)))
    return phase, elongation, phase_angle, fraction


def moon_phase(positions: Positions, tdb: _FloatArray) -> MoonPhase:
    """The Moon's phase, elongation, phase angle and illuminated fraction at
    TDB Julian days, arrays; see `Ephemeris.moon_phase`."""
    tdb = np.atleast_1d(np.asarray(tdb, dtype=np.float64))
    # Chunk by chunk, so that working memory stays a small fixed amount
    # beside the four result arrays.
    columns = np.empty((4, len(tdb)))
    for start in range(0, len(tdb), PHASE_CHUNK_INSTANTS):
        part = slice(start, start + PHASE_CHUNK_INSTANTS)
        columns[:, part] = _moon_phase_chunk(positions, tdb[part])
    return MoonPhase(*columns)


def moon_quarters(positions: Positions, span: _FloatArray) -> tuple[_FloatArray, list[str]]:
    """TT and kinds of the new Moons, first quarters, full Moons and last
    quarters in the span [begin, end) (a `searches.span_table`)."""
    t, phase = sample(lambda x, _: _phase_deg(positions, x), span, QUARTER_STEP_DAYS)
    # The quarter counted on from the first sample: the phase only grows, so
    # a fall across 0 degrees is a new lunation. Whole numbers only, so that
    # a sample's quarter agrees exactly with the side of g below.
    quarter = sectors(phase, 90.0) + 4.0 * np.concatenate([[0.0], np.cumsum(np.diff(phase) < -180.0)])
    k = np.flatnonzero(quarter[1:] != quarter[:-1])
    # One quarter per step at most.
    targets = (quarter[k + 1] % 4.0) * 90.0

    def g(x: _FloatArray, tags: _FloatArray) -> _FloatArray:
        return wrap180(_phase_deg(positions, x) - targets[tags.astype(np.intp)])

    roots = refine(g, t[k], t[k + 1], wrap180(phase[k] - targets), wrap180(phase[k + 1] - targets),
                   np.arange(len(k)))
    keep = in_span(roots, float(span[0]), float(span[1]))
    return roots[keep], [QUARTER_KINDS[int(q) % 4] for q in quarter[k + 1][keep]]
