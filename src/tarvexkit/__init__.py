"""tarvexkit: everyday work on top of the strict `tarvex` module::

    import tarvexkit
    eph = tarvexkit.load()                       # DE421 + IERS data, pip install tarvex[data]
    t = eph.utc(2026, 3, 20, 14, 30)             # or eph.from_datetime(aware_datetime)
    eph.positions(["sun", "moon"], t)            # NumPy (instants, bodies, 4), all CPUs
    eph.chart(t, tarvexkit.GeodeticObserver(13.4, 52.5))   # houses, signs, aspects

`load()` opens the default data, `open(kernel, ...)` your own files. Times
convert between UTC, UT1, TT and TDB with the engine's own leap-second
kernel and Earth orientation table, and print in UTC or any time zone.
"""

from tarvex import GeodeticObserver, PositionOptions, apparent, geometric

from .astrology import AYANAMSHAS, HOUSE_SYSTEMS, HouseCuspsUndefined, Houses, ayanamsha_deg, houses
from .chart import Chart, ChartAspect, ChartFile, ChartPoint
from .data import DataFile
from .ephemeris import Ephemeris, load, open
from .events import Events
from .local_times import AmbiguousLocalTime, LocalTime, NonexistentLocalTime, local_time
from .lunar import LUNAR_POINTS
from .minor_bodies import MinorBody
from .observing import Horizontal, MoonPhase
from .places import AmbiguousPlace, Place, UnknownPlace, place, place_at
from .times import Times
from .wheel import wheel_svg

__all__ = [
    "AYANAMSHAS",
    "AmbiguousLocalTime",
    "AmbiguousPlace",
    "Chart",
    "ChartAspect",
    "ChartFile",
    "ChartPoint",
    "DataFile",
    "Ephemeris",
    "Events",
    "GeodeticObserver",
    "HOUSE_SYSTEMS",
    "Horizontal",
    "HouseCuspsUndefined",
    "Houses",
    "LUNAR_POINTS",
    "LocalTime",
    "MinorBody",
    "MoonPhase",
    "NonexistentLocalTime",
    "Place",
    "PositionOptions",
    "Times",
    "UnknownPlace",
    "apparent",
    "ayanamsha_deg",
    "geometric",
    "houses",
    "load",
    "local_time",
    "open",
    "place",
    "place_at",
    "wheel_svg",
]
