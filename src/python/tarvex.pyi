# Type information for the tarvex extension module.
#
# Every class is final (none can be subclassed) and immutable except Engine;
# attributes are read-only properties that build a new object on each read.
# Names that start with an underscore exist only here, for the type checker.

import enum
from collections.abc import Sequence
from typing import Final, Literal, NoReturn, SupportsFloat, SupportsIndex, TypeAlias, TypedDict, final

import numpy
import numpy.typing

# Anything the module converts to a float: float, int, NumPy scalars,
# objects with __float__ or __index__.
_Float: TypeAlias = SupportsFloat | SupportsIndex
# Boolean switches take True/False or a NumPy boolean; plain integers are refused.
_Bool: TypeAlias = bool | numpy.bool_

# Canonical names, as the attributes report them. Parameters that take a
# name accept more spellings (case, surrounding white space, aliases such as
# "whole-sign"), so they are typed as plain str.
_TimeScaleName: TypeAlias = Literal["utc", "ut1", "tt", "tdb"]
_OriginName: TypeAlias = Literal["barycentric", "heliocentric", "geocentric", "topocentric"]
_CoordinateSystemName: TypeAlias = Literal["ecliptic", "equatorial"]
_ReferenceEpochName: TypeAlias = Literal["j2000", "of_date"]

# Enumeration parameters take a name, an object of the matching tarvex
# enumeration class, or, at run time, any object whose `name` attribute is a
# str. The stub admits Python `enum.Enum` members of that broader family
# (their `name` is the member name) but not the other tarvex enumerations, so
# that passing a HouseSystem where a SeasonEvent belongs is caught.
_HouseSystemLike: TypeAlias = str | HouseSystem | enum.Enum
_SeasonEventLike: TypeAlias = str | SeasonEvent | enum.Enum
_LunationEventLike: TypeAlias = str | LunationEvent | enum.Enum
_SiderealModeLike: TypeAlias = str | SiderealMode | enum.Enum
_HorizonEventKindLike: TypeAlias = str | HorizonEventKind | enum.Enum

# house_cusps takes an Instant (its Julian day, scale ignored) or a number.
_JulianDayLike: TypeAlias = Instant | SupportsFloat | SupportsIndex

# Batch positions: float64 array of shape (instants, bodies, 4) holding
# longitude (deg), latitude (deg), distance (au), longitude speed (deg/day).
_PositionArray: TypeAlias = numpy.typing.NDArray[numpy.float64]

J2000_JULIAN_DAY: Final[float]
SUN_UPPER_LIMB_ALTITUDE_DEG: Final[float]
MEAN_REFRACTION_ALTITUDE_DEG: Final[float]
# Private: the C interface through which tarvexkit reads PositionOptions whole.
__options_capi__: Final[object]

@final
class Instant:
    """Julian day with an explicit time scale."""

    def __new__(cls, julian_day: _Float, time_scale: str = "tdb") -> Instant: ...
    @classmethod
    def tdb(cls, julian_day: _Float) -> Instant: ...
    @classmethod
    def tt(cls, julian_day: _Float) -> Instant: ...
    @classmethod
    def utc(cls, julian_day: _Float) -> Instant: ...
    @classmethod
    def ut1(cls, julian_day: _Float) -> Instant: ...
    @property
    def julian_day(self) -> float: ...
    @property
    def time_scale(self) -> _TimeScaleName: ...

@final
class GeodeticObserver:
    """Geodetic site on Earth (east longitude, GRS80/ITRS, height in metres)."""

    def __new__(cls, longitude_east_deg: _Float, latitude_deg: _Float, height_m: _Float = 0.0) -> GeodeticObserver: ...
    @property
    def longitude_east_deg(self) -> float: ...
    @property
    def latitude_deg(self) -> float: ...
    @property
    def height_m(self) -> float: ...

@final
class PositionOptions:
    """Explicit geometric or apparent request options."""

    def __new__(
        cls,
        origin: str,
        coordinate_system: str,
        reference_epoch: str = "j2000",
        apparent: _Bool = False,
        true_ecliptic: _Bool = False,
        light_time: _Bool = False,
        aberration: _Bool = False,
        gravitational_deflection: _Bool = False,
        precession: _Bool = False,
        nutation: _Bool = False,
        observer: GeodeticObserver | None = None,
    ) -> PositionOptions: ...
    @property
    def origin(self) -> _OriginName: ...
    @property
    def observer(self) -> GeodeticObserver | None: ...
    @property
    def coordinate_system(self) -> _CoordinateSystemName: ...
    @property
    def reference_epoch(self) -> _ReferenceEpochName: ...
    @property
    def apparent(self) -> bool: ...
    @property
    def true_ecliptic(self) -> bool: ...

