"""Hostile input through the Python surface: wrong types, extreme floats and
integers, text that cannot be encoded or is very long, paths that are not
kernels, user objects whose conversions raise or lie, and re-entry into the
engine from inside a call.

What may come out of a call is fixed: TypeError and ValueError (the
module's own), RuntimeError for a conflicting engine borrow, and the
interpreter's own errors of the conversions the module asks it for
(OverflowError for an int too large for a float, UnicodeEncodeError, a
ValueError, for a str with lone surrogates, IndexError, OverflowError or
ValueError from a sequence's own __len__ and __getitem__, MemoryError).
An exception raised by the caller's own object comes out unchanged, the same
instance, with the note "while processing '<parameter>'" when it arose
while a parameter was converted; only the name-like and Julian-day-like
parameters replace it with their ValueError. Never SystemError, never
PanicException, never a crash: the interpreter keeps running."""

import collections.abc
import copy
import os
import pickle
import sys

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import tarvex
from conftest import data_file, open_full_engine

KERNEL = data_file("de405s.bsp")
CENTERS = data_file("planet_centers_1997_2010.bsp")
LSK = data_file("naif0012.tls")
EOP = data_file("eop_20c04_excerpt_1999.txt")  # small: attached over and over
J2000 = tarvex.Instant(2451545.0)
SITE = tarvex.GeodeticObserver(13.4, 52.5, 34.0)
GEOMETRIC = tarvex.geometric()
APPARENT = tarvex.apparent()

with open("/proc/self/maps") as maps:
    UNDER_ASAN = "libasan" in maps.read()

# Bounded and reproducible: the random part is a smoke screen over every
# entry point, the deterministic tests below pin each kind of input.
HOSTILE = settings(max_examples=40, deadline=None, derandomize=True, database=None,
                   suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])


class Boom(Exception):
    """Raised by the hostile objects below; must come out unchanged."""


RAISED = []


def boom():
    error = Boom(f"boom {len(RAISED)}")
    RAISED.append(error)
    return error


def notes(error):
    return getattr(error, "__notes__", [])


def is_forbidden(error):
    return isinstance(error, SystemError) or type(error).__name__ == "PanicException"


def refused(call, expected=(TypeError, ValueError)):
    """Runs a call that must fail with one of `expected`; returns the error."""
    try:
        result = call()
    except BaseException as error:  # noqa: B902 - PanicException is a BaseException
        assert not is_forbidden(error), repr(error)
        assert isinstance(error, expected), repr(error)
        return error
    raise AssertionError(f"no exception; returned {result!r}")


# ------------------------------------------------------------ hostile objects

class RaisingFloat:
    def __float__(self):
        raise boom()


class RaisingIndex:
    def __index__(self):
        raise boom()


class HugeIndex:
    def __index__(self):
        return 10**400


class FloatReturningText:
    def __float__(self):
        return "2451545.0"


class RaisingName:
    @property
    def name(self):
        raise boom()


class NamedBy:
    def __init__(self, name):
        self.name = name


class RaisingLength(collections.abc.Sequence):
    def __len__(self):
        raise boom()

    def __getitem__(self, index):
        return "sun"


class RaisingItem(collections.abc.Sequence):
    def __len__(self):
        return 3

    def __getitem__(self, index):
        if index == 1:
            raise boom()
        return "sun"


class LyingSequence:
    """Says it is longer than it is; its own __getitem__ says IndexError."""

    def __init__(self, items, claimed):
        self.items, self.claimed = list(items), claimed

    def __len__(self):
        return self.claimed

    def __getitem__(self, index):
        return self.items[index]


class ShrinkingList(list):
    """Empties itself while it is read."""

    def __getitem__(self, index):
        item = list.__getitem__(self, index)
        self.clear()
        return item


class RaisingClass:
    """isinstance() asks for __class__, which raises."""

    @property
    def __class__(self):
        raise boom()


class RegisteredWithoutLength:
    pass


collections.abc.Sequence.register(RegisteredWithoutLength)


class FakeNumpyBool:
    """Named like NumPy's boolean scalar; its truth value raises."""

    def __bool__(self):
        raise boom()


FakeNumpyBool.__name__ = "numpy.bool"


NASTY_TEXTS = [
    "", " ", "\0", "sun\0", "\0sun", "\ud800", "sun\udfff", "\udcff\udcfe", "\u2028sun\u3000",
    " MOON ", "m\u00f6on", "x" * 100_000, "/", ".", "..", "../", "/dev/null", "/tmp", "\t\r\n",
    "\U0010ffff", "whole sign", "A" * 64, "g" * 64, "0" * 63, "0" * 65,
]
NASTY_FLOATS = [float("nan"), float("inf"), float("-inf"), 1e308, -1e308, -0.0, 0.0, 5e-324,
                -5e-324, 2.2250738585072014e-308, 1e16, 2451545.0]
NASTY_INTS = [0, -1, 1, 2**63, -(2**63) - 1, 10**400, -(10**400), 2451545]


def hostile_objects():
    """Fresh hostile objects (some hold state)."""
    return [
        None, True, False, object(), object, type, tarvex.Instant, b"sun", bytearray(b"moon"),
        memoryview(b"x"), [], (), {}, set(), frozenset(), range(3), iter(["sun"]),
        (x for x in ["sun"]), ["sun"], ("moon", "sun"), [J2000], [None], [["sun"]], {"sun": 1},
        J2000, SITE, GEOMETRIC, tarvex.HouseSystem.placidus(), tarvex.SeasonEvent.march_equinox(),
        tarvex.LunationEvent.full_moon(), tarvex.SiderealMode.lahiri(),
        tarvex.HorizonEventKind.rise(), 1 + 2j, np.float64("nan"), np.int64(7), np.bool_(True),
        np.array([1.0, 2.0]), np.array(["sun"]), RaisingFloat(), RaisingIndex(), HugeIndex(),
        FloatReturningText(), RaisingName(), NamedBy(5), NamedBy("\ud800"), NamedBy("lahiri"),
        NamedBy(None), RaisingLength(), RaisingItem(), LyingSequence(["sun"], 4),
        LyingSequence([], sys.maxsize), ShrinkingList(["sun", "moon"]), RaisingClass(),
        RegisteredWithoutLength(), FakeNumpyBool(),
    ]


