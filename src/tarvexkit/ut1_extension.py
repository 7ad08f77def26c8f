"""UT1 for every date: the Earth orientation table the engine reads, continued
before the IERS series by Delta T and after it by a long-term prediction.

The engine takes UT1 as UTC + (UT1 - UTC) from its table, with UTC from TT
through the leap-second kernel's TAI - UTC. Two generated files give it an
answer for any date from year 0 on:

- the leap-second kernel with its first offset (TAI - UTC = 10 s, in force
  from 1972-01-01) held back to 0000-01-01. Before 1972 the engine's "UTC"
  is therefore TAI - 10 s, an even time scale that joins 1972 without a
  step; the civil time of those years (rubber-second UTC 1961-1971, UT1
  before) is worked out in `tarvexkit.early_time`, never by the engine;
- the Earth orientation table with its rows before 1972 restated on that
  scale (UT1 - (TAI - 10 s) = UT1 - UTC + (TAI - UTC) - 10 s, the IERS
  rows shifted to the same instant), preceded by rows from Delta T of
  Stephenson, Morrison and Hohenkerk (2016, `tarvexkit.delta_t`; pole
  zero), and followed by the long-term prediction below.

Long-term prediction (past the last Bulletin A row, flagged as predicted):

    Delta T(y) = Delta T_L + r (y - y_L) + c (y - y_L)^2,

with Delta T_L the value of the last row (TT - UT1 with the last leap-second
offset held, as Bulletin A does), r its rate over the last year of rows
(so value and rate join without a jump), and c = 0.00325 s/yr^2, the
curvature of the long-term parabola of Stephenson, Morrison and Hohenkerk
(2016), i.e. the mean tidal braking. The pole follows the IERS secular
pole (IERS Conventions 2010, section 7.1.4, as updated in 2018:
x = 55.0 + 1.677 (y - 2000) mas, y = 320.5 + 3.460 (y - 2000) mas), reached
linearly over the first year. How large the error grows: the decade
fluctuations of the Earth's rotation are not predictable; over the last
century they moved Delta T by up to about 1 s in 5 years, 5 s in 25 years
and 10-15 s in 50 years away from any smooth curve (Stephenson et al. 2016,
fig. 14), so take UT1 after the last Bulletin A row as good to about a
second in the first years, several seconds by 2050 and tens of seconds a
century ahead (sidereal time 15 arcseconds per second of UT1).

Before 1962 rows every ten days back to 1800 and every year before: Delta T
curves by under 0.02 s/yr^2 there, so the table's linear interpolation adds
under 3 ms. The model meets the first IERS row through a linear ramp over
the last year before it (the 2016 spline is 0.38 s below the IERS series at
1962.0).
"""

from __future__ import annotations

import hashlib
import math
import re
from collections.abc import Iterator
from dataclasses import dataclass
from pathlib import Path
from typing import TYPE_CHECKING

import numpy as np

from . import delta_t
from .data import cached_text
from .held_files import hold_bytes
from .calendar import civil_from_day_number

if TYPE_CHECKING:
    from .held_files import HeldFile

MJD_ZERO = 2400000.5
TT_MINUS_TAI_S = 32.184
# TAI - UTC from 1972-01-01, held back to year 0 in the generated kernel.
FIRST_OFFSET_S = 10.0
UTC_1972_MJD = 41317.0
# 0000-01-01 (proleptic Gregorian), the earliest date a kernel's date literal can name.
YEAR_ZERO_MJD = 1721059.5 - MJD_ZERO
LONG_TERM_CURVATURE_S_PER_YR2 = delta_t.PARABOLA_S_PER_CENTURY2 / 1.0e4
# Long-term rows run to this year (the longest JPL kernels end near 3000;
# the prediction past that is a formality).
LAST_PREDICTED_YEAR = 10000.0
MARKER = "# tarvexkit UT1 spans (MJD):"

_DELTA_AT = re.compile(r"DELTET/DELTA_AT\s*=\s*\(\s*([-+0-9.]+)\s*,?\s*@(\d+)-([A-Z]{3})-(\d+)", re.S)


