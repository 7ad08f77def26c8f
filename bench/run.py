"""Benchmarks of tarvex against the reference libraries, measured in one run.

Each workload gives tarvex and its reference (Skyfield, jplephem) the same
job on the same instants. The machine these run on is shared and noisy, so
the two sides are timed in alternating repetitions and every repetition
yields its own ratio; the table reports median times, the median ratio and
the spread (min..max) of the per-repetition ratios.

    python bench/run.py --data ../shared/data [--repeat 9] [--quick]
                        [--only 1,3] [--out bench/results.md]

tarvex is imported normally; set PYTHONPATH to a build directory to measure
a build that is not installed.
"""

from __future__ import annotations

import argparse
import datetime
import json
import os
import platform
import statistics
import subprocess
import sys
import time
from pathlib import Path

# OpenBLAS, loaded with NumPy, parks spinning worker threads; on a small
# shared machine they compete with the measured code on both sides.
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import numpy as np  # noqa: E402

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent

KERNEL = "de405s.bsp"
KERNEL_SHA = "cf6891c44de2e58a73fdd2e1e0fc865f517246deed4198774e627684e4aa8e9b"
CENTERS = "planet_centers_1997_2010.bsp"
CENTERS_SHA = "e81041b8db10255109726930c6affe2ebc7d952257b445f8521d09ae6c21c3bf"
LSK = "naif0012.tls"
LSK_SHA = "678e32bdb5a744117a467cd9601cd6b373f0e9bc9bbde1371d5eee39600a039b"
EOP = "eop_c04_1962_2022.txt"
EOP_SHA = "02918d2ba8f92b17fffcb6a1b8928d0df550ecab3e483a4b3c12039721e6a99e"

BODIES = ["sun", "moon", "mercury", "venus", "earth", "mars",
          "jupiter", "saturn", "uranus", "neptune", "pluto"]
# Skyfield's names for the same targets in de405s.bsp. The outer planets are
# their system barycenters there; tarvex reaches them through the attached
# planet-center kernel (a zero offset), i.e. one chain link more.
SKYFIELD_NAMES = {
    "sun": "sun", "moon": "moon", "mercury": "mercury", "venus": "venus",
    "earth": "earth", "mars": "mars", "jupiter": "jupiter barycenter",
    "saturn": "saturn barycenter", "uranus": "uranus barycenter",
    "neptune": "neptune barycenter", "pluto": "pluto barycenter",
}

# Instants stay well inside the kernel (JD 2450449.5 .. 2455198.5 TDB) so that
# light-time retarded epochs are covered too.
FIRST_JD = 2450450.5
LAST_JD = 2455197.5

# The chart row's target: 2.5 times the ratio against Skyfield that the code
# before the shared pipeline (commit 808260f) reached on this workload.
CHART_BEFORE_RATIO = 221.1
CHART_TARGET = round(2.5 * CHART_BEFORE_RATIO, 1)



# --------------------------------------------------------------------------
# Timing


def clock(fn) -> tuple[float, float]:
    """(wall seconds, CPU seconds of this process) for one call of fn."""
    wall, cpu = time.perf_counter(), time.process_time()
    fn()
    return time.perf_counter() - wall, time.process_time() - cpu


class Comparison:
    """Alternating repetitions of a tarvex side and a reference side.

    `prepare_*` builds fresh inputs outside the timed region (Skyfield caches
    results on its Time objects, so each repetition gets new ones). Times are
    normalised by `*_units` (calls or positions) to give per-unit figures.
    """

    def __init__(self, number, title, ours, ref, *, ours_units, ref_units, unit, target,
                 note="", prepare_ours=None, prepare_ref=None):
        self.number = number
        self.title = title
        self.ours = ours
        self.ref = ref
        self.ours_units = ours_units
        self.ref_units = ref_units
        self.unit = unit
        self.target = target
        self.note = note
        self.prepare_ours = prepare_ours or (lambda: None)
        self.prepare_ref = prepare_ref or (lambda: None)

    def run(self, repeat: int) -> dict:
        # One untimed round each: NumPy's C API import, kernel caches, page faults.
        self.ours(self.prepare_ours())
        self.ref(self.prepare_ref())
        ours_t, ref_t, ratios, ours_cpu, ref_cpu, cpu_ratios = [], [], [], [], [], []
        for _ in range(repeat):
            a = self.prepare_ours()
            o, oc = clock(lambda: self.ours(a))
            b = self.prepare_ref()
            r, rc = clock(lambda: self.ref(b))
            ours_t.append(o / self.ours_units)
            ref_t.append(r / self.ref_units)
            ratios.append(ref_t[-1] / ours_t[-1])
            ours_cpu.append(oc / self.ours_units)
            ref_cpu.append(rc / self.ref_units)
            cpu_ratios.append(ref_cpu[-1] / ours_cpu[-1] if ours_cpu[-1] > 0 else float("inf"))
        return {
            "number": self.number, "title": self.title, "unit": self.unit,
            "ours": ours_t, "ref": ref_t, "ratios": ratios,
            "ours_cpu": ours_cpu, "ref_cpu": ref_cpu, "cpu_ratios": cpu_ratios,
            "target": self.target, "note": self.note,
        }


