"""Progressions and directions of a natal chart.

Progressed instant. A progression lets a short span after birth stand for
a long span of life (A. Leo, "The Progressed Horoscope", 1906; N. de Vore,
"Encyclopedia of Astrology", 1947):
- "secondary": a day for a year: natal + age / `TROPICAL_YEAR_DAYS`
  days, age the days elapsed since birth;
- "tertiary" (E. H. Troinski): a day for a lunar month: natal + age /
  `SIDEREAL_MONTH_DAYS` days;
- "minor": a lunar month for a year: natal + age x
  `SIDEREAL_MONTH_DAYS` / `TROPICAL_YEAR_DAYS` days.
The progressed points are an ordinary chart's at the progressed instant
(the same bodies, zodiac and house system), so they are the ephemeris's
apparent places there.

Progressed angles (`angles=`), each from the natal site's latitude and the
natal obliquity:
- "solar_arc" (the default): the natal midheaven advanced by the solar arc
  (the progressed Sun's longitude less the natal Sun's), its right
  ascension the progressed ARMC;
- "naibod": the natal ARMC advanced by Naibod's rate, the Sun's mean motion
  in right ascension, 0.98564733 degrees (59' 08.33") for each year of
  age (V. Naibod, 1560);
- "armc": the progressed instant's own ARMC at the natal site (the
  progressed chart as cast, sometimes called the "daily" or "Bija"
  progressed angles).
The houses are the natal house system's cusps for the progressed ARMC.

Solar arc directions (`Ephemeris.solar_arc`): every natal point advanced
by the solar arc of the secondary progression at that age (C. E. O.
Carter, "Symbolic Directions in Modern Astrology", 1929).
"""

from __future__ import annotations

from dataclasses import dataclass
from typing import TYPE_CHECKING, Any

import numpy as np

import tarvex

from . import astrology
from .chart import Chart, ChartPoint
from .results import DictResult
from .synastry import house_of
from .times import Times

if TYPE_CHECKING:
    from .ephemeris_protocol import EphemerisLike as Ephemeris

TROPICAL_YEAR_DAYS = 365.24219
SIDEREAL_MONTH_DAYS = 27.321661
NAIBOD_DEG_PER_YEAR = 0.98564733
PROGRESSIONS = ("secondary", "tertiary", "minor")
PROGRESSED_ANGLES = ("solar_arc", "naibod", "armc")


@dataclass(frozen=True)
class Progression(DictResult):
    """A progressed chart: `chart` holds the progressed points and the
    progressed houses and angles (by `angles`), `age_days` the days from
    birth to the date progressed to, `progressed_tt_julian_day` the
    progressed instant, `solar_arc_deg` the progressed Sun less the natal
    Sun (degrees)."""

    method: str
    angles: str
    age_days: float
    progressed_tt_julian_day: float
    solar_arc_deg: float
    chart: Chart

    _dict_kind = "a progression's dict (as Progression.to_dict() makes)"

    @classmethod
    def _from_fields(cls, data: dict[str, Any]) -> Progression:
        return cls(**{**data, "chart": Chart.from_dict(data["chart"])})


@dataclass(frozen=True)
class DirectedPoint:
    """A natal point `name` at `natal_longitude_deg` directed to `longitude_deg`."""

    name: str
    natal_longitude_deg: float
    longitude_deg: float


@dataclass(frozen=True)
class SolarArcDirections(DictResult):
    """Every natal point and angle advanced by `arc_deg` (module text)."""

    age_days: float
    arc_deg: float
    points: list[DirectedPoint]

    _dict_kind = "solar arc directions' dict"

    @classmethod
    def _from_fields(cls, data: dict[str, Any]) -> SolarArcDirections:
        return cls(data["age_days"], data["arc_deg"], [DirectedPoint(**p) for p in data["points"]])


def progressed_offset_days(age_days: float, method: str) -> float:
    """Days after birth of the progressed instant for an age in days."""
    if method == "secondary":
        return age_days / TROPICAL_YEAR_DAYS
    if method == "tertiary":
        return age_days / SIDEREAL_MONTH_DAYS
    if method == "minor":
        return age_days * SIDEREAL_MONTH_DAYS / TROPICAL_YEAR_DAYS
    raise ValueError(f"unknown progression {method!r}; use one of {', '.join(PROGRESSIONS)}")


def _check(natal: Chart, when: Times) -> None:
    if not isinstance(natal, Chart):
        raise TypeError(f"natal must be a Chart, not {type(natal).__name__}")
    if not isinstance(when, Times) or when.shape != ():
        raise TypeError("when must be a single Times instant (the date progressed to)")


def _site(chart: Chart) -> tarvex.GeodeticObserver:
    return tarvex.GeodeticObserver(chart.site_longitude_east_deg, chart.site_latitude_deg, chart.site_height_m)


def _sun(chart: Chart) -> float:
    try:
        return chart.point("sun").longitude_deg
    except KeyError:
        raise ValueError("the natal chart needs the Sun for a solar arc") from None


