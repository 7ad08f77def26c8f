"""Speed-up of batch positions on a Dask LocalCluster over one process.

The same request (apparent geocentric places of ten bodies at N instants)
runs once as a single `Engine.positions` call in this process and once
through examples/dask_batch.py on a LocalCluster of W single-threaded worker
processes (one engine each). Both sides build their Instant objects from the
same Julian-day array, so that cost is on both sides. The cluster is warmed
up first (workers started, module imported, engines opened), and each side
is timed in alternating repetitions; the medians are reported, and the
gathered array is checked to equal the single-process one bit for bit.

    python bench/dask_speedup.py --data ../shared/data [--instants 200000]
                                 [--workers 2] [--chunk N] [--repeat 3]

tarvex is imported normally; set PYTHONPATH to a build directory to measure
a build that is not installed.
"""

from __future__ import annotations

import argparse
import os
import statistics
import sys
import time
from pathlib import Path

import numpy as np

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "examples"))
import dask_batch  # noqa: E402  (by name, so that workers import it too)

import tarvex  # noqa: E402


def _probe(data: str, instants: int, start_at: float) -> float:
    """Seconds for one fixed batch in a fresh process, started together with
    its siblings at `start_at` (wall clock)."""
    kernels = dask_batch.sample_kernels(data)
    engine = kernels.open()
    options = dask_batch.Options.apparent_place().build()
    days = np.linspace(2450500.25, 2455100.75, instants).tolist()
    time.sleep(max(0.0, start_at - time.time()))
    started = time.perf_counter()
    engine.positions(dask_batch.BODIES, [tarvex.Instant.tt(day) for day in days], options)
    return time.perf_counter() - started


def available_parallelism(data: str, workers: int, instants: int = 50_000) -> float:
    """How many cores' worth this machine gives right now: the same job in
    `workers` plain processes at once against one alone (2.0 means two
    free cores). On a shared machine this bounds any speed-up."""
    import multiprocessing
    from concurrent.futures import ProcessPoolExecutor

    with ProcessPoolExecutor(workers, mp_context=multiprocessing.get_context("spawn")) as pool:
        alone = pool.submit(_probe, data, instants, time.time()).result()
        start_at = time.time() + 1.0
        together = [f.result() for f in [pool.submit(_probe, data, instants, start_at) for _ in range(workers)]]
    return workers * alone / max(together)


def main(argv: list[str] | None = None) -> int:
    from distributed import Client, LocalCluster

    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--data", default=str(ROOT.parent / "shared" / "data"))
    parser.add_argument("--instants", type=int, default=200_000)
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--chunk", type=int, help="instants per task (default: four tasks per worker)")
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args(argv)

    kernels = dask_batch.sample_kernels(args.data)
    bodies = dask_batch.BODIES
    days = np.linspace(2450500.25, 2455100.75, args.instants)
    args.chunk = args.chunk or max(1, -(-args.instants // (4 * args.workers)))
    request = dask_batch.Request(days, "tt", chunk_instants=args.chunk)
    options = dask_batch.Options.apparent_place()
    engine = kernels.open()

    def single() -> np.ndarray:
        return engine.positions(bodies, [tarvex.Instant.tt(day) for day in days.tolist()], options.build())

    cluster = LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True, dashboard_address=":0")
    with Client(cluster):
        warm = dask_batch.Request(days[: args.workers * 4], "tt", chunk_instants=4)
        dask_batch.positions(kernels, bodies, warm, options)
        one, many = [], []
        for _ in range(args.repeat):
            started = time.perf_counter()
            expected = single()
            one.append(time.perf_counter() - started)
            started = time.perf_counter()
            gathered = dask_batch.positions(kernels, bodies, request, options)
            many.append(time.perf_counter() - started)
            assert gathered.tobytes() == expected.tobytes(), "cluster result differs from one engine"
    cluster.close()

    capacity = available_parallelism(args.data, args.workers)
    count = args.instants * len(bodies)
    t1, tw = statistics.median(one), statistics.median(many)
    load = os.getloadavg()[0]
    print(f"apparent places, {len(bodies)} bodies x {args.instants} instants = {count} positions, "
          f"chunks of {args.chunk} instants, {os.cpu_count()} CPUs, load average {load:.1f}")
    print("| run | median time | positions/s |")
    print("|---|---:|---:|")
    print(f"| one process, one engine | {t1:.2f} s | {count / t1 / 1e6:.2f} M |")
    print(f"| LocalCluster, {args.workers} worker processes x 1 thread | {tw:.2f} s | {count / tw / 1e6:.2f} M |")
    print(f"speed-up {t1 / tw:.2f}x (per repetition: "
          f"{', '.join(f'{a / b:.2f}' for a, b in zip(one, many))}); results equal bit for bit")
    print(f"available parallelism at the end: {capacity:.2f} cores' worth ({args.workers} plain processes "
          f"running the same job side by side against one alone), the ceiling for the speed-up")
    return 0


if __name__ == "__main__":
    sys.exit(main())
