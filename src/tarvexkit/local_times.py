"""Clock readings in a time zone as instants, with the zone's history.

A birth time is written on the clock of its place: `local_time(eph, 1987,
4, 23, 6, 15, zone="Asia/Kolkata")` turns it into `Times` through the IANA
tz database (`zoneinfo`, with the PyPI `tzdata` where the system has
none), so the offset is the one in force on that day, war time and
summer time included. Three cases are never guessed:

- before the zone kept a standard time the tz database gives only the
  local mean time of the zone's main town ("LMT"); with a `site` the
  reading is taken as the local mean time of the site itself (its
  longitude / 15 degrees an hour east of Greenwich), and the result says
  so (`mean_time`, `note`);
- a reading the clocks skipped (spring forward, or Samoa's 30 December
  2011) raises `NonexistentLocalTime` unless `nonexistent` is
  "shift_forward" (read it on the clock before the change: 02:30 becomes
  03:30 of the new time) or "shift_backward" (on the clock after it);
- a reading that happens twice (fall back) raises `AmbiguousLocalTime`
  unless `fold` is 0 (the first, earlier one) or 1 (the second), as in
  PEP 495.
"""

from __future__ import annotations

from dataclasses import dataclass
from datetime import datetime, timedelta, timezone, tzinfo
from typing import TYPE_CHECKING, Any
from zoneinfo import ZoneInfo

import tarvex

from .times import Scalar, Times

if TYPE_CHECKING:
    from .ephemeris import Ephemeris

NONEXISTENT_CHOICES = ("raise", "shift_forward", "shift_backward")
SECONDS_PER_DEGREE = 240.0  # of local mean time: 24 h over 360 degrees
MEAN_TIME_ABBREVIATION = "LMT"


class NonexistentLocalTime(ValueError):
    """The clocks of the zone skipped that reading."""


class AmbiguousLocalTime(ValueError):
    """The clocks of the zone showed that reading twice."""


@dataclass(frozen=True)
class LocalTime:
    """A clock reading and its instant: `times` (a scalar `Times`), the
    reading as `wall` text, the `zone` name, `utc_offset_s` (local minus
    UTC, seconds), the zone's `abbreviation` ("IST", "CEST", "LMT"),
    `mean_time` (True when the site's local mean time was used) and `note`
    (a sentence saying how the reading was taken, "" for a plain one)."""

    times: Times[Scalar]
    wall: str
    zone: str
    utc_offset_s: float
    abbreviation: str
    mean_time: bool
    note: str

    def __str__(self) -> str:
        hours = self.utc_offset_s / 3600.0
        sign = "+" if hours >= 0 else "-"
        whole = int(abs(self.utc_offset_s))
        offset = f"{sign}{whole // 3600:02d}:{whole // 60 % 60:02d}" + (f":{whole % 60:02d}" if whole % 60 else "")
        text = f"{self.wall} {self.abbreviation} (UTC{offset}, {self.zone})"
        return f"{text}; {self.note}" if self.note else text


def _zone(zone: str | tzinfo) -> tuple[str, tzinfo]:
    if isinstance(zone, str):
        try:
            return zone, ZoneInfo(zone)
        except (ValueError, LookupError):
            raise ValueError(f"unknown time zone {zone!r} for zone=; use an IANA name such as "
                             "'Asia/Kolkata'") from None
    if isinstance(zone, tzinfo):
        return str(getattr(zone, "key", None) or zone), zone
    raise TypeError(f"zone must be an IANA name or a tzinfo, not {type(zone).__name__}")


def _offset(wall: datetime) -> timedelta:
    offset = wall.utcoffset()
    if offset is None:
        raise ValueError(f"zone {wall.tzinfo!r} gives no UTC offset for {wall:%Y-%m-%d %H:%M}")
    return offset


