"""tarvexkit: everyday work on top of the strict `tarvex` module.

    import tarvexkit
    eph = tarvexkit.load()                       # DE421 + IERS data, pip install tarvex[data]
    t = eph.utc(2026, 3, 20, 14, 30)             # or eph.from_datetime(aware_datetime)
    eph.positions(["sun", "moon"], t)            # NumPy (instants, bodies, 4), all CPUs

`load()` opens the default data, `open(kernel, ...)` your own files. Times
convert between UTC, UT1, TT and TDB with the engine's own leap-second
kernel and Earth orientation table, and print in UTC or any time zone.
"""

from tarvex import GeodeticObserver, PositionOptions, apparent, geometric

from .data import DataFile
from .ephemeris import Ephemeris, Events, load, open
from .observing import Horizontal, MoonPhase
from .times import Times

__all__ = [
    "DataFile",
    "Ephemeris",
    "Events",
    "GeodeticObserver",
    "Horizontal",
    "MoonPhase",
    "PositionOptions",
    "Times",
    "apparent",
    "geometric",
    "load",
    "open",
]
