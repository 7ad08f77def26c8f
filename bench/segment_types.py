"""Time per state of each SPK segment type: tarvexkit against CSPICE
(spiceypy) and ANISE, on the same kernels and epochs.

Every side computes the geometric state of the body relative to the
solar-system barycentre in J2000, the whole centre chain included (for the
small-body kernels, the Sun or the Earth from de405s.bsp, Type 2):
tarvexkit through one `positions` batch (barycentric, equatorial: the
spherical form adds a few tens of ns), CSPICE through `spkgeo` and ANISE
through `Almanac.translate`, each called once per state from Python, so
their times include the interpreter's call overhead (about 1 us).

    python bench/segment_types.py --data ../shared/data [--states 2000] [--out bench/segment_types.md]
"""

from __future__ import annotations

import argparse
import importlib.util
import statistics
import sys
import tempfile
import time
from pathlib import Path

import numpy as np

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent


def load_writers():
    found = importlib.util.spec_from_file_location("spice_segments", ROOT / "tests/reference/spice_segments.py")
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def cases(data: Path, written: dict[str, str]):
    """(type, kernels, target, first, last) per segment type."""
    de405s = str(data / "de405s.bsp")
    t0 = 1.0e8
    day = 86400.0
    out = [
        (1, [str(data / "allspk_littleendian.bsp")], -82, 4.1505e8, 4.1516e8),
        (2, [de405s], 4, -9.0e7, 3.0e8),
        (3, [str(data / "mar022-1.bsp")], 401, -8.91e8, -8.61e8),
    ]
    small = {5: 2000001, 8: 2000002, 9: 2000003, 12: 2000004, 13: 2000005, 15: 2000006,
             17: 2000007, 18: 2000008, 20: 2000009, 21: 2000010}
    spans = {15: (t0 + 10, t0 + 3 * day - 10), 17: (t0 + 10, t0 + 5 * day - 10),
             20: ((1157 + 0.25) * day + 10, (1157 + 0.25) * day + 300 * day),
             21: (2.5e8 + day, 2.5e8 + 250 * day)}
    for kind, target in small.items():
        first, last = spans.get(kind, (t0 + 20 * day, t0 + 1400 * day))
        out.append((kind, [de405s, written[f"spk_type{kind:02d}.bsp"]], target, first, last))
    return out


def fmt(value: float | str) -> str:
    return f"{value * 1e9:.0f} ns" if isinstance(value, float) else f"not read ({value})"


def best_of(fn, repeat: int) -> float:
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        fn()
        times.append(time.perf_counter() - start)
    return min(times)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--data", required=True, type=Path)
    parser.add_argument("--states", type=int, default=2000)
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--out", type=Path, default=HERE / "segment_types.md")
    args = parser.parse_args()

    import spiceypy
    import tarvex
    import tarvexkit
    from anise import Almanac
    from anise.astro import Frame
    from anise.time import Epoch

    writers = load_writers()
    rows = []
    with tempfile.TemporaryDirectory() as tmp:
        written = writers.write_toolkit_kernels(tmp)
        options = tarvex.geometric("barycentric", "equatorial")
        rng = np.random.default_rng(26)
        for kind, kernels, target, first, last in cases(args.data, written):
            seconds = np.sort(rng.uniform(first, last, args.states))
            days = 2451545.0 + seconds / 86400.0
            eph = tarvexkit.open(kernels[0], additional_kernels=kernels[1:],
                                 leap_seconds=args.data / "naif0012.tls")
            eph.positions([target], days[:10], options, scale="tdb", threads=1)
            ours = best_of(lambda: eph.positions([target], days, options, scale="tdb", threads=1),
                           args.repeat) / len(days)

            spiceypy.kclear()
            for k in kernels:
                spiceypy.furnsh(k)
            spkgeo = spiceypy.spkgeo
            cspice = best_of(lambda: [spkgeo(target, et, "J2000", 0) for et in seconds], args.repeat) / len(days)
            spiceypy.kclear()

            try:
                almanac = Almanac(kernels[0])
                for k in kernels[1:]:
                    almanac = almanac.load(k)
                epochs = [Epoch.init_from_tdb_seconds(float(s)) for s in seconds]
                body, ssb = Frame(target, 1), Frame(0, 1)
                anise: float | str = best_of(
                    lambda: [almanac.translate(body, ssb, e, None) for e in epochs], args.repeat) / len(days)
            except Exception as error:  # noqa: BLE001 - ANISE refuses some files; the table says so
                anise = str(error).split(":")[-1].strip() or type(error).__name__
            rows.append((kind, target, ours, cspice, anise))
            print(f"Type {kind:2d}: tarvexkit {ours * 1e9:8.0f} ns, CSPICE {cspice * 1e9:8.0f} ns, "
                  f"ANISE {fmt(anise)} per state", flush=True)

    lines = [
        "# Time per state of each SPK segment type",
        "",
        f"`python bench/segment_types.py --data ../shared/data --states {args.states}`; best of {args.repeat} "
        "runs, one thread. Geometric state of the body about the solar-system barycentre in J2000, "
        "centre chain included. tarvexkit: one `positions` batch; CSPICE (`spkgeo`) and ANISE "
        "(`Almanac.translate`): one Python call per state, so their times include about 1 us of call overhead.",
        "",
        "| type | body (NAIF id) | tarvexkit | CSPICE | ANISE | CSPICE / tarvexkit | ANISE / tarvexkit |",
        "|---|---|---|---|---|---|---|",
    ]
    for kind, target, ours, cspice, anise in rows:
        ratio = f"{anise / ours:.1f}" if isinstance(anise, float) else "-"
        lines.append(f"| {kind} | {target} | {ours * 1e9:.0f} ns | {cspice * 1e9:.0f} ns | {fmt(anise)} "
                     f"| {cspice / ours:.1f} | {ratio} |")
    args.out.write_text("\n".join(lines) + "\n")
    print(f"wrote {args.out}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