def hostile_values():
    return st.one_of(
        st.sampled_from(NASTY_TEXTS),
        st.sampled_from(NASTY_FLOATS),
        st.sampled_from(NASTY_INTS),
        st.floats(allow_nan=True, allow_infinity=True, allow_subnormal=True),
        st.integers(),
        st.text(max_size=12),
        st.text(alphabet=st.characters(min_codepoint=0xD800, max_codepoint=0xDFFF), max_size=3),
        st.integers(0, len(hostile_objects()) - 1).map(lambda index: hostile_objects()[index]),
        st.lists(st.sampled_from(["sun", "moon", 3, None, J2000, "\ud800"]), max_size=4),
    )


# ------------------------------------------------------------ the targets

def full_engine():
    """Primary kernel, planet centers, leap seconds and the EOP table of 1962-2022."""
    return open_full_engine()


QUERY_ENGINE = full_engine()
ATTACH_ENGINE = full_engine()


def valid_engine_state(engine):
    """The engine still answers and takes both kinds of borrow."""
    position = engine.position("moon", J2000, GEOMETRIC)
    assert 0.0 <= position.longitude_deg < 360.0
    assert repr(engine).startswith('Engine(kernel_name="de405s.bsp"')
    engine.with_leap_second_kernel(*LSK)  # exclusive: no borrow was left behind


# name, callable, parameters with a valid value each (in order).
TARGETS = [
    ("open", tarvex.open, [("path", KERNEL[0]), ("sha256", KERNEL[1]),
                           ("leap_second_kernel", LSK[0]), ("leap_second_sha256", LSK[1]),
                           ("eop", EOP[0]), ("eop_sha256", EOP[1])]),
    ("Engine", tarvex.Engine, [("path", KERNEL[0]), ("sha256", KERNEL[1])]),
    ("Instant", tarvex.Instant, [("julian_day", 2451545.0), ("time_scale", "tt")]),
    ("Instant.tdb", tarvex.Instant.tdb, [("julian_day", 2451545.0)]),
    ("Instant.tt", tarvex.Instant.tt, [("julian_day", 2451545.0)]),
    ("Instant.utc", tarvex.Instant.utc, [("julian_day", 2451545.0)]),
    ("Instant.ut1", tarvex.Instant.ut1, [("julian_day", 2451545.0)]),
    ("GeodeticObserver", tarvex.GeodeticObserver,
     [("longitude_east_deg", 13.4), ("latitude_deg", 52.5), ("height_m", 34.0)]),
    ("PositionOptions", tarvex.PositionOptions,
     [("origin", "topocentric"), ("coordinate_system", "ecliptic"), ("reference_epoch", "of_date"),
      ("apparent", True), ("true_ecliptic", False), ("light_time", True), ("aberration", True),
      ("gravitational_deflection", np.bool_(True)), ("precession", True), ("nutation", True),
      ("observer", SITE)]),
    ("geometric", tarvex.geometric,
     [("origin", "topocentric"), ("coordinate_system", "equatorial"), ("observer", SITE)]),
    ("apparent", tarvex.apparent,
     [("origin", "geocentric"), ("coordinate_system", "ecliptic"), ("observer", None)]),
    ("house_cusps", tarvex.house_cusps,
     [("observer", SITE), ("ut1", J2000), ("tt", 2451545.0), ("system", "placidus")]),
    ("HouseSystem", tarvex.HouseSystem, [("name", "whole-sign")]),
    ("SeasonEvent", tarvex.SeasonEvent, [("name", "vernal_equinox")]),
    ("LunationEvent", tarvex.LunationEvent, [("name", "newmoon")]),
    ("SiderealMode", tarvex.SiderealMode, [("name", "fagan-bradley")]),
    ("HorizonEventKind", tarvex.HorizonEventKind, [("name", "transit")]),
    ("HouseSystem.equal", tarvex.HouseSystem.equal, []),
    ("SeasonEvent.june_solstice", tarvex.SeasonEvent.june_solstice, []),
    ("LunationEvent.new_moon", tarvex.LunationEvent.new_moon, []),
    ("SiderealMode.fagan_bradley", tarvex.SiderealMode.fagan_bradley, []),
    ("HorizonEventKind.set", tarvex.HorizonEventKind.set, []),
    ("KernelMetadata.additional_kernels", QUERY_ENGINE.kernel_metadata.additional_kernels, []),
    ("KernelMetadata.as_dict", QUERY_ENGINE.kernel_metadata.as_dict, []),
    ("Engine.position", QUERY_ENGINE.position,
     [("body", "moon"), ("instant", J2000), ("options", APPARENT)]),
    ("Engine.positions", QUERY_ENGINE.positions,
     [("bodies", ["sun", "moon"]), ("instants", [J2000, tarvex.Instant.utc(2451545.5)]),
      ("options", GEOMETRIC)]),
    ("Engine.rise_set_transit", QUERY_ENGINE.rise_set_transit,
     [("body", "sun"), ("observer", SITE), ("around", tarvex.Instant.utc(2451545.0)),
      ("altitude_deg", tarvex.SUN_UPPER_LIMB_ALTITUDE_DEG)]),
    ("Engine.next_horizon_event", QUERY_ENGINE.next_horizon_event,
     [("body", "moon"), ("observer", SITE), ("after", tarvex.Instant.utc(2451545.0)),
      ("kind", tarvex.HorizonEventKind.rise()),
      ("altitude_deg", tarvex.MEAN_REFRACTION_ALTITUDE_DEG)]),
    ("Engine.next_season_event", QUERY_ENGINE.next_season_event,
     [("after", J2000), ("kind", "march_equinox")]),
    ("Engine.next_lunation", QUERY_ENGINE.next_lunation,
     [("after", J2000), ("kind", tarvex.LunationEvent.full_moon())]),
    ("Engine.sidereal_position", QUERY_ENGINE.sidereal_position,
     [("body", "sun"), ("instant", J2000), ("options", APPARENT), ("mode", "lahiri")]),
    ("Engine.with_leap_second_kernel", ATTACH_ENGINE.with_leap_second_kernel,
     [("path", LSK[0]), ("sha256", LSK[1])]),
    ("Engine.with_eop", ATTACH_ENGINE.with_eop, [("path", EOP[0]), ("sha256", EOP[1])]),
    ("Engine.with_time_kernels", ATTACH_ENGINE.with_time_kernels,
     [("leap_second_kernel", LSK[0]), ("leap_second_sha256", LSK[1]), ("eop", EOP[0]),
      ("eop_sha256", EOP[1])]),
    # The valid file is a directory so that no example attaches a kernel.
    ("Engine.with_additional_kernel_file", ATTACH_ENGINE.with_additional_kernel_file,
     [("path", os.path.dirname(CENTERS[0])), ("sha256", CENTERS[1])]),
]

