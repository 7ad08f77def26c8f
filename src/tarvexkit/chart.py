"""A chart for one instant and site, as plain data: `Ephemeris.chart(...)`.

Longitudes are geocentric apparent ecliptic longitudes of date (true
equinox), the lunar points on the same equinox; in a sidereal zodiac every
longitude has the zodiac's shift taken off (the mean ayanamsha plus the
nutation in longitude, as pyswisseph's FLG_SIDEREAL; see
`tarvexkit.astrology`), and the houses are the
sidereal ones of `tarvexkit.astrology` (Whole Sign from the sign of the
sidereal ascendant). A speed is the time derivative of the longitude
printed beside it, in the chart's zodiac (the central difference over
+-`searches.STATION_DIFFERENCE_DAYS`), and a body is retrograde when it is negative: the flag changes at the instants
`Ephemeris.stations` returns for that zodiac. Aspects are found between
every pair of points whose angular separation lies within the aspect's orb
of its angle; an aspect is applying when the separation is moving towards
the exact angle.

`Chart.to_dict()` holds plain Python values only (str, float, int, bool,
None, lists and dicts): the instant in UTC (ISO 8601) and in the zone the
chart was asked in, the site, the house system (and the fallback used
inside the polar circles), the zodiac, and the names and SHA-256 of the
files it was computed from. `Chart.from_dict(chart.to_dict()) == chart`.
"""

from __future__ import annotations

import dataclasses
import math
import os
from collections.abc import Callable, Sequence
from dataclasses import dataclass, field
from datetime import timezone, tzinfo
from typing import TYPE_CHECKING, Any
from zoneinfo import ZoneInfo

import numpy as np

import tarvex

from .arguments import near_misses, shown
from .astrology import HouseCuspsUndefined, ayanamsha_name, house_system_name, polar_fallback_name
from .lunar import STATE_STEP_DAYS, is_lunar_point, lunar_point_name
from .results import DictResult
from .results import plain as _plain  # noqa: F401  (the name other modules imported from here)
from .searches import MINOR_ASPECTS, SIGNS, STATION_DIFFERENCE_DAYS, aspect_angles
from .times import Times

if TYPE_CHECKING:
    from ._native import Store
    from .data import DataFile

CHART_BODIES = ("sun", "moon", "mercury", "venus", "mars", "jupiter", "saturn", "uranus", "neptune", "pluto",
                "true_node")
# Orbs in degrees by aspect; an angle given as a number without a name gets ORB_OTHER_DEG.
ORBS_DEG = {"conjunction": 8.0, "opposition": 8.0, "trine": 7.0, "square": 7.0, "sextile": 5.0,
            "quincunx": 3.0, "semisextile": 2.0, "semisquare": 2.0, "sesquiquadrate": 2.0, "quintile": 2.0,
            "biquintile": 2.0}
ORB_OTHER_DEG = 2.0
assert set(MINOR_ASPECTS) <= set(ORBS_DEG)


@dataclass(frozen=True)
class ChartPoint:
    """One body or lunar point of a `Chart`.

    Longitudes are apparent geocentric ecliptic longitudes of date (true
    equinox) in degrees, in the chart's zodiac; `latitude_deg` is the
    ecliptic latitude, `distance_au` the geocentric distance (None for the
    lunar points), `speed_deg_per_day` the time derivative of
    `longitude_deg` and `retrograde` whether it is negative. `sign` is the
    sign's name ("aries" .. "pisces"), `degree_in_sign` the longitude within
    it (0 to 30), `house` the house (1..12) that holds the longitude.

        >>> moon = chart.point("moon")          # doctest: +SKIP
        >>> f"{moon.degree_in_sign:.2f} {moon.sign}, house {moon.house}"  # doctest: +SKIP
        '19.77 aries, house 9'
    """

    name: str
    longitude_deg: float
    latitude_deg: float
    distance_au: float | None  # None for the lunar points
    speed_deg_per_day: float  # d(longitude_deg)/dt, in the chart's zodiac
    retrograde: bool
    sign: str
    degree_in_sign: float
    house: int | None  # 1..12


