"""One binder serves every function, method and constructor: its errors must
read exactly like the interpreter's for a Python function of the same
parameters, and conversion failures carry a note naming the parameter."""

import collections.abc
import pathlib

import numpy
import pytest

import tarvex


def message(call):
    with pytest.raises(TypeError) as info:
        call()
    return str(info.value)


# Python twins of the native signatures (self and cls are not counted by the
# native methods, so the twins leave them out).
def instant(julian_day, time_scale="tdb"):
    pass


def observer(longitude_east_deg, latitude_deg, height_m=0.0):
    pass


def house_cusps(observer, ut1, tt, system):
    pass


def preset(origin="geocentric", coordinate_system="ecliptic", observer=None):
    pass


def member():
    pass


def scale(julian_day):
    pass


CASES = [
    # (native callable, its name in messages, Python twin, args, kwargs)
    (tarvex.Instant, "Instant.__new__", instant, (1, 2, 3), {}),
    (tarvex.Instant, "Instant.__new__", instant, (), {}),
    (tarvex.Instant, "Instant.__new__", instant, (1,), {"julian_day": 2}),
    (tarvex.Instant, "Instant.__new__", instant, (1,), {"scale": 2}),
    (tarvex.Instant, "Instant.__new__", instant, (), {"time_scale": "tt"}),
    (tarvex.Instant, "Instant.__new__", instant, (1, 2, 3), {"bogus": 1}),
    (tarvex.Instant, "Instant.__new__", instant, (1, 2, 3), {"julian_day": 1}),
    (tarvex.GeodeticObserver, "GeodeticObserver.__new__", observer, (), {}),
    (tarvex.GeodeticObserver, "GeodeticObserver.__new__", observer, (), {"height_m": 1}),
    (tarvex.GeodeticObserver, "GeodeticObserver.__new__", observer, (1, 2, 3, 4), {}),
    (tarvex.house_cusps, "house_cusps", house_cusps, (), {}),
    (tarvex.house_cusps, "house_cusps", house_cusps, (1,), {}),
    (tarvex.house_cusps, "house_cusps", house_cusps, (1, 2), {}),
    (tarvex.house_cusps, "house_cusps", house_cusps, (1, 2, 3, 4, 5), {}),
    (tarvex.house_cusps, "house_cusps", house_cusps, (1,), {"tt": 1, "observer": 2}),
    (tarvex.house_cusps, "house_cusps", house_cusps, (), {"system": 1, "ut1": 2}),
    (tarvex.geometric, "geometric", preset, (1, 2, 3, 4), {}),
    (tarvex.apparent, "apparent", preset, (), {"origin": 1, "frame": 2}),
    (tarvex.Instant.tdb, "Instant.tdb", scale, (1, 2), {}),
    (tarvex.Instant.utc, "Instant.utc", scale, (), {}),
    (tarvex.HouseSystem.placidus, "HouseSystem.placidus", member, (1,), {}),
    (tarvex.HouseSystem.placidus, "HouseSystem.placidus", member, (1, 2), {}),
    (tarvex.HouseSystem.placidus, "HouseSystem.placidus", member, (), {"x": 1}),
]


@pytest.mark.parametrize("native, name, twin, args, kwargs", CASES)
def test_binding_messages_equal_the_interpreters(native, name, twin, args, kwargs):
    expected = message(lambda: twin(*args, **kwargs)).replace(twin.__name__ + "()", name + "()", 1)
    assert message(lambda: native(*args, **kwargs)) == expected


def test_binding_message_forms():
    # The shapes the twins above produce, spelled out once.
    assert message(lambda: tarvex.Instant(1, 2, 3)) == (
        "Instant.__new__() takes from 1 to 2 positional arguments but 3 were given")
    assert message(lambda: tarvex.Instant.tt(1, 2)) == (
        "Instant.tt() takes 1 positional argument but 2 were given")
    assert message(lambda: tarvex.house_cusps(1)) == (
        "house_cusps() missing 3 required positional arguments: 'ut1', 'tt', and 'system'")
    assert message(lambda: tarvex.house_cusps(1, 2)) == (
        "house_cusps() missing 2 required positional arguments: 'tt' and 'system'")
    assert message(lambda: tarvex.Instant(1, julian_day=2)) == (
        "Instant.__new__() got multiple values for argument 'julian_day'")
    assert message(lambda: tarvex.Instant(1, scale="tt")) == (
        "Instant.__new__() got an unexpected keyword argument 'scale'")


def test_keywords_and_positions_mix():
    assert tarvex.Instant(time_scale="tt", julian_day=3).time_scale == "tt"
    assert tarvex.Instant(3, time_scale="utc").julian_day == 3.0
    assert tarvex.GeodeticObserver(latitude_deg=10, longitude_east_deg=20).height_m == 0.0
    assert tarvex.Instant(**{"julian_day": 5.0}).julian_day == 5.0