# Parameters that replace any conversion error with their own ValueError.
NAME_LIKE = {"kind", "mode", "system", "ut1", "tt"}


def check_outcome(target, parameters, hostile, call):
    """Runs one call; a failure must be of a documented kind."""
    RAISED.clear()
    try:
        call()
    except BaseException as error:  # noqa: B902
        assert not is_forbidden(error), f"{target}: {error!r}"
        if isinstance(error, Boom):
            # The caller's own exception: the very instance raised, with the
            # note of a parameter that is not name-like.
            assert RAISED and error is RAISED[-1], f"{target}: {error!r}"
            names = {note for note in notes(error) if note.startswith("while processing")}
            allowed = {f"while processing '{name}'" for name in hostile if name not in NAME_LIKE}
            assert names and names <= allowed, f"{target}: {notes(error)}"
        elif isinstance(error, IndexError):
            # Only a sequence's own __getitem__ says IndexError.
            assert any(note.startswith("while processing") for note in notes(error)), target
        else:
            assert isinstance(error, (TypeError, ValueError, OverflowError)), f"{target}: {error!r}"


@pytest.mark.parametrize("target, function, parameters", TARGETS, ids=[t[0] for t in TARGETS])
@HOSTILE
@given(data=st.data())
def test_random_hostile_arguments_raise_only_documented_errors(target, function, parameters, data):
    values = dict(parameters)
    hostile = set()
    if parameters:
        chosen = data.draw(st.lists(st.sampled_from([name for name, _ in parameters]),
                                    min_size=1, max_size=len(parameters), unique=True))
        for name in chosen:
            values[name] = data.draw(hostile_values())
            hostile.add(name)
    names = [name for name, _ in parameters]
    split = data.draw(st.integers(0, len(names)))  # positional prefix, keywords after
    args = [values[name] for name in names[:split]]
    kwargs = {name: values[name] for name in names[split:]}
    extra = data.draw(st.sampled_from(["none", "positional", "keyword", "surrogate keyword"]))
    if extra == "positional":
        args.append(data.draw(hostile_values()))
    elif extra == "keyword":
        kwargs["bogus"] = 1
    elif extra == "surrogate keyword":
        kwargs["\ud800"] = 1
    check_outcome(target, parameters, hostile, lambda: function(*args, **kwargs))


def test_engines_survive_the_random_calls():
    for engine in (QUERY_ENGINE, ATTACH_ENGINE):
        valid_engine_state(engine)
    assert QUERY_ENGINE.kernel_metadata.additional_kernels() == [
        ("planet_centers_1997_2010.bsp", CENTERS[1])]


# ------------------------------------------------------------ floats

# call name: (parameter, call)
FLOAT_CALLS = {
    "Instant": ("julian_day", lambda value: tarvex.Instant(value)),
    "Instant.utc": ("julian_day", lambda value: tarvex.Instant.utc(julian_day=value)),
    "GeodeticObserver longitude": ("longitude_east_deg",
                                   lambda value: tarvex.GeodeticObserver(value, 0.0)),
    "GeodeticObserver latitude": ("latitude_deg",
                                  lambda value: tarvex.GeodeticObserver(0.0, value)),
    "GeodeticObserver height": ("height_m",
                                lambda value: tarvex.GeodeticObserver(0.0, 0.0, value)),
    "rise_set_transit": ("altitude_deg",
                         lambda value: QUERY_ENGINE.rise_set_transit("sun", SITE, J2000, value)),
    "next_horizon_event": ("altitude_deg", lambda value: QUERY_ENGINE.next_horizon_event(
        "sun", SITE, J2000, "rise", altitude_deg=value)),
}


@pytest.mark.parametrize("parameter, call", FLOAT_CALLS.values(), ids=FLOAT_CALLS.keys())
def test_float_parameters(parameter, call):
    note = f"while processing '{parameter}'"
    # The interpreter's own float conversion errors, with the note.
    for value in (10**400, -(10**400), HugeIndex()):
        error = refused(lambda: call(value), OverflowError)
        assert str(error) == "int too large to convert to float" and notes(error) == [note]
    for value in ("1.0", b"1", None, [1.0], 1j, FloatReturningText()):
        error = refused(lambda: call(value), TypeError)
        assert notes(error) == [note]
    # The caller's own exceptions come out unchanged.
    for value in (RaisingFloat(), RaisingIndex()):
        RAISED.clear()
        error = refused(lambda: call(value), Boom)
        assert error is RAISED[-1] and notes(error) == [note]

    class Interrupting:
        def __float__(self):
            raise KeyboardInterrupt("from __float__")

    error = refused(lambda: call(Interrupting()), KeyboardInterrupt)
    assert str(error) == "from __float__" and notes(error) == [note]
    # Values the interpreter converts either pass or meet the module's rules.
    for value in (float("nan"), float("inf"), -1e308, 1e308, -0.0, 5e-324, 2**63,
                  np.float64(0.5), np.int64(2451545), True):
        try:
            call(value)
        except ValueError as error:
            assert not notes(error)