@dataclass(frozen=True)
class ChartAspect:
    """An aspect in orb between two points of a `Chart`: `kind` names it
    ("trine", "quincunx", or the angle as text for an unnamed angle),
    `angle_deg` is its exact angle, `separation_deg` the points' actual
    angular separation (0 to 180 degrees), `orb_deg` the difference of the
    two, and `applying` whether the separation is moving towards the exact
    angle."""

    first: str
    second: str
    kind: str
    angle_deg: float  # the aspect's exact angle
    separation_deg: float  # the actual angular separation, [0, 180]
    orb_deg: float  # separation - angle
    applying: bool


@dataclass(frozen=True)
class ChartStar:
    """A fixed star of a `Chart` (`Ephemeris.chart(..., stars=[...])`): its
    IAU name (or "HIP n"), HIP number, apparent ecliptic longitude and
    latitude of date in the chart's zodiac, Hipparcos magnitude Hp, sign,
    degree in the sign and house, and `contacts`: the chart's points within
    the stated orb of an aspect to it (by default the conjunction within
    1 degree of longitude), as `ChartAspect` rows with the star first."""

    name: str
    hip: int
    longitude_deg: float
    latitude_deg: float
    magnitude: float
    sign: str
    degree_in_sign: float
    house: int | None
    contacts: list[ChartAspect] = field(default_factory=list)


@dataclass(frozen=True)
class ChartFile:
    """A file a `Chart` was computed from: its role, name and SHA-256."""

    role: str  # "kernel", "leap seconds", ...
    name: str  # the file's name (without its directory)
    sha256: str


