"""What importing tarvex registers, and the traits shared by every class."""

import ctypes
import importlib
import inspect
import struct
import sys
import sysconfig
import types

import pytest

import tarvex

CLASSES = [
    "Instant", "GeodeticObserver", "HouseSystem", "HouseCusps", "HorizonEventKind",
    "RiseSetTransit", "HorizonEvent", "SeasonEvent", "LunationEvent", "SiderealMode",
    "PositionOptions", "Position", "DateRange", "KernelMetadata",
]
FUNCTIONS = ["geometric", "apparent", "house_cusps"]
CONSTANTS = ["J2000_JULIAN_DAY", "SUN_UPPER_LIMB_ALTITUDE_DEG", "MEAN_REFRACTION_ALTITUDE_DEG"]
HAS_ENGINE = hasattr(tarvex, "Engine")


def public_names():
    return [name for name in vars(tarvex) if not name.startswith("__")]


def class_objects():
    return [getattr(tarvex, name) for name in CLASSES]


def bits(value):
    return struct.unpack("<Q", struct.pack("<d", value))[0]


def test_registers_exactly_the_listed_names_in_order():
    if HAS_ENGINE:
        expected = CLASSES + ["Engine", "open"] + FUNCTIONS + CONSTANTS
    else:
        expected = CLASSES + FUNCTIONS + CONSTANTS
    assert public_names() == expected
    assert tarvex.__doc__ == ""
    assert not hasattr(tarvex, "PanicException")


def test_constants_are_bit_exact_floats():
    assert type(tarvex.J2000_JULIAN_DAY) is float
    assert tarvex.J2000_JULIAN_DAY == 2451545.0
    assert bits(tarvex.SUN_UPPER_LIMB_ALTITUDE_DEG) == 0xBFEAAAAAAAAAAAAB
    assert bits(tarvex.MEAN_REFRACTION_ALTITUDE_DEG) == 0xBFE2222222222222
    assert tarvex.SUN_UPPER_LIMB_ALTITUDE_DEG == -50 / 60
    assert tarvex.MEAN_REFRACTION_ALTITUDE_DEG == -34 / 60


def test_functions_are_builtins_of_the_module():
    for name in FUNCTIONS:
        function = getattr(tarvex, name)
        assert type(function).__name__ == "builtin_function_or_method"
        assert function.__module__ == "tarvex"
        assert function.__self__ is tarvex


@pytest.mark.parametrize("cls", class_objects(), ids=CLASSES)
def test_class_traits(cls):
    assert cls.__module__ == "tarvex"
    assert cls.__qualname__ == cls.__name__
    assert cls.__bases__ == (object,)
    with pytest.raises(TypeError):
        type("Derived", (cls,), {})
    assert "__dict__" not in dir(cls)
    assert cls.__weakrefoffset__ == 0
    assert inspect.getdoc(cls)


def test_type_objects_survive_a_reimport():
    instant_type = tarvex.Instant
    instance = tarvex.Instant(1.0)
    saved = sys.modules.pop("tarvex")
    try:
        fresh = importlib.import_module("tarvex")
        assert fresh is not saved
        assert fresh.Instant is instant_type
        assert type(fresh.Instant(1.0)) is type(instance)
    finally:
        sys.modules["tarvex"] = saved


def test_instances_have_no_dict_and_refuse_new_attributes():
    instant = tarvex.Instant(2451545.0)
    with pytest.raises(AttributeError):
        instant.__dict__
    with pytest.raises(AttributeError):
        instant.julian_day = 1.0
    with pytest.raises(AttributeError):
        instant.extra = 1
    with pytest.raises(TypeError):
        tarvex.Instant.julian_day = 3  # the classes themselves are immutable


SIGNATURES = {
    tarvex.Instant: "(julian_day, time_scale='tdb')",
    tarvex.GeodeticObserver: "(longitude_east_deg, latitude_deg, height_m=0.0)",
    tarvex.PositionOptions: (
        "(origin, coordinate_system, reference_epoch='j2000', apparent=False, "
        "true_ecliptic=False, light_time=False, aberration=False, "
        "gravitational_deflection=False, precession=False, nutation=False, observer=None)"),
    tarvex.HouseSystem: "(name)",
    tarvex.SeasonEvent: "(name)",
    tarvex.LunationEvent: "(name)",
    tarvex.SiderealMode: "(name)",
    tarvex.HorizonEventKind: "(name)",
    tarvex.Instant.tdb: "(julian_day)",
    tarvex.Instant.ut1: "(julian_day)",
    tarvex.HouseSystem.whole_sign: "()",
    tarvex.geometric: "(origin='geocentric', coordinate_system='ecliptic', observer=None)",
    tarvex.apparent: "(origin='geocentric', coordinate_system='ecliptic', observer=None)",
    tarvex.house_cusps: "(observer, ut1, tt, system)",
    # $self makes the receiver positional-only, as for every built-in method.
    tarvex.KernelMetadata.as_dict: "(self, /)",
    tarvex.KernelMetadata.additional_kernels: "(self, /)",
}