def test_extreme_finite_julian_days_are_kept_exactly():
    for value in (1e308, -1e308, 5e-324, -5e-324, 2**63):
        assert tarvex.Instant(value, "utc").julian_day == float(value)
    negative_zero = tarvex.Instant(-0.0)
    assert str(negative_zero.julian_day) == "-0.0"
    assert repr(negative_zero) == 'Instant(-0.0, time_scale="tdb")'
    assert repr(tarvex.Instant(5e-324)) == 'Instant(5e-324, time_scale="tdb")'
    assert repr(tarvex.Instant(1e308)) == 'Instant(1e308, time_scale="tdb")'


@pytest.mark.parametrize("scale", ["utc", "ut1", "tt", "tdb"])
@pytest.mark.parametrize("julian_day", [1e308, -1e308, 5e-324, -0.0, 2.0**63, 1e16])
def test_extreme_instants_are_refused_by_every_query(scale, julian_day):
    engine = QUERY_ENGINE
    instant = tarvex.Instant(julian_day, scale)
    topocentric = tarvex.apparent("topocentric", observer=SITE)
    calls = [
        lambda: engine.position("moon", instant, APPARENT),
        lambda: engine.position("moon", instant, topocentric),
        lambda: engine.positions(["sun", "moon"], [J2000, instant], GEOMETRIC),
        lambda: engine.rise_set_transit("moon", SITE, instant, -0.5),
        lambda: engine.next_horizon_event("sun", SITE, instant, "transit", -0.5),
        lambda: engine.next_season_event(instant, "december_solstice"),
        lambda: engine.next_lunation(instant, "new_moon"),
        lambda: engine.sidereal_position("sun", instant, APPARENT, "fagan_bradley"),
    ]
    for call in calls:
        refused(call, ValueError)


def test_house_cusps_at_extreme_sites_and_times():
    observers = [tarvex.GeodeticObserver(lon, lat, height)
                 for lon in (1e308, -1e308, -0.0, 5e-324)
                 for lat in (90.0, -90.0, 89.99999999, -0.0, 5e-324)
                 for height in (0.0, 1e308, -1e308)]
    for observer in observers:
        for julian_day in (1e308, -1e308, 5e-324, -0.0, 2451545.0):
            for system in ("placidus", "campanus", "equal", "whole_sign"):
                try:
                    cusps = tarvex.house_cusps(observer, julian_day, julian_day, system)
                except ValueError:
                    continue
                assert len(cusps.cusp_ecliptic_longitude_deg) == 12
                repr(cusps)


def test_observer_and_altitude_extremes_in_horizon_searches():
    engine = QUERY_ENGINE
    around = tarvex.Instant.utc(2451545.0)
    for observer in (tarvex.GeodeticObserver(1e308, 90.0, -1e308),
                     tarvex.GeodeticObserver(-1e308, -90.0, 1e308),
                     tarvex.GeodeticObserver(5e-324, 89.9999999, 5e-324)):
        for altitude in (1e308, -1e308, 90.0, -90.0, 5e-324, float("nan"), float("-inf")):
            for call in (lambda: engine.rise_set_transit("moon", observer, around, altitude),
                         lambda: engine.next_horizon_event("sun", observer, around, "rise",
                                                           altitude)):
                try:
                    call()
                except ValueError:
                    pass
    valid_engine_state(engine)


# ------------------------------------------------------------ text

TEXT_CALLS = {
    "Instant time_scale": lambda text: tarvex.Instant(2451545.0, text),
    "PositionOptions origin": lambda text: tarvex.PositionOptions(text, "ecliptic"),
    "PositionOptions coordinate_system": lambda text: tarvex.PositionOptions("geocentric", text),
    "PositionOptions reference_epoch": lambda text: tarvex.PositionOptions(
        "geocentric", "ecliptic", text),
    "geometric origin": lambda text: tarvex.geometric(text),
    "apparent coordinate_system": lambda text: tarvex.apparent(coordinate_system=text),
    "HouseSystem": tarvex.HouseSystem,
    "SeasonEvent": tarvex.SeasonEvent,
    "LunationEvent": tarvex.LunationEvent,
    "SiderealMode": tarvex.SiderealMode,
    "HorizonEventKind": tarvex.HorizonEventKind,
    "position body": lambda text: QUERY_ENGINE.position(text, J2000, GEOMETRIC),
    "positions bodies": lambda text: QUERY_ENGINE.positions(["sun", text], [J2000], GEOMETRIC),
    "rise_set_transit body": lambda text: QUERY_ENGINE.rise_set_transit(text, SITE, J2000, 0.0),
    "next_horizon_event body": lambda text: QUERY_ENGINE.next_horizon_event(
        text, SITE, J2000, "rise", 0.0),
    "next_horizon_event kind": lambda text: QUERY_ENGINE.next_horizon_event(
        "sun", SITE, J2000, text, 0.0),
    "next_season_event kind": lambda text: QUERY_ENGINE.next_season_event(J2000, text),
    "next_lunation kind": lambda text: QUERY_ENGINE.next_lunation(J2000, text),
    "sidereal_position body": lambda text: QUERY_ENGINE.sidereal_position(
        text, J2000, APPARENT, "lahiri"),
    "sidereal_position mode": lambda text: QUERY_ENGINE.sidereal_position(
        "sun", J2000, APPARENT, text),
    "house_cusps system": lambda text: tarvex.house_cusps(SITE, 2451545.0, 2451545.0, text),
    "house_cusps system by name": lambda text: tarvex.house_cusps(
        SITE, 2451545.0, 2451545.0, NamedBy(text)),
}


@pytest.fixture(scope="module")
def ten_megabytes():
    return " " + "Moon" * 2_500_000 + " "


@pytest.mark.parametrize("call", TEXT_CALLS.values(), ids=TEXT_CALLS.keys())
def test_name_parameters_refuse_hostile_text(call, ten_megabytes):
    for text in ("", "\0", "sun\0", "\u00a0", "m\u0130on", "\ufeffsun", "x" * 1000):
        error = refused(lambda: call(text), ValueError)
        assert not notes(error)
    # A 10 MB name is normalised once and reported in full.
    error = refused(lambda: call(ten_megabytes), ValueError)
    message = str(error)
    assert message.endswith('"' + "moon" * 2_500_000 + '"')
    # Lone surrogates have no UTF-8 form: the interpreter's UnicodeEncodeError.
    for text in ("\ud800", "sun\udfff"):
        refused(lambda: call(text), UnicodeEncodeError)


