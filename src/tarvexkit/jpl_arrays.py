"""JPL ephemerides from the coefficient arrays of the PyPI packages ``de421``,
``de422`` and ``de423``, written once into an SPK kernel (Type 2).

What the packages hold (they are data): ``<package>/constants.npy``, a
record array of (name, value) pairs with the ephemeris constants (EMRAT,
AU, ...) and three of the package's own, ``jalpha`` and ``jomega`` (first
and last Julian date, TDB, of the span) and ``jdelta`` (the length in days
of one block of the JPL ephemeris); and one ``jpl-<body>.npy`` per body,
a float64 array of shape (intervals, 3, coefficients): for each consecutive
sub-interval of the span, the Chebyshev coefficients of x, y and z in km,
the axes of the ICRF (which SPK files label J2000).

The JPL ephemeris arrangement (E. M. Standish, "JPL Planetary and Lunar
Ephemerides, DE405/LE405", JPL IOM 312.F-98-048, 1998, and the header
files of the DE4xx releases): the span is cut into blocks of ``jdelta``
days, each body's block into an equal number of sub-intervals, each
covered by one Chebyshev series in the time scaled to -1..+1 over the
sub-interval. Mercury..Pluto (NAIF 1..9, for Mars..Pluto the system
barycentres) and the Sun (10) are relative to the solar-system barycentre
(0); "earthmoon" is the Earth-Moon barycentre (3) relative to 0; "moon"
is the Moon relative to the Earth (geocentric). The Earth's and the
Moon's masses are in the ratio EMRAT, so relative to the Earth-Moon
barycentre::

    Earth = -Moon_geocentric / (1 + EMRAT)
    Moon  =  Moon_geocentric * EMRAT / (1 + EMRAT).

SPK Type 2 (NAIF, SPK Required Reading, "Supported Data Types",
the spk.req document of the SPICE Toolkit): a segment is N records
of [MID, RADIUS, x coefficients, y coefficients, z coefficients], times in
TDB seconds past J2000, each record mapping MID - RADIUS .. MID + RADIUS
onto -1..+1, followed by INIT, INTLEN, RSIZE and N. That is the JPL
sub-interval exactly, so every coefficient of the arrays is copied
unchanged (bit for bit) into a record whose MID and RADIUS are the
sub-interval's centre and half length in seconds ((JD - 2451545) * 86400,
exact in binary for the half-day Julian dates the packages use).

The Earth and the Moon are written as NAIF writes them in its DE files:
the Earth (399) and the Moon (301) relative to the Earth-Moon barycentre
(3), on the Moon's sub-intervals, each coefficient being the double
nearest to the exact product c * (-1 / (1 + EMRAT)) or c * (EMRAT / (1 +
EMRAT)) of the geocentric coefficient c and the ratio formed exactly from
the double EMRAT: one rounding per coefficient (`split_earth_moon`).
Mercury and Venus have no satellites, so their centres (199, 299) are
their barycentres: zero-offset segments say so. Mars..Pluto are in the
arrays as system barycentres only; the ephemeris takes a planet whose
centre no kernel holds at its barycentre.

The file itself is written by `tarvexkit.spk_writer` (DAF layout there).
"""

from __future__ import annotations

import hashlib
import importlib
import importlib.metadata
import sys
import time
from collections.abc import Callable
from dataclasses import dataclass
from fractions import Fraction
from pathlib import Path
from typing import IO

import numpy as np
import numpy.typing as npt

from . import data, spk_writer

# Part of the cache key: a change to what `write_kernel` writes must change it.
CONVERTER_VERSION = "1"

J2000_JD = 2451545.0
SECONDS_PER_DAY = 86400.0
# (array, target, centre) of the bodies copied as they are.
COPIED_BODIES = (
    ("mercury", 1, 0),
    ("venus", 2, 0),
    ("earthmoon", 3, 0),
    ("mars", 4, 0),
    ("jupiter", 5, 0),
    ("saturn", 6, 0),
    ("uranus", 7, 0),
    ("neptune", 8, 0),
    ("pluto", 9, 0),
    ("sun", 10, 0),
)


@dataclass(frozen=True)
class Era:
    """A JPL ephemeris published on PyPI as coefficient arrays."""

    name: str  # "de422": the argument of tarvexkit.load and the package's name
    years: str  # the span, for messages and the documentation
    extra: str  # pip install tarvex[<extra>]


ERAS = {
    "de421": Era("de421", "1899-12-04 .. 2200-02-02", "de421"),
    "de422": Era("de422", "years -3000 .. 3000, JD 625648.5 .. 2816816.5", "de422"),
    "de423": Era("de423", "1799-12-16 .. 2200-02-02", "de423"),
}


