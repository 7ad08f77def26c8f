"""Writing SPK kernels of Type 2 segments (Chebyshev, position only) and
Type 13 segments (Hermite interpolation of states at unequal steps).

The file is a DAF (NAIF, DAF Required Reading): 1024-byte records of
little-endian IEEE doubles. Record 1 is the file record ("DAF/SPK ",
ND = 2, NI = 6, the internal file name, the first and last summary record,
the first free word, "LTL-IEEE", the FTP validation string NAIF puts there
to detect transfers that altered line ends or the eighth bit); record 2
the one summary record (next and previous summary record, number of
summaries, then per segment the start and end epoch as doubles and target,
centre, frame, type, first and last word of its data as integers); record
3 the segment names; the segment data from record 4 on.

A Type 2 segment (NAIF, SPK Required Reading, "Supported Data Types",
the spk.req document of the SPICE Toolkit) is N records of [MID,
RADIUS, x coefficients, y coefficients, z coefficients], times in TDB
seconds past J2000, followed by INIT, INTLEN, RSIZE and N. Here the N
records split the segment's span into equal intervals.

A Type 13 segment (same source, "Type 13: Hermite Interpolation --- Unequal
Time Steps") is N states (x, y, z, vx, vy, vz in km and km/s), their N
epochs (TDB seconds past J2000, increasing), a directory of every 100th
epoch (epochs 100, 200, ... up to ((N - 1) // 100) * 100), then the window
size minus one and N; the reader interpolates each coordinate by the
Hermite polynomial (degree 2 * window - 1) through the positions and
velocities of the window of states nearest the epoch. It is what an orbit
integrator gives directly: states and velocities at the steps it took.

No imports from the rest of the package: the build runs this file on its
own (tools/gen_planet_centers.py) before the extension modules exist.
"""

from __future__ import annotations

import hashlib
import struct
from collections.abc import Callable, Sequence
from dataclasses import dataclass
from typing import IO

import numpy as np
import numpy.typing as npt

RECORD_BYTES = 1024
WORDS_PER_RECORD = RECORD_BYTES // 8
J2000_FRAME = 1
CHEBYSHEV_POSITION_TYPE = 2
HERMITE_UNEQUAL_TYPE = 13
TYPE13_DIRECTORY_STRIDE = 100
# Records of one segment made and written at a time.
CHUNK_RECORDS = 8192
FTP_STRING = b"FTPSTR:\r:\n:\r\n:\r\x00:\x81:\x10\xce:ENDFTP"


@dataclass(frozen=True)
class Type2Segment:
    """One segment: `records(first, stop)` gives the coefficients of records
    first..stop-1 as a float64 array (records, 3, coefficients), in km."""

    target: int
    center: int
    name: str  # up to 40 ASCII characters
    start_s: float  # TDB seconds past J2000
    end_s: float
    intervals: int
    coefficients: int
    records: Callable[[int, int], npt.NDArray[np.float64]]
    frame: int = J2000_FRAME

    @property
    def words(self) -> int:
        return self.intervals * (2 + 3 * self.coefficients) + 4


@dataclass(frozen=True)
class Type13Segment:
    """One Type 13 segment: `epochs_s` (N, increasing TDB seconds past
    J2000) and `states` (N, 6) in km and km/s; `window` states interpolated
    at a time (degree 2 * window - 1)."""

    target: int
    center: int
    name: str  # up to 40 ASCII characters
    epochs_s: npt.NDArray[np.float64]
    states: npt.NDArray[np.float64]
    window: int = 8
    frame: int = J2000_FRAME

    def __post_init__(self) -> None:
        n = len(self.epochs_s)
        if self.states.shape != (n, 6):
            raise ValueError(f"{self.name}: states of shape {self.states.shape}, expected ({n}, 6)")
        if n < self.window or self.window < 1:
            raise ValueError(f"{self.name}: {n} states, fewer than the window of {self.window}")
        if not (np.all(np.isfinite(self.states)) and np.all(np.diff(self.epochs_s) > 0)):
            raise ValueError(f"{self.name}: states must be finite and epochs strictly increasing")

    @property
    def start_s(self) -> float:
        return float(self.epochs_s[0])

    @property
    def end_s(self) -> float:
        return float(self.epochs_s[-1])

    @property
    def words(self) -> int:
        n = len(self.epochs_s)
        return 7 * n + (n - 1) // TYPE13_DIRECTORY_STRIDE + 2


