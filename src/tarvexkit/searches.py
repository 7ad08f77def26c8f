"""Searches over a span: sign ingresses, stations, exact aspects, and the
Python side of the kit's one search core.

Every search of the kit finds its events with the native search core
(`src/tarvexkit/native/search_core.hpp`, reached through
`tarvexkit._native`): sample the quantity on a grid of TT instants, locate
the extrema that may reach a level (Brent's method), bracket every change
of side (below zero, or at or above it) and refine all brackets together
by the Illinois variant of regula falsi until each is narrower than
`TOLERANCE_DAYS` (about a millisecond). The quantities of this module are
Python callables over NumPy arrays (one batch of positions per step of
the search); the rise, set, transit and twilight searches of `observing`
evaluate theirs natively on the Store's worker threads. An event that
happens and undoes itself between two grid samples is not seen: the
default steps (a quarter day where the Moon takes part, half a day
otherwise) are far shorter than the time between such events. The steps
and tolerances are the core's (`_native.STEP_DAYS`, ...), kept in one place.

The ends of a span. Every search of the kit covers [start, stop) by one
rule (`Ephemeris.seasons` and `.lunations` hold to it as well): an event
is reported at the last instant evaluated before it happens (the end of
its final bracket on the side the quantity comes from, within
`TOLERANCE_DAYS` of the crossing), and it belongs to the span when that
instant does. The grid starts at `start` itself, so a search that starts
at an instant an earlier search returned finds the quantity there on the
same side as before and returns the same event again.

The longitudes searched are the geocentric apparent ecliptic longitudes of
date of `Ephemeris.positions` (true equinox), or those of the lunar points,
less the ayanamsha for a sidereal zodiac. The speed of such a longitude is
its central difference (L(t + d) - L(t - d)) / 2d, d = 1/128 day
(`longitude_speed`; a power of two, so that t +- d is exact in a Julian-day
double). Its truncation error, L''' d^2 / 6, stays under 0.01"/day even for
the Moon, whose L''' is below 0.14 deg/day^3 (equation of the centre,
variation and evection), and the rounding of the longitudes adds under
1e-10 deg/day. A station is the zero of that same difference, so the
retrograde flag of a chart (the sign of that speed) changes at the instants
`stations` returns.
"""

from __future__ import annotations

from collections.abc import Callable, Sequence

import numpy as np
import numpy.typing as npt

from . import _native
from .astrology import ayanamsha_name, ayanamsha_table

_FloatArray = npt.NDArray[np.float64]
_BoolArray = npt.NDArray[np.bool_]

SIGNS = ("aries", "taurus", "gemini", "cancer", "leo", "virgo",
         "libra", "scorpio", "sagittarius", "capricorn", "aquarius", "pisces")
ASPECTS = {"conjunction": 0.0, "sextile": 60.0, "square": 90.0, "trine": 120.0, "opposition": 180.0}
# The minor aspects: accepted by name, and named in results, beside the five.
MINOR_ASPECTS = {"semisextile": 30.0, "semisquare": 45.0, "quintile": 72.0, "sesquiquadrate": 135.0,
                 "biquintile": 144.0, "quincunx": 150.0}
NAMED_ASPECTS = {**ASPECTS, **MINOR_ASPECTS}
STATION_BODIES = ("mercury", "venus", "mars", "jupiter", "saturn", "uranus", "neptune", "pluto")
# Seen from the Earth these never turn back; every other body (asteroids,
# dwarf planets, NAIF ids) may.
NO_STATIONS = ("sun", "moon", "earth", "10", "301", "399")
# The search core's steps and tolerance (search_core.hpp), under the names
# this module has always given them.
TOLERANCE_DAYS = _native.TOLERANCE_DAYS
STATION_DIFFERENCE_DAYS = _native.SPEED_DIFFERENCE_DAYS
MOON_STEP_DAYS = _native.MOON_STEP_DAYS
STEP_DAYS = _native.STEP_DAYS

# Apparent longitudes of the bodies at TT Julian days: (n, bodies).
Longitudes = Callable[[Sequence[str], _FloatArray], _FloatArray]
# A searched quantity at instants, given the tag of each instant's span or bracket.
Quantity = Callable[[_FloatArray, _FloatArray], _FloatArray]


def wrap180(angle: _FloatArray) -> _FloatArray:
    """Angles into [-180, 180]; exact (and of the same sign) for |angle| < 180."""
    angle = np.asarray(angle, dtype=np.float64)
    return np.asarray(angle - 360.0 * np.round(angle / 360.0), dtype=np.float64)