@pytest.mark.parametrize("target", list(SIGNATURES), ids=lambda target: target.__qualname__)
def test_text_signatures(target):
    assert str(inspect.signature(target)) == SIGNATURES[target]


def test_docstring_descriptions():
    assert tarvex.Instant.__doc__ == "Julian day with an explicit time scale."
    assert tarvex.SiderealMode.__doc__ == (
        "Lahiri or Fagan\u2013Bradley ayanamsha applied to ecliptic of date.")
    assert tarvex.Position.__doc__ == "Spherical position returned by a scalar request."
    assert tarvex.Position.__text_signature__ is None
    assert tarvex.house_cusps.__doc__.startswith(
        "Ecliptic house cusps at a UT1/TT pair (no SPK kernel).\n\n`ut1` and `tt` may be "
        "[`PyInstant`] values or Julian-day floats. Polar\nmotion is omitted,")
    assert tarvex.Instant.tdb.__doc__ is None or tarvex.Instant.tdb.__doc__ == ""


def test_comparison_is_identity():
    first, second = tarvex.Instant(1.0), tarvex.Instant(1.0)
    assert first != second
    assert first == first
    assert hash(first) != hash(second)
    assert str(first) == repr(first)


# ------------------------------------------------------------ entry points

class _Slot(ctypes.Structure):
    _fields_ = [("slot", ctypes.c_int), ("value", ctypes.c_void_p)]


class _AbiInfo(ctypes.Structure):
    _fields_ = [("major", ctypes.c_uint8), ("minor", ctypes.c_uint8), ("flags", ctypes.c_uint16),
                ("build_version", ctypes.c_uint32), ("abi_version", ctypes.c_uint32)]


# Slot numbers of interpreters that call PyModExport_<name>: Py_mod_exec,
# Py_mod_gil, Py_mod_abi, Py_mod_name and Py_mod_doc.
EXEC, GIL, ABI, NAME, DOC = 2, 4, 5, 6, 7


def export_slots():
    library = ctypes.PyDLL(tarvex.__file__)
    hook = library.PyModExport_tarvex
    hook.restype = ctypes.POINTER(_Slot)
    hook.argtypes = []
    pointer = hook()
    slots = []
    while pointer[len(slots)].slot != 0:
        slots.append((pointer[len(slots)].slot, pointer[len(slots)].value))
    return library, slots


def test_both_entry_points_are_exported():
    library, slots = export_slots()
    assert library.PyInit_tarvex
    assert [slot for slot, _ in slots] == [NAME, DOC, EXEC, ABI, GIL]
    values = dict(slots)
    assert ctypes.string_at(values[NAME]) == b"tarvex"
    assert ctypes.string_at(values[DOC]) == b""
    # Does not need the GIL: Py_MOD_GIL_NOT_USED.
    assert values[GIL] == 1
    # Version 1.0 of the ABI record, naming the headers the module was built
    # with (those of this interpreter) and their version-specific ABI.
    abi = _AbiInfo.from_address(values[ABI])
    free_threaded = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
    assert (abi.major, abi.minor) == (1, 0)
    assert abi.flags == (0x0004 if free_threaded else 0x0002)
    assert abi.build_version >> 16 == sys.hexversion >> 16
    assert abi.abi_version == abi.build_version


def test_the_export_hooks_exec_step_registers_the_module():
    _, slots = export_slots()
    exec_step = ctypes.PYFUNCTYPE(ctypes.c_int, ctypes.py_object)(dict(slots)[EXEC])
    module = types.ModuleType("tarvex")
    assert exec_step(module) == 0
    assert [name for name in vars(module) if not name.startswith("__")] == public_names()
    assert module.Engine is tarvex.Engine
    with pytest.raises(TypeError, match="non-module"):
        exec_step(object())