def test_names_with_nul_and_controls_are_quoted_in_messages():
    error = refused(lambda: QUERY_ENGINE.position(" Sun\0\t\u0085", J2000, GEOMETRIC), ValueError)
    assert str(error) == 'unknown body "sun\\0"'
    error = refused(lambda: tarvex.HouseSystem("\x01\x7f"), ValueError)
    assert str(error) == 'unknown house system "\\u{1}\\u{7f}"'


# ------------------------------------------------------------ paths and files

def path_calls(engine):
    return {
        "Engine path": lambda path: tarvex.Engine(path, KERNEL[1]),
        "open leap_second_kernel": lambda path: tarvex.open(*KERNEL, path, LSK[1]),
        "open eop": lambda path: tarvex.open(*KERNEL, eop=path, eop_sha256=EOP[1]),
        "with_leap_second_kernel": lambda path: engine.with_leap_second_kernel(path, LSK[1]),
        "with_eop": lambda path: engine.with_eop(path, EOP[1]),
        "with_time_kernels lsk": lambda path: engine.with_time_kernels(path, LSK[1], *EOP),
        "with_time_kernels eop": lambda path: engine.with_time_kernels(*LSK, path, EOP[1]),
        "with_additional_kernel_file": lambda path: engine.with_additional_kernel_file(
            path, CENTERS[1]),
    }


PATH_CALL_NAMES = list(path_calls(None))


@pytest.mark.parametrize("name", PATH_CALL_NAMES)
def test_paths_that_are_not_kernels(name, tmp_path, ten_megabytes):
    engine = tarvex.Engine(*KERNEL)
    call = path_calls(engine)[name]
    empty = tmp_path / "empty"
    empty.write_bytes(b"")
    garbage = tmp_path / "garbage.bsp"
    garbage.write_bytes(bytes(range(256)) * 8)
    unreadable = tmp_path / "unreadable"
    unreadable.write_bytes(b"x")
    unreadable.chmod(0)
    for path in ("", "/", ".", "..", str(tmp_path), str(tmp_path) + "/", str(tmp_path / "absent"),
                 "/dev/null", "/dev/null/..", str(empty), str(garbage),
                 str(unreadable), "/proc/self/mem", "\t", "x" * 5000,
                 str(tmp_path / ("y" * 300)), ten_megabytes):
        error = refused(lambda: call(path), ValueError)
        assert not notes(error)
    for path in ("\ud800", str(tmp_path) + "/\udcff.bsp"):
        error = refused(lambda: call(path), UnicodeEncodeError)
    for path in (b"/dev/null", 3, pathlib_path(KERNEL[0])):
        error = refused(lambda: call(path), TypeError)
        assert len(notes(error)) == 1 and notes(error)[0].startswith("while processing")
    if name != "Engine path" and not name.startswith("open"):
        valid_engine_state(engine)


def pathlib_path(text):
    import pathlib

    return pathlib.Path(text)


@pytest.mark.parametrize("name", PATH_CALL_NAMES)
def test_nul_in_a_path_never_opens_the_file_before_it(name):
    # open(2) reads a C string: "real\0junk" would open "real". The NUL is
    # refused before the file system is asked.
    engine = tarvex.Engine(*KERNEL)
    call = path_calls(engine)[name]
    real = {"Engine path": KERNEL, "with_additional_kernel_file": CENTERS}.get(
        name, EOP if "eop" in name else LSK)[0]
    for path in (real + "\0", real + "\0junk", "\0" + real):
        error = refused(lambda: call(path), ValueError)
        assert "file name contained an unexpected NUL byte" in str(error), str(error)
    assert engine.kernel_metadata.additional_kernels() == []
    if name != "Engine path" and not name.startswith("open"):
        valid_engine_state(engine)


def test_checksums_are_text_and_are_judged(ten_megabytes):
    engine = tarvex.Engine(*KERNEL)
    for sha256 in ("", "\0" * 64, "g" * 64, "0" * 63, "0" * 65, " " + "0" * 63,
                   "\uff10" * 64, ten_megabytes):
        error = refused(lambda: engine.with_additional_kernel_file(CENTERS[0], sha256), ValueError)
        assert str(error) == "kernel SHA-256 must contain exactly 64 hexadecimal characters"
    for sha256 in ("\ud800" * 64, "0" * 63 + "\udfff"):
        refused(lambda: engine.with_additional_kernel_file(CENTERS[0], sha256),
                UnicodeEncodeError)
    for sha256 in (b"0" * 64, 0, None, ["0" * 64]):
        error = refused(lambda: engine.with_additional_kernel_file(CENTERS[0], sha256), TypeError)
        assert notes(error) == ["while processing 'sha256'"]
    # Every other checksum parameter judges its text the same way; the
    # checksum is the caller's claim, so any 64 hex digits pass.
    messages = {
        0: "kernel SHA-256 must contain exactly 64 hexadecimal characters",
        1: "leap-second kernel SHA-256 must contain exactly 64 hexadecimal characters",
        2: "EOP table SHA-256 must be 64 hexadecimal characters",
    }
    for sha256 in ("", "\0" * 64, "0" * 63 + "\0", ten_megabytes):
        for index, message in messages.items():
            sums = [KERNEL[1], LSK[1], EOP[1]]
            sums[index] = sha256
            error = refused(lambda: tarvex.open(KERNEL[0], sums[0], LSK[0], sums[1], EOP[0],
                                                sums[2]), ValueError)
            assert str(error) == message
    tarvex.open(KERNEL[0], "0" * 64, LSK[0], "F" * 64, EOP[0], "a" * 64)
    valid_engine_state(engine)


