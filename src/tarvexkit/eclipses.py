"""Solar and lunar eclipses, global and seen from a site, and the Moon
occulting a planet or a star.

The geometry is native code (`src/tarvexkit/native/eclipse_geometry.hpp`,
whose header gives the models and their references, through
`eclipse_geometry`); the places are the native store's apparent places of
date (geocentric, or topocentric for a site). The searches run on the kit's
search core through `brackets`:

- Candidates: every new Moon (full Moon for lunar eclipses) near the span,
  first at the mean lunation, JDE = 2451550.09766 + 29.530588861 k
  (J. Meeus, Astronomical Algorithms, 2nd ed., eq. 49.1), kept where the
  Moon's mean argument of latitude F allows an eclipse (|sin F| under
  0.45; Meeus ch. 54 gives 0.36), then moved to the conjunction
  (opposition) in apparent longitude by three secant steps on the
  apparent places. Only those where the Moon's latitude is within an
  eclipse limit (`LATITUDE_LIMIT_DEG`, wider than the largest 1.58 and
  1.59 degrees at which an eclipse is still possible) are followed.
- Greatest eclipse: the least distance of the shadow's axis from the
  Earth's centre (solar; the definition of the Explanatory Supplement and
  NASA's canon), the least distance of the Moon's centre from the axis of
  the Earth's shadow (lunar), or of the site from the axis (local: the
  least topocentric separation of the centres); a minimum within
  `HALF_WINDOW_DAYS` of the candidate (`brackets.minima`).
- Contacts: the crossings of the separation with the sums or differences
  of the radii on either side of the greatest eclipse (`brackets.crossings`).

Solar eclipses follow the conventions of NASA's canon (F. Espenak and J.
Meeus, "Five Millennium Canon of Solar Eclipses: -1999 to +3000",
NASA/TP-2006-214141, 2006): the Moon's radius k = 0.2725076 Earth radii for
the penumbra and the outer contacts, k = 0.272281 for the umbra, the inner
contacts and central durations (`eclipse_geometry`); the magnitude of a
central eclipse is the ratio of the apparent diameters of the Moon and the
Sun, that of any other the fraction of the Sun's diameter covered at the
point nearest the shadow's axis. `umbra_k` takes the umbra's k
(`eclipse_geometry.MOON_K_PENUMBRA` for one radius throughout).

All candidates go through each step together, one batch of places per
step, so that two centuries of eclipses take a few dozen batches.
"""

from __future__ import annotations

import dataclasses
import math
from dataclasses import dataclass
from collections.abc import Callable, Sequence

import numpy as np
import numpy.typing as npt

import tarvex

from . import _native, brackets, stars
from .eclipse_geometry import (MOON_K_PENUMBRA, MOON_K_UMBRA, SUN_RADIUS_KM, Discs, LunarShadow, ShadowAxis, discs,
                               lunar_shadow, shadow_axis)
from .observing import SUN_ALTITUDE_DEG, Positions, altaz
from .searches import wrap180
from .times import Scale, Times


_FloatArray = npt.NDArray[np.float64]
_IntArray = npt.NDArray[np.intp]

SYNODIC_MONTH_DAYS = 29.530588861
MEAN_NEW_MOON_TT = 2451550.09766
LATITUDE_LIMIT_DEG = 1.8
MEAN_ARGUMENT_SINE_LIMIT = 0.45
MEAN_ARGUMENT_LIMIT_DEG = 2.0
# The greatest eclipse lies within twenty minutes of the conjunction (or
# opposition) in longitude (under 0.3 hours over 1900-2050); seen from a
# site, within four hours of the global one.
HALF_WINDOW_DAYS = 0.05
LOCAL_WINDOW_DAYS = 0.25
# A partial lunar eclipse lasts under four hours, a penumbral one under
# six and a half, a solar eclipse at one place under four: the contacts
# lie within this of the greatest eclipse.
CONTACT_WINDOW_DAYS = 0.3
# The central line lasts under four hours at the very most.
CENTRAL_WINDOW_DAYS = 0.15
# IAU WGCCRE 2015 equatorial radii (km) of the bodies the Moon occults.
PLANET_RADII_KM = {"mercury": 2440.53, "venus": 6051.8, "mars": 3396.19, "jupiter": 71492.0,
                   "saturn": 60268.0, "uranus": 25559.0, "neptune": 24764.0, "pluto": 1188.3}
