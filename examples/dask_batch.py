"""Batch positions beyond one process: a (instants × bodies) request split
into chunks and run on Dask, with one tarvex engine per worker thread.

An Engine belongs to the thread that opened it and cannot be pickled, and
neither can Instant or PositionOptions. So the client sends only plain data:
where the kernels are (paths and checksums, `Kernels`), what to compute
(`Options`, a picklable twin of tarvex's options), and Julian days as NumPy
arrays. Each worker thread opens its own engine on first use and keeps it for
every later chunk; the chunks come back as blocks of one array of shape
(instants, bodies, 4), exactly what `Engine.positions` returns for the whole
request.

    python examples/dask_batch.py --data ../shared/data [--scheduler ADDRESS]
                                  [--instants 100000] [--chunk 10000]

With tarvexkit installed there is a shorter path (`kit_positions`): the
client sends the kernel paths, one time scale and an array of Julian days
(NumPy or Dask); each worker process opens one `tarvexkit._native.Store` on
first use, keeps it for every later chunk, and computes each chunk on all the
cores it may use, straight from the array (no Instant objects).

    python examples/dask_batch.py --data ../shared/data --toolkit [...]

Without --scheduler it starts a LocalCluster of two single-threaded worker
processes. On a real cluster every node needs the kernel files at the same
paths, and the workers need this module importable (installed, or sent with
Client.upload_file).
"""

from __future__ import annotations

import argparse
import os
import sys
import threading
import time
from collections.abc import Sequence
from dataclasses import dataclass

import dask
import dask.array as da
import numpy as np

import tarvex

# ------------------------------------------------------------------ what the workers need to know


@dataclass(frozen=True)
class Kernels:
    """Paths and caller-verified SHA-256 checksums of the files an engine is
    opened on. Paths are read on the worker, so they must exist there."""

    kernel: tuple[str, str]
    leap_seconds: tuple[str, str] | None = None
    eop: tuple[str, str] | None = None
    additional: tuple[tuple[str, str], ...] = ()

    def open(self) -> tarvex.Engine:
        lsk = self.leap_seconds or (None, None)
        eop = self.eop or (None, None)
        engine = tarvex.open(*self.kernel, *lsk, *eop)
        try:
            for path, sha256 in self.additional:
                engine.with_additional_kernel_file(path, sha256)
        except BaseException:
            # Collect the engine here, on its own thread; see engine_for.
            engine = None
            raise
        return engine


@dataclass(frozen=True)
class Options:
    """A picklable description of `tarvex.PositionOptions`, with the same
    fields and defaults; `build()` makes the real object on the worker."""

    origin: str
    coordinate_system: str
    reference_epoch: str = "j2000"
    apparent: bool = False
    true_ecliptic: bool = False
    light_time: bool = False
    aberration: bool = False
    gravitational_deflection: bool = False
    precession: bool = False
    nutation: bool = False
    observer: tuple[float, float, float] | None = None  # east longitude, latitude (deg), height (m)

    @classmethod
    def geometric(cls, origin: str = "geocentric", coordinate_system: str = "ecliptic",
                  observer: tuple[float, float, float] | None = None) -> Options:
        """As `tarvex.geometric`: J2000, every correction off."""
        return cls(origin, coordinate_system, "j2000", observer=observer)

    @classmethod
    def apparent_place(cls, origin: str = "geocentric", coordinate_system: str = "ecliptic",
                       observer: tuple[float, float, float] | None = None) -> Options:
        """As `tarvex.apparent`: of date, with the engine's apparent expansion."""
        return cls(origin, coordinate_system, "of_date", apparent=True, observer=observer)

    def build(self) -> tarvex.PositionOptions:
        observer = tarvex.GeodeticObserver(*self.observer) if self.observer is not None else None
        return tarvex.PositionOptions(self.origin, self.coordinate_system, self.reference_epoch, self.apparent,
                                      self.true_ecliptic, self.light_time, self.aberration,
                                      self.gravitational_deflection, self.precession, self.nutation, observer)


# ------------------------------------------------------------------ on the worker

_local = threading.local()
_opened = 0
_opened_lock = threading.Lock()


def _engines() -> dict[Kernels, tarvex.Engine]:
    if not hasattr(_local, "engines"):
        _local.engines = {}
    return _local.engines


def engine_for(kernels: Kernels) -> tarvex.Engine:
    """This thread's engine for `kernels`, opened on first use.

    A failure to open (missing file, bad checksum) raises the engine's own
    ValueError, which Dask hands back to the client unchanged. Dask keeps
    that traceback and lets it go on another thread, so no frame on its
    path may refer to an engine: this one holds neither the thread's dict
    of engines nor a half-opened engine while `open` runs.
    """
    global _opened
    engine = _engines().get(kernels)
    if engine is None:
        engine = kernels.open()
        _engines()[kernels] = engine
        with _opened_lock:
            _opened += 1
    return engine