def test_fifos_and_devices_are_refused_without_reading(tmp_path):
    # A FIFO without a writer would block the open (with the interpreter
    # lock held) and /dev/zero never ends: neither is a regular file, and
    # both are refused before anything is read.
    fifo = tmp_path / "kernel.fifo"
    os.mkfifo(fifo)
    engine = tarvex.Engine(*KERNEL)
    for path in (str(fifo), "/dev/zero"):
        calls = {
            "failed to read SPK kernel: ": lambda: tarvex.Engine(path, KERNEL[1]),
            "failed to read leap-second kernel: ": lambda: engine.with_leap_second_kernel(path, LSK[1]),
            "": lambda: engine.with_eop(path, EOP[1]),
        }
        for prefix, call in calls.items():
            error = refused(call, ValueError)
            assert str(error) == prefix + "not a regular file"
        error = refused(lambda: engine.with_additional_kernel_file(path, CENTERS[1]), ValueError)
        assert str(error) == "failed to read SPK kernel: not a regular file"
    valid_engine_state(engine)


# ------------------------------------------------------------ name-like objects

NAME_LIKE_CALLS = {
    "next_horizon_event": lambda value: QUERY_ENGINE.next_horizon_event(
        "sun", SITE, J2000, value, 0.0),
    "next_season_event": lambda value: QUERY_ENGINE.next_season_event(J2000, value),
    "next_lunation": lambda value: QUERY_ENGINE.next_lunation(J2000, kind=value),
    "sidereal_position": lambda value: QUERY_ENGINE.sidereal_position(
        "sun", J2000, APPARENT, mode=value),
    "house_cusps": lambda value: tarvex.house_cusps(SITE, J2000, J2000, value),
}
NAME_MESSAGE = "expected a name string or an tarvex enum with a name attribute"


@pytest.mark.parametrize("call", NAME_LIKE_CALLS.values(), ids=NAME_LIKE_CALLS.keys())
def test_name_like_parameters_replace_every_failure_with_their_message(call):
    class StrSubclassName:
        name = type("Text", (str,), {"__str__": lambda self: "rise"})("not a member")

    hostile = [None, 5, 1.5, b"rise", ["rise"], object(), RaisingName(), NamedBy(5),
               NamedBy(b"rise"), NamedBy(None), NamedBy(RaisingName()), J2000, SITE]
    for value in hostile:
        error = refused(lambda: call(value), ValueError)
        assert str(error) == NAME_MESSAGE, value
        assert error.__cause__ is None and error.__context__ is None
        assert not notes(error)
    # A text attribute is read as it is; a str subclass by its contents.
    error = refused(lambda: call(StrSubclassName()), ValueError)
    assert str(error).endswith('"not a member"')
    refused(lambda: call(NamedBy("\ud800")), UnicodeEncodeError)
    error = refused(lambda: call(NamedBy("x" * 100_000)), ValueError)
    assert str(error).endswith('"' + "x" * 100_000 + '"')


def test_julian_day_like_parameters_replace_conversion_failures():
    for value in ("2451545.0", None, RaisingFloat(), RaisingIndex(), 10**400, HugeIndex(),
                  FloatReturningText(), [2451545.0], SITE, tarvex.HouseSystem.equal()):
        for arguments in ((SITE, value, J2000, "equal"), (SITE, J2000, value, "equal")):
            error = refused(lambda: tarvex.house_cusps(*arguments), ValueError)
            assert str(error) == "expected an Instant or a finite Julian day float"
            assert error.__context__ is None and not notes(error)
    for value in (float("nan"), float("-inf"), np.float64("inf")):
        error = refused(lambda: tarvex.house_cusps(SITE, J2000, value, "equal"), ValueError)
        assert str(error) == "Julian day must be finite"


# ------------------------------------------------------------ booleans and instances

def test_boolean_parameters():
    for value in (1, 0, 1.0, "True", None, np.int64(1), np.array([True]), np.array(True)):
        error = refused(lambda: tarvex.PositionOptions("geocentric", "ecliptic",
                                                       precession=value), TypeError)
        assert notes(error) == ["while processing 'precession'"]
    RAISED.clear()
    error = refused(lambda: tarvex.PositionOptions("geocentric", "ecliptic",
                                                   nutation=FakeNumpyBool()), Boom)
    assert error is RAISED[-1] and notes(error) == ["while processing 'nutation'"]


def test_instance_parameters_take_exactly_their_class():
    wrong = [None, object(), tarvex.Instant, "2451545.0", 2451545.0, J2000, SITE, GEOMETRIC,
             tarvex.HouseSystem.equal(), QUERY_ENGINE, RaisingClass()]
    calls = {  # parameter: (its class, call)
        "instant": (tarvex.Instant, lambda value: QUERY_ENGINE.position("sun", value, GEOMETRIC)),
        "options": (tarvex.PositionOptions,
                    lambda value: QUERY_ENGINE.position("sun", J2000, value)),
        "observer": (tarvex.GeodeticObserver,
                     lambda value: QUERY_ENGINE.rise_set_transit("sun", value, J2000, 0.0)),
        "around": (tarvex.Instant,
                   lambda value: QUERY_ENGINE.rise_set_transit("sun", SITE, value, 0.0)),
        "after": (tarvex.Instant, lambda value: QUERY_ENGINE.next_lunation(value, "new_moon")),
    }
    for parameter, (cls, call) in calls.items():
        for value in wrong:
            if type(value) is cls:
                continue
            error = refused(lambda: call(value), TypeError)
            assert notes(error) == [f"while processing '{parameter}'"]
    # observer=None is "omitted" where the default is None, refused elsewhere.
    tarvex.PositionOptions("geocentric", "ecliptic", observer=None)
    error = refused(lambda: tarvex.house_cusps(None, J2000, J2000, "equal"), TypeError)
    assert str(error) == "'None' is not an instance of 'GeodeticObserver'"


# ------------------------------------------------------------ sequences

SEQUENCE_CALLS = {
    "bodies": lambda value: QUERY_ENGINE.positions(value, [J2000], GEOMETRIC),
    "instants": lambda value: QUERY_ENGINE.positions(["sun"], value, GEOMETRIC),
}
ITEMS = {"bodies": "sun", "instants": J2000}


