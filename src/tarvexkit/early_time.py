"""Civil time before 1972, where the leap-second kernel has no offset.

1961-01-01 to 1971-12-31: UTC ran with frequency offsets and small steps.
TAI - UTC in that era is a published drift line per period,

    TAI - UTC = offset + (MJD - reference MJD) x rate   (seconds),

with the MJD of the instant itself (fraction of the day included). The
table is the one the US Naval Observatory publishes (tai-utc.dat) and the
IERS Bulletin C history; ERFA's ``dat`` uses the same values.

Before 1961: civil time is taken as UT1, and TT - UT1 (Delta T) comes from
the polynomial expressions of Espenak and Meeus (NASA Technical
Publication 2006-214141, "Five Millennium Canon of Solar Eclipses",
section 2.6), fitted to the Delta T values of Morrison and Stephenson
(2004) and the Astronomical Almanac. Over 1900-1961 they stay within a
few tenths of a second of the observed values.
"""

from __future__ import annotations

from collections.abc import Callable
from typing import Any

import numpy as np
import numpy.typing as npt

_FloatArray = npt.NDArray[np.float64]

MJD_ZERO = 2400000.5
TT_MINUS_TAI_S = 32.184
SECONDS_PER_DAY = 86400.0

# UTC Julian day of 1961-01-01 and 1972-01-01 at 0 h.
UTC_1961 = 2437300.5
UTC_1972 = 2441317.5

# (start UTC Julian day, offset s, reference MJD, rate s/day), 1961-1971.
_DRIFT = np.array(
    [
        (2437300.5, 1.4228180, 37300.0, 0.001296),
        (2437512.5, 1.3728180, 37300.0, 0.001296),
        (2437665.5, 1.8458580, 37665.0, 0.0011232),
        (2438334.5, 1.9458580, 37665.0, 0.0011232),
        (2438395.5, 3.2401300, 38761.0, 0.001296),
        (2438486.5, 3.3401300, 38761.0, 0.001296),
        (2438639.5, 3.4401300, 38761.0, 0.001296),
        (2438761.5, 3.5401300, 38761.0, 0.001296),
        (2438820.5, 3.6401300, 38761.0, 0.001296),
        (2438942.5, 3.7401300, 38761.0, 0.001296),
        (2439004.5, 3.8401300, 38761.0, 0.001296),
        (2439126.5, 4.3131700, 39126.0, 0.002592),
        (2439887.5, 4.2131700, 39126.0, 0.002592),
    ]
)


def tai_minus_utc_drift(utc_jd: _FloatArray) -> _FloatArray:
    """TAI - UTC in seconds for UTC Julian days in 1961-1971."""
    row = np.clip(np.searchsorted(_DRIFT[:, 0], utc_jd, side="right") - 1, 0, len(_DRIFT) - 1)
    offset, reference, rate = _DRIFT[row, 1], _DRIFT[row, 2], _DRIFT[row, 3]
    return np.asarray(offset + (utc_jd - MJD_ZERO - reference) * rate, dtype=np.float64)


def _poly(t: _FloatArray, coefficients: tuple[float, ...]) -> _FloatArray:
    result = np.zeros_like(t)
    for c in reversed(coefficients):
        result = result * t + c
    return result


