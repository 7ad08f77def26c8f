"""The lunar points of astrology over arrays of instants: mean node and mean
apogee ("Black Moon") from the core's series, true (osculating) node and
osculating apogee from the kernel's Moon.

The osculating points need the Moon's geocentric state, position and
velocity. The batch gives positions only, so the native module
(src/tarvexkit/native/moon_stencil.hpp, shared with the chart) takes the
velocity as the five-point central difference of geometric J2000
positions h = 1/128 day apart, rotates the state to the mean ecliptic and
equinox of date and takes the two-body elements
(src/core/lunar_points.hpp); this module only asks the batch for the
positions at the instants the native module names. The step is a power of
two so that t + h is exact in a Julian-day double (whose last bit is 2^-31
day today); a step such as 0.01 day is rounded there by up to 2e-10 day,
which is 2e-8 of the step and of the velocity, and 0.2" in the osculating
apogee.
"""

from __future__ import annotations

from collections.abc import Callable, Sequence

import numpy as np
import numpy.typing as npt

import tarvex

from . import _native
from .arguments import shown
from .astrology import mean_lunar_points

_FloatArray = npt.NDArray[np.float64]

LUNAR_POINTS = ("mean_node", "true_node", "mean_apogee", "osculating_apogee")
STATE_STEP_DAYS = 1.0 / 128.0
# The speeds are central differences of the points themselves (a power of
# two again, for the same reason).
SPEED_STEP_DAYS = 1.0 / 128.0

# Batch positions: (bodies, TDB Julian days, options) -> (n, bodies, 4).
Positions = Callable[[Sequence[str], _FloatArray, tarvex.PositionOptions], _FloatArray]


class LunarPointsUndefined(ValueError):
    """The osculating orbit has no node or apogee (a state the Moon never has;
    met only with damaged data)."""


def lunar_point_name(name: str) -> str:
    key = name.strip().lower().replace("-", "_").replace(" ", "_")
    if key not in LUNAR_POINTS:
        raise ValueError(f"unknown lunar point {shown(name)}; use one of {', '.join(LUNAR_POINTS)}")
    return key


def _osculating(positions: Positions, tdb: _FloatArray) -> _FloatArray:
    days = np.asarray(_native.moon_stencil_days(tdb, STATE_STEP_DAYS)).reshape(-1)
    rows = positions(["moon"], days, tarvex.geometric("geocentric", "equatorial"))
    table, failures = _native.osculating_lunar_points(np.ascontiguousarray(rows, dtype=np.float64).reshape(-1),
                                                      np.ascontiguousarray(tdb), STATE_STEP_DAYS)
    if failures:
        index, message = failures[0]
        raise LunarPointsUndefined(f"{message} (element {index})")
    return np.asarray(table)


def _points_at(names: Sequence[str], tt: _FloatArray, tdb: _FloatArray, positions: Positions) -> _FloatArray:
    """(n, points, 2): longitude and latitude, mean equinox of date."""
    out = np.zeros((len(tt), len(names), 2))
    mean = mean_lunar_points(tt) if {"mean_node", "mean_apogee"} & set(names) else None
    oscu = _osculating(positions, tdb) if {"true_node", "osculating_apogee"} & set(names) else None
    for k, name in enumerate(names):
        if name == "mean_node" and mean is not None:
            out[:, k, 0] = mean[:, 0]
        elif name == "mean_apogee" and mean is not None:
            out[:, k] = mean[:, 1:3]
        elif name == "true_node" and oscu is not None:
            out[:, k, 0] = oscu[:, 0]
        elif oscu is not None:
            out[:, k] = oscu[:, 1:3]
    return out


def is_lunar_point(name: str) -> bool:
    return isinstance(name, str) and name.strip().lower().replace("-", "_").replace(" ", "_") in LUNAR_POINTS


def with_lunar_points(planets: Callable[[Sequence[str], _FloatArray], _FloatArray], positions: Positions,
                      tdb_of: Callable[[_FloatArray], _FloatArray]) -> Callable[[Sequence[str], _FloatArray], _FloatArray]:
    """Longitudes at TT Julian days, (n, names), of bodies (`planets`, the
    apparent longitudes of date) and lunar points (true equinox of date, as
    `lunar_points` gives them) mixed in one list."""

    def longitudes(names: Sequence[str], tt: _FloatArray) -> _FloatArray:
        tt = np.atleast_1d(np.asarray(tt, dtype=np.float64))
        point = np.array([is_lunar_point(n) for n in names], dtype=bool)
        if not point.any():
            return planets(names, tt)
        out = np.empty((len(tt), len(names)))
        if not point.all():
            out[:, ~point] = planets([n for n, p in zip(names, point) if not p], tt)
        keys = [lunar_point_name(n) for n, p in zip(names, point) if p]
        lon = _points_at(keys, tt, np.atleast_1d(tdb_of(tt)), positions)[..., 0]
        dpsi = _native.site_sky(tt, tt, np.zeros_like(tt))[:, 2]
        out[:, point] = (lon + dpsi[:, None]) % 360.0
        return out

    return longitudes


def lunar_points(names: Sequence[str], tt: _FloatArray, tdb: _FloatArray, positions: Positions,
                 equinox: str = "true") -> _FloatArray:
    """(n, points, 4) like a batch: longitude, latitude, NaN (no distance) and
    longitude speed (deg/day). `equinox='true'` adds the nutation in
    longitude (IAU 2000B), as apparent places of date have it; 'mean' leaves
    the mean equinox of date."""
    if equinox not in ("true", "mean"):
        raise ValueError(f"equinox must be 'true' or 'mean', not {equinox!r}")
    keys = [lunar_point_name(n) for n in names]
    out = np.empty((len(tt), len(keys), 4))
    # Chunk by chunk: the stencils take 15 positions per instant, so working
    # memory stays a small fixed amount beside the result.
    for start in range(0, len(tt), CHUNK_INSTANTS):
        part = slice(start, start + CHUNK_INSTANTS)
        out[part] = _lunar_points_chunk(keys, tt[part], tdb[part], positions, equinox)
    return out


# Instants computed at a time by lunar_points.
CHUNK_INSTANTS = 4096


def _lunar_points_chunk(keys: list[str], tt: _FloatArray, tdb: _FloatArray, positions: Positions,
                        equinox: str) -> _FloatArray:
    n = len(tt)
    step = np.array([0.0, -SPEED_STEP_DAYS, SPEED_STEP_DAYS])
    all_tt = (tt[None, :] + step[:, None]).reshape(-1)
    all_tdb = (tdb[None, :] + step[:, None]).reshape(-1)
    points = _points_at(keys, all_tt, all_tdb, positions).reshape(3, n, len(keys), 2)
    if equinox == "true":
        # The nutation column of site_sky depends on TT alone.
        dpsi = _native.site_sky(all_tt, all_tt, np.zeros_like(all_tt))[:, 2].reshape(3, n, 1)
        points[..., 0] = (points[..., 0] + dpsi) % 360.0
    out = np.empty((n, len(keys), 4))
    out[:, :, :2] = points[0]
    out[:, :, 2] = np.nan
    change = (points[2, :, :, 0] - points[1, :, :, 0] + 180.0) % 360.0 - 180.0
    out[:, :, 3] = change / (2.0 * SPEED_STEP_DAYS)
    return out
