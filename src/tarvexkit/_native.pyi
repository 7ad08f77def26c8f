"""Type stub of tarvexkit._native, the toolkit's private native module."""

from collections.abc import Callable, Sequence
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

    May be used from any number of threads at once: each call computes on
    stores of its own from a pool that grows to the most used at one time.
    """

    def __new__(
        cls,
        kernels: Sequence[tuple[str, str]],
        leap_seconds: tuple[str, str] | None = None,
        eop: tuple[str, str] | None = None,
        ut1_checked_until: float = 1e300,
        readers: Callable[[], Sequence[str]] | None = None,
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
    def chart(
        self,
        names: Sequence[str],
        tt: numpy.typing.ArrayLike,
        ut1: numpy.typing.ArrayLike,
        longitude_east_deg: float,
        latitude_deg: float,
        system: str,
        polar_fallback: str | None,
        ayanamsha: str | None,
        angles: numpy.typing.ArrayLike,
        orbs: numpy.typing.ArrayLike,
        speed_step_days: float,
        state_step_days: float,
    ) -> tuple[_Positions, _Table, _Table, _Table, list[tuple[int, str]], list[int]]:
        """A chart at each instant: (points (n, k, 4), houses (n, 18),
        house numbers (n, k), aspects (m, 7), failures, fallback rows);
        see src/tarvexkit/native/chart.cpp."""
    def convert(self, julian_days: numpy.typing.ArrayLike, from_scale: str, to_scale: str) -> _Days: ...
    def tdb_seconds(self, julian_days: numpy.typing.ArrayLike, scale: str) -> _Days: ...
    def leap_second_entries(self) -> list[tuple[float, float]] | None: ...
    def eop_coverage(self) -> tuple[float, float] | None: ...
    def earth_rotation(self) -> EarthRotation: ...
    @property
    def supported_range(self) -> tuple[float, float]: ...
    @property
    def kernel_metadata(self) -> _KernelMetadataDict: ...

@final
class EarthRotation:
    """The leap-second kernel and Earth orientation table of a store (from
    Store.earth_rotation(), or opened from files): altitude, azimuth and hour angle of places of date with the
    engine's UT1, TT and pole. Immutable; usable from any thread."""

    def __new__(
        cls, leap_seconds_path: str, leap_seconds_sha256: str, eop_path: str, eop_sha256: str
    ) -> EarthRotation: ...
    def horizon(
        self,
        julian_days: numpy.typing.ArrayLike,
        scale: str,
        right_ascension_deg: numpy.typing.ArrayLike,
        declination_deg: numpy.typing.ArrayLike,
        longitude_east_deg: float,
        latitude_deg: float,
        height_m: float,
    ) -> numpy.ndarray[tuple[int, int, int], numpy.dtype[numpy.float64]]: ...
    def orientation(
        self, julian_days: numpy.typing.ArrayLike, scale: str, celestial: bool = True
    ) -> numpy.ndarray[tuple[int, int], numpy.dtype[numpy.float64]]: ...
# Astrology over 1-D float64 arrays of one length (astrology.cpp). The
# functions that can fail per element return the rows (NaN where failed)
# with a list of (index, message).
_Table = numpy.ndarray[tuple[int, int], numpy.dtype[numpy.float64]]

def house_cusps(
    system: str,
    ramc_deg: numpy.typing.ArrayLike,
    latitude_deg: numpy.typing.ArrayLike,
    obliquity_deg: numpy.typing.ArrayLike,
) -> tuple[_Table, list[tuple[int, str]]]: ...
def house_systems() -> list[tuple[str, str, bool]]: ...
def site_sky(
    ut1: numpy.typing.ArrayLike, tt: numpy.typing.ArrayLike, longitude_east_deg: numpy.typing.ArrayLike
) -> _Table: ...
def ayanamsha(name: str, tt: numpy.typing.ArrayLike) -> _Table: ...
def ayanamshas() -> list[tuple[str, str | None, float, float | None, str]]: ...
def mean_lunar_points(tt: numpy.typing.ArrayLike) -> _Table: ...
def osculating_lunar_points(
    rows: numpy.typing.ArrayLike, tdb: numpy.typing.ArrayLike, state_step_days: float
) -> tuple[_Table, list[tuple[int, str]]]: ...
def moon_stencil_days(tdb: numpy.typing.ArrayLike, state_step_days: float) -> _Table: ...