@dataclass(frozen=True)
class Chart(DictResult):
    """A chart for one instant and site, as plain data (`Ephemeris.chart`).

    `points` hold the bodies and lunar points (`point(name)` finds one),
    `cusps_deg` the twelve house cusps (cusp 1 first) and the angles
    `ascendant_deg`, `midheaven_deg`, `vertex_deg`, all ecliptic longitudes
    of date in degrees in the chart's `zodiac` ("tropical" or an
    ayanamsha's name). `house_system` is the system asked for and
    `houses_used` the one that gave the cusps (a polar fallback may differ).
    The instant is `time_utc` (ISO 8601, UTC) and `time_local` in `zone`;
    the site is `site_longitude_east_deg`, `site_latitude_deg` (degrees)
    and `site_height_m`; `files` the data it came from.
    `Chart.from_dict(chart.to_dict()) == chart`.
    """

    time_utc: str  # ISO 8601, UTC, to the millisecond
    tt_julian_day: float
    site_longitude_east_deg: float
    site_latitude_deg: float
    site_height_m: float
    zodiac: str
    house_system: str  # the system asked for
    points: list[ChartPoint]
    cusps_deg: list[float]
    ascendant_deg: float
    midheaven_deg: float
    vertex_deg: float
    aspects: list[ChartAspect]
    houses_used: str = ""  # the system of the cusps: house_system, or the polar fallback
    zone: str = "UTC"  # the zone the chart was asked in
    time_local: str = ""  # ISO 8601 in that zone, with its offset
    files: list[ChartFile] = field(default_factory=list)
    stars: list[ChartStar] = field(default_factory=list)  # fixed stars asked for with stars=[...]

    def point(self, name: str | int) -> ChartPoint:
        """The point named `name` ("sun", "Sun", "true_node", a NAIF id for
        a body asked by its id); KeyError naming the chart's points if the
        chart has none."""
        key = str(name).strip().lower().replace("-", "_") if isinstance(name, (str, int)) else None
        for p in self.points:
            if p.name == name or p.name == key:
                return p
        names = [p.name for p in self.points]
        shown_name = shown(name) if isinstance(name, str) else repr(name)
        raise KeyError(f"this chart has no point {shown_name}{near_misses(str(key or ''), names)}; "
                       f"it has {', '.join(names)}")

    def synastry(self, other: Chart, aspects: Sequence[str | float] | None = None,
                 orbs: float | dict[str, float] | None = None) -> Synastry:
        """Aspects from each point of this chart to each of `other` (orbs,
        applying or separating as both move) and house overlays; see
        `tarvexkit.synastry`. `aspects` and `orbs` as in `Ephemeris.chart`."""
        return synastry(self, other, None if aspects is None else list(aspects), orbs)

    @classmethod
    def from_dict(cls, data: dict[str, Any]) -> Chart:
        """The chart of `to_dict()` (also after a trip through JSON). Every
        field is checked against its type (and angles against their range):
        TypeError or ValueError naming the field."""
        if not isinstance(data, dict):
            raise TypeError(f"data must be a chart's dict (as Chart.to_dict() makes), not {type(data).__name__}")
        try:
            values = dict(data)
            values["points"] = [ChartPoint(**_checked(ChartPoint, f"points[{i}]", p))
                                for i, p in enumerate(_listed("points", data["points"]))]
            values["aspects"] = [ChartAspect(**_checked(ChartAspect, f"aspects[{i}]", a))
                                 for i, a in enumerate(_listed("aspects", data["aspects"]))]
            values["files"] = [ChartFile(**_checked(ChartFile, f"files[{i}]", f))
                               for i, f in enumerate(_listed("files", data.get("files", [])))]
            values["cusps_deg"] = [_field(f"cusps_deg[{i}]", c, "float")
                                   for i, c in enumerate(_listed("cusps_deg", data["cusps_deg"]))]
            if len(values["cusps_deg"]) != 12:
                raise ValueError(f"cusps_deg must hold 12 cusps, not {len(values['cusps_deg'])}")
            values["stars"] = [ChartStar(**{**star, "contacts": [ChartAspect(**_checked(ChartAspect, f"stars[{i}].contacts", c))
                                                                  for c in _listed(f"stars[{i}].contacts", star["contacts"])]})
                               for i, star in enumerate(_listed("stars", data.get("stars", [])))]
            values = _checked(cls, "chart", values)
            return cls(**values)
        except KeyError as error:
            raise ValueError(f"not a chart's dict (as Chart.to_dict() makes): it has no {error}") from None


# Fields whose values are angles in degrees, checked to lie within [0, 360]
# (longitudes, cusps) or [-90, 90] (latitudes).
_LONGITUDE_FIELDS = ("longitude_deg", "ascendant_deg", "midheaven_deg", "vertex_deg", "site_longitude_east_deg")
_LATITUDE_FIELDS = ("latitude_deg", "site_latitude_deg")


def _listed(name: str, value: Any) -> list[Any]:
    if not isinstance(value, list):
        raise TypeError(f"{name} must be a list, not {type(value).__name__}")
    return value


def _field(name: str, value: Any, annotation: str) -> Any:
    """`value` read as the field's annotated type ("float", "str | None", ...)."""
    kinds = [k.strip() for k in annotation.split("|")]
    if value is None and "None" in kinds:
        return None
    if "bool" in kinds and isinstance(value, bool):
        return value
    if "int" in kinds and isinstance(value, int) and not isinstance(value, bool):
        return value
    if "float" in kinds and isinstance(value, (int, float)) and not isinstance(value, bool):
        number = float(value)
        if not math.isfinite(number):
            raise ValueError(f"{name} must be finite, not {number!r}")
        if name.rsplit(".", 1)[-1] in _LONGITUDE_FIELDS and not -360.0 <= number <= 360.0:
            raise ValueError(f"{name}={number!r} is not an angle in degrees")
        if name.rsplit(".", 1)[-1] in _LATITUDE_FIELDS and not -90.0 <= number <= 90.0:
            raise ValueError(f"{name}={number!r} is not a latitude in degrees")
        return number
    if "str" in kinds and isinstance(value, str):
        return value
    if kinds[0].startswith("list"):
        return value  # checked item by item by from_dict
    shown_value = shown(value) if isinstance(value, str) else repr(value)[:60]
    raise TypeError(f"{name} must be {annotation}, not {type(value).__name__} {shown_value}")


