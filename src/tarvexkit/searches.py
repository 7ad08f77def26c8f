"""Searches over a span: sign ingresses, stations, exact aspects.

Each search works like the engine's own event searches, on arrays: sample
the quantity on a grid of TT instants with one multi-threaded batch,
bracket every sign change between neighbouring samples, then refine all
brackets together by the Illinois variant of the secant (regula falsi)
method, one batch per step, until each bracket is narrower than
`TOLERANCE_DAYS` (about a millisecond). An event that happens and undoes
itself between two grid samples is not seen: the default steps (a quarter
day where the Moon takes part, half a day otherwise) are far shorter than
the time between such events.

The longitudes searched are the geocentric apparent ecliptic longitudes of
date of `Ephemeris.positions` (true equinox), less the ayanamsha for a
sidereal zodiac. A station is where that longitude stops moving: the zero
of the central difference L(t + d) - L(t - d) with d = 1/128 day (a power
of two, so that t +- d is exact in a Julian-day double), which puts the
extremum within a few milliseconds of its true time.
"""

from __future__ import annotations

from collections.abc import Callable, Sequence

import numpy as np
import numpy.typing as npt

from .astrology import ayanamsha_name, ayanamsha_table

_FloatArray = npt.NDArray[np.float64]

SIGNS = ("aries", "taurus", "gemini", "cancer", "leo", "virgo",
         "libra", "scorpio", "sagittarius", "capricorn", "aquarius", "pisces")
ASPECTS = {"conjunction": 0.0, "sextile": 60.0, "square": 90.0, "trine": 120.0, "opposition": 180.0}
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
    """Angles into [-180, 180)."""
    return np.asarray((angle + 180.0) % 360.0 - 180.0, dtype=np.float64)


def zodiac_longitudes(positions: Callable[[Sequence[str], _FloatArray], _FloatArray], zodiac: str) -> Longitudes:
    """Longitudes in the tropical zodiac or, given an ayanamsha's name, the sidereal one."""
    if zodiac == "tropical":
        return positions
    name = ayanamsha_name(zodiac)

    def sidereal(bodies: Sequence[str], tt: _FloatArray) -> _FloatArray:
        ayanamsha = ayanamsha_table(name, tt)[:, 0]
        return np.asarray((positions(bodies, tt) - ayanamsha[:, None]) % 360.0, dtype=np.float64)

    return sidereal


def grid(start_tt: float, stop_tt: float, step_days: float) -> _FloatArray:
    if not stop_tt > start_tt:
        raise ValueError("the span must end after it starts")
    if not step_days > 0.0:
        raise ValueError(f"step_days must be positive, not {step_days!r}")
    count = int(np.ceil((stop_tt - start_tt) / step_days))
    return np.asarray(start_tt + step_days * np.arange(count + 1), dtype=np.float64)


def refine(f: Callable[[_FloatArray, npt.NDArray[np.intp]], _FloatArray], lo: _FloatArray, hi: _FloatArray,
           f_lo: _FloatArray, f_hi: _FloatArray) -> _FloatArray:
    """Roots of f in the brackets [lo, hi] (f changes sign across each),
    all refined together. f(days, which) evaluates the brackets `which` at
    `days`."""
    a, b = lo.copy(), hi.copy()
    fa, fb = f_lo.copy(), f_hi.copy()
    side = np.zeros(len(a), dtype=np.int8)
    root = np.where(fa == 0.0, a, np.where(fb == 0.0, b, np.nan))
    active = np.isnan(root)
    for _ in range(MAX_STEPS):
        if not active.any():
            break
        which = np.flatnonzero(active)
        x = b[which] - fb[which] * (b[which] - a[which]) / (fb[which] - fa[which])
        low, high = np.minimum(a[which], b[which]), np.maximum(a[which], b[which])
        x = np.where(np.isfinite(x) & (x > low) & (x < high), x, 0.5 * (a[which] + b[which]))
        fx = f(x, which)
        toward_b = np.sign(fx) == np.sign(fb[which])
        zero = fx == 0.0
        # The end that stays keeps half its value when it stays twice (Illinois).
        moved_b = which[toward_b & ~zero]
        fa[moved_b] = np.where(side[moved_b] == -1, fa[moved_b] / 2.0, fa[moved_b])
        b[moved_b], fb[moved_b], side[moved_b] = x[toward_b & ~zero], fx[toward_b & ~zero], -1
        moved_a = which[~toward_b & ~zero]
        fb[moved_a] = np.where(side[moved_a] == 1, fb[moved_a] / 2.0, fb[moved_a])
        a[moved_a], fa[moved_a], side[moved_a] = x[~toward_b & ~zero], fx[~toward_b & ~zero], 1
        root[which[zero]] = x[zero]
        done = which[~zero & (np.abs(b[which] - a[which]) < TOLERANCE_DAYS)]
        root[done] = 0.5 * (a[done] + b[done])
        active[which[zero]] = False
        active[done] = False
    leftover = np.flatnonzero(active)
    root[leftover] = 0.5 * (a[leftover] + b[leftover])
    return root


def _default_step(*bodies: str) -> float:
    return MOON_STEP_DAYS if "moon" in (b.strip().lower() for b in bodies) else STEP_DAYS


