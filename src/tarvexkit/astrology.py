"""House cusps of eighteen systems, ayanamshas and the lunar points, on
NumPy arrays. The maths is the C++ core's (src/core/house_systems.hpp,
ayanamshas.hpp, lunar_points.hpp) reached through `tarvexkit._native`;
`Ephemeris.houses`, `.sidereal_positions` and `.lunar_points` feed it from
a kernel and the ephemeris's own UT1 and TT.

The ascendant is the eastern (rising) meeting of ecliptic and horizon at
every latitude, also inside the polar circles where the midheaven can lie
below the horizon.

Undefined house cusps (Placidus or Koch inside the polar circles, for
example) are an explicit outcome:
- a scalar call raises `HouseCuspsUndefined` (a ValueError) whose message
  names the system and the reason;
- an array call returns NaN in the rows without cusps and says which rows
  have them in `Houses.defined`; `Houses.reasons` holds each undefined
  row's message. `Houses.require()` turns that into the scalar behaviour.
`polar_fallback="porphyry"` asks instead for Porphyry's cusps where a
system is undefined inside the polar circles, as astrology programs offer;
`Houses.fallback` says which rows have them.

In a sidereal zodiac (`zodiac=` an ayanamsha's name) every longitude and
cusp has the zodiac's shift taken off; Whole Sign houses start from the
sign of the sidereal ascendant, the equal systems from the sidereal angles.

What a name means. A sidereal zodiac is fixed to the stars, and the true
equinox nods against them (the nutation in longitude, up to 17"). For every
name pyswisseph also has, the kit does what its FLG_SIDEREAL does (found by
running it, calc and houses_ex): the shift is the mean ayanamsha plus the
nutation in longitude, i.e. the sidereal place is the mean-equinox
longitude less the mean ayanamsha, and the mean ayanamsha is pyswisseph's
get_ayanamsa_ex(..., FLG_NONUT): the anchored names carry pyswisseph's
value at J2000.0 by the IAU 2006 general precession (within 0.045" of it
over 1900-2100), true_chitra and galactic_centre_0_sag put the star's
place with annual aberration (Spica; Sgr A*) at 180 and 240 degrees, and
aldebaran_15_tau is anchored, as pyswisseph has it. Sidereal longitudes and
cusps agree with pyswisseph's to 0.1" over 1900-2100 (tests).

The strict module's two definitions are `strict_lahiri` and
`strict_fagan_bradley`: the mean ayanamsha of tarvex.sidereal (Lahiri
23 deg 15' at 1956 March 21 0h TT; Fagan-Bradley 24 deg 02' 31.36" at
B1950) taken off true-equinox longitudes, as
`tarvex.Engine.sidereal_position` does. Places by "lahiri" exceed those
by "strict_lahiri" by 16.0" (the mean values) less the nutation in
longitude: by 29.9" on 2000 January 1.5, between -2.9" and 34.9" over
1900-2100; "fagan_bradley" differs from "strict_fagan_bradley" by 0.4"
and the nutation.
"""

from __future__ import annotations

from dataclasses import dataclass, field
from typing import Any, Generic, overload

import numpy as np
import numpy.typing as npt
from typing_extensions import TypeVar

from . import _native
from .arguments import near_misses, shown
from .times import Array, Scalar, Times

_FloatArray = npt.NDArray[np.float64]
_BoolArray = npt.NDArray[np.bool_]
# `Houses` of one sky hold floats and bools, of many skies arrays (for type
# checkers; a bare `Houses` leaves them open).
F = TypeVar("F", default=Any, covariant=True)
B = TypeVar("B", default=Any, covariant=True)
_Real = float | np.integer[Any] | np.floating[Any]

# (name, letter, iterative) of each house system, in the core's order.
HOUSE_SYSTEM_TABLE: tuple[tuple[str, str, bool], ...] = tuple(_native.house_systems())
HOUSE_SYSTEMS: tuple[str, ...] = tuple(name for name, _, _ in HOUSE_SYSTEM_TABLE)
# (name, star or None, the star's sidereal longitude or the value at the
# epoch, epoch TT Julian day or None, rule: "anchored", "star" or "strict").
AYANAMSHA_TABLE: tuple[tuple[str, str | None, float, float | None, str], ...] = tuple(_native.ayanamshas())
AYANAMSHAS: tuple[str, ...] = tuple(row[0] for row in AYANAMSHA_TABLE)
# Spellings the strict module accepts for the systems it shares with us.
_HOUSE_ALIASES = {"equal_ascendant": "equal", "whole-sign": "whole_sign", "wholesign": "whole_sign"}