def engines_opened() -> int:
    """How many engines this process has opened (for Client.run)."""
    return _opened


def positions_block(kernels: Kernels, bodies: tuple[str, ...], julian_days: np.ndarray,
                    time_scales: np.ndarray | str, options: Options) -> np.ndarray:
    """One chunk: `Engine.positions` on this thread's engine."""
    if isinstance(time_scales, str):
        instants = [tarvex.Instant(day, time_scales) for day in julian_days.tolist()]
    else:
        instants = [tarvex.Instant(day, scale) for day, scale in zip(julian_days.tolist(), time_scales.tolist())]
    return engine_for(kernels).positions(list(bodies), instants, options.build())


# ------------------------------------------------------------------ the toolkit path, on the worker

# One store per worker process. A Store serves one call at a time and runs
# each call on all the cores it may use, so the tasks of a process take turns
# on it instead of opening a store per thread.
_stores: dict[Kernels, object] = {}
_stores_lock = threading.Lock()


def store_for(kernels: Kernels):
    """This process's tarvexkit store for `kernels`, opened on first use.
    Call with `_stores_lock` held."""
    store = _stores.get(kernels)
    if store is None:
        from tarvexkit._native import Store

        files = [kernels.kernel, *kernels.additional]
        store = Store(files, kernels.leap_seconds, kernels.eop)
        _stores[kernels] = store
    return store


def stores_opened() -> int:
    """How many toolkit stores this process has opened (for Client.run)."""
    return len(_stores)


def kit_positions_block(julian_days: np.ndarray, kernels: Kernels, bodies: tuple[str, ...], scale: str,
                        options: Options, threads: int | None) -> np.ndarray:
    """One chunk: `Store.positions` on this process's store."""
    with _stores_lock:
        return store_for(kernels).positions(list(bodies), julian_days, scale, options.build(), threads=threads)


# ------------------------------------------------------------------ on the client

@dataclass
class Request:
    """Instants as plain arrays: Julian days and one time scale for all of
    them or one per instant."""

    julian_days: np.ndarray
    time_scales: np.ndarray | str = "tdb"
    chunk_instants: int = 10_000
    chunk_bodies: int | None = None  # all bodies in one chunk by default

    @classmethod
    def from_instants(cls, instants: Sequence[tarvex.Instant], **kwargs) -> Request:
        scales = {instant.time_scale for instant in instants}
        days = np.array([instant.julian_day for instant in instants], dtype=np.float64)
        if len(scales) <= 1:
            return cls(days, scales.pop() if scales else "tdb", **kwargs)
        return cls(days, np.array([instant.time_scale for instant in instants]), **kwargs)


def positions_array(kernels: Kernels, bodies: Sequence[str], request: Request, options: Options) -> da.Array:
    """The request as a lazy Dask array of shape (instants, bodies, 4),
    float64, one task per (instant chunk, body chunk). `.compute()` gives
    the same values as `Engine.positions` on the whole request."""
    days = np.asarray(request.julian_days, dtype=np.float64)
    bodies = tuple(bodies)
    step_i = max(1, request.chunk_instants)
    step_b = max(1, request.chunk_bodies or len(bodies) or 1)
    rows = []
    for i in range(0, max(len(days), 1), step_i):
        part = days[i:i + step_i]
        scales = request.time_scales if isinstance(request.time_scales, str) else request.time_scales[i:i + step_i]
        row = []
        for j in range(0, max(len(bodies), 1), step_b):
            group = bodies[j:j + step_b]
            block = dask.delayed(positions_block, pure=True)(kernels, group, part, scales, options)
            row.append(da.from_delayed(block, shape=(len(part), len(group), 4), dtype=np.float64))
        rows.append(row)
    return da.block([[[block] for block in row] for row in rows])


def positions(kernels: Kernels, bodies: Sequence[str], request: Request, options: Options,
              **compute_kwargs) -> np.ndarray:
    """Compute on the current Dask scheduler (a distributed Client if one is
    active, or as `compute_kwargs` say) and gather into one NumPy array."""
    array = positions_array(kernels, bodies, request, options).compute(**compute_kwargs)
    return np.ascontiguousarray(array)


def kit_positions_array(kernels: Kernels, bodies: Sequence[str], julian_days, scale: str, options: Options,
                        chunk_instants: int = 100_000, threads: int | None = None) -> da.Array:
    """The toolkit path as a lazy Dask array of shape (instants, bodies, 4):
    `julian_days` is a NumPy array (split into chunks of `chunk_instants`) or
    a Dask array (its own chunks), all in one time `scale`. Each chunk runs
    on `threads` worker threads of its process (default: all its cores)."""
    if not isinstance(julian_days, da.Array):
        julian_days = da.from_array(np.asarray(julian_days, dtype=np.float64), chunks=max(1, chunk_instants))
    bodies = tuple(bodies)
    return da.map_blocks(kit_positions_block, julian_days.astype(np.float64), kernels, bodies, scale, options,
                         threads, new_axis=[1, 2], chunks=(julian_days.chunks[0], (len(bodies),), (4,)),
                         dtype=np.float64, meta=np.empty((0, 0, 0), dtype=np.float64))


