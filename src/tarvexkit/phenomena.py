"""Planetary phenomena: phase angle, illuminated fraction, elongation,
apparent diameter and visual magnitude; greatest elongations; oppositions
and conjunctions with the Sun.

Phase angle: the angle Sun-body-Earth, from the geometric barycentric
places of the Earth at the instant and of the body and the Sun when the
light left the body (light time iterated three times). Illuminated
fraction (1 + cos phase angle) / 2. Elongation: the angle between the
apparent geocentric places of the Sun and the body.

Visual magnitudes of the planets: A. Mallama and J. L. Hilton, "Computing
apparent planetary magnitudes for The Astronomical Almanac", Astronomy and
Computing 25 (2018) 10-24, with the coefficients of its reference data
set: V = 5 log10(r Delta) + P(alpha), the piecewise polynomials of the
paper; Saturn with its rings (the ring-plane latitudes of the Sun and of
the Earth from the IAU 2015 pole of Saturn, Archinal et al. 2018, Celest.
Mech. Dyn. Astr. 130:22), Uranus with the planetographic latitudes of the
Sun and the Earth on its IAU 2015 pole, Neptune after 2000.0 with its
phase term. Mars without the rotation and orbit corrections of Mallama
(2007), which need the planet's rotation (under 0.06 magnitude). Outside
the phase angles the paper fits (its table), a magnitude is NaN, as in
Skyfield's `planetary_magnitude`: the paper's polynomials are not meant
to be carried further.

The Moon: V = 0.21 + 5 log10(r Delta) + 0.026 |alpha| + 4.0e-9 alpha^4,
r and Delta in au, alpha in degrees (C. W. Allen, Astrophysical
Quantities, 3rd ed., 1973, section 67, after Russell 1916): good to a
tenth of a magnitude away from full Moon, where the opposition surge
makes the Moon brighter. The Sun: V = -26.74 + 5 log10(Delta) (Allen).

Apparent diameters: twice the angle subtended by the IAU 2015 equatorial
radius (the Sun's 959.63" at 1 au, the Moon's 1737.4 km) at the apparent
geocentric distance.

Searches (through `brackets`): a greatest elongation of Mercury or Venus
is a maximum of the elongation, sampled daily; an opposition or a
conjunction is an instant where the apparent geocentric ecliptic longitude
of the body less the Sun's is 180 or 0 degrees (the definition of the
Astronomical Almanac, and of Skyfield's `oppositions_conjunctions`).
"""

from __future__ import annotations

from dataclasses import dataclass
import numpy as np
import numpy.typing as npt

import tarvex

from . import brackets
from .events import Events
from .eclipse_geometry import SUN_RADIUS_KM
from .eclipses import PLANET_RADII_KM, Inputs, check_span
from .observing import AU_KM, MOON_RADIUS_KM, SPEED_OF_LIGHT_AU_PER_DAY, _angle_deg, _unit, _vectors
from .searches import wrap180
from .times import Times


_FloatArray = npt.NDArray[np.float64]
_IntArray = npt.NDArray[np.intp]

BODIES = ("sun", "moon", "mercury", "venus", "mars", "jupiter", "saturn", "uranus", "neptune")
RADII_KM = {**PLANET_RADII_KM, "sun": float(SUN_RADIUS_KM), "moon": MOON_RADIUS_KM}
INNER = ("mercury", "venus")
# IAU 2015 poles (ICRF right ascension and declination, degrees, and their
# rates per Julian century) of Saturn and Uranus.
POLES = {"saturn": (40.589, -0.036, 83.537, -0.004), "uranus": (257.311, 0.0, -15.175, 0.0)}
URANUS_FLATTENING = 0.0022927
ELONGATION_STEP_DAYS = 1.0
CONJUNCTION_STEP_DAYS = 1.0