# The result classes below have no constructor: calling them raises TypeError.

@final
class Position:
    """Spherical position returned by a scalar request.

    Ecliptic or equatorial (then longitude is right ascension) in degrees,
    distance in au, longitude speed in degrees per day.
    """

    def __new__(cls) -> NoReturn: ...
    @property
    def longitude_deg(self) -> float: ...
    @property
    def latitude_deg(self) -> float: ...
    @property
    def distance_au(self) -> float: ...
    @property
    def longitude_speed_deg_per_day(self) -> float: ...

@final
class DateRange:
    """Inclusive kernel coverage in the declared time scale."""

    def __new__(cls) -> NoReturn: ...
    @property
    def start_julian_day(self) -> float: ...
    @property
    def end_julian_day(self) -> float: ...
    @property
    def time_scale(self) -> _TimeScaleName: ...

class _KernelMetadataDict(TypedDict):
    engine_version: str
    kernel_name: str
    kernel_sha256: str
    coordinate_frame: str
    additional_kernels: list[tuple[str, str]]

@final
class KernelMetadata:
    """Provenance recorded when the kernel was opened."""

    def __new__(cls) -> NoReturn: ...
    @property
    def engine_version(self) -> str: ...
    @property
    def kernel_name(self) -> str: ...
    @property
    def kernel_sha256(self) -> str: ...
    @property
    def coordinate_frame(self) -> str: ...
    def additional_kernels(self) -> list[tuple[str, str]]:
        """(name, sha256) of each additional kernel, in attachment order."""
    def as_dict(self) -> _KernelMetadataDict: ...

@final
class HouseSystem:
    """House-division algorithm (Placidus, Campanus, Equal, Whole Sign)."""

    def __new__(cls, name: str) -> HouseSystem: ...
    @classmethod
    def placidus(cls) -> HouseSystem: ...
    @classmethod
    def campanus(cls) -> HouseSystem: ...
    @classmethod
    def equal(cls) -> HouseSystem: ...
    @classmethod
    def whole_sign(cls) -> HouseSystem: ...
    @property
    def name(self) -> Literal["placidus", "campanus", "equal", "whole_sign"]: ...

@final
class SeasonEvent:
    """Equinox or solstice (Sun apparent ecliptic longitude 0/90/180/270°)."""

    def __new__(cls, name: str) -> SeasonEvent: ...
    @classmethod
    def march_equinox(cls) -> SeasonEvent: ...
    @classmethod
    def june_solstice(cls) -> SeasonEvent: ...
    @classmethod
    def september_equinox(cls) -> SeasonEvent: ...
    @classmethod
    def december_solstice(cls) -> SeasonEvent: ...
    @property
    def name(self) -> Literal["march_equinox", "june_solstice", "september_equinox", "december_solstice"]: ...

@final
class LunationEvent:
    """New or full Moon (apparent geocentric elongation 0°/180°)."""

    def __new__(cls, name: str) -> LunationEvent: ...
    @classmethod
    def new_moon(cls) -> LunationEvent: ...
    @classmethod
    def full_moon(cls) -> LunationEvent: ...
    @property
    def name(self) -> Literal["new_moon", "full_moon"]: ...

@final
class SiderealMode:
    """Lahiri or Fagan–Bradley ayanamsha applied to ecliptic of date."""

    def __new__(cls, name: str) -> SiderealMode: ...
    @classmethod
    def lahiri(cls) -> SiderealMode: ...
    @classmethod
    def fagan_bradley(cls) -> SiderealMode: ...
    @property
    def name(self) -> Literal["lahiri", "fagan_bradley"]: ...

@final
class HorizonEventKind:
    """Rise, set, or meridian transit of the Sun or Moon."""

    def __new__(cls, name: str) -> HorizonEventKind: ...
    @classmethod
    def rise(cls) -> HorizonEventKind: ...
    # Named after the event; inside this class body `set` is this method,
    # not the builtin type.
    @classmethod
    def set(cls) -> HorizonEventKind: ...
    @classmethod
    def transit(cls) -> HorizonEventKind: ...
    @property
    def name(self) -> Literal["rise", "set", "transit"]: ...

