"""Messages that help: an unknown body name answered with the names
closest to it and where valid names come from."""

from __future__ import annotations

import contextlib
import re
from collections.abc import Iterator

from .arguments import SHOWN_CHARACTERS, near_misses, shown
from .lunar import LUNAR_POINTS

# Names a body is most often meant by; near misses are looked for among them.
COMMON_BODY_NAMES = (
    "sun", "moon", "earth", "mercury", "venus", "mars", "jupiter", "saturn", "uranus", "neptune", "pluto",
    "mercury barycenter", "venus barycenter", "earth barycenter", "mars barycenter", "jupiter barycenter",
    "saturn barycenter", "uranus barycenter", "neptune barycenter", "pluto barycenter",
    "solar system barycenter", "ceres", "pallas", "vesta", "juno", "chiron", "eris", "io", "europa",
    "ganymede", "callisto", "titan", "phobos", "deimos", "triton", "charon",
) + LUNAR_POINTS

WHERE_NAMES_COME_FROM = (
    "a body is a planet's name, 'sun', 'moon', 'earth', a name of NAIF's table of bodies "
    "(such as 'ceres', 'titan', 'jupiter barycenter') or a NAIF id (int, such as 2000001) "
    "that one of the kernels holds (ephemeris.files lists them; add kernels with additional_kernels=[...])"
)

_UNKNOWN_BODY = re.compile(r'unknown body "(.*)"', re.DOTALL)


def unknown_body_message(message: str) -> str | None:
    """The native "unknown body "x"" message with near misses and where
    names come from; None for any other message."""
    found = _UNKNOWN_BODY.fullmatch(message)
    if found is None:
        return None
    name = found.group(1)
    quoted = f'"{name}"' if len(name) <= SHOWN_CHARACTERS else shown(name)
    close = near_misses(name, COMMON_BODY_NAMES)
    if not close:  # a star's name, then; the names file is read on the first such miss only
        from .stars import star_names
        close = near_misses(name, [star.name.lower() for star in star_names()])
    return f"unknown body {quoted}{close}: {WHERE_NAMES_COME_FROM}, or a star's name"


@contextlib.contextmanager
def explained_bodies() -> Iterator[None]:
    """Re-raises the native "unknown body" ValueError with near misses and
    where valid names come from (other errors pass unchanged)."""
    try:
        yield
    except ValueError as error:
        better = unknown_body_message(str(error)) if type(error) is ValueError else None
        if better is None:
            raise
        raise ValueError(better) from None