OCCULTATION_STEP_DAYS = 0.5
# Batches smaller than this run on the calling thread (Ephemeris feeds the
# searches so): starting worker threads costs more than they take.
SMALL_BATCH = 4000
SOLAR_KINDS = ("partial", "annular", "total", "hybrid")
LUNAR_KINDS = ("penumbral", "partial", "total")

_GEOCENTRIC = tarvex.apparent("geocentric", "equatorial")


# ------------------------------------------------------------------ places

@dataclass(frozen=True)
class Inputs:
    """What the eclipse and phenomena searches read: batch positions
    (`observing.Positions`, as `Ephemeris.positions` gives them), the
    store's Earth rotation, the TT range the kernels cover, and the maker
    of TT `Times` from TT Julian days."""

    positions: Positions
    rotation: _native.EarthRotation
    first_tt: float
    last_tt: float
    times: Callable[[npt.ArrayLike], Times]


def _places(sky: Inputs, bodies: list[str], tt: _FloatArray, options: tarvex.PositionOptions = _GEOCENTRIC
            ) -> _FloatArray:
    """(n, bodies, 4) apparent places at TT Julian days."""
    days = np.ascontiguousarray(np.atleast_1d(tt), dtype=np.float64)
    return sky.positions(bodies, days, options, "tt")


def check_span(sky: Inputs, begin: float, end: float) -> tuple[float, float]:
    """The TT span [begin, end), checked: ValueError naming what to change."""
    if not end > begin:
        shown = sky.times([begin, end]).iso()
        raise ValueError(f"stop must come after start, got {shown[1]} <= {shown[0]}")
    if begin < sky.first_tt or end > sky.last_tt:
        shown = sky.times([begin, end, sky.first_tt, sky.last_tt]).iso()
        raise ValueError(f"the span {shown[0]} .. {shown[1]} leaves the kernels' range {shown[2]} .. {shown[3]}; "
                         "load a kernel that covers it")
    return begin, end


def syzygies(sky: Inputs, begin: float, end: float, target_deg: float,
             latitude_limit_deg: float = 90.0) -> tuple[_FloatArray, _FloatArray]:
    """TT of the Moon's conjunctions (target 0) or oppositions (180) with
    the Sun in ecliptic longitude near [begin, end), to a few seconds, and
    the Moon's ecliptic latitude then (degrees); only those where it is
    within `latitude_limit_deg` of the ecliptic."""
    offset = target_deg / 360.0
    first = math.floor((begin - MEAN_NEW_MOON_TT) / SYNODIC_MONTH_DAYS - offset) - 1
    last = math.ceil((end - MEAN_NEW_MOON_TT) / SYNODIC_MONTH_DAYS - offset) + 1
    k = np.arange(first, last + 1, dtype=np.float64) + offset
    if latitude_limit_deg < MEAN_ARGUMENT_LIMIT_DEG:
        # Meeus's mean argument of latitude of the Moon at the mean syzygy
        # (eq. 49.6, 2nd ed., without its T^2 terms, under 0.01 degree
        # over 1900-2100): an eclipse needs |sin F| <= 0.36 (ch. 54); a
        # wider limit is kept, as the places decide.
        f = np.radians(160.7108 + 390.67050284 * k)
        k = k[np.abs(np.sin(f)) < MEAN_ARGUMENT_SINE_LIMIT]
    t = MEAN_NEW_MOON_TT + SYNODIC_MONTH_DAYS * k
    low, high = sky.first_tt, sky.last_tt
    t = t[(t > low + 1.0) & (t < high - 1.0)]
    latitude = np.zeros_like(t)
    # The mean syzygy is off by up to 14 hours, the first step's by minutes;
    # the Moon's latitude changes by under 0.05 degrees an hour. Those far
    # from a node are dropped as soon as that is certain.
    for margin in (1.0, 0.1, 0.0):
        p = _places(sky, ["sun", "moon"], t, tarvex.apparent())
        near = np.abs(p[:, 1, 1]) < latitude_limit_deg + margin
        p, t = p[near], t[near]
        gap = wrap180(p[:, 1, 0] - p[:, 0, 0] - target_deg)
        t = t - gap / (p[:, 1, 3] - p[:, 0, 3])
        latitude = p[:, 1, 1]
    return t, latitude