@final
class HouseCusps:
    """Ecliptic longitudes of the twelve house cusps plus ASC/MC."""

    def __new__(cls) -> NoReturn: ...
    @property
    def system(self) -> HouseSystem: ...
    @property
    def cusp_ecliptic_longitude_deg(self) -> list[float]:
        """Cusps 1 to 12 in order; a new list on each read."""
    @property
    def ascendant_deg(self) -> float: ...
    @property
    def midheaven_deg(self) -> float: ...
    @property
    def ramc_deg(self) -> float: ...
    @property
    def local_sidereal_time_deg(self) -> float: ...
    @property
    def true_obliquity_deg(self) -> float: ...

@final
class RiseSetTransit:
    """Same-day UT1 rise, set, and transit epochs.

    Rise and set are None when the body does not cross the altitude that day.
    """

    def __new__(cls) -> NoReturn: ...
    @property
    def transit_ut1_julian_day(self) -> float: ...
    @property
    def rise_ut1_julian_day(self) -> float | None: ...
    @property
    def set_ut1_julian_day(self) -> float | None: ...

@final
class HorizonEvent:
    """One horizon event, as a UT1 Julian day."""

    def __new__(cls) -> NoReturn: ...
    @property
    def kind(self) -> HorizonEventKind: ...
    @property
    def ut1_julian_day(self) -> float: ...

@final
class Engine:
    """Open SPK kernel and evaluate geometric or apparent spherical positions.

    Bound to the thread that created it; cannot be pickled or copied.
    """

    def __new__(
        cls,
        path: str,
        sha256: str,
        leap_second_kernel: str | None = None,
        leap_second_sha256: str | None = None,
        eop: str | None = None,
        eop_sha256: str | None = None,
    ) -> Engine: ...
    def with_leap_second_kernel(self, path: str, sha256: str) -> None: ...
    def with_eop(self, path: str, sha256: str) -> None: ...
    def with_time_kernels(
        self, leap_second_kernel: str, leap_second_sha256: str, eop: str, eop_sha256: str
    ) -> None: ...
    def with_additional_kernel_file(self, path: str, sha256: str) -> None: ...
    def position(self, body: str, instant: Instant, options: PositionOptions) -> Position: ...
    def positions(
        self, bodies: Sequence[str], instants: Sequence[Instant], options: PositionOptions
    ) -> _PositionArray:
        """Batch positions, a new float64 array of shape (len(instants), len(bodies), 4).

        Columns: longitude (deg), latitude (deg), distance (au), longitude
        speed (deg/day).
        """
    @property
    def supported_range(self) -> DateRange: ...
    @property
    def kernel_metadata(self) -> KernelMetadata: ...
    def rise_set_transit(
        self, body: str, observer: GeodeticObserver, around: Instant, altitude_deg: _Float
    ) -> RiseSetTransit: ...
    def next_horizon_event(
        self,
        body: str,
        observer: GeodeticObserver,
        after: Instant,
        kind: _HorizonEventKindLike,
        altitude_deg: _Float,
    ) -> HorizonEvent: ...
    def next_season_event(self, after: Instant, kind: _SeasonEventLike) -> Instant:
        """Next equinox or solstice after `after`, as an Instant in TT."""
    def next_lunation(self, after: Instant, kind: _LunationEventLike) -> Instant:
        """Next new or full Moon after `after`, as an Instant in TT."""
    def sidereal_position(
        self, body: str, instant: Instant, options: PositionOptions, mode: _SiderealModeLike
    ) -> Position: ...

def open(
    path: str,
    sha256: str,
    leap_second_kernel: str | None = None,
    leap_second_sha256: str | None = None,
    eop: str | None = None,
    eop_sha256: str | None = None,
) -> Engine:
    """Opens an SPK/BSP kernel. `sha256` is the caller-verified 64-hex checksum."""

def geometric(
    origin: str = "geocentric", coordinate_system: str = "ecliptic", observer: GeodeticObserver | None = None
) -> PositionOptions:
    """Geometric J2000 request with every correction switch off."""

def apparent(
    origin: str = "geocentric", coordinate_system: str = "ecliptic", observer: GeodeticObserver | None = None
) -> PositionOptions:
    """Apparent-place convenience at the true equinox/ecliptic of date."""

def house_cusps(
    observer: GeodeticObserver, ut1: _JulianDayLike, tt: _JulianDayLike, system: _HouseSystemLike
) -> HouseCusps:
    """Ecliptic house cusps at a UT1/TT pair (no SPK kernel, no polar motion)."""
