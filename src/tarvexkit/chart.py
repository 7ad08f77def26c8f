"""A chart for one instant and site, as plain data: `Ephemeris.chart(...)`.

Longitudes are geocentric apparent ecliptic longitudes of date (true
equinox), the lunar points on the same equinox; in a sidereal zodiac every
longitude, cusp and speed has the mean ayanamsha (and its rate) taken off.
A body is retrograde when its longitude speed is negative. Aspects are
found between every pair of points whose angular separation lies within
the aspect's orb of its angle; an aspect is applying when the separation
is moving towards the exact angle.
"""

from __future__ import annotations

import dataclasses
from collections.abc import Sequence
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any

import numpy as np

import tarvex

from .astrology import ayanamsha_name, ayanamsha_table
from .lunar import LUNAR_POINTS, lunar_point_name
from .searches import SIGNS, aspect_angles
from .times import Times

if TYPE_CHECKING:
    from .ephemeris import Ephemeris

CHART_BODIES = ("sun", "moon", "mercury", "venus", "mars", "jupiter", "saturn", "uranus", "neptune", "pluto",
                "true_node")
# Orbs in degrees by aspect; an angle given as a number gets ORB_OTHER_DEG.
ORBS_DEG = {"conjunction": 8.0, "opposition": 8.0, "trine": 7.0, "square": 7.0, "sextile": 5.0}
ORB_OTHER_DEG = 2.0


@dataclass(frozen=True)
class ChartPoint:
    name: str
    longitude_deg: float
    latitude_deg: float
    distance_au: float | None  # None for the lunar points
    speed_deg_per_day: float
    retrograde: bool
    sign: str
    degree_in_sign: float
    house: int | None  # 1..12


@dataclass(frozen=True)
class ChartAspect:
    first: str
    second: str
    kind: str
    angle_deg: float  # the aspect's exact angle
    separation_deg: float  # the actual angular separation, [0, 180]
    orb_deg: float  # separation - angle
    applying: bool


@dataclass(frozen=True)
class Chart:
    time_utc: str
    tt_julian_day: float
    site_longitude_east_deg: float
    site_latitude_deg: float
    site_height_m: float
    zodiac: str
    house_system: str
    points: list[ChartPoint]
    cusps_deg: list[float]
    ascendant_deg: float
    midheaven_deg: float
    vertex_deg: float
    aspects: list[ChartAspect]

    def point(self, name: str) -> ChartPoint:
        for p in self.points:
            if p.name == name:
                return p
        raise KeyError(name)

    def to_dict(self) -> dict[str, Any]:
        """Plain dicts, lists, str, float, int, bool and None: ready for json.dumps."""
        return dataclasses.asdict(self)


def house_of(longitude_deg: float, cusps_deg: Sequence[float]) -> int:
    """The house (1..12) whose cusp is the last one at or before the longitude."""
    for k in range(12):
        start, end = cusps_deg[k], cusps_deg[(k + 1) % 12]
        if (longitude_deg - start) % 360.0 < (end - start) % 360.0:
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


def make_chart(eph: Ephemeris, when: Times, site: tarvex.GeodeticObserver, *, houses: str, zodiac: str,
               bodies: Sequence[str] | None, aspects: Sequence[str | float] | None,
               orbs: float | dict[str, float] | None) -> Chart:
    names = [str(n) if isinstance(n, int) else n for n in (CHART_BODIES if bodies is None else bodies)]
    is_point = [n.strip().lower().replace("-", "_") in LUNAR_POINTS for n in names]
    planets = [n for n, p in zip(names, is_point) if not p]
    lunar = [lunar_point_name(n) for n, p in zip(names, is_point) if p]
    rows = np.zeros((len(names), 4))
    if planets:
        rows[np.flatnonzero(~np.array(is_point))] = eph.positions(planets, when)[0]
    if lunar:
        rows[np.flatnonzero(is_point)] = eph.lunar_points(lunar, when)[0]
    cusps = eph.houses(site, when, houses)
    cusp_list = [float(c) for c in cusps.cusps_deg]
    angles = [float(cusps.ascendant_deg), float(cusps.midheaven_deg), float(cusps.vertex_deg)]
    tt = float(when.tt)
    if zodiac != "tropical":
        zodiac = ayanamsha_name(zodiac)
        value, rate = ayanamsha_table(zodiac, np.array([tt]))[0]
        rows[:, 0] = (rows[:, 0] - value) % 360.0
        rows[:, 3] -= rate
        cusp_list = [(c - value) % 360.0 for c in cusp_list]
        angles = [(c - value) % 360.0 for c in angles]
    points = []
    for name, point, (lon, lat, distance, speed) in zip(names, is_point, rows):
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
        site_longitude_east_deg=site.longitude_east_deg,
        site_latitude_deg=site.latitude_deg,
        site_height_m=site.height_m,
        zodiac=zodiac,
        house_system=cusps.system,
        points=points,
        cusps_deg=cusp_list,
        ascendant_deg=angles[0],
        midheaven_deg=angles[1],
        vertex_deg=angles[2],
        aspects=find_aspects(points, aspects, orbs),
    )