def extend_leap_second_text(text: str) -> str | None:
    """The kernel text with its first offset held back to 0000-01-01, or
    None when the first entry is not TAI - UTC = 10 s at 1972-01-01."""
    found = _DELTA_AT.search(text)
    if not found or float(found.group(1)) != FIRST_OFFSET_S or found.group(2, 3, 4) != ("1972", "JAN", "1"):
        return None
    note = ("\nThe first offset (10 s from 1972-JAN-1) is held back to 0-JAN-1 by tarvexkit, so that\n"
            "UT1 can be looked up before 1972 (see tarvexkit.ut1_extension).\n")
    start = found.start(1)
    return note + text[:start] + "10,   @0-JAN-1\n                           " + text[start:]


@dataclass(frozen=True)
class Ut1Spans:
    """Where the UT1 of an extended table comes from (UTC Julian days):
    Delta T model before `iers_start`, IERS values up to `measured_end`,
    Bulletin A predictions up to `predicted_end`, long-term prediction after."""

    iers_start: float
    measured_end: float
    predicted_end: float

    def header(self) -> str:
        return (f"{MARKER} iers_start={self.iers_start - MJD_ZERO!r} measured_end={self.measured_end - MJD_ZERO!r} "
                f"predicted_end={self.predicted_end - MJD_ZERO!r}\n")


def read_spans(path: str | Path) -> Ut1Spans | None:
    """The spans recorded in an extended table's header (None for other tables)."""
    try:
        with open(path, encoding="ascii", errors="replace") as f:
            for _, line in zip(range(40), f):
                if line.startswith(MARKER):
                    values = dict(item.split("=") for item in line[len(MARKER):].split())
                    return Ut1Spans(*(float(values[k]) + MJD_ZERO for k in ("iers_start", "measured_end", "predicted_end")))
    except (OSError, ValueError, KeyError):
        return None
    return None


def _row(mjd: float, x: float, y: float, dut1: float) -> str:
    year, month, day = (int(v) for v in civil_from_day_number(np.array(math.floor(mjd + MJD_ZERO + 0.5), dtype=np.int64), "gregorian"))
    return (f"{year:5d} {month:3d} {day:3d}   0  {mjd:.8f}  {x:10.6f}  {y:10.6f}  {dut1:.7f}"
            "    0.000000    0.000000    0.000000    0.000000   0.0000000")


def _data_rows(text: str) -> Iterator[tuple[str, list[str]]]:
    for line in text.splitlines():
        stripped = line.strip()
        if not stripped or stripped.startswith("#"):
            yield line, []
        else:
            yield line, stripped.split()


def _drift_tai_minus_utc(mjd: float) -> float:
    from .early_time import tai_minus_utc_drift

    return float(tai_minus_utc_drift(np.array([mjd + MJD_ZERO]))[0])


def _secular_pole(year: float) -> tuple[float, float]:
    return (55.0 + 1.677 * (year - 2000.0)) / 1000.0, (320.5 + 3.460 * (year - 2000.0)) / 1000.0


def _year_of_mjd(mjd: float) -> float:
    return 2000.0 + (mjd + MJD_ZERO - delta_t.J2000) / delta_t.DAYS_PER_YEAR


def last_measured_mjd(bulletin_a_text: str) -> float | None:
    """MJD of the last finals2000A row whose UT1-UTC is flagged 'I' (IERS,
    not a prediction), column 58 of its fixed layout."""
    last = None
    for line in bulletin_a_text.splitlines():
        if len(line) > 68 and line[57] == "I":
            try:
                last = float(line[7:15])
            except ValueError:
                continue
    return last


