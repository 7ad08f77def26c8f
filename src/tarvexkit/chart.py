"""A chart for one instant and site, as plain data: `Ephemeris.chart(...)`.

Longitudes are geocentric apparent ecliptic longitudes of date (true
equinox), the lunar points on the same equinox; in a sidereal zodiac every
longitude has the mean ayanamsha taken off, and the houses are the
sidereal ones of `tarvexkit.astrology` (Whole Sign from the sign of the
sidereal ascendant). A speed is the time derivative of the longitude
printed beside it, in the chart's zodiac (`searches.longitude_speed`), and
a body is retrograde when it is negative: the flag changes at the instants
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

from collections.abc import Sequence
from dataclasses import dataclass, field
from datetime import timezone, tzinfo
from pathlib import Path
from typing import Any, Protocol
from zoneinfo import ZoneInfo

import numpy as np
import numpy.typing as npt

import tarvex

from .astrology import Houses, ayanamsha_name
from .data import DataFile
from .lunar import is_lunar_point, lunar_point_name
from .searches import MINOR_ASPECTS, SIGNS, aspect_angles
from .times import Times



class ChartSource(Protocol):
    """What a chart reads of an ephemeris (a `tarvexkit.Ephemeris`)."""

    @property
    def files(self) -> tuple[DataFile, ...]: ...
    def positions(self, bodies: Sequence[str], times: Times) -> npt.NDArray[np.float64]: ...
    def lunar_points(self, points: Sequence[str], times: Times) -> npt.NDArray[np.float64]: ...
    def houses(self, site: tarvex.GeodeticObserver, times: Times, system: str = ..., *, zodiac: str = ...,
               polar_fallback: str | None = ...) -> Houses: ...
    def ayanamsha_deg(self, name: str, times: Times) -> Any: ...
    def longitude_speeds(self, bodies: Sequence[str], times: Times, zodiac: str = ...) -> npt.NDArray[np.float64]: ...

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
class ChartFile:
    """A file a `Chart` was computed from: its role, name and SHA-256."""

    role: str  # "kernel", "leap seconds", ...
    name: str  # the file's name (without its directory)
    sha256: str


@dataclass(frozen=True)
class Chart:
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

    def point(self, name: str) -> ChartPoint:
        """The point named `name` ("sun", "true_node", ...); KeyError if the chart has none."""
        for p in self.points:
            if p.name == name:
                return p
        raise KeyError(name)

    def to_dict(self) -> dict[str, Any]:
        """Plain dicts, lists, str, float, int, bool and None: ready for json.dumps."""
        plain: dict[str, Any] = _plain(self)
        return plain

    @classmethod
    def from_dict(cls, data: dict[str, Any]) -> Chart:
        """The chart of `to_dict()` (also after a trip through JSON)."""
        try:
            values = dict(data)
            values["points"] = [ChartPoint(**p) for p in data["points"]]
            values["aspects"] = [ChartAspect(**a) for a in data["aspects"]]
            values["files"] = [ChartFile(**f) for f in data.get("files", [])]
            values["cusps_deg"] = [float(c) for c in data["cusps_deg"]]
            return cls(**values)
        except (KeyError, TypeError) as error:
            raise ValueError(f"not a chart's dict (as Chart.to_dict() makes): {error}") from None


def _plain(value: Any) -> Any:
    """Dataclasses, lists and NumPy scalars as plain Python values."""
    if hasattr(value, "__dataclass_fields__"):
        return {name: _plain(getattr(value, name)) for name in value.__dataclass_fields__}
    if isinstance(value, (list, tuple)):
        return [_plain(v) for v in value]
    if isinstance(value, dict):
        return {str(k): _plain(v) for k, v in value.items()}
    if isinstance(value, (bool, np.bool_)):
        return bool(value)
    if isinstance(value, (int, np.integer)):
        return int(value)
    if isinstance(value, (float, np.floating)):
        return float(value)
    return value


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


def house_of(longitude_deg: float, cusps_deg: Sequence[float]) -> int:
    """The house (1..12) whose cusp is the last one at or before the
    longitude, in the direction the cusps run. They run backwards (cusp 2
    below cusp 1 in longitude) in the quadrant systems of the far north and
    south whenever the midheaven lies below the horizon: the ecliptic then
    rises in the east with its longitude increasing upwards."""
    gaps = [(cusps_deg[(k + 1) % 12] - cusps_deg[k]) % 360.0 for k in range(12)]
    forward = sum(gaps) < 720.0
    for k in range(12):
        start, end = cusps_deg[k], cusps_deg[(k + 1) % 12]
        if forward and (longitude_deg - start) % 360.0 < (end - start) % 360.0:
            return k + 1
        if not forward and (start - longitude_deg) % 360.0 < (start - end) % 360.0:
            return k + 1
    return 1  # only reached when cusps coincide


def _orb(kind: str, orbs: float | dict[str, float] | None) -> float:
    if orbs is None:
        return ORBS_DEG.get(kind, ORB_OTHER_DEG)
    if isinstance(orbs, dict):
        return float(orbs.get(kind, ORBS_DEG.get(kind, ORB_OTHER_DEG)))
    return float(orbs)


def find_aspects(points: Sequence[ChartPoint], aspects: Sequence[str | float] | None,
                 orbs: float | dict[str, float] | None) -> list[ChartAspect]:
    angles = aspect_angles(aspects)
    found: list[ChartAspect] = []
    for i, a in enumerate(points):
        for b in points[i + 1:]:
            difference = (a.longitude_deg - b.longitude_deg + 180.0) % 360.0 - 180.0
            separation = abs(difference)
            rate = (a.speed_deg_per_day - b.speed_deg_per_day) * (1.0 if difference >= 0.0 else -1.0)
            for kind, angle in angles:
                orb = separation - angle
                if abs(orb) <= _orb(kind, orbs):
                    found.append(ChartAspect(a.name, b.name, kind, angle, separation, orb, orb * rate < 0.0))
    return found


def make_chart(eph: ChartSource, when: Times, site: tarvex.GeodeticObserver, *, houses: str, zodiac: str,
               bodies: Sequence[str] | None, aspects: Sequence[str | float] | None,
               orbs: float | dict[str, float] | None, polar_fallback: str | None = None,
               zone: str | tzinfo | None = None) -> Chart:
    zone_name, zone_info = _zone(zone)
    # A body may be named by its NAIF id; the chart names it by that number.
    names = [str(n) if isinstance(n, int) else n for n in (CHART_BODIES if bodies is None else bodies)]
    is_point = [is_lunar_point(n) for n in names]
    planets = [n for n, p in zip(names, is_point) if not p]
    lunar = [lunar_point_name(n) for n, p in zip(names, is_point) if p]
    rows = np.zeros((len(names), 4))
    if planets:
        rows[np.flatnonzero(~np.array(is_point))] = eph.positions(planets, when)[0]
    if lunar:
        rows[np.flatnonzero(is_point)] = eph.lunar_points(lunar, when)[0]
    if zodiac != "tropical":
        zodiac = ayanamsha_name(zodiac)
    cusps = eph.houses(site, when, houses, zodiac=zodiac, polar_fallback=polar_fallback)
    cusp_list = [float(c) for c in cusps.cusps_deg]
    angles = [float(cusps.ascendant_deg), float(cusps.midheaven_deg), float(cusps.vertex_deg)]
    tt = float(when.tt)
    if zodiac != "tropical":
        rows[:, 0] = (rows[:, 0] - float(eph.ayanamsha_deg(zodiac, when))) % 360.0
    speeds = eph.longitude_speeds(names, when, zodiac)[0]
    points = []
    for name, point, (lon, lat, distance, _), speed in zip(names, is_point, rows, speeds):
        lon = float(lon) % 360.0
        points.append(ChartPoint(
            name=lunar_point_name(name) if point else name.strip().lower(),
            longitude_deg=lon,
            latitude_deg=float(lat),
            distance_au=None if point else float(distance),
            speed_deg_per_day=float(speed),
            retrograde=bool(speed < 0.0),
            sign=SIGNS[int(lon // 30.0) % 12],
            degree_in_sign=lon - 30.0 * (int(lon // 30.0) % 12),
            house=house_of(lon, cusp_list),
        ))
    return Chart(
        time_utc=str(when.iso(places=3)),
        tt_julian_day=tt,
        site_longitude_east_deg=float(site.longitude_east_deg),
        site_latitude_deg=float(site.latitude_deg),
        site_height_m=float(site.height_m),
        zodiac=zodiac,
        house_system=cusps.system,
        points=points,
        cusps_deg=cusp_list,
        ascendant_deg=angles[0],
        midheaven_deg=angles[1],
        vertex_deg=angles[2],
        aspects=find_aspects(points, aspects, orbs),
        houses_used=str(cusps.fallback_system) if cusps.fallback else cusps.system,
        zone=zone_name,
        time_local=str(when.iso(zone_info, places=3)),
        files=[ChartFile(f.role, Path(f.path).name, f.sha256) for f in eph.files],
    )