def _windows(t: _FloatArray, half: float) -> tuple[_FloatArray, _FloatArray]:
    return t - half, t + half


def _optional(sky: Inputs, tt: _FloatArray) -> list[Times | None]:
    """One scalar `Times` per instant, None where the instant is NaN."""
    found = np.flatnonzero(np.isfinite(tt))
    times: list[Times | None] = [None] * tt.size
    if found.size:
        present = sky.times(tt[found])
        for k, i in enumerate(found):
            times[i] = present[k]
    return times


def _tt(times: list[Times | None]) -> _FloatArray:
    return np.array([np.nan if t is None else float(t.tt) for t in times], dtype=np.float64)


def _contacts(gaps: brackets.Bracketed, t: _FloatArray, levels: int,
              window: float = CONTACT_WINDOW_DAYS) -> _FloatArray:
    """(levels, 2, n): the last crossing of zero before each instant of t
    and the first after it, within `window`, of gaps(days, level) for each
    level 0..levels-1 (negative at t where the contact occurs); NaN where
    there is none. All brackets are refined together."""
    n = t.size
    level = np.repeat(np.arange(levels), 2 * n)
    starts = np.tile(t, 2 * levels)
    ends = starts + np.tile(np.repeat([-window, window], n), levels)
    found = brackets.crossings(lambda x, which: gaps(x, level[which]), starts, ends)
    return found.reshape(levels, 2, n)


# ------------------------------------------------------------------ solar, global

@dataclass(frozen=True)
class SolarEclipses:
    """Solar eclipses in time order, as arrays.

    times: the greatest eclipse, when the axis of the Moon's shadow passes
    nearest the Earth's centre (`Times`, TT).
    kinds: "total", "annular", "hybrid" (total along part of its central
    line, annular along the rest) or "partial".
    magnitude: at the point of greatest eclipse: the ratio of the Moon's
    apparent diameter to the Sun's for a central eclipse, the fraction of
    the Sun's diameter covered for any other (a partial one, or a total or
    annular one whose axis misses the Earth), as NASA's canon gives it.
    gamma: distance of the shadow's axis from the Earth's centre at the
    greatest eclipse, in Earth equatorial radii, positive north of it.
    longitude_deg, latitude_deg: the point of greatest eclipse (geodetic,
    east positive): where the axis meets the Earth, or for an eclipse whose
    axis misses it, the point of the Earth nearest the axis (the Sun on the
    horizon there).
    central: whether the axis meets the Earth.
    """

    times: Times
    kinds: list[str]
    magnitude: _FloatArray
    gamma: _FloatArray
    longitude_deg: _FloatArray
    latitude_deg: _FloatArray
    central: npt.NDArray[np.bool_]

    def __len__(self) -> int:
        return len(self.kinds)


def _solar_shadow(sky: Inputs, tt: _FloatArray, umbra_k: float = MOON_K_UMBRA) -> ShadowAxis:
    p = _places(sky, ["sun", "moon"], tt)
    return shadow_axis(p, SUN_RADIUS_KM, umbra_k)


def _greatest_solar(sky: Inputs, t: _FloatArray) -> _FloatArray:
    lo, hi = _windows(t, HALF_WINDOW_DAYS)
    return brackets.minima(lambda x, _: _solar_shadow(sky, x).gamma ** 2, lo, hi)[0]


