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
from tarvexkit.times import Scalar, Times


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
    position: tarvex.Position = eph.engine.position("moon", when.instants()[0], tarvex.apparent())
    cusps: tarvexkit.Houses = eph.houses(tarvex.GeodeticObserver(0.0, 51.5), when, "placidus")
    events: tarvexkit.Events = eph.seasons(when, eph.utc(2027))
    for kind, t in events:
        print(kind, t.iso())
    print(text, stamps, dt, instants, position, cusps, arr2)
    # One instant reads as floats and text, an array as arrays and lists;
    # indexing and iteration give single instants back.
    tt_one: float = when.tt
    tt_many: npt.NDArray[np.float64] = days.tt
    predicted: bool = local.ut1_predicted
    first: Times[Scalar] = days[0]
    later: Times[Scalar] = first + 1.5
    gap: float = later - first
    gaps: npt.NDArray[np.float64] = days - first
    ordered: bool = first < later
    for one in days[1:3]:
        print(one.iso(), one.to_datetime().strftime("%H:%M"))
    print(tt_one, tt_many, predicted, gap, gaps, ordered, eph.times(2451545.0, "tt").tdb + 1.0)
    wrong: str = days.iso()  # type: ignore[assignment]
    days.to_datetime().strftime("%H")  # type: ignore[attr-defined]
    eph.utc(2026, 3, 20, calendar="mayan")  # type: ignore[call-overload]
    return arr


def opened() -> tarvexkit.Ephemeris:
    eph = tarvexkit.open("de440s.bsp", additional_kernels=["extra.bsp"], eop=None)
    for f in eph.files:
        print(f.role, f.path, f.sha256, f.source)
    return tarvexkit.load()


def observing(eph: tarvexkit.Ephemeris) -> float:
    site = tarvex.GeodeticObserver(-0.1275, 51.5072, 11.0)
    start, stop = eph.utc(2026, 3, 20), eph.utc(2026, 3, 27)
    sky: tarvexkit.Horizontal = eph.altaz(["sun", "moon"], site, eph.utc(2026, 3, 20, np.arange(24)))
    low = eph.altaz("moon", site, start, refraction=(10.0, 1010.0))
    risings: tarvexkit.Events = eph.risings_settings("mars", site, start, stop, altitude_deg=-0.5)
    transits: tarvexkit.Times = eph.transits("moon", site, start, stop, lower=True)
    days: tarvexkit.Events = eph.horizon_events("sun", site, start, stop)
    dusk: tarvexkit.Events = eph.twilight(site, start, stop)
    phase: tarvexkit.MoonPhase = eph.moon_phase(start)
    quarters: tarvexkit.Events = eph.moon_quarters(start, eph.utc(2026, 5, 1))
    for kind, t in quarters:
        print(kind, t.iso())
    print(sky.altitude_deg, risings.kinds, transits.iso(), days, dusk, phase.illuminated_fraction)
    # One body at one instant reads as floats, more of either as arrays.
    altitude: float = low.altitude_deg
    altitudes: npt.NDArray[np.float64] = sky.altitude_deg
    lit: float = phase.illuminated_fraction
    print(altitude, altitudes[:, 0], lit)
    eph.altaz("sun", site, start, refraction=10.0)  # type: ignore[call-overload]
    eph.twilight(site, start)  # type: ignore[call-arg]
    return float(low.altitude_deg)
def astrology(eph: tarvexkit.Ephemeris) -> dict[str, object]:
    when = eph.utc(2026, 3, 20, 14, 30)
    days = eph.utc(2026, 3, np.arange(1, 31))
    site = tarvex.GeodeticObserver(13.4, 52.5)
    houses: tarvexkit.Houses = eph.houses(site, days, "koch")
    mask: npt.NDArray[np.bool_] = houses.defined
    one = tarvexkit.houses("placidus", ramc_deg=10.0, latitude_deg=51.5, obliquity_deg=23.44)
    ascendant: float = one.ascendant_deg
    ascendants: npt.NDArray[np.float64] = houses.ascendant_deg
    print(ascendant, ascendants)
    try:
        one.require()
    except tarvexkit.HouseCuspsUndefined as error:
        print(error.system, error.reason)
    sidereal = eph.sidereal_positions(["sun", "moon"], days, "true_chitra")
    points = eph.lunar_points(tarvexkit.LUNAR_POINTS, days, equinox="mean")
    value: float = tarvexkit.ayanamsha_deg("lahiri", 2451545.0)
    ingresses: tarvexkit.Events = eph.sign_ingresses("mars", when, eph.utc(2027), zodiac="lahiri")
    stations = eph.stations("mercury", when, eph.utc(2027))
    aspects = eph.aspects("sun", "moon", when, eph.utc(2026, 6), ["trine", 45.0])
    chart: tarvexkit.Chart = eph.chart(when, site, houses="whole_sign", orbs={"trine": 6.0})
    first: tarvexkit.ChartPoint = chart.points[0]
    near: list[tarvexkit.ChartAspect] = [a for a in chart.aspects if a.applying]
    print(mask, sidereal, points, value, ingresses, stations, aspects, first, near)
    eph.chart(when, site, orbs="wide")  # type: ignore[arg-type]
    return chart.to_dict()