def zodiac_longitudes(positions: Callable[[Sequence[str], _FloatArray], _FloatArray], zodiac: str) -> Longitudes:
    """Longitudes in the tropical zodiac or, given an ayanamsha's name, the sidereal one."""
    if zodiac == "tropical":
        return positions
    name = ayanamsha_name(zodiac)

    def sidereal(bodies: Sequence[str], tt: _FloatArray) -> _FloatArray:
        ayanamsha = ayanamsha_table(name, tt)[:, 0]
        return np.asarray((positions(bodies, tt) - ayanamsha[:, None]) % 360.0, dtype=np.float64)

    return sidereal


def longitude_speed(longitudes: Longitudes, bodies: Sequence[str], tt: npt.ArrayLike) -> _FloatArray:
    """(n, bodies): the rate of the longitudes (deg/day) at TT Julian days,
    the central difference over +-`STATION_DIFFERENCE_DAYS` (module text)."""
    days = np.atleast_1d(np.asarray(tt, dtype=np.float64))
    d = STATION_DIFFERENCE_DAYS
    lon = longitudes(bodies, np.concatenate([days - d, days + d]))
    return wrap180(lon[len(days):] - lon[:len(days)]) / (2.0 * d)


# ------------------------------------------------------------------ the search core

def span_table(begin: float, end: float, first: float | None = None, last: float | None = None,
               pad_days: float = 0.0) -> _FloatArray:
    """One span [begin, end) for the core, sampled `pad_days` beyond either
    end but not beyond [first, last]."""
    if not end > begin:
        raise ValueError("the span must end after it starts")
    low = begin - pad_days if first is None else max(first, begin - pad_days)
    high = end + pad_days if last is None else min(last, end + pad_days)
    return np.array([begin, end, min(low, begin), max(high, end)], dtype=np.float64)


def sample(quantity: Quantity, span: _FloatArray, step_days: float) -> tuple[_FloatArray, _FloatArray]:
    """The quantity on the core's grid over the span: (instants, values)."""
    table = _native.sample(quantity, span, step_days)
    return table[:, 0], table[:, 1]


def refine(quantity: Quantity, low: _FloatArray, high: _FloatArray, value_low: _FloatArray,
           value_high: _FloatArray, tags: npt.ArrayLike) -> _FloatArray:
    """The crossing of zero in each bracket, by the core: the last instant
    on low's side (module text)."""
    if len(low) == 0:
        return np.empty(0)
    return _native.refine_crossings(quantity, low, high, value_low, value_high,
                                    np.asarray(tags, dtype=np.float64))


def in_span(found: _FloatArray, start_tt: float, stop_tt: float) -> _BoolArray:
    """Which refined instants belong to the span [start, stop)."""
    return np.asarray((found >= start_tt) & (found < stop_tt))


# The most samples one search takes (about 50 bytes each while it runs).
MOST_SAMPLES = 10_000_000


def check_step(step_days: float, start_tt: float = 0.0, stop_tt: float = 0.0) -> float:
    """A positive step that samples [start, stop) at most MOST_SAMPLES times."""
    if not step_days > 0.0:
        raise ValueError(f"step_days must be positive, not {step_days!r}")
    samples = (stop_tt - start_tt) / step_days
    if samples > MOST_SAMPLES:
        raise ValueError(f"step_days={step_days!r} samples the span of {stop_tt - start_tt:.6g} days "
                         f"{samples:.3g} times, more than a search takes ({MOST_SAMPLES:.0e}); "
                         "use a larger step (or leave it out) or a shorter span")
    return float(step_days)


def _default_step(*bodies: str | float) -> float:
    return MOON_STEP_DAYS if "moon" in (b.strip().lower() for b in bodies if isinstance(b, str)) else STEP_DAYS


def sectors(values: _FloatArray, width: float) -> _FloatArray:
    """floor(values / width), decided by comparing each value with the
    sector's first and next boundary, so that it agrees exactly with the
    side of `value - boundary` (a quotient can round up onto the boundary)."""
    k = np.floor(values / width)
    k = np.where(values < width * k, k - 1.0, k)
    return np.asarray(np.where(values >= width * (k + 1.0), k + 1.0, k), dtype=np.float64)


def sign_ingresses(longitudes: Longitudes, body: str, start_tt: float, stop_tt: float,
                   step_days: float | None) -> tuple[_FloatArray, list[str]]:
    """TT of every entry of `body` into a sign in [start, stop), and the sign entered."""
    span = span_table(start_tt, stop_tt)
    step = check_step(step_days or _default_step(body), start_tt, stop_tt)
    days, lon = sample(lambda t, _: longitudes([body], t)[:, 0], span, step)
    sign = sectors(lon, 30.0).astype(np.int64) % 12
    change = np.flatnonzero(sign[1:] != sign[:-1])
    forward = (sign[change + 1] - sign[change]) % 12 == 1
    boundary = np.where(forward, 30.0 * sign[change + 1], 30.0 * sign[change]).astype(np.float64)

    def f(t: _FloatArray, which: _FloatArray) -> _FloatArray:
        return wrap180(longitudes([body], t)[:, 0] - boundary[which.astype(np.intp)])

    roots = refine(f, days[change], days[change + 1], wrap180(lon[change] - boundary),
                   wrap180(lon[change + 1] - boundary), np.arange(len(change)))
    entered = sign[change + 1]
    keep = in_span(roots, start_tt, stop_tt)
    return roots[keep], [SIGNS[k] for k in entered[keep]]


