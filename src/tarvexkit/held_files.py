"""The files of one `Ephemeris`, each opened by name once and read from then
on through the descriptor opened then.

Opening a file (`hold_file`) opens it by its name once. A file of up to
`PRIVATE_COPY_LIMIT_BYTES` is copied into an anonymous memory file
(``memfd_create``), which is then sealed against writing, shrinking and
growing; its SHA-256 is the digest of exactly the bytes copied. Every reader
of the ephemeris (the native stores of every worker, the strict
`tarvex.Engine` of every thread, the Earth-rotation helper) opens that
memory file, never the name again, so renaming another file over the
original, overwriting or truncating it in place, or changing the working
directory after opening with a relative path changes nothing.

A larger file is not copied (that would take as much memory as the file):
the descriptor of the original is kept and readers open the same inode
through it. Renames and `os.chdir` still change nothing, but writing into
that file in place changes what later reads see, and truncating it below a
mapped page ends the process with SIGBUS on the next read, as for any
memory map. The size, inode, modification and change times are checked
before engines are opened and before every call that reads kernels (batches,
searches, charts: the native store asks `current_readers` before it leases
a kernel store), so a truncation or rewrite done between calls is reported
(`FileChangedError`); one done during a call cannot be. A change of the
status change time alone (an in-place copy that restores the modification
time, as ``rsync --inplace -t`` does, but also a rename or a new hard link)
has the file hashed again: the same SHA-256 keeps it in use.

Readers open the descriptor as ``/proc/self/fd/N`` through a symbolic link
named after the file, in a private directory (mode 0700, made by
`tempfile.mkdtemp`), so that kernel names in metadata stay the file's own.
Without ``/proc`` (not Linux) readers fall back to the original path.
"""

from __future__ import annotations

import fcntl
import hashlib
import os
import shutil
import stat
import tempfile
import threading
import weakref
from dataclasses import dataclass, field

from .data import DataFile

# Files up to this size are copied into sealed memory; larger ones are read
# through the original's descriptor (see the module docstring).
PRIVATE_COPY_LIMIT_BYTES = 1 << 30

_BLOCK = 1 << 20
_SEALS = (
    getattr(fcntl, "F_SEAL_SEAL", 0x0001)
    | getattr(fcntl, "F_SEAL_SHRINK", 0x0002)
    | getattr(fcntl, "F_SEAL_GROW", 0x0004)
    | getattr(fcntl, "F_SEAL_WRITE", 0x0008)
)
_F_ADD_SEALS = getattr(fcntl, "F_ADD_SEALS", 1033)
_F_GET_SEALS = getattr(fcntl, "F_GET_SEALS", 1034)


class FileChangedError(OSError):
    """A file read through the original's descriptor (too large to copy) was
    changed in place after the ephemeris opened it."""


class _Handle:
    """One descriptor and the private link readers open it through; both go
    when the handle is collected."""

    def __init__(self, fd: int, name: str, copied: bool, digest: str = "") -> None:
        self.fd = fd
        self.name = name
        self.copied = copied
        self.digest = digest
        info = os.fstat(fd)
        self.identity = (info.st_dev, info.st_ino, info.st_size, info.st_mtime_ns)
        self.changed_ns = info.st_ctime_ns
        # The link directory, in a list the finalizer shares; threads
        # opening engines at once make or mend the link one at a time.
        self._directory: list[str | None] = [None]
        self._lock = threading.Lock()
        self._finalizer = weakref.finalize(self, _release, fd, self._directory)

    def reader(self) -> str | None:
        """The path readers open: the link to this descriptor, made again if
        something removed it; None without /proc."""
        target = f"/proc/self/fd/{self.fd}"
        if not os.path.isdir("/proc/self/fd"):
            return None
        with self._lock:
            return self._link(target)

    def _link(self, target: str) -> str:
        directory = self._directory[0]
        if directory is None or not os.path.isdir(directory):
            directory = self._directory[0] = tempfile.mkdtemp(prefix="tarvexkit-files-")
        link = os.path.join(directory, self.name)
        try:
            if os.readlink(link) == target:
                return link
            os.unlink(link)
        except FileNotFoundError:
            pass
        os.symlink(target, link)
        return link

    def check(self, path: str) -> None:
        """Raises FileChangedError when the file no longer is what was hashed."""
        if self.copied:
            if fcntl.fcntl(self.fd, _F_GET_SEALS) & _SEALS != _SEALS:
                raise FileChangedError(f"the private copy of {path} lost its seals")
            return
        info = os.fstat(self.fd)
        changed = (info.st_dev, info.st_ino, info.st_size, info.st_mtime_ns) != self.identity
        if not changed and info.st_ctime_ns != self.changed_ns:
            # Only the status changed: the content decides (hashed once per change).
            with self._lock:
                if info.st_ctime_ns != self.changed_ns:
                    changed = bool(self.digest) and _digest_of(self.fd) != self.digest
                    if not changed:
                        self.changed_ns = info.st_ctime_ns
        if changed:
            raise FileChangedError(
                f"{path} was changed in place after it was opened (size {self.identity[2]} -> "
                f"{info.st_size} bytes); files over {PRIVATE_COPY_LIMIT_BYTES} bytes are read "
                "from the original, so open the ephemeris again"
            )