@dataclass(frozen=True)
class Phenomena:
    """Phenomena of bodies at instants: arrays of shape (instants, bodies).

    phase_angle_deg: the angle Sun-body-Earth (degrees; NaN for the Sun).
    illuminated_fraction: the lit fraction of the disc's area, 0..1.
    elongation_deg: the angle between the body and the Sun seen from the
    Earth's centre (degrees).
    apparent_diameter_arcsec: the disc's apparent equatorial diameter.
    magnitude: apparent visual magnitude (module text for the models; NaN
    outside the phase angles they hold for).
    """

    phase_angle_deg: _FloatArray
    illuminated_fraction: _FloatArray
    elongation_deg: _FloatArray
    apparent_diameter_arcsec: _FloatArray
    magnitude: _FloatArray


def _body(value: str) -> str:
    if not isinstance(value, str):
        raise TypeError(f"a body must be a name (str) such as 'venus', not {type(value).__name__}")
    name = value.strip().lower()
    if name not in BODIES:
        raise ValueError(f"no phenomena for {value!r}; use one of {', '.join(BODIES)}")
    return name


def _geometric(sky: Inputs, bodies: list[str], tdb: _FloatArray) -> _FloatArray:
    options = tarvex.geometric("barycentric", "equatorial")
    return _vectors(sky.positions(bodies, np.ascontiguousarray(tdb), options, "tdb"))


def _poles(name: str, tdb: _FloatArray) -> _FloatArray:
    ra0, ra1, dec0, dec1 = POLES[name]
    t = (tdb - 2451545.0) / 36525.0
    return _unit(np.stack([ra0 + ra1 * t, dec0 + dec1 * t], axis=-1))


def _polynomial(alpha: _FloatArray, coefficients: tuple[float, ...]) -> _FloatArray:
    return np.asarray(np.polynomial.polynomial.polyval(alpha, coefficients), dtype=np.float64)


def magnitude(name: str, r: _FloatArray, delta: _FloatArray, alpha: _FloatArray, sun_latitude_rad: _FloatArray,
              earth_latitude_rad: _FloatArray, tdb: _FloatArray) -> _FloatArray:
    """Visual magnitude of `name` at heliocentric and geocentric distances
    r, delta (au) and phase angle alpha (degrees); the latitudes of the Sun
    and the Earth over the planet's equator (radians) serve Saturn's rings
    and Uranus."""
    distance = 5.0 * np.log10(r * delta)
    a = alpha
    nan = np.full_like(a, np.nan)
    if name == "sun":
        return np.asarray(-26.74 + 5.0 * np.log10(delta), dtype=np.float64)
    if name == "moon":
        return np.asarray(0.21 + distance + 0.026 * np.abs(a) + 4.0e-9 * a**4, dtype=np.float64)
    if name == "mercury":
        p = np.where((a >= 2.0) & (a <= 170.0), _polynomial(
            a, (-0.613, 6.3280e-2, -1.6336e-3, 3.3644e-5, -3.4265e-7, 1.6893e-9, -3.0334e-12)), nan)
    elif name == "venus":
        p = np.where((a >= 2.0) & (a < 163.7), _polynomial(a, (-4.384, -1.044e-3, 3.687e-4, -2.814e-6, 8.938e-9)),
                     np.where((a >= 163.7) & (a <= 179.0), _polynomial(a, (236.05828, -2.81914, 8.39034e-3)), nan))
    elif name == "mars":
        p = np.where(a <= 50.0, _polynomial(a, (-1.601, 2.267e-2, -1.302e-4)),
                     np.where(a <= 120.0, _polynomial(a, (-0.367, -2.573e-2, 3.445e-4)), nan))
    elif name == "jupiter":
        x = a / 180.0
        far = -9.428 - 2.5 * np.log10(np.clip(
            1.0 - 1.507 * x - 0.363 * x**2 - 0.062 * x**3 + 2.809 * x**4 - 1.876 * x**5, 1e-300, None))
        p = np.where(a <= 12.0, _polynomial(a, (-9.395, -3.7e-4, 6.16e-4)), np.where(a <= 130.0, far, nan))
    elif name == "saturn":
        both = sun_latitude_rad * earth_latitude_rad
        beta = np.where(both > 0.0, np.sqrt(np.abs(both)), 0.0)
        sin_beta = np.sin(beta)
        rings = -8.914 - 1.825 * sin_beta + 0.026 * a - 0.378 * sin_beta * np.exp(-2.25 * a)
        p = np.where((a <= 6.5) & (beta <= np.radians(27.0)), rings, nan)
    elif name == "uranus":
        f = URANUS_FLATTENING
        graphic = np.arctan(np.tan(np.abs(np.stack([sun_latitude_rad, earth_latitude_rad]))) / (1.0 - f) ** 2)
        phi = np.degrees(graphic.mean(axis=0))
        p = np.where(a <= 3.1, -7.110 - 8.4e-4 * phi,
                     np.where(a <= 154.0, -7.110 - 8.4e-4 * phi + 6.587e-3 * a + 1.045e-4 * a**2, nan))
    elif name == "neptune":
        years = 2000.0 + (tdb - 2451545.0) / 365.25
        base = np.where(years >= 2000.0, -7.00, np.where(years < 1980.0, -6.89, -6.89 - 0.0054 * (years - 1980.0)))
        phase = np.where((years >= 2000.0) & (a > 1.9), 7.944e-3 * a + 9.617e-5 * a**2, 0.0)
        p = np.where(a <= 133.14, base + phase, nan)
    else:
        raise ValueError(f"no magnitude model for {name!r}")
    return np.asarray(distance + p, dtype=np.float64)