def stations(longitudes: Longitudes, body: str, start_tt: float, stop_tt: float,
             step_days: float | None) -> tuple[_FloatArray, list[str]]:
    """TT of every station of `body` in [start, stop): 'retrograde' where it
    turns backwards, 'direct' where it turns forwards again."""
    if str(body).strip().lower() in NO_STATIONS:
        raise ValueError(f"stations are for {', '.join(STATION_BODIES)}, asteroids and other bodies "
                         f"that turn back as seen from the Earth; not {body!r}")

    def motion(t: _FloatArray, _: _FloatArray) -> _FloatArray:
        return longitude_speed(longitudes, [body], t)[:, 0]

    found = _native.find_crossings(motion, span_table(start_tt, stop_tt), [0.0],
                                   check_step(step_days or STEP_DAYS, start_tt, stop_tt))
    kinds = np.where(found[:, 1] > 0.0, "direct", "retrograde")
    return found[:, 0], [str(k) for k in kinds]


def aspect_angles(aspects: Sequence[str | float] | None) -> list[tuple[str, float]]:
    """(name, angle) pairs: the five major aspects by default; names of
    `NAMED_ASPECTS` (the five and the minor ones) or angles in degrees
    [0, 180] (named by the aspect of that angle, else by the number)."""
    if aspects is None:
        return list(ASPECTS.items())
    if isinstance(aspects, (str, int, float)):
        raise TypeError(f"aspects must be a list of names or angles, not {aspects!r}; e.g. [{aspects!r}]")
    out: list[tuple[str, float]] = []
    for aspect in aspects:
        if isinstance(aspect, str):
            key = aspect.strip().lower().replace("-", "").replace("_", "").replace(" ", "")
            if key not in NAMED_ASPECTS:
                raise ValueError(f"unknown aspect {aspect!r}; use one of {', '.join(NAMED_ASPECTS)} "
                                 "or an angle in degrees")
            out.append((key, NAMED_ASPECTS[key]))
        else:
            angle = float(aspect)
            if not 0.0 <= angle <= 180.0:
                raise ValueError(f"an aspect angle must be between 0 and 180 degrees, not {angle!r}")
            name = next((k for k, v in NAMED_ASPECTS.items() if v == angle), f"{angle:g}")
            out.append((name, angle))
    return out


def exact_aspects(longitudes: Longitudes, first: str, second: str | float, start_tt: float, stop_tt: float,
                  aspects: Sequence[str | float] | None, step_days: float | None) -> tuple[_FloatArray, list[str]]:
    """TT of every instant in [start, stop) where the longitude of `first`
    and that of `second` (a body, or a fixed longitude in degrees) differ by
    exactly an aspect's angle (either way round), and the aspect's name."""
    fixed = None if isinstance(second, str) else float(second)
    bodies = [first] if isinstance(second, float | int) else [first, str(second)]

    def differences(t: _FloatArray) -> _FloatArray:
        lon = longitudes(bodies, t)
        return lon[:, 0] - (fixed if fixed is not None else lon[:, 1])

    span = span_table(start_tt, stop_tt)
    days, difference = sample(lambda t, _: differences(t), span,
                              check_step(step_days or _default_step(first, second), start_tt, stop_tt))
    names: list[str] = []
    targets: list[float] = []
    for name, angle in aspect_angles(aspects):
        for target in sorted({angle, -angle}) if angle not in (0.0, 180.0) else [angle]:
            names.append(name)
            targets.append(target)
    target_of = np.asarray(targets, dtype=np.float64)
    # Every (aspect angle, change of side) bracket at once; a change of side
    # far from zero is the wrap at 180 degrees, not an aspect.
    g = wrap180(difference[None, :] - target_of[:, None])
    which, change = np.nonzero((g[:, 1:] >= 0.0) != (g[:, :-1] >= 0.0))
    keep_change = np.abs(g[which, change + 1] - g[which, change]) < 180.0
    which, change = which[keep_change], change[keep_change]

    def f(t: _FloatArray, tags: _FloatArray) -> _FloatArray:
        return wrap180(differences(t) - target_of[which[tags.astype(np.intp)]])

    roots = refine(f, days[change], days[change + 1], g[which, change], g[which, change + 1],
                   np.arange(len(change)))
    keep = in_span(roots, start_tt, stop_tt)
    roots, kinds = roots[keep], which[keep]
    # In time order; simultaneous events in the order of the aspects asked.
    order = np.lexsort((kinds, roots))
    return roots[order], [names[k] for k in kinds[order]]