def kit_positions(kernels: Kernels, bodies: Sequence[str], julian_days, scale: str, options: Options,
                  chunk_instants: int = 100_000, threads: int | None = None, **compute_kwargs) -> np.ndarray:
    """Compute the toolkit path and gather into one NumPy array, equal bit
    for bit to `Engine.positions` on the whole request."""
    array = kit_positions_array(kernels, bodies, julian_days, scale, options, chunk_instants, threads)
    return np.ascontiguousarray(array.compute(**compute_kwargs))


# ------------------------------------------------------------------ demo

CHECKSUMS = {
    "de405s.bsp": "cf6891c44de2e58a73fdd2e1e0fc865f517246deed4198774e627684e4aa8e9b",
    "planet_centers_1997_2010.bsp": "e81041b8db10255109726930c6affe2ebc7d952257b445f8521d09ae6c21c3bf",
    "naif0012.tls": "678e32bdb5a744117a467cd9601cd6b373f0e9bc9bbde1371d5eee39600a039b",
    "eop_c04_1962_2022.txt": "02918d2ba8f92b17fffcb6a1b8928d0df550ecab3e483a4b3c12039721e6a99e",
}
BODIES = ["sun", "moon", "mercury", "venus", "mars", "jupiter", "saturn", "uranus", "neptune", "pluto"]


def sample_kernels(data: str) -> Kernels:
    """The shared sample files, as absolute paths (workers may start elsewhere)."""
    def entry(name):
        return os.path.abspath(os.path.join(data, name)), CHECKSUMS[name]

    return Kernels(entry("de405s.bsp"), entry("naif0012.tls"), entry("eop_c04_1962_2022.txt"),
                   (entry("planet_centers_1997_2010.bsp"),))


def default_kernels() -> Kernels:
    """The files of `tarvexkit.load()` (pip install tarvex[data]): JPL DE421
    of skyfield-data with Jupiter..Pluto on their centres, the NAIF
    leap-second kernel and the IERS C04 table of astropy-iers-data, with
    their SHA-256 computed here."""
    from tarvexkit import data

    def entry(path: object) -> tuple[str, str]:
        text = os.path.abspath(str(path))
        return text, data.sha256_of(text)

    return Kernels(entry(data.default_kernel()), entry(data.LEAP_SECOND_KERNEL),
                   entry(data.default_iers_files()[0]), (entry(data.PLANET_CENTERS_KERNEL),))


def main(argv: list[str] | None = None) -> int:
    from distributed import Client, LocalCluster

    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--data", default=os.path.join(os.path.dirname(__file__), "..", "..", "shared", "data"))
    parser.add_argument("--scheduler", help="address of a running Dask scheduler (default: a LocalCluster)")
    parser.add_argument("--workers", type=int, default=2, help="LocalCluster worker processes")
    parser.add_argument("--instants", type=int, default=100_000)
    parser.add_argument("--chunk", type=int, default=10_000, help="instants per task")
    parser.add_argument("--toolkit", action="store_true",
                        help="one tarvexkit store per worker process, fed the array of Julian days")
    args = parser.parse_args(argv)

    kernels = sample_kernels(args.data)
    request = Request(np.linspace(2450500.25, 2455100.75, args.instants), "tt", chunk_instants=args.chunk)
    options = Options.apparent_place()
    if args.scheduler:
        client = Client(args.scheduler)
        client.upload_file(os.path.abspath(__file__))
    else:
        cluster = LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,
                               dashboard_address=":0")
        client = Client(cluster)
    with client:
        print(f"{client}")
        started = time.perf_counter()
        if args.toolkit:
            array = kit_positions(kernels, BODIES, request.julian_days, request.time_scales, options,
                                  chunk_instants=args.chunk)
        else:
            array = positions(kernels, BODIES, request, options)
        elapsed = time.perf_counter() - started
        print(f"{array.shape} {array.dtype} in {elapsed:.2f} s on the cluster "
              f"({array.shape[0] * array.shape[1] / elapsed / 1e6:.2f} million positions/s)")
        print(f"first instant, Sun λ {array[0, 0, 0]:.6f}°, Moon λ {array[0, 1, 0]:.6f}°")
        if not args.scheduler:
            client.cluster.close()
    return 0


if __name__ == "__main__":
    # Run as a script, this file is __main__, and its functions would travel
    # to the workers by value, each with a fresh copy of the per-thread engine
    # cache. Importing it under its own name makes them travel by reference;
    # the workers import the module (spawned local workers inherit sys.path).
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    import dask_batch

    sys.exit(dask_batch.main())
