"""Checks of the arguments of `Ephemeris` methods that the native code or
NumPy would otherwise take silently or answer with the wrong error: each
failure is a TypeError or ValueError that names the argument."""

from __future__ import annotations

from collections.abc import Sequence
from typing import Any

import numpy as np
import numpy.typing as npt

import tarvex

_FloatArray = npt.NDArray[np.float64]

# Longer texts are cut in messages: a name of megabytes is not echoed whole.
SHOWN_CHARACTERS = 60
# No body, point, ayanamsha or scale name is longer than this.
LONGEST_NAME = 100


def shown(text: str) -> str:
    """`text` quoted for a message, cut to its first SHOWN_CHARACTERS characters."""
    if len(text) <= SHOWN_CHARACTERS:
        return repr(text)
    return f"{text[:SHOWN_CHARACTERS]!r}... ({len(text)} characters)"


def check_name(parameter: str, value: Any) -> str:
    """A name (str) of reasonable length."""
    if not isinstance(value, str):
        raise TypeError(f"{parameter} must be a name (str), not {type(value).__name__}")
    if len(value) > LONGEST_NAME:
        raise ValueError(f"{parameter} {shown(value)} is not a known name")
    return value


def check_body(parameter: str, value: Any) -> str:
    """A body: its name (str), or its NAIF id (int), written out as the
    native store reads it."""
    if isinstance(value, (int, np.integer)) and not isinstance(value, (bool, np.bool_)):
        return str(int(value))
    if not isinstance(value, str):
        raise TypeError(f"{parameter} must be a body's name (str) or NAIF id (int), not {type(value).__name__}")
    return check_name(parameter, value)


def check_names(parameter: str, value: Any, *, single: bool, ids: bool = False) -> list[str]:
    """A list of names. `single`: whether one name may stand alone as a str;
    otherwise a str is refused (it would be read letter by letter). `ids`:
    bodies, which may also be NAIF ids (int, written out as text here)."""
    if isinstance(value, str) or (ids and single and isinstance(value, (int, np.integer))):
        if single:
            return [check_body(parameter, value) if ids else check_name(parameter, value)]
        raise TypeError(f"{parameter} must be a list of names, not a str; write {parameter}=[{shown(str(value))}]")
    try:
        items = list(value)
    except TypeError:
        raise TypeError(f"{parameter} must be a list of names, not {type(value).__name__}") from None
    if ids:
        return [check_body(f"{parameter}[{i}]", item) for i, item in enumerate(items)]
    return [check_name(f"{parameter}[{i}]", item) for i, item in enumerate(items)]


def check_bool(parameter: str, value: Any) -> bool:
    if not isinstance(value, (bool, np.bool_)):
        raise TypeError(f"{parameter} must be True or False, not {type(value).__name__} {value!r}")
    return bool(value)


def check_site(parameter: str, value: Any) -> tarvex.GeodeticObserver:
    if not isinstance(value, tarvex.GeodeticObserver):
        raise TypeError(f"{parameter} must be a tarvex.GeodeticObserver, not {type(value).__name__}; "
                        "make one with tarvex.GeodeticObserver(longitude_east_deg, latitude_deg, height_m)")
    return value


def check_options(parameter: str, value: Any) -> tarvex.PositionOptions | None:
    if value is not None and not isinstance(value, tarvex.PositionOptions):
        raise TypeError(f"{parameter} must be a tarvex.PositionOptions or None, not {type(value).__name__}; "
                        "for example tarvex.apparent() or tarvex.geometric('geocentric', 'equatorial')")
    return value


def check_step_days(parameter: str, value: Any) -> float | None:
    """None, or a positive finite number of days (not a bool)."""
    if value is None:
        return None
    if isinstance(value, (bool, np.bool_)) or not isinstance(value, (int, float, np.integer, np.floating)):
        raise TypeError(f"{parameter} must be a number of days or None, not {type(value).__name__}")
    step = float(value)
    if not (np.isfinite(step) and step > 0.0):
        raise ValueError(f"{parameter} must be a positive number of days, got {value!r}")
    return step


def as_days(parameter: str, value: Any) -> _FloatArray:
    """Julian days (or any real numbers) as float64, refusing what NumPy
    would read wrongly: masked arrays (the mask would be dropped), complex
    numbers (the imaginary part would be dropped), booleans and text."""
    if isinstance(value, np.ma.MaskedArray):
        raise TypeError(f"{parameter} must not be a masked array (its mask would be ignored); "
                        "pass .compressed() or .filled(value)")
    array = np.asarray(value)
    if array.dtype == np.bool_ or not (np.issubdtype(array.dtype, np.integer) or np.issubdtype(array.dtype, np.floating)):
        raise TypeError(f"{parameter} must be a real number or an array of real numbers, not {array.dtype}")
    return np.asarray(array, dtype=np.float64)


def check_sequence_of_aspects(parameter: str, value: Sequence[str | float] | None) -> Sequence[str | float] | None:
    if isinstance(value, str):
        raise TypeError(f"{parameter} must be a list of aspect names or angles, not a str; "
                        f"write {parameter}=[{shown(value)}]")
    return value