def test_none_means_omitted_only_where_the_default_is_none():
    assert tarvex.geometric(observer=None).observer is None
    assert tarvex.PositionOptions("geocentric", "ecliptic", observer=None).observer is None
    with pytest.raises(TypeError) as info:
        tarvex.Instant(1.0, None)
    assert str(info.value) == "'NoneType' object is not an instance of 'str'"
    with pytest.raises(TypeError) as info:
        tarvex.house_cusps(None, 2451545.0, 2451545.0, "equal")
    assert str(info.value) == "'None' is not an instance of 'GeodeticObserver'"
    assert info.value.__notes__ == ["while processing 'observer'"]


def test_conversion_errors_carry_the_parameter_note():
    with pytest.raises(TypeError) as info:
        tarvex.Instant("2451545.0")
    assert info.value.__notes__ == ["while processing 'julian_day'"]
    with pytest.raises(TypeError) as info:
        tarvex.GeodeticObserver(0.0, 0.0, height_m=[1])
    assert info.value.__notes__ == ["while processing 'height_m'"]
    with pytest.raises(TypeError) as info:
        tarvex.geometric(coordinate_system=tarvex.HouseSystem.equal())
    assert str(info.value) == "'HouseSystem' object is not an instance of 'str'"
    assert info.value.__notes__ == ["while processing 'coordinate_system'"]


def test_float_conversion_follows_the_interpreter():
    class Real:
        def __float__(self):
            return 2451545.5

    class Index:
        def __index__(self):
            return 2451545

    assert tarvex.Instant(Real()).julian_day == 2451545.5
    assert tarvex.Instant(Index()).julian_day == 2451545.0
    assert tarvex.Instant(numpy.float64(1.25)).julian_day == 1.25
    with pytest.raises(TypeError) as info:
        tarvex.Instant(object())
    assert str(info.value) == "must be real number, not object"
    assert info.value.__notes__ == ["while processing 'julian_day'"]


@pytest.mark.parametrize("value, expected", [
    (True, True), (False, False), (numpy.bool_(True), True), (numpy.bool_(False), False)])
def test_booleans_accept_bool_and_numpy_bool(value, expected):
    options = tarvex.PositionOptions("geocentric", "ecliptic", apparent=value, true_ecliptic=value)
    assert options.apparent is expected
    assert options.true_ecliptic is expected


@pytest.mark.parametrize("value, type_name", [(1, "int"), (0, "int"), (1.0, "float"),
                                              (None, "NoneType"), (numpy.int64(1), "int64")])
def test_booleans_refuse_everything_else(value, type_name):
    with pytest.raises(TypeError) as info:
        tarvex.PositionOptions("geocentric", "ecliptic", "j2000", False, False, False, value)
    assert str(info.value) == f"'{type_name}' object is not an instance of 'bool'"
    assert info.value.__notes__ == ["while processing 'aberration'"]


def test_text_refuses_lone_surrogates_with_the_note():
    with pytest.raises(UnicodeEncodeError) as info:
        tarvex.Instant(1.0, "\ud800")
    assert info.value.__notes__ == ["while processing 'time_scale'"]


HAS_ENGINE = hasattr(tarvex, "Engine")
KERNEL = pathlib.Path(__file__).resolve().parents[2].parent / "shared" / "data" / "de405s.bsp"
KERNEL_SHA256 = "cf6891c44de2e58a73fdd2e1e0fc865f517246deed4198774e627684e4aa8e9b"


@pytest.mark.skipif(not HAS_ENGINE, reason="the list converters serve Engine.positions")
def test_list_parameters():
    engine = tarvex.Engine(str(KERNEL), KERNEL_SHA256)
    options = tarvex.geometric()
    instant = tarvex.Instant(2451545.0)

    class Bodies(collections.abc.Sequence):
        def __len__(self):
            return 1

        def __getitem__(self, index):
            if index:
                raise IndexError(index)
            return "sun"

    assert engine.positions(("sun", "moon"), [instant] * 3, options).shape == (3, 2, 4)
    assert engine.positions(Bodies(), (instant,), options).shape == (1, 1, 4)
    assert engine.positions([], [instant], options).shape == (1, 0, 4)
    cases = [
        ("sun", [instant], "a single 'str' is not accepted as a sequence of 'str'", "bodies"),
        (["sun", 1], [instant], "'int' object is not an instance of 'str'", "bodies"),
        (5, [instant], "'int' object is not an instance of 'Sequence'", "bodies"),
        ({"sun": 1}, [instant], "'dict' object is not an instance of 'Sequence'", "bodies"),
        (["sun"], [instant, 2451545.0], "'float' object is not an instance of 'Instant'",
         "instants"),
        (["sun"], 2451545.0, "'float' object is not an instance of 'Sequence'", "instants"),
    ]
    for bodies, instants, text, parameter in cases:
        with pytest.raises(TypeError) as info:
            engine.positions(bodies, instants, options)
        assert str(info.value) == text
        assert info.value.__notes__ == [f"while processing '{parameter}'"]