def extend_eop_text(table_text: str, last_offset_s: float, measured_end_mjd: float | None = None) -> str:
    """An IERS C04 table (possibly continued by Bulletin A) restated for the
    extended leap-second kernel and continued both ways; see the module text.

    `last_offset_s` is TAI - UTC of the kernel's last entry (held in the
    predictions); `measured_end_mjd` the last row not predicted (default:
    the last row of the table)."""
    lines: list[str] = []
    samples: list[tuple[float, float, float, float]] = []
    for line, fields in _data_rows(table_text):
        if not fields:
            if line.strip():
                lines.append(line)
            continue
        mjd, x, y, dut1 = (float(v) for v in fields[4:8])
        if mjd < UTC_1972_MJD:
            # The same instant on the scale TAI - 10 s, and UT1 against it.
            shift = _drift_tai_minus_utc(mjd) - FIRST_OFFSET_S
            mjd += shift / 86400.0
            dut1 -= shift
        samples.append((mjd, x, y, dut1))
    if not samples:
        raise ValueError("the Earth orientation table has no rows to extend")

    def delta_t_of(mjd: float, dut1: float, offset: float) -> float:
        return TT_MINUS_TAI_S + offset - dut1

    first_mjd, *_, first_dut1 = samples[0]
    last_mjd, last_x, last_y, last_dut1 = samples[-1]
    offset_at_start = FIRST_OFFSET_S if first_mjd < UTC_1972_MJD else last_offset_s

    # Before: Delta T of the model on the TAI - 10 s scale, ramped onto the first row.
    # Yearly rows to 1800 (MJD -21504), every ten days after.
    grid = [m for m in np.arange(YEAR_ZERO_MJD, -21504.0, 365.0)]
    grid += list(np.arange(-21504.0, first_mjd - 0.5, 10.0))
    grid_array = np.array(grid, dtype=np.float64)
    tt = grid_array + MJD_ZERO + (offset_at_start + TT_MINUS_TAI_S) / 86400.0
    model = delta_t.delta_t_seconds(tt)
    start_model = float(delta_t.delta_t_seconds(np.float64(first_mjd + MJD_ZERO + (offset_at_start + TT_MINUS_TAI_S) / 86400.0)))
    gap = delta_t_of(first_mjd, first_dut1, offset_at_start) - start_model
    ramp = np.clip((grid_array - (first_mjd - 365.25)) / 365.25, 0.0, 1.0)
    dut1_before = offset_at_start + TT_MINUS_TAI_S - (model + gap * ramp)
    rows = [_row(float(m), 0.0, 0.0, float(d)) for m, d in zip(grid_array, dut1_before)]
    # UT1 - UTC steps by a second at each leap second, between two daily
    # rows; interpolated straight across, UT1 would drift by up to a second
    # over the day before. A row a millisecond before the step carries the
    # next row's value less the second, so UT1 stays continuous.
    previous = None
    for sample in samples:
        if previous is not None and sample[0] >= UTC_1972_MJD and abs(sample[3] - previous[3]) > 0.5:
            step = round(sample[3] - previous[3])
            rows.append(_row(sample[0] - 1e-8, sample[1], sample[2], sample[3] - step))
        rows.append(_row(*sample))
        previous = sample

    # After: value and yearly rate of the last row, tidal curvature, secular pole.
    year_last = _year_of_mjd(last_mjd)
    delta_t_last = delta_t_of(last_mjd, last_dut1, last_offset_s)
    back = [s for s in samples if s[0] >= last_mjd - 365.25]
    span_years = (last_mjd - back[0][0]) / 365.25
    rate = 0.0
    if span_years > 0.5 and abs(back[0][3] - last_dut1) < 0.9:  # no leap second inside
        rate = (delta_t_last - delta_t_of(back[0][0], back[0][3], last_offset_s)) / span_years
    after = list(np.arange(last_mjd + 30.0, last_mjd + 200 * 365.25, 30.0))
    after += list(np.arange(after[-1] + 365.25, (LAST_PREDICTED_YEAR - 2000.0) * 365.25 + 51544.5, 365.25))
    pole_end = _secular_pole(year_last + 1.0)
    for m in after:
        dy = _year_of_mjd(m) - year_last
        value = delta_t_last + rate * dy + LONG_TERM_CURVATURE_S_PER_YR2 * dy * dy
        if dy < 1.0:
            px = last_x + (pole_end[0] - last_x) * dy
            py = last_y + (pole_end[1] - last_y) * dy
        else:
            px, py = _secular_pole(year_last + dy)
        rows.append(_row(float(m), px, py, TT_MINUS_TAI_S + last_offset_s - value))

    iers_start = first_mjd + MJD_ZERO
    measured = last_mjd if measured_end_mjd is None else min(max(measured_end_mjd, first_mjd), last_mjd)
    spans = Ut1Spans(iers_start, measured + MJD_ZERO, last_mjd + MJD_ZERO)
    header = [
        "# Earth orientation for tarvexkit: the IERS rows below restated before 1972 on the scale",
        "# TAI - 10 s, preceded by Delta T of Stephenson, Morrison and Hohenkerk (2016) and followed by",
        f"# a long-term prediction (Delta T rate {rate!r} s/yr at the last row, curvature "
        f"{LONG_TERM_CURVATURE_S_PER_YR2!r} s/yr^2); see tarvexkit.ut1_extension.",
    ]
    return spans.header() + "\n".join(header + lines + rows) + "\n"