def _checked(kind: type, name: str, values: Any) -> dict[str, Any]:
    """The fields of a dataclass `kind` from a dict: no unknown or missing
    field, each of its annotated type."""
    if not isinstance(values, dict):
        raise TypeError(f"{name} must be a dict, not {type(values).__name__}")
    fields = {f.name: f for f in dataclasses.fields(kind)}
    unknown = [k for k in values if k not in fields]
    if unknown:
        raise ValueError(f"{name} has no field {shown(str(unknown[0]))}{near_misses(str(unknown[0]), fields)}")
    out = {}
    for key, value in values.items():
        out[key] = _field(f"{name}.{key}", value, str(fields[key].type))
    missing = [k for k, f in fields.items() if k not in values and f.default is dataclasses.MISSING
               and f.default_factory is dataclasses.MISSING]
    if missing:
        raise ValueError(f"{name} lacks the field {missing[0]!r}")
    return out


# ------------------------------------------------------------ synastry
# Two charts' inter-aspects and overlays (the rules: tarvexkit.synastry).

@dataclass(frozen=True)
class SynastryAspect:
    """An aspect in orb between `first` (a point of the first chart) and
    `second` (a point of the second): their longitudes (degrees, each
    chart's zodiac), the aspect's `kind` and exact `angle_deg`, the actual
    `separation_deg` (0 to 180), `orb_deg` (separation less angle) and
    whether it is `applying`."""

    first: str
    second: str
    first_longitude_deg: float
    second_longitude_deg: float
    kind: str
    angle_deg: float
    separation_deg: float
    orb_deg: float
    applying: bool


@dataclass(frozen=True)
class HouseOverlay:
    """Point `point` of chart `chart` ("first" or "second") at
    `longitude_deg` falls in house `house` (1..12) of the other chart."""

    chart: str
    point: str
    longitude_deg: float
    house: int


@dataclass(frozen=True)
class Synastry(DictResult):
    """Inter-aspects and house overlays of two charts (module text)."""

    first_time_utc: str
    second_time_utc: str
    aspects: list[SynastryAspect]
    overlays: list[HouseOverlay]

    _dict_kind = "a synastry's dict (as Synastry.to_dict() makes)"

    @classmethod
    def _from_fields(cls, data: dict[str, Any]) -> Synastry:
        return cls(data["first_time_utc"], data["second_time_utc"],
                   [SynastryAspect(**a) for a in data["aspects"]],
                   [HouseOverlay(**o) for o in data["overlays"]])


def _wrap180(angle: float) -> float:
    return (angle + 180.0) % 360.0 - 180.0


def house_of(longitude_deg: float, cusps_deg: list[float]) -> int:
    """The house (1..12) whose cusp is the last one at or before the
    longitude going round the zodiac."""
    for k in range(12):
        width = (cusps_deg[(k + 1) % 12] - cusps_deg[k]) % 360.0
        if (longitude_deg - cusps_deg[k]) % 360.0 < width:
            return k + 1
    return 12


def aspect_between(p: ChartPoint, q: ChartPoint, kinds: list[tuple[str, float]],
                   orbs: float | dict[str, float] | None) -> tuple[str, float, float, float, bool] | None:
    """(kind, angle, separation, orb, applying) of the tightest aspect in orb
    between two points, or None."""
    signed = _wrap180(p.longitude_deg - q.longitude_deg)
    separation = abs(signed)
    # d(separation)/dt from both points' speeds.
    rate = (p.speed_deg_per_day - q.speed_deg_per_day) * (1.0 if signed >= 0.0 else -1.0)
    best = None
    for kind, angle in kinds:
        orb = separation - angle
        if abs(orb) <= _orb(kind, angle, orbs) and (best is None or abs(orb) < abs(best[3])):
            best = (kind, angle, separation, orb, orb * rate < 0.0)
    return best


