"""Typed use of tarvex that `mypy --strict` must accept (tests/python/test_typing.py).

It is only type-checked, never run: assert_type pins what the stub promises,
and the functions below are what a typed caller writes.
"""

import enum
from typing import Literal, assert_type

import numpy
import numpy.typing

import tarvex

FloatArray = numpy.typing.NDArray[numpy.float64]


class Season(enum.Enum):
    """A caller's own enumeration: the engine reads the member's name."""

    march_equinox = 0
    june_solstice = 1


def open_engine(data: str) -> tarvex.Engine:
    engine = tarvex.open(
        data + "de405s.bsp", "cf6891c44de2e58a73fdd2e1e0fc865f517246deed4198774e627684e4aa8e9b",
        leap_second_kernel=data + "naif0012.tls",
        leap_second_sha256="678e32bdb5a744117a467cd9601cd6b373f0e9bc9bbde1371d5eee39600a039b",
    )
    engine.with_eop(data + "eop_c04_1962_2022.txt",
                    "02918d2ba8f92b17fffcb6a1b8928d0df550ecab3e483a4b3c12039721e6a99e")
    assert_type(engine.with_additional_kernel_file(data + "x.bsp", "0" * 64), None)
    also: tarvex.Engine = tarvex.Engine(data + "de405s.bsp", "0" * 64, None, None, eop=None)
    del also
    return engine


def values() -> None:
    when = tarvex.Instant(2451545, "tt")
    assert_type(when.julian_day, float)
    scale: Literal["utc", "ut1", "tt", "tdb"] = when.time_scale
    assert_type(tarvex.Instant.utc(numpy.float64(2451545.5)), tarvex.Instant)
    site = tarvex.GeodeticObserver(-0.1275, 51.5072)
    assert_type(site.height_m, float)
    options = tarvex.PositionOptions("geocentric", "ecliptic", "of_date", apparent=numpy.bool_(True))
    assert_type(options.observer, tarvex.GeodeticObserver | None)
    assert_type(options.apparent, bool)
    topocentric = tarvex.apparent("topocentric", "equatorial", site)
    if topocentric.observer is not None:
        assert_type(topocentric.observer.latitude_deg, float)
    assert_type(tarvex.geometric(), tarvex.PositionOptions)
    assert_type(tarvex.J2000_JULIAN_DAY, float)
    del scale


def query(engine: tarvex.Engine) -> float:
    when = tarvex.Instant.utc(2454635.0)
    mars = engine.position("mars", when, tarvex.apparent())
    assert_type(mars, tarvex.Position)
    batch = engine.positions(["sun", "moon"], [when, tarvex.Instant.tt(2454636.0)], tarvex.geometric())
    assert_type(batch, FloatArray)
    longitudes: FloatArray = batch[:, :, 0]
    span = engine.supported_range
    assert_type(span.start_julian_day, float)
    metadata = engine.kernel_metadata.as_dict()
    assert_type(metadata["kernel_sha256"], str)
    assert_type(metadata["additional_kernels"], list[tuple[str, str]])
    for name, sha256 in engine.kernel_metadata.additional_kernels():
        assert_type(name + sha256, str)
    return float(longitudes.sum()) + mars.longitude_speed_deg_per_day


def events(engine: tarvex.Engine) -> list[float]:
    when = tarvex.Instant.utc(2454635.0)
    site = tarvex.GeodeticObserver(-0.1275, 51.5072, 11.0)
    found: list[float] = []
    # Names, the module's enumeration objects and a caller's enum all work.
    kinds: list[str | tarvex.SeasonEvent | Season] = [
        "june_solstice", tarvex.SeasonEvent.march_equinox(), Season.june_solstice]
    for kind in kinds:
        found.append(engine.next_season_event(when, kind).julian_day)
    found.append(engine.next_lunation(when, tarvex.LunationEvent("full-moon")).julian_day)
    day = engine.rise_set_transit("sun", site, when, tarvex.SUN_UPPER_LIMB_ALTITUDE_DEG)
    assert_type(day.rise_ut1_julian_day, float | None)
    if day.rise_ut1_julian_day is not None:
        found.append(day.rise_ut1_julian_day)
    found.append(day.transit_ut1_julian_day)
    event = engine.next_horizon_event("moon", site, when, tarvex.HorizonEventKind.set(), -0.5)
    kind_name: Literal["rise", "set", "transit"] = event.kind.name
    found.append(event.ut1_julian_day)
    sidereal = engine.sidereal_position("sun", when, tarvex.apparent(), tarvex.SiderealMode.lahiri())
    found.append(sidereal.longitude_deg)
    del kind_name
    return found


def houses() -> list[float]:
    site = tarvex.GeodeticObserver(-0.1275, 51.5072)
    cusps = tarvex.house_cusps(site, tarvex.Instant.ut1(2454635.0), 2454635.0008, "placidus")
    assert_type(cusps.system, tarvex.HouseSystem)
    assert_type(cusps.system.name, Literal["placidus", "campanus", "equal", "whole_sign"])
    equal = tarvex.house_cusps(site, 2454635, 2454635, tarvex.HouseSystem.equal())
    return cusps.cusp_ecliptic_longitude_deg + [equal.ascendant_deg, cusps.local_sidereal_time_deg]


def mistakes(engine: tarvex.Engine, when: tarvex.Instant) -> None:
    """Calls the stub must refuse. Under --strict an ignore that silences
    nothing is itself an error, so each line proves its error is reported."""
    engine.position("sun", 2451545.0, tarvex.apparent())  # type: ignore[arg-type]
    engine.next_season_event(when, tarvex.HouseSystem.placidus())  # type: ignore[arg-type]
    engine.next_lunation(when, tarvex.SeasonEvent.march_equinox())  # type: ignore[arg-type]
    tarvex.PositionOptions("geocentric", "ecliptic", apparent=1)  # type: ignore[arg-type]
    when.julian_day = 2451545.0  # type: ignore[misc]
    tarvex.Instant(2451545.0, time_scale=tarvex.HouseSystem.equal())  # type: ignore[arg-type]
    ok: bool = engine.rise_set_transit("sun", tarvex.GeodeticObserver(0, 0), when, 0).rise_ut1_julian_day  # type: ignore[assignment]
    del ok