def delta_t_seconds(ut1_jd: _FloatArray) -> _FloatArray:
    """TT - UT1 in seconds (Espenak and Meeus 2006) at UT1 Julian days.

    The decimal year is taken as the mean Julian year from J2000, which is
    the year + (month - 0.5) / 12 of the source to within a day.
    """
    ut1_jd = np.asarray(ut1_jd, dtype=np.float64)
    y = 2000.0 + (ut1_jd - 2451545.0) / 365.25
    dt = np.empty_like(y)
    pieces: list[tuple[float, float, Callable[[], Any]]] = [
        (-np.inf, -500.0, lambda: -20.0 + 32.0 * ((y - 1820.0) / 100.0) ** 2),
        (-500.0, 500.0, lambda: _poly(y / 100.0, (10583.6, -1014.41, 33.78311, -5.952053, -0.1798452, 0.022174192, 0.0090316521))),
        (500.0, 1600.0, lambda: _poly((y - 1000.0) / 100.0, (1574.2, -556.01, 71.23472, 0.319781, -0.8503463, -0.005050998, 0.0083572073))),
        (1600.0, 1700.0, lambda: _poly(y - 1600.0, (120.0, -0.9808, -0.01532, 1.0 / 7129.0))),
        (1700.0, 1800.0, lambda: _poly(y - 1700.0, (8.83, 0.1603, -0.0059285, 0.00013336, -1.0 / 1174000.0))),
        (1800.0, 1860.0, lambda: _poly(y - 1800.0, (13.72, -0.332447, 0.0068612, 0.0041116, -0.00037436, 0.0000121272, -0.0000001699, 0.000000000875))),
        (1860.0, 1900.0, lambda: _poly(y - 1860.0, (7.62, 0.5737, -0.251754, 0.01680668, -0.0004473624, 1.0 / 233174.0))),
        (1900.0, 1920.0, lambda: _poly(y - 1900.0, (-2.79, 1.494119, -0.0598939, 0.0061966, -0.000197))),
        (1920.0, 1941.0, lambda: _poly(y - 1920.0, (21.20, 0.84493, -0.076100, 0.0020936))),
        (1941.0, 1961.0, lambda: _poly(y - 1950.0, (29.07, 0.407, -1.0 / 233.0, 1.0 / 2547.0))),
        (1961.0, 1986.0, lambda: _poly(y - 1975.0, (45.45, 1.067, -1.0 / 260.0, -1.0 / 718.0))),
        (1986.0, 2005.0, lambda: _poly(y - 2000.0, (63.86, 0.3345, -0.060374, 0.0017275, 0.000651814, 0.00002373599))),
        (2005.0, 2050.0, lambda: _poly(y - 2000.0, (62.92, 0.32217, 0.005589))),
        (2050.0, 2150.0, lambda: -20.0 + 32.0 * ((y - 1820.0) / 100.0) ** 2 - 0.5628 * (2150.0 - y)),
        (2150.0, np.inf, lambda: -20.0 + 32.0 * ((y - 1820.0) / 100.0) ** 2),
    ]
    for low, high, formula in pieces:
        inside = (y >= low) & (y < high)
        if np.any(inside):
            dt[inside] = np.asarray(formula(), dtype=np.float64)[inside]
    return dt


def utc_to_tt(utc_jd: _FloatArray) -> _FloatArray:
    """TT Julian days of civil times before 1972 (UT1 before 1961)."""
    utc_jd = np.asarray(utc_jd, dtype=np.float64)
    drift = utc_jd >= UTC_1961
    offset = np.where(drift, tai_minus_utc_drift(utc_jd) + TT_MINUS_TAI_S, delta_t_seconds(utc_jd))
    # The first minute of 1972 (TAI - UTC = 10 s), for the inverse below.
    offset = np.where(utc_jd >= UTC_1972, 10.0 + TT_MINUS_TAI_S, offset)
    return np.asarray(utc_jd + offset / SECONDS_PER_DAY, dtype=np.float64)


def tt_to_utc(tt_jd: _FloatArray) -> _FloatArray:
    """Inverse of utc_to_tt, by fixed-point iteration (the offsets change by
    well under a millisecond per day, so three passes reach rounding)."""
    tt_jd = np.asarray(tt_jd, dtype=np.float64)
    utc = tt_jd - (utc_to_tt(tt_jd) - tt_jd)
    for _ in range(3):
        utc = tt_jd - (utc_to_tt(utc) - utc)
    return utc


# TT below which UTC and UT1 are worked out here rather than by the
# leap-second kernel: the kernel's inverse (TT to UTC) starts from the
# latest offset, 37 s, and so cannot reach the first 27 s of 1972. A
# minute into 1972 it can.
TT_EARLY_LIMIT = UTC_1972 + (10.0 + TT_MINUS_TAI_S + 60.0) / SECONDS_PER_DAY