def _longitude(sky: Inputs, tt: _FloatArray, point: _FloatArray) -> _FloatArray:
    """East longitude (degrees) of geocentric points of date (true equator
    and equinox) at TT Julian days."""
    direction = point / np.linalg.norm(point, axis=-1)[:, None]
    ra = np.degrees(np.arctan2(direction[:, 1], direction[:, 0]))
    dec = np.degrees(np.arcsin(np.clip(direction[:, 2], -1.0, 1.0)))
    # Its hour angle at Greenwich, with the engine's UT1, sidereal time and pole.
    horizon = sky.rotation.horizon(np.ascontiguousarray(tt), "tt", ra, dec, 0.0, 0.0, 0.0)
    hour_angle = np.asarray(horizon, dtype=np.float64).reshape(-1, 3)[:, 2]
    return np.asarray(wrap180(-hour_angle), dtype=np.float64)


def check_umbra_k(umbra_k: float) -> float:
    """The Moon's radius for the umbra, checked: a float in (0, MOON_K_PENUMBRA]."""
    if isinstance(umbra_k, bool) or not isinstance(umbra_k, (int, float)):
        raise TypeError(f"umbra_k must be a float (Earth radii), not {type(umbra_k).__name__}")
    if not 0.0 < umbra_k <= MOON_K_PENUMBRA:
        raise ValueError(f"umbra_k must be in (0, {MOON_K_PENUMBRA}] Earth radii (the canon's {MOON_K_UMBRA}, "
                         f"or {MOON_K_PENUMBRA} for the Moon's mean radius throughout), got {umbra_k!r}")
    return float(umbra_k)


def solar_eclipses(sky: Inputs, begin: float, end: float, umbra_k: float = MOON_K_UMBRA) -> SolarEclipses:
    """Solar eclipses whose greatest eclipse falls in the TT span [begin, end)."""
    return _solar_eclipses(sky, *check_span(sky, begin, end), check_umbra_k(umbra_k))


def _solar_eclipses(sky: Inputs, begin: float, end: float, umbra_k: float = MOON_K_UMBRA) -> SolarEclipses:
    t, _ = syzygies(sky, begin, end, 0.0, LATITUDE_LIMIT_DEG)
    t = _greatest_solar(sky, t)
    t = t[(t >= begin) & (t < end)]
    shadow = _solar_shadow(sky, t, umbra_k)
    l1, l2 = shadow.radii_at_point()
    central = shadow.miss < 1.0
    off_axis = shadow.off_axis
    umbral = off_axis < np.abs(l2)
    keep = off_axis < l1
    total = l2 < 0.0
    kinds = np.where(umbral, np.where(total, "total", "annular"), "partial")
    # Hybrid: total at the greatest eclipse, annular where the central line
    # begins or ends (there the umbra's cone is cut at the plane, zeta = 0).
    # Along the central line zeta runs from 0 to at most 1, where the
    # umbra's radius is less by tan f2 (under 0.0047 Earth radii): only an
    # eclipse whose umbral cone ends that close beyond the plane may turn
    # annular, and only those have their central line's ends refined.
    hybrid = np.zeros(t.size, dtype=bool)
    k = np.flatnonzero(central & total & keep & (shadow.l2 > -1.2 * shadow.tan_f2))
    if k.size:
        def outside(x: _FloatArray, which: _IntArray) -> _FloatArray:
            return _solar_shadow(sky, x, umbra_k).miss - 1.0

        ends = _contacts(outside, t[k], 1, CENTRAL_WINDOW_DAYS).reshape(-1)
        at_ends = _solar_shadow(sky, np.where(np.isfinite(ends), ends, np.concatenate([t[k], t[k]])), umbra_k)
        annular_end = (at_ends.l2 > 0.0) & np.isfinite(ends)
        hybrid[k] = annular_end[:k.size] | annular_end[k.size:]
    kinds = np.where(hybrid, "hybrid", kinds)
    # The canon's magnitudes: on the central line the ratio of the
    # diameters, (L1 - L2) / (L1 + L2); elsewhere the fraction of the Sun's
    # diameter covered, (L1 - d) / (L1 + L2) at the distance d from the axis
    # (Meeus, Elements of Solar Eclipses, p. 25), both with the two radii.
    magnitude = np.where(central, (l1 - l2) / (l1 + l2), (l1 - off_axis) / (l1 + l2))
    longitude = _longitude(sky, t, shadow.point) if t.size else np.empty(0)
    return SolarEclipses(sky.times(t[keep]), [str(x) for x in kinds[keep]], magnitude[keep],
                         shadow.gamma[keep], longitude[keep], shadow.latitude_deg[keep], central[keep])


