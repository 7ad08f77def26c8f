"""The files tarvexkit opens by default, and where they come from.

- DE421 (``de421.bsp``) from the PyPI package ``skyfield-data``;
- the IERS EOP 20 C04 series (``eopc04.1962-now``) and IERS Bulletin A
  (``finals2000A.all``) from ``astropy-iers-data``;
- the NAIF leap-second kernel ``naif0012.tls``, shipped in this package;
- ``planet_centers_de421.bsp``, written when the package is built, which
  puts Jupiter..Pluto on their system barycentres (DE421 has only the
  barycentres).

The Earth orientation table the engine reads is the C04 series continued,
past its last row, by the Bulletin A rows (measured and predicted), so that
today and the coming months have UT1 and polar motion. It is written once
per pair of input files into a cache directory and reused.
"""

from __future__ import annotations

import hashlib
import os
import tempfile
from collections.abc import Callable
from dataclasses import dataclass
from pathlib import Path

PACKAGE_DATA = Path(__file__).resolve().parent / "data"
LEAP_SECOND_KERNEL = PACKAGE_DATA / "naif0012.tls"
PLANET_CENTERS_KERNEL = PACKAGE_DATA / "planet_centers_de421.bsp"

MISSING_DATA = (
    "tarvexkit.load() needs the default data packages: pip install tarvex[data] "
    "(skyfield-data for DE421, astropy-iers-data for the IERS series), or open your own "
    "files with tarvexkit.open(kernel, leap_seconds=..., eop=...)"
)


@dataclass(frozen=True)
class DataFile:
    """One file an Ephemeris opened: its role, path, SHA-256 and origin."""

    role: str
    path: str
    sha256: str
    source: str


def sha256_of(path: str | os.PathLike[str]) -> str:
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def default_kernel() -> Path:
    try:
        import skyfield_data  # type: ignore[import-untyped,import-not-found,unused-ignore]
    except ImportError:
        raise ModuleNotFoundError(MISSING_DATA) from None
    path = Path(skyfield_data.__file__).resolve().parent / "data" / "de421.bsp"
    if not path.is_file():
        raise FileNotFoundError(f"skyfield-data is installed but has no de421.bsp at {path}; {MISSING_DATA}")
    return path


def default_iers_files() -> tuple[Path, Path]:
    """The C04 series and Bulletin A of astropy-iers-data."""
    try:
        import astropy_iers_data  # type: ignore[import-untyped,import-not-found,unused-ignore]
    except ImportError:
        raise ModuleNotFoundError(MISSING_DATA) from None
    c04 = Path(astropy_iers_data.IERS_B_FILE)
    bulletin_a = Path(astropy_iers_data.IERS_A_FILE)
    for path in (c04, bulletin_a):
        if not path.is_file():
            raise FileNotFoundError(f"astropy-iers-data is installed but has no {path.name}; {MISSING_DATA}")
    return c04, bulletin_a


def _bulletin_a_rows(text: str, after_mjd: float) -> list[str]:
    """Rows of finals2000A.all after `after_mjd` in the C04 column layout.

    finals2000A.all has fixed columns (its ReadMe): MJD in columns 8-15,
    pole x in 19-27, pole y in 38-46, UT1-UTC in 59-68 (1-based). Rows
    beyond the predictions leave the values blank; they end the table.
    """
    rows: list[str] = []
    for line in text.splitlines():
        if len(line) < 68:
            continue
        try:
            mjd = float(line[7:15])
            x = float(line[18:27])
            y = float(line[37:46])
            dut1 = float(line[58:68])
        except ValueError:
            if rows:
                break
            continue
        if mjd <= after_mjd:
            continue
        year = 2000 + int(line[0:2]) if int(line[0:2]) < 60 else 1900 + int(line[0:2])
        rows.append(
            f"{year:4d} {int(line[2:4]):3d} {int(line[4:6]):3d}   0  {mjd:8.2f}  {x:10.6f}  {y:10.6f}  {dut1:10.7f}"
            "    0.000000    0.000000    0.000000    0.000000   0.0000000"
        )
    return rows


def _last_mjd(c04_text: str) -> float:
    for line in reversed(c04_text.splitlines()):
        fields = line.split()
        if len(fields) >= 8 and not line.lstrip().startswith("#"):
            return float(fields[4])
    raise ValueError("the IERS C04 file has no data rows")


def cache_dir() -> Path:
    """TARVEXKIT_CACHE if set, else $XDG_CACHE_HOME/tarvexkit or ~/.cache/tarvexkit."""
    if os.environ.get("TARVEXKIT_CACHE"):
        return Path(os.environ["TARVEXKIT_CACHE"])
    return Path(os.environ.get("XDG_CACHE_HOME") or Path.home() / ".cache") / "tarvexkit"


def merged_eop_table(c04: Path, bulletin_a: Path) -> Path:
    """The C04 series continued by Bulletin A, written once per input pair."""
    key = hashlib.sha256((sha256_of(c04) + sha256_of(bulletin_a)).encode()).hexdigest()[:16]

    def make() -> str:
        c04_text = c04.read_text(encoding="ascii")
        extra = _bulletin_a_rows(bulletin_a.read_text(encoding="ascii"), _last_mjd(c04_text))
        header = (
            f"# IERS EOP 20 C04 ({c04.name}) continued by IERS Bulletin A ({bulletin_a.name}),\n"
            f"# {len(extra)} rows from Bulletin A after the last C04 row; written by tarvexkit.\n"
        )
        body = c04_text if c04_text.endswith("\n") else c04_text + "\n"
        return header + body + "\n".join(extra) + ("\n" if extra else "")

    return write_cached(f"eop_c04_bulletin_a_{key}.txt", make, "the merged Earth orientation table")


def write_cached(name: str, make: Callable[[], str], what: str) -> Path:
    """The file `name` in the cache directory (else the temp directory),
    written from `make()` the first time and reused after."""
    for directory in (cache_dir(), Path(tempfile.gettempdir()) / "tarvexkit"):
        target = directory / name
        if target.is_file():
            return target
        try:
            directory.mkdir(parents=True, exist_ok=True)
            text = make()
            fd, tmp = tempfile.mkstemp(dir=directory, prefix=".tarvexkit-", suffix=".txt")
            with os.fdopen(fd, "w", encoding="ascii") as f:
                f.write(text)
            os.replace(tmp, target)
            return target
        except OSError:
            continue
    raise OSError(f"cannot write {what} {name} into {cache_dir()} or the temp directory")
