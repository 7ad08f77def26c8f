"""Checks of the arguments of `Ephemeris` methods that the native code or
NumPy would otherwise take silently or answer with the wrong error: each
failure is a TypeError or ValueError that names the argument."""

from __future__ import annotations

import difflib
import math
import os
from collections.abc import Iterable, Sequence
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


# Site longitudes east of Greenwich, read either as -180..180 or 0..360.
SITE_LONGITUDE_RANGE_DEG = (-180.0, 360.0)
# The deepest point of the ocean floor lies about 11 km below sea level.
LOWEST_SITE_HEIGHT_M = -12_000.0


def check_site(parameter: str, value: Any) -> tarvex.GeodeticObserver:
    """A tarvex.GeodeticObserver on or near the Earth: finite fields, the
    longitude within SITE_LONGITUDE_RANGE_DEG and the height above
    LOWEST_SITE_HEIGHT_M (the strict type takes any finite longitude and
    a NaN one, whose first use says only that a state is not finite)."""
    if not isinstance(value, tarvex.GeodeticObserver):
        raise TypeError(f"{parameter} must be a tarvex.GeodeticObserver, not {type(value).__name__}; "
                        "make one with tarvex.GeodeticObserver(longitude_east_deg, latitude_deg, height_m)")
    low, high = SITE_LONGITUDE_RANGE_DEG
    longitude, latitude, height = value.longitude_east_deg, value.latitude_deg, value.height_m
    if not (math.isfinite(longitude) and low <= longitude <= high):
        raise ValueError(f"{parameter}: longitude_east_deg={longitude!r} must be a finite longitude east of "
                         f"Greenwich in degrees, from {low:g} to {high:g}")
    if not math.isfinite(latitude):
        raise ValueError(f"{parameter}: latitude_deg={latitude!r} must be finite, from -90 to 90 degrees")
    if not (math.isfinite(height) and height >= LOWEST_SITE_HEIGHT_M):
        raise ValueError(f"{parameter}: height_m={height!r} must be a finite height above the ellipsoid in "
                         f"metres, not below {LOWEST_SITE_HEIGHT_M:g} (the deepest ocean floor is about -11000)")
    return value


def check_options(parameter: str, value: Any) -> tarvex.PositionOptions | None:
    if value is not None and not isinstance(value, tarvex.PositionOptions):
        raise TypeError(f"{parameter} must be a tarvex.PositionOptions or None, not {type(value).__name__}; "
                        "for example tarvex.apparent() or tarvex.geometric('geocentric', 'equatorial')")
    return value


# The smallest sampling step of a search (one minute). The searches refine
# every bracket to well under a second, and no two events they look for
# fall within a minute of each other (the fastest longitude, the Moon's,
# moves about 0.01 degree in a minute), so a finer step finds nothing more
# and only costs time and memory (about 50 bytes per sample).
SMALLEST_STEP_DAYS = 1.0 / 1440.0


def check_step_days(parameter: str, value: Any) -> float | None:
    """None, or a finite number of days of at least SMALLEST_STEP_DAYS (not a bool)."""
    if value is None:
        return None
    if isinstance(value, (bool, np.bool_)) or not isinstance(value, (int, float, np.integer, np.floating)):
        raise TypeError(f"{parameter} must be a number of days or None, not {type(value).__name__}")
    step = float(value)
    if not (np.isfinite(step) and step > 0.0):
        raise ValueError(f"{parameter} must be a positive number of days, got {value!r}")
    if step < SMALLEST_STEP_DAYS:
        raise ValueError(f"{parameter}={value!r} is below the smallest step, {SMALLEST_STEP_DAYS!r} days (one "
                         "minute): every event found is refined to well under a second, and none lies within a "
                         "minute of another, so a finer step finds nothing more; leave step_days out for the default")
    return step


def check_paths(parameter: str, value: Any) -> list[str]:
    """A list of file paths: a single str, bytes or path is refused (a str
    would be read character by character)."""
    if isinstance(value, (str, bytes, os.PathLike)):
        raise TypeError(f"{parameter} must be a list of paths, not a single {type(value).__name__}; "
                        f"write {parameter}=[{shown(str(os.fsdecode(value)))}]")
    try:
        items = list(value)
    except TypeError:
        raise TypeError(f"{parameter} must be a list of paths, not {type(value).__name__}") from None
    paths = []
    for i, item in enumerate(items):
        if not isinstance(item, (str, os.PathLike)):
            raise TypeError(f"{parameter}[{i}] must be a path (str or os.PathLike), not {type(item).__name__}")
        paths.append(os.fspath(item))
    return [str(p) for p in paths]


def near_misses(name: str, known: Iterable[str]) -> str:
    """" (did you mean 'mars'?)" for the known names closest to `name`
    (difflib's ratio of at least 0.6), else an empty text."""
    close = difflib.get_close_matches(name[:LONGEST_NAME].strip().lower(), list(known), n=3)
    return f" (did you mean {' or '.join(map(repr, close))}?)" if close else ""


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