@pytest.mark.parametrize("parameter", SEQUENCE_CALLS)
def test_sequence_parameters(parameter):
    call = SEQUENCE_CALLS[parameter]
    item = ITEMS[parameter]
    note = [f"while processing '{parameter}'"]

    class RaisingLengthOf(collections.abc.Sequence):
        def __len__(self):
            raise boom()

        def __getitem__(self, index):
            return item

    class RaisingItemOf(collections.abc.Sequence):
        def __len__(self):
            return 3

        def __getitem__(self, index):
            if index == 2:
                raise boom()
            return item

    for value in (RaisingLengthOf(), RaisingItemOf(), RaisingClass()):
        RAISED.clear()
        error = refused(lambda: call(value), Boom)
        assert error is RAISED[-1] and notes(error) == note
    # The sequence's own __len__ and __getitem__ decide: a lying length ends
    # with the IndexError of __getitem__, a shrinking list with its own.
    for value in (LyingSequence([item], 3), LyingSequence([], sys.maxsize),
                  ShrinkingList([item, item])):
        error = refused(lambda: call(value), IndexError)
        assert notes(error) == note
    for length, expected in ((-1, ValueError), (10**30, OverflowError), ("3", TypeError)):
        error = refused(lambda: call(LyingSequence([item], length)), expected)
        assert notes(error) == note
    # A length shorter than the items: only the first items count.
    shape = call(LyingSequence([item] * 5, 2)).shape
    assert shape == ((1, 2, 4) if parameter == "bodies" else (2, 1, 4))
    for value in ("sun", b"sun", {"sun": 1}, {"sun"}, iter([item]), (x for x in [item]), 5, None,
                  RegisteredWithoutLength(), [item, None], [item, [item]], np.array([1.0])):
        error = refused(lambda: call(value), TypeError)
        assert notes(error) == note
    # Sequences of the right items in unusual containers are accepted.
    for value in ((item,), np.array([item], dtype=object), collections.deque([item]),
                  one_item_sequence(item)):
        assert call(value).shape[:2] in ((1, 1),)


def one_item_sequence(item):
    class Repeat(collections.abc.Sequence):
        def __len__(self):
            return 1

        def __getitem__(self, index):
            if index != 0:
                raise IndexError(index)
            return item

    return Repeat()


def test_empty_and_wide_batches():
    assert QUERY_ENGINE.positions([], [], GEOMETRIC).shape == (0, 0, 4)
    assert QUERY_ENGINE.positions(["sun"] * 500, [J2000], GEOMETRIC).shape == (1, 500, 4)
    error = refused(lambda: QUERY_ENGINE.positions(["sun", "vulcan"], [], GEOMETRIC), ValueError)
    assert str(error) == 'unknown body "vulcan"'
    # 10^10 positions: the buffer cannot be had, and nothing is computed first.
    # (ASan aborts on such a request unless told to return null.)
    if UNDER_ASAN and "allocator_may_return_null=1" not in os.environ.get("ASAN_OPTIONS", ""):
        return
    refused(lambda: QUERY_ENGINE.positions(["sun"] * 100_000, [J2000] * 100_000, GEOMETRIC),
            MemoryError)
    valid_engine_state(QUERY_ENGINE)


# ------------------------------------------------------------ re-entry

def test_name_property_that_attaches_to_the_same_engine():
    engine = full_engine()
    inner = []

    class Attaching:
        @property
        def name(self):
            try:
                engine.with_eop(*EOP)
            except RuntimeError as error:
                inner.append(str(error))
                raise
            return "lahiri"

    for call in (lambda: engine.sidereal_position("sun", J2000, APPARENT, Attaching()),
                 lambda: engine.next_season_event(J2000, Attaching()),
                 lambda: engine.next_lunation(J2000, Attaching()),
                 lambda: engine.next_horizon_event("sun", SITE, J2000, Attaching(), 0.0)):
        error = refused(call, ValueError)
        assert str(error) == NAME_MESSAGE
        assert inner.pop() == "Already borrowed"
    valid_engine_state(engine)


def test_name_property_that_queries_the_same_engine():
    engine = full_engine()

    class Querying:
        @property
        def name(self):
            assert engine.position("sun", J2000, GEOMETRIC).distance_au > 0.9
            repr(engine), engine.supported_range, engine.kernel_metadata
            return "full_moon"

    event = engine.next_lunation(J2000, Querying())
    assert event.time_scale == "tt"
    valid_engine_state(engine)


def test_recursive_name_property_unwinds_every_borrow():
    engine = full_engine()
    depth = []

    class Recursive:
        @property
        def name(self):
            depth.append(1)
            engine.next_season_event(J2000, self)  # until RecursionError
            return "march_equinox"

    error = refused(lambda: engine.next_season_event(J2000, Recursive()), ValueError)
    assert str(error) == NAME_MESSAGE
    assert len(depth) > 10
    valid_engine_state(engine)


def test_sequence_items_that_use_the_engine():
    engine = full_engine()
    queried = []

    class Querying(collections.abc.Sequence):
        def __len__(self):
            return 2

        def __getitem__(self, index):
            if index >= 2:
                raise IndexError(index)
            queried.append(engine.position("moon", J2000, GEOMETRIC).longitude_deg)
            return J2000

    array = engine.positions(["moon"], Querying(), GEOMETRIC)
    assert list(array[:, 0, 0]) == queried

    class Attaching(Querying):
        def __getitem__(self, index):
            engine.with_additional_kernel_file(*CENTERS)
            return "sun"

    error = refused(lambda: engine.positions(Attaching(), [J2000], GEOMETRIC), RuntimeError)
    assert str(error) == "Already borrowed"
    assert notes(error) == ["while processing 'bodies'"]
    assert engine.kernel_metadata.additional_kernels() == [
        ("planet_centers_1997_2010.bsp", CENTERS[1])]
    valid_engine_state(engine)


