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

File layout (NAIF DAF/SPK, little-endian IEEE): record 1 is the file
record, record 2 the single summary record, record 3 the name record, and
the segment data start at record 4. Each segment is one Chebyshev record
of two coefficients per axis, all zero, spanning the whole interval, then
the Type 2 trailer (INIT, INTLEN, RSIZE, N).

Run at build time; the output is installed inside the tarvexkit package
and never committed.
"""

from __future__ import annotations

import argparse
import struct
from pathlib import Path

RECORD_BYTES = 1024
WORDS_PER_RECORD = RECORD_BYTES // 8

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

# The FTP validation string NAIF puts in the file record to detect
# transfers that altered line ends or the eighth bit.
FTP_STRING = b"FTPSTR:\r:\n:\r\n:\r\x00:\x81:\x10\xce:ENDFTP"


def segment_words(start_s: float, end_s: float) -> list[float]:
    interval = end_s - start_s
    coefficients = 2
    record = [start_s + interval / 2, interval / 2] + [0.0] * (3 * coefficients)
    return record + [start_s, interval, float(2 + 3 * coefficients), 1.0]


def build(start_s: float = DE421_START_S, end_s: float = DE421_END_S) -> bytes:
    first_data_word = 3 * WORDS_PER_RECORD + 1
    data: list[float] = []
    summaries = []
    for target, center, name in PLANETS:
        begin = first_data_word + len(data)
        data.extend(segment_words(start_s, end_s))
        summaries.append((target, center, name, begin, first_data_word + len(data) - 1))
    free_address = first_data_word + len(data)

    file_record = bytearray(RECORD_BYTES)
    file_record[0:8] = b"DAF/SPK "
    file_record[8:16] = struct.pack("<ii", 2, 6)
    file_record[16:76] = b"tarvexkit planet centres at barycentres".ljust(60)
    file_record[76:88] = struct.pack("<iii", 2, 2, free_address)
    file_record[88:96] = b"LTL-IEEE"
    file_record[699 : 699 + len(FTP_STRING)] = FTP_STRING

    summary_record = bytearray(RECORD_BYTES)
    summary_record[0:24] = struct.pack("<3d", 0.0, 0.0, float(len(summaries)))
    name_record = bytearray(RECORD_BYTES)
    for i, (target, center, name, begin, end) in enumerate(summaries):
        offset = 24 + 40 * i
        summary_record[offset : offset + 40] = struct.pack("<2d6i", start_s, end_s, target, center, 1, 2, begin, end)
        name_record[40 * i : 40 * i + 40] = name.encode("ascii").ljust(40)

    body = struct.pack(f"<{len(data)}d", *data)
    body += bytes(-len(body) % RECORD_BYTES)
    return bytes(file_record) + bytes(summary_record) + bytes(name_record) + body


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", required=True, type=Path, help="file to write")
    args = parser.parse_args()
    args.out.parent.mkdir(parents=True, exist_ok=True)
    args.out.write_bytes(build())


if __name__ == "__main__":
    main()
