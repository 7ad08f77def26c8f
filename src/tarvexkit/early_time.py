"""Civil time before 1972, where the leap-second kernel has no offset.

1961-01-01 to 1971-12-31: UTC ran with frequency offsets and small steps.
TAI - UTC in that era is a published drift line per period,

    TAI - UTC = offset + (MJD - reference MJD) x rate   (seconds),

with the MJD of the instant itself (fraction of the day included). The
table is the one the US Naval Observatory publishes (tai-utc.dat) and the
IERS Bulletin C history; ERFA's ``dat`` uses the same values.

Before 1961: civil time (Greenwich mean time) is taken as UT1, and
TT - UT1 (Delta T) comes from the model of Stephenson, Morrison and
Hohenkerk (2016) in `tarvexkit.delta_t`, the same the Earth orientation
table of the engine is continued with before 1962.
"""

from __future__ import annotations

import numpy as np
import numpy.typing as npt

from . import delta_t

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


def utc_to_tt(utc_jd: _FloatArray) -> _FloatArray:
    """TT Julian days of civil times before 1972 (UT1 before 1961)."""
    utc_jd = np.asarray(utc_jd, dtype=np.float64)
    drift = utc_jd >= UTC_1961
    ut1_offset = (delta_t.tt_from_ut1(utc_jd) - utc_jd) * SECONDS_PER_DAY
    offset = np.where(drift, tai_minus_utc_drift(utc_jd) + TT_MINUS_TAI_S, ut1_offset)
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