# ------------------------------------------------------------------ solar, at a site

@dataclass(frozen=True)
class LocalSolarEclipses:
    """Solar eclipses seen from one site, in time order, as arrays.

    times: the maximum there, when the topocentric centres of the Sun and
    the Moon are nearest (`Times`, TT).
    kinds: as seen there: "total", "annular" or "partial".
    magnitude: the fraction of the Sun's diameter covered at the maximum
    (above 1 for a total eclipse), in the form of the Besselian elements
    with the Moon's two radii, (L1 - d) / (L1 + L2). obscuration: the
    fraction of the Sun's disc (area) covered then, by the Moon's mean
    radius.
    c1, c2, c3, c4: the contacts, one scalar `Times` (TT) per eclipse, or
    None where it does not occur: the discs touch outside (C1, C4) and
    inside (C2, C3, a total or annular eclipse only). `contact_tt` gives
    them all as TT Julian days.
    sun_altitude_deg: (n, 5) the Sun's altitude (degrees, its centre,
    topocentric, without refraction) at C1, C2, maximum, C3, C4 (NaN
    where the contact does not occur).
    visible: whether the Sun's upper limb is above the horizon (altitude
    of the centre above -50', standard refraction) at C1, the maximum or
    C4: the eclipse, or part of it, can be seen. Eclipses whose whole
    course happens with the Sun below the horizon are listed with False.
    """

    times: Times
    kinds: list[str]
    magnitude: _FloatArray
    obscuration: _FloatArray
    c1: list[Times | None]
    c2: list[Times | None]
    c3: list[Times | None]
    c4: list[Times | None]
    sun_altitude_deg: _FloatArray
    visible: npt.NDArray[np.bool_]

    def __len__(self) -> int:
        return len(self.kinds)

    @property
    def contact_tt(self) -> _FloatArray:
        """(n, 4) TT Julian days of C1, C2, C3, C4; NaN where absent."""
        return np.stack([_tt(c) for c in (self.c1, self.c2, self.c3, self.c4)], axis=-1).reshape(-1, 4)


def _discs(sky: Inputs, site: tarvex.GeodeticObserver, tt: _FloatArray, body: str = "sun",
           body_radius_km: float = SUN_RADIUS_KM, umbra_k: float = MOON_K_UMBRA) -> Discs:
    """The discs of `body` and the Moon seen from the site (topocentric)."""
    places = _places(sky, [body, "moon"], tt, tarvex.apparent("topocentric", "equatorial", site))
    return discs(places, body_radius_km, umbra_k)


def _altitude(sky: Inputs, body: str, site: tarvex.GeodeticObserver, tt: _FloatArray) -> _FloatArray:
    """Altitude (degrees, unrefracted) of a body's centre; NaN at NaN instants."""
    found = np.isfinite(tt)
    altitude = np.full(tt.shape, np.nan)
    if found.any():
        altitude[found] = altaz(sky.positions, sky.rotation, [body], site, tt[found], "tt").altitude_deg[:, 0]
    return altitude


