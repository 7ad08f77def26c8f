"""Minima and crossings around given instants, for the eclipse and
phenomena searches: the one place where they reach the kit's search core
(`src/tarvexkit/native/search_core.hpp`, through `tarvexkit._native`).

- `minima`: each window [lo, hi] is a span of the core, sampled every
  `MINIMUM_STEPS`-th of its width; the core locates each local minimum the
  samples show by Brent's method (to `_native.EXTREMUM_TOLERANCE_DAYS`,
  about 10 ms), and the least of a window is kept.
- `crossings`: each bracket is refined by the core's Illinois regula falsi
  to `_native.TOLERANCE_DAYS` (about a millisecond).

f(days, which) evaluates the windows or brackets numbered `which` at TT
Julian days; every step of the core evaluates all of them in one call.
"""

from __future__ import annotations

from collections.abc import Callable

import numpy as np
import numpy.typing as npt

from . import _native

_FloatArray = npt.NDArray[np.float64]
_IntArray = npt.NDArray[np.intp]
Bracketed = Callable[[_FloatArray, _IntArray], _FloatArray]

# Samples across a window: the callers' windows hold one smooth minimum
# (of a squared distance, near parabolic), which four steps show as a turn.
MINIMUM_STEPS = 4


def minima(f: Bracketed, lo: _FloatArray, hi: _FloatArray) -> tuple[_FloatArray, _FloatArray]:
    """The instant and value of the least f inside each window [lo, hi];
    for a window where f only rises or only falls, the lower of its ends."""
    lo, hi = np.asarray(lo, dtype=np.float64), np.asarray(hi, dtype=np.float64)
    every = np.arange(lo.size)
    if lo.size == 0:
        return np.empty(0), np.empty(0)
    ends = f(np.concatenate([lo, hi]), np.concatenate([every, every]))
    t = np.where(ends[lo.size:] < ends[:lo.size], hi, lo)
    best = np.minimum(ends[:lo.size], ends[lo.size:])
    step = float(np.max(hi - lo)) / MINIMUM_STEPS
    spans = np.stack([lo, hi, lo, hi], axis=-1).reshape(-1)

    def quantity(days: _FloatArray, tags: _FloatArray) -> _FloatArray:
        return f(days, tags.astype(np.intp))

    found = _native.find_extrema(quantity, spans, step)
    low = found[found[:, 2] == 0.0]
    for instant, value, _, span in low[np.argsort(-low[:, 1])]:
        # Worst first, so that a window's least minimum is written last.
        k = int(span)
        if value <= best[k]:
            t[k], best[k] = instant, value
    return t, best


def crossings(f: Bracketed, lo: _FloatArray, hi: _FloatArray) -> _FloatArray:
    """The instant f crosses zero in each bracket [lo, hi] (f on one side
    of zero at lo and on the other at hi): the last instant on lo's side;
    NaN where f does not change side there."""
    lo, hi = np.asarray(lo, dtype=np.float64), np.asarray(hi, dtype=np.float64)
    every = np.arange(lo.size)
    found = np.full(lo.size, np.nan)
    if lo.size == 0:
        return found
    values = f(np.concatenate([lo, hi]), np.concatenate([every, every]))
    f_lo, f_hi = values[:lo.size], values[lo.size:]
    # The core's sides: at or above zero, or below it.
    k = np.flatnonzero((f_lo >= 0.0) != (f_hi >= 0.0))
    if k.size:
        def quantity(days: _FloatArray, tags: _FloatArray) -> _FloatArray:
            return f(days, k[tags.astype(np.intp)])

        found[k] = _native.refine_crossings(quantity, lo[k], hi[k], f_lo[k], f_hi[k],
                                            np.arange(k.size, dtype=np.float64))
    return found