# The search core (search_functions.cpp). A quantity is a callable
# f(instants, tags) -> values (instants and tags as float64 arrays), or a
# native one: ("horizon", store, earth_rotation, body, options,
# longitude_east_deg, latitude_deg, height_m, value, altitude_deg).
_Quantity: TypeAlias = (
    Callable[[_Days, _Days], numpy.typing.ArrayLike]
    | tuple[str, Store, EarthRotation, str, tarvex.PositionOptions, float, float, float, str, float]
)

def find_crossings(
    quantity: _Quantity, spans: numpy.typing.ArrayLike, levels: numpy.typing.ArrayLike, step_days: float,
    threads: int | None = None,
) -> _Table: ...
def find_extrema(
    quantity: _Quantity, spans: numpy.typing.ArrayLike, step_days: float, threads: int | None = None
) -> _Table: ...
def sample(
    quantity: _Quantity, spans: numpy.typing.ArrayLike, step_days: float, threads: int | None = None
) -> _Table: ...
def refine_crossings(
    quantity: _Quantity,
    low: numpy.typing.ArrayLike,
    high: numpy.typing.ArrayLike,
    value_low: numpy.typing.ArrayLike,
    value_high: numpy.typing.ArrayLike,
    tags: numpy.typing.ArrayLike,
    threads: int | None = None,
) -> _Days: ...

TOLERANCE_DAYS: float
EXTREMUM_TOLERANCE_DAYS: float
HORIZON_STEP_DAYS: float
SATELLITE_STEPS_PER_REVOLUTION: float
SATELLITE_DIFFERENCE_DAYS: float
QUARTER_STEP_DAYS: float
MOON_STEP_DAYS: float
STEP_DAYS: float
SPEED_DIFFERENCE_DAYS: float

# Numbers shared with the native code (shared_numbers.hpp).
AU_KM: float
MOON_MEAN_RADIUS_KM: float
MOON_K_PENUMBRA: float
MOON_K_UMBRA: float

# The eclipse geometry (eclipse_functions.cpp) over (n, 2, 4) place arrays
# of Store.positions, flattened: (source or body, Moon) per instant.
def solar_shadow(places: numpy.typing.ArrayLike, source_radius_km: float, umbra_k: float = ...) -> _Table: ...
def lunar_shadow(places: numpy.typing.ArrayLike) -> _Table: ...
def discs(places: numpy.typing.ArrayLike, body_radius_km: float, umbra_k: float = ...) -> _Table: ...
def eclipse_radii() -> tuple[float, float, float, float, float]: ...

# Apparent places of stars (star_places.cpp): catalogue rows (n, 7) of unit
# direction, proper motion vector (rad/yr) and parallax (mas), flattened;
# observer states (m, 6) au and au/day and Sun positions (m, 3) au,
# barycentric ICRF, flattened. Returns (m, n, 4).
def star_places(
    catalogue: numpy.typing.ArrayLike,
    catalogue_epoch_tdb: float,
    tdb: numpy.typing.ArrayLike,
    observer: numpy.typing.ArrayLike,
    sun: numpy.typing.ArrayLike,
    options: tarvex.PositionOptions,
    threads: int | None = None,
) -> _Positions: ...
def integrate_orbit(
    store: Store, state: numpy.typing.ArrayLike, center: float, start_s: float, end_s: float,
    perturbers: numpy.typing.ArrayLike, gm: numpy.typing.ArrayLike, radius_au: numpy.typing.ArrayLike, sun: int,
    epsilon: float, nodes_per_step: int, min_step_days: float,
) -> tuple[_Table, _Table, int, int, int]: ...