def local_solar_eclipses(sky: Inputs, site: tarvex.GeodeticObserver, begin: float, end: float,
                         umbra_k: float = MOON_K_UMBRA) -> LocalSolarEclipses:
    """Solar eclipses seen from `site` with their maximum there in the TT span [begin, end)."""
    check_span(sky, begin, end)
    umbra_k = check_umbra_k(umbra_k)
    low, high = sky.first_tt, sky.last_tt
    pad = LOCAL_WINDOW_DAYS + CONTACT_WINDOW_DAYS
    candidates = _solar_eclipses(sky, max(low + pad, begin - LOCAL_WINDOW_DAYS),
                                 min(high - pad, end + LOCAL_WINDOW_DAYS), umbra_k).times.tt
    t = np.atleast_1d(np.asarray(candidates, dtype=np.float64))
    lo, hi = _windows(t, LOCAL_WINDOW_DAYS)

    # The least separation (its square: smooth where the centres meet).
    t = brackets.minima(lambda x, _: _discs(sky, site, x).separation ** 2, lo, hi)[0]
    seen = _discs(sky, site, t, umbra_k=umbra_k)
    keep = (seen.separation < seen.moon_radius + seen.body_radius) & (t >= begin) & (t < end)
    t, delta, moon, sun, obscuration, inner_moon = (
        x[keep] for x in (t, seen.separation, seen.moon_radius, seen.body_radius, seen.covered, seen.moon_inner_radius))
    # L1 and L2 of the Besselian elements, seen from the site: the Sun's
    # radius plus the Moon's (outer), less the Moon's inner radius.
    magnitude = (moon + sun - delta) / (moon + 2.0 * sun - inner_moon)
    inner = delta < np.abs(inner_moon - sun)
    kinds = np.where(inner, np.where(inner_moon > sun, "total", "annular"), "partial")

    def gaps(x: _FloatArray, level: _IntArray) -> _FloatArray:
        seen = _discs(sky, site, x, umbra_k=umbra_k)
        d, m, s = seen.separation, seen.moon_radius, seen.body_radius
        return np.asarray(d - np.where(level == 0, m + s, np.abs(seen.moon_inner_radius - s)), dtype=np.float64)

    (c1, c4), (c2, c3) = _contacts(gaps, t, 2)
    altitude = np.stack([_altitude(sky, "sun", site, x) for x in (c1, c2, t, c3, c4)], axis=-1).reshape(-1, 5)
    up = altitude[:, [0, 2, 4]] > SUN_ALTITUDE_DEG
    visible = np.any(up, axis=1)

    return LocalSolarEclipses(sky.times(t), [str(k) for k in kinds], magnitude, obscuration,
                              _optional(sky, c1), _optional(sky, c2), _optional(sky, c3), _optional(sky, c4),
                              altitude, visible)


# ------------------------------------------------------------------ lunar

@dataclass(frozen=True)
class LunarEclipses:
    """Lunar eclipses in time order, as arrays.

    times: the greatest eclipse, when the Moon's centre passes nearest the
    axis of the Earth's shadow (`Times`, TT).
    kinds: "penumbral", "partial" (the Moon partly in the umbra) or "total".
    umbral_magnitude, penumbral_magnitude: the fraction of the Moon's
    diameter inside the umbra or the penumbra at the greatest eclipse
    (negative: the Moon misses that shadow by that fraction).
    gamma: the least distance of the Moon's centre from the shadow's axis,
    in Earth equatorial radii, positive where the Moon passes north of it.
    p1, u1, u2, u3, u4, p4: the contacts (`Times`, TT): the Moon's disc
    enters the penumbra (P1), touches the umbra (U1), is wholly inside it
    (U2) and leaves it again (U3, U4, P4): one scalar `Times` (TT) per
    eclipse, or None where the contact does not occur. `contact_tt` gives
    them all as TT Julian days.

    The shadow follows Danjon's rule (the Earth's radius enlarged by 1/85;
    `tarvexkit.eclipse_geometry`).
    """

    times: Times
    kinds: list[str]
    umbral_magnitude: _FloatArray
    penumbral_magnitude: _FloatArray
    gamma: _FloatArray
    p1: list[Times | None]
    u1: list[Times | None]
    u2: list[Times | None]
    u3: list[Times | None]
    u4: list[Times | None]
    p4: list[Times | None]

    def __len__(self) -> int:
        return len(self.kinds)

    @property
    def contact_tt(self) -> _FloatArray:
        """(n, 6) TT Julian days of P1, U1, U2, U3, U4, P4; NaN where absent."""
        return np.stack([_tt(c) for c in (self.p1, self.u1, self.u2, self.u3, self.u4, self.p4)],
                        axis=-1).reshape(-1, 6)


def _lunar(sky: Inputs, tt: _FloatArray) -> LunarShadow:
    return lunar_shadow(_places(sky, ["sun", "moon"], tt))