def phenomena(sky: Inputs, bodies: list[str], times: Times) -> Phenomena:
    names = [_body(b) for b in bodies]
    tdb = np.atleast_1d(np.asarray(times.tdb, dtype=np.float64))
    n, m = tdb.size, len(names)
    apparent = sky.positions(names + ["sun"], tdb, tarvex.apparent("geocentric", "equatorial"), "tdb")
    elongation = _angle_deg(_unit(apparent[:, :m]), _unit(apparent[:, m:m + 1]))
    diameter = np.stack([2.0 * np.degrees(np.arcsin(RADII_KM[b] / (apparent[:, j, 2] * AU_KM))) * 3600.0
                         for j, b in enumerate(names)], axis=-1).reshape(n, m)
    earth = _geometric(sky, ["earth"], tdb)[:, 0]
    phase = np.full((n, m), np.nan)
    mag = np.full((n, m), np.nan)
    for j, name in enumerate(names):
        if name == "sun":
            mag[:, j] = magnitude(name, np.ones(n), apparent[:, j, 2], np.zeros(n), np.zeros(n), np.zeros(n), tdb)
            continue
        light_time = apparent[:, j, 2] / SPEED_OF_LIGHT_AU_PER_DAY
        for _ in range(3):
            body = _geometric(sky, [name], tdb - light_time)[:, 0]
            light_time = np.linalg.norm(body - earth, axis=-1) / SPEED_OF_LIGHT_AU_PER_DAY
        body, sun = _geometric(sky, [name, "sun"], tdb - light_time).transpose(1, 0, 2)
        to_earth, to_sun = earth - body, sun - body
        phase[:, j] = _angle_deg(to_earth, to_sun)
        lat_sun = lat_earth = np.zeros(n)
        if name in POLES:
            pole = _poles(name, tdb)
            lat_sun = np.arcsin(np.sum(pole * to_sun, axis=-1) / np.linalg.norm(to_sun, axis=-1))
            lat_earth = np.arcsin(np.sum(pole * to_earth, axis=-1) / np.linalg.norm(to_earth, axis=-1))
        mag[:, j] = magnitude(name, np.linalg.norm(to_sun, axis=-1), np.linalg.norm(to_earth, axis=-1), phase[:, j],
                              lat_sun, lat_earth, tdb)
    fraction = np.where(np.isnan(phase), 1.0, 0.5 * (1.0 + np.cos(np.radians(phase))))
    parts = [phase, fraction, elongation, diameter, mag]
    if times.shape == ():
        parts = [p[0] for p in parts]
    return Phenomena(*parts)