def synastry(first: Chart, second: Chart, aspects: list[str | float] | None = None,
             orbs: float | dict[str, float] | None = None) -> Synastry:
    """Inter-aspects (each point of `first` to each of `second`) and house
    overlays of two charts (module text)."""
    if not isinstance(second, Chart):
        raise TypeError(f"other must be a Chart, not {type(second).__name__}")
    kinds = aspect_angles(aspects)
    found = []
    for p in first.points:
        for q in second.points:
            hit = aspect_between(p, q, kinds, orbs)
            if hit is not None:
                kind, angle, separation, orb, applying = hit
                found.append(SynastryAspect(p.name, q.name, p.longitude_deg, q.longitude_deg, kind, angle,
                                            separation, orb, applying))
    overlays = [HouseOverlay("first", p.name, p.longitude_deg, house_of(p.longitude_deg, second.cusps_deg))
                for p in first.points]
    overlays += [HouseOverlay("second", q.name, q.longitude_deg, house_of(q.longitude_deg, first.cusps_deg))
                 for q in second.points]
    return Synastry(first.time_utc, second.time_utc, found, overlays)


def _zone(zone: str | tzinfo | None) -> tuple[str, tzinfo]:
    if zone is None:
        return "UTC", timezone.utc
    if isinstance(zone, str):
        try:
            return zone, ZoneInfo(zone)
        except (ValueError, LookupError) as error:
            raise ValueError(f"unknown time zone {zone!r} for zone=; use an IANA name such as "
                             f"'Europe/Vienna' ({error})") from None
    if isinstance(zone, tzinfo):
        return str(getattr(zone, "key", None) or zone), zone
    raise TypeError(f"zone must be an IANA name or a tzinfo, not {type(zone).__name__}")


def check_orbs(orbs: Any, kinds: Sequence[tuple[str, float]]) -> None:
    """None, an orb in degrees (finite, 0 to 180) for every aspect, or a
    dict of such orbs by aspect name (a name of ORBS_DEG or of an aspect
    asked for)."""
    if orbs is None:
        return
    def one(name: str, value: Any) -> None:
        if isinstance(value, bool) or not isinstance(value, (int, float, np.integer, np.floating)):
            raise TypeError(f"{name} must be an orb in degrees (a number), not {type(value).__name__}")
        if not (math.isfinite(float(value)) and 0.0 <= float(value) <= 180.0):
            raise ValueError(f"{name}={value!r} must be an orb in degrees from 0 to 180")
    if isinstance(orbs, dict):
        known = set(ORBS_DEG) | {kind for kind, _ in kinds} | {f"{angle:g}" for _, angle in kinds}
        for key, value in orbs.items():
            if not isinstance(key, str):
                raise TypeError(f"orbs keys must be aspect names (str), not {type(key).__name__}")
            if key not in known:
                raise ValueError(f"orbs names an unknown aspect {shown(key)}{near_misses(key, sorted(known))}; "
                                 f"use one of {', '.join(sorted(known))}")
            one(f"orbs[{key!r}]", value)
        return
    one("orbs", orbs)


def _orb(kind: str, angle: float, orbs: float | dict[str, float] | None) -> float:
    if orbs is None:
        return ORBS_DEG.get(kind, ORB_OTHER_DEG)
    if isinstance(orbs, dict):
        return float(orbs.get(kind, orbs.get(f"{angle:g}", ORBS_DEG.get(kind, ORB_OTHER_DEG))))
    return float(orbs)