def lunar_eclipses(sky: Inputs, begin: float, end: float) -> LunarEclipses:
    """Lunar eclipses whose greatest eclipse falls in the TT span [begin, end)."""
    check_span(sky, begin, end)
    t, _ = syzygies(sky, begin, end, 180.0, LATITUDE_LIMIT_DEG)
    lo, hi = _windows(t, HALF_WINDOW_DAYS)
    t = brackets.minima(lambda x, _: _lunar(sky, x).distance ** 2, lo, hi)[0]
    t = t[(t >= begin) & (t < end)]
    t = t[_lunar(sky, t).penumbral_magnitude > 0.0]
    shadow = _lunar(sky, t)
    umbral, penumbral = shadow.umbral_magnitude, shadow.penumbral_magnitude
    kinds = np.where(umbral >= 1.0, "total", np.where(umbral > 0.0, "partial", "penumbral"))

    def gaps(x: _FloatArray, level: _IntArray) -> _FloatArray:
        s = _lunar(sky, x)
        edge = np.choose(level, [s.penumbra + s.moon_radius, s.umbra + s.moon_radius, s.umbra - s.moon_radius])
        return np.asarray(s.distance - edge, dtype=np.float64)

    (p1, p4), (u1, u4), (u2, u3) = _contacts(gaps, t, 3)
    return LunarEclipses(sky.times(t), [str(x) for x in kinds], umbral, penumbral, shadow.gamma,
                         _optional(sky, p1), _optional(sky, u1), _optional(sky, u2), _optional(sky, u3),
                         _optional(sky, u4), _optional(sky, p4))


# ------------------------------------------------------------------ occultations

@dataclass(frozen=True)
class Occultations:
    """The Moon occulting a planet, in time order, as arrays.

    body: the planet occulted.
    times: without a site, the greatest occultation: when the axis of the
    planet's "shadow" behind the Moon (the line from the planet through
    the Moon's centre) passes nearest the Earth's centre; with a site, the
    instant the centres are nearest as seen there (`Times`, TT).
    gamma: that least distance of the axis from the Earth's centre, Earth
    equatorial radii, positive north.
    longitude_deg, latitude_deg: the point of the Earth nearest the axis
    then (where the occultation is central, or seen on the horizon).
    disappearance, reappearance: with a site, when the planet's centre
    passes behind the Moon's limb and comes out again (one scalar `Times`
    per occultation, TT); None without a site. With a site, only occultations during which the
    planet's centre is above the horizon (unrefracted) at its
    disappearance or its reappearance are listed, by day or by night.
    """

    body: str
    times: Times
    gamma: _FloatArray
    longitude_deg: _FloatArray
    latitude_deg: _FloatArray
    disappearance: list[Times | None]
    reappearance: list[Times | None]

    def __len__(self) -> int:
        return len(self.gamma)


def _occultation_candidates(sky: Inputs, body: str, begin: float, end: float) -> _FloatArray:
    """Conjunctions in apparent ecliptic longitude of the Moon with `body`
    near [begin, end) where the latitudes differ by less than the limit."""
    low, high = sky.first_tt, sky.last_tt
    t = np.arange(max(low + 1.0, begin - 1.0), min(high - 1.0, end + 1.0) + OCCULTATION_STEP_DAYS,
                  OCCULTATION_STEP_DAYS)
    p = _places(sky, [body, "moon"], t, tarvex.apparent())
    gap = wrap180(p[:, 1, 0] - p[:, 0, 0])
    k = np.flatnonzero((gap[:-1] < 0.0) & (gap[1:] >= 0.0))
    found = t[k] - gap[k] * OCCULTATION_STEP_DAYS / (gap[k + 1] - gap[k])
    for _ in range(2):
        q = _places(sky, [body, "moon"], found, tarvex.apparent())
        found = found - wrap180(q[:, 1, 0] - q[:, 0, 0]) / (q[:, 1, 3] - q[:, 0, 3])
    q = _places(sky, [body, "moon"], found, tarvex.apparent())
    return found[np.abs(q[:, 1, 1] - q[:, 0, 1]) < LATITUDE_LIMIT_DEG]


# A star's radius for the occultation geometry: a point (the geometry wants
# a positive radius; 1 km at the nearest star is 5e-9 arcseconds).
STAR_RADIUS_KM = 1.0
# The stand-in distance of a star without a positive parallax (au).
FAR_STAR_DISTANCE_AU = 1.0e12