def _sun_angles(sky: Inputs, body: str, tt: _FloatArray) -> tuple[_FloatArray, _FloatArray, _FloatArray]:
    """Elongation (degrees), the body's ecliptic longitude less the Sun's
    (-180..180) and the body's distance (au), geocentric apparent."""
    days = np.ascontiguousarray(np.atleast_1d(tt), dtype=np.float64)
    p = sky.positions([body, "sun"], days, tarvex.apparent(), "tt")
    elongation = _angle_deg(_unit(p[:, 0]), _unit(p[:, 1]))
    return elongation, wrap180(p[:, 0, 0] - p[:, 1, 0]), p[:, 0, 2]


def _grid(begin: float, end: float, step: float) -> _FloatArray:
    count = int(np.ceil((end - begin) / step))
    return np.asarray(begin + step * np.arange(count + 1), dtype=np.float64)


def elongations(sky: Inputs, body: str, begin: float, end: float) -> Events:
    """Greatest elongations of Mercury or Venus in the TT span [begin, end)."""
    name = _body(body)
    if name not in INNER:
        raise ValueError(f"greatest elongations are of Mercury and Venus, not {body!r}")
    check_span(sky, begin, end)
    low, high = sky.first_tt, sky.last_tt
    t = _grid(max(low + 2.0, begin - 2.0), min(high - 2.0, end + 2.0), ELONGATION_STEP_DAYS)
    e = _sun_angles(sky, name, t)[0]
    top = np.flatnonzero((e[1:-1] >= e[:-2]) & (e[1:-1] > e[2:])) + 1
    found, _ = brackets.minima(lambda x, _: -_sun_angles(sky, name, x)[0], t[top - 1], t[top + 1])
    found = found[(found >= begin) & (found < end)]
    east = _sun_angles(sky, name, found)[1] > 0.0 if found.size else np.zeros(0, dtype=bool)
    return Events(sky.times(found), ["greatest_east" if e else "greatest_west" for e in east])


def oppositions_conjunctions(sky: Inputs, body: str, begin: float, end: float) -> Events:
    """Conjunctions and oppositions with the Sun in the TT span [begin, end)."""
    name = _body(body)
    if name in ("sun",):
        raise ValueError("the Sun has no oppositions or conjunctions with itself; pass a planet or the Moon")
    check_span(sky, begin, end)
    step = 0.25 if name == "moon" else CONJUNCTION_STEP_DAYS
    t = _grid(begin, end, step)
    difference = _sun_angles(sky, name, t)[1]
    found: list[_FloatArray] = []
    for target in (0.0, 180.0):
        g = wrap180(difference - target)
        k = np.flatnonzero((np.sign(g[1:]) != np.sign(g[:-1])) & (np.abs(g[1:] - g[:-1]) < 90.0))

        def f(x: _FloatArray, which: _IntArray, target: float = target) -> _FloatArray:
            return wrap180(_sun_angles(sky, name, x)[1] - target)

        roots = brackets.crossings(f, t[k], t[k + 1])
        found.append(roots[np.isfinite(roots) & (roots >= begin) & (roots < end)])
    kinds_found = np.concatenate([np.zeros(found[0].size), np.ones(found[1].size)])
    days = np.concatenate(found)
    order = np.argsort(days, kind="stable")
    days, opposite = days[order], kinds_found[order] == 1.0
    kinds = ["opposition" if o else "conjunction" for o in opposite]
    if name in INNER and days.size:
        distance = _sun_angles(sky, name, days)[2]
        sun = sky.positions(["sun"], days, tarvex.apparent(), "tt")[:, 0, 2]
        kinds = ["inferior_conjunction" if d < s else "superior_conjunction" for d, s in zip(distance, sun)]
    return Events(sky.times(days), kinds)
