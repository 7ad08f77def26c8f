"""A typed caller of tarvexkit; `mypy --strict` must pass on this file
against the installed package (py.typed), and the ignore comments mark
calls the annotations must refuse."""

from __future__ import annotations

import zoneinfo
from datetime import datetime, timezone

import numpy as np
import numpy.typing as npt

import tarvex
import tarvexkit


def chart_positions(eph: tarvexkit.Ephemeris) -> npt.NDArray[np.float64]:
    when: tarvexkit.Times = eph.utc(2026, 3, 20, 14, 30)
    local = eph.from_datetime(datetime(2026, 3, 20, 14, 30, tzinfo=zoneinfo.ZoneInfo("Europe/Berlin")))
    days = eph.utc(2026, 3, np.arange(1, 31))
    arr = eph.positions(["sun", "moon"], days, tarvex.apparent(), threads=2)
    arr2 = eph.positions("mars", days.julian_days, scale="tt")
    text: str = when.iso()
    stamps: list[str] = days.iso(tz=timezone.utc)
    dt: datetime = local.to_datetime()
    instants: list[tarvex.Instant] = days.instants("tt")
    position: tarvex.Position = eph.position("moon", when)
    cusps: tarvex.HouseCusps = eph.house_cusps(tarvex.GeodeticObserver(0.0, 51.5), when, "placidus")
    events: tarvexkit.Events = eph.seasons(when, eph.utc(2027))
    for kind, t in events:
        print(kind, t.iso())
    print(text, stamps, dt, instants, position, cusps, arr2)
    eph.utc(2026, 3, 20, calendar="mayan")  # type: ignore[arg-type]
    return arr


def opened() -> tarvexkit.Ephemeris:
    eph = tarvexkit.open("de440s.bsp", additional_kernels=["extra.bsp"], eop=None)
    for f in eph.files:
        print(f.role, f.path, f.sha256, f.source)
    return tarvexkit.load()
