"""Arguments of tarvexkit._native: every function binds the parameters its
signature documents, by position or by keyword, judges them in the order
the strict module would, and reads body, time-scale and reference-epoch
names exactly as tarvex reads them."""

import inspect
import re

import numpy
import pytest

import tarvex
from conftest import data_file, open_full_engine

from tarvexkit import _native
from tarvexkit._native import EarthRotation, Store

SITE = tarvex.GeodeticObserver(-0.1275, 51.5072, 11.0)
DAYS = numpy.array([2451545.0, 2452000.25, 2453000.75])


@pytest.fixture(scope="module")
def store():
    return Store([data_file("de405s.bsp"), data_file("planet_centers_1997_2010.bsp")],
                 data_file("naif0012.tls"), data_file("eop_c04_1962_2022.txt"))


@pytest.fixture(scope="module")
def strict():
    return open_full_engine()


@pytest.fixture(scope="module")
def rotation():
    return EarthRotation(*data_file("naif0012.tls"), *data_file("eop_c04_1962_2022.txt"))


def raised(call):
    """(type, message) of the exception `call` raises."""
    with pytest.raises(Exception) as info:
        call()
    return type(info.value), str(info.value)


def callables(store, rotation):
    functions = [getattr(_native, name) for name in (
        "house_cusps", "house_systems", "site_sky", "ayanamsha", "ayanamshas",
        "mean_lunar_points", "osculating_lunar_points", "moon_stencil_days")]
    methods = [getattr(store, name) for name in (
        "positions", "convert", "tdb_seconds", "leap_second_entries", "eop_coverage")]
    return functions + methods + [rotation.horizon, Store, EarthRotation]


def test_every_callable_binds_the_parameters_its_signature_documents(store, rotation):
    for function in callables(store, rotation):
        parameters = inspect.signature(function).parameters.values()
        required = [p.name for p in parameters if p.default is inspect.Parameter.empty]
        if required:
            kind, message = raised(function)
            assert kind is TypeError, function
            listed = re.search(r"missing \d+ required positional arguments?: (.*)$", message)
            assert listed, message
            assert re.findall(r"'(\w+)'", listed.group(1)) == required, message
        else:
            kind, message = raised(lambda: function(1))
            assert kind is TypeError and "takes 0 positional arguments but 1 was given" in message
        for parameter in parameters:
            # Each documented name is a keyword the function knows: passing it
            # twice is refused for that name, not as an unknown keyword.
            kind, message = raised(lambda: function(*range(len(parameters)), **{parameter.name: 0}))
            assert kind is TypeError
            assert message.endswith(f"got multiple values for argument '{parameter.name}'"), message


def test_keyword_arguments_reach_their_own_parameters(store, rotation):
    options = tarvex.apparent("topocentric", "ecliptic", SITE)
    by_position = store.positions(["moon", "mars"], DAYS, "utc", options, 2)
    by_keyword = store.positions(threads=2, options=options, scale="utc", julian_days=DAYS, bodies=["moon", "mars"])
    assert by_keyword.tobytes() == by_position.tobytes()
    forward = store.convert(DAYS, "utc", "tdb")
    assert store.convert(to_scale="tdb", from_scale="utc", julian_days=DAYS).tobytes() == forward.tobytes()
    assert store.convert(DAYS, "tdb", "utc").tobytes() != forward.tobytes()
    assert store.tdb_seconds(scale="tt", julian_days=DAYS).tobytes() == store.tdb_seconds(DAYS, "tt").tobytes()

    places = store.positions(["sun", "moon"], DAYS, "tt", tarvex.apparent("geocentric", "equatorial"))
    ra, dec = places[:, :, 0].ravel(), places[:, :, 1].ravel()
    horizon = rotation.horizon(DAYS, "tt", ra, dec, -0.1275, 51.5072, 11.0)
    assert rotation.horizon(height_m=11.0, latitude_deg=51.5072, longitude_east_deg=-0.1275, declination_deg=dec,
                            right_ascension_deg=ra, scale="tt", julian_days=DAYS).tobytes() == horizon.tobytes()
    assert rotation.horizon(DAYS, "tt", ra, dec, 51.5072, -0.1275, 11.0).tobytes() != horizon.tobytes()

    cusps, _ = _native.house_cusps("koch", [10.0, 200.0], [48.2, -33.9], [23.44, 23.44])
    again, _ = _native.house_cusps(obliquity_deg=[23.44, 23.44], latitude_deg=[48.2, -33.9], ramc_deg=[10.0, 200.0],
                                   system="koch")
    assert again.tobytes() == cusps.tobytes()
    sky = _native.site_sky(DAYS, DAYS + 0.0007, [0.0, 10.0, 20.0])
    assert _native.site_sky(longitude_east_deg=[0.0, 10.0, 20.0], tt=DAYS + 0.0007, ut1=DAYS).tobytes() == sky.tobytes()
    assert _native.ayanamsha(tt=DAYS, name="lahiri").tobytes() == _native.ayanamsha("lahiri", DAYS).tobytes()
    assert _native.mean_lunar_points(tt=DAYS).tobytes() == _native.mean_lunar_points(DAYS).tobytes()
    # A Moon moving 0.1 degree of RA per stencil step.
    rows = numpy.array([[10.0 + 0.1 * k, 5.0, 0.0025, 0.0] for k in (-2, -1, 1, 2, 0)] * len(DAYS)).reshape(-1)
    points, _ = _native.osculating_lunar_points(rows, DAYS, 1 / 128)
    assert _native.osculating_lunar_points(tdb=DAYS, rows=rows, state_step_days=1 / 128)[0].tobytes() == points.tobytes()
    stencil = _native.moon_stencil_days(DAYS, 1 / 128)
    assert _native.moon_stencil_days(state_step_days=1 / 128, tdb=DAYS).tobytes() == stencil.tobytes()