def test_float_conversion_that_attaches_to_the_same_engine():
    engine = full_engine()

    class Attaching:
        def __float__(self):
            engine.with_time_kernels(*LSK, *EOP)
            return 0.0

    for call in (lambda: engine.rise_set_transit("sun", SITE, J2000, Attaching()),
                 lambda: engine.next_horizon_event("sun", SITE, J2000, "set", Attaching())):
        error = refused(call, RuntimeError)
        assert str(error) == "Already borrowed"
        assert notes(error) == ["while processing 'altitude_deg'"]
    valid_engine_state(engine)


def test_note_attachment_failures_keep_the_callers_exception():
    class NoNotes(Exception):
        def add_note(self, note):
            raise RuntimeError("no notes here")

    class BadNotes(Exception):
        pass

    class Raising:
        def __init__(self, error):
            self.error = error

        def __float__(self):
            raise self.error

    no_notes = NoNotes("mine")
    assert refused(lambda: tarvex.Instant(Raising(no_notes)), NoNotes) is no_notes
    bad_notes = BadNotes("mine")
    bad_notes.__notes__ = "not a list"
    assert refused(lambda: tarvex.Instant(Raising(bad_notes)), BadNotes) is bad_notes
    assert bad_notes.__notes__ == "not a list"


# ------------------------------------------------------------ classes

RESULT_CLASSES = [tarvex.Position, tarvex.DateRange, tarvex.KernelMetadata, tarvex.HouseCusps,
                  tarvex.RiseSetTransit, tarvex.HorizonEvent]
ALL_CLASSES = [getattr(tarvex, name) for name in (
    "Instant", "GeodeticObserver", "HouseSystem", "HouseCusps", "HorizonEventKind",
    "RiseSetTransit", "HorizonEvent", "SeasonEvent", "LunationEvent", "SiderealMode",
    "PositionOptions", "Position", "DateRange", "KernelMetadata", "Engine")]


@pytest.mark.parametrize("cls", RESULT_CLASSES, ids=lambda cls: cls.__name__)
def test_result_classes_cannot_be_made_from_python(cls):
    for call in (lambda: cls(), lambda: cls(1.0, 2.0), lambda: cls(name="x"),
                 lambda: object.__new__(cls), lambda: cls.__new__(cls),
                 lambda: tarvex.Instant.__new__(cls, 1.0)):
        refused(call, TypeError)


@pytest.mark.parametrize("cls", ALL_CLASSES, ids=lambda cls: cls.__name__)
def test_classes_refuse_subclassing_copying_and_foreign_construction(cls):
    refused(lambda: type("Derived", (cls,), {}), TypeError)
    refused(lambda: object.__new__(cls), TypeError)
    if cls is not tarvex.Instant:
        refused(lambda: tarvex.Instant.__new__(cls, 2451545.0), TypeError)
    instances = {
        tarvex.Instant: J2000, tarvex.GeodeticObserver: SITE, tarvex.PositionOptions: GEOMETRIC,
        tarvex.Engine: QUERY_ENGINE, tarvex.KernelMetadata: QUERY_ENGINE.kernel_metadata,
        tarvex.DateRange: QUERY_ENGINE.supported_range,
        tarvex.Position: QUERY_ENGINE.position("sun", J2000, GEOMETRIC),
        tarvex.HouseCusps: tarvex.house_cusps(SITE, J2000, J2000, "equal"),
        tarvex.RiseSetTransit: QUERY_ENGINE.rise_set_transit("sun", SITE, J2000, 0.0),
        tarvex.HorizonEvent: QUERY_ENGINE.next_horizon_event("sun", SITE, J2000, "rise", 0.0),
    }
    instance = instances.get(cls) or getattr(cls, [name for name in dir(cls)
                                                   if not name.startswith("_") and name != "name"
                                                   ][0])()
    for call in (lambda: copy.copy(instance), lambda: copy.deepcopy(instance),
                 lambda: pickle.dumps(instance)):
        refused(call, TypeError)
    # Re-initialising is a no-op, attributes stay read-only, no new ones.
    before = repr(instance)
    instance.__init__(1, 2, x=3)
    assert repr(instance) == before
    for attribute in [name for name in dir(cls) if not name.startswith("_")] + ["bogus"]:
        refused(lambda: setattr(instance, attribute, 1), AttributeError)
        refused(lambda: delattr(instance, attribute), AttributeError)


def test_descriptors_refuse_a_foreign_self():
    for call in (lambda: tarvex.Engine.position(J2000, "sun", J2000, GEOMETRIC),
                 lambda: tarvex.Engine.with_eop(SITE, *EOP),
                 lambda: tarvex.Engine.supported_range.__get__(J2000),
                 lambda: tarvex.Engine.__repr__(J2000),
                 lambda: tarvex.Instant.julian_day.__get__(SITE),
                 lambda: tarvex.KernelMetadata.as_dict(J2000),
                 lambda: tarvex.HouseSystem.__dict__["equal"].__get__(None, tarvex.SeasonEvent)(),
                 lambda: tarvex.Instant.__dict__["tt"](tarvex.HouseSystem, 1.0),
                 lambda: tarvex.SeasonEvent.name.__get__(tarvex.LunationEvent.new_moon())):
        refused(call, TypeError)


def test_class_methods_and_metadata_methods_take_no_arguments():
    metadata = QUERY_ENGINE.kernel_metadata
    calls = [getattr(cls, member) for cls, members in (
        (tarvex.HouseSystem, ("placidus", "campanus", "equal", "whole_sign")),
        (tarvex.SeasonEvent, ("march_equinox", "june_solstice", "september_equinox",
                              "december_solstice")),
        (tarvex.LunationEvent, ("new_moon", "full_moon")),
        (tarvex.SiderealMode, ("lahiri", "fagan_bradley")),
        (tarvex.HorizonEventKind, ("rise", "set", "transit"))) for member in members]
    calls += [metadata.additional_kernels, metadata.as_dict]
    for call in calls:
        for args, kwargs in (((None,), {}), ((), {"x": 1}), ((), {"\ud800": 1}),
                             (("\0" * 1000,), {}), ((), {"self": 1})):
            error = refused(lambda: call(*args, **kwargs), TypeError)
            assert "\ud800" not in str(error) or "unexpected keyword" in str(error)
        call()
