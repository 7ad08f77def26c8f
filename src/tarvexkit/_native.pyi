"""Type stub of tarvexkit._native, the toolkit's private native module."""

from collections.abc import Sequence
from typing import TypeAlias, TypedDict, final

import numpy
import numpy.typing

import tarvex

_Positions: TypeAlias = numpy.ndarray[tuple[int, int, int], numpy.dtype[numpy.float64]]
_Days: TypeAlias = numpy.ndarray[tuple[int], numpy.dtype[numpy.float64]]

class _KernelMetadataDict(TypedDict):
    engine_version: str
    kernel_name: str
    kernel_sha256: str
    coordinate_frame: str
    additional_kernels: list[tuple[str, str]]

@final
class Store:
    """The files of one tarvex engine, opened once: array batches on worker
    threads and element-wise time conversions.

    May be used from any thread, one call at a time: a call while another
    runs raises RuntimeError("tarvexkit store is busy in another call").
    """

    def __new__(
        cls,
        kernels: Sequence[tuple[str, str]],
        leap_seconds: tuple[str, str] | None = None,
        eop: tuple[str, str] | None = None,
    ) -> Store: ...
    def positions(
        self,
        bodies: Sequence[str],
        julian_days: numpy.typing.ArrayLike,
        scale: str,
        options: tarvex.PositionOptions,
        threads: int | None = None,
    ) -> _Positions:
        """Equal bit for bit to tarvex.Engine.positions(bodies,
        [tarvex.Instant(day, scale) for day in julian_days], options), with
        the same errors; shape (len(julian_days), len(bodies), 4)."""
    def convert(self, julian_days: numpy.typing.ArrayLike, from_scale: str, to_scale: str) -> _Days: ...
    def tdb_seconds(self, julian_days: numpy.typing.ArrayLike, scale: str) -> _Days: ...
    def leap_second_entries(self) -> list[tuple[float, float]] | None: ...
    def eop_coverage(self) -> tuple[float, float] | None: ...
    @property
    def supported_range(self) -> tuple[float, float]: ...
    @property
    def kernel_metadata(self) -> _KernelMetadataDict: ...