@dataclass(frozen=True)
class Arrays:
    """The arrays of one installed package (memory-mapped, read lazily)."""

    name: str
    version: str
    directory: Path
    constants: dict[str, float]

    def body(self, array: str) -> npt.NDArray[np.float64]:
        values = np.load(self.directory / f"jpl-{array}.npy", mmap_mode="r")
        if values.dtype != np.float64 or values.ndim != 3 or values.shape[1] != 3:
            raise ValueError(f"{self.directory / f'jpl-{array}.npy'} is not a (intervals, 3, coefficients) "
                             f"float64 array (dtype {values.dtype}, shape {values.shape})")
        return values  # type: ignore[no-any-return]

    @property
    def start_jd(self) -> float:
        return self.constants["jalpha"]

    @property
    def end_jd(self) -> float:
        return self.constants["jomega"]


def missing_package(name: str) -> str:
    era = ERAS[name]
    return (f'tarvexkit.load("{name}") needs the JPL {name.upper()} coefficient arrays ({era.years}): '
            f"pip install tarvex[{era.extra}]")


def installed_arrays(name: str) -> Arrays:
    """The arrays of the installed package `name` ("de421", "de422", "de423").

    ModuleNotFoundError saying what to install when it is not installed.
    """
    try:
        module = importlib.import_module(name)
    except ImportError:
        raise ModuleNotFoundError(missing_package(name)) from None
    directory = Path(module.__file__ or "").resolve().parent
    try:
        version = importlib.metadata.version(name)
    except importlib.metadata.PackageNotFoundError:
        version = "unknown"
    return arrays_in(directory, name, version)


def arrays_in(directory: Path, name: str, version: str = "unknown") -> Arrays:
    """The arrays in `directory` (a package's folder as installed)."""
    path = directory / "constants.npy"
    try:
        table = np.load(path)
    except OSError as error:
        raise FileNotFoundError(f"the {name} package has no readable constants.npy in {directory}: "
                                f"{error}; {missing_package(name) if name in ERAS else ''}") from None
    constants = {str(n.decode("ascii") if isinstance(n, bytes) else n).strip(): float(v) for n, v in table}
    for key in ("jalpha", "jomega", "jdelta", "EMRAT"):
        if key not in constants:
            raise ValueError(f"{path} has no constant {key}: not the arrays of a JPL ephemeris package")
    return Arrays(name, version, directory, constants)


def _two_product(a: npt.NDArray[np.float64], b: float) -> tuple[npt.NDArray[np.float64], npt.NDArray[np.float64]]:
    """a * b as an unevaluated sum hi + lo, exactly (Dekker 1971, with
    Veltkamp's split; no overflow for the magnitudes of ephemeris data)."""
    split = 134217729.0  # 2**27 + 1
    hi = a * b
    t = a * split
    a_hi = t - (t - a)
    a_lo = a - a_hi
    u = b * split
    b_hi = u - (u - b)
    b_lo = b - b_hi
    lo = ((a_hi * b_hi - hi) + a_hi * b_lo + a_lo * b_hi) + a_lo * b_lo
    return hi, lo


def _nearest_exact(c: float, ratio: Fraction) -> float:
    exact = Fraction(c) * ratio
    return float(exact)  # Fraction -> float rounds to nearest, ties to even


def scaled_once(c: npt.NDArray[np.float64], ratio: Fraction) -> npt.NDArray[np.float64]:
    """For every element, the double nearest to the exact value c * ratio
    (one rounding, ties to even).

    The product is formed in double-double: ratio = r_hi + r_lo, c * r_hi
    exactly (`_two_product`) plus c * r_lo, an error below 2**-100 of the
    result. Where that error could decide the rounding (the sum lies that
    close to a midpoint between two doubles) the element is computed again
    in exact rational arithmetic.
    """
    r_hi = float(ratio)
    r_lo = float(ratio - Fraction(r_hi))
    hi, lo = _two_product(c, r_hi)
    tail = lo + c * r_lo
    result: npt.NDArray[np.float64] = hi + tail
    # Nudging the tail by 2**-40 of itself moves the sum by far more than its
    # error and far less than an ulp: a changed rounding means a near-tie.
    wobble = tail * 2.0**-40
    doubtful = np.flatnonzero(((hi + (tail + wobble)) != result) | ((hi + (tail - wobble)) != result))
    if doubtful.size:
        flat = result.reshape(-1)
        source = c.reshape(-1)
        for i in doubtful:
            flat[i] = _nearest_exact(float(source[i]), ratio)
    return result


def split_earth_moon(moon: npt.NDArray[np.float64], emrat: float) -> tuple[npt.NDArray[np.float64],
                                                                           npt.NDArray[np.float64]]:
    """The coefficients of the Earth and of the Moon relative to the
    Earth-Moon barycentre from the geocentric Moon's, one rounding each."""
    mass_ratio = Fraction(emrat)
    return (scaled_once(moon, -1 / (1 + mass_ratio)),
            scaled_once(moon, mass_ratio / (1 + mass_ratio)))


