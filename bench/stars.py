"""Apparent places of the fixed stars: tarvexkit against Skyfield's `Star`
built from the same Hipparcos values (epoch J1991.25, proper motions,
parallax), on the same kernel (DE421) and instants.

    python bench/stars.py [--repeat 5] [--out bench/stars.md]

Rows: all 117 955 stars at one instant (one native call on every core
against one vectorised Skyfield Star); 100 named stars at 365 daily
instants; and, in a fresh interpreter each, the first call's catalogue
load and the resident memory it adds. Each side is timed in alternating
repetitions; the table gives the best seconds of each and their ratio.
"""

from __future__ import annotations

import argparse
import os
import subprocess
import sys
import time
from collections.abc import Callable
from pathlib import Path

os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import numpy as np  # noqa: E402

# The first call in a fresh interpreter: parse the catalogue, then one
# instant of the whole catalogue; prints seconds and resident kB added.
FIRST_CALL = """
import os, time, tarvexkit
def resident_kb():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024
eph = tarvexkit.load(); t = eph.utc(2026, 3, 20)
eph.positions(["mars"], t)
before = resident_kb()
start = time.perf_counter()
from tarvexkit import stars
stars.catalogue(); stars.star_names()
load = time.perf_counter() - start
eph.star_places(t)
print(load, time.perf_counter() - start, resident_kb() - before)
"""


def alternating(ours: Callable[[], object], theirs: Callable[[], object], repeat: int) -> tuple[float, float]:
    best = [float("inf"), float("inf")]
    for _ in range(repeat):
        for k, fn in enumerate((ours, theirs)):
            start = time.perf_counter()
            fn()
            best[k] = min(best[k], time.perf_counter() - start)
    return best[0], best[1]


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--data", type=Path, help="unused: the default data (DE421) is used")
    parser.add_argument("--out", type=Path, default=Path(__file__).resolve().parent / "stars.md")
    args = parser.parse_args()

    import skyfield
    from skyfield.api import Star, load, load_file
    
    import tarvex
    import tarvexkit
    from tarvexkit import stars

    eph = tarvexkit.load()
    cat = stars.catalogue()
    s = cat.stars
    planets = load_file(eph.files[0].path)
    earth = planets["earth"]
    ts = load.timescale(builtin=True)

    def star(rows: object) -> Star:
        r = s[rows]
        return Star(ra_hours=np.degrees(r["ra_rad"]) / 15.0, dec_degrees=np.degrees(r["dec_rad"]),
                    ra_mas_per_year=r["pm_ra_mas_yr"], dec_mas_per_year=r["pm_dec_mas_yr"],
                    parallax_mas=np.maximum(r["parallax_mas"], 0.0), epoch=stars.CATALOGUE_EPOCH_TT)

    every = star(slice(None))
    t = ts.tt(2026, 3, 20)
    when = eph.times(t.tt, "tt")

    equatorial = tarvex.apparent("geocentric", "equatorial")

    def radec(apparent: object, when: object) -> object:
        # Skyfield's quickest way to places of date: its apparent GCRS
        # vectors turned by the precession-nutation matrix `M` of the
        # instants asked for (radec(epoch="date"), frame_xyz and
        # frame_latlon compute a matrix per star, 20-50 s on the whole
        # catalogue), then right ascension and declination.
        x, y, z = np.einsum("ij...,j...->i...", when.M, apparent.position.au)  # type: ignore[attr-defined]
        return np.arctan2(y, x), np.arctan2(z, np.hypot(x, y))

    def ours_all() -> object:
        return eph.star_places(when, equatorial)

    def theirs_all() -> object:
        return radec(earth.at(t).observe(every).apparent(), t)

    known = set(s["hip"].tolist())
    named = [n.name for n in stars.star_names() if n.hip in known][:100]
    rows = cat.rows([stars.star_hip(n) for n in named])
    days = ts.tt(2026, 1, np.arange(1, 366))
    year = eph.times(days.tt, "tt")
    hundred = [star(int(r)) for r in rows]

    def ours_year() -> object:
        return eph.positions(named, year, equatorial)

    def theirs_year() -> object:
        return [radec(earth.at(days).observe(one).apparent(), days) for one in hundred]

    ours_all()
    theirs_all()
    lines = [
        "# Fixed stars",
        "",
        f"Apparent places of date (right ascension and declination), tarvexkit against Skyfield {skyfield.__version__}'s `Star` built from the same "
        f"Hipparcos values, DE421, best of {args.repeat} (alternating). {os.cpu_count()} CPUs. Written by "
        "`bench/stars.py` (`make bench`).",
        "",
        "| workload | tarvexkit (s) | Skyfield (s) | ratio |",
        "|---|---|---|---|",
    ]
    for name, ours, theirs in [
        (f"all {len(cat)} stars at one instant (one array each)", ours_all, theirs_all),
        ("100 named stars x 365 daily instants", ours_year, theirs_year),
    ]:
        ours_s, theirs_s = alternating(ours, theirs, args.repeat)
        lines.append(f"| {name} | {ours_s:.4f} | {theirs_s:.4f} | {theirs_s / ours_s:.1f}x |")
    runs = [subprocess.run([sys.executable, "-c", FIRST_CALL], capture_output=True, text=True, check=True)
            for _ in range(3)]
    load_s, first_s, rss_kb = min(tuple(float(v) for v in r.stdout.split()) for r in runs)
    lines += [
        "",
        f"First call in a fresh process (best of 3): catalogue and names read in {load_s:.2f} s, the whole "
        f"catalogue's places {first_s:.2f} s after the start; resident memory added after the call {rss_kb / 1024:.0f} MB "
        "(the catalogue kept is one structured array of "
        f"{cat.stars.nbytes / 1e6:.1f} MB and its 7-column table of {cat.table.nbytes / 1e6:.1f} MB).",
    ]
    text = "\n".join(lines) + "\n"
    args.out.write_text(text)
    print(text)


if __name__ == "__main__":
    main()
