"""Points and tables drawn from a chart: the Lots of Fortune and Spirit,
midpoints (and the 90-degree dial), antiscia, declinations with parallels
and out-of-bounds, harmonic charts and the essential dignities.

Lots (Vettius Valens, "Anthology" II.3; Paulus Alexandrinus, ch. 23): by
day Fortune = Ascendant + Moon - Sun and Spirit = Ascendant + Sun - Moon;
by night the two formulas change places (`reverse_at_night=False` keeps the
day formulas, as Ptolemy, "Tetrabiblos" III.10). A chart is diurnal when
the Sun is above the horizon, i.e. in houses 7 to 12 of a quadrant system
(in any system: when the Sun lies on the half of the ecliptic from the
descendant forward to the ascendant).

Midpoints: of every pair of points, on the shorter arc (for two opposite
points the one 90 degrees ahead of the first); on the 90-degree dial each
midpoint modulo 90, sorted (R. Ebertin, "The Combination of Stellar
Influences", 1940).

Antiscia: reflections in the solstitial axis (0 Cancer - 0 Capricorn),
180 - longitude; contra-antiscia in the equinoctial axis, 360 - longitude.

Declinations from the ecliptic longitude and latitude of date and the true
obliquity: sin d = sin b cos e + cos b sin e sin l (tropical longitude).
Two points are parallel when their declinations differ by at most the orb
(default 1 degree) with the same sign, contra-parallel when they have
opposite signs and equal size within the orb; a point is out of bounds when
its declination exceeds the obliquity in size.

Harmonic chart n (J. Addey, "Harmonics in Astrology", 1976): every
longitude times n, modulo 360.

Essential dignities (Ptolemy, "Tetrabiblos" I.17-22; W. Lilly, "Christian
Astrology", 1647, p. 104): domicile, exaltation, detriment (the sign
opposite the domicile), fall (opposite the exaltation) of the seven
traditional planets; triplicity rulers by day, night and participating
(Dorotheus, "Carmen Astrologicum" I.1); the Egyptian terms (bounds,
"Tetrabiblos" I.20; the planets' totals are Jupiter 79, Venus 82,
Mercury 76, Mars 66, Saturn 57 degrees); and the faces (decans) in
Chaldean order from Mars at 0 Aries. Signs are the chart's (tropical, or
sidereal in a sidereal chart).
"""

from __future__ import annotations

from dataclasses import dataclass
from typing import TYPE_CHECKING, Any

import numpy as np

import tarvex

from . import astrology
from .chart import Chart
from .results import DictResult
from .searches import SIGNS
from .synastry import midpoint_deg

if TYPE_CHECKING:
    from .ephemeris_protocol import EphemerisLike as Ephemeris

TRADITIONAL_PLANETS = ("sun", "moon", "mercury", "venus", "mars", "jupiter", "saturn")
# Chaldean order, slowest first.
CHALDEAN_ORDER = ("saturn", "jupiter", "mars", "sun", "venus", "mercury", "moon")
DOMICILE = ("mars", "venus", "mercury", "moon", "sun", "mercury", "venus", "mars", "jupiter", "saturn",
            "saturn", "jupiter")
# planet: (sign index, degree of exaltation)
EXALTATION = {"sun": (0, 19.0), "moon": (1, 3.0), "mercury": (5, 15.0), "venus": (11, 27.0),
              "mars": (9, 28.0), "jupiter": (3, 15.0), "saturn": (6, 21.0)}
# Fire, earth, air, water: (day, night, participating).
TRIPLICITY = (("sun", "jupiter", "saturn"), ("venus", "moon", "mars"), ("saturn", "mercury", "jupiter"),
              ("venus", "mars", "moon"))
