"""The part of `Ephemeris` the techniques after the natal chart use
(synastry, progressions, points, planetary_hours, void_of_course), as a
structural type, so that those modules take an ephemeris without
importing its module (which imports them)."""

from __future__ import annotations

from collections.abc import Sequence
from typing import Any, Protocol

import numpy.typing as npt

import tarvex

from .astrology import Houses
from .chart import Chart
from .events import Events
from .times import Scale, Times


class EphemerisLike(Protocol):
    """What the techniques call on a `tarvexkit.Ephemeris`."""

    def times(self, julian_days: Any, scale: Scale) -> Any: ...

    def houses(self, site: tarvex.GeodeticObserver, times: Any, system: str = ..., *, zodiac: str = ...,
               polar_fallback: str | None = ...) -> Houses: ...

    def chart(self, when: Times, site: tarvex.GeodeticObserver, *, houses: str = ..., zodiac: str = ...,
              bodies: Sequence[str] | None = ..., aspects: Sequence[str | float] | None = ...,
              orbs: float | dict[str, float] | None = ..., polar_fallback: str | None = ...,
              zone: Any = ...) -> Chart: ...

    def positions(self, bodies: Sequence[str] | str, times: Any, options: Any = ..., *, scale: Any = ...,
                  threads: int | None = ...) -> npt.NDArray[Any]: ...

    def sidereal_positions(self, bodies: Sequence[str] | str, times: Any, ayanamsha: str = ..., options: Any = ...,
                           *, scale: Any = ..., threads: int | None = ...) -> npt.NDArray[Any]: ...

    def risings_settings(self, body: str, site: tarvex.GeodeticObserver, start: Times, stop: Times, *,
                         altitude_deg: float | None = ...) -> Events: ...

    def sign_ingresses(self, body: str | int, start: Times, stop: Times, *, zodiac: str = ...,
                       step_days: float | None = ..., threads: int | None = ...) -> Events: ...

    def aspects(self, first: str | int, second: Any, start: Times, stop: Times,
                aspects: Sequence[str | float] | None = ..., *, zodiac: str = ...,
                step_days: float | None = ..., threads: int | None = ...) -> Events: ...
