"""Minima and crossings inside given brackets, for the eclipse and
phenomena searches: the one place where they reach the kit's root finder.

Both run on `searches.refine` (the Illinois variant of regula falsi, all
brackets refined together, one batch per step). A minimum is the zero of
the central difference (f(t + h) - f(t - h)) / 2h, h = `DIFFERENCE_DAYS`,
whose location is off from the true minimum by f''' h^2 / (6 f''), far
under a millisecond for the smooth functions searched here.

f(days, which) evaluates the brackets numbered `which` at TT Julian days.
"""

from __future__ import annotations

from collections.abc import Callable

import numpy as np
import numpy.typing as npt

from .searches import refine, side

_FloatArray = npt.NDArray[np.float64]
_IntArray = npt.NDArray[np.intp]
Bracketed = Callable[[_FloatArray, _IntArray], _FloatArray]

DIFFERENCE_DAYS = 1.0 / 1440.0


def minima(f: Bracketed, lo: _FloatArray, hi: _FloatArray) -> tuple[_FloatArray, _FloatArray]:
    """The instant and value of the least f in each bracket [lo, hi] where
    f falls then rises; a bracket where f only rises or only falls gives
    its lower end."""
    lo, hi = np.asarray(lo, dtype=np.float64), np.asarray(hi, dtype=np.float64)
    h = DIFFERENCE_DAYS
    every = np.arange(lo.size)

    def slope(t: _FloatArray, which: _IntArray) -> _FloatArray:
        both = f(np.concatenate([t - h, t + h]), np.concatenate([which, which]))
        return np.asarray((both[t.size:] - both[:t.size]) / (2.0 * h), dtype=np.float64)

    s_lo, s_hi = slope(lo, every), slope(hi, every)
    turns = side(s_lo) != side(s_hi)
    t = np.where(s_hi < 0.0, hi, lo)
    k = np.flatnonzero(turns)
    if k.size:
        t[k] = refine(lambda x, which: slope(x, k[which]), lo[k], hi[k], s_lo[k], s_hi[k])
    return t, f(t, every)


def crossings(f: Bracketed, lo: _FloatArray, hi: _FloatArray) -> _FloatArray:
    """The instant f crosses zero in each bracket [lo, hi] (f on one side
    of zero at lo and on the other at hi); NaN where it does not change
    side there."""
    lo, hi = np.asarray(lo, dtype=np.float64), np.asarray(hi, dtype=np.float64)
    every = np.arange(lo.size)
    f_lo, f_hi = f(lo, every), f(hi, every)
    found = np.full(lo.size, np.nan)
    k = np.flatnonzero(side(f_lo) != side(f_hi))
    if k.size:
        found[k] = refine(lambda x, which: f(x, k[which]), lo[k], hi[k], f_lo[k], f_hi[k])
    return found