class HouseCuspsUndefined(ValueError):
    """A house system has no cusps for this sky (for example Placidus inside
    the polar circles). `system` is the system's name, `reason` the core's
    message ("placidus house cusps are undefined within the polar circles ...")."""

    def __init__(self, system: str, reason: str, index: int | None = None) -> None:
        where = "" if index is None else f" (element {index})"
        hint = ("; pass polar_fallback=\"porphyry\" for Porphyry's cusps there"
                if "polar" in reason and system != "porphyry" else "")
        super().__init__(f"{reason}{where}{hint}")
        self.system = system
        self.reason = reason
        self.index = index


def house_system_name(system: str) -> str:
    """The canonical name of a house system: a name of `HOUSE_SYSTEMS` (case
    and surrounding white space ignored, '-' read as '_'), its one-letter key
    as astrology programs use it (upper case, e.g. 'P', 'K'), or 'equal'."""
    if not isinstance(system, str):
        raise TypeError(f"house system must be a str, not {type(system).__name__}")
    text = system.strip()
    if len(text) == 1:
        for name, letter, _ in HOUSE_SYSTEM_TABLE:
            if letter == text:
                return name
    key = text.lower().replace("-", "_").replace(" ", "_")
    key = _HOUSE_ALIASES.get(key, key)
    if key not in HOUSE_SYSTEMS:
        raise ValueError(f"unknown house system {shown(system)}{near_misses(key, HOUSE_SYSTEMS)}; "
                         f"use one of {', '.join(HOUSE_SYSTEMS)}")
    return key


def ayanamsha_name(name: str) -> str:
    """The canonical name of an ayanamsha of `AYANAMSHAS` (case, white space and '-' forgiven)."""
    if not isinstance(name, str):
        raise TypeError(f"ayanamsha must be a str, not {type(name).__name__}")
    key = name.strip().lower().replace("-", "_").replace(" ", "_")
    if key not in AYANAMSHAS:
        raise ValueError(f"unknown ayanamsha {shown(name)}{near_misses(key, AYANAMSHAS)}; "
                         f"use one of {', '.join(AYANAMSHAS)}")
    return key


def _flat(values: npt.ArrayLike, name: str) -> _FloatArray:
    array = np.asarray(values, dtype=np.float64)
    if array.ndim > 1:
        raise ValueError(f"{name} must be a scalar or a 1-D array, not shape {array.shape}")
    return array


def _out(array: _FloatArray, scalar: bool) -> Any:
    return float(array[0]) if scalar else array


@dataclass(frozen=True)
class Houses(Generic[F, B]):
    """Cusps of one house system: floats for a scalar call, arrays (one row
    per element) for an array call. Longitudes are ecliptic of date, degrees
    in [0, 360); NaN where `defined` is False."""

    system: str
    cusps_deg: _FloatArray  # (12,) or (n, 12): cusp 1 .. 12
    ascendant_deg: F
    midheaven_deg: F
    vertex_deg: F
    equatorial_ascendant_deg: F
    ramc_deg: F
    obliquity_deg: F
    defined: B  # bool or boolean array
    reasons: dict[int, str] = field(default_factory=dict)  # index -> message, undefined rows
    zodiac: str = "tropical"  # or the ayanamsha's name
    fallback: B = False  # type: ignore[assignment]  # bool or boolean array: rows whose cusps are `fallback_system`'s
    fallback_system: str | None = None  # "porphyry" where a fallback was asked for

    def require(self) -> Houses[F, B]:
        """These houses, or HouseCuspsUndefined for the first undefined element."""
        if self.reasons:
            index = min(self.reasons)
            raise HouseCuspsUndefined(self.system, self.reasons[index], index if isinstance(self.defined, np.ndarray) else None)
        return self

    def to_dict(self) -> dict[str, Any]:
        """Plain lists and floats (None for NaN), for JSON."""

        def plain(value: Any) -> Any:
            array = np.asarray(value, dtype=np.float64)
            listed = array.tolist()
            if array.ndim == 0:
                return None if np.isnan(array) else listed
            return [plain(item) for item in array] if array.ndim > 1 else [None if np.isnan(x) else float(x) for x in array]

        return {
            "system": self.system,
            "cusps_deg": plain(self.cusps_deg),
            "ascendant_deg": plain(self.ascendant_deg),
            "midheaven_deg": plain(self.midheaven_deg),
            "vertex_deg": plain(self.vertex_deg),
            "equatorial_ascendant_deg": plain(self.equatorial_ascendant_deg),
            "ramc_deg": plain(self.ramc_deg),
            "obliquity_deg": plain(self.obliquity_deg),
            "defined": np.asarray(self.defined).tolist(),
            "zodiac": self.zodiac,
            "fallback": np.asarray(self.fallback).tolist(),
            "fallback_system": self.fallback_system,
        }