# Egyptian terms: (planet, width in degrees) in order through each sign.
EGYPTIAN_TERMS = (
    (("jupiter", 6), ("venus", 6), ("mercury", 8), ("mars", 5), ("saturn", 5)),
    (("venus", 8), ("mercury", 6), ("jupiter", 8), ("saturn", 5), ("mars", 3)),
    (("mercury", 6), ("jupiter", 6), ("venus", 5), ("mars", 7), ("saturn", 6)),
    (("mars", 7), ("venus", 6), ("mercury", 6), ("jupiter", 7), ("saturn", 4)),
    (("jupiter", 6), ("venus", 5), ("saturn", 7), ("mercury", 6), ("mars", 6)),
    (("mercury", 7), ("venus", 10), ("jupiter", 4), ("mars", 7), ("saturn", 2)),
    (("saturn", 6), ("mercury", 8), ("jupiter", 7), ("venus", 7), ("mars", 2)),
    (("mars", 7), ("venus", 4), ("mercury", 8), ("jupiter", 5), ("saturn", 6)),
    (("jupiter", 12), ("venus", 5), ("mercury", 4), ("saturn", 5), ("mars", 4)),
    (("mercury", 7), ("jupiter", 7), ("venus", 8), ("saturn", 4), ("mars", 4)),
    (("mercury", 7), ("venus", 6), ("jupiter", 7), ("mars", 5), ("saturn", 5)),
    (("venus", 12), ("jupiter", 4), ("mercury", 3), ("mars", 9), ("saturn", 2)),
)
TERMS = {"egyptian": EGYPTIAN_TERMS}
FACE_ORDER = ("mars", "sun", "venus", "mercury", "moon", "saturn", "jupiter")


