"""Instant, GeodeticObserver, PositionOptions, the presets and the result
classes of positions and kernels."""

import math

import numpy
import pytest

import tarvex


def value_error(call):
    with pytest.raises(ValueError) as info:
        call()
    return str(info.value)


def test_instant_construction_and_repr():
    instant = tarvex.Instant(2451545)
    assert type(instant.julian_day) is float and instant.julian_day == 2451545.0
    assert instant.time_scale == "tdb"
    assert repr(instant) == 'Instant(2451545.0, time_scale="tdb")'
    assert repr(tarvex.Instant(2451545.25, "TT ")) == 'Instant(2451545.25, time_scale="tt")'
    assert repr(tarvex.Instant(1e16, "utc")) == 'Instant(1e16, time_scale="utc")'
    assert repr(tarvex.Instant(0.000015)) == 'Instant(1.5e-5, time_scale="tdb")'
    # The float is stored unchanged, even a negative zero.
    assert math.copysign(1.0, tarvex.Instant(-0.0).julian_day) == -1.0


@pytest.mark.parametrize("make, scale", [
    (tarvex.Instant.tdb, "tdb"), (tarvex.Instant.tt, "tt"),
    (tarvex.Instant.utc, "utc"), (tarvex.Instant.ut1, "ut1"),
])
def test_instant_class_methods(make, scale):
    instant = make(julian_day=-1e9)
    assert (instant.julian_day, instant.time_scale) == (-1e9, scale)
    assert type(instant) is tarvex.Instant
    for bad in [float("nan"), float("inf"), -float("inf")]:
        assert value_error(lambda: make(bad)) == "Julian day must be finite"


def test_instant_refusals():
    assert value_error(lambda: tarvex.Instant(float("nan"))) == "Julian day must be finite"
    # finiteness is checked before the scale name
    assert value_error(lambda: tarvex.Instant(float("inf"), "gps")) == "Julian day must be finite"
    assert value_error(lambda: tarvex.Instant(0.0, "gps")) == 'unknown time scale "gps"'
    with pytest.raises(TypeError) as info:
        tarvex.Instant(0.0, tarvex.HouseSystem.equal())
    assert info.value.__notes__ == ["while processing 'time_scale'"]


def test_geodetic_observer():
    observer = tarvex.GeodeticObserver(-0.5, 90.0)
    assert (observer.longitude_east_deg, observer.latitude_deg, observer.height_m) == (
        -0.5, 90.0, 0.0)
    assert repr(observer) == (
        "GeodeticObserver(longitude_east_deg=-0.5, latitude_deg=90, height_m=0)")
    assert repr(tarvex.GeodeticObserver(400, -12.25, 1e21)) == (
        "GeodeticObserver(longitude_east_deg=400, latitude_deg=-12.25, "
        "height_m=1000000000000000000000)")
    latitude = "geodetic latitude must be finite and within [-90, 90] degrees"
    assert value_error(lambda: tarvex.GeodeticObserver(0.0, 90.5)) == latitude
    assert value_error(lambda: tarvex.GeodeticObserver(0.0, -91)) == latitude
    assert value_error(lambda: tarvex.GeodeticObserver(math.inf, 0.0)) == (
        "Cartesian state must be finite")
    assert value_error(lambda: tarvex.GeodeticObserver(0.0, 0.0, math.nan)) == (
        "Cartesian state must be finite")


def test_position_options_attributes_and_repr():
    options = tarvex.PositionOptions("Geocentric", "Ecliptic", "OF-DATE", apparent=True)
    assert (options.origin, options.coordinate_system, options.reference_epoch) == (
        "geocentric", "ecliptic", "of_date")
    assert options.apparent is True and options.true_ecliptic is False
    assert options.observer is None
    assert repr(options) == ('PositionOptions(origin="geocentric", coordinate_system="ecliptic", '
                             'reference_epoch="of_date", apparent=true)')
    for switch in ["light_time", "aberration", "gravitational_deflection", "precession",
                   "nutation"]:
        assert not hasattr(options, switch)