def _segments(arrays: Arrays) -> list[spk_writer.Type2Segment]:
    start_s = (arrays.start_jd - J2000_JD) * SECONDS_PER_DAY
    end_s = (arrays.end_jd - J2000_JD) * SECONDS_PER_DAY
    label = arrays.name.upper()
    segments: list[spk_writer.Type2Segment] = []

    def segment(target: int, center: int, name: str, shape: tuple[int, ...],
                records: Callable[[int, int], npt.NDArray[np.float64]]) -> None:
        segments.append(spk_writer.Type2Segment(target, center, f"{label} {name}", start_s, end_s, shape[0],
                                                shape[2], records))

    for array, target, center in COPIED_BODIES:
        values = arrays.body(array)

        def copied(first: int, stop: int, values: npt.NDArray[np.float64] = values) -> npt.NDArray[np.float64]:
            return np.asarray(values[first:stop], dtype=np.float64)

        segment(target, center, array.upper(), values.shape, copied)
        if target in (1, 2):
            segment(target * 100 + 99, target, f"{array.upper()} CENTER", (1, 3, 1),
                    lambda first, stop: np.zeros((stop - first, 3, 1)))
    moon = arrays.body("moon")
    emrat = arrays.constants["EMRAT"]

    def earth(first: int, stop: int) -> npt.NDArray[np.float64]:
        return split_earth_moon(np.asarray(moon[first:stop], dtype=np.float64), emrat)[0]

    def moon_from_barycentre(first: int, stop: int) -> npt.NDArray[np.float64]:
        return split_earth_moon(np.asarray(moon[first:stop], dtype=np.float64), emrat)[1]

    segment(399, 3, "EARTH", moon.shape, earth)
    segment(301, 3, "MOON", moon.shape, moon_from_barycentre)
    return segments


class Progress:
    """A one-line progress bar on stderr when it is a terminal; silent otherwise."""

    def __init__(self, what: str, total: int, stream: IO[str] | None = None) -> None:
        self.what = what
        self.total = max(total, 1)
        self.done = 0
        self.stream = sys.stderr if stream is None else stream
        self.shown = bool(getattr(self.stream, "isatty", lambda: False)())
        self.started = time.monotonic()
        self.last = -1

    def advance(self, amount: int) -> None:
        self.done += amount
        percent = 100 * self.done // self.total
        if self.shown and percent != self.last:
            self.last = percent
            bar = "#" * (percent // 4)
            elapsed = time.monotonic() - self.started
            self.stream.write(f"\r{self.what}: {percent:3d}%|{bar:<25}| "
                              f"{self.done / 1e6:.0f}/{self.total / 1e6:.0f} MB [{elapsed:.0f}s]")
            self.stream.flush()

    def close(self) -> None:
        if self.shown:
            self.stream.write("\n")
            self.stream.flush()


def kernel_bytes(arrays: Arrays) -> int:
    """The size of the kernel `write_kernel` writes for `arrays`."""
    return spk_writer.kernel_bytes(_segments(arrays))


def write_kernel(arrays: Arrays, out: IO[bytes], progress: Progress | None = None) -> str:
    """Writes the SPK Type 2 kernel of `arrays` into `out` (module
    docstring); returns the SHA-256 of the bytes written."""
    internal = f"JPL {arrays.name.upper()} from PyPI {arrays.name} {arrays.version} (tarvexkit)"
    return spk_writer.write_type2_kernel(out, internal, _segments(arrays),
                                         None if progress is None else progress.advance)


def cache_name(arrays: Arrays) -> str:
    """The kernel's file name in the cache: a change of package, version,
    array files or converter gives another name."""
    key = hashlib.sha256()
    key.update(f"{arrays.name} {arrays.version} {CONVERTER_VERSION} {sorted(arrays.constants.items())}".encode())
    for path in sorted(arrays.directory.glob("jpl-*.npy")):
        key.update(f" {path.name} {path.stat().st_size}".encode())
    return f"{arrays.name}_{key.hexdigest()[:16]}.bsp"


def converted_kernel(name: str) -> tuple[data.CachedFile, Arrays]:
    """The SPK kernel of the installed package `name` ("de421", "de422",
    "de423"): from the cache when it is there and matches its SHA-256,
    else written once (a progress bar on stderr when it is a terminal).

    >>> kernel, arrays = converted_kernel("de421")  # doctest: +SKIP
    """
    if name not in ERAS:
        raise ValueError(f"unknown ephemeris {name!r}: expected one of {', '.join(map(repr, ERAS))}")
    arrays = installed_arrays(name)

    def write(out: IO[bytes]) -> str:
        progress = Progress(f"tarvexkit: converting the {name.upper()} arrays into an SPK kernel",
                            kernel_bytes(arrays))
        try:
            return write_kernel(arrays, out, progress)
        finally:
            progress.close()

    return data.cached_file(cache_name(arrays), write, f"{name.upper()} kernel"), arrays