def sign_ingresses(longitudes: Longitudes, body: str, start_tt: float, stop_tt: float,
                   step_days: float | None) -> tuple[_FloatArray, list[str]]:
    """TT of every entry of `body` into a sign in [start, stop), and the sign entered."""
    days = grid(start_tt, stop_tt, step_days or _default_step(body))
    lon = longitudes([body], days)[:, 0]
    sign = np.floor(lon / 30.0).astype(np.int64) % 12
    change = np.flatnonzero(sign[1:] != sign[:-1])
    forward = (sign[change + 1] - sign[change]) % 12 == 1
    boundary = np.where(forward, 30.0 * sign[change + 1], 30.0 * sign[change]).astype(np.float64)

    def f(t: _FloatArray, which: npt.NDArray[np.intp]) -> _FloatArray:
        return wrap180(longitudes([body], t)[:, 0] - boundary[which])

    roots = refine(f, days[change], days[change + 1], wrap180(lon[change] - boundary),
                   wrap180(lon[change + 1] - boundary))
    entered = sign[change + 1]
    keep = (roots >= start_tt) & (roots < stop_tt)
    return roots[keep], [SIGNS[k] for k in entered[keep]]


def stations(longitudes: Longitudes, body: str, start_tt: float, stop_tt: float,
             step_days: float | None) -> tuple[_FloatArray, list[str]]:
    """TT of every station of `body` in [start, stop): 'retrograde' where it
    turns backwards, 'direct' where it turns forwards again."""
    if str(body).strip().lower() in NO_STATIONS:
        raise ValueError(f"stations are for {', '.join(STATION_BODIES)}, asteroids and other bodies "
                         f"that turn back as seen from the Earth; not {body!r}")
    d = STATION_DIFFERENCE_DAYS

    def motion(t: _FloatArray) -> _FloatArray:
        lon = longitudes([body], np.concatenate([t - d, t + d]))[:, 0]
        return wrap180(lon[len(t):] - lon[:len(t)])

    days = grid(start_tt, stop_tt, step_days or STEP_DAYS)
    m = motion(days)
    change = np.flatnonzero(np.sign(m[1:]) != np.sign(m[:-1]))
    roots = refine(lambda t, which: motion(t), days[change], days[change + 1], m[change], m[change + 1])
    kinds = np.where(m[change] > 0.0, "retrograde", "direct")
    keep = (roots >= start_tt) & (roots < stop_tt)
    return roots[keep], [str(k) for k in kinds[keep]]


def aspect_angles(aspects: Sequence[str | float] | None) -> list[tuple[str, float]]:
    """(name, angle) pairs: the five major aspects by default; names of
    ASPECTS or angles in degrees [0, 180] (named by the number)."""
    if aspects is None:
        return list(ASPECTS.items())
    out: list[tuple[str, float]] = []
    for aspect in aspects:
        if isinstance(aspect, str):
            key = aspect.strip().lower()
            if key not in ASPECTS:
                raise ValueError(f"unknown aspect {aspect!r}; use one of {', '.join(ASPECTS)} or an angle in degrees")
            out.append((key, ASPECTS[key]))
        else:
            angle = float(aspect)
            if not 0.0 <= angle <= 180.0:
                raise ValueError(f"an aspect angle must be between 0 and 180 degrees, not {angle!r}")
            name = next((k for k, v in ASPECTS.items() if v == angle), f"{angle:g}")
            out.append((name, angle))
    return out


def exact_aspects(longitudes: Longitudes, first: str, second: str, start_tt: float, stop_tt: float,
                  aspects: Sequence[str | float] | None, step_days: float | None) -> tuple[_FloatArray, list[str]]:
    """TT of every instant in [start, stop) where the longitudes of the two
    bodies differ by exactly an aspect's angle (either way round), and the
    aspect's name."""
    days = grid(start_tt, stop_tt, step_days or _default_step(first, second))
    lon = longitudes([first, second], days)
    difference = lon[:, 0] - lon[:, 1]
    found_days: list[_FloatArray] = []
    found_kinds: list[str] = []
    for name, angle in aspect_angles(aspects):
        for target in {angle, -angle} if angle not in (0.0, 180.0) else {angle}:
            g = wrap180(difference - target)
            # A change of sign far from zero is the wrap at 180 degrees, not an aspect.
            change = np.flatnonzero((np.sign(g[1:]) != np.sign(g[:-1])) & (np.abs(g[1:] - g[:-1]) < 180.0))

            def f(t: _FloatArray, which: npt.NDArray[np.intp], target: float = target) -> _FloatArray:
                pair = longitudes([first, second], t)
                return wrap180(pair[:, 0] - pair[:, 1] - target)

            roots = refine(f, days[change], days[change + 1], g[change], g[change + 1])
            keep = roots[(roots >= start_tt) & (roots < stop_tt)]
            found_days.append(keep)
            found_kinds += [name] * len(keep)
    all_days = np.concatenate(found_days) if found_days else np.zeros(0)
    order = np.argsort(all_days, kind="stable")
    return all_days[order], [found_kinds[i] for i in order]
