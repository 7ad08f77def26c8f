"""The void-of-course Moon.

Rule (the modern one, after W. Lilly, "Christian Astrology", 1647, p.
112, as A. Leo and most programs now use it): the Moon is void of course
from its last exact Ptolemaic aspect (conjunction, sextile, square, trine,
opposition) to the Sun, Mercury, Venus, Mars, Jupiter or Saturn while in a
sign until it enters the next sign. (`bodies=` adds Uranus, Neptune and
Pluto, as some astrologers do.) The aspects are `Ephemeris.aspects`, the
ingresses `Ephemeris.sign_ingresses`, in the given zodiac.
"""

from __future__ import annotations

from collections.abc import Sequence
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any

import numpy as np

from .results import DictResult
from .times import Times

if TYPE_CHECKING:
    from .ephemeris_protocol import EphemerisLike as Ephemeris

VOID_BODIES = ("sun", "mercury", "venus", "mars", "jupiter", "saturn")


@dataclass(frozen=True)
class VoidOfCourse(DictResult):
    """The Moon void of course from `start_tt` (its last aspect: `aspect`
    to `body`) to `end_tt` (its entry into `next_sign`), TT Julian days."""

    start_tt: float
    end_tt: float
    body: str | None  # None when the Moon made no aspect in the whole sign
    aspect: str | None
    next_sign: str

    _dict_kind = "a void-of-course period's dict"


def void_of_course(eph: Ephemeris, start: Times, stop: Times, *, zodiac: str = "tropical",
                   bodies: Sequence[str] = VOID_BODIES) -> list[VoidOfCourse]:
    """The void-of-course periods that end (at a sign ingress) in [start, stop)."""
    span_start = eph.times(float(start.tt) - 3.0, "tt")  # a sign takes the Moon at most 2.7 days
    ingresses = eph.sign_ingresses("moon", span_start, stop, zodiac=zodiac)
    found_t: list[float] = []
    found_kind: list[tuple[str, str]] = []
    for body in bodies:
        aspects = eph.aspects("moon", body, span_start, stop, zodiac=zodiac)
        found_t.extend(float(t) for t in aspects.times.tt)
        found_kind.extend((body, kind) for kind in aspects.kinds)
    order = np.argsort(found_t)
    times = np.asarray(found_t)[order]
    kinds = [found_kind[i] for i in order]
    periods = []
    entries = [float(t) for t in ingresses.times.tt]
    for k in range(1, len(entries)):
        end = entries[k]
        if end < float(start.tt):
            continue
        inside = np.flatnonzero((times >= entries[k - 1]) & (times < end))
        if inside.size == 0:  # no aspect in the whole sign: void from its entry
            periods.append(VoidOfCourse(entries[k - 1], end, None, None, ingresses.kinds[k]))
            continue
        last = int(inside[-1])
        periods.append(VoidOfCourse(float(times[last]), end, kinds[last][0], kinds[last][1], ingresses.kinds[k]))
    return periods
