"""Eclipse searches of tarvexkit against pyswisseph: every solar and every
lunar eclipse over the span of the default kernel (DE421, 1900-2050),
against pyswisseph looping sol_eclipse_when_glob (and, for the same
results as ours, sol_eclipse_where for the magnitude and the point of
greatest eclipse) and lun_eclipse_when over the same span.

    python bench/eclipses.py [--repeat 5] [--out bench/eclipses.md]

pyswisseph runs on its analytic (Moshier) ephemeris, which needs no
files. Each side is timed in alternating repetitions; the table gives the
best seconds of each and their ratio.
"""

from __future__ import annotations

import argparse
import time
from collections.abc import Callable
from pathlib import Path

START_YEAR, STOP_YEAR = 1900, 2050


def alternating(ours: Callable[[], int], theirs: Callable[[], int], repeat: int
                ) -> tuple[float, int, float, int]:
    """Best seconds and counts of each, timed in alternating repetitions
    (the machine's load falls on both alike)."""
    best = [float("inf"), float("inf")]
    counts = [0, 0]
    for _ in range(repeat):
        for k, fn in enumerate((ours, theirs)):
            start = time.perf_counter()
            counts[k] = fn()
            best[k] = min(best[k], time.perf_counter() - start)
    return best[0], counts[0], best[1], counts[1]


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--data", type=Path, help="unused: the default data (DE421) covers the span")
    parser.add_argument("--out", type=Path, default=Path(__file__).resolve().parent / "eclipses.md")
    args = parser.parse_args()

    import swisseph as swe

    import tarvexkit

    eph = tarvexkit.load()
    start, stop = eph.utc(START_YEAR, 1, 1), eph.utc(STOP_YEAR, 1, 1)
    flags = swe.FLG_MOSEPH
    begin, end = swe.julday(START_YEAR, 1, 1), swe.julday(STOP_YEAR, 1, 1)

    def swe_loop(find: Callable[[float], tuple[float, ...]], where: bool = False) -> int:
        t, count = begin, 0
        while True:
            tret = find(t)
            if tret[0] >= end:
                return count
            if where:
                swe.sol_eclipse_where(tret[0], flags)
            count += 1
            t = tret[0] + 10.0

    def swe_solar() -> int:
        return swe_loop(lambda t: swe.sol_eclipse_when_glob(t, flags)[1])

    def swe_solar_where() -> int:
        return swe_loop(lambda t: swe.sol_eclipse_when_glob(t, flags)[1], where=True)

    def swe_lunar() -> int:
        return swe_loop(lambda t: swe.lun_eclipse_when(t, flags)[1])

    rows = [
        ("solar eclipses (kind, greatest)", lambda: len(eph.solar_eclipses(start, stop)), swe_solar,
         "`sol_eclipse_when_glob` loop"),
        ("solar eclipses with magnitude and point", lambda: len(eph.solar_eclipses(start, stop)), swe_solar_where,
         "`sol_eclipse_when_glob` + `sol_eclipse_where` loop"),
        ("lunar eclipses (kind, greatest, contacts, magnitudes)", lambda: len(eph.lunar_eclipses(start, stop)),
         swe_lunar, "`lun_eclipse_when` loop"),
    ]
    eph.solar_eclipses(eph.utc(2000, 1, 1), eph.utc(2001, 1, 1))  # first use: caches, threads
    lines = [
        "# Eclipse searches",
        "",
        f"Every eclipse {START_YEAR}-{STOP_YEAR} (the span of DE421, tarvexkit's default kernel), best of "
        f"{args.repeat}; pyswisseph {swe.version} on its analytic Moshier ephemeris. Written by "
        "`bench/eclipses.py` (`make bench`).",
        "",
        "| search | eclipses | tarvexkit (s) | pyswisseph | pyswisseph (s) | ratio |",
        "|---|---|---|---|---|---|",
    ]
    for name, ours, theirs, what in rows:
        ours_s, ours_n, theirs_s, theirs_n = alternating(ours, theirs, args.repeat)
        lines.append(f"| {name} | {ours_n} / {theirs_n} | {ours_s:.3f} | {what} | {theirs_s:.3f} | "
                     f"{theirs_s / ours_s:.1f}x |")
    text = "\n".join(lines) + "\n"
    args.out.write_text(text)
    print(text)


if __name__ == "__main__":
    main()
