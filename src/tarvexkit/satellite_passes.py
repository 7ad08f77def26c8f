"""Passes of an Earth satellite over a site: rise and set through an
altitude, the culmination between, the satellite's light and the site's
darkness, and the magnitude from a standard magnitude.

Rises and sets are every crossing of the satellite's geometric altitude
(`satellites.topocentric`) through the level, found by the kit's one
search core (`_native.find_crossings`, the quantity a Python callable):
sampled every `SATELLITE_STEPS_PER_REVOLUTION`-th of a revolution of the
element set's mean motion, every turn of the samples that may reach the
level located by Brent's method, the crossings refined by the Illinois
regula falsi to `TOLERANCE_DAYS`, with the core's rule for the ends of a
span (see `searches`). The culmination is the zero of the altitude's
central difference over +-`SATELLITE_DIFFERENCE_DAYS` between a rise and
its set, refined by the same core (`_native.refine_crossings`).

Light (see `satellites`): the shadow cone at rise, culmination and set,
and, for `visible`, at samples every `VISIBILITY_STEP_S` through the pass
with the Sun every `SUN_STEP_S` and linear between. The magnitude of a
diffusely reflecting sphere from the standard magnitude m_std (at 1000 km,
half lit, phase angle 90 degrees):

    m = m_std + 5 log10(range / 1000 km) - 2.5 log10(sin(phi) + (pi - phi) cos(phi))

(phi the phase angle at the satellite; the convention of McCants'
satellite magnitudes).
"""

from __future__ import annotations

import warnings
from dataclasses import dataclass

import numpy as np
import numpy.typing as npt

import tarvex

from . import _native
from .satellites import (Earth, Satellite, Satellites, StaleElementsWarning, _check_stale, _turns, site_itrs_km,
                         states, sunlight, topocentric)
from .times import Times

_FloatArray = npt.NDArray[np.float64]
_BoolArray = npt.NDArray[np.bool_]


@dataclass(frozen=True)
class Passes:
    """Passes of a satellite above an altitude, one row each, in time order.

    `rise`, `culmination`, `set` are TT `Times`, with the azimuths at rise
    and set and the altitude and azimuth at culmination (degrees). The
    flags are (passes, 3) arrays for rise, culmination and set: `sunlit`
    and `penumbra` (see `Sunlight`) and `site_dark` (the Sun's centre below
    the twilight altitude at the site). `visible`: at some instant of the
    pass (sampled every `VISIBILITY_STEP_S`) the satellite is sunlit while
    the site is dark. `magnitude` at culmination from a standard magnitude
    (NaN without one, or when not sunlit)."""

    rise: Times
    culmination: Times
    set: Times
    rise_azimuth_deg: _FloatArray
    culmination_altitude_deg: _FloatArray
    culmination_azimuth_deg: _FloatArray
    set_azimuth_deg: _FloatArray
    sunlit: _BoolArray
    penumbra: _BoolArray
    site_dark: _BoolArray
    visible: _BoolArray
    magnitude: _FloatArray

    def __len__(self) -> int:
        return len(self.culmination_altitude_deg)


def magnitude(standard: float, position_km: _FloatArray, site_km: _FloatArray, sun_km: _FloatArray) -> _FloatArray:
    """Magnitude from a standard magnitude (module text), GCRS positions (n, 3)."""
    to_site, to_sun = site_km - position_km, sun_km - position_km
    distance = np.linalg.norm(to_site, axis=-1)
    cosine = np.sum(to_site * to_sun, axis=-1) / (distance * np.linalg.norm(to_sun, axis=-1))
    phase = np.arccos(np.clip(cosine, -1.0, 1.0))
    with np.errstate(divide="ignore", invalid="ignore"):
        law = np.sin(phase) + (np.pi - phase) * np.cos(phase)
        return np.asarray(standard + 5.0 * np.log10(distance / 1000.0) - 2.5 * np.log10(law), dtype=np.float64)
# ------------------------------------------------------------------ passes

# Steps (seconds) of the samples that decide whether a pass is visible: of
# the satellite, and of the Sun (interpolated between).
VISIBILITY_STEP_S = 10.0
SUN_STEP_S = 120.0


def _as_one(sat: Satellite | Satellites, earth: Earth) -> Satellites:
    if isinstance(sat, Satellite):
        return Satellites([sat], earth)
    if isinstance(sat, Satellites) and len(sat) == 1:
        return sat.bind(earth)
    raise TypeError(f"passes take one Satellite (sats[0], sats['ISS (ZARYA)']), not {type(sat).__name__}"
                    + (f" of {len(sat)}" if isinstance(sat, Satellites) else ""))


