#!/usr/bin/env python3
"""Writes the small SPK kernel that puts the centres of Jupiter..Pluto on
their system barycentres over the whole DE421 span.

DE421 gives Jupiter, Saturn, Uranus, Neptune and Pluto only as system
barycentres (NAIF 5..9). Every body name of the engine maps to a planet
centre (599, 699, 799, 899, 999), so without a link from centre to
barycentre the outer planets do not resolve. This kernel holds one Type 2
segment per planet with a zero offset: the planet is placed at its system
barycentre. The error this makes is the planet's offset from the
barycentre of its system as seen from the Earth: at most about 0.08"
for Jupiter (Callisto and Ganymede pull it some 230 km), 0.05" for
Saturn (Titan) and 0.1" for Pluto (2100 km from the Pluto-Charon
barycentre) at its closest, near the 1989 perihelion.

The file is written by src/tarvexkit/spk_writer.py (NAIF DAF/SPK layout,
Type 2), loaded from its file since the package is not importable yet. Each
segment is one Chebyshev record of two coefficients per axis, all zero,
spanning the whole interval.

Run at build time; the output is installed inside the tarvexkit package
and never committed.
"""

from __future__ import annotations

import argparse
import importlib.util
import io
import sys
from pathlib import Path
from types import ModuleType

import numpy as np

WRITER = Path(__file__).resolve().parents[1] / "src" / "tarvexkit" / "spk_writer.py"

# DE421's coverage in TDB seconds past J2000 (JD 2414864.5 to 2471184.5).
DE421_START_S = -3169195200.0
DE421_END_S = 1696852800.0

PLANETS = (
    (599, 5, "JUPITER CENTER AT BARYCENTER"),
    (699, 6, "SATURN CENTER AT BARYCENTER"),
    (799, 7, "URANUS CENTER AT BARYCENTER"),
    (899, 8, "NEPTUNE CENTER AT BARYCENTER"),
    (999, 9, "PLUTO CENTER AT BARYCENTER"),
)


def _writer() -> ModuleType:
    spec = importlib.util.spec_from_file_location("tarvexkit_spk_writer", WRITER)
    assert spec is not None and spec.loader is not None
    module = importlib.util.module_from_spec(spec)
    sys.modules[spec.name] = module  # dataclasses look their module up
    spec.loader.exec_module(module)
    return module


def build(start_s: float = DE421_START_S, end_s: float = DE421_END_S) -> bytes:
    writer = _writer()
    segments = [writer.Type2Segment(target, center, name, start_s, end_s, 1, 2,
                                    lambda first, stop: np.zeros((stop - first, 3, 2)))
                for target, center, name in PLANETS]
    out = io.BytesIO()
    writer.write_type2_kernel(out, "tarvexkit planet centres at barycentres", segments)
    return out.getvalue()


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", required=True, type=Path, help="file to write")
    args = parser.parse_args()
    args.out.parent.mkdir(parents=True, exist_ok=True)
    args.out.write_bytes(build())


if __name__ == "__main__":
    main()