def local_time(eph: Ephemeris, year: int, month: int = 1, day: int = 1, hour: int = 0, minute: int = 0,
               second: float = 0.0, *, zone: str | tzinfo, site: tarvex.GeodeticObserver | None = None,
               fold: int | None = None, nonexistent: str = "raise") -> LocalTime:
    """The instant at which the clocks of `zone` showed the reading (see the
    module's text for local mean time, `fold` and `nonexistent`).
    Years 1 to 9999 (Python's datetime); ValueError names a field out of
    range."""
    zone_name, tz = _zone(zone)
    if fold not in (None, 0, 1):
        raise ValueError(f"fold must be None, 0 (the earlier reading) or 1 (the later one), not {fold!r}")
    if nonexistent not in NONEXISTENT_CHOICES:
        raise ValueError(f"nonexistent must be one of {', '.join(NONEXISTENT_CHOICES)}, not {nonexistent!r}")
    whole = int(second // 1)
    fraction = float(second) - whole
    try:
        naive = datetime(int(year), int(month), int(day), int(hour), int(minute), whole)
    except (ValueError, OverflowError) as error:
        raise ValueError(f"no such clock reading {year}-{month}-{day} {hour}:{minute}:{second} ({error})") from None
    if not 0.0 <= fraction < 1.0:
        raise ValueError(f"second {second!r} must lie in [0, 60)")
    wall_text = f"{naive:%Y-%m-%d %H:%M:%S}" + (f"{fraction:.6f}"[1:].rstrip("0") if fraction else "")
    first, second_reading = naive.replace(tzinfo=tz, fold=0), naive.replace(tzinfo=tz, fold=1)
    before, after = _offset(first), _offset(second_reading)
    note = ""
    chosen = first
    if before != after:
        back = first.astimezone(timezone.utc).astimezone(tz).replace(tzinfo=None)
        if back != naive:  # a gap: no instant shows this reading
            if nonexistent == "raise":
                raise NonexistentLocalTime(
                    f"{wall_text} never happened in {zone_name}: the clocks went from "
                    f"{_hm(before)} to {_hm(after)} there; pass nonexistent='shift_forward' to read it on the "
                    "clock before the change or 'shift_backward' on the clock after it")
            chosen = first if nonexistent == "shift_forward" else second_reading
            note = (f"{wall_text} was skipped by the clocks (UTC{_hm(before)} to UTC{_hm(after)}); read on the "
                    f"clock {'before' if nonexistent == 'shift_forward' else 'after'} the change")
        else:
            if fold is None:
                raise AmbiguousLocalTime(
                    f"{wall_text} happened twice in {zone_name} (at UTC{_hm(before)} and again at "
                    f"UTC{_hm(after)}); pass fold=0 for the first or fold=1 for the second")
            chosen = first if fold == 0 else second_reading
            note = f"the {'first' if fold == 0 else 'second'} of the two readings {wall_text} (fold={fold})"
    offset = _offset(chosen)
    abbreviation = chosen.tzname() or zone_name
    mean_time = abbreviation == MEAN_TIME_ABBREVIATION
    if mean_time:
        if site is not None:
            seconds = float(site.longitude_east_deg) * SECONDS_PER_DEGREE
            seconds = (seconds + 43200.0) % 86400.0 - 43200.0
            offset = timedelta(seconds=seconds)
            note = (f"before {zone_name} kept a standard time: local mean time of the site "
                    f"(longitude {float(site.longitude_east_deg):.4f}° = UTC{_hm(offset, seconds=True)})")
        else:
            note = (f"before {zone_name} kept a standard time: the zone's local mean time "
                    f"(UTC{_hm(offset, seconds=True)}); give a site for the site's own")
    utc = naive - offset + timedelta(seconds=fraction)
    times = eph.from_datetime(utc.replace(tzinfo=timezone.utc))
    return LocalTime(times=times, wall=wall_text, zone=zone_name, utc_offset_s=offset.total_seconds(),
                     abbreviation=abbreviation, mean_time=mean_time, note=note)


def _hm(offset: timedelta, seconds: bool = False) -> str:
    total = offset.total_seconds()
    sign = "+" if total >= 0 else "-"
    whole = abs(total)
    text = f"{sign}{int(whole // 3600):02d}:{int(whole // 60 % 60):02d}"
    if seconds:
        text += f":{whole % 60:04.1f}"
    return text


def parse_clock(text: str) -> dict[str, Any]:
    """Year, month, day, hour, minute and second of "1987-04-23 06:15[:30]"
    (or with a "T"); ValueError says what form to use."""
    cleaned = text.strip().replace("T", " ")
    for form in ("%Y-%m-%d %H:%M:%S.%f", "%Y-%m-%d %H:%M:%S", "%Y-%m-%d %H:%M", "%Y-%m-%d"):
        try:
            value = datetime.strptime(cleaned, form)
        except ValueError:
            continue
        return {"year": value.year, "month": value.month, "day": value.day, "hour": value.hour,
                "minute": value.minute, "second": value.second + value.microsecond / 1e6}
    raise ValueError(f"cannot read the date and time {text!r}: write it as 'YYYY-MM-DD HH:MM' (or HH:MM:SS), "
                     "on the clock of the place")