def passes(sat: Satellite | Satellites, earth: Earth, site: tarvex.GeodeticObserver, begin_tt: float,
           end_tt: float, *, altitude_deg: float = 10.0, twilight_deg: float = -6.0,
           standard_magnitude: float | None = None) -> Passes:
    """Every pass whose rise, culmination and set all lie in [begin, end)
    (TT days): see `Ephemeris.passes`."""
    one = _as_one(sat, earth)
    if not isinstance(site, tarvex.GeodeticObserver):
        raise TypeError(f"expected a tarvex.GeodeticObserver site, got {type(site).__name__}")
    level = float(altitude_deg)
    if not -90.0 < level < 90.0:
        raise ValueError(f"altitude_deg must lie between -90 and 90, got {altitude_deg!r}")
    dark_level = float(twilight_deg)
    if not -90.0 <= dark_level <= 0.0:
        raise ValueError(f"twilight_deg must lie between -90 and 0 (the Sun's centre), got {twilight_deg!r}")
    item = one[0]
    revolutions = item.revolutions_per_day
    if not revolutions > 0.0:
        raise ValueError(f"{item!r} has no mean motion; it cannot pass")
    step = 1.0 / (revolutions * _native.SATELLITE_STEPS_PER_REVOLUTION)

    def altitude(tt: _FloatArray, _: _FloatArray) -> _FloatArray:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", StaleElementsWarning)
            found = topocentric(one, earth, site, np.ascontiguousarray(tt), "tt")
        # A failed propagation counts as below the horizon.
        return np.nan_to_num(found.altitude_deg[:, 0], nan=-90.0)

    _check_stale(one, earth.clock.convert(np.array([begin_tt, end_tt]), "tt", "utc"))
    span = np.array([begin_tt, end_tt, begin_tt - 2.0 * step, end_tt + 2.0 * step])
    crossings = _native.find_crossings(altitude, span, [level], step)
    rows: list[tuple[float, float]] = []
    for (when, up, _, _), following in zip(crossings[:-1], crossings[1:]):
        if up == 1.0 and following[1] == 0.0 and following[0] < end_tt:
            rows.append((when, following[0]))
    ends = np.array(rows, dtype=np.float64).reshape(-1, 2)
    # The culmination: where the altitude stops rising, the zero of its
    # central difference between rise and set, refined by the same core.
    d = _native.SATELLITE_DIFFERENCE_DAYS

    def rising(tt: _FloatArray, tags: _FloatArray) -> _FloatArray:
        values = altitude(np.concatenate([tt + d, tt - d]), tags)
        return values[:len(tt)] - values[len(tt):]

    tags = np.arange(len(ends), dtype=np.float64)
    top = (_native.refine_crossings(rising, ends[:, 0], ends[:, 1], rising(ends[:, 0], tags),
                                    rising(ends[:, 1], tags), tags) if len(ends) else np.empty(0))
    table = np.stack([ends[:, 0], top, ends[:, 1]], -1)
    return _describe(one, earth, site, table, dark_level, standard_magnitude)


def _describe(one: Satellites, earth: Earth, site: tarvex.GeodeticObserver, table: _FloatArray,
              dark_level: float, standard_magnitude: float | None) -> Passes:
    n = len(table)
    if n == 0:
        empty, flags = np.empty(0), np.zeros((0, 3), dtype=bool)
        none = Times(earth.clock, empty, "tt")
        return Passes(none, none, none, empty, empty, empty, empty, flags, flags, flags, np.zeros(0, dtype=bool), empty)
    tt = np.ascontiguousarray(table.reshape(-1))
    horizon = topocentric(one, earth, site, tt, "tt")
    gcrs = states(one, earth, tt, "tt", "gcrs").position_km[:, 0]
    sun = earth.sun_gcrs_km(tt)
    light = sunlight(gcrs[:, None, :], sun)
    dark = earth.sun_altitude_deg(site, tt) < dark_level
    # Visibility: the satellite every VISIBILITY_STEP_S across each pass,
    # the Sun every SUN_STEP_S and in between linearly (its altitude bends
    # by under 1e-4 degree in that time, its direction moves by 0.3"). The
    # shadow is the same in any frame: TEME, where SGP4 leaves the satellite.
    visible = np.zeros(n, dtype=bool)
    counts = np.maximum(2, np.ceil((table[:, 2] - table[:, 0]) * 86400.0 / VISIBILITY_STEP_S).astype(int) + 1)
    samples = np.concatenate([np.linspace(a, b, k) for (a, _, b), k in zip(table, counts)])
    coarse = np.concatenate([np.linspace(a, b, max(2, int(np.ceil((b - a) * 86400.0 / SUN_STEP_S)) + 1))
                             for a, _, b in table])
    to_gcrs = _turns(earth, coarse, "tt", True).gcrs
    assert to_gcrs is not None
    sun_teme = np.einsum("tji,tj->ti", to_gcrs, earth.sun_gcrs_km(coarse))
    sun_at = np.stack([np.interp(samples, coarse, column) for column in sun_teme.T], -1)
    lit = sunlight(states(one, earth, samples, "tt", "teme").position_km, sun_at).sunlit[:, 0]
    night = np.interp(samples, coarse, earth.sun_altitude_deg(site, coarse)) < dark_level
    np.logical_or.at(visible, np.repeat(np.arange(n), counts), lit & night)
    mag = np.full(n, np.nan)
    if standard_magnitude is not None:
        site_gcrs = _site_gcrs_km(earth, site, tt[1::3])
        mag = magnitude(float(standard_magnitude), gcrs[1::3], site_gcrs, sun[1::3])
        mag[~light.sunlit[1::3, 0]] = np.nan

    def times(k: int) -> Times:
        return Times(earth.clock, table[:, k], "tt")

    shaped = horizon.altitude_deg[:, 0].reshape(n, 3), horizon.azimuth_deg[:, 0].reshape(n, 3)
    return Passes(times(0), times(1), times(2), shaped[1][:, 0], shaped[0][:, 1], shaped[1][:, 1], shaped[1][:, 2],
                  light.sunlit[:, 0].reshape(n, 3), light.penumbra[:, 0].reshape(n, 3), dark.reshape(n, 3), visible,
                  mag)


def _site_gcrs_km(earth: Earth, site: tarvex.GeodeticObserver, tt: _FloatArray) -> _FloatArray:
    """The site's GCRS position (km), by the same ITRS -> GCRS rotation."""
    position, _ = site_itrs_km(site)
    table = earth.rotation.orientation(tt, "tt")
    return np.asarray(table[:, 4:].reshape(-1, 3, 3) @ position, dtype=np.float64)