# --------------------------------------------------------------------------
# Workloads


class Bench:
    def __init__(self, data: Path, quick: bool):
        import tarvex

        self.tarvex = tarvex
        self.data = data
        self.quick = quick
        self.engine = open_engine(tarvex, data)

        from skyfield.api import load, load_file

        self.ts = load.timescale(builtin=True)
        self.eph = load_file(str(data / KERNEL))

    def jds(self, n: int) -> np.ndarray:
        return np.linspace(FIRST_JD, LAST_JD, n)

    def instants(self, jds, scale: str):
        make = getattr(self.tarvex.Instant, scale)
        return [make(float(jd)) for jd in jds]

    # 1 ------------------------------------------------------------------
    def scalar_apparent(self) -> Comparison:
        n_ours = 2_000 if self.quick else 10_000
        n_ref = 50 if self.quick else 200
        jds = self.jds(n_ours)
        ref_jds = jds[:: n_ours // n_ref][:n_ref]
        instants = self.instants(jds, "tt")
        options = self.tarvex.apparent()
        engine = self.engine
        earth, mars = self.eph["earth"], self.eph["mars"]
        ts = self.ts

        def ours(_):
            position = engine.position
            for instant in instants:
                position("mars", instant, options)

        def ref(times):
            for t in times:
                earth.at(t).observe(mars).apparent().ecliptic_latlon(epoch="date")

        return Comparison(
            1, "Scalar apparent ecliptic-of-date Mars, geocentric", ours, ref,
            ours_units=n_ours, ref_units=n_ref, unit="per call", target=300,
            note=f"tarvex {n_ours:,} calls, Skyfield {n_ref} calls (per-call medians compared); "
                 "Skyfield `earth.at(t).observe(mars).apparent().ecliptic_latlon(epoch='date')`",
            prepare_ref=lambda: [ts.tt_jd(float(jd)) for jd in ref_jds],
        )

    # 2 ------------------------------------------------------------------
    def scalar_geometric(self) -> Comparison:
        n_ours = 2_000 if self.quick else 10_000
        n_ref = 200 if self.quick else 1_000
        jds = self.jds(n_ours)
        ref_jds = jds[:: n_ours // n_ref][:n_ref]
        instants = self.instants(jds, "tt")
        options = self.tarvex.geometric("geocentric", "equatorial")
        engine = self.engine
        earth, mars = self.eph["earth"], self.eph["mars"]
        ts = self.ts

        def ours(_):
            position = engine.position
            for instant in instants:
                position("mars", instant, options)

        def ref(times):
            for t in times:
                mars.at(t) - earth.at(t)

        return Comparison(
            2, "Scalar geometric J2000 Mars, geocentric", ours, ref,
            ours_units=n_ours, ref_units=n_ref, unit="per call", target=400,
            note=f"tarvex {n_ours:,} calls (equatorial lon/lat/dist/speed), Skyfield {n_ref:,} calls "
                 "of `mars.at(t) - earth.at(t)` (a Cartesian vector, no spherical conversion)",
            prepare_ref=lambda: [ts.tt_jd(float(jd)) for jd in ref_jds],
        )

    # 3 ------------------------------------------------------------------
    def batch_geometric(self) -> Comparison:
        n = 20_000 if self.quick else 100_000
        jds = self.jds(n)
        instants = self.instants(jds, "tdb")
        options = self.tarvex.geometric("barycentric", "equatorial")
        engine = self.engine
        targets = [self.eph[SKYFIELD_NAMES[b]] for b in BODIES]
        ts = self.ts

        def ours(_):
            engine.positions(BODIES, instants, options)

        def ref(t):
            for target in targets:
                target.at(t).radec()

        return Comparison(
            3, f"Batch geometric J2000, 11 bodies x {n:,} instants, barycentric", ours, ref,
            ours_units=n * len(BODIES), ref_units=n * len(BODIES), unit="per position", target=6.5,
            note="tarvex `positions(11 bodies, instants, geometric('barycentric', 'equatorial'))` -> "
                 "(N, 11, 4) array; Skyfield per body `eph[body].at(t).radec()` vectorised over the "
                 "same N TDB instants (state vector plus RA/Dec/distance; no longitude rate)",
            prepare_ref=lambda: ts.tdb_jd(jds),
        )

    # 4 ------------------------------------------------------------------
    def batch_apparent(self) -> Comparison:
        n = 2_000 if self.quick else 10_000
        bodies = [b for b in BODIES if b != "earth"]
        jds = self.jds(n)
        instants = self.instants(jds, "tt")
        options = self.tarvex.apparent()
        engine = self.engine
        earth = self.eph["earth"]
        targets = [self.eph[SKYFIELD_NAMES[b]] for b in bodies]
        ts = self.ts

        def ours(_):
            engine.positions(bodies, instants, options)

        def ref(t):
            observer = earth.at(t)
            for target in targets:
                observer.observe(target).apparent().ecliptic_latlon(epoch="date")

        return Comparison(
            4, f"Batch apparent ecliptic of date, 10 bodies x {n:,} instants, geocentric", ours, ref,
            ours_units=n * len(bodies), ref_units=n * len(bodies), unit="per position", target=11,
            note="geocentric, so the Earth itself is left out (10 bodies); Skyfield "
                 "`earth.at(t)` once, then per body `.observe(b).apparent().ecliptic_latlon(epoch='date')` "
                 "vectorised over the same N TT instants",
            prepare_ref=lambda: ts.tt_jd(jds),
        )

    # 8 ------------------------------------------------------------------
    def chart(self) -> Comparison:
        n_ours = 200 if self.quick else 1_000
        n_ref = 5 if self.quick else 20
        jds = self.jds(n_ours)
        ref_jds = jds[:: n_ours // n_ref][:n_ref]
        instants = self.instants(jds, "tt")
        bodies = [b for b in BODIES if b != "earth"]
        tarvex = self.tarvex
        options = tarvex.apparent()
        placidus = tarvex.HouseSystem.placidus()
        site = tarvex.GeodeticObserver(-0.1275, 51.5072, 11.0)
        engine = self.engine
        earth = self.eph["earth"]
        targets = [self.eph[SKYFIELD_NAMES[b]] for b in bodies]
        ts = self.ts

        def ours(_):
            position = engine.position
            house_cusps = tarvex.house_cusps
            for instant in instants:
                for body in bodies:
                    position(body, instant, options)
                # TT stands in for UT1 here: the cost is the same.
                house_cusps(site, instant.julian_day, instant.julian_day, placidus)

        def ref(times):
            for t in times:
                observer = earth.at(t)
                for target in targets:
                    observer.observe(target).apparent().ecliptic_latlon(epoch="date")
                t.gast

        return Comparison(
            8, "Chart: ten apparent places at one instant plus house cusps, scalar calls", ours, ref,
            ours_units=n_ours, ref_units=n_ref, unit="per chart", target=CHART_TARGET,
            note=f"tarvex {n_ours:,} charts, each ten `position(body, instant, apparent())` calls and "
                 f"`house_cusps(site, jd, jd, placidus)` at its own instant; Skyfield {n_ref} charts, each "
                 "`earth.at(t)` once, ten `.observe(b).apparent().ecliptic_latlon(epoch='date')` and `t.gast` "
                 "(Skyfield has no house cusps; the sidereal time is their input). Target: 2.5 times the "
                 f"ratio of the code before the shared pipeline ({CHART_BEFORE_RATIO}x in the same setting)",
            prepare_ref=lambda: [ts.tt_jd(float(jd)) for jd in ref_jds],
        )

    # 5 ------------------------------------------------------------------
    def raw_sun(self) -> Comparison:
        from jplephem.spk import SPK

        n = 200_000 if self.quick else 1_000_000
        jds = self.jds(n)
        instants = self.instants(jds, "tdb")
        options = self.tarvex.geometric("barycentric", "equatorial")
        engine = self.engine
        kernel = SPK.open(str(self.data / KERNEL))
        segment = kernel[0, 10]

        def ours(_):
            engine.positions(["sun"], instants, options)

        def ref(_):
            segment.compute_and_differentiate(jds)

        return Comparison(
            5, f"Raw barycentric Sun (segment 10 relative to 0), {n:,} epochs", ours, ref,
            ours_units=n, ref_units=n, unit="per epoch", target=3,
            note="tarvex `positions(['sun'], instants, geometric('barycentric', 'equatorial'))` "
                 "(state plus spherical conversion); jplephem `kernel[0,10].compute_and_differentiate(jd)` "
                 "vectorised (Cartesian position and velocity only)",
        )

    # 6 ------------------------------------------------------------------
    def events(self) -> Comparison | str:
        engine = self.engine
        if not hasattr(engine, "next_season_event") or not hasattr(engine, "next_lunation"):
            return "the Engine event methods (next_season_event, next_lunation) are not available yet"
        from skyfield import almanac

        tarvex = self.tarvex
        ts = self.ts
        eph = self.eph
        start_jd = 2450450.5  # 1997-01-02, inside the kernel with light time
        end_jd = 2455197.45   # 2009-12-31 22:48, past the last full Moon of 2009
        found = {}

        def collect(method, kinds):
            events = []
            for kind in kinds:
                after = tarvex.Instant.tt(start_jd)
                while True:
                    try:
                        event = method(after, kind)
                    except ValueError:
                        # The search ran past the kernel's end: no later event.
                        if after.julian_day < end_jd - 400.0:
                            raise
                        break
                    if event.julian_day > end_jd:
                        break
                    events.append((event.julian_day, kind))
                    after = tarvex.Instant.tt(event.julian_day + 1.0)
            return events

        def ours(_):
            found["ours_seasons"] = collect(
                engine.next_season_event,
                ["march_equinox", "june_solstice", "september_equinox", "december_solstice"])
            found["ours_lunations"] = collect(engine.next_lunation, ["new_moon", "full_moon"])

        def ref(_):
            t0, t1 = ts.tt_jd(start_jd), ts.tt_jd(end_jd)
            times, _ = almanac.find_discrete(t0, t1, almanac.seasons(eph))
            found["ref_seasons"] = times.tt
            times, phases = almanac.find_discrete(t0, t1, almanac.moon_phases(eph))
            found["ref_lunations"] = times.tt[(phases == 0) | (phases == 2)]

        comparison = Comparison(
            6, "Events 1997-2009: equinoxes, solstices, new and full Moons", ours, ref,
            ours_units=1, ref_units=1, unit="whole set", target=20, note="")

        def describe():
            ours_s = sorted(jd for jd, _ in found["ours_seasons"])
            ours_l = sorted(jd for jd, _ in found["ours_lunations"])
            ref_s, ref_l = np.sort(found["ref_seasons"]), np.sort(found["ref_lunations"])
            parts = [f"tarvex {len(ours_s)} seasons + {len(ours_l)} lunations, "
                     f"Skyfield {len(ref_s)} + {len(ref_l)}"]
            if len(ours_s) == len(ref_s) and len(ours_l) == len(ref_l):
                worst = max(np.max(np.abs(np.array(ours_s) - ref_s), initial=0.0),
                            np.max(np.abs(np.array(ours_l) - ref_l), initial=0.0)) * 86400.0
                parts.append(f"largest difference between the two {worst * 1000:.1f} ms")
            parts.append("Skyfield `almanac.find_discrete` with `seasons` and `moon_phases` "
                         "(all four phases searched, new and full kept); tarvex repeated "
                         "`next_season_event`/`next_lunation` calls")
            return "; ".join(parts)

        comparison.describe = describe
        return comparison

    # 9-12 ----------------------------------------------------------------
    def kit_store(self):
        """The toolkit's store over the same files as the engine, opened once."""
        if not hasattr(self, "_kit_store"):
            from tarvexkit._native import Store

            self._kit_store = open_kit_store(Store, self.data)
        return self._kit_store

    def kit_batch(self, number: int, threads: int, apparent: bool) -> Comparison:
        tarvex = self.tarvex
        if apparent:
            n = 4_000 if self.quick else 20_000
            bodies, scale, options = [b for b in BODIES if b != "earth"], "tt", tarvex.apparent()
            kind = "apparent ecliptic of date, 10 bodies"
        else:
            n = 20_000 if self.quick else 100_000
            bodies, scale, options = BODIES, "tdb", tarvex.geometric("barycentric", "equatorial")
            kind = "geometric J2000 barycentric, 11 bodies"
        jds = self.jds(n)
        instants = self.instants(jds, scale)
        store, engine = self.kit_store(), self.engine
        same = store.positions(bodies, jds, scale, options, threads=threads).tobytes() == (
            engine.positions(bodies, instants, options).tobytes())
        if not same:
            raise RuntimeError(f"workload {number}: the toolkit batch differs from the strict batch")

        def ours(_):
            store.positions(bodies, jds, scale, options, threads=threads)

        def ref(_):
            engine.positions(bodies, instants, options)

        workers = f"{threads} worker thread" + ("s" if threads > 1 else "")
        return Comparison(
            number, f"tarvexkit batch on {workers} vs tarvex batch: {kind} x {n:,} instants", ours, ref,
            ours_units=n * len(bodies), ref_units=n * len(bodies), unit="per position",
            target=1.8 if threads > 1 else 1.0,
            note=f"reference here is the strict `Engine.positions` on prebuilt Instant objects (their "
                 f"construction not timed); tarvexkit `Store.positions(bodies, julian_days, '{scale}', "
                 f"options, threads={threads})` on the NumPy array of the same days, results equal bit for "
                 "bit (checked before timing). CPU ratio: the toolkit's CPU time is summed over its threads, "
                 "so the wall ratio is the speed-up",
        )

    # 13-14 ---------------------------------------------------------------
    def kit_ephemeris(self):
        """The toolkit's Ephemeris over the same files, opened once."""
        if not hasattr(self, "_kit_ephemeris"):
            import tarvexkit

            self._kit_ephemeris = tarvexkit.open(
                self.data / KERNEL, additional_kernels=[self.data / CENTERS],
                leap_seconds=self.data / LSK, eop=self.data / EOP)
        return self._kit_ephemeris

    def kit_utc(self) -> Comparison:
        n = 20_000 if self.quick else 100_000
        eph, ts = self.kit_ephemeris(), self.ts
        if eph.utc(2026, 3, 20, 14, 30).tt != ts.utc(2026, 3, 20, 14, 30).tt:
            raise RuntimeError("workload 13: eph.utc and ts.utc name different instants")

        def ours(_):
            utc = eph.utc
            for _ in range(n):
                utc(2026, 3, 20, 14, 30)

        def ref(_):
            utc = ts.utc
            for _ in range(n):
                utc(2026, 3, 20, 14, 30)

        return Comparison(
            13, "tarvexkit eph.utc for one instant vs Skyfield ts.utc", ours, ref,
            ours_units=n, ref_units=n, unit="per call", target=1.0,
            note="`eph.utc(2026, 3, 20, 14, 30)` against `ts.utc(2026, 3, 20, 14, 30)`, the same TT "
                 "(checked before timing); both give a time object of one instant. Target: at least "
                 "Skyfield's speed (and 10 us a call)",
        )

    def kit_iso(self) -> Comparison:
        n = 20_000 if self.quick else 100_000
        eph, ts = self.kit_ephemeris(), self.ts
        ours_t, ref_t = eph.utc(2026, 3, 20, 14, 30, 15.25), ts.utc(2026, 3, 20, 14, 30, 15.25)
        if ours_t.iso() != ref_t.utc_iso():
            raise RuntimeError(f"workload 14: {ours_t.iso()} differs from {ref_t.utc_iso()}")

        def ours(_):
            iso = ours_t.iso
            for _ in range(n):
                iso()

        def ref(_):
            iso = ref_t.utc_iso
            for _ in range(n):
                iso()

        return Comparison(
            14, "tarvexkit Times.iso for one instant vs Skyfield utc_iso", ours, ref,
            ours_units=n, ref_units=n, unit="per call", target=1.0,
            note="`t.iso()` of `eph.utc(2026, 3, 20, 14, 30, 15.25)` against `t.utc_iso()` of Skyfield's "
                 "same instant, the same text (checked before timing). Target: at least Skyfield's speed "
                 "(and 10 us a call)",
        )


def open_kit_store(Store, data: Path):
    return Store([(str(data / KERNEL), KERNEL_SHA), (str(data / CENTERS), CENTERS_SHA)],
                 (str(data / LSK), LSK_SHA), (str(data / EOP), EOP_SHA))


def open_engine(tarvex, data: Path):
    engine = tarvex.open(str(data / KERNEL), KERNEL_SHA,
                         leap_second_kernel=str(data / LSK), leap_second_sha256=LSK_SHA,
                         eop=str(data / EOP), eop_sha256=EOP_SHA)
    engine.with_additional_kernel_file(str(data / CENTERS), CENTERS_SHA)
    return engine


# --------------------------------------------------------------------------
# Memory (workload 7), measured in child processes


def proc_status_kib(field: str) -> int:
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    raise RuntimeError(f"{field} missing from /proc/self/status")


def reset_peak() -> bool:
    """Resets VmHWM to the current RSS (Linux 4.0+); False if not allowed."""
    try:
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")
        return True
    except OSError:
        return False


def memory_child(mode: str, data: Path) -> dict:
    import tarvex

    mib = 1024 * 1024
    if mode in ("open", "open-all"):
        kernel_bytes = (data / KERNEL).stat().st_size
        before = proc_status_kib("VmRSS")
        resettable = reset_peak()
        if mode == "open":
            engine = tarvex.open(str(data / KERNEL), KERNEL_SHA)
            engine.supported_range
        else:
            engine = open_engine(tarvex, data)
        peak = proc_status_kib("VmHWM")
        after = proc_status_kib("VmRSS")
        return {"mode": mode, "before_kib": before, "peak_kib": peak, "after_kib": after,
                "kernel_bytes": kernel_bytes, "resettable": resettable}

    if mode == "kit-batch-apparent":
        from tarvexkit._native import Store

        store = open_kit_store(Store, data)
        bodies = [b for b in BODIES if b != "earth"]
        n = -(-100 * mib // (len(bodies) * 4 * 8))
        days = np.linspace(FIRST_JD, LAST_JD, n)
        # NumPy, caches, and the second worker's store (two slabs).
        store.positions(bodies, days[:5000], "tt", tarvex.apparent(), threads=2)
        before = proc_status_kib("VmRSS")
        resettable = reset_peak()
        result = store.positions(bodies, days, "tt", tarvex.apparent(), threads=2)
        peak = proc_status_kib("VmHWM")
        return {"mode": mode, "before_kib": before, "peak_kib": peak, "result_bytes": int(result.nbytes),
                "instants": n, "bodies": len(bodies), "resettable": resettable}

    engine = open_engine(tarvex, data)
    if mode == "batch-geometric":
        bodies, options, scale = BODIES, tarvex.geometric("barycentric", "equatorial"), "tdb"
    else:
        bodies, options, scale = [b for b in BODIES if b != "earth"], tarvex.apparent(), "tt"
    per_instant = len(bodies) * 4 * 8
    n = -(-100 * mib // per_instant)
    make = getattr(tarvex.Instant, scale)
    instants = [make(float(jd)) for jd in np.linspace(FIRST_JD, LAST_JD, n)]
    engine.positions(bodies, instants[:16], options)  # NumPy import, caches
    before = proc_status_kib("VmRSS")
    resettable = reset_peak()
    result = engine.positions(bodies, instants, options)
    peak = proc_status_kib("VmHWM")
    return {"mode": mode, "before_kib": before, "peak_kib": peak, "result_bytes": int(result.nbytes),
            "instants": n, "bodies": len(bodies), "resettable": resettable}


def run_memory(data: Path, repeat: int) -> list[dict]:
    rows = []
    for mode in ("open", "open-all", "batch-geometric", "batch-apparent", "kit-batch-apparent"):
        samples = []
        for _ in range(max(1, min(repeat, 3))):
            out = subprocess.run(
                [sys.executable, str(Path(__file__).resolve()), "--data", str(data), "--memory-child", mode],
                check=True, capture_output=True, text=True, env=os.environ.copy())
            samples.append(json.loads(out.stdout.strip().splitlines()[-1]))
        rows.append({"mode": mode, "samples": samples})
    return rows


# --------------------------------------------------------------------------
# Report


def fmt_time(seconds: float) -> str:
    if seconds >= 1.0:
        return f"{seconds:.3g} s"
    if seconds >= 1e-3:
        return f"{seconds * 1e3:.3g} ms"
    if seconds >= 1e-6:
        return f"{seconds * 1e6:.3g} µs"
    return f"{seconds * 1e9:.3g} ns"


def spread(values) -> str:
    return f"{min(values):.3g}..{max(values):.3g}"


def machine_conditions() -> list[str]:
    import jplephem
    import skyfield

    try:
        import erfa
        erfa_version = erfa.__version__
    except ImportError:
        erfa_version = "absent"
    cpu = "unknown"
    try:
        with open("/proc/cpuinfo") as info:
            for line in info:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    load = " ".join(f"{x:.2f}" for x in os.getloadavg())
    return [
        f"date {datetime.datetime.now().isoformat(timespec='minutes')}, {platform.node() or 'host'}: "
        f"{os.cpu_count()} CPUs ({cpu}), load average {load} at the start",
        f"Python {platform.python_version()}, NumPy {np.__version__}, Skyfield {skyfield.__version__}, "
        f"jplephem {jplephem.__version__}, pyerfa {erfa_version}",
    ]


def render(results, memory, skipped, conditions, command, repeat, load_end) -> str:
    lines = ["| # | workload | tarvex (wall) | reference (wall) | ratio wall: median (min..max) "
             "| ratio CPU: median (min..max) | target | met |",
             "|---|---|---|---|---|---|---|---|"]
    for r in results:
        ratio = statistics.median(r["ratios"])
        cpu_ratio = statistics.median(r["cpu_ratios"])
        met = "yes" if ratio >= r["target"] else ("CPU only" if cpu_ratio >= r["target"] else "**no**")
        lines.append(
            f"| {r['number']} | {r['title']} | {fmt_time(statistics.median(r['ours']))} {r['unit']} | "
            f"{fmt_time(statistics.median(r['ref']))} {r['unit']} | {ratio:,.1f}x ({spread(r['ratios'])}) | "
            f"{cpu_ratio:,.1f}x ({spread(r['cpu_ratios'])}) | >= {r['target']}x | {met} |")
    for number, title, why in skipped:
        lines.append(f"| {number} | {title} | skipped | | | | | {why} |")
    out = [
        "Benchmarks: tarvex against Skyfield and jplephem",
        "",
        f"Command: `{command}`",
        "",
    ]
    out += [f"- {c}" for c in conditions]
    out.append(f"- load average {load_end} at the end; {repeat} alternating repetitions per workload, "
               "ratio = reference time / tarvex time per repetition (higher is faster for tarvex); "
               "both sides run single-threaded in this process (OpenBLAS limited to one thread), so the "
               "CPU-time ratio is the same comparison with the other processes' share of the machine "
               "taken out, except in 9-12, where tarvexkit runs on worker threads and is compared with "
               "tarvex's own batch; 'met' judges the wall-clock median")
    out += ["", *lines, ""]
    notes = [f"{r['number']}. {r['note']}" for r in results if r["note"]]
    if notes:
        out += ["Notes:", "", *notes, ""]

    if memory:
        mib = 1024.0
        out += ["Memory (7), each in a fresh process, median of the samples; peak is VmHWM after "
                "resetting it just before the operation, minus VmRSS before it:", "",
                "| what | peak above baseline | reference size | peak / reference | target | met |",
                "|---|---|---|---|---|---|"]
        for row in memory:
            samples = row["samples"]
            growth = statistics.median(s["peak_kib"] - s["before_kib"] for s in samples)
            if row["mode"].startswith("open"):
                kernel_mib = samples[0]["kernel_bytes"] / 1048576
                beyond = growth / mib - kernel_mib
                what = ("open de405s.bsp" if row["mode"] == "open"
                        else "open de405s.bsp + planet centers + LSK + EOP table")
                if row["mode"] == "open":
                    target, met = "<= 2 MiB beyond", "yes" if beyond <= 2.0 else "**no**"
                else:
                    # The time kernels are text files read whole by design;
                    # the 4.9 MB EOP table dominates. Shown, not judged.
                    target, met = "(not judged)", "EOP text read whole"
                out.append(f"| {what} | {growth / mib:.2f} MiB | mapped kernel {kernel_mib:.2f} MiB | "
                           f"{beyond:+.2f} MiB beyond the file | {target} | {met} |")
            else:
                result_mib = samples[0]["result_bytes"] / 1048576
                factor = growth / mib / result_mib
                kind = {"batch-geometric": "batch geometric barycentric",
                        "batch-apparent": "batch apparent geocentric",
                        "kit-batch-apparent": "tarvexkit batch apparent geocentric on 2 threads"}[row["mode"]]
                what = f"{kind}, {samples[0]['bodies']} bodies x {samples[0]['instants']:,} instants"
                met = "yes" if factor <= 1.2 else "**no**"
                out.append(f"| {what} | {growth / mib:.1f} MiB | result {result_mib:.1f} MiB | "
                           f"{factor:.2f} | <= 1.2 | {met} |")
        if not all(s["resettable"] for row in memory for s in row["samples"]):
            out += ["", "(/proc/self/clear_refs was not writable: peaks include the process's earlier high water)"]
        out.append("")
    return "\n".join(out)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--data", default=str(ROOT.parent / "shared" / "data"))
    parser.add_argument("--repeat", type=int, default=9)
    parser.add_argument("--quick", action="store_true", help="smaller workloads, for a first look")
    parser.add_argument("--only", default="", help="comma-separated workload numbers (1-14)")
    parser.add_argument("--out", default=str(HERE / "results.md"))
    parser.add_argument("--memory-child", default=None, help=argparse.SUPPRESS)
    args = parser.parse_args()
    data = Path(args.data).resolve()

    if args.memory_child:
        print(json.dumps(memory_child(args.memory_child, data)))
        return 0

    only = {int(x) for x in args.only.split(",") if x.strip()}
    wanted = lambda k: not only or k in only  # noqa: E731
    conditions = machine_conditions()
    for c in conditions:
        print(c, flush=True)

    bench = Bench(data, args.quick)
    builders = [(1, bench.scalar_apparent), (2, bench.scalar_geometric), (3, bench.batch_geometric),
                (4, bench.batch_apparent), (5, bench.raw_sun), (6, bench.events), (8, bench.chart),
                (9, lambda: bench.kit_batch(9, 2, apparent=False)), (10, lambda: bench.kit_batch(10, 1, apparent=False)),
                (11, lambda: bench.kit_batch(11, 2, apparent=True)), (12, lambda: bench.kit_batch(12, 1, apparent=True)),
                (13, bench.kit_utc), (14, bench.kit_iso)]
    results, skipped = [], []
    for number, build in builders:
        if not wanted(number):
            continue
        comparison = build()
        if isinstance(comparison, str):
            skipped.append((number, "Events 1997-2009", comparison))
            print(f"[{number}] skipped: {comparison}", flush=True)
            continue
        print(f"[{number}] {comparison.title} ...", flush=True)
        result = comparison.run(args.repeat)
        if hasattr(comparison, "describe"):
            result["note"] = comparison.describe()
        results.append(result)
        print(f"    tarvex {fmt_time(statistics.median(result['ours']))} {result['unit']}, "
              f"reference {fmt_time(statistics.median(result['ref']))}, "
              f"ratio {statistics.median(result['ratios']):,.1f}x ({spread(result['ratios'])}), "
              f"CPU ratio {statistics.median(result['cpu_ratios']):,.1f}x", flush=True)

    memory = []
    if wanted(7):
        print("[7] memory ...", flush=True)
        memory = run_memory(data, args.repeat)

    # The data directory as the README names it when it is the one beside
    # the repository, so that the table carries no path of one machine.
    shown = [("../shared/data" if Path(a).resolve() == (ROOT.parent / "shared" / "data").resolve() else a)
             for a in sys.argv[1:]]
    command = "python bench/run.py " + " ".join(shown)
    if os.environ.get("PYTHONPATH"):
        command = f"PYTHONPATH={os.environ['PYTHONPATH']} {command}"
    load_end = " ".join(f"{x:.2f}" for x in os.getloadavg())
    table = render(results, memory, skipped, conditions, command, args.repeat, load_end)
    print()
    print(table)
    Path(args.out).write_text("# " + table + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
