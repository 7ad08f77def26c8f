"""Searches over a span: sign ingresses, stations, exact aspects.

Each search works like the engine's own event searches, on arrays: sample
the quantity on a grid of TT instants with one multi-threaded batch,
bracket every change of side (below zero, or at or above it) between
neighbouring samples, then refine all brackets together by the Illinois
variant of the secant (regula falsi) method, one batch per step, until
each bracket is narrower than `TOLERANCE_DAYS` (about a millisecond). An
event that happens and undoes itself between two grid samples is not
seen: the default steps (a quarter day where the Moon takes part, half a
day otherwise) are far shorter than the time between such events.

The ends of a span. Every search of the kit (these, and the rise, set,
transit, twilight and Moon-quarter searches of `observing`, which use the
same `refine`; `Ephemeris.seasons` and `.lunations` hold to it as well)
covers [start, stop) by one rule: an event is reported at
the last instant evaluated before it happens (the end of its final bracket
on the side the quantity comes from, within `TOLERANCE_DAYS` of the
crossing), and it belongs to the span when that instant does. The grid
starts at `start` itself, so a search that starts at an instant an earlier
search returned finds the quantity there on the same side as before and
returns the same event again.

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
TOLERANCE_DAYS = 1e-8
MAX_STEPS = 100
STATION_DIFFERENCE_DAYS = 1.0 / 128.0
MOON_STEP_DAYS = 0.25
STEP_DAYS = 0.5

# Apparent longitudes of the bodies at TT Julian days: (n, bodies).
Longitudes = Callable[[Sequence[str], _FloatArray], _FloatArray]


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


def grid(start_tt: float, stop_tt: float, step_days: float) -> _FloatArray:
    if not stop_tt > start_tt:
        raise ValueError("the span must end after it starts")
    if not step_days > 0.0:
        raise ValueError(f"step_days must be positive, not {step_days!r}")
    count = int(np.ceil((stop_tt - start_tt) / step_days))
    return np.asarray(start_tt + step_days * np.arange(count + 1), dtype=np.float64)


def side(values: npt.ArrayLike) -> _BoolArray:
    """The side of zero a searched quantity is on: True at or above zero."""
    return np.asarray(np.asarray(values) >= 0.0)


def refine(f: Callable[[_FloatArray, npt.NDArray[np.intp]], _FloatArray], lo: _FloatArray, hi: _FloatArray,
           f_lo: _FloatArray, f_hi: _FloatArray) -> _FloatArray:
    """The crossings of zero by f in the brackets [lo, hi] (f on one `side`
    of zero at lo, on the other at hi), all refined together; f(days, which)
    evaluates the brackets `which` at `days`. Each crossing is returned as
    the last instant found on lo's side, less than `TOLERANCE_DAYS` before
    an instant on the other side (see the module text)."""
    a, b = np.array(lo, dtype=np.float64), np.array(hi, dtype=np.float64)
    fa, fb = np.array(f_lo, dtype=np.float64), np.array(f_hi, dtype=np.float64)
    start_side = side(fa)
    # a keeps lo's side, b the other. Illinois: an end that stays twice
    # running has its value halved, so that both ends keep moving.
    stayed = np.zeros(len(a), dtype=np.int8)  # +1: a stayed last step, -1: b stayed
    active = np.abs(b - a) >= TOLERANCE_DAYS
    for _ in range(MAX_STEPS):
        if not active.any():
            break
        which = np.flatnonzero(active)
        aa, bb, va, vb = a[which], b[which], fa[which], fb[which]
        x = bb - vb * (bb - aa) / (vb - va)
        low, high = np.minimum(aa, bb), np.maximum(aa, bb)
        x = np.where(np.isfinite(x) & (x > low) & (x < high), x, 0.5 * (aa + bb))
        fx = np.asarray(f(x, which), dtype=np.float64)
        to_a = side(fx) == start_side[which]
        moved_a, moved_b = which[to_a], which[~to_a]
        fb[moved_a] = np.where(stayed[moved_a] == -1, fb[moved_a] / 2.0, fb[moved_a])
        a[moved_a], fa[moved_a], stayed[moved_a] = x[to_a], fx[to_a], -1
        fa[moved_b] = np.where(stayed[moved_b] == 1, fa[moved_b] / 2.0, fa[moved_b])
        b[moved_b], fb[moved_b], stayed[moved_b] = x[~to_a], fx[~to_a], 1
        active[which] = np.abs(b[which] - a[which]) >= TOLERANCE_DAYS
    return a


def in_span(found: _FloatArray, start_tt: float, stop_tt: float) -> _BoolArray:
    """Which instants `refine` returned belong to the span [start, stop)."""
    return np.asarray((found >= start_tt) & (found < stop_tt))


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
    days = grid(start_tt, stop_tt, step_days or _default_step(body))
    lon = longitudes([body], days)[:, 0]
    sign = sectors(lon, 30.0).astype(np.int64) % 12
    change = np.flatnonzero(sign[1:] != sign[:-1])
    forward = (sign[change + 1] - sign[change]) % 12 == 1
    boundary = np.where(forward, 30.0 * sign[change + 1], 30.0 * sign[change]).astype(np.float64)

    def f(t: _FloatArray, which: npt.NDArray[np.intp]) -> _FloatArray:
        return wrap180(longitudes([body], t)[:, 0] - boundary[which])

    roots = refine(f, days[change], days[change + 1], wrap180(lon[change] - boundary),
                   wrap180(lon[change + 1] - boundary))
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

    def motion(t: _FloatArray) -> _FloatArray:
        return longitude_speed(longitudes, [body], t)[:, 0]

    days = grid(start_tt, stop_tt, step_days or STEP_DAYS)
    m = motion(days)
    change = np.flatnonzero(side(m[1:]) != side(m[:-1]))
    roots = refine(lambda t, which: motion(t), days[change], days[change + 1], m[change], m[change + 1])
    kinds = np.where(side(m[change]), "retrograde", "direct")
    keep = in_span(roots, start_tt, stop_tt)
    return roots[keep], [str(k) for k in kinds[keep]]


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

    days = grid(start_tt, stop_tt, step_days or _default_step(first, second))
    difference = differences(days)
    found_days: list[_FloatArray] = []
    found_kinds: list[str] = []
    for name, angle in aspect_angles(aspects):
        for target in {angle, -angle} if angle not in (0.0, 180.0) else {angle}:
            g = wrap180(difference - target)
            # A change of side far from zero is the wrap at 180 degrees, not an aspect.
            change = np.flatnonzero((side(g[1:]) != side(g[:-1])) & (np.abs(g[1:] - g[:-1]) < 180.0))

            def f(t: _FloatArray, which: npt.NDArray[np.intp], target: float = target) -> _FloatArray:
                return wrap180(differences(t) - target)

            roots = refine(f, days[change], days[change + 1], g[change], g[change + 1])
            keep = roots[in_span(roots, start_tt, stop_tt)]
            found_days.append(keep)
            found_kinds += [name] * len(keep)
    all_days = np.concatenate(found_days) if found_days else np.zeros(0)
    order = np.argsort(all_days, kind="stable")
    return all_days[order], [found_kinds[i] for i in order]