POLAR_FALLBACKS = ("porphyry",)


def polar_fallback_name(polar_fallback: str | None) -> str | None:
    """None, or the house system used where the asked one is undefined inside the polar circles."""
    if polar_fallback is None:
        return None
    name = house_system_name(polar_fallback)
    if name not in POLAR_FALLBACKS:
        raise ValueError(f"polar_fallback must be None or 'porphyry', not {shown(str(polar_fallback))}")
    return name


@overload
def houses(system: str, *, ramc_deg: _Real, latitude_deg: _Real, obliquity_deg: _Real,
           polar_fallback: str | None = None) -> Houses[float, bool]: ...
@overload
def houses(system: str, *, ramc_deg: npt.ArrayLike, latitude_deg: npt.ArrayLike, obliquity_deg: npt.ArrayLike,
           polar_fallback: str | None = None) -> Houses[_FloatArray, _BoolArray]: ...
def houses(
    system: str,
    *,
    ramc_deg: npt.ArrayLike,
    latitude_deg: npt.ArrayLike,
    obliquity_deg: npt.ArrayLike,
    polar_fallback: str | None = None,
) -> Houses:
    """House cusps from RAMC, geographic latitude and obliquity (degrees);
    numbers or 1-D arrays, broadcast together.

    All scalars: raises `HouseCuspsUndefined` when the system has no cusps.
    Any array: NaN rows and `defined` False there (see the module text).
    `polar_fallback="porphyry"`: Porphyry's cusps instead where the system
    is undefined inside the polar circles (`Houses.fallback` True there).
    """
    name = house_system_name(system)
    fallback = polar_fallback_name(polar_fallback)
    ramc, lat, eps = (_flat(v, n) for v, n in ((ramc_deg, "ramc_deg"), (latitude_deg, "latitude_deg"),
                                              (obliquity_deg, "obliquity_deg")))
    scalar = ramc.ndim == lat.ndim == eps.ndim == 0
    try:
        ramc, lat, eps = (np.ascontiguousarray(a, dtype=np.float64).reshape(-1)
                          for a in np.broadcast_arrays(np.atleast_1d(ramc), np.atleast_1d(lat), np.atleast_1d(eps)))
    except ValueError as error:
        raise ValueError(f"ramc_deg, latitude_deg and obliquity_deg do not broadcast together: {error}") from None
    return _houses(name, ramc, lat, eps, scalar, fallback)


def _houses(name: str, ramc: _FloatArray, lat: _FloatArray, eps: _FloatArray, scalar: bool,
            fallback: str | None = None) -> Houses:
    table, failures = _native.house_cusps(name, ramc, lat, eps)
    reasons = {int(i): str(message) for i, message in failures}
    substituted = np.zeros(len(ramc), dtype=np.bool_)
    if fallback is not None and reasons:
        rows = np.array(sorted(reasons), dtype=np.intp)
        polar = rows[np.abs(lat[rows]) + eps[rows] >= 90.0]
        if polar.size:
            other, other_failures = _native.house_cusps(fallback, np.ascontiguousarray(ramc[polar]),
                                                        np.ascontiguousarray(lat[polar]),
                                                        np.ascontiguousarray(eps[polar]))
            failed = {int(i) for i, _ in other_failures}
            for j, row in enumerate(polar):
                if j not in failed:
                    table[row] = other[j]
                    substituted[row] = True
                    del reasons[int(row)]
    if scalar and reasons:
        raise HouseCuspsUndefined(name, reasons[0])
    defined = np.ones(len(ramc), dtype=np.bool_)
    defined[list(reasons)] = False
    return Houses(
        system=name,
        cusps_deg=table[0, :12] if scalar else table[:, :12],
        ascendant_deg=_out(table[:, 12], scalar),
        midheaven_deg=_out(table[:, 13], scalar),
        vertex_deg=_out(table[:, 14], scalar),
        equatorial_ascendant_deg=_out(table[:, 15], scalar),
        ramc_deg=_out(ramc, scalar),
        obliquity_deg=_out(eps, scalar),
        defined=bool(defined[0]) if scalar else defined,
        reasons=reasons,
        fallback=bool(substituted[0]) if scalar else substituted,
        fallback_system=fallback,
    )