def make_chart(store: Store, files: Sequence[DataFile], check_covered: Callable[[float], None], when: Times,
               site: tarvex.GeodeticObserver, *, houses: str, zodiac: str,
               bodies: Sequence[str] | None, aspects: Sequence[str | float] | None,
               orbs: float | dict[str, float] | None, polar_fallback: str | None = None,
               zone: str | tzinfo | None = None, aliases: dict[str, str] | None = None) -> Chart:
    """The chart of one instant: one call of the native store's `chart`
    (src/tarvexkit/native/chart.cpp computes positions, speeds, lunar
    points, houses, house numbers and aspects), turned into dataclasses.
    `check_covered(tt)` raises when the kernels do not cover the TT Julian
    day or a file changed; `files` are recorded in the chart. `aliases`
    maps names of added minor bodies to the NAIF ids the kernels know them by."""
    zone_name, zone_info = _zone(zone)
    # A body may be named by its NAIF id; the chart names it by that number.
    names = [str(n) if isinstance(n, int) else n for n in (CHART_BODIES if bodies is None else bodies)]
    is_point = [is_lunar_point(n) for n in names]
    keys = [lunar_point_name(n) if p else (aliases or {}).get(n.strip().lower(), n) for n, p in zip(names, is_point)]
    system = house_system_name(houses)
    fallback = polar_fallback_name(polar_fallback)
    if zodiac != "tropical":
        zodiac = ayanamsha_name(zodiac)
    kinds = aspect_angles(aspects)
    check_orbs(orbs, kinds)
    tt, ut1 = when.tt, when.ut1
    check_covered(tt)
    rows, cusps, numbers, found, failures, fallback_rows = store.chart(
        keys, [tt], [ut1], site.longitude_east_deg, site.latitude_deg, system, fallback,
        None if zodiac == "tropical" else zodiac, [angle for _, angle in kinds],
        [_orb(kind, angle, orbs) for kind, angle in kinds], STATION_DIFFERENCE_DAYS, STATE_STEP_DAYS)
    if failures:
        raise HouseCuspsUndefined(system, failures[0][1])
    points = []
    point_rows: list[list[float]] = rows[0].tolist()
    house_numbers: list[float] = numbers[0].tolist()
    for name, key, point, (lon, lat, distance, speed), house in zip(names, keys, is_point, point_rows,
                                                                    house_numbers):
        sign = int(lon // 30.0) % 12
        points.append(ChartPoint(
            name=key if point else name.strip().lower(),
            longitude_deg=lon,
            latitude_deg=lat,
            distance_au=None if point else distance,
            speed_deg_per_day=speed,
            retrograde=speed < 0.0,
            sign=SIGNS[sign],
            degree_in_sign=lon - 30.0 * sign,
            house=int(house),
        ))
    sky: list[float] = cusps[0].tolist()
    aspect_rows: list[list[float]] = found.tolist()
    time_utc, time_local = when._iso_utc_and_local(zone_info, places=3)
    return Chart(
        time_utc=time_utc,
        tt_julian_day=tt,
        site_longitude_east_deg=float(site.longitude_east_deg),
        site_latitude_deg=float(site.latitude_deg),
        site_height_m=float(site.height_m),
        zodiac=zodiac,
        house_system=system,
        points=points,
        cusps_deg=sky[:12],
        ascendant_deg=sky[12],
        midheaven_deg=sky[13],
        vertex_deg=sky[14],
        aspects=[ChartAspect(points[int(a)].name, points[int(b)].name, kinds[int(k)][0], kinds[int(k)][1],
                             separation, orb, applying == 1.0)
                 for _, a, b, k, separation, orb, applying in aspect_rows],
        houses_used=fallback if fallback is not None and fallback_rows else system,
        zone=zone_name,
        time_local=time_local,
        files=[ChartFile(f.role, os.path.basename(f.path), f.sha256) for f in files],
    )