def progress(eph: Ephemeris, natal: Chart, when: Times, method: str = "secondary",
             angles: str = "solar_arc") -> Progression:
    """The chart of `natal` progressed to the date `when` (module text)."""
    _check(natal, when)
    if angles not in PROGRESSED_ANGLES:
        raise ValueError(f"unknown progressed angles {angles!r}; use one of {', '.join(PROGRESSED_ANGLES)}")
    age = float(when.tt) - natal.tt_julian_day
    tt = natal.tt_julian_day + progressed_offset_days(age, method)
    fallback = "porphyry" if natal.houses_used != natal.house_system else None
    site = _site(natal)
    cast = eph.chart(eph.times(tt, "tt"), site, houses=natal.house_system, zodiac=natal.zodiac,
                     bodies=[p.name for p in natal.points], polar_fallback=fallback)
    arc = (_sun(cast) - _sun(natal) + 180.0) % 360.0 - 180.0
    if angles == "armc":
        chart = cast
    else:
        sky = eph.houses(site, eph.times(natal.tt_julian_day, "tt"), "porphyry")
        if angles == "naibod":
            ramc = (sky.ramc_deg + NAIBOD_DEG_PER_YEAR * age / TROPICAL_YEAR_DAYS) % 360.0
        else:
            eps = np.radians(sky.obliquity_deg)
            mc = np.radians(sky.midheaven_deg + arc)
            ramc = float(np.degrees(np.arctan2(np.sin(mc) * np.cos(eps), np.cos(mc)))) % 360.0
        houses = astrology.houses(natal.house_system, ramc_deg=ramc, latitude_deg=natal.site_latitude_deg,
                                  obliquity_deg=sky.obliquity_deg, polar_fallback=fallback)
        cusps = [float(c) for c in houses.cusps_deg]
        asc, mc_deg, vertex = float(houses.ascendant_deg), float(houses.midheaven_deg), float(houses.vertex_deg)
        if natal.zodiac != "tropical":
            shift = float(astrology.ayanamsha_table(natal.zodiac, np.array([tt]))[0, 0])
            cusps = [(c - shift) % 360.0 for c in cusps]
            asc, mc_deg, vertex = ((x - shift) % 360.0 for x in (asc, mc_deg, vertex))
            if natal.house_system == "whole_sign":
                cusps = [(30.0 * (asc // 30.0) + 30.0 * k) % 360.0 for k in range(12)]
            elif natal.house_system == "equal":
                cusps = [(asc + 30.0 * k) % 360.0 for k in range(12)]
        points = [ChartPoint(p.name, p.longitude_deg, p.latitude_deg, p.distance_au, p.speed_deg_per_day,
                             p.retrograde, p.sign, p.degree_in_sign, house_of(p.longitude_deg, cusps))
                  for p in cast.points]
        chart = Chart(**{**{name: getattr(cast, name) for name in cast.__dataclass_fields__},
                         "points": points, "cusps_deg": cusps, "ascendant_deg": asc, "midheaven_deg": mc_deg,
                         "vertex_deg": vertex,
                         "houses_used": "porphyry" if bool(houses.fallback) else natal.house_system})
    return Progression(method, angles, age, tt, arc, chart)


def solar_arc(eph: Ephemeris, natal: Chart, when: Times) -> SolarArcDirections:
    """Solar arc directions of `natal` to the date `when` (module text)."""
    _check(natal, when)
    age = float(when.tt) - natal.tt_julian_day
    tt = natal.tt_julian_day + progressed_offset_days(age, "secondary")
    sun = eph.chart(eph.times(tt, "tt"), _site(natal), houses="equal", zodiac=natal.zodiac, bodies=["sun"])
    arc = (sun.points[0].longitude_deg - _sun(natal) + 180.0) % 360.0 - 180.0
    named = [(p.name, p.longitude_deg) for p in natal.points]
    named += [("ascendant", natal.ascendant_deg), ("midheaven", natal.midheaven_deg)]
    return SolarArcDirections(age, arc, [DirectedPoint(n, lon, (lon + arc) % 360.0) for n, lon in named])



def progressed_positions(eph: Ephemeris, natal: Chart, dates: Times, bodies: list[str] | None = None,
                         method: str = "secondary") -> Any:
    """(dates, bodies, 4): the progressed apparent places (the `positions`
    columns, or the `sidereal_positions` ones in a sidereal natal chart) of
    many dates at once, e.g. a day by day year of secondary progressions."""
    if not isinstance(natal, Chart):
        raise TypeError(f"natal must be a Chart, not {type(natal).__name__}")
    names = [p.name for p in natal.points if p.distance_au is not None] if bodies is None else list(bodies)
    age = np.atleast_1d(np.asarray(dates.tt, dtype=np.float64)) - natal.tt_julian_day
    offsets = np.array([progressed_offset_days(float(a), method) for a in age])
    when = eph.times(natal.tt_julian_day + offsets, "tt")
    if natal.zodiac == "tropical":
        return eph.positions(names, when)
    return eph.sidereal_positions(names, when, natal.zodiac)
