"""Delta T = TT - UT1 from the model of Stephenson, Morrison and Hohenkerk.

Model: the cubic spline of Stephenson, Morrison and Hohenkerk (2016),
"Measurement of the Earth's rotation: 720 BC to AD 2015", Proc. R. Soc. A
472: 20160404, with the 2020 addendum (Morrison, Stephenson, Hohenkerk and
Zawilski, Proc. R. Soc. A 477: 20200776), read from HM Nautical Almanac
Office's Table S15.2020 as shipped in ``data/deltat_smh2016_table_s15_2020.txt``.
Each row is a segment [year_from, year_to) with

    Delta T = a0 + a1 u + a2 u^2 + a3 u^3,   u = (y - year_from) / (year_to - year_from),

y = 2000 + (JD(TT) - 2451545) / 365.25. Outside the table the paper's
long-term parabola  -320 + 32.5 ((y - 1825) / 100)^2  s  is used, shifted by
a constant at each end so that Delta T has no jump where the table stops
(-720 and 2019): the parabola carries the tidal curvature, the table fixes
the level.

Calls nothing of the engine; NumPy only.
"""

from __future__ import annotations

import functools
from pathlib import Path

import numpy as np
import numpy.typing as npt

_FloatArray = npt.NDArray[np.float64]

TABLE = Path(__file__).resolve().parent / "data" / "deltat_smh2016_table_s15_2020.txt"

J2000 = 2451545.0
DAYS_PER_YEAR = 365.25
SECONDS_PER_DAY = 86400.0

# The long-term parabola of the paper: -320 + 32.5 ((y - 1825) / 100)^2 s.
PARABOLA_OFFSET_S = -320.0
PARABOLA_CENTRE_YEAR = 1825.0
PARABOLA_S_PER_CENTURY2 = 32.5


@functools.cache
def _segments() -> _FloatArray:
    rows = [line.split() for line in TABLE.read_text(encoding="ascii").splitlines()
            if line.strip() and not line.lstrip().startswith("#")]
    table = np.array(rows, dtype=np.float64)
    if table.ndim != 2 or table.shape[1] != 6 or np.any(np.diff(table[:, 0]) <= 0):
        raise ValueError(f"{TABLE} is not the six-column Delta T table tarvexkit ships")
    return table


def parabola_s(year: npt.ArrayLike) -> _FloatArray:
    """The long-term parabola alone (seconds) at decimal years."""
    x = (np.asarray(year, dtype=np.float64) - PARABOLA_CENTRE_YEAR) / 100.0
    return np.asarray(PARABOLA_OFFSET_S + PARABOLA_S_PER_CENTURY2 * x * x, dtype=np.float64)


def _spline(year: _FloatArray) -> _FloatArray:
    table = _segments()
    row = np.clip(np.searchsorted(table[:, 0], year, side="right") - 1, 0, len(table) - 1)
    start, stop, a0, a1, a2, a3 = (table[row, k] for k in range(6))
    u = (year - start) / (stop - start)
    return np.asarray(a0 + u * (a1 + u * (a2 + u * a3)), dtype=np.float64)


@functools.cache
def table_span() -> tuple[float, float]:
    """First and last decimal year of the spline table."""
    table = _segments()
    return float(table[0, 0]), float(table[-1, 1])


@functools.cache
def _end_offsets() -> tuple[float, float]:
    # The spline's value at each end less the parabola's there.
    first, last = table_span()
    table = _segments()
    a = table[-1, 2:]
    at_last = float(a[0] + a[1] + a[2] + a[3])
    return (float(table[0, 2] - parabola_s(np.float64(first))),
            at_last - float(parabola_s(np.float64(last))))


def decimal_year(tt_jd: npt.ArrayLike) -> _FloatArray:
    """y = 2000 + (JD(TT) - 2451545) / 365.25, the table's argument."""
    return np.asarray(2000.0 + (np.asarray(tt_jd, dtype=np.float64) - J2000) / DAYS_PER_YEAR, dtype=np.float64)


def delta_t_seconds(tt_jd: npt.ArrayLike) -> _FloatArray:
    """TT - UT1 in seconds at TT Julian days (model of Stephenson, Morrison
    and Hohenkerk 2016/2020; the shifted long-term parabola outside
    -720..2019). Scalars give 0-d arrays."""
    year = decimal_year(tt_jd)
    first, last = table_span()
    before, after = _end_offsets()
    result = _spline(year)
    result = np.where(year < first, parabola_s(year) + before, result)
    result = np.where(year >= last, parabola_s(year) + after, result)
    return np.asarray(result, dtype=np.float64)


def tt_from_ut1(ut1_jd: npt.ArrayLike) -> _FloatArray:
    """TT Julian days of UT1 Julian days: TT = UT1 + Delta T(TT), solved by
    fixed-point iteration (Delta T changes by well under a second per day,
    so four passes reach rounding)."""
    ut1 = np.asarray(ut1_jd, dtype=np.float64)
    tt = ut1 + delta_t_seconds(ut1) / SECONDS_PER_DAY
    for _ in range(4):
        tt = ut1 + delta_t_seconds(tt) / SECONDS_PER_DAY
    return np.asarray(tt, dtype=np.float64)