def _star_inputs(sky: Inputs) -> Inputs:
    """The inputs with the stars' infinite distances (parallax <= 0)
    replaced by `FAR_STAR_DISTANCE_AU`, as the occultation geometry takes
    finite places. The Moon's limb is the geometry's sphere of k =
    0.2725076 Earth equatorial radii (1738.09 km, the IAU value for
    eclipses), with no limb profile: contacts may differ from the observed
    ones by the limb's valleys and mountains (up to about 2", a few
    seconds of time)."""
    positions = sky.positions

    def finite(bodies: Sequence[str], days: _FloatArray, options: tarvex.PositionOptions, scale: Scale
               ) -> _FloatArray:
        out = positions(bodies, days, options, scale)
        out[..., 2] = np.where(np.isinf(out[..., 2]), FAR_STAR_DISTANCE_AU, out[..., 2])
        return out

    return dataclasses.replace(sky, positions=finite)


def occultations(sky: Inputs, body: str, begin: float, end: float,
                 site: tarvex.GeodeticObserver | None) -> Occultations:
    name = body.strip().lower()
    shown = name
    if name in PLANET_RADII_KM:
        radius = PLANET_RADII_KM[name]
    elif stars.is_star(body):
        # A star is a point behind the Moon's limb (see `_star_inputs`).
        hip = stars.check_star("body", body)
        name, shown, radius = f"HIP {hip}", stars.star_name(hip), STAR_RADIUS_KM
        sky = _star_inputs(sky)
    else:
        raise ValueError(f"occultations are of the planets {', '.join(PLANET_RADII_KM)} or of stars, not "
                         f"{body!r}{stars.near_misses(body)}")
    check_span(sky, begin, end)
    t = _occultation_candidates(sky, name, begin, end)

    def shadow(x: _FloatArray) -> ShadowAxis:
        return shadow_axis(_places(sky, [name, "moon"], x), radius)

    lo, hi = _windows(t, LOCAL_WINDOW_DAYS)
    if t.size:
        t = brackets.minima(lambda x, _: shadow(x).gamma ** 2, lo, hi)[0]
        axis = shadow(t)
        l1, _ = axis.radii_at_point()
        # Seen from somewhere: the planet's disc touches the Moon's.
        keep = (axis.off_axis < l1) & (t >= begin - LOCAL_WINDOW_DAYS) & (t < end + LOCAL_WINDOW_DAYS)
        t, point = t[keep], axis.point[keep]
        gamma, latitude = axis.gamma[keep], axis.latitude_deg[keep]
    else:
        gamma, latitude, point = np.empty(0), np.empty(0), np.empty((0, 3))
    longitude = _longitude(sky, t, point) if t.size else np.empty(0)
    gone = back = np.full(t.size, np.nan)
    if site is not None and t.size:
        def behind(x: _FloatArray, _: _IntArray) -> _FloatArray:
            seen = _discs(sky, site, x, name, radius)
            return np.asarray(seen.separation - seen.moon_radius, dtype=np.float64)

        t = brackets.minima(lambda x, _: _discs(sky, site, x, name, radius).separation ** 2,
                            *_windows(t, LOCAL_WINDOW_DAYS))[0]
        seen = behind(t, np.arange(t.size)) < 0.0
        t, gamma, longitude, latitude = t[seen], gamma[seen], longitude[seen], latitude[seen]
        ((gone, back),) = _contacts(lambda x, _: behind(x, _), t, 1)
        # Seen: the planet above the horizon when it goes or when it comes back.
        up = np.zeros(t.size, dtype=bool)
        for x in (gone, back):
            up |= _altitude(sky, name, site, x) > 0.0
        t, gamma, longitude, latitude, gone, back = (v[up] for v in (t, gamma, longitude, latitude, gone, back))
    inside = (t >= begin) & (t < end)

    return Occultations(shown, sky.times(t[inside]), gamma[inside], longitude[inside], latitude[inside],
                        _optional(sky, gone[inside]), _optional(sky, back[inside]))