def test_topocentric_options_carry_a_new_observer_on_every_read():
    site = tarvex.GeodeticObserver(13.4, 52.5, 34.0)
    options = tarvex.PositionOptions("topocentric", "equatorial", observer=site,
                                     true_ecliptic=numpy.bool_(True))
    assert options.true_ecliptic is True
    first, second = options.observer, options.observer
    assert first is not second and first is not site
    assert repr(first) == repr(site)
    assert repr(options) == (
        'PositionOptions(origin="topocentric", observer=GeodeticObserver(longitude_east_deg=13.4, '
        'latitude_deg=52.5, height_m=34), coordinate_system="equatorial", '
        'reference_epoch="j2000", apparent=false)')


def test_position_options_refusals():
    site = tarvex.GeodeticObserver(0.0, 0.0)
    assert value_error(lambda: tarvex.PositionOptions("topocentric", "ecliptic")) == (
        'origin "topocentric" requires a GeodeticObserver')
    assert value_error(lambda: tarvex.PositionOptions("geocentric", "ecliptic", observer=site)) == (
        'observer is only valid with origin "topocentric"')
    with pytest.raises(TypeError) as info:
        tarvex.PositionOptions("geocentric", "ecliptic", apparent=1)
    assert info.value.__notes__ == ["while processing 'apparent'"]
    with pytest.raises(TypeError) as info:
        tarvex.PositionOptions("topocentric", "ecliptic", observer=(0.0, 0.0, 0.0))
    assert str(info.value) == "'tuple' object is not an instance of 'GeodeticObserver'"
    assert info.value.__notes__ == ["while processing 'observer'"]
    # Switch combinations are the engine's to judge.
    assert tarvex.PositionOptions("geocentric", "ecliptic", "j2000", apparent=True).apparent


def test_presets():
    geometric, apparent = tarvex.geometric(), tarvex.apparent()
    assert (geometric.origin, geometric.coordinate_system, geometric.reference_epoch,
            geometric.apparent, geometric.true_ecliptic) == (
        "geocentric", "ecliptic", "j2000", False, False)
    assert (apparent.origin, apparent.coordinate_system, apparent.reference_epoch,
            apparent.apparent, apparent.true_ecliptic) == (
        "geocentric", "ecliptic", "of_date", True, False)
    site = tarvex.GeodeticObserver(1.0, 2.0)
    options = tarvex.apparent("topocentric", "Equatorial", site)
    assert options.origin == "topocentric" and options.coordinate_system == "equatorial"
    assert options.observer.latitude_deg == 2.0
    assert value_error(lambda: tarvex.geometric("heliocentric", "galactic")) == (
        'unknown coordinate system "galactic"')
    assert value_error(lambda: tarvex.apparent(observer=site)) == (
        'observer is only valid with origin "topocentric"')


@pytest.mark.parametrize("cls", [tarvex.Position, tarvex.DateRange, tarvex.KernelMetadata,
                                 tarvex.HouseCusps, tarvex.RiseSetTransit, tarvex.HorizonEvent])
def test_result_classes_cannot_be_instantiated(cls):
    with pytest.raises(TypeError):
        cls()
    with pytest.raises(TypeError):
        cls.__new__(cls)


def test_result_classes_list_their_members_in_order():
    def members(cls):
        return [name for name in vars(cls) if not name.startswith("_")]

    assert members(tarvex.Position) == ["longitude_deg", "latitude_deg", "distance_au",
                                        "longitude_speed_deg_per_day"]
    assert members(tarvex.DateRange) == ["start_julian_day", "end_julian_day", "time_scale"]
    assert members(tarvex.KernelMetadata) == ["engine_version", "kernel_name", "kernel_sha256",
                                              "coordinate_frame", "additional_kernels", "as_dict"]


def test_attributes_build_new_objects():
    instant = tarvex.Instant(2451545.5, "ut1")
    assert instant.julian_day is not instant.julian_day
    with pytest.raises(AttributeError):
        instant.time_scale = "tt"
    with pytest.raises(AttributeError):
        del instant.julian_day