def _type13_words(segment: Type13Segment) -> npt.NDArray[np.float64]:
    n = len(segment.epochs_s)
    directory = segment.epochs_s[TYPE13_DIRECTORY_STRIDE - 1:((n - 1) // TYPE13_DIRECTORY_STRIDE)
                                 * TYPE13_DIRECTORY_STRIDE:TYPE13_DIRECTORY_STRIDE]
    return np.concatenate([segment.states.reshape(-1), segment.epochs_s, directory,
                           [float(segment.window - 1), float(n)]])


def kernel_bytes(segments: Sequence[Type2Segment | Type13Segment]) -> int:
    """The size of the file `write_type2_kernel` writes."""
    words = sum(segment.words for segment in segments)
    return 3 * RECORD_BYTES + -(-words // WORDS_PER_RECORD) * RECORD_BYTES


def _rows(segment: Type2Segment, first: int, stop: int) -> npt.NDArray[np.float64]:
    length_s = (segment.end_s - segment.start_s) / segment.intervals
    coefficients = segment.records(first, stop)
    if coefficients.shape != (stop - first, 3, segment.coefficients):
        raise ValueError(f"{segment.name}: records of shape {coefficients.shape}, "
                         f"expected ({stop - first}, 3, {segment.coefficients})")
    rows = np.empty((stop - first, 2 + 3 * segment.coefficients))
    index = np.arange(first, stop, dtype=np.float64)
    rows[:, 0] = segment.start_s + (index + 0.5) * length_s
    rows[:, 1] = length_s / 2
    rows[:, 2:] = coefficients.reshape(stop - first, 3 * segment.coefficients)
    return rows


def write_type2_kernel(out: IO[bytes], internal_name: str, segments: Sequence[Type2Segment | Type13Segment],
                       progress: Callable[[int], None] | None = None) -> str:
    """Writes the kernel into `out`; returns the SHA-256 of the bytes
    written. `progress(n)` is told of every n bytes written. Type 13
    segments may stand among the Type 2 ones (`write_kernel` is the same)."""
    digest = hashlib.sha256()

    def emit(block: bytes) -> None:
        digest.update(block)
        out.write(block)
        if progress is not None:
            progress(len(block))

    if len(segments) * 40 + 24 > RECORD_BYTES:
        raise ValueError(f"{len(segments)} segments do not fit one summary record (at most 25)")
    summaries = bytearray()
    names = bytearray()
    address = 3 * WORDS_PER_RECORD + 1
    for segment in segments:
        kind = HERMITE_UNEQUAL_TYPE if isinstance(segment, Type13Segment) else CHEBYSHEV_POSITION_TYPE
        summaries += struct.pack("<2d6i", segment.start_s, segment.end_s, segment.target, segment.center,
                                 segment.frame, kind, address, address + segment.words - 1)
        names += segment.name.encode("ascii")[:40].ljust(40)
        address += segment.words

    file_record = bytearray(RECORD_BYTES)
    file_record[0:8] = b"DAF/SPK "
    file_record[8:16] = struct.pack("<ii", 2, 6)
    file_record[16:76] = internal_name.encode("ascii")[:60].ljust(60)
    file_record[76:88] = struct.pack("<iii", 2, 2, address)
    file_record[88:96] = b"LTL-IEEE"
    file_record[699:699 + len(FTP_STRING)] = FTP_STRING
    summary_record = bytearray(RECORD_BYTES)
    summary_record[0:24] = struct.pack("<3d", 0.0, 0.0, float(len(segments)))
    summary_record[24:24 + len(summaries)] = summaries
    name_record = bytearray(RECORD_BYTES)
    name_record[:len(names)] = names
    emit(bytes(file_record) + bytes(summary_record) + bytes(name_record))

    for segment in segments:
        if isinstance(segment, Type13Segment):
            emit(_type13_words(segment).astype("<f8").tobytes())
            continue
        for first in range(0, segment.intervals, CHUNK_RECORDS):
            stop = min(first + CHUNK_RECORDS, segment.intervals)
            emit(_rows(segment, first, stop).astype("<f8").tobytes())
        length_s = (segment.end_s - segment.start_s) / segment.intervals
        emit(np.array([segment.start_s, length_s, 2 + 3 * segment.coefficients, segment.intervals],
                      dtype="<f8").tobytes())
    emit(bytes(-(address - 1) * 8 % RECORD_BYTES))
    return digest.hexdigest()


write_kernel = write_type2_kernel