def _sign(longitude_deg: float) -> int:
    return int(longitude_deg // 30.0) % 12


@dataclass(frozen=True)
class Dignities:
    """The essential dignities at a longitude, and those `planet` holds there."""

    planet: str
    sign: str
    domicile_ruler: str
    exaltation_ruler: str | None
    triplicity_rulers: tuple[str, str, str]  # day, night, participating
    term_ruler: str
    face_ruler: str
    dignities: tuple[str, ...]  # of `planet`: "domicile", "exaltation", "triplicity", "term", "face"
    debilities: tuple[str, ...]  # of `planet`: "detriment", "fall"


def dignities(planet: str, longitude_deg: float, *, diurnal: bool = True, terms: str = "egyptian") -> Dignities:
    """Essential dignities of the sign, term and face at a longitude, and
    which of them (and which debilities) `planet` has there (module text)."""
    if terms not in TERMS:
        raise ValueError(f"unknown terms {terms!r}; use one of {', '.join(TERMS)}")
    lon = float(longitude_deg) % 360.0
    sign = _sign(lon)
    degree = lon - 30.0 * sign
    exalted = next((p for p, (s, _) in EXALTATION.items() if s == sign), None)
    triplicity = TRIPLICITY[sign % 4]
    edge = 0.0
    term = TERMS[terms][sign][-1][0]
    for ruler, width in TERMS[terms][sign]:
        edge += width
        if degree < edge:
            term = ruler
            break
    face = FACE_ORDER[(3 * sign + int(degree // 10.0)) % 7]
    held = []
    if DOMICILE[sign] == planet:
        held.append("domicile")
    if exalted == planet:
        held.append("exaltation")
    if triplicity[0 if diurnal else 1] == planet or triplicity[2] == planet:
        held.append("triplicity")
    if term == planet:
        held.append("term")
    if face == planet:
        held.append("face")
    lost = []
    if DOMICILE[(sign + 6) % 12] == planet:
        lost.append("detriment")
    if planet in EXALTATION and (EXALTATION[planet][0] + 6) % 12 == sign:
        lost.append("fall")
    return Dignities(planet, SIGNS[sign], DOMICILE[sign], exalted, triplicity, term, face, tuple(held), tuple(lost))


@dataclass(frozen=True)
class Declination:
    """A point's declination (degrees, of date) and whether it is out of bounds."""

    name: str
    declination_deg: float
    out_of_bounds: bool


@dataclass(frozen=True)
class Parallel:
    """Two points `first`, `second` whose declinations are `kind`
    ("parallel" or "contra_parallel") within `orb_deg`."""

    first: str
    second: str
    kind: str
    orb_deg: float


@dataclass(frozen=True)
class ChartPoints(DictResult):
    """The derived points of one chart (module text)."""

    diurnal: bool
    fortune_deg: float
    spirit_deg: float
    midpoints: dict[str, float]  # "sun/moon" -> midpoint, degrees
    dial_90: list[tuple[str, float]]  # (pair, midpoint modulo 90) sorted
    antiscia: dict[str, float]
    contra_antiscia: dict[str, float]
    declinations: list[Declination]
    parallels: list[Parallel]
    dignities: list[Dignities]

    _dict_kind = "chart points' dict (as ChartPoints.to_dict() makes)"

    @classmethod
    def _from_fields(cls, data: dict[str, Any]) -> ChartPoints:
        return cls(
            data["diurnal"], data["fortune_deg"], data["spirit_deg"], dict(data["midpoints"]),
            [(str(p), float(v)) for p, v in data["dial_90"]], dict(data["antiscia"]),
            dict(data["contra_antiscia"]), [Declination(**d) for d in data["declinations"]],
            [Parallel(**p) for p in data["parallels"]],
            [Dignities(**{**d, "triplicity_rulers": tuple(d["triplicity_rulers"]),
                          "dignities": tuple(d["dignities"]), "debilities": tuple(d["debilities"])})
             for d in data["dignities"]])


def is_diurnal(chart: Chart) -> bool:
    """Whether the Sun is above the horizon: on the ecliptic half from the
    descendant forward to the ascendant."""
    return (chart.point("sun").longitude_deg - chart.ascendant_deg) % 360.0 >= 180.0


def lots(chart: Chart, reverse_at_night: bool = True) -> tuple[float, float]:
    """(Fortune, Spirit), degrees (module text)."""
    asc, sun, moon = chart.ascendant_deg, chart.point("sun").longitude_deg, chart.point("moon").longitude_deg
    fortune, spirit = (asc + moon - sun) % 360.0, (asc + sun - moon) % 360.0
    if reverse_at_night and not is_diurnal(chart):
        fortune, spirit = spirit, fortune
    return fortune, spirit


def harmonic(longitudes_deg: Any, n: int) -> Any:
    """The harmonic-`n` longitudes: each times n, modulo 360."""
    if isinstance(n, bool) or not isinstance(n, (int, np.integer)) or n < 1:
        raise ValueError(f"n must be a positive whole number, not {n!r}")
    return np.asarray(longitudes_deg, dtype=np.float64) * n % 360.0


def chart_points(eph: Ephemeris, chart: Chart, *, parallel_orb_deg: float = 1.0, reverse_at_night: bool = True,
                 terms: str = "egyptian") -> ChartPoints:
    """Lots, midpoints, antiscia, declinations, parallels and dignities of a chart."""
    if not isinstance(chart, Chart):
        raise TypeError(f"chart must be a Chart, not {type(chart).__name__}")
    diurnal = is_diurnal(chart)
    fortune, spirit = lots(chart, reverse_at_night)
    named = [(p.name, p.longitude_deg) for p in chart.points] + [("ascendant", chart.ascendant_deg),
                                                                 ("midheaven", chart.midheaven_deg)]
    mids = {f"{a}/{b}": midpoint_deg(x, y) for i, (a, x) in enumerate(named) for b, y in named[i + 1:]}
    dial = sorted(((pair, value % 90.0) for pair, value in mids.items()), key=lambda item: item[1])
    antiscia = {n: (180.0 - x) % 360.0 for n, x in named}
    contra = {n: (360.0 - x) % 360.0 for n, x in named}
    shift = 0.0 if chart.zodiac == "tropical" else float(
        astrology.ayanamsha_table(chart.zodiac, np.array([chart.tt_julian_day]))[0, 0])
    site = tarvex.GeodeticObserver(chart.site_longitude_east_deg, chart.site_latitude_deg)
    eps = float(eph.houses(site, eph.times(chart.tt_julian_day, "tt"), "porphyry").obliquity_deg)
    declinations = []
    for p in chart.points:
        lam, beta, e = np.radians(p.longitude_deg + shift), np.radians(p.latitude_deg), np.radians(eps)
        dec = float(np.degrees(np.arcsin(np.sin(beta) * np.cos(e) + np.cos(beta) * np.sin(e) * np.sin(lam))))
        declinations.append(Declination(p.name, dec, abs(dec) > eps))
    parallels = []
    for i, d in enumerate(declinations):
        for other in declinations[i + 1:]:
            if d.declination_deg * other.declination_deg >= 0.0:
                orb = abs(d.declination_deg - other.declination_deg)
                kind = "parallel"
            else:
                orb = abs(d.declination_deg + other.declination_deg)
                kind = "contra_parallel"
            if orb <= parallel_orb_deg:
                parallels.append(Parallel(d.name, other.name, kind, orb))
    held = [dignities(p.name, p.longitude_deg, diurnal=diurnal, terms=terms)
            for p in chart.points if p.name in TRADITIONAL_PLANETS]
    return ChartPoints(diurnal, fortune, spirit, mids, dial, antiscia, contra, declinations, parallels, held)