# Changes whenever the generated files would come out differently.
_FORMAT = "2"


def last_offset_of(lsk_text: str) -> float:
    """TAI - UTC of a leap-second kernel's last entry, seconds."""
    start = lsk_text.index("DELTET/DELTA_AT")
    body = lsk_text[start:lsk_text.index(")", start)]
    return float(re.findall(r"([-+0-9.]+)\s*,?\s*@", body)[-1])


def extend_files(files: list[HeldFile], measured_end_mjd: float | None = None) -> list[HeldFile]:
    """`files` with the leap-second kernel and the Earth orientation table
    replaced by their extended forms, or unchanged when either is missing or
    the kernel does not start with 10 s at 1972. The originals are read
    through the copies the ephemeris holds (never by name again); the
    extended table is built once per pair and kept in the verified cache
    (`tarvexkit.data.cached_text`), the extended kernel is made in memory."""
    roles = {f.role: i for i, f in enumerate(files)}
    if "leap seconds" not in roles or "earth orientation" not in roles:
        return files
    lsk, eop = files[roles["leap seconds"]], files[roles["earth orientation"]]
    lsk_text = Path(lsk.reader()).read_text(encoding="ascii", errors="replace")
    extended_lsk = extend_leap_second_text(lsk_text)
    if extended_lsk is None:
        return files
    key = hashlib.sha256(f"{_FORMAT}{lsk.sha256}{eop.sha256}{measured_end_mjd!r}".encode()).hexdigest()[:16]
    try:
        table = cached_text(
            f"eop_any_date_{key}.txt",
            lambda: extend_eop_text(Path(eop.reader()).read_text(encoding="ascii", errors="replace"),
                                    last_offset_of(lsk_text), measured_end_mjd),
            "extended Earth orientation table")
    except ValueError:
        # A table this cannot read is given to the engine as it is, whose
        # parser then says what is wrong with it, naming the file.
        return files
    lsk_bytes = extended_lsk.encode("ascii")
    result = list(files)
    result[roles["leap seconds"]] = hold_bytes(
        "leap seconds", f"lsk_from_year_0_{key}.tls", lsk_bytes, hashlib.sha256(lsk_bytes).hexdigest(),
        f"{lsk.source}: {Path(lsk.path).name} (SHA-256 {lsk.sha256}) with its first offset held back to year 0 "
        "by tarvexkit", f"<in memory: {Path(lsk.path).name} from year 0>", lsk.derived_from or lsk.path)
    result[roles["earth orientation"]] = hold_bytes(
        "earth orientation", f"eop_any_date_{key}.txt", table.content, table.sha256,
        f"{eop.source}: {Path(eop.path).name} (SHA-256 {eop.sha256}) continued by tarvexkit with Delta T (SMH2016) "
        "before and a long-term prediction after",
        str(table.path) if table.path is not None else f"<in memory: {Path(eop.path).name} for any date>",
        eop.derived_from or eop.path)
    return result