def site_houses(table: _FloatArray, failures: list[tuple[int, str]], fallback_rows: list[int], system: str,
                scalar: bool, *, zodiac: str = "tropical", polar_fallback: str | None = None) -> Houses:
    """`Houses` from the native store's site houses (`Store.chart`, whose
    table has one row per instant: cusps 1..12, ascendant, midheaven,
    vertex, east point, RAMC, obliquity, already in the `zodiac`), its
    failures (index, message) and the rows that took the polar fallback.
    A scalar raises `HouseCuspsUndefined` for a failure."""
    reasons = {int(i): str(message) for i, message in failures}
    if scalar and reasons:
        raise HouseCuspsUndefined(system, reasons[0])
    defined = np.ones(len(table), dtype=np.bool_)
    defined[list(reasons)] = False
    substituted = np.zeros(len(table), dtype=np.bool_)
    substituted[list(fallback_rows)] = True
    return Houses(
        system=system,
        cusps_deg=table[0, :12] if scalar else table[:, :12],
        ascendant_deg=_out(table[:, 12], scalar),
        midheaven_deg=_out(table[:, 13], scalar),
        vertex_deg=_out(table[:, 14], scalar),
        equatorial_ascendant_deg=_out(table[:, 15], scalar),
        ramc_deg=_out(table[:, 16], scalar),
        obliquity_deg=_out(table[:, 17], scalar),
        defined=bool(defined[0]) if scalar else defined,
        reasons=reasons,
        zodiac=zodiac,
        fallback=bool(substituted[0]) if scalar else substituted,
        fallback_system=polar_fallback,
    )


@overload
def ayanamsha_deg(name: str, tt: _Real | Times[Scalar]) -> float: ...
@overload
def ayanamsha_deg(name: str, tt: npt.ArrayLike | Times[Array]) -> _FloatArray: ...
def ayanamsha_deg(name: str, tt: npt.ArrayLike | Times) -> Any:
    """The mean ayanamsha `name` at TT Julian days (for the names pyswisseph
    has, its get_ayanamsa_ex with FLG_NONUT): a float for a number, an array
    for an array. `tt` may also be a `Times` (its TT is used). A sidereal
    place takes this plus the nutation in longitude off a true-equinox
    longitude, except for strict_lahiri and strict_fagan_bradley (see the
    module text)."""
    key = ayanamsha_name(name)
    days: npt.ArrayLike = tt.tt if isinstance(tt, Times) else tt
    array = _flat(days, "tt")
    check_ayanamsha_span(array)
    values = _native.ayanamsha(key, np.ascontiguousarray(np.atleast_1d(array)))[:, 0]
    return _out(values, array.ndim == 0)


# The span around J2000 where an ayanamsha is given: the precession series
# behind it mean nothing far beyond.
AYANAMSHA_SPAN_DAYS = 1.0e7


def check_ayanamsha_span(tt: npt.ArrayLike) -> None:
    """ValueError naming the instant farthest from J2000 (or not finite)
    when one lies outside AYANAMSHA_SPAN_DAYS."""
    away = np.abs(np.asarray(tt, dtype=np.float64) - 2451545.0)
    if not np.isfinite(away).all():
        raise ValueError(f"tt must be finite, not {float(away[~np.isfinite(away)].flat[0])!r}")
    if away.size and not (away <= AYANAMSHA_SPAN_DAYS).all():
        worst = float(np.max(away))
        raise ValueError(f"tt must lie within {AYANAMSHA_SPAN_DAYS:.0f} days (about 27,000 years) of J2000 "
                         f"(2451545.0) for an ayanamsha; one is {worst:.6g} days away")


def ayanamsha_table(name: str, tt: _FloatArray) -> _FloatArray:
    """(n, 2): what the zodiac `name` takes off a true-equinox longitude and
    its rate (deg, deg/day) at TT Julian days (the mean ayanamsha plus the
    nutation in longitude, or for the strict names the mean ayanamsha)."""
    table = np.asarray(_native.ayanamsha(ayanamsha_name(name), np.ascontiguousarray(tt, dtype=np.float64)))
    return np.ascontiguousarray(table[:, [2, 1]])


def mean_lunar_points(tt: npt.ArrayLike) -> _FloatArray:
    """(n, 3): mean node, mean apogee longitude and latitude, mean equinox
    of date, at TT Julian days."""
    return np.asarray(_native.mean_lunar_points(np.ascontiguousarray(np.atleast_1d(_flat(tt, "tt")))))
