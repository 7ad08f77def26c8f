"""Observing searches of tarvexkit against Skyfield: one year of rises,
sets and upper transits of the ten bodies at one site, one year of
twilight, and altitude/azimuth of ten bodies at 10,000 instants, on the
same kernel.

    python bench/observing.py --data ../shared/data [--repeat 3] [--latitude 60] [--out bench/observing.md]

Each side is timed in alternating repetitions; the table gives median
seconds and the median ratio. Skyfield's twilight search samples hourly
and steps over the short dips that tarvexkit finds (see the tests), so the
twilight rows do not count the same events at high latitudes.
"""

from __future__ import annotations

import argparse
import os
import statistics
import time
from pathlib import Path

os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import numpy as np  # noqa: E402

BODIES = ["sun", "moon", "mercury", "venus", "mars", "jupiter", "saturn", "uranus", "neptune", "pluto"]
SKYFIELD_NAMES = {
    "sun": "sun", "moon": "moon", "mercury": "mercury", "venus": "venus", "mars": "mars",
    "jupiter": "jupiter barycenter", "saturn": "saturn barycenter", "uranus": "uranus barycenter",
    "neptune": "neptune barycenter", "pluto": "pluto barycenter",
}


def timed(fn) -> tuple[float, int]:
    start = time.perf_counter()
    count = fn()
    return time.perf_counter() - start, count


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--data", type=Path, required=True)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--latitude", type=float, default=60.0)
    parser.add_argument("--out", type=Path, default=Path(__file__).resolve().parent / "observing.md",
                        help="where the table is written (the documentation site includes it)")
    args = parser.parse_args()

    import tarvex
    import tarvexkit
    from skyfield import almanac
    from skyfield.api import load, load_file, wgs84

    eph = tarvexkit.open(args.data / "de405s.bsp", additional_kernels=[args.data / "planet_centers_1997_2010.bsp"],
                         leap_seconds=args.data / "naif0012.tls", eop=args.data / "eop_c04_1962_2022.txt")
    kernel = load_file(str(args.data / "de405s.bsp"))
    ts = load.timescale(builtin=True)
    site = tarvex.GeodeticObserver(10.0, args.latitude, 0.0)
    topos = wgs84.latlon(args.latitude, 10.0)
    place = kernel["earth"] + topos
    start, stop = eph.utc(2003, 1, 1), eph.utc(2004, 1, 1)
    t0, t1 = ts.utc(2003, 1, 1), ts.utc(2004, 1, 1)
    instants = np.linspace(2451000.5, 2454000.5, 10_000)

    def ours_events() -> int:
        return sum(len(eph.horizon_events(b, site, start, stop)) for b in BODIES)

    def ref_events() -> int:
        count = 0
        for body in BODIES:
            target = kernel[SKYFIELD_NAMES[body]]
            for find in (almanac.find_risings, almanac.find_settings):
                count += int(np.sum(find(place, target, t0, t1)[1]))
            count += len(almanac.find_transits(place, target, t0, t1))
        return count

    def ours_twilight() -> int:
        return len(eph.twilight(site, start, stop))

    def ref_twilight() -> int:
        return len(almanac.find_discrete(t0, t1, almanac.dark_twilight_day(kernel, topos))[0])

    def ours_altaz() -> int:
        return int(eph.altaz(BODIES, site, eph.times(instants, "tt")).altitude_deg.size)

    def ref_altaz() -> int:
        t = ts.tt_jd(instants)
        return sum(place.at(t).observe(kernel[SKYFIELD_NAMES[b]]).apparent().altaz()[0].degrees.size for b in BODIES)

    rows = []
    for title, ours, ref in (("rises, sets, transits: 10 bodies, 1 year", ours_events, ref_events),
                             ("twilight: 1 year", ours_twilight, ref_twilight),
                             ("altaz: 10 bodies x 10,000 instants", ours_altaz, ref_altaz)):
        times_ours, times_ref, ratios = [], [], []
        for _ in range(args.repeat):
            a, count_ours = timed(ours)
            b, count_ref = timed(ref)
            times_ours.append(a)
            times_ref.append(b)
            ratios.append(b / a)
        rows.append((title, statistics.median(times_ours), statistics.median(times_ref), statistics.median(ratios),
                     count_ours, count_ref))
    lines = [
        "# Observing searches: tarvexkit against Skyfield",
        "",
        f"Command: `python bench/observing.py --data {args.data} --repeat {args.repeat} --latitude {args.latitude:g}`; "
        f"{time.strftime('%Y-%m-%d %H:%M')}, load average {os.getloadavg()[0]:.2f}, median seconds.",
        "",
        "| workload | tarvexkit s | Skyfield s | Skyfield / tarvexkit | results (tarvexkit / Skyfield) |",
        "|---|---|---|---|---|",
    ]
    for title, a, b, ratio, n_ours, n_ref in rows:
        lines.append(f"| {title} | {a:.3f} | {b:.3f} | {ratio:.1f}x | {n_ours} / {n_ref} |")
    text = "\n".join(lines) + "\n"
    print(text)
    args.out.write_text(text)

if __name__ == "__main__":
    main()