def test_positions_judges_the_instants_before_the_bodies_and_the_options(store, strict):
    # As building tarvex.Instant(day, scale) for each day and then calling
    # Engine.positions would: a faulty instant or scale is reported even when
    # the bodies or the options are faulty too.
    with_nan = DAYS.copy()
    with_nan[0] = numpy.nan
    cases = [
        ("sun", with_nan, "tt", tarvex.geometric()),
        ("sun", DAYS, "tai", tarvex.geometric()),
        (["sun"], DAYS, "tai", None),
        (["vulcan"], with_nan, "tt", "geometric"),
        (["vulcan"], DAYS, "tt", None),
    ]
    for bodies, days, scale, options in cases:
        expected = raised(lambda: strict.positions(bodies, [tarvex.Instant(float(d), scale) for d in days], options))
        assert raised(lambda: store.positions(bodies, days, scale, options)) == expected, (bodies, scale, options)
    # The toolkit's own parameter comes before all of them.
    assert raised(lambda: store.positions("sun", with_nan, "tai", None, threads=0)) == (
        ValueError, "threads must be between 1 and 256, got 0")


def test_conversions_judge_the_scales_before_the_days(store):
    assert raised(lambda: store.convert([[1.0]], "tai", "tt")) == (ValueError, 'unknown time scale "tai"')
    assert raised(lambda: store.convert("noon", "tt", "tai")) == (ValueError, 'unknown time scale "tai"')
    assert raised(lambda: store.tdb_seconds([[1.0]], "TAI ")) == (ValueError, 'unknown time scale "tai"')
    assert raised(lambda: store.convert([[1.0]], "tt", "tdb")) == (
        ValueError, "julian_days must be a one-dimensional array, got 2 dimensions")


def spelled(call):
    """The result's bytes, or the (type, message) of what it raises."""
    try:
        return call().tobytes()
    except Exception as error:  # noqa: BLE001 - compared with the strict module's
        return type(error), str(error)


@pytest.mark.parametrize("body", ["moon", " Moon", "MOON\t", "\u00a0moon\u3000", "moon\n", "Mo on", "luna", "",
                                  "\uff4doon", "mo\u0130n", "vulcan"])
def test_body_names_are_read_as_tarvex_reads_them(store, strict, body):
    kit = spelled(lambda: store.positions([body], DAYS, "tt", tarvex.geometric()))
    expected = spelled(lambda: strict.positions([body], [tarvex.Instant(float(d), "tt") for d in DAYS],
                                                tarvex.geometric()))
    assert kit == expected


@pytest.mark.parametrize("scale", ["tt", "TT", " tdb\t", "\u2003utc", "UT1", "Tt\u00a0", "ut", "tai", "t t", ""])
def test_time_scale_names_are_read_as_tarvex_reads_them(store, strict, rotation, scale):
    kit = spelled(lambda: store.positions(["sun"], DAYS, scale, tarvex.geometric()))
    expected = spelled(lambda: strict.positions(["sun"], [tarvex.Instant(float(d), scale) for d in DAYS],
                                                tarvex.geometric()))
    assert kit == expected
    if isinstance(expected, tuple):
        # The other functions that take a scale refuse it alike.
        assert spelled(lambda: store.tdb_seconds(DAYS, scale)) == expected
        assert spelled(lambda: rotation.horizon(DAYS, scale, numpy.zeros(3), numpy.zeros(3), 0.0, 0.0, 0.0)) == expected


def test_reference_epoch_aliases_tarvex_accepts_give_the_of_date_batch(store, strict):
    # The toolkit reads the epoch with tarvex's own table: every spelling
    # tarvex accepts is the apparent batch of date, equal to the strict one.
    def options(epoch):
        return tarvex.PositionOptions("geocentric", "ecliptic", epoch, apparent=True)

    reference = store.positions(["moon", "mars"], DAYS, "tt", options("of_date")).tobytes()
    assert reference == strict.positions(
        ["moon", "mars"], [tarvex.Instant(float(d), "tt") for d in DAYS], options("of_date")).tobytes()
    for alias in ("ofdate", "of-date", " Of-Date ", "OFDATE"):
        assert store.positions(["moon", "mars"], DAYS, "tt", options(alias)).tobytes() == reference, alias


def test_a_scale_of_the_wrong_type_is_noted_with_its_parameter(store, rotation):
    for call in (lambda: store.convert(DAYS, 1, "tt"),
                 lambda: rotation.horizon(DAYS, None, numpy.zeros(3), numpy.zeros(3), 0.0, 0.0, 0.0)):
        with pytest.raises(TypeError) as info:
            call()
        assert re.fullmatch(r"'\w+' object is not an instance of 'str'", str(info.value))
    with pytest.raises(TypeError) as info:
        store.convert(DAYS, "tt", b"tdb")
    assert info.value.__notes__ == ["while processing 'to_scale'"]


def test_arrays_of_one_call_must_have_one_length():
    with pytest.raises(ValueError) as info:
        _native.site_sky([2451545.0, 2451546.0], [2451545.0], [0.0, 0.0])
    assert str(info.value) == "tt has 1 elements where 2 are expected"
    with pytest.raises(ValueError) as info:
        _native.house_cusps("equal", [1.0], [1.0], [23.0, 23.0])
    assert str(info.value) == "obliquity_deg has 2 elements where 1 are expected"