def _release(fd: int, directory: list[str | None]) -> None:
    os.close(fd)
    if directory[0] is not None:
        shutil.rmtree(directory[0], ignore_errors=True)


@dataclass(frozen=True)
class HeldFile(DataFile):
    """A `DataFile` held open by the ephemeris (see the module docstring)."""

    handle: _Handle = field(repr=False, compare=False, default=None)  # type: ignore[assignment]
    # The file this one was made from (the caller's Earth orientation table
    # for the table tarvexkit extends to any date), named in messages.
    derived_from: str = field(repr=False, compare=False, default="")

    def reader(self) -> str:
        """The path every reader of this ephemeris opens (checked first)."""
        self.handle.check(self.path)
        return self.handle.reader() or self.path

    def check(self) -> None:
        self.handle.check(self.path)


def current_readers(files: tuple[HeldFile, ...]) -> list[str]:
    """The paths readers open now, each file checked first (FileChangedError)
    and its link made again if a cleaner of temporary files removed it. The
    native store calls this before every call that reads kernels, and opens
    the stores of new workers through the paths it returns."""
    return [f.reader() for f in files]


def _name_of(path: str) -> str:
    name = os.path.basename(os.path.normpath(path)) or "file"
    # A memory file's name is at most 249 bytes.
    return name[:200] if name not in (".", "..") else "file"


def _open_regular(path: str) -> int:
    # Non-blocking for the open only: a FIFO without a writer would block.
    fd = os.open(path, os.O_RDONLY | os.O_CLOEXEC | os.O_NONBLOCK)
    try:
        info = os.fstat(fd)
        if stat.S_ISDIR(info.st_mode):
            raise IsADirectoryError(21, "Is a directory")
        if not stat.S_ISREG(info.st_mode):
            raise OSError(0, "not a regular file")
        os.set_blocking(fd, True)
    except BaseException:
        os.close(fd)
        raise
    return fd


def _sealed_copy(source: int, name: str) -> tuple[int, str] | None:
    """A sealed memory file with the source's bytes and their SHA-256, or
    None where memory files or seals are not available."""
    create = getattr(os, "memfd_create", None)
    if create is None:
        return None
    try:
        memory = create(name, os.MFD_CLOEXEC | os.MFD_ALLOW_SEALING)
    except OSError:
        return None
    try:
        digest = hashlib.sha256()
        while block := os.read(source, _BLOCK):
            digest.update(block)
            view = memoryview(block)
            while view:
                view = view[os.write(memory, view):]
        fcntl.fcntl(memory, _F_ADD_SEALS, _SEALS)
    except OSError:
        os.close(memory)
        return None
    return memory, digest.hexdigest()


def _digest_of(fd: int) -> str:
    digest = hashlib.sha256()
    offset = 0
    while block := os.pread(fd, _BLOCK, offset):
        digest.update(block)
        offset += len(block)
    return digest.hexdigest()


def hold_file(role: str, path: str, source: str, expected_sha256: str | None = None, *,
              private_copy: bool = True) -> HeldFile:
    """Opens `path` once, copies or holds it (module docstring) and hashes it.

    `expected_sha256`, when given, must match: ValueError naming the file
    otherwise. `private_copy=False` holds the file without copying it
    whatever its size: for files in tarvexkit's private cache, which only
    this user can change, and which may be large (a converted DE422 is 650 MB).
    """
    name = _name_of(path)
    fd = _open_regular(path)
    try:
        size = os.fstat(fd).st_size
        copy = _sealed_copy(fd, name) if private_copy and size <= PRIVATE_COPY_LIMIT_BYTES else None
        if copy is not None:
            os.close(fd)
            fd, digest = copy
        else:
            digest = _digest_of(fd)
    except BaseException:
        os.close(fd)
        raise
    handle = _Handle(fd, name, copy is not None, digest)
    if expected_sha256 is not None and digest != expected_sha256.lower():
        raise ValueError(f"the {role} file {path} has SHA-256 {digest}, not the recorded {expected_sha256}")
    return HeldFile(role, path, digest, source, handle)


def hold_bytes(role: str, name: str, content: bytes, sha256: str, source: str, shown_path: str,
               derived_from: str = "") -> HeldFile:
    """A file made in memory (content already hashed to `sha256`), held as a
    sealed memory file; `shown_path` is what `Ephemeris.files` shows."""
    create = getattr(os, "memfd_create", None)
    if create is None:
        raise OSError("this system has no memory files (memfd_create); pass the file by path")
    memory = create(name, os.MFD_CLOEXEC | os.MFD_ALLOW_SEALING)
    try:
        view = memoryview(content)
        while view:
            view = view[os.write(memory, view):]
        fcntl.fcntl(memory, _F_ADD_SEALS, _SEALS)
    except BaseException:
        os.close(memory)
        raise
    return HeldFile(role, shown_path, sha256, source, _Handle(memory, name, True), derived_from)

