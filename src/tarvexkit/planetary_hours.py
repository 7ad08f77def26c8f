"""Planetary days and hours (the Chaldean order).

The day runs from sunrise to the next sunrise at the site (the kit's
sunrises and sunsets: `Ephemeris.risings_settings("sun", ...)`, the Sun's
centre at -50'). The twelve hours of the day divide sunrise to sunset
equally, the twelve of the night sunset to the next sunrise ("unequal" or
seasonal hours). The day's ruler is the planet of its weekday (Sunday the
Sun, Monday the Moon, Tuesday Mars, Wednesday Mercury, Thursday Jupiter,
Friday Venus, Saturday Saturn), the weekday being that of the site's local
mean solar time at sunrise (UT + longitude / 15 h). The first hour belongs
to the day's ruler and each later hour to the next planet in the Chaldean
order, Saturn, Jupiter, Mars, Sun, Venus, Mercury, Moon, round again
(Vettius Valens, "Anthology" I.10; W. Lilly, "Christian Astrology",
1647, p. 474). Where the Sun does not rise or set (polar day or night) a
day is not defined and is left out.
"""

from __future__ import annotations

import math
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any

import tarvex

from .points import CHALDEAN_ORDER
from .results import DictResult
from .times import Times

if TYPE_CHECKING:
    from .ephemeris_protocol import EphemerisLike as Ephemeris

# Weekday 0 = Sunday .. 6 = Saturday.
WEEKDAY_RULERS = ("sun", "moon", "mars", "mercury", "jupiter", "venus", "saturn")


@dataclass(frozen=True)
class PlanetaryHour:
    """Hour `number` (1..24: 1-12 of the day, 13-24 of the night) ruled by
    `ruler`, from `start_tt` to `end_tt` (TT Julian days)."""

    number: int
    ruler: str
    start_tt: float
    end_tt: float


@dataclass(frozen=True)
class PlanetaryDay(DictResult):
    """A planetary day from sunrise to the next sunrise, its `ruler` and its 24 hours."""

    sunrise_tt: float
    sunset_tt: float
    next_sunrise_tt: float
    weekday: int  # 0 = Sunday
    ruler: str
    hours: list[PlanetaryHour]

    _dict_kind = "a planetary day's dict"

    @classmethod
    def _from_fields(cls, data: dict[str, Any]) -> PlanetaryDay:
        return cls(**{**data, "hours": [PlanetaryHour(**h) for h in data["hours"]]})


def planetary_days(eph: Ephemeris, site: tarvex.GeodeticObserver, start: Times, stop: Times) -> list[PlanetaryDay]:
    """The planetary days that begin (at sunrise) in [start, stop) at the site."""
    events = eph.risings_settings("sun", site, start, eph.times(float(stop.tt) + 2.0, "tt"))
    kinds = list(events.kinds)
    tt = [float(x) for x in events.times.tt]
    ut1 = [float(x) for x in events.times.ut1]
    days = []
    for i, kind in enumerate(kinds[:-2]):
        if kind != "rise" or kinds[i + 1] != "set" or kinds[i + 2] != "rise" or tt[i] >= float(stop.tt):
            continue
        rise, sets, again = tt[i], tt[i + 1], tt[i + 2]
        weekday = (math.floor(ut1[i] + 0.5 + site.longitude_east_deg / 360.0) + 1) % 7
        ruler = WEEKDAY_RULERS[weekday]
        first = CHALDEAN_ORDER.index(ruler)
        hours = []
        for n in range(24):
            begin, end = (rise, sets) if n < 12 else (sets, again)
            k = n % 12
            step = (end - begin) / 12.0
            hours.append(PlanetaryHour(n + 1, CHALDEAN_ORDER[(first + n) % 7], begin + k * step, begin + (k + 1) * step))
        days.append(PlanetaryDay(rise, sets, again, weekday, ruler, hours))
    return days
